// Settings of one trigger detector: the level, slope and channel it watched, its dead time, the digital
// pattern or analyzer parameter it matched, and whether its events carry trial and stimulus numbers.
// Decoded from the format-private bytes of trigger streams and from the detector list of old spike streams.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "settings/KVStreamProperty.h"

class CMSettingsReader;

class CMMEATriggerProperty : public CMCloneObject {
public:
    // Number of numeric words at the start of a record (dead time ... word 14).
    static constexpr int kWordCount = 14;
    // Largest number of detector records an old spike block may list.
    static constexpr uint32_t kMaxSpikeRecords = 128;
    // End offset of ReadSpikeFormatInfo that means "no bound".
    static constexpr uint32_t kNoBound = 0xFFFFFFFFu;
    // Channel value of a manual trigger.
    static constexpr int32_t kManualTriggerChannel = -3;

    CMMEATriggerProperty();
    CMMEATriggerProperty(const CMMEATriggerProperty&) = default;
    CMMEATriggerProperty& operator=(const CMMEATriggerProperty&) = default;
    ~CMMEATriggerProperty() override = default;
    CMCloneObject* Clone() const override { return new CMMEATriggerProperty(*this); }

    // Decodes one detector record of block version `version` into this object. The parameter-trigger
    // section depends on the writer's software major version: the value given, or, in the overloads
    // without one, the process-wide value set by the last OpenFile (kept for callers outside the library;
    // the library passes the version of the block's own file, which stays right with several files open).
    // False when the bytes end before the record does; the fields read up to that point keep their new
    // values.
    bool ReadTriggerFormatInfo(CMSettingsReader& in, uint16_t version);
    bool ReadTriggerFormatInfo(CMSettingsReader& in, uint16_t version, int32_t softwareVersionMajor);

    // Reads the detector list of an old spike block (block version `version`): a record count, the records
    // and three values P, Q, R. `endOffset` bounds the reader's position (kNoBound: none). False when the
    // count exceeds kMaxSpikeRecords, a record cannot be read or the position passes the bound; records
    // read before stay in `records`. Version 0 reads nothing and leaves P, Q and R as given.
    static bool ReadSpikeFormatInfo(CMSettingsReader& in, uint32_t endOffset, uint16_t version,
                                    std::vector<std::unique_ptr<CMMEATriggerProperty>>& records, uint32_t& P,
                                    uint32_t& Q, uint32_t& R);
    static bool ReadSpikeFormatInfo(CMSettingsReader& in, uint32_t endOffset, uint16_t version,
                                    std::vector<std::unique_ptr<CMMEATriggerProperty>>& records, uint32_t& P,
                                    uint32_t& Q, uint32_t& R, int32_t softwareVersionMajor);

    // Word k of the record, k from 1 to 14; 0 outside.
    int32_t GetWord(int k) const { return k >= 1 && k <= kWordCount ? m_alWord[k - 1] : 0; }
    void SetWord(int k, int32_t v)
    {
        if (k >= 1 && k <= kWordCount) m_alWord[k - 1] = v;
    }

    int32_t GetDeadTime() const { return m_alWord[0]; }
    int32_t GetLevel() const { return m_alWord[4]; }
    int32_t GetSlope() const { return m_alWord[6]; }
    int32_t GetChannel() const { return m_alWord[7]; }
    int32_t GetTriggeredStreamId() const { return m_alWord[8]; }
    bool IsDigitalTrigger() const { return m_bDigitalTrigger; }
    int32_t GetDigitalTriggerValue() const { return m_lDigitalTriggerValue; }
    int32_t GetDigitalTriggerType() const { return m_lDigitalTriggerType; }
    int32_t GetDigitalTriggerMask() const { return m_lDigitalTriggerMask; }
    const std::string& GetInputBufferID() const { return m_strInputBufferID; }
    bool IsParameterTrigger() const { return m_bParameterTrigger; }
    int32_t GetParameterWord() const { return m_lParameterWord; }
    bool GetTrialSynchronization() const { return m_bTrialSynchronization; }
    const std::string& GetParameter() const { return m_strParameter; }
    const std::string& GetParameterUnit() const { return m_strParameterUnit; }

private:
    bool ReadImage(CMSettingsReader& in);

    int32_t m_alWord[kWordCount];
    bool m_bDigitalTrigger = false;
    int32_t m_lDigitalTriggerValue = 1;
    int32_t m_lDigitalTriggerType = 1;
    std::string m_strInputBufferID;
    int32_t m_lDigitalTriggerMask = 1;
    bool m_bParameterTrigger = false;
    int32_t m_lParameterWord = -1;
    bool m_bTrialSynchronization = false;
    std::string m_strParameter;
    std::string m_strParameterUnit;
};
