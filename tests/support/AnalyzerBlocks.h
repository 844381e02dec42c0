// Analyzer settings blocks of "params", "spkparam" and "bstparam" streams and the packed records of
// "params" streams, encoded by the recording builder from its own description of the format:
//
//     kvdtest::AnalyzerSettingsDesc analyzer = kvdtest::RecordedParameters({0, 1, 8});  // Min, Max, Number
//     kvdtest::StreamDesc s = kvdtest::ParamsStream(4);
//     s.formatPrivate = analyzer.Encode(s.headerVersion);
//     ParamsRecord r{time, {{minRaw, maxRaw, count}, ...one list per channel}};
//     chunk.data = r.Encode(analyzer);
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/RecordingBuilder.h"
#include "tests/support/SettingsBlocks.h"

namespace kvdtest {

// One parameter description.
struct AnalyzerParamDesc {
    float min = 0.0f, max = 100.0f;
    uint32_t selected = 1;
    double factor = 1.0;
    int32_t exponent = 0;
    int32_t unitType = 0;
    std::string name = "P";
    // With a 16-bit counted name (analyzer blocks) or a 32-bit counted one (spike and burst analyzers).
    std::vector<uint8_t> Encode(bool shortName) const;
};

// The analyzer block of a "params" stream (no PARAM tag; three tagged tables, then the block version's
// items).
struct AnalyzerSettingsDesc {
    std::vector<uint32_t> widths{4, 4, 8, 8, 4, 8, 4, 4, 2, 4, 4, 4, 4, 4, 0};
    std::vector<int32_t> positions;  // -1: not in the record
    std::vector<AnalyzerParamDesc> params;
    int32_t firstWord = 0;
    int32_t mode = 1;
    std::vector<int32_t> recorded;  // version 1 on; one flag per description
    int32_t timeWindowCount = 1;
    std::string inputBufferName = "elec0001";
    bool endAfterNameLength = false;    // the block ends right after the name's u16 length
    int32_t secondWord = 0;             // version 2 on
    std::string secondName = "second";  // version 4 on
    TimeWindowDesc timeWindow;          // version 1 on (its own items from version 2)
    int32_t thirdWord = 0;              // version 5 on
    std::vector<uint8_t> Encode(uint16_t v) const;

    // Bytes of one channel's block of a record: the widths of the parameters the analyzer records, in
    // index order.
    uint32_t ChannelSize() const;
};

// An analyzer that records the parameters of `indexes` (ascending) in their default widths: positions,
// recorded flags and 15 descriptions.
AnalyzerSettingsDesc RecordedParameters(const std::vector<int>& indexes);

// One record of a "params" stream: per channel the raw values of the recorded parameters in index order,
// each stored in its width (the low bytes of the value).
struct ParamsRecord {
    uint64_t time = 0;
    std::vector<std::vector<uint64_t>> channels;
    std::vector<uint8_t> Encode(const AnalyzerSettingsDesc& analyzer) const;
};
// The raw bits of an f32 value, for ParamsRecord.
uint64_t FloatBits(float v);

// The block of a spike analyzer (after "PARAMSPP") or a burst analyzer (after "PARAMBSP").
struct UnitAnalyzerDesc {
    std::vector<AnalyzerParamDesc> params;
    std::vector<uint32_t> unitSelected{1, 1, 0, 0};
    std::string inputBufferName = "spks0001";
    uint32_t sortMethod = 2;
    std::vector<uint32_t> burstSettings{5000, 6000, 7000, 8000, 3};  // burst analyzers only
    std::vector<uint8_t> Encode(bool burst) const;
};
std::vector<uint8_t> SpikeAnalyzerBlock(const UnitAnalyzerDesc& settings);
std::vector<uint8_t> BurstAnalyzerBlock(const UnitAnalyzerDesc& settings);

// A recording with one stream of every kind and a few records in each: electrode (2 channels, the second
// with hardware ID 7, 3 frames at 25 kHz), trigger, spikes, average, params (Min and Number), spkparam and
// bstparam, in that order.
RecordingDesc EveryEventKind();

}  // namespace kvdtest
