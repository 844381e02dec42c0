#include "api/ArrayEvents.h"

#include <algorithm>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "api/ArrayFile.h"
#include "api/SpikeOwners.h"
#include "api/TriggerSettings.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAChunk.h"
#include "streams/KVXAChunkTable.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAEvtSpike.h"
#include "streams/KVXAEvtTrigger.h"
#include "streams/KVXAStream.h"
#include "streams/KVXAStreamKind.h"

namespace {

// Frames scanned for bit changes at a time, and the most words such a block may take; the spacing of the
// checkpoints of bit changes.
constexpr int64_t kBlockFrames = 65536;
constexpr int64_t kBlockWords = int64_t{1} << 19;
constexpr int64_t kCheckpointFrames = 65536;
constexpr int64_t kCheckpointChanges = 4096;
// A stream with at most this many bit changes keeps them all from counting (12 bytes each).
constexpr std::size_t kKeptChanges = 65536;

// The first word at or after `i` (at least `k`) that differs from the word `k` before it, that is the same
// channel in the frame before; `n` when none does.
std::size_t NextDifference(const uint16_t* words, std::size_t i, std::size_t n, std::size_t k)
{
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i - k));
        const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(a, b)));
        if (same != 0xFFFFu) return i + static_cast<std::size_t>(__builtin_ctz(~same & 0xFFFFu)) / 2;
    }
#endif
    for (; i < n; ++i)
        if (words[i] != words[i - k]) return i;
    return n;
}

}  // namespace

CArrayEvents::CArrayEvents(CArrayFile& file) : m_File(file), m_Streams(static_cast<std::size_t>(file.StreamCount()))
{
    for (int32_t i = 0; i < file.StreamCount(); ++i) {
        m_Kinds.push_back(Classify(i));
        m_Streams[static_cast<std::size_t>(i)].kind = m_Kinds.back();
    }
}

CArrayEvents::Kind CArrayEvents::KindOf(int32_t stream) const { return m_Kinds.at(static_cast<std::size_t>(stream)); }

CArrayEvents::Kind CArrayEvents::Classify(int32_t index) const
{
    const CKVXAStream* stream = m_File.Stream(index);
    if (!stream) return Kind::None;
    switch (stream->GetKind()) {
    case KVXAStreamKind::Spikes: return Kind::Spikes;
    case KVXAStreamKind::Trigger: return Kind::Triggers;
    case KVXAStreamKind::Digital: return stream->HasSampleChunks() ? Kind::Bits : Kind::None;
    default: return Kind::None;
    }
}

void CArrayEvents::Known(int32_t stream, int64_t& events, int32_t& samples)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    const Index& index = m_Streams.at(static_cast<std::size_t>(stream));
    events = index.kind != Kind::None && index.counted ? index.count : -1;
    samples = index.kind != Kind::Spikes ? 0 : index.counted ? index.maxSamples : -1;
}

int64_t CArrayEvents::Count(int32_t stream)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    Index& index = m_Streams.at(static_cast<std::size_t>(stream));
    if (index.kind == Kind::None) return -1;
    // A digital stream's count reads its chunks, whose windows bring the event chunks along: every event
    // stream is counted then. Spikes and triggers alone need only their own chunks.
    if (!index.counted) CountAll(index.kind == Kind::Bits);
    return index.counted ? index.count : -1;
}

void CArrayEvents::CountAll(bool bits)
{
    // One pass over the chunk heads counts every event stream: the windows read for the heads bring the
    // small chunks between the large sample chunks along, and keep the event chunks among them (within the
    // process's cache budget) for the reads that follow. The digital streams are counted first, so that
    // their reads drive the pass and find each of their chunks in the window read for its head.
    struct Keeping {
        CArrayFile& file;
        explicit Keeping(CArrayFile& f) : file(f) { Keep(true); }
        ~Keeping() { Keep(false); }
        void Keep(bool keep)
        {
            const std::lock_guard<std::mutex> hold(file.Lock());
            if (CKVXAChunkTable* table = file.Reader().GetChunkTable()) table->KeepWindowData(keep);
        }
    } keeping(m_File);
    for (int32_t i = 0; i < m_File.StreamCount(); ++i) {
        Index& index = m_Streams[static_cast<std::size_t>(i)];
        if (bits && index.kind == Kind::Bits && !index.counted) CountBits(i, index);
    }
    if (!m_bRecordsCounted) CountRecords();
}

// ---- Spikes and triggers ------------------------------------------------------------------------------

void CArrayEvents::CountRecords()
{
    const std::lock_guard<std::mutex> hold(m_File.Lock());
    for (int32_t i = 0; i < m_File.StreamCount(); ++i) {
        Index& current = m_Streams[static_cast<std::size_t>(i)];
        CKVXAStream* stream = m_File.Stream(i);
        if (!stream || (current.kind != Kind::Spikes && current.kind != Kind::Triggers)) continue;
        // Counted aside and handed over whole: a count that fails on the way (memory) is redone by the next.
        Index counted;
        counted.kind = current.kind;
        if (counted.kind == Kind::Spikes) counted.owner = SpikeOwners(*stream);
        uint64_t chunk = UINT64_MAX;
        std::unique_ptr<CKVXAEvent> event(stream->GetFirstEvent());
        while (event) {
            if (Counts(counted, *event)) {
                const CKVXAChunk* at = event->Get_Chunk();
                const uint64_t position = at ? at->GetDataPosition() : 0;
                if (position != chunk) counted.marks.push_back({position, counted.count});
                chunk = position;
                ++counted.count;
                if (counted.kind == Kind::Spikes)
                    counted.maxSamples =
                        std::max(counted.maxSamples, static_cast<const CKVXAEvtSpike&>(*event).GetCount());
            }
            if (!event->Next()) break;
        }
        counted.counted = true;
        current = std::move(counted);
    }
    m_bRecordsCounted = true;
}

bool CArrayEvents::Counts(const Index& index, const CKVXAEvent& record)
{
    if (index.kind == Kind::Triggers) return true;
    const auto* spike = index.kind == Kind::Spikes ? dynamic_cast<const CKVXAEvtSpike*>(&record) : nullptr;
    return spike && index.owner[spike->GetChannel()] >= 0;
}

template <typename Visit>
int64_t CArrayEvents::WalkRecords(int32_t stream, const Index& index, int64_t first, int64_t count, Visit visit)
{
    auto mark = std::upper_bound(index.marks.begin(), index.marks.end(), first,
                                 [](int64_t value, const Mark& m) { return value < m.first; });
    if (mark == index.marks.begin() || count <= 0) return 0;
    --mark;
    CKVXAStream* s = m_File.Stream(stream);
    std::unique_ptr<CKVXAEvent> cursor(s ? s->GetEventsOfChunkAt(mark->dataPosition) : nullptr);
    int64_t i = mark->first;
    int64_t handed = 0;
    while (cursor) {
        if (Counts(index, *cursor)) {
            if (i >= first) {
                visit(*cursor, i - first);
                if (++handed == count) break;
            }
            ++i;
        }
        if (!cursor->Next()) break;
    }
    return handed;
}

int64_t CArrayEvents::ReadSpikes(int32_t stream, int64_t first, int64_t count, kvd_spike* spikes, uint16_t* waveforms,
                                 int32_t waveformSamples)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    const std::lock_guard<std::mutex> file(m_File.Lock());
    const Index& index = m_Streams.at(static_cast<std::size_t>(stream));
    CKVXAStream* s = m_File.Stream(stream);
    const uint16_t adZero = s->GetADZero();
    const auto width = static_cast<std::size_t>(std::max(0, waveformSamples));
    std::vector<int16_t> words;
    return WalkRecords(stream, index, first, count, [&](const CKVXAEvent& event, int64_t k) {
        const auto& spike = static_cast<const CKVXAEvtSpike&>(event);
        const int32_t channel = index.owner[spike.GetChannel()];
        const int32_t samples = std::max(0, spike.GetCount());
        if (spikes) {
            const CKVXAChannel* info = s->GetChannel(static_cast<int16_t>(channel));
            spikes[k] = {m_File.SinceStart(event.GetRawTimeStamp()),
                         channel,
                         info ? info->GetHWID() : -1,
                         static_cast<int16_t>(spike.GetUnitID()),
                         samples,
                         static_cast<int32_t>(std::min<uint32_t>(spike.GetPreEvent(), INT32_MAX)),
                         0};
        }
        if (waveforms && width > 0) {
            uint16_t* dst = waveforms + static_cast<std::size_t>(k) * width;
            words.resize(static_cast<std::size_t>(samples));
            if (samples > 0) spike.GetADDataArray(words.data());
            const std::size_t n = std::min(width, words.size());
            for (std::size_t j = 0; j < n; ++j) dst[j] = static_cast<uint16_t>(words[j]);
            std::fill(dst + n, dst + width, adZero);
        }
    });
}

int64_t CArrayEvents::ReadTriggers(int32_t stream, int64_t first, int64_t count, kvd_trigger* out)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    const std::lock_guard<std::mutex> file(m_File.Lock());
    const Index& index = m_Streams.at(static_cast<std::size_t>(stream));
    const TriggerSettings settings(*m_File.Stream(stream));
    return WalkRecords(stream, index, first, count, [&](const CKVXAEvent& event, int64_t k) {
        kvd_trigger trigger{m_File.SinceStart(event.GetRawTimeStamp()), 0, settings.SlopeMagnitude(), 0, 0};
        if (const auto* record = dynamic_cast<const CKVXAEvtTrigger*>(&event)) {
            trigger.value = settings.Value(*record);
            if (settings.trial) {
                trigger.trial = static_cast<uint16_t>(record->GetTrialNumber());
                trigger.stimulus = static_cast<uint16_t>(record->GetStimulusNumber());
            }
        }
        out[k] = trigger;
    });
}

// ---- Bit changes --------------------------------------------------------------------------------------

template <typename Visit>
void CArrayEvents::ScanBits(int32_t stream, const Mark& from, Visit visit)
{
    CArrayFile::Geometry geometry;
    {
        const std::lock_guard<std::mutex> file(m_File.Lock());
        geometry = m_File.GeometryOf(stream);
    }
    const auto k = static_cast<std::size_t>(geometry.channels);
    const int64_t block =
        std::max<int64_t>(1, std::min(kBlockFrames, kBlockWords / static_cast<int64_t>(std::max<std::size_t>(k, 1))));
    std::vector<uint16_t> words(static_cast<std::size_t>(block) * k);
    std::vector<uint16_t> previous(k);
    // A sweep's first frame is compared with nothing. Where a sweep's frames cannot be read (its data end
    // early), the scan goes on at the next sweep, whatever frame it started from.
    const std::vector<int64_t>& starts = geometry.sweepFirst;
    auto segmentStart = [&](int64_t frame) {
        return frame == 0 || std::binary_search(starts.begin(), starts.end(), frame);
    };
    auto nextSegment = [&](int64_t frame) {
        const auto it = std::upper_bound(starts.begin(), starts.end(), frame);
        return it == starts.end() ? geometry.frameCount : std::min(*it, geometry.frameCount);
    };
    auto start = static_cast<int64_t>(from.dataPosition);
    bool havePrevious = false;
    if (start > 0 && start < geometry.frameCount && !segmentStart(start))
        havePrevious = m_File.ReadFrames(stream, start - 1, 1, nullptr, 0, previous.data()).complete;
    int64_t i = from.first;
    // The changes of one frame against the frame before; false when visit asks to stop.
    auto frameChanges = [&](int64_t frame, const uint16_t* row, const uint16_t* prior) {
        if (segmentStart(frame)) return true;
        bool begun = false;
        for (std::size_t c = 0; c < k; ++c) {
            const unsigned change = static_cast<unsigned>(row[c] ^ prior[c]);
            if (!change) continue;
            if (!begun && !visit(frame, std::size_t{0}, -1, 0u, i)) return false;
            begun = true;
            for (int bit = 0; change >> bit; ++bit)
                if ((change >> bit) & 1u && !visit(frame, c, bit, (row[c] >> bit) & 1u, i++)) return false;
        }
        return true;
    };
    while (start < geometry.frameCount) {
        if (!visit(start, std::size_t{0}, -2, 0u, i)) return;
        const int64_t n = std::min(block, geometry.frameCount - start);
        const int64_t got = m_File.ReadFrames(stream, start, n, nullptr, 0, words.data()).frames;
        const uint16_t* base = words.data();
        const std::size_t end = static_cast<std::size_t>(got) * k;
        if (got > 0 && havePrevious && !frameChanges(start, base, previous.data())) return;
        // Only the frames that differ from the frame before are looked at.
        for (std::size_t w = NextDifference(base, k, end, k); w < end; w = NextDifference(base, w, end, k)) {
            const std::size_t f = w / k;
            if (!frameChanges(start + static_cast<int64_t>(f), base + f * k, base + (f - 1) * k)) return;
            w = (f + 1) * k;
        }
        if (got > 0) std::copy(base + end - k, base + end, previous.begin());
        havePrevious = got > 0;
        if (got < n) {
            havePrevious = false;
            start = nextSegment(start + got);
        } else {
            start += n;
        }
    }
}

void CArrayEvents::CountBits(int32_t stream, Index& index)
{
    Index counted;
    counted.kind = Kind::Bits;
    counted.checkpoints.push_back({0, 0});
    {
        const std::lock_guard<std::mutex> file(m_File.Lock());
        counted.bitCounts.assign(static_cast<std::size_t>(m_File.GeometryOf(stream).channels) * 16, 0);
    }
    int64_t frames = 0;
    bool keep = true;
    auto change = [&](int64_t frame, std::size_t channel, int bit, unsigned level, int64_t i) {
        counted.count = i + 1;
        ++counted.bitCounts[channel * 16 + static_cast<std::size_t>(bit)];
        keep = keep && counted.changes.size() < kKeptChanges && channel < (std::size_t{1} << 22);
        if (keep)
            counted.changes.emplace_back(frame,
                                         static_cast<int32_t>(channel << 8 | static_cast<unsigned>(bit) << 1 | level));
    };
    ScanBits(stream, counted.checkpoints.front(),
             [&](int64_t frame, std::size_t channel, int bit, unsigned level, int64_t i) {
                 if (bit >= 0) {
                     change(frame, channel, bit, level, i);
                     return true;
                 }
                 // A block or a frame with changes begins: a checkpoint where the last one lies far enough back.
                 const Mark& last = counted.checkpoints.back();
                 if ((bit == -2 && frame - static_cast<int64_t>(last.dataPosition) >= kCheckpointFrames) ||
                     (bit == -1 && i - last.first >= kCheckpointChanges))
                     counted.checkpoints.push_back({static_cast<uint64_t>(frame), i});
                 frames = std::max(frames, frame);
                 return true;
             });
    if (!keep) std::vector<std::pair<int64_t, int32_t>>().swap(counted.changes);
    counted.checkpoints.push_back({static_cast<uint64_t>(frames), counted.count});
    counted.counted = true;
    index = std::move(counted);
}

int64_t CArrayEvents::ReadBitChanges(int32_t stream, int64_t first, int64_t count, kvd_bit_change* out)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    const Index& index = m_Streams.at(static_cast<std::size_t>(stream));
    if (count <= 0 || index.checkpoints.empty()) return 0;
    // The last checkpoint with at most `first` changes before it.
    const auto it = std::upper_bound(index.checkpoints.begin(), index.checkpoints.end(), first,
                                     [](int64_t value, const Mark& m) { return value < m.first; });
    if (it == index.checkpoints.begin()) return 0;
    int64_t handed = 0;
    if (static_cast<int64_t>(index.changes.size()) == index.count) {
        for (; handed < count && first + handed < index.count; ++handed) {
            const auto& [frame, packed] = index.changes[static_cast<std::size_t>(first + handed)];
            out[handed] = {0, frame, packed >> 8, (packed >> 1) & 15, packed & 1, 0};
        }
    } else {
        ScanBits(stream, *(it - 1), [&](int64_t frame, std::size_t channel, int bit, unsigned level, int64_t i) {
            if (bit < 0 || i < first) return true;
            out[handed] = {0, frame, static_cast<int32_t>(channel), bit, static_cast<int32_t>(level), 0};
            return ++handed < count;
        });
    }
    const std::lock_guard<std::mutex> file(m_File.Lock());
    for (int64_t j = 0; j < handed; ++j) out[j].time_ns = m_File.FrameTime(stream, out[j].frame);
    return handed;
}

std::vector<int64_t> CArrayEvents::BitCounts(int32_t stream)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    return m_Streams.at(static_cast<std::size_t>(stream)).bitCounts;
}
