// The bounds-checked byte reader: values in both byte orders, and every read
// past the end refused without moving.
#include "base/bytereader.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// 01 02 03 04 05 06 07 08 FE FF
const unsigned char kBytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xFE, 0xFF};

TEST(ByteReader, ReadsBothByteOrdersAndTwosComplement) {
    cByteReader in(kBytes, sizeof kBytes);
    std::uint16_t u16 = 0;
    std::uint32_t u32 = 0;
    std::uint64_t le = 0, be = 0;
    ASSERT_TRUE(in.read_u16le(u16) && in.seek(0) && in.read_u64le(le) && in.seek(0) && in.read_u64be(be));
    EXPECT_EQ(u16, 0x0201);
    EXPECT_EQ(le, 0x0807060504030201ULL);
    EXPECT_EQ(be, 0x0102030405060708ULL);
    ASSERT_TRUE(in.seek(2) && in.read_u32le(u32));
    EXPECT_EQ(u32, 0x06050403u);
    ASSERT_TRUE(in.seek(2) && in.read_u32be(u32) && in.read_u16be(u16));
    EXPECT_EQ(u32, 0x03040506u);
    EXPECT_EQ(u16, 0x0708);
    std::int16_t s16 = 0;
    std::int32_t s32 = 0;
    ASSERT_TRUE(in.read_i16le(s16));
    EXPECT_EQ(s16, -2);  // FE FF
    ASSERT_TRUE(in.seek(8) && in.read_i16be(s16));
    EXPECT_EQ(s16, -257);
    const unsigned char minusOne[] = {0xFF, 0xFF, 0xFF, 0xFF};
    cByteReader four(minusOne, 4);
    ASSERT_TRUE(four.read_i32be(s32));
    EXPECT_EQ(s32, -1);
}

TEST(ByteReader, ReadsSkipsSeeksSubReadersAndViewsPastTheEndFailWithoutMoving) {
    cByteReader in(kBytes, sizeof kBytes);
    ASSERT_TRUE(in.skip(7));
    std::uint32_t u32 = 0xDEADBEEF;
    EXPECT_FALSE(in.read_u32le(u32));  // three bytes left
    EXPECT_EQ(u32, 0xDEADBEEFu);
    EXPECT_FALSE(in.skip(4));
    EXPECT_FALSE(in.skip(SIZE_MAX));  // must not wrap the position around
    unsigned char out[4] = {};
    EXPECT_FALSE(in.read(out, 4));
    EXPECT_EQ(in.tell(), 7u);
    EXPECT_EQ(in.remaining(), 3u);
    EXPECT_TRUE(in.read(out, 3));
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_TRUE(in.atEnd());
    std::uint8_t b = 0;
    EXPECT_FALSE(in.read_u8(b));
    EXPECT_TRUE(in.seek(sizeof kBytes));  // the end itself
    EXPECT_FALSE(in.seek(sizeof kBytes + 1));

    ASSERT_TRUE(in.seek(2));
    cByteReader chunk, tooLong;
    ASSERT_TRUE(in.sub(chunk, 4));
    EXPECT_EQ(in.tell(), 6u);  // the parent moves past the chunk
    ASSERT_TRUE(chunk.read_u32be(u32));
    EXPECT_EQ(u32, 0x03040506u);
    EXPECT_FALSE(chunk.read_u8(b));  // the chunk ends there
    EXPECT_FALSE(in.sub(tooLong, 5));
    EXPECT_EQ(in.tell(), 6u);

    const unsigned char* p = nullptr;
    ASSERT_TRUE(in.seek(0) && in.view(p, 3));
    EXPECT_EQ(p, kBytes);  // no copy
    EXPECT_EQ(in.current(), kBytes + 3);
    EXPECT_FALSE(in.view(p, 8));
    EXPECT_EQ(p, kBytes);

    cByteReader none(static_cast<const void*>(nullptr), 100);  // null data reads as empty
    EXPECT_EQ(none.size(), 0u);
    EXPECT_FALSE(none.read_u8(b));
    EXPECT_TRUE(none.read(&b, 0));
}

}  // namespace
