// The events of the 16 bits of one digital channel, kept in memory bounded by the channel's samples.
//
// A bit's event is a change of the bit from one sample word to the next within a segment (the whole
// channel of a continuous recording, one sweep of a triggered one; a segment's first word is compared
// with nothing). Its time is the word's sample periods from the segment start plus the segment's origin,
// its sign 1 when the bit became set and 255 when it was cleared.
//
// Rather than every event, each bit keeps checkpoints: the sample position, index and sign of an event,
// taken at the bit's first event and then at every event that lies kCheckpointEvents events or
// kCheckpointSamples samples after the previous checkpoint (12 bytes each; rare changes make every event a
// checkpoint and need no words read again). The events between two checkpoints are found again in the
// words when asked for. A cursor per bit serves reads in ascending order by scanning on from the previous
// answer (linear over a whole read); any other read starts at the checkpoint before the event and scans at
// most one checkpoint interval of words, which one read of kCheckpointSamples words holds.
//
// Words are read through a WordSource given to each call, so the store holds no reader. The cursors and
// the window of words are changed by every read: a store belongs to one open file and is used only under
// that file's serialisation (one call at a time per file); it has no process-wide state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "api/SampleTime.h"

class CDigitalBitEvents {
public:
    static constexpr int kBits = 16;
    static constexpr uint32_t kCheckpointEvents = 4096;
    static constexpr uint32_t kCheckpointSamples = 4096;
    static constexpr uint8_t kSet = 1;
    static constexpr uint8_t kCleared = 255;

    // The sample words of the channel, segment by segment.
    class WordSource {
    public:
        virtual ~WordSource() = default;
        // Up to `count` words of segment `segment` from word `first` into `words`; returns the number
        // delivered, fewer (or none) where the data ends.
        virtual int32_t Read(int32_t segment, uint32_t first, int32_t count, int16_t* words) = 0;
    };

    // A segment as the caller announces it: its number for WordSource::Read, its announced length in words
    // (the data may end earlier) and the time of its first word.
    struct SegmentSpan {
        int32_t segment = 0;
        uint32_t length = 0;
        double origin = 0.0;
    };

    // An event as the adapter reports it.
    struct Event {
        double time = 0.0;
        uint8_t sign = 0;
    };

    // Where a time search stops: the first event that does not lie wholly before the time (`index`, equal to
    // the count when every event does), with the times of it and of the event before it when they exist.
    struct TimeStop {
        uint32_t index = 0;
        double time = 0.0;
        double timeBefore = 0.0;
    };

    // Scans every word of the segments once, in pieces, and keeps the counts and checkpoints. A segment
    // ends where its data ends.
    void Build(WordSource& source, const std::vector<SegmentSpan>& segments, int32_t millisamples);

    uint32_t Count(int bit) const { return m_Bits[static_cast<std::size_t>(bit)].count; }
    // Event `index` of `bit`; false when there is none or the words cannot be read again.
    bool Get(WordSource& source, int bit, uint32_t index, Event& event);
    // An event lies wholly before `t` when it starts at or before `t` and ends (one sample period later)
    // before it. Bisects the checkpoints when the bit's event times never decrease, then scans one interval;
    // otherwise scans from the first event. False when the words cannot be read again.
    bool FindTime(WordSource& source, int bit, double t, TimeStop& stop);

    // Bytes held, for measurements.
    std::size_t MemoryBytes() const;

private:
    struct Segment {
        int32_t segment = 0;
        uint32_t length = 0;  // words delivered when the events were counted
        uint64_t start = 0;   // position of the first word among the positions of all segments
        double origin = 0.0;
    };
    struct Bit {
        uint32_t count = 0;
        bool ascending = true;             // event times never decrease
        std::vector<uint64_t> checkpoint;  // sample position << 1 | the bit's value there
        std::vector<uint32_t> checkpointIndex;
    };
    // The last event a read of the bit found, and the index of the next checkpoint after the one it was
    // started from (reads of indexes before it may scan on from the cursor).
    struct Cursor {
        bool valid = false;
        bool set = false;  // the bit's value at the event
        uint32_t index = 0;
        uint64_t position = 0;
        std::size_t segment = 0;
        uint32_t intervalEnd = 0;
    };

    std::size_t SegmentOf(uint64_t position) const;
    double TimeAt(std::size_t s, uint64_t offset) const;
    // Makes the window hold word `offset` of segment `s`; false when it cannot be read.
    bool Load(WordSource& source, std::size_t s, uint32_t offset);
    // Puts the cursor of `bit` on its checkpoint `c`.
    void StartAt(int bit, std::size_t c);
    // Moves the cursor of `bit` over the following events until `stop(index, segment, offset)` holds for one;
    // false when the words end first or cannot be read.
    template <typename Stop>
    bool Advance(WordSource& source, int bit, Stop stop);
    // Puts the cursor of `bit` on event `index`, scanning on from where it is when that is within the
    // event's checkpoint interval.
    bool Seek(WordSource& source, int bit, uint32_t index);

    int32_t m_Millisamples = 0;
    std::vector<Segment> m_Segments;
    std::array<Bit, kBits> m_Bits;
    std::array<Cursor, kBits> m_Cursors;
    // Words [m_WindowFirst, m_WindowFirst + m_WindowCount) of segment m_WindowSegment.
    static constexpr uint32_t kWindowWords = 4096;
    std::vector<int16_t> m_Window;
    std::size_t m_WindowSegment = 0;
    uint32_t m_WindowFirst = 0;
    uint32_t m_WindowCount = 0;
};
