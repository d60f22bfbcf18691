// Combo boxes driven by keys, clicks and a scripted drop-down list: the
// selection they end with, the text their edit shows and the actions they
// report.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/combobox.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <string>

using qortest::cTestWindowTarget;

namespace {

class cRoot : public cChildElement {
public:
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (a->code() == 6 || a->code() == 7) {
            codes.push_back(a->code());
            sources.push_back(src);
            return true;
        }
        return cChildElement::onAction(src, a);
    }
    std::vector<int> codes;
    std::vector<cChildElement*> sources;
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        win.bind(&root, 400, 300);
        root.attach(&combo, 10, 20, 150, 22);
        win.onModalPopup = [this](cChildElement* r, cTestWindowTarget&) {
            auto* p = dynamic_cast<cPopupMaster*>(r);
            ASSERT_NE(p, nullptr);
            shownIds.clear();
            for (size_t i = 0; i < p->buttonCount(); ++i) shownIds.push_back(p->buttonId(i));
            if (pick != -2) r->end_modal(pick);
        };
    }
    void items(std::initializer_list<int> ids) {
        for (int i : ids) combo.setItem(i, ("item" + std::to_string(i)).c_str(), nullptr, -1);
    }
    std::string shown() { return combo.text() ? combo.text() : ""; }
    void key(int k, bool shift = false, bool ctrl = false, bool alt = false) {
        EXPECT_TRUE(combo.processKey(k, shift, ctrl, alt));
        win.drain();
    }
    cTestWindowTarget win;
    cRoot root;
    cComboBoxChild combo;
    int pick = -2;  // the script's pick; -2 ends nothing (dismissed)
    std::vector<int> shownIds;
};

}  // namespace

TEST(ComboBox, KeysStepThroughSparseIndices) {
    struct sCase {
        int start;
        int key;
        int selected;
        bool reported;
    };
    // Items 1, 4 and 9.
    const sCase cases[] = {
        {4, 0x154, 9, true}, {4, 0x152, 1, true}, {1, 0x152, 1, false},
        {9, 0x154, 9, false}, {-1, 0x154, -1, false}, {-1, 0x152, -1, false},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.items({1, 4, 9});
        ASSERT_TRUE(f.combo.select(c.start, false));
        f.key(c.key);
        EXPECT_EQ(f.combo.selected(), c.selected) << c.start << " " << c.key;
        EXPECT_EQ(f.shown(), c.selected < 0 ? "" : "item" + std::to_string(c.selected));
        EXPECT_EQ(f.root.codes.size(), c.reported ? 1u : 0u);
        for (auto* s : f.root.sources) EXPECT_EQ(s, &f.combo);
    }
}

TEST(ComboBox, SelectAndItemTable) {
    sFixture f;
    f.items({2, 5});
    EXPECT_FALSE(f.combo.select(7, true));
    EXPECT_FALSE(f.combo.setItem(-1, "x", nullptr, 0));
    f.win.drain();
    EXPECT_EQ(f.combo.selected(), -1);
    EXPECT_TRUE(f.root.codes.empty());
    EXPECT_TRUE(f.combo.select(5, false));
    f.win.drain();
    EXPECT_TRUE(f.root.codes.empty());
    EXPECT_EQ(f.shown(), "item5");
    int token = 0;
    f.combo.setItem(5, "renamed", &token, 3);
    EXPECT_EQ(f.shown(), "renamed");
    EXPECT_EQ(f.combo.association(5), &token);
    EXPECT_EQ(f.combo.association(6), nullptr);
    EXPECT_EQ(f.combo.text(6), nullptr);
    f.combo.setItem(2, "other", nullptr, 0);
    EXPECT_EQ(f.shown(), "renamed");

    // Removing the selected item leaves no selection pointing at nothing,
    // and the edit still shows its text.
    f.combo.remove(5);
    EXPECT_EQ(f.combo.selected(), -1);
    EXPECT_EQ(f.shown(), "renamed");
    EXPECT_EQ(f.combo.text(5), nullptr);
    f.combo.select(2, true);
    f.combo.remove(9);
    EXPECT_EQ(f.combo.selected(), 2);
    f.combo.clear();
    EXPECT_EQ(f.combo.selected(), -1);
    EXPECT_EQ(f.combo.count(), 0);
    EXPECT_EQ(f.shown(), "");
    f.win.drain();
    EXPECT_EQ(f.root.codes, std::vector<int>{6});
}

TEST(ComboBox, DropDownListPlacementAndPick) {
    sFixture f;
    for (int i = 0; i < 12; ++i) f.combo.setItem(i, "entry", nullptr, -1);
    f.combo.select(3, false);
    f.pick = 7;
    f.key(0x1C1);
    ASSERT_EQ(f.win.modalPopups.size(), 1u);
    const auto& p = f.win.modalPopups[0];
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.y, 42);
    EXPECT_EQ(p.w, 150);
    EXPECT_EQ(p.h, 100 + 2);  // cut to 100 (twelve rows are taller), plus the popup's border
    EXPECT_EQ(f.shownIds.size(), 12u);
    EXPECT_EQ(f.combo.selected(), 7);
    EXPECT_EQ(f.root.codes, std::vector<int>{6});

    f.pick = -2;  // dismissed: nothing changes
    f.key(0x154, false, false, true);
    EXPECT_EQ(f.win.modalPopups.size(), 2u);
    EXPECT_EQ(f.combo.selected(), 7);
    EXPECT_EQ(f.root.codes.size(), 1u);

    // F4 with a modifier and Down with Ctrl go on to the edit field.
    f.combo.processKey(0x1C1, true, false, false);
    f.combo.processKey(0x154, false, true, false);
    EXPECT_EQ(f.win.modalPopups.size(), 2u);
    f.combo.disable(false);
    f.combo.processKey(0x1C1, false, false, false);
    EXPECT_EQ(f.win.modalPopups.size(), 2u);
}

TEST(ComboBox, AListWithoutRoomBelowOpensAboveTheBox) {
    struct sCase {
        int deskH, boxY;
        int wantY, wantH;  // the popup window, its border included
    };
    // Twelve rows, cut to 100 pixels; the box is 22 high.
    const sCase cases[] = {
        {400, 150, 172, 102},  // room below: under the box
        {200, 150, 48, 102},   // 28 below, 150 above: over the box, ending at its top
        {100, 60, 0, 60},      // 18 below, 60 above: cut to the room above the box
        {120, 20, 42, 80},     // 78 below, 20 above: under the box, cut to the room below
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.win.desktopW = 400;
        f.win.desktopH = c.deskH;
        f.root.dettach(&f.combo);
        f.root.attach(&f.combo, 10, c.boxY, 150, 22);
        for (int i = 0; i < 12; ++i) f.combo.setItem(i, "entry", nullptr, -1);
        f.key(0x1C1);
        ASSERT_EQ(f.win.modalPopups.size(), 1u);
        const auto& p = f.win.modalPopups[0];
        EXPECT_EQ(p.y, c.wantY) << c.deskH << " " << c.boxY;
        EXPECT_EQ(p.h, c.wantH) << c.deskH << " " << c.boxY;
    }
}

TEST(ComboBox, ClicksOpenTheListOnlyWhereTheyShould) {
    struct sCase {
        bool editable;
        int downX, upX;
        bool opens;
    };
    // The box spans x 10..159; the arrow button x 141..159.
    const sCase cases[] = {
        {false, 30, 30, true},  {false, 150, 150, true}, {false, 30, 200, false},
        {true, 30, 30, false},  {true, 150, 150, true},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.items({0});
        f.combo.allowEdit(c.editable);
        f.root.processMouseBtn(c.downX, 30, 1, true, false, false);
        f.root.processMouseBtn(c.upX, 30, 1, false, false, false);
        f.win.drain();
        EXPECT_EQ(f.win.modalPopups.size(), c.opens ? 1u : 0u) << c.editable << " " << c.downX << " " << c.upX;
    }
}

TEST(ComboBox, EditEnterAndEscapeAreReportedByTheCombo) {
    sFixture f;
    f.items({0});
    f.combo.edit()->onKey(0x18D, false, false, false);
    f.combo.edit()->onKey(0x11B, false, false, false);
    f.win.drain();
    EXPECT_EQ(f.root.codes, (std::vector<int>{6, 7}));
    for (auto* s : f.root.sources) EXPECT_EQ(s, &f.combo);
}

TEST(ComboBox, PartsAndTheFrameBehindTheArrow) {
    sFixture f;
    sRect e, b;
    ASSERT_TRUE(f.combo.childRect(f.combo.edit(), &e));
    ASSERT_TRUE(f.combo.childRect(f.combo.dropButton(), &b));
    // Anchored sizes count from the parent's far edge with -1 as "all of
    // it": the edit ends where the 19-pixel arrow begins.
    EXPECT_EQ(e.x, 0);
    EXPECT_EQ(e.w, 150 - 19);
    EXPECT_EQ(e.h, 22);
    EXPECT_EQ(b.x, 150 - 19);
    EXPECT_EQ(b.w, 19);
    EXPECT_EQ(b.h, 22);
    EXPECT_EQ(f.combo.dropButton()->image(0).image(), cCITheme::theme()->getPict(28));
    EXPECT_FALSE(f.combo.dropButton()->canTabStop());
    EXPECT_EQ(f.combo.edit()->borderColor(3), cCITheme::theme()->getColor(21));

    // The arrow's background request continues the edit's frame behind it.
    qortest::cRecordingCanvas c(19, 22);
    sRect asked{0, 0, 19, 22};
    ASSERT_TRUE(f.combo.onBackgroundRequest(&c, &asked));
    ASSERT_EQ(c.calls.size(), 1u);
    EXPECT_EQ(c.calls[0].op, "rect");
    EXPECT_EQ(c.calls[0].x, -1);
    EXPECT_EQ(c.calls[0].w, 20);
    EXPECT_EQ(c.calls[0].h, 22);
    EXPECT_EQ(c.calls[0].fill, f.combo.edit()->bgColor(0));
    EXPECT_EQ(c.calls[0].border, f.combo.edit()->borderColor(0));
    qortest::cRecordingCanvas other(19, 10);
    sRect part{0, 5, 19, 10};
    f.combo.onBackgroundRequest(&other, &part);
    for (auto& call : other.calls) EXPECT_FALSE(call.op == "rect" && call.x == -1);
}

TEST(ComboBox, IsOneTabStopWhoseArrowsStepTheItems) {
    sFixture f;
    f.items({1, 4, 9});
    f.combo.select(4, false);
    cEditChild before, after;
    f.root.attach(&before, 10, 60, 100, 22);
    f.root.attach(&after, 10, 90, 100, 22);
    // Attach order: the combo, then the two fields.  From the last field
    // Tab wraps round to the combo's edit, the next Tab to the first field.
    f.root.processFocusDirect(&after);
    std::vector<cChildElement*> stops;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(f.root.processKey(0x109, false, false, false));
        stops.push_back(f.root.getFocused());
    }
    EXPECT_EQ(stops, (std::vector<cChildElement*>{f.combo.edit(), &before, &after}));
    ASSERT_TRUE(f.root.processKey(0x109, true, false, false));
    ASSERT_TRUE(f.root.processKey(0x109, true, false, false));
    ASSERT_EQ(f.root.getFocused(), f.combo.edit());
    // Down there steps to the next item and keeps the focus.
    ASSERT_TRUE(f.root.processKey(0x154, false, false, false));
    f.win.drain();
    EXPECT_EQ(f.combo.selected(), 9);
    EXPECT_EQ(f.root.getFocused(), f.combo.edit());

    // Given the focus as a whole, the box hands it to its edit.
    f.root.processFocusDirect(&f.combo);
    f.win.drain();
    EXPECT_EQ(f.root.getFocused(), f.combo.edit());
}
