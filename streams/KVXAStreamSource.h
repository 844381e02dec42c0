// What a stream needs from the file it belongs to. The file reader implements it; streams, chunks and
// event cursors see their file only through it, so that they depend on nothing above them.
#pragma once

#include <cstdint>
#include <cstdio>

class CKVXAChunkTable;
class CKVXAStream;
class CSampleCache;
class CKVXATimeStamp;
class KVXHDR;

class CKVXAStreamSource {
public:
    virtual ~CKVXAStreamSource() = default;

    // The file header's version, the writer's software major version and the recording mode.
    virtual int32_t GetHeaderVersion() const = 0;
    virtual uint32_t GetSoftwareVersionMajor() const = 0;
    virtual int32_t GetRecordingMode() const = 0;
    virtual int32_t GetMillisamplesPerSecond() const = 0;
    // The parsed file header; null while none is loaded.
    virtual const KVXHDR* GetKVXHDR() const = 0;

    // The open file, its size when opened, and the position of its first data chunk.
    virtual FILE* GetFilePointer() const = 0;
    virtual uint64_t GetFileSize() const = 0;
    virtual uint64_t GetFirstChunkPosition() const = 0;
    // The chunk tables of the file's streams (null without a file), and a stream's index among them
    // (-1 when it is not one of the file's streams).
    virtual CKVXAChunkTable* GetChunkTable() = 0;
    virtual int32_t GetStreamIndex(const CKVXAStream* stream) const = 0;
    // The cache of decoded samples of the file; null when there is none (the cache turned off).
    virtual CSampleCache* GetSampleCache() { return nullptr; }

    // The recording's start time (value and start reference) and stop time.
    virtual CKVXATimeStamp* GetStartTime() = 0;
    virtual CKVXATimeStamp* GetStopTime() = 0;

    // From the chunk index: the position of the chunk the index names for time `t` (the last item at or
    // before it); false when the file has no index items.
    virtual bool GetIndexedChunkPosition(uint64_t t, uint64_t& chunkPosition) const = 0;
    // From the sweep list: start and end of sweep `sweep`; false outside the list or without one.
    virtual bool GetSweepSpan(int32_t sweep, uint64_t& start, uint64_t& end) const = 0;
};
