// The chunk index of a recording: the from-time and file position of chunks spaced about 250,000 bytes
// apart, and the sweep list (start and end time of every stretch of gap-free data).
//
// Stored as three chunks: "IDX1KVX " (303-byte header), "IDXIDX  " (time, position pairs) and "IDXSWEEP"
// (start, end pairs), all little-endian.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

class CMIndex1Item {
public:
    CMIndex1Item(uint64_t time, uint64_t position) : m_qwTime(time), m_qwPosition(position) {}
    uint64_t GetTime() const { return m_qwTime; }
    uint64_t GetPosition() const { return m_qwPosition; }

private:
    uint64_t m_qwTime;      // from-time of the chunk
    uint64_t m_qwPosition;  // file position of the chunk's first byte
};

class CMIndex1 {
public:
    static constexpr uint16_t kVersion = 1;
    static constexpr std::size_t kPathWidth = 257;
    static constexpr uint64_t kHeaderSize = 303;
    static constexpr std::size_t kReservedItems = 4001;

    CMIndex1();
    CMIndex1(const CMIndex1& other);
    CMIndex1& operator=(const CMIndex1& other);
    ~CMIndex1();

    // Empties the items and drops both sweep lists.
    void Destroy();
    CMIndex1Item* Add(uint64_t time, uint64_t position);
    CMIndex1Item* GetAt(unsigned i) { return i < m_Items.size() ? &m_Items[i] : nullptr; }
    const CMIndex1Item* GetAt(unsigned i) const { return i < m_Items.size() ? &m_Items[i] : nullptr; }
    std::size_t GetItemCount() const { return m_Items.size(); }
    bool HasIndexes() const { return !m_Items.empty(); }
    bool HasSweeps() const { return m_pSweepStarts && !m_pSweepStarts->empty(); }
    // Index of the last item whose time is not after `time`; 0 when all are after it. Requires items.
    std::size_t FindItemAtOrBefore(uint64_t time) const;

    // The sweep lists; null while absent.
    const std::vector<uint64_t>* GetSweepStarts() const { return m_pSweepStarts.get(); }
    const std::vector<uint64_t>* GetSweepEnds() const { return m_pSweepEnds.get(); }
    std::size_t GetSweepCount() const { return m_pSweepStarts ? m_pSweepStarts->size() : 0; }
    // Takes over both lists (they must have the same length).
    void SetSweeps(std::vector<uint64_t> starts, std::vector<uint64_t> ends);
    // Empties the items, keeping the sweeps.
    void ClearItems();

    // Fills the header fields from the lists and writes the "IDX1KVX " chunk; false when writing fails.
    bool WriteHeaders(FILE* f, const char* path, uint32_t streamCount);
    // Writes the "IDXIDX  " and "IDXSWEEP" chunks; false when writing fails.
    bool WriteItems(FILE* f) const;
    // Read the three chunks at the current position; false (index left partly filled) on any damage.
    bool ReadHeaders(FILE* f);
    bool ReadItems(FILE* f);
    // Checks that the last item points at a chunk with the item's from-time.
    bool CheckIndex(FILE* recording) const;

    uint16_t GetVersion() const { return m_wVersion; }
    const char* GetPath() const { return m_szPath; }
    uint32_t GetStreamCount() const { return m_dwStreamCount; }
    uint32_t GetStoredItemCount() const { return m_dwItemCount; }
    uint64_t GetFirstItemTime() const { return m_qwFirstItemTime; }
    uint64_t GetLastItemTime() const { return m_qwLastItemTime; }
    uint32_t GetStoredSweepCount() const { return m_dwSweepCount; }
    uint64_t GetFirstSweepStart() const { return m_qwFirstSweepStart; }
    uint64_t GetLastSweepEnd() const { return m_qwLastSweepEnd; }

private:
    std::unique_ptr<std::vector<uint64_t>> m_pSweepStarts;
    std::unique_ptr<std::vector<uint64_t>> m_pSweepEnds;
    std::vector<CMIndex1Item> m_Items;
    bool m_bTimesSorted = true;  // item times never decrease in list order
    uint16_t m_wVersion = kVersion;
    char m_szPath[kPathWidth + 1] = {};
    uint32_t m_dwStreamCount = 0;
    uint32_t m_dwItemCount = 0;
    uint64_t m_qwFirstItemTime = 0;
    uint64_t m_qwLastItemTime = 0;
    uint32_t m_dwSweepCount = 0;
    uint64_t m_qwFirstSweepStart = 0;
    uint64_t m_qwLastSweepEnd = 0;
};
