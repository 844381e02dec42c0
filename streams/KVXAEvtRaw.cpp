#include "streams/KVXAEvtRaw.h"

#include <memory>

#include "io/ByteOrder.h"
#include "streams/KVXAChunk.h"
#include "streams/KVXAStream.h"

int32_t CKVXAEvtRaw::GetSize() const
{
    const int64_t channels = m_pStreamImp ? static_cast<uint32_t>(m_pStreamImp->GetChannelCount()) : 0;
    const int64_t size = 2 * channels;
    return size <= INT32_MAX ? static_cast<int32_t>(size) : 0;
}

uint64_t CKVXAEvtRaw::GetFrameStep() const
{
    const int64_t milli = m_pStreamImp ? m_pStreamImp->GetMilliSamplesPerSecond() : 0;
    if (milli <= 0) return 0;
    return static_cast<uint64_t>(1000000000LL / milli) * 1000ULL;
}

bool CKVXAEvtRaw::Read()
{
    if (!m_pData || m_lOffset < 0 || m_lOffsetNext != 0 || m_lChunkSize <= 0) return false;
    // A stream without channels has frames of no bytes: there is nothing to step over.
    const int32_t length = FixedRecordLengthAt(m_lOffset, GetSize());
    if (length == 0) return false;
    m_lOffsetNext = m_lOffset + length;
    return true;
}

bool CKVXAEvtRaw::ReadNext()
{
    const int32_t frame = GetSize();
    if (!m_pData || frame <= 0 || m_lOffsetNext != m_lOffset + frame) return false;
    // Trailing bytes too few for a whole frame end the chunk's frames.
    if (FixedRecordLengthAt(m_lOffsetNext, frame) != 0) {
        m_lOffset = m_lOffsetNext;
        m_lOffsetNext += frame;
        m_TimeStamp.SetTimeStamp(m_TimeStamp.GetTimeStamp() + GetFrameStep());
        return true;
    }
    return LoadNextChunk();
}

bool CKVXAEvtRaw::LoadNextChunk()
{
    // A cursor over a lent buffer cannot refill it: its walk ends with its chunk.
    if (!m_pChunk || !m_bDeepCopy || !m_pStreamImp) return false;
    const int32_t frame = GetSize();
    for (;;) {
        CKVXAChunk* next = m_pStreamImp->GetNextChunk(m_pChunk);
        if (!next) {
            // The end of the stream: the cursor stays on its last frame.
            delete m_pChunk;
            m_pChunk = nullptr;
            return false;
        }
        m_pChunk = next;
        // Chunks without a whole frame (empty ones included) are skipped, as the record cursors skip
        // chunks without records.
        if (next->GetDataSize() < static_cast<uint64_t>(frame)) continue;
        const int32_t size = next->GetSize();
        if (!next->DataReadable()) break;
        if (size != m_lChunkSize) {
            // The size is bounded by the file's: a failing allocation is the system's want of memory, which
            // ends the walk with the exception rather than with frames missing. The cursor keeps its old
            // buffer until the new one is had.
            std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<std::size_t>(size)]);
            delete[] m_pData;
            m_pData = buffer.release();
            m_lChunkSize = size;
        }
        if (next->ReadData(static_cast<void*>(m_pData)) != size) break;
        m_lOffset = m_lOffsetNext = 0;
        m_TimeStamp = *next->GetTimeStampFrom();
        return Read();
    }
    // The chunk's data cannot be read: the cursor holds no data from now on and reports no more frames.
    delete[] m_pData;
    m_pData = nullptr;
    m_lChunkSize = m_lOffset = m_lOffsetNext = 0;
    return false;
}

int16_t CKVXAEvtRaw::GetADData(int16_t channel) const
{
    const uint8_t* frame = CurrentRecord();
    if (!frame || channel < 0 || 2 * static_cast<int32_t>(channel) >= GetSize()) return 0;
    if (m_lOffset + 2 * static_cast<int64_t>(channel) + 2 > m_lChunkSize) return 0;
    return kvd::LoadI16(frame + 2 * channel);
}

bool CKVXAEvtRaw::GetADDataArray(int16_t* destination) const
{
    const uint8_t* frame = CurrentRecord();
    const int32_t size = GetSize();
    if (!destination || !frame || FixedRecordLengthAt(m_lOffset, size) == 0) return false;
    for (int32_t i = 0; i < size / 2; ++i) destination[i] = kvd::LoadI16(frame + 2 * static_cast<std::size_t>(i));
    return true;
}
