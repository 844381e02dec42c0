// The byte budget shared by the sample caches of all open files, and the memory the process may use.
//
// The budget is the library's one setting: the environment variable KVD_CACHE_MB gives it in megabytes
// (0 turns the caches off); without it the budget is a quarter of the memory the process may use.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class CCacheBudget {
public:
    static constexpr const char* kVariable = "KVD_CACHE_MB";

    explicit CCacheBudget(uint64_t limit) : m_qwLimit(limit) {}
    CCacheBudget(const CCacheBudget&) = delete;
    CCacheBudget& operator=(const CCacheBudget&) = delete;

    // The budget of the process, set from the environment on first use.
    static CCacheBudget& Process();
    // The budget the environment asks for: the variable's megabytes, or the default.
    static uint64_t FromEnvironment();

    uint64_t Limit() const { return m_qwLimit.load(std::memory_order_relaxed); }
    // A new limit applies to later reservations; what is held beyond it is given back as caches evict.
    void SetLimit(uint64_t limit) { m_qwLimit.store(limit, std::memory_order_relaxed); }
    uint64_t Used() const { return m_qwUsed.load(std::memory_order_relaxed); }
    // Takes `bytes` from the budget; false (nothing taken) when they do not fit.
    bool Reserve(uint64_t bytes);
    void Release(uint64_t bytes) { m_qwUsed.fetch_sub(bytes, std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> m_qwLimit;
    std::atomic<uint64_t> m_qwUsed{0};
};

namespace kvd {

// Bytes of memory the process may use: physical memory, or less where the control group (v2 or v1) or the
// address-space limit allows less.
uint64_t MemoryAvailableToProcess();
// The memory limit of the control group named in `procSelfCgroup` (the text of /proc/self/cgroup) under
// the cgroup mount `root`: the lowest limit on the way from the group to the root; 0 when none is set.
uint64_t CgroupMemoryLimit(const std::string& procSelfCgroup, const std::string& root);
// The limit a memory.max or memory.limit_in_bytes file holds; 0 for "max", an empty or an unreadable text.
uint64_t ParseMemoryLimit(const std::string& text);
// The budget a value of KVD_CACHE_MB asks for in bytes; false when the text is not a whole number of
// megabytes (then the default applies).
bool ParseBudgetMegabytes(const char* text, uint64_t& bytes);

}  // namespace kvd
