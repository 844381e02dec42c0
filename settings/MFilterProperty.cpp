#include "settings/MFilterProperty.h"

#include <cmath>
#include <limits>

#include "io/MSettingsReader.h"

extern "C" const double Bandstop_Frequencies[2] = {50.0, 60.0};
extern "C" const double Bandstop_Q_Factors[6] = {1.0, 2.0, 3.0, 4.0, 5.0, 10.0};

namespace {

// Indexed by EnFilterTypes.
const char* const kFilterNames[CMFilterProperty::kFilterTypeCount] = {
    "Bessel 2nd order",           "Bessel 4th order",           "Butterworth 2nd order",
    "Chebyshev 2nd order 0.5 dB", "Chebyshev 2nd order 1.0 dB", "Chebyshev 2nd order 2.0 dB",
    "Chebyshev 2nd order 3.0 dB", "Bandstop Resonator",         "Savitzky-Golay",
};

// A count followed by that many elements of at least `elementSize` bytes; false when they cannot fit.
bool Count(CMSettingsReader& in, std::size_t elementSize, uint32_t& n) { return in.U32(n) && in.Fits(n, elementSize); }

bool Strings(CMSettingsReader& in, std::vector<std::string>& out)
{
    uint32_t n = 0;
    if (!Count(in, 4, n)) return false;
    out.resize(n);
    for (std::string& s : out)
        if (!in.String32Exact(s)) return false;
    return true;
}

// Truncates toward zero, saturating at the limits of 32 bits; NaN gives -1.
int32_t Truncate(float v)
{
    if (std::isnan(v)) return -1;
    if (v >= 2147483647.0f) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace

bool CMFilterProperty::FromFormatInfo(CMSettingsReader& in, uint16_t version)
{
    CMFilterProperty p;
    uint32_t passType = 0, n = 0;
    if (!in.U32(passType) || !in.String32Exact(p.m_strFilterName)) return false;
    p.m_iPassType = static_cast<int32_t>(passType);
    if (!Strings(in, p.m_ParameterNames) || !Strings(in, p.m_ParameterUnits)) return false;
    if (!Count(in, 4, n)) return false;
    p.m_ParameterValues.resize(n);
    for (float& v : p.m_ParameterValues) in.F32(v);
    if (version <= 1) {
        // Two lists of four-byte values that later writers dropped.
        for (int list = 0; list < 2; ++list)
            if (!Count(in, 4, n) || !in.Skip(std::size_t{4} * n)) return false;
    }
    if (version >= 1) {
        if (!Count(in, 8, n)) return false;
        p.m_SGCoeff.m_Coeff.resize(n);
        for (double& c : p.m_SGCoeff.m_Coeff) in.F64(c);
        uint32_t left = 0, right = 0, order = 0;
        in.U32(left);
        in.U32(right);
        in.U32(order);
        p.m_SGCoeff.m_iDataPointsLeft = static_cast<int32_t>(left);
        p.m_SGCoeff.m_iDataPointsRight = static_cast<int32_t>(right);
        p.m_SGCoeff.m_iOrder = static_cast<int32_t>(order);
    }
    if (version >= 3) {
        uint32_t frequency = 0;
        in.F64(p.m_dCenterFrequency);
        in.F64(p.m_dQFactor);
        in.Bool(p.m_bDownsamplingEnabled);
        in.U32(frequency);
        p.m_iDownsamplingFrequency = static_cast<int32_t>(frequency);
    }
    if (!in.Ok()) return false;
    *this = p;
    return true;
}

std::string CMFilterProperty::GetFilterName(int32_t type)
{
    return type >= 0 && type < kFilterTypeCount ? kFilterNames[type] : "";
}

EnFilterTypes CMFilterProperty::GetFilterType(const std::string& name)
{
    for (int32_t i = 0; i < kFilterTypeCount; ++i)
        if (name == kFilterNames[i]) return static_cast<EnFilterTypes>(i);
    return FILTER_UNKNOWN;
}

bool CMFilterProperty::IsIIR(const std::string& name)
{
    const EnFilterTypes type = GetFilterType(name);
    return type >= FILTER_BESSEL_2ND && type <= FILTER_BANDSTOP_RESONATOR;
}

bool CMFilterProperty::IsSavitzkyGolay(const std::string& name) { return name == kFilterNames[FILTER_SAVITZKY_GOLAY]; }

std::string CMFilterProperty::GetPassTypeAsString() const
{
    switch (m_iPassType) {
    case PASS_LOW: return "Low Pass";
    case PASS_HIGH: return "High Pass";
    default: return "Undefined";
    }
}

bool CMFilterProperty::SetIIRFilter(float cutoff, float /*unused*/, double centerFrequency, double qFactor,
                                    const std::string& name, int32_t passType)
{
    if (passType != PASS_LOW && passType != PASS_HIGH) return false;
    m_dCenterFrequency = centerFrequency;
    m_dQFactor = qFactor;
    m_strFilterName = name;
    m_iPassType = passType;
    m_ParameterNames = {"Cutoff Frequency"};
    m_ParameterUnits = {"Hz"};
    m_ParameterValues = {cutoff};
    return true;
}

int32_t CMFilterProperty::GetLowerCutoff() const
{
    return m_ParameterValues.empty() ? -1 : Truncate(m_ParameterValues[0]);
}

int32_t CMFilterProperty::GetUpperCutoff() const
{
    return m_ParameterValues.size() < 2 ? -1 : Truncate(m_ParameterValues[1]);
}
