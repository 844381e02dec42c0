// Recordings with a stored layout, a standard layout or a stimulator chunk, opened through the reader.
#include <gtest/gtest.h>

#include "layout/KVLayout.h"
#include "reader/KVXAStreamFile.h"
#include "settings/MGrid9StimulatorProperty.h"
#include "tests/support/LayoutChunkBuilder.h"
#include "tests/support/RecordingBuilder.h"
#include "tests/support/StimulatorChunkBuilder.h"

namespace {

using kvdtest::RecordingDesc;

class LayoutRecordingTest : public ::testing::Test {
protected:
    static RecordingDesc Base()
    {
        RecordingDesc rec;
        rec.streams = {kvdtest::ElectrodeStream(4), kvdtest::TriggerStream(), kvdtest::DigitalStream()};
        return rec;
    }
    // Source type 3 with a stored layout of 16 electrodes, 2 analog inputs and a digital input.
    static RecordingDesc Stored()
    {
        RecordingDesc rec = Base();
        rec.sourceType = 3;
        rec.electrodeChannels = 16;
        rec.analogChannels = 2;
        rec.digitalChannels = 1;
        rec.totalChannels = 19;
        rec.layoutChunk = kvdtest::GridLayout(16, 2).Encode();
        return rec;
    }
    int Open(const RecordingDesc& rec) { return m_file.OpenFile(rec.WriteTo(m_dir.Path("rec.kvd")).c_str()); }

    kvdtest::TempDir m_dir;
    CKVXAStreamFile m_file;
};

TEST_F(LayoutRecordingTest, StoredLayoutOpens)
{
    ASSERT_EQ(Open(Stored()), OK);
    EXPECT_EQ(m_file.GetStreamCount(), 3);
    const CKVLayout* layout = m_file.GetLayout();
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->GetSourceType(), 3);
    ASSERT_EQ(layout->GetCount(), 19);
    EXPECT_EQ(layout->GetElectrodeName(9), "E10");
    int32_t x, y, z;
    layout->GetElectrodePoint(9, x, y, z);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(200, 200));
    EXPECT_EQ(layout->GetAmplifierName(0), "Amp 64");
    EXPECT_EQ(layout->GetMeaSubType(17), MEA_ANALOG);
    EXPECT_EQ(layout->GetMeaSubType(18), MEA_DIGITAL);

    // Every record version opens.
    for (int32_t version : {1, 2}) {
        RecordingDesc rec = Stored();
        kvdtest::LayoutChunkDesc chunk = kvdtest::GridLayout(16, 2);
        chunk.version = version;
        rec.layoutChunk = chunk.Encode();
        ASSERT_EQ(Open(rec), OK) << version;
        EXPECT_EQ(m_file.GetLayout()->GetElectrodeName(15), "E16");
        EXPECT_EQ(m_file.GetStreamCount(), 3);
    }
}

TEST_F(LayoutRecordingTest, StandardLayoutsFromTheHeader)
{
    RecordingDesc rec = Base();
    rec.electrodeChannels = 60, rec.analogChannels = 3, rec.digitalChannels = 1, rec.totalChannels = 64;
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetLayout()->GetCount(), 64);
    EXPECT_EQ(m_file.GetLayout()->GetElectrodeName(0), "47");
    EXPECT_EQ(m_file.GetLayout()->GetElectrodeName(63), "D1");

    // The second channel blocks of newer headers count too.
    rec.sourceType = 2;
    rec.electrodeChannels = 60, rec.electrodeChannels2 = 60, rec.analogChannels = 4, rec.analogChannels2 = 3;
    rec.totalChannels = 128;
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetLayout()->GetElectrodeChannels(), 120);
    EXPECT_EQ(m_file.GetLayout()->GetAnalogChannels(), 7);
    EXPECT_EQ(m_file.GetLayout()->GetDecoratedElectrodeName(64), "47B");

    rec.sourceType = 0;
    rec.electrodeChannels = 10, rec.electrodeChannels2 = 0, rec.analogChannels = 2, rec.analogChannels2 = 0;
    rec.totalChannels = 13;
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetLayout()->GetElectrodeName(12), "D1");

    // A version-0 header stands for the 60-electrode array.
    rec.version = 0;
    for (auto& s : rec.streams) s.headerVersion = 3;
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetLayout()->GetCount(), 64);
    EXPECT_EQ(m_file.GetLayout()->GetElectrodeName(61), "A2");
}

TEST_F(LayoutRecordingTest, StimulatorChunkOpens)
{
    RecordingDesc rec = Base();
    rec.stimulatorFlag = 1;
    kvdtest::StimulatorChunkDesc chunk;
    chunk.entries = {{"list", {{"g", {{1, 2}}}}}};
    rec.stimulatorChunk = chunk.Encode();
    ASSERT_EQ(Open(rec), OK);
    EXPECT_EQ(m_file.GetStreamCount(), 3);
    const CMGrid9StimulatorProperty* stim = m_file.GetStimulatorProperty();
    ASSERT_NE(stim, nullptr);
    EXPECT_EQ(stim->GetMode(), 1);
    EXPECT_EQ(stim->GetA1(2), -1000000);
    EXPECT_EQ(stim->GetAsciiPathFileName(), "stim/list.asc");
    ASSERT_EQ(stim->GetListModeEntries().size(), 1u);

    // Both chunks: the layout comes first.
    RecordingDesc both = Stored();
    both.stimulatorFlag = 1;
    both.stimulatorChunk = chunk.Encode();
    ASSERT_EQ(Open(both), OK);
    EXPECT_EQ(m_file.GetLayout()->GetCount(), 19);
    EXPECT_EQ(m_file.GetStimulatorProperty()->GetTriggerNumber(), 4);
    EXPECT_EQ(m_file.GetStreamCount(), 3);
}

TEST_F(LayoutRecordingTest, DamagedChunksRefuseTheHeader)
{
    RecordingDesc rec = Stored();
    rec.layoutChunk[3] = 'X';
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    kvdtest::LayoutChunkDesc layout = kvdtest::GridLayout(16, 2);
    layout.count = 0x7FFFFFFF;
    layout.total = 0x7FFFFFFF;
    rec.layoutChunk = layout.Encode();
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    layout = kvdtest::GridLayout(16, 2);
    layout.version = 4;
    rec.layoutChunk = layout.Encode();
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    // A layout cut short: the stream headers are not where they should be.
    rec.layoutChunk = kvdtest::GridLayout(16, 2).Encode();
    rec.layoutChunk.resize(rec.layoutChunk.size() - 100);
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    rec = Base();
    rec.stimulatorFlag = 1;
    kvdtest::StimulatorChunkDesc stim;
    stim.stimulusCount = 4;
    rec.stimulatorChunk = stim.Encode();
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    stim = kvdtest::StimulatorChunkDesc();
    stim.entries = {{"e", {{"g", {{1, 2}}, 0xFFFFFFFFu}}}};
    rec.stimulatorChunk = stim.Encode();
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    stim = kvdtest::StimulatorChunkDesc();
    stim.version = 0;
    rec.stimulatorChunk = stim.Encode();
    EXPECT_EQ(Open(rec), forWRONG_HEADER);

    // The reader still opens a sound recording afterwards.
    EXPECT_EQ(Open(Stored()), OK);
}

}  // namespace
