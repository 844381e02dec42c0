#include "streams/KVXAEvtSpikeParameter.h"

#include "io/ByteOrder.h"
#include "streams/KVXAStream.h"

int32_t CKVXAEvtSpikeParameter::GetSize() const
{
    return m_pStreamImp && m_pStreamImp->GetHeaderVersion() >= 2 ? 20 : 12;
}

float CKVXAEvtSpikeParameter::Parameter(uint32_t number) const
{
    const uint8_t* record = Record();
    if (!record) return kNoValue;
    switch (number) {
    case 0: return static_cast<float>(kvd::LoadU64(record + 14));
    case 1: return kvd::LoadF32(record + 22);
    case 2: {
        if (GetSize() < 20) return kNoValue;
        // Rounding both 64-bit times to f32 before subtracting would lose seconds for a recording whose
        // start lies centuries after 1601: subtract exactly, round once. The difference of two u64 may not
        // fit an i64 (a time near 1601 with a start in this century), so its magnitude is taken in u64 and
        // the sign applied after rounding, which rounding to nearest leaves symmetric.
        const uint64_t time = kvd::LoadU64(record + 26), start = m_TimeStamp.GetStart();
        return time >= start ? static_cast<float>(time - start) : -static_cast<float>(start - time);
    }
    default: return kNoValue;
    }
}
