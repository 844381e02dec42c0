#include "settings/MIAnalyzerProperty.h"

#include <cstring>

#include "io/MSettingsReader.h"
#include "settings/MTimeWindowProperty.h"

bool AnalyzerParams::Read(CMSettingsReader& in, bool shortNulStoppedName)
{
    uint32_t selected = 0;
    in.F32(m_fMin);
    in.F32(m_fMax);
    if (in.U32(selected)) m_bSelected = static_cast<int32_t>(selected);
    in.F64(m_dFactor);
    in.I32(m_iExponent);
    in.I32(m_iUnitType);
    if (shortNulStoppedName)
        in.String16NulStopped(m_strName);
    else
        in.String32Exact(m_strName);
    return in.Ok();
}

namespace {

constexpr const char* kParamNames[kAnalyzerParamCount - 1] = {
    "Min",  "Max",    "T-Min", "T-Max", "Height",        "Width",         "Ampl.",
    "Area", "Number", "Rate",  "Slope", "Slope 10%-90%", "Slope 20%-80%", "Slope 30%-70",
};

// Reads the tag of a table and its u16 entry count, which may not exceed the 15 entries of the tables.
bool TableHead(CMSettingsReader& in, const char* tag, uint16_t& count)
{
    char id[8];
    if (!in.Bytes(id, sizeof id) || std::memcmp(id, tag, sizeof id) != 0 || !in.U16(count)) return false;
    return count <= kAnalyzerParamCount;
}

// The three tables every analyzer block opens with: record widths, positions and descriptions. Their entry
// counts go to `described` (the descriptions' count).
bool ReadTables(CMSettingsReader& in, std::array<int32_t, kAnalyzerParamCount>& widths,
                AnalyzerParamPositions& positions, AnalyzerParamTable& params, uint16_t& described)
{
    uint16_t n = 0;
    if (!TableHead(in, "FMTBLPAR", n)) return false;
    for (uint16_t i = 0; i < n; ++i) {
        uint32_t width = 0;
        if (in.U32(width)) widths[i] = static_cast<int32_t>(width);
    }
    if (!in.Ok() || !TableHead(in, "PSTBLPAR", n)) return false;
    for (uint16_t i = 0; i < n; ++i) in.I32(positions[i]);
    if (!in.Ok() || !TableHead(in, "PRTBLPAR", described)) return false;
    for (uint16_t i = 0; i < described; ++i)
        if (!params[i].Read(in, true)) return false;
    return true;
}

}  // namespace

int32_t CMIAnalyzerProperty::GetChannelSize() const
{
    int64_t size = 0;
    for (int32_t i = 0; i < kAnalyzerParamCount; ++i)
        if (m_arrRecorded[i] == 1) size += m_arrWidths[i];
    return static_cast<int32_t>(size);
}

float CMIAnalyzerProperty::GetRealWorldData(uint16_t raw, uint16_t adZero, double unitsPerAD)
{
    return static_cast<float>((static_cast<int32_t>(raw) - static_cast<int32_t>(adZero)) * unitsPerAD);
}

bool CMIAnalyzerProperty::ReadAnalyzerFormatInfo(CMSettingsReader& in, uint32_t budget, uint16_t version,
                                                 uint16_t& recordSize, CMIAnalyzerProperty& analyzer,
                                                 CMTimeWindowProperty& timeWindow, AnalyzerParamPositions& positions,
                                                 AnalyzerParamTable& params, uint16_t adBits, uint16_t adZero,
                                                 double unitsPerAD)
{
    const std::size_t end =
        budget == 0xFFFFFFFFu || budget > in.Remaining() ? in.Size() : in.Position() + static_cast<std::size_t>(budget);
    const auto past = [&] { return !in.Ok() || in.Position() > end; };

    uint16_t described = 0;
    if (!ReadTables(in, analyzer.m_arrWidths, positions, params, described) || past()) return false;
    // The record holds the parameters that have a position, each in its width.
    int64_t size = 0;
    for (uint16_t i = 0; i < described; ++i)
        if (positions[i] != -1) size += static_cast<uint32_t>(analyzer.m_arrWidths[i]);
    if (size > 0xFFFF) return false;
    recordSize = static_cast<uint16_t>(size);

    timeWindow.SetChoice(-1);
    analyzer.m_strInputBufferName = kNotRecorded;
    if (version != 0) {
        in.I32(analyzer.m_iFirstWord);
        in.I32(analyzer.m_iMode);
        for (uint16_t i = 0; i < described; ++i) in.I32(analyzer.m_arrRecorded[i]);
        if (past()) return false;
        in.I32(analyzer.m_iTimeWindowCount);
        if (past()) return false;
        uint16_t length = 0;
        in.U16(length);
        if (past()) return false;
        // A block that ends right after the name's length is complete: it records no name.
        if (in.Position() == end) return true;
        std::string name;
        if (!in.FixedText(length, name)) return false;
        name.resize(length, '\0');
        analyzer.m_strInputBufferName = name;
        if (version > 1) in.I32(analyzer.m_iSecondWord);
        if (version > 3) in.String16NulStopped(analyzer.m_strSecondName);
        if (past() || !timeWindow.ReadTimeWindowFormatInfo(in, version)) return false;
        if (version > 4) in.I32(analyzer.m_iThirdWord);
        if (past()) return false;
    }
    return analyzer.SetTables(adBits, adZero, unitsPerAD, positions, params);
}

bool CMIAnalyzerProperty::SetTables(uint16_t adBits, uint16_t adZero, double unitsPerAD,
                                    AnalyzerParamPositions& positions, AnalyzerParamTable& params) const
{
    if (m_iMode != 1) return false;
    // The largest and the smallest raw word of the converter, in volts; the display ranges of the AD
    // values span them, rounded outwards and given in microvolts.
    const uint16_t top = adBits >= 16 ? 0xFFFF : static_cast<uint16_t>((1u << adBits) - 1);
    const float x = GetRealWorldData(top, adZero, unitsPerAD);
    const float z = GetRealWorldData(0, adZero, unitsPerAD);
    const float low = static_cast<float>(FloatRound(z) * 1e6);
    const float high = static_cast<float>(FloatRound(x) * 1e6);
    struct Row {
        int32_t exponent;
        double factor;
        int32_t unit;
        float min, max;
    };
    const Row time{-3, 1000.0, 3, 0.0f, 1000.0f};
    const Row slope{0, 1.0, 7, -1.0f, 1.0f};
    const Row rows[kAnalyzerParamCount - 1] = {
        {-6, 1.0, 0, low, high},
        {-6, 1.0, 0, low, high},
        time,
        time,
        {-6, 1.0, 0, 0.0f, high},
        time,
        {-6, 1.0, 0, low, high},
        {-6, 1e6, 4, 0.0f, 1000.0f},
        {0, 1.0, 6, 0.0f, 100.0f},
        {0, 1.0, 5, 0.0f, 100.0f},
        slope,
        slope,
        slope,
        slope,
    };
    for (int32_t i = 0; i < kAnalyzerParamCount - 1; ++i) {
        AnalyzerParams& p = params[i];
        p.m_iExponent = rows[i].exponent;
        p.m_dFactor = rows[i].factor;
        p.m_iUnitType = rows[i].unit;
        p.m_fMin = rows[i].min;
        p.m_fMax = rows[i].max;
        p.m_strName = kParamNames[i];
    }
    int32_t next = 0;
    for (int32_t i = 0; i < kAnalyzerParamCount; ++i) {
        const bool recorded = m_arrRecorded[i] == 1;
        params[i].m_bSelected = recorded ? 1 : 0;
        positions[i] = recorded ? next++ : -1;
    }
    return true;
}
