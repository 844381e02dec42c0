// The input of the settings fuzz target, shared with the seed generator: a byte choosing the reader, the
// block version (u16 little-endian), the writer's major software version (low three bits), the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kvdfuzz {

enum class Reader : uint8_t {
    Trigger,
    Filter,
    Spike,
    ChannelTool,
    Average,
    TimeWindow,
    OldSpikeList,
    Stimulator,
    LayoutChunk,
    HardwareFile,
    AmplifierFile,
    MeaFile,
    Count
};

constexpr std::size_t kPrefix = 4;

inline std::vector<uint8_t> SettingsInput(Reader reader, uint16_t version, uint8_t writerMajor,
                                          const std::vector<uint8_t>& block)
{
    std::vector<uint8_t> input = {static_cast<uint8_t>(reader), static_cast<uint8_t>(version & 0xFF),
                                  static_cast<uint8_t>(version >> 8), writerMajor};
    input.insert(input.end(), block.begin(), block.end());
    return input;
}

}  // namespace kvdfuzz
