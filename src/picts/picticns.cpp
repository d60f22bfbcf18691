#include "picts/picticns.h"

#include <climits>
#include <cstring>
#include <vector>

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/memio.h"
#include "picts/pictjp2.h"
#include "picts/pictpng.h"

namespace {

constexpr unsigned fourcc(const char (&s)[5]) {
    return static_cast<unsigned>(static_cast<unsigned char>(s[0])) << 24 |
           static_cast<unsigned>(static_cast<unsigned char>(s[1])) << 16 |
           static_cast<unsigned>(static_cast<unsigned char>(s[2])) << 8 | static_cast<unsigned char>(s[3]);
}

constexpr unsigned kHeadBytes = 8;
// The smallest family: its header and one element head.
constexpr unsigned kMinFamilyLength = 16;

// A bitmap element: its side, depth, data length (0: 24-bit, raw at
// side x side x 3 bytes or packed at any other length) and the mask types
// that may follow it directly.
struct sBitmapKind {
    unsigned type;
    int side;
    int bits;
    unsigned dataBytes;
    unsigned mask8;      // 8-bit mask element, 0 none
    unsigned mask1;      // 1-bit mask element (image and mask halves), 0 none
};

const sBitmapKind kBitmaps[] = {
    {fourcc("ICON"), 32, 1, 128, 0, 0},
    {fourcc("ICN#"), 32, 1, 256, 0, 0},
    {fourcc("ics4"), 16, 4, 128, fourcc("s8mk"), 0},
    {fourcc("icl4"), 32, 4, 512, fourcc("l8mk"), 0},
    {fourcc("ich4"), 48, 4, 1152, fourcc("h8mk"), fourcc("ich#")},
    {fourcc("ics8"), 16, 8, 256, fourcc("s8mk"), 0},
    {fourcc("icl8"), 32, 8, 1024, fourcc("l8mk"), 0},
    {fourcc("ich8"), 48, 8, 2304, fourcc("h8mk"), fourcc("ich#")},
    {fourcc("is32"), 16, 24, 0, fourcc("s8mk"), 0},
    {fourcc("il32"), 32, 24, 0, fourcc("l8mk"), 0},
    {fourcc("ih32"), 48, 24, 0, fourcc("h8mk"), fourcc("ich#")},
    {fourcc("it32"), 128, 24, 0, fourcc("t8mk"), 0},
};

const unsigned kEmbedded[] = {fourcc("ic07"), fourcc("ic08"), fourcc("ic09"), fourcc("ic10"),
                              fourcc("ic11"), fourcc("ic12"), fourcc("ic13"), fourcc("ic14"),
                              fourcc("icp4"), fourcc("icp5"), fourcc("icp6")};

const sBitmapKind* bitmapKind(unsigned type) {
    for (const sBitmapKind& k : kBitmaps)
        if (k.type == type) return &k;
    return nullptr;
}

bool isEmbedded(unsigned type) {
    for (unsigned t : kEmbedded)
        if (t == type) return true;
    return false;
}

// The decoder of an embedded image: PNG, then a JP2 file, then a bare
// JPEG 2000 codestream; null when none takes the data.
cPictBase* embeddedDecoder(cFileIOTarget* window, cPictBase::sPictInfo* info) {
    if (window->set_fp(0) && cPictPNG::validFor(window, info)) return new cPictPNG;
    if (window->set_fp(0) && cPictJP2::validFor(window, info)) return new cPictJP2;
    if (window->set_fp(0) && cPictJ2K::validFor(window, info)) return new cPictJ2K;
    return nullptr;
}

// The longest packed 24-bit data read for an image of n pixels: a channel
// of n bytes packed at worst as copies of one byte (two input bytes each),
// three channels and the optional four-byte prefix.  Anything beyond is
// never reached by the unpacker.
unsigned long long maxPackedBytes(unsigned long long pixels) { return pixels * 6 + 4; }

bool readAt(cFileIOTarget* s, unsigned long long at, void* buf, unsigned n) {
    return cByteReader::readAt(s, at, buf, n);
}

}  // namespace

const unsigned int cPictICNS::icnsPalette4bpp[16] = {
    0xFFFFFF, 0xFCF305, 0xFF6402, 0xDD0806, 0xF20884, 0x4600A5, 0x0000D4, 0x02ABEA,
    0x1FB714, 0x006411, 0x562C05, 0x90713A, 0xC0C0C0, 0x808080, 0x404040, 0x000000};

const unsigned int* cPictICNS::icnsPalette8bpp() {
    // The classic Macintosh 256-colour table: a 6x6x6 cube (red slowest,
    // its black corner left out), then red, green, blue and grey ramps over
    // the levels between the cube's, and black.
    static const struct sTable {
        unsigned int v[256];
        sTable() {
            static const unsigned cube[6] = {0xFF, 0xCC, 0x99, 0x66, 0x33, 0x00};
            static const unsigned ramp[10] = {0xEE, 0xDD, 0xBB, 0xAA, 0x88, 0x77, 0x55, 0x44, 0x22, 0x11};
            int n = 0;
            for (unsigned r : cube)
                for (unsigned g : cube)
                    for (unsigned b : cube)
                        if (n < 215) v[n++] = r << 16 | g << 8 | b;
            for (unsigned l : ramp) v[n++] = l << 16;
            for (unsigned l : ramp) v[n++] = l << 8;
            for (unsigned l : ramp) v[n++] = l;
            for (unsigned l : ramp) v[n++] = l << 16 | l << 8 | l;
            v[n] = 0;
        }
    } table;
    return table.v;
}

bool cPictICNS::walk(cFileIOTarget* stream, const std::function<bool(const sElement&)>& fn) {
    unsigned char head[kHeadBytes];
    if (!stream || !readAt(stream, 0, head, kHeadBytes)) return false;
    cByteReader r(head, kHeadBytes);
    std::uint32_t magic = 0, total = 0;
    r.read_u32be(magic);
    r.read_u32be(total);
    if (magic != fourcc("icns") || total < kMinFamilyLength) return false;
    unsigned long long pos = kHeadBytes;
    while (pos < total) {
        if (pos + kHeadBytes > total || !readAt(stream, pos, head, kHeadBytes)) return false;
        cByteReader e(head, kHeadBytes);
        sElement el;
        std::uint32_t type = 0, length = 0;
        e.read_u32be(type);
        e.read_u32be(length);
        // A length below the head's own would not move the walk forward (or
        // would wrap the data length around).
        if (length < kHeadBytes || pos + length > total) return false;
        el.type = type;
        el.offset = static_cast<unsigned>(pos);
        el.length = length;
        if (!fn(el)) return true;
        pos += length;
    }
    return true;
}

bool cPictICNS::getCurrPageSize(cFileIOTarget* stream, unsigned type, unsigned offset, unsigned length, int& width,
                                int& height) {
    if (const sBitmapKind* k = bitmapKind(type)) {
        width = height = k->side;
        return true;
    }
    if (!isEmbedded(type) || length <= kHeadBytes) return false;
    cFileIOSubRange window(stream, offset + static_cast<unsigned long long>(kHeadBytes), length - kHeadBytes);
    if (!window.valid()) return false;
    sPictInfo info;
    cPictBase* d = embeddedDecoder(&window, &info);
    if (!d) return false;
    delete d;
    if (info.width <= 0 || info.height <= 0 || info.width > INT_MAX || info.height > INT_MAX) return false;
    width = static_cast<int>(info.width);
    height = static_cast<int>(info.height);
    return true;
}

bool cPictICNS::pageSize(cFileIOTarget* stream, const sElement& e, int& width, int& height) {
    return getCurrPageSize(stream, e.type, e.offset, e.length, width, height);
}

bool cPictICNS::findMaxPage(cFileIOTarget* stream, int& width, int& height, unsigned& offset, unsigned& length,
                            int maxWidth, int maxHeight) {
    if (maxWidth < 16 || maxHeight < 16) return false;
    long long bestArea = 0;
    const bool walked = walk(stream, [&](const sElement& e) {
        int w = 0, h = 0;
        if (!pageSize(stream, e, w, h) || w > maxWidth || h > maxHeight) return true;
        const long long area = static_cast<long long>(w) * h;
        if (area > bestArea) {
            bestArea = area;
            width = w;
            height = h;
            offset = e.offset;
            length = e.length;
        }
        return true;
    });
    return walked && bestArea > 0;
}

bool cPictICNS::goToPage(cFileIOTarget* stream, int page, unsigned& offset, unsigned& length) {
    if (page < 0) return false;
    int seen = 0;
    bool found = false;
    const bool walked = walk(stream, [&](const sElement& e) {
        int w = 0, h = 0;
        if (!pageSize(stream, e, w, h)) return true;
        if (seen++ == page) {
            offset = e.offset;
            length = e.length;
            found = true;
            return false;
        }
        return true;
    });
    return walked && found;
}

int cPictICNS::getNumPages(cFileIOTarget* stream) {
    int pages = 0;
    const bool walked = walk(stream, [&](const sElement& e) {
        int w = 0, h = 0;
        if (pageSize(stream, e, w, h)) ++pages;
        return true;
    });
    return walked ? pages : 0;
}

bool cPictICNS::getPageSize(cFileIOTarget* stream, int page, int& w, int& h) {
    unsigned offset = 0, length = 0;
    unsigned char head[kHeadBytes];
    if (!goToPage(stream, page, offset, length) || !readAt(stream, offset, head, kHeadBytes)) return false;
    cByteReader r(head, kHeadBytes);
    std::uint32_t type = 0;
    r.read_u32be(type);
    return getCurrPageSize(stream, type, offset, length, w, h);
}

bool cPictICNS::isPicture(cFileIOTarget* stream, sPictInfo* info) {
    int w = 0, h = 0;
    unsigned offset = 0, length = 0;
    if (!findMaxPage(stream, w, h, offset, length, INT_MAX, INT_MAX)) {
        elemOffset_ = 0xFFFFFFFFu;
        elemLength_ = 0;
        return false;
    }
    elemOffset_ = offset;
    elemLength_ = length;
    if (info) {
        info->width = w;
        info->height = h;
        info->hasPreview = true;
    }
    return true;
}

bool cPictICNS::validFor(cFileIOTarget* stream, sPictInfo* info) {
    cPictICNS probe;
    return probe.isPicture(stream, info);
}

bool cPictICNS::decode(cFileIOTarget* stream) {
    if (elemOffset_ == 0xFFFFFFFFu || elemLength_ == 0) {
        int w = 0, h = 0;
        unsigned offset = 0, length = 0;
        if (!findMaxPage(stream, w, h, offset, length, INT_MAX, INT_MAX)) return false;
        elemOffset_ = offset;
        elemLength_ = length;
    }
    return decodeImage(stream, elemOffset_, elemLength_);
}

bool cPictICNS::decodePage(cFileIOTarget* stream, int page) {
    unsigned offset = 0, length = 0;
    if (!goToPage(stream, page, offset, length)) return false;
    elemOffset_ = offset;
    elemLength_ = length;
    return decodeImage(stream, offset, length);
}

bool cPictICNS::decodeImage(cFileIOTarget* stream, unsigned offset, unsigned length) {
    unsigned char head[kHeadBytes];
    if (!stream || length < kHeadBytes || !readAt(stream, offset, head, kHeadBytes)) return false;
    cByteReader r(head, kHeadBytes);
    std::uint32_t type = 0, stored = 0;
    r.read_u32be(type);
    r.read_u32be(stored);
    if (stored != length) return false;
    const unsigned dataBytes = length - kHeadBytes;
    const unsigned long long dataAt = offset + static_cast<unsigned long long>(kHeadBytes);

    if (isEmbedded(type)) {
        cFileIOSubRange window(stream, dataAt, dataBytes);
        if (!window.valid()) return false;
        cPictBase* inner = embeddedDecoder(&window, nullptr);
        if (!inner) return false;
        sExtPictDef* target = ext_;
        ext_ = nullptr;
        if (target && inner->supportsExtRendering()) inner->setExtTarget(target);
        bool ok = window.set_fp(0) && inner->decode(&window);
        // A decoder that could not render into the target leaves a picture
        // of its own: it is fitted into the target here.
        if (ok && target && (inner->raw8Bpp() || inner->raw16Bpp())) {
            ok = inner->toExtTarget(target);
            const long long w = inner->width(), h = inner->height();
            delete inner;
            close();
            width_ = w;
            height_ = h;
            return ok;
        }
        if (ok) {
            close();
            inner->moveTo(*this);
        }
        delete inner;
        return ok;
    }

    const sBitmapKind* k = bitmapKind(type);
    if (!k) return false;
    const unsigned long long pixels = static_cast<unsigned long long>(k->side) * k->side;
    std::vector<unsigned char> data;
    if (k->bits == 24) {
        data.resize(pixels * 3);
        if (dataBytes == pixels * 3) {
            if (!readAt(stream, dataAt, data.data(), dataBytes)) return false;
        } else {
            const unsigned take = static_cast<unsigned>(std::min<unsigned long long>(dataBytes, maxPackedBytes(pixels)));
            std::vector<unsigned char> packed(take);
            if (take == 0 || !readAt(stream, dataAt, packed.data(), take)) return false;
            if (!unpackRLE24(packed.data(), packed.size(), data.data(), data.size())) return false;
        }
    } else {
        if (dataBytes != k->dataBytes) return false;
        data.resize(dataBytes);
        if (!readAt(stream, dataAt, data.data(), dataBytes)) return false;
    }

    // The mask, when the element that directly follows is one of ours; a
    // missing or damaged mask leaves the image opaque.
    std::vector<unsigned char> mask;
    int maskBits = 0;
    if (type == fourcc("ICN#")) {
        mask.assign(data.begin() + 128, data.end());
        maskBits = 1;
    } else if (k->mask8 || k->mask1) {
        unsigned char next[kHeadBytes];
        const unsigned long long nextAt = offset + static_cast<unsigned long long>(length);
        if (readAt(stream, nextAt, next, kHeadBytes)) {
            cByteReader n(next, kHeadBytes);
            std::uint32_t ntype = 0, nlen = 0;
            n.read_u32be(ntype);
            n.read_u32be(nlen);
            const unsigned long long need8 = pixels, need1 = pixels / 8 * 2;
            if (ntype == k->mask8 && nlen == need8 + kHeadBytes) {
                mask.resize(need8);
                if (readAt(stream, nextAt + kHeadBytes, mask.data(), static_cast<unsigned>(need8))) maskBits = 8;
            } else if (k->mask1 && ntype == k->mask1 && nlen == need1 + kHeadBytes) {
                // "ich#" holds a 1-bit image and then the 1-bit mask.
                mask.resize(pixels / 8);
                if (readAt(stream, nextAt + kHeadBytes + pixels / 8, mask.data(), static_cast<unsigned>(pixels / 8)))
                    maskBits = 1;
            }
        }
        if (!maskBits) mask.clear();
    }
    return processBitmap(data.data(), k->side, k->side, k->bits, mask.empty() ? nullptr : mask.data(), maskBits);
}

bool cPictICNS::unpackRLE24(const unsigned char* source, std::size_t sourceLength, unsigned char* destination,
                            std::size_t destinationLength) {
    if (!source || !destination || sourceLength == 0 || destinationLength == 0) return false;
    std::memset(destination, 0, destinationLength);
    cByteReader in(source, sourceLength);
    // "it32" data starts with four zero bytes.
    if (sourceLength >= 4 && !source[0] && !source[1] && !source[2] && !source[3]) in.skip(4);
    const std::size_t pixels = destinationLength / 3;
    for (int channel = 0; channel < 3; ++channel) {
        std::size_t done = 0;
        while (done < pixels) {
            std::uint8_t b = 0;
            if (!in.read_u8(b)) return true;
            if (b >= 0x80) {
                std::uint8_t v = 0;
                if (!in.read_u8(v)) return true;
                const std::size_t run = std::min<std::size_t>(b - 125u, pixels - done);
                for (std::size_t i = 0; i < run; ++i) destination[(done + i) * 3 + channel] = v;
                done += run;
            } else {
                const std::size_t run = std::min<std::size_t>(b + 1u, pixels - done);
                for (std::size_t i = 0; i < run; ++i) {
                    std::uint8_t v = 0;
                    if (!in.read_u8(v)) return true;
                    destination[(done + i) * 3 + channel] = v;
                }
                done += run;
                // Literal bytes beyond the channel's end are skipped.
                if (run < b + 1u) in.skip(std::min<std::size_t>(b + 1u - run, in.remaining()));
            }
        }
    }
    return true;
}

bool cPictICNS::processBitmap(const unsigned char* data, int width, int height, int bits, const unsigned char* mask,
                              int maskBits) {
    if (!data || width <= 0 || height <= 0 || bits <= 0) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return false;
    close();
    width_ = width;
    height_ = height;
    is16Bpp_ = false;
    const bool ext = startExtRender();
    if (!ext && !allocPixels8(width, height)) return false;
    const unsigned int* pal8 = icnsPalette8bpp();
    std::vector<unsigned int> line(static_cast<std::size_t>(width));
    for (long long row = 0; row < height; ++row) {
        const long long y = height - 1 - row;
        for (long long x = 0; x < width; ++x) {
            const long long i = row * width + x;
            unsigned int rgb = 0;
            switch (bits) {
                case 1:
                    // A set bit is black, as the classic Macintosh screen
                    // draws it; a clear bit white.
                    rgb = (data[i >> 3] >> (7 - (i & 7)) & 1) ? 0x000000u : 0xFFFFFFu;
                    break;
                case 4: rgb = icnsPalette4bpp[(data[i >> 1] >> ((i & 1) ? 0 : 4)) & 15]; break;
                case 8: rgb = pal8[data[i]]; break;
                default:
                    rgb = static_cast<unsigned>(data[i * 3]) << 16 | static_cast<unsigned>(data[i * 3 + 1]) << 8 |
                          data[i * 3 + 2];
                    break;
            }
            unsigned int a = 0xFF;
            if (mask && maskBits == 8) a = mask[i];
            if (mask && maskBits == 1) a = (mask[i >> 3] >> (7 - (i & 7)) & 1) ? 0xFF : 0;
            line[static_cast<std::size_t>(x)] = a << 24 | rgb;
        }
        if (ext) {
            setExtRow(y, line.data(), width);
        } else {
            std::memcpy(pixels8_.data() + y * width, line.data(), line.size() * sizeof(unsigned int));
        }
    }
    if (ext) endExtRender();
    return true;
}

bool cPictICNS::getPreview(cFileIOTarget* stream, cPictBase& out, const long long* maxW, const long long* maxH) {
    if (!maxW && !maxH) {
        if (!decode(stream)) return false;
        moveTo(out);
        return true;
    }
    if ((maxW && *maxW < 1) || (maxH && *maxH < 1)) return false;
    const int lw = !maxW || *maxW > INT_MAX ? INT_MAX : static_cast<int>(*maxW);
    const int lh = !maxH || *maxH > INT_MAX ? INT_MAX : static_cast<int>(*maxH);
    int w = 0, h = 0;
    unsigned offset = 0, length = 0;
    if (!findMaxPage(stream, w, h, offset, length, lw, lh)) return false;
    cPictICNS page;
    if (!page.decodeImage(stream, offset, length)) return false;
    page.moveTo(out);
    return true;
}

bool cPictICNS::decodePagePreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, int page,
                                  bool, unsigned int background) {
    unsigned offset = 0, length = 0;
    unsigned char head[kHeadBytes];
    if (maxW < 1 || maxH < 1 || !goToPage(stream, page, offset, length) || !readAt(stream, offset, head, kHeadBytes))
        return false;
    cByteReader r(head, kHeadBytes);
    std::uint32_t type = 0;
    r.read_u32be(type);
    int w = 0, h = 0;
    if (!getCurrPageSize(stream, type, offset, length, w, h) || w <= 0 || h <= 0) return false;
    cPictICNS decoder;
    if (w <= maxW && h <= maxH) {
        if (!decoder.decodeImage(stream, offset, length)) return false;
        decoder.moveTo(dst);
        return true;
    }
    long long cw = 0, ch = 0;
    if (!fitSize(w, h, maxW, maxH, cw, ch) || !dst.create(cw, ch, 0)) return false;
    sExtPictDef target(&dst);
    target.background = background;
    if (!decoder.setExtTarget(&target)) return false;
    const bool ok = decoder.decodeImage(stream, offset, length);
    decoder.endExtRender();
    // A decoder that could not render into the target filled its own buffer.
    if (ok && decoder.raw8Bpp()) return decoder.toExtTarget(&target);
    return ok;
}
