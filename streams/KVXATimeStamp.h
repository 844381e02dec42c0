// Absolute times of a recording: nanoseconds since 1601-01-01 00:00:00 UTC, together with the start
// time of the recording they belong to.
#pragma once

#include <cstdint>

struct _FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};

struct _SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// Converts 100-ns ticks since 1601-01-01 UTC to calendar fields. Times before 1969-12-31 00:00 UTC are
// clamped to 1970-01-02 00:00 UTC. Returns 1 on success, 0 when the calendar conversion fails.
int FileTimeToSystemTime(const _FILETIME* in, _SYSTEMTIME* out);

class CKVXATimeStamp {
public:
    CKVXATimeStamp() = default;
    CKVXATimeStamp(const CKVXATimeStamp& other) : m_qwValue(other.m_qwValue), m_qwStart(other.m_qwStart) {}
    virtual ~CKVXATimeStamp() = default;
    CKVXATimeStamp& operator=(const CKVXATimeStamp& other);

    uint64_t GetTimeStamp() const { return m_qwValue; }
    void SetTimeStamp(uint64_t value);
    uint64_t GetStart() const { return m_qwStart; }
    void SetStart(uint64_t start) { m_qwStart = start; }

    // Calendar fields of the value (day = day of the month).
    uint16_t GetYear();
    uint16_t GetMonth();
    uint16_t GetDay();
    uint16_t GetHour();
    uint16_t GetMinute();
    uint16_t GetSecond();
    uint16_t GetMillisecond();
    // Sub-millisecond parts of the value itself.
    uint16_t GetMicrosecond() const { return static_cast<uint16_t>((m_qwValue % 1000000ULL) / 1000ULL); }
    uint16_t GetNanosecond() const { return static_cast<uint16_t>(m_qwValue % 1000ULL); }

    // Components of the signed distance from the start; each has the sign of the distance.
    int32_t GetSecondFromStart() const { return static_cast<int32_t>(FromStart() / 1000000000LL); }
    int16_t GetMillisecondFromStart() const { return static_cast<int16_t>((FromStart() % 1000000000LL) / 1000000LL); }
    int16_t GetMicrosecondFromStart() const { return static_cast<int16_t>((FromStart() % 1000000LL) / 1000LL); }
    int16_t GetNanosecondFromStart() const { return static_cast<int16_t>(FromStart() % 1000LL); }

    // Each setter replaces exactly one component of the distance from the start.
    void SetSecondFromStart(int32_t s);
    void SetMillisecondFromStart(int16_t ms);
    void SetMicrosecondFromStart(int16_t us);
    void SetNanosecondFromStart(int16_t ns);

    // A new time stamp owned by the caller, with the same value and start and no calendar cache.
    CKVXATimeStamp* Clone() const { return new CKVXATimeStamp(*this); }

private:
    int64_t FromStart() const { return static_cast<int64_t>(m_qwValue - m_qwStart); }
    void Shift(int32_t delta, int64_t unit);
    void CacheTime();
    const _SYSTEMTIME& Calendar();

    uint64_t m_qwValue = 0;
    uint64_t m_qwStart = 0;
    int32_t m_bCached = 0;
    _SYSTEMTIME m_Time{};
};
