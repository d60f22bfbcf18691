// The byte-stream interface's shared rules and the file stream, checked
// against what Python's os module sees of the same files, and record locks
// against a second process holding or asking for them with fcntl.lockf.
#include "base/fileio.h"

#include <gtest/gtest.h>
#include "testsupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using qortest::runCommand;

// Runs a Python snippet with the path as sys.argv[1] and returns its output
// without the trailing newline.
std::string py(const std::string& code, const std::string& path = "") {
    std::string cmd = qortest::python3() + " -S -c '" + code + "' '" + path + "' 2>&1";
    std::string out = runCommand(cmd);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

unsigned modeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0xFFFFu;
}

long long sizeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

long long positionOf(const cFileIO& f) {
    return static_cast<long long>(::lseek(static_cast<int>(f.descriptor()), 0, SEEK_CUR));
}

// A stream whose reads and writes fail: what a socket or a broken device does.
class FailingStream : public cFileIOTarget {
public:
    long long size() override { return 0; }
    unsigned int read(void*, unsigned int) override { return kIOFailed; }
    unsigned int write(void*, unsigned int) override { return kIOFailed; }
    bool set_fp(unsigned long long) override { return true; }
    bool set_fp_end(unsigned long long) override { return true; }
    bool set_eof(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return true; }
};

// ---------------------------------------------------------------------------
// The interface's shared rules

TEST(StreamInterface, AllOrNothingFormsFailOnFailedTransferEvenForTheAllBitsCount) {
    FailingStream s;
    unsigned char b[4];
    // The failure count is all bits set; a request of the same size must not
    // be mistaken for a complete transfer.
    EXPECT_FALSE(s.readf(b, 0xFFFFFFFFu));
    EXPECT_FALSE(s.writef(b, 0xFFFFFFFFu));
    EXPECT_FALSE(s.readf(b, 4));
    EXPECT_FALSE(s.writef(b, 4));
    EXPECT_TRUE(s.readf(b, 0));
    EXPECT_TRUE(s.writef(b, 0));
    EXPECT_FALSE(cFileIOTarget::transferred(s.read(b, 4)));
    // The base forms of the optional operations refuse.
    EXPECT_FALSE(s.cFileIOTarget::set_time(2020, 1, 2, 3, 4, 5));
    EXPECT_EQ(s.cFileIOTarget::typeOf(), 0);
    EXPECT_EQ(s.cFileIOTarget::write(b, 3), 0u);
}

TEST(FileIO, CreateAndOpenMakeKeepAndRefuseFilesAsAnotherProgramSeesThem) {
    qortest::TempDir dir;
    const std::string p = dir.file("new.bin"), script = dir.file("script.sh");
    cFileIO f;
    EXPECT_FALSE(f.open(p.c_str(), fmRead));  // open never creates
    EXPECT_FALSE(exists(p));
    mode_t old = ::umask(077);
    const bool created = f.create(p.c_str(), fmReadWrite);
    ::umask(old);
    ASSERT_TRUE(created);
    EXPECT_EQ(f.typeOf(), 1);
    EXPECT_EQ(py("import os,sys,stat; s=os.stat(sys.argv[1]); print(s.st_size, oct(stat.S_IMODE(s.st_mode)))", p),
              "0 0o664");  // despite the mask

    ASSERT_TRUE(qortest::writeFile(script, "#!/bin/sh\necho hi\n"));
    ASSERT_EQ(::chmod(script.c_str(), 0750), 0);
    ASSERT_TRUE(f.create(script.c_str(), fmWrite));  // emptied, its mode kept
    EXPECT_EQ(sizeOf(script), 0);
    EXPECT_EQ(modeOf(script), 0750u);
    ASSERT_EQ(::symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
    ASSERT_TRUE(f.create(dir.file("link").c_str(), fmWrite));  // makes a dangling link's target
    EXPECT_TRUE(f.writef(const_cast<char*>("xyz"), 3));
    EXPECT_FALSE(f.open(dir.file("missing").c_str(), fmReadWrite));
    EXPECT_STREQ(f.path(), dir.file("link").c_str());  // a failed open keeps the path
    EXPECT_EQ(qortest::readFile(dir.file("target")), "xyz");
    EXPECT_FALSE(f.open(nullptr, fmRead));
    EXPECT_FALSE(f.create(nullptr, fmRead));

    // The mode bits choose the access; higher bits are ignored, 0 reads.
    char b[4];
    cFileIO r, w, z;
    ASSERT_TRUE(r.open(script.c_str(), fmRead));
    EXPECT_EQ(r.write(b, 1), cFileIOTarget::kIOFailed);
    ASSERT_TRUE(w.open(dir.file("target").c_str(), static_cast<eFileMode>(6)));  // as the installer moves files
    EXPECT_EQ(w.read(b, 1), cFileIOTarget::kIOFailed);
    EXPECT_EQ(w.write(const_cast<char*>("XY"), 2), 2u);
    ASSERT_TRUE(z.open(script.c_str(), static_cast<eFileMode>(0)));
    EXPECT_EQ(z.write(b, 1), cFileIOTarget::kIOFailed);
    w.close();
    EXPECT_EQ(qortest::readFile(dir.file("target")), "XYz");
}

// Random reads, writes, seeks (past either end too) and truncations against a
// byte-string model; what the file holds at the end is read back by another
// reader.
TEST(FileIO, RandomOperationsAgreeWithAByteStringModel) {
    qortest::TempDir dir;
    const std::string p = dir.file("m.bin");
    cFileIO f;
    ASSERT_TRUE(f.create(p.c_str(), fmReadWrite));
    std::string model;
    std::size_t pos = 0;
    unsigned long long seed = 99;
    auto next = [&seed](std::size_t mod) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>((seed >> 33) % mod);
    };
    for (int step = 0; step < 3000; ++step) {
        const std::size_t size = model.size();
        switch (next(5)) {
            case 0: {
                std::string bytes(next(9000), '\0');
                for (char& c : bytes) c = static_cast<char>(next(256));
                ASSERT_TRUE(f.writef(bytes.data(), static_cast<unsigned>(bytes.size())));
                if (pos > model.size()) model.resize(pos, '\0');
                model.resize(std::max(model.size(), pos + bytes.size()));
                model.replace(pos, bytes.size(), bytes);
                pos += bytes.size();
                break;
            }
            case 1: {
                const std::size_t n = next(9000);
                std::string got(n, '\xEE');
                const std::string want = pos < size ? model.substr(pos, n) : "";
                // The all-or-nothing form fails short of n and keeps what arrived.
                ASSERT_EQ(f.readf(got.data(), static_cast<unsigned>(n)), want.size() == n) << step;
                ASSERT_EQ(got.substr(0, want.size()), want) << step;
                pos += want.size();
                break;
            }
            case 2: {
                const std::size_t to = next(size + 100);
                ASSERT_TRUE(f.set_fp(to));  // beyond the end too
                pos = to;
                break;
            }
            case 3: {
                const long long back = static_cast<long long>(next(size + 20)) - 10;
                ASSERT_EQ(f.set_fp_end(static_cast<unsigned long long>(-back)), back <= static_cast<long long>(size));
                if (back <= static_cast<long long>(size)) pos = static_cast<std::size_t>(static_cast<long long>(size) - back);
                break;
            }
            case 4: {
                const std::size_t length = next(size + 5000);
                ASSERT_TRUE(f.set_eof(length));  // the position stays
                model.resize(length, '\0');
                break;
            }
        }
        ASSERT_EQ(positionOf(f), static_cast<long long>(pos)) << step;
        ASSERT_EQ(f.size(), static_cast<long long>(model.size())) << step;
    }
    EXPECT_FALSE(f.set_fp(0x8000000000000000ull));
    EXPECT_FALSE(f.set_eof(0x8000000000000000ull));
    f.close();
    EXPECT_TRUE(qortest::readFile(p) == model);
}

TEST(FileIO, OffsetsBeyondFourGigabytesWorkInASparseFile) {
    qortest::TempDir dir;
    const std::string p = dir.file("big.bin");
    cFileIO f;
    ASSERT_TRUE(f.create(p.c_str(), fmReadWrite));
    const unsigned long long big = 5ull << 30;
    ASSERT_TRUE(f.set_eof(big));
    EXPECT_EQ(f.size(), static_cast<long long>(big));
    ASSERT_TRUE(f.set_fp(big - 2));
    EXPECT_TRUE(f.writef(const_cast<char*>("QR"), 2));
    f.close();
    EXPECT_EQ(py("import os,sys; f=open(sys.argv[1],\"rb\"); f.seek(-3,2); print(os.path.getsize(sys.argv[1]), f.read().hex())", p),
              std::to_string(big) + " 005152");
}

int openDescriptorCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

TEST(FileIO, AClosedFileFailsEverythingAndReopeningClosesThePreviousDescriptor) {
    cFileIO f;
    unsigned char b[4];
    EXPECT_EQ(f.descriptor(), -1);
    EXPECT_EQ(f.read(b, 4), cFileIOTarget::kIOFailed);
    EXPECT_EQ(f.write(b, 4), cFileIOTarget::kIOFailed);
    EXPECT_FALSE(f.set_fp(0));
    EXPECT_FALSE(f.set_fp_end(0));
    EXPECT_FALSE(f.set_eof(0));
    EXPECT_EQ(f.size(), 0);
    EXPECT_FALSE(f.lock(0, 4));
    EXPECT_FALSE(f.lock_w(0, 4));
    EXPECT_FALSE(f.unlock(0, 4));
    EXPECT_FALSE(f.set_time(2020, 1, 1, 0, 0, 0));
    EXPECT_FALSE(f.set_time(1000ull, 0ull, 0ull));
    f.close();  // closing twice is harmless
    EXPECT_STREQ(f.path(), "");

    qortest::TempDir dir;
    const std::string a = dir.file("a"), c = dir.file("c");
    ASSERT_TRUE(qortest::writeFile(a, "A"));
    ASSERT_TRUE(f.open(a.c_str(), fmRead));
    const int withOne = openDescriptorCount();
    EXPECT_TRUE(cFileIO::move(a.c_str(), c.c_str()));
    EXPECT_FALSE(cFileIO::move(a.c_str(), c.c_str()));
    ASSERT_TRUE(f.open(c.c_str(), fmRead));
    EXPECT_EQ(openDescriptorCount(), withOne);
    EXPECT_TRUE(f.readf(b, 1));
    EXPECT_EQ(b[0], 'A');
    f.close();
    EXPECT_EQ(openDescriptorCount(), withOne - 1);
    EXPECT_TRUE(cFileIO::remove(c.c_str()));
    EXPECT_FALSE(cFileIO::remove(c.c_str()));
    EXPECT_FALSE(exists(c));
    EXPECT_TRUE(cFileIO::usesPosix());
    EXPECT_FALSE(cFileIO::setPosix(false));
}

// Times in Berlin, a zone with daylight saving; the expected instants are
// Python's datetime with zoneinfo("Europe/Berlin").
TEST(FileIO, LocalTimesAreSetAsTheZoneHasThemAndOutOfRangeFieldsRefused) {
    ::setenv("TZ", "Europe/Berlin", 1);  // no other test here depends on the zone
    ::tzset();
    qortest::TempDir dir;
    const std::string p = dir.file("t.bin");
    ASSERT_TRUE(qortest::writeFile(p, "x"));
    auto times = [&p] {
        struct stat st;
        if (::stat(p.c_str(), &st) != 0) return std::string("<no stat>");
        return std::to_string(st.st_atim.tv_sec) + "." + std::to_string(st.st_atim.tv_nsec) + " " +
               std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    };
    cFileIO f;
    ASSERT_TRUE(f.open(p.c_str(), fmRead));  // a read-only descriptor may set its own file's times
    ASSERT_TRUE(f.set_time(2021, 7, 14, 13, 45, 30));  // summer time, UTC+2
    EXPECT_EQ(times(), "1626263130.0 1626263130.0");
    ASSERT_TRUE(f.set_time(1999, 12, 31, 23, 59, 59));  // winter time, UTC+1
    EXPECT_EQ(times(), "946681199.0 946681199.0");
    // mktime would roll month 13 or hour 24 into another date.
    const int bad[][6] = {{2020, 13, 1, 0, 0, 0}, {2020, 12, 31, 24, 0, 0}, {2020, 0, 10, 0, 0, 0},
                          {2020, 6, 32, 0, 0, 0}, {2020, 6, 1, 0, 60, 0},  {1899, 6, 1, 0, 0, 0}};
    for (const auto& t : bad) EXPECT_FALSE(f.set_time(t[0], t[1], t[2], t[3], t[4], t[5]));
    EXPECT_EQ(times(), "946681199.0 946681199.0");
    // Local seconds: 1000000000 read as UTC lies in Berlin's summer time.
    ASSERT_TRUE(f.set_time(1000000000ull, 0ull, 0ull));
    EXPECT_EQ(times(), "999992800.0 999992800.0");
    EXPECT_FALSE(f.set_time(0xFFFFFFFFull, 5ull, 6ull));  // no time: nothing changes
    EXPECT_EQ(times(), "999992800.0 999992800.0");
    void* h = file_open(p.c_str(), fmRead);
    EXPECT_TRUE(file_set_time(h, 1700000000ull, 0ull, 0ull));  // November: 1 hour off
    EXPECT_EQ(times(), "1699996400.0 1699996400.0");
    EXPECT_EQ(file_close(h), 0);
}

// ---------------------------------------------------------------------------
// Record locks, seen from a second process

// A Python process that takes a lock on bytes 0..3 of path, says "locked",
// holds it for holdMs and then releases it and ends.
class LockHolder {
public:
    LockHolder(const std::string& path, int holdMs) {
        std::string cmd =
            qortest::python3() + " -S -c 'import fcntl,sys,time; f=open(sys.argv[1],\"r+b\"); "
            "fcntl.lockf(f, fcntl.LOCK_EX, 4, 0); print(\"locked\", flush=True); "
            "time.sleep(int(sys.argv[2])/1000.0); fcntl.lockf(f, fcntl.LOCK_UN, 4, 0); print(\"released\", flush=True)' '" +
            path + "' " + std::to_string(holdMs);
        pipe_ = ::popen(cmd.c_str(), "r");
        char line[64] = {};
        if (pipe_ && std::fgets(line, sizeof line, pipe_)) locked_ = std::strncmp(line, "locked", 6) == 0;
    }
    ~LockHolder() {
        if (!pipe_) return;
        char line[64];
        while (std::fgets(line, sizeof line, pipe_)) {
        }
        ::pclose(pipe_);
    }
    bool locked() const { return locked_; }

private:
    FILE* pipe_ = nullptr;
    bool locked_ = false;
};

// What a second process gets when it asks for non-waiting locks on 0..3 and
// on 4..7.
std::string otherProcessTriesLocks(const std::string& path) {
    return py("import fcntl,sys\nf=open(sys.argv[1],\"r+b\")\nr=[]\nfor start in (0,4):\n try:\n  fcntl.lockf(f, fcntl.LOCK_EX|fcntl.LOCK_NB, 4, start)\n  r.append(\"granted\")\n except OSError:\n  r.append(\"refused\")\nprint(*r)",
              path);
}

TEST(FileLocks, ANonWaitingLockFailsAtOnceWhileAnotherProcessHoldsIt) {
    qortest::TempDir dir;
    const std::string p = dir.file("hive");
    ASSERT_TRUE(qortest::writeFile(p, std::string(7, '\0')));
    cFileIO f;
    ASSERT_TRUE(f.open(p.c_str(), fmReadWrite));
    LockHolder holder(p, 600);
    ASSERT_TRUE(holder.locked());
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(f.lock(0, 4));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
    // Bytes outside the held range are free.
    EXPECT_TRUE(f.lock(4, 3));
    // The waiting form is granted once the other process lets go.
    EXPECT_TRUE(f.lock_w(0, 4));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
}

TEST(FileLocks, OurLockKeepsOthersOutUntilUnlockedOrClosed) {
    qortest::TempDir dir;
    const std::string p = dir.file("hive");
    ASSERT_TRUE(qortest::writeFile(p, std::string(8, '\0')));
    cFileIO f;
    ASSERT_TRUE(f.open(p.c_str(), fmReadWrite));
    ASSERT_TRUE(f.lock(0, 4));
    EXPECT_EQ(otherProcessTriesLocks(p), "refused granted");
    ASSERT_TRUE(f.unlock(0, 4));
    ASSERT_TRUE(f.lock_w(4, 4));
    EXPECT_EQ(otherProcessTriesLocks(p), "granted refused");
    f.close();
    EXPECT_EQ(otherProcessTriesLocks(p), "granted granted");
}

// ---------------------------------------------------------------------------
// Flat functions and the descriptor owner

TEST(FileFunctions, HandlesCarryTheDescriptorAndAllBitsMeanNone) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(file_invalid_handle()), ~std::uintptr_t{0});
    EXPECT_FALSE(file_valid(file_invalid_handle()));
    // Only the low 32 bits count.
    EXPECT_FALSE(file_valid(reinterpret_cast<void*>(std::uintptr_t{0xFFFFFFFFu})));
    EXPECT_FALSE(file_valid(file_open("/nonexistent/qor/file", fmRead)));

    qortest::TempDir dir;
    const std::string p = dir.file("flat.bin");
    mode_t old = ::umask(022);
    void* h = file_create(p.c_str(), fmReadWrite);
    ::umask(old);
    ASSERT_TRUE(file_valid(h));
    EXPECT_EQ(modeOf(p), 0664u);
    EXPECT_EQ(file_write(h, const_cast<char*>("hello"), 5), 5u);
    EXPECT_EQ(file_size(h), 5);
    EXPECT_TRUE(file_set_fp(h, 1));
    char b[8] = {};
    EXPECT_EQ(file_read(h, b, 8), 4u);
    EXPECT_STREQ(b, "ello");
    EXPECT_TRUE(file_set_fp_end(h, static_cast<unsigned long long>(-2LL)));
    EXPECT_EQ(file_read(h, b, 8), 2u);
    EXPECT_TRUE(file_set_eof(h, 2));
    EXPECT_EQ(file_close(h), 0);
    EXPECT_EQ(qortest::readFile(p), "he");

    EXPECT_EQ(file_size(file_invalid_handle()), 0);
    EXPECT_EQ(file_read(file_invalid_handle(), b, 1), cFileIOTarget::kIOFailed);
    EXPECT_NE(file_close(file_invalid_handle()), 0);
}

TEST(SafeFD, ClosesWhatItOwnsButNeverDescriptorZero) {
    qortest::TempDir dir;
    const std::string p = dir.file("fd.bin");
    ASSERT_TRUE(qortest::writeFile(p, "x"));
    int fd = ::open(p.c_str(), O_RDONLY);
    ASSERT_GT(fd, 0);
    {
        cSafeFD owner(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
        EXPECT_TRUE(owner.valid());
    }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);

    int a = ::open(p.c_str(), O_RDONLY);
    cSafeFD owner(reinterpret_cast<void*>(static_cast<std::intptr_t>(a)));
    int b = ::open(p.c_str(), O_RDONLY);
    owner.set(reinterpret_cast<void*>(static_cast<std::intptr_t>(b)));
    EXPECT_EQ(::fcntl(a, F_GETFD), -1);
    EXPECT_NE(::fcntl(b, F_GETFD), -1);
    owner.close();
    EXPECT_EQ(::fcntl(b, F_GETFD), -1);
    EXPECT_FALSE(owner.valid());

    {
        cSafeFD zero(nullptr);
        EXPECT_FALSE(zero.valid());
    }
    EXPECT_NE(::fcntl(0, F_GETFD), -1);
}

// A replacement is invisible until committed: the folder holds the target
// alone before, after, and when the writer gives up, is destroyed or is
// killed; a commit keeps the target's permission bits.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ReplacementFile, TheTargetChangesOnlyOnCommitAndNothingElseIsLeft) {
    qortest::TempDir dir;
    const std::string target = dir.file("payload.data");
    ASSERT_TRUE(qortest::writeFile(target, "old"));
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    const std::vector<std::string> alone = {"payload.data"};
    {
        cReplacementFile f;
        ASSERT_TRUE(f.begin(target.c_str()));
        ASSERT_TRUE(f.writef(const_cast<char*>("new bytes"), 9));
        EXPECT_EQ(f.get_fp(), 9);
        ASSERT_TRUE(f.set_fp(0));
        ASSERT_TRUE(f.writef(const_cast<char*>("N"), 1));
        EXPECT_EQ(qortest::readFile(target), "old");
        EXPECT_EQ(namesIn(dir.path()), alone);
        ASSERT_TRUE(f.commit());
        EXPECT_FALSE(f.valid());
    }
    EXPECT_EQ(qortest::readFile(target), "New bytes");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(dir.path()), alone);
    {
        cReplacementFile f;
        ASSERT_TRUE(f.begin(target.c_str()));
        ASSERT_TRUE(f.writef(const_cast<char*>("lost"), 4));
        f.abandon();
        EXPECT_FALSE(f.commit());
    }
    {
        cReplacementFile f;
        ASSERT_TRUE(f.begin(target.c_str()));
        ASSERT_TRUE(f.writef(const_cast<char*>("lost too"), 8));
    }
    EXPECT_EQ(qortest::readFile(target), "New bytes");
    EXPECT_EQ(namesIn(dir.path()), alone);
    // Killed with the replacement half written.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        cReplacementFile f;
        if (f.begin(target.c_str())) f.writef(const_cast<char*>("half"), 4);
        raise(SIGKILL);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(qortest::readFile(target), "New bytes");
    EXPECT_EQ(namesIn(dir.path()), alone);
    // A new target gets the mode a created file gets.
    const std::string fresh = dir.file("fresh");
    cReplacementFile f;
    ASSERT_TRUE(f.begin(fresh.c_str()));
    ASSERT_TRUE(f.writef(const_cast<char*>("x"), 1));
    ASSERT_TRUE(f.commit());
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    const mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
    // A program may ask for the bits a new file of its user gets; a target
    // that exists keeps its own all the same.
    for (const auto& name : {fresh, dir.file("made")}) {
        cReplacementFile g;
        g.setNewFileMode(0644 | 0170000);
        ASSERT_TRUE(g.begin(name.c_str()));
        ASSERT_TRUE(g.commit());
        ASSERT_EQ(stat(name.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, name == fresh ? (0666u & ~mask) : 0644u) << name;
    }
    EXPECT_FALSE(f.begin(dir.file("no/such/folder/x").c_str()));
    EXPECT_EQ(f.pendingPath(), nullptr);
}

// What lies at a path, without following a link: "file:<bytes>",
// "link:<where>" or "none".
std::string whatIsAt(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "none";
    if (S_ISLNK(st.st_mode)) {
        char buf[4096];
        const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
        return "link:" + std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return "file:" + qortest::readFile(path);
}

bool replaceWith(const std::string& target, const std::string& bytes) {
    cReplacementFile f;
    return f.begin(target.c_str()) && f.writef(const_cast<char*>(bytes.data()), static_cast<unsigned>(bytes.size())) &&
           f.commit();
}

// The mode a replaced file keeps, and a new one's, under the creation
// masks a user may run with.
TEST(ReplacementFile, KeepsTheReplacedFilesModeAndGivesANewOneTheMasksMode) {
    struct Case {
        mode_t mask;
        int existing;  // the target's mode, -1: no target yet
        mode_t expected;
    };
    const Case cases[] = {
        {077, 0600, 0600}, {077, 0644, 0644}, {077, 0755, 0755}, {077, -1, 0600},
        {022, 0600, 0600}, {022, 0640, 0640}, {022, -1, 0644},   {002, -1, 0664},
    };
    for (bool named : {false, true}) {
        cReplacementFile::gNamedOnly = named;
        for (const Case& c : cases) {
            qortest::TempDir dir;
            const std::string target = dir.file("hive");
            if (c.existing >= 0) {
                ASSERT_TRUE(qortest::writeFile(target, "old"));
                ASSERT_EQ(chmod(target.c_str(), static_cast<mode_t>(c.existing)), 0);
            }
            const mode_t was = umask(c.mask);
            const bool ok = replaceWith(target, "new");
            umask(was);
            ASSERT_TRUE(ok);
            struct stat st;
            ASSERT_EQ(lstat(target.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, c.expected) << "mask " << c.mask << " mode " << c.existing << " named " << named;
            EXPECT_EQ(maskedFileMode(0666), 0666u & ~was);
        }
    }
    cReplacementFile::gNamedOnly = false;
}

// A target reached through symbolic links: the file at the end is
// replaced, in its own folder, and every link stays.
TEST(ReplacementFile, ReplacesTheFileALinkLeadsToAndKeepsTheLink) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link -> where, made in order
        std::string real;                                         // the file written, "" when none is
        bool realExists;
        std::size_t inDots;  // entries of the folder "dots" after
    };
    const Case cases[] = {
        {"relative", {{"hive", "dots/hive"}}, "dots/hive", true, 1},
        {"chain", {{"hive", "l2"}, {"l2", "dots/hive"}}, "dots/hive", true, 1},
        {"relative in its folder", {{"hive", "dots/l3"}, {"dots/l3", "hive"}}, "dots/hive", true, 2},
        {"dangling", {{"hive", "dots/absent"}}, "dots/absent", false, 1},
        {"loop", {{"hive", "l4"}, {"l4", "hive"}}, "", false, 0},
    };
    for (bool named : {false, true}) {
        cReplacementFile::gNamedOnly = named;
        for (const Case& c : cases) {
            qortest::TempDir dir;
            ASSERT_EQ(mkdir(dir.file("dots").c_str(), 0700), 0);
            if (c.realExists) {
                ASSERT_TRUE(qortest::writeFile(dir.file(c.real), "old"));
                ASSERT_EQ(chmod(dir.file(c.real).c_str(), 0600), 0);
            }
            for (const auto& l : c.links) ASSERT_EQ(symlink(l.second.c_str(), dir.file(l.first).c_str()), 0);
            errno = 0;
            const bool ok = replaceWith(dir.file("hive"), "new");
            EXPECT_EQ(ok, !c.real.empty()) << c.name;
            if (!ok) {
                EXPECT_EQ(errno, ELOOP) << c.name;
            }
            for (const auto& l : c.links) EXPECT_EQ(whatIsAt(dir.file(l.first)), "link:" + l.second) << c.name;
            if (!c.real.empty()) {
                EXPECT_EQ(whatIsAt(dir.file(c.real)), "file:new") << c.name;
                struct stat st;
                ASSERT_EQ(stat(dir.file(c.real).c_str(), &st), 0);
                if (c.realExists) {
                    EXPECT_EQ(st.st_mode & 07777, 0600u) << c.name;
                }
            }
            // No temporary file is left beside the target.
            EXPECT_EQ(namesIn(dir.file("dots")).size(), c.inDots) << c.name << " named " << named;
        }
    }
    cReplacementFile::gNamedOnly = false;
}

// Names a temporary file may take, taken beforehand by links to files
// outside the folder, dangling links and plain files: none is opened,
// followed or replaced, and the save still lands.
TEST(ReplacementFile, NeverOpensThroughWhatLiesAtATemporaryName) {
    for (bool named : {false, true}) {
        cReplacementFile::gNamedOnly = named;
        qortest::TempDir dir, outside;
        ASSERT_EQ(mkdir(dir.file("store").c_str(), 0700), 0);
        const std::string target = dir.file("store/hive");
        ASSERT_TRUE(qortest::writeFile(target, "old"));
        const std::string secret = outside.file("secret");
        ASSERT_TRUE(qortest::writeFile(secret, "secret"));
        // The names the next temporary files of this process take.
        std::vector<std::string> planted;
        // (A run of this test alone starts its counter at 0.)
        for (unsigned n = 0; n < 90; ++n) {
            const std::string at = dir.file("store/.hive." + std::to_string(getpid()) + "." + std::to_string(n) + ".tmp");
            const int made = n % 3 == 0   ? symlink(secret.c_str(), at.c_str())
                             : n % 3 == 1 ? symlink(outside.file("made" + std::to_string(n)).c_str(), at.c_str())
                                          : (qortest::writeFile(at, "planted") ? 0 : -1);
            ASSERT_EQ(made, 0);
            planted.push_back(at);
        }
        std::vector<std::string> before;
        for (const auto& p : planted) before.push_back(whatIsAt(p));
        for (int round = 0; round < 4; ++round) {
            const std::string bytes = "new " + std::to_string(round);
            EXPECT_TRUE(replaceWith(target, bytes)) << round;
            EXPECT_EQ(whatIsAt(target), "file:" + bytes);
        }
        EXPECT_EQ(qortest::readFile(secret), "secret");
        EXPECT_EQ(namesIn(outside.path()), (std::vector<std::string>{"secret"}));
        for (std::size_t i = 0; i < planted.size(); ++i) EXPECT_EQ(whatIsAt(planted[i]), before[i]) << planted[i];
        EXPECT_EQ(namesIn(dir.file("store")).size(), planted.size() + 1);
    }
    cReplacementFile::gNamedOnly = false;
}

}  // namespace
