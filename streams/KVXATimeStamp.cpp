#include "streams/KVXATimeStamp.h"

namespace {

constexpr uint64_t kTicksTo1970 = 116444736000000000ULL;  // 1601-01-01 to 1970-01-01, 100-ns ticks
constexpr uint64_t kTicksPerDay = 864000000000ULL;
constexpr uint64_t kFallbackTicks = 116445600000000000ULL;  // 1970-01-02 00:00:00 UTC
constexpr int64_t kSecondsPerDay = 86400;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// The proleptic Gregorian date of a day count since 1970-01-01, in 64-bit arithmetic: the C library's
// conversion goes through time_t, which ends in 2038 where it is 32 bits wide. Days are counted in eras
// of 400 years (146097 days) of years that begin on March 1, so that the leap day ends a year.
void DateOfDay(int64_t days, int64_t& year, unsigned& month, unsigned& day)
{
    const int64_t z = days + 719468;  // days since 0000-03-01
    const int64_t era = FloorDiv(z, 146097);
    const auto dayOfEra = static_cast<unsigned>(z - era * 146097);  // 0 ... 146096
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // 0 ... 399
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);             // 0 ... 365
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;                                               // 0 = March
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

int FileTimeToSystemTime(const _FILETIME* in, _SYSTEMTIME* out)
{
    uint64_t ticks = (static_cast<uint64_t>(in->dwHighDateTime) << 32) | in->dwLowDateTime;
    if (ticks + kTicksPerDay < kTicksTo1970) ticks = kFallbackTicks;

    // Seconds and milliseconds since 1970, floored, so that the last day before 1970 (which the clamp
    // above lets through) converts to its true date instead of wrapping.
    int64_t seconds;
    int64_t millis;
    if (ticks >= kTicksTo1970) {
        const uint64_t since = ticks - kTicksTo1970;
        seconds = static_cast<int64_t>(since / 10000000ULL);
        millis = static_cast<int64_t>((since / 10000ULL) % 1000ULL);
    } else {
        const int64_t since = -static_cast<int64_t>(kTicksTo1970 - ticks);  // within one day
        const int64_t ms = since >= 0 ? since / 10000 : -((-since + 9999) / 10000);
        seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        millis = ms - seconds * 1000;
    }
    out->wMilliseconds = static_cast<uint16_t>(millis);

    // Every tick count, up to 2^64 - 1 in the year 60056, has a calendar date: the conversion cannot fail.
    const int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const int64_t secondOfDay = seconds - days * kSecondsPerDay;
    int64_t year;
    unsigned month, day;
    DateOfDay(days, year, month, day);
    out->wDay = static_cast<uint16_t>(day);
    out->wDayOfWeek = static_cast<uint16_t>(days + 4 - FloorDiv(days + 4, 7) * 7);  // 1970-01-01: a Thursday (4)
    out->wHour = static_cast<uint16_t>(secondOfDay / 3600);
    out->wMinute = static_cast<uint16_t>(secondOfDay / 60 % 60);
    out->wMonth = static_cast<uint16_t>(month);
    out->wSecond = static_cast<uint16_t>(secondOfDay % 60);
    out->wYear = static_cast<uint16_t>(year);
    return 1;
}

CKVXATimeStamp& CKVXATimeStamp::operator=(const CKVXATimeStamp& other)
{
    if (this == &other) return *this;
    m_qwValue = other.m_qwValue;
    m_qwStart = other.m_qwStart;
    if (m_bCached) CacheTime();
    return *this;
}

void CKVXATimeStamp::SetTimeStamp(uint64_t value)
{
    m_qwValue = value;
    if (m_bCached) CacheTime();
}

void CKVXATimeStamp::CacheTime()
{
    const uint64_t ticks = m_qwValue / 100ULL;
    const _FILETIME ft{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
    FileTimeToSystemTime(&ft, &m_Time);
    m_bCached = 1;
}

const _SYSTEMTIME& CKVXATimeStamp::Calendar()
{
    if (!m_bCached) CacheTime();
    return m_Time;
}

uint16_t CKVXATimeStamp::GetYear() { return Calendar().wYear; }
uint16_t CKVXATimeStamp::GetMonth() { return Calendar().wMonth; }
uint16_t CKVXATimeStamp::GetDay() { return Calendar().wDay; }
uint16_t CKVXATimeStamp::GetHour() { return Calendar().wHour; }
uint16_t CKVXATimeStamp::GetMinute() { return Calendar().wMinute; }
uint16_t CKVXATimeStamp::GetSecond() { return Calendar().wSecond; }
uint16_t CKVXATimeStamp::GetMillisecond() { return Calendar().wMilliseconds; }

void CKVXATimeStamp::Shift(int32_t delta, int64_t unit)
{
    // Unsigned wrap-around adds a negative shift exactly.
    m_qwValue += static_cast<uint64_t>(static_cast<int64_t>(delta) * unit);
    if (m_bCached) CacheTime();
}

void CKVXATimeStamp::SetSecondFromStart(int32_t s)
{
    Shift(static_cast<int32_t>(static_cast<uint32_t>(s) - static_cast<uint32_t>(GetSecondFromStart())), 1000000000LL);
}
void CKVXATimeStamp::SetMillisecondFromStart(int16_t ms) { Shift(ms - GetMillisecondFromStart(), 1000000LL); }
void CKVXATimeStamp::SetMicrosecondFromStart(int16_t us) { Shift(us - GetMicrosecondFromStart(), 1000LL); }
void CKVXATimeStamp::SetNanosecondFromStart(int16_t ns) { Shift(ns - GetNanosecondFromStart(), 1LL); }
