#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "layout/KVLayout.h"
#include "tests/support/LayoutChunkBuilder.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::LayoutChunkDesc;
using kvdtest::LayoutRecordDesc;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

class LayoutChunkTest : public ::testing::Test {
protected:
    File Open(const std::vector<uint8_t>& bytes)
    {
        kvdtest::WriteFile(m_dir.Path("layout.bin"), bytes);
        return File(std::fopen(m_dir.Path("layout.bin").c_str(), "rb"));
    }
    bool Read(const std::vector<uint8_t>& bytes) { return m_layout.ReadLayout(Open(bytes).get()); }
    std::vector<uint8_t> Written()
    {
        const std::string path = m_dir.Path("written.bin");
        File out(std::fopen(path.c_str(), "wb"));
        EXPECT_TRUE(m_layout.WriteLayout(out.get()));
        out.reset();
        File in(std::fopen(path.c_str(), "rb"));
        std::vector<uint8_t> bytes;
        for (int c; (c = std::fgetc(in.get())) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
        return bytes;
    }

    kvdtest::TempDir m_dir;
    CKVLayout m_layout;
};

LayoutRecordDesc Record(int32_t hwid, const std::string& name, int32_t mea = 0, int32_t kind = 0)
{
    LayoutRecordDesc r;
    r.hwId = hwid;
    r.subType = kind;
    r.gain = 1000;
    r.name = name;
    r.decoratedName = name + "x";
    r.meaNumber = mea;
    r.meaName = "M" + std::to_string(mea);
    r.amplifierName = "amp" + std::to_string(mea);
    r.thirdName = name + "3";
    r.mapHwId = hwid + 100;
    r.mapValue = 4;
    return r;
}

TEST_F(LayoutChunkTest, Version3ReadsEveryFieldAndWritesTheSameBytes)
{
    LayoutChunkDesc chunk = kvdtest::GridLayout(12, 2);
    chunk.records[3].posZ = -5;
    chunk.records[3].extentX = 11, chunk.records[3].extentY = 12, chunk.records[3].extentZ = 13;
    chunk.records[3].displayExtentX = 21, chunk.records[3].displayExtentY = 22;
    chunk.records[3].mapHwId = 40, chunk.records[3].mapValue = 2;
    chunk.records[3].electrodeType = 9;
    const std::vector<uint8_t> bytes = chunk.Encode();
    ASSERT_TRUE(Read(bytes));

    EXPECT_EQ(m_layout.GetSourceType(), 3);
    EXPECT_EQ(m_layout.GetCount(), 15);
    EXPECT_EQ(m_layout.GetElectrodeChannels(), 12);
    EXPECT_EQ(m_layout.GetAnalogChannels(), 2);
    EXPECT_EQ(m_layout.GetDigitalChannels(), 1);
    EXPECT_EQ(m_layout.GetElectrodeName(3), "E04");
    EXPECT_EQ(m_layout.GetDecoratedElectrodeName(3), "E04a");
    EXPECT_EQ(m_layout.GetMeaName(3), "Grid 8x8");
    EXPECT_EQ(m_layout.GetAmplifierName(3), "Amp 64");
    EXPECT_EQ(m_layout.GetMeaNumber(3), 0);
    EXPECT_EQ(m_layout.GetMeaSubType(3), 0);
    EXPECT_EQ(m_layout.GetGain(3), 1100);
    EXPECT_EQ(m_layout.GetElectrodeType(3), 9);
    int32_t x, y, z;
    m_layout.GetElectrodePoint(3, x, y, z);
    EXPECT_EQ(std::make_tuple(x, y, z), std::make_tuple(600, 0, -5));
    m_layout.GetElectrodeExtends(3, x, y, z);
    EXPECT_EQ(std::make_tuple(x, y, z), std::make_tuple(11, 12, 13));
    m_layout.GetElectrodeDisplayPoint(10, x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(200, 100));
    m_layout.GetElectrodeDisplayExtend(3, x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(21, 22));
    m_layout.GetElectrodeFrequency(3, x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(1000, 3000000));
    const CKVLayout::CChannelLayout rec = m_layout.GetChannelLayout(3);
    EXPECT_EQ(rec.GetHWID(), 3);
    EXPECT_EQ(rec.GetMapHWID(), 40);
    EXPECT_EQ(rec.GetMapValue(), 2);
    EXPECT_STREQ(rec.GetThirdName(), "E04");
    EXPECT_STREQ(m_layout.GetMeaSubTypeAsString(12), "A");
    EXPECT_STREQ(m_layout.GetMeaSubTypeAsString(14), "D");
    EXPECT_STREQ(m_layout.GetMeaSubTypeAsString(99), "U");

    EXPECT_EQ(Written(), bytes);
}

TEST_F(LayoutChunkTest, Version1RecordsGetNamesAndMappingAndWriteBackAsVersion3)
{
    LayoutChunkDesc chunk;
    chunk.version = 1;
    chunk.electrodes = 2;
    chunk.records = {Record(0, "ab"), Record(1, "cd")};
    ASSERT_TRUE(Read(chunk.Encode()));
    ASSERT_EQ(m_layout.GetCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const CKVLayout::CChannelLayout rec = m_layout.GetChannelLayout(i);
        EXPECT_STREQ(rec.GetThirdName(), rec.GetElectrodeName());
        EXPECT_STREQ(rec.GetAmplifierName(), "");
        EXPECT_EQ(rec.GetMapHWID(), i);
        EXPECT_EQ(rec.GetMapValue(), 0);
    }

    // Written back: version 3, 1368-byte records, body size 32 + 2 x 1368.
    LayoutChunkDesc expected = chunk;
    expected.version = 3;
    for (auto& r : expected.records) r.thirdName = r.name, r.amplifierName = "", r.mapHwId = r.hwId, r.mapValue = 0;
    const std::vector<uint8_t> bytes = Written();
    ASSERT_EQ(bytes.size(), 48u + 2 * 1368u);
    EXPECT_EQ(bytes[8] | (bytes[9] << 8), 2768);
    EXPECT_EQ(bytes, expected.Encode());
}

TEST_F(LayoutChunkTest, Version2KeepsAmplifierAndMapsOntoItself)
{
    LayoutChunkDesc chunk;
    chunk.version = 2;
    chunk.records = {Record(0, "a"), Record(1, "b"), Record(2, "c")};
    ASSERT_TRUE(Read(chunk.Encode()));
    const CKVLayout::CChannelLayout rec = m_layout.GetChannelLayout(2);
    EXPECT_STREQ(rec.GetAmplifierName(), "amp0");
    EXPECT_STREQ(rec.GetThirdName(), "c3");
    EXPECT_EQ(rec.GetMapHWID(), 2);
    EXPECT_EQ(rec.GetMapValue(), 0);
}

TEST_F(LayoutChunkTest, RecordSizes)
{
    EXPECT_EQ(CKVLayout::CChannelLayout::getSize(1), 844u);
    EXPECT_EQ(CKVLayout::CChannelLayout::getSize(2), 1360u);
    EXPECT_EQ(CKVLayout::CChannelLayout::getSize(3), 1368u);
    EXPECT_EQ(CKVLayout::CChannelLayout::getSize(7), 1368u);
}

TEST_F(LayoutChunkTest, WrongIdIsRejectedWithoutReadingFurther)
{
    LayoutChunkDesc chunk;
    chunk.records = {Record(0, "a")};
    for (int i = 0; i < 8; ++i) {
        std::vector<uint8_t> bytes = chunk.Encode();
        bytes[i] ^= 0x20;
        File f = Open(bytes);
        EXPECT_FALSE(m_layout.ReadLayout(f.get())) << i;
        EXPECT_EQ(std::ftell(f.get()), 8) << i;
    }
    EXPECT_FALSE(m_layout.ReadLayout(nullptr));
}

TEST_F(LayoutChunkTest, DamagedChunksFailAndLeaveTheLayoutAlone)
{
    m_layout.InitLayoutIfNeeded(MEA_60, 64, 60, 3, 1, false);
    const auto unchanged = [&] {
        EXPECT_EQ(m_layout.GetCount(), 64);
        EXPECT_EQ(m_layout.GetElectrodeName(0), "47");
    };
    LayoutChunkDesc good;
    good.records = {Record(0, "a"), Record(1, "b")};

    for (int32_t version : {0, 4, -1}) {
        LayoutChunkDesc chunk = good;
        chunk.version = version;
        EXPECT_FALSE(Read(chunk.Encode())) << version;
    }
    // Record counts that disagree with the channel count, exceed the layout limit or the file.
    for (int32_t count : {1, 3, -1, 262, 0x7FFFFFFF, static_cast<int32_t>(0x80000000u)}) {
        LayoutChunkDesc chunk = good;
        chunk.count = count;
        EXPECT_FALSE(Read(chunk.Encode())) << count;
        if (count == 1) continue;  // one record of two is a whole chunk
        chunk.total = count;
        EXPECT_FALSE(Read(chunk.Encode())) << count;
    }
    // Cut anywhere.
    const std::vector<uint8_t> whole = good.Encode();
    for (std::size_t n :
         {std::size_t{0}, std::size_t{12}, std::size_t{47}, std::size_t{48}, whole.size() - 1368, whole.size() - 1})
        EXPECT_FALSE(Read(std::vector<uint8_t>(whole.begin(), whole.begin() + n))) << n;
    unchanged();

    // An empty layout is a valid one.
    LayoutChunkDesc none;
    ASSERT_TRUE(Read(none.Encode()));
    EXPECT_EQ(m_layout.GetCount(), 0);
}

TEST_F(LayoutChunkTest, UnterminatedTextsAreCutAtTheirField)
{
    LayoutChunkDesc chunk;
    LayoutRecordDesc r = Record(0, std::string(257, 'n'));
    r.decoratedName = std::string(257, 'd');
    r.meaName = std::string(257, 'm');
    r.thirdName = std::string(257, 't');
    r.amplifierName = std::string(257, 'a');
    chunk.records = {r};
    ASSERT_TRUE(Read(chunk.Encode()));
    EXPECT_EQ(m_layout.GetElectrodeName(0), std::string(256, 'n'));
    EXPECT_EQ(m_layout.GetDecoratedElectrodeName(0), std::string(256, 'd'));
    EXPECT_EQ(m_layout.GetMeaName(0), std::string(256, 'm'));
    EXPECT_EQ(m_layout.GetAmplifierName(0), std::string(256, 'a'));
    EXPECT_EQ(std::string(m_layout.GetChannelLayout(0).GetThirdName()), std::string(256, 't'));
    EXPECT_EQ(m_layout.GetChannelLayout(0).GetMeaNumber(), 0);
}

class LayoutQueryTest : public LayoutChunkTest {
protected:
    // Records with MEA numbers 2, -1, 0, 2 (electrodes), then an analog input on MEA 5.
    void SetUp() override
    {
        LayoutChunkDesc chunk;
        chunk.records = {Record(0, "a", 2), Record(1, "b", -1), Record(2, "c", 0), Record(3, "d", 2),
                         Record(4, "A1", 5, 1)};
        chunk.records[0].posX = 300, chunk.records[0].posY = 50;
        chunk.records[3].posX = 600, chunk.records[3].posY = 200;
        chunk.records[3].amplifierName = "other";
        chunk.records[4].posX = 5000;
        chunk.records[3].displayX = 700, chunk.records[3].displayExtentX = 50;
        chunk.records[3].displayY = 10;
        chunk.records[0].gain = -1;
        ASSERT_TRUE(Read(chunk.Encode()));
    }
};

TEST_F(LayoutQueryTest, MeaAndAmplifierQueries)
{
    EXPECT_EQ(m_layout.GetMEAIndices(), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(m_layout.GetNumberOfMEAIndices(), 2);
    EXPECT_EQ(m_layout.GetNumberOfMEAs(), 3);  // 0, 2 and the analog input's 5
    EXPECT_EQ(m_layout.GetNumberOfConfigMEAs(), 3);
    EXPECT_EQ(m_layout.GetElectrodeChannelCount(2), 2);
    EXPECT_EQ(m_layout.GetElectrodeChannelCount(-1), 1);
    EXPECT_EQ(m_layout.GetChannelLayoutsForMea(2).size(), 2u);
    EXPECT_EQ(m_layout.GetChannelLayoutsForMea(7).size(), 0u);
    EXPECT_EQ(m_layout.GetNumberOfAmpsForMEA(2), 2);
    EXPECT_EQ(m_layout.GetNumberOfAmpsForMEA(0), 1);
    EXPECT_EQ(m_layout.GetNumberOfAmpsForMEA(5), 0);  // analog inputs have no amplifier
    EXPECT_EQ(m_layout.GetTotalNumberOfAmps(), 3);
    EXPECT_EQ(m_layout.GetNumberOfConfigAmps(), 3);
    EXPECT_EQ(m_layout.GetNameOfConfigMEA(2), "M2");
    EXPECT_EQ(m_layout.GetNameOfConfigMEA(5), "");
    EXPECT_EQ(m_layout.GetAmplifierNameForMEA(2), "amp2");
    EXPECT_EQ(m_layout.GetNameOfConfigAmp(0), "amp0");
    EXPECT_EQ(m_layout.GetAmplifierNameForMEA(9), "");
    EXPECT_FALSE(m_layout.IsConnected(0));
    EXPECT_TRUE(m_layout.IsConnected(1));
    EXPECT_FALSE(m_layout.IsAvail(1));
    EXPECT_TRUE(m_layout.IsAvail(2));
}

TEST_F(LayoutQueryTest, PositionsAndExtents)
{
    int32_t x, y;
    m_layout.GetMaxChannelPos(2, 0, x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(600, 200));
    m_layout.GetMaxChannelPos(-1, -1, x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(5000, 200));
    m_layout.GetMaxChannelPos(-1, 0, x, y);
    EXPECT_EQ(x, 600);
    m_layout.GetMaxChannelPos(9, -1, x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(0, 0));
    m_layout.GetMaxDisplayExtend(2, -1, x, y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(750, 110));

    EXPECT_EQ(m_layout.GetRelativeChannelPosX(2, 0), 50);
    EXPECT_EQ(m_layout.GetRelativeChannelPosY(2, 0), 25);
    EXPECT_EQ(m_layout.GetRelativeChannelPosX(2, 3), 100);
    // No electrode of MEA 0 lies off the origin.
    EXPECT_EQ(m_layout.GetRelativeChannelPosX(0, 2), 0);
    EXPECT_EQ(m_layout.GetRelativeChannelPosY(0, 3), 0);
}

TEST_F(LayoutQueryTest, NamesAndNameStrings)
{
    std::vector<std::string> names;
    m_layout.GetElectrodeNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "d", "A1"}));
    m_layout.GetDecoratedElectrodeNames(names);
    EXPECT_EQ(names[3], "dx");
    m_layout.GetElectrodeNamesEx(names, 2);
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], "a:name=a:hwid=0:subtype=0:show=1:dx=0:dy=0:dxextend=100:dyextend=100");
    EXPECT_EQ(names[2], "c:name=c:hwid=2:subtype=0:show=0:dx=0:dy=0:dxextend=100:dyextend=100");
    EXPECT_EQ(m_layout.GetElectrodeNameEx(3, 0),
              "d:name=d:hwid=3:subtype=0:show=0:dx=700:dy=10:dxextend=50:dyextend=100");

    uint16_t hwid = 0;
    EXPECT_TRUE(m_layout.GetHWIDFromName("d", hwid));
    EXPECT_EQ(hwid, 3);
    EXPECT_FALSE(m_layout.GetHWIDFromName("zz", hwid));
    EXPECT_EQ(hwid, 0xFFFF);
    EXPECT_FALSE(m_layout.GetHWIDFromName(nullptr, hwid));
}

TEST(ChannelLayout, DefaultsAndNameString)
{
    CKVLayout::CChannelLayout rec;
    EXPECT_EQ(rec.GetHWID(), -1);
    EXPECT_EQ(rec.GetMeaSubType(), -1);
    EXPECT_EQ(rec.GetGain(), -1);
    EXPECT_FALSE(rec.IsConnected());
    EXPECT_FALSE(rec.IsAvail());
    EXPECT_EQ(rec.GetHighF(), 50000000);
    EXPECT_EQ(rec.GetExtendZ(), 1000);
    EXPECT_EQ(rec.GetDisplayExtendY(), 100);
    EXPECT_EQ(rec.GetMapHWID(), -1);

    rec.SetHardwareChannel(5, 0, "amp", 1000, 1, 2);
    rec.SetLayoutChannel("A1", "A1d", "A1t", 3, "mea", 1, 1, 2, 3, 4, 5, 6, 10, 20, 100, 100);
    EXPECT_EQ(rec.GetMapHWID(), 5);
    EXPECT_EQ(rec.BuildNameString(3), "A1:name=A1:hwid=5:subtype=0:show=1:dx=10:dy=20:dxextend=100:dyextend=100");
    rec.SetMapHWID(9, 1);
    EXPECT_EQ(rec.GetMapHWID(), 9);
    EXPECT_EQ(rec.GetMapValue(), 1);

    // A name as long as its field still fits the name string.
    rec.SetChannelName(std::string(300, 'q').c_str(), "", "");
    EXPECT_EQ(rec.BuildNameString(0).substr(0, 262), std::string(256, 'q') + ":name=");
}

TEST(LayoutSetters, WorkByHardwareChannelAndIgnoreOthers)
{
    CKVLayout layout;
    layout.InitLayoutIfNeeded(MEA_FROM_FILE, 4, 4, 0, 0, false);
    layout.SetHardwareChannel(2, MEA_ANALOG, "amp", 7, 10, 20);
    layout.SetChannelName(2, "n", "dn", "tn");
    layout.SetLayoutChannel(1, "x", "dx", "tx", 1, "mea", 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10);
    layout.SetMapHWID(3, 30, 1);
    for (int16_t bad : {-1, 4, 300}) {
        layout.SetHardwareChannel(bad, 0, "", 0, 0, 0);
        layout.SetChannelName(bad, "bad", "", "");
        layout.SetMapHWID(bad, 0, 0);
    }
    EXPECT_EQ(layout.GetMeaSubType(2), MEA_ANALOG);
    EXPECT_EQ(layout.GetGain(2), 7);
    EXPECT_EQ(layout.GetAmplifierName(2), "amp");
    EXPECT_EQ(layout.GetDecoratedElectrodeName(2), "dn");
    EXPECT_EQ(layout.GetChannelLayout(2).GetMapHWID(), 2);
    EXPECT_EQ(layout.GetMeaName(1), "mea");
    EXPECT_EQ(layout.GetElectrodeType(1), 3);
    EXPECT_EQ(layout.GetChannelLayout(3).GetMapHWID(), 30);
    EXPECT_EQ(layout.GetElectrodeName(-1), "");
    EXPECT_EQ(layout.GetMeaNumber(4), -1);

    // A whole record goes to index + its own hardware channel number.
    CKVLayout::CChannelLayout rec;
    rec.SetHardwareChannel(1, 0, "", 1, 0, 0);
    rec.SetChannelName("moved", "", "");
    layout.SetLayoutChannel(2, rec);
    EXPECT_EQ(layout.GetElectrodeName(3), "moved");
    layout.SetLayoutChannel(3, rec);  // position 4 is outside
    layout.SetLayoutChannel(-5, rec);
    EXPECT_EQ(layout.GetCount(), 4);

    CKVLayout empty;
    EXPECT_EQ(empty.GetMeaNumber(0), -1);
    EXPECT_EQ(empty.GetMeaSubType(0), -1);
    EXPECT_TRUE(empty.GetMEAIndices().empty());
}

}  // namespace
