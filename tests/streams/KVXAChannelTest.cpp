#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "io/ByteOrder.h"
#include "reader/KVXAStreamFile.h"
#include "streams/KVXAStream.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::ChannelDesc;
using kvdtest::RecordingDesc;

ChannelDesc FullChannel(uint16_t h)
{
    ChannelDesc c;
    c.version = h;
    c.id = 17;
    c.hwId = 42;
    c.name = "47";
    c.decoratedName = "47 (ref 15)";
    c.comment = "near the slice edge";
    c.groupId = 3;
    c.gain = 1200;
    c.posX = 1400;
    c.posY = 1200;
    c.posZ = -5;
    c.extentX = 10;
    c.extentY = 11;
    c.diameter = 30;
    c.displayX = 6;
    c.displayY = 7;
    c.displayExtentX = 1;
    c.displayExtentY = 2;
    c.lowF = 1000;
    c.highF = 3000000;
    c.references = {{0x10, 4}, {0x11, -1}};
    return c;
}

class ChannelTest : public ::testing::Test {
protected:
    // Opens a file of `version` whose single stream holds channels of the given header versions, then a
    // trailing channel; a wrong record length would misplace every record after the first.
    void Open(uint16_t version, std::initializer_list<uint16_t> hs)
    {
        RecordingDesc rec;
        rec.version = version;
        kvdtest::StreamDesc s = kvdtest::ElectrodeStream(0);
        s.headerVersion = 9;
        for (uint16_t h : hs) s.channels.push_back(FullChannel(h));
        ChannelDesc last;
        last.name = "last";
        last.id = 99;
        s.channels.push_back(last);
        rec.streams = {s};
        ASSERT_EQ(m_file.OpenFile(rec.WriteTo(m_dir.Path("rec.kvd")).c_str()), OK);
        m_stream = m_file.GetStream(0);
        ASSERT_EQ(m_stream->GetChannelCount(), static_cast<int32_t>(hs.size() + 1));
        EXPECT_STREQ(m_stream->GetChannel(static_cast<int16_t>(hs.size()))->GetName(), "last");
    }

    kvdtest::TempDir m_dir;
    CKVXAStreamFile m_file;
    CKVXAStream* m_stream = nullptr;
};

TEST_F(ChannelTest, RecordsOfOldFilesHaveNoDecorationOrGain)
{
    Open(5, {2});
    const CKVXAChannel* c = m_stream->GetChannel(0);
    EXPECT_EQ(c->GetID(), 0);  // renumbered by its stream
    EXPECT_EQ(c->GetHWID(), 42);
    EXPECT_EQ(c->GetGroupID(), 0);
    EXPECT_EQ(c->GetGain(), -1);
    EXPECT_STREQ(c->GetName(), "47");
    EXPECT_STREQ(c->GetDecoratedName(), "47");
    EXPECT_STREQ(c->GetComment(), "near the slice edge");
    EXPECT_EQ(c->GetPosX(), 0);
    EXPECT_EQ(c->GetReferenceCount(), 2u);
    EXPECT_EQ(c->GetRefBufferID(1), 0x11);
    EXPECT_EQ(c->GetRefChannelID(1), -1);
}

TEST_F(ChannelTest, RecordLengthFollowsTheChannelHeaderVersion)
{
    Open(7, {0, 1, 2});
    const CKVXAChannel* h0 = m_stream->GetChannel(0);
    EXPECT_EQ(h0->GetHeaderVersion(), 0);
    EXPECT_STREQ(h0->GetDecoratedName(), "47");
    EXPECT_EQ(h0->GetGain(), -1);
    EXPECT_EQ(h0->GetGroupID(), 3);

    const CKVXAChannel* h1 = m_stream->GetChannel(1);
    EXPECT_STREQ(h1->GetDecoratedName(), "47 (ref 15)");
    EXPECT_STREQ(h1->GetName(), "47 (ref 15)");
    EXPECT_EQ(h1->GetGain(), 1200);
    EXPECT_EQ(h1->GetPosX(), 0);
    EXPECT_EQ(h1->GetDisplayY(), 0);
    EXPECT_EQ(h1->GetHighF(), 0);

    const CKVXAChannel* h2 = m_stream->GetChannel(2);
    EXPECT_EQ(h2->GetPosX(), 1400);
    EXPECT_EQ(h2->GetPosY(), 1200);
    EXPECT_EQ(h2->GetPosZ(), -5);
    EXPECT_EQ(h2->GetExtendX(), 10);
    EXPECT_EQ(h2->GetExtendY(), 11);
    EXPECT_EQ(h2->GetDiameter(), 30);
    EXPECT_EQ(h2->GetDisplayX(), 6);
    EXPECT_EQ(h2->GetDisplayY(), 7);
    EXPECT_EQ(h2->GetDisplayExtendX(), 1);
    EXPECT_EQ(h2->GetDisplayExtendY(), 2);
    EXPECT_EQ(h2->GetLowF(), 1000);
    EXPECT_EQ(h2->GetHighF(), 3000000);
    EXPECT_EQ(h2->GetRefBufferID(0), 0x10);
    EXPECT_EQ(h2->GetRefChannelID(0), 4);
    EXPECT_EQ(h2->GetRefBufferID(2), -1);
    EXPECT_EQ(h2->GetRefChannelID(-1), -1);
    EXPECT_EQ(h2->GetHdrSize(), 1104u + 16u);
}

TEST_F(ChannelTest, CloneAndWriteKeepEverything)
{
    Open(7, {1});
    std::unique_ptr<CKVXAChannel> copy(m_stream->GetChannel(0)->Clone());
    EXPECT_EQ(copy->GetHeaderVersion(), 2);
    EXPECT_STREQ(copy->GetDecoratedName(), "47 (ref 15)");
    EXPECT_EQ(copy->GetRefChannelID(0), 4);
    copy->SetChID(5);
    EXPECT_EQ(copy->GetID(), 5);
    EXPECT_EQ(m_stream->GetChannel(0)->GetID(), 17);

    const std::string path = m_dir.Path("ch.bin");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(copy->WriteHdr(f), 0);
    std::fclose(f);
    f = std::fopen(path.c_str(), "rb");
    uint8_t bytes[1104 + 16 + 1];
    const std::size_t n = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    ASSERT_EQ(n, 1104u + 16u);
    EXPECT_EQ(kvd::LoadU16(bytes), 2);
    EXPECT_EQ(kvd::LoadI32(bytes + 4), 5);
    EXPECT_EQ(kvd::LoadI32(bytes + 1048), 1200);
    EXPECT_EQ(kvd::LoadU16(bytes + 1104 + 8), 0x11);
    EXPECT_EQ(kvd::LoadI32(bytes + 1104 + 12), -1);
}

TEST(Channel, WithoutARecordEverythingIsNeutral)
{
    CKVXAChannel c;
    EXPECT_EQ(c.GetID(), -1);
    EXPECT_EQ(c.GetHWID(), -1);
    EXPECT_EQ(c.GetGroupID(), -1);
    EXPECT_EQ(c.GetGain(), -1);
    EXPECT_EQ(c.GetReferenceCount(), 0u);
    EXPECT_EQ(c.GetRefBufferID(0), -1);
    EXPECT_STREQ(c.GetName(), "");
    EXPECT_EQ(c.ReadHdr(nullptr, 11), 2);
}

}  // namespace
