#include "streams/KVXAEvtParam.h"

#include <algorithm>

#include "settings/KVXAInfoParam.h"
#include "settings/MGenericParameterEventDataIterator.h"
#include "streams/KVXAStream.h"

CKVXAEvtParam::CKVXAEvtParam() = default;
CKVXAEvtParam::~CKVXAEvtParam() = default;

CKVXAEvtParam& CKVXAEvtParam::operator=(const CKVXAEvtParam& other)
{
    CKVXAEvent::operator=(other);
    m_pInfo = other.m_pInfo;
    DecodeRecord();
    return *this;
}

int32_t CKVXAEvtParam::GetSize() const
{
    if (!m_pInfo || !m_pStreamImp) return 0;
    const int64_t size =
        static_cast<int64_t>(m_pInfo->GetChannelSize()) * static_cast<uint32_t>(m_pStreamImp->GetChannelCount());
    return size <= INT32_MAX - 8 ? static_cast<int32_t>(size) : 0;
}

bool CKVXAEvtParam::Read()
{
    if (!m_pData || m_lOffset != 0 || m_lChunkSize <= 0 || !m_pStreamImp) return false;
    if (!m_pInfo) {
        std::unique_ptr<CKVXAInfo> block(m_pStreamImp->GetInfo());
        auto* info = dynamic_cast<CKVXAInfoParam*>(block.get());
        if (!info) return false;
        block.release();
        m_pInfo.reset(info);
    }
    // A parameter table that reaches beyond its channel's block describes no record of this stream.
    if (!CMGenericParameterEventDataIterator::TableFits(m_pInfo->GetAnalyzerProperty(), m_pInfo->GetParams(),
                                                        m_pInfo->GetChannelSize()))
        return false;
    if (GetSize() == 0 && m_pInfo->GetChannelSize() != 0 && m_pStreamImp->GetChannelCount() != 0) return false;
    return ReadFirstRecord();
}

void CKVXAEvtParam::DecodeRecord()
{
    const uint8_t* record = CurrentRecord();
    m_pParamData = record && RecordLengthAt(m_lOffset) ? record + 8 : nullptr;
}

bool CKVXAEvtParam::GetCArray(int16_t channel, std::vector<float>& values) const
{
    values.clear();
    if (!m_pInfo || !m_pParamData || channel < 0 || channel >= m_pStreamImp->GetChannelCount()) return false;
    const auto channels = static_cast<uint16_t>(std::min<int32_t>(m_pStreamImp->GetChannelCount(), 0xFFFF));
    CMGenericParameterEventDataIterator walker(
        channels, m_pInfo->GetChannelSize(), m_pParamData, &m_pInfo->GetAnalyzerProperty(), &m_pInfo->GetParams(),
        m_pStreamImp->GetADZero(), m_pStreamImp->GetUnitsPerAD(), m_pStreamImp->GetHeaderVersion());
    return walker.GetRealWorldData(channel, values);
}

bool CKVXAEvtParam::GetDataArray(int16_t channel, float* values) const
{
    std::vector<float> decoded;
    if (!values || !GetCArray(channel, decoded)) return false;
    std::copy(decoded.begin(), decoded.end(), values);
    return true;
}

float CKVXAEvtParam::ValueOf(int16_t channel, int32_t index) const
{
    const int32_t position = m_pInfo ? m_pInfo->Position(index) : -1;
    std::vector<float> values;
    if (position < 0 || !GetCArray(channel, values) || position >= static_cast<int32_t>(values.size())) return kNoValue;
    return values[static_cast<std::size_t>(position)];
}
