#include "base/timeutil.h"

#include "base/strutil.h"

#include <atomic>
#include <climits>
#include <sys/time.h>
#include <time.h>

namespace {

// The cached values are computed on first use.  Concurrent first calls may
// each compute the value; they agree, and the atomics keep the stores whole.
constexpr int kNotComputed = INT_MIN;
std::atomic<unsigned long long> gTickOrigin{0};  // 0: not yet started
std::atomic<int> gZoneMinutes{kNotComputed};
std::atomic<int> gDaylightDelta{kNotComputed};

unsigned long long monotonicMicroseconds() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    unsigned long long us = static_cast<unsigned long long>(ts.tv_sec) * 1000000ULL +
                            static_cast<unsigned long long>(ts.tv_nsec) / 1000U;
    return us ? us : 1;  // 0 is the "not started" mark
}

// The UTC offset in seconds that the platform reports for the instant t;
// 0 when it cannot break t down.
long long localOffsetAt(unsigned long long t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm local;
    if (!::localtime_r(&tt, &local)) return 0;
    return local.tm_gmtoff;
}

void fillTimestamp(const struct tm& tm, sTimestamp& ts) {
    ts.year = static_cast<unsigned short>(tm.tm_year + 1900);
    ts.month = static_cast<unsigned char>(tm.tm_mon + 1);
    ts.day = static_cast<unsigned char>(tm.tm_mday);
    ts.hour = static_cast<unsigned char>(tm.tm_hour);
    ts.minute = static_cast<unsigned char>(tm.tm_min);
    ts.second = static_cast<unsigned char>(tm.tm_sec);
}

bool isLeapYear(unsigned int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Gregorian days from 1970-01-01 to January 1st of `year` (1970 or later).
unsigned long long daysBeforeYear(unsigned int year) {
    auto leapsBefore = [](unsigned long long y) { return (y - 1) / 4 - (y - 1) / 100 + (y - 1) / 400; };
    return 365ULL * (year - 1970) + leapsBefore(year) - leapsBefore(1970);
}

// The zone's daylight-saving shift in seconds: the offset in the half of the
// year that keeps daylight saving less the offset in the half that does not.
// Mid-January and mid-July are asked, so that the answer does not depend on
// the hemisphere.  0 for a zone without daylight saving this year.
int computeDaylightDelta() {
    const time_t now = ::time(nullptr);
    struct tm base;
    if (!::localtime_r(&now, &base)) return 0;
    struct Probe {
        long offset = 0;
        bool dst = false;
        bool ok = false;
    };
    auto probe = [&base](int month) {
        struct tm m = base;
        m.tm_mon = month;
        m.tm_mday = 15;
        m.tm_hour = 12;
        m.tm_min = m.tm_sec = 0;
        m.tm_isdst = -1;
        Probe p;
        if (::mktime(&m) == static_cast<time_t>(-1)) return p;
        p.offset = m.tm_gmtoff;
        p.dst = m.tm_isdst > 0;
        p.ok = true;
        return p;
    };
    const Probe jan = probe(0);
    const Probe jul = probe(6);
    if (!jan.ok || !jul.ok || jan.dst == jul.dst) return 0;
    const Probe& summer = jan.dst ? jan : jul;
    const Probe& winter = jan.dst ? jul : jan;
    return static_cast<int>(summer.offset - winter.offset);
}

}  // namespace

// ---------------------------------------------------------------------------
// Clocks

unsigned int ticks_ms() {
    unsigned long long origin = gTickOrigin.load(std::memory_order_acquire);
    if (origin == 0) {
        const unsigned long long now = monotonicMicroseconds();
        if (gTickOrigin.compare_exchange_strong(origin, now, std::memory_order_acq_rel)) return 0;
        // Another thread started the ticks first; `origin` now holds its start.
    }
    const unsigned long long now = monotonicMicroseconds();
    if (now <= origin) return 0;
    return static_cast<unsigned int>((now - origin) / 1000U);
}

unsigned long long ticks_us() {
    struct timeval tv;
    ::gettimeofday(&tv, nullptr);
    return static_cast<unsigned long long>(tv.tv_sec) * 1000000ULL + static_cast<unsigned long long>(tv.tv_usec);
}

long long getCurrUnixTime() { return static_cast<long long>(::time(nullptr)); }

// ---------------------------------------------------------------------------
// Time zone

int timeZoneMin() {
    int minutes = gZoneMinutes.load(std::memory_order_relaxed);
    if (minutes != kNotComputed) return minutes;
    // Both breakdowns go back through the local mktime: the UTC one carries
    // no daylight-saving flag, so the difference is the standard offset.
    const time_t now = ::time(nullptr);
    struct tm local, utc;
    if (!::localtime_r(&now, &local) || !::gmtime_r(&now, &utc)) return 0;
    const time_t localBack = ::mktime(&local);
    const time_t utcBack = ::mktime(&utc);
    minutes = static_cast<int>((static_cast<long long>(localBack) - static_cast<long long>(utcBack)) / 60);
    gZoneMinutes.store(minutes, std::memory_order_relaxed);
    return minutes;
}

unsigned long long utcToLocal(unsigned long long t) {
    return t + static_cast<unsigned long long>(localOffsetAt(t));
}

unsigned long long localToUTC(unsigned long long t) {
    return t - static_cast<unsigned long long>(localOffsetAt(t));
}

unsigned long long localTimeFixDLT(unsigned long long t) {
    int delta = gDaylightDelta.load(std::memory_order_relaxed);
    if (delta == kNotComputed) {
        delta = computeDaylightDelta();
        gDaylightDelta.store(delta, std::memory_order_relaxed);
    }
    const time_t tt = static_cast<time_t>(t);
    struct tm local;
    if (!::localtime_r(&tt, &local)) return t;
    if (local.tm_isdst > 0) return t;
    return t - static_cast<unsigned long long>(static_cast<long long>(delta));
}

// ---------------------------------------------------------------------------
// Conversions

unsigned int toUnix(const sTimestamp& ts) {
    if (ts.year < 1970 || ts.month > 12) return 0;
    static const unsigned char kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned long long days = daysBeforeYear(ts.year);
    for (unsigned int m = 1; m < ts.month; ++m) {
        days += kMonthDays[m - 1];
        if (m == 2 && isLeapYear(ts.year)) ++days;
    }
    // The stored format is 32-bit: everything wraps modulo 2^32, a day of 0
    // included.
    const unsigned int d = static_cast<unsigned int>(days) + ts.day - 1U;
    return d * 86400U + ts.hour * 3600U + ts.minute * 60U + ts.second;
}

unsigned long long toWinTime(const sTimestamp& ts) {
    return kWinTimeUnixEpoch + static_cast<unsigned long long>(toUnix(ts)) * kWinTimePerSecond;
}

unsigned long long toWinTime(unsigned int low, int high) {
    const unsigned long long t =
        (static_cast<unsigned long long>(static_cast<unsigned int>(high)) << 32) | static_cast<unsigned long long>(low);
    return kWinTimeUnixEpoch + t * kWinTimePerSecond;
}

unsigned long long toUnixBigTime(unsigned long long ft) { return (ft - kWinTimeUnixEpoch) / kWinTimePerSecond; }

unsigned int toUnixTime(unsigned long long ft) { return static_cast<unsigned int>(toUnixBigTime(ft)); }

void unixToTimestamp(unsigned int t, sTimestamp& ts) {
    const time_t tt = static_cast<time_t>(t);
    struct tm utc;
    if (!::gmtime_r(&tt, &utc)) {
        ts = sTimestamp();
        return;
    }
    fillTimestamp(utc, ts);
}

void winToTimestamp(unsigned long long ft, sTimestamp& ts) { unixToTimestamp(toUnixTime(ft), ts); }

bool getCurrTimestamp(sTimestamp& ts) {
    unixToLocalTimestamp(static_cast<long long>(::time(nullptr)), ts);
    return true;
}

void unixToLocalTimestamp(long long t, sTimestamp& ts) {
    const time_t tt = static_cast<time_t>(t);
    struct tm local;
    if (!::localtime_r(&tt, &local)) {
        ts = sTimestamp();
        return;
    }
    fillTimestamp(local, ts);
}

bool localFieldsToUnix(int year, int month, int day, int hour, int minute, int second, long long& out) {
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return false;
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;  // the zone decides whether daylight saving applies
    // -1 is also a valid result (one second before 1970); mktime leaves
    // tm_wday untouched only when it fails.
    tm.tm_wday = -1;
    const time_t secs = ::mktime(&tm);
    if (secs == static_cast<time_t>(-1) && tm.tm_wday == -1) return false;
    out = static_cast<long long>(secs);
    return true;
}

bool unixToStr(unsigned int t, char* buf, long long size) {
    if (!buf || size < 1) return false;
    if (t == 0 || t == 0xFFFFFFFFU) {
        _sprintf_s(buf, size, "-");
        return true;
    }
    sTimestamp ts;
    unixToTimestamp(t, ts);
    _sprintf_s(buf, size, "%02d.%02d.%04d %02d:%02d:%02d", ts.day, ts.month, ts.year, ts.hour, ts.minute, ts.second);
    return true;
}
