// The scanline consumer's inflate step: output drained through buffers of
// any size, input fed in pieces of any size, compared with the plain bytes
// zlib's own compress() started from.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "compression/zstream.h"

TEST(InflateStep, SmallBuffersAndPiecesGiveBackThePlainBytesAndTheEnd) {
    std::mt19937 rng(3);
    std::vector<unsigned char> plain(200000);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i % 251 < 200 ? i % 7 : rng());
    std::vector<unsigned char> packed(compressBound(plain.size()));
    uLongf packedLen = packed.size();
    ASSERT_EQ(compress(packed.data(), &packedLen, plain.data(), plain.size()), Z_OK);
    for (long long room : {1LL, 7LL, 4096LL}) {
        for (long long piece : {1LL, 13LL, 65536LL}) {
            cZDecompress z;
            ASSERT_TRUE(z.reset());
            std::vector<unsigned char> out, buf(static_cast<std::size_t>(room));
            bool ended = false;
            for (long long at = 0; at < static_cast<long long>(packedLen) && !ended; at += piece) {
                const long long n = std::min<long long>(piece, static_cast<long long>(packedLen) - at);
                bool first = true;
                for (;;) {
                    long long in = first ? n : 0, got = room;
                    ASSERT_TRUE(z.inflateStep(first ? packed.data() + at : nullptr, in, buf.data(), got, ended));
                    first = false;
                    out.insert(out.end(), buf.begin(), buf.begin() + got);
                    if (got < room || ended) break;  // input used up, or the end
                }
            }
            EXPECT_TRUE(ended) << room << "/" << piece;
            EXPECT_EQ(out, plain) << room << "/" << piece;
        }
    }
    // Damaged data is an error; a step with nothing to do is not.
    cZDecompress z;
    ASSERT_TRUE(z.reset());
    unsigned char buf[16];
    long long in = 0, got = sizeof buf;
    bool ended = false;
    EXPECT_TRUE(z.inflateStep(nullptr, in, buf, got, ended));
    EXPECT_EQ(got, 0);
    unsigned char bad[] = {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF};
    in = sizeof bad;
    got = sizeof buf;
    EXPECT_FALSE(z.inflateStep(bad, in, buf, got, ended));
    got = 0;
    EXPECT_FALSE(z.inflateStep(bad, in, buf, got, ended));
}
