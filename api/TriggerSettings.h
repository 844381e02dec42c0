// The trigger detector's settings that the events of a trigger stream carry, read once per stream.
#pragma once

#include <cstdint>
#include <memory>

#include "settings/KVXAInfoTrigger.h"
#include "streams/KVXAEvtTrigger.h"
#include "streams/KVXAStream.h"

// A stream whose settings cannot be read still lists its events, with neutral settings.
struct TriggerSettings {
    bool trial = false;
    int32_t slope = 0;
    bool manual = false;

    explicit TriggerSettings(CKVXAStream& stream)
    {
        const std::unique_ptr<CKVXAInfo> block(stream.GetInfo());
        if (const auto* info = dynamic_cast<const CKVXAInfoTrigger*>(block.get())) {
            trial = info->TrialSynchronization();
            slope = info->GetSlope();
            manual = info->GetChannel() == -3;
        }
    }

    // The slope's magnitude, as a trigger event reports it.
    uint16_t SlopeMagnitude() const { return static_cast<uint16_t>(slope < 0 ? -static_cast<int64_t>(slope) : slope); }
    // A trigger's value: the count of a manual trigger, else the level the detector saw.
    uint16_t Value(const CKVXAEvtTrigger& trigger) const
    {
        return static_cast<uint16_t>(manual ? trigger.GetManualTriggerCount() : trigger.GetADData());
    }
};
