#include "ciplatform/install.h"

#include "cihlpdoc/sidoc.h"
#include "ciplatform/ctfont.h"
#include "ciplatform/platform.h"
#include "ciplatform/translator.h"
#include "uitoolkit/element.h"
#include "uitoolkit/hintmaster.h"
#include "uitoolkit/lang.h"

namespace {

// The standard face follows every language applied from now on; the
// application's block alignment is its own business (it may call
// setDefaultPlatformFont itself for it).
void followLanguage(unsigned int) { setDefaultPlatformFont(nullptr); }

const char* stdFace() { return _glbalStdFont(); }
const char* fixedFace() { return _glbalFixedFont(); }

}  // namespace

void installPlatform() {
    installNSWMaker();
    installPlatformFonts();
    __setStdFontFace(&stdFace);
    __setTextWrapYFactorHook(&textWrapYFactor);
    __setSiDocFaceHooks(&stdFace, &fixedFace);
    __setLangAppliedHook(&followLanguage);
    installHintMaster();
}

// Every hook above is a plain pointer that is zero before any initialiser
// runs, so the order of static initialisation does not matter.
extern "C" const int qor_ciplatform_install = (installPlatform(), 1);
