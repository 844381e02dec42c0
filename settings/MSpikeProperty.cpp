#include "settings/MSpikeProperty.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "settings/MMEATriggerProperty.h"
#include "io/MSettingsReader.h"

namespace {

// Smallest channel and unit records of the current layout, for bounding their counts by the bytes left.
constexpr std::size_t kChannelRecordMin = 26;
constexpr std::size_t kUnitRecordSize = 24;

// Seconds to whole microseconds: (s x 1e6 + 0.5) truncated toward zero, saturating at 32 bits (NaN: 0).
int32_t Microseconds(float seconds)
{
    const double us = static_cast<double>(seconds) * 1e6 + 0.5;
    if (std::isnan(us)) return 0;
    if (us >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (us <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(us);
}

}  // namespace

// ---- CMSpikeUnitInfo ------------------------------------------------------------------------------------

bool CMSpikeUnitInfo::ReadSpikeUnitFormatInfo(CMSettingsReader& in, uint16_t version)
{
    if (version < 3) return true;
    in.U16(m_wChannelHWID);
    in.U16(m_wUnitID);
    in.F32(m_fWndMin);
    in.F32(m_fWndMax);
    in.F32(m_fWndTime);
    in.U32(m_dwWord1);
    in.U32(m_dwWord2);
    return in.Ok();
}

// ---- CMSpikeChInfo --------------------------------------------------------------------------------------

bool CMSpikeChInfo::ReadSpikeChFormatInfo(CMSettingsReader& in, uint16_t version)
{
    if (version < 3) return true;
    uint16_t units = 0;
    in.U16(m_wChannelHWID);
    in.U16(m_wChGroupID);
    in.F32(m_fThresholdLevel);
    in.I32(m_lThresholdSlope);
    in.F32(m_fSlopeDeltaV);
    in.F32(m_fSlopeMin);
    in.F32(m_fSlopeMax);
    if (!in.U16(units) || !in.Fits(units, kUnitRecordSize)) return false;
    for (uint16_t i = 0; i < units; ++i) {
        CMSpikeUnitInfo unit;
        if (!unit.ReadSpikeUnitFormatInfo(in, version)) return false;
        // A later record with the same unit ID replaces the earlier one.
        m_Units[unit.GetUnitID()] = unit;
    }
    return in.Ok();
}

bool CMSpikeChInfo::AddSpikeUnitInfo(uint16_t unitId)
{
    if (m_Units.count(unitId)) return false;
    CMSpikeUnitInfo& unit = m_Units[unitId];
    unit.SetChannelHWID(m_wChannelHWID);
    unit.SetUnitID(unitId);
    return true;
}

bool CMSpikeChInfo::RemoveSpikeUnitInfo(uint16_t unitId) { return m_Units.erase(unitId) != 0; }

bool CMSpikeChInfo::SetSpikeUnitInfo(const CMSpikeUnitInfo& unit)
{
    CMSpikeUnitInfo* existing = GetSpikeUnitInfo(unit.GetUnitID());
    if (!existing) return false;
    *existing = unit;
    return true;
}

const CMSpikeUnitInfo* CMSpikeChInfo::GetSpikeUnitInfo(uint16_t unitId) const
{
    const auto it = m_Units.find(unitId);
    return it == m_Units.end() ? nullptr : &it->second;
}

CMSpikeUnitInfo* CMSpikeChInfo::GetSpikeUnitInfo(uint16_t unitId)
{
    const auto it = m_Units.find(unitId);
    return it == m_Units.end() ? nullptr : &it->second;
}

bool CMSpikeChInfo::GetSpikeUnitIDs(std::vector<uint16_t>& ids) const
{
    for (const auto& entry : m_Units) ids.push_back(entry.first);
    return !ids.empty();
}

// ---- CMSpikeProperty ------------------------------------------------------------------------------------

bool CMSpikeProperty::ReadSpikeFormatInfo(CMSettingsReader& in, uint16_t version, int32_t softwareVersionMajor)
{
    CMSpikeProperty p;
    const bool ok = version > 4 ? p.ReadCurrent(in, version) : p.ReadDetectorList(in, version, softwareVersionMajor);
    if (!ok || !in.Ok()) return false;
    *this = std::move(p);
    return true;
}

bool CMSpikeProperty::ReadCurrent(CMSettingsReader& in, uint16_t version)
{
    uint32_t detect = 0, sort = 0, cutOut = 0;
    in.U32(detect);
    in.U32(sort);
    in.U32(cutOut);
    m_lDetectMethod = static_cast<int32_t>(detect);
    m_lSortMethod = static_cast<int32_t>(sort);
    m_lCutOutType = static_cast<int32_t>(cutOut);
    in.F32(m_fStdDevFactor);
    if (version <= 6) {
        // Seconds.
        float pre = 0, post = 0, dead = 0;
        if (in.F32(pre) && in.F32(post) && in.F32(dead)) {
            m_lPreTrigger_us = Microseconds(pre);
            m_lPostTrigger_us = Microseconds(post);
            m_lDeadTime_us = Microseconds(dead);
        }
    } else {
        in.I32(m_lPreTrigger_us);
        in.I32(m_lPostTrigger_us);
        in.I32(m_lDeadTime_us);
    }
    in.String16NulStopped(m_strInputBufferID);
    uint16_t channels = 0;
    if (!in.U16(channels) || !in.Fits(channels, kChannelRecordMin)) return false;
    for (uint16_t i = 0; i < channels; ++i) {
        CMSpikeChInfo channel;
        if (!channel.ReadSpikeChFormatInfo(in, version)) return false;
        // A later record with the same hardware ID replaces the earlier one.
        m_Channels[channel.GetChannelHWID()] = std::move(channel);
    }
    return in.Ok();
}

bool CMSpikeProperty::ReadDetectorList(CMSettingsReader& in, uint16_t version, int32_t softwareVersionMajor)
{
    // P, Q and R start so that a version-0 block, which stores none of them, keeps the default times.
    uint32_t P = static_cast<uint32_t>(m_lDeadTime_us) * 1000000u;
    uint32_t Q = static_cast<uint32_t>(m_lPreTrigger_us) * 1000000u;
    uint32_t R = static_cast<uint32_t>(m_lPostTrigger_us) * 1000000u;
    std::vector<std::unique_ptr<CMMEATriggerProperty>> records;
    if (!CMMEATriggerProperty::ReadSpikeFormatInfo(in, CMMEATriggerProperty::kNoBound, version, records, P, Q, R,
                                                   softwareVersionMajor))
        return false;
    m_lPreTrigger_us = static_cast<int32_t>(Q / 1000000u);
    m_lPostTrigger_us = static_cast<int32_t>(R / 1000000u);
    m_lDeadTime_us = static_cast<int32_t>(P / 1000000u);
    m_lSortMethod = 0;
    m_lDetectMethod = 0;
    m_strInputBufferID = records.empty() ? std::string() : records.front()->GetInputBufferID();
    for (const auto& record : records) {
        CMSpikeChInfo channel;
        channel.SetChannelHWID(static_cast<uint16_t>(record->GetChannel()));
        // The level is stored in tenths of a microvolt.
        channel.SetThresholdLevel(static_cast<float>(record->GetLevel() / 10000000.0));
        channel.SetThresholdSlope(record->GetSlope());
        m_Channels[channel.GetChannelHWID()] = channel;
    }
    return true;
}

void CMSpikeProperty::SetSpikeChInfo(const CMSpikeChInfo& channel) { m_Channels[channel.GetChannelHWID()] = channel; }

const CMSpikeChInfo* CMSpikeProperty::GetSpikeChInfo(uint16_t hwid) const
{
    const auto it = m_Channels.find(hwid);
    return it == m_Channels.end() ? nullptr : &it->second;
}

CMSpikeChInfo* CMSpikeProperty::GetSpikeChInfo(uint16_t hwid)
{
    const auto it = m_Channels.find(hwid);
    return it == m_Channels.end() ? nullptr : &it->second;
}

bool CMSpikeProperty::RemoveChannelInfo(uint16_t hwid) { return m_Channels.erase(hwid) != 0; }

bool CMSpikeProperty::RemoveChannelInfo()
{
    const bool any = !m_Channels.empty();
    m_Channels.clear();
    return any;
}

bool CMSpikeProperty::AddSpikeUnits(uint16_t unitId)
{
    bool all = true;
    for (auto& entry : m_Channels) all &= entry.second.AddSpikeUnitInfo(unitId);
    return all;
}

bool CMSpikeProperty::InitSpikeUnitWnd(uint16_t unitId, float wndTime, float wndMax, float wndMin)
{
    bool all = true;
    for (auto& entry : m_Channels) {
        CMSpikeUnitInfo* unit = entry.second.GetSpikeUnitInfo(unitId);
        if (!unit) {
            all = false;
            continue;
        }
        unit->SetWndTime(wndTime);
        unit->SetWndMax(wndMax);
        unit->SetWndMin(wndMin);
    }
    return all;
}

bool CMSpikeProperty::RemoveSpikeUnits(uint16_t unitId)
{
    for (auto& entry : m_Channels)
        if (entry.second.GetSpikeUnitInfo(unitId)) entry.second.RemoveSpikeUnitInfo(unitId);
    return true;
}

bool CMSpikeProperty::GetSpikeUnitIDs(std::vector<uint16_t>& ids) const
{
    if (m_Channels.empty()) return false;
    m_Channels.begin()->second.GetSpikeUnitIDs(ids);
    return true;
}

bool CMSpikeProperty::SetSpikeUnitInfo(const CMSpikeUnitInfo& unit)
{
    CMSpikeChInfo* channel = GetSpikeChInfo(unit.GetChannelHWID());
    return channel && channel->SetSpikeUnitInfo(unit);
}

const CMSpikeUnitInfo* CMSpikeProperty::GetSpikeUnitInfo(uint16_t hwid, uint16_t unitId) const
{
    const CMSpikeChInfo* channel = GetSpikeChInfo(hwid);
    return channel ? channel->GetSpikeUnitInfo(unitId) : nullptr;
}

bool CMSpikeProperty::AddChannelToGroup(uint16_t hwid, uint16_t groupId)
{
    CMSpikeChInfo* channel = GetSpikeChInfo(hwid);
    if (!channel) return false;
    channel->SetChGroupID(groupId);
    return true;
}

bool CMSpikeProperty::RemoveChannelFromGroup(uint16_t hwid)
{
    CMSpikeChInfo* channel = GetSpikeChInfo(hwid);
    if (!channel) return false;
    channel->RemoveChGroupID();
    return true;
}

bool CMSpikeProperty::RemoveChannelGroup(uint16_t groupId)
{
    bool any = false;
    for (auto& entry : m_Channels)
        if (entry.second.GetChGroupID() == groupId) {
            entry.second.RemoveChGroupID();
            any = true;
        }
    return any;
}

bool CMSpikeProperty::GetChannelGroupIDs(std::vector<uint16_t>& ids) const
{
    for (const auto& entry : m_Channels) {
        const uint16_t group = entry.second.GetChGroupID();
        if (group != 0 && std::find(ids.begin(), ids.end(), group) == ids.end()) ids.push_back(group);
    }
    return !ids.empty();
}

bool CMSpikeProperty::GetChHWIDsFromGroup(uint16_t groupId, std::vector<uint16_t>& hwids) const
{
    for (const auto& entry : m_Channels)
        if (entry.second.GetChGroupID() == groupId) hwids.push_back(entry.first);
    return !hwids.empty();
}
