// kvdsynth: writes the sample recording (see SampleRecording.h), or prints the raw words it holds.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tools/CommandLine.h"
#include "tools/SampleRecording.h"

namespace {

const char kTool[] = "kvdsynth";

void PrintHelp()
{
    std::printf(
        "usage: kvdsynth [--seconds S] [--layout] [--filter] [--detector] [--average] [--spike-parameters]\n"
        "                OUTPUT.kvd\n"
        "       kvdsynth --samples CHANNEL FIRST COUNT\n"
        "Writes the sample recording: a 60-electrode array at 25 kHz (16-bit), one digital channel with one\n"
        "stimulus a second, a trigger stream and a spike stream, in data chunks of 128 ms with an embedded\n"
        "chunk index. With --samples, prints the raw words the sample holds instead, one a line.\n"
        "\n"
        "  -s, --seconds S   length of the recording in seconds (default 10, at most 1000000)\n"
        "  -l, --layout      store the electrode layout and stimulator settings in the file (source type 3)\n"
        "      --filter      add a filter stream: the electrode signals through a 300 Hz high-pass filter\n"
        "      --detector    store the spike detector's settings in the spike stream\n"
        "      --average     add an averaged-sweep stream: every electrode in the 10 ms after each stimulus\n"
        "      --spike-parameters\n"
        "                    add a spike-analyzer stream: interval, rate and time of every detected spike\n"
        "      --samples     print COUNT words of CHANNEL (0 to 59: electrodes, 60: the digital channel)\n"
        "                    from sample FIRST on\n"
        "  -h, --help        show this help and exit\n"
        "  -V, --version     show the version and exit\n"
        "Exit status: 0 done, 1 the file could not be written, 2 wrong usage.\n");
}

// CHANNEL FIRST COUNT: prints the words; the exit status.
int PrintSamples(char** args)
{
    int64_t channel = 0;
    uint64_t first = 0, count = 0;
    if (!kvdtool::ParseInteger(args[0], 0, kvdsample::kElectrodes, channel))
        return kvdtool::UsageError(kTool, "no channel " + std::string(args[0]) + ": the sample has channels 0 to " +
                                              std::to_string(kvdsample::kElectrodes));
    if (!kvdtool::ParseUnsigned(args[1], UINT64_MAX, first))
        return kvdtool::UsageError(kTool,
                                   "FIRST must be a sample number from 0 on, not '" + std::string(args[1]) + "'");
    if (!kvdtool::ParseUnsigned(args[2], UINT64_MAX - first, count))
        return kvdtool::UsageError(kTool, "COUNT must be a whole number of samples from 0 to " +
                                              std::to_string(UINT64_MAX - first) + ", not '" + args[2] + "'");
    for (uint64_t i = first; i < first + count; ++i)
        std::printf("%u\n", channel == kvdsample::kElectrodes
                                ? kvdsample::DigitalSample(i)
                                : kvdsample::ElectrodeSample(static_cast<int>(channel), i));
    return std::fflush(stdout) == 0 ? kvdtool::kExitSuccess
                                    : kvdtool::Failure(kTool, std::string("cannot write: ") + std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv)
{
    enum { kSamples = 256, kFilter, kDetector, kAverage, kSpikeParameters };
    static const option kOptions[] = {
        {"seconds", required_argument, nullptr, 's'}, {"layout", no_argument, nullptr, 'l'},
        {"filter", no_argument, nullptr, kFilter},    {"detector", no_argument, nullptr, kDetector},
        {"average", no_argument, nullptr, kAverage},  {"spike-parameters", no_argument, nullptr, kSpikeParameters},
        {"samples", no_argument, nullptr, kSamples},  {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},       {nullptr, 0, nullptr, 0}};
    kvdsample::Options options;
    bool samples = false;
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":s:lhV", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 's':
            if (!kvdtool::ParseReal(optarg, 0.0, 1e6, options.seconds) || !(options.seconds > 0.0))
                return kvdtool::UsageError(kTool,
                                           "--seconds takes a number of seconds above 0 and up to 1000000, "
                                           "not '" +
                                               std::string(optarg) + "'");
            break;
        case 'l': options.storedLayout = true; break;
        case kFilter: options.filterStream = true; break;
        case kDetector: options.detectorSettings = true; break;
        case kAverage: options.averageStream = true; break;
        case kSpikeParameters: options.spikeParameterStream = true; break;
        case kSamples: samples = true; break;
        case 'h': PrintHelp(); return kvdtool::kExitSuccess;
        case 'V': kvdtool::PrintVersion(kTool); return kvdtool::kExitSuccess;
        default: return kvdtool::OptionError(kTool, c, argv);
        }
    }
    const int operands = argc - optind;
    if (samples) {
        if (operands != 3) return kvdtool::UsageError(kTool, "--samples takes three numbers: CHANNEL FIRST COUNT");
        return PrintSamples(argv + optind);
    }
    if (operands != 1) return kvdtool::UsageError(kTool, "give one OUTPUT.kvd file");
    const std::string output = argv[optind];
    try {
        kvdsample::WriteSampleRecording(output, options);
    } catch (const std::exception& e) {
        return kvdtool::Failure(kTool, "cannot write " + output + ": " + e.what());
    }
    return kvdtool::kExitSuccess;
}
