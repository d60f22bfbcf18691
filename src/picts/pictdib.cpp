// DIB and BMP decoding and writing.
#include "picts/pictdib.h"

#include "base/checked.h"
#include "base/memio.h"
#include "picts/pictjpeg.h"
#include "picts/pictpng.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

cPictBase* cPictDIB::makeJpegDecoder() { return new (std::nothrow) cPictJPEG; }

cPictDIB::tEmbeddedDecoderMaker cPictDIB::sEmbeddedJpegMaker = &cPictDIB::makeJpegDecoder;

const unsigned int cPictDIB::myStd16CPallette[16] = {
    0xFF000000u, 0xFF0000AAu, 0xFF00AA00u, 0xFF00AAAAu, 0xFFAA0000u, 0xFFAA00AAu, 0xFFAA5500u, 0xFFAAAAAAu,
    0xFF555555u, 0xFF5555FFu, 0xFF55FF55u, 0xFF55FFFFu, 0xFFFF5555u, 0xFFFF55FFu, 0xFFFFFF55u, 0xFFFFFFFFu};

namespace {

enum : unsigned int {
    kRGB = 0, kRLE8 = 1, kRLE4 = 2, kBitFields = 3, kJPEG = 4, kPNG = 5, kAlphaBitFields = 6,
    // FourCC forms stored as little-endian words.
    kFourRGB2 = 0x32424752u, kFourRLE4 = 0x34454C52u, kFourRLE8 = 0x38454C52u
};


bool validBits(unsigned int bpp) { return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32; }

bool validCompression(unsigned int c) {
    return c <= 6 || c == kFourRGB2 || c == kFourRLE4 || c == kFourRLE8;
}

// Reads the information header into h (widening a 12-byte core header);
// the header size, or 0 when it is not one of ours.
unsigned int readInfoHeader(cByteReader& s, unsigned char* h) {
    std::memset(h, 0, 124);
    if (!s.read(h, 4)) return 0;
    const unsigned int size = cByteReader::u32le(h);
    if (size == 12) {
        unsigned char core[8];
        if (!s.read(core, 8)) return 0;
        // u16 width, height, planes, bits: into the 40-byte layout.
        h[4] = core[0], h[5] = core[1];
        h[8] = core[2], h[9] = core[3];
        h[12] = core[4], h[13] = core[5];
        h[14] = core[6], h[15] = core[7];
        return size;
    }
    if (size < 40 || size > 124) return 0;
    return s.read(h + 4, size - 4) ? size : 0;
}

// One colour mask: shift to its lowest bit and scale to 0..255.
struct sMask {
    unsigned int mask = 0, shift = 0, max = 0;
    bool raw = false;  // 8 bits: taken as they are
    explicit sMask(unsigned int m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        max = m >> shift;
    }
    unsigned int get(unsigned int v) const {
        if (!mask) return 0;
        const unsigned int c = (v & mask) >> shift;
        if (raw) return c & 0xFF;
        // Exact scaling: a full-scale component is 255.
        return static_cast<unsigned int>(static_cast<unsigned long long>(c) * 255 / max);
    }
};

int bitCount(unsigned int m) { return __builtin_popcount(m); }


}  // namespace

cPictDIB::cPictDIB() { std::memset(header_, 0, sizeof header_); }
cPictDIB::~cPictDIB() = default;


// ---------------------------------------------------------------------------
// Probes

bool cPictDIB::validFor(cFileIOTarget* stream, sPictInfo* info, bool halveHeight) {
    if (!stream) return false;
    unsigned char h[124];
    cByteReader in(stream, 124, 0);
    if (!readInfoHeader(in, h)) return false;
    const long long w = static_cast<int>(cByteReader::u32le(h + 4));
    const long long ht = static_cast<int>(cByteReader::u32le(h + 8));
    const unsigned int planes = cByteReader::u16le(h + 12), bpp = cByteReader::u16le(h + 14), comp = cByteReader::u32le(h + 16);
    const bool core = cByteReader::u32le(h) == 12;
    const long long width = core ? cByteReader::u16le(h + 4) : w;
    const long long height = core ? cByteReader::u16le(h + 8) : ht;
    // Top-down bitmaps (negative height) are as good as bottom-up ones.
    const long long absH = height < 0 ? -height : height;
    if (width <= 0 || absH == 0 || width > 0x10000 || absH > 0x10000 || planes != 1) return false;
    // Embedded JPEG and PNG data carry their own depth: 0 is usual there.
    if (!validCompression(comp) || !(validBits(bpp) || (bpp == 0 && (comp == kJPEG || comp == kPNG)))) return false;
    if (info) {
        info->width = width;
        info->height = halveHeight && comp != kJPEG && comp != kPNG ? absH >> 1 : absH;
        info->hasPreview = false;
    }
    return true;
}

bool cPictBMP::validFor(cFileIOTarget* stream, sPictInfo* info) {
    unsigned char fh[14];
    if (!stream) return false;
    cByteReader in(stream, 14, 0);
    if (!in.read(fh, 14)) return false;
    if (fh[0] != 'B' || fh[1] != 'M' || cByteReader::u32le(fh + 6) != 0) return false;
    const unsigned int fileSize = cByteReader::u32le(fh + 2), offset = cByteReader::u32le(fh + 10);
    if (offset < minDIBSize() + 14 || fileSize < offset) return false;
    return cPictDIB::validFor(stream, info, false);
}

// ---------------------------------------------------------------------------
// Decoding

bool cPictBMP::decode(cFileIOTarget* stream) {
    unsigned char fh[14];
    consumed_ = 0;
    if (!stream) return false;
    cByteReader in(stream, cByteReader::kStreamWindow, 0);
    if (!in.read(fh, 14)) return false;
    if (fh[0] != 'B' || fh[1] != 'M' || cByteReader::u32le(fh + 6) != 0) return false;
    const unsigned int fileSize = cByteReader::u32le(fh + 2), offset = cByteReader::u32le(fh + 10);
    if (offset < minDIBSize() + 14 || fileSize < offset) return false;
    dataEnd_ = fileSize - 14ULL;
    dataOffset_ = offset - 14ULL;
    consumed_ = 14;
    return decodeDIB(in, false);
}

bool cPictDIB::decode(cFileIOTarget* stream) {
    consumed_ = 0;
    if (!stream) return false;
    cByteReader in(stream, cByteReader::kStreamWindow, 0);
    return decodeDIB(in, true);
}

bool cPictDIB::readCounted(cByteReader& s, void* buf, unsigned long long n) {
    unsigned char* p = static_cast<unsigned char*>(buf);
    while (n) {
        const unsigned int want = static_cast<unsigned int>(std::min<unsigned long long>(n, 1u << 30));
        if (!s.read(p, want)) return false;
        consumed_ += want;
        p += want;
        n -= want;
    }
    return true;
}

bool cPictDIB::loadPalette(cByteReader& s, unsigned int count, bool core) {
    if (core) return loadLegacyPalette(s, count);
    if (!sizeBuffer(palette_, 256)) return false;
    std::vector<unsigned char> raw(static_cast<std::size_t>(count) * 4);
    if (!readCounted(s, raw.data(), raw.size())) return false;
    for (unsigned int i = 0; i < count; ++i) palette_[i] = cByteReader::u32le(&raw[4 * i]);
    paletteCount_ = count;
    return true;
}

bool cPictDIB::loadLegacyPalette(cByteReader& s, unsigned int count) {
    if (!sizeBuffer(palette_, 256)) return false;
    std::vector<unsigned char> raw(static_cast<std::size_t>(count) * 3);
    if (!readCounted(s, raw.data(), raw.size())) return false;
    for (unsigned int i = 0; i < count; ++i)
        palette_[i] = 0xFF000000u | static_cast<unsigned int>(raw[3 * i + 2]) << 16 |
                      static_cast<unsigned int>(raw[3 * i + 1]) << 8 | raw[3 * i];
    paletteCount_ = count;
    return true;
}

bool cPictDIB::decodeDIB(cByteReader& s, bool bareDib) {
    // A picture of the same size as the one before is written over its pixels.
    reopen();
    const bool ok = decodeDIBInto(s, bareDib);
    dropStalePixels();
    return ok;
}

bool cPictDIB::decodeDIBInto(cByteReader& s, bool bareDib) {
    palette_.set(0);
    paletteCount_ = 0;
    extActive_ = false;
    headerSize_ = readInfoHeader(s, header_);
    if (!headerSize_) return false;
    consumed_ += headerSize_;
    const bool core = headerSize_ == 12;
    const long long width = i32at(4);
    const long long height = i32at(8);
    const unsigned int planes = u16at(12), bpp = u16at(14);
    unsigned int comp = u32at(16);
    topDown_ = height < 0;
    rows_ = topDown_ ? -height : height;
    if (width <= 0 || rows_ == 0 || width > 0x10000 || rows_ > 0x10000 || planes != 1) return false;
    if (!(validBits(bpp) || (bpp == 0 && (comp == kJPEG || comp == kPNG)))) return false;
    if (bareDib) {
        const unsigned long long imageSize = u32at(20);
        dataEnd_ = imageSize ? imageSize + headerSize_ : 0x7FFFFFFFULL;
        dataOffset_ = headerSize_;
        // A bare DIB keeps its colour masks right after a 40-byte header.
        if (headerSize_ == 40 && (comp == kBitFields || comp == kAlphaBitFields)) {
            const unsigned int masks = comp == kBitFields ? 12 : 16;
            dataOffset_ += masks;
            if (imageSize) dataEnd_ += masks;
        }
    }

    // Palette.
    const unsigned int entry = core ? 3 : 4;
    const unsigned long long gap = dataOffset_ > headerSize_ ? dataOffset_ - headerSize_ : 0;
    unsigned int count = core ? 0 : u32at(32);
    unsigned long long palBytes = 0, palNeed = 0;
    if (bpp <= 8 && bpp > 0) {
        // More colours than the depth can index would only be skipped.
        const unsigned int most = 1u << bpp;
        if (count == 0 || count > most) count = most;
        if (bpp == 1 && gap) count = 2;
        if (gap) {
            if (!checked_mul(count, entry, palNeed) || gap < palNeed) return false;
            if (!loadPalette(s, count, core)) return false;
            palBytes = palNeed;
        } else if (forcedPalette_) {
            if (!loadPalette(s, count, core) || !checked_mul(count, entry, palBytes)) return false;
            dataOffset_ += palBytes;
            dataEnd_ += palBytes;
        } else if (bpp == 1) {
            if (!sizeBuffer(palette_, 256)) return false;
            palette_[0] = 0x000000u;
            palette_[1] = 0xFFFFFFu;
            paletteCount_ = 2;
        } else if (bpp == 4) {
            if (!sizeBuffer(palette_, 256)) return false;
            for (unsigned int i = 0; i < count; ++i) palette_[i] = myStd16CPallette[i];
            paletteCount_ = count;
        } else {
            return false;
        }
    }

    // Up to the pixel data: colour masks after a 40-byte header land in the
    // header copy; the rest of the gap is skipped.
    unsigned long long pos = headerSize_ + palBytes;
    if (pos < dataOffset_) {
        // (A core header's fields are widened in place: a gap after one is
        // only skipped.)
        if (pos < 124 && !core) {
            const unsigned long long upto = std::min<unsigned long long>(124, dataOffset_);
            if (!readCounted(s, header_ + pos, upto - pos)) return false;
            pos = upto;
        }
        unsigned char skip[4096];
        while (pos < dataOffset_) {
            const unsigned long long n = std::min<unsigned long long>(sizeof skip, dataOffset_ - pos);
            if (!readCounted(s, skip, n)) return false;
            pos += n;
        }
    }

    if (comp == kJPEG || comp == kPNG) return decodeEmbedded(s, comp == kPNG);

    long long pictH = rows_;
    if (andMask_) {
        if (comp == kRLE4 || comp == kRLE8 || comp == kFourRLE4 || comp == kFourRLE8) return false;
        pictH = rows_ / 2;
        rows_ = pictH;
    }
    if (!checkPixelCount(width, pictH)) return false;
    width_ = width;
    height_ = pictH;
    is16Bpp_ = false;

    // Icon entries and 32-bit bitmaps are decoded whole and then fitted: the
    // AND mask and the all-zero alpha rule need every pixel first.
    sExtPictDef* deferred = nullptr;
    const bool rgb = comp == kRGB || comp == kFourRGB2 || comp == kBitFields || comp == kAlphaBitFields;
    if (ext_ && (andMask_ || (rgb && bpp == 32))) {
        deferred = ext_;
        ext_ = nullptr;
    }
    extActive_ = startExtRender();
    bool ok;
    switch (comp) {
        case kRLE8:
        case kFourRLE8: ok = decodeRLE8(s); break;
        case kRLE4:
        case kFourRLE4: ok = decodeRLE4(s); break;
        case kRGB:
        case kFourRGB2: ok = decodeRGB(s, false); break;
        case kBitFields:
        case kAlphaBitFields: ok = decodeRGB(s, true); break;
        default: ok = false; break;
    }
    if (extActive_) {
        endExtRender();
        extActive_ = false;
    }
    if (deferred) {
        if (ok) ok = toExtTarget(deferred);
        close();
        width_ = width;
        height_ = pictH;
    }
    return ok;
}

bool cPictDIB::decodeEmbedded(cByteReader& s, bool png) {
    cPictBase* inner = nullptr;
    cPictPNG pngDecoder;
    if (png) {
        inner = &pngDecoder;
    } else {
        if (!sEmbeddedJpegMaker) return false;
        inner = sEmbeddedJpegMaker();
        if (!inner) return false;
    }
    unsigned long long length = u32at(20);
    const long long total = s.sourceSize();
    if (!length && total > 0 && static_cast<unsigned long long>(total) > consumed_) length = total - consumed_;
    cFileIOSubRange window(s.stream(), consumed_, length);
    // The render target travels down to the embedded decoder, which draws
    // into it instead of a picture of its own.
    sExtPictDef* target = ext_;
    ext_ = nullptr;
    if (target && inner->supportsExtRendering()) inner->setExtTarget(target);
    bool ok = window.valid() && inner->decode(&window);
    if (ok) {
        const long long w = inner->width(), h = inner->height();
        const bool kept = inner->is16Bpp() ? inner->raw16Bpp() != nullptr : inner->raw8Bpp() != nullptr;
        if (kept) {
            // The picture moves over (16-bit pixels as 8-bit ones), and is
            // fitted into the target when the embedded decoder could not
            // draw there itself.
            if (inner->is16Bpp()) {
                _typebuf<unsigned int> px;
                ok = inner->getColorData(px) && px.count() == w * h;
                if (ok) pixels8_.swap(px);
                inner->close();
            } else {
                inner->moveTo(*this);
            }
            width_ = w;
            height_ = h;
            is16Bpp_ = false;
            if (ok && target) {
                ok = toExtTarget(target);
                close();
            }
        } else if (!target) {
            ok = false;
        }
        width_ = w;
        height_ = h;
    }
    if (!ok) close();
    if (!png) delete inner;
    return ok;
}

bool cPictDIB::decodeRGB(cByteReader& s, bool bitFields) {
    const unsigned int bpp = u16at(14);
    const long long w = width_;
    const long long rows = rows_;
    unsigned long long stride = 0, total = 0, end = 0;
    if (!checked_mul(static_cast<unsigned long long>(w), bpp, stride)) return false;
    stride = (stride + 31) / 32 * 4;
    if (!checked_mul(stride, static_cast<unsigned long long>(rows), total) || !checked_add(dataOffset_, total, end))
        return false;
    if (stride > dataEnd_ || total > dataEnd_ || end > dataEnd_) return false;
    // Rows the stream cannot hold are refused before the picture is allocated.
    const long long streamSize = s.sourceSize();
    if (streamSize > 0 && total > static_cast<unsigned long long>(streamSize)) return false;
    if (!extActive_ && !allocPixels8(w, height_)) return false;

    unsigned int rm = 0x7C00, gm = 0x03E0, bm = 0x001F, am = 0;
    if (bpp == 24 || bpp == 32) rm = gm = bm = 0;
    if (bitFields) {
        rm = u32at(40), gm = u32at(44), bm = u32at(48), am = u32at(52);
        if ((bpp == 24 || bpp == 32) && !(rm | gm | bm | am)) return false;
    }
    sMask R(rm), G(gm), B(bm), A(am);
    if ((bpp == 24 || bpp == 32) && bitCount(rm) == 8 && bitCount(gm) == 8 && bitCount(bm) == 8) R.raw = G.raw = B.raw = A.raw = true;
    const bool useMasks = bpp == 16 || bitFields;

    if ((bpp == 1 && paletteCount_ != 2) || (bpp <= 8 && !palette_.data())) return false;
    const unsigned int* pal = palette_.data();
    const unsigned int palN = paletteCount_;

    // Rows are read in blocks to keep the reads few.
    const unsigned long long blockRows = std::max<unsigned long long>(1, (1u << 20) / std::max<unsigned long long>(stride, 1));
    _typebuf<unsigned char> buf;
    long long blockBytes = 0;
    if (!checked_mul(static_cast<long long>(std::min<unsigned long long>(blockRows, rows)), static_cast<long long>(stride),
                     blockBytes) ||
        !sizeBuffer(buf, blockBytes))
        return false;
    _typebuf<unsigned int> line;
    if (extActive_ && !sizeBuffer(line, w)) return false;
    bool anyAlpha = false;
    const bool alphaFromData = bpp == 32 && (!bitFields || am != 0);

    for (long long r0 = 0; r0 < rows; r0 += static_cast<long long>(blockRows)) {
        const long long n = std::min<long long>(static_cast<long long>(blockRows), rows - r0);
        if (!readCounted(s, buf.data(), static_cast<unsigned long long>(n) * stride)) return false;
        for (long long k = 0; k < n; ++k) {
            const long long fileRow = r0 + k;
            const long long y = topDown_ ? height_ - 1 - fileRow : fileRow;
            if (y < 0 || y >= height_) continue;
            const unsigned char* src = buf.data() + static_cast<unsigned long long>(k) * stride;
            if (extActive_ && !canExtRender(0, w - 1, y, y)) continue;
            unsigned int* out = extActive_ ? line.data() : pixels8_.data() + y * w;
            switch (bpp) {
                case 1:
                    for (long long x = 0; x < w; ++x) out[x] = pal[(src[x >> 3] >> (7 - (x & 7))) & 1] | 0xFF000000u;
                    break;
                case 4:
                    for (long long x = 0; x < w; ++x) {
                        const unsigned int idx = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
                        if (idx >= palN) return false;
                        out[x] = pal[idx] | 0xFF000000u;
                    }
                    break;
                case 8:
                    for (long long x = 0; x < w; ++x) {
                        if (src[x] >= palN) return false;
                        out[x] = pal[src[x]] | 0xFF000000u;
                    }
                    break;
                case 16:
                    for (unsigned long long p = static_cast<unsigned long long>(w) * 2; p < stride; ++p)
                        if (src[p]) return false;
                    for (long long x = 0; x < w; ++x) {
                        const unsigned int v = cByteReader::u16le(src + 2 * x);
                        out[x] = (am ? A.get(v) : 0xFFu) << 24 | R.get(v) << 16 | G.get(v) << 8 | B.get(v);
                    }
                    break;
                case 24:
                    for (unsigned long long p = static_cast<unsigned long long>(w) * 3; p < stride; ++p)
                        if (src[p]) return false;
                    if (!useMasks) {
                        bgrToPixels(src, out, w);
                    } else {
                        for (long long x = 0; x < w; ++x) {
                            const unsigned int v = src[3 * x] | src[3 * x + 1] << 8 | src[3 * x + 2] << 16;
                            const unsigned int a = extActive_ || !am ? 0xFFu : A.get(v);
                            out[x] = a << 24 | R.get(v) << 16 | G.get(v) << 8 | B.get(v);
                        }
                    }
                    break;
                case 32:
                    if (!useMasks) {
                        std::memcpy(out, src, static_cast<std::size_t>(w) * 4);
                    } else {
                        for (long long x = 0; x < w; ++x) {
                            const unsigned int v = cByteReader::u32le(src + 4 * x);
                            out[x] = (am ? A.get(v) : 0xFFu) << 24 | R.get(v) << 16 | G.get(v) << 8 | B.get(v);
                        }
                    }
                    if (alphaFromData && !anyAlpha)
                        for (long long x = 0; x < w && !anyAlpha; ++x) anyAlpha = (out[x] >> 24) != 0;
                    break;
            }
            if (extActive_) setExtRow(y, out, w);
        }
    }
    if (extActive_) return true;
    if (alphaFromData && !anyAlpha) {
        // Writers that leave the fourth byte as padding fill it with zeros: a
        // bitmap whose every alpha is 0 is opaque, not invisible.  Icons keep
        // their AND mask for that case.
        unsigned int* p = pixels8_.data();
        for (long long i = 0, n = w * height_; i < n; ++i) p[i] |= 0xFF000000u;
        if (andMask_) loadMergeAlpha(s);
        return true;
    }
    if (andMask_ && bpp < 32) loadMergeAlpha(s);
    return true;
}

bool cPictDIB::loadMergeAlpha(cByteReader& s) {
    const long long w = width_, h = height_;
    const unsigned long long stride = (static_cast<unsigned long long>(w) + 31) / 32 * 4;
    _typebuf<unsigned char> mask;
    long long maskBytes = 0;
    if (!checked_mul(static_cast<long long>(stride), h, maskBytes) || !sizeBuffer(mask, maskBytes)) return false;
    if (!readCounted(s, mask.data(), mask.bytes())) return false;  // short: left unmasked
    for (long long r = 0; r < h; ++r) {
        const long long y = topDown_ ? h - 1 - r : r;
        const unsigned char* m = mask.data() + static_cast<unsigned long long>(r) * stride;
        unsigned int* out = pixels8_.data() + y * w;
        for (long long x = 0; x < w; ++x) {
            const bool transparent = (m[x >> 3] >> (7 - (x & 7))) & 1;
            out[x] = transparent ? (out[x] & 0x00FFFFFFu) : (out[x] | 0xFF000000u);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// RLE

bool cPictDIB::rleFill(sRLELineCtx* c) {
    const long long w = width_;
    const long long y = c->row;
    if (y >= 0 && y < height_ && (!extActive_ || canExtRender(0, w - 1, y, y))) {
        unsigned int* out = extActive_ ? c->pixels.data() : pixels8_.data() + y * w;
        if (c->blank && c->blankReady && extActive_) {
            // The line of index 0 made for the previous blank row still stands.
        } else if (c->blank) {
            std::fill(out, out + w, (paletteCount_ ? palette_[0] : 0u) | 0xFF000000u);
        } else {
            const unsigned char* idx = c->line.data();
            const unsigned int* pal = palette_.data();
            for (long long x = 0; x < w; ++x) {
                // An index past the palette shows as index 0.
                const unsigned int i = idx[x] < paletteCount_ ? idx[x] : 0;
                out[x] = (paletteCount_ ? pal[i] : 0u) | 0xFF000000u;
            }
        }
        if (extActive_) {
            c->blankReady = c->blank;
            setExtRow(y, out, w);
        }
    }
    c->row += c->upward ? 1 : -1;
    ++c->y;
    if (!c->blank) std::memset(c->line.data(), 0, static_cast<std::size_t>(w));
    c->blank = true;
    return true;
}

bool cPictDIB::decodeRLE8(cByteReader& s) { return u16at(14) == 8 && decodeRLE(s, false); }
bool cPictDIB::decodeRLE4(cByteReader& s) { return u16at(14) == 4 && decodeRLE(s, true); }

bool cPictDIB::decodeRLE(cByteReader& s, bool four) {
    const long long w = width_, rows = rows_;
    // End-of-bitmap and skips describe area without bytes: a picture larger
    // than the rest of the stream may describe is refused before it is
    // reserved, and rows filled for free stop at the same budget as the
    // data arrives (for streams of unknown size).
    const long long size = s.sourceSize();
    const long long left = size >= 0 && static_cast<unsigned long long>(size) >= consumed_ ? size - consumed_ : -1;
    if (!inputCanDescribe(w * height_, left)) return false;
    auto withinBudget = [&](long long rowsFilled) { return inputCanDescribe(rowsFilled * w, static_cast<long long>(consumed_)); };
    if (!extActive_ && !allocPixels8(w, height_)) return false;
    sRLELineCtx c;
    if (!sizeBuffer(c.line, w) || (extActive_ && !sizeBuffer(c.pixels, w))) return false;
    std::memset(c.line.data(), 0, static_cast<std::size_t>(w));
    c.upward = !topDown_;
    c.row = topDown_ ? height_ - 1 : 0;
    c.y = 0;
    long long x = 0;
    // The rest of the bitmap, when the data ends it early, stays at index 0.
    auto finish = [&]() {
        if (left < 0 && !withinBudget(rows)) return false;
        while (c.y < rows) rleFill(&c);
        return true;
    };
    unsigned char code[2];
    unsigned char lit[256];
    for (;;) {
        if (!s.read(code, 2)) return false;
        consumed_ += 2;
        if (code[0] > 0) {
            if (c.y >= rows) return false;
            c.blank = false;
            long long n = code[0];
            // Writers encode the row's padding too (ImageMagick among them):
            // what runs past the line's end is dropped.
            if (!four) {
                const long long m = std::min(n, w - x);
                std::memset(c.line.data() + x, code[1], static_cast<std::size_t>(m));
                x += m;
            } else {
                for (long long i = 0; i < n && x < w; ++i) c.line[x++] = (i & 1) ? (code[1] & 0xF) : (code[1] >> 4);
            }
            continue;
        }
        switch (code[1]) {
            case 0:  // end of line: the rest of the line stays at index 0
                if (c.y >= rows || (left < 0 && !withinBudget(c.y + 1))) return false;
                rleFill(&c);
                x = 0;
                break;
            case 1:  // end of bitmap: the line so far and every row left
                return finish();
            case 2: {
                unsigned char d[2];
                if (!s.read(d, 2)) return false;
                consumed_ += 2;
                if (c.y + d[1] >= rows || d[0] > w - x) return false;
                if (left < 0 && !withinBudget(c.y + d[1])) return false;
                for (int k = 0; k < d[1]; ++k) {
                    rleFill(&c);  // the rest of the line at 0, x kept
                }
                x += d[0];
                break;
            }
            default: {
                const long long n = code[1];
                if (c.y >= rows) return false;
                long long bytes = four ? (n + 1) / 2 : n;
                const long long padded = bytes + (bytes & 1);
                if (!s.read(lit, static_cast<std::size_t>(padded))) return false;
                consumed_ += static_cast<unsigned long long>(padded);
                c.blank = false;
                for (long long i = 0; i < n && x < w; ++i)
                    c.line[x++] = four ? ((i & 1) ? (lit[i / 2] & 0xF) : (lit[i / 2] >> 4)) : lit[i];
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Writing

namespace {
void putLE(unsigned char* p, unsigned int v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
}  // namespace

bool cPictDIB::save(cPictBase* p, cFileIOTarget* out) {
    if (!p || !out || p->width() <= 0 || p->height() <= 0) return false;
    const long long w = p->width(), h = p->height();
    unsigned long long bytes = 0;
    if (!checked_mul(static_cast<unsigned long long>(w), static_cast<unsigned long long>(h), 4ULL, bytes) ||
        bytes > 0xFFFFFFFFULL - 70 || w > 0x7FFFFFFF || h > 0x7FFFFFFF)
        return false;
    unsigned char hdr[56] = {};
    putLE(hdr, 56, 4);
    putLE(hdr + 4, static_cast<unsigned int>(w), 4);
    putLE(hdr + 8, static_cast<unsigned int>(h), 4);
    putLE(hdr + 12, 1, 2);
    putLE(hdr + 14, 32, 2);
    putLE(hdr + 16, 3, 4);
    putLE(hdr + 20, static_cast<unsigned int>(bytes), 4);
    putLE(hdr + 24, 2925, 4);
    putLE(hdr + 28, 2925, 4);
    putLE(hdr + 40, 0x00FF0000u, 4);
    putLE(hdr + 44, 0x0000FF00u, 4);
    putLE(hdr + 48, 0x000000FFu, 4);
    putLE(hdr + 52, 0xFF000000u, 4);
    if (!out->writef(hdr, 56)) return false;
    _typebuf<unsigned int> converted;
    const unsigned int* px = p->raw8Bpp();
    if (p->is16Bpp()) {
        if (!p->getColorData(converted)) return false;
        px = converted.data();
    }
    if (!px) return false;
    // Little-endian words, as the masks say.
    const unsigned char* bytesPtr = reinterpret_cast<const unsigned char*>(px);
    unsigned long long left = bytes;
    while (left) {
        const unsigned int n = static_cast<unsigned int>(std::min<unsigned long long>(left, 1u << 24));
        if (!out->writef(const_cast<unsigned char*>(bytesPtr), n)) return false;
        bytesPtr += n;
        left -= n;
    }
    return true;
}

bool cPictBMP::save(cPictBase* p, cFileIOTarget* out) {
    if (!p || !out || p->width() <= 0 || p->height() <= 0) return false;
    unsigned long long bytes = 0;
    if (!checked_mul(static_cast<unsigned long long>(p->width()), static_cast<unsigned long long>(p->height()), 4ULL,
                     bytes) ||
        bytes > 0xFFFFFFFFULL - 70)
        return false;
    unsigned char fh[14] = {'B', 'M'};
    putLE(fh + 2, static_cast<unsigned int>(56 + bytes + 14), 4);
    putLE(fh + 10, 70, 4);
    if (!out->writef(fh, 14)) return false;
    return cPictDIB::save(p, out);
}
