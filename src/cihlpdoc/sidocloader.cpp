#include "cihlpdoc/sidocloader.h"

#include <zlib.h>

#include <cstring>

#include "base/fileio.h"
#include "base/memio.h"
#include "cihlpdoc/hdoclimits.h"
#include "picts/pictbase.h"
#include "uitoolkit/picture.h"

namespace {

const unsigned char kMagic[8] = {'Q', 'O', 'R', 'H', 'D', 'O', 'C', 'F'};

// The common header of every record after its type byte.
struct sRecordHeader {
    std::uint32_t bg = 0;
    std::uint8_t brk = 0;
    std::uint16_t left = 0, right = 0, top = 0, bottom = 0, width = 0, height = 0;
};

bool readHeader(cByteReader& in, sRecordHeader& h) {
    return in.read_u32le(h.bg) && in.read_u8(h.brk) && in.read_u16le(h.left) && in.read_u16le(h.right) &&
           in.read_u16le(h.top) && in.read_u16le(h.bottom) && in.read_u16le(h.width) && in.read_u16le(h.height);
}

void applyHeader(cSiDocBox* box, const sRecordHeader& h) {
    if (h.left || h.right || h.top || h.bottom) box->setMargins(h.left, h.top, h.right, h.bottom);
    if (h.width != 0xFFFF) box->setWidth(h.width);
    if (h.height != 0xFFFF) box->setHeight(h.height);
    if (h.bg != 0xFFFFFFFFu) box->setBgColor(h.bg);
    if (h.brk) box->setBreak(true);
}

}  // namespace

void cSiDocLoader::destroy() {
    mDocs.clear();
    mFonts.clear();
    mLinks.clear();
    mPictures.clear();
}

cSiDocContainer* cSiDocLoader::forLang(int lang) {
    auto it = mDocs.find(lang);
    return it == mDocs.end() ? nullptr : it->second.get();
}

cPicture* cSiDocLoader::picture(int id) {
    auto it = mPictures.find(id);
    return it == mPictures.end() ? nullptr : it->second.get();
}

const char* cSiDocLoader::linkTarget(int id) {
    auto it = mLinks.find(id);
    return it == mLinks.end() ? nullptr : it->second.c_str();
}

const cSiDocLoader::sIntFontDef* cSiDocLoader::fontDef(int id) const {
    auto it = mFonts.find(id);
    return it == mFonts.end() ? nullptr : &it->second;
}

cFontObject* cSiDocLoader::font(unsigned int id) {
    if (id > 0x7FFFFFFFu) return nullptr;
    const sIntFontDef* d = fontDef(static_cast<int>(id));
    if (!d) return nullptr;
    const char* face = siDocFaceName(d->face);
    if (!face) return nullptr;
    return cFontObject::get(d->width, d->height, face, d->bold, d->underline, d->italic);
}

bool cSiDocLoader::load(const char* path) {
    destroy();
    cFileIO f;
    if (!path || !f.open(path, fmRead)) return false;
    const long long size = f.size();
    // The image table is stored plainly, so no document is larger than the
    // budget plus its compressed blocks; refuse what could not be loaded
    // before reading it whole.
    if (size <= 0 || size > static_cast<long long>(2 * kMaxHdocInflatedBytes)) return false;
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    if (!f.readf(data.data(), static_cast<unsigned int>(size))) return false;
    return load(data.data(), size);
}

bool cSiDocLoader::inflateBlock(const unsigned char* data, std::size_t n, std::vector<unsigned char>& out) {
    out.clear();
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<uInt>(n);
    unsigned char chunk[65536];
    bool ok = true;
    for (;;) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = sizeof chunk - z.avail_out;
        if (got > mBudget) {
            ok = false;  // past the document's inflated-size budget
            break;
        }
        mBudget -= got;
        out.insert(out.end(), chunk, chunk + got);
        if (rc == Z_STREAM_END) break;
        // A stream that ends early yields what it holds.
        if (rc == Z_BUF_ERROR || (rc == Z_OK && z.avail_in == 0 && got == 0)) break;
        if (rc != Z_OK) {
            ok = false;
            break;
        }
    }
    inflateEnd(&z);
    return ok;
}

bool cSiDocLoader::load(const unsigned char* data, long long size) {
    destroy();
    mBudget = kMaxHdocInflatedBytes;
    if (!data || size < 13) return false;
    cByteReader in(data, static_cast<std::size_t>(size));
    const unsigned char* magic = nullptr;
    if (!in.view(magic, 8) || std::memcmp(magic, kMagic, 8) != 0) return false;

    std::map<int, std::pair<const unsigned char*, std::size_t> > blocks;
    std::uint8_t id = 0;
    if (!in.read_u8(id) || id == 0xFF) return false;
    while (id != 0xFF) {
        std::uint32_t len = 0;
        const unsigned char* bytes = nullptr;
        if (!in.read_u32le(len) || len == 0 || !in.view(bytes, len)) return false;
        if (!blocks.emplace(id, std::make_pair(bytes, static_cast<std::size_t>(len))).second) return false;
        if (!in.read_u8(id)) return false;
    }

    std::vector<unsigned char> plain;
    std::uint32_t len = 0;
    const unsigned char* bytes = nullptr;
    if (!in.read_u32le(len) || !in.view(bytes, len)) return false;
    if (len > 0 && (!inflateBlock(bytes, len, plain) || !decodeFontDefs(plain.data(), static_cast<long long>(plain.size()))))
        return false;
    if (!in.read_u32le(len) || !in.view(bytes, len)) return false;
    if (len > 0 &&
        (!inflateBlock(bytes, len, plain) || !decodeStringDefs(plain.data(), static_cast<long long>(plain.size()))))
        return false;
    if (!in.read_u32le(len) || !in.view(bytes, len)) return false;
    if (len > 0 && !getImages(bytes, len)) return false;

    for (auto& b : blocks) {
        if (!inflateBlock(b.second.first, b.second.second, plain) || plain.empty()) return false;
        std::unique_ptr<cSiDocContainer> root(new cSiDocContainer);
        sLangDecodePtr ptr;
        ptr.in = cByteReader(plain.data(), plain.size());
        if (!processLang(root.get(), ptr)) return false;
        mDocs[b.first] = std::move(root);
    }
    return true;
}

bool cSiDocLoader::decodeFontDefs(const unsigned char* data, long long n) {
    if (n < 0 || n % 8 != 0) return false;
    cByteReader in(data, static_cast<std::size_t>(n));
    for (int i = 0; !in.atEnd(); ++i) {
        std::uint16_t face = 0, w = 0, h = 0;
        std::uint8_t style = 0, zero = 0;
        if (!in.read_u16le(face) || !in.read_u16le(w) || !in.read_u16le(h) || !in.read_u8(style) || !in.read_u8(zero))
            return false;
        sIntFontDef& d = mFonts[i];
        d.face = face;
        d.width = w;
        d.height = h;
        d.bold = (style & 1) != 0;
        d.italic = (style & 2) != 0;
        d.underline = (style & 4) != 0;
    }
    return true;
}

bool cSiDocLoader::decodeStringDefs(const unsigned char* data, long long n) {
    if (n < 0) return false;
    cByteReader in(data, static_cast<std::size_t>(n));
    for (int i = 0; !in.atEnd(); ++i) {
        std::uint16_t len = 0;
        const unsigned char* s = nullptr;
        if (!in.read_u16le(len) || !in.view(s, len)) return false;
        mLinks[i].assign(reinterpret_cast<const char*>(s), len);
    }
    return true;
}

std::unique_ptr<cPicture> cSiDocLoader::decodePicture(const unsigned char* file, std::size_t n) {
    if (!file || n == 0) return nullptr;
    cBufWrapperIO io(const_cast<unsigned char*>(file), static_cast<long long>(n), false);
    cPictBase::sPictInfo info;
    std::unique_ptr<cPictBase> dec(cPictBase::mkPicture(&io, &info));
    if (!dec) return nullptr;
    io.set_fp(0);
    if (!dec->decode(&io)) return nullptr;
    if (__bmp_res_inversed) dec->flip();
    const long long w = dec->width(), h = dec->height();
    if (w <= 0 || h <= 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return nullptr;
    _typebuf<unsigned int> px;
    if (!dec->moveToColorData(px) || px.empty()) return nullptr;
    std::unique_ptr<cPicture> pic(new cPicture);
    if (!pic->create_on(px, static_cast<int>(w), static_cast<int>(h))) return nullptr;
    return pic;
}

bool cSiDocLoader::getImages(const unsigned char* data, long long n) {
    if (n < 0) return false;
    cByteReader in(data, static_cast<std::size_t>(n));
    int next = 0;
    while (!in.atEnd()) {
        std::uint32_t len = 0;
        const unsigned char* file = nullptr;
        if (!in.read_u32le(len) || !in.view(file, len)) return false;
        if (len == 0) continue;
        std::unique_ptr<cPicture> pic = decodePicture(file, len);
        if (!pic) return false;
        mPictures[next++] = std::move(pic);
    }
    return true;
}

bool cSiDocLoader::processLang(cSiDocContainer* container, sLangDecodePtr& ptr) {
    cByteReader& in = ptr.in;
    for (;;) {
        std::uint8_t type = 0;
        if (!in.read_u8(type)) return false;
        if (type == 0xFF) return true;
        if (type > 4) return false;
        sRecordHeader h;
        if (!readHeader(in, h)) return false;
        if (type == 0 || type == 3) {
            std::uint32_t colour = 0;
            std::uint16_t fontId = 0, n = 0, ref = 0xFFFF;
            if (!in.read_u32le(colour) || !in.read_u16le(fontId) || !in.read_u16le(n)) return false;
            if (type == 3 && !in.read_u16le(ref)) return false;
            const unsigned char* text = nullptr;
            if (!in.view(text, n)) return false;
            cSiDocText* box = nullptr;
            if (type == 3) {
                cSiDocLink* link = new cSiDocLink;
                box = link;
                container->addChild(box);
                if (ref != 0xFFFF) {
                    auto it = mLinks.find(ref);
                    if (it == mLinks.end()) return false;
                    link->refRef(&it->second[0]);
                }
            } else {
                box = new cSiDocText;
                container->addChild(box);
            }
            applyHeader(box, h);
            if (colour != 0xFFFFFFFFu) box->setColor(colour);
            if (fontId != 0xFFFF) box->refFont(this, fontId);
            if (n) box->setText(reinterpret_cast<const char*>(text), n);
        } else if (type == 2) {
            std::uint32_t colour = 0;
            std::uint16_t fontId = 0;
            std::uint8_t align = 0;
            if (!in.read_u32le(colour) || !in.read_u16le(fontId) || !in.read_u8(align)) return false;
            // Each level is one recursion: a hostile stream must not
            // exhaust the stack.
            if (ptr.depth >= kMaxHdocNesting) return false;
            cSiDocContainer* box = new cSiDocContainer;
            container->addChild(box);
            applyHeader(box, h);
            if (colour != 0xFFFFFFFFu) box->setColor(colour);
            if (fontId != 0xFFFF) box->refFont(this, fontId);
            box->setAlign(static_cast<cSiDocContainer::eAlign>(align));
            ++ptr.depth;
            const bool ok = processLang(box, ptr);
            --ptr.depth;
            if (!ok) return false;
        } else {
            std::uint16_t image = 0, ref = 0xFFFF;
            if (!in.read_u16le(image)) return false;
            if (type == 4 && !in.read_u16le(ref)) return false;
            cSiDocImage* box = nullptr;
            if (type == 4) {
                // A linked picture always names its target: 0xFFFF is an id
                // like any other here, not "none".
                cSiDocImageLink* link = new cSiDocImageLink;
                box = link;
                container->addChild(box);
                auto it = mLinks.find(ref);
                if (it == mLinks.end()) return false;
                link->refRef(&it->second[0]);
            } else {
                box = new cSiDocImage;
                container->addChild(box);
            }
            applyHeader(box, h);
            if (image != 0xFFFF) {
                cPicture* p = picture(image);
                if (!p) return false;
                box->refImage(p);
            }
        }
        // The stream must reach its end byte.
        if (in.atEnd()) return false;
    }
}
