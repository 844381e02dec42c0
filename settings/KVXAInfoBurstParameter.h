// Information block of a "bstparam" stream: the settings of the burst analyzer that produced its records.
#pragma once

#include "settings/KVXAInfoUnitAnalyzer.h"
#include "settings/MBurstAnalyzerProperty.h"

class CKVXAInfoBurstParameter : public CKVXAInfoUnitAnalyzer<CMBurstAnalyzerProperty> {
public:
    // Decodes the settings that follow the block's tag; false when they cannot be decoded.
    bool ReadBurstParameterFormatInfo(CMSettingsReader& in)
    {
        return CMBurstAnalyzerProperty::ReadBurstParameterFormatInfo(in, m_Property);
    }

    // The five burst-detection settings, in stored order.
    const std::array<int32_t, 5>& BurstSettings() const { return m_Property.m_arrBurstSettings; }
};
