#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "io/ByteOrder.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAStream.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::ChannelDesc;
using kvdtest::RecordingDesc;
using kvdtest::StreamDesc;

class StreamTest : public ::testing::Test {
protected:
    // Opens a recording of `version` holding the given streams.
    void Open(uint16_t version, const std::vector<StreamDesc>& streams, int expected = OK)
    {
        RecordingDesc rec;
        rec.version = version;
        rec.streams = streams;
        ASSERT_EQ(m_file.OpenFile(rec.WriteTo(m_dir.Path("rec.kvd")).c_str()), expected);
    }
    const CKVXAStream& Stream(int i) { return *m_file.GetStream(i); }

    kvdtest::TempDir m_dir;
    CKVXAStreamFile m_file;
};

StreamDesc Named(const std::string& type, const std::string& name, uint16_t id)
{
    StreamDesc s = kvdtest::ElectrodeStream(1);
    s.dataType = type;
    s.name = name;
    s.id = id;
    s.bufferId = "";
    return s;
}

TEST_F(StreamTest, OldFilesNameStreamsFromNameTypeAndID)
{
    Open(3, {Named("analog", "Electrode Raw Data", 1), Named("trigger", "Trigger 12", 2),
             Named("digital", "Digital Raw Data 2", 5), Named("Spikes", "Spikes 3", 0x1abc),
             Named("chat", "Channel Tool", 7), Named("average", "Average 70000", 8),
             Named("analog", "Analog Raw Data", 9), Named("params", "Parameter -1", 10)});
    const struct {
        const char* bufferID;
        const char* chunkID;
    } expected[] = {{"elec0001", "00001raw"}, {"trig000c", "00002trg"}, {"digi0001", "00005raw"},
                    {"spks0003", "01abcspk"}, {"chtl0000", "00007cht"}, {"mean1170", "00008evp"},
                    {"anlg0001", "00009raw"}, {"paraffff", "0000apar"}};
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(Stream(i).GetBufferID(), expected[i].bufferID);
        EXPECT_STREQ(Stream(i).GetDataChunkID(), expected[i].chunkID);
    }
    EXPECT_STREQ(Stream(0).GetLegacyTypeTag(), "raw");
}

TEST_F(StreamTest, NewFilesTakeTheStoredBufferID)
{
    StreamDesc s = Named("trigger", "Trigger 12", 2);
    s.bufferId = "trig0042";
    Open(5, {s});
    EXPECT_STREQ(Stream(0).GetBufferID(), "trig0042");
    EXPECT_STREQ(Stream(0).GetDataChunkID(), "trig0042");

    s.bufferId = "trig00042";  // nine characters
    Open(5, {s}, forWRONG_HEADER);
}

TEST_F(StreamTest, HeaderAndFormatFields)
{
    StreamDesc s = kvdtest::ElectrodeStream(3);
    s.comment = "a comment";
    s.millisamplesPerSecond = 2500500;
    s.unitSign = 'A';
    s.adBits = 12;
    s.adZero = 2048;
    s.unitsPerAD = 0.25;
    s.secondScale = 7.5;
    s.bytesPerChannel = 2;
    s.defaultSamplesPerSegment = 320;
    s.defaultSegmentCount = 4;
    s.formatPrivate = {9, 8, 7, 6, 5};
    Open(11, {s});
    const CKVXAStream& st = Stream(0);
    EXPECT_STREQ(st.GetDataType(), "analog");
    EXPECT_STREQ(st.GetName(), "Electrode Raw Data");
    EXPECT_STREQ(st.GetComment(), "a comment");
    EXPECT_EQ(st.GetHeaderVersion(), 8);
    EXPECT_EQ(st.GetID(), 1);
    EXPECT_EQ(st.GetMilliSamplesPerSecond(), 2500500);
    EXPECT_EQ(st.GetSampleRate(), 2500);
    EXPECT_EQ(st.GetFormatVersion(), 1);
    EXPECT_EQ(st.GetUnitSign(), 'A');
    EXPECT_EQ(st.GetADBits(), 12);
    EXPECT_EQ(st.GetADZero(), 2048);
    EXPECT_EQ(st.GetUnitsPerAD(), 0.25);
    EXPECT_EQ(st.Get_pStrmFmt()->F64(CKVXAStream::kSecondScale), 7.5);
    EXPECT_EQ(st.GetDefaultSamplesPerSegment(), 320);
    EXPECT_EQ(st.GetDefaultSegmentCount(), 4);
    EXPECT_EQ(st.GetChannelCount(), 3);
    EXPECT_TRUE(st.HasRawData());
    EXPECT_TRUE(st.HasContinuousData());
    const uint8_t* priv = nullptr;
    ASSERT_EQ(st.GetStreamFormatPrivate(priv), 5);
    EXPECT_EQ(priv[0], 9);
    EXPECT_EQ(priv[4], 5);
    EXPECT_EQ(st.GetStrmFmtSize(), 37u);
}

TEST_F(StreamTest, ShortFormatRecordTakesUnitsPerADAsSecondScale)
{
    StreamDesc s = kvdtest::ElectrodeStream(1);
    s.formatVersion = 0;
    s.unitsPerAD = 0.5;
    StreamDesc withPrivate = s;
    withPrivate.bufferId = "elec0002";
    withPrivate.formatPrivate = {1, 2, 3};
    Open(11, {s, withPrivate});
    EXPECT_EQ(Stream(0).GetFormatVersion(), 1);
    EXPECT_EQ(Stream(0).Get_pStrmFmt()->F64(CKVXAStream::kSecondScale), 0.5);
    EXPECT_EQ(Stream(0).GetStrmFmtSize(), 32u);
    const uint8_t* priv = nullptr;
    EXPECT_EQ(Stream(0).GetStreamFormatPrivate(priv), 0);
    EXPECT_EQ(Stream(1).GetStreamFormatPrivate(priv), 3);
    EXPECT_EQ(priv[2], 3);
}

TEST_F(StreamTest, FormatChunkOfImpossibleSizeIsRefused)
{
    StreamDesc s = kvdtest::ElectrodeStream(1);
    s.formatPrivate.assign(10000 - 32, 0);
    Open(11, {s}, forWRONG_HEADER);
    s.formatPrivate.clear();
    s.formatSize = 31;  // smaller than its own record
    Open(11, {s}, forWRONG_HEADER);
}

TEST_F(StreamTest, TypeSwitchesCompareExactly)
{
    StreamDesc upper = kvdtest::ElectrodeStream(1);
    upper.dataType = "Analog";
    StreamDesc trigger = kvdtest::TriggerStream();
    StreamDesc filter = kvdtest::ElectrodeStream(1, "filt0001");
    filter.dataType = "filter";
    Open(11, {upper, trigger, filter});
    EXPECT_FALSE(Stream(0).HasRawData());
    EXPECT_FALSE(Stream(1).HasRawData());
    EXPECT_TRUE(Stream(2).HasRawData());
}

TEST_F(StreamTest, FormatChunkRightAfterTheHeaderMeansNoChannels)
{
    StreamDesc s = kvdtest::ElectrodeStream(0);
    s.channelCount = 5;
    Open(11, {s});
    EXPECT_EQ(Stream(0).GetChannelCount(), 0);
    EXPECT_EQ(Stream(0).GetChannel(0), nullptr);
}

TEST_F(StreamTest, ChannelIDsOfOldFilesAreTheirIndexes)
{
    auto withIDs = [](StreamDesc s) {
        for (std::size_t i = 0; i < s.channels.size(); ++i) s.channels[i].id = 100 + static_cast<int32_t>(i);
        return s;
    };
    StreamDesc electrodes = withIDs(kvdtest::ElectrodeStream(3));
    StreamDesc spikes = withIDs(kvdtest::ElectrodeStream(2, "spks0001", 2));
    spikes.dataType = "spikes";
    StreamDesc digital = withIDs(kvdtest::DigitalStream());

    for (uint16_t version : {6, 7, 9}) {
        SCOPED_TRACE(version);
        Open(version, {electrodes, spikes, digital});
        const bool renumbered = version <= 6;
        EXPECT_EQ(Stream(0).GetChannel(2)->GetID(), renumbered ? 2 : 102);
        EXPECT_EQ(Stream(1).GetChannel(1)->GetID(), 101);  // spike channels keep their IDs
        EXPECT_EQ(Stream(2).GetChannel(0)->GetID(), version == 7 ? 0 : renumbered ? 0 : 100);
    }
}

TEST_F(StreamTest, ChannelLookupAndPositions)
{
    StreamDesc s = kvdtest::ElectrodeStream(3);
    s.channels[0].hwId = 7;
    s.channels[1].hwId = 7;
    s.channels[2].hwId = -3;
    s.channels[0].posX = 0;
    s.channels[1].posX = 300;
    s.channels[2].posX = 100;
    s.channels[2].posY = 50;
    Open(11, {s});
    const CKVXAStream& st = Stream(0);
    EXPECT_EQ(st.GetChannelHWID(7), st.GetChannel(0));
    EXPECT_EQ(st.GetChannelHWID(-3), st.GetChannel(2));
    EXPECT_EQ(st.GetChannelHWID(8), nullptr);
    EXPECT_EQ(st.GetChannel(3), nullptr);
    EXPECT_EQ(st.GetChannel(-1), nullptr);
    EXPECT_STREQ(st.GetChannelName(1), "E2");
    EXPECT_STREQ(st.GetChannelName(3), "");
    int32_t x, y;
    st.GetMaxChannelPos(x, y);
    EXPECT_EQ(x, 300);
    EXPECT_EQ(y, 50);
    EXPECT_EQ(st.GetRelativeChannelPosX(2), 33);
    EXPECT_EQ(st.GetRelativeChannelPosY(2), 100);
    EXPECT_EQ(st.GetRelativeChannelPosY(0), 0);
    EXPECT_EQ(st.GetRelativeChannelPosX(3), -1);
}

// Reads back a whole small file.
std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return bytes;
}

TEST_F(StreamTest, WritesItsHeaderInTheCurrentForm)
{
    StreamDesc s = Named("trigger", "Trigger 12", 2);
    s.formatVersion = 0;
    s.formatPrivate = {0xAA, 0xBB};
    s.channels[0].references = {{5, 6}};
    Open(4, {s});
    std::unique_ptr<CKVXAStream> copy(Stream(0).Clone(&m_file));
    EXPECT_STREQ(copy->GetBufferID(), "trig000c");
    EXPECT_STREQ(copy->GetDataChunkID(), "00002trg");
    EXPECT_EQ(copy->GetChannel(0)->GetHeaderVersion(), 2);

    const std::string path = m_dir.Path("hdr.bin");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(copy->WriteHdr(f), 0);
    std::fclose(f);
    const std::vector<uint8_t> bytes = ReadAll(path);

    const std::size_t hdrSize = 804 + 1104 + 8;
    ASSERT_EQ(bytes.size(), 16 + hdrSize + 16 + 32 + 2);
    EXPECT_EQ(std::memcmp(bytes.data(), "STRMHDR ", 8), 0);
    EXPECT_EQ(kvd::LoadU64(bytes.data() + 8), hdrSize);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 16 + 792), "trig000c");
    EXPECT_EQ(kvd::LoadU16(bytes.data() + 16 + 804 + 1104), 5);  // the reference entry
    EXPECT_EQ(kvd::LoadI32(bytes.data() + 16 + 804 + 1108), 6);
    const uint8_t* fmt = bytes.data() + 16 + hdrSize;
    EXPECT_EQ(std::memcmp(fmt, "STRMFMT ", 8), 0);
    EXPECT_EQ(kvd::LoadU64(fmt + 8), 34u);
    EXPECT_EQ(kvd::LoadU16(fmt + 16), 1);  // format version 1
    EXPECT_EQ(fmt[16 + 32], 0xAA);
}

}  // namespace
