// The chunk table's windows: event data kept while keeping and as long as the budget grants it; bytes
// offered by readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "io/FileIO.h"
#include "reader/KVXAStreamFile.h"
#include "streams/CacheBudget.h"
#include "streams/KVXAChunkTable.h"
#include "tests/support/RecordingBuilder.h"

namespace {

TEST(ChunkTableKeep, SmallEventChunksBetweenLargeOnesComeWithTheHeads)
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

    // Without keeping nothing is kept; what is kept is handed out as often as asked for, and stays after
    // keeping ends while the cache budget grants it; with no budget it goes.
    const struct {
        bool keep;
        uint64_t budget;
    } cases[] = {{false, 64 << 20}, {true, 64 << 20}, {true, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "keep " << c.keep << ", budget " << c.budget);
        CCacheBudget& budget = CCacheBudget::Process();
        const uint64_t limit = budget.Limit();
        budget.SetLimit(c.budget);
        {
            CKVXAStreamFile file;
            ASSERT_EQ(file.OpenFile(path.c_str()), OK);
            CKVXAChunkTable* table = file.GetChunkTable();
            ASSERT_NE(table, nullptr);
            table->KeepWindowData(c.keep);
            table->ScanAll();
            for (std::size_t s = 0; s < 3; ++s) ASSERT_EQ(table->Known(s), 10u) << s;
            auto kept = [&](std::size_t s, std::size_t i, bool twice) {
                const KVXAChunkEntry e = table->At(s, i);
                std::vector<uint8_t> copy(e.size), stored(e.size);
                EXPECT_TRUE(kvd::ReadAt(file.GetFilePointer(), e.dataPosition, stored.data(), stored.size()));
                const bool found = table->CopyKept(e.dataPosition, e.size, copy.data());
                if (found) {
                    EXPECT_EQ(copy, stored) << s << " " << i;
                }
                if (twice) {
                    EXPECT_EQ(table->CopyKept(e.dataPosition, e.size, copy.data()), found) << "handed out again";
                }
                return found;
            };
            for (std::size_t s = 0; s < 3; ++s)
                for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(kept(s, i, true), c.keep && s == 2) << s << " " << i;
            table->KeepWindowData(false);
            for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(kept(2, i, false), c.keep && c.budget > 0) << i;
            EXPECT_EQ(budget.Used() > 0, c.keep && c.budget > 0);
        }
        EXPECT_EQ(budget.Used(), 0u) << "closing gives the kept bytes back";
        budget.SetLimit(limit);
    }
}

// Bytes offered at the next head serve as its window: the file's own bytes give the table it would have
// read; bytes that do not hold the next head whole, or lie after it, are not used.
TEST(ChunkTableOffer, OfferedBytesServeAsTheWindow)
{
    kvdtest::TempDir dir;
    kvdtest::RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(4), kvdtest::DigitalStream()};
    rec.stopTime = rec.startTime + 1000000000ULL;
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 2000}}, 200);
    const std::string path = rec.WriteTo(dir.Path("offer.kvd"));
    const std::vector<uint8_t> bytes = rec.Encode();
    const std::size_t first = rec.FirstChunkPosition();
    auto entries = [](CKVXAChunkTable& table) {
        table.ScanAll();
        std::vector<std::vector<uint64_t>> all;
        for (std::size_t s = 0; s < table.StreamCount(); ++s)
            for (std::size_t i = 0; i < table.Known(s); ++i) {
                const KVXAChunkEntry& e = table.At(s, i);
                all.push_back({s, e.dataPosition, e.size, e.from, e.to, e.samplesEnd});
            }
        return all;
    };
    CKVXAStreamFile plain;
    ASSERT_EQ(plain.OpenFile(path.c_str()), OK);
    const auto reference = entries(*plain.GetChunkTable());
    ASSERT_EQ(reference.size(), 20u);

    const struct {
        const char* name;
        std::size_t from, n;  // bytes [from, from + n) of the file are offered
        bool used;
    } cases[] = {{"the next head and what follows", first, 8192, true},
                 {"bytes from before the next head", first - 100, 400, true},
                 {"part of the next head", first, 20, false},
                 {"bytes after the next head", first + 1, 500, false}};
    for (const auto& c : cases) {
        for (const bool zeros : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (zeros ? ", zeros" : ", the file's bytes"));
            CKVXAStreamFile file;
            ASSERT_EQ(file.OpenFile(path.c_str()), OK);
            CKVXAChunkTable& table = *file.GetChunkTable();
            std::vector<uint8_t> offered(bytes.begin() + c.from, bytes.begin() + c.from + c.n);
            if (zeros) std::fill(offered.begin(), offered.end(), 0);
            table.Offer(c.from, offered.data(), offered.size());
            // Zeros taken for the next head end the chain there.
            EXPECT_EQ(entries(table), zeros && c.used ? decltype(reference){} : reference);
        }
    }
}
}  // namespace
