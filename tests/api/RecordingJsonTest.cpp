// The JSON description of a recording (kvdinfo --json): it parses, has the documented shape and holds the
// values the recording builder wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "reader/KVXAStreamFile.h"
#include "tests/support/EventRecords.h"
#include "tests/support/SettingsBlocks.h"
#include "tests/support/StimulatorChunkBuilder.h"
#include "api/RecordingJson.h"

namespace {

using nlohmann::json;

kvdtest::RecordingDesc EveryBlock()
{
    kvdtest::RecordingDesc rec;
    rec.comment = "caf\xE9 at 5 \xB5V";  // ISO 8859-1
    kvdtest::StreamDesc trigger = kvdtest::TriggerStream();
    trigger.formatPrivate = kvdtest::TriggerSettingsBlock(kvdtest::TriggerSettingsDesc(), 6, true);
    kvdtest::StreamDesc spikes = kvdtest::SpikeStream(2, 8, "spks0001", 3);
    spikes.formatPrivate = kvdtest::SpikeSettingsBlock(kvdtest::ThresholdDetector(2, -0.00004f, {1, 2}), 8);
    kvdtest::FilterSettingsDesc filter;
    filter.parameterValues = {300.0f, 3000.0f};
    kvdtest::ChannelToolDesc tool;
    tool.refChannelName = std::string("E\0", 2);
    rec.streams = {kvdtest::ElectrodeStream(2),
                   trigger,
                   spikes,
                   kvdtest::FilterStream(2, filter, 3, "filt0001", 4),
                   kvdtest::ChannelToolStream(1, tool),
                   kvdtest::AverageStream(1)};
    return rec;
}

// The document of a recording, through its text.
json Document(const kvdtest::RecordingDesc& rec, kvdtest::TempDir& dir)
{
    CKVXAStreamFile file;
    EXPECT_EQ(file.OpenFile(rec.WriteTo(dir.Path("r.kvd")).c_str()), OK);
    return json::parse(kvdjson::Dump(kvdjson::RecordingJson(file)));
}

TEST(RecordingJson, HoldsTheHeaderStreamsChannelsAndEveryInformationBlock)
{
    kvdtest::TempDir dir;
    const json doc = Document(EveryBlock(), dir);
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc["file"]["HeaderVersion"], 11);
    EXPECT_EQ(doc["file"]["StartTime"], kvdtest::kDefaultStart);
    EXPECT_EQ(doc["file"]["Comment"], "caf\u00e9 at 5 \u00b5V");
    EXPECT_TRUE(doc["stimulator"].is_null());
    EXPECT_TRUE(doc["layout"].is_object());

    const json& streams = doc["streams"];
    ASSERT_EQ(streams.size(), 6u);
    for (std::size_t i = 0; i < streams.size(); ++i) {
        EXPECT_EQ(streams[i]["index"], i);
        for (const char* key : {"type", "buffer_id", "header", "channels", "info"})
            EXPECT_TRUE(streams[i].contains(key)) << i << " " << key;
    }
    EXPECT_EQ(streams[0]["type"], "analog");
    EXPECT_EQ(streams[0]["buffer_id"], "elec0001");
    EXPECT_TRUE(streams[0]["info"].is_null());
    EXPECT_EQ(streams[0]["header"]["ChannelCount"], 2);
    EXPECT_EQ(streams[0]["channels"][1]["Name"], "E2");
    EXPECT_EQ(streams[0]["channels"][1]["HWID"], 1);

    const json& trigger = streams[1]["info"];
    EXPECT_EQ(trigger["Channel"], 12);
    EXPECT_EQ(trigger["Level"], -250);
    EXPECT_EQ(trigger["InputBufferID"], "elec0001");

    const json& spike = streams[2]["info"];
    EXPECT_EQ(spike["PreTrigger_us"], 1000);
    EXPECT_EQ(spike["DeadTime_us"], 2500);
    EXPECT_EQ(spike["SpikeUnitIDs"], json({1, 2}));
    ASSERT_EQ(spike["Channels"].size(), 2u);
    EXPECT_EQ(spike["Channels"][1]["HWID"], 1);
    EXPECT_FLOAT_EQ(spike["Channels"][1]["ThresholdLevel"].get<float>(), -0.00004f);
    EXPECT_FLOAT_EQ(spike["Channels"][1]["SpikeUnits"][1]["SpikeUnitWndTime"].get<float>(), 0.0004f);

    const json& filter = streams[3]["info"];
    EXPECT_EQ(filter["FilterName"], "Butterworth 2nd order");
    EXPECT_EQ(filter["PassTypeAsString"], "High Pass");
    EXPECT_EQ(filter["LowerCutoff"], 300);
    EXPECT_EQ(filter["UpperCutoff"], 3000);
    EXPECT_EQ(filter["CenterFrequency"], 60.0);
    EXPECT_EQ(filter["Parameters"][0]["Unit"], "Hz");

    EXPECT_EQ(streams[4]["info"]["RefChannelName"], std::string("E\0", 2));
    EXPECT_EQ(streams[5]["info"]["TimeWindowWindowExtend"], 100.0);
    EXPECT_EQ(streams[5]["info"]["TriggerBufferID"], "trig0001");
}

TEST(RecordingJson, DamagedBlocksAreNullAndTheStimulatorIsDescribed)
{
    kvdtest::TempDir dir;
    kvdtest::RecordingDesc rec = EveryBlock();
    rec.streams[3].formatPrivate.resize(20);
    rec.stimulatorFlag = 1;
    rec.stimulatorChunk = kvdtest::StimulatorChunkDesc().Encode();
    const json doc = Document(rec, dir);
    EXPECT_TRUE(doc["streams"][3]["info"].is_null());
    EXPECT_EQ(doc["stimulator"]["ChannelNumber"], 8);
    EXPECT_EQ(doc["stimulator"]["Stimuli"].size(), 3u);
}

// Damage anywhere in the header section (where the settings blocks are): the document of whatever still
// opens is built and written, and every block is decoded or null, never read outside its bytes.
TEST(RecordingJson, DamagedRecordingsStillGiveADocument)
{
    kvdtest::TempDir dir;
    const std::vector<uint8_t> whole = EveryBlock().Encode();
    const std::string path = dir.Path("d.kvd");
    std::mt19937 random(20261208);
    int opened = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = whole;
        for (int k = 0; k < 3; ++k) {
            const std::size_t at = random() % bytes.size();
            bytes[at] = (round % 2) ? static_cast<uint8_t>(random()) : 0xFF;
        }
        if (round % 5 == 0) bytes.resize(random() % bytes.size());
        kvdtest::WriteFile(path, bytes);
        CKVXAStreamFile file;
        if (file.OpenFile(path.c_str()) != OK) continue;
        ++opened;
        const json doc = json::parse(kvdjson::Dump(kvdjson::RecordingJson(file)));
        EXPECT_TRUE(doc["streams"].is_array());
    }
    EXPECT_GT(opened, 30);
}

// The standard output of `kvdinfo --json ARGS`, parsed; its exit status must be 0.
json KvdinfoJson(const std::string& args)
{
    const std::string command = std::string(KVDINFO_PATH) + " --json " + args;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return nullptr;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return json::parse(text);
}

TEST(RecordingJson, KvdinfoWritesOneDocument)
{
    kvdtest::TempDir dir;
    const json doc = KvdinfoJson(EveryBlock().WriteTo(dir.Path("k.kvd")));
    EXPECT_EQ(doc["streams"][3]["info"]["FilterName"], "Butterworth 2nd order");

    // The built-in sample has a 300 Hz high-pass filter stream and a threshold detector on it.
    const json sample = KvdinfoJson("");
    const json& streams = sample["streams"];
    ASSERT_EQ(streams.size(), 7u);
    EXPECT_EQ(streams[3]["type"], "spikes");
    EXPECT_EQ(streams[3]["info"]["InputBufferID"], "filt0001");
    EXPECT_EQ(streams[3]["info"]["Channels"].size(), 60u);
    EXPECT_FLOAT_EQ(streams[3]["info"]["Channels"][59]["ThresholdLevel"].get<float>(), -43.75e-6f);
    EXPECT_EQ(streams[4]["type"], "filter");
    EXPECT_EQ(streams[4]["info"]["LowerCutoff"], 300);
    EXPECT_EQ(streams[4]["info"]["PassType"], 2);
    EXPECT_EQ(streams[4]["channels"].size(), 60u);
}

}  // namespace
