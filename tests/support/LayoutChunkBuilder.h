// Builds "LAYOUT  " chunks and layout description files for tests and the sample tools, from the builder's
// own description of the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvdtest {

// One channel record of a layout chunk; the defaults are those of a new record.
struct LayoutRecordDesc {
    int32_t hwId = -1;
    int32_t subType = -1;  // 0 electrode, 1 analog, 2 digital
    int32_t gain = -1;
    int32_t lowF = 0, highF = 50000000;
    std::string name, decoratedName;
    int32_t meaNumber = -1;
    std::string meaName;
    int32_t electrodeType = 0;
    int32_t posX = 0, posY = 0, posZ = 0;
    int32_t extentX = 1000, extentY = 1000, extentZ = 1000;
    int32_t displayX = 0, displayY = 0, displayExtentX = 100, displayExtentY = 100;
    std::string thirdName, amplifierName;  // from record version 2
    int32_t mapHwId = -1, mapValue = 0;    // from record version 3

    // The record as it stands in a chunk of `version`: 844, 1360 or 1368 bytes.
    std::vector<uint8_t> Encode(int32_t version) const;
};

// Bytes of a record of a chunk version.
std::size_t LayoutRecordLength(int32_t version);

struct LayoutChunkDesc {
    int32_t version = 3;
    int32_t sourceType = 3;
    std::optional<int32_t> total;  // default: records.size()
    int32_t electrodes = 0, analog = 0, digital = 0;
    int32_t reserved = 0;
    std::optional<int32_t> count;      // stored record count; default: records.size()
    std::optional<uint64_t> bodySize;  // default: 32 + record bytes
    std::string id = "LAYOUT";
    std::vector<LayoutRecordDesc> records;

    std::vector<uint8_t> Encode() const;
};

// A plausible stored layout: `electrodes` electrodes on a grid of 8 columns (200 um pitch) named "E01" ...,
// on MEA 0 with decorated names "E01a" ..., followed by `analog` analog inputs "A1" ... and one digital
// input "D1".
LayoutChunkDesc GridLayout(int electrodes, int analog);

}  // namespace kvdtest
