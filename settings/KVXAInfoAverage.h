// Information block of an averaged-sweep stream: the trigger whose sweeps are averaged and the window.
#pragma once

#include <cstdint>

#include "settings/KVXAInfo.h"
#include "settings/MEvokedProperty.h"

class CMSettingsReader;

class CKVXAInfoAverage : public CKVXAInfo {
public:
    CKVXAInfoAverage() = default;
    ~CKVXAInfoAverage() override = default;

    // Decodes the settings that follow the block's tag, at most `budget` bytes; false when they do not fit.
    bool ReadEvokedFormatInfo(CMSettingsReader& in, uint32_t budget, uint16_t version)
    {
        return CMEvokedProperty::ReadEvokedFormatInfo(in, budget, version, m_EvokedProperty);
    }

    const char* GetTriggerBufferID() const { return m_EvokedProperty.GetTriggerBufferID().c_str(); }
    // Start of the window after the trigger, and its extent (the window's two times).
    double GetTimeWindowStartTime() const { return m_EvokedProperty.GetTimeWindow().GetTime1(); }
    double GetTimeWindowWindowExtend() const { return m_EvokedProperty.GetTimeWindow().GetTime2(); }
    int32_t GetMaxTimeWindowCount() const { return m_EvokedProperty.GetMaxTimeWindowCount(); }

    const CMEvokedProperty& GetEvokedProperty() const { return m_EvokedProperty; }

private:
    CMEvokedProperty m_EvokedProperty;
};
