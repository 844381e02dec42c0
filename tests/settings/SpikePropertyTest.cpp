#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "settings/KVXAInfoSpike.h"
#include "io/MSettingsReader.h"
#include "settings/MSpikeProperty.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/SettingsBlocks.h"

namespace {

using kvdtest::SpikeChannelDesc;
using kvdtest::SpikeSettingsDesc;
using kvdtest::SpikeUnitDesc;

constexpr int32_t kWriter3 = 3 << 16;

SpikeSettingsDesc Detector()
{
    SpikeSettingsDesc d;
    d.inputBufferId = std::string("filt0001\0\0", 10);
    SpikeChannelDesc a;
    a.hwId = 9;
    a.groupId = 2;
    a.units = {{9, 3, -1.0f, 1.0f, 0.5f, 7, 8}, {9, 1, -2.0f, 2.0f, 0.25f, 255, 255}};
    SpikeChannelDesc b;
    b.hwId = 4;
    b.thresholdLevel = -0.00005f;
    b.units = {{4, 2, 0, 0, 0, 0, 0}};
    d.channels = {a, b};
    return d;
}

CMSpikeProperty Read(const std::vector<uint8_t>& bytes, uint16_t v)
{
    CMSettingsReader in(bytes.data(), bytes.size());
    CMSpikeProperty p;
    EXPECT_TRUE(p.ReadSpikeFormatInfo(in, v, kWriter3));
    EXPECT_EQ(in.Remaining(), 0u);
    return p;
}

TEST(SpikeProperty, DefaultsOfAChannel)
{
    const CMSpikeChInfo c;
    const float level = c.GetThresholdLevel();
    uint32_t bits = 0;
    std::memcpy(&bits, &level, 4);
    EXPECT_EQ(bits, 0xB8FBA882u);
    EXPECT_EQ(c.GetThresholdSlope(), 1);
    EXPECT_EQ(c.GetSlopeMin(), 0.2f);
    EXPECT_EQ(c.GetSlopeMax(), 1.0f);
    const CMSpikeProperty p;
    EXPECT_EQ(p.GetStdDevFactor(), -3.0f);
    EXPECT_EQ(p.GetPreTrigger_us(), 1000);
    EXPECT_EQ(p.GetDeadTime_us(), 2000);
}

TEST(SpikeProperty, CurrentVersionsReadMethodsTimesAndChannels)
{
    SpikeSettingsDesc d = Detector();
    d.preSeconds = 0.001f;
    d.postSeconds = 0.0000015f;
    d.deadSeconds = 0.0029999f;
    d.preUs = 1234;
    d.postUs = -5;
    d.deadUs = 7;
    for (uint16_t v : {5, 6, 7, 8}) {
        SCOPED_TRACE(v);
        const CMSpikeProperty p = Read(d.Encode(v), v);
        EXPECT_EQ(p.GetDetectMethod(), 1);
        EXPECT_EQ(p.GetSortMethod(), 2);
        EXPECT_EQ(p.GetCutOutType(), 3);
        EXPECT_EQ(p.GetStdDevFactor(), -4.5f);
        if (v <= 6) {
            // Seconds, rounded to whole microseconds.
            EXPECT_EQ(p.GetPreTrigger_us(), 1000);
            EXPECT_EQ(p.GetPostTrigger_us(), 2);
            EXPECT_EQ(p.GetDeadTime_us(), 3000);
        } else {
            EXPECT_EQ(p.GetPreTrigger_us(), 1234);
            EXPECT_EQ(p.GetPostTrigger_us(), -5);
            EXPECT_EQ(p.GetDeadTime_us(), 7);
        }
        EXPECT_EQ(p.GetInputBufferID().size(), 10u);
        EXPECT_STREQ(p.GetInputBufferID().c_str(), "filt0001");
        ASSERT_EQ(p.GetChannels().size(), 2u);
        const CMSpikeChInfo* nine = p.GetSpikeChInfo(9);
        ASSERT_TRUE(nine);
        EXPECT_EQ(nine->GetChGroupID(), 2);
        EXPECT_EQ(nine->GetThresholdLevel(), -0.00002f);
        EXPECT_EQ(nine->GetThresholdSlope(), -1);
        EXPECT_EQ(nine->GetSlopeDeltaV(), -0.00003f);
        EXPECT_EQ(nine->GetSlopeMax(), 0.75f);
        EXPECT_EQ(nine->GetSpikeUnitCount(), 2);
        const CMSpikeUnitInfo* unit = p.GetSpikeUnitInfo(9, 3);
        ASSERT_TRUE(unit);
        EXPECT_EQ(unit->GetWndMin(), -1.0f);
        EXPECT_EQ(unit->GetWndMax(), 1.0f);
        EXPECT_EQ(unit->GetWndTime(), 0.5f);
        EXPECT_EQ(unit->GetWord(0), 7u);
        // The first channel is the one with the smallest hardware ID.
        std::vector<uint16_t> ids;
        EXPECT_TRUE(p.GetSpikeUnitIDs(ids));
        EXPECT_EQ(ids, std::vector<uint16_t>{2});
    }
}

TEST(SpikeProperty, OldVersionsConvertTheDetectorList)
{
    kvdtest::OldSpikeListDesc list;
    list.records.resize(2);
    list.records[0].words[7] = 5;      // channel
    list.records[0].words[4] = -2500;  // level, 0.1 uV
    list.records[0].inputBufferId = "anlg0003";
    list.records[1].words[7] = 9;
    list.records[1].words[4] = 1200;
    list.records[1].words[6] = -1;  // slope
    list.p = 2500000000u;
    list.q = 1500000000u;
    list.r = 3000000000u;
    const CMSpikeProperty p = Read(list.Encode(4, true), 4);
    EXPECT_EQ(p.GetDeadTime_us(), 2500);
    EXPECT_EQ(p.GetPreTrigger_us(), 1500);
    EXPECT_EQ(p.GetPostTrigger_us(), 3000);
    EXPECT_EQ(p.GetSortMethod(), 0);
    EXPECT_EQ(p.GetDetectMethod(), 0);
    EXPECT_EQ(p.GetInputBufferID(), "anlg0003");
    ASSERT_EQ(p.GetChannels().size(), 2u);
    EXPECT_FLOAT_EQ(p.GetSpikeChInfo(5)->GetThresholdLevel(), -0.00025f);
    EXPECT_FLOAT_EQ(p.GetSpikeChInfo(9)->GetThresholdLevel(), 0.00012f);
    EXPECT_EQ(p.GetSpikeChInfo(9)->GetThresholdSlope(), -1);
    EXPECT_EQ(p.GetSpikeChInfo(9)->GetSpikeUnitCount(), 0);

    // An empty list: no channels and no input buffer.
    const CMSpikeProperty empty = Read(kvdtest::OldSpikeListDesc().Encode(4, true), 4);
    EXPECT_TRUE(empty.GetChannels().empty());
    EXPECT_EQ(empty.GetInputBufferID(), "");
    // Version 0 stores nothing: the default times stay.
    const CMSpikeProperty none = Read({}, 0);
    EXPECT_EQ(none.GetPreTrigger_us(), 1000);
    EXPECT_EQ(none.GetPostTrigger_us(), 2000);
    EXPECT_EQ(none.GetDeadTime_us(), 2000);
}

TEST(SpikeProperty, ShortBlocksAndHugeCountsFailAndChangeNothing)
{
    const std::vector<uint8_t> bytes = Detector().Encode(7);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        CMSettingsReader in(head.data(), head.size());
        CMSpikeProperty p;
        p.SetInputBufferID("kept");
        EXPECT_FALSE(p.ReadSpikeFormatInfo(in, 7, kWriter3)) << cut;
        EXPECT_EQ(p.GetInputBufferID(), "kept");
    }
    // The channel count, then the first channel's unit count, set to 0xFFFF.
    const std::size_t channels = 7 * 4 + 2 + 10;
    const std::size_t units = channels + 2 + 24;
    for (std::size_t at : {channels, units}) {
        std::vector<uint8_t> b = bytes;
        b[at] = b[at + 1] = 0xFF;
        CMSettingsReader in(b.data(), b.size());
        CMSpikeProperty p;
        EXPECT_FALSE(p.ReadSpikeFormatInfo(in, 7, kWriter3)) << at;
    }
}

TEST(SpikeProperty, UnitsAndGroups)
{
    CMSpikeProperty p;
    std::vector<uint16_t> ids;
    EXPECT_FALSE(p.GetSpikeUnitIDs(ids));
    for (uint16_t hw : {7, 3, 5, 1}) {
        CMSpikeChInfo c;
        c.SetChannelHWID(hw);
        p.SetSpikeChInfo(c);
    }
    EXPECT_TRUE(p.AddSpikeUnits(4));
    EXPECT_TRUE(p.AddSpikeUnits(2));
    EXPECT_FALSE(p.AddSpikeUnits(2));
    EXPECT_EQ(p.GetSpikeUnitInfo(5, 4)->GetChannelHWID(), 5);
    EXPECT_TRUE(p.InitSpikeUnitWnd(4, 0.5f, 1.0f, -1.0f));
    EXPECT_EQ(p.GetSpikeUnitInfo(7, 4)->GetWndMax(), 1.0f);
    EXPECT_FALSE(p.InitSpikeUnitWnd(9, 0.5f, 1.0f, -1.0f));
    EXPECT_TRUE(p.GetSpikeUnitIDs(ids));
    EXPECT_EQ(ids, (std::vector<uint16_t>{2, 4}));

    CMSpikeUnitInfo u;
    u.SetChannelHWID(3);
    u.SetUnitID(2);
    u.SetWndTime(9.0f);
    EXPECT_TRUE(p.SetSpikeUnitInfo(u));
    EXPECT_EQ(p.GetSpikeUnitInfo(3, 2)->GetWndTime(), 9.0f);
    u.SetUnitID(8);
    EXPECT_FALSE(p.SetSpikeUnitInfo(u));
    EXPECT_EQ(p.GetSpikeUnitInfo(3, 8), nullptr);
    EXPECT_TRUE(p.RemoveSpikeUnits(2));
    EXPECT_EQ(p.GetSpikeUnitInfo(3, 2), nullptr);

    // Channels 1, 3, 5, 7 in groups 2, 0, 2, 3.
    EXPECT_TRUE(p.AddChannelToGroup(1, 2));
    EXPECT_TRUE(p.AddChannelToGroup(5, 2));
    EXPECT_TRUE(p.AddChannelToGroup(7, 3));
    EXPECT_FALSE(p.AddChannelToGroup(8, 3));
    std::vector<uint16_t> groups;
    EXPECT_TRUE(p.GetChannelGroupIDs(groups));
    EXPECT_EQ(groups, (std::vector<uint16_t>{2, 3}));
    std::vector<uint16_t> members;
    EXPECT_TRUE(p.GetChHWIDsFromGroup(2, members));
    EXPECT_EQ(members, (std::vector<uint16_t>{1, 5}));
    EXPECT_TRUE(p.RemoveChannelGroup(2));
    EXPECT_FALSE(p.RemoveChannelGroup(2));
    EXPECT_TRUE(p.RemoveChannelFromGroup(7));
    groups.clear();
    EXPECT_FALSE(p.GetChannelGroupIDs(groups));

    EXPECT_TRUE(p.RemoveChannelInfo(3));
    EXPECT_FALSE(p.RemoveChannelInfo(3));
    EXPECT_TRUE(p.RemoveChannelInfo());
    EXPECT_FALSE(p.RemoveChannelInfo());
}

TEST(SpikeProperty, SpikeStreamsHandOutTheirDetector)
{
    kvdtest::TempDir dir;
    kvdtest::RecordingDesc rec;
    kvdtest::StreamDesc current = kvdtest::SpikeStream(2, 8);
    current.formatPrivate = kvdtest::SpikeSettingsBlock(Detector(), 8);
    kvdtest::StreamDesc old = kvdtest::SpikeStream(2, 4, "spks0002", 5);
    kvdtest::OldSpikeListDesc list;
    list.records.resize(1);
    old.formatPrivate = kvdtest::OldSpikeSettingsBlock(list, 4, true);
    kvdtest::StreamDesc wrongTag = kvdtest::SpikeStream(2, 8, "spks0003", 6);
    wrongTag.formatPrivate = kvdtest::Tagged("PARAMSPX", Detector().Encode(8));
    rec.streams = {current, old, wrongTag};
    CKVXAStreamFile file;
    ASSERT_EQ(file.OpenFile(rec.WriteTo(dir.Path("s.kvd")).c_str()), OK);

    std::unique_ptr<CKVXAInfo> info(file.GetStream(0)->GetInfo());
    auto* spike = dynamic_cast<CKVXAInfoSpike*>(info.get());
    ASSERT_TRUE(spike);
    EXPECT_STREQ(spike->GetInputBufferID(), "filt0001");
    EXPECT_EQ(spike->GetPreTrigger_us(), 1000);
    EXPECT_DOUBLE_EQ(spike->GetDeadTime(), 0.0025);  // x87 arithmetic may round the quotient differently
    EXPECT_EQ(spike->GetThresholdLevel(4), -0.00005f);
    EXPECT_EQ(spike->GetChannelGroupID(9), 2);
    EXPECT_TRUE(spike->HasChannel(9));
    // A channel the block does not hold answers 0.
    EXPECT_FALSE(spike->HasChannel(5));
    EXPECT_EQ(spike->GetThresholdLevel(5), 0.0f);
    EXPECT_EQ(spike->GetSpikeUnitID(0), -1);
    EXPECT_EQ(spike->GetSpikeUnitCount(), 1);
    EXPECT_EQ(spike->GetSpikeUnitCount(), 1);
    EXPECT_EQ(spike->GetSpikeUnitID(0), 2);
    EXPECT_EQ(spike->GetSpikeUnitID(1), -1);
    EXPECT_EQ(spike->GetSpikeUnitID(-1), -1);
    EXPECT_EQ(spike->GetSpikeUnitWndTime(9, 1), 0.25f);
    EXPECT_EQ(spike->GetSpikeUnitWndMin(9, 7), 0.0f);

    info.reset(file.GetStream(1)->GetInfo());
    spike = dynamic_cast<CKVXAInfoSpike*>(info.get());
    ASSERT_TRUE(spike);
    EXPECT_TRUE(spike->HasChannel(12));
    EXPECT_EQ(spike->GetThresholdSlope(12), -1);
    EXPECT_EQ(file.GetStream(2)->GetInfo(), nullptr);
}

}  // namespace
