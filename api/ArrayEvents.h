// The events of a recording as the array interface reads them: the spikes of spike streams, the triggers
// of trigger streams and the bit changes of digital streams, each counted once and then read in any range
// by index.
//
// Counting notes where the events lie, so that a read of any range starts close to it: for spikes and
// triggers the first event of every chunk that holds one (16 bytes a chunk); for bit changes checkpoints,
// a frame and the changes before it, at most kCheckpointFrames frames and about kCheckpointChanges
// changes apart (16 bytes each), from which a read scans the words again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "include/kvd.h"

class CArrayFile;
class CKVXAEvent;

class CArrayEvents {
public:
    enum class Kind { None, Spikes, Triggers, Bits };

    explicit CArrayEvents(CArrayFile& file);
    // What events a stream holds, as this class reads them (digital streams: their bit changes).
    Kind KindOf(int32_t stream) const;

    // Every function takes the locks it needs; call them without holding the file's lock.
    // The events of a stream, counting them on first use: a digital stream's count counts every event
    // stream of the file, spikes and triggers those of every spike and trigger stream, in one pass over
    // their chunks; -1 for a stream without such events.
    int64_t Count(int32_t stream);
    // The counts known so far, without counting: events (-1 until counted) and the longest spike cut-out.
    void Known(int32_t stream, int64_t& events, int32_t& samples);

    // Events [first, first + count) of a counted stream (first + count within the count; checked by the
    // caller) into the caller's arrays; the number read, fewer when the file cannot be read again.
    int64_t ReadSpikes(int32_t stream, int64_t first, int64_t count, kvd_spike* spikes, uint16_t* waveforms,
                       int32_t waveformSamples);
    int64_t ReadTriggers(int32_t stream, int64_t first, int64_t count, kvd_trigger* out);
    int64_t ReadBitChanges(int32_t stream, int64_t first, int64_t count, kvd_bit_change* out);
    // The changes of each of the 16 bits of each channel of a counted digital stream, channel after channel.
    std::vector<int64_t> BitCounts(int32_t stream);

private:
    // The first event of a chunk: the chunk's data position and the event's index.
    struct Mark {
        uint64_t dataPosition;
        int64_t first;
    };
    struct Index {
        Kind kind = Kind::None;
        bool counted = false;
        int64_t count = 0;
        int32_t maxSamples = 0;
        std::vector<Mark> marks;
        // Spikes: the channel index a spike's channel number belongs to (-1: none), for every number.
        std::vector<int32_t> owner;
        // Bit changes: checkpoints in ascending frames, from frame 0 on, and one at the end; and, where the
        // stream has few changes, the changes themselves (frame, and channel << 8 | bit << 1 | level).
        std::vector<Mark> checkpoints;  // dataPosition: the frame
        std::vector<std::pair<int64_t, int32_t>> changes;
        std::vector<int64_t> bitCounts;  // the changes of each bit of each channel, channel after channel
    };

    Kind Classify(int32_t stream) const;
    // True for a record that is one of the stream's events: every trigger record, a spike whose channel
    // number belongs to a channel.
    static bool Counts(const Index& index, const CKVXAEvent& record);
    // Counts the spikes and triggers of every stream not counted yet, with `bits` the bit changes too.
    void CountAll(bool bits);
    void CountRecords();
    void CountBits(int32_t stream, Index& index);
    // Walks the records of a spike or trigger stream from the chunk before event `first`, handing each
    // counted record with its index to visit(cursor, index) from `first` on, `count` in all; the number handed.
    template <typename Visit>
    int64_t WalkRecords(int32_t stream, const Index& index, int64_t first, int64_t count, Visit visit);
    // Scans the frames from checkpoint `from` on, calling visit(frame, 0, bit, 0, index) with bit -2 as each
    // block of frames begins and with bit -1 as each frame with changes begins (index: the changes before
    // it), and visit(frame, channel, bit, level, index) for each change, until visit returns false.
    template <typename Visit>
    void ScanBits(int32_t stream, const Mark& from, Visit visit);

    CArrayFile& m_File;
    // One event read or count at a time: they share the reader's cursors and the indexes.
    std::mutex m_Lock;
    bool m_bRecordsCounted = false;
    std::vector<Index> m_Streams;
    std::vector<Kind> m_Kinds;  // fixed when the file is opened: read without the lock
};
