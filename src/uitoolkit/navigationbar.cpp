#include "uitoolkit/navigationbar.h"

#include "base/folders.h"
#include "uitoolkit/themevalues.h"

#include <climits>
#include <cmath>
#include <cstring>

cPicturesList cNavigationChild::myToolsPicts;
cPicturesList cNavigationChild::myToolsPictsActive;

// ---------------------------------------------------------------------------
// History

void cNavigationHistory::init() {
    mVisits.destroy();
    mPaths.destroy();
}

void cNavigationHistory::setVisited(const char* path) {
    if (!path) return;
    const cStringKey key(path, -1);
    if (int* at = mPaths.find(key)) {
        mVisits.dettach(*at);
        mPaths.dettach(key);
    }
    auto* newest = mVisits.last();
    const int n = newest ? newest->key + 1 : 0;
    mVisits.insert(n)->set(path);
    *mPaths.insert(key) = n;
}

cNavigationHistory::tVisits::cTreeItem* cNavigationHistory::next(tVisits::cTreeItem* item, _guardchar<char>& out) {
    item = item ? mVisits.prev(item) : mVisits.last();
    if (item) out.set(item->value.get());
    return item;
}

// ---------------------------------------------------------------------------
// Provider

cNavigationProvider::~cNavigationProvider() {
    terminate(4000);
    if (mUser) mUser->mProvider = nullptr;
}

bool cNavigationProvider::asyncNavigate(cNavigationChild* child, const char* path) {
    if (!path || busy()) return false;
    mChild = child;
    mPath.set(path);
    mBusy.store(true, std::memory_order_release);
    if (!start()) {
        mBusy.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

int cNavigationProvider::job() { return navigationProc(mPath.get()); }

void cNavigationProvider::onJobEnd(unsigned long result) {
    onNavigationDone(static_cast<int>(result));
    // The bar may start the next navigation as soon as it hears of this one:
    // read what is ours first, then let go, then report.
    cNavigationChild* child = mChild.load();
    mBusy.store(false, std::memory_order_release);
    if (child) child->postAction(new cNavigationChild::cNaviDoneAction(static_cast<int>(result)));
}

void cNavigationProvider::forget(cNavigationChild* child) {
    if (mChild.load() != child) return;
    mChild.store(nullptr);
    // A run that took the bar's address just before keeps the bar waiting
    // here until it has posted and ended.
    terminate(4000);
}

// ---------------------------------------------------------------------------
// Made-up progress

cFakeNavigationProgressJob::~cFakeNavigationProgressJob() { shutdown(); }

void cFakeNavigationProgressJob::shutdown() {
    mChild.store(nullptr);
    terminate(4000);
}

void cFakeNavigationProgressJob::startProgress(cNavigationChild* child) {
    {
        cSafeCriticalSectionAccess lock(&mLock);
        mChild.store(child);
        mPos.store(0.0);
    }
    if (!runs()) start();
}

void cFakeNavigationProgressJob::endProgress() {
    cSafeCriticalSectionAccess lock(&mLock);
    mPos.store(-1.0);
    if (cNavigationChild* c = mChild.load()) c->postAction(new cNavigationChild::cNaviFakeProgressRecvAction(1.0));
}

int cFakeNavigationProgressJob::job() {
    if (haveToStop()) return 0;
    for (int ticks = 1;; ++ticks) {
        sleep(kTickMs);
        if (haveToStop()) return 0;
        if (ticks % kTicksPerStep) continue;
        cSafeCriticalSectionAccess lock(&mLock);
        const double p = mPos.load();
        if (p < 0) continue;
        if (p >= 0.25) {
            if (cNavigationChild* c = mChild.load())
                c->postAction(new cNavigationChild::cNaviFakeProgressRecvAction(std::atan(p - 0.25) * 0.6366197723675814));
        }
        mPos.store(p + 0.05);
    }
}

// ---------------------------------------------------------------------------
// The bar

cNavigationChild::cNavigationChild() = default;

cNavigationChild::~cNavigationChild() {
    // Workers post to this bar: make sure none is left that could.
    mFake.shutdown();
    mProgress.shutdown();
    setNavigationProvider(nullptr);
    mProgress.dettach(&mBar);
    dettach(&mProgress);
    dettach(&mDrop);
}

void cNavigationChild::onInitData() {
    cChildElement::onInitData();
    setNavigationProvider(nullptr);
    mMode = nmNormal;
    setMinSize(0, 22);
    setMaxSize(INT_MAX, 22);
    anchor(&mDrop, 0, 0, -1, -1);
    mDrop.hide(false);
    anchor(&mProgress, 0, 0, -1, -1);
    mProgress.setRange(1000);
    mProgress.anchor(&mBar, 0, 0, -1, -1);
    mBar.setTransparent(true);
    mShowRootSlash = true;
    cThemeValues* theme = currentThemeValues();
    if (!myToolsPicts.image(0)) myToolsPicts.refImage(0, theme->picture(48));
    if (!myToolsPicts.image(1)) myToolsPicts.refImage(1, theme->picture(145));
    if (!myToolsPictsActive.image(0)) myToolsPictsActive.refImage(0, theme->picture(48));
    if (!myToolsPictsActive.image(1)) myToolsPictsActive.refImage(1, theme->picture(146));
    mBar.setImageList(0, &myToolsPicts);
    mBar.setImageList(1, &myToolsPictsActive);
    mBar.setSmallerSizeBehavior(cToolBarChild::ssbOverflowFrom);
    mBar.setHideFrom(1);
    mHist.init();
}

bool cNavigationChild::navigate(const char* path) {
    // The path may be a token's, which setPath rebuilds: keep a copy.
    _guardchar<char> copy(path);
    if (mProvider) {
        if (!mProvider->canAcceptPath(copy.get()) || !mProvider->asyncNavigate(this, copy.get())) return false;
    } else {
        notifyAction(new cNaviSetPathAction(copy.get()));
    }
    setPath(copy.get());
    goProgressMode();
    return true;
}

void cNavigationChild::setPath(const char* path) {
    mPath.set(path);
    if (path) mHist.setVisited(path);
    build();
}

void cNavigationChild::setNavigationProvider(cNavigationProvider* provider) {
    if (provider == mProvider) return;
    if (mProvider) {
        mProvider->forget(this);
        mProvider->mUser = nullptr;
    }
    mProvider = provider;
    if (!provider) return;
    if (provider->mUser) provider->mUser->setNavigationProvider(nullptr);
    provider->mUser = this;
}

void cNavigationChild::setShowRootSlash(bool on) {
    mShowRootSlash = on;
    build();
}

void cNavigationChild::setPassiveColor(unsigned int colour, bool repaint) {
    mProgress.setPassiveBgColor(colour, repaint);
}

void cNavigationChild::clearHist() {
    mDrop.clear();
    mHist.init();
}

void cNavigationChild::setFolderIncon(cPicture* picture) {
    myToolsPicts.storeImage(0, picture);
    myToolsPictsActive.refImage(0, picture);
    build();
}

void cNavigationChild::refFolderIncon(cPicture* picture) {
    myToolsPicts.refImage(0, picture);
    myToolsPictsActive.refImage(0, picture);
    build();
}

void cNavigationChild::build() {
    mBar.removeAll(false);
    mTokens.destroy();
    const char* all = mPath.get();
    if (!all) return;
    const char* p = all;
    int id = 1;
    if (*p == '/') {
        if (mShowRootSlash) {
            sStrToken* t = mTokens.insert(1);
            t->text.set("/");
            t->path.set("/");
        }
        while (*p == '/') ++p;
        id = 2;
    }
    while (*p) {
        const char* end = std::strchr(p, '/');
        if (!end) end = p + std::strlen(p);
        sStrToken* t = mTokens.insert(id++);
        t->text.set(p, end - p);
        t->path.set(all, end - all);
        p = end;
        while (*p == '/') ++p;
    }
    mBar.setButton(0, "", 0);
    for (auto* n = mTokens.first(); n; n = mTokens.next(n)) mBar.setButton(n->key, n->value.text.get(), 1);
    repaint();
}

void cNavigationChild::goNormalMode() {
    mMode = nmNormal;
    mFake.endProgress();
    mDrop.hide(true);
    mBar.enable();
    mProgress.show(true);
}

void cNavigationChild::goEditMode() {
    mMode = nmEdit;
    mProgress.hide(true);
    mDrop.clear();
    _guardchar<char> visit;
    int i = 0;
    for (auto* v = mHist.next(nullptr, visit); v; v = mHist.next(v, visit)) mDrop.setItem(i++, visit.get(), nullptr, -1);
    if (mPath.get()) mDrop.select(0, false);
    mDrop.show(true);
    mDrop.focus();
}

void cNavigationChild::goProgressMode() {
    mMode = nmProgress;
    mProgress.show(true);
    mDrop.hide(true);
    mBar.disable(true);
    mFake.startProgress(this);
}

bool cNavigationChild::onAction(cChildElement* src, cChildAction* a) {
    if (!a) return false;
    if (src == &mBar) {
        if (a->code() == 6) {
            const int id = static_cast<cToolBarChild::cTbButtonAction*>(a)->id;
            if (id == 0) {
                goEditMode();
            } else if (const sStrToken* t = mTokens.find(id)) {
                navigate(t->path.get());
            }
            return true;
        }
        if (a->code() == 7) {
            goEditMode();
            return true;
        }
    } else if (src == this) {
        switch (a->code()) {
            case 7:
                notifyAction(new cNaviSetPathAction(nullptr));
                return true;
            case 9:
                goNormalMode();
                return true;
            case 8: {
                auto* f = dynamic_cast<cNaviFakeProgressRecvAction*>(a);
                if (!f) break;
                if (f->value == 0.0) mProgress.startProgress();
                else if (f->value == 1.0) mProgress.stopProgress(false);
                else mProgress.setPos(static_cast<int>(f->value * 1000), false);
                return true;
            }
            default: break;
        }
    } else if (src == &mDrop) {
        if (a->code() == 6) {
            _guardchar<char> typed(mDrop.text());
            if (typed.get()) cFolderContents::adjustPath(typed.get());
            if (mProvider) mProvider->resolveTypedPath(typed);
            navigate(typed.get() ? typed.get() : "");
            return true;
        }
        if (a->code() == 7) {
            goNormalMode();
            return true;
        }
    }
    return cChildElement::onAction(src, a);
}
