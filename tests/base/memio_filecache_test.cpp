// The read cache over a file: reads as large as the cache pass it by and
// go to the file.  Held against the bytes written with the C++ library and
// read back with pread on a descriptor of its own: through the cache's own
// type and through the stream interface, at the file's end and beyond it,
// with the source closed and opened again under the cache, over a class made
// from cFileIO that reads in its own way, and with other threads running.
// qor-test-labels: tsan
#include "base/fileio.h"
#include "base/memio.h"

#include <gtest/gtest.h>
#include "testsupport.h"

#include <atomic>
#include <fcntl.h>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The shared reproducible pattern, as text.
std::string randomBytes(unsigned seed, std::size_t n) {
    const std::vector<unsigned char> v = qortest::pattern(n, seed);
    return std::string(v.begin(), v.end());
}

// The bytes pread gives at pos on a descriptor of the test's own.
struct Oracle {
    explicit Oracle(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~Oracle() {
        if (fd >= 0) ::close(fd);
    }
    std::string at(unsigned long long pos, unsigned n) const {
        std::string out(n, '\0');
        const ssize_t got = pos > 0x7FFFFFFFFFFFFFFFull ? 0 : ::pread(fd, out.data(), n, static_cast<off_t>(pos));
        out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return out;
    }
    int fd;
};

// A file of random bytes written with the C++ library, in a folder of
// its own that goes with it.
struct SourceFile {
    SourceFile(unsigned seed, std::size_t n) : model(randomBytes(seed, n)), path(dir.file("source.bin")) {
        written = qortest::writeFile(path, model);
    }
    const std::string model;
    qortest::TempDir dir;
    const std::string path;
    bool written = false;
};

// set_fp and read through the cache's own type, which the compiler may
// serve inline, or through the interface, which goes through the vtable.
std::string readThere(cMemBufferedIO& cache, bool viaInterface, unsigned long long pos, unsigned n, unsigned* count = nullptr) {
    std::string out(n, '\xEE');
    cFileIOTarget& stream = cache;
    const bool moved = viaInterface ? stream.set_fp(pos) : cache.set_fp(pos);
    if (!moved) return "<seek failed>";
    const unsigned got = viaInterface ? stream.read(out.data(), n) : cache.read(out.data(), n);
    if (count) *count = got;
    if (!cFileIOTarget::transferred(got)) return "<failed>";
    out.resize(got);
    return out;
}

// A file whose reads hand out every byte turned over (xor 0x5A) and are
// counted: a cache over it must go through these, not around them.
class TurnedFile : public cFileIO {
public:
    unsigned int read(void* buf, unsigned int n) override {
        ++reads;
        return turn(buf, cFileIO::read(buf, n));
    }
    unsigned int readAt(unsigned long long pos, void* buf, unsigned int n) override {
        ++reads;
        return turn(buf, cFileIO::readAt(pos, buf, n));
    }
    int reads = 0;

private:
    static unsigned int turn(void* buf, unsigned int got) {
        if (transferred(got))
            for (unsigned i = 0; i < got; ++i) static_cast<unsigned char*>(buf)[i] ^= 0x5A;
        return got;
    }
};

}  // namespace

TEST(MemBufferedIOFileSource, WholeCacheReadsAtTheEndBeyondItAndFarAwayMatchPread) {
    constexpr unsigned kCapacity = 4096;
    const SourceFile source(21, 3 * kCapacity + 777);
    ASSERT_TRUE(source.written);
    const std::string& model = source.model;
    const std::string& path = source.path;
    const Oracle oracle(path);
    ASSERT_GE(oracle.fd, 0);
    const unsigned long long size = model.size();

    cFileIO file;
    ASSERT_TRUE(file.open(path.c_str(), fmRead));
    cMemBufferedIO cache(&file, kCapacity);
    for (const bool viaInterface : {false, true}) {
        SCOPED_TRACE(viaInterface ? "through the interface" : "through the cache's own type");
        struct Step {
            unsigned long long pos;
            unsigned n;
        };
        const Step steps[] = {
            {0, kCapacity},                     // the first block, straight through
            {5, kCapacity},                     // unaligned
            {1000, 100},                        // a small read fills the cache ...
            {1200, kCapacity},                  // ... and a large one in it takes from it first
            {1000 + kCapacity - 1, kCapacity},  // the cache's last byte, then the file
            {size - kCapacity, kCapacity},      // ends at the end
            {size - 100, kCapacity},            // short at the end
            {size - 1, 3 * kCapacity},
            {size, kCapacity},                  // at the end: nothing
            {size + 12345, kCapacity},          // beyond it: nothing
            {1ull << 62, kCapacity},
            {1ull << 63, kCapacity},            // past what the system takes as an offset
            {~0ull - 3, kCapacity},
            {7, 3 * kCapacity + 700},           // more than the cache, nearly all the file
        };
        for (const Step& s : steps) {
            unsigned count = 0;
            const std::string want = oracle.at(s.pos, s.n);
            EXPECT_EQ(readThere(cache, viaInterface, s.pos, s.n, &count), want) << s.pos << " " << s.n;
            EXPECT_EQ(count, want.size()) << s.pos << " " << s.n;
            EXPECT_EQ(cache.get_fp(), static_cast<long long>(s.pos + want.size())) << s.pos << " " << s.n;
        }
        // readAt gives the same bytes and leaves the position alone.
        ASSERT_TRUE(cache.set_fp(77));
        std::string out(kCapacity, '\0');
        EXPECT_EQ(cache.readAt(size - 10, out.data(), kCapacity), 10u);
        EXPECT_EQ(out.substr(0, 10), model.substr(model.size() - 10));
        EXPECT_EQ(cache.readAt(5000, out.data(), kCapacity), kCapacity);
        EXPECT_TRUE(out == oracle.at(5000, kCapacity));
        EXPECT_EQ(cache.get_fp(), 77);
        // A null buffer takes nothing and leaves the position.
        EXPECT_EQ(cache.read(nullptr, kCapacity), 0u);
        EXPECT_EQ(static_cast<cFileIOTarget&>(cache).read(nullptr, kCapacity), 0u);
        EXPECT_EQ(cache.get_fp(), 77);
    }
    // The file's own descriptor offset never moved: the cache reads at
    // positions.
    EXPECT_EQ(::lseek(static_cast<int>(file.descriptor()), 0, SEEK_CUR), 0);
}

TEST(MemBufferedIOFileSource, ACacheWithoutRoomPassesEveryReadThrough) {
    const SourceFile source(22, 10000);
    ASSERT_TRUE(source.written);
    const std::string& model = source.model;
    const std::string& path = source.path;
    const Oracle oracle(path);
    cFileIO file;
    ASSERT_TRUE(file.open(path.c_str(), fmRead));
    cMemBufferedIO cache(&file, 0);
    std::mt19937 rng(5);
    unsigned long long pos = 0;
    for (int i = 0; i < 3000; ++i) {
        if (rng() % 3 == 0) pos = rng() % (model.size() + 100);
        const unsigned n = rng() % 5 == 0 ? 0 : 1 + rng() % 300;
        const std::string want = oracle.at(pos, n);
        ASSERT_EQ(readThere(cache, i % 2 != 0, pos, n), want) << pos << " " << n;
        pos += want.size();
        ASSERT_EQ(cache.get_fp(), static_cast<long long>(pos));
    }
}

TEST(MemBufferedIOFileSource, TheSourceClosedAndOpenedOnAnotherFileUnderTheCache) {
    constexpr unsigned kCapacity = 1024;
    const std::string first = randomBytes(23, 8000);
    const std::string second = randomBytes(24, 6000);
    qortest::TempDir dir;
    const std::string firstPath = dir.file("first.bin"), secondPath = dir.file("second.bin");
    ASSERT_TRUE(qortest::writeFile(firstPath, first));
    ASSERT_TRUE(qortest::writeFile(secondPath, second));
    cFileIO file;
    ASSERT_TRUE(file.open(firstPath.c_str(), fmRead));
    cMemBufferedIO cache(&file, kCapacity);
    for (const bool viaInterface : {false, true}) {
        SCOPED_TRACE(viaInterface ? "through the interface" : "through the cache's own type");
        ASSERT_TRUE(file.open(firstPath.c_str(), fmRead));
        EXPECT_EQ(readThere(cache, viaInterface, 3000, kCapacity), first.substr(3000, kCapacity));
        file.close();
        // Nothing cached there and nothing to read from: a failure that
        // leaves the position where it was.
        unsigned count = 0;
        EXPECT_EQ(readThere(cache, viaInterface, 5000, kCapacity, &count), "<failed>");
        EXPECT_EQ(count, cFileIOTarget::kIOFailed);
        EXPECT_EQ(cache.get_fp(), 5000);
        ASSERT_TRUE(file.open(secondPath.c_str(), fmRead));
        EXPECT_EQ(readThere(cache, viaInterface, 4500, 2 * kCapacity), second.substr(4500));
        EXPECT_EQ(cache.get_fp(), static_cast<long long>(second.size()));
    }
}

TEST(MemBufferedIOFileSource, AClassMadeFromAFileKeepsItsOwnReads) {
    constexpr unsigned kCapacity = 512;
    const SourceFile source(25, 5000);
    ASSERT_TRUE(source.written);
    std::string turned = source.model;
    for (auto& c : turned) c = static_cast<char>(c ^ 0x5A);
    TurnedFile file;
    ASSERT_TRUE(file.open(source.path.c_str(), fmRead));
    cMemBufferedIO cache(&file, kCapacity);
    for (const bool viaInterface : {false, true}) {
        SCOPED_TRACE(viaInterface ? "through the interface" : "through the cache's own type");
        const int before = file.reads;
        EXPECT_EQ(readThere(cache, viaInterface, 0, kCapacity), turned.substr(0, kCapacity));
        EXPECT_EQ(readThere(cache, viaInterface, 1001, 3 * kCapacity), turned.substr(1001, 3 * kCapacity));
        // A small read fills the cache, the next is served from it; a place
        // of its own each time, so that the first fills it again.
        const std::size_t small = viaInterface ? 3000 : 4000;
        EXPECT_EQ(readThere(cache, viaInterface, small, 10), turned.substr(small, 10));
        EXPECT_EQ(readThere(cache, viaInterface, small + 10, 20), turned.substr(small + 10, 20));
        EXPECT_EQ(readThere(cache, viaInterface, 4700, kCapacity), turned.substr(4700));
        EXPECT_EQ(file.reads - before, 4);
    }
}

TEST(MemBufferedIOFileSource, ReadsUnderTheLockOnceOtherThreadsRun) {
    // Once a thread has been started the cache takes its lock on every read:
    // threads reading whole blocks and small pieces at positions of their own
    // (readAt) and the main thread reading with set_fp and read all get the
    // file's bytes, and the main thread's position is its own although each
    // readAt moves the position for its moment under the lock.
    constexpr unsigned kCapacity = 2048;
    const SourceFile source(26, 200000);
    ASSERT_TRUE(source.written);
    const std::string& model = source.model;
    const std::string& path = source.path;
    cFileIO file;
    ASSERT_TRUE(file.open(path.c_str(), fmRead));
    cMemBufferedIO cache(&file, kCapacity);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 rng(100 + t);
            std::string out(3 * kCapacity, '\0');
            for (int i = 0; i < 2000; ++i) {
                const unsigned n = rng() % 2 ? kCapacity + rng() % (2 * kCapacity) : 1 + rng() % 64;
                const unsigned long long pos = rng() % (model.size() + 50);
                const unsigned got = cache.readAt(pos, out.data(), n);
                const std::size_t expect = pos >= model.size() ? 0 : std::min<std::size_t>(n, model.size() - pos);
                if (got != expect || (got != 0 && out.compare(0, got, model, pos, got) != 0)) ++wrong;
            }
        });
    std::mt19937 rng(99);
    std::string out(2 * kCapacity, '\0');
    for (int i = 0; i < 2000; ++i) {
        const unsigned n = rng() % 2 ? kCapacity : 1 + rng() % 64;
        const unsigned long long pos = rng() % model.size();
        ASSERT_TRUE(cache.set_fp(pos));
        const unsigned got = cache.read(out.data(), n);
        const std::size_t expect = std::min<std::size_t>(n, model.size() - pos);
        if (got != expect || out.compare(0, got, model, pos, got) != 0) ++wrong;
        if (cache.get_fp() != static_cast<long long>(pos + got)) ++wrong;
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(FileIOReadAt, ARegularFileReadsAtEveryOffsetAndAPipeAtNone) {
    const SourceFile source(27, 5000);
    ASSERT_TRUE(source.written);
    cFileIO file;
    ASSERT_TRUE(file.open(source.path.c_str(), fmRead));
    const Oracle oracle(source.path);
    std::string out(600, '\0');
    for (const unsigned long long pos : {0ull, 1ull, 4400ull, 4999ull, 5000ull, 6000ull, (1ull << 62), (1ull << 63) - 1,
                                         1ull << 63, ~0ull}) {
        const std::string want = oracle.at(pos, 600);
        const unsigned got = file.readAt(pos, out.data(), 600);
        ASSERT_EQ(got, want.size()) << pos;
        EXPECT_EQ(out.substr(0, got), want) << pos;
    }
    // No file open: a failure at every offset.
    cFileIO closed;
    EXPECT_EQ(closed.readAt(0, out.data(), 10), cFileIOTarget::kIOFailed);
    EXPECT_EQ(closed.readAt(1ull << 63, out.data(), 10), cFileIOTarget::kIOFailed);
    // A pipe has no offsets: a failure at every one, and what was written to
    // it is still there for read.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    cFileIO piped;
    ASSERT_TRUE(piped.open(("/proc/self/fd/" + std::to_string(fds[0])).c_str(), fmRead));
    ASSERT_EQ(::write(fds[1], "xyz", 3), 3);
    EXPECT_EQ(piped.readAt(0, out.data(), 3), cFileIOTarget::kIOFailed);
    EXPECT_EQ(piped.readAt(1ull << 63, out.data(), 3), cFileIOTarget::kIOFailed);
    ASSERT_EQ(piped.read(out.data(), 3), 3u);
    EXPECT_EQ(out.substr(0, 3), "xyz");
    ::close(fds[0]);
    ::close(fds[1]);
}
