// Pieces shared by every instrument-settings class: the unit-type code of analyzer parameters, the
// polymorphic settings root and the rounding of value ranges for display.
#pragma once

#include <cstdint>
#include <string>

// A physical unit with the decimal exponent in which values of that unit are stored.
class CUnitType {
public:
    explicit CUnitType(int32_t code = 0) : m_iUnitType(code) {}

    int32_t GetUnitType() const { return m_iUnitType; }
    void SetUnitType(int32_t code) { m_iUnitType = code; }

    // The unit string of the code ("V", "s", "Vs", "Hz", "V/s" or empty); empty for an unknown code.
    void GetUnitString(std::string& unit) const;
    // The decimal prefix of `exponent` followed by the unit string, for example "mV".
    void GetUnitString(std::string& unit, int32_t exponent) const;
    // The decimal prefix of `exponent`; empty for an exponent without a prefix. The micro prefix is the
    // single byte 0xB5 (ISO 8859-1), as the recording application writes it.
    static void GetPreUnitString(std::string& prefix, int32_t exponent);
    // The power of ten in which values of the unit are stored; 0 for an unknown code.
    int32_t GetBasicExponent() const;

private:
    int32_t m_iUnitType;
};

// Root of the settings classes: a copy of the concrete object through its base.
class CMCloneObject {
public:
    CMCloneObject() = default;
    CMCloneObject(const CMCloneObject&) = default;
    CMCloneObject& operator=(const CMCloneObject&) = default;
    virtual ~CMCloneObject() = default;
    // A new object of the same concrete class with a copy of all fields; the caller owns it.
    virtual CMCloneObject* Clone() const { return new CMCloneObject(*this); }
};

// Rounds away from zero to one significant decimal digit (0.0327 -> 0.04, -150 -> -200, 10 -> 10).
// Infinite and NaN inputs are returned unchanged.
float FloatRound(float x);
