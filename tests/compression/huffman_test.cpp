// cHaffmanTable: the bit reader against a bit string of the same bytes, and
// the lookup tables against the canonical codes published for JPEG's
// luminance DC table (ITU-T T.81, Table K.3).
#include "compression/huffman.h"

#include <gtest/gtest.h>

#include <bitset>
#include <string>
#include <vector>

namespace {

_typebuf<unsigned char> bytesOf(const std::vector<unsigned char>& v) {
    _typebuf<unsigned char> t;
    t.copyFrom(v.data(), static_cast<long long>(v.size()));
    return t;
}

// T.81 Table K.3: code lengths {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, ...} for the
// categories 0 to 11, and the codes the standard lists for them.
const unsigned char kDcLuminance[16 + 12] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0,
                                             0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const char* const kDcLuminanceCodes[12] = {"00",     "010",     "011",      "100",       "101",       "110",
                                           "1110",   "11110",   "111110",   "1111110",   "11111110",  "111111110"};

std::vector<unsigned char> packBits(std::string bits) {
    while (bits.size() % 8) bits += '1';
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i < bits.size(); i += 8)
        out.push_back(static_cast<unsigned char>(std::stoul(bits.substr(i, 8), nullptr, 2)));
    return out;
}

}  // namespace

TEST(HuffmanTable, JpegDcLuminanceTableMatchesThePublishedCodes) {
    const unsigned char* p = kDcLuminance;
    _typebuf<unsigned short> t;
    cHaffmanTable::createIndexTable(&p, t);
    EXPECT_EQ(p, kDcLuminance + sizeof kDcLuminance);
    ASSERT_EQ(t[0], 9);
    ASSERT_EQ(t.count(), 513);
    for (int s = 0; s < 12; ++s) {
        const std::string code = kDcLuminanceCodes[s];
        const int len = static_cast<int>(code.size());
        const unsigned long first = std::stoul(code, nullptr, 2) << (9 - len);
        for (unsigned long v = first; v < first + (1ul << (9 - len)); ++v)
            EXPECT_EQ(t[static_cast<long long>(v) + 1], (len << 8) | s) << "symbol " << s;
    }
    EXPECT_EQ(t[512], 0);  // 111111111 is no code
}

TEST(HuffmanTable, AllZeroCountsGiveAnEmptyTable) {
    const unsigned char zeros[16] = {};
    const unsigned char* p = zeros;
    _typebuf<unsigned short> t;
    cHaffmanTable::createIndexTable(&p, t);
    ASSERT_EQ(t.count(), 2);
    EXPECT_EQ(t[0], 0);
    cHaffmanTable::createIndexTable(nullptr, t);
    ASSERT_EQ(t.count(), 1);
    EXPECT_EQ(t[0], 0);
}

TEST(HuffmanTable, DecodesSymbolsEncodedWithThePublishedCodes) {
    const std::vector<int> symbols = {0, 5, 11, 3, 3, 10, 0, 1, 2, 9, 8, 7, 6, 4, 0, 11, 11, 2};
    std::string bits;
    for (int s : symbols) bits += kDcLuminanceCodes[s];
    _typebuf<unsigned char> data = bytesOf(packBits(bits));
    const unsigned char* p = kDcLuminance;
    _typebuf<unsigned short> t;
    cHaffmanTable::createIndexTable(&p, t);
    cHaffmanTable h;
    long long pos = 0;
    for (int s : symbols) EXPECT_EQ(h.getBitHuff(t[0], t.data() + 1, data, pos), s);
    EXPECT_LE(pos, data.count());
}

TEST(HuffmanBits, FieldsOfAnyWidthMatchTheBitString) {
    std::vector<unsigned char> bytes;
    std::uint32_t x = 2463534242u;
    for (int i = 0; i < 200; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes.push_back(static_cast<unsigned char>(x));
    }
    std::string bits;
    for (unsigned char b : bytes) bits += std::bitset<8>(b).to_string();
    _typebuf<unsigned char> data = bytesOf(bytes);
    cHaffmanTable h;
    long long pos = 0;
    std::size_t at = 0;
    for (int i = 0; at + 25 <= bits.size(); ++i) {
        const int n = 1 + (i * 7) % cHaffmanTable::kMaxBits;
        EXPECT_EQ(h.getBitHuff(n, nullptr, data, pos), static_cast<int>(std::stoul(bits.substr(at, static_cast<std::size_t>(n)), nullptr, 2)))
            << "field " << i << " of " << n << " bits";
        at += static_cast<std::size_t>(n);
    }
}

TEST(HuffmanBits, BitsPastTheEndReadAsZeroAndThenEverythingIsZeroUntilAReset) {
    _typebuf<unsigned char> data = bytesOf({0xAB});
    cHaffmanTable h;
    long long pos = 0;
    EXPECT_EQ(h.getBitHuff(12, nullptr, data, pos), 0xAB0);
    EXPECT_EQ(h.bitCount(), -4);
    EXPECT_EQ(pos, 1);
    pos = 0;  // even with data to take again
    EXPECT_EQ(h.getBitHuff(4, nullptr, data, pos), 0);
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(h.getBitHuff(-1, nullptr, data, pos), 0);
    EXPECT_EQ(h.bitCount(), 0);
    EXPECT_EQ(h.getBitHuff(8, nullptr, data, pos), 0xAB);
    // Nothing at all left: zeros, never a shift by a negative count.
    EXPECT_EQ(h.getBitHuff(25, nullptr, data, pos), 0);
    EXPECT_EQ(h.bitCount(), -25);
}

TEST(HuffmanBits, WidthsOutsideTheReaderChangeNothing) {
    _typebuf<unsigned char> data = bytesOf({0x12, 0x34, 0x56, 0x78, 0x9A});
    cHaffmanTable h;
    long long pos = 0;
    EXPECT_EQ(h.getBitHuff(0, nullptr, data, pos), 0);
    EXPECT_EQ(h.getBitHuff(-2, nullptr, data, pos), 0);
    EXPECT_EQ(h.getBitHuff(cHaffmanTable::kMaxBits + 1, nullptr, data, pos), 0);
    EXPECT_EQ(h.getBitHuff(32, nullptr, data, pos), 0);
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(h.bitCount(), 0);
    EXPECT_EQ(h.getBitHuff(12, nullptr, data, pos), 0x123);
    EXPECT_EQ(h.getBitHuff(25, nullptr, data, pos), 0x8ACF13);  // 0 1000 1010 1100 1111 0001 0011
    // A position outside the data takes nothing.
    cHaffmanTable h2;
    long long bad = -3;
    EXPECT_EQ(h2.getBitHuff(8, nullptr, data, bad), 0);
    EXPECT_EQ(bad, -3);
}
