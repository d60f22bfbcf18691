// The short paths of the streams: the memory stream's page directory and
// inline short reads, the file's positional reads after a seek, and the read
// cache's small copies and pass-through reads, each held against a plain
// byte-string model or the file's own bytes.
#include "base/fileio.h"
#include "base/memio.h"

#include <gtest/gtest.h>
#include "steppedstream.h"
#include "testsupport.h"

#include <algorithm>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

namespace {

std::string bytesOf(unsigned seed, std::size_t n) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// Reads n bytes at pos through set_fp and read, as the parsers do.
std::string readAt(cFileIOTarget& s, unsigned long long pos, unsigned n) {
    std::string out(n, '\xEE');
    if (!s.set_fp(pos)) return "<seek failed>";
    const unsigned got = s.read(out.data(), n);
    if (!cFileIOTarget::transferred(got)) return "<failed>";
    out.resize(got);
    return out;
}

}  // namespace

TEST(MemIOTargetDirectory, PagesAddedFarAheadAndFilledInLaterReadBackAtEveryOffset) {
    // 128-byte pages: a page far above the others first (beyond what the
    // directory takes in), then pages from 0 up towards it, holes left
    // between; then truncation below and above the far page.
    cMemIOTarget m(128);
    std::string model;
    auto writeAt = [&](std::size_t pos, const std::string& bytes) {
        ASSERT_TRUE(m.set_fp(std::min<std::size_t>(pos, model.size())));
        if (pos > model.size()) {
            ASSERT_TRUE(m.set_eof(pos));
            ASSERT_TRUE(m.set_fp(pos));
            model.resize(pos, '\0');
        }
        ASSERT_EQ(m.write(const_cast<char*>(bytes.data()), static_cast<unsigned>(bytes.size())), bytes.size());
        if (model.size() < pos + bytes.size()) model.resize(pos + bytes.size(), '\0');
        model.replace(pos, bytes.size(), bytes);
    };
    writeAt(128 * 500 + 7, bytesOf(1, 300));
    for (std::size_t page = 0; page < 520; page += (page % 7 == 3 ? 2 : 1)) writeAt(page * 128, bytesOf(static_cast<unsigned>(page), 128));
    std::mt19937 rng(3);
    auto checkReads = [&]() {
        for (int i = 0; i < 3000; ++i) {
            const std::size_t pos = rng() % (model.size() + 10);
            const unsigned n = rng() % 3 ? rng() % 65 : rng() % 700;
            const std::string want = pos < model.size() ? model.substr(pos, n) : std::string();
            ASSERT_EQ(readAt(m, pos, n), pos <= model.size() ? want : "<seek failed>") << pos << " " << n;
        }
    };
    checkReads();
    ASSERT_TRUE(m.set_eof(128 * 300 + 5));
    model.resize(128 * 300 + 5);
    checkReads();
    writeAt(128 * 900, bytesOf(9, 50));
    writeAt(128 * 301, bytesOf(8, 400));
    checkReads();
    // A page size that is no power of two takes the long path only.
    cMemIOTarget odd(1000);
    const std::string text = bytesOf(4, 5000);
    ASSERT_TRUE(odd.fromBuffer(text.data(), static_cast<long long>(text.size())));
    for (std::size_t pos = 980; pos < 1030; ++pos) ASSERT_EQ(readAt(odd, pos, 40), text.substr(pos, 40)) << pos;
}

TEST(FileIOPositionalReads, ReadsAfterASeekWritesAndTheDescriptorAllSeeOnePosition) {
    qortest::TempDir dir;
    const std::string p = dir.file("f.bin");
    std::string model = bytesOf(5, 100000);
    {
        cFileIO f;
        ASSERT_TRUE(f.create(p.c_str(), fmReadWrite));
        ASSERT_TRUE(f.writef(model.data(), static_cast<unsigned>(model.size())));
    }
    cFileIO f;
    ASSERT_TRUE(f.open(p.c_str(), fmReadWrite));
    // Seek, two reads, a write: the write lands after what was read.
    ASSERT_TRUE(f.set_fp(1000));
    std::string got(30, '\0');
    ASSERT_EQ(f.read(got.data(), 10), 10u);
    ASSERT_EQ(f.read(&got[10], 20), 20u);
    EXPECT_EQ(got, model.substr(1000, 30));
    ASSERT_EQ(f.write(const_cast<char*>("XYZ"), 3), 3u);
    model.replace(1030, 3, "XYZ");
    // The descriptor's own offset follows the stream's position.
    ASSERT_TRUE(f.set_fp(500));
    ASSERT_EQ(f.read(got.data(), 5), 5u);
    EXPECT_EQ(::lseek(static_cast<int>(f.descriptor()), 0, SEEK_CUR), 505);
    ASSERT_EQ(f.read(got.data(), 5), 5u);
    EXPECT_EQ(got.substr(0, 5), model.substr(505, 5));
    // Past the end: a seek the system accepts, a read of nothing, then a
    // write that extends the file with a hole.
    ASSERT_TRUE(f.set_fp(200000));
    EXPECT_EQ(f.read(got.data(), 5), 0u);
    ASSERT_TRUE(f.set_fp(150000));
    ASSERT_EQ(f.write(const_cast<char*>("end"), 3), 3u);
    model.resize(150000, '\0');
    model += "end";
    EXPECT_EQ(f.size(), 150003);
    // set_fp_end then a read, after a pending seek.
    ASSERT_TRUE(f.set_fp(10));
    ASSERT_TRUE(f.set_fp_end(static_cast<unsigned long long>(-3LL)));  // 3 before the end
    ASSERT_EQ(f.read(got.data(), 10), 3u);
    EXPECT_EQ(got.substr(0, 3), "end");
    f.close();
    EXPECT_TRUE(qortest::readFile(p) == model);

    // A pipe cannot seek: set_fp fails there as before.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    cFileIO piped;
    ASSERT_TRUE(piped.open(("/proc/self/fd/" + std::to_string(fds[0])).c_str(), fmRead));
    EXPECT_FALSE(piped.set_fp(0));
    ASSERT_EQ(::write(fds[1], "abc", 3), 3);
    ASSERT_EQ(piped.read(got.data(), 3), 3u);
    EXPECT_EQ(got.substr(0, 3), "abc");
    ::close(fds[0]);
    ::close(fds[1]);
}

// Reads of every size around the cache's capacity, at positions inside,
// just before and beyond what the cache holds and beyond the source's end,
// over a memory stream, over a file (held against the file's bytes as pread
// gives them) and over a source that fails now and then and overstates its
// counts.
TEST(MemBufferedIOShortReads, SmallAndCacheSizedReadsAgreeWithTheSource) {
    constexpr unsigned kCapacity = 512;
    const std::string model = bytesOf(6, 20000);
    qortest::TempDir dir;
    const std::string path = dir.file("source.bin");
    ASSERT_TRUE(qortest::writeFile(path, model));
    const int oracle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(oracle, 0);
    const auto bytesAt = [&](std::size_t pos, unsigned n) {
        std::string out(n, '\0');
        const ssize_t got = ::pread(oracle, out.data(), n, static_cast<off_t>(pos));
        out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return out;
    };

    cMemIOTarget memory;
    ASSERT_TRUE(memory.fromBuffer(model.data(), static_cast<long long>(model.size())));
    cFileIO file;
    ASSERT_TRUE(file.open(path.c_str(), fmRead));
    SteppedStream failing(model);
    struct Source {
        const char* name;
        cFileIOTarget* stream;
        bool fails;
    };
    for (const Source& source : {Source{"memory", &memory, false}, Source{"file", &file, false},
                                 Source{"failing", &failing, true}}) {
        SCOPED_TRACE(source.name);
        cMemBufferedIO cache(source.stream, kCapacity);
        const unsigned sizes[] = {1, 2, kCapacity - 1, kCapacity, kCapacity + 1, 2 * kCapacity + 3};
        std::mt19937 rng(8);
        std::size_t pos = 0;
        for (int i = 0; i < 20000; ++i) {
            switch (rng() % 8) {
                case 0: pos = rng() % (model.size() + 2 * kCapacity); break;  // anywhere, the end's far side too
                case 1: pos -= std::min<std::size_t>(pos, rng() % 20); break;  // just before what was cached
                default: break;
            }
            const unsigned n = rng() % 3 == 0 ? rng() % 70 : sizes[rng() % std::size(sizes)];
            const bool failNow = source.fails && rng() % 6 == 0;
            failing.failAfter = failNow ? static_cast<long long>(rng() % model.size()) : -1;
            // Far from the end, where the source fills every request, it also
            // claims more than it was asked for: the cache must not believe it.
            failing.overclaim = pos + n + 2 * kCapacity <= model.size() ? 7 : 0;
            const std::string want = bytesAt(pos, n);
            std::string out(n, '\xEE');
            ASSERT_TRUE(cache.set_fp(pos));
            const unsigned got = cache.read(out.data(), n);
            if (!failNow) {
                ASSERT_EQ(got, want.size()) << pos << " " << n;
            } else if (got == cFileIOTarget::kIOFailed) {
                // Nothing arrived: the position stays.
                ASSERT_EQ(cache.get_fp(), static_cast<long long>(pos));
                continue;
            } else {
                // What the cache held before the source failed.
                ASSERT_LE(got, want.size()) << pos << " " << n;
            }
            out.resize(got);
            ASSERT_EQ(out, want.substr(0, got)) << pos << " " << n;
            pos += got;
            ASSERT_EQ(cache.get_fp(), static_cast<long long>(pos));
        }
    }
    ::close(oracle);
}
