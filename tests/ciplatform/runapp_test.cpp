// A program that only links the platform layer and starts through runApp:
// it gets the real window maker, fonts, standard face and hint popups
// without installing anything itself.  A form with a button runs modally on
// the headless desktop; the button's caption is measured against HarfBuzz's
// advances on the face file the standard font uses, its hint opens a popup
// sized to the text, and applying Japanese and Korean moves the standard
// face (and the wrap factor) as the platform's table says.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "ciplatform/ctfont.h"
#include "ciplatform/platform.h"
#include "macshim/appkit.h"
#include "macshim/ctshim.h"
#include "testsupport.h"
#include "uitoolkit/application.h"
#include "uitoolkit/button.h"
#include "uitoolkit/form.h"
#include "uitoolkit/hintmaster.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/window.h"

namespace {

// The advance width of a text in a face file at a size in points: the sum
// of HarfBuzz's advances at the face's own units, scaled.
double hbWidth(CTFontRef font, const std::string& utf8) {
    int index = 0;
    const char* path = CTFontGetFilePath(font, &index);
    const char* script = R"PY(
import json, subprocess, sys, freetype
path, index, size, text = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
upem = freetype.Face(path, index).units_per_EM
out = subprocess.run(['hb-shape', '--font-size=upem', '--face-index=%d' % index, '--no-glyph-names',
                      '--output-format=json', path, text], capture_output=True, text=True, check=True).stdout
print(repr(sum(g['ax'] for g in json.loads(out.strip())) * size / upem))
)PY";
    char size[64];
    std::snprintf(size, sizeof size, "%.17g", CTFontGetSize(font));
    int rc = -1;
    const std::string out = qortest::runPython(
        script, std::string("'") + path + "' " + std::to_string(index) + " " + size + " '" + utf8 + "'", &rc);
    EXPECT_EQ(rc, 0) << out;
    return std::atof(out.c_str());
}

std::string fileOf(cFontObject* f) {
    auto* mac = dynamic_cast<cMacCTFont*>(f);
    if (!mac || !mac->ctFont()) return "";
    const std::string p = CTFontGetFilePath(mac->ctFont(), nullptr);
    return p.substr(p.rfind('/') + 1);
}

std::string familyOf(cFontObject* f) {
    auto* mac = dynamic_cast<cMacCTFont*>(f);
    return mac && mac->ctFont() ? CTFontGetFamilyName(mac->ctFont()) : "";
}

// The family of the face that draws a text's first glyph run.
std::string runFamily(cFontObject* f, const std::u16string& text) {
    auto* mac = dynamic_cast<cMacCTFont*>(f);
    if (!mac || !mac->ctFont()) return "";
    const std::vector<uint16_t> units(text.begin(), text.end());
    CTLineRef line = CTLineCreateWithText(units.data(), units.size(), mac->ctFont(), nullptr);
    const std::string family = CTLineGetGlyphRunCount(line) ? CTFontGetFamilyName(CTRunGetFont(line, 0)) : "";
    CTLineRelease(line);
    return family;
}

const char kCaption[] = "Cancel";
const char kHint[] = "Leaves without installing\nNothing is changed";

// What the script saw inside the running form.
struct sSeen {
    bool maker = false;
    std::string stdFile, stdFamilyJpn, stdFamilyKor;
    double stdPoints = 0;
    int captionW = 0, captionH = 0, requiredW = 0;
    double oracleW = 0, lineOracleW = 0;
    int hintW = 0, hintH = 0, hintLineH = 0, hintDark = 0;
    std::string faceJpn, faceKor, faceEng, kanaFamily;
    double wrapJpn = 0;
    int steps = 0;
};

class cProbeForm : public cCustomForm {
public:
    cButtonChild button;
    void onConstruct() override {
        cCustomForm::onConstruct();
        clientArea()->attach(&button, 20, 20, 120, 26);
        button.setText(kCaption);
        button.setHint(kHint, 0);
    }
    bool onFormCancel() override { return end_modal(7); }
};

// Darker than mid-grey: text drawn on the hint's light background.
int darkPixels(MSWindow* w) {
    MSBitmapContext* b = w ? w->backingStore() : nullptr;
    if (!b || !b->pixels) return 0;
    int n = 0;
    for (int y = 2; y < b->height - 2; ++y)
        for (int x = 2; x < b->width - 2; ++x) {
            const uint32_t p = b->pixels[size_t(y) * b->stride + x];
            if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 128) ++n;
        }
    return n;
}

class cProbeApp : public cCIApplication {
public:
    explicit cProbeApp(sSeen* seen) : mSeen(seen) {}
    int run() override {
        mSeen->maker = windowMaker() != nullptr;
        auto* form = new cProbeForm;
        cButtonChild* button = &form->button;
        int step = 0;
        mstest::setIdleHook([this, form, button, &step]() {
            auto* win = form->winTarget() ? static_cast<MSWindow*>(form->winTarget()->_rt_rawhandle()) : nullptr;
            if (!win) return;
            sPoint formAt, buttonAt;
            form->absPos(formAt);
            button->absPos(buttonAt);
            const int bx = buttonAt.x - formAt.x + 10, by = buttonAt.y - formAt.y + 10;
            ++mSeen->steps;
            switch (step++) {
            case 0: {
                cFontObject* f = form->stdFont();
                mSeen->stdFile = fileOf(f);
                if (auto* mac = dynamic_cast<cMacCTFont*>(f)) mSeen->stdPoints = CTFontGetSize(mac->ctFont());
                sSize s{0, 0};
                if (f && f->getTextDim(nullptr, kCaption, -1, s)) {
                    mSeen->captionW = s.w;
                    mSeen->captionH = s.h;
                }
                mSeen->requiredW = button->requiredWidth();
                if (auto* mac = dynamic_cast<cMacCTFont*>(f)) {
                    mSeen->oracleW = hbWidth(mac->ctFont(), kCaption);
                    mSeen->lineOracleW = hbWidth(mac->ctFont(), "Leaves without installing");
                }
                mstest::injectMouseMove(win, bx, by);
                break;
            }
            case 1: {
                auto* hint = dynamic_cast<cHintMaster*>(button->shownHint());
                cWindowHolder* popup = hint ? hint->popupHolder() : nullptr;
                auto* pw = popup ? static_cast<MSWindow*>(popup->target()->_rt_rawhandle()) : nullptr;
                if (pw) {
                    pw->display();
                    mSeen->hintW = int(pw->contentRect().size.width);
                    mSeen->hintH = int(pw->contentRect().size.height);
                    mSeen->hintLineH = hint->lineHeight();
                    mSeen->hintDark = darkPixels(pw);
                }
                mstest::injectMouseMove(win, 2, 2);
                break;
            }
            case 2:
                cLibLang::applyLang(lngJPN);
                mSeen->faceJpn = _glbalStdFont();
                mSeen->wrapJpn = textWrapYFactor();
                mSeen->stdFamilyJpn = familyOf(form->stdFont());
                mSeen->kanaFamily = runFamily(form->stdFont(), u"\u65e5\u672c\u8a9e\u306e");
                cLibLang::applyLang(lngKOR);
                mSeen->faceKor = _glbalStdFont();
                mSeen->stdFamilyKor = familyOf(form->stdFont());
                cLibLang::applyLang(lngENG);
                mSeen->faceEng = _glbalStdFont();
                mstest::injectKey(win, SDL_SCANCODE_ESCAPE, true);
                mstest::injectKey(win, SDL_SCANCODE_ESCAPE, false);
                break;
            default:
                break;
            }
        });
        char title[] = "Probe";
        const int r = windowMaker()->modal(title, 260, 120, form, nullptr, false);
        mstest::setIdleHook(nullptr);
        return r;
    }

private:
    sSeen* mSeen;
};

TEST(PlatformByLinking, AnApplicationStartedThroughRunAppHasTheWholePlatform) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    qortest::TempDir home;
    const char* old = std::getenv("HOME");
    const std::string oldHome = old ? old : "";
    setenv("HOME", home.path().c_str(), 1);
    alarm(60);

    sSeen seen;
    char arg0[] = "/opt/probe/bin/probe";
    char* argv[] = {arg0, nullptr};
    const int rc = cCIApplication::runApp(new cProbeApp(&seen), nullptr, nullptr, 0, 1, argv, nullptr, "qor");
    alarm(0);
    setenv("HOME", oldHome.c_str(), 1);

    // The form ran on the platform's own window maker and ended by Escape.
    EXPECT_TRUE(seen.maker);
    EXPECT_EQ(rc, 7);
    EXPECT_GE(seen.steps, 3);

    // The standard font is Tahoma at the platform's size rule (13 -> 11 pt),
    // and the caption measures as HarfBuzz's advances on that face say.
    EXPECT_EQ(seen.stdFile, "tahoma.ttf");
    EXPECT_EQ(seen.stdPoints, 11.0);
    ASSERT_GT(seen.oracleW, 20.0);
    EXPECT_EQ(seen.captionW, static_cast<int>(seen.oracleW + 1.5));
    EXPECT_GE(seen.captionH, 11);
    EXPECT_EQ(seen.requiredW, seen.captionW + 10);

    // The hint: two lines, as wide as the wider plus 8, two line heights
    // plus 4 high, with text drawn in it.
    EXPECT_EQ(seen.hintLineH, seen.captionH);
    EXPECT_EQ(seen.hintW, static_cast<int>(seen.lineOracleW + 1.5) + 8);
    EXPECT_EQ(seen.hintH, 2 * seen.hintLineH + 4);
    EXPECT_GT(seen.hintDark, 40);

    // Japanese keeps Tahoma (its characters come from the CJK fallback) and
    // tightens wrapped lines; Korean takes Malgun Gothic, found as the Korean
    // Noto face; English goes back to Tahoma.
    EXPECT_EQ(seen.faceJpn, "Tahoma");
    EXPECT_EQ(seen.wrapJpn, 1.07);
    EXPECT_EQ(seen.stdFamilyJpn, "Tahoma");
    EXPECT_EQ(seen.kanaFamily, "Noto Sans CJK JP");
    EXPECT_EQ(seen.faceKor, "Malgun Gothic");
    EXPECT_EQ(seen.stdFamilyKor, "Noto Sans CJK KR");
    EXPECT_EQ(seen.faceEng, "Tahoma");
}

}  // namespace
