// qor-test-narrow-cpu: SmallCopy.*:CopyLongChoice.*:MemIOTargetWholeReads.*
// The copies of the memory streams' reads, each way they can be made on this
// processor, and the reads that a memory stream serves inline: every length
// around the copies' thresholds and the page size, from every place, with
// reads that straddle a page, the block's end and the stream's end, held
// against the bytes the stream was given.
#include "base/buffers.h"
#include "base/cpufeatures.h"
#include "base/memio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> randomBytes(unsigned seed, std::size_t n) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v) b = static_cast<unsigned char>(rng());
    return v;
}

// Sets a copy choice for one scope and puts the old one back.
template <typename T>
struct Choice {
    Choice(T& flag, T value) : flag_(flag), old_(flag) { flag_ = value; }
    ~Choice() { flag_ = old_; }
    T& flag_;
    T old_;
};

}  // namespace

TEST(SmallCopy, EveryWidthLengthAndMisalignmentCopiesExactlyTheBytes) {
    // Every length up to 64 from and to every offset in a cache line; the
    // bytes around the destination keep their value, also past the end of a
    // copy shorter than the 64 bytes the wide moves are declared to reach.
    std::vector<unsigned char> widths;
    for (unsigned w = qor_detail::kSmallCopySse; w <= qor_detail::widestSmallCopy(); ++w)
        widths.push_back(static_cast<unsigned char>(w));
    const std::vector<unsigned char> src = randomBytes(3, 256);
    alignas(64) unsigned char dst[256];
    for (unsigned char width : widths) {
        Choice<unsigned char> chosen(qor_detail::gSmallCopyWidth, width);
        for (unsigned n = 0; n <= 64; ++n)
            for (unsigned from = 0; from < 64; ++from)
                for (unsigned to = 0; to < 64; ++to) {
                    std::fill(std::begin(dst), std::end(dst), static_cast<unsigned char>(0x5A));
                    qor_detail::copySmall(dst + 64 + to, src.data() + 64 + from, n);
                    ASSERT_TRUE(std::equal(src.begin() + 64 + from, src.begin() + 64 + from + n, dst + 64 + to))
                        << "width " << int(width) << ", " << n << " bytes from " << from << " to " << to;
                    for (unsigned i = 0; i < 256; ++i) {
                        if (i < 64 + to || i >= 64 + to + n) {
                            ASSERT_EQ(dst[i], 0x5A) << "width " << int(width) << ", " << n << " bytes to " << to
                                                    << ", byte " << i;
                        }
                    }
                }
    }
}

TEST(SmallCopy, ValuesInVectorRegistersLiveAcrossTheCopy) {
    // Doubles the compiler keeps in vector registers around a wide copy
    // (which clears the registers' upper halves) come out as computed.
    std::vector<double> values(16);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = 1.5 * static_cast<double>(i) + 0.25;
    const std::vector<unsigned char> src = randomBytes(4, 64);
    for (unsigned w = qor_detail::kSmallCopySse; w <= qor_detail::widestSmallCopy(); ++w) {
        Choice<unsigned char> chosen(qor_detail::gSmallCopyWidth, static_cast<unsigned char>(w));
        unsigned char dst[64];
        double sum = 0;
        for (int round = 0; round < 64; ++round) {
            double a = values[round % 16], b = values[(round + 3) % 16];
            qor_detail::copySmall(dst, src.data(), 33 + round % 32);
            sum += a * b + dst[0];
        }
        double want = 0;
        for (int round = 0; round < 64; ++round) want += values[round % 16] * values[(round + 3) % 16] + src[0];
        EXPECT_EQ(sum, want) << "width " << w;
    }
}

TEST(CopyLongChoice, MemcpyAndTheVectorLoopCopyExactlyTheBytes) {
    // Both ways the long copy can go, each forced, at lengths around the
    // loop's step and the threshold below which it is not taken, into every
    // offset of a cache line.
    std::vector<bool> loops{false};
    if (qor_cpu::hasAvx2()) loops.push_back(true);
    const std::vector<unsigned char> src = randomBytes(5, 5000);
    std::vector<unsigned char> dst(5000 + 256);
    for (bool loop : loops) {
        Choice<bool> chosen(qor_detail::gLongCopyByVectorLoop, loop);
        for (std::size_t n : {65u, 127u, 128u, 129u, 255u, 256u, 257u, 383u, 384u, 385u, 1000u, 4095u, 4096u, 4097u})
            for (std::size_t from : {0u, 1u, 17u, 63u})
                for (std::size_t to = 0; to < 64; ++to) {
                    std::fill(dst.begin(), dst.end(), static_cast<unsigned char>(0xC3));
                    qor_detail::copyLong(dst.data() + 64 + to, src.data() + from, n);
                    ASSERT_TRUE(std::equal(src.begin() + static_cast<long>(from),
                                           src.begin() + static_cast<long>(from + n), dst.begin() + static_cast<long>(64 + to)))
                        << (loop ? "loop, " : "memcpy, ") << n << " bytes from " << from << " to " << to;
                    ASSERT_TRUE(std::all_of(dst.begin(), dst.begin() + static_cast<long>(64 + to),
                                            [](unsigned char b) { return b == 0xC3; }));
                    ASSERT_TRUE(std::all_of(dst.begin() + static_cast<long>(64 + to + n), dst.end(),
                                            [](unsigned char b) { return b == 0xC3; }))
                        << (loop ? "loop, " : "memcpy, ") << n << " bytes to " << to;
                }
    }
}

TEST(CopyLongChoice, TheVectorLoopOfEitherWidthCopiesExactlyTheBytes) {
    // The loop forced on, in its 32-byte form and, with AVX-512, its 64-byte
    // one, which copies sources that lie in their cache line as the
    // destination does and gives the others to the string move from 2 KiB
    // and to memcpy below: every
    // length from 128 (the least it is given) to 1100, past one and two
    // 256-byte steps of each destination alignment, and lengths around
    // 4 KiB, from several source offsets into every offset of a line, with
    // guard bytes on both sides.
    if (!qor_cpu::hasAvx2()) GTEST_SKIP() << "no vector loop without AVX2";
    std::vector<bool> wides{false};
    if (qor_cpu::hasAvx512bw()) wides.push_back(true);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 128; n <= 1100; ++n) lengths.push_back(n);
    for (std::size_t n : {2047u, 2048u, 2049u, 4031u, 4032u, 4095u, 4096u, 4097u, 4159u, 4160u, 9000u}) lengths.push_back(n);
    const std::vector<unsigned char> src = randomBytes(6, 9100);
    std::vector<unsigned char> dst(9100 + 256);
    Choice<bool> loop(qor_detail::gLongCopyByVectorLoop, true);
    for (bool wide : wides) {
        Choice<bool> chosen(qor_detail::gLongCopyLoopWide, wide);
        for (std::size_t n : lengths)
            for (std::size_t from : {0u, 1u, 33u, 64u})
                for (std::size_t to = 0; to < 64; ++to) {
                    // Every offset at some lengths; else every ninth, and the
                    // one that lies in its line as the source does.
                    const std::uintptr_t apart = reinterpret_cast<std::uintptr_t>(dst.data() + 64 + to) -
                                                 reinterpret_cast<std::uintptr_t>(src.data() + from);
                    if (n <= 1100 && n % 7 != 0 && to % 9 != 0 && apart % 64 != 0) continue;
                    std::fill(dst.begin(), dst.end(), static_cast<unsigned char>(0x3C));
                    qor_detail::copyLong(dst.data() + 64 + to, src.data() + from, n);
                    ASSERT_TRUE(std::equal(src.begin() + static_cast<long>(from),
                                           src.begin() + static_cast<long>(from + n), dst.begin() + static_cast<long>(64 + to)))
                        << (wide ? "64" : "32") << "-byte loop, " << n << " bytes from " << from << " to " << to;
                    ASSERT_TRUE(std::all_of(dst.begin(), dst.begin() + static_cast<long>(64 + to),
                                            [](unsigned char b) { return b == 0x3C; }))
                        << (wide ? "64" : "32") << "-byte loop, " << n << " bytes to " << to;
                    ASSERT_TRUE(std::all_of(dst.begin() + static_cast<long>(64 + to + n), dst.end(),
                                            [](unsigned char b) { return b == 0x3C; }))
                        << (wide ? "64" : "32") << "-byte loop, " << n << " bytes to " << to;
                }
    }
}

TEST(CopyLongChoice, TheChoiceFollowsTheProcessor) {
    // The 64-byte loop only where AVX-512 and the fast string move are
    // (QOR_CPU_DISABLE=avx512 or fsrm takes it away), and the loop is then
    // the one taken; the short copies' AVX-512 form only with AVX-512.
    EXPECT_EQ(qor_detail::longCopyLoopWide(), qor_cpu::hasAvx512bw() && qor_cpu::hasFastStringMove());
    if (qor_detail::longCopyLoopWide()) {
        EXPECT_TRUE(qor_detail::longCopyByVectorLoop());
    }
    EXPECT_EQ(qor_detail::widestSmallCopy() == qor_detail::kSmallCopyEvex, qor_cpu::hasAvx512vl());
    if (!qor_cpu::hasAvx2()) {
        EXPECT_FALSE(qor_detail::longCopyByVectorLoop());
        EXPECT_EQ(qor_detail::widestSmallCopy(), qor_detail::kSmallCopySse);
    }
}

namespace {

struct Shape {
    const char* name;
    long long pageSize;
    bool fromBuffer;    // one block from fromBuffer, else written page by page
    long long cutTo;    // then cut to this length (-1: not cut) ...
    long long growTo;   // ... and grown again to this one (-1: not grown)
};

// The stream of a shape over `bytes`, and the bytes it must read as.
std::vector<unsigned char> build(const Shape& shape, const std::vector<unsigned char>& bytes, cMemIOTarget& m) {
    std::vector<unsigned char> model = bytes;
    if (shape.fromBuffer) {
        EXPECT_TRUE(m.fromBuffer(bytes.data(), static_cast<long long>(bytes.size())));
    } else {
        // Pieces of an odd size, so that writes straddle pages.
        for (std::size_t at = 0; at < bytes.size(); at += 77) {
            std::vector<unsigned char> piece(bytes.begin() + static_cast<long>(at),
                                             bytes.begin() + static_cast<long>(std::min(at + 77, bytes.size())));
            EXPECT_EQ(m.write(piece.data(), static_cast<unsigned>(piece.size())), piece.size());
        }
    }
    if (shape.cutTo >= 0) {
        EXPECT_TRUE(m.set_eof(static_cast<unsigned long long>(shape.cutTo)));
        model.resize(static_cast<std::size_t>(shape.cutTo));
    }
    if (shape.growTo >= 0) {
        EXPECT_TRUE(m.set_eof(static_cast<unsigned long long>(shape.growTo)));
        model.resize(static_cast<std::size_t>(shape.growTo), 0);
    }
    EXPECT_EQ(m.size(), static_cast<long long>(model.size()));
    return model;
}

}  // namespace

TEST(MemIOTargetWholeReads, ReadAndReadAtAgreeWithTheBytesAtEveryLengthAndPlace) {
    const std::vector<unsigned char> bytes = randomBytes(9, 3000);
    const Shape shapes[] = {
        {"block, 128-byte pages", 128, true, -1, -1},
        {"block, 64 KiB pages", 65536, true, -1, -1},
        {"written, 128-byte pages", 128, false, -1, -1},
        {"written, 256-byte pages", 256, false, -1, -1},
        {"written, 200-byte pages", 200, false, -1, -1},
        {"block cut inside a page and grown", 128, true, 2500, 2900},
        {"block cut to few pages and grown", 128, true, 700, 2000},
        {"written, cut and grown", 128, false, 1234, 3100},
    };
    const unsigned lengths[] = {1,   2,   3,   7,   8,   15,  16,   17,   31,   32,   33,   63,   64,   65,  127,
                                128, 129, 255, 256, 257, 300, 511,  512,  513,  1000, 2047, 2999, 3000, 3001, 4096};
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        cMemIOTarget m(shape.pageSize);
        const std::vector<unsigned char> model = build(shape, bytes, m);
        const std::size_t size = model.size();
        std::vector<unsigned char> out(4096 + 64);
        for (unsigned n : lengths)
            for (std::size_t pos = 0; pos <= size + 1; ++pos) {
                const std::size_t want = pos < size ? std::min<std::size_t>(n, size - pos) : 0;
                for (int how = 0; how < 2; ++how) {
                    std::fill(out.begin(), out.end(), static_cast<unsigned char>(0xEE));
                    unsigned got;
                    if (how == 0) {
                        ASSERT_EQ(m.set_fp(pos), pos <= size);
                        got = m.read(out.data(), n);
                        ASSERT_EQ(m.get_fp(), static_cast<long long>(std::min(pos, size) + got));
                    } else {
                        m.set_fp(7);
                        got = m.readAt(pos, out.data(), n);
                        ASSERT_EQ(m.get_fp(), 7);
                    }
                    ASSERT_EQ(got, want) << (how ? "readAt " : "read ") << n << " at " << pos;
                    ASSERT_TRUE(std::equal(model.begin() + static_cast<long>(std::min(pos, size)),
                                           model.begin() + static_cast<long>(std::min(pos, size) + want), out.begin()))
                        << (how ? "readAt " : "read ") << n << " at " << pos;
                    ASSERT_TRUE(std::all_of(out.begin() + static_cast<long>(want), out.end(),
                                            [](unsigned char b) { return b == 0xEE; }))
                        << (how ? "readAt " : "read ") << n << " at " << pos;
                }
            }
    }
}

TEST(MemIOTargetWholeReads, RefusalsAndClippedCountsStayAsTheyWere) {
    const std::vector<unsigned char> bytes = randomBytes(10, 5000);
    cMemIOTarget m(128);
    ASSERT_TRUE(m.fromBuffer(bytes.data(), 5000));
    std::vector<unsigned char> out(6000, 0xEE);

    // Offsets whose sum with the count wraps around to a small number.
    for (unsigned long long pos : {ULLONG_MAX, ULLONG_MAX - 63, ULLONG_MAX - 4095, ULLONG_MAX - 4999, 1ULL << 63})
        for (unsigned n : {1u, 64u, 65u, 4096u, 5000u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
            EXPECT_EQ(m.readAt(pos, out.data(), n), 0u) << pos << " " << n;
            EXPECT_EQ(out[0], 0xEE);
        }
    // No buffer, no count.
    for (unsigned n : {0u, 1u, 64u, 65u, 4096u}) {
        EXPECT_EQ(m.readAt(10, nullptr, n), 0u) << n;
        ASSERT_TRUE(m.set_fp(10));
        EXPECT_EQ(m.read(nullptr, n), 0u) << n;
        EXPECT_EQ(m.get_fp(), 10);
    }
    EXPECT_EQ(m.readAt(10, out.data(), 0), 0u);
    EXPECT_EQ(m.read(out.data(), 0), 0u);
    EXPECT_EQ(m.get_fp(), 10);
    EXPECT_EQ(out[0], 0xEE);

    // The largest counts are clipped to what is there, never read as kIOFailed.
    for (unsigned n : {0xFFFFFFFEu, 0xFFFFFFFFu}) {
        ASSERT_TRUE(m.set_fp(1000));
        ASSERT_EQ(m.read(out.data(), n), 4000u) << n;
        EXPECT_TRUE(std::equal(bytes.begin() + 1000, bytes.end(), out.begin()));
        EXPECT_EQ(m.get_fp(), 5000);
        ASSERT_EQ(m.readAt(4990, out.data(), n), 10u) << n;
        EXPECT_TRUE(std::equal(bytes.begin() + 4990, bytes.end(), out.begin()));
    }
    // At and past the end.
    ASSERT_TRUE(m.set_fp(5000));
    EXPECT_EQ(m.read(out.data(), 4096), 0u);
    EXPECT_FALSE(m.set_fp(5001));
    EXPECT_EQ(m.get_fp(), 5000);
    EXPECT_EQ(m.read(out.data(), 65), 0u);
    EXPECT_EQ(m.readAt(5000, out.data(), 4096), 0u);
    EXPECT_EQ(m.readAt(5001, out.data(), 1), 0u);
}
