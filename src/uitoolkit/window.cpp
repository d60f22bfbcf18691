#include "uitoolkit/window.h"

#include "uitoolkit/lang.h"

cCriticalSection cWindowMaker::gActionSync;

namespace {
tNewPlatformWindowMaker gPlatformMaker = nullptr;
cCIOMLang* gToolkitLang = nullptr;
int gLangTablesMade = 0;
}  // namespace

cWindowMaker* __newPlatformWindowMaker() { return gPlatformMaker ? gPlatformMaker() : nullptr; }

tNewPlatformWindowMaker __setNewPlatformWindowMaker(tNewPlatformWindowMaker maker) {
    tNewPlatformWindowMaker old = gPlatformMaker;
    gPlatformMaker = maker;
    return old;
}

cCiomLangData* cWindowRequestTarget::_rt_getnamedlangsection(char* name) {
    if (!name) return nullptr;
    return cLibLang::gCiomLang.section(name);
}

void cWindowMaker::gaSyncAdd(cList& list, cListItem* item) {
    cSafeCriticalSectionAccess lock(&gActionSync);
    list.add(item);
}

void cWindowMaker::gaSyncMove(cList& from, cList& to) {
    cSafeCriticalSectionAccess lock(&gActionSync);
    from.moveTo(to);
}

int cWindowMaker::langTablesMade() { return gLangTablesMade; }

cWindowMaker* cWindowMaker::newWindowMaker(void* instance, void* iconData, unsigned int iconDim,
                                           cWindowMaker* maker) {
    bool ours = false;
    if (!maker) {
        maker = __newPlatformWindowMaker();
        if (!maker) return nullptr;
        ours = true;
    }
    if (!maker->create(instance, iconData, iconDim)) {
        // Only a maker made here is ours to delete; one handed in belongs to
        // its caller (the application deletes its own maker once).
        if (ours) delete maker;
        return nullptr;
    }
    if (!gToolkitLang) {
        // Registered for the whole process: the table stays in the registry
        // as long as any language may be applied.
        gToolkitLang = new cCIOMLang();
        ++gLangTablesMade;
        unsigned int lang = cLibLang::appliedLang();
        if (lang < 11) cLibLang::applyLang(lang);
        else cLibLang::applyDefaultLang();
    }
    maker->mLang = &cLibLang::gCiomLang;
    return maker;
}
