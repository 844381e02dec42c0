#include "io/FileIO.h"

#include <cstring>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "io/ByteOrder.h"

namespace kvd {

FILE* OpenRegularFile(const char* path)
{
    if (!path) return nullptr;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    FILE* file = nullptr;
    int error = 0;
    if (fstat(fd, &st) != 0 || flags == -1)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    else if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !(file = fdopen(fd, "rb")))
        error = errno;
    if (!file) {
        close(fd);
        errno = error;  // why, for the caller's message
    }
    return file;
}

std::size_t ReadUpTo(FILE* f, uint64_t pos, void* dst, std::size_t n)
{
    auto* out = static_cast<char*>(dst);
    std::size_t done = 0;
    while (done < n) {
        if (pos > static_cast<uint64_t>(INT64_MAX) - n) break;
        const ssize_t got = pread(fileno(f), out + done, n - done, static_cast<off_t>(pos + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool ReadAt(FILE* f, uint64_t pos, void* dst, std::size_t n) { return ReadUpTo(f, pos, dst, n) == n; }

std::size_t ReadUpToWithTrail(FILE* f, uint64_t pos, void* dst, std::size_t n, void* trail, std::size_t trailSize)
{
    if (pos > static_cast<uint64_t>(INT64_MAX) - n - trailSize) return ReadUpTo(f, pos, dst, n);
    std::size_t done = 0;
    const std::size_t total = n + trailSize;
    while (done < total) {
        iovec parts[2];
        int count = 0;
        if (done < n) parts[count++] = {static_cast<char*>(dst) + done, n - done};
        const std::size_t intoTrail = done > n ? done - n : 0;
        parts[count++] = {static_cast<char*>(trail) + intoTrail, trailSize - intoTrail};
        const ssize_t got = preadv(fileno(f), parts, count, static_cast<off_t>(pos + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

uint64_t FileSize(FILE* f)
{
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool ReadChunkHead(FILE* f, char id[8], uint64_t& size)
{
    uint8_t raw[16];
    if (!ReadExact(f, raw, sizeof raw)) return false;
    std::memcpy(id, raw, 8);
    size = LoadU64(raw + 8);
    return true;
}

bool IdEquals(const char id[8], const char* expected) { return std::memcmp(id, expected, 8) == 0; }

void UpperId(char id[8])
{
    for (int i = 0; i < 8; ++i)
        if (id[i] >= 'a' && id[i] <= 'z') id[i] = static_cast<char>(id[i] - 'a' + 'A');
}

}  // namespace kvd
