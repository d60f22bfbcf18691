#include "uitoolkit/element.h"

#include "base/timeutil.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/themevalues.h"
#include "uitoolkit/window.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>


namespace {

tHintMaker gHintMaker = nullptr;
tStdFontFace gStdFace = nullptr;
tElementClock gClock = nullptr;

// Every live element; guarded by the action lock, since wake-ups name
// elements from any thread.
std::unordered_set<cChildElement*>& liveElements() {
    static std::unordered_set<cChildElement*> set;
    return set;
}

unsigned int nowMs() { return gClock ? gClock() : ticks_ms(); }

}  // namespace

unsigned int elementClockNow() { return nowMs(); }
tHintMaker currentHintMaker() { return gHintMaker; }

tStdFontFace __setStdFontFace(tStdFontFace face) {
    tStdFontFace old = gStdFace;
    gStdFace = face;
    return old;
}

const char* stdFontFace() {
    const char* f = gStdFace ? gStdFace() : nullptr;
    return f ? f : "Helvetica";
}

tHintMaker __setHintMaker(tHintMaker maker) {
    tHintMaker old = gHintMaker;
    gHintMaker = maker;
    return old;
}

tElementClock __setElementClock(tElementClock clock) {
    tElementClock old = gClock;
    gClock = clock;
    return old;
}

// ---------------------------------------------------------------------------
// Sent actions

void cChildElement::cSentChildAction::actionDone() {
    if (mDelivered) *mDelivered = true;
    if (mEvent) mEvent->set();
    mEvent = nullptr;
}

void cChildElement::cSentChildAction::actionAbandoned() {
    if (mDelivered) *mDelivered = false;
    if (mEvent) mEvent->set();
    mEvent = nullptr;
}

// ---------------------------------------------------------------------------
// Life

cChildElement::cChildElement() {
    {
        cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
        liveElements().insert(this);
    }
    mTabStop = wantTabStop();
    mCyclicArrows = wantCyclicArrowTabStop();
    mDoubleBuffer = wantDoubleBuffer();
    mFullRepaint = wantFullRepaint();
    mAcceptsFocus = wantAcceptFoucs();
    mBorderWidth = wantBorderWidth();
    mPointer = defaultPointer();
}

cChildElement::~cChildElement() {
    {
        cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
        liveElements().erase(this);
    }
    // An element that dies while attached must not leave its parent and
    // window pointing at it (focus, hover, capture).
    if (mParent) mParent->dettach(this);
    // Children outlive their parent: they become detached roots-to-be.
    for (auto& kv : mOrder) {
        setParentLink(kv.second, nullptr);
        kv.second->mAttached = false;
        kv.second->mFixedHParent = kv.second->mFixedVParent = nullptr;
    }
    freeQueues();
    delete mShownHint;
    mShownHint = nullptr;
    if (mTarget) mTarget->_rt_destroy();
}

void cChildElement::freeQueues() {
    cList notified, posted;
    cWindowMaker::gaSyncMove(mNotifyQueue, notified);
    cWindowMaker::gaSyncMove(mPostQueue, posted);
    // A worker waiting on a sent action is released with a failure.
    for (cListItem* i = posted.head; i; i = i->next) static_cast<cChildAction*>(i)->actionAbandoned();
    for (cListItem* i = notified.head; i; i = i->next) static_cast<cChildAction*>(i)->actionAbandoned();
}

bool cChildElement::valid(cChildElement* e) {
    if (!e) return false;
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    return liveElements().count(e) != 0;
}

void cChildElement::onInitData() {
    mAttached = false;
    mTabStop = wantTabStop();
    mArrowTabStop = mTabStop;
    mCyclicArrows = wantCyclicArrowTabStop();
    mFullRepaint = wantFullRepaint();
    mDoubleBuffer = wantDoubleBuffer();
    mAcceptsFocus = wantAcceptFoucs();
    mPointer = defaultPointer();
    mBorderWidth = wantBorderWidth();
    mOwnFocus = false;
    mEnabled = true;
    mFocusedChild = nullptr;
    mCaptureChild = nullptr;
    mTransparent = false;
    mExclusiveCapture = false;
    mMinW = mMinH = mMaxW = mMaxH = -1;
    mLastClickTime = 0;
    mDefaultBg = currentThemeValues()->color(14) & 0xFFFFFF;
    mNotifyDoubleClick = false;
    mHintMode = 0;
}

void cChildElement::setWinTarget(cWindowRequestTarget* t, int x, int y, int w, int h) {
    mTarget = t;
    mRect = {x, y, w, h};
}

void cChildElement::processConstruct() {
    const char* name = wantLangResource();
    if (name && mTarget) mLang = mTarget->_rt_getnamedlangsection(const_cast<char*>(name));
    onConstruct();
    mAttached = true;
}

bool cChildElement::processClose() {
    if (!onClose()) return false;
    for (auto& kv : mOrder)
        if (!kv.second->processClose()) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Tree

// Parent links are read by workers queueing actions (queueTarget).
void cChildElement::setParentLink(cChildElement* child, cChildElement* parent) {
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    child->mParent = parent;
}

cWindowRequestTarget* cChildElement::reachTarget() const {
    for (const cChildElement* e = this; e; e = e->mParent)
        if (e->mTarget) return e->mTarget;
    return nullptr;
}

cChildElement* cChildElement::root() {
    cChildElement* e = this;
    while (e->mParent) e = e->mParent;
    return e;
}

bool cChildElement::isChild(cChildElement* c) const {
    if (!c || c == this) return false;
    for (cChildElement* p = c->mParent; p; p = p->mParent)
        if (p == this) return true;
    return false;
}

int cChildElement::attachIndex(cChildElement* c) const {
    auto it = mIndexOf.find(c);
    return it == mIndexOf.end() ? -1 : it->second;
}

cChildElement* cChildElement::getFirstChild() const { return mOrder.empty() ? nullptr : mOrder.begin()->second; }

cChildElement* cChildElement::getNextChild(cChildElement* c) const {
    auto it = mIndexOf.find(c);
    if (it == mIndexOf.end()) return nullptr;
    auto o = mOrder.upper_bound(it->second);
    return o == mOrder.end() ? nullptr : o->second;
}

bool cChildElement::attach(cChildElement* child, int x, int y, int w, int h, eControlPartType part) {
    if (!child || child == this) return false;
    if (isDirectChild(child)) return child->move(x, y, w, h);
    // An element lives in one tree at a time.
    if (child->mParent) child->mParent->dettach(child);
    int index = mOrder.empty() ? 0 : mOrder.rbegin()->first + 1;
    mOrder[index] = child;
    mIndexOf[child] = index;
    setParentLink(child, this);
    child->mRect = {x, y, std::max(w, 0), std::max(h, 0)};
    if (const char* name = child->wantLangResource()) {
        cWindowRequestTarget* t = reachTarget();
        child->mLang = t ? t->_rt_getnamedlangsection(const_cast<char*>(name)) : nullptr;
    }
    child->onInitData();
    child->onConstruct();
    switch (part) {
        case cptFixed: child->mFixedHParent = child->mFixedVParent = this; break;
        case cptFixedVertical: child->mFixedVParent = this; child->mFixedHParent = nullptr; break;
        case cptFixedHorizontal: child->mFixedHParent = this; child->mFixedVParent = nullptr; break;
        default: child->mFixedHParent = child->mFixedVParent = nullptr; break;
    }
    if (child->mMaxW != -1 && child->mRect.w > child->mMaxW) child->mRect.w = child->mMaxW;
    if (child->mMaxH != -1 && child->mRect.h > child->mMaxH) child->mRect.h = child->mMaxH;
    if (child->mMinW != -1 && child->mRect.w < child->mMinW) child->mRect.w = child->mMinW;
    if (child->mMinH != -1 && child->mRect.h < child->mMinH) child->mRect.h = child->mMinH;
    child->mAttached = true;
    if (child->visible()) {
        sRect r = child->mRect;
        repaint(&r);
    }
    return true;
}

bool cChildElement::dettach(cChildElement* child) {
    if (!child) return false;
    mAnchors.erase(child);
    auto it = mIndexOf.find(child);
    if (it != mIndexOf.end()) {
        mOrder.erase(it->second);
        mIndexOf.erase(it);
    }
    processDettach(child);
    if (child->mParent == this) {
        setParentLink(child, nullptr);
        child->mAttached = false;
        child->mFixedHParent = child->mFixedVParent = nullptr;
    }
    return true;
}

void cChildElement::processDettach(cChildElement* child) {
    auto inside = [child](cChildElement* e) { return e && (e == child || child->isChild(e)); };
    for (cChildElement* e = this; e; e = e->mParent) {
        if (inside(e->mFocusedChild)) e->mFocusedChild = nullptr;
        if (inside(e->mCaptureChild)) {
            e->pointerCaptureReq(e->mCaptureChild, false);
            e->mCaptureChild = nullptr;
        }
        if (inside(e->mHover)) e->mHover = nullptr;
        if (inside(e->mSavedFocus)) e->mSavedFocus = nullptr;
    }
}

static int effective(int v, int base) { return (v < 0 ? base : 0) + v; }

bool cChildElement::anchor(cChildElement* child, int x, int y, int w, int h) {
    if (!child) return false;
    sSize vs;
    virtualSize(&vs);
    int sw = vs.w, sh = vs.h;
    if (child->mAttached && child->mParent == this) {
        if (child->fixedH()) sw = mRect.w;
        if (child->fixedV()) sh = mRect.h;
    }
    if (!isDirectChild(child)) {
        if (!attach(child, effective(x, sw + 1), effective(y, sh + 1), effective(w, sw + 1), effective(h, sh + 1),
                    cptScrolled))
            return false;
    }
    mAnchors[child] = {x, y, w, h};
    sRect r{effective(x, sw + 1), effective(y, sh + 1), effective(w, sw + 1), effective(h, sh + 1)};
    if (child->mMinW != -1 && r.w < child->mMinW) r.w = child->mMinW;
    if (child->mMaxW != -1 && r.w > child->mMaxW) r.w = child->mMaxW;
    if (child->mMinH != -1 && r.h < child->mMinH) r.h = child->mMinH;
    if (child->mMaxH != -1 && r.h > child->mMaxH) r.h = child->mMaxH;
    sRect old = child->mRect;
    if (r.x == old.x && r.y == old.y && r.w == old.w && r.h == old.h) return true;
    child->processSizeChanges(r.w, r.h, false);
    child->mRect = r;
    repaintChildChange(old, r, true);
    child->onSizeChanged();
    return true;
}

void cChildElement::repaintChildChange(const sRect& old, const sRect& now, bool stopWhenHeightSame) {
    if (old.x != now.x || old.y != now.y) {
        sRect a = old, b = now;
        repaint(&a);
        repaint(&b);
        return;
    }
    if (now.w < old.w) {
        sRect s{now.x + now.w, now.y, old.w - now.w, old.h};
        repaint(&s);
    } else if (now.w > old.w) {
        sRect s{now.x + old.w, now.y, now.w - old.w, old.h};
        repaint(&s);
    }
    if (stopWhenHeightSame && now.h == old.h) return;
    if (now.h < old.h) {
        sRect s{now.x, now.y + now.h, now.w, old.h - now.h};
        repaint(&s);
    } else if (now.h > old.h) {
        sRect s{now.x, now.y + old.h, now.w, now.h - old.h};
        repaint(&s);
    }
}

bool cChildElement::processSizeChanges(int w, int h, bool force) {
    if (!force && w == mRect.w && h == mRect.h) return true;
    mRect.w = w;
    mRect.h = h;
    sSize ls{w, h};
    if (mParent) {
        virtualSize(&ls);
    } else {
        sPoint p;
        if (processPosQuery(p)) {
            mRect.x = p.x;
            mRect.y = p.y;
        }
    }
    if (mMinW != -1 && ls.w < mMinW) ls.w = mMinW;
    if (mMinH != -1 && ls.h < mMinH) ls.h = mMinH;
    if (mMaxW != -1 && ls.w > mMaxW) ls.w = mMaxW;
    if (mMaxH != -1 && ls.h > mMaxH) ls.h = mMaxH;
    int W1 = mRect.w + 1, H1 = mRect.h + 1, VW1 = ls.w + 1, VH1 = ls.h + 1;
    if (!mAnchors.empty()) {
        // Attach order; a copy of the children, since hooks may change the tree.
        std::vector<cChildElement*> kids;
        kids.reserve(mAnchors.size());
        for (auto& kv : mOrder)
            if (mAnchors.count(kv.second)) kids.push_back(kv.second);
        for (cChildElement* c : kids) {
            auto a = mAnchors.find(c);
            if (a == mAnchors.end() || !isDirectChild(c)) continue;
            int bw = c->fixedH() ? W1 : VW1, bh = c->fixedV() ? H1 : VH1;
            sRect r{effective(a->second.x, bw), effective(a->second.y, bh), effective(a->second.w, bw),
                    effective(a->second.h, bh)};
            if (c->mMinW != -1 && r.w < c->mMinW) r.w = c->mMinW;
            if (c->mMaxW != -1 && r.w > c->mMaxW) r.w = c->mMaxW;
            if (c->mMinH != -1 && r.h < c->mMinH) r.h = c->mMinH;
            if (c->mMaxH != -1 && r.h > c->mMaxH) r.h = c->mMaxH;
            sRect old = c->mRect;
            if (r.x == old.x && r.y == old.y && r.w == old.w && r.h == old.h) continue;
            if (c->mFullRepaint) {
                c->processSizeChanges(r.w, r.h, false);
                if (c->visible()) repaint(&old);
                c->mRect = r;
                if (c->visible()) {
                    sRect n = r;
                    repaint(&n);
                }
            } else {
                c->processSizeChanges(r.w, r.h, false);
                c->mRect = r;
                repaintChildChange(old, r, false);
            }
            c->onSizeChanged();
        }
    }
    onSizeChanged();
    return true;
}

bool cChildElement::move(int x, int y, int w, int h) {
    if (!mParent) {
        return mTarget ? mTarget->_rt_changepos(x, y, w, h) : false;
    }
    if (x == mRect.x && y == mRect.y && w == mRect.w && h == mRect.h) return true;
    mRect.x = x;
    mRect.y = y;
    return processSizeChanges(w, h, false);
}

bool cChildElement::childRect(sRect* r) const {
    if (!r) return false;
    *r = mRect;
    return true;
}

bool cChildElement::childRect(cChildElement* c, sRect* r) const {
    if (!c || !r) return false;
    for (auto& kv : mOrder) {
        cChildElement* k = kv.second;
        if (k == c) {
            *r = c->mRect;
            return true;
        }
        if (k->childRect(c, r)) {
            r->x += k->mRect.x;
            r->y += k->mRect.y;
            return true;
        }
    }
    return false;
}

bool cChildElement::processPosQuery(sPoint& p) {
    if (mParent) {
        sPoint off;
        mParent->virtualOffset(&off);
        if (!fixedH()) p.x += off.x;
        if (!fixedV()) p.y += off.y;
        p.x += mRect.x;
        p.y += mRect.y;
        return mParent->processPosQuery(p);
    }
    int x, y, w, h;
    if (mTarget && mTarget->_rt_winpossize(x, y, w, h)) {
        p.x += x;
        p.y += y;
        return true;
    }
    return false;
}

bool cChildElement::absPos(sPoint& p) {
    p = {0, 0};
    return processPosQuery(p);
}

bool cChildElement::setMinSize(int w, int h) {
    if (!mParent && mTarget) return mTarget->_rt_setminsize(w, h);
    mMinW = w;
    mMinH = h;
    return true;
}

bool cChildElement::setMaxSize(int w, int h) {
    if (!mParent && mTarget) return mTarget->_rt_setmaxsize(w, h);
    mMaxW = w;
    mMaxH = h;
    return true;
}

void cChildElement::virtualSize(sSize* s) {
    if (!s) return;
    s->w = std::max(0, mRect.w - 2 * mBorderWidth);
    s->h = std::max(0, mRect.h - 2 * mBorderWidth);
}

void cChildElement::virtualOffset(sPoint* p) {
    if (p) *p = {0, 0};
}

void cChildElement::clientRect(sRect* r) {
    if (r) *r = {0, 0, mRect.w, mRect.h};
}

// ---------------------------------------------------------------------------
// Visibility and enablement

bool cChildElement::visible() const {
    for (const cChildElement* e = this; e; e = e->mParent)
        if (!e->mVisible) return false;
    return true;
}

bool cChildElement::enabled() const {
    for (const cChildElement* e = this; e; e = e->mParent)
        if (!e->mEnabled) return false;
    return true;
}

void cChildElement::show(bool rp) {
    if (mVisible) return;
    mVisible = true;
    if (rp) repaint(nullptr);
}

void cChildElement::hide(bool rp) {
    if (!mVisible) return;
    if (rp) repaint(nullptr);
    mVisible = false;
}

void cChildElement::enable() {
    if (mEnabled) return;
    mEnabled = true;
    if (mParent && !mParent->enabled()) return;
    processEnableChange(true);
    if (visible()) repaint(nullptr);
}

void cChildElement::disable(bool rp) {
    if (!mEnabled) return;
    mEnabled = false;
    if (mParent && !mParent->enabled()) return;
    processEnableChange(false);
    if (rp && visible()) repaint(nullptr);
}

void cChildElement::processEnableChange(bool e) {
    onEnableChanged(e);
    for (auto& kv : mOrder)
        if (kv.second->mEnabled) kv.second->processEnableChange(e);
}

void cChildElement::setTransparent(bool b) {
    if (b == mTransparent) return;
    mTransparent = b;
    if (visible()) repaint(nullptr);
}

// ---------------------------------------------------------------------------
// Texts, language and fonts

void cChildElement::text(char* buf, long long size) const {
    if (!buf || size <= 0) return;
    std::memset(buf, 0, static_cast<size_t>(size));
    // Read through text(): an element that keeps its text elsewhere (a
    // button its caption, a description area its description) hands out the
    // same text in both forms.
    const char* t = text();
    long long n = t ? static_cast<long long>(std::strlen(t)) : 0;
    if (n > size - 1) n = size - 1;
    if (n > 0) std::memcpy(buf, t, static_cast<size_t>(n));
}

void cChildElement::setText(const char* t, long long len, bool rp) {
    if (!t) {
        mText.clear();
    } else {
        if (len < 0) len = static_cast<long long>(std::strlen(t));
        mText.set(t, len);
    }
    if (rp && visible()) repaint(nullptr);
}

void cChildElement::wipeText() {
    if (char* b = mText.get()) std::memset(b, 0, mText.length());
    mText.clear();
}

void cChildElement::setHint(const char* t, int mode) {
    mHint.set(t);
    mHintMode = mode;
    if (mShownHint) notifyAction(5);
}

void cChildElement::setCaption(const char* t, long long len) {
    if (mParent || !mTarget) return;
    _guardchar<char> s;
    if (t) {
        if (len < 0) len = static_cast<long long>(std::strlen(t));
        s.set(t, len);
    }
    mTarget->_rt_setcaption(s.get() ? s.get() : const_cast<char*>(""));
}

cCiomLangData* cChildElement::requestNamedLangResource(const char* name) {
    cWindowRequestTarget* t = reachTarget();
    return t && name ? t->_rt_getnamedlangsection(const_cast<char*>(name)) : nullptr;
}

const char* cChildElement::string(int index) {
    for (cChildElement* e = this; e; e = e->mParent) {
        if (e->mLang) return e->mLang->string(index);
        if (e->wantLangResource()) return nullptr;
    }
    return nullptr;
}

const char* cChildElement::string(cChildElement* via, int index) {
    if (mLang) return mLang->string(index);
    if (const char* name = wantLangResource()) {
        if (!via) return nullptr;
        mLang = via->requestNamedLangResource(name);
        return mLang ? mLang->string(index) : nullptr;
    }
    return via ? via->string(index) : string(index);
}

cFontObject* cChildElement::createFont(int width, int size, const char* face, bool bold, bool underline,
                                       bool italic) {
    cWindowRequestTarget* t = root()->mTarget;
    return t ? t->_rt_createfont(width, size, const_cast<char*>(face), bold, underline, italic) : nullptr;
}

cFontObject* cChildElement::stdFont() { return createFont(5, 13, stdFontFace(), false, false, false); }
cFontObject* cChildElement::stdFontUnderlined() { return createFont(5, 13, stdFontFace(), false, true, false); }
cFontObject* cChildElement::stdFontItalic() { return createFont(5, 13, stdFontFace(), false, false, true); }
cFontObject* cChildElement::stdFontBold() { return createFont(6, 13, stdFontFace(), true, false, false); }

// ---------------------------------------------------------------------------
// Window forwarders

int cChildElement::modal(const char* title, int w, int h, cChildElement* r, bool resizable) {
    cWindowRequestTarget* t = reachTarget();
    if (!t || !r) return -1;
    return t->_rt_modal(const_cast<char*>(title), w, h, r, resizable);
}

cWindowHolder* cChildElement::popup(int x, int y, int w, int h, cChildElement* r, bool f) {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_popup(x, y, w, h, r, f) : nullptr;
}

int cChildElement::modal_popup(int x, int y, int w, int h, cChildElement* r) {
    cWindowRequestTarget* t = reachTarget();
    if (!t || !r) return -1;
    return t->_rt_modal_popup(x, y, w, h, r);
}

bool cChildElement::end_modal(int result) {
    cWindowRequestTarget* t = reachTarget();
    if (!t) return false;
    t->_rt_modalresult(result);
    return true;
}

bool cChildElement::clipboardCopyText(const char* t, long long len) {
    cWindowRequestTarget* target = reachTarget();
    if (!target) return false;
    // A null text is the empty text: the platform always gets a terminated
    // string.
    static char empty[1] = {0};
    if (!t) {
        t = empty;
        len = 1;
    } else if (len < 0) {
        len = static_cast<long long>(std::strlen(t)) + 1;
    }
    return target->_rt_copy_text(const_cast<char*>(t), len);
}

bool cChildElement::clipboardCopy(const void* data, long long len) {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_copy_raw(const_cast<void*>(data), len) : false;
}

bool cChildElement::clipboardRequest(_typebuf<unsigned char>& out) {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_request_copied_raw(out) : false;
}

bool cChildElement::clipboardTest(bool text) {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_request_has_copied(text) : false;
}

bool cChildElement::clipboardRequestText(_typebuf<char>& out) {
    cWindowRequestTarget* t = reachTarget();
    if (!t) return false;
    _typebuf<unsigned char> raw;
    bool ok = t->_rt_request_copied_text(raw);
    if (ok && raw.count() > 0) {
        out.set(raw.count() + 1);
        std::memcpy(out.data(), raw.data(), static_cast<size_t>(raw.count()));
        out[raw.count()] = 0;
    }
    return ok;
}

bool cChildElement::clipboardRequestText(_guardchar<char>& out) {
    _typebuf<char> b;
    bool ok = clipboardRequestText(b);
    if (ok && b.count() > 0) out.set(b.data(), b.count() - 1);
    return ok;
}

bool cChildElement::desktopSize(sSize& s) {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_desktopsize(s.w, s.h) : false;
}

bool cChildElement::maxWinSize(sSize& s) {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_maxwinsize(s.w, s.h) : false;
}

int cChildElement::screenDPI() {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_screen_dpi() : 96;
}

bool cChildElement::blockSystemSleep(const char* reason) {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_blocksleep(const_cast<char*>(reason)) : false;
}

bool cChildElement::unblockSystemSleep() {
    cWindowRequestTarget* t = reachTarget();
    return t ? t->_rt_unblocksleep() : false;
}

bool cChildElement::sizeOf(const char* t, sSize& s, cFontObject* font) {
    cWindowRequestTarget* target = reachTarget();
    return target ? target->_rt_textbox(font, const_cast<char*>(t), s) : false;
}
