// Reads every entity of an open file through every function, a bounded number of items each, ignoring
// the results: for tests and fuzzing that only ask that every call returns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "include/nsAPItypes.h"

namespace kvdtest {

// Items of each event or segment entity, and samples of each end of an analog entity, that ReadEverything reads.
constexpr uint32_t kEverythingItems = 64;
constexpr uint32_t kEverythingSamples = 4096;

inline void ReadEverything(uint32_t h)
{
    ns_FILEINFO file;
    if (ns_GetFileInfo(h, &file, sizeof file) != ns_OK) return;
    std::vector<double> values(kEverythingSamples);
    for (uint32_t id = 0; id < file.dwEntityCount && id < 512; ++id) {
        ns_ENTITYINFO entity;
        if (ns_GetEntityInfo(h, id, &entity, sizeof entity) != ns_OK) continue;
        const uint32_t items = std::min<uint32_t>(entity.dwItemCount, kEverythingItems);
        double t = 0;
        uint32_t index = 0, size = 0, unit = 0, count = 0;
        ns_GetIndexByTime(h, id, 0.02, ns_CLOSEST, &index);
        ns_GetTimeByIndex(h, id, entity.dwItemCount ? entity.dwItemCount - 1 : 0, &t);
        if (entity.dwEntityType == ns_ENTITY_ANALOG) {
            ns_ANALOGINFO info;
            ns_GetAnalogInfo(h, id, &info, sizeof info);
            const uint32_t n = std::min<uint32_t>(entity.dwItemCount, kEverythingSamples);
            ns_GetAnalogData(h, id, 0, n, &count, values.data());
            ns_GetAnalogData(h, id, entity.dwItemCount - n, n, &count, values.data());
        } else if (entity.dwEntityType == ns_ENTITY_EVENT) {
            ns_EVENTINFO info;
            ns_GetEventInfo(h, id, &info, sizeof info);
            for (uint32_t k = 0; k < items; ++k) ns_GetEventData(h, id, k, &t, values.data(), 8, &size);
        } else if (entity.dwEntityType == ns_ENTITY_SEGMENT) {
            ns_SEGMENTINFO info;
            ns_GetSegmentInfo(h, id, &info, sizeof info);
            ns_SEGSOURCEINFO source;
            ns_GetSegmentSourceInfo(h, id, 0, &source, sizeof source);
            for (uint32_t k = 0; k < items; ++k)
                ns_GetSegmentData(h, id, static_cast<int32_t>(k), &t, values.data(),
                                  static_cast<uint32_t>(values.size() * sizeof(double)), &count, &unit);
        }
    }
}

// Reads, of every entity larger than what ReadEverything reaches, one window of that size placed by
// `seed` anywhere in it: the paths of large recordings (chunks far from the start, the cached spike
// cursor moving forward, sweeps beyond the first) get their share.
inline void ReadWindows(uint32_t h, uint64_t seed)
{
    ns_FILEINFO file;
    if (ns_GetFileInfo(h, &file, sizeof file) != ns_OK) return;
    std::vector<double> values(kEverythingSamples);
    for (uint32_t id = 0; id < file.dwEntityCount && id < 512; ++id) {
        ns_ENTITYINFO entity;
        if (ns_GetEntityInfo(h, id, &entity, sizeof entity) != ns_OK) continue;
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const uint32_t window = entity.dwEntityType == ns_ENTITY_ANALOG ? kEverythingSamples : kEverythingItems;
        if (entity.dwItemCount <= window) continue;
        const uint32_t first = static_cast<uint32_t>((seed >> 33) % (entity.dwItemCount - window + 1));
        double t = 0;
        uint32_t index = 0, size = 0, unit = 0, count = 0;
        ns_GetTimeByIndex(h, id, first, &t);
        ns_GetIndexByTime(h, id, t, ns_AFTER, &index);
        if (entity.dwEntityType == ns_ENTITY_ANALOG) {
            ns_GetAnalogData(h, id, first, window, &count, values.data());
        } else if (entity.dwEntityType == ns_ENTITY_EVENT) {
            for (uint32_t k = first; k < first + window; ++k) ns_GetEventData(h, id, k, &t, values.data(), 8, &size);
        } else if (entity.dwEntityType == ns_ENTITY_SEGMENT) {
            for (uint32_t k = first; k < first + window; ++k)
                ns_GetSegmentData(h, id, static_cast<int32_t>(k), &t, values.data(),
                                  static_cast<uint32_t>(values.size() * sizeof(double)), &count, &unit);
        }
    }
}

}  // namespace kvdtest
