// cChildElement: the one base of everything the user sees.  Elements form
// trees; the root of a tree is bound to a native window through a
// cWindowRequestTarget and every other element reaches that window by
// climbing to the root.  An element paints itself and its children through
// cCanvas, routes pointer and key input down the tree, keeps a focus path,
// and carries two action queues through which other elements and worker
// threads talk to it (the only way another thread may touch the tree).
//
// Children are kept in attach order: painting, hit-testing, closing, layout
// and the child walk all visit them in that order, so what lies on top of
// what never depends on where the allocator put an element.
#pragma once

#include "base/buffers.h"
#include "base/lists.h"
#include "base/sync.h"
#include "uitoolkit/canvas.h"
#include "uitoolkit/geometry.h"

#include <map>
#include <unordered_map>

class cWindowRequestTarget;
class cWindowHolder;
class cCiomLangData;

// How a child follows its parent's scrolling.
enum eControlPartType {
    cptScrolled = 0,      // scrolls with the content on both axes
    cptFixed = 1,         // fixed on both axes (scroll bars)
    cptFixedVertical = 2, // does not follow vertical scrolling (headers)
    cptFixedHorizontal = 3
};

// Something shown for an element's hint; the hint popup implements it.
class cShownHint {
public:
    virtual ~cShownHint() = default;
};
// Makes the hint popup for an element: text, mode (0 below, 1 above).  Null
// when the hint cannot be shown.  Without a maker no hint is shown.
typedef cShownHint* (*tHintMaker)(class cChildElement* at, const char* text, int mode);
tHintMaker __setHintMaker(tHintMaker maker);

// The millisecond clock double clicks are timed by (ticks_ms unless a test
// installs another); returns the one installed before (null: ticks_ms).
typedef unsigned int (*tElementClock)();
tElementClock __setElementClock(tElementClock clock);

// The standard face name the std fonts use: the platform layer installs its
// reader (its _glbalStdFont); without one the face is "Helvetica".  Returns
// the reader installed before.
typedef const char* (*tStdFontFace)();
tStdFontFace __setStdFontFace(tStdFontFace face);
const char* stdFontFace();

class cChildElement {
public:
    // ---- Actions -----------------------------------------------------------
    class cChildAction : public cListItem {
    public:
        explicit cChildAction(int code = 0) : mCode(code) {}
        ~cChildAction() override = default;
        int code() const { return mCode; }
        // Called once the drain has offered the action to its handlers.
        virtual void actionDone() {}
        // Called instead of actionDone when the action is dropped unhandled
        // because its element died or its wake-up failed.
        virtual void actionAbandoned() {}

    private:
        int mCode;
    };

    enum eEventOrigin { eoOther = 0, eoPointer = 1, eoDirect = 2 };

    enum eMousePointerTypes {
        mptArrow = 0, mptIBeam = 1, mptCross = 2, mptHand = 3, mptSizeWE = 4, mptSizeNS = 5,
        mptSizeWE2 = 6, mptSizeNS2 = 7, mptGrab = 8, mptGrab2 = 9
    };

    class cFocusAction : public cChildAction {
    public:
        explicit cFocusAction(int from) : cChildAction(1), origin(from) {}
        int origin;
    };
    class cCtxRequestAction : public cChildAction {
    public:
        cCtxRequestAction(int atX, int atY, bool f1, bool f2, bool f3)
            : cChildAction(2), x(atX), y(atY), flag1(f1), flag2(f2), flag3(f3) {}
        int x, y;
        bool flag1, flag2, flag3;
    };
    class cDoubleClickAction : public cChildAction {
    public:
        cDoubleClickAction(int atX, int atY) : cChildAction(3), x(atX), y(atY) {}
        int x, y;
    };
    // An action whose sender waits for it: actionDone releases the sender
    // with success, actionAbandoned with failure.
    class cSentChildAction : public cChildAction {
    public:
        explicit cSentChildAction(int code) : cChildAction(code) {}
        void actionDone() override;
        void actionAbandoned() override;

    private:
        friend class cChildElement;
        cEvent* mEvent = nullptr;
        bool* mDelivered = nullptr;
    };

    cChildElement();
    virtual ~cChildElement();
    cChildElement(const cChildElement&) = delete;
    cChildElement& operator=(const cChildElement&) = delete;

    // ---- Virtual operations ----------------------------------------------
    virtual void notifyHover(cChildElement* e);
    virtual bool processTab(bool forward);
    virtual bool processArrowTab(bool forward, bool a, bool b);
    virtual bool repaintReq(sArea* area);
    virtual bool pointerCaptureReq(cChildElement* child, bool capture);
    virtual void focusReq(cChildElement* e, int, int);
    virtual void processPaint(cCanvas* canvas);
    virtual void processErase(cCanvas*) {}
    virtual bool processSizeChanges(int w, int h, bool force);
    virtual void processOSFocus();
    virtual void processFocus(int x, int y, int button, bool m1, bool m2);
    virtual void processFocusDirect(cChildElement* target);
    virtual void processMouseBtn(int x, int y, int button, bool down, bool m1, bool m2);
    virtual void processMouseMove(int x, int y);
    virtual bool processMouseWheel(int x, int y, bool up, bool horizontal, int amount);
    virtual void processOSFocusLost();
    virtual void processFocusLost(bool a, bool b);
    virtual bool processChar(unsigned short ch, bool a, bool b, bool c);
    virtual bool processKey(int key, bool shift, bool ctrl, bool alt);
    virtual bool processAction(cChildElement* src, cChildAction* a);
    virtual bool processActionFirst(cChildElement* e);
    virtual bool processPostFirst(cChildElement* e);
    virtual bool processActionNotify(cChildElement* e);
    virtual bool processPostNotify(cChildElement* e);
    virtual bool processPosQuery(sPoint& p);
    virtual void processConstruct();
    virtual bool processClose();
    virtual void processDettach(cChildElement* child);
    virtual void processEnableChange(bool e);
    virtual bool requestCustomBackgroundInt(cCanvas* c, sRect* r);
    virtual bool requestCustomBackground(cCanvas* c, sRect* r);
    virtual bool requestOSWinFocus();
    virtual const char* text() const { return mText.get(); }
    virtual const char* hint() const { return mHint.get(); }
    virtual void text(char* buf, long long size) const;
    virtual void setText(const char* text, long long len, bool repaint);
    virtual void wipeText();
    virtual void setHint(const char* text, int mode);
    virtual void virtualSize(sSize* s);
    virtual void virtualOffset(sPoint* p);
    virtual void clientRect(sRect* r);
    virtual void onConstruct() {}
    virtual void onErase(cCanvas*) {}
    virtual void onPaint(cCanvas*) {}
    virtual bool onBackgroundRequest(cCanvas*, sRect*) { return false; }
    virtual void onSizeChanged() {}
    virtual bool onMouseButton(int, int, int, bool) { return false; }
    virtual void onMouseMoving(int x, int y);
    virtual bool onMouseWheel(int, int, bool, bool, int) { return false; }
    virtual void onMouseOver();
    virtual void onMouseLeft();
    virtual void onMouseDoubleClick(int x, int y);
    virtual void onChar(unsigned short, bool, bool, bool) {}
    virtual void onKey(int, bool, bool, bool) {}
    virtual bool onAction(cChildElement* src, cChildAction* a);
    virtual bool onClose() { return true; }
    virtual void onEnableChanged(bool) {}
    virtual void onSetFocusEvent(eEventOrigin, bool a, bool b) { onSetFocus(a, b); }
    virtual void onSetFocus(bool, bool) {}
    virtual void onLooseFocus(bool, bool) {}
    virtual void onLooseFocusChild(cChildElement*, bool, bool) {}
    virtual bool onMenuActivate();
    virtual bool attach(cChildElement* child, int x, int y, int w, int h, eControlPartType part = cptScrolled);
    virtual bool dettach(cChildElement* child);
    virtual bool move(int x, int y, int w, int h);
    virtual bool capturePointer(bool keepChildren);
    virtual bool releasePointer();
    virtual bool canTabStop() const { return mTabStop && mAcceptsFocus; }
    virtual void setTabStop(bool b) { mTabStop = b; }
    virtual bool canArrowTabStop() const { return mArrowTabStop; }
    virtual void setArrowTabStop(bool b) { mArrowTabStop = b; }
    virtual void focus();
    virtual void setTransparent(bool b);
    virtual cFontObject* createFont(int width, int size, const char* face, bool bold, bool underline, bool italic);
    virtual bool wantDoubleBuffer() { return false; }
    virtual bool wantTabStop() { return false; }
    virtual bool wantFullRepaint() { return false; }
    virtual bool wantCaptureArrows() { return false; }
    virtual bool wantAcceptFoucs() { return true; }
    virtual bool wantCyclicArrowTabStop() { return false; }
    virtual int wantBorderWidth() { return 0; }
    virtual const char* wantLangResource() { return nullptr; }
    virtual eMousePointerTypes defaultPointer() { return mptArrow; }
    virtual bool changePointerReq(eMousePointerTypes type);
    virtual void onInitData();

    // ---- Tree and geometry -----------------------------------------------
    bool anchor(cChildElement* child, int x, int y, int w, int h);
    cChildElement* getFirstChild() const;
    cChildElement* getNextChild(cChildElement* c) const;
    bool isDirectChild(cChildElement* c) const { return mIndexOf.count(c) != 0; }
    bool isChild(cChildElement* c) const;
    cChildElement* parent() const { return mParent; }
    int width() const { return mRect.w; }
    int height() const { return mRect.h; }
    bool childRect(sRect* r) const;
    bool childRect(cChildElement* c, sRect* r) const;
    bool inme(int x, int y) const { return x >= 0 && y >= 0 && x < mRect.w && y < mRect.h; }
    bool absPos(sPoint& p);
    bool setMinSize(int w, int h);
    bool setMaxSize(int w, int h);
    int minWidth() const { return mMinW == -1 ? 0 : mMinW; }
    int minHeight() const { return mMinH == -1 ? 0 : mMinH; }
    void show(bool repaint);
    void hide(bool repaint);
    bool visible() const;
    bool visible_child() const { return mVisible; }
    void enable();
    void disable(bool repaint);
    bool enabled() const;
    bool enabled_child() const { return mEnabled; }
    bool transparent() const { return mTransparent; }
    void setDoubleBuffer(bool b) { mDoubleBuffer = b; }
    bool doubleBuffer() const { return mDoubleBuffer; }
    void setAcceptFocus(bool b) { mAcceptsFocus = b; }
    bool acceptsFocus() const { return mAcceptsFocus; }
    void setNotifyDoubleClick(bool b) { mNotifyDoubleClick = b; }
    void setDefaultBackgroundColor(unsigned int c) { mDefaultBg = c & 0xFFFFFF; }
    unsigned int defaultBackgroundColor() const { return mDefaultBg; }
    void setWinTarget(cWindowRequestTarget* t, int x, int y, int w, int h);
    cWindowRequestTarget* winTarget() const { return mTarget; }
    bool attached() const { return mAttached; }
    void repaint(sRect* r = nullptr);
    void setCaption(const char* text, long long len);
    // The index a child was attached with (-1 when not a child).
    int attachIndex(cChildElement* c) const;

    // ---- Language and fonts ----------------------------------------------
    void setLangData(cCiomLangData* d) { mLang = d; }
    cCiomLangData* langData() const { return mLang; }
    cCiomLangData* requestNamedLangResource(const char* name);
    const char* string(int index);
    const char* string(cChildElement* via, int index);
    cFontObject* stdFont();
    cFontObject* stdFontUnderlined();
    cFontObject* stdFontItalic();
    cFontObject* stdFontBold();

    // ---- Actions -----------------------------------------------------------
    void notifyAction(cChildAction* a);
    void notifyAction(int code);
    void postAction(cChildAction* a);
    bool sendAction(cSentChildAction* a);
    // Drops both action queues; a thread waiting in sendAction is released
    // with a failure.  For a window that can no longer deliver them.
    void abandonQueuedActions() { freeQueues(); }
    static bool valid(cChildElement* e);

    // ---- Input and focus -------------------------------------------------
    void setPointer(eMousePointerTypes t) { mPointer = t; }
    eMousePointerTypes pointer() const { return mPointer; }
    cChildElement* getFocused();
    bool focused() const { return mOwnFocus; }
    bool hasFocus() const { return mOwnFocus || mFocusedChild; }
    cChildElement* focusedChild() const { return mFocusedChild; }
    cChildElement* captureChild() const { return mCaptureChild; }
    cChildElement* hoverElement() const { return mHover; }
    cShownHint* shownHint() const { return mShownHint; }

    // ---- Window forwarders -----------------------------------------------
    int modal(const char* title, int w, int h, cChildElement* root, bool resizable);
    cWindowHolder* popup(int x, int y, int w, int h, cChildElement* root, bool focus);
    int modal_popup(int x, int y, int w, int h, cChildElement* root);
    bool end_modal(int result);
    bool clipboardCopyText(const char* text, long long len);
    bool clipboardCopy(const void* data, long long len);
    bool clipboardRequest(_typebuf<unsigned char>& out);
    bool clipboardTest(bool text);
    bool clipboardRequestText(_typebuf<char>& out);
    bool clipboardRequestText(_guardchar<char>& out);
    bool desktopSize(sSize& s);
    bool maxWinSize(sSize& s);
    int screenDPI();
    bool blockSystemSleep(const char* reason);
    bool unblockSystemSleep();
    bool sizeOf(const char* text, sSize& s, cFontObject* font);

protected:
    // The element that holds the window target (normally the root); null
    // when none is reachable.
    cWindowRequestTarget* reachTarget() const;
    // The window at the root of this element's tree, read under the action
    // lock (see the action queues).
    cWindowRequestTarget* queueTarget() const;
    static void setParentLink(cChildElement* child, cChildElement* parent);
    cChildElement* root();
    bool fixedH() const { return mParent && mFixedHParent == mParent; }
    bool fixedV() const { return mParent && mFixedVParent == mParent; }
    // The child under (px, py) in this element's coordinates; the point
    // becomes the child's.  needEnabled skips disabled children.
    cChildElement* hitChild(int& px, int& py, bool needEnabled, cChildElement* after = nullptr);
    // The point translated into child coordinates, no bounds test.
    void toChild(cChildElement* c, int& x, int& y);
    // Visible part of child c in this element's coordinates (step 2 of paint).
    void childVisibleRect(cChildElement* c, const sRect& client, const sPoint& off, sRect& out, sRect* full);
    void repaintChildChange(const sRect& old, const sRect& now, bool stopWhenHeightSame);
    void freeQueues();

    cShownHint* mShownHint = nullptr;
    _guardchar<char> mHint;
    int mHintMode = 0;
    cList mNotifyQueue;
    cList mPostQueue;
    cCiomLangData* mLang = nullptr;
    cWindowRequestTarget* mTarget = nullptr;
    _guardchar<char> mText;
    int mMinW = -1, mMinH = -1;
    int mMaxW = -1, mMaxH = -1;
    cChildElement* mFocusedChild = nullptr;
    bool mOwnFocus = false;
    cChildElement* mSavedFocus = nullptr;
    // Attach order: index -> child, and child -> index.
    std::map<int, cChildElement*> mOrder;
    std::unordered_map<cChildElement*, int> mIndexOf;
    struct sAnchor {
        int x, y, w, h;
    };
    std::unordered_map<cChildElement*, sAnchor> mAnchors;
    cChildElement* mParent = nullptr;
    sRect mRect;
    bool mTransparent = false;
    bool mEnabled = true;
    bool mTabStop = false;
    bool mArrowTabStop = false;
    bool mCyclicArrows = false;
    bool mDoubleBuffer = false;
    bool mFullRepaint = false;
    bool mVisible = true;
    bool mAttached = false;
    bool mAcceptsFocus = true;
    bool mExclusiveCapture = false;
    int mBorderWidth = 0;
    bool mNotifyDoubleClick = false;
    cChildElement* mCaptureChild = nullptr;
    cChildElement* mHover = nullptr;
    cChildElement* mFixedVParent = nullptr;
    cChildElement* mFixedHParent = nullptr;
    unsigned int mLastClickTime = 0;
    int mLastClickX = -1, mLastClickY = -1;
    unsigned int mDefaultBg = 0xFFFFFF;
    eMousePointerTypes mPointer = mptArrow;
};
