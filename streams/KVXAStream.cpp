#include "streams/KVXAStream.h"

#include <cctype>
#include <cstring>

#include "reader/FileIO.h"
#include "reader/KVXAStreamFile.h"

using kvd::ReadExact;

namespace {

// Smallest number of bytes a channel record takes in a file; bounds the channel count by the file size.
constexpr uint64_t kMinChannelRecord = 788;

struct LegacyType {
    const char* dataType;
    const char* tag;
    const char* prefix;  // null: the buffer ID comes from the stream name
};
constexpr LegacyType kLegacyTypes[] = {
    {"analog", "raw", nullptr}, {"digital", "raw", nullptr}, {"chat", "cht", "chtl"},
    {"filter", "flt", "filt"},  {"params", "par", "para"},   {"trigger", "trg", "trig"},
    {"spikes", "spk", "spks"},  {"average", "evp", "mean"},
};

struct RawName {
    const char* name;
    const char* prefix;
};
constexpr RawName kRawNames[] = {
    {"Electrode Raw Data", "elec"}, {"Analog Raw Data", "anlg"}, {"Digital Raw Data", "digi"}};

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// The number after the last blank of a stream name, as the old writers numbered their streams:
// leading decimal digits, optionally signed, truncated to 16 bits; 0 when there are none.
uint16_t TrailingNumber(const char* name)
{
    const char* blank = std::strrchr(name, ' ');
    const char* p = blank ? blank + 1 : name;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint16_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) n = static_cast<uint16_t>(n * 10 + (*p - '0'));
    return negative ? static_cast<uint16_t>(-n) : n;
}

}  // namespace

CKVXAStream::~CKVXAStream() = default;

CKVXAChannel* CKVXAStream::GetChannel(int16_t index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_Channels.size()) return nullptr;
    return m_Channels[index].get();
}

CKVXAChannel* CKVXAStream::GetChannelHWID(int16_t hwid) const
{
    for (const auto& channel : m_Channels)
        if (channel && channel->GetHWID() == static_cast<int32_t>(hwid)) return channel.get();
    return nullptr;
}

const char* CKVXAStream::GetChannelName(int16_t index) const
{
    if (index >= GetChannelCount()) return "";
    const CKVXAChannel* channel = GetChannel(index);
    return channel ? channel->GetName() : "";
}

bool CKVXAStream::HasContinuousData() const
{
    return m_pStreamFile && m_pStreamFile->GetRecordingMode() == 0;
}

bool CKVXAStream::HasRawData() const
{
    const char* type = GetDataType();
    if (!type) return false;
    return std::strcmp(type, "analog") == 0 || std::strcmp(type, "chat") == 0 ||
           std::strcmp(type, "filter") == 0 || std::strcmp(type, "digital") == 0;
}

int32_t CKVXAStream::GetStreamFormatPrivate(const uint8_t*& data) const
{
    data = m_StrmFmtPrivate.empty() ? nullptr : m_StrmFmtPrivate.data();
    return static_cast<int32_t>(m_StrmFmtPrivate.size());
}

const KVXHDR* CKVXAStream::GetKVXHDR() const { return m_pStreamFile ? m_pStreamFile->GetKVXHDR() : nullptr; }

int CKVXAStream::ReadHdr(FILE* file)
{
    if (!file || !m_pStreamFile || !m_pStreamFile->GetKVXHDR()) return STREAM_UNREADABLE;
    const uint16_t version = static_cast<uint16_t>(m_pStreamFile->GetHeaderVersion());

    char id[8];
    if (!kvd::ReadChunkHead(file, id, m_qwStrmHdrSize)) return STREAM_UNREADABLE;
    kvd::UpperId(id);
    if (!kvd::IdEquals(id, "STRMHDR ")) return STREAM_UNREADABLE;

    m_pStrmHdr = std::make_unique<StrmHdr>();
    if (!ReadExact(file, m_pStrmHdr->Data(), version >= 5 ? 804 : 792)) {
        m_pStrmHdr.reset();
        return STREAM_UNREADABLE;
    }
    if (version == 0) m_pStrmHdr->SetU16(kHdrVersion, 0);
    m_pStrmHdr->Terminate(kDataType, kDataTypeWidth);
    m_pStrmHdr->Terminate(kName, kNameWidth);
    m_pStrmHdr->Terminate(kComment, kCommentWidth);
    m_pStrmHdr->Terminate(kBufferID, kBufferIDWidth);

    // Some writers store a channel count but no channel records: the format chunk follows at once.
    const uint64_t mark = kvd::Tell(file);
    if (!ReadExact(file, id, sizeof id)) return STREAM_UNREADABLE;
    kvd::UpperId(id);
    if (kvd::IdEquals(id, "STRMFMT ")) m_pStrmHdr->SetU32(kChannelCount, 0);
    if (!kvd::SeekTo(file, mark)) return STREAM_UNREADABLE;

    const uint32_t count = m_pStrmHdr->U32(kChannelCount);
    if (count != 0 && static_cast<uint64_t>(count) * kMinChannelRecord > kvd::BytesLeft(file))
        return STREAM_UNREADABLE;
    m_Channels.clear();
    m_Channels.resize(count);
    const char* type = m_pStrmHdr->Text(kDataType);
    for (uint32_t k = 0; k < count; ++k) {
        auto channel = std::make_unique<CKVXAChannel>();
        if (channel->ReadHdr(file, version) != 0) break;
        if ((version == 7 || version == 8) && StartsWith(type, "digital"))
            channel->SetChID(0);
        else if (version <= 6 && !StartsWith(type, "spikes") && !StartsWith(type, "average"))
            channel->SetChID(static_cast<int32_t>(k));
        m_Channels[k] = std::move(channel);
    }

    const int format = ReadFormat(file);
    if (format != STREAM_READ) return format;

    BuildNames(version);
    return std::strlen(GetBufferID()) > 8 ? STREAM_BUFFERID_TOO_LONG : STREAM_READ;
}

int CKVXAStream::ReadFormat(FILE* file)
{
    char id[8];
    uint64_t size = 0;
    if (!kvd::ReadChunkHead(file, id, size)) return STREAM_UNREADABLE;
    kvd::UpperId(id);
    if (!kvd::IdEquals(id, "STRMFMT ") || size >= kMaxStrmFmtSize) return STREAM_UNREADABLE;

    m_pStrmFmt = std::make_unique<StrmFmt>();
    if (!ReadExact(file, m_pStrmFmt->Data(), 24)) {
        m_pStrmFmt.reset();
        return STREAM_UNREADABLE;
    }
    const bool shortForm = m_pStrmFmt->U16(kFmtVersion) == 0;
    const uint64_t recordLength = shortForm ? 24 : 32;
    // A chunk smaller than its own record would leave a negative count of private bytes.
    if (size < recordLength) {
        m_pStrmFmt.reset();
        return STREAM_UNREADABLE;
    }
    if (shortForm) {
        m_pStrmFmt->SetF64(kSecondScale, m_pStrmFmt->F64(kUnitsPerAD));
    } else if (!ReadExact(file, m_pStrmFmt->Data() + 24, 8)) {
        m_pStrmFmt.reset();
        return STREAM_UNREADABLE;
    }
    m_pStrmFmt->SetU16(kFmtVersion, 1);
    m_qwStrmFmtSize = shortForm ? size + 8 : size;

    m_StrmFmtPrivate.assign(size - recordLength, 0);
    if (!ReadExact(file, m_StrmFmtPrivate.data(), m_StrmFmtPrivate.size())) {
        m_StrmFmtPrivate.clear();
        m_pStrmFmt.reset();
        return STREAM_UNREADABLE;
    }
    return STREAM_READ;
}

void CKVXAStream::BuildNames(uint16_t fileVersion)
{
    std::memset(m_szLegacyType, 0, sizeof m_szLegacyType);
    std::memset(m_szDataChunkID, 0, sizeof m_szDataChunkID);
    if (fileVersion >= 5) {
        std::strncpy(m_szDataChunkID, GetBufferID(), 8);
        return;
    }

    char* bufferID = m_pStrmHdr->Text(kBufferID);
    const char* name = GetName();
    uint16_t number = 1;
    bool rawName = false;
    for (const RawName& raw : kRawNames) {
        if (StartsWith(name, raw.name)) {
            std::snprintf(bufferID, kBufferIDWidth, "%s%04x", raw.prefix, number);
            rawName = true;
            break;
        }
    }
    if (!rawName) number = TrailingNumber(name);

    char lowered[9] = {};
    const char* type = GetDataType();
    for (std::size_t i = 0; i < 8 && type[i]; ++i)
        lowered[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(type[i])));
    for (const LegacyType& legacy : kLegacyTypes) {
        if (!StartsWith(lowered, legacy.dataType)) continue;
        std::snprintf(m_szLegacyType, sizeof m_szLegacyType, "%s", legacy.tag);
        if (legacy.prefix) std::snprintf(bufferID, kBufferIDWidth, "%s%04x", legacy.prefix, number);
        break;
    }
    std::snprintf(m_szDataChunkID, sizeof m_szDataChunkID, "%05x%s", static_cast<unsigned>(GetID()), m_szLegacyType);
}

CKVXAStream* CKVXAStream::Clone(CKVXAStreamFile* streamFile) const
{
    auto* copy = new CKVXAStream(streamFile);
    copy->m_qwStrmHdrSize = m_qwStrmHdrSize;
    copy->m_qwStrmFmtSize = m_qwStrmFmtSize;
    copy->m_StrmFmtPrivate = m_StrmFmtPrivate;
    if (m_pStrmHdr) copy->m_pStrmHdr = std::make_unique<StrmHdr>(*m_pStrmHdr);
    copy->m_Channels.resize(m_Channels.size());
    for (std::size_t i = 0; i < m_Channels.size(); ++i)
        if (m_Channels[i]) copy->m_Channels[i].reset(m_Channels[i]->Clone());
    std::memcpy(copy->m_szDataChunkID, m_szDataChunkID, sizeof m_szDataChunkID);
    std::memcpy(copy->m_szLegacyType, m_szLegacyType, sizeof m_szLegacyType);
    if (m_pStrmFmt) {
        copy->m_pStrmFmt = std::make_unique<StrmFmt>(*m_pStrmFmt);
        copy->m_pStrmFmt->SetU16(kFmtVersion, 1);
    }
    return copy;
}

int CKVXAStream::WriteHdr(FILE* file) const
{
    uint64_t hdrSize = StrmHdr::kSize;
    for (const auto& channel : m_Channels)
        if (channel) hdrSize += channel->GetHdrSize();
    uint8_t head[16];
    std::memcpy(head, "STRMHDR ", 8);
    kvd::StoreU64(head + 8, hdrSize);
    kvd::WriteExact(file, head, sizeof head);
    if (m_pStrmHdr) kvd::WriteExact(file, m_pStrmHdr->Data(), StrmHdr::kSize);
    for (const auto& channel : m_Channels)
        if (channel) channel->WriteHdr(file);

    std::memcpy(head, "STRMFMT ", 8);
    kvd::StoreU64(head + 8, m_qwStrmFmtSize);
    kvd::WriteExact(file, head, sizeof head);
    if (m_pStrmFmt) kvd::WriteExact(file, m_pStrmFmt->Data(), StrmFmt::kSize);
    kvd::WriteExact(file, m_StrmFmtPrivate.data(), m_StrmFmtPrivate.size());
    return 0;
}

void CKVXAStream::GetMaxChannelPos(int32_t& x, int32_t& y) const
{
    x = 0;
    y = 0;
    for (const auto& channel : m_Channels) {
        if (!channel) continue;
        if (channel->GetPosX() > x) x = channel->GetPosX();
        if (channel->GetPosY() > y) y = channel->GetPosY();
    }
}

int32_t CKVXAStream::RelativePos(int16_t index, bool wantX) const
{
    if (index >= GetChannelCount()) return -1;
    const CKVXAChannel* channel = GetChannel(index);
    if (!channel) return -1;
    int32_t maxX, maxY;
    GetMaxChannelPos(maxX, maxY);
    const int64_t max = wantX ? maxX : maxY;
    if (max == 0) return 0;
    const int64_t pos = wantX ? channel->GetPosX() : channel->GetPosY();
    return static_cast<int32_t>(pos * 100 / max);
}

int32_t CKVXAStream::GetRelativeChannelPosX(int16_t index) const { return RelativePos(index, true); }
int32_t CKVXAStream::GetRelativeChannelPosY(int16_t index) const { return RelativePos(index, false); }
