// The scenario model: string lookup through the language tables, path
// definitions, and the lists the install job asks for.
#include "pakvane/scenario.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/jobs.h"

const char* cSoftPkgScenario::getStr(const char* id) const {
    if (!id) return nullptr;
    auto lt = langTables_.find(currLang_);
    if (lt != langTables_.end()) {
        auto e = lt->second.find(id);
        if (e != lt->second.end()) return e->second.c_str();
    }
    auto d = defTable_.find(id);
    return d == defTable_.end() ? nullptr : d->second.c_str();
}

bool cSoftPkgScenario::setStr(int lang, const char* id, const char* text) {
    if (!id) return false;
    tStrTable* t = &defTable_;
    if (lang >= 0) {
        auto it = langTables_.find(lang);
        if (it == langTables_.end()) return false;
        t = &it->second;
    }
    (*t)[id] = text ? text : "";
    return true;
}

bool cSoftPkgScenario::setCurrLangID(int lang) {
    if (langTables_.find(lang) == langTables_.end()) return false;
    currLang_ = lang;
    return true;
}

void cSoftPkgScenario::getSupportedLangs(std::vector<int>& out) const {
    out.clear();
    for (const auto& t : langTables_) out.push_back(t.first);
}

bool cSoftPkgScenario::isKnownConstantID(const char* id) { return id && std::strcmp(id, "pgm") == 0; }

bool cSoftPkgScenario::isValidDef(const char* id, int& lang) const {
    if (!id) return false;
    if (defTable_.count(id) || isKnownConstantID(id)) return true;
    for (const auto& t : langTables_)
        if (!t.second.count(id)) {
            lang = t.first;
            return false;
        }
    return true;
}

void cSoftPkgScenario::clearStr(const char* id) {
    if (!id) return;
    for (auto& t : langTables_) t.second.erase(id);
    defTable_.erase(id);
}

bool cSoftPkgScenario::isSafeSubPath(const std::string& sub) {
    if (!sub.empty() && sub[0] == '/') return false;
    for (std::size_t start = 0; start <= sub.size();) {
        std::size_t end = sub.find('/', start);
        if (end == std::string::npos) end = sub.size();
        if (end - start == 2 && sub.compare(start, 2, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

bool cSoftPkgScenario::isSafeCodename(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    auto alnum = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
    if (!alnum(name[0])) return false;
    for (char c : name)
        if (!alnum(c) && c != '.' && c != '_' && c != '-' && c != '+') return false;
    return true;
}

bool cSoftPkgScenario::defToPath(const sPathDef& def, std::string& out) const {
    // A sub path climbing out of its base would put files outside the
    // folder the user chose.
    if (!isSafeSubPath(def.sub)) return false;
    const std::string sub = normalSubPath(def.sub);
    if (def.id.empty()) {
        out = sub;
        return true;
    }
    const char* text = getStr(def.id.c_str());
    if (!text) return false;
    std::string base = text;
    if (base.empty())
        out = sub;
    else if (sub.empty())
        out = base;
    else
        out = base + (base.back() == '/' ? "" : "/") + sub;
    return true;
}

void cSoftPkgScenario::getVer(int (&out)[4]) const {
    for (int i = 0; i < 4; ++i) out[i] = ver_[i];
}

std::uint64_t cSoftPkgScenario::getVerID() const {
    std::uint64_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 16) | (static_cast<std::uint32_t>(ver_[i]) & 0xFFFFu);
    return v;
}

bool cSoftPkgScenario::getStrVer(std::string& out, bool full) const {
    char buf[64];
    if (full && ver_[3] != 0)
        std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", ver_[0], ver_[1], ver_[2], ver_[3]);
    else if (ver_[2] != 0)
        std::snprintf(buf, sizeof buf, "%d.%d.%d", ver_[0], ver_[1], ver_[2]);
    else
        std::snprintf(buf, sizeof buf, "%d.%d", ver_[0], ver_[1]);
    out = buf;
    return true;
}

namespace {

// A destination as names alone, resolved lexically (a base text may hold
// "." and ".." too): what the installer is handed names the file it writes
// without leaving the resolving to the system.  Above the root is the root;
// a relative path that climbs above where it starts cannot be told so.
bool lexicalPath(std::string& path) {
    const bool absolute = !path.empty() && path[0] == '/';
    std::string names = cSoftPkgScenario::normalSubPath(path);
    while (names.compare(0, 2, "..") == 0 && (names.size() == 2 || names[2] == '/')) {
        if (!absolute) return false;
        names.erase(0, names.size() == 2 ? 2 : 3);
    }
    path = absolute ? "/" + names : names;
    return true;
}

}  // namespace

bool cSoftPkgScenario::appliesToThisSystem(const sIntFileDef& f) const {
    return cJob::is64bitOS() ? f.for64 : f.for32;
}

bool cSoftPkgScenario::getCopiedFiles(std::vector<sCopiedFile>& out) {
    out.clear();
    for (const auto& f : files_) {
        if (!appliesToThisSystem(f)) continue;
        if (!f.langs.empty()) {
            bool found = false;
            for (int l : f.langs) found = found || l == currLang_;
            if (!found) continue;
        }
        out.emplace_back();
        sCopiedFile& c = out.back();
        if (!defToPath(f.dest, c.dest) || !lexicalPath(c.dest)) return false;
        c.item = f.item;
        std::memcpy(c.perm, f.perm, 3);
        pkg_.digest(static_cast<int>(f.item), c.digest);
    }
    return true;
}

bool cSoftPkgScenario::getMenuItems(std::vector<sMenuItemDef>& out) const {
    out.clear();
    for (const auto& m : menus_) {
        out.emplace_back();
        sMenuItemDef& d = out.back();
        const char* t = getStr(m.title.c_str());
        if (!t) return false;
        d.title = t;
        if (!defToPath(m.icon, d.icon) || !defToPath(m.target, d.target)) return false;
        const char* a = m.args.empty() ? nullptr : getStr(m.args.c_str());
        const char* c = m.comment.empty() ? nullptr : getStr(m.comment.c_str());
        d.args = a ? a : "";
        d.comment = c ? c : "";
        d.elevated = (m.flags & 1) != 0;
    }
    return true;
}

bool cSoftPkgScenario::getOnCompletionRun(std::vector<sOnCompletionRun>& out) const {
    out.clear();
    for (const auto& r : runs_) {
        out.emplace_back();
        sOnCompletionRun& d = out.back();
        d.checked = r.checked;
        const char* l = getStr(r.label.c_str());
        if (!l) return false;
        d.label = l;
        if (!defToPath(r.program, d.program)) return false;
        const char* a = r.args.empty() ? nullptr : getStr(r.args.c_str());
        d.args = a ? a : "";
    }
    return true;
}

bool cSoftPkgScenario::getDepractesList(std::vector<sDeprecateItem>& out) const {
    out = deprecates_;
    return true;
}

bool cSoftPkgScenario::getParams(std::vector<sDefineParam>& out) const {
    out = settings_;
    return true;
}

unsigned long long cSoftPkgScenario::requiresSize(unsigned int cluster) const {
    unsigned long long total = 0;
    for (const auto& f : files_) {
        if (!appliesToThisSystem(f)) continue;
        unsigned long long n = pkg_.sizeOf(static_cast<int>(f.item));
        if (cluster) n = (n + cluster - 1) / cluster * cluster;
        total += n;
    }
    return total;
}

void cSoftPkgScenario::close() {
    // The lists give their room back too: a scenario of many files is
    // closed to make way for the next.
    menus_.clear();
    std::vector<sIntFileDef>().swap(files_);
    runs_.clear();
    deprecates_.clear();
    defTable_.clear();
    langTables_.clear();
    settings_.clear();
    supportURL_.clear();
    publisherURL_.clear();
    updatesURL_.clear();
    manualURL_.clear();
    icon_ = sPathDef();
    for (sDocument* d : {&welcome_, &readme_, &eula_}) {
        d->loader.destroy();
        d->bytes.clear();
    }
    docBudget_ = std::make_shared<cSiDocBudget>();
    docFault_.clear();
    readmeAccept_ = false;
    pkg_.newPackage();
    literals_.clear();
    for (int& v : ver_) v = 0;
    nextLiteral_ = 0;
    section_ = 0;
    std::vector<sLeftOut>().swap(leftOut_);
    std::vector<sInput>().swap(inputs_);
    std::vector<std::uint32_t>().swap(filesBefore_);
    std::vector<std::uint32_t>().swap(inputFiles_);
    std::vector<sInput>().swap(inputsShown_);
    inputsMade_ = false;
    warnings_.clear();
}

// f(kind, path, device, inode) for every input in the order read, until it
// returns true (then true).
template <typename F>
bool cSoftPkgScenario::eachInput(F&& f) const {
    std::size_t file = 0;
    auto filesUpTo = [&](std::size_t end) {
        for (; file < end && file < inputFiles_.size(); ++file) {
            const cSoftPkg::sPkgItem* it = pkg_.itemInfo(static_cast<int>(inputFiles_[file]));
            if (it && f(inFile, it->source, it->sourceStamp.device, it->sourceStamp.inode)) return true;
        }
        return false;
    };
    for (std::size_t i = 0; i < inputs_.size(); ++i) {
        if (filesUpTo(filesBefore_[i])) return true;
        const sInput& in = inputs_[i];
        if (f(in.kind, in.path, in.device, in.inode)) return true;
    }
    return filesUpTo(inputFiles_.size());
}

const std::vector<cSoftPkgScenario::sInput>& cSoftPkgScenario::inputs() const {
    if (!inputsMade_) {
        inputsShown_.clear();
        eachInput([&](eInputKind kind, const std::string& path, std::uint64_t device, std::uint64_t inode) {
            inputsShown_.push_back({path, kind, device, inode});
            return false;
        });
        inputsMade_ = true;
    }
    return inputsShown_;
}

bool cSoftPkgScenario::findInput(std::uint64_t device, std::uint64_t inode, sInput& found, bool foldersOnly) const {
    return eachInput([&](eInputKind kind, const std::string& path, std::uint64_t dev, std::uint64_t ino) {
        if (dev != device || ino != inode || (foldersOnly && kind != inFolder)) return false;
        found = {path, kind, dev, ino};
        return true;
    });
}

std::string cSoftPkgScenario::normalSubPath(const std::string& sub) {
    // Most are normal already (every name neither empty, "." nor ".."):
    // a scenario names hundreds of thousands of files, each looked at so.
    bool normal = !sub.empty();
    for (std::size_t start = 0; normal && start <= sub.size();) {
        std::size_t end = sub.find('/', start);
        if (end == std::string::npos) end = sub.size();
        const std::size_t n = end - start;
        normal = n > 2 || (n == 1 && sub[start] != '.') || (n == 2 && (sub[start] != '.' || sub[start + 1] != '.'));
        start = end + 1;
    }
    if (normal) return sub;
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= sub.size()) {
        std::size_t end = sub.find('/', start);
        if (end == std::string::npos) end = sub.size();
        std::string name = sub.substr(start, end - start);
        if (name == ".." && !names.empty() && names.back() != "..")
            names.pop_back();
        else if (!name.empty() && name != ".")
            names.push_back(std::move(name));
        start = end + 1;
    }
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : "/") + name;
    return out;
}

std::vector<cSoftPkgScenario::sMissingTarget> cSoftPkgScenario::missingTargets() const {
    using M = sMissingTarget;
    struct sRef {
        M::eWhat what;
        int entry;
        const sPathDef* def;
    };
    std::vector<sRef> refs;
    if (icon_.id == "pgm") refs.push_back({M::icon, -1, &icon_});
    for (std::size_t i = 0; i < menus_.size(); ++i) {
        if (menus_[i].target.id == "pgm") refs.push_back({M::menuTarget, static_cast<int>(i), &menus_[i].target});
        if (menus_[i].icon.id == "pgm") refs.push_back({M::menuIcon, static_cast<int>(i), &menus_[i].icon});
    }
    for (std::size_t i = 0; i < runs_.size(); ++i)
        if (runs_[i].program.id == "pgm") refs.push_back({M::runProgram, static_cast<int>(i), &runs_[i].program});
    std::vector<M> out;
    if (refs.empty()) return out;
    // Each language installs its own set of files; with none declared, one
    // set holds them all.
    std::vector<int> langs;
    getSupportedLangs(langs);
    if (langs.empty()) langs.push_back(-1);
    std::vector<std::vector<std::string> > installed(langs.size());
    for (std::size_t l = 0; l < langs.size(); ++l) {
        for (const auto& f : files_) {
            if (f.dest.id != "pgm") continue;
            bool applies = f.langs.empty() || langs[l] < 0;
            for (int fl : f.langs) applies = applies || fl == langs[l];
            if (applies) installed[l].push_back(normalSubPath(f.dest.sub));
        }
        std::sort(installed[l].begin(), installed[l].end());
    }
    for (const sRef& r : refs) {
        const std::string want = normalSubPath(r.def->sub);
        M m;
        m.what = r.what;
        m.entry = r.entry;
        m.subPath = r.def->sub;
        for (std::size_t l = 0; l < langs.size(); ++l) {
            // The file itself, or a folder (an application bundle) that
            // files are installed into: the first name at or after
            // "<path>/" tells.
            const auto& set = installed[l];
            const std::string below = want.empty() ? want : want + "/";
            const auto at = std::lower_bound(set.begin(), set.end(), below);
            const bool found = std::binary_search(set.begin(), set.end(), want) ||
                               (at != set.end() && at->compare(0, below.size(), below) == 0);
            if (!found) m.langs.push_back(langs[l]);
        }
        if (m.langs.empty()) continue;
        if (m.langs.size() == langs.size()) m.langs.clear();
        out.push_back(std::move(m));
    }
    return out;
}
