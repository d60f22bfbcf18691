#include "compression/piecedeflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

// An empty stored block after the final block's end: three header bits
// (not final, type 00), the padding to the byte, the length 0 and its
// complement.
constexpr std::size_t kJoinBytes = 5;
// zlib's counters are 32 bits wide.
constexpr std::size_t kLargest = 0xFFFFFFFFu;

}  // namespace

bool findFinalDeflateBlock(const unsigned char* in, std::size_t inBytes, unsigned char* plain, std::size_t plainBytes,
                           std::size_t& headerBit, std::size_t& endBit) {
    if (inBytes > kLargest || plainBytes > kLargest || (plainBytes && !plain)) return false;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    unsigned char none = 0;
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = static_cast<uInt>(inBytes);
    z.next_out = plainBytes ? plain : &none;
    z.avail_out = static_cast<uInt>(plainBytes);
    // Z_BLOCK stops after each block's end-of-block code, before the next
    // header is read, and says there (bit 7 of data_type) how many bits of
    // the last byte taken are not used yet, and (bit 6) whether the block
    // that ended was the final one.
    std::size_t header = 0;
    bool found = false;
    for (;;) {
        const uInt before = z.avail_in + z.avail_out;
        const int rc = inflate(&z, Z_BLOCK);
        if (rc != Z_OK) break;
        if (z.data_type & 128) {
            const std::size_t at = (inBytes - z.avail_in) * 8 - static_cast<std::size_t>(z.data_type & 7);
            if (z.data_type & 64) {
                headerBit = header;
                endBit = at;
                found = true;
                break;
            }
            header = at;
        } else if (z.avail_in + z.avail_out == before) {
            break;  // no progress: the input or the room ran out
        }
    }
    const bool whole = found && z.avail_out == 0 && z.total_out == plainBytes && (endBit + 7) / 8 == inBytes;
    inflateEnd(&z);
    return whole;
}

std::size_t joinableDeflatePiece(unsigned char* out, std::size_t headerBit, std::size_t endBit) {
    out[headerBit / 8] &= static_cast<unsigned char>(~(1u << (headerBit % 8)));
    // The empty stored block's header bits and the padding after them are
    // zeros from endBit to the byte's end, or into the next byte when fewer
    // than three bits are left.
    const std::size_t headerEnd = endBit + 3, aligned = (headerEnd + 7) / 8;
    if (endBit % 8) out[endBit / 8] &= static_cast<unsigned char>((1u << (endBit % 8)) - 1);
    for (std::size_t i = (endBit + 7) / 8; i < aligned; ++i) out[i] = 0;
    std::size_t n = aligned;
    out[n++] = 0;
    out[n++] = 0;
    out[n++] = 0xFF;
    out[n++] = 0xFF;
    return n;
}

struct cPieceDeflater::sState {
    libdeflate_compressor* c = nullptr;
    std::vector<unsigned char> plain;
    ~sState() {
        if (c) libdeflate_free_compressor(c);
    }
};

cPieceDeflater::cPieceDeflater(int level) : level_(level) {}

cPieceDeflater::~cPieceDeflater() = default;

std::size_t cPieceDeflater::bound(std::size_t n) const {
    // libdeflate's bound does not depend on the compressor's level (its
    // argument may be null), and the join adds at most its five bytes.
    return libdeflate_deflate_compress_bound(nullptr, n) + kJoinBytes;
}

std::size_t cPieceDeflater::deflate(const unsigned char* data, std::size_t n, bool last, unsigned char* out,
                                    std::size_t room) {
    if (n == 0 || n > kLargest || room < kJoinBytes) return 0;
    try {
        if (!s_) s_ = std::make_unique<sState>();
        if (!s_->c) s_->c = libdeflate_alloc_compressor(level_);
        if (!s_->c) return 0;
        if (!last && s_->plain.size() < n) s_->plain.resize(n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    const std::size_t bytes = libdeflate_deflate_compress(s_->c, data, n, out, room - kJoinBytes);
    if (bytes == 0 || last) return bytes;
    std::size_t headerBit = 0, endBit = 0;
    if (!findFinalDeflateBlock(out, bytes, s_->plain.data(), n, headerBit, endBit) ||
        std::memcmp(s_->plain.data(), data, n) != 0)
        return 0;
    return joinableDeflatePiece(out, headerBit, endBit);
}
