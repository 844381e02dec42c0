#include "tools/CommandLine.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>

namespace kvdtool {

void PrintVersion(const char* tool) { std::printf("%s (nsKVDLibrary) %s\n", tool, KVD_VERSION); }

int Failure(const char* tool, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
    return kExitFailure;
}

int UsageError(const char* tool, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", tool, message.c_str(), tool);
    return kExitUsage;
}

int OptionError(const char* tool, int answer, char** argv)
{
    // A long option is the argument just passed (up to its '='); a short one is the letter in optopt.
    const std::string word = optind > 0 ? argv[optind - 1] : "";
    const std::string name =
        word.compare(0, 2, "--") == 0 ? word.substr(0, word.find('=')) : std::string("-") + static_cast<char>(optopt);
    if (answer == ':') return UsageError(tool, "option '" + name + "' needs a value");
    return UsageError(tool, "unrecognized option '" + name + "'");
}

bool ParseInteger(const char* text, int64_t min, int64_t max, int64_t& value)
{
    if (!text || !*text || !(*text == '-' || (*text >= '0' && *text <= '9'))) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (*end != '\0' || errno != 0 || v < min || v > max) return false;
    value = v;
    return true;
}

bool ParseUnsigned(const char* text, uint64_t max, uint64_t& value)
{
    if (!text || !(*text >= '0' && *text <= '9')) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno != 0 || v > max) return false;
    value = v;
    return true;
}

bool ParseReal(const char* text, double min, double max, double& value)
{
    if (!text || !*text || std::isspace(static_cast<unsigned char>(*text))) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(v) || v < min || v > max) return false;
    value = v;
    return true;
}

}  // namespace kvdtool
