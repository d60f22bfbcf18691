// qor-fuzz-link: picts compression base
// qor-fuzz-ci-runs: 32000
// Feeds bytes to the PNG probe and decoder, plainly and through a small
// render target; the result is ignored, only crashes, hangs and leaks count.
// Every chunk's CRC is made true before the decoder sees it (but for one
// input in eight, which keeps the CRC check itself fuzzed): a mutation of a
// chunk's contents would otherwise only ever meet the CRC check.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/memio.h"
#include "fuzzpict.h"
#include "picts/pictpng.h"

namespace {

// Rewrites the CRC of every whole chunk after the signature.
void fixCrcs(std::string& png) {
    size_t at = 8;
    while (png.size() - at >= 12) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(png.data()) + at;
        const unsigned long long length =
            static_cast<unsigned long long>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (length > png.size() - at - 12) return;
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), p + 4, static_cast<uInt>(length + 4));
        for (int i = 0; i < 4; ++i) png[at + 8 + length + i] = static_cast<char>((crc >> (24 - 8 * i)) & 0xFF);
        at += 12 + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string png(reinterpret_cast<const char*>(data), size);
    if (size >= 8 && size % 8 != 0 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) fixCrcs(png);
    cBufWrapperIO io(&png[0], static_cast<long long>(png.size()), false);
    cPictBase::sPictInfo info;
    const bool probed = cPictPNG::validFor(&io, &info);
    if (!fuzzDecodeAllowed(probed, info, png.size())) return 0;
    io.set_fp(0);
    cPictPNG plain;
    plain.decode(&io);
    std::vector<unsigned int> px(24 * 17);
    cPictBase::sExtPictDef target;
    target.pixels = px.data();
    target.width = 24;
    target.height = 17;
    cPictPNG scaled;
    scaled.setExtTarget(&target);
    io.set_fp(0);
    scaled.decode(&io);
    return 0;
}
