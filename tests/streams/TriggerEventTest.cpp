#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "streams/KVXAEvtTrigger.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::TriggerRecord;

constexpr uint64_t kStart = kvdtest::kDefaultStart;

class TriggerEventTest : public ::testing::TestWithParam<uint16_t> {
protected:
    CKVXAStream& Open(uint16_t h, const std::vector<std::vector<TriggerRecord>>& chunks)
    {
        kvdtest::RecordingDesc rec;
        kvdtest::StreamDesc trig = kvdtest::TriggerStream();
        trig.headerVersion = h;
        rec.streams = {trig};
        uint64_t from = kStart;
        for (const auto& records : chunks) {
            rec.chunks.push_back({"trig0001", from, from + 1000000000ULL, kvdtest::EncodeTriggers(records, h), {}});
            from += 1000000000ULL;
        }
        EXPECT_EQ(m_file.OpenFile(rec.WriteTo(m_dir.Path("trigger.kvd")).c_str()), OK);
        return *m_file.GetStream(0);
    }

    kvdtest::TempDir m_dir;
    CKVXAStreamFile m_file;
};

TEST_P(TriggerEventTest, DecodesTheFieldsItsHeaderVersionStores)
{
    const uint16_t h = GetParam();
    const int32_t length = h <= 4 ? 10 : h == 5 ? 14 : 22;
    CKVXAStream& stream =
        Open(h, {{{kStart + 5, 0xFFFF, 3, 11, 2}, {kStart + 9, 17, -4, 12, 1}}, {{kStart + 1000000001, 42, 7, 13, 3}}});
    std::unique_ptr<CKVXAEvent> cursor(stream.GetFirstEvent());
    ASSERT_TRUE(cursor);
    auto& trig = static_cast<CKVXAEvtTrigger&>(*cursor);
    EXPECT_EQ(trig.GetSize(), length - 8);
    EXPECT_EQ(trig.Get_OffsetNext(), length);
    EXPECT_EQ(trig.GetRawTimeStamp(), kStart + 5);
    EXPECT_EQ(trig.GetADData(), 0xFFFF);
    EXPECT_EQ(trig.GetManualTriggerCount(), h >= 5 ? 3 : 0);
    EXPECT_EQ(trig.GetTrialNumber(), h >= 6 ? 11 : 0);
    EXPECT_EQ(trig.GetStimulusNumber(), h >= 6 ? 2 : 0);

    ASSERT_TRUE(trig.Next());
    EXPECT_EQ(trig.Get_Offset(), length);
    EXPECT_EQ(trig.GetADData(), 17);
    EXPECT_EQ(trig.GetManualTriggerCount(), h >= 5 ? -4 : 0);
    EXPECT_EQ(trig.GetTrialNumber(), h >= 6 ? 12 : 0);

    ASSERT_TRUE(trig.Next());
    EXPECT_EQ(trig.GetRawTimeStamp(), kStart + 1000000001);
    EXPECT_EQ(trig.GetADData(), 42);
    EXPECT_EQ(trig.GetStimulusNumber(), h >= 6 ? 3 : 0);
    EXPECT_FALSE(trig.Next());
    // The exhausted cursor keeps the last record's fields.
    EXPECT_EQ(trig.GetADData(), 42);
}

INSTANTIATE_TEST_SUITE_P(HeaderVersions, TriggerEventTest, ::testing::Values(2, 4, 5, 6, 8));

TEST_F(TriggerEventTest, AChunkOf66BytesHoldsThreeVersion6Triggers)
{
    CKVXAStream& stream = Open(6, {{{kStart + 1, 1, 0, 0, 0}, {kStart + 2, 2, 0, 0, 0}, {kStart + 3, 3, 0, 0, 0}}});
    std::unique_ptr<CKVXAEvent> cursor(stream.GetFirstEvent());
    ASSERT_TRUE(cursor);
    EXPECT_EQ(cursor->Get_ChunkSize(), 66);
    int n = 1;
    while (cursor->Next()) ++n;
    EXPECT_EQ(n, 3);
}

}  // namespace
