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
    unsigned char none = 0;
    switch (libdeflate_zlib_decompress_ex(d, in, inBytes, out ? out : &none, room, &inUsed, &outUsed)) {
    case LIBDEFLATE_SUCCESS:
        return eFastInflate::ok;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
        return eFastInflate::noRoom;
    default:
        return eFastInflate::refused;
    }
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
