// Information block of a "spkparam" stream: the settings of the spike analyzer that produced its records.
#pragma once

#include "settings/KVXAInfoUnitAnalyzer.h"
#include "settings/MSpikeAnalyzerProperty.h"

class CKVXAInfoSpikeParameter : public CKVXAInfoUnitAnalyzer<CMSpikeAnalyzerProperty> {
public:
    // Decodes the settings that follow the block's tag; false when they cannot be decoded.
    bool ReadSpikeParameterFormatInfo(CMSettingsReader& in)
    {
        return CMSpikeAnalyzerProperty::ReadSpikeParameterFormatInfo(in, m_Property);
    }
};
