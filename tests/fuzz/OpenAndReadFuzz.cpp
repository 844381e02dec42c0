// libFuzzer target: the input is a recording; it is opened and read through every exported function, and
// the information block of every stream is decoded.
//   cmake -S . -B build-fuzz -DKVD_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ && cmake --build build-fuzz
//   build-fuzz/tests/fuzz/kvd_fuzz -max_total_time=600 CORPUS_DIR
// `kvd_fuzz_seeds CORPUS_DIR` writes a few small recordings of every stream kind to start from.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <memory>

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
        ns_CloseFile(h);
    }
    // The information block of every stream, which the interface reads only for trigger streams.
    CKVXAStreamFile file;
    if (file.OpenFile(path.c_str()) == OK)
        for (int32_t i = 0; i < file.GetStreamCount(); ++i)
            if (const CKVXAStream* stream = file.GetStream(i)) std::unique_ptr<CKVXAInfo> info(stream->GetInfo());
    return 0;
}
