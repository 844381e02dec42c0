#include "settings/MGenericParameterEventDataIterator.h"

#include "io/ByteOrder.h"

namespace {

constexpr float kNoValue = CMIAnalyzerProperty::kNoValue;

// Bytes the decoder reads for the parameter of index `state` stored `width` bytes wide.
int32_t BytesRead(int32_t state, int32_t width)
{
    switch (state) {
    case kParamMin:
    case kParamMax:
    case kParamHeight: return width == 2 || width == 4 ? width : 0;
    case kParamTMin:
    case kParamTMax:
    case kParamWidth: return 8;
    case kParamNumber: return 2;
    case kParamUnused: return 0;
    default: return 4;
    }
}

bool Selected(const AnalyzerParamTable& params, int32_t i)
{
    return params[static_cast<std::size_t>(i)].m_bSelected != 0;
}

}  // namespace

CMGenericParameterEventDataIterator::CMGenericParameterEventDataIterator(
    uint16_t channelCount, int32_t recordSize, const uint8_t* data, const CMIAnalyzerProperty* analyzer,
    const AnalyzerParamTable* params, uint16_t adZero, double unitsPerAD, int32_t headerVersion, uint8_t* writable)
    : m_pData(data),
      m_pWritable(writable),
      m_wADZero(adZero),
      m_dUnitsPerAD(unitsPerAD),
      m_pParams(params),
      m_pAnalyzer(analyzer),
      m_wChannelCount(data && analyzer && params ? channelCount : 0),
      m_lRecordSize(recordSize > 0 ? recordSize : 0),
      m_iHeaderVersion(headerVersion)
{}

bool CMGenericParameterEventDataIterator::TableFits(const CMIAnalyzerProperty& analyzer,
                                                    const AnalyzerParamTable& params, int32_t recordSize)
{
    int64_t at = 0;
    for (int32_t i = 0; i < kAnalyzerParamCount; ++i) {
        if (!Selected(params, i)) continue;
        const int32_t width = analyzer.GetWidth(i);
        if (width < 0 || at + BytesRead(i, width) > recordSize) return false;
        at += width;
    }
    return true;
}

bool CMGenericParameterEventDataIterator::SetStartPos()
{
    if (!m_pParams) return false;
    for (int32_t i = 0; i < kAnalyzerParamCount; ++i)
        if (Selected(*m_pParams, i)) {
            m_iState = i;
            m_lCurrent = m_lRecordStart;
            return true;
        }
    return false;
}

bool CMGenericParameterEventDataIterator::Next()
{
    if (m_iState < 0 || !m_pParams || !m_pAnalyzer) return false;
    for (int32_t i = m_iState + 1; i < kAnalyzerParamCount; ++i)
        if (Selected(*m_pParams, i)) {
            m_lCurrent += m_pAnalyzer->GetWidth(m_iState);
            m_iState = i;
            return true;
        }
    return false;
}

bool CMGenericParameterEventDataIterator::NextChannel()
{
    if (m_iState < 0 || m_iState >= kAnalyzerParamCount) return false;
    if (++m_iChannel >= m_wChannelCount) return false;
    m_lRecordStart += m_lRecordSize;
    m_lCurrent = m_lRecordStart;
    m_iState = 0;
    return true;
}

const uint8_t* CMGenericParameterEventDataIterator::At(int32_t n) const
{
    if (!m_pData || m_iChannel >= m_wChannelCount || n < 0 || m_lCurrent < m_lRecordStart ||
        m_lCurrent + n > m_lRecordStart + m_lRecordSize) {
        m_bOutside = true;
        return nullptr;
    }
    return m_pData + m_lCurrent;
}

uint8_t* CMGenericParameterEventDataIterator::WritableAt(int32_t n)
{
    return m_pWritable && At(n) ? m_pWritable + m_lCurrent : nullptr;
}

uint16_t CMGenericParameterEventDataIterator::GetWord() const
{
    const uint8_t* p = m_iHeaderVersion != -1 ? At(2) : nullptr;
    return p ? kvd::LoadU16(p) : 0;
}

int32_t CMGenericParameterEventDataIterator::GetDWord() const
{
    const uint8_t* p = At(4);
    return p ? kvd::LoadI32(p) : 0;
}

float CMGenericParameterEventDataIterator::GetFloat() const
{
    const uint8_t* p = m_iHeaderVersion != -1 ? At(4) : nullptr;
    return p ? kvd::LoadF32(p) : 0.0f;
}

uint64_t CMGenericParameterEventDataIterator::GetQuadWord() const
{
    const uint8_t* p = At(8);
    return p ? kvd::LoadU64(p) : 0;
}

void CMGenericParameterEventDataIterator::SetWord(uint16_t v)
{
    if (uint8_t* p = WritableAt(2)) kvd::StoreU16(p, v);
}

void CMGenericParameterEventDataIterator::SetDWord(int32_t v)
{
    if (uint8_t* p = WritableAt(4)) kvd::StoreI32(p, v);
}

void CMGenericParameterEventDataIterator::SetFloat(float v)
{
    if (uint8_t* p = WritableAt(4)) kvd::StoreF32(p, v);
}

void CMGenericParameterEventDataIterator::SetQuadWord(uint64_t v)
{
    if (uint8_t* p = WritableAt(8)) kvd::StoreU64(p, v);
}

void CMGenericParameterEventDataIterator::SetData(const AnalyzerData& d)
{
    if (!m_pAnalyzer) return;
    for (int32_t i = 0; i < kParamUnused; ++i) {
        if (!m_pAnalyzer->IsRecorded(i)) continue;
        switch (i) {
        case kParamMin: SetDWord(static_cast<int32_t>(d.m_dwMin)); break;
        case kParamMax: SetDWord(static_cast<int32_t>(d.m_dwMax)); break;
        case kParamTMin: SetQuadWord(d.m_qwTMin); break;
        case kParamTMax: SetQuadWord(d.m_qwTMax); break;
        case kParamHeight: SetDWord(static_cast<int32_t>(d.m_dwHeight)); break;
        case kParamWidth: SetQuadWord(d.m_qwWidth); break;
        case kParamAmplitude: SetDWord(static_cast<int32_t>(d.m_dwAmplitude)); break;
        case kParamArea: SetDWord(static_cast<int32_t>(d.m_dwArea)); break;
        case kParamNumber: SetWord(d.m_wNumber); break;
        case kParamRate: SetFloat(d.m_fRate); break;
        case kParamSlope: SetFloat(d.m_fSlope); break;
        case kParamSlope10_90: SetFloat(d.m_fSlope10_90); break;
        case kParamSlope20_80: SetFloat(d.m_fSlope20_80); break;
        default: SetFloat(d.m_fSlope30_70); break;
        }
        m_lCurrent += m_pAnalyzer->GetWidth(i);
    }
}

float CMGenericParameterEventDataIterator::Value() const
{
    // Products are formed in extended precision and rounded to f32 once.
    const long double scale = static_cast<float>(m_dUnitsPerAD);
    const auto volts = [&](int64_t raw) { return static_cast<float>((raw - m_wADZero) * scale); };
    switch (m_iState) {
    case kParamMin:
    case kParamMax:
    case kParamHeight: {
        const int32_t width = m_pAnalyzer->GetWidth(m_iState);
        if (width == 2) {
            const uint8_t* p = At(2);
            const uint16_t raw = p ? kvd::LoadU16(p) : 0;
            return raw == 0xFFFF ? kNoValue : volts(raw);
        }
        if (width == 4) {
            const int32_t raw = GetDWord();
            return raw == -1 ? kNoValue : volts(raw);
        }
        return 0.0f;
    }
    case kParamAmplitude: return volts(GetDWord());
    case kParamTMin:
    case kParamTMax: {
        const auto raw = static_cast<int64_t>(GetQuadWord());
        return raw == 0 ? kNoValue : static_cast<float>(static_cast<long double>(raw) / 1000000.0L);
    }
    case kParamWidth: {
        const uint64_t raw = GetQuadWord();
        if (raw == 0) return kNoValue;
        return static_cast<float>(raw <= 1000000000000ULL ? raw : raw / 1000000000ULL);
    }
    case kParamArea: {
        const auto raw = static_cast<uint32_t>(GetDWord());
        return raw == 0 ? kNoValue : static_cast<float>(raw * scale);
    }
    case kParamNumber: {
        const uint8_t* p = At(2);
        return p ? kvd::LoadU16(p) : 0.0f;
    }
    case kParamRate: {
        const uint8_t* p = At(4);
        if (!p) return 0.0f;
        return m_iHeaderVersion > 2 ? kvd::LoadF32(p) : static_cast<float>(kvd::LoadU32(p));
    }
    case kParamUnused: return 0.0f;
    default: {
        const uint8_t* p = At(4);
        return p ? kvd::LoadF32(p) : 0.0f;
    }
    }
}

bool CMGenericParameterEventDataIterator::GetRealWorldData(int32_t channel, std::vector<float>& values)
{
    values.clear();
    m_bOutside = false;
    m_lRecordStart = m_lCurrent = 0;
    m_iChannel = 0;
    m_iState = -1;
    if (channel < 0 || channel >= m_wChannelCount) return false;
    // Nothing selected: every channel has an empty list of values.
    if (!SetStartPos()) return true;
    for (int32_t n = 0; n < channel; ++n)
        if (!NextChannel() || !SetStartPos()) return false;
    do values.push_back(Value());
    while (Next());
    return !m_bOutside;
}
