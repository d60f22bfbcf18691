#include "ciplatform/install.h"

#include "cifonts/install.h"
#include "ciplatform/translator.h"
#include "uitoolkit/hintmaster.h"

void installPlatform() {
    installNSWMaker();
    installFontPlatform();
    installHintMaster();
}

// Every hook above is a plain pointer that is zero before any initialiser
// runs, so the order of static initialisation does not matter.
extern "C" const int qor_ciplatform_install = (installPlatform(), 1);
