// Settings of the three stimulus generators of the stimulator-capable array system, stored in the file
// header as a "STIMG9  " chunk: pulse shape, timing and repetition of each stimulus, its trigger, the
// electrical ranges of the hardware and the optional list mode that assigns stimuli to electrodes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#define KVD_STIMULATOR_EXPORT __attribute__((visibility("default")))

using EnGrid9RepeatMode = int32_t;
using EnTriggerType = int32_t;
// 0: stimuli in voltage (amplitudes in microvolt); 1: stimuli in current (amplitudes in nanoampere).
using EnGrid9StimulusMode = int32_t;

class CMGrid9StimulatorProperty {
public:
    static constexpr int NumberOfGrid9Stimuli = 3;

    class CStimulus {
    public:
        int32_t Pre = 0, A1 = 0, T1 = 0, A2 = 0, T2 = 0, IPI = 0, PulseRepeat = 0, IBI = 0, BurstRepeat = 0;
        EnGrid9RepeatMode RepeatMode = 1;
    };

    class CStimulusTrigger {
    public:
        CStimulusTrigger() = default;
        CStimulusTrigger(EnTriggerType type, int32_t source) : m_Type(type), m_Source(source) {}
        bool operator==(const CStimulusTrigger& o) const { return m_Type == o.m_Type && m_Source == o.m_Source; }
        bool operator!=(const CStimulusTrigger& o) const { return !(*this == o); }
        EnTriggerType m_Type = 0;
        int32_t m_Source = -2;
    };

    // Groups of one list-mode entry: group name -> (key -> value).
    using GroupMap = std::map<std::string, std::map<uint16_t, uint16_t>>;
    using ListModeEntry = std::pair<std::string, GroupMap>;

    CMGrid9StimulatorProperty();
    CMGrid9StimulatorProperty(const CMGrid9StimulatorProperty&) = default;
    virtual ~CMGrid9StimulatorProperty() = default;
    // Copies everything but the list-mode flag, the use-ASCII-file flag and the ASCII path.
    CMGrid9StimulatorProperty& operator=(const CMGrid9StimulatorProperty& other);

    // The process-wide settings object.
    static KVD_STIMULATOR_EXPORT CMGrid9StimulatorProperty Grid9StimulatorProperty;
    static CMGrid9StimulatorProperty& GetGrid9StimulatorProperty() { return Grid9StimulatorProperty; }

    // Reads a "STIMG9  " chunk at the current file position and leaves the file right after it. False for
    // a wrong id, a version below 1, a stimulus count other than 3 or a chunk that ends early; the settings
    // then hold their defaults.
    bool ReadProperty(FILE* file);
    // Decodes the chunk from memory; `consumed` receives its length in bytes.
    bool ReadProperty(const uint8_t* data, std::size_t size, std::size_t& consumed);
    // Writes the settings as a "STIMG9  " chunk of the newest version (7) at the current file position;
    // false when writing fails. ReadProperty of the chunk gives back every stored setting.
    bool WriteProperty(FILE* file) const;
    // The same chunk as bytes.
    std::vector<uint8_t> EncodeProperty() const;

    // Resets the hardware fields and the stimuli for `mode`; a full reset also resets repeat modes,
    // triggers, list mode, blanking, APS, the ASCII file and the dedicated stimulation electrodes.
    void SetModeAndDefaults(EnGrid9StimulusMode mode, bool fullReset);

    // Per-stimulus accessors; the index runs from 0 to 2, other indexes read 0 and are not stored.
    int32_t GetPre(int i) const { return Stim(i).Pre; }
    int32_t GetA1(int i) const { return Stim(i).A1; }
    int32_t GetT1(int i) const { return Stim(i).T1; }
    int32_t GetA2(int i) const { return Stim(i).A2; }
    int32_t GetT2(int i) const { return Stim(i).T2; }
    int32_t GetIPI(int i) const { return Stim(i).IPI; }
    int32_t GetPulseRepeat(int i) const { return Stim(i).PulseRepeat; }
    int32_t GetIBI(int i) const { return Stim(i).IBI; }
    int32_t GetBurstRepeat(int i) const { return Stim(i).BurstRepeat; }
    EnGrid9RepeatMode GetRepeatMode(int i) const { return Stim(i).RepeatMode; }
    EnTriggerType GetTriggerType(int i) const { return Trig(i).m_Type; }
    int32_t GetTriggerSource(int i) const { return Trig(i).m_Source; }
    CStimulusTrigger GetStimulusTrigger(int i) const { return Trig(i); }
    // clang-format off
    void SetPre(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].Pre = v; }
    void SetA1(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].A1 = v; }
    void SetT1(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].T1 = v; }
    void SetA2(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].A2 = v; }
    void SetT2(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].T2 = v; }
    void SetIPI(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].IPI = v; }
    void SetPulseRepeat(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].PulseRepeat = v; }
    void SetIBI(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].IBI = v; }
    void SetBurstRepeat(int i, int32_t v) { if (Valid(i)) m_Stimuli[i].BurstRepeat = v; }
    void SetRepeatMode(int i, EnGrid9RepeatMode v) { if (Valid(i)) m_Stimuli[i].RepeatMode = v; }
    void SetTriggerType(int i, EnTriggerType v) { if (Valid(i)) m_Triggers[i].m_Type = v; }
    void SetTriggerSource(int i, int32_t v) { if (Valid(i)) m_Triggers[i].m_Source = v; }
    void SetStimulusTrigger(int i, const CStimulusTrigger& t) { if (Valid(i)) m_Triggers[i] = t; }
    // clang-format on

    int32_t GetVoltageRangeInMicroVolt() const { return m_VoltageRangeInMicroVolt; }
    int32_t GetVoltageResolutionInMicroVolt() const { return m_VoltageResolutionInMicroVolt; }
    int32_t GetCurrentRangeInNanoAmp() const { return m_CurrentRangeInNanoAmp; }
    int32_t GetCurrentResolutionInNanoAmp() const { return m_CurrentResolutionInNanoAmp; }
    uint32_t GetDacResolution() const { return m_DacResolution; }
    int32_t GetDacOffset() const { return m_DacOffset; }
    EnGrid9StimulusMode GetMode() const { return m_Mode; }
    int32_t GetChannelNumber() const { return m_ChannelNumber; }
    int32_t GetSyncNumber() const { return m_SyncNumber; }
    int32_t GetTriggerNumber() const { return m_TriggerNumber; }
    bool GetUseAsciiFile() const { return m_bUseAsciiFile; }
    const std::string& GetAsciiPathFileName() const { return m_AsciiPathFileName; }
    bool GetBlanking() const { return m_bBlanking; }
    bool GetAPS() const { return m_bAPS; }
    bool GetDedicatedStimulationElectrodes() const { return m_bDedicatedStimulationElectrodes; }
    bool GetListMode() const { return m_bListMode; }
    std::vector<ListModeEntry>& GetListModeEntries() { return m_ListModeEntries; }
    const std::vector<ListModeEntry>& GetListModeEntries() const { return m_ListModeEntries; }

    void SetVoltageRangeInMicroVolt(int32_t v) { m_VoltageRangeInMicroVolt = v; }
    void SetVoltageResolutionInMicroVolt(int32_t v) { m_VoltageResolutionInMicroVolt = v; }
    void SetCurrentRangeInNanoAmp(int32_t v) { m_CurrentRangeInNanoAmp = v; }
    void SetCurrentResolutionInNanoAmp(int32_t v) { m_CurrentResolutionInNanoAmp = v; }
    void SetDacResolution(uint32_t v) { m_DacResolution = v; }
    void SetDacOffset(int32_t v) { m_DacOffset = v; }
    void SetMode(EnGrid9StimulusMode v) { m_Mode = v; }
    void SetChannelNumber(int32_t v) { m_ChannelNumber = v; }
    void SetSyncNumber(int32_t v) { m_SyncNumber = v; }
    void SetTriggerNumber(int32_t v) { m_TriggerNumber = v; }
    void SetUseAsciiFile(bool v) { m_bUseAsciiFile = v; }
    void SetAsciiPathFileName(const std::string& v) { m_AsciiPathFileName = v; }
    void SetBlanking(bool v) { m_bBlanking = v; }
    void SetAPS(bool v) { m_bAPS = v; }
    void SetDedicatedStimulationElectrodes(bool v) { m_bDedicatedStimulationElectrodes = v; }
    void SetListMode(bool v) { m_bListMode = v; }

    // A whole chunk's contents, decoded before any setting changes (defined with the decoder).
    struct DecodedChunk;

private:
    // Decodes the chunk; `ranOut` tells whether it failed only because the bytes ended early.
    bool Decode(const uint8_t* data, std::size_t size, std::size_t& consumed, bool& ranOut);
    // Takes over the settings of a chunk of the given version that was read whole.
    void Apply(DecodedChunk& chunk, int32_t version);
    static bool Valid(int i) { return i >= 0 && i < NumberOfGrid9Stimuli; }
    const CStimulus& Stim(int i) const;
    const CStimulusTrigger& Trig(int i) const;

    bool m_bListMode = false;
    std::vector<ListModeEntry> m_ListModeEntries;
    CStimulus m_Stimuli[NumberOfGrid9Stimuli];
    CStimulusTrigger m_Triggers[NumberOfGrid9Stimuli];
    int32_t m_VoltageRangeInMicroVolt = 0;
    int32_t m_VoltageResolutionInMicroVolt = 0;
    int32_t m_CurrentRangeInNanoAmp = 0;
    int32_t m_CurrentResolutionInNanoAmp = 0;
    uint32_t m_DacResolution = 0;
    int32_t m_DacOffset = 0;
    int32_t m_ChannelNumber = 0;
    int32_t m_SyncNumber = 0;
    int32_t m_TriggerNumber = 0;
    EnGrid9StimulusMode m_Mode = 0;
    bool m_bBlanking = true;
    bool m_bAPS = true;
    bool m_bUseAsciiFile = false;
    std::string m_AsciiPathFileName;
    bool m_bDedicatedStimulationElectrodes = true;
};
