#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "settings/KVXAInfoParam.h"
#include "streams/KVXAEvtParam.h"
#include "streams/KVXAStream.h"
#include "tests/support/AnalyzerBlocks.h"
#include "tests/support/EventRecords.h"

namespace {

using kvdtest::ParamsRecord;

constexpr uint64_t kStart = kvdtest::kDefaultStart;
constexpr uint16_t kZero = 32768;

class ParamEventTest : public ::testing::Test {
protected:
    // A "params" stream of `channels` channels whose analyzer records Min, Max and Rate (12 bytes a channel);
    // one chunk per list of records.
    CKVXAStream* Open(int channels, const std::vector<std::vector<ParamsRecord>>& chunks,
                      const kvdtest::AnalyzerSettingsDesc& analyzer)
    {
        kvdtest::RecordingDesc rec;
        rec.streams = {kvdtest::ParamsStream(channels)};
        rec.streams[0].formatPrivate = analyzer.Encode(rec.streams[0].headerVersion);
        rec.streams[0].adZero = kZero;
        rec.streams[0].unitsPerAD = 1e-6;
        uint64_t from = kStart;
        for (const auto& records : chunks) {
            std::vector<uint8_t> data;
            for (const ParamsRecord& r : records) {
                const std::vector<uint8_t> one = r.Encode(analyzer);
                data.insert(data.end(), one.begin(), one.end());
            }
            rec.chunks.push_back({"para0001", from, from + 1000000000, data, {}});
            from += 1000000000;
        }
        EXPECT_EQ(m_file.OpenFile(rec.WriteTo(m_dir.Path("params.kvd")).c_str()), OK);
        return m_file.GetStream(0);
    }
    // Channel c of record k: Min 32768 - k - c, Max 32768 + k + c, Rate k + c / 10.
    static ParamsRecord Record(int channels, int k)
    {
        ParamsRecord r{kStart + static_cast<uint64_t>(k) * 1000000, {}};
        for (int c = 0; c < channels; ++c)
            r.channels.push_back({static_cast<uint64_t>(kZero - k - c), static_cast<uint64_t>(kZero + k + c),
                                  kvdtest::FloatBits(static_cast<float>(k) + c / 10.0f)});
        return r;
    }

    kvdtest::TempDir m_dir;
    CKVXAStreamFile m_file;
};

TEST_F(ParamEventTest, WalksRecordsOfAllChannelsAcrossChunks)
{
    const auto analyzer = kvdtest::RecordedParameters({kParamMin, kParamMax, kParamRate});
    CKVXAStream* stream = Open(60, {{Record(60, 0), Record(60, 1)}, {}, {Record(60, 2)}}, analyzer);
    std::unique_ptr<CKVXAEvent> cursor(stream->GetFirstEvent());
    ASSERT_TRUE(cursor);
    auto& param = static_cast<CKVXAEvtParam&>(*cursor);
    // 60 channels of 12 bytes: records of 8 + 720 bytes.
    EXPECT_EQ(param.GetSize(), 720);
    EXPECT_EQ(param.Get_OffsetNext(), 728);
    ASSERT_TRUE(param.Next());
    EXPECT_EQ(param.Get_Offset(), 728);
    EXPECT_FLOAT_EQ(param.GetMin(59), -60e-6f);
    EXPECT_FLOAT_EQ(param.GetMax(3), 4e-6f);
    EXPECT_FLOAT_EQ(param.GetRate(5), 1.5f);
    std::vector<float> values;
    ASSERT_TRUE(param.GetCArray(2, values));
    ASSERT_EQ(values.size(), 3u);
    EXPECT_FLOAT_EQ(values[0], -3e-6f);
    float array[3] = {};
    EXPECT_TRUE(param.GetDataArray(2, array));
    EXPECT_EQ(array[2], values[2]);
    // Parameters the analyzer does not record, and channels the stream does not have.
    EXPECT_EQ(param.GetHeight(0), CKVXAEvtParam::kNoValue);
    EXPECT_EQ(param.GetSlope(0), CKVXAEvtParam::kNoValue);
    EXPECT_EQ(param.GetMin(60), CKVXAEvtParam::kNoValue);
    EXPECT_EQ(param.GetMin(-1), CKVXAEvtParam::kNoValue);
    EXPECT_FALSE(param.GetCArray(60, values));

    ASSERT_TRUE(param.Next());
    EXPECT_EQ(param.GetRawTimeStamp(), kStart + 2000000);
    EXPECT_FLOAT_EQ(param.GetMax(0), 2e-6f);
    EXPECT_FALSE(param.Next());

    // A copy shares the block and walks on by itself.
    std::unique_ptr<CKVXAEvent> other(stream->GetFirstEvent());
    ASSERT_TRUE(other);
    static_cast<CKVXAEvtParam&>(*other) = param;
    EXPECT_EQ(static_cast<CKVXAEvtParam&>(*other).GetInfo(), param.GetInfo());
    EXPECT_FLOAT_EQ(static_cast<CKVXAEvtParam&>(*other).GetMax(0), 2e-6f);
}

TEST_F(ParamEventTest, NoCursorWithoutAUsableBlock)
{
    // A block that cannot be decoded.
    auto broken = kvdtest::RecordedParameters({kParamMin});
    broken.mode = 3;
    EXPECT_EQ(Open(2, {{Record(2, 0)}}, broken)->GetFirstEvent(), nullptr);
}

TEST_F(ParamEventTest, NoCursorWhenTheTableDoesNotFitTheRecord)
{
    // The positions give 4-byte channel blocks (Min only), the recorded flags select Min and Max.
    auto analyzer = kvdtest::RecordedParameters({kParamMin});
    analyzer.recorded[kParamMax] = 1;
    EXPECT_EQ(Open(2, {{Record(2, 0)}}, analyzer)->GetFirstEvent(), nullptr);
}

TEST_F(ParamEventTest, ATruncatedRecordEndsItsChunk)
{
    const auto analyzer = kvdtest::RecordedParameters({kParamMin, kParamMax, kParamRate});
    kvdtest::RecordingDesc rec;
    rec.streams = {kvdtest::ParamsStream(2)};
    rec.streams[0].formatPrivate = analyzer.Encode(5);
    std::vector<uint8_t> partial = Record(2, 0).Encode(analyzer);
    const std::vector<uint8_t> second = Record(2, 1).Encode(analyzer);
    partial.insert(partial.end(), second.begin(), second.end() - 1);
    rec.chunks = {{"para0001", kStart, kStart + 1, partial, {}},
                  {"para0001", kStart + 1, kStart + 2, Record(2, 2).Encode(analyzer), {}}};
    CKVXAStreamFile file;
    ASSERT_EQ(file.OpenFile(rec.WriteTo(m_dir.Path("partial.kvd")).c_str()), OK);
    std::unique_ptr<CKVXAEvent> cursor(file.GetStream(0)->GetFirstEvent());
    ASSERT_TRUE(cursor);
    ASSERT_TRUE(cursor->Next());
    EXPECT_EQ(cursor->GetRawTimeStamp(), kStart + 2000000);
    EXPECT_FALSE(cursor->Next());
}

}  // namespace
