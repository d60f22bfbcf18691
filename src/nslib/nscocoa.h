// The native window, view and application classes: they turn every event of
// a window into one call of its event callback with a numbered record, keep
// the window's modal result, caption and open sheets, and close
// pointer-capturing popups when the user works outside them.
#pragma once

#include <string>
#include <vector>

#include "macshim/appkit.h"
#include "nslib/nsrecords.h"

class cNSWndWrapper : public MSWindow {
public:
    cNSWndWrapper(MSRect contentRect, unsigned styleMask);
    ~cNSWndWrapper() override;

    void setEventCallback(tNSEventCallback proc, void* param);
    void initVars();
    bool isValid() const { return myEventCbProc != nullptr; }
    // The parameter handed back with every event (the window object), or
    // null while detached.
    void* eventParam() const { return myEventCbParam; }

    int modalRC() const { return myModalRC; }
    void setModalRC(int rc) { myModalRC = rc; }
    // The innermost sheet open on this window, or null.  Sheets opened while
    // another is open stack up; ending one uncovers the one below.
    cNSWndWrapper* modalChild() const { return myModalChildren.empty() ? nullptr : myModalChildren.back(); }
    void pushModalChild(cNSWndWrapper* child);
    void removeModalChild(cNSWndWrapper* child);
    int headerHeight() const { return myHdrHeight; }
    void setHeaderHeight(int h) { myHdrHeight = h; }
    bool fixedPos() const { return myPosFixed; }
    void setFixedPos(bool on) { myPosFixed = on; }

    void setCaption(const std::string& caption);
    void setUTF8Caption(const char* utf8);
    void resetCaption();
    void setCursor(MSCursor* cursor);

    // Whether an event meant for `parent` is swallowed while this window is
    // open as a sheet on it.
    bool processParentEvent(const MSEvent& e, cNSWndWrapper* parent);
    void simClickOut();
    // Offers this window the pending request to quit: false when its
    // handler refuses; else its modal loop ends (with 0 unless a result
    // was stored meanwhile).
    bool offerQuit();
    // An event of another application at a point of this window's content.
    void extMouseEvent(int type, int x, int y);
    void processPaint(void* context, MSRect rect);

    // Keeps the object alive across a call that may destroy the window.
    void retain() { ++myRefs; }
    void release();

    bool canBecomeKeyWindow() override { return true; }
    bool windowShouldClose() override;
    MSSize windowWillResize(MSSize proposed) override;
    void mouseDown(const MSEvent& e) override;
    void rightMouseDown(const MSEvent& e) override;
    void mouseUp(const MSEvent& e) override;
    void rightMouseUp(const MSEvent& e) override;
    void mouseMoved(const MSEvent& e) override;
    void mouseDragged(const MSEvent& e) override;
    void rightMouseDragged(const MSEvent& e) override;
    void scrollWheel(const MSEvent& e) override;
    void mouseEntered(const MSEvent& e) override;
    void mouseExited(const MSEvent& e) override;
    void keyDown(const MSEvent& e) override;
    void keyUp(const MSEvent& e) override;
    void becomeKeyWindow() override;
    void resignKeyWindow() override;
    void sendEvent(const MSEvent& e) override;

private:
    int call(int code, void* record);
    void button(const MSEvent& e, bool down, int button);
    void move(const MSEvent& e, bool left, bool right);
    int32_t xOf(const MSEvent& e) const;
    int32_t yOf(const MSEvent& e) const;

    tNSEventCallback myEventCbProc = nullptr;
    void* myEventCbParam = nullptr;
    int32_t myHdrHeight = 0;
    int32_t myModalRC = kNSModalRunning;
    std::vector<cNSWndWrapper*> myModalChildren;
    std::string myCaption;
    bool myHasCaption = false;
    bool myPosFixed = false;
    int myRefs = 1;
};

class cNSViewWrap : public MSView {
public:
    cNSViewWrap() = default;
    void drawRect(MSRect dirty) override;
    bool isOpaque() override { return false; }
    bool acceptsFirstMouse(const MSEvent*) override { return true; }
    void resetCursorRects() override;
    void setCursor(MSCursor* cursor) { myCursor = cursor; }
    MSCursor* cursor() const { return myCursor; }

private:
    MSCursor* myCursor = nullptr;
};

class cAppWrapper : public MSApplication {
public:
    void sendEvent(const MSEvent& e) override;
    void terminateRequested() override;

private:
    // The release type to drop: the end of a press that went to the
    // capture window from elsewhere; 0 when none.
    int mSwallowRelease = 0;
};
