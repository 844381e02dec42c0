// Writes the starting corpora of the fuzz targets: small recordings of every stream kind and header
// version, with larger ones whose entities exceed what a plain read of everything reaches (for
// kvd_fuzz), and one input per settings reader, layout chunk and layout description file (for
// kvd_settings_fuzz).
#include <cstdio>
#include <string>
#include <vector>

#include "tests/fuzz/SettingsFuzzInput.h"
#include "tests/support/EventRecords.h"
#include "tests/support/EveryKindRecording.h"
#include "tests/support/LayoutChunkBuilder.h"
#include "tests/support/SettingsBlocks.h"
#include "tests/support/StimulatorChunkBuilder.h"

namespace {

using kvdfuzz::Reader;
using kvdfuzz::SettingsInput;

std::vector<uint8_t> Text(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<std::vector<uint8_t>> SettingsSeeds()
{
    constexpr uint8_t kWriter3 = 3;
    std::vector<std::vector<uint8_t>> seeds;
    for (uint16_t v = 1; v <= 6; ++v) {
        seeds.push_back(SettingsInput(Reader::Trigger, v, kWriter3, kvdtest::TriggerSettingsDesc().Encode(v, true)));
        kvdtest::OldSpikeListDesc list;
        list.records.resize(2);
        seeds.push_back(SettingsInput(Reader::OldSpikeList, v, kWriter3, list.Encode(v, true)));
    }
    for (uint16_t v = 0; v <= 3; ++v)
        seeds.push_back(SettingsInput(Reader::Filter, v, kWriter3, kvdtest::FilterSettingsDesc().Encode(v)));
    for (uint16_t v = 5; v <= 8; ++v)
        seeds.push_back(
            SettingsInput(Reader::Spike, v, kWriter3, kvdtest::ThresholdDetector(3, -2e-5f, {1, 2}).Encode(v)));
    seeds.push_back(SettingsInput(Reader::ChannelTool, 1, kWriter3, kvdtest::ChannelToolDesc().Encode()));
    seeds.push_back(SettingsInput(Reader::Average, 1, kWriter3, kvdtest::EvokedSettingsDesc().Encode()));
    for (uint16_t v = 1; v <= 4; ++v)
        seeds.push_back(SettingsInput(Reader::TimeWindow, v, kWriter3, kvdtest::TimeWindowDesc().Encode(v)));
    for (int32_t v = 1; v <= 7; ++v) {
        kvdtest::StimulatorChunkDesc stimulator;
        stimulator.version = v;
        stimulator.entries.resize(2);
        seeds.push_back(SettingsInput(Reader::Stimulator, 0, 0, stimulator.Encode()));
    }
    seeds.push_back(SettingsInput(Reader::LayoutChunk, 0, 0, kvdtest::GridLayout(8, 2).Encode()));
    seeds.push_back(SettingsInput(Reader::HardwareFile, 0, 0,
                                  Text("KVX Hardware Layout\nVersion: 2\nName: Rack 64\nLayoutConfig: 1:60 2:120\n"
                                       "StdMeaLayouts: 2\nLayout:\ncaption\n5 E 1000 1 3000 ch05 7 0\n"
                                       "6 A 1 0 50000 an1 8 1\n")));
    seeds.push_back(SettingsInput(Reader::AmplifierFile, 0, 0,
                                  Text("KVX Amplifier Layout\nVersion: 1\nName: Amp\nAvailOffsets:   0 60  120\n"
                                       "Layout:\nHW kind gain low high\n0 E 1100 1 3000\n1 A 1 0 50000\n")));
    seeds.push_back(SettingsInput(Reader::MeaFile, 0, 0,
                                  Text("KVX MEA Layout\nVersion: 1\nName: Grid\nAvailOffsets: 0 64\nLayout:\ncap\n"
                                       "0 12 A 100 200 0 30 30 30 10 20 100 100\n1 13 SR 1 2 3 4 5 6 7 8 9 10\n")));
    return seeds;
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kvd_fuzz_seeds RECORDING_CORPUS_DIR SETTINGS_CORPUS_DIR\n");
        return 2;
    }
    const std::string recordings = argv[1], settings = argv[2];
    int n = 0;
    for (uint16_t version : {0, 4, 7, 11})
        for (bool triggered : {false, true})
            for (uint32_t scale : {1u, 12u})
                kvdtest::EveryKindRecording(version, triggered, scale)
                    .WriteTo(recordings + "/seed" + std::to_string(n++) + ".kvd");
    // Every settings block kind, each block version of filter and spike blocks once.
    for (uint16_t v = 0; v <= 8; ++v) {
        kvdtest::RecordingDesc rec;
        kvdtest::StreamDesc spikes = kvdtest::SpikeStream(2, v);
        spikes.formatPrivate = v > 4 ? kvdtest::SpikeSettingsBlock(kvdtest::ThresholdDetector(2, -0.00004f, {1}), v)
                                     : kvdtest::OldSpikeSettingsBlock(kvdtest::OldSpikeListDesc(), v, true);
        rec.streams = {kvdtest::FilterStream(2, {}, v), spikes, kvdtest::ChannelToolStream(1),
                       kvdtest::AverageStream(1)};
        rec.WriteTo(recordings + "/seed" + std::to_string(n++) + ".kvd");
    }
    n = 0;
    for (const std::vector<uint8_t>& seed : SettingsSeeds()) {
        if (!Write(settings + "/seed" + std::to_string(n++), seed)) {
            std::fprintf(stderr, "kvd_fuzz_seeds: cannot write to %s\n", settings.c_str());
            return 1;
        }
    }
    return 0;
}
