// Event cursor: positioned on one record of one data chunk of a stream. Next() moves it to the following
// record and crosses into the stream's next chunks transparently, so that one object walks every event of
// a stream. The record layouts live in the derived cursors; cursors are made only by
// CKVXAChunk::GetFirstEvent and belong to the caller.
#pragma once

#include <cstdint>

#include "streams/KVXAStreamKind.h"
#include "streams/KVXATimeStamp.h"

class CKVXAChunk;
class CKVXAStream;

class CKVXAEvent {
public:
    CKVXAEvent() = default;
    // With the deep-copy flag set, releases the data buffer and the chunk.
    virtual ~CKVXAEvent();

    // A new, unpositioned cursor of the class that reads the records of streams of `kind` (the frames of
    // continuous streams); null for unknown kinds. The one place that maps stream kinds to cursor classes.
    static CKVXAEvent* Create(KVXAStreamKind kind);

    // Decodes the first record of the data (m_lOffsetNext must be 0); false for an empty chunk.
    virtual bool Read() { return false; }
    // Moves to the next record of the stream; false when there is none.
    virtual bool ReadNext() { return false; }
    // Adds `delta` to the u64 time stamp in the first 8 bytes at m_pData (the current record of an
    // in-place walk).
    virtual void ChangeTimestamp(uint64_t delta);
    // True when the records carry their own time stamps.
    virtual bool HasEventTimeData() const { return true; }
    // Size of the current record's variable part.
    virtual int32_t GetSize() const { return 0; }

    bool Next() { return ReadNext(); }
    // Decodes the record at `offset` of the current chunk's data; false (the cursor unmoved) when no whole
    // record lies there.
    bool MoveToRecord(int32_t offset);

    bool Get_DeepCopy() const { return m_bDeepCopy != 0; }
    CKVXAEvent* Set_DeepCopy(bool deep)
    {
        m_bDeepCopy = deep ? 1 : 0;
        return this;
    }
    CKVXAChunk* Get_Chunk() const { return m_pChunk; }
    CKVXAEvent* Set_Chunk(CKVXAChunk* chunk)
    {
        m_pChunk = chunk;
        return this;
    }
    CKVXAStream* Get_StreamImp() const { return m_pStreamImp; }
    CKVXAEvent* Set_StreamImp(CKVXAStream* stream)
    {
        m_pStreamImp = stream;
        return this;
    }
    int32_t Get_ChunkSize() const { return m_lChunkSize; }
    CKVXAEvent* Set_ChunkSize(int32_t size)
    {
        m_lChunkSize = size;
        return this;
    }
    int32_t Get_Offset() const { return m_lOffset; }
    CKVXAEvent* Set_Offset(int32_t offset)
    {
        m_lOffset = offset;
        return this;
    }
    int32_t Get_OffsetNext() const { return m_lOffsetNext; }
    CKVXAEvent* Set_OffsetNext(int32_t offset)
    {
        m_lOffsetNext = offset;
        return this;
    }
    uint8_t* Get_pData() const { return m_pData; }
    // The buffer must hold Get_ChunkSize() bytes; with the deep-copy flag set the cursor deletes it
    // (delete[]).
    CKVXAEvent* Set_pData(uint8_t* data)
    {
        m_pData = data;
        return this;
    }
    const _SYSTEMTIME& Get_SysTime() const { return m_SysTime; }
    CKVXAEvent* Set_SysTime(const _SYSTEMTIME& t)
    {
        m_SysTime = t;
        return this;
    }

    CKVXATimeStamp* Get_TimeStamp() { return &m_TimeStamp; }
    const CKVXATimeStamp* Get_TimeStamp() const { return &m_TimeStamp; }
    uint64_t GetRawTimeStamp() const { return m_TimeStamp.GetTimeStamp(); }
    uint16_t GetYear() { return m_TimeStamp.GetYear(); }
    uint16_t GetMonth() { return m_TimeStamp.GetMonth(); }
    uint16_t GetDay() { return m_TimeStamp.GetDay(); }
    uint16_t GetHour() { return m_TimeStamp.GetHour(); }
    uint16_t GetMinute() { return m_TimeStamp.GetMinute(); }
    uint16_t GetSecond() { return m_TimeStamp.GetSecond(); }
    uint16_t GetMillisecond() { return m_TimeStamp.GetMillisecond(); }
    uint16_t GetMicrosecond() const { return m_TimeStamp.GetMicrosecond(); }
    uint16_t GetNanosecond() const { return m_TimeStamp.GetNanosecond(); }
    int32_t GetSecondFromStart() const { return m_TimeStamp.GetSecondFromStart(); }
    int16_t GetMillisecondFromStart() const { return m_TimeStamp.GetMillisecondFromStart(); }
    int16_t GetMicrosecondFromStart() const { return m_TimeStamp.GetMicrosecondFromStart(); }
    int16_t GetNanosecondFromStart() const { return m_TimeStamp.GetNanosecondFromStart(); }

protected:
    CKVXAEvent(const CKVXAEvent&) = delete;
    // Copies the position, stream, system time and time stamp of `other`. A cursor that owns its data gets
    // its own copy of the data and of the chunk's location, so that both cursors can walk on and be deleted
    // independently; a borrowing cursor shares the data and chunk of `other`. The deep-copy flag stays.
    CKVXAEvent& operator=(const CKVXAEvent& other);

    // ---- Record protocol shared by the record cursors (spikes, triggers, ...) ----
    // Length of the record at `offset` of the data, or 0 when it does not lie wholly inside the chunk
    // (a damaged chunk: the rest of it counts as empty).
    virtual int32_t RecordLengthAt(int32_t offset) const
    {
        (void)offset;
        return 0;
    }
    // Takes the fields of the record at m_lOffset.
    virtual void DecodeRecord() {}
    // RecordLengthAt of records of one fixed length: `length`, or 0 when fewer bytes are left at `offset`.
    int32_t FixedRecordLengthAt(int32_t offset, int32_t length) const
    {
        if (!m_pData || offset < 0 || length <= 0) return 0;
        return static_cast<int64_t>(offset) + length <= m_lChunkSize ? length : 0;
    }
    // The current record, or null when the cursor is not on one.
    const uint8_t* CurrentRecord() const
    {
        return m_pData && m_lOffset >= 0 && m_lOffset < m_lChunkSize ? m_pData + m_lOffset : nullptr;
    }
    // Read() of a record cursor.
    bool ReadFirstRecord();
    // ReadNext() of a record cursor: the next record of the chunk, else the first record of a following
    // chunk.
    bool ReadFollowingRecord();
    // Leaves the exhausted chunk for the first following chunk of the stream that yields a record, and
    // takes over that record. False when none does: the cursor then has no chunk and keeps describing
    // its last record.
    bool MoveToNextChunk();

    int32_t m_bDeepCopy = 1;
    CKVXAChunk* m_pChunk = nullptr;
    CKVXAStream* m_pStreamImp = nullptr;
    uint8_t* m_pData = nullptr;
    int32_t m_lChunkSize = 0;
    int32_t m_lOffset = 0;
    int32_t m_lOffsetNext = 0;
    CKVXATimeStamp m_TimeStamp;
    _SYSTEMTIME m_SysTime{};

private:
    // Takes over the data and chunk of `other`, which must not own them, and its position.
    void TakeOver(const CKVXAEvent& other);
    void CopyState(const CKVXAEvent& other);
    void Release();
};
