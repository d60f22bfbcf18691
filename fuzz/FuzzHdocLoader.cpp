// qor-fuzz-link: cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: hdoc
// Loads the input as a compiled document and, when it loads, measures and
// draws every language's tree on a canvas that only measures.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cihlpdoc/sidocloader.h"
#include "uitoolkit/canvas.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    __setNewPlatformCPFont(makeFont);
    cSiDocLoader loader;
    if (!loader.load(data, static_cast<long long>(size))) return 0;
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
