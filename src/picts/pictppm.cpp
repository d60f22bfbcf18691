// PPM, PGM and PBM (binary) decoding.
#include "picts/pictppm.h"

#include "base/checked.h"

#include <new>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool cPictPPM::validFor(cFileIOTarget* stream, sPictInfo* info) {
    cPictPPM probe;
    return probe.isPicture(stream, info);
}

bool cPictPPM::isPicture(cFileIOTarget* stream, sPictInfo* info) {
    if (!stream) return false;
    // Headers are a few dozen bytes unless comments make them longer.
    cByteReader in(stream, 64, 0);
    if (!loadSkipHeader(in)) return false;
    if (info) {
        info->width = width_;
        info->height = height_;
        info->hasPreview = false;
    }
    return true;
}

bool cPictPPM::skipComment(cByteReader& s) {
    for (;;) {
        unsigned char c = 0;
        if (!s.byte(c)) return false;
        if (c == '\n' || c == '\r') return true;
    }
}

bool cPictPPM::skipSpaces(cByteReader& s, char* c) {
    for (;;) {
        unsigned char b = 0;
        if (!s.byte(b)) return false;
        *c = static_cast<char>(b);
        if (*c == '#') {
            if (!skipComment(s)) return false;
        } else if (!isBlank(*c)) {
            return true;
        }
    }
}

bool cPictPPM::readNumber(cByteReader& s, unsigned long long& value) {
    char c = 0;
    if (!skipSpaces(s, &c) || !isDigit(c)) return false;
    value = 0;
    int digits = 0;
    while (isDigit(c)) {
        // Ten digits fit 64 bits with room to spare.
        if (++digits > kMaxDigits) return false;
        value = value * 10 + static_cast<unsigned long long>(c - '0');
        unsigned char b = 0;
        if (!s.byte(b)) return false;
        c = static_cast<char>(b);
    }
    // One blank ends the number; a comment may end it too, and then the
    // comment's line end is that one blank.
    if (c == '#') return skipComment(s);
    return isBlank(c);
}

bool cPictPPM::loadSkipHeader(cByteReader& s) {
    width_ = height_ = 0;
    char magic[2];
    if (!s.read(magic, 2) || magic[0] != 'P' || (magic[1] != '4' && magic[1] != '5' && magic[1] != '6'))
        return false;
    unsigned long long w = 0, h = 0, m = 2;
    if (!readNumber(s, w) || w == 0 || !readNumber(s, h) || h == 0) return false;
    if (magic[1] != '4' && (!readNumber(s, m) || m < 1 || m > 65535)) return false;
    // Sides beyond the library's cap could never be decoded.
    if (w > static_cast<unsigned long long>(kMaxPictSide) || h > static_cast<unsigned long long>(kMaxPictSide))
        return false;
    format_ = magic[1];
    maxval_ = static_cast<unsigned int>(m);
    width_ = static_cast<long long>(w);
    height_ = static_cast<long long>(h);
    return true;
}

bool cPictPPM::decode(cFileIOTarget* stream) {
    close();
    if (!stream) return false;
    cByteReader s(stream, cByteReader::kStreamWindow, 0);
    if (!loadSkipHeader(s)) return false;
    const long long w = width_, h = height_;
    const bool wide = maxval_ >= 256;
    if (!checkPixelCount(w, h, nullptr, wide ? 8 : 4)) {
        width_ = height_ = 0;
        return false;
    }
    const int channels = format_ == '6' ? 3 : 1;
    long long rowBytes = 0;
    if (format_ == '4')
        rowBytes = (w - 1) / 8 + 1;
    else if (!checked_mul(w, static_cast<long long>(channels * (wide ? 2 : 1)), rowBytes))
        return false;
    if (rowBytes > 0x7FFFFFFFLL) return false;
    // A raster the stream cannot hold is refused before anything is allocated.
    const long long size = s.sourceSize();
    long long total = 0;
    if (size > 0 && (!checked_mul(rowBytes, h, total) || total > size)) return false;

    _typebuf<unsigned char> row;
    _typebuf<unsigned int> line8;
    _typebuf<unsigned long long> line16;
    if (!sizeBuffer(row, rowBytes) || !(wide ? sizeBuffer(line16, w) : sizeBuffer(line8, w))) return false;
    is16Bpp_ = wide;
    const bool ext = startExtRender();
    if (!ext && !(wide ? allocPixels16(w, h) : allocPixels8(w, h))) return false;

    // Samples scaled to the full range, rounded; values past the maximum
    // count as the maximum.
    const unsigned int maxval = maxval_;
    const unsigned int full = wide ? 65535u : 255u;
    unsigned short scale8[256];
    if (!wide && format_ != '4')
        for (unsigned int v = 0; v < 256; ++v) {
            const unsigned int c = v > maxval ? maxval : v;
            scale8[v] = static_cast<unsigned short>((c * full + maxval / 2) / maxval);
        }
    auto scale16 = [&](unsigned int v) -> unsigned long long {
        if (v > maxval) v = maxval;
        return (static_cast<unsigned long long>(v) * full + maxval / 2) / maxval;
    };

    for (long long r = 0; r < h; ++r) {
        if (!s.read(row.data(), static_cast<std::size_t>(rowBytes))) {
            if (ext) endExtRender();
            return false;
        }
        const long long y = h - 1 - r;
        if (ext && !canExtRender(0, w - 1, y, y)) continue;
        const unsigned char* p = row.data();
        if (!wide) {
            unsigned int* out = ext ? line8.data() : pixels8_.data() + y * w;
            if (format_ == '4') {
                for (long long x = 0; x < w; ++x)
                    out[x] = (p[x >> 3] >> (7 - (x & 7))) & 1 ? 0xFF000000u : 0xFFFFFFFFu;
            } else if (format_ == '5') {
                for (long long x = 0; x < w; ++x) out[x] = 0xFF000000u | scale8[p[x]] * 0x010101u;
            } else {
                for (long long x = 0; x < w; ++x, p += 3)
                    out[x] = 0xFF000000u | static_cast<unsigned int>(scale8[p[0]]) << 16 |
                             static_cast<unsigned int>(scale8[p[1]]) << 8 | scale8[p[2]];
            }
            if (ext) setExtRow(y, out, w);
        } else {
            unsigned long long* out = ext ? line16.data() : pixels16_.data() + y * w;
            for (long long x = 0; x < w; ++x) {
                unsigned long long r16, g16, b16;
                if (format_ == '5') {
                    r16 = g16 = b16 = scale16(cByteReader::u16be(p));
                    p += 2;
                } else {
                    r16 = scale16(cByteReader::u16be(p));
                    g16 = scale16(cByteReader::u16be(p + 2));
                    b16 = scale16(cByteReader::u16be(p + 4));
                    p += 6;
                }
                out[x] = 0xFFFF000000000000ULL | r16 << 32 | g16 << 16 | b16;
                if (ext) setExtPix16(x, y, out[x]);
            }
        }
    }
    if (ext) endExtRender();
    return true;
}
