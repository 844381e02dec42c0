// Decoded samples of whole data chunks of one open file, held channel after channel, so that the samples
// of every channel of a chunk that one request had to read serve the requests for the other channels.
//
// The cache takes its bytes from a budget shared with the caches of the other open files and never holds
// more than that budget grants; when it needs room it drops its least recently used chunks. A chunk is
// added only when it is asked for a second time, for another channel (one read of one channel costs no
// more than without a cache), and, once the budget is full, only when it is asked for again before the chunks read
// since would have pushed it out: a sweep over more data than the budget holds keeps what is cached instead of
// replacing all of it with chunks that would be gone before their next use. A chunk whose every channel has
// been read to its end is spent: it goes to the end of the line, and the next chunk added takes its place
// and its memory, so that reading all channels window after window holds a few chunks, not the file.
//
// Every member may be called from any thread; samples are copied out under the cache's own lock, so no
// caller ever holds memory that an eviction could free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <new>
#include <mutex>
#include <unordered_map>
#include <vector>

class CCacheBudget;

class CSampleCache {
public:
    // Bytes counted for each cached chunk beyond its samples (list and map entries).
    static constexpr uint64_t kChunkOverhead = 128;

    explicit CSampleCache(CCacheBudget& budget);
    ~CSampleCache();
    CSampleCache(const CSampleCache&) = delete;
    CSampleCache& operator=(const CSampleCache&) = delete;

    // The key of entry `entry` of stream `stream` of the file.
    static uint64_t Key(std::size_t stream, std::size_t entry)
    {
        return (static_cast<uint64_t>(stream) << 40) ^ static_cast<uint64_t>(entry);
    }
    // Bytes a chunk of `channels` x `samples` samples takes in the cache (with a bit per channel).
    static uint64_t ChunkBytes(uint32_t channels, uint64_t samples)
    {
        return channels * samples * 2 + kChunkOverhead + (channels + 63) / 64 * 8;
    }

    // Hands samples [first, first + count) of `channel` of chunk `key` to take(samples) when the chunk is
    // cached with that channel and those samples; false (take not called) otherwise. `take` runs under the
    // cache's lock and must not keep the pointer.
    bool Visit(uint64_t key, uint32_t channel, uint64_t first, uint64_t count,
               const std::function<void(const int16_t*)>& take);
    // The same, copying the samples to `out`.
    bool Copy(uint64_t key, uint32_t channel, uint64_t first, uint64_t count, int16_t* out);
    // For a chunk that Visit did not find, read for `channel`: true when it should be decoded and added
    // now. Counts as a use; only a use for another channel than the last one makes a chunk worth adding
    // (reading one channel in pieces reads the chunks at the piece boundaries twice).
    bool Wanted(uint64_t key, uint32_t channels, uint64_t samples, uint32_t channel);
    // Adds chunk `key` from `samples` x `channels` interleaved samples, making room by dropping the least
    // recently used chunks where the budget requires it; false (nothing added) when it cannot have the room.
    bool Add(uint64_t key, const int16_t* interleaved, uint32_t channels, uint64_t samples);
    // Drops every chunk and returns their bytes to the budget.
    void Clear();

    uint64_t Bytes() const;
    std::size_t ChunkCount() const;

private:
    // The samples of one chunk.
    class Buffer {
    public:
        Buffer() = default;
        explicit Buffer(uint64_t words);  // uninitialised
        ~Buffer();
        Buffer(Buffer&& other) noexcept : m_pData(other.m_pData), m_qwWords(other.m_qwWords)
        {
            other.m_pData = nullptr;
        }
        Buffer& operator=(Buffer&& other) noexcept;
        int16_t* get() const { return m_pData; }
        uint64_t words() const { return m_qwWords; }
        explicit operator bool() const { return m_pData != nullptr; }

    private:
        int16_t* m_pData = nullptr;
        uint64_t m_qwWords = 0;
    };
    struct Chunk {
        uint64_t key;
        uint32_t channels;
        uint64_t samples;
        Buffer data;               // channel c's samples start at c * samples
        std::vector<bool> served;  // channels read to the chunk's end
        uint32_t servedCount = 0;
        // Every channel served: the chunk has done its work.
        bool Spent() const { return servedCount == channels; }
    };
    using ChunkList = std::list<Chunk>;  // most recently used first
    struct Use {
        uint64_t tick = 0;             // m_qwTick after its last use
        uint32_t channel = 0;          // the channel of its last use that missed
        uint32_t previousChannel = 0;  // and of the one before, when there was one
        bool hasPrevious = false;
        ChunkList::iterator chunk;  // valid while cached
        bool cached = false;
    };

    void Touch(Use& use, uint64_t bytes);
    // Counts `channel` as served by the chunk; a chunk found spent goes to the end of the line.
    void Served(ChunkList::iterator chunk, uint32_t channel);
    // Drops the least recently used chunk; its buffer when it holds exactly `words` samples.
    Buffer DropLeastRecent(uint64_t words);
    // Takes `bytes` from the budget, dropping chunks while it does not fit; false when it cannot.
    bool MakeRoom(uint64_t bytes, Buffer& reusable, uint64_t words);

    CCacheBudget& m_Budget;
    mutable std::mutex m_Mutex;
    ChunkList m_Chunks;
    std::unordered_map<uint64_t, Use> m_Uses;
    uint64_t m_qwBytes = 0;
    // Bytes of chunk uses so far: the distance between two uses of a chunk bounds the data used in between.
    uint64_t m_qwTick = 0;
};

namespace kvd {

// Writes `samples` x `channels` interleaved values channel after channel: out[c * samples + i] = in[i * channels + c].
void Deinterleave(const int16_t* in, uint64_t samples, uint32_t channels, int16_t* out);

}  // namespace kvd
