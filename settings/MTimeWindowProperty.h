// The time window that analyzers and averaging use to select a stretch of data after a trigger: a choice
// code, two times and the triggers that open and close the window.
#pragma once

#include <cstdint>
#include <string>

#include "settings/KVStreamProperty.h"

class CMSettingsReader;

class CMTimeWindowProperty : public CMCloneObject {
public:
    static constexpr float kDefaultTime = 1000.0f;
    static constexpr uint16_t kNoTrigger = 0xFFFF;

    CMTimeWindowProperty() = default;
    CMTimeWindowProperty(const CMTimeWindowProperty&) = default;
    CMTimeWindowProperty& operator=(const CMTimeWindowProperty&) = default;
    ~CMTimeWindowProperty() override = default;
    CMCloneObject* Clone() const override { return new CMTimeWindowProperty(*this); }

    // Reads the time-window section of an analyzer block of version `version`: the numbers from version 2
    // on, the two trigger names from version 4 on; older versions leave the fields as they are. False when
    // the section runs past the end of the bytes.
    bool ReadTimeWindowFormatInfo(CMSettingsReader& in, uint16_t version);
    // Restores every default.
    void Reset() { *this = CMTimeWindowProperty(); }

    int32_t GetChoice() const { return m_iChoice; }
    void SetChoice(int32_t choice) { m_iChoice = choice; }
    float GetTime1() const { return m_fTime1; }
    void SetTime1(float t) { m_fTime1 = t; }
    float GetTime2() const { return m_fTime2; }
    void SetTime2(float t) { m_fTime2 = t; }
    uint16_t GetStartTriggerID() const { return m_wStartTriggerID; }
    void SetStartTriggerID(uint16_t id) { m_wStartTriggerID = id; }
    uint16_t GetStopTriggerID() const { return m_wStopTriggerID; }
    void SetStopTriggerID(uint16_t id) { m_wStopTriggerID = id; }
    const std::string& GetFirstTriggerName() const { return m_strFirstTriggerName; }
    void SetFirstTriggerName(const std::string& name) { m_strFirstTriggerName = name; }
    const std::string& GetSecondTriggerName() const { return m_strSecondTriggerName; }
    void SetSecondTriggerName(const std::string& name) { m_strSecondTriggerName = name; }

private:
    int32_t m_iChoice = 0;
    float m_fTime1 = kDefaultTime;
    float m_fTime2 = kDefaultTime;
    uint16_t m_wStartTriggerID = kNoTrigger;
    uint16_t m_wStopTriggerID = kNoTrigger;
    std::string m_strFirstTriggerName;
    std::string m_strSecondTriggerName;
};
