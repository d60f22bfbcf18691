#include "picts/pictico.h"

#include "base/bytereader.h"
#include "base/memio.h"
#include "picts/pictdib.h"
#include "picts/pictpng.h"

namespace {

// Only the image size and offset of a directory entry matter: the width,
// height and depth bytes are often wrong (0 means 256) and the embedded
// image's own header is the truth.
constexpr unsigned int kHeaderBytes = 6;
constexpr unsigned int kEntryBytes = 16;

}  // namespace

unsigned int cPictICO::readHeader(cFileIOTarget* stream) {
    unsigned char h[kHeaderBytes];
    if (!cByteReader::readAt(stream, 0, h, sizeof h)) return 0;
    cByteReader r(h, sizeof h);
    std::uint16_t reserved = 0, type = 0, count = 0;
    r.read_u16le(reserved);
    r.read_u16le(type);
    r.read_u16le(count);
    // Type 1 is an icon, 2 a cursor (whose planes/bits hold the hot spot).
    if (reserved != 0 || (type != 1 && type != 2)) return 0;
    return count;
}

bool cPictICO::readEntry(cFileIOTarget* stream, unsigned int i, sEntry& e) {
    unsigned char raw[kEntryBytes];
    if (!cByteReader::readAt(stream, kHeaderBytes + static_cast<unsigned long long>(kEntryBytes) * i, raw, sizeof raw))
        return false;
    cByteReader r(raw, sizeof raw);
    std::uint32_t size = 0, offset = 0;
    r.skip(8);
    r.read_u32le(size);
    r.read_u32le(offset);
    e.size = size;
    e.offset = offset;
    cFileIOSubRange window(stream, offset, size);
    return window.valid() && measureIconImage(&window, e.width, e.height, e.png);
}

bool cPictICO::measureIconImage(cFileIOTarget* image, long long& w, long long& h, bool& png) {
    sPictInfo info;
    // A DIB header is tried first: its first bytes (a header size of 40,
    // 108 or 124) can never start a PNG signature.
    if (image->set_fp(0) && cPictDIB::validFor(image, &info, true)) {
        png = false;
    } else if (image->set_fp(0) && cPictPNG::validFor(image, &info)) {
        png = true;
    } else {
        return false;
    }
    w = info.width;
    h = info.height;
    return w > 0 && h > 0;
}

bool cPictICO::decodeIconImage(cFileIOTarget* image, cPictBase& into) {
    cPictPNG png;
    cPictDIB dib;
    cPictBase* inner = nullptr;
    if (image->set_fp(0) && cPictPNG::validFor(image, nullptr)) {
        inner = &png;
    } else if (image->set_fp(0) && cPictDIB::validFor(image, nullptr, true)) {
        dib.setUseAlphaBp(true);
        dib.setForcedPalletteLoad(true);
        inner = &dib;
    } else {
        return false;
    }
    // The target travels down to the entry's decoder, which fills it
    // instead of a buffer of its own.
    sExtPictDef* target = into.extTarget();
    if (target) {
        into.endExtRender();
        inner->setExtTarget(target);
    }
    if (!image->set_fp(0) || !inner->decode(image)) return false;
    // A decoder that could not start rendering filled its own buffer: it
    // travels with the picture, and the caller fits it into the target.
    inner->moveTo(into);
    return true;
}

bool cPictICO::decodeEntry(cFileIOTarget* stream, const sEntry& e, cPictBase& into) {
    cFileIOSubRange window(stream, e.offset, e.size);
    return window.valid() && decodeIconImage(&window, into);
}

bool cPictICO::validFor(cFileIOTarget* stream, sPictInfo* info) {
    const unsigned int count = readHeader(stream);
    if (count == 0) return false;
    sEntry best;
    for (unsigned int i = 0; i < count; ++i) {
        sEntry e;
        if (!readEntry(stream, i, e)) return false;
        if (e.width * e.height > best.width * best.height) best = e;
    }
    if (info) {
        info->width = best.width;
        info->height = best.height;
        info->hasPreview = true;
    }
    return true;
}

int cPictICO::getNumPages(cFileIOTarget* stream) { return static_cast<int>(readHeader(stream)); }

bool cPictICO::getPageSize(cFileIOTarget* stream, int page, int& w, int& h) {
    const unsigned int count = readHeader(stream);
    sEntry e;
    if (page < 0 || static_cast<unsigned int>(page) >= count || !readEntry(stream, page, e)) return false;
    w = static_cast<int>(e.width);
    h = static_cast<int>(e.height);
    return true;
}

bool cPictICO::decode(cFileIOTarget* stream) { return decodePage(stream, page_); }

bool cPictICO::decodePage(cFileIOTarget* stream, int page) {
    if (page < 0) return false;
    page_ = page;
    const unsigned int count = readHeader(stream);
    sEntry e;
    if (static_cast<unsigned int>(page) >= count || !readEntry(stream, page, e)) return false;
    return decodeEntry(stream, e, *this);
}

bool cPictICO::decodePagePreview(cFileIOTarget* stream, cPictDummy& dst, long long maxW, long long maxH, int page,
                                 bool allowDecode, unsigned int background) {
    if (!allowDecode || page < 0) return false;
    const unsigned int count = readHeader(stream);
    sEntry e;
    if (static_cast<unsigned int>(page) >= count || !readEntry(stream, page, e)) return false;
    cPictDummy tmp;
    if (!decodeEntry(stream, e, tmp)) return false;
    return imgToPreview(tmp, dst, maxW, maxH, background);
}

bool cPictICO::getPreview(cFileIOTarget* stream, cPictBase& out, const long long* maxW, const long long* maxH) {
    const unsigned int count = readHeader(stream);
    if (count == 0) return false;
    sEntry best;
    bool found = false;
    for (unsigned int i = 0; i < count; ++i) {
        sEntry e;
        if (!readEntry(stream, i, e)) return false;
        if ((maxW && e.width > *maxW) || (maxH && e.height > *maxH)) continue;
        if (!found || e.width * e.height > best.width * best.height) {
            best = e;
            found = true;
        }
    }
    if (!found) return false;
    cPictDummy tmp;
    if (!decodeEntry(stream, best, tmp)) return false;
    tmp.moveTo(out);
    return true;
}
