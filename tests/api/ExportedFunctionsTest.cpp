#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "include/nsAPItypes.h"
#include "tests/api/NeuroshareTestSupport.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::NsFile;
using kvdtest::RecordingDesc;

// A small continuous recording: two electrode channels and one digital channel, 100 ms at 10 kHz; the
// header announces the 1,000 samples a channel the chunks hold.
RecordingDesc SmallRecording()
{
    RecordingDesc rec;
    rec.streams = {kvdtest::ElectrodeStream(2), kvdtest::DigitalStream()};
    rec.millisamplesPerSecond = 10000000;
    for (auto& s : rec.streams) s.millisamplesPerSecond = rec.millisamplesPerSecond;
    rec.stopTime = rec.startTime + 100000000ULL;
    kvdtest::AddSampleChunks(rec, {0, 1}, {{rec.startTime, 1000}}, 320);
    return rec;
}

// The calling thread's last failure text, read through a large buffer.
std::string LastError()
{
    char text[1024];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(ns_GetLastErrorMsg(text, sizeof text), ns_OK);
    return text;
}

TEST(LibraryInfo, DescribesTheLibraryAndLeavesTheRestAlone)
{
    EXPECT_EQ(ns_GetLibraryInfo(nullptr, sizeof(ns_LIBRARYINFO)), ns_OK);
    ns_LIBRARYINFO info;
    std::memset(&info, 0xAA, sizeof info);
    EXPECT_EQ(ns_GetLibraryInfo(&info, sizeof info - 1), ns_LIBERROR);
    EXPECT_EQ(info.dwLibVersionMaj, 0xAAAAAAAAu);
    ASSERT_EQ(ns_GetLibraryInfo(&info, sizeof info), ns_OK);
    EXPECT_EQ(info.dwLibVersionMaj, 3u);
    EXPECT_EQ(info.dwLibVersionMin, 7u);
    EXPECT_EQ(info.dwAPIVersionMaj, 1u);
    EXPECT_EQ(info.dwAPIVersionMin, 3u);
    EXPECT_STREQ(info.szDescription, "neuroshare Library to import Korvex data files");
    EXPECT_EQ(static_cast<uint8_t>(info.szDescription[sizeof "neuroshare Library to import Korvex data files"]), 0xAA);
    EXPECT_STREQ(info.szCreator, "Korvex");
    EXPECT_EQ(info.dwTime_Year, 2012u);
    EXPECT_EQ(info.dwTime_Month, 12u);
    EXPECT_EQ(info.dwTime_Day, 18u);
    EXPECT_EQ(info.dwFlags, 0u);
    EXPECT_EQ(info.dwMaxFiles, 256u);
    EXPECT_EQ(info.dwFileDescCount, 1u);
    EXPECT_STREQ(info.FileDesc[0].szDescription, "KVX data files");
    EXPECT_STREQ(info.FileDesc[0].szExtension, "*.kvd");
    EXPECT_STREQ(info.FileDesc[0].szMacCodes, "");
    EXPECT_EQ(static_cast<uint8_t>(info.FileDesc[0].szMacCodes[1]), 0xAA);
    EXPECT_STREQ(info.FileDesc[0].szMagicCode, "KVXSTRM");
    EXPECT_EQ(static_cast<uint8_t>(info.FileDesc[1].szDescription[0]), 0xAA);
}

TEST(ResultCodes, ChecksComeInTheirOrder)
{
    ns_FILEINFO file;
    ns_ENTITYINFO entity;
    ns_EVENTINFO event;
    ns_ANALOGINFO analog;
    ns_SEGMENTINFO segment;
    ns_SEGSOURCEINFO source;
    ns_NEURALINFO neural;
    // Handle 0 and handles above 256 come first, whatever the size.
    for (uint32_t h : {0u, 257u, 0xFFFFFFFFu}) {
        EXPECT_EQ(ns_GetFileInfo(h, &file, 1), ns_BADFILE);
        EXPECT_EQ(ns_GetEntityInfo(h, 0, &entity, 1), ns_BADFILE);
        EXPECT_EQ(ns_GetEventInfo(h, 0, &event, 1), ns_BADFILE);
        EXPECT_EQ(ns_GetAnalogInfo(h, 0, &analog, 1), ns_BADFILE);
        EXPECT_EQ(ns_GetSegmentInfo(h, 0, &segment, 1), ns_BADFILE);
        EXPECT_EQ(ns_GetSegmentSourceInfo(h, 0, 0, &source, 1), ns_BADFILE);
        EXPECT_EQ(ns_GetNeuralInfo(h, 0, &neural, 1), ns_BADFILE);
        EXPECT_EQ(ns_CloseFile(h), ns_BADFILE);
    }
    // A valid handle number without a file: only the file information checks the file before the size.
    const uint32_t h = 200;
    EXPECT_EQ(ns_GetFileInfo(h, &file, 1), ns_BADFILE);
    EXPECT_EQ(ns_GetEntityInfo(h, 0, &entity, 1), ns_LIBERROR);
    EXPECT_EQ(ns_GetEventInfo(h, 0, &event, 1), ns_LIBERROR);
    EXPECT_EQ(ns_GetAnalogInfo(h, 0, &analog, 1), ns_LIBERROR);
    EXPECT_EQ(ns_GetSegmentInfo(h, 0, &segment, 1), ns_LIBERROR);
    EXPECT_EQ(ns_GetSegmentSourceInfo(h, 0, 0, &source, 1), ns_LIBERROR);
    EXPECT_EQ(ns_GetNeuralInfo(h, 0, &neural, 1), ns_LIBERROR);
    EXPECT_EQ(ns_GetEntityInfo(h, 0, &entity, sizeof entity), ns_BADFILE);
    EXPECT_EQ(ns_GetAnalogData(h, 0, 0, 0, nullptr, nullptr), ns_BADFILE);
    EXPECT_EQ(ns_GetEventData(h, 0, 0, nullptr, nullptr, 0, nullptr), ns_BADFILE);
    EXPECT_EQ(ns_GetSegmentData(h, 0, 0, nullptr, nullptr, 0, nullptr, nullptr), ns_BADFILE);
    EXPECT_EQ(ns_GetIndexByTime(h, 0, 0.0, 0, nullptr), ns_BADFILE);
    EXPECT_EQ(ns_GetTimeByIndex(h, 0, 0, nullptr), ns_BADFILE);
    EXPECT_EQ(ns_GetNeuralData(h, 0, 0, 0, nullptr), ns_BADFILE);
    EXPECT_EQ(ns_CloseFile(h), ns_BADFILE);
    EXPECT_EQ(ns_GetLastErrorMsg(nullptr, 0), ns_OK);
}

TEST(ResultCodes, EntityAndSourceChecks)
{
    kvdtest::TempDir dir;
    NsFile f(SmallRecording(), dir);
    ASSERT_EQ(f.Result(), ns_OK);
    const uint32_t h = f.Handle();
    ns_EVENTINFO event;
    ns_ANALOGINFO analog;
    ns_SEGMENTINFO segment;
    ns_SEGSOURCEINFO source;
    ns_NEURALINFO neural;
    ns_ENTITYINFO entity;
    // Entities: 0, 1 electrode; 2 digital channel; 3 to 18 its bits.
    ASSERT_EQ(f.EntityCount(), 19u);
    EXPECT_EQ(ns_GetEventInfo(h, 0, &event, sizeof event), ns_BADENTITY);
    EXPECT_EQ(ns_GetEventInfo(h, 3, &event, sizeof event), ns_OK);
    EXPECT_EQ(ns_GetAnalogInfo(h, 3, &analog, sizeof analog), ns_BADENTITY);
    EXPECT_EQ(ns_GetSegmentInfo(h, 0, &segment, sizeof segment), ns_BADENTITY);
    EXPECT_EQ(ns_GetSegmentSourceInfo(h, 0, 1, &source, sizeof source), ns_BADENTITY);
    EXPECT_EQ(ns_GetEntityInfo(h, 19, &entity, sizeof entity), ns_BADENTITY);
    EXPECT_EQ(ns_GetNeuralInfo(h, 0, &neural, sizeof neural), ns_BADENTITY);
    EXPECT_EQ(ns_GetNeuralData(h, 0, 0, 1, nullptr), ns_BADENTITY);
    EXPECT_EQ(ns_GetAnalogData(h, 3, 0, 1, nullptr, nullptr), ns_BADENTITY);
    EXPECT_EQ(ns_GetEventData(h, 0, 0, nullptr, nullptr, 0, nullptr), ns_BADENTITY);
    EXPECT_EQ(ns_GetSegmentData(h, 0, 0, nullptr, nullptr, 0, nullptr, nullptr), ns_BADENTITY);
    EXPECT_EQ(ns_GetTimeByIndex(h, 19, 0, nullptr), ns_BADENTITY);
    EXPECT_EQ(ns_GetIndexByTime(h, 19, 0.0, 0, nullptr), ns_BADENTITY);
    // Conversions take entities of every type; a missing output is not wanted, not a crash.
    EXPECT_EQ(ns_GetTimeByIndex(h, 0, 0, nullptr), ns_OK);
    EXPECT_EQ(ns_GetIndexByTime(h, 3, 0.0, 0, nullptr), ns_OK);
    // Wrong sizes on a valid handle, and missing structures.
    EXPECT_EQ(ns_GetAnalogInfo(h, 0, &analog, sizeof analog + 8), ns_LIBERROR);
    EXPECT_EQ(ns_GetAnalogInfo(h, 0, nullptr, sizeof analog), ns_LIBERROR);
}

TEST(OpenAndClose, ResultsAndHandles)
{
    kvdtest::TempDir dir;
    uint32_t h = 77;
    std::string missing = dir.Path("missing.kvd");
    EXPECT_EQ(ns_OpenFile(missing.data(), &h), ns_FILEERROR);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(LastError(), "cannot open " + missing + ": No such file or directory");
    std::string folder = dir.Path("");
    EXPECT_EQ(ns_OpenFile(folder.data(), &h), ns_FILEERROR);
    EXPECT_EQ(LastError(), "cannot open " + folder + ": Is a directory");
    std::string notRecording = dir.Path("text.kvd");
    kvdtest::WriteFile(notRecording, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
    EXPECT_EQ(ns_OpenFile(notRecording.data(), &h), ns_TYPEERROR);
    EXPECT_EQ(LastError(), notRecording + " is not a recording: it does not begin with the KVXSTRM mark");
    RecordingDesc bad = SmallRecording();
    bad.version = 12;
    std::string badHeader = bad.WriteTo(dir.Path("bad.kvd"));
    EXPECT_EQ(ns_OpenFile(badHeader.data(), &h), ns_TYPEERROR);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(LastError(), badHeader + " is not a recording: its file header is damaged or of an unknown version");
    EXPECT_EQ(ns_OpenFile(nullptr, &h), ns_FILEERROR);
    EXPECT_EQ(LastError(), "cannot open a recording without a file name");
    // A null handle pointer opens nothing (see the hardening table).
    EXPECT_EQ(ns_OpenFile(missing.data(), nullptr), ns_LIBERROR);
    EXPECT_EQ(LastError(), "no place for the file handle given (a null pointer)");

    std::string path = SmallRecording().WriteTo(dir.Path("ok.kvd"));
    std::vector<uint32_t> handles;
    for (uint32_t i = 1; i <= 256; ++i) {
        ASSERT_EQ(ns_OpenFile(path.data(), &h), ns_OK);
        ASSERT_EQ(h, i);
        handles.push_back(h);
    }
    // Every slot taken: a clear failure and no handle.
    EXPECT_EQ(ns_OpenFile(path.data(), &h), ns_LIBERROR);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(LastError(), "every one of the 256 file slots is in use");
    EXPECT_EQ(ns_CloseFile(5), ns_OK);
    EXPECT_EQ(ns_CloseFile(5), ns_BADFILE);
    ns_FILEINFO file;
    EXPECT_EQ(ns_GetFileInfo(5, &file, sizeof file), ns_BADFILE);
    ASSERT_EQ(ns_OpenFile(path.data(), &h), ns_OK);
    EXPECT_EQ(h, 5u);
    for (uint32_t handle : handles) EXPECT_EQ(ns_CloseFile(handle), ns_OK);
}

TEST(LastError, SaysWhatFailedAndWhy)
{
    kvdtest::TempDir dir;
    NsFile file(SmallRecording(), dir);
    ASSERT_EQ(file.Result(), ns_OK);
    const uint32_t h = file.Handle();
    ns_FILEINFO info;
    ns_ENTITYINFO entity;
    ns_ANALOGINFO analog;
    ns_NEURALINFO neural;
    double value = 0.0;
    uint32_t index = 0;
    // Entities of the small recording: 0 and 1 electrodes, 2 the digital channel, 3 to 18 its bits. A copy
    // whose header announces twice the samples its chunks hold.
    const uint32_t items = file.Entity(1).dwItemCount;
    ASSERT_EQ(items, 1000u);
    const std::string n = std::to_string(items);
    RecordingDesc announcing = SmallRecording();
    announcing.stopTime += 100000000ULL;
    NsFile longer(announcing, dir, "longer.kvd");
    ASSERT_EQ(longer.Entity(1).dwItemCount, 2000u);
    const struct {
        std::function<ns_RESULT()> call;
        ns_RESULT result;
        std::string text;
    } cases[] = {
        {[&] { return ns_GetFileInfo(0, &info, sizeof info); }, ns_BADFILE, "file handle 0 is not valid"},
        {[&] { return ns_GetFileInfo(257, &info, sizeof info); }, ns_BADFILE,
         "file handle 257 is not valid: handles go from 1 to 256"},
        {[&] { return ns_CloseFile(200); }, ns_BADFILE, "no file is open under handle 200"},
        {[&] { return ns_GetEntityInfo(h, 0, &entity, sizeof entity - 1); }, ns_LIBERROR,
         "ns_ENTITYINFO has " + std::to_string(sizeof entity) + " bytes in this library, not " +
             std::to_string(sizeof entity - 1)},
        {[&] { return ns_GetAnalogInfo(h, 0, nullptr, sizeof analog); }, ns_LIBERROR,
         "no ns_ANALOGINFO given (a null pointer)"},
        {[&] { return ns_GetEntityInfo(h, 19, &entity, sizeof entity); }, ns_BADENTITY,
         "entity 19 does not exist: the file has 19 entities"},
        {[&] { return ns_GetAnalogInfo(h, 7, &analog, sizeof analog); }, ns_BADENTITY,
         "entity 7 is not an analog entity"},
        {[&] { return ns_GetEventData(h, 0, 0, &value, nullptr, 0, nullptr); }, ns_BADENTITY,
         "entity 0 is not an event entity"},
        {[&] { return ns_GetSegmentData(h, 2, 0, &value, nullptr, 0, nullptr, nullptr); }, ns_BADENTITY,
         "entity 2 is not a segment entity"},
        {[&] { return ns_GetNeuralInfo(h, 0, &neural, sizeof neural); }, ns_BADENTITY,
         "entity 0 is not a neural-event entity"},
        {[&] { return ns_GetAnalogData(h, 1, items - 10, 20, nullptr, nullptr); }, ns_BADINDEX,
         "items " + std::to_string(items - 10) + " to " + std::to_string(items + 9) + " go beyond the " + n +
             " items of entity 1"},
        {[&] { return ns_GetAnalogData(longer.Handle(), 1, 990, 20, nullptr, nullptr); }, ns_BADINDEX,
         "the data of entity 1 cannot be read: the recording holds less than it announces"},
        {[&] { return ns_GetTimeByIndex(h, 0, items, &value); }, ns_BADINDEX,
         "index " + n + " is beyond the " + n + " items of entity 0"},
        {[&] { return ns_GetIndexByTime(h, 0, 1e6, ns_AFTER, &index); }, ns_BADINDEX,
         "entity 0 has no item at or after 1000000 s"},
        {[&] { return ns_GetIndexByTime(h, 0, -0.25, ns_BEFORE, &index); }, ns_BADINDEX,
         "entity 0 has no item at or before -0.25 s"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.result) << c.text;
        EXPECT_EQ(LastError(), c.text);
    }

    // A success keeps the text of the last failure; the text is cut to the buffer and always terminated.
    ASSERT_EQ(ns_GetFileInfo(h, &info, sizeof info), ns_OK);
    EXPECT_EQ(LastError(), "entity 0 has no item at or before -0.25 s");
    char small[7] = {'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(ns_GetLastErrorMsg(small, 6), ns_OK);
    EXPECT_STREQ(small, "entit");
    EXPECT_EQ(small[6], 'x');
    EXPECT_EQ(ns_GetLastErrorMsg(small, 1), ns_OK);
    EXPECT_EQ(small[0], '\0');
    small[0] = 'x';
    EXPECT_EQ(ns_GetLastErrorMsg(small, 0), ns_OK);
    EXPECT_EQ(small[0], 'x');
    EXPECT_EQ(ns_GetLastErrorMsg(nullptr, 100), ns_OK);

    // Each thread has its own text: empty in a thread where nothing failed.
    std::string other = "unread";
    std::thread([&] {
        other = LastError();
        ns_CloseFile(0);
    }).join();
    EXPECT_EQ(other, "");
    EXPECT_EQ(LastError(), "entity 0 has no item at or before -0.25 s");
}

}  // namespace
