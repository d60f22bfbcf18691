// The payload writer's deflating on the input's bytes: cut into pieces of a
// size the input picks, each piece written as stored blocks when
// deflateCannotShrink says so and by the block deflater otherwise, with all
// the bytes before it as history or as much as the input says, and the
// pieces joined as the writer joins them.
//
// Each piece lies in an allocation of its own that holds exactly its history
// and its bytes, so a match that reaches back before the history it was
// given reads outside that allocation, which ASan reports; and each piece is
// inflated on its own by zlib with exactly that history as its dictionary,
// which refuses such a distance too ("too far back"), sanitizer or not.
// The inflated bytes must be the piece's, and the joined stream must
// inflate to the whole input.  No piece may take more room than the bound,
// and a room one byte short of what a piece took must be refused.
//
// The input: a mode byte, the piece size (u16), the history (a byte), and
// the data.  An input whose mode byte is odd is stretched, to a length its
// next u16 gives (64 to 320 KB), from copies of its data, some altered,
// between runs of noise, and cut into pieces of 32 to 288 KiB: the deflater
// then slides its window inside one piece (past 65,535 positions), matches
// reach back across pieces, and noise a piece long is written as stored
// blocks of 65,535 bytes and a rest.  The seeds "stretched-text" and
// "stretched-noise" (fuzz/corpus/make_seeds.py) are such inputs.
// qor-fuzz-link: pakvane cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: compression/blockdeflate
// qor-fuzz-args: -max_len=40000
// qor-fuzz-ci-runs: 400
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "compression/blockdeflate.h"
#include "fuzzsupport.h"
#include "pakvane/storedblocks.h"

namespace {

// A deterministic stream of numbers from the input's own bytes.
struct sNoise {
    std::uint64_t x;
    std::uint64_t next() {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    }
};

// The data copied, altered and interleaved with noise up to `target` bytes.
std::string stretch(const std::string& data, std::size_t target) {
    sNoise r{0x9E3779B97F4A7C15ull};
    for (unsigned char c : data) r.x = (r.x ^ c) * 0x100000001B3ull | 1;
    const std::string seed = data.empty() ? std::string(1, '\0') : data;
    std::string out;
    out.reserve(target + 128 * 1024);
    while (out.size() < target) {
        const std::uint64_t v = r.next();
        switch (v % 4) {
        case 0:  // a copy as it is: matches a copy's length back, or further
        case 1:
            out += seed;
            break;
        case 2: {  // a copy with a few bytes changed
            std::string c = seed;
            for (int k = 0; k < 4; ++k) c[r.next() % c.size()] = static_cast<char>(r.next());
            out += c;
            break;
        }
        default: {  // noise, 1 to 128 KiB
            const std::size_t n = std::size_t(1024) << (v / 4 % 8);
            for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(r.next() >> 56);
            break;
        }
        }
    }
    out.resize(target);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t mode = in.byte();
    const bool stretched = mode & 1;
    const uint16_t pieceCode = in.u16();
    const uint8_t history = in.byte();
    const uint16_t lengthCode = stretched ? in.u16() : 0;
    std::string plain = in.rest();
    // Pieces of a few bytes are the unit test's; here each costs the
    // clearing of the tables.
    size_t piece = 256 + pieceCode;
    if (stretched) {
        plain = stretch(plain, 64 * 1024 + size_t(lengthCode) * 4);
        piece = 32 * 1024 + size_t(pieceCode) * 4;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(plain.data());

    static cBlockDeflater deflater;
    static sStoredScratch scratch;
    std::vector<unsigned char> z = {0x78, 0xDA}, out, back;
    size_t at = 0;
    do {
        const size_t n = std::min(piece, plain.size() - at);
        const bool last = at + n == plain.size();
        // All the history, none of it, or as much as the input says.
        const size_t dict = history == 0 ? at : history == 1 ? 0 : std::min<size_t>(at, history * 257u);
        // Exactly the history and the piece, nothing either side.
        std::unique_ptr<unsigned char[]> own(new unsigned char[dict + n]);
        std::copy(bytes + at - dict, bytes + at + n, own.get());
        const unsigned char* p = own.get() + dict;

        size_t got;
        if (deflateCannotShrink(p, n, dict, scratch)) {
            out.assign(storedBlocksBound(n), 0);
            got = putStoredBlocks(p, n, last, out.data());
            FUZZ_CHECK(got <= storedBlocksBound(n));
        } else {
            out.assign(cBlockDeflater::bound(n), 0);
            got = deflater.deflate(p, n, dict, last, out.data(), out.size());
            FUZZ_CHECK(got > 0 && got <= cBlockDeflater::bound(n));
            if (got > 1 && n < 8192 && (at * 31 + n) % 7 == 0) {
                std::vector<unsigned char> short_(got - 1);
                FUZZ_CHECK(deflater.deflate(p, n, dict, last, short_.data(), short_.size()) == 0);
            }
        }

        // The piece alone, from its own history: its bytes, ending where a
        // sync flush or the stream's end does.
        z_stream s{};
        FUZZ_CHECK(inflateInit2(&s, -15) == Z_OK);
        const size_t window = std::min<size_t>(dict, 32768);
        if (window) FUZZ_CHECK(inflateSetDictionary(&s, p - window, static_cast<uInt>(window)) == Z_OK);
        back.assign(n + 1, 0);
        s.next_in = out.data();
        s.avail_in = static_cast<uInt>(got);
        s.next_out = back.data();
        s.avail_out = static_cast<uInt>(back.size());
        const int rc = inflate(&s, Z_SYNC_FLUSH);
        const size_t made = back.size() - s.avail_out;
        inflateEnd(&s);
        FUZZ_CHECK(last ? rc == Z_STREAM_END : rc == Z_OK || rc == Z_BUF_ERROR);
        FUZZ_CHECK(s.avail_in == 0 && made == n && std::equal(back.begin(), back.begin() + static_cast<long>(n), p));
        if (!last) FUZZ_CHECK(got >= 4 && out[got - 4] == 0 && out[got - 3] == 0 && out[got - 2] == 0xFF && out[got - 1] == 0xFF);

        z.insert(z.end(), out.begin(), out.begin() + static_cast<long>(got));
        at += n;
    } while (at < plain.size());
    const uLong adler = adler32(1, bytes, static_cast<uInt>(plain.size()));
    for (int i = 3; i >= 0; --i) z.push_back(static_cast<unsigned char>(adler >> (8 * i)));

    // The pieces joined: one zlib stream of the whole input.
    back.assign(plain.size() + 1, 0);
    uLongf backBytes = static_cast<uLongf>(back.size());
    FUZZ_CHECK(uncompress(back.data(), &backBytes, z.data(), static_cast<uLong>(z.size())) == Z_OK);
    FUZZ_CHECK(backBytes == plain.size() && std::equal(back.begin(), back.begin() + static_cast<long>(backBytes), bytes));
    return 0;
}
