// Information block of a trigger stream: the settings of the trigger detector that produced its events.
#pragma once

#include <cstdint>

#include "settings/KVXAInfo.h"
#include "settings/MMEATriggerProperty.h"

class CMSettingsReader;

class CKVXAInfoTrigger : public CKVXAInfo {
public:
    CKVXAInfoTrigger() = default;
    ~CKVXAInfoTrigger() override = default;

    // Decodes the detector record that follows the block's tag; false when the bytes end early.
    bool ReadTriggerFormatInfo(CMSettingsReader& in, uint16_t version, int32_t softwareVersionMajor)
    {
        return m_TriggerProperty.ReadTriggerFormatInfo(in, version, softwareVersionMajor);
    }

    // Trigger channel (hardware ID); CMMEATriggerProperty::kManualTriggerChannel (-3) for a manual trigger.
    int32_t GetChannel() const { return m_TriggerProperty.GetChannel(); }
    int32_t GetDeadTime() const { return m_TriggerProperty.GetDeadTime(); }
    // The level in microvolts (stored in tenths), truncated toward zero.
    int32_t GetLevel() const { return m_TriggerProperty.GetLevel() / 10; }
    // Its sign gives the direction of the edge.
    int32_t GetSlope() const { return m_TriggerProperty.GetSlope(); }
    int32_t GetTriggeredStreamId() const { return m_TriggerProperty.GetTriggeredStreamId(); }
    const char* GetInputBufferID() const { return m_TriggerProperty.GetInputBufferID().c_str(); }
    bool IsDigitalTrigger() const { return m_TriggerProperty.IsDigitalTrigger(); }
    int32_t GetDigitalTriggerValue() const { return m_TriggerProperty.GetDigitalTriggerValue(); }
    int32_t GetDigitalTriggerMask() const { return m_TriggerProperty.GetDigitalTriggerMask(); }
    int32_t GetDigitalTriggerType() const { return m_TriggerProperty.GetDigitalTriggerType(); }
    bool IsParameterTrigger() const { return m_TriggerProperty.IsParameterTrigger(); }
    const char* GetParameter() const { return m_TriggerProperty.GetParameter().c_str(); }
    const char* GetParameterUnit() const { return m_TriggerProperty.GetParameterUnit().c_str(); }
    // When set, every trigger record carries a trial number and a stimulus number.
    bool TrialSynchronization() const { return m_TriggerProperty.GetTrialSynchronization(); }

    const CMMEATriggerProperty& GetTriggerProperty() const { return m_TriggerProperty; }

private:
    CMMEATriggerProperty m_TriggerProperty;
};
