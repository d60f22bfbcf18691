// PNG decoding: chunk loop, header and transparency checks, streamed IDAT
// inflation, the five filters, Adam7 and sample conversion.
#include "picts/pictpng.h"

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/checksum.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <emmintrin.h>

namespace {

// Bytes past the end of each scanline buffer, for the filters' whole-word loads.
constexpr long long kLineSlack = 8;
// Bytes of scanlines inflated per step (at least two lines).
constexpr long long kInflateBatch = 256 * 1024;

const unsigned char kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

inline bool isType(const unsigned char* t, const char* name) { return std::memcmp(t, name, 4) == 0; }


// Paeth predictor of the PNG filter rules.
inline unsigned char paeth(int a, int b, int c) {
    const int p = a + b - c;
    int pa = p - a, pb = p - b, pc = p - c;
    pa = pa < 0 ? -pa : pa;
    pb = pb < 0 ? -pb : pb;
    pc = pc < 0 ? -pc : pc;
    if (pa <= pb && pa <= pc) return static_cast<unsigned char>(a);
    if (pb <= pc) return static_cast<unsigned char>(b);
    return static_cast<unsigned char>(c);
}

}  // namespace

const cPictPNG::sInterlaceStage cPictPNG::myInterlaceStageParams[7] = {
    {0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

cPictPNG::cPictPNG() = default;
cPictPNG::~cPictPNG() = default;

bool cPictPNG::colorConvert(unsigned char*, int) { return false; }
bool cPictPNG::colorConvert16(unsigned short*, int) { return false; }

bool cPictPNG::validFor(cFileIOTarget* stream, sPictInfo* info) {
    cPictPNG probe;
    return probe.isPicture(stream, info);
}

bool cPictPNG::isPicture(cFileIOTarget* stream, sPictInfo* info) {
    probeOnly_ = true;
    const bool ok = decodeInt(stream) && hdr_.width && hdr_.height;
    probeOnly_ = false;
    if (ok && info) {
        info->width = hdr_.width;
        info->height = hdr_.height;
        info->hasPreview = false;
    }
    // A probe leaves no size behind: the picture is still undecoded.
    close();
    return ok;
}

bool cPictPNG::decode(cFileIOTarget* stream) {
    probeOnly_ = false;
    return decodeInt(stream);
}

// ---------------------------------------------------------------------------
// Sizes

int cPictPNG::scanlineBpp() const {
    const int d = hdr_.depth;
    switch (hdr_.colorType) {
        case 2: return (3 * d + 7) / 8;
        case 4: return (d + 3) / 4;
        case 6: return (d + 1) / 2;
        default: return (d + 7) / 8;
    }
}

namespace {
int bitsPerPixel(int colorType, int depth) {
    switch (colorType) {
        case 2: return depth * 3;
        case 4: return depth * 2;
        case 6: return depth * 4;
        default: return depth;
    }
}
}  // namespace

long long cPictPNG::scanlineBytes() const {
    const long long bits = static_cast<long long>(hdr_.width) * bitsPerPixel(hdr_.colorType, hdr_.depth);
    return (bits + 7) / 8 + 1;
}

long long cPictPNG::pixelsPerInterlacedLine() const {
    if (pass_ < 0) return hdr_.width;
    const sInterlaceStage& st = myInterlaceStageParams[pass_];
    if (hdr_.width <= static_cast<unsigned int>(st.firstCol)) return 0;
    return (static_cast<long long>(hdr_.width) - 1 - st.firstCol + st.colStep) / st.colStep;
}

// ---------------------------------------------------------------------------
// Chunks

bool cPictPNG::chkProcessHeader() {
    if (!hdr_.width || !hdr_.height) return false;
    // The one size cap of the library, before anything is allocated.
    if (!checkPixelCount(hdr_.width, hdr_.height, nullptr, hdr_.depth == 16 ? 8 : 4)) return false;
    const int d = hdr_.depth;
    switch (hdr_.colorType) {
        case 0:
            if (d != 1 && d != 2 && d != 4 && d != 8 && d != 16) return false;
            break;
        case 2:
        case 4:
        case 6:
            if (d != 8 && d != 16) return false;
            break;
        case 3:
            if (d != 1 && d != 2 && d != 4 && d != 8) return false;
            break;
        default: return false;
    }
    if (hdr_.interlace != 0 && hdr_.interlace != 1 && hdr_.interlace != 255) return false;
    // Only deflate (method 0) and the adaptive filters (method 0) exist.
    if (hdr_.compression != 0 || hdr_.filter != 0) return false;
    sampleDepth_ = hdr_.depth;
    return true;
}

bool cPictPNG::chkProcessTransparency(const unsigned char* data, unsigned int length) {
    const int d = hdr_.depth;
    switch (hdr_.colorType) {
        case 3:
            if (length > paletteCount_) return false;
            for (unsigned int i = 0; i < length; ++i)
                palette_[i] = (palette_[i] & 0x00FFFFFFu) | static_cast<unsigned int>(data[i]) << 24;
            return true;
        case 2: {
            if (length != 6) return false;
            const unsigned int r = cByteReader::u16be(data), g = cByteReader::u16be(data + 2),
                               b = cByteReader::u16be(data + 4);
            if (d == 16) {
                key16_ = static_cast<unsigned long long>(r) << 32 | static_cast<unsigned long long>(g) << 16 | b;
            } else {
                const unsigned int max = (1u << d) - 1;
                if (r > max || g > max || b > max) return false;
                key8_ = (r * 255 / max) << 16 | (g * 255 / max) << 8 | (b * 255 / max);
            }
            transparency_ = true;
            return true;
        }
        case 0: {
            if (length != 2) return false;
            const unsigned int grey = cByteReader::u16be(data);
            if (d == 16) {
                key16_ = static_cast<unsigned long long>(grey) * 0x000100010001ULL;
            } else {
                const unsigned int max = (1u << d) - 1;
                if (grey > max) return false;
                key8_ = (grey * 255 / max) * 0x010101u;
            }
            transparency_ = true;
            return true;
        }
        default: return false;  // colour types with an alpha channel carry no tRNS
    }
}

bool cPictPNG::decodeInt(cFileIOTarget* stream) {
    consumed_ = 0;
    if (!stream || !stream->valid()) return false;
    reopen();
    hdr_ = sHeader();
    sampleDepth_ = 0;
    palette_.set(0);
    paletteCount_ = 0;
    transparency_ = extActive_ = false;
    key8_ = 0xFFFFFFFFu;
    key16_ = ~0ULL;
    row_ = 0;
    pass_ = -1;
    prevLine_.set(0);
    curLine_.set(0);
    fill_ = 0;
    seenHeader_ = seenIdat_ = idatEnded_ = rowsDone_ = false;
    inputLeft_ = -1;
    lineLen_ = 0;
    inflater_.init();
    if (!inflater_.reset()) {
        close();
        return false;
    }

    // A probe reads the signature and IHDR only: its read-ahead is no longer.
    cByteReader in(stream, probeOnly_ ? 8 + 25 : cByteReader::kStreamWindow, 0);
    const unsigned char* sig = nullptr;
    if (!in.view(sig, 8) || std::memcmp(sig, kSignature, 8) != 0) {
        close();
        return false;
    }
    consumed_ = 8;

    _typebuf<unsigned char> data;
    bool ok = false;
    for (;;) {
        unsigned char head[8];
        if (!in.read(head, 8)) break;
        const unsigned int length = cByteReader::u32be(head);
        const unsigned char* type = head + 4;
        // Lengths are 31-bit numbers.
        if (length > 0x7FFFFFFFu) break;
        const bool isIhdr = isType(type, "IHDR");
        const bool isIdat = isType(type, "IDAT");
        // IHDR comes first and only once: a second one would change the size
        // after the buffers exist, and no other chunk means anything before it.
        if (seenHeader_ == isIhdr) break;
        std::uint32_t reg = qor_checksum::crc32Update(0xFFFFFFFFu, type, 4);
        bool failed = false;
        if (isIdat) {
            // IDAT chunks follow one another; data after another chunk is not
            // part of the image.
            if (idatEnded_ || length == 0) break;
            if (!seenIdat_) {
                seenIdat_ = true;
                const long long size = in.sourceSize();
                inputLeft_ = size >= 0 && static_cast<unsigned long long>(size) >= consumed_ ? size - consumed_ : -1;
                if (!probeOnly_ && !beginPixels()) break;
            }
            // Inflated in pieces where they lie in the read-ahead.
            unsigned int left = length;
            while (left && !failed) {
                const unsigned int n = std::min<unsigned int>(left, kPngIdatPiece);
                const unsigned char* piece = nullptr;
                if (!in.view(piece, n)) {
                    failed = true;
                    break;
                }
                reg = qor_checksum::crc32Update(reg, piece, n);
                if (!rowsDone_ && !probeOnly_ && !inflatePiece(piece, n)) failed = true;
                left -= n;
            }
            if (failed) break;
        } else {
            if (seenIdat_) idatEnded_ = true;
            const bool critical = (type[0] & 0x20) == 0;
            if (length > kMaxPngChunkInMemory) {
                // Only ancillary chunks may be this long; they are checked
                // and skipped without holding them.
                if (critical) break;
                unsigned int left = length;
                while (left) {
                    const unsigned int n = std::min<unsigned int>(left, kPngIdatPiece);
                    const unsigned char* piece = nullptr;
                    if (!in.view(piece, n)) {
                        failed = true;
                        break;
                    }
                    reg = qor_checksum::crc32Update(reg, piece, n);
                    left -= n;
                }
                if (failed) break;
            } else {
                if (!sizeBuffer(data, std::max<long long>(length, 1))) break;
                if (!in.read(data.data(), length)) break;
                reg = qor_checksum::crc32Update(reg, data.data(), length);
            }
            const unsigned char* d = data.data();
            if (isIhdr) {
                if (length < 13) break;
                hdr_.width = cByteReader::u32be(d);
                hdr_.height = cByteReader::u32be(d + 4);
                hdr_.depth = d[8];
                hdr_.colorType = d[9];
                hdr_.compression = d[10];
                hdr_.filter = d[11];
                hdr_.interlace = d[12];
                if (!chkProcessHeader()) break;
                seenHeader_ = true;
            } else if (isType(type, "PLTE")) {
                if (length == 0 || length % 3 != 0) break;
                const unsigned int entries = length / 3;
                const unsigned int most = hdr_.depth >= 8 ? 256u : 1u << hdr_.depth;
                if (entries > most) break;
                if (!sizeBuffer(palette_, 256)) break;
                for (unsigned int i = 0; i < entries; ++i)
                    palette_[i] = 0xFF000000u | static_cast<unsigned int>(d[3 * i]) << 16 |
                                  static_cast<unsigned int>(d[3 * i + 1]) << 8 | d[3 * i + 2];
                paletteCount_ = entries;
            } else if (isType(type, "tRNS")) {
                if (!chkProcessTransparency(d, length)) break;
            } else if (isType(type, "IEND")) {
                if (length != 0) break;
            }
        }
        std::uint32_t crc = 0;
        if (!in.read_u32be(crc) || crc != ~reg) break;
        consumed_ += static_cast<unsigned long long>(length) + 12;
        if (probeOnly_ && seenHeader_ && hdr_.width) {
            ok = true;
            break;
        }
        if (isType(type, "IEND")) {
            // Every row must have arrived: a picture with rows the data never
            // reached is a damaged file, not a success.
            ok = seenIdat_ && rowsDone_;
            break;
        }
    }
    if (extActive_) {
        endExtRender();
        extActive_ = false;
    }
    prevLine_.set(0);
    curLine_.set(0);
    tmp8_.set(0);
    tmp16_.set(0);
    dropStalePixels();
    return ok;
}

// ---------------------------------------------------------------------------
// IDAT

bool cPictPNG::beginPixels() {
    // Rows that the rest of the stream cannot inflate to would fail at IEND:
    // they are refused before the picture is reserved.  Their bytes, and
    // their pixels: one-bit rows pack eight pixels a byte.
    long long need = 0, most = 0;
    if (inputLeft_ >= 0 && checked_mul(static_cast<long long>(hdr_.height), scanlineBytes() - 1, need) &&
        checked_mul(inputLeft_, kMaxDeflateRatio, most) && need > most)
        return false;
    if (!deflateCanDescribe(static_cast<long long>(hdr_.width) * hdr_.height, inputLeft_, hdr_.depth == 16 ? 8 : 4))
        return false;
    width_ = hdr_.width;
    height_ = hdr_.height;
    is16Bpp_ = hdr_.depth == 16;
    extActive_ = startExtRender();
    if (!extActive_) {
        const bool got = is16Bpp_ ? allocPixels16(width_, height_) : allocPixels8(width_, height_);
        if (!got) return false;
    }
    // One buffer of many scanlines: zlib inflates straight into it in large
    // steps and the rows are unfiltered where they land.
    const long long longest = scanlineBytes();
    const long long rows = std::max<long long>(2, kInflateBatch / longest);
    if (!checked_mul(rows, longest, cap_)) return false;
    if (!sizeBuffer(curLine_, cap_ + kLineSlack) || !sizeBuffer(prevLine_, longest + kLineSlack) ||
        !sizeBuffer(zeroLine_, longest + kLineSlack))
        return false;
    std::memset(zeroLine_.data(), 0, zeroLine_.bytes());
    fill_ = done_ = 0;
    prior_ = zeroLine_.data();
    if (hdr_.interlace == 1) return startPass(0);
    pass_ = -1;
    row_ = 0;
    lineLen_ = longest;
    return true;
}

// Moves to the first pass from `pass` on that has both rows and columns.
bool cPictPNG::startPass(int pass) {
    for (; pass < 7; ++pass) {
        const sInterlaceStage& st = myInterlaceStageParams[pass];
        if (hdr_.width <= static_cast<unsigned int>(st.firstCol) || hdr_.height <= static_cast<unsigned int>(st.firstRow))
            continue;
        pass_ = pass;
        const long long pixels = pixelsPerInterlacedLine();
        lineLen_ = (pixels * bitsPerPixel(hdr_.colorType, hdr_.depth) + 7) / 8 + 1;
        row_ = st.firstRow;
        return true;
    }
    pass_ = 7;
    rowsDone_ = true;
    return true;
}

// Copies the prior line out of the scanline buffer before the buffer is
// reused.
void cPictPNG::keepPrior() {
    const unsigned char* buf = curLine_.data();
    if (prior_ >= buf && prior_ < buf + curLine_.count()) {
        std::memcpy(prevLine_.data(), prior_, static_cast<std::size_t>(std::min(priorLen_, prevLine_.count())));
        prior_ = prevLine_.data();
    }
}

bool cPictPNG::inflatePiece(const unsigned char* data, long long length) {
    bool first = true;
    unsigned char* buf = curLine_.data();
    while (!rowsDone_) {
        if (fill_ + lineLen_ > cap_) {
            // No room for another line: the unfinished one moves to the
            // front, the last finished one is kept as the prior line.
            keepPrior();
            std::memmove(buf, buf + done_, static_cast<std::size_t>(fill_ - done_));
            fill_ -= done_;
            done_ = 0;
        }
        long long inLen = first ? length : 0;
        long long outLen = cap_ - fill_;
        const long long room = outLen;
        bool ended = false;
        if (!inflater_.inflateStep(first ? data : nullptr, inLen, buf + fill_, outLen, ended)) return false;
        first = false;
        fill_ += outLen;
        while (!rowsDone_ && fill_ - done_ >= lineLen_) {
            int firstCol = 0, step = 1;
            if (pass_ >= 0) {
                firstCol = myInterlaceStageParams[pass_].firstCol;
                step = myInterlaceStageParams[pass_].colStep;
            }
            rowAt_ = buf + done_;
            const long long len = lineLen_;
            if (!processScanline(firstCol, step, len)) return false;
            prior_ = rowAt_;
            priorLen_ = len;
            done_ += len;
        }
        if (done_ == fill_ && done_ > 0) {
            // Everything inflated so far is used: start the buffer again.
            keepPrior();
            fill_ = done_ = 0;
        }
        // Room left over: zlib used up this piece (or the stream ended).
        if (outLen < room) return true;
    }
    return true;
}

bool cPictPNG::processScanline(int firstCol, int colStep, long long lineLen) {
    const bool firstRowOfPass = pass_ < 0 ? row_ == 0 : row_ == myInterlaceStageParams[pass_].firstRow;
    const unsigned char* prior = firstRowOfPass ? zeroLine_.data() : prior_;
    if (!processPredictor(rowAt_, prior, lineLen, scanlineBpp())) return false;
    if (!processColorData(rowAt_ + 1, firstCol, colStep)) return false;
    if (pass_ < 0) {
        if (++row_ >= hdr_.height) rowsDone_ = true;
        return true;
    }
    row_ += myInterlaceStageParams[pass_].rowStep;
    if (row_ >= hdr_.height) return startPass(pass_ + 1);
    return true;
}

namespace {

// The Sub, Average and Paeth filters of pixels of 3 to 8 bytes, one pixel
// per step in 16-bit lanes: the bytes of a pixel are independent, only the
// pixels depend on each other.
// Loads read a whole 4 or 8 bytes (the line buffers carry slack for the
// last pixel); the extra bytes are never stored back.
template <int BPP>
inline __m128i loadPixel(const unsigned char* p) {
    __m128i v;
    if (BPP <= 4) {
        int w;
        std::memcpy(&w, p, 4);
        v = _mm_cvtsi32_si128(w);
    } else {
        long long w;
        std::memcpy(&w, p, 8);
        v = _mm_cvtsi64_si128(w);
    }
    return _mm_unpacklo_epi8(v, _mm_setzero_si128());
}
template <int BPP>
inline void storePixel(unsigned char* p, __m128i v) {
    const unsigned long long w = static_cast<unsigned long long>(_mm_cvtsi128_si64(_mm_packus_epi16(v, v)));
    if (BPP == 4 || BPP == 8) {
        std::memcpy(p, &w, BPP);
    } else if (BPP == 3) {
        const unsigned short lo = static_cast<unsigned short>(w);
        std::memcpy(p, &lo, 2);
        p[2] = static_cast<unsigned char>(w >> 16);
    } else {
        const unsigned int lo = static_cast<unsigned int>(w);
        const unsigned short hi = static_cast<unsigned short>(w >> 32);
        std::memcpy(p, &lo, 4);
        std::memcpy(p + 4, &hi, 2);
    }
}
inline __m128i abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

template <int bpp, int type>
void unfilterWide(unsigned char* x, const unsigned char* prior, long long n) {
    const __m128i mask = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    long long i = 0;
    for (; i + bpp <= n; i += bpp) {
        const __m128i cur = loadPixel<bpp>(x + i);
        __m128i pred;
        if (type == 1) {
            pred = a;
        } else {
            const __m128i b = loadPixel<bpp>(prior + i);
            if (type == 3) {
                pred = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
            } else {
                const __m128i pa = abs16(_mm_sub_epi16(b, c));
                const __m128i pb = abs16(_mm_sub_epi16(a, c));
                const __m128i pc = abs16(_mm_add_epi16(_mm_sub_epi16(b, c), _mm_sub_epi16(a, c)));
                const __m128i least = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
                const __m128i useA = _mm_cmpeq_epi16(pa, least);
                const __m128i useB = _mm_cmpeq_epi16(pb, least);
                const __m128i bc = _mm_or_si128(_mm_and_si128(useB, b), _mm_andnot_si128(useB, c));
                pred = _mm_or_si128(_mm_and_si128(useA, a), _mm_andnot_si128(useA, bc));
            }
            c = b;
        }
        a = _mm_and_si128(_mm_add_epi16(cur, pred), mask);
        storePixel<bpp>(x + i, a);
    }
}

template <int bpp>
void unfilterWide(unsigned char* x, const unsigned char* prior, long long n, int type) {
    if (type == 1)
        unfilterWide<bpp, 1>(x, prior, n);
    else if (type == 3)
        unfilterWide<bpp, 3>(x, prior, n);
    else
        unfilterWide<bpp, 4>(x, prior, n);
}

}  // namespace

// Reverses the filter of one line; line[0] is the filter type.  Unknown
// filter types leave the bytes as they are.
bool cPictPNG::processPredictor(unsigned char* line, const unsigned char* prior, long long length, int bpp) {
    unsigned char* x = line + 1;
    const unsigned char* p = prior + 1;
    const long long n = length - 1;
    // Lines are whole pixels, so the wide path covers every byte.
    if (bpp >= 3 && (line[0] == 1 || line[0] == 3 || line[0] == 4)) {
        switch (bpp) {
            case 3: unfilterWide<3>(x, p, n, line[0]); return true;
            case 4: unfilterWide<4>(x, p, n, line[0]); return true;
            case 6: unfilterWide<6>(x, p, n, line[0]); return true;
            case 8: unfilterWide<8>(x, p, n, line[0]); return true;
            default: break;
        }
    }
    switch (line[0]) {
        case 1:
            for (long long i = bpp; i < n; ++i) x[i] = static_cast<unsigned char>(x[i] + x[i - bpp]);
            break;
        case 2:
            for (long long i = 0; i < n; ++i) x[i] = static_cast<unsigned char>(x[i] + p[i]);
            break;
        case 3: {
            const long long head = std::min<long long>(bpp, n);
            for (long long i = 0; i < head; ++i) x[i] = static_cast<unsigned char>(x[i] + (p[i] >> 1));
            for (long long i = bpp; i < n; ++i) x[i] = static_cast<unsigned char>(x[i] + ((x[i - bpp] + p[i]) >> 1));
            break;
        }
        case 4: {
            const long long head = std::min<long long>(bpp, n);
            for (long long i = 0; i < head; ++i) x[i] = static_cast<unsigned char>(x[i] + p[i]);
            for (long long i = bpp; i < n; ++i) x[i] = static_cast<unsigned char>(x[i] + paeth(x[i - bpp], p[i], p[i - bpp]));
            break;
        }
        default: break;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Samples to pixels

template <typename P>
void cPictPNG::emitLine(const P* line, long long n, int firstCol, int colStep) {
    const long long y = static_cast<long long>(hdr_.height) - 1 - row_;
    if (extActive_) {
        if (!canExtRender(0, width_ - 1, y, y)) return;
        if (sizeof(P) == 4) {
            setExtRow(y, reinterpret_cast<const unsigned int*>(line), n, firstCol, colStep);
            return;
        }
        for (long long i = 0; i < n; ++i) setExtPix16(firstCol + i * colStep, y, static_cast<unsigned long long>(line[i]));
        return;
    }
    P* out = sizeof(P) == 4 ? reinterpret_cast<P*>(pixels8_.data() + y * width_)
                            : reinterpret_cast<P*>(pixels16_.data() + y * width_);
    if (colStep == 1 && firstCol == 0) {
        if (out != line) std::memcpy(out, line, static_cast<std::size_t>(n) * sizeof(P));
        return;
    }
    for (long long i = 0; i < n; ++i) out[firstCol + i * colStep] = line[i];
}

bool cPictPNG::processColorData(const unsigned char* s, int firstCol, int colStep) {
    const long long n = pixelsPerInterlacedLine();
    if (n <= 0) return true;
    const long long y = static_cast<long long>(hdr_.height) - 1 - row_;
    const int d = hdr_.depth;
    const int ct = hdr_.colorType;
    if (d == 16) {
        if (colorConvert16(reinterpret_cast<unsigned short*>(const_cast<unsigned char*>(s)), static_cast<int>(n))) return true;
        // Non-interlaced rows go straight into the picture.
        unsigned long long* out;
        if (!extActive_ && firstCol == 0 && colStep == 1) {
            out = pixels16_.data() + y * width_;
        } else {
            if (!sizeBuffer(tmp16_, n)) return false;
            out = tmp16_.data();
        }
        auto w16 = [&](long long i) { return static_cast<unsigned long long>(cByteReader::u16be(s + 2 * i)); };
        switch (ct) {
            case 0:
                for (long long i = 0; i < n; ++i) {
                    const unsigned long long g = w16(i) * 0x000100010001ULL;
                    out[i] = g | (transparency_ && g == key16_ ? 0ULL : 0xFFFFULL << 48);
                }
                break;
            case 2:
                for (long long i = 0; i < n; ++i) {
                    const unsigned long long rgb = w16(3 * i) << 32 | w16(3 * i + 1) << 16 | w16(3 * i + 2);
                    out[i] = rgb | (transparency_ && rgb == key16_ ? 0ULL : 0xFFFFULL << 48);
                }
                break;
            case 4:
                for (long long i = 0; i < n; ++i) out[i] = w16(2 * i) * 0x000100010001ULL | w16(2 * i + 1) << 48;
                break;
            case 6:
                for (long long i = 0; i < n; ++i)
                    out[i] = w16(4 * i) << 32 | w16(4 * i + 1) << 16 | w16(4 * i + 2) | w16(4 * i + 3) << 48;
                break;
            default: return false;
        }
        emitLine(out, n, firstCol, colStep);
        return true;
    }
    if (colorConvert(const_cast<unsigned char*>(s), static_cast<int>(n))) return true;
    unsigned int* out;
    if (!extActive_ && firstCol == 0 && colStep == 1) {
        out = pixels8_.data() + y * width_;
    } else {
        if (!sizeBuffer(tmp8_, n)) return false;
        out = tmp8_.data();
    }
    switch (ct) {
        case 0: {
            if (d == 8) {
                if (transparency_) {
                    for (long long i = 0; i < n; ++i) {
                        const unsigned int v = s[i] * 0x010101u;
                        out[i] = v | (v == key8_ ? 0u : 0xFF000000u);
                    }
                } else {
                    for (long long i = 0; i < n; ++i) out[i] = 0xFF000000u | s[i] * 0x010101u;
                }
                break;
            }
            const unsigned int max = (1u << d) - 1;
            const int perByte = 8 / d;
            for (long long i = 0; i < n; ++i) {
                const unsigned int byte = s[i / perByte];
                const int shift = 8 - d * (1 + static_cast<int>(i % perByte));
                const unsigned int v = ((byte >> shift) & max) * 255 / max * 0x010101u;
                out[i] = v | (transparency_ && v == key8_ ? 0u : 0xFF000000u);
            }
            break;
        }
        case 2:
            for (long long i = 0; i < n; ++i) {
                const unsigned int rgb = static_cast<unsigned int>(s[3 * i]) << 16 | static_cast<unsigned int>(s[3 * i + 1]) << 8 | s[3 * i + 2];
                out[i] = rgb | (transparency_ && rgb == key8_ ? 0u : 0xFF000000u);
            }
            break;
        case 3: {
            const unsigned int* pal = palette_.data();
            const long long count = paletteCount_;
            if (d == 8) {
                // The row's indices are checked at once (a loop the compiler
                // widens), not one by one between the lookups.
                if (count < 256) {
                    unsigned char most = 0;
                    for (long long i = 0; i < n; ++i) most = s[i] > most ? s[i] : most;
                    if (most >= count) return false;
                }
                for (long long i = 0; i < n; ++i) out[i] = pal[s[i]];
                break;
            }
            const unsigned int max = (1u << d) - 1;
            const int perByte = 8 / d;
            for (long long i = 0; i < n; ++i) {
                const unsigned int byte = s[i / perByte];
                const int shift = 8 - d * (1 + static_cast<int>(i % perByte));
                const unsigned int idx = (byte >> shift) & max;
                if (idx >= count) return false;
                out[i] = pal[idx];
            }
            break;
        }
        case 4:
            for (long long i = 0; i < n; ++i) out[i] = static_cast<unsigned int>(s[2 * i + 1]) << 24 | s[2 * i] * 0x010101u;
            break;
        case 6:
            for (long long i = 0; i < n; ++i)
                out[i] = static_cast<unsigned int>(s[4 * i + 3]) << 24 | static_cast<unsigned int>(s[4 * i]) << 16 |
                         static_cast<unsigned int>(s[4 * i + 1]) << 8 | s[4 * i + 2];
            break;
        default: return false;
    }
    emitLine(out, n, firstCol, colStep);
    return true;
}

bool cPictPNG::processIDatChunk(const unsigned char* data, unsigned int length) {
    if (length == 0) return false;
    if (!seenIdat_) {
        seenIdat_ = true;
        if (!beginPixels()) return false;
    }
    return rowsDone_ || inflatePiece(data, length);
}
