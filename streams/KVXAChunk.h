// One data chunk located in a recording: its stream, its time span and where its data lies. Chunks are
// handed out by the chunk walks of the reader and of the streams and belong to the caller.
//
// On disk a data chunk is: 8-byte id (the stream's data chunk id), u64 size (16 + data bytes), u64 from-time,
// u64 to-time, then the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "streams/KVXATimeStamp.h"

class CKVXAEvent;
class CKVXAStream;

// The 32-byte head of a data chunk, decoded from its bytes: every walk over chunks reads heads through it.
struct KVXAChunkHead {
    static constexpr std::size_t kSize = 32;
    // Bytes that must be there to step over the chunk: the id and the size field.
    static constexpr std::size_t kStepSize = 16;

    char id[8] = {};         // as stored (not terminated, case as written)
    uint64_t sizeField = 0;  // 16 + data bytes
    uint64_t from = 0;
    uint64_t to = 0;
    bool complete = false;  // all 32 bytes were there, the times included

    // Decodes the first `got` bytes of a head; false when fewer than kStepSize bytes are there.
    bool Decode(const uint8_t* bytes, std::size_t got);
    // True for a complete head whose size field holds the two times and whose data a reader accepts
    // (at most CKVXAChunk::kMaxDataSize bytes).
    bool Usable() const;
    uint64_t DataSize() const { return sizeField - 16; }
    // Position of the next chunk when this one starts at `chunkPosition`; false when it lies beyond what
    // a file can address.
    bool NextPosition(uint64_t chunkPosition, uint64_t& next) const;
};

class CKVXAChunk {
public:
    // Bytes from the first byte of a chunk to its data: id, size, from-time and to-time.
    static constexpr uint64_t kHeadSize = 32;
    // Only chunks smaller than this can be cloned and written.
    static constexpr uint64_t kMaxCloneSize = 500000;
    // Largest data size the readers accept; GetSize() must fit a signed 32-bit value.
    static constexpr uint64_t kMaxDataSize = 0x7FFFFFFFULL;

    CKVXAChunk();
    ~CKVXAChunk();
    CKVXAChunk(const CKVXAChunk&) = delete;
    CKVXAChunk& operator=(const CKVXAChunk&) = delete;

    // The chunk's own time stamps (not copies); their start reference is the recording's start time.
    CKVXATimeStamp* GetTimeStampFrom() { return m_pTimeStampFrom.get(); }
    CKVXATimeStamp* GetTimeStampTo() { return m_pTimeStampTo.get(); }
    const CKVXATimeStamp* GetTimeStampFrom() const { return m_pTimeStampFrom.get(); }
    const CKVXATimeStamp* GetTimeStampTo() const { return m_pTimeStampTo.get(); }
    uint64_t GetFrom() const { return m_pTimeStampFrom->GetTimeStamp(); }
    uint64_t GetTo() const { return m_pTimeStampTo->GetTimeStamp(); }
    // Upper and lower 32 bits of the from- and to-time.
    uint32_t GetFromHi() const { return static_cast<uint32_t>(GetFrom() >> 32); }
    uint32_t GetFromLow() const { return static_cast<uint32_t>(GetFrom()); }
    uint32_t GetToHigh() const { return static_cast<uint32_t>(GetTo() >> 32); }
    uint32_t GetToLow() const { return static_cast<uint32_t>(GetTo()); }

    // Takes id, times and data size from a usable head; the data starts at `dataPosition`.
    void SetHead(const KVXAChunkHead& head, uint64_t dataPosition);
    // Sets the start reference of both time stamps (the recording's start time).
    void SetStartReference(uint64_t start);

    // Number of data bytes.
    int32_t GetSize() const { return static_cast<int32_t>(m_qwSize); }
    uint64_t GetDataSize() const { return m_qwSize; }
    void SetSize(uint64_t size) { m_qwSize = size; }

    // Reads the whole data into `buffer` (at least GetSize() bytes). Returns the data size, or 0 when
    // positioning or reading fails. A clone copies from its own buffer.
    int32_t ReadData(int16_t* buffer);
    // The same into a byte buffer.
    int32_t ReadData(void* buffer);

    // A new event cursor on the chunk's first record, owned by the caller; null when the stream's type has
    // no cursor, the chunk is empty or unreadable, or the first record cannot be read. With `data` the
    // cursor works on that buffer (borrowed, the caller keeps it alive); otherwise it reads and owns a copy.
    CKVXAEvent* GetFirstEvent();
    CKVXAEvent* GetFirstEvent(char* data);
    // Steps a cursor made over a supplied buffer in place to its next record; false at the end.
    bool ReadNextEvent(CKVXAEvent* cursor);

    // A copy with the same id, size and times that owns its data; null when the chunk is too large for
    // cloning or its data cannot be read. It has no file, data position or stream.
    CKVXAChunk* Clone();
    // Writes a clone to `out` with its times (chunk head and event records) moved by `shift` from the
    // times it was cloned with. The record times are moved inside the clone's own data, which remembers
    // the shift it holds, so that every call moves them once: writing twice with the same shift writes
    // the same bytes twice. Returns 0, or -1 when the chunk has no own data, is too large, or the write
    // fails.
    int32_t WriteChunk(FILE* out, uint64_t shift);

    // True when the chunk's data can be read whole: it is held by a clone, or it lies inside the file. Checked
    // before a buffer of the data's size is allocated.
    bool DataReadable() const;
    // Moves the time stamp of every event record in `data` (this chunk's data, decoded as its stream's
    // records) by `delta`; data of streams whose records carry no times stay as they are.
    void ShiftEventTimes(uint8_t* data, uint64_t delta);
    // Encodes a chunk head: the id, the size field (data bytes + 16), the from- and the to-time.
    static void EncodeHead(uint8_t* head, const char id[8], uint64_t dataSize, uint64_t from, uint64_t to);

    // File position of the first data byte; the chunk itself starts kHeadSize bytes earlier.
    uint64_t GetDataPosition() const { return m_qwDataPosition; }
    void SetDataPosition(uint64_t position) { m_qwDataPosition = position; }
    uint64_t GetChunkPosition() const { return m_qwDataPosition - kHeadSize; }
    // File position right after the data, where the next chunk starts.
    uint64_t GetEndPosition() const { return m_qwDataPosition + m_qwSize; }

    FILE* GetFile() const { return m_pFile; }
    void SetFile(FILE* file) { m_pFile = file; }
    CKVXAStream* GetStream() const { return m_pStream; }
    void SetStream(CKVXAStream* stream) { m_pStream = stream; }
    // The 8-character chunk id (NUL-terminated copy).
    const char* GetChunkID() const { return m_szChunkID; }
    void SetChunkID(const char id[8]);
    // The data a clone owns; null for chunks located in a file.
    const uint8_t* GetData() const { return m_pData.get(); }
    uint8_t* GetData() { return m_pData.get(); }

private:
    std::unique_ptr<CKVXATimeStamp> m_pTimeStampFrom;
    std::unique_ptr<CKVXATimeStamp> m_pTimeStampTo;
    uint64_t m_qwSize = 0;
    uint64_t m_qwDataPosition = 0;
    // Size of the file the chunk lies in.
    uint64_t FileSize() const;

    FILE* m_pFile = nullptr;
    CKVXAStream* m_pStream = nullptr;
    char m_szChunkID[9] = {};
    std::unique_ptr<uint8_t[]> m_pData;
    // The shift the event times in m_pData hold relative to the cloned data.
    uint64_t m_qwEventShift = 0;
};
