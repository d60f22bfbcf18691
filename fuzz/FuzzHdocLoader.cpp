// qor-fuzz-link: cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: hdoc
// qor-fuzz-ci-runs: 60000
// Loads a compiled document and, when it loads, measures and draws every
// language's tree on a canvas that only measures.  An input that begins
// with the document's magic is taken as a whole document; any other input
// is the document's tables and blocks before packing, cut at each "QPRT":
// the font table, the string table, the image table, then the records of
// languages 0, 1, ... (an empty piece gives no block).  They are deflated
// and framed here, so that mutations reach the record and table parsers
// instead of stopping at zlib.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cihlpdoc/sidocloader.h"
#include "uitoolkit/canvas.h"
#include "zlibref.h"

namespace {

class cMeasureFont : public cFontObject {
public:
    bool define(int, int size, const char*, bool, bool, bool) override { return size > 0; }
    bool apply(cCanvas*) override { return true; }
};
cFontObject* makeFont() { return new cMeasureFont; }

// Every byte advances 6 pixels, a line is 11 high.
class cMeasureCanvas : public cCanvas {
public:
    bool drawText(int, int, bool, const char*, long long) override { return true; }
    bool drawText(int, int, bool, const unsigned short*, long long) override { return true; }
    bool drawRect(sRect*, unsigned int, unsigned int) override { return true; }
    // The base's other overloads stay in reach (they answer false or land
    // in the ones below).
    using cCanvas::drawBitmap;
    using cCanvas::setTextMode;
    using cCanvas::textRuler;
    bool drawBitmap(int, int, cPicture*, int, int) override { return true; }
    bool setTextMode(cFontObject* f) override { return f != nullptr; }
    bool textSize(const char* s, long long n, sSize& out) override {
        if (!s) return false;
        out.w = static_cast<int>(6 * (n < 0 ? static_cast<long long>(std::strlen(s)) : n));
        out.h = 11;
        return true;
    }
    bool textSize(const unsigned short* s, long long n, sSize& out) override {
        if (!s) return false;
        long long k = n;
        if (k < 0)
            for (k = 0; s[k]; ++k) {
            }
        out.w = static_cast<int>(6 * k);
        out.h = 11;
        return true;
    }
    bool textRuler(const unsigned short* s, long long n, int* adv) override {
        if (!s || !adv) return false;
        long long k = n;
        if (k < 0)
            for (k = 0; s[k]; ++k) {
            }
        for (long long i = 0; i < k; ++i) adv[i] = static_cast<int>(6 * (i + 1));
        return true;
    }
};

// "QORHDOCF", the language blocks (u8 id, u32 length, zlib), 0xFF, and the
// font, string and image tables (u32 length, then zlib but for images).
std::string documentOf(const std::string& input) {
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        const size_t end = input.find("QPRT", at);
        parts.push_back(input.substr(at, end == std::string::npos ? end : end - at));
        if (end == std::string::npos) break;
        at = end + 4;
    }
    parts.resize(std::max<size_t>(parts.size(), 3));
    std::string doc("QORHDOCF");
    for (size_t i = 3; i < parts.size() && i - 3 < 0xFF; ++i) {
        if (parts[i].empty()) continue;
        const std::string z = zlibPack(parts[i], 1);
        doc.push_back(static_cast<char>(i - 3));
        putLE(doc, z.size(), 4);
        doc += z;
    }
    doc.push_back('\xFF');
    for (size_t i = 0; i < 3; ++i) {
        const std::string body = parts[i].empty() || i == 2 ? parts[i] : zlibPack(parts[i], 1);
        putLE(doc, body.size(), 4);
        doc += body;
    }
    return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    __setNewPlatformCPFont(makeFont);
    std::string doc(reinterpret_cast<const char*>(data), size);
    if (size < 8 || std::memcmp(data, "QORHDOCF", 8) != 0) doc = documentOf(doc);
    cSiDocLoader loader;
    if (!loader.load(reinterpret_cast<const unsigned char*>(doc.data()), static_cast<long long>(doc.size()))) return 0;
    cMeasureCanvas canvas;
    for (int lang = 0; lang < 255; ++lang) {
        cSiDocContainer* root = loader.forLang(lang);
        if (!root) continue;
        sSiDocDrawProps props;
        props.widthLimit = 300;
        sSize size2;
        root->wantsSize(&canvas, props, size2);
        root->draw(&canvas, props, size2);
    }
    return 0;
}
