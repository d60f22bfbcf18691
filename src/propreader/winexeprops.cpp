// Windows executables (PE/COFF): the file header's link time, the version
// resource's strings and a preview from the best-fitting icon resource.
// Everything is read through bounds-checked readers; a structural fault is a
// false result, a fault past the resource tree only leaves a property unset.
#include <cstring>
#include <unordered_set>

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/memio.h"
#include "base/textenc.h"
#include "picts/pictico.h"
#include "propreader/fileprops.h"

namespace {

constexpr unsigned int kPeSignature = 0x00004550;     // "PE\0\0"
constexpr unsigned int kFixedInfoSignature = 0xFEEF04BD;
constexpr unsigned int kSubdirFlag = 0x80000000u;
constexpr int kResIcon = 3;
constexpr int kResVersion = 16;
constexpr unsigned int kVersionRootBytes = 92;  // root header, key and the fixed file information
constexpr unsigned int kFixedInfoAt = 40;

// One directory walk.  Each directory may be visited once: a well-formed tree
// never shares a subdirectory, and entries that share one (N^3 records out of
// 3N entries) or point back at an ancestor fail the walk.  Nor do a
// well-formed tree's directories overlap, so its entries, 8 bytes each, are
// at most the data's size / 8: directories laid over one another (each
// header read from the entries of the one before) would otherwise give
// records by the square of the data's size.
struct sResWalk {
    cByteReader data;
    std::unordered_set<unsigned int> seen;
    std::size_t entriesLeft;

    sResWalk(unsigned char* d, long long size)
        : data(d, size > 0 ? static_cast<std::size_t>(size) : 0), entriesLeft(data.remaining() / 8) {}

    // Entries of the directory at `offset`: false when its header or entries
    // lie outside the data, it was visited before, or the walk has read as
    // many entries as the data can hold.
    bool open(unsigned int offset, cByteReader& entries, unsigned int& count) {
        cByteReader r = data;
        std::uint16_t named = 0, numbered = 0;
        if (!r.seek(offset) || !r.skip(12) || !r.read_u16le(named) || !r.read_u16le(numbered)) return false;
        count = static_cast<unsigned int>(named) + numbered;
        if (count > entriesLeft || !r.sub(entries, static_cast<std::size_t>(count) * 8)) return false;
        entriesLeft -= count;
        return seen.insert(offset).second;
    }

    bool langs(unsigned int offset, cWinExeProps::tLangList& out) {
        cByteReader e;
        unsigned int count = 0;
        if (!open(offset, e, count)) return false;
        for (unsigned int i = 0; i < count; ++i) {
            std::uint32_t key = 0, at = 0;
            e.read_u32le(key);
            e.read_u32le(at);
            if (at & kSubdirFlag) return false;
            cByteReader entry = data;
            std::uint32_t address = 0, size = 0;
            if (!entry.seek(at) || !entry.has(16) || !entry.read_u32le(address) || !entry.read_u32le(size))
                return false;
            cWinExeProps::sResRef& ref = out.add()->value;
            ref.address = address;
            ref.size = size;
            ref.language = key;
        }
        return true;
    }

    // A directory whose every entry is a subdirectory, each walked by `child`
    // into the map's entry of its key.
    template <typename Map, typename Child>
    bool subdirs(unsigned int offset, Map& out, Child child) {
        cByteReader e;
        unsigned int count = 0;
        if (!open(offset, e, count)) return false;
        for (unsigned int i = 0; i < count; ++i) {
            std::uint32_t key = 0, at = 0;
            e.read_u32le(key);
            e.read_u32le(at);
            if (!(at & kSubdirFlag)) return false;
            if (!(this->*child)(at & ~kSubdirFlag, *out.insert(static_cast<int>(key)))) return false;
        }
        return true;
    }

    bool names(unsigned int offset, cWinExeProps::tNameMap& out) { return subdirs(offset, out, &sResWalk::langs); }
    bool types(unsigned int offset, cWinExeProps::tTypeMap& out) { return subdirs(offset, out, &sResWalk::names); }
};

// A version block's text value: the last unit (its terminator) dropped, then
// trailing zeros and spaces, but never the first unit.
void storeText(const unsigned short* units, std::size_t n, const unsigned short* key,
               cWinExeProps::tStringMap& out) {
    if (n) --n;
    while (n > 1 && (units[n - 1] == 0 || units[n - 1] == 0x20)) --n;
    _guardchar<char> text;
    _w2pc(units, static_cast<long long>(n), text);
    _guardchar<char>* slot = out.insert(cStringKey(key, -1));
    *slot = std::move(text);
}

}  // namespace

struct cWinExeProps::sHeaders {
    unsigned int linkTime = 0;
    sImageSectionHeader rsrc{};
};

bool cWinExeProps::readHeaders(cFileIOTarget* target, sHeaders& h) {
    if (!target) return false;
    unsigned char dos[64];
    if (!cByteReader::readAt(target, 0, dos, sizeof dos) || cByteReader::u16le(dos) != 0x5A4D) return false;
    const unsigned int pe = cByteReader::u32le(dos + 60);
    if (pe < 64) return false;
    // The signature and the file header.
    unsigned char file[24];
    if (!cByteReader::readAt(target, pe, file, sizeof file) || cByteReader::u32le(file) != kPeSignature) return false;
    const unsigned int sections = cByteReader::u16le(file + 4 + 2);
    const unsigned int optSize = cByteReader::u16le(file + 4 + 16);
    if (!sections || !optSize) return false;
    h.linkTime = cByteReader::u32le(file + 4 + 4);
    _typebuf<unsigned char> table;
    if (!cPictBase::sizeBuffer(table, sections * 40LL) ||
        !cByteReader::readAt(target, static_cast<unsigned long long>(pe) + 24 + optSize, table.data(), sections * 40u))
        return false;
    for (unsigned int i = 0; i < sections; ++i) {
        const unsigned char* s = table.data() + i * 40u;
        if (std::memcmp(s, ".rsrc\0\0\0", 8) != 0) continue;
        std::memcpy(h.rsrc.name, s, 8);
        h.rsrc.virtualSize = cByteReader::u32le(s + 8);
        h.rsrc.virtualAddress = cByteReader::u32le(s + 12);
        h.rsrc.sizeOfRawData = cByteReader::u32le(s + 16);
        h.rsrc.pointerToRawData = cByteReader::u32le(s + 20);
        return h.rsrc.sizeOfRawData != 0 && h.rsrc.pointerToRawData != 0;
    }
    return false;
}

bool cWinExeProps::validFor(cFileIOTarget* target) {
    sHeaders h;
    return readHeaders(target, h);
}

bool cWinExeProps::parseResources(unsigned char* data, long long size, tTypeMap& out) {
    sResWalk walk(data, size);
    return walk.types(0, out);
}

bool cWinExeProps::parseResNames(unsigned char* data, long long size, unsigned int offset, tNameMap& out) {
    sResWalk walk(data, size);
    return walk.names(offset, out);
}

bool cWinExeProps::parseResLangs(unsigned char* data, long long size, unsigned int offset, tLangList& out) {
    sResWalk walk(data, size);
    return walk.langs(offset, out);
}

bool cWinExeProps::loadStrProps(cFileIOTarget* target, tStringMap& out) { return loadStrProps(target, out, 0); }

bool cWinExeProps::loadStrProps(cFileIOTarget* target, tStringMap& out, int depth) {
    // Real version resources nest four deep (root, string file info, table,
    // string); anything far deeper is hostile and must not exhaust the stack.
    if (!target || depth > kMaxVersionDepth) return false;
    const long long total = target->size();
    if (total < 0) return false;
    unsigned int remaining = static_cast<unsigned int>(total);
    if (!remaining) return true;
    _typebuf<unsigned char> block;
    // Blocks are walked by offset from the stream's start (windows and
    // buffers seek freely), so a header-only block costs no backward read.
    unsigned long long pos = 0;
    for (;;) {
        unsigned char head[6];
        if (!cByteReader::readAt(target, pos, head, sizeof head)) return false;
        const unsigned int length = cByteReader::u16le(head);
        const unsigned int valueLength = cByteReader::u16le(head + 2);
        const unsigned int type = cByteReader::u16le(head + 4);
        if (length < 4 || length > remaining) return false;
        if (length == 4) {
            // A header without key: the next block starts 4 bytes on.
            pos += 4;
            remaining -= 4;
            if (!remaining) return true;
            continue;
        }
        // The block and its padding to a multiple of 4; a run's last block
        // may end without its padding.
        unsigned int consumed = (length + 3u) & ~3u;
        if (consumed > remaining) consumed = remaining;
        if (!cPictBase::sizeBuffer(block, consumed + 2LL)) return false;
        std::memcpy(block.data(), head, 6);
        if (consumed > 6 && !cByteReader::readAt(target, pos + 6, block.data() + 6, consumed - 6)) return false;
        block.data()[consumed] = 0;
        block.data()[consumed + 1] = 0;
        // The key: UTF-16 from offset 6 up to its terminator, then padding to
        // a multiple of 4 from the block's start.
        const unsigned char* b = block.data();
        unsigned int at = 6;
        while (at + 1 < length && (b[at] | b[at + 1])) at += 2;
        const unsigned int keyUnits = (at - 6) / 2;
        unsigned int valueAt = (at + 2 + 3u) & ~3u;
        if (valueAt >= length) return false;
        _typebuf<unsigned short> key;
        if (!cPictBase::sizeBuffer(key, keyUnits + 1LL)) return false;
        for (unsigned int i = 0; i < keyUnits; ++i) key.data()[i] = cByteReader::u16le(b + 6 + 2 * i);
        key.data()[keyUnits] = 0;

        if (valueLength == 0) {
            cBufWrapperIO children(block.data() + valueAt, length - valueAt);
            if (!loadStrProps(&children, out, depth + 1)) return false;
        } else if (type == 1) {
            const std::size_t units = (length - valueAt) / 2;
            _typebuf<unsigned short> text;
            if (!cPictBase::sizeBuffer(text, static_cast<long long>(units) + 1)) return false;
            for (std::size_t i = 0; i < units; ++i) text.data()[i] = cByteReader::u16le(b + valueAt + 2 * i);
            storeText(text.data(), units, key.data(), out);
        }
        pos += consumed;
        remaining -= consumed;
        if (!remaining) return true;
    }
}

namespace {

// A resource's data address as a file offset, in 32-bit arithmetic.
unsigned int fileOffset(unsigned int address, const cWinExeProps::sImageSectionHeader& rsrc) {
    return address + rsrc.pointerToRawData - rsrc.virtualAddress;
}

struct sIconPick {
    const cWinExeProps::sResRef* ref = nullptr;
    long long w = 0, h = 0;
    bool png = false;
};

}  // namespace

void cWinExeProps::loadVersion(cFileIOTarget* target, const sHeaders& h, tTypeMap& tree) {
    tNameMap* names = tree.find(kResVersion);
    tLangList* list = names ? names->find(1) : nullptr;
    if (!list) return;
    tStringMap strings(2048);
    bool found = false;
    for (auto* item = list->head; item && !found; item = item->next) {
        unsigned char root[kVersionRootBytes];
        const unsigned int at = fileOffset(item->value.address, h.rsrc);
        if (!cByteReader::readAt(target, at, root, sizeof root)) continue;
        if (cByteReader::u32le(root + kFixedInfoAt) != kFixedInfoSignature) continue;
        const unsigned int length = cByteReader::u16le(root), valueLength = cByteReader::u16le(root + 2);
        // The children follow the fixed information; a root too short to hold
        // it would make their length wrap.
        if (length < kFixedInfoAt + valueLength) continue;
        cFileIOSubRange children(target, static_cast<unsigned long long>(at) + kFixedInfoAt + valueLength,
                                 length - kFixedInfoAt - valueLength);
        strings.destroy();
        found = loadStrProps(&children, strings);
    }
    if (!found) return;
    auto get = [&](const char* key) -> char* {
        _guardchar<char>* v = strings.find(cStringKey(key, -1));
        return v ? v->get() : nullptr;
    };
    if (char* product = get("ProductName")) {
        setProp(fpProductName, product);
        if (char* d = get("FileDescription")) setProp(fpDescription, d);
    } else if (char* d = get("FileDescription")) {
        setProp(fpProductName, d);
    }
    if (char* c = get("CompanyName")) setProp(fpCompany, c);
    if (char* c = get("LegalCopyright")) setProp(fpCopyright, c);
    if (char* v = get("ProductVersion")) setProp(fpProductVersion, v);
    else if (char* f = get("FileVersion")) setProp(fpProductVersion, f);
}

void cWinExeProps::loadIcon(cFileIOTarget* target, const sHeaders& h, tTypeMap& tree) {
    tNameMap* names = tree.find(kResIcon);
    if (!names) return;
    const long long lw = previewMaxW_, lh = previewMaxH_;
    sIconPick largest, fitting;
    for (auto* n = names->first(); n; n = names->next(n)) {
        if (!n->value.head) continue;
        const sResRef& ref = n->value.head->value;
        cFileIOSubRange window(target, fileOffset(ref.address, h.rsrc), ref.size);
        if (!window.valid()) continue;
        sIconPick pick;
        pick.ref = &ref;
        if (!cPictICO::measureIconImage(&window, pick.w, pick.h, pick.png)) continue;
        const long long area = pick.w * pick.h;
        if (!largest.ref || area > largest.w * largest.h) largest = pick;
        // An icon fits when half of it stays below the limit.
        const bool fitsW = lw < 0 || pick.w < 2 * lw;
        const bool fitsH = lh < 0 || pick.h < 2 * lh;
        if (fitsW && fitsH && (!fitting.ref || area > fitting.w * fitting.h)) fitting = pick;
    }
    const sIconPick& icon = fitting.ref ? fitting : largest;
    if (!icon.ref || icon.w <= 0 || icon.h <= 0) return;

    long long pw = icon.w, ph = icon.h;
    cPictBase::fitSize(icon.w, icon.h, lw, lh, pw, ph);
    cPictDummy preview;
    if (!preview.create(pw, ph, 0)) return;
    cFileIOSubRange window(target, fileOffset(icon.ref->address, h.rsrc), icon.ref->size);
    bool ok = false;
    if (pw >= icon.w && ph >= icon.h) {
        ok = cPictICO::decodeIconImage(&window, preview) && preview.raw8Bpp();
    } else {
        cPictBase::sExtPictDef def(&preview);
        def.background = 0xFFFFFFFF;
        def.scale = 1.0;
        def.mode = cPictBase::sExtPictDef::mFit;
        cPictDummy own;
        ok = own.setExtTarget(&def) && cPictICO::decodeIconImage(&window, own);
        // A decoder that could not render on the fly filled its own buffer.
        if (ok && own.raw8Bpp()) ok = own.toExtTarget(&def);
    }
    if (ok) setProp(fpPreview, &preview);
}

bool cWinExeProps::load(cFileIOTarget* target, int, bool) {
    sHeaders h;
    if (!readHeaders(target, h)) return false;
    // The section table's sizes are the file's own claims: the section must
    // lie inside the file before it is held in memory.
    const long long fileSize = target->size();
    if (!range_inside(static_cast<long long>(h.rsrc.pointerToRawData), static_cast<long long>(h.rsrc.sizeOfRawData),
                      fileSize))
        return false;
    _typebuf<unsigned char> section;
    if (!cPictBase::sizeBuffer(section, h.rsrc.sizeOfRawData) ||
        !cByteReader::readAt(target, h.rsrc.pointerToRawData, section.data(), h.rsrc.sizeOfRawData))
        return false;
    tTypeMap tree(512);
    if (!parseResources(section.data(), section.count(), tree)) return false;

    loadVersion(target, h, tree);
    if (h.linkTime) {
        sTimestamp t;
        unixToTimestamp(h.linkTime, t);
        setProp(fpLinkTime, t);
    }
    if (previewMaxW_ == 0 || previewMaxH_ == 0) return true;
    loadIcon(target, h, tree);
    return true;
}
