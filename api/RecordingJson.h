// The reader's view of a recording as one JSON document (kvdinfo --json). Every part of the document has
// its own function that turns one object of the reader into a JSON value, so that a new block or record
// kind adds one function and one line in the dispatch.
//
// Keys inside an information block are the names of the operations that answer them, without a leading
// "Get" or "Is". Texts of the recording are 8-bit (ISO 8859-1) and are written as their UTF-8 equivalents.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

class CKVLayout;
class CKVXAChannel;
class CKVXAInfo;
class CKVXAEvent;
class CKVXAEvtAverage;
class CKVXAEvtBurstParameter;
class CKVXAEvtParam;
class CKVXAEvtRaw;
class CKVXAEvtSpike;
class CKVXAEvtSpikeParameter;
class CKVXAEvtTrigger;
class CKVXAInfoAverage;
class CKVXAInfoBurstParameter;
class CKVXAInfoChannelTool;
class CKVXAInfoFilter;
class CKVXAInfoParam;
class CKVXAInfoSpike;
class CKVXAInfoSpikeParameter;
class CKVXAInfoTrigger;
class CKVXAStream;
class CKVXAStreamFile;
class CMGrid9StimulatorProperty;

namespace kvdjson {

// Objects keep their keys in the order written, so that the document reads in the documented order.
using json = nlohmann::ordered_json;

// How many records each stream's "events" list holds: `events` records of event streams, `frames` frames of
// continuous streams.
struct EventCounts {
    int32_t events = 10;
    int32_t frames = 0;
};

// The whole document: {"file", "streams", "stimulator", "layout"}.
json RecordingJson(CKVXAStreamFile& file, const EventCounts& counts = {});
// The file header's values.
json FileJson(CKVXAStreamFile& file);
// One stream: {"index", "type", "buffer_id", "header", "channels", "info", "events"}.
json StreamJson(CKVXAStream& stream, int32_t index, const EventCounts& counts = {});
json StreamHeaderJson(const CKVXAStream& stream);
json ChannelJson(const CKVXAChannel& channel);

// An information block by its concrete class; null for none.
json InfoJson(const CKVXAInfo* info);
json TriggerInfoJson(const CKVXAInfoTrigger& info);
json FilterInfoJson(const CKVXAInfoFilter& info);
json SpikeInfoJson(const CKVXAInfoSpike& info);
json AverageInfoJson(const CKVXAInfoAverage& info);
json ChannelToolInfoJson(const CKVXAInfoChannelTool& info);
json ParamInfoJson(const CKVXAInfoParam& info);
json SpikeParameterInfoJson(const CKVXAInfoSpikeParameter& info);
json BurstParameterInfoJson(const CKVXAInfoBurstParameter& info);

// The first records of a stream (as EventCounts says), each an object with its time ("RawTimeStamp",
// nanoseconds since 1601 as the file's StartTime, and "NanosecondsFromStart") and its values.
json EventsJson(CKVXAStream& stream, const EventCounts& counts);
// One record by its cursor class; the stream gives the channels' hardware IDs.
json EventJson(const CKVXAEvent& event, const CKVXAStream& stream);
json RawFrameJson(const CKVXAEvtRaw& frame, const CKVXAStream& stream);
json TriggerEventJson(const CKVXAEvtTrigger& event);
json SpikeEventJson(const CKVXAEvtSpike& event);
json AverageEventJson(const CKVXAEvtAverage& event);
json ParamEventJson(const CKVXAEvtParam& event, const CKVXAStream& stream);
json SpikeParameterEventJson(const CKVXAEvtSpikeParameter& event);
json BurstParameterEventJson(const CKVXAEvtBurstParameter& event);

json StimulatorJson(const CMGrid9StimulatorProperty& stimulator);
json LayoutJson(const CKVLayout& layout);

// A text of the recording (ISO 8859-1, NUL bytes kept) as a JSON string; "" for null.
json Text(const std::string& text);
json Text(const char* text);
// The document as text, indented by two blanks.
std::string Dump(const json& document);

}  // namespace kvdjson
