#include "tools/SampleRecording.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/AnalyzerBlocks.h"
#include "tests/support/EventRecords.h"
#include "tests/support/LayoutChunkBuilder.h"
#include "tests/support/RecordingBuilder.h"
#include "tests/support/SettingsBlocks.h"
#include "tests/support/StimulatorChunkBuilder.h"

namespace kvdsample {
namespace {

constexpr uint64_t kNsPerSample = 1000000000ULL / kSampleRate;

// The slow oscillation of electrode channel `channel`, in AD steps.
int Wave(int channel, uint64_t index)
{
    const double t = static_cast<double>(index) / kSampleRate;
    return static_cast<int>(400.0 * std::sin(2.0 * M_PI * (1.0 + 0.25 * channel) * t));
}

// The hardware ID of every electrode channel, in channel order (the grid row by row, without its corners):
// the standard wiring of the 60-electrode array, whose layout names hardware ID h after the electrode it
// reaches, so that a file without a stored layout names every channel's electrode as the channel does.
constexpr uint16_t kElectrodeHardwareIds[kElectrodes] = {
    23, 25, 28, 31, 34, 36,          // 21 ... 71
    20, 21, 24, 29, 30, 35, 38, 39,  // 12 ... 82
    18, 19, 22, 27, 32, 37, 40, 41,  // 13 ... 83
    15, 16, 17, 26, 33, 42, 43, 44,  // 14 ... 84
    14, 13, 12, 3,  56, 47, 46, 45,  // 15 ... 85
    11, 10, 7,  2,  57, 52, 49, 48,  // 16 ... 86
    9,  8,  5,  0,  59, 54, 51, 50,  // 17 ... 87
    6,  4,  1,  58, 55, 53,          // 28 ... 78
};

uint64_t SpikePeriod(int channel) { return (997 + 13 * static_cast<uint64_t>(channel)) * kSampleRate / 1000; }

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// The trigger detector of the sample: rising edges of bit 0 of the digital channel (hardware ID 60).
kvdtest::TriggerSettingsDesc StimulusDetector()
{
    kvdtest::TriggerSettingsDesc d;
    // Dead time, -, -, -, level, -, slope, channel, triggered stream (2: digital), -, ...
    d.words = {{100, 0, 1, 3, 0, 0, 1, kElectrodes, 2, 2, 1, 0, 0, 0}};
    d.digitalTrigger = 1;
    d.digitalValue = 1;
    d.digitalType = 1;
    d.digitalMask = 1;
    d.inputBufferId = "digi0001";
    return d;
}

// The filter of the filter stream: a second-order Butterworth high pass at 300 Hz.
kvdtest::FilterSettingsDesc HighPass()
{
    kvdtest::FilterSettingsDesc f;
    f.passType = 2;
    f.filterName = "Butterworth 2nd order";
    f.parameterNames = {"Cutoff Frequency"};
    f.parameterUnits = {"Hz"};
    f.parameterValues = {300.0f};
    f.sgCoefficients.clear();
    f.centerFrequency = 50.0;
    f.qFactor = 2.0;
    f.downsampling = 0;
    f.downsamplingFrequency = 100;
    return f;
}
constexpr uint16_t kFilterHeaderVersion = 3;

// The spike detector: a threshold on every channel of its input, no sorting.
kvdtest::SpikeSettingsDesc SpikeDetector(bool onFilter)
{
    kvdtest::SpikeSettingsDesc d =
        kvdtest::ThresholdDetector(kElectrodes, static_cast<float>(kSpikeThreshold * kVoltsPerAD));
    d.cutOutType = 0;
    d.stdDevFactor = -5.0f;
    d.preUs = static_cast<int32_t>(kSpikePreSamples * 1000000 / kSampleRate);
    d.postUs = static_cast<int32_t>(kSpikePostSamples * 1000000 / kSampleRate);
    d.deadUs = 1000;
    d.inputBufferId = onFilter ? "filt0001" : "elec0001";
    for (kvdtest::SpikeChannelDesc& c : d.channels) c.thresholdSlope = -1;
    return d;
}

kvdtest::RecordingDesc Describe(uint64_t samples, const Options& options)
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
        c.hwId = kElectrodeHardwareIds[i];
        c.posX = 200 * col;
        c.posY = 200 * row;
        c.displayX = col;
        c.displayY = row;
    }

    kvdtest::StreamDesc digital = kvdtest::DigitalStream("digi0001", 2);
    digital.defaultSamplesPerSegment = kSamplesPerChunk;
    kvdtest::StreamDesc trigger = kvdtest::TriggerStream("trig0001", 3, "Trigger 1");
    trigger.headerVersion = kTriggerHeaderVersion;
    trigger.formatPrivate =
        kvdtest::TriggerSettingsBlock(StimulusDetector(), kTriggerHeaderVersion, (rec.softwareWord1 >> 16) >= 3);
    kvdtest::StreamDesc spikes = kvdtest::SpikeStream(kElectrodes, kSpikeHeaderVersion, "spks0001", 4);
    spikes.adZero = kADZero;
    spikes.unitsPerAD = kVoltsPerAD;
    spikes.channels = electrodes.channels;
    if (options.detectorSettings)
        spikes.formatPrivate = kvdtest::SpikeSettingsBlock(SpikeDetector(options.filterStream), kSpikeHeaderVersion);

    rec.streams = {electrodes, digital, trigger, spikes};
    if (options.filterStream) {
        kvdtest::StreamDesc filter =
            kvdtest::FilterStream(kElectrodes, HighPass(), kFilterHeaderVersion, "filt0001", 5);
        filter.channels = electrodes.channels;
        filter.adZero = kADZero;
        filter.unitsPerAD = kVoltsPerAD;
        filter.defaultSamplesPerSegment = kSamplesPerChunk;
        rec.streams.push_back(filter);
    }
    if (options.averageStream) {
        kvdtest::EvokedSettingsDesc averager;
        averager.maxTimeWindowCount = 0xFFFF;
        averager.triggerName = "Trigger 1";
        averager.triggerBufferId = "trig0001";
        averager.triggerId = 3;
        averager.time1 = 0.0f;
        averager.time2 = static_cast<float>(kAverageWindow * 1000 / kSampleRate);  // ms
        kvdtest::StreamDesc average = kvdtest::AverageStream(kElectrodes, averager, "mean0001", 6);
        average.headerVersion = kAverageHeaderVersion;
        average.channels = electrodes.channels;
        average.adZero = kADZero;
        average.unitsPerAD = kVoltsPerAD;
        rec.streams.push_back(average);
    }
    if (options.spikeParameterStream) {
        kvdtest::UnitAnalyzerDesc analyzer;
        analyzer.params = {{0.0f, 2000.0f, 1, 1.0, -3, 3, "ISI"},
                           {0.0f, 10.0f, 1, 1.0, 0, 5, "Rate"},
                           {-1.0f, 4.0f, 1, 1.0, 0, 8, "Timestamp"}};
        analyzer.unitSelected = {1, 0, 0, 0};
        analyzer.inputBufferName = "spks0001";
        analyzer.sortMethod = 0;
        kvdtest::StreamDesc parameters =
            kvdtest::SpikeParameterStream(kElectrodes, kSpikeParameterHeaderVersion, "sppa0001", 7);
        parameters.channels = electrodes.channels;
        parameters.formatPrivate = kvdtest::SpikeAnalyzerBlock(analyzer);
        rec.streams.push_back(parameters);
    }
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
    // One record per hardware ID, in their order: the electrodes' from the channels that have them, then
    // the digital input's.
    std::vector<const kvdtest::ChannelDesc*> byHardwareId(kElectrodes);
    for (const kvdtest::ChannelDesc& c : rec.streams[0].channels)
        byHardwareId.at(static_cast<std::size_t>(c.hwId)) = &c;
    for (int h = 0; h <= kElectrodes; ++h) {
        kvdtest::LayoutRecordDesc r;
        r.hwId = r.mapHwId = h;
        r.electrodeType = 1;
        r.meaNumber = 0;
        if (h < kElectrodes) {
            const kvdtest::ChannelDesc& c = *byHardwareId[static_cast<std::size_t>(h)];
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
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) throw std::runtime_error(std::strerror(errno));
}

}  // namespace

uint64_t StartTime() { return kvdtest::kDefaultStart; }

uint16_t ElectrodeSample(int channel, uint64_t index)
{
    // Noise of about 80 steps, a slow oscillation whose frequency differs per channel, and a spike-like
    // deflection every (997 + 13 * channel) ms on every channel.
    const uint64_t h = Mix((static_cast<uint64_t>(channel) << 40) ^ index);
    const int noise = static_cast<int>(h & 0xFF) + static_cast<int>((h >> 8) & 0xFF) - 255;
    const int wave = Wave(channel, index);
    const uint64_t spikePeriod = SpikePeriod(channel);
    const uint64_t inSpike = (index + 37 * static_cast<uint64_t>(channel)) % spikePeriod;
    const int spike = inSpike < 25 ? -static_cast<int>(640 - 50 * (inSpike > 12 ? inSpike - 12 : 12 - inSpike)) : 0;
    return static_cast<uint16_t>(kADZero + noise + wave + spike);
}

uint16_t FilteredSample(int channel, uint64_t index)
{
    return static_cast<uint16_t>(static_cast<int>(ElectrodeSample(channel, index)) - Wave(channel, index));
}

uint16_t DigitalSample(uint64_t index) { return index % kStimulusPeriod < kStimulusLength ? 1 : 0; }

namespace {

// Trigger records of the stimuli whose rising edge of digital bit 0 lies in samples [first, end).
std::vector<kvdtest::TriggerRecord> StimulusTriggers(uint64_t first, uint64_t end)
{
    std::vector<kvdtest::TriggerRecord> records;
    for (uint64_t i = (first + kStimulusPeriod - 1) / kStimulusPeriod * kStimulusPeriod; i < end; i += kStimulusPeriod)
        records.push_back({StartTime() + i * kNsPerSample, DigitalSample(i), 0, 0, 0});
    return records;
}

// The electrode signal less its slow oscillation: noise and spike deflections.
int Deviation(int channel, uint64_t index)
{
    return static_cast<int>(ElectrodeSample(channel, index)) - static_cast<int>(kADZero) - Wave(channel, index);
}

// The spike cut-outs whose first sample lies in [first, end) and whose last sample lies before `total`, in
// time order. Deflections start where (index + 37 * channel) is a multiple of the channel's spike period
// and last 25 samples; the detector fires at the first sample of one that falls below the threshold.
std::vector<kvdtest::SpikeRecord> DetectedSpikes(uint64_t first, uint64_t end, uint64_t total)
{
    constexpr uint64_t kDeflection = 25;
    std::vector<kvdtest::SpikeRecord> records;
    for (int c = 0; c < kElectrodes; ++c) {
        const uint64_t period = SpikePeriod(c);
        const uint64_t phase = (period - (37 * static_cast<uint64_t>(c)) % period) % period;
        // A crossing in [first + pre, end + pre) belongs to a deflection starting after first + pre - 25.
        const uint64_t lo = first + kSpikePreSamples + 1 > kDeflection ? first + kSpikePreSamples + 1 - kDeflection : 0;
        uint64_t onset = lo <= phase ? phase : phase + (lo - phase + period - 1) / period * period;
        for (; onset < end + kSpikePreSamples; onset += period) {
            for (uint64_t i = onset; i < onset + kDeflection; ++i) {
                if (Deviation(c, i) >= kSpikeThreshold) continue;
                if (i >= first + kSpikePreSamples && i < end + kSpikePreSamples && i + kSpikePostSamples <= total) {
                    kvdtest::SpikeRecord r;
                    r.time = StartTime() + (i - kSpikePreSamples) * kNsPerSample;
                    r.channel = static_cast<uint16_t>(c);
                    r.preEvent = kSpikePreSamples;
                    r.hwId = kElectrodeHardwareIds[c];
                    for (uint64_t j = i - kSpikePreSamples; j < i + kSpikePostSamples; ++j)
                        r.samples.push_back(static_cast<int16_t>(ElectrodeSample(c, j)));
                    records.push_back(std::move(r));
                }
                break;
            }
        }
    }
    std::sort(records.begin(), records.end(), [](const kvdtest::SpikeRecord& a, const kvdtest::SpikeRecord& b) {
        return a.time != b.time ? a.time < b.time : a.channel < b.channel;
    });
    return records;
}

// The averaged sweeps of the stimuli whose window ends in samples [first, end): every electrode's running
// average over the stimuli so far. `sums` and `count` carry the sums of the sweeps already averaged.
std::vector<kvdtest::AverageRecord> AveragedSweeps(uint64_t first, uint64_t end, std::vector<int64_t>& sums,
                                                   uint16_t& count)
{
    std::vector<kvdtest::AverageRecord> records;
    sums.resize(kElectrodes * kAverageWindow, 0);
    const uint64_t firstStimulus =
        first >= kAverageWindow ? (first - kAverageWindow + kStimulusPeriod) / kStimulusPeriod : 0;
    for (uint64_t s = firstStimulus * kStimulusPeriod; s + kAverageWindow < end; s += kStimulusPeriod) {
        if (s + kAverageWindow < first) continue;
        ++count;
        for (int c = 0; c < kElectrodes; ++c) {
            kvdtest::AverageRecord r;
            r.time = StartTime() + (s + kAverageWindow) * kNsPerSample;
            r.channel = static_cast<uint16_t>(c);
            r.hwId = kElectrodeHardwareIds[c];
            r.timeWindowCount = count;
            for (uint64_t j = 0; j < kAverageWindow; ++j) {
                int64_t& sum = sums[static_cast<std::size_t>(c) * kAverageWindow + j];
                sum += ElectrodeSample(c, s + j);
                r.samples.push_back(static_cast<int16_t>(static_cast<uint16_t>(sum / count)));
            }
            records.push_back(std::move(r));
        }
    }
    return records;
}

// The spike analyzer's records of `spikes`; `last` holds every channel's previous spike time (0: none).
std::vector<kvdtest::SpikeParameterRecord> SpikeParameters(const std::vector<kvdtest::SpikeRecord>& spikes,
                                                           std::vector<uint64_t>& last)
{
    last.resize(kElectrodes, 0);
    std::vector<kvdtest::SpikeParameterRecord> records;
    for (const kvdtest::SpikeRecord& spike : spikes) {
        uint64_t& previous = last[spike.channel];
        kvdtest::SpikeParameterRecord r;
        r.time = spike.time;
        r.channel = spike.channel;
        r.hwId = spike.hwId;
        r.unitId = spike.unitId;
        r.isi = previous ? spike.time - previous : 0;
        r.rate = r.isi ? static_cast<float>(1e9 / static_cast<double>(r.isi)) : 0.0f;
        r.timestamp = spike.time;
        previous = spike.time;
        records.push_back(r);
    }
    return records;
}

}  // namespace

void WriteSampleRecording(const std::string& path, const Options& options)
{
    if (!(options.seconds > 0.0) || options.seconds > 1e6) throw std::runtime_error("duration out of range");
    const uint64_t samples = static_cast<uint64_t>(options.seconds * kSampleRate);
    kvdtest::RecordingDesc rec = Describe(samples, options);
    if (options.storedLayout) StoreLayoutAndStimulator(rec);
    rec.withIndex = 1;  // the index position is filled in once the chunks are written

    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!f) throw std::runtime_error(std::strerror(errno));
    const std::vector<uint8_t> head = rec.EncodeHeaderSection();
    Append(f.get(), head);

    // The embedded index: an item for the first chunk and for every chunk at least 250,000 bytes after the
    // previous item; the digital stream (the last one with chunks) is gap-free, so there is one sweep.
    kvdtest::IndexDesc index;
    index.path = path;
    index.streamCount = static_cast<uint32_t>(rec.streams.size());
    uint64_t position = head.size();
    auto note = [&](const kvdtest::ChunkDesc& c) {
        if (index.items.empty() || position >= index.items.back().second + 250000)
            index.items.emplace_back(c.from, position);
        position += 32 + c.data.size();
    };

    kvdtest::ChunkDesc electrode;
    kvdtest::ChunkDesc digital;
    kvdtest::ChunkDesc trigger;
    kvdtest::ChunkDesc spikes;
    kvdtest::ChunkDesc filtered;
    kvdtest::ChunkDesc averaged;
    kvdtest::ChunkDesc spikeParameters;
    std::vector<int64_t> averageSums;
    uint16_t averageCount = 0;
    std::vector<uint64_t> lastSpike;
    averaged.id = "mean0001";
    spikeParameters.id = "sppa0001";
    electrode.id = "elec0001";
    filtered.id = "filt0001";
    digital.id = "digi0001";
    trigger.id = "trig0001";
    spikes.id = "spks0001";
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
        note(electrode);
        Append(f.get(), electrode.Encode());
        note(digital);
        Append(f.get(), digital.Encode());
        // The event streams cover the same span, with a chunk (possibly empty) for every block.
        trigger.from = spikes.from = electrode.from;
        trigger.to = spikes.to = electrode.to;
        trigger.data = kvdtest::EncodeTriggers(StimulusTriggers(first, first + n), kTriggerHeaderVersion);
        const std::vector<kvdtest::SpikeRecord> detected = DetectedSpikes(first, first + n, samples);
        spikes.data = kvdtest::EncodeSpikes(detected, kSpikeHeaderVersion);
        note(trigger);
        Append(f.get(), trigger.Encode());
        note(spikes);
        Append(f.get(), spikes.Encode());
        if (options.filterStream) {
            filtered.from = electrode.from;
            filtered.to = electrode.to;
            filtered.data.resize(n * kElectrodes * 2);
            uint8_t* out = filtered.data.data();
            for (uint64_t k = 0; k < n; ++k)
                for (int c = 0; c < kElectrodes; ++c, out += 2) {
                    const uint16_t v = FilteredSample(c, first + k);
                    out[0] = static_cast<uint8_t>(v);
                    out[1] = static_cast<uint8_t>(v >> 8);
                }
            note(filtered);
            Append(f.get(), filtered.Encode());
        }
        for (kvdtest::ChunkDesc* c : {&averaged, &spikeParameters}) {
            c->from = electrode.from;
            c->to = electrode.to;
        }
        if (options.averageStream) {
            averaged.data = kvdtest::EncodeRecords(AveragedSweeps(first, first + n, averageSums, averageCount),
                                                   kAverageHeaderVersion);
            note(averaged);
            Append(f.get(), averaged.Encode());
        }
        if (options.spikeParameterStream) {
            spikeParameters.data =
                kvdtest::EncodeRecords(SpikeParameters(detected, lastSpike), kSpikeParameterHeaderVersion);
            note(spikeParameters);
            Append(f.get(), spikeParameters.Encode());
        }
    }
    if (samples > 0) index.sweeps.emplace_back(StartTime(), StartTime() + samples * kNsPerSample);
    Append(f.get(), index.Encode());
    // "IDX1POS " closes the header section: its value is the section's last 8 bytes.
    uint8_t value[8];
    for (int i = 0; i < 8; ++i) value[i] = static_cast<uint8_t>(position >> (8 * i));
    if (fseeko(f.get(), static_cast<off_t>(head.size() - 8), SEEK_SET) != 0)
        throw std::runtime_error(std::strerror(errno));
    Append(f.get(), std::vector<uint8_t>(value, value + 8));
    if (std::fflush(f.get()) != 0) throw std::runtime_error(std::strerror(errno));
}

}  // namespace kvdsample
