// Reads every entity of an open file through every function, a bounded number of items each, ignoring
// the results: for tests and fuzzing that only ask that every call returns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

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

}  // namespace kvdtest
