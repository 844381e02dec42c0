// Cursors of averaged-sweep, spike-parameter and burst-parameter streams.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "io/ByteOrder.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAEvtBurstParameter.h"
#include "streams/KVXAEvtEvoked.h"
#include "streams/KVXAEvtSpikeParameter.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"
#include "tests/support/SettingsBlocks.h"

namespace {

using kvdtest::AverageRecord;
using kvdtest::BurstParameterRecord;
using kvdtest::SpikeParameterRecord;

constexpr uint64_t kStart = kvdtest::kDefaultStart;
constexpr uint64_t kSecond = 1000000000ULL;

class AnalyzerEventTest : public ::testing::Test {
protected:
    // Opens a recording (started at `start`) whose only stream is `stream`, with one chunk per element of
    // `chunks` (one second each), and returns a cursor on its first record.
    CKVXAEvent* Open(kvdtest::StreamDesc stream, const std::vector<std::vector<uint8_t>>& chunks,
                     uint64_t start = kStart)
    {
        kvdtest::RecordingDesc rec;
        rec.startTime = start;
        uint64_t from = kStart;
        for (const auto& data : chunks) {
            rec.chunks.push_back({stream.bufferId, from, from + kSecond, data, {}});
            from += kSecond;
        }
        rec.streams = {std::move(stream)};
        EXPECT_EQ(m_file.OpenFile(rec.WriteTo(m_dir.Path("events.kvd")).c_str()), OK);
        return m_file.GetStream(0)->GetFirstEvent();
    }

    kvdtest::TempDir m_dir;
    CKVXAStreamFile m_file;
};

AverageRecord Average(uint64_t ms, uint16_t channel, uint16_t hw, uint16_t windows, std::vector<int16_t> samples)
{
    return {kStart + ms * 1000000, channel, hw, windows, std::move(samples), {}};
}

TEST_F(AnalyzerEventTest, AveragedSweepsOfEveryHeaderVersion)
{
    std::vector<int16_t> long_(1000);
    for (int i = 0; i < 1000; ++i) long_[i] = static_cast<int16_t>(i * 7 - 3000);
    for (uint16_t h : {3, 4, 5, 8}) {
        SCOPED_TRACE(h);
        const int32_t fixed = h >= 5 ? 18 : 16;
        const std::vector<AverageRecord> first = {Average(10, 2, 17, 5, long_), Average(20, 3, 9, 1, {-1, 2})};
        kvdtest::StreamDesc stream = kvdtest::AverageStream(4);
        stream.headerVersion = h;
        std::unique_ptr<CKVXAEvent> cursor(
            Open(stream, {kvdtest::EncodeRecords(first, h),
                          kvdtest::EncodeRecords(std::vector<AverageRecord>{Average(1500, 1, 4, 2, {})}, h)}));
        ASSERT_TRUE(cursor);
        auto& avg = static_cast<CKVXAEvtAverage&>(*cursor);
        EXPECT_EQ(avg.GetRawTimeStamp(), kStart + 10000000);
        EXPECT_EQ(avg.GetChannel(), 2);
        EXPECT_EQ(avg.GetHWID(), h >= 5 ? 17 : 0xFFFF);
        EXPECT_EQ(avg.GetTimeWindowCount(), 5);
        EXPECT_EQ(avg.GetCount(), 1000);
        EXPECT_EQ(avg.GetSize(), 2000);
        // With H = 5 and 1000 samples a record is 2018 bytes.
        EXPECT_EQ(avg.Get_OffsetNext(), fixed + 2000);
        EXPECT_EQ(avg.GetADData(999), static_cast<uint16_t>(999 * 7 - 3000));
        EXPECT_EQ(avg.GetADData(-1), 0);
        EXPECT_EQ(avg.GetADData(1000), 0);
        std::vector<int16_t> samples(1000);
        EXPECT_TRUE(avg.GetADDataArray(samples.data()));
        EXPECT_EQ(samples, long_);

        ASSERT_TRUE(avg.Next());
        EXPECT_EQ(avg.Get_Offset(), fixed + 2000);
        EXPECT_EQ(avg.GetHWID(), h >= 5 ? 9 : 0xFFFF);
        EXPECT_EQ(avg.GetADData(0), 0xFFFF);
        ASSERT_TRUE(avg.Next());
        EXPECT_EQ(avg.Get_Offset(), 0);
        EXPECT_EQ(avg.GetRawTimeStamp(), kStart + 1500000000);
        EXPECT_EQ(avg.GetCount(), 0);
        EXPECT_FALSE(avg.Next());
        EXPECT_FALSE(avg.Next());
    }
}

TEST_F(AnalyzerEventTest, ASampleCountBeyondTheChunkEndsThatChunk)
{
    std::vector<uint8_t> damaged =
        kvdtest::EncodeRecords(std::vector<AverageRecord>{Average(10, 1, 1, 1, {1, 2}), Average(20, 1, 1, 1, {3})}, 5);
    kvd::StoreU32(damaged.data() + 22 + 14, 0x7FFFFFFF);  // the second record's count
    std::vector<uint8_t> huge = kvdtest::EncodeRecords(std::vector<AverageRecord>{Average(1010, 1, 1, 1, {4})}, 5);
    kvd::StoreU32(huge.data() + 14, 0xFFFFFFFF);
    const std::vector<uint8_t> good =
        kvdtest::EncodeRecords(std::vector<AverageRecord>{Average(2010, 1, 1, 1, {5})}, 5);
    kvdtest::StreamDesc stream = kvdtest::AverageStream(2);
    stream.headerVersion = 5;
    std::unique_ptr<CKVXAEvent> cursor(Open(stream, {damaged, huge, good}));
    ASSERT_TRUE(cursor);
    std::vector<uint64_t> ms;
    do ms.push_back((cursor->GetRawTimeStamp() - kStart) / 1000000);
    while (cursor->Next());
    EXPECT_EQ(ms, (std::vector<uint64_t>{10, 2010}));
}

TEST_F(AnalyzerEventTest, SpikeParameterRecordsOfBothLengths)
{
    for (uint16_t h : {1, 2}) {
        SCOPED_TRACE(h);
        const std::vector<SpikeParameterRecord> records = {
            {kStart + 5, 3, 21, 1, 25000000, 40.5f, kStart + 1500000123},
            {kStart + 9, 4, 22, 2, 7, 1.0f, kStart - 2000},
        };
        std::unique_ptr<CKVXAEvent> cursor(
            Open(kvdtest::SpikeParameterStream(4, h), {kvdtest::EncodeRecords(records, h)}));
        ASSERT_TRUE(cursor);
        auto& spp = static_cast<CKVXAEvtSpikeParameter&>(*cursor);
        EXPECT_EQ(spp.Get_OffsetNext(), h >= 2 ? 34 : 26);
        EXPECT_EQ(spp.GetChannel(), 3);
        EXPECT_EQ(spp.GetHWID(), 21);
        EXPECT_EQ(spp.GetUnitId(), 1);
        EXPECT_EQ(spp.Parameter(0), 25000000.0f);
        EXPECT_EQ(spp.Parameter(1), 40.5f);
        // The time since the start is exact to f32 precision of the difference, whatever the start.
        EXPECT_EQ(spp.Parameter(2), h >= 2 ? 1500000123.0f : CKVXAEvtSpikeParameter::kNoValue);
        EXPECT_EQ(spp.Parameter(3), CKVXAEvtSpikeParameter::kNoValue);
        ASSERT_TRUE(spp.Next());
        EXPECT_EQ(spp.Get_Offset(), h >= 2 ? 34 : 26);
        EXPECT_EQ(spp.GetRawTimeStamp(), kStart + 9);
        EXPECT_EQ(spp.Parameter(2), h >= 2 ? -2000.0f : CKVXAEvtSpikeParameter::kNoValue);
        EXPECT_FALSE(spp.Next());
    }
}

// The time since the start is the exact signed difference rounded once, also where it does not fit an i64.
TEST_F(AnalyzerEventTest, SpikeTimeSinceTheStartOfAnySize)
{
    const struct {
        uint64_t start, stored;
        float expected;
    } cases[] = {
        {kStart, 1000000000, -1.34179539e19f},  // 1601 plus a second, with a start in 2026
        {1000, UINT64_MAX, 1.84467441e19f},
        {kStart, kStart - (1ULL << 40) - 1, -1099511627776.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        const std::vector<SpikeParameterRecord> records = {{kStart + 5, 3, 21, 1, 0, 0.0f, c.stored}};
        std::unique_ptr<CKVXAEvent> cursor(
            Open(kvdtest::SpikeParameterStream(4, 2), {kvdtest::EncodeRecords(records, 2)}, c.start));
        ASSERT_TRUE(cursor);
        EXPECT_EQ(static_cast<CKVXAEvtSpikeParameter&>(*cursor).Parameter(2), c.expected);
    }
}

TEST_F(AnalyzerEventTest, BurstParameterRecords)
{
    const std::vector<BurstParameterRecord> records = {
        {kStart + 100, 1, 11, 0, kStart + 50, 3, 7, 125.25f},
        {kStart + 200, 2, 12, 3, kStart + 150, 0, -1, 0.0f},
    };
    std::vector<uint8_t> bytes = kvdtest::EncodeRecords(records, 2);
    ASSERT_EQ(bytes.size(), 76u);
    bytes.resize(bytes.size() + 20);  // trailing bytes too few for a record
    std::unique_ptr<CKVXAEvent> cursor(Open(kvdtest::BurstParameterStream(4), {bytes}));
    ASSERT_TRUE(cursor);
    auto& bsp = static_cast<CKVXAEvtBurstParameter&>(*cursor);
    EXPECT_EQ(bsp.Get_OffsetNext(), 38);
    EXPECT_EQ(bsp.GetChannel(), 1);
    EXPECT_EQ(bsp.GetHWID(), 11);
    EXPECT_EQ(bsp.GetTimestampOfBurst(), kStart + 50);
    EXPECT_EQ(bsp.Parameter(0), 3.0f);
    EXPECT_EQ(bsp.Parameter(1), 125.25f);
    EXPECT_EQ(bsp.Parameter(2), 7.0f);
    EXPECT_EQ(bsp.Parameter(3), CKVXAEvtBurstParameter::kNoValue);
    ASSERT_TRUE(bsp.Next());
    EXPECT_EQ(bsp.GetUnitId(), 3);
    EXPECT_EQ(bsp.Parameter(2), -1.0f);
    EXPECT_FALSE(bsp.Next());
}

}  // namespace
