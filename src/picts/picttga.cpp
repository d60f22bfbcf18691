// TGA decoding.
#include "picts/picttga.h"

#include "base/bytereader.h"
#include "base/checked.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

enum : unsigned char { kMapped = 1, kTrue = 2, kGrey = 3, kRleMapped = 9, kRleTrue = 10, kRleGrey = 11 };

// A 5-bit component scaled by 8.2258, truncated: 31 gives 254.
struct sFiveBit {
    unsigned char v[32];
    sFiveBit() {
        for (int c = 0; c < 32; ++c) v[c] = static_cast<unsigned char>(c * 8.2258);
    }
};
const sFiveBit kFive;

inline unsigned int from16(unsigned int v) {
    return 0xFF000000u | static_cast<unsigned int>(kFive.v[(v >> 10) & 31]) << 16 |
           static_cast<unsigned int>(kFive.v[(v >> 5) & 31]) << 8 | kFive.v[v & 31];
}

bool isMapped(unsigned char t) { return t == kMapped || t == kRleMapped; }
bool isTrue(unsigned char t) { return t == kTrue || t == kRleTrue; }
bool isGrey(unsigned char t) { return t == kGrey || t == kRleGrey; }

}  // namespace

bool cPictTGA::validFor(cFileIOTarget* stream, sPictInfo* info) {
    cPictTGA probe;
    return probe.isPicture(stream, info);
}

bool cPictTGA::readHeader(cByteReader& in) {
    const unsigned char* h = nullptr;
    if (!in.view(h, 18)) return false;
    hdr_.idLength = h[0];
    hdr_.mapType = h[1];
    hdr_.imageType = h[2];
    hdr_.mapFirst = static_cast<unsigned short>(cByteReader::u16le(h + 3));
    hdr_.mapLength = static_cast<unsigned short>(cByteReader::u16le(h + 5));
    hdr_.mapEntryBits = h[7];
    hdr_.xOrigin = static_cast<unsigned short>(cByteReader::u16le(h + 8));
    hdr_.yOrigin = static_cast<unsigned short>(cByteReader::u16le(h + 10));
    hdr_.width = static_cast<unsigned short>(cByteReader::u16le(h + 12));
    hdr_.height = static_cast<unsigned short>(cByteReader::u16le(h + 14));
    hdr_.depth = h[16];
    hdr_.descriptor = h[17];
    return true;
}

bool cPictTGA::headerAcceptable() const {
    const unsigned char t = hdr_.imageType;
    if (isMapped(t)) {
        if (hdr_.mapType != 1 || !hdr_.mapLength || !hdr_.mapEntryBits) return false;
    } else if (isTrue(t) || isGrey(t)) {
        if (hdr_.mapType || hdr_.mapLength || hdr_.mapEntryBits) return false;
    } else {
        return false;
    }
    if (hdr_.xOrigin || hdr_.yOrigin || !hdr_.width || !hdr_.height) return false;
    const unsigned char d = hdr_.depth;
    return d == 8 || d == 16 || d == 24 || d == 32;
}

bool cPictTGA::isPicture(cFileIOTarget* stream, sPictInfo* info) {
    if (!stream) return false;
    cByteReader in(stream, 18, 0);
    if (!readHeader(in) || !headerAcceptable()) return false;
    if (info) {
        info->width = hdr_.width;
        info->height = hdr_.height;
        info->hasPreview = false;
    }
    return true;
}

bool cPictTGA::loadPalette(cByteReader& in) {
    const unsigned int bits = hdr_.mapEntryBits;
    if (bits != 16 && bits != 24 && bits != 32) return false;
    const unsigned int each = bits / 8, n = hdr_.mapLength;
    _typebuf<unsigned char> raw;
    long long bytes = 0;
    if (!checked_mul(each, n, bytes) || !sizeBuffer(raw, bytes) || !sizeBuffer(palette_, n)) return false;
    if (!in.read(raw.data(), static_cast<std::size_t>(bytes))) return false;
    bool anyAlpha = false;
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned char* p = raw.data() + i * each;
        unsigned int px;
        if (bits == 16)
            px = from16(cByteReader::u16le(p));
        else if (bits == 24)
            px = 0xFF000000u | static_cast<unsigned int>(p[2]) << 16 | static_cast<unsigned int>(p[1]) << 8 | p[0];
        else
            px = static_cast<unsigned int>(p[3]) << 24 | static_cast<unsigned int>(p[2]) << 16 |
                 static_cast<unsigned int>(p[1]) << 8 | p[0];
        anyAlpha |= (px >> 24) != 0;
        palette_.data()[i] = px;
    }
    // A map whose every alpha is 0 carries no alpha at all.
    if (bits == 32 && !anyAlpha)
        for (unsigned int i = 0; i < n; ++i) palette_.data()[i] |= 0xFF000000u;
    return true;
}

bool cPictTGA::convertRow(const unsigned char* v, unsigned int* out, long long n) const {
    switch (hdr_.depth) {
        case 8:
            if (isGrey(hdr_.imageType)) {
                for (long long x = 0; x < n; ++x) out[x] = 0xFF000000u | v[x] * 0x010101u;
            } else {
                // Pixel values count from the first colour-map entry.
                const unsigned int* pal = palette_.data();
                const unsigned int first = hdr_.mapFirst, length = hdr_.mapLength;
                for (long long x = 0; x < n; ++x) {
                    const unsigned int i = static_cast<unsigned int>(v[x]) - first;  // wraps below the first entry
                    if (i >= length) return false;
                    out[x] = pal[i];
                }
            }
            return true;
        case 16:
            for (long long x = 0; x < n; ++x) out[x] = from16(cByteReader::u16le(v + 2 * x));
            return true;
        case 24: bgrToPixels(v, out, n); return true;
        default:
            // Bytes B, G, R, A are the pixel's word as it is stored.
            std::memcpy(out, v, static_cast<std::size_t>(n) * 4);
            return true;
    }
}

unsigned int* cPictTGA::rowOut(long long fileRow) {
    if (extActive_) return line_.data();
    const long long y = (hdr_.descriptor & 0x20) ? height_ - 1 - fileRow : fileRow;
    return pixels8_.data() + y * width_;
}

void cPictTGA::finishRow(long long fileRow, const unsigned int* row) {
    const long long w = width_;
    if (hdr_.depth == 32 && !anyAlpha_)
        for (long long x = 0; x < w && !anyAlpha_; ++x) anyAlpha_ = (row[x] >> 24) != 0;
    if (extActive_) {
        const long long y = (hdr_.descriptor & 0x20) ? height_ - 1 - fileRow : fileRow;
        if (canExtRender(0, w - 1, y, y)) setExtRow(y, row, w);
    }
}

bool cPictTGA::decodePlain(cByteReader& in) {
    const unsigned int bpp = hdr_.depth / 8u;
    const long long w = width_;
    _typebuf<unsigned char> row;
    long long rowBytes = 0;
    if (!checked_mul(w, bpp, rowBytes) || !sizeBuffer(row, rowBytes)) return false;
    for (long long r = 0; r < height_; ++r) {
        // Rows that fit the read-ahead are converted where they lie, straight
        // into their picture row.
        const unsigned char* src = row.data();
        if (!(in.view(src, static_cast<std::size_t>(rowBytes)) || in.read(row.data(), static_cast<std::size_t>(rowBytes))))
            return false;
        unsigned int* out = rowOut(r);
        if (!convertRow(src, out, w)) return false;
        finishRow(r, out);
    }
    return true;
}

bool cPictTGA::decodeRle(cByteReader& in) {
    const unsigned int bpp = hdr_.depth / 8u;
    const long long w = width_, h = height_;
    long long r = 0, x = 0;
    unsigned int* out = rowOut(0);
    unsigned char v[4 * 128];
    // Packets run on across row ends; one that runs past the last pixel is
    // cut there.
    while (r < h) {
        unsigned char head = 0;
        if (!in.byte(head)) return false;
        long long n = (head & 0x7F) + 1;
        unsigned int px = 0;
        const bool run = (head & 0x80) != 0;
        const unsigned char* raw = v;
        // Values past the last pixel are not read.
        n = std::min(n, (h - r) * w - x);
        if (run) {
            if (!in.read(v, bpp) || !convertRow(v, &px, 1)) return false;
        } else {
            // The packet's values where they lie in the read-ahead.
            const std::size_t bytes = static_cast<std::size_t>(n) * bpp;
            if (!(in.view(raw, bytes) || (raw = v, in.read(v, bytes)))) return false;
        }
        while (n > 0 && r < h) {
            const long long k = std::min(n, w - x);
            if (run) {
                std::fill(out + x, out + x + k, px);
            } else {
                if (!convertRow(raw, out + x, k)) return false;
                raw += k * bpp;
            }
            n -= k;
            x += k;
            if (x == w) {
                finishRow(r++, out);
                x = 0;
                if (r < h) out = rowOut(r);
            }
        }
    }
    return true;
}

bool cPictTGA::decode(cFileIOTarget* s) {
    // A picture of the same size as the one before is written over its pixels.
    reopen();
    const bool ok = decodeInto(s);
    dropStalePixels();
    return ok;
}

bool cPictTGA::decodeInto(cFileIOTarget* s) {
    extActive_ = anyAlpha_ = false;
    palette_.set(0);
    if (!s) return false;
    cByteReader in(s, cByteReader::kStreamWindow, 0);
    if (!readHeader(in)) return false;
    if (hdr_.descriptor > 63 || !headerAcceptable()) return false;
    const unsigned char t = hdr_.imageType;
    if ((isMapped(t) || isGrey(t)) != (hdr_.depth == 8)) return false;
    if (!in.skip(hdr_.idLength)) return false;
    if (isMapped(t) && !loadPalette(in)) return false;
    long long pixels = 0;
    if (!checkPixelCount(hdr_.width, hdr_.height, &pixels)) return false;
    // Pixel data the stream cannot hold is refused before the picture is
    // allocated: plain data takes depth / 8 bytes a pixel, a run-length
    // packet of 1 + depth / 8 bytes at most 128 pixels.
    const long long size = s->size();
    const long long bpp = hdr_.depth / 8;
    const bool plain = t == kMapped || t == kTrue || t == kGrey;
    long long least = 0;
    if (!(plain ? checked_mul(pixels, bpp, least) : checked_mul((pixels + 127) / 128, 1 + bpp, least))) return false;
    if (size > 0 && least > size) return false;

    width_ = hdr_.width;
    height_ = hdr_.height;
    is16Bpp_ = false;
    if (!sizeBuffer(line_, width_)) return false;
    extActive_ = startExtRender();
    if (!extActive_ && !allocPixels8(hdr_.width, hdr_.height)) return false;
    const bool ok = plain ? decodePlain(in) : decodeRle(in);
    if (ok && hdr_.depth == 32 && !anyAlpha_) {
        // Writers that leave the alpha byte at 0 mean an opaque picture.
        if (extActive_) {
            for (long long y = 0; y < height_; ++y)
                for (long long x = 0; x < width_; ++x) setExtComp(x, y, 0xFF, 3);
        } else {
            unsigned int* p = pixels8_.data();
            for (long long i = 0, n = width_ * height_; i < n; ++i) p[i] |= 0xFF000000u;
        }
    }
    if (extActive_) {
        endExtRender();
        extActive_ = false;
    }
    line_.set(0);
    return ok;
}
