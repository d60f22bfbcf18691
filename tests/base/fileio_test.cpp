// The byte-stream interface's shared rules and the file stream, checked
// against what Python's os module sees of the same files, and record locks
// against a second process holding or asking for them with fcntl.lockf.
#include "base/fileio.h"

#include <gtest/gtest.h>
#include "testsupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

// A file holding the bytes 0 to 9, opened in the given mode.
class TenBytes : public ::testing::Test {
protected:
    void open(eFileMode mode) {
        ASSERT_TRUE(qortest::writeFile(path, std::string("\0\1\2\3\4\5\6\7\10\11", 10)));
        ASSERT_TRUE(f.open(path.c_str(), mode));
    }
    qortest::TempDir dir;
    const std::string path = dir.file("ten.bin");
    cFileIO f;
};

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

// The smallest stream: it only implements the pure operations.
class BareStream : public cFileIOTarget {
public:
    long long size() override { return 0; }
    unsigned int read(void*, unsigned int) override { return 0; }
    bool set_fp(unsigned long long) override { return true; }
    bool set_fp_end(unsigned long long) override { return true; }
    bool set_eof(unsigned long long) override { return true; }
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
}

TEST(StreamInterface, BaseOperationsRefuseWritesAndTimes) {
    BareStream s;
    char b[3] = {1, 2, 3};
    EXPECT_EQ(s.write(b, 3), 0u);
    EXPECT_FALSE(s.writef(b, 3));
    EXPECT_FALSE(s.set_time(2020, 1, 2, 3, 4, 5));
    EXPECT_EQ(s.typeOf(), 0);
}

// ---------------------------------------------------------------------------
// Opening and creating

TEST(FileIO, OpenOfMissingFileFailsAndCreateMakesItWithMode0664DespiteTheMask) {
    qortest::TempDir dir;
    const std::string p = dir.file("new.bin");
    cFileIO f;
    EXPECT_FALSE(f.open(p.c_str(), fmRead));
    EXPECT_FALSE(f.valid());
    EXPECT_FALSE(exists(p));

    mode_t old = ::umask(077);
    bool created = f.create(p.c_str(), fmReadWrite);
    ::umask(old);
    ASSERT_TRUE(created);
    EXPECT_TRUE(f.valid());
    EXPECT_EQ(f.typeOf(), 1);
    EXPECT_STREQ(f.path(), p.c_str());
    EXPECT_EQ(f.size(), 0);
    // What another program sees of it.
    EXPECT_EQ(py("import os,sys,stat; s=os.stat(sys.argv[1]); print(s.st_size, oct(stat.S_IMODE(s.st_mode)))", p),
              "0 0o664");
}

TEST(FileIO, CreateEmptiesAnExistingFileKeepingItsModeAndMakesTheTargetOfADanglingLink) {
    qortest::TempDir dir;
    const std::string p = dir.file("script.sh");
    ASSERT_TRUE(qortest::writeFile(p, "#!/bin/sh\necho hi\n"));
    ASSERT_EQ(::chmod(p.c_str(), 0750), 0);
    cFileIO f;
    ASSERT_TRUE(f.create(p.c_str(), fmWrite));
    EXPECT_EQ(sizeOf(p), 0);
    EXPECT_EQ(modeOf(p), 0750u);

    const std::string target = dir.file("target.bin");
    const std::string link = dir.file("link.bin");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(f.create(link.c_str(), fmWrite));
    char data[] = "xyz";
    EXPECT_EQ(f.write(data, 3), 3u);
    f.close();
    EXPECT_EQ(qortest::readFile(target), "xyz");
    EXPECT_EQ(modeOf(target), 0664u);
}

TEST(FileIO, OpenNeverCreatesOrTruncatesAndAFailedOpenKeepsThePath) {
    qortest::TempDir dir;
    const std::string p = dir.file("a.bin");
    ASSERT_TRUE(qortest::writeFile(p, "0123456789"));
    cFileIO f;
    ASSERT_TRUE(f.open(p.c_str(), fmReadWrite));
    EXPECT_EQ(f.size(), 10);
    EXPECT_EQ(sizeOf(p), 10);

    EXPECT_FALSE(f.open(dir.file("missing").c_str(), fmReadWrite));
    EXPECT_FALSE(f.valid());
    EXPECT_STREQ(f.path(), p.c_str());
    EXPECT_FALSE(exists(dir.file("missing")));
    EXPECT_FALSE(f.open(nullptr, fmRead));
    EXPECT_FALSE(f.create(nullptr, fmRead));
}

TEST(FileIO, ModeBitsChooseTheAccessAndHigherBitsAreIgnored) {
    qortest::TempDir dir;
    const std::string p = dir.file("m.bin");
    ASSERT_TRUE(qortest::writeFile(p, "abcd"));
    char b[4];

    cFileIO r;
    ASSERT_TRUE(r.open(p.c_str(), fmRead));
    EXPECT_EQ(r.write(b, 1), cFileIOTarget::kIOFailed);
    EXPECT_EQ(r.read(b, 4), 4u);

    cFileIO w;
    ASSERT_TRUE(w.open(p.c_str(), static_cast<eFileMode>(6)));  // as the installer moves files
    EXPECT_EQ(w.read(b, 1), cFileIOTarget::kIOFailed);
    EXPECT_FALSE(w.readf(b, 1));
    EXPECT_EQ(w.write(const_cast<char*>("XY"), 2), 2u);
    w.close();
    EXPECT_EQ(qortest::readFile(p), "XYcd");

    cFileIO z;  // mode 0 counts as read
    ASSERT_TRUE(z.open(p.c_str(), static_cast<eFileMode>(0)));
    EXPECT_EQ(z.write(b, 1), cFileIOTarget::kIOFailed);
}

// ---------------------------------------------------------------------------
// Reading, writing and seeking

TEST_F(TenBytes, ReadfAtTheEndFailsAndAShortReadKeepsWhatArrived) {
    open(fmRead);
    unsigned char buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_FALSE(f.readf(buf, 16));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(buf[i], i);
    EXPECT_EQ(buf[10], 0xEE);
    EXPECT_EQ(positionOf(f), 10);
    EXPECT_EQ(f.read(buf, 4), 0u);
    EXPECT_FALSE(f.readf(buf, 1));
    EXPECT_TRUE(f.readf(buf, 0));
}

TEST_F(TenBytes, SeekBeyondTheEndIsAcceptedReadsNothingAndKeepsTheSize) {
    open(fmRead);
    EXPECT_TRUE(f.set_fp(100));
    unsigned char b[4];
    EXPECT_EQ(f.read(b, 4), 0u);
    EXPECT_EQ(f.size(), 10);
    EXPECT_TRUE(f.set_fp(3));
    ASSERT_EQ(f.read(b, 2), 2u);
    EXPECT_EQ(b[0], 3);
    EXPECT_EQ(b[1], 4);
    // An offset that a signed file offset cannot hold is refused.
    EXPECT_FALSE(f.set_fp(0x8000000000000000ull));
}

TEST_F(TenBytes, SeekFromTheEndTakesASignedOffsetAndRefusesOneBeforeTheStart) {
    open(fmRead);
    unsigned char b[2];
    EXPECT_TRUE(f.set_fp_end(0));
    EXPECT_EQ(positionOf(f), 10);
    EXPECT_TRUE(f.set_fp_end(static_cast<unsigned long long>(-3LL)));
    ASSERT_EQ(f.read(b, 2), 2u);
    EXPECT_EQ(b[0], 7);
    EXPECT_TRUE(f.set_fp_end(5));
    EXPECT_EQ(positionOf(f), 15);
    // Before the start: the system refuses and the position stays.
    EXPECT_FALSE(f.set_fp_end(static_cast<unsigned long long>(-11LL)));
    EXPECT_EQ(positionOf(f), 15);
}

TEST_F(TenBytes, SetEofTruncatesAndExtendsWithZerosWithoutMovingThePosition) {
    open(fmReadWrite);
    ASSERT_TRUE(f.set_fp(8));
    EXPECT_TRUE(f.set_eof(4));
    EXPECT_EQ(f.size(), 4);
    EXPECT_EQ(sizeOf(path), 4);
    EXPECT_EQ(positionOf(f), 8);
    EXPECT_TRUE(f.set_eof(6));
    EXPECT_EQ(qortest::readFile(path), std::string("\0\1\2\3\0\0", 6));
    EXPECT_EQ(positionOf(f), 8);
    EXPECT_FALSE(f.set_eof(0x8000000000000000ull));
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

TEST(FileIO, WrittenBytesAreWhatAnotherReaderSees) {
    qortest::TempDir dir;
    const std::string p = dir.file("w.bin");
    cFileIO f;
    ASSERT_TRUE(f.create(p.c_str(), fmWrite));
    std::string data;
    for (int i = 0; i < 70000; ++i) data.push_back(static_cast<char>((i * 7 + 3) & 0xFF));
    EXPECT_TRUE(f.writef(data.data(), 40000));
    EXPECT_TRUE(f.writef(data.data() + 40000, 30000));
    EXPECT_EQ(f.size(), 70000);
    f.close();
    EXPECT_TRUE(qortest::readFile(p) == data);
}

TEST(FileIO, AClosedFileFailsEveryOperation) {
    cFileIO f;
    unsigned char b[4];
    EXPECT_FALSE(f.valid());
    EXPECT_EQ(f.descriptor(), -1);
    EXPECT_EQ(f.read(b, 4), cFileIOTarget::kIOFailed);
    EXPECT_EQ(f.write(b, 4), cFileIOTarget::kIOFailed);
    EXPECT_FALSE(f.readf(b, 4));
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
}

int openDescriptorCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

TEST(FileIO, ReopeningClosesThePreviousDescriptor) {
    qortest::TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b");
    ASSERT_TRUE(qortest::writeFile(a, "A"));
    ASSERT_TRUE(qortest::writeFile(b, "B"));
    cFileIO f;
    ASSERT_TRUE(f.open(a.c_str(), fmRead));
    const int withOne = openDescriptorCount();
    ASSERT_TRUE(f.open(b.c_str(), fmRead));
    EXPECT_EQ(openDescriptorCount(), withOne);
    char c = 0;
    EXPECT_EQ(f.read(&c, 1), 1u);
    EXPECT_EQ(c, 'B');
    EXPECT_STREQ(f.path(), b.c_str());
    f.close();
    EXPECT_EQ(openDescriptorCount(), withOne - 1);
}

TEST(FileIO, RemoveAndMoveActOnTheFileSystem) {
    qortest::TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b");
    ASSERT_TRUE(qortest::writeFile(a, "data"));
    EXPECT_TRUE(cFileIO::move(a.c_str(), b.c_str()));
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(qortest::readFile(b), "data");
    EXPECT_FALSE(cFileIO::move(a.c_str(), b.c_str()));
    EXPECT_TRUE(cFileIO::remove(b.c_str()));
    EXPECT_FALSE(exists(b));
    EXPECT_FALSE(cFileIO::remove(b.c_str()));
    EXPECT_TRUE(cFileIO::usesPosix());
    EXPECT_FALSE(cFileIO::setPosix(false));
}

// ---------------------------------------------------------------------------
// Times.  The expected values come from Python's datetime with
// zoneinfo("Europe/Berlin"), a zone with daylight saving.

class FileTimes : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "Europe/Berlin", 1);  // no other test here depends on the zone
        ::tzset();
        ASSERT_TRUE(qortest::writeFile(path_, "x"));
    }
    std::string times() {
        struct stat st;
        if (::stat(path_.c_str(), &st) != 0) return "<no stat>";
        return std::to_string(st.st_atim.tv_sec) + "." + std::to_string(st.st_atim.tv_nsec) + " " +
               std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }

    qortest::TempDir dir_;
    const std::string path_ = dir_.file("t.bin");
};

TEST_F(FileTimes, LocalDateAndTimeSetBothTimesAsTheSystemConvertsThem) {
    cFileIO f;
    ASSERT_TRUE(f.open(path_.c_str(), fmReadWrite));
    ASSERT_TRUE(f.set_time(2021, 7, 14, 13, 45, 30));  // summer time, UTC+2
    EXPECT_EQ(times(), "1626263130.0 1626263130.0");
    ASSERT_TRUE(f.set_time(1999, 12, 31, 23, 59, 59));  // winter time, UTC+1
    EXPECT_EQ(times(), "946681199.0 946681199.0");
    // A read-only descriptor may set its file's times too (we own the file).
    cFileIO r;
    ASSERT_TRUE(r.open(path_.c_str(), fmRead));
    ASSERT_TRUE(r.set_time(2010, 5, 6, 7, 8, 9));
    EXPECT_EQ(times(), "1273122489.0 1273122489.0");
}

TEST_F(FileTimes, FieldsOutOfRangeAreRefusedInsteadOfRollingOver) {
    cFileIO f;
    ASSERT_TRUE(f.open(path_.c_str(), fmReadWrite));
    ASSERT_TRUE(f.set_time(2010, 5, 6, 7, 8, 9));
    const std::string before = times();
    // mktime would take month 13 as January of the next year and hour 24 as
    // the next day: a different date than the caller asked for.
    EXPECT_FALSE(f.set_time(2020, 13, 1, 0, 0, 0));
    EXPECT_FALSE(f.set_time(2020, 12, 31, 24, 0, 0));
    EXPECT_FALSE(f.set_time(2020, 0, 10, 0, 0, 0));
    EXPECT_FALSE(f.set_time(2020, 6, 32, 0, 0, 0));
    EXPECT_FALSE(f.set_time(2020, 6, 1, 0, 60, 0));
    EXPECT_FALSE(f.set_time(1899, 6, 1, 0, 0, 0));
    EXPECT_EQ(times(), before);
}

TEST_F(FileTimes, LocalSecondsAreTurnedIntoUTCAndTheNoTimeValueChangesNothing) {
    cFileIO f;
    ASSERT_TRUE(f.open(path_.c_str(), fmRead));
    // 1000000000 read as UTC lies in Berlin's summer time: 2 hours off.
    ASSERT_TRUE(f.set_time(1000000000ull, 0ull, 0ull));
    const std::string before = times();
    EXPECT_EQ(before, "999992800.0 999992800.0");
    EXPECT_FALSE(f.set_time(0xFFFFFFFFull, 5ull, 6ull));
    EXPECT_EQ(times(), before);
    // The flat function does the same on a bare handle.
    void* h = file_open(path_.c_str(), fmRead);
    ASSERT_TRUE(file_valid(h));
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

}  // namespace
