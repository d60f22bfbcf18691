// qor-fuzz-link: ciplatform uitoolkit macshim pakvane picts compression base
// qor-fuzz-ci-runs: 49000
// Arbitrary UTF-16 (lone surrogates, marks, right-to-left and CJK text, control
// units) laid out, measured, ruled and drawn in one of the toolkit's faces:
// every unit gets a ruler entry, entries never go back, the last one is the
// line's width, and drawing stays inside the bitmap.
#include "ciplatform/crbcanvas.h"
#include "ciplatform/ctfont.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#ifndef FUZZ_FAIL
#define FUZZ_FAIL(message) __builtin_trap()
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kFaces[] = {"Tahoma", "Verdana", "Courier New", "Meiryo", "PMingLiU", "Microsoft YaHei"};
    static cCrbOffscreenCanvas* canvas = [] {
        installPlatformFonts();
        auto* c = new cCrbOffscreenCanvas;
        c->create(64, 32);
        return c;
    }();
    if (size < 1 || size > 4096) return 0;
    const uint8_t pick = data[0];
    std::vector<unsigned short> text;
    for (size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<unsigned short>(data[i] | (data[i + 1] << 8)));
    const char* face = kFaces[(pick >> 4) % 6];
    cFontObject* font = cFontObject::get(5, 9 + pick % 12, face, pick & 8, false, pick & 4);
    // A family without a bold face ("PMingLiU") has no "... Bold" font.
    if (!font) font = cFontObject::get(5, 9 + pick % 12, face, false, false, pick & 4);
    if (!font) FUZZ_FAIL("no font");
    auto* mac = static_cast<cMacCTFont*>(font);
    const long long n = static_cast<long long>(text.size());
    text.push_back(0);  // an empty text is still a text
    std::vector<int> ruler(static_cast<std::size_t>(n) + 1, -1);
    if (!mac->textRuler(text.data(), n, ruler.data())) FUZZ_FAIL("no ruler");
    for (long long i = 0; i < n; ++i)
        if (ruler[i] < 0 || (i > 0 && ruler[i] < ruler[i - 1])) FUZZ_FAIL("ruler goes back");
    if (ruler[n] != -1) FUZZ_FAIL("ruler overrun");
    sSize dim;
    if (!mac->getTextDim(nullptr, text.data(), n, dim)) FUZZ_FAIL("no size");
    if (n > 0 && (dim.w < ruler[n - 1] + 1 || dim.w > ruler[n - 1] + 2)) FUZZ_FAIL("size and ruler disagree");
    canvas->setTextMode(font);
    canvas->drawText(static_cast<int>(pick % 40) - 20, static_cast<int>(pick % 24) - 8, pick & 2, text.data(), n);
    return 0;
}
