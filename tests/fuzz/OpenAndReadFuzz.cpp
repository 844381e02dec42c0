// libFuzzer target: the input is a recording; it is opened and read through every exported function of
// both interfaces, the start and end of each entity or stream and one window placed by the input's hash
// in each larger one, and the information block of every stream is decoded.
// scripts/fuzz builds it and runs it over the corpus that `kvd_fuzz_seeds` writes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "include/kvd.h"
#include "include/nsAPItypes.h"
#include "reader/KVXAStreamFile.h"
#include "settings/KVXAInfo.h"
#include "streams/KVXAStream.h"
#include "tests/api/ReadEverything.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = "/tmp/kvd_fuzz_" + std::to_string(getpid()) + ".kvd";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    if (!written) return 0;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    uint32_t h = 0;
    if (ns_OpenFile(name.data(), &h) == ns_OK) {
        kvdtest::ReadEverything(h);
        // FNV-1a of the input: the same input reads the same windows.
        uint64_t seed = 14695981039346656037ULL;
        for (size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 1099511628211ULL;
        kvdtest::ReadWindows(h, seed);
        ns_CloseFile(h);
    }
    kvd_file* arrays = nullptr;
    if (kvd_open(path.c_str(), &arrays) == KVD_OK) {
        uint64_t seed = size;
        for (size_t i = 0; i < size; ++i) seed = seed * 31 + data[i];
        if (kvdtest::ReadEveryArray(arrays, seed) != 0) __builtin_trap();  // a failure without its text
        kvd_close(arrays);
    }
    // The information block of every stream, which the interface reads only for trigger streams.
    CKVXAStreamFile file;
    if (file.OpenFile(path.c_str()) == OK)
        for (int32_t i = 0; i < file.GetStreamCount(); ++i)
            if (const CKVXAStream* stream = file.GetStream(i)) std::unique_ptr<CKVXAInfo> info(stream->GetInfo());
    return 0;
}
