// Settings blocks of filter, spike, channel-tool and average streams, and the time-window section of
// analyzer blocks, encoded by the recording builder from its own description of the format:
//
//     kvdtest::StreamDesc s = kvdtest::ChannelToolStream(4);
//     s.formatPrivate = kvdtest::ChannelToolSettingsBlock({3, "elec0001", "E12"});
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/RecordingBuilder.h"

namespace kvdtest {

// The 8-byte tag followed by the settings bytes.
std::vector<uint8_t> Tagged(const char* tag, const std::vector<uint8_t>& settings);

// The time-window section of an analyzer block: the numbers from block version 2 on, the two trigger names
// (32-bit counted, kept exactly) from version 4 on.
struct TimeWindowDesc {
    uint32_t choice = 2;
    float time1 = 50.0f;
    float time2 = 250.0f;
    uint16_t startTriggerId = 1;
    uint16_t stopTriggerId = 2;
    std::string firstTriggerName = "Trigger 1";
    std::string secondTriggerName = "Trigger 2";
    std::vector<uint8_t> Encode(uint16_t v) const;
};

// Settings of an average stream (after "PARAMEVP"); one layout for every block version.
struct EvokedSettingsDesc {
    uint32_t evokedWord = 7;
    uint32_t maxTimeWindowCount = 25;  // the reader keeps the low 16 bits
    std::string triggerName = "Trigger 1";
    std::string triggerBufferId = "trig0001";
    uint16_t triggerId = 2;
    float time1 = 10.0f;
    float time2 = 100.0f;
    std::vector<uint8_t> Encode() const;
};
std::vector<uint8_t> AverageSettingsBlock(const EvokedSettingsDesc& settings);

// Settings of a channel-tool stream (after "PARAMCHT").
struct ChannelToolDesc {
    int16_t toolWord = 3;
    std::string inputBufferName = "elec0001";
    std::string refChannelName = "E12";
    std::vector<uint8_t> Encode() const;
};
std::vector<uint8_t> ChannelToolSettingsBlock(const ChannelToolDesc& settings);

// Settings of a filter stream (after "PARAMFLT"); the block version decides which sections are written.
struct FilterSettingsDesc {
    uint32_t passType = 2;  // high pass
    std::string filterName = "Butterworth 2nd order";
    std::vector<std::string> parameterNames = {"Cutoff Frequency"};
    std::vector<std::string> parameterUnits = {"Hz"};
    std::vector<float> parameterValues = {300.0f};
    std::vector<uint32_t> obsoleteList1 = {1, 2}, obsoleteList2 = {3};   // block versions 0 and 1
    std::vector<double> sgCoefficients = {-0.25, 0.5, 1.0, 0.5, -0.25};  // version 1 on
    uint32_t sgLeft = 2, sgRight = 2, sgOrder = 3;
    double centerFrequency = 60.0;  // version 3 on
    double qFactor = 4.0;
    uint8_t downsampling = 1;
    uint32_t downsamplingFrequency = 1000;
    std::vector<uint8_t> Encode(uint16_t v) const;
};
std::vector<uint8_t> FilterSettingsBlock(const FilterSettingsDesc& settings, uint16_t v);

// Settings of a spike detector of block version 5 on (after "PARAMSPK"); older versions hold a detector
// list (OldSpikeSettingsBlock).
struct SpikeUnitDesc {
    uint16_t hwId = 0;
    uint16_t unitId = 1;
    float wndMin = -0.0001f, wndMax = 0.00005f, wndTime = 0.0005f;
    uint32_t word1 = 255, word2 = 255;
};
struct SpikeChannelDesc {
    uint16_t hwId = 0;
    uint16_t groupId = 0;
    float thresholdLevel = -0.00002f;
    int32_t thresholdSlope = -1;
    float slopeDeltaV = -0.00003f;
    float slopeMin = 0.25f, slopeMax = 0.75f;
    std::vector<SpikeUnitDesc> units;
};
struct SpikeSettingsDesc {
    uint32_t detectMethod = 1, sortMethod = 2, cutOutType = 3;
    float stdDevFactor = -4.5f;
    float preSeconds = 0.001f, postSeconds = 0.002f, deadSeconds = 0.0025f;  // versions 5 and 6
    int32_t preUs = 1000, postUs = 2000, deadUs = 2500;                      // version 7 on
    std::string inputBufferId = "elec0001";                                  // 16-bit count
    std::vector<SpikeChannelDesc> channels;
    std::vector<uint8_t> Encode(uint16_t v) const;
};
std::vector<uint8_t> SpikeSettingsBlock(const SpikeSettingsDesc& settings, uint16_t v);

// A threshold detector on channels with hardware IDs 0 ... n-1, every channel with the given units.
SpikeSettingsDesc ThresholdDetector(int n, float thresholdVolts, const std::vector<uint16_t>& units = {});

// Streams of the data types "chat" and "average" with `n` channels (hardware IDs 0 ... n-1) and their
// settings blocks.
StreamDesc ChannelToolStream(int n, const ChannelToolDesc& settings = {}, const std::string& bufferId = "chtl0001",
                             uint16_t id = 5);
// A filter stream with `n` channels and a settings block of version `v` (the stream header version).
StreamDesc FilterStream(int n, const FilterSettingsDesc& settings = {}, uint16_t v = 3,
                        const std::string& bufferId = "filt0001", uint16_t id = 7);
StreamDesc AverageStream(int n, const EvokedSettingsDesc& settings = {}, const std::string& bufferId = "mean0001",
                         uint16_t id = 6);

}  // namespace kvdtest
