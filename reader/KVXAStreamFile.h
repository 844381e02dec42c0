// The reader of one recording file: container head, file header (KVXHDR), layout and stimulator chunks,
// stream headers, and the position of the data chunks and the embedded chunk index.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "io/ByteOrder.h"
#include "streams/KVXATimeStamp.h"
#include "reader/MIndex1.h"
#include "settings/SoftwareVersion.h"
#include "streams/KVXAStreamSource.h"

class CKVXAChunk;
class CKVXAChunkTable;
class CKVXAStream;
class CKVLayout;
class CMGrid9StimulatorProperty;
class CSampleCache;

enum FileOpenResult : int { OK = 0, FILE_OPEN_FAILED = 1, WRONG_FILEFORMAT = 2, forWRONG_HEADER = 3, forNO_DATA = 4 };

// The file header record, always held as its full current size; older files fill a prefix of it.
class KVXHDR : public kvd::ByteRecord<2328> {
public:
    // clang-format off
    enum : std::size_t {
        kVersion = 0, kSoftwareVersion1 = 4, kSoftwareVersion2 = 8, kComment = 272, kStartPressed = 792,
        kStreamCount = 800, kMilliSamples = 804, kRecordingMode = 808, kPreTrigger = 812, kPostTrigger = 816,
        kStartTriggerStreamID = 820, kSourceType = 824, kElectrodeChannels = 828, kElectrodeOffset1 = 830,
        kAnalogChannels = 832, kAnalogOffset1 = 834, kDigitalChannels = 836, kDigitalOffset = 838,
        kTotalChannels = 840, kStopTime = 848, kChunkCount = 856, kWithIndex = 864, kSegmentTime = 868,
        kStartTime = 872, kDriverMajor = 880, kDriverMinor = 884, kStartTriggerBufferID = 888,
        kStopTriggerBufferID = 897, kImages = 912, kElectrodeChannels2 = 2192, kElectrodeOffset2 = 2194,
        kAnalogChannels2 = 2196, kAnalogOffset2 = 2198, kVoltageRange = 2200, kDataSourceType = 2204,
        kDataSourceName = 2208, kSerialNumber = 2288, kBusType = 2308, kVendorId = 2312, kProductId = 2316,
        kStimulatorFlag = 2320
    };
    // clang-format on
    // clang-format off
    enum : std::size_t {
        kCommentWidth = 520, kTriggerBufferIDWidth = 9, kImageSize = 320, kImagePath = 56, kImagePathWidth = 264,
        kDataSourceNameWidth = 80, kSerialNumberWidth = 20
    };
    // clang-format on
    static constexpr uint16_t kCurrentVersion = 11;
    static constexpr int kNumberOfImages = 4;

    // Bytes of the record that a file of `version` holds, version field included; 0 for an unknown version.
    static std::size_t PrefixLength(uint16_t version);
};

// The file reader; streams see it through CKVXAStreamSource.
class CKVXAStreamFile : public CKVXAStreamSource {
public:
    CKVXAStreamFile();
    ~CKVXAStreamFile() override;
    CKVXAStreamFile(const CKVXAStreamFile&) = delete;
    CKVXAStreamFile& operator=(const CKVXAStreamFile&) = delete;

    virtual uint32_t GetSoftwareVersionMajor() const override
    {
        return m_pHdr ? m_pHdr->U32(KVXHDR::kSoftwareVersion1) : 0;
    }
    virtual uint32_t GetSoftwareVersionMinor() const { return m_pHdr ? m_pHdr->U32(KVXHDR::kSoftwareVersion2) : 0; }
    virtual int32_t GetHeaderVersion() const override { return m_pHdr ? m_pHdr->U16(KVXHDR::kVersion) : 0; }
    virtual int32_t GetRecordingMode() const override { return m_pHdr ? m_pHdr->I32(KVXHDR::kRecordingMode) : 0; }
    virtual int32_t GetSourceType() const { return Hdr().I32(KVXHDR::kSourceType); }
    virtual int32_t GetMillisamplesPerSecond() const override
    {
        return m_pHdr ? m_pHdr->I32(KVXHDR::kMilliSamples) : 0;
    }
    virtual const char* GetComment() const { return m_pHdr ? m_pHdr->Text(KVXHDR::kComment) : nullptr; }
    // Calendar fields of the header's start time.
    virtual uint16_t GetYear() const { return StartCalendar().wYear; }
    virtual uint16_t GetMonth() const { return StartCalendar().wMonth; }
    virtual uint16_t GetDay() const { return StartCalendar().wDay; }
    virtual uint16_t GetHour() const { return StartCalendar().wHour; }
    virtual uint16_t GetMinute() const { return StartCalendar().wMinute; }
    virtual uint16_t GetSecond() const { return StartCalendar().wSecond; }
    virtual uint16_t GetMillisecond() const { return StartCalendar().wMilliseconds; }
    virtual uint16_t GetMicrosecond() const { return static_cast<uint16_t>((HeaderStart() % 1000000ULL) / 1000ULL); }
    virtual uint16_t GetNanosecond() const { return static_cast<uint16_t>(HeaderStart() % 1000ULL); }
    virtual int32_t GetStreamCount() const { return m_pHdr ? m_pHdr->I32(KVXHDR::kStreamCount) : 0; }
    // The stream at index i; null outside 0 ... count - 1.
    virtual CKVXAStream* GetStream(int32_t i) const;
    // Number of sweeps; builds or loads the index when it has no items, and moves the stop time to the end
    // of the last sweep (to the start time when there are none).
    virtual int32_t GetSweepCount();
    // The sweep length in milliseconds (the post-trigger time); -1 for a continuous recording.
    virtual int32_t GetSweepLength() const { return GetRecordingMode() != 0 ? GetPostTriggerTime() : -1; }
    virtual int32_t GetPreTriggerTime() const { return static_cast<int32_t>(Hdr().F32(KVXHDR::kPreTrigger)); }
    virtual int32_t GetPostTriggerTime() const { return static_cast<int32_t>(Hdr().F32(KVXHDR::kPostTrigger)); }
    // Start and end of sweep i as new time stamps owned by the caller (start reference: the recording's
    // start); null without sweeps. std::out_of_range for i outside 0 ... GetSweepCount() - 1.
    virtual CKVXATimeStamp* GetSweepStartTimeAt(int32_t i);
    virtual CKVXATimeStamp* GetSweepEndTimeAt(int32_t i);
    // Start of sweep i as a bare value; 0 without sweeps.
    virtual uint64_t GetSweepRawStartTimeAt(int32_t i);
    virtual int32_t GetStartTriggerStreamID() const { return m_lStartTriggerStream; }
    virtual int32_t GetStopTriggerStreamID() const { return m_lStopTriggerStream; }
    virtual CKVXATimeStamp* GetTimeStampStartPressed() { return &m_TimeStampStartPressed; }
    CKVXATimeStamp* GetStartTime() override { return &m_TimeStampStart; }
    CKVXATimeStamp* GetStopTime() override { return &m_TimeStampStop; }
    virtual int32_t GetWithIndex() const { return m_pHdr ? m_pHdr->I32(KVXHDR::kWithIndex) : 0; }
    virtual int32_t GetSegmentTime() const { return m_pHdr ? m_pHdr->I32(KVXHDR::kSegmentTime) : 0; }
    virtual FILE* GetFilePointer() const override { return m_pFile; }
    virtual uint64_t GetFirstChunkPosition() const override { return m_qwFirstChunkPosition; }
    virtual int32_t SetStartTriggerStreamID(int32_t index)
    {
        m_lStartTriggerStream = index;
        return 0;
    }
    virtual int32_t SetStopTriggerStreamID(int32_t index)
    {
        m_lStopTriggerStream = index;
        return 0;
    }
    // Index of the first stream whose buffer ID equals `id` over 8 bytes; -1 when none.
    virtual int32_t GetStreamIndexForStreamID(const char* id) const;
    // Copies image record i's six integers and four reals; false (nothing written) without a header
    // or for an index outside 0 ... 3.
    virtual bool GetImageData(int32_t i, int32_t* l1, int32_t* l2, int32_t* l3, int32_t* l4, int32_t* l5, int32_t* l6,
                              double* d1, double* d2, double* d3, double* d4) const;
    // The path text of image record i; null without a header or for an index outside 0 ... 3.
    virtual const char* GetImageFilePathName(int32_t i) const;
    // Parses everything from the container head up to the first data chunk.
    virtual bool ReadHdr();

    // Opens a recording; a FileOpenResult.
    int OpenFile(const char* path);
    int CloseFile();
    void Destroy();

    uint16_t GetElectrodeChannels() const { return Hdr().U16(KVXHDR::kElectrodeChannels); }
    uint16_t GetElectrodeChannels2() const { return Hdr().U16(KVXHDR::kElectrodeChannels2); }
    uint16_t GetElectrodeChannelOffset1() const { return Hdr().U16(KVXHDR::kElectrodeOffset1); }
    uint16_t GetElectrodeChannelOffset2() const { return Hdr().U16(KVXHDR::kElectrodeOffset2); }
    uint16_t GetAnalogChannels() const { return Hdr().U16(KVXHDR::kAnalogChannels); }
    uint16_t GetAnalogChannels2() const { return Hdr().U16(KVXHDR::kAnalogChannels2); }
    uint16_t GetAnalogChannelOffset1() const { return Hdr().U16(KVXHDR::kAnalogOffset1); }
    uint16_t GetAnalogChannelOffset2() const { return Hdr().U16(KVXHDR::kAnalogOffset2); }
    uint16_t GetDigitalChannels() const { return Hdr().U16(KVXHDR::kDigitalChannels); }
    uint16_t GetTotalChannels() const { return Hdr().U16(KVXHDR::kTotalChannels); }
    uint32_t GetDriverVersionMajor() const { return Hdr().U32(KVXHDR::kDriverMajor); }
    uint32_t GetDriverVersionMinor() const { return Hdr().U32(KVXHDR::kDriverMinor); }
    int32_t GetVoltageRange() const { return Hdr().I32(KVXHDR::kVoltageRange); }
    int32_t Vantrel_DataSourceType() const { return Hdr().I32(KVXHDR::kDataSourceType); }
    const char* GetDataSourceName() const { return Hdr().Text(KVXHDR::kDataSourceName); }
    const char* GetSerialNumber() const { return Hdr().Text(KVXHDR::kSerialNumber); }
    uint32_t GetBusType() const { return Hdr().U32(KVXHDR::kBusType); }
    uint32_t GetVendorId() const { return Hdr().U32(KVXHDR::kVendorId); }
    uint32_t GetProductId() const { return Hdr().U32(KVXHDR::kProductId); }

    const KVXHDR* GetKVXHDR() const override { return m_pHdr.get(); }
    KVXHDR* GetKVXHDR() { return m_pHdr.get(); }
    CKVLayout* GetLayout() const { return m_pLayout.get(); }
    CMGrid9StimulatorProperty* GetStimulatorProperty() const { return m_pStimulator.get(); }
    const char* GetPath() const { return m_szPath.c_str(); }
    // Size of the open file when it was opened; recordings are read, never written, while open.
    uint64_t GetFileSize() const override { return m_qwFileSize; }
    uint64_t GetListHdrSize() const { return m_qwListHdrSize; }
    uint64_t GetListStrmSize() const { return m_qwListStrmSize; }
    uint64_t GetIndexPosition() const { return m_qwIndexPosition; }
    bool GetDiscardTimeIndex() const { return m_bDiscardTimeIndex; }
    void SetDiscardTimeIndex(bool discard) { m_bDiscardTimeIndex = discard; }
    bool GetLongChunks() const { return m_bLongChunks; }
    // The from-time of the file's first data chunk; 0 when it has none.
    uint64_t GetFirstChunkTime() const { return m_qwFirstChunkTime; }

    // Rebuilds what files of old writers lack; see the definitions.
    int32_t ReconstructRecordingMode();
    int32_t ReconstructSweepLength();
    uint64_t ReconstructStartTime();

    // Walk over all data chunks of the file, whatever their stream. GetNextChunk deletes `previous` when it
    // returns its successor; the walk ends where the embedded index begins.
    CKVXAChunk* GetFirstChunk();
    CKVXAChunk* GetNextChunk(CKVXAChunk* previous);
    // Reads the chunk at the current position of `file`; null at the end or for a damaged head.
    CKVXAChunk* ReadChunkFrom(FILE* file);

    // The chunk index and the sweep list.
    CMIndex1& GetIndex() { return m_Index; }
    // Loads the sidecar index file of this recording; false (index emptied) when absent or damaged.
    bool ReadIndexFile(CMIndex1& index);
    // Builds the index by scanning the streams' chunks; false only when cancelled by the progress callback.
    bool GenerateIndex(CMIndex1& index);
    // Writes a generated index to the sidecar file, or drops its items when they are to be discarded.
    void StoreGeneratedIndex(CMIndex1& index);
    // The folder of sidecar index files (copied); unset by default and dropped with the file's contents.
    void SetTempDir(const char* dir) { m_szTempDir = dir ? dir : ""; }
    const std::string& GetTempDir() const { return m_szTempDir; }
    // Path of the sidecar index file; empty without a folder or when the name would not fit.
    std::string SidecarPath() const;

    // Progress reports of long operations; a non-zero answer of the callback asks to cancel.
    using ProgressCallback = int (*)(const char* text, int percent);
    void SetProgressCallback(ProgressCallback callback) { m_pCallback = callback; }
    ProgressCallback GetProgressCallback() const { return m_pCallback; }
    // Calls the callback unless the same text and percentage were reported within the last 0.2 s of
    // processor time; returns its answer, or 0.
    int HandleCallback(const char* text, int percent);

    // ---- Merging recordings ----
    // Merges `count` open recordings made one after the other with identical settings into a new file at
    // `path`, in start-time order (the array is reordered): continuous recordings are shifted to follow each
    // other without a gap, triggered ones keep their times; a fresh chunk index is written. 0 on success
    // (also for a count of 0), 1 on failure with the reason in GetLastMergeError. An output that names one
    // of the sources is refused; the output is written under a temporary name in its folder and renamed
    // into place only when the merge has succeeded, so that a failed or cancelled merge leaves no output.
    // The reader should be a fresh one: afterwards it holds the merged header, streams and index, no file.
    int CopyMerge(CKVXAStreamFile** files, int count, const char* path, ProgressCallback callback);
    // Orders readers by their header start time, ascending and stable; 0.
    static int Sort(CKVXAStreamFile** files, int count);
    // Non-zero when every neighbouring pair is compatible; 0 with the reason in the merge error otherwise.
    static int CheckIdentFormat(CKVXAStreamFile** files, int count);
    static int CheckIdentFormat(CKVXAStreamFile* a, CKVXAStreamFile* b);
    // Copies at most `size` characters of the last merge error into `buffer` (terminated when shorter).
    static char* GetLastMergeError(char* buffer, int32_t size);
    // The phases of CopyMerge: 0 done, 1 cancelled through the callback, 2 failed (merge error set).
    int AppendFirstFile(CKVXAStreamFile* source);
    int Append(CKVXAStreamFile* source);
    int CloseMerge();
    // Writes the header section (container head, file header, layout, stimulator, stream headers and the
    // index-position placeholder) to `out`; 0, or 1 when a write fails.
    int WriteHdr(FILE* out);
    // Reason of the last failed merge; empty after a successful check.
    static char m_merge_error_string[256];

    // The chunk tables of the streams (created on first use); null without a file.
    CKVXAChunkTable* GetChunkTable() override;
    // Forgets the chunk tables, for a file that has grown since they were made.
    void InvalidateChunkTable();
    // Index of `stream` in this reader; -1 when it is not one of its streams.
    int32_t GetStreamIndex(const CKVXAStream* stream) const override;
    bool GetIndexedChunkPosition(uint64_t t, uint64_t& chunkPosition) const override;
    bool GetSweepSpan(int32_t sweep, uint64_t& start, uint64_t& end) const override;
    // The cache of decoded samples of the open file (made when it is opened, freed when it is closed);
    // null without a file or with the cache turned off.
    CSampleCache* GetSampleCache() override;

private:
    // The loaded header, or an all-zero one when none is loaded.
    const KVXHDR& Hdr() const;
    uint64_t HeaderStart() const { return m_pHdr ? m_pHdr->U64(KVXHDR::kStartTime) : 0; }
    _SYSTEMTIME StartCalendar() const;
    bool ReadHeaderRecord();
    bool ReadStreams();
    bool ReadDataSectionHead();
    bool ReadEmbeddedIndex();
    void ResolveTriggers();
    // Notes the from-time of the file's first data chunk (0 when it has none) when the file is opened; in
    // files of header version 2 and older a first chunk before the stored start time moves the start time
    // back to it.
    void SettleStartTime();
    // Merge steps: see KVXAStreamFileMerge.cpp.
    int RunMerge(CKVXAStreamFile** files, int count);
    int CopyChunk(CKVXAStreamFile& source, CKVXAChunk& chunk, uint64_t shift, int32_t stream);
    int MergeFailed(const char* message);

    FILE* m_pFile = nullptr;
    std::string m_szPath;
    uint64_t m_qwFileSize = 0;
    std::unique_ptr<KVXHDR> m_pHdr;
    std::vector<std::unique_ptr<CKVXAStream>> m_Streams;
    CKVXATimeStamp m_TimeStampStartPressed;
    CKVXATimeStamp m_TimeStampStart;
    CKVXATimeStamp m_TimeStampStop;
    uint64_t m_qwFirstChunkPosition = 0;
    uint64_t m_qwIndexPosition = 0;
    uint64_t m_qwListHdrSize = 0;
    uint64_t m_qwListStrmSize = 0;
    int32_t m_lStartTriggerStream = -2;
    int32_t m_lStopTriggerStream = -2;
    uint64_t m_qwFirstChunkTime = 0;
    bool m_bDiscardTimeIndex = false;
    bool m_bLongChunks = false;
    std::unique_ptr<CKVLayout> m_pLayout;
    std::unique_ptr<CMGrid9StimulatorProperty> m_pStimulator;
    std::string m_szTempDir;
    CMIndex1 m_Index;
    std::unique_ptr<CKVXAChunkTable> m_pChunkTable;
    std::unique_ptr<CSampleCache> m_pSampleCache;
    ProgressCallback m_pCallback = nullptr;
    std::string m_szLastCallbackText;
    int m_lLastCallbackPercent = -1;
    long m_lLastCallbackClock = 0;
    // Merge state: where the value of the "IDX1POS " chunk lies in the output, and the copy buffer.
    uint64_t m_qwIndexPositionField = 0;
    std::vector<uint8_t> m_MergeBuffer;
};
