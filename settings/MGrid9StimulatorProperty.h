// Settings of the three stimulus generators, stored in the file header.
#pragma once

#include <cstdio>

class CMGrid9StimulatorProperty {
public:
    virtual ~CMGrid9StimulatorProperty() = default;
    // Reads a "STIMG9  " chunk at the current position.
    bool ReadProperty(FILE* file);
};
