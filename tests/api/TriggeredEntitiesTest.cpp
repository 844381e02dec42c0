#include <gtest/gtest.h>

#include <memory>

#include "include/nsAPItypes.h"
#include "tests/api/NeuroshareTestSupport.h"
#include "tests/support/EveryKindRecording.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::NsFile;
using kvdtest::RecordingDesc;
using kvdtest::TriggeredRecording;

constexpr double kUnitsPerAD = 1.0 / 8192.0 * 1e-3;
constexpr uint64_t kSecond = 1000000000ULL;

double Volts(std::size_t stream, int channel, uint64_t index)
{
    return (static_cast<int>(kvdtest::SampleWord(stream, channel, index)) - 32768) * kUnitsPerAD;
}

TEST(TriggeredEntities, EveryChannelIsAnAnalogAndASegmentEntity)
{
    kvdtest::TempDir dir;
    NsFile f(TriggeredRecording({1000, 1000, 1000}), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    // 0 trigger; 1, 2 analog and 3, 4 segment (electrodes); 5 analog, 6 to 21 bits, 22 segment (digital).
    ASSERT_EQ(f.EntityCount(), 23u);
    const uint32_t types[] = {1, 2, 2, 3, 3, 2, 1, 1};
    for (uint32_t id = 0; id < 8; ++id) EXPECT_EQ(f.Entity(id).dwEntityType, types[id]) << id;
    EXPECT_EQ(f.Entity(22).dwEntityType, static_cast<uint32_t>(ns_ENTITY_SEGMENT));
    EXPECT_EQ(f.Entity(1).dwItemCount, 3000u);
    EXPECT_EQ(f.Entity(3).dwItemCount, 3u);

    ns_FILEINFO info;
    ASSERT_EQ(ns_GetFileInfo(f.Handle(), &info, sizeof info), ns_OK);
    EXPECT_STREQ(info.szFileType, "MEA trig Tr,El,Di");
    EXPECT_DOUBLE_EQ(info.dTimeSpan, 9.1);  // to the end of the last sweep

    ns_SEGMENTINFO segment;
    ASSERT_EQ(ns_GetSegmentInfo(f.Handle(), 3, &segment, sizeof segment), ns_OK);
    EXPECT_EQ(segment.dwSourceCount, 1u);
    EXPECT_EQ(segment.dwMinSampleCount, 1000u);
    EXPECT_EQ(segment.dwMaxSampleCount, 1000u);
    EXPECT_DOUBLE_EQ(segment.dSampleRate, 10000.0);
    EXPECT_STREQ(segment.szUnits, "V");
    ns_SEGSOURCEINFO source;
    ASSERT_EQ(ns_GetSegmentSourceInfo(f.Handle(), 3, 0, &source, sizeof source), ns_OK);
    EXPECT_DOUBLE_EQ(source.dResolution, kUnitsPerAD);
    EXPECT_EQ(ns_GetSegmentSourceInfo(f.Handle(), 3, 1, &source, sizeof source), ns_BADSOURCE);
    ASSERT_EQ(ns_GetSegmentInfo(f.Handle(), 22, &segment, sizeof segment), ns_OK);
    EXPECT_STREQ(segment.szUnits, "raw");
}

TEST(TriggeredEntities, AnalogRequestsSpanSweeps)
{
    kvdtest::TempDir dir;
    NsFile f(TriggeredRecording({1000, 1000, 1000}), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    uint32_t cont = 0;
    std::vector<double> v = f.Analog(2, 950, 1100, &cont);
    EXPECT_EQ(cont, 50u);  // only the rest of the first sweep lies contiguously in time
    for (uint32_t i = 0; i < 1100; ++i) ASSERT_EQ(v[i], Volts(1, 1, 950 + i)) << i;
    v = f.Analog(1, 1020, 20, &cont);
    EXPECT_EQ(cont, 20u);
    EXPECT_EQ(v[0], Volts(1, 0, 1020));
    EXPECT_EQ(ns_GetAnalogData(f.Handle(), 1, 2999, 2, nullptr, nullptr), ns_BADINDEX);

    // Times: the blocks start at each sweep's start.
    EXPECT_DOUBLE_EQ(f.TimeOf(1, 0), 1.0);
    EXPECT_DOUBLE_EQ(f.TimeOf(1, 1500), 5.05);
    EXPECT_DOUBLE_EQ(f.TimeOf(3, 2), 9.0);  // a segment entity: the sweep's start
    uint32_t index = 0;
    EXPECT_EQ(ns_GetIndexByTime(f.Handle(), 1, 5.05, ns_CLOSEST, &index), ns_OK);
    EXPECT_EQ(index, 1500u);
    // In the gap between two sweeps: the last item of the earlier or the first of the later sweep.
    EXPECT_EQ(ns_GetIndexByTime(f.Handle(), 1, 3.0, ns_BEFORE, &index), ns_OK);
    EXPECT_EQ(index, 999u);
    EXPECT_EQ(ns_GetIndexByTime(f.Handle(), 1, 3.0, ns_AFTER, &index), ns_BADINDEX);
    EXPECT_EQ(index, 1000u);
    EXPECT_EQ(ns_GetIndexByTime(f.Handle(), 1, 4.9, ns_CLOSEST, &index), ns_OK);
    EXPECT_EQ(index, 1000u);
}

TEST(TriggeredEntities, UnequalSweeps)
{
    kvdtest::TempDir dir;
    NsFile f(TriggeredRecording({1000, 900, 1000}), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    EXPECT_EQ(f.Entity(1).dwItemCount, 2900u);
    EXPECT_DOUBLE_EQ(f.TimeOf(1, 1500), 5.05);
    EXPECT_DOUBLE_EQ(f.TimeOf(1, 1950), 9.005);
    ns_SEGMENTINFO segment;
    ASSERT_EQ(ns_GetSegmentInfo(f.Handle(), 3, &segment, sizeof segment), ns_OK);
    EXPECT_EQ(segment.dwMinSampleCount, 900u);
    EXPECT_EQ(segment.dwMaxSampleCount, 1000u);
    uint32_t cont = 0;
    const std::vector<double> v = f.Analog(1, 1800, 200, &cont);
    EXPECT_EQ(cont, 100u);
    EXPECT_EQ(v[150], Volts(1, 0, 1950));
}

TEST(TriggeredEntities, SweepSegmentsAndDigitalBits)
{
    kvdtest::TempDir dir;
    NsFile f(TriggeredRecording({1000, 500}), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    const uint32_t h = f.Handle();
    std::vector<double> data(1000, -1.0);
    double t = 0;
    uint32_t count = 0, unit = 7;
    ASSERT_EQ(ns_GetSegmentData(h, 4, 1, &t, data.data(), 8 * 1000, &count, &unit), ns_OK);
    EXPECT_DOUBLE_EQ(t, 5.0);
    EXPECT_EQ(count, 500u);
    EXPECT_EQ(unit, 0u);
    EXPECT_EQ(data[499], Volts(1, 1, 1499));
    EXPECT_EQ(data[500], -1.0);
    // A small buffer receives what fits and still learns the item's length.
    data.assign(1000, -1.0);
    ASSERT_EQ(ns_GetSegmentData(h, 4, 0, nullptr, data.data(), 8 * 10, &count, nullptr), ns_OK);
    EXPECT_EQ(count, 1000u);
    EXPECT_EQ(data[9], Volts(1, 1, 9));
    EXPECT_EQ(data[10], -1.0);
    EXPECT_EQ(ns_GetSegmentData(h, 4, 2, nullptr, nullptr, 0, nullptr, nullptr), ns_BADINDEX);
    EXPECT_EQ(ns_GetSegmentData(h, 4, -1, nullptr, nullptr, 0, nullptr, nullptr), ns_BADINDEX);

    // Bit 0 of the digital channel: changes within each sweep; a sweep's first word is compared with nothing.
    const uint32_t bit0 = 6;
    std::vector<double> expected;
    const uint64_t starts[] = {0, 1000};
    const uint64_t lengths[] = {1000, 500};
    for (int k = 0; k < 2; ++k)
        for (uint64_t p = 1; p < lengths[k]; ++p) {
            const uint16_t before = kvdtest::SampleWord(2, 0, starts[k] + p - 1);
            const uint16_t now = kvdtest::SampleWord(2, 0, starts[k] + p);
            if ((before ^ now) & 1u) expected.push_back((k == 0 ? 1.0 : 5.0) + p / 10000.0);
        }
    ASSERT_EQ(f.Entity(bit0).dwItemCount, expected.size());
    for (uint32_t i = 0; i < expected.size(); i += 37) EXPECT_NEAR(f.TimeOf(bit0, i), expected[i], 1e-12) << i;
}

}  // namespace

namespace {

TEST(TriggeredEntities, ASweepListLongerThanTheFileAllocatesNothingForIt)
{
    // The stored sweep list says the second sweep lasts a day: its entities must not promise (nor make
    // the reader allocate for) more samples than the file can hold.
    RecordingDesc rec = TriggeredRecording({1000, 1000});
    rec.index->sweeps[1].second = rec.index->sweeps[1].first + 86400ULL * kSecond;
    kvdtest::TempDir dir;
    NsFile f(rec, dir);
    ASSERT_EQ(f.Result(), ns_OK);
    const uint64_t fileBytes = rec.Encode().size();
    EXPECT_LE(f.Entity(1).dwItemCount, fileBytes / 2);
    std::vector<double> data(1000);
    uint32_t count = 0;
    // The first sweep still reads whole; the damaged one cannot deliver what it claims.
    ASSERT_EQ(ns_GetSegmentData(f.Handle(), 3, 0, nullptr, data.data(), 8000, &count, nullptr), ns_OK);
    EXPECT_EQ(count, 1000u);
    EXPECT_EQ(ns_GetSegmentData(f.Handle(), 3, 1, nullptr, data.data(), 8000, &count, nullptr), ns_BADINDEX);
}

}  // namespace
