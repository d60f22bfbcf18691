#include "cifonts/install.h"

#include "cihlpdoc/sidoc.h"
#include "cifonts/ctfont.h"
#include "cifonts/platform.h"
#include "uitoolkit/canvas.h"
#include "uitoolkit/element.h"
#include "uitoolkit/lang.h"

namespace {

// The standard face follows every language applied from now on; the
// application's block alignment is its own business (it may call
// setDefaultPlatformFont itself for it).
void followLanguage(unsigned int) { setDefaultPlatformFont(nullptr); }

const char* stdFace() { return _glbalStdFont(); }
const char* fixedFace() { return _glbalFixedFont(); }

}  // namespace

void installFontPlatform() {
    installPlatformFonts();
    __setStdFontFace(&stdFace);
    __setTextWrapYFactorHook(&textWrapYFactor);
    __setSiDocFaceHooks(&stdFace, &fixedFace);
    __setLangAppliedHook(&followLanguage);
}

// Every hook above is a plain pointer that is zero before any initialiser
// runs, so the order of static initialisation does not matter.
extern "C" const int qor_cifonts_install = (installFontPlatform(), 1);
