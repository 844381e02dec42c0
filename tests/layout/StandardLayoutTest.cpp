#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <tuple>

#include "layout/KVLayout.h"
#include "tests/support/RecordingBuilder.h"

namespace {

std::tuple<int32_t, int32_t, int32_t> Point(const CKVLayout& l, int i)
{
    int32_t x, y, z;
    l.GetElectrodePoint(i, x, y, z);
    return {x, y, z};
}

std::pair<int32_t, int32_t> Display(const CKVLayout& l, int i)
{
    int32_t x, y;
    l.GetElectrodeDisplayPoint(i, x, y);
    return {x, y};
}

// Values every standard record shares.
void ExpectCommon(const CKVLayout& l, int i)
{
    SCOPED_TRACE(i);
    const CKVLayout::CChannelLayout rec = l.GetChannelLayout(i);
    EXPECT_EQ(rec.GetHWID(), i);
    EXPECT_EQ(rec.GetMapHWID(), i);
    EXPECT_EQ(rec.GetElectrodeType(), 1);
    EXPECT_EQ(rec.GetPosZ(), 0);
    EXPECT_EQ(rec.GetExtendX(), 1000);
    EXPECT_EQ(rec.GetExtendZ(), 1000);
    EXPECT_EQ(rec.GetDisplayExtendX(), 100);
    EXPECT_EQ(rec.GetDisplayExtendY(), 100);
    EXPECT_EQ(rec.GetLowF(), 0);
    EXPECT_EQ(rec.GetHighF(), 50000000);
    EXPECT_STREQ(rec.GetAmplifierName(), "");
    EXPECT_EQ(rec.GetMeaNumber() >= 0, true);
    EXPECT_STREQ(rec.GetThirdName(), rec.GetElectrodeName());
    EXPECT_EQ(rec.GetGain(), rec.GetMeaSubType() == MEA_ELECTRODE ? 1000 : 1);
}

TEST(StandardLayout, SixtyElectrodeArray)
{
    CKVLayout l;
    l.InitLayoutIfNeeded(MEA_60, 64, 60, 3, 1, false);
    ASSERT_EQ(l.GetCount(), 64);
    EXPECT_EQ(l.GetSourceType(), MEA_60);
    for (int i = 0; i < 64; ++i) ExpectCommon(l, i);

    EXPECT_EQ(l.GetElectrodeName(0), "47");
    EXPECT_EQ(Point(l, 0), std::make_tuple(3000, 6000, 0));
    EXPECT_EQ(Display(l, 0), std::make_pair(300, 600));
    EXPECT_EQ(l.GetMeaName(0), "Orbel");
    EXPECT_EQ(l.GetGain(0), 1000);
    EXPECT_EQ(l.GetMeaSubType(0), MEA_ELECTRODE);
    EXPECT_EQ(l.GetElectrodeName(9), "17");
    EXPECT_EQ(Point(l, 9), std::make_tuple(0, 6000, 0));
    EXPECT_EQ(l.GetElectrodeName(59), "57");
    EXPECT_EQ(l.GetDecoratedElectrodeName(59), "57");

    EXPECT_EQ(l.GetElectrodeName(61), "A2");
    EXPECT_EQ(Display(l, 61), std::make_pair(100, 0));
    EXPECT_EQ(Point(l, 61), std::make_tuple(1, 0, 0));
    EXPECT_EQ(l.GetGain(61), 1);
    EXPECT_EQ(l.GetMeaSubType(61), MEA_ANALOG);
    EXPECT_EQ(l.GetMeaName(61), "");
    EXPECT_EQ(l.GetElectrodeName(63), "D1");
    EXPECT_EQ(l.GetMeaSubType(63), MEA_DIGITAL);
    EXPECT_EQ(Point(l, 63), std::make_tuple(0, 0, 0));

    // Every electrode of the 8 x 8 grid but the corners, once.
    std::set<std::pair<int32_t, int32_t>> cells;
    for (int i = 0; i < 60; ++i) cells.insert(Display(l, i));
    EXPECT_EQ(cells.size(), 60u);
    for (auto corner : {std::make_pair(0, 0), std::make_pair(700, 0), std::make_pair(0, 700), std::make_pair(700, 700)})
        EXPECT_EQ(cells.count(corner), 0u);
    EXPECT_EQ(l.GetMEAIndices(), std::vector<int32_t>{0});
    int32_t x, y;
    l.GetMaxChannelPos(0, MEA_ELECTRODE, x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(7000, 7000));
}

TEST(StandardLayout, SixtyElectrodeArrayWithFewerChannels)
{
    CKVLayout l;
    l.InitLayoutIfNeeded(MEA_60, 61, 60, 0, 1, false);
    ASSERT_EQ(l.GetCount(), 61);
    EXPECT_EQ(l.GetElectrodeName(60), "A1");
    EXPECT_EQ(l.GetElectrodeName(61), "");

    // Channels beyond the array's 64 keep default records.
    l.InitLayoutIfNeeded(MEA_60, 70, 60, 3, 1, false);
    EXPECT_EQ(l.GetElectrodeName(63), "D1");
    EXPECT_EQ(l.GetMeaSubType(65), -1);
    EXPECT_EQ(l.GetMeaNumber(65), -1);
}

TEST(StandardLayout, DoubleArray)
{
    CKVLayout l;
    l.InitLayoutIfNeeded(MEA_DUAL, 128, 120, 7, 1, false);
    ASSERT_EQ(l.GetCount(), 128);
    for (int i = 0; i < 128; ++i) ExpectCommon(l, i);

    EXPECT_EQ(l.GetDecoratedElectrodeName(0), "47A");
    EXPECT_EQ(l.GetMeaName(0), "MEA A");
    EXPECT_EQ(Point(l, 0), std::make_tuple(3000, 6000, 0));
    EXPECT_EQ(l.GetElectrodeName(64), "47");
    EXPECT_EQ(l.GetDecoratedElectrodeName(64), "47B");
    EXPECT_EQ(l.GetMeaNumber(64), 1);
    EXPECT_EQ(l.GetMeaName(64), "MEA B");
    EXPECT_EQ(Point(l, 64), std::make_tuple(3000, 14000, 0));
    EXPECT_EQ(Display(l, 64), std::make_pair(300, 1400));

    const char* inputs[] = {"A1", "A2", "A3", "A4"};
    for (int h = 60; h < 64; ++h) {
        EXPECT_EQ(l.GetElectrodeName(h), inputs[h - 60]);
        EXPECT_EQ(l.GetMeaSubType(h), MEA_ANALOG);
        EXPECT_EQ(Display(l, h), std::make_pair((h - 60) * 100, 0));
    }
    EXPECT_EQ(l.GetElectrodeName(124), "A5");
    EXPECT_EQ(Display(l, 124), std::make_pair(400, 0));
    EXPECT_EQ(Point(l, 126), std::make_tuple(6, 0, 0));
    EXPECT_EQ(l.GetMeaNumber(126), 0);
    EXPECT_EQ(l.GetElectrodeName(127), "D1");
    EXPECT_EQ(l.GetMeaSubType(127), MEA_DIGITAL);

    EXPECT_EQ(l.GetMEAIndices(), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(l.GetElectrodeChannelCount(1), 60);
    EXPECT_EQ(l.GetNameOfConfigMEA(1), "MEA B");
}

TEST(StandardLayout, Linear)
{
    CKVLayout l;
    l.InitLayoutIfNeeded(MEA_LINEAR, 13, 10, 2, 1, false);
    ASSERT_EQ(l.GetCount(), 13);
    for (int i = 0; i < 13; ++i) ExpectCommon(l, i);
    EXPECT_EQ(l.GetElectrodeName(0), "01");
    EXPECT_EQ(l.GetElectrodeName(9), "10");
    EXPECT_EQ(Point(l, 9), std::make_tuple(1000, 1000, 0));
    EXPECT_EQ(Display(l, 9), std::make_pair(100, 100));
    EXPECT_EQ(l.GetElectrodeName(10), "A1");
    EXPECT_EQ(Point(l, 10), std::make_tuple(0, 0, 0));
    EXPECT_EQ(l.GetElectrodeName(11), "A2");
    EXPECT_EQ(l.GetMeaSubType(11), MEA_ANALOG);
    EXPECT_EQ(l.GetElectrodeName(12), "D1");
    EXPECT_EQ(l.GetMeaSubType(12), MEA_DIGITAL);
    EXPECT_EQ(l.GetMeaName(3), "");
    EXPECT_EQ(l.GetMeaNumber(12), 0);

    // Groups of more than 128 channels are laid out 16 per row; digital channels always 8.
    l.InitLayoutIfNeeded(MEA_LINEAR, 220, 200, 10, 10, false);
    EXPECT_EQ(Point(l, 17), std::make_tuple(1000, 1000, 0));
    EXPECT_EQ(l.GetElectrodeName(199), "200");
    EXPECT_EQ(Point(l, 199), std::make_tuple(7000, 12000, 0));
    EXPECT_EQ(l.GetElectrodeName(209), "A10");
    EXPECT_EQ(Point(l, 209), std::make_tuple(1000, 1000, 0));
    EXPECT_EQ(l.GetElectrodeName(219), "D1");
    EXPECT_EQ(Point(l, 219), std::make_tuple(1000, 1000, 0));

    l.InitLayoutIfNeeded(MEA_LINEAR, 200, 60, 135, 5, false);
    EXPECT_EQ(Point(l, 60 + 17), std::make_tuple(1000, 1000, 0));

    // Counts that do not add up to the total.
    l.InitLayoutIfNeeded(MEA_LINEAR, 4, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, false);
    EXPECT_EQ(l.GetElectrodeName(3), "04");
}

TEST(StandardLayout, FlagAndOtherSourceTypesKeepDefaultRecords)
{
    CKVLayout l;
    l.InitLayoutIfNeeded(MEA_60, 64, 60, 3, 1, true);
    ASSERT_EQ(l.GetCount(), 64);
    EXPECT_EQ(l.GetElectrodeName(0), "");
    EXPECT_EQ(l.GetMeaSubType(0), -1);
    EXPECT_EQ(l.GetGain(0), -1);

    for (int32_t type : {3, 4, -1}) {
        l.InitLayoutIfNeeded(static_cast<MeaSourceType>(type), 10, 10, 0, 0, false);
        EXPECT_EQ(l.GetCount(), 10) << type;
        EXPECT_EQ(l.GetSourceType(), type);
        EXPECT_EQ(l.GetMeaNumber(5), -1) << type;
    }

    // A total beyond what a layout holds leaves no records rather than allocating for it.
    l.InitLayoutIfNeeded(MEA_LINEAR, 261, 261, 0, 0, false);
    EXPECT_EQ(l.GetCount(), 261);
    l.InitLayoutIfNeeded(MEA_LINEAR, 262, 262, 0, 0, false);
    EXPECT_EQ(l.GetCount(), 0);
    l.InitLayoutIfNeeded(MEA_LINEAR, 0xFFFFFFFFu, 0, 0, 0, false);
    EXPECT_EQ(l.GetCount(), 0);
    EXPECT_EQ(l.GetElectrodeName(0), "");
}

TEST(StandardLayout, SelectedHardwareMapsChannels)
{
    kvdtest::TempDir dir;
    std::ofstream(dir.Path("hw.txt")) << "KVX Hardware Layout\nVersion: 2\nName: Rack\nLayout:\ncaption\n"
                                         "5 E 1000 1 3000 ch05 7 2\n300 E 1000 1 3000 far 1 1\n";
    CKVLayout l;
    ASSERT_TRUE(l.GetAvailHard().LoadAvail(dir.Path()));
    ASSERT_EQ(l.GetAvailHard().size(), 1u);

    l.InitLayoutIfNeeded(MEA_60, 64, 60, 3, 1, false);
    EXPECT_EQ(l.GetChannelLayout(5).GetMapHWID(), 5);  // nothing selected

    l.GetHwConfig().AddNewType(0, -1);
    l.InitLayoutIfNeeded(MEA_60, 64, 60, 3, 1, false);
    EXPECT_EQ(l.GetChannelLayout(5).GetMapHWID(), 7);
    EXPECT_EQ(l.GetChannelLayout(5).GetMapValue(), 2);
    EXPECT_EQ(l.GetChannelLayout(6).GetMapHWID(), 6);
    EXPECT_EQ(l.GetElectrodeName(5), "37");

    l.InitLayoutIfNeeded(MEA_LINEAR, 64, 60, 3, 1, false);  // linear layouts take no hardware
    EXPECT_EQ(l.GetChannelLayout(5).GetMapHWID(), 5);

    l.GetHwConfig().AddNewType(0, -1);  // two systems describe no layout
    l.InitLayoutIfNeeded(MEA_DUAL, 128, 120, 7, 1, false);
    EXPECT_EQ(l.GetChannelLayout(5).GetMapHWID(), 5);
}

}  // namespace
