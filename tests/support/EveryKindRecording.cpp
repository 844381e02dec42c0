#include "tests/support/EveryKindRecording.h"

#include <utility>

#include "tests/support/EventRecords.h"

namespace kvdtest {

RecordingDesc EveryKindRecording(uint16_t version, bool triggered, uint32_t scale)
{
    constexpr uint64_t kMs = 1000000ULL;
    RecordingDesc rec;
    rec.version = version;
    rec.streams = {ElectrodeStream(2), DigitalStream(), TriggerStream(), SpikeStream(2, version >= 5 ? 8 : 4)};
    TriggerSettingsDesc settings;
    rec.streams[2].formatPrivate = TriggerSettingsBlock(settings, 6, true);
    // 20 ms per scale step: 500 continuous samples, or two sweeps of 200 samples 10 ms apart.
    const uint64_t span = 20 * kMs * scale;
    rec.stopTime = rec.startTime + span;
    if (triggered) {
        rec.recordingMode = 1;
        rec.startTriggerBufferId = "trig0001";
        std::vector<RunDesc> sweeps;
        for (uint32_t k = 0; k < 2 * scale; ++k) sweeps.push_back({rec.startTime + k * 10 * kMs, 200});
        AddSampleChunks(rec, {0, 1}, sweeps, 100);
    } else {
        AddSampleChunks(rec, {0, 1}, {{rec.startTime, 500ULL * scale}}, 100);
    }

    std::vector<TriggerRecord> triggers;
    for (uint32_t k = 0; k < scale; ++k)
        triggers.push_back({rec.startTime + kMs + k * 20 * kMs, static_cast<uint16_t>(5 + k), 1, 2, 3});
    // One event chunk per stream spanning the whole recording.
    const auto eventChunk = [&](const char* id, std::vector<uint8_t> data) {
        ChunkDesc chunk;
        chunk.id = id;
        chunk.from = rec.startTime;
        chunk.to = rec.startTime + span;
        chunk.data = std::move(data);
        rec.chunks.push_back(std::move(chunk));
    };
    eventChunk("trig0001", EncodeTriggers(triggers, version >= 5 ? 6 : 4));

    std::vector<SpikeRecord> spikes;
    for (uint32_t k = 0; k < 2 * scale; ++k) {
        SpikeRecord spike;
        spike.time = rec.startTime + 2 * kMs + k * 10 * kMs;
        spike.channel = static_cast<uint16_t>(1 - k % 2);
        spike.unitId = static_cast<uint16_t>(k % 3);
        for (int i = 0; i < 6; ++i) spike.samples.push_back(static_cast<int16_t>(7 + k * 11 + i * 100));
        spikes.push_back(spike);
    }
    eventChunk("spks0001", EncodeSpikes(spikes, version >= 5 ? 8 : 4));
    if (version >= 3) AttachIndex(rec);
    return rec;
}

RecordingDesc TriggeredRecording(const std::vector<uint64_t>& sweepLengths)
{
    constexpr uint64_t kSecond = 1000000000ULL;
    RecordingDesc rec;
    rec.recordingMode = 1;
    rec.startTriggerBufferId = "trig0001";
    rec.postTrigger = 100.0f;
    rec.streams = {TriggerStream(), ElectrodeStream(2), DigitalStream()};
    for (auto& s : rec.streams) s.millisamplesPerSecond = 10000000;
    rec.millisamplesPerSecond = 10000000;
    std::vector<RunDesc> runs;
    for (std::size_t k = 0; k < sweepLengths.size(); ++k)
        runs.push_back({rec.startTime + (1 + 4 * k) * kSecond, sweepLengths[k]});
    AddSampleChunks(rec, {1, 2}, runs, 320);
    AttachIndex(rec);
    return rec;
}

}  // namespace kvdtest
