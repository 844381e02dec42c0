// A recording with an entity of every kind, for tests that read everything and as a fuzzing seed.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/RecordingBuilder.h"

namespace kvdtest {

// Two electrodes and a digital channel (analog entities, and 16 bit event entities of the digital
// channel), a trigger stream (an event entity) and a spike stream of two channels (segment entities); a
// triggered recording adds a segment entity per channel holding its sweeps. `scale` multiplies the
// samples, sweeps, triggers and spikes: 500 samples, 2 sweeps, 1 trigger and 2 spikes at scale 1.
RecordingDesc EveryKindRecording(uint16_t version, bool triggered, uint32_t scale = 1);

// A triggered recording at 10 kHz: a trigger stream, an electrode stream of two channels and a digital
// stream, with sweeps of the given lengths (in samples) starting at 1 s, 5 s, 9 s ... and an index.
RecordingDesc TriggeredRecording(const std::vector<uint64_t>& sweepLengths);

}  // namespace kvdtest
