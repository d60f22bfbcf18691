// The fuzz entries' zlib oracle: what zlib itself decodes from some bytes,
// and zlib data made from plain bytes, optionally damaged, so that the
// decoders under test meet valid streams as often as broken ones.
#pragma once

#include "fuzzsupport.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <string>

// Everything zlib's inflate produces from data (up to limit bytes), in one
// call with all the input; ended: the stream's end was reached and checked.
// message: zlib's word on the error that stopped it, if one did.
inline std::string zlibReference(const std::string& data, size_t limit, bool& ended, std::string* message = nullptr) {
    ended = false;
    if (message) message->clear();
    z_stream s = z_stream();
    if (inflateInit(&s) != Z_OK) return std::string();
    std::string out;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    int ret = Z_OK;
    unsigned char chunk[16384];
    while (ret == Z_OK && out.size() < limit) {
        s.next_out = chunk;
        s.avail_out = static_cast<uInt>(std::min(sizeof chunk, limit - out.size()));
        const uInt room = s.avail_out;
        ret = inflate(&s, Z_SYNC_FLUSH);
        out.append(reinterpret_cast<const char*>(chunk), room - s.avail_out);
        if (ret == Z_OK && s.avail_in == 0 && s.avail_out > 0) break;  // input used up
    }
    ended = ret == Z_STREAM_END;
    if (message && s.msg) *message = s.msg;
    inflateEnd(&s);
    return out;
}

// The whole-buffer decoders decode with libdeflate, which takes a few
// encodings zlib refuses (compression/wholezlib.h lists them); zlib stops on
// them with one of these messages.
inline bool onlyLibdeflateMightTake(const std::string& zlibMessage) {
    for (const char* m : {"too many length or distance symbols", "invalid bit length repeat",
                          "invalid literal/length code", "invalid distance code"})
        if (zlibMessage == m) return true;
    return false;
}

// What libdeflate decodes from a whole zlib stream at the start of data (at
// most limit bytes), when it takes it and zlib refused it with one of those
// messages: the only other outcome a whole-buffer decoder may give.
inline bool libdeflateTakesWhatZlibRefused(const std::string& data, const std::string& zlibMessage, size_t limit,
                                           std::string& out) {
    if (!onlyLibdeflateMightTake(zlibMessage)) return false;
    static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    out.assign(limit, '\0');
    size_t in = 0, n = 0;
    if (libdeflate_zlib_decompress_ex(d, data.data(), data.size(), &out[0], limit, &in, &n) != LIBDEFLATE_SUCCESS) {
        out.clear();
        return false;
    }
    out.resize(n);
    return true;
}

// The zlib stream of plain at a level (0 stores, 1 is fastest, 9 smallest):
// what the containers that inflate their bodies are given, so that an entry
// can hand its input to the parser behind the container's zlib.
inline std::string zlibPack(const std::string& plain, int level) {
    uLongf bound = compressBound(static_cast<uLong>(plain.size()));
    std::string z(bound, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&z[0]), &bound, reinterpret_cast<const Bytef*>(plain.data()),
                  static_cast<uLong>(plain.size()), level) != Z_OK)
        FUZZ_FAIL("compress2 failed");
    z.resize(bound);
    return z;
}

// Appends v as n little-endian bytes.
inline void putLE(std::string& out, unsigned long long v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The source a zlib decoder is fed: either the input's own bytes, or the
// plain bytes compressed here (level from the input), perhaps with one byte
// changed, perhaps cut short, perhaps followed by a few stray bytes.
struct sZlibCase {
    std::string source;
    std::string plain;  // the plain bytes when the source is undamaged zlib data
    bool made = false;
    bool damaged = false;
};

inline sZlibCase makeZlibCase(cFuzzInput& in) {
    sZlibCase c;
    const uint8_t mode = in.byte();
    if ((mode & 3) == 0) {
        c.source = in.rest();
        return c;
    }
    const uint16_t damageAt = in.u16();
    const uint8_t damage = in.byte();
    const uint8_t tail = in.byte();
    std::string plain = in.rest();
    // Runs make the plain bytes long enough to cross buffer sizes.
    if (mode & 4) {
        std::string grown;
        for (unsigned char ch : plain) {
            grown.append(static_cast<size_t>(ch % 64) * 64 + 1, static_cast<char>(ch));
            if (grown.size() > (1u << 18)) break;  // past the 64 KiB buffers; more only costs time
        }
        plain.swap(grown);
    }
    std::string z = zlibPack(plain, (mode >> 4) % 10);
    const size_t bound = z.size();
    c.made = true;
    c.plain = plain;
    if ((mode & 3) == 2 && !z.empty()) {
        z[damageAt % z.size()] ^= static_cast<char>(damage | 1);
        c.damaged = true;
    } else if ((mode & 3) == 3) {
        z.resize(damageAt % (z.size() + 1));
        c.damaged = z.size() < bound;
    }
    if (mode & 8) z.append(static_cast<size_t>(tail % 16), static_cast<char>(tail));
    c.source = z;
    return c;
}
