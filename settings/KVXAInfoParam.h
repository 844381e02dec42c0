// Information block of a "params" stream: the analyzer settings that say which waveform parameters each
// record holds, where each lies in a decoded record, how wide it is and in which unit it is given, and the
// time window the analyzer used.
#pragma once

#include <cstdint>

#include "settings/KVXAInfo.h"
#include "settings/MIAnalyzerProperty.h"
#include "settings/MTimeWindowProperty.h"

class CMSettingsReader;

class CKVXAInfoParam : public CKVXAInfo {
public:
    CKVXAInfoParam() { m_arrPositions.fill(-1); }

    // Decodes the analyzer block (see CMIAnalyzerProperty::ReadAnalyzerFormatInfo) with the stream's AD
    // format; false when it cannot be decoded.
    bool ReadAnalyzerFormatInfo(CMSettingsReader& in, uint32_t budget, uint16_t version, uint16_t adBits,
                                uint16_t adZero, double unitsPerAD)
    {
        return CMIAnalyzerProperty::ReadAnalyzerFormatInfo(in, budget, version, m_wChannelSize, m_AnalyzerProperty,
                                                           m_TimeWindowProperty, m_arrPositions, m_arrParams, adBits,
                                                           adZero, unitsPerAD);
    }

    // Position of a parameter within a decoded record (the values GetRealWorldData gives), -1 when the
    // parameter is not recorded.
    int32_t Position(int32_t index) const
    {
        return index >= 0 && index < kAnalyzerParamCount ? m_arrPositions[index] : -1;
    }
    int32_t MinPos() const { return Position(kParamMin); }
    int32_t MaxPos() const { return Position(kParamMax); }
    int32_t TMinPos() const { return Position(kParamTMin); }
    int32_t TMaxPos() const { return Position(kParamTMax); }
    int32_t HeightPos() const { return Position(kParamHeight); }
    int32_t WidthPos() const { return Position(kParamWidth); }
    int32_t AmplitudePos() const { return Position(kParamAmplitude); }
    int32_t AreaPos() const { return Position(kParamArea); }
    int32_t NumberPos() const { return Position(kParamNumber); }
    int32_t RatePos() const { return Position(kParamRate); }
    int32_t SlopePos() const { return Position(kParamSlope); }

    int32_t NumTimeWindows() const { return m_AnalyzerProperty.GetTimeWindowCount(); }
    const char* InputBufferName() const { return m_AnalyzerProperty.GetInputBufferName().c_str(); }
    double TimeWindowTime1() const { return m_TimeWindowProperty.GetTime1(); }
    double TimeWindowTime2() const { return m_TimeWindowProperty.GetTime2(); }
    int32_t TimeWindowChoice() const { return m_TimeWindowProperty.GetChoice(); }
    uint16_t TimeWindowStartTriggerID() const { return m_TimeWindowProperty.GetStartTriggerID(); }
    uint16_t TimeWindowStopTriggerID() const { return m_TimeWindowProperty.GetStopTriggerID(); }

    // Bytes of one channel's block in a record.
    uint16_t GetChannelSize() const { return m_wChannelSize; }
    const AnalyzerParamTable& GetParams() const { return m_arrParams; }
    const CMIAnalyzerProperty& GetAnalyzerProperty() const { return m_AnalyzerProperty; }
    const CMTimeWindowProperty& GetTimeWindowProperty() const { return m_TimeWindowProperty; }

private:
    AnalyzerParamTable m_arrParams;
    AnalyzerParamPositions m_arrPositions;
    CMIAnalyzerProperty m_AnalyzerProperty;
    CMTimeWindowProperty m_TimeWindowProperty;
    uint16_t m_wChannelSize = 0;
};
