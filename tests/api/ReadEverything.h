// Reads every entity of an open file through every function, a bounded number of items each, ignoring
// the results: for tests and fuzzing that only ask that every call returns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "include/nsAPItypes.h"

namespace kvdtest {

inline void ReadEverything(uint32_t h)
{
    ns_FILEINFO file;
    if (ns_GetFileInfo(h, &file, sizeof file) != ns_OK) return;
    std::vector<double> values(4096);
    for (uint32_t id = 0; id < file.dwEntityCount && id < 512; ++id) {
        ns_ENTITYINFO entity;
        if (ns_GetEntityInfo(h, id, &entity, sizeof entity) != ns_OK) continue;
        const uint32_t items = std::min<uint32_t>(entity.dwItemCount, 64);
        double t = 0;
        uint32_t index = 0, size = 0, unit = 0, count = 0;
        ns_GetIndexByTime(h, id, 0.02, ns_CLOSEST, &index);
        ns_GetTimeByIndex(h, id, entity.dwItemCount ? entity.dwItemCount - 1 : 0, &t);
        if (entity.dwEntityType == ns_ENTITY_ANALOG) {
            ns_ANALOGINFO info;
            ns_GetAnalogInfo(h, id, &info, sizeof info);
            const uint32_t n = std::min<uint32_t>(entity.dwItemCount, 4096);
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

}  // namespace kvdtest
