#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "reader/KVXAStreamFile.h"
#include "settings/KVXAInfoFilter.h"
#include "settings/MFilterProperty.h"
#include "io/MSettingsReader.h"
#include "streams/KVXAStream.h"
#include "tests/support/SettingsBlocks.h"

namespace {

using kvdtest::FilterSettingsDesc;

TEST(FilterProperty, EachBlockVersionReadsItsSections)
{
    const FilterSettingsDesc desc;
    for (uint16_t v = 0; v <= 4; ++v) {
        SCOPED_TRACE(v);
        const std::vector<uint8_t> bytes = desc.Encode(v);
        CMSettingsReader in(bytes.data(), bytes.size());
        CMFilterProperty p;
        ASSERT_TRUE(p.FromFormatInfo(in, v));
        EXPECT_EQ(in.Remaining(), 0u);
        EXPECT_EQ(p.GetPassType(), 2);
        EXPECT_EQ(p.GetPassTypeAsString(), "High Pass");
        EXPECT_EQ(p.GetFilterName(), "Butterworth 2nd order");
        EXPECT_EQ(p.GetFilterType(), FILTER_BUTTERWORTH_2ND);
        EXPECT_TRUE(p.IsIIRFilter());
        EXPECT_FALSE(p.IsSavitzkyGolayFilter());
        EXPECT_EQ(p.GetParameterNames(), desc.parameterNames);
        EXPECT_EQ(p.GetParameterUnits(), desc.parameterUnits);
        // A single value is the lower cut-off; there is no upper one.
        EXPECT_EQ(p.GetLowerCutoff(), 300);
        EXPECT_EQ(p.GetCutoff(), 300);
        EXPECT_EQ(p.GetUpperCutoff(), -1);
        EXPECT_EQ(p.GetUpperCutoffAsFloat(), -1.0f);
        const bool sg = v >= 1, bandstop = v >= 3;
        EXPECT_EQ(p.GetSGCoeff().m_Coeff, sg ? desc.sgCoefficients : std::vector<double>());
        EXPECT_EQ(p.GetSGNumDataPointsLeft(), sg ? 2 : 4);
        EXPECT_EQ(p.GetSGNumSamples(), sg ? 5 : 9);
        EXPECT_EQ(p.GetSGOrder(), sg ? 3 : 2);
        EXPECT_EQ(p.GetCenterFrequency(), bandstop ? 60.0 : 50.0);
        EXPECT_EQ(p.GetQFactor(), bandstop ? 4.0 : 2.0);
        EXPECT_EQ(p.IsDownsamplingEnabled(), bandstop);
        EXPECT_EQ(p.GetDownsamplingFrequency(), bandstop ? 1000 : 100);
    }
}

TEST(FilterProperty, ShortBlocksAndHugeCountsFailAndChangeNothing)
{
    const std::vector<uint8_t> bytes = FilterSettingsDesc().Encode(1);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        CMSettingsReader in(head.data(), head.size());
        CMFilterProperty p;
        p.SetFilterName("kept");
        EXPECT_FALSE(p.FromFormatInfo(in, 1)) << cut;
        EXPECT_EQ(p.GetFilterName(), "kept");
    }
    // Each count in turn set to 0xFFFFFFFF: the name list, unit list, value list, the obsolete lists and
    // the coefficient list.
    const FilterSettingsDesc d;
    const std::size_t names = 4 + 4 + d.filterName.size();
    const std::size_t units = names + 4 + 4 + d.parameterNames[0].size();
    const std::size_t values = units + 4 + 4 + d.parameterUnits[0].size();
    const std::size_t list1 = values + 4 + 4;
    const std::size_t list2 = list1 + 4 + 8;
    const std::size_t coeff = list2 + 4 + 4;
    for (std::size_t at : {names, units, values, list1, list2, coeff}) {
        std::vector<uint8_t> b = bytes;
        for (std::size_t i = 0; i < 4; ++i) b[at + i] = 0xFF;
        CMSettingsReader in(b.data(), b.size());
        CMFilterProperty p;
        EXPECT_FALSE(p.FromFormatInfo(in, 1)) << at;
    }
}

TEST(FilterProperty, TypeTableAndQuestions)
{
    EXPECT_EQ(CMFilterProperty::GetFilterName(8), "Savitzky-Golay");
    EXPECT_EQ(CMFilterProperty::GetFilterName(9), "");
    EXPECT_EQ(CMFilterProperty::GetFilterName(-1), "");
    for (int32_t t = 0; t < 9; ++t) {
        const std::string name = CMFilterProperty::GetFilterName(t);
        EXPECT_EQ(CMFilterProperty::GetFilterType(name), t) << name;
        EXPECT_EQ(CMFilterProperty::IsIIR(name), t != 8) << name;
        EXPECT_EQ(CMFilterProperty::IsSavitzkyGolay(name), t == 8) << name;
    }
    EXPECT_EQ(CMFilterProperty::GetFilterType("Elliptic"), FILTER_UNKNOWN);
    EXPECT_FALSE(CMFilterProperty::IsIIR("Elliptic"));

    CMFilterProperty p;
    EXPECT_EQ(p.GetPassTypeAsString(), "Undefined");
    p.SetPassType(1);
    EXPECT_EQ(p.GetPassTypeAsString(), "Low Pass");
    p.SetPassType(7);
    EXPECT_EQ(p.GetPassTypeAsString(), "Undefined");
    EXPECT_EQ(p.GetLowerCutoff(), -1);
    EXPECT_EQ(p.GetLowerCutoffAsFloat(), -1.0f);

    EXPECT_FALSE(p.SetIIRFilter(100.0f, 0.0f, 60.0, 3.0, "Bandstop Resonator", 0));
    EXPECT_EQ(p.GetFilterName(), "");
    ASSERT_TRUE(p.SetIIRFilter(3000.5f, 0.0f, 60.0, 3.0, "Bessel 4th order", 1));
    EXPECT_EQ(p.GetParameterNames(), std::vector<std::string>{"Cutoff Frequency"});
    EXPECT_EQ(p.GetParameterUnits(), std::vector<std::string>{"Hz"});
    EXPECT_EQ(p.GetLowerCutoff(), 3000);
    EXPECT_EQ(p.GetLowerCutoffAsFloat(), 3000.5f);
    EXPECT_EQ(p.GetCenterFrequency(), 60.0);

    const std::unique_ptr<CMCloneObject> copy(p.Clone());
    const auto* cloned = dynamic_cast<const CMFilterProperty*>(copy.get());
    ASSERT_TRUE(cloned);
    EXPECT_EQ(cloned->GetFilterType(), FILTER_BESSEL_4TH);
    EXPECT_EQ(cloned->GetQFactor(), 3.0);
}

TEST(FilterProperty, CutoffsOutsideThe32BitRangeSaturate)
{
    FilterSettingsDesc d;
    d.parameterValues = {1e20f, std::nanf("")};
    const std::vector<uint8_t> bytes = d.Encode(3);
    CMSettingsReader in(bytes.data(), bytes.size());
    CMFilterProperty p;
    ASSERT_TRUE(p.FromFormatInfo(in, 3));
    EXPECT_EQ(p.GetLowerCutoff(), 2147483647);
    EXPECT_EQ(p.GetUpperCutoff(), -1);
    d.parameterValues = {-1e20f, 20.0f};
    const std::vector<uint8_t> b2 = d.Encode(3);
    CMSettingsReader in2(b2.data(), b2.size());
    ASSERT_TRUE(p.FromFormatInfo(in2, 3));
    EXPECT_EQ(p.GetLowerCutoff(), -2147483647 - 1);
    EXPECT_EQ(p.GetUpperCutoff(), 20);
}

TEST(FilterProperty, BandstopTablesHoldTheOfferedValues)
{
    EXPECT_EQ(Bandstop_Frequencies[0], 50.0);
    EXPECT_EQ(Bandstop_Frequencies[1], 60.0);
    const double q[] = {1.0, 2.0, 3.0, 4.0, 5.0, 10.0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Bandstop_Q_Factors[i], q[i]) << i;
}

TEST(FilterProperty, FilterStreamsHandOutTheirFilter)
{
    kvdtest::TempDir dir;
    kvdtest::RecordingDesc rec;
    FilterSettingsDesc band;
    band.passType = 0;
    band.filterName = "Bandstop Resonator";
    band.parameterNames = {"Lower", "Upper"};
    band.parameterUnits = {"Hz", "Hz"};
    band.parameterValues = {45.0f, 55.5f};
    kvdtest::StreamDesc wrongTag = kvdtest::FilterStream(1);
    wrongTag.formatPrivate[3] = 'X';
    rec.streams = {kvdtest::FilterStream(2, band, 4), wrongTag};
    CKVXAStreamFile file;
    ASSERT_EQ(file.OpenFile(rec.WriteTo(dir.Path("f.kvd")).c_str()), OK);
    std::unique_ptr<CKVXAInfo> info(file.GetStream(0)->GetInfo());
    const auto* filter = dynamic_cast<const CKVXAInfoFilter*>(info.get());
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->GetFilterType(), FILTER_BANDSTOP_RESONATOR);
    EXPECT_EQ(filter->GetFilterName(), "Bandstop Resonator");
    EXPECT_EQ(filter->GetFilterName(8), "Savitzky-Golay");
    EXPECT_EQ(filter->GetLowerCutoff(), 45);
    EXPECT_EQ(filter->GetUpperCutoff(), 55);
    EXPECT_EQ(filter->GetUpperCutoffAsFloat(), 55.5f);
    EXPECT_EQ(filter->GetCenterFrequency(), 60.0);
    EXPECT_EQ(file.GetStream(1)->GetInfo(), nullptr);
}

}  // namespace
