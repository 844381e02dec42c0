// Reading speed of the array interface (kvd.h), against one sequential read of the same file.
//   kvd_array_bench [--seconds S] [--file PATH] [--runs N] [--keep]
// Makes the kvdsynth sample recording (60 electrodes and one digital channel at 25 kHz, a trigger and a
// spike stream; the default of 330 s is about 1 GB), reads it once into the page cache, and times, each
// `runs` times (default 5) on a handle opened for the run:
//   (1) every channel of the electrode stream, whole recording, one call (into an array written once
//       before; and once into fresh memory, which the system hands out page by page at first touch),
//   (2) every channel in one-second calls, into one array of a second,
//   (3) 8 of the 60 channels, whole recording, one call,
//   (4) every channel scaled to float, whole recording, into an array written once before,
//   (5) opening and describing the file, every stream and every channel (no events counted),
//   (6) every spike of the file with its waveform (counting included),
//   (7) two threads on one handle, each reading half of the recording as in (1),
// each with the memory the process added beyond the caller's arrays (peak resident memory), and, for
// reference, (0) the whole file read into an array of its size, which is what (1) cannot beat. Times are
// the median of the runs and the range, as ratios to the fastest sequential read (pieces of 128 KiB, 1 MiB
// or 8 MiB) made just before each run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "include/kvd.h"
#include "tools/SampleRecording.h"

namespace {

using kvdbench::g_sink;
using kvdbench::ReadSequentially;
using kvdbench::Seconds;

void ResetPeakMemory()
{
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// Resident memory now, and its peak since the last reset, in MB.
double StatusMB(const char* key)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0.0;
    char line[256];
    double kb = 0.0;
    const std::size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0) {
            kb = std::atof(line + n);
            break;
        }
    std::fclose(f);
    return kb / 1024.0;
}

// The fastest of one sequential read of the file in pieces of 128 KiB, 1 MiB and 8 MiB.
double SequentialRead(const std::string& path)
{
    double best = 1e300;
    for (const std::size_t block : {std::size_t(128) << 10, std::size_t(1) << 20, std::size_t(8) << 20})
        best = std::min(best, Seconds([&] { ReadSequentially(path, block); }));
    return best;
}

struct Timing {
    std::vector<double> ratios;  // each run's time over the sequential read just before it
    std::vector<double> seconds;
    double addedMB = 0.0;
};

// Runs `f` on a freshly opened handle `runs` times, each after a sequential read of the file that its
// time is divided by, so that the ratios hold while the machine's speed drifts; the memory added is the
// largest peak above the resident memory before a run.
Timing Measure(const std::string& path, int runs, const std::function<void(kvd_file*)>& f)
{
    Timing timing;
    for (int r = 0; r < runs; ++r) {
        const double sequential = SequentialRead(path);
        const double before = StatusMB("VmRSS:");
        ResetPeakMemory();
        kvd_file* file = nullptr;
        const double t = Seconds([&] {
            if (kvd_open(path.c_str(), &file) != KVD_OK) {
                std::fprintf(stderr, "kvd_array_bench: %s\n", kvd_last_error());
                std::exit(1);
            }
            f(file);
            kvd_close(file);
        });
        timing.addedMB = std::max(timing.addedMB, StatusMB("VmHWM:") - before);
        timing.seconds.push_back(t);
        timing.ratios.push_back(t / sequential);
    }
    return timing;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Report(const char* what, const Timing& t, const char* target)
{
    const auto [low, high] = std::minmax_element(t.ratios.begin(), t.ratios.end());
    std::printf("%-56s %8.4f s %6.3fx (%.3f to %.3f) %+7.1f MB   target %s\n", what, Median(t.seconds),
                Median(t.ratios), *low, *high, t.addedMB, target);
}

// Calls visit(index, description) for every stream of the file.
template <typename Visit>
void ForEachStream(kvd_file* f, Visit visit)
{
    kvd_file_info file{};
    file.size = sizeof file;
    kvd_get_file_info(f, &file);
    for (int32_t s = 0; s < file.stream_count; ++s) {
        kvd_stream_info stream{};
        stream.size = sizeof stream;
        kvd_get_stream_info(f, s, &stream);
        visit(s, stream);
    }
}

void Check(int64_t got, int64_t wanted)
{
    if (got == wanted) return;
    std::fprintf(stderr, "kvd_array_bench: %lld instead of %lld: %s\n", static_cast<long long>(got),
                 static_cast<long long>(wanted), kvd_last_error());
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 330.0;
    std::string path = "/tmp/kvd_array_bench.kvd";
    int runs = 5;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--file") && i + 1 < argc)
            path = argv[++i];
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--keep"))
            keep = true;
        else {
            std::fprintf(stderr, "usage: kvd_array_bench [--seconds S] [--file PATH] [--runs N] [--keep]\n");
            return 2;
        }
    }
    kvdsample::Options options;
    options.seconds = seconds;
    kvdsample::WriteSampleRecording(path, options);

    kvd_file* probe = nullptr;
    if (kvd_open(path.c_str(), &probe) != KVD_OK) return 1;
    kvd_stream_info info{};
    info.size = sizeof info;
    kvd_get_stream_info(probe, 0, &info);
    kvd_close(probe);
    const int64_t frames = info.frame_count;
    const int32_t k = info.channel_count;
    const auto cells = static_cast<std::size_t>(frames) * static_cast<std::size_t>(k);

    ReadSequentially(path);  // into the page cache
    std::size_t fileBytes = 0;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        fileBytes = static_cast<std::size_t>(std::ftell(f));
        std::fclose(f);
    }
    const double sequential = SequentialRead(path);
    std::printf("recording: %.0f s, %.1f MB, %lld frames of %d electrodes; sequential read %.4f s (%.0f MB/s)\n",
                seconds, fileBytes / 1e6, static_cast<long long>(frames), k, sequential, fileBytes / 1e6 / sequential);
    std::printf("%-56s %8s   %s\n", "", "median", "ratio to the sequential read of each run (range)");

    // (0) what the machine allows: the whole file read in pieces of 1 MiB into an array of its size, written
    // once before (the sequential read writes into one piece that stays in the processor's caches).
    {
        std::vector<char> copy(fileBytes, 1);
        Report("(0) the file read into an array of its size",
               Measure(path, runs,
                       [&](kvd_file*) {
                           FILE* f = std::fopen(path.c_str(), "rb");
                           for (std::size_t at = 0; at < fileBytes;) {
                               const std::size_t got =
                                   std::fread(copy.data() + at, 1, std::min<std::size_t>(1 << 20, fileBytes - at), f);
                               if (got == 0) break;
                               at += got;
                           }
                           std::fclose(f);
                           g_sink += static_cast<unsigned char>(copy.back());
                       }),
               "");
    }

    // (1) into fresh memory once, then into the same array again.
    std::vector<uint16_t> words;
    {
        uint16_t* fresh = static_cast<uint16_t*>(std::malloc(cells * sizeof(uint16_t)));
        const Timing first =
            Measure(path, 1, [&](kvd_file* f) { Check(kvd_read_frames(f, 0, 0, frames, nullptr, 0, fresh), frames); });
        g_sink += fresh[cells / 2];
        std::free(fresh);
        Report("(1) every channel, one call, into fresh memory", first, "");
    }
    words.assign(cells, 1);
    Report("(1) every channel, whole recording, one call",
           Measure(path, runs,
                   [&](kvd_file* f) { Check(kvd_read_frames(f, 0, 0, frames, nullptr, 0, words.data()), frames); }),
           "<= 1.1");

    std::vector<uint16_t> second(static_cast<std::size_t>(25000) * static_cast<std::size_t>(k), 1);
    Report("(2) every channel in one-second calls",
           Measure(path, runs,
                   [&](kvd_file* f) {
                       for (int64_t first = 0; first < frames; first += 25000) {
                           const int64_t n = std::min<int64_t>(25000, frames - first);
                           Check(kvd_read_frames(f, 0, first, n, nullptr, 0, second.data()), n);
                           g_sink += second[0];
                       }
                   }),
           "<= 1.2");

    const int32_t eight[] = {0, 8, 16, 24, 32, 40, 48, 56};
    std::vector<uint16_t> some(static_cast<std::size_t>(frames) * 8, 1);
    Report("(3) 8 of the 60 channels, whole recording",
           Measure(path, runs,
                   [&](kvd_file* f) { Check(kvd_read_frames(f, 0, 0, frames, eight, 8, some.data()), frames); }),
           "<= 1.2");
    some = {};

    {
        std::vector<float> values(cells, 1.0f);
        Report("(4) every channel scaled to float, into a used array",
               Measure(path, runs,
                       [&](kvd_file* f) {
                           Check(kvd_read_frames_scaled(f, 0, 0, frames, nullptr, 0, values.data()), frames);
                       }),
               "<= 3");
    }

    Report("(5) open and describe every stream and channel",
           Measure(path, runs,
                   [&](kvd_file* f) {
                       ForEachStream(f, [&](int32_t s, const kvd_stream_info& stream) {
                           for (int32_t c = 0; c < stream.channel_count; ++c) {
                               kvd_channel_info channel{};
                               channel.size = sizeof channel;
                               kvd_get_channel_info(f, s, c, &channel);
                               g_sink += static_cast<uint64_t>(channel.hwid);
                           }
                       });
                   }),
           "<= 0.05");

    Report("(6) every spike of the file with its waveform",
           Measure(path, runs,
                   [&](kvd_file* f) {
                       ForEachStream(f, [&](int32_t s, kvd_stream_info stream) {
                           if (stream.content != KVD_CONTENT_SPIKES) return;
                           const int64_t n = kvd_count_events(f, s);
                           kvd_get_stream_info(f, s, &stream);
                           std::vector<kvd_spike> spikes(static_cast<std::size_t>(n));
                           std::vector<uint16_t> waveforms(static_cast<std::size_t>(n * stream.samples_per_event));
                           Check(kvd_read_spikes(f, s, 0, n, spikes.data(), waveforms.data(), stream.samples_per_event),
                                 n);
                           g_sink += waveforms.empty() ? 0 : waveforms.back();
                       });
                   }),
           "<= 0.1");

    Report("(7) two threads on one handle, each half of (1)",
           Measure(path, runs,
                   [&](kvd_file* f) {
                       const int64_t half = frames / 2;
                       std::thread other([&] {
                           Check(kvd_read_frames(f, 0, half, frames - half, nullptr, 0, words.data() + half * k),
                                 frames - half);
                       });
                       Check(kvd_read_frames(f, 0, 0, half, nullptr, 0, words.data()), half);
                       other.join();
                   }),
           "<= 0.7 of (1)");
    std::printf("(the memory column is what the process added beyond the caller's arrays)\n");
    if (!keep) std::remove(path.c_str());
    return static_cast<int>(g_sink & 0);
}
