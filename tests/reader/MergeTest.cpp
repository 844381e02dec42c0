#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "include/nsAPItypes.h"
#include "layout/KVLayout.h"
#include "streams/KVXAChunk.h"
#include "reader/KVXAStreamFile.h"
#include "settings/MGrid9StimulatorProperty.h"
#include "streams/KVXAEvent.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/FolderNames.h"
#include "tests/support/LayoutChunkBuilder.h"
#include "tests/support/RecordingBuilder.h"
#include "tests/support/StimulatorChunkBuilder.h"

namespace {

using kvdtest::RecordingDesc;

constexpr uint64_t kSecond = 1000000000ULL;
constexpr uint64_t kMs = 1000000ULL;
constexpr uint64_t kNsPerSample = 40000;  // 25 kHz
constexpr uint32_t kSamplesPerChunk = 320;

// A continuous recording at 25 kHz of two electrodes (stream 0) and a trigger stream (stream 1), starting
// `offset` after the default start, `samples` long. Every electrode chunk is followed by a trigger chunk
// over the same span with one event 1 ms after its start. The stop time is the end of the data.
RecordingDesc Continuous(uint64_t offset, uint64_t samples, int electrodes = 2)
{
    RecordingDesc rec;
    rec.startTime += offset;
    rec.startPressed = rec.startTime;
    rec.streams = {kvdtest::ElectrodeStream(electrodes), kvdtest::TriggerStream()};
    kvdtest::AddSampleChunks(rec, {0}, {{rec.startTime, samples}}, kSamplesPerChunk);
    std::vector<kvdtest::ChunkDesc> chunks;
    for (const kvdtest::ChunkDesc& c : rec.chunks) {
        chunks.push_back(c);
        kvdtest::ChunkDesc t;
        t.id = "trig0001";
        t.from = c.from;
        t.to = c.to;
        t.data = kvdtest::EncodeTriggers({{c.from + kMs, 7, 1, 2, 3}}, 8);
        chunks.push_back(t);
    }
    rec.chunks = chunks;
    rec.chunkCount = chunks.size();
    rec.stopTime = rec.startTime + samples * kNsPerSample;
    return rec;
}

// A triggered recording: sweeps of one chunk (320 samples) at 1 s, 3 s ... after its start, each with a
// trigger chunk.
RecordingDesc Triggered(uint64_t offset, int sweeps)
{
    RecordingDesc rec;
    rec.startTime += offset;
    rec.startPressed = rec.startTime;
    rec.recordingMode = 1;
    rec.startTriggerBufferId = "trig0001";
    rec.postTrigger = 12.8f;
    rec.streams = {kvdtest::TriggerStream(), kvdtest::ElectrodeStream(2)};
    std::vector<kvdtest::RunDesc> runs;
    for (int k = 0; k < sweeps; ++k) {
        const uint64_t t = rec.startTime + (1 + 2 * k) * kSecond;
        runs.push_back({t, kSamplesPerChunk});
        kvdtest::ChunkDesc c;
        c.id = "trig0001";
        c.from = t;
        c.to = t + kSamplesPerChunk * kNsPerSample;
        c.data = kvdtest::EncodeTriggers({{t, 9, 0, 0, 0}}, 8);
        rec.chunks.push_back(c);
    }
    kvdtest::AddSampleChunks(rec, {1}, runs, kSamplesPerChunk);
    rec.stopTime = runs.back().from + kSamplesPerChunk * kNsPerSample;
    return rec;
}

struct ChunkInfo {
    std::string id;
    uint64_t from, to;
    std::vector<uint8_t> data;
};

// Every data chunk of a recording through the reader-wide walk.
std::vector<ChunkInfo> ChunksOf(CKVXAStreamFile& file)
{
    std::vector<ChunkInfo> out;
    std::unique_ptr<CKVXAChunk> chunk(file.GetFirstChunk());
    while (chunk) {
        ChunkInfo info{chunk->GetChunkID(), chunk->GetFrom(), chunk->GetTo(), {}};
        info.data.resize(chunk->GetDataSize());
        if (!info.data.empty()) {
            EXPECT_EQ(chunk->ReadData(static_cast<void*>(info.data.data())), chunk->GetSize());
        }
        out.push_back(std::move(info));
        CKVXAChunk* next = file.GetNextChunk(chunk.get());
        if (!next) break;
        chunk.release();
        chunk.reset(next);
    }
    return out;
}

std::vector<uint8_t> FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string MergeError()
{
    char text[256];
    CKVXAStreamFile::GetLastMergeError(text, sizeof text);
    return text;
}

// Sources written to a folder and opened, and a merge of them.
class Merge {
public:
    Merge(const std::vector<RecordingDesc>& recs)
    {
        for (std::size_t i = 0; i < recs.size(); ++i) {
            paths.push_back(recs[i].WriteTo(dir.Path("in" + std::to_string(i) + ".kvd")));
            files.push_back(std::make_unique<CKVXAStreamFile>());
            EXPECT_EQ(files.back()->OpenFile(paths.back().c_str()), OK) << paths.back();
        }
    }
    // Merges the sources in the order given by `order` (default: as written) into `out`.
    int Run(CKVXAStreamFile::ProgressCallback callback = nullptr, std::vector<std::size_t> order = {})
    {
        if (order.empty())
            for (std::size_t i = 0; i < files.size(); ++i) order.push_back(i);
        array.clear();
        for (std::size_t i : order) array.push_back(files[i].get());
        return writer.CopyMerge(array.data(), static_cast<int>(array.size()), out.c_str(), callback);
    }
    // The merged file, opened.
    std::unique_ptr<CKVXAStreamFile> Merged() const
    {
        auto merged = std::make_unique<CKVXAStreamFile>();
        EXPECT_EQ(merged->OpenFile(out.c_str()), OK);
        return merged;
    }

    kvdtest::TempDir dir;
    std::vector<std::string> paths;
    std::vector<std::unique_ptr<CKVXAStreamFile>> files;
    std::vector<CKVXAStreamFile*> array;
    std::string out = dir.Path("merged.kvd");
    CKVXAStreamFile writer;
};

// ---- Continuous and triggered recordings -----------------------------------------------------------------

TEST(Merge, ContinuousRecordingsFollowEachOtherWithoutAGap)
{
    const std::vector<RecordingDesc> all = {Continuous(0, 3200), Continuous(10 * kSecond, 1600),
                                            Continuous(25 * kSecond, 1000)};
    for (std::size_t count : {2, 3}) {
        SCOPED_TRACE(count);
        Merge m(std::vector<RecordingDesc>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count)));
        ASSERT_EQ(m.Run(), 0) << MergeError();
        EXPECT_EQ(MergeError(), "");
        std::unique_ptr<CKVXAStreamFile> merged = m.Merged();

        // Each source's chunks follow, shifted so that each starts at the previous one's stop time.
        std::vector<ChunkInfo> expected;
        uint64_t stop = all[0].startTime;
        uint64_t samples = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const uint64_t shift = stop - all[i].startTime;
            for (ChunkInfo c : ChunksOf(*m.files[i])) {
                c.from += shift;
                c.to += shift;
                expected.push_back(c);
            }
            stop = all[i].stopTime + shift;
            samples += (all[i].stopTime - all[i].startTime) / kNsPerSample;
        }
        const std::vector<ChunkInfo> chunks = ChunksOf(*merged);
        ASSERT_EQ(chunks.size(), expected.size());
        for (std::size_t k = 0; k < chunks.size(); ++k) {
            EXPECT_EQ(chunks[k].id, expected[k].id) << k;
            EXPECT_EQ(chunks[k].from, expected[k].from) << k;
            EXPECT_EQ(chunks[k].to, expected[k].to) << k;
            if (chunks[k].id == "elec0001") {
                EXPECT_EQ(chunks[k].data, expected[k].data) << k;
            }
        }
        EXPECT_EQ(chunks[20].from, all[0].stopTime);  // the second recording's first chunk

        const KVXHDR& hdr = *merged->GetKVXHDR();
        EXPECT_EQ(merged->GetHeaderVersion(), 11);
        EXPECT_EQ(hdr.U64(KVXHDR::kStartTime), all[0].startTime);
        EXPECT_EQ(hdr.U64(KVXHDR::kStopTime), stop);
        EXPECT_EQ(hdr.U64(KVXHDR::kChunkCount), chunks.size());
        EXPECT_EQ(merged->GetWithIndex(), 1);  // the embedded index was read and checked
        EXPECT_TRUE(merged->GetIndex().HasIndexes());
        EXPECT_EQ(merged->GetSweepCount(), 1);

        // Samples join up, and every trigger event moved with its chunk.
        CKVXAStream* electrodes = merged->GetStream(0);
        ASSERT_EQ(electrodes->GetRawDataBufferSizeOfChannel(), static_cast<int32_t>(samples));
        std::vector<int16_t> words(samples);
        ASSERT_EQ(electrodes->GetRawDataOfChannel(words.data(), 1), static_cast<int32_t>(samples));
        uint64_t k = 0;
        for (std::size_t i = 0; i < count; ++i)
            for (uint64_t s = 0; s < (all[i].stopTime - all[i].startTime) / kNsPerSample; ++s, ++k)
                ASSERT_EQ(static_cast<uint16_t>(words[k]), kvdtest::SampleWord(0, 1, s)) << k;
        std::unique_ptr<CKVXAEvent> event(merged->GetStream(1)->GetFirstEvent());
        std::size_t events = 0;
        for (std::size_t c = 1; c < chunks.size(); c += 2, ++events) {
            ASSERT_TRUE(event);
            EXPECT_EQ(event->Get_TimeStamp()->GetTimeStamp(), chunks[c].from + kMs) << c;
            if (!event->Next()) event.reset();
        }
        EXPECT_FALSE(event);
        EXPECT_EQ(events, chunks.size() / 2);
    }
}

TEST(Merge, TriggeredRecordingsKeepTheirTimes)
{
    Merge m({Triggered(0, 2), Triggered(100 * kSecond, 3)});
    ASSERT_EQ(m.Run(), 0) << MergeError();
    std::unique_ptr<CKVXAStreamFile> merged = m.Merged();
    std::vector<ChunkInfo> expected = ChunksOf(*m.files[0]);
    for (const ChunkInfo& c : ChunksOf(*m.files[1])) expected.push_back(c);
    const std::vector<ChunkInfo> chunks = ChunksOf(*merged);
    ASSERT_EQ(chunks.size(), expected.size());
    for (std::size_t k = 0; k < chunks.size(); ++k) {
        EXPECT_EQ(chunks[k].id, expected[k].id);
        EXPECT_EQ(chunks[k].from, expected[k].from);
        EXPECT_EQ(chunks[k].to, expected[k].to);
        EXPECT_EQ(chunks[k].data, expected[k].data);
    }
    EXPECT_EQ(merged->GetRecordingMode(), 1);
    EXPECT_EQ(merged->GetStartTriggerStreamID(), 0);
    EXPECT_EQ(merged->GetKVXHDR()->U64(KVXHDR::kStopTime), Triggered(100 * kSecond, 3).stopTime);
    EXPECT_EQ(merged->GetSweepCount(), 5);
}

TEST(Merge, RecordingsGivenInReverseAreMergedInStartOrder)
{
    Merge m({Continuous(0, 640), Continuous(5 * kSecond, 960)});
    ASSERT_EQ(m.Run(nullptr, {1, 0}), 0) << MergeError();
    EXPECT_EQ(m.array[0], m.files[0].get());  // the array is reordered
    std::unique_ptr<CKVXAStreamFile> merged = m.Merged();
    EXPECT_EQ(merged->GetKVXHDR()->U64(KVXHDR::kStartTime), m.files[0]->GetKVXHDR()->U64(KVXHDR::kStartTime));
    const std::vector<ChunkInfo> chunks = ChunksOf(*merged);
    ASSERT_EQ(chunks.size(), 10u);
    EXPECT_EQ(chunks[0].from, m.files[0]->GetKVXHDR()->U64(KVXHDR::kStartTime));
    EXPECT_EQ(chunks[4].from, m.files[0]->GetKVXHDR()->U64(KVXHDR::kStopTime));
    EXPECT_EQ(merged->GetKVXHDR()->U64(KVXHDR::kStopTime),
              m.files[0]->GetKVXHDR()->U64(KVXHDR::kStopTime) + 960 * kNsPerSample);
}

TEST(Merge, RecordingsOfOldWritersMergeIntoTheCurrentForm)
{
    // Header version 4: streams name their chunks by stream ID ("00001raw", "00002trg"); the merged file is
    // of version 11, where the chunks carry the buffer IDs that the reader gave the streams.
    std::vector<RecordingDesc> recs = {Continuous(0, 1600), Continuous(5 * kSecond, 1600)};
    for (RecordingDesc& rec : recs) {
        rec.version = 4;
        for (kvdtest::ChunkDesc& c : rec.chunks) c.id = c.id == "elec0001" ? "00001raw" : "00002TRG";
    }
    Merge m(recs);
    ASSERT_EQ(m.Run(), 0) << MergeError();
    std::unique_ptr<CKVXAStreamFile> merged = m.Merged();
    EXPECT_EQ(merged->GetHeaderVersion(), 11);
    EXPECT_STREQ(merged->GetStream(0)->GetDataChunkID(), "elec0001");
    EXPECT_STREQ(merged->GetStream(1)->GetDataChunkID(), "trig0001");
    const std::vector<ChunkInfo> chunks = ChunksOf(*merged);
    ASSERT_EQ(chunks.size(), 20u);
    EXPECT_EQ(chunks[0].id, "elec0001");
    EXPECT_EQ(chunks[1].id, "trig0001");
    EXPECT_EQ(merged->GetStream(0)->GetRawDataBufferSizeOfChannel(), 3200);
    // The second recording's trigger events moved with their chunks.
    std::unique_ptr<CKVXAEvent> event(merged->GetStream(1)->GetFirstEvent());
    for (int k = 0; k < 5 && event; ++k) ASSERT_TRUE(event->Next());
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Get_TimeStamp()->GetTimeStamp(), recs[0].stopTime + kMs);
}

TEST(Merge, ChunksAboveTheCloneLimitAreCopiedWhole)
{
    // 128 channels and 3200 samples a chunk: 819,200 bytes of samples.
    RecordingDesc a = Continuous(0, 6400, 128), b = Continuous(10 * kSecond, 3200, 128);
    for (RecordingDesc* rec : {&a, &b}) {
        rec->chunks.clear();
        kvdtest::AddSampleChunks(*rec, {0}, {{rec->startTime, (rec->stopTime - rec->startTime) / kNsPerSample}}, 3200);
    }
    Merge m({a, b});
    ASSERT_EQ(m.Run(), 0) << MergeError();
    std::unique_ptr<CKVXAStreamFile> merged = m.Merged();
    const std::vector<ChunkInfo> chunks = ChunksOf(*merged);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_GT(chunks[0].data.size(), CKVXAChunk::kMaxCloneSize);
    EXPECT_EQ(chunks[0].data, ChunksOf(*m.files[0])[0].data);
    EXPECT_EQ(chunks[2].data, ChunksOf(*m.files[1])[0].data);
    EXPECT_EQ(chunks[2].from, a.stopTime);
}

TEST(Merge, StimulatorSettingsAndStoredLayoutAreCarriedOver)
{
    RecordingDesc rec = Continuous(0, 640);
    rec.sourceType = 3;
    rec.layoutChunk = kvdtest::GridLayout(2, 0).Encode();
    rec.stimulatorFlag = 1;
    kvdtest::StimulatorChunkDesc stim;
    stim.entries = {{"first", {{"g1", {{1, 2}, {3, 4}}}, {"g2", {{5, 6}}}}}, {"second", {}}};
    rec.stimulatorChunk = stim.Encode();
    RecordingDesc later = Continuous(5 * kSecond, 640);
    later.sourceType = 3;
    later.layoutChunk = rec.layoutChunk;
    later.stimulatorFlag = 1;
    later.stimulatorChunk = rec.stimulatorChunk;
    Merge m({rec, later});
    ASSERT_EQ(m.Run(), 0) << MergeError();
    std::unique_ptr<CKVXAStreamFile> merged = m.Merged();

    const CMGrid9StimulatorProperty& s = *m.files[0]->GetStimulatorProperty();
    const CMGrid9StimulatorProperty& t = *merged->GetStimulatorProperty();
    EXPECT_EQ(t.EncodeProperty(), s.EncodeProperty());
    EXPECT_EQ(t.GetListModeEntries().size(), 2u);
    EXPECT_EQ(t.GetAsciiPathFileName(), "stim/list.asc");
    EXPECT_EQ(t.GetTriggerSource(2), 3);

    const CKVLayout& a = *m.files[0]->GetLayout();
    const CKVLayout& b = *merged->GetLayout();
    ASSERT_EQ(b.GetCount(), a.GetCount());
    EXPECT_EQ(b.GetSourceType(), 3);
    EXPECT_EQ(b.GetElectrodeChannels(), a.GetElectrodeChannels());
    for (int i = 0; i < a.GetCount(); ++i)
        EXPECT_EQ(
            std::memcmp(b.GetChannelLayout(i).Image(), a.GetChannelLayout(i).Image(), CKVLayout::CChannelLayout::kSize),
            0)
            << i;
    EXPECT_EQ(ChunksOf(*merged).size(), 8u);  // the data still follow the longer header section
}

// The stimulator chunk written by the merge reads back as every version of it read.
TEST(Merge, StimulatorChunkRoundTripsFromEveryVersion)
{
    for (int32_t version : {1, 2, 4, 5, 6, 7}) {
        SCOPED_TRACE(version);
        kvdtest::StimulatorChunkDesc desc;
        desc.version = version;
        desc.stimuli[1].triggerSource = 5;
        desc.entries = {{"list", {{"grp", {{1, 9}, {2, 8}}}, {"long name", {{7, 7}}}}}};
        const std::vector<uint8_t> bytes = desc.Encode();
        CMGrid9StimulatorProperty read;
        std::size_t used = 0;
        ASSERT_TRUE(read.ReadProperty(bytes.data(), bytes.size(), used));
        const std::vector<uint8_t> written = read.EncodeProperty();
        CMGrid9StimulatorProperty again;
        ASSERT_TRUE(again.ReadProperty(written.data(), written.size(), used));
        EXPECT_EQ(used, written.size());
        EXPECT_EQ(again.EncodeProperty(), written);
        EXPECT_EQ(again.GetListModeEntries(), read.GetListModeEntries());
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(again.GetStimulusTrigger(i), read.GetStimulusTrigger(i));
            EXPECT_EQ(again.GetRepeatMode(i), read.GetRepeatMode(i));
            EXPECT_EQ(again.GetA1(i), read.GetA1(i));
        }
        EXPECT_EQ(again.GetDedicatedStimulationElectrodes(), read.GetDedicatedStimulationElectrodes());
        EXPECT_EQ(again.GetUseAsciiFile(), read.GetUseAsciiFile());
        EXPECT_EQ(again.GetDacResolution(), read.GetDacResolution());
    }
}

// ---- Refusals ----------------------------------------------------------------------------------------

TEST(Merge, IncompatibleRecordingsAreRefusedWithTheirReason)
{
    struct Case {
        const char* message;
        std::function<void(RecordingDesc&)> change;
    };
    const Case cases[] = {
        {"Files were recorded with different Vantrel versions.", [](RecordingDesc& r) { r.softwareWord1 += 1; }},
        {"Files were recorded with different Vantrel versions.", [](RecordingDesc& r) { r.softwareWord2 += 1; }},
        {"Different source types.", [](RecordingDesc& r) { r.sourceType = 0; }},
        {"Different recording modes.",
         [](RecordingDesc& r) {
             r.recordingMode = 1;
             r.startTriggerBufferId = "trig0001";
         }},
        {"Different sample rate.", [](RecordingDesc& r) { r.millisamplesPerSecond = 10000000; }},
        {"Different stream count in files.", [](RecordingDesc& r) { r.streams.push_back(kvdtest::DigitalStream()); }},
        {"Different stream types in files.", [](RecordingDesc& r) { r.streams[1].bufferId = "trig0002"; }},
        {"Different channel count in one stream.",
         [](RecordingDesc& r) { r.streams[0].channels.push_back(r.streams[0].channels[0]); }},
        {"Different sample rate in one stream.",
         [](RecordingDesc& r) { r.streams[1].millisamplesPerSecond = 1000000; }},
        {"Different recorded channels in one stream.", [](RecordingDesc& r) { r.streams[0].channels[1].hwId = 9; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        RecordingDesc other = Continuous(5 * kSecond, 640);
        c.change(other);
        Merge m({Continuous(0, 640), other});
        EXPECT_EQ(m.Run(), 1);
        EXPECT_EQ(MergeError(), c.message);
        EXPECT_EQ(CKVXAStreamFile::CheckIdentFormat(m.files[0].get(), m.files[1].get()), 0);
        EXPECT_EQ(kvdtest::FolderNames(m.dir.Path()), (std::vector<std::string>{"in0.kvd", "in1.kvd"}));
    }
    // Compatible recordings clear the message.
    Merge m({Continuous(0, 640), Continuous(5 * kSecond, 640)});
    EXPECT_NE(CKVXAStreamFile::CheckIdentFormat(m.files[0].get(), m.files[1].get()), 0);
    EXPECT_EQ(MergeError(), "");
}

TEST(Merge, AnOutputThatNamesASourceIsRefusedBeforeWriting)
{
    Merge m({Continuous(0, 640), Continuous(5 * kSecond, 640)});
    const std::vector<uint8_t> before = FileBytes(m.paths[1]);
    ASSERT_EQ(symlink(m.paths[1].c_str(), m.dir.Path("link.kvd").c_str()), 0);
    ASSERT_EQ(link(m.paths[1].c_str(), m.dir.Path("hard.kvd").c_str()), 0);
    for (const std::string& out :
         {m.paths[1], m.dir.Path("./in1.kvd"), m.dir.Path("link.kvd"), m.dir.Path("hard.kvd")}) {
        SCOPED_TRACE(out);
        m.out = out;
        EXPECT_EQ(m.Run(), 1);
        EXPECT_EQ(MergeError(), "The output file is one of the input files.");
        EXPECT_EQ(FileBytes(m.paths[1]), before);
    }
    EXPECT_EQ(kvdtest::FolderNames(m.dir.Path()).size(), 4u);  // no temporary file either
}

TEST(Merge, UnopenedSourcesAndUnwritableOutputsAreRefused)
{
    Merge m({Continuous(0, 640)});
    CKVXAStreamFile closed;
    CKVXAStreamFile* files[] = {m.files[0].get(), &closed};
    EXPECT_EQ(m.writer.CopyMerge(files, 2, m.out.c_str(), nullptr), 1);
    EXPECT_EQ(MergeError(), "An input file is not open.");
    EXPECT_EQ(m.writer.CopyMerge(files, 0, m.out.c_str(), nullptr), 0);  // nothing to merge
    EXPECT_EQ(MergeError(), "");
    for (const std::string& out : {m.dir.Path("missing/merged.kvd"), m.dir.Path()}) {
        EXPECT_EQ(m.writer.CopyMerge(files, 1, out.c_str(), nullptr), 1);
        EXPECT_EQ(MergeError(), "Error opening output file.");
    }
    EXPECT_EQ(kvdtest::FolderNames(m.dir.Path()), std::vector<std::string>{"in0.kvd"});
}

// ---- Cancellation and failures leave no output ------------------------------------------------------------

std::vector<std::pair<std::string, int>> g_reports;
int g_cancelAt = -1;

int Record(const char* text, int percent)
{
    g_reports.emplace_back(text, percent);
    return static_cast<int>(g_reports.size()) == g_cancelAt ? 1 : 0;
}

TEST(Merge, CancellingAtAnyPointLeavesNoOutput)
{
    const std::vector<RecordingDesc> recs = {Continuous(0, 3200), Continuous(10 * kSecond, 3200)};
    // First learn how many reports a whole merge makes, and where each phase begins.
    g_reports.clear();
    g_cancelAt = -1;
    {
        Merge m(recs);
        ASSERT_EQ(m.Run(Record), 0) << MergeError();
    }
    const std::size_t total = g_reports.size();
    std::size_t secondFile = 0, index = 0;
    for (std::size_t k = 0; k < total; ++k) {
        if (!secondFile && g_reports[k].first.find("in1.kvd") != std::string::npos) secondFile = k + 1;
        if (!index && g_reports[k].first == "Generating index") index = k + 1;
    }
    ASSERT_GT(secondFile, 1u);
    ASSERT_GT(index, secondFile);
    for (std::size_t at : {std::size_t{1}, secondFile / 2, secondFile, index, total}) {
        SCOPED_TRACE(at);
        Merge m(recs);
        const std::vector<uint8_t> before = FileBytes(m.paths[0]);
        g_reports.clear();
        g_cancelAt = static_cast<int>(at);
        EXPECT_EQ(m.Run(Record), 1);
        EXPECT_EQ(MergeError(), "Merging canceled.");
        EXPECT_EQ(g_reports.size(), at);
        EXPECT_EQ(kvdtest::FolderNames(m.dir.Path()), (std::vector<std::string>{"in0.kvd", "in1.kvd"}));
        EXPECT_EQ(FileBytes(m.paths[0]), before);
    }
    g_cancelAt = -1;
}

TEST(Merge, AFailedWriteLeavesNoOutputAndKeepsAnOldOne)
{
    Merge m({Continuous(0, 3200), Continuous(10 * kSecond, 3200)});
    kvdtest::WriteFile(m.out, {'o', 'l', 'd'});
    // The file size limit stands for a full disk: writes beyond it fail.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = m.Run();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(MergeError(), "Error writing output file.");
    EXPECT_EQ(FileBytes(m.out), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(kvdtest::FolderNames(m.dir.Path()), (std::vector<std::string>{"in0.kvd", "in1.kvd", "merged.kvd"}));
    // With room again, the merge replaces the old file.
    EXPECT_EQ(m.Run(), 0) << MergeError();
    EXPECT_GT(FileBytes(m.out).size(), 20000u);
}

// ---- Progress -------------------------------------------------------------------------------------------

TEST(Merge, ProgressRisesToAHundredWhetherOrNotTheHeaderCountsChunks)
{
    for (uint64_t counted : {uint64_t{0}, uint64_t{20}, uint64_t{7}}) {
        SCOPED_TRACE(counted);
        RecordingDesc a = Continuous(0, 3200), b = Continuous(10 * kSecond, 3200);
        a.chunkCount = b.chunkCount = counted;
        Merge m({a, b});
        g_reports.clear();
        g_cancelAt = -1;
        ASSERT_EQ(m.Run(Record), 0) << MergeError();
        std::string text;
        int last = -1;
        for (const auto& [t, percent] : g_reports) {
            if (t != text) {
                if (!text.empty()) {
                    EXPECT_EQ(last, 100) << text;
                }
                text = t;
                last = -1;
            }
            EXPECT_GE(percent, last) << t;
            EXPECT_LE(percent, 100) << t;
            last = percent;
        }
        EXPECT_EQ(text, "Generating index");
        EXPECT_EQ(g_reports.front().first, "Merging file: " + m.paths[0]);
        if (counted == 20) {
            EXPECT_EQ(g_reports.front().second, 5);  // one chunk of 20
        }
    }
}

int g_calls = 0;
int Count(const char*, int)
{
    ++g_calls;
    return 0;
}

TEST(Merge, TheSameReportWithinAFifthOfASecondReachesTheCallbackOnce)
{
    CKVXAStreamFile file;
    file.SetProgressCallback(Count);
    g_calls = 0;
    file.HandleCallback("Merging file: a", 10);
    file.HandleCallback("Merging file: a", 10);
    EXPECT_EQ(g_calls, 1);
    file.HandleCallback("Merging file: a", 11);
    file.HandleCallback("Merging file: b", 11);
    EXPECT_EQ(g_calls, 3);
    file.SetProgressCallback(nullptr);
    EXPECT_EQ(file.HandleCallback("x", 1), 0);
}

TEST(Merge, TheLastErrorIsCopiedUpToTheGivenSize)
{
    Merge m({Continuous(0, 640)});
    CKVXAStreamFile closed;
    CKVXAStreamFile* files[] = {&closed};
    ASSERT_EQ(m.writer.CopyMerge(files, 1, m.out.c_str(), nullptr), 1);
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CKVXAStreamFile::GetLastMergeError(buffer, 5), buffer);
    EXPECT_EQ(std::string(buffer, 8), "An inxxx");  // no terminator when the text is longer
    char whole[64];
    EXPECT_STREQ(CKVXAStreamFile::GetLastMergeError(whole, sizeof whole), "An input file is not open.");
}

// ---- The merged file through the Neuroshare functions ---------------------------------------------------

TEST(Merge, TheMergedFileReadsAsTheSourcesEntitiesJoined)
{
    const RecordingDesc a = Continuous(0, 3200), b = Continuous(10 * kSecond, 1600);
    Merge m({a, b});
    ASSERT_EQ(m.Run(), 0) << MergeError();
    uint32_t ha = 0, hb = 0, hm = 0;
    ASSERT_EQ(ns_OpenFile(m.paths[0].data(), &ha), ns_OK);
    ASSERT_EQ(ns_OpenFile(m.paths[1].data(), &hb), ns_OK);
    ASSERT_EQ(ns_OpenFile(m.out.data(), &hm), ns_OK);
    ns_FILEINFO fa, fb, fm;
    ASSERT_EQ(ns_GetFileInfo(ha, &fa, sizeof fa), ns_OK);
    ASSERT_EQ(ns_GetFileInfo(hb, &fb, sizeof fb), ns_OK);
    ASSERT_EQ(ns_GetFileInfo(hm, &fm, sizeof fm), ns_OK);
    ASSERT_EQ(fm.dwEntityCount, fa.dwEntityCount);
    EXPECT_DOUBLE_EQ(fm.dTimeSpan, fa.dTimeSpan + fb.dTimeSpan);
    for (uint32_t id = 0; id < fm.dwEntityCount; ++id) {
        SCOPED_TRACE(id);
        ns_ENTITYINFO ea, eb, em;
        ASSERT_EQ(ns_GetEntityInfo(ha, id, &ea, sizeof ea), ns_OK);
        ASSERT_EQ(ns_GetEntityInfo(hb, id, &eb, sizeof eb), ns_OK);
        ASSERT_EQ(ns_GetEntityInfo(hm, id, &em, sizeof em), ns_OK);
        EXPECT_STREQ(em.szEntityLabel, ea.szEntityLabel);
        ASSERT_EQ(em.dwEntityType, ea.dwEntityType);
        ASSERT_EQ(em.dwItemCount, ea.dwItemCount + eb.dwItemCount);
        if (em.dwEntityType == ns_ENTITY_ANALOG) {
            std::vector<double> va(ea.dwItemCount), vb(eb.dwItemCount), vm(em.dwItemCount);
            uint32_t n = 0;
            ASSERT_EQ(ns_GetAnalogData(ha, id, 0, ea.dwItemCount, &n, va.data()), ns_OK);
            ASSERT_EQ(ns_GetAnalogData(hb, id, 0, eb.dwItemCount, &n, vb.data()), ns_OK);
            ASSERT_EQ(ns_GetAnalogData(hm, id, 0, em.dwItemCount, &n, vm.data()), ns_OK);
            va.insert(va.end(), vb.begin(), vb.end());
            EXPECT_EQ(vm, va);
        } else if (em.dwEntityType == ns_ENTITY_EVENT) {
            for (uint32_t k = 0; k < em.dwItemCount; ++k) {
                const bool first = k < ea.dwItemCount;
                double t = 0, tm = 0;
                ASSERT_EQ(ns_GetTimeByIndex(first ? ha : hb, id, first ? k : k - ea.dwItemCount, &t), ns_OK);
                ASSERT_EQ(ns_GetTimeByIndex(hm, id, k, &tm), ns_OK);
                EXPECT_NEAR(tm, first ? t : t + fa.dTimeSpan, 1e-9) << k;
            }
        }
    }
    ns_CloseFile(ha);
    ns_CloseFile(hb);
    ns_CloseFile(hm);
}

}  // namespace
