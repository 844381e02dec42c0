// Sweeps, recording mode and the reconstructions made for files of old writers.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "streams/KVXAStream.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::RecordingDesc;
using kvdtest::RunDesc;

constexpr uint64_t kMs = 1000000ULL;

// `runs` gap-free runs of `samples` samples at 25 kHz (2,500 samples = 100 ms), one second apart,
// in chunks of `perChunk` samples, of an electrode and a digital stream.
RecordingDesc Runs(int runs, uint64_t samples, uint32_t perChunk)
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(2), kvdtest::DigitalStream()};
    std::vector<RunDesc> list;
    for (int i = 0; i < runs; ++i) list.push_back({rec.startTime + 1000 * kMs * i, samples});
    kvdtest::AddSampleChunks(rec, {0, 1}, list, perChunk);
    return rec;
}

// Files of header version 4 and older name data chunks by stream ID and type tag.
void UseLegacyChunkIds(RecordingDesc& rec)
{
    rec.version = 0;
    for (kvdtest::ChunkDesc& c : rec.chunks) c.id = c.id == "elec0001" ? "00001raw" : "00003raw";
}

class SweepTest : public ::testing::Test {
protected:
    CKVXAStreamFile& Open(const RecordingDesc& rec)
    {
        m_file = std::make_unique<CKVXAStreamFile>();
        const std::string path = rec.WriteTo(m_dir.Path("r" + std::to_string(m_n++) + ".kvd"));
        EXPECT_EQ(m_file->OpenFile(path.c_str()), OK);
        return *m_file;
    }
    kvdtest::TempDir m_dir;
    int m_n = 0;
    std::unique_ptr<CKVXAStreamFile> m_file;
};

TEST_F(SweepTest, AContinuousRecordingIsOneSweep)
{
    const RecordingDesc rec = Runs(1, 10000, 1000);
    CKVXAStreamFile& f = Open(rec);
    EXPECT_EQ(f.GetSweepLength(), -1);
    // Before the index exists the sweep accessors know no sweeps.
    EXPECT_EQ(f.GetSweepStartTimeAt(0), nullptr);
    EXPECT_EQ(f.GetSweepRawStartTimeAt(0), 0u);
    ASSERT_EQ(f.GetSweepCount(), 1);
    std::unique_ptr<CKVXATimeStamp> start(f.GetSweepStartTimeAt(0)), end(f.GetSweepEndTimeAt(0));
    EXPECT_EQ(start->GetTimeStamp(), rec.startTime);
    EXPECT_EQ(end->GetTimeStamp(), rec.startTime + 400 * kMs);
    EXPECT_EQ(end->GetSecondFromStart() * 1000 + end->GetMillisecondFromStart() -
                  (start->GetSecondFromStart() * 1000 + start->GetMillisecondFromStart()),
              400);
    // The stop time becomes the end of the last sweep.
    EXPECT_EQ(f.GetStopTime()->GetTimeStamp(), rec.startTime + 400 * kMs);
    EXPECT_THROW(f.GetSweepStartTimeAt(1), std::out_of_range);
    EXPECT_THROW(f.GetSweepEndTimeAt(-1), std::out_of_range);
}

TEST_F(SweepTest, GapsStartNewSweepsAndOverlapsDoNot)
{
    RecordingDesc rec = Runs(3, 2500, 1000);
    rec.recordingMode = 1;
    rec.postTrigger = 100.0f;
    rec.startTriggerBufferId = "trig0001";
    rec.streams.push_back(kvdtest::TriggerStream());
    // An overlapping chunk inside the second run changes nothing.
    rec.chunks[8].from -= kMs;
    CKVXAStreamFile& f = Open(rec);
    ASSERT_EQ(f.GetRecordingMode(), 1);
    EXPECT_EQ(f.GetSweepLength(), 100);
    ASSERT_EQ(f.GetSweepCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.GetSweepRawStartTimeAt(i), rec.startTime + 1000 * kMs * i);
        std::unique_ptr<CKVXATimeStamp> end(f.GetSweepEndTimeAt(i));
        EXPECT_EQ(end->GetTimeStamp(), rec.startTime + 1000 * kMs * i + 100 * kMs);
    }
}

TEST_F(SweepTest, TheStreamThatRunsOutFirstEndsTheScan)
{
    RecordingDesc rec = Runs(3, 2500, 2500);
    // Drop the digital stream's chunk of the last run: the scan stops after the second run's pass.
    rec.chunks.pop_back();
    CKVXAStreamFile& f = Open(rec);
    EXPECT_EQ(f.GetSweepCount(), 2);
}

TEST_F(SweepTest, ARecordingWithoutChunksHasNoSweeps)
{
    RecordingDesc rec = Runs(0, 0, 1);
    CKVXAStreamFile& f = Open(rec);
    EXPECT_EQ(f.GetSweepCount(), 0);
    EXPECT_EQ(f.GetStopTime()->GetTimeStamp(), f.GetStartTime()->GetTimeStamp());
    EXPECT_EQ(f.GetSweepStartTimeAt(0), nullptr);
    EXPECT_EQ(f.GetSweepRawStartTimeAt(0), 0u);
    EXPECT_FALSE(f.GetIndex().HasIndexes());
    ASSERT_NE(f.GetIndex().GetSweepStarts(), nullptr);
    EXPECT_TRUE(f.GetIndex().GetSweepStarts()->empty());
}

TEST_F(SweepTest, OldWritersGetTheirModeAndSweepLengthReconstructed)
{
    // Writer 1.33, header version 0: 50 gap-free chunks of 128 ms are a continuous recording.
    RecordingDesc continuous = Runs(1, 50 * 3200, 3200);
    UseLegacyChunkIds(continuous);
    continuous.softwareWord1 = (1u << 16) | 33u;
    continuous.recordingMode = 1;
    CKVXAStreamFile& f = Open(continuous);
    EXPECT_EQ(f.GetRecordingMode(), 0);
    EXPECT_EQ(f.GetPostTriggerTime(), 0);
    EXPECT_FALSE(f.GetLongChunks());

    // Runs of one 100 ms chunk: triggered, sweep length 100 ms.
    RecordingDesc triggered = Runs(5, 2500, 2500);
    UseLegacyChunkIds(triggered);
    triggered.softwareWord1 = (1u << 16) | 20u;
    triggered.streams.push_back(kvdtest::TriggerStream());
    CKVXAStreamFile& g = Open(triggered);
    EXPECT_EQ(g.ReconstructRecordingMode(), 1);
    EXPECT_EQ(g.ReconstructSweepLength(), 100);
    EXPECT_EQ(g.GetRecordingMode(), 1);
    EXPECT_EQ(g.GetPostTriggerTime(), 100);
    EXPECT_EQ(g.GetStartTriggerStreamID(), 2);

    // Writers after 1.33 keep their header fields.
    RecordingDesc newer = Runs(5, 2500, 2500);
    newer.softwareWord1 = (1u << 16) | 34u;
    CKVXAStreamFile& h = Open(newer);
    EXPECT_EQ(h.GetRecordingMode(), 0);
}

TEST_F(SweepTest, ChunksLongerThan128MsAreNoted)
{
    RecordingDesc rec = Runs(3, 5000, 5000);  // 200 ms chunks
    UseLegacyChunkIds(rec);
    rec.softwareWord1 = (1u << 16) | 10u;
    rec.streams.push_back(kvdtest::TriggerStream());
    CKVXAStreamFile& f = Open(rec);
    EXPECT_TRUE(f.GetLongChunks());
    // A raw-data and trigger recording of long chunks builds its sweeps without time items.
    EXPECT_TRUE(f.GetDiscardTimeIndex());
    EXPECT_EQ(f.GetSweepCount(), 3);
    EXPECT_FALSE(f.GetIndex().HasIndexes());
}

TEST_F(SweepTest, AZeroStartTimeIsTakenFromTheFirstChunks)
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(1), kvdtest::DigitalStream(), kvdtest::ElectrodeStream(1, "elec0002", 4)};
    const uint64_t t = kvdtest::kDefaultStart;
    // Streams 0 and 2 are visited: the earliest of their first chunks wins; stream 1 is not looked at.
    kvdtest::ChunkDesc a{"elec0001", t + 50 * kMs, t + 60 * kMs, std::vector<uint8_t>(20), {}};
    kvdtest::ChunkDesc b{"digi0001", t + 10 * kMs, t + 20 * kMs, std::vector<uint8_t>(20), {}};
    kvdtest::ChunkDesc c{"elec0002", t + 30 * kMs, t + 40 * kMs, std::vector<uint8_t>(20), {}};
    rec.chunks = {a, b, c};
    rec.startTime = 0;
    CKVXAStreamFile& f = Open(rec);
    EXPECT_EQ(f.GetKVXHDR()->U64(KVXHDR::kStartTime), t + 30 * kMs);
    EXPECT_EQ(f.GetStartTime()->GetTimeStamp(), t + 30 * kMs);
}

}  // namespace
