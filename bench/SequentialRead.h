// The yardstick of the benchmarks: one sequential read of a whole file, in 1 MB blocks unless told otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kvdbench {

// Reads the file from start to end; returns a checksum of the blocks' last bytes so that the read is not
// optimised away. Exits when the file cannot be opened.
inline uint64_t SequentialRead(const std::string& path, std::size_t blockSize = 1 << 20)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::exit(1);
    std::vector<char> block(blockSize);
    uint64_t sum = 0;
    std::size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), f)) > 0) sum += static_cast<unsigned char>(block[n - 1]);
    std::fclose(f);
    return sum;
}

}  // namespace kvdbench
