#include "streams/CacheBudget.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr uint64_t kMegabyte = 1024ULL * 1024ULL;

// The first 64 KB of a file; empty when it cannot be read.
std::string ReadSmallFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text(65536, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(in ? text.size() : static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return text;
}

// The lower of two limits where 0 means none.
uint64_t Lower(uint64_t a, uint64_t b) { return a == 0 ? b : b == 0 ? a : std::min(a, b); }

// The lowest limit in `file` of the group at `path` below `base` and of every group above it.
uint64_t LowestOnTheWayUp(const std::string& base, std::string path, const char* file)
{
    uint64_t limit = 0;
    for (;;) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        limit = Lower(limit, kvd::ParseMemoryLimit(ReadSmallFile(base + path + "/" + file)));
        if (path.empty()) return limit;
        path.erase(path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    }
}

}  // namespace

CCacheBudget& CCacheBudget::Process()
{
    static CCacheBudget budget(FromEnvironment());
    return budget;
}

uint64_t CCacheBudget::FromEnvironment()
{
    uint64_t bytes = 0;
    if (kvd::ParseBudgetMegabytes(std::getenv(kVariable), bytes)) return bytes;
    return kvd::MemoryAvailableToProcess() / 4;
}

bool CCacheBudget::Reserve(uint64_t bytes)
{
    uint64_t used = m_qwUsed.load(std::memory_order_relaxed);
    do {
        const uint64_t limit = Limit();
        if (used > limit || bytes > limit - used) return false;
    } while (!m_qwUsed.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
}

namespace kvd {

uint64_t ParseMemoryLimit(const std::string& text)
{
    if (text.empty() || text[0] < '0' || text[0] > '9') return 0;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || (*end != '\0' && *end != '\n' && *end != ' ')) return 0;
    return static_cast<uint64_t>(value);
}

bool ParseBudgetMegabytes(const char* text, uint64_t& bytes)
{
    if (!text || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long mb = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0') return false;
    bytes = mb > UINT64_MAX / kMegabyte ? UINT64_MAX : static_cast<uint64_t>(mb) * kMegabyte;
    return true;
}

uint64_t CgroupMemoryLimit(const std::string& procSelfCgroup, const std::string& root)
{
    // Lines are "hierarchy:controllers:path": "0::path" for the unified (v2) hierarchy, a list of
    // controllers that includes "memory" for the v1 memory hierarchy.
    std::istringstream lines(procSelfCgroup);
    std::string line;
    uint64_t limit = 0;
    while (std::getline(lines, line)) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (line.compare(0, first, "0") == 0 && controllers.empty()) {
            limit = Lower(limit, LowestOnTheWayUp(root, path, "memory.max"));
        } else {
            std::istringstream names(controllers);
            std::string name;
            while (std::getline(names, name, ','))
                if (name == "memory")
                    limit = Lower(limit, LowestOnTheWayUp(root + "/memory", path, "memory.limit_in_bytes"));
        }
    }
    return limit;
}

uint64_t MemoryAvailableToProcess()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    uint64_t memory = pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
    memory = Lower(memory, CgroupMemoryLimit(ReadSmallFile("/proc/self/cgroup"), "/sys/fs/cgroup"));
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        memory = Lower(memory, static_cast<uint64_t>(limit.rlim_cur));
    return memory;
}

}  // namespace kvd
