// cHintMaster: a tooltip.  It is the root element of a small popup window
// that shows one or more lines of text under (or above) an element.
//
// Ownership: the element that shows the hint owns the hint master (through
// its shown-hint pointer) and deletes it; the hint master owns its popup
// and disposes of it when it goes.  The popup window never deletes its root,
// and the hint master forgets the popup's window target before the element
// core would ask that (already disposed) window to destroy itself.
#pragma once

#include "uitoolkit/element.h"
#include "uitoolkit/window.h"

class cHintMaster : public cChildElement, public cShownHint {
public:
    // Passed as a colour: the theme's hint colour.
    static const unsigned int kThemeColour = 0xFF000000u;

    cHintMaster();
    ~cHintMaster() override;

    // Shows text for owner at a screen position (null: under the owner, or
    // above it in mode 1); false when there is nothing to show or no popup
    // could be opened.
    bool show(cChildElement* owner, const char* text, sPoint* at, unsigned int bg, unsigned int fg, int mode);
    bool hide();
    void set(cWindowHolder* popup);
    cWindowHolder* popupHolder() const { return mPopup; }
    // Copies text up to the first '\n' (or its end) into out; returns the
    // position after the '\n', or null at the end.
    static const char* line(const char* text, _guardchar<char>& out);

    unsigned int bgColor() const { return mBg; }
    unsigned int textColor() const { return mFg; }
    int lineHeight() const { return mLineH; }

    void onPaint(cCanvas* canvas) override;

private:
    cWindowHolder* mPopup = nullptr;
    unsigned int mBg = 0;
    unsigned int mFg = 0;
    int mLineH = 0;
};

// The element core's hint maker: a hint master showing the text, or null
// when it shows nothing.
cShownHint* makeHintMaster(cChildElement* at, const char* text, int mode);
// Installs makeHintMaster as the element core's hint maker.
void installHintMaster();
