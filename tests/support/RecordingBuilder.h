// Builds recordings byte by byte from a plain description, for tests, benchmarks and the sample tools.
// A test states the recording it needs in a few lines:
//
//     kvdtest::RecordingDesc rec;                      // version-11 header, 25 kHz, no streams
//     rec.streams.push_back(kvdtest::ElectrodeStream(4)); // 4 electrode channels
//     rec.WriteTo(dir.Path("a.kvd"));
//
// Every default is a plausible value of a current writer; tests change only what they exercise.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ByteWriter.h"

namespace kvdtest {

// Nanoseconds since 1601-01-01 UTC of a Unix time in seconds.
constexpr uint64_t kUnixEpochNs = 11644473600ULL * 1000000000ULL;
constexpr uint64_t NsFromUnix(uint64_t unixSeconds) { return kUnixEpochNs + unixSeconds * 1000000000ULL; }
// 2026-03-14 09:26:53 UTC, the default start of a built recording.
constexpr uint64_t kDefaultStart = NsFromUnix(1773480413ULL);

// Bytes of the file-header record stored in the file for a header version (0 for an unknown one).
std::size_t HeaderPrefixLength(uint16_t version);
// Bytes of a channel record in a file of header version `fileVersion` with channel header version `h`.
std::size_t ChannelRecordLength(uint16_t fileVersion, uint16_t h);

struct ChannelDesc {
    uint16_t version = 2;
    int32_t id = 0;
    int32_t hwId = 0;
    std::string name;
    std::string comment;
    std::string decoratedName;               // empty: the name
    std::optional<uint32_t> referenceCount;  // stored count; default: references.size()
    uint16_t groupId = 1;
    int32_t gain = 1100;
    int32_t reserved = 0;
    int32_t posX = 0, posY = 0, posZ = 0, extentX = 30, extentY = 30, diameter = 30;
    int32_t displayX = 0, displayY = 0, displayExtentX = 1, displayExtentY = 1;
    int32_t lowF = 1000, highF = 3000000;
    struct Ref {
        uint16_t bufferId;
        int32_t channelId;
    };
    std::vector<Ref> references;

    // The channel record and its reference entries as they stand in a file of `fileVersion`.
    std::vector<uint8_t> Encode(uint16_t fileVersion) const;
};

struct StreamDesc {
    uint16_t headerVersion = 8;
    std::string dataType = "analog";
    std::string name = "Electrode Raw Data";
    std::string comment;
    uint16_t id = 1;
    uint32_t millisamplesPerSecond = 25000000;
    std::optional<uint32_t> channelCount;  // stored count; default: channels.size()
    std::string bufferId = "elec0001";     // stored from file-header version 5 on
    std::vector<ChannelDesc> channels;

    uint16_t formatVersion = 1;  // 0 writes the 24-byte form
    char unitSign = 'V';
    uint16_t adBits = 16;
    uint16_t adZero = 32768;
    double unitsPerAD = 1.0 / 8192.0 * 1e-3;
    uint16_t bytesPerChannel = 2;
    uint16_t defaultSamplesPerSegment = 3200;
    uint16_t defaultSegmentCount = 10;
    double secondScale = 1.0;
    std::vector<uint8_t> formatPrivate;  // settings bytes after the STRMFMT record
    std::optional<uint64_t> formatSize;  // stored STRMFMT size; default: record + private bytes

    // "STRMHDR ", its channel records and "STRMFMT " as they stand in a file of `fileVersion`.
    std::vector<uint8_t> Encode(uint16_t fileVersion) const;
};

// A stream of `n` electrode channels named E1, E2 ... with hardware IDs 0 ... n-1.
StreamDesc ElectrodeStream(int n, const std::string& bufferId = "elec0001", uint16_t id = 1);
// A trigger stream with one channel.
StreamDesc TriggerStream(const std::string& bufferId = "trig0001", uint16_t id = 2,
                         const std::string& name = "Trigger 1");
// A digital stream with one channel.
StreamDesc DigitalStream(const std::string& bufferId = "digi0001", uint16_t id = 3);

struct ImageDesc {
    std::array<int32_t, 6> ints{};
    std::array<double, 4> reals{};
    std::string path;
};

// A data chunk: id, times and payload.
struct ChunkDesc {
    std::string id;
    uint64_t from = 0;
    uint64_t to = 0;
    std::vector<uint8_t> data;
    std::optional<uint64_t> size;  // stored size; default 16 + data.size()
    std::vector<uint8_t> Encode() const;
};

// An index as stored after the data chunks ("IDX1KVX ", "IDXIDX  ", "IDXSWEEP"). Stored counts and
// chunk sizes default to the list lengths; tests override them to write damaged indexes.
struct IndexDesc {
    std::string path = "built.kvd";
    uint32_t streamCount = 0;
    std::vector<std::pair<uint64_t, uint64_t>> items;   // (from-time, position of the chunk's first byte)
    std::vector<std::pair<uint64_t, uint64_t>> sweeps;  // (start, end)
    std::optional<uint32_t> itemCount, sweepCount;
    std::optional<uint64_t> itemsSize, sweepsSize;
    std::string headerId = "IDX1KVX ";
    std::vector<uint8_t> Encode() const;
};

// A gap-free stretch of samples: its start time and its length in samples.
struct RunDesc {
    uint64_t from = 0;
    uint64_t samples = 0;
};

struct RecordingDesc {
    uint16_t version = 11;
    uint32_t softwareWord1 = (3u << 16) | 4u;  // writer 3.4
    uint32_t softwareWord2 = (2u << 16) | 1u;
    std::string comment = "built recording";
    uint64_t startPressed = kDefaultStart;
    std::optional<int32_t> streamCount;  // stored count; default: streams.size()
    int32_t millisamplesPerSecond = 25000000;
    int32_t recordingMode = 0;
    float preTrigger = 0.0f;
    float postTrigger = 0.0f;
    uint16_t startTriggerStreamId = 0;  // offset 820, versions 1 to 4
    int32_t sourceType = 1;
    uint16_t electrodeChannels = 60, electrodeOffset = 0;
    uint16_t analogChannels = 0, analogOffset = 60;
    uint16_t digitalChannels = 1, digitalOffset = 60;
    uint16_t totalChannels = 61;
    uint64_t stopTime = kDefaultStart + 10ULL * 1000000000ULL;
    uint64_t chunkCount = 0;
    int32_t withIndex = 0;
    int32_t segmentTime = 128000000;
    uint64_t startTime = kDefaultStart;
    uint32_t driverMajor = 2, driverMinor = 7;
    std::string startTriggerBufferId;
    std::string stopTriggerBufferId;
    std::array<ImageDesc, 4> images{};
    uint16_t electrodeChannels2 = 0, electrodeOffset2 = 61;
    uint16_t analogChannels2 = 0, analogOffset2 = 61;
    int32_t voltageRange = 4096;
    int32_t dataSourceType = 1;
    std::string dataSourceName = "Array amplifier";
    std::string serialNumber = "SN-000123";
    uint32_t busType = 2, vendorId = 0x1234, productId = 0x0042;
    uint8_t stimulatorFlag = 0;

    std::vector<uint8_t> layoutChunk;      // whole chunk, written after the header when not empty
    std::vector<uint8_t> stimulatorChunk;  // whole chunk, written after the layout when not empty
    std::vector<StreamDesc> streams;
    uint64_t listStrmSize = 0xFFFFFFFFFFFFFFFFULL;  // version 0 only
    bool writeIndexPosition = true;                 // "IDX1POS " for version 3 on
    uint64_t indexPosition = 0;
    std::vector<ChunkDesc> chunks;  // data chunks after the header section
    std::vector<uint8_t> trailer;   // bytes after the chunks (an index, say)
    // An index written after the trailer. Its position goes into "IDX1POS " unless indexPosition is set.
    std::optional<IndexDesc> index;

    // File position of the first data chunk, and of the chunk at `i`.
    std::size_t FirstChunkPosition() const;
    std::size_t ChunkPosition(std::size_t i) const;

    // The full 2328-byte header record image; the file holds HeaderPrefixLength(version) of it.
    std::vector<uint8_t> EncodeHeaderRecord() const;
    // Everything from the magic up to the first data chunk.
    std::vector<uint8_t> EncodeHeaderSection() const;
    // The whole file.
    std::vector<uint8_t> Encode() const;
    // Writes the whole file; returns its path.
    std::string WriteTo(const std::string& path) const;
};

// Raw word of sample `index` of channel `channel` of the stream at `stream` in recordings built with
// AddSampleChunks: a hash, so that a sample read from the wrong place does not match.
uint16_t SampleWord(std::size_t stream, int channel, uint64_t index);

// Appends the data chunks of continuous streams of `rec` (indexes into rec.streams): for every run, chunks
// of `samplesPerChunk` samples, the chunks of all listed streams for the same time one after the other. The
// sample index of each stream counts on across runs; a stream's sample i lies i * 1e12 / (millisamples per
// second) ns after its run's start. The last chunk of a run may be shorter.
void AddSampleChunks(RecordingDesc& rec, const std::vector<std::size_t>& streams, const std::vector<RunDesc>& runs,
                     uint32_t samplesPerChunk);

// The index a writer would store for `rec`: an item for the first chunk and then for each chunk that starts
// at least 250,000 bytes after the previous item, and one sweep per gap-free run of the last stream's chunks.
IndexDesc DescribeIndex(const RecordingDesc& rec);
// Sets rec.index to DescribeIndex(rec) and the header's index flag.
void AttachIndex(RecordingDesc& rec);

// Writes bytes to a file; throws std::runtime_error on failure.
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// A temporary folder removed with its contents at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

}  // namespace kvdtest
