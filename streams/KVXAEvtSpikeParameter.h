// Event cursor over the records of a "spkparam" stream: per spike the values of the spike analyzer.
// Record layout (H: stream header version):
//
//   offset 0  u64 time stamp
//   offset 8  u16 channel
//   offset 10 u16 hardware channel ID
//   offset 12 u16 unit ID
//   offset 14 u64 parameter 0 "ISI"
//   offset 22 f32 parameter 1 "Rate"
//   offset 26 u64 parameter 2 "Timestamp" (H >= 2)
//
// Records are 26 bytes (H < 2) or 34 bytes long.
#pragma once

#include <cstdint>

#include "streams/KVXAEvtUnitRecord.h"

class CKVXAEvtSpikeParameter : public CKVXAEvtUnitRecord {
public:
    // The value of a parameter that a record does not hold: the largest f32, which marks a parameter
    // without a value throughout the analyzer settings.
    static constexpr float kNoValue = 3.40282347e38f;

    CKVXAEvtSpikeParameter() = default;
    CKVXAEvtSpikeParameter& operator=(const CKVXAEvtSpikeParameter& other)
    {
        CKVXAEvtUnitRecord::operator=(other);
        return *this;
    }

    // Bytes after the record's first 14: 12 (H < 2) or 20.
    int32_t GetSize() const override;

    // Parameter 0: the stored u64 as f32. 1: the stored f32. 2 (H >= 2): the spike's time since the
    // recording start in nanoseconds, the stored u64 less the start, exact and signed, rounded to f32
    // once. kNoValue for any other number and for 2 when the record does not hold it.
    float Parameter(uint32_t number) const;

protected:
    int32_t RecordLengthAt(int32_t offset) const override { return FixedRecordLengthAt(offset, 14 + GetSize()); }
};
