#include "uitoolkit/lang.h"

#include "base/bytereader.h"
#include "base/checked.h"
#include "base/fileio.h"
#include "base/folders.h"
#include "compression/zstream.h"

#include <climits>
#include <cstring>

using namespace qor_uitk;

namespace {

const char kBlobMagic[8] = {'C', 'I', 'O', 'M', 'L', 'A', 'F', 'I'};
const char kBodyMagic[8] = {'C', 'I', 'O', 'M', 'L', 'A', 'N', 'G'};
constexpr unsigned short kNullEntry = 0xFFFF;
constexpr int kDeflateLevel = 5;

void putU16(_typebuf<unsigned char>& out, long long& at, unsigned int v) {
    out[at++] = static_cast<unsigned char>(v);
    out[at++] = static_cast<unsigned char>(v >> 8);
}

void putU32(unsigned char* p, unsigned int v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Appends bytes to a growing byte string.
struct cByteSink {
    _typebuf<unsigned char> bytes;
    long long used = 0;

    void append(const void* p, long long n) {
        if (n <= 0) return;
        if (used + n > bytes.count()) {
            long long cap = bytes.count() ? bytes.count() : 256;
            while (cap < used + n) cap *= 2;
            _typebuf<unsigned char> grown(cap);
            if (used) std::memcpy(grown.data(), bytes.data(), static_cast<std::size_t>(used));
            bytes.swap(grown);
        }
        std::memcpy(bytes.data() + used, p, static_cast<std::size_t>(n));
        used += n;
    }
    void u32(unsigned int v) {
        unsigned char b[4];
        putU32(b, v);
        append(b, 4);
    }
    void take(_typebuf<unsigned char>& out) {
        out.set(used);
        if (used) std::memcpy(out.data(), bytes.data(), static_cast<std::size_t>(used));
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Sections

bool cCiomLangData::create(const unsigned char* body, long long size) {
    if (!body || size < 4) return false;
    cByteReader in(body, static_cast<std::size_t>(size));
    std::uint16_t count = 0;
    if (!in.read_u16le(count) || count == 0) return false;
    cByteReader lengths;
    if (!in.sub(lengths, 2u * count)) return false;
    _classbuf<_guardchar<char>> texts(count);
    for (unsigned int i = 0; i < count; ++i) {
        std::uint16_t len = 0;
        lengths.read_u16le(len);
        if (len == kNullEntry) continue;
        const unsigned char* text = nullptr;
        if (!in.view(text, len)) return false;
        // An entry is a C string: it stops at a zero byte of its own.  A
        // zero length gives an empty text, not a null one.
        const void* nul = len ? std::memchr(text, 0, len) : nullptr;
        const std::size_t keep = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - text) : len;
        texts[i].set(static_cast<long long>(keep) + 1);
        if (keep) std::memcpy(texts[i].get(), text, keep);
    }
    mTexts.swap(texts);
    return true;
}

bool cCiomLangData::create(cFasterTreeList<unsigned short, _guardchar<char>>& texts) {
    if (texts.empty()) return false;
    const long long count = static_cast<long long>(texts.last()->key) + 1;
    _classbuf<_guardchar<char>> fresh(count);
    for (auto* it = texts.first(); it; it = texts.next(it)) fresh[it->key].set(it->value.get());
    mTexts.swap(fresh);
    return true;
}

const char* cCiomLangData::string(long long i) const {
    if (i < 0 || i >= mTexts.count()) return nullptr;
    return mTexts[i].get();
}

bool cCiomLangData::raw(_typebuf<unsigned char>& out) const {
    const long long count = mTexts.count();
    if (count < 1 || count > 65535) return false;
    long long size = 2 + 2 * count;
    for (long long i = 0; i < count; ++i) {
        if (!mTexts[i].get()) continue;
        const long long len = static_cast<long long>(std::strlen(mTexts[i].get()));
        // 65535 marks a null entry, so a text can have at most 65534 bytes.
        if (len >= kNullEntry) return false;
        size += len;
    }
    out.set(size);
    long long at = 0;
    putU16(out, at, static_cast<unsigned int>(count));
    for (long long i = 0; i < count; ++i)
        putU16(out, at, mTexts[i].get() ? static_cast<unsigned int>(std::strlen(mTexts[i].get())) : kNullEntry);
    for (long long i = 0; i < count; ++i) {
        if (!mTexts[i].get()) continue;
        const std::size_t len = std::strlen(mTexts[i].get());
        if (len) std::memcpy(out.data() + at, mTexts[i].get(), len);
        at += static_cast<long long>(len);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Languages

cCiomLang::cCiomLang() : mSections(kLangSectionDepth) {}

void cCiomLang::setHeader(const char* code, const char* name) {
    std::memset(mCode, 0, sizeof(mCode));
    if (code) std::memcpy(mCode, code, strnlen(code, 3));
    mName.set(name);
}

bool cCiomLang::create(const char* code, const char* name, const unsigned char* data, long long size) {
    if (!loadCiomLang(data, size, mSections)) return false;
    setHeader(code, name);
    return true;
}

void cCiomLang::create(const char* code, const char* name) {
    mSections.destroy();
    setHeader(code, name);
}

cCiomLangData* cCiomLang::section(const char* name) {
    if (!name) return nullptr;
    return mSections.find(cStringKey(name, -1));
}

bool loadCiomLang(const void* data, long long size, tLangSections& sections) {
    if (!data || size < 4) return false;
    cByteReader in(data, static_cast<std::size_t>(size));
    std::uint32_t plain = 0;
    in.read_u32le(plain);
    if (plain == 0 || plain > kMaxLangBodyBytes) return false;
    // The one-shot inflate takes a 32-bit input length.
    if (in.remaining() > UINT_MAX) return false;

    _typebuf<unsigned char> body(plain);
    cZInflate z;
    if (!z.init()) return false;
    const unsigned int got =
        z.inflate(in.current(), static_cast<unsigned int>(in.remaining()), body.data(), plain);
    if (got != plain) return false;

    cByteReader b(body.data(), plain);
    const unsigned char* magic = nullptr;
    if (!b.view(magic, 8) || std::memcmp(magic, kBodyMagic, 8) != 0) return false;
    while (!b.atEnd()) {
        std::uint32_t nameLen = 0, bodyLen = 0;
        const unsigned char* name = nullptr;
        const unsigned char* sectionBody = nullptr;
        if (!b.read_u32le(nameLen) || !b.view(name, nameLen)) return false;
        if (!b.read_u32le(bodyLen) || !b.view(sectionBody, bodyLen)) return false;
        const char* n = reinterpret_cast<const char*>(name);
        const cStringKey key(n, static_cast<long long>(strnlen(n, nameLen)));
        const bool known = sections.find(key) != nullptr;
        cCiomLangData* section = sections.insert(key);
        if (!section->create(sectionBody, bodyLen)) {
            // A damaged section leaves no empty one behind.
            if (!known) sections.dettach(key);
            return false;
        }
    }
    return true;
}

bool loadCiomLangData(const void* blob, long long size, cCiomLang& lang) {
    if (!blob || size < 0) return false;
    cByteReader in(blob, static_cast<std::size_t>(size));
    const unsigned char* magic = nullptr;
    const unsigned char* code = nullptr;
    const unsigned char* name = nullptr;
    std::uint8_t nameLen = 0;
    // The whole header and the body's size field must be there.
    if (!in.view(magic, 8) || std::memcmp(magic, kBlobMagic, 8) != 0) return false;
    if (!in.skip(8) || !in.view(code, 3) || !in.read_u8(nameLen) || !in.view(name, nameLen)) return false;
    if (!in.has(4)) return false;
    char codeText[4] = {0, 0, 0, 0};
    std::memcpy(codeText, code, 3);
    _guardchar<char> nameText(reinterpret_cast<const char*>(name), nameLen);
    if (!nameText.get()) nameText.set("");
    return lang.create(codeText, nameText.get(), in.current(), static_cast<long long>(in.remaining()));
}

bool saveCiomLang(tLangSections& sections, _typebuf<unsigned char>& out) {
    cByteSink body;
    body.append(kBodyMagic, 8);
    for (auto* it = sections.first(); it; it = sections.next(it)) {
        _typebuf<unsigned char> raw;
        // A section without entries would be refused when read back.
        if (!it->value.raw(raw)) {
            if (it->value.count() == 0) continue;
            return false;
        }
        _typebuf<char> field;
        it->key.utf8(field);
        body.u32(static_cast<unsigned int>(field.count()));
        body.append(field.data(), field.count());
        body.u32(static_cast<unsigned int>(raw.count()));
        body.append(raw.data(), raw.count());
        if (body.used > kMaxLangBodyBytes) return false;
    }
    const unsigned long bound = compressBound(static_cast<uLong>(body.used));
    _typebuf<unsigned char> packed(static_cast<long long>(bound) + 4);
    cZDeflate z;
    if (!z.init(kDeflateLevel)) return false;
    const unsigned int n = z.deflate(body.bytes.data(), static_cast<unsigned int>(body.used), packed.data() + 4,
                                     static_cast<unsigned int>(bound));
    if (n == 0) return false;
    putU32(packed.data(), static_cast<unsigned int>(body.used));
    out.set(n + 4);
    std::memcpy(out.data(), packed.data(), n + 4);
    return true;
}

bool saveCiomLangData(const char* tag, cCiomLang& lang, _typebuf<unsigned char>& out) {
    if (!tag) return false;
    _typebuf<unsigned char> packed;
    if (!saveCiomLang(lang.sections(), packed)) return false;
    cByteSink blob;
    blob.append(kBlobMagic, 8);
    char tagField[8];
    std::memset(tagField, ' ', 8);
    std::memcpy(tagField, tag, strnlen(tag, 8));
    blob.append(tagField, 8);
    blob.append(lang.code(), 3);
    const char* name = lang.name() ? lang.name() : "";
    const unsigned char n = static_cast<unsigned char>(std::min<std::size_t>(std::strlen(name), 255));
    blob.append(&n, 1);
    blob.append(name, n);
    blob.append(packed.data(), packed.count());
    blob.take(out);
    return true;
}

// ---------------------------------------------------------------------------
// Language files

namespace {

bool readWholeFile(const char* path, long long limit, _typebuf<unsigned char>& out) {
    cFileIO f;
    if (!path || !f.open(path, fmRead)) return false;
    const long long size = f.size();
    if (size < 0 || size > limit) return false;
    out.set(size);
    return size == 0 || f.readf(out.data(), static_cast<unsigned int>(size));
}

}  // namespace

bool loadCiomLangFile(const char* path, cCiomLang& lang) {
    _typebuf<unsigned char> bytes;
    if (!readWholeFile(path, kMaxLangFileBytes, bytes)) return false;
    return loadCiomLangData(bytes.data(), bytes.count(), lang);
}

bool saveCiomLangFile(const char* tag, const char* path, cCiomLang& lang) {
    _typebuf<unsigned char> blob;
    if (!path || !saveCiomLangData(tag, lang, blob)) return false;
    cFileIO f;
    if (!f.create(path, fmWrite)) return false;
    return f.writef(blob.data(), static_cast<unsigned int>(blob.count()));
}

bool findCiomLangFiles(const char* folder, const char* tag, cFasterTreeList<int, sCiomLangDescrInfo>& out) {
    out.destroy();
    if (!folder || !tag || cFolderContents::objtype(folder) != fsoFolder) return false;
    cFolderContents list;
    if (!list.init(folder, true)) return false;
    char tagField[8];
    std::memset(tagField, ' ', 8);
    std::memcpy(tagField, tag, strnlen(tag, 8));
    int next = 0;
    for (int i = 0;; ++i) {
        sFolderItemInfo* item = list.info(i);
        if (!item) break;
        if (item->type != fsoFile || !cFolderContents::wcmatch(item->name.get(), "*.laci")) continue;
        _guardchar<char> path;
        if (!list.path(i, path)) continue;
        cFileIO f;
        unsigned char head[20];
        if (!f.open(path.get(), fmRead) || !f.readf(head, 20)) continue;
        if (std::memcmp(head, kBlobMagic, 8) != 0 || std::memcmp(head + 8, tagField, 8) != 0) continue;
        char name[256];
        if (!f.readf(name, head[19])) continue;
        sCiomLangDescrInfo* info = out.insert(next++);
        std::memcpy(info->code, head + 16, 3);
        info->name.set(name, head[19]);
        if (!info->name.get()) info->name.set("");
        info->path.set(path.get());
    }
    return true;
}

bool ciLoadLangDef(const sStdLangDefinition* rows, unsigned int n, unsigned int lang, cCiomLang* out) {
    if (!rows || n == 0 || !out) return false;
    const sStdLangDefinition* row = &rows[0];
    for (unsigned int i = 0; i < n; ++i)
        if (rows[i].lang == lang) {
            row = &rows[i];
            break;
        }
    return loadCiomLangData(row->data, row->size, *out);
}

// ---------------------------------------------------------------------------
// Container

bool cLangContainer::addDef(unsigned int lang, const unsigned char* data, long long size, bool makeDefault) {
    if (!data || size <= 0 || lang > lngCount) return false;
    const bool known = mEntries.find(lang) != nullptr;
    sEntry* e = mEntries.insert(lang);
    e->data = data;
    e->size = size;
    if (makeDefault || mDefault == kNoDefault) mDefault = lang;
    if (!known) mOrder.add()->value = lang;
    return true;
}

bool cLangContainer::defines(unsigned int lang) const { return mEntries.find(lang) != nullptr; }

bool cLangContainer::getLang(unsigned int lang, const unsigned char*& data, long long& size) const {
    const sEntry* e = mEntries.find(lang);
    if (!e) return false;
    data = e->data;
    size = e->size;
    return true;
}

// ---------------------------------------------------------------------------
// Registry

_List<cLibLang*>* cLibLang::gLangLoadersPtr = nullptr;
cCiomLang cLibLang::gCiomLang;
unsigned int cLibLang::glastAppliedLang = lngCount;

cLibLang::cLibLang() { ref(this); }

cLibLang::~cLibLang() {
    if (!gLangLoadersPtr) return;
    for (auto* n = gLangLoadersPtr->head; n; n = n->next)
        if (n->value == this) {
            gLangLoadersPtr->remove(n);
            break;
        }
}

void cLibLang::ref(cLibLang* lib) {
    if (!lib) return;
    if (!gLangLoadersPtr) gLangLoadersPtr = new _List<cLibLang*>();
    for (cLibLang* l : *gLangLoadersPtr)
        if (l == lib) return;
    gLangLoadersPtr->add()->value = lib;
}

namespace {
tLangApplied gLangApplied = nullptr;

const cLibLang::sLangDef* findRow(unsigned int lang, const cLibLang::sLangDef* rows, long long n) {
    if (!rows || n < 1) return nullptr;
    for (long long i = 0; i < n; ++i)
        if (rows[i].lang == lang) return &rows[i];
    return nullptr;
}
}  // namespace

bool cLibLang::defines(unsigned int lang, const sLangDef* rows, long long n) { return findRow(lang, rows, n) != nullptr; }

long long cLibLang::sizeOf(unsigned int lang, const sLangDef* rows, long long n) {
    const sLangDef* r = findRow(lang, rows, n);
    return r ? r->size : 0;
}

const unsigned char* cLibLang::langData(unsigned int lang, const sLangDef* rows, long long n) {
    const sLangDef* r = findRow(lang, rows, n);
    return r ? r->data : nullptr;
}

bool cLibLang::applyLang(unsigned int lang) {
    bool ok = true;
    if (gLangLoadersPtr) {
        for (cLibLang* lib : *gLangLoadersPtr) {
            eCIOMStdLangs use = static_cast<eCIOMStdLangs>(lang);
            if (!lib->defines(use)) {
                use = lib->defaltLang();
                if (!lib->defines(use)) {
                    ok = false;
                    continue;
                }
            }
            if (!loadCiomLangData(lib->langData(use), lib->sizeOf(use), gCiomLang)) ok = false;
        }
    }
    glastAppliedLang = lang;
    if (ok && gLangApplied) gLangApplied(lang);
    return ok;
}

tLangApplied __setLangAppliedHook(tLangApplied hook) {
    tLangApplied old = gLangApplied;
    gLangApplied = hook;
    return old;
}

bool cLibLang::applyDefaultLang() {
    if (!gLangLoadersPtr || !gLangLoadersPtr->head) return false;
    return applyLang(gLangLoadersPtr->head->value->defaltLang());
}

// ---------------------------------------------------------------------------
// The toolkit's table

bool cCIOMLang::defines(eCIOMStdLangs lang) { return cLibLang::defines(lang, gLangs, 10); }
long long cCIOMLang::sizeOf(eCIOMStdLangs lang) { return cLibLang::sizeOf(lang, gLangs, 10); }
const unsigned char* cCIOMLang::langData(eCIOMStdLangs lang) { return cLibLang::langData(lang, gLangs, 10); }
eCIOMStdLangs cCIOMLang::defaltLang() { return static_cast<eCIOMStdLangs>(gLangs[0].lang); }
