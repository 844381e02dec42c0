// Settings blocks cut short or with bytes overwritten at random (deterministically), decoded by their
// readers from exact-size copies: every read must stay inside the bytes (the sanitizer build checks that),
// end, and allocate no more than the bytes can hold.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "settings/MChannelToolProperty.h"
#include "settings/MEvokedProperty.h"
#include "settings/MFilterProperty.h"
#include "io/MSettingsReader.h"
#include "settings/MSpikeProperty.h"
#include "settings/MTimeWindowProperty.h"
#include "tests/support/EventRecords.h"
#include "tests/support/SettingsBlocks.h"

namespace {

struct DamagedBlock {
    std::string name;
    std::vector<uint8_t> bytes;
    std::function<bool(CMSettingsReader&)> read;
};

std::vector<DamagedBlock> Blocks()
{
    kvdtest::SpikeSettingsDesc spikes = kvdtest::ThresholdDetector(3, -0.00002f, {1, 2});
    kvdtest::OldSpikeListDesc old;
    old.records.resize(2);
    return {
        {"filter v1", kvdtest::FilterSettingsDesc().Encode(1),
         [](CMSettingsReader& in) { return CMFilterProperty().FromFormatInfo(in, 1); }},
        {"filter v3", kvdtest::FilterSettingsDesc().Encode(3),
         [](CMSettingsReader& in) { return CMFilterProperty().FromFormatInfo(in, 3); }},
        {"spikes v6", spikes.Encode(6),
         [](CMSettingsReader& in) { return CMSpikeProperty().ReadSpikeFormatInfo(in, 6, 3 << 16); }},
        {"spikes v8", spikes.Encode(8),
         [](CMSettingsReader& in) { return CMSpikeProperty().ReadSpikeFormatInfo(in, 8, 3 << 16); }},
        {"spikes v4", old.Encode(4, true),
         [](CMSettingsReader& in) { return CMSpikeProperty().ReadSpikeFormatInfo(in, 4, 3 << 16); }},
        {"time window v5", kvdtest::TimeWindowDesc().Encode(5),
         [](CMSettingsReader& in) { return CMTimeWindowProperty().ReadTimeWindowFormatInfo(in, 5); }},
        {"average", kvdtest::EvokedSettingsDesc().Encode(),
         [](CMSettingsReader& in) {
             CMEvokedProperty p;
             return CMEvokedProperty::ReadEvokedFormatInfo(in, static_cast<uint32_t>(in.Remaining()), 0, p);
         }},
        {"channel tool", kvdtest::ChannelToolDesc().Encode(),
         [](CMSettingsReader& in) { return CMChannelToolProperty().FromFormatInfo(in); }},
    };
}

TEST(DamagedSettings, EveryReaderStaysInsideItsBlock)
{
    std::mt19937 random(20261208);
    for (const DamagedBlock& block : Blocks()) {
        SCOPED_TRACE(block.name);
        {
            CMSettingsReader whole(block.bytes.data(), block.bytes.size());
            ASSERT_TRUE(block.read(whole));
        }
        for (int round = 0; round < 3000; ++round) {
            std::vector<uint8_t> bytes = block.bytes;
            if (round % 3 == 0) {
                bytes.resize(random() % bytes.size());
            } else {
                // A few bytes anywhere, often the high byte of a count.
                for (int k = 0; k < 3; ++k) {
                    const std::size_t at = random() % bytes.size();
                    bytes[at] = (round % 3 == 1) ? static_cast<uint8_t>(random()) : 0xFF;
                }
            }
            bytes.shrink_to_fit();
            CMSettingsReader in(bytes.data(), bytes.size());
            block.read(in);
            EXPECT_LE(in.Position(), bytes.size());
        }
    }
}

}  // namespace
