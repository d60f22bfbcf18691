// Helpers shared by the test suites.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qortest {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets an environment variable (null: unsets it) while the object lives;
// then it is as it was.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_, old_;
    bool had_;
};

// Runs body where permission bits bind.  An ordinary user runs it here; the
// superuser, whom no permission bit stops from reading a folder, runs it in
// a forked child that first becomes the user "nobody" (65534).  True when it
// ran and none of its assertions failed (a child's failures are printed by
// the child).  What the body uses on disk must be reachable by that user.
bool asUnprivileged(const std::function<void()>& body);
// Whether permission bits stop this process (false for the superuser).
bool permissionsBind();

// Runs body in a forked child held to cpuSeconds of processor time
// (RLIMIT_CPU): true when it ended within them and none of the body's
// assertions failed (a child's failures are printed by the child; failures
// of the test before the body do not count).  Work that a
// decoder must bound by itself is run so: if the bound is lost the test
// fails at the limit instead of running on.
bool withinCpuSeconds(unsigned cpuSeconds, const std::function<void()>& body);

// Holds this process to `seconds` of processor time (RLIMIT_CPU: SIGXCPU
// past it) and, should it wait instead of working, to a wall-clock alarm far
// past that; withinCpuSeconds's child is held so.  Code that keeps threads
// of a library's own (LibRaw's OpenMP team) may wait for ever in a child
// forked from a process whose threads it had started; such code runs in
// the child of a death test in gtest's "threadsafe" style, which is the
// test program started afresh, held by this call.
void limitProcessorTime(int seconds);

// Runs a shell command line and returns its standard output; `status`
// receives the exit status (-1 when it could not run).
std::string runCommand(const std::string& command, int* status = nullptr);

// The path of a file under tests/data.
std::string dataPath(const std::string& name);

// Every name in a folder but "." and "..", sorted; empty when it cannot be
// read.
std::vector<std::string> namesIn(const std::string& dir);

// The inputs kept in a folder of test data: its files but a README, the
// scripts that made them (*.py, *.sh) and hidden ones, sorted by name.
// `found` tells whether the folder could be read at all.
std::vector<std::string> keptInputs(const std::string& dir, bool* found = nullptr);
// The folder exists and holds exactly the inputs named, in any order;
// otherwise the message names the folder, the inputs missing and those no
// one expects.  A replay test checks its folder so: a folder removed, an
// input lost and one added without saying what it must give all fail it.
::testing::AssertionResult holdsInputs(const std::string& dir, std::vector<std::string> names);
// ... exactly `count` inputs, whatever their names.
::testing::AssertionResult holdsInputCount(const std::string& dir, std::size_t count);

// Writes bytes to path, creating or emptying the file; false on failure.
bool writeFile(const std::string& path, const std::string& bytes);

// The whole content of path; a file that cannot be read gives "<unreadable>",
// a text no test expects as content.
std::string readFile(const std::string& path);

// The interpreter the oracles run on: Debian's /usr/bin/python3 when there
// is one (it carries the python3-* packages the tests install), else the
// python3 found on PATH.
const std::string& python3();

// Runs a Python script, written to a temporary file so that it needs no
// quoting, with `args` appended to its command line.  Returns its standard
// output; when the script fails, its standard error follows, so that an
// assertion on the output shows why.  `status` receives the exit status.
std::string runPython(const std::string& script, const std::string& args = "", int* status = nullptr);

// A reproducible byte pattern (xorshift64*): the same bytes in every run,
// so an oracle can be handed them through a file.
std::vector<unsigned char> pattern(std::size_t n, std::uint64_t seed = 0x9E3779B97F4A7C15ull);

// Two pages, the second unreadable: bytes placed to end at the first page's
// last byte are read up to there and not a byte further, or the process
// faults.  begin() is null when the pages could not be had.
class GuardedPage {
public:
    GuardedPage();
    ~GuardedPage();
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;
    char* begin() const { return base_; }
    char* end() const { return base_ + size_; }  // the first unreadable byte

private:
    char* base_ = nullptr;
    std::size_t size_ = 0;
};

// The kernel's flags of the mapping that holds `at` ("hg": marked for huge
// pages, "nh": marked against them), from /proc/self/smaps; empty if none
// or where the system has no such file.
std::vector<std::string> mappingFlags(const void* at);
bool hasFlag(const std::vector<std::string>& flags, const char* flag);
// The bytes of all the process's mappings that carry `flag`.
std::size_t bytesMarked(const char* flag);

// Lower-case hexadecimal of n bytes.
std::string hex(const void* bytes, std::size_t n);

}  // namespace qortest
