#include "settings/KVStreamProperty.h"

#include <cmath>

namespace {

struct UnitEntry {
    const char* unit;
    int32_t exponent;
};

// Indexed by unit-type code.
const UnitEntry kUnits[] = {
    {"V", -6}, {"s", -9}, {"s", -9}, {"s", -9}, {"Vs", -15}, {"Hz", 0}, {"", 0}, {"V/s", -3}, {"", -6},
};
constexpr int32_t kUnitCount = static_cast<int32_t>(sizeof kUnits / sizeof kUnits[0]);

}  // namespace

void CUnitType::GetUnitString(std::string& unit) const
{
    unit = (m_iUnitType >= 0 && m_iUnitType < kUnitCount) ? kUnits[m_iUnitType].unit : "";
}

void CUnitType::GetUnitString(std::string& unit, int32_t exponent) const
{
    std::string prefix, base;
    GetPreUnitString(prefix, exponent);
    GetUnitString(base);
    unit = prefix + base;
}

void CUnitType::GetPreUnitString(std::string& prefix, int32_t exponent)
{
    prefix.clear();
    switch (exponent) {
    case -9: prefix = "n"; break;
    case -6: prefix = "\xB5"; break;
    case -3: prefix = "m"; break;
    case 3: prefix = "k"; break;
    case 6: prefix = "M"; break;
    case 9: prefix = "G"; break;
    default: break;
    }
}

int32_t CUnitType::GetBasicExponent() const
{
    return (m_iUnitType >= 0 && m_iUnitType < kUnitCount) ? kUnits[m_iUnitType].exponent : 0;
}

float FloatRound(float x)
{
    // The scaling loops below never end for an infinite value.
    if (!std::isfinite(x)) return x;
    const bool negative = x < 0.0f;
    float m = std::fabs(x);
    if (m == 0.0f) return 0.0f;
    int p = 0;
    if (m >= 10.0f) {
        while (m >= 10.0f) {
            m = m / 10.0f;
            ++p;
        }
    } else if (m < 1.0f) {
        while (m < 1.0f) {
            m = m * 10.0f;
            --p;
        }
    }
    const float d = negative ? std::floor(-m) : std::ceil(m);
    const float scale = static_cast<float>(std::pow(10.0, p));
    return scale * d;
}
