// The bounds-checked byte reader: values in both byte orders, and every read
// past the end refused without moving.
#include "base/bytereader.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// 01 02 03 04 05 06 07 08 FE FF
const unsigned char kBytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFE, 0xFF};

TEST(ByteReader, ReadsBothByteOrders) {
    cByteReader in(kBytes, sizeof kBytes);
    std::uint16_t u16 = 0;
    std::uint32_t u32 = 0;
    std::uint64_t u64 = 0;
    ASSERT_TRUE(in.read_u16le(u16));
    EXPECT_EQ(u16, 0x0201);
    ASSERT_TRUE(in.seek(0));
    ASSERT_TRUE(in.read_u16be(u16));
    EXPECT_EQ(u16, 0x0102);
    ASSERT_TRUE(in.read_u32le(u32));  // 03 04 05 06
    EXPECT_EQ(u32, 0x06050403u);
    ASSERT_TRUE(in.seek(2));
    ASSERT_TRUE(in.read_u32be(u32));
    EXPECT_EQ(u32, 0x03040506u);
    ASSERT_TRUE(in.seek(0));
    ASSERT_TRUE(in.read_u64le(u64));
    EXPECT_EQ(u64, 0x0807060504030201ULL);
    ASSERT_TRUE(in.seek(0));
    ASSERT_TRUE(in.read_u64be(u64));
    EXPECT_EQ(u64, 0x0102030405060708ULL);
    EXPECT_EQ(in.tell(), 8u);
}

TEST(ByteReader, SignedReadsAreTwosComplement) {
    cByteReader in(kBytes + 8, 2);  // FE FF
    std::int16_t v = 0;
    ASSERT_TRUE(in.read_i16le(v));
    EXPECT_EQ(v, -2);  // 0xFFFE
    ASSERT_TRUE(in.seek(0));
    ASSERT_TRUE(in.read_i16be(v));
    EXPECT_EQ(v, -257);  // 0xFEFF
    const unsigned char minusOne[] = {0xFF, 0xFF, 0xFF, 0xFF};
    cByteReader four(minusOne, 4);
    std::int32_t w = 0;
    ASSERT_TRUE(four.read_i32be(w));
    EXPECT_EQ(w, -1);
}

TEST(ByteReader, ReadPastTheEndFailsWithoutMoving) {
    cByteReader in(kBytes, sizeof kBytes);
    ASSERT_TRUE(in.skip(7));
    std::uint32_t u32 = 0xDEADBEEF;
    EXPECT_FALSE(in.read_u32le(u32));  // three bytes left
    EXPECT_EQ(u32, 0xDEADBEEFu);
    EXPECT_EQ(in.tell(), 7u);
    EXPECT_EQ(in.remaining(), 3u);
    EXPECT_FALSE(in.skip(4));
    EXPECT_EQ(in.tell(), 7u);
    unsigned char out[4] = {};
    EXPECT_FALSE(in.read(out, 4));
    EXPECT_TRUE(in.read(out, 3));
    EXPECT_EQ(out[0], 0x08);
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_TRUE(in.atEnd());
    std::uint8_t b = 0;
    EXPECT_FALSE(in.read_u8(b));
}

TEST(ByteReader, SeekRefusesPositionsBeyondTheEnd) {
    cByteReader in(kBytes, sizeof kBytes);
    EXPECT_TRUE(in.seek(sizeof kBytes));  // the end itself
    EXPECT_FALSE(in.seek(sizeof kBytes + 1));
    EXPECT_EQ(in.tell(), sizeof kBytes);
    // A huge skip must not wrap the position around.
    ASSERT_TRUE(in.seek(1));
    EXPECT_FALSE(in.skip(SIZE_MAX));
    EXPECT_EQ(in.tell(), 1u);
}

TEST(ByteReader, SubReaderCoversTheChunkAndTheParentMovesPastIt) {
    cByteReader in(kBytes, sizeof kBytes);
    ASSERT_TRUE(in.skip(2));
    cByteReader chunk;
    ASSERT_TRUE(in.sub(chunk, 4));
    EXPECT_EQ(in.tell(), 6u);
    EXPECT_EQ(chunk.size(), 4u);
    std::uint32_t v = 0;
    ASSERT_TRUE(chunk.read_u32be(v));
    EXPECT_EQ(v, 0x03040506u);
    std::uint8_t b = 0;
    EXPECT_FALSE(chunk.read_u8(b));  // the chunk ends there
    cByteReader tooLong;
    EXPECT_FALSE(in.sub(tooLong, 5));
    EXPECT_EQ(in.tell(), 6u);
}

TEST(ByteReader, ViewPointsIntoTheDataWithoutCopying) {
    cByteReader in(kBytes, sizeof kBytes);
    const unsigned char* p = nullptr;
    ASSERT_TRUE(in.view(p, 3));
    EXPECT_EQ(p, kBytes);
    EXPECT_EQ(in.current(), kBytes + 3);
    EXPECT_FALSE(in.view(p, 8));
    EXPECT_EQ(p, kBytes);
}

TEST(ByteReader, NullDataReadsAsEmpty) {
    cByteReader in(nullptr, 100);
    EXPECT_EQ(in.size(), 0u);
    EXPECT_TRUE(in.atEnd());
    std::uint8_t b = 0;
    EXPECT_FALSE(in.read_u8(b));
    EXPECT_TRUE(in.read(&b, 0));
}

}  // namespace
