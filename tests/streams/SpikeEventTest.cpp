#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::SpikeRecord;

constexpr uint64_t kStart = kvdtest::kDefaultStart;

SpikeRecord Spike(uint64_t us, uint16_t channel, uint32_t pre, uint16_t unit, uint16_t hw, std::vector<int16_t> samples)
{
    SpikeRecord r;
    r.time = kStart + us * 1000;
    r.channel = channel;
    r.preEvent = pre;
    r.unitId = unit;
    r.hwId = hw;
    r.samples = std::move(samples);
    return r;
}

class SpikeEventTest : public ::testing::TestWithParam<uint16_t> {
protected:
    // Opens a recording whose spike stream (header version `h`) holds `chunks` of spike records.
    CKVXAStream& Open(uint16_t h, const std::vector<std::vector<SpikeRecord>>& chunks)
    {
        kvdtest::RecordingDesc rec;
        rec.streams = {kvdtest::SpikeStream(4, h)};
        uint64_t from = kStart;
        for (const auto& records : chunks) {
            rec.chunks.push_back({"spks0001", from, from + 1000000000ULL, kvdtest::EncodeSpikes(records, h), {}});
            from += 1000000000ULL;
        }
        EXPECT_EQ(m_file.OpenFile(rec.WriteTo(m_dir.Path("spikes.kvd")).c_str()), OK);
        return *m_file.GetStream(0);
    }

    kvdtest::TempDir m_dir;
    CKVXAStreamFile m_file;
};

// Fixed part length of a spike record by header version.
int32_t FixedLength(uint16_t h) { return h <= 4 ? 16 : h == 5 ? 18 : h <= 7 ? 20 : 22; }

TEST_P(SpikeEventTest, DecodesTheRecordLayoutOfItsHeaderVersion)
{
    const uint16_t h = GetParam();
    const std::vector<int16_t> cut = {-5, 0, 32767, -32768, 12};
    CKVXAStream& stream = Open(
        h, {{Spike(100, 3, 10, 2, 17, cut), Spike(250, 1, 70000, 5, 9, {7, 8})}, {Spike(1000100, 0, 4, 1, 33, {})}});
    std::unique_ptr<CKVXAEvent> cursor(stream.GetFirstEvent());
    ASSERT_TRUE(cursor);
    auto& spike = static_cast<CKVXAEvtSpike&>(*cursor);

    EXPECT_EQ(spike.GetRawTimeStamp(), kStart + 100000);
    EXPECT_EQ(spike.GetChannel(), 3);
    EXPECT_EQ(spike.GetPreEvent(), 10u);
    EXPECT_EQ(spike.GetUnitID(), h >= 5 ? 2 : 0);
    EXPECT_EQ(spike.GetHWID(), h >= 6 ? 17 : 0xFFFF);
    EXPECT_EQ(spike.GetCount(), 5);
    EXPECT_EQ(spike.GetSize(), 10);
    EXPECT_EQ(spike.Get_OffsetNext(), FixedLength(h) + 10);
    EXPECT_EQ(spike.GetADData(2), 32767);
    EXPECT_EQ(spike.GetADData(3), 0x8000);
    EXPECT_EQ(spike.GetADData(5), 0);
    EXPECT_EQ(spike.GetADData(-1), 0);
    std::vector<int16_t> samples(5);
    EXPECT_TRUE(spike.GetADDataArray(samples.data()));
    EXPECT_EQ(samples, cut);

    ASSERT_TRUE(spike.Next());
    EXPECT_EQ(spike.Get_Offset(), FixedLength(h) + 10);
    EXPECT_EQ(spike.GetRawTimeStamp(), kStart + 250000);
    EXPECT_EQ(spike.GetChannel(), 1);
    // The pre-event count is 32 bits wide from header version 8 on.
    EXPECT_EQ(spike.GetPreEvent(), h >= 8 ? 70000u : 70000u & 0xFFFF);
    EXPECT_EQ(spike.GetUnitID(), h >= 5 ? 5 : 0);
    EXPECT_EQ(spike.GetCount(), 2);

    // The next chunk: a record without samples.
    ASSERT_TRUE(spike.Next());
    EXPECT_EQ(spike.Get_Offset(), 0);
    EXPECT_EQ(spike.GetRawTimeStamp(), kStart + 1000100000);
    EXPECT_EQ(spike.GetCount(), 0);
    EXPECT_EQ(spike.GetADData(0), 0);
    EXPECT_EQ(spike.GetHWID(), h >= 6 ? 33 : 0xFFFF);
    EXPECT_FALSE(spike.Next());
}

INSTANTIATE_TEST_SUITE_P(HeaderVersions, SpikeEventTest, ::testing::Values(3, 4, 5, 6, 7, 8, 9));

TEST_F(SpikeEventTest, RecordsOfVersion8With32SamplesAre86Bytes)
{
    std::vector<int16_t> cut(32);
    for (int i = 0; i < 32; ++i) cut[i] = static_cast<int16_t>(i * 100 - 1600);
    CKVXAStream& stream = Open(8, {{Spike(1, 0, 8, 0, 0, cut), Spike(2, 1, 8, 0, 1, cut)}});
    std::unique_ptr<CKVXAEvent> cursor(stream.GetFirstEvent());
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->Get_OffsetNext(), 86);
    ASSERT_TRUE(cursor->Next());
    EXPECT_EQ(cursor->Get_Offset(), 86);
    EXPECT_EQ(cursor->Get_OffsetNext(), 172);
    EXPECT_EQ(static_cast<CKVXAEvtSpike&>(*cursor).GetADData(31), static_cast<uint16_t>(1500));
    EXPECT_FALSE(cursor->Next());
}

}  // namespace
