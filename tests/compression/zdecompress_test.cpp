// cZDecompress, cZDeflate and cZInflate against Python's zlib: whole
// streams, streams in blocks, single inflate steps, cut and damaged data,
// and the output cap.
#include "compression/zstream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "oracle.h"
#include "zlibpy.h"

using namespace ztest;

namespace {

bool isPrefix(const Bytes& prefix, const Bytes& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

class ZDecompress : public ::testing::Test {
protected:
    ZlibOracle py;
};

}  // namespace

TEST_F(ZDecompress, DecodesWholeStreamsWrittenByPythonAtEveryLevel) {
    const Bytes plain = mixedData(300000);
    for (int level : {0, 1, 6, 9}) {
        const Bytes z = py.compress(plain, level);
        cZDecompress d;
        _typebuf<unsigned char> out;
        EXPECT_TRUE(d.decompress(toBuf(z), out)) << "level " << level;
        EXPECT_TRUE(fromBuf(out) == plain) << "level " << level;
    }
    EXPECT_EQ(cZDecompress().typeOf(), 3);
}

TEST_F(ZDecompress, EmptyInputIsEmptyOutputAndTheStreamOfNothingToo) {
    cZDecompress d;
    _typebuf<unsigned char> out;
    out.set(5);
    EXPECT_TRUE(d.decompress(_typebuf<unsigned char>(), out));
    EXPECT_EQ(out.count(), 0);
    EXPECT_TRUE(d.decompress(toBuf(py.compress(Bytes())), out));
    EXPECT_EQ(out.count(), 0);
}

TEST_F(ZDecompress, CutStreamFailsAndKeepsWhatZlibCouldDecode) {
    const Bytes plain = mixedData(200000);
    const Bytes z = py.compress(plain, 6);
    for (std::size_t cut : {std::size_t(1), std::size_t(2), z.size() / 3, z.size() - 5, z.size() - 1}) {
        const Bytes part(z.begin(), z.begin() + static_cast<long>(cut));
        cZDecompress d;
        _typebuf<unsigned char> out;
        EXPECT_FALSE(d.decompress(toBuf(part), out)) << "cut at " << cut;
        const Bytes got = fromBuf(out);
        EXPECT_TRUE(got == py.bytewise(part)) << "cut at " << cut;
        EXPECT_TRUE(isPrefix(got, plain)) << "cut at " << cut;
    }
}

TEST_F(ZDecompress, DamagedDataFailsAfterDeliveringAtLeastWhatZlibDeliversBeforeIt) {
    const Bytes plain = mixedData(100000);
    Bytes z = py.compress(plain, 9);
    // A damaged checksum: every plain byte arrives, and still the data is bad.
    Bytes badSum = z;
    badSum.back() ^= 0x01;
    cZDecompress d;
    _typebuf<unsigned char> out;
    EXPECT_FALSE(d.decompress(toBuf(badSum), out));
    EXPECT_TRUE(fromBuf(out) == plain);
    // A damaged header.
    Bytes badHeader = z;
    badHeader[1] ^= 0x01;
    EXPECT_FALSE(d.decompress(toBuf(badHeader), out));
    EXPECT_EQ(out.count(), 0);
    // Damage in the middle of the deflate data.
    Bytes badMiddle = z;
    for (std::size_t i = z.size() / 2; i < z.size() / 2 + 16; ++i) badMiddle[i] ^= 0xA5;
    EXPECT_FALSE(d.decompress(toBuf(badMiddle), out));
    EXPECT_TRUE(isPrefix(py.bytewise(badMiddle), fromBuf(out)));
}

TEST_F(ZDecompress, RawDeflateAndGzipAreNotZlibData) {
    const Bytes plain = mixedData(5000);
    cZDecompress d;
    _typebuf<unsigned char> out;
    EXPECT_FALSE(d.decompress(toBuf(py.compress(plain, 6, -15)), out));
    EXPECT_FALSE(d.decompress(toBuf(py.compress(plain, 6, 31)), out));
    EXPECT_TRUE(d.decompress(toBuf(py.compress(plain, 6, 15)), out));
}

TEST_F(ZDecompress, OutputCapStopsASmallInputThatStandsForGigabytes) {
    const Bytes zeros(16 << 20, 0);
    const Bytes z = py.compress(zeros, 9);
    ASSERT_LT(z.size(), 40000u);
    cZDecompress d;
    d.setOutputLimit(1 << 20);
    _typebuf<unsigned char> out;
    EXPECT_FALSE(d.decompress(toBuf(z), out));
    ASSERT_EQ(out.count(), 1 << 20);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](unsigned char c) { return c == 0; }));
    // A cap of exactly the plain size is no failure.
    d.setOutputLimit(zeros.size());
    EXPECT_TRUE(d.decompress(toBuf(z), out));
    EXPECT_EQ(out.count(), static_cast<long long>(zeros.size()));
    EXPECT_EQ(d.outputLimit(), zeros.size());
    EXPECT_EQ(cZDecompress().outputLimit(), kDefaultDecodeOutputLimit);
}

TEST_F(ZDecompress, PartsOfOneStreamDecodeBlockByBlock) {
    const Bytes plain = mixedData(90000);
    const std::vector<std::size_t> parts = {20000, 1, 69999};
    std::vector<std::size_t> zlens;
    const Bytes z = py.compressBlocks(plain, parts, zlens);
    ASSERT_EQ(zlens.size(), 3u);
    cZDecompress d;
    Bytes joined;
    std::size_t zat = 0, pat = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        _typebuf<unsigned char> out;
        EXPECT_TRUE(d.decompressPart(z.data() + zat, static_cast<long long>(zlens[i]), out)) << "block " << i;
        const Bytes got = fromBuf(out);
        EXPECT_TRUE(got == Bytes(plain.begin() + static_cast<long>(pat), plain.begin() + static_cast<long>(pat + parts[i])))
            << "block " << i;
        joined.insert(joined.end(), got.begin(), got.end());
        zat += zlens[i];
        pat += parts[i];
    }
    EXPECT_TRUE(joined == plain);

    // A second stream on the same member stream after reset().
    const Bytes other = mixedData(3000, 7);
    const Bytes z2 = py.compress(other);
    _typebuf<unsigned char> out;
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
}

TEST_F(ZDecompress, SteppingReportsDamagedData) {
    cZDecompress d;
    const unsigned char junk[] = {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    unsigned char out[64];
    long long inLen = sizeof junk, outLen = sizeof out;
    EXPECT_FALSE(d.decompressPart(junk, inLen, out, outLen));
    const unsigned char notZlib[] = {0x12, 0x34, 0x56};
    ASSERT_TRUE(d.reset());
    inLen = sizeof notZlib;
    outLen = sizeof out;
    EXPECT_FALSE(d.decompressPart(notZlib, inLen, out, outLen));
}

// ---------------------------------------------------------------------------

TEST(ZDeflate, WholeBlocksAreZlibStreamsPythonDecodes) {
    ZlibOracle py;
    const Bytes plain = mixedData(120000);
    for (int level : {9, 5}) {
        cZDeflate z;
        ASSERT_TRUE(z.init(level));
        Bytes out(compressBound(static_cast<uLong>(plain.size())));
        const unsigned int n = z.deflate(plain.data(), static_cast<unsigned int>(plain.size()), out.data(),
                                         static_cast<unsigned int>(out.size()));
        ASSERT_GT(n, 0u);
        out.resize(n);
        EXPECT_EQ(out[0], 0x78);  // deflate, 32 KB window
        EXPECT_EQ((out[0] * 256 + out[1]) % 31, 0);
        EXPECT_TRUE(py.decompress(out) == plain) << "level " << level;
        // The same object makes a fresh stream each time.
        const Bytes small = mixedData(1000, 3);
        Bytes out2(compressBound(1000));
        const unsigned int n2 = z.deflate(small.data(), 1000, out2.data(), static_cast<unsigned int>(out2.size()));
        out2.resize(n2);
        EXPECT_TRUE(py.decompress(out2) == small);
    }
}

TEST(ZDeflate, TooSmallOutputIsAFailureNotAPartialCount) {
    const Bytes plain = mixedData(20000);
    cZDeflate z;
    ASSERT_TRUE(z.init(9));
    Bytes out(compressBound(static_cast<uLong>(plain.size())));
    const unsigned int exact = z.deflate(plain.data(), static_cast<unsigned int>(plain.size()), out.data(),
                                         static_cast<unsigned int>(out.size()));
    ASSERT_GT(exact, 0u);
    EXPECT_EQ(z.deflate(plain.data(), static_cast<unsigned int>(plain.size()), out.data(), exact - 1), 0u);
    EXPECT_EQ(z.deflate(plain.data(), static_cast<unsigned int>(plain.size()), out.data(), exact), exact);
}

TEST(ZDeflate, UninitialisedStreamGivesZero) {
    cZDeflate z;
    unsigned char in[4] = {1, 2, 3, 4}, out[64];
    EXPECT_EQ(z.deflate(in, 4, out, sizeof out), 0u);
    cZInflate i;
    EXPECT_EQ(i.inflate(in, 4, out, sizeof out), 0u);
}

TEST(ZInflate, WholeBlocksFromPythonInflate) {
    ZlibOracle py;
    const Bytes plain = mixedData(70000);
    const Bytes z = py.compress(plain, 9);
    cZInflate inf;
    ASSERT_TRUE(inf.init());
    Bytes out(plain.size());
    EXPECT_EQ(inf.inflate(z.data(), static_cast<unsigned int>(z.size()), out.data(), static_cast<unsigned int>(out.size())),
              plain.size());
    EXPECT_TRUE(out == plain);
    // Again on the same object, with room to spare.
    Bytes roomy(plain.size() + 100);
    EXPECT_EQ(inf.inflate(z.data(), static_cast<unsigned int>(z.size()), roomy.data(), static_cast<unsigned int>(roomy.size())),
              plain.size());
}

TEST(ZInflate, CutDamagedOrOversizedDataGivesZero) {
    ZlibOracle py;
    const Bytes plain = mixedData(30000);
    const Bytes z = py.compress(plain);
    cZInflate inf;
    ASSERT_TRUE(inf.init());
    Bytes out(plain.size());
    EXPECT_EQ(inf.inflate(z.data(), static_cast<unsigned int>(z.size() - 3), out.data(), static_cast<unsigned int>(out.size())), 0u);
    Bytes bad = z;
    bad.back() ^= 1;
    EXPECT_EQ(inf.inflate(bad.data(), static_cast<unsigned int>(bad.size()), out.data(), static_cast<unsigned int>(out.size())), 0u);
    EXPECT_EQ(inf.inflate(z.data(), static_cast<unsigned int>(z.size()), out.data(), static_cast<unsigned int>(out.size() - 1)), 0u);
    // And the object still works afterwards.
    EXPECT_EQ(inf.inflate(z.data(), static_cast<unsigned int>(z.size()), out.data(), static_cast<unsigned int>(out.size())),
              plain.size());
}
