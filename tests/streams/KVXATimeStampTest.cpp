#include <gtest/gtest.h>

#include "streams/KVXATimeStamp.h"

namespace {

constexpr uint64_t kSecond = 1000000000ULL;
constexpr uint64_t kUnixEpochNs = 11644473600ULL * kSecond;

_SYSTEMTIME Convert(uint64_t ticks)
{
    const _FILETIME ft{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
    _SYSTEMTIME st{};
    EXPECT_EQ(FileTimeToSystemTime(&ft, &st), 1);
    return st;
}

void ExpectCalendar(const _SYSTEMTIME& st, int y, int mo, int dow, int d, int h, int mi, int s, int ms)
{
    EXPECT_EQ(st.wYear, y);
    EXPECT_EQ(st.wMonth, mo);
    EXPECT_EQ(st.wDayOfWeek, dow);
    EXPECT_EQ(st.wDay, d);
    EXPECT_EQ(st.wHour, h);
    EXPECT_EQ(st.wMinute, mi);
    EXPECT_EQ(st.wSecond, s);
    EXPECT_EQ(st.wMilliseconds, ms);
}

TEST(FileTimeToSystemTime, ConvertsCalendarDates)
{
    // Seconds and milliseconds since 1970 and the UTC calendar date they convert to. The dates beyond
    // 2038-01-19 03:14:07 need more than a 32-bit count of seconds, whatever the width of time_t.
    struct Case {
        uint64_t seconds, millis;
        int year, month, dayOfWeek, day, hour, minute, second;
    };
    const Case cases[] = {
        {0, 0, 1970, 1, 4, 1, 0, 0, 0},
        {1152971130, 250, 2006, 7, 6, 15, 13, 45, 30},   // a Saturday
        {951868799, 999, 2000, 2, 2, 29, 23, 59, 59},    // a leap day
        {2147483648, 0, 2038, 1, 2, 19, 3, 14, 8},       // the first second past a 32-bit count
        {2208988800, 0, 2040, 1, 0, 1, 0, 0, 0},         // a Sunday
        {4107585600, 0, 2100, 3, 1, 1, 12, 0, 0},        // 2100 is not a leap year
        {13574649599, 999, 2400, 2, 2, 29, 23, 59, 59},  // 2400 is one
        {253402300799, 999, 9999, 12, 5, 31, 23, 59, 59},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.year);
        ExpectCalendar(Convert(116444736000000000ULL + c.seconds * 10000000ULL + c.millis * 10000ULL), c.year, c.month,
                       c.dayOfWeek, c.day, c.hour, c.minute, c.second, static_cast<int>(c.millis));
    }
}

TEST(FileTimeToSystemTime, ClampsTimesBefore1970)
{
    ExpectCalendar(Convert(0), 1970, 1, 5, 2, 0, 0, 0, 0);
    ExpectCalendar(Convert(116444736000000000ULL - 864000000000ULL - 1), 1970, 1, 5, 2, 0, 0, 0, 0);
}

TEST(FileTimeToSystemTime, LastDayBefore1970KeepsItsDate)
{
    // 1969-12-31 23:59:59.500 UTC, a Wednesday: not clamped, and must not wrap around.
    ExpectCalendar(Convert(116444736000000000ULL - 5000000ULL), 1969, 12, 3, 31, 23, 59, 59, 500);
}

TEST(KVXATimeStamp, CalendarAndSubMillisecondParts)
{
    CKVXATimeStamp t;
    t.SetTimeStamp(kUnixEpochNs + 1152971130ULL * kSecond + 123567891ULL);
    EXPECT_EQ(t.GetYear(), 2006);
    EXPECT_EQ(t.GetMonth(), 7);
    EXPECT_EQ(t.GetDay(), 15);
    EXPECT_EQ(t.GetHour(), 13);
    EXPECT_EQ(t.GetMinute(), 45);
    EXPECT_EQ(t.GetSecond(), 30);
    EXPECT_EQ(t.GetMillisecond(), 123);
    EXPECT_EQ(t.GetMicrosecond(), 567);
    EXPECT_EQ(t.GetNanosecond(), 891);

    // Once cached, the calendar follows every change of the value.
    t.SetTimeStamp(t.GetTimeStamp() + 24ULL * 3600ULL * kSecond);
    EXPECT_EQ(t.GetDay(), 16);
    t.SetStart(t.GetTimeStamp());
    t.SetSecondFromStart(-86400);
    EXPECT_EQ(t.GetDay(), 15);
}

TEST(KVXATimeStamp, ComponentsFromStartCarryTheSign)
{
    CKVXATimeStamp t;
    t.SetStart(kUnixEpochNs);
    t.SetTimeStamp(kUnixEpochNs - 1500000000ULL);
    EXPECT_EQ(t.GetSecondFromStart(), -1);
    EXPECT_EQ(t.GetMillisecondFromStart(), -500);
    EXPECT_EQ(t.GetMicrosecondFromStart(), 0);

    t.SetTimeStamp(kUnixEpochNs + 12ULL * kSecond + 345678912ULL);
    EXPECT_EQ(t.GetSecondFromStart(), 12);
    EXPECT_EQ(t.GetMillisecondFromStart(), 345);
    EXPECT_EQ(t.GetMicrosecondFromStart(), 678);
    EXPECT_EQ(t.GetNanosecondFromStart(), 912);
}

TEST(KVXATimeStamp, SettersReplaceOneComponent)
{
    CKVXATimeStamp t;
    t.SetStart(kUnixEpochNs);
    const uint64_t v = kUnixEpochNs + 12ULL * kSecond + 345678912ULL;
    t.SetTimeStamp(v);
    t.SetSecondFromStart(t.GetSecondFromStart());
    EXPECT_EQ(t.GetTimeStamp(), v);

    t.SetMillisecondFromStart(0);
    EXPECT_EQ(t.GetTimeStamp(), kUnixEpochNs + 12ULL * kSecond + 678912ULL);
    t.SetSecondFromStart(-3);
    EXPECT_EQ(t.GetSecondFromStart(), -2);  // -2.999321088 s: every component is negative
    EXPECT_EQ(t.GetTimeStamp(), kUnixEpochNs - 3ULL * kSecond + 678912ULL);
    EXPECT_EQ(t.GetMicrosecondFromStart(), -321);
    t.SetMicrosecondFromStart(5);  // -321 us becomes +5 us
    t.SetNanosecondFromStart(7);   // -88 ns becomes +7 ns
    EXPECT_EQ(t.GetTimeStamp(), kUnixEpochNs - 2998994993ULL);
}

TEST(KVXATimeStamp, CopiesKeepValueAndStart)
{
    CKVXATimeStamp a;
    a.SetStart(5);
    a.SetTimeStamp(kUnixEpochNs + 86400ULL * kSecond);
    CKVXATimeStamp* clone = a.Clone();
    EXPECT_EQ(clone->GetTimeStamp(), a.GetTimeStamp());
    EXPECT_EQ(clone->GetStart(), 5u);
    delete clone;

    CKVXATimeStamp b;
    EXPECT_EQ(b.GetYear(), 1970);  // caches 1970-01-02
    b = a;
    EXPECT_EQ(b.GetDay(), 2);  // recomputed on assignment: 1970-01-02 from the value itself
    EXPECT_EQ(b.GetStart(), 5u);
    b = b;
    EXPECT_EQ(b.GetTimeStamp(), a.GetTimeStamp());
}

}  // namespace
