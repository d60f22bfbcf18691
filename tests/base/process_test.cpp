// qor-test-labels: tsan
#include "base/exception.h"
#include "base/process.h"

#include "testsupport.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

bool waitUntil(const std::function<bool()>& cond, int ms = 5000) {
    auto t0 = Clock::now();
    while (!cond()) {
        if (std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count() > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void writeScript(const std::string& path, const std::string& body) {
    std::ofstream(path, std::ios::binary) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
}

// State and parent of a process from /proc/<pid>/stat; false once it is gone
// (a zombie is still there, with state 'Z').
bool procStat(pid_t pid, char& state, pid_t& parent, std::string* comm = nullptr) {
    std::string s = qortest::readFile("/proc/" + std::to_string(pid) + "/stat");
    auto open = s.find('(');
    auto close = s.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 > s.size()) return false;
    if (comm) *comm = s.substr(open + 1, close - open - 1);
    std::istringstream rest(s.substr(close + 2));
    long ppid = 0;
    rest >> state >> ppid;
    parent = static_cast<pid_t>(ppid);
    return true;
}

// Our children named comm, zombies included.
std::vector<pid_t> childrenNamed(const std::string& comm) {
    std::vector<pid_t> found;
    DIR* d = opendir("/proc");
    if (!d) return found;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end) continue;
        char state;
        pid_t parent;
        std::string name;
        if (procStat(static_cast<pid_t>(pid), state, parent, &name) && parent == getpid() && name == comm)
            found.push_back(static_cast<pid_t>(pid));
    }
    closedir(d);
    return found;
}

bool gone(pid_t pid) {
    char state;
    pid_t parent;
    return !procStat(pid, state, parent);
}

// Puts a fake desktop opener first on PATH: it writes each argument it gets,
// each followed by a NUL, to a log, and ends with the status in
// QOR_OPENER_EXIT.
class ShellOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        log_ = dir_.file("opener.log");
        mkdir(dir_.file("bin").c_str(), 0755);
        writeScript(dir_.file("bin/xdg-open"),
                    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$QOR_OPENER_LOG\"\n"
                    "exit \"${QOR_OPENER_EXIT:-0}\"\n");
        setenv("PATH", (dir_.file("bin") + ":" + oldPath_).c_str(), 1);
        setenv("QOR_OPENER_LOG", log_.c_str(), 1);
        unsetenv("QOR_OPENER_EXIT");
    }
    void TearDown() override {
        setenv("PATH", oldPath_.c_str(), 1);
        unsetenv("QOR_OPENER_LOG");
        unsetenv("QOR_OPENER_EXIT");
    }
    // The arguments the opener got last, or {"<not run>"}.
    std::vector<std::string> openerArgs() {
        if (!exists(log_)) return {"<not run>"};
        std::string s = qortest::readFile(log_);
        std::vector<std::string> args;
        size_t start = 0;
        for (size_t i = 0; i < s.size(); ++i)
            if (s[i] == '\0') {
                args.push_back(s.substr(start, i - start));
                start = i + 1;
            }
        unlink(log_.c_str());
        return args;
    }

    qortest::TempDir dir_;
    std::string log_;
    std::string oldPath_;
};

using Args = std::vector<std::string>;

TEST_F(ShellOpenTest, TextThatReadsAsACommandLineRunsNothing) {
    const std::string pwned = dir_.file("pwned");
    const std::vector<std::string> texts = {
        "https://example.org/a b?x=1&y=\"2\"",
        dir_.file("my documents"),
        "http://x/ ; touch " + pwned,
        "touch " + pwned,
        "\"/usr/bin/touch\" " + pwned,
        "http://x/$(touch " + pwned + ")",
        "http://x/`touch " + pwned + "`",
        "a\ntouch " + pwned,
        "x | touch " + pwned,
    };
    for (const std::string& t : texts) {
        EXPECT_TRUE(t[0] == '/' ? run_macopen(t.c_str()) : shellOpen(t.c_str())) << t;
        EXPECT_EQ(openerArgs(), (Args{t}));
        EXPECT_FALSE(exists(pwned)) << t;
    }
}

TEST_F(ShellOpenTest, EmptyAndNullAreRefusedAndTheOpenersFailureIsReported) {
    EXPECT_FALSE(shellOpen(nullptr));
    EXPECT_FALSE(shellOpen(""));
    EXPECT_FALSE(run_macopen(nullptr));
    EXPECT_EQ(openerArgs(), (Args{"<not run>"}));
    // Handed over as it is; an opener that cannot open it fails, and so do we.
    setenv("QOR_OPENER_EXIT", "2", 1);
    EXPECT_FALSE(shellOpen("\"/no/such path"));
    EXPECT_EQ(openerArgs(), (Args{"\"/no/such path"}));
    setenv("PATH", dir_.file("nothing-here").c_str(), 1);  // no opener at all
    EXPECT_FALSE(shellOpen("https://example.org/"));
    EXPECT_EQ(openerArgs(), (Args{"<not run>"}));
}

TEST_F(ShellOpenTest, LeadingDashIsNeverReadAsAnOpenerOption) {
    EXPECT_FALSE(shellOpen("--help"));
    EXPECT_FALSE(shellOpen("-x"));
    EXPECT_EQ(openerArgs(), (Args{"<not run>"}));

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    std::ofstream("-notes.txt") << "x";
    bool opened = shellOpen("-notes.txt");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(opened);
    EXPECT_EQ(openerArgs(), (Args{"./-notes.txt"}));
}

// ---------------------------------------------------------------------------

TEST(ExecCmd, RunsACommandLineAndReportsItsStatus) {
    qortest::TempDir dir;
    std::string out = dir.file("out");
    EXPECT_TRUE(execCmd(("printf '%s|%s' 'a b' c > '" + out + "'").c_str()));
    EXPECT_EQ(qortest::readFile(out), "a b|c");
    EXPECT_FALSE(execCmd("exit 3"));
    EXPECT_FALSE(execCmd("false"));
    EXPECT_TRUE(execCmd("true"));
    EXPECT_FALSE(execCmd("/no/such/program"));
    EXPECT_FALSE(execCmd(nullptr));
    EXPECT_FALSE(execCmd(""));
}

TEST(RunProgram, ArgumentsArriveAsGivenAndTheStatusIsReported) {
    qortest::TempDir dir;
    const std::string out = dir.file("out"), pwned = dir.file("pwned");
    // sh -c SCRIPT NAME ARGS...: the script is ours, the arguments only data.
    const std::string script = "printf '%s|' \"$0\" \"$@\" > '" + out + "'";
    const std::string hostile = "x; touch " + pwned + " $(touch " + pwned + ")";
    const char* argv[] = {"sh", "-c", script.c_str(), "name", hostile.c_str(), "'q' \"r\"", "", nullptr};
    EXPECT_TRUE(runProgram("/bin/sh", argv));
    EXPECT_EQ(qortest::readFile(out), "name|" + hostile + "|'q' \"r\"||");
    EXPECT_NE(access(pwned.c_str(), F_OK), 0);

    const char* fails[] = {"sh", "-c", "exit 3", nullptr};
    EXPECT_FALSE(runProgram("/bin/sh", fails));
    const char* plain[] = {"true", nullptr};
    EXPECT_TRUE(runProgram("/bin/true", plain));
    // No PATH search: a bare name is not found.
    EXPECT_FALSE(runProgram("true", plain));
    EXPECT_FALSE(runProgram("/no/such/program", plain));
    EXPECT_FALSE(runProgram(nullptr, plain));
    EXPECT_FALSE(runProgram("/bin/true", nullptr));
    const char* empty[] = {nullptr};
    EXPECT_FALSE(runProgram("/bin/true", empty));
}

TEST(ExecCmd, ChildrenGetTheDefaultSigpipeEvenWhenWeIgnoreIt) {
    cException::init();  // ignores SIGPIPE in this process
    qortest::TempDir dir;
    std::string out = dir.file("status");
    // yes dies of SIGPIPE (128 + 13) once head has gone; with SIGPIPE ignored
    // it would instead fail its write and exit with 1.
    EXPECT_TRUE(execCmd(("{ yes; echo $? > '" + out + "'; } | head -n 1 > /dev/null").c_str()));
    EXPECT_EQ(qortest::readFile(out), "141\n");
}

pid_t spawnShell(const char* script) {
    const char* argv[] = {"sh", "-c", script, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return -1;
    return pid;
}

TEST(WaitFor, ReportsTheExitStatusAndFailedWaits) {
    pid_t ok = spawnShell("exit 0");
    pid_t bad = spawnShell("exit 4");
    ASSERT_GT(ok, 0);
    ASSERT_GT(bad, 0);
    EXPECT_TRUE(waitfor(ok));
    EXPECT_FALSE(waitfor(bad));
    // Waits that fail are failures, not successes.
    EXPECT_FALSE(waitfor(ok));  // already collected
    EXPECT_FALSE(waitfor(getpid()));
    EXPECT_FALSE(waitfor(0));
    EXPECT_FALSE(waitfor(-1));
}

TEST(JustRun, StartsTheProgramAndLeavesNoZombieOrGivesFalse) {
    qortest::TempDir dir;
    std::string marker = dir.file("ran");
    std::string script = dir.file("qorjrprobe");
    writeScript(script, "sleep 0.1\necho \"$#\" > '" + marker + "'\n");
    EXPECT_TRUE(just_run(script.c_str()));
    ASSERT_TRUE(waitUntil([&] { return qortest::readFile(marker) == "0\n"; }));
    // Once it has ended it is collected rather than left as a zombie.
    EXPECT_TRUE(waitUntil([&] { return childrenNamed("qorjrprobe").empty(); }));
    EXPECT_FALSE(just_run("/no/such/program"));
    EXPECT_FALSE(just_run("qor-no-such-program-on-path"));
    EXPECT_FALSE(just_run(nullptr));
    EXPECT_FALSE(just_run(""));
}

// ---------------------------------------------------------------------------

std::string asString(const _typebuf<unsigned char>& b) {
    return std::string(reinterpret_cast<const char*>(b.data()), static_cast<size_t>(b.count()));
}

// Reads until the output holds want or the time runs out.
std::string readUntil(cConProcess& p, const std::string& want, int ms = 5000) {
    std::string got;
    _typebuf<unsigned char> chunk;
    waitUntil(
        [&] {
            while (p.readOutput(chunk)) got += asString(chunk);
            return got.size() >= want.size();
        },
        ms);
    return got;
}

int waitForEnd(cConProcess& p) {
    if (!waitUntil([&] { return !p.isValid(); })) return -2;
    return p.status();
}

TEST(ConProcess, CatGetsItsNameEchoesAfterTheMarkerAndIsEndedAndReapedWhenReplacedOrTerminated) {
    cConProcess p;
    ASSERT_TRUE(p.startProcess("cat"));
    std::vector<pid_t> first, second;
    // The kernel names the process during its exec a moment before it
    // lays out the arguments, so the wait is for both.
    std::string cmdline;
    ASSERT_TRUE(waitUntil([&] {
        first = childrenNamed("cat");
        if (first.size() != 1) return false;
        cmdline = qortest::readFile("/proc/" + std::to_string(first[0]) + "/cmdline");
        return !cmdline.empty();
    }));
    EXPECT_EQ(cmdline, std::string("cat\0", 4));
    EXPECT_TRUE(p.writeInput("hello, pipes\n", 13));
    EXPECT_EQ(readUntil(p, "CMD>hello, pipes\n"), "CMD>hello, pipes\n");
    ASSERT_TRUE(p.startProcess("cat"));  // starting again ends the previous child
    EXPECT_TRUE(waitUntil([&] { return gone(first[0]); }));
    EXPECT_TRUE(p.writeInput("again", 5));
    EXPECT_EQ(readUntil(p, "CMD>again"), "CMD>again");
    ASSERT_TRUE(waitUntil([&] { return (second = childrenNamed("cat")).size() == 1; }));
    EXPECT_TRUE(p.terminate());
    EXPECT_FALSE(p.isValid());
    EXPECT_EQ(p.status(), -1);
    EXPECT_TRUE(waitUntil([&] { return gone(second[0]); }));  // collected, not left a zombie
}

TEST(ConProcess, StandardErrorIsMergedAndTheExitCodeKept) {
    qortest::TempDir dir;
    std::string script = dir.file("both");
    writeScript(script, "printf out\nprintf err >&2\nprintf ' %s' \"$#\"\nexit 3\n");
    cConProcess p;
    ASSERT_TRUE(p.startProcess(script.c_str()));
    EXPECT_EQ(readUntil(p, "CMD>outerr 0"), "CMD>outerr 0");
    int st = waitForEnd(p);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 3);
    EXPECT_FALSE(p.isValid());
    // The output stays readable after the end until close().
    _typebuf<unsigned char> b;
    EXPECT_FALSE(p.readOutput(b));
}

TEST(ConProcess, ReadsComeInChunksOfAtMost4096AndNothingLeavesTheBuffer) {
    qortest::TempDir dir;
    std::string script = dir.file("big");
    std::string done = dir.file("done");
    writeScript(script, "head -c 10000 /dev/zero | tr '\\0' x\ntouch '" + done + "'\nexec sleep 30\n");
    cConProcess p;
    ASSERT_TRUE(p.startProcess(script.c_str()));
    ASSERT_TRUE(waitUntil([&] { return exists(done); }));
    _typebuf<unsigned char> b;
    std::string all;
    std::vector<long long> sizes;
    while (p.readOutput(b)) {
        sizes.push_back(b.count());
        all += asString(b);
    }
    EXPECT_EQ(sizes, (std::vector<long long>{4096, 4096, 1812}));
    EXPECT_EQ(all, "CMD>" + std::string(10000, 'x'));
    // Nothing waiting: false, and the buffer still holds the last chunk.
    EXPECT_FALSE(p.readOutput(b));
    EXPECT_EQ(b.count(), 1812);
}

TEST(ConProcess, WriteInputIsOneWholeWriteOrFalse) {
    cConProcess idle;
    EXPECT_FALSE(idle.writeInput("x", 1));
    _typebuf<unsigned char> b;
    EXPECT_FALSE(idle.readOutput(b));
    EXPECT_TRUE(idle.terminate());  // no child: nothing to end
    EXPECT_FALSE(idle.simCtrlC());
    EXPECT_EQ(idle.status(), 0);

    cConProcess p;
    ASSERT_TRUE(p.startProcess("cat"));
    EXPECT_TRUE(p.writeInput("", 0));
    EXPECT_FALSE(p.writeInput(nullptr, 3));
    EXPECT_FALSE(p.writeInput("abc", -1));
}

TEST(ConProcess, WritingToAChildThatHasGoneFailsWithoutSigpipe) {
    struct sigaction dfl {}, old{};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGPIPE, &dfl, &old);  // a SIGPIPE would end this test program
    cConProcess p;
    ASSERT_TRUE(p.startProcess("true"));
    EXPECT_EQ(waitForEnd(p), 0);
    EXPECT_FALSE(p.writeInput("data", 4));
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    sigaction(SIGPIPE, &old, nullptr);
}

TEST(ConProcess, CtrlCReachesTheChild) {
    qortest::TempDir dir;
    std::string script = dir.file("trapper");
    std::string ready = dir.file("ready");
    writeScript(script, "trap 'printf got-int; exit 7' INT\ntouch '" + ready +
                            "'\nwhile :; do sleep 0.02; done\n");
    cConProcess p;
    ASSERT_TRUE(p.startProcess(script.c_str()));
    ASSERT_TRUE(waitUntil([&] { return exists(ready); }));
    EXPECT_TRUE(p.simCtrlC());
    int st = waitForEnd(p);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 7);
    EXPECT_EQ(readUntil(p, "CMD>got-int"), "CMD>got-int");
}

std::set<std::string> listFds() {
    std::set<std::string> fds;
    DIR* d = opendir("/proc/self/fd");
    while (dirent* e = readdir(d)) fds.insert(e->d_name);
    closedir(d);
    return fds;
}

TEST(ConProcess, AProgramThatCannotStartKeepsNothingOpen) {
    const std::set<std::string> before = listFds();
    cConProcess p;
    EXPECT_FALSE(p.startProcess("/no/such/program"));
    EXPECT_FALSE(p.startProcess(nullptr));
    EXPECT_FALSE(p.isValid());
    EXPECT_EQ(listFds(), before);
}

TEST(ConProcess, ChildrenDoNotInheritEachOthersPipes) {
    const std::set<std::string> before = listFds();
    cConProcess first;
    ASSERT_TRUE(first.startProcess("cat"));
    std::set<std::string> firstEnds;
    for (const std::string& fd : listFds())
        if (!before.count(fd)) firstEnds.insert(fd);
    ASSERT_GE(firstEnds.size(), 2u);  // its two pipe ends (and the listing's own)

    qortest::TempDir dir;
    std::string script = dir.file("fds");
    writeScript(script, "exec ls /proc/self/fd\n");
    cConProcess second;
    ASSERT_TRUE(second.startProcess(script.c_str()));
    EXPECT_EQ(waitForEnd(second), 0);
    std::string listing = readUntil(second, "CMD>0\n1\n2\n");
    std::istringstream lines(listing.substr(4));
    std::string fd;
    while (std::getline(lines, fd)) {
        if (fd == "3") continue;  // the folder ls lists
        EXPECT_EQ(firstEnds.count(fd), 0u) << "inherited descriptor " << fd;
    }
}

}  // namespace
