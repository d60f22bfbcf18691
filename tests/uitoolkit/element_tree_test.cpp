// The element tree: attach order, anchored layout within size limits,
// repaint areas, texts, and the requests that reach the window.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/button.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/propsheetex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

using qortest::cTestWindowTarget;

namespace {

struct sRectEq {
    int x, y, w, h;
};

sRectEq rectOf(cChildElement& e) {
    sRect r;
    e.childRect(&r);
    return {r.x, r.y, r.w, r.h};
}

bool operator==(const sRectEq& a, const sRectEq& b) {
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}
std::ostream& operator<<(std::ostream& o, const sRectEq& r) {
    return o << "{" << r.x << "," << r.y << "," << r.w << "," << r.h << "}";
}

class cCounting : public cChildElement {
public:
    int sized = 0;
    void onSizeChanged() override { ++sized; }
};

}  // namespace

TEST(ElementTree, AnchoredChildrenFollowTheParentWithinTheirLimits) {
    struct sCase {
        int ax, ay, aw, ah;
        int minW, minH, maxW, maxH;
        sRectEq at200x100, at300x150;
    };
    // Negative anchors count from the far edge: value + size + 1.
    const sCase cases[] = {
        {10, 10, -21, -21, -1, -1, -1, -1, {10, 10, 180, 80}, {10, 10, 280, 130}},
        {-51, 0, 50, -1, -1, -1, -1, -1, {150, 0, 50, 100}, {250, 0, 50, 150}},
        {0, 0, -1, -1, -1, -1, 250, 120, {0, 0, 200, 100}, {0, 0, 250, 120}},
        {0, 0, -1, -1, 220, 110, -1, -1, {0, 0, 220, 110}, {0, 0, 300, 150}},
        // A minimum above the maximum: anchor and layout keep the maximum.
        {0, 0, 10, 10, 50, 50, 20, 20, {0, 0, 20, 20}, {0, 0, 20, 20}},
    };
    for (const sCase& c : cases) {
        cTestWindowTarget win;
        cChildElement root;
        win.bind(&root, 200, 100);
        cCounting child;
        child.setMinSize(c.minW, c.minH);  // before attach: onInitData resets them
        ASSERT_TRUE(root.attach(&child, 0, 0, 1, 1));
        EXPECT_TRUE(child.setMinSize(c.minW, c.minH));
        EXPECT_TRUE(child.setMaxSize(c.maxW, c.maxH));
        ASSERT_TRUE(root.anchor(&child, c.ax, c.ay, c.aw, c.ah));
        EXPECT_EQ(rectOf(child), c.at200x100);
        root.processSizeChanges(300, 150, false);
        EXPECT_EQ(rectOf(child), c.at300x150);
        int sized = child.sized;
        root.processSizeChanges(300, 150, false);  // same size: nothing happens
        EXPECT_EQ(child.sized, sized);
        root.dettach(&child);
    }
}

TEST(ElementTree, AttachOrderIsKeptAndReattachMoves) {
    cChildElement root;
    std::vector<std::unique_ptr<cChildElement>> kids;
    for (int i = 0; i < 50; ++i) kids.emplace_back(new cChildElement());
    // Attach in an order unrelated to the addresses.
    std::vector<cChildElement*> order;
    for (int i = 0; i < 50; ++i) order.push_back(kids[(i * 17) % 50].get());
    for (cChildElement* k : order) ASSERT_TRUE(root.attach(k, 0, 0, 5, 5));
    std::vector<cChildElement*> walked;
    for (cChildElement* c = root.getFirstChild(); c; c = root.getNextChild(c)) walked.push_back(c);
    EXPECT_EQ(walked, order);
    EXPECT_EQ(root.attachIndex(order[0]), 0);
    EXPECT_EQ(root.attachIndex(order[49]), 49);
    // Attaching again moves, keeping the index.
    ASSERT_TRUE(root.attach(order[3], 7, 8, 9, 10));
    EXPECT_EQ(root.attachIndex(order[3]), 3);
    EXPECT_EQ(rectOf(*order[3]), (sRectEq{7, 8, 9, 10}));
    // Detaching the last: the next attach takes the largest remaining + 1.
    root.dettach(order[49]);
    root.dettach(order[48]);
    ASSERT_TRUE(root.attach(order[49], -3, 0, -4, 2));
    EXPECT_EQ(root.attachIndex(order[49]), 48);
    EXPECT_EQ(rectOf(*order[49]), (sRectEq{-3, 0, 0, 2}));
    EXPECT_EQ(root.getNextChild(order[48]), nullptr);
    for (cChildElement* k : order) root.dettach(k);
}

TEST(ElementTree, RepaintAreasReachTheWindowWholeUpToTheEdges) {
    cTestWindowTarget win;
    cChildElement root;
    win.bind(&root, 200, 100);
    cChildElement child, grand;
    root.anchor(&child, 10, 10, -21, -21);  // {10,10,180,80}
    child.attach(&grand, 5, 6, 20, 30);
    win.repaints.clear();
    struct sCase {
        cChildElement* e;
        bool whole;
        sRect r;
        sArea want;
    };
    const sCase cases[] = {
        {&child, true, {}, {10, 10, 190, 90}},
        // Reaching the right and bottom edge keeps the last column and row.
        {&child, false, {150, 60, 30, 20}, {160, 70, 190, 90}},
        {&child, false, {150, 60, 100, 100}, {160, 70, 190, 90}},
        {&grand, true, {}, {15, 16, 35, 46}},
        {&grand, false, {0, 0, 1, 1}, {15, 16, 16, 17}},
    };
    for (const sCase& c : cases) {
        win.repaints.clear();
        sRect r = c.r;
        c.e->repaint(c.whole ? nullptr : &r);
        ASSERT_EQ(win.repaints.size(), 1u);
        EXPECT_EQ(win.repaints[0].left, c.want.left);
        EXPECT_EQ(win.repaints[0].top, c.want.top);
        EXPECT_EQ(win.repaints[0].right, c.want.right);
        EXPECT_EQ(win.repaints[0].bottom, c.want.bottom);
    }
    // Hidden and detached elements ask for nothing.
    win.repaints.clear();
    grand.hide(false);
    grand.repaint(nullptr);
    child.dettach(&grand);
    grand.show(false);
    grand.repaint(nullptr);
    EXPECT_TRUE(win.repaints.empty());
    // Shrinking a child repaints the uncovered strips only.
    root.anchor(&child, 10, 10, 100, -21);
    ASSERT_EQ(win.repaints.size(), 1u);
    EXPECT_EQ(win.repaints[0].left, 110);
    EXPECT_EQ(win.repaints[0].right, 190);
    root.dettach(&child);
}

TEST(ElementTree, DestroyingAnAttachedElementClearsEveryReferenceToIt) {
    cTestWindowTarget win;
    cChildElement root;
    win.bind(&root, 200, 100);
    cChildElement panel;
    root.attach(&panel, 0, 0, 200, 100);
    auto* button = new cChildElement();
    panel.attach(button, 10, 10, 50, 20);
    root.processFocusDirect(button);
    button->processMouseMove(1, 1);  // hover
    ASSERT_TRUE(button->capturePointer(false));
    ASSERT_EQ(root.getFocused(), button);
    ASSERT_EQ(root.hoverElement(), button);
    ASSERT_EQ(root.captureChild(), &panel);
    root.processOSFocusLost();  // the window remembers the focused element
    delete button;
    EXPECT_EQ(panel.getFirstChild(), nullptr);
    EXPECT_EQ(root.hoverElement(), nullptr);
    EXPECT_EQ(root.captureChild(), nullptr);
    EXPECT_EQ(panel.focusedChild(), nullptr);
    EXPECT_EQ(win.captures.back(), false);  // capture released through the window
    root.processOSFocus();  // must not focus the dead element
    EXPECT_EQ(root.getFocused(), &root);
    // A parent dying first leaves its children detached, not dangling.
    auto* parent = new cChildElement();
    cChildElement orphan;
    root.attach(parent, 0, 0, 10, 10);
    parent->attach(&orphan, 0, 0, 5, 5);
    delete parent;
    EXPECT_EQ(orphan.parent(), nullptr);
    EXPECT_FALSE(orphan.attached());
    root.dettach(&panel);
}

TEST(ElementTree, WindowForwarders) {
    cChildElement loose;
    char buf[8];
    loose.setText("abcdefghij", -1, false);
    loose.text(buf, sizeof buf);  // cut, always terminated
    EXPECT_STREQ(buf, "abcdefg");
    // Without a window every forwarder answers its neutral value.
    sSize s;
    EXPECT_EQ(loose.screenDPI(), 96);
    EXPECT_FALSE(loose.clipboardCopyText("x", -1));
    EXPECT_EQ(loose.stdFont(), nullptr);

    cTestWindowTarget win;
    cChildElement root, child;
    win.bind(&root, 200, 100, 40, 30);
    root.attach(&child, 5, 6, 10, 10);
    EXPECT_EQ(child.modal("t", 1, 1, nullptr, false), -1);
    EXPECT_TRUE(child.clipboardCopyText(nullptr, -1));  // null is the empty text
    EXPECT_TRUE(child.clipboardCopyText("héllo", -1));
    ASSERT_EQ(win.copied.size(), 2u);
    EXPECT_EQ(win.copied[0], "");
    EXPECT_EQ(win.copied[1], "héllo");
    _guardchar<char> got;
    EXPECT_TRUE(child.clipboardRequestText(got));
    EXPECT_STREQ(got.get(), "héllo");
    sPoint p;
    EXPECT_TRUE(child.absPos(p));
    EXPECT_EQ(p.x, 45);
    EXPECT_EQ(p.y, 36);
    EXPECT_TRUE(root.setMinSize(300, 200));
    EXPECT_EQ(win.minW, 300);
    root.setCaption("Title!", 5);
    child.setCaption("ignored", -1);
    ASSERT_EQ(win.captions.size(), 1u);
    EXPECT_EQ(win.captions[0], "Title");
    EXPECT_TRUE(root.move(1, 2, 120, 80));
    EXPECT_EQ(root.width(), 120);
    root.dettach(&child);
}

namespace {

class cNamed : public cChildElement {
public:
    explicit cNamed(const char* section) : mSection(section) {}
    const char* wantLangResource() override { return mSection; }

private:
    const char* mSection;
};

// A window whose language holds one section "dlg" with "Hello", "World".
class cLangWindow : public cTestWindowTarget {
public:
    cLangWindow() {
        const unsigned char body[] = {2, 0, 5, 0, 5, 0, 'H', 'e', 'l', 'l', 'o', 'W', 'o', 'r', 'l', 'd'};
        ok = dlg.create(body, sizeof body);
    }
    cCiomLangData* _rt_getnamedlangsection(char* name) override {
        ++asked;
        return name && std::strcmp(name, "dlg") == 0 ? &dlg : nullptr;
    }
    cCiomLangData dlg;
    bool ok = false;
    int asked = 0;
};

}  // namespace

// An element that keeps its text apart from the base's (a button its
// caption, a description area its description) copies the same text into a
// buffer as it hands out by pointer, also to a caller that knows it only as
// an element: cut to the buffer, terminated, the rest zero.
TEST(ElementTree, CopiedTextIsTheTextWhereverTheElementKeepsIt) {
    const std::string caption = "Save all files";
    cChildElement plain;
    cButtonChild button;
    cPropDispAreaChild area;
    plain.setText(caption.c_str(), -1, false);
    button.setText(caption.c_str());
    area.setText("Title", caption.c_str());
    const std::pair<const char*, cChildElement*> elements[] = {{"plain", &plain}, {"button", &button}, {"area", &area}};
    for (const auto& [name, e] : elements) {
        ASSERT_STREQ(e->text(), caption.c_str()) << name;
        for (long long size : {1LL, 2LL, 6LL, 14LL, 15LL, 40LL}) {
            char buf[40];
            std::memset(buf, 'x', sizeof buf);
            e->text(buf, size);
            const std::string want = caption.substr(0, static_cast<size_t>(size - 1));
            EXPECT_EQ(std::string(buf), want) << name << " " << size;
            EXPECT_EQ(std::count(buf + want.size(), buf + size, '\0'), size - static_cast<long long>(want.size()))
                << name << " " << size;
            EXPECT_EQ(std::count(buf + size, buf + sizeof buf, 'x'), static_cast<long long>(sizeof buf) - size)
                << name << " " << size;
        }
    }
    // Known as a button, the copying form is there too.
    char own[8];
    button.text(own, sizeof own);
    EXPECT_STREQ(own, "Save al");
}

TEST(ElementTree, LanguageTextsComeFromTheNearestNamedSection) {
    cLangWindow win;
    ASSERT_TRUE(win.ok);
    cChildElement root;
    win.bind(&root, 100, 100);
    cNamed dialog("dlg"), missing("nothere"), loose("dlg");
    cChildElement label, inner, plain;
    root.attach(&dialog, 0, 0, 50, 50);
    dialog.attach(&label, 0, 0, 5, 5);
    dialog.attach(&missing, 0, 0, 5, 5);
    missing.attach(&inner, 0, 0, 1, 1);
    struct sCase {
        const char* got;
        const char* want;
    };
    const sCase cases[] = {
        {dialog.string(1), "World"},
        {label.string(0), "Hello"},     // climbs to the dialog's section
        {label.string(2), nullptr},     // past the end
        {inner.string(0), nullptr},     // stops at the element whose section is missing
        {root.string(0), nullptr},
        {loose.string(&label, 1), "World"},  // fetched through label's window and kept
        {plain.string(&dialog, 0), "Hello"},
    };
    for (const sCase& c : cases) {
        if (!c.want) EXPECT_EQ(c.got, nullptr);
        else EXPECT_STREQ(c.got, c.want);
    }
    EXPECT_EQ(loose.langData(), &win.dlg);
    missing.dettach(&inner);
    dialog.dettach(&label);
    dialog.dettach(&missing);
    root.dettach(&dialog);
}

TEST(ElementTree, EnablementReachesEnabledDescendantsAndClosingAsksEveryone) {
    struct cNode : cChildElement {
        std::string* log;
        const char* name;
        bool mayClose = true;
        void onEnableChanged(bool e) override { *log += std::string(name) + (e ? "+" : "-"); }
        bool onClose() override {
            *log += std::string(name) + "?";
            return mayClose;
        }
    };
    std::string log;
    cTestWindowTarget win;
    cNode root, a, b, a1, a2;
    for (cNode* n : {&root, &a, &b, &a1, &a2}) n->log = &log;
    root.name = "r", a.name = "a", b.name = "b", a1.name = "a1", a2.name = "a2";
    win.bind(&root, 100, 100);
    root.attach(&a, 0, 0, 50, 50);
    root.attach(&b, 50, 0, 50, 50);
    a.attach(&a1, 0, 0, 5, 5);
    a.attach(&a2, 5, 0, 5, 5);
    a2.disable(false);
    log.clear();
    a.disable(true);
    EXPECT_EQ(log, "a-a1-");  // a2 was disabled on its own
    EXPECT_FALSE(a1.enabled());
    EXPECT_TRUE(a1.enabled_child());
    a1.disable(false);  // below a disabled ancestor: no notice
    a1.enable();
    EXPECT_EQ(log, "a-a1-");
    a.enable();
    EXPECT_EQ(log, "a-a1-a+a1+");
    log.clear();
    EXPECT_TRUE(root.processClose());
    EXPECT_EQ(log, "r?a?a1?a2?b?");
    a1.mayClose = false;
    log.clear();
    EXPECT_FALSE(root.processClose());
    EXPECT_EQ(log, "r?a?a1?");
    a.dettach(&a1);
    a.dettach(&a2);
    root.dettach(&a);
    root.dettach(&b);
}
