// Writes small recordings of every stream kind and header version as a starting corpus for kvd_fuzz.
#include <cstdio>
#include <string>

#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"
#include "tests/support/SettingsBlocks.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvd_fuzz_seeds CORPUS_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    int n = 0;
    for (uint16_t version : {0, 4, 7, 11}) {
        for (int mode = 0; mode < 2; ++mode) {
            kvdtest::RecordingDesc rec;
            rec.version = version;
            rec.streams = {kvdtest::ElectrodeStream(2), kvdtest::DigitalStream(), kvdtest::TriggerStream(),
                           kvdtest::SpikeStream(2, version >= 5 ? 8 : 4)};
            kvdtest::TriggerSettingsDesc settings;
            rec.streams[2].formatPrivate = kvdtest::TriggerSettingsBlock(settings, 6, true);
            rec.stopTime = rec.startTime + 20 * 1000000ULL;
            if (mode == 1) {
                rec.recordingMode = 1;
                rec.startTriggerBufferId = "trig0001";
                kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 200}, {rec.startTime + 50000000, 200}}, 100);
            } else {
                kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 500}}, 100);
            }
            kvdtest::ChunkDesc trig;
            trig.id = "trig0001";
            trig.from = rec.startTime;
            trig.to = rec.startTime + 20000000;
            trig.data = kvdtest::EncodeTriggers({{rec.startTime + 1000000, 5, 1, 2, 3}}, version >= 5 ? 6 : 4);
            rec.chunks.push_back(trig);
            kvdtest::SpikeRecord spike;
            spike.time = rec.startTime + 2000000;
            spike.channel = 1;
            spike.samples.assign(6, 7);
            kvdtest::ChunkDesc spikes;
            spikes.id = "spks0001";
            spikes.from = rec.startTime;
            spikes.to = rec.startTime + 20000000;
            spikes.data = kvdtest::EncodeSpikes({spike, spike}, version >= 5 ? 8 : 4);
            rec.chunks.push_back(spikes);
            if (version >= 3) kvdtest::AttachIndex(rec);
            rec.WriteTo(dir + "/seed" + std::to_string(n++) + ".kvd");
        }
    }
    // Every settings block kind, each block version of filter and spike blocks once.
    for (uint16_t v = 0; v <= 8; ++v) {
        kvdtest::RecordingDesc rec;
        kvdtest::StreamDesc spikes = kvdtest::SpikeStream(2, v);
        spikes.formatPrivate = v > 4 ? kvdtest::SpikeSettingsBlock(kvdtest::ThresholdDetector(2, -0.00004f, {1}), v)
                                     : kvdtest::OldSpikeSettingsBlock(kvdtest::OldSpikeListDesc(), v, true);
        rec.streams = {kvdtest::FilterStream(2, {}, v), spikes, kvdtest::ChannelToolStream(1),
                       kvdtest::AverageStream(1)};
        rec.WriteTo(dir + "/seed" + std::to_string(n++) + ".kvd");
    }
    return 0;
}
