#include "streams/KVXAChannel.h"

#include <cstring>

#include "io/FileIO.h"

using kvd::ReadExact;

int32_t CKVXAChannel::GetRefBufferID(int32_t index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_References.size() ||
        static_cast<uint32_t>(index) >= GetReferenceCount() || !m_References[index])
        return -1;
    return m_References[index]->wBufferID;
}

int32_t CKVXAChannel::GetRefChannelID(int32_t index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_References.size() ||
        static_cast<uint32_t>(index) >= GetReferenceCount() || !m_References[index])
        return -1;
    return m_References[index]->lChannelID;
}

int CKVXAChannel::ReadHdr(FILE* file, uint16_t fileVersion)
{
    if (!file) return 2;
    if (!m_pHdr) m_pHdr = std::make_unique<Record>();
    m_pHdr->Clear();
    m_References.clear();

    const std::size_t fixed = fileVersion <= 5 ? 788 : 792;
    if (!ReadExact(file, m_pHdr->Data(), fixed)) {
        m_pHdr.reset();
        return 2;
    }
    const auto copyNameToDecorated = [this] {
        std::memcpy(m_pHdr->Text(kDecoratedName), m_pHdr->Text(kName), kNameWidth);
        m_pHdr->SetI32(kGain, -1);
    };
    if (fileVersion <= 5) {
        m_pHdr->SetU16(kGroupID, 0);
        copyNameToDecorated();
    } else {
        const uint16_t h = m_pHdr->U16(kVersion);
        if (h == 0)
            copyNameToDecorated();
        else  // a cut-short tail keeps the zero fill; only the fixed part decides the result
            (void)ReadExact(file, m_pHdr->Data() + fixed, (h == 1 ? 1052 : 1104) - fixed);
    }
    m_pHdr->Terminate(kName, kNameWidth);
    m_pHdr->Terminate(kComment, kCommentWidth);
    m_pHdr->Terminate(kDecoratedName, kNameWidth);

    const uint32_t count = m_pHdr->U32(kRefCount);
    if (count == 0) return 0;
    // Never allocate for more entries than the rest of the file can hold.
    if (static_cast<uint64_t>(count) * kReferenceSize > kvd::BytesLeft(file)) return 2;
    m_References.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t raw[kReferenceSize];
        if (!ReadExact(file, raw, sizeof raw)) return 2;
        m_References[i] = std::make_unique<Reference>(Reference{kvd::LoadU16(raw), kvd::LoadI32(raw + 4)});
    }
    return 0;
}

int CKVXAChannel::WriteHdr(FILE* file) const
{
    if (!m_pHdr) return 0;
    kvd::WriteExact(file, m_pHdr->Data(), Record::kSize);
    for (uint32_t i = 0; i < GetReferenceCount() && i < m_References.size(); ++i) {
        uint8_t raw[kReferenceSize] = {};
        if (m_References[i]) {
            kvd::StoreU16(raw, m_References[i]->wBufferID);
            kvd::StoreI32(raw + 4, m_References[i]->lChannelID);
        }
        kvd::WriteExact(file, raw, sizeof raw);
    }
    return 0;
}

CKVXAChannel* CKVXAChannel::Clone() const
{
    auto* copy = new CKVXAChannel;
    if (m_pHdr) {
        copy->m_pHdr = std::make_unique<Record>(*m_pHdr);
        copy->m_pHdr->SetU16(kVersion, kCurrentVersion);
    }
    copy->m_References.resize(m_References.size());
    for (std::size_t i = 0; i < m_References.size(); ++i)
        if (m_References[i]) copy->m_References[i] = std::make_unique<Reference>(*m_References[i]);
    return copy;
}
