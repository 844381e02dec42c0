#include "settings/MMEATriggerProperty.h"

#include <algorithm>

#include "io/ByteOrder.h"
#include "io/MSettingsReader.h"
#include "settings/SoftwareVersion.h"

namespace {

// Defaults of words 1 to 14; words 12 to 14 start at 0.
constexpr int32_t kDefaultWords[CMMEATriggerProperty::kWordCount] = {2, 0,      1, 3, -1200, -1200, 1,
                                                                     0, 0xFFFF, 2, 1, 0,     0,     0};
// Bytes of an old record image that hold words 1 to 14 (image bytes 4 to 59).
constexpr std::size_t kImageWordsEnd = 4 + 4 * CMMEATriggerProperty::kWordCount;

}  // namespace

CMMEATriggerProperty::CMMEATriggerProperty()
{
    std::copy(std::begin(kDefaultWords), std::end(kDefaultWords), m_alWord);
}

bool CMMEATriggerProperty::ReadImage(CMSettingsReader& in)
{
    uint32_t length = 0;
    if (!in.U32(length)) return false;
    if (length > in.Remaining()) {
        in.Fail();
        return false;
    }
    uint8_t image[kImageWordsEnd] = {};
    const std::size_t kept = std::min<std::size_t>(length, kImageWordsEnd);
    if (!in.Bytes(image, kept) || !in.Skip(length - kept)) return false;
    // A word not wholly inside the image keeps its default.
    for (int k = 0; k < kWordCount; ++k) {
        const std::size_t at = 4 + 4 * static_cast<std::size_t>(k);
        if (at + 4 <= kept) m_alWord[k] = kvd::LoadI32(image + at);
    }
    m_bDigitalTrigger = false;
    m_lDigitalTriggerValue = 0;
    m_lDigitalTriggerType = 1;
    m_lDigitalTriggerMask = 0xFFFF;
    switch (GetTriggeredStreamId()) {
    case 0: m_strInputBufferID = "elec0001"; break;
    case 1: m_strInputBufferID = "anlg0001"; break;
    case 2: m_strInputBufferID = "digi0001"; break;
    default: m_strInputBufferID.clear(); break;
    }
    return true;
}

bool CMMEATriggerProperty::ReadTriggerFormatInfo(CMSettingsReader& in, uint16_t version)
{
    return ReadTriggerFormatInfo(in, version, kvd::PublishedSoftwareVersionMajor());
}

bool CMMEATriggerProperty::ReadTriggerFormatInfo(CMSettingsReader& in, uint16_t version, int32_t softwareVersionMajor)
{
    if (version <= 2) {
        if (!ReadImage(in)) return false;
    } else {
        uint32_t unused = 0;
        in.U32(unused);
        for (int32_t& word : m_alWord) in.I32(word);
        in.Bool(m_bDigitalTrigger);
        in.I32(m_lDigitalTriggerValue);
        in.I32(m_lDigitalTriggerType);
        in.String32NulStopped(m_strInputBufferID);
        in.I32(m_lDigitalTriggerMask);
    }
    // Writers from major version 3 on append the parameter-trigger section.
    if (version >= 4 && (softwareVersionMajor >> 16) >= 3) {
        in.Bool(m_bParameterTrigger);
        in.I32(m_lParameterWord);
        in.String32NulStopped(m_strParameter);
        in.String32NulStopped(m_strParameterUnit);
    } else {
        m_bParameterTrigger = false;
        m_lParameterWord = -1;
        m_strParameter.clear();
        m_strParameterUnit.clear();
    }
    if (version >= 6)
        in.Bool(m_bTrialSynchronization);
    else
        m_bTrialSynchronization = false;
    return in.Ok();
}

bool CMMEATriggerProperty::ReadSpikeFormatInfo(CMSettingsReader& in, uint32_t endOffset, uint16_t version,
                                               std::vector<std::unique_ptr<CMMEATriggerProperty>>& records, uint32_t& P,
                                               uint32_t& Q, uint32_t& R)
{
    return ReadSpikeFormatInfo(in, endOffset, version, records, P, Q, R, kvd::PublishedSoftwareVersionMajor());
}

bool CMMEATriggerProperty::ReadSpikeFormatInfo(CMSettingsReader& in, uint32_t endOffset, uint16_t version,
                                               std::vector<std::unique_ptr<CMMEATriggerProperty>>& records, uint32_t& P,
                                               uint32_t& Q, uint32_t& R, int32_t softwareVersionMajor)
{
    if (version == 0) return true;
    const auto beyond = [&] { return endOffset != kNoBound && in.Position() > endOffset; };
    uint32_t count = 0;
    if (!in.U32(count) || beyond() || count > kMaxSpikeRecords) return false;
    records.clear();
    records.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto record = std::make_unique<CMMEATriggerProperty>();
        if (!record->ReadTriggerFormatInfo(in, version, softwareVersionMajor)) return false;
        records.push_back(std::move(record));
        if (beyond()) return false;
    }
    uint32_t p = 0, q = 0, r = 0;
    if (!in.U32(p) || beyond() || !in.U32(q) || beyond() || !in.U32(r) || beyond()) return false;
    P = p;
    Q = q;
    R = r;
    if (version == 3 && !records.empty()) {
        // These blocks stored the window in the first detector record, in seconds; the arithmetic wraps
        // at 32 bits as the format's writers did.
        const CMMEATriggerProperty& first = *records.front();
        P = static_cast<uint32_t>(first.GetDeadTime()) * 1000000u;
        Q = static_cast<uint32_t>(first.GetWord(3)) * 1000000u;
        R = (static_cast<uint32_t>(first.GetWord(4)) - static_cast<uint32_t>(first.GetWord(3))) * 1000000u;
    }
    if (version <= 2 && Q > 100000000u) Q = 1000000u;
    return true;
}
