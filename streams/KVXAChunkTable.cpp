#include "streams/KVXAChunkTable.h"

#include <algorithm>
#include <cstring>

#include "io/ByteOrder.h"
#include "io/FileIO.h"
#include "streams/CacheBudget.h"
#include "streams/KVXAChunk.h"

CKVXAChunkTable::CKVXAChunkTable(FILE* file, uint64_t firstChunkPosition, std::vector<StreamKey> streams)
    : m_pFile(file), m_qwNext(firstChunkPosition)
{
    m_Streams.resize(streams.size());
    for (std::size_t s = 0; s < streams.size(); ++s) m_Streams[s].key = streams[s];
    if (!m_pFile) m_bComplete = true;
}

CKVXAChunkTable::~CKVXAChunkTable() { CCacheBudget::Process().Release(m_qwGranted); }

std::size_t CKVXAChunkTable::ReadHead(uint8_t* head)
{
    // Heads are read through a window: the heads of chunks that follow a small chunk come with the same
    // positioned read, and a head after a large chunk costs one read of the window, never a read of the
    // chunk's data.
    Window& window = m_Window;
    if (m_qwNext < window.position || m_qwNext + CKVXAChunk::kHeadSize > window.position + window.size) {
        const std::size_t size = m_bKeep ? kKeepingWindowSize : kWindowSize;
        if (window.capacity < size) {
            window.bytes.reset(new uint8_t[size]);
            window.capacity = size;
        }
        window.size = kvd::ReadUpTo(m_pFile, m_qwNext, window.bytes.get(), size);
        window.position = m_qwNext;
    }
    const uint64_t offset = m_qwNext - window.position;
    const std::size_t got =
        offset < window.size ? std::min<std::size_t>(CKVXAChunk::kHeadSize, window.size - offset) : 0;
    std::memcpy(head, window.bytes.get() + offset, got);
    return got;
}

bool CKVXAChunkTable::Wants(uint64_t position) const
{
    const Window& window = m_Window;
    if (m_bComplete || m_qwNext < position || m_qwNext - position >= kTrailBytes) return false;
    return m_qwNext < window.position || m_qwNext + CKVXAChunk::kHeadSize > window.position + window.size;
}

void CKVXAChunkTable::Offer(uint64_t position, const uint8_t* bytes, std::size_t n)
{
    Window& window = m_Window;
    if (!bytes || !Wants(position) || m_qwNext - position >= n) return;
    n = std::min(n, kKeepingWindowSize);
    if (window.capacity < n) {
        window.bytes.reset(new uint8_t[kKeepingWindowSize]);
        window.capacity = kKeepingWindowSize;
    }
    std::memcpy(window.bytes.get(), bytes, n);
    window.size = n;
    window.position = position;
}

void CKVXAChunkTable::KeepWindowData(bool keep)
{
    m_bKeep = keep;
    if (keep) return;
    CCacheBudget& budget = CCacheBudget::Process();
    if (m_qwKeptBytes == m_qwGranted || budget.Reserve(m_qwKeptBytes - m_qwGranted)) {
        m_qwGranted = m_qwKeptBytes;
        return;
    }
    budget.Release(m_qwGranted);
    m_qwGranted = 0;
    m_Kept.clear();
    m_qwKeptBytes = 0;
}

const uint8_t* CKVXAChunkTable::InWindow(uint64_t position, uint64_t size) const
{
    const Window& window = m_Window;
    if (!window.bytes || position < window.position) return nullptr;
    const uint64_t offset = position - window.position;
    if (offset > window.size || size > window.size - offset) return nullptr;
    return window.bytes.get() + offset;
}

void CKVXAChunkTable::Keep(uint64_t dataPosition, uint64_t size)
{
    if (!m_bKeep || size == 0) return;
    // Only the chunk's own bytes are kept, so that memory follows the event data, not the windows read.
    if (const uint8_t* data = InWindow(dataPosition, size)) KeepRead(dataPosition, data, size);
}

bool CKVXAChunkTable::CopyWindowed(uint64_t dataPosition, uint64_t size, void* dst) const
{
    const uint8_t* data = dst ? InWindow(dataPosition, size) : nullptr;
    if (data) std::memcpy(dst, data, static_cast<std::size_t>(size));
    return data != nullptr;
}

void CKVXAChunkTable::KeepRead(uint64_t dataPosition, const void* data, uint64_t size)
{
    if (!m_bKeep || size == 0 || !data || size + kKeptEntryBytes > kMaxKeptBytes - m_qwKeptBytes) return;
    const auto* from = static_cast<const uint8_t*>(data);
    if (m_Kept.try_emplace(dataPosition, from, from + size).second) m_qwKeptBytes += size + kKeptEntryBytes;
}

bool CKVXAChunkTable::CopyKept(uint64_t dataPosition, uint64_t size, void* dst) const
{
    const auto found = m_Kept.find(dataPosition);
    if (found == m_Kept.end() || found->second.size() != size || !dst) return false;
    std::memcpy(dst, found->second.data(), static_cast<std::size_t>(size));
    return true;
}

bool CKVXAChunkTable::ScanMore(std::size_t heads)
{
    for (std::size_t n = 0; n < heads && !m_bComplete; ++n) {
        uint8_t bytes[KVXAChunkHead::kSize];
        KVXAChunkHead head;
        if (!head.Decode(bytes, ReadHead(bytes))) {
            m_bComplete = true;
            break;
        }
        char id[8];
        std::memcpy(id, head.id, 8);
        kvd::UpperId(id);
        const uint64_t dataPosition = m_qwNext + CKVXAChunk::kHeadSize;
        auto matches = [&](const Stream& stream) { return !stream.closed && std::memcmp(stream.key.id, id, 8) == 0; };
        // What may fail (memory) comes before the table changes: a failure leaves this head to be read again
        // by the next scan, never an entry listed twice.
        for (Stream& stream : m_Streams) {
            if (!matches(stream) || !head.Usable()) continue;
            std::vector<KVXAChunkEntry>& v = stream.entries;
            if (v.size() == v.capacity()) v.reserve(std::max<std::size_t>(16, 2 * v.size()));
            if (stream.key.channelCount == 0) Keep(dataPosition, head.DataSize());
        }
        for (Stream& stream : m_Streams) {
            if (!matches(stream)) continue;
            // A short head or a size that cannot hold the times ends this stream's walk.
            if (!head.Usable()) {
                stream.closed = true;
                continue;
            }
            KVXAChunkEntry e;
            e.dataPosition = dataPosition;
            e.size = head.DataSize();
            e.from = head.from;
            e.to = head.to;
            std::memcpy(e.id, head.id, 8);
            const uint64_t before = stream.entries.empty() ? 0 : stream.entries.back().samplesEnd;
            const uint64_t k = stream.key.channelCount;
            e.samplesEnd = before + (k ? (e.size / 2) / k : 0);
            if (!stream.entries.empty() && e.to < stream.entries.back().to) stream.toSorted = false;
            stream.largest = std::max(stream.largest, e.size);
            stream.entries.push_back(e);  // room reserved above
        }
        // The next head follows the payload; a position beyond what files can address ends the chain.
        if (!head.NextPosition(m_qwNext, m_qwNext)) {
            m_bComplete = true;
            break;
        }
    }
    return !m_bComplete;
}

void CKVXAChunkTable::ScanAll()
{
    while (ScanMore()) {}
}

template <typename Done>
void CKVXAChunkTable::ScanUntil(std::size_t s, Done done)
{
    Stream& stream = m_Streams[s];
    while (!m_bComplete && !stream.closed && (stream.entries.empty() || !done(stream.entries.back()))) ScanMore(1);
}

bool CKVXAChunkTable::Has(std::size_t s, std::size_t i)
{
    if (s >= m_Streams.size()) return false;
    std::vector<KVXAChunkEntry>& v = m_Streams[s].entries;
    while (i >= v.size() && !m_bComplete && !m_Streams[s].closed) ScanMore(1);
    return i < v.size();
}

std::size_t CKVXAChunkTable::FindDataPosition(std::size_t s, uint64_t dataPosition)
{
    if (s >= m_Streams.size()) return npos;
    ScanUntil(s, [&](const KVXAChunkEntry& e) { return e.dataPosition >= dataPosition; });
    const std::vector<KVXAChunkEntry>& v = m_Streams[s].entries;
    const auto it = std::lower_bound(v.begin(), v.end(), dataPosition,
                                     [](const KVXAChunkEntry& e, uint64_t p) { return e.dataPosition < p; });
    return it != v.end() && it->dataPosition == dataPosition ? static_cast<std::size_t>(it - v.begin()) : npos;
}

std::size_t CKVXAChunkTable::FindAtOrAfter(std::size_t s, uint64_t chunkPosition)
{
    if (s >= m_Streams.size()) return npos;
    const uint64_t dataPosition =
        chunkPosition > UINT64_MAX - CKVXAChunk::kHeadSize ? UINT64_MAX : chunkPosition + CKVXAChunk::kHeadSize;
    ScanUntil(s, [&](const KVXAChunkEntry& e) { return e.dataPosition >= dataPosition; });
    const std::vector<KVXAChunkEntry>& v = m_Streams[s].entries;
    const auto it = std::lower_bound(v.begin(), v.end(), dataPosition,
                                     [](const KVXAChunkEntry& e, uint64_t p) { return e.dataPosition < p; });
    return it != v.end() ? static_cast<std::size_t>(it - v.begin()) : npos;
}

std::size_t CKVXAChunkTable::FindToAfter(std::size_t s, std::size_t first, uint64_t t)
{
    if (s >= m_Streams.size()) return npos;
    Stream& stream = m_Streams[s];
    std::size_t i = first;
    for (;;) {
        const std::vector<KVXAChunkEntry>& v = stream.entries;
        if (i < v.size()) {
            if (stream.toSorted) {
                i = static_cast<std::size_t>(std::partition_point(v.begin() + static_cast<std::ptrdiff_t>(i), v.end(),
                                                                  [t](const KVXAChunkEntry& e) { return e.to <= t; }) -
                                             v.begin());
            } else {
                while (i < v.size() && v[i].to <= t) ++i;
            }
            if (i < v.size()) return i;
        }
        if (m_bComplete || stream.closed) return npos;
        ScanMore(1);
    }
}

std::size_t CKVXAChunkTable::FindSample(std::size_t s, uint64_t sample)
{
    if (s >= m_Streams.size()) return npos;
    ScanUntil(s, [&](const KVXAChunkEntry& e) { return e.samplesEnd > sample; });
    const std::vector<KVXAChunkEntry>& v = m_Streams[s].entries;
    const auto it =
        std::partition_point(v.begin(), v.end(), [sample](const KVXAChunkEntry& e) { return e.samplesEnd <= sample; });
    return it != v.end() ? static_cast<std::size_t>(it - v.begin()) : npos;
}
