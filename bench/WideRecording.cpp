// kvd_wide_recording [ELECTRODES [SECONDS]] OUT.kvd: writes a recording of many electrodes for the plot
// benchmark (bench/plot_bench.py): ELECTRODES electrodes (default 256) at 25 kHz for SECONDS (default 10)
// without a stored layout, so that the standard linear layout places them (16 columns above 128
// electrodes), with the sample recording's signals, one trigger a second and a spike at the onset of every
// spike-like deflection.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"
#include "tools/SampleRecording.h"

namespace {

using namespace kvdtest;

constexpr uint64_t kNsPerSample = 1000000000ULL / kvdsample::kSampleRate;

RecordingDesc Describe(int electrodes, uint64_t samples)
{
    RecordingDesc rec;
    rec.comment = "kvd_wide_recording: " + std::to_string(electrodes) + " electrodes";
    rec.sourceType = 0;
    rec.electrodeChannels = rec.totalChannels = static_cast<uint16_t>(electrodes);
    rec.analogOffset = rec.digitalOffset = static_cast<uint16_t>(electrodes);
    rec.digitalChannels = 0;
    rec.stopTime = rec.startTime + samples * kNsPerSample;
    StreamDesc signals = ElectrodeStream(electrodes);
    signals.adZero = kvdsample::kADZero;
    signals.unitsPerAD = kvdsample::kVoltsPerAD;
    rec.streams = {signals, TriggerStream(), SpikeStream(electrodes, 8, "spks0001", 3)};
    return rec;
}

void AddChunks(RecordingDesc& rec, int electrodes, uint64_t samples)
{
    const uint64_t perChunk = kvdsample::kSamplesPerChunk;
    for (uint64_t first = 0; first < samples; first += perChunk) {
        const uint64_t n = std::min(perChunk, samples - first);
        const uint64_t from = rec.startTime + first * kNsPerSample, to = from + n * kNsPerSample;
        ChunkDesc frames{"elec0001", from, to, {}, {}};
        frames.data.reserve(n * electrodes * 2);
        std::vector<SpikeRecord> spikes;
        for (uint64_t i = first; i < first + n; ++i)
            for (int c = 0; c < electrodes; ++c) {
                const uint16_t v = kvdsample::ElectrodeSample(c, i);
                frames.data.push_back(static_cast<uint8_t>(v));
                frames.data.push_back(static_cast<uint8_t>(v >> 8));
                // The sample's deflections start where (i + 37 c) is a multiple of (997 + 13 c) ms.
                if ((i + 37 * static_cast<uint64_t>(c)) % ((997 + 13 * static_cast<uint64_t>(c)) * 25) != 0) continue;
                SpikeRecord s;
                s.time = rec.startTime + i * kNsPerSample;
                s.channel = s.hwId = static_cast<uint16_t>(c);
                for (uint64_t j = i; j < i + 50; ++j)
                    s.samples.push_back(static_cast<int16_t>(kvdsample::ElectrodeSample(c, j)));
                spikes.push_back(std::move(s));
            }
        std::vector<TriggerRecord> triggers;
        for (uint64_t i = (first + 24999) / 25000 * 25000; i < first + n; i += 25000)
            triggers.push_back({rec.startTime + i * kNsPerSample, 1, 0, 0, 0});
        rec.chunks.push_back(std::move(frames));
        rec.chunks.push_back({"trig0001", from, to, EncodeTriggers(triggers, 6), {}});
        rec.chunks.push_back({"spks0001", from, to, EncodeSpikes(spikes, 8), {}});
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: kvd_wide_recording [ELECTRODES [SECONDS]] OUT.kvd\n");
        return 2;
    }
    const int electrodes = argc > 2 ? std::atoi(argv[1]) : 256;
    const double seconds = argc > 3 ? std::atof(argv[2]) : 10.0;
    if (electrodes < 1 || electrodes > 1024 || !(seconds > 0.0 && seconds <= 3600.0)) {
        std::fprintf(stderr, "kvd_wide_recording: 1 to 1024 electrodes for up to 3600 seconds\n");
        return 2;
    }
    const uint64_t samples = static_cast<uint64_t>(seconds * kvdsample::kSampleRate);
    try {
        RecordingDesc rec = Describe(electrodes, samples);
        AddChunks(rec, electrodes, samples);
        AttachIndex(rec);
        rec.WriteTo(argv[argc - 1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvd_wide_recording: cannot write %s: %s\n", argv[argc - 1], e.what());
        return 1;
    }
    return 0;
}
