// Time window, averaged-sweep, channel-tool and real-time feedback settings, and the information blocks of
// "chat" and "average" streams.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "settings/KVXAInfoAverage.h"
#include "settings/KVXAInfoChannelTool.h"
#include "settings/MChannelToolProperty.h"
#include "settings/MEvokedProperty.h"
#include "settings/MRealtimeFeedbackProperty.h"
#include "io/MSettingsReader.h"
#include "settings/MTimeWindowProperty.h"
#include "streams/KVXAStream.h"
#include "tests/support/SettingsBlocks.h"

namespace {

using kvdtest::ChannelToolDesc;
using kvdtest::EvokedSettingsDesc;
using kvdtest::TimeWindowDesc;

// An exact-size copy of the first `n` bytes, so that the sanitizers see any read beyond them.
std::vector<uint8_t> Head(const std::vector<uint8_t>& bytes, std::size_t n)
{
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(TimeWindowProperty, EachVersionReadsItsFieldsAndKeepsTheRest)
{
    TimeWindowDesc desc;
    desc.firstTriggerName = std::string("T1\0x", 4);
    for (uint16_t v = 0; v <= 6; ++v) {
        SCOPED_TRACE(v);
        const std::vector<uint8_t> bytes = desc.Encode(v);
        CMSettingsReader in(bytes.data(), bytes.size());
        CMTimeWindowProperty p;
        ASSERT_TRUE(p.ReadTimeWindowFormatInfo(in, v));
        EXPECT_EQ(in.Remaining(), 0u);
        const bool numbers = v > 1, names = v > 3;
        EXPECT_EQ(p.GetChoice(), numbers ? 2 : 0);
        EXPECT_EQ(p.GetTime1(), numbers ? 50.0f : 1000.0f);
        EXPECT_EQ(p.GetTime2(), numbers ? 250.0f : 1000.0f);
        EXPECT_EQ(p.GetStartTriggerID(), numbers ? 1 : 0xFFFF);
        EXPECT_EQ(p.GetStopTriggerID(), numbers ? 2 : 0xFFFF);
        // The names are kept exactly, NUL bytes included.
        EXPECT_EQ(p.GetFirstTriggerName(), names ? desc.firstTriggerName : "");
        EXPECT_EQ(p.GetSecondTriggerName(), names ? "Trigger 2" : "");
    }
}

TEST(TimeWindowProperty, ShortSectionsFailAndResetRestoresDefaults)
{
    const std::vector<uint8_t> bytes = TimeWindowDesc().Encode(5);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const std::vector<uint8_t> head = Head(bytes, cut);
        CMSettingsReader in(head.data(), head.size());
        CMTimeWindowProperty p;
        EXPECT_FALSE(p.ReadTimeWindowFormatInfo(in, 5)) << cut;
    }
    // A name count far beyond the bytes allocates nothing and fails.
    std::vector<uint8_t> huge = bytes;
    huge[16] = huge[17] = huge[18] = 0xFF;
    CMSettingsReader in(huge.data(), huge.size());
    CMTimeWindowProperty p;
    EXPECT_FALSE(p.ReadTimeWindowFormatInfo(in, 5));

    CMSettingsReader whole(bytes.data(), bytes.size());
    ASSERT_TRUE(p.ReadTimeWindowFormatInfo(whole, 5));
    const std::unique_ptr<CMCloneObject> copy(p.Clone());
    p.Reset();
    EXPECT_EQ(p.GetChoice(), 0);
    EXPECT_EQ(p.GetTime2(), 1000.0f);
    EXPECT_EQ(p.GetStopTriggerID(), 0xFFFF);
    EXPECT_EQ(p.GetFirstTriggerName(), "");
    const auto* cloned = dynamic_cast<const CMTimeWindowProperty*>(copy.get());
    ASSERT_TRUE(cloned);
    EXPECT_EQ(cloned->GetTime2(), 250.0f);
    EXPECT_EQ(cloned->GetSecondTriggerName(), "Trigger 2");
}

TEST(EvokedProperty, ReadsTheAverageLayout)
{
    EvokedSettingsDesc desc;
    desc.triggerName = std::string("ab\0\0", 4);
    desc.maxTimeWindowCount = 0x12345;
    const std::vector<uint8_t> bytes = desc.Encode();
    CMSettingsReader in(bytes.data(), bytes.size());
    CMEvokedProperty p;
    p.GetTimeWindow().SetChoice(5);
    ASSERT_TRUE(CMEvokedProperty::ReadEvokedFormatInfo(in, static_cast<uint32_t>(bytes.size()), 3, p));
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(p.GetEvokedWord(), 7u);
    EXPECT_EQ(p.GetMaxTimeWindowCount(), 0x2345);
    EXPECT_EQ(p.GetTriggerBufferID(), "trig0001");
    const CMTimeWindowProperty& w = p.GetTimeWindow();
    // The trigger name is NUL-stopped: four characters, two of them visible, in both name fields.
    EXPECT_EQ(w.GetFirstTriggerName().size(), 4u);
    EXPECT_STREQ(w.GetFirstTriggerName().c_str(), "ab");
    EXPECT_EQ(w.GetSecondTriggerName(), w.GetFirstTriggerName());
    EXPECT_EQ(w.GetStartTriggerID(), 2);
    EXPECT_EQ(w.GetStopTriggerID(), 2);
    EXPECT_EQ(w.GetTime1(), 10.0f);
    EXPECT_EQ(w.GetTime2(), 100.0f);
    EXPECT_EQ(w.GetChoice(), 0);

    const CMEvokedProperty copy = p;
    p.GetTimeWindow().SetTime1(1.0f);
    EXPECT_EQ(copy.GetTimeWindow().GetTime1(), 10.0f);
}

TEST(EvokedProperty, BlocksThatDoNotFitTheirBudgetFail)
{
    const std::vector<uint8_t> bytes = EvokedSettingsDesc().Encode();
    const auto full = static_cast<uint32_t>(bytes.size());
    for (uint32_t cut = 0; cut < full; ++cut) {
        SCOPED_TRACE(cut);
        CMEvokedProperty p;
        p.SetEvokedWord(99);
        // The bytes end early ...
        const std::vector<uint8_t> head = Head(bytes, cut);
        CMSettingsReader short_(head.data(), head.size());
        EXPECT_FALSE(CMEvokedProperty::ReadEvokedFormatInfo(short_, CMEvokedProperty::kNoBudget, 0, p));
        // ... or the budget does, with the bytes all there.
        CMSettingsReader budgeted(bytes.data(), bytes.size());
        EXPECT_FALSE(CMEvokedProperty::ReadEvokedFormatInfo(budgeted, cut, 0, p));
        EXPECT_EQ(p.GetEvokedWord(), 99u);
    }
    // A string count beyond the budget is refused before its bytes are touched.
    std::vector<uint8_t> huge = bytes;
    huge[8] = huge[9] = huge[10] = huge[11] = 0xFF;
    CMSettingsReader in(huge.data(), huge.size());
    CMEvokedProperty p;
    EXPECT_FALSE(CMEvokedProperty::ReadEvokedFormatInfo(in, full, 0, p));
}

TEST(ChannelToolProperty, KeepsNamesExactlyAndRefusesShortBlocks)
{
    ChannelToolDesc desc;
    desc.inputBufferName = std::string("elec\0\x01", 6);
    desc.refChannelName = "";
    const std::vector<uint8_t> bytes = desc.Encode();
    CMSettingsReader in(bytes.data(), bytes.size());
    CMChannelToolProperty p;
    ASSERT_TRUE(p.FromFormatInfo(in));
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(p.GetToolWord(), 3);
    EXPECT_EQ(p.GetInputBufferName(), desc.inputBufferName);
    EXPECT_EQ(p.GetRefChannelName(), "");
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const std::vector<uint8_t> head = Head(bytes, cut);
        CMSettingsReader s(head.data(), head.size());
        CMChannelToolProperty q;
        q.SetRefChannelName("kept");
        EXPECT_FALSE(q.FromFormatInfo(s)) << cut;
        EXPECT_EQ(q.GetRefChannelName(), "kept");
    }
}

TEST(RealtimeFeedbackProperty, DefaultsAndCloneKeepTheConcreteClass)
{
    CMRealtimeFeedbackProperty p;
    EXPECT_EQ(p.GetFirstValue(), 10.0);
    EXPECT_EQ(p.GetSecondValue(), 1000.0);
    EXPECT_EQ(p.TrailingWords(), (std::array<int32_t, 4>{{0, 1, 50, 1}}));
    EXPECT_EQ(p.GetTable(0)[15], 0);
    EXPECT_EQ(p.GetTable(3)[15], 15);
    EXPECT_TRUE(p.GetMap(15).empty());
    p.GetMap(2)[7] = 9;
    p.SetWord(4);
    const std::unique_ptr<CMCloneObject> copy(static_cast<const CMCloneObject&>(p).Clone());
    const auto* cloned = dynamic_cast<const CMRealtimeFeedbackProperty*>(copy.get());
    ASSERT_TRUE(cloned);
    EXPECT_EQ(cloned->GetWord(), 4);
    EXPECT_EQ(cloned->GetMap(2).at(7), 9);
}

// ---- Information blocks of channel-tool and average streams ---------------------------------------------------

TEST(OtherInfoBlocks, ChannelToolAndAverageStreamsHandOutTheirSettings)
{
    kvdtest::TempDir dir;
    kvdtest::RecordingDesc rec;
    ChannelToolDesc tool;
    tool.refChannelName = "E7";
    EvokedSettingsDesc evoked;
    evoked.time1 = 5.5f;
    evoked.time2 = 120.25f;
    evoked.triggerBufferId = "trig0002";
    kvdtest::StreamDesc wrongTag = kvdtest::AverageStream(1);
    wrongTag.formatPrivate[7] = 'X';
    kvdtest::StreamDesc shortAverage = kvdtest::AverageStream(1);
    shortAverage.formatPrivate.pop_back();
    kvdtest::StreamDesc shortTool = kvdtest::ChannelToolStream(1);
    shortTool.formatPrivate.resize(12);
    rec.streams = {kvdtest::ChannelToolStream(2, tool), kvdtest::AverageStream(2, evoked), wrongTag, shortAverage,
                   shortTool};
    CKVXAStreamFile file;
    ASSERT_EQ(file.OpenFile(rec.WriteTo(dir.Path("a.kvd")).c_str()), OK);

    std::unique_ptr<CKVXAInfo> info(file.GetStream(0)->GetInfo());
    const auto* chat = dynamic_cast<const CKVXAInfoChannelTool*>(info.get());
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->InputBufferName(), "elec0001");
    EXPECT_EQ(chat->RefChannelName(), "E7");

    info.reset(file.GetStream(1)->GetInfo());
    const auto* average = dynamic_cast<const CKVXAInfoAverage*>(info.get());
    ASSERT_TRUE(average);
    EXPECT_STREQ(average->GetTriggerBufferID(), "trig0002");
    EXPECT_EQ(average->GetTimeWindowStartTime(), 5.5);
    EXPECT_EQ(average->GetTimeWindowWindowExtend(), 120.25);
    EXPECT_EQ(average->GetMaxTimeWindowCount(), 25);

    for (int i = 2; i < 5; ++i) EXPECT_EQ(file.GetStream(i)->GetInfo(), nullptr) << i;
}

}  // namespace
