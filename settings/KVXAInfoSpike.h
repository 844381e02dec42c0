// Information block of a spike stream: the settings of the detector that cut out its spikes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/KVXAInfo.h"
#include "settings/MSpikeProperty.h"

class CMSettingsReader;

class CKVXAInfoSpike : public CKVXAInfo {
public:
    CKVXAInfoSpike() = default;
    ~CKVXAInfoSpike() override = default;

    bool ReadSpikeFormatInfo(CMSettingsReader& in, uint16_t version, int32_t softwareVersionMajor)
    {
        return m_SpikeProperty.ReadSpikeFormatInfo(in, version, softwareVersionMajor);
    }

    const char* GetInputBufferID() const;
    int32_t GetDetectMethod() const { return m_SpikeProperty.GetDetectMethod(); }
    int32_t GetSortMethod() const { return m_SpikeProperty.GetSortMethod(); }
    int32_t GetPreTrigger_us() const { return m_SpikeProperty.GetPreTrigger_us(); }
    int32_t GetPostTrigger_us() const { return m_SpikeProperty.GetPostTrigger_us(); }
    int32_t GetDeadTime_us() const { return m_SpikeProperty.GetDeadTime_us(); }
    // The same in seconds.
    double GetPreTrigger() const { return GetPreTrigger_us() / 1e6; }
    double GetPostTrigger() const { return GetPostTrigger_us() / 1e6; }
    double GetDeadTime() const { return GetDeadTime_us() / 1e6; }

    // Per-channel settings of the channel with this hardware ID; 0 for a channel the block does not hold.
    bool HasChannel(int16_t hwid) const
    {
        return m_SpikeProperty.GetSpikeChInfo(static_cast<uint16_t>(hwid)) != nullptr;
    }
    int32_t GetChannelGroupID(int16_t hwid) const { return Channel(hwid).GetChGroupID(); }
    float GetThresholdLevel(int16_t hwid) const { return Channel(hwid).GetThresholdLevel(); }
    int32_t GetThresholdSlope(int16_t hwid) const { return Channel(hwid).GetThresholdSlope(); }
    float GetSlopeDeltaV(int16_t hwid) const { return Channel(hwid).GetSlopeDeltaV(); }
    float GetSlopeMin(int16_t hwid) const { return Channel(hwid).GetSlopeMin(); }
    float GetSlopeMax(int16_t hwid) const { return Channel(hwid).GetSlopeMax(); }

    // Rebuilds the cached list of unit IDs (the units of the first channel) and returns its length.
    int32_t GetSpikeUnitCount();
    // The cached unit ID at `index`; -1 outside the list.
    int16_t GetSpikeUnitID(int16_t index) const;
    // The window of a unit of a channel; 0 when the block holds no such channel or unit.
    float GetSpikeUnitWndTime(int16_t hwid, int16_t unitId) const { return Unit(hwid, unitId).GetWndTime(); }
    float GetSpikeUnitWndMin(int16_t hwid, int16_t unitId) const { return Unit(hwid, unitId).GetWndMin(); }
    float GetSpikeUnitWndMax(int16_t hwid, int16_t unitId) const { return Unit(hwid, unitId).GetWndMax(); }

    const CMSpikeProperty& GetSpikeProperty() const { return m_SpikeProperty; }

private:
    const CMSpikeChInfo& Channel(int16_t hwid) const;
    CMSpikeUnitInfo Unit(int16_t hwid, int16_t unitId) const;

    CMSpikeProperty m_SpikeProperty;
    std::vector<uint16_t> m_UnitIDs;
    mutable std::string m_strInputBufferID;
};
