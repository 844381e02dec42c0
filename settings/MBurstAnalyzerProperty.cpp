#include "settings/MBurstAnalyzerProperty.h"

#include "io/MSettingsReader.h"
#include "settings/MSpikeAnalyzerProperty.h"

bool CMBurstAnalyzerProperty::ReadBurstParameterFormatInfo(CMSettingsReader& in, CMBurstAnalyzerProperty& target)
{
    if (!ReadUnitAnalyzerSettings(in, target.m_arrBurstParams, target.m_arrSpikeUnitSelected,
                                  target.m_strInputBufferName))
        return false;
    uint32_t word = 0;
    if (in.U32(word)) target.m_iUnitSortMethod = static_cast<int32_t>(word);
    for (int32_t& setting : target.m_arrBurstSettings)
        if (in.U32(word)) setting = static_cast<int32_t>(word);
    return in.Ok();
}

void CMBurstAnalyzerProperty::SetBurstParamTable()
{
    m_arrBurstParams = {{
        {-1.0f, 4.0f, 1, 1.0, 0, 8, "Marker"},
        {0.0f, 100.0f, 0, 1.0, 0, 5, "Spike Frequency"},
        {0.0f, 100.0f, 0, 1.0, 0, 6, "Spike Number"},
    }};
}
