// Builds "STIMG9  " stimulator chunks for tests and the sample tools, from the builder's own description
// of the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvdtest {

struct StimulusGroupDesc {
    StimulusGroupDesc(std::string n = {}, std::vector<std::pair<uint16_t, uint16_t>> p = {},
                      std::optional<uint32_t> count = {})
        : name(std::move(n)), pairs(std::move(p)), pairCount(count)
    {}
    std::string name;  // stored in 8 bytes
    std::vector<std::pair<uint16_t, uint16_t>> pairs;
    std::optional<uint32_t> pairCount;  // stored count; default: pairs.size()
};

struct StimulusListEntryDesc {
    std::string name;
    std::vector<StimulusGroupDesc> groups;
};

struct StimulusDesc {
    int32_t pre = 0, a1 = -1000000, t1 = 200, a2 = 1000000, t2 = 200, ipi = 5000, pulseRepeat = 2, ibi = 2000,
            burstRepeat = 4;
    uint32_t repeatMode = 2;   // stored from version 3
    uint32_t triggerType = 1;  // stored from version 2
    uint32_t triggerSource = 3;
};

struct StimulatorChunkDesc {
    std::string id = "STIMG9";
    int32_t version = 7;
    // Versions below 5 store the groups of the first entry only (and no entry names).
    std::vector<StimulusListEntryDesc> entries;
    std::optional<uint32_t> entryCount;  // stored count; default: entries.size() (groups for v < 5)
    uint32_t stimulusCount = 3;
    std::vector<StimulusDesc> stimuli = std::vector<StimulusDesc>(3);
    int32_t voltageRange = 10000000, voltageResolution = 400, currentRange = 1000000, currentResolution = 40;
    int32_t dacResolution = 14, dacOffset = 7, channelNumber = 8, syncNumber = 2, triggerNumber = 4;
    uint32_t mode = 1;
    uint8_t blanking = 0;
    uint8_t useAsciiFile = 1;  // stored from version 6
    std::string asciiPath = "stim/list.asc";
    uint8_t dedicatedElectrodes = 1;  // stored from version 7

    std::vector<uint8_t> Encode() const;
};

}  // namespace kvdtest
