// Selectable items driven by pointer, focus and key events: the colour
// schema and image of each state, and the selection (6) and activation (7)
// actions they report.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/selectable.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cTestWindowTarget;

namespace {

class cActionRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        if (auto* s = dynamic_cast<cSelectableElement::cSelectableSelectAction*>(a))
            log += "6" + std::string(s->flagA ? "a" : "") + std::string(s->flagB ? "b" : "") + " ";
        else if (a->code() == 7)
            log += "7 ";
        return true;
    }
    std::string log;
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        win.bind(&root, 200, 100);
        root.attach(&item, 10, 10, 80, 20);
        root.attach(&other, 10, 40, 80, 20);
        std_.create(0xFF000001u, 4, 4);
        hov.create(0xFF000002u, 4, 4);
        sel.create(0xFF000003u, 4, 4);
        item.setImages(&std_, &hov, &sel, false);
    }
    cTestWindowTarget win;
    cActionRoot root;
    cSelectableElement item, other;
    cPicture std_, hov, sel;
};

}  // namespace

TEST(SelectableElement, StatesSchemasAndActions) {
    sFixture themed;
    const cCITheme* t = cCITheme::theme();
    struct sCase {
        const char* name;
        bool active;
        const char* events;  // o over, l leave, c click-focus (flags a), d direct focus, k space, 2 double click, x focus elsewhere
        bool selected, hovered;
        int bgIndex, textIndex;
        int image;           // 1 std, 2 hover, 3 selected
        const char* actions;
    };
    const sCase cases[] = {
        {"idle", true, "", false, false, 14, 4, 1, ""},
        {"hover", true, "o", false, true, 15, 4, 2, ""},
        {"hover and leave", true, "ol", false, false, 14, 4, 1, ""},
        {"click focus", true, "c", true, false, 16, 9, 3, "6a "},
        {"direct focus", true, "d", true, false, 16, 9, 3, ""},
        {"selected then hovered", true, "co", true, true, 16, 9, 3, "6a "},
        {"focus leaves while hovered", true, "cox", false, true, 15, 4, 2, "6a "},
        {"space and double click", true, "dk2", true, false, 16, 9, 3, "7 7 "},
        {"inactive ignores all", false, "ock2", false, false, 14, 4, 1, ""},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.item.setActive(c.active);
        for (const char* e = c.events; *e; ++e) {
            switch (*e) {
                case 'o': f.root.processMouseMove(20, 15); break;
                case 'l': f.root.processMouseMove(150, 90); break;
                case 'c': f.root.processFocus(20, 15, 1, true, false); break;
                case 'd': f.root.processFocusDirect(&f.item); break;
                case 'x': f.root.processFocusDirect(&f.other); break;
                case 'k': f.item.onKey(0x20, false, false, false); break;
                case '2': f.item.onMouseDoubleClick(5, 5); break;
            }
        }
        f.win.drain();
        EXPECT_EQ(f.item.selected(), c.selected) << c.name;
        EXPECT_EQ(f.item.hovered(), c.hovered) << c.name;
        EXPECT_EQ(f.item.bgColor(), t->getColor(c.bgIndex)) << c.name;
        EXPECT_EQ(f.item.textColor(), t->getColor(c.textIndex)) << c.name;
        cPicture* want = c.image == 1 ? &f.std_ : c.image == 2 ? &f.hov : &f.sel;
        EXPECT_EQ(f.item.image(), want) << c.name;
        EXPECT_EQ(f.root.log, c.actions) << c.name;
        EXPECT_EQ(f.item.acceptsFocus(), c.active) << c.name;
    }
}

TEST(SelectableElement, SelectDeselectAndDeactivate) {
    sFixture f;
    const cCITheme* t = cCITheme::theme();
    ASSERT_EQ(t->getColor(16), 0xECE2DAu);  // the flat theme
    EXPECT_TRUE(f.item.select(false));
    f.win.drain();
    EXPECT_TRUE(f.item.selected());
    EXPECT_EQ(f.root.log, "");
    EXPECT_EQ(f.win.focusRequests, 0);
    // Already selected: no second action, but the focus is asked for.
    EXPECT_TRUE(f.item.select(true));
    f.win.drain();
    EXPECT_EQ(f.root.log, "");
    EXPECT_EQ(f.win.focusRequests, 1);
    EXPECT_TRUE(f.item.deselect());
    EXPECT_EQ(f.item.bgColor(), t->getColor(14));
    f.item.select(true);
    f.win.drain();
    EXPECT_EQ(f.root.log.substr(0, 2), "6 ");
    // Deactivating a selected item clears it back to the standard look.
    f.item.setActive(false);
    EXPECT_FALSE(f.item.selected());
    EXPECT_EQ(f.item.bgColor(), t->getColor(14));
    EXPECT_EQ(f.item.image(), &f.std_);
    f.item.setTextColorCommon(0x123456);
    EXPECT_EQ(f.item.textColor(), 0x123456u);
    f.item.setActive(true);
    f.item.select(false);
    EXPECT_EQ(f.item.textColor(), 0x123456u);
    unsigned int text = 0, bg = 0, frame = 0;
    f.item.setBgColorStd(0xABCDEF);
    f.item.getStdColorSchema(&text, &bg, &frame);
    EXPECT_EQ(bg, 0xABCDEFu);
    EXPECT_EQ(frame, 0xABCDEFu);
    EXPECT_EQ(f.item.bgColor(), t->getColor(16));  // still selected
}
