#include "streams/KVXAChunk.h"

#include <cstring>
#include <new>

#include "io/ByteOrder.h"
#include "io/FileIO.h"
#include "streams/KVXAChunkTable.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAStream.h"
#include "streams/KVXAStreamSource.h"

CKVXAChunk::CKVXAChunk()
    : m_pTimeStampFrom(std::make_unique<CKVXATimeStamp>()), m_pTimeStampTo(std::make_unique<CKVXATimeStamp>())
{}

CKVXAChunk::~CKVXAChunk() = default;

bool KVXAChunkHead::Decode(const uint8_t* bytes, std::size_t got)
{
    complete = false;
    if (!bytes || got < kStepSize) return false;
    std::memcpy(id, bytes, 8);
    sizeField = kvd::LoadU64(bytes + 8);
    complete = got >= kSize;
    from = complete ? kvd::LoadU64(bytes + 16) : 0;
    to = complete ? kvd::LoadU64(bytes + 24) : 0;
    return true;
}

bool KVXAChunkHead::Usable() const
{
    // A size that cannot hold the two times, or data beyond what a chunk can hold, is a damaged head.
    return complete && sizeField >= 16 && sizeField - 16 <= CKVXAChunk::kMaxDataSize;
}

bool KVXAChunkHead::NextPosition(uint64_t chunkPosition, uint64_t& next) const
{
    constexpr uint64_t kLimit = static_cast<uint64_t>(INT64_MAX);
    if (chunkPosition > kLimit - kStepSize || sizeField > kLimit - kStepSize - chunkPosition) return false;
    next = chunkPosition + kStepSize + sizeField;
    return true;
}

void CKVXAChunk::SetHead(const KVXAChunkHead& head, uint64_t dataPosition)
{
    SetChunkID(head.id);
    m_pTimeStampFrom->SetTimeStamp(head.from);
    m_pTimeStampTo->SetTimeStamp(head.to);
    m_qwSize = head.DataSize();
    m_qwDataPosition = dataPosition;
}

void CKVXAChunk::SetStartReference(uint64_t start)
{
    m_pTimeStampFrom->SetStart(start);
    m_pTimeStampTo->SetStart(start);
}

void CKVXAChunk::SetChunkID(const char id[8])
{
    std::memcpy(m_szChunkID, id, 8);
    m_szChunkID[8] = 0;
}

int32_t CKVXAChunk::ReadData(void* buffer)
{
    if (!buffer || m_qwSize > kMaxDataSize) return 0;
    if (m_pData) {
        std::memcpy(buffer, m_pData.get(), static_cast<std::size_t>(m_qwSize));
        return static_cast<int32_t>(m_qwSize);
    }
    // The chunk table may hold the data already, read with the heads around it.
    CKVXAStreamSource* reader = m_pStream ? m_pStream->GetStreamFile() : nullptr;
    CKVXAChunkTable* table = reader && reader->GetFilePointer() == m_pFile ? reader->GetChunkTable() : nullptr;
    if (table && table->CopyKept(m_qwDataPosition, m_qwSize, buffer)) return static_cast<int32_t>(m_qwSize);
    if (!m_pFile || !kvd::ReadAt(m_pFile, m_qwDataPosition, buffer, static_cast<std::size_t>(m_qwSize))) return 0;
    if (table && !m_pStream->HasSampleChunks()) table->KeepRead(m_qwDataPosition, buffer, m_qwSize);
    return static_cast<int32_t>(m_qwSize);
}

uint64_t CKVXAChunk::FileSize() const
{
    // The reader knows the size of its file; a chunk of another file asks the system.
    const CKVXAStreamSource* reader = m_pStream ? m_pStream->GetStreamFile() : nullptr;
    if (reader && reader->GetFilePointer() == m_pFile) return reader->GetFileSize();
    return m_pFile ? kvd::FileSize(m_pFile) : 0;
}

bool CKVXAChunk::DataReadable() const
{
    if (m_qwSize > kMaxDataSize) return false;
    if (m_pData) return true;
    return m_pFile && GetEndPosition() >= m_qwDataPosition && FileSize() >= GetEndPosition();
}

int32_t CKVXAChunk::ReadData(int16_t* buffer)
{
    const int32_t n = ReadData(static_cast<void*>(buffer));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    // Samples are stored little-endian.
    auto* bytes = reinterpret_cast<uint8_t*>(buffer);
    for (int32_t i = 0; i + 1 < n; i += 2) {
        const int16_t v = kvd::LoadI16(bytes + i);
        std::memcpy(bytes + i, &v, 2);
    }
#endif
    return n;
}

CKVXAChunk* CKVXAChunk::Clone()
{
    if (m_qwSize >= kMaxCloneSize) return nullptr;
    auto clone = std::make_unique<CKVXAChunk>();
    clone->SetChunkID(m_szChunkID);
    clone->m_qwSize = m_qwSize;
    *clone->m_pTimeStampFrom = *m_pTimeStampFrom;
    *clone->m_pTimeStampTo = *m_pTimeStampTo;
    // One spare byte keeps the allocation non-empty for a chunk without data.
    clone->m_pData.reset(new uint8_t[static_cast<std::size_t>(m_qwSize) + 1]());
    if (m_qwSize != 0 && ReadData(static_cast<void*>(clone->m_pData.get())) != static_cast<int32_t>(m_qwSize))
        return nullptr;
    return clone.release();
}

int32_t CKVXAChunk::WriteChunk(FILE* out, uint64_t shift)
{
    if (!out || !m_pData || m_qwSize >= kMaxCloneSize) return -1;
    if (shift != m_qwEventShift) {
        ShiftEventTimes(m_pData.get(), shift - m_qwEventShift);
        m_qwEventShift = shift;
    }
    uint8_t head[kHeadSize];
    EncodeHead(head, m_szChunkID, m_qwSize, GetFrom() + shift, GetTo() + shift);
    if (!kvd::WriteExact(out, head, sizeof head)) return -1;
    if (!kvd::WriteExact(out, m_pData.get(), static_cast<std::size_t>(m_qwSize))) return -1;
    return 0;
}

CKVXAEvent* CKVXAChunk::GetFirstEvent() { return GetFirstEvent(nullptr); }

CKVXAEvent* CKVXAChunk::GetFirstEvent(char* data)
{
    if (!m_pStream || m_qwSize > kMaxDataSize) return nullptr;
    std::unique_ptr<CKVXAEvent> cursor(CKVXAEvent::Create(m_pStream->GetKind()));
    if (!cursor) return nullptr;
    if (data) {
        cursor->Set_DeepCopy(false);
        cursor->Set_pData(reinterpret_cast<uint8_t*>(data));
    } else {
        if (m_qwSize == 0) return nullptr;
        if (!DataReadable()) return nullptr;
        // The size is bounded by the file's: a failing allocation is the system's want of memory, which ends
        // the call (and a count of events in progress) rather than ending the stream's events here.
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<std::size_t>(m_qwSize)]);
        if (ReadData(static_cast<void*>(buffer.get())) != GetSize()) return nullptr;
        cursor->Set_pData(buffer.release());
    }
    cursor->Set_StreamImp(m_pStream);
    cursor->Set_ChunkSize(GetSize());
    cursor->Set_Offset(0);
    cursor->Set_OffsetNext(0);
    *cursor->Get_TimeStamp() = *m_pTimeStampFrom;
    if (!cursor->Read()) {
        // The cursor must not release this chunk, nor a buffer it was only lent.
        if (data) cursor->Set_pData(nullptr);
        return nullptr;
    }
    cursor->Set_Chunk(this);
    return cursor.release();
}

bool CKVXAChunk::ReadNextEvent(CKVXAEvent* cursor)
{
    // Only a cursor over a lent buffer walks in place: its data pointer moves through the buffer.
    if (!cursor || cursor->Get_DeepCopy() || !cursor->Get_pData()) return false;
    const int32_t step = cursor->Get_OffsetNext();
    if (step <= 0 || step > cursor->Get_ChunkSize()) return false;
    cursor->Set_pData(cursor->Get_pData() + step);
    cursor->Set_ChunkSize(cursor->Get_ChunkSize() - step);
    cursor->Set_OffsetNext(0);
    return cursor->Read();
}

void CKVXAChunk::EncodeHead(uint8_t* head, const char id[8], uint64_t dataSize, uint64_t from, uint64_t to)
{
    std::memcpy(head, id, 8);
    kvd::StoreU64(head + 8, dataSize + 16);
    kvd::StoreU64(head + 16, from);
    kvd::StoreU64(head + 24, to);
}

void CKVXAChunk::ShiftEventTimes(uint8_t* data, uint64_t delta)
{
    if (!data) return;
    std::unique_ptr<CKVXAEvent> cursor(GetFirstEvent(reinterpret_cast<char*>(data)));
    if (!cursor || !cursor->HasEventTimeData()) return;
    cursor->ChangeTimestamp(delta);
    while (ReadNextEvent(cursor.get())) cursor->ChangeTimestamp(delta);
}
