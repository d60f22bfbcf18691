// Binary scenario: the self-checking installer payload.  The sections
// before the item table are built in memory; the body is then streamed
// through the parallel deflater (pkgstream) behind the header
// (payloadheader.h), whose sizes and digest are written last.  The reader decodes the body into one
// buffer of the declared size and hashes it, takes the tagged sections
// apart, and leaves the items pointing into that buffer.
#include "pakvane/scenario.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "base/memio.h"
#include "base/sha.h"
#include "pakvane/payloadheader.h"
#include "pakvane/pkgstream.h"

namespace {

constexpr unsigned long long kMaxU32 = 0xFFFFFFFFull;
constexpr unsigned kMaxStr = 0xFFFF;
constexpr int kMaxLangId = 11;

// ---- writing ----

struct cBodyWriter {
    cMemIOTarget out{65536};
    bool ok = true;

    void bytes(const void* p, std::size_t n) {
        if (!ok || n == 0) return;
        ok = out.writef(const_cast<void*>(p), static_cast<unsigned int>(n));
    }
    void u8(unsigned v) {
        unsigned char b = static_cast<unsigned char>(v);
        bytes(&b, 1);
    }
    void u16(unsigned v) {
        unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
        bytes(b, 2);
    }
    void u32(std::uint32_t v) {
        unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                              static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        bytes(b, 4);
    }
    // ifPutStr: a text longer than a u16 count can say fails the save.
    void str(const std::string& s) {
        if (s.size() > kMaxStr) ok = false;
        u16(static_cast<unsigned>(s.size()));
        bytes(s.data(), s.size());
    }
    // A length-prefixed block whose length must fit the u32 field.
    void block(const std::vector<unsigned char>& b) {
        if (b.size() > kMaxU32) ok = false;
        u32(static_cast<std::uint32_t>(b.size()));
        bytes(b.data(), b.size());
    }
};

// saveLang: entries in key order; an id that is empty or too long for its
// count fails the save rather than cutting the table short.
void saveLang(cBodyWriter& w, const cSoftPkgScenario::tStrTable& t) {
    for (const auto& e : t) {
        if (e.first.empty() || e.first.size() > kMaxStr) w.ok = false;
        w.u8(1);
        w.str(e.first);
        w.str(e.second);
    }
    w.u8(0);
}

// ---- reading ----

struct cBodyReader {
    cBufWrapperIO io;
    bool u8(unsigned& v) {
        unsigned char b;
        if (!io.readf(&b, 1)) return false;
        v = b;
        return true;
    }
    bool u16(unsigned& v) {
        unsigned char b[2];
        if (!io.readf(b, 2)) return false;
        v = b[0] | (b[1] << 8);
        return true;
    }
    bool u32(std::uint32_t& v) {
        unsigned char b[4];
        if (!io.readf(b, 4)) return false;
        v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return true;
    }
    bool bytes(std::string& s, std::size_t n) {
        s.resize(n);
        return n == 0 || io.readf(&s[0], static_cast<unsigned int>(n));
    }
    // ifGetStr
    bool str(std::string& s) {
        unsigned n;
        return u16(n) && bytes(s, n);
    }
    // A text: no NUL bytes.  Every text ends up in a C string somewhere (a
    // path, a label, a configuration key), and a NUL would cut it there:
    // "../x" with a NUL after ".." passes as a sub path and names the
    // parent folder.
    bool text(std::string& s) { return str(s) && s.find('\0') == std::string::npos; }
    // An id: a text, so keys order the same whichever map holds them.
    bool id(std::string& s, bool mayBeEmpty) {
        if (!text(s)) return false;
        return mayBeEmpty || !s.empty();
    }
    bool pathDef(cSoftPkgScenario::sPathDef& d) {
        return id(d.id, true) && text(d.sub) && cSoftPkgScenario::isSafeSubPath(d.sub);
    }
    // Entry byte of a list: 1 another entry, 0 the end, -1 a short read or
    // any other byte.
    int next() {
        unsigned b;
        if (!u8(b) || b > 1) return -1;
        return static_cast<int>(b);
    }
};

// loadLang: "pgm" is the folder the user chose and may never come from a
// payload, in any table.
bool loadLang(cBodyReader& r, cSoftPkgScenario::tStrTable& t) {
    for (;;) {
        const int e = r.next();
        if (e <= 0) return e == 0;
        std::string id, text;
        if (!r.id(id, false) || id == "pgm" || t.count(id) || !r.text(text)) return false;
        t.emplace(std::move(id), std::move(text));
    }
}

// One file entry of section 4 into f (its languages cleared first).
bool fileEntry(cBodyReader& r, cSoftPkgScenario::sIntFileDef& f) {
    std::uint32_t flags;
    if (!r.u32(f.item) || !r.u32(flags) || (flags >> 26) != 0) return false;
    f.perm[0] = static_cast<std::uint8_t>(flags >> 16);
    f.perm[1] = static_cast<std::uint8_t>(flags >> 8);
    f.perm[2] = static_cast<std::uint8_t>(flags);
    for (auto p : f.perm)
        if (p > 8) return false;
    f.for32 = (flags >> 24) & 1;
    f.for64 = (flags >> 25) & 1;
    if (!r.pathDef(f.dest)) return false;
    f.langs.clear();
    for (;;) {
        unsigned l;
        if (!r.u8(l)) return false;
        if (l == 0xFF) return true;
        if (static_cast<int>(l) > kMaxLangId) return false;
        f.langs.push_back(static_cast<int>(l));
    }
}

// The scenario's documents load within one budget together; a document that
// does not load leaves the reason in `fault`.
bool readDocument(cBodyReader& r, cSoftPkgScenario::sDocument& d, const std::shared_ptr<cSiDocBudget>& budget,
                  std::string& fault) {
    std::uint32_t n;
    if (!r.u32(n) || n == 0) return false;
    if (static_cast<unsigned long long>(r.io.size()) < n) return false;
    try {
        d.bytes.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    d.loader.destroy();
    if (!r.io.readf(d.bytes.data(), n)) return false;
    if (d.loader.load(d.bytes.data(), n, budget)) return true;
    fault = d.loader.describeFault();
    return false;
}

}  // namespace

bool cSoftPkgScenario::saveBinConfig(cFileIOTarget* dst) {
    sPayloadOptions options;
    return saveBinConfig(dst, options);
}

bool cSoftPkgScenario::loadBinConfig(cFileIOTarget* src) {
    sPayloadOptions options;
    return loadBinConfig(src, options);
}

bool cSoftPkgScenario::saveBinConfig(cFileIOTarget* dst, sPayloadOptions& options) {
    if (!dst) return false;
    // The magic first: a description that turns out too long for the
    // format leaves no more than it.
    sPayloadHeader header;
    unsigned char head[sPayloadHeader::kSize];
    header.write(head);
    if (!dst->writef(head, sPayloadHeader::kMagicSize)) return false;

    cBodyWriter w;
    w.u8(1);
    for (int v : ver_) w.u32(static_cast<std::uint32_t>(v));
    w.str(supportURL_);
    w.str(publisherURL_);
    w.str(updatesURL_);
    w.str(manualURL_);
    if (!defTable_.empty()) {
        w.u8(6);
        saveLang(w, defTable_);
    }
    if (!langTables_.empty()) {
        w.u8(7);
        for (const auto& t : langTables_) {
            w.u8(static_cast<unsigned>(t.first));
            saveLang(w, t.second);
        }
        w.u8(0xFF);
    }
    if (!icon_.id.empty()) {
        w.u8(2);
        w.str(icon_.id);
        w.str(icon_.sub);
    }
    if (!menus_.empty()) {
        w.u8(3);
        for (const auto& m : menus_) {
            w.u8(1);
            w.str(m.title);
            w.str(m.target.id);
            w.str(m.target.sub);
            w.str(m.args);
            w.str(m.icon.id);
            w.str(m.icon.sub);
            w.str(m.comment);
            w.u8(m.flags);
        }
        w.u8(0);
    }
    if (!files_.empty()) {
        w.u8(4);
        for (const auto& f : files_) {
            w.u8(1);
            w.u32(f.item);
            std::uint32_t flags = static_cast<std::uint32_t>(f.perm[0]) << 16 |
                                  static_cast<std::uint32_t>(f.perm[1]) << 8 | f.perm[2];
            if (f.for32) flags |= 1u << 24;
            if (f.for64) flags |= 1u << 25;
            w.u32(flags);
            w.str(f.dest.id);
            w.str(f.dest.sub);
            for (int l : f.langs) w.u8(static_cast<unsigned>(l));
            w.u8(0xFF);
        }
        w.u8(0);
    }
    if (!runs_.empty()) {
        w.u8(5);
        for (const auto& r : runs_) {
            w.u8(1);
            w.u8(r.checked ? 1 : 0);
            w.str(r.label);
            w.str(r.program.id);
            w.str(r.program.sub);
            w.str(r.args);
        }
        w.u8(0);
    }
    if (!settings_.empty()) {
        w.u8(8);
        for (const auto& s : settings_) {
            if (s.name.empty() || s.name.size() > kMaxStr || s.value.size() > kMaxStr) w.ok = false;
            w.u8(1);
            w.u16(static_cast<unsigned>(s.name.size()));
            w.bytes(s.name.data(), s.name.size());
            w.u16(static_cast<unsigned>(s.value.size()));
            w.bytes(s.value.data(), s.value.size());
        }
        w.u8(0);
    }
    if (!deprecates_.empty()) {
        w.u8(12);
        for (const auto& d : deprecates_) {
            if (d.codename.empty()) w.ok = false;
            w.u8(1);
            w.str(d.codename);
            w.u16(d.version);
        }
        w.u8(0);
    }
    if (!welcome_.bytes.empty()) {
        w.u8(9);
        w.block(welcome_.bytes);
    }
    if (!readme_.bytes.empty()) {
        w.u8(10);
        w.u8(readmeAccept_ ? 1 : 0);
        w.block(readme_.bytes);
    }
    if (!eula_.bytes.empty()) {
        w.u8(11);
        w.block(eula_.bytes);
    }
    if (!w.ok) return false;
    // The sections before the item table, read from where they were
    // written as the body streams (they list every file: not copied whole);
    // the table and the end tag follow.
    const long long prefixSize = w.out.size();
    if (prefixSize < 0 || !w.out.set_fp(0)) return false;

    // The rest of the header holds sizes and a digest known at the end: it
    // is written with none first and again then.  A stream that cannot tell
    // its position gets the payload from memory.
    unsigned char* const rest = head + sPayloadHeader::kMagicSize;
    const unsigned int restSize = sPayloadHeader::kSize - sPayloadHeader::kMagicSize;
    long long start = dst->get_fp();
    cMemIOTarget spill(65536);
    cFileIOTarget* out = dst;
    if (start < 0) {
        out = &spill;
        start = 0;
    }
    if (!out->writef(rest, restSize)) return false;
    unsigned long long bodySize = 0, packedSize = 0;
    if (!writePayloadBody(out, &w.out, static_cast<unsigned long long>(prefixSize), pkg_, options, header.digest,
                          bodySize, packedSize) ||
        packedSize > kMaxU32)
        return false;
    header.bodySize = static_cast<std::uint32_t>(bodySize);
    header.packedSize = static_cast<std::uint32_t>(packedSize);
    header.write(head);
    const unsigned long long end = static_cast<unsigned long long>(start) + restSize + packedSize;
    if (!out->set_fp(static_cast<unsigned long long>(start)) || !out->writef(rest, restSize) || !out->set_fp(end))
        return false;
    if (out == dst) return true;
    spill.set_fp(0);
    bool wrote = true;
    const bool read = readToEnd(&spill, [&](const unsigned char* b, unsigned int n) {
        if (wrote) wrote = dst->writef(const_cast<unsigned char*>(b), n);
    });
    return read && wrote;
}

struct cSoftPkgScenario::sBinLoadPlace {
    enum eStage { source, header, sizes, packed, body, sections, references, items } stage = source;
    long long start = 0;                  // the source's position where the payload begins (-1: unknown)
    int error = 0;                        // errno of a failed read
    unsigned long long at = 0, total = 0;  // where a section or a read broke; the bytes announced
    unsigned tag = 0;                     // the section being read
    std::string detail;                   // why the header is not a payload's
};

bool cSoftPkgScenario::loadBinConfig(cFileIOTarget* src, sPayloadOptions& options) {
    // Every failure leaves a fault that says why: the steps that know give
    // their own, and this fills in the rest from where the load got to.
    options.fault = sPayloadFault();
    sBinLoadPlace place;
    if (loadBinWhole(src, options, place)) return true;
    if (options.fault) return false;
    sPayloadFault& f = options.fault;
    switch (place.stage) {
    case sBinLoadPlace::source:
        f.cause = sPayloadFault::readFailed;
        f.error = EBADF;
        break;
    case sBinLoadPlace::header:
        if (place.error) {
            f.cause = sPayloadFault::readFailed;
            f.error = place.error;
        } else {
            f.cause = sPayloadFault::truncated;
            f.at = place.at;
        }
        break;
    case sBinLoadPlace::sizes:
        f.cause = sPayloadFault::notPayload;
        f.detail = place.detail;
        break;
    case sBinLoadPlace::packed:
        if (place.error) {
            f.cause = sPayloadFault::readFailed;
            f.error = place.error;
            f.at = place.at;
        } else {
            f.cause = sPayloadFault::truncated;
            f.at = place.at;
            f.total = place.total;
        }
        break;
    case sBinLoadPlace::body:
        f.cause = sPayloadFault::badStream;
        f.at = place.at;
        f.detail = "it does not inflate whole to the size its header gives, or the body's SHA-256 digest is not the "
                   "header's";
        break;
    case sBinLoadPlace::sections:
        f.cause = sPayloadFault::badLayout;
        f.at = place.at;
        f.detail = place.tag == ~0u ? "the body ends before its end tag"
                   : place.tag > 13 ? "section tag " + std::to_string(place.tag) + " is none the format has"
                                    : "section " + std::to_string(place.tag) + " does not read";
        break;
    case sBinLoadPlace::references:
        f.cause = sPayloadFault::badScenario;
        f.detail = "a menu entry, file, icon or program refers to a text or an item the payload does not hold";
        break;
    case sBinLoadPlace::items:
        f.cause = sPayloadFault::badItem;
        f.item = options.badItem;
        break;
    }
    return false;
}

bool cSoftPkgScenario::loadBinWhole(cFileIOTarget* src, sPayloadOptions& options, sBinLoadPlace& place) {
    options.badItem = -1;
    const int keepLang = currLang_;
    close();
    currLang_ = keepLang;
    if (!src) return false;

    place.stage = sBinLoadPlace::header;
    place.start = src->get_fp();
    unsigned char head[sPayloadHeader::kSize];
    sPayloadHeader header;
    errno = 0;
    const unsigned int first = src->read(head, sizeof head);
    if (!cFileIOTarget::transferred(first, sizeof head)) {
        place.error = errno ? errno : EIO;
        return false;
    }
    if (first < sizeof head) {
        // A stream may give less than asked before its end: read on.
        unsigned int more = first;
        while (more < sizeof head) {
            const unsigned int n = src->read(head + more, static_cast<unsigned int>(sizeof head - more));
            if (!cFileIOTarget::transferred(n, static_cast<unsigned int>(sizeof head - more))) {
                place.error = errno ? errno : EIO;
                return false;
            }
            if (n == 0) break;
            more += n;
        }
        place.at = more;
        if (more < sizeof head) {
            // Too short for a header; a wrong magic says more.
            if (header.read(head, more) == sPayloadHeader::notMagic) {
                place.stage = sBinLoadPlace::sizes;
                place.detail = "it does not begin with the payload's magic";
            }
            return false;
        }
    }
    place.stage = sBinLoadPlace::sizes;
    switch (header.read(head, sizeof head)) {
    case sPayloadHeader::ok: break;
    case sPayloadHeader::newVersion:
        place.detail = "its format version " + std::to_string(head[sPayloadHeader::kMagicSize]) +
                       " is newer than this reader knows";
        return false;
    default:
        place.detail = "it does not begin with the payload's magic";
        return false;
    }
    const unsigned long long bodySize = header.bodySize, packedSize = header.packedSize;
    if (!header.sizesPossible(packedSize)) {
        place.detail = "its header gives sizes no payload has";
        return false;
    }
    place.stage = sBinLoadPlace::packed;
    place.total = sizeof head + packedSize;
    const unsigned char(&want)[32] = header.digest;
    std::shared_ptr<const unsigned char> body;
    const long long at = src->get_fp(), total = src->size();
    if (at >= 0 && total > 0) {
        // The source holds the packed bytes it claims: the body's buffer,
        // bounded by them, may be set up before they are read.
        if (static_cast<unsigned long long>(total - std::min(total, at)) < packedSize) {
            place.at = static_cast<unsigned long long>(total - std::min(total, at)) + sizeof head;
            return false;
        }
        place.stage = sBinLoadPlace::body;
        place.at = sizeof head;
        if (!readPayloadBody(src, bodySize, packedSize, want, options, body)) return false;
    } else {
        // A source that cannot tell: its packed bytes are read first, in
        // pieces as they arrive, so that a header claiming more than it
        // holds costs no more than it holds.
        std::vector<unsigned char> packed;
        constexpr unsigned long long kPiece = 1ull << 24;
        try {
            for (unsigned long long got = 0; got < packedSize;) {
                const unsigned int n = static_cast<unsigned int>(std::min(packedSize - got, kPiece));
                packed.resize(static_cast<std::size_t>(got + n));
                for (unsigned int done = 0; done < n;) {
                    errno = 0;
                    const unsigned int part = src->read(packed.data() + got + done, n - done);
                    place.at = sizeof head + got + done;
                    if (!cFileIOTarget::transferred(part, n - done)) {
                        place.error = errno ? errno : EIO;
                        return false;
                    }
                    if (part == 0) return false;
                    done += part;
                }
                got += n;
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        place.stage = sBinLoadPlace::body;
        place.at = sizeof head;
        if (!decodePayloadBody(packed.data(), packedSize, bodySize, want, options, body)) return false;
    }
    return loadSections(body, bodySize, packedSize, options, place);
}

bool cSoftPkgScenario::loadBinBody(const std::shared_ptr<const unsigned char>& body, std::size_t size,
                                   std::vector<cSoftPkg::sRecord>&& records) {
    const int keepLang = currLang_;
    close();
    currLang_ = keepLang;
    if (!body || size == 0 || size > kMaxU32) return false;
    // The items first, so that the file entries' references are checked
    // against them; their records go once they are items.
    const bool items = pkg_.loadRecords(records);
    std::vector<cSoftPkg::sRecord>().swap(records);
    sPayloadOptions options;
    sBinLoadPlace place;
    return items && loadSections(body, size, 0, options, place);
}

bool cSoftPkgScenario::loadSections(const std::shared_ptr<const unsigned char>& body, unsigned long long bodySize,
                                    unsigned long long packedSize, sPayloadOptions& options,
                                    sBinLoadPlace& place) {
    place.stage = sBinLoadPlace::sections;
    cBodyReader r;
    r.io.wrap(const_cast<unsigned char*>(body.get()), static_cast<long long>(bodySize), false);
    for (;;) {
        unsigned tag;
        place.at = static_cast<unsigned long long>(r.io.get_fp());
        place.tag = ~0u;
        if (!r.u8(tag)) return false;
        place.tag = tag;
        if (tag > 13) return false;
        if (tag == 0) break;
        switch (tag) {
        case 1: {
            std::uint32_t v[4];
            for (auto& x : v)
                if (!r.u32(x) || x > 0xFFFF) return false;  // each part is 16 bits
            for (int i = 0; i < 4; ++i) ver_[i] = static_cast<int>(v[i]);
            if (!r.text(supportURL_) || !r.text(publisherURL_) || !r.text(updatesURL_) || !r.text(manualURL_))
                return false;
            break;
        }
        case 2:
            if (!r.pathDef(icon_)) return false;
            break;
        case 3:
            for (int e; (e = r.next()) != 0;) {
                if (e < 0) return false;
                sInMenuDef m;
                unsigned flags;
                if (!r.id(m.title, true) || !r.pathDef(m.target) || !r.id(m.args, true) || !r.pathDef(m.icon) ||
                    !r.id(m.comment, true) || !r.u8(flags) || flags > 8)
                    return false;
                m.flags = static_cast<std::uint8_t>(flags);
                menus_.push_back(std::move(m));
            }
            break;
        case 4: {
            // Counted first, so that the list takes the room of its entries
            // and no more: a payload may hold hundreds of thousands.
            const long long from = r.io.get_fp();
            std::size_t entries = 0;
            sIntFileDef scratch;
            for (int e; (e = r.next()) != 0; ++entries)
                if (e < 0 || !fileEntry(r, scratch)) return false;
            try {
                files_.reserve(files_.size() + entries);
            } catch (const std::bad_alloc&) {
                return false;
            }
            r.io.set_fp(static_cast<unsigned long long>(from));
            for (int e; (e = r.next()) != 0;) {
                sIntFileDef f;
                if (e < 0 || !fileEntry(r, f)) return false;
                files_.push_back(std::move(f));
            }
            break;
        }
        case 5:
            for (int e; (e = r.next()) != 0;) {
                if (e < 0) return false;
                sOnCompletionRunInt run;
                unsigned checked;
                if (!r.u8(checked) || !r.id(run.label, true) || !r.pathDef(run.program) || !r.id(run.args, true))
                    return false;
                run.checked = checked & 1;
                runs_.push_back(std::move(run));
            }
            break;
        case 6:
            if (!loadLang(r, defTable_)) return false;
            continue;
        case 7:
            for (;;) {
                unsigned l;
                if (!r.u8(l)) return false;
                if (l == 0xFF) break;
                if (static_cast<int>(l) > kMaxLangId || langTables_.count(static_cast<int>(l))) return false;
                if (!loadLang(r, langTables_[static_cast<int>(l)])) return false;
            }
            continue;
        case 8:
            for (int e; (e = r.next()) != 0;) {
                if (e < 0) return false;
                sDefineParam s;
                unsigned n;
                std::string v;
                // An empty value is a text setting of no characters.
                if (!r.u16(n) || n == 0 || !r.bytes(s.name, n) || s.name.find('\0') != std::string::npos ||
                    !r.u16(n) || !r.bytes(v, n))
                    return false;
                s.value.assign(v.begin(), v.end());
                settings_.push_back(std::move(s));
            }
            break;
        case 9:
            if (!readDocument(r, welcome_, docBudget_, docFault_)) return false;
            continue;
        case 10: {
            unsigned accept;
            if (!r.u8(accept)) return false;
            readmeAccept_ = accept & 1;
            if (!readDocument(r, readme_, docBudget_, docFault_)) return false;
            continue;
        }
        case 11:
            if (!readDocument(r, eula_, docBudget_, docFault_)) return false;
            continue;
        case 12:
            for (int e; (e = r.next()) != 0;) {
                if (e < 0) return false;
                sDeprecateItem d;
                unsigned v;
                if (!r.text(d.codename) || d.codename.empty() || !r.u16(v)) return false;
                d.version = static_cast<std::uint16_t>(v);
                deprecates_.push_back(std::move(d));
            }
            break;
        case 13: {
            // The items stay in the body's buffer.
            std::size_t pos = static_cast<std::size_t>(r.io.get_fp());
            if (!pkg_.loadPackageShared(body, static_cast<std::size_t>(bodySize), pos) || !r.io.set_fp(pos))
                return false;
            continue;
        }
        }
    }
    place.stage = sBinLoadPlace::references;
    if (!checkReferences()) return false;
    if (!options.verifyItems) return true;
    place.stage = sBinLoadPlace::items;
    sPayloadProgress soFar;
    soFar.plainDone = soFar.plainTotal = bodySize;
    soFar.packedDone = soFar.packedTotal = packedSize;
    return verifyPayloadItems(pkg_, options, soFar);
}

bool cSoftPkgScenario::checkReferences() const {
    int lang = 0;
    auto ok = [&](const std::string& id) { return isValidDef(id.c_str(), lang); };
    auto okOrEmpty = [&](const std::string& id) { return id.empty() || ok(id); };
    // A scenario without an icon has an empty icon id: nothing to resolve.
    if (!okOrEmpty(icon_.id)) return false;
    for (const auto& m : menus_)
        if (!ok(m.title) || !okOrEmpty(m.target.id) || !okOrEmpty(m.icon.id)) return false;
    for (const auto& f : files_)
        if (!okOrEmpty(f.dest.id) || f.item >= pkg_.count()) return false;
    for (const auto& r : runs_)
        if (!ok(r.label) || !okOrEmpty(r.program.id)) return false;
    return true;
}
