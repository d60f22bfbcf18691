// libdeflate's pieces made joinable, against Python's zlib: pieces of any
// bytes, deflated each whole and joined as the payload writer joins them,
// inflate to the input; the final block of streams that zlib wrote (not
// libdeflate) is found as well, so that a stream joined after it inflates;
// streams that are cut, damaged, followed by other bytes or of another size
// are refused.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compression/joindeflate.h"
#include "oracle.h"
#include "zlibpy.h"

namespace {

using ztest::Bytes;
using ztest::noise;
using ztest::xorshift;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes v;
    for (const Bytes& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

// A raw deflate stream made a zlib stream (header and Adler-32 of plain),
// for the oracle's zlib.decompress.
Bytes wrap(const Bytes& raw, const Bytes& plain) {
    Bytes z(2 + raw.size());
    z[0] = 0x78;
    z[1] = 0xDA;
    std::copy(raw.begin(), raw.end(), z.begin() + 2);
    const uLong a = ::adler32(1, plain.data(), static_cast<uInt>(plain.size()));
    for (int i = 3; i >= 0; --i) z.push_back(static_cast<unsigned char>(a >> (8 * i)));
    return z;
}

struct sCase {
    const char* name;
    std::vector<Bytes> pieces;
};

std::vector<sCase> cases() {
    const Bytes text = ztest::mixedData(700000, 7), zeros(300000, 0);
    return {
        {"one byte each", {Bytes{'a'}, Bytes{'b'}, Bytes{'c'}}},
        {"text, then the same text", {Bytes(text.begin(), text.begin() + 200000), Bytes(text.begin(), text.begin() + 200000)}},
        // Past libdeflate's longest block: pieces of several blocks each.
        {"text of several blocks", {text, Bytes(text.begin() + 1000, text.end())}},
        {"noise, stored by libdeflate", {noise(200000, 1), noise(70000, 2)}},
        {"zeros, text and noise", {zeros, join({Bytes(text.begin(), text.begin() + 60000), noise(90000, 3)}), Bytes{0}}},
    };
}

TEST(JoinedDeflater, PiecesJoinedInflateToTheInputAtEveryLevel) {
    ztest::ZlibOracle oracle;
    for (int level : {1, 6, 12}) {
        cJoinedDeflater d(level);
        for (const sCase& c : cases()) {
            Bytes stream, plain;
            for (std::size_t i = 0; i < c.pieces.size(); ++i) {
                const Bytes& p = c.pieces[i];
                const bool last = i + 1 == c.pieces.size();
                Bytes out(d.bound(p.size()));
                const std::size_t n = d.deflate(p.data(), p.size(), last, out.data(), out.size());
                ASSERT_GT(n, 0u) << c.name << ", level " << level;
                out.resize(n);
                if (!last) {
                    // As zlib's sync flush ends a piece.
                    ASSERT_GE(n, 4u);
                    EXPECT_EQ(Bytes(out.end() - 4, out.end()), (Bytes{0, 0, 0xFF, 0xFF})) << c.name;
                }
                stream.insert(stream.end(), out.begin(), out.end());
                plain.insert(plain.end(), p.begin(), p.end());
            }
            EXPECT_TRUE(oracle.decompress(wrap(stream, plain)) == plain) << c.name << ", level " << level;
        }
    }
}

// Streams of zlib's own making, in pieces of sync flushes and with blocks
// of every type: the final block found, made joinable and followed by
// another stream, the whole inflates to both inputs.
TEST(JoinedDeflater, TheFinalBlockOfZlibsStreamsIsFoundAndAnotherStreamJoinsIt) {
    ztest::ZlibOracle oracle;
    const Bytes text = ztest::mixedData(300000, 11);
    const Bytes after = ztest::mixedData(5000, 12);
    const Bytes tail = oracle.compress(after, 9, -15);
    for (const Bytes& plain : {text, noise(100000, 5), Bytes{'x'}, join({text, noise(70000, 6)})}) {
        std::vector<std::size_t> lengths;
        for (int level : {0, 1, 9}) {
            // One stream with a sync flush at each third, at this level.
            const Bytes zstream = oracle.compress(plain, level, -15);
            ASSERT_FALSE(zstream.empty());
            std::size_t headerBit = 0, endBit = 0;
            ASSERT_TRUE(findFinalDeflateBlock(zstream.data(), zstream.size(), plain.size(), headerBit, endBit))
                << "level " << level << ", " << plain.size() << " bytes";
            EXPECT_LE(headerBit, endBit);
            EXPECT_EQ((endBit + 7) / 8, zstream.size());
            Bytes joined(zstream.size() + 5);
            std::copy(zstream.begin(), zstream.end(), joined.begin());
            joined.resize(joinableDeflatePiece(joined.data(), headerBit, endBit));
            joined.insert(joined.end(), tail.begin(), tail.end());
            EXPECT_TRUE(oracle.decompress(wrap(joined, join({plain, after}))) == join({plain, after}))
                << "level " << level << ", " << plain.size() << " bytes";
        }
        const Bytes synced = oracle.compressBlocks(plain, {plain.size() / 3, plain.size() / 3, plain.size() - 2 * (plain.size() / 3)}, lengths);
        // Its zlib header and trailer off: the raw stream.
        const Bytes raw(synced.begin() + 2, synced.end() - 4);
        std::size_t headerBit = 0, endBit = 0;
        ASSERT_TRUE(findFinalDeflateBlock(raw.data(), raw.size(), plain.size(), headerBit, endBit));
        // The final block begins after the last sync flush.
        EXPECT_GE(headerBit, 8 * (lengths[0] + lengths[1] - 2));
    }
}

TEST(JoinedDeflater, StreamsCutDamagedFollowedOrOfAnotherSizeAreRefused) {
    ztest::ZlibOracle oracle;
    const Bytes plain = ztest::mixedData(100000, 21);
    const Bytes z = oracle.compress(plain, 9, -15);
    std::size_t h = 0, e = 0;
    ASSERT_TRUE(findFinalDeflateBlock(z.data(), z.size(), plain.size(), h, e));
    // Cut by a byte.
    EXPECT_FALSE(findFinalDeflateBlock(z.data(), z.size() - 1, plain.size(), h, e));
    // A byte after the final block.
    Bytes longer = z;
    longer.push_back(0);
    EXPECT_FALSE(findFinalDeflateBlock(longer.data(), longer.size(), plain.size(), h, e));
    // One plain byte more or less than it holds.
    EXPECT_FALSE(findFinalDeflateBlock(z.data(), z.size(), plain.size() - 1, h, e));
    EXPECT_FALSE(findFinalDeflateBlock(z.data(), z.size(), plain.size() + 1, h, e));
    // Not final: the same stream with its last block's final bit cleared,
    // and a block type that does not exist.
    Bytes notFinal = z;
    notFinal.resize(notFinal.size() + 5);
    notFinal.resize(joinableDeflatePiece(notFinal.data(), h, e));
    EXPECT_FALSE(findFinalDeflateBlock(notFinal.data(), notFinal.size(), plain.size(), h, e));
    const Bytes reserved{0x07, 0x00};
    EXPECT_FALSE(findFinalDeflateBlock(reserved.data(), reserved.size(), 0, h, e));
}

TEST(JoinedDeflater, ShortRoomIsRefused) {
    cJoinedDeflater d(6);
    const Bytes p = noise(50000, 9);
    Bytes out(d.bound(p.size()));
    const std::size_t n = d.deflate(p.data(), p.size(), false, out.data(), out.size());
    ASSERT_GT(n, 0u);
    Bytes tight(n - 1);
    EXPECT_EQ(d.deflate(p.data(), p.size(), false, tight.data(), tight.size()), 0u);
    EXPECT_EQ(d.deflate(p.data(), 0, false, out.data(), out.size()), 0u);
}

}  // namespace
