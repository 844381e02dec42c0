#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "io/ByteOrder.h"
#include "streams/KVXAChunk.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAEvtTrigger.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::ChunkDesc;
using kvdtest::SpikeRecord;
using kvdtest::TriggerRecord;

constexpr uint64_t kStart = kvdtest::kDefaultStart;
constexpr uint64_t kMs = 1000000ULL;

// A recording with an electrode stream (0), a trigger stream (1, header version 6) and a spike stream
// (2, header version 8); tests add the data chunks.
class EventCursorTest : public ::testing::Test {
protected:
    EventCursorTest()
    {
        m_rec.streams = {kvdtest::ElectrodeStream(2), kvdtest::TriggerStream("trig0001", 2),
                         kvdtest::SpikeStream(4, 8, "spks0001", 3)};
    }

    // A trigger chunk over [from, to) holding records at the given milliseconds after the start.
    static ChunkDesc Triggers(uint64_t fromMs, uint64_t toMs, const std::vector<uint64_t>& atMs)
    {
        std::vector<TriggerRecord> records;
        for (uint64_t ms : atMs) records.push_back({kStart + ms * kMs, static_cast<uint16_t>(ms), 0, 0, 0});
        return {"trig0001", kStart + fromMs * kMs, kStart + toMs * kMs, kvdtest::EncodeTriggers(records, 6), {}};
    }
    static ChunkDesc Spikes(uint64_t fromMs, uint64_t toMs, const std::vector<std::pair<uint64_t, uint16_t>>& at)
    {
        std::vector<SpikeRecord> records;
        for (const auto& a : at) {
            SpikeRecord r;
            r.time = kStart + a.first * kMs;
            r.channel = a.second;
            r.samples = {1, 2, 3};
            records.push_back(r);
        }
        return {"spks0001", kStart + fromMs * kMs, kStart + toMs * kMs, kvdtest::EncodeSpikes(records, 8), {}};
    }
    // Electrode data between the event chunks, so that the walks skip other streams' chunks.
    static ChunkDesc Electrode(uint64_t fromMs, uint64_t toMs)
    {
        return {"elec0001", kStart + fromMs * kMs, kStart + toMs * kMs, std::vector<uint8_t>(16, 0x11), {}};
    }

    CKVXAStream& Open()
    {
        m_path = m_rec.WriteTo(m_dir.Path("events.kvd"));
        EXPECT_EQ(m_file.OpenFile(m_path.c_str()), OK);
        return *m_file.GetStream(1);
    }
    CKVXAStream& Stream(int i) { return *m_file.GetStream(i); }

    static CKVXATimeStamp At(uint64_t ms)
    {
        CKVXATimeStamp t;
        t.SetStart(kStart);
        t.SetTimeStamp(kStart + ms * kMs);
        return t;
    }
    // Milliseconds after the start of every record from `cursor` on; deletes the cursor.
    static std::vector<uint64_t> Walk(CKVXAEvent* cursor)
    {
        std::unique_ptr<CKVXAEvent> owned(cursor);
        std::vector<uint64_t> times;
        if (!cursor) return times;
        do times.push_back((cursor->GetRawTimeStamp() - kStart) / kMs);
        while (cursor->Next());
        return times;
    }

    kvdtest::TempDir m_dir;
    kvdtest::RecordingDesc m_rec;
    std::string m_path;
    CKVXAStreamFile m_file;
};

TEST_F(EventCursorTest, WalksEveryRecordAcrossChunksAndSkipsEmptyOnes)
{
    m_rec.chunks = {Triggers(0, 100, {10, 20, 30}), Electrode(0, 100),  Triggers(100, 200, {}), Electrode(100, 200),
                    Triggers(200, 300, {210, 220}), Electrode(200, 300)};
    CKVXAStream& trig = Open();
    std::unique_ptr<CKVXAEvent> cursor(trig.GetFirstEvent());
    ASSERT_TRUE(cursor);
    EXPECT_TRUE(cursor->Get_DeepCopy());
    EXPECT_EQ(cursor->Get_TimeStamp()->GetStart(), kStart);
    std::vector<uint64_t> times;
    std::vector<uint16_t> values;
    do {
        times.push_back((cursor->GetRawTimeStamp() - kStart) / kMs);
        values.push_back(static_cast<CKVXAEvtTrigger&>(*cursor).GetADData());
    } while (cursor->Next());
    EXPECT_EQ(times, (std::vector<uint64_t>{10, 20, 30, 210, 220}));
    EXPECT_EQ(values, (std::vector<uint16_t>{10, 20, 30, 210, 220}));
    // Exhausted: no chunk, still describing the last record, and Next stays false.
    EXPECT_EQ(cursor->Get_Chunk(), nullptr);
    EXPECT_FALSE(cursor->Next());
    EXPECT_EQ(cursor->GetRawTimeStamp(), kStart + 220 * kMs);
    EXPECT_EQ(trig.GetNextEvent(cursor.get()), 0);
}

TEST_F(EventCursorTest, ChunksOfOneRecordAndLeadingEmptyChunks)
{
    m_rec.chunks = {Triggers(0, 10, {}), Triggers(10, 20, {}), Triggers(20, 30, {25}), Triggers(30, 40, {35}),
                    Triggers(40, 50, {})};
    Open();
    EXPECT_EQ(Walk(Stream(1).GetFirstEvent()), (std::vector<uint64_t>{25, 35}));
    // Streams without records or without a cursor class yield no cursor.
    EXPECT_EQ(Stream(2).GetFirstEvent(), nullptr);
    EXPECT_EQ(Stream(0).GetFirstEvent(), nullptr);
}

TEST_F(EventCursorTest, EventNextToFindsTheFirstRecordAtOrAfterATime)
{
    m_rec.chunks = {Triggers(0, 100, {10, 20, 30}), Electrode(0, 100), Triggers(100, 200, {}),
                    Triggers(200, 300, {210, 220})};
    CKVXAStream& trig = Open();
    const struct {
        uint64_t ms;
        std::vector<uint64_t> walk;
    } cases[] = {
        {0, {10, 20, 30, 210, 220}},
        {20, {20, 30, 210, 220}},
        {21, {30, 210, 220}},
        {31, {210, 220}},
        {150, {210, 220}},
        {215, {220}},
        {220, {220}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ms);
        const CKVXATimeStamp t = At(c.ms);
        EXPECT_EQ(Walk(trig.GetEventNextTo(&t)), c.walk);
    }
    // After the last record inside the last chunk: the cursor stays on the last record.
    const CKVXATimeStamp late = At(250);
    std::unique_ptr<CKVXAEvent> last(trig.GetEventNextTo(&late));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->GetRawTimeStamp(), kStart + 220 * kMs);
    // Beyond every chunk there is nothing.
    const CKVXATimeStamp beyond = At(400);
    EXPECT_EQ(trig.GetEventNextTo(&beyond), nullptr);
    EXPECT_EQ(trig.GetEventNextTo(nullptr), nullptr);
}

TEST_F(EventCursorTest, CountsRecordsPerSpikeChannelOrInTotal)
{
    m_rec.chunks = {Spikes(0, 100, {{5, 1}, {10, 0}, {20, 2}}), Triggers(0, 100, {10, 20, 30}),
                    Spikes(100, 200, {{120, 2}, {150, 3}, {199, 7}}), Triggers(100, 200, {150})};
    Open();
    const CKVXATimeStamp from = At(10), to = At(150);
    int32_t counters[4] = {0, 0, 0, 0};
    Stream(2).EventCountFromTo(&from, &to, counters, 4);
    EXPECT_EQ(counters[0], 1);
    EXPECT_EQ(counters[1], 0);
    EXPECT_EQ(counters[2], 2);
    EXPECT_EQ(counters[3], 0);
    // Counters add up; a channel beyond the array is not counted.
    const CKVXATimeStamp end = At(200);
    Stream(2).EventCountFromTo(&from, &end, counters, 4);
    EXPECT_EQ(counters[0], 2);
    EXPECT_EQ(counters[2], 4);
    EXPECT_EQ(counters[3], 1);

    int32_t total[1] = {0};
    Stream(1).EventCountFromTo(&from, &to, total, 1);
    EXPECT_EQ(total[0], 3);
    // A range after the last record counts nothing, although a cursor is found on the last record.
    const CKVXATimeStamp after = At(160), afterEnd = At(190);
    Stream(1).EventCountFromTo(&after, &afterEnd, total, 1);
    EXPECT_EQ(total[0], 3);
}

TEST_F(EventCursorTest, CopiesWalkOnIndependently)
{
    m_rec.chunks = {Triggers(0, 100, {10, 20}), Triggers(100, 200, {110, 120})};
    CKVXAStream& trig = Open();
    std::unique_ptr<CKVXAEvent> first(trig.GetFirstEvent());
    ASSERT_TRUE(first);
    auto& a = static_cast<CKVXAEvtTrigger&>(*first);
    ASSERT_TRUE(a.Next());

    std::unique_ptr<CKVXAEvent> second(trig.GetFirstEvent());
    auto& b = static_cast<CKVXAEvtTrigger&>(*second);
    b = a;
    EXPECT_EQ(b.GetRawTimeStamp(), kStart + 20 * kMs);
    EXPECT_EQ(b.GetADData(), 20);
    EXPECT_NE(b.Get_pData(), a.Get_pData());
    EXPECT_NE(b.Get_Chunk(), a.Get_Chunk());
    // Walk `a` to its end and release it; `b` still walks the rest of the stream.
    EXPECT_EQ(Walk(first.release()), (std::vector<uint64_t>{20, 110, 120}));
    EXPECT_EQ(Walk(second.release()), (std::vector<uint64_t>{20, 110, 120}));
}

TEST_F(EventCursorTest, InPlaceWalkShiftsEveryRecordTimeOfAClone)
{
    m_rec.chunks = {Spikes(0, 100, {{5, 1}, {10, 0}, {20, 2}})};
    Open();
    std::unique_ptr<CKVXAChunk> chunk(Stream(2).GetFirstChunk());
    ASSERT_TRUE(chunk);
    std::vector<char> data(static_cast<std::size_t>(chunk->GetSize()));
    ASSERT_EQ(chunk->ReadData(static_cast<void*>(data.data())), chunk->GetSize());

    // A cursor over a lent buffer steps in place: the current record is always at the data pointer.
    std::unique_ptr<CKVXAEvent> cursor(chunk->GetFirstEvent(data.data()));
    ASSERT_TRUE(cursor);
    EXPECT_FALSE(cursor->Get_DeepCopy());
    int records = 1;
    while (chunk->ReadNextEvent(cursor.get())) {
        ++records;
        EXPECT_EQ(cursor->Get_Offset(), 0);
    }
    EXPECT_EQ(records, 3);
    // A lent cursor does not walk into other chunks, and an owning cursor is not stepped in place.
    EXPECT_FALSE(cursor->Next());
    std::unique_ptr<CKVXAEvent> owning(Stream(2).GetFirstEvent());
    ASSERT_TRUE(owning);
    EXPECT_FALSE(chunk->ReadNextEvent(owning.get()));

    std::unique_ptr<CKVXAChunk> clone(chunk->Clone());
    ASSERT_TRUE(clone);
    clone->SetStream(&Stream(2));
    const std::string out = m_dir.Path("shifted.bin");
    FILE* f = std::fopen(out.c_str(), "wb+");
    ASSERT_TRUE(f);
    const uint64_t shift = 7 * kMs;
    EXPECT_EQ(clone->WriteChunk(f, shift), 0);
    std::vector<uint8_t> written(32 + data.size());
    std::rewind(f);
    ASSERT_EQ(std::fread(written.data(), 1, written.size(), f), written.size());
    std::fclose(f);
    // Spike records of header version 8 with 3 samples are 28 bytes long.
    const uint64_t expected[] = {5, 10, 20};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kvd::LoadU64(written.data() + 32 + 28 * i), kStart + expected[i] * kMs + shift) << i;
    EXPECT_EQ(kvd::LoadU64(written.data() + 16), kStart + shift);
}

// ---- Damaged chunks --------------------------------------------------------------------------------------

TEST_F(EventCursorTest, ARecordOverrunningItsChunkEndsThatChunk)
{
    ChunkDesc damaged = Spikes(100, 200, {{110, 1}, {120, 1}, {130, 1}});
    // The second record claims 1000 samples: it and everything after it in the chunk are dropped.
    kvd::StoreU32(damaged.data.data() + 28 + 18, 1000);
    ChunkDesc negative = Spikes(200, 300, {{210, 1}});
    kvd::StoreU32(negative.data.data() + 18, 0xFFFFFFFFu);
    ChunkDesc shortHead = Spikes(300, 400, {{310, 1}});
    shortHead.data.resize(20);  // less than a fixed part
    m_rec.chunks = {Spikes(0, 100, {{10, 1}}), damaged, negative, shortHead, Spikes(400, 500, {{410, 1}})};
    Open();
    EXPECT_EQ(Walk(Stream(2).GetFirstEvent()), (std::vector<uint64_t>{10, 110, 410}));
    const CKVXATimeStamp t = At(200);
    EXPECT_EQ(Walk(Stream(2).GetEventNextTo(&t)), (std::vector<uint64_t>{410}));
}

TEST_F(EventCursorTest, TrailingBytesShorterThanARecordAreIgnored)
{
    ChunkDesc partial = Triggers(0, 100, {10, 20, 30});
    partial.data.resize(partial.data.size() - 5);
    m_rec.chunks = {partial, Triggers(100, 200, {110})};
    Open();
    EXPECT_EQ(Walk(Stream(1).GetFirstEvent()), (std::vector<uint64_t>{10, 20, 110}));
}

TEST_F(EventCursorTest, AChunkBeyondTheEndOfTheFileYieldsNoCursor)
{
    ChunkDesc truncated = Triggers(100, 200, {110, 120});
    truncated.size = 16 + 1000000;  // claims far more data than the file holds
    m_rec.chunks = {Triggers(0, 100, {10}), truncated};
    Open();
    EXPECT_EQ(Walk(Stream(1).GetFirstEvent()), (std::vector<uint64_t>{10}));
    const CKVXATimeStamp t = At(100);
    EXPECT_EQ(Stream(1).GetEventNextTo(&t), nullptr);
}

}  // namespace
