// libdeflate's pieces made joinable, on the input's bytes.
//
// Mode byte even: the rest is taken as a raw deflate stream.
// findFinalDeflateBlock, which walks the blocks without inflating, must say
// yes exactly when zlib inflates all of it to its end, and then find the
// final block where zlib's inflate, stopping at each block's end (Z_BLOCK),
// finds it; the stream made joinable and followed by a stream of a few
// bytes must inflate to both.  Mode byte odd:
// the rest is cut where a u16 says into two pieces deflated by
// cJoinedDeflater at a level the mode byte picks, the first joinable and the
// second last, and the joined stream must inflate (by zlib) to the data.
// qor-fuzz-link: compression base
// qor-fuzz-data: compression/joindeflate
// qor-fuzz-args: -max_len=70000
// qor-fuzz-ci-runs: 4000
#include <zlib.h>

#include <string>
#include <vector>

#include "compression/joindeflate.h"
#include "fuzzsupport.h"

namespace {

using tBytes = std::vector<unsigned char>;

constexpr size_t kLimit = 1u << 20;

// zlib's raw inflate of all of in: whether it reached the final block's end
// with no input left, and the bytes it made.
bool inflateRaw(const tBytes& in, tBytes& out) {
    z_stream s = z_stream();
    if (inflateInit2(&s, -15) != Z_OK) return false;
    out.assign(kLimit, 0);
    unsigned char none = 0;
    s.next_in = in.empty() ? &none : const_cast<unsigned char*>(in.data());
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    const bool ended = inflate(&s, Z_FINISH) == Z_STREAM_END && s.avail_in == 0;
    out.resize(kLimit - s.avail_out);
    inflateEnd(&s);
    return ended;
}

// Where zlib's inflate finds the final block of in, which inflates to
// plainBytes: the bit where its header starts and the bit after its
// end-of-block code, from inflate's stops at each block's end.
bool zlibFinalBlock(const tBytes& in, std::size_t plainBytes, std::size_t& headerBit, std::size_t& endBit) {
    z_stream z = z_stream();
    if (inflateInit2(&z, -15) != Z_OK) return false;
    tBytes out(plainBytes + 1);
    unsigned char none = 0;
    z.next_in = in.empty() ? &none : const_cast<unsigned char*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    std::size_t header = 0;
    bool found = false;
    for (;;) {
        const uInt before = z.avail_in + z.avail_out;
        if (inflate(&z, Z_BLOCK) != Z_OK) break;
        // Bit 7: stopped after an end-of-block code, with the bits of the
        // last byte taken not used yet in the low three; bit 6: that block
        // was the final one.
        if (z.data_type & 128) {
            const std::size_t at = (in.size() - z.avail_in) * 8 - static_cast<std::size_t>(z.data_type & 7);
            if (z.data_type & 64) {
                headerBit = header;
                endBit = at;
                found = true;
                break;
            }
            header = at;
        } else if (z.avail_in + z.avail_out == before) {
            break;
        }
    }
    const bool whole = found && z.total_out == plainBytes && (endBit + 7) / 8 == in.size();
    inflateEnd(&z);
    return whole;
}

// A short stream of zlib's to join after a piece, and what it holds.
const tBytes& tailPlain() {
    static const tBytes t{'t', 'h', 'e', ' ', 'e', 'n', 'd', '\n'};
    return t;
}
tBytes tailStream() {
    tBytes out(64);
    z_stream s = z_stream();
    deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    s.next_in = const_cast<unsigned char*>(tailPlain().data());
    s.avail_in = static_cast<uInt>(tailPlain().size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(out.size() - s.avail_out);
    deflateEnd(&s);
    return out;
}

void checkJoined(tBytes stream, std::size_t headerBit, std::size_t endBit, const tBytes& plain) {
    stream.resize(stream.size() + 5);
    stream.resize(joinableDeflatePiece(stream.data(), headerBit, endBit));
    const tBytes tail = tailStream();
    stream.insert(stream.end(), tail.begin(), tail.end());
    tBytes want = plain, got;
    want.insert(want.end(), tailPlain().begin(), tailPlain().end());
    FUZZ_CHECK(inflateRaw(stream, got));
    FUZZ_CHECK(got == want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t mode = in.byte();
    if (mode % 2 == 0) {
        const std::string rest = in.rest();
        const tBytes stream(rest.begin(), rest.end());
        tBytes ref;
        const bool whole = inflateRaw(stream, ref);
        std::size_t headerBit = 0, endBit = 0, zHeader = 0, zEnd = 0;
        const bool found = findFinalDeflateBlock(stream.data(), stream.size(), ref.size(), headerBit, endBit);
        FUZZ_CHECK(found == whole);
        if (!found) return 0;
        FUZZ_CHECK(zlibFinalBlock(stream, ref.size(), zHeader, zEnd));
        FUZZ_CHECK(headerBit == zHeader && endBit == zEnd);
        // One plain byte more or less is refused.
        FUZZ_CHECK(!findFinalDeflateBlock(stream.data(), stream.size(), ref.size() + 1, zHeader, zEnd));
        FUZZ_CHECK(ref.empty() || !findFinalDeflateBlock(stream.data(), stream.size(), ref.size() - 1, zHeader, zEnd));
        checkJoined(stream, headerBit, endBit, ref);
        return 0;
    }
    const int level = 1 + (mode >> 1) % 12;
    const std::size_t cut = in.u16();
    const std::string rest = in.rest();
    if (rest.empty()) return 0;
    const tBytes all(rest.begin(), rest.end());
    const std::size_t first = std::max<std::size_t>(1, std::min(cut, all.size()));
    cJoinedDeflater d(level);
    tBytes joined;
    for (int piece = 0; piece < 2; ++piece) {
        const unsigned char* p = all.data() + (piece ? first : 0);
        const std::size_t n = piece ? all.size() - first : first;
        if (piece && n == 0) {
            // The first piece was all of it: end the stream with an empty
            // final stored block.
            const unsigned char end[5] = {1, 0, 0, 0xFF, 0xFF};
            joined.insert(joined.end(), end, end + 5);
            break;
        }
        tBytes out(d.bound(n));
        const std::size_t got = d.deflate(p, n, piece == 1, out.data(), out.size());
        FUZZ_CHECK(got > 0 && got <= out.size());
        joined.insert(joined.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got));
    }
    tBytes back;
    FUZZ_CHECK(inflateRaw(joined, back));
    FUZZ_CHECK(back == all);
    return 0;
}
