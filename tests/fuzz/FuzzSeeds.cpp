// Writes small recordings of every stream kind and header version as a starting corpus for kvd_fuzz.
#include <cstdio>
#include <string>

#include "tests/support/EveryKindRecording.h"
#include "tests/support/SettingsBlocks.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvd_fuzz_seeds CORPUS_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    int n = 0;
    for (uint16_t version : {0, 4, 7, 11})
        for (bool triggered : {false, true})
            kvdtest::EveryKindRecording(version, triggered).WriteTo(dir + "/seed" + std::to_string(n++) + ".kvd");
    // Every settings block kind, each block version of filter and spike blocks once.
    for (uint16_t v = 0; v <= 8; ++v) {
        kvdtest::RecordingDesc rec;
        kvdtest::StreamDesc spikes = kvdtest::SpikeStream(2, v);
        spikes.formatPrivate = v > 4 ? kvdtest::SpikeSettingsBlock(kvdtest::ThresholdDetector(2, -0.00004f, {1}), v)
                                     : kvdtest::OldSpikeSettingsBlock(kvdtest::OldSpikeListDesc(), v, true);
        rec.streams = {kvdtest::FilterStream(2, {}, v), spikes, kvdtest::ChannelToolStream(1),
                       kvdtest::AverageStream(1)};
        rec.WriteTo(dir + "/seed" + std::to_string(n++) + ".kvd");
    }
    return 0;
}
