// The chunk index: embedded, sidecar and generated, and the damage that makes a reader discard it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "streams/KVXAChunk.h"
#include "reader/KVXAStreamFile.h"
#include "reader/MIndex1.h"
#include "streams/KVXAStream.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::RecordingDesc;

// Two streams of 1 channel, 2,000-sample chunks (about 4 kB): 60 chunk pairs, 2.4 s.
RecordingDesc Recording()
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(1), kvdtest::DigitalStream()};
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 120000}}, 2000);
    rec.stopTime = rec.startTime + 120000ULL * 40000;
    return rec;
}

class IndexTest : public ::testing::Test {
protected:
    std::string Write(const RecordingDesc& rec)
    {
        return rec.WriteTo(m_dir.Path("r" + std::to_string(m_n++) + ".kvd"));
    }
    kvdtest::TempDir m_dir;
    int m_n = 0;
};

TEST_F(IndexTest, AnEmbeddedIndexIsReadAtOpening)
{
    RecordingDesc rec = Recording();
    kvdtest::AttachIndex(rec);
    rec.index->sweeps = {{rec.startTime, rec.startTime + 1000}, {rec.startTime + 2000, rec.startTime + 3000}};
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    ASSERT_EQ(f.GetWithIndex(), 1);
    const CMIndex1& index = f.GetIndex();
    ASSERT_EQ(index.GetItemCount(), rec.index->items.size());
    for (unsigned i = 0; i < index.GetItemCount(); ++i) {
        EXPECT_EQ(index.GetAt(i)->GetTime(), rec.index->items[i].first);
        EXPECT_EQ(index.GetAt(i)->GetPosition(), rec.index->items[i].second);
    }
    EXPECT_EQ(index.GetStreamCount(), 2u);
    EXPECT_STREQ(index.GetPath(), "built.kvd");
    // The stored sweeps are used as they are.
    EXPECT_EQ(f.GetSweepCount(), 2);
    EXPECT_EQ(f.GetSweepRawStartTimeAt(1), rec.startTime + 2000);
    EXPECT_EQ(f.GetStopTime()->GetTimeStamp(), rec.startTime + 3000);
}

TEST_F(IndexTest, ADamagedEmbeddedIndexIsDiscardedAndRebuilt)
{
    using Damage = void (*)(kvdtest::IndexDesc&);
    const Damage damages[] = {
        [](kvdtest::IndexDesc& i) { i.headerId = "IDX2KVX "; },
        [](kvdtest::IndexDesc& i) { i.itemsSize = 16 * i.items.size() + 8; },
        [](kvdtest::IndexDesc& i) { i.itemCount = static_cast<uint32_t>(i.items.size() + 1); },
        [](kvdtest::IndexDesc& i) {
            i.itemCount = 0xFFFFFFF0u;
            i.itemsSize = 16ULL * 0xFFFFFFF0u;
        },
        [](kvdtest::IndexDesc& i) { std::swap(i.items[0].first, i.items[1].first); },
        [](kvdtest::IndexDesc& i) { std::swap(i.items[0].second, i.items[1].second); },
        [](kvdtest::IndexDesc& i) { i.items.back().first += 1; },         // does not point at its chunk
        [](kvdtest::IndexDesc& i) { i.items.back().second += 1000000; },  // beyond the file
        [](kvdtest::IndexDesc& i) {
            i.sweeps = {{10, 5}};
        },  // ends before it starts
        [](kvdtest::IndexDesc& i) {
            i.sweeps = {{10, 20}, {15, 30}};
        },  // starts before the previous end
        [](kvdtest::IndexDesc& i) { i.sweepsSize = 8; },
    };
    for (std::size_t d = 0; d < std::size(damages); ++d) {
        RecordingDesc rec = Recording();
        kvdtest::AttachIndex(rec);
        damages[d](*rec.index);
        CKVXAStreamFile f;
        ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK) << d;
        EXPECT_EQ(f.GetWithIndex(), 0) << d;
        EXPECT_FALSE(f.GetIndex().HasIndexes()) << d;
        EXPECT_FALSE(f.GetIndex().HasSweeps()) << d;
        EXPECT_EQ(f.GetSweepCount(), 1) << d;
        EXPECT_TRUE(f.GetIndex().HasIndexes()) << d;
    }
}

TEST_F(IndexTest, GeneratedItemsAreSpacedByFileDistance)
{
    const RecordingDesc rec = Recording();
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(rec).c_str()), OK);
    CMIndex1 index;
    ASSERT_TRUE(f.GenerateIndex(index));
    ASSERT_TRUE(index.HasIndexes());
    // The first item is the lowest-positioned first chunk.
    EXPECT_EQ(index.GetAt(0)->GetPosition(), rec.FirstChunkPosition());
    EXPECT_EQ(index.GetAt(0)->GetTime(), rec.startTime);
    for (unsigned i = 1; i < index.GetItemCount(); ++i) {
        const uint64_t gap = index.GetAt(i)->GetPosition() - index.GetAt(i - 1)->GetPosition();
        EXPECT_GT(gap, 250000u);
        EXPECT_LT(gap, 250000u + 3 * 4032u);
    }
    EXPECT_TRUE(index.CheckIndex(f.GetFilePointer()));
    // The index finds chunks by time like a walk from the first chunk.
    f.GetIndex() = index;
    CKVXATimeStamp t;
    t.SetTimeStamp(rec.startTime + 2000000000ULL);
    std::unique_ptr<CKVXAChunk> chunk(f.GetStream(1)->GetChunkNextTo(&t));
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->GetFrom(), rec.startTime + 2000000000ULL);
}

TEST_F(IndexTest, WritesAndReadsItsThreeChunks)
{
    CMIndex1 index;
    index.Add(100, 1000);
    index.Add(200, 2000);
    index.SetSweeps({100, 500}, {300, 900});
    const std::string path = m_dir.Path("idx");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(index.WriteHeaders(f, std::string(300, 'p').c_str(), 4));
    ASSERT_TRUE(index.WriteItems(f));
    std::fclose(f);

    CMIndex1 read;
    f = std::fopen(path.c_str(), "rb");
    ASSERT_TRUE(read.ReadHeaders(f));
    ASSERT_TRUE(read.ReadItems(f));
    std::fclose(f);
    EXPECT_EQ(std::string(read.GetPath()), std::string(257, 'p'));
    EXPECT_EQ(read.GetStreamCount(), 4u);
    EXPECT_EQ(read.GetFirstItemTime(), 100u);
    EXPECT_EQ(read.GetLastItemTime(), 200u);
    EXPECT_EQ(read.GetFirstSweepStart(), 100u);
    EXPECT_EQ(read.GetLastSweepEnd(), 900u);
    ASSERT_EQ(read.GetItemCount(), 2u);
    EXPECT_EQ(read.GetAt(1)->GetPosition(), 2000u);
    EXPECT_EQ(*read.GetSweepEnds(), (std::vector<uint64_t>{300, 900}));
    EXPECT_EQ(read.FindItemAtOrBefore(50), 0u);
    EXPECT_EQ(read.FindItemAtOrBefore(150), 0u);
    EXPECT_EQ(read.FindItemAtOrBefore(900), 1u);

    // Copies are deep.
    CMIndex1 copy(read);
    read.Destroy();
    EXPECT_FALSE(read.HasSweeps());
    EXPECT_EQ(copy.GetSweepCount(), 2u);
    EXPECT_EQ(copy.GetItemCount(), 2u);
}

TEST_F(IndexTest, TheSidecarFileIsWrittenWhenBuiltAndReadLater)
{
    const RecordingDesc rec = Recording();
    const std::string path = Write(rec);
    const std::string dir = m_dir.Path("side") + "/";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    {
        CKVXAStreamFile f;
        ASSERT_EQ(f.OpenFile(path.c_str()), OK);
        f.SetTempDir(dir.c_str());
        CMIndex1 none;
        EXPECT_FALSE(f.ReadIndexFile(none));
        EXPECT_EQ(f.GetSweepCount(), 1);
        EXPECT_EQ(f.SidecarPath(), dir + "kvxidx" + std::to_string(rec.startPressed));
    }
    CKVXAStreamFile g;
    ASSERT_EQ(g.OpenFile(path.c_str()), OK);
    g.SetTempDir(dir.c_str());
    CMIndex1 index;
    ASSERT_TRUE(g.ReadIndexFile(index));
    EXPECT_TRUE(index.HasIndexes());
    EXPECT_EQ(index.GetSweepCount(), 1u);
    EXPECT_STREQ(index.GetPath(), path.c_str());

    // A sidecar of a recording with other streams is not taken.
    RecordingDesc other = Recording();
    other.streams.pop_back();
    other.chunks.clear();
    CKVXAStreamFile h;
    ASSERT_EQ(h.OpenFile(Write(other).c_str()), OK);
    h.SetTempDir(dir.c_str());
    CMIndex1 foreign;
    EXPECT_FALSE(h.ReadIndexFile(foreign));
    EXPECT_FALSE(foreign.HasIndexes());

    // A name that does not fit is treated as no sidecar at all.
    h.SetTempDir((std::string(300, 'd') + "/").c_str());
    EXPECT_EQ(h.SidecarPath(), "");
}

int g_reports = 0;
int g_lastPercent = -1;
int CountReports(const char* text, int percent)
{
    EXPECT_STREQ(text, "Generating index");
    EXPECT_GE(percent, g_lastPercent);
    g_lastPercent = percent;
    ++g_reports;
    return 0;
}
int Cancel(const char*, int) { return 1; }

TEST_F(IndexTest, GenerationReportsProgressAndCanBeCancelled)
{
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(Recording()).c_str()), OK);
    f.SetProgressCallback(&CountReports);
    CMIndex1 index;
    ASSERT_TRUE(f.GenerateIndex(index));
    EXPECT_GT(g_reports, 1);
    EXPECT_EQ(g_lastPercent, 100);

    f.SetProgressCallback(&Cancel);
    CMIndex1 cancelled;
    EXPECT_FALSE(f.GenerateIndex(cancelled));
    EXPECT_FALSE(cancelled.HasIndexes());
    EXPECT_EQ(cancelled.GetSweepStarts(), nullptr);
}

TEST_F(IndexTest, DiscardingTheTimeIndexKeepsTheSweeps)
{
    CKVXAStreamFile f;
    ASSERT_EQ(f.OpenFile(Write(Recording()).c_str()), OK);
    f.SetDiscardTimeIndex(true);
    CMIndex1 index;
    ASSERT_TRUE(f.GenerateIndex(index));
    EXPECT_FALSE(index.HasIndexes());
    EXPECT_EQ(index.GetSweepCount(), 1u);
}

}  // namespace
