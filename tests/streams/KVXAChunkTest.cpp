// Data chunks: the reader-wide and per-stream walks, first-chunk bookkeeping, clone and write.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "io/ByteOrder.h"
#include "streams/KVXAChunk.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::ChunkDesc;
using kvdtest::RecordingDesc;

constexpr uint64_t kMs = 1000000ULL;

ChunkDesc Chunk(const std::string& id, uint64_t from, uint64_t to, std::size_t bytes)
{
    ChunkDesc c;
    c.id = id;
    c.from = from;
    c.to = to;
    for (std::size_t i = 0; i < bytes; ++i) c.data.push_back(static_cast<uint8_t>(i * 7 + bytes));
    return c;
}

// Two streams, chunks interleaved: elec, digi, elec, digi, elec.
RecordingDesc Interleaved()
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(2), kvdtest::DigitalStream()};
    const uint64_t t = rec.startTime;
    rec.chunks = {Chunk("elec0001", t, t + 10 * kMs, 40), Chunk("digi0001", t, t + 10 * kMs, 20),
                  Chunk("elec0001", t + 10 * kMs, t + 20 * kMs, 40), Chunk("digi0001", t + 10 * kMs, t + 20 * kMs, 20),
                  Chunk("elec0001", t + 20 * kMs, t + 30 * kMs, 40)};
    return rec;
}

std::vector<uint8_t> ReadWhole(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
            bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(in);
    }
    return bytes;
}

// Ids of all chunks of a reader-wide walk.
std::vector<std::string> WalkAll(CKVXAStreamFile& f)
{
    std::vector<std::string> ids;
    std::unique_ptr<CKVXAChunk> chunk(f.GetFirstChunk());
    while (chunk) {
        ids.emplace_back(chunk->GetChunkID());
        CKVXAChunk* next = f.GetNextChunk(chunk.get());
        if (!next) break;
        chunk.release();
        chunk.reset(next);
    }
    return ids;
}

// Data positions of a stream's walk.
std::vector<uint64_t> WalkStream(CKVXAStream& s)
{
    std::vector<uint64_t> positions;
    std::unique_ptr<CKVXAChunk> chunk(s.GetFirstChunk());
    while (chunk) {
        positions.push_back(chunk->GetDataPosition());
        EXPECT_EQ(chunk->GetStream(), &s);
        CKVXAChunk* next = s.GetNextChunk(chunk.get());
        if (!next) break;
        chunk.release();
        chunk.reset(next);
    }
    return positions;
}

class ChunkTest : public ::testing::Test {
protected:
    std::string Write(const RecordingDesc& rec)
    {
        return rec.WriteTo(m_dir.Path("r" + std::to_string(m_n++) + ".kvd"));
    }
    kvdtest::TempDir m_dir;
    int m_n = 0;
};

TEST_F(ChunkTest, WalksAllChunksAndEachStreamsOwn)
{
    const RecordingDesc rec = Interleaved();
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    EXPECT_EQ(WalkAll(f), (std::vector<std::string>{"elec0001", "digi0001", "elec0001", "digi0001", "elec0001"}));

    std::unique_ptr<CKVXAChunk> first(f.GetFirstChunk());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetDataPosition(), rec.FirstChunkPosition() + 32);
    EXPECT_EQ(first->GetSize(), 40);
    EXPECT_EQ(first->GetStream(), nullptr);
    EXPECT_EQ(first->GetFrom(), rec.startTime);
    EXPECT_EQ(first->GetTimeStampFrom()->GetStart(), rec.startTime);
    EXPECT_EQ(first->GetFromHi(), static_cast<uint32_t>(rec.startTime >> 32));
    EXPECT_EQ(first->GetToLow(), static_cast<uint32_t>(rec.startTime + 10 * kMs));
    std::vector<uint8_t> data(40);
    ASSERT_EQ(first->ReadData(data.data()), 40);
    EXPECT_EQ(data, rec.chunks[0].data);

    EXPECT_EQ(WalkStream(*f.GetStream(0)),
              (std::vector<uint64_t>{rec.ChunkPosition(0) + 32, rec.ChunkPosition(2) + 32, rec.ChunkPosition(4) + 32}));
    EXPECT_EQ(WalkStream(*f.GetStream(1)),
              (std::vector<uint64_t>{rec.ChunkPosition(1) + 32, rec.ChunkPosition(3) + 32}));
}

TEST_F(ChunkTest, StreamsMatchChunkIdsWithoutRegardToCase)
{
    RecordingDesc rec = Interleaved();
    rec.chunks[2].id = "ELEC0001";
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    EXPECT_EQ(WalkStream(*f.GetStream(0)).size(), 3u);
    // The file-driven reader that skips other streams' chunks agrees.
    FILE* file = f.GetFilePointer();
    ASSERT_EQ(fseeko(file, static_cast<off_t>(rec.ChunkPosition(1)), SEEK_SET), 0);
    std::unique_ptr<CKVXAChunk> chunk(f.GetStream(0)->ReadChunkFrom(file));
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->GetDataPosition(), rec.ChunkPosition(2) + 32);
}

TEST_F(ChunkTest, TheReaderWideWalkEndsWhereTheIndexBegins)
{
    RecordingDesc rec = Interleaved();
    kvdtest::AttachIndex(rec);
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    ASSERT_EQ(f.GetWithIndex(), 1);
    EXPECT_EQ(f.GetIndexPosition(), rec.ChunkPosition(5));
    EXPECT_EQ(WalkAll(f).size(), 5u);
    // The stream walks skip the index chunks and end at the end of the file.
    EXPECT_EQ(WalkStream(*f.GetStream(0)).size(), 3u);
}

TEST_F(ChunkTest, NextChunkAtTheEndLeavesThePreviousChunkToTheCaller)
{
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(Interleaved()).c_str()), OK);
    CKVXAStream* s = f.GetStream(1);
    std::unique_ptr<CKVXAChunk> chunk(s->GetFirstChunk());
    CKVXAChunk* second = s->GetNextChunk(chunk.get());
    ASSERT_TRUE(second);
    chunk.release();
    chunk.reset(second);
    EXPECT_EQ(s->GetNextChunk(chunk.get()), nullptr);
    EXPECT_EQ(chunk->GetSize(), 20);  // still valid
    EXPECT_EQ(f.GetNextChunk(nullptr), nullptr);
}

TEST_F(ChunkTest, EmptyAndDamagedChunks)
{
    RecordingDesc rec = Interleaved();
    rec.chunks[1].data.clear();  // size field 16: no data
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    std::unique_ptr<CKVXAChunk> digital(f.GetStream(1)->GetFirstChunk());
    ASSERT_TRUE(digital);
    EXPECT_EQ(digital->GetSize(), 0);
    EXPECT_EQ(digital->GetFirstEvent(), nullptr);

    // A size below 16 ends the walks at that chunk; a size past the end of the file gives a chunk whose
    // data cannot be read.
    RecordingDesc bad = Interleaved();
    bad.chunks[2].size = 8;
    CKVXAStreamFile g;
    ASSERT_EQ(g.OpenFile(Write(bad).c_str()), OK);
    EXPECT_EQ(WalkAll(g).size(), 2u);
    EXPECT_EQ(WalkStream(*g.GetStream(0)).size(), 1u);

    RecordingDesc past = Interleaved();
    past.chunks[4].size = 16 + 4000;
    CKVXAStreamFile h;
    ASSERT_EQ(h.OpenFile(Write(past).c_str()), OK);
    std::unique_ptr<CKVXAChunk> chunk(h.GetStream(0)->GetFirstChunk());
    for (int i = 0; i < 2; ++i) {
        CKVXAChunk* next = h.GetStream(0)->GetNextChunk(chunk.get());
        ASSERT_TRUE(next);
        chunk.release();
        chunk.reset(next);
    }
    EXPECT_EQ(chunk->GetSize(), 4000);
    std::vector<uint8_t> data(4000);
    EXPECT_EQ(chunk->ReadData(data.data()), 0);
    EXPECT_EQ(chunk->Clone(), nullptr);
}

TEST_F(ChunkTest, WalksOfRecordingsCutAnywhereEndCleanly)
{
    const RecordingDesc rec = Interleaved();
    const std::vector<uint8_t> whole = rec.Encode();
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i <= rec.chunks.size(); ++i) {
        const std::size_t boundary = rec.ChunkPosition(i);
        for (std::size_t d : {0, 1, 8, 15, 16, 24, 31, 32, 33, 50})
            if (boundary + d <= whole.size()) cuts.push_back(boundary + d);
    }
    for (std::size_t cut : cuts) {
        const std::string path = m_dir.Path("cut.kvd");
        kvdtest::WriteFile(path, std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
        CKVXAStreamFile f;
        ASSERT_EQ(f.OpenFile(path.c_str()), OK) << cut;
        // A chunk is walked once its whole head is in the file.
        std::size_t heads = 0;
        while (heads < rec.chunks.size() && rec.ChunkPosition(heads) + 32 <= cut) ++heads;
        EXPECT_EQ(WalkAll(f).size(), heads) << cut;
        std::size_t elec = 0;
        for (std::size_t i = 0; i < heads; i += 2) ++elec;
        EXPECT_EQ(WalkStream(*f.GetStream(0)).size(), elec) << cut;
        EXPECT_GE(f.GetSweepCount(), heads ? 1 : 0);
    }
}

TEST_F(ChunkTest, TheFirstChunkOfAnOldFileCanMoveTheStartTime)
{
    for (uint16_t version : {2, 3}) {
        RecordingDesc rec = Interleaved();
        rec.version = version;
        rec.startPressed = rec.startTime + 5 * kMs;  // version 2 takes its start time from here
        rec.startTime = rec.startPressed;
        CKVXAStreamFile f;
        ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
        std::unique_ptr<CKVXAChunk> chunk(f.GetFirstChunk());
        ASSERT_TRUE(chunk);
        const uint64_t dataStart = rec.chunks[0].from;
        if (version == 2) {
            EXPECT_EQ(f.GetStartTime()->GetTimeStamp(), dataStart);
            EXPECT_EQ(f.GetStopTime()->GetStart(), dataStart);
            EXPECT_EQ(f.GetKVXHDR()->U64(KVXHDR::kStartTime), dataStart);
        } else {
            EXPECT_EQ(f.GetStartTime()->GetTimeStamp(), rec.startTime);
        }
        EXPECT_EQ(f.GetFirstChunkTime(), dataStart);
    }
}

TEST_F(ChunkTest, ClonesAreWrittenWithShiftedTimes)
{
    const RecordingDesc rec = Interleaved();
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    std::unique_ptr<CKVXAChunk> chunk(f.GetStream(0)->GetFirstChunk());
    std::unique_ptr<CKVXAChunk> clone(chunk->Clone());
    ASSERT_TRUE(clone);
    EXPECT_EQ(std::string(clone->GetChunkID()), "elec0001");
    EXPECT_EQ(clone->GetTimeStampFrom()->GetStart(), chunk->GetTimeStampFrom()->GetStart());
    EXPECT_EQ(chunk->WriteChunk(nullptr, 0), -1);  // only clones own their data

    const std::string out = m_dir.Path("out.bin");
    FILE* o = std::fopen(out.c_str(), "wb");
    ASSERT_EQ(clone->WriteChunk(o, 0), 0);
    ASSERT_EQ(clone->WriteChunk(o, 7 * kMs), 0);
    std::fclose(o);
    FILE* in = std::fopen(out.c_str(), "rb");
    std::vector<uint8_t> bytes(2 * 72);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), in), bytes.size());
    std::fclose(in);
    const std::vector<uint8_t> original = rec.chunks[0].Encode();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 72), original);
    // Raw-data chunks carry no record times: only the chunk's times move.
    std::vector<uint8_t> shifted(bytes.begin() + 72, bytes.end());
    EXPECT_EQ(kvd::LoadU64(shifted.data() + 16), rec.chunks[0].from + 7 * kMs);
    EXPECT_EQ(kvd::LoadU64(shifted.data() + 24), rec.chunks[0].to + 7 * kMs);
    EXPECT_TRUE(std::equal(shifted.begin() + 32, shifted.end(), original.begin() + 32));
}

TEST_F(ChunkTest, EveryWriteOfAClonedEventChunkMovesItsRecordTimesOnce)
{
    RecordingDesc rec;
    rec.streams = {kvdtest::TriggerStream()};
    const uint16_t h = rec.streams[0].headerVersion;
    const uint64_t t = rec.startTime;
    const std::vector<kvdtest::TriggerRecord> records = {{t + kMs, 5}, {t + 3 * kMs, 6}};
    rec.chunks = {{"trig0001", t, t + 10 * kMs, kvdtest::EncodeTriggers(records, h), {}}};
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    std::unique_ptr<CKVXAChunk> chunk(f.GetFirstChunk());
    ASSERT_TRUE(chunk);
    std::unique_ptr<CKVXAChunk> clone(chunk->Clone());
    ASSERT_TRUE(clone);
    clone->SetStream(f.GetStream(0));  // as the merge does: the cursor class comes from the stream

    // Each written image carries the original times moved by that call's shift, however often the same
    // clone is written and whatever shifts came before.
    for (uint64_t shift : {7 * kMs, 7 * kMs, uint64_t{0}, 3 * kMs}) {
        const std::string out = m_dir.Path("shifted.bin");
        FILE* o = std::fopen(out.c_str(), "wb");
        ASSERT_EQ(clone->WriteChunk(o, shift), 0);
        std::fclose(o);
        std::vector<kvdtest::TriggerRecord> moved = records;
        for (auto& r : moved) r.time += shift;
        const std::vector<uint8_t> expected =
            ChunkDesc{"trig0001", t + shift, t + 10 * kMs + shift, kvdtest::EncodeTriggers(moved, h), {}}.Encode();
        EXPECT_EQ(ReadWhole(out), expected) << shift;
    }
}

TEST(ChunkHeadTest, DecodesIdSizeAndTimesAndChecksTheSize)
{
    struct Case {
        std::size_t got;
        uint64_t sizeField;
        bool decoded, usable;
    };
    const Case cases[] = {
        {15, 16, false, false},  // not even id and size
        {16, 16, true, false},   // id and size, no times
        {31, 16, true, false},
        {32, 16, true, true},   // no data
        {32, 15, true, false},  // cannot hold the times
        {32, 16 + CKVXAChunk::kMaxDataSize, true, true},
        {32, 17 + CKVXAChunk::kMaxDataSize, true, false},  // more data than a chunk may hold
    };
    for (const Case& c : cases) {
        uint8_t bytes[32];
        std::memcpy(bytes, "elec0001", 8);
        kvd::StoreU64(bytes + 8, c.sizeField);
        kvd::StoreU64(bytes + 16, 111);
        kvd::StoreU64(bytes + 24, 222);
        KVXAChunkHead head;
        EXPECT_EQ(head.Decode(bytes, c.got), c.decoded) << c.got << " " << c.sizeField;
        EXPECT_EQ(head.Usable(), c.usable) << c.got << " " << c.sizeField;
        if (!c.usable) continue;
        EXPECT_EQ(std::string(head.id, 8), "elec0001");
        EXPECT_EQ(head.DataSize(), c.sizeField - 16);
        EXPECT_EQ(head.from, 111u);
        EXPECT_EQ(head.to, 222u);
    }
    KVXAChunkHead head;
    head.sizeField = 100;
    uint64_t next = 0;
    EXPECT_TRUE(head.NextPosition(1000, next));
    EXPECT_EQ(next, 1116u);
    head.sizeField = static_cast<uint64_t>(INT64_MAX) - 1016;
    EXPECT_TRUE(head.NextPosition(1000, next));
    head.sizeField += 1;  // the next chunk would lie beyond what a file can address
    EXPECT_FALSE(head.NextPosition(1000, next));
}

TEST_F(ChunkTest, LargeChunksAreNotCloned)
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(1)};
    rec.chunks = {Chunk("elec0001", rec.startTime, rec.startTime + kMs, 500000)};
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    std::unique_ptr<CKVXAChunk> chunk(f.GetFirstChunk());
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->Clone(), nullptr);
}

}  // namespace
