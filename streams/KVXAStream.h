// One stream of a recording: its header (STRMHDR), channels, sample format (STRMFMT) and the
// format-private settings bytes of the recording instrument.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "reader/ByteOrder.h"
#include "streams/KVXAChannel.h"

class CKVXAStreamFile;
class KVXHDR;

// Result codes of CKVXAStream::ReadHdr.
enum StreamReadResult : int { STREAM_READ = 0, STREAM_SKIP = 1, STREAM_UNREADABLE = 2, STREAM_BUFFERID_TOO_LONG = 5 };

class CKVXAStream {
public:
    using StrmHdr = kvd::ByteRecord<804>;
    using StrmFmt = kvd::ByteRecord<32>;

    // STRMHDR field offsets and widths.
    enum : std::size_t {
        kHdrVersion = 0, kDataType = 2, kName = 11, kComment = 268, kStreamID = 782, kMilliSamples = 784,
        kChannelCount = 788, kBufferID = 792
    };
    enum : std::size_t { kDataTypeWidth = 9, kNameWidth = 257, kCommentWidth = 513, kBufferIDWidth = 12 };
    // STRMFMT field offsets.
    enum : std::size_t {
        kFmtVersion = 0, kUnitSign = 2, kADBits = 4, kADZero = 6, kUnitsPerAD = 8, kBytesPerChannel = 16,
        kDefaultSamplesPerSegment = 18, kDefaultSegmentCount = 20, kSecondScale = 24
    };
    // The STRMFMT chunk may be no larger than this.
    static constexpr uint64_t kMaxStrmFmtSize = 10000;

    explicit CKVXAStream(CKVXAStreamFile* streamFile) : m_pStreamFile(streamFile) {}
    virtual ~CKVXAStream();
    CKVXAStream(const CKVXAStream&) = delete;
    CKVXAStream& operator=(const CKVXAStream&) = delete;

    virtual int32_t GetChannelCount() const { return m_pStrmHdr ? static_cast<int32_t>(m_pStrmHdr->U32(kChannelCount)) : 0; }
    virtual int32_t GetHeaderVersion() const { return m_pStrmHdr ? m_pStrmHdr->U16(kHdrVersion) : -1; }
    virtual const char* GetDataType() const { return m_pStrmHdr ? m_pStrmHdr->Text(kDataType) : nullptr; }
    virtual const char* GetName() const { return m_pStrmHdr ? m_pStrmHdr->Text(kName) : nullptr; }
    virtual const char* GetComment() const { return m_pStrmHdr ? m_pStrmHdr->Text(kComment) : nullptr; }
    virtual int32_t GetID() const { return m_pStrmHdr ? m_pStrmHdr->U16(kStreamID) : 0; }
    virtual int32_t GetMilliSamplesPerSecond() const { return m_pStrmHdr ? static_cast<int32_t>(m_pStrmHdr->U32(kMilliSamples)) : 0; }
    virtual int32_t GetSampleRate() const { return GetMilliSamplesPerSecond() / 1000; }
    virtual int32_t GetFormatVersion() const { return m_pStrmFmt ? m_pStrmFmt->U16(kFmtVersion) : 0; }
    virtual signed char GetUnitSign() const { return m_pStrmFmt ? static_cast<signed char>(m_pStrmFmt->U8(kUnitSign)) : 0; }
    virtual uint16_t GetADBits() const { return m_pStrmFmt ? m_pStrmFmt->U16(kADBits) : 0; }
    virtual uint16_t GetADZero() const { return m_pStrmFmt ? m_pStrmFmt->U16(kADZero) : 0; }
    virtual double GetUnitsPerAD() const { return m_pStrmFmt ? m_pStrmFmt->F64(kUnitsPerAD) : 0.0; }
    virtual uint16_t GetBytesPerChannel() const { return m_pStrmFmt ? m_pStrmFmt->U16(kBytesPerChannel) : 0; }
    virtual uint16_t GetDefaultSamplesPerSegment() const { return m_pStrmFmt ? m_pStrmFmt->U16(kDefaultSamplesPerSegment) : 0; }
    virtual uint16_t GetDefaultSegmentCount() const { return m_pStrmFmt ? m_pStrmFmt->U16(kDefaultSegmentCount) : 0; }
    // The channel at list index `index`; null outside the list.
    virtual CKVXAChannel* GetChannel(int16_t index) const;
    // The first channel, in list order, with this hardware ID; null when none.
    virtual CKVXAChannel* GetChannelHWID(int16_t hwid) const;
    // The name of the channel at `index`; "" outside the list.
    virtual const char* GetChannelName(int16_t index) const;
    // True when the file records continuously (recording mode 0).
    virtual bool HasContinuousData() const;
    // True for the types that carry continuous raw samples ("analog", "chat", "filter", "digital").
    virtual bool HasRawData() const;
    // Points `data` at the format-private bytes and returns their count.
    virtual int32_t GetStreamFormatPrivate(const uint8_t*& data) const;
    // Reads the stream header at the current file position; a StreamReadResult.
    virtual int ReadHdr(FILE* file);

    // A deep copy bound to `streamFile`.
    CKVXAStream* Clone(CKVXAStreamFile* streamFile) const;
    // Writes the header in its current form (long STRMHDR, 32-byte STRMFMT); 0.
    int WriteHdr(FILE* file) const;

    const char* GetBufferID() const { return m_pStrmHdr ? m_pStrmHdr->Text(kBufferID) : nullptr; }
    // The 8-character id of this stream's data chunks (NUL-terminated).
    const char* GetDataChunkID() const { return m_szDataChunkID; }
    const char* GetLegacyTypeTag() const { return m_szLegacyType; }
    const KVXHDR* GetKVXHDR() const;
    const StrmFmt* Get_pStrmFmt() const { return m_pStrmFmt.get(); }
    const StrmHdr* Get_pStrmHdr() const { return m_pStrmHdr.get(); }
    uint64_t GetStrmHdrSize() const { return m_qwStrmHdrSize; }
    uint64_t GetStrmFmtSize() const { return m_qwStrmFmtSize; }
    CKVXAStreamFile* GetStreamFile() const { return m_pStreamFile; }

    // Largest channel positions, and a channel's position as a percentage of them (-1 outside the list).
    void GetMaxChannelPos(int32_t& x, int32_t& y) const;
    int32_t GetRelativeChannelPosX(int16_t index) const;
    int32_t GetRelativeChannelPosY(int16_t index) const;

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
    CKVXAStreamFile* m_pStreamFile;
};
