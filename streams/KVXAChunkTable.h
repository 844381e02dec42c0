// Per-stream tables of data chunks (position, size, times, cumulative samples), filled by one pass over
// the chunk heads of the file, as far as the questions asked so far need. The stream chunk walks answer
// from these tables, so that finding the chunk of a sample or a time costs a binary search instead of a
// walk from the first chunk. A table holds the chunks a walk from the first-chunk position would visit,
// in the same order: each head is skipped by its size, and a stream's walk ends at its first chunk whose
// head is short or whose size is impossible.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct KVXAChunkEntry {
    uint64_t dataPosition;  // file position of the first data byte
    uint64_t size;          // data bytes
    uint64_t from;
    uint64_t to;
    uint64_t samplesEnd;  // samples per channel of this and all earlier chunks of the stream
    char id[8];           // the chunk id as stored

    uint64_t End() const { return dataPosition + size; }
};

class CKVXAChunkTable {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    struct StreamKey {
        char id[8];             // data chunk id, upper case
        uint32_t channelCount;  // 0 for streams without samples
    };

    CKVXAChunkTable(FILE* file, uint64_t firstChunkPosition, std::vector<StreamKey> streams);
    // Gives the kept bytes back to the budget.
    ~CKVXAChunkTable();
    CKVXAChunkTable(const CKVXAChunkTable&) = delete;
    CKVXAChunkTable& operator=(const CKVXAChunkTable&) = delete;

    std::size_t StreamCount() const { return m_Streams.size(); }
    // Entry i of stream s; requires i < Known(s).
    const KVXAChunkEntry& At(std::size_t s, std::size_t i) const { return m_Streams[s].entries[i]; }
    std::size_t Known(std::size_t s) const { return m_Streams[s].entries.size(); }
    // True when entry i of stream s exists (scanning as far as needed).
    bool Has(std::size_t s, std::size_t i);
    // The entry whose data starts at `dataPosition`; npos when the stream has none there.
    std::size_t FindDataPosition(std::size_t s, uint64_t dataPosition);
    // The first entry whose chunk starts at or after `chunkPosition`; npos when none.
    std::size_t FindAtOrAfter(std::size_t s, uint64_t chunkPosition);
    // The first entry at or after `first` whose to-time is after `t`; npos when none.
    std::size_t FindToAfter(std::size_t s, std::size_t first, uint64_t t);
    // The entry that holds sample `sample` of each channel; npos when the stream ends before it.
    std::size_t FindSample(std::size_t s, uint64_t sample);
    // Largest data size among the chunks scanned so far.
    uint64_t LargestChunk(std::size_t s) const { return m_Streams[s].largest; }
    bool Complete() const { return m_bComplete; }
    // Scans every remaining head.
    void ScanAll();

    // While keeping, heads are read through larger windows, and the data of every event chunk (a stream
    // without samples) that lies whole in a window is kept with the table (at most kMaxKeptBytes in all),
    // so that reading such a chunk needs no read of the file: counting the events reads the small event
    // chunks between the large sample chunks with the heads around them. Ending it keeps what is kept while
    // the process's cache budget grants its bytes, so that later walks over the event streams (each spike
    // entity walks its stream) read nothing either, and drops it otherwise.
    void KeepWindowData(bool keep);
    // Copies the kept data of the chunk whose data starts at `dataPosition` (`size` bytes) to `dst`; false
    // (nothing copied) when none is kept.
    bool CopyKept(uint64_t dataPosition, uint64_t size, void* dst) const;
    // Copies the data of the chunk at `dataPosition` (`size` bytes) to `dst` when it lies whole in the
    // window last read for the heads (or offered); false (nothing copied) otherwise. A walk over a stream
    // of small chunks that drives the scan finds each chunk in the window read for its head.
    bool CopyWindowed(uint64_t dataPosition, uint64_t size, void* dst) const;
    // While keeping, keeps the data of an event chunk that a reader had to read on its own.
    void KeepRead(uint64_t dataPosition, const void* data, uint64_t size);
    static constexpr uint64_t kMaxKeptBytes = 64ULL << 20;
    // Bytes of the file from `position` on that a reader has just read: when the next head to scan lies
    // among them, they serve as the window, saving its positioned read. A stream read chunk after chunk
    // reads each chunk's data together with kTrailBytes after it, which hold the heads up to its next chunk.
    void Offer(uint64_t position, const uint8_t* bytes, std::size_t n);
    // True when bytes offered from `position` on would hold the next head to scan (none is read yet).
    bool Wants(uint64_t position) const;
    static constexpr std::size_t kTrailBytes = 8192;
    // Bytes counted for each kept chunk beyond its data (its entry and allocation), so that a file of
    // countless tiny event chunks cannot make the entries outgrow the bound.
    static constexpr uint64_t kKeptEntryBytes = 96;

private:
    struct Stream {
        StreamKey key;
        std::vector<KVXAChunkEntry> entries;
        bool closed = false;   // its walk ended at a damaged chunk
        bool toSorted = true;  // to-times never decrease
        uint64_t largest = 0;
    };

    // Reads up to `heads` further chunk heads; false once the end of the chunk chain is reached.
    bool ScanMore(std::size_t heads = 512);
    template <typename Done>
    void ScanUntil(std::size_t s, Done done);

    // Reads the head at m_qwNext into `head` (32 bytes); the number of bytes the file holds there.
    std::size_t ReadHead(uint8_t* head);
    // The bytes [position, position + size) in the current window; null when they do not lie whole in it.
    const uint8_t* InWindow(uint64_t position, uint64_t size) const;
    // Keeps the chunk data at `dataPosition` when it lies whole in the current window.
    void Keep(uint64_t dataPosition, uint64_t size);

    static constexpr std::size_t kWindowSize = 1024;
    static constexpr std::size_t kKeepingWindowSize = 8192;

    struct Window {
        std::unique_ptr<uint8_t[]> bytes;  // `size` file bytes from `position` on, in `capacity` bytes
        std::size_t size = 0;
        std::size_t capacity = 0;
        uint64_t position = 0;
    };

    FILE* m_pFile;
    uint64_t m_qwNext;
    Window m_Window;
    bool m_bKeep = false;
    std::unordered_map<uint64_t, std::vector<uint8_t>> m_Kept;  // by data position
    uint64_t m_qwKeptBytes = 0;                                 // bytes kept, with kKeptEntryBytes each
    uint64_t m_qwGranted = 0;                                   // of them, those the budget has granted
    bool m_bComplete = false;
    std::vector<Stream> m_Streams;
};

// While it lives, the table keeps the event chunks that come with the windows read for the chunk heads
// (KeepWindowData), so that one pass over the heads serves every event stream.
class CKeptWindows {
public:
    explicit CKeptWindows(CKVXAChunkTable* table) : m_pTable(table)
    {
        if (m_pTable) m_pTable->KeepWindowData(true);
    }
    ~CKeptWindows()
    {
        if (m_pTable) m_pTable->KeepWindowData(false);
    }
    CKeptWindows(const CKeptWindows&) = delete;
    CKeptWindows& operator=(const CKeptWindows&) = delete;

private:
    CKVXAChunkTable* m_pTable;
};
