// Language files in a folder: the input is cut before every "CIOMLAFI",
// each piece a ".laci" file of its own (bytes before the first magic make
// "x.laci", and the first piece is also written as "y.txt", which must be
// passed over).  The folder search finds exactly the files whose header
// carries the magic, the tag asked for (the first piece's tag) and a whole
// name, with that code and name; a file that loads has the same code and
// name, and the file reader agrees with the in-memory reader.
// qor-fuzz-link: uitoolkit compression base
// qor-fuzz-data: langblob/files
// qor-fuzz-ci-runs: 38000
#include "fuzzsupport.h"
#include "uitoolkit/lang.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = fuzzSandbox();
    fuzzEmptyFolder(dir);
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string> files;  // path -> bytes
    size_t at = input.find("CIOMLAFI");
    if (at != 0 && size) files[dir + "/x.laci"] = input.substr(0, at);
    for (int k = 0; at != std::string::npos && k < 8; ++k) {
        const size_t end = input.find("CIOMLAFI", at + 8);
        files[dir + "/" + std::to_string(k) + ".laci"] = input.substr(at, end == std::string::npos ? end : end - at);
        at = end;
    }
    for (const auto& f : files)
        if (!fuzzWriteFile(f.first, f.second.data(), f.second.size())) FUZZ_FAIL("cannot write a file");
    if (!files.empty()) fuzzWriteFile(dir + "/y.txt", files.begin()->second.data(), files.begin()->second.size());

    std::string tag = "CIOMBASE";
    const auto first = files.find(dir + "/0.laci");
    if (first != files.end() && first->second.size() >= 16) tag = first->second.substr(8, 8);
    tag = tag.substr(0, std::strlen(tag.c_str()));
    std::string tagField = tag;
    tagField.resize(8, ' ');

    // What the search must find: magic, tag field and a whole name.
    std::map<std::string, std::pair<std::string, std::string> > expected;  // path -> code, name
    for (const auto& f : files) {
        const std::string& b = f.second;
        if (b.size() < 20 || b.compare(0, 8, "CIOMLAFI") != 0 || b.compare(8, 8, tagField) != 0) continue;
        const size_t n = static_cast<unsigned char>(b[19]);
        if (b.size() < 20 + n) continue;
        const std::string code = b.substr(16, 3), name = b.substr(20, n);
        expected[f.first] = {code.c_str(), name.c_str()};
    }

    cFasterTreeList<int, sCiomLangDescrInfo> found;
    FUZZ_CHECK(findCiomLangFiles(dir.c_str(), tag.c_str(), found));
    FUZZ_CHECK(found.count() == expected.size());
    for (auto* it = found.first(); it; it = found.next(it)) {
        const auto e = expected.find(it->value.path.c_str());
        FUZZ_CHECK(e != expected.end());
        FUZZ_CHECK(e->second.first == std::string(it->value.code) && e->second.second == it->value.name.c_str());
    }

    for (const auto& f : files) {
        cCiomLang fromFile, fromBytes;
        const bool loaded = loadCiomLangFile(f.first.c_str(), fromFile);
        FUZZ_CHECK(loaded == loadCiomLangData(f.second.data(), static_cast<long long>(f.second.size()), fromBytes));
        if (!loaded) continue;
        FUZZ_CHECK(fromFile.sections().count() == fromBytes.sections().count());
        const auto e = expected.find(f.first);
        if (e != expected.end())
            FUZZ_CHECK(e->second.first == fromFile.code() && e->second.second == fromFile.name());
    }
    return 0;
}
