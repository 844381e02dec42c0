#include "streams/KVXAStream.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "io/FileIO.h"
#include "streams/KVXAChunk.h"
#include "streams/KVXAChunkTable.h"
#include "settings/KVXAInfoAverage.h"
#include "settings/KVXAInfoBurstParameter.h"
#include "settings/KVXAInfoChannelTool.h"
#include "settings/KVXAInfoFilter.h"
#include "settings/KVXAInfoParam.h"
#include "settings/KVXAInfoSpike.h"
#include "settings/KVXAInfoSpikeParameter.h"
#include "settings/KVXAInfoTrigger.h"
#include "io/MSettingsReader.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAStreamSource.h"
#include "streams/SampleCache.h"

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
    {"analog", "raw", nullptr}, {"digital", "raw", nullptr}, {"chat", "cht", "chtl"},   {"filter", "flt", "filt"},
    {"params", "par", "para"},  {"trigger", "trg", "trig"},  {"spikes", "spk", "spks"}, {"average", "evp", "mean"},
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

bool CKVXAStream::HasContinuousData() const { return m_pStreamFile && m_pStreamFile->GetRecordingMode() == 0; }

bool CKVXAStream::HasRawData() const { return HasRawSamples(m_Kind); }

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
    m_Kind = StreamKindOf(m_pStrmHdr->Text(kDataType));

    // Some writers store a channel count but no channel records: the format chunk follows at once.
    const uint64_t mark = kvd::Tell(file);
    if (!ReadExact(file, id, sizeof id)) return STREAM_UNREADABLE;
    kvd::UpperId(id);
    if (kvd::IdEquals(id, "STRMFMT ")) m_pStrmHdr->SetU32(kChannelCount, 0);
    if (!kvd::SeekTo(file, mark)) return STREAM_UNREADABLE;

    const uint32_t count = m_pStrmHdr->U32(kChannelCount);
    if (count != 0 && static_cast<uint64_t>(count) * kMinChannelRecord > kvd::BytesLeft(file)) return STREAM_UNREADABLE;
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

CKVXAStream* CKVXAStream::Clone(CKVXAStreamSource* streamFile) const
{
    auto* copy = new CKVXAStream(streamFile);
    copy->m_Kind = m_Kind;
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

// ---- Chunk navigation ---------------------------------------------------------------------------------

namespace {

constexpr std::size_t kNone = CKVXAChunkTable::npos;
constexpr uint64_t kNsPerSecond = 1000000000ULL;

using kvd::ReadAt;

// Samples per channel in a chunk of `size` data bytes with `k` channels.
uint64_t SamplesIn(uint64_t size, uint64_t k) { return k ? (size / 2) / k : 0; }

// A taker that copies the samples handed over into `buffer`.
CKVXAStream::ChannelTaker CopyInto(int16_t* buffer)
{
    return [buffer](const int16_t* samples, uint64_t n, uint64_t at) {
        std::memcpy(buffer + at, samples, static_cast<std::size_t>(n) * sizeof *buffer);
    };
}

}  // namespace

CKVXAChunkTable* CKVXAStream::ChunkTable(std::size_t& s)
{
    if (!m_pStreamFile || !m_pStrmHdr || !m_pStreamFile->GetFilePointer()) return nullptr;
    if (m_lStreamIndex < 0) m_lStreamIndex = m_pStreamFile->GetStreamIndex(this);
    if (m_lStreamIndex < 0) return nullptr;
    CKVXAChunkTable* table = m_pStreamFile->GetChunkTable();
    if (!table || static_cast<std::size_t>(m_lStreamIndex) >= table->StreamCount()) return nullptr;
    s = static_cast<std::size_t>(m_lStreamIndex);
    return table;
}

void CKVXAStream::FillChunk(CKVXAChunk& chunk, CKVXAChunkTable& table, std::size_t s, std::size_t entry)
{
    const KVXAChunkEntry& e = table.At(s, entry);
    chunk.SetChunkID(e.id);
    chunk.GetTimeStampFrom()->SetTimeStamp(e.from);
    chunk.GetTimeStampTo()->SetTimeStamp(e.to);
    chunk.SetStartReference(m_pStreamFile->GetStartTime()->GetTimeStamp());
    chunk.SetSize(e.size);
    chunk.SetDataPosition(e.dataPosition);
    chunk.SetFile(m_pStreamFile->GetFilePointer());
    chunk.SetStream(this);
}

void CKVXAStream::SetCurrent(CKVXAChunkTable& table, std::size_t s, std::size_t entry)
{
    if (!m_pCurrentChunk) m_pCurrentChunk = std::make_unique<CKVXAChunk>();
    FillChunk(*m_pCurrentChunk, table, s, entry);
    m_lCurrentEntry = entry;
}

bool CKVXAStream::StepCurrent(CKVXAChunkTable& table, std::size_t s)
{
    if (!m_pCurrentChunk || !table.Has(s, m_lCurrentEntry + 1)) return false;
    SetCurrent(table, s, m_lCurrentEntry + 1);
    return true;
}

void CKVXAStream::ForgetChunks()
{
    m_pCurrentChunk.reset();
    m_lCurrentEntry = 0;
    m_lLoadedEntry = kNone;
    m_lStreamIndex = -1;
}

CKVXAChunk* CKVXAStream::ReadChunkFrom(FILE* file)
{
    if (!file || !m_pStreamFile) return nullptr;
    char wanted[8];
    std::memcpy(wanted, m_szDataChunkID, 8);
    kvd::UpperId(wanted);
    KVXAChunkHead head;
    for (;;) {
        const uint64_t at = kvd::Tell(file);
        uint8_t bytes[KVXAChunkHead::kSize];
        if (!ReadExact(file, bytes, sizeof bytes)) return nullptr;
        head.Decode(bytes, sizeof bytes);
        char id[8];
        std::memcpy(id, head.id, sizeof id);
        kvd::UpperId(id);
        if (std::memcmp(id, wanted, 8) == 0) break;
        // Another stream's chunk: skip it by its size. Every step moves at least 16 bytes forward.
        uint64_t next = 0;
        if (!head.NextPosition(at, next) || !kvd::SeekTo(file, next)) return nullptr;
    }
    if (!head.Usable()) return nullptr;
    auto chunk = std::make_unique<CKVXAChunk>();
    chunk->SetHead(head, kvd::Tell(file));
    chunk->SetFile(file);
    chunk->SetStream(this);
    chunk->SetStartReference(m_pStreamFile->GetStartTime()->GetTimeStamp());
    return chunk.release();
}

CKVXAChunk* CKVXAStream::GetFirstChunk()
{
    if (!m_pStreamFile || !m_pStrmHdr) return nullptr;
    std::size_t s = 0;
    if (CKVXAChunkTable* table = ChunkTable(s)) {
        if (!table->Has(s, 0)) return nullptr;
        auto chunk = std::make_unique<CKVXAChunk>();
        FillChunk(*chunk, *table, s, 0);
        return chunk.release();
    }
    FILE* file = m_pStreamFile->GetFilePointer();
    if (!file || !kvd::SeekTo(file, m_pStreamFile->GetFirstChunkPosition())) return nullptr;
    return ReadChunkFrom(file);
}

CKVXAChunk* CKVXAStream::GetNextChunk(CKVXAChunk* chunk)
{
    if (!chunk || !m_pStreamFile || !m_pStrmHdr || !m_pStreamFile->GetFilePointer()) return nullptr;
    std::unique_ptr<CKVXAChunk> next;
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    const std::size_t entry = table ? table->FindDataPosition(s, chunk->GetDataPosition()) : kNone;
    if (entry != kNone) {
        if (!table->Has(s, entry + 1)) return nullptr;
        next = std::make_unique<CKVXAChunk>();
        FillChunk(*next, *table, s, entry + 1);
    } else {
        // A chunk this stream's walk did not produce: continue from its end in the file.
        FILE* file = m_pStreamFile->GetFilePointer();
        const uint64_t end = chunk->GetEndPosition();
        if (end < chunk->GetDataPosition() || !kvd::SeekTo(file, end)) return nullptr;
        next.reset(ReadChunkFrom(file));
        if (!next) return nullptr;
    }
    delete chunk;
    return next.release();
}

CKVXAChunk* CKVXAStream::GetChunkNextTo(const CKVXATimeStamp* t)
{
    if (!t) return nullptr;
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    if (!table) return nullptr;
    const uint64_t time = t->GetTimeStamp();
    // Start at the chunk the index names for this time, so that the search is bounded by the index spacing.
    std::size_t first = 0;
    uint64_t indexed = 0;
    if (m_pStreamFile->GetIndexedChunkPosition(time, indexed)) {
        first = table->FindAtOrAfter(s, indexed);
        if (first == kNone) return nullptr;
    }
    const std::size_t entry = table->FindToAfter(s, first, time);
    if (entry == kNone) return nullptr;
    auto chunk = std::make_unique<CKVXAChunk>();
    FillChunk(*chunk, *table, s, entry);
    return chunk.release();
}

bool CKVXAStream::MoveToChunk(const CKVXATimeStamp* t) { return t && MoveToNs(t->GetTimeStamp()); }

bool CKVXAStream::MoveToNs(uint64_t t)
{
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    if (!table) return false;
    if (!m_pCurrentChunk || t < m_pCurrentChunk->GetFrom()) {
        if (!table->Has(s, 0)) return false;
        SetCurrent(*table, s, 0);
    }
    const std::size_t entry = table->FindToAfter(s, m_lCurrentEntry, t);
    if (entry == kNone) {
        // The walk ran out of chunks: it stays on the stream's last chunk.
        if (table->Known(s) > 0) SetCurrent(*table, s, table->Known(s) - 1);
        return false;
    }
    SetCurrent(*table, s, entry);
    return true;
}

const int16_t* CKVXAStream::LoadEntry(CKVXAChunkTable& table, std::size_t s, std::size_t entry)
{
    if (entry == m_lLoadedEntry) return m_ChunkData.data();
    const KVXAChunkEntry& e = table.At(s, entry);
    // A chunk whose data runs past the end of the file cannot be read: nothing is allocated for it.
    const uint64_t fileSize = m_pStreamFile->GetFileSize();
    if (e.dataPosition > fileSize || e.size > fileSize - e.dataPosition) return nullptr;
    const std::size_t words = static_cast<std::size_t>((e.size + 1) / 2);
    // While the chunk table has yet to scan the heads right after the chunk, the bytes after it come with it:
    // they hold the heads up to the stream's next chunk, which the table then need not read on its own.
    constexpr std::size_t kTrail = CKVXAChunkTable::kTrailBytes;
    const std::size_t trail =
        table.Wants(e.End()) ? static_cast<std::size_t>(std::min<uint64_t>(kTrail, fileSize - e.End())) : 0;
    if (m_ChunkData.size() < words + kTrail / 2 + 1) {
        // Sized for the largest chunk seen so far, so that a walk over a stream allocates once or twice.
        const uint64_t largest = std::min(table.LargestChunk(s), fileSize);
        m_ChunkData.resize(std::max<std::size_t>(words, static_cast<std::size_t>((largest + 1) / 2)) + kTrail / 2 + 1);
    }
    m_lLoadedEntry = kNone;
    auto* bytes = reinterpret_cast<uint8_t*>(m_ChunkData.data());
    // A small chunk whose head the table has just read mostly lies in the window read for that head.
    if (!table.CopyKept(e.dataPosition, e.size, bytes) && !table.CopyWindowed(e.dataPosition, e.size, bytes)) {
        const std::size_t size = static_cast<std::size_t>(e.size);
        const std::size_t got = kvd::ReadUpTo(m_pStreamFile->GetFilePointer(), e.dataPosition, bytes, size + trail);
        if (got < size) return nullptr;
        if (trail) table.Offer(e.End(), bytes + size, got - size);
    }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    for (std::size_t i = 0; i < words; ++i) {
        const auto* b = reinterpret_cast<const uint8_t*>(&m_ChunkData[i]);
        m_ChunkData[i] = kvd::LoadI16(b);
    }
#endif
    m_lLoadedEntry = entry;
    return m_ChunkData.data();
}

// ---- Raw data -----------------------------------------------------------------------------------------

uint64_t CKVXAStream::RawDataBufferSizeNs(uint64_t from, uint64_t to) const
{
    const int32_t rate = GetMilliSamplesPerSecond() / 1000;
    const int32_t k = GetChannelCount();
    if (!HasRawData() || from > to || rate <= 0 || k <= 0) return 0;
    // floor(span * rate / 1e9) without overflow.
    const uint64_t span = to - from;
    const uint64_t samples = (span / kNsPerSecond) * static_cast<uint64_t>(rate) +
                             (span % kNsPerSecond) * static_cast<uint64_t>(rate) / kNsPerSecond;
    if (samples > UINT64_MAX / static_cast<uint64_t>(k)) return UINT64_MAX;
    return samples * static_cast<uint64_t>(k);
}

int32_t CKVXAStream::GetRawDataBufferSize(const CKVXATimeStamp* from, const CKVXATimeStamp* to)
{
    if (!from || !to) return 0;
    const uint64_t values = RawDataBufferSizeNs(from->GetTimeStamp(), to->GetTimeStamp());
    return values > static_cast<uint64_t>(INT32_MAX) ? 0 : static_cast<int32_t>(values);
}

uint64_t CKVXAStream::RecordingSamples() const
{
    if (!HasRawData() || !HasContinuousData()) return 0;
    const uint64_t start = m_pStreamFile->GetStartTime()->GetTimeStamp();
    const uint64_t stop = m_pStreamFile->GetStopTime()->GetTimeStamp();
    // At the stream's own rate: a stream sampled below the recording's rate (a downsampling filter) holds
    // fewer samples than the recording's rate would announce. A stream without a rate takes the file's.
    const int32_t own = GetMilliSamplesPerSecond();
    const int32_t msps = own > 0 ? own : m_pStreamFile->GetMillisamplesPerSecond();
    if (stop <= start || msps <= 0) return 0;
    // Whole milliseconds times samples per millisecond (msps / 1e6, kept exact for rates of no whole kHz).
    const uint64_t ms = (stop - start) / 1000000ULL;
    if (ms > UINT64_MAX / static_cast<uint64_t>(msps)) return UINT64_MAX;
    return ms * static_cast<uint64_t>(msps) / 1000000ULL;
}

int32_t CKVXAStream::GetRawDataBufferSizeOfChannel()
{
    const uint64_t samples = RecordingSamples();
    return samples > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(samples);
}

int32_t CKVXAStream::GetRawDataOfChannel(int16_t* buffer, int32_t channel)
{
    if (!buffer || !HasRawData() || !HasContinuousData()) return 0;
    const int32_t k = GetChannelCount();
    if (k <= 0 || channel < 0 || channel >= k) return 0;
    const uint64_t limit = static_cast<uint64_t>(std::max(GetRawDataBufferSizeOfChannel(), 0));
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    if (!table) return 0;
    uint64_t total = 0;
    const ChannelTaker copy = CopyInto(buffer);
    for (std::size_t e = 0; total < limit && table->Has(s, e); ++e) {
        const uint64_t n = std::min(SamplesIn(table->At(s, e).size, k), limit - total);
        if (!TakeFromEntry(*table, s, e, k, channel, 0, n, total, copy)) break;
        total += n;
    }
    return static_cast<int32_t>(total);
}

bool CKVXAStream::TakeFromEntry(CKVXAChunkTable& table, std::size_t s, std::size_t entry, int32_t k, int32_t channel,
                                uint64_t from, uint64_t n, uint64_t at, const ChannelTaker& take)
{
    if (n == 0) return true;
    // A stream of one channel has no other channels to serve from its chunks.
    CSampleCache* cache = k > 1 ? m_pStreamFile->GetSampleCache() : nullptr;
    const uint64_t key = CSampleCache::Key(s, entry);
    const uint32_t channels = static_cast<uint32_t>(k);
    const uint32_t wanted = static_cast<uint32_t>(channel);
    auto fromCache = [&](const int16_t* samples) { take(samples, n, at); };
    if (cache && cache->Visit(key, wanted, from, n, fromCache)) return true;
    const int16_t* data = LoadEntry(table, s, entry);
    if (!data) return false;
    const uint64_t samples = SamplesIn(table.At(s, entry).size, channels);
    if (cache && cache->Wanted(key, channels, samples, wanted) && cache->Add(key, data, channels, samples) &&
        cache->Visit(key, wanted, from, n, fromCache))
        return true;
    const int16_t* src = data + from * channels + wanted;
    if (k == 1) {
        take(src, n, at);
        return true;
    }
    if (m_ChannelScratch.size() < n) m_ChannelScratch.resize(static_cast<std::size_t>(n));
    for (uint64_t i = 0; i < n; ++i, src += k) m_ChannelScratch[i] = *src;
    take(m_ChannelScratch.data(), n, at);
    return true;
}

int32_t CKVXAStream::GetRawDataOfChannelStartCount(int16_t* buffer, int32_t channel, int64_t start, int32_t count)
{
    if (!buffer || count <= 0) return 0;
    return static_cast<int32_t>(TakeChannel(channel, start, count, CopyInto(buffer)));
}

int64_t CKVXAStream::TakeChannel(int32_t channel, int64_t start, int64_t count, const ChannelTaker& take)
{
    if (start < 0 || count <= 0 || !HasRawData() || !HasContinuousData()) return 0;
    const int32_t k = GetChannelCount();
    if (k <= 0 || channel < 0 || channel >= k) return 0;
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    if (!table) return 0;
    uint64_t sample = static_cast<uint64_t>(start);
    std::size_t e = table->FindSample(s, sample);
    if (e == kNone) return 0;
    int64_t delivered = 0;
    while (delivered < count && table->Has(s, e)) {
        SetCurrent(*table, s, e);
        const KVXAChunkEntry& entry = table->At(s, e);
        const uint64_t inChunk = SamplesIn(entry.size, k);
        const uint64_t chunkStart = entry.samplesEnd - inChunk;
        if (sample >= chunkStart && sample < entry.samplesEnd) {
            const uint64_t n = std::min<uint64_t>(entry.samplesEnd - sample, static_cast<uint64_t>(count - delivered));
            if (!TakeFromEntry(*table, s, e, k, channel, sample - chunkStart, n, static_cast<uint64_t>(delivered),
                               take))
                break;
            delivered += static_cast<int64_t>(n);
            sample += n;
        }
        ++e;
    }
    return delivered;
}

int32_t CKVXAStream::GetRawData(int16_t* buffer, int32_t max, const CKVXATimeStamp* from, const CKVXATimeStamp* to)
{
    if (!from || !to) return 0;
    return GetRawDataNs(buffer, max, from->GetTimeStamp(), to->GetTimeStamp());
}

template <typename Copy>
uint64_t CKVXAStream::WalkValuesNs(CKVXAChunkTable& table, std::size_t s, uint64_t from, uint64_t to, uint64_t limit,
                                   Copy copy)
{
    uint64_t count = 0;
    // Hands over up to n values of the current chunk from value `offset`, within the chunk and the limit.
    auto part = [&](uint64_t offset, uint64_t n) {
        const uint64_t values = m_pCurrentChunk->GetDataSize() / 2;
        if (offset >= values) return true;
        n = std::min({n, values - offset, limit - count});
        if (n == 0) return true;
        if (!copy(offset, n, count)) return false;
        count += n;
        return true;
    };
    const CKVXAChunk* chunk = m_pCurrentChunk.get();
    if (chunk->GetFrom() < from && from < chunk->GetTo()) {
        // The first chunk is covered from `from` on.
        const uint64_t n = RawDataBufferSizeNs(from, std::min(to, chunk->GetTo()));
        if (!part(RawDataBufferSizeNs(chunk->GetFrom(), from), n) || count == limit || !StepCurrent(table, s))
            return count;
    }
    while (to >= m_pCurrentChunk->GetTo()) {
        if (!part(0, m_pCurrentChunk->GetDataSize() / 2) || count == limit || !StepCurrent(table, s)) return count;
    }
    if (m_pCurrentChunk->GetFrom() < to) part(0, RawDataBufferSizeNs(m_pCurrentChunk->GetFrom(), to));
    return count;
}

int32_t CKVXAStream::GetRawDataNs(int16_t* buffer, int32_t max, uint64_t from, uint64_t to)
{
    if (!buffer || max <= 0 || !HasRawData() || from > to || !MoveToNs(from)) return 0;
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    if (!table) return 0;
    const uint64_t count =
        WalkValuesNs(*table, s, from, to, static_cast<uint64_t>(max), [&](uint64_t offset, uint64_t n, uint64_t at) {
            // A whole chunk goes straight into the caller's buffer.
            if (offset == 0 && n * 2 == m_pCurrentChunk->GetDataSize() && m_lCurrentEntry != m_lLoadedEntry)
                return m_pCurrentChunk->ReadData(buffer + at) == static_cast<int32_t>(n * 2);
            const int16_t* data = LoadEntry(*table, s, m_lCurrentEntry);
            if (!data) return false;
            std::memcpy(buffer + at, data + offset, static_cast<std::size_t>(n) * 2);
            return true;
        });
    return static_cast<int32_t>(count);
}

// ---- Sweeps -------------------------------------------------------------------------------------------

bool CKVXAStream::SweepSpan(int32_t sweep, uint64_t& start, uint64_t& end) const
{
    return m_pStreamFile && sweep >= 0 && m_pStreamFile->GetSweepSpan(sweep, start, end);
}

int32_t CKVXAStream::GetSweepRawDataBufferSize(int32_t sweep)
{
    uint64_t start = 0, end = 0;
    if (!HasRawData() || HasContinuousData() || !SweepSpan(sweep, start, end)) return 0;
    uint64_t values = RawDataBufferSizeNs(start, end);
    // A sweep cannot hold more sample words than the file has bytes: a damaged sweep list must not make
    // callers allocate for data that is not there.
    const uint64_t k = static_cast<uint64_t>(GetChannelCount());
    const uint64_t fileWords = m_pStreamFile->GetFileSize() / 2;
    if (values > fileWords) values = fileWords - fileWords % k;
    return values > static_cast<uint64_t>(INT32_MAX) ? 0 : static_cast<int32_t>(values);
}

int32_t CKVXAStream::GetSweepRawData(int16_t* buffer, int32_t max, int32_t sweep)
{
    uint64_t start = 0, end = 0;
    if (!HasRawData() || HasContinuousData() || !SweepSpan(sweep, start, end)) return 0;
    return GetRawDataNs(buffer, max, start, end);
}

int32_t CKVXAStream::GetSweepRawData(int16_t* buffer, int32_t max, int32_t sweep, int32_t first, int32_t count)
{
    uint64_t start = 0, end = 0;
    const int32_t msps = GetMilliSamplesPerSecond();
    if (!HasRawData() || HasContinuousData() || first < 0 || count <= 0 || msps <= 0 || !SweepSpan(sweep, start, end))
        return 0;
    // Sample offsets to nanoseconds, truncated to whole microseconds.
    const uint64_t m = static_cast<uint64_t>(msps);
    const uint64_t from = start + (static_cast<uint64_t>(first) * kNsPerSecond / m) * 1000ULL;
    const uint64_t to =
        start + ((static_cast<uint64_t>(first) + static_cast<uint64_t>(count)) * kNsPerSecond / m) * 1000ULL;
    return GetRawDataNs(buffer, max, from, to);
}

int32_t CKVXAStream::GetSweepRawDataOfChannel(int16_t* buffer, int32_t max, int32_t sweep, int32_t channel)
{
    return GetSweepSamplesOfChannel(buffer, sweep, channel, 0, max);
}

int32_t CKVXAStream::GetSweepSamplesOfChannel(int16_t* buffer, int32_t sweep, int32_t channel, uint32_t first,
                                              int32_t count)
{
    const int32_t k = GetChannelCount();
    if (!buffer || count <= 0 || k <= 0 || channel < 0 || channel >= k) return 0;
    const int32_t values = GetSweepRawDataBufferSize(sweep);
    uint64_t start = 0, end = 0;
    if (values <= 0 || !SweepSpan(sweep, start, end)) return 0;
    const uint32_t samples = static_cast<uint32_t>(values / k);
    if (first >= samples) return 0;
    // The channel is picked out chunk by chunk: no copy of the other channels' samples is made.
    const int32_t n = static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(count), samples - first));
    return static_cast<int32_t>(GetRawDataOfChannelNs(buffer, n, start, end, channel, first));
}

int64_t CKVXAStream::GetRawDataOfChannelNs(int16_t* buffer, int32_t max, uint64_t from, uint64_t to, int32_t channel,
                                           uint64_t skip)
{
    const uint64_t k = static_cast<uint64_t>(GetChannelCount());
    if (!buffer || max <= 0 || !HasRawData() || from > to || !MoveToNs(from)) return 0;
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    if (!table) return 0;
    // Of the interleaved values, keeps those of the channel: value u of the range is sample u / k. Values
    // before sample `skip` are counted but not read.
    const uint64_t first = skip * k;
    const uint64_t count = WalkValuesNs(
        *table, s, from, to, (skip + static_cast<uint64_t>(max)) * k, [&](uint64_t offset, uint64_t n, uint64_t at) {
            if (at + n <= first) return true;
            const int16_t* data = LoadEntry(*table, s, m_lCurrentEntry);
            if (!data) return false;
            const uint64_t begin = std::max(at, first);
            for (uint64_t u = begin + (static_cast<uint64_t>(channel) + k - begin % k) % k; u < at + n; u += k)
                buffer[(u - first) / k] = data[offset + (u - at)];
            return true;
        });
    return count / k > skip ? static_cast<int64_t>(count / k - skip) : 0;
}

uint64_t CKVXAStream::WalkSpanNs(uint64_t from, uint64_t to, uint64_t limit,
                                 const std::function<void(uint64_t, uint64_t, uint64_t)>& part)
{
    if (!HasRawData() || from > to || limit == 0 || !MoveToNs(from)) return 0;
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    if (!table) return 0;
    return WalkValuesNs(*table, s, from, to, limit, [&](uint64_t offset, uint64_t n, uint64_t) {
        part(m_pCurrentChunk->GetDataPosition(), offset, n);
        return true;
    });
}

int32_t CKVXAStream::GetSweepRawDataOfChannel(int16_t* buffer, int32_t max, int32_t sweep, int32_t channel,
                                              int32_t first, int32_t count)
{
    const int32_t k = GetChannelCount();
    if (!buffer || max <= 0 || k <= 0 || channel < 0 || channel >= k || count <= 0) return 0;
    if (static_cast<int64_t>(count) * k > INT32_MAX) return 0;
    const int32_t values = count * k;
    if (m_SweepScratch.size() < static_cast<std::size_t>(values))
        m_SweepScratch.resize(static_cast<std::size_t>(values));
    const int32_t got = GetSweepRawData(m_SweepScratch.data(), values, sweep, first, count);
    const int32_t n = std::min(got / k, max);
    for (int32_t i = 0; i < n; ++i) buffer[i] = m_SweepScratch[static_cast<std::size_t>(i) * k + channel];
    return n;
}

// ---- Event navigation ----------------------------------------------------------------------------------
// A chunk's first-event factory hands the chunk over to the cursor it makes; chunks that yield none stay
// with the walk, which releases them as it steps on.

CKVXAEvent* CKVXAStream::GetFirstEvent()
{
    // The walk owns its chunk until a cursor takes it over, also when a step throws.
    std::unique_ptr<CKVXAChunk> chunk(GetFirstChunk());
    while (chunk) {
        if (CKVXAEvent* cursor = chunk->GetFirstEvent()) {
            (void)chunk.release();  // now the cursor's
            return cursor;
        }
        CKVXAChunk* next = GetNextChunk(chunk.get());
        if (!next) break;
        (void)chunk.release();  // deleted by GetNextChunk
        chunk.reset(next);
    }
    return nullptr;
}

CKVXAEvent* CKVXAStream::GetEventsOfChunkAt(uint64_t dataPosition)
{
    if (!m_pStreamFile || !m_pStrmHdr || !m_pStreamFile->GetFilePointer()) return nullptr;
    std::size_t s = 0;
    CKVXAChunkTable* table = ChunkTable(s);
    const std::size_t entry = table ? table->FindDataPosition(s, dataPosition) : kNone;
    std::unique_ptr<CKVXAChunk> chunk;
    if (entry != kNone) {
        chunk = std::make_unique<CKVXAChunk>();
        FillChunk(*chunk, *table, s, entry);
    } else {
        // A chunk this stream's walk did not produce (GetNextChunk reads such chunks from the file).
        FILE* file = m_pStreamFile->GetFilePointer();
        if (dataPosition < CKVXAChunk::kHeadSize || !kvd::SeekTo(file, dataPosition - CKVXAChunk::kHeadSize))
            return nullptr;
        chunk.reset(ReadChunkFrom(file));
        if (!chunk || chunk->GetDataPosition() != dataPosition) return nullptr;
    }
    CKVXAEvent* cursor = chunk->GetFirstEvent();
    if (cursor) (void)chunk.release();  // now the cursor's
    return cursor;
}

int32_t CKVXAStream::GetNextEvent(CKVXAEvent* cursor)
{
    (void)cursor;
    return 0;
}

CKVXAEvent* CKVXAStream::GetEventNextTo(const CKVXATimeStamp* t)
{
    if (!t) return nullptr;
    CKVXAChunk* chunk = GetChunkNextTo(t);
    if (!chunk) return nullptr;
    const bool raw =
        m_Kind == KVXAStreamKind::Analog || m_Kind == KVXAStreamKind::Chat || m_Kind == KVXAStreamKind::Filter;
    CKVXAEvent* cursor = chunk->GetFirstEvent();
    while (!cursor) {
        CKVXAChunk* next = GetNextChunk(chunk);
        if (!next) break;
        chunk = next;
        cursor = chunk->GetFirstEvent();
        if (!cursor && raw) break;
    }
    if (!cursor) {
        delete chunk;
        return nullptr;
    }
    const uint64_t time = t->GetTimeStamp();
    while (cursor->GetRawTimeStamp() < time)
        if (!cursor->Next()) break;
    return cursor;
}

void CKVXAStream::EventCountFromTo(const CKVXATimeStamp* from, const CKVXATimeStamp* to, int32_t* counters,
                                   int32_t counterCount)
{
    if (!from || !to || !counters || counterCount <= 0) return;
    std::unique_ptr<CKVXAEvent> cursor(GetEventNextTo(from));
    if (!cursor) return;
    auto* spike = m_Kind == KVXAStreamKind::Spikes ? dynamic_cast<CKVXAEvtSpike*>(cursor.get()) : nullptr;
    const uint64_t first = from->GetTimeStamp();
    const uint64_t end = to->GetTimeStamp();
    do {
        const uint64_t t = cursor->GetRawTimeStamp();
        if (t >= end) break;
        // A cursor left on the stream's last record may lie before `from`.
        if (t < first) continue;
        const int32_t index = spike ? spike->GetChannel() : 0;
        if (index < counterCount) ++counters[index];
    } while (cursor->Next());
}

// ---- Information block ---------------------------------------------------------------------------------

namespace {

// Reads the settings that follow the tag (the whole block for "params") into a new information block;
// null when the settings cannot be decoded.
using InfoReader = std::unique_ptr<CKVXAInfo> (*)(const CKVXAStream& stream, CMSettingsReader& in, uint16_t version);

// The software major version of the writer of the stream's file: trigger records (also those of old spike
// blocks) carry a parameter-trigger section from major version 3 on.
int32_t WriterMajorVersion(const CKVXAStream& stream)
{
    const CKVXAStreamSource* file = stream.GetStreamFile();
    return file ? static_cast<int32_t>(file->GetSoftwareVersionMajor()) : 0;
}

std::unique_ptr<CKVXAInfo> ReadTriggerInfo(const CKVXAStream& stream, CMSettingsReader& in, uint16_t version)
{
    auto info = std::make_unique<CKVXAInfoTrigger>();
    if (!info->ReadTriggerFormatInfo(in, version, WriterMajorVersion(stream))) return nullptr;
    return info;
}

std::unique_ptr<CKVXAInfo> ReadFilterInfo(const CKVXAStream&, CMSettingsReader& in, uint16_t version)
{
    auto info = std::make_unique<CKVXAInfoFilter>();
    if (!info->FromFormatInfo(in, version)) return nullptr;
    return info;
}

std::unique_ptr<CKVXAInfo> ReadSpikeInfo(const CKVXAStream& stream, CMSettingsReader& in, uint16_t version)
{
    auto info = std::make_unique<CKVXAInfoSpike>();
    if (!info->ReadSpikeFormatInfo(in, version, WriterMajorVersion(stream))) return nullptr;
    return info;
}

std::unique_ptr<CKVXAInfo> ReadChannelToolInfo(const CKVXAStream&, CMSettingsReader& in, uint16_t)
{
    auto info = std::make_unique<CKVXAInfoChannelTool>();
    if (!info->FromFormatInfo(in)) return nullptr;
    return info;
}

std::unique_ptr<CKVXAInfo> ReadAverageInfo(const CKVXAStream&, CMSettingsReader& in, uint16_t version)
{
    // The budget is what follows the tag.
    auto info = std::make_unique<CKVXAInfoAverage>();
    if (!info->ReadEvokedFormatInfo(in, static_cast<uint32_t>(in.Remaining()), version)) return nullptr;
    return info;
}

std::unique_ptr<CKVXAInfo> ReadSpikeParameterInfo(const CKVXAStream&, CMSettingsReader& in, uint16_t)
{
    auto info = std::make_unique<CKVXAInfoSpikeParameter>();
    if (!info->ReadSpikeParameterFormatInfo(in)) return nullptr;
    return info;
}

std::unique_ptr<CKVXAInfo> ReadBurstParameterInfo(const CKVXAStream&, CMSettingsReader& in, uint16_t)
{
    auto info = std::make_unique<CKVXAInfoBurstParameter>();
    if (!info->ReadBurstParameterFormatInfo(in)) return nullptr;
    return info;
}

std::unique_ptr<CKVXAInfo> ReadParamInfo(const CKVXAStream& stream, CMSettingsReader& in, uint16_t version)
{
    // The budget is the whole block; the parameter values convert with the stream's AD format.
    auto info = std::make_unique<CKVXAInfoParam>();
    if (!info->ReadAnalyzerFormatInfo(in, static_cast<uint32_t>(in.Remaining()), version, stream.GetADBits(),
                                      stream.GetADZero(), stream.GetUnitsPerAD()))
        return nullptr;
    return info;
}

// Each data type with an information block: the tag that opens its settings bytes (null: none at this
// level, the reader checks its own) and the reader of the rest.
struct InfoKind {
    KVXAStreamKind kind;
    const char* tag;
    InfoReader read;
};
const InfoKind kInfoKinds[] = {
    {KVXAStreamKind::Trigger, "PARAMTRG", ReadTriggerInfo},
    {KVXAStreamKind::Chat, "PARAMCHT", ReadChannelToolInfo},
    {KVXAStreamKind::Filter, "PARAMFLT", ReadFilterInfo},
    {KVXAStreamKind::Spikes, "PARAMSPK", ReadSpikeInfo},
    {KVXAStreamKind::Average, "PARAMEVP", ReadAverageInfo},
    {KVXAStreamKind::SpkParam, "PARAMSPP", ReadSpikeParameterInfo},
    {KVXAStreamKind::BstParam, "PARAMBSP", ReadBurstParameterInfo},
    // The analyzer block of "params" streams checks its own tags.
    {KVXAStreamKind::Params, nullptr, ReadParamInfo},
};
constexpr std::size_t kInfoTagLength = 8;

}  // namespace

CKVXAInfo* CKVXAStream::GetInfo() const
{
    const int32_t version = GetHeaderVersion();
    if (version < 0) return nullptr;
    const InfoKind* kind = nullptr;
    for (const InfoKind& k : kInfoKinds)
        if (m_Kind == k.kind) kind = &k;
    if (!kind || !kind->read) return nullptr;
    const uint8_t* bytes = nullptr;
    const int32_t size = GetStreamFormatPrivate(bytes);
    std::size_t skip = 0;
    if (kind->tag) {
        if (!bytes || size < static_cast<int32_t>(kInfoTagLength) || std::memcmp(bytes, kind->tag, kInfoTagLength) != 0)
            return nullptr;
        skip = kInfoTagLength;
    }
    CMSettingsReader in(bytes ? bytes + skip : nullptr, bytes ? static_cast<std::size_t>(size) - skip : 0);
    return kind->read(*this, in, static_cast<uint16_t>(version)).release();
}
