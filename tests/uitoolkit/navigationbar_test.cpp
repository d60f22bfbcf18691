// qor-test-labels: tsan
// The navigation bar: the buttons a path makes, the modes that clicks, keys
// and posted actions move it through, the history its drop-down shows, and
// real navigations on provider jobs: one at a time, reported only after the
// provider is done with them, a next one accepted at once, and no report to
// a bar that is gone.  The made-up progress is checked value by value.
#include "recordingcanvas.h"
#include "testwindow.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/navigationbar.h"
#include "uitoolkit/popupmenu.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using qortest::cTestWindowTarget;

namespace {

// The parent: records the paths the bar reports (null path as "<done>") and,
// when asked, posts code 9 back as a file chooser does.
class cParent : public cChildElement {
public:
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (auto* s = dynamic_cast<cNavigationChild::cNaviSetPathAction*>(a)) {
            reports.push_back(s->path.get() ? s->path.get() : "<done>");
            if (onReport) onReport();
            if (answer) src->postAction(new cChildAction(9));
            return true;
        }
        return false;
    }
    std::vector<std::string> reports;
    bool answer = true;
    std::function<void()> onReport;
};

// A bar that writes down the made-up progress it receives.
class cWatchedBar : public cNavigationChild {
public:
    bool onAction(cChildElement* src, cChildAction* a) override {
        if (auto* f = dynamic_cast<cNaviFakeProgressRecvAction*>(a)) values.push_back(f->value);
        return cNavigationChild::onAction(src, a);
    }
    std::vector<double> values;
};

// A provider whose navigations wait for the test: each run blocks until
// `release` is raised (or the job is told to stop), and onNavigationDone
// blocks until `finish` is raised.
class cGatedProvider : public cNavigationProvider {
public:
    ~cGatedProvider() override { terminate(4000); }
    bool canAcceptPath(const char* path) override { return path && std::string(path) != "/refused"; }
    int navigationProc(const char* path) override {
        calls.fetch_add(1);
        while (!release.load() && !haveToStop()) sleep(1);
        lastPath = path;
        return std::string(path) == "/bad" ? 1 : 0;
    }
    void onNavigationDone(int r) override {
        inDone.store(true);
        while (!finish.load() && !haveToStop()) sleep(1);
        result.store(r);
    }
    // With `linger`, the run's thread stays after it has reported, until
    // the test has seen `seen` reports or the job is told to stop.
    void onJobEnd(unsigned long jobResult) override {
        cNavigationProvider::onJobEnd(jobResult);
        const int want = calls.load();
        while (linger.load() && seen.load() < want && !haveToStop()) sleep(1);
    }
    std::atomic<int> calls{0}, seen{0};
    std::atomic<bool> release{true}, finish{true}, inDone{false}, linger{false};
    std::atomic<int> result{-5};
    std::string lastPath;  // written by the run, read after it reported
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        EXPECT_TRUE(cLibLang::applyLang(lngENG));
        win.bind(&parent, 600, 100);
        parent.attach(&bar, 0, 0, 600, 22);
    }
    // Drains on this (the UI) thread until done() holds; a generous limit
    // only against hangs.
    bool pump(const std::function<bool()>& done) {
        for (int i = 0; i < 20000; ++i) {
            win.drain();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    std::string buttons() {
        std::string out;
        for (int id = 0; id < 10; ++id) {
            cButtonChild* b = bar.pathBar()->findButton(id);
            if (!b) continue;
            out += (out.empty() ? "" : " ") + std::to_string(id) + ":" + (b->text() ? b->text() : "");
        }
        return out;
    }
    cCIOMLang toolkit;
    cTestWindowTarget win;
    cParent parent;
    cWatchedBar bar;
};

}  // namespace

TEST(NavigationBar, ButtonsAndTheirPaths) {
    struct sCase {
        const char* path;
        bool rootSlash;
        const char* buttons;
        int id;             // a button to look at
        const char* prefix;  // its path
    };
    const sCase cases[] = {
        {"/Users/name/Documents", true, "0: 1:/ 2:Users 3:name 4:Documents", 3, "/Users/name"},
        {"/Users/name/Documents", false, "0: 2:Users 3:name 4:Documents", 2, "/Users"},
        {"//a///b", true, "0: 1:/ 2:a 3:b", 3, "//a///b"},
        {"rel/x/", true, "0: 1:rel 2:x", 2, "rel/x"},
        {"/", true, "0: 1:/", 1, "/"},
        {"", true, "0:", 1, nullptr},
        {nullptr, true, "", 0, nullptr},
        {"/Mes documents/\xC3\xA9t\xC3\xA9", true, "0: 1:/ 2:Mes documents 3:\xC3\xA9t\xC3\xA9", 2, "/Mes documents"},
    };
    for (const sCase& c : cases) {
        sFixture f;
        f.bar.setShowRootSlash(c.rootSlash);
        f.bar.setPath(c.path);
        EXPECT_EQ(f.buttons(), c.buttons) << (c.path ? c.path : "null");
        const cNavigationChild::sStrToken* t = f.bar.token(c.id);
        EXPECT_EQ(t ? std::string(t->path.get()) : std::string("-"), c.prefix ? c.prefix : "-");
        EXPECT_EQ(f.bar.history().count(), c.path ? 1u : 0u);
    }
}

// Clicks, keys and posted actions against the modes, without a provider:
// the bar reports each navigation at once, with its path.
TEST(NavigationBar, ModesFollowClicksKeysAndTheParent) {
    sFixture f;
    f.parent.answer = false;
    f.bar.setPath("/Users/name/Documents");
    cToolBarChild* tb = f.bar.pathBar();
    struct sStep {
        const char* what;
        std::function<void()> act;
        int mode;
        const char* reports;
        const char* path;
    };
    const sStep steps[] = {
        {"a component", [&] { qortest::clickAt(f.win, tb->findButton(3)); }, 2, "/Users/name", "/Users/name"},
        {"disabled while in progress", [&] { qortest::clickAt(f.win, tb->findButton(2)); }, 2, "", "/Users/name"},
        {"the parent ends it", [&] { f.bar.postAction(new cChildElement::cChildAction(9)); f.win.drain(); }, 0, "",
         "/Users/name"},
        {"the free area", [&] { qortest::clickAt(f.win, tb, 590, 10); }, 1, "", "/Users/name"},
        // The first Escape drops the edit's selection, the second leaves.
        {"escape", [&] { qortest::pressKey(f.win, 0x11B); qortest::pressKey(f.win, 0x11B); }, 0, "", "/Users/name"},
        {"the folder icon", [&] { qortest::clickAt(f.win, tb->findButton(0)); }, 1, "", "/Users/name"},
        {"a typed path", [&] {
             f.bar.dropDown()->setText("/tmp/Mes docs", -1);
             qortest::pressKey(f.win, 0x18D);
         }, 2, "/tmp/Mes docs", "/tmp/Mes docs"},
    };
    for (const sStep& s : steps) {
        f.parent.reports.clear();
        s.act();
        EXPECT_EQ(f.bar.naviMode(), s.mode) << s.what;
        std::string r;
        for (auto& p : f.parent.reports) r += p;
        EXPECT_EQ(r, s.reports) << s.what;
        EXPECT_STREQ(f.bar.path(), s.path) << s.what;
        EXPECT_EQ(f.bar.dropDown()->visible_child(), s.mode == 1) << s.what;
        EXPECT_EQ(f.bar.pathBar()->enabled_child(), s.mode != 2) << s.what;
    }
}

TEST(NavigationBar, HistoryNewestFirstWithTheCurrentPathSelected) {
    sFixture f;
    for (const char* p : {"/A", "/B", "/A", "/C/", "/B"}) f.bar.setPath(p);
    qortest::clickAt(f.win, f.bar.pathBar(), 590, 10);
    cComboBoxChild* d = f.bar.dropDown();
    ASSERT_EQ(d->count(), 3);
    EXPECT_STREQ(d->text(0), "/B");
    EXPECT_STREQ(d->text(1), "/C/");
    EXPECT_STREQ(d->text(2), "/A");
    EXPECT_EQ(d->selected(), 0);
    EXPECT_EQ(f.win.root->getFocused(), d->edit());
    f.bar.clearHist();
    EXPECT_EQ(f.bar.history().count(), 0u);
    EXPECT_EQ(d->count(), 0);
}

// The history's list, painted: a path too long for the list ends with
// "..." inside its entry, cut after the last whole character that leaves
// room for it; a letter keeps its accent and a surrogate pair, CJK or an
// emoji with its skin tone, stays whole.  The oracle walks characters, each
// a base and what combines with it, with the fixed font's advances.
TEST(NavigationBar, LongHistoryEntriesEndWithAnEllipsisBetweenCharacters) {
    const std::string acute = "\xCC\x81", han = "\xE6\xBC\xA2", thumbTone = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";
    struct sCase {
        const char* what;
        std::string path;
        std::vector<int> cluster;  // the units of each character, in order
    };
    auto plain = [](const std::string& s) { return std::vector<int>(qortest::utf16(s).size(), 1); };
    std::vector<sCase> cases;
    cases.push_back({"short", "/home/user", plain("/home/user")});
    cases.push_back({"long, plain letters", "/srv/" + std::string(130, 'x'), plain("/srv/" + std::string(130, 'x'))});
    // Accented letters, CJK and emoji at every offset near the cut.
    for (int shift = 0; shift < 10; ++shift) {
        std::string p = "/" + std::string(static_cast<size_t>(80 + shift), 'a');
        std::vector<int> c = plain(p);
        for (int i = 0; i < 12; ++i) {
            p += "e" + acute + han + thumbTone;
            c.insert(c.end(), {2, 1, 4});
        }
        cases.push_back({"marks, CJK and emoji", p, c});
    }
    for (const sCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + c.path);
        sFixture f;
        f.bar.setPath(c.path.c_str());
        qortest::clickAt(f.win, f.bar.pathBar(), 590, 10);
        std::vector<qortest::sDrawCall> texts;
        int popupW = 0, buttonX = 0, buttonW = 0, size = 0;
        f.win.onModalPopup = [&](cChildElement* r, cTestWindowTarget&) {
            auto* p = dynamic_cast<cPopupMaster*>(r);
            ASSERT_TRUE(p && p->buttonCount() == 1);
            qortest::cRecordingCanvas canvas(r->width(), r->height(), 13);
            r->processPaint(&canvas);
            for (auto& call : canvas.calls)
                if (call.op == "text") texts.push_back(call);
            popupW = r->width();
            sRect b;
            p->button(0)->childRect(&b);
            buttonX = b.x;
            buttonW = b.w;
            size = p->button(0)->stdFont()->size();
            r->end_modal(-1);
        };
        f.bar.dropDown()->dropdown();
        ASSERT_EQ(texts.size(), 1u);
        // The entry lies inside the popup, and so does its text.
        EXPECT_LE(buttonX + buttonW, popupW - 1);
        const std::u16string units = qortest::utf16(c.path);
        auto width = [&](const std::u16string& s) {
            int w = 0;
            for (char16_t u : s) w += qortest::cFixedFont::advance(u, size);
            return w;
        };
        // The button's text box: 2 in from each side, 3 more of margin.
        const int room = buttonW - 4 - 6;
        std::u16string want = units;
        if (width(units) > room) {
            const int dots = width(u"...");
            std::u16string kept;
            size_t at = 0;
            for (int n : c.cluster) {
                const std::u16string one = units.substr(at, static_cast<size_t>(n));
                if (width(kept + one) + dots > room) break;
                kept += one;
                at += static_cast<size_t>(n);
            }
            want = kept + u"...";
        }
        EXPECT_EQ(texts[0].text, qortest::utf8(want));
        EXPECT_LE(texts[0].x + width(qortest::utf16(texts[0].text)), buttonX + buttonW);
    }
}

TEST(NavigationBar, ProviderRunsOneNavigationAndReportsWhenItIsDone) {
    sFixture f;
    cGatedProvider provider;
    f.bar.setNavigationProvider(&provider);
    EXPECT_FALSE(f.bar.navigate("/refused"));
    EXPECT_EQ(f.bar.path(), nullptr);
    EXPECT_EQ(f.bar.naviMode(), 0);

    provider.release = false;
    provider.finish = false;
    ASSERT_TRUE(f.bar.navigate("/one"));
    EXPECT_EQ(f.bar.naviMode(), 2);
    // A second request while the first runs changes nothing.
    EXPECT_FALSE(f.bar.navigate("/two"));
    EXPECT_STREQ(f.bar.path(), "/one");
    provider.release = true;
    // The provider's own completion runs before anyone hears of the run.
    ASSERT_TRUE(f.pump([&] { return provider.inDone.load(); }));
    const int wakes = f.win.wakeups();
    f.win.drain();
    EXPECT_TRUE(f.parent.reports.empty());
    provider.finish = true;
    ASSERT_TRUE(f.pump([&] { return !f.parent.reports.empty(); }));
    EXPECT_GT(f.win.wakeups(), wakes);
    EXPECT_EQ(provider.result.load(), 0);
    EXPECT_EQ(f.parent.reports, std::vector<std::string>{"<done>"});
    f.win.drain();
    EXPECT_EQ(f.bar.naviMode(), 0);

    // A failing navigation is reported all the same.
    f.parent.reports.clear();
    ASSERT_TRUE(f.bar.navigate("/bad"));
    ASSERT_TRUE(f.pump([&] { return !f.parent.reports.empty(); }));
    EXPECT_EQ(provider.result.load(), 1);
    EXPECT_EQ(provider.lastPath, "/bad");
}

// The parent navigates again the moment it hears of a finished navigation:
// every such request is taken, although the old run's thread has not
// returned yet (it lingers until the report has been seen).
TEST(NavigationBar, NextNavigationIsAcceptedAsSoonAsTheLastIsReported) {
    sFixture f;
    cGatedProvider provider;
    provider.linger = true;
    f.bar.setNavigationProvider(&provider);
    int accepted = 0, refused = 0;
    const int kRounds = 25;
    f.parent.answer = false;
    f.parent.onReport = [&] {
        provider.seen.fetch_add(1);
        if (accepted + refused >= kRounds) return;
        const std::string next = "/round" + std::to_string(accepted + refused);
        if (f.bar.navigate(next.c_str())) ++accepted;
        else ++refused;
    };
    ASSERT_TRUE(f.bar.navigate("/start"));
    ASSERT_TRUE(f.pump([&] { return accepted + refused >= kRounds && provider.calls.load() == accepted + 1 &&
                                    f.parent.reports.size() == static_cast<size_t>(accepted + 1); }));
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(provider.lastPath, "/round" + std::to_string(kRounds - 1));
}

TEST(NavigationBar, ABarThatGoesStopsItsWorkersFirst) {
    sFixture f;
    cGatedProvider provider;
    provider.release = false;
    auto* bar = new cWatchedBar();
    f.parent.attach(bar, 0, 30, 600, 22);
    bar->setNavigationProvider(&provider);
    ASSERT_TRUE(bar->navigate("/slow"));
    ASSERT_TRUE(f.pump([&] { return provider.calls.load() == 1; }));
    delete bar;  // the run is stopped and joined; it may not post to the bar
    EXPECT_FALSE(provider.busy());
    f.win.drain();
    EXPECT_TRUE(f.parent.reports.empty());
    // The provider serves another bar afterwards.
    f.bar.setNavigationProvider(&provider);
    provider.release = true;
    ASSERT_TRUE(f.bar.navigate("/again"));
    ASSERT_TRUE(f.pump([&] { return !f.parent.reports.empty(); }));
}

// The made-up progress: from the sixth step (p = 0.25) on, one value per
// step, atan(p - 0.25) * 2 / pi; the end sends 1.
TEST(NavigationBar, MadeUpProgressValues) {
    sFixture f;
    f.parent.answer = false;
    ASSERT_TRUE(f.bar.navigate("/x"));
    ASSERT_TRUE(f.pump([&] { return f.bar.values.size() >= 3; }));
    const double expect[] = {0.0, std::atan(0.05) * 2 / M_PI, std::atan(0.10) * 2 / M_PI};
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(f.bar.values[i], expect[i], 1e-9) << i;
    f.bar.postAction(new cChildElement::cChildAction(9));
    ASSERT_TRUE(f.pump([&] { return !f.bar.values.empty() && f.bar.values.back() == 1.0; }));
    EXPECT_LT(f.bar.values.size(), 40u);
    EXPECT_LT(f.bar.values.back(), 1.0 + 1e-12);
}
