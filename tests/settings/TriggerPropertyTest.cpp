#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "settings/KVXAInfoTrigger.h"
#include "settings/MMEATriggerProperty.h"
#include "io/MSettingsReader.h"
#include "streams/KVXAStream.h"
#include "tests/support/EventRecords.h"
#include "tests/support/RecordingBuilder.h"

namespace {

using kvdtest::OldSpikeListDesc;
using kvdtest::TriggerSettingsDesc;

constexpr int32_t kWriter2 = (2 << 16) | 9;
constexpr int32_t kWriter3 = (3 << 16) | 0;

TriggerSettingsDesc Settings()
{
    TriggerSettingsDesc s;
    s.words = {7, 21, 31, 41, -2505, 61, -1, 12, 1, 101, 111, 121, 131, 141};
    s.digitalTrigger = 1;
    s.digitalValue = 5;
    s.digitalType = 2;
    s.inputBufferId = std::string("anlg0002\0xx", 11);
    s.digitalMask = 0x0F;
    s.parameterTrigger = 1;
    s.parameterWord = 4;
    s.parameter = "Amplitude";
    s.parameterUnit = "V";
    s.trialSynchronization = 1;
    return s;
}

TEST(TriggerProperty, DefaultsBeforeAnyRecordIsRead)
{
    const CMMEATriggerProperty p;
    EXPECT_EQ(p.GetDeadTime(), 2);
    EXPECT_EQ(p.GetLevel(), -1200);
    EXPECT_EQ(p.GetSlope(), 1);
    EXPECT_EQ(p.GetTriggeredStreamId(), 0xFFFF);
    EXPECT_EQ(p.GetWord(12), 0);
    EXPECT_EQ(p.GetDigitalTriggerMask(), 1);
    EXPECT_EQ(p.GetParameterWord(), -1);
    EXPECT_FALSE(p.GetTrialSynchronization());
}

// Reads one record of block version v written with or without the parameter section; checks that the
// record is consumed exactly.
CMMEATriggerProperty ReadRecord(const TriggerSettingsDesc& desc, uint16_t v, int32_t writer)
{
    const std::vector<uint8_t> bytes = desc.Encode(v, (writer >> 16) >= 3);
    CMSettingsReader in(bytes.data(), bytes.size());
    CMMEATriggerProperty p;
    EXPECT_TRUE(p.ReadTriggerFormatInfo(in, v, writer));
    EXPECT_EQ(in.Remaining(), 0u);
    return p;
}

TEST(TriggerProperty, ReadsEveryBlockVersion)
{
    const TriggerSettingsDesc desc = Settings();
    for (uint16_t v = 0; v <= 7; ++v) {
        SCOPED_TRACE(v);
        const CMMEATriggerProperty p = ReadRecord(desc, v, kWriter3);
        for (int k = 1; k <= 14; ++k) EXPECT_EQ(p.GetWord(k), desc.words[k - 1]) << k;
        if (v <= 2) {
            // Old records carry only the words; the digital settings and the input follow from them.
            EXPECT_FALSE(p.IsDigitalTrigger());
            EXPECT_EQ(p.GetDigitalTriggerValue(), 0);
            EXPECT_EQ(p.GetDigitalTriggerType(), 1);
            EXPECT_EQ(p.GetDigitalTriggerMask(), 0xFFFF);
            EXPECT_EQ(p.GetInputBufferID(), "anlg0001");
        } else {
            EXPECT_TRUE(p.IsDigitalTrigger());
            EXPECT_EQ(p.GetDigitalTriggerValue(), 5);
            EXPECT_EQ(p.GetDigitalTriggerType(), 2);
            EXPECT_EQ(p.GetDigitalTriggerMask(), 0x0F);
            EXPECT_STREQ(p.GetInputBufferID().c_str(), "anlg0002");
            EXPECT_EQ(p.GetInputBufferID().size(), 11u);
        }
        EXPECT_EQ(p.IsParameterTrigger(), v >= 4);
        EXPECT_EQ(p.GetParameterWord(), v >= 4 ? 4 : -1);
        EXPECT_EQ(p.GetParameter(), v >= 4 ? "Amplitude" : "");
        EXPECT_EQ(p.GetParameterUnit(), v >= 4 ? "V" : "");
        EXPECT_EQ(p.GetTrialSynchronization(), v >= 6);
    }
}

TEST(TriggerProperty, ParameterSectionOnlyFromWriterMajorVersion3)
{
    const TriggerSettingsDesc desc = Settings();
    const CMMEATriggerProperty old = ReadRecord(desc, 5, kWriter2);
    EXPECT_FALSE(old.IsParameterTrigger());
    EXPECT_EQ(old.GetParameter(), "");
    const CMMEATriggerProperty current = ReadRecord(desc, 5, kWriter3);
    EXPECT_TRUE(current.IsParameterTrigger());
    EXPECT_EQ(current.GetParameter(), "Amplitude");
    // Version 6 ends with the trial synchronization byte also without the parameter section.
    EXPECT_TRUE(ReadRecord(desc, 6, kWriter2).GetTrialSynchronization());
}

TEST(TriggerProperty, OldImagesKeepDefaultsForWordsTheyDoNotHold)
{
    TriggerSettingsDesc desc = Settings();
    desc.words[8] = 2;      // digital source
    desc.imageLength = 34;  // words 1 to 7 and half of word 8
    const CMMEATriggerProperty p = ReadRecord(desc, 2, kWriter3);
    EXPECT_EQ(p.GetWord(7), -1);
    EXPECT_EQ(p.GetChannel(), 0);
    EXPECT_EQ(p.GetTriggeredStreamId(), 0xFFFF);
    EXPECT_EQ(p.GetInputBufferID(), "");

    desc.imageLength = 200;  // longer images are skipped past their words
    const CMMEATriggerProperty q = ReadRecord(desc, 1, kWriter3);
    EXPECT_EQ(q.GetTriggeredStreamId(), 2);
    EXPECT_EQ(q.GetInputBufferID(), "digi0001");
}

TEST(TriggerProperty, ShortBlocksFailWithoutReadingPastTheirEnd)
{
    const TriggerSettingsDesc desc = Settings();
    for (uint16_t v : {2, 3, 5, 6}) {
        const std::vector<uint8_t> bytes = desc.Encode(v, true);
        for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
            // An exact-size copy, so that the sanitizers see any read beyond it.
            std::vector<uint8_t> head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            CMSettingsReader in(head.data(), head.size());
            CMMEATriggerProperty p;
            EXPECT_FALSE(p.ReadTriggerFormatInfo(in, v, kWriter3)) << v << " " << cut;
        }
    }
    // An image length beyond the bytes.
    TriggerSettingsDesc huge = desc;
    huge.imageLength = 60;
    std::vector<uint8_t> bytes = huge.Encode(2, true);
    bytes[0] = 0xFF;
    bytes[3] = 0x7F;
    CMSettingsReader in(bytes.data(), bytes.size());
    CMMEATriggerProperty p;
    EXPECT_FALSE(p.ReadTriggerFormatInfo(in, 2, kWriter3));
}

TEST(TriggerProperty, OldSpikeListsAndTheirWindow)
{
    OldSpikeListDesc list;
    list.records = {Settings(), Settings()};
    list.records[0].words[0] = 3;  // dead time
    list.records[0].words[2] = 2;  // window start
    list.records[0].words[3] = 5;  // window end
    list.records[1].words[7] = 9;
    list.p = 11;
    list.q = 200000000;
    list.r = 33;
    for (uint16_t v : {1, 2, 3, 4}) {
        SCOPED_TRACE(v);
        const std::vector<uint8_t> bytes = list.Encode(v, true);
        CMSettingsReader in(bytes.data(), bytes.size());
        std::vector<std::unique_ptr<CMMEATriggerProperty>> records;
        records.push_back(std::make_unique<CMMEATriggerProperty>());
        uint32_t P = 0, Q = 0, R = 0;
        ASSERT_TRUE(CMMEATriggerProperty::ReadSpikeFormatInfo(in, CMMEATriggerProperty::kNoBound, v, records, P, Q, R,
                                                              kWriter3));
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[1]->GetChannel(), 9);
        EXPECT_EQ(in.Remaining(), 0u);
        if (v == 3) {
            EXPECT_EQ(P, 3000000u);
            EXPECT_EQ(Q, 2000000u);
            EXPECT_EQ(R, 3000000u);
        } else {
            EXPECT_EQ(P, 11u);
            EXPECT_EQ(Q, v <= 2 ? 1000000u : 200000000u);
            EXPECT_EQ(R, 33u);
        }
    }
    // Version 0 reads nothing and leaves P, Q and R alone.
    CMSettingsReader none(nullptr, 0);
    std::vector<std::unique_ptr<CMMEATriggerProperty>> records;
    uint32_t P = 1, Q = 2, R = 3;
    EXPECT_TRUE(CMMEATriggerProperty::ReadSpikeFormatInfo(none, CMMEATriggerProperty::kNoBound, 0, records, P, Q, R));
    EXPECT_EQ(P + Q + R, 6u);
}

TEST(TriggerProperty, OldSpikeListsThatBreakTheirLimitsFail)
{
    OldSpikeListDesc list;
    list.records = {Settings(), Settings()};
    const std::vector<uint8_t> bytes = list.Encode(4, true);
    uint32_t P = 0, Q = 0, R = 0;
    {
        // An end bound inside the second record: the records read stay in the list.
        CMSettingsReader in(bytes.data(), bytes.size());
        std::vector<std::unique_ptr<CMMEATriggerProperty>> records;
        const uint32_t bound = static_cast<uint32_t>(4 + Settings().Encode(4, true).size() + 10);
        EXPECT_FALSE(CMMEATriggerProperty::ReadSpikeFormatInfo(in, bound, 4, records, P, Q, R, kWriter3));
        EXPECT_EQ(records.size(), 2u);
    }
    {
        // The bytes end before P, Q and R.
        CMSettingsReader in(bytes.data(), bytes.size() - 4);
        std::vector<std::unique_ptr<CMMEATriggerProperty>> records;
        EXPECT_FALSE(CMMEATriggerProperty::ReadSpikeFormatInfo(in, CMMEATriggerProperty::kNoBound, 4, records, P, Q, R,
                                                               kWriter3));
    }
    {
        // More than 128 records.
        OldSpikeListDesc many;
        many.count = 129;
        const std::vector<uint8_t> b = many.Encode(4, true);
        CMSettingsReader in(b.data(), b.size());
        std::vector<std::unique_ptr<CMMEATriggerProperty>> records;
        EXPECT_FALSE(CMMEATriggerProperty::ReadSpikeFormatInfo(in, CMMEATriggerProperty::kNoBound, 4, records, P, Q, R,
                                                               kWriter3));
        EXPECT_TRUE(records.empty());
    }
}

// ---- Information blocks of streams ------------------------------------------------------------------------

class StreamInfoTest : public ::testing::Test {
protected:
    // Opens a recording written by `writer` whose streams carry the given private bytes.
    CKVXAStreamFile& Open(CKVXAStreamFile& file, const std::string& name, uint32_t writer,
                          const std::vector<kvdtest::StreamDesc>& streams)
    {
        kvdtest::RecordingDesc rec;
        rec.softwareWord1 = writer;
        rec.streams = streams;
        EXPECT_EQ(file.OpenFile(rec.WriteTo(m_dir.Path(name)).c_str()), OK);
        return file;
    }
    static kvdtest::StreamDesc Trigger(uint16_t h, std::vector<uint8_t> bytes)
    {
        kvdtest::StreamDesc s = kvdtest::TriggerStream();
        s.headerVersion = h;
        s.formatPrivate = std::move(bytes);
        return s;
    }

    kvdtest::TempDir m_dir;
};

TEST_F(StreamInfoTest, TriggerStreamsHandOutTheirDetectorSettings)
{
    CKVXAStreamFile file;
    Open(file, "a.kvd", kWriter3, {Trigger(6, kvdtest::TriggerSettingsBlock(Settings(), 6, true))});
    std::unique_ptr<CKVXAInfo> info(file.GetStream(0)->GetInfo());
    auto* trig = dynamic_cast<CKVXAInfoTrigger*>(info.get());
    ASSERT_TRUE(trig);
    EXPECT_EQ(trig->GetChannel(), 12);
    EXPECT_EQ(trig->GetDeadTime(), 7);
    EXPECT_EQ(trig->GetLevel(), -250);  // -2505 tenths, truncated toward zero
    EXPECT_EQ(trig->GetSlope(), -1);
    EXPECT_EQ(trig->GetTriggeredStreamId(), 1);
    EXPECT_STREQ(trig->GetInputBufferID(), "anlg0002");
    EXPECT_TRUE(trig->IsDigitalTrigger());
    EXPECT_EQ(trig->GetDigitalTriggerValue(), 5);
    EXPECT_EQ(trig->GetDigitalTriggerMask(), 0x0F);
    EXPECT_EQ(trig->GetDigitalTriggerType(), 2);
    EXPECT_TRUE(trig->IsParameterTrigger());
    EXPECT_STREQ(trig->GetParameter(), "Amplitude");
    EXPECT_STREQ(trig->GetParameterUnit(), "V");
    EXPECT_TRUE(trig->TrialSynchronization());
    // Every call makes a new block.
    std::unique_ptr<CKVXAInfo> again(file.GetStream(0)->GetInfo());
    EXPECT_NE(again.get(), info.get());
}

TEST_F(StreamInfoTest, EachStreamReadsWithTheWriterVersionOfItsOwnFile)
{
    CKVXAStreamFile current, old;
    Open(current, "current.kvd", kWriter3, {Trigger(5, kvdtest::TriggerSettingsBlock(Settings(), 5, true))});
    Open(old, "old.kvd", kWriter2, {Trigger(5, kvdtest::TriggerSettingsBlock(Settings(), 5, false))});
    // The file opened last set the process-wide version to 2; the first file still reads its section.
    std::unique_ptr<CKVXAInfo> a(current.GetStream(0)->GetInfo());
    std::unique_ptr<CKVXAInfo> b(old.GetStream(0)->GetInfo());
    ASSERT_TRUE(dynamic_cast<CKVXAInfoTrigger*>(a.get()));
    ASSERT_TRUE(dynamic_cast<CKVXAInfoTrigger*>(b.get()));
    EXPECT_TRUE(dynamic_cast<CKVXAInfoTrigger&>(*a).IsParameterTrigger());
    EXPECT_FALSE(dynamic_cast<CKVXAInfoTrigger&>(*b).IsParameterTrigger());
}

TEST_F(StreamInfoTest, NoBlockForWrongTagsShortBlocksOrOtherTypes)
{
    std::vector<uint8_t> wrongTag = kvdtest::TriggerSettingsBlock(Settings(), 6, true);
    wrongTag[7] = 'K';
    std::vector<uint8_t> truncated = kvdtest::TriggerSettingsBlock(Settings(), 6, true);
    truncated.pop_back();
    kvdtest::StreamDesc analog = kvdtest::ElectrodeStream(1);
    analog.formatPrivate = kvdtest::TriggerSettingsBlock(Settings(), 6, true);
    kvdtest::StreamDesc spikes = kvdtest::SpikeStream(1, 8);
    spikes.formatPrivate = {'P', 'A', 'R', 'A', 'M', 'T', 'R', 'G', 0, 0, 0, 0};
    CKVXAStreamFile file;
    Open(file, "b.kvd", kWriter3,
         {Trigger(6, wrongTag), Trigger(6, truncated), Trigger(6, {'P', 'A', 'R'}), Trigger(6, {}), analog, spikes});
    for (int i = 0; i < file.GetStreamCount(); ++i) EXPECT_EQ(file.GetStream(i)->GetInfo(), nullptr) << i;
}

}  // namespace
