// One channel record of a stream (CHNNLHDR) and its references to channels of other streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "io/ByteOrder.h"

class CKVXAChannel {
public:
    // The record as held in memory; the file holds a prefix of it (RecordLength).
    using Record = kvd::ByteRecord<1104>;
    struct Reference {
        uint16_t wBufferID;
        int32_t lChannelID;
    };

    // Record field offsets.
    // clang-format off
    enum : std::size_t {
        kVersion = 0, kID = 4, kHWID = 8, kName = 12, kComment = 269, kRefCount = 784, kGroupID = 788,
        kDecoratedName = 790, kGain = 1048, kPosX = 1056, kPosY = 1060, kPosZ = 1064, kExtendX = 1068,
        kExtendY = 1072, kDiameter = 1076, kDisplayX = 1080, kDisplayY = 1084, kDisplayExtendX = 1088,
        kDisplayExtendY = 1092, kLowF = 1096, kHighF = 1100
    };
    // clang-format on
    enum : std::size_t { kNameWidth = 257, kCommentWidth = 513 };
    static constexpr std::size_t kReferenceSize = 8;
    static constexpr int kCurrentVersion = 2;

    CKVXAChannel() = default;
    virtual ~CKVXAChannel() = default;
    CKVXAChannel(const CKVXAChannel&) = delete;
    CKVXAChannel& operator=(const CKVXAChannel&) = delete;

    virtual uint16_t GetHeaderVersion() const { return m_pHdr ? m_pHdr->U16(kVersion) : 0; }
    virtual int32_t GetID() const { return m_pHdr ? m_pHdr->I32(kID) : -1; }
    virtual int32_t GetHWID() const { return m_pHdr ? m_pHdr->I32(kHWID) : -1; }
    // The texts point into the record and stay valid while the channel lives; "" without a record.
    virtual const char* GetName() const { return GetDecoratedName(); }
    virtual const char* GetDecoratedName() const { return TextAt(kDecoratedName); }
    virtual const char* GetComment() const { return TextAt(kComment); }
    virtual int32_t GetGroupID() const { return m_pHdr ? m_pHdr->U16(kGroupID) : -1; }
    virtual uint32_t GetReferenceCount() const { return m_pHdr ? m_pHdr->U32(kRefCount) : 0; }
    virtual int32_t GetRefBufferID(int32_t index) const;
    virtual int32_t GetRefChannelID(int32_t index) const;
    virtual int32_t GetGain() const { return m_pHdr ? m_pHdr->I32(kGain) : -1; }
    virtual int32_t GetPosX() const { return Field(kPosX); }
    virtual int32_t GetPosY() const { return Field(kPosY); }
    virtual int32_t GetPosZ() const { return Field(kPosZ); }
    virtual int32_t GetExtendX() const { return Field(kExtendX); }
    virtual int32_t GetExtendY() const { return Field(kExtendY); }
    virtual int32_t GetDiameter() const { return Field(kDiameter); }
    virtual int32_t GetDisplayX() const { return Field(kDisplayX); }
    virtual int32_t GetDisplayY() const { return Field(kDisplayY); }
    virtual int32_t GetDisplayExtendX() const { return Field(kDisplayExtendX); }
    virtual int32_t GetDisplayExtendY() const { return Field(kDisplayExtendY); }
    virtual int32_t GetLowF() const { return Field(kLowF); }
    virtual int32_t GetHighF() const { return Field(kHighF); }
    // Reads the record at the current position of a file of header version `fileVersion`: 0 read,
    // 2 unreadable (the record or a reference entry is cut short, or the reference count exceeds
    // what the file still holds).
    virtual int ReadHdr(FILE* file, uint16_t fileVersion);

    // Writes the whole 1104-byte record and every reference entry; 0.
    int WriteHdr(FILE* file) const;
    // Bytes WriteHdr writes: 1104 plus 8 per reference.
    uint32_t GetHdrSize() const { return (GetReferenceCount() + 138) * 8; }
    void SetChID(int32_t id)
    {
        if (m_pHdr) m_pHdr->SetI32(kID, id);
    }
    // A deep copy whose record is marked as of the current channel header version.
    CKVXAChannel* Clone() const;

    const Record* GetRecord() const { return m_pHdr.get(); }

private:
    int32_t Field(std::size_t off) const { return m_pHdr ? m_pHdr->I32(off) : 0; }
    const char* TextAt(std::size_t off) const { return m_pHdr ? m_pHdr->Text(off) : ""; }

    std::vector<std::unique_ptr<Reference>> m_References;
    std::unique_ptr<Record> m_pHdr;
};
