// The "events" list of a stream in kvdinfo --json: one function per record kind.
#include <memory>
#include <vector>

#include "streams/KVXATimeStamp.h"
#include "settings/KVXAInfoParam.h"
#include "streams/KVXAChannel.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAEvtBurstParameter.h"
#include "streams/KVXAEvtEvoked.h"
#include "streams/KVXAEvtParam.h"
#include "streams/KVXAEvtRaw.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAEvtSpikeParameter.h"
#include "streams/KVXAEvtTrigger.h"
#include "streams/KVXAStream.h"
#include "api/RecordingJson.h"

namespace kvdjson {

namespace {

// The hardware ID of the channel at list index `index`; -1 when the stream has no such channel.
int32_t HardwareID(const CKVXAStream& stream, int32_t index)
{
    const CKVXAChannel* channel = index <= INT16_MAX ? stream.GetChannel(static_cast<int16_t>(index)) : nullptr;
    return channel ? channel->GetHWID() : -1;
}

}  // namespace

json EventsJson(CKVXAStream& stream, const EventCounts& counts)
{
    json events = json::array();
    const int32_t wanted = stream.HasRawData() ? counts.frames : counts.events;
    if (wanted <= 0) return events;
    std::unique_ptr<CKVXAEvent> cursor(stream.GetFirstEvent());
    for (int32_t n = 0; cursor && n < wanted; ++n) {
        events.push_back(EventJson(*cursor, stream));
        if (!cursor->Next()) break;
    }
    return events;
}

json EventJson(const CKVXAEvent& event, const CKVXAStream& stream)
{
    json record;
    if (const auto* e = dynamic_cast<const CKVXAEvtRaw*>(&event))
        record = RawFrameJson(*e, stream);
    else if (const auto* e = dynamic_cast<const CKVXAEvtTrigger*>(&event))
        record = TriggerEventJson(*e);
    else if (const auto* e = dynamic_cast<const CKVXAEvtSpike*>(&event))
        record = SpikeEventJson(*e);
    else if (const auto* e = dynamic_cast<const CKVXAEvtAverage*>(&event))
        record = AverageEventJson(*e);
    else if (const auto* e = dynamic_cast<const CKVXAEvtParam*>(&event))
        record = ParamEventJson(*e, stream);
    else if (const auto* e = dynamic_cast<const CKVXAEvtSpikeParameter*>(&event))
        record = SpikeParameterEventJson(*e);
    else if (const auto* e = dynamic_cast<const CKVXAEvtBurstParameter*>(&event))
        record = BurstParameterEventJson(*e);
    json timed = {
        {"RawTimeStamp", event.GetRawTimeStamp()},
        {"NanosecondsFromStart", static_cast<int64_t>(event.GetRawTimeStamp() - event.Get_TimeStamp()->GetStart())},
    };
    timed.update(record);
    return timed;
}

json RawFrameJson(const CKVXAEvtRaw& frame, const CKVXAStream& stream)
{
    std::vector<int16_t> samples(static_cast<std::size_t>(frame.GetSize() / 2));
    if (!frame.GetADDataArray(samples.data())) samples.clear();
    json channels = json::array();
    for (std::size_t c = 0; c < samples.size(); ++c)
        channels.push_back(
            {{"HWID", HardwareID(stream, static_cast<int32_t>(c))}, {"ADData", static_cast<uint16_t>(samples[c])}});
    return {{"Channels", channels}};
}

json TriggerEventJson(const CKVXAEvtTrigger& event)
{
    return {
        {"ADData", event.GetADData()},
        {"ManualTriggerCount", event.GetManualTriggerCount()},
        {"TrialNumber", event.GetTrialNumber()},
        {"StimulusNumber", event.GetStimulusNumber()},
    };
}

json SpikeEventJson(const CKVXAEvtSpike& event)
{
    json samples = json::array();
    for (int32_t i = 0; i < event.GetCount(); ++i) samples.push_back(event.GetADData(i));
    return {
        {"Channel", event.GetChannel()},   {"HWID", event.GetHWID()},   {"UnitID", event.GetUnitID()},
        {"PreEvent", event.GetPreEvent()}, {"Count", event.GetCount()}, {"ADData", samples},
    };
}

json AverageEventJson(const CKVXAEvtAverage& event)
{
    json samples = json::array();
    for (int32_t i = 0; i < event.GetCount(); ++i) samples.push_back(event.GetADData(i));
    return {
        {"Channel", event.GetChannel()}, {"HWID", event.GetHWID()}, {"TimeWindowCount", event.GetTimeWindowCount()},
        {"Count", event.GetCount()},     {"ADData", samples},
    };
}

json ParamEventJson(const CKVXAEvtParam& event, const CKVXAStream& stream)
{
    // Per channel the decoded values, and the named ones the analyzer records.
    using Getter = float (CKVXAEvtParam::*)(int16_t) const;
    static const struct {
        const char* name;
        int32_t index;
        Getter get;
    } kNamed[] = {
        {"Min", kParamMin, &CKVXAEvtParam::GetMin},
        {"Max", kParamMax, &CKVXAEvtParam::GetMax},
        {"Tmin", kParamTMin, &CKVXAEvtParam::GetTmin},
        {"Tmax", kParamTMax, &CKVXAEvtParam::GetTmax},
        {"Height", kParamHeight, &CKVXAEvtParam::GetHeight},
        {"Width", kParamWidth, &CKVXAEvtParam::GetWidth},
        {"Amplitude", kParamAmplitude, &CKVXAEvtParam::GetAmplitude},
        {"Area", kParamArea, &CKVXAEvtParam::GetArea},
        {"Number", kParamNumber, &CKVXAEvtParam::GetNumber},
        {"Rate", kParamRate, &CKVXAEvtParam::GetRate},
        {"Slope", kParamSlope, &CKVXAEvtParam::GetSlope},
    };
    json channels = json::array();
    const CKVXAInfoParam* info = event.GetInfo();
    for (int32_t c = 0; c < stream.GetChannelCount() && c <= INT16_MAX; ++c) {
        const auto channel = static_cast<int16_t>(c);
        std::vector<float> values;
        event.GetCArray(channel, values);
        json entry = {{"HWID", HardwareID(stream, c)}, {"CArray", values}};
        for (const auto& named : kNamed)
            if (info && info->Position(named.index) >= 0) entry[named.name] = (event.*named.get)(channel);
        channels.push_back(entry);
    }
    return {{"Channels", channels}};
}

json SpikeParameterEventJson(const CKVXAEvtSpikeParameter& event)
{
    return {
        {"Channel", event.GetChannel()},
        {"HWID", event.GetHWID()},
        {"UnitId", event.GetUnitId()},
        {"Parameter", {event.Parameter(0), event.Parameter(1), event.Parameter(2)}},
    };
}

json BurstParameterEventJson(const CKVXAEvtBurstParameter& event)
{
    return {
        {"Channel", event.GetChannel()},
        {"HWID", event.GetHWID()},
        {"UnitId", event.GetUnitId()},
        {"TimestampOfBurst", event.GetTimestampOfBurst()},
        {"Parameter", {event.Parameter(0), event.Parameter(1), event.Parameter(2)}},
    };
}

}  // namespace kvdjson
