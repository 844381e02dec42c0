// The exported functions of the array interface (include/kvd.h). Each checks its arguments in the order its
// parameters come, records a text for every failure and runs its body under ArrayCall, so that no exception
// reaches the host.
#include "include/kvd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "api/ArrayEvents.h"
#include "api/ArrayFile.h"
#include "api/KVD.h"
#include "api/LastError.h"
#include "api/RecordingJson.h"
#include "layout/KVLayout.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAChannel.h"
#include "streams/KVXAStream.h"

struct kvd_file {
    CArrayFile file;
    std::unique_ptr<CArrayEvents> events;
};

namespace {

// Nanoseconds from 1601-01-01 (the file's epoch) to 1970-01-01.
constexpr uint64_t kUnixEpoch = 11644473600ULL * 1000000000ULL;

using Kind = CArrayEvents::Kind;

// Runs the body of an exported function; an exception becomes a result with its text.
template <typename Body>
auto ArrayCall(Body body) noexcept -> decltype(body())
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        RecordFailure("not enough memory", nullptr);
        return KVD_ENOMEMORY;
    } catch (const std::exception& e) {
        RecordFailure("internal failure: ", e.what());
        return KVD_EINTERNAL;
    } catch (...) {
        RecordFailure("internal failure", nullptr);
        return KVD_EINTERNAL;
    }
}

int Refuse(int result, const std::string& text)
{
    RecordFailure(text);
    return result;
}

std::string Number(int64_t n) { return std::to_string(n); }

// "stream 2 (trig0001)", for the texts of failures.
std::string StreamText(const CArrayFile& file, int32_t stream)
{
    const CKVXAStream* s = file.Stream(stream);
    const char* id = s && s->GetBufferID() ? s->GetBufferID() : "";
    return "stream " + Number(stream) + " (" + id + ")";
}

// A text of the recording into a fixed field, cut to fit and terminated.
template <std::size_t N>
void Put(char (&field)[N], const char* text)
{
    PutText(field, text ? text : "");
}

int CheckFile(const kvd_file* file)
{
    return file ? KVD_OK : Refuse(KVD_EARGUMENT, "no recording given (a null kvd_file handle)");
}

int CheckStream(const kvd_file* file, int32_t stream)
{
    if (const int result = CheckFile(file)) return result;
    if (stream >= 0 && stream < file->file.StreamCount()) return KVD_OK;
    return Refuse(KVD_ESTREAM, "stream " + Number(stream) + " does not exist: the recording has " +
                                   Number(file->file.StreamCount()) + " streams");
}

// A description structure of the caller: given, and large enough for this version's members.
template <typename Info>
int CheckInfo(const Info* info, const char* name)
{
    if (!info) return Refuse(KVD_EARGUMENT, std::string("no ") + name + " given (a null pointer)");
    if (info->size < sizeof(Info))
        return Refuse(KVD_EARGUMENT, std::string(name) + " has " + Number(sizeof(Info)) +
                                         " bytes in this library; the size given is " + Number(info->size));
    return KVD_OK;
}

int CheckRange(int64_t first, int64_t count, const char* what)
{
    if (first < 0) return Refuse(KVD_ERANGE, Number(first) + " is not an index of " + what);
    if (count < 0) return Refuse(KVD_EARGUMENT, "a count of " + Number(count) + " " + what);
    return KVD_OK;
}

// An array of `count` items of `itemBytes` bytes each that the caller must hold.
int CheckArray(const void* out, int64_t count, uint64_t itemBytes, const char* what)
{
    if (count > 0 && static_cast<uint64_t>(count) > SIZE_MAX / std::max<uint64_t>(itemBytes, 1))
        return Refuse(KVD_EARGUMENT, Number(count) + " " + what + " do not fit in an array of this machine");
    if (count > 0 && !out)
        return Refuse(KVD_EARGUMENT, std::string("no array given for the ") + what + " (a null pointer)");
    return KVD_OK;
}

int OpenResult(int open)
{
    switch (open) {
    case FILE_OPEN_FAILED: return KVD_EFILE;
    case CKVD::kNoFreeSlot: return KVD_EINTERNAL;
    default: return KVD_EFORMAT;
    }
}

template <typename Value>
int64_t ReadFramesCall(kvd_file* file, int32_t stream, int64_t first, int64_t count, const int32_t* channels,
                       int32_t channelCount, Value* out)
{
    return ArrayCall([&]() -> int64_t {
        if (const int result = CheckStream(file, stream)) return result;
        CArrayFile& f = file->file;
        CArrayFile::Geometry geometry;
        {
            const std::lock_guard<std::mutex> hold(f.Lock());
            const CArrayFile::Geometry& g = f.GeometryOf(stream);
            geometry.frames = g.frames;
            geometry.channels = g.channels;
            geometry.frameCount = g.frameCount;
        }
        if (!geometry.frames) return Refuse(KVD_ESTREAM, StreamText(f, stream) + " holds no sample frames");
        if (const int result = CheckRange(first, count, "frames")) return result;
        const int32_t k = geometry.channels;
        if (!channels && channelCount != 0 && channelCount != k)
            return Refuse(KVD_EARGUMENT, "without a list of channels the count of channels must be 0 or the " +
                                             Number(k) + " channels of " + StreamText(f, stream) + ", not " +
                                             Number(channelCount));
        if (channels && channelCount <= 0)
            return Refuse(KVD_EARGUMENT, "a list of " + Number(channelCount) + " channels");
        for (int32_t j = 0; channels && j < channelCount; ++j)
            if (channels[j] < 0 || channels[j] >= k)
                return Refuse(KVD_ECHANNEL, "channel " + Number(channels[j]) + " does not exist: " +
                                                StreamText(f, stream) + " has " + Number(k) + " channels");
        if (count > geometry.frameCount - first)
            return Refuse(KVD_ERANGE, "frames " + Number(first) + " to " + Number(first + count - 1) +
                                          " go beyond the " + Number(geometry.frameCount) + " frames of " +
                                          StreamText(f, stream));
        if (count == 0) return 0;
        const int32_t columns = channels ? channelCount : k;
        if (count > INT64_MAX / columns)
            return Refuse(KVD_EARGUMENT, Number(count) + " frames of " + Number(columns) + " channels are too many");
        if (const int result = CheckArray(out, count * columns, sizeof(Value), "frames")) return result;
        const CArrayFile::ReadResult read = f.ReadFrames(stream, first, count, channels, channelCount, out);
        if (!read.complete)
            return Refuse(KVD_EDATA, "frame " + Number(first + read.frames) + " of " + StreamText(f, stream) +
                                         " cannot be read: the recording holds less than it announces");
        return count;
    });
}

// The checks of the event readers: a stream of the kind, a range within its events. `n` receives the
// number of events to read.
int CheckEvents(kvd_file* file, int32_t stream, Kind kind, int64_t first, int64_t count, int64_t& n)
{
    if (const int result = CheckStream(file, stream)) return result;
    static const char* const kNames[] = {"", "spikes", "trigger events", "bit changes (it is not a digital stream)"};
    if (file->events->KindOf(stream) != kind)
        return Refuse(KVD_ESTREAM, StreamText(file->file, stream) + " holds no " + kNames[static_cast<int>(kind)]);
    if (const int result = CheckRange(first, count, "events")) return result;
    const int64_t total = file->events->Count(stream);
    if (first > total)
        return Refuse(KVD_ERANGE, "event " + Number(first) + " is beyond the " + Number(total) + " events of " +
                                      StreamText(file->file, stream));
    n = std::min(count, total - first);
    return KVD_OK;
}

int64_t EventsRead(kvd_file* file, int32_t stream, int64_t first, int64_t n, int64_t got)
{
    if (got == n) return got;
    return Refuse(KVD_EDATA, "event " + Number(first + got) + " of " + StreamText(file->file, stream) +
                                 " cannot be read again: the recording has changed or is damaged");
}

}  // namespace

extern "C" {

const char* kvd_version(void) { return "1.0.0"; }

const char* kvd_strerror(int result)
{
    switch (result) {
    case KVD_OK: return "success";
    case KVD_EARGUMENT: return "invalid argument";
    case KVD_EFILE: return "the file cannot be opened or read";
    case KVD_EFORMAT: return "not a recording, or a damaged one";
    case KVD_ESTREAM: return "no such stream, or none of that kind";
    case KVD_ECHANNEL: return "no such channel";
    case KVD_ERANGE: return "beyond the data of the stream";
    case KVD_EDATA: return "the recording holds less than it announces";
    case KVD_ENOMEMORY: return "not enough memory";
    case KVD_EINTERNAL: return "internal failure";
    default: return result > 0 ? "success" : "unknown result";
    }
}

const char* kvd_last_error(void) { return LastErrorText(); }

int kvd_open(const char* path, kvd_file** file)
{
    return ArrayCall([&] {
        if (!file) return Refuse(KVD_EARGUMENT, "no place for the handle given (a null pointer)");
        *file = nullptr;
        auto opened = std::make_unique<kvd_file>();
        errno = 0;
        const int result = opened->file.Open(path);
        const int error = errno;
        if (result != OK) return Refuse(OpenResult(result), OpenFailureText(path, result, error));
        opened->events = std::make_unique<CArrayEvents>(opened->file);
        *file = opened.release();
        return KVD_OK;
    });
}

void kvd_close(kvd_file* file)
{
    ArrayCall([&] {
        delete file;
        return KVD_OK;
    });
}

int kvd_get_file_info(kvd_file* file, kvd_file_info* info)
{
    return ArrayCall([&] {
        if (const int result = CheckFile(file)) return result;
        if (const int result = CheckInfo(info, "kvd_file_info")) return result;
        const std::lock_guard<std::mutex> hold(file->file.Lock());
        CKVXAStreamFile& reader = file->file.Reader();
        kvd_file_info v{};
        v.size = info->size;
        v.mode = file->file.Triggered() ? KVD_TRIGGERED : KVD_CONTINUOUS;
        const uint64_t start = reader.GetStartTime()->GetTimeStamp();
        const uint64_t stop = reader.GetStopTime()->GetTimeStamp();
        v.start_ns = static_cast<int64_t>(start - kUnixEpoch);
        v.duration_ns = stop > start ? static_cast<int64_t>(std::min<uint64_t>(stop - start, INT64_MAX)) : 0;
        v.stream_count = file->file.StreamCount();
        v.sweep_count = file->file.Triggered() ? std::max(0, reader.GetSweepCount()) : 0;
        v.millisamples_per_second = reader.GetMillisamplesPerSecond();
        v.header_version = reader.GetHeaderVersion();
        v.source_type = reader.GetSourceType();
        v.layout_count = reader.GetLayout() ? std::max(0, reader.GetLayout()->GetCount()) : 0;
        v.layout_stored = v.source_type == 3 && v.layout_count > 0;
        Put(v.comment, reader.GetComment());
        Put(v.program, CKVD::WriterText(reader).c_str());
        std::memcpy(info, &v, sizeof v);
        return KVD_OK;
    });
}

int kvd_get_stream_info(kvd_file* file, int32_t stream, kvd_stream_info* info)
{
    return ArrayCall([&] {
        if (const int result = CheckStream(file, stream)) return result;
        if (const int result = CheckInfo(info, "kvd_stream_info")) return result;
        kvd_stream_info v{};
        file->events->Known(stream, v.event_count, v.samples_per_event);
        const std::lock_guard<std::mutex> hold(file->file.Lock());
        CArrayFile& f = file->file;
        const CKVXAStream& s = *f.Stream(stream);
        v.size = info->size;
        v.index = stream;
        Put(v.buffer_id, s.GetBufferID());
        Put(v.kind, s.GetDataType());
        Put(v.name, s.GetName());
        const bool digital = f.Digital(stream);
        const char sign = static_cast<char>(s.GetUnitSign());
        const char unit[2] = {(sign >= 'A' && sign <= 'Z') || (sign >= 'a' && sign <= 'z') ? sign : 'V', '\0'};
        Put(v.units, digital ? "raw" : unit);
        v.channel_count = std::max(0, s.GetChannelCount());
        v.millisamples_per_second = s.GetMilliSamplesPerSecond();
        const Kind kind = file->events->KindOf(stream);
        const CArrayFile::Geometry& geometry = f.GeometryOf(stream);
        v.content = geometry.frames          ? KVD_CONTENT_FRAMES
                    : kind == Kind::Spikes   ? KVD_CONTENT_SPIKES
                    : kind == Kind::Triggers ? KVD_CONTENT_TRIGGERS
                                             : KVD_CONTENT_OTHER;
        v.ad_zero = s.GetADZero();
        v.ad_bits = s.GetADBits();
        v.units_per_ad = s.GetUnitsPerAD();
        v.frame_count = geometry.frameCount;
        v.first_frame_ns =
            geometry.frames && f.Triggered() && geometry.sweepFirst.size() > 1 ? f.FrameTime(stream, 0) : 0;
        v.digital = digital;
        if (kind == Kind::None) v.event_count = 0;
        std::memcpy(info, &v, sizeof v);
        return KVD_OK;
    });
}

int kvd_get_channel_info(kvd_file* file, int32_t stream, int32_t channel, kvd_channel_info* info)
{
    return ArrayCall([&] {
        if (const int result = CheckStream(file, stream)) return result;
        const std::lock_guard<std::mutex> hold(file->file.Lock());
        const CKVXAStream& s = *file->file.Stream(stream);
        if (channel < 0 || channel >= s.GetChannelCount() || channel > INT16_MAX)
            return Refuse(KVD_ECHANNEL, "channel " + Number(channel) +
                                            " does not exist: " + StreamText(file->file, stream) + " has " +
                                            Number(std::max(0, s.GetChannelCount())) + " channels");
        if (const int result = CheckInfo(info, "kvd_channel_info")) return result;
        kvd_channel_info v{};
        v.size = info->size;
        v.index = channel;
        v.id = v.hwid = v.group = v.gain = -1;
        if (const CKVXAChannel* c = s.GetChannel(static_cast<int16_t>(channel))) {
            Put(v.label, c->GetName());
            v.id = c->GetID();
            v.hwid = c->GetHWID();
            v.group = c->GetGroupID();
            v.gain = c->GetGain();
            v.low_hz = c->GetLowF() / 1000.0;
            v.high_hz = c->GetHighF() / 1000.0;
        }
        const CKVLayout* layout = file->file.Reader().GetLayout();
        if (layout && v.hwid >= 0 && v.hwid < layout->GetCount()) {
            const std::string name = layout->GetElectrodeName(v.hwid);
            Put(v.electrode, name.c_str());
            int32_t z = 0;
            layout->GetElectrodePoint(v.hwid, v.x_um, v.y_um, z);
            v.has_position = !name.empty();
        }
        std::memcpy(info, &v, sizeof v);
        return KVD_OK;
    });
}

int32_t kvd_find_stream(kvd_file* file, const char* key)
{
    return ArrayCall([&]() -> int32_t {
        if (const int result = CheckFile(file)) return result;
        if (!key) return Refuse(KVD_EARGUMENT, "no buffer ID or name given (a null pointer)");
        const std::lock_guard<std::mutex> hold(file->file.Lock());
        const CArrayFile& f = file->file;
        for (const bool byName : {false, true})
            for (int32_t i = 0; i < f.StreamCount(); ++i) {
                const CKVXAStream* s = f.Stream(i);
                const char* text = !s ? nullptr : byName ? s->GetName() : s->GetBufferID();
                if (text && std::strcmp(text, key) == 0) return i;
            }
        return Refuse(KVD_ESTREAM, std::string("no stream has the buffer ID or name \"") + key + "\"");
    });
}

int32_t kvd_read_layout(kvd_file* file, int32_t first, int32_t count, kvd_electrode* out)
{
    return ArrayCall([&]() -> int32_t {
        if (const int result = CheckFile(file)) return result;
        if (const int result = CheckRange(first, count, "layout entries")) return result;
        const std::lock_guard<std::mutex> hold(file->file.Lock());
        const CKVLayout* layout = file->file.Reader().GetLayout();
        const int32_t total = layout ? std::max(0, layout->GetCount()) : 0;
        if (first > total)
            return Refuse(KVD_ERANGE, "layout entry " + Number(first) + " is beyond the " + Number(total) +
                                          " entries of the layout");
        const int32_t n = std::min(count, total - first);
        if (const int result = CheckArray(out, n, sizeof(kvd_electrode), "layout entries")) return result;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t h = first + i;
            kvd_electrode e{};
            e.hwid = h;
            e.kind = layout->GetMeaSubType(h);
            e.array = layout->GetMeaNumber(h);
            e.connected = layout->IsConnected(h);
            layout->GetElectrodePoint(h, e.x_um, e.y_um, e.z_um);
            Put(e.name, layout->GetElectrodeName(h).c_str());
            out[i] = e;
        }
        return n;
    });
}

int32_t kvd_read_sweeps(kvd_file* file, int32_t stream, int32_t first, int32_t count, kvd_sweep* out)
{
    return ArrayCall([&]() -> int32_t {
        if (stream != -1) {
            if (const int result = CheckStream(file, stream)) return result;
        } else if (const int result = CheckFile(file)) {
            return result;
        }
        if (const int result = CheckRange(first, count, "sweeps")) return result;
        const std::lock_guard<std::mutex> hold(file->file.Lock());
        CArrayFile& f = file->file;
        CKVXAStreamFile& reader = f.Reader();
        const int32_t total = f.Triggered() ? std::max(0, reader.GetSweepCount()) : 0;
        if (first > total)
            return Refuse(KVD_ERANGE,
                          "sweep " + Number(first) + " is beyond the " + Number(total) + " sweeps of the recording");
        const int32_t n = std::min(count, total - first);
        if (const int result = CheckArray(out, n, sizeof(kvd_sweep), "sweeps")) return result;
        const std::vector<int64_t>* frames = stream >= 0 ? &f.GeometryOf(stream).sweepFirst : nullptr;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t k = first + i;
            uint64_t start = 0, end = 0;
            reader.GetSweepSpan(k, start, end);
            kvd_sweep sweep{f.SinceStart(start), f.SinceStart(end), 0, 0};
            if (frames && static_cast<std::size_t>(k) + 1 < frames->size()) {
                sweep.first_frame = (*frames)[static_cast<std::size_t>(k)];
                sweep.frame_count = (*frames)[static_cast<std::size_t>(k) + 1] - sweep.first_frame;
            }
            out[i] = sweep;
        }
        return n;
    });
}

int64_t kvd_read_frames(kvd_file* file, int32_t stream, int64_t first, int64_t count, const int32_t* channels,
                        int32_t channel_count, uint16_t* out)
{
    return ReadFramesCall(file, stream, first, count, channels, channel_count, out);
}

int64_t kvd_read_frames_scaled(kvd_file* file, int32_t stream, int64_t first, int64_t count, const int32_t* channels,
                               int32_t channel_count, float* out)
{
    return ReadFramesCall(file, stream, first, count, channels, channel_count, out);
}

int64_t kvd_frames_per_chunk(kvd_file* file, int32_t stream)
{
    return ArrayCall([&]() -> int64_t {
        if (const int result = CheckStream(file, stream)) return result;
        const std::lock_guard<std::mutex> hold(file->file.Lock());
        return file->file.FramesPerChunk(stream);
    });
}

int64_t kvd_count_events(kvd_file* file, int32_t stream)
{
    return ArrayCall([&]() -> int64_t {
        if (const int result = CheckStream(file, stream)) return result;
        if (file->events->KindOf(stream) == Kind::None)
            return Refuse(KVD_ESTREAM, StreamText(file->file, stream) + " holds no events that this interface reads");
        return file->events->Count(stream);
    });
}

int64_t kvd_read_spikes(kvd_file* file, int32_t stream, int64_t first, int64_t count, kvd_spike* spikes,
                        uint16_t* waveforms, int32_t waveform_samples)
{
    return ArrayCall([&]() -> int64_t {
        int64_t n = 0;
        if (const int result = CheckEvents(file, stream, Kind::Spikes, first, count, n)) return result;
        if (waveform_samples < 0)
            return Refuse(KVD_EARGUMENT, "a cut-out length of " + Number(waveform_samples) + " words");
        if (n > 0 && waveforms && static_cast<uint64_t>(n) > SIZE_MAX / 2 / std::max(1, waveform_samples))
            return Refuse(KVD_EARGUMENT,
                          Number(n) + " cut-outs of " + Number(waveform_samples) + " words are too many");
        return EventsRead(file, stream, first, n,
                          file->events->ReadSpikes(stream, first, n, spikes, waveforms, waveform_samples));
    });
}

int64_t kvd_read_triggers(kvd_file* file, int32_t stream, int64_t first, int64_t count, kvd_trigger* out)
{
    return ArrayCall([&]() -> int64_t {
        int64_t n = 0;
        if (const int result = CheckEvents(file, stream, Kind::Triggers, first, count, n)) return result;
        if (const int result = CheckArray(out, n, sizeof(kvd_trigger), "trigger events")) return result;
        return EventsRead(file, stream, first, n, file->events->ReadTriggers(stream, first, n, out));
    });
}

int64_t kvd_read_bit_changes(kvd_file* file, int32_t stream, int64_t first, int64_t count, kvd_bit_change* out)
{
    return ArrayCall([&]() -> int64_t {
        int64_t n = 0;
        if (const int result = CheckEvents(file, stream, Kind::Bits, first, count, n)) return result;
        if (const int result = CheckArray(out, n, sizeof(kvd_bit_change), "bit changes")) return result;
        return EventsRead(file, stream, first, n, file->events->ReadBitChanges(stream, first, n, out));
    });
}

int kvd_count_bit_changes(kvd_file* file, int32_t stream, int64_t* counts)
{
    return ArrayCall([&]() -> int {
        int64_t n = 0;
        if (const int result = CheckEvents(file, stream, Kind::Bits, 0, 0, n)) return result;
        const std::vector<int64_t> known = file->events->BitCounts(stream);
        if (const int result = CheckArray(counts, static_cast<int64_t>(known.size()), sizeof(int64_t), "bit counts"))
            return result;
        std::copy(known.begin(), known.end(), counts);
        return KVD_OK;
    });
}

int64_t kvd_describe_json(kvd_file* file, char* buffer, size_t size)
{
    return ArrayCall([&]() -> int64_t {
        if (const int result = CheckFile(file)) return result;
        if (!buffer && size > 0) return Refuse(KVD_EARGUMENT, "no buffer given for the description (a null pointer)");
        std::string text;
        {
            const std::lock_guard<std::mutex> hold(file->file.Lock());
            kvdjson::EventCounts counts;
            counts.events = 0;
            counts.frames = 0;
            text = kvdjson::Dump(kvdjson::RecordingJson(file->file.Reader(), counts));
        }
        if (size > 0) {
            const std::size_t n = std::min(text.size(), size - 1);
            std::memcpy(buffer, text.data(), n);
            buffer[n] = '\0';
        }
        return static_cast<int64_t>(text.size());
    });
}

}  // extern "C"
