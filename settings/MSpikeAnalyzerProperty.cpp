#include "settings/MSpikeAnalyzerProperty.h"

#include "io/MSettingsReader.h"

bool ReadUnitAnalyzerSettings(CMSettingsReader& in, std::array<AnalyzerParams, 3>& params,
                              std::array<int32_t, 4>& unitSelected, std::string& inputBufferName)
{
    uint32_t count = 0;
    if (!in.U32(count) || count > params.size()) return false;
    for (uint32_t i = 0; i < count; ++i)
        if (!params[i].Read(in, false)) return false;
    if (!in.U32(count) || count > unitSelected.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t flag = 0;
        if (in.U32(flag)) unitSelected[i] = static_cast<int32_t>(flag);
    }
    in.String32Exact(inputBufferName);
    return in.Ok();
}

bool CMSpikeAnalyzerProperty::ReadSpikeParameterFormatInfo(CMSettingsReader& in, CMSpikeAnalyzerProperty& target)
{
    if (!ReadUnitAnalyzerSettings(in, target.m_arrSpikeParams, target.m_arrSpikeUnitSelected,
                                  target.m_strInputBufferName))
        return false;
    uint32_t method = 0;
    if (in.U32(method)) target.m_iUnitSortMethod = static_cast<int32_t>(method);
    return in.Ok();
}

void CMSpikeAnalyzerProperty::SetSpikeParamTable()
{
    m_arrSpikeParams = {{
        {0.0f, 100.0f, 1, 1.0, -3, 3, "ISI"},
        {0.0f, 100.0f, 0, 1.0, 0, 5, "Rate"},
        {-1.0f, 4.0f, 0, 1.0, 0, 8, "Timestamp"},
    }};
}
