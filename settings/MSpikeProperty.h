// Settings of a spike detector: detection and sorting method, the cut-out window around a detection, the
// dead time, and per channel the threshold and slope criteria with the sorting windows of each unit.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CMSettingsReader;

// The sorting window of one unit of one channel.
class CMSpikeUnitInfo {
public:
    // Reads one unit record when `version` is at least 3; false when the bytes end early.
    bool ReadSpikeUnitFormatInfo(CMSettingsReader& in, uint16_t version);

    uint16_t GetChannelHWID() const { return m_wChannelHWID; }
    void SetChannelHWID(uint16_t id) { m_wChannelHWID = id; }
    uint16_t GetUnitID() const { return m_wUnitID; }
    void SetUnitID(uint16_t id) { m_wUnitID = id; }
    float GetWndTime() const { return m_fWndTime; }
    void SetWndTime(float t) { m_fWndTime = t; }
    float GetWndMin() const { return m_fWndMin; }
    void SetWndMin(float v) { m_fWndMin = v; }
    float GetWndMax() const { return m_fWndMax; }
    void SetWndMax(float v) { m_fWndMax = v; }
    // The two further words of a unit record, kept as read.
    uint32_t GetWord(int i) const { return i == 0 ? m_dwWord1 : m_dwWord2; }

private:
    float m_fWndMin = 0.0f;
    float m_fWndMax = 0.0f;
    float m_fWndTime = 0.0f;
    uint32_t m_dwWord1 = 255;
    uint32_t m_dwWord2 = 255;
    uint16_t m_wChannelHWID = 0;
    uint16_t m_wUnitID = 0;
};

// The detector settings of one channel and its units (ordered by unit ID).
class CMSpikeChInfo {
public:
    static constexpr float kDefaultThreshold = -0.00012f;

    // Reads one channel record with its units when `version` is at least 3; false when a count or field
    // runs past the bytes.
    bool ReadSpikeChFormatInfo(CMSettingsReader& in, uint16_t version);

    uint16_t GetChannelHWID() const { return m_wChannelHWID; }
    void SetChannelHWID(uint16_t id) { m_wChannelHWID = id; }
    // 0: the channel belongs to no group.
    uint16_t GetChGroupID() const { return m_wChGroupID; }
    void SetChGroupID(uint16_t id) { m_wChGroupID = id; }
    void RemoveChGroupID() { m_wChGroupID = 0; }
    // Volts.
    float GetThresholdLevel() const { return m_fThresholdLevel; }
    void SetThresholdLevel(float v) { m_fThresholdLevel = v; }
    int32_t GetThresholdSlope() const { return m_lThresholdSlope; }
    void SetThresholdSlope(int32_t s) { m_lThresholdSlope = s; }
    float GetSlopeDeltaV() const { return m_fSlopeDeltaV; }
    void SetSlopeDeltaV(float v) { m_fSlopeDeltaV = v; }
    float GetSlopeMin() const { return m_fSlopeMin; }
    void SetSlopeMin(float v) { m_fSlopeMin = v; }
    float GetSlopeMax() const { return m_fSlopeMax; }
    void SetSlopeMax(float v) { m_fSlopeMax = v; }

    // Adds a default unit with this channel's hardware ID; false when the unit exists.
    bool AddSpikeUnitInfo(uint16_t unitId);
    bool RemoveSpikeUnitInfo(uint16_t unitId);
    // Copies `unit` over the existing unit with its ID; false (nothing added) when there is none.
    bool SetSpikeUnitInfo(const CMSpikeUnitInfo& unit);
    const CMSpikeUnitInfo* GetSpikeUnitInfo(uint16_t unitId) const;
    CMSpikeUnitInfo* GetSpikeUnitInfo(uint16_t unitId);
    int32_t GetSpikeUnitCount() const { return static_cast<int32_t>(m_Units.size()); }
    // Appends the unit IDs in ascending order; true when `ids` is not empty afterwards.
    bool GetSpikeUnitIDs(std::vector<uint16_t>& ids) const;
    const std::map<uint16_t, CMSpikeUnitInfo>& GetUnits() const { return m_Units; }

private:
    uint16_t m_wChannelHWID = 0;
    uint16_t m_wChGroupID = 0;
    float m_fThresholdLevel = kDefaultThreshold;
    int32_t m_lThresholdSlope = 1;
    float m_fSlopeDeltaV = kDefaultThreshold;
    float m_fSlopeMin = 0.2f;
    float m_fSlopeMax = 1.0f;
    std::map<uint16_t, CMSpikeUnitInfo> m_Units;
};

class CMSpikeProperty {
public:
    // Decodes the settings block of a spike stream (after its tag) of block version `version` and takes
    // its values. Versions up to 4 hold a list of trigger-detector records, whose parameter section depends
    // on the writer's software major version. False, with this object unchanged, when a count or field runs
    // past the bytes.
    bool ReadSpikeFormatInfo(CMSettingsReader& in, uint16_t version, int32_t softwareVersionMajor);

    int32_t GetSortMethod() const { return m_lSortMethod; }
    void SetSortMethod(int32_t m) { m_lSortMethod = m; }
    int32_t GetDetectMethod() const { return m_lDetectMethod; }
    void SetDetectMethod(int32_t m) { m_lDetectMethod = m; }
    int32_t GetCutOutType() const { return m_lCutOutType; }
    void SetCutOutType(int32_t t) { m_lCutOutType = t; }
    float GetStdDevFactor() const { return m_fStdDevFactor; }
    void SetStdDevFactor(float f) { m_fStdDevFactor = f; }
    int32_t GetPreTrigger_us() const { return m_lPreTrigger_us; }
    void SetPreTrigger_us(int32_t t) { m_lPreTrigger_us = t; }
    int32_t GetPostTrigger_us() const { return m_lPostTrigger_us; }
    void SetPostTrigger_us(int32_t t) { m_lPostTrigger_us = t; }
    int32_t GetDeadTime_us() const { return m_lDeadTime_us; }
    void SetDeadTime_us(int32_t t) { m_lDeadTime_us = t; }
    std::string GetInputBufferID() const { return m_strInputBufferID; }
    void SetInputBufferID(const std::string& id) { m_strInputBufferID = id; }

    // Copies `channel` into the entry of its hardware ID, creating it when needed.
    void SetSpikeChInfo(const CMSpikeChInfo& channel);
    const CMSpikeChInfo* GetSpikeChInfo(uint16_t hwid) const;
    CMSpikeChInfo* GetSpikeChInfo(uint16_t hwid);
    bool RemoveChannelInfo(uint16_t hwid);
    // Removes every channel; true when there was any.
    bool RemoveChannelInfo();
    const std::map<uint16_t, CMSpikeChInfo>& GetChannels() const { return m_Channels; }

    // Adds the unit to every channel; false when some channel had it already.
    bool AddSpikeUnits(uint16_t unitId);
    // Sets the window of the unit in every channel; false when some channel lacks it.
    bool InitSpikeUnitWnd(uint16_t unitId, float wndTime, float wndMax, float wndMin);
    // Removes the unit from every channel that has it.
    bool RemoveSpikeUnits(uint16_t unitId);
    // Appends the unit IDs of the first channel (the smallest hardware ID); false when there is no channel.
    bool GetSpikeUnitIDs(std::vector<uint16_t>& ids) const;
    // Forwards to the channel of the unit's hardware ID; false when that channel or unit is absent.
    bool SetSpikeUnitInfo(const CMSpikeUnitInfo& unit);
    const CMSpikeUnitInfo* GetSpikeUnitInfo(uint16_t hwid, uint16_t unitId) const;

    bool AddChannelToGroup(uint16_t hwid, uint16_t groupId);
    bool RemoveChannelFromGroup(uint16_t hwid);
    // Clears the group of every channel in it; true when any was cleared.
    bool RemoveChannelGroup(uint16_t groupId);
    // Appends each non-zero group ID once, in order of first appearance over ascending hardware IDs.
    bool GetChannelGroupIDs(std::vector<uint16_t>& ids) const;
    bool GetChHWIDsFromGroup(uint16_t groupId, std::vector<uint16_t>& hwids) const;

private:
    bool ReadCurrent(CMSettingsReader& in, uint16_t version);
    bool ReadDetectorList(CMSettingsReader& in, uint16_t version, int32_t softwareVersionMajor);

    int32_t m_lSortMethod = 0;
    int32_t m_lDetectMethod = 0;
    int32_t m_lCutOutType = 0;
    float m_fStdDevFactor = -3.0f;
    int32_t m_lPreTrigger_us = 1000;
    int32_t m_lPostTrigger_us = 2000;
    int32_t m_lDeadTime_us = 2000;
    std::map<uint16_t, CMSpikeChInfo> m_Channels;
    std::string m_strInputBufferID;
};
