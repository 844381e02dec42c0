// The adapter between the recording reader and the Neuroshare view of a file: the table of open files,
// each file's entity list, and the answers to every Neuroshare query.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/DigitalBitEvents.h"
#include "include/nsAPItypes.h"
#include "reader/KVXAStreamFile.h"

class CKVXAStreamFile;
class CKVXAStream;
class CKVXAEvent;

class CKVD {
public:
    static constexpr uint32_t kMaxFiles = 256;
    // Open result when every file slot is taken (beyond the reader's own results).
    static constexpr int kNoFreeSlot = 5;

    // One block of consecutive items of an entity.
    struct IndexTime {
        uint32_t dwIndex = 0;
        uint32_t dwNumber = 0;
        double dTime = 0.0;
        uint16_t bSlope = 0;
        uint16_t bTrigger = 0;
        uint16_t bTrialNumber = 0;
        uint16_t bStimulusNumber = 0;
    };

    // One Neuroshare entity.
    struct DataSource {
        DataSource();
        ~DataSource();
        DataSource(const DataSource&) = delete;
        DataSource& operator=(const DataSource&) = delete;

        std::string szStreamID;
        int32_t lStreamID = 0;
        int32_t lHWID = 0;
        int32_t lIndex = 0;
        int32_t lChannelID = 0;
        std::string szName;
        int32_t lSubIndex = -1;
        uint32_t dwType = 0;
        uint32_t dwItemCount = 0;
        std::vector<IndexTime> vIndexTime;
        uint32_t dwMinSampleCount = 0;
        uint32_t dwMaxSampleCount = 0;
        // Items per block when every block is equally long, so that an index finds its block by division:
        // 1 for event and segment entities; for analog entities of a triggered recording the common sweep
        // length, 0 when sweep lengths differ and -1 when there are no sweeps; 0 for continuous analog
        // entities. Zero or below: the block holding an index is found by bisection.
        int32_t single = 0;
        // Spike entities: where each spike's record lies (its chunk's data position and the record's offset
        // in it), found when the spikes are counted; and the cursor of the last read, on its chunk.
        struct SpikePlace {
            uint64_t dataPosition;
            int32_t offset;
        };
        std::vector<SpikePlace> spikePlaces;
        std::unique_ptr<CKVXAEvent> lastSpike;
        // Blocks start in ascending time and do not overlap: time searches may bisect.
        bool bOrderedBlocks = false;
        // Bit entities: the events of the digital channel's 16 bits (this entity's bit is lSubIndex), shared
        // by the channel's bit entities; counted when one of them is first asked for (CountedEntity), until
        // then dwItemCount is 0. Reads move its cursors: it belongs to this file's entity list and is used
        // only by calls on this file, so a per-file lock covers it.
        std::shared_ptr<CDigitalBitEvents> bitEvents;
        // Spike entities: the spike channel numbers counted as this entity's spikes (-1: none).
        int32_t lSpikeChannels[2] = {-1, -1};
        bool OwnsSpikeChannel(uint16_t channel) const
        {
            return lSpikeChannels[0] == channel || lSpikeChannels[1] == channel;
        }
    };
    using EntityList = std::vector<std::unique_ptr<DataSource>>;

    CKVD();
    virtual ~CKVD();
    CKVD(const CKVD&) = delete;
    CKVD& operator=(const CKVD&) = delete;

    // One open file: its reader, its entity list and the scratch words of the call that holds its lock.
    // Everything in it (and in the reader's streams and chunks) is used only under `lock`.
    struct File {
        std::mutex lock;
        std::unique_ptr<CKVXAStreamFile> reader;
        EntityList entities;
        // Sample words of the current request, kept between calls so that reading allocates nothing.
        std::vector<int16_t> sampleWords;
        // The trigger and spike entities have their items.
        bool eventsCounted = false;
        ~File();
    };

    // One call's hold on an open file: keeps it alive (a concurrent close only takes it out of the table)
    // and holds its lock until the call ends. Empty when no file is open under the handle.
    class FileCall {
    public:
        FileCall() = default;
        explicit FileCall(std::shared_ptr<File> file) : m_File(std::move(file)), m_Lock(m_File->lock) {}
        explicit operator bool() const { return m_File != nullptr; }
        File& operator*() const { return *m_File; }

    private:
        std::shared_ptr<File> m_File;
        std::unique_lock<std::mutex> m_Lock;  // released before the file reference
    };

    // Opens a file into a free slot, claimed before parsing and given back when the open fails.
    int Open(const char* pszFilename, uint32_t* hFile);
    // Takes the file out of the table; it is freed when the last call holding it ends.
    bool Close(uint32_t hFile);
    static uint32_t GetMaxFileNumber() { return kMaxFiles; }
    // Waits for the file's lock; empty when no file is open under the handle.
    FileCall Call(uint32_t hFile) const;
    bool IsFileExistent(uint32_t hFile) const;
    bool IsEntityExistent(const File& file, uint32_t dwEntityID) const;
    bool IsEntityExistent(const File& file, uint32_t dwEntityID, uint32_t dwType) const;
    bool IsSourceExistent(const File& file, uint32_t dwEntityID, uint32_t dwSource) const;
    bool BuildKVX2NSMap(File& file);

    bool GetFileInfo(File& file, ns_FILEINFO* pFileInfo);
    // The writing program and its version, as the file information names it.
    static std::string WriterText(const CKVXAStreamFile& file);
    bool GetEntityInfo(File& file, uint32_t dwEntityID, ns_ENTITYINFO* pEntityInfo, uint32_t size);
    bool GetAnalogInfo(File& file, uint32_t dwEntityID, ns_ANALOGINFO* pAnalogInfo, uint32_t size);
    bool GetAnalogData(File& file, uint32_t dwEntityID, uint32_t dwStartIndex, uint32_t dwIndexCount,
                       uint32_t* pdwContCount, double* pData);
    bool GetEventInfo(File& file, uint32_t dwEntityID, ns_EVENTINFO* pEventInfo, uint32_t size);
    bool GetEventData(File& file, uint32_t dwEntityID, uint32_t nIndex, double* pdTimeStamp, void* pData,
                      uint32_t dwDataBufferSize, uint32_t* pdwDataRetSize);
    bool GetSegmentInfo(File& file, uint32_t dwEntityID, ns_SEGMENTINFO* pSegmentInfo, uint32_t size);
    bool GetSegmentSourceInfo(File& file, uint32_t dwEntityID, uint32_t dwSourceID, ns_SEGSOURCEINFO* pSourceInfo,
                              uint32_t size);
    bool GetSegmentData(File& file, uint32_t dwEntityID, int32_t nIndex, double* pdTimeStamp, double* pData,
                        uint32_t dwDataBufferSize, uint32_t* pdwSampleCount, uint32_t* pdwUnitID);
    bool GetIndexByTime(File& file, uint32_t dwEntityID, double dTime, int32_t nFlag, uint32_t* pdwIndex);
    bool GetTimeByIndex(File& file, uint32_t dwEntityID, uint32_t dwIndex, double* pdTime);

    // Item collection, when an entity is first asked for (CountedEntity): the triggers and spikes of every
    // event stream of the file, or the bit events of one digital channel.
    void CountTriggers(CKVXAStream* pStream, DataSource& ds, double basetime);
    void GetSpikeCount(CKVXAStream* pStream, DataSource** pDS, double basetime);
    void CountDigiEvents(CKVXAStreamFile* pFile, CKVXAStream* pStream, DataSource** pDS, int lIndex, double basetime);

private:
    // Sweep blocks of a triggered recording, shared by all channels of a stream, and their lengths.
    struct SweepBlocks;

    DataSource* Entity(const File& file, uint32_t dwEntityID) const;
    // The entity with its items settled: the event streams, or a bit entity's digital channel, are counted on
    // first use.
    DataSource* CountedEntity(File& file, uint32_t dwEntityID);
    // Counts the items of every trigger and spike entity of the file in one pass over its event chunks.
    void CountEventStreams(File& file);
    // Counts the events of the 16 bit entities of the digital channel of bit entity `ds`.
    void CountBitEntities(File& file, const DataSource& ds);
    // Marks whether the entity's blocks start in ascending time without overlapping.
    static void SetOrdered(CKVXAStreamFile& file, DataSource& ds);
    double BaseTime(CKVXAStreamFile* file) const;

    // Steps of the entity list: one per stream kind, each appending that stream's records to `list`.
    void AddTriggerStream(EntityList& list, int32_t i, CKVXAStream* stream);
    bool AddSpikeStream(EntityList& list, int32_t i, CKVXAStream* stream);
    void AddAnalogStream(CKVXAStreamFile& file, EntityList& list, int32_t i, CKVXAStream* stream, double basetime);
    void AddContinuousChannels(EntityList& list, int32_t i, CKVXAStream* stream, double basetime);
    void AddTriggeredChannels(CKVXAStreamFile& file, EntityList& list, int32_t i, CKVXAStream* stream, double basetime);
    void AddDigitalBits(EntityList& list, const DataSource& analog);

    // Steps of reading sample words into the host's buffer.
    bool ReadContinuousSamples(const DataSource& ds, CKVXAStream* stream, uint32_t dwStartIndex, uint32_t dwIndexCount,
                               uint32_t* pdwContCount, double* pData);
    bool ReadSweepSamples(std::vector<int16_t>& words, const DataSource& ds, CKVXAStream* stream, uint32_t dwStartIndex,
                          uint32_t dwIndexCount, uint32_t* pdwContCount, double* pData);
    bool ReadSweepSegment(std::vector<int16_t>& words, const DataSource& ds, CKVXAStream* stream, int32_t nIndex,
                          double* pData, uint32_t capacity, uint32_t* pdwSampleCount, uint32_t* pdwUnitID);
    bool ReadSpike(std::vector<int16_t>& words, DataSource& ds, CKVXAStream* stream, int32_t nIndex, double* pData,
                   uint32_t dwDataBufferSize, uint32_t* pdwSampleCount, uint32_t* pdwUnitID);
    // Event `index` of a bit entity, found again in its channel's words.
    bool BitEvent(File& file, const DataSource& ds, uint32_t index, CDigitalBitEvents::Event& event) const;

    // The file table (slot 0 is never used), guarded by m_TableLock: a slot is claimed while its file is
    // being opened and holds the file once it is open.
    mutable std::mutex m_TableLock;
    std::shared_ptr<File> m_Files[kMaxFiles + 1];
    bool m_Claimed[kMaxFiles + 1] = {};
    int m_bBaseIsPressedStart = 0;
};

// Copies a text and its terminator into a fixed field of a Neuroshare structure, cut to fit; the bytes
// after the terminator are left as they were.
template <std::size_t N>
void PutText(char (&field)[N], const char* text)
{
    const std::size_t n = std::min(std::strlen(text), N - 1);
    std::memcpy(field, text, n);
    field[n] = '\0';
}

// The process-wide adapter behind the exported functions.
extern CKVD m_KVD;
