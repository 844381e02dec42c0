#include "streams/SampleCache.h"

#include <algorithm>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "streams/CacheBudget.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvd {

void Deinterleave(const int16_t* in, uint64_t samples, uint32_t channels, int16_t* out)
{
    uint64_t done = 0;  // samples of every channel moved by the blocks below
#if defined(__SSE2__)
    // Blocks of 8 samples x 8 channels are turned around in registers, eight channels at a time along the
    // whole chunk: each block's eight rows continue the rows the block before wrote, which the processor's
    // write buffers take far better than rows scattered over every channel.
    const uint32_t wide = channels - channels % 8;
    done = samples - samples % 8;
    for (uint32_t c = 0; c < wide; c += 8) {
        int16_t* const rowsOut = out + c * samples;
        for (uint64_t i = 0; i < done; i += 8) {
            __m128i r[8];
            for (int k = 0; k < 8; ++k)
                r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + (i + k) * channels + c));
            const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
            const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
            const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
            const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
            const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
            const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
            const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
            const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
            const __m128i rows[8] = {_mm_unpacklo_epi64(b0, b4), _mm_unpackhi_epi64(b0, b4), _mm_unpacklo_epi64(b1, b5),
                                     _mm_unpackhi_epi64(b1, b5), _mm_unpacklo_epi64(b2, b6), _mm_unpackhi_epi64(b2, b6),
                                     _mm_unpacklo_epi64(b3, b7), _mm_unpackhi_epi64(b3, b7)};
            for (int k = 0; k < 8; ++k)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(rowsOut + k * samples + i), rows[k]);
        }
    }
    for (uint32_t c = wide; c < channels; ++c)
        for (uint64_t i = 0; i < done; ++i) out[c * samples + i] = in[i * channels + c];
#endif
    for (uint64_t i = done; i < samples; ++i)
        for (uint32_t c = 0; c < channels; ++c) out[c * samples + i] = in[i * channels + c];
}

}  // namespace kvd

CSampleCache::Buffer::Buffer(uint64_t words) : m_pData(new int16_t[static_cast<std::size_t>(words)]), m_qwWords(words)
{
#if defined(MADV_POPULATE_WRITE)
    // The pages of a new buffer are all written at once: asking for them together costs less than a fault
    // for each. Kernels without the request leave it to the faults.
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(m_pData) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(m_pData + words)) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
}

CSampleCache::Buffer::~Buffer() { delete[] m_pData; }

CSampleCache::Buffer& CSampleCache::Buffer::operator=(Buffer&& other) noexcept
{
    if (this != &other) {
        delete[] m_pData;
        m_pData = other.m_pData;
        m_qwWords = other.m_qwWords;
        other.m_pData = nullptr;
    }
    return *this;
}

CSampleCache::CSampleCache(CCacheBudget& budget) : m_Budget(budget) {}

CSampleCache::~CSampleCache() { Clear(); }

void CSampleCache::Touch(Use& use, uint64_t bytes)
{
    m_qwTick += bytes;
    use.tick = m_qwTick;
}

bool CSampleCache::Visit(uint64_t key, uint32_t channel, uint64_t first, uint64_t count,
                         const std::function<void(const int16_t*)>& take)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    const auto found = m_Uses.find(key);
    if (found == m_Uses.end() || !found->second.cached) return false;
    const Chunk& chunk = *found->second.chunk;
    if (channel >= chunk.channels || first > chunk.samples || count > chunk.samples - first) return false;
    take(chunk.data.get() + channel * chunk.samples + first);
    Touch(found->second, ChunkBytes(chunk.channels, chunk.samples));
    m_Chunks.splice(m_Chunks.begin(), m_Chunks, found->second.chunk);
    if (first + count == chunk.samples) Served(found->second.chunk, channel);
    return true;
}

void CSampleCache::Served(ChunkList::iterator chunk, uint32_t channel)
{
    if (channel >= chunk->channels || chunk->served[channel]) return;
    chunk->served[channel] = true;
    ++chunk->servedCount;
    if (!chunk->Spent()) return;
    m_Chunks.splice(m_Chunks.end(), m_Chunks, chunk);
}

bool CSampleCache::Copy(uint64_t key, uint32_t channel, uint64_t first, uint64_t count, int16_t* out)
{
    return Visit(key, channel, first, count, [&](const int16_t* samples) {
        std::memcpy(out, samples, static_cast<std::size_t>(count) * sizeof *out);
    });
}

bool CSampleCache::Wanted(uint64_t key, uint32_t channels, uint64_t samples, uint32_t channel)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    const uint64_t bytes = ChunkBytes(channels, samples);
    const auto [found, first] = m_Uses.try_emplace(key);
    Use& use = found->second;
    const uint64_t distance = m_qwTick - use.tick;
    const bool sameChannel = use.channel == channel;
    Touch(use, bytes);
    if (!first && !sameChannel) {
        use.previousChannel = use.channel;
        use.hasPrevious = true;
    }
    use.channel = channel;
    const uint64_t limit = m_Budget.Limit();
    if (first || sameChannel || use.cached || channels == 0 || samples == 0 || bytes > limit) return false;
    const uint64_t used = m_Budget.Used();
    const uint64_t free = used < limit ? limit - used : 0;
    // With room to spare, a chunk used twice is worth keeping; without, only when least-recently-used
    // replacement would have kept it since its last use, had it been cached then.
    return bytes <= free || distance <= m_qwBytes + free;
}

CSampleCache::Buffer CSampleCache::DropLeastRecent(uint64_t words)
{
    Chunk& chunk = m_Chunks.back();
    Buffer buffer;
    if (chunk.channels * chunk.samples == words) buffer = std::move(chunk.data);
    const uint64_t bytes = ChunkBytes(chunk.channels, chunk.samples);
    const auto use = m_Uses.find(chunk.key);
    if (use != m_Uses.end()) use->second.cached = false;
    m_Chunks.pop_back();
    m_qwBytes -= bytes;
    m_Budget.Release(bytes);
    return buffer;
}

bool CSampleCache::MakeRoom(uint64_t bytes, Buffer& reusable, uint64_t words)
{
    // Nothing is dropped for a chunk that would not fit even then.
    const uint64_t limit = m_Budget.Limit();
    const uint64_t used = m_Budget.Used();
    if (used <= limit && m_qwBytes + (limit - used) < bytes) return false;
    while (!m_Budget.Reserve(bytes)) {
        if (m_Chunks.empty()) return false;
        Buffer buffer = DropLeastRecent(words);
        if (buffer) reusable = std::move(buffer);
    }
    return true;
}

bool CSampleCache::Add(uint64_t key, const int16_t* interleaved, uint32_t channels, uint64_t samples)
{
    if (!interleaved || channels == 0 || samples == 0) return false;
    std::lock_guard<std::mutex> lock(m_Mutex);
    Use& use = m_Uses[key];
    if (use.cached) return true;  // another caller added it meanwhile
    const uint64_t words = channels * samples;
    const uint64_t bytes = ChunkBytes(channels, samples);
    if (bytes > m_Budget.Limit()) return false;
    Buffer buffer;
    // A spent chunk gives its place and, when it is as large, its memory.
    if (!m_Chunks.empty() && m_Chunks.back().Spent()) buffer = DropLeastRecent(words);
    if (!MakeRoom(bytes, buffer, words)) return false;
    try {
        if (!buffer) buffer = Buffer(words);
        kvd::Deinterleave(interleaved, samples, channels, buffer.get());
        m_Chunks.push_front(Chunk{key, channels, samples, std::move(buffer), std::vector<bool>(channels), 0});
    } catch (...) {
        m_Budget.Release(bytes);
        throw;
    }
    m_qwBytes += bytes;
    use.cached = true;
    use.chunk = m_Chunks.begin();
    // The channel that read the chunk before it was worth keeping has had what it wanted of it.
    if (use.hasPrevious) Served(use.chunk, use.previousChannel);
    use.hasPrevious = false;
    return true;
}

void CSampleCache::Clear()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Chunks.empty()) return;
    m_Chunks.clear();
    for (auto& entry : m_Uses) entry.second.cached = false;
    m_Budget.Release(m_qwBytes);
    m_qwBytes = 0;
#if defined(__GLIBC__)
    // Hands the freed samples back to the system rather than keeping them with the allocator.
    malloc_trim(0);
#endif
}

uint64_t CSampleCache::Bytes() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_qwBytes;
}

std::size_t CSampleCache::ChunkCount() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Chunks.size();
}
