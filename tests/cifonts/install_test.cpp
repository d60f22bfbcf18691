// The platform layer's fonts linked alone, as pkgmake links them: they are
// under the toolkit and the documents before main runs, and the program
// maps no window, input, sound or drawing library.
#include "cifonts/ctfont.h"
#include "cifonts/install.h"
#include "cifonts/platform.h"
#include "cihlpdoc/sidoc.h"
#include "uitoolkit/canvas.h"
#include "uitoolkit/element.h"
#include "uitoolkit/lang.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

std::string fileOf(cFontObject* f) {
    auto* mac = dynamic_cast<cMacCTFont*>(f);
    const char* path = mac && mac->ctFont() ? CTFontGetFilePath(mac->ctFont(), nullptr) : nullptr;
    const std::string p = path ? path : "none";
    return p.substr(p.rfind('/') + 1);
}

}  // namespace

TEST(FontPlatform, InstalledBeforeMainByLinkingAlone) {
    // The toolkit's font maker makes the platform's fonts, found through the
    // project's face names; without it there is no font at all.
    EXPECT_EQ(fileOf(cFontObject::get(5, 13, "Tahoma", false, false, false)), "tahoma.ttf");
    EXPECT_EQ(fileOf(cFontObject::get(5, 13, "Courier New", false, false, false)), "LiberationMono-Regular.ttf");

    // The toolkit's and the documents' standard and fixed faces are the
    // platform's settings (without the hooks: Helvetica, Tahoma and Courier New).
    setGlobalStdFont("Verdana");
    setGlobalFixedFont("Menlo");
    EXPECT_STREQ(stdFontFace(), "Verdana");
    EXPECT_STREQ(siDocFaceName(0), "Verdana");
    EXPECT_STREQ(siDocFaceName(1), "Menlo");
    setGlobalStdFont(nullptr);
    setGlobalFixedFont(nullptr);
    EXPECT_STREQ(stdFontFace(), "Tahoma");

    // An applied language chooses the standard face: Korean text is set in
    // Malgun Gothic, with the tighter wrap factor.
    const tLangApplied hook = __setLangAppliedHook(nullptr);
    ASSERT_NE(hook, nullptr);
    const unsigned int before = cLibLang::glastAppliedLang;
    cLibLang::glastAppliedLang = lngKOR;
    hook(lngKOR);
    EXPECT_STREQ(stdFontFace(), "Malgun Gothic");
    EXPECT_EQ(__setTextWrapYFactorHook(&textWrapYFactor)(), 1.07);
    cLibLang::glastAppliedLang = before;
    __setLangAppliedHook(hook);
    setGlobalStdFont(nullptr);
    setTextWrapYFactor(1.2);

    // Installing again changes nothing.
    installFontPlatform();
    EXPECT_EQ(__setLangAppliedHook(hook), hook);
}

TEST(FontPlatform, MapsNoWindowSoundOrDrawingLibrary) {
    sSize size;
    cFontObject* f = cFontObject::get(5, 13, "Tahoma", true, false, false);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->getTextDim(nullptr, "Measured without a window", -1, size));
    EXPECT_GT(size.w, 100);
    // Window, input, sound and drawing libraries, by the start of their names.
    const char* const windowing[] = {"libSDL2",  "libX",   "libxcb",    "libwayland", "libxkbcommon",
                                     "libdecor", "libpulse", "libasound", "libsndfile", "libFLAC",
                                     "libvorbis", "libogg", "libopus",   "libcairo",   "libGL"};
    std::ifstream maps("/proc/self/maps");
    std::string line;
    bool freetype = false;
    while (std::getline(maps, line)) {
        const std::string name = line.substr(line.rfind('/') + 1);
        for (const char* w : windowing) EXPECT_NE(name.rfind(w, 0), 0u) << line;
        freetype = freetype || name.rfind("libfreetype.so", 0) == 0;
    }
    EXPECT_TRUE(freetype);
}
