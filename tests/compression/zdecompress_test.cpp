// cZDecompress, cZDeflate and cZInflate against Python's zlib: whole
// streams, streams in blocks, single inflate steps, cut and damaged data,
// and the output cap.
#include "compression/zstream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <zlib.h>

#include "oracle.h"
#include "zlibpy.h"

using namespace ztest;

namespace {

bool isPrefix(const Bytes& prefix, const Bytes& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

// One whole-buffer decode into a buffer that still holds out's bytes: its
// verdict, and out receives the buffer's new content.
bool decode(cZDecompress& d, const Bytes& z, Bytes& out) {
    _typebuf<unsigned char> buf = toBuf(out);
    const bool ok = d.decompress(toBuf(z), buf);
    out = fromBuf(buf);
    return ok;
}

unsigned int u(std::size_t n) { return static_cast<unsigned int>(n); }

class ZDecompress : public ::testing::Test {
protected:
    ZlibOracle py;
};

}  // namespace

TEST_F(ZDecompress, DecodesWholeStreamsWrittenByPythonAtEveryLevel) {
    const Bytes plain = mixedData(300000);
    cZDecompress d;
    Bytes out;
    for (int level : {0, 1, 6, 9}) {
        EXPECT_TRUE(decode(d, py.compress(plain, level), out)) << "level " << level;
        EXPECT_TRUE(out == plain) << "level " << level;
    }
    // Empty input is empty output, and so is the stream of nothing.
    for (const Bytes& z : {Bytes(), py.compress(Bytes())}) {
        EXPECT_TRUE(decode(d, z, out));
        EXPECT_TRUE(out.empty());
    }
    // Raw deflate and gzip are no zlib data.
    EXPECT_FALSE(decode(d, py.compress(plain, 6, -15), out));
    EXPECT_FALSE(decode(d, py.compress(plain, 6, 31), out));
}

TEST_F(ZDecompress, CutStreamFailsAndKeepsWhatZlibCouldDecode) {
    const Bytes plain = mixedData(200000);
    const Bytes z = py.compress(plain, 6);
    for (std::size_t cut : {std::size_t(1), std::size_t(2), z.size() / 3, z.size() - 5, z.size() - 1}) {
        const Bytes part(z.begin(), z.begin() + static_cast<long>(cut));
        cZDecompress d;
        Bytes got;
        EXPECT_FALSE(decode(d, part, got)) << "cut at " << cut;
        EXPECT_TRUE(got == py.bytewise(part)) << "cut at " << cut;
        EXPECT_TRUE(isPrefix(got, plain)) << "cut at " << cut;
    }
}

TEST_F(ZDecompress, DamagedDataFailsAfterDeliveringAtLeastWhatZlibDeliversBeforeIt) {
    const Bytes plain = mixedData(100000);
    const Bytes z = py.compress(plain, 9);
    cZDecompress d;
    Bytes out;
    // A damaged checksum: every plain byte arrives, and still the data is bad.
    Bytes bad = z;
    bad.back() ^= 0x01;
    EXPECT_FALSE(decode(d, bad, out));
    EXPECT_TRUE(out == plain);
    // A damaged header.
    bad = z;
    bad[1] ^= 0x01;
    EXPECT_FALSE(decode(d, bad, out));
    EXPECT_TRUE(out.empty());
    // Damage in the middle of the deflate data.
    bad = z;
    for (std::size_t i = z.size() / 2; i < z.size() / 2 + 16; ++i) bad[i] ^= 0xA5;
    EXPECT_FALSE(decode(d, bad, out));
    EXPECT_TRUE(isPrefix(py.bytewise(bad), out));
}

TEST_F(ZDecompress, OutputCapStopsASmallInputThatStandsForGigabytes) {
    const Bytes zeros(16 << 20, 0);
    const Bytes z = py.compress(zeros, 9);
    ASSERT_LT(z.size(), 40000u);
    cZDecompress d;
    EXPECT_EQ(d.outputLimit(), kDefaultDecodeOutputLimit);
    d.setOutputLimit(1 << 20);
    Bytes out;
    EXPECT_FALSE(decode(d, z, out));
    EXPECT_TRUE(out == Bytes(1 << 20, 0));
    // A cap of exactly the plain size is no failure.
    d.setOutputLimit(zeros.size());
    EXPECT_TRUE(decode(d, z, out));
    EXPECT_EQ(out.size(), zeros.size());
}

TEST_F(ZDecompress, ACapNearThePlainSizeGivesWhatTheUncappedDecodeGives) {
    // A cap up to a gigabyte is taken as the likely size and the output made
    // at once: exact, larger and smaller caps, over whole, cut and damaged
    // streams, all agree with Python's decoder.
    const Bytes plain = mixedData(700000);
    const Bytes z = py.compress(plain, 6);
    const Bytes cut(z.begin(), z.begin() + static_cast<long>(z.size() / 2));
    Bytes damaged = z;
    for (std::size_t i = z.size() / 3; i < z.size() / 3 + 8; ++i) damaged[i] ^= 0x5A;
    const Bytes cutPlain = py.bytewise(cut);
    for (unsigned long long cap : {700000ull, 700001ull, 1500000ull, 699999ull, 65536ull}) {
        cZDecompress d;
        d.setOutputLimit(cap);
        Bytes out;
        EXPECT_EQ(decode(d, z, out), cap >= plain.size()) << cap;
        EXPECT_TRUE(out == Bytes(plain.begin(), plain.begin() + static_cast<long>(std::min<std::size_t>(cap, plain.size())))) << cap;
        EXPECT_FALSE(decode(d, cut, out));
        EXPECT_TRUE(out == Bytes(cutPlain.begin(), cutPlain.begin() + static_cast<long>(std::min<std::size_t>(cap, cutPlain.size())))) << cap;
        Bytes uncapped;
        cZDecompress free;
        EXPECT_FALSE(decode(free, damaged, uncapped));
        EXPECT_FALSE(decode(d, damaged, out));
        EXPECT_TRUE(out == Bytes(uncapped.begin(), uncapped.begin() + static_cast<long>(std::min<std::size_t>(cap, uncapped.size())))) << cap;
    }
}

TEST_F(ZDecompress, ABufferFromAnEarlierDecodeIsDecodedIntoAgainAndABufferIntoItself) {
    // The buffer handed in holds stale bytes of every size around the
    // output's: none of them shows in the output, with the size known or not.
    const Bytes plain = mixedData(300000);
    const Bytes z = py.compress(plain, 6);
    for (unsigned long long cap : {0ull, 300000ull, 400000ull}) {
        for (std::size_t stale : {std::size_t(0), std::size_t(1000), std::size_t(299999), std::size_t(300000),
                                  std::size_t(300001), std::size_t(500000)}) {
            cZDecompress d;
            if (cap) d.setOutputLimit(cap);
            Bytes out(stale, 0xEE);
            EXPECT_TRUE(decode(d, z, out)) << cap << " " << stale;
            EXPECT_TRUE(out == plain) << cap << " " << stale;
        }
    }
    // The same buffer as input and output: decoded, not emptied first.
    cZDecompress d;
    _typebuf<unsigned char> buf = toBuf(z);
    EXPECT_TRUE(d.decompress(buf, buf));
    EXPECT_TRUE(fromBuf(buf) == plain);
}

TEST_F(ZDecompress, EveryHeaderAndEveryDamagedOrCutTrailerIsJudgedAsZlibJudgesIt) {
    // zlib's own uncompress is the oracle: every pair of header bytes in
    // front of the same deflate data, then the trailer's bytes each flipped,
    // cut short, and followed by bytes that are not the stream's.
    const Bytes plain = mixedData(3000);
    const Bytes z = py.compress(plain, 6);
    auto zlibSays = [&plain](const Bytes& b, Bytes& got) {
        got.assign(plain.size() + 16, 0);
        uLongf n = static_cast<uLongf>(got.size());
        const bool ok = ::uncompress(got.data(), &n, b.data(), static_cast<uLong>(b.size())) == Z_OK;
        got.resize(ok ? n : 0);
        return ok;
    };
    cZDecompress d;
    int accepted = 0;
    for (unsigned cmf = 0; cmf < 256; ++cmf) {
        for (unsigned flg = 0; flg < 256; ++flg) {
            Bytes b = z;
            b[0] = static_cast<unsigned char>(cmf);
            b[1] = static_cast<unsigned char>(flg);
            Bytes want, got;
            const bool ok = zlibSays(b, want);
            ASSERT_EQ(decode(d, b, got), ok) << cmf << " " << flg;
            if (ok) {
                EXPECT_TRUE(got == want) << cmf << " " << flg;
                ++accepted;
            }
        }
    }
    // Eight methods-and-windows, each with the flag bytes whose check fits
    // and that ask for no dictionary.
    EXPECT_EQ(accepted, 32);
    Bytes want, got;
    for (std::size_t i = z.size() - 4; i < z.size(); ++i) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            Bytes b = z;
            b[i] ^= static_cast<unsigned char>(1u << bit);
            EXPECT_FALSE(zlibSays(b, want));
            EXPECT_FALSE(decode(d, b, got)) << i << " " << bit;
            EXPECT_TRUE(got == plain);
        }
    }
    for (std::size_t cut = 1; cut <= 4; ++cut) {
        const Bytes b(z.begin(), z.end() - static_cast<long>(cut));
        EXPECT_FALSE(zlibSays(b, want));
        EXPECT_FALSE(decode(d, b, got)) << cut;
        EXPECT_TRUE(got == plain);
    }
    Bytes tail = z;
    tail.insert(tail.end(), {1, 2, 3, 4, 5});
    EXPECT_TRUE(zlibSays(tail, want));
    EXPECT_TRUE(decode(d, tail, got));
    EXPECT_TRUE(got == plain);
}

TEST_F(ZDecompress, PartsOfOneStreamDecodeBlockByBlock) {
    const Bytes plain = mixedData(90000);
    const std::vector<std::size_t> parts = {20000, 1, 69999};
    std::vector<std::size_t> zlens;
    const Bytes z = py.compressBlocks(plain, parts, zlens);
    ASSERT_EQ(zlens.size(), 3u);
    cZDecompress d;
    _typebuf<unsigned char> out;
    for (std::size_t i = 0, zat = 0, pat = 0; i < 3; zat += zlens[i], pat += parts[i], ++i) {
        EXPECT_TRUE(d.decompressPart(z.data() + zat, static_cast<long long>(zlens[i]), out)) << "block " << i;
        EXPECT_TRUE(fromBuf(out) == Bytes(plain.begin() + static_cast<long>(pat), plain.begin() + static_cast<long>(pat + parts[i])))
            << "block " << i;
    }
    // A second stream on the same member stream after reset().
    const Bytes other = mixedData(3000, 7);
    const Bytes z2 = py.compress(other);
    ASSERT_TRUE(d.reset());
    EXPECT_TRUE(d.decompressPart(z2.data(), static_cast<long long>(z2.size()), out));
    EXPECT_TRUE(fromBuf(out) == other);
}

TEST_F(ZDecompress, PartWithDamagedDataFailsButDeliversItsOutput) {
    const Bytes plain = mixedData(40000);
    Bytes z = py.compress(plain);
    z.back() ^= 0xFF;  // the checksum
    cZDecompress d;
    _typebuf<unsigned char> out;
    EXPECT_FALSE(d.decompressPart(z.data(), static_cast<long long>(z.size()), out));
    EXPECT_TRUE(fromBuf(out) == plain);
    // Null input with a length, and a negative length, are refused.
    EXPECT_FALSE(d.decompressPart(nullptr, 5, out));
    EXPECT_FALSE(d.decompressPart(z.data(), -1, out));
}

TEST_F(ZDecompress, ARefusedStepLeavesNoInputBehindForTheNextOne) {
    const Bytes plain = mixedData(1000);
    const Bytes z = py.compress(plain);
    cZDecompress d;
    long long inLen = static_cast<long long>(z.size()), outLen = 64;
    EXPECT_FALSE(d.decompressPart(z.data(), inLen, nullptr, outLen));
    EXPECT_EQ(inLen, 0);
    // The caller was told nothing was taken, so nothing may be left over: a
    // leftovers call must not inflate (or read, once freed) the refused bytes.
    unsigned char row[64];
    long long leftIn = 0, leftOut = sizeof row;
    EXPECT_TRUE(d.decompressPart(nullptr, leftIn, row, leftOut));
    EXPECT_EQ(leftIn, 0);
    EXPECT_EQ(leftOut, 0);
    // Offered again, the same bytes give the plain data once.
    Bytes got(plain.size() + 16);
    inLen = static_cast<long long>(z.size());
    outLen = static_cast<long long>(got.size());
    ASSERT_TRUE(d.decompressPart(z.data(), inLen, got.data(), outLen));
    got.resize(static_cast<std::size_t>(outLen));
    EXPECT_TRUE(got == plain);
}

TEST_F(ZDecompress, SteppingThroughSmallChunksAndSmallRowsGivesThePlainBytes) {
    // The way image data is fed: chunks of compressed bytes as they arrive,
    // inflated into rows of a fixed size, leftovers taken with a null input.
    const Bytes plain = mixedData(50000);
    const Bytes z = py.compress(plain);
    cZDecompress d;
    Bytes got;
    unsigned char row[37];
    for (std::size_t at = 0; at < z.size(); at += 100) {
        long long inLen = static_cast<long long>(std::min<std::size_t>(100, z.size() - at));
        const long long offered = inLen;
        long long outLen = sizeof row;
        ASSERT_TRUE(d.decompressPart(z.data() + at, inLen, row, outLen));
        EXPECT_LE(inLen, offered);
        EXPECT_LE(outLen, static_cast<long long>(sizeof row));
        got.insert(got.end(), row, row + outLen);
        for (;;) {
            long long leftIn = 0, leftOut = sizeof row;
            ASSERT_TRUE(d.decompressPart(nullptr, leftIn, row, leftOut));
            got.insert(got.end(), row, row + leftOut);
            if (leftIn == 0 && leftOut == 0) break;
        }
    }
    EXPECT_TRUE(got == plain);

    // Damaged data, and data that is no zlib stream, fail the step.
    for (const Bytes& bad : {Bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Bytes{0x12, 0x34, 0x56}}) {
        ASSERT_TRUE(d.reset());
        long long inLen = static_cast<long long>(bad.size()), outLen = sizeof row;
        EXPECT_FALSE(d.decompressPart(bad.data(), inLen, row, outLen));
    }
}

// ---------------------------------------------------------------------------

TEST(ZDeflate, WholeBlocksAreZlibStreamsPythonDecodes) {
    ZlibOracle py;
    const Bytes plain = mixedData(120000), small = mixedData(1000, 3);
    for (int level : {9, 5}) {
        cZDeflate z;
        ASSERT_TRUE(z.init(level));
        // The same object makes a fresh stream each time.
        for (const Bytes* in : {&plain, &small}) {
            Bytes out(compressBound(static_cast<uLong>(in->size())));
            out.resize(z.deflate(in->data(), u(in->size()), out.data(), u(out.size())));
            ASSERT_GT(out.size(), 2u);
            EXPECT_EQ(out[0], 0x78);  // deflate, 32 KB window
            EXPECT_EQ((out[0] * 256 + out[1]) % 31, 0);
            EXPECT_TRUE(py.decompress(out) == *in) << "level " << level;
        }
    }
}

TEST(ZDeflate, TooSmallOutputIsAFailureNotAPartialCount) {
    const Bytes plain = mixedData(20000);
    cZDeflate z;
    ASSERT_TRUE(z.init(9));
    Bytes out(compressBound(static_cast<uLong>(plain.size())));
    const unsigned int exact = z.deflate(plain.data(), u(plain.size()), out.data(), u(out.size()));
    ASSERT_GT(exact, 0u);
    EXPECT_EQ(z.deflate(plain.data(), u(plain.size()), out.data(), exact - 1), 0u);
    EXPECT_EQ(z.deflate(plain.data(), u(plain.size()), out.data(), exact), exact);
}

TEST(ZDeflate, UninitialisedStreamGivesZero) {
    cZDeflate z;
    unsigned char in[4] = {1, 2, 3, 4}, out[64];
    EXPECT_EQ(z.deflate(in, 4, out, sizeof out), 0u);
    cZInflate i;
    EXPECT_EQ(i.inflate(in, 4, out, sizeof out), 0u);
}

TEST(ZInflate, WholeBlocksFromPythonInflateAndCutDamagedOrOversizedOnesGiveZero) {
    ZlibOracle py;
    const Bytes plain = mixedData(70000);
    const Bytes z = py.compress(plain, 9);
    ASSERT_GT(z.size(), 3u);
    Bytes bad = z;
    bad[z.size() - 1] ^= 1;  // the checksum's last byte
    cZInflate inf;
    ASSERT_TRUE(inf.init());
    Bytes out(plain.size() + 100);
    EXPECT_EQ(inf.inflate(z.data(), u(z.size()), out.data(), u(plain.size())), plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));
    EXPECT_EQ(inf.inflate(z.data(), u(z.size() - 3), out.data(), u(out.size())), 0u);
    EXPECT_EQ(inf.inflate(bad.data(), u(bad.size()), out.data(), u(out.size())), 0u);
    EXPECT_EQ(inf.inflate(z.data(), u(z.size()), out.data(), u(plain.size() - 1)), 0u);
    // The same object still works afterwards, with room to spare.
    EXPECT_EQ(inf.inflate(z.data(), u(z.size()), out.data(), u(out.size())), plain.size());
}
