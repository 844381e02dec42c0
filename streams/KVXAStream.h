// One stream of a recording: its header (STRMHDR), channels, sample format (STRMFMT) and the
// format-private settings bytes of the recording instrument.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "io/ByteOrder.h"
#include "streams/KVXAChunk.h"
#include "streams/KVXAChannel.h"
#include "streams/KVXAStreamKind.h"

class CKVXAChunkTable;
class CKVXAEvent;
class CKVXAInfo;
class CKVXAStreamSource;
class CKVXATimeStamp;
class KVXHDR;

// Result codes of CKVXAStream::ReadHdr.
enum StreamReadResult : int { STREAM_READ = 0, STREAM_SKIP = 1, STREAM_UNREADABLE = 2, STREAM_BUFFERID_TOO_LONG = 5 };

class CKVXAStream {
public:
    using StrmHdr = kvd::ByteRecord<804>;
    using StrmFmt = kvd::ByteRecord<32>;

    // STRMHDR field offsets and widths.
    // clang-format off
    enum : std::size_t {
        kHdrVersion = 0, kDataType = 2, kName = 11, kComment = 268, kStreamID = 782, kMilliSamples = 784,
        kChannelCount = 788, kBufferID = 792
    };
    // clang-format on
    enum : std::size_t { kDataTypeWidth = 9, kNameWidth = 257, kCommentWidth = 513, kBufferIDWidth = 12 };
    // STRMFMT field offsets.
    // clang-format off
    enum : std::size_t {
        kFmtVersion = 0, kUnitSign = 2, kADBits = 4, kADZero = 6, kUnitsPerAD = 8, kBytesPerChannel = 16,
        kDefaultSamplesPerSegment = 18, kDefaultSegmentCount = 20, kSecondScale = 24
    };
    // clang-format on
    // The STRMFMT chunk may be no larger than this.
    static constexpr uint64_t kMaxStrmFmtSize = 10000;

    explicit CKVXAStream(CKVXAStreamSource* streamFile) : m_pStreamFile(streamFile) {}
    virtual ~CKVXAStream();
    CKVXAStream(const CKVXAStream&) = delete;
    CKVXAStream& operator=(const CKVXAStream&) = delete;

    virtual int32_t GetChannelCount() const
    {
        return m_pStrmHdr ? static_cast<int32_t>(m_pStrmHdr->U32(kChannelCount)) : 0;
    }
    virtual int32_t GetHeaderVersion() const { return m_pStrmHdr ? m_pStrmHdr->U16(kHdrVersion) : -1; }
    virtual const char* GetDataType() const { return m_pStrmHdr ? m_pStrmHdr->Text(kDataType) : nullptr; }
    // The kind the data type names, decoded when the header was read; Unknown without a header.
    KVXAStreamKind GetKind() const { return m_Kind; }
    virtual const char* GetName() const { return m_pStrmHdr ? m_pStrmHdr->Text(kName) : nullptr; }
    virtual const char* GetComment() const { return m_pStrmHdr ? m_pStrmHdr->Text(kComment) : nullptr; }
    virtual int32_t GetID() const { return m_pStrmHdr ? m_pStrmHdr->U16(kStreamID) : 0; }
    virtual int32_t GetMilliSamplesPerSecond() const
    {
        return m_pStrmHdr ? static_cast<int32_t>(m_pStrmHdr->U32(kMilliSamples)) : 0;
    }
    virtual int32_t GetSampleRate() const { return GetMilliSamplesPerSecond() / 1000; }
    virtual int32_t GetFormatVersion() const { return m_pStrmFmt ? m_pStrmFmt->U16(kFmtVersion) : 0; }
    virtual signed char GetUnitSign() const
    {
        return m_pStrmFmt ? static_cast<signed char>(m_pStrmFmt->U8(kUnitSign)) : 0;
    }
    virtual uint16_t GetADBits() const { return m_pStrmFmt ? m_pStrmFmt->U16(kADBits) : 0; }
    virtual uint16_t GetADZero() const { return m_pStrmFmt ? m_pStrmFmt->U16(kADZero) : 0; }
    virtual double GetUnitsPerAD() const { return m_pStrmFmt ? m_pStrmFmt->F64(kUnitsPerAD) : 0.0; }
    virtual uint16_t GetBytesPerChannel() const { return m_pStrmFmt ? m_pStrmFmt->U16(kBytesPerChannel) : 0; }
    virtual uint16_t GetDefaultSamplesPerSegment() const
    {
        return m_pStrmFmt ? m_pStrmFmt->U16(kDefaultSamplesPerSegment) : 0;
    }
    virtual uint16_t GetDefaultSegmentCount() const { return m_pStrmFmt ? m_pStrmFmt->U16(kDefaultSegmentCount) : 0; }
    // The channel at list index `index`; null outside the list.
    virtual CKVXAChannel* GetChannel(int16_t index) const;
    // The first channel, in list order, with this hardware ID; null when none.
    virtual CKVXAChannel* GetChannelHWID(int16_t hwid) const;
    // The name of the channel at `index`; "" outside the list.
    virtual const char* GetChannelName(int16_t index) const;
    // True when the file records continuously (recording mode 0).
    virtual bool HasContinuousData() const;
    // True for the kinds that carry continuous raw samples ("analog", "chat", "filter", "digital").
    virtual bool HasRawData() const;
    // Its chunks hold samples (the others hold event records).
    bool HasSampleChunks() const { return HasRawData() && GetChannelCount() > 0; }
    // Points `data` at the format-private bytes and returns their count.
    virtual int32_t GetStreamFormatPrivate(const uint8_t*& data) const;
    // Reads the stream header at the current file position; a StreamReadResult.
    virtual int ReadHdr(FILE* file);

    // A deep copy bound to `streamFile`.
    CKVXAStream* Clone(CKVXAStreamSource* streamFile) const;
    // Writes the header in its current form (long STRMHDR, 32-byte STRMFMT); 0.
    int WriteHdr(FILE* file) const;

    const char* GetBufferID() const { return m_pStrmHdr ? m_pStrmHdr->Text(kBufferID) : nullptr; }
    // The 8-character id of this stream's data chunks (NUL-terminated).
    const char* GetDataChunkID() const { return m_szDataChunkID; }
    // Names this stream's data chunks `id` (at most 8 characters); used by the merge writer.
    void SetDataChunkID(const char* id)
    {
        std::memset(m_szDataChunkID, 0, sizeof m_szDataChunkID);
        if (id) std::memcpy(m_szDataChunkID, id, strnlen(id, 8));
    }
    const char* GetLegacyTypeTag() const { return m_szLegacyType; }
    const KVXHDR* GetKVXHDR() const;
    const StrmFmt* Get_pStrmFmt() const { return m_pStrmFmt.get(); }
    const StrmHdr* Get_pStrmHdr() const { return m_pStrmHdr.get(); }
    uint64_t GetStrmHdrSize() const { return m_qwStrmHdrSize; }
    uint64_t GetStrmFmtSize() const { return m_qwStrmFmtSize; }
    CKVXAStreamSource* GetStreamFile() const { return m_pStreamFile; }

    // Largest channel positions, and a channel's position as a percentage of them (-1 outside the list).
    void GetMaxChannelPos(int32_t& x, int32_t& y) const;
    int32_t GetRelativeChannelPosX(int16_t index) const;
    int32_t GetRelativeChannelPosY(int16_t index) const;

    // ---- Raw data of continuous streams: 16-bit values interleaved by channel within each chunk ----
    // Interleaved values of all channels in [from, to), at most `max`.
    virtual int32_t GetRawData(int16_t* buffer, int32_t max, const CKVXATimeStamp* from, const CKVXATimeStamp* to);
    // Every sample of one channel; the buffer holds GetRawDataBufferSizeOfChannel() samples, and no more
    // are written. Returns the number of samples.
    virtual int32_t GetRawDataOfChannel(int16_t* buffer, int32_t channel);
    // `count` samples of one channel from sample index `start`; returns the samples delivered.
    virtual int32_t GetRawDataOfChannelStartCount(int16_t* buffer, int32_t channel, int64_t start, int32_t count);
    // Receives samples of one channel: `n` samples that belong `at` samples after the first one asked for.
    // The samples are valid during the call only.
    using ChannelTaker = std::function<void(const int16_t* samples, uint64_t n, uint64_t at)>;
    // Hands samples [start, start + count) of one channel of a continuous stream to `take`, chunk by chunk,
    // in order; returns the number handed over (fewer where the stream ends or a chunk cannot be read).
    int64_t TakeChannel(int32_t channel, int64_t start, int64_t count, const ChannelTaker& take);
    // Number of interleaved values in [from, to); 0 when it does not fit 31 bits.
    virtual int32_t GetRawDataBufferSize(const CKVXATimeStamp* from, const CKVXATimeStamp* to);
    // Samples per channel of the whole (continuous) recording, at the stream's rate; capped to 31 bits.
    virtual int32_t GetRawDataBufferSizeOfChannel();
    // The same without the cap (UINT64_MAX where it overflows).
    uint64_t RecordingSamples() const;
    // Sweeps of triggered recordings (sweep index into the file's sweep list).
    virtual int32_t GetSweepRawDataBufferSize(int32_t sweep);
    virtual int32_t GetSweepRawData(int16_t* buffer, int32_t max, int32_t sweep);
    virtual int32_t GetSweepRawData(int16_t* buffer, int32_t max, int32_t sweep, int32_t first, int32_t count);
    virtual int32_t GetSweepRawDataOfChannel(int16_t* buffer, int32_t max, int32_t sweep, int32_t channel);
    virtual int32_t GetSweepRawDataOfChannel(int16_t* buffer, int32_t max, int32_t sweep, int32_t channel,
                                             int32_t first, int32_t count);
    // Samples [first, first + count) of one channel of a sweep, numbered as the four-argument
    // GetSweepRawDataOfChannel numbers them; reads only the chunks they lie in. Returns the samples delivered.
    int32_t GetSweepSamplesOfChannel(int16_t* buffer, int32_t sweep, int32_t channel, uint32_t first, int32_t count);

    // ---- Chunk navigation; chunks returned belong to the caller ----
    virtual CKVXAChunk* GetFirstChunk();
    // The stream's chunk after `chunk`; deletes `chunk` when it returns a successor.
    virtual CKVXAChunk* GetNextChunk(CKVXAChunk* chunk);
    // The first chunk whose to-time is after `t`, searched from the index item at or before `t`.
    virtual CKVXAChunk* GetChunkNextTo(const CKVXATimeStamp* t);

    // ---- Event navigation; cursors returned belong to the caller ----
    // A cursor on the stream's first record; null when no chunk yields one.
    virtual CKVXAEvent* GetFirstEvent();
    // A cursor on the first record of the chunk whose data starts at `dataPosition`; null when the stream
    // has no such chunk or it holds no record.
    CKVXAEvent* GetEventsOfChunkAt(uint64_t dataPosition);
    // Always 0: cursors move with CKVXAEvent::Next.
    virtual int32_t GetNextEvent(CKVXAEvent* cursor);
    // A cursor on the first record at or after `t`, or on the stream's last record when none is; null
    // when no chunk from `t` on yields a record.
    virtual CKVXAEvent* GetEventNextTo(const CKVXATimeStamp* t);
    // Adds the records in [from, to) to `counters` (`counterCount` entries): for spike streams to the
    // entry of the record's channel (channels beyond the array are not counted), for other types to entry 0.
    virtual void EventCountFromTo(const CKVXATimeStamp* from, const CKVXATimeStamp* to, int32_t* counters,
                                  int32_t counterCount);

    // ---- Information block ----
    // A new information block for the stream's kind, decoded from the format-private bytes and owned by
    // the caller; null for "analog", "digital" and unknown kinds, when the tag differs or the bytes cannot
    // be decoded.
    virtual CKVXAInfo* GetInfo() const;
    // Reads this stream's next chunk from the current position of `file`, skipping other streams' chunks.
    CKVXAChunk* ReadChunkFrom(FILE* file);
    // Moves the stream's current chunk to the chunk that holds time `t`; false when none does.
    bool MoveToChunk(const CKVXATimeStamp* t);
    const CKVXAChunk* GetCurrentChunk() const { return m_pCurrentChunk.get(); }
    // Drops the current chunk and the cached chunk data (the reader's chunk tables were rebuilt).
    void ForgetChunks();
    // Interleaved values in [from, to) and their number, on raw nanosecond times.
    int32_t GetRawDataNs(int16_t* buffer, int32_t max, uint64_t from, uint64_t to);
    // Walks the interleaved values of [from, to) from the current chunk on, at most `limit`, handing each
    // chunk's part to copy(offset in the chunk, count, values handed over before); the values handed over.
    template <typename Copy>
    uint64_t WalkValuesNs(CKVXAChunkTable& table, std::size_t s, uint64_t from, uint64_t to, uint64_t limit, Copy copy);
    // The samples of one channel among the values GetRawDataNs would deliver, at most `max` after the first
    // `skip` (whose chunks are not read); their number.
    int64_t GetRawDataOfChannelNs(int16_t* buffer, int32_t max, uint64_t from, uint64_t to, int32_t channel,
                                  uint64_t skip = 0);
    uint64_t RawDataBufferSizeNs(uint64_t from, uint64_t to) const;
    // The chunk parts that the sweep readers' walk over [from, to) covers, at most `limit` values, each handed
    // in order to part(dataPosition, offset, n): n values of the chunk whose data starts at dataPosition,
    // from its value `offset`. Returns the values handed.
    uint64_t WalkSpanNs(uint64_t from, uint64_t to, uint64_t limit,
                        const std::function<void(uint64_t dataPosition, uint64_t offset, uint64_t n)>& part);

private:
    void BuildNames(uint16_t fileVersion);
    int ReadFormat(FILE* file);
    int32_t RelativePos(int16_t index, bool x) const;

    uint64_t m_qwStrmHdrSize = 0;
    uint64_t m_qwStrmFmtSize = 0;
    std::vector<uint8_t> m_StrmFmtPrivate;
    std::unique_ptr<StrmHdr> m_pStrmHdr;
    std::vector<std::unique_ptr<CKVXAChannel>> m_Channels;
    char m_szDataChunkID[9] = {};
    char m_szLegacyType[4] = {};
    std::unique_ptr<StrmFmt> m_pStrmFmt;
    CKVXAStreamSource* m_pStreamFile;
    KVXAStreamKind m_Kind = KVXAStreamKind::Unknown;

    // Raw-data access state: the current chunk (its entry in the reader's chunk table), the data of the
    // last chunk read whole, and scratch space of the sweep readers; all reused from call to call.
    CKVXAChunkTable* ChunkTable(std::size_t& streamIndex);
    void FillChunk(CKVXAChunk& chunk, CKVXAChunkTable& table, std::size_t s, std::size_t entry);
    void SetCurrent(CKVXAChunkTable& table, std::size_t s, std::size_t entry);
    bool StepCurrent(CKVXAChunkTable& table, std::size_t s);
    bool MoveToNs(uint64_t t);
    const int16_t* LoadEntry(CKVXAChunkTable& table, std::size_t s, std::size_t entry);
    // Hands samples [from, from + n) of one channel of entry `entry` (of `k` channels) to take(.., n, at):
    // from the file's sample cache when it holds the chunk, else from the chunk's data, which the cache
    // then keeps when it wants it. False when the chunk cannot be read.
    bool TakeFromEntry(CKVXAChunkTable& table, std::size_t s, std::size_t entry, int32_t k, int32_t channel,
                       uint64_t from, uint64_t n, uint64_t at, const ChannelTaker& take);
    bool SweepSpan(int32_t sweep, uint64_t& start, uint64_t& end) const;

    std::unique_ptr<CKVXAChunk> m_pCurrentChunk;
    std::size_t m_lCurrentEntry = 0;
    std::vector<int16_t> m_ChunkData;
    std::size_t m_lLoadedEntry = static_cast<std::size_t>(-1);
    std::vector<int16_t> m_SweepScratch;
    std::vector<int16_t> m_ChannelScratch;
    int32_t m_lStreamIndex = -1;
};
