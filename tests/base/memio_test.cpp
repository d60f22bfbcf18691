// The memory, read-cache, write-buffer, caller-buffer and window streams.
// qor-test-labels: tsan
#include "base/fileio.h"
#include "base/memio.h"

#include <gtest/gtest.h>
#include "steppedstream.h"
#include "testsupport.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string pattern(std::size_t n, unsigned seed = 1) {
    std::string s(n, '\0');
    unsigned x = seed;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

std::string contents(cMemIOTarget& m) {
    _typebuf<unsigned char> out;
    if (!m.toBuffer(out)) return "<toBuffer failed>";
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.count()));
}

std::string readAll(cFileIOTarget& s, unsigned int n) {
    std::string out(n, '\0');
    unsigned int got = s.read(out.data(), n);
    if (!cFileIOTarget::transferred(got)) return "<failed>";
    out.resize(got);
    return out;
}

unsigned int put(cFileIOTarget& s, const std::string& bytes) {
    return s.write(const_cast<char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
}

// ===========================================================================
// cMemIOTarget

TEST(MemIOTarget, PageSizesOutsideTheAllowedRangeBecome64K) {
    const long long cases[][2] = {{100, 65536}, {0, 65536},   {-5, 65536},
                                  {0x80000000LL, 65536}, {128, 128}, {0x7FFFFFFF, 0x7FFFFFFF}};
    for (const auto& c : cases) EXPECT_EQ(cMemIOTarget(c[0]).pageSize(), c[1]) << c[0];
}

TEST(MemIOTarget, FromBufferReplacesTheContentsAndZeroFillsTheLastPage) {
    cMemIOTarget m(128);
    ASSERT_EQ(put(m, pattern(1000, 7)), 1000u);
    const std::string data = pattern(300, 9);
    ASSERT_TRUE(m.fromBuffer(data.data(), 300));
    EXPECT_EQ(m.size(), 300);
    EXPECT_EQ(m.pageCount(), 3);
    EXPECT_EQ(readAll(m, 1000), data);  // position 0 after fromBuffer
    ASSERT_TRUE(m.set_eof(384));
    EXPECT_EQ(contents(m), data + std::string(84, '\0'));
    EXPECT_TRUE(m.fromBuffer(nullptr, 5));
    EXPECT_EQ(m.size(), 0);
    EXPECT_EQ(m.pageCount(), 0);
}

// A stream made from a buffer of several MiB, and a whole copy of one, ask
// for huge pages as the library's other large fresh buffers do; a block
// under 4 MiB, and the plain policy, leave the pages alone.
TEST(MemIOTarget, LargeBlocksFromAndToBuffersAreMarkedForHugePages) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (!std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"))
        GTEST_SKIP() << "no transparent huge pages on this kernel";
    constexpr std::size_t kHuge = 2u << 20;
    const std::vector<unsigned char> data = qortest::pattern(4 * kHuge + 12345);
    const long long n = static_cast<long long>(data.size());
    {
        const std::size_t before = qortest::bytesMarked("hg");
        cMemIOTarget m;
        ASSERT_TRUE(m.fromBuffer(data.data(), n));
        // At least three whole 2 MiB pages lie in 8 MiB and more, wherever
        // the block starts.
        EXPECT_GE(qortest::bytesMarked("hg") - before, 3 * kHuge);
        _typebuf<unsigned char> out;
        ASSERT_TRUE(m.toBuffer(out));
        ASSERT_EQ(out.count(), n);
        EXPECT_EQ(std::memcmp(out.data(), data.data(), data.size()), 0);
        const std::uintptr_t inner = (reinterpret_cast<std::uintptr_t>(out.data()) + kHuge - 1) & ~(kHuge - 1);
        EXPECT_TRUE(qortest::hasFlag(qortest::mappingFlags(reinterpret_cast<void*>(inner)), "hg"));
        unsigned char piece[64];
        ASSERT_EQ(m.readAt(3 * kHuge - 7, piece, 64), 64u);
        EXPECT_EQ(std::memcmp(piece, data.data() + 3 * kHuge - 7, 64), 0);
    }
    {
        const std::size_t before = qortest::bytesMarked("hg");
        cMemIOTarget m;
        ASSERT_TRUE(m.fromBuffer(data.data(), static_cast<long long>(kHuge + kHuge / 2)));
        EXPECT_EQ(qortest::bytesMarked("hg"), before);
    }
    qor_detail::setFreshPagesPolicy(qor_detail::eFreshPages::plain);
    {
        const std::size_t before = qortest::bytesMarked("hg");
        cMemIOTarget m;
        const bool made = m.fromBuffer(data.data(), n);
        const std::size_t after = qortest::bytesMarked("hg");
        qor_detail::setFreshPagesPolicy(qor_detail::eFreshPages::chosen);
        ASSERT_TRUE(made);
        EXPECT_EQ(after, before);
    }
#else
    GTEST_SKIP() << "no huge-page hint on this system";
#endif
}

TEST(MemIOTarget, CopyOfAMissingSourcePageWritesZerosOverOldBytes) {
    cMemIOTarget m(128);
    ASSERT_EQ(put(m, std::string(256, '\xAA')), 256u);
    ASSERT_TRUE(m.set_eof(128));  // page 1 is freed
    ASSERT_TRUE(m.set_eof(384));  // pages 1 and 2 read as zeros
    ASSERT_TRUE(m.set_fp(0));
    EXPECT_EQ(m.copy(256, 128), 128);
    EXPECT_EQ(contents(m), std::string(384, '\0'));
}

TEST(MemIOTarget, RandomOperationsAgreeWithAByteStringModel) {
    // Page sizes of a power of two and not; transfers across page ends; seeks
    // past either end (to the end, or to 0 from the end); truncation below
    // the position; copies as a byte-by-byte copy would make them.
    unsigned long long seed = 12345;
    auto next = [&seed](std::size_t mod) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>((seed >> 33) % mod);
    };
    for (long long page : {128LL, 1000LL}) {
        SCOPED_TRACE("pages of " + std::to_string(page));
        cMemIOTarget m(page);
        std::string model;
        std::size_t pos = 0;
        for (int step = 0; step < 4000; ++step) {
            const std::size_t size = model.size();
            switch (next(6)) {
                case 0: {
                    const std::string bytes = pattern(next(300), static_cast<unsigned>(step));
                    ASSERT_EQ(put(m, bytes), bytes.size());
                    model.resize(std::max(size, pos + bytes.size()));
                    model.replace(pos, bytes.size(), bytes);
                    pos += bytes.size();
                    break;
                }
                case 1: {
                    const std::size_t n = next(300);
                    const std::string want = model.substr(pos, n);
                    ASSERT_EQ(readAll(m, static_cast<unsigned>(n)), want) << "at " << pos;
                    pos += want.size();
                    break;
                }
                case 2: {
                    const std::size_t to = next(size + 50);
                    ASSERT_EQ(m.set_fp(to), to <= size);
                    pos = std::min(to, size);
                    break;
                }
                case 3: {
                    const std::size_t back = next(size + 50);
                    ASSERT_EQ(m.set_fp_end(back), back <= size);
                    pos = back <= size ? size - back : 0;
                    break;
                }
                case 4: {
                    const std::size_t length = next(size + 2 * page);
                    ASSERT_TRUE(m.set_eof(length));
                    model.resize(length, '\0');
                    pos = std::min(pos, length);
                    break;
                }
                case 5: {
                    const std::size_t from = next(size + 1), n = next(400);
                    ASSERT_EQ(m.copy(static_cast<long long>(from), static_cast<long long>(n)), static_cast<long long>(n));
                    for (std::size_t i = 0; i < n; ++i, ++pos) {
                        const char c = from + i < model.size() ? model[from + i] : '\0';
                        if (pos == model.size()) model.push_back(c);
                        model[pos] = c;
                    }
                    break;
                }
            }
            ASSERT_EQ(m.size(), static_cast<long long>(model.size())) << "step " << step;
        }
        EXPECT_TRUE(contents(m) == model);
    }
    cMemIOTarget m(128);
    ASSERT_EQ(put(m, "abc"), 3u);
    EXPECT_EQ(m.copy(0, 7), 7);
    EXPECT_EQ(contents(m), "abcabcabca");
    EXPECT_EQ(m.copy(-1, 5), 0);
    EXPECT_EQ(m.write(nullptr, 4), 0u);
    EXPECT_FALSE(m.set_eof(0x8000000000000000ull));
    EXPECT_EQ(m.size(), 10);
    m.close();  // emptied, still usable
    EXPECT_EQ(m.pageCount(), 0);
    m.reset();
    EXPECT_EQ(put(m, "z"), 1u);
    EXPECT_EQ(contents(m), "z");
}

// ===========================================================================
// cMemBufferedIO

// What the cache asks of its source: a fill never reaches beyond the
// source's end, a request larger than the cache goes straight through, and
// seeks inside the cache read nothing.
TEST(MemBufferedIO, TheSourceIsReadOnlyForWhatTheCacheCannotServe) {
    const std::string data = pattern(10000);
    SteppedStream src(data.substr(0, 5000));
    cMemBufferedIO c(&src, 4096);
    const std::string first = readAll(c, 4000);
    EXPECT_TRUE(first + readAll(c, 2000) == data.substr(0, 5000));
    EXPECT_EQ(src.reads, 2);  // one fill of 4096, one of the 904 left
    ASSERT_TRUE(c.set_fp(4500));
    ASSERT_TRUE(c.set_fp(4100));
    EXPECT_EQ(readAll(c, 4), data.substr(4100, 4));
    EXPECT_EQ(src.reads, 2);
    EXPECT_TRUE(c.set_fp(10000));  // beyond the end: accepted, reads give nothing
    EXPECT_EQ(readAll(c, 4), "");
    EXPECT_TRUE(c.set_fp_end(3));
    EXPECT_EQ(readAll(c, 10), data.substr(4997, 3));
    EXPECT_FALSE(c.set_fp_end(5001));  // before the start: refused, not wrapped around
    EXPECT_EQ(readAll(c, 3), data.substr(0, 3));

    SteppedStream big(data);
    cMemBufferedIO d(&big, 1024);
    EXPECT_EQ(readAll(d, 10), data.substr(0, 10));
    EXPECT_TRUE(readAll(d, 5000) == data.substr(10, 5000));
    EXPECT_EQ(big.lastReadSize, 3986u);  // the cache served 1014 bytes, the source the rest in one call
}

TEST(MemBufferedIO, AFailedSourceReadIsReportedAndLeavesThePositionAlone) {
    const std::string data = pattern(9000);
    SteppedStream src(data);
    cMemBufferedIO c(&src, 1024);
    ASSERT_EQ(readAll(c, 1000), data.substr(0, 1000));
    src.failAfter = 0;
    char buf[4000];
    // Cache rest plus a failed direct read: the cached part still counts.
    EXPECT_EQ(c.read(buf, 3000), 24u);
    // Nothing in the cache: the failure itself.
    EXPECT_EQ(c.read(buf, 100), cFileIOTarget::kIOFailed);
    EXPECT_EQ(c.read(buf, 3000), cFileIOTarget::kIOFailed);
    EXPECT_FALSE(c.readf(buf, 10));
    src.failAfter = -1;
    EXPECT_EQ(readAll(c, 8), data.substr(1024, 8));
}

TEST(MemBufferedIO, WritesLandAtTheLogicalPositionAndDropTheCache) {
    cMemIOTarget m(128);
    ASSERT_EQ(put(m, "0123456789abcdef"), 16u);
    cMemBufferedIO c(&m, 64);
    EXPECT_EQ(readAll(c, 4), "0123");
    EXPECT_EQ(put(c, "XY"), 2u);
    EXPECT_EQ(readAll(c, 4), "6789");
    ASSERT_TRUE(c.set_fp(0));
    EXPECT_EQ(readAll(c, 16), "0123XY6789abcdef");
    ASSERT_TRUE(c.set_fp(16));
    EXPECT_EQ(put(c, "gh"), 2u);
    EXPECT_EQ(c.size(), 18);
    EXPECT_EQ(contents(m), "0123XY6789abcdefgh");
}

TEST(MemBufferedIO, AFailedSourceWriteIsReportedAndLeavesThePositionAlone) {
    SteppedStream src(pattern(100));
    cMemBufferedIO c(&src, 64);
    ASSERT_TRUE(c.set_fp(10));
    src.failWrites = true;
    EXPECT_EQ(put(c, "zz"), cFileIOTarget::kIOFailed);
    src.failWrites = false;
    EXPECT_EQ(put(c, "zz"), 2u);
    EXPECT_EQ(src.data().substr(10, 2), "zz");
}

TEST(MemBufferedIO, SetEofTruncatesTheSourceAndForgetsCachedBytes) {
    cMemIOTarget m(128);
    ASSERT_EQ(put(m, "0123456789"), 10u);
    cMemBufferedIO c(&m, 64);
    EXPECT_EQ(readAll(c, 2), "01");
    EXPECT_TRUE(c.set_eof(4));
    EXPECT_EQ(c.size(), 4);
    EXPECT_EQ(readAll(c, 10), "23");  // not the cached "456789"
}

TEST(MemBufferedIO, OwnsTheSourceOnlyWhenSetAndNeverDeletesItTwice) {
    bool gone = false;
    {
        cMemBufferedIO c;
        EXPECT_FALSE(c.valid());
        EXPECT_EQ(c.size(), 0);
        EXPECT_FALSE(c.set_fp(0));
        EXPECT_EQ(readAll(c, 4), "");
        auto* s = new SteppedStream("abc", ~0u, -1, &gone);
        ASSERT_TRUE(c.set(s, 16));
        ASSERT_TRUE(c.set(s, 32));  // the same stream again: kept, not deleted
        EXPECT_FALSE(gone);
        EXPECT_EQ(readAll(c, 3), "abc");
        c.close();
        EXPECT_TRUE(gone);
        EXPECT_FALSE(c.valid());
    }
    gone = false;
    SteppedStream kept("xyz", ~0u, -1, &gone);
    {
        cMemBufferedIO c(&kept, 16);
        EXPECT_EQ(readAll(c, 3), "xyz");
        EXPECT_FALSE(c.ref(nullptr, 16));
        EXPECT_FALSE(c.valid());
    }
    EXPECT_FALSE(gone);
}

TEST(MemBufferedIO, ThreadsReadingOneCacheEachGetWholeWordsAndNoneIsLost) {
    // Consecutive 32-bit counters read four bytes at a time by four threads:
    // each read returns one whole counter and every counter comes out once.
    constexpr unsigned kWords = 20000;
    std::string data(kWords * 4, '\0');
    for (unsigned i = 0; i < kWords; ++i) std::memcpy(&data[i * 4], &i, 4);
    cMemIOTarget m(4096);
    ASSERT_EQ(put(m, data), data.size());
    cMemBufferedIO c(&m, 1000);

    std::vector<std::atomic<int>> seen(kWords);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            unsigned v;
            while (c.read(&v, 4) == 4) (v < kWords ? seen[v] : bad)++;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
    int missing = 0, doubled = 0;
    for (auto& s : seen) {
        missing += s.load() == 0;
        doubled += s.load() > 1;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(doubled, 0);
}

// ===========================================================================
// cMemBufferedLinearWriterIO

TEST(MemBufferedLinearWriterIO, SmallWritesArePassedOnTogether) {
    SteppedStream dst("");
    cMemBufferedLinearWriterIO w(&dst, 16);
    EXPECT_TRUE(w.valid());
    EXPECT_EQ(put(w, "a"), 1u);
    EXPECT_EQ(put(w, "bc"), 2u);
    EXPECT_EQ(put(w, "defg"), 4u);
    EXPECT_EQ(put(w, "hijklmno"), 8u);
    EXPECT_EQ(dst.writes, 0);
    EXPECT_EQ(w.size(), 0);  // pending bytes are not counted
    EXPECT_EQ(put(w, "pq"), 2u);  // 15 + 2 > 16: the 15 go first
    EXPECT_EQ(dst.data(), "abcdefghijklmno");
    EXPECT_EQ(put(w, std::string(20, 'z')), 20u);  // larger than the buffer: straight through
    EXPECT_EQ(dst.data(), "abcdefghijklmnopq" + std::string(20, 'z'));
    char b[4];
    EXPECT_EQ(w.read(b, 4), 0u);
    EXPECT_FALSE(w.set_fp_end(0));
    EXPECT_FALSE(w.set_eof(0));
}

TEST(MemBufferedLinearWriterIO, ATargetThatTakesPartOfTheBytesGetsEachByteOnce) {
    SteppedStream dst("");
    cMemBufferedLinearWriterIO w(&dst, 16);
    EXPECT_EQ(put(w, "0123456789"), 10u);
    dst.writeLimit = 4;
    EXPECT_FALSE(w.flush());
    EXPECT_EQ(dst.data(), "0123");
    EXPECT_EQ(put(w, "ABCDEFGHIJK"), 0u);  // 6 pending + 11 > 16, and they cannot all go
    EXPECT_EQ(dst.data(), "01234567");
    dst.writeLimit = ~std::size_t{0};
    EXPECT_TRUE(w.flush());
    EXPECT_EQ(dst.data(), "0123456789");
    EXPECT_TRUE(w.flush());
}

TEST(MemBufferedLinearWriterIO, SeekingAndClosingPassPendingBytesOnAndCloseDeletesAnOwnedTarget) {
    SteppedStream dst("..........");
    {
        cMemBufferedLinearWriterIO w(&dst, 64);
        EXPECT_EQ(put(w, "ab"), 2u);
        EXPECT_TRUE(w.set_fp(6));
        EXPECT_EQ(dst.data(), "ab........");
        EXPECT_EQ(put(w, "XY"), 2u);
    }
    EXPECT_EQ(dst.data(), "ab....XY..");

    bool gone = false;
    auto* owned = new SteppedStream("", ~0u, -1, &gone);
    cMemBufferedLinearWriterIO w;
    EXPECT_FALSE(w.valid());
    EXPECT_EQ(put(w, "a"), 0u);
    ASSERT_TRUE(w.set(owned, 8));
    EXPECT_EQ(put(w, "abc"), 3u);
    EXPECT_EQ(owned->data(), "");
    w.close();
    EXPECT_TRUE(gone);
}

// ===========================================================================
// cBufWrapperIO

TEST(BufWrapperIO, AReadOnlyBlockRefusesWritesAndSeeksClipToItsEnd) {
    char block[] = "0123456789";
    cBufWrapperIO b(block, 10, false);
    EXPECT_TRUE(b.valid());
    EXPECT_EQ(b.size(), 10);
    EXPECT_EQ(put(b, "xx"), 0u);
    EXPECT_EQ(readAll(b, 4), "0123");
    EXPECT_FALSE(b.set_fp(static_cast<unsigned long long>(-1LL)));
    EXPECT_EQ(readAll(b, 4), "");  // moved to the end
    EXPECT_FALSE(b.set_fp(11));
    EXPECT_TRUE(b.set_fp(10));
    EXPECT_TRUE(b.set_fp_end(2));
    EXPECT_EQ(readAll(b, 4), "89");
    EXPECT_FALSE(b.set_fp_end(11));
    EXPECT_EQ(readAll(b, 1), "0");
    EXPECT_TRUE(b.set_eof(10));
    EXPECT_FALSE(b.set_eof(5));
    EXPECT_FALSE(b.set_time(2020, 1, 1, 0, 0, 0));
    EXPECT_STREQ(block, "0123456789");
}

TEST(BufWrapperIO, AWritableBlockIsWrittenInPlaceAndNeverGrows) {
    char block[8] = "abcdefg";
    cBufWrapperIO b;
    EXPECT_FALSE(b.valid());
    EXPECT_EQ(readAll(b, 2), "");
    ASSERT_TRUE(b.wrap(block, 7, true));
    ASSERT_TRUE(b.set_fp(5));
    EXPECT_EQ(put(b, "XYZ"), 2u);
    EXPECT_STREQ(block, "abcdeXY");
    EXPECT_EQ(b.size(), 7);
    b.close();
    EXPECT_FALSE(b.valid());
    EXPECT_EQ(b.size(), 0);
    // A negative size counts as an empty block.
    EXPECT_TRUE(b.wrap(block, -3, true));
    EXPECT_EQ(b.size(), 0);
    EXPECT_EQ(readAll(b, 2), "");
    EXPECT_EQ(put(b, "q"), 0u);
}

// In-place reads hand over the block's own bytes and move the position as
// read() does; a window on such a block does the same inside its bounds;
// paged memory and windows on it read by copying.
TEST(BufWrapperIO, InPlaceReadsPointIntoTheBlockAndWindowsKeepToTheirBounds) {
    char block[] = "0123456789ABCDEFGHIJ";
    cBufWrapperIO b(block, 20, false);
    const unsigned char* p = nullptr;
    ASSERT_TRUE(b.set_fp(3));
    EXPECT_EQ(b.readInPlace(p, 5), 5u);
    EXPECT_EQ(p, reinterpret_cast<unsigned char*>(block) + 3);
    EXPECT_EQ(b.get_fp(), 8);
    EXPECT_EQ(readAll(b, 2), "89");
    EXPECT_EQ(b.readInPlace(p, 100), 10u);
    EXPECT_EQ(p, reinterpret_cast<unsigned char*>(block) + 10);
    EXPECT_EQ(b.readInPlace(p, 100), 0u);  // at the end
    EXPECT_EQ(b.get_fp(), 20);

    cFileIOSubRange w(&b, 4, 9);  // "456789ABC"
    ASSERT_TRUE(w.set_fp(2));
    EXPECT_EQ(w.readInPlace(p, 4), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 4), "6789");
    EXPECT_EQ(w.get_fp(), 6);
    EXPECT_EQ(readAll(w, 1), "A");
    EXPECT_EQ(w.readInPlace(p, 100), 2u);  // not past the window
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 2), "BC");
    EXPECT_EQ(w.readInPlace(p, 100), 0u);
    EXPECT_EQ(w.get_fp(), 9);

    // A parent that hands over more than it was asked for is not believed.
    struct cOverreach : cBufWrapperIO {
        using cBufWrapperIO::cBufWrapperIO;
        std::size_t readInPlace(const unsigned char*& out, std::size_t) override {
            return cBufWrapperIO::readInPlace(out, 1000);
        }
    } loose(block, 20, false);
    cFileIOSubRange onLoose(&loose, 2, 5);
    EXPECT_EQ(onLoose.readInPlace(p, 3), 0u);
    EXPECT_EQ(onLoose.get_fp(), 0);

    cBufWrapperIO none;
    EXPECT_EQ(none.readInPlace(p, 4), 0u);
    cMemIOTarget paged(128);
    ASSERT_EQ(put(paged, "abcdef"), 6u);
    ASSERT_TRUE(paged.set_fp(0));
    EXPECT_EQ(paged.readInPlace(p, 4), 0u);
    cFileIOSubRange onPaged(&paged, 1, 4);
    EXPECT_EQ(onPaged.readInPlace(p, 4), 0u);
    EXPECT_EQ(onPaged.get_fp(), 0);
    EXPECT_EQ(readAll(onPaged, 4), "bcde");
}

// ===========================================================================
// cFileIOSubRange

TEST(FileIOSubRange, AWindowIsClippedToItsParent) {
    cMemIOTarget parent(128);
    ASSERT_EQ(put(parent, "ABCDEFGHIJKLMNOPQRSTUVWXY"), 25u);
    cFileIOSubRange w(&parent, 10, 20);
    EXPECT_EQ(w.size(), 15);
    EXPECT_TRUE(w.valid());
    EXPECT_EQ(readAll(w, 100), "KLMNOPQRSTUVWXY");
    EXPECT_FALSE(w.set_fp(16));
    EXPECT_EQ(readAll(w, 1), "");  // the position stayed at the window's end
    EXPECT_TRUE(w.set_fp(14));
    EXPECT_EQ(readAll(w, 5), "Y");
    EXPECT_TRUE(w.set_fp_end(4));
    EXPECT_EQ(readAll(w, 2), "VW");
    EXPECT_FALSE(w.set_fp_end(16));
    EXPECT_EQ(readAll(w, 2), "KL");
    EXPECT_FALSE(w.set_eof(3));

    cFileIOSubRange beyond(&parent, 30, 5);
    EXPECT_EQ(beyond.size(), 0);
    EXPECT_FALSE(beyond.valid());
    cFileIOSubRange none(nullptr, 0, 5);
    EXPECT_FALSE(none.valid());
    EXPECT_FALSE(none.set_fp(0));
    EXPECT_EQ(readAll(none, 2), "");
}

TEST(FileIOSubRange, TwoWindowsOnOneParentReadTheirOwnBytesAlternately) {
    cMemIOTarget parent(128);
    const std::string data = pattern(1000);
    ASSERT_EQ(put(parent, data), 1000u);
    cFileIOSubRange a(&parent, 100, 200), b(&parent, 600, 200);
    std::string ra, rb;
    for (int i = 0; i < 20; ++i) {
        ra += readAll(a, 10);
        rb += readAll(b, 10);
    }
    EXPECT_TRUE(ra == data.substr(100, 200));
    EXPECT_TRUE(rb == data.substr(600, 200));
}

TEST(FileIOSubRange, AFailedParentTransferIsReportedAndLeavesThePositionAlone) {
    SteppedStream parent(pattern(100));
    cFileIOSubRange w(&parent, 20, 50);
    EXPECT_EQ(readAll(w, 5), parent.data().substr(20, 5));
    parent.failAfter = 0;
    char buf[10];
    EXPECT_EQ(w.read(buf, 10), cFileIOTarget::kIOFailed);
    EXPECT_FALSE(w.readf(buf, 10));
    parent.failAfter = -1;
    EXPECT_EQ(readAll(w, 5), parent.data().substr(25, 5));
    parent.failWrites = true;
    EXPECT_EQ(put(w, "!!"), cFileIOTarget::kIOFailed);
    parent.failWrites = false;
    EXPECT_EQ(put(w, "!!"), 2u);
    EXPECT_EQ(parent.data().substr(30, 2), "!!");
}

TEST(FileIOSubRange, WritesStayInsideTheWindowAndClosingLeavesAFileParentOpen) {
    qortest::TempDir dir;
    const std::string p = dir.file("parent.bin");
    cFileIO f;
    ASSERT_TRUE(f.create(p.c_str(), fmReadWrite));
    ASSERT_TRUE(f.writef(const_cast<char*>("................"), 16));
    {
        cFileIOSubRange w(&f, 4, 6);
        EXPECT_EQ(put(w, "0123456789"), 6u);
        EXPECT_EQ(put(w, "x"), 0u);
        w.close();
    }
    EXPECT_TRUE(f.valid());
    ASSERT_TRUE(f.set_fp(0));
    char back[17] = {};
    ASSERT_TRUE(f.readf(back, 16));
    EXPECT_STREQ(back, "....012345......");
}

}  // namespace

TEST(StreamReadAt, ThreadsSharingOneStreamEachGetTheBytesTheyAskedFor) {
    // readAt keeps no position, so threads may share a file or a memory
    // stream without a lock; the cache takes its own.  Each thread reads
    // 32-bit counters at places of its own and checks every one.
    constexpr unsigned kWords = 50000;
    std::string data(kWords * 4, '\0');
    for (unsigned i = 0; i < kWords; ++i) std::memcpy(&data[i * 4], &i, 4);
    qortest::TempDir dir;
    const std::string path = dir.file("words.bin");
    ASSERT_TRUE(qortest::writeFile(path, data));
    cFileIO file;
    ASSERT_TRUE(file.open(path.c_str(), fmRead));
    cMemIOTarget memory(4096);
    ASSERT_TRUE(memory.fromBuffer(data.data(), static_cast<long long>(data.size())));
    // The words written 64 MiB out into small pages: far above the page
    // directory, so their pages are looked up in the map.
    constexpr unsigned long long kFar = 64ull << 20;
    cMemIOTarget far(256);
    ASSERT_TRUE(far.set_eof(kFar));
    ASSERT_TRUE(far.set_fp(kFar));
    ASSERT_EQ(put(far, data), data.size());
    ASSERT_TRUE(far.set_fp(0));
    cFileIO cachedFile;
    ASSERT_TRUE(cachedFile.open(path.c_str(), fmRead));
    cMemBufferedIO cache(&cachedFile, 1024);

    const std::pair<cFileIOTarget*, unsigned long long> streams[] = {{&file, 0}, {&memory, 0}, {&far, kFar}, {&cache, 0}};
    for (const auto& [s, base] : streams) {
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (unsigned i = t; i < kWords; i += 4) {
                    const unsigned word = (i * 7919u) % kWords;
                    unsigned got[2] = {~0u, ~0u};
                    const unsigned n = word + 1 < kWords ? 8 : 4;
                    if (s->readAt(base + word * 4ull, got, n) != n || got[0] != word || (n == 8 && got[1] != word + 1))
                        ++wrong;
                }
            });
        for (auto& th : threads) th.join();
        EXPECT_EQ(wrong.load(), 0);
        EXPECT_EQ(s->get_fp(), 0);
    }
}
