// Check boxes and links driven by tables of pointer and key events: the
// clicks they report, the check mark picture for each state.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/checkbox.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

using qortest::cTestWindowTarget;

namespace {

class cClickRoot : public cChildElement {
public:
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (a->code() != 0) return cChildElement::onAction(src, a);
        clicks.push_back(src);
        return true;
    }
    std::vector<cChildElement*> clicks;
};

struct sEvent {
    char kind;  // 'd' press, 'u' release, 'k' key
    int x, y;   // window coordinates; for 'k' x is the key
    int button;
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        win.bind(&root, 300, 100);
        root.attach(&box, 10, 10, 80, 20);
        root.attach(&link, 110, 10, 80, 20);
        root.attach(&other, 200, 10, 80, 20);
    }
    void run(const std::vector<sEvent>& events, cChildElement* target) {
        for (const sEvent& e : events) {
            if (e.kind == 'd') root.processMouseBtn(e.x, e.y, e.button, true, false, false);
            if (e.kind == 'u') root.processMouseBtn(e.x, e.y, e.button, false, false, false);
            if (e.kind == 'k') target->onKey(e.x, false, false, false);
        }
        win.drain();
    }
    cTestWindowTarget win;
    cClickRoot root;
    cCheckBoxChild box;
    cLinkElement link;
    cStaticElement other;
};

cPicture* themePict(int i) { return cCITheme::theme()->getPict(i); }

}  // namespace

TEST(CheckBoxAndLink, ClicksNeedPressAndReleaseInside) {
    struct sCase {
        const char* name;
        std::vector<sEvent> boxEvents;   // shifted by 100 for the link
        int clicks;
    };
    const sCase cases[] = {
        {"press and release inside", {{'d', 20, 15, 1}, {'u', 30, 15, 1}}, 1},
        {"two clicks", {{'d', 20, 15, 1}, {'u', 20, 15, 1}, {'d', 20, 15, 1}, {'u', 20, 15, 1}}, 2},
        {"release only", {{'u', 20, 15, 1}}, 0},
        {"press elsewhere, release inside", {{'d', 250, 15, 1}, {'u', 20, 15, 1}}, 0},
        {"press inside, release outside", {{'d', 20, 15, 1}, {'u', 95, 15, 1}}, 0},
        {"press inside, release below", {{'d', 20, 15, 1}, {'u', 20, 60, 1}}, 0},
        {"button 2", {{'d', 20, 15, 2}, {'u', 20, 15, 2}}, 0},
        {"press only", {{'d', 20, 15, 1}}, 0},
    };
    for (const sCase& c : cases) {
        {
            sFixture f;
            f.run(c.boxEvents, &f.box);
            EXPECT_EQ(f.root.clicks.size(), static_cast<size_t>(c.clicks)) << "box: " << c.name;
            EXPECT_EQ(f.box.checked(), c.clicks % 2 == 1) << c.name;
            for (auto* s : f.root.clicks) EXPECT_EQ(s, &f.box);
        }
        {
            sFixture f;
            std::vector<sEvent> ev = c.boxEvents;
            for (auto& e : ev)
                if (e.x < 100) e.x += 100;
            f.run(ev, &f.link);
            EXPECT_EQ(f.root.clicks.size(), static_cast<size_t>(c.clicks)) << "link: " << c.name;
            for (auto* s : f.root.clicks) EXPECT_EQ(s, &f.link);
        }
    }
}

TEST(CheckBoxAndLink, SpaceTogglesAndSetCheckedNotifiesOnlyWhenAsked) {
    sFixture f;
    f.run({{'k', 0x20, 0, 0}}, &f.box);
    EXPECT_TRUE(f.box.checked());
    EXPECT_EQ(f.root.clicks.size(), 1u);
    f.run({{'k', 0x41, 0, 0}, {'k', 0x18D, 0, 0}}, &f.box);
    EXPECT_TRUE(f.box.checked());
    EXPECT_EQ(f.root.clicks.size(), 1u);

    f.box.setChecked(false, false);
    f.win.drain();
    EXPECT_FALSE(f.box.checked());
    EXPECT_EQ(f.box.image(), themePict(30));
    EXPECT_EQ(f.root.clicks.size(), 1u);
    size_t repaints = f.win.repaints.size() + f.win.wholeRepaints;
    f.box.setChecked(false, true);  // unchanged: nothing at all
    f.win.drain();
    EXPECT_EQ(f.root.clicks.size(), 1u);
    EXPECT_EQ(f.win.repaints.size() + f.win.wholeRepaints, repaints);
    f.box.setChecked(true, true);
    f.win.drain();
    EXPECT_EQ(f.root.clicks.size(), 2u);
}

TEST(CheckBoxAndLink, PictureFollowsCheckedFocusAndEnabledState) {
    sFixture f;
    ASSERT_NE(themePict(30), themePict(31));
    EXPECT_EQ(f.box.image(), themePict(30));
    f.box.setChecked(true, false);
    EXPECT_EQ(f.box.image(), themePict(31));
    f.box.disable(false);
    EXPECT_EQ(f.box.image(), themePict(35));
    f.box.setChecked(false, false);
    EXPECT_EQ(f.box.image(), themePict(34));
    f.box.enable();
    EXPECT_EQ(f.box.image(), themePict(30));
    f.root.processOSFocus();
    f.box.focus();
    f.win.drain();
    ASSERT_TRUE(f.box.focused());
    EXPECT_EQ(f.box.image(), themePict(32));
    f.box.setChecked(true, false);
    EXPECT_EQ(f.box.image(), themePict(33));
    f.other.setAcceptFocus(true);
    f.other.focus();
    f.win.drain();
    EXPECT_FALSE(f.box.focused());
    EXPECT_EQ(f.box.image(), themePict(31));

    cPicture outside;
    ASSERT_TRUE(outside.create(0xFF0000FFu, 4, 4));
    cCheckBoxChild& asBox = f.box;
    asBox.setImage(&outside);
    EXPECT_EQ(f.box.image(), themePict(31));
}

TEST(CheckBoxAndLink, LinkLooksAndAssociation) {
    sFixture f;
    EXPECT_EQ(f.link.defaultPointer(), cChildElement::mptHand);
    EXPECT_EQ(f.link.textColor(), cCITheme::theme()->getColor(7));
    EXPECT_EQ(f.link.association(), nullptr);
    int token = 0;
    f.link.setAssociation(&token);
    f.run({{'d', 120, 15, 1}, {'u', 120, 15, 1}}, &f.link);
    ASSERT_EQ(f.root.clicks.size(), 1u);
    EXPECT_EQ(static_cast<cLinkElement*>(f.root.clicks[0])->association(), &token);
}
