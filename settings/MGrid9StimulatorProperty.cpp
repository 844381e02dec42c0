#include "settings/MGrid9StimulatorProperty.h"

#include <algorithm>
#include <cstring>

#include "io/ByteOrder.h"
#include "io/FileIO.h"
#include "io/MSettingsReader.h"

CMGrid9StimulatorProperty CMGrid9StimulatorProperty::Grid9StimulatorProperty;

namespace {

const char kStimulatorId[] = "STIMG9  ";

// The chunk carries no size. It is decoded from a window of the file that grows until the chunk fits;
// a chunk larger than this is not one the recording application writes.
constexpr std::size_t kFirstWindow = 4096;
constexpr std::size_t kMaxChunk = 16u * 1024u * 1024u;

// One list-mode group: an 8-byte name, a pair count and that many (key, value) pairs.
bool ReadGroup(CMSettingsReader& r, CMGrid9StimulatorProperty::GroupMap& groups)
{
    std::string name;
    uint32_t pairs = 0;
    if (!r.FixedText(8, name) || !r.U32(pairs) || !r.Fits(pairs, 4)) return false;
    std::map<uint16_t, uint16_t> map;
    for (uint32_t i = 0; i < pairs; ++i) {
        uint16_t key = 0, value = 0;
        if (!r.U16(key) || !r.U16(value)) return false;
        map[key] = value;
    }
    groups[name] = std::move(map);
    return true;
}

bool ReadGroups(CMSettingsReader& r, uint32_t count, CMGrid9StimulatorProperty::GroupMap& groups)
{
    if (!r.Fits(count, 12)) return false;
    for (uint32_t i = 0; i < count; ++i)
        if (!ReadGroup(r, groups)) return false;
    return true;
}

using Stimulator = CMGrid9StimulatorProperty;
constexpr int kStimuli = Stimulator::NumberOfGrid9Stimuli;

}  // namespace

struct CMGrid9StimulatorProperty::DecodedChunk {
    std::vector<Stimulator::ListModeEntry> entries;
    Stimulator::CStimulus stimuli[kStimuli];
    Stimulator::CStimulusTrigger triggers[kStimuli];
    int32_t hardware[9] = {};  // voltage and current range and resolution, DAC, channel/sync/trigger numbers
    int32_t mode = 0;
    bool blanking = false;
    bool useAscii = false;
    std::string asciiPath;
    bool dedicated = false;
};

namespace {

// The list-mode entries: before version 5 one group list named "new", from version 5 named lists.
void ReadListModeEntries(CMSettingsReader& r, int32_t version, std::vector<Stimulator::ListModeEntry>& entries)
{
    uint32_t count = 0;
    r.U32(count);
    if (version < 5) {
        Stimulator::GroupMap groups;
        ReadGroups(r, count, groups);
        entries.emplace_back("new", std::move(groups));
        return;
    }
    if (!r.Fits(count, 8)) return;
    for (uint32_t k = 0; k < count && r.Ok(); ++k) {
        std::string name;
        uint32_t groupCount = 0;
        r.String32NulStopped(name);
        r.U32(groupCount);
        Stimulator::GroupMap groups;
        if (!ReadGroups(r, groupCount, groups)) break;
        entries.emplace_back(name.c_str(), std::move(groups));
    }
}

// The stimuli and, from version 2, their triggers.
void ReadStimuli(CMSettingsReader& r, int32_t version, Stimulator::DecodedChunk& chunk)
{
    uint32_t stimuli = 0;
    if (r.U32(stimuli) && stimuli != static_cast<uint32_t>(kStimuli)) r.Fail();
    for (int i = 0; i < kStimuli; ++i) {
        Stimulator::CStimulus& s = chunk.stimuli[i];
        r.I32(s.Pre), r.I32(s.A1), r.I32(s.T1), r.I32(s.A2), r.I32(s.T2);
        r.I32(s.IPI), r.I32(s.PulseRepeat), r.I32(s.IBI), r.I32(s.BurstRepeat);
        if (version >= 3)
            r.I32(s.RepeatMode);
        else
            s.RepeatMode = 1;
        Stimulator::CStimulusTrigger& t = chunk.triggers[i];
        if (version < 2) {
            t = Stimulator::CStimulusTrigger(0, -1);
            continue;
        }
        r.I32(t.m_Type);
        r.I32(t.m_Source);
        // Version-2 writers numbered the sources of trigger type 1 from 1 instead of 17.
        if (version == 2 && t.m_Type == 1 && t.m_Source >= 1 && t.m_Source <= 16) t.m_Source += 16;
    }
}

// The hardware description, the mode and the switches that later versions appended.
void ReadHardwareAndSwitches(CMSettingsReader& r, int32_t version, Stimulator::DecodedChunk& chunk)
{
    for (int32_t& v : chunk.hardware) r.I32(v);
    r.I32(chunk.mode);
    r.Bool(chunk.blanking);
    if (version >= 6) {
        r.Bool(chunk.useAscii);
        r.String32NulStopped(chunk.asciiPath);
    }
    if (version >= 7) r.Bool(chunk.dedicated);
}

}  // namespace

CMGrid9StimulatorProperty::CMGrid9StimulatorProperty() { SetModeAndDefaults(0, true); }

CMGrid9StimulatorProperty& CMGrid9StimulatorProperty::operator=(const CMGrid9StimulatorProperty& other)
{
    if (this == &other) return *this;
    m_ListModeEntries = other.m_ListModeEntries;
    for (int i = 0; i < NumberOfGrid9Stimuli; ++i) {
        m_Stimuli[i] = other.m_Stimuli[i];
        m_Triggers[i] = other.m_Triggers[i];
    }
    m_VoltageRangeInMicroVolt = other.m_VoltageRangeInMicroVolt;
    m_VoltageResolutionInMicroVolt = other.m_VoltageResolutionInMicroVolt;
    m_CurrentRangeInNanoAmp = other.m_CurrentRangeInNanoAmp;
    m_CurrentResolutionInNanoAmp = other.m_CurrentResolutionInNanoAmp;
    m_DacResolution = other.m_DacResolution;
    m_DacOffset = other.m_DacOffset;
    m_ChannelNumber = other.m_ChannelNumber;
    m_SyncNumber = other.m_SyncNumber;
    m_TriggerNumber = other.m_TriggerNumber;
    m_Mode = other.m_Mode;
    m_bBlanking = other.m_bBlanking;
    m_bAPS = other.m_bAPS;
    m_bDedicatedStimulationElectrodes = other.m_bDedicatedStimulationElectrodes;
    return *this;
}

const CMGrid9StimulatorProperty::CStimulus& CMGrid9StimulatorProperty::Stim(int i) const
{
    static const CStimulus none = [] {
        CStimulus s;
        s.RepeatMode = 0;
        return s;
    }();
    return Valid(i) ? m_Stimuli[i] : none;
}

const CMGrid9StimulatorProperty::CStimulusTrigger& CMGrid9StimulatorProperty::Trig(int i) const
{
    static const CStimulusTrigger none(0, 0);
    return Valid(i) ? m_Triggers[i] : none;
}

void CMGrid9StimulatorProperty::SetModeAndDefaults(EnGrid9StimulusMode mode, bool fullReset)
{
    m_VoltageRangeInMicroVolt = 12000000;
    m_VoltageResolutionInMicroVolt = 500;
    m_CurrentRangeInNanoAmp = 1500000;
    m_CurrentResolutionInNanoAmp = 50;
    m_DacResolution = 16;
    m_DacOffset = 0;
    m_ChannelNumber = 6;
    m_SyncNumber = 6;
    m_TriggerNumber = 6;
    m_Mode = mode;
    for (int i = 0; i < NumberOfGrid9Stimuli; ++i) {
        CStimulus& s = m_Stimuli[i];
        s.Pre = 0;
        if (mode == 0) {
            s.A1 = -2000000;
            s.A2 = 2000000;
        } else if (mode == 1) {
            s.A1 = -100000;
            s.A2 = 100000;
        }
        s.T1 = 100;
        s.T2 = 100;
        s.IPI = 10000;
        s.PulseRepeat = 1;
        s.IBI = 3000;
        s.BurstRepeat = 10;
        if (fullReset) {
            s.RepeatMode = 1;
            m_Triggers[i] = CStimulusTrigger(0, -2);
        }
    }
    if (fullReset) {
        m_bUseAsciiFile = false;
        m_AsciiPathFileName.clear();
        m_bBlanking = true;
        m_bAPS = true;
        m_bListMode = false;
        m_bDedicatedStimulationElectrodes = true;
    }
}

bool CMGrid9StimulatorProperty::ReadProperty(const uint8_t* data, std::size_t size, std::size_t& consumed)
{
    bool ranOut = false;
    return Decode(data, size, consumed, ranOut);
}

bool CMGrid9StimulatorProperty::Decode(const uint8_t* data, std::size_t size, std::size_t& consumed, bool& ranOut)
{
    consumed = 0;
    ranOut = false;
    SetModeAndDefaults(0, true);
    m_ListModeEntries.clear();

    CMSettingsReader r(data, size);
    char id[8];
    int32_t version = 0;
    if (!r.Bytes(id, 8) || std::memcmp(id, kStimulatorId, 8) != 0 || !r.I32(version) || version < 1) {
        ranOut = r.RanOut();
        return false;
    }
    DecodedChunk chunk;
    ReadListModeEntries(r, version, chunk.entries);
    ReadStimuli(r, version, chunk);
    ReadHardwareAndSwitches(r, version, chunk);
    if (!r.Ok()) {
        ranOut = r.RanOut();
        SetModeAndDefaults(0, true);
        m_ListModeEntries.clear();
        return false;
    }
    Apply(chunk, version);
    consumed = r.Position();
    return true;
}

void CMGrid9StimulatorProperty::Apply(DecodedChunk& chunk, int32_t version)
{
    m_ListModeEntries = std::move(chunk.entries);
    for (int i = 0; i < NumberOfGrid9Stimuli; ++i) {
        m_Stimuli[i] = chunk.stimuli[i];
        m_Triggers[i] = chunk.triggers[i];
    }
    const int32_t* hw = chunk.hardware;
    m_VoltageRangeInMicroVolt = hw[0];
    m_VoltageResolutionInMicroVolt = hw[1];
    m_CurrentRangeInNanoAmp = hw[2];
    m_CurrentResolutionInNanoAmp = hw[3];
    m_DacResolution = static_cast<uint32_t>(hw[4]);
    m_DacOffset = hw[5];
    m_ChannelNumber = hw[6];
    m_SyncNumber = hw[7];
    m_TriggerNumber = hw[8];
    m_Mode = chunk.mode;
    m_bBlanking = chunk.blanking;
    m_bUseAsciiFile = version >= 6 && chunk.useAscii;
    m_AsciiPathFileName = version >= 6 ? chunk.asciiPath.c_str() : "";
    m_bDedicatedStimulationElectrodes = version >= 7 && chunk.dedicated;
}

bool CMGrid9StimulatorProperty::ReadProperty(FILE* file)
{
    if (!file) {
        SetModeAndDefaults(0, true);
        m_ListModeEntries.clear();
        return false;
    }
    const uint64_t start = kvd::Tell(file);
    const uint64_t left = kvd::BytesLeft(file);
    const std::size_t limit = static_cast<std::size_t>(std::min<uint64_t>(left, kMaxChunk));
    std::size_t window = std::min(kFirstWindow, limit);
    std::vector<uint8_t> bytes;
    for (;;) {
        bytes.resize(window);
        if (!kvd::SeekTo(file, start) || !kvd::ReadExact(file, bytes.data(), window)) break;
        std::size_t consumed = 0;
        bool ranOut = false;
        if (Decode(bytes.data(), window, consumed, ranOut)) return kvd::SeekTo(file, start + consumed);
        // Only a chunk that ran past the window is worth a second look with more bytes.
        if (window >= limit || !ranOut) break;
        window = std::min(window * 4, limit);
    }
    SetModeAndDefaults(0, true);
    m_ListModeEntries.clear();
    kvd::SeekTo(file, start);
    return false;
}

namespace {

// Little-endian encoding of the chunk's fields.
class ChunkEncoder {
public:
    void Bytes(const void* p, std::size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        m_Out.insert(m_Out.end(), b, b + n);
    }
    void U8(uint8_t v) { m_Out.push_back(v); }
    void U16(uint16_t v)
    {
        uint8_t b[2];
        kvd::StoreU16(b, v);
        Bytes(b, sizeof b);
    }
    void U32(uint32_t v)
    {
        uint8_t b[4];
        kvd::StoreU32(b, v);
        Bytes(b, sizeof b);
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    // A text preceded by its length.
    void String32(const std::string& s)
    {
        U32(static_cast<uint32_t>(s.size()));
        Bytes(s.data(), s.size());
    }
    std::vector<uint8_t>& Out() { return m_Out; }

private:
    std::vector<uint8_t> m_Out;
};

constexpr int32_t kWrittenVersion = 7;

}  // namespace

std::vector<uint8_t> CMGrid9StimulatorProperty::EncodeProperty() const
{
    ChunkEncoder e;
    e.Bytes(kStimulatorId, 8);
    e.I32(kWrittenVersion);
    e.U32(static_cast<uint32_t>(m_ListModeEntries.size()));
    for (const ListModeEntry& entry : m_ListModeEntries) {
        e.String32(entry.first);
        e.U32(static_cast<uint32_t>(entry.second.size()));
        for (const auto& group : entry.second) {
            // Group names are stored in 8 bytes, NUL-padded.
            char name[8] = {};
            std::memcpy(name, group.first.data(), std::min<std::size_t>(group.first.size(), sizeof name));
            e.Bytes(name, sizeof name);
            e.U32(static_cast<uint32_t>(group.second.size()));
            for (const auto& pair : group.second) {
                e.U16(pair.first);
                e.U16(pair.second);
            }
        }
    }
    e.U32(NumberOfGrid9Stimuli);
    for (int i = 0; i < NumberOfGrid9Stimuli; ++i) {
        const CStimulus& s = m_Stimuli[i];
        for (int32_t v : {s.Pre, s.A1, s.T1, s.A2, s.T2, s.IPI, s.PulseRepeat, s.IBI, s.BurstRepeat, s.RepeatMode,
                          m_Triggers[i].m_Type, m_Triggers[i].m_Source})
            e.I32(v);
    }
    for (int32_t v : {m_VoltageRangeInMicroVolt, m_VoltageResolutionInMicroVolt, m_CurrentRangeInNanoAmp,
                      m_CurrentResolutionInNanoAmp, static_cast<int32_t>(m_DacResolution), m_DacOffset, m_ChannelNumber,
                      m_SyncNumber, m_TriggerNumber, m_Mode})
        e.I32(v);
    e.U8(m_bBlanking ? 1 : 0);
    e.U8(m_bUseAsciiFile ? 1 : 0);
    e.String32(m_AsciiPathFileName);
    e.U8(m_bDedicatedStimulationElectrodes ? 1 : 0);
    return std::move(e.Out());
}

bool CMGrid9StimulatorProperty::WriteProperty(FILE* file) const
{
    if (!file) return false;
    const std::vector<uint8_t> bytes = EncodeProperty();
    return kvd::WriteExact(file, bytes.data(), bytes.size());
}
