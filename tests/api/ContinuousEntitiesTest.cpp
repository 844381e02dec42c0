#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "include/nsAPItypes.h"
#include "tests/api/NeuroshareTestSupport.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::NsFile;
using kvdtest::RecordingDesc;

constexpr double kUnitsPerAD = 1.0 / 8192.0 * 1e-3;

// A continuous recording at 10 kHz: an electrode stream of two channels with 1000 hashed samples each, and a
// digital channel whose words are given.
RecordingDesc WithDigitalWords(const std::vector<uint16_t>& words)
{
    RecordingDesc rec;
    rec.comment = "continuous test";
    rec.softwareWord1 = (4u << 16) | 1u;
    rec.softwareWord2 = (2u << 16) | 3u;
    rec.startTime = kvdtest::NsFromUnix(1152971130ULL) + 123000000ULL;  // 2006-07-15 13:45:30.123
    rec.stopTime = rec.startTime + 100999999ULL;  // the header's span decides the sample count: 1000
    rec.streams = {kvdtest::ElectrodeStream(2), kvdtest::DigitalStream()};
    for (auto& s : rec.streams) s.millisamplesPerSecond = 10000000;
    rec.millisamplesPerSecond = 10000000;
    rec.streams[0].channels[1].posX = 1500000;
    rec.streams[0].channels[1].lowF = 1500;
    rec.streams[0].channels[1].highF = 3000000;
    rec.streams[0].channels[1].name = "LongChannelName";
    rec.streams[0].channels[1].hwId = 12;
    kvdtest::AddSampleChunks(rec, {0}, {{rec.startTime, 1000}}, 320);
    kvdtest::ChunkDesc digital;
    digital.id = "digi0001";
    digital.from = rec.startTime;
    digital.to = rec.startTime + words.size() * 100000ULL;
    kvdtest::ByteWriter w;
    for (uint16_t word : words) w.U16(word);
    digital.data = w.Bytes();
    rec.chunks.push_back(digital);
    return rec;
}

class ContinuousTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<uint16_t> words(1000, 0x0003);
        words[0] = words[1] = 0x0001;                              // bit 0 already set: no event
        words[2] = 0x0003;                                         // bit 1 set at sample 2
        for (std::size_t i = 4; i < 1000; ++i) words[i] = 0x0002;  // bit 0 clear at sample 4
        words[999] = 0x8002;                                       // bit 15 set at the last sample
        m_file = std::make_unique<NsFile>(WithDigitalWords(words), m_dir);
        ASSERT_EQ(m_file->Result(), ns_OK);
    }
    kvdtest::TempDir m_dir;
    std::unique_ptr<NsFile> m_file;
};

TEST_F(ContinuousTest, FileInformation)
{
    ns_FILEINFO info;
    ASSERT_EQ(ns_GetFileInfo(m_file->Handle(), &info, sizeof info), ns_OK);
    EXPECT_STREQ(info.szFileType, "MEA cont El,Di");
    EXPECT_EQ(info.dwEntityCount, 19u);
    EXPECT_DOUBLE_EQ(info.dTimeStampResolution, 0.0001);
    EXPECT_DOUBLE_EQ(info.dTimeSpan, 0.1);  // whole milliseconds
    EXPECT_STREQ(info.szAppName, "Vantrel 4.1.2.3");
    EXPECT_EQ(info.dwTime_Year, 2006u);
    EXPECT_EQ(info.dwTime_Month, 7u);
    EXPECT_EQ(info.dwTime_Day, 15u);
    EXPECT_EQ(info.dwTime_DayofWeek, 0u);
    EXPECT_EQ(info.dwTime_Hour, 13u);
    EXPECT_EQ(info.dwTime_Min, 45u);
    EXPECT_EQ(info.dwTime_Sec, 30u);
    EXPECT_EQ(info.dwTime_MilliSec, 123u);
    EXPECT_STREQ(info.szFileComment, "continuous test");
}

TEST_F(ContinuousTest, EntitiesAndLabels)
{
    const ns_ENTITYINFO e1 = m_file->Entity(1);
    EXPECT_STREQ(e1.szEntityLabel, "elec0001 0012 0001 LongChan");
    EXPECT_EQ(e1.dwEntityType, static_cast<uint32_t>(ns_ENTITY_ANALOG));
    EXPECT_EQ(e1.dwItemCount, 1000u);
    EXPECT_STREQ(m_file->Entity(0).szEntityLabel, "elec0001 0000 0000       E1");
    const ns_ENTITYINFO digital = m_file->Entity(2);
    EXPECT_STREQ(digital.szEntityLabel, "digi0001 0060 0000       D1");
    EXPECT_EQ(digital.dwItemCount, 1000u);
    const ns_ENTITYINFO bit5 = m_file->Entity(3 + 5);
    EXPECT_STREQ(bit5.szEntityLabel, "digi0001 0060 0000       D1 05");
    EXPECT_EQ(bit5.dwEntityType, static_cast<uint32_t>(ns_ENTITY_EVENT));
}

TEST_F(ContinuousTest, AnalogInformationAndValues)
{
    ns_ANALOGINFO info;
    ASSERT_EQ(ns_GetAnalogInfo(m_file->Handle(), 1, &info, sizeof info), ns_OK);
    EXPECT_DOUBLE_EQ(info.dSampleRate, 10000.0);
    EXPECT_DOUBLE_EQ(info.dMinVal, -32768.0 * kUnitsPerAD);
    EXPECT_DOUBLE_EQ(info.dMaxVal, 32768.0 * kUnitsPerAD);
    EXPECT_DOUBLE_EQ(info.dResolution, kUnitsPerAD);
    EXPECT_STREQ(info.szUnits, "V");
    EXPECT_DOUBLE_EQ(info.dLocationX, 1.5);
    EXPECT_DOUBLE_EQ(info.dLowFreqCorner, 1.5);
    EXPECT_DOUBLE_EQ(info.dHighFreqCorner, 3000.0);

    uint32_t cont = 0;
    const std::vector<double> values = m_file->Analog(1, 300, 700, &cont);
    EXPECT_EQ(cont, 700u);
    for (uint32_t i = 0; i < 700; ++i) {
        const double expected = (static_cast<int>(kvdtest::SampleWord(0, 1, 300 + i)) - 32768) * kUnitsPerAD;
        ASSERT_EQ(values[i], expected) << i;
    }
    // The range must lie within the item count, without wrapping around.
    const uint32_t h = m_file->Handle();
    double one;
    EXPECT_EQ(ns_GetAnalogData(h, 1, 1000, 0, nullptr, nullptr), ns_OK);
    EXPECT_EQ(ns_GetAnalogData(h, 1, 999, 2, nullptr, &one), ns_BADINDEX);
    EXPECT_EQ(ns_GetAnalogData(h, 1, 0xFFFFFFFFu, 2, nullptr, &one), ns_BADINDEX);
    EXPECT_EQ(ns_GetAnalogData(h, 1, 2, 0xFFFFFFFFu, nullptr, &one), ns_BADINDEX);
    EXPECT_EQ(ns_GetAnalogData(h, 1, 0, 1000, nullptr, nullptr), ns_OK);
}

TEST_F(ContinuousTest, DigitalChannelAndItsBits)
{
    ns_ANALOGINFO info;
    ASSERT_EQ(ns_GetAnalogInfo(m_file->Handle(), 2, &info, sizeof info), ns_OK);
    EXPECT_STREQ(info.szUnits, "raw");
    EXPECT_EQ(info.dMinVal, 0.0);
    EXPECT_EQ(info.dMaxVal, 65536.0);
    EXPECT_EQ(m_file->Analog(2, 998, 2)[1], 32770.0);

    const uint32_t h = m_file->Handle();
    ns_EVENTINFO event;
    ASSERT_EQ(ns_GetEventInfo(h, 3, &event, sizeof event), ns_OK);
    EXPECT_EQ(event.dwEventType, static_cast<uint32_t>(ns_EVENT_BYTE));
    EXPECT_EQ(event.dwMinDataLength, 1u);
    EXPECT_EQ(event.dwMaxDataLength, 1u);
    EXPECT_STREQ(event.szCSVDesc, "");

    EXPECT_EQ(m_file->Entity(3).dwItemCount, 1u);      // bit 0: cleared at sample 4
    EXPECT_EQ(m_file->Entity(4).dwItemCount, 1u);      // bit 1: set at sample 2
    EXPECT_EQ(m_file->Entity(3 + 2).dwItemCount, 0u);  // bit 2 never changes
    EXPECT_EQ(m_file->Entity(3 + 15).dwItemCount, 1u);
    double t = -1;
    uint8_t sign = 0;
    uint32_t size = 0;
    ASSERT_EQ(ns_GetEventData(h, 3, 0, &t, &sign, 1, &size), ns_OK);
    EXPECT_DOUBLE_EQ(t, 0.0004);
    EXPECT_EQ(sign, 255);
    EXPECT_EQ(size, 1u);
    ASSERT_EQ(ns_GetEventData(h, 4, 0, &t, &sign, 1, &size), ns_OK);
    EXPECT_DOUBLE_EQ(t, 0.0002);
    EXPECT_EQ(sign, 1);
    ASSERT_EQ(ns_GetEventData(h, 18, 0, &t, nullptr, 0, &size), ns_OK);
    EXPECT_DOUBLE_EQ(t, 0.0999);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(ns_GetEventData(h, 5, 0, &t, &sign, 1, &size), ns_BADINDEX);
    EXPECT_EQ(ns_GetEventData(h, 3, 0, nullptr, nullptr, 0, nullptr), ns_OK);
}

TEST_F(ContinuousTest, IndexAndTimeConversion)
{
    const uint32_t h = m_file->Handle();
    EXPECT_DOUBLE_EQ(m_file->TimeOf(0, 250), 0.025);
    uint32_t index = 0;
    EXPECT_EQ(ns_GetIndexByTime(h, 0, 0.02504, ns_BEFORE, &index), ns_OK);
    EXPECT_EQ(index, 250u);
    EXPECT_EQ(ns_GetIndexByTime(h, 0, 0.02504, ns_AFTER, &index), ns_OK);
    EXPECT_EQ(index, 251u);
    EXPECT_EQ(ns_GetIndexByTime(h, 0, 0.02504, ns_CLOSEST, &index), ns_OK);
    EXPECT_EQ(index, 250u);
    EXPECT_EQ(ns_GetIndexByTime(h, 0, -0.5, ns_BEFORE, &index), ns_BADINDEX);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(ns_GetIndexByTime(h, 0, 0.1, ns_AFTER, &index), ns_OK);  // exactly at the block's end
    EXPECT_EQ(index, 1000u);
    EXPECT_EQ(ns_GetIndexByTime(h, 0, 0.5, ns_AFTER, &index), ns_BADINDEX);
    EXPECT_EQ(index, 999u);
    EXPECT_EQ(ns_GetTimeByIndex(h, 0, 1000, nullptr), ns_BADINDEX);

    // Events: between two events -1 gives the earlier and +1 the later one. Bit 0 and bit 1 have one
    // event each; bit 15 fires at 0.0999 s.
    EXPECT_DOUBLE_EQ(m_file->TimeOf(18, 0), 0.0999);
    EXPECT_EQ(ns_GetIndexByTime(h, 18, 0.05, ns_AFTER, &index), ns_BADINDEX);  // a positive time before it
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(ns_GetIndexByTime(h, 18, 0.0, ns_AFTER, &index), ns_OK);
    EXPECT_EQ(ns_GetIndexByTime(h, 18, 0.05, ns_BEFORE, &index), ns_OK);
    EXPECT_EQ(index, 0u);
}

}  // namespace

namespace {

TEST(OldRecordings, LegacyChunkIDsReadThroughTheInterface)
{
    // A version-4 file: no stored buffer IDs; the electrode stream's chunks are keyed "00001raw".
    RecordingDesc rec;
    rec.version = 4;
    rec.streams = {kvdtest::ElectrodeStream(3)};
    rec.streams[0].headerVersion = 3;
    rec.streams[0].millisamplesPerSecond = 10000000;
    rec.millisamplesPerSecond = 10000000;
    rec.stopTime = rec.startTime + 50 * 1000000ULL;
    kvdtest::AddSampleChunks(rec, {0}, {{rec.startTime, 500}}, 128);
    for (auto& c : rec.chunks) c.id = "00001RAW";  // matched without regard to case
    kvdtest::TempDir dir;
    NsFile f(rec, dir);
    ASSERT_EQ(f.Result(), ns_OK);
    ASSERT_EQ(f.EntityCount(), 3u);
    EXPECT_STREQ(f.Entity(2).szEntityLabel, "elec0001 0002 0002       E3");
    EXPECT_EQ(f.Entity(2).dwItemCount, 500u);
    const std::vector<double> v = f.Analog(2, 0, 500);
    for (uint32_t i = 0; i < 500; i += 7)
        ASSERT_EQ(v[i], (static_cast<int>(kvdtest::SampleWord(0, 2, i)) - 32768) * kUnitsPerAD) << i;
}

}  // namespace
