// cPopupMaster: a list of entries shown as a column of buttons in a modal
// popup window; answers the id of the entry picked, or -1.  Combo boxes
// use it for their drop-down list, other controls for context menus.  A
// list taller than its window scrolls.
#pragma once

#include "base/treelist.h"
#include "uitoolkit/button.h"
#include "uitoolkit/scrollable.h"

#include <memory>
#include <vector>

// One entry of a list shown by a popup or a tool bar's overflow; the texts
// belong to the caller.
struct sActiveElementItem {
    const char* text = nullptr;
    const char* hint = nullptr;
    int image = -1;           // index into the caller's picture list, -1: none
    int height = 0;           // 0 or less: as tall as its text or image needs
    void* association = nullptr;
};
typedef cFasterTreeList<int, sActiveElementItem> tActiveElementItems;

class cPopupMaster : public cScrollableElement {
public:
    static const unsigned int kUnset = 0xFFFFFFFFu;

    struct sPopupConfig {
        sPopupConfig();
        int minWidth = 0;
        cPicturesList* pictures = nullptr;
        int selected = -1;
        unsigned int bg, text;
        unsigned int hoverBg = kUnset, hoverText = kUnset, pressedBg = kUnset, pressedText = kUnset;
        unsigned int focusedBg = kUnset, focusedText = kUnset;
        unsigned int border;
        cFontObject* font = nullptr;
        // The height of the control the popup drops from, which ends at
        // the popup's anchor point: a list that has to open upwards opens
        // above the control rather than over it.  0: a bare point (a
        // context menu), and the list opens upwards from the point itself.
        int openerHeight = 0;
    };

    cPopupMaster(tActiveElementItems* entries, const sPopupConfig& cfg);
    ~cPopupMaster() override;

    // The entry points with every setting spelt out: the minimum width,
    // the pictures, the entry that takes the focus, the background, text
    // and border colours (0xFFFFFFFF border: the theme's), the font (null:
    // the owner's standard font) and the six state colours (hover, pressed
    // and focused background and text; kUnset: not set).
    static int simplePopup(cChildElement* owner, tActiveElementItems& entries, int x, int y, int minWidth,
                           cPicturesList* pictures, int selected, unsigned int bg, unsigned int text,
                           unsigned int border, cFontObject* font, unsigned int hoverBg = kUnset,
                           unsigned int hoverText = kUnset, unsigned int pressedBg = kUnset,
                           unsigned int pressedText = kUnset, unsigned int focusedBg = kUnset,
                           unsigned int focusedText = kUnset);
    static int runPopUp(cChildElement* owner, tActiveElementItems& entries, cPicturesList* pictures, int x, int y,
                        int w, int h, int selected, unsigned int bg, unsigned int text, unsigned int border,
                        cFontObject* font, unsigned int hoverBg = kUnset, unsigned int hoverText = kUnset,
                        unsigned int pressedBg = kUnset, unsigned int pressedText = kUnset,
                        unsigned int focusedBg = kUnset, unsigned int focusedText = kUnset);
    // The same settings gathered in one record (null: a white list with
    // black text, the theme's border and the standard font).
    static int simplePopup(cChildElement* owner, tActiveElementItems& entries, int x, int y, sPopupConfig* cfg);
    static int runPopUp(cChildElement* owner, tActiveElementItems& entries, int x, int y, int w, int h,
                        const sPopupConfig& cfg);
    static bool evalSize(cChildElement* owner, tActiveElementItems& entries, cPicturesList* pictures, sSize& out,
                         cFontObject* font);

    // One button shown, with the id and the entry it stands for.
    struct cBtnListItem {
        std::unique_ptr<cButtonChild> button;
        int id;
        const sActiveElementItem* entry;
    };

    // The buttons shown, in id order, with their entry ids.
    std::size_t buttonCount() const { return mButtons.size(); }
    cButtonChild* button(std::size_t i) const { return mButtons[i].button.get(); }
    int buttonId(std::size_t i) const { return mButtons[i].id; }

    void processOSFocus() override {}
    void processOSFocusLost() override {}
    bool processKey(int key, bool shift, bool ctrl, bool alt) override;
    void onConstruct() override;
    bool onBackgroundRequest(cCanvas* canvas, sRect* r) override;
    bool onMouseButton(int x, int y, int button, bool down) override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    void onLooseFocus(bool a, bool b) override;
    void onInitData() override;
    bool wantDoubleBuffer() override { return true; }
    int wantBorderWidth() override { return 1; }
    void onPaintArea(cCanvas* canvas) override;

private:
    void finish(int result);
    void dropButtons();

    tActiveElementItems* mEntries;
    sPopupConfig mCfg;
    cPicture mHoverPic, mPressedPic, mFocusedPic;
    std::vector<cBtnListItem> mButtons;
    bool mFinished = false;
};
