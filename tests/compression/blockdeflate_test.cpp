// The block deflater against zlib: pieces deflated each with the bytes
// before it as history and joined as the payload writer joins them inflate
// (by zlib) to the input, whatever the pieces' sizes, and take no more room
// than zlib's level 9 given the same pieces; the prefix codes it builds are
// complete, within their limit and optimal where the limit does not bind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <queue>
#include <string>
#include <vector>

#include "compression/blockdeflate.h"
#include "oracle.h"

namespace {

using ztest::Bytes;
using ztest::noise;
using ztest::xorshift;

// Lines of words from a vocabulary of a few dozen: the text on which a hash
// chain search spends the most.
Bytes vocabulary(std::size_t n) {
    static const char* const kWords[] = {"the",     "package", "installs", "registers", "updates", "removes",
                                         "software", "for",    "its",      "user",      "version", "folder",
                                         "file",    "data",    "system",   "memory",    "thread",  "stream",
                                         "0",       "1",       "2",        "qor",       "check",   "notes"};
    Bytes v;
    std::uint64_t x = 7;
    while (v.size() < n) {
        const int words = 4 + static_cast<int>(xorshift(x) % 12);
        for (int i = 0; i < words && v.size() < n; ++i) {
            for (const char* w = kWords[xorshift(x) % 24]; *w; ++w) v.push_back(static_cast<unsigned char>(*w));
            v.push_back(i + 1 == words ? '\n' : ' ');
        }
    }
    v.resize(n);
    return v;
}

Bytes records(std::size_t n) {
    Bytes v;
    std::uint64_t x = 11;
    std::uint32_t c = 0;
    while (v.size() < n) {
        c += 1 + static_cast<std::uint32_t>(xorshift(x) % 3);
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<unsigned char>(c >> (8 * i)));
        v.push_back(static_cast<unsigned char>(xorshift(x)));
        v.push_back(0x40);
    }
    v.resize(n);
    return v;
}

struct sInput {
    const char* name;
    Bytes data;
};

const std::vector<sInput>& inputs() {
    static const std::vector<sInput> all = [] {
        std::vector<sInput> v;
        v.push_back({"empty", {}});
        v.push_back({"one byte", {'q'}});
        v.push_back({"three bytes", {'a', 'b', 'c'}});
        v.push_back({"zeros", Bytes(300000, 0)});
        v.push_back({"noise", noise(150000, 1)});
        v.push_back({"mixed", ztest::mixedData(400000)});
        v.push_back({"vocabulary", vocabulary(300000)});
        v.push_back({"records", records(200000)});
        Bytes ramp;
        for (int i = 0; i < 40000; ++i) ramp.push_back(static_cast<unsigned char>(i * 7 + i / 256));
        v.push_back({"ramp", ramp});
        return v;
    }();
    return all;
}

// data deflated in pieces of `piece` bytes, each with everything before it
// as history, as a zlib stream; by us or by zlib at level 9.
Bytes deflatePieces(const Bytes& data, std::size_t piece, bool ours) {
    Bytes z = {0x78, 0xDA};
    cBlockDeflater d;
    z_stream s{};
    if (!ours) {
        EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    }
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(piece, data.size() - at);
        const bool last = at + n == data.size();
        Bytes out(cBlockDeflater::bound(n) + 64);
        std::size_t got = 0;
        if (ours) {
            got = d.deflate(data.data() + at, n, at, last, out.data(), cBlockDeflater::bound(n));
            EXPECT_GT(got, 0u) << "piece at " << at;
        } else {
            deflateReset(&s);
            const std::size_t dict = std::min<std::size_t>(at, 32768);
            if (dict) deflateSetDictionary(&s, data.data() + at - dict, static_cast<uInt>(dict));
            s.next_in = const_cast<unsigned char*>(data.data() + at);
            s.avail_in = static_cast<uInt>(n);
            s.next_out = out.data();
            s.avail_out = static_cast<uInt>(out.size());
            deflate(&s, last ? Z_FINISH : Z_SYNC_FLUSH);
            got = out.size() - s.avail_out;
        }
        z.insert(z.end(), out.begin(), out.begin() + static_cast<long>(got));
        at += n;
    } while (at < data.size());
    if (!ours) deflateEnd(&s);
    const uLong a = adler32(1, data.data(), static_cast<uInt>(data.size()));
    for (int i = 3; i >= 0; --i) z.push_back(static_cast<unsigned char>(a >> (8 * i)));
    return z;
}

bool inflatesTo(const Bytes& z, const Bytes& want) {
    Bytes got(want.size() + 1);
    uLongf n = static_cast<uLongf>(got.size());
    return uncompress(got.data(), &n, z.data(), static_cast<uLong>(z.size())) == Z_OK && n == want.size() &&
           std::equal(want.begin(), want.end(), got.begin());
}

TEST(BlockDeflater, PiecesJoinedInflateToTheInputAndTakeNoMoreRoomThanZlibsLevelNine) {
    for (const sInput& in : inputs()) {
        for (std::size_t piece : {std::size_t(1) << 30, std::size_t(131072), std::size_t(20000), std::size_t(777)}) {
            if (piece < 20000 && in.data.size() > 100000) continue;
            const Bytes ours = deflatePieces(in.data, piece, true);
            const Bytes zlib9 = deflatePieces(in.data, piece, false);
            EXPECT_TRUE(inflatesTo(ours, in.data)) << in.name << ", pieces of " << piece;
            EXPECT_LE(ours.size(), zlib9.size() + zlib9.size() / 200 + 8)
                << in.name << ", pieces of " << piece << ": zlib takes " << zlib9.size();
        }
    }
}

TEST(BlockDeflater, ReachesBackAWholeWindowAndNoFurther) {
    for (std::size_t gap : {std::size_t(32768), std::size_t(32769)}) {
        Bytes data = noise(gap, gap);
        data.insert(data.end(), data.begin(), data.begin() + 600);
        const Bytes z = deflatePieces(data, data.size(), true);
        EXPECT_TRUE(inflatesTo(z, data)) << gap;
        if (gap == 32768) {
            EXPECT_LT(z.size(), gap + 100) << "the repeat a window back is a match";
        }
    }
}

TEST(BlockDeflater, OnePieceOfEachByteStillJoins) {
    const Bytes text = vocabulary(3000);
    EXPECT_TRUE(inflatesTo(deflatePieces(text, 1, true), text));
}

TEST(BlockDeflater, ShortRoomIsRefusedWithoutWritingPastIt) {
    const Bytes data = ztest::mixedData(100000);
    cBlockDeflater d;
    Bytes out(cBlockDeflater::bound(data.size()));
    const std::size_t need = d.deflate(data.data(), data.size(), 0, true, out.data(), out.size());
    ASSERT_GT(need, 0u);
    for (std::size_t room : {need - 1, need / 2, std::size_t(3), std::size_t(0)}) {
        Bytes guarded(room + 16, 0xA5);
        EXPECT_EQ(d.deflate(data.data(), data.size(), 0, true, guarded.data(), room), 0u) << room;
        for (std::size_t i = room; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0xA5) << room;
    }
}

// The total bits of an optimal prefix code: the sum of every merge of the
// two lightest weights.
std::uint64_t huffmanCost(const std::vector<std::uint32_t>& freq) {
    std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> q;
    for (std::uint32_t f : freq)
        if (f) q.push(f);
    std::uint64_t cost = 0;
    while (q.size() > 1) {
        const std::uint64_t a = q.top();
        q.pop();
        const std::uint64_t b = q.top();
        q.pop();
        cost += a + b;
        q.push(a + b);
    }
    return cost;
}

TEST(DeflateCodeLengths, CompleteWithinTheLimitAndOptimalWhereItDoesNotBind) {
    struct sCase {
        std::string name;
        std::vector<std::uint32_t> freq;
        int maxBits;
    };
    std::vector<sCase> cases;
    std::vector<std::uint32_t> fib(40);
    fib[0] = fib[1] = 1;
    for (std::size_t i = 2; i < fib.size(); ++i) fib[i] = fib[i - 1] + fib[i - 2];
    cases.push_back({"fibonacci, 15 bits", fib, 15});
    cases.push_back({"fibonacci, 19 of them, 7 bits", std::vector<std::uint32_t>(fib.begin(), fib.begin() + 19), 7});
    cases.push_back({"fibonacci, 10 of them, 15 bits", std::vector<std::uint32_t>(fib.begin(), fib.begin() + 10), 15});
    cases.push_back({"all alike", std::vector<std::uint32_t>(286, 5), 15});
    std::vector<std::uint32_t> one(30, 0), none(30, 0), sparse(286, 0), wide(286);
    one[7] = 9;
    sparse[0] = 1000;
    sparse[256] = 1;
    sparse[285] = 3;
    std::uint64_t x = 5;
    for (auto& f : wide) f = static_cast<std::uint32_t>(xorshift(x) % 5000);
    cases.push_back({"one used", one, 15});
    cases.push_back({"none used", none, 15});
    cases.push_back({"three used", sparse, 15});
    cases.push_back({"random", wide, 15});
    for (const sCase& c : cases) {
        std::vector<std::uint8_t> len(c.freq.size());
        deflateCodeLengths(c.freq.data(), static_cast<int>(c.freq.size()), c.maxBits, len.data());
        std::uint64_t kraft = 0, cost = 0;
        int used = 0, longest = 0;
        for (std::size_t s = 0; s < len.size(); ++s) {
            if (c.freq[s]) {
                ++used;
                EXPECT_GT(len[s], 0) << c.name << ": symbol " << s;
            }
            if (len[s]) kraft += 1ull << (15 - len[s]);
            longest = std::max<int>(longest, len[s]);
            cost += std::uint64_t(c.freq[s]) * len[s];
        }
        EXPECT_LE(longest, c.maxBits) << c.name;
        EXPECT_EQ(kraft, 1ull << 15) << c.name << ": the code must be complete";
        if (used < 2) {
            EXPECT_EQ(std::count(len.begin(), len.end(), 1), 2) << c.name;
        } else if (longest < c.maxBits) {
            EXPECT_EQ(cost, huffmanCost(c.freq)) << c.name;
        }
    }
    // Fibonacci weights need a code as long as they are many: the limit binds.
    std::vector<std::uint8_t> len(fib.size());
    deflateCodeLengths(fib.data(), static_cast<int>(fib.size()), 15, len.data());
    EXPECT_EQ(*std::max_element(len.begin(), len.end()), 15);
}

}  // namespace
