#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "settings/KVStreamProperty.h"

namespace {

TEST(UnitType, UnitStringsAndExponents)
{
    const char* units[] = {"V", "s", "s", "s", "Vs", "Hz", "", "V/s", ""};
    const int exponents[] = {-6, -9, -9, -9, -15, 0, 0, -3, -6};
    for (int code = 0; code <= 8; ++code) {
        SCOPED_TRACE(code);
        CUnitType unit(code);
        std::string s = "junk";
        unit.GetUnitString(s);
        EXPECT_EQ(s, units[code]);
        EXPECT_EQ(unit.GetBasicExponent(), exponents[code]);
    }
    std::string s;
    CUnitType(0).GetUnitString(s, -3);
    EXPECT_EQ(s, "mV");
    CUnitType(2).GetUnitString(s, -3);
    EXPECT_EQ(s, "ms");
    CUnitType(8).GetUnitString(s, -6);
    EXPECT_EQ(s, "\xB5");
    CUnitType(5).GetUnitString(s, 3);
    EXPECT_EQ(s, "kHz");

    // Codes from a damaged file have neither unit nor exponent.
    CUnitType(9).GetUnitString(s);
    EXPECT_EQ(s, "");
    CUnitType(-1).GetUnitString(s, -9);
    EXPECT_EQ(s, "n");
    EXPECT_EQ(CUnitType(42).GetBasicExponent(), 0);
}

TEST(UnitType, Prefixes)
{
    const std::pair<int, const char*> table[] = {{-9, "n"}, {-6, "\xB5"}, {-3, "m"}, {0, ""},
                                                 {3, "k"},  {6, "M"},     {9, "G"},  {-15, ""}};
    for (const auto& [exponent, prefix] : table) {
        std::string s = "junk";
        CUnitType::GetPreUnitString(s, exponent);
        EXPECT_EQ(s, prefix) << exponent;
    }
}

TEST(FloatRound, RoundsAwayFromZeroToOneDigit)
{
    EXPECT_EQ(FloatRound(0.0f), 0.0f);
    EXPECT_EQ(FloatRound(9.2f), 10.0f);
    EXPECT_EQ(FloatRound(-150.0f), -200.0f);
    EXPECT_EQ(FloatRound(1.0f), 1.0f);
    EXPECT_EQ(FloatRound(10.0f), 10.0f);
    EXPECT_EQ(FloatRound(12.0f), 20.0f);
    EXPECT_EQ(FloatRound(0.5f), 0.5f);
    EXPECT_EQ(FloatRound(0.0327f), 0.04f);
    EXPECT_EQ(FloatRound(-0.0327f), -0.04f);
    EXPECT_EQ(FloatRound(4100000.0f), 5000000.0f);
}

TEST(FloatRound, NonFiniteValuesComeBackUnchanged)
{
    EXPECT_EQ(FloatRound(std::numeric_limits<float>::infinity()), std::numeric_limits<float>::infinity());
    EXPECT_EQ(FloatRound(-std::numeric_limits<float>::infinity()), -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(FloatRound(std::numeric_limits<float>::quiet_NaN())));
}

}  // namespace
