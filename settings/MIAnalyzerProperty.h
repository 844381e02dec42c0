// Settings of the waveform analyzer of a "params" stream: which parameters a record holds, how many bytes
// each takes, and how each converts to a physical value. The parameter descriptions and their positions
// within a decoded record live in the stream's information block (CKVXAInfoParam) and are filled here.
//
// The 15 parameter indexes, their default record widths and how a record's value decodes:
//
//   0 "Min"  4 AD value      5 "Width"  8 width       10 "Slope"          4 float
//   1 "Max"  4 AD value      6 "Ampl."  4 AD diff.    11 "Slope 10%-90%"  4 float
//   2 "T-Min" 8 time         7 "Area"   4 area        12 "Slope 20%-80%"  4 float
//   3 "T-Max" 8 time         8 "Number" 2 count       13 "Slope 30%-70"   4 float
//   4 "Height" 4 AD value    9 "Rate"   4 rate        14 (no name)        0 not decoded
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "settings/KVStreamProperty.h"

class CMSettingsReader;
class CMTimeWindowProperty;

// One parameter description: display range, whether it is recorded, scale and unit, name.
struct AnalyzerParams {
    float m_fMin = 0.0f;
    float m_fMax = 0.0f;
    int32_t m_bSelected = 0;
    double m_dFactor = 1.0;
    int32_t m_iExponent = 0;
    int32_t m_iUnitType = 0;  // a CUnitType code
    std::string m_strName;

    // Reads range minimum f32, range maximum f32, selected u32, factor f64, exponent i32, unit type i32 and
    // the name: with a 16-bit count, NUL-stopped (analyzer blocks), or a 32-bit count, exact (spike and
    // burst analyzer blocks). False when the bytes end early.
    bool Read(CMSettingsReader& in, bool shortNulStoppedName);
};

// Parameter indexes of the analyzer tables.
enum EnAnalyzerParam : int32_t {
    kParamMin,
    kParamMax,
    kParamTMin,
    kParamTMax,
    kParamHeight,
    kParamWidth,
    kParamAmplitude,
    kParamArea,
    kParamNumber,
    kParamRate,
    kParamSlope,
    kParamSlope10_90,
    kParamSlope20_80,
    kParamSlope30_70,
    kParamUnused,
    kAnalyzerParamCount
};
using AnalyzerParamTable = std::array<AnalyzerParams, kAnalyzerParamCount>;
using AnalyzerParamPositions = std::array<int32_t, kAnalyzerParamCount>;

// The record image that CMGenericParameterEventDataIterator::SetData writes.
struct AnalyzerData {
    uint32_t m_dwMin = 0, m_dwMax = 0;
    uint64_t m_qwTMin = 0, m_qwTMax = 0;
    uint32_t m_dwHeight = 0;
    uint64_t m_qwWidth = 0;
    uint32_t m_dwAmplitude = 0, m_dwArea = 0;
    uint16_t m_wNumber = 0;
    float m_fRate = 0.0f, m_fSlope = 0.0f, m_fSlope10_90 = 0.0f, m_fSlope20_80 = 0.0f, m_fSlope30_70 = 0.0f;
};

// Result records of the spike and burst analyzers.
struct SpikeAnalyzerData {
    uint32_t m_dw0 = 0, m_dw1 = 0, m_dw2 = 0x7FFFFFFF, m_dw3 = 0, m_dw4 = 0;
};
struct BurstAnalyzerData {
    uint32_t m_dw0 = 0, m_dw1 = 0, m_dw2 = 0;
    float m_f3 = 3.40282347e38f;
};

class CMIAnalyzerProperty : public CMCloneObject {
public:
    // Value of a parameter that has none (and of the walker's all-ones words): the largest f32.
    static constexpr float kNoValue = 3.40282347e38f;
    // Input buffer name of a block that does not record one.
    static constexpr const char* kNotRecorded = "not recorded";

    CMIAnalyzerProperty() = default;
    CMIAnalyzerProperty(const CMIAnalyzerProperty&) = default;
    CMIAnalyzerProperty& operator=(const CMIAnalyzerProperty&) = default;
    ~CMIAnalyzerProperty() override = default;
    CMCloneObject* Clone() const override { return new CMIAnalyzerProperty(*this); }

    // Decodes the analyzer block of a "params" stream from `in` (its three tagged tables, then from
    // version 1 on the recorded flags, time-window count, input buffer name, further words and the time
    // window) into the analyzer, the time window, the positions and the descriptions, and stores the bytes
    // per channel record in `recordSize`. `budget` bounds the bytes read (0xFFFFFFFF: up to the end of
    // `in`). Fails on a missing tag, a table of more than 15 entries, a read past the end, a record size
    // beyond 16 bits or an analyzer mode other than 1.
    static bool ReadAnalyzerFormatInfo(CMSettingsReader& in, uint32_t budget, uint16_t version, uint16_t& recordSize,
                                       CMIAnalyzerProperty& analyzer, CMTimeWindowProperty& timeWindow,
                                       AnalyzerParamPositions& positions, AnalyzerParamTable& params, uint16_t adBits,
                                       uint16_t adZero, double unitsPerAD);

    // Sum of the record widths of the recorded parameters.
    int32_t GetChannelSize() const;
    // (raw - AD zero) x units per AD, rounded to f32.
    static float GetRealWorldData(uint16_t raw, uint16_t adZero, double unitsPerAD);
    // Sets the descriptions of indexes 0 to 13 (names, units, scales and display ranges from the stream's
    // AD format) and, for every index, its selected flag and position from the recorded flags. False (and
    // nothing set) for an analyzer mode other than 1.
    bool SetTables(uint16_t adBits, uint16_t adZero, double unitsPerAD, AnalyzerParamPositions& positions,
                   AnalyzerParamTable& params) const;

    int32_t GetFirstWord() const { return m_iFirstWord; }
    int32_t GetMode() const { return m_iMode; }
    void SetMode(int32_t mode) { m_iMode = mode; }
    bool IsRecorded(int32_t index) const { return InRange(index) && m_arrRecorded[index] == 1; }
    void SetRecorded(int32_t index, bool recorded)
    {
        if (InRange(index)) m_arrRecorded[index] = recorded ? 1 : 0;
    }
    // Bytes of parameter `index` in a record; 0 outside the table.
    int32_t GetWidth(int32_t index) const { return InRange(index) ? m_arrWidths[index] : 0; }
    void SetWidth(int32_t index, int32_t width)
    {
        if (InRange(index)) m_arrWidths[index] = width;
    }
    int32_t GetTimeWindowCount() const { return m_iTimeWindowCount; }
    const std::string& GetInputBufferName() const { return m_strInputBufferName; }
    int32_t GetSecondWord() const { return m_iSecondWord; }
    const std::string& GetSecondName() const { return m_strSecondName; }
    int32_t GetThirdWord() const { return m_iThirdWord; }

private:
    static bool InRange(int32_t index) { return index >= 0 && index < kAnalyzerParamCount; }

    int32_t m_iFirstWord = -1;
    int32_t m_iMode = 1;
    std::array<int32_t, kAnalyzerParamCount> m_arrRecorded{};
    std::array<int32_t, kAnalyzerParamCount> m_arrWidths{{4, 4, 8, 8, 4, 8, 4, 4, 2, 4, 4, 4, 4, 4, 0}};
    int32_t m_iTimeWindowCount = 1;
    std::string m_strInputBufferName;
    int32_t m_iSecondWord = 0;
    std::string m_strSecondName;
    int32_t m_iThirdWord = 0;
};
