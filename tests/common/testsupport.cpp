#include "testsupport.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qortest {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/qortest.XXXXXX";
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    int rc = std::system(cmd.c_str());
    (void)rc;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (old) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
}

bool permissionsBind() { return geteuid() != 0; }

bool asUnprivileged(const std::function<void()>& body) {
    if (permissionsBind()) {
        const bool before = ::testing::Test::HasFailure();
        body();
        return before || !::testing::Test::HasFailure();
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const gid_t nobody = 65534;
        if (setgroups(1, &nobody) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(2);
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void limitProcessorTime(int seconds) {
    // Past the soft limit the kernel sends SIGXCPU, past the hard one
    // SIGKILL; either ends the process.
    const rlimit cpu{static_cast<rlim_t>(seconds), static_cast<rlim_t>(seconds) + 1};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0) std::abort();
    alarm(static_cast<unsigned>(seconds) * 20 + 60);
}

// The failed assertions of the running test so far: a child's own are those
// it adds to what it inherited.
static int failuresSoFar() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    int n = 0;
    for (int i = 0; test && i < test->result()->total_part_count(); ++i)
        n += test->result()->GetTestPartResult(i).failed();
    return n;
}

bool withinCpuSeconds(unsigned cpuSeconds, const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        limitProcessorTime(static_cast<int>(cpuSeconds));
        const int inherited = failuresSoFar();
        body();
        std::fflush(nullptr);
        _exit(failuresSoFar() > inherited ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    if (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || WTERMSIG(status) == SIGKILL))
        std::fprintf(stderr, "the child ran past %u s of processor time\n", cpuSeconds);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string runCommand(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = (rc != -1 && WIFEXITED(rc)) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string dataPath(const std::string& name) { return std::string(QOR_TEST_DATA) + "/" + name; }

namespace {

bool endsWith(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// Names for a failure message, comma-separated.
std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

}  // namespace

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> keptInputs(const std::string& dir, bool* found) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (found) *found = d != nullptr;
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n[0] != '.' && n != "README" && !endsWith(n, ".py") && !endsWith(n, ".sh")) names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

::testing::AssertionResult holdsInputs(const std::string& dir, std::vector<std::string> names) {
    bool found = false;
    const std::vector<std::string> there = keptInputs(dir, &found);
    if (!found) return ::testing::AssertionFailure() << "no folder " << dir;
    std::sort(names.begin(), names.end());
    std::vector<std::string> missing, unlisted, twice;
    std::set_difference(names.begin(), names.end(), there.begin(), there.end(), std::back_inserter(missing));
    std::set_difference(there.begin(), there.end(), names.begin(), names.end(), std::back_inserter(unlisted));
    for (std::size_t i = 1; i < names.size(); ++i)
        if (names[i] == names[i - 1]) twice.push_back(names[i]);
    if (missing.empty() && unlisted.empty() && twice.empty()) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure() << dir << ":";
    if (!missing.empty()) failure << " missing " << joined(missing) << ";";
    if (!unlisted.empty()) failure << " not expected " << joined(unlisted) << ";";
    if (!twice.empty()) failure << " listed twice " << joined(twice) << ";";
    return failure;
}

::testing::AssertionResult holdsInputCount(const std::string& dir, std::size_t count) {
    bool found = false;
    const std::vector<std::string> there = keptInputs(dir, &found);
    if (!found) return ::testing::AssertionFailure() << "no folder " << dir;
    if (there.size() == count) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << dir << " holds " << there.size() << " inputs (" << joined(there)
                                         << "), expected " << count;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<unreadable>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string& python3() {
    static const std::string path = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    return path;
}

std::string runPython(const std::string& script, const std::string& args, int* status) {
    TempDir dir;
    const std::string file = dir.file("oracle.py");
    const std::string errors = dir.file("stderr.txt");
    if (!writeFile(file, script)) {
        if (status) *status = -1;
        return "<no script>";
    }
    int rc = -1;
    std::string out = runCommand(python3() + " '" + file + "' " + args + " 2>'" + errors + "'", &rc);
    if (rc != 0) out += readFile(errors);
    if (status) *status = rc;
    return out;
}

std::vector<unsigned char> pattern(std::size_t n, std::uint64_t seed) {
    std::vector<unsigned char> v(n);
    std::uint64_t x = seed;
    for (auto& b : v) {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        b = static_cast<unsigned char>((x * 0x2545F4914F6CDD1Dull) >> 56);
    }
    return v;
}

std::string hex(const void* bytes, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::string s;
    for (std::size_t i = 0; i < n; ++i) (s += digits[p[i] >> 4]) += digits[p[i] & 15];
    return s;
}

GuardedPage::GuardedPage() {
    size_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* at = mmap(nullptr, 2 * size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return;
    base_ = static_cast<char*>(at);
    if (mprotect(base_ + size_, size_, PROT_NONE) != 0) {
        munmap(base_, 2 * size_);
        base_ = nullptr;
    }
}

GuardedPage::~GuardedPage() {
    if (base_) munmap(base_, 2 * size_);
}

namespace {

// Calls `each` with the bounds and flags of every mapping of the process,
// from /proc/self/smaps, until it returns true.
void walkMappings(const std::function<bool(std::uintptr_t, std::uintptr_t, std::vector<std::string>&)>& each) {
    std::ifstream smaps("/proc/self/smaps");
    unsigned long long lo = 0, hi = 0;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long long a = 0, b = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> a >> dash >> b && dash == '-') {
            lo = a;
            hi = b;
            continue;
        }
        if (line.compare(0, 8, "VmFlags:") == 0) {
            std::istringstream words(line.substr(8));
            std::vector<std::string> flags;
            for (std::string w; words >> w;) flags.push_back(w);
            if (each(lo, hi, flags)) return;
        }
    }
}

}  // namespace

std::vector<std::string> mappingFlags(const void* at) {
    const auto a = reinterpret_cast<std::uintptr_t>(at);
    std::vector<std::string> found;
    walkMappings([&](std::uintptr_t lo, std::uintptr_t hi, std::vector<std::string>& flags) {
        if (a < lo || a >= hi) return false;
        found.swap(flags);
        return true;
    });
    return found;
}

std::size_t bytesMarked(const char* flag) {
    std::size_t total = 0;
    walkMappings([&](std::uintptr_t lo, std::uintptr_t hi, std::vector<std::string>& flags) {
        if (hasFlag(flags, flag)) total += hi - lo;
        return false;
    });
    return total;
}

bool hasFlag(const std::vector<std::string>& flags, const char* flag) {
    for (const std::string& x : flags)
        if (x == flag) return true;
    return false;
}

}  // namespace qortest
