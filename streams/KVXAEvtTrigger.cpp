#include "streams/KVXAEvtTrigger.h"

#include "io/ByteOrder.h"
#include "streams/KVXAStream.h"

CKVXAEvtTrigger& CKVXAEvtTrigger::operator=(const CKVXAEvtTrigger& other)
{
    CKVXAEvent::operator=(other);
    m_wADData = other.m_wADData;
    m_lManualTriggerCount = other.m_lManualTriggerCount;
    m_lTrialNumber = other.m_lTrialNumber;
    m_lStimulusNumber = other.m_lStimulusNumber;
    return *this;
}

int32_t CKVXAEvtTrigger::GetSize() const
{
    const int32_t h = m_pStreamImp ? m_pStreamImp->GetHeaderVersion() : 0;
    return h <= 4 ? 2 : h == 5 ? 6 : 14;
}

int32_t CKVXAEvtTrigger::RecordLengthAt(int32_t offset) const
{
    // Trailing bytes too few for a whole record are not a record.
    return FixedRecordLengthAt(offset, 8 + GetSize());
}

void CKVXAEvtTrigger::ReadMem()
{
    if (!m_pData || RecordLengthAt(m_lOffset) == 0) return;
    const uint8_t* record = m_pData + m_lOffset;
    const int32_t size = GetSize();
    m_wADData = kvd::LoadU16(record + 8);
    m_lManualTriggerCount = size >= 6 ? kvd::LoadI32(record + 10) : 0;
    m_lTrialNumber = size >= 14 ? kvd::LoadI32(record + 14) : 0;
    m_lStimulusNumber = size >= 14 ? kvd::LoadI32(record + 18) : 0;
    m_TimeStamp.SetTimeStamp(kvd::LoadU64(record));
}
