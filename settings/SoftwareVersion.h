// The exported software-version words of the most recently opened file. The file reader sets them when
// it opens a file; the library itself always passes the version of the file a block comes from, so these
// only serve callers outside the library and the overloads that take no version.
#pragma once

#include <cstdint>

#define KVD_EXPORT __attribute__((visibility("default")))

extern "C" KVD_EXPORT int32_t lSoftwareVersionMajor;
extern "C" KVD_EXPORT int32_t lSoftwareVersionMinor;
