// The array interface against the Neuroshare interface on the same recordings: every frame, spike, trigger
// and bit change the arrays give equals what the entities give, in any window and channel order; the
// descriptions say what the recording holds; and every call that cannot be served ends in its result code
// with a text.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "include/kvd.h"
#include "include/nsAPItypes.h"
#include "tests/support/EveryKindRecording.h"
#include "tests/support/RecordingBuilder.h"
#include "tools/SampleRecording.h"

namespace {

using kvdtest::TempDir;

// A recording opened through kvd_open, closed at the end of the scope.
class Arrays {
public:
    explicit Arrays(const std::string& path) : m_result(kvd_open(path.c_str(), &m_file)) {}
    ~Arrays() { kvd_close(m_file); }
    Arrays(const Arrays&) = delete;
    Arrays& operator=(const Arrays&) = delete;

    kvd_file* get() const { return m_file; }
    int Result() const { return m_result; }
    kvd_stream_info Stream(int32_t s) const
    {
        kvd_stream_info info{};
        info.size = sizeof info;
        EXPECT_EQ(kvd_get_stream_info(m_file, s, &info), KVD_OK) << kvd_last_error();
        return info;
    }
    template <typename Value>
    std::vector<Value> Read(int32_t s, int64_t first, int64_t count, const std::vector<int32_t>& channels = {}) const
    {
        const std::size_t columns =
            channels.empty() ? static_cast<std::size_t>(Stream(s).channel_count) : channels.size();
        std::vector<Value> out(static_cast<std::size_t>(count) * columns);
        const int32_t* list = channels.empty() ? nullptr : channels.data();
        const auto n = static_cast<int32_t>(channels.size());
        int64_t got = 0;
        if constexpr (std::is_same<Value, float>::value)
            got = kvd_read_frames_scaled(m_file, s, first, count, list, n, out.data());
        else
            got = kvd_read_frames(m_file, s, first, count, list, n, out.data());
        EXPECT_EQ(got, count) << kvd_last_error();
        return out;
    }
    std::vector<kvd_spike> Spikes(int32_t s, int64_t first, int64_t count, std::vector<uint16_t>* waveforms = nullptr,
                                  int32_t width = 0) const
    {
        std::vector<kvd_spike> out(static_cast<std::size_t>(count));
        if (waveforms) waveforms->assign(static_cast<std::size_t>(count * width), 0);
        EXPECT_EQ(kvd_read_spikes(m_file, s, first, count, out.data(), waveforms ? waveforms->data() : nullptr, width),
                  count)
            << kvd_last_error();
        return out;
    }
    std::vector<kvd_bit_change> Changes(int32_t s, int64_t first, int64_t count) const
    {
        std::vector<kvd_bit_change> out(static_cast<std::size_t>(count));
        EXPECT_EQ(kvd_read_bit_changes(m_file, s, first, count, out.data()), count) << kvd_last_error();
        return out;
    }

private:
    kvd_file* m_file = nullptr;
    int m_result;
};

// The stream and channel a Neuroshare entity stands for, from its label ("%8s %04d %04d %8.8s[ %02d]").
struct EntityName {
    std::string bufferId;
    int32_t channel = -1;
    int32_t bit = -1;
};

EntityName NameOf(const char* label)
{
    EntityName name;
    char id[16] = {};
    int hwid = 0;
    std::sscanf(label, "%15s %d %d", id, &hwid, &name.channel);
    name.bufferId = id;
    if (std::strlen(label) > 28) name.bit = std::atoi(label + 28);
    return name;
}

double Value(const kvd_stream_info& s, uint16_t word)
{
    return s.digital ? word : (static_cast<int32_t>(word) - static_cast<int32_t>(s.ad_zero)) * s.units_per_ad;
}

// Every frame of a stream, as words and as values, read once for all its entities.
struct WholeStream {
    std::vector<uint16_t> words;
    std::vector<float> values;
};

// Compares one Neuroshare entity with what the arrays give of its stream.
void CompareEntity(uint32_t h, uint32_t id, const Arrays& arrays, std::map<int32_t, WholeStream>& streams)
{
    ns_ENTITYINFO entity{};
    ASSERT_EQ(ns_GetEntityInfo(h, id, &entity, sizeof entity), ns_OK);
    const EntityName name = NameOf(entity.szEntityLabel);
    const int32_t s = kvd_find_stream(arrays.get(), name.bufferId.c_str());
    ASSERT_GE(s, 0) << entity.szEntityLabel;
    const kvd_stream_info stream = arrays.Stream(s);
    const uint32_t items = entity.dwItemCount;
    SCOPED_TRACE(entity.szEntityLabel);
    if (entity.dwEntityType == ns_ENTITY_ANALOG) {
        ASSERT_EQ(items, stream.frame_count);
        std::vector<double> values(items);
        ASSERT_EQ(ns_GetAnalogData(h, id, 0, items, nullptr, values.data()), ns_OK);
        WholeStream& whole = streams[s];
        if (whole.words.empty()) {
            whole.words = arrays.Read<uint16_t>(s, 0, items);
            whole.values = arrays.Read<float>(s, 0, items);
        }
        const auto k = static_cast<std::size_t>(stream.channel_count);
        for (uint32_t i = 0; i < items; ++i) {
            const std::size_t at = i * k + static_cast<std::size_t>(name.channel);
            ASSERT_EQ(Value(stream, whole.words[at]), values[i]) << i;
            ASSERT_EQ(whole.values[at], static_cast<float>(values[i])) << i;
        }
        return;
    }
    double t = 0;
    if (entity.dwEntityType == ns_ENTITY_EVENT && stream.content == KVD_CONTENT_TRIGGERS) {
        ASSERT_EQ(kvd_count_events(arrays.get(), s), items);
        std::vector<kvd_trigger> triggers(items);
        ASSERT_EQ(kvd_read_triggers(arrays.get(), s, 0, items, triggers.data()), items);
        for (uint32_t k = 0; k < items; ++k) {
            uint16_t data[4] = {};
            uint32_t size = 0;
            ASSERT_EQ(ns_GetEventData(h, id, k, &t, data, sizeof data, &size), ns_OK);
            EXPECT_NEAR(triggers[k].time_ns / 1e9, t, 1e-9);
            EXPECT_EQ(triggers[k].slope, data[0]);
            EXPECT_EQ(triggers[k].value, data[1]);
            EXPECT_EQ(triggers[k].trial, data[2]);
            EXPECT_EQ(triggers[k].stimulus, data[3]);
        }
    } else if (entity.dwEntityType == ns_ENTITY_EVENT) {
        // One bit of a digital channel: its changes among the stream's.
        std::vector<kvd_bit_change> changes = arrays.Changes(s, 0, kvd_count_events(arrays.get(), s));
        changes.erase(
            std::remove_if(changes.begin(), changes.end(),
                           [&](const kvd_bit_change& c) { return c.channel != name.channel || c.bit != name.bit; }),
            changes.end());
        ASSERT_EQ(changes.size(), items);
        std::vector<int64_t> counts(static_cast<std::size_t>(stream.channel_count) * 16);
        ASSERT_EQ(kvd_count_bit_changes(arrays.get(), s, counts.data()), KVD_OK);
        EXPECT_EQ(counts[static_cast<std::size_t>(name.channel * 16 + name.bit)], items);
        for (uint32_t k = 0; k < items; ++k) {
            uint8_t sign = 0;
            uint32_t size = 0;
            ASSERT_EQ(ns_GetEventData(h, id, k, &t, &sign, 1, &size), ns_OK);
            EXPECT_NEAR(changes[k].time_ns / 1e9, t, 1e-9);
            EXPECT_EQ(changes[k].level ? 1 : 255, sign);
        }
    } else if (stream.content == KVD_CONTENT_SPIKES) {
        std::vector<uint16_t> waveforms;
        std::vector<kvd_spike> spikes = arrays.Spikes(s, 0, kvd_count_events(arrays.get(), s), &waveforms, 64);
        std::vector<double> values(64);
        uint32_t k = 0;
        for (std::size_t j = 0; j < spikes.size(); ++j) {
            if (spikes[j].channel != name.channel) continue;
            uint32_t samples = 0, unit = 0;
            ASSERT_EQ(ns_GetSegmentData(h, id, static_cast<int32_t>(k++), &t, values.data(), 64 * sizeof(double),
                                        &samples, &unit),
                      ns_OK);
            EXPECT_NEAR(spikes[j].time_ns / 1e9, t, 1e-9);
            EXPECT_EQ(static_cast<uint32_t>(spikes[j].unit), unit);
            EXPECT_EQ(static_cast<uint32_t>(spikes[j].samples), samples);
            for (uint32_t i = 0; i < std::min(samples, 64u); ++i)
                ASSERT_EQ(Value(stream, waveforms[j * 64 + i]), values[i]) << j << " " << i;
        }
        EXPECT_EQ(k, items);
    } else {
        // A sweep of a triggered recording: the channel's frames of that sweep.
        std::vector<kvd_sweep> sweeps(items);
        ASSERT_EQ(kvd_read_sweeps(arrays.get(), s, 0, static_cast<int32_t>(items), sweeps.data()), items);
        for (uint32_t k = 0; k < items; ++k) {
            std::vector<double> values(static_cast<std::size_t>(sweeps[k].frame_count));
            uint32_t samples = 0, unit = 0;
            ASSERT_EQ(ns_GetSegmentData(h, id, static_cast<int32_t>(k), &t, values.data(),
                                        static_cast<uint32_t>(values.size() * sizeof(double)), &samples, &unit),
                      ns_OK);
            ASSERT_EQ(samples, sweeps[k].frame_count);
            EXPECT_NEAR(sweeps[k].start_ns / 1e9, t, 1e-9);
            const std::vector<uint16_t> words =
                arrays.Read<uint16_t>(s, sweeps[k].first_frame, sweeps[k].frame_count, {name.channel});
            for (uint32_t i = 0; i < samples; ++i) ASSERT_EQ(Value(stream, words[i]), values[i]) << k << " " << i;
        }
    }
}

// Windows of every stream with frames, in channel orders of every kind, against the whole array; events in
// pages against one read of them all.
void CompareWindows(const Arrays& arrays)
{
    kvd_file_info file{};
    file.size = sizeof file;
    ASSERT_EQ(kvd_get_file_info(arrays.get(), &file), KVD_OK);
    for (int32_t s = 0; s < file.stream_count; ++s) {
        const kvd_stream_info stream = arrays.Stream(s);
        const int64_t n = stream.frame_count;
        const int32_t k = stream.channel_count;
        if (stream.content == KVD_CONTENT_SPIKES) {
            const int64_t count = kvd_count_events(arrays.get(), s);
            const std::vector<kvd_spike> all = arrays.Spikes(s, 0, count);
            for (int64_t first = 0; first < count; first += 3) {
                const std::vector<kvd_spike> page = arrays.Spikes(s, first, std::min<int64_t>(3, count - first));
                for (std::size_t j = 0; j < page.size(); ++j)
                    ASSERT_EQ(std::memcmp(&page[j], &all[static_cast<std::size_t>(first) + j], sizeof page[j]), 0);
            }
        }
        if (stream.content != KVD_CONTENT_FRAMES || n == 0) continue;
        const std::vector<uint16_t> whole = arrays.Read<uint16_t>(s, 0, n);
        const std::vector<float> scaled = arrays.Read<float>(s, 0, n);
        std::vector<int32_t> reversed;
        for (int32_t c = k - 1; c >= 0; --c) reversed.push_back(c);
        const std::vector<std::vector<int32_t>> orders = {{}, reversed, {k - 1, 0, k - 1}};
        const int64_t windows[][2] = {{0, std::min<int64_t>(n, 7)},
                                      {n / 3, std::min<int64_t>(n - n / 3, 257)},
                                      {n - 1, 1},
                                      {std::max<int64_t>(0, n - 150), std::min<int64_t>(n, 150)}};
        for (const auto& order : orders)
            for (const auto& window : windows) {
                const std::vector<uint16_t> words = arrays.Read<uint16_t>(s, window[0], window[1], order);
                const std::vector<float> values = arrays.Read<float>(s, window[0], window[1], order);
                const std::size_t columns = order.empty() ? static_cast<std::size_t>(k) : order.size();
                for (int64_t f = 0; f < window[1]; ++f)
                    for (std::size_t j = 0; j < columns; ++j) {
                        const auto c = static_cast<std::size_t>(order.empty() ? static_cast<int32_t>(j) : order[j]);
                        const std::size_t at =
                            static_cast<std::size_t>(window[0] + f) * static_cast<std::size_t>(k) + c;
                        const std::size_t here = static_cast<std::size_t>(f) * columns + j;
                        ASSERT_EQ(words[here], whole[at]) << s << " frame " << window[0] + f << " column " << j;
                        ASSERT_EQ(values[here], scaled[at]);
                    }
            }
        if (stream.digital) {
            const int64_t count = kvd_count_events(arrays.get(), s);
            const std::vector<kvd_bit_change> all = arrays.Changes(s, 0, count);
            for (int64_t first = 0; first < count; first += 5) {
                const std::vector<kvd_bit_change> page = arrays.Changes(s, first, std::min<int64_t>(5, count - first));
                for (std::size_t j = 0; j < page.size(); ++j)
                    ASSERT_EQ(std::memcmp(&page[j], &all[static_cast<std::size_t>(first) + j], sizeof page[j]), 0);
            }
        }
    }
}

std::string WriteSample(const TempDir& dir, double seconds)
{
    kvdsample::Options options;
    options.seconds = seconds;
    options.filterStream = true;
    options.detectorSettings = true;
    const std::string path = dir.Path("sample.kvd");
    kvdsample::WriteSampleRecording(path, options);
    return path;
}

TEST(ArrayInterface, EqualsTheNeuroshareEntities)
{
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> recordings = {
        {"continuous", kvdtest::EveryKindRecording(11, false, 20).WriteTo(dir.Path("continuous.kvd"))},
        {"triggered", kvdtest::TriggeredRecording({1000, 900, 1000}).WriteTo(dir.Path("triggered.kvd"))},
        {"version 5", kvdtest::EveryKindRecording(5, false, 5).WriteTo(dir.Path("v5.kvd"))},
        {"sample", WriteSample(dir, 0.7)},
    };
    for (const auto& [what, path] : recordings) {
        SCOPED_TRACE(what);
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        uint32_t h = 0;
        ASSERT_EQ(ns_OpenFile(name.data(), &h), ns_OK);
        const Arrays arrays(path);
        ASSERT_EQ(arrays.Result(), KVD_OK) << kvd_last_error();
        ns_FILEINFO info{};
        ASSERT_EQ(ns_GetFileInfo(h, &info, sizeof info), ns_OK);
        std::map<int32_t, WholeStream> streams;
        for (uint32_t id = 0; id < info.dwEntityCount; ++id) CompareEntity(h, id, arrays, streams);
        CompareWindows(arrays);
        ns_CloseFile(h);
    }
}

TEST(ArrayInterface, Descriptions)
{
    TempDir dir;
    const Arrays arrays(kvdtest::EveryKindRecording(11, false, 2).WriteTo(dir.Path("rec.kvd")));
    kvd_file_info file{};
    file.size = sizeof file;
    ASSERT_EQ(kvd_get_file_info(arrays.get(), &file), KVD_OK);
    EXPECT_EQ(file.mode, KVD_CONTINUOUS);
    EXPECT_EQ(file.start_ns, static_cast<int64_t>(kvdtest::kDefaultStart - kvdtest::kUnixEpochNs));
    EXPECT_EQ(file.duration_ns, 40000000);
    EXPECT_EQ(file.stream_count, 4);
    EXPECT_EQ(file.sweep_count, 0);
    EXPECT_STREQ(file.comment, "built recording");
    EXPECT_STREQ(file.program, "Vantrel 3.4.2.1");
    EXPECT_EQ(file.source_type, 1);
    EXPECT_EQ(file.layout_stored, 0);
    EXPECT_GT(file.layout_count, 60);

    const kvd_stream_info electrodes = arrays.Stream(0);
    EXPECT_STREQ(electrodes.buffer_id, "elec0001");
    EXPECT_STREQ(electrodes.kind, "analog");
    EXPECT_STREQ(electrodes.name, "Electrode Raw Data");
    EXPECT_STREQ(electrodes.units, "V");
    EXPECT_EQ(electrodes.channel_count, 2);
    EXPECT_EQ(electrodes.millisamples_per_second, 25000000);
    EXPECT_EQ(electrodes.content, KVD_CONTENT_FRAMES);
    EXPECT_EQ(electrodes.ad_zero, 32768);
    EXPECT_EQ(electrodes.units_per_ad, 1.0 / 8192.0 * 1e-3);
    EXPECT_EQ(electrodes.frame_count, 1000);
    EXPECT_EQ(electrodes.event_count, 0);
    const kvd_stream_info digital = arrays.Stream(1);
    EXPECT_STREQ(digital.units, "raw");
    EXPECT_EQ(digital.digital, 1);
    EXPECT_EQ(digital.event_count, -1);  // not yet counted
    const kvd_stream_info spikes = arrays.Stream(3);
    EXPECT_EQ(spikes.content, KVD_CONTENT_SPIKES);
    EXPECT_EQ(spikes.event_count, -1);
    EXPECT_EQ(spikes.samples_per_event, -1);
    EXPECT_EQ(kvd_count_events(arrays.get(), 3), 4);
    EXPECT_EQ(arrays.Stream(3).samples_per_event, 6);
    EXPECT_EQ(arrays.Stream(2).event_count, 2);  // counted with the spikes

    // The channel and, from the standard layout of the 60-electrode array, its electrode.
    kvd_channel_info channel{};
    channel.size = sizeof channel;
    ASSERT_EQ(kvd_get_channel_info(arrays.get(), 0, 1, &channel), KVD_OK);
    EXPECT_STREQ(channel.label, "E2");
    EXPECT_EQ(channel.hwid, 1);
    EXPECT_DOUBLE_EQ(channel.low_hz, 1.0);
    EXPECT_DOUBLE_EQ(channel.high_hz, 3000.0);
    EXPECT_STREQ(channel.electrode, "48");
    EXPECT_EQ(channel.has_position, 1);
    kvd_electrode electrode{};
    ASSERT_EQ(kvd_read_layout(arrays.get(), 1, 1, &electrode), 1);
    EXPECT_STREQ(electrode.name, "48");
    EXPECT_EQ(electrode.kind, 0);
    EXPECT_EQ(channel.x_um, electrode.x_um);
    EXPECT_EQ(channel.y_um, electrode.y_um);
    EXPECT_EQ(kvd_find_stream(arrays.get(), "Trigger 1"), 2);

    // The description as JSON, and its length whatever the buffer.
    const int64_t length = kvd_describe_json(arrays.get(), nullptr, 0);
    ASSERT_GT(length, 0);
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    ASSERT_EQ(kvd_describe_json(arrays.get(), text.data(), text.size()), length);
    const auto doc = nlohmann::json::parse(text.data());
    EXPECT_EQ(doc["streams"].size(), 4u);
    EXPECT_EQ(doc["streams"][0]["buffer_id"], "elec0001");
    char cut[8];
    EXPECT_EQ(kvd_describe_json(arrays.get(), cut, sizeof cut), length);
    EXPECT_EQ(std::strlen(cut), 7u);

    // A triggered recording: frame 0 lies at the start of the first sweep.
    const Arrays triggered(kvdtest::TriggeredRecording({1000, 900, 1000}).WriteTo(dir.Path("triggered.kvd")));
    ASSERT_EQ(kvd_get_file_info(triggered.get(), &file), KVD_OK);
    EXPECT_EQ(file.mode, KVD_TRIGGERED);
    EXPECT_EQ(file.sweep_count, 3);
    kvd_sweep sweeps[3];
    ASSERT_EQ(kvd_read_sweeps(triggered.get(), 1, 0, 3, sweeps), 3);
    EXPECT_EQ(sweeps[2].first_frame, 1900);
    EXPECT_EQ(sweeps[1].frame_count, 900);
    EXPECT_EQ(sweeps[1].start_ns, 5000000000);
    EXPECT_EQ(triggered.Stream(1).frame_count, 2900);
    EXPECT_EQ(triggered.Stream(1).first_frame_ns, 1000000000);
    ASSERT_EQ(kvd_read_sweeps(triggered.get(), -1, 2, 4, sweeps), 1);
    EXPECT_EQ(sweeps[0].frame_count, 0);
}

// The sample names its electrode channels by grid cell ("21" is column 2, row 1) and gives each the hardware
// ID the layout names after that electrode, with the standard layout as with the one it stores; its spikes
// carry their channel's hardware ID.
TEST(ArrayInterface, TheSampleIsWiredAsItsLayout)
{
    TempDir dir;
    for (const bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "stored layout" : "standard layout");
        kvdsample::Options options;
        options.seconds = 1.2;
        options.storedLayout = stored;
        const std::string path = dir.Path(stored ? "stored.kvd" : "standard.kvd");
        kvdsample::WriteSampleRecording(path, options);
        const Arrays arrays(path);
        ASSERT_EQ(arrays.Result(), KVD_OK) << kvd_last_error();
        std::vector<kvd_channel_info> channels(kvdsample::kElectrodes);
        for (int32_t c = 0; c < kvdsample::kElectrodes; ++c) {
            channels[c].size = sizeof channels[c];
            ASSERT_EQ(kvd_get_channel_info(arrays.get(), 0, c, &channels[c]), KVD_OK);
        }
        const int32_t pitch = channels[1].x_um - channels[0].x_um;  // "31" beside "21"
        ASSERT_GT(pitch, 0);
        for (const kvd_channel_info& c : channels) {
            SCOPED_TRACE(c.label);
            EXPECT_STREQ(c.electrode, c.label);
            ASSERT_EQ(c.has_position, 1);
            EXPECT_EQ(c.x_um - channels[0].x_um, (c.label[0] - '2') * pitch);
            EXPECT_EQ(c.y_um - channels[0].y_um, (c.label[1] - '1') * pitch);
        }
        const int64_t count = kvd_count_events(arrays.get(), 3);
        ASSERT_GT(count, 10);
        for (const kvd_spike& spike : arrays.Spikes(3, 0, count)) EXPECT_EQ(spike.hwid, channels[spike.channel].hwid);
    }
}

TEST(ArrayInterface, FailuresHaveTheirResultAndText)
{
    TempDir dir;
    const std::string path = kvdtest::EveryKindRecording(11, false, 2).WriteTo(dir.Path("rec.kvd"));
    // The same recording cut in its sample data: it announces frames it does not hold.
    std::vector<uint8_t> bytes = kvdtest::EveryKindRecording(11, false, 2).Encode();
    bytes.resize(kvdtest::EveryKindRecording(11, false, 2).ChunkPosition(3) + 100);
    const std::string cut = dir.Path("cut.kvd");
    kvdtest::WriteFile(cut, bytes);
    const std::string text = dir.Path("text.kvd");
    kvdtest::WriteFile(text, std::vector<uint8_t>(200, 'x'));
    const std::string fifo = dir.Path("fifo.kvd");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    const Arrays arrays(path), truncated(cut);
    ASSERT_EQ(truncated.Result(), KVD_OK);
    kvd_file* f = arrays.get();
    std::vector<uint16_t> words(4096);
    std::vector<float> values(4096);
    kvd_stream_info info{};
    info.size = sizeof info;
    kvd_stream_info small{};
    small.size = 8;
    kvd_spike spike{};
    kvd_file* opened = nullptr;
    const int32_t channel2[] = {2};
    const std::vector<std::tuple<const char*, std::function<int64_t()>, int64_t, const char*>> cases = {
        {"open a folder", [&] { return kvd_open(dir.Path().c_str(), &opened); }, KVD_EFILE, "Is a directory"},
        {"open a FIFO", [&] { return kvd_open(fifo.c_str(), &opened); }, KVD_EFILE, "cannot open"},
        {"open no file", [&] { return kvd_open(dir.Path("none.kvd").c_str(), &opened); }, KVD_EFILE, "No such file"},
        {"open a text", [&] { return kvd_open(text.c_str(), &opened); }, KVD_EFORMAT, "is not a recording"},
        {"open without a place", [&] { return kvd_open(path.c_str(), nullptr); }, KVD_EARGUMENT, "null"},
        {"a null handle", [&] { return kvd_get_stream_info(nullptr, 0, &info); }, KVD_EARGUMENT, "null"},
        {"a null structure", [&] { return kvd_get_stream_info(f, 0, nullptr); }, KVD_EARGUMENT, "null"},
        {"a small structure", [&] { return kvd_get_stream_info(f, 0, &small); }, KVD_EARGUMENT, "size given is 8"},
        {"no such stream", [&] { return kvd_get_stream_info(f, 9, &info); }, KVD_ESTREAM, "has 4 streams"},
        {"frames of triggers", [&] { return kvd_read_frames(f, 2, 0, 1, nullptr, 0, words.data()); }, KVD_ESTREAM,
         "(trig0001) holds no sample frames"},
        {"spikes of electrodes", [&] { return kvd_read_spikes(f, 0, 0, 1, &spike, nullptr, 0); }, KVD_ESTREAM,
         "holds no spikes"},
        {"bits of electrodes", [&] { return kvd_count_events(f, 0); }, KVD_ESTREAM, "holds no events"},
        {"no such channel", [&] { return kvd_read_frames(f, 0, 0, 1, channel2, 1, words.data()); }, KVD_ECHANNEL,
         "channel 2 does not exist"},
        {"a channel count without a list", [&] { return kvd_read_frames(f, 0, 0, 1, nullptr, 3, words.data()); },
         KVD_EARGUMENT, "must be 0 or the 2 channels"},
        {"a frame before the first", [&] { return kvd_read_frames(f, 0, -1, 1, nullptr, 0, words.data()); }, KVD_ERANGE,
         "-1 is not an index"},
        {"a negative count", [&] { return kvd_read_frames_scaled(f, 0, 0, -2, nullptr, 0, values.data()); },
         KVD_EARGUMENT, "a count of -2"},
        {"frames past the end", [&] { return kvd_read_frames(f, 0, 999, 2, nullptr, 0, words.data()); }, KVD_ERANGE,
         "frames 999 to 1000 go beyond the 1000 frames"},
        {"no array", [&] { return kvd_read_frames(f, 0, 0, 1, nullptr, 0, nullptr); }, KVD_EARGUMENT, "no array"},
        {"nothing at the end", [&] { return kvd_read_frames(f, 0, 1000, 0, nullptr, 0, nullptr); }, 0, nullptr},
        {"events past the end", [&] { return kvd_read_spikes(f, 3, 5, 1, &spike, nullptr, 0); }, KVD_ERANGE,
         "event 5 is beyond the 4 events"},
        {"events to the end", [&] { return kvd_read_spikes(f, 3, 3, 9, &spike, nullptr, 0); }, 1, nullptr},
        {"a negative cut-out", [&] { return kvd_read_spikes(f, 3, 0, 1, &spike, nullptr, -1); }, KVD_EARGUMENT,
         "cut-out length"},
        {"an unknown stream name", [&] { return kvd_find_stream(f, "spks0009"); }, KVD_ESTREAM, "\"spks0009\""},
        {"frames the file lacks",
         [&] { return kvd_read_frames(truncated.get(), 0, 0, 1000, nullptr, 0, words.data()); }, KVD_EDATA,
         "holds less than it announces"},
    };
    for (const auto& [what, call, expected, fragment] : cases) {
        const int64_t result = call();
        EXPECT_EQ(result, expected) << what;
        if (fragment) {
            EXPECT_NE(std::strstr(kvd_last_error(), fragment), nullptr) << what << ": " << kvd_last_error();
        }
        EXPECT_EQ(opened, nullptr) << what;
    }
    EXPECT_STREQ(kvd_strerror(KVD_EDATA), "the recording holds less than it announces");
}

}  // namespace
