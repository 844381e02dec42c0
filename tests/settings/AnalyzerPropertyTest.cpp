#include <gtest/gtest.h>

#include <cfloat>
#include <memory>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "settings/KVXAInfoBurstParameter.h"
#include "settings/KVXAInfoParam.h"
#include "settings/KVXAInfoSpikeParameter.h"
#include "settings/MGenericParameterEventDataIterator.h"
#include "io/MSettingsReader.h"
#include "streams/KVXAStream.h"
#include "tests/support/AnalyzerBlocks.h"
#include "tests/support/EventRecords.h"

namespace {

using kvdtest::AnalyzerSettingsDesc;

// The stream format of the analyzer tests: 16 bits, zero at 32768, 0.1 uV per step.
constexpr uint16_t kBits = 16, kZero = 32768;
constexpr double kUnitsPerAD = 1e-7;

std::unique_ptr<CKVXAInfoParam> Read(const std::vector<uint8_t>& bytes, uint16_t v, uint32_t budget = 0xFFFFFFFF)
{
    auto info = std::make_unique<CKVXAInfoParam>();
    CMSettingsReader in(bytes.data(), bytes.size());
    if (!info->ReadAnalyzerFormatInfo(in, budget, v, kBits, kZero, kUnitsPerAD)) return nullptr;
    return info;
}

TEST(AnalyzerPropertyTest, RecordedFlagsGivePositionsAndTheTablesTheirUnitsAndRanges)
{
    AnalyzerSettingsDesc d = kvdtest::RecordedParameters({0, 2, 8});
    for (uint16_t v : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE(v);
        const auto info = Read(d.Encode(v), v);
        ASSERT_TRUE(info);
        const std::vector<int32_t> expected = {0, -1, 1, -1, -1, -1, -1, -1, 2, -1, -1, -1, -1, -1, -1};
        for (int i = 0; i < 15; ++i) EXPECT_EQ(info->Position(i), expected[i]) << i;
        EXPECT_EQ(info->MinPos(), 0);
        EXPECT_EQ(info->TMinPos(), 1);
        EXPECT_EQ(info->NumberPos(), 2);
        EXPECT_EQ(info->SlopePos(), -1);
        EXPECT_EQ(info->GetChannelSize(), 4 + 8 + 2);
        EXPECT_STREQ(info->InputBufferName(), "elec0001");
        EXPECT_EQ(info->GetAnalyzerProperty().GetSecondWord(), 0);
        EXPECT_EQ(info->GetAnalyzerProperty().GetSecondName(), v > 3 ? "second" : "");
        // The time window: numbers from version 2 on, names from version 4 on.
        EXPECT_EQ(info->TimeWindowChoice(), v > 1 ? 2 : -1);
        EXPECT_EQ(info->TimeWindowTime1(), v > 1 ? 50.0 : 1000.0);
        EXPECT_EQ(info->TimeWindowStartTriggerID(), v > 1 ? 1 : 0xFFFF);
        EXPECT_EQ(info->GetTimeWindowProperty().GetFirstTriggerName(), v > 3 ? "Trigger 1" : "");

        const AnalyzerParamTable& p = info->GetParams();
        // AD bits 16, zero 32768, 1e-7 per step: "Min" runs from -4000 to 4000 (microvolts).
        EXPECT_FLOAT_EQ(p[kParamMin].m_fMin, -4000.0f);
        EXPECT_FLOAT_EQ(p[kParamMin].m_fMax, 4000.0f);
        EXPECT_EQ(p[kParamMin].m_strName, "Min");
        EXPECT_EQ(p[kParamMin].m_iExponent, -6);
        EXPECT_EQ(p[kParamHeight].m_fMin, 0.0f);
        EXPECT_EQ(p[kParamTMin].m_dFactor, 1000.0);
        EXPECT_EQ(p[kParamTMin].m_iUnitType, 3);
        EXPECT_EQ(p[kParamArea].m_dFactor, 1e6);
        EXPECT_EQ(p[kParamArea].m_iUnitType, 4);
        EXPECT_EQ(p[kParamSlope30_70].m_strName, "Slope 30%-70");
        EXPECT_EQ(p[kParamSlope30_70].m_fMin, -1.0f);
        EXPECT_EQ(p[kParamUnused].m_strName, "param 14");  // left as read
        EXPECT_EQ(p[kParamTMin].m_bSelected, 1);
        EXPECT_EQ(p[kParamMax].m_bSelected, 0);
    }
    d.thirdWord = 77;
    d.secondWord = 5;
    const auto v5 = Read(d.Encode(5), 5);
    ASSERT_TRUE(v5);
    EXPECT_EQ(v5->GetAnalyzerProperty().GetThirdWord(), 77);
    EXPECT_EQ(v5->GetAnalyzerProperty().GetSecondWord(), 5);
}

TEST(AnalyzerPropertyTest, VersionZeroSelectsNothingButKeepsTheRecordSizeOfThePositions)
{
    const AnalyzerSettingsDesc d = kvdtest::RecordedParameters({0, 1, 9});
    const auto info = Read(d.Encode(0), 0);
    ASSERT_TRUE(info);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(info->Position(i), -1) << i;
        EXPECT_EQ(info->GetParams()[i].m_bSelected, 0) << i;
    }
    EXPECT_EQ(info->GetChannelSize(), 12);
    EXPECT_STREQ(info->InputBufferName(), "not recorded");
}

TEST(AnalyzerPropertyTest, ABlockEndingAfterTheNameLengthKeepsTheTablesAsRead)
{
    AnalyzerSettingsDesc d = kvdtest::RecordedParameters({0, 2});
    d.endAfterNameLength = true;
    d.params[0].name = "as read";
    const auto info = Read(d.Encode(3), 3);
    ASSERT_TRUE(info);
    EXPECT_STREQ(info->InputBufferName(), "not recorded");
    EXPECT_EQ(info->GetParams()[0].m_strName, "as read");
    EXPECT_EQ(info->Position(2), 1);  // the positions as stored
    EXPECT_EQ(info->TimeWindowChoice(), -1);
}

TEST(AnalyzerPropertyTest, DamagedBlocksFail)
{
    const AnalyzerSettingsDesc good = kvdtest::RecordedParameters({0, 5, 9});
    std::vector<std::pair<const char*, std::vector<uint8_t>>> cases;
    for (const char* tag : {"FMTBLPAR", "PSTBLPAR", "PRTBLPAR"}) {
        std::vector<uint8_t> bytes = good.Encode(5);
        for (std::size_t i = 0; i + 8 <= bytes.size(); ++i)
            if (std::memcmp(bytes.data() + i, tag, 8) == 0) {
                bytes[i] = 'X';
                break;
            }
        cases.emplace_back(tag, bytes);
    }
    AnalyzerSettingsDesc d = good;
    d.widths.push_back(4);  // 16 widths
    cases.emplace_back("16 widths", d.Encode(5));
    d = good;
    d.positions.push_back(-1);
    cases.emplace_back("16 positions", d.Encode(5));
    d = good;
    d.mode = 2;
    cases.emplace_back("analyzer mode 2", d.Encode(5));
    d = good;
    d.widths[5] = 70000;
    cases.emplace_back("record size beyond 16 bits", d.Encode(5));
    for (const auto& c : cases) EXPECT_FALSE(Read(c.second, 5)) << c.first;

    // Every truncation of the block fails, except the one right after the name's length, which is complete.
    const std::vector<uint8_t> bytes = good.Encode(5);
    AnalyzerSettingsDesc lengthOnly = good;
    lengthOnly.endAfterNameLength = true;
    const std::size_t complete = lengthOnly.Encode(5).size();
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(Read(prefix, 5) != nullptr, n == complete) << n;
    }
    // A budget shorter than the bytes bounds the reader the same way.
    EXPECT_FALSE(Read(bytes, 5, static_cast<uint32_t>(bytes.size() - 1)));
    EXPECT_TRUE(Read(bytes, 5, static_cast<uint32_t>(bytes.size())));
}

// ---- Decoding records ------------------------------------------------------------------------------------

struct WalkCase {
    const char* name;
    int index;
    uint32_t width;
    uint64_t raw;
    int32_t headerVersion;
    float expected;
};

TEST(ParameterWalkerTest, DecodesEachKindOfParameter)
{
    const float volt = static_cast<float>(kUnitsPerAD);
    const WalkCase cases[] = {
        {"Min, 4 bytes", kParamMin, 4, 32768 + 100, 5, static_cast<float>(100.0L * volt)},
        {"Min, 4 bytes, no value", kParamMin, 4, 0xFFFFFFFF, 5, FLT_MAX},
        {"Max, 2 bytes", kParamMax, 2, 32768 - 20, 5, static_cast<float>(-20.0L * volt)},
        {"Max, 2 bytes, no value", kParamMax, 2, 0xFFFF, 5, FLT_MAX},
        {"Height, 8 bytes: not decoded", kParamHeight, 8, 5, 5, 0.0f},
        {"T-Min", kParamTMin, 8, 2500000, 5, 2.5f},
        {"T-Max, no value", kParamTMax, 8, 0, 5, FLT_MAX},
        {"Width up to 1e12", kParamWidth, 8, 1000000000000ULL, 5, 1e12f},
        {"Width beyond 1e12", kParamWidth, 8, 1000000000001ULL * 7, 5, 7000.0f},
        {"Width, no value", kParamWidth, 8, 0, 5, FLT_MAX},
        {"Ampl.", kParamAmplitude, 4, 32768 + 10, 5, static_cast<float>(10.0L * volt)},
        {"Area", kParamArea, 4, 30, 5, static_cast<float>(30.0L * volt)},
        {"Area, no value", kParamArea, 4, 0, 5, FLT_MAX},
        {"Number", kParamNumber, 2, 42, 5, 42.0f},
        {"Rate as f32", kParamRate, 4, kvdtest::FloatBits(12.5f), 3, 12.5f},
        {"Rate as u32 before version 3", kParamRate, 4, 12, 2, 12.0f},
        {"Slope", kParamSlope, 4, kvdtest::FloatBits(-0.75f), 5, -0.75f},
        {"Slope 30-70", kParamSlope30_70, 4, kvdtest::FloatBits(0.5f), 5, 0.5f},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.name);
        AnalyzerSettingsDesc d = kvdtest::RecordedParameters({c.index});
        d.widths[static_cast<std::size_t>(c.index)] = c.width;
        const auto info = Read(d.Encode(5), 5);
        ASSERT_TRUE(info);
        // Two channels; the second holds the case's value.
        kvdtest::ParamsRecord record{0, {{0}, {c.raw}}};
        const std::vector<uint8_t> bytes = record.Encode(d);
        CMGenericParameterEventDataIterator walker(2, info->GetChannelSize(), bytes.data() + 8,
                                                   &info->GetAnalyzerProperty(), &info->GetParams(), kZero, kUnitsPerAD,
                                                   c.headerVersion);
        std::vector<float> values;
        ASSERT_TRUE(walker.GetRealWorldData(1, values));
        ASSERT_EQ(values.size(), 1u);
        EXPECT_EQ(values[0], c.expected);
    }
}

TEST(ParameterWalkerTest, StaysInsideTheRecord)
{
    AnalyzerSettingsDesc d = kvdtest::RecordedParameters({0, 8, 9});
    const auto info = Read(d.Encode(5), 5);
    ASSERT_TRUE(info);
    const std::vector<uint8_t> bytes =
        kvdtest::ParamsRecord{0, {{32768 + 1, 3, kvdtest::FloatBits(1.5f)}, {32768 + 2, 4, kvdtest::FloatBits(2.5f)}}}
            .Encode(d);
    const auto walker = [&](uint16_t channels, int32_t size) {
        return CMGenericParameterEventDataIterator(channels, size, bytes.data() + 8, &info->GetAnalyzerProperty(),
                                                   &info->GetParams(), kZero, kUnitsPerAD, 5);
    };
    std::vector<float> values;
    EXPECT_TRUE(walker(2, 10).GetRealWorldData(1, values));
    EXPECT_EQ(values, (std::vector<float>{static_cast<float>(2 * kUnitsPerAD), 4.0f, 2.5f}));
    EXPECT_FALSE(walker(2, 10).GetRealWorldData(2, values));
    EXPECT_FALSE(walker(2, 10).GetRealWorldData(-1, values));
    // A block size too small for the table: the walk stops at the block's end and reports it.
    EXPECT_FALSE(walker(2, 6).GetRealWorldData(0, values));
    EXPECT_FALSE(CMGenericParameterEventDataIterator::TableFits(info->GetAnalyzerProperty(), info->GetParams(), 9));
    EXPECT_TRUE(CMGenericParameterEventDataIterator::TableFits(info->GetAnalyzerProperty(), info->GetParams(), 10));
    // Built without data it walks nothing.
    CMGenericParameterEventDataIterator empty;
    EXPECT_FALSE(empty.GetRealWorldData(0, values));
    EXPECT_FALSE(empty.SetStartPos());
    EXPECT_EQ(empty.GetWord(), 0);

    // Nothing selected: an empty list for every channel of the record.
    const auto none = Read(kvdtest::RecordedParameters({0}).Encode(0), 0);
    ASSERT_TRUE(none);
    CMGenericParameterEventDataIterator unselected(2, 4, bytes.data() + 8, &none->GetAnalyzerProperty(),
                                                   &none->GetParams(), kZero, kUnitsPerAD, 5);
    EXPECT_TRUE(unselected.GetRealWorldData(1, values));
    EXPECT_TRUE(values.empty());
}

TEST(ParameterWalkerTest, SetDataWritesWhatGetRealWorldDataReads)
{
    const auto info = Read(kvdtest::RecordedParameters({1, 3, 8, 10}).Encode(5), 5);
    ASSERT_TRUE(info);
    std::vector<uint8_t> block(info->GetChannelSize() * 2, 0);
    CMGenericParameterEventDataIterator writer(2, info->GetChannelSize(), block.data(), &info->GetAnalyzerProperty(),
                                               &info->GetParams(), kZero, kUnitsPerAD, 5, block.data());
    ASSERT_TRUE(writer.SetStartPos());
    ASSERT_TRUE(writer.NextChannel());
    AnalyzerData data;
    data.m_dwMax = 32768 + 50;
    data.m_qwTMax = 4000000;
    data.m_wNumber = 9;
    data.m_fSlope = 0.25f;
    writer.SetData(data);
    std::vector<float> values;
    ASSERT_TRUE(writer.GetRealWorldData(1, values));
    EXPECT_EQ(values,
              (std::vector<float>{static_cast<float>(50.0L * static_cast<float>(kUnitsPerAD)), 4.0f, 9.0f, 0.25f}));
}

// ---- Spike and burst analyzers -------------------------------------------------------------------------

TEST(UnitAnalyzerTest, ReadsTheDescriptionsFlagsAndSettings)
{
    kvdtest::UnitAnalyzerDesc d;
    d.params = {{0.0f, 50.0f, 0, 2.0, -6, 1, "ISI2"}, {1.0f, 9.0f, 1, 1.0, 0, 5, std::string("R\0x", 3)}};
    d.unitSelected = {0, 1};

    CKVXAInfoSpikeParameter spike;
    const std::vector<uint8_t> sb = kvdtest::SpikeAnalyzerBlock(d);
    CMSettingsReader in(sb.data() + 8, sb.size() - 8);
    ASSERT_TRUE(spike.ReadSpikeParameterFormatInfo(in));
    EXPECT_STREQ(spike.InputBufferName(), "spks0001");
    EXPECT_EQ(spike.ParameterCount(), 3);
    EXPECT_STREQ(spike.ParameterName(0), "ISI2");
    EXPECT_EQ(spike.GetProperty().m_arrSpikeParams[1].m_strName.size(), 3u);  // counted exactly
    EXPECT_FALSE(spike.ParameterSelected(0));
    EXPECT_TRUE(spike.ParameterSelected(1));
    EXPECT_EQ(spike.ParameterFactor(0), 2.0);
    EXPECT_EQ(spike.ParameterExponent(0), -6);
    EXPECT_EQ(spike.ParameterUnit(0), "s");
    EXPECT_EQ(spike.ParameterUnit(1), "Hz");
    // The third description keeps its default.
    EXPECT_STREQ(spike.ParameterName(2), "Timestamp");
    EXPECT_EQ(spike.ParameterUnit(2), "");
    EXPECT_EQ(spike.UnitCount(), 4);
    EXPECT_FALSE(spike.UnitSelected(0));
    EXPECT_TRUE(spike.UnitSelected(1));
    EXPECT_FALSE(spike.UnitSelected(2));
    EXPECT_EQ(spike.UnitSortMethod(), 2);
    // Indexes outside the tables answer neutrally.
    EXPECT_STREQ(spike.ParameterName(3), "");
    EXPECT_FALSE(spike.ParameterSelected(-1));
    EXPECT_FALSE(spike.UnitSelected(4));

    CKVXAInfoBurstParameter burst;
    const std::vector<uint8_t> bb = kvdtest::BurstAnalyzerBlock(d);
    CMSettingsReader bin(bb.data() + 8, bb.size() - 8);
    ASSERT_TRUE(burst.ReadBurstParameterFormatInfo(bin));
    EXPECT_STREQ(burst.ParameterName(2), "Spike Number");
    EXPECT_EQ(burst.BurstSettings(), (std::array<int32_t, 5>{{5000, 6000, 7000, 8000, 3}}));
    EXPECT_EQ(burst.UnitSortMethod(), 2);

    // Defaults of an analyzer that read nothing.
    CMBurstAnalyzerProperty defaults;
    EXPECT_EQ(defaults.m_arrBurstSettings, (std::array<int32_t, 5>{{10000, 10000, 10000, 20000, 4}}));
    EXPECT_TRUE(defaults.IsParamEnabled(0));
    EXPECT_FALSE(defaults.IsParamEnabled(3));
    defaults.SetParamEnabled(1, true);
    EXPECT_TRUE(defaults.IsParamEnabled(1));
    std::unique_ptr<CMCloneObject> copy(defaults.Clone());
    EXPECT_TRUE(dynamic_cast<CMBurstAnalyzerProperty&>(*copy).IsParamEnabled(1));
}

TEST(UnitAnalyzerTest, CountsBeyondTheTablesAndShortBlocksFail)
{
    kvdtest::UnitAnalyzerDesc d;
    d.params.resize(4);
    std::vector<uint8_t> bytes = d.Encode(false);
    CMSpikeAnalyzerProperty spike;
    CMSettingsReader four(bytes.data(), bytes.size());
    EXPECT_FALSE(CMSpikeAnalyzerProperty::ReadSpikeParameterFormatInfo(four, spike));

    d.params.resize(1);
    d.unitSelected.assign(5, 1);
    bytes = d.Encode(false);
    CMSettingsReader five(bytes.data(), bytes.size());
    EXPECT_FALSE(CMSpikeAnalyzerProperty::ReadSpikeParameterFormatInfo(five, spike));

    d.unitSelected.assign(4, 1);
    bytes = d.Encode(true);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        CMBurstAnalyzerProperty burst;
        CMSettingsReader in(bytes.data(), n);
        EXPECT_FALSE(CMBurstAnalyzerProperty::ReadBurstParameterFormatInfo(in, burst)) << n;
    }
}

TEST(UnitAnalyzerTest, StreamsGiveTheirAnalyzerBlocks)
{
    kvdtest::TempDir dir;
    kvdtest::RecordingDesc rec;
    kvdtest::UnitAnalyzerDesc d;
    d.params = {{0.0f, 10.0f, 1, 1.0, -3, 3, "ISI"}};
    rec.streams = {kvdtest::SpikeParameterStream(2), kvdtest::BurstParameterStream(2), kvdtest::ParamsStream(2),
                   kvdtest::SpikeParameterStream(2, 2, "sppa0002", 9)};
    rec.streams[0].formatPrivate = kvdtest::SpikeAnalyzerBlock(d);
    rec.streams[1].formatPrivate = kvdtest::BurstAnalyzerBlock(d);
    rec.streams[2].formatPrivate = kvdtest::RecordedParameters({0, 1}).Encode(5);
    rec.streams[3].formatPrivate = kvdtest::BurstAnalyzerBlock(d);  // the wrong tag
    CKVXAStreamFile file;
    ASSERT_EQ(file.OpenFile(rec.WriteTo(dir.Path("a.kvd")).c_str()), OK);
    std::unique_ptr<CKVXAInfo> spp(file.GetStream(0)->GetInfo()), bsp(file.GetStream(1)->GetInfo()),
        par(file.GetStream(2)->GetInfo()), wrong(file.GetStream(3)->GetInfo());
    ASSERT_TRUE(dynamic_cast<CKVXAInfoSpikeParameter*>(spp.get()));
    EXPECT_TRUE(dynamic_cast<CKVXAInfoBurstParameter*>(bsp.get()));
    auto* param = dynamic_cast<CKVXAInfoParam*>(par.get());
    ASSERT_TRUE(param);
    EXPECT_EQ(param->MaxPos(), 1);
    EXPECT_EQ(wrong, nullptr);
}

}  // namespace
