#include "settings/KVXAInfoSpike.h"

const char* CKVXAInfoSpike::GetInputBufferID() const
{
    m_strInputBufferID = m_SpikeProperty.GetInputBufferID();
    return m_strInputBufferID.c_str();
}

const CMSpikeChInfo& CKVXAInfoSpike::Channel(int16_t hwid) const
{
    // Zero in every field, so that a missing channel is not taken for one with default settings.
    static const CMSpikeChInfo kAbsent = [] {
        CMSpikeChInfo c;
        c.SetThresholdLevel(0.0f);
        c.SetThresholdSlope(0);
        c.SetSlopeDeltaV(0.0f);
        c.SetSlopeMin(0.0f);
        c.SetSlopeMax(0.0f);
        return c;
    }();
    const CMSpikeChInfo* channel = m_SpikeProperty.GetSpikeChInfo(static_cast<uint16_t>(hwid));
    return channel ? *channel : kAbsent;
}

CMSpikeUnitInfo CKVXAInfoSpike::Unit(int16_t hwid, int16_t unitId) const
{
    const CMSpikeUnitInfo* unit =
        m_SpikeProperty.GetSpikeUnitInfo(static_cast<uint16_t>(hwid), static_cast<uint16_t>(unitId));
    return unit ? *unit : CMSpikeUnitInfo();
}

int32_t CKVXAInfoSpike::GetSpikeUnitCount()
{
    m_UnitIDs.clear();
    m_SpikeProperty.GetSpikeUnitIDs(m_UnitIDs);
    return static_cast<int32_t>(m_UnitIDs.size());
}

int16_t CKVXAInfoSpike::GetSpikeUnitID(int16_t index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_UnitIDs.size()) return -1;
    return static_cast<int16_t>(m_UnitIDs[static_cast<std::size_t>(index)]);
}
