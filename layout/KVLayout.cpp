#include "layout/KVLayout.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "io/FileIO.h"

namespace {

const char kLayoutId[] = "LAYOUT  ";
// Chunk head after the id and size: version, source type, total, electrode, analog and digital counts,
// a reserved word and the record count.
constexpr std::size_t kHeadFields = 8;
constexpr int32_t kDefaultHighF = 50000000;

// Hardware channel to electrode of the 60-electrode array: two digits, column then row of the 8 x 8 grid.
const char* const kMea60Names[64] = {"47", "48", "46", "45", "38", "37", "28", "36", "27", "17", "26", "16", "35",
                                     "25", "15", "14", "24", "34", "13", "23", "12", "22", "33", "21", "32", "31",
                                     "44", "43", "41", "42", "52", "51", "53", "54", "61", "62", "71", "63", "72",
                                     "82", "73", "83", "64", "74", "84", "85", "75", "65", "86", "76", "87", "77",
                                     "66", "78", "67", "68", "55", "56", "58", "57", "A1", "A2", "A3", "D1"};

const char* DualMeaName(int h)
{
    static const char* const kInputs[8] = {"A1", "A2", "A3", "A4", "A5", "A6", "A7", "D1"};
    if (h < 60) return kMea60Names[h];
    if (h < 64) return kInputs[h - 60];
    if (h < 124) return kMea60Names[h - 64];
    return kInputs[h - 124 + 4];
}

int32_t ClampToInt32(uint32_t v) { return v > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(v); }
int32_t ClampToInt32(int64_t v)
{
    return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, v)));
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// CChannelLayout

CKVLayout::CChannelLayout::CChannelLayout()
{
    m_Rec.SetI32(kHWID, -1);
    m_Rec.SetI32(kSubType, MEA_SUBTYPE_UNKNOWN);
    m_Rec.SetI32(kGain, -1);
    m_Rec.SetI32(kLowF, 0);
    m_Rec.SetI32(kHighF, kDefaultHighF);
    m_Rec.SetI32(kMeaNumber, -1);
    for (std::size_t off : {kExtendX, kExtendY, kExtendZ}) m_Rec.SetI32(off, 1000);
    m_Rec.SetI32(kDisplayExtendX, 100);
    m_Rec.SetI32(kDisplayExtendY, 100);
    m_Rec.SetI32(kMapHWID, -1);
    m_Rec.SetI32(kMapValue, 0);
}

std::size_t CKVLayout::CChannelLayout::getSize(int version)
{
    switch (version) {
    case 1: return kThirdName;
    case 2: return kMapHWID;
    default: return kSize;
    }
}

void CKVLayout::CChannelLayout::ReadLayout(const uint8_t* bytes, int version)
{
    std::memcpy(m_Rec.Data(), bytes, getSize(version));
    if (version == 1) m_Rec.SetText(kThirdName, kTextWidth, GetElectrodeName());
    if (version == 1 || version == 2) m_Rec.SetI32(kMapHWID, GetHWID());
    TerminateTexts();
}

bool CKVLayout::CChannelLayout::ReadLayout(FILE* file, int version)
{
    uint8_t bytes[kSize];
    const std::size_t n = getSize(version);
    if (!file || !kvd::ReadExact(file, bytes, n)) return false;
    ReadLayout(bytes, version);
    return true;
}

bool CKVLayout::CChannelLayout::WriteLayout(FILE* file) const
{
    return file && kvd::WriteExact(file, m_Rec.Data(), kSize);
}

void CKVLayout::CChannelLayout::TerminateTexts()
{
    // A damaged chunk may leave a text without its terminator; the texts are handed out as C strings.
    for (std::size_t off : {kName, kDecoratedName, kMeaName, kThirdName, kAmplifierName})
        m_Rec.Terminate(off, kTextWidth);
}

void CKVLayout::CChannelLayout::SetHardwareChannel(int16_t hwid, int32_t subType, const char* amplifierName,
                                                   int32_t gain, int32_t lowF, int32_t highF)
{
    m_Rec.SetI32(kHWID, hwid);
    m_Rec.SetText(kAmplifierName, kTextWidth, amplifierName);
    m_Rec.SetI32(kSubType, subType);
    m_Rec.SetI32(kGain, gain);
    m_Rec.SetI32(kLowF, lowF);
    m_Rec.SetI32(kHighF, highF);
    m_Rec.SetI32(kMapHWID, hwid);
}

void CKVLayout::CChannelLayout::SetChannelName(const char* name, const char* decoratedName, const char* thirdName)
{
    m_Rec.SetText(kName, kTextWidth, name);
    m_Rec.SetText(kDecoratedName, kTextWidth, decoratedName);
    m_Rec.SetText(kThirdName, kTextWidth, thirdName);
}

void CKVLayout::CChannelLayout::SetLayoutChannel(const char* name, const char* decoratedName, const char* thirdName,
                                                 int32_t meaNumber, const char* meaName, int32_t electrodeType,
                                                 int32_t x, int32_t y, int32_t z, int32_t extendX, int32_t extendY,
                                                 int32_t extendZ, int32_t displayX, int32_t displayY,
                                                 int32_t displayExtendX, int32_t displayExtendY)
{
    SetChannelName(name, decoratedName, thirdName);
    m_Rec.SetI32(kMeaNumber, meaNumber);
    m_Rec.SetText(kMeaName, kTextWidth, meaName);
    m_Rec.SetI32(kElectrodeType, electrodeType);
    m_Rec.SetI32(kPosX, x);
    m_Rec.SetI32(kPosY, y);
    m_Rec.SetI32(kPosZ, z);
    m_Rec.SetI32(kExtendX, extendX);
    m_Rec.SetI32(kExtendY, extendY);
    m_Rec.SetI32(kExtendZ, extendZ);
    m_Rec.SetI32(kDisplayX, displayX);
    m_Rec.SetI32(kDisplayY, displayY);
    m_Rec.SetI32(kDisplayExtendX, displayExtendX);
    m_Rec.SetI32(kDisplayExtendY, displayExtendY);
}

void CKVLayout::CChannelLayout::SetMapHWID(int32_t mapHWID, int32_t mapValue)
{
    m_Rec.SetI32(kMapHWID, mapHWID);
    m_Rec.SetI32(kMapValue, mapValue);
}

std::string CKVLayout::CChannelLayout::BuildNameString(int32_t mea) const
{
    const char* name = GetElectrodeName();
    std::string text(2 * std::strlen(name) + 160, '\0');
    const int n = std::snprintf(&text[0], text.size(),
                                "%s:name=%s:hwid=%d:subtype=%d:show=%d:dx=%d:dy=%d:dxextend=%d:dyextend=%d", name, name,
                                GetHWID(), GetMeaSubType(), GetMeaNumber() == mea ? 1 : 0, GetDisplayX(), GetDisplayY(),
                                GetDisplayExtendX(), GetDisplayExtendY());
    text.resize(n > 0 ? std::min(static_cast<std::size_t>(n), text.size() - 1) : 0);
    return text;
}

// ---------------------------------------------------------------------------------------------------------
// CKVLayout: chunk

CKVLayout::CKVLayout()
    : m_hw_configuration(&m_AvailHard), m_ampl_configuration(&m_AvailAmpl), m_mea_configuration(&m_AvailMeas)
{}

CKVLayout::~CKVLayout() = default;

bool CKVLayout::ReadLayout(FILE* file)
{
    if (!file) return false;
    char id[8];
    if (!kvd::ReadExact(file, id, sizeof id) || !kvd::IdEquals(id, kLayoutId)) return false;

    uint8_t head[8 + 4 * kHeadFields];
    if (!kvd::ReadExact(file, head, sizeof head)) return false;
    const uint8_t* f = head + 8;  // the body size is not used
    const int32_t version = kvd::LoadI32(f);
    if (version < 1 || version > 3) return false;
    const int32_t sourceType = kvd::LoadI32(f + 4);
    const int32_t total = kvd::LoadI32(f + 8);
    const int32_t electrodes = kvd::LoadI32(f + 12);
    const int32_t analog = kvd::LoadI32(f + 16);
    const int32_t digital = kvd::LoadI32(f + 20);
    const int32_t count = kvd::LoadI32(f + 28);
    // Every query relies on one record per channel; a chunk that disagrees with itself is damaged.
    if (count < 0 || count >= kMaxChannels || count != total) return false;

    const std::size_t recordSize = CChannelLayout::getSize(version);
    const uint64_t bytes = static_cast<uint64_t>(count) * recordSize;
    if (bytes > kvd::BytesLeft(file)) return false;
    std::vector<uint8_t> data(static_cast<std::size_t>(bytes));
    if (!kvd::ReadExact(file, data.data(), data.size())) return false;

    std::vector<CChannelLayout> list(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) list[i].ReadLayout(data.data() + i * recordSize, version);

    m_SourceType = sourceType;
    m_iTotal = total;
    m_iElectrodes = electrodes;
    m_iAnalog = analog;
    m_iDigi = digital;
    m_ChannelList = std::move(list);
    return true;
}

bool CKVLayout::WriteLayout(FILE* file) const
{
    if (!file) return false;
    const uint32_t count = static_cast<uint32_t>(m_ChannelList.size());
    std::vector<uint8_t> out(16 + 4 * kHeadFields + CChannelLayout::kSize * count);
    uint8_t* p = out.data();
    std::memcpy(p, kLayoutId, 8);
    kvd::StoreU64(p + 8, 32 + static_cast<uint64_t>(CChannelLayout::kSize) * count);
    const int32_t fields[kHeadFields] = {3,         m_SourceType, m_iTotal, m_iElectrodes,
                                         m_iAnalog, m_iDigi,      0,        static_cast<int32_t>(count)};
    for (std::size_t i = 0; i < kHeadFields; ++i) kvd::StoreI32(p + 16 + 4 * i, fields[i]);
    p += 16 + 4 * kHeadFields;
    for (const CChannelLayout& rec : m_ChannelList) {
        std::memcpy(p, rec.Image(), CChannelLayout::kSize);
        p += CChannelLayout::kSize;
    }
    return kvd::WriteExact(file, out.data(), out.size());
}

void CKVLayout::CopyLayout(const CKVLayout& other)
{
    if (this == &other) return;
    m_SourceType = other.m_SourceType;
    m_iTotal = other.m_iTotal;
    m_iElectrodes = other.m_iElectrodes;
    m_iAnalog = other.m_iAnalog;
    m_iDigi = other.m_iDigi;
    m_ChannelList = other.m_ChannelList;
}

// ---------------------------------------------------------------------------------------------------------
// CKVLayout: standard layouts

void CKVLayout::InitLayoutIfNeeded(MeaSourceType type, uint32_t total, uint32_t electrodes, uint32_t analog,
                                   uint32_t digital, bool flag)
{
    m_SourceType = type;
    // A layout holds fewer than kMaxChannels records; a header asking for more gets an empty layout
    // rather than an allocation sized by an unchecked count.
    m_iTotal = total < static_cast<uint32_t>(kMaxChannels) ? static_cast<int32_t>(total) : 0;
    m_iElectrodes = ClampToInt32(electrodes);
    m_iAnalog = ClampToInt32(analog);
    m_iDigi = ClampToInt32(digital);
    m_ChannelList.assign(static_cast<std::size_t>(m_iTotal), CChannelLayout());
    if (flag) return;

    switch (static_cast<int32_t>(type)) {
    case MEA_LINEAR: InitLinear(); break;
    case MEA_60:
        InitMea60();
        ApplyHardwareConfiguration();
        break;
    case MEA_DUAL:
        InitDualMea();
        ApplyHardwareConfiguration();
        break;
    default:
        // A layout from description files is stored in the recording; unknown source types have no
        // standard layout. Both keep the default records.
        break;
    }
}

void CKVLayout::InitLinear()
{
    const int64_t e = m_iElectrodes, a = m_iAnalog;
    for (int32_t h = 0; h < m_iTotal; ++h) {
        int32_t kind, gain, columns;
        int64_t k;
        char name[32];
        if (h < e) {
            kind = MEA_ELECTRODE, gain = 1000, k = h, columns = e > 128 ? 16 : 8;
            std::snprintf(name, sizeof name, "%02d", h + 1);
        } else if (h >= e + a) {
            kind = MEA_DIGITAL, gain = 1, k = h - e - a, columns = 8;
            std::snprintf(name, sizeof name, "D1");
        } else {
            kind = MEA_ANALOG, gain = 1, k = h - e, columns = a > 128 ? 16 : 8;
            std::snprintf(name, sizeof name, "A%d", static_cast<int>(h - e + 1));
        }
        const int32_t col = static_cast<int32_t>(k % columns), row = static_cast<int32_t>(k / columns);
        CChannelLayout& rec = m_ChannelList[h];
        rec.SetHardwareChannel(static_cast<int16_t>(h), kind, "", gain, 0, kDefaultHighF);
        rec.SetLayoutChannel(name, name, name, 0, "", 1, col * 1000, row * 1000, 0, 1000, 1000, 1000, col * 100,
                             row * 100, 100, 100);
    }
}

void CKVLayout::InitMea60()
{
    for (int h = 0; h < 64 && h < m_iTotal; ++h) {
        const char* t = kMea60Names[h];
        CChannelLayout& rec = m_ChannelList[h];
        if (h < 60) {
            const int n = std::atoi(t), c = n / 10, r = n % 10;
            rec.SetHardwareChannel(static_cast<int16_t>(h), MEA_ELECTRODE, "", 1000, 0, kDefaultHighF);
            rec.SetLayoutChannel(t, t, t, 0, "Orbel", 1, (c - 1) * 1000, (r - 1) * 1000, 0, 1000, 1000, 1000,
                                 (c - 1) * 100, (r - 1) * 100, 100, 100);
        } else if (h < 63) {
            rec.SetHardwareChannel(static_cast<int16_t>(h), MEA_ANALOG, "", 1, 0, kDefaultHighF);
            rec.SetLayoutChannel(t, t, t, 0, "", 1, h - 60, 0, 0, 1000, 1000, 1000, (h - 60) * 100, 0, 100, 100);
        } else {
            rec.SetHardwareChannel(static_cast<int16_t>(h), MEA_DIGITAL, "", 1, 0, kDefaultHighF);
            rec.SetLayoutChannel(t, t, t, 0, "", 1, 0, 0, 0, 1000, 1000, 1000, 0, 0, 100, 100);
        }
    }
}

void CKVLayout::InitDualMea()
{
    for (int h = 0; h < 128 && h < m_iTotal; ++h) {
        const char* t = DualMeaName(h);
        CChannelLayout& rec = m_ChannelList[h];
        const bool arrayA = h < 60, arrayB = h >= 64 && h < 124;
        if (arrayA || arrayB) {
            const int n = std::atoi(t), c = n / 10, r = n % 10, o = arrayA ? 0 : 8;
            const std::string decorated = std::string(t) + (arrayA ? "A" : "B");
            const char* meaName = arrayA ? "MEA A" : "MEA B";
            rec.SetHardwareChannel(static_cast<int16_t>(h), MEA_ELECTRODE, "", 1000, 0, kDefaultHighF);
            rec.SetLayoutChannel(t, decorated.c_str(), t, arrayA ? 0 : 1, meaName, 1, (c - 1) * 1000,
                                 (r - 1 + o) * 1000, 0, 1000, 1000, 1000, (c - 1) * 100, (r - 1 + o) * 100, 100, 100);
        } else if (h < 127) {
            const int x = h < 64 ? h - 60 : h - 120;
            rec.SetHardwareChannel(static_cast<int16_t>(h), MEA_ANALOG, "", 1, 0, kDefaultHighF);
            rec.SetLayoutChannel(t, t, t, 0, "", 1, x, 0, 0, 1000, 1000, 1000, x * 100, 0, 100, 100);
        } else {
            rec.SetHardwareChannel(static_cast<int16_t>(h), MEA_DIGITAL, "", 1, 0, kDefaultHighF);
            rec.SetLayoutChannel(t, t, t, 0, "", 1, 0, 0, 0, 1000, 1000, 1000, 0, 0, 100, 100);
        }
    }
}

void CKVLayout::ApplyHardwareConfiguration()
{
    // One hardware system at most drives a recording; several selections describe no layout.
    if (m_hw_configuration.size() != 1) return;
    const CType* type = m_AvailHard.at(m_hw_configuration.GetSelectedTypeIndex(0));
    if (!type) return;
    for (const CChannelLayout& rec : type->m_Layouts)
        if (CChannelLayout* target = RecPtr(rec.GetHWID())) target->SetMapHWID(rec.GetMapHWID(), rec.GetMapValue());
}

// ---------------------------------------------------------------------------------------------------------
// CKVLayout: setters and queries

const CKVLayout::CChannelLayout& CKVLayout::Rec(int i) const
{
    static const CChannelLayout none;
    return i >= 0 && i < static_cast<int>(m_ChannelList.size()) ? m_ChannelList[i] : none;
}

CKVLayout::CChannelLayout* CKVLayout::RecPtr(int i)
{
    return i >= 0 && i < static_cast<int>(m_ChannelList.size()) ? &m_ChannelList[i] : nullptr;
}

void CKVLayout::SetHardwareChannel(int16_t hwid, int32_t subType, const char* amplifierName, int32_t gain, int32_t lowF,
                                   int32_t highF)
{
    if (CChannelLayout* rec = RecPtr(hwid)) rec->SetHardwareChannel(hwid, subType, amplifierName, gain, lowF, highF);
}

void CKVLayout::SetChannelName(int16_t hwid, const char* name, const char* decoratedName, const char* thirdName)
{
    if (CChannelLayout* rec = RecPtr(hwid)) rec->SetChannelName(name, decoratedName, thirdName);
}

void CKVLayout::SetLayoutChannel(int16_t hwid, const char* name, const char* decoratedName, const char* thirdName,
                                 int32_t meaNumber, const char* meaName, int32_t electrodeType, int32_t x, int32_t y,
                                 int32_t z, int32_t extendX, int32_t extendY, int32_t extendZ, int32_t displayX,
                                 int32_t displayY, int32_t displayExtendX, int32_t displayExtendY)
{
    if (CChannelLayout* rec = RecPtr(hwid))
        rec->SetLayoutChannel(name, decoratedName, thirdName, meaNumber, meaName, electrodeType, x, y, z, extendX,
                              extendY, extendZ, displayX, displayY, displayExtendX, displayExtendY);
}

void CKVLayout::SetLayoutChannel(int index, const CChannelLayout& layout)
{
    const int64_t pos = static_cast<int64_t>(index) + layout.GetHWID();
    if (pos >= 0 && pos < static_cast<int64_t>(m_ChannelList.size()))
        m_ChannelList[static_cast<std::size_t>(pos)] = layout;
}

void CKVLayout::SetMapHWID(int16_t hwid, int32_t mapHWID, int32_t mapValue)
{
    if (CChannelLayout* rec = RecPtr(hwid)) rec->SetMapHWID(mapHWID, mapValue);
}

void CKVLayout::GetElectrodeNames(std::vector<std::string>& list) const
{
    list.clear();
    for (const CChannelLayout& rec : m_ChannelList) list.emplace_back(rec.GetElectrodeName());
}

void CKVLayout::GetDecoratedElectrodeNames(std::vector<std::string>& list) const
{
    list.clear();
    for (const CChannelLayout& rec : m_ChannelList) list.emplace_back(rec.GetDecoratedElectrodeName());
}

void CKVLayout::GetElectrodeNamesEx(std::vector<std::string>& list, int32_t mea) const
{
    list.clear();
    for (const CChannelLayout& rec : m_ChannelList) list.push_back(rec.BuildNameString(mea));
}

void CKVLayout::GetElectrodePoint(int i, int32_t& x, int32_t& y, int32_t& z) const
{
    const CChannelLayout& rec = Rec(i);
    x = rec.GetPosX(), y = rec.GetPosY(), z = rec.GetPosZ();
}

void CKVLayout::GetElectrodeExtends(int i, int32_t& x, int32_t& y, int32_t& z) const
{
    const CChannelLayout& rec = Rec(i);
    x = rec.GetExtendX(), y = rec.GetExtendY(), z = rec.GetExtendZ();
}

void CKVLayout::GetElectrodeDisplayPoint(int i, int32_t& x, int32_t& y) const
{
    const CChannelLayout& rec = Rec(i);
    x = rec.GetDisplayX(), y = rec.GetDisplayY();
}

void CKVLayout::GetElectrodeDisplayExtend(int i, int32_t& x, int32_t& y) const
{
    const CChannelLayout& rec = Rec(i);
    x = rec.GetDisplayExtendX(), y = rec.GetDisplayExtendY();
}

void CKVLayout::GetElectrodeFrequency(int i, int32_t& low, int32_t& high) const
{
    const CChannelLayout& rec = Rec(i);
    low = rec.GetLowF(), high = rec.GetHighF();
}

const char* CKVLayout::GetMeaSubTypeAsString(int i) const
{
    switch (GetMeaSubType(i)) {
    case MEA_ELECTRODE: return "E";
    case MEA_ANALOG: return "A";
    case MEA_DIGITAL: return "D";
    default: return "U";
    }
}

bool CKVLayout::GetHWIDFromName(const char* name, uint16_t& hwid) const
{
    if (name)
        for (std::size_t i = 0; i < m_ChannelList.size(); ++i)
            if (std::strcmp(m_ChannelList[i].GetElectrodeName(), name) == 0) {
                hwid = static_cast<uint16_t>(i);
                return true;
            }
    hwid = 0xFFFF;
    return false;
}

int CKVLayout::GetElectrodeChannelCount(int32_t mea) const
{
    return static_cast<int>(std::count_if(m_ChannelList.begin(), m_ChannelList.end(),
                                          [mea](const CChannelLayout& r) { return r.GetMeaNumber() == mea; }));
}

int CKVLayout::GetNumberOfMEAs() const
{
    std::set<int32_t> meas;
    for (const CChannelLayout& rec : m_ChannelList)
        if (rec.GetMeaNumber() != -1) meas.insert(rec.GetMeaNumber());
    return static_cast<int>(meas.size());
}

std::vector<int32_t> CKVLayout::GetMEAIndices() const
{
    std::set<int32_t> meas;
    for (const CChannelLayout& rec : m_ChannelList)
        if (rec.GetMeaSubType() == MEA_ELECTRODE && rec.GetMeaNumber() != -1) meas.insert(rec.GetMeaNumber());
    return std::vector<int32_t>(meas.begin(), meas.end());
}

std::vector<CKVLayout::CChannelLayout> CKVLayout::GetChannelLayoutsForMea(int32_t mea) const
{
    std::vector<CChannelLayout> list;
    for (const CChannelLayout& rec : m_ChannelList)
        if (rec.GetMeaNumber() == mea) list.push_back(rec);
    return list;
}

int CKVLayout::GetNumberOfAmps(const std::vector<CChannelLayout>& layouts)
{
    std::set<std::string> amps;
    for (const CChannelLayout& rec : layouts)
        if (rec.GetMeaSubType() == MEA_ELECTRODE) amps.insert(rec.GetAmplifierName());
    return static_cast<int>(amps.size());
}

int CKVLayout::GetTotalNumberOfAmps() const
{
    int sum = 0;
    for (int32_t mea : GetMEAIndices()) sum += GetNumberOfAmpsForMEA(mea);
    return sum;
}

std::string CKVLayout::GetNameOfConfigMEA(int32_t mea) const
{
    for (const CChannelLayout& rec : m_ChannelList)
        if (rec.GetMeaNumber() == mea && rec.GetMeaSubType() == MEA_ELECTRODE) return rec.GetMeaName();
    return std::string();
}

std::string CKVLayout::GetAmplifierNameForMEA(int32_t mea) const
{
    for (const CChannelLayout& rec : m_ChannelList)
        if (rec.GetMeaNumber() == mea && rec.GetMeaSubType() == MEA_ELECTRODE) return rec.GetAmplifierName();
    return std::string();
}

void CKVLayout::GetMaxChannelPos(int32_t mea, int32_t kind, int32_t& x, int32_t& y) const
{
    x = 0, y = 0;
    for (const CChannelLayout& rec : m_ChannelList) {
        if ((mea != -1 && rec.GetMeaNumber() != mea) || (kind != -1 && rec.GetMeaSubType() != kind)) continue;
        x = std::max(x, rec.GetPosX());
        y = std::max(y, rec.GetPosY());
    }
}

void CKVLayout::GetMaxDisplayExtend(int32_t mea, int32_t kind, int32_t& x, int32_t& y) const
{
    int64_t mx = 0, my = 0;
    for (const CChannelLayout& rec : m_ChannelList) {
        if ((mea != -1 && rec.GetMeaNumber() != mea) || (kind != -1 && rec.GetMeaSubType() != kind)) continue;
        mx = std::max<int64_t>(mx, static_cast<int64_t>(rec.GetDisplayX()) + rec.GetDisplayExtendX());
        my = std::max<int64_t>(my, static_cast<int64_t>(rec.GetDisplayY()) + rec.GetDisplayExtendY());
    }
    x = ClampToInt32(mx);
    y = ClampToInt32(my);
}

int32_t CKVLayout::GetRelativeChannelPosX(int32_t mea, int i) const
{
    int32_t maxX, maxY;
    GetMaxChannelPos(mea, MEA_ELECTRODE, maxX, maxY);
    return maxX == 0 ? 0 : ClampToInt32(static_cast<int64_t>(Rec(i).GetPosX()) * 100 / maxX);
}

int32_t CKVLayout::GetRelativeChannelPosY(int32_t mea, int i) const
{
    int32_t maxX, maxY;
    GetMaxChannelPos(mea, MEA_ELECTRODE, maxX, maxY);
    return maxY == 0 ? 0 : ClampToInt32(static_cast<int64_t>(Rec(i).GetPosY()) * 100 / maxY);
}

int CKVLayout::GetNumberOfElectrodeChannels(const std::string& name) const
{
    const int index = m_AvailAmpl.GetAvailTypeIndex(name);
    const CType* type = m_AvailAmpl.at(index);
    return type ? static_cast<int>(type->m_Layouts.size()) : 0;
}

// ---------------------------------------------------------------------------------------------------------
// Description files

namespace {

// Reads one line of at most 255 characters without its line end; a longer line comes in several pieces.
bool ReadLine(FILE* file, std::string& line)
{
    char buf[256];
    if (!std::fgets(buf, sizeof buf, file)) return false;
    line = buf;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return true;
}

bool StartsWith(const std::string& line, const char* prefix, std::string& rest)
{
    const std::size_t n = std::strlen(prefix);
    if (line.compare(0, n, prefix) != 0) return false;
    rest = line.substr(n);
    return true;
}

// A whole decimal integer of the int32 range.
bool ParseInt(const std::string& text, int32_t& value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

int32_t KindFromLetter(const char* word)
{
    if (std::strcmp(word, "E") == 0) return MEA_ELECTRODE;
    if (std::strcmp(word, "A") == 0) return MEA_ANALOG;
    if (std::strcmp(word, "D") == 0) return MEA_DIGITAL;
    return MEA_SUBTYPE_UNKNOWN;
}

int32_t ElectrodeTypeFromFlags(const char* flags)
{
    int32_t type = 0;
    if (std::strchr(flags, 'A')) type += 1;
    if (std::strchr(flags, 'S')) type += 2;
    if (std::strchr(flags, 'R')) type += 4;
    if (std::strchr(flags, 'B')) type += 8;
    return type;
}

// The pieces of a text between the separator characters, empty pieces included: "a::b" gives "a", "", "b"
// and an empty text one empty piece.
std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> items;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1)
        items.push_back(text.substr(from, at - from));
    items.push_back(text.substr(from));
    return items;
}

// The line without leading and trailing white space (blank, tab, line and page ends).
void Trim(std::string& line)
{
    const char* const space = " \t\n\v\f\r";
    const std::size_t last = line.find_last_not_of(space);
    line.erase(last == std::string::npos ? 0 : last + 1);
    line.erase(0, line.find_first_not_of(space));
}

// Offsets of an "AvailOffsets: " line: decimal numbers separated by runs of blanks.
void ParseOffsets(const std::string& rest, std::vector<int32_t>& offsets)
{
    for (const std::string& item : Split(rest, ' '))
        if (!item.empty()) offsets.push_back(std::atoi(item.c_str()));
}

}  // namespace

void CKVLayout::CType::Reset()
{
    m_Name.clear();
    m_offsets.clear();
    m_Layouts.clear();
}

int CKVLayout::CType::ReadFile(const char* path, const char* firstLine)
{
    // A type read twice starts from scratch rather than mixing two files.
    Reset();
    FILE* file = path ? std::fopen(path, "re") : nullptr;
    if (!file) return -1;

    std::string line, rest;
    bool ok = ReadLine(file, line);
    Trim(line);
    ok = ok && line == firstLine;

    int version = 0;
    while (ok && ReadLine(file, line)) {
        Trim(line);
        if (line == "Layout:") break;
        if (StartsWith(line, "Version: ", rest))
            version = std::atoi(rest.c_str());
        else if (StartsWith(line, "Name: ", rest))
            m_Name = rest;
        else
            ok = HeaderLine(line);
    }
    if (!ok || version < 1 || m_Name.empty()) {
        std::fclose(file);
        Reset();
        return -1;
    }

    ReadLine(file, line);  // caption line
    int records = 0;
    while (ReadLine(file, line))
        if (ChannelLine(line.c_str(), version)) ++records;
    std::fclose(file);
    return records;
}

void CKVLayout::CHardware::Reset()
{
    CType::Reset();
    m_LayoutConfig.clear();
    m_StdMeaLayouts = 3;
}

int CKVLayout::CHardware::ReadLayout(const char* path) { return ReadFile(path, "KVX Hardware Layout"); }

bool CKVLayout::CHardware::HeaderLine(const std::string& line)
{
    std::string rest;
    if (StartsWith(line, "StdMeaLayouts: ", rest)) {
        m_StdMeaLayouts = std::atoi(rest.c_str());
    } else if (StartsWith(line, "LayoutConfig: ", rest)) {
        for (const std::string& item : Split(rest, ' ')) {
            const std::vector<std::string> configs = Split(item, ':');
            int32_t key, value;
            // Every item is a pair key:value of two decimal integers; anything else rejects the file.
            if (configs.size() != 2 || !ParseInt(configs[0], key) || !ParseInt(configs[1], value)) return false;
            m_LayoutConfig[key] = value;
        }
    }
    return true;
}

bool CKVLayout::CHardware::ChannelLine(const char* line, int version)
{
    int hwid, gain, lowF, highF, mapped = 0, mapValue = 0;
    char kind[256], name[256];
    int fields;
    if (version == 1)
        fields = std::sscanf(line, "%d %255s %d %d %d %255s", &hwid, kind, &gain, &lowF, &highF, name) == 6;
    else if (version == 2)
        fields = std::sscanf(line, "%d %255s %d %d %d %255s %d %d", &hwid, kind, &gain, &lowF, &highF, name, &mapped,
                             &mapValue) == 8;
    else
        fields = 0;
    if (!fields) return false;
    CChannelLayout rec;
    rec.SetHardwareChannel(static_cast<int16_t>(hwid), KindFromLetter(kind), m_Name.c_str(), gain, lowF, highF);
    rec.SetChannelName(name, name, name);
    if (version == 2) rec.SetMapHWID(mapped, mapValue);
    m_Layouts.push_back(rec);
    return true;
}

bool CKVLayout::CType::HeaderLine(const std::string& line)
{
    std::string rest;
    if (StartsWith(line, "AvailOffsets: ", rest)) ParseOffsets(rest, m_offsets);
    return true;
}

int CKVLayout::CAmplifier::ReadLayout(const char* path) { return ReadFile(path, "KVX Amplifier Layout"); }

bool CKVLayout::CAmplifier::ChannelLine(const char* line, int)
{
    int hwid, gain, lowF, highF;
    char kind[256];
    if (std::sscanf(line, "%d %255s %d %d %d", &hwid, kind, &gain, &lowF, &highF) != 5) return false;
    CChannelLayout rec;
    rec.SetHardwareChannel(static_cast<int16_t>(hwid), KindFromLetter(kind), m_Name.c_str(), gain, lowF, highF);
    m_Layouts.push_back(rec);
    return true;
}

int CKVLayout::CMea::ReadLayout(const char* path) { return ReadFile(path, "KVX MEA Layout"); }

bool CKVLayout::CMea::ChannelLine(const char* line, int version)
{
    int hwid, v[10];
    char name[256], third[256], flags[256];
    if (version == 1) {
        if (std::sscanf(line, "%d %255s %255s %d %d %d %d %d %d %d %d %d %d", &hwid, name, flags, &v[0], &v[1], &v[2],
                        &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]) != 13)
            return false;
        std::strcpy(third, name);
    } else if (version == 2) {
        if (std::sscanf(line, "%d %255s %255s %255s %d %d %d %d %d %d %d %d %d %d", &hwid, name, third, flags, &v[0],
                        &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]) != 14)
            return false;
    } else {
        return false;
    }
    CChannelLayout rec;
    rec.SetHardwareChannel(static_cast<int16_t>(hwid), MEA_ELECTRODE, "", 1, 0, kDefaultHighF);
    const int32_t type = ElectrodeTypeFromFlags(flags);
    rec.SetElectrodeType(type);
    if (type & 1)
        rec.SetLayoutChannel(name, name, third, 0, "", type, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8],
                             v[9]);
    m_Layouts.push_back(rec);
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// Availability tables

bool CKVLayout::CAvailTypes::LoadAvail(const std::string& directory)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(directory, ec), end;
    if (ec) return false;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".txt") != 0) continue;
        std::error_code statusError;
        if (!fs::is_regular_file(it->status(statusError))) continue;
        std::unique_ptr<CType> type = NewType();
        if (type->ReadLayout(path.string().c_str()) >= 0) m_Types.push_back(std::move(type));
    }
    return !ec;
}

const CKVLayout::CType* CKVLayout::CAvailTypes::at(int typeindex) const
{
    return typeindex >= 0 && typeindex < static_cast<int>(m_Types.size()) ? m_Types[typeindex].get() : nullptr;
}

std::string CKVLayout::CAvailTypes::GetAvailType(int typeindex) const
{
    const CType* type = at(typeindex);
    return type ? type->m_Name : std::string();
}

int CKVLayout::CAvailTypes::GetAvailTypeIndex(const std::string& name) const
{
    for (std::size_t i = 0; i < m_Types.size(); ++i)
        if (m_Types[i]->m_Name == name) return static_cast<int>(i);
    return -1;
}

void CKVLayout::CAvailTypes::GetAvailTypes(std::vector<std::string>& list) const
{
    list.clear();
    for (const auto& type : m_Types) list.push_back(type->m_Name);
}

std::string CKVLayout::CAvailTypes::GetAvailOffsetAsString(int typeindex, int offsetindex) const
{
    const CType* type = at(typeindex);
    if (!type || offsetindex < 0 || offsetindex >= static_cast<int>(type->m_offsets.size())) return std::string();
    return std::to_string(type->m_offsets[offsetindex]);
}

int32_t CKVLayout::CAvailTypes::GetAvailOffsetAsInt(int typeindex, int offsetindex) const
{
    const CType* type = at(typeindex);
    if (!type || offsetindex < 0 || offsetindex >= static_cast<int>(type->m_offsets.size())) return 0;
    return type->m_offsets[offsetindex];
}

int CKVLayout::CAvailTypes::GetAvailOffsetIndex(int typeindex, int32_t offset) const
{
    const CType* type = at(typeindex);
    if (!type) return -1;
    const auto it = std::find(type->m_offsets.begin(), type->m_offsets.end(), offset);
    return it == type->m_offsets.end() ? -1 : static_cast<int>(it - type->m_offsets.begin());
}

void CKVLayout::CAvailTypes::GetAvailOffsets(int typeindex, std::vector<std::string>& list) const
{
    list.clear();
    if (const CType* type = at(typeindex))
        for (int32_t offset : type->m_offsets) list.push_back(std::to_string(offset));
}

int CKVLayout::CAvailTypes::GetNumberOfAvailOffsets(int typeindex) const
{
    const CType* type = at(typeindex);
    return type ? static_cast<int>(type->m_offsets.size()) : 0;
}

std::map<int32_t, int32_t> CKVLayout::CAvailTypes::GetHwLayoutConfig(int typeindex) const
{
    const auto* hw = dynamic_cast<const CHardware*>(at(typeindex));
    return hw ? hw->m_LayoutConfig : std::map<int32_t, int32_t>();
}

int32_t CKVLayout::CAvailTypes::GetStdMeaLayout(int typeindex) const
{
    const auto* hw = dynamic_cast<const CHardware*>(at(typeindex));
    return hw ? hw->m_StdMeaLayouts : -1;
}

// ---------------------------------------------------------------------------------------------------------
// Configurations

void CKVLayout::CConfiguration::ChangeType(int i, int32_t typeindex)
{
    if (Valid(i)) m_Selections[i].m_TypeIndex = typeindex;
}

void CKVLayout::CConfiguration::ChangeTypeOffset(int i, int32_t offsetindex)
{
    if (Valid(i)) m_Selections[i].m_OffsetIndex = offsetindex;
}

void CKVLayout::CConfiguration::RemoveType(int i)
{
    if (Valid(i)) m_Selections.erase(m_Selections.begin() + i);
}

int CKVLayout::CConfiguration::MoveType(int i, int delta)
{
    const int64_t j = static_cast<int64_t>(i) + delta;
    if (!Valid(i) || j < 0 || j >= static_cast<int64_t>(m_Selections.size()) || j == i) return 0;
    std::swap(m_Selections[i], m_Selections[static_cast<std::size_t>(j)]);
    return 1;
}

int32_t CKVLayout::CConfiguration::GetSelectedTypeIndex(int i) const
{
    return Valid(i) ? m_Selections[i].m_TypeIndex : -1;
}

std::string CKVLayout::CConfiguration::GetSelectedType(int i) const
{
    return Valid(i) && m_pAvail ? m_pAvail->GetAvailType(m_Selections[i].m_TypeIndex) : std::string();
}

int32_t CKVLayout::CConfiguration::GetSelectedOffsetIndex(int i) const
{
    return Valid(i) ? m_Selections[i].m_OffsetIndex : -1;
}

std::string CKVLayout::CConfiguration::GetSelectedOffsetAsString(int i) const
{
    if (!Valid(i) || !m_pAvail) return std::string();
    return m_pAvail->GetAvailOffsetAsString(m_Selections[i].m_TypeIndex, m_Selections[i].m_OffsetIndex);
}

int32_t CKVLayout::CConfiguration::GetSelectedOffsetAsInt(int i) const
{
    if (!Valid(i) || !m_pAvail) return 0;
    return m_pAvail->GetAvailOffsetAsInt(m_Selections[i].m_TypeIndex, m_Selections[i].m_OffsetIndex);
}

void CKVLayout::CConfiguration::GetSelectedTypes(std::vector<std::string>& list) const
{
    list.clear();
    for (int i = 0; i < static_cast<int>(m_Selections.size()); ++i)
        if (m_Selections[i].m_OffsetIndex >= 0)
            list.push_back(GetSelectedType(i) + " @ " + std::to_string(GetSelectedOffsetAsInt(i)));
}
