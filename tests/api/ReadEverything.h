// Reads every entity of an open file through every function, a bounded number of items each, ignoring
// the results: for tests and fuzzing that only ask that every call returns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "include/kvd.h"
#include "include/nsAPItypes.h"

namespace kvdtest {

// Items of each event or segment entity, and samples of each end of an analog entity, that ReadEverything
// reads.
constexpr uint32_t kEverythingItems = 64;
constexpr uint32_t kEverythingSamples = 4096;

// Calls `read(id, entity, values)` for each entity of an open file (the first 512), `values` a buffer of
// kEverythingSamples doubles.
template <typename Read>
void ForEachEntity(uint32_t h, Read read)
{
    ns_FILEINFO file;
    if (ns_GetFileInfo(h, &file, sizeof file) != ns_OK) return;
    std::vector<double> values(kEverythingSamples);
    for (uint32_t id = 0; id < file.dwEntityCount && id < 512; ++id) {
        ns_ENTITYINFO entity;
        if (ns_GetEntityInfo(h, id, &entity, sizeof entity) == ns_OK) read(id, entity, values);
    }
}

// Reads items first ... first + n - 1 of an event or segment entity.
inline void ReadItems(uint32_t h, uint32_t id, uint32_t type, uint32_t first, uint32_t n, std::vector<double>& values)
{
    double t = 0;
    uint32_t size = 0, unit = 0, count = 0;
    for (uint32_t k = first; k < first + n; ++k) {
        if (type == ns_ENTITY_EVENT)
            ns_GetEventData(h, id, k, &t, values.data(), 8, &size);
        else if (type == ns_ENTITY_SEGMENT)
            ns_GetSegmentData(h, id, static_cast<int32_t>(k), &t, values.data(),
                              static_cast<uint32_t>(values.size() * sizeof(double)), &count, &unit);
    }
}

inline void ReadEverything(uint32_t h)
{
    ForEachEntity(h, [h](uint32_t id, const ns_ENTITYINFO& entity, std::vector<double>& values) {
        double t = 0;
        uint32_t index = 0, count = 0;
        ns_GetIndexByTime(h, id, 0.02, ns_CLOSEST, &index);
        ns_GetTimeByIndex(h, id, entity.dwItemCount ? entity.dwItemCount - 1 : 0, &t);
        if (entity.dwEntityType == ns_ENTITY_ANALOG) {
            ns_ANALOGINFO info;
            ns_GetAnalogInfo(h, id, &info, sizeof info);
            const uint32_t n = std::min<uint32_t>(entity.dwItemCount, kEverythingSamples);
            ns_GetAnalogData(h, id, 0, n, &count, values.data());
            ns_GetAnalogData(h, id, entity.dwItemCount - n, n, &count, values.data());
            return;
        }
        if (entity.dwEntityType == ns_ENTITY_EVENT) {
            ns_EVENTINFO info;
            ns_GetEventInfo(h, id, &info, sizeof info);
        } else if (entity.dwEntityType == ns_ENTITY_SEGMENT) {
            ns_SEGMENTINFO info;
            ns_GetSegmentInfo(h, id, &info, sizeof info);
            ns_SEGSOURCEINFO source;
            ns_GetSegmentSourceInfo(h, id, 0, &source, sizeof source);
        }
        ReadItems(h, id, entity.dwEntityType, 0, std::min<uint32_t>(entity.dwItemCount, kEverythingItems), values);
    });
}

// Reads, of every entity larger than what ReadEverything reaches, one window of that size placed by
// `seed` anywhere in it: the paths of large recordings (chunks far from the start, the cached spike
// cursor moving forward, sweeps beyond the first) get their share.
inline void ReadWindows(uint32_t h, uint64_t seed)
{
    ForEachEntity(h, [h, &seed](uint32_t id, const ns_ENTITYINFO& entity, std::vector<double>& values) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const bool analog = entity.dwEntityType == ns_ENTITY_ANALOG;
        const uint32_t window = analog ? kEverythingSamples : kEverythingItems;
        if (entity.dwItemCount <= window) return;
        const uint32_t first = static_cast<uint32_t>((seed >> 33) % (entity.dwItemCount - window + 1));
        double t = 0;
        uint32_t index = 0, count = 0;
        ns_GetTimeByIndex(h, id, first, &t);
        ns_GetIndexByTime(h, id, t, ns_AFTER, &index);
        if (analog)
            ns_GetAnalogData(h, id, first, window, &count, values.data());
        else
            ReadItems(h, id, entity.dwEntityType, first, window, values);
    });
}

// Calls every function of the array interface on every stream of an open file, a bounded number of frames
// and events from each end and from `seed`'s place, and returns the number of failures that gave no text
// or a code outside the interface's results (0 when every call answered properly).
inline int ReadEveryArray(kvd_file* f, uint64_t seed = 0)
{
    int bad = 0;
    auto check = [&bad](int64_t result) {
        if (result < 0 && (result < KVD_EINTERNAL || std::strlen(kvd_last_error()) == 0)) ++bad;
        return result;
    };
    kvd_file_info file{};
    file.size = sizeof file;
    if (check(kvd_get_file_info(f, &file)) < 0) return bad;
    std::vector<kvd_electrode> layout(static_cast<std::size_t>(std::min(file.layout_count, 512)));
    check(kvd_read_layout(f, 0, static_cast<int32_t>(layout.size()), layout.data()));
    std::vector<char> json(1 << 16);
    check(kvd_describe_json(f, json.data(), json.size()));
    std::vector<uint16_t> words(static_cast<std::size_t>(kEverythingSamples) * 8);
    std::vector<float> values(words.size());
    for (int32_t s = 0; s < file.stream_count && s < 64; ++s) {
        kvd_stream_info stream{};
        stream.size = sizeof stream;
        if (check(kvd_get_stream_info(f, s, &stream)) < 0) continue;
        kvd_sweep sweeps[4];
        check(kvd_read_sweeps(f, s, 0, 4, sweeps));
        for (int32_t c = 0; c < stream.channel_count && c < 8; ++c) {
            kvd_channel_info channel{};
            channel.size = sizeof channel;
            check(kvd_get_channel_info(f, s, c, &channel));
        }
        if (stream.content == KVD_CONTENT_FRAMES) check(kvd_frames_per_chunk(f, s));
        if (stream.digital && stream.channel_count <= 64) {
            std::vector<int64_t> counts(static_cast<std::size_t>(stream.channel_count) * 16);
            check(kvd_count_bit_changes(f, s, counts.data()));
        }
        if (stream.content == KVD_CONTENT_FRAMES && stream.channel_count > 0) {
            const int32_t picked[] = {stream.channel_count - 1, 0};
            const int64_t n = std::min<int64_t>(stream.frame_count, kEverythingSamples / 2);
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            const int64_t at =
                (stream.frame_count - n) > 0
                    ? static_cast<int64_t>((seed >> 33) % static_cast<uint64_t>(stream.frame_count - n + 1))
                    : 0;
            for (int64_t first : {int64_t{0}, stream.frame_count - n, at}) {
                check(kvd_read_frames(f, s, first, n, picked, 2, words.data()));
                check(kvd_read_frames_scaled(f, s, first, n, picked, 2, values.data()));
                if (stream.channel_count <= 8) check(kvd_read_frames(f, s, first, n, nullptr, 0, words.data()));
            }
        }
        const int64_t events = kvd_count_events(f, s);
        if (events < 0) {
            check(events);
            continue;
        }
        const int64_t n = std::min<int64_t>(events, kEverythingItems);
        std::vector<kvd_spike> spikes(static_cast<std::size_t>(n));
        std::vector<kvd_trigger> triggers(static_cast<std::size_t>(n));
        std::vector<kvd_bit_change> changes(static_cast<std::size_t>(n));
        std::vector<uint16_t> waveforms(static_cast<std::size_t>(n) * 64);
        for (int64_t first : {int64_t{0}, events - n}) {
            if (stream.content == KVD_CONTENT_SPIKES)
                check(kvd_read_spikes(f, s, first, n, spikes.data(), waveforms.data(), 64));
            else if (stream.content == KVD_CONTENT_TRIGGERS)
                check(kvd_read_triggers(f, s, first, n, triggers.data()));
            else
                check(kvd_read_bit_changes(f, s, first, n, changes.data()));
        }
    }
    return bad;
}

}  // namespace kvdtest
