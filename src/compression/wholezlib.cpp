#include "compression/wholezlib.h"

#include <zlib.h>

#include <cstdint>

#include "base/checksum.h"

namespace {

constexpr std::size_t kHeadBytes = 2, kTrailerBytes = 4;
// zlib's counters are 32 bits wide.
constexpr std::size_t kLargest = 0xFFFFFFFFu;

}  // namespace

bool zlibHeaderOk(const unsigned char* p) {
    if (!p) return false;
    const unsigned cmf = p[0], flg = p[1];
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (flg & 0x20) == 0 && (cmf * 256 + flg) % 31 == 0;
}

bool zlibDecodeWhole(const unsigned char* in, std::size_t inBytes, unsigned char* out, std::size_t outBytes) {
    if (!in || inBytes < kHeadBytes + kTrailerBytes || inBytes > kLargest || outBytes > kLargest ||
        (!out && outBytes) || !zlibHeaderOk(in))
        return false;
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

bool zlibTrailerOk(const unsigned char* t, const unsigned char* data, unsigned long long n) {
    const std::uint32_t want = static_cast<std::uint32_t>(t[0]) << 24 | static_cast<std::uint32_t>(t[1]) << 16 |
                               static_cast<std::uint32_t>(t[2]) << 8 | t[3];
    return adler32(data, static_cast<long long>(n)) == want;
}
