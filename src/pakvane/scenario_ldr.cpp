// Text scenario compiler: reads a scenario line by line into the model,
// compiling its documents and reading every file to install into the item
// table as it goes.  Each section has its own line parser; they share the
// lexical helpers (quoted strings, references, path definitions).
#include "pakvane/scenario.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "base/fileio.h"
#include "base/folders.h"
#include "base/memio.h"
#include "base/textfile.h"
#include "cihlpdoc/hdlparser.h"

namespace {

const char* const kLangCodes[11] = {"ENG", "RUS", "DEU", "JPN", "KOR", "FRA", "UKR", "ESP", "CHN", "TWN", "TUR"};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char* skipSpace(const char* p) {
    while (isSpace(*p)) ++p;
    return p;
}

// Only whitespace and an optional comment up to the end of the line.
bool onlyComment(const char* p) {
    p = skipSpace(p);
    return *p == 0 || *p == '#';
}

bool startsWith(const char* p, const char* word) { return std::strncmp(p, word, std::strlen(word)) == 0; }

// The language id of the three letters at p, or -1.
int langCode(const char* p) {
    for (int i = 0; i < 11; ++i)
        if (std::strncmp(p, kLangCodes[i], 3) == 0) return i;
    return -1;
}

// findSkipEq
bool findSkipEq(const char*& p) {
    const char* q = skipSpace(p);
    if (*q != '=') return false;
    p = skipSpace(q + 1);
    return true;
}

// parseStrVal: a double-quoted text; a backslash takes the next character
// literally.  Whitespace after the closing quote is skipped.
bool parseStrVal(const char*& p, std::string& out) {
    const char* q = skipSpace(p);
    if (*q != '"') return false;
    ++q;
    out.clear();
    for (;;) {
        char c = *q;
        if (c == 0) return false;
        if (c == '"') break;
        if (c == '\\') {
            if (q[1] == 0) return false;
            out += q[1];
            q += 2;
            continue;
        }
        out += c;
        ++q;
    }
    p = skipSpace(q + 1);
    return true;
}

// A number of a setting or a deprecated version: hexadecimal after "0x",
// else decimal with an optional sign; an empty text is 0.  False when no
// number can be read or it does not fit 64 bits.
bool parseNumber(const std::string& text, std::uint64_t& v) {
    const char* p = skipSpace(text.c_str());
    if (*p == 0) {
        v = 0;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        if (!std::isxdigit(static_cast<unsigned char>(p[2]))) return false;
        v = std::strtoull(p + 2, &end, 16);
    } else {
        if (!(std::isdigit(static_cast<unsigned char>(*p)) ||
              ((*p == '-' || *p == '+') && std::isdigit(static_cast<unsigned char>(p[1])))))
            return false;
        v = static_cast<std::uint64_t>(std::strtoll(p, &end, 10));
    }
    return errno != ERANGE;
}

// Whether two file entries are installed together anywhere: on a system
// width both are for, in a language both are for.
bool installedTogether(const cSoftPkgScenario::sIntFileDef& a, const cSoftPkgScenario::sIntFileDef& b) {
    if (!((a.for32 && b.for32) || (a.for64 && b.for64))) return false;
    if (a.langs.empty() || b.langs.empty()) return true;
    for (int l : a.langs)
        if (std::find(b.langs.begin(), b.langs.end(), l) != b.langs.end()) return true;
    return false;
}

// A path as a volume that ignores letter case sees it: the capitals of the
// Latin (ASCII, Latin-1 and Latin Extended-A), Greek and Cyrillic letters
// taken as their small letters; other bytes as they are.
std::string foldCase(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size();) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            ++i;
            continue;
        }
        if ((c & 0xE0) != 0xC0 || i + 1 >= path.size() || (static_cast<unsigned char>(path[i + 1]) & 0xC0) != 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        unsigned cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(path[i + 1]) & 0x3Fu);
        if ((cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) || (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) ||
            (cp >= 0x410 && cp <= 0x42F))
            cp += 0x20;
        else if (cp >= 0x400 && cp <= 0x40F)
            cp += 0x50;
        else if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177))
            cp |= 1;
        else if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E))
            cp += cp & 1;
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
        i += 2;
    }
    return out;
}

// Room for one more entry in a list that may grow to hundreds of thousands
// (one for every file): a quarter more at a time rather than twice as much,
// so that little room lies unused, and the old and the new room together
// while it moves stay near the list's size.
template <typename T>
void roomForOne(std::vector<T>& v) {
    if (v.size() == v.capacity()) v.reserve(v.size() + std::max<std::size_t>(16, v.size() / 4));
}

// Indexes (file entries) by a key each has, a few bytes an index (a
// scenario may name hundreds of thousands): open addressing over a power of
// two slots, at most half of them used, each holding the last index noted
// of one key.  The table keeps no keys: `is(j)` says whether index j has the
// key looked for, `hashOf(j)` gives the hash of index j's.
class cLastByKey {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // The last index noted with the key of hash h that `is` accepts, or kNone.
    template <typename Is>
    std::uint32_t find(std::uint64_t h, Is is) const {
        return slots_.empty() ? kNone : slots_[slotOf(h, is)];
    }
    // Index i, of that key, is now its last.
    template <typename Is, typename HashOf>
    void note(std::uint64_t h, std::uint32_t i, Is is, HashOf hashOf) {
        if (2 * (used_ + 1) > slots_.size()) {
            std::vector<std::uint32_t> old(std::max<std::size_t>(64, 2 * slots_.size()), kNone);
            old.swap(slots_);
            // Every slot holds a key of its own: each goes to the first free
            // slot from its hash.
            for (std::uint32_t j : old)
                if (j != kNone) slots_[slotOf(hashOf(j), [](std::uint32_t) { return false; })] = j;
        }
        const std::size_t at = slotOf(h, is);
        if (slots_[at] == kNone) ++used_;
        slots_[at] = i;
    }

private:
    std::vector<std::uint32_t> slots_;
    std::size_t used_ = 0;

    // The slot that holds the key of hash h that `is` accepts, or the free
    // one it would take.
    template <typename Is>
    std::size_t slotOf(std::uint64_t h, Is is) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = static_cast<std::size_t>(h) & mask;; i = (i + 1) & mask)
            if (slots_[i] == kNone || is(slots_[i])) return i;
    }
};

// Whether two files to pack hold the same bytes: one file (device and
// inode), or two of one size whose bytes compare equal.  Asked only of
// files two entries install at one destination, which are few; a file
// that cannot be read is taken to differ, so that a warning says more,
// never less.
bool sameBytes(const cSoftPkg::sPkgItem* a, const cSoftPkg::sPkgItem* b) {
    if (!a || !b || !a->isFile() || !b->isFile()) return false;
    const cSoftPkg::sFileStamp &x = a->sourceStamp, &y = b->sourceStamp;
    if (x.inode != 0 && x.device == y.device && x.inode == y.inode) return true;
    if (x.size != y.size) return false;
    cFileIO fa, fb;
    if (!fa.open(a->source.c_str(), fmRead) || !fb.open(b->source.c_str(), fmRead)) return false;
    std::vector<unsigned char> ba(65536), bb(65536);
    for (unsigned long long left = x.size; left > 0;) {
        const unsigned int n = static_cast<unsigned int>(std::min<unsigned long long>(left, ba.size()));
        if (!fa.readf(ba.data(), n) || !fb.readf(bb.data(), n) || std::memcmp(ba.data(), bb.data(), n) != 0)
            return false;
        left -= n;
    }
    return true;
}

// FNV-1a of a destination's base id and sub path (normal, and folded as a
// volume that ignores case sees it).
std::uint64_t destinationHash(const std::string& id, const std::string& sub) {
    std::uint64_t h = 14695981039346656037ull;
    auto mix = [&h](unsigned char c) { h = (h ^ c) * 1099511628211ull; };
    for (unsigned char c : id) mix(c);
    mix(0);
    for (unsigned char c : sub) mix(c);
    return h;
}

}  // namespace

// The line parsers, friends of the scenario.
class cScenarioLineParser {
public:
    explicit cScenarioLineParser(cSoftPkgScenario& s) : s_(s) {}

    int parseGen(const char* p);
    int parseSoft(const char* p);
    int parseStrs(const char* p);
    int parseInst(const char* p);
    int parseMenu(const char* p);
    int parseSett(const char* p);
    int parseRun(const char* p);
    int parseDeprecate(const char* p);
    int finalChecks();
    // Records a file or folder the compile read.
    void noteInput(const std::string& path, cSoftPkgScenario::eInputKind kind, const struct stat& st);
    void noteFileInput(int index);

    // The line being parsed (from 0), for the checks after the last line
    // to say where what they find wrong was written.
    int line = 0;

private:
    using sTextWarning = cSoftPkgScenario::sTextWarning;
    std::map<std::pair<int, std::string>, int> stringLines_;  // (language or -1, id) -> line
    int docLines_[3] = {-1, -1, -1};                           // welcome, readme, eula
    std::map<std::string, int> softLines_;                     // Software key -> line
    // Each file entry's line, and the entries by where they install: base
    // id and normal sub path.
    std::vector<int> fileLines_;
    // Where file entries install outside the installation folder.
    void warnOutside();
    // The files an Install line's walk found, in order: their destinations'
    // sub paths and items.
    std::vector<std::pair<std::string, std::uint32_t> > lineFiles_;
    // File entries by destination, a few bytes a file (a scenario may name
    // hundreds of thousands): the last entry of each destination's hash,
    // and for every entry the one before it with the same hash, each then
    // told apart by its names.
    static constexpr std::uint32_t kNoEntry = cLastByKey::kNone;
    std::vector<std::uint64_t> destinationHash_;  // of every entry
    std::vector<std::uint32_t> sameHashBefore_;   // of every entry
    cLastByKey lastByHash_;                       // the last entry of each hash
    std::uint32_t lastOf(std::uint64_t h) const {
        return lastByHash_.find(h, [&](std::uint32_t j) { return destinationHash_[j] == h; });
    }
    void noteLast(std::uint64_t h, std::uint32_t i) {
        lastByHash_.note(
            h, i, [&](std::uint32_t j) { return destinationHash_[j] == h; },
            [&](std::uint32_t j) { return destinationHash_[j]; });
    }
    // What file entry i was read from, as given: its item's source.
    const std::string& sourceOf(std::size_t i) const;
    void warn(sTextWarning w) { s_.warnings_.push_back(std::move(w)); }
    // Notes the line of a key (`shown` as written); a key given before is
    // warned about: its earlier value is replaced.
    template <typename Key>
    void noteKey(std::map<Key, int>& lines, const Key& key, const std::string& shown) {
        const auto known = lines.find(key);
        if (known != lines.end()) {
            sTextWarning w;
            w.what = sTextWarning::repeatedKey;
            w.line = line;
            w.otherLine = known->second;
            w.text = shown;
            warn(std::move(w));
        }
        lines[key] = line;
    }
    // What the file entries an Install line added (from `first` on) lose.
    void checkInstalled(std::size_t first, bool modeGiven);
    cSoftPkgScenario::sTextError& err() { return s_.textError_; }
    bool getStrVID(const char*& p, std::string& id);
    // A base and a sub path, the sub path stored normal (`written`, when
    // asked for, is the sub path as written).
    bool getPathDef(const char*& p, cSoftPkgScenario::sPathDef& def, std::string* written = nullptr);
    int compileDoc(const std::string& path, cSoftPkgScenario::sDocument& doc, int code);
    // An Install source, file or folder; `listed` is its entry in the listing
    // of the folder it lies in, whose status it holds (null for a source
    // named by the line itself).
    int processSiObj(const cSoftPkgScenario::sIntFileDef& entry, const std::string& path,
                     std::set<std::pair<dev_t, ino_t> >& open, const sFolderItemInfo* listed = nullptr);
    // Whether path is a symbolic link to target, a folder at or above the
    // folder the link lies in.
    static bool leadsAbove(const std::string& path, const std::pair<dev_t, ino_t>& target);

    cSoftPkgScenario& s_;
};

bool cScenarioLineParser::getStrVID(const char*& p, std::string& id) {
    const char* q = skipSpace(p);
    if (*q == '$') {
        ++q;
        const char* start = q;
        while (*q && !isSpace(*q) && *q != ',' && *q != '=') ++q;
        id.assign(start, q);
        int lang = -1;
        if (id.empty() || id[0] == '.' || !s_.isValidDef(id.c_str(), lang)) {
            // Say which reference is wrong, and in which language it is
            // missing when it is defined in some only.
            err().part = cSoftPkgScenario::sTextError::partId;
            err().id = id;
            err().lang = lang;
            return false;
        }
        p = skipSpace(q);
        return true;
    }
    std::string text;
    if (!parseStrVal(q, text)) return false;
    auto known = s_.literals_.find(text);
    if (known != s_.literals_.end()) {
        id = known->second;
    } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, ".%04u", s_.nextLiteral_++);
        id = buf;
        if (s_.defTable_.count(id)) return false;
        s_.defTable_[id] = text;
        s_.literals_[text] = id;
    }
    p = q;
    return true;
}

bool cScenarioLineParser::getPathDef(const char*& p, cSoftPkgScenario::sPathDef& def, std::string* written) {
    const char* q = p;
    if (!getStrVID(q, def.id)) {
        err().part = cSoftPkgScenario::sTextError::partId;
        return false;
    }
    if (!parseStrVal(q, def.sub)) {
        err().part = cSoftPkgScenario::sTextError::partSubPath;
        err().subPath.clear();
        return false;
    }
    // A sub path that is absolute or climbs above its base with ".." would
    // leave the base folder, the one the user chose for "pgm".
    const std::string normal = cSoftPkgScenario::normalSubPath(def.sub);
    if ((!def.sub.empty() && def.sub[0] == '/') || normal == ".." || normal.compare(0, 3, "../") == 0) {
        err().part = cSoftPkgScenario::sTextError::partSubPath;
        err().subPath = def.sub;
        return false;
    }
    // Stored as names alone: the payload's reader takes no "..", and what
    // the installer is handed names the file it writes.
    if (written) *written = std::move(def.sub);
    def.sub = normal;
    p = q;
    return true;
}

int cScenarioLineParser::parseGen(const char* p) {
    if (!startsWith(p, "langs")) return 5;
    p += 5;
    if (!findSkipEq(p)) return 6;
    if (*p == 0 || *p == '#') return 9;
    while (*p && *p != '#') {
        const int l = langCode(p);
        if (l < 0) return 16;
        s_.langTables_[l];
        p = skipSpace(p + 3);
    }
    return 0;
}

int cScenarioLineParser::compileDoc(const std::string& path, cSoftPkgScenario::sDocument& doc, int code) {
    cMemIOTarget out(65536);
    cHDLParser compiler;
    cHDLParser::sErrInfo info;
    if (!compiler.parse(path.c_str(), &out, info)) {
        // The compiler's own account: the file it blames, where and why.
        err().file = info.file.get() ? info.file.get() : path;
        err().docLine = info.line;
        err().docColumn = info.column;
        err().message = info.message.get() ? info.message.get() : "";
        err().error = info.error;
        return code;
    }
    err().file = path;
    for (const std::string& read : compiler.filesRead()) {
        struct stat st;
        if (::stat(read.c_str(), &st) == 0) noteInput(read, cSoftPkgScenario::inDocument, st);
    }
    _typebuf<unsigned char> bytes;
    if (out.size() <= 0 || !out.toBuffer(bytes)) {
        err().message = "the compiler wrote nothing";
        return code;
    }
    doc.bytes.assign(bytes.data(), bytes.data() + bytes.count());
    doc.loader.destroy();
    // The scenario's documents load within one budget together, as they
    // will when the payload is read.
    if (!doc.loader.load(doc.bytes.data(), static_cast<long long>(doc.bytes.size()), s_.docBudget_)) {
        doc.bytes.clear();
        const std::string why = doc.loader.describeFault();
        s_.docFault_ = why;
        err().message = "the compiled document does not load" + (why.empty() ? std::string() : ": " + why);
        doc.loader.destroy();
        return code;
    }
    err().file.clear();
    return 0;
}

int cScenarioLineParser::parseSoft(const char* p) {
    static const char* const keys[] = {"codename",    "name",        "publisher",   "copyright", "group",
                                       "folder",      "version",     "manual_URL",  "publish_URL",
                                       "support_URL", "updates_URL", "welcome",     "readme",
                                       "eula",        "icon"};
    int k = -1;
    for (int i = 0; i < 15 && k < 0; ++i)
        if (startsWith(p, keys[i])) k = i;
    if (k < 0) return 5;
    p += std::strlen(keys[k]);
    if (!findSkipEq(p)) return 6;
    noteKey(softLines_, std::string(keys[k]), keys[k]);
    std::string value;
    if (k <= 5) {
        if (!parseStrVal(p, value) || !onlyComment(p)) return 7;
        // The code name becomes the update launcher's argument and the
        // installed package's configuration key.
        if (k == 0 && !cSoftPkgScenario::isSafeCodename(value)) {
            err().id = value;
            return cSoftPkgScenario::errBadCodename;
        }
        s_.defTable_[keys[k]] = value;
        return 0;
    }
    if (k == 6) {
        if (!parseStrVal(p, value) || !onlyComment(p)) return 7;
        // "%d.%d.%d.%d": whitespace before a number, an optional sign.
        long long part[4] = {0, 0, 0, 0};
        int got = 0;
        const char* q = value.c_str();
        const char* numbersEnd = q;  // after the last number read
        while (got < 4) {
            q = skipSpace(q);
            const char* start = q;
            if (*q == '-' || *q == '+') ++q;
            if (!std::isdigit(static_cast<unsigned char>(*q))) break;
            errno = 0;
            char* end = nullptr;
            part[got] = std::strtoll(start, &end, 10);
            if (errno == ERANGE) return cSoftPkgScenario::errVersionRange;
            q = numbersEnd = end;
            ++got;
            if (*q != '.') break;
            ++q;
        }
        if (got < 2) return 18;
        // Each part is 16 bits in the version id: larger ones would be cut.
        for (long long v : part)
            if (v < 0 || v > 65535) return cSoftPkgScenario::errVersionRange;
        for (int i = 0; i < 4; ++i) s_.ver_[i] = static_cast<int>(part[i]);
        // A fifth part, or words after the numbers, go nowhere.  A point
        // or blanks at the end lose nothing.
        std::string rest(numbersEnd);
        while (!rest.empty() && isSpace(rest.back())) rest.pop_back();
        rest.erase(0, static_cast<std::size_t>(skipSpace(rest.c_str()) - rest.c_str()));
        if (rest.find_first_not_of('.') != std::string::npos) {
            sTextWarning w;
            w.what = sTextWarning::versionCut;
            w.line = line;
            w.text = value;
            for (int i = 0; i < got; ++i) w.kept += (i ? "." : "") + std::to_string(part[i]);
            w.dropped = rest;
            warn(std::move(w));
        }
        return 0;
    }
    if (k <= 10) {
        if (!parseStrVal(p, value) || !onlyComment(p)) return 7;
        std::string* urls[] = {&s_.manualURL_, &s_.publisherURL_, &s_.supportURL_, &s_.updatesURL_};
        *urls[k - 7] = value;
        return 0;
    }
    if (k <= 13) {
        if (!parseStrVal(p, value)) return 7;
        bool accept = false;
        if (k == 12 && *p == ',') {
            p = skipSpace(p + 1);
            if (startsWith(p, "yes")) {
                accept = true;
                p += 3;
            } else if (startsWith(p, "no")) {
                p += 2;
            }
        }
        if (!onlyComment(p)) return 7;
        docLines_[k - 11] = line;
        if (k == 11) return compileDoc(value, s_.welcome_, 19);
        if (k == 13) return compileDoc(value, s_.eula_, 21);
        s_.readmeAccept_ = accept;
        return compileDoc(value, s_.readme_, 20);
    }
    if (!getPathDef(p, s_.icon_)) return 23;
    return onlyComment(p) ? 0 : 6;
}

int cScenarioLineParser::parseStrs(const char* p) {
    const char* start = p;
    while (*p && !isSpace(*p) && *p != '=') ++p;
    std::string key(start, p);
    int lang = -1;
    std::string id = key;
    if (key.size() >= 4 && key[3] == '.') {
        lang = langCode(key.c_str());
        if (lang < 0) return 16;
        id = key.substr(4);
    }
    if (id.find('.') != std::string::npos) return 16;
    if (lang >= 0 && !s_.langTables_.count(lang)) return 16;
    if (id.empty()) return 17;
    // "pgm" is the folder the user picks; a scenario may not decide it.
    if (id == "pgm") return cSoftPkgScenario::errReservedID;
    if (!findSkipEq(p)) return 7;
    std::string text;
    if (!parseStrVal(p, text) || !onlyComment(p)) return 7;
    s_.setStr(lang, id.c_str(), text.c_str());
    noteKey(stringLines_, std::make_pair(lang, id), key);
    return 0;
}

namespace {

// Why a listing left an entry out, in the compiler's terms.
cSoftPkgScenario::eLeftOutWhy leftOutWhy(const sFolderLeftOut& e) {
    using S = cSoftPkgScenario;
    if (e.error == ELOOP) return S::loLinkLoop;
    if (e.error == ENOENT) return S_ISLNK(e.mode) ? S::loDanglingLink : S::loVanished;
    if (e.error != 0) return S::loUnreadable;
    if (S_ISFIFO(e.mode)) return S::loFifo;
    if (S_ISSOCK(e.mode)) return S::loSocket;
    if (S_ISBLK(e.mode) || S_ISCHR(e.mode)) return S::loDevice;
    return S::loOtherKind;
}

}  // namespace

void cScenarioLineParser::noteInput(const std::string& path, cSoftPkgScenario::eInputKind kind, const struct stat& st) {
    cSoftPkgScenario::sInput in;
    in.path = path;
    in.kind = kind;
    in.device = static_cast<std::uint64_t>(st.st_dev);
    in.inode = static_cast<std::uint64_t>(st.st_ino);
    roomForOne(s_.inputs_);
    roomForOne(s_.filesBefore_);
    s_.inputs_.push_back(std::move(in));
    s_.filesBefore_.push_back(static_cast<std::uint32_t>(s_.inputFiles_.size()));
    s_.inputsMade_ = false;
}

// A file to pack read as the item `index`: its path and identity are the
// item's.
void cScenarioLineParser::noteFileInput(int index) {
    roomForOne(s_.inputFiles_);
    s_.inputFiles_.push_back(static_cast<std::uint32_t>(index));
    s_.inputsMade_ = false;
}

const std::string& cScenarioLineParser::sourceOf(std::size_t i) const {
    static const std::string kNoSource;
    if (i >= s_.files_.size()) return kNoSource;
    const cSoftPkg::sPkgItem* item = s_.pkg_.itemInfo(static_cast<int>(s_.files_[i].item));
    return item ? item->source : kNoSource;
}

int cScenarioLineParser::processSiObj(const cSoftPkgScenario::sIntFileDef& entry, const std::string& path,
                                      std::set<std::pair<dev_t, ino_t> >& open, const sFolderItemInfo* listed) {
    struct stat st;
    err().file = path;
    // An entry of a listing was looked at through its links as it was
    // listed: the walk takes no status of its own (a file is added with
    // the listing's, and whether it may be read, asked of its name in the
    // open folder rather than of its whole path, which finds one gone
    // since).
    if (listed) {
        std::memset(&st, 0, sizeof st);
        st.st_mode = listed->type == fsoFile ? S_IFREG : listed->type == fsoFolder ? S_IFDIR : 0;
        st.st_dev = static_cast<dev_t>(listed->device);
        st.st_ino = static_cast<ino_t>(listed->inode);
    } else if (::stat(path.c_str(), &st) != 0) {
        err().error = errno;
        return 26;
    }
    if (S_ISREG(st.st_mode)) {
        // Checked now (it opens and has a size that fits), read when the
        // payload is written: the compiler holds no file's bytes.
        int index;
        if (listed) {
            // The listing's status is the one the file is added with.
            cSoftPkg::sFileStamp stamp;
            stamp.device = listed->device;
            stamp.inode = listed->inode;
            stamp.size = listed->size;
            // A listed entry here is a regular file; the listing keeps its
            // permission bits, a stamp the type bits with them.
            stamp.mode = S_IFREG | (listed->mode & 07777);
            stamp.modifiedSec = listed->modifiedSec;
            stamp.modifiedNsec = listed->modifiedNsec;
            stamp.changedSec = listed->changedSec;
            stamp.changedNsec = listed->changedNsec;
            index = s_.pkg_.addPkgFile(path.c_str(), stamp, listed->readError);
        } else {
            index = s_.pkg_.addPkgFile(path.c_str());
        }
        if (index < 0) {
            err().error = errno;
            return 26;
        }
        roomForOne(lineFiles_);
        lineFiles_.emplace_back(entry.dest.sub, static_cast<std::uint32_t>(index));
        noteFileInput(index);
        return 0;
    }
    if (!S_ISDIR(st.st_mode)) {
        err().error = 0;
        return 26;
    }
    // Links are followed, so a link to a folder above would recurse forever:
    // it is left out, and named.  A folder met again by another way (a bind
    // mount) fails the line.
    const std::pair<dev_t, ino_t> self(st.st_dev, st.st_ino);
    if (!open.insert(self).second) {
        struct stat link;
        if (!listed || ::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
            return cSoftPkgScenario::errFolderCycle;
        s_.leftOut_.push_back({path, cSoftPkgScenario::loLinkBack, 0});
        err().file.clear();
        return 0;
    }
    // A link to a folder above the walk (`ln -s .. up`) would bring it back
    // to where it is by a path of its own: left out, and named, as well.
    if (listed && leadsAbove(path, self)) {
        open.erase(self);
        s_.leftOut_.push_back({path, cSoftPkgScenario::loLinkAbove, 0});
        err().file.clear();
        return 0;
    }
    noteInput(path, cSoftPkgScenario::inFolder, st);
    cFolderContents list;
    std::vector<sFolderLeftOut> left;
    int rc = list.init(path.c_str(), true, &left, true) ? 0 : 26;
    if (rc != 0) err().error = errno;
    // Names in byte order: the same tree gives the same items in the same
    // order, and so the same payload, on every file system.
    list.sortByName();
    std::sort(left.begin(), left.end(),
              [](const sFolderLeftOut& a, const sFolderLeftOut& b) { return a.name < b.name; });
    if (rc == 0 && list.count() == 0 && left.empty()) s_.leftOut_.push_back({path, cSoftPkgScenario::loEmptyFolder, 0});
    // What is left out is told where the walk passes its name.
    // What cannot be read stops the line, as a file that cannot be read
    // does: a package is not made with part of its tree missing.
    std::size_t nextLeft = 0;
    auto tellLeftOut = [&](const std::string* before) {
        for (; nextLeft < left.size() && (!before || left[nextLeft].name < *before); ++nextLeft) {
            const sFolderLeftOut& e = left[nextLeft];
            if (leftOutWhy(e) == cSoftPkgScenario::loUnreadable) {
                err().file = path + "/" + e.name;
                err().error = e.error;
                return 26;
            }
            s_.leftOut_.push_back({path + "/" + e.name, leftOutWhy(e), e.error});
        }
        return 0;
    };
    for (int i = 0; rc == 0 && i < list.count(); ++i) {
        const sFolderItemInfo* it = list.info(i);
        if (!it) continue;
        const std::string name = it->name.get() ? it->name.get() : "";
        if (name.empty() || name == "." || name == "..") continue;
        if (it->type != fsoFile && it->type != fsoFolder) continue;
        if ((rc = tellLeftOut(&name)) != 0) break;
        cSoftPkgScenario::sIntFileDef sub = entry;
        sub.dest.sub = entry.dest.sub.empty() ? name : entry.dest.sub + "/" + name;
        const std::string full = path + "/" + name;
        rc = processSiObj(sub, full, open, it);
        // Gone between the listing and now: left out like a name that
        // vanished while listed, not a failure of the whole line.
        if (rc == 26 && err().file == full && ::lstat(full.c_str(), &st) != 0 && errno == ENOENT) {
            s_.leftOut_.push_back({full, cSoftPkgScenario::loVanished, 0});
            rc = 0;
        }
    }
    if (rc == 0) rc = tellLeftOut(nullptr);
    open.erase(self);
    if (rc == 0) err().file.clear();
    return rc;
}

bool cScenarioLineParser::leadsAbove(const std::string& path, const std::pair<dev_t, ino_t>& target) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    const std::size_t slash = path.rfind('/');
    char* real = ::realpath(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash).c_str(), nullptr);
    if (!real) return false;
    std::string folder = real;
    std::free(real);
    // The folder the link lies in and every folder above it.
    for (;;) {
        if (::stat(folder.c_str(), &st) == 0 && st.st_dev == target.first && st.st_ino == target.second) return true;
        if (folder == "/") return false;
        const std::size_t up = folder.rfind('/');
        folder = up == 0 ? "/" : folder.substr(0, up);
    }
}

int cScenarioLineParser::parseInst(const char* p) {
    cSoftPkgScenario::sIntFileDef e;
    if (*p == 'x') {
        if (startsWith(p, "x64."))
            e.for32 = false;
        else if (startsWith(p, "x32."))
            e.for64 = false;
        else
            return 24;
        p += 4;
    } else if (*p != '"') {
        return 25;
    }
    std::string source;
    if (!parseStrVal(p, source)) return 7;
    const int type = cFolderContents::objtype(source.c_str());
    if (type != fsoFile && type != fsoFolder) {
        err().file = source;
        struct stat st;
        err().error = ::stat(source.c_str(), &st) != 0 ? errno : 0;
        return 26;
    }
    if (!findSkipEq(p)) return 6;
    std::string written;
    if (!getPathDef(p, e.dest, &written)) return 23;
    // A file needs a name below its base: one there would take the place of
    // the base folder itself (the installation folder, for "pgm").  A
    // folder's files get theirs from its tree.
    if (type == fsoFile && e.dest.sub.empty()) {
        err().part = cSoftPkgScenario::sTextError::partNoName;
        err().subPath = written;
        return 23;
    }
    if (!onlyComment(p)) {
        if (*p != ',') return 6;
        p = skipSpace(p + 1);
        if (*p >= '0' && *p <= '7') {
            for (int i = 0; i < 3; ++i) {
                if (p[i] < '0' || p[i] > '7') return 27;
                e.perm[i] = static_cast<std::uint8_t>(p[i] - '0');
            }
            p = skipSpace(p + 3);
        }
        if (!onlyComment(p)) {
            if (*p != ',') return 27;
            p = skipSpace(p + 1);
            if (*p == '*') {
                if (!onlyComment(p + 1)) return 16;
            } else {
                while (*p && *p != '#') {
                    const int l = langCode(p);
                    if (l < 0 || !s_.langTables_.count(l)) return 16;
                    e.langs.push_back(l);
                    p = skipSpace(p + 3);
                }
            }
        }
    }
    std::set<std::pair<dev_t, ino_t> > open;
    const std::size_t first = s_.files_.size();
    lineFiles_.clear();
    const int rc = processSiObj(e, source, open);
    if (rc == 0 && !lineFiles_.empty()) {
        // The line's entries go in at once: a line of a large folder makes
        // the list exactly its size, and no list of entries is ever copied
        // to a larger one while it is full of them.
        std::vector<cSoftPkgScenario::sIntFileDef>& files = s_.files_;
        const std::size_t need = files.size() + lineFiles_.size();
        if (need > files.capacity()) files.reserve(std::max(need, files.size() + files.size() / 4));
        for (auto& f : lineFiles_) {
            files.push_back(e);
            files.back().dest.sub = std::move(f.first);
            files.back().item = f.second;
        }
        std::vector<std::pair<std::string, std::uint32_t> >().swap(lineFiles_);
    }
    if (rc == 0) checkInstalled(first, e.perm[0] != 8);
    return rc;
}

void cScenarioLineParser::checkInstalled(std::size_t first, bool modeGiven) {
    // Pairs of files with one destination, one warning for each earlier
    // line they meet, in the order met: one of a pair is lost when their
    // bytes or modes differ, else the one file is packed twice.
    std::vector<sTextWarning> same, twice, cased;
    sTextWarning modes;
    modes.what = sTextWarning::modeNotRecorded;
    modes.line = line;
    for (std::size_t i = first; i < s_.files_.size(); ++i) {
        fileLines_.push_back(line);
        const cSoftPkgScenario::sIntFileDef& f = s_.files_[i];
        const cSoftPkg::sPkgItem* item = s_.pkg_.itemInfo(static_cast<int>(f.item));
        const std::string& source = sourceOf(i);
        // The installer gives a file its mode from the line's digits alone.
        // The mode on disk is the one the file was added with: a scenario
        // names thousands of files, and each has had its status taken.
        if (!modeGiven && item && (item->sourceStamp.mode & 0111) != 0) {
            if (modes.count++ == 0) modes.source = source;
        }
        const std::string& sub = f.dest.sub;  // stored normal
        // Destinations that are one file where case is ignored share a hash;
        // among the entries of that hash, the same path is one destination
        // and a path apart only in case is one file on such a volume.
        const std::string folded = foldCase(sub);
        const std::uint64_t key = destinationHash(f.dest.id, folded);
        const std::uint32_t before = lastOf(key);
        // The earlier entries of each kind, the first first.
        std::vector<std::size_t> there, casedThere;
        for (std::uint32_t j = before; j != kNoEntry; j = sameHashBefore_[j]) {
            if (s_.files_[j].dest.id != f.dest.id) continue;
            const std::string& other = s_.files_[j].dest.sub;
            if (other == sub)
                there.push_back(j);
            else if (foldCase(other) == folded)
                casedThere.push_back(j);
        }
        std::reverse(there.begin(), there.end());
        std::reverse(casedThere.begin(), casedThere.end());
        // The first earlier entry installed together with this one counts
        // in the warning about its line, made when the two lines first meet.
        auto meet = [&](const std::vector<std::size_t>& entries, bool sameDestination) {
            for (std::size_t j : entries) {
                if (!installedTogether(s_.files_[j], f)) continue;
                const bool one = sameDestination && std::equal(f.perm, f.perm + 3, s_.files_[j].perm) &&
                                 sameBytes(item, s_.pkg_.itemInfo(static_cast<int>(s_.files_[j].item)));
                std::vector<sTextWarning>& found = !sameDestination ? cased : one ? twice : same;
                const int other = fileLines_[j];
                auto w = std::find_if(found.begin(), found.end(),
                                      [&](const sTextWarning& x) { return x.otherLine == other; });
                if (w == found.end()) {
                    found.emplace_back();
                    w = found.end() - 1;
                    w->what = !sameDestination ? sTextWarning::caseOnly
                              : one            ? sTextWarning::sameFile
                                               : sTextWarning::sameDestination;
                    w->line = line;
                    w->otherLine = other;
                    w->dest = f.dest;
                    w->otherDest = s_.files_[j].dest;
                    w->source = source;
                    w->otherSource = sourceOf(j);
                }
                ++w->count;
                return;
            }
        };
        meet(casedThere, false);
        meet(there, true);
        sameHashBefore_.push_back(before);
        destinationHash_.push_back(key);
        noteLast(key, static_cast<std::uint32_t>(i));
    }
    for (sTextWarning& w : same) warn(std::move(w));
    for (sTextWarning& w : twice) warn(std::move(w));
    for (sTextWarning& w : cased) warn(std::move(w));
    if (modes.count) warn(std::move(modes));
}

int cScenarioLineParser::parseMenu(const char* p) {
    cSoftPkgScenario::sInMenuDef m;
    std::string title;
    if (!getStrVID(p, title)) return 7;
    if (!findSkipEq(p)) return 6;
    if (!getPathDef(p, m.target)) return 23;
    if (*p != ',') return 6;
    p = skipSpace(p + 1);
    if (!getPathDef(p, m.icon)) return 23;
    if (!onlyComment(p)) {
        if (*p != ',') return 6;
        p = skipSpace(p + 1);
        if (*p >= '0' && *p <= '8') {
            m.flags = static_cast<std::uint8_t>(*p - '0');
            p = skipSpace(p + 1);
        }
        if (!onlyComment(p)) {
            if (*p != ',') return 6;
            ++p;
            if (!getStrVID(p, m.comment)) return 7;
            if (!onlyComment(p)) {
                if (*p != ',') return 6;
                ++p;
                if (!getStrVID(p, m.args)) return 7;
                if (!onlyComment(p)) return 6;
            }
        }
    }
    m.title = title;
    s_.menus_.push_back(std::move(m));
    return 0;
}

int cScenarioLineParser::parseSett(const char* p) {
    cSoftPkgScenario::sDefineParam s;
    // A setting needs a name: the payload cannot hold a nameless one.
    if (!parseStrVal(p, s.name) || s.name.empty()) return 6;
    if (!findSkipEq(p)) return 6;
    const char type = *p;
    int width;
    switch (type) {
    case 'w': width = 2; break;
    case 'd': width = 4; break;
    case 'q': width = 8; break;
    case 't': width = 0; break;
    default: return 6;
    }
    p = skipSpace(p + 1);
    if (*p != ',') return 6;
    p = skipSpace(p + 1);
    std::string value;
    if (!parseStrVal(p, value)) return 7;
    if (!onlyComment(p)) return 6;
    if (width == 0) {
        s.value.assign(value.begin(), value.end());
    } else {
        std::uint64_t v;
        if (!parseNumber(value, v) || v == ~0ull) return 8;
        // The value must fit its width, as an unsigned or a signed number.
        if (width < 8) {
            const std::int64_t sv = static_cast<std::int64_t>(v);
            const std::int64_t lo = -(std::int64_t(1) << (width * 8 - 1));
            const std::int64_t hi = (std::int64_t(1) << (width * 8)) - 1;
            if (sv < lo || sv > hi) return 8;
        }
        for (int i = 0; i < width; ++i) s.value.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
    s_.settings_.push_back(std::move(s));
    return 0;
}

int cScenarioLineParser::parseRun(const char* p) {
    cSoftPkgScenario::sOnCompletionRunInt r;
    if (!getStrVID(p, r.label)) return 7;
    if (!findSkipEq(p)) return 6;
    if (!getPathDef(p, r.program)) return 23;
    if (!onlyComment(p)) {
        if (*p != ',') return 6;
        p = skipSpace(p + 1);
        if (!onlyComment(p)) {
            if (startsWith(p, "yes")) {
                r.checked = true;
                p += 3;
            } else if (startsWith(p, "no")) {
                p += 2;
            } else {
                return 6;
            }
            p = skipSpace(p);
            if (!onlyComment(p)) {
                if (*p != ',') return 6;
                ++p;
                if (!getStrVID(p, r.args)) return 7;
                if (!onlyComment(p)) return 6;
            }
        }
    }
    s_.runs_.push_back(std::move(r));
    return 0;
}

int cScenarioLineParser::parseDeprecate(const char* p) {
    cSoftPkgScenario::sDeprecateItem d;
    if (!parseStrVal(p, d.codename) || d.codename.empty()) return 6;
    // Looked up as a configuration key of installed packages, like the
    // package's own code name.
    if (!cSoftPkgScenario::isSafeCodename(d.codename)) {
        err().id = d.codename;
        return cSoftPkgScenario::errBadCodename;
    }
    if (!findSkipEq(p)) return 6;
    if (*p == '"') {
        std::string v;
        if (!parseStrVal(p, v)) return 7;
        if (v.empty()) return 6;
        std::uint64_t n;
        if (!parseNumber(v, n) || n >= 65536) return 8;
        d.version = static_cast<std::uint16_t>(n);
    } else if (*p == '*') {
        if (!onlyComment(p + 1)) return 6;
        d.version = 0xFFFF;
    } else {
        return 7;
    }
    s_.deprecates_.push_back(std::move(d));
    return 0;
}

int cScenarioLineParser::finalChecks() {
    if (s_.langTables_.empty()) return 9;
    s_.currLang_ = s_.langTables_.begin()->first;
    if (!s_.defTable_.count("codename")) return 10;
    if (s_.eula_.bytes.empty()) return 11;
    for (auto& t : s_.langTables_) {
        const int l = t.first;
        err().lang = l;
        if (!s_.eula_.loader.forLang(l)) return err().defLine = docLines_[2], 12;
        if (!s_.welcome_.bytes.empty() && !s_.welcome_.loader.forLang(l)) return err().defLine = docLines_[0], 13;
        if (!s_.readme_.bytes.empty() && !s_.readme_.loader.forLang(l)) return err().defLine = docLines_[1], 14;
        for (const auto& e : t.second) {
            if (s_.defTable_.count(e.first)) continue;
            for (const auto& other : s_.langTables_)
                if (!other.second.count(e.first)) {
                    err().lang = other.first;
                    err().id = e.first;
                    auto at = stringLines_.find(std::make_pair(l, e.first));
                    err().defLine = at == stringLines_.end() ? -1 : at->second;
                    return 15;
                }
        }
    }
    // References are checked as their lines are read, against the languages
    // declared by then; a language declared later must hold them too, or the
    // payload saved would not load back.
    auto missing = [&](const std::string& id, bool mayBeEmpty) {
        int lang = -1;
        if ((mayBeEmpty && id.empty()) || s_.isValidDef(id.c_str(), lang)) return false;
        err().part = cSoftPkgScenario::sTextError::partId;
        err().id = id;
        err().lang = lang;
        return true;
    };
    if (missing(s_.icon_.id, true)) return 23;
    for (const auto& m : s_.menus_) {
        if (missing(m.title, false)) return 7;
        if (missing(m.target.id, true) || missing(m.icon.id, true)) return 23;
    }
    for (const auto& f : s_.files_)
        if (missing(f.dest.id, true)) return 23;
    for (const auto& r : s_.runs_) {
        if (missing(r.label, false)) return 7;
        if (missing(r.program.id, true)) return 23;
    }
    err().lang = -1;
    warnOutside();
    return 0;
}

void cScenarioLineParser::warnOutside() {
    // One warning a line, after the lines' own (a base's text is final only
    // now), in the order of the lines.
    std::vector<sTextWarning> outside;
    for (std::size_t i = 0; i < s_.files_.size() && i < fileLines_.size(); ++i) {
        const cSoftPkgScenario::sIntFileDef& f = s_.files_[i];
        if (f.dest.id == "pgm") continue;
        if (outside.empty() || outside.back().line != fileLines_[i]) {
            outside.emplace_back();
            sTextWarning& w = outside.back();
            w.what = sTextWarning::outsideFolder;
            w.line = fileLines_[i];
            w.dest = f.dest;
            const char* text = f.dest.id.empty() ? "" : s_.getStr(f.dest.id.c_str());
            w.text = text ? text : "";
            w.source = sourceOf(i);
        }
        ++outside.back().count;
    }
    // Among the warnings of their lines.
    for (sTextWarning& w : outside) {
        const auto at = std::find_if(s_.warnings_.begin(), s_.warnings_.end(),
                                     [&](const sTextWarning& x) { return x.line > w.line; });
        s_.warnings_.insert(at, std::move(w));
    }
}

int cSoftPkgScenario::loadTextConfig(const char* path, int& line) {
    close();
    section_ = 0;
    textError_ = sTextError();
    // Only a regular file: opening a named pipe would wait for a writer,
    // and a device could feed lines without end.
    struct stat st;
    if (!path || ::stat(path, &st) != 0) {
        textError_.error = path ? errno : ENOENT;
        return 1;
    }
    if (!S_ISREG(st.st_mode)) return 1;
    cTextFileIO text;
    errno = 0;
    if (!text.open(path, true, cTextFileIO::tctAuto)) {
        textError_.error = errno ? errno : EIO;
        return 1;
    }
    cScenarioLineParser parser(*this);
    parser.noteInput(path, inScenario, st);
    static const char* const headers[8] = {"General]", "Software]", "Strings]", "Install]",
                                           "Menu]",    "Settings]", "Run]",     "Deprecates]"};
    _typebuf<char> buf;
    std::string lineText;
    while (text.gets(buf)) {
        // The line reader ends a line at a NUL (and a NUL could come out of
        // a conversion inside a line); what followed it would be silently
        // lost, so the scenario is refused instead.
        if (text.lineEndedAtNul()) return errNulByte;
        lineText.assign(buf.data() ? buf.data() : "", static_cast<std::size_t>(buf.count()));
        if (lineText.find('\0') != std::string::npos) return errNulByte;
        const char* p = skipSpace(lineText.c_str());
        if (*p && *p != '#') {
            int rc = 0;
            if (*p == '[') {
                ++p;
                int found = 0;
                for (int i = 0; i < 8 && !found; ++i)
                    if (startsWith(p, headers[i])) found = i + 1;
                if (!found) return 2;
                if (!onlyComment(p + std::strlen(headers[found - 1]))) return 3;
                section_ = found;
            } else {
                parser.line = line;
                switch (section_) {
                case 0: rc = 4; break;
                case 1: rc = parser.parseGen(p); break;
                case 2: rc = parser.parseSoft(p); break;
                case 3: rc = parser.parseStrs(p); break;
                case 4: rc = parser.parseInst(p); break;
                case 5: rc = parser.parseMenu(p); break;
                case 6: rc = parser.parseSett(p); break;
                case 7: rc = parser.parseRun(p); break;
                case 8: rc = parser.parseDeprecate(p); break;
                }
            }
            if (rc) return rc;
        }
        ++line;
    }
    // The reader stops both at the end and on trouble: a line too long or
    // a failed read is an error of the line it stopped at, not the end.
    if (text.lastError() != cTextFileIO::teNone) return errLineRead;
    line = -1;
    return parser.finalChecks();
}
