#include "streams/KVXAEvent.h"

#include <cstring>
#include <memory>

#include "io/ByteOrder.h"
#include "streams/KVXAChunk.h"
#include "streams/KVXAEvtBurstParameter.h"
#include "streams/KVXAEvtEvoked.h"
#include "streams/KVXAEvtParam.h"
#include "streams/KVXAEvtRaw.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAEvtSpikeParameter.h"
#include "streams/KVXAEvtTrigger.h"
#include "streams/KVXAStream.h"

namespace {

// A chunk that locates the same data as `chunk` (id, size, times, position, file, stream), for a second
// owner. A chunk's own data copy, which only clones have, is not carried over.
CKVXAChunk* CopyLocation(const CKVXAChunk& chunk)
{
    auto* copy = new CKVXAChunk();
    copy->SetChunkID(chunk.GetChunkID());
    copy->SetSize(chunk.GetDataSize());
    *copy->GetTimeStampFrom() = *chunk.GetTimeStampFrom();
    *copy->GetTimeStampTo() = *chunk.GetTimeStampTo();
    copy->SetDataPosition(chunk.GetDataPosition());
    copy->SetFile(chunk.GetFile());
    copy->SetStream(chunk.GetStream());
    return copy;
}

}  // namespace

CKVXAEvent::~CKVXAEvent() { Release(); }

CKVXAEvent* CKVXAEvent::Create(KVXAStreamKind kind)
{
    switch (kind) {
    case KVXAStreamKind::Analog:
    case KVXAStreamKind::Digital:
    case KVXAStreamKind::Chat:
    case KVXAStreamKind::Filter: return new CKVXAEvtRaw();
    case KVXAStreamKind::Trigger: return new CKVXAEvtTrigger();
    case KVXAStreamKind::Spikes: return new CKVXAEvtSpike();
    case KVXAStreamKind::Average: return new CKVXAEvtAverage();
    case KVXAStreamKind::Params: return new CKVXAEvtParam();
    case KVXAStreamKind::SpkParam: return new CKVXAEvtSpikeParameter();
    case KVXAStreamKind::BstParam: return new CKVXAEvtBurstParameter();
    default: return nullptr;
    }
}

void CKVXAEvent::Release()
{
    if (m_bDeepCopy) {
        delete[] m_pData;
        delete m_pChunk;
    }
    m_pData = nullptr;
    m_pChunk = nullptr;
}

void CKVXAEvent::CopyState(const CKVXAEvent& other)
{
    m_lChunkSize = other.m_lChunkSize;
    m_lOffset = other.m_lOffset;
    m_lOffsetNext = other.m_lOffsetNext;
    m_pStreamImp = other.m_pStreamImp;
    m_SysTime = other.m_SysTime;
    m_TimeStamp = other.m_TimeStamp;
}

CKVXAEvent& CKVXAEvent::operator=(const CKVXAEvent& other)
{
    if (this == &other) return *this;
    Release();
    CopyState(other);
    if (!m_bDeepCopy) {
        m_pData = other.m_pData;
        m_pChunk = other.m_pChunk;
        return *this;
    }
    if (other.m_pData && other.m_lChunkSize > 0) {
        m_pData = new uint8_t[static_cast<std::size_t>(other.m_lChunkSize)];
        std::memcpy(m_pData, other.m_pData, static_cast<std::size_t>(other.m_lChunkSize));
    }
    if (other.m_pChunk) m_pChunk = CopyLocation(*other.m_pChunk);
    return *this;
}

void CKVXAEvent::TakeOver(const CKVXAEvent& other)
{
    Release();
    CopyState(other);
    m_pData = other.m_pData;
    m_pChunk = other.m_pChunk;
}

void CKVXAEvent::ChangeTimestamp(uint64_t delta)
{
    if (!m_pData || m_lChunkSize < 8) return;
    kvd::StoreU64(m_pData, kvd::LoadU64(m_pData) + delta);
}

bool CKVXAEvent::MoveToRecord(int32_t offset)
{
    if (!m_pData || offset < 0 || offset >= m_lChunkSize) return false;
    const int32_t offsetWas = m_lOffset, nextWas = m_lOffsetNext;
    m_lOffset = offset;
    m_lOffsetNext = 0;
    if (Read()) return true;
    m_lOffset = offsetWas;
    m_lOffsetNext = nextWas;
    return false;
}

bool CKVXAEvent::ReadFirstRecord()
{
    if (!m_pData || m_lOffset < 0 || m_lOffsetNext != 0 || m_lChunkSize <= 0 || m_lOffset >= m_lChunkSize) return false;
    const int32_t length = RecordLengthAt(m_lOffset);
    if (length <= 0) return false;
    DecodeRecord();
    m_lOffsetNext = m_lOffset + length;
    m_TimeStamp.SetTimeStamp(kvd::LoadU64(m_pData + m_lOffset));
    return true;
}

bool CKVXAEvent::ReadFollowingRecord()
{
    if (!m_pChunk || !m_pData) return false;
    if (m_lOffsetNext < m_lChunkSize) {
        const int32_t length = RecordLengthAt(m_lOffsetNext);
        if (length > 0) {
            m_lOffset = m_lOffsetNext;
            DecodeRecord();
            m_lOffsetNext += length;
            m_TimeStamp.SetTimeStamp(kvd::LoadU64(m_pData + m_lOffset));
            return true;
        }
        // A record that overruns the chunk: the rest of the chunk holds nothing usable.
    }
    return MoveToNextChunk();
}

bool CKVXAEvent::MoveToNextChunk()
{
    // Only a cursor that owns its chunk walks the stream: the walk releases each chunk it leaves. A
    // borrowing cursor (an in-place walk over a caller's buffer) ends with its chunk.
    if (!m_pChunk || !m_bDeepCopy || !m_pStreamImp) return false;
    // The walk owns the chunk it stands on, also when a step throws.
    std::unique_ptr<CKVXAChunk> chunk(m_pChunk);
    m_pChunk = nullptr;
    for (;;) {
        CKVXAChunk* next = m_pStreamImp->GetNextChunk(chunk.get());
        if (!next) return false;
        (void)chunk.release();  // deleted by GetNextChunk
        chunk.reset(next);
        if (CKVXAEvent* cursor = chunk->GetFirstEvent()) {
            // The new cursor owns the chunk and its data; hand both over to this cursor.
            (void)chunk.release();
            cursor->Set_DeepCopy(false);
            TakeOver(*cursor);
            delete cursor;
            DecodeRecord();
            return true;
        }
    }
}
