#include "pakvane/payloadheader.h"

#include <cstring>

#include "base/bytereader.h"

const unsigned char sPayloadHeader::kMagic[kMagicSize] = {'Q', 'O', 'R', 'S', 'O', 'P', 'K', 'G'};

sPayloadHeader::eRead sPayloadHeader::read(const unsigned char* p, std::size_t n) {
    const std::size_t magic = n < kMagicSize ? n : kMagicSize;
    if (!p || std::memcmp(p, kMagic, magic) != 0) return notMagic;
    if (n < kSize) return cut;
    cByteReader in(p, kSize);
    std::uint8_t v = 0;
    sPayloadHeader h;
    if (!in.skip(kMagicSize) || !in.read_u8(v) || !in.read_u32le(h.bodySize) || !in.read_u32le(h.packedSize) ||
        !in.read(h.digest, sizeof h.digest))
        return cut;
    if (v > kVersion) return newVersion;
    h.version = v;
    *this = h;
    return ok;
}

void sPayloadHeader::write(unsigned char (&out)[kSize]) const {
    std::memcpy(out, kMagic, kMagicSize);
    out[kVersionAt] = static_cast<unsigned char>(version);
    const std::uint32_t sizes[2] = {bodySize, packedSize};
    for (int k = 0; k < 2; ++k)
        for (int b = 0; b < 4; ++b)
            out[kBodySizeAt + 4 * k + b] = static_cast<unsigned char>(sizes[k] >> (8 * b));
    std::memcpy(out + kDigestAt, digest, sizeof digest);
}
