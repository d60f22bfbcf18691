// qor-test-labels: tsan
#include "base/timeutil.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <sys/syscall.h>
#include <sys/time.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

// ---------------------------------------------------------------------------
// The wall clock as this program sees it.  These definitions take the place of
// the C library's for the whole test program, so a test can set the date
// back or forward (as an administrator or a time daemon would) and watch what
// each helper does.  The monotonic clock is passed through untouched.

namespace {
std::atomic<long long> gWallShiftUs{0};

void shiftTimespec(struct timespec* ts, long long us) {
    long long ns = static_cast<long long>(ts->tv_sec) * 1000000000LL + ts->tv_nsec + us * 1000LL;
    ts->tv_sec = static_cast<time_t>(ns / 1000000000LL);
    ts->tv_nsec = static_cast<long>(ns % 1000000000LL);
}

bool isWallClock(clockid_t id) {
    return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE;
}
}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* ts) noexcept {
    int rc = static_cast<int>(::syscall(SYS_clock_gettime, id, ts));
    if (rc == 0 && isWallClock(id)) shiftTimespec(ts, gWallShiftUs.load());
    return rc;
}

extern "C" int gettimeofday(struct timeval* __restrict tv, void* __restrict) noexcept {
    struct timespec ts;
    int rc = clock_gettime(CLOCK_REALTIME, &ts);
    if (rc == 0) {
        tv->tv_sec = ts.tv_sec;
        tv->tv_usec = static_cast<suseconds_t>(ts.tv_nsec / 1000);
    }
    return rc;
}

extern "C" time_t time(time_t* out) noexcept {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (out) *out = ts.tv_sec;
    return ts.tv_sec;
}

namespace {

// Sets TZ for the life of the object and puts the old value back after.
class ScopedTZ {
public:
    explicit ScopedTZ(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTZ() {
        if (hadOld_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

// Runs a Python script (the oracle) and returns its output lines.
std::vector<std::string> runPython(const char* script, const std::string& args = "") {
    int status = -1;
    std::istringstream in(qortest::runPython(script, args, &status));
    EXPECT_EQ(status, 0) << "the Python oracle failed";
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

sTimestamp stamp(unsigned y, unsigned mo, unsigned d, unsigned h, unsigned mi, unsigned s) {
    sTimestamp ts;
    ts.year = static_cast<unsigned short>(y);
    ts.month = static_cast<unsigned char>(mo);
    ts.day = static_cast<unsigned char>(d);
    ts.hour = static_cast<unsigned char>(h);
    ts.minute = static_cast<unsigned char>(mi);
    ts.second = static_cast<unsigned char>(s);
    return ts;
}

std::string show(const sTimestamp& ts) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u-%u-%u %u:%u:%u", ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second);
    return buf;
}

// ---------------------------------------------------------------------------
// UTC conversions against Python's calendar and datetime

const char* kUtcOracle = R"PY(
import calendar, datetime, random
E = 116444736000000000
M = 2 ** 64
rnd = random.Random(20240229)

def utc(t):
    return datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=t)

# T y mo d h mi s unix32: Unix seconds of a UTC timestamp, modulo 2^32
cases = [(1970, 1, 1, 0, 0, 0), (1972, 2, 29, 0, 0, 0), (1973, 1, 1, 0, 0, 0),
         (2000, 2, 29, 12, 0, 0), (2000, 3, 1, 0, 0, 0), (2001, 1, 1, 0, 0, 0),
         (2100, 2, 28, 23, 59, 59), (2100, 3, 1, 0, 0, 0), (2101, 1, 1, 0, 0, 0),
         (2106, 2, 7, 6, 28, 15), (2106, 2, 7, 6, 28, 16), (2400, 2, 29, 0, 0, 0),
         (2400, 3, 1, 0, 0, 0), (2401, 1, 1, 0, 0, 0), (9999, 12, 31, 23, 59, 59),
         (1999, 12, 31, 23, 59, 60), (2038, 1, 19, 3, 14, 8)]
for _ in range(3000):
    y = rnd.randint(1970, 2106) if rnd.random() < 0.6 else rnd.randint(1970, 9999)
    mo = rnd.randint(1, 12)
    d = rnd.randint(1, calendar.monthrange(y, mo)[1])
    cases.append((y, mo, d, rnd.randint(0, 23), rnd.randint(0, 59), rnd.randint(0, 59)))
for c in cases:
    print("T", *c, calendar.timegm(c) % 2 ** 32)

# U t y mo d h mi s text: a 32-bit Unix time broken down in UTC
for t in [1, 59, 86399, 86400, 951782400, 2 ** 31 - 1, 2 ** 31, 2 ** 32 - 2] + \
         [rnd.randrange(2 ** 32) for _ in range(3000)]:
    d = utc(t)
    print("U", t, d.year, d.month, d.day, d.hour, d.minute, d.second, d.strftime("%d.%m.%Y_%H:%M:%S"))

# F ft unix64 unix32 y mo d h mi s: a file time in Unix seconds (unsigned
# wrapping arithmetic) and the UTC breakdown of the 32-bit cut
fts = [0, 1, E - 1, E, E + 1, E + 10 ** 7, E + (2 ** 32 - 1) * 10 ** 7, E + 2 ** 32 * 10 ** 7,
       2 ** 63, M - 1]
fts += [rnd.randrange(M) for _ in range(1000)]
fts += [E + rnd.randrange(-E, 2 ** 33 * 10 ** 7) for _ in range(1000)]
for ft in fts:
    big = ((ft - E) % M) // 10 ** 7
    small = big & 0xFFFFFFFF
    d = utc(small)
    print("F", ft, big, small, d.year, d.month, d.day, d.hour, d.minute, d.second)

# W low high ft: the file time of a 64-bit Unix time given as two halves
ts = [0, 1, -1, 2 ** 32, -(2 ** 32), 2 ** 31, -E // 10 ** 7]
ts += [rnd.randrange(-(2 ** 63), 2 ** 63) for _ in range(1000)]
ts += [rnd.randrange(-(2 ** 36), 2 ** 36) for _ in range(1000)]
for t in ts:
    print("W", t & 0xFFFFFFFF, t >> 32, (E + t * 10 ** 7) % M)
)PY";

class UtcOracle : public ::testing::Test {
protected:
    static void SetUpTestSuite() { lines_ = new std::vector<std::string>(runPython(kUtcOracle)); }
    static void TearDownTestSuite() {
        delete lines_;
        lines_ = nullptr;
    }
    // Every oracle line of one kind, split into fields after the tag.
    static std::vector<std::vector<std::string>> rows(char tag) {
        std::vector<std::vector<std::string>> out;
        for (const std::string& line : *lines_) {
            if (line[0] != tag) continue;
            std::istringstream in(line.substr(2));
            std::vector<std::string> fields;
            for (std::string f; in >> f;) fields.push_back(f);
            out.push_back(fields);
        }
        return out;
    }
    static unsigned long long u(const std::string& s) { return std::stoull(s); }
    static long long i(const std::string& s) { return std::stoll(s); }

    static std::vector<std::string>* lines_;
};
std::vector<std::string>* UtcOracle::lines_ = nullptr;

// Every conversion against the oracle's lines of its kind; the first five
// mismatches of each are shown.
TEST_F(UtcOracle, EveryConversionMatchesCalendarAndDatetime) {
    int bad = 0;
    auto check = [&bad](bool same, const std::string& what) {
        if (!same && ++bad <= 5) ADD_FAILURE() << what;
    };
    for (const auto& c : rows('T')) {  // timestamp -> Unix seconds and file time
        const sTimestamp ts = stamp(u(c[0]), u(c[1]), u(c[2]), u(c[3]), u(c[4]), u(c[5]));
        const unsigned int want = static_cast<unsigned int>(u(c[6]));
        check(toUnix(ts) == want, "toUnix " + show(ts));
        check(toWinTime(ts) == kWinTimeUnixEpoch + want * 10000000ULL, "toWinTime " + show(ts));
    }
    for (const auto& c : rows('U')) {  // Unix seconds -> timestamp and text
        const unsigned int t = static_cast<unsigned int>(u(c[0]));
        sTimestamp ts;
        unixToTimestamp(t, ts);
        check(show(ts) == show(stamp(u(c[1]), u(c[2]), u(c[3]), u(c[4]), u(c[5]), u(c[6]))), "unixToTimestamp " + c[0]);
        char text[100];
        std::string expected = c[7];
        expected[10] = ' ';
        check(unixToStr(t, text, sizeof text) && expected == text, "unixToStr " + c[0]);
    }
    for (const auto& c : rows('F')) {  // file time -> Unix seconds (wrapping) and timestamp
        const unsigned long long ft = u(c[0]);
        check(toUnixBigTime(ft) == u(c[1]), "toUnixBigTime " + c[0]);
        check(toUnixTime(ft) == u(c[2]), "toUnixTime " + c[0]);
        sTimestamp ts;
        winToTimestamp(ft, ts);
        check(show(ts) == show(stamp(u(c[3]), u(c[4]), u(c[5]), u(c[6]), u(c[7]), u(c[8]))), "winToTimestamp " + c[0]);
    }
    for (const auto& c : rows('W'))  // two halves of a 64-bit Unix time -> file time
        check(toWinTime(static_cast<unsigned int>(u(c[0])), static_cast<int>(i(c[1]))) == u(c[2]), "toWinTime " + c[0] + " " + c[1]);
    EXPECT_GT(lines_->size(), 10000u);
    EXPECT_EQ(bad, 0);

    // What the oracle cannot reach: dates before 1970, a month past the
    // table (it must not read beyond it) and month 0 taken as January.
    EXPECT_EQ(toUnix(stamp(1969, 12, 31, 23, 59, 59)), 0u);
    EXPECT_EQ(toUnix(stamp(2000, 0, 15, 0, 0, 0)), 947894400u);  // Python: calendar.timegm((2000, 1, 15, 0, 0, 0))
    for (unsigned m : {13u, 255u}) {
        EXPECT_EQ(toUnix(stamp(2000, m, 15, 0, 0, 0)), 0u) << "month " << m;
        EXPECT_EQ(toWinTime(stamp(2000, m, 15, 0, 0, 0)), kWinTimeUnixEpoch) << "month " << m;
    }
}

TEST(UnixToStr, WritesADashForNoTimeRefusesNoRoomAndCutsShortBuffers) {
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_FALSE(unixToStr(86400, nullptr, 100));
    EXPECT_FALSE(unixToStr(86400, buf, 0));
    EXPECT_FALSE(unixToStr(86400, buf, -5));
    EXPECT_EQ(buf[0], 'x');
    for (unsigned int none : {0u, 0xFFFFFFFFu}) {
        ASSERT_TRUE(unixToStr(none, buf, sizeof buf));
        EXPECT_STREQ(buf, "-");
    }
    ASSERT_TRUE(unixToStr(0xFFFFFFFEu, buf, 20));  // exactly 19 characters and the terminator
    EXPECT_STREQ(buf, "07.02.2106 06:28:14");
    std::memset(buf, 'x', sizeof buf);
    ASSERT_TRUE(unixToStr(86400, buf, 10));
    EXPECT_STREQ(buf, "02.01.197");
    EXPECT_EQ(buf[10], 'x');  // nothing beyond the given size
    ASSERT_TRUE(unixToStr(0, buf, 1));
    EXPECT_STREQ(buf, "");
}

// ---------------------------------------------------------------------------
// Local time against Python's zoneinfo, in zones of both hemispheres

const char* kZoneOracle = R"PY(
import calendar, datetime, sys
from zoneinfo import ZoneInfo
z = ZoneInfo(sys.argv[1])

def at(t):
    return datetime.datetime.fromtimestamp(t, z)

def off(t):
    return int(at(t).utcoffset().total_seconds())

now = datetime.datetime.now(z)
# Z: the standard offset in minutes, east positive
print("Z", int((now.utcoffset() - now.dst()).total_seconds()) // 60)
# D: the daylight-saving shift of this year (0 without daylight saving)
jan = datetime.datetime(now.year, 1, 15, 12, tzinfo=z).dst()
jul = datetime.datetime(now.year, 7, 15, 12, tzinfo=z).dst()
print("D", int((jan or jul).total_seconds()))

# L t offset dst: the middle of every month, and around every change of offset
instants = set()
prev = calendar.timegm((1971, 1, 1, 0, 0, 0))
for y in range(1971, 2101):
    for m in range(1, 13):
        t = calendar.timegm((y, m, 1, 0, 0, 0))
        instants.add(t + 14 * 86400 + 43200)
        if off(t) != off(prev):
            lo, hi = prev, t
            while hi - lo > 1:
                mid = (lo + hi) // 2
                if off(mid) == off(lo):
                    lo = mid
                else:
                    hi = mid
            for d in (-3601, -1, 0, 1, 3600):
                instants.add(hi + d)
        prev = t
for t in sorted(instants):
    print("L", t, off(t), 1 if at(t).dst() else 0)
)PY";

struct ZoneFacts {
    int standardMinutes = 0;
    long long daylightShift = 0;
    struct Instant {
        unsigned long long t;
        long long offset;
        bool dst;
    };
    std::vector<Instant> instants;
    size_t transitions = 0;
};

ZoneFacts readZoneFacts(const std::string& zone) {
    ZoneFacts facts;
    long long lastOffset = 0;
    for (const std::string& line : runPython(kZoneOracle, zone)) {
        std::istringstream in(line.substr(2));
        if (line[0] == 'Z') {
            in >> facts.standardMinutes;
        } else if (line[0] == 'D') {
            in >> facts.daylightShift;
        } else if (line[0] == 'L') {
            ZoneFacts::Instant i{};
            int dst = 0;
            in >> i.t >> i.offset >> dst;
            i.dst = dst != 0;
            if (!facts.instants.empty() && i.offset != lastOffset) ++facts.transitions;
            lastOffset = i.offset;
            facts.instants.push_back(i);
        }
    }
    return facts;
}

// Asked once per zone and program.
const ZoneFacts& zoneFacts(const std::string& zone) {
    static std::map<std::string, ZoneFacts> known;
    auto it = known.find(zone);
    if (it == known.end()) it = known.emplace(zone, readZoneFacts(zone)).first;
    return it->second;
}

// The helpers that cache a value for the process (the standard offset, the
// daylight-saving shift) are checked in a fresh copy of this program, so that
// every zone gets its own first call.  The copy reports what went wrong on
// its error output and exits with 1.
void checkCachedZoneValuesAndExit(const ZoneFacts& facts) {
    int bad = 0;
    if (timeZoneMin() != facts.standardMinutes) {
        std::fprintf(stderr, "timeZoneMin %d, expected %d\n", timeZoneMin(), facts.standardMinutes);
        ++bad;
    }
    for (const auto& i : facts.instants) {
        const unsigned long long want = i.dst ? i.t : i.t - static_cast<unsigned long long>(facts.daylightShift);
        const unsigned long long got = localTimeFixDLT(i.t);
        if (got != want && ++bad <= 5)
            std::fprintf(stderr, "localTimeFixDLT(%llu) = %llu, expected %llu\n", i.t, got, want);
    }
    std::exit(bad ? 1 : 0);
}

class Zone : public ::testing::TestWithParam<const char*> {};

TEST_P(Zone, OffsetsLocalTimestampsAndLocalFieldsFollowZoneinfo) {
    ScopedTZ tz(GetParam());
    const ZoneFacts& facts = zoneFacts(GetParam());
    ASSERT_GT(facts.instants.size(), 1500u);
    int bad = 0;
    for (const auto& i : facts.instants) {
        if (utcToLocal(i.t) != i.t + static_cast<unsigned long long>(i.offset) && ++bad <= 5) ADD_FAILURE() << "utcToLocal(" << i.t << "), offset " << i.offset;
        if (localToUTC(i.t) != i.t - static_cast<unsigned long long>(i.offset) && ++bad <= 5)
            ADD_FAILURE() << "localToUTC(" << i.t << "), offset " << i.offset;
        // The zone's wall clock at t, as zoneinfo gives its offset.
        sTimestamp expect;
        unixToTimestamp(static_cast<unsigned int>(static_cast<long long>(i.t) + i.offset), expect);
        sTimestamp local;
        unixToLocalTimestamp(static_cast<long long>(i.t), local);
        if (show(local) != show(expect) && ++bad <= 5)
            ADD_FAILURE() << "unixToLocalTimestamp(" << i.t << ") = " << show(local) << ", not " << show(expect);
        long long back = -1;
        if (!localFieldsToUnix(local.year, local.month, local.day, local.hour, local.minute, local.second, back)) {
            if (++bad <= 5) ADD_FAILURE() << "localFieldsToUnix refused " << show(local);
            continue;
        }
        // In the hour that a change back to standard time repeats, either of
        // the two instants carries these fields.
        sTimestamp again;
        unixToLocalTimestamp(back, again);
        if (show(again) != show(local) && ++bad <= 5)
            ADD_FAILURE() << show(local) << " became " << back << ", which reads " << show(again);
    }
    EXPECT_EQ(bad, 0);
}

TEST(LocalFields, OutOfRangeFieldsAreRefusedNotRolledOver) {
    ScopedTZ tz("Europe/Berlin");
    long long t = 0;
    ASSERT_TRUE(localFieldsToUnix(2021, 7, 14, 13, 45, 30, t));
    EXPECT_EQ(t, 1626263130);  // Python: datetime(2021,7,14,13,45,30, tzinfo=ZoneInfo('Europe/Berlin'))
    t = 7;
    EXPECT_FALSE(localFieldsToUnix(2021, 13, 1, 0, 0, 0, t));
    EXPECT_FALSE(localFieldsToUnix(2021, 0, 1, 0, 0, 0, t));
    EXPECT_FALSE(localFieldsToUnix(2021, 12, 31, 24, 0, 0, t));
    EXPECT_FALSE(localFieldsToUnix(2021, 12, 32, 0, 0, 0, t));
    EXPECT_FALSE(localFieldsToUnix(2021, 12, 1, 0, -1, 0, t));
    EXPECT_FALSE(localFieldsToUnix(1899, 12, 1, 0, 0, 0, t));
    EXPECT_EQ(t, 7);  // untouched on failure
}

TEST_P(Zone, StandardOffsetAndDaylightCorrectionMatchZoneinfo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScopedTZ tz(GetParam());
    const ZoneFacts& facts = zoneFacts(GetParam());
    ASSERT_GT(facts.instants.size(), 1500u);
    EXPECT_EXIT(checkCachedZoneValuesAndExit(facts), ::testing::ExitedWithCode(0), "");
}

TEST_P(Zone, GetCurrTimestampIsTheLocalTimeOfNow) {
    ScopedTZ tz(GetParam());
    const long long before = getCurrUnixTime();
    sTimestamp ts;
    ASSERT_TRUE(getCurrTimestamp(ts));
    const long long after = getCurrUnixTime();
    const auto lines = runPython(R"PY(
import datetime, sys
from zoneinfo import ZoneInfo
z = ZoneInfo(sys.argv[1])
for t in sys.argv[2:]:
    d = datetime.datetime.fromtimestamp(int(t), z)
    print(d.year, d.month, d.day, d.hour, d.minute, d.second)
)PY",
                                 std::string(GetParam()) + " " + std::to_string(before) + " " + std::to_string(after));
    ASSERT_EQ(lines.size(), 2u);
    auto asText = [](const std::string& line) {
        unsigned v[6] = {};
        std::sscanf(line.c_str(), "%u %u %u %u %u %u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
        return show(stamp(v[0], v[1], v[2], v[3], v[4], v[5]));
    };
    EXPECT_TRUE(show(ts) == asText(lines[0]) || show(ts) == asText(lines[1]))
        << show(ts) << " is neither " << lines[0] << " nor " << lines[1];
}

// Berlin keeps daylight saving from March to October; Sydney and Santiago
// from spring to autumn of the southern year; Kolkata has none and a
// half-hour offset.
INSTANTIATE_TEST_SUITE_P(BothHemispheres, Zone,
                         ::testing::Values("Europe/Berlin", "Australia/Sydney", "America/Santiago", "Asia/Kolkata"),
                         [](const ::testing::TestParamInfo<const char*>& zone) {
                             std::string name = zone.param;
                             for (char& c : name)
                                 if (c == '/') c = '_';
                             return name;
                         });

// ---------------------------------------------------------------------------
// Clocks

TEST(Clock, TicksCountElapsedMilliseconds) {
    const unsigned int a = ticks_ms();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const unsigned int b = ticks_ms();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(b - a, 59u);
    EXPECT_LE(b - a, static_cast<unsigned int>(elapsed) + 2);
}

TEST(Clock, TicksDoNotFollowTheDateBeingSetBackOrForward) {
    const unsigned int a = ticks_ms();
    const unsigned long long wallBefore = ticks_us();
    gWallShiftUs = -86400LL * 1000000LL;  // the date is set back a day
    const unsigned int b = ticks_ms();
    const unsigned long long wallBack = ticks_us();
    gWallShiftUs = 86400LL * 1000000LL;  // and a day forward
    const unsigned int c = ticks_ms();
    const long long secondsForward = getCurrUnixTime();
    gWallShiftUs = 0;
    const long long secondsNow = getCurrUnixTime();

    // The wall clock did move, as the helpers that read it show...
    EXPECT_LT(wallBack + 86000ULL * 1000000ULL, wallBefore);
    EXPECT_GT(secondsForward, secondsNow + 86000);
    // ...and the ticks went on as if nothing happened.
    EXPECT_GE(b, a);
    EXPECT_LT(b - a, 2000u);
    EXPECT_GE(c, b);
    EXPECT_LT(c - a, 2000u);
}

TEST(Clock, FirstUseFromManyThreadsAtOnceAgrees) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ScopedTZ tz("Australia/Sydney");
            constexpr int kThreads = 8;
            const unsigned long long july = 1721001600ULL;
            std::atomic<bool> go{false};
            unsigned int ticks[kThreads];
            int zones[kThreads];
            unsigned long long fixed[kThreads];
            std::vector<std::thread> threads;
            for (int n = 0; n < kThreads; ++n)
                threads.emplace_back([&, n] {
                    while (!go.load()) std::this_thread::yield();
                    ticks[n] = ticks_ms();
                    zones[n] = timeZoneMin();
                    fixed[n] = localTimeFixDLT(july);
                });
            go = true;
            for (auto& t : threads) t.join();
            int bad = 0;
            for (int n = 0; n < kThreads; ++n) {
                if (ticks[n] > 5000) ++bad;
                if (zones[n] != 600) ++bad;
                if (fixed[n] != july - 3600) ++bad;
            }
            std::exit(bad ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
