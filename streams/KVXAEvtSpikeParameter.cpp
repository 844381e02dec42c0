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
        // start lies centuries after 1601: subtract exactly, round once.
        const int64_t sinceStart = static_cast<int64_t>(kvd::LoadU64(record + 26) - m_TimeStamp.GetStart());
        return static_cast<float>(sinceStart);
    }
    default: return kNoValue;
    }
}
