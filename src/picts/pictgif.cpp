// GIF decoding: header, block walk, colour tables, LZW image data.
#include "picts/pictgif.h"

#include "base/checked.h"
#include "compression/lzw.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr unsigned char kImage = 0x2C;      // ','
constexpr unsigned char kExtension = 0x21;  // '!'
constexpr unsigned char kTrailer = 0x3B;    // ';'
constexpr unsigned char kGraphicControl = 0xF9;

// What a pixel becomes when its index is transparent, lies past the colour
// table, or was never reached by the image data.
constexpr unsigned int kNoPixel = 0x00FFFFFFu;

inline unsigned int tableEntries(unsigned char flags) { return 2u << (flags & 7); }

// Images up to this many pixels are drawn however little data they have,
// the rest filled in.
constexpr long long kAlwaysFilledPixels = 1LL << 20;

// The most indices the LZW decoder holds before they become rows.
constexpr unsigned long long kLzwWindow = 1ULL << 20;

// The most bytes `bytes` of LZW data can ever decode to: at most one code
// per `width` bits, the n-th code of a table at most n + 1 bytes long and
// none longer than the table's 4096 entries.  A larger image than that is
// a header the data cannot stand behind: it is refused before the picture
// is allocated, so a few bytes cannot make the decoder fill gigabytes.
unsigned long long lzwReach(long long bytes, int width) {
    const unsigned long long codes = static_cast<unsigned long long>(bytes) * 8 / static_cast<unsigned long long>(width);
    if (codes > 8192) return codes * 4097;  // past this the cap is the smaller
    return codes * (codes + 3) / 2;
}

}  // namespace

cPictGIF::cPictGIF() {
    std::memset(header_, 0, sizeof header_);
    std::memset(control_, 0, sizeof control_);
    std::memset(knownHeader_, 0, sizeof knownHeader_);
    std::memset(lookup_, 0, sizeof lookup_);
}

cPictGIF::~cPictGIF() = default;

bool cPictGIF::validFor(cFileIOTarget* stream, sPictInfo* info) {
    cPictGIF probe;
    return probe.isPicture(stream, info);
}

// ---------------------------------------------------------------------------
// Header and colour tables

bool cPictGIF::readValidateHeader(cByteReader& in, bool loadGlobal) {
    if (!in.read(header_, 13)) return false;
    if (std::memcmp(header_, "GIF8", 4) != 0) return false;
    if (!((header_[4] == '7' || header_[4] == '9') && header_[5] == 'a')) return false;
    if (!cByteReader::u16le(header_ + 6) || !cByteReader::u16le(header_ + 8)) return false;
    if (!loadGlobal) return true;
    if (header_[10] & 0x80) return loadPalette(in, tableEntries(header_[10]));
    palette_.set(0);
    paletteCount_ = 0;
    return true;
}

bool cPictGIF::loadPalette(cByteReader& in, unsigned int count) {
    unsigned char rgb[256 * 3];
    if (count > 256 || !in.read(rgb, count * 3)) return false;
    if (palette_.count() != 256) {
        if (!sizeBuffer(palette_, 256)) return false;
    }
    for (unsigned int i = 0; i < count; ++i)
        palette_.data()[i] = 0xFF000000u | static_cast<unsigned int>(rgb[3 * i]) << 16 |
                             static_cast<unsigned int>(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
    paletteCount_ = count;
    return true;
}

bool cPictGIF::isPicture(cFileIOTarget* stream, sPictInfo* info) {
    if (!stream) return false;
    cByteReader in(stream, cByteReader::kStreamWindow, 0);
    if (!readValidateHeader(in, false)) return false;
    if ((header_[10] & 0x80) && !in.skip(3ULL * tableEntries(header_[10]))) return false;
    unsigned char next = 0;
    if (!in.byte(next) || (next != kExtension && next != kImage)) return false;
    if (info) {
        info->width = cByteReader::u16le(header_ + 6);
        info->height = cByteReader::u16le(header_ + 8);
        info->hasPreview = false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The block walk

bool cPictGIF::readDescriptor(cByteReader& in, sGIFImage& img) {
    unsigned char d[9];
    if (!in.read(d, 9)) return false;
    img.left = static_cast<unsigned short>(cByteReader::u16le(d));
    img.top = static_cast<unsigned short>(cByteReader::u16le(d + 2));
    img.width = static_cast<unsigned short>(cByteReader::u16le(d + 4));
    img.height = static_cast<unsigned short>(cByteReader::u16le(d + 6));
    img.flags = d[8];
    return true;
}

bool cPictGIF::skipSubBlocks(cByteReader& in) {
    for (;;) {
        unsigned char n = 0;
        if (!in.byte(n)) return false;
        if (n == 0) return true;
        if (!in.skip(n)) return false;
    }
}

void cPictGIF::forgetKnown() {
    known_.clear();
    knownStream_ = nullptr;
    knownSize_ = -1;
    resumeAt_ = 0;
    resumeCount_ = 0;
}

bool cPictGIF::findImage(cFileIOTarget* stream, cPtr<cByteReader>& in, int& index, bool full) {
    const int wanted = index;
    index = -1;
    hasControl_ = false;
    std::memset(control_, 0, sizeof control_);
    if (!stream || wanted < 0 || !stream->set_fp(0)) return false;
    in = new cByteReader(stream, cByteReader::kStreamWindow, 0);
    if (!readValidateHeader(*in, full)) return false;
    const unsigned long long tableEnd = 13 + ((header_[10] & 0x80) ? 3ULL * tableEntries(header_[10]) : 0);

    const long long size = stream->size();
    if (knownStream_ != stream || knownSize_ != size || std::memcmp(knownHeader_, header_, 13) != 0) {
        forgetKnown();
        knownStream_ = stream;
        knownSize_ = size;
        std::memcpy(knownHeader_, header_, 13);
        resumeAt_ = tableEnd;
    }
    bool streamMoved = false;  // the reader's block no longer follows the stream
    if (static_cast<std::size_t>(wanted) < known_.size()) {
        // Seen before: straight to it, checking that its introducer is still there.
        const sKnownImage& k = known_[static_cast<std::size_t>(wanted)];
        unsigned char intro = 0;
        if (in->seek(static_cast<std::size_t>(k.offset - 1)) && in->byte(intro) && intro == kImage) {
            std::memcpy(control_, k.control, 5);
            hasControl_ = k.hasControl;
            index = wanted;
            return true;
        }
        // The stream changed under us: walk it anew.
        forgetKnown();
        knownStream_ = stream;
        knownSize_ = size;
        std::memcpy(knownHeader_, header_, 13);
        resumeAt_ = tableEnd;
        streamMoved = true;
    }

    // Walk on from the image after the last one skipped.
    if (streamMoved || in->tell() != resumeAt_) {
        if (streamMoved) in = new cByteReader(stream, cByteReader::kStreamWindow, 0);
        if (!in->seek(static_cast<std::size_t>(resumeAt_))) return false;
    }
    int count = resumeCount_;
    for (;;) {
        unsigned char intro = 0;
        if (!in->byte(intro)) return false;
        if (intro == kImage) {
            if (static_cast<std::size_t>(count) == known_.size()) {
                sKnownImage k;
                k.offset = in->tell();
                std::memcpy(k.control, control_, 5);
                k.hasControl = hasControl_;
                known_.push_back(k);
            }
            if (count == wanted) {
                index = wanted;
                return true;
            }
            sGIFImage img;
            if (!readDescriptor(*in, img) || !img.width || !img.height) return false;
            if ((img.flags & 0x80) && !in->skip(3ULL * tableEntries(img.flags))) return false;
            unsigned char codeSize = 0, first = 0;
            if (!in->byte(codeSize) || !in->byte(first) || first == 0) return false;
            if (!in->skip(first) || !skipSubBlocks(*in)) return false;
            ++count;
            // A graphic control belongs to the one image after it.
            hasControl_ = false;
            std::memset(control_, 0, sizeof control_);
            resumeAt_ = in->tell();
            resumeCount_ = count;
        } else if (intro == kExtension) {
            unsigned char label = 0, n = 0;
            if (!in->byte(label) || !in->byte(n)) return false;
            if (label == kGraphicControl && n == 4) {
                if (!in->read(control_, 5)) return false;
                hasControl_ = true;
                // The terminator normally ends it; anything else is more
                // sub-blocks of the same extension.
                if (control_[4] != 0 && (!in->skip(control_[4]) || !skipSubBlocks(*in))) return false;
            } else {
                if (!in->skip(n)) return false;
                if (n != 0 && !skipSubBlocks(*in)) return false;
            }
        } else if (intro == kTrailer) {
            index = count;
            return false;
        } else {
            return false;
        }
    }
}

int cPictGIF::getNumPages(cFileIOTarget* stream) {
    cPtr<cByteReader> in;
    int index = 0x7FFFFFFF;
    findImage(stream, in, index, false);
    return index;
}

bool cPictGIF::getPageSize(cFileIOTarget* stream, int page, int& w, int& h) {
    cPtr<cByteReader> in;
    int index = page;
    sGIFImage img;
    if (!findImage(stream, in, index, false) || !readDescriptor(*in, img)) return false;
    w = img.width;
    h = img.height;
    return w != 0 && h != 0;
}

bool cPictGIF::decodePage(cFileIOTarget* stream, int page) {
    cPtr<cByteReader> in;
    int index = page;
    sGIFImage img;
    if (!findImage(stream, in, index, true) || !readDescriptor(*in, img)) return false;
    return processDecode(*in, img);
}

bool cPictGIF::decodePagePreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, int page,
                                 bool, unsigned int) {
    cPtr<cByteReader> in;
    int index = page;
    sGIFImage img;
    if (maxW <= 0 || maxH <= 0) return false;
    if (!findImage(stream, in, index, true) || !readDescriptor(*in, img) || !img.width || !img.height) return false;
    long long pw = 0, ph = 0;
    if (!fitSize(img.width, img.height, maxW, maxH, pw, ph) || !dst.create(pw, ph, 0)) return false;
    sExtPictDef target(&dst);
    if (!setExtTarget(&target)) return false;
    const bool ok = processDecode(*in, img);
    ext_ = nullptr;  // the target lives on this frame only
    return ok;
}

// ---------------------------------------------------------------------------
// Image data

void cPictGIF::buildLookup() {
    // Transparency comes only from the graphic control of this image.
    const unsigned int transparent = hasControl_ && (control_[0] & 1) ? control_[3] : 256;
    for (unsigned int i = 0; i < 256; ++i)
        lookup_[i] = (i < paletteCount_ && i != transparent) ? palette_.data()[i] : kNoPixel;
}

// The image's rows in the order its indices come: top to bottom, or the
// four interlaced passes (every 8th row from 0, every 8th from 4, every 4th
// from 2, every 2nd from 1).
struct cPictGIF::sRows {
    cPictGIF* pict;
    bool interlaced;
    int pass = 0;
    long long row = 0;   // the image row the next indices belong to
    long long next = 0;  // rows emitted so far
    long long fill = 0;  // indices of the next row gathered in part_

    sRows(cPictGIF* p, bool inter) : pict(p), interlaced(inter) {}

    void emit(const unsigned char* indices, long long n) {
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        if (next >= pict->height_) return;
        pict->processRow(indices, n, row);
        ++next;
        fill = 0;
        if (!interlaced) {
            ++row;
            return;
        }
        row += kStep[pass];
        while (row >= pict->height_ && pass < 3) row = kStart[++pass];
    }

    static bool take(void* self, const unsigned char* bytes, unsigned long long n) {
        sRows& r = *static_cast<sRows*>(self);
        const long long w = r.pict->width_;
        unsigned char* part = r.pict->part_.data();
        while (n > 0 && r.next < r.pict->height_) {
            if (r.fill == 0 && n >= static_cast<unsigned long long>(w)) {
                // Whole rows straight from the decoder's window.
                r.emit(bytes, w);
                bytes += w;
                n -= static_cast<unsigned long long>(w);
                continue;
            }
            const long long k = std::min(static_cast<long long>(n), w - r.fill);
            std::memcpy(part + r.fill, bytes, static_cast<std::size_t>(k));
            r.fill += k;
            bytes += k;
            n -= static_cast<unsigned long long>(k);
            if (r.fill == w) r.emit(part, w);
        }
        return true;
    }
};

void cPictGIF::processRow(const unsigned char* indices, long long n, long long r) {
    const long long w = width_;
    const long long y = height_ - 1 - r;
    if (extActive_ && !canExtRender(0, w - 1, y, y)) return;
    unsigned int* out = extActive_ ? line_.data() : pixels8_.data() + y * w;
    const unsigned int* lookup = lookup_;
    for (long long x = 0; x < n; ++x) out[x] = lookup[indices[x]];
    for (long long x = n; x < w; ++x) out[x] = kNoPixel;
    if (extActive_) setExtRow(y, out, w);
}

bool cPictGIF::processDecode(cByteReader& in, sGIFImage& img) {
    close();
    extActive_ = false;
    if ((img.flags & 0x80) && !loadPalette(in, tableEntries(img.flags))) return false;
    unsigned char minCodeSize = 0;
    if (!in.byte(minCodeSize) || paletteCount_ == 0) return false;
    // The code size of the format: 2 for 1- and 2-bit pictures up to 8.
    if (minCodeSize < 2 || minCodeSize > 8) return false;
    long long pixels = 0;
    if (!checkPixelCount(img.width, img.height, &pixels)) return false;

    // The data sub-blocks, joined.  A file that ends inside them keeps what
    // it holds: the rows the data reaches are drawn.
    _typebuf<unsigned char> data;
    try {
        long long used = 0;
        data.set(64 * 1024);
        for (;;) {
            unsigned char n = 0;
            if (!in.byte(n) || n == 0) break;
            long long grown = 0;
            if (data.count() - used < n) {
                if (!checked_mul(data.count(), 2, grown)) return false;
                data.reset(grown);
            }
            const unsigned int got = in.readSome(data.data() + used, n);
            used += got;
            if (got < n) break;
        }
        if (used == 0) return false;
        if (used < data.count()) data.reset(used);
        // Past what the codes could ever reach, or past what the library
        // lets this many bytes describe (the longest strings reach about
        // 2700 pixels a byte).
        if ((pixels > kAlwaysFilledPixels && pixels > static_cast<long long>(lzwReach(used, minCodeSize + 1))) ||
            !inputCanDescribe(pixels, used))
            return false;
    } catch (const std::bad_alloc&) {
        return false;
    }

    width_ = img.width;
    height_ = img.height;
    is16Bpp_ = false;
    extActive_ = startExtRender();
    if (!sizeBuffer(part_, width_) || (extActive_ ? !sizeBuffer(line_, width_) : !allocPixels8(img.width, img.height))) {
        if (extActive_) endExtRender();
        extActive_ = false;
        return false;
    }
    buildLookup();

    // The indices become rows as the decoder hands them on: memory stays at
    // the picture (or the render target) and a window of indices.  A
    // damaged code stream keeps what it decoded; rows the data does not
    // reach (it ended early) are left empty.
    sRows rows(this, img.flags & 0x40);
    cLZWDecompress lzw(false, minCodeSize + 1, false);
    lzw.setOutputLimit(static_cast<unsigned long long>(pixels));
    lzw.decompressTo(data, &sRows::take, &rows,
                     std::min<unsigned long long>(static_cast<unsigned long long>(pixels), kLzwWindow));
    data.set(0);
    if (rows.fill > 0) rows.emit(part_.data(), rows.fill);
    while (rows.next < height_) rows.emit(nullptr, 0);
    if (extActive_) {
        endExtRender();
        extActive_ = false;
    }
    line_.set(0);
    return true;
}
