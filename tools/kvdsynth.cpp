// kvdsynth: writes the sample recording (see SampleRecording.h).
//   kvdsynth [--seconds S] [--layout] OUTPUT.kvd
// --layout writes source type 3: the electrode layout stored in the file, and a stimulator chunk.
//   kvdsynth --samples CHANNEL FIRST COUNT   prints raw words the sample holds (channel 60: the digital one)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
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
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            options.seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--layout") == 0) {
            options.storedLayout = true;
        } else if (argv[i][0] != '-' && output.empty()) {
            output = argv[i];
        } else {
            output.clear();
            break;
        }
    }
    if (output.empty()) {
        std::fprintf(stderr, "usage: kvdsynth [--seconds S] [--layout] OUTPUT.kvd\n");
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
