// Event cursor over the records of an "average" stream: per averaged sweep its time, channel, the number of
// time windows averaged and the averaged samples. Record layout (H: stream header version):
//
//   field                   H <= 4   H >= 5
//   time stamp u64             0        0
//   channel u16                8        8
//   hardware ID u16            -       10     (0xFFFF when absent)
//   time-window count u16     10       12
//   sample count n u32        12       14     (below 2^31 - 1)
//   samples n x i16           16       18
#pragma once

#include <cstdint>

#include "streams/KVXAEvent.h"

class CKVXAEvtAverage : public CKVXAEvent {
public:
    // Hardware ID of the records of header versions that do not store one.
    static constexpr uint16_t kDefaultHWID = 0xFFFF;

    CKVXAEvtAverage() = default;
    // Copies the position and data (see CKVXAEvent) and points at the same record.
    CKVXAEvtAverage& operator=(const CKVXAEvtAverage& other);

    bool Read() override { return ReadFirstRecord(); }
    bool ReadNext() override { return ReadFollowingRecord(); }
    // Bytes of the current record's samples (2 x count).
    int32_t GetSize() const override { return 2 * GetCount(); }

    int32_t GetCount() const;
    uint16_t GetTimeWindowCount() const;
    uint16_t GetChannel() const;
    uint16_t GetHWID() const;
    // Sample `index` as an unsigned 16-bit word; 0 outside 0 ... count - 1.
    uint16_t GetADData(int32_t index) const;
    // Copies the count samples of the record into `destination`, which must hold GetCount() values.
    bool GetADDataArray(int16_t* destination) const;

    // Points at the record at m_lOffset.
    void SetMemberPointers() { m_pRecord = CurrentRecord(); }

protected:
    int32_t RecordLengthAt(int32_t offset) const override;
    void DecodeRecord() override { SetMemberPointers(); }

private:
    // True for header versions that store the hardware ID (and shift the later fields by 2 bytes).
    bool HasHWID() const;
    int32_t SamplesOffset() const { return HasHWID() ? 18 : 16; }

    const uint8_t* m_pRecord = nullptr;
};
