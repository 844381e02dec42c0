#include "streams/KVXAEvtSpike.h"

#include "io/ByteOrder.h"
#include "streams/KVXAStream.h"

namespace {

// Field offsets of a spike record for one header version; -1: the field is absent.
struct SpikeLayout {
    int32_t unitID;
    int32_t hwID;
    int32_t count;
    int32_t samples;
    bool widePreEvent;
};

SpikeLayout LayoutOf(int32_t h)
{
    if (h <= 4) return {-1, -1, 12, 16, false};
    if (h == 5) return {12, -1, 14, 18, false};
    if (h <= 7) return {12, 14, 16, 20, false};
    return {14, 16, 18, 22, true};
}

}  // namespace

CKVXAEvtSpike& CKVXAEvtSpike::operator=(const CKVXAEvtSpike& other)
{
    CKVXAEvent::operator=(other);
    SetMemberPointers();
    return *this;
}

int32_t CKVXAEvtSpike::HeaderVersion() const { return m_pStreamImp ? m_pStreamImp->GetHeaderVersion() : 0; }

int32_t CKVXAEvtSpike::FixedLength() const { return LayoutOf(HeaderVersion()).samples; }

int32_t CKVXAEvtSpike::RecordLengthAt(int32_t offset) const
{
    if (!m_pData || offset < 0 || offset >= m_lChunkSize) return 0;
    const SpikeLayout layout = LayoutOf(HeaderVersion());
    const int64_t left = static_cast<int64_t>(m_lChunkSize) - offset;
    if (left < layout.samples) return 0;
    const int32_t n = kvd::LoadI32(m_pData + offset + layout.count);
    if (n < 0) return 0;
    const int64_t length = layout.samples + 2 * static_cast<int64_t>(n);
    return length <= left ? static_cast<int32_t>(length) : 0;
}

void CKVXAEvtSpike::SetMemberPointers() { m_pRecord = CurrentRecord(); }

int32_t CKVXAEvtSpike::GetCount() const
{
    return m_pRecord ? kvd::LoadI32(m_pRecord + LayoutOf(HeaderVersion()).count) : 0;
}

uint32_t CKVXAEvtSpike::GetPreEvent() const
{
    if (!m_pRecord) return 0;
    return LayoutOf(HeaderVersion()).widePreEvent ? kvd::LoadU32(m_pRecord + 10) : kvd::LoadU16(m_pRecord + 10);
}

uint16_t CKVXAEvtSpike::GetChannel() const { return m_pRecord ? kvd::LoadU16(m_pRecord + 8) : 0; }

uint16_t CKVXAEvtSpike::GetUnitID() const
{
    const int32_t at = LayoutOf(HeaderVersion()).unitID;
    return m_pRecord && at >= 0 ? kvd::LoadU16(m_pRecord + at) : kDefaultUnitID;
}

uint16_t CKVXAEvtSpike::GetHWID() const
{
    const int32_t at = LayoutOf(HeaderVersion()).hwID;
    return m_pRecord && at >= 0 ? kvd::LoadU16(m_pRecord + at) : kDefaultHWID;
}

uint16_t CKVXAEvtSpike::GetADData(int32_t index) const
{
    if (!m_pRecord || index < 0 || index >= GetCount()) return 0;
    return kvd::LoadU16(m_pRecord + LayoutOf(HeaderVersion()).samples + 2 * static_cast<std::size_t>(index));
}

bool CKVXAEvtSpike::GetADDataArray(int16_t* destination) const
{
    if (!destination) return false;
    const int32_t n = GetCount();
    const uint8_t* samples = m_pRecord ? m_pRecord + LayoutOf(HeaderVersion()).samples : nullptr;
    for (int32_t i = 0; i < n; ++i) destination[i] = kvd::LoadI16(samples + 2 * static_cast<std::size_t>(i));
    return true;
}
