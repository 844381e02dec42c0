// Small helpers over C stdio with 64-bit file positions.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kvd {

// Reads exactly n bytes; false on a short read or error.
inline bool ReadExact(FILE* f, void* dst, std::size_t n) { return n == 0 || std::fread(dst, 1, n, f) == n; }

inline bool WriteExact(FILE* f, const void* src, std::size_t n) { return n == 0 || std::fwrite(src, 1, n, f) == n; }

inline bool SeekTo(FILE* f, uint64_t pos)
{
    if (pos > static_cast<uint64_t>(INT64_MAX)) return false;
    return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0;
}

inline uint64_t Tell(FILE* f)
{
    const off_t pos = ftello(f);
    return pos < 0 ? 0 : static_cast<uint64_t>(pos);
}

// Opens a regular file for reading, close-on-exec; null for anything else (a FIFO, a device, a folder)
// or when it cannot be opened, with errno telling why (EISDIR for a folder, EINVAL for another kind). The
// file is opened without blocking and inspected before anything is read from it, so that a FIFO without a
// writer is refused rather than waited for.
FILE* OpenRegularFile(const char* path);

// Reads exactly n bytes at `pos` with positioned reads of the file's descriptor, bypassing the stdio
// buffer and leaving the stdio position alone (every stdio read positions the file explicitly anyway).
bool ReadAt(FILE* f, uint64_t pos, void* dst, std::size_t n);
// Reads up to n bytes at `pos`; the number read (0 at the end of the file or on an error).
std::size_t ReadUpTo(FILE* f, uint64_t pos, void* dst, std::size_t n);

// Reads up to n bytes at `pos` into `dst` and, in the same positioned read, up to `trailSize` bytes that
// follow them into `trail`; the number of bytes read in all (those of `dst` first).
std::size_t ReadUpToWithTrail(FILE* f, uint64_t pos, void* dst, std::size_t n, void* trail, std::size_t trailSize);

// Size of the file in bytes, leaving the position unchanged; 0 when it cannot be told.
uint64_t FileSize(FILE* f);

// Bytes between the current position and the end of the file.
inline uint64_t BytesLeft(FILE* f)
{
    const uint64_t size = FileSize(f);
    const uint64_t pos = Tell(f);
    return size > pos ? size - pos : 0;
}

// Reads an 8-byte chunk id and its 64-bit little-endian size.
bool ReadChunkHead(FILE* f, char id[8], uint64_t& size);

// Compares an 8-byte id with a literal of exactly 8 characters.
bool IdEquals(const char id[8], const char* expected);

// Upper-cases the 8 bytes of an id in place (ASCII only).
void UpperId(char id[8]);

}  // namespace kvd
