// The records of every stream kind in kvdinfo's outputs (--json "events" lists, --reader text), and the
// averaged-sweep and spike-parameter streams of the sample recording.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "reader/KVXAStreamFile.h"
#include "settings/MIAnalyzerProperty.h"
#include "streams/KVXAEvtEvoked.h"
#include "streams/KVXAEvtSpikeParameter.h"
#include "streams/KVXAStream.h"
#include "tests/support/AnalyzerBlocks.h"
#include "tests/support/EventRecords.h"
#include "tests/support/SettingsBlocks.h"
#include "api/RecordingJson.h"
#include "tools/SampleRecording.h"

namespace {

using nlohmann::json;

constexpr uint64_t kStart = kvdtest::kDefaultStart;

json Document(const std::string& path, const kvdjson::EventCounts& counts)
{
    CKVXAStreamFile file;
    EXPECT_EQ(file.OpenFile(path.c_str()), OK);
    return json::parse(kvdjson::Dump(kvdjson::RecordingJson(file, counts)));
}

TEST(EventJson, ListsTheFirstRecordsOfEveryStreamKind)
{
    kvdtest::TempDir dir;
    const std::string path = kvdtest::EveryEventKind().WriteTo(dir.Path("every.kvd"));
    kvdjson::EventCounts counts;
    counts.frames = 2;
    const json doc = Document(path, counts);
    const json& s = doc["streams"];

    // Frames: the requested number, 40 us apart, every channel with its hardware ID.
    ASSERT_EQ(s[0]["events"].size(), 2u);
    EXPECT_EQ(s[0]["events"][1]["NanosecondsFromStart"], 40000);
    EXPECT_EQ(s[0]["events"][1]["RawTimeStamp"], kStart + 40000);
    EXPECT_EQ(s[0]["events"][1]["Channels"][1]["HWID"], 7);
    EXPECT_EQ(s[0]["events"][1]["Channels"][1]["ADData"], kvdtest::SampleWord(0, 1, 1));

    ASSERT_EQ(s[1]["events"].size(), 2u);
    EXPECT_EQ(s[1]["events"][0]["NanosecondsFromStart"], 100);
    EXPECT_EQ(s[1]["events"][0]["ADData"], 7);
    EXPECT_EQ(s[1]["events"][0]["StimulusNumber"], 3);
    EXPECT_EQ(s[2]["events"][0]["ADData"], json({1, 2}));
    EXPECT_EQ(s[3]["events"][0]["HWID"], 7);
    EXPECT_EQ(s[3]["events"][0]["TimeWindowCount"], 3);
    EXPECT_EQ(s[3]["events"][0]["ADData"], json({5, 6, 7}));

    const json& param = s[4]["events"][0]["Channels"];
    ASSERT_EQ(param.size(), 2u);
    EXPECT_FLOAT_EQ(param[1]["Min"].get<float>(), static_cast<float>(-4 * (1.0 / 8192.0 * 1e-3)));
    EXPECT_EQ(param[1]["Number"], 12.0);
    EXPECT_EQ(param[1]["CArray"].size(), 2u);
    EXPECT_FALSE(param[1].contains("Max"));
    EXPECT_EQ(s[4]["info"]["MinPos"], 0);
    EXPECT_EQ(s[4]["info"]["NumberPos"], 1);
    EXPECT_EQ(s[4]["info"]["Parameters"][8]["Name"], "Number");

    const json& spp = s[5]["events"][0];
    EXPECT_EQ(spp["UnitId"], 2);
    EXPECT_EQ(spp["Parameter"], json({25.0, 4.5, 650.0}));
    EXPECT_EQ(s[5]["info"]["Parameters"][0]["ParameterUnit"], "s");
    EXPECT_EQ(s[5]["info"]["UnitSelected"], json({true, true, false, false}));
    EXPECT_EQ(s[6]["events"][0]["TimestampOfBurst"], kStart + 10);
    EXPECT_EQ(s[6]["events"][0]["Parameter"], json({1.0, 2.5, 6.0}));
    EXPECT_EQ(s[6]["info"]["BurstSettings"].size(), 5u);

    // By default no frames and up to 10 records; --events 1 keeps one.
    const json fewer = Document(path, {1, 0});
    EXPECT_TRUE(fewer["streams"][0]["events"].empty());
    EXPECT_EQ(fewer["streams"][1]["events"].size(), 1u);
}

// Standard output and exit status of a command.
std::pair<std::string, int> RunCommand(const std::string& command)
{
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    std::string text;
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    const int status = pipe ? pclose(pipe) : -1;
    return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(EventJson, KvdinfoPrintsRecordsOfEveryStream)
{
    kvdtest::TempDir dir;
    const std::string path = kvdtest::EveryEventKind().WriteTo(dir.Path("every.kvd"));
    const auto text = RunCommand(std::string(KVDINFO_PATH) + " --reader --frames 1 " + path);
    ASSERT_EQ(text.second, 0);
    for (const char* line : {"2 channels:", "value 7  manual 1  trial 2  stimulus 3",
                             "channel   1  hardware ID 7  3 windows", "Min ", "Number 12", "ISI 2.5e-05 ms", "burst at",
                             "analyzer: input elec0001", "spike analyzer: input spks0001", "burst analyzer"})
        EXPECT_NE(text.first.find(line), std::string::npos) << line;
    // Frames only when asked for.
    EXPECT_EQ(RunCommand(std::string(KVDINFO_PATH) + " --reader " + path).first.find("2 channels:"), std::string::npos);

    const auto none = RunCommand(std::string(KVDINFO_PATH) + " --json --events 0 " + path);
    ASSERT_EQ(none.second, 0);
    const json doc = json::parse(none.first);
    for (const json& s : doc["streams"]) EXPECT_TRUE(s["events"].empty());
    for (const char* bad : {" --json --events -1 ", " --reader --frames x ", " --events 3 "})
        EXPECT_EQ(RunCommand(std::string(KVDINFO_PATH) + bad + path).second, 2) << bad;
}

TEST(EventJson, TheSampleAveragesSweepsAndAnalyzesSpikes)
{
    kvdtest::TempDir dir;
    kvdsample::Options options;
    options.seconds = 2.5;
    options.averageStream = options.spikeParameterStream = true;
    const std::string path = dir.Path("sample.kvd");
    kvdsample::WriteSampleRecording(path, options);
    CKVXAStreamFile file;
    ASSERT_EQ(file.OpenFile(path.c_str()), OK);
    ASSERT_EQ(file.GetStreamCount(), 6);

    // Three stimuli (0, 1 and 2 s): 60 records each, every one the mean of the sweeps so far.
    std::unique_ptr<CKVXAEvent> cursor(file.GetStream(4)->GetFirstEvent());
    int records = 0;
    for (; cursor; ++records) {
        const auto& avg = static_cast<const CKVXAEvtAverage&>(*cursor);
        const int k = records / 60;
        EXPECT_EQ(avg.GetRawTimeStamp(), kStart + (k * kvdsample::kSampleRate + kvdsample::kAverageWindow) * 40000);
        EXPECT_EQ(avg.GetTimeWindowCount(), k + 1);
        EXPECT_EQ(avg.GetCount(), static_cast<int32_t>(kvdsample::kAverageWindow));
        for (const uint64_t j : {0, 17, 249}) {
            int64_t sum = 0;
            for (int i = 0; i <= k; ++i)
                sum += kvdsample::ElectrodeSample(avg.GetChannel(), i * kvdsample::kSampleRate + j);
            EXPECT_EQ(avg.GetADData(static_cast<int32_t>(j)), sum / (k + 1));
        }
        if (!cursor->Next()) cursor.reset();
    }
    EXPECT_EQ(records, 180);

    // Spike parameters: per spike its time since the start, and the interval since the channel's previous one.
    std::unique_ptr<CKVXAEvent> spikes(file.GetStream(3)->GetFirstEvent());
    std::unique_ptr<CKVXAEvent> params(file.GetStream(5)->GetFirstEvent());
    std::vector<uint64_t> last(kvdsample::kElectrodes, 0);
    int n = 0, intervals = 0;
    while (spikes && params) {
        const auto& p = static_cast<const CKVXAEvtSpikeParameter&>(*params);
        EXPECT_EQ(p.GetRawTimeStamp(), spikes->GetRawTimeStamp());
        EXPECT_FLOAT_EQ(p.Parameter(2), static_cast<float>(static_cast<int64_t>(spikes->GetRawTimeStamp() - kStart)));
        uint64_t& previous = last[p.GetChannel()];
        EXPECT_EQ(p.Parameter(0), previous ? static_cast<float>(p.GetRawTimeStamp() - previous) : 0.0f);
        intervals += previous != 0;
        previous = p.GetRawTimeStamp();
        ++n;
        if (!spikes->Next()) spikes.reset();
        if (!params->Next()) params.reset();
    }
    EXPECT_GT(n, 40);
    EXPECT_GT(intervals, 0);
    EXPECT_EQ(spikes, nullptr);
    EXPECT_EQ(params, nullptr);
}

}  // namespace
