#include "compression/wholezlib.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <memory>

#include "base/checksum.h"

namespace {

constexpr std::size_t kHeadBytes = 2, kTrailerBytes = 4;
// zlib's counters are 32 bits wide.
constexpr std::size_t kLargest = 0xFFFFFFFFu;

struct sFreeDecompressor {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One decompressor per thread, made at its first whole decode: it is a few
// kilobytes of tables that every decode rebuilds anyway, and not safe to
// share between threads.
libdeflate_decompressor* threadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, sFreeDecompressor> d;
    if (!d) d.reset(libdeflate_alloc_decompressor());
    return d.get();
}

// zlib's inflate of the deflate data after the header, with the trailer
// checked by our adler32: the decode behind every refusal.
bool zlibDecodeWholeSlowly(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t outBytes) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    unsigned char none = 0;
    z.next_in = const_cast<unsigned char*>(in + kHeadBytes);
    z.avail_in = static_cast<uInt>(inBytes - kHeadBytes);
    z.next_out = outBytes ? out : &none;
    z.avail_out = static_cast<uInt>(outBytes);
    // All the output room there is, and the end asked for: one call decodes
    // the stream, and zlib keeps no window of its own.
    const int rc = inflate(&z, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && z.avail_out == 0 && z.avail_in == kTrailerBytes;
    const unsigned char* t = z.next_in;
    inflateEnd(&z);
    if (!whole) return false;
    return zlibTrailerOk(t, out, outBytes);
}

}  // namespace

eFastInflate fastInflateZlib(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t room,
                             std::size_t& inUsed, std::size_t& outUsed) {
    inUsed = outUsed = 0;
    libdeflate_decompressor* d = threadDecompressor();
    if (!d || !in || (!out && room)) return eFastInflate::refused;
    // The wrapper is read here and libdeflate inflates the deflate data raw:
    // the Adler-32 of what it wrote is then taken by our own checksum, which
    // is faster than libdeflate's, right after the output was written.
    if (inBytes < kHeadBytes + kTrailerBytes || !zlibHeaderOk(in)) return eFastInflate::refused;
    unsigned char none = 0;
    std::size_t rawUsed = 0, made = 0;
    switch (libdeflate_deflate_decompress_ex(d, in + kHeadBytes, inBytes - kHeadBytes, out ? out : &none, room,
                                             &rawUsed, &made)) {
    case LIBDEFLATE_SUCCESS:
        break;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
        return eFastInflate::noRoom;
    default:
        return eFastInflate::refused;
    }
    // The trailer must follow whole.
    if (inBytes - kHeadBytes - rawUsed < kTrailerBytes) return eFastInflate::refused;
    const unsigned char* trailer = in + kHeadBytes + rawUsed;
    if (!zlibTrailerOk(trailer, out, made)) return eFastInflate::refused;
    inUsed = kHeadBytes + rawUsed + kTrailerBytes;
    outUsed = made;
    return eFastInflate::ok;
}

bool zlibHeaderOk(const unsigned char* p) {
    if (!p) return false;
    const unsigned cmf = p[0], flg = p[1];
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (flg & 0x20) == 0 && (cmf * 256 + flg) % 31 == 0;
}

bool zlibDecodeWhole(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t outBytes) {
    if (!in || inBytes < kHeadBytes + kTrailerBytes || inBytes > kLargest || outBytes > kLargest ||
        (!out && outBytes) || !zlibHeaderOk(in))
        return false;
    std::size_t inUsed = 0, outUsed = 0;
    if (fastInflateZlib(in, inBytes, out, outBytes, inUsed, outUsed) == eFastInflate::ok)
        return inUsed == inBytes && outUsed == outBytes;
    return zlibDecodeWholeSlowly(in, inBytes, out, outBytes);
}

bool zlibTrailerOk(const unsigned char* t, const unsigned char* data, unsigned long long n) {
    const std::uint32_t want = static_cast<std::uint32_t>(t[0]) << 24 | static_cast<std::uint32_t>(t[1]) << 16 |
                               static_cast<std::uint32_t>(t[2]) << 8 | t[3];
    return adler32(data, static_cast<long long>(n)) == want;
}
