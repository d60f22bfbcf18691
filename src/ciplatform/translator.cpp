#include "ciplatform/translator.h"

#include <cmath>
#include <cstring>

#include "base/textenc.h"
#include "ciplatform/crbcanvas.h"
#include "macshim/appkit.h"
#include "macshim/cgshim.h"
#include "macshim/pasteboard.h"
#include "nslib/nswnd.h"
#include "uitoolkit/element.h"
#include "uitoolkit/lang.h"

namespace {

// A result that keeps the modal loop running.
constexpr int kModalKeepRunning = static_cast<int>(0x80000001u);
// The toolkit's cancel key.
constexpr int kKeyEscape = 0x11B;
// The one item every clipboard flavour is put on.
constexpr MSPasteboardItemID kClipItem = 1;

// The general clipboard, opened for one request.
struct Clipboard {
    MSPasteboardRef board = nullptr;
    Clipboard() {
        if (MSPasteboardCreate(kMSPasteboardClipboard, &board) != msPasteboardNoErr) board = nullptr;
    }
    ~Clipboard() {
        if (board) MSPasteboardRelease(board);
    }
    explicit operator bool() const { return board != nullptr; }
    // The flavour of the first item; false when there is none.
    bool read(const char* flavor, std::vector<uint8_t>& out) {
        out.clear();
        size_t count = 0;
        if (MSPasteboardGetItemCount(board, &count) != msPasteboardNoErr || count < 1) return false;
        MSPasteboardItemID item = 0;
        if (MSPasteboardGetItemIdentifier(board, 1, &item) != msPasteboardNoErr) return false;
        return MSPasteboardCopyItemFlavorData(board, item, flavor, out) == msPasteboardNoErr;
    }
};

// A queued wake-up that will never be delivered: whatever its element still
// holds in its queues is completed as cancelled, so that a thread blocked in
// sendAction returns instead of waiting for ever.
void cancelQueued(void* element, void*) {
    auto* e = static_cast<cChildElement*>(element);
    if (cChildElement::valid(e)) e->abandonQueuedActions();
}

}  // namespace

// ---------------------------------------------------------------------------
// Translator

cNSWTranslator::cNSWTranslator(cChildElement* root, cCiomLang* lang, cWindowRequestTargetScale* scale)
    : mScale(scale), mRoot(root), mLang(lang) {
    setCancelProc(&cancelQueued, nullptr);
}

cNSWTranslator::~cNSWTranslator() {
    // Both kinds of queued wake-up are cancelled here: the toolkit's waiting
    // senders ride the post wake-up as well as the sent one.
    _rt_destroy();
    cChildElement* r = mRoot;
    mRoot = nullptr;
    delete r;
}

cChildElement* cNSWTranslator::releaseRoot() {
    cChildElement* r = mRoot;
    mRoot = nullptr;
    // The element outlives this window: it must not ask it for anything.
    if (r && r->winTarget() == this) r->setWinTarget(nullptr, 0, 0, 0, 0);
    return r;
}

int cNSWTranslator::toNative(int v) {
    if (!mScale) return v;
    return static_cast<int>(std::trunc(v * mScale->factor() + 0.5));
}

int cNSWTranslator::fromNative(int v) {
    if (!mScale) return v;
    return static_cast<int>(std::trunc(v * (1.0 / mScale->factor()) + 0.5));
}

void cNSWTranslator::onInit() {
    if (mRoot) mRoot->processConstruct();
}

bool cNSWTranslator::onClose() { return cancelThenClose(); }

bool cNSWTranslator::onQuit() { return cancelThenClose(); }

bool cNSWTranslator::cancelThenClose() {
    if (!mRoot) return true;
    // The toolkit's cancel first, as Escape gives it: a form runs its own
    // cancel (and may store its cancel result), a popup answers -1.  A
    // dialog's close box so does what Escape does.
    const int before = mModalResult;
    mModalResult = kModalKeepRunning;
    mRoot->processKey(kKeyEscape, false, false, false);
    if (!mRoot || mModalResult != kModalKeepRunning) return true;
    mModalResult = before;
    // A window whose root did not end itself is closed as by its close box.
    return mRoot->processClose();
}

void cNSWTranslator::onSize(int w, int h) {
    if (mRoot) mRoot->processSizeChanges(fromNative(w), fromNative(h), false);
}

void cNSWTranslator::onMouseButton(int x, int y, int button, bool down, bool, bool, bool shift, bool command) {
    if (!mRoot) return;
    x = fromNative(x);
    y = fromNative(y);
    mRoot->processMouseBtn(x, y, button, down, command, shift);
    // The press may have closed the window and deleted the root.
    if (mRoot && button == 1 && down) mRoot->processFocus(x, y, 1, command, shift);
}

void cNSWTranslator::onMouseMove(int x, int y, int, bool, bool, bool, bool) {
    if (mRoot) mRoot->processMouseMove(fromNative(x), fromNative(y));
}

void cNSWTranslator::onMouseWheel(int x, int y, int, int dy, int, bool, bool, bool, bool command) {
    if (mRoot) mRoot->processMouseWheel(fromNative(x), fromNative(y), dy > 0, command, dy < 0 ? -dy : dy);
}

void cNSWTranslator::onKey(int key, bool down, bool option, bool, bool shift, bool command) {
    if (mRoot && down) mRoot->processKey(key, shift, command, option);
}

void cNSWTranslator::onChar(unsigned short ch, bool shift, bool option) {
    if (mRoot && ch >= 32 && ch != 127) mRoot->processChar(ch, shift, false, option);
}

void cNSWTranslator::onAction(void* element) {
    if (mRoot) mRoot->processActionFirst(static_cast<cChildElement*>(element));
    else cancelQueued(element, nullptr);
}

void cNSWTranslator::onPostAction(void* element) {
    if (mRoot) mRoot->processPostFirst(static_cast<cChildElement*>(element));
    else cancelQueued(element, nullptr);
}

void cNSWTranslator::onPaint(void* context, int, int, int, int) {
    // The view hands over its backing store; the canvas draws on a bitmap
    // context over those pixels.  The whole client area is painted: the
    // view redraws whatever it marked dirty from the store afterwards.
    auto* store = static_cast<MSBitmapContext*>(context);
    if (!mRoot || !store || !store->pixels || store->width < 1 || store->height < 1) return;
    int cw = 0, ch = 0;
    if (!clientArea(cw, ch)) return;
    CGContextRef ctx = CGBitmapContextCreate(store->pixels, static_cast<std::size_t>(store->width),
                                             static_cast<std::size_t>(store->height), 8,
                                             4 * static_cast<std::size_t>(store->stride), getGRGBColorSpace(),
                                             kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Host);
    if (!ctx) return;
    {
        cCrbCanvas canvas;
        if (canvas.create(ctx, fromNative(cw), fromNative(ch))) {
            canvas.setScale(mScale);
            mRoot->processPaint(&canvas);
            canvas.close();
        }
    }
    CGContextRelease(ctx);
}

void cNSWTranslator::onFocus() {
    if (mRoot) mRoot->processOSFocus();
}

void cNSWTranslator::onFocusLost() {
    if (mRoot) mRoot->processOSFocusLost();
}

void cNSWTranslator::_rt_destroy() {
    close();
    // Wake-ups still queued can no longer be delivered.
    while (cActionItem* a = fetchRemoveAction()) {
        if (a->typeOf() == 1) cancelQueued(static_cast<cSentActionItem*>(a)->element, nullptr);
        if (a->typeOf() == 2) cancelQueued(static_cast<cPostActionItem*>(a)->element, nullptr);
        delete a;
    }
}

void cNSWTranslator::_rt_modalresult(int r) {
    mModalResult = r;
    if (r != kModalKeepRunning) endModal(r);
}

void cNSWTranslator::_rt_minimize() { minimize(); }

void cNSWTranslator::_rt_maximize() {
    if (maximize()) requestRepaint(0, 0, 0, 0);
}

bool cNSWTranslator::_rt_changepos(int x, int y, int w, int h) {
    return move(toNative(x), toNative(y), toNative(w), toNative(h));
}

void* cNSWTranslator::_rt_rawhandle() { return handle(); }

void cNSWTranslator::_rt_repaint(sArea* a) {
    if (!a) {
        requestRepaint(0, 0, 0, 0);
        return;
    }
    int l = toNative(a->left), t = toNative(a->top), r = toNative(a->right), b = toNative(a->bottom);
    requestRepaint(l, t, r - l, b - t);
}

bool cNSWTranslator::_rt_send_action(void* e) { return notifyAction(e); }
bool cNSWTranslator::_rt_receive_action(void* e) { return notifyPostAction(e); }

bool cNSWTranslator::_rt_capturepointer(bool on) {
    if (on) return captureMouse();
    cancelCaptureMouse();
    return true;
}

bool cNSWTranslator::_rt_setpointer(int type) {
    if (type == mPointer) return true;
    if (!setPointer(type)) return false;
    mPointer = type;
    return true;
}

bool cNSWTranslator::_rt_setminsize(int w, int h) { return setMinSize(toNative(w), toNative(h)); }
bool cNSWTranslator::_rt_setmaxsize(int w, int h) { return setMaxSize(toNative(w), toNative(h)); }

bool cNSWTranslator::_rt_winpossize(int& x, int& y, int& w, int& h) {
    if (!getPosSize(x, y, w, h)) return false;
    x = fromNative(x);
    y = fromNative(y);
    w = fromNative(w);
    h = fromNative(h);
    return true;
}

bool cNSWTranslator::_rt_desktopsize(int& w, int& h) {
    w = h = 0;
    desktopSize(w, h);
    w = fromNative(w);
    h = fromNative(h);
    return true;
}

bool cNSWTranslator::_rt_blocksleep(char* reason) { return nswg_block_sleep(reason); }
bool cNSWTranslator::_rt_unblocksleep() { return nswg_unblock_sleep(); }
bool cNSWTranslator::_rt_setcaption(char* text) { return setCaption(text ? text : ""); }

bool cNSWTranslator::_rt_copy_text(void* text, long long n) {
    Clipboard clip;
    if (!clip) return false;
    _typebuf<unsigned short> units;
    if (text && n > 0) _pc2w(static_cast<const char*>(text), n, units);
    // The toolkit counts the terminating NUL in n; a trailing U+0000 would
    // reach every program that pastes the text, so it is dropped.
    long long len = units.count();
    while (len > 0 && units[len - 1] == 0) --len;
    MSPasteboardClear(clip.board);
    if (len > 0)
        MSPasteboardPutItemFlavor(clip.board, kClipItem, kMSFlavorUTF16Text, units.data(),
                                  static_cast<size_t>(len) * 2);
    return true;
}

bool cNSWTranslator::_rt_request_copied_text(_typebuf<unsigned char>& out) {
    out.set(0);
    Clipboard clip;
    if (!clip) return false;
    MSPasteboardSynchronize(clip.board);
    std::vector<uint8_t> bytes;
    if (!clip.read(kMSFlavorUTF16Text, bytes)) return true;
    size_t n = bytes.size() / 2;
    // Other programs may have put a terminator on their text.
    std::vector<unsigned short> units(n);
    if (n) std::memcpy(units.data(), bytes.data(), n * 2);
    while (n > 0 && units[n - 1] == 0) --n;
    if (n == 0) return true;
    _typebuf<char> utf8;
    _w2pc(units.data(), static_cast<long long>(n), utf8);
    out.copyFrom(reinterpret_cast<unsigned char*>(utf8.data()), utf8.count());
    return true;
}

bool cNSWTranslator::_rt_request_has_copied(bool) {
    Clipboard clip;
    if (!clip) return false;
    std::vector<uint8_t> bytes;
    return clip.read(kMSFlavorUTF16Text, bytes) && !bytes.empty();
}

bool cNSWTranslator::_rt_copy_raw(void* data, long long n) {
    Clipboard clip;
    if (!clip) return false;
    MSPasteboardClear(clip.board);
    if (data && n > 0) MSPasteboardPutItemFlavor(clip.board, kClipItem, kMSFlavorRaw, data, static_cast<size_t>(n));
    return true;
}

bool cNSWTranslator::_rt_request_copied_raw(_typebuf<unsigned char>& out) {
    out.set(0);
    Clipboard clip;
    if (!clip) return false;
    std::vector<uint8_t> bytes;
    if (!clip.read(kMSFlavorRaw, bytes)) clip.read(kMSFlavorUTF16Text, bytes);
    if (!bytes.empty()) out.copyFrom(bytes.data(), static_cast<long long>(bytes.size()));
    return true;
}

cFontObject* cNSWTranslator::_rt_createfont(int i, int size, char* face, bool bold, bool underline, bool italic) {
    return cFontObject::get(toNative(i), toNative(size), face, bold, underline, italic);
}

cCiomLangData* cNSWTranslator::_rt_getnamedlangsection(char* name) {
    if (!mLang || !name) return nullptr;
    return mLang->section(name);
}

bool cNSWTranslator::_rt_textbox(cFontObject* font, char* text, sSize& size) {
    if (!font || !text) return false;
    sSize s;
    if (!font->getTextDim(nullptr, text, static_cast<long long>(std::strlen(text)), s)) return false;
    size.w = fromNative(s.w);
    size.h = fromNative(s.h);
    return true;
}

cWindowHolder* cNSWTranslator::_rt_popup(int x, int y, int w, int h, cChildElement* root, bool focus) {
    if (!root) return nullptr;
    auto* holder = new cNSWHolder(root, mLang, mScale);
    root->setWinTarget(holder->target(), x, y, w, h);
    cNSWTranslator& t = holder->translator();
    if (!t.create_popup(toNative(x), toNative(y), toNative(w), toNative(h))) {
        delete holder;
        return nullptr;
    }
    t.show();
    if (focus) t.focus();
    return holder;
}

int cNSWTranslator::runModal(char* title, int x, int y, int w, int h, cChildElement* root, bool resizable,
                             bool popup) {
    if (!root) return -1;
    if (mRoot) mRoot->processMouseMove(-1, -1);
    cNSWHolder holder(root, mLang, mScale);
    root->setWinTarget(holder.target(), popup ? x : 0, popup ? y : 0, w, h);
    cNSWTranslator& t = holder.translator();
    bool made = popup ? t.create_popup(toNative(x), toNative(y), toNative(w), toNative(h))
                      : t.create_wnd(title ? title : "", toNative(w), toNative(h), resizable, -1, -1);
    if (!made) return 0;
    return t.modal(handle() ? this : nullptr);
}

int cNSWTranslator::_rt_modal(char* title, int w, int h, cChildElement* root, bool resizable) {
    return runModal(title, 0, 0, w, h, root, resizable, false);
}

int cNSWTranslator::_rt_modal_popup(int x, int y, int w, int h, cChildElement* root) {
    return runModal(nullptr, x, y, w, h, root, false, true);
}

bool cNSWTranslator::_rt_focus() { return focus(); }

// ---------------------------------------------------------------------------
// Holder

cNSWHolder::~cNSWHolder() { mTranslator._rt_destroy(); }

void cNSWHolder::dispose(bool keepRoot) {
    if (keepRoot) mTranslator.releaseRoot();
    delete this;
}

// ---------------------------------------------------------------------------
// Maker

cNSWMaker::~cNSWMaker() { mWindows.destroy(); }

bool cNSWMaker::create(void*, void*, unsigned int) {
    nswnd_init();
    return true;
}

cCanvas* cNSWMaker::offscreen(int w, int h) {
    if (w < 1 || h < 1) return nullptr;
    auto* c = new cCrbOffscreenCanvas;
    if (!c->create(w, h)) {
        delete c;
        return nullptr;
    }
    c->setScale(mScale);
    return c;
}

int cNSWMaker::modal(char* title, int w, int h, cChildElement* root, cWindowRequestTarget* owner, bool resizable) {
    if (owner) return owner->_rt_modal(title, w, h, root, resizable);
    cNSWHolder top(nullptr, mLang, mScale);
    return top.translator()._rt_modal(title, w, h, root, resizable);
}

cWindowHolder* cNSWMaker::asyncwnd(char* title, int w, int h, cChildElement* root, cWindowRequestTarget*,
                                   bool resizable, int x, int y) {
    if (!root) return nullptr;
    auto* holder = new cNSWHolder(root, mLang, mScale);
    root->setWinTarget(holder->target(), x, y, w, h);
    cNSWTranslator& t = holder->translator();
    if (!t.create_wnd(title ? title : "", t.toNative(w), t.toNative(h), resizable, x, y)) {
        delete holder;
        return nullptr;
    }
    return holder;
}

void cNSWMaker::destroy(cWindowHolder* holder) {
    if (!holder) {
        mWindows.destroy();
        return;
    }
    if (mWindows.dettach(holder)) delete holder;
}

int cNSWMaker::msgloop() {
    nswnd_msgloop();
    return 0;
}

bool cNSWMaker::recommendMainWindowSize(sRect& r) {
    int x = -1, y = -1, w = 0, h = 0;
    nswnd_main_optimal(x, y, w, h);
    cNSWTranslator t(nullptr, nullptr, mScale);
    r.x = -1;
    r.y = -1;
    r.w = t.fromNative(w);
    r.h = t.fromNative(h);
    return true;
}

bool cNSWMaker::desktopSize(sSize& s) {
    cNSWTranslator t(nullptr, nullptr, mScale);
    return t._rt_desktopsize(s.w, s.h);
}

namespace {
cWindowMaker* makeNSWMaker() { return new cNSWMaker; }
}  // namespace

void installNSWMaker() { __setNewPlatformWindowMaker(&makeNSWMaker); }
