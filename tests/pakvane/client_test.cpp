// The manager's path, its update-check launcher and the once-a-day rule: the
// bundle names come from the readable names file, the "manager" is a small
// script that records its argument vector, the configuration lives under a
// temporary HOME.
// qor-test-labels: tsan
#include "pakvane/client.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"
#include "uitoolkit/ciappconfig.h"
#include "uitoolkit/lang.h"

namespace {

// Entries of the section "names" read straight from the text file the blob
// is generated from.
std::map<int, std::string> namesFromText() {
    std::ifstream in(std::string(QOR_SOURCE_DIR) + "/src/pakvane/lang/names.txt");
    std::map<int, std::string> out;
    std::string line;
    bool inNames = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inNames = line == "[names]";
            continue;
        }
        std::size_t eq = line.find(" = ");
        if (inNames && eq != std::string::npos) out[std::stoi(line.substr(0, eq))] = line.substr(eq + 3);
    }
    return out;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Waits until the launcher's run has ended.
void waitForLauncher() {
    for (int i = 0; i < 1000 && cStartCheckUpdatesJob::instance().runs(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(cStartCheckUpdatesJob::instance().runs());
}

// The argument vectors of every run of the script, in order.
std::vector<std::vector<std::string>> runsIn(const std::string& log) {
    std::vector<std::vector<std::string>> runs;
    std::string bytes = qortest::readFile(log);
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) break;
        std::vector<std::string> argv;
        std::string rec = bytes.substr(at, end - at);
        for (std::size_t p = 0, z; (z = rec.find('\0', p)) != std::string::npos; p = z + 1)
            argv.push_back(rec.substr(p, z - p));
        runs.push_back(argv);
        at = end + 1;
    }
    return runs;
}

class UpdateLauncher : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("HOME");
        oldHome_ = old ? old : "";
        setenv("HOME", home_.path().c_str(), 1);
        // A folder with a blank and a quote, as a bundle name may have.
        const std::string bundle = home_.path() + "/QOR Manager's.app";
        ASSERT_EQ(mkdir(bundle.c_str(), 0700), 0);
        manager_ = bundle + "/Pakvane";
        log_ = home_.file("argv.log");
        // Each run appends its argv[0] (as the kernel gave it to the script),
        // then its arguments, each ended by NUL, the run ended by a newline.
        ASSERT_TRUE(qortest::writeFile(manager_, "#!/bin/sh\n{ printf '%s\\0' \"$0\" \"$@\"; printf '\\n'; } >> '" +
                                                     log_ + "'\n"));
        ASSERT_EQ(chmod(manager_.c_str(), 0700), 0);
    }
    void TearDown() override {
        waitForLauncher();
        setenv("HOME", oldHome_.c_str(), 1);
    }

    qortest::TempDir home_;
    std::string oldHome_;
    std::string manager_;
    std::string log_;
};

TEST(ManagerPath, BundleNameFollowsTheAppliedLanguage) {
    const std::map<int, std::string> names = namesFromText();
    ASSERT_EQ(names.size(), 3u);
    const unsigned saved = cLibLang::glastAppliedLang;
    const struct {
        unsigned lang;
        int index;
    } cases[] = {{lngKOR, 2}, {lngRUS, 0}, {lngJPN, 1}, {lngENG, 0}, {lngTUR, 0}, {lngCount, 0}};
    for (const auto& c : cases) {
        cLibLang::glastAppliedLang = c.lang;
        _guardchar<char> path;
        EXPECT_TRUE(getAppManagerPath(path));
        ASSERT_NE(path.get(), nullptr);
        EXPECT_EQ(std::string(path.get()), "/Applications/" + names.at(c.index) + ".app/Contents/MacOS/Pakvane")
            << c.lang;
    }
    cLibLang::glastAppliedLang = saved;
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(pakvaneName(i), nullptr);
        EXPECT_EQ(std::string(pakvaneName(i)), names.at(i));
    }
    EXPECT_EQ(pakvaneName(3), nullptr);
    EXPECT_EQ(pakvaneName(-1), nullptr);
}

TEST(ManagerPath, DayStampCountsThirtyOneDaysAMonth) {
    EXPECT_EQ(updateDayStamp(sTimestamp{2026, 12, 5, 0, 0, 0}), 754049);
    EXPECT_EQ(updateDayStamp(sTimestamp{2026, 12, 5, 23, 59, 59}), 754049);
    // New Year's day: 1 + (1 + 2027 * 12) * 31.
    EXPECT_EQ(updateDayStamp(sTimestamp{2027, 1, 1, 0, 0, 0}), 754076);
}

TEST(ManagerPath, CodenamesOutsideTheSafeSetAreRefused) {
    for (const char* ok : {"a", "org.example.app", "Tool_2-x", "0abc"})
        EXPECT_TRUE(isSafeUpdateCodename(ok)) << ok;
    const std::string longest(kMaxUpdateCodenameBytes, 'a');
    EXPECT_TRUE(isSafeUpdateCodename(longest.c_str()));
    const std::string tooLong(kMaxUpdateCodenameBytes + 1, 'a');
    for (const char* bad : {"", "-rf", ".hidden", "a b", "a;b", "a$(id)", "a`id`", "a|b", "a&b", "a'b", "a\"b",
                            "a/b", "a\\b", "a\nb", "a*", "\xc3\xa9", tooLong.c_str()})
        EXPECT_FALSE(isSafeUpdateCodename(bad)) << bad;
    EXPECT_FALSE(isSafeUpdateCodename(nullptr));
}

TEST_F(UpdateLauncher, ManagerGetsItsArgumentsExactlyAndOnlyOnceADay) {
    cCIAppFullConfig config;
    ASSERT_TRUE(config.openConfig("qor"));
    const sTimestamp day1{2026, 12, 5, 9, 0, 0}, later{2026, 12, 5, 23, 0, 0}, day2{2026, 12, 6, 0, 1, 0};

    ASSERT_TRUE(autoCheckUpdatesWith(manager_.c_str(), &config, day1, "org.example-app_2", true));
    waitForLauncher();
    EXPECT_EQ(config.getParamInt32("updates/org.example-app_2"), 754049);
    // Later the same day: true, nothing started.
    EXPECT_TRUE(autoCheckUpdatesWith(manager_.c_str(), &config, later, "org.example-app_2", false));
    waitForLauncher();
    // Another package is its own matter; the next day starts the check again.
    ASSERT_TRUE(autoCheckUpdatesWith(manager_.c_str(), &config, later, "other", false));
    waitForLauncher();
    ASSERT_TRUE(autoCheckUpdatesWith(manager_.c_str(), &config, day2, "org.example-app_2", false));
    waitForLauncher();

    const std::vector<std::vector<std::string>> want = {
        {manager_, "update", "org.example-app_2", "quite"},
        {manager_, "update", "other", "normal"},
        {manager_, "update", "org.example-app_2", "normal"},
    };
    EXPECT_EQ(runsIn(log_), want);
    EXPECT_EQ(config.getParamInt32("updates/org.example-app_2"), updateDayStamp(day2));

    // The stamps were saved: a fresh configuration reads them back.
    cCIAppFullConfig again;
    ASSERT_TRUE(again.openConfig("qor"));
    EXPECT_EQ(again.getParamInt32("updates/org.example-app_2"), updateDayStamp(day2));
    EXPECT_EQ(again.getParamInt32("updates/other"), updateDayStamp(later));

    // Without a configuration every call starts the check.
    ASSERT_TRUE(autoCheckUpdatesWith(manager_.c_str(), nullptr, day2, "org.example-app_2", true));
    waitForLauncher();
    EXPECT_EQ(runsIn(log_).size(), 4u);
}

TEST_F(UpdateLauncher, HostileCodenamesNeverStartAnything) {
    cCIAppFullConfig config;
    ASSERT_TRUE(config.openConfig("qor"));
    const sTimestamp day{2026, 12, 5, 9, 0, 0};
    const std::string pwned = home_.file("pwned");
    const std::string touch = "x; touch '" + pwned + "'";
    const std::string subst = "x$(touch " + pwned + ")";
    for (const std::string& name : {touch, subst, std::string("-x"), std::string("a/../b"), std::string()}) {
        EXPECT_FALSE(autoCheckUpdatesWith(manager_.c_str(), &config, day, name.c_str(), true)) << name;
        waitForLauncher();
    }
    EXPECT_FALSE(autoCheckUpdatesWith(manager_.c_str(), &config, day, nullptr, true));
    EXPECT_FALSE(autoCheckUpdates(const_cast<char*>(touch.c_str()), true));
    waitForLauncher();
    EXPECT_FALSE(exists(log_));
    EXPECT_FALSE(exists(pwned));
    EXPECT_FALSE(config.hasSection("updates"));

    // A missing manager: false, and the configuration is left alone.
    EXPECT_FALSE(autoCheckUpdatesWith(home_.file("none").c_str(), &config, day, "app", true));
    EXPECT_FALSE(autoCheckUpdatesWith(home_.path().c_str(), &config, day, "app", true));
    EXPECT_FALSE(config.hasSection("updates"));
    EXPECT_FALSE(exists(log_));
}

TEST_F(UpdateLauncher, LauncherHandsEveryArgumentOverUntouched) {
    // Whatever the stored arguments hold reaches the program as is: no shell
    // splits, expands or runs any of it.
    const std::string pwned = home_.file("pwned");
    const std::vector<std::string> args = {manager_, "update", "a; touch " + pwned, "$(touch " + pwned + ")",
                                           "`touch " + pwned + "`", "\"q\" 'r' \\ *", "", "line\nbreak"};
    cStartCheckUpdatesJob& job = cStartCheckUpdatesJob::instance();
    job.setCommand(manager_.c_str(), args);
    ASSERT_TRUE(job.start());
    waitForLauncher();
    // One argument holds a line feed: compare the record byte for byte.
    std::string bytes = qortest::readFile(log_);
    std::string want;
    for (const std::string& a : args) want += a + '\0';
    want += '\n';
    EXPECT_EQ(bytes, want);
    EXPECT_FALSE(exists(pwned));
}

}  // namespace
