// The channel of a spike stream that each spike's channel number belongs to, as both interfaces count them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "streams/KVXAChannel.h"
#include "streams/KVXAStream.h"

// For every channel number (0 to 65535), the index of the first channel whose ID is that number, else of the
// channel at that position when no channel has it as its ID; -1 for the others, whose spikes are left out.
inline std::vector<int32_t> SpikeOwners(const CKVXAStream& stream)
{
    constexpr std::size_t kNumbers = 65536;
    std::vector<int32_t> owner(kNumbers, -1);
    const int32_t count = stream.GetChannelCount();
    for (int32_t r = count - 1; r >= 0; --r) {
        const CKVXAChannel* channel = stream.GetChannel(static_cast<int16_t>(r));
        const int32_t id = channel ? channel->GetID() : -1;
        if (id >= 0 && static_cast<std::size_t>(id) < kNumbers) owner[static_cast<std::size_t>(id)] = r;
    }
    for (int32_t r = 0; r < count && static_cast<std::size_t>(r) < kNumbers; ++r)
        if (owner[static_cast<std::size_t>(r)] == -1) owner[static_cast<std::size_t>(r)] = r;
    return owner;
}
