// Settings of the spike analyzer of a "spkparam" stream: the descriptions of its three parameters ("ISI",
// "Rate", "Timestamp"), which sorted units it analyzes, its input and its unit sort method.
//
// Format-private layout after the tag "PARAMSPP" (the burst analyzer's is the same up to item 4):
//   1  K u32 (at most 3), then K descriptions (AnalyzerParams with a 32-bit counted name, kept exactly)
//   2  M u32 (at most 4), then M u32 unit-selection flags
//   3  input buffer name, 32-bit counted, exact
//   4  unit sort method u32
// Descriptions and flags beyond K and M keep their defaults.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "settings/MIAnalyzerProperty.h"

class CMSettingsReader;

// Items 1 to 3 of a spike- or burst-analyzer block. False when the bytes end early or a count exceeds its
// table.
bool ReadUnitAnalyzerSettings(CMSettingsReader& in, std::array<AnalyzerParams, 3>& params,
                              std::array<int32_t, 4>& unitSelected, std::string& inputBufferName);

class CMSpikeAnalyzerProperty : public CMCloneObject {
public:
    CMSpikeAnalyzerProperty() { SetSpikeParamTable(); }
    CMSpikeAnalyzerProperty(const CMSpikeAnalyzerProperty&) = default;
    CMSpikeAnalyzerProperty& operator=(const CMSpikeAnalyzerProperty&) = default;
    ~CMSpikeAnalyzerProperty() override = default;
    CMCloneObject* Clone() const override { return new CMSpikeAnalyzerProperty(*this); }

    // Decodes the block that follows the tag into `target`; false when it cannot be decoded.
    static bool ReadSpikeParameterFormatInfo(CMSettingsReader& in, CMSpikeAnalyzerProperty& target);
    // Restores the default parameter descriptions.
    void SetSpikeParamTable();
    // The selected flag of parameter `id` (0 to 2); false and unchanged outside.
    bool IsParamEnabled(uint16_t id) const { return id < m_arrSpikeParams.size() && m_arrSpikeParams[id].m_bSelected; }
    void SetParamEnabled(uint16_t id, bool enabled)
    {
        if (id < m_arrSpikeParams.size()) m_arrSpikeParams[id].m_bSelected = enabled ? 1 : 0;
    }

    // The parameter descriptions, for code that serves both analyzers.
    const std::array<AnalyzerParams, 3>& Params() const { return m_arrSpikeParams; }

    std::array<AnalyzerParams, 3> m_arrSpikeParams;
    std::array<int32_t, 4> m_arrSpikeUnitSelected{{1, 0, 0, 0}};
    std::string m_strInputBufferName;
    int32_t m_iUnitSortMethod = 0;
};
