// PCX decoding.
#include "picts/pictpcx.h"

#include "base/bytereader.h"
#include "base/checked.h"

#include <cstring>
#include <new>

bool cPictPCX::validFor(cFileIOTarget* stream, sPictInfo* info) {
    cPictPCX probe;
    return probe.isPicture(stream, info);
}

bool cPictPCX::loadHeader(cByteReader& in) {
    std::memset(header_, 0, sizeof header_);
    // The last header byte is padding and may be missing from the probe's view.
    if (!in.read(header_, kHeaderBytes - 1)) return false;
    const unsigned char* h = header_;
    if (h[0] != 10 || h[1] != 5 || h[2] != 1 || h[3] != 8) return false;
    if (cByteReader::u16le(h + 4) || cByteReader::u16le(h + 6)) return false;
    // Xmax and Ymax are the last column and row: 0 is a picture one pixel
    // wide or high, as writers produce for such pictures.
    const unsigned int xmax = cByteReader::u16le(h + 8), ymax = cByteReader::u16le(h + 10);
    if (!cByteReader::u16le(h + 12) || !cByteReader::u16le(h + 14)) return false;
    if (h[64] != 0 || (h[65] != 1 && h[65] != 3)) return false;
    const unsigned int bpl = cByteReader::u16le(h + 66);
    if (!bpl || bpl < xmax + 1) return false;
    if ((h[68] & 0xFF) != 1 && (h[68] & 0xFF) != 2) return false;
    planes_ = h[65];
    bytesPerLine_ = static_cast<int>(bpl);
    width_ = xmax + 1;
    height_ = ymax + 1;
    return true;
}

bool cPictPCX::isPicture(cFileIOTarget* stream, sPictInfo* info) {
    if (!stream) return false;
    cByteReader in(stream, kHeaderBytes - 1, 0);
    if (!loadHeader(in)) return false;
    if (info) {
        info->width = width_;
        info->height = height_;
        info->hasPreview = false;
    }
    width_ = height_ = 0;
    return true;
}

bool cPictPCX::loadPalette(cByteReader& in) {
    if (!sizeBuffer(palette_, 256)) return false;
    unsigned char rgb[768];
    // A file too short to hold image data and the trailer has none: the
    // header palette stands.
    const long long size = in.sourceSize();
    if (size >= static_cast<long long>(kHeaderBytes + kTrailerBytes) && in.seek(static_cast<std::size_t>(size) - kTrailerBytes)) {
        unsigned char mark = 0;
        if (!in.byte(mark)) return false;
        if (mark == 12) {
            if (!in.read(rgb, 768)) return false;
            for (int i = 0; i < 256; ++i)
                palette_.data()[i] = 0xFF000000u | static_cast<unsigned int>(rgb[3 * i]) << 16 |
                                     static_cast<unsigned int>(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
            paletteCount_ = 256;
            return true;
        }
    }
    bool any = false;
    for (int i = 0; i < 48; ++i) any |= header_[16 + i] != 0;
    if (!any) return false;
    for (int i = 0; i < 16; ++i)
        palette_.data()[i] = 0xFF000000u | static_cast<unsigned int>(header_[16 + 3 * i]) << 16 |
                             static_cast<unsigned int>(header_[16 + 3 * i + 1]) << 8 | header_[16 + 3 * i + 2];
    paletteCount_ = 16;
    return true;
}

bool cPictPCX::decode(cFileIOTarget* s) {
    close();
    palette_.set(0);
    paletteCount_ = 0;
    if (!s) return false;
    cByteReader in(s, cByteReader::kStreamWindow, 0);
    if (!loadHeader(in)) return false;
    const long long w = width_, h = height_;
    width_ = height_ = 0;
    if (!checkPixelCount(w, h)) return false;
    if (planes_ == 1 && !loadPalette(in)) return false;
    if (!in.seek(kHeaderBytes)) return false;

    const long long lineBytes = static_cast<long long>(planes_) * bytesPerLine_;
    // Rows the stream cannot hold are refused before the picture is
    // allocated: a run of two bytes gives at most 63 values, a lone byte one.
    const long long size = in.sourceSize();
    const long long leastPerRow = lineBytes / 63 * 2 + (lineBytes % 63 ? 1 : 0);
    long long least = 0;
    if (!checked_mul(h, leastPerRow, least) || (size > 0 && least > size)) return false;
    _typebuf<unsigned char> values;
    _typebuf<unsigned int> line;
    if (!sizeBuffer(values, lineBytes) || !sizeBuffer(line, w)) return false;
    width_ = w;
    height_ = h;
    is16Bpp_ = false;
    const bool ext = startExtRender();
    if (!ext && !allocPixels8(w, h)) return false;

    bool ok = true;
    for (long long r = 0; r < h && ok; ++r) {
        // One row: every plane's line in turn, runs crossing from one plane
        // to the next but not into the next row.
        long long got = 0;
        while (got < lineBytes) {
            unsigned char b = 0, v = 0;
            if (!in.byte(b)) {
                ok = false;
                break;
            }
            long long n = 1;
            if (b >= 0xC0) {
                n = b & 0x3F;
                if (n == 0) n = 1;
                if (!in.byte(v)) {
                    ok = false;
                    break;
                }
            } else {
                v = b;
            }
            if (n > lineBytes - got) n = lineBytes - got;
            std::memset(values.data() + got, v, static_cast<std::size_t>(n));
            got += n;
        }
        if (!ok) break;
        const long long y = h - 1 - r;
        unsigned int* out = line.data();
        const unsigned char* vals = values.data();
        if (planes_ == 1) {
            for (long long x = 0; x < w; ++x) {
                if (vals[x] >= paletteCount_) {
                    ok = false;
                    break;
                }
                out[x] = palette_.data()[vals[x]];
            }
        } else {
            const unsigned char* g = vals + bytesPerLine_;
            const unsigned char* b = g + bytesPerLine_;
            for (long long x = 0; x < w; ++x)
                out[x] = 0xFF000000u | static_cast<unsigned int>(vals[x]) << 16 | static_cast<unsigned int>(g[x]) << 8 | b[x];
        }
        if (!ok) break;
        if (ext) {
            if (canExtRender(0, w - 1, y, y)) setExtRow(y, out, w);
        } else {
            std::memcpy(pixels8_.data() + y * w, out, static_cast<std::size_t>(w) * 4);
        }
    }
    if (ext) endExtRender();
    return ok;
}
