#include <gtest/gtest.h>

#include "reader/KVXATimeStamp.h"

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
    ExpectCalendar(Convert(116444736000000000ULL), 1970, 1, 4, 1, 0, 0, 0, 0);
    // 2006-07-15 13:45:30.250 UTC, a Saturday.
    ExpectCalendar(Convert(116444736000000000ULL + 1152971130ULL * 10000000ULL + 2500000ULL), 2006, 7, 6, 15, 13,
                   45, 30, 250);
    // 2000-02-29 23:59:59.999 UTC, a leap day.
    ExpectCalendar(Convert(116444736000000000ULL + 951868799ULL * 10000000ULL + 9990000ULL), 2000, 2, 2, 29, 23,
                   59, 59, 999);
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

TEST(FileTimeToSystemTime, GoesBeyond2038)
{
    // 2040-01-01 00:00:00 UTC, a Sunday.
    ExpectCalendar(Convert(116444736000000000ULL + 2208988800ULL * 10000000ULL), 2040, 1, 0, 1, 0, 0, 0, 0);
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
    EXPECT_EQ(b.GetDay(), 2);      // recomputed on assignment: 1970-01-02 from the value itself
    EXPECT_EQ(b.GetStart(), 5u);
    b = b;
    EXPECT_EQ(b.GetTimeStamp(), a.GetTimeStamp());
}

}  // namespace
