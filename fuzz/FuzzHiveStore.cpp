// The configuration store over hive files made of the input: the input is
// cut before every "QORC", each piece a hive file of its own (h0, h1, ...;
// bytes before the first "QORC" make the file "x"), and the store opens the
// folder.  A file that does not parse is set aside and nothing else; every
// node the store lists reads back through the typed getters consistently
// (the integer reads are the value's little-endian bytes, cut to 16, 32 or
// 64 bits; the text is the value's bytes up to a zero).  A value written
// into a loaded hive is saved and found by a second store.
// qor-fuzz-link: uitoolkit base
// qor-fuzz-data: hive/store
// qor-fuzz-ci-runs: 25000
// qor-fuzz-ci-args: -use_cmp=0
#include "fuzzsupport.h"
#include "uitoolkit/ciappconfig.h"

#include <cstring>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = fuzzSandbox();
    fuzzEmptyFolder(dir);
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
        FUZZ_CHECK(config.hiveSetAside(f.first.c_str()) == !parses);
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
    return 0;
}
