// kvdsynth: writes the sample recording (see SampleRecording.h).
//   kvdsynth [--seconds S] OUTPUT.kvd
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "tools/SampleRecording.h"

int main(int argc, char** argv)
{
    kvdsample::Options options;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            options.seconds = std::atof(argv[++i]);
        } else if (argv[i][0] != '-' && output.empty()) {
            output = argv[i];
        } else {
            output.clear();
            break;
        }
    }
    if (output.empty()) {
        std::fprintf(stderr, "usage: kvdsynth [--seconds S] OUTPUT.kvd\n");
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
