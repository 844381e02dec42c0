#include "tests/support/EventRecords.h"

#include "tests/support/ByteWriter.h"

namespace kvdtest {

std::vector<uint8_t> SpikeRecord::Encode(uint16_t h) const
{
    ByteWriter w;
    w.U64(time).U16(channel);
    if (h >= 8)
        w.U32(preEvent);
    else
        w.U16(static_cast<uint16_t>(preEvent));
    if (h >= 5) w.U16(unitId);
    if (h >= 6) w.U16(hwId);
    w.I32(count ? *count : static_cast<int32_t>(samples.size()));
    for (int16_t s : samples) w.I16(s);
    return w.Bytes();
}

std::vector<uint8_t> TriggerRecord::Encode(uint16_t h) const
{
    ByteWriter w;
    w.U64(time).U16(adValue);
    if (h >= 5) w.I32(manualCount);
    if (h >= 6) w.I32(trial).I32(stimulus);
    return w.Bytes();
}

std::vector<uint8_t> AverageRecord::Encode(uint16_t h) const
{
    ByteWriter w;
    w.U64(time).U16(channel);
    if (h >= 5) w.U16(hwId);
    w.U16(timeWindowCount).U32(count ? *count : static_cast<uint32_t>(samples.size()));
    for (int16_t s : samples) w.I16(s);
    return w.Bytes();
}

std::vector<uint8_t> SpikeParameterRecord::Encode(uint16_t h) const
{
    ByteWriter w;
    w.U64(time).U16(channel).U16(hwId).U16(unitId).U64(isi).F32(rate);
    if (h >= 2) w.U64(timestamp);
    return w.Bytes();
}

std::vector<uint8_t> BurstParameterRecord::Encode(uint16_t) const
{
    ByteWriter w;
    w.U64(time).U16(channel).U16(hwId).U16(unitId).U64(burstTime).U64(marker).I32(spikeNumber).F32(frequency);
    return w.Bytes();
}

std::vector<uint8_t> EncodeSpikes(const std::vector<SpikeRecord>& records, uint16_t h)
{
    return EncodeRecords(records, h);
}

std::vector<uint8_t> EncodeTriggers(const std::vector<TriggerRecord>& records, uint16_t h)
{
    return EncodeRecords(records, h);
}

std::vector<uint8_t> TriggerSettingsDesc::Encode(uint16_t v, bool parameterSection) const
{
    ByteWriter w;
    if (v <= 2) {
        // The image: 4 leading bytes, words 1 to 14, then zeros up to its length.
        ByteWriter image;
        image.U32(0);
        for (int32_t word : words) image.I32(word);
        image.Bytes().resize(imageLength, 0);
        w.U32(imageLength).Raw(image.Bytes());
    } else {
        w.U32(leadingWord);
        for (int32_t word : words) w.I32(word);
        w.U8(digitalTrigger).I32(digitalValue).I32(digitalType);
        w.Counted32(inputBufferId);
        w.I32(digitalMask);
    }
    if (v >= 4 && parameterSection) {
        w.U8(parameterTrigger).I32(parameterWord);
        w.Counted32(parameter).Counted32(parameterUnit);
    }
    if (v >= 6) w.U8(trialSynchronization);
    return w.Bytes();
}

std::vector<uint8_t> TriggerSettingsBlock(const TriggerSettingsDesc& settings, uint16_t v, bool parameterSection)
{
    ByteWriter w;
    w.Raw("PARAMTRG", 8).Raw(settings.Encode(v, parameterSection));
    return w.Bytes();
}

std::vector<uint8_t> OldSpikeListDesc::Encode(uint16_t v, bool parameterSection) const
{
    ByteWriter w;
    w.U32(count ? *count : static_cast<uint32_t>(records.size()));
    for (const TriggerSettingsDesc& rec : records) w.Raw(rec.Encode(v, parameterSection));
    w.U32(p).U32(q).U32(r);
    return w.Bytes();
}

std::vector<uint8_t> OldSpikeSettingsBlock(const OldSpikeListDesc& list, uint16_t v, bool parameterSection)
{
    ByteWriter w;
    w.Raw("PARAMSPK", 8).Raw(list.Encode(v, parameterSection));
    return w.Bytes();
}

namespace {

StreamDesc EventStream(const char* type, const char* name, int n, uint16_t h, const std::string& bufferId, uint16_t id)
{
    StreamDesc s = ElectrodeStream(n, bufferId, id);
    s.dataType = type;
    s.name = name;
    s.headerVersion = h;
    return s;
}

}  // namespace

StreamDesc SpikeStream(int n, uint16_t h, const std::string& bufferId, uint16_t id)
{
    return EventStream("spikes", "Spikes 1", n, h, bufferId, id);
}

StreamDesc SpikeParameterStream(int n, uint16_t h, const std::string& bufferId, uint16_t id)
{
    return EventStream("spkparam", "Spike Analyzer 1", n, h, bufferId, id);
}

StreamDesc BurstParameterStream(int n, uint16_t h, const std::string& bufferId, uint16_t id)
{
    return EventStream("bstparam", "Burst Analyzer 1", n, h, bufferId, id);
}

StreamDesc ParamsStream(int n, uint16_t h, const std::string& bufferId, uint16_t id)
{
    return EventStream("params", "Analyzer 1", n, h, bufferId, id);
}

}  // namespace kvdtest
