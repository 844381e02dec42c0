#include "tests/support/SettingsBlocks.h"

#include <utility>

#include "tests/support/ByteWriter.h"

namespace kvdtest {

std::vector<uint8_t> Tagged(const char* tag, const std::vector<uint8_t>& settings)
{
    ByteWriter w;
    w.Raw(tag, 8).Raw(settings);
    return w.Bytes();
}

std::vector<uint8_t> TimeWindowDesc::Encode(uint16_t v) const
{
    ByteWriter w;
    if (v > 1) w.U32(choice).F32(time1).F32(time2).U16(startTriggerId).U16(stopTriggerId);
    if (v > 3) w.Counted32(firstTriggerName).Counted32(secondTriggerName);
    return w.Bytes();
}

std::vector<uint8_t> EvokedSettingsDesc::Encode() const
{
    ByteWriter w;
    w.U32(evokedWord).U32(maxTimeWindowCount).Counted32(triggerName).Counted32(triggerBufferId);
    w.U16(triggerId).F32(time1).F32(time2);
    return w.Bytes();
}

std::vector<uint8_t> AverageSettingsBlock(const EvokedSettingsDesc& settings)
{
    return Tagged("PARAMEVP", settings.Encode());
}

std::vector<uint8_t> ChannelToolDesc::Encode() const
{
    ByteWriter w;
    w.I16(toolWord).Counted32(inputBufferName).Counted32(refChannelName);
    return w.Bytes();
}

std::vector<uint8_t> ChannelToolSettingsBlock(const ChannelToolDesc& settings)
{
    return Tagged("PARAMCHT", settings.Encode());
}

std::vector<uint8_t> FilterSettingsDesc::Encode(uint16_t v) const
{
    ByteWriter w;
    w.U32(passType).Counted32(filterName);
    w.U32(static_cast<uint32_t>(parameterNames.size()));
    for (const std::string& n : parameterNames) w.Counted32(n);
    w.U32(static_cast<uint32_t>(parameterUnits.size()));
    for (const std::string& u : parameterUnits) w.Counted32(u);
    w.U32(static_cast<uint32_t>(parameterValues.size()));
    for (float f : parameterValues) w.F32(f);
    if (v <= 1)
        for (const auto* list : {&obsoleteList1, &obsoleteList2}) {
            w.U32(static_cast<uint32_t>(list->size()));
            for (uint32_t x : *list) w.U32(x);
        }
    if (v >= 1) {
        w.U32(static_cast<uint32_t>(sgCoefficients.size()));
        for (double c : sgCoefficients) w.F64(c);
        w.U32(sgLeft).U32(sgRight).U32(sgOrder);
    }
    if (v >= 3) w.F64(centerFrequency).F64(qFactor).U8(downsampling).U32(downsamplingFrequency);
    return w.Bytes();
}

std::vector<uint8_t> FilterSettingsBlock(const FilterSettingsDesc& settings, uint16_t v)
{
    return Tagged("PARAMFLT", settings.Encode(v));
}

std::vector<uint8_t> SpikeSettingsDesc::Encode(uint16_t v) const
{
    ByteWriter w;
    w.U32(detectMethod).U32(sortMethod).U32(cutOutType).F32(stdDevFactor);
    if (v <= 6)
        w.F32(preSeconds).F32(postSeconds).F32(deadSeconds);
    else
        w.I32(preUs).I32(postUs).I32(deadUs);
    w.Counted16(inputBufferId);
    w.U16(static_cast<uint16_t>(channels.size()));
    for (const SpikeChannelDesc& c : channels) {
        w.U16(c.hwId).U16(c.groupId).F32(c.thresholdLevel).I32(c.thresholdSlope).F32(c.slopeDeltaV);
        w.F32(c.slopeMin).F32(c.slopeMax).U16(static_cast<uint16_t>(c.units.size()));
        for (const SpikeUnitDesc& u : c.units)
            w.U16(u.hwId).U16(u.unitId).F32(u.wndMin).F32(u.wndMax).F32(u.wndTime).U32(u.word1).U32(u.word2);
    }
    return w.Bytes();
}

std::vector<uint8_t> SpikeSettingsBlock(const SpikeSettingsDesc& settings, uint16_t v)
{
    return Tagged("PARAMSPK", settings.Encode(v));
}

SpikeSettingsDesc ThresholdDetector(int n, float thresholdVolts, const std::vector<uint16_t>& units)
{
    SpikeSettingsDesc d;
    d.detectMethod = 0;
    d.sortMethod = units.empty() ? 0 : 1;
    for (int i = 0; i < n; ++i) {
        SpikeChannelDesc c;
        c.hwId = static_cast<uint16_t>(i);
        c.thresholdLevel = thresholdVolts;
        for (uint16_t id : units) {
            SpikeUnitDesc u;
            u.hwId = c.hwId;
            u.unitId = id;
            u.wndTime = 0.0002f * id;
            c.units.push_back(u);
        }
        d.channels.push_back(c);
    }
    return d;
}

namespace {

// `n` electrode-like channels in a stream of another data type, with its settings block.
StreamDesc SettingsStream(int n, const char* dataType, const char* name, const std::string& bufferId, uint16_t id,
                          std::vector<uint8_t> settings)
{
    StreamDesc s = ElectrodeStream(n, bufferId, id);
    s.dataType = dataType;
    s.name = name;
    s.formatPrivate = std::move(settings);
    return s;
}

}  // namespace

StreamDesc FilterStream(int n, const FilterSettingsDesc& settings, uint16_t v, const std::string& bufferId, uint16_t id)
{
    StreamDesc s = SettingsStream(n, "filter", "Filter 1", bufferId, id, FilterSettingsBlock(settings, v));
    s.headerVersion = v;
    return s;
}

StreamDesc ChannelToolStream(int n, const ChannelToolDesc& settings, const std::string& bufferId, uint16_t id)
{
    return SettingsStream(n, "chat", "Channel Tool 1", bufferId, id, ChannelToolSettingsBlock(settings));
}

StreamDesc AverageStream(int n, const EvokedSettingsDesc& settings, const std::string& bufferId, uint16_t id)
{
    return SettingsStream(n, "average", "Average 1", bufferId, id, AverageSettingsBlock(settings));
}

}  // namespace kvdtest
