// Merging recordings: the writer side of CKVXAStreamFile. A fresh reader takes the header, layout,
// stimulator settings and stream descriptions of the earliest recording, copies the data chunks of every
// recording in start-time order and writes a chunk index and the completed header.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "layout/KVLayout.h"
#include "io/FileIO.h"
#include "streams/KVXAChunk.h"
#include "reader/KVXAMergeOutput.h"
#include "reader/KVXAStreamFile.h"
#include "settings/MGrid9StimulatorProperty.h"
#include "streams/KVXAStream.h"

char CKVXAStreamFile::m_merge_error_string[256] = {};

namespace {

// Phase results.
constexpr int kDone = 0;
constexpr int kCancelled = 1;
constexpr int kFailed = 2;

// Chunk data is copied in pieces of at most this many bytes, whatever the size of the chunk.
constexpr std::size_t kCopyPiece = 1u << 20;
// Chunks whose event records must be shifted are held whole; larger ones are not merged.
constexpr uint64_t kMaxShiftedChunk = 64u << 20;

void SetMergeError(const char* text)
{
    std::snprintf(CKVXAStreamFile::m_merge_error_string, sizeof CKVXAStreamFile::m_merge_error_string, "%s",
                  text ? text : "");
}

uint64_t HeaderStartOf(const CKVXAStreamFile* file)
{
    const KVXHDR* hdr = file->GetKVXHDR();
    return hdr ? hdr->U64(KVXHDR::kStartTime) : 0;
}

bool SameChannel(const CKVXAChannel* a, const CKVXAChannel* b)
{
    if (!a || !b) return a == b;
    return a->GetHWID() == b->GetHWID();
}

bool SameText(const char* a, const char* b) { return std::strcmp(a ? a : "", b ? b : "") == 0; }

// The 8 bytes of a chunk id, upper case, for matching chunks with their streams.
void UpperIdOf(const char* id, char out[8])
{
    std::memset(out, 0, 8);
    std::memcpy(out, id, strnlen(id, 8));
    kvd::UpperId(out);
}

}  // namespace

char* CKVXAStreamFile::GetLastMergeError(char* buffer, int32_t size)
{
    if (!buffer || size <= 0) return buffer;
    std::strncpy(buffer, m_merge_error_string, static_cast<std::size_t>(size));
    return buffer;
}

int CKVXAStreamFile::Sort(CKVXAStreamFile** files, int count)
{
    if (!files) return 0;
    for (int pass = 0; pass < count; ++pass) {
        bool swapped = false;
        for (int i = 0; i + 1 < count; ++i) {
            if (HeaderStartOf(files[i + 1]) < HeaderStartOf(files[i])) {
                std::swap(files[i], files[i + 1]);
                swapped = true;
            }
        }
        if (!swapped) break;
    }
    return 0;
}

int CKVXAStreamFile::CheckIdentFormat(CKVXAStreamFile** files, int count)
{
    for (int i = 0; i + 1 < count; ++i)
        if (CheckIdentFormat(files[i], files[i + 1]) == 0) return 0;
    return 1;
}

int CKVXAStreamFile::CheckIdentFormat(CKVXAStreamFile* a, CKVXAStreamFile* b)
{
    SetMergeError("");
    if (a->GetSoftwareVersionMajor() != b->GetSoftwareVersionMajor() ||
        a->GetSoftwareVersionMinor() != b->GetSoftwareVersionMinor())
        return SetMergeError("Files were recorded with different Vantrel versions."), 0;
    if (a->GetSourceType() != b->GetSourceType()) return SetMergeError("Different source types."), 0;
    if (a->GetRecordingMode() != b->GetRecordingMode()) return SetMergeError("Different recording modes."), 0;
    if (a->GetMillisamplesPerSecond() != b->GetMillisamplesPerSecond())
        return SetMergeError("Different sample rate."), 0;
    if (a->GetStreamCount() != b->GetStreamCount()) return SetMergeError("Different stream count in files."), 0;
    for (int32_t i = 0; i < a->GetStreamCount(); ++i) {
        const CKVXAStream* sa = a->GetStream(i);
        const CKVXAStream* sb = b->GetStream(i);
        if (!sa || !sb || !SameText(sa->GetBufferID(), sb->GetBufferID()))
            return SetMergeError("Different stream types in files."), 0;
        if (sa->GetChannelCount() != sb->GetChannelCount())
            return SetMergeError("Different channel count in one stream."), 0;
        if (sa->GetMilliSamplesPerSecond() != sb->GetMilliSamplesPerSecond())
            return SetMergeError("Different sample rate in one stream."), 0;
        for (int32_t j = 0; j < sa->GetChannelCount(); ++j)
            if (!SameChannel(sa->GetChannel(static_cast<int16_t>(j)), sb->GetChannel(static_cast<int16_t>(j))))
                return SetMergeError("Different recorded channels in one stream."), 0;
    }
    return 1;
}

int CKVXAStreamFile::MergeFailed(const char* message)
{
    SetMergeError(message);
    return kFailed;
}

int CKVXAStreamFile::CopyMerge(CKVXAStreamFile** files, int count, const char* path, ProgressCallback callback)
{
    m_pCallback = callback;
    m_szLastCallbackText.clear();
    m_lLastCallbackPercent = -1;
    SetMergeError("");
    if (count <= 0) return 0;
    if (!files || !path || !*path) return SetMergeError("Error opening output file."), 1;
    for (int i = 0; i < count; ++i) {
        // The sources are read while this reader writes: they must be other, open readers.
        if (!files[i] || files[i] == this || !files[i]->GetFilePointer() || !files[i]->GetKVXHDR())
            return SetMergeError("An input file is not open."), 1;
    }
    Sort(files, count);
    if (CheckIdentFormat(files, count) == 0) return 1;
    // Writing over a source would destroy it; the output must name none, by any path or link.
    for (int i = 0; i < count; ++i)
        if (CKVXAMergeOutput::NamesOpenFile(path, files[i]->GetFilePointer()))
            return SetMergeError("The output file is one of the input files."), 1;

    CloseFile();
    CKVXAMergeOutput output;
    if (!output.Create(path)) return SetMergeError("Error opening output file."), 1;
    m_szPath = path;
    m_pFile = output.File();

    int result = kFailed;
    try {
        result = RunMerge(files, count);
    } catch (const std::bad_alloc&) {
        result = MergeFailed("Not enough memory to merge the files.");
    } catch (...) {
        result = MergeFailed("Merging failed.");
    }
    // The output handle belongs to `output` from here on; the chunk tables that read it go with it.
    m_pFile = nullptr;
    InvalidateChunkTable();
    m_MergeBuffer.clear();
    m_MergeBuffer.shrink_to_fit();
    if (result == kCancelled) SetMergeError("Merging canceled.");
    if (result != kDone) {
        output.Discard();
        return 1;
    }
    if (!output.Commit()) return SetMergeError("Error writing output file."), 1;
    return 0;
}

int CKVXAStreamFile::RunMerge(CKVXAStreamFile** files, int count)
{
    int result = AppendFirstFile(files[0]);
    for (int i = 1; i < count && result == kDone; ++i) result = Append(files[i]);
    if (result == kDone) result = CloseMerge();
    return result;
}

int CKVXAStreamFile::WriteHdr(FILE* out)
{
    if (!out || !m_pHdr) return 1;
    uint8_t head[48];
    std::memcpy(head, "KVXSTRM ", 8);
    std::memset(head + 8, 0xFF, 8);
    std::memcpy(head + 16, "LISThdr ", 8);
    kvd::StoreU64(head + 24, m_qwListHdrSize);
    std::memcpy(head + 32, "KVXHDR  ", 8);
    kvd::StoreU64(head + 40, KVXHDR::kSize);
    bool ok = kvd::WriteExact(out, head, sizeof head) && kvd::WriteExact(out, m_pHdr->Data(), KVXHDR::kSize);
    if (ok && m_pHdr->I32(KVXHDR::kSourceType) == MEA_FROM_FILE) ok = m_pLayout->WriteLayout(out);
    if (ok && m_pHdr->U8(KVXHDR::kStimulatorFlag) != 0) ok = m_pStimulator->WriteProperty(out);
    for (const auto& stream : m_Streams)
        if (ok && stream) ok = stream->WriteHdr(out) == 0;
    uint8_t position[24] = {};
    std::memcpy(position, "IDX1POS ", 8);
    kvd::StoreU64(position + 8, 8);
    if (ok) {
        m_qwIndexPositionField = kvd::Tell(out) + 16;
        ok = kvd::WriteExact(out, position, sizeof position);
    }
    // The stream and channel writers leave their failures in the stream's error flag.
    return ok && !std::ferror(out) ? 0 : 1;
}

int CKVXAStreamFile::AppendFirstFile(CKVXAStreamFile* source)
{
    if (!m_pFile || !source || !source->GetKVXHDR()) return MergeFailed("An input file is not open.");
    m_pHdr = std::make_unique<KVXHDR>(*source->GetKVXHDR());
    m_pHdr->SetU16(KVXHDR::kVersion, KVXHDR::kCurrentVersion);
    m_pHdr->SetU64(KVXHDR::kChunkCount, 0);
    m_qwListHdrSize = source->GetListHdrSize();
    m_pLayout->CopyLayout(*source->GetLayout());
    // The stimulator settings are written with the header, so that the merged file keeps them.
    m_pStimulator = std::make_unique<CMGrid9StimulatorProperty>(*source->GetStimulatorProperty());

    m_Streams.clear();
    for (int32_t i = 0; i < source->GetStreamCount(); ++i) {
        const CKVXAStream* stream = source->GetStream(i);
        if (!stream) return MergeFailed("An input file is not open.");
        m_Streams.emplace_back(stream->Clone(this));
        // The merged file is of the current header version, where a stream's chunks carry its buffer ID.
        m_Streams.back()->SetDataChunkID(stream->GetBufferID());
    }
    m_lStartTriggerStream = source->GetStartTriggerStreamID();
    m_lStopTriggerStream = source->GetStopTriggerStreamID();

    if (WriteHdr(m_pFile) != 0) return MergeFailed("Error writing output file.");
    m_qwFirstChunkPosition = kvd::Tell(m_pFile);
    m_qwIndexPosition = 0;

    const uint64_t start = m_pHdr->U64(KVXHDR::kStartTime);
    m_pHdr->SetU64(KVXHDR::kStopTime, start);
    m_TimeStampStartPressed.SetStart(start);
    m_TimeStampStartPressed.SetTimeStamp(m_pHdr->U64(KVXHDR::kStartPressed));
    m_TimeStampStart.SetStart(start);
    m_TimeStampStart.SetTimeStamp(start);
    m_TimeStampStop.SetStart(start);
    m_TimeStampStop.SetTimeStamp(start);
    return Append(source);
}

int CKVXAStreamFile::Append(CKVXAStreamFile* source)
{
    if (!m_pFile || !m_pHdr || !source || !source->GetFilePointer()) return MergeFailed("An input file is not open.");
    // Continuous recordings follow each other without a gap; triggered ones keep their recorded times.
    const uint64_t shift =
        GetRecordingMode() == 0 ? m_TimeStampStop.GetTimeStamp() - source->GetStartTime()->GetTimeStamp() : 0;
    const uint64_t stop = source->GetStopTime()->GetTimeStamp() + shift;
    m_pHdr->SetU64(KVXHDR::kStopTime, stop);
    m_TimeStampStop.SetStart(m_pHdr->U64(KVXHDR::kStartTime));
    m_TimeStampStop.SetTimeStamp(stop);

    // The source's streams by data chunk id; the writer's stream i is the clone of the source's stream i.
    std::vector<std::array<char, 8>> ids(static_cast<std::size_t>(std::max(source->GetStreamCount(), 0)));
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const CKVXAStream* stream = source->GetStream(static_cast<int32_t>(i));
        UpperIdOf(stream ? stream->GetDataChunkID() : "", ids[i].data());
    }

    const std::string text = std::string("Merging file: ") + source->GetPath();
    const uint64_t counted = source->GetKVXHDR()->U64(KVXHDR::kChunkCount);
    const uint64_t firstPosition = source->GetFirstChunkPosition();
    const uint64_t fileSize = source->GetFileSize();
    uint64_t reported = 0;
    std::unique_ptr<CKVXAChunk> chunk(source->GetFirstChunk());
    while (chunk) {
        // A chunk whose data runs past the end of the file was cut off: the data end before it.
        if (chunk->GetEndPosition() < chunk->GetDataPosition() || chunk->GetEndPosition() > fileSize) break;
        char id[8];
        UpperIdOf(chunk->GetChunkID(), id);
        int32_t stream = -1;
        for (std::size_t i = 0; i < ids.size() && stream < 0; ++i)
            if (std::memcmp(ids[i].data(), id, 8) == 0) stream = static_cast<int32_t>(i);
        const int result = CopyChunk(*source, *chunk, shift, stream);
        if (result != kDone) return result;
        m_pHdr->SetU64(KVXHDR::kChunkCount, m_pHdr->U64(KVXHDR::kChunkCount) + 1);
        if (m_pCallback) {
            // A header that counts no chunks gives the share of the file's bytes copied.
            uint64_t percent = 100;
            if (counted != 0)
                percent = (reported * 100 + 100) / counted;
            else if (fileSize > firstPosition)
                percent = (chunk->GetEndPosition() - firstPosition) * 100 / (fileSize - firstPosition);
            ++reported;
            if (HandleCallback(text.c_str(), static_cast<int>(std::min<uint64_t>(percent, 100))) != 0)
                return kCancelled;
        }
        CKVXAChunk* next = source->GetNextChunk(chunk.get());
        if (!next) break;
        chunk.release();  // deleted by GetNextChunk
        chunk.reset(next);
    }
    return kDone;
}

int CKVXAStreamFile::CopyChunk(CKVXAStreamFile& source, CKVXAChunk& chunk, uint64_t shift, int32_t streamIndex)
{
    CKVXAStream* stream = GetStream(streamIndex);
    const CKVXAStream* sourceStream = source.GetStream(streamIndex);
    const uint64_t size = chunk.GetDataSize();
    uint8_t head[CKVXAChunk::kHeadSize];
    // Chunks of old files carry an id made from the stream ID; the merged file names them by buffer ID.
    const bool renamed =
        stream && sourceStream && std::strcmp(stream->GetDataChunkID(), sourceStream->GetDataChunkID()) != 0;
    CKVXAChunk::EncodeHead(head, renamed ? stream->GetDataChunkID() : chunk.GetChunkID(), size, chunk.GetFrom() + shift,
                           chunk.GetTo() + shift);
    if (!kvd::WriteExact(m_pFile, head, sizeof head)) return MergeFailed("Error writing output file.");

    FILE* in = source.GetFilePointer();
    if (shift != 0 && stream && !stream->HasRawData() && size != 0) {
        // Event records carry their own times: the chunk is read whole and every record moved by `shift`.
        if (size > kMaxShiftedChunk) return MergeFailed("A chunk of an event stream is too large to merge.");
        m_MergeBuffer.resize(static_cast<std::size_t>(size));
        if (!kvd::ReadAt(in, chunk.GetDataPosition(), m_MergeBuffer.data(), m_MergeBuffer.size()))
            return MergeFailed("Error reading input file.");
        chunk.SetStream(stream);
        chunk.ShiftEventTimes(m_MergeBuffer.data(), shift);
        chunk.SetStream(nullptr);
        if (!kvd::WriteExact(m_pFile, m_MergeBuffer.data(), m_MergeBuffer.size()))
            return MergeFailed("Error writing output file.");
        return kDone;
    }
    // Samples and unshifted records are copied as they are, in bounded pieces.
    m_MergeBuffer.resize(static_cast<std::size_t>(std::min<uint64_t>(std::max<uint64_t>(size, 1), kCopyPiece)));
    for (uint64_t done = 0; done < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(size - done, kCopyPiece));
        if (!kvd::ReadAt(in, chunk.GetDataPosition() + done, m_MergeBuffer.data(), n))
            return MergeFailed("Error reading input file.");
        if (!kvd::WriteExact(m_pFile, m_MergeBuffer.data(), n)) return MergeFailed("Error writing output file.");
        done += n;
    }
    return kDone;
}

int CKVXAStreamFile::CloseMerge()
{
    if (!m_pFile || !m_pHdr) return MergeFailed("Error writing output file.");
    m_pHdr->SetI32(KVXHDR::kWithIndex, 1);
    const uint64_t end = kvd::Tell(m_pFile);
    // The index is built by reading the written chunks back through the cloned streams.
    if (std::fflush(m_pFile) != 0 || std::ferror(m_pFile)) return MergeFailed("Error writing output file.");
    m_qwFileSize = end;
    m_qwIndexPosition = 0;
    InvalidateChunkTable();
    m_Index.Destroy();
    if (!GenerateIndex(m_Index)) return kCancelled;

    uint8_t position[8];
    kvd::StoreU64(position, end);
    const bool ok = kvd::SeekTo(m_pFile, end) &&
                    m_Index.WriteHeaders(m_pFile, m_szPath.c_str(), static_cast<uint32_t>(m_Streams.size())) &&
                    m_Index.WriteItems(m_pFile) && kvd::SeekTo(m_pFile, 0) && WriteHdr(m_pFile) == 0 &&
                    kvd::SeekTo(m_pFile, m_qwIndexPositionField) &&
                    kvd::WriteExact(m_pFile, position, sizeof position) && std::fflush(m_pFile) == 0;
    if (!ok) return MergeFailed("Error writing output file.");
    m_qwIndexPosition = end;
    return kDone;
}
