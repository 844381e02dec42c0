#include "api/ArrayFile.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "api/SampleScale.h"
#include "io/FileIO.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAChunkTable.h"
#include "streams/KVXAStream.h"
#include "streams/KVXAStreamKind.h"

namespace {

constexpr std::size_t kNone = CKVXAChunkTable::npos;
constexpr std::size_t kTrailBytes = CKVXAChunkTable::kTrailBytes;
// Runs collected under the lock at a time: a read takes the lock once per few chunks.
constexpr std::size_t kRunsPerVisit = 16;
// Words read at a time when frames are picked out or converted: the piece stays in the processor's caches
// between reading and converting, and a read needs no more memory than this, whatever the chunk size.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
// A chunk's last frame may end short of the chunk (a part frame); its trail is read only when that is small.
constexpr uint64_t kMaxTrailGap = 65536;
// Runs no longer than this may lie in the window of chunk heads the chunk table last read.
constexpr std::size_t kWindowBytes = 8192;

// The words as the host holds them: the file stores them little-endian.
void HostOrder(uint16_t* words, std::size_t n)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    for (std::size_t i = 0; i < n; ++i) words[i] = static_cast<uint16_t>((words[i] >> 8) | (words[i] << 8));
#else
    (void)words;
    (void)n;
#endif
}

// Nanoseconds of `frames` sample periods at `millisamples` samples per 1000 seconds, rounded to the nearest.
int64_t FramesToNs(int64_t frames, int32_t millisamples)
{
    if (millisamples <= 0 || frames <= 0) return 0;
    const uint64_t m = static_cast<uint64_t>(millisamples);
    const uint64_t f = static_cast<uint64_t>(frames);
    // f x 10^12 / m in parts that cannot overflow: whole multiples of m, then the remainder in two steps.
    const uint64_t q = f / m, r = f % m;
    const uint64_t micro = r * 1000000ULL;  // < 2^51
    const uint64_t ns = (micro / m) * 1000000ULL + ((micro % m) * 1000000ULL + m / 2) / m;
    if (q > static_cast<uint64_t>(INT64_MAX) / 1000000000000ULL) return INT64_MAX;
    return static_cast<int64_t>(q * 1000000000000ULL + ns);
}

// True when the list names every channel in stream order.
bool AllInOrder(const int32_t* channels, int32_t count, int32_t k)
{
    if (!channels) return true;
    if (count != k) return false;
    for (int32_t i = 0; i < count; ++i)
        if (channels[i] != i) return false;
    return true;
}

}  // namespace

CArrayFile::CArrayFile() : m_pReader(std::make_unique<CKVXAStreamFile>()) {}

CArrayFile::~CArrayFile()
{
    if (m_pReader) m_pReader->CloseFile();
}

int CArrayFile::Open(const char* path)
{
    const int result = m_pReader->OpenFile(path);
    if (result != OK) return result;
    m_Streams.resize(static_cast<std::size_t>(std::max(0, m_pReader->GetStreamCount())));
    // The sweeps of a triggered recording are settled first, as the Neuroshare side settles them when it
    // opens a file: finding them moves the stop time to the end of the last sweep.
    if (Triggered()) m_pReader->GetSweepCount();
    return result;
}

int32_t CArrayFile::StreamCount() const { return static_cast<int32_t>(m_Streams.size()); }

CKVXAStream* CArrayFile::Stream(int32_t index) const
{
    return index >= 0 && index < StreamCount() ? m_pReader->GetStream(index) : nullptr;
}

bool CArrayFile::Triggered() const { return m_pReader->GetRecordingMode() != 0; }

bool CArrayFile::Digital(int32_t stream) const
{
    const CKVXAStream* s = Stream(stream);
    return s && BufferKindOf(s->GetBufferID()) == KVXABufferKind::Digital;
}

int64_t CArrayFile::SinceStart(uint64_t time) const
{
    return static_cast<int64_t>(time - m_pReader->GetStartTime()->GetTimeStamp());
}

const CArrayFile::Geometry& CArrayFile::GeometryOf(int32_t stream)
{
    StreamState& state = m_Streams.at(static_cast<std::size_t>(stream));
    if (!state.measured) Measure(stream, state);
    return state.geometry;
}

void CArrayFile::Measure(int32_t index, StreamState& state)
{
    Geometry geometry;
    CKVXAStream* stream = Stream(index);
    geometry.channels = stream ? std::max(0, stream->GetChannelCount()) : 0;
    geometry.frames = stream && stream->HasSampleChunks();
    if (geometry.frames && !Triggered()) {
        // The frames of the recording's span, as the Neuroshare entities count them, but never more than
        // the file could hold.
        const uint64_t fits = m_pReader->GetFileSize() / (2 * static_cast<uint64_t>(geometry.channels));
        geometry.frameCount = static_cast<int64_t>(std::min(stream->RecordingSamples(), fits));
    } else if (geometry.frames) {
        // Sweep after sweep, each as many frames as its span holds.
        const int32_t sweeps = std::max(0, m_pReader->GetSweepCount());
        geometry.sweepFirst.reserve(static_cast<std::size_t>(sweeps) + 1);
        geometry.sweepFirst.push_back(0);
        int64_t total = 0;
        for (int32_t k = 0; k < sweeps; ++k) {
            total += std::max(0, stream->GetSweepRawDataBufferSize(k)) / geometry.channels;
            geometry.sweepFirst.push_back(total);
        }
        geometry.frameCount = total;
    }
    state.geometry = std::move(geometry);
    state.measured = true;
}

std::size_t CArrayFile::SweepOf(const Geometry& geometry, int64_t frame)
{
    const auto& first = geometry.sweepFirst;
    const auto it = std::upper_bound(first.begin(), first.end(), frame);
    return it == first.begin() ? 0 : static_cast<std::size_t>(it - first.begin()) - 1;
}

int64_t CArrayFile::FrameTime(int32_t stream, int64_t frame)
{
    const CKVXAStream* s = Stream(stream);
    const int32_t msps = s ? s->GetMilliSamplesPerSecond() : 0;
    const Geometry& geometry = GeometryOf(stream);
    if (!Triggered() || geometry.sweepFirst.size() < 2) return FramesToNs(frame, msps);
    const std::size_t sweep = SweepOf(geometry, frame);
    return SinceStart(m_pReader->GetSweepRawStartTimeAt(static_cast<int32_t>(sweep))) +
           FramesToNs(frame - geometry.sweepFirst[sweep], msps);
}

int64_t CArrayFile::FramesPerChunk(int32_t stream)
{
    const Geometry& geometry = GeometryOf(stream);
    CKVXAChunkTable* table = m_pReader->GetChunkTable();
    const auto s = static_cast<std::size_t>(stream);
    if (!geometry.frames || !table || s >= table->StreamCount() || !table->Has(s, 0)) return 0;
    return static_cast<int64_t>(table->At(s, 0).size / 2 / static_cast<uint64_t>(geometry.channels));
}

// ---- Where frames lie ---------------------------------------------------------------------------------

void CArrayFile::CollectRuns(int32_t stream, int64_t frame, int64_t count, std::vector<Run>& runs)
{
    if (Triggered())
        CollectSweepRuns(stream, frame, count, runs);
    else
        CollectContinuousRuns(stream, frame, count, runs);
}

void CArrayFile::CollectContinuousRuns(int32_t stream, int64_t frame, int64_t count, std::vector<Run>& runs)
{
    CKVXAChunkTable* table = m_pReader->GetChunkTable();
    const auto s = static_cast<std::size_t>(stream);
    if (!table || s >= table->StreamCount()) return;
    const uint64_t k = static_cast<uint64_t>(GeometryOf(stream).channels);
    const uint64_t fileSize = m_pReader->GetFileSize();
    auto next = static_cast<uint64_t>(frame);
    auto left = static_cast<uint64_t>(count);
    // The chunk of the first frame is found by scanning as far as needed; the runs after it are taken from
    // what the table already knows, so that the next visit finds their heads in the bytes a run brought.
    std::size_t e = table->FindSample(s, next);
    if (e == kNone) return;
    for (; left > 0 && runs.size() < kRunsPerVisit && e < table->Known(s); ++e) {
        const KVXAChunkEntry& entry = table->At(s, e);
        const uint64_t inChunk = (entry.size / 2) / k;
        const uint64_t chunkStart = entry.samplesEnd - inChunk;
        if (next < chunkStart || next >= entry.samplesEnd) continue;
        const uint64_t n = std::min(entry.samplesEnd - next, left);
        const uint64_t position = entry.dataPosition + (next - chunkStart) * k * 2;
        if (entry.dataPosition > fileSize || entry.size > fileSize - entry.dataPosition) return;
        const bool last = next + n == entry.samplesEnd;
        const uint64_t trail = last && table->Wants(entry.End()) ? entry.End() : 0;
        runs.push_back({static_cast<int64_t>(next), static_cast<int64_t>(n), position, trail});
        next += n;
        left -= n;
    }
}

void CArrayFile::CollectSweepRuns(int32_t stream, int64_t frame, int64_t count, std::vector<Run>& runs)
{
    StreamState& state = m_Streams.at(static_cast<std::size_t>(stream));
    const Geometry& geometry = GeometryOf(stream);
    const uint64_t bytesPerFrame = 2 * static_cast<uint64_t>(geometry.channels);
    std::size_t sweep = SweepOf(geometry, frame);
    while (count > 0 && sweep + 1 < geometry.sweepFirst.size() && runs.size() < kRunsPerVisit) {
        if (state.sweepOfRuns != static_cast<int32_t>(sweep)) {
            state.sweepOfRuns = -1;
            SweepRuns(stream, static_cast<int32_t>(sweep), state.sweepRuns);
            state.sweepOfRuns = static_cast<int32_t>(sweep);
        }
        const int64_t base = geometry.sweepFirst[sweep];
        int64_t offset = frame - base;
        for (const Run& run : state.sweepRuns) {
            if (count == 0) return;
            if (offset >= run.frame + run.frames) continue;
            if (offset < run.frame) return;  // the sweep's data end before its span
            const int64_t n = std::min(run.frame + run.frames - offset, count);
            runs.push_back({frame, n, run.position + static_cast<uint64_t>(offset - run.frame) * bytesPerFrame, 0});
            frame += n;
            offset += n;
            count -= n;
        }
        if (count > 0 && frame < geometry.sweepFirst[sweep + 1]) return;
        ++sweep;
    }
}

void CArrayFile::SweepRuns(int32_t stream, int32_t sweep, std::vector<Run>& runs)
{
    runs.clear();
    CKVXAStream* s = Stream(stream);
    const Geometry& geometry = GeometryOf(stream);
    uint64_t start = 0, end = 0;
    if (!s || !m_pReader->GetSweepSpan(sweep, start, end)) return;
    const auto k = static_cast<uint64_t>(geometry.channels);
    const int64_t limit =
        geometry.sweepFirst[static_cast<std::size_t>(sweep) + 1] - geometry.sweepFirst[static_cast<std::size_t>(sweep)];
    if (limit <= 0) return;
    // The chunk parts of the sweep readers' own walk over the sweep's span, in whole frames.
    int64_t produced = 0;
    s->WalkSpanNs(start, end, static_cast<uint64_t>(limit) * k,
                  [&](uint64_t dataPosition, uint64_t offset, uint64_t n) {
                      const auto frames = static_cast<int64_t>(n / k);
                      if (frames == 0) return;
                      runs.push_back({produced, frames, dataPosition + offset * 2, 0});
                      produced += frames;
                  });
}

// ---- Reading frames -----------------------------------------------------------------------------------

template <typename Read>
CArrayFile::ReadResult CArrayFile::Walk(int32_t stream, int64_t first, int64_t count, Read read)
{
    ReadResult result;
    std::vector<Run> runs;
    runs.reserve(kRunsPerVisit);
    int64_t frame = first;
    const int64_t end = first + count;
    while (frame < end) {
        runs.clear();
        {
            const std::lock_guard<std::mutex> hold(m_Lock);
            CollectRuns(stream, frame, end - frame, runs);
        }
        if (runs.empty()) return result;
        for (const Run& run : runs) {
            const int64_t got = run.frame == frame ? read(run, frame - first) : 0;
            result.frames += got;
            frame += got;
            if (got != run.frames) return result;
        }
    }
    result.complete = true;
    return result;
}

void CArrayFile::OfferTrail(uint64_t position, const uint8_t* bytes, std::size_t n)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    if (CKVXAChunkTable* table = m_pReader->GetChunkTable()) table->Offer(position, bytes, n);
}

bool CArrayFile::FromWindow(uint64_t position, void* dst, std::size_t bytes)
{
    if (bytes > kWindowBytes) return false;
    const std::lock_guard<std::mutex> hold(m_Lock);
    CKVXAChunkTable* table = m_pReader->GetChunkTable();
    return table && table->CopyWindowed(position, bytes, dst);
}

std::unique_ptr<std::vector<uint16_t>> CArrayFile::TakeScratch()
{
    {
        const std::lock_guard<std::mutex> hold(m_Lock);
        if (!m_Scratch.empty()) {
            auto scratch = std::move(m_Scratch.back());
            m_Scratch.pop_back();
            return scratch;
        }
    }
    return std::make_unique<std::vector<uint16_t>>();
}

void CArrayFile::GiveScratch(std::unique_ptr<std::vector<uint16_t>> scratch)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    m_Scratch.push_back(std::move(scratch));
}

namespace {

// Bytes from the end of a run's last whole frame to its chunk's end, when the chunk table wants the bytes
// after the chunk and they are near enough to come with the run.
uint64_t TrailGap(uint64_t runEnd, uint64_t trail)
{
    return trail >= runEnd && trail - runEnd <= kMaxTrailGap ? trail - runEnd : UINT64_MAX;
}

}  // namespace

CArrayFile::ReadResult CArrayFile::ReadFrames(int32_t stream, int64_t first, int64_t count, const int32_t* channels,
                                              int32_t channelCount, uint16_t* out)
{
    int32_t k = 0;
    {
        const std::lock_guard<std::mutex> hold(m_Lock);
        k = GeometryOf(stream).channels;
    }
    if (!AllInOrder(channels, channelCount, k))
        return ReadThroughScratch(stream, first, count, channels, channelCount, out);
    // Every channel in stream order: each run's bytes are the rows of the caller's array, read straight
    // into it; the bytes after a chunk, when the chunk table wants them, come with the same read.
    FILE* file = m_pReader->GetFilePointer();
    const uint64_t rowBytes = 2 * static_cast<uint64_t>(k);
    std::vector<uint8_t> trail;
    return Walk(stream, first, count, [&](const Run& run, int64_t row) -> int64_t {
        uint16_t* dst = out + static_cast<uint64_t>(row) * static_cast<uint64_t>(k);
        const uint64_t bytes = static_cast<uint64_t>(run.frames) * rowBytes;
        const std::size_t got = ReadBytes(file, run.position, bytes, run.trail, reinterpret_cast<uint8_t*>(dst), trail);
        const uint64_t whole = std::min<uint64_t>(got, bytes) / rowBytes;
        HostOrder(dst, static_cast<std::size_t>(whole * static_cast<uint64_t>(k)));
        return static_cast<int64_t>(whole);
    });
}

std::size_t CArrayFile::ReadBytes(FILE* file, uint64_t position, uint64_t bytes, uint64_t trail, uint8_t* dst,
                                  std::vector<uint8_t>& trailBytes)
{
    if (FromWindow(position, dst, static_cast<std::size_t>(bytes))) return static_cast<std::size_t>(bytes);
    const uint64_t gap = trail ? TrailGap(position + bytes, trail) : UINT64_MAX;
    if (gap == UINT64_MAX) return kvd::ReadUpTo(file, position, dst, static_cast<std::size_t>(bytes));
    trailBytes.resize(static_cast<std::size_t>(gap) + kTrailBytes);
    const std::size_t got = kvd::ReadUpToWithTrail(file, position, dst, static_cast<std::size_t>(bytes),
                                                   trailBytes.data(), trailBytes.size());
    if (got > bytes + gap) OfferTrail(trail, trailBytes.data() + gap, got - static_cast<std::size_t>(bytes + gap));
    return got;
}

CArrayFile::ReadResult CArrayFile::ReadFrames(int32_t stream, int64_t first, int64_t count, const int32_t* channels,
                                              int32_t channelCount, float* out)
{
    return ReadThroughScratch(stream, first, count, channels, channelCount, out);
}

template <typename Value>
CArrayFile::ReadResult CArrayFile::ReadThroughScratch(int32_t stream, int64_t first, int64_t count,
                                                      const int32_t* channels, int32_t channelCount, Value* out)
{
    int32_t k = 0;
    bool digital = false;
    uint16_t adZero = 0;
    double unitsPerAD = 0.0;
    {
        const std::lock_guard<std::mutex> hold(m_Lock);
        k = GeometryOf(stream).channels;
        const CKVXAStream* s = Stream(stream);
        digital = Digital(stream);
        adZero = s->GetADZero();
        unitsPerAD = s->GetUnitsPerAD();
    }
    const SampleScale scale(adZero, unitsPerAD, digital);
    const bool all = AllInOrder(channels, channelCount, k);
    const std::size_t columns = all ? static_cast<std::size_t>(k) : static_cast<std::size_t>(channelCount);
    const uint64_t rowBytes = 2 * static_cast<uint64_t>(k);
    const uint64_t pieceFrames = std::max<uint64_t>(1, kPieceBytes / rowBytes);

    std::unique_ptr<std::vector<uint16_t>> scratch = TakeScratch();
    struct GiveBack {
        CArrayFile& file;
        std::unique_ptr<std::vector<uint16_t>>& scratch;
        ~GiveBack() { file.GiveScratch(std::move(scratch)); }
    } giveBack{*this, scratch};
    std::vector<uint16_t> picked(columns);  // one frame of the chosen channels, for scaling
    std::vector<uint8_t> trail;

    FILE* file = m_pReader->GetFilePointer();
    return Walk(stream, first, count, [&](const Run& run, int64_t row) -> int64_t {
        int64_t done = 0;
        while (done < run.frames) {
            const uint64_t n = std::min<uint64_t>(pieceFrames, static_cast<uint64_t>(run.frames - done));
            const uint64_t bytes = n * rowBytes;
            const uint64_t position = run.position + static_cast<uint64_t>(done) * rowBytes;
            const bool last = done + static_cast<int64_t>(n) == run.frames;
            if (scratch->size() < n * static_cast<uint64_t>(k)) scratch->resize(static_cast<std::size_t>(n) * k);
            const std::size_t got = ReadBytes(file, position, bytes, last ? run.trail : 0,
                                              reinterpret_cast<uint8_t*>(scratch->data()), trail);
            const uint64_t whole = std::min<uint64_t>(got, bytes) / rowBytes;
            const uint16_t* src = scratch->data();
            HostOrder(scratch->data(), static_cast<std::size_t>(whole * static_cast<uint64_t>(k)));
            Value* dst = out + static_cast<uint64_t>(row + done) * columns;
            if constexpr (std::is_same<Value, float>::value) {
                if (all) {
                    scale.ConvertToFloat(src, whole * static_cast<uint64_t>(k), dst);
                } else {
                    for (uint64_t r = 0; r < whole; ++r, src += k, dst += columns) {
                        for (std::size_t j = 0; j < columns; ++j) picked[j] = src[channels[j]];
                        scale.ConvertToFloat(picked.data(), columns, dst);
                    }
                }
            } else {
                // Words of every channel in order never come here: they are read straight into the array.
                for (uint64_t r = 0; r < whole; ++r, src += k, dst += columns)
                    for (std::size_t j = 0; j < columns; ++j) dst[j] = src[channels[j]];
            }
            done += static_cast<int64_t>(whole);
            if (whole < n) break;
        }
        return done;
    });
}
