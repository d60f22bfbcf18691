// cCustomForm: the root element of every dialog and window.  It draws a
// frame from eight theme pictures around a client panel (where the form's
// controls go), reports the end of its construction through an action, and
// maps Escape and keypad Enter to cancel and accept.
#pragma once

#include "uitoolkit/panel.h"

#include <initializer_list>

class cPicturesList;
class cToolBarChild;

class cCustomForm : public cChildElement {
public:
    // drawSkin flags.
    enum : unsigned int {
        cdNoRightAndBottom = 1,  // stop after the bottom corners
        cdNoTop = 2,             // no top band
        cdNoLeftAndCorners = 4   // no bottom corners and no left column
    };
    static constexpr int kKeyEscape = 0x11B;
    static constexpr int kKeyPadEnter = 0x18D;
    // The code of the action a form notifies on itself once constructed.
    static constexpr int kConstructedAction = 6;

    cCustomForm();
    ~cCustomForm() override;

    virtual void drawSkin(cCanvas* canvas, int dx, int dy);
    virtual bool onAfterConstruct() { return false; }
    virtual bool onFormCancel() { return false; }
    virtual bool onFormAccept() { return false; }

    cPanelChild* clientArea() { return &mClient; }
    bool setTopMargin(int m);
    bool setBottomMargin(int m);
    int topMargin() const { return mTop; }
    int bottomMargin() const { return mBottom; }
    void setCustomDraw(unsigned int bits, bool on) { mCustomDraw = on ? (mCustomDraw | bits) : (mCustomDraw & ~bits); }

    // One button of a dialog's button bar: its id, text and picture index.
    struct sBarButton {
        int id;
        const char* text;
        int image;
    };
    // Attaches bar with these buttons, drawn from pictures, in the band
    // under the client area at the form's right edge, as wide as its
    // buttons want: where every dialog keeps its accept and cancel.
    void placeButtonBar(cToolBarChild& bar, cPicturesList* pictures, std::initializer_list<sBarButton> buttons);

    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    void onConstruct() override;
    void onPaint(cCanvas* canvas) override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* r) override;
    void onSizeChanged() override;
    bool onAction(cChildElement* src, cChildAction* a) override;

private:
    int sideWidth();
    bool anchorClient();

    cPanelChild mClient;
    int mTop = 0;
    int mBottom = 0;
    unsigned int mCustomDraw = 0;
};
