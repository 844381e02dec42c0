// Event records and detector settings of spike and trigger streams, encoded by the recording builder:
//
//     std::vector<kvdtest::TriggerRecord> triggers = {{t0, 7}, {t1, 9}};
//     kvdtest::ChunkDesc chunk{"trig0001", t0, t1 + 1, kvdtest::EncodeTriggers(triggers, 6)};
//
// Like the rest of the builder this writes from its own description of the format.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/RecordingBuilder.h"

namespace kvdtest {

// One spike cut-out. Fields that a header version does not store are left out of its record.
struct SpikeRecord {
    uint64_t time = 0;
    uint16_t channel = 0;
    uint32_t preEvent = 0;  // u16 below header version 8
    uint16_t unitId = 0;    // header version 5 on
    uint16_t hwId = 0;      // header version 6 on
    std::vector<int16_t> samples;
    std::optional<int32_t> count;  // stored sample count; default: samples.size()

    // Bytes of the record for stream header version `h`: 16, 18, 20 or 22 bytes plus the samples.
    std::vector<uint8_t> Encode(uint16_t h) const;
};

// One trigger event.
struct TriggerRecord {
    uint64_t time = 0;
    uint16_t adValue = 0;
    int32_t manualCount = 0;  // header version 5 on
    int32_t trial = 0;        // header version 6 on
    int32_t stimulus = 0;     // header version 6 on

    // 10, 14 or 22 bytes for stream header version `h` (up to 4, 5, 6 on).
    std::vector<uint8_t> Encode(uint16_t h) const;
};

// One averaged sweep of an "average" stream.
struct AverageRecord {
    uint64_t time = 0;
    uint16_t channel = 0;
    uint16_t hwId = 0;  // header version 5 on
    uint16_t timeWindowCount = 0;
    std::vector<int16_t> samples;
    std::optional<uint32_t> count;  // stored sample count; default: samples.size()

    // 16 (H <= 4) or 18 bytes plus the samples.
    std::vector<uint8_t> Encode(uint16_t h) const;
};

// The values of the spike analyzer for one spike ("spkparam").
struct SpikeParameterRecord {
    uint64_t time = 0;
    uint16_t channel = 0, hwId = 0, unitId = 0;
    uint64_t isi = 0;        // parameter 0
    float rate = 0.0f;       // parameter 1
    uint64_t timestamp = 0;  // parameter 2, header version 2 on

    // 26 (H < 2) or 34 bytes.
    std::vector<uint8_t> Encode(uint16_t h) const;
};

// The values of the burst analyzer for one burst ("bstparam"): 38 bytes whatever the header version.
struct BurstParameterRecord {
    uint64_t time = 0;
    uint16_t channel = 0, hwId = 0, unitId = 0;
    uint64_t burstTime = 0;
    uint64_t marker = 0;      // parameter 0
    int32_t spikeNumber = 0;  // parameter 2
    float frequency = 0.0f;   // parameter 1

    std::vector<uint8_t> Encode(uint16_t h) const;
};

// The records one after the other, each as stream header version `h` stores it.
template <typename Record>
std::vector<uint8_t> EncodeRecords(const std::vector<Record>& records, uint16_t h)
{
    std::vector<uint8_t> bytes;
    for (const Record& r : records) {
        const std::vector<uint8_t> one = r.Encode(h);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}
std::vector<uint8_t> EncodeSpikes(const std::vector<SpikeRecord>& records, uint16_t h);
std::vector<uint8_t> EncodeTriggers(const std::vector<TriggerRecord>& records, uint16_t h);

// Settings of one trigger detector.
struct TriggerSettingsDesc {
    // Words 1 to 14: dead time, -, -, -, level (0.1 uV), -, slope, channel, triggered stream id, ...
    std::array<int32_t, 14> words{{5, 0, 1, 3, -2500, -2500, -1, 12, 0, 2, 1, 0, 0, 0}};
    uint32_t leadingWord = 0;  // the unused u32 that opens a record of block version 3 on
    uint8_t digitalTrigger = 0;
    int32_t digitalValue = 1;
    int32_t digitalType = 1;
    std::string inputBufferId = "elec0001";
    int32_t digitalMask = 1;
    uint8_t parameterTrigger = 0;
    int32_t parameterWord = -1;
    std::string parameter;
    std::string parameterUnit;
    uint8_t trialSynchronization = 0;
    // Block versions up to 2: length of the record image (words 1 to 14 fill its bytes 4 to 59).
    uint32_t imageLength = 60;

    // One record of block version `v`; `parameterSection` as the reader expects it from the file's writer
    // version (a major version of 3 or more, block version 4 on).
    std::vector<uint8_t> Encode(uint16_t v, bool parameterSection) const;
};

// The format-private bytes of a trigger stream: "PARAMTRG" and one detector record.
std::vector<uint8_t> TriggerSettingsBlock(const TriggerSettingsDesc& settings, uint16_t v, bool parameterSection);

// The detector list of an old spike block (block versions 1 to 4), after its tag: a record count, the
// records and three u32 values.
struct OldSpikeListDesc {
    std::vector<TriggerSettingsDesc> records;
    std::optional<uint32_t> count;  // stored count; default: records.size()
    uint32_t p = 1000, q = 1000, r = 2000;
    std::vector<uint8_t> Encode(uint16_t v, bool parameterSection) const;
};

// The format-private bytes of a spike stream of block version 1 to 4: "PARAMSPK" and the detector list.
std::vector<uint8_t> OldSpikeSettingsBlock(const OldSpikeListDesc& list, uint16_t v, bool parameterSection);

// A stream of data type "spikes" with `n` channels (hardware IDs 0 ... n-1) and header version `h`.
StreamDesc SpikeStream(int n, uint16_t h = 8, const std::string& bufferId = "spks0001", uint16_t id = 4);
// Spike-parameter, burst-parameter and analyzer-parameter streams with `n` channels (hardware IDs 0 ... n-1), header
// version `h` and no settings block (tests add one to formatPrivate).
StreamDesc SpikeParameterStream(int n, uint16_t h = 2, const std::string& bufferId = "sppa0001", uint16_t id = 6);
StreamDesc BurstParameterStream(int n, uint16_t h = 2, const std::string& bufferId = "bspa0001", uint16_t id = 7);
StreamDesc ParamsStream(int n, uint16_t h = 5, const std::string& bufferId = "para0001", uint16_t id = 8);

}  // namespace kvdtest
