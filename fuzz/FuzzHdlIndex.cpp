// qor-fuzz-link: cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: hdl/index
// qor-fuzz-ci-runs: 91000
// The document compiler's driver: the input up to its first zero byte is an
// index file, the rest a source "in.hdl"; both are written into a folder
// that also holds the sources of fuzzdocs.h (UTF-8, UTF-16, a picture), and
// the index is compiled from there, by its full path and by a path relative
// to the folder.  The index parser gives only language ids 0 to 10; a
// compile that fails says why, and one that succeeds with a language makes
// a document the loader takes.  Inputs that name anything outside the folder (a path
// beginning with '/', or "..") are not compiled: they would only make the
// run read the disk.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "base/memio.h"
#include "cihlpdoc/hdlparser.h"
#include "cihlpdoc/sidocloader.h"
#include "fuzzdocs.h"
#include "fuzzsupport.h"
#include "uitoolkit/canvas.h"

namespace {

class cAnyFont : public cFontObject {
public:
    bool define(int, int, const char*, bool, bool, bool) override { return true; }
    bool apply(cCanvas*) override { return true; }
};
cFontObject* makeFont() { return new cAnyFont; }

const std::string& folder() {
    static const std::string dir = [] {
        const std::string d = fuzzSandbox();
        fuzzWriteDocumentSources(d);
        if (chdir(d.c_str()) != 0) FUZZ_FAIL("cannot enter the sandbox");
        return d;
    }();
    return dir;
}

// Whether text may name something outside the folder.
bool leaves(const std::string& text) {
    std::string squeezed;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0') squeezed.push_back(c);
    return squeezed.find("..") != std::string::npos || squeezed.find("\"/") != std::string::npos ||
           squeezed.find("'/") != std::string::npos || squeezed.find("=/") != std::string::npos ||
           squeezed.compare(0, 1, "/") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    __setNewPlatformCPFont(makeFont);
    const std::string& dir = folder();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t zero = input.find('\0');
    const std::string index = input.substr(0, zero);
    const std::string source = zero == std::string::npos ? std::string() : input.substr(zero + 1);

    cHDLParser parser;
    parser.langSearchInit();
    {
        // The index parser on the bytes as they are.
        std::map<int, std::string> paths;
        cHDLParser::sErrInfo err;
        if (!parser.parseIndexFile(index.c_str(), paths, err)) FUZZ_CHECK(err.message.get() != nullptr);
        for (const auto& p : paths) FUZZ_CHECK(p.first >= 0 && p.first <= 10);
    }
    // The index as the compiler reads it from its file (UTF-8, or UTF-16
    // after its mark).
    cBufWrapperIO indexIo(const_cast<char*>(index.data()), static_cast<long long>(index.size()), false);
    _guardchar<char> indexText;
    const bool readable = cHDLParser::getFileContents(&indexIo, indexText);
    std::map<int, std::string> paths;
    cHDLParser::sErrInfo err;
    const bool listed = readable && parser.parseIndexFile(indexText.c_str() ? indexText.c_str() : "", paths, err);
    if (readable && !listed) FUZZ_CHECK(err.message.get() != nullptr);
    for (const auto& p : paths) {
        FUZZ_CHECK(p.first >= 0 && p.first <= 10);
        if (leaves(p.second)) return 0;
    }
    // What the compiler will read of the source.
    cBufWrapperIO sourceIo(const_cast<char*>(source.data()), static_cast<long long>(source.size()), false);
    _guardchar<char> sourceText;
    if (cHDLParser::getFileContents(&sourceIo, sourceText) && leaves(sourceText.c_str() ? sourceText.c_str() : ""))
        return 0;
    if (leaves(source)) return 0;

    if (!fuzzWriteFile(dir + "/index.idx", index.data(), index.size()) ||
        !fuzzWriteFile(dir + "/in.hdl", source.data(), source.size()))
        FUZZ_FAIL("cannot write the input");
    for (const std::string& path : {std::string("index.idx"), dir + "/index.idx"}) {
        cMemIOTarget out;
        cHDLParser compiler;
        cHDLParser::sErrInfo e;
        if (!compiler.parse(path.c_str(), &out, e)) {
            FUZZ_CHECK(e.message.get() != nullptr);
            continue;
        }
        FUZZ_CHECK(listed);
        const long long n = out.size();
        std::string doc(static_cast<size_t>(n), '\0');
        out.set_fp(0);
        FUZZ_CHECK(n > 0 && out.readf(&doc[0], static_cast<unsigned int>(n)));
        // A document without a language block (every source empty) is no
        // document to the loader.
        if (static_cast<unsigned char>(doc[8]) == 0xFF) continue;
        cSiDocLoader loader;
        FUZZ_CHECK(loader.load(reinterpret_cast<const unsigned char*>(doc.data()), n));
    }
    return 0;
}
