#include "cihlpdoc/sidocloader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
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

// glibc's chunk for a request of n bytes: a header word, 16-byte steps, 32
// at least.
std::size_t heapBlock(std::size_t n) { return std::max<std::size_t>(32, (n + 8 + 15) & ~std::size_t(15)); }

// A node of the loader's maps, with its key and value.
template <typename V>
constexpr std::size_t kMapNode = 32 + sizeof(int) + sizeof(V);

// A 32-bit picture of w x h pixels: its array and the object.
std::size_t pictureCost(long long w, long long h) {
    return heapBlock(static_cast<std::size_t>(w * h) * 4) + heapBlock(sizeof(cPicture)) +
           heapBlock(kMapNode<std::unique_ptr<cPicture> >);
}

// While it lives, the pictures decoded on this thread charge their scans
// and the buffers their decoders hold besides the picture (a JPEG's
// coefficients) to what is left of the budget, before the work is done: a
// picture drawn cropped or scaled costs the work of decoding it, not only
// the box it is drawn in.
class cDecodeCharge {
public:
    explicit cDecodeCharge(const cSiDocBudget& b) {
        meter_.workLimit = b.workLimit() - std::min(b.spent(), b.workLimit());
        meter_.heldLimit = b.limit() - std::min(b.held(), b.limit());
        before_ = cPictBase::setDecodeMeter(&meter_);
    }
    ~cDecodeCharge() { cPictBase::setDecodeMeter(before_); }
    cDecodeCharge(const cDecodeCharge&) = delete;
    cDecodeCharge& operator=(const cDecodeCharge&) = delete;
    const cPictBase::sDecodeMeter& meter() const { return meter_; }

private:
    cPictBase::sDecodeMeter meter_;
    cPictBase::sDecodeMeter* before_ = nullptr;
};

}  // namespace

bool cSiDocBudget::hold(std::size_t n) {
    if (n > mLimit - std::min(mHeld, mLimit)) {
        if (mOverrun == ovNone) mOverrun = ovMemory;
        return false;
    }
    mHeld += n;
    mPeak = std::max(mPeak, mHeld);
    return true;
}

bool cSiDocBudget::spend(unsigned long long n) {
    if (n > mWorkLimit - std::min(mSpent, mWorkLimit)) {
        if (mOverrun == ovNone) mOverrun = ovWork;
        return false;
    }
    mSpent += n;
    return true;
}

std::string cSiDocBudget::describe(eOverrun which) const {
    char buf[160];
    switch (which) {
    case ovMemory:
        std::snprintf(buf, sizeof buf, "its documents need more than the %zu MiB they may hold together", mLimit >> 20);
        return buf;
    case ovWork:
        std::snprintf(buf, sizeof buf,
                      "its documents ask for more work than the %llu MiB of inflated bytes and decoded pixels "
                      "they may have together",
                      mWorkLimit >> 20);
        return buf;
    default: return std::string();
    }
}

std::size_t cSiDocLoader::boxCost(int type, std::size_t textBytes) {
    // The box and its slot in its container's list (which may have grown to
    // twice what it holds), and its text with the terminating zero.
    std::size_t box = sizeof(cSiDocText);
    switch (type) {
    case 1: box = sizeof(cSiDocImage); break;
    case 2: box = sizeof(cSiDocContainer); break;
    case 3: box = sizeof(cSiDocLink); break;
    case 4: box = sizeof(cSiDocImageLink); break;
    default: break;
    }
    std::size_t cost = heapBlock(box) + 2 * sizeof(void*);
    if (type == 0 || type == 3) cost += textBytes ? heapBlock(textBytes + 1) : 0;
    // A picture's box is also remembered until the pictures are decoded.
    if (type == 1 || type == 4) cost += 2 * sizeof(std::pair<cSiDocImage*, int>);
    return cost;
}

bool cSiDocLoader::hold(std::size_t n) {
    if (!mBudget->hold(n)) {
        if (mFault == lfNone) mOverrun = cSiDocBudget::ovMemory;
        return fail(lfOverBudget);
    }
    mHeld += n;
    return true;
}

bool cSiDocLoader::spend(unsigned long long n) {
    if (mBudget->spend(n)) return true;
    if (mFault == lfNone) mOverrun = cSiDocBudget::ovWork;
    return fail(lfOverBudget);
}

std::string cSiDocLoader::describeFault() const {
    switch (mFault) {
    case lfNone: return std::string();
    case lfMalformed: return "a document breaks the compiled document's layout";
    case lfPicture: return "a picture in a document is not one the picture library decodes";
    case lfOverBudget: return mBudget ? mBudget->describe(mOverrun) : std::string();
    }
    return std::string();
}

void cSiDocLoader::destroy() {
    mDocs.clear();
    mFonts.clear();
    mLinks.clear();
    mPictures.clear();
    mImages.clear();
    mImageBoxes.clear();
    if (mBudget) mBudget->release(mHeld);
    mHeld = 0;
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

// One run of zlib over a block: into `out` (room for `room` bytes) or, with
// no `out`, only counting.  `made` gets the bytes it makes; each costs a unit
// of work.  A stream that ends early yields what it holds.
bool cSiDocLoader::inflateRun(const unsigned char* data, std::size_t n, unsigned char* out, std::size_t room,
                              std::size_t& made) {
    made = 0;
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<uInt>(n);
    unsigned char chunk[65536];
    bool ok = true;
    for (;;) {
        const std::size_t step = out ? std::min<std::size_t>(room - made, 1u << 30) : sizeof chunk;
        z.next_out = out ? out + made : chunk;
        z.avail_out = static_cast<uInt>(step);
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = step - z.avail_out;
        made += got;
        if (!spend(got)) {
            ok = false;
            break;
        }
        if (rc == Z_STREAM_END) break;
        if (rc == Z_BUF_ERROR || (rc == Z_OK && z.avail_in == 0 && got == 0)) break;
        if (rc != Z_OK) {
            ok = false;
            break;
        }
        if (out && made == room) break;
    }
    inflateEnd(&z);
    return ok;
}

bool cSiDocLoader::inflateBlock(const unsigned char* data, std::size_t n, std::vector<unsigned char>& out,
                                std::size_t& held) {
    // Counted first and then inflated into a buffer of just that size: what
    // is held is what the block makes, and its work is done twice.
    std::vector<unsigned char>().swap(out);
    std::size_t size = 0;
    if (!inflateRun(data, n, nullptr, 0, size)) return false;
    if (size == 0) return true;
    if (!hold(heapBlock(size))) return false;
    held += heapBlock(size);
    out.resize(size);
    std::size_t again = 0;
    return inflateRun(data, n, out.data(), size, again) && again == size;
}

bool cSiDocLoader::load(const unsigned char* data, long long size) {
    return load(data, size, std::make_shared<cSiDocBudget>());
}

bool cSiDocLoader::load(const unsigned char* data, long long size, const std::shared_ptr<cSiDocBudget>& budget) {
    destroy();
    mFault = lfNone;
    mOverrun = cSiDocBudget::ovNone;
    mBudget = budget ? budget : std::make_shared<cSiDocBudget>();
    if (!data || size < 13) return fail(lfMalformed);
    cByteReader in(data, static_cast<std::size_t>(size));
    const unsigned char* magic = nullptr;
    if (!in.view(magic, 8) || std::memcmp(magic, kMagic, 8) != 0) return fail(lfMalformed);

    std::map<int, std::pair<const unsigned char*, std::size_t> > blocks;
    std::uint8_t id = 0;
    if (!in.read_u8(id) || id == 0xFF) return fail(lfMalformed);
    while (id != 0xFF) {
        std::uint32_t len = 0;
        const unsigned char* bytes = nullptr;
        if (!in.read_u32le(len) || len == 0 || !in.view(bytes, len)) return fail(lfMalformed);
        if (!blocks.emplace(id, std::make_pair(bytes, static_cast<std::size_t>(len))).second) return fail(lfMalformed);
        if (!in.read_u8(id)) return fail(lfMalformed);
    }

    // Each inflated block is held only while it is decoded.
    std::vector<unsigned char> plain;
    std::size_t plainHeld = 0;
    auto drop = [&]() {
        std::vector<unsigned char>().swap(plain);
        mBudget->release(plainHeld);
        mHeld -= plainHeld;
        plainHeld = 0;
    };
    std::uint32_t len = 0;
    const unsigned char* bytes = nullptr;
    if (!in.read_u32le(len) || !in.view(bytes, len)) return fail(lfMalformed);
    if (len > 0) {
        if (!inflateBlock(bytes, len, plain, plainHeld)) return fail(lfMalformed);
        if (!decodeFontDefs(plain.data(), static_cast<long long>(plain.size()))) return fail(lfMalformed);
        drop();
    }
    if (!in.read_u32le(len) || !in.view(bytes, len)) return fail(lfMalformed);
    if (len > 0) {
        if (!inflateBlock(bytes, len, plain, plainHeld)) return fail(lfMalformed);
        if (!decodeStringDefs(plain.data(), static_cast<long long>(plain.size()))) return fail(lfMalformed);
        drop();
    }
    if (!in.read_u32le(len) || !in.view(bytes, len)) return fail(lfMalformed);
    if (len > 0 && !getImages(bytes, len)) return fail(lfMalformed);

    for (auto& b : blocks) {
        if (!inflateBlock(b.second.first, b.second.second, plain, plainHeld) || plain.empty()) return fail(lfMalformed);
        std::unique_ptr<cSiDocContainer> root(new cSiDocContainer);
        if (!hold(heapBlock(sizeof(cSiDocContainer)) + heapBlock(kMapNode<std::unique_ptr<cSiDocContainer> >)))
            return false;
        sLangDecodePtr ptr;
        ptr.in = cByteReader(plain.data(), plain.size());
        if (!processLang(root.get(), ptr)) return fail(lfMalformed);
        mDocs[b.first] = std::move(root);
        drop();
    }
    return decodeDrawn();
}

bool cSiDocLoader::decodeFontDefs(const unsigned char* data, long long n) {
    if (n < 0 || n % 8 != 0) return false;
    cByteReader in(data, static_cast<std::size_t>(n));
    for (int i = 0; !in.atEnd(); ++i) {
        std::uint16_t face = 0, w = 0, h = 0;
        std::uint8_t style = 0, zero = 0;
        if (!in.read_u16le(face) || !in.read_u16le(w) || !in.read_u16le(h) || !in.read_u8(style) || !in.read_u8(zero))
            return false;
        if (!hold(heapBlock(kMapNode<sIntFontDef>))) return false;
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
        if (!hold(heapBlock(kMapNode<std::string>) + (len > 15 ? heapBlock(len + 1u) : 0))) return false;
        mLinks[i].assign(reinterpret_cast<const char*>(s), len);
    }
    return true;
}

bool cSiDocLoader::chargeDecode(const cPictBase::sDecodeMeter& m) {
    // What the meter refused is an overrun of the budget, not a bad picture.
    if (m.refusedWork || m.refusedHeld) {
        const cSiDocBudget::eOverrun which = m.refusedHeld ? cSiDocBudget::ovMemory : cSiDocBudget::ovWork;
        mBudget->refuse(which);
        if (mFault == lfNone) mOverrun = which;
        return fail(lfOverBudget);
    }
    // The decoder's buffers were there only while it ran.
    if (!hold(static_cast<std::size_t>(m.held))) return false;
    mBudget->release(static_cast<std::size_t>(m.held));
    mHeld -= static_cast<std::size_t>(m.held);
    return spend(m.work);
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
    while (!in.atEnd()) {
        std::uint32_t len = 0;
        const unsigned char* file = nullptr;
        if (!in.read_u32le(len) || !in.view(file, len)) return false;
        if (len == 0) continue;
        // The probe reads the file's header (and at most the file).
        if (!spend(len) || !hold(sizeof(sImageEntry) * 2)) return false;
        cBufWrapperIO io(const_cast<unsigned char*>(file), static_cast<long long>(len), false);
        cPictBase::sPictInfo info;
        std::unique_ptr<cPictBase> dec(cPictBase::mkPicture(&io, &info));
        // A picture is drawn by its size: one the probe cannot size is not
        // one a document can show.
        if (!dec || info.width < 1 || info.height < 1 || info.width > 0x7FFFFFFF || info.height > 0x7FFFFFFF)
            return fail(lfPicture);
        sImageEntry e;
        e.file = file;
        e.size = len;
        e.width = info.width;
        e.height = info.height;
        mImages.push_back(e);
    }
    return true;
}

// A box draws its picture at its natural size from the top-left corner,
// clipped to the box's width and height when they are set: no more of the
// picture than that is ever shown, and no more of it is kept.
bool cSiDocLoader::decodeDrawn() {
    for (const auto& use : mImageBoxes) {
        sImageEntry& e = mImages[static_cast<std::size_t>(use.second)];
        const int bw = use.first->boxWidth(), bh = use.first->boxHeight();
        e.drawnW = std::max(e.drawnW, bw > 0 ? std::min<long long>(bw, e.width) : e.width);
        e.drawnH = std::max(e.drawnH, bh > 0 ? std::min<long long>(bh, e.height) : e.height);
    }
    for (std::size_t id = 0; id < mImages.size(); ++id) {
        sImageEntry& e = mImages[id];
        if (e.drawnW == 0) continue;
        std::unique_ptr<cPicture> pic = decodePart(e);
        if (!pic) return fail(lfPicture);
        mPictures[static_cast<int>(id)] = std::move(pic);
    }
    for (const auto& use : mImageBoxes) {
        const sImageEntry& e = mImages[static_cast<std::size_t>(use.second)];
        use.first->refImage(mPictures[use.second].get());
        if (e.cropped) use.first->setNaturalSize(static_cast<int>(e.width), static_cast<int>(e.height));
    }
    std::vector<std::pair<cSiDocImage*, int> >().swap(mImageBoxes);
    return true;
}

std::unique_ptr<cPicture> cSiDocLoader::decodePart(sImageEntry& e) {
    // Whatever part is drawn, the decoder reads the whole picture.
    if (!spend(static_cast<unsigned long long>(e.width) * static_cast<unsigned long long>(e.height) * 4)) return nullptr;
    const bool part = e.drawnW < e.width || e.drawnH < e.height;
    if (part) {
        cBufWrapperIO io(const_cast<unsigned char*>(e.file), static_cast<long long>(e.size), false);
        cPictBase::sPictInfo info;
        std::unique_ptr<cPictBase> dec(cPictBase::mkPicture(&io, &info));
        if (!dec) return nullptr;
        if (dec->supportsExtRendering()) {
            // Rendered straight into a picture of the drawn part at scale 1:
            // the decoder keeps no picture of its own.  Its rows count from
            // the bottom, so the window starts that far up.
            const std::size_t cost = pictureCost(e.drawnW, e.drawnH);
            if (!hold(cost)) return nullptr;
            _typebuf<unsigned int> px(e.drawnW * e.drawnH);
            std::memset(px.data(), 0, static_cast<std::size_t>(px.count()) * sizeof(unsigned int));
            cPictBase::sExtPictDef target;
            target.pixels = px.data();
            target.width = e.drawnW;
            target.height = e.drawnH;
            target.mode = cPictBase::sExtPictDef::mScale;
            target.scale = 1.0;
            target.originX = 0;
            target.originY = e.height - e.drawnH;
            bool ok = dec->setExtTarget(&target);
            if (ok) {
                cDecodeCharge charge(*mBudget);
                ok = io.set_fp(0) && dec->decode(&io);
                dec->endExtRender();
                if (!chargeDecode(charge.meter())) return nullptr;
            }
            // A decoder that found another size than its probe has its
            // picture decoded whole below.
            if (ok && dec->width() == e.width && dec->height() == e.height) {
                std::unique_ptr<cPicture> pic(new cPicture);
                if (!pic->create_on(px, static_cast<int>(e.drawnW), static_cast<int>(e.drawnH))) return nullptr;
                if (__bmp_res_inversed) pic->flip();
                e.cropped = true;
                return pic;
            }
            mBudget->release(cost);
            mHeld -= cost;
        }
    }
    // Decoded whole: while it is, the decoder's picture (up to 8 bytes a
    // pixel) and the one it becomes are both there.
    const std::size_t whole = pictureCost(e.width, e.height) * 2;
    if (!hold(whole)) return nullptr;
    std::unique_ptr<cPicture> pic;
    {
        cDecodeCharge charge(*mBudget);
        pic = decodePicture(e.file, e.size);
        mBudget->release(whole);
        mHeld -= whole;
        if (!chargeDecode(charge.meter())) return nullptr;
    }
    if (!pic) return nullptr;
    // The part the boxes draw, when the picture is the size its probe
    // announced; one of another size is kept whole, as it is drawn by it.
    if (!part || pic->width() != e.width || pic->height() != e.height) {
        if (!hold(pictureCost(pic->width(), pic->height()))) return nullptr;
        return pic;
    }
    sRect r{0, 0, static_cast<int>(e.drawnW), static_cast<int>(e.drawnH)};
    if (!hold(pictureCost(r.w, r.h))) return nullptr;
    std::unique_ptr<cPicture> cut(new cPicture);
    if (!pic->subPictTo(r, cut.get())) return nullptr;
    e.cropped = true;
    return cut;
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
            if (!in.view(text, n) || !hold(boxCost(type, n))) return false;
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
            if (ptr.depth >= kMaxHdocNesting || !hold(boxCost(type, 0))) return false;
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
            if (!hold(boxCost(type, 0))) return false;
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
            // The picture is decoded once every box is known (decodeDrawn).
            if (image != 0xFFFF) {
                if (image >= mImages.size()) return false;
                mImageBoxes.emplace_back(box, static_cast<int>(image));
            }
        }
        // The stream must reach its end byte.
        if (in.atEnd()) return false;
    }
}
