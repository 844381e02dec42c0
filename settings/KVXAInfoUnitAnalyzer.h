// The information block shape shared by spike-parameter and burst-parameter streams: the analyzer's
// parameter descriptions, unit selection and input. Indexes outside the tables answer neutrally (false,
// empty, 0).
#pragma once

#include <cstdint>
#include <string>

#include "settings/KVStreamProperty.h"
#include "settings/KVXAInfo.h"

template <typename Property>
class CKVXAInfoUnitAnalyzer : public CKVXAInfo {
public:
    const char* InputBufferName() const { return m_Property.m_strInputBufferName.c_str(); }
    int32_t ParameterCount() const { return static_cast<int32_t>(m_Property.Params().size()); }
    bool ParameterSelected(int32_t id) const { return Valid(id) && m_Property.Params()[id].m_bSelected != 0; }
    const char* ParameterName(int32_t id) const { return Valid(id) ? m_Property.Params()[id].m_strName.c_str() : ""; }
    double ParameterFactor(int32_t id) const { return Valid(id) ? m_Property.Params()[id].m_dFactor : 0.0; }
    int32_t ParameterExponent(int32_t id) const { return Valid(id) ? m_Property.Params()[id].m_iExponent : 0; }
    // The unit string of the parameter's unit type, without a decimal prefix.
    std::string ParameterUnit(int32_t id) const
    {
        std::string unit;
        if (Valid(id)) CUnitType(m_Property.Params()[id].m_iUnitType).GetUnitString(unit);
        return unit;
    }
    int32_t UnitCount() const { return static_cast<int32_t>(m_Property.m_arrSpikeUnitSelected.size()); }
    bool UnitSelected(int32_t id) const
    {
        return id >= 0 && id < UnitCount() && m_Property.m_arrSpikeUnitSelected[id] != 0;
    }
    int32_t UnitSortMethod() const { return m_Property.m_iUnitSortMethod; }

    const Property& GetProperty() const { return m_Property; }

protected:
    bool Valid(int32_t id) const { return id >= 0 && id < ParameterCount(); }

    Property m_Property;
};
