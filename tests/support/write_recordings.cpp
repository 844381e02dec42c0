// kvd_write_recordings DIR: writes the builder's recordings of every kind into DIR, for the tests of hosts
// outside C++ (the Python package):
//   continuous.kvd  electrodes, a digital channel, a trigger and a spike stream (continuous)
//   triggered.kvd   the same recorded in six sweeps
//   sweeps.kvd      sweeps of three lengths at 10 kHz
//   streams.kvd     a stored layout; electrodes, a filter stream at a fifth of the rate, a channel tool,
//                   a digital stream of two channels whose bits change often, averaged sweeps and spike
//                   parameters (streams without frames)
#include <cstdio>
#include <exception>
#include <string>

#include "tests/support/EventRecords.h"
#include "tests/support/EveryKindRecording.h"
#include "tests/support/LayoutChunkBuilder.h"
#include "tests/support/SettingsBlocks.h"

namespace {

using namespace kvdtest;

RecordingDesc Streams()
{
    constexpr uint64_t kMs = 1000000ULL;
    RecordingDesc rec;
    rec.sourceType = 3;
    rec.electrodeChannels = 16, rec.analogChannels = 2, rec.digitalChannels = 1, rec.totalChannels = 19;
    rec.layoutChunk = GridLayout(16, 2).Encode();
    StreamDesc digital = DigitalStream();
    ChannelDesc second = digital.channels[0];
    second.name = "D2", second.id = 1, second.hwId = 61;
    digital.channels.push_back(second);
    StreamDesc filter = FilterStream(3);
    filter.millisamplesPerSecond = 5000000;  // a fifth of the recording's rate
    rec.streams = {ElectrodeStream(3), filter, ChannelToolStream(2), digital};
    rec.streams.push_back(AverageStream(3));
    rec.streams.push_back(SpikeParameterStream(3));
    rec.stopTime = rec.startTime + 40 * kMs;
    AddSampleChunks(rec, {0, 2, 3}, {{rec.startTime, 1000}}, 128);
    AddSampleChunks(rec, {1}, {{rec.startTime, 200}}, 64);
    const auto events = [&](const StreamDesc& s, std::vector<uint8_t> data) {
        rec.chunks.push_back({s.bufferId, rec.startTime, rec.stopTime, std::move(data), {}});
    };
    AverageRecord average;
    average.time = rec.startTime + 12 * kMs;
    average.channel = 1;
    average.samples = {1, 2, 3};
    events(rec.streams[4], EncodeRecords(std::vector<AverageRecord>{average}, rec.streams[4].headerVersion));
    SpikeParameterRecord parameters;
    parameters.time = rec.startTime + 5 * kMs;
    events(rec.streams[5], EncodeRecords(std::vector<SpikeParameterRecord>{parameters}, 2));
    AttachIndex(rec);
    return rec;
}

// The recording of every kind in six sweeps of 200 frames, 10 ms apart, each sweep in the index.
RecordingDesc Triggered()
{
    RecordingDesc rec = EveryKindRecording(11, true, 3);
    rec.index->sweeps.clear();
    for (uint64_t k = 0; k < 6; ++k)
        rec.index->sweeps.emplace_back(rec.startTime + k * 10000000ULL, rec.startTime + k * 10000000ULL + 8000000ULL);
    return rec;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvd_write_recordings DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    try {
        EveryKindRecording(11, false, 4).WriteTo(dir + "/continuous.kvd");
        Triggered().WriteTo(dir + "/triggered.kvd");
        Streams().WriteTo(dir + "/streams.kvd");
        TriggeredRecording({300, 120, 450}).WriteTo(dir + "/sweeps.kvd");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvd_write_recordings: %s\n", e.what());
        return 1;
    }
    return 0;
}
