#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include "reader/KVXAStreamFile.h"
#include "streams/KVXAStream.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::RecordingDesc;

class StreamFileTest : public ::testing::Test {
protected:
    // Writes the recording and opens it; returns the open result.
    int Open(const RecordingDesc& rec, const std::string& name = "rec.kvd")
    {
        return m_file.OpenFile(rec.WriteTo(m_dir.Path(name)).c_str());
    }
    int OpenBytes(const std::vector<uint8_t>& bytes, const std::string& name = "raw.kvd")
    {
        kvdtest::WriteFile(m_dir.Path(name), bytes);
        return m_file.OpenFile(m_dir.Path(name).c_str());
    }

    kvdtest::TempDir m_dir;
    CKVXAStreamFile m_file;
};

RecordingDesc WithStreams(uint16_t version)
{
    RecordingDesc rec;
    rec.version = version;
    rec.streams = {kvdtest::ElectrodeStream(4), kvdtest::TriggerStream(), kvdtest::DigitalStream()};
    for (auto& s : rec.streams) s.headerVersion = version >= 5 ? 6 : 3;
    if (version <= 4) rec.streams[1].name = "Trigger 1";
    return rec;
}

TEST_F(StreamFileTest, OpensEveryHeaderVersion)
{
    for (uint16_t version = 0; version <= 11; ++version) {
        SCOPED_TRACE(version);
        RecordingDesc rec = WithStreams(version);
        ASSERT_EQ(Open(rec), OK);
        EXPECT_EQ(m_file.GetHeaderVersion(), version);
        EXPECT_EQ(m_file.GetStreamCount(), 3);
        EXPECT_STREQ(m_file.GetComment(), "built recording");
        EXPECT_EQ(m_file.GetSoftwareVersionMajor(), (3u << 16) | 4u);
        EXPECT_EQ(lSoftwareVersionMajor, static_cast<int32_t>((3u << 16) | 4u));
        EXPECT_EQ(lSoftwareVersionMinor, static_cast<int32_t>((2u << 16) | 1u));
        EXPECT_EQ(m_file.GetTimeStampStartPressed()->GetTimeStamp(), rec.startPressed);
        // Headers before version 3 carry no start time: the start-pressed time stands in.
        const uint64_t start = version <= 2 ? rec.startPressed : rec.startTime;
        EXPECT_EQ(m_file.GetStartTime()->GetTimeStamp(), start);
        EXPECT_EQ(m_file.GetStopTime()->GetStart(), start);
        EXPECT_EQ(m_file.GetTimeStampStartPressed()->GetStart(), start);
        EXPECT_EQ(m_file.GetWithIndex(), 0);
        for (int32_t i = 0; i < 3; ++i) ASSERT_NE(m_file.GetStream(i), nullptr);
        EXPECT_EQ(m_file.GetStream(3), nullptr);
        EXPECT_EQ(m_file.GetStream(-1), nullptr);
        // The first data chunk follows the last element of the header section.
        EXPECT_EQ(m_file.GetFirstChunkPosition(), rec.EncodeHeaderSection().size());
        EXPECT_EQ(m_file.CloseFile(), 0);
    }
}

TEST_F(StreamFileTest, VersionZeroGetsTheDefaultsOfItsWriter)
{
    RecordingDesc rec = WithStreams(0);
    rec.millisamplesPerSecond = 10000000;
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetMillisamplesPerSecond(), 25000000);
    EXPECT_EQ(m_file.GetSourceType(), 1);
    EXPECT_EQ(m_file.GetElectrodeChannels(), 60);
    EXPECT_EQ(m_file.GetElectrodeChannelOffset1(), 0);
    EXPECT_EQ(m_file.GetAnalogChannels(), 3);
    EXPECT_EQ(m_file.GetAnalogChannelOffset1(), 60);
    EXPECT_EQ(m_file.GetDigitalChannels(), 1);
    EXPECT_EQ(m_file.GetTotalChannels(), 64);
    EXPECT_EQ(m_file.GetPreTriggerTime(), -1);
    EXPECT_EQ(m_file.GetPostTriggerTime(), -1);
    EXPECT_EQ(m_file.GetSegmentTime(), 128000000);
    EXPECT_EQ(m_file.GetRecordingMode(), 0);
    EXPECT_EQ(m_file.GetStartTriggerStreamID(), -1);
    EXPECT_EQ(m_file.GetListStrmSize(), rec.listStrmSize);
    EXPECT_EQ(m_file.GetStream(0)->GetHeaderVersion(), 0);

    // Short segments mark the 2.5 kHz recordings of that writer.
    rec.streams[0].defaultSamplesPerSegment = 1499;
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetMillisamplesPerSecond(), 2500000);
}

TEST_F(StreamFileTest, FieldsOfLaterVersions)
{
    RecordingDesc rec = WithStreams(11);
    rec.electrodeChannels = 120;
    rec.analogChannels = 4;
    rec.electrodeChannels2 = 60;
    rec.electrodeOffset2 = 124;
    rec.analogOffset2 = 184;
    rec.images[2].ints = {1, 2, 3, 4, 5, -6};
    rec.images[2].reals = {0.5, 1.5, 2.5, -3.5};
    rec.images[2].path = "C:\\images\\slice.bmp";
    rec.images[1].path = "second.bmp";
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetElectrodeChannels2(), 60);
    EXPECT_EQ(m_file.GetElectrodeChannelOffset2(), 124);
    EXPECT_EQ(m_file.GetAnalogChannelOffset2(), 184);
    EXPECT_EQ(m_file.GetVoltageRange(), 4096);
    EXPECT_EQ(m_file.Vantrel_DataSourceType(), 1);
    EXPECT_STREQ(m_file.GetDataSourceName(), "Array amplifier");
    EXPECT_STREQ(m_file.GetSerialNumber(), "SN-000123");
    EXPECT_EQ(m_file.GetBusType(), 2u);
    EXPECT_EQ(m_file.GetVendorId(), 0x1234u);
    EXPECT_EQ(m_file.GetProductId(), 0x42u);
    EXPECT_EQ(m_file.GetDriverVersionMajor(), 2u);
    EXPECT_EQ(m_file.GetDriverVersionMinor(), 7u);
    int32_t l[6];
    double d[4];
    ASSERT_TRUE(m_file.GetImageData(2, &l[0], &l[1], &l[2], &l[3], &l[4], &l[5], &d[0], &d[1], &d[2], &d[3]));
    EXPECT_EQ(l[0], 1);
    EXPECT_EQ(l[5], -6);
    EXPECT_EQ(d[3], -3.5);
    EXPECT_STREQ(m_file.GetImageFilePathName(2), "C:\\images\\slice.bmp");
    EXPECT_FALSE(m_file.GetImageData(4, &l[0], &l[1], &l[2], &l[3], &l[4], &l[5], &d[0], &d[1], &d[2], &d[3]));
    EXPECT_EQ(m_file.GetImageFilePathName(-1), nullptr);

    // Versions 6 and 7 hold only the first image record; the others read as empty.
    rec.version = 7;
    ASSERT_EQ(Open(rec), OK);
    EXPECT_STREQ(m_file.GetImageFilePathName(1), "");
    // Up to version 7 the second block's offsets follow the first block, and there is no voltage range.
    EXPECT_EQ(m_file.GetElectrodeChannelOffset2(), 124);
    EXPECT_EQ(m_file.GetAnalogChannelOffset2(), 124);
    EXPECT_EQ(m_file.GetVoltageRange(), -1);
}

TEST_F(StreamFileTest, RecordingDate)
{
    RecordingDesc rec = WithStreams(11);
    rec.startTime = kvdtest::NsFromUnix(1152971130ULL) + 123456789ULL;  // 2006-07-15 13:45:30.123456789
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetYear(), 2006);
    EXPECT_EQ(m_file.GetMonth(), 7);
    EXPECT_EQ(m_file.GetDay(), 15);
    EXPECT_EQ(m_file.GetHour(), 13);
    EXPECT_EQ(m_file.GetMinute(), 45);
    EXPECT_EQ(m_file.GetSecond(), 30);
    EXPECT_EQ(m_file.GetMillisecond(), 123);
    EXPECT_EQ(m_file.GetMicrosecond(), 456);
    EXPECT_EQ(m_file.GetNanosecond(), 789);
}

TEST_F(StreamFileTest, TriggerStreamsDecideTheRecordingMode)
{
    RecordingDesc rec = WithStreams(11);
    rec.streams.push_back(kvdtest::TriggerStream("trig0002", 4, "Trigger 2"));
    rec.recordingMode = 1;
    rec.startTriggerBufferId = "trig0001";
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetRecordingMode(), 1);
    EXPECT_EQ(m_file.GetStartTriggerStreamID(), 1);
    EXPECT_EQ(m_file.GetStopTriggerStreamID(), -1);

    rec.recordingMode = 2;
    rec.stopTriggerBufferId = "trig0002";
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetRecordingMode(), 2);
    EXPECT_EQ(m_file.GetStopTriggerStreamID(), 3);

    // A stop trigger that names no stream lowers the mode to start-triggered sweeps ...
    rec.stopTriggerBufferId = "trig0009";
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetRecordingMode(), 1);
    // ... and a start trigger that names none to continuous recording. Ids compare case-sensitively.
    rec.startTriggerBufferId = "TRIG0001";
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetRecordingMode(), 0);
    EXPECT_EQ(m_file.GetStartTriggerStreamID(), -1);

    rec.recordingMode = 3;
    EXPECT_EQ(Open(rec), forWRONG_HEADER);
    EXPECT_EQ(m_file.GetKVXHDR(), nullptr);
    EXPECT_EQ(m_file.GetFilePointer(), nullptr);
}

TEST_F(StreamFileTest, OldHeadersNameTheTriggerStreamByItsID)
{
    RecordingDesc rec = WithStreams(4);
    rec.recordingMode = 1;
    rec.startTriggerStreamId = 2;  // the trigger stream's stream ID
    rec.startTriggerBufferId = "ignored";
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetRecordingMode(), 1);
    EXPECT_EQ(m_file.GetStartTriggerStreamID(), 1);
    EXPECT_EQ(std::string(m_file.GetKVXHDR()->Text(KVXHDR::kStartTriggerBufferID)), "trig0001");
    EXPECT_EQ(m_file.GetStreamIndexForStreamID("trig0001"), 1);
    EXPECT_EQ(m_file.GetStreamIndexForStreamID("nothere"), -1);
}

TEST_F(StreamFileTest, RefusesWhatIsNotARecording)
{
    EXPECT_EQ(m_file.OpenFile(m_dir.Path("missing.kvd").c_str()), FILE_OPEN_FAILED);
    EXPECT_EQ(m_file.OpenFile(m_dir.Path("").c_str()), FILE_OPEN_FAILED);  // a folder
    EXPECT_EQ(OpenBytes({'K', 'V', 'X'}), WRONG_FILEFORMAT);
    EXPECT_EQ(m_file.GetFilePointer(), nullptr);
    std::vector<uint8_t> bytes = WithStreams(11).Encode();
    bytes[3] = 'Y';
    EXPECT_EQ(OpenBytes(bytes), WRONG_FILEFORMAT);
    EXPECT_EQ(m_file.CloseFile(), 0);
    EXPECT_EQ(m_file.GetFilePointer(), nullptr);
}

TEST_F(StreamFileTest, RefusesDamagedHeaders)
{
    RecordingDesc rec = WithStreams(11);
    rec.version = 12;
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    for (std::size_t at : {16u, 32u}) {  // "LISThdr " and "KVXHDR  "
        std::vector<uint8_t> bytes = WithStreams(11).Encode();
        bytes[at + 4] ^= 0x20;
        EXPECT_EQ(OpenBytes(bytes), forWRONG_HEADER) << at;
    }

    rec = WithStreams(3);
    rec.writeIndexPosition = false;
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    std::vector<uint8_t> bytes = WithStreams(11).EncodeHeaderSection();
    bytes[bytes.size() - 16] = 9;  // "IDX1POS " size other than 8
    EXPECT_EQ(OpenBytes(bytes), forWRONG_HEADER);

    rec = WithStreams(0);
    rec.listStrmSize = 0;
    bytes = rec.EncodeHeaderSection();
    bytes[bytes.size() - 12] = 'X';  // "LISTstrm" misspelt
    EXPECT_EQ(OpenBytes(bytes), forWRONG_HEADER);

    // The header says it is followed by a layout or stimulator chunk that is not there.
    rec = WithStreams(11);
    rec.stimulatorFlag = 1;
    EXPECT_EQ(Open(rec), forWRONG_HEADER);
    rec = WithStreams(11);
    rec.sourceType = 3;
    EXPECT_EQ(Open(rec), forWRONG_HEADER);
}

TEST_F(StreamFileTest, ImpossibleCountsFailWithoutAllocating)
{
    for (int32_t count : {-1, 4, 0x7FFFFFFF, static_cast<int32_t>(0x80000000u)}) {
        RecordingDesc rec = WithStreams(11);
        rec.streamCount = count;
        EXPECT_EQ(Open(rec), forWRONG_HEADER) << count;
    }
    RecordingDesc rec = WithStreams(11);
    rec.streams[0].channelCount = 0xFFFFFFFFu;
    EXPECT_EQ(Open(rec), forWRONG_HEADER);
    rec = WithStreams(11);
    rec.streams[0].channels[1].referenceCount = 0xFFFFFFFFu;
    EXPECT_EQ(Open(rec), forWRONG_HEADER);
    rec = WithStreams(11);
    rec.streams[2].formatSize = 0xFFFFFFFFFFFFFFFFULL;
    EXPECT_EQ(Open(rec), forWRONG_HEADER);
}

// Cuts a valid recording at every byte of its header section, from the end down: every cut must be
// refused cleanly, and the whole section must open.
void ExpectEveryCutRefused(const RecordingDesc& rec, kvdtest::TempDir& dir)
{
    const std::vector<uint8_t> whole = rec.EncodeHeaderSection();
    const std::string path = dir.Path("cut.kvd");
    kvdtest::WriteFile(path, whole);
    CKVXAStreamFile file;
    EXPECT_EQ(file.OpenFile(path.c_str()), OK);
    file.CloseFile();
    for (std::size_t n = whole.size(); n-- > 0;) {
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(n)), 0);
        const int result = file.OpenFile(path.c_str());
        ASSERT_EQ(result, n < 8 ? WRONG_FILEFORMAT : forWRONG_HEADER) << "cut at " << n;
        ASSERT_EQ(file.GetStream(0), nullptr);
    }
}

TEST(StreamFileTruncation, EveryCutOfTheHeaderSectionIsRefused)
{
    kvdtest::TempDir dir;
    for (uint16_t version : {0, 4, 5, 11}) {
        SCOPED_TRACE(version);
        RecordingDesc rec = WithStreams(version);
        rec.streams[0].channels[0].references = {{1, 2}, {3, 4}};
        rec.streams[0].channels[1].version = 1;
        rec.streams[0].channels[2].version = 0;
        rec.streams[2].formatPrivate = {1, 2, 3, 4, 5};
        rec.streams[1].formatVersion = 0;
        ExpectEveryCutRefused(rec, dir);
    }
}

}  // namespace
