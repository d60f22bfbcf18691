// qor-fuzz-link: cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: hdl
// qor-fuzz-ci-runs: 270000
// Reads the input as a source file would be read (UTF-8, or UTF-16 in
// either order after its mark) and compiles it as one HDL source.  A source that compiles must make a
// document the loader takes back: the compiler's bounds are the loader's.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/memio.h"
#include "cihlpdoc/hdlparser.h"
#include "cihlpdoc/sidocloader.h"
#include "fuzzsupport.h"
#include "uitoolkit/canvas.h"

namespace {

// Any font the compiler asks for can be made, except faces named "missing".
class cAnyFont : public cFontObject {
public:
    bool define(int, int, const char*, bool, bool, bool) override { return true; }
    bool apply(cCanvas*) override { return true; }
};
cFontObject* makeFont() { return new cAnyFont; }

void putTable(std::string& doc, const std::string& table, bool compress) {
    std::string body = table;
    if (compress && !table.empty()) {
        uLongf n = compressBound(static_cast<uLong>(table.size()));
        body.resize(n);
        compress2(reinterpret_cast<Bytef*>(&body[0]), &n, reinterpret_cast<const Bytef*>(table.data()),
                  static_cast<uLong>(table.size()), 5);
        body.resize(n);
    }
    const std::uint32_t n = static_cast<std::uint32_t>(body.size());
    for (int i = 0; i < 4; ++i) doc.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
    doc += body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    __setNewPlatformCPFont(makeFont);
    cBufWrapperIO io(const_cast<uint8_t*>(data), static_cast<long long>(size), false);
    _guardchar<char> decoded;
    std::string text;
    if (cHDLParser::getFileContents(&io, decoded))
        text = decoded.get() ? decoded.get() : "";
    else
        text.assign(reinterpret_cast<const char*>(data), size);
    sHDLConfig config;
    config.lang = 0;
    if (!processHDL(config, text.c_str())) {
        FUZZ_CHECK(config.errMessage.get() != nullptr);
        return 0;
    }
    std::string doc("QORHDOCF");
    doc.push_back('\0');
    putTable(doc, config.langs[0].stream, true);
    doc.push_back('\xFF');
    putTable(doc, config.fonts, true);
    putTable(doc, config.strings, true);
    putTable(doc, config.images, false);
    cSiDocLoader loader;
    FUZZ_CHECK(loader.load(reinterpret_cast<const unsigned char*>(doc.data()), static_cast<long long>(doc.size())));
    return 0;
}
