#include "reader/KVXAStreamFile.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "layout/KVLayout.h"
#include "io/FileIO.h"
#include "streams/KVXAChunk.h"
#include "streams/KVXAChunkTable.h"
#include "settings/MGrid9StimulatorProperty.h"
#include "streams/CacheBudget.h"
#include "streams/KVXAStream.h"
#include "streams/SampleCache.h"

using kvd::ReadExact;

int32_t lSoftwareVersionMajor = 0;
int32_t lSoftwareVersionMinor = 0;

void kvd::PublishSoftwareVersion(int32_t major, int32_t minor)
{
    static std::mutex lock;
    const std::lock_guard<std::mutex> hold(lock);
    __atomic_store_n(&lSoftwareVersionMajor, major, __ATOMIC_RELAXED);
    __atomic_store_n(&lSoftwareVersionMinor, minor, __ATOMIC_RELAXED);
}

namespace {

// Smallest stream header a file can hold: both chunk heads, a short STRMHDR and a short STRMFMT record.
constexpr uint64_t kMinStreamHeader = 16 + 792 + 16 + 24;
constexpr std::size_t kMaxPath = 260;

const KVXHDR kEmptyHeader;

}  // namespace

std::size_t KVXHDR::PrefixLength(uint16_t version)
{
    switch (version) {
    case 0: return 808;
    case 1:
    case 2: return 872;
    case 3:
    case 4: return 888;
    case 5: return 912;
    case 6:
    case 7: return 1232;
    case 8:
    case 9: return 2208;
    case 10: return 2320;
    case 11: return 2328;
    default: return 0;
    }
}

CKVXAStreamFile::CKVXAStreamFile()
    : m_pLayout(std::make_unique<CKVLayout>()), m_pStimulator(std::make_unique<CMGrid9StimulatorProperty>())
{}

CKVXAStreamFile::~CKVXAStreamFile() { Destroy(); }

const KVXHDR& CKVXAStreamFile::Hdr() const { return m_pHdr ? *m_pHdr : kEmptyHeader; }

_SYSTEMTIME CKVXAStreamFile::StartCalendar() const
{
    const uint64_t ticks = HeaderStart() / 100ULL;
    const _FILETIME ft{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
    _SYSTEMTIME st{};
    FileTimeToSystemTime(&ft, &st);
    return st;
}

CKVXAStream* CKVXAStreamFile::GetStream(int32_t i) const
{
    if (i < 0 || static_cast<std::size_t>(i) >= m_Streams.size() || i >= GetStreamCount()) return nullptr;
    return m_Streams[i].get();
}

int32_t CKVXAStreamFile::GetStreamIndexForStreamID(const char* id) const
{
    if (!id) return -1;
    char wanted[8] = {};
    std::memcpy(wanted, id, strnlen(id, sizeof wanted));
    for (std::size_t i = 0; i < m_Streams.size(); ++i) {
        const char* bufferID = m_Streams[i] ? m_Streams[i]->GetBufferID() : nullptr;
        if (bufferID && std::memcmp(bufferID, wanted, sizeof wanted) == 0) return static_cast<int32_t>(i);
    }
    return -1;
}

bool CKVXAStreamFile::GetImageData(int32_t i, int32_t* l1, int32_t* l2, int32_t* l3, int32_t* l4, int32_t* l5,
                                   int32_t* l6, double* d1, double* d2, double* d3, double* d4) const
{
    if (!m_pHdr || i < 0 || i >= KVXHDR::kNumberOfImages) return false;
    const std::size_t base = KVXHDR::kImages + KVXHDR::kImageSize * static_cast<std::size_t>(i);
    int32_t* ints[] = {l1, l2, l3, l4, l5, l6};
    double* reals[] = {d1, d2, d3, d4};
    for (std::size_t k = 0; k < 6; ++k)
        if (ints[k]) *ints[k] = m_pHdr->I32(base + 4 * k);
    for (std::size_t k = 0; k < 4; ++k)
        if (reals[k]) *reals[k] = m_pHdr->F64(base + 24 + 8 * k);
    return true;
}

const char* CKVXAStreamFile::GetImageFilePathName(int32_t i) const
{
    if (!m_pHdr || i < 0 || i >= KVXHDR::kNumberOfImages) return nullptr;
    return m_pHdr->Text(KVXHDR::kImages + KVXHDR::kImageSize * static_cast<std::size_t>(i) + KVXHDR::kImagePath);
}

int CKVXAStreamFile::OpenFile(const char* path)
{
    m_qwFirstChunkTime = 0;
    if (m_pFile || m_pHdr) Destroy();
    m_Index.Destroy();
    m_pChunkTable.reset();
    // The first chunk read compares its time with the start time: nothing of a previous file may remain.
    m_TimeStampStartPressed = CKVXATimeStamp();
    m_TimeStampStart = CKVXATimeStamp();
    m_TimeStampStop = CKVXATimeStamp();
    // A reused reader starts from the state of a new one, so that nothing of the previous file decides
    // how this one's triggers are resolved.
    m_lStartTriggerStream = -2;
    m_lStopTriggerStream = -2;
    m_bDiscardTimeIndex = false;
    m_bLongChunks = false;
    if (!path) return FILE_OPEN_FAILED;

    FILE* file = kvd::OpenRegularFile(path);
    if (!file) return FILE_OPEN_FAILED;
    m_pFile = file;
    m_qwFileSize = kvd::FileSize(file);
    m_szPath.assign(path, strnlen(path, kMaxPath - 1));

    char magic[8];
    if (!ReadExact(m_pFile, magic, sizeof magic)) {
        Destroy();
        return WRONG_FILEFORMAT;
    }
    // A wrong magic leaves the file attached until the reader is closed or reused.
    if (!kvd::IdEquals(magic, "KVXSTRM ")) return WRONG_FILEFORMAT;

    if (!ReadHdr()) {
        Destroy();
        return forWRONG_HEADER;
    }

    const uint64_t start = m_pHdr->U64(KVXHDR::kStartTime);
    m_TimeStampStartPressed.SetStart(start);
    m_TimeStampStartPressed.SetTimeStamp(m_pHdr->U64(KVXHDR::kStartPressed));
    m_TimeStampStart.SetStart(start);
    m_TimeStampStart.SetTimeStamp(start);
    m_TimeStampStop.SetStart(start);
    m_TimeStampStop.SetTimeStamp(m_pHdr->U64(KVXHDR::kStopTime));
    SettleStartTime();

    kvd::PublishSoftwareVersion(static_cast<int32_t>(GetSoftwareVersionMajor()),
                                static_cast<int32_t>(GetSoftwareVersionMinor()));

    // Writers 1.0 to 1.33 stored neither a usable recording mode nor a sweep length.
    const uint32_t writer = GetSoftwareVersionMajor();
    if ((writer >> 16) == 1 && (writer & 0xFFFF) <= 33) {
        m_pHdr->SetI32(KVXHDR::kRecordingMode, ReconstructRecordingMode());
        m_pHdr->SetF32(KVXHDR::kPostTrigger, static_cast<float>(ReconstructSweepLength()));
    }

    ResolveTriggers();
    // Made with the file, so that calls that read samples never race to make it.
    m_pSampleCache = std::make_unique<CSampleCache>(CCacheBudget::Process());
    return OK;
}

void CKVXAStreamFile::ResolveTriggers()
{
    if (m_lStartTriggerStream == -2) {
        // Version-0 files name no trigger stream: a single trigger stream is taken as the start trigger.
        if (GetRecordingMode() <= 0) {
            m_lStartTriggerStream = -1;
        } else {
            int32_t triggers = 0;
            int32_t last = -1;
            bool onlyContinuousOrTrigger = true;
            for (std::size_t i = 0; i < m_Streams.size(); ++i) {
                const KVXAStreamKind kind = m_Streams[i]->GetKind();
                if (kind == KVXAStreamKind::Trigger) {
                    ++triggers;
                    last = static_cast<int32_t>(i);
                } else if (!HasRawSamples(kind)) {
                    onlyContinuousOrTrigger = false;
                }
            }
            if (triggers == 1) m_lStartTriggerStream = last;
            if (onlyContinuousOrTrigger && m_bLongChunks) m_bDiscardTimeIndex = true;
        }
        if (!m_Streams.empty() && m_Streams[0]->GetDefaultSamplesPerSegment() < 1500)
            m_pHdr->SetI32(KVXHDR::kMilliSamples, 2500000);
    } else if (m_lStartTriggerStream == -1) {
        m_pHdr->SetI32(KVXHDR::kRecordingMode, 0);
    } else {
        m_pHdr->SetI32(KVXHDR::kRecordingMode, m_lStopTriggerStream >= 0 ? 2 : 1);
    }
    if (m_lStartTriggerStream < 0) m_pHdr->SetI32(KVXHDR::kRecordingMode, 0);
}

bool CKVXAStreamFile::ReadHdr()
{
    if (!m_pFile) return false;
    if (!ReadHeaderRecord()) return false;

    KVXHDR& hdr = *m_pHdr;
    const int32_t sourceType = hdr.I32(KVXHDR::kSourceType);
    if (sourceType == MEA_FROM_FILE) {
        if (!m_pLayout->ReadLayout(m_pFile)) return false;
    } else {
        m_pLayout->InitLayoutIfNeeded(
            static_cast<MeaSourceType>(sourceType), hdr.U16(KVXHDR::kTotalChannels),
            static_cast<uint32_t>(hdr.U16(KVXHDR::kElectrodeChannels)) + hdr.U16(KVXHDR::kElectrodeChannels2),
            static_cast<uint32_t>(hdr.U16(KVXHDR::kAnalogChannels)) + hdr.U16(KVXHDR::kAnalogChannels2),
            hdr.U16(KVXHDR::kDigitalChannels), false);
    }
    if (hdr.U8(KVXHDR::kStimulatorFlag) != 0 && !m_pStimulator->ReadProperty(m_pFile)) return false;

    if (!ReadStreams()) return false;
    if (!ReadDataSectionHead()) return false;

    if (hdr.U64(KVXHDR::kStartTime) == 0) hdr.SetU64(KVXHDR::kStartTime, ReconstructStartTime());
    return true;
}

bool CKVXAStreamFile::ReadHeaderRecord()
{
    if (!kvd::SeekTo(m_pFile, 16)) return false;
    char id[8];
    if (!kvd::ReadChunkHead(m_pFile, id, m_qwListHdrSize) || !kvd::IdEquals(id, "LISThdr ")) return false;
    uint64_t recordSize = 0;  // the version decides how much of the record the file holds
    if (!kvd::ReadChunkHead(m_pFile, id, recordSize) || !kvd::IdEquals(id, "KVXHDR  ")) return false;

    if (!m_pHdr) m_pHdr = std::make_unique<KVXHDR>();
    KVXHDR& hdr = *m_pHdr;
    hdr.Clear();
    if (!ReadExact(m_pFile, hdr.Data(), 2)) {
        m_pHdr.reset();
        return false;
    }
    const uint16_t version = hdr.U16(KVXHDR::kVersion);
    const std::size_t prefix = KVXHDR::PrefixLength(version);
    if (prefix == 0) {
        m_pHdr.reset();
        return false;
    }
    if (version == 0) {
        // Version-0 files were all made with the 60-electrode array; these fields lie beyond their prefix.
        hdr.SetI32(KVXHDR::kSourceType, MEA_60);
        hdr.SetU16(KVXHDR::kElectrodeChannels, 60);
        hdr.SetU16(KVXHDR::kElectrodeOffset1, 0);
        hdr.SetU16(KVXHDR::kAnalogChannels, 3);
        hdr.SetU16(KVXHDR::kAnalogOffset1, 60);
        hdr.SetU16(KVXHDR::kDigitalChannels, 1);
        hdr.SetU16(KVXHDR::kDigitalOffset, 63);
        hdr.SetU16(KVXHDR::kTotalChannels, 64);
    }
    if (!ReadExact(m_pFile, hdr.Data() + 2, prefix - 2)) {
        m_pHdr.reset();
        return false;
    }
    if (version == 0) {
        hdr.SetF32(KVXHDR::kPreTrigger, -1.0f);
        hdr.SetF32(KVXHDR::kPostTrigger, -1.0f);
        hdr.SetI32(KVXHDR::kSegmentTime, 128000000);
        hdr.SetI32(KVXHDR::kMilliSamples, 25000000);
    } else if (version == 1) {
        hdr.SetI32(KVXHDR::kSegmentTime, 128000000);
    }
    if (version <= 2) hdr.SetU64(KVXHDR::kStartTime, hdr.U64(KVXHDR::kStartPressed));
    if (version <= 7) {
        const uint16_t e1 = hdr.U16(KVXHDR::kElectrodeChannels);
        const uint16_t a1 = hdr.U16(KVXHDR::kAnalogChannels);
        const uint16_t e2 = hdr.U16(KVXHDR::kElectrodeChannels2);
        hdr.SetU16(KVXHDR::kElectrodeOffset2, static_cast<uint16_t>(e1 + a1));
        hdr.SetU16(KVXHDR::kAnalogOffset2, static_cast<uint16_t>(e1 + a1 + e2));
        hdr.SetI32(KVXHDR::kVoltageRange, -1);
    }

    // Texts handed out as C strings are terminated within their fields whatever the file holds.
    hdr.Terminate(KVXHDR::kComment, KVXHDR::kCommentWidth);
    hdr.Terminate(KVXHDR::kStartTriggerBufferID, KVXHDR::kTriggerBufferIDWidth);
    hdr.Terminate(KVXHDR::kStopTriggerBufferID, KVXHDR::kTriggerBufferIDWidth);
    for (std::size_t i = 0; i < KVXHDR::kNumberOfImages; ++i)
        hdr.Terminate(KVXHDR::kImages + KVXHDR::kImageSize * i + KVXHDR::kImagePath, KVXHDR::kImagePathWidth);
    hdr.Terminate(KVXHDR::kDataSourceName, KVXHDR::kDataSourceNameWidth);
    hdr.Terminate(KVXHDR::kSerialNumber, KVXHDR::kSerialNumberWidth);
    return true;
}

bool CKVXAStreamFile::ReadStreams()
{
    const int32_t count = m_pHdr->I32(KVXHDR::kStreamCount);
    // A negative count, or more streams than the rest of the file can describe, is a damaged header.
    if (count < 0 || static_cast<uint64_t>(count) * kMinStreamHeader > kvd::BytesLeft(m_pFile)) return false;
    m_Streams.clear();
    m_Streams.resize(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        m_Streams[i] = std::make_unique<CKVXAStream>(this);
        if (m_Streams[i]->ReadHdr(m_pFile) != STREAM_READ) {
            m_Streams[i].reset();
            return false;
        }
    }
    return true;
}

bool CKVXAStreamFile::ReadDataSectionHead()
{
    KVXHDR& hdr = *m_pHdr;
    const uint16_t version = hdr.U16(KVXHDR::kVersion);
    m_qwIndexPosition = 0;
    char id[8];

    if (version == 0) {
        if (!kvd::ReadChunkHead(m_pFile, id, m_qwListStrmSize) || !kvd::IdEquals(id, "LISTstrm")) return false;
        m_qwFirstChunkPosition = kvd::Tell(m_pFile);
        return true;
    }

    if (version <= 4) {
        // Old headers name the start-trigger stream by its stream ID; newer ones by its buffer ID.
        const uint16_t triggerID = hdr.U16(KVXHDR::kStartTriggerStreamID);
        for (const auto& stream : m_Streams)
            if (stream->GetID() == triggerID)
                std::memcpy(hdr.Text(KVXHDR::kStartTriggerBufferID), stream->GetBufferID(), 8);
    }
    switch (hdr.I32(KVXHDR::kRecordingMode)) {
    case 0:
        m_lStartTriggerStream = -1;
        m_lStopTriggerStream = -1;
        break;
    case 1:
        m_lStartTriggerStream = GetStreamIndexForStreamID(hdr.Text(KVXHDR::kStartTriggerBufferID));
        m_lStopTriggerStream = -1;
        break;
    case 2:
        m_lStartTriggerStream = GetStreamIndexForStreamID(hdr.Text(KVXHDR::kStartTriggerBufferID));
        m_lStopTriggerStream = GetStreamIndexForStreamID(hdr.Text(KVXHDR::kStopTriggerBufferID));
        break;
    default: m_pHdr.reset(); return false;
    }
    m_qwFirstChunkPosition = kvd::Tell(m_pFile);
    if (version < 3) return true;

    uint64_t size = 0;
    uint8_t position[8];
    if (!kvd::ReadChunkHead(m_pFile, id, size) || !kvd::IdEquals(id, "IDX1POS ") || size != 8 ||
        !ReadExact(m_pFile, position, sizeof position)) {
        hdr.SetI32(KVXHDR::kWithIndex, 0);
        return false;
    }
    m_qwIndexPosition = kvd::LoadU64(position);
    m_qwFirstChunkPosition = kvd::Tell(m_pFile);
    if (hdr.I32(KVXHDR::kWithIndex) != 0) {
        // A damaged index is no reason to refuse the file: it is rebuilt when needed.
        if (!kvd::SeekTo(m_pFile, m_qwIndexPosition) || !ReadEmbeddedIndex()) hdr.SetI32(KVXHDR::kWithIndex, 0);
    }
    return true;
}

bool CKVXAStreamFile::ReadEmbeddedIndex()
{
    if (m_Index.ReadHeaders(m_pFile) && m_Index.ReadItems(m_pFile) && m_Index.CheckIndex(m_pFile)) return true;
    m_Index.Destroy();
    return false;
}

int CKVXAStreamFile::CloseFile()
{
    Destroy();
    m_bDiscardTimeIndex = false;
    m_qwListHdrSize = 0;
    m_qwFirstChunkPosition = 0;
    m_qwListStrmSize = 0;
    m_lStartTriggerStream = -2;
    m_lStopTriggerStream = -2;
    return 0;
}

void CKVXAStreamFile::Destroy()
{
    if (m_pFile) std::fclose(m_pFile);
    m_pFile = nullptr;
    m_pSampleCache.reset();
    m_pChunkTable.reset();
    m_Streams.clear();
    m_pHdr.reset();
    m_Index.Destroy();
    m_szTempDir.clear();
    m_szPath.clear();
}

// ---- Sweeps and reconstruction of old files ---------------------------------------------------------

namespace {

// The first stream, in stream order, that has a data chunk, with that chunk; {nullptr, nullptr} when none.
std::pair<CKVXAStream*, std::unique_ptr<CKVXAChunk>> FirstStreamWithChunk(const CKVXAStreamFile& file)
{
    for (int32_t i = 0; i < file.GetStreamCount(); ++i) {
        CKVXAStream* stream = file.GetStream(i);
        if (!stream) continue;
        std::unique_ptr<CKVXAChunk> chunk(stream->GetFirstChunk());
        if (chunk) return {stream, std::move(chunk)};
    }
    return {nullptr, nullptr};
}

// Pairs of neighbouring chunks compared when the recording mode and sweep length are reconstructed.
constexpr int kReconstructPairs = 45;
constexpr uint64_t kLongChunkNs = 128000000ULL;

}  // namespace

int32_t CKVXAStreamFile::ReconstructRecordingMode()
{
    auto [stream, chunk] = FirstStreamWithChunk(*this);
    if (!stream) return 0;
    for (int pair = 0; pair < kReconstructPairs; ++pair) {
        const uint64_t previousTo = chunk->GetTo();
        CKVXAChunk* next = stream->GetNextChunk(chunk.get());
        if (!next) break;
        chunk.release();  // deleted by GetNextChunk
        chunk.reset(next);
        if (chunk->GetFrom() != previousTo) return 1;
    }
    return 0;
}

int32_t CKVXAStreamFile::ReconstructSweepLength()
{
    auto [stream, chunk] = FirstStreamWithChunk(*this);
    if (!stream) return 0;
    const uint64_t first = chunk->GetFrom();
    uint64_t longest = chunk->GetTo() - chunk->GetFrom();
    int32_t length = 0;
    for (int pair = 0; pair < kReconstructPairs; ++pair) {
        const uint64_t previousTo = chunk->GetTo();
        CKVXAChunk* next = stream->GetNextChunk(chunk.get());
        if (!next) break;
        chunk.release();
        chunk.reset(next);
        if (chunk->GetFrom() != previousTo) {
            length = static_cast<int32_t>((previousTo - first) / 1000000ULL);
            break;
        }
        longest = std::max(longest, chunk->GetTo() - chunk->GetFrom());
    }
    if (longest > kLongChunkNs) m_bLongChunks = true;
    return length;
}

uint64_t CKVXAStreamFile::ReconstructStartTime()
{
    uint64_t earliest = 0;
    bool found = false;
    // Every second stream: the old writers paired each data stream with one that follows it.
    for (int32_t i = 0; i < GetStreamCount(); i += 2) {
        CKVXAStream* stream = GetStream(i);
        if (!stream) continue;
        std::unique_ptr<CKVXAChunk> chunk(stream->GetFirstChunk());
        if (!chunk) continue;
        if (!found || chunk->GetFrom() < earliest) earliest = chunk->GetFrom();
        found = true;
    }
    return earliest;
}

int32_t CKVXAStreamFile::GetSweepCount()
{
    if (!m_Index.HasIndexes() && !ReadIndexFile(m_Index)) {
        m_Index.Destroy();
        GenerateIndex(m_Index);
    }
    const std::vector<uint64_t>* ends = m_Index.GetSweepEnds();
    if (ends && !ends->empty())
        m_TimeStampStop.SetTimeStamp(ends->back());
    else
        m_TimeStampStop.SetTimeStamp(m_TimeStampStart.GetTimeStamp());
    const std::size_t count = m_Index.GetSweepCount();
    return count > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(count);
}

namespace {

uint64_t SweepTimeAt(const std::vector<uint64_t>& list, int32_t i)
{
    if (i < 0) throw std::out_of_range("sweep index");
    return list.at(static_cast<std::size_t>(i));
}

}  // namespace

CKVXATimeStamp* CKVXAStreamFile::GetSweepStartTimeAt(int32_t i)
{
    if (!m_Index.HasSweeps()) return nullptr;
    auto stamp = std::make_unique<CKVXATimeStamp>();
    stamp->SetTimeStamp(SweepTimeAt(*m_Index.GetSweepStarts(), i));
    stamp->SetStart(m_TimeStampStart.GetStart());
    return stamp.release();
}

CKVXATimeStamp* CKVXAStreamFile::GetSweepEndTimeAt(int32_t i)
{
    if (!m_Index.HasSweeps() || !m_Index.GetSweepEnds()) return nullptr;
    auto stamp = std::make_unique<CKVXATimeStamp>();
    stamp->SetTimeStamp(SweepTimeAt(*m_Index.GetSweepEnds(), i));
    stamp->SetStart(m_TimeStampStart.GetStart());
    return stamp.release();
}

uint64_t CKVXAStreamFile::GetSweepRawStartTimeAt(int32_t i)
{
    if (!m_Index.HasSweeps()) return 0;
    return SweepTimeAt(*m_Index.GetSweepStarts(), i);
}

// ---- Reader-wide chunk walk ---------------------------------------------------------------------------

void CKVXAStreamFile::SettleStartTime()
{
    std::unique_ptr<CKVXAChunk> first(GetFirstChunk());
    m_qwFirstChunkTime = first ? first->GetFrom() : 0;
    // Writers of header version 2 and older could start the data before the stored start time.
    if (!first || !m_pHdr || GetHeaderVersion() > 2 || m_qwFirstChunkTime >= m_TimeStampStart.GetTimeStamp()) return;
    m_pHdr->SetU64(KVXHDR::kStartTime, m_qwFirstChunkTime);
    m_TimeStampStart.SetTimeStamp(m_qwFirstChunkTime);
    m_TimeStampStartPressed.SetStart(m_qwFirstChunkTime);
    m_TimeStampStart.SetStart(m_qwFirstChunkTime);
    m_TimeStampStop.SetStart(m_qwFirstChunkTime);
}

CKVXAChunk* CKVXAStreamFile::ReadChunkFrom(FILE* file)
{
    if (!file) return nullptr;
    uint8_t bytes[KVXAChunkHead::kSize];
    if (!ReadExact(file, bytes, sizeof bytes)) return nullptr;
    KVXAChunkHead head;
    if (!head.Decode(bytes, sizeof bytes) || !head.Usable()) return nullptr;
    auto chunk = std::make_unique<CKVXAChunk>();
    chunk->SetHead(head, kvd::Tell(file));
    chunk->SetStartReference(m_TimeStampStart.GetTimeStamp());
    chunk->SetFile(m_pFile);
    chunk->SetStream(nullptr);
    return chunk.release();
}

CKVXAChunk* CKVXAStreamFile::GetFirstChunk()
{
    if (!m_pFile || !kvd::SeekTo(m_pFile, m_qwFirstChunkPosition)) return nullptr;
    return ReadChunkFrom(m_pFile);
}

CKVXAChunk* CKVXAStreamFile::GetNextChunk(CKVXAChunk* previous)
{
    if (!m_pFile || !previous) return nullptr;
    const uint64_t next = previous->GetEndPosition();
    if (next < previous->GetDataPosition()) return nullptr;  // wrapped around
    if (m_qwIndexPosition != 0 && next >= m_qwIndexPosition) return nullptr;
    if (!kvd::SeekTo(m_pFile, next)) return nullptr;
    CKVXAChunk* chunk = ReadChunkFrom(m_pFile);
    if (chunk) delete previous;
    return chunk;
}

CKVXAChunkTable* CKVXAStreamFile::GetChunkTable()
{
    if (!m_pFile) return nullptr;
    if (!m_pChunkTable) {
        std::vector<CKVXAChunkTable::StreamKey> keys(m_Streams.size());
        for (std::size_t i = 0; i < m_Streams.size(); ++i) {
            CKVXAChunkTable::StreamKey& key = keys[i];
            std::memset(key.id, 0, sizeof key.id);
            key.channelCount = 0;
            if (!m_Streams[i]) continue;
            std::memcpy(key.id, m_Streams[i]->GetDataChunkID(), 8);
            kvd::UpperId(key.id);
            if (m_Streams[i]->HasSampleChunks())
                key.channelCount = static_cast<uint32_t>(m_Streams[i]->GetChannelCount());
        }
        m_pChunkTable = std::make_unique<CKVXAChunkTable>(m_pFile, m_qwFirstChunkPosition, std::move(keys));
    }
    return m_pChunkTable.get();
}

CSampleCache* CKVXAStreamFile::GetSampleCache()
{
    if (!m_pFile || CCacheBudget::Process().Limit() == 0) return nullptr;
    return m_pSampleCache.get();
}

void CKVXAStreamFile::InvalidateChunkTable()
{
    if (m_pSampleCache) m_pSampleCache->Clear();
    m_pChunkTable.reset();
    for (auto& stream : m_Streams)
        if (stream) stream->ForgetChunks();
}

bool CKVXAStreamFile::GetIndexedChunkPosition(uint64_t t, uint64_t& chunkPosition) const
{
    if (!m_Index.HasIndexes()) return false;
    const CMIndex1Item* item = m_Index.GetAt(static_cast<unsigned>(m_Index.FindItemAtOrBefore(t)));
    if (!item) return false;
    chunkPosition = item->GetPosition();
    return true;
}

bool CKVXAStreamFile::GetSweepSpan(int32_t sweep, uint64_t& start, uint64_t& end) const
{
    const std::vector<uint64_t>* starts = m_Index.GetSweepStarts();
    const std::vector<uint64_t>* ends = m_Index.GetSweepEnds();
    if (sweep < 0 || !starts || !ends || static_cast<std::size_t>(sweep) >= std::min(starts->size(), ends->size()))
        return false;
    start = (*starts)[static_cast<std::size_t>(sweep)];
    end = (*ends)[static_cast<std::size_t>(sweep)];
    return true;
}

int32_t CKVXAStreamFile::GetStreamIndex(const CKVXAStream* stream) const
{
    for (std::size_t i = 0; i < m_Streams.size(); ++i)
        if (m_Streams[i].get() == stream) return static_cast<int32_t>(i);
    return -1;
}

// ---- Chunk index --------------------------------------------------------------------------------------

int CKVXAStreamFile::HandleCallback(const char* text, int percent)
{
    if (!m_pCallback) return 0;
    const long now = static_cast<long>(std::clock());
    const std::string current = text ? text : "";
    if (current == m_szLastCallbackText && percent == m_lLastCallbackPercent && now - m_lLastCallbackClock < 200000L)
        return 0;
    m_szLastCallbackText = current.substr(0, 511);
    m_lLastCallbackPercent = percent;
    m_lLastCallbackClock = now;
    return m_pCallback(text, percent);
}

std::string CKVXAStreamFile::SidecarPath() const
{
    if (m_szTempDir.empty()) return std::string();
    std::string path = m_szTempDir + "kvxidx" + std::to_string(m_TimeStampStartPressed.GetTimeStamp());
    return path.size() < kMaxPath ? path : std::string();
}

bool CKVXAStreamFile::ReadIndexFile(CMIndex1& index)
{
    const std::string path = SidecarPath();
    if (path.empty() || !m_pFile) return false;
    FILE* sidecar = std::fopen(path.c_str(), "rbe");
    if (!sidecar) return false;
    // A sidecar of another recording that happens to share the start time describes other streams.
    const bool ok = index.ReadHeaders(sidecar) && index.ReadItems(sidecar) &&
                    index.GetStreamCount() == static_cast<uint32_t>(GetStreamCount()) && index.CheckIndex(m_pFile);
    std::fclose(sidecar);
    if (!ok) index.Destroy();
    return ok;
}

namespace {

// The chunks of every stream walked side by side, one chunk per stream at a time, choosing the index
// items: after the walk has moved more than kItemSpacing bytes past the last item, the lowest-positioned
// chunk reached in the following step becomes the next item.
class IndexWalk {
public:
    explicit IndexWalk(CKVXAStreamFile& file) : m_File(file)
    {
        const int32_t streamCount = file.GetStreamCount();
        m_Current.resize(static_cast<std::size_t>(std::max(streamCount, 0)));
        for (int32_t i = 0; i < streamCount; ++i) {
            CKVXAStream* stream = file.GetStream(i);
            if (!stream) continue;
            m_Current[i].reset(stream->GetFirstChunk());
            if (!m_Current[i]) continue;
            m_lReference = i;
            if (!m_bHaveCandidate || m_Current[i]->GetDataPosition() < m_qwCandidatePosition) Choose(*m_Current[i]);
        }
    }

    // The last stream that has chunks: its chunks mark the sweeps and end the walk; -1 when none has any.
    int32_t Reference() const { return m_lReference; }
    const CKVXAChunk* ReferenceChunk() const { return m_Current[m_lReference].get(); }

    // The first item: the lowest-positioned first chunk of any stream (head position and start time).
    void FirstItem(uint64_t& time, uint64_t& position) const
    {
        time = m_qwCandidateTime;
        position = m_qwCandidatePosition - CKVXAChunk::kHeadSize;
    }

    // Moves every stream on to its next chunk; false when some stream has none left.
    bool Advance()
    {
        if (m_State == State::Armed) {
            m_State = State::Collecting;
            m_qwCandidateTime = 0;
        }
        bool more = true;
        for (std::size_t i = 0; i < m_Current.size(); ++i) {
            if (!m_Current[i]) continue;
            CKVXAChunk* next = m_File.GetStream(static_cast<int32_t>(i))->GetNextChunk(m_Current[i].get());
            if (!next) {
                more = false;
                m_Current[i].reset();
                continue;
            }
            m_Current[i].release();  // deleted by GetNextChunk
            m_Current[i].reset(next);
            if (m_State == State::Idle && next->GetDataPosition() > m_qwCandidatePosition + kItemSpacing)
                m_State = State::Armed;
            else if (m_State == State::Collecting &&
                     (m_qwCandidateTime == 0 || next->GetDataPosition() < m_qwCandidatePosition))
                Choose(*next);
        }
        return more;
    }

    // The item chosen by the last step, if any (head position and start time).
    bool TakeItem(uint64_t& time, uint64_t& position)
    {
        if (m_State != State::Collecting) return false;
        m_State = State::Idle;
        FirstItem(time, position);
        return m_qwCandidateTime != 0;
    }

private:
    static constexpr uint64_t kItemSpacing = 250000;
    enum class State { Idle, Armed, Collecting };

    void Choose(const CKVXAChunk& chunk)
    {
        m_qwCandidateTime = chunk.GetFrom();
        m_qwCandidatePosition = chunk.GetDataPosition();
        m_bHaveCandidate = true;
    }

    CKVXAStreamFile& m_File;
    std::vector<std::unique_ptr<CKVXAChunk>> m_Current;
    int32_t m_lReference = -1;
    State m_State = State::Idle;
    // The latest item, or while collecting the lowest-positioned chunk seen so far (time 0: none yet).
    uint64_t m_qwCandidateTime = 0;
    uint64_t m_qwCandidatePosition = 0;
    bool m_bHaveCandidate = false;
};

// Sweeps as the gaps between the reference stream's chunks show them: a chunk that starts after the
// previous one ended starts a new sweep.
class SweepBounds {
public:
    explicit SweepBounds(uint64_t firstFrom) : m_qwPreviousEnd(firstFrom) { m_Starts.push_back(firstFrom); }

    void Observe(const CKVXAChunk& chunk)
    {
        if (m_qwPreviousEnd < chunk.GetFrom()) {
            m_Starts.push_back(chunk.GetFrom());
            m_Ends.push_back(m_qwPreviousEnd);
        }
        m_qwPreviousEnd = chunk.GetTo();
    }

    void Finish(CMIndex1& index)
    {
        m_Ends.push_back(m_qwPreviousEnd);
        index.SetSweeps(std::move(m_Starts), std::move(m_Ends));
    }

private:
    std::vector<uint64_t> m_Starts, m_Ends;
    uint64_t m_qwPreviousEnd;
};

}  // namespace

bool CKVXAStreamFile::GenerateIndex(CMIndex1& index)
{
    const uint64_t fileSize = m_pCallback && m_pFile ? kvd::FileSize(m_pFile) : 0;
    // Percent of the file passed, from the reference stream's position; false when the caller cancels.
    auto reportProgress = [&](const CKVXAChunk* reference) {
        uint64_t percent = 100;
        if (reference && fileSize / 100 != 0) percent = (reference->GetDataPosition() / 100 * 100) / (fileSize / 100);
        return HandleCallback("Generating index", static_cast<int>(std::min<uint64_t>(percent, 100))) == 0;
    };

    {
        IndexWalk walk(*this);
        if (walk.Reference() < 0) {
            index.SetSweeps({}, {});
            return true;
        }
        uint64_t time = 0, position = 0;
        walk.FirstItem(time, position);
        index.Add(time, position);
        SweepBounds sweeps(walk.ReferenceChunk()->GetFrom());
        for (bool last = false; !last;) {
            sweeps.Observe(*walk.ReferenceChunk());
            last = !walk.Advance();
            if (m_pCallback && !reportProgress(walk.ReferenceChunk())) {
                index.Destroy();
                return false;
            }
            if (walk.TakeItem(time, position)) index.Add(time, position);
            if (!walk.ReferenceChunk()) last = true;
        }
        sweeps.Finish(index);
    }
    StoreGeneratedIndex(index);
    return true;
}

void CKVXAStreamFile::StoreGeneratedIndex(CMIndex1& index)
{
    if (m_bDiscardTimeIndex) {
        index.ClearItems();
        return;
    }
    const std::string path = SidecarPath();
    if (path.empty()) return;
    if (FILE* sidecar = std::fopen(path.c_str(), "wbe")) {
        index.WriteHeaders(sidecar, m_szPath.c_str(), static_cast<uint32_t>(std::max(GetStreamCount(), 0)));
        index.WriteItems(sidecar);
        std::fclose(sidecar);
    }
}
