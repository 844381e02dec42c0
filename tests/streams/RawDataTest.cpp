// Raw-data readers and chunk navigation of continuous streams, on recordings whose every sample is known.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "streams/KVXAChunk.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAStream.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::RecordingDesc;
using kvdtest::RunDesc;

constexpr uint64_t kNsPerSample = 40000;  // 25 kHz

int16_t Expected(std::size_t stream, int channel, uint64_t index)
{
    return static_cast<int16_t>(kvdtest::SampleWord(stream, channel, index));
}

// Electrode stream of `channels` channels and a digital stream, `samples` samples in chunks of `perChunk`.
RecordingDesc Continuous(int channels, uint64_t samples, uint32_t perChunk)
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(channels), kvdtest::DigitalStream()};
    rec.stopTime = rec.startTime + samples * kNsPerSample;
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, samples}}, perChunk);
    return rec;
}

// Triggered recording: an electrode stream with `sweeps` sweeps of `samples` samples one second apart.
RecordingDesc Triggered(int channels, int sweeps, uint64_t samples, uint32_t perChunk)
{
    RecordingDesc rec;
    rec.recordingMode = 1;
    rec.postTrigger = static_cast<float>(samples * kNsPerSample / 1000000);
    rec.startTriggerBufferId = "trig0001";
    rec.streams = {kvdtest::ElectrodeStream(channels), kvdtest::TriggerStream()};
    std::vector<RunDesc> runs;
    for (int i = 0; i < sweeps; ++i) runs.push_back({rec.startTime + 1000000000ULL * i, samples});
    kvdtest::AddSampleChunks(rec, {0}, runs, perChunk);
    return rec;
}

class RawDataTest : public ::testing::Test {
protected:
    CKVXAStreamFile& Open(const RecordingDesc& rec)
    {
        const std::string path = rec.WriteTo(m_dir.Path("r" + std::to_string(m_count++) + ".kvd"));
        m_file = std::make_unique<CKVXAStreamFile>();
        EXPECT_EQ(m_file->OpenFile(path.c_str()), OK);
        return *m_file;
    }
    CKVXATimeStamp At(uint64_t ns)
    {
        CKVXATimeStamp t;
        t.SetStart(kvdtest::kDefaultStart);
        t.SetTimeStamp(kvdtest::kDefaultStart + ns);
        return t;
    }

    kvdtest::TempDir m_dir;
    int m_count = 0;
    std::unique_ptr<CKVXAStreamFile> m_file;
};

TEST_F(RawDataTest, BufferSizesFollowRateAndChannelCount)
{
    CKVXAStreamFile& f = Open(Continuous(60, 1000, 100));
    CKVXAStream* s = f.GetStream(0);
    CKVXATimeStamp a = At(0), b = At(1000000);
    EXPECT_EQ(s->GetRawDataBufferSize(&a, &b), 1500);
    EXPECT_EQ(s->GetRawDataBufferSize(&b, &a), 0);
    // 1000 samples = 40 ms: whole milliseconds times samples per millisecond.
    EXPECT_EQ(s->GetRawDataBufferSizeOfChannel(), 1000);
    // A span whose value count does not fit 31 bits is refused.
    CKVXATimeStamp far = At(1000000000ULL * 3600 * 24 * 30);
    EXPECT_EQ(s->GetRawDataBufferSize(&a, &far), 0);
}

TEST_F(RawDataTest, ReadsByStartAndCountAcrossChunkBoundaries)
{
    CKVXAStreamFile& f = Open(Continuous(5, 1000, 128));
    CKVXAStream* s = f.GetStream(0);
    std::vector<int16_t> buf(1000, 0);
    // The first sample of the second chunk, for each channel.
    for (int ch = 0; ch < 5; ++ch) {
        ASSERT_EQ(s->GetRawDataOfChannelStartCount(buf.data(), ch, 128, 1), 1);
        EXPECT_EQ(buf[0], Expected(0, ch, 128));
    }
    // Every start and length around the boundaries of the first chunks, last channel included.
    for (int64_t start : {0, 1, 127, 128, 129, 255, 256, 900, 999}) {
        for (int32_t count : {1, 2, 127, 128, 300}) {
            const int32_t want = static_cast<int32_t>(std::min<int64_t>(count, 1000 - start));
            ASSERT_EQ(s->GetRawDataOfChannelStartCount(buf.data(), 4, start, count), want) << start << " " << count;
            for (int32_t i = 0; i < want; ++i) ASSERT_EQ(buf[i], Expected(0, 4, start + i)) << start << " " << i;
        }
    }
    // Beyond the data, and requests that make no sense.
    EXPECT_EQ(s->GetRawDataOfChannelStartCount(buf.data(), 0, 1000, 10), 0);
    EXPECT_EQ(s->GetRawDataOfChannelStartCount(buf.data(), 5, 0, 10), 0);
    EXPECT_EQ(s->GetRawDataOfChannelStartCount(buf.data(), -1, 0, 10), 0);
    EXPECT_EQ(s->GetRawDataOfChannelStartCount(buf.data(), 0, -5, 10), 0);
    EXPECT_EQ(s->GetRawDataOfChannelStartCount(nullptr, 0, 0, 10), 0);
    // The digital stream of the same file.
    ASSERT_EQ(f.GetStream(1)->GetRawDataOfChannelStartCount(buf.data(), 0, 500, 300), 300);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(buf[i], Expected(1, 0, 500 + i));
}

TEST_F(RawDataTest, ReadsAWholeChannelNoFurtherThanItsBufferSize)
{
    CKVXAStreamFile& f = Open(Continuous(3, 1000, 96));
    CKVXAStream* s = f.GetStream(0);
    std::vector<int16_t> buf(1100, 0x5555);
    ASSERT_EQ(s->GetRawDataOfChannel(buf.data(), 2), 1000);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(buf[i], Expected(0, 2, i));
    EXPECT_EQ(buf[1000], 0x5555);

    // A header stop time shorter than the data bounds what is written.
    RecordingDesc shorter = Continuous(3, 1000, 96);
    shorter.stopTime = shorter.startTime + 20 * 1000000ULL;  // 20 ms = 500 samples
    CKVXAStreamFile& g = Open(shorter);
    std::fill(buf.begin(), buf.end(), 0x5555);
    ASSERT_EQ(g.GetStream(0)->GetRawDataBufferSizeOfChannel(), 500);
    EXPECT_EQ(g.GetStream(0)->GetRawDataOfChannel(buf.data(), 1), 500);
    EXPECT_EQ(buf[500], 0x5555);
}

TEST_F(RawDataTest, ReadsInterleavedValuesByTime)
{
    CKVXAStreamFile& f = Open(Continuous(4, 1000, 100));
    CKVXAStream* s = f.GetStream(0);
    std::vector<int16_t> buf(4000, 0);
    // [from, to) in samples; chunk edges, chunk interiors and the whole stream.
    const std::pair<uint64_t, uint64_t> spans[] = {{0, 1000},  {0, 100},    {50, 150}, {100, 300},
                                                   {250, 260}, {999, 1000}, {0, 1},    {345, 812}};
    for (const auto& [a, b] : spans) {
        CKVXATimeStamp from = At(a * kNsPerSample), to = At(b * kNsPerSample);
        const int32_t n = s->GetRawData(buf.data(), 4000, &from, &to);
        ASSERT_EQ(n, static_cast<int32_t>((b - a) * 4)) << a << "-" << b;
        for (int32_t v = 0; v < n; ++v) ASSERT_EQ(buf[v], Expected(0, v % 4, a + v / 4)) << a << " " << v;
    }
    // The maximum bounds the copy, whether the chunk is whole or not.
    CKVXATimeStamp from = At(0), to = At(1000 * kNsPerSample);
    EXPECT_EQ(s->GetRawData(buf.data(), 10, &from, &to), 10);
    EXPECT_EQ(s->GetRawData(buf.data(), 410, &from, &to), 410);
    for (int v = 0; v < 410; ++v) ASSERT_EQ(buf[v], Expected(0, v % 4, v / 4));
    // Reversed and out-of-data ranges.
    EXPECT_EQ(s->GetRawData(buf.data(), 4000, &to, &from), 0);
    CKVXATimeStamp late = At(2000 * kNsPerSample), later = At(3000 * kNsPerSample);
    EXPECT_EQ(s->GetRawData(buf.data(), 4000, &late, &later), 0);
}

TEST_F(RawDataTest, MovesBetweenChunksInAnyOrder)
{
    CKVXAStreamFile& f = Open(Continuous(2, 1000, 100));
    CKVXAStream* s = f.GetStream(0);
    for (uint64_t sample : {950, 20, 500, 499, 0, 999}) {
        CKVXATimeStamp t = At(sample * kNsPerSample);
        ASSERT_TRUE(s->MoveToChunk(&t));
        EXPECT_EQ(s->GetCurrentChunk()->GetFrom(), kvdtest::kDefaultStart + sample / 100 * 100 * kNsPerSample);
    }
    CKVXATimeStamp end = At(1000 * kNsPerSample);
    EXPECT_FALSE(s->MoveToChunk(&end));
}

TEST_F(RawDataTest, ChunkNextToStartsAtTheIndexItemAtOrBeforeTheTime)
{
    // Chunks of one second; index items at 0, 10 and 20 s.
    RecordingDesc rec = Continuous(1, 30 * 25000, 25000);
    rec.streams.pop_back();
    rec.chunks.clear();
    kvdtest::AddSampleChunks(rec, {0}, {{rec.startTime, 30 * 25000}}, 25000);
    kvdtest::IndexDesc index;
    index.streamCount = 1;
    for (std::size_t i : {0, 10, 20}) index.items.emplace_back(rec.chunks[i].from, rec.ChunkPosition(i));
    index.sweeps.emplace_back(rec.chunks.front().from, rec.chunks.back().to);
    rec.index = index;
    rec.withIndex = 1;
    CKVXAStreamFile& f = Open(rec);
    ASSERT_EQ(f.GetIndex().GetItemCount(), 3u);
    CKVXAStream* s = f.GetStream(0);
    CKVXATimeStamp t = At(15500000000ULL);
    std::unique_ptr<CKVXAChunk> chunk(s->GetChunkNextTo(&t));
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->GetFrom(), rec.chunks[15].from);
    EXPECT_EQ(chunk->GetDataPosition(), rec.ChunkPosition(15) + 32);
    CKVXATimeStamp before = At(0);
    chunk.reset(s->GetChunkNextTo(&before));
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->GetFrom(), rec.chunks[0].from);
    CKVXATimeStamp after = At(30000000000ULL);
    EXPECT_EQ(s->GetChunkNextTo(&after), nullptr);
}

TEST_F(RawDataTest, SweepReadersServeTriggeredRecordingsOnly)
{
    CKVXAStreamFile& f = Open(Triggered(3, 4, 250, 100));
    CKVXAStream* s = f.GetStream(0);
    ASSERT_EQ(f.GetRecordingMode(), 1);
    ASSERT_EQ(f.GetSweepCount(), 4);
    std::vector<int16_t> buf(2000, 0);
    // Index readers are for continuous recordings.
    EXPECT_EQ(s->GetRawDataOfChannelStartCount(buf.data(), 0, 0, 10), 0);
    EXPECT_EQ(s->GetRawDataBufferSizeOfChannel(), 0);
    for (int sweep = 0; sweep < 4; ++sweep) {
        ASSERT_EQ(s->GetSweepRawDataBufferSize(sweep), 750);
        ASSERT_EQ(s->GetSweepRawData(buf.data(), 2000, sweep), 750);
        for (int v = 0; v < 750; ++v) ASSERT_EQ(buf[v], Expected(0, v % 3, 250 * sweep + v / 3));
        ASSERT_EQ(s->GetSweepRawDataOfChannel(buf.data(), 2000, sweep, 2), 250);
        for (int i = 0; i < 250; ++i) ASSERT_EQ(buf[i], Expected(0, 2, 250 * sweep + i));
    }
    // Part of a sweep, across the chunk boundary at sample 100.
    ASSERT_EQ(s->GetSweepRawData(buf.data(), 2000, 1, 90, 20), 60);
    for (int v = 0; v < 60; ++v) ASSERT_EQ(buf[v], Expected(0, v % 3, 250 + 90 + v / 3));
    ASSERT_EQ(s->GetSweepRawDataOfChannel(buf.data(), 2000, 2, 1, 90, 20), 20);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(buf[i], Expected(0, 1, 500 + 90 + i));
    // The maximum bounds one channel's samples.
    EXPECT_EQ(s->GetSweepRawDataOfChannel(buf.data(), 7, 0, 0), 7);
    // Sweeps that do not exist.
    EXPECT_EQ(s->GetSweepRawData(buf.data(), 2000, 4), 0);
    EXPECT_EQ(s->GetSweepRawData(buf.data(), 2000, -1), 0);
    EXPECT_EQ(s->GetSweepRawDataBufferSize(9), 0);

    // A continuous recording has no sweep data.
    CKVXAStreamFile& c = Open(Continuous(3, 500, 100));
    ASSERT_EQ(c.GetSweepCount(), 1);
    EXPECT_EQ(c.GetStream(0)->GetSweepRawDataBufferSize(0), 0);
    EXPECT_EQ(c.GetStream(0)->GetSweepRawData(buf.data(), 2000, 0), 0);
}

TEST_F(RawDataTest, StreamsWithoutRawDataReadNothing)
{
    RecordingDesc rec = Continuous(2, 200, 100);
    rec.streams[1].dataType = "trigger";
    CKVXAStreamFile& f = Open(rec);
    std::vector<int16_t> buf(100);
    EXPECT_EQ(f.GetStream(1)->GetRawDataOfChannelStartCount(buf.data(), 0, 0, 10), 0);
    EXPECT_EQ(f.GetStream(1)->GetRawDataOfChannel(buf.data(), 0), 0);
    CKVXATimeStamp a = At(0), b = At(1000000);
    EXPECT_EQ(f.GetStream(1)->GetRawDataBufferSize(&a, &b), 0);
}

TEST_F(RawDataTest, TruncatedRecordingsDeliverWhatTheyHold)
{
    const RecordingDesc rec = Continuous(2, 400, 100);
    const std::vector<uint8_t> whole = rec.Encode();
    const std::size_t first = rec.FirstChunkPosition();
    std::vector<int16_t> buf(400);
    // Cut at every chunk boundary and inside chunk heads and data.
    for (std::size_t cut = first; cut <= whole.size(); cut += 37) {
        const std::string path = m_dir.Path("cut.kvd");
        kvdtest::WriteFile(path, std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
        CKVXAStreamFile f;
        ASSERT_EQ(f.OpenFile(path.c_str()), OK);
        const int32_t n = f.GetStream(0)->GetRawDataOfChannelStartCount(buf.data(), 1, 0, 400);
        // Only whole chunks count: each electrode chunk of 100 samples is 432 bytes, each digital one 232.
        std::size_t whole_chunks = 0;
        for (std::size_t i = 0; i < rec.chunks.size(); i += 2)
            if (rec.ChunkPosition(i) + 32 + rec.chunks[i].data.size() <= cut) ++whole_chunks;
        ASSERT_EQ(n, static_cast<int32_t>(whole_chunks * 100)) << cut;
        for (int32_t i = 0; i < n; ++i) ASSERT_EQ(buf[i], Expected(0, 1, i));
    }
}

}  // namespace
