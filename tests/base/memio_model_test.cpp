// The memory stream held against a plain byte vector through thousands of
// random operations: contents, position and the pages held.
#include "base/memio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "allocmeter.h"

namespace {

constexpr long long kPage = 65536;
// Lengths reach past this now and then, so that transfers cross many pages.
constexpr long long kLong = 2LL << 20;

// n bytes from a random place of a fixed pool of noise with no zero byte
// (so a stray zero shows).
std::vector<unsigned char> bytesOf(std::mt19937& rng, std::size_t n) {
    static const std::vector<unsigned char> pool = [] {
        std::vector<unsigned char> p(16u << 20);
        unsigned long long x = 0x9E3779B97F4A7C15ULL;
        for (auto& b : p) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = static_cast<unsigned char>((x >> 24) | 1);
        }
        return p;
    }();
    const std::size_t at = rng() % (pool.size() - n);
    return std::vector<unsigned char>(pool.begin() + static_cast<long>(at), pool.begin() + static_cast<long>(at + n));
}

// What the stream must hold: its bytes, the position and the pages that
// writes have given it since they were last cut off.
struct Model {
    std::vector<unsigned char> bytes;
    std::size_t pos = 0;
    std::set<long long> pages;

    void touch(std::size_t at, std::size_t n) {
        if (n == 0) return;
        for (long long p = static_cast<long long>(at / kPage); p <= static_cast<long long>((at + n - 1) / kPage); ++p) pages.insert(p);
    }
    void cut(std::size_t length) {
        const long long first = static_cast<long long>((length + kPage - 1) / kPage);
        pages.erase(pages.lower_bound(first), pages.end());
        bytes.resize(length, 0);
        pos = std::min(pos, length);
    }
};

void expectSame(cMemIOTarget& m, const Model& model) {
    _typebuf<unsigned char> out;
    ASSERT_TRUE(m.toBuffer(out));
    ASSERT_EQ(out.count(), static_cast<long long>(model.bytes.size()));
    ASSERT_TRUE(model.bytes.empty() || std::memcmp(out.data(), model.bytes.data(), model.bytes.size()) == 0);
}

// A few thousand operations at sizes that cross page boundaries; `span`
// bounds the sizes.
void runModel(unsigned seed, std::size_t span) {
    std::mt19937 rng(seed);
    auto below = [&rng](std::size_t n) { return n ? static_cast<std::size_t>(rng() % n) : 0; };
    // Lengths mostly small, sometimes a few pages, now and then many.
    auto length = [&]() -> std::size_t {
        switch (rng() % 8) {
            case 0: return below(3 * kLong / 2);
            case 1: case 2: return below(4 * kPage);
            default: return below(300);
        }
    };
    cMemIOTarget m(kPage);
    Model model;
    for (int step = 0; step < 3000; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const std::size_t size = model.bytes.size();
        const unsigned op = rng() % 16;
        if (op < 5) {  // write at the position, which may lie anywhere up to the end
            const std::size_t n = std::min(length(), span - std::min(span, model.pos));
            const auto data = bytesOf(rng, n);
            ASSERT_EQ(m.write(const_cast<unsigned char*>(data.data()), static_cast<unsigned>(n)), n);
            if (model.bytes.size() < model.pos + n) model.bytes.resize(model.pos + n, 0);
            std::copy(data.begin(), data.end(), model.bytes.begin() + static_cast<long>(model.pos));
            model.touch(model.pos, n);
            model.pos += n;
        } else if (op < 8) {  // read
            const std::size_t n = length();
            std::vector<unsigned char> got(n + 1, 0xEE);
            const unsigned r = m.read(got.data(), static_cast<unsigned>(n));
            const std::size_t want = std::min(n, size - model.pos);
            ASSERT_EQ(r, want);
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + static_cast<long>(want), model.bytes.begin() + static_cast<long>(model.pos)))
                << "read of " << n << " at " << model.pos;
            ASSERT_EQ(got[want], 0xEE);
            model.pos += want;
        } else if (op < 10) {  // seek, now and then beyond the end
            const std::size_t to = below(size + 2 * kPage + 1);
            ASSERT_EQ(m.set_fp(to), to <= size);
            model.pos = std::min(to, size);
        } else if (op < 12) {  // cut or grow, mostly to a point inside a page
            std::size_t to = below(std::min(span, size + static_cast<std::size_t>(3 * kLong / 2)) + 1);
            if (rng() % 4 == 0) to -= to % kPage;
            if (rng() % 16 == 0) to = 0;
            ASSERT_TRUE(m.set_eof(to));
            model.cut(to);
        } else if (op < 14) {  // copy from anywhere, overlapping or not
            const std::size_t from = below(size + kPage);
            const std::size_t n = std::min(length(), span - std::min(span, model.pos));
            ASSERT_EQ(m.copy(static_cast<long long>(from), static_cast<long long>(n)), static_cast<long long>(n));
            const std::size_t at = model.pos;
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned char c = from + i < model.bytes.size() ? model.bytes[from + i] : 0;
                if (at + i == model.bytes.size()) model.bytes.push_back(c);
                model.bytes[at + i] = c;
            }
            model.touch(at, n);
            model.pos += n;
        } else if (op == 14) {  // fromBuffer, small or large
            const std::size_t n = rng() % 3 == 0 ? below(4 * kPage) : span / 2 + below(span / 2);
            const auto data = bytesOf(rng, n);
            ASSERT_TRUE(m.fromBuffer(data.data(), static_cast<long long>(n)));
            model.bytes = data;
            model.pos = 0;
            model.pages.clear();
            model.touch(0, n);
        } else {
            ASSERT_NO_FATAL_FAILURE(expectSame(m, model));
        }
        ASSERT_EQ(m.size(), static_cast<long long>(model.bytes.size()));
        ASSERT_EQ(m.get_fp(), static_cast<long long>(model.pos));
        ASSERT_EQ(m.pageCount(), static_cast<long long>(model.pages.size()));
    }
    ASSERT_NO_FATAL_FAILURE(expectSame(m, model));
    ASSERT_TRUE(m.set_eof(0));
    EXPECT_EQ(m.pageCount(), 0);
}

TEST(MemIOTargetModel, RandomOperationsAgreeWithAVector) {
    for (unsigned seed : {1u, 2u, 3u, 11u, 12u, 13u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        // A stream of a few pages and one of many megabytes.
        ASSERT_NO_FATAL_FAILURE(runModel(seed, static_cast<std::size_t>(seed < 10 ? 4 * kPage : 5 * kLong)));
    }
}

TEST(MemIOTargetModel, AnEmptyReadAtTheEndOfWholePagesReadsNothing) {
    // The end of a stream of whole pages is the end of its page directory.
    std::vector<unsigned char> two(static_cast<std::size_t>(2 * kPage), 0x33);
    cMemIOTarget m(kPage);
    ASSERT_TRUE(m.fromBuffer(two.data(), static_cast<long long>(two.size())));
    ASSERT_TRUE(m.set_fp(two.size()));
    unsigned char sink[1] = {0xEE};
    EXPECT_EQ(m.read(sink, 0), 0u);
    EXPECT_EQ(m.read(sink, 1), 0u);
    EXPECT_EQ(sink[0], 0xEE);
    EXPECT_EQ(m.get_fp(), static_cast<long long>(two.size()));
}

TEST(MemIOTargetModel, TruncationFreesThePagesPastTheEndAndRegrowthShowsZeros) {
    cMemIOTarget m(kPage);
    std::vector<unsigned char> chunk(static_cast<std::size_t>(kPage), 0x5A);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(m.write(chunk.data(), static_cast<unsigned>(kPage)), kPage);
    EXPECT_EQ(m.pageCount(), 100);
    const long long end = 40 * kPage + 100;
    ASSERT_TRUE(m.set_eof(static_cast<unsigned long long>(end)));
    EXPECT_EQ(m.pageCount(), 41);
    // Growing again shows zeros past the cut, then the new bytes.
    ASSERT_TRUE(m.set_eof(static_cast<unsigned long long>(end + 3 * kPage)));
    ASSERT_TRUE(m.set_fp(static_cast<unsigned long long>(end + 2 * kPage)));
    ASSERT_EQ(m.write(chunk.data(), 10), 10u);
    std::vector<unsigned char> back(static_cast<std::size_t>(3 * kPage));
    ASSERT_TRUE(m.set_fp(static_cast<unsigned long long>(end - 1)));
    ASSERT_EQ(m.read(back.data(), static_cast<unsigned>(back.size())), 3 * kPage);
    EXPECT_EQ(back[0], 0x5A);
    EXPECT_EQ(std::count(back.begin() + 1, back.begin() + 1 + 2 * kPage, 0), 2 * kPage);
    EXPECT_EQ(std::count(back.begin() + 1 + 2 * kPage, back.begin() + 11 + 2 * kPage, 0x5A), 10);
    ASSERT_TRUE(m.set_eof(static_cast<unsigned long long>(10 * kPage)));
    EXPECT_EQ(m.pageCount(), 10);
}

TEST(MemIOTargetModel, AWriteFarAboveTheEndStaysSparse) {
    cMemIOTarget m(kPage);
    std::vector<unsigned char> big(static_cast<std::size_t>(2 * kLong), 0x11);
    ASSERT_TRUE(m.fromBuffer(big.data(), static_cast<long long>(big.size())));
    const unsigned long long far = 1ULL << 40;
    ASSERT_TRUE(m.set_eof(far + 50));
    ASSERT_TRUE(m.set_fp(far - 20));
    ASSERT_EQ(m.write(big.data(), 40), 40u);
    EXPECT_EQ(m.pageCount(), static_cast<long long>(big.size()) / kPage + 2);  // the write crosses a page end
    unsigned char probe[64];
    ASSERT_TRUE(m.set_fp(far - 30));
    ASSERT_EQ(m.read(probe, 64), 64u);
    EXPECT_EQ(std::count(probe, probe + 10, 0), 10);
    EXPECT_EQ(std::count(probe + 10, probe + 50, 0x11), 40);
    EXPECT_EQ(std::count(probe + 50, probe + 64, 0), 14);
    ASSERT_TRUE(m.set_eof(big.size() + 10));
    EXPECT_EQ(m.pageCount(), static_cast<long long>(big.size()) / kPage);
}

TEST(MemIOTargetModel, OddPageSizesHoldTheBytesGiven) {
    std::vector<unsigned char> big(static_cast<std::size_t>(2 * kLong + 12345), 0x22);
    for (long long page : {1000LL, 3LL << 20, 4LL << 20}) {
        cMemIOTarget m(page);
        ASSERT_TRUE(m.fromBuffer(big.data(), static_cast<long long>(big.size())));
        EXPECT_EQ(m.pageCount(), (static_cast<long long>(big.size()) + page - 1) / page) << page;
        _typebuf<unsigned char> out;
        ASSERT_TRUE(m.toBuffer(out));
        EXPECT_TRUE(std::equal(big.begin(), big.end(), out.data()));
    }
}

}  // namespace

TEST(MemIOTargetModel, AStreamFromABufferCutBelowHalfGivesItsMemoryBack) {
    std::mt19937 rng(5);
    const auto data = bytesOf(rng, static_cast<std::size_t>(128 * kPage + 77));
    cMemIOTarget m(kPage);
    ASSERT_TRUE(m.fromBuffer(data.data(), static_cast<long long>(data.size())));
    // Cut to just over half: the pages stay where they are.
    const std::size_t half = static_cast<std::size_t>(65 * kPage - 3);
    qortest::AllocMeter meter;
    ASSERT_TRUE(m.set_eof(half));
    EXPECT_LT(-meter.held(), kPage);
    EXPECT_EQ(m.pageCount(), 65);
    // Cut to a tenth: what is left moves out, and the rest is freed.
    const std::size_t tenth = static_cast<std::size_t>(12 * kPage + 5);
    meter.restart();
    ASSERT_TRUE(m.set_eof(tenth));
    EXPECT_GT(-meter.held(), 100 * kPage);
    EXPECT_EQ(m.pageCount(), 13);
    // The bytes kept are the same, and regrowth shows zeros after them.
    ASSERT_TRUE(m.set_eof(tenth + 100));
    std::vector<unsigned char> back(tenth + 100);
    ASSERT_TRUE(m.set_fp(0));
    ASSERT_EQ(m.read(back.data(), static_cast<unsigned>(back.size())), back.size());
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + static_cast<long>(tenth), back.begin()));
    EXPECT_EQ(std::count(back.begin() + static_cast<long>(tenth), back.end(), 0), 100);
}
