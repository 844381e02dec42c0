// What the records of spike-parameter and burst-parameter streams share: after the u64 time stamp, the
// channel (u16 at 8), the hardware channel ID (u16 at 10) and the sorted unit's ID (u16 at 12).
#pragma once

#include <cstdint>

#include "io/ByteOrder.h"
#include "streams/KVXAEvent.h"

class CKVXAEvtUnitRecord : public CKVXAEvent {
public:
    bool Read() override { return ReadFirstRecord(); }
    bool ReadNext() override { return ReadFollowingRecord(); }

    uint16_t GetChannel() const { return Field(8); }
    uint16_t GetHWID() const { return Field(10); }
    uint16_t GetUnitId() const { return Field(12); }

protected:
    CKVXAEvtUnitRecord() = default;
    CKVXAEvtUnitRecord& operator=(const CKVXAEvtUnitRecord& other) = default;

    // The current record when it lies wholly inside the chunk.
    const uint8_t* Record() const { return RecordLengthAt(m_lOffset) ? CurrentRecord() : nullptr; }

private:
    uint16_t Field(int32_t at) const
    {
        const uint8_t* record = Record();
        return record ? kvd::LoadU16(record + at) : 0;
    }
};
