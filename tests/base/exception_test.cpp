// The signal translator turns hardware faults into cException on the thread
// that faulted, and keeps doing so after the first one.
#include "base/exception.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#include "base/sha.h"
#include "testsupport.h"

namespace {

// The faulting accesses are hidden from the sanitizers: they would report the
// access before it traps, and the point here is the trap itself.  noipa keeps
// the optimiser from looking into them from the caller: a division whose
// result nobody needs is otherwise deleted at -O2, and no fault happens.
#define QOR_RAW_ACCESS __attribute__((noipa, no_sanitize("address", "undefined")))

// Every result lands here, so no faulting operation is dead code.
volatile int gSink = 0;

QOR_RAW_ACCESS void readByte(const volatile unsigned char* p) { gSink = *p; }

QOR_RAW_ACCESS void divide(volatile int a, volatile int b) { gSink = a / b; }

struct Fault {
    bool caught = false;
    unsigned int code = 0;
    std::string message;
};

template <typename F>
Fault catchFault(F&& f) {
    Fault r;
    try {
        f();
    } catch (const cException& e) {
        r.caught = true;
        r.code = e.code;
        r.message = e.what();
    }
    return r;
}

class SignalTranslator : public ::testing::Test {
protected:
    static void SetUpTestSuite() { cException::init(); }
    void SetUp() override {
        page_ = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(page_, MAP_FAILED);
    }
    void TearDown() override { munmap(page_, 4096); }
    const unsigned char* guarded() const { return static_cast<const unsigned char*>(page_); }

    void* page_ = nullptr;
};

TEST_F(SignalTranslator, MemoryFaultThrowsTwiceOnTheSameThread) {
    for (int round = 0; round < 2; ++round) {
        Fault f = catchFault([&] { readByte(guarded() + 100); });
        ASSERT_TRUE(f.caught) << "round " << round;
        EXPECT_EQ(f.code, static_cast<unsigned int>(SIGSEGV));
        EXPECT_EQ(f.message, "Signal received");
    }
}

TEST_F(SignalTranslator, ArithmeticFaultThrowsTwice) {
    for (int round = 0; round < 2; ++round) {
        Fault f = catchFault([] { divide(7, 0); });
        ASSERT_TRUE(f.caught) << "round " << round;
        EXPECT_EQ(f.code, static_cast<unsigned int>(SIGFPE));
    }
}

TEST_F(SignalTranslator, BusErrorPastTheEndOfAMappedFileThrows) {
    qortest::TempDir dir;
    int fd = open(dir.file("empty").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    void* map = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    ASSERT_NE(map, MAP_FAILED);
    for (int round = 0; round < 2; ++round) {
        Fault f = catchFault([&] { readByte(static_cast<const unsigned char*>(map) + 8); });
        ASSERT_TRUE(f.caught) << "round " << round;
        EXPECT_EQ(f.code, static_cast<unsigned int>(SIGBUS));
    }
    munmap(map, 4096);
}

TEST_F(SignalTranslator, FaultsOnAnotherThreadStayOnThatThread) {
    Fault first, second;
    std::thread worker([&] {
        first = catchFault([&] { readByte(guarded()); });
        second = catchFault([] { divide(1, 0); });
    });
    worker.join();
    EXPECT_TRUE(first.caught);
    EXPECT_EQ(first.code, static_cast<unsigned int>(SIGSEGV));
    EXPECT_TRUE(second.caught);
    EXPECT_EQ(second.code, static_cast<unsigned int>(SIGFPE));
    // And the main thread still translates after the worker's faults.
    EXPECT_TRUE(catchFault([&] { readByte(guarded()); }).caught);
}

TEST_F(SignalTranslator, UnwindingRunsDestructorsOfTheFaultingScope) {
    int destroyed = 0;
    struct Guard {
        int* counter;
        ~Guard() { ++*counter; }
    };
    Fault f = catchFault([&] {
        Guard g{&destroyed};
        readByte(guarded());
    });
    EXPECT_TRUE(f.caught);
    EXPECT_EQ(destroyed, 1);
}

// The portable SHA engines are built without non-call exceptions (they have
// nothing to clean up), and the generic engines are assembly on x86-64; a
// fault on their input still unwinds through them to the caller, by their
// unwind tables, and the block before the fault has been taken into the
// state.
TEST_F(SignalTranslator, AFaultInAPortableShaEngineUnwindsThroughIt) {
    void* pages = mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    auto* bytes = static_cast<std::uint8_t*>(pages);
    std::memset(bytes, 0x61, 4096);
    ASSERT_EQ(mprotect(bytes + 4096, 4096, PROT_NONE), 0);
    // The last whole block of the readable page, and the next one (unmapped).
    const std::uint8_t* last256 = bytes + 4096 - 64;
    const std::uint8_t* last512 = bytes + 4096 - 128;

    std::uint32_t s256[8] = {}, s1[5] = {};
    std::uint64_t s512[8] = {};
    Fault f256 = catchFault([&] { qor_sha::sha256BlocksPortable(s256, last256, 2); });
    Fault f1 = catchFault([&] { qor_sha::sha1BlocksPortable(s1, last256, 2); });
    Fault f512 = catchFault([&] { qor_sha::sha512BlocksPortable(s512, last512, 2); });
    // The generic engines are assembly on x86-64: their unwind rules too.
    std::uint32_t g256[8] = {}, g1[5] = {};
    std::uint64_t g512[8] = {};
    Fault fg256 = catchFault([&] { qor_sha::sha256GenericEngine()(g256, last256, 2); });
    Fault fg1 = catchFault([&] { qor_sha::sha1GenericEngine()(g1, last256, 2); });
    Fault fg512 = catchFault([&] { qor_sha::sha512GenericEngine()(g512, last512, 2); });
    EXPECT_TRUE(f256.caught);
    EXPECT_TRUE(f1.caught);
    EXPECT_TRUE(fg256.caught);
    EXPECT_TRUE(fg1.caught);
    EXPECT_TRUE(fg512.caught);
    EXPECT_TRUE(f512.caught);
    EXPECT_EQ(f256.code, static_cast<unsigned int>(SIGSEGV));
    EXPECT_EQ(f512.code, static_cast<unsigned int>(SIGSEGV));

    // The same first block without the fault gives the state the faulting
    // call had reached.
    std::uint32_t w256[8] = {}, w1[5] = {};
    std::uint64_t w512[8] = {};
    qor_sha::sha256BlocksPortable(w256, last256, 1);
    qor_sha::sha1BlocksPortable(w1, last256, 1);
    qor_sha::sha512BlocksPortable(w512, last512, 1);
    EXPECT_EQ(0, std::memcmp(s256, w256, sizeof w256));
    EXPECT_EQ(0, std::memcmp(s1, w1, sizeof w1));
    EXPECT_EQ(0, std::memcmp(g256, w256, sizeof w256));
    EXPECT_EQ(0, std::memcmp(g1, w1, sizeof w1));
    EXPECT_EQ(0, std::memcmp(g512, w512, sizeof w512));
    EXPECT_EQ(0, std::memcmp(s512, w512, sizeof w512));
    munmap(pages, 8192);
}

TEST_F(SignalTranslator, BrokenPipeIsAnErrorNotTheEndOfTheProcess) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    errno = 0;
    EXPECT_EQ(write(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(fds[1]);
}

TEST(ExceptionObject, CopiesItsTexts) {
    char file[] = "some/file";
    char msg[] = "message";
    cException e(file, 42, 7, msg);
    file[0] = 'X';
    msg[0] = 'X';
    EXPECT_STREQ(e.file.c_str(), "some/file");
    EXPECT_STREQ(e.what(), "message");
    EXPECT_EQ(e.line, 42u);
    EXPECT_EQ(e.code, 7u);
    cException copy(e);
    EXPECT_NE(copy.message.get(), e.message.get());
    EXPECT_STREQ(copy.what(), "message");
}

TEST(ExceptionObject, NoOperatingSystemMessages) {
    _guardchar<char> out("unchanged");
    EXPECT_FALSE(getOSErrorMessage(2, out, nullptr));
    EXPECT_STREQ(out.c_str(), "unchanged");
}

}  // namespace
