// Memory and time of digital-bit events, against one sequential read of the same file.
//   kvd_digital_bench [--seconds S] [--sample-seconds S] [--random N] [--runs R] [--dir DIR] [--keep]
// Two recordings: the worst case for bit events, one digital channel at 25 kHz whose 16 bits all change on
// every sample (S seconds, default 60), and the kvdsynth sample (60 electrodes and a digital channel with
// one stimulus a second, default 60 s). For each: the peak resident memory that opening the file and
// listing its entities adds (ns_OpenFile and ns_GetEntityInfo of every entity, which counts the bit events;
// measured in a child process), the time of that, of reading every event of every bit entity in order with
// ns_GetEventData, and of N reads at random (ns_GetEventData, ns_GetTimeByIndex and ns_GetIndexByTime on
// random bit entities). Times are the median of R runs with their range, as ratios to the median time of
// one sequential read of the whole file in 1 MB blocks.
#include <getopt.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "include/nsAPItypes.h"
#include "tests/support/ByteWriter.h"
#include "tests/support/RecordingBuilder.h"
#include "tools/SampleRecording.h"

namespace {

using kvdbench::Clock;
using kvdbench::g_sink;
using kvdbench::ReadSequentially;

struct Spread {
    double median = 0, low = 0, high = 0;
};

Spread Time(int runs, const std::function<void()>& f)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        t.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return {t[t.size() / 2], t.front(), t.back()};
}

long StatusKb(const char* field)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const std::size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (!std::strncmp(line, field, n)) kb = std::atol(line + n + 1);
    std::fclose(f);
    return kb;
}

// Peak resident memory that opening the file adds, in kB: measured in a child so that each file starts
// from the same state.
long OpenPeakKb(const std::string& path)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        FILE* clear = std::fopen("/proc/self/clear_refs", "w");
        if (clear) {
            std::fputs("5", clear);  // resets the peak to the present resident size
            std::fclose(clear);
        }
        const long before = StatusKb("VmRSS:");
        uint32_t h = 0;
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        const bool ok = kvdbench::OpenAndList(name.data(), h);
        const long peak = ok ? StatusKb("VmHWM:") - before : -1;
        if (write(fds[1], &peak, sizeof peak) != sizeof peak) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    long peak = -1;
    if (read(fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return peak;
}

// The worst case: one digital channel whose words alternate between 0 and 0xFFFF, in 128 ms chunks,
// with an embedded index.
void WriteWorstCase(const std::string& path, double seconds)
{
    constexpr uint64_t kNsPerSample = 40000;  // 25 kHz
    constexpr uint64_t kPerChunk = 3200;
    const uint64_t samples = static_cast<uint64_t>(seconds * 25000);
    kvdtest::RecordingDesc rec;
    rec.comment = "every digital bit changes on every sample";
    rec.electrodeChannels = 0;
    rec.digitalChannels = 1;
    rec.digitalOffset = 0;
    rec.totalChannels = 1;
    rec.streams = {kvdtest::DigitalStream()};
    rec.stopTime = rec.startTime + samples * kNsPerSample;
    for (uint64_t first = 0; first < samples; first += kPerChunk) {
        const uint64_t n = std::min(kPerChunk, samples - first);
        kvdtest::ChunkDesc chunk;
        chunk.id = "digi0001";
        chunk.from = rec.startTime + first * kNsPerSample;
        chunk.to = chunk.from + n * kNsPerSample;
        kvdtest::ByteWriter w;
        for (uint64_t i = first; i < first + n; ++i) w.U16(i % 2 ? 0xFFFF : 0x0000);
        chunk.data = w.Bytes();
        rec.chunks.push_back(chunk);
    }
    kvdtest::AttachIndex(rec);
    rec.WriteTo(path);
}

struct BitEntity {
    uint32_t id;
    uint32_t count;
};

void Measure(const char* title, const std::string& path, int runs, uint32_t randomReads)
{
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    ReadSequentially(path);  // into the page cache
    FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const double bytes = static_cast<double>(ftello(f));
    std::fclose(f);
    const Spread sequential = Time(runs, [&] { ReadSequentially(path); });

    std::printf("\n%s: %.1f MB; sequential read %.4f s (%.4f to %.4f)\n", title, bytes / 1e6, sequential.median,
                sequential.low, sequential.high);
    auto report = [&](const char* what, const Spread& s, const char* extra = "") {
        std::printf("  %-44s %9.4f s  ratio %8.2f (%.2f to %.2f)%s\n", what, s.median, s.median / sequential.median,
                    s.low / sequential.median, s.high / sequential.median, extra);
    };

    const long peak = OpenPeakKb(path);
    std::printf("  %-44s %9.1f MB  (%.2f times the file)\n", "open and list: peak resident memory added", peak / 1024.0,
                peak * 1024.0 / bytes);

    uint32_t h = 0;
    report("open and list (ns_OpenFile, ns_GetEntityInfo)", Time(runs, [&] {
               if (h) ns_CloseFile(h);
               if (!kvdbench::OpenAndList(name.data(), h)) std::exit(1);
           }));

    ns_FILEINFO file{};
    ns_GetFileInfo(h, &file, sizeof file);
    std::vector<BitEntity> bits;
    uint64_t events = 0;
    for (uint32_t id = 0; id < file.dwEntityCount; ++id) {
        ns_ENTITYINFO info{};
        ns_GetEntityInfo(h, id, &info, sizeof info);
        if (info.dwEntityType == ns_ENTITY_EVENT && !std::strncmp(info.szEntityLabel, "digi", 4) && info.dwItemCount) {
            bits.push_back({id, info.dwItemCount});
            events += info.dwItemCount;
        }
    }
    char extra[96];
    std::snprintf(extra, sizeof extra, "  %llu events of %zu bit entities", static_cast<unsigned long long>(events),
                  bits.size());
    report("every bit event in order (ns_GetEventData)",
           Time(runs,
                [&] {
                    for (const BitEntity& b : bits)
                        for (uint32_t k = 0; k < b.count; ++k) {
                            double t = 0;
                            uint8_t sign = 0;
                            uint32_t size = 0;
                            if (ns_GetEventData(h, b.id, k, &t, &sign, 1, &size) != ns_OK) std::exit(1);
                            g_sink += sign;
                        }
                }),
           extra);
    if (bits.empty()) return;

    // Random reads: the same requests in every run.
    std::mt19937_64 random(42);
    std::vector<std::pair<uint32_t, uint32_t>> requests(randomReads);
    for (auto& r : requests) {
        const BitEntity& b = bits[random() % bits.size()];
        r = {b.id, static_cast<uint32_t>(random() % b.count)};
    }
    std::vector<double> times(randomReads);
    std::snprintf(extra, sizeof extra, "  %u reads", randomReads);
    const Spread data = Time(runs, [&] {
        for (uint32_t k = 0; k < randomReads; ++k) {
            uint8_t sign = 0;
            uint32_t size = 0;
            if (ns_GetEventData(h, requests[k].first, requests[k].second, &times[k], &sign, 1, &size) != ns_OK)
                std::exit(1);
        }
    });
    report("random ns_GetEventData", data, extra);
    report("random ns_GetTimeByIndex",
           Time(runs,
                [&] {
                    for (uint32_t k = 0; k < randomReads; ++k) {
                        double t = 0;
                        if (ns_GetTimeByIndex(h, requests[k].first, requests[k].second, &t) != ns_OK) std::exit(1);
                        g_sink += static_cast<uint64_t>(t);
                    }
                }),
           extra);
    report("random ns_GetIndexByTime (at event times)",
           Time(runs,
                [&] {
                    for (uint32_t k = 0; k < randomReads; ++k) {
                        uint32_t index = 0;
                        ns_GetIndexByTime(h, requests[k].first, times[k], ns_CLOSEST, &index);
                        if (index != requests[k].second) std::exit(3);
                    }
                }),
           extra);
    std::printf("  %-44s %9.2f us\n", "one random ns_GetEventData", data.median / randomReads * 1e6);
    ns_CloseFile(h);
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 60.0, sampleSeconds = 60.0;
    int runs = 5;
    uint32_t randomReads = 100000;
    std::string dir = "/tmp";
    bool keep = false;
    static const option longOptions[] = {
        {"seconds", required_argument, nullptr, 's'}, {"sample-seconds", required_argument, nullptr, 'S'},
        {"random", required_argument, nullptr, 'r'},  {"runs", required_argument, nullptr, 'R'},
        {"dir", required_argument, nullptr, 'd'},     {"keep", no_argument, nullptr, 'k'},
        {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0}};
    const char* usage =
        "usage: kvd_digital_bench [--seconds S] [--sample-seconds S] [--random N] [--runs R] [--dir DIR] [--keep]\n";
    for (int c; (c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1;) {
        switch (c) {
        case 's': seconds = std::atof(optarg); break;
        case 'S': sampleSeconds = std::atof(optarg); break;
        case 'r': randomReads = static_cast<uint32_t>(std::atol(optarg)); break;
        case 'R': runs = std::max(1, std::atoi(optarg)); break;
        case 'd': dir = optarg; break;
        case 'k': keep = true; break;
        case 'h': std::fputs(usage, stdout); return 0;
        default: std::fputs(usage, stderr); return 2;
        }
    }
    if (optind != argc || seconds <= 0 || sampleSeconds <= 0) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string worst = dir + "/kvd_digital_worst.kvd", sample = dir + "/kvd_digital_sample.kvd";
    WriteWorstCase(worst, seconds);
    kvdsample::Options options;
    options.seconds = sampleSeconds;
    kvdsample::WriteSampleRecording(sample, options);

    char title[96];
    std::snprintf(title, sizeof title, "worst case, %.0f s at 25 kHz, 16 bits changing on every sample", seconds);
    Measure(title, worst, runs, randomReads);
    std::snprintf(title, sizeof title, "sample recording, %.0f s", sampleSeconds);
    Measure(title, sample, runs, randomReads);
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(g_sink));
    if (!keep) {
        std::remove(worst.c_str());
        std::remove(sample.c_str());
    }
    return 0;
}
