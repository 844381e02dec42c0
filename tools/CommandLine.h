// What every tool shares on its command line: --version, checked numbers, and messages on standard
// error that name the tool. Exit status: 0 success, 1 failure, 2 wrong usage.
#pragma once

#include <cstdint>
#include <string>

namespace kvdtool {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// "TOOL (nsKVDLibrary) VERSION" on standard output.
void PrintVersion(const char* tool);
// "TOOL: MESSAGE" on standard error; returns 1.
int Failure(const char* tool, const std::string& message);
// "TOOL: MESSAGE" and a pointer to --help on standard error; returns 2.
int UsageError(const char* tool, const std::string& message);

// The usage error of getopt_long's answer ':' (an option without its value) or '?' (an unknown option),
// which it reports with opterr = 0 and the option string starting with ':'; returns 2.
int OptionError(const char* tool, int answer, char** argv);

// A whole decimal number from `min` to `max` (no sign for unsigned ranges, no blanks, no rest).
bool ParseInteger(const char* text, int64_t min, int64_t max, int64_t& value);
bool ParseUnsigned(const char* text, uint64_t max, uint64_t& value);
// A finite decimal number from `min` to `max`.
bool ParseReal(const char* text, double min, double max, double& value);

}  // namespace kvdtool
