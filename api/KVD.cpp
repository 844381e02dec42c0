#include "api/KVD.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "api/SampleScale.h"
#include "api/SampleTime.h"
#include "api/SpikeOwners.h"
#include "api/TriggerSettings.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAChunkTable.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAEvtTrigger.h"
#include "streams/KVXAStream.h"
#include "streams/KVXAStreamKind.h"

KVD_EXPORT CKVD m_KVD;

namespace {

// Words read per piece when a large request is served: bounded memory whatever the request size, and a
// piece small enough to stay in the cache between reading and converting.
constexpr uint32_t kPieceSamples = 65536;
// Requests of this many values (1 MiB of doubles) or more are written past the processor's caches.
constexpr uint32_t kStreamingValues = 1u << 17;
constexpr uint32_t kNoSamplesYet = 10000000;

// The entity map's reading of a buffer ID.
KVXABufferKind KindOf(const std::string& id) { return BufferKindOf(id.c_str()); }
bool IsAnalogFamily(const std::string& id)
{
    const KVXABufferKind kind = KindOf(id);
    return kind == KVXABufferKind::Analog || kind == KVXABufferKind::Digital;
}
bool IsDigital(const std::string& id) { return KindOf(id) == KVXABufferKind::Digital; }
// Trigger and spike entities: their items are counted, with those of every other such entity of the file,
// when one of them is first asked for (CountedEntity); until then their item count is 0.
bool FromEventStream(const CKVD::DataSource& ds)
{
    const KVXABufferKind kind = KindOf(ds.szStreamID);
    return kind == KVXABufferKind::Trigger || kind == KVXABufferKind::Spikes;
}

// Seconds from the recording start of something with the four from-start accessors.
template <typename T>
double SecondsFromStart(const T& t, double basetime)
{
    const long double s = static_cast<long double>(t.GetSecondFromStart()) +
                          static_cast<long double>(t.GetMillisecondFromStart()) / 1000.0L +
                          static_cast<long double>(t.GetMicrosecondFromStart()) / 1000000.0L +
                          static_cast<long double>(t.GetNanosecondFromStart()) / 1000000000.0L;
    return static_cast<double>(s + basetime);
}

// Time at which a block of items ends.
double BlockEnd(const CKVD::IndexTime& block, int32_t millisamples)
{
    return AsDouble(block.dTime + PeriodsToSeconds(block.dwNumber, millisamples));
}

// Blocks that start in ascending time and end before the next one starts can be bisected by time.
bool BlocksOrdered(const std::vector<CKVD::IndexTime>& blocks, int32_t millisamples)
{
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        if (!(blocks[i].dTime >= BlockEnd(blocks[i - 1], millisamples))) return false;
    }
    return true;
}

}  // namespace

CKVD::DataSource::DataSource() = default;
CKVD::DataSource::~DataSource() = default;

CKVD::File::~File()
{
    if (reader) reader->CloseFile();
}

CKVD::CKVD() = default;

CKVD::~CKVD()
{
    // Files still open at unload are left to the process's end, as the host never closed them.
    for (auto& file : m_Files)
        if (file) new std::shared_ptr<File>(std::move(file));
}

CKVD::FileCall CKVD::Call(uint32_t hFile) const
{
    std::shared_ptr<File> file;
    {
        const std::lock_guard<std::mutex> table(m_TableLock);
        if (hFile <= kMaxFiles) file = m_Files[hFile];
    }
    // The file's lock is taken after the table's is released: a long call on one file never holds up
    // opening, closing or calls on the others.
    return file ? FileCall(std::move(file)) : FileCall();
}

bool CKVD::IsFileExistent(uint32_t hFile) const
{
    const std::lock_guard<std::mutex> table(m_TableLock);
    return hFile <= kMaxFiles && m_Files[hFile] != nullptr;
}

CKVD::DataSource* CKVD::Entity(const File& file, uint32_t dwEntityID) const
{
    return dwEntityID < file.entities.size() ? file.entities[dwEntityID].get() : nullptr;
}

CKVD::DataSource* CKVD::CountedEntity(File& file, uint32_t dwEntityID)
{
    DataSource* ds = Entity(file, dwEntityID);
    if (!ds) return ds;
    const bool events = (FromEventStream(*ds) || ds->bitEvents) && !file.eventsCounted;
    const bool bits = ds->bitEvents && !ds->bitEvents->Built();
    if (!events && !bits) return ds;
    // Counting the event streams takes one pass over the chunk heads of the file, whose windows bring the
    // small chunks between the large sample chunks along and keep the event chunks among them. A digital
    // channel's chunks are small chunks too: when its bits are counted in the same call they are counted
    // first, so that their walk drives the pass and finds each of its chunks in the window read for the
    // chunk's head instead of reading it again; the event streams then find their chunks kept.
    CKeptWindows keep(events ? file.reader->GetChunkTable() : nullptr);
    if (bits) CountBitEntities(file, *ds);
    if (events) CountEventStreams(file);
    return ds;
}

void CKVD::CountBitEntities(File& file, const DataSource& ds)
{
    // The channel's 16 bit entities, in bit order, share the store.
    CKVXAStream* stream = file.reader->GetStream(ds.lStreamID);
    if (!stream) return;
    std::vector<DataSource*> bits;
    for (const auto& entity : file.entities)
        if (entity->bitEvents == ds.bitEvents) bits.push_back(entity.get());
    if (bits.size() != CDigitalBitEvents::kBits) return;
    CountDigiEvents(file.reader.get(), stream, bits.data(), ds.lIndex, BaseTime(file.reader.get()));
}

bool CKVD::IsEntityExistent(const File& file, uint32_t dwEntityID) const { return Entity(file, dwEntityID) != nullptr; }

bool CKVD::IsEntityExistent(const File& file, uint32_t dwEntityID, uint32_t dwType) const
{
    const DataSource* ds = Entity(file, dwEntityID);
    return ds && ds->dwType == dwType;
}

bool CKVD::IsSourceExistent(const File& file, uint32_t dwEntityID, uint32_t dwSource) const
{
    return IsEntityExistent(file, dwEntityID, ns_ENTITY_SEGMENT) && dwSource == 0;
}

int CKVD::Open(const char* pszFilename, uint32_t* hFile)
{
    if (hFile) *hFile = 0;
    uint32_t slot = 1;
    {
        const std::lock_guard<std::mutex> table(m_TableLock);
        while (slot <= kMaxFiles && m_Claimed[slot]) ++slot;
        if (slot > kMaxFiles) return kNoFreeSlot;
        m_Claimed[slot] = true;
    }
    // The slot is given back unless the file is published into it.
    struct SlotClaim {
        CKVD& kvd;
        uint32_t slot;
        bool kept = false;
        ~SlotClaim()
        {
            if (kept) return;
            const std::lock_guard<std::mutex> table(kvd.m_TableLock);
            kvd.m_Claimed[slot] = false;
        }
    } claim{*this, slot};

    // Parsed without any lock: nobody else can reach the file before it is published.
    auto file = std::make_shared<File>();
    file->reader = std::make_unique<CKVXAStreamFile>();
    const int result = file->reader->OpenFile(pszFilename);
    if (result != OK) {
        const int error = errno;  // why the file could not be opened, for the caller's message
        file.reset();
        errno = error;
        return result;
    }
    BuildKVX2NSMap(*file);
    {
        const std::lock_guard<std::mutex> table(m_TableLock);
        m_Files[slot] = std::move(file);
        claim.kept = true;
    }
    if (hFile) *hFile = slot;
    return OK;
}

bool CKVD::Close(uint32_t hFile)
{
    std::shared_ptr<File> file;
    {
        const std::lock_guard<std::mutex> table(m_TableLock);
        if (hFile > kMaxFiles || !m_Files[hFile]) return false;
        file = std::move(m_Files[hFile]);
        m_Claimed[hFile] = false;
    }
    // Freed here, or by the last call still reading it when that call ends.
    return true;
}

double CKVD::BaseTime(CKVXAStreamFile* file) const
{
    if (!m_bBaseIsPressedStart) return 0.0;
    const uint64_t start = file->GetStartTime()->GetTimeStamp() / 1000ULL;
    const uint64_t pressed = file->GetTimeStampStartPressed()->GetTimeStamp() / 1000ULL;
    return static_cast<double>(static_cast<int64_t>(start - pressed)) / 1000000.0;
}

bool CKVD::BuildKVX2NSMap(File& opened)
{
    if (!opened.reader) return false;
    CKVXAStreamFile& file = *opened.reader;
    const double basetime = BaseTime(&file);

    // Built aside and handed over whole: a build that fails on the way leaves no half list behind. The list
    // comes from the headers alone; the event streams are counted when first asked for (CountedEntity).
    EntityList list;
    bool complete = true;
    for (int32_t i = 0; complete && i < file.GetStreamCount(); ++i) {
        CKVXAStream* stream = file.GetStream(i);
        if (!stream || !stream->GetBufferID()) continue;
        const std::string id = stream->GetBufferID();
        if (KindOf(id) == KVXABufferKind::Trigger)
            AddTriggerStream(list, i, stream);
        else if (KindOf(id) == KVXABufferKind::Spikes)
            complete = AddSpikeStream(list, i, stream);
        else if (IsAnalogFamily(id))
            AddAnalogStream(file, list, i, stream, basetime);
    }
    for (auto& ds : list) SetOrdered(file, *ds);
    opened.entities = std::move(list);
    opened.eventsCounted = false;
    return complete;
}

void CKVD::CountEventStreams(File& opened)
{
    CKVXAStreamFile& file = *opened.reader;
    const double basetime = BaseTime(&file);
    // Each stream's entities are counted afresh: a count that failed on the way (memory) is redone whole by
    // the next call.
    for (int32_t i = 0; i < file.GetStreamCount(); ++i) {
        std::vector<DataSource*> records;
        for (const auto& ds : opened.entities)
            if (FromEventStream(*ds) && ds->lStreamID == i) records.push_back(ds.get());
        CKVXAStream* stream = file.GetStream(i);
        if (records.empty() || !stream) continue;
        if (KindOf(records[0]->szStreamID) == KVXABufferKind::Trigger)
            CountTriggers(stream, *records[0], basetime);
        else if (static_cast<int32_t>(records.size()) == stream->GetChannelCount())
            GetSpikeCount(stream, records.data(), basetime);
        for (DataSource* ds : records) SetOrdered(file, *ds);
    }
    opened.eventsCounted = true;
}

void CKVD::SetOrdered(CKVXAStreamFile& file, DataSource& ds)
{
    const CKVXAStream* stream = file.GetStream(ds.lStreamID);
    ds.bOrderedBlocks = stream && BlocksOrdered(ds.vIndexTime, stream->GetMilliSamplesPerSecond());
}

void CKVD::AddTriggerStream(EntityList& list, int32_t i, CKVXAStream* stream)
{
    auto ds = std::make_unique<DataSource>();
    ds->szStreamID = ds->szName = stream->GetBufferID();
    ds->lStreamID = i;
    ds->dwType = ns_ENTITY_EVENT;
    ds->single = 1;
    ds->dwMinSampleCount = ds->dwMaxSampleCount = TriggerSettings(*stream).trial ? 8 : 4;
    list.push_back(std::move(ds));
}

void CKVD::CountTriggers(CKVXAStream* pStream, DataSource& ds, double basetime)
{
    const TriggerSettings settings(*pStream);
    const uint16_t slope = settings.SlopeMagnitude();
    std::vector<IndexTime> blocks;
    std::unique_ptr<CKVXAEvent> event(pStream->GetFirstEvent());
    for (uint32_t k = 0; event; ++k) {
        const auto* trigger = dynamic_cast<const CKVXAEvtTrigger*>(event.get());
        IndexTime block;
        block.dwIndex = k;
        block.dwNumber = 1;
        block.dTime = SecondsFromStart(*event, basetime);
        block.bSlope = slope;
        if (trigger) {
            block.bTrigger = settings.Value(*trigger);
            if (settings.trial) {
                block.bTrialNumber = static_cast<uint16_t>(trigger->GetTrialNumber());
                block.bStimulusNumber = static_cast<uint16_t>(trigger->GetStimulusNumber());
            }
        }
        blocks.push_back(block);
        if (!event->Next()) break;
    }
    ds.vIndexTime = std::move(blocks);
    ds.dwItemCount = static_cast<uint32_t>(ds.vIndexTime.size());
}

bool CKVD::AddSpikeStream(EntityList& list, int32_t i, CKVXAStream* stream)
{
    const int32_t channels = stream->GetChannelCount();
    for (int32_t j = 0; j < channels; ++j) {
        const CKVXAChannel* channel = stream->GetChannel(static_cast<int16_t>(j));
        if (channel && channel->GetGroupID() > 128) return false;
    }
    for (int32_t s = 0; s < channels; ++s) {
        const CKVXAChannel* channel = stream->GetChannel(static_cast<int16_t>(s));
        auto ds = std::make_unique<DataSource>();
        ds->szStreamID = stream->GetBufferID();
        ds->lStreamID = i;
        ds->single = 1;
        ds->lHWID = channel ? channel->GetHWID() : -1;
        ds->lIndex = s;
        ds->lChannelID = channel ? channel->GetID() : -1;
        ds->szName = channel ? channel->GetName() : "";
        ds->dwType = ns_ENTITY_SEGMENT;
        list.push_back(std::move(ds));
    }
    return true;
}

void CKVD::GetSpikeCount(CKVXAStream* pStream, DataSource** pDS, double basetime)
{
    const int32_t count = pStream->GetChannelCount();
    // A spike belongs to the first record whose channel ID is the spike's channel number, else to the
    // record at that position; other spikes are dropped. Each record keeps the (at most two) channel
    // numbers it owns so that reading its spikes later applies the same rule: its own ID, and its position
    // when no record has that as its ID.
    const std::vector<int32_t> owner = SpikeOwners(*pStream);
    for (int32_t r = 0; r < count; ++r) {
        DataSource& ds = *pDS[r];
        ds.dwMinSampleCount = kNoSamplesYet;
        ds.dwMaxSampleCount = 0;
        ds.dwItemCount = 0;
        ds.vIndexTime.clear();
        ds.spikePlaces.clear();
        ds.lastSpike.reset();
        const int32_t id = ds.lChannelID;
        ds.lSpikeChannels[0] = (id >= 0 && id < 65536 && owner[static_cast<std::size_t>(id)] == r) ? id : -1;
        ds.lSpikeChannels[1] =
            (r < 65536 && owner[static_cast<std::size_t>(r)] == r && ds.lSpikeChannels[0] != r) ? r : -1;
    }

    std::unique_ptr<CKVXAEvent> event(pStream->GetFirstEvent());
    while (event) {
        if (const auto* spike = dynamic_cast<const CKVXAEvtSpike*>(event.get())) {
            const int32_t r = owner[spike->GetChannel()];
            if (r >= 0) {
                DataSource& ds = *pDS[r];
                IndexTime block;
                block.dwIndex = ds.dwItemCount;
                block.dwNumber = 1;
                block.dTime = SecondsFromStart(*event, basetime);
                const CKVXAChunk* chunk = event->Get_Chunk();
                ds.spikePlaces.push_back({chunk ? chunk->GetDataPosition() : 0, chunk ? event->Get_Offset() : -1});
                ds.vIndexTime.push_back(block);
                const uint32_t samples = static_cast<uint32_t>(std::max<int32_t>(0, spike->GetCount()));
                ds.dwMinSampleCount = std::min(ds.dwMinSampleCount, samples);
                ds.dwMaxSampleCount = std::max(ds.dwMaxSampleCount, samples);
                ++ds.dwItemCount;
            }
        }
        if (!event->Next()) break;
    }
}

namespace {

// The analog record of channel position j of stream i; the builder fills in its items.
std::unique_ptr<CKVD::DataSource> AnalogRecord(CKVXAStream* stream, int32_t i, int32_t j)
{
    const CKVXAChannel* channel = stream->GetChannel(static_cast<int16_t>(j));
    auto ds = std::make_unique<CKVD::DataSource>();
    ds->szStreamID = stream->GetBufferID();
    ds->lStreamID = i;
    ds->lHWID = channel ? channel->GetHWID() : -1;
    ds->lIndex = j;  // the channel's position: what the raw-data readers take
    ds->szName = channel ? channel->GetName() : "";
    ds->dwType = ns_ENTITY_ANALOG;
    return ds;
}

}  // namespace

struct CKVD::SweepBlocks {
    std::vector<IndexTime> blocks;  // one per sweep, dwNumber the samples per channel
    uint32_t smallest = kNoSamplesYet;
    uint32_t largest = 0;
    uint64_t total = 0;
    int32_t single = -1;  // the common sweep length, 0 when lengths differ, -1 without sweeps

    SweepBlocks(CKVXAStreamFile& file, CKVXAStream& stream, int32_t channels, double basetime)
    {
        const int32_t sweeps = std::max<int32_t>(0, file.GetSweepCount());
        for (int32_t k = 0; k < sweeps; ++k) {
            const uint32_t number =
                static_cast<uint32_t>(std::max<int32_t>(0, stream.GetSweepRawDataBufferSize(k)) / channels);
            IndexTime block;
            block.dwIndex = static_cast<uint32_t>(total);
            block.dwNumber = number;
            std::unique_ptr<CKVXATimeStamp> start(file.GetSweepStartTimeAt(k));
            block.dTime = start ? SecondsFromStart(*start, basetime) : basetime;
            blocks.push_back(block);
            smallest = std::min(smallest, number);
            largest = std::max(largest, number);
            total += number;
            single = (single == -1 || single == static_cast<int32_t>(number)) ? static_cast<int32_t>(number) : 0;
        }
    }
};

void CKVD::AddAnalogStream(CKVXAStreamFile& file, EntityList& list, int32_t i, CKVXAStream* stream, double basetime)
{
    if (stream->GetChannelCount() <= 0) return;
    if (stream->HasContinuousData())
        AddContinuousChannels(list, i, stream, basetime);
    else
        AddTriggeredChannels(file, list, i, stream, basetime);
}

void CKVD::AddContinuousChannels(EntityList& list, int32_t i, CKVXAStream* stream, double basetime)
{
    const bool digital = IsDigital(stream->GetBufferID());
    const int32_t n = std::max<int32_t>(0, stream->GetRawDataBufferSizeOfChannel());
    for (int32_t j = 0; j < stream->GetChannelCount(); ++j) {
        auto ds = AnalogRecord(stream, i, j);
        ds->dwItemCount = static_cast<uint32_t>(n);
        IndexTime block;
        block.dwNumber = static_cast<uint32_t>(n);
        block.dTime = basetime;
        ds->vIndexTime.push_back(block);
        const DataSource& analog = *ds;
        list.push_back(std::move(ds));
        if (digital) AddDigitalBits(list, analog);
    }
}

void CKVD::AddTriggeredChannels(CKVXAStreamFile& file, EntityList& list, int32_t i, CKVXAStream* stream,
                                double basetime)
{
    const bool digital = IsDigital(stream->GetBufferID());
    const int32_t channels = stream->GetChannelCount();
    SweepBlocks sweeps(file, *stream, channels, basetime);
    // Item indexes are 32-bit: a recording with more samples per channel than that cannot be listed whole.
    const uint32_t items =
        static_cast<uint32_t>(std::min<uint64_t>(sweeps.total, std::numeric_limits<uint32_t>::max()));
    for (int32_t j = 0; j < channels; ++j) {
        auto ds = AnalogRecord(stream, i, j);
        ds->dwItemCount = items;
        ds->single = sweeps.single;
        ds->vIndexTime = sweeps.blocks;
        const DataSource& analog = *ds;
        list.push_back(std::move(ds));
        if (digital) AddDigitalBits(list, analog);
    }
    // Each sweep is one segment.
    for (IndexTime& block : sweeps.blocks) block.dwNumber = 1;
    for (int32_t j = 0; j < channels; ++j) {
        auto ds = AnalogRecord(stream, i, j);
        ds->dwType = ns_ENTITY_SEGMENT;
        ds->dwItemCount = static_cast<uint32_t>(sweeps.blocks.size());
        ds->dwMinSampleCount = sweeps.smallest;
        ds->dwMaxSampleCount = sweeps.largest;
        ds->single = 1;
        ds->vIndexTime = sweeps.blocks;
        list.push_back(std::move(ds));
    }
}

void CKVD::AddDigitalBits(EntityList& list, const DataSource& analog)
{
    // The events are counted when one of the bits is first asked for (CountedEntity).
    auto events = std::make_shared<CDigitalBitEvents>();
    for (int32_t b = 0; b < CDigitalBitEvents::kBits; ++b) {
        auto ds = std::make_unique<DataSource>();
        ds->szStreamID = analog.szStreamID;
        ds->lStreamID = analog.lStreamID;
        ds->lHWID = analog.lHWID;
        ds->lIndex = analog.lIndex;
        ds->szName = analog.szName;
        ds->lSubIndex = b;
        ds->dwType = ns_ENTITY_EVENT;
        ds->single = 1;
        ds->dwMinSampleCount = ds->dwMaxSampleCount = 1;
        ds->bitEvents = events;
        list.push_back(std::move(ds));
    }
}

namespace {

// The words of one channel of a digital stream: a continuous stream's whole channel is segment 0, a
// triggered stream's segments are its sweeps.
class ChannelWords : public CDigitalBitEvents::WordSource {
public:
    ChannelWords(CKVXAStream& stream, int32_t channel)
        : m_Stream(stream), m_lChannel(channel), m_bContinuous(stream.HasContinuousData())
    {}
    int32_t Read(int32_t segment, uint32_t first, int32_t count, int16_t* words) override
    {
        return m_bContinuous ? m_Stream.GetRawDataOfChannelStartCount(words, m_lChannel, first, count)
                             : m_Stream.GetSweepSamplesOfChannel(words, segment, m_lChannel, first, count);
    }

private:
    CKVXAStream& m_Stream;
    int32_t m_lChannel;
    bool m_bContinuous;
};

// The segments of a digital channel: a continuous channel from the recording start, or each sweep from
// its start.
std::vector<CDigitalBitEvents::SegmentSpan> DigitalSegments(CKVXAStreamFile& file, CKVXAStream& stream, double basetime)
{
    std::vector<CDigitalBitEvents::SegmentSpan> segments;
    if (stream.HasContinuousData()) {
        const int32_t total = std::max<int32_t>(0, stream.GetRawDataBufferSizeOfChannel());
        segments.push_back({0, static_cast<uint32_t>(total), basetime});
        return segments;
    }
    const int32_t channels = stream.GetChannelCount();
    const int32_t sweeps = file.GetSweepCount();
    for (int32_t k = 0; k < sweeps && channels > 0; ++k) {
        std::unique_ptr<CKVXATimeStamp> start(file.GetSweepStartTimeAt(k));
        const double t = start ? SecondsFromStart(*start, 0.0) : 0.0;
        // One channel's words of the sweep, whatever the number of channels of the stream.
        const int32_t n = std::max<int32_t>(0, stream.GetSweepRawDataBufferSize(k)) / channels;
        segments.push_back({k, static_cast<uint32_t>(n), t + basetime});
    }
    return segments;
}

}  // namespace

void CKVD::CountDigiEvents(CKVXAStreamFile* pFile, CKVXAStream* pStream, DataSource** pDS, int lIndex, double basetime)
{
    // One pass over the channel's words counts each bit's events and keeps its checkpoints. The store is
    // handed over whole: a count that fails on the way (memory) leaves the bits as they were.
    CDigitalBitEvents counted;
    ChannelWords words(*pStream, lIndex);
    counted.Build(words, DigitalSegments(*pFile, *pStream, basetime), pStream->GetMilliSamplesPerSecond());
    CDigitalBitEvents& events = *pDS[0]->bitEvents;  // shared by the 16 bits since the entity list was built
    events = std::move(counted);
    for (int b = 0; b < CDigitalBitEvents::kBits; ++b) pDS[b]->dwItemCount = events.Count(b);
}

bool CKVD::BitEvent(File& file, const DataSource& ds, uint32_t index, CDigitalBitEvents::Event& event) const
{
    CKVXAStream* stream = file.reader->GetStream(ds.lStreamID);
    if (!stream) return false;
    ChannelWords words(*stream, ds.lIndex);
    return ds.bitEvents->Get(words, ds.lSubIndex, index, event);
}

bool CKVD::GetFileInfo(File& opened, ns_FILEINFO* pFileInfo)
{
    CKVXAStreamFile* file = opened.reader.get();
    if (!file || !pFileInfo) return false;

    static const char* const kSourceTexts[] = {"LIN ", "MEA ", "DMEA ", "Conf "};
    static const char* const kModeTexts[] = {"cont ", "trig ", "trig_ss "};
    const int32_t source = file->GetSourceType();
    const int32_t mode = file->GetRecordingMode();
    std::string type = source >= 0 && source <= 3 ? kSourceTexts[source] : "XXX ";
    type += mode >= 0 && mode <= 2 ? kModeTexts[mode] : "xxx ";
    for (int32_t i = 0; i < file->GetStreamCount(); ++i) {
        const CKVXAStream* stream = file->GetStream(i);
        const char* name = stream && stream->GetName() ? stream->GetName() : "";
        type.append(name, strnlen(name, 2));
        type += ',';
    }
    if (type.size() > 31)
        type = type.substr(0, 28) + "...";
    else
        type.pop_back();
    PutText(pFileInfo->szFileType, type.c_str());

    pFileInfo->dwEntityCount = static_cast<uint32_t>(opened.entities.size());
    const int32_t hertz = file->GetMillisamplesPerSecond() / 1000;
    pFileInfo->dTimeStampResolution = hertz != 0 ? 1.0 / hertz : 0.0;
    const uint64_t start = file->GetStartTime()->GetTimeStamp();
    const uint64_t stop = file->GetStopTime()->GetTimeStamp();
    pFileInfo->dTimeSpan = stop > start ? static_cast<double>((stop - start) / 1000000ULL) / 1000.0 : 0.0;

    PutText(pFileInfo->szAppName, WriterText(*file).c_str());

    pFileInfo->dwTime_Year = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(file->GetYear())));
    pFileInfo->dwTime_Month = file->GetMonth();
    pFileInfo->dwTime_DayofWeek = 0;
    pFileInfo->dwTime_Day = file->GetDay();
    pFileInfo->dwTime_Hour = file->GetHour();
    pFileInfo->dwTime_Min = file->GetMinute();
    pFileInfo->dwTime_Sec = file->GetSecond();
    pFileInfo->dwTime_MilliSec = file->GetMillisecond();
    PutText(pFileInfo->szFileComment, file->GetComment() ? file->GetComment() : "");
    return true;
}

std::string CKVD::WriterText(const CKVXAStreamFile& file)
{
    const uint32_t v1 = file.GetSoftwareVersionMajor(), v2 = file.GetSoftwareVersionMinor();
    char app[64];
    std::snprintf(app, sizeof app, "Vantrel %u.%u.%u.%u", v1 >> 16, v1 & 0xFFFF, v2 >> 16, v2 & 0xFFFF);
    return app;
}

bool CKVD::GetEntityInfo(File& file, uint32_t dwEntityID, ns_ENTITYINFO* pEntityInfo, uint32_t)
{
    const DataSource* ds = CountedEntity(file, dwEntityID);
    if (!ds || !pEntityInfo) return false;
    char label[32];
    if (ds->lSubIndex == -1)
        std::snprintf(label, sizeof label, "%8s %04d %04d %8.8s", ds->szStreamID.c_str(), ds->lHWID, ds->lIndex,
                      ds->szName.c_str());
    else
        std::snprintf(label, sizeof label, "%8s %04d %04d %8.8s %02d", ds->szStreamID.c_str(), ds->lHWID, ds->lIndex,
                      ds->szName.c_str(), ds->lSubIndex);
    PutText(pEntityInfo->szEntityLabel, label);
    pEntityInfo->dwEntityType = ds->dwType;
    pEntityInfo->dwItemCount = ds->dwItemCount;
    return true;
}

namespace {

// Range, resolution, location and filter corners shared by analog and segment-source descriptions.
template <typename Info>
void DescribeChannel(Info& info, const CKVXAStream& stream, const CKVXAChannel* channel, bool digital)
{
    if (digital) {
        info.dMinVal = 0.0;
        info.dMaxVal = 65536.0;
        info.dResolution = 1.0;
    } else {
        const double half = std::pow(2.0, stream.GetADBits()) / 2.0;
        info.dMinVal = -half * stream.GetUnitsPerAD();
        info.dMaxVal = half * stream.GetUnitsPerAD();
        info.dResolution = stream.GetUnitsPerAD();
    }
    info.dLocationX = channel ? channel->GetPosX() / 1000000.0 : 0.0;
    info.dLocationY = channel ? channel->GetPosY() / 1000000.0 : 0.0;
    info.dLocationZ = channel ? channel->GetPosZ() / 1000000.0 : 0.0;
    info.dLocationUser = 0.0;
    info.dHighFreqCorner = channel ? channel->GetHighF() / 1000.0 : 0.0;
    info.dwHighFreqOrder = 0;
    PutText(info.szHighFilterType, "");
    info.dLowFreqCorner = channel ? channel->GetLowF() / 1000.0 : 0.0;
    info.dwLowFreqOrder = 0;
    PutText(info.szLowFilterType, "");
    PutText(info.szProbeInfo, "");
}

}  // namespace

bool CKVD::GetAnalogInfo(File& file, uint32_t dwEntityID, ns_ANALOGINFO* pAnalogInfo, uint32_t)
{
    const DataSource* ds = Entity(file, dwEntityID);
    if (!ds || ds->dwType != ns_ENTITY_ANALOG || !pAnalogInfo) return false;
    const CKVXAStream* stream = file.reader->GetStream(ds->lStreamID);
    if (!stream) return false;
    const bool digital = IsDigital(ds->szStreamID);
    pAnalogInfo->dSampleRate = stream->GetMilliSamplesPerSecond() / 1000.0;
    PutText(pAnalogInfo->szUnits, digital ? "raw" : "V");
    DescribeChannel(*pAnalogInfo, *stream, stream->GetChannel(static_cast<int16_t>(ds->lIndex)), digital);
    return true;
}

bool CKVD::GetAnalogData(File& file, uint32_t dwEntityID, uint32_t dwStartIndex, uint32_t dwIndexCount,
                         uint32_t* pdwContCount, double* pData)
{
    const DataSource* ds = Entity(file, dwEntityID);
    if (!ds || ds->dwType != ns_ENTITY_ANALOG) return false;
    if (static_cast<uint64_t>(dwStartIndex) + dwIndexCount > ds->dwItemCount) return false;
    CKVXAStream* stream = file.reader->GetStream(ds->lStreamID);
    if (!stream) return false;
    if (stream->HasContinuousData())
        return ReadContinuousSamples(*ds, stream, dwStartIndex, dwIndexCount, pdwContCount, pData);
    std::vector<int16_t>& words = file.sampleWords;
    words.resize(std::max<std::size_t>(words.size(), kPieceSamples));
    return ReadSweepSamples(words, *ds, stream, dwStartIndex, dwIndexCount, pdwContCount, pData);
}

namespace {

SampleScale ScaleOf(const CKVXAStream& stream, bool raw)
{
    return SampleScale(stream.GetADZero(), stream.GetUnitsPerAD(), raw);
}

}  // namespace

bool CKVD::ReadContinuousSamples(const DataSource& ds, CKVXAStream* stream, uint32_t dwStartIndex,
                                 uint32_t dwIndexCount, uint32_t* pdwContCount, double* pData)
{
    const SampleScale scale = ScaleOf(*stream, IsDigital(ds.szStreamID));
    // Each chunk's samples are converted where they lie, in the file's sample cache or in the chunk read,
    // straight into the caller's buffer; past the caches when the values are more than the caches hold.
    const bool streaming = dwIndexCount >= kStreamingValues;
    const int64_t got = stream->TakeChannel(ds.lIndex, dwStartIndex, dwIndexCount,
                                            [&](const int16_t* samples, uint64_t n, uint64_t at) {
                                                scale.Convert(samples, n, pData ? pData + at : nullptr, streaming);
                                            });
    if (streaming) SampleScale::Flush();
    if (got != static_cast<int64_t>(dwIndexCount)) return false;  // the file holds less than it announced
    if (pdwContCount) *pdwContCount = dwIndexCount;
    return true;
}

bool CKVD::ReadSweepSamples(std::vector<int16_t>& sampleWords, const DataSource& ds, CKVXAStream* stream,
                            uint32_t dwStartIndex, uint32_t dwIndexCount, uint32_t* pdwContCount, double* pData)
{
    const SampleScale scale = ScaleOf(*stream, IsDigital(ds.szStreamID));
    int16_t* words = sampleWords.data();
    // The index space is the sweeps one after another. Find the sweep holding the first item.
    const std::vector<IndexTime>& blocks = ds.vIndexTime;
    auto sweep = std::upper_bound(blocks.begin(), blocks.end(), dwStartIndex,
                                  [](uint32_t index, const IndexTime& b) { return index < b.dwIndex + b.dwNumber; });
    uint32_t done = 0;
    uint32_t offset = sweep != blocks.end() ? dwStartIndex - sweep->dwIndex : 0;
    bool first = true;
    for (; done < dwIndexCount && sweep != blocks.end(); ++sweep, offset = 0) {
        const int32_t k = static_cast<int32_t>(sweep - blocks.begin());
        const uint32_t inSweep = std::min(sweep->dwNumber - offset, dwIndexCount - done);
        for (uint32_t part = 0; part < inSweep;) {
            const uint32_t n = std::min(inSweep - part, kPieceSamples);
            const int32_t got =
                stream->GetSweepRawDataOfChannel(words, static_cast<int32_t>(n), k, ds.lIndex,
                                                 static_cast<int32_t>(offset + part), static_cast<int32_t>(n));
            if (got != static_cast<int32_t>(n)) return false;
            scale.Convert(words, n, pData ? pData + done + part : nullptr);
            part += n;
        }
        // The count of contiguous items: those of the first sweep touched.
        if (first && pdwContCount) *pdwContCount = inSweep;
        first = false;
        done += inSweep;
    }
    if (done != dwIndexCount) return false;
    if (first && pdwContCount) *pdwContCount = 0;
    return true;
}

bool CKVD::GetEventInfo(File& file, uint32_t dwEntityID, ns_EVENTINFO* pEventInfo, uint32_t)
{
    const DataSource* ds = Entity(file, dwEntityID);
    if (!ds || ds->dwType != ns_ENTITY_EVENT || !pEventInfo) return false;
    pEventInfo->dwEventType = KindOf(ds->szStreamID) == KVXABufferKind::Trigger ? ns_EVENT_WORD : ns_EVENT_BYTE;
    pEventInfo->dwMinDataLength = ds->dwMinSampleCount;
    pEventInfo->dwMaxDataLength = ds->dwMinSampleCount;
    PutText(pEventInfo->szCSVDesc, "");
    return true;
}

bool CKVD::GetEventData(File& file, uint32_t dwEntityID, uint32_t nIndex, double* pdTimeStamp, void* pData,
                        uint32_t dwDataBufferSize, uint32_t* pdwDataRetSize)
{
    const DataSource* ds = CountedEntity(file, dwEntityID);
    if (!ds || ds->dwType != ns_ENTITY_EVENT || nIndex >= ds->dwItemCount) return false;
    CDigitalBitEvents::Event bit;
    const IndexTime* block = nullptr;
    if (ds->bitEvents) {
        if (!BitEvent(file, *ds, nIndex, bit)) return false;
    } else {
        if (nIndex >= ds->vIndexTime.size()) return false;
        block = &ds->vIndexTime[nIndex];
    }
    if (pdTimeStamp) *pdTimeStamp = block ? block->dTime : bit.time;
    if (pData) {
        auto* out = static_cast<uint8_t*>(pData);
        if (block && KindOf(ds->szStreamID) == KVXABufferKind::Trigger) {
            if (dwDataBufferSize >= 4) {
                const uint16_t words[] = {block->bSlope, block->bTrigger};
                std::memcpy(out, words, sizeof words);
            }
            if (ds->dwMinSampleCount == 8 && dwDataBufferSize >= 8) {
                const uint16_t words[] = {block->bTrialNumber, block->bStimulusNumber};
                std::memcpy(out + 4, words, sizeof words);
            }
        } else if (dwDataBufferSize >= 1) {
            out[0] = block ? 0 : bit.sign;
        }
    }
    if (pdwDataRetSize) *pdwDataRetSize = ds->dwMinSampleCount;
    return true;
}

bool CKVD::GetSegmentInfo(File& file, uint32_t dwEntityID, ns_SEGMENTINFO* pSegmentInfo, uint32_t)
{
    const DataSource* ds = CountedEntity(file, dwEntityID);
    if (!ds || ds->dwType != ns_ENTITY_SEGMENT || !pSegmentInfo) return false;
    const CKVXAStream* stream = file.reader->GetStream(ds->lStreamID);
    pSegmentInfo->dwSourceCount = 1;
    pSegmentInfo->dwMinSampleCount = ds->dwMinSampleCount;
    pSegmentInfo->dwMaxSampleCount = ds->dwMaxSampleCount;
    pSegmentInfo->dSampleRate = stream ? stream->GetMilliSamplesPerSecond() / 1000.0 : 0.0;
    PutText(pSegmentInfo->szUnits, IsDigital(ds->szStreamID) ? "raw" : "V");
    return true;
}

bool CKVD::GetSegmentSourceInfo(File& file, uint32_t dwEntityID, uint32_t dwSourceID, ns_SEGSOURCEINFO* pSourceInfo,
                                uint32_t)
{
    if (!IsSourceExistent(file, dwEntityID, dwSourceID) || !pSourceInfo) return false;
    const DataSource* ds = Entity(file, dwEntityID);
    const CKVXAStream* stream = file.reader->GetStream(ds->lStreamID);
    if (!stream) return false;
    pSourceInfo->dSubSampleShift = 0.0;
    DescribeChannel(*pSourceInfo, *stream, stream->GetChannel(static_cast<int16_t>(ds->lIndex)),
                    IsDigital(ds->szStreamID));
    return true;
}

bool CKVD::GetSegmentData(File& file, uint32_t dwEntityID, int32_t nIndex, double* pdTimeStamp, double* pData,
                          uint32_t dwDataBufferSize, uint32_t* pdwSampleCount, uint32_t* pdwUnitID)
{
    DataSource* ds = CountedEntity(file, dwEntityID);
    if (!ds || ds->dwType != ns_ENTITY_SEGMENT || nIndex < 0 || static_cast<uint32_t>(nIndex) >= ds->dwItemCount ||
        static_cast<std::size_t>(nIndex) >= ds->vIndexTime.size())
        return false;
    CKVXAStream* stream = file.reader->GetStream(ds->lStreamID);
    if (!stream) return false;
    const uint32_t capacity = dwDataBufferSize / sizeof(double);

    bool read = false;
    if (KindOf(ds->szStreamID) == KVXABufferKind::Spikes)
        read = ReadSpike(file.sampleWords, *ds, stream, nIndex, pData, capacity, pdwSampleCount, pdwUnitID);
    else if (IsAnalogFamily(ds->szStreamID))
        read = ReadSweepSegment(file.sampleWords, *ds, stream, nIndex, pData, capacity, pdwSampleCount, pdwUnitID);
    if (!read) return false;
    if (pdTimeStamp) *pdTimeStamp = ds->vIndexTime[nIndex].dTime;
    return true;
}

bool CKVD::ReadSweepSegment(std::vector<int16_t>& words, const DataSource& ds, CKVXAStream* stream, int32_t nIndex,
                            double* pData, uint32_t capacity, uint32_t* pdwSampleCount, uint32_t* pdwUnitID)
{
    const int32_t channels = stream->GetChannelCount();
    if (channels <= 0) return false;
    const int32_t n = std::max<int32_t>(0, stream->GetSweepRawDataBufferSize(nIndex)) / channels;
    words.resize(std::max<std::size_t>(words.size(), static_cast<std::size_t>(n)));
    if (n > 0 && stream->GetSweepRawDataOfChannel(words.data(), n, nIndex, ds.lIndex) != n) return false;
    ScaleOf(*stream, IsDigital(ds.szStreamID))
        .Convert(words.data(), std::min(static_cast<uint32_t>(n), capacity), pData);
    if (pdwSampleCount) *pdwSampleCount = static_cast<uint32_t>(n);
    if (pdwUnitID) *pdwUnitID = 0;
    return true;
}

bool CKVD::ReadSpike(std::vector<int16_t>& words, DataSource& ds, CKVXAStream* stream, int32_t nIndex, double* pData,
                     uint32_t capacity, uint32_t* pdwSampleCount, uint32_t* pdwUnitID)
{
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= ds.spikePlaces.size()) return false;
    const DataSource::SpikePlace& place = ds.spikePlaces[static_cast<std::size_t>(nIndex)];
    // The spike's record is decoded where counting found it: by the cursor of the last read while that
    // stands on the same chunk, else by a cursor on that chunk. The cursor is taken out while it moves, so
    // that a move that fails or throws leaves none behind.
    std::unique_ptr<CKVXAEvent> cursor = std::move(ds.lastSpike);
    const CKVXAChunk* chunk = cursor ? cursor->Get_Chunk() : nullptr;
    if (!chunk || chunk->GetDataPosition() != place.dataPosition)
        cursor.reset(stream->GetEventsOfChunkAt(place.dataPosition));
    if (!cursor || !cursor->MoveToRecord(place.offset)) return false;
    const auto* spike = dynamic_cast<const CKVXAEvtSpike*>(cursor.get());
    if (!spike || !ds.OwnsSpikeChannel(spike->GetChannel())) return false;

    const int32_t count = std::max<int32_t>(0, spike->GetCount());
    if (pData) {
        words.resize(std::max<std::size_t>(words.size(), static_cast<std::size_t>(count)));
        spike->GetADDataArray(words.data());
        ScaleOf(*stream, false).Convert(words.data(), std::min(static_cast<uint32_t>(count), capacity), pData);
    }
    if (pdwSampleCount) *pdwSampleCount = static_cast<uint32_t>(count);
    if (pdwUnitID) *pdwUnitID = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(spike->GetUnitID())));
    ds.lastSpike = std::move(cursor);
    return true;
}

bool CKVD::GetTimeByIndex(File& file, uint32_t dwEntityID, uint32_t dwIndex, double* pdTime)
{
    const DataSource* ds = CountedEntity(file, dwEntityID);
    if (!ds || dwIndex >= ds->dwItemCount) return false;
    const CKVXAStream* stream = file.reader->GetStream(ds->lStreamID);
    const int32_t millisamples = stream ? stream->GetMilliSamplesPerSecond() : 0;
    const std::vector<IndexTime>& blocks = ds->vIndexTime;

    double t = 0.0;
    uint32_t r = dwIndex;
    if (ds->bitEvents) {
        CDigitalBitEvents::Event event;
        if (!BitEvent(file, *ds, dwIndex, event)) return false;
        t = event.time;
        r = 0;
    } else if (ds->single > 0) {
        const uint32_t k = dwIndex / static_cast<uint32_t>(ds->single);
        t = k < blocks.size() ? blocks[k].dTime : 0.0;
        r = dwIndex % static_cast<uint32_t>(ds->single);
    } else if (!blocks.empty()) {
        // Blocks hold consecutive items: the one holding the index is found by bisection.
        auto it = std::upper_bound(blocks.begin(), blocks.end(), dwIndex,
                                   [](uint32_t index, const IndexTime& b) { return index < b.dwIndex + b.dwNumber; });
        if (it == blocks.end()) --it;  // past the last block: its time, and the remainder beyond it
        t = it->dTime;
        r = dwIndex - it->dwIndex;
    }
    if (pdTime) *pdTime = PeriodsToSeconds(r, millisamples) + t;
    return true;
}

namespace {

// One step of the walk over an entity's blocks in index order, from the state after the blocks before it
// (the end time of the last one and its last index). At the first block that does not lie wholly before
// the time the answer is settled (true); a block wholly before it is passed over (false).
bool WalkBlock(const CKVD::IndexTime& b, double dTime, int32_t nFlag, int32_t millisamples, double& lasttime,
               uint32_t& lastindex)
{
    const double t0 = b.dTime;
    const double t1 = BlockEnd(b, millisamples);
    if (t0 > dTime) {
        if (nFlag == 1)
            lastindex = b.dwIndex;
        else if (nFlag != -1 && AsDouble(dTime - lasttime) > AsDouble(t0 - dTime))
            lastindex = b.dwIndex;
        return true;
    }
    lasttime = t1;
    if (!(dTime > t1)) {
        const double f = t1 > t0 ? AsDouble(AsDouble(dTime - t0) / AsDouble(t1 - t0)) : 0.0;
        const double x = AsDouble(AsDouble(f * b.dwNumber) + b.dwIndex);
        const double rounded = nFlag == -1 ? std::floor(x) : nFlag == 1 ? std::ceil(x) : std::trunc(x + 0.5);
        lastindex = rounded <= 0.0 ? 0u : static_cast<uint32_t>(std::min(rounded, 4294967295.0));
        return true;
    }
    lastindex = b.dwIndex + b.dwNumber - 1;
    return false;
}

CKVD::IndexTime OneItemBlock(uint32_t index, double t)
{
    CKVD::IndexTime block;
    block.dwIndex = index;
    block.dwNumber = 1;
    block.dTime = t;
    return block;
}

}  // namespace

bool CKVD::GetIndexByTime(File& file, uint32_t dwEntityID, double dTime, int32_t nFlag, uint32_t* pdwIndex)
{
    const DataSource* ds = CountedEntity(file, dwEntityID);
    // A NaN time lies nowhere: no index answers it.
    if (!ds || std::isnan(dTime)) return false;
    CKVXAStream* stream = file.reader->GetStream(ds->lStreamID);
    const int32_t millisamples = stream ? stream->GetMilliSamplesPerSecond() : 0;
    const std::vector<IndexTime>& blocks = ds->vIndexTime;
    auto end = [&](const IndexTime& b) { return BlockEnd(b, millisamples); };

    double lasttime = 0.0;
    uint32_t lastindex = 0;
    if (ds->bitEvents) {
        // Each event is a block of one item. The store finds the first that does not lie wholly before the
        // time, where the walk settles.
        if (!stream) return false;
        ChannelWords words(*stream, ds->lIndex);
        CDigitalBitEvents::TimeStop stop;
        if (!ds->bitEvents->FindTime(words, ds->lSubIndex, dTime, stop)) return false;
        if (stop.index > 0) {
            lasttime = end(OneItemBlock(stop.index - 1, stop.timeBefore));
            lastindex = stop.index - 1;
        }
        if (stop.index < ds->dwItemCount)
            WalkBlock(OneItemBlock(stop.index, stop.time), dTime, nFlag, millisamples, lasttime, lastindex);
    } else {
        std::size_t first = 0;
        if (ds->bOrderedBlocks && !blocks.empty()) {
            // Every block before the first one that starts after the time or ends at or after it lies wholly
            // before the time; the walk below would pass over them one by one.
            auto it = std::partition_point(blocks.begin(), blocks.end(), [&](const IndexTime& b) {
                return !(b.dTime > dTime) && !(dTime <= end(b));
            });
            first = static_cast<std::size_t>(it - blocks.begin());
            if (first > 0) {
                const IndexTime& before = blocks[first - 1];
                lasttime = end(before);
                lastindex = before.dwIndex + before.dwNumber - 1;
            }
        }
        for (std::size_t i = first; i < blocks.size(); ++i)
            if (WalkBlock(blocks[i], dTime, nFlag, millisamples, lasttime, lastindex)) break;
    }
    if (pdwIndex) *pdwIndex = lastindex;
    if (dTime < 0.0 && nFlag == -1) return false;
    if (dTime > lasttime && nFlag == 1) return false;
    return true;
}
