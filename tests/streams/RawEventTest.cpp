#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "streams/KVXAEvtRaw.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

constexpr uint64_t kStart = kvdtest::kDefaultStart;

// A recording with a 4-channel electrode stream (0) at `millisamples`, a digital stream (1) and a trigger
// stream (2) whose chunks lie between the others.
class RawEventTest : public ::testing::Test {
protected:
    RawEventTest()
    {
        m_rec.streams = {kvdtest::ElectrodeStream(4), kvdtest::DigitalStream(), kvdtest::TriggerStream()};
    }
    void SetRate(uint32_t millisamples)
    {
        m_rec.millisamplesPerSecond = static_cast<int32_t>(millisamples);
        for (auto& s : m_rec.streams) s.millisamplesPerSecond = millisamples;
    }
    CKVXAStream& Open()
    {
        EXPECT_EQ(m_file.OpenFile(m_rec.WriteTo(m_dir.Path("raw.kvd")).c_str()), OK);
        return *m_file.GetStream(0);
    }
    // (nanoseconds after the start, sample of channel 1) of every frame from `cursor` on; deletes it.
    static std::vector<std::pair<uint64_t, int16_t>> Walk(CKVXAEvent* cursor)
    {
        std::unique_ptr<CKVXAEvent> owned(cursor);
        std::vector<std::pair<uint64_t, int16_t>> frames;
        if (!cursor) return frames;
        auto& raw = static_cast<CKVXAEvtRaw&>(*cursor);
        do frames.emplace_back(raw.GetRawTimeStamp() - kStart, raw.GetADData(1));
        while (raw.Next());
        return frames;
    }
    static int16_t Word(int channel, uint64_t i) { return static_cast<int16_t>(kvdtest::SampleWord(0, channel, i)); }

    kvdtest::TempDir m_dir;
    kvdtest::RecordingDesc m_rec;
    CKVXAStreamFile m_file;
};

TEST_F(RawEventTest, WalksFramesAcrossChunksWithTimesFromTheFrameStep)
{
    // 4 channels at 10 kHz: 8-byte frames 100 us apart; chunks of 100 frames (800 bytes), the last of 50.
    SetRate(10000000);
    kvdtest::AddSampleChunks(m_rec, {0, 1}, {{kStart, 250}}, 100);
    CKVXAStream& stream = Open();
    std::unique_ptr<CKVXAEvent> cursor(stream.GetFirstEvent());
    ASSERT_TRUE(cursor);
    auto& raw = static_cast<CKVXAEvtRaw&>(*cursor);
    EXPECT_FALSE(raw.HasEventTimeData());
    EXPECT_EQ(raw.GetSize(), 8);
    EXPECT_EQ(raw.GetFrameStep(), 100000u);
    EXPECT_EQ(raw.Get_OffsetNext(), 8);
    ASSERT_TRUE(raw.Next());
    ASSERT_TRUE(raw.Next());
    EXPECT_EQ(raw.GetRawTimeStamp(), kStart + 200000);
    std::vector<int16_t> frame(4);
    EXPECT_TRUE(raw.GetADDataArray(frame.data()));
    EXPECT_EQ(frame, (std::vector<int16_t>{Word(0, 2), Word(1, 2), Word(2, 2), Word(3, 2)}));
    EXPECT_EQ(raw.GetADData(3), Word(3, 2));
    EXPECT_EQ(raw.GetADData(4), 0);
    EXPECT_EQ(raw.GetADData(-1), 0);

    // Frames carry no times of their own: shifting changes nothing.
    raw.ChangeTimestamp(12345);
    EXPECT_EQ(raw.GetADData(0), Word(0, 2));

    // The 101st step continues at the next chunk's from-time, in the same buffer.
    const uint8_t* buffer = raw.Get_pData();
    for (int i = 3; i < 100; ++i) ASSERT_TRUE(raw.Next());
    EXPECT_EQ(raw.Get_Offset(), 99 * 8);
    ASSERT_TRUE(raw.Next());
    EXPECT_EQ(raw.Get_Offset(), 0);
    EXPECT_EQ(raw.GetRawTimeStamp(), kStart + 100 * 100000ULL);
    EXPECT_EQ(raw.GetADData(1), Word(1, 100));
    EXPECT_EQ(raw.Get_pData(), buffer);

    const auto frames = Walk(stream.GetFirstEvent());
    ASSERT_EQ(frames.size(), 250u);
    for (uint64_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].first, i * 100000) << i;
        ASSERT_EQ(frames[i].second, Word(1, i)) << i;
    }
    // The digital stream walks with the same cursor.
    std::unique_ptr<CKVXAEvent> digital(m_file.GetStream(1)->GetFirstEvent());
    EXPECT_NE(dynamic_cast<CKVXAEvtRaw*>(digital.get()), nullptr);
}

TEST_F(RawEventTest, TheFrameStepIsTheSamplePeriodInWholeMicroseconds)
{
    SetRate(30000000);  // 30 kHz: 33 us, not 33.333
    kvdtest::AddSampleChunks(m_rec, {0}, {{kStart, 3}}, 100);
    const auto frames = Walk(Open().GetFirstEvent());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2].first, 66000u);
}

TEST_F(RawEventTest, SkipsChunksWithoutAWholeFrameAndIgnoresTrailingBytes)
{
    SetRate(10000000);
    kvdtest::AddSampleChunks(m_rec, {0}, {{kStart, 6}}, 2);
    // Chunk 0: 2 frames and 3 stray bytes; chunk 1: empty; chunk 2: 5 bytes; then a chunk of 2 frames.
    m_rec.chunks[0].data.resize(19, 0x7F);
    const std::vector<uint8_t> frames2 = m_rec.chunks[2].data;
    m_rec.chunks[1].data.clear();
    m_rec.chunks[2].data.resize(5);
    m_rec.chunks.push_back({"elec0001", kStart + 600000, kStart + 800000, frames2, {}});
    const auto frames = Walk(Open().GetFirstEvent());
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[1].first, 100000u);
    EXPECT_EQ(frames[2].first, 600000u);
    EXPECT_EQ(frames[3].second, Word(1, 5));
}

TEST_F(RawEventTest, AChunkBeyondTheEndOfTheFileEndsTheWalkWithoutData)
{
    SetRate(10000000);
    kvdtest::AddSampleChunks(m_rec, {0}, {{kStart, 4}}, 2);
    m_rec.chunks[1].size = 16 + 100000000;  // claims far more data than the file holds
    std::unique_ptr<CKVXAEvent> cursor(Open().GetFirstEvent());
    ASSERT_TRUE(cursor);
    ASSERT_TRUE(cursor->Next());
    EXPECT_FALSE(cursor->Next());
    EXPECT_EQ(cursor->Get_pData(), nullptr);
    EXPECT_FALSE(cursor->Next());
    EXPECT_EQ(static_cast<CKVXAEvtRaw&>(*cursor).GetADData(0), 0);
}

TEST_F(RawEventTest, EventNextToAndCountsWalkFrames)
{
    SetRate(10000000);
    kvdtest::AddSampleChunks(m_rec, {0}, {{kStart, 300}}, 100);
    CKVXAStream& stream = Open();
    CKVXATimeStamp t;
    t.SetStart(kStart);
    t.SetTimeStamp(kStart + 15050000);  // between frames 150 and 151
    std::unique_ptr<CKVXAEvent> cursor(stream.GetEventNextTo(&t));
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->GetRawTimeStamp(), kStart + 15100000);
    EXPECT_EQ(static_cast<CKVXAEvtRaw&>(*cursor).GetADData(2), Word(2, 151));

    CKVXATimeStamp to = t;
    to.SetTimeStamp(kStart + 25000000);
    int32_t count = 0;
    stream.EventCountFromTo(&t, &to, &count, 1);
    EXPECT_EQ(count, 250 - 151);
}

TEST_F(RawEventTest, CopiesKeepTheirOwnBuffer)
{
    SetRate(10000000);
    kvdtest::AddSampleChunks(m_rec, {0}, {{kStart, 20}}, 10);
    CKVXAStream& stream = Open();
    std::unique_ptr<CKVXAEvent> a(stream.GetFirstEvent()), b(stream.GetFirstEvent());
    ASSERT_TRUE(a && b);
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(a->Next());
    static_cast<CKVXAEvtRaw&>(*b) = static_cast<CKVXAEvtRaw&>(*a);
    EXPECT_NE(a->Get_pData(), b->Get_pData());
    EXPECT_EQ(b->Get_TimeStamp()->GetStart(), kStart);
    EXPECT_EQ(Walk(a.release()).size(), 11u);
    const auto rest = Walk(b.release());
    ASSERT_EQ(rest.size(), 11u);
    EXPECT_EQ(rest.back().second, Word(1, 19));
}

}  // namespace
