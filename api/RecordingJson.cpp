#include "api/RecordingJson.h"

#include "layout/KVLayout.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXATimeStamp.h"
#include "settings/KVXAInfoAverage.h"
#include "settings/KVXAInfoBurstParameter.h"
#include "settings/KVXAInfoChannelTool.h"
#include "settings/KVXAInfoFilter.h"
#include "settings/KVXAInfoParam.h"
#include "settings/KVXAInfoSpike.h"
#include "settings/KVXAInfoSpikeParameter.h"
#include "settings/KVXAInfoTrigger.h"
#include "settings/MGrid9StimulatorProperty.h"
#include "streams/KVXAChannel.h"
#include "streams/KVXAStream.h"

#include <memory>

namespace kvdjson {

json Text(const std::string& text)
{
    std::string utf8;
    utf8.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (b >> 6));
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return utf8;
}

json Text(const char* text) { return Text(std::string(text ? text : "")); }

std::string Dump(const json& document) { return document.dump(2); }

json RecordingJson(CKVXAStreamFile& file, const EventCounts& counts)
{
    json doc = json::object();
    doc["file"] = FileJson(file);
    doc["streams"] = json::array();
    for (int32_t i = 0; i < file.GetStreamCount(); ++i)
        if (CKVXAStream* stream = file.GetStream(i)) doc["streams"].push_back(StreamJson(*stream, i, counts));
    const KVXHDR* hdr = file.GetKVXHDR();
    const bool stimulator = hdr && hdr->U8(KVXHDR::kStimulatorFlag) != 0 && file.GetStimulatorProperty();
    doc["stimulator"] = stimulator ? StimulatorJson(*file.GetStimulatorProperty()) : json();
    doc["layout"] = file.GetLayout() ? LayoutJson(*file.GetLayout()) : json();
    return doc;
}

json FileJson(CKVXAStreamFile& file)
{
    return {
        {"Path", Text(file.GetPath())},
        {"HeaderVersion", file.GetHeaderVersion()},
        {"SoftwareVersionMajor", file.GetSoftwareVersionMajor()},
        {"SoftwareVersionMinor", file.GetSoftwareVersionMinor()},
        {"DriverVersionMajor", file.GetDriverVersionMajor()},
        {"DriverVersionMinor", file.GetDriverVersionMinor()},
        {"Comment", Text(file.GetComment())},
        {"StartTime", file.GetStartTime()->GetTimeStamp()},
        {"StopTime", file.GetStopTime()->GetTimeStamp()},
        {"TimeStampStartPressed", file.GetTimeStampStartPressed()->GetTimeStamp()},
        {"MillisamplesPerSecond", file.GetMillisamplesPerSecond()},
        {"StreamCount", file.GetStreamCount()},
        {"RecordingMode", file.GetRecordingMode()},
        {"PreTriggerTime", file.GetPreTriggerTime()},
        {"PostTriggerTime", file.GetPostTriggerTime()},
        {"StartTriggerStreamID", file.GetStartTriggerStreamID()},
        {"StopTriggerStreamID", file.GetStopTriggerStreamID()},
        {"SourceType", file.GetSourceType()},
        {"ElectrodeChannels", file.GetElectrodeChannels()},
        {"ElectrodeChannelOffset1", file.GetElectrodeChannelOffset1()},
        {"ElectrodeChannels2", file.GetElectrodeChannels2()},
        {"ElectrodeChannelOffset2", file.GetElectrodeChannelOffset2()},
        {"AnalogChannels", file.GetAnalogChannels()},
        {"AnalogChannelOffset1", file.GetAnalogChannelOffset1()},
        {"AnalogChannels2", file.GetAnalogChannels2()},
        {"AnalogChannelOffset2", file.GetAnalogChannelOffset2()},
        {"DigitalChannels", file.GetDigitalChannels()},
        {"TotalChannels", file.GetTotalChannels()},
        {"VoltageRange", file.GetVoltageRange()},
        {"DataSourceName", Text(file.GetDataSourceName())},
        {"SerialNumber", Text(file.GetSerialNumber())},
        {"BusType", file.GetBusType()},
        {"VendorId", file.GetVendorId()},
        {"ProductId", file.GetProductId()},
        {"WithIndex", file.GetWithIndex()},
        {"SegmentTime", file.GetSegmentTime()},
    };
}

json StreamJson(CKVXAStream& stream, int32_t index, const EventCounts& counts)
{
    json s = json::object();
    s["index"] = index;
    s["type"] = Text(stream.GetDataType());
    s["buffer_id"] = Text(stream.GetBufferID());
    s["header"] = StreamHeaderJson(stream);
    s["channels"] = json::array();
    for (int32_t c = 0; c < stream.GetChannelCount() && c <= INT16_MAX; ++c)
        if (const CKVXAChannel* channel = stream.GetChannel(static_cast<int16_t>(c)))
            s["channels"].push_back(ChannelJson(*channel));
    const std::unique_ptr<CKVXAInfo> info(stream.GetInfo());
    s["info"] = InfoJson(info.get());
    s["events"] = EventsJson(stream, counts);
    return s;
}

json StreamHeaderJson(const CKVXAStream& stream)
{
    return {
        {"HeaderVersion", stream.GetHeaderVersion()},
        {"DataType", Text(stream.GetDataType())},
        {"Name", Text(stream.GetName())},
        {"Comment", Text(stream.GetComment())},
        {"ID", stream.GetID()},
        {"BufferID", Text(stream.GetBufferID())},
        {"DataChunkID", Text(stream.GetDataChunkID())},
        {"MilliSamplesPerSecond", stream.GetMilliSamplesPerSecond()},
        {"ChannelCount", stream.GetChannelCount()},
        {"FormatVersion", stream.GetFormatVersion()},
        {"UnitSign", Text(stream.GetUnitSign() ? std::string(1, static_cast<char>(stream.GetUnitSign())) : "")},
        {"ADBits", stream.GetADBits()},
        {"ADZero", stream.GetADZero()},
        {"UnitsPerAD", stream.GetUnitsPerAD()},
        {"BytesPerChannel", stream.GetBytesPerChannel()},
        {"DefaultSamplesPerSegment", stream.GetDefaultSamplesPerSegment()},
        {"DefaultSegmentCount", stream.GetDefaultSegmentCount()},
    };
}

json ChannelJson(const CKVXAChannel& channel)
{
    json references = json::array();
    for (uint32_t r = 0; r < channel.GetReferenceCount() && r <= INT32_MAX; ++r)
        references.push_back({{"RefBufferID", channel.GetRefBufferID(static_cast<int32_t>(r))},
                              {"RefChannelID", channel.GetRefChannelID(static_cast<int32_t>(r))}});
    return {
        {"ID", channel.GetID()},           {"HWID", channel.GetHWID()},
        {"Name", Text(channel.GetName())}, {"Comment", Text(channel.GetComment())},
        {"GroupID", channel.GetGroupID()}, {"Gain", channel.GetGain()},
        {"PosX", channel.GetPosX()},       {"PosY", channel.GetPosY()},
        {"PosZ", channel.GetPosZ()},       {"ExtendX", channel.GetExtendX()},
        {"ExtendY", channel.GetExtendY()}, {"Diameter", channel.GetDiameter()},
        {"LowF", channel.GetLowF()},       {"HighF", channel.GetHighF()},
        {"References", references},
    };
}

json InfoJson(const CKVXAInfo* info)
{
    if (!info) return nullptr;
    if (const auto* b = dynamic_cast<const CKVXAInfoTrigger*>(info)) return TriggerInfoJson(*b);
    if (const auto* b = dynamic_cast<const CKVXAInfoFilter*>(info)) return FilterInfoJson(*b);
    if (const auto* b = dynamic_cast<const CKVXAInfoSpike*>(info)) return SpikeInfoJson(*b);
    if (const auto* b = dynamic_cast<const CKVXAInfoAverage*>(info)) return AverageInfoJson(*b);
    if (const auto* b = dynamic_cast<const CKVXAInfoChannelTool*>(info)) return ChannelToolInfoJson(*b);
    if (const auto* b = dynamic_cast<const CKVXAInfoParam*>(info)) return ParamInfoJson(*b);
    if (const auto* b = dynamic_cast<const CKVXAInfoSpikeParameter*>(info)) return SpikeParameterInfoJson(*b);
    if (const auto* b = dynamic_cast<const CKVXAInfoBurstParameter*>(info)) return BurstParameterInfoJson(*b);
    return nullptr;
}

json TriggerInfoJson(const CKVXAInfoTrigger& info)
{
    return {
        {"InputBufferID", Text(info.GetInputBufferID())},
        {"Channel", info.GetChannel()},
        {"DeadTime", info.GetDeadTime()},
        {"Level", info.GetLevel()},
        {"Slope", info.GetSlope()},
        {"TriggeredStreamId", info.GetTriggeredStreamId()},
        {"DigitalTrigger", info.IsDigitalTrigger()},
        {"DigitalTriggerValue", info.GetDigitalTriggerValue()},
        {"DigitalTriggerMask", info.GetDigitalTriggerMask()},
        {"DigitalTriggerType", info.GetDigitalTriggerType()},
        {"ParameterTrigger", info.IsParameterTrigger()},
        {"Parameter", Text(info.GetParameter())},
        {"ParameterUnit", Text(info.GetParameterUnit())},
        {"TrialSynchronization", info.TrialSynchronization()},
    };
}

json FilterInfoJson(const CKVXAInfoFilter& info)
{
    json parameters = json::array();
    const auto& names = info.GetParameterNames();
    const auto& units = info.GetParameterUnits();
    const auto& values = info.GetParameterValues();
    for (std::size_t i = 0; i < values.size(); ++i)
        parameters.push_back({{"Name", i < names.size() ? Text(names[i]) : json("")},
                              {"Unit", i < units.size() ? Text(units[i]) : json("")},
                              {"Value", values[i]}});
    return {
        {"FilterName", Text(info.GetFilterName())},
        {"FilterType", info.GetFilterType()},
        {"IIRFilter", info.IsIIRFilter()},
        {"SavitzkyGolayFilter", info.IsSavitzkyGolayFilter()},
        {"PassType", info.GetPassType()},
        {"PassTypeAsString", info.GetPassTypeAsString()},
        {"LowerCutoff", info.GetLowerCutoff()},
        {"UpperCutoff", info.GetUpperCutoff()},
        {"LowerCutoffAsFloat", info.GetLowerCutoffAsFloat()},
        {"UpperCutoffAsFloat", info.GetUpperCutoffAsFloat()},
        {"Parameters", parameters},
        {"SGOrder", info.GetSGOrder()},
        {"SGNumSamples", info.GetSGNumSamples()},
        {"SGNumDataPointsLeft", info.GetSGNumDataPointsLeft()},
        {"SGCoeff", info.GetSGCoeff().m_Coeff},
        {"CenterFrequency", info.GetCenterFrequency()},
        {"QFactor", info.GetQFactor()},
        {"DownsamplingEnabled", info.IsDownsamplingEnabled()},
        {"DownsamplingFrequency", info.GetDownsamplingFrequency()},
    };
}

json SpikeInfoJson(const CKVXAInfoSpike& info)
{
    const CMSpikeProperty& p = info.GetSpikeProperty();
    json channels = json::array();
    for (const auto& entry : p.GetChannels()) {
        const CMSpikeChInfo& c = entry.second;
        json units = json::array();
        for (const auto& u : c.GetUnits())
            units.push_back({{"SpikeUnitID", u.first},
                             {"SpikeUnitWndTime", u.second.GetWndTime()},
                             {"SpikeUnitWndMin", u.second.GetWndMin()},
                             {"SpikeUnitWndMax", u.second.GetWndMax()}});
        channels.push_back({{"HWID", entry.first},
                            {"ChannelGroupID", c.GetChGroupID()},
                            {"ThresholdLevel", c.GetThresholdLevel()},
                            {"ThresholdSlope", c.GetThresholdSlope()},
                            {"SlopeDeltaV", c.GetSlopeDeltaV()},
                            {"SlopeMin", c.GetSlopeMin()},
                            {"SlopeMax", c.GetSlopeMax()},
                            {"SpikeUnits", units}});
    }
    std::vector<uint16_t> unitIds;
    p.GetSpikeUnitIDs(unitIds);
    return {
        {"InputBufferID", Text(info.GetInputBufferID())},
        {"DetectMethod", info.GetDetectMethod()},
        {"SortMethod", info.GetSortMethod()},
        {"CutOutType", p.GetCutOutType()},
        {"StdDevFactor", p.GetStdDevFactor()},
        {"PreTrigger_us", info.GetPreTrigger_us()},
        {"PostTrigger_us", info.GetPostTrigger_us()},
        {"DeadTime_us", info.GetDeadTime_us()},
        {"SpikeUnitCount", unitIds.size()},
        {"SpikeUnitIDs", unitIds},
        {"Channels", channels},
    };
}

json AverageInfoJson(const CKVXAInfoAverage& info)
{
    const CMTimeWindowProperty& w = info.GetEvokedProperty().GetTimeWindow();
    return {
        {"TriggerBufferID", Text(info.GetTriggerBufferID())},
        {"TimeWindowStartTime", info.GetTimeWindowStartTime()},
        {"TimeWindowWindowExtend", info.GetTimeWindowWindowExtend()},
        {"MaxTimeWindowCount", info.GetMaxTimeWindowCount()},
        {"TimeWindowStartTriggerID", w.GetStartTriggerID()},
        {"TriggerName", Text(w.GetFirstTriggerName().c_str())},
    };
}

json ChannelToolInfoJson(const CKVXAInfoChannelTool& info)
{
    return {{"InputBufferName", Text(info.InputBufferName())}, {"RefChannelName", Text(info.RefChannelName())}};
}

json ParamInfoJson(const CKVXAInfoParam& info)
{
    // Every parameter description, with its position in a decoded record (-1: not recorded).
    json parameters = json::array();
    for (int32_t i = 0; i < kAnalyzerParamCount; ++i) {
        const AnalyzerParams& p = info.GetParams()[static_cast<std::size_t>(i)];
        std::string unit;
        CUnitType(p.m_iUnitType).GetUnitString(unit, p.m_iExponent);
        parameters.push_back({{"Name", Text(p.m_strName.c_str())},
                              {"Position", info.Position(i)},
                              {"Selected", p.m_bSelected != 0},
                              {"Width", info.GetAnalyzerProperty().GetWidth(i)},
                              {"Factor", p.m_dFactor},
                              {"Exponent", p.m_iExponent},
                              {"UnitType", p.m_iUnitType},
                              {"Unit", Text(unit)},
                              {"Min", p.m_fMin},
                              {"Max", p.m_fMax}});
    }
    return {
        {"InputBufferName", Text(info.InputBufferName())},
        {"MinPos", info.MinPos()},
        {"MaxPos", info.MaxPos()},
        {"TMinPos", info.TMinPos()},
        {"TMaxPos", info.TMaxPos()},
        {"HeightPos", info.HeightPos()},
        {"WidthPos", info.WidthPos()},
        {"AmplitudePos", info.AmplitudePos()},
        {"AreaPos", info.AreaPos()},
        {"NumberPos", info.NumberPos()},
        {"RatePos", info.RatePos()},
        {"SlopePos", info.SlopePos()},
        {"NumTimeWindows", info.NumTimeWindows()},
        {"TimeWindowTime1", info.TimeWindowTime1()},
        {"TimeWindowTime2", info.TimeWindowTime2()},
        {"TimeWindowChoice", info.TimeWindowChoice()},
        {"TimeWindowStartTriggerID", info.TimeWindowStartTriggerID()},
        {"TimeWindowStopTriggerID", info.TimeWindowStopTriggerID()},
        {"ChannelSize", info.GetChannelSize()},
        {"Parameters", parameters},
    };
}

namespace {

// The shape spike- and burst-analyzer blocks share.
template <typename Info>
json UnitAnalyzerJson(const Info& info)
{
    json parameters = json::array();
    for (int32_t i = 0; i < info.ParameterCount(); ++i)
        parameters.push_back({{"ParameterName", Text(info.ParameterName(i))},
                              {"ParameterSelected", info.ParameterSelected(i)},
                              {"ParameterFactor", info.ParameterFactor(i)},
                              {"ParameterExponent", info.ParameterExponent(i)},
                              {"ParameterUnit", Text(info.ParameterUnit(i))}});
    json units = json::array();
    for (int32_t i = 0; i < info.UnitCount(); ++i) units.push_back(info.UnitSelected(i));
    return {
        {"InputBufferName", Text(info.InputBufferName())},
        {"ParameterCount", info.ParameterCount()},
        {"Parameters", parameters},
        {"UnitCount", info.UnitCount()},
        {"UnitSelected", units},
        {"UnitSortMethod", info.UnitSortMethod()},
    };
}

}  // namespace

json SpikeParameterInfoJson(const CKVXAInfoSpikeParameter& info) { return UnitAnalyzerJson(info); }

json BurstParameterInfoJson(const CKVXAInfoBurstParameter& info)
{
    json block = UnitAnalyzerJson(info);
    block["BurstSettings"] = info.BurstSettings();
    return block;
}

json StimulatorJson(const CMGrid9StimulatorProperty& stim)
{
    json stimuli = json::array();
    for (int i = 0; i < CMGrid9StimulatorProperty::NumberOfGrid9Stimuli; ++i)
        stimuli.push_back({{"Pre", stim.GetPre(i)},
                           {"A1", stim.GetA1(i)},
                           {"T1", stim.GetT1(i)},
                           {"A2", stim.GetA2(i)},
                           {"T2", stim.GetT2(i)},
                           {"IPI", stim.GetIPI(i)},
                           {"PulseRepeat", stim.GetPulseRepeat(i)},
                           {"IBI", stim.GetIBI(i)},
                           {"BurstRepeat", stim.GetBurstRepeat(i)},
                           {"RepeatMode", stim.GetRepeatMode(i)},
                           {"TriggerType", stim.GetTriggerType(i)},
                           {"TriggerSource", stim.GetTriggerSource(i)}});
    json lists = json::array();
    for (const auto& entry : stim.GetListModeEntries())
        lists.push_back({{"Name", Text(entry.first)}, {"Groups", entry.second.size()}});
    return {
        {"Mode", stim.GetMode()},
        {"ChannelNumber", stim.GetChannelNumber()},
        {"SyncNumber", stim.GetSyncNumber()},
        {"TriggerNumber", stim.GetTriggerNumber()},
        {"DacResolution", stim.GetDacResolution()},
        {"DacOffset", stim.GetDacOffset()},
        {"VoltageRangeInMicroVolt", stim.GetVoltageRangeInMicroVolt()},
        {"VoltageResolutionInMicroVolt", stim.GetVoltageResolutionInMicroVolt()},
        {"CurrentRangeInNanoAmp", stim.GetCurrentRangeInNanoAmp()},
        {"CurrentResolutionInNanoAmp", stim.GetCurrentResolutionInNanoAmp()},
        {"Blanking", stim.GetBlanking()},
        {"APS", stim.GetAPS()},
        {"DedicatedStimulationElectrodes", stim.GetDedicatedStimulationElectrodes()},
        {"UseAsciiFile", stim.GetUseAsciiFile()},
        {"AsciiPathFileName", Text(stim.GetAsciiPathFileName())},
        {"ListMode", stim.GetListMode()},
        {"ListModeEntries", lists},
        {"Stimuli", stimuli},
    };
}

json LayoutJson(const CKVLayout& layout)
{
    json channels = json::array();
    for (int i = 0; i < layout.GetCount(); ++i) {
        int32_t x = 0, y = 0, z = 0;
        layout.GetElectrodePoint(i, x, y, z);
        channels.push_back({{"HWID", i},
                            {"ElectrodeName", Text(layout.GetElectrodeName(i))},
                            {"DecoratedElectrodeName", Text(layout.GetDecoratedElectrodeName(i))},
                            {"MeaNumber", layout.GetMeaNumber(i)},
                            {"MeaSubType", layout.GetMeaSubType(i)},
                            {"MeaSubTypeAsString", Text(layout.GetMeaSubTypeAsString(i))},
                            {"MeaName", Text(layout.GetMeaName(i))},
                            {"AmplifierName", Text(layout.GetAmplifierName(i))},
                            {"ElectrodeType", layout.GetElectrodeType(i)},
                            {"Gain", layout.GetGain(i)},
                            {"Connected", layout.IsConnected(i)},
                            {"Avail", layout.IsAvail(i)},
                            {"PosX", x},
                            {"PosY", y},
                            {"PosZ", z}});
    }
    return {
        {"SourceType", layout.GetSourceType()},
        {"Count", layout.GetCount()},
        {"ElectrodeChannels", layout.GetElectrodeChannels()},
        {"AnalogChannels", layout.GetAnalogChannels()},
        {"DigitalChannels", layout.GetDigitalChannels()},
        {"Channels", channels},
    };
}

}  // namespace kvdjson
