#include "tools/SampleRecording.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/LayoutChunkBuilder.h"
#include "tests/support/RecordingBuilder.h"
#include "tests/support/StimulatorChunkBuilder.h"

namespace kvdsample {
namespace {

constexpr uint64_t kNsPerSample = 1000000000ULL / kSampleRate;

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

kvdtest::RecordingDesc Describe(uint64_t samples)
{
    kvdtest::RecordingDesc rec;
    rec.comment = "kvdsynth sample recording: 60 electrodes at 25 kHz, 1 stimulus per second";
    rec.startPressed = StartTime() - 2000000000ULL;
    rec.startTime = StartTime();
    rec.stopTime = StartTime() + samples * kNsPerSample;
    rec.millisamplesPerSecond = static_cast<int32_t>(kSampleRate * 1000);
    rec.sourceType = 1;
    rec.electrodeChannels = kElectrodes;
    rec.digitalChannels = 1;
    rec.digitalOffset = kElectrodes;
    rec.totalChannels = kElectrodes + 1;

    kvdtest::StreamDesc electrodes = kvdtest::ElectrodeStream(kElectrodes, "elec0001", 1);
    electrodes.comment = "60-electrode array, 8 x 8 grid without corners";
    electrodes.adZero = kADZero;
    electrodes.unitsPerAD = kVoltsPerAD;
    electrodes.defaultSamplesPerSegment = kSamplesPerChunk;
    for (int i = 0; i < kElectrodes; ++i) {
        // Grid positions of an 8 x 8 array without its corners, 200 um apart, named by column and row.
        const int cell = i + 1 + (i >= 6) + (i >= 54);
        const int col = cell % 8, row = cell / 8;
        kvdtest::ChannelDesc& c = electrodes.channels[i];
        c.name = std::to_string(col + 1) + std::to_string(row + 1);
        c.posX = 200 * col;
        c.posY = 200 * row;
        c.displayX = col;
        c.displayY = row;
    }

    kvdtest::StreamDesc digital = kvdtest::DigitalStream("digi0001", 2);
    digital.defaultSamplesPerSegment = kSamplesPerChunk;
    kvdtest::StreamDesc trigger = kvdtest::TriggerStream("trig0001", 3, "Trigger 1");
    kvdtest::StreamDesc spikes = kvdtest::ElectrodeStream(kElectrodes, "spks0001", 4);
    spikes.dataType = "spikes";
    spikes.name = "Spikes 1";
    spikes.adZero = kADZero;
    spikes.unitsPerAD = kVoltsPerAD;
    for (int i = 0; i < kElectrodes; ++i) spikes.channels[i].name = electrodes.channels[i].name;

    rec.streams = {electrodes, digital, trigger, spikes};
    return rec;
}

// Stores the electrode layout of the sample in the file (source type 3) and adds the stimulator settings
// of the one-a-second stimulus.
void StoreLayoutAndStimulator(kvdtest::RecordingDesc& rec)
{
    rec.sourceType = 3;
    kvdtest::LayoutChunkDesc layout;
    layout.electrodes = kElectrodes;
    layout.digital = 1;
    for (int h = 0; h <= kElectrodes; ++h) {
        kvdtest::LayoutRecordDesc r;
        r.hwId = r.mapHwId = h;
        r.electrodeType = 1;
        r.meaNumber = 0;
        if (h < kElectrodes) {
            const kvdtest::ChannelDesc& c = rec.streams[0].channels[h];
            r.subType = 0;
            r.gain = c.gain;
            r.lowF = c.lowF;
            r.highF = c.highF;
            r.name = r.decoratedName = r.thirdName = c.name;
            r.meaName = "Sample 8x8";
            r.amplifierName = "Sample amplifier";
            r.posX = c.posX;
            r.posY = c.posY;
            r.displayX = c.displayX * 100;
            r.displayY = c.displayY * 100;
        } else {
            r.subType = 2;
            r.gain = 1;
            r.name = r.decoratedName = r.thirdName = "D1";
        }
        layout.records.push_back(r);
    }
    rec.layoutChunk = layout.Encode();

    kvdtest::StimulatorChunkDesc stim;
    stim.asciiPath.clear();
    stim.useAsciiFile = 0;
    stim.entries = {{"sample", {{"stim1", {{0, 1}, {27, 1}}}}}};
    for (auto& s : stim.stimuli) s.ibi = 1000000;
    rec.stimulatorFlag = 1;
    rec.stimulatorChunk = stim.Encode();
}

void Append(FILE* f, const std::vector<uint8_t>& bytes)
{
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) throw std::runtime_error("write failed");
}

}  // namespace

uint64_t StartTime() { return kvdtest::kDefaultStart; }

uint16_t ElectrodeSample(int channel, uint64_t index)
{
    // Noise of about 80 steps, a slow oscillation whose frequency differs per channel, and a spike-like
    // deflection every (997 + 13 * channel) ms on every channel.
    const uint64_t h = Mix((static_cast<uint64_t>(channel) << 40) ^ index);
    const int noise = static_cast<int>(h & 0xFF) + static_cast<int>((h >> 8) & 0xFF) - 255;
    const double t = static_cast<double>(index) / kSampleRate;
    const int wave = static_cast<int>(400.0 * std::sin(2.0 * M_PI * (1.0 + 0.25 * channel) * t));
    const uint64_t spikePeriod = (997 + 13 * static_cast<uint64_t>(channel)) * kSampleRate / 1000;
    const uint64_t inSpike = (index + 37 * static_cast<uint64_t>(channel)) % spikePeriod;
    const int spike = inSpike < 25 ? -static_cast<int>(640 - 50 * (inSpike > 12 ? inSpike - 12 : 12 - inSpike)) : 0;
    return static_cast<uint16_t>(kADZero + noise + wave + spike);
}

uint16_t DigitalSample(uint64_t index) { return index % kStimulusPeriod < kStimulusLength ? 1 : 0; }

void WriteSampleRecording(const std::string& path, const Options& options)
{
    if (!(options.seconds > 0.0) || options.seconds > 1e6) throw std::runtime_error("duration out of range");
    const uint64_t samples = static_cast<uint64_t>(options.seconds * kSampleRate);
    kvdtest::RecordingDesc rec = Describe(samples);
    if (options.storedLayout) StoreLayoutAndStimulator(rec);

    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!f) throw std::runtime_error("cannot create " + path);
    Append(f.get(), rec.EncodeHeaderSection());

    kvdtest::ChunkDesc electrode;
    kvdtest::ChunkDesc digital;
    electrode.id = "elec0001";
    digital.id = "digi0001";
    for (uint64_t first = 0; first < samples; first += kSamplesPerChunk) {
        const uint64_t n = std::min<uint64_t>(kSamplesPerChunk, samples - first);
        electrode.from = digital.from = StartTime() + first * kNsPerSample;
        electrode.to = digital.to = StartTime() + (first + n) * kNsPerSample;
        electrode.data.resize(n * kElectrodes * 2);
        digital.data.resize(n * 2);
        uint8_t* e = electrode.data.data();
        for (uint64_t k = 0; k < n; ++k) {
            for (int c = 0; c < kElectrodes; ++c, e += 2) {
                const uint16_t v = ElectrodeSample(c, first + k);
                e[0] = static_cast<uint8_t>(v);
                e[1] = static_cast<uint8_t>(v >> 8);
            }
            const uint16_t d = DigitalSample(first + k);
            digital.data[2 * k] = static_cast<uint8_t>(d);
            digital.data[2 * k + 1] = static_cast<uint8_t>(d >> 8);
        }
        Append(f.get(), electrode.Encode());
        Append(f.get(), digital.Encode());
    }
    if (std::fflush(f.get()) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace kvdsample
