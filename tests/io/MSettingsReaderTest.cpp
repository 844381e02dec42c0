#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/MSettingsReader.h"
#include "tests/support/ByteWriter.h"

namespace {

using kvdtest::ByteWriter;

TEST(SettingsReader, DecodesPackedLittleEndianFieldsAndAdvances)
{
    ByteWriter w;
    w.U8(0x7F)
        .U16(0xBEEF)
        .I16(-2)
        .U32(0xDEADBEEF)
        .I32(-123456)
        .U64(0x0102030405060708ULL)
        .F32(1.5f)
        .F64(-0.25)
        .U8(2)
        .U8(0);
    CMSettingsReader r(w.Bytes().data(), w.Size());
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    int16_t i16 = 0;
    uint32_t u32 = 0;
    int32_t i32 = 0;
    uint64_t u64 = 0;
    float f32 = 0;
    double f64 = 0;
    bool b1 = false, b2 = true;
    ASSERT_TRUE(r.U8(u8) && r.U16(u16) && r.I16(i16) && r.U32(u32) && r.I32(i32) && r.U64(u64) && r.F32(f32) &&
                r.F64(f64) && r.Bool(b1) && r.Bool(b2));
    EXPECT_EQ(u8, 0x7F);
    EXPECT_EQ(u16, 0xBEEF);
    EXPECT_EQ(i16, -2);
    EXPECT_EQ(u32, 0xDEADBEEFu);
    EXPECT_EQ(i32, -123456);
    EXPECT_EQ(u64, 0x0102030405060708ULL);
    EXPECT_EQ(f32, 1.5f);
    EXPECT_EQ(f64, -0.25);
    EXPECT_TRUE(b1);
    EXPECT_FALSE(b2);
    EXPECT_EQ(r.Position(), w.Size());
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_TRUE(r.Ok());
}

TEST(SettingsReader, CountedStringsExactAndNulStopped)
{
    ByteWriter w;
    const char raw[] = {'a', 'b', 0, 'c'};
    w.U32(4).Raw(raw, 4).U32(4).Raw(raw, 4).U16(3).Raw("xyz", 3).U16(4).Raw(raw, 4).U8(9);
    CMSettingsReader r(w.Bytes().data(), w.Size());
    std::string exact, stopped, exact16, stopped16;
    ASSERT_TRUE(r.String32Exact(exact));
    ASSERT_TRUE(r.String32NulStopped(stopped));
    ASSERT_TRUE(r.String16Exact(exact16));
    ASSERT_TRUE(r.String16NulStopped(stopped16));
    EXPECT_EQ(exact, std::string(raw, 4));
    EXPECT_EQ(stopped, std::string("ab\0\0", 4));
    EXPECT_STREQ(stopped.c_str(), "ab");
    EXPECT_EQ(exact16, "xyz");
    EXPECT_EQ(stopped16.size(), 4u);
    uint8_t next = 0;
    ASSERT_TRUE(r.U8(next));  // every string advanced by exactly its count
    EXPECT_EQ(next, 9);
}

TEST(SettingsReader, NeverReadsPastTheEnd)
{
    // A count larger than what is left fails; so does every read after it.
    ByteWriter w;
    w.U32(0xFFFFFFFFu).Raw("abc", 3);
    CMSettingsReader r(w.Bytes().data(), w.Size());
    std::string s = "unchanged";
    EXPECT_FALSE(r.String32Exact(s));
    EXPECT_EQ(s, "unchanged");
    EXPECT_FALSE(r.Ok());
    EXPECT_TRUE(r.RanOut());
    EXPECT_EQ(r.Position(), 0u);
    uint8_t b = 0;
    EXPECT_FALSE(r.U8(b));

    const uint8_t three[3] = {1, 2, 3};
    CMSettingsReader short32(three, 3);
    uint32_t v = 77;
    EXPECT_FALSE(short32.U32(v));
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(short32.Position(), 0u);

    CMSettingsReader counts(three, 3);
    EXPECT_TRUE(counts.Fits(1, 3));
    EXPECT_FALSE(counts.Fits(0xFFFFFFFFu, 4));
    EXPECT_FALSE(counts.Ok());

    CMSettingsReader empty(nullptr, 100);  // no bytes, whatever the length says
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_FALSE(empty.Skip(1));
}

TEST(SettingsReader, FixedTextStopsAtFirstNul)
{
    ByteWriter w;
    w.Text("grp", 8).Raw("12345678", 8);
    CMSettingsReader r(w.Bytes().data(), w.Size());
    std::string a, b;
    ASSERT_TRUE(r.FixedText(8, a) && r.FixedText(8, b));
    EXPECT_EQ(a, "grp");
    EXPECT_EQ(b, "12345678");
}

}  // namespace
