// Settings of a digital filter that the recording instrument applied to a stream: its type (by name), pass
// type, named parameters (cut-off frequencies), Savitzky-Golay coefficients, band-stop resonator and
// downsampling.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/KVStreamProperty.h"

class CMSettingsReader;

#define KVD_FILTER_EXPORT __attribute__((visibility("default")))

// Mains frequencies offered for the band-stop resonator (50, 60 Hz) and its quality factors.
extern "C" KVD_FILTER_EXPORT const double Bandstop_Frequencies[2];
extern "C" KVD_FILTER_EXPORT const double Bandstop_Q_Factors[6];

// Filter types; the value indexes the table of type names.
enum EnFilterTypes : int32_t {
    FILTER_UNKNOWN = -1,  // a name outside the table
    FILTER_BESSEL_2ND = 0,
    FILTER_BESSEL_4TH = 1,
    FILTER_BUTTERWORTH_2ND = 2,
    FILTER_CHEBYSHEV_2ND_05DB = 3,
    FILTER_CHEBYSHEV_2ND_10DB = 4,
    FILTER_CHEBYSHEV_2ND_20DB = 5,
    FILTER_CHEBYSHEV_2ND_30DB = 6,
    FILTER_BANDSTOP_RESONATOR = 7,
    FILTER_SAVITZKY_GOLAY = 8,
};

class CMFilterProperty : public CMCloneObject {
public:
    static constexpr int32_t kFilterTypeCount = 9;
    enum PassType : int32_t { PASS_UNDEFINED = 0, PASS_LOW = 1, PASS_HIGH = 2 };

    // Savitzky-Golay smoothing: the coefficients and the window (points left and right of the centre).
    class CSGCoeff {
    public:
        std::vector<double> m_Coeff;
        int32_t m_iDataPointsLeft = 4;
        int32_t m_iDataPointsRight = 4;
        int32_t m_iOrder = 2;
    };

    CMFilterProperty() = default;
    CMFilterProperty(const CMFilterProperty&) = default;
    CMFilterProperty& operator=(const CMFilterProperty&) = default;
    ~CMFilterProperty() override = default;
    CMCloneObject* Clone() const override { return new CMFilterProperty(*this); }

    // Decodes the settings block of a filter stream (after its tag) of block version `version` and takes
    // its values. False, with this object unchanged, when a count or a field runs past the bytes.
    bool FromFormatInfo(CMSettingsReader& in, uint16_t version);

    // The name of a filter type, for the values 0 to 8; empty otherwise.
    static std::string GetFilterName(int32_t type);
    std::string GetFilterName() const { return m_strFilterName; }
    void SetFilterName(const std::string& name) { m_strFilterName = name; }
    // The type whose name this is; FILTER_UNKNOWN for a name outside the table.
    static EnFilterTypes GetFilterType(const std::string& name);
    EnFilterTypes GetFilterType() const { return GetFilterType(m_strFilterName); }
    // True for the recursive types (0 to 7); false for Savitzky-Golay and unknown names.
    static bool IsIIR(const std::string& name);
    bool IsIIRFilter() const { return IsIIR(m_strFilterName); }
    static bool IsSavitzkyGolay(const std::string& name);
    bool IsSavitzkyGolayFilter() const { return IsSavitzkyGolay(m_strFilterName); }

    int32_t GetPassType() const { return m_iPassType; }
    void SetPassType(int32_t passType) { m_iPassType = passType; }
    // "Undefined", "Low Pass" or "High Pass"; "Undefined" also for a pass type outside these.
    std::string GetPassTypeAsString() const;

    // Sets a recursive filter with one cut-off; the pass type must be low or high pass (false otherwise,
    // and nothing changes). The second value is not used.
    bool SetIIRFilter(float cutoff, float unused, double centerFrequency, double qFactor, const std::string& name,
                      int32_t passType);

    // Parameter value 0 (the lower or only cut-off) and 1 (the upper), in Hz; -1 when absent. The integer
    // forms truncate toward zero and saturate at the limits of 32 bits (NaN gives -1).
    int32_t GetLowerCutoff() const;
    float GetLowerCutoffAsFloat() const { return ParameterValue(0); }
    int32_t GetUpperCutoff() const;
    float GetUpperCutoffAsFloat() const { return ParameterValue(1); }
    int32_t GetCutoff() const { return GetLowerCutoff(); }

    const std::vector<std::string>& GetParameterNames() const { return m_ParameterNames; }
    const std::vector<std::string>& GetParameterUnits() const { return m_ParameterUnits; }
    const std::vector<float>& GetParameterValues() const { return m_ParameterValues; }

    double GetCenterFrequency() const { return m_dCenterFrequency; }
    void SetCenterFrequency(double f) { m_dCenterFrequency = f; }
    double GetQFactor() const { return m_dQFactor; }
    void SetQFactor(double q) { m_dQFactor = q; }
    bool GetDownsamplingEnabled() const { return m_bDownsamplingEnabled; }
    bool IsDownsamplingEnabled() const { return m_bDownsamplingEnabled; }
    void SetDownsamplingEnabled(bool on) { m_bDownsamplingEnabled = on; }
    int32_t GetDownsamplingFrequency() const { return m_iDownsamplingFrequency; }
    void SetDownsamplingFrequency(int32_t f) { m_iDownsamplingFrequency = f; }

    int32_t GetSGOrder() const { return m_SGCoeff.m_iOrder; }
    int32_t GetSGNumDataPointsLeft() const { return m_SGCoeff.m_iDataPointsLeft; }
    int32_t GetSGNumDataPointsRight() const { return m_SGCoeff.m_iDataPointsRight; }
    // Points of the window: left + right + 1 (in 64 bits, the stored counts are arbitrary).
    int64_t GetSGNumSamples() const { return int64_t{m_SGCoeff.m_iDataPointsLeft} + m_SGCoeff.m_iDataPointsRight + 1; }
    CSGCoeff GetSGCoeff() const { return m_SGCoeff; }
    void SetSGCoeff(const CSGCoeff& coeff) { m_SGCoeff = coeff; }

private:
    float ParameterValue(std::size_t i) const { return i < m_ParameterValues.size() ? m_ParameterValues[i] : -1.0f; }

    int32_t m_iPassType = PASS_UNDEFINED;
    std::string m_strFilterName;
    std::vector<std::string> m_ParameterNames;
    std::vector<std::string> m_ParameterUnits;
    std::vector<float> m_ParameterValues;
    double m_dCenterFrequency = Bandstop_Frequencies[0];
    double m_dQFactor = Bandstop_Q_Factors[1];
    bool m_bDownsamplingEnabled = false;
    int32_t m_iDownsamplingFrequency = 100;
    CSGCoeff m_SGCoeff;
};
