#include "compression/joindeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

namespace {

// An empty stored block after the final block's end: three header bits
// (not final, type 00), the padding to the byte, the length 0 and its
// complement.
constexpr std::size_t kJoinBytes = 5;
// zlib's counters are 32 bits wide.
constexpr std::size_t kLargest = 0xFFFFFFFFu;

// Deflate's block structure read without inflating (RFC 1951, 3.2): the
// walk decodes each block's codes and symbols only to find where the block
// ends, counts the bytes the symbols stand for and keeps none of them.
// What it refuses is what zlib's inflate refuses.
class cBlockWalk {
public:
    cBlockWalk(const unsigned char* in, std::size_t n) : p_(in), n_(n) {}

    bool run(std::size_t plainBytes, std::size_t& headerBit, std::size_t& endBit) {
        for (;;) {
            const std::size_t header = consumed();
            if (!need(3)) return false;
            const bool final = take(1) != 0;
            const unsigned type = take(2);
            bool ok = false;
            if (type == 0)
                ok = stored();
            else if (type == 1)
                ok = fixed();
            else if (type == 2)
                ok = dynamic();
            if (!ok || out_ > plainBytes || consumed() > 8 * n_) return false;
            if (final) {
                headerBit = header;
                endBit = consumed();
                return out_ == plainBytes;
            }
        }
    }

private:
    static constexpr int kMaxBits = 15;
    static constexpr int kTableBits = 10;
    // A code: a table of its first kTableBits bits (the symbol in the low 9
    // bits of an entry, the length above; 0 where no code of at most that
    // length begins) and, for longer codes, the counts of each length and
    // the symbols in code order.
    struct sCode {
        std::uint16_t table[1 << kTableBits];
        std::uint16_t count[kMaxBits + 1];
        std::uint16_t symbols[288];
        bool longer;  // some code is longer than kTableBits
    };

    std::size_t consumed() const { return 8 * at_ - held_; }

    // At least k (up to 57) bits held; past the input's end zeros are taken,
    // up to a few bytes, for a last symbol shorter than what a lookup reads.
    bool need(unsigned k) {
        if (held_ >= k) return true;
        if (at_ + 8 > n_) return refillAtEnd(k);
        std::uint64_t v;
        std::memcpy(&v, p_ + at_, 8);
        bits_ |= le64(v) << held_;
        at_ += (63 - held_) >> 3;
        held_ |= 56;
        return true;
    }
    __attribute__((noinline)) bool refillAtEnd(unsigned k) {
        while (held_ <= 56) {
            if (at_ >= n_ + 8) return held_ >= k;
            bits_ |= static_cast<std::uint64_t>(at_ < n_ ? p_[at_] : 0) << held_;
            ++at_;
            held_ += 8;
        }
        return true;
    }
    static std::uint64_t le64(std::uint64_t v) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return __builtin_bswap64(v);
#else
        return v;
#endif
    }
    unsigned take(unsigned k) {
        const unsigned v = static_cast<unsigned>(bits_ & ((std::uint64_t(1) << k) - 1));
        bits_ >>= k;
        held_ -= k;
        return v;
    }

    bool stored() {
        take(held_ % 8);
        if (!need(32)) return false;
        const unsigned len = take(16), nlen = take(16);
        if (len != (~nlen & 0xFFFF)) return false;
        // The bits held are whole bytes now: skip them, then the rest.
        std::size_t left = len;
        while (left > 0 && held_ >= 8) {
            take(8);
            --left;
        }
        if (left > n_ - std::min(at_, n_)) return false;
        if (left > 0) {
            // Nothing is held now, but a wide refill leaves the bytes after
            // those it counted above the bits held: they are skipped too.
            at_ += left;
            bits_ = 0;
        }
        out_ += len;
        return true;
    }

    // Builds c from lengths[0 .. n): false where zlib refuses the code
    // (over-subscribed, or incomplete but for a single code of one bit, or
    // for the code lengths' code, any incompleteness).  An empty code is
    // taken: a distance code may have none.
    static bool build(const std::uint8_t* lengths, int n, sCode& c, bool codeLengths) {
        std::fill(std::begin(c.count), std::end(c.count), 0);
        for (int s = 0; s < n; ++s) ++c.count[lengths[s]];
        c.count[0] = 0;
        int max = kMaxBits;
        while (max > 0 && c.count[max] == 0) --max;
        std::fill(std::begin(c.table), std::end(c.table), 0);
        c.longer = max > kTableBits;
        if (max == 0) return !codeLengths;
        int left = 1;
        for (int len = 1; len <= kMaxBits; ++len) {
            left = (left << 1) - c.count[len];
            if (left < 0) return false;
        }
        if (left > 0 && (codeLengths || max != 1)) return false;
        std::uint16_t offset[kMaxBits + 2];
        offset[1] = 0;
        for (int len = 1; len <= kMaxBits; ++len) offset[len + 1] = static_cast<std::uint16_t>(offset[len] + c.count[len]);
        for (int s = 0; s < n; ++s)
            if (lengths[s]) c.symbols[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
        // Canonical codes, reversed into the order the bits arrive in.
        unsigned code = 0;
        int k = 0;
        for (int len = 1; len <= kTableBits; ++len, code <<= 1)
            for (int i = 0; i < c.count[len]; ++i, ++code, ++k) {
                unsigned r = 0;
                for (int b = 0; b < len; ++b) r |= ((code >> b) & 1u) << (len - 1 - b);
                const std::uint16_t entry = static_cast<std::uint16_t>(c.symbols[k] | len << 9);
                for (unsigned at = r; at < (1u << kTableBits); at += 1u << len) c.table[at] = entry;
            }
        return true;
    }

    // The next symbol of c, -1 where no code matches.  At least kMaxBits
    // bits are held.
    int decode(const sCode& c) {
        const std::uint16_t e = c.table[bits_ & ((1u << kTableBits) - 1)];
        if (e) {
            take(e >> 9);
            return e & 0x1FF;
        }
        if (!c.longer) return -1;
        // A longer code, bit by bit in canonical order.
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<int>(take(1));
            const int count = c.count[len];
            if (code - count < first) return c.symbols[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

    bool fixed() {
        static const struct sFixed {
            sCode lit, dist;
            sFixed() {
                std::uint8_t l[288];
                for (int s = 0; s < 288; ++s) l[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
                build(l, 288, lit, false);
                std::uint8_t d[32];
                std::fill(std::begin(d), std::end(d), 5);
                build(d, 32, dist, false);
            }
        } codes;
        return symbols(codes.lit, codes.dist);
    }

    bool dynamic() {
        static const std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        if (!need(14)) return false;
        const int nlen = static_cast<int>(take(5)) + 257, ndist = static_cast<int>(take(5)) + 1,
                  ncode = static_cast<int>(take(4)) + 4;
        if (nlen > 286 || ndist > 30) return false;
        std::uint8_t lengths[320] = {};
        for (int i = 0; i < ncode; ++i) {
            if (!need(3)) return false;
            lengths[kOrder[i]] = static_cast<std::uint8_t>(take(3));
        }
        if (!build(lengths, 19, lit_, true)) return false;
        std::fill(std::begin(lengths), std::end(lengths), 0);
        for (int i = 0; i < nlen + ndist;) {
            if (!need(kMaxBits + 7)) return false;
            const int sym = decode(lit_);
            if (sym < 0) return false;
            if (sym < 16) {
                lengths[i++] = static_cast<std::uint8_t>(sym);
                continue;
            }
            int repeat = 0;
            std::uint8_t value = 0;
            if (sym == 16) {
                if (i == 0) return false;
                value = lengths[i - 1];
                repeat = 3 + static_cast<int>(take(2));
            } else if (sym == 17) {
                repeat = 3 + static_cast<int>(take(3));
            } else {
                repeat = 11 + static_cast<int>(take(7));
            }
            if (i + repeat > nlen + ndist) return false;
            while (repeat--) lengths[i++] = value;
        }
        // A block must be able to end.
        if (lengths[256] == 0) return false;
        return build(lengths, nlen, lit_, false) && build(lengths + nlen, ndist, dist_, false) && symbols(lit_, dist_);
    }

    bool symbols(const sCode& lit, const sCode& dist) {
        static const std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const std::uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                                    33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const std::uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        // The bit buffer in locals while symbols pass: members only around
        // the rare calls that take from it.
        const unsigned char* const p = p_;
        const std::size_t n = n_;
        std::uint64_t bits = bits_;
        unsigned held = held_;
        std::size_t at = at_, out = out_;
        auto store = [&] {
            bits_ = bits;
            held_ = held;
            at_ = at;
            out_ = out;
        };
        auto load = [&] {
            bits = bits_;
            held = held_;
            at = at_;
        };
        auto next = [&](const sCode& c) {
            const std::uint16_t e = c.table[bits & ((1u << kTableBits) - 1)];
            if (e) {
                bits >>= e >> 9;
                held -= e >> 9;
                return e & 0x1FF;
            }
            store();
            const int sym = decode(c);
            load();
            return sym;
        };
        auto extra = [&](unsigned k) {
            const unsigned v = static_cast<unsigned>(bits & ((std::uint64_t(1) << k) - 1));
            bits >>= k;
            held -= k;
            return v;
        };
        for (;;) {
            // A length's code and extra bits and a distance's: 48 bits.  Past
            // the input's end only the few zero bytes refillAtEnd() gives are
            // taken, and the block's end is held against the input's.
            if (held < 48) {
                if (at + 8 <= n) {
                    std::uint64_t v;
                    std::memcpy(&v, p + at, 8);
                    bits |= le64(v) << held;
                    at += (63 - held) >> 3;
                    held |= 56;
                } else {
                    store();
                    if (!refillAtEnd(48)) return false;
                    load();
                }
            }
            const int sym = next(lit);
            if (sym < 256) {
                if (sym < 0) return false;
                ++out;
                continue;
            }
            if (sym == 256) {
                store();
                return true;
            }
            if (sym > 285) return false;
            const std::size_t len = kLengthBase[sym - 257] + extra(kLengthExtra[sym - 257]);
            const int d = next(dist);
            if (d < 0 || d > 29) return false;
            const std::size_t distance = kDistBase[d] + extra(kDistExtra[d]);
            // Nothing before the stream: a distance reaches back into what
            // it made so far.
            if (distance > out) return false;
            out += len;
        }
    }

    const unsigned char* p_;
    std::size_t n_;
    std::size_t at_ = 0;  // the next byte to take into bits_
    std::uint64_t bits_ = 0;
    unsigned held_ = 0;
    std::size_t out_ = 0;
    sCode lit_, dist_;
};

}  // namespace

bool findFinalDeflateBlock(const unsigned char* in, std::size_t inBytes, std::size_t plainBytes,
                           std::size_t& headerBit, std::size_t& endBit) {
    if (inBytes > kLargest || plainBytes > kLargest) return false;
    std::unique_ptr<cBlockWalk> walk;
    try {
        walk = std::make_unique<cBlockWalk>(in, inBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::size_t h = 0, e = 0;
    if (!walk->run(plainBytes, h, e) || (e + 7) / 8 != inBytes) return false;
    headerBit = h;
    endBit = e;
    return true;
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

struct cJoinedDeflater::sState {
    libdeflate_compressor* c = nullptr;
    ~sState() {
        if (c) libdeflate_free_compressor(c);
    }
};

cJoinedDeflater::cJoinedDeflater(int level) : level_(level) {}

cJoinedDeflater::~cJoinedDeflater() = default;

std::size_t cJoinedDeflater::bound(std::size_t n) {
    // libdeflate's bound does not depend on the compressor's level (its
    // argument may be null), and the join adds at most its five bytes.
    return libdeflate_deflate_compress_bound(nullptr, n) + kJoinBytes;
}

std::size_t cJoinedDeflater::deflate(const unsigned char* data, std::size_t n, bool last, unsigned char* out,
                                    std::size_t room) {
    if (n == 0 || n > kLargest || room < kJoinBytes) return 0;
    try {
        if (!s_) s_ = std::make_unique<sState>();
        if (!s_->c) s_->c = libdeflate_alloc_compressor(level_);
        if (!s_->c) return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    const std::size_t bytes = libdeflate_deflate_compress(s_->c, data, n, out, room - kJoinBytes);
    if (bytes == 0 || last) return bytes;
    std::size_t headerBit = 0, endBit = 0;
    if (!findFinalDeflateBlock(out, bytes, n, headerBit, endBit)) return 0;
    return joinableDeflatePiece(out, headerBit, endBit);
}
