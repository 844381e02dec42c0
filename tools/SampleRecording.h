// The sample recording: a 60-electrode array (source type 1) at 25 kHz with one digital channel, a
// trigger stream and a spike stream, optionally a filter stream, filled with deterministic signals. Every sample value
// is a pure function of its channel and index, so that tests and hosts can check what they read.
#pragma once

#include <cstdint>
#include <string>

namespace kvdsample {

constexpr int kElectrodes = 60;
constexpr uint32_t kSampleRate = 25000;      // samples per second
constexpr uint32_t kSamplesPerChunk = 3200;  // 128 ms of samples per data chunk
constexpr uint16_t kADZero = 32768;
constexpr double kVoltsPerAD = 1.25e-7;            // 0.125 microvolt per step
constexpr uint64_t kStimulusPeriod = kSampleRate;  // one stimulus a second ...
constexpr uint64_t kStimulusLength = 250;          // ... that holds digital bit 0 for 10 ms
// The spike detector of the sample: a cut-out of kSpikePreSamples before and kSpikePostSamples from the
// sample at which an electrode signal, less its slow oscillation, first falls below kSpikeThreshold steps.
// A record's time stamp is the time of the cut-out's first sample.
constexpr int kSpikeThreshold = -350;
constexpr uint32_t kSpikePreSamples = 25;
constexpr uint32_t kSpikePostSamples = 50;
// Header versions of the event streams: trigger records of 22 bytes, spike records with a 22-byte head.
constexpr uint16_t kTriggerHeaderVersion = 6;
constexpr uint16_t kSpikeHeaderVersion = 8;

struct Options {
    double seconds = 10.0;
    // Source type 3: the layout of the electrodes stored in the file, plus a stimulator chunk.
    bool storedLayout = false;
    // A filter stream ("filt0001"): the electrode signals through a 300 Hz high-pass filter, which removes
    // their slow oscillation.
    bool filterStream = false;
    // The settings of the spike detector in the spike stream: a threshold detector of kSpikeThreshold steps
    // on the electrodes (on the filter stream when there is one), with the sample's cut-out window.
    bool detectorSettings = false;
    // An averaged-sweep stream ("mean0001"): after every stimulus, per electrode the running average of
    // the kAverageWindow samples that follow each stimulus so far.
    bool averageStream = false;
    // A spike-parameter stream ("sppa0001"): per detected spike its interval since the channel's previous
    // spike (ns; 0 for the first), the rate that interval gives (Hz) and its time stamp.
    bool spikeParameterStream = false;
};

// Samples of an averaged sweep, from the stimulus on; an averaged sweep's record lies at the time of the
// sample after its window.
constexpr uint64_t kAverageWindow = 250;
constexpr uint16_t kAverageHeaderVersion = 5;
constexpr uint16_t kSpikeParameterHeaderVersion = 2;

// Raw 16-bit word of electrode channel `channel` (0 ... 59) at sample `index`.
uint16_t ElectrodeSample(int channel, uint64_t index);
// Raw 16-bit word of channel `channel` of the filter stream at sample `index`.
uint16_t FilteredSample(int channel, uint64_t index);
// Raw 16-bit word of the digital channel at sample `index`.
uint16_t DigitalSample(uint64_t index);
// Time stamp (ns since 1601) of the recording's start.
uint64_t StartTime();

// Writes the sample recording to `path`; on failure throws std::runtime_error with the reason (the
// caller names the file).
void WriteSampleRecording(const std::string& path, const Options& options);

}  // namespace kvdsample
