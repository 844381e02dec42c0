// The chunk table's kept window data: the bytes of the file, handed out once, only while keeping.
#include <gtest/gtest.h>

#include <vector>

#include "io/FileIO.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAChunkTable.h"
#include "tests/support/RecordingBuilder.h"

namespace {

TEST(ChunkTableKeep, SmallChunksBetweenLargeOnesComeWithTheHeadsOnce)
{
    kvdtest::TempDir dir;
    kvdtest::RecordingDesc rec;
    // Electrode chunks of 16 channels x 320 samples (10,240 bytes: larger than a window) alternate with
    // digital chunks of 640 bytes.
    rec.streams = {kvdtest::ElectrodeStream(16), kvdtest::DigitalStream()};
    rec.stopTime = rec.startTime + 1000000000ULL;
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 3200}}, 320);
    const std::string path = rec.WriteTo(dir.Path("keep.kvd"));

    for (const bool keep : {false, true}) {
        CKVXAStreamFile file;
        ASSERT_EQ(file.OpenFile(path.c_str()), OK);
        CKVXAChunkTable* table = file.GetChunkTable();
        ASSERT_NE(table, nullptr);
        table->KeepWindowData(keep);
        table->ScanAll();
        ASSERT_EQ(table->Known(0), 10u);
        ASSERT_EQ(table->Known(1), 10u);
        for (std::size_t s = 0; s < 2; ++s) {
            for (std::size_t i = 0; i < table->Known(s); ++i) {
                if (s == 1 && i == 9) continue;  // left kept for the end
                const KVXAChunkEntry e = table->At(s, i);
                std::vector<uint8_t> kept(e.size), stored(e.size);
                ASSERT_TRUE(kvd::ReadAt(file.GetFilePointer(), e.dataPosition, stored.data(), stored.size()));
                const bool small = s == 1;
                EXPECT_EQ(table->TakeKept(e.dataPosition, e.size, kept.data()), keep && small) << s << " " << i;
                if (keep && small) {
                    EXPECT_EQ(kept, stored) << "entry " << i;
                }
                EXPECT_FALSE(table->TakeKept(e.dataPosition, e.size, kept.data())) << "handed out once";
            }
        }
        // Ending drops what is still kept.
        table->KeepWindowData(false);
        const KVXAChunkEntry last = table->At(1, 9);
        std::vector<uint8_t> bytes(last.size);
        EXPECT_FALSE(table->TakeKept(last.dataPosition, last.size, bytes.data()));
    }
}

}  // namespace
