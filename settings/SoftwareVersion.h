// The exported software-version words of the most recently opened file. The file reader sets them when
// it opens a file; the library itself always passes the version of the file a block comes from, so these
// only serve callers outside the library and the overloads that take no version.
#pragma once

#include <cstdint>

#define KVD_EXPORT __attribute__((visibility("default")))

extern "C" KVD_EXPORT int32_t lSoftwareVersionMajor;
extern "C" KVD_EXPORT int32_t lSoftwareVersionMinor;

namespace kvd {

// Files may be opened from several threads at once: the words are written (as a pair, under a lock)
// and read with atomic accesses, so that no reader sees a torn value.
void PublishSoftwareVersion(int32_t major, int32_t minor);
inline int32_t PublishedSoftwareVersionMajor() { return __atomic_load_n(&lSoftwareVersionMajor, __ATOMIC_RELAXED); }

}  // namespace kvd
