// Settings of an averaged-sweep ("average") stream: the trigger whose sweeps are averaged and the time
// window cut out after each trigger.
#pragma once

#include <cstdint>
#include <string>

#include "settings/KVStreamProperty.h"
#include "settings/MTimeWindowProperty.h"

class CMSettingsReader;

class CMEvokedProperty : public CMCloneObject {
public:
    // Byte budget of ReadEvokedFormatInfo that means "no bound".
    static constexpr uint32_t kNoBudget = 0xFFFFFFFFu;

    CMEvokedProperty() = default;
    CMEvokedProperty(const CMEvokedProperty&) = default;
    CMEvokedProperty& operator=(const CMEvokedProperty&) = default;
    ~CMEvokedProperty() override = default;
    CMCloneObject* Clone() const override { return new CMEvokedProperty(*this); }

    // Decodes the settings block of an average stream (after its tag) into `target`. Reading stops with
    // false as soon as the position passes `budget` bytes from where it started, or the bytes end; `target`
    // is then left as it was. The block version is not consulted: the layout has a single form.
    static bool ReadEvokedFormatInfo(CMSettingsReader& in, uint32_t budget, uint16_t version, CMEvokedProperty& target);

    const CMTimeWindowProperty& GetTimeWindow() const { return m_TimeWindow; }
    CMTimeWindowProperty& GetTimeWindow() { return m_TimeWindow; }
    uint16_t GetMaxTimeWindowCount() const { return m_wMaxTimeWindowCount; }
    void SetMaxTimeWindowCount(uint16_t count) { m_wMaxTimeWindowCount = count; }
    uint32_t GetEvokedWord() const { return m_dwEvokedWord; }
    void SetEvokedWord(uint32_t word) { m_dwEvokedWord = word; }
    const std::string& GetTriggerBufferID() const { return m_strTriggerBufferID; }
    void SetTriggerBufferID(const std::string& id) { m_strTriggerBufferID = id; }

private:
    CMTimeWindowProperty m_TimeWindow;
    uint16_t m_wMaxTimeWindowCount = 0;
    uint32_t m_dwEvokedWord = 0;
    std::string m_strTriggerBufferID;
};
