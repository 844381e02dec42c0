// Event cursor over the records of a "trigger" stream: per trigger event its time and the value that
// caused it and, from later header versions on, the manual trigger count and the trial and stimulus
// numbers. Record layout (H: stream header version):
//
//   offset 0  u64 time stamp
//   offset 8  u16 AD value
//   offset 10 i32 manual trigger count   (H >= 5)
//   offset 14 i32 trial number           (H >= 6)
//   offset 18 i32 stimulus number        (H >= 6)
//
// Records are 10, 14 or 22 bytes; fields a record lacks read as 0.
#pragma once

#include <cstdint>

#include "streams/KVXAEvent.h"

class CKVXAEvtTrigger : public CKVXAEvent {
public:
    CKVXAEvtTrigger() = default;
    // Copies the position and data (see CKVXAEvent) and the fields of the current record.
    CKVXAEvtTrigger& operator=(const CKVXAEvtTrigger& other);

    bool Read() override { return ReadFirstRecord(); }
    bool ReadNext() override { return ReadFollowingRecord(); }
    // Bytes of a record after its time stamp: 2, 6 or 14 by header version.
    int32_t GetSize() const override;

    uint16_t GetADData() const { return m_wADData; }
    int32_t GetManualTriggerCount() const { return m_lManualTriggerCount; }
    int32_t GetTrialNumber() const { return m_lTrialNumber; }
    int32_t GetStimulusNumber() const { return m_lStimulusNumber; }

    // Copies the fields of the record at m_lOffset into the members and takes its time stamp.
    void ReadMem();

protected:
    int32_t RecordLengthAt(int32_t offset) const override;
    void DecodeRecord() override { ReadMem(); }

private:
    uint16_t m_wADData = 0;
    int32_t m_lManualTriggerCount = 0;
    int32_t m_lTrialNumber = 0;
    int32_t m_lStimulusNumber = 0;
};
