#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "layout/KVLayout.h"
#include "tests/support/RecordingBuilder.h"

namespace {

class DescriptionTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text)
    {
        std::ofstream(m_dir.Path(name), std::ios::binary) << text;
        return m_dir.Path(name);
    }
    kvdtest::TempDir m_dir;
};

TEST_F(DescriptionTest, HardwareVersion2)
{
    CKVLayout::CHardware hw;
    const std::string path = Write("hw.txt",
                                   "  KVX Hardware Layout  \r\n"
                                   "Version: 2\n"
                                   "Name: Rack 64\n"
                                   "Comment: ignored\n"
                                   "LayoutConfig: 1:60 2:120 -3:7\n"
                                   "StdMeaLayouts: 2\n"
                                   "Layout:\n"
                                   "5 E 1000 1 3000 ch05 7 0\n"  // the caption line is skipped
                                   "5 E 1000 1 3000 ch05 7 0\n"
                                   "6 A 1 0 50000 an1 8 1\n"
                                   "7 Q 1 0 50000 odd 9 0\n"
                                   "8 E 1000 1 3000 short\n"
                                   "\n"
                                   "garbage line\n");
    ASSERT_EQ(hw.ReadLayout(path.c_str()), 3);
    EXPECT_EQ(hw.m_Name, "Rack 64");
    EXPECT_EQ(hw.GetStdMeaLayouts(), 2);
    EXPECT_EQ(hw.GetLayoutConfig(), (std::map<int32_t, int32_t>{{1, 60}, {2, 120}, {-3, 7}}));
    ASSERT_EQ(hw.m_Layouts.size(), 3u);
    const CKVLayout::CChannelLayout& r = hw.m_Layouts[0];
    EXPECT_EQ(r.GetHWID(), 5);
    EXPECT_EQ(r.GetMeaSubType(), MEA_ELECTRODE);
    EXPECT_EQ(r.GetGain(), 1000);
    EXPECT_EQ(r.GetLowF(), 1);
    EXPECT_EQ(r.GetHighF(), 3000);
    EXPECT_STREQ(r.GetElectrodeName(), "ch05");
    EXPECT_STREQ(r.GetDecoratedElectrodeName(), "ch05");
    EXPECT_STREQ(r.GetThirdName(), "ch05");
    EXPECT_EQ(r.GetMapHWID(), 7);
    EXPECT_EQ(r.GetMapValue(), 0);
    EXPECT_STREQ(r.GetAmplifierName(), "Rack 64");
    EXPECT_EQ(hw.m_Layouts[1].GetMeaSubType(), MEA_ANALOG);
    EXPECT_EQ(hw.m_Layouts[1].GetMapValue(), 1);
    EXPECT_EQ(hw.m_Layouts[2].GetMeaSubType(), MEA_SUBTYPE_UNKNOWN);

    // Reading again starts from scratch.
    ASSERT_EQ(hw.ReadLayout(path.c_str()), 3);
    EXPECT_EQ(hw.m_Layouts.size(), 3u);
}

TEST_F(DescriptionTest, HardwareVersion1AndOtherVersions)
{
    CKVLayout::CHardware hw;
    ASSERT_EQ(hw.ReadLayout(Write("v1.txt",
                                  "KVX Hardware Layout\nName: Old\nVersion: 1\nLayout:\ncap\n"
                                  "0 D 1 0 100 dig\n1 E 1 0 100 e1 3 3\n")
                                .c_str()),
              2);
    EXPECT_EQ(hw.GetStdMeaLayouts(), 3);
    EXPECT_TRUE(hw.GetLayoutConfig().empty());
    EXPECT_EQ(hw.m_Layouts[0].GetMeaSubType(), MEA_DIGITAL);
    EXPECT_EQ(hw.m_Layouts[0].GetMapHWID(), 0);
    EXPECT_EQ(hw.m_Layouts[1].GetMapHWID(), 1);  // version 1 ignores the mapping fields

    // Channel lines of an unknown version are ignored.
    EXPECT_EQ(hw.ReadLayout(Write("v3.txt",
                                  "KVX Hardware Layout\nVersion: 3\nName: New\nLayout:\ncap\n"
                                  "0 E 1 0 100 e0 0 0\n")
                                .c_str()),
              0);
    EXPECT_EQ(hw.m_Name, "New");
}

TEST_F(DescriptionTest, AmplifierFile)
{
    CKVLayout::CAmplifier amp;
    ASSERT_EQ(amp.ReadLayout(Write("amp.txt",
                                   "KVX Amplifier Layout\nVersion: 5\nName: Amp 32\n"
                                   "AvailOffsets:   0 60  120\nLayout:\nHW kind gain low high\n"
                                   "0 E 1100 1 3000\n1 E 1100 1 3000\n2 A 1 0 40000\nx E 1 1 1\n")
                                 .c_str()),
              3);
    EXPECT_EQ(amp.m_offsets, (std::vector<int32_t>{0, 60, 120}));
    EXPECT_STREQ(amp.m_Layouts[2].GetAmplifierName(), "Amp 32");
    EXPECT_EQ(amp.m_Layouts[2].GetMeaSubType(), MEA_ANALOG);
    EXPECT_EQ(amp.m_Layouts[2].GetHighF(), 40000);
    EXPECT_STREQ(amp.m_Layouts[0].GetElectrodeName(), "");
}

TEST_F(DescriptionTest, MeaFilesOfBothVersions)
{
    CKVLayout::CMea mea;
    ASSERT_EQ(mea.ReadLayout(Write("mea1.txt",
                                   "KVX MEA Layout\nVersion: 1\nName: Grid\nAvailOffsets: 0 64\n"
                                   "Layout:\ncap\n"
                                   "0 12 A 100 200 0 30 30 30 10 20 100 100\n"
                                   "1 13 SR 1 2 3 4 5 6 7 8 9 10\n"
                                   "2 14 ASRB 1 2 3 4 5 6 7 8 9 10\n"
                                   "3 15 A 1 2 3\n")
                                 .c_str()),
              3);
    EXPECT_EQ(mea.m_offsets, (std::vector<int32_t>{0, 64}));
    const CKVLayout::CChannelLayout& a = mea.m_Layouts[0];
    EXPECT_EQ(a.GetHWID(), 0);
    EXPECT_EQ(a.GetMeaSubType(), MEA_ELECTRODE);
    EXPECT_EQ(a.GetGain(), 1);
    EXPECT_EQ(a.GetHighF(), 50000000);
    EXPECT_STREQ(a.GetElectrodeName(), "12");
    EXPECT_STREQ(a.GetDecoratedElectrodeName(), "12");
    EXPECT_STREQ(a.GetThirdName(), "12");
    EXPECT_EQ(a.GetMeaNumber(), 0);
    EXPECT_EQ(a.GetElectrodeType(), 1);
    EXPECT_EQ(a.GetPosX(), 100);
    EXPECT_EQ(a.GetPosY(), 200);
    EXPECT_EQ(a.GetExtendX(), 30);
    EXPECT_EQ(a.GetDisplayX(), 10);
    EXPECT_EQ(a.GetDisplayY(), 20);
    EXPECT_EQ(a.GetDisplayExtendY(), 100);

    // Without "A" the record gets its electrode type but no names or positions.
    const CKVLayout::CChannelLayout& sr = mea.m_Layouts[1];
    EXPECT_EQ(sr.GetElectrodeType(), 6);
    EXPECT_STREQ(sr.GetElectrodeName(), "");
    EXPECT_EQ(sr.GetPosX(), 0);
    EXPECT_EQ(sr.GetMeaNumber(), -1);
    EXPECT_EQ(mea.m_Layouts[2].GetElectrodeType(), 15);

    ASSERT_EQ(mea.ReadLayout(Write("mea2.txt",
                                   "KVX MEA Layout\nVersion: 2\nName: Grid2\nLayout:\ncap\n"
                                   "4 21 T21 A 1 2 3 4 5 6 7 8 9 10\n"
                                   "5 22 A 1 2 3 4 5 6 7 8 9 10\n")
                                 .c_str()),
              1);
    EXPECT_STREQ(mea.m_Layouts[0].GetThirdName(), "T21");
    EXPECT_EQ(mea.m_Layouts[0].GetDisplayExtendY(), 10);
    EXPECT_TRUE(mea.m_offsets.empty());

    EXPECT_EQ(mea.ReadLayout(Write("mea3.txt",
                                   "KVX MEA Layout\nVersion: 3\nName: G\nLayout:\ncap\n"
                                   "4 21 T21 A 1 2 3 4 5 6 7 8 9 10\n")
                                 .c_str()),
              0);
}

TEST_F(DescriptionTest, UnusableFilesReadAsMinusOne)
{
    CKVLayout::CHardware hw;
    CKVLayout::CMea mea;
    EXPECT_EQ(hw.ReadLayout(m_dir.Path("missing.txt").c_str()), -1);
    EXPECT_EQ(hw.ReadLayout(nullptr), -1);
    EXPECT_EQ(hw.ReadLayout(Write("empty.txt", "").c_str()), -1);
    const std::string meaFile = Write("mea.txt", "KVX MEA Layout\nVersion: 1\nName: G\nLayout:\n");
    EXPECT_EQ(hw.ReadLayout(meaFile.c_str()), -1);
    EXPECT_EQ(mea.ReadLayout(meaFile.c_str()), 0);
    EXPECT_EQ(mea.ReadLayout(Write("nover.txt", "KVX MEA Layout\nName: G\nLayout:\n").c_str()), -1);
    EXPECT_EQ(mea.ReadLayout(Write("v0.txt", "KVX MEA Layout\nVersion: 0\nName: G\nLayout:\n").c_str()), -1);
    EXPECT_EQ(mea.ReadLayout(Write("noname.txt", "KVX MEA Layout\nVersion: 1\nName: \nLayout:\n").c_str()), -1);
    EXPECT_TRUE(mea.m_Name.empty());
    // A header without "Layout:" has no channel lines.
    EXPECT_EQ(mea.ReadLayout(Write("nolayout.txt", "KVX MEA Layout\nVersion: 1\nName: G\n").c_str()), 0);

    for (const char* config : {"1:2:3", "1", "a:2", "1:", "1:2  3:4", "1:99999999999"}) {
        const std::string text =
            std::string("KVX Hardware Layout\nVersion: 1\nName: H\nLayoutConfig: ") + config + "\nLayout:\n";
        EXPECT_EQ(hw.ReadLayout(Write("cfg.txt", text).c_str()), -1) << config;
    }

    // Lines longer than 255 characters come in pieces; none of them breaks the reader.
    const std::string longLine = "0 E 1 0 100 " + std::string(600, 'n') + "\n";
    EXPECT_EQ(
        hw.ReadLayout(Write("long.txt", "KVX Hardware Layout\nVersion: 1\nName: L\nLayout:\ncap\n" + longLine).c_str()),
        1);
    EXPECT_EQ(std::string(hw.m_Layouts[0].GetElectrodeName()).size(), 243u);
}

TEST_F(DescriptionTest, AvailabilityTables)
{
    Write("a.txt", "KVX MEA Layout\nVersion: 1\nName: Alpha\nAvailOffsets: 0 60 120\nLayout:\ncap\n");
    Write("b.dat", "KVX MEA Layout\nVersion: 1\nName: Beta\nLayout:\ncap\n");
    Write("c.txt", "KVX Amplifier Layout\nVersion: 1\nName: Gamma\nLayout:\ncap\n");

    CKVLayout layout;
    CKVLayout::CAvailTypes& meas = layout.GetAvailMeas();
    ASSERT_TRUE(meas.LoadAvail(m_dir.Path()));
    ASSERT_EQ(meas.size(), 1u);
    EXPECT_EQ(meas.GetAvailType(0), "Alpha");
    EXPECT_EQ(meas.GetAvailType(1), "");
    EXPECT_EQ(meas.GetAvailTypeIndex("Alpha"), 0);
    EXPECT_EQ(meas.GetAvailTypeIndex("Gamma"), -1);
    std::vector<std::string> list;
    meas.GetAvailTypes(list);
    EXPECT_EQ(list, std::vector<std::string>{"Alpha"});
    EXPECT_EQ(meas.GetNumberOfAvailOffsets(0), 3);
    EXPECT_EQ(meas.GetNumberOfAvailOffsets(4), 0);
    EXPECT_EQ(meas.GetAvailOffsetAsString(0, 1), "60");
    EXPECT_EQ(meas.GetAvailOffsetAsString(0, 3), "");
    EXPECT_EQ(meas.GetAvailOffsetAsInt(0, 2), 120);
    EXPECT_EQ(meas.GetAvailOffsetAsInt(0, 3), 0);
    EXPECT_EQ(meas.GetAvailOffsetAsInt(-1, 0), 0);
    EXPECT_EQ(meas.GetAvailOffsetIndex(0, 120), 2);
    EXPECT_EQ(meas.GetAvailOffsetIndex(0, 7), -1);
    meas.GetAvailOffsets(0, list);
    EXPECT_EQ(list, (std::vector<std::string>{"0", "60", "120"}));
    EXPECT_EQ(meas.GetStdMeaLayout(0), -1);  // not a hardware type
    EXPECT_TRUE(meas.GetHwLayoutConfig(0).empty());

    ASSERT_TRUE(layout.GetAvailAmpl().LoadAvail(m_dir.Path()));
    EXPECT_EQ(layout.GetAvailAmpl().GetAvailTypeIndex("Gamma"), 0);
    EXPECT_EQ(layout.GetNumberOfElectrodeChannels("Gamma"), 0);
    EXPECT_EQ(layout.GetNumberOfElectrodeChannels("Alpha"), 0);

    Write("h.txt", "KVX Hardware Layout\nVersion: 1\nName: Rack\nLayoutConfig: 0:1\nStdMeaLayouts: 1\nLayout:\n");
    ASSERT_TRUE(layout.GetAvailHard().LoadAvail(m_dir.Path()));
    EXPECT_EQ(layout.GetAvailHard().GetStdMeaLayout(0), 1);
    EXPECT_EQ(layout.GetAvailHard().GetHwLayoutConfig(0), (std::map<int32_t, int32_t>{{0, 1}}));

    EXPECT_FALSE(layout.GetAvailHard().LoadAvail(m_dir.Path("missing")));
    EXPECT_EQ(layout.GetAvailHard().size(), 1u);
}

TEST_F(DescriptionTest, AmplifierChannelCount)
{
    Write("amp.txt", "KVX Amplifier Layout\nVersion: 1\nName: A16\nLayout:\ncap\n0 E 1 0 1\n1 E 1 0 1\n2 E 1 0 1\n");
    CKVLayout layout;
    ASSERT_TRUE(layout.GetAvailAmpl().LoadAvail(m_dir.Path()));
    EXPECT_EQ(layout.GetNumberOfElectrodeChannels("A16"), 3);
}

TEST_F(DescriptionTest, Configurations)
{
    Write("m1.txt", "KVX MEA Layout\nVersion: 1\nName: One\nAvailOffsets: 0 60\nLayout:\n");
    CKVLayout layout;
    ASSERT_TRUE(layout.GetAvailMeas().LoadAvail(m_dir.Path()));
    CKVLayout::CConfiguration& config = layout.GetMeaConfig();
    EXPECT_EQ(config.GetAvail(), &layout.GetAvailMeas());
    EXPECT_EQ(layout.GetHwConfig().GetAvail(), &layout.GetAvailHard());
    EXPECT_EQ(layout.GetAmplConfig().GetAvail(), &layout.GetAvailAmpl());

    config.AddNewType(0, 1);
    config.AddNewType(0, -1);
    config.AddNewType(0, 0);
    EXPECT_EQ(config.GetNumberOfLayouts(), 3);
    std::vector<std::string> list;
    config.GetSelectedTypes(list);
    EXPECT_EQ(list, (std::vector<std::string>{"One @ 60", "One @ 0"}));
    EXPECT_EQ(config.GetSelectedType(0), "One");
    EXPECT_EQ(config.GetSelectedOffsetAsString(0), "60");
    EXPECT_EQ(config.GetSelectedOffsetAsInt(0), 60);
    EXPECT_EQ(config.GetSelectedOffsetIndex(1), -1);

    EXPECT_EQ(config.MoveType(0, 1), 1);
    EXPECT_EQ(config.GetSelectedOffsetIndex(0), -1);
    EXPECT_EQ(config.GetSelectedOffsetIndex(1), 1);
    EXPECT_EQ(config.MoveType(2, 1), 0);
    EXPECT_EQ(config.MoveType(0, -1), 0);
    EXPECT_EQ(config.MoveType(-1, 1), 0);

    config.ChangeTypeOffset(0, 0);
    config.ChangeType(2, 5);
    config.ChangeType(-1, 0);
    config.ChangeType(9, 0);
    EXPECT_EQ(config.GetSelectedOffsetAsInt(0), 0);
    EXPECT_EQ(config.GetSelectedTypeIndex(2), 5);
    EXPECT_EQ(config.GetSelectedType(2), "");  // an index outside the table
    EXPECT_EQ(config.GetSelectedOffsetAsString(2), "");

    config.RemoveType(1);
    config.RemoveType(7);
    EXPECT_EQ(config.GetNumberOfLayouts(), 2);
    EXPECT_EQ(config.GetSelectedTypeIndex(1), 5);
    EXPECT_EQ(config.GetSelectedTypeIndex(2), -1);
    config.RemoveAll();
    EXPECT_EQ(config.GetNumberOfLayouts(), 0);

    // Two selections: swapping works one way only.
    config.AddNewType(0, 0);
    config.AddNewType(0, 1);
    EXPECT_EQ(config.MoveType(1, 1), 0);
    EXPECT_EQ(config.GetSelectedOffsetIndex(1), 1);
    EXPECT_EQ(config.MoveType(0, 1), 1);
    EXPECT_EQ(config.GetSelectedOffsetIndex(0), 1);
}

}  // namespace
