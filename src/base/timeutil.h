// Time helpers: ticks, the wall clock, the local time zone, and conversions
// between Unix seconds, Windows file times and broken-down timestamps.
//
// Unix time counts seconds since 1970-01-01 00:00:00 UTC; a Windows file time
// counts 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
#pragma once

// A broken-down date and time.  Whether it holds UTC or local time is
// decided by the function that fills it.
struct sTimestamp {
    unsigned short year = 0;   // full year: 2024, not 124
    unsigned char month = 0;   // 1 to 12
    unsigned char day = 0;     // 1 to 31
    unsigned char hour = 0;    // 0 to 23
    unsigned char minute = 0;  // 0 to 59
    unsigned char second = 0;  // 0 to 60
};

// The file time of the Unix epoch, and file-time units per second.
constexpr unsigned long long kWinTimeUnixEpoch = 116444736000000000ULL;
constexpr unsigned long long kWinTimePerSecond = 10000000ULL;

// Milliseconds since the first call in this process (which returns 0), from a
// clock that setting the date does not move; wraps after about 49.7 days.
unsigned int ticks_ms();
// Wall-clock microseconds since the Unix epoch.
unsigned long long ticks_us();

// The local zone's standard offset from UTC in minutes, east positive;
// computed on first use.
int timeZoneMin();
// t plus / minus the local UTC offset in force at the instant t.
unsigned long long utcToLocal(unsigned long long t);
unsigned long long localToUTC(unsigned long long t);
// t, less the zone's daylight-saving shift when daylight saving is not in
// force at t.
unsigned long long localTimeFixDLT(unsigned long long t);

long long getCurrUnixTime();

// Unix seconds of a UTC timestamp, in 32-bit arithmetic (modulo 2^32 after
// 2106-02-07 06:28:15); 0 for years before 1970 and for months above 12.
// A month of 0 counts as January.
unsigned int toUnix(const sTimestamp& ts);
// The file time of toUnix(ts).
unsigned long long toWinTime(const sTimestamp& ts);
// The file time of the 64-bit Unix time made of two 32-bit halves.
unsigned long long toWinTime(unsigned int low, int high);
// Unix seconds of a file time, cut to 32 bits; a file time before 1970 wraps.
unsigned int toUnixTime(unsigned long long ft);
unsigned long long toUnixBigTime(unsigned long long ft);

// Writes t as UTC "DD.MM.YYYY hh:mm:ss", or "-" for 0 and 0xFFFFFFFF, cut to
// fit `size` bytes with its terminator.  False, with nothing written, for a
// null buffer or a size below 1.
bool unixToStr(unsigned int t, char* buf, long long size);
void unixToTimestamp(unsigned int t, sTimestamp& ts);
void winToTimestamp(unsigned long long ft, sTimestamp& ts);
// The current local date and time; always true.
bool getCurrTimestamp(sTimestamp& ts);
// The local date and time of Unix seconds t; a zeroed timestamp when the
// system cannot break t down.
void unixToLocalTimestamp(long long t, sTimestamp& ts);
// Unix seconds of a local date and time, the zone deciding whether daylight
// saving applies.  False for a field out of its range (month 13 does not roll
// into the next year, nor hour 24 into the next day) and for a year before
// 1900 or a time the system cannot represent.
bool localFieldsToUnix(int year, int month, int day, int hour, int minute, int second, long long& out);
