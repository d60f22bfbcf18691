// cZDecompress keeps no pointer into a caller's piece once the piece form
// has returned or the stream was reset: a leftovers step (in null) after
// reset() must find nothing, even when the piece it was last given held
// bytes it never consumed (data after the stream's end, or after damage).
#include "compression/zstream.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::string zlibOf(const std::string& plain) {
    uLongf n = compressBound(static_cast<uLong>(plain.size()));
    std::string z(n, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(&z[0]), &n, reinterpret_cast<const Bytef*>(plain.data()),
                       static_cast<uLong>(plain.size())),
              Z_OK);
    z.resize(n);
    return z;
}

// A leftovers step: what the stream would inflate from input it still holds.
std::string leftovers(cZDecompress& z) {
    unsigned char out[256];
    long long inLen = 0, outLen = sizeof out;
    z.decompressPart(nullptr, inLen, out, outLen);
    EXPECT_EQ(inLen, 0);
    return std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(outLen));
}

}  // namespace

TEST(ZDecompressReset, PieceThatEndedEarlyLeavesNothingToInflateAfterReset) {
    // One piece: a whole stream, then a second whole stream the decoder never
    // reaches because the first one ended.  The piece is freed after the call.
    const std::string first = zlibOf("first stream");
    const std::string second = zlibOf("bytes the decoder was never given");
    auto piece = std::make_unique<std::vector<unsigned char>>(first.begin(), first.end());
    piece->insert(piece->end(), second.begin(), second.end());

    cZDecompress z;
    _typebuf<unsigned char> out;
    ASSERT_TRUE(z.decompressPart(piece->data(), static_cast<long long>(piece->size()), out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.count())), "first stream");
    // The second stream's bytes are overwritten and released, as a caller's
    // buffer would be.
    std::fill(piece->begin(), piece->end(), 0);
    piece.reset();

    ASSERT_TRUE(z.reset());
    EXPECT_EQ(leftovers(z), "");
    // Nor does a step without reset find the old piece.
    EXPECT_EQ(leftovers(z), "");
}

TEST(ZDecompressReset, DamagedPieceLeavesNothingBehind) {
    std::string bad = zlibOf(std::string(2000, 'x'));
    bad[bad.size() / 2] ^= 0x55;
    const std::string good = zlibOf("after the damage");
    std::vector<unsigned char> piece(bad.begin(), bad.end());
    piece.insert(piece.end(), good.begin(), good.end());

    cZDecompress z;
    _typebuf<unsigned char> out;
    z.decompressPart(piece.data(), static_cast<long long>(piece.size()), out);
    ASSERT_TRUE(z.reset());
    EXPECT_EQ(leftovers(z), "");
}

TEST(ZDecompressReset, StepThatStoppedAtTheEndKeepsItsLeftoversOnlyUntilReset) {
    // The step form keeps what a step left over for the next leftovers step;
    // reset() drops it.
    const std::string a = zlibOf("step one");
    std::vector<unsigned char> piece(a.begin(), a.end());
    piece.insert(piece.end(), {'j', 'u', 'n', 'k'});
    cZDecompress z;
    ASSERT_TRUE(z.reset());
    unsigned char out[64];
    long long inLen = static_cast<long long>(piece.size()), outLen = sizeof out;
    ASSERT_TRUE(z.decompressPart(piece.data(), inLen, out, outLen));
    EXPECT_EQ(inLen, static_cast<long long>(a.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(outLen)), "step one");
    ASSERT_TRUE(z.reset());
    EXPECT_EQ(leftovers(z), "");
}
