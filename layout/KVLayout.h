// Electrode layout of a recording.
#pragma once

#include <cstdint>
#include <cstdio>

enum MeaSourceType : int32_t { MEA_LINEAR = 0, MEA_60 = 1, MEA_DUAL = 2, MEA_FROM_FILE = 3 };

class CKVLayout {
public:
    virtual ~CKVLayout() = default;
    // Reads a "LAYOUT  " chunk at the current position; false when it is not one this reader knows.
    bool ReadLayout(FILE* file);
    // Builds the standard layout of a source type when the layout does not already hold it.
    void InitLayoutIfNeeded(MeaSourceType type, uint32_t total, uint32_t electrodes, uint32_t analog,
                            uint32_t digital, bool flag);
};
