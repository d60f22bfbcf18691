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

TEST(StreamReadAt, EveryStreamReadsAtAPositionAndLeavesItsOwnAndItsParentsAlone) {
    // One random byte string behind every kind of stream; readAt at random
    // positions and lengths (page edges, the end, offsets that overflow when
    // the count is added) is held against the string, and neither the
    // stream's position nor that of the stream under it may move.
    const std::string bytes = bytesOf(11, 150001);
    qortest::TempDir dir;
    const std::string path = dir.file("bytes.bin");
    ASSERT_TRUE(qortest::writeFile(path, bytes));
    cFileIO fileA, fileB, fileC;
    ASSERT_TRUE(fileA.open(path.c_str(), fmRead));
    ASSERT_TRUE(fileB.open(path.c_str(), fmRead));
    ASSERT_TRUE(fileC.open(path.c_str(), fmRead));

    cMemIOTarget fromBuffer(4096);
    ASSERT_TRUE(fromBuffer.fromBuffer(bytes.data(), static_cast<long long>(bytes.size())));
    // Small pages written out of order with a hole of zeros left between.
    std::string holed = bytes;
    std::fill(holed.begin() + 50000, holed.begin() + 61000, '\0');
    cMemIOTarget paged(256);
    ASSERT_TRUE(paged.set_eof(holed.size()));
    for (std::size_t at : {std::size_t{61000}, std::size_t{0}}) {
        const std::size_t end = at == 0 ? 50000 : holed.size();
        ASSERT_TRUE(paged.set_fp(at));
        ASSERT_TRUE(paged.writef(const_cast<char*>(holed.data() + at), static_cast<unsigned>(end - at)));
    }
    // A block cut to a third and grown again: zeros after the cut.
    std::string regrown = bytes.substr(0, bytes.size() / 3);
    regrown.resize(bytes.size(), '\0');
    cMemIOTarget cut(4096);
    ASSERT_TRUE(cut.fromBuffer(bytes.data(), static_cast<long long>(bytes.size())));
    ASSERT_TRUE(cut.set_eof(bytes.size() / 3));
    ASSERT_TRUE(cut.set_eof(bytes.size()));

    cBufWrapperIO wrapped(const_cast<char*>(bytes.data()), static_cast<long long>(bytes.size()));
    cFileIOSubRange fileWindow(&fileA, 1000, 100000);
    SteppedStream stepped(bytes, 7);
    stepped.tellsPosition = true;
    cFileIOSubRange steppedWindow(&stepped, 3, bytes.size() - 10);
    cMemBufferedIO fileCache(&fileB, 4096);
    SteppedStream untold(bytes, 1000);
    cMemBufferedIO untoldCache(&untold, 4096);
    // A window on a cache on a file, as the picture readers stack them.
    cMemBufferedIO innerCache(&fileC, 2048);
    cFileIOSubRange cachedWindow(&innerCache, 77, 90000);

    struct Case {
        const char* name;
        cFileIOTarget* stream;
        std::string model;
        cFileIOTarget* under;  // whose position must not move, or null
        bool whole;            // counts are the whole request (else at least 1 byte)
    };
    const Case cases[] = {
        {"memory from a buffer", &fromBuffer, bytes, nullptr, true},
        {"memory in pages with a hole", &paged, holed, nullptr, true},
        {"memory cut and grown again", &cut, regrown, nullptr, true},
        {"wrapped buffer", &wrapped, bytes, nullptr, true},
        {"file", &fileA, bytes, nullptr, true},
        {"window on a file", &fileWindow, bytes.substr(1000, 100000), &fileA, true},
        {"window on a 7-byte stream", &steppedWindow, bytes.substr(3, bytes.size() - 10), &stepped, false},
        {"cache on a file", &fileCache, bytes, &fileB, true},
        {"cache on a stream without a position", &untoldCache, bytes, nullptr, false},
        {"window on a cache on a file", &cachedWindow, bytes.substr(77, 90000), &innerCache, false},
    };
    const unsigned long long far[] = {~0ull, ~0ull - 5, 1ull << 63, (1ull << 63) - 1, (1ull << 63) - 3};
    std::mt19937_64 rng(12);
    std::string out;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned long long size = c.model.size();
        const unsigned long long home = size / 2 + 13;
        ASSERT_TRUE(c.stream->set_fp(home));
        if (c.under) {
            ASSERT_TRUE(c.under->set_fp(4242));
        }
        const long long underHome = c.under ? c.under->get_fp() : -1;
        for (int i = 0; i < 4000; ++i) {
            unsigned long long pos;
            switch (i % 5) {
                case 0: pos = far[rng() % 5]; break;
                case 1: pos = size - rng() % 80 + 10; break;
                case 2: pos = (rng() % 40) * 4096 + rng() % 7 - 3; break;
                default: pos = rng() % (size + 100); break;
            }
            const unsigned n = i % 97 == 0 ? 0 : (rng() % 3 ? 1 + rng() % 64 : 65 + rng() % 9000);
            out.assign(n, '\xEE');
            const unsigned got = c.stream->readAt(pos, out.data(), n);
            const unsigned long long want = pos >= size ? 0 : std::min<unsigned long long>(n, size - pos);
            ASSERT_TRUE(cFileIOTarget::transferred(got, n)) << pos << " " << n;
            if (c.whole) {
                ASSERT_EQ(got, want) << pos << " " << n;
            } else {
                ASSERT_TRUE(got <= want && (want == 0) == (got == 0)) << pos << " " << n << " " << got;
            }
            if (got) {
                ASSERT_EQ(out.compare(0, got, c.model, static_cast<std::size_t>(pos), got), 0) << pos << " " << n;
            }
            ASSERT_EQ(c.stream->get_fp(), static_cast<long long>(home)) << pos << " " << n;
            if (c.under) {
                ASSERT_EQ(c.under->get_fp(), underHome) << pos << " " << n;
            }
        }
        // Reading on from the position gets the bytes there.
        out.assign(16, '\0');
        for (unsigned have = 0, got; have < 16; have += got) {
            got = c.stream->read(&out[have], 16 - have);
            ASSERT_TRUE(cFileIOTarget::transferred(got) && got > 0);
        }
        EXPECT_EQ(out, c.model.substr(home, 16));
    }
}
