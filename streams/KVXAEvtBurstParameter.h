// Event cursor over the records of a "bstparam" stream: per burst the values of the burst analyzer.
// Record layout (38 bytes):
//
//   offset 0  u64 time stamp
//   offset 8  u16 channel
//   offset 10 u16 hardware channel ID
//   offset 12 u16 unit ID
//   offset 14 u64 time stamp of the burst
//   offset 22 u64 parameter 0 "Marker"
//   offset 30 i32 parameter 2 "Spike Number"
//   offset 34 f32 parameter 1 "Spike Frequency"
#pragma once

#include <cstdint>

#include "streams/KVXAEvtUnitRecord.h"

class CKVXAEvtBurstParameter : public CKVXAEvtUnitRecord {
public:
    // The value of a parameter number the records do not hold (see CKVXAEvtSpikeParameter::kNoValue).
    static constexpr float kNoValue = 3.40282347e38f;
    static constexpr int32_t kRecordLength = 38;

    CKVXAEvtBurstParameter() = default;
    CKVXAEvtBurstParameter& operator=(const CKVXAEvtBurstParameter& other)
    {
        CKVXAEvtUnitRecord::operator=(other);
        return *this;
    }

    // Bytes after the record's first 14.
    int32_t GetSize() const override { return kRecordLength - 14; }

    uint64_t GetTimestampOfBurst() const;
    // Parameter 0: the stored u64 as f32; 1: the stored f32; 2: the stored i32 as f32; kNoValue for any
    // other number.
    float Parameter(uint32_t number) const;

protected:
    int32_t RecordLengthAt(int32_t offset) const override { return FixedRecordLengthAt(offset, kRecordLength); }
};
