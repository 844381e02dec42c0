#include "reader/MIndex1.h"

#include <algorithm>
#include <cstring>

#include "io/ByteOrder.h"
#include "io/FileIO.h"

namespace {

// Pairs are read in blocks of this many, so that no buffer is sized by a count from the file.
constexpr std::size_t kPairBlock = 4096;

// Reads `count` pairs of u64 values, calling put(first, second) for each; false on a short read or when
// put refuses a pair.
template <typename Put>
bool ReadPairs(FILE* f, uint64_t count, Put put)
{
    uint8_t block[kPairBlock * 16];
    while (count > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, kPairBlock));
        if (!kvd::ReadExact(f, block, n * 16)) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (!put(kvd::LoadU64(block + 16 * i), kvd::LoadU64(block + 16 * i + 8))) return false;
        count -= n;
    }
    return true;
}

bool WritePairChunk(FILE* f, const char* id, const uint64_t* a, const uint64_t* b, std::size_t stride,
                    std::size_t count)
{
    uint8_t head[16];
    std::memcpy(head, id, 8);
    kvd::StoreU64(head + 8, 16ULL * count);
    if (!kvd::WriteExact(f, head, sizeof head)) return false;
    uint8_t pair[16];
    for (std::size_t i = 0; i < count; ++i) {
        kvd::StoreU64(pair, a[i * stride]);
        kvd::StoreU64(pair + 8, b[i * stride]);
        if (!kvd::WriteExact(f, pair, sizeof pair)) return false;
    }
    return true;
}

// Reads a chunk head and checks its id; the size is returned.
bool ExpectChunk(FILE* f, const char* id, uint64_t& size)
{
    char got[8];
    return kvd::ReadChunkHead(f, got, size) && kvd::IdEquals(got, id);
}

}  // namespace

CMIndex1::CMIndex1() { m_Items.reserve(kReservedItems); }

CMIndex1::CMIndex1(const CMIndex1& other) { *this = other; }

CMIndex1& CMIndex1::operator=(const CMIndex1& other)
{
    if (this == &other) return *this;
    m_pSweepStarts = other.m_pSweepStarts ? std::make_unique<std::vector<uint64_t>>(*other.m_pSweepStarts) : nullptr;
    m_pSweepEnds = other.m_pSweepEnds ? std::make_unique<std::vector<uint64_t>>(*other.m_pSweepEnds) : nullptr;
    m_Items = other.m_Items;
    if (m_Items.capacity() < kReservedItems) m_Items.reserve(kReservedItems);
    m_bTimesSorted = other.m_bTimesSorted;
    m_wVersion = other.m_wVersion;
    std::memcpy(m_szPath, other.m_szPath, sizeof m_szPath);
    m_dwStreamCount = other.m_dwStreamCount;
    m_dwItemCount = other.m_dwItemCount;
    m_qwFirstItemTime = other.m_qwFirstItemTime;
    m_qwLastItemTime = other.m_qwLastItemTime;
    m_dwSweepCount = other.m_dwSweepCount;
    m_qwFirstSweepStart = other.m_qwFirstSweepStart;
    m_qwLastSweepEnd = other.m_qwLastSweepEnd;
    return *this;
}

CMIndex1::~CMIndex1() { Destroy(); }

void CMIndex1::Destroy()
{
    ClearItems();
    m_pSweepStarts.reset();
    m_pSweepEnds.reset();
}

void CMIndex1::ClearItems()
{
    m_Items.clear();
    m_bTimesSorted = true;
}

CMIndex1Item* CMIndex1::Add(uint64_t time, uint64_t position)
{
    if (!m_Items.empty() && time < m_Items.back().GetTime()) m_bTimesSorted = false;
    m_Items.emplace_back(time, position);
    return &m_Items.back();
}

std::size_t CMIndex1::FindItemAtOrBefore(uint64_t time) const
{
    if (m_bTimesSorted) {
        const auto after = std::upper_bound(m_Items.begin(), m_Items.end(), time,
                                            [](uint64_t t, const CMIndex1Item& item) { return t < item.GetTime(); });
        return after == m_Items.begin() ? 0 : static_cast<std::size_t>(after - m_Items.begin()) - 1;
    }
    for (std::size_t i = m_Items.size(); i-- > 0;)
        if (m_Items[i].GetTime() <= time) return i;
    return 0;
}

void CMIndex1::SetSweeps(std::vector<uint64_t> starts, std::vector<uint64_t> ends)
{
    m_pSweepStarts = std::make_unique<std::vector<uint64_t>>(std::move(starts));
    m_pSweepEnds = std::make_unique<std::vector<uint64_t>>(std::move(ends));
}

bool CMIndex1::WriteHeaders(FILE* f, const char* path, uint32_t streamCount)
{
    m_wVersion = kVersion;
    std::memset(m_szPath, 0, sizeof m_szPath);
    if (path) std::memcpy(m_szPath, path, strnlen(path, kPathWidth));
    m_dwStreamCount = streamCount;
    m_dwItemCount = static_cast<uint32_t>(m_Items.size());
    m_qwFirstItemTime = m_Items.empty() ? 0 : m_Items.front().GetTime();
    m_qwLastItemTime = m_Items.empty() ? 0 : m_Items.back().GetTime();
    m_dwSweepCount = static_cast<uint32_t>(GetSweepCount());
    m_qwFirstSweepStart = m_dwSweepCount ? m_pSweepStarts->front() : 0;
    m_qwLastSweepEnd = m_dwSweepCount && m_pSweepEnds && !m_pSweepEnds->empty() ? m_pSweepEnds->back() : 0;

    uint8_t chunk[16 + kHeaderSize] = {};
    std::memcpy(chunk, "IDX1KVX ", 8);
    kvd::StoreU64(chunk + 8, kHeaderSize);
    uint8_t* p = chunk + 16;
    kvd::StoreU16(p, m_wVersion);
    std::memcpy(p + 2, m_szPath, kPathWidth);
    kvd::StoreU32(p + 259, m_dwStreamCount);
    kvd::StoreU32(p + 263, m_dwItemCount);
    kvd::StoreU64(p + 267, m_qwFirstItemTime);
    kvd::StoreU64(p + 275, m_qwLastItemTime);
    kvd::StoreU32(p + 283, m_dwSweepCount);
    kvd::StoreU64(p + 287, m_qwFirstSweepStart);
    kvd::StoreU64(p + 295, m_qwLastSweepEnd);
    return f && kvd::WriteExact(f, chunk, sizeof chunk);
}

bool CMIndex1::WriteItems(FILE* f) const
{
    if (!f) return false;
    std::vector<uint64_t> pairs;
    pairs.reserve(m_Items.size() * 2);
    for (const CMIndex1Item& item : m_Items) {
        pairs.push_back(item.GetTime());
        pairs.push_back(item.GetPosition());
    }
    const std::size_t sweeps = std::min(GetSweepCount(), m_pSweepEnds ? m_pSweepEnds->size() : 0);
    return WritePairChunk(f, "IDXIDX  ", pairs.data(), pairs.data() + 1, 2, m_Items.size()) &&
           WritePairChunk(f, "IDXSWEEP", sweeps ? m_pSweepStarts->data() : nullptr,
                          sweeps ? m_pSweepEnds->data() : nullptr, 1, sweeps);
}

bool CMIndex1::ReadHeaders(FILE* f)
{
    uint64_t size = 0;
    uint8_t p[kHeaderSize];
    if (!f || !ExpectChunk(f, "IDX1KVX ", size) || !kvd::ReadExact(f, p, sizeof p)) return false;
    m_wVersion = kvd::LoadU16(p);
    std::memcpy(m_szPath, p + 2, kPathWidth);
    m_szPath[kPathWidth] = 0;
    m_dwStreamCount = kvd::LoadU32(p + 259);
    m_dwItemCount = kvd::LoadU32(p + 263);
    m_qwFirstItemTime = kvd::LoadU64(p + 267);
    m_qwLastItemTime = kvd::LoadU64(p + 275);
    m_dwSweepCount = kvd::LoadU32(p + 283);
    m_qwFirstSweepStart = kvd::LoadU64(p + 287);
    m_qwLastSweepEnd = kvd::LoadU64(p + 295);
    return true;
}

bool CMIndex1::ReadItems(FILE* f)
{
    if (!f) return false;
    // Items: the size must hold exactly the stored count of pairs, and the file must hold the pairs.
    uint64_t size = 0;
    if (!ExpectChunk(f, "IDXIDX  ", size) || size != 16ULL * m_dwItemCount || size > kvd::BytesLeft(f)) return false;
    ClearItems();
    m_Items.reserve(std::max<std::size_t>(kReservedItems, m_dwItemCount));
    uint64_t lastTime = 0, lastPosition = 0;
    const bool itemsRead = ReadPairs(f, m_dwItemCount, [&](uint64_t time, uint64_t position) {
        if (time < lastTime || position < lastPosition) return false;
        lastTime = time;
        lastPosition = position;
        Add(time, position);
        return true;
    });
    if (!itemsRead) return false;

    // Sweeps: ordered, each ending at or after its start and starting at or after the previous end.
    if (!ExpectChunk(f, "IDXSWEEP", size) || size != 16ULL * m_dwSweepCount || size > kvd::BytesLeft(f)) return false;
    std::vector<uint64_t> starts, ends;
    starts.reserve(m_dwSweepCount);
    ends.reserve(m_dwSweepCount);
    uint64_t previousEnd = 0;
    const bool sweepsRead = ReadPairs(f, m_dwSweepCount, [&](uint64_t start, uint64_t end) {
        if (start < previousEnd || end < start) return false;
        previousEnd = end;
        starts.push_back(start);
        ends.push_back(end);
        return true;
    });
    if (!sweepsRead) return false;
    SetSweeps(std::move(starts), std::move(ends));
    return true;
}

bool CMIndex1::CheckIndex(FILE* recording) const
{
    if (m_Items.empty()) return true;
    if (!recording) return false;
    const CMIndex1Item& last = m_Items.back();
    if (last.GetPosition() > UINT64_MAX - 16 || !kvd::SeekTo(recording, last.GetPosition() + 16)) return false;
    uint8_t time[8];
    return kvd::ReadExact(recording, time, sizeof time) && kvd::LoadU64(time) == last.GetTime();
}
