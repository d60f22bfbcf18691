// The block deflater on the input's bytes, cut into pieces of a size the
// input picks, each deflated with everything before it as history (or the
// last bytes of it) and the pieces joined as the payload writer joins them:
// zlib must inflate the stream to the bytes, and no piece may take more
// room than the deflater's bound.  A room one byte short of what a piece
// took must be refused.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/blockdeflate
// qor-fuzz-args: -max_len=40000
// qor-fuzz-ci-runs: 800
#include "compression/blockdeflate.h"
#include "fuzzsupport.h"

#include <zlib.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    // Pieces of a few bytes are the unit test's; here each costs the
    // clearing of the tables.
    const size_t piece = 256 + in.u16();
    const uint8_t history = in.byte();
    const std::string plain = in.rest();
    const auto* bytes = reinterpret_cast<const unsigned char*>(plain.data());

    static cBlockDeflater deflater;
    std::vector<unsigned char> z = {0x78, 0xDA}, out;
    size_t at = 0;
    do {
        const size_t n = std::min(piece, plain.size() - at);
        const bool last = at + n == plain.size();
        // All the history, none of it, or as much as the input says.
        const size_t dict = history == 0 ? at : history == 1 ? 0 : std::min<size_t>(at, history * 257u);
        out.assign(cBlockDeflater::bound(n), 0);
        const size_t got = deflater.deflate(bytes + at, n, dict, last, out.data(), out.size());
        FUZZ_CHECK(got > 0 && got <= cBlockDeflater::bound(n));
        if (got > 1 && (at * 31 + n) % 7 == 0) {
            std::vector<unsigned char> short_(got - 1);
            FUZZ_CHECK(deflater.deflate(bytes + at, n, dict, last, short_.data(), short_.size()) == 0);
        }
        z.insert(z.end(), out.begin(), out.begin() + static_cast<long>(got));
        at += n;
    } while (at < plain.size());
    const uLong adler = adler32(1, bytes, static_cast<uInt>(plain.size()));
    for (int i = 3; i >= 0; --i) z.push_back(static_cast<unsigned char>(adler >> (8 * i)));

    // A piece given less history than there is may only reach back into
    // what it was given; zlib's window is all of it, so a match reaching
    // further would still decode, but to bytes the piece never saw.
    std::vector<unsigned char> back(plain.size() + 1);
    uLongf backBytes = static_cast<uLongf>(back.size());
    FUZZ_CHECK(uncompress(back.data(), &backBytes, z.data(), static_cast<uLong>(z.size())) == Z_OK);
    FUZZ_CHECK(backBytes == plain.size() && std::equal(back.begin(), back.begin() + static_cast<long>(backBytes), bytes));
    return 0;
}
