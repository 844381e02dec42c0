// The chunk table's kept window data: the bytes of the file, handed out once, only while keeping.
#include <gtest/gtest.h>

#include <vector>

#include "io/FileIO.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAChunkTable.h"
#include "tests/support/RecordingBuilder.h"

namespace {

TEST(ChunkTableKeep, SmallEventChunksBetweenLargeOnesComeWithTheHeadsOnce)
{
    kvdtest::TempDir dir;
    kvdtest::RecordingDesc rec;
    // Electrode chunks of 16 channels x 320 samples (10,240 bytes: larger than a window), each followed by
    // a digital chunk of 640 bytes and a trigger chunk of 64 bytes. Only event chunks are kept: the
    // digital samples are not read when a file is opened.
    rec.streams = {kvdtest::ElectrodeStream(16), kvdtest::DigitalStream(), kvdtest::TriggerStream()};
    rec.stopTime = rec.startTime + 1000000000ULL;
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 3200}}, 320);
    for (std::size_t i = 0; i < 10; ++i) {
        kvdtest::ChunkDesc trig;
        trig.id = "trig0001";
        trig.from = rec.chunks[3 * i].from;
        trig.to = rec.chunks[3 * i].to;
        trig.data.assign(64, static_cast<uint8_t>(i));
        rec.chunks.insert(rec.chunks.begin() + static_cast<std::ptrdiff_t>(3 * i + 2), trig);
    }
    const std::string path = rec.WriteTo(dir.Path("keep.kvd"));

    for (const bool keep : {false, true}) {
        CKVXAStreamFile file;
        ASSERT_EQ(file.OpenFile(path.c_str()), OK);
        CKVXAChunkTable* table = file.GetChunkTable();
        ASSERT_NE(table, nullptr);
        table->KeepWindowData(keep);
        table->ScanAll();
        for (std::size_t s = 0; s < 3; ++s) ASSERT_EQ(table->Known(s), 10u) << s;
        for (std::size_t s = 0; s < 3; ++s) {
            for (std::size_t i = 0; i < table->Known(s); ++i) {
                if (s == 2 && i == 9) continue;  // left kept for the end
                const KVXAChunkEntry e = table->At(s, i);
                std::vector<uint8_t> kept(e.size), stored(e.size);
                ASSERT_TRUE(kvd::ReadAt(file.GetFilePointer(), e.dataPosition, stored.data(), stored.size()));
                const bool event = s == 2;
                EXPECT_EQ(table->TakeKept(e.dataPosition, e.size, kept.data()), keep && event) << s << " " << i;
                if (keep && event) {
                    EXPECT_EQ(kept, stored) << "entry " << i;
                }
                EXPECT_FALSE(table->TakeKept(e.dataPosition, e.size, kept.data())) << "handed out once";
            }
        }
        // Ending drops what is still kept.
        table->KeepWindowData(false);
        const KVXAChunkEntry last = table->At(2, 9);
        std::vector<uint8_t> bytes(last.size);
        EXPECT_FALSE(table->TakeKept(last.dataPosition, last.size, bytes.data()));
    }
}

}  // namespace
