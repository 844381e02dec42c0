#include "streams/KVXAEvtBurstParameter.h"

#include "io/ByteOrder.h"

uint64_t CKVXAEvtBurstParameter::GetTimestampOfBurst() const
{
    const uint8_t* record = Record();
    return record ? kvd::LoadU64(record + 14) : 0;
}

float CKVXAEvtBurstParameter::Parameter(uint32_t number) const
{
    const uint8_t* record = Record();
    if (!record) return kNoValue;
    switch (number) {
    case 0: return static_cast<float>(kvd::LoadU64(record + 22));
    case 1: return kvd::LoadF32(record + 34);
    case 2: return static_cast<float>(kvd::LoadI32(record + 30));
    default: return kNoValue;
    }
}
