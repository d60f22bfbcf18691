// Tree views on the flat theme with the fixed-metric font: lines indented by
// level with their indicators, branches read on demand, selection moved by
// keys and pointer with the actions reported, and removal of lines that hold
// the focus or the pointer capture.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/theme.h"
#include "uitoolkit/treeview.h"

#include <gtest/gtest.h>

#include <string>

using qortest::cFixedFont;
using qortest::cTestWindowTarget;
typedef cTreeViewChild::cTreeViewItem tItem;

namespace {

// Items whose association is kLazy get their children only when read.
char kLazy;

class cTree : public cTreeViewChild {
public:
    tItem* add(tItem* parent, const char* text, bool collapsed = false, void* assoc = nullptr) {
        auto* i = new tItem;
        i->text.set(text);
        i->collapsed = collapsed;
        i->association = assoc;
        storeUnder(parent, i, nullptr);
        return i;
    }
    bool isSub(tItem* item) override { return item->first || item->association == &kLazy; }
    void processSubRead(tItem* item) override {
        ++reads;
        if (item->association == &kLazy && !item->first) {
            const std::string t = item->text.get();
            add(item, (t + "1").c_str());
            add(item, (t + "2").c_str());
        }
    }
    int reads = 0;
};

class cRoot : public cChildElement {
public:
    bool onAction(cChildElement*, cChildAction* a) override {
        if (auto* t = dynamic_cast<cTreeViewChild::cTreeItemAction*>(a)) {
            log += (log.empty() ? "" : " ") + std::to_string(t->code()) + ":" + t->item->text.get();
            if (auto* c = dynamic_cast<cTreeViewChild::cTreeItemCtxAction*>(a))
                log += "@" + std::to_string(c->x) + "," + std::to_string(c->y);
        }
        return true;
    }
    std::string log;
};

struct sFixture {
    sFixture() {
        static const bool themed = cCITheme::setTheme(gCI_Flat_Theme);
        (void)themed;
        cFixedFont::install();
        win.bind(&root, 300, 300);
        root.attach(&tree, 0, 0, 200, 250);
        // A (read on demand), B (B1, B2 (B2a)), C
        a = tree.add(nullptr, "A", true, &kLazy);
        b = tree.add(nullptr, "B");
        b1 = tree.add(b, "B1");
        b2 = tree.add(b, "B2");
        b2a = tree.add(b2, "B2a");
        c = tree.add(nullptr, "C", true);
    }
    std::string run() {
        win.drain();
        std::string s = root.log;
        root.log.clear();
        return s;
    }
    sRect at(cChildElement* e) {
        sRect r{-1, -1, -1, -1};
        tree.childRect(e, &r);
        return r;
    }
    cTestWindowTarget win;
    cRoot root;
    cTree tree;
    tItem *a, *b, *b1, *b2, *b2a, *c;
};

}  // namespace

TEST(TreeView, LinesAreIndentedByLevelAndStackedWithIndicators) {
    sFixture f;
    f.tree.setSpacing(3);
    tItem* shown[] = {f.a, f.b, f.b1, f.b2, f.b2a, f.c};
    const int level[] = {1, 1, 2, 2, 3, 1};
    const int kind[] = {4, 3, 1, 3, 2, 2};
    int y = 1;
    for (int i = 0; i < 6; ++i) {
        tItem* it = shown[i];
        ASSERT_NE(it->element, nullptr);
        EXPECT_TRUE(it->element->visible_child()) << i;
        EXPECT_STREQ(it->element->text(), it->text.get());
        const sRect r = f.at(it->element), ind = f.at(it->control);
        EXPECT_EQ(r.x, 1 + 16 + 16 * (level[i] - 1)) << i;
        EXPECT_EQ(r.y, y) << i;
        EXPECT_GT(r.h, 0);
        EXPECT_EQ(ind.x, r.x - 16) << i;
        EXPECT_EQ(ind.y, r.y) << i;
        EXPECT_EQ(ind.w, 16) << i;
        EXPECT_EQ(ind.h, r.h) << i;
        EXPECT_EQ(static_cast<int>(it->control->kind()), kind[i]) << i;
        EXPECT_EQ(f.tree.isChild(it->element), it);
        EXPECT_EQ(f.tree.isCtl(it->control), it);
        y += r.h + 3;
    }
    // The extent counts the bottom border too, so that the last line can be
    // scrolled wholly into view.
    EXPECT_EQ(f.tree.minVisualHeight(), y + 1);
    // Collapsing B hides its lines and moves C up under B.
    EXPECT_TRUE(f.tree.collapse(f.b, true));
    EXPECT_EQ(f.run(), "9:B");
    EXPECT_FALSE(f.b1->element->visible_child());
    EXPECT_FALSE(f.b2a->control->visible_child());
    EXPECT_EQ(f.b->control->kind(), cTreeViewControlElement::ckCollapsed);
    const sRect rb = f.at(f.b->element);
    EXPECT_EQ(f.at(f.c->element).y, rb.y + rb.h + 3);
    EXPECT_FALSE(f.tree.collapse(f.b, true));
    EXPECT_FALSE(f.tree.collapse(f.c, true));   // a leaf
    EXPECT_FALSE(f.tree.expand(f.c, true));
    EXPECT_EQ(f.run(), "");
    EXPECT_EQ(f.tree.find(&kLazy), f.a);
    EXPECT_EQ(f.tree.find(nullptr), f.b);       // depth first: B before its children
    EXPECT_EQ(f.tree.find(f.b1, nullptr), f.b1);
}

TEST(TreeView, KeysWalkTheVisibleLines) {
    struct sStep {
        int key;
        bool ctrl;
        const char* actions;
        const char* selected;  // null: none
    };
    const sStep steps[] = {
        {0x153, false, "7:A1", "A1"},   // read, expanded without a report
        {0x152, false, "7:A", "A"},     // first child: up to the parent
        {0x154, false, "7:A1", "A1"},
        {0x154, false, "7:A2", "A2"},
        {0x154, false, "7:B", "B"},     // on to the parent's next sibling
        {0x154, false, "7:B1", "B1"},
        {0x154, false, "7:B2", "B2"},
        {0x154, false, "7:B2a", "B2a"},
        {0x154, false, "7:C", "C"},
        {0x154, false, "", "C"},        // the last visible line
        {0x152, false, "7:B2a", "B2a"}, // the previous sibling's deepest line
        {0x151, false, "7:B2", "B2"},
        {0x152, true, "7:B1", "B1"},
        {0x154, true, "7:B2", "B2"},
        {0x154, true, "", "B2"},
        {0x1AD, false, "9:B2", "B2"},   // keypad minus collapses
        {0x154, false, "7:C", "C"},
        {0x152, false, "7:B2", "B2"},   // B2 is collapsed now
        {0x1AB, false, "9:B2", "B2"},   // keypad plus expands
        {0x153, false, "7:B2a", "B2a"},
        {0x153, false, "", "B2a"},      // a leaf does not open
    };
    sFixture f;
    // Focus on the tree selects its first line.
    f.tree.focus();
    EXPECT_EQ(f.run(), "7:A");
    for (size_t i = 0; i < sizeof steps / sizeof *steps; ++i) {
        f.root.processKey(steps[i].key, false, steps[i].ctrl, false);
        EXPECT_EQ(f.run(), steps[i].actions) << "step " << i;
        ASSERT_NE(f.tree.selected(), nullptr) << "step " << i;
        EXPECT_STREQ(f.tree.selected()->text.get(), steps[i].selected) << "step " << i;
    }
    EXPECT_EQ(f.tree.reads, 2);   // Right on A, plus on B2
    EXPECT_EQ(f.tree.selected()->element, f.root.getFocused());
}

TEST(TreeView, PlusOnALeafExpandsNothing) {
    sFixture f;
    f.tree.select(f.c, true);
    f.run();
    ASSERT_EQ(f.root.getFocused(), f.c->element);
    f.root.processChar('+', false, false, false);
    f.root.processKey(0x1AB, false, false, false);
    EXPECT_EQ(f.run(), "");
    EXPECT_TRUE(f.c->collapsed);
    EXPECT_EQ(f.tree.reads, 0);
    // On a branch it reads and expands.
    f.tree.select(f.a, true);
    f.run();
    f.root.processChar('+', false, false, false);
    EXPECT_EQ(f.run(), "9:A");
    EXPECT_FALSE(f.a->collapsed);
    EXPECT_EQ(f.tree.reads, 1);
    ASSERT_NE(f.a->first, nullptr);
    f.root.processChar('-', false, false, false);
    EXPECT_EQ(f.run(), "9:A");
    EXPECT_TRUE(f.a->collapsed);
}

TEST(TreeView, BranchesAreReadWhenExpandedButNotInsideABatch) {
    sFixture f;
    f.tree.startChanges();
    EXPECT_TRUE(f.tree.expand(f.a, true));
    EXPECT_EQ(f.tree.reads, 0);
    EXPECT_EQ(f.run(), "9:A");
    f.tree.endChanges();
    EXPECT_EQ(f.tree.reads, 0);
    f.tree.collapse(f.a, false);
    EXPECT_TRUE(f.tree.expand(f.a, false));
    EXPECT_EQ(f.tree.reads, 1);
    ASSERT_NE(f.a->first, nullptr);
    EXPECT_TRUE(f.a->first->next && static_cast<tItem*>(f.a->first)->element->visible_child());
    EXPECT_EQ(f.run(), "");
    // A press on the indicator reads, toggles, selects and reports.
    f.tree.collapse(f.a, false);
    const sRect ind = f.at(f.a->control);
    f.root.processMouseBtn(ind.x + 2, ind.y + 2, 1, true, false, false);
    f.root.processMouseBtn(ind.x + 2, ind.y + 2, 1, false, false, false);
    EXPECT_EQ(f.run(), "7:A 9:A");
    EXPECT_FALSE(f.a->collapsed);
    EXPECT_EQ(f.tree.reads, 2);
    // A leaf's indicator is not active.
    const sRect leaf = f.at(f.c->control);
    f.root.processMouseBtn(leaf.x + 2, leaf.y + 2, 1, true, false, false);
    f.root.processMouseBtn(leaf.x + 2, leaf.y + 2, 1, false, false, false);
    EXPECT_EQ(f.run(), "");
    EXPECT_EQ(f.tree.reads, 2);
    // A click on a line selects it; a double click activates it.
    const sRect line = f.at(f.b1->element);
    f.root.processFocus(line.x + 2, line.y + 2, 1, false, false);
    f.root.processMouseBtn(line.x + 2, line.y + 2, 1, true, false, false);
    f.root.processMouseBtn(line.x + 2, line.y + 2, 1, false, false, false);
    EXPECT_EQ(f.run(), "7:B1");
    f.b1->element->onMouseDoubleClick(2, 2);
    EXPECT_EQ(f.run(), "6:B1");
}

TEST(TreeView, RemovingLinesThatHoldFocusOrCaptureLeavesNothingDangling) {
    sFixture f;
    f.tree.select(f.b2a, true);
    f.run();
    ASSERT_EQ(f.root.getFocused(), f.b2a->element);
    ASSERT_EQ(f.tree.selected(), f.b2a);
    f.b2->element->capturePointer(false);
    f.root.processMouseMove(40, 40);
    EXPECT_TRUE(f.tree.remove(f.b));
    EXPECT_EQ(f.tree.selected(), nullptr);
    EXPECT_EQ(f.root.getFocused(), nullptr);
    EXPECT_EQ(f.tree.captureChild(), nullptr);
    EXPECT_EQ(f.tree.hoverElement(), nullptr);
    EXPECT_EQ(f.tree.find(nullptr), f.c);
    // Input after the removal reaches only living lines.
    f.root.processMouseMove(41, 41);
    f.root.processMouseBtn(41, 41, 1, true, false, false);
    f.root.processMouseBtn(41, 41, 1, false, false, false);
    f.root.processKey(0x154, false, false, false);
    f.run();
    // C moved up under A.
    const sRect ra = f.at(f.a->element);
    EXPECT_EQ(f.at(f.c->element).y, ra.y + ra.h);
    EXPECT_TRUE(f.tree.remove_under(nullptr));
    EXPECT_EQ(f.tree.root(), nullptr);
    EXPECT_FALSE(f.tree.clear());
}

TEST(TreeView, ContextRequestsArriveInTreeCoordinatesAndTheFrameIsPainted) {
    sFixture f;
    f.tree.setBgColor(0x203040);
    f.tree.setFrmColor(0x506070);
    const sRect line = f.at(f.b2->element);
    f.root.processMouseBtn(line.x + 3, line.y + 4, 2, true, false, false);
    f.root.processMouseBtn(line.x + 3, line.y + 4, 2, false, false, false);
    EXPECT_EQ(f.run(), "8:B2@" + std::to_string(line.x + 3) + "," + std::to_string(line.y + 4));
    qortest::cRecordingCanvas canvas(300, 300);
    f.root.processPaint(&canvas);
    ASSERT_FALSE(canvas.calls.empty());
    bool frame = false;
    for (const auto& c : canvas.calls)
        frame = frame || (c.op == "rect" && c.x == 0 && c.y == 0 && c.w == 200 && c.h == 250 && c.fill == 0x203040 &&
                          c.border == 0x506070);
    EXPECT_TRUE(frame);
    // Every line's indicator takes the tree background.
    EXPECT_EQ(f.c->control->bgColor(), 0x203040u);
}

TEST(TreeView, TheSelectedLineKeepsAnUnfocusedLookWhileTheFocusIsElsewhere) {
    sFixture f;
    cChildElement other;
    f.root.attach(&other, 250, 0, 40, 40);
    f.tree.setUnfocusedColors(0x111111, 0x222222, 0xFFFFFFFF);
    f.tree.select(f.b1, true);
    f.run();
    unsigned int text = 0, bg = 0, frame = 0;
    f.b1->element->getStdColorSchema(&text, &bg, &frame);
    const unsigned int ownText = text, ownBg = bg, ownFrame = frame;
    f.root.processFocus(260, 10, 1, false, false);
    f.run();
    ASSERT_EQ(f.root.getFocused(), &other);
    f.b1->element->getStdColorSchema(&text, &bg, &frame);
    EXPECT_EQ(text, 0x111111u);
    EXPECT_EQ(bg, 0x222222u);
    EXPECT_EQ(frame, ownFrame);   // 0xFFFFFFFF keeps the line's own
    // Selecting another line without the focus moves the look.
    f.tree.select(f.b2, false);
    f.b1->element->getStdColorSchema(&text, &bg, &frame);
    EXPECT_EQ(text, ownText);
    EXPECT_EQ(bg, ownBg);
    f.b2->element->getStdColorSchema(&text, &bg, &frame);
    EXPECT_EQ(bg, 0x222222u);
    // The focus coming back restores it.
    const sRect line = f.at(f.b2->element);
    f.root.processFocus(line.x + 1, line.y + 1, 1, false, false);
    f.run();
    f.b2->element->getStdColorSchema(&text, &bg, &frame);
    EXPECT_EQ(text, ownText);
    EXPECT_EQ(bg, ownBg);
    f.tree.deselect(0x0000FF);
    EXPECT_EQ(f.tree.selected(), nullptr);
    f.b2->element->getStdColorSchema(&text, &bg, &frame);
    EXPECT_EQ(text, 0x0000FFu);
}
