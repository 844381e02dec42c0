// kvdmerge: joins recordings made one after the other with identical settings into one new recording.
//   kvdmerge [--force] [--quiet] OUT.kvd IN.kvd...
// Continuous recordings follow each other without a gap, triggered ones keep their times; the result gets
// a fresh chunk index. Exit status: 0 merged, 1 refused or failed, 2 wrong usage.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "tools/CommandLine.h"

namespace {

const char kTool[] = "kvdmerge";
const char kUsage[] = "usage: kvdmerge [--force] [--quiet] OUT.kvd IN.kvd...\n";

const char kHelp[] =
    "Joins recordings made one after the other with identical settings into one new recording OUT.kvd.\n"
    "The inputs are taken in the order of their start times. Continuous recordings follow each other\n"
    "without a gap; triggered recordings keep their recorded times. The result gets a fresh chunk index.\n"
    "\n"
    "The inputs must come from the same writer version and agree in source type, recording mode, sample\n"
    "rates, streams and recorded channels. The output is written under a temporary name beside OUT.kvd and\n"
    "renamed only when the merge has succeeded: a failed or interrupted merge (Ctrl-C) leaves no output.\n"
    "\n"
    "  -f, --force    overwrite OUT.kvd if it exists (never one of the inputs)\n"
    "  -q, --quiet    no progress on standard error\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Exit status: 0 merged, 1 refused or failed, 2 wrong usage.\n";

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) { g_interrupted = 1; }

// Progress as the merge reports it: a bar on a terminal, otherwise one line for every new step.
bool g_quiet = false;
bool g_terminal = false;
std::string g_lastText;
bool g_barShown = false;

int Progress(const char* text, int percent)
{
    if (!g_quiet) {
        const std::string current = text ? text : "";
        if (g_terminal) {
            constexpr int kWidth = 30;
            const int filled = percent < 0 ? 0 : percent > 100 ? kWidth : percent * kWidth / 100;
            std::fprintf(stderr, "\r[%.*s%*s] %3d%% %-60.60s", filled, "##############################",
                         kWidth - filled, "", percent, current.c_str());
            std::fflush(stderr);
            g_barShown = true;
        } else if (current != g_lastText) {
            std::fprintf(stderr, "%s\n", current.c_str());
        }
        g_lastText = current;
    }
    return g_interrupted ? 1 : 0;
}

void EndProgressLine()
{
    if (g_barShown) std::fputc('\n', stderr);
    g_barShown = false;
}

const char* OpenResultText(int result)
{
    switch (result) {
    case FILE_OPEN_FAILED: return "cannot be opened";
    case WRONG_FILEFORMAT: return "is not a recording of this format";
    case forWRONG_HEADER: return "has a damaged file header or one of an unknown version";
    default: return "cannot be read";
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bool force = false;
    static const option kOptions[] = {{"force", no_argument, nullptr, 'f'},
                                      {"quiet", no_argument, nullptr, 'q'},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":fqhV", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'f': force = true; break;
        case 'q': g_quiet = true; break;
        case 'h':
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return kvdtool::kExitSuccess;
        case 'V': kvdtool::PrintVersion(kTool); return kvdtool::kExitSuccess;
        default: return kvdtool::OptionError(kTool, c, argv);
        }
    }
    if (argc - optind < 2) return kvdtool::UsageError(kTool, "give the output and at least one recording");
    const char* output = argv[optind];
    struct stat st;
    if (!force && lstat(output, &st) == 0) {
        return kvdtool::Failure(kTool, std::string(output) + " exists; --force overwrites it");
    }

    std::vector<std::unique_ptr<CKVXAStreamFile>> inputs;
    for (int i = optind + 1; i < argc; ++i) {
        inputs.push_back(std::make_unique<CKVXAStreamFile>());
        errno = 0;
        const int result = inputs.back()->OpenFile(argv[i]);
        if (result != OK) {
            std::string why = std::string(argv[i]) + " " + OpenResultText(result);
            if (result == FILE_OPEN_FAILED && errno != 0) why += std::string(": ") + std::strerror(errno);
            return kvdtool::Failure(kTool, why);
        }
    }
    std::vector<CKVXAStreamFile*> files;
    for (const auto& input : inputs) files.push_back(input.get());

    // Ctrl-C and termination ask the merge to stop through its progress callback; it then removes its
    // temporary file. Interrupted writes resume, so that a signal is never taken for a write error.
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    g_terminal = isatty(STDERR_FILENO) != 0;

    CKVXAStreamFile writer;
    const int result = writer.CopyMerge(files.data(), static_cast<int>(files.size()), output, Progress);
    EndProgressLine();
    if (result != 0) {
        char message[256];
        CKVXAStreamFile::GetLastMergeError(message, sizeof message);
        message[sizeof message - 1] = 0;
        return kvdtool::Failure(kTool, message);
    }
    return kvdtool::kExitSuccess;
}
