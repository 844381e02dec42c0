// Event cursor over the records of a "spikes" stream: per detected spike its time, channel, sorted unit,
// hardware channel and a cut-out of raw samples. The record layout depends on the stream header version:
//
//   field              H <= 4   H = 5   H = 6, 7   H >= 8
//   time stamp u64        0       0        0          0
//   channel u16           8       8        8          8
//   pre-event            10      10       10         10    (u16; u32 from H = 8)
//   unit ID u16           -      12       12         14
//   hardware ID u16       -       -       14         16
//   sample count i32     12      14       16         18
//   samples n x i16      16      18       20         22
#pragma once

#include <cstdint>

#include "streams/KVXAEvent.h"

class CKVXAEvtSpike : public CKVXAEvent {
public:
    // Values of the fields that a record of an old header version lacks.
    static constexpr uint16_t kDefaultUnitID = 0;
    static constexpr uint16_t kDefaultHWID = 0xFFFF;

    CKVXAEvtSpike() = default;
    // Copies the position and data (see CKVXAEvent) and points at the same record.
    CKVXAEvtSpike& operator=(const CKVXAEvtSpike& other);

    bool Read() override { return ReadFirstRecord(); }
    bool ReadNext() override { return ReadFollowingRecord(); }
    // Bytes of the current record's samples (2 x count).
    int32_t GetSize() const override { return 2 * GetCount(); }

    int32_t GetCount() const;
    uint32_t GetPreEvent() const;
    uint16_t GetChannel() const;
    uint16_t GetUnitID() const;
    uint16_t GetHWID() const;
    // Sample `index` as an unsigned 16-bit word; 0 outside 0 ... count - 1.
    uint16_t GetADData(int32_t index) const;
    // Copies the count samples of the record into `destination`, which must hold GetCount() values.
    bool GetADDataArray(int16_t* destination) const;

    // Points at the record at m_lOffset, by the stream's header version.
    void SetMemberPointers();
    // Advances m_lOffsetNext past the current record.
    void CalcOffsetNext() { m_lOffsetNext += FixedLength() + GetSize(); }

protected:
    int32_t RecordLengthAt(int32_t offset) const override;
    void DecodeRecord() override { SetMemberPointers(); }

private:
    int32_t HeaderVersion() const;
    // Length of the record's fixed part (before the samples) for the stream's header version.
    int32_t FixedLength() const;

    const uint8_t* m_pRecord = nullptr;
};
