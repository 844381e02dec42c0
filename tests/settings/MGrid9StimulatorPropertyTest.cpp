#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "settings/MGrid9StimulatorProperty.h"
#include "tests/support/ByteWriter.h"
#include "tests/support/RecordingBuilder.h"
#include "tests/support/StimulatorChunkBuilder.h"

namespace {

using kvdtest::StimulatorChunkDesc;
using kvdtest::StimulusGroupDesc;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

class StimulatorTest : public ::testing::Test {
protected:
    // Writes `bytes` followed by a marker and opens the file at its start.
    File Write(const std::vector<uint8_t>& bytes)
    {
        std::vector<uint8_t> all = bytes;
        all.insert(all.end(), {'N', 'E', 'X', 'T'});
        kvdtest::WriteFile(m_dir.Path("stim.bin"), all);
        return File(std::fopen(m_dir.Path("stim.bin").c_str(), "rb"));
    }
    bool Read(const StimulatorChunkDesc& chunk) { return Read(chunk.Encode()); }
    bool Read(const std::vector<uint8_t>& bytes)
    {
        File f = Write(bytes);
        const bool ok = m_stim.ReadProperty(f.get());
        m_afterChunk = ok && std::fgetc(f.get()) == 'N';
        return ok;
    }
    void ExpectDefaults()
    {
        CMGrid9StimulatorProperty fresh;
        EXPECT_TRUE(m_stim.GetListModeEntries().empty());
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(m_stim.GetA1(i), -2000000);
            EXPECT_EQ(m_stim.GetIBI(i), 3000);
            EXPECT_EQ(m_stim.GetRepeatMode(i), 1);
            EXPECT_EQ(m_stim.GetStimulusTrigger(i), CMGrid9StimulatorProperty::CStimulusTrigger(0, -2));
        }
        EXPECT_EQ(m_stim.GetVoltageRangeInMicroVolt(), 12000000);
        EXPECT_EQ(m_stim.GetMode(), 0);
        EXPECT_TRUE(m_stim.GetBlanking());
        EXPECT_TRUE(m_stim.GetDedicatedStimulationElectrodes());
        EXPECT_EQ(m_stim.GetAsciiPathFileName(), "");
    }

    kvdtest::TempDir m_dir;
    CMGrid9StimulatorProperty m_stim;
    bool m_afterChunk = false;
};

TEST_F(StimulatorTest, DefaultsOfBothModes)
{
    ExpectDefaults();
    EXPECT_EQ(m_stim.GetVoltageResolutionInMicroVolt(), 500);
    EXPECT_EQ(m_stim.GetCurrentRangeInNanoAmp(), 1500000);
    EXPECT_EQ(m_stim.GetCurrentResolutionInNanoAmp(), 50);
    EXPECT_EQ(m_stim.GetDacResolution(), 16u);
    EXPECT_EQ(m_stim.GetDacOffset(), 0);
    EXPECT_EQ(m_stim.GetChannelNumber(), 6);
    EXPECT_EQ(m_stim.GetSyncNumber(), 6);
    EXPECT_EQ(m_stim.GetTriggerNumber(), 6);
    EXPECT_TRUE(m_stim.GetAPS());
    EXPECT_FALSE(m_stim.GetListMode());
    EXPECT_FALSE(m_stim.GetUseAsciiFile());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_stim.GetPre(i), 0);
        EXPECT_EQ(m_stim.GetA2(i), 2000000);
        EXPECT_EQ(m_stim.GetT1(i), 100);
        EXPECT_EQ(m_stim.GetT2(i), 100);
        EXPECT_EQ(m_stim.GetIPI(i), 10000);
        EXPECT_EQ(m_stim.GetPulseRepeat(i), 1);
        EXPECT_EQ(m_stim.GetBurstRepeat(i), 10);
    }

    // A partial reset for current mode changes amplitudes and hardware fields only.
    m_stim.SetRepeatMode(1, 3);
    m_stim.SetTriggerSource(2, 9);
    m_stim.SetListMode(true);
    m_stim.SetBlanking(false);
    m_stim.SetVoltageRangeInMicroVolt(5);
    m_stim.SetModeAndDefaults(1, false);
    EXPECT_EQ(m_stim.GetMode(), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_stim.GetA1(i), -100000);
        EXPECT_EQ(m_stim.GetA2(i), 100000);
    }
    EXPECT_EQ(m_stim.GetVoltageRangeInMicroVolt(), 12000000);
    EXPECT_EQ(m_stim.GetRepeatMode(1), 3);
    EXPECT_EQ(m_stim.GetTriggerSource(2), 9);
    EXPECT_TRUE(m_stim.GetListMode());
    EXPECT_FALSE(m_stim.GetBlanking());

    m_stim.SetModeAndDefaults(0, true);
    ExpectDefaults();

    // Stimulus indexes outside 0 ... 2 are neither stored nor read.
    m_stim.SetA1(3, 5);
    m_stim.SetA1(-1, 5);
    EXPECT_EQ(m_stim.GetA1(3), 0);
    EXPECT_EQ(m_stim.GetA1(-1), 0);
}

TEST_F(StimulatorTest, ProcessWideInstance)
{
    CMGrid9StimulatorProperty& global = CMGrid9StimulatorProperty::GetGrid9StimulatorProperty();
    EXPECT_EQ(&global, &CMGrid9StimulatorProperty::Grid9StimulatorProperty);
    EXPECT_EQ(global.GetChannelNumber(), 6);
}

TEST_F(StimulatorTest, ReadsVersion7Completely)
{
    StimulatorChunkDesc chunk;
    chunk.entries = {{"first", {{"g1", {{1, 2}, {3, 4}, {1, 9}}}, {"g2", {{7, 8}}}}}, {"second", {}}};
    chunk.stimuli[1].triggerSource = 12;
    chunk.stimuli[2].pre = 33;
    ASSERT_TRUE(Read(chunk));
    EXPECT_TRUE(m_afterChunk);

    const auto& entries = m_stim.GetListModeEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first, "first");
    ASSERT_EQ(entries[0].second.size(), 2u);
    const auto& g1 = entries[0].second.at("g1");
    ASSERT_EQ(g1.size(), 2u);
    EXPECT_EQ(g1.at(1), 9);  // a later key replaces an earlier one
    EXPECT_EQ(g1.at(3), 4);
    EXPECT_EQ(entries[0].second.at("g2").at(7), 8);
    EXPECT_EQ(entries[1].first, "second");
    EXPECT_TRUE(entries[1].second.empty());

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(m_stim.GetA1(i), -1000000);
        EXPECT_EQ(m_stim.GetT1(i), 200);
        EXPECT_EQ(m_stim.GetA2(i), 1000000);
        EXPECT_EQ(m_stim.GetT2(i), 200);
        EXPECT_EQ(m_stim.GetIPI(i), 5000);
        EXPECT_EQ(m_stim.GetPulseRepeat(i), 2);
        EXPECT_EQ(m_stim.GetIBI(i), 2000);
        EXPECT_EQ(m_stim.GetBurstRepeat(i), 4);
        EXPECT_EQ(m_stim.GetRepeatMode(i), 2);
        EXPECT_EQ(m_stim.GetTriggerType(i), 1);
    }
    EXPECT_EQ(m_stim.GetPre(2), 33);
    EXPECT_EQ(m_stim.GetTriggerSource(0), 3);
    EXPECT_EQ(m_stim.GetTriggerSource(1), 12);  // no shift after version 2
    EXPECT_EQ(m_stim.GetVoltageRangeInMicroVolt(), 10000000);
    EXPECT_EQ(m_stim.GetVoltageResolutionInMicroVolt(), 400);
    EXPECT_EQ(m_stim.GetCurrentRangeInNanoAmp(), 1000000);
    EXPECT_EQ(m_stim.GetCurrentResolutionInNanoAmp(), 40);
    EXPECT_EQ(m_stim.GetDacResolution(), 14u);
    EXPECT_EQ(m_stim.GetDacOffset(), 7);
    EXPECT_EQ(m_stim.GetChannelNumber(), 8);
    EXPECT_EQ(m_stim.GetSyncNumber(), 2);
    EXPECT_EQ(m_stim.GetTriggerNumber(), 4);
    EXPECT_EQ(m_stim.GetMode(), 1);
    EXPECT_FALSE(m_stim.GetBlanking());
    EXPECT_TRUE(m_stim.GetUseAsciiFile());
    EXPECT_EQ(m_stim.GetAsciiPathFileName(), "stim/list.asc");
    EXPECT_TRUE(m_stim.GetDedicatedStimulationElectrodes());
    // Not stored in the chunk: the reset values.
    EXPECT_TRUE(m_stim.GetAPS());
    EXPECT_FALSE(m_stim.GetListMode());
}

TEST_F(StimulatorTest, EveryVersionReadsItsOwnFields)
{
    for (int32_t version = 1; version <= 7; ++version) {
        SCOPED_TRACE(version);
        StimulatorChunkDesc chunk;
        chunk.version = version;
        chunk.entries = {{"e", {{"g", {{5, 6}}}}}};
        ASSERT_TRUE(Read(chunk));
        EXPECT_TRUE(m_afterChunk);
        EXPECT_EQ(m_stim.GetRepeatMode(0), version >= 3 ? 2 : 1);
        EXPECT_EQ(m_stim.GetStimulusTrigger(0),
                  version >= 2 ? CMGrid9StimulatorProperty::CStimulusTrigger(1, version == 2 ? 19 : 3)
                               : CMGrid9StimulatorProperty::CStimulusTrigger(0, -1));
        EXPECT_EQ(m_stim.GetUseAsciiFile(), version >= 6);
        EXPECT_EQ(m_stim.GetAsciiPathFileName(), version >= 6 ? "stim/list.asc" : "");
        EXPECT_EQ(m_stim.GetDedicatedStimulationElectrodes(), version >= 7);
        ASSERT_EQ(m_stim.GetListModeEntries().size(), 1u);
        EXPECT_EQ(m_stim.GetListModeEntries()[0].first, version < 5 ? "new" : "e");
        EXPECT_EQ(m_stim.GetListModeEntries()[0].second.at("g").at(5), 6);
        EXPECT_EQ(m_stim.GetTriggerNumber(), 4);
    }
}

TEST_F(StimulatorTest, Version2TriggerSourcesMoveUpBySixteen)
{
    StimulatorChunkDesc chunk;
    chunk.version = 2;
    chunk.stimuli[0] = {};
    chunk.stimuli[0].triggerType = 1, chunk.stimuli[0].triggerSource = 5;
    chunk.stimuli[1].triggerType = 1, chunk.stimuli[1].triggerSource = 17;
    chunk.stimuli[2].triggerType = 0, chunk.stimuli[2].triggerSource = 5;
    ASSERT_TRUE(Read(chunk));
    EXPECT_EQ(m_stim.GetTriggerSource(0), 21);
    EXPECT_EQ(m_stim.GetTriggerSource(1), 17);
    EXPECT_EQ(m_stim.GetTriggerSource(2), 5);

    chunk.stimuli[0].triggerSource = 16;
    chunk.stimuli[1].triggerSource = 0;
    ASSERT_TRUE(Read(chunk));
    EXPECT_EQ(m_stim.GetTriggerSource(0), 32);
    EXPECT_EQ(m_stim.GetTriggerSource(1), 0);
}

TEST_F(StimulatorTest, OldListFormGathersAllGroupsUnderOneEntry)
{
    StimulatorChunkDesc chunk;
    chunk.version = 4;
    chunk.entries = {{"", {{"alpha", {{1, 1}}}, {"beta1234", {{2, 2}, {3, 3}}}}}};
    ASSERT_TRUE(Read(chunk));
    const auto& entries = m_stim.GetListModeEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, "new");
    ASSERT_EQ(entries[0].second.size(), 2u);
    EXPECT_EQ(entries[0].second.at("alpha").size(), 1u);
    EXPECT_EQ(entries[0].second.at("beta1234").size(), 2u);  // an 8-byte name without terminator
}

TEST_F(StimulatorTest, LongListsAreReadWhole)
{
    StimulatorChunkDesc chunk;
    StimulusGroupDesc group{"big", {}, {}};
    for (uint16_t k = 0; k < 20000; ++k) group.pairs.emplace_back(k, static_cast<uint16_t>(k ^ 0x5A5A));
    chunk.entries = {{"long", {group}}};
    ASSERT_TRUE(Read(chunk));
    EXPECT_TRUE(m_afterChunk);
    const auto& map = m_stim.GetListModeEntries().at(0).second.at("big");
    ASSERT_EQ(map.size(), 20000u);
    EXPECT_EQ(map.at(19999), 19999 ^ 0x5A5A);
    EXPECT_EQ(m_stim.GetAsciiPathFileName(), "stim/list.asc");
}

TEST_F(StimulatorTest, DamagedChunksFailAndLeaveDefaults)
{
    StimulatorChunkDesc chunk;
    chunk.id = "STIMG8";
    EXPECT_FALSE(Read(chunk));
    ExpectDefaults();

    for (int32_t version : {0, -1}) {
        chunk = StimulatorChunkDesc();
        chunk.version = version;
        EXPECT_FALSE(Read(chunk)) << version;
    }
    for (uint32_t count : {0u, 2u, 4u}) {
        chunk = StimulatorChunkDesc();
        chunk.stimulusCount = count;
        EXPECT_FALSE(Read(chunk)) << count;
        ExpectDefaults();
    }

    // Counts far beyond the chunk end the read without reading or allocating past it.
    chunk = StimulatorChunkDesc();
    chunk.entries = {{"e", {{"g", {{1, 2}}, 0xFFFFFFFFu}}}};
    EXPECT_FALSE(Read(chunk));
    chunk = StimulatorChunkDesc();
    chunk.entryCount = 0xFFFFFFFFu;
    EXPECT_FALSE(Read(chunk));
    chunk.version = 3;
    EXPECT_FALSE(Read(chunk));
    ExpectDefaults();

    kvdtest::ByteWriter path;
    path.Id("STIMG9").I32(7).U32(0).U32(3);
    EXPECT_FALSE(Read(path.Bytes()));

    // A chunk cut anywhere fails.
    chunk = StimulatorChunkDesc();
    chunk.entries = {{"cut", {{"g", {{1, 2}}}}}};
    const std::vector<uint8_t> whole = chunk.Encode();
    for (std::size_t n = 0; n < whole.size(); ++n) {
        File f = [&] {
            kvdtest::WriteFile(m_dir.Path("cut.bin"), std::vector<uint8_t>(whole.begin(), whole.begin() + n));
            return File(std::fopen(m_dir.Path("cut.bin").c_str(), "rb"));
        }();
        EXPECT_FALSE(m_stim.ReadProperty(f.get())) << n;
    }
    ExpectDefaults();
}

TEST_F(StimulatorTest, DecodesFromMemory)
{
    StimulatorChunkDesc chunk;
    std::vector<uint8_t> bytes = chunk.Encode();
    const std::size_t length = bytes.size();
    bytes.push_back(0xEE);
    std::size_t consumed = 0;
    ASSERT_TRUE(m_stim.ReadProperty(bytes.data(), bytes.size(), consumed));
    EXPECT_EQ(consumed, length);
    EXPECT_FALSE(m_stim.ReadProperty(bytes.data(), length - 1, consumed));
    EXPECT_EQ(consumed, 0u);
    EXPECT_FALSE(m_stim.ReadProperty(nullptr, 0, consumed));
}

TEST_F(StimulatorTest, CopyAssignmentKeepsListModeAndAsciiFile)
{
    CMGrid9StimulatorProperty source;
    StimulatorChunkDesc chunk;
    chunk.entries = {{"e", {{"g", {{1, 2}}}}}};
    ASSERT_TRUE(Read(chunk));
    source = m_stim;  // source: defaults, list mode off, no ASCII file

    CMGrid9StimulatorProperty target;
    target.SetListMode(true);
    target.SetUseAsciiFile(true);
    target.SetAsciiPathFileName("keep.asc");
    target.SetAPS(true);
    m_stim.SetAPS(false);
    target = m_stim;
    EXPECT_TRUE(target.GetListMode());
    EXPECT_TRUE(target.GetUseAsciiFile());
    EXPECT_EQ(target.GetAsciiPathFileName(), "keep.asc");
    EXPECT_FALSE(target.GetAPS());
    EXPECT_EQ(target.GetListModeEntries().size(), 1u);
    EXPECT_EQ(target.GetA1(0), -1000000);
    EXPECT_EQ(target.GetTriggerSource(0), 3);
    EXPECT_EQ(target.GetDacOffset(), 7);
    EXPECT_EQ(target.GetMode(), 1);
    EXPECT_FALSE(target.GetBlanking());
    EXPECT_EQ(source.GetListModeEntries().size(), 1u);
}

}  // namespace
