// The installer payload's header: the 49 bytes before its zlib stream, and
// the one place that knows them.  The writer (saveBinConfig), the loader
// (loadBinConfig) and the streamed check (verifyPayloadStream) all go
// through it, so that they cannot come to disagree on what a header is.
//
//   offset  size  field
//        0     8  magic "QORSOPKG"
//        8     1  u8 format version: 1 is written, 0 and 1 are read
//        9     4  u32 body size: the bytes the stream inflates to
//       13     4  u32 packed size: the bytes of the zlib stream after the header
//       17    32  SHA-256 of the body
//
// All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

struct sPayloadHeader {
    static constexpr std::size_t kSize = 49;
    static constexpr std::size_t kMagicSize = 8;
    static constexpr std::size_t kVersionAt = 8;
    static constexpr std::size_t kBodySizeAt = 9;
    static constexpr std::size_t kPackedSizeAt = 13;
    static constexpr std::size_t kDigestAt = 17;
    // The version written, and the newest one read.
    static constexpr unsigned kVersion = 1;
    // Deflate makes at most about 1032 bytes of one: a header that claims a
    // larger ratio is no payload's, and nothing that large is set up for it.
    static constexpr unsigned long long kMaxInflateRatio = 1040;
    // The largest body and stream the u32 size fields can say.
    static constexpr unsigned long long kMaxBodySize = 0xFFFFFFFFull;
    static const unsigned char kMagic[kMagicSize];

    unsigned version = kVersion;
    std::uint32_t bodySize = 0;
    std::uint32_t packedSize = 0;
    unsigned char digest[32] = {};

    enum eRead {
        ok = 0,
        notMagic,    // the bytes there do not begin with the magic (as far as they go)
        cut,         // fewer than kSize bytes, which begin with the magic
        newVersion,  // a format version this reader does not know
    };
    // Takes the header apart from the n bytes at p (a header is whole at
    // kSize of them).  The fields are set only when the result is ok.
    eRead read(const unsigned char* p, std::size_t n);

    // The header's bytes.
    void write(unsigned char (&out)[kSize]) const;

    // Whether deflate can make a body of bodySize bytes out of `packed`
    // bytes: neither is empty, and the ratio is one deflate reaches.
    bool sizesPossible(unsigned long long packed) const {
        return bodySize != 0 && packed != 0 && bodySize <= packed * kMaxInflateRatio;
    }
};
