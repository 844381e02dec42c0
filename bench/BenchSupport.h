// Timing and reading helpers shared by the benchmarks.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "include/nsAPItypes.h"

namespace kvdbench {

using Clock = std::chrono::steady_clock;

// Wall-clock seconds that `f` takes.
inline double Seconds(const std::function<void()>& f)
{
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Keeps the reads below from being optimised away.
inline uint64_t g_sink = 0;

// One sequential read of the whole file in blocks (1 MB by default); exits when the file cannot be opened.
inline void ReadSequentially(const std::string& path, std::size_t blockSize = 1 << 20)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::exit(1);
    std::vector<char> block(blockSize);
    std::size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) g_sink += static_cast<unsigned char>(block[n - 1]);
    std::fclose(f);
}

// Opens the file and asks for every entity's information, as hosts that list the entities do (the bit
// entities count their events when first asked for); false when the file does not open.
inline bool OpenAndList(char* name, uint32_t& h)
{
    if (ns_OpenFile(name, &h) != ns_OK) return false;
    ns_FILEINFO file{};
    ns_GetFileInfo(h, &file, sizeof file);
    for (uint32_t id = 0; id < file.dwEntityCount; ++id) {
        ns_ENTITYINFO info{};
        ns_GetEntityInfo(h, id, &info, sizeof info);
        g_sink += info.dwItemCount;
    }
    return true;
}

}  // namespace kvdbench
