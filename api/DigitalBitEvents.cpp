#include "api/DigitalBitEvents.h"

#include <algorithm>
#include <limits>

namespace {

// Words read per piece while the events are counted: bounded memory whatever the channel's length.
constexpr uint32_t kPieceWords = 65536;

// Time of the word `offset` sample periods after a segment's first word, at `origin` seconds.
double EventTime(uint64_t offset, double origin, int32_t millisamples)
{
    return AsDouble(PeriodsToSeconds(static_cast<double>(offset), millisamples) + origin);
}

}  // namespace

void CDigitalBitEvents::Build(WordSource& source, const std::vector<SegmentSpan>& segments, int32_t millisamples)
{
    m_bBuilt = false;
    m_Millisamples = millisamples;
    m_Segments.clear();
    m_Bits = {};
    m_Cursors = {};
    m_WindowCount = 0;

    std::array<double, kBits> lastTime{};
    auto record = [&](int b, uint64_t position, double t, bool set) {
        Bit& bit = m_Bits[static_cast<std::size_t>(b)];
        if (bit.count == std::numeric_limits<uint32_t>::max()) return;  // item indexes are 32-bit
        if (bit.count > 0 && !(t >= lastTime[static_cast<std::size_t>(b)])) bit.ascending = false;
        lastTime[static_cast<std::size_t>(b)] = t;
        if (bit.checkpointIndex.empty() || bit.count - bit.checkpointIndex.back() >= kCheckpointEvents ||
            position - (bit.checkpoint.back() >> 1) >= kCheckpointSamples) {
            bit.checkpointIndex.push_back(bit.count);
            bit.checkpoint.push_back(position << 1 | (set ? 1u : 0u));
        }
        ++bit.count;
    };

    std::vector<int16_t> words;
    uint64_t start = 0;
    for (const SegmentSpan& span : segments) {
        if (span.length <= 1) continue;  // a segment's first word is compared with nothing
        words.resize(std::max<std::size_t>(words.size(), std::min(span.length, kPieceWords)));
        uint16_t previous = 0;
        uint32_t offset = 0;
        while (offset < span.length) {
            const int32_t want = static_cast<int32_t>(std::min(span.length - offset, kPieceWords));
            const int32_t got = source.Read(span.segment, offset, want, words.data());
            if (got <= 0) break;
            const uint32_t n = static_cast<uint32_t>(std::min(got, want));
            uint32_t i = 0;
            if (offset == 0) previous = static_cast<uint16_t>(words[i++]);
            while (i < n) {
                // Digital words change rarely: pass over runs equal to the previous word 32 at a time (all
                // 32 compared in a loop without early exit, which compilers turn into vector instructions).
                if (i + 32 <= n && static_cast<uint16_t>(words[i]) == previous) {
                    uint16_t differs = 0;
                    for (uint32_t k = 0; k < 32; ++k) differs |= static_cast<uint16_t>(words[i + k]) ^ previous;
                    if (!differs) {
                        i += 32;
                        continue;
                    }
                }
                const uint16_t word = static_cast<uint16_t>(words[i]);
                const uint16_t change = word ^ previous;
                previous = word;
                if (change) {
                    const uint64_t at = static_cast<uint64_t>(offset) + i;
                    const double t = EventTime(at, span.origin, millisamples);
                    for (int b = 0; b < kBits; ++b)
                        if (change & (1u << b)) record(b, start + at, t, (word >> b) & 1u);
                }
                ++i;
            }
            offset += n;
        }
        if (offset > 1) {
            m_Segments.push_back({span.segment, offset, start, span.origin});
            start += offset;
        }
    }
    for (Bit& bit : m_Bits) {
        bit.checkpointIndex.shrink_to_fit();
        bit.checkpoint.shrink_to_fit();
    }
    m_Segments.shrink_to_fit();
    m_bBuilt = true;
}

std::size_t CDigitalBitEvents::SegmentOf(uint64_t position) const
{
    auto it = std::upper_bound(m_Segments.begin(), m_Segments.end(), position,
                               [](uint64_t p, const Segment& s) { return p < s.start; });
    return static_cast<std::size_t>(it - m_Segments.begin()) - 1;
}

double CDigitalBitEvents::TimeAt(std::size_t s, uint64_t offset) const
{
    return EventTime(offset, m_Segments[s].origin, m_Millisamples);
}

bool CDigitalBitEvents::Load(WordSource& source, std::size_t s, uint32_t offset)
{
    if (s == m_WindowSegment && offset >= m_WindowFirst && offset - m_WindowFirst < m_WindowCount) return true;
    const Segment& segment = m_Segments[s];
    if (offset >= segment.length) return false;
    const uint32_t want = std::min(kWindowWords, segment.length - offset);
    m_Window.resize(kWindowWords);
    m_WindowCount = 0;
    const int32_t got = source.Read(segment.segment, offset, static_cast<int32_t>(want), m_Window.data());
    // The words were there when the events were counted: fewer now is a read failure.
    if (got != static_cast<int32_t>(want)) return false;
    m_WindowSegment = s;
    m_WindowFirst = offset;
    m_WindowCount = want;
    return true;
}

void CDigitalBitEvents::StartAt(int bit, std::size_t c)
{
    const Bit& b = m_Bits[static_cast<std::size_t>(bit)];
    const uint64_t position = b.checkpoint[c] >> 1;
    const uint32_t end = c + 1 < b.checkpointIndex.size() ? b.checkpointIndex[c + 1] : b.count;
    m_Cursors[static_cast<std::size_t>(bit)] = {true,     (b.checkpoint[c] & 1u) != 0, b.checkpointIndex[c],
                                                position, SegmentOf(position),         end};
}

template <typename Stop>
bool CDigitalBitEvents::Advance(WordSource& source, int bit, Stop stop)
{
    Cursor& cursor = m_Cursors[static_cast<std::size_t>(bit)];
    const uint16_t mask = static_cast<uint16_t>(1u << bit);
    std::size_t s = cursor.segment;
    uint32_t offset = static_cast<uint32_t>(cursor.position - m_Segments[s].start) + 1;
    bool set = cursor.set;
    uint32_t index = cursor.index;
    cursor.valid = false;
    for (;;) {
        if (offset >= m_Segments[s].length) {
            // The next segment's first word gives the bit's value there; it is no event.
            if (++s >= m_Segments.size() || !Load(source, s, 0)) return false;
            set = (static_cast<uint16_t>(m_Window[0]) & mask) != 0;
            offset = 1;
            continue;
        }
        if (!Load(source, s, offset)) return false;
        // The rest of the window in one pass, looking at the bit only where it changes.
        uint16_t other = set ? 0 : mask;
        for (uint32_t k = offset - m_WindowFirst; k < m_WindowCount; ++k) {
            if ((static_cast<uint16_t>(m_Window[k]) & mask) != other) continue;
            set = !set;
            other ^= mask;
            ++index;
            const uint32_t at = m_WindowFirst + k;
            if (stop(index, s, at)) {
                cursor.valid = true;
                cursor.set = set;
                cursor.index = index;
                cursor.position = m_Segments[s].start + at;
                cursor.segment = s;
                return true;
            }
        }
        offset = m_WindowFirst + m_WindowCount;
    }
}

bool CDigitalBitEvents::Seek(WordSource& source, int bit, uint32_t index)
{
    Cursor& cursor = m_Cursors[static_cast<std::size_t>(bit)];
    if (!(cursor.valid && cursor.index <= index && index < cursor.intervalEnd)) {
        const std::vector<uint32_t>& indexes = m_Bits[static_cast<std::size_t>(bit)].checkpointIndex;
        const std::size_t c =
            static_cast<std::size_t>(std::upper_bound(indexes.begin(), indexes.end(), index) - indexes.begin()) - 1;
        StartAt(bit, c);
    }
    return cursor.index == index || Advance(source, bit, [&](uint32_t i, std::size_t, uint32_t) { return i == index; });
}

bool CDigitalBitEvents::Get(WordSource& source, int bit, uint32_t index, Event& event)
{
    if (bit < 0 || bit >= kBits || index >= Count(bit) || !Seek(source, bit, index)) return false;
    const Cursor& cursor = m_Cursors[static_cast<std::size_t>(bit)];
    event.time = TimeAt(cursor.segment, cursor.position - m_Segments[cursor.segment].start);
    event.sign = cursor.set ? kSet : kCleared;
    return true;
}

bool CDigitalBitEvents::FindTime(WordSource& source, int bit, double t, TimeStop& stop)
{
    if (bit < 0 || bit >= kBits) return false;
    const Bit& b = m_Bits[static_cast<std::size_t>(bit)];
    const double period = PeriodsToSeconds(1.0, m_Millisamples);
    auto wholly = [&](double t0) { return !(t0 > t) && !(t <= AsDouble(t0 + period)); };
    auto checkpointTime = [&](std::size_t c) {
        const uint64_t position = b.checkpoint[c] >> 1;
        const std::size_t s = SegmentOf(position);
        return TimeAt(s, position - m_Segments[s].start);
    };
    stop = TimeStop{};

    // With times that never decrease the events wholly before `t` are a prefix: the checkpoints narrow it
    // down to one interval. Otherwise every event is looked at from the first.
    uint32_t from = 0;
    uint32_t limit = b.count;
    if (b.ascending) {
        const std::size_t cps = b.checkpointIndex.size();
        std::size_t lo = 0, hi = cps;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (wholly(checkpointTime(mid)))
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == 0) {
            if (cps > 0) stop.time = checkpointTime(0);
            return true;
        }
        from = b.checkpointIndex[lo - 1];
        if (lo < cps) {
            limit = b.checkpointIndex[lo];
            stop.time = checkpointTime(lo);
        }
    }
    if (from >= limit) {
        stop.index = limit;
        return true;
    }
    Event first;
    if (!Get(source, bit, from, first)) return false;
    if (!wholly(first.time)) {
        stop.index = from;
        stop.time = first.time;
        return true;
    }
    stop.index = limit;
    stop.timeBefore = first.time;
    if (from + 1 == limit) return true;
    return Advance(source, bit, [&](uint32_t i, std::size_t s, uint32_t at) {
        const double t0 = TimeAt(s, at);
        if (!wholly(t0)) {
            stop.index = i;
            stop.time = t0;
            return true;
        }
        stop.timeBefore = t0;
        return i + 1 == limit;
    });
}

std::size_t CDigitalBitEvents::MemoryBytes() const
{
    std::size_t bytes = sizeof *this + m_Segments.capacity() * sizeof(Segment) + m_Window.capacity() * sizeof(int16_t);
    for (const Bit& bit : m_Bits)
        bytes += bit.checkpointIndex.capacity() * sizeof(uint32_t) + bit.checkpoint.capacity() * sizeof(uint64_t);
    return bytes;
}
