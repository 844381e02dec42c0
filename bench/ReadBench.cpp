// Reading speed of raw data, against one sequential read of the same file.
//   kvd_read_bench [--seconds S] [--file PATH] [--keep]
// Makes the kvdsynth sample recording (60 electrodes and one digital channel at 25 kHz; the default of
// 330 s is about 1 GB), reads it once to bring it into the page cache, and reports MB/s of file data and
// the ratio of each time to one sequential read of the whole file:
//   (a) one channel read whole, (b) one channel read in one-second pieces (both with the sample cache
//   off, as repeated runs would find the samples cached), (c) every channel read in one-second pieces,
//   channel after channel, (d) opening the file and counting its sweeps, with the embedded index and with
//   the index rebuilt by scanning the chunks.
// Then through the Neuroshare functions: (e) ns_OpenFile, which reads the headers and the index, and
// ns_OpenFile followed by ns_GetEntityInfo of every entity, which also counts the trigger, spike and digital
// bits' events, as hosts that list the entities do, (f) one
// analog entity read whole with ns_GetAnalogData (volts included), (g) the same in one-second pieces,
// (i) every electrode entity read whole, entity after entity, (j) every electrode entity second by second
// (all 60 entities for each second), (i) and (j) again with the cache off, each with the peak resident
// memory of the process, and (h) every spike of every spike entity read in ascending order with
// ns_GetSegmentData. (f), (g), (i) and (j) each open the file afresh, so that no run finds samples cached
// by another.
// The sequential read is the fastest of pieces of 128 KiB, 1 MiB and 8 MiB.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "include/nsAPItypes.h"
#include "io/FileIO.h"
#include "reader/KVXAStreamFile.h"
#include "reader/MIndex1.h"
#include "streams/CacheBudget.h"
#include "streams/KVXAStream.h"
#include "tools/SampleRecording.h"

namespace {

using kvdbench::g_sink;
using kvdbench::ReadSequentially;
using kvdbench::Seconds;

// Best of `runs` timings.
double Best(int runs, const std::function<void()>& f)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) best = std::min(best, Seconds(f));
    return best;
}

// Peak resident memory of the process in MB since the last ResetPeakMemory (since the start where the
// kernel cannot reset it).
void ResetPeakMemory()
{
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}
double PeakMemoryMB()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0.0;
    char line[256];
    double kb = 0.0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %lf kB", &kb) == 1) break;
    std::fclose(f);
    return kb / 1024.0;
}

void Report(const char* what, double seconds, double fileBytes, double sequential)
{
    std::printf("%-52s %9.3f s %9.0f MB/s %7.2fx\n", what, seconds, fileBytes / 1e6 / seconds, seconds / sequential);
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 330.0;
    std::string path = "/tmp/kvd_read_bench.kvd";
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--file") && i + 1 < argc)
            path = argv[++i];
        else if (!std::strcmp(argv[i], "--keep"))
            keep = true;
        else {
            std::fprintf(stderr, "usage: kvd_read_bench [--seconds S] [--file PATH] [--keep]\n");
            return 2;
        }
    }
    kvdsample::Options options;
    options.seconds = seconds;
    kvdsample::WriteSampleRecording(path, options);

    CKVXAStreamFile probe;
    if (probe.OpenFile(path.c_str()) != OK) return 1;
    const double bytes = static_cast<double>(kvd::FileSize(probe.GetFilePointer()));
    probe.CloseFile();
    std::printf("recording: %.0f s, %.1f MB, 60 + 1 channels at 25 kHz\n", seconds, bytes / 1e6);

    ReadSequentially(path);  // into the page cache
    double sequential = 1e300;
    for (const std::size_t block : {std::size_t(128) << 10, std::size_t(1) << 20, std::size_t(8) << 20}) {
        const double t = Best(3, [&] { ReadSequentially(path, block); });
        char what[64];
        std::snprintf(what, sizeof what, "sequential read of the file (%zu KiB pieces)", block >> 10);
        std::printf("%-52s %9.3f s %9.0f MB/s\n", what, t, bytes / 1e6 / t);
        sequential = std::min(sequential, t);
    }
    Report("sequential read of the file (fastest)", sequential, bytes, sequential);

    CKVXAStreamFile file;
    file.OpenFile(path.c_str());
    CKVXAStream* electrodes = file.GetStream(0);
    const int32_t perChannel = electrodes->GetRawDataBufferSizeOfChannel();
    std::vector<int16_t> whole(static_cast<std::size_t>(perChannel));
    std::vector<int16_t> piece(25000);

    const uint64_t budget = CCacheBudget::Process().Limit();
    CCacheBudget::Process().SetLimit(0);
    const double a = Best(3, [&] {
        const int32_t n = electrodes->GetRawDataOfChannel(whole.data(), 0);
        if (n != perChannel) std::printf("short read: %d of %d\n", n, perChannel);
        g_sink += static_cast<uint16_t>(whole[n / 2]);
    });
    Report("(a) one channel read whole", a, bytes, sequential);

    auto readInPieces = [&](int32_t channel) {
        int64_t start = 0;
        int32_t n;
        while ((n = electrodes->GetRawDataOfChannelStartCount(piece.data(), channel, start, 25000)) > 0) {
            g_sink += static_cast<uint16_t>(piece[n - 1]);
            start += n;
        }
        if (start != perChannel)
            std::printf("pieces delivered %lld of %d\n", static_cast<long long>(start), perChannel);
    };
    const double b = Best(3, [&] { readInPieces(0); });
    Report("(b) one channel in one-second pieces", b, bytes, sequential);
    CCacheBudget::Process().SetLimit(budget);

    const double c = Seconds([&] {
        for (int32_t ch = 0; ch < electrodes->GetChannelCount(); ++ch) readInPieces(ch);
    });
    Report("(c) all 60 channels in one-second pieces, in all", c, 60 * bytes, sequential);
    Report("(c) ... one channel's pass", c / 60, bytes, sequential);
    file.CloseFile();  // frees its sample cache

    const double d = Best(3, [&] {
        CKVXAStreamFile f;
        f.OpenFile(path.c_str());
        g_sink += static_cast<uint64_t>(f.GetSweepCount());
    });
    Report("(d) open and count sweeps (embedded index)", d, bytes, sequential);
    const double d2 = Best(3, [&] {
        CKVXAStreamFile f;
        f.OpenFile(path.c_str());
        f.GetIndex().Destroy();  // as for a file without an embedded index
        g_sink += static_cast<uint64_t>(f.GetSweepCount());
    });
    Report("(d) open and count sweeps (index rebuilt by scanning)", d2, bytes, sequential);

    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    uint32_t h = 0;
    const double e = Best(3, [&] {
        if (h) ns_CloseFile(h);
        if (ns_OpenFile(name.data(), &h) != ns_OK) std::exit(1);
    });
    Report("(e) ns_OpenFile", e, bytes, sequential);
    const double eAll = Best(3, [&] {
        uint32_t handle = 0;
        if (!kvdbench::OpenAndList(name.data(), handle)) std::exit(1);
        ns_CloseFile(handle);
    });
    Report("(e) ... and ns_GetEntityInfo of every entity", eAll, bytes, sequential);

    ns_ENTITYINFO entity{};
    ns_GetEntityInfo(h, 0, &entity, sizeof entity);
    std::vector<double> volts(entity.dwItemCount);
    // Each run on a file opened afresh, so that no run finds samples cached by the one before.
    auto fresh = [&](const std::function<void(uint32_t)>& read) {
        return [&, read] {
            uint32_t handle = 0;
            if (ns_OpenFile(name.data(), &handle) != ns_OK) std::exit(1);
            const double t = Seconds([&] { read(handle); });
            ns_CloseFile(handle);
            return t;
        };
    };
    auto readWhole = [&](uint32_t handle, uint32_t id) {
        uint32_t cont = 0;
        if (ns_GetAnalogData(handle, id, 0, entity.dwItemCount, &cont, volts.data()) != ns_OK) std::exit(1);
        g_sink += static_cast<uint64_t>(volts[cont / 2] * 1e9);
    };
    auto readSecond = [&](uint32_t handle, uint32_t id, uint32_t start) {
        const uint32_t n = std::min<uint32_t>(25000, entity.dwItemCount - start);
        uint32_t cont = 0;
        if (ns_GetAnalogData(handle, id, start, n, &cont, volts.data() + start) != ns_OK) std::exit(1);
    };
    auto bestFresh = [&](int runs, const std::function<void(uint32_t)>& read) {
        double best = 1e300;
        for (int i = 0; i < runs; ++i) best = std::min(best, fresh(read)());
        return best;
    };
    const double f = bestFresh(3, [&](uint32_t handle) { readWhole(handle, 0); });
    Report("(f) ns_GetAnalogData, one entity whole", f, bytes, sequential);
    const double g = bestFresh(3, [&](uint32_t handle) {
        for (uint32_t start = 0; start < entity.dwItemCount; start += 25000) readSecond(handle, 0, start);
        g_sink += static_cast<uint64_t>(volts[1] * 1e9);
    });
    Report("(g) ns_GetAnalogData, one entity in one-second pieces", g, bytes, sequential);

    // Every electrode entity (the first 60), entity after entity and second by second, with the cache at
    // its budget and turned off; each on a file opened afresh, with the peak resident memory of the run.
    const uint32_t electrodeEntities = 60;
    auto allEntities = [&](const char* what, bool byTime) {
        ResetPeakMemory();
        const double t = fresh([&](uint32_t handle) {
            if (byTime) {
                for (uint32_t start = 0; start < entity.dwItemCount; start += 25000)
                    for (uint32_t id = 0; id < electrodeEntities; ++id) readSecond(handle, id, start);
            } else {
                for (uint32_t id = 0; id < electrodeEntities; ++id) readWhole(handle, id);
            }
        })();
        std::printf("%-52s %9.3f s %9.0f MB/s %7.2fx %7.0f MB peak\n", what, t, bytes / 1e6 / t, t / sequential,
                    PeakMemoryMB());
    };
    std::printf("sample cache budget: %.0f MB\n", static_cast<double>(budget) / (1 << 20));
    allEntities("(i) all 60 entities whole, entity after entity", false);
    allEntities("(j) all 60 entities second by second", true);
    CCacheBudget::Process().SetLimit(0);
    allEntities("(i) ... with the cache off", false);
    allEntities("(j) ... with the cache off", true);
    CCacheBudget::Process().SetLimit(budget);

    ns_FILEINFO fileInfo{};
    ns_GetFileInfo(h, &fileInfo, sizeof fileInfo);
    uint64_t spikes = 0;
    const double hSpikes = Seconds([&] {
        std::vector<double> cutout(1024);
        for (uint32_t id = 0; id < fileInfo.dwEntityCount; ++id) {
            ns_ENTITYINFO info{};
            ns_GetEntityInfo(h, id, &info, sizeof info);
            if (info.dwEntityType != ns_ENTITY_SEGMENT) continue;
            for (uint32_t k = 0; k < info.dwItemCount; ++k, ++spikes) {
                double t = 0;
                uint32_t count = 0, unit = 0;
                ns_GetSegmentData(h, id, static_cast<int32_t>(k), &t, cutout.data(),
                                  static_cast<uint32_t>(cutout.size() * sizeof(double)), &count, &unit);
                g_sink += count;
            }
        }
    });
    std::printf("%-52s %9.3f s %9llu spikes\n", "(h) ns_GetSegmentData, every spike in order", hSpikes,
                static_cast<unsigned long long>(spikes));
    ns_CloseFile(h);

    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(g_sink));
    if (!keep) std::remove(path.c_str());
    return 0;
}
