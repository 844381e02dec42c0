// Merging speed, against copying the same bytes with one sequential read and write.
//   kvd_merge_bench [--seconds S] [--dir DIR] [--runs N] [--keep]
// Makes two kvdsynth sample recordings of S seconds each (60 electrodes and one digital channel at 25 kHz,
// a trigger and a spike stream; the default of 163 s is about 500 MB each) in DIR, reads them once to bring
// them into the page cache, and then, N times, after a sync and taking turns at going first:
//   - copies both files into one output with 1 MB reads and writes, then flushes it to the disk;
//   - merges them with CKVXAStreamFile::CopyMerge (which also flushes its output to the disk).
// Reports each time, MB/s of input bytes, and the ratio merge / copy of every run with the median and the
// spread over the runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "io/FileIO.h"
#include "reader/KVXAStreamFile.h"
#include "tools/SampleRecording.h"

namespace {

using kvdbench::ReadSequentially;
using kvdbench::Seconds;

// One sequential read of every input and one write of the same bytes, flushed to the disk.
void Copy(const std::vector<std::string>& inputs, const std::string& output)
{
    FILE* out = std::fopen(output.c_str(), "wb");
    if (!out) std::exit(1);
    std::vector<char> block(1 << 20);
    for (const std::string& path : inputs) {
        FILE* in = std::fopen(path.c_str(), "rb");
        if (!in) std::exit(1);
        std::size_t n;
        while ((n = std::fread(block.data(), 1, block.size(), in)) > 0)
            if (std::fwrite(block.data(), 1, n, out) != n) std::exit(1);
        std::fclose(in);
    }
    if (std::fflush(out) != 0 || fsync(fileno(out)) != 0 || std::fclose(out) != 0) std::exit(1);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 163.0;
    std::string dir = "/tmp";
    int runs = 5;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc)
            dir = argv[++i];
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--keep"))
            keep = true;
        else {
            std::fprintf(stderr, "usage: kvd_merge_bench [--seconds S] [--dir DIR] [--runs N] [--keep]\n");
            return 2;
        }
    }
    const std::vector<std::string> inputs = {dir + "/kvd_merge_bench_a.kvd", dir + "/kvd_merge_bench_b.kvd"};
    const std::string copied = dir + "/kvd_merge_bench_copy.kvd";
    const std::string merged = dir + "/kvd_merge_bench_merged.kvd";
    kvdsample::Options options;
    options.seconds = seconds;
    double bytes = 0;
    for (const std::string& path : inputs) {
        kvdsample::WriteSampleRecording(path, options);
        ReadSequentially(path);
        FILE* f = std::fopen(path.c_str(), "rb");
        bytes += static_cast<double>(kvd::FileSize(f));
        std::fclose(f);
    }
    std::printf("two recordings of %.0f s, %.1f MB together, in %s\n\n", seconds, bytes / 1e6, dir.c_str());
    std::printf("%-4s %12s %10s %12s %10s %8s\n", "run", "copy", "MB/s", "merge", "MB/s", "ratio");

    std::vector<double> copies, merges, ratios;
    for (int run = 1; run <= runs; ++run) {
        std::remove(copied.c_str());
        std::remove(merged.c_str());
        // Each timing starts with nothing left to write back, and the two take turns going first.
        double c = 0;
        const auto copy = [&] {
            sync();
            c = Seconds([&] { Copy(inputs, copied); });
        };
        if (run % 2) copy();
        sync();
        const double m = Seconds([&] {
            std::vector<CKVXAStreamFile> files(inputs.size());
            std::vector<CKVXAStreamFile*> array;
            for (std::size_t i = 0; i < inputs.size(); ++i) {
                if (files[i].OpenFile(inputs[i].c_str()) != OK) std::exit(1);
                array.push_back(&files[i]);
            }
            CKVXAStreamFile writer;
            if (writer.CopyMerge(array.data(), static_cast<int>(array.size()), merged.c_str(), nullptr) != 0) {
                char text[256];
                std::fprintf(stderr, "merge failed: %s\n", CKVXAStreamFile::GetLastMergeError(text, sizeof text));
                std::exit(1);
            }
        });
        if (run % 2 == 0) copy();
        copies.push_back(c);
        merges.push_back(m);
        ratios.push_back(m / c);
        std::printf("%-4d %10.3f s %10.0f %10.3f s %10.0f %7.2fx\n", run, c, bytes / 1e6 / c, m, bytes / 1e6 / m,
                    m / c);
    }
    std::printf("\nmedian: copy %.3f s, merge %.3f s, ratio %.2fx (runs from %.2fx to %.2fx)\n", Median(copies),
                Median(merges), Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    if (!keep)
        for (const std::string& path : {inputs[0], inputs[1], copied, merged}) std::remove(path.c_str());
    return 0;
}
