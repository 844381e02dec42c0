#include "streams/KVXAEvtEvoked.h"

#include "io/ByteOrder.h"
#include "streams/KVXAStream.h"

CKVXAEvtAverage& CKVXAEvtAverage::operator=(const CKVXAEvtAverage& other)
{
    CKVXAEvent::operator=(other);
    SetMemberPointers();
    return *this;
}

bool CKVXAEvtAverage::HasHWID() const { return m_pStreamImp && m_pStreamImp->GetHeaderVersion() >= 5; }

int32_t CKVXAEvtAverage::RecordLengthAt(int32_t offset) const
{
    const int32_t fixed = SamplesOffset();
    if (FixedRecordLengthAt(offset, fixed) == 0) return 0;
    const uint32_t n = kvd::LoadU32(m_pData + offset + fixed - 4);
    if (n >= 0x7FFFFFFFu) return 0;
    const int64_t length = fixed + 2 * static_cast<int64_t>(n);
    return static_cast<int64_t>(offset) + length <= m_lChunkSize ? static_cast<int32_t>(length) : 0;
}

int32_t CKVXAEvtAverage::GetCount() const
{
    return m_pRecord ? static_cast<int32_t>(kvd::LoadU32(m_pRecord + SamplesOffset() - 4)) : 0;
}

uint16_t CKVXAEvtAverage::GetTimeWindowCount() const
{
    return m_pRecord ? kvd::LoadU16(m_pRecord + (HasHWID() ? 12 : 10)) : 0;
}

uint16_t CKVXAEvtAverage::GetChannel() const { return m_pRecord ? kvd::LoadU16(m_pRecord + 8) : 0; }

uint16_t CKVXAEvtAverage::GetHWID() const
{
    return m_pRecord && HasHWID() ? kvd::LoadU16(m_pRecord + 10) : kDefaultHWID;
}

uint16_t CKVXAEvtAverage::GetADData(int32_t index) const
{
    if (!m_pRecord || index < 0 || index >= GetCount()) return 0;
    return kvd::LoadU16(m_pRecord + SamplesOffset() + 2 * static_cast<std::size_t>(index));
}

bool CKVXAEvtAverage::GetADDataArray(int16_t* destination) const
{
    if (!destination || !m_pRecord) return false;
    const int32_t n = GetCount();
    const uint8_t* samples = m_pRecord + SamplesOffset();
    for (int32_t i = 0; i < n; ++i) destination[i] = kvd::LoadI16(samples + 2 * static_cast<std::size_t>(i));
    return true;
}
