// A recording opened through the array interface (kvd.h): its reader and what the array functions have
// learned of its streams, and the reading of sample frames straight into the caller's arrays.
//
// One lock guards the reader (its chunk table, its file position, its event cursors) and the streams'
// geometry. Frames are read with positioned reads of the file's descriptor outside the lock: a read takes
// the lock only to find where the next stretch of frames lies, so that threads reading one file share it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "include/kvd.h"

class CKVXAStream;
class CKVXAStreamFile;

class CArrayFile {
public:
    CArrayFile();
    ~CArrayFile();
    CArrayFile(const CArrayFile&) = delete;
    CArrayFile& operator=(const CArrayFile&) = delete;

    // Opens a recording; a FileOpenResult, with errno telling why a file could not be opened.
    int Open(const char* path);

    // Everything below runs with the lock held unless it says otherwise.
    std::mutex& Lock() const { return m_Lock; }
    CKVXAStreamFile& Reader() const { return *m_pReader; }
    int32_t StreamCount() const;
    // The stream at `index`; null when there is none.
    CKVXAStream* Stream(int32_t index) const;
    bool Triggered() const;
    // True for a digital stream's words, which are handed over unscaled (as the Neuroshare side decides it:
    // by the buffer ID).
    bool Digital(int32_t stream) const;
    // Nanoseconds since the start of the recording of an absolute time of the file (negative before it).
    int64_t SinceStart(uint64_t time) const;

    // How a stream's frames lie: their number and, in triggered recordings, where each sweep begins.
    struct Geometry {
        bool frames = false;  // the stream holds sample frames
        int32_t channels = 0;
        int64_t frameCount = 0;
        // Triggered recordings: sweep k holds frames [sweepFirst[k], sweepFirst[k + 1]).
        std::vector<int64_t> sweepFirst;
    };
    const Geometry& GeometryOf(int32_t stream);
    // The sweep holding `frame` of a triggered stream's frames.
    static std::size_t SweepOf(const Geometry& geometry, int64_t frame);
    // Frame `frame` of a stream as nanoseconds since the start of the recording.
    int64_t FrameTime(int32_t stream, int64_t frame);
    // The frames of the stream's first data chunk; 0 when it has none.
    int64_t FramesPerChunk(int32_t stream);

    // The outcome of a read of frames: the frames delivered before the first that could not be read.
    struct ReadResult {
        int64_t frames = 0;
        bool complete = false;
    };
    // Frames [first, first + count) of `stream` (within its frame count; checked by the caller), the
    // channels listed (null: all, in stream order), into a row-major count x channels array. Takes the lock
    // itself: call it without holding it.
    ReadResult ReadFrames(int32_t stream, int64_t first, int64_t count, const int32_t* channels, int32_t channelCount,
                          uint16_t* out);
    ReadResult ReadFrames(int32_t stream, int64_t first, int64_t count, const int32_t* channels, int32_t channelCount,
                          float* out);

private:
    // Frames that lie one after another in the file: `frames` frames from `frame` at `position`. A run
    // that ends its chunk carries the chunk's end in `trail` when the chunk table wants the bytes after it.
    struct Run {
        int64_t frame;
        int64_t frames;
        uint64_t position;
        uint64_t trail;
    };
    // Where a stream's frames lie, one sweep of a triggered recording at a time.
    struct StreamState {
        bool measured = false;
        Geometry geometry;
        int32_t sweepOfRuns = -1;  // the sweep whose runs `sweepRuns` holds (frames counted from its start)
        std::vector<Run> sweepRuns;
    };

    void Measure(int32_t stream, StreamState& state);
    // Appends runs of frames from `frame` on (at most `count` frames and a few runs); none when the frame
    // cannot be found in the file.
    void CollectRuns(int32_t stream, int64_t frame, int64_t count, std::vector<Run>& runs);
    void CollectContinuousRuns(int32_t stream, int64_t frame, int64_t count, std::vector<Run>& runs);
    void CollectSweepRuns(int32_t stream, int64_t frame, int64_t count, std::vector<Run>& runs);
    // The runs of sweep `sweep`, counted from its first frame, as the walk over its time span finds them.
    void SweepRuns(int32_t stream, int32_t sweep, std::vector<Run>& runs);

    // Collects the runs of [first, first + count) a few at a time and hands each to read(run, row), which
    // reads it into rows from `row` on and returns the frames it could read.
    template <typename Read>
    ReadResult Walk(int32_t stream, int64_t first, int64_t count, Read read);
    template <typename Value>
    ReadResult ReadThroughScratch(int32_t stream, int64_t first, int64_t count, const int32_t* channels,
                                  int32_t channelCount, Value* out);
    // Reads `bytes` bytes of the file at `position` into `dst`: from the window of chunk heads when it holds
    // them, else with one positioned read that also brings the bytes after the chunk ending at `trail` (0:
    // none wanted) into `trailBytes` for the chunk table. The bytes read into `dst` and `trailBytes`.
    std::size_t ReadBytes(FILE* file, uint64_t position, uint64_t bytes, uint64_t trail, uint8_t* dst,
                          std::vector<uint8_t>& trailBytes);
    // Hands the bytes after a run's chunk to the chunk table.
    void OfferTrail(uint64_t position, const uint8_t* bytes, std::size_t n);
    // Copies `bytes` bytes of the file from `position` on when the window the chunk table read for the
    // heads holds them (small chunks come with the window read for their head); false otherwise.
    bool FromWindow(uint64_t position, void* dst, std::size_t bytes);

    // A scratch buffer for a read, taken from those of finished reads.
    std::unique_ptr<std::vector<uint16_t>> TakeScratch();
    void GiveScratch(std::unique_ptr<std::vector<uint16_t>> scratch);

    mutable std::mutex m_Lock;
    std::unique_ptr<CKVXAStreamFile> m_pReader;
    std::vector<StreamState> m_Streams;
    std::vector<std::unique_ptr<std::vector<uint16_t>>> m_Scratch;
};
