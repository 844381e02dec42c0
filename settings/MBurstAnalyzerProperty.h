// Settings of the burst analyzer of a "bstparam" stream: the descriptions of its three parameters
// ("Marker", "Spike Frequency", "Spike Number"), which sorted units it analyzes, its input, its unit sort
// method and five burst-detection settings. The block after the tag "PARAMBSP" is laid out as the spike
// analyzer's (MSpikeAnalyzerProperty.h) and ends with six u32: the unit sort method and the five settings.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "settings/MIAnalyzerProperty.h"

class CMSettingsReader;

class CMBurstAnalyzerProperty : public CMCloneObject {
public:
    CMBurstAnalyzerProperty() { SetBurstParamTable(); }
    CMBurstAnalyzerProperty(const CMBurstAnalyzerProperty&) = default;
    CMBurstAnalyzerProperty& operator=(const CMBurstAnalyzerProperty&) = default;
    ~CMBurstAnalyzerProperty() override = default;
    CMCloneObject* Clone() const override { return new CMBurstAnalyzerProperty(*this); }

    // Decodes the block that follows the tag into `target`; false when it cannot be decoded.
    static bool ReadBurstParameterFormatInfo(CMSettingsReader& in, CMBurstAnalyzerProperty& target);
    // Restores the default parameter descriptions.
    void SetBurstParamTable();
    bool IsParamEnabled(uint16_t id) const { return id < m_arrBurstParams.size() && m_arrBurstParams[id].m_bSelected; }
    void SetParamEnabled(uint16_t id, bool enabled)
    {
        if (id < m_arrBurstParams.size()) m_arrBurstParams[id].m_bSelected = enabled ? 1 : 0;
    }

    // The parameter descriptions, for code that serves both analyzers.
    const std::array<AnalyzerParams, 3>& Params() const { return m_arrBurstParams; }

    std::array<AnalyzerParams, 3> m_arrBurstParams;
    std::array<int32_t, 4> m_arrSpikeUnitSelected{{1, 0, 0, 0}};
    std::string m_strInputBufferName;
    int32_t m_iUnitSortMethod = 0;
    // Burst-detection settings, in stored order.
    std::array<int32_t, 5> m_arrBurstSettings{{10000, 10000, 10000, 20000, 4}};
};
