// The adapter between the recording reader and the Neuroshare view of a file: the table of open files,
// each file's entity list, and the answers to every Neuroshare query.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/DigitalBitEvents.h"
#include "include/nsAPItypes.h"
#include "reader/KVXAStreamFile.h"

class CKVXAStreamFile;
class CKVXAStream;
class CKVXAEvtSpike;

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
        std::unique_ptr<CKVXAEvtSpike> lastSpike;
        int32_t lastIndex = -1;
        // Blocks start in ascending time and do not overlap: time searches may bisect.
        bool bOrderedBlocks = false;
        // Bit entities: the events of the digital channel's 16 bits (this entity's bit is lSubIndex), shared
        // by the channel's bit entities. Reads move its cursors: it belongs to this file's entity list and is
        // used only by calls on this file, so a per-file lock covers it.
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

    int Open(const char* pszFilename, uint32_t* hFile);
    bool Close(uint32_t hFile);
    static uint32_t GetMaxFileNumber() { return kMaxFiles; }
    bool IsFileExistent(uint32_t hFile) const;
    bool IsEntityExistent(uint32_t hFile, uint32_t dwEntityID) const;
    bool IsEntityExistent(uint32_t hFile, uint32_t dwEntityID, uint32_t dwType) const;
    bool IsSourceExistent(uint32_t hFile, uint32_t dwEntityID, uint32_t dwSource) const;
    bool BuildKVX2NSMap(uint32_t hFile);

    bool GetFileInfo(uint32_t hFile, ns_FILEINFO* pFileInfo);
    bool GetEntityInfo(uint32_t hFile, uint32_t dwEntityID, ns_ENTITYINFO* pEntityInfo, uint32_t size);
    bool GetAnalogInfo(uint32_t hFile, uint32_t dwEntityID, ns_ANALOGINFO* pAnalogInfo, uint32_t size);
    bool GetAnalogData(uint32_t hFile, uint32_t dwEntityID, uint32_t dwStartIndex, uint32_t dwIndexCount,
                       uint32_t* pdwContCount, double* pData);
    bool GetEventInfo(uint32_t hFile, uint32_t dwEntityID, ns_EVENTINFO* pEventInfo, uint32_t size);
    bool GetEventData(uint32_t hFile, uint32_t dwEntityID, uint32_t nIndex, double* pdTimeStamp, void* pData,
                      uint32_t dwDataBufferSize, uint32_t* pdwDataRetSize);
    bool GetSegmentInfo(uint32_t hFile, uint32_t dwEntityID, ns_SEGMENTINFO* pSegmentInfo, uint32_t size);
    bool GetSegmentSourceInfo(uint32_t hFile, uint32_t dwEntityID, uint32_t dwSourceID,
                              ns_SEGSOURCEINFO* pSourceInfo, uint32_t size);
    bool GetSegmentData(uint32_t hFile, uint32_t dwEntityID, int32_t nIndex, double* pdTimeStamp, double* pData,
                        uint32_t dwDataBufferSize, uint32_t* pdwSampleCount, uint32_t* pdwUnitID);
    bool GetIndexByTime(uint32_t hFile, uint32_t dwEntityID, double dTime, int32_t nFlag, uint32_t* pdwIndex);
    bool GetTimeByIndex(uint32_t hFile, uint32_t dwEntityID, uint32_t dwIndex, double* pdTime);

    // Item collection while the entity list is built.
    void GetSpikeCount(CKVXAStream* pStream, DataSource** pDS, double basetime);
    void CountDigiEvents(CKVXAStreamFile* pFile, CKVXAStream* pStream, DataSource** pDS, int lIndex,
                         double basetime);

private:
    // Sweep blocks of a triggered recording, shared by all channels of a stream, and their lengths.
    struct SweepBlocks;

    // The open reader of a handle; null when none.
    CKVXAStreamFile* GetFile(uint32_t hFile) const { return hFile <= kMaxFiles ? m_Files[hFile].get() : nullptr; }
    DataSource* Entity(uint32_t hFile, uint32_t dwEntityID) const;
    double BaseTime(CKVXAStreamFile* file) const;

    // Steps of the entity list: one per stream kind, each appending that stream's records to `list`.
    void AddTriggerStream(EntityList& list, int32_t i, CKVXAStream* stream, double basetime);
    bool AddSpikeStream(EntityList& list, int32_t i, CKVXAStream* stream, double basetime);
    void AddAnalogStream(CKVXAStreamFile& file, EntityList& list, int32_t i, CKVXAStream* stream, double basetime);
    void AddContinuousChannels(CKVXAStreamFile& file, EntityList& list, int32_t i, CKVXAStream* stream,
                               double basetime);
    void AddTriggeredChannels(CKVXAStreamFile& file, EntityList& list, int32_t i, CKVXAStream* stream,
                              double basetime);
    void AddDigitalBits(CKVXAStreamFile& file, EntityList& list, CKVXAStream* stream, const DataSource& analog,
                        double basetime);

    // Steps of reading sample words into the host's buffer.
    bool ReadContinuousSamples(const DataSource& ds, CKVXAStream* stream, uint32_t dwStartIndex,
                               uint32_t dwIndexCount, uint32_t* pdwContCount, double* pData);
    bool ReadSweepSamples(const DataSource& ds, CKVXAStream* stream, uint32_t dwStartIndex, uint32_t dwIndexCount,
                          uint32_t* pdwContCount, double* pData);
    bool ReadSweepSegment(const DataSource& ds, CKVXAStream* stream, int32_t nIndex, double* pData,
                          uint32_t capacity, uint32_t* pdwSampleCount, uint32_t* pdwUnitID);
    // Event `index` of a bit entity, found again in its channel's words.
    bool BitEvent(uint32_t hFile, const DataSource& ds, uint32_t index, CDigitalBitEvents::Event& event) const;
    bool ReadSpike(DataSource& ds, CKVXAStream* stream, int32_t nIndex, double* pData, uint32_t dwDataBufferSize,
                   uint32_t* pdwSampleCount, uint32_t* pdwUnitID);

    // Per handle (slot 0 is never used): the open file's reader and its entity list. A slot is free when
    // both are null and open when both are set.
    std::unique_ptr<CKVXAStreamFile> m_Files[kMaxFiles + 1];
    std::unique_ptr<EntityList> m_Entities[kMaxFiles + 1];
    int m_bBaseIsPressedStart = 0;
    // Sample words of the current request, kept between calls so that reading allocates nothing.
    std::vector<int16_t> m_SampleWords;
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
