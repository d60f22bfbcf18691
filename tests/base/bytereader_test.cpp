// The bounds-checked byte reader: values in both byte orders, and every read
// past the end refused without moving.
#include "base/bytereader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/memio.h"

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

// A memory stream that counts what reaches it, and can fail.
class cCountingStream : public cBufWrapperIO {
public:
    explicit cCountingStream(std::vector<unsigned char>& b)
        : cBufWrapperIO(b.data(), static_cast<long long>(b.size()), false) {}
    unsigned int read(void* buf, unsigned int n) override {
        ++reads;
        if (failReads) return kIOFailed;
        const unsigned int got = cBufWrapperIO::read(buf, n);
        bytes += got;
        return got;
    }
    bool set_fp(unsigned long long pos) override {
        ++seeks;
        return cBufWrapperIO::set_fp(pos);
    }
    long long size() override { return sized ? cBufWrapperIO::size() : -1; }
    // In place only when asked to: the other tests count the copies.
    std::size_t readInPlace(const unsigned char*& out, std::size_t most) override {
        if (!inPlace) return 0;
        ++inPlaceReads;
        return cBufWrapperIO::readInPlace(out, most);
    }
    int reads = 0, seeks = 0, inPlaceReads = 0;
    unsigned long long bytes = 0;
    bool failReads = false, sized = true, inPlace = false;
};

std::vector<unsigned char> counting(std::size_t n) {
    std::vector<unsigned char> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 7 + i / 256);
    return b;
}

TEST(ByteReaderStreamed, ByteAtATimeCostsOneStreamCallPerWindow) {
    std::vector<unsigned char> data = counting(10000);
    cCountingStream s(data);
    cByteReader in(&s, 1000, 0);
    EXPECT_TRUE(in.streamed());
    EXPECT_EQ(in.stream(), &s);
    EXPECT_EQ(in.sourceSize(), 10000);
    unsigned char b = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        ASSERT_TRUE(in.byte(b));
        ASSERT_EQ(b, data[i]);
    }
    EXPECT_EQ(s.reads, 10);
    EXPECT_EQ(in.tell(), 10000u);
    EXPECT_FALSE(in.byte(b));
    EXPECT_TRUE(in.atEnd());
}

TEST(ByteReaderStreamed, TypedReadsAcrossWindowEdgesAndAWindowOfAHeaderReadsNoMore) {
    std::vector<unsigned char> data = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    cCountingStream s(data);
    {
        cByteReader in(&s, 3, 0);  // every u32 straddles a refill
        std::uint32_t a = 0, b = 0;
        ASSERT_TRUE(in.read_u32le(a) && in.read_u32be(b));
        EXPECT_EQ(a, 0x04030201u);
        EXPECT_EQ(b, 0x05060708u);
        std::uint16_t c = 0;
        EXPECT_FALSE(in.read_u16le(c));  // one byte left
    }
    s.set_fp(0);
    s.bytes = 0;
    {
        cByteReader in(&s, 4, 0);
        std::uint32_t a = 0;
        ASSERT_TRUE(in.read_u32le(a));
        EXPECT_EQ(s.bytes, 4u);  // exactly the header: the stream stands after it
        unsigned char next = 0;
        ASSERT_EQ(s.read(&next, 1), 1u);
        EXPECT_EQ(next, 0x05);
    }
}

TEST(ByteReaderStreamed, ViewsLongReadsSkipsAndSomeReads) {
    std::vector<unsigned char> data = counting(5000);
    cCountingStream s(data);
    cByteReader in(&s, 256, 0);
    const unsigned char* p = nullptr;
    ASSERT_TRUE(in.view(p, 200));
    EXPECT_EQ(std::vector<unsigned char>(p, p + 200), std::vector<unsigned char>(data.begin(), data.begin() + 200));
    ASSERT_TRUE(in.view(p, 256));  // more than the window holds: refilled, kept whole
    EXPECT_EQ(p[0], data[200]);
    EXPECT_EQ(p[255], data[455]);
    EXPECT_FALSE(in.view(p, 257));  // never more than the window
    // A read longer than the window goes straight to the caller.
    std::vector<unsigned char> big(3000);
    const int before = s.reads;
    ASSERT_TRUE(in.read(big.data(), big.size()));
    EXPECT_LE(s.reads - before, 2);
    EXPECT_EQ(big[0], data[456]);
    EXPECT_EQ(big[2999], data[3455]);
    ASSERT_TRUE(in.skip(1000));
    EXPECT_EQ(in.tell(), 4456u);
    std::vector<unsigned char> rest(1000);
    EXPECT_EQ(in.readSome(rest.data(), rest.size()), 544u);
    EXPECT_EQ(rest[543], data[4999]);
    EXPECT_EQ(in.viewSome(p, 10), 0u);
    EXPECT_FALSE(in.skip(1));
}

TEST(ByteReaderStreamed, SeeksInsideTheWindowCostNothingAndSyncHandsTheStreamBack) {
    std::vector<unsigned char> data = counting(3000);
    cCountingStream s(data);
    cByteReader in(&s, 1000, 0);
    std::uint8_t b = 0;
    ASSERT_TRUE(in.read_u8(b));
    const int seeks = s.seeks;
    ASSERT_TRUE(in.seek(900));
    ASSERT_TRUE(in.read_u8(b));
    EXPECT_EQ(b, data[900]);
    ASSERT_TRUE(in.seek(10));
    ASSERT_TRUE(in.read_u8(b));
    EXPECT_EQ(b, data[10]);
    EXPECT_EQ(s.seeks, seeks);
    // Outside the window: the stream moves.
    ASSERT_TRUE(in.seek(2500));
    EXPECT_EQ(s.seeks, seeks + 1);
    ASSERT_TRUE(in.read_u8(b));
    EXPECT_EQ(b, data[2500]);
    EXPECT_EQ(in.tell(), 2501u);
    // Read ahead past 2501; sync puts the stream back at tell().
    ASSERT_TRUE(in.sync());
    unsigned char direct = 0;
    ASSERT_EQ(s.read(&direct, 1), 1u);
    EXPECT_EQ(direct, data[2501]);
    // A copy reads on from the same place with its own window.
    cByteReader copy = in;
    copy.seek(100);
    ASSERT_TRUE(copy.read_u8(b));
    EXPECT_EQ(b, data[100]);
}

TEST(ByteReaderStreamed, ReadAtReadsExactlyThoseBytes) {
    std::vector<unsigned char> data = counting(100);
    cCountingStream s(data);
    unsigned char out[5];
    ASSERT_TRUE(cByteReader::readAt(&s, 40, out, 5));
    EXPECT_EQ(out[0], data[40]);
    EXPECT_EQ(out[4], data[44]);
    EXPECT_EQ(s.bytes, 5u);
    EXPECT_FALSE(cByteReader::readAt(&s, 98, out, 5));
    EXPECT_FALSE(cByteReader::readAt(nullptr, 0, out, 1));
}

TEST(ByteReaderStreamed, AFailingOrUnsizedStreamEndsTheReads) {
    std::vector<unsigned char> data = counting(100);
    cCountingStream s(data);
    s.failReads = true;
    cByteReader in(&s, 16, 0);
    unsigned char b = 0;
    EXPECT_FALSE(in.byte(b));
    EXPECT_EQ(in.readSome(&b, 1), 0u);
    s.failReads = false;
    s.sized = false;
    cByteReader unsized(&s, 16, 0);
    EXPECT_EQ(unsized.sourceSize(), -1);
}

// A stream that hands over more than it was asked for in place is broken,
// as one whose read fails: the reader takes none of it and ends.
TEST(ByteReaderStreamed, AnInPlaceReadPastTheAskEndsTheReads) {
    std::vector<unsigned char> data = counting(100);
    struct cOverreach : cBufWrapperIO {
        using cBufWrapperIO::cBufWrapperIO;
        std::size_t readInPlace(const unsigned char*& out, std::size_t most) override {
            return cBufWrapperIO::readInPlace(out, most + 1);
        }
    } s(data.data(), 100, false);
    cByteReader in(&s, 16, 0);
    const unsigned char* p = nullptr;
    EXPECT_EQ(in.viewSome(p, 10), 0u);
    unsigned char b = 0;
    EXPECT_FALSE(in.byte(b));
}

TEST(ByteReader, BytesInHandInBothOrders) {
    const unsigned char p[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(cByteReader::u16le(p), 0x3412);
    EXPECT_EQ(cByteReader::u16be(p), 0x1234);
    EXPECT_EQ(cByteReader::u32le(p), 0x78563412u);
    EXPECT_EQ(cByteReader::u32be(p), 0x12345678u);
    EXPECT_EQ(cByteReader::u16(p, true), 0x1234);
    EXPECT_EQ(cByteReader::u32(p, false), 0x78563412u);
    cByteReader m(p, sizeof p);
    EXPECT_FALSE(m.streamed());
    EXPECT_EQ(m.sourceSize(), 4);
    cByteReader copy = m;  // memory readers copy freely
    std::uint8_t v = 0;
    ASSERT_TRUE(copy.read_u8(v));
    EXPECT_EQ(v, 0x12);
    EXPECT_EQ(m.tell(), 0u);
}


// A streamed reader must answer exactly as a memory reader over the same
// bytes: random runs of reads, skips, views and seeks (back into bytes read
// before, across long reads that bypass the window) compared step by step.
TEST(ByteReaderStreamed, AnswersAsAMemoryReaderOverTheSameBytes) {
    std::vector<unsigned char> data = counting(4000);
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t most) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % (most + 1);
    };
    for (const bool inPlace : {false, true})
    for (std::size_t window : {1u, 7u, 64u, 1000u}) {
        cCountingStream s(data);
        s.inPlace = inPlace;
        cByteReader streamed(&s, window, 0);
        cByteReader memory(data.data(), data.size());
        for (int step = 0; step < 3000; ++step) {
            SCOPED_TRACE(testing::Message() << "in place " << inPlace << ", window " << window << ", step " << step);
            bool a = false, b = false;
            switch (next(6)) {
                case 6: {
                    // Some of the next bytes where they are; the stream's
                    // own memory when it reads in place.
                    const std::size_t most = next(static_cast<std::uint32_t>(2 * window + 40));
                    const unsigned char *x = nullptr, *y = nullptr;
                    const int inPlaceBefore = s.inPlaceReads;
                    const std::size_t n = streamed.viewSome(x, most);
                    const std::size_t m = memory.viewSome(y, std::min(n, most));
                    a = b = true;
                    ASSERT_EQ(n == 0, m == 0);
                    ASSERT_LE(n, most);
                    ASSERT_EQ(m, n);
                    if (n) {
                        ASSERT_EQ(std::vector<unsigned char>(x, x + n), std::vector<unsigned char>(y, y + n));
                    }
                    if (n && s.inPlaceReads != inPlaceBefore) {
                        ASSERT_GE(x, data.data());
                        ASSERT_LE(x + n, data.data() + data.size());
                    }
                    break;
                }
                case 0: {
                    const std::size_t n = next(static_cast<std::uint32_t>(3 * window + 40));
                    std::vector<unsigned char> x(n), y(n);
                    a = streamed.read(x.data(), n);
                    b = memory.read(y.data(), n);
                    if (a && b) {
                        ASSERT_EQ(x, y);
                    }
                    break;
                }
                case 1: {
                    const std::size_t n = next(static_cast<std::uint32_t>(3 * window + 40));
                    a = streamed.skip(n);
                    b = memory.skip(n);
                    break;
                }
                case 2: {
                    const std::size_t at = next(static_cast<std::uint32_t>(data.size()));
                    a = streamed.seek(at);
                    b = memory.seek(at);
                    break;
                }
                case 3: {
                    std::uint32_t x = 0, y = 0;
                    a = streamed.read_u32be(x);
                    b = memory.read_u32be(y);
                    if (a && b) {
                        ASSERT_EQ(x, y);
                    }
                    break;
                }
                case 4: {
                    const std::size_t n = next(static_cast<std::uint32_t>(window));
                    const unsigned char *x = nullptr, *y = nullptr;
                    a = streamed.view(x, n);
                    b = memory.view(y, n);
                    if (a && b) {
                        ASSERT_EQ(std::vector<unsigned char>(x, x + n), std::vector<unsigned char>(y, y + n));
                    }
                    break;
                }
                default: {
                    unsigned char x = 0, y = 0;
                    a = streamed.byte(x);
                    b = memory.byte(y);
                    if (a && b) {
                        ASSERT_EQ(x, y);
                    }
                    break;
                }
            }
            ASSERT_EQ(a, b);
            if (!a) {
                // A failed streamed read stops at the end of the bytes: both
                // start again from one place.
                const std::size_t at = next(static_cast<std::uint32_t>(data.size()));
                ASSERT_TRUE(streamed.seek(at) && memory.seek(at));
            }
            ASSERT_EQ(streamed.tell(), memory.tell());
        }
        EXPECT_EQ(s.inPlaceReads > 0, inPlace);
    }
}

}  // namespace
