// The configuration store over hive files made of the input: the input is
// cut before every "QORC", each piece a hive file of its own (h0, h1, ...;
// bytes before the first "QORC" make the file "x"), and the store opens the
// folder (the store's, by its lock file).  A file that does not parse is
// kept byte for byte and its hive tells why, and nothing else; every
// node the store lists reads back through the typed getters consistently
// (the integer reads are the value's little-endian bytes, cut to 16, 32 or
// 64 bits; the text is the value's bytes up to a zero).  A value written
// into a loaded hive is saved and found by a second store.
//
// Then the input's last 16 bytes (which make the last hive fail, as bytes
// after its root) drive the second store: names that would lead out of the folder or
// that no path reaches are refused as sections and as children, and nothing
// appears beside the store's folder; enumerations whose callbacks remove the
// node listed or the child just listed, discard the changes, open the store
// again, add a later sibling, set a value through a handle found without
// creating or stop, list names in ascending order, each a node that is
// there; another program saves a change of its own; and the save after all
// that succeeds (merging) and leaves every hive's file holding exactly the
// tree in memory.
// qor-fuzz-link: uitoolkit base
// qor-fuzz-data: hive/store
// qor-fuzz-ci-runs: 25000
// qor-fuzz-ci-args: -use_cmp=0
#include "fuzzsupport.h"
#include "uitoolkit/ciappconfig.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct sWalk {
    cCIAppConfig* config;
    std::string path;
    std::vector<std::string>* found;
};

bool collect(const char* name, void* arg) {
    sWalk* w = static_cast<sWalk*>(arg);
    // Names the path syntax cannot address are left alone.
    if (!*name || std::strchr(name, '/') || w->found->size() >= 256) return w->found->size() < 256;
    w->found->push_back(w->path + "/" + name);
    return true;
}

void checkNode(cCIAppConfig& config, const std::string& path) {
    _typebuf<unsigned char> bytes;
    if (!config.getParam(path.c_str(), bytes)) return;
    const long long n = bytes.count();
    unsigned long long expected = 0;
    for (long long i = n; i-- > 0;) expected = expected << 8 | bytes[i];
    unsigned long long got = 0;
    const bool integer = config.getParamInt(path.c_str(), got);
    FUZZ_CHECK(integer == (n >= 1 && n <= 8));
    if (!integer) expected = 0;
    FUZZ_CHECK(!integer || got == expected);
    FUZZ_CHECK(config.getParamInt16(path.c_str()) == static_cast<short>(static_cast<unsigned short>(expected)));
    FUZZ_CHECK(config.getParamInt32(path.c_str()) == static_cast<int>(static_cast<unsigned int>(expected)));
    FUZZ_CHECK(config.getParamInt64(path.c_str()) == static_cast<long long>(expected));
    _guardchar<char> text;
    FUZZ_CHECK(config.getParamStr(path.c_str(), text));
    const std::string raw(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(n));
    FUZZ_CHECK(std::strcmp(text.c_str() ? text.c_str() : "", raw.c_str()) == 0);
}

std::vector<std::string> folderNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct sChange {
    cCIAppConfig* config;
    std::string path;
    std::string store;
    cFuzzInput* ops;
    std::string last;
    int calls;
};

// An enumeration's callback that changes the store as the input says.
bool change(const char* name, void* arg) {
    sChange* e = static_cast<sChange*>(arg);
    const std::string n(name);
    FUZZ_CHECK(e->calls == 0 || e->last < n);
    e->last = n;
    ++e->calls;
    if (n.find('/') == std::string::npos) FUZZ_CHECK(e->config->hasSection((e->path + "/" + n).c_str()));
    switch (e->ops->byte() % 8) {
    case 1:
        e->config->removeSection(e->path.c_str());
        break;
    case 2:
        e->config->removeSection((e->path + "/" + n).c_str());
        break;
    case 3:
        e->config->discardChanges();
        break;
    case 4:
        FUZZ_CHECK(e->config->openConfig(e->store.c_str()));
        break;
    case 5:
        e->config->setParamStr((e->path + "/" + n + "~").c_str(), "added", -1);
        break;
    case 6:
        return false;
    case 7:
        // Through a handle found without creating, which must mark the
        // hive for saving all the same.
        if (void* h = e->config->getPathContextHandle((e->path + "/" + n).c_str(), false))
            FUZZ_CHECK(e->config->setParamValue(static_cast<const void*>("set"), 3, h));
        break;
    default:
        break;
    }
    return e->calls < 64;
}

// The bytes a whole walk writes for a tree; empty when it cannot be written.
std::string wholeHive(const cCIAppConfig::sDataContainer& node) {
    _typebuf<unsigned char> out;
    if (!cCIAppConfig::serializeHive(node, out)) return std::string();
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.count()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The store's folder lies inside the sandbox, so that a file made
    // beside it shows.
    const std::string& sandbox = fuzzSandbox();
    fuzzEmptyFolder(sandbox);
    const std::string dir = sandbox + "/store";
    if (mkdir(dir.c_str(), 0700) != 0) FUZZ_FAIL("cannot make the store folder");
    if (!fuzzWriteFile(dir + "/.hives.lock", "", 0)) FUZZ_FAIL("cannot make the lock file");
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::pair<std::string, std::string> > files;
    size_t at = input.find("QORC");
    if (at != 0 && size) files.emplace_back("x", input.substr(0, at));
    for (int k = 0; at != std::string::npos && k < 8; ++k) {
        const size_t end = input.find("QORC", at + 4);
        files.emplace_back("h" + std::to_string(k), input.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    for (const auto& f : files)
        if (!fuzzWriteFile(dir + "/" + f.first, f.second.data(), f.second.size())) FUZZ_FAIL("cannot write a hive");

    cCIAppConfig config;
    FUZZ_CHECK(config.openConfig(dir.c_str()));
    std::vector<std::string> loaded;
    for (const auto& f : files) {
        cCIAppConfig::sDataContainer node;
        const bool parses =
            cCIAppConfig::parseHive(reinterpret_cast<const unsigned char*>(f.second.data()), f.second.size(), node);
        FUZZ_CHECK(config.hiveLoaded(f.first.c_str()));
        FUZZ_CHECK((config.hiveFault(f.first.c_str()) != cCIAppConfig::hfNone) == !parses);
        if (parses) loaded.push_back(f.first);
    }

    // Breadth first through every loaded hive, a few hundred nodes at most.
    std::vector<std::string> paths = loaded;
    for (size_t i = 0; i < paths.size() && i < 256; ++i) {
        checkNode(config, paths[i]);
        FUZZ_CHECK(config.hasSection(paths[i].c_str()));
        sWalk w{&config, paths[i], &paths};
        config.enumSubsections(paths[i].c_str(), collect, &w);
    }

    if (loaded.empty()) return 0;
    const std::string where = loaded.front() + "/fuzz/written";
    const std::string value = std::to_string(size);
    FUZZ_CHECK(config.setParamStr(where.c_str(), value.c_str(), -1));
    FUZZ_CHECK(config.saveConfig());
    cCIAppConfig again;
    FUZZ_CHECK(again.openConfig(dir.c_str()));
    _guardchar<char> back;
    FUZZ_CHECK(again.getParamStr(where.c_str(), back) && value == back.c_str());

    // The save copied what it could from the bytes it loaded; the file must
    // still be byte for byte what a whole walk of the tree writes: the
    // loaded tree with the one value added.
    _typebuf<unsigned char> stored;
    FUZZ_CHECK(again.getParam(where.c_str(), stored));
    for (const auto& f : files) {
        if (f.first != loaded.front()) continue;
        cCIAppConfig::sDataContainer expected;
        FUZZ_CHECK(cCIAppConfig::parseHive(reinterpret_cast<const unsigned char*>(f.second.data()), f.second.size(), expected));
        cCIAppConfig::sDataContainer* written = expected.children.insert(cStringKey("fuzz", 4))->children.insert(cStringKey("written", 7));
        written->value.copyFrom(stored.data(), stored.count());
        _typebuf<unsigned char> whole;
        FUZZ_CHECK(cCIAppConfig::serializeHive(expected, whole));
        const std::string onDisk = fuzzReadFile(dir + "/" + f.first);
        FUZZ_CHECK(onDisk.size() == static_cast<size_t>(whole.count()) && std::memcmp(onDisk.data(), whole.data(), onDisk.size()) == 0);
    }

    const size_t opBytes = std::min<size_t>(size, 16);
    cFuzzInput ops(data + size - opBytes, opBytes);
    std::set<std::string> hives;
    for (const auto& f : files) hives.insert(f.first);

    // Names as sections and as children of a fresh node: made exactly when
    // a path can reach them and, for a section, when the folder holds it.
    void* root = again.rootContextHandle();
    void* fresh = again.getPathContextHandle((loaded.front() + "/fuzz/names").c_str(), true);
    FUZZ_CHECK(fresh);
    std::vector<std::string> names = {"..", ".", "", "../escaped", "a/b", "/", "x/..", ".hives.lock", "h0.bad", std::string(256, 'n')};
    std::string made;
    for (int i = 0, n = 1 + ops.byte() % 4; i < n; ++i) made += ".a/"[ops.byte() % 3];
    names.push_back(made);
    for (const std::string& name : names) {
        const bool reachable = !name.empty() && name.size() <= 255 && name.find('/') == std::string::npos &&
                               name != "." && name != "..";
        const bool section = reachable && !cCIAppConfig::isStoreFileName(name.c_str());
        FUZZ_CHECK((again.subContextHandle(name.c_str(), fresh, true) != nullptr) == reachable);
        FUZZ_CHECK((again.subContextHandle(name.c_str(), root, true) != nullptr) == section);
        if (section) hives.insert(name);
    }
    FUZZ_CHECK(folderNames(sandbox) == std::vector<std::string>{"store"});
    std::vector<std::string> kept;
    for (const auto& f : files)
        if (again.hiveFault(f.first.c_str()) != cCIAppConfig::hfNone) kept.push_back(f.first);

    for (int round = 0; round < 3 && ops.left() > 0; ++round) {
        sChange e{&again, paths[ops.byte() % paths.size()], dir, &ops, std::string(), 0};
        again.enumSubsections(e.path.c_str(), change, &e);
    }

    // Another program saves a change of its own meanwhile (a value made or
    // a node removed where the input says): the save below merges it with
    // the changes above.
    if (ops.left() > 0) {
        cCIAppConfig other;
        FUZZ_CHECK(other.openConfig(dir.c_str()));
        const std::string& p = paths[ops.byte() % paths.size()];
        if (ops.byte() & 1)
            other.removeSection(p.c_str());
        else
            other.setParamStr((p + "/other").c_str(), "saved by another", -1);
        other.saveConfig();
    }

    // Whatever happened, the save writes every change: each hive's file
    // holds the tree in memory, and a hive without a file holds nothing.
    FUZZ_CHECK(again.saveConfig());
    for (const std::string& name : hives) {
        if (!again.hiveLoaded(name.c_str())) continue;
        if (std::find(kept.begin(), kept.end(), name) != kept.end()) {
            // A file the store could not read is as it was.
            for (const auto& f : files)
                if (f.first == name) FUZZ_CHECK(fuzzReadFile(dir + "/" + name) == f.second);
            continue;
        }
        void* h = again.subContextHandle(name.c_str(), root, false);
        FUZZ_CHECK(h);
        const std::string inMemory = wholeHive(*static_cast<cCIAppConfig::sDataContainer*>(h));
        FUZZ_CHECK(!inMemory.empty());
        struct stat st;
        if (stat((dir + "/" + name).c_str(), &st) != 0) {
            FUZZ_CHECK(inMemory == std::string("QORC\0\0\0", 7));
            continue;
        }
        const std::string onDisk = fuzzReadFile(dir + "/" + name);
        cCIAppConfig::sDataContainer node;
        FUZZ_CHECK(cCIAppConfig::parseHive(reinterpret_cast<const unsigned char*>(onDisk.data()), onDisk.size(), node));
        FUZZ_CHECK(wholeHive(node) == inMemory);
    }
    return 0;
}
