// cSiDocViewer: shows one document box tree in a vertically scrolling
// element.  The document is laid out to the element's width once and drawn
// into an offscreen canvas as tall as the document; painting copies the
// visible slice.  Links report where they were drawn; a click that presses
// and releases on the same link opens its target.
//
// Link targets come from installer packages and are not trusted: only web
// and mail addresses (http, https, mailto) are opened, through the desktop
// opener with the address as one argument, never through a shell.
#pragma once

#include "cihlpdoc/sidoc.h"
#include "uitoolkit/scrollable.h"

#include <map>
#include <vector>

class cSiDocViewer : public cScrollableElement, public cSiDocActiveTarget {
public:
    typedef bool (*tOpener)(const char* target);

    cSiDocViewer();
    ~cSiDocViewer() override;

    // Stores the background; 0 when doc is the one shown already, otherwise
    // shows doc (rendered at the next paint) and answers 1.
    int refSiDoc(cSiDocBox* doc, unsigned int background);
    // Drops the render and the link areas of it; the next paint renders.
    void rebuild();
    // The link target whose drawn area holds the element point, or null.
    char* getRef(int x, int y);
    // True for a target that may be opened: an http, https or mailto
    // address without spaces or control characters.
    static bool openableTarget(const char* ref);
    // The opener links use (null: the desktop opener); returns the one
    // installed before.
    static tOpener setOpener(tOpener opener);

    virtual void onActiveZone(char* ref);
    void resetActive() override;
    void setActive(char* ref, int x, int y, int w, int h) override;

    void onSizeChanged() override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    void onMouseMoving(int x, int y) override;
    void onKey(int key, bool shift, bool ctrl, bool alt) override;
    // A stop of the Tab key like every control that takes the focus: the
    // arrow and page keys scroll the document.
    bool wantTabStop() override { return true; }
    bool wantCaptureArrows() override { return true; }
    void onPaintArea(cCanvas* canvas) override;

    cCanvas* render() const { return mRender; }
    unsigned int background() const { return mBg; }
    std::size_t linkCount() const { return mLinks.size(); }

private:
    void fillPaint(cCanvas* canvas);
    void dropRender();

    cCanvas* mRender = nullptr;
    int mRenderW = 0;
    cSiDocBox* mDoc = nullptr;
    unsigned int mBg = 0xFFFFFF;
    char* mPressedRef = nullptr;
    // Link target (by address) -> its drawn rectangles, right and bottom
    // inclusive, in render coordinates.
    std::map<char*, std::vector<sArea>> mLinks;
};
