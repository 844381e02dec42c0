// A recording with an entity of every kind, for tests that read everything and as a fuzzing seed.
#pragma once

#include <cstdint>

#include "tests/support/RecordingBuilder.h"

namespace kvdtest {

// Two electrodes and a digital channel (analog entities, and 16 bit event entities of the digital
// channel), a trigger stream (an event entity) and a spike stream of two channels (segment entities); a
// triggered recording adds a segment entity per channel holding its sweeps. `scale` multiplies the
// samples, sweeps, triggers and spikes: 500 samples, 2 sweeps, 1 trigger and 2 spikes at scale 1.
RecordingDesc EveryKindRecording(uint16_t version, bool triggered, uint32_t scale = 1);

}  // namespace kvdtest
