// TIFF through libtiff: client procedures over our stream, handlers that
// take the library's messages, and the two ways to pixels (samples at their
// own depth, or libtiff's RGBA reader).
#include "picts/picttiff.h"

#include "picts/pictjpeg.h"

#include "base/bytereader.h"
#include "base/checked.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include <tiffio.h>

namespace {

// The most libtiff may allocate in one piece for one picture (a strip or
// tile buffer, a directory's arrays), and the most this decoder gives one
// strip or tile of decoded samples.
constexpr tmsize_t kMaxTiffSingleAlloc = 256 * 1024 * 1024;

// Strips of decoded samples up to this size are read whole; larger ones a
// row at a time, so that a strip as large as the picture is never held.
constexpr long long kStripChunk = 4LL << 20;

// The library reads and seeks through one reader over the stream.
struct sClient {
    cFileIOTarget* stream = nullptr;
    cByteReader in;
    bool error = false;          // libtiff reported an error
    bool decoding = false;       // the pixels are being read
    bool madeUp = false;         // a warning while they were: data was filled in
};

tmsize_t clientRead(thandle_t h, void* buf, tmsize_t n) {
    sClient* c = static_cast<sClient*>(h);
    // Once a strip or tile came out made up, the picture is refused: no
    // later one is read (libtiff's RGBA reader goes on by itself otherwise).
    if (n <= 0 || (c->decoding && c->madeUp)) return 0;
    return static_cast<tmsize_t>(c->in.readSome(buf, static_cast<std::size_t>(n)));
}

tmsize_t clientWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t clientSeek(thandle_t h, toff_t off, int whence) {
    sClient* c = static_cast<sClient*>(h);
    const long long delta = static_cast<long long>(off);  // SEEK_CUR and SEEK_END move either way
    long long to = 0;
    switch (whence) {
        case SEEK_SET: to = delta; break;
        case SEEK_CUR:
            if (!checked_add(static_cast<long long>(c->in.tell()), delta, to)) return static_cast<toff_t>(-1);
            break;
        case SEEK_END: {
            const long long size = c->stream->size();
            if (size < 0 || !checked_add(size, delta, to)) return static_cast<toff_t>(-1);
            break;
        }
        default: return static_cast<toff_t>(-1);
    }
    if (to < 0 || !c->in.seek(static_cast<std::size_t>(to))) return static_cast<toff_t>(-1);
    return static_cast<toff_t>(to);
}

int clientClose(thandle_t) { return 0; }

toff_t clientSize(thandle_t h) {
    const long long size = static_cast<sClient*>(h)->stream->size();
    return size < 0 ? 0 : static_cast<toff_t>(size);
}

// No memory mapping: the bytes come through the stream.
int clientMap(thandle_t, void**, toff_t*) { return 0; }
void clientUnmap(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char*, const char*, va_list) {
    static_cast<sClient*>(user)->error = true;
    return 1;  // handled: nothing reaches the library's default printer
}
// Warnings while the directory is read (unknown or odd tags) leave the
// picture whole; while the pixels are read they mean the codec made some
// up: a JPEG or fax strip that ended early is filled in behind a warning
// (libjpeg's own warnings reach us as libtiff's, from either JPEG codec).
// A few are notices that say nothing of the pixels, told by the routine
// that gives them: old-style JPEG's setup, each time it starts, that the
// mode is deprecated; its check of the subsampling tags against the JPEG
// data, whose own sampling it then follows (but for sampling that TIFF
// does not allow); and a last JPEG strip coded at the full strip height,
// as some writers make it (the rows past the picture are dropped).
bool isNotice(const char* module, const char* fmt) {
    if (module && std::strcmp(module, "OJPEGSetupDecode") == 0) return true;
    if (module && std::strcmp(module, "OJPEGSubsamplingCorrect") == 0) return !(fmt && std::strstr(fmt, "not allowed"));
    return fmt && std::strstr(fmt, "JPEG strip size exceeds expected dimensions");
}

int onWarning(TIFF*, void* user, const char* module, const char* fmt, va_list) {
    sClient* c = static_cast<sClient*>(user);
    if (c->decoding && !isNotice(module, fmt)) c->madeUp = true;
    return 1;
}

// libtiff hands each JPEG strip or tile to libjpeg itself, a decode each:
// their markers are walked into one budget first, so that the scans of all
// of them together are held to the file's strip bytes (inputBytes) as the
// scans of one JPEG file are held to its bytes.
bool jpegStrilesFit(TIFF* tif, cFileIOTarget* stream, long long inputBytes) {
    const uint32_t striles = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const long long size = stream->size();
    cJPEGBudget budget(inputBytes);
    cByteReader in(stream, cByteReader::kStreamWindow, 0);
    for (uint32_t i = 0; i < striles; ++i) {
        int err = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &err);
        if (err) return false;
        const uint64_t length = TIFFGetStrileByteCountWithErr(tif, i, &err);
        if (err) return false;
        if (size >= 0 && offset >= static_cast<uint64_t>(size)) continue;  // nothing there to decode
        const uint64_t there = size >= 0 ? std::min<uint64_t>(length, static_cast<uint64_t>(size) - offset) : length;
        if (!in.seek(static_cast<std::size_t>(offset)) || !budget.walk(in, there)) return false;
    }
    return true;
}

// Old-style JPEG: libtiff hands libjpeg one stream of its own making, the
// markers at JPEGInterchangeFormat (up to JPEGInterchangeFormatLength, or
// the end of the stream when that is missing or too long) or tables from
// the tags, then every strip's data.  The frame those markers declare (or,
// from tags, one of the picture's size, its first component sampled as
// YCbCrSubsampling says) and its scan are charged as a new-style strip's.
bool oldJpegFits(TIFF* tif, cFileIOTarget* stream, long long inputBytes, uint32_t width, uint32_t height) {
    cJPEGBudget budget(inputBytes);
    const long long size = stream->size();
    uint64_t at = 0, length = 0;
    if (TIFFGetField(tif, TIFFTAG_JPEGIFOFFSET, &at) && at && (size < 0 || at < static_cast<uint64_t>(size))) {
        TIFFGetField(tif, TIFFTAG_JPEGIFBYTECOUNT, &length);
        const uint64_t rest = size >= 0 ? static_cast<uint64_t>(size) - at : ~uint64_t(0);
        if (length == 0 || length > rest) length = rest;
        cByteReader in(stream, cByteReader::kStreamWindow, 0);
        if (!in.seek(static_cast<std::size_t>(at)) || !budget.walk(in, length)) return false;
        if (budget.scans()) return true;
    }
    uint16_t spp = 1, photometric = 0, subH = 1, subV = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (spp == 3 && photometric == PHOTOMETRIC_YCBCR)
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &subH, &subV);
    int hs[cJPEGBudget::kComponentsMost], vs[cJPEGBudget::kComponentsMost], all[cJPEGBudget::kComponentsMost];
    if (spp < 1 || spp > cJPEGBudget::kComponentsMost) return false;
    for (int c = 0; c < spp; ++c) {
        hs[c] = c == 0 ? subH : 1;
        vs[c] = c == 0 ? subV : 1;
        all[c] = c;
    }
    cJPEGBudget::sFrame f;
    return f.set(width, height, spp, hs, vs) && budget.frame(f) && budget.scan(all, spp);
}

bool isTiffMagic(const unsigned char m[4]) {
    // "II" little-endian or "MM" big-endian, then 42 (TIFF) or 43 (BigTIFF).
    if (m[0] == 'I' && m[1] == 'I') return m[3] == 0 && (m[2] == 42 || m[2] == 43);
    if (m[0] == 'M' && m[1] == 'M') return m[2] == 0 && (m[3] == 42 || m[3] == 43);
    return false;
}

}  // namespace

struct cPictTIFF::sSession {
    sClient client;
    TIFF* tif = nullptr;
    uint32_t width = 0, height = 0;

    ~sSession() {
        if (tif) TIFFClose(tif);
    }

    // Opens the stream and reads the first directory; false when it is not
    // a TIFF libtiff accepts or the picture is past the size cap.
    bool open(cFileIOTarget* stream) {
        unsigned char magic[4];
        if (!stream || !stream->valid() || !cByteReader::readAt(stream, 0, magic, 4) || !isTiffMagic(magic))
            return false;
        if (!stream->set_fp(0)) return false;
        client.stream = stream;
        client.in = cByteReader(stream, cByteReader::kStreamWindow, 0);
        TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
        if (!opts) return false;
        TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxTiffSingleAlloc);
        TIFFOpenOptionsSetErrorHandlerExtR(opts, onError, &client);
        TIFFOpenOptionsSetWarningHandlerExtR(opts, onWarning, &client);
        // "m": no memory mapping; "h": read the header only, directory below.
        tif = TIFFClientOpenExt("stream", "rm", &client, clientRead, clientWrite, clientSeek, clientClose, clientSize,
                                clientMap, clientUnmap, opts);
        TIFFOpenOptionsFree(opts);
        if (!tif || client.error) return false;
        if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
            return false;
        uint16_t bits = 1;
        TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        return cPictBase::checkPixelCount(width, height, nullptr, bits == 16 ? 8 : 4);
    }
};

cPictTIFF::cPictTIFF() = default;
cPictTIFF::~cPictTIFF() = default;

bool cPictTIFF::validFor(cFileIOTarget* stream, sPictInfo* info) {
    sSession s;
    if (!s.open(stream)) return false;
    if (info) {
        // Orientations 5 to 8 turn the picture a quarter: the size reported
        // is the size the decode delivers.
        uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(s.tif, TIFFTAG_ORIENTATION, &orientation);
        const bool turned = orientation >= 5 && orientation <= 8;
        info->width = turned ? s.height : s.width;
        info->height = turned ? s.width : s.height;
        info->hasPreview = false;
    }
    return true;
}

bool cPictTIFF::isPicture(cFileIOTarget* stream, sPictInfo* info) { return validFor(stream, info); }

// How a picture's pixels are read, and what the decode holds besides them.
struct cPictTIFF::sLayout {
    enum eKind { kSamples, kPacked, kRGBA };
    eKind kind = kRGBA;
    bool tiled = false;
    uint16_t bits = 1, spp = 1, photometric = 0;
    long long chunkRows = 0;   // the RGBA reader's rows a step into a target
    long long extraBytes = 0;  // a strip, a tile, a step's raster
};

bool cPictTIFF::decode(cFileIOTarget* stream) {
    close();
    extActive_ = reserved_ = false;
    sSession s;
    if (!s.open(stream)) return false;
    sLayout l;
    uint16_t planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_SAMPLESPERPIXEL, &l.spp);
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (!TIFFGetField(s.tif, TIFFTAG_PHOTOMETRIC, &l.photometric)) l.photometric = 0xFFFF;
    l.tiled = TIFFIsTiled(s.tif) != 0;
    const bool grey = l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE;
    const bool contig = planar == PLANARCONFIG_CONTIG && format == SAMPLEFORMAT_UINT;
    if (contig && (l.bits == 8 || l.bits == 16) &&
        ((grey && l.spp >= 1 && l.spp <= 2) || (l.photometric == PHOTOMETRIC_RGB && l.spp >= 3 && l.spp <= 4)))
        l.kind = sLayout::kSamples;
    else if (contig && !l.tiled && l.spp == 1 &&
             ((grey && (l.bits == 1 || l.bits == 2 || l.bits == 4)) ||
              (l.photometric == PHOTOMETRIC_PALETTE && (l.bits == 1 || l.bits == 2 || l.bits == 4 || l.bits == 8))))
        l.kind = sLayout::kPacked;
    // What the decode holds besides the picture: a tile, a strip (read row
    // by row past kStripChunk), or the RGBA reader's strip or tile and the
    // raster of one step.
    const long long strile = static_cast<long long>(l.tiled ? TIFFTileSize64(s.tif) : TIFFStripSize64(s.tif));
    uint32_t rows = 0;
    if (l.tiled)
        TIFFGetField(s.tif, TIFFTAG_TILELENGTH, &rows);
    else
        TIFFGetFieldDefaulted(s.tif, TIFFTAG_ROWSPERSTRIP, &rows);
    l.chunkRows = rows == 0 || rows > s.height ? s.height : rows;
    if (l.kind == sLayout::kRGBA) {
        long long raster = 0;
        if (!checked_mul(static_cast<long long>(s.width), l.chunkRows, 4LL, raster) ||
            !checked_add(std::max(strile, 0LL), raster, l.extraBytes))
            return false;
    } else {
        l.extraBytes = l.tiled || strile <= kStripChunk ? std::max(strile, 0LL) : 0;
    }
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_ORIENTATION, &orientation);
    if (!dataCanDescribe(s, l.extraBytes)) return false;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_JPEG && !jpegStrilesFit(s.tif, stream, dataBytes(s))) return false;
    if (compression == COMPRESSION_OJPEG && !oldJpegFits(s.tif, stream, dataBytes(s), s.width, s.height)) return false;
    // The walks read the stream behind the reader libtiff reads through:
    // its window goes, and it reads on from where it stands.
    if (!s.client.in.sync()) return false;

    // Drawn into a render target, the rows go there as they are decoded,
    // turned as the Orientation says; otherwise the stored picture is
    // reserved with the first strip and turned at the end.
    storedW_ = s.width;
    storedH_ = s.height;
    orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
    const bool turned = orientation_ >= 5;
    width_ = turned ? storedH_ : storedW_;
    height_ = turned ? storedW_ : storedH_;
    is16Bpp_ = false;
    extActive_ = startExtRender();
    if (extActive_) {
        if (!sizeBuffer(line8_, storedW_) || (l.bits == 16 && !sizeBuffer(line16_, storedW_)) ||
            ((orientation_ == 2 || orientation_ == 3) && !sizeBuffer(turned8_, storedW_))) {
            endExtRender();
            extActive_ = false;
            return false;
        }
    } else {
        width_ = height_ = 0;
        // Whole, the picture must stay under the ceiling: refused before a
        // strip is read.
        if (storedW_ * storedH_ > pixelCeiling()) return false;
    }
    s.client.decoding = true;
    bool ok = l.kind == sLayout::kSamples ? decodeSamples(s, l)
              : l.kind == sLayout::kPacked ? decodePacked(s, l)
                                            : decodeRGBA(s, l);
    ok = ok && !s.client.madeUp && !s.client.error;
    s.client.decoding = false;
    if (extActive_) {
        endExtRender();
        extActive_ = false;
        line8_.set(0);
        line16_.set(0);
        turned8_.set(0);
        if (ok) return true;
    }
    if (!ok || !applyOrientation(orientation)) {
        close();
        return false;
    }
    return true;
}

bool cPictTIFF::reserve(bool deep) {
    if (reserved_) return raw8Bpp() || raw16Bpp();
    reserved_ = true;
    return deep ? allocPixels16(storedW_, storedH_) : allocPixels8(storedW_, storedH_);
}

unsigned int* cPictTIFF::rowOut8(long long y, long long x0) {
    if (extActive_) return line8_.data();
    return raw8Bpp() + (storedH_ - 1 - y) * storedW_ + x0;  // row 0 is the bottom row
}

unsigned long long* cPictTIFF::rowOut16(long long y, long long x0) {
    if (extActive_) return line16_.data();
    return raw16Bpp() + (storedH_ - 1 - y) * storedW_ + x0;
}

// The pixels x0 .. x0 + n - 1 of stored row y (0 the top row) where the
// Orientation puts them in the target, whose rows count from the bottom.
void cPictTIFF::sendRow(long long y, long long x0, const unsigned int* line, long long n) {
    if (!extActive_) return;
    const long long w = storedW_, h = storedH_;
    switch (orientation_) {
        case 1:
        case 4: {
            // As stored, or flipped: the row stays a row.
            const long long ty = orientation_ == 1 ? h - 1 - y : y;
            if (canExtRender(0, w - 1, ty, ty)) setExtRow(ty, line, n, x0);
            return;
        }
        case 2:
        case 3: {
            // Mirrored, or turned half: the row reversed.
            const long long ty = orientation_ == 2 ? h - 1 - y : y;
            if (!canExtRender(0, w - 1, ty, ty)) return;
            unsigned int* r = turned8_.data();
            for (long long i = 0; i < n; ++i) r[i] = line[n - 1 - i];
            setExtRow(ty, r, n, w - x0 - n);
            return;
        }
        default:
            // Turned a quarter: the row becomes a column.
            for (long long i = 0; i < n; ++i) {
                const long long x = x0 + i;
                const long long tx = orientation_ == 5 || orientation_ == 8 ? y : h - 1 - y;
                const long long ty = orientation_ == 5 || orientation_ == 6 ? w - 1 - x : x;
                setExtPix(tx, ty, line[i]);
            }
            return;
    }
}

void cPictTIFF::sendRow16(long long y, long long x0, const unsigned long long* line, long long n) {
    if (!extActive_) return;
    unsigned int* out = line8_.data();
    for (long long i = 0; i < n; ++i) out[i] = to8Bpp(line[i]);
    sendRow(y, x0, out, n);
}

// The picture was read as stored; Orientation says where its first row and
// column belong (1 top-left as stored, 2 mirrored, 3 turned half, 4
// flipped, 5 transposed, 6 turned a quarter clockwise, 7 transversed, 8
// turned a quarter counter-clockwise).  A mirror is a half turn and a flip.
bool cPictTIFF::applyOrientation(int orientation) {
    switch (orientation) {
        case 2: return rotate(rd180) && flip();
        case 3: return rotate(rd180);
        case 4: return flip();
        case 5: return rotate(rd270) && flip();
        case 6: return rotate(rd90);
        case 7: return rotate(rd90) && flip();
        case 8: return rotate(rd270);
        default: return true;  // 1, and values the format does not define
    }
}

namespace {

// One decoded row of contiguous samples into pixels.
struct sRowFormat {
    int spp = 1;
    int bits = 8;
    bool minIsWhite = false;
    bool hasAlpha = false;
    bool premultiplied = false;  // associated alpha: colours stored times alpha
};

inline unsigned int unpremultiply(unsigned int c, unsigned int a, unsigned int top) {
    if (a == 0) return 0;
    const unsigned int v = (c * top + a / 2) / a;
    return v > top ? top : v;
}

// One pixel's samples as straight (not premultiplied) channels of `top`.
template <typename Sample>
void readPixel(const sRowFormat& f, const Sample* s, unsigned int top, unsigned int& r, unsigned int& g,
               unsigned int& b, unsigned int& a) {
    a = top;
    if (f.spp <= 2) {
        r = g = b = f.minIsWhite ? top - s[0] : s[0];
        if (f.hasAlpha) a = s[1];
    } else {
        r = s[0];
        g = s[1];
        b = s[2];
        if (f.hasAlpha) a = s[3];
    }
    if (f.premultiplied) {
        r = unpremultiply(r, a, top);
        g = unpremultiply(g, a, top);
        b = unpremultiply(b, a, top);
    }
}

void convertRow8(const sRowFormat& f, const unsigned char* s, unsigned int* out, long long n) {
    for (long long x = 0; x < n; ++x, s += f.spp) {
        unsigned int r, g, b, a;
        readPixel(f, s, 255, r, g, b, a);
        out[x] = a << 24 | r << 16 | g << 8 | b;
    }
}

void convertRow16(const sRowFormat& f, const unsigned char* bytes, unsigned long long* out, long long n) {
    const uint16_t* s = reinterpret_cast<const uint16_t*>(bytes);  // libtiff delivers host order
    for (long long x = 0; x < n; ++x, s += f.spp) {
        unsigned int r, g, b, a;
        readPixel(f, s, 0xFFFF, r, g, b, a);
        out[x] = static_cast<unsigned long long>(a) << 48 | static_cast<unsigned long long>(r) << 32 |
                 static_cast<unsigned long long>(g) << 16 | b;
    }
}

}  // namespace

template <typename Fn>
bool cPictTIFF::forEachStripRow(sSession& s, long long rowBytes, Fn fn) {
    const long long h = storedH_;
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > static_cast<uint32_t>(h)) rowsPerStrip = static_cast<uint32_t>(h);
    const tmsize_t scanline = TIFFScanlineSize(s.tif);
    const tmsize_t stripSize = TIFFStripSize(s.tif);
    long long need = 0;
    if (scanline <= 0 || scanline < rowBytes || !checked_mul(rowBytes, static_cast<long long>(rowsPerStrip), need))
        return false;
    if (stripSize > 0 && stripSize <= kStripChunk) {
        if (need > stripSize) return false;
        _typebuf<unsigned char> strip;
        if (!sizeBuffer(strip, stripSize)) return false;
        for (long long y = 0; y < h; y += rowsPerStrip) {
            const uint32_t index = TIFFComputeStrip(s.tif, static_cast<uint32_t>(y), 0);
            const tmsize_t got = TIFFReadEncodedStrip(s.tif, index, strip.data(), stripSize);
            const long long rows = h - y < rowsPerStrip ? h - y : rowsPerStrip;
            // A strip that decodes to fewer rows than it covers is damaged,
            // and so is one the codec filled in.
            if (got < 0 || s.client.error || s.client.madeUp || got < rows * rowBytes) return false;
            for (long long r = 0; r < rows; ++r)
                if (!fn(y + r, strip.data() + r * rowBytes)) return false;
        }
        return true;
    }
    // A large strip is decoded a row at a time, never held whole.
    _typebuf<unsigned char> row;
    if (!sizeBuffer(row, scanline)) return false;
    for (long long y = 0; y < h; ++y) {
        if (TIFFReadScanline(s.tif, row.data(), static_cast<uint32_t>(y), 0) < 0 || s.client.error || s.client.madeUp)
            return false;
        if (!fn(y, row.data())) return false;
    }
    return true;
}

bool cPictTIFF::decodeSamples(sSession& s, const sLayout& l) {
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    sRowFormat f;
    f.spp = l.spp;
    f.bits = l.bits;
    f.minIsWhite = l.photometric == PHOTOMETRIC_MINISWHITE;
    // The sample after the colours is alpha only when ExtraSamples says so.
    f.hasAlpha = (l.spp == 2 || l.spp == 4) && extraCount >= 1 && extra &&
                 (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    f.premultiplied = f.hasAlpha && extra[0] == EXTRASAMPLE_ASSOCALPHA;
    const long long w = storedW_, h = storedH_;
    const bool deep = l.bits == 16;
    const long long pixelBytes = static_cast<long long>(l.spp) * (l.bits / 8);
    // The picture is reserved once the first strip or tile has decoded: a
    // few bytes of header claiming a huge picture reserve nothing.
    auto put = [&](long long y, long long x0, const unsigned char* src, long long n) {
        if (!extActive_ && !reserve(deep)) return false;
        if (deep) {
            unsigned long long* out = rowOut16(y, x0);
            convertRow16(f, src, out, n);
            sendRow16(y, x0, out, n);
        } else {
            unsigned int* out = rowOut8(y, x0);
            convertRow8(f, src, out, n);
            sendRow(y, x0, out, n);
        }
        return true;
    };

    if (l.tiled) {
        uint32_t tw = 0, th = 0;
        if (!TIFFGetField(s.tif, TIFFTAG_TILEWIDTH, &tw) || !TIFFGetField(s.tif, TIFFTAG_TILELENGTH, &th) || !tw ||
            !th)
            return false;
        const tmsize_t tileSize = TIFFTileSize(s.tif);
        long long tileRowBytes = 0;
        if (!checked_mul(static_cast<long long>(tw), pixelBytes, tileRowBytes)) return false;
        long long need = 0;
        if (tileSize <= 0 || tileSize > kMaxTiffSingleAlloc || !checked_mul(tileRowBytes, static_cast<long long>(th), need) ||
            need > tileSize)
            return false;
        _typebuf<unsigned char> tile;
        if (!sizeBuffer(tile, tileSize)) return false;
        for (long long ty = 0; ty < h; ty += th) {
            for (long long tx = 0; tx < w; tx += tw) {
                const uint32_t index = TIFFComputeTile(s.tif, static_cast<uint32_t>(tx), static_cast<uint32_t>(ty), 0, 0);
                if (TIFFReadEncodedTile(s.tif, index, tile.data(), tileSize) < 0 || s.client.error || s.client.madeUp)
                    return false;
                const long long cols = w - tx < tw ? w - tx : tw;
                const long long rows = h - ty < th ? h - ty : th;
                for (long long r = 0; r < rows; ++r)
                    if (!put(ty + r, tx, tile.data() + r * tileRowBytes, cols)) return false;
            }
        }
        return true;
    }
    long long rowBytes = 0;
    if (!checked_mul(w, pixelBytes, rowBytes)) return false;
    return forEachStripRow(s, rowBytes, [&](long long y, const unsigned char* src) { return put(y, 0, src, w); });
}

// Bilevel, grey of 2 or 4 bits and palette pictures of 1 to 8 bits, packed
// from the high bit of each byte: each value through a table made as
// libtiff's RGBA reader makes it (grey scaled to 0..255, turned over for
// min-is-white; palette entries of 16 bits, or of 8 when none passes 255).
bool cPictTIFF::decodePacked(sSession& s, const sLayout& l) {
    const int bits = l.bits;
    const unsigned values = 1u << bits, top = values - 1;
    unsigned int table[256];
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(s.tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) return false;
        bool wide = false;
        for (unsigned i = 0; i < values; ++i) wide = wide || r[i] > 255 || g[i] > 255 || b[i] > 255;
        const int shift = wide ? 8 : 0;
        for (unsigned i = 0; i < values; ++i)
            table[i] = 0xFF000000u | static_cast<unsigned int>(r[i] >> shift) << 16 |
                       static_cast<unsigned int>(g[i] >> shift) << 8 | static_cast<unsigned int>(b[i] >> shift);
    } else {
        const bool minIsWhite = l.photometric == PHOTOMETRIC_MINISWHITE;
        for (unsigned i = 0; i < values; ++i) table[i] = 0xFF000000u | ((minIsWhite ? top - i : i) * 255 / top) * 0x010101u;
    }
    const long long w = storedW_;
    long long rowBits = 0;
    if (!checked_mul(w, static_cast<long long>(bits), rowBits)) return false;
    // Below 8 bits, each byte's pixels at once: the 2 to 8 pixels of every
    // byte value, made once.
    const int perByte = 8 / bits;
    std::vector<unsigned int> spread;
    if (bits < 8) {
        spread.resize(static_cast<std::size_t>(256 * perByte));
        for (unsigned v = 0; v < 256; ++v)
            for (int k = 0; k < perByte; ++k)
                spread[v * perByte + static_cast<unsigned>(k)] = table[(v >> (8 - bits * (k + 1))) & top];
    }
    const long long wholeBytes = w / perByte;
    return forEachStripRow(s, (rowBits + 7) / 8, [&](long long y, const unsigned char* src) {
        if (!extActive_ && !reserve(false)) return false;
        unsigned int* out = rowOut8(y, 0);
        if (bits == 8) {
            for (long long x = 0; x < w; ++x) out[x] = table[src[x]];
        } else {
            for (long long i = 0; i < wholeBytes; ++i)
                std::memcpy(out + i * perByte, &spread[static_cast<std::size_t>(src[i]) * perByte],
                            sizeof(unsigned int) * static_cast<std::size_t>(perByte));
            const long long done = wholeBytes * perByte;
            if (done < w)
                std::memcpy(out + done, &spread[static_cast<std::size_t>(src[wholeBytes]) * perByte],
                            sizeof(unsigned int) * static_cast<std::size_t>(w - done));
        }
        sendRow(y, 0, out, w);
        return true;
    });
}

long long cPictTIFF::dataBytes(sSession& s) {
    const long long size = s.client.stream->size();
    const uint32_t striles = TIFFIsTiled(s.tif) ? TIFFNumberOfTiles(s.tif) : TIFFNumberOfStrips(s.tif);
    // Every strip or tile as the bytes it covers, [offset, end): strips that
    // point at the same bytes (or overlap) describe them once.
    std::vector<std::pair<unsigned long long, unsigned long long> > spans;
    try {
        spans.reserve(striles);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    for (uint32_t i = 0; i < striles; ++i) {
        int err = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(s.tif, i, &err);
        if (err) return -1;
        const uint64_t length = TIFFGetStrileByteCountWithErr(s.tif, i, &err);
        if (err) return -1;
        // Only the bytes the stream holds: a count past its end describes
        // nothing.
        unsigned long long end = 0;
        if (!checked_add(static_cast<unsigned long long>(offset), static_cast<unsigned long long>(length), end)) end = ~0ULL;
        if (size >= 0) end = std::min(end, static_cast<unsigned long long>(size));
        if (end > offset) spans.emplace_back(offset, end);
    }
    std::sort(spans.begin(), spans.end());
    unsigned long long total = 0, reached = 0;
    for (const auto& span : spans) {
        const unsigned long long from = std::max(span.first, reached);
        if (span.second > from) {
            total += span.second - from;
            reached = span.second;
        }
    }
    return static_cast<long long>(std::min<unsigned long long>(total, 1ULL << 62));
}

bool cPictTIFF::dataCanDescribe(sSession& s, long long extraBytes) {
    uint16_t compression = COMPRESSION_NONE, bits = 1, spp = 1;
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(s.tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    const long long n = dataBytes(s);
    if (n < 0) return false;
    // Fax codings and other one-bit pictures are bilevel: a white row of
    // them costs a bit or two.
    const bool bilevel = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
                         compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW ||
                         static_cast<unsigned>(bits) * spp == 1;
    const int pixelBytes = bits == 16 ? 8 : 4;
    auto describable = [&](long long pixels) {
        return bilevel ? bilevelCanDescribe(pixels, n, pixelBytes) : inputCanDescribe(pixels, n, pixelBytes);
    };
    // The picture and what the decode holds besides it, and each strip or
    // tile the decode holds (a tile may reach far past the picture).
    long long pixels = 0;
    if (!checked_add(static_cast<long long>(s.width) * s.height, (extraBytes + pixelBytes - 1) / pixelBytes, pixels) ||
        !describable(pixels))
        return false;
    if (TIFFIsTiled(s.tif)) {
        uint32_t tw = 0, th = 0;
        if (!TIFFGetField(s.tif, TIFFTAG_TILEWIDTH, &tw) || !TIFFGetField(s.tif, TIFFTAG_TILELENGTH, &th)) return false;
        return describable(static_cast<long long>(tw) * th);
    }
    return true;
}

bool cPictTIFF::firstStrileInside(sSession& s) {
    int err = 0;
    const uint64_t offset = TIFFGetStrileOffsetWithErr(s.tif, 0, &err);
    if (err) return false;
    const uint64_t length = TIFFGetStrileByteCountWithErr(s.tif, 0, &err);
    const long long size = s.client.stream->size();
    if (err || length == 0) return false;
    unsigned long long end = 0;
    return size < 0 || (checked_add(offset, length, end) && end <= static_cast<unsigned long long>(size));
}

bool cPictTIFF::decodeRGBA(sSession& s, const sLayout& l) {
    char message[1024];
    if (!TIFFRGBAImageOK(s.tif, message)) return false;
    TIFFRGBAImage img;
    std::memset(&img, 0, sizeof img);
    if (!TIFFRGBAImageBegin(&img, s.tif, 1, message)) return false;
    const long long w = storedW_, h = storedH_;
    // libtiff packs R in the low byte (ABGR); ours keeps B there.
    auto swapRB = [](unsigned int* p, long long n) {
        for (long long i = 0; i < n; ++i) {
            const unsigned int v = p[i];
            p[i] = (v & 0xFF00FF00u) | (v & 0xFF) << 16 | (v >> 16 & 0xFF);
        }
    };
    bool ok;
    if (extActive_) {
        // Into a target: a strip (or a row of tiles) at a time, top row
        // first, each strip decoded once.
        img.orientation = ORIENTATION_TOPLEFT;
        img.req_orientation = ORIENTATION_TOPLEFT;
        _typebuf<unsigned int> raster;
        ok = sizeBuffer(raster, w * l.chunkRows);
        for (long long y = 0; ok && y < h; y += l.chunkRows) {
            const long long rows = std::min(l.chunkRows, h - y);
            img.row_offset = static_cast<int>(y);
            img.col_offset = 0;
            ok = TIFFRGBAImageGet(&img, raster.data(), static_cast<uint32_t>(w), static_cast<uint32_t>(rows)) != 0 &&
                 !s.client.error;
            for (long long r = 0; ok && r < rows; ++r) {
                unsigned int* row = raster.data() + r * w;
                swapRB(row, w);
                sendRow(y + r, 0, row, w);
            }
        }
    } else {
        // Read as stored, row 0 of the raster being the bottom row as in
        // ours; the file's Orientation is applied afterwards, the same for
        // both ways.  The library reads the strips itself: the picture is
        // reserved only when the first one lies inside the stream.
        img.orientation = ORIENTATION_TOPLEFT;
        img.req_orientation = ORIENTATION_BOTLEFT;
        ok = firstStrileInside(s) && reserve(false);
        if (ok) ok = TIFFRGBAImageGet(&img, raw8Bpp(), static_cast<uint32_t>(w), static_cast<uint32_t>(h)) != 0 &&
                     !s.client.error;
        if (ok) swapRB(raw8Bpp(), w * h);
    }
    TIFFRGBAImageEnd(&img);
    return ok;
}
