// kvdsynth: writes the sample recording (see SampleRecording.h).
//   kvdsynth [--seconds S] [--layout] [--filter] [--detector] [--average] [--spike-parameters] OUTPUT.kvd
// --layout writes source type 3: the electrode layout stored in the file, and a stimulator chunk.
// --filter adds a filter stream (300 Hz high pass); --detector stores the spike detector's settings.
// --average adds an averaged-sweep stream (every electrode after every stimulus); --spike-parameters adds
// a spike-parameter stream (interval, rate and time of every detected spike).
//   kvdsynth --samples CHANNEL FIRST COUNT   prints raw words the sample holds (channel 60: the digital one)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <getopt.h>
#include <string>

#include "tools/SampleRecording.h"

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--samples") == 0) {
        const int channel = std::atoi(argv[2]);
        const uint64_t first = std::strtoull(argv[3], nullptr, 10);
        const uint64_t count = std::strtoull(argv[4], nullptr, 10);
        for (uint64_t i = first; i < first + count; ++i)
            std::printf("%u\n", channel == kvdsample::kElectrodes ? kvdsample::DigitalSample(i)
                                                                  : kvdsample::ElectrodeSample(channel, i));
        return 0;
    }
    kvdsample::Options options;
    std::string output;
    bool usage = false;
    enum { OPT_SECONDS = 256, OPT_LAYOUT, OPT_FILTER, OPT_DETECTOR, OPT_AVERAGE, OPT_SPIKE_PARAMETERS };
    static const option kOptions[] = {
        {"seconds", required_argument, nullptr, OPT_SECONDS}, {"layout", no_argument, nullptr, OPT_LAYOUT},
        {"filter", no_argument, nullptr, OPT_FILTER},         {"detector", no_argument, nullptr, OPT_DETECTOR},
        {"average", no_argument, nullptr, OPT_AVERAGE},
        {"spike-parameters", no_argument, nullptr, OPT_SPIKE_PARAMETERS},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1;) {
        switch (c) {
        case OPT_SECONDS: options.seconds = std::atof(optarg); break;
        case OPT_LAYOUT: options.storedLayout = true; break;
        case OPT_FILTER: options.filterStream = true; break;
        case OPT_DETECTOR: options.detectorSettings = true; break;
        case OPT_AVERAGE: options.averageStream = true; break;
        case OPT_SPIKE_PARAMETERS: options.spikeParameterStream = true; break;
        default: usage = true; break;
        }
    }
    if (optind + 1 == argc && !usage) output = argv[optind];
    if (output.empty()) {
        std::fprintf(stderr, "usage: kvdsynth [--seconds S] [--layout] [--filter] [--detector] [--average]\n"
                             "                [--spike-parameters] OUTPUT.kvd\n");
        return 2;
    }
    try {
        kvdsample::WriteSampleRecording(output, options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvdsynth: %s\n", e.what());
        return 1;
    }
    return 0;
}
