// The file and folder choosers on the real platform (SDL's offscreen
// driver), driven as a user drives them: injected pointer presses on a row
// and on the buttons, typed characters and the Return key.  Each case picks
// a name that is not plain UTF-8 text (a byte that starts no character, a
// line feed, 255 bytes) or types a relative path, and the path that comes
// back must hold the name's own bytes.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <functional>
#include <string>
#include <vector>

#include "macshim/appkit.h"
#include "testsupport.h"
#include "testwindow.h"
#include "uitoolkit/application.h"
#include "uitoolkit/filechoose.h"
#include "uitoolkit/folderchoose.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/theme.h"
#include "uitoolkit/window.h"

namespace {

MSWindow* windowOf(cChildElement* root) {
    cWindowRequestTarget* t = root ? root->winTarget() : nullptr;
    return t ? static_cast<MSWindow*>(t->_rt_rawhandle()) : nullptr;
}

// A point inside an element, in its window's content coordinates.
sPoint inside(cChildElement* root, cChildElement* e, int dx, int dy) {
    sPoint r{0, 0}, p{0, 0};
    root->absPos(r);
    e->absPos(p);
    return {p.x - r.x + dx, p.y - r.y + dy};
}

void click(MSWindow* w, sPoint p) {
    mstest::injectMouseMove(w, p.x, p.y);
    mstest::injectMouseButton(w, 1, true, p.x, p.y);
    mstest::injectMouseButton(w, 1, false, p.x, p.y);
}

// Types UTF-8 text one character at a time, as a keyboard delivers it.
void typeText(MSWindow* w, const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 1;
        while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
        const std::string one = text.substr(i, n);
        mstest::injectKey(w, SDL_SCANCODE_E, true, 0, one.c_str());
        mstest::injectKey(w, SDL_SCANCODE_E, false);
        i += n;
    }
}

void pressReturn(MSWindow* w) {
    mstest::injectKey(w, SDL_SCANCODE_RETURN, true);
    mstest::injectKey(w, SDL_SCANCODE_RETURN, false);
}

enum eWay { wClickOpen, wDoubleClick, wTyped };

struct sCase {
    const char* what;
    bool folder;        // the folder chooser, else the file chooser
    std::string start;  // folder shown first, below the test's home
    std::string row;    // the row (or tree line) clicked, as it shows
    std::string typed;  // typed into the name or path field instead
    eWay way;
    std::string want;   // the path chosen, below the test's home
};

// One scripted step after another, run whenever the event loop would wait.
// A step that does not come about within the patience gives up.
class cScript {
public:
    std::function<bool(int step)> step;  // true: the step is done
    cChildElement* dialog = nullptr;
    int current = 0;
    bool gaveUp = false;
    void tick() {
        if (!dialog || !windowOf(dialog) || gaveUp) return;
        usleep(1000);
        if (++mWaited > kPatience) {
            // Whatever is open, a box the case did not expect included, is
            // cancelled as a quit request cancels it; the cases after this
            // one then end at once, and the test fails.
            gaveUp = true;
            mstest::injectQuitRequest();
            return;
        }
        if (step(current)) {
            ++current;
            mWaited = 0;
        }
    }

private:
    static constexpr int kPatience = 3000;  // ticks, against a hang only
    int mWaited = 0;
};

class cDrivenApp : public cCIApplication {
public:
    // runApp owns the application: what it finds goes to the caller's
    // lists, per case the path chosen (or why there is none), and notes.
    cDrivenApp(const std::string& home, const std::vector<sCase>& cases, std::vector<std::string>* chosenOut,
               std::vector<std::string>* notesOut)
        : chosen(*chosenOut), notes(*notesOut), mHome(home), mCases(cases) {}
    std::vector<std::string>& chosen;
    std::vector<std::string>& notes;

    int run() override {
        cCITheme::setTheme(gCI_Flat_Theme);
        cLibLang::applyLang(lngENG);
        qortest::cManualClock clock;  // double clicks by the toolkit's clock, moved by the script
        for (const sCase& c : mCases) chosen.push_back(c.folder ? runFolder(c) : runFile(c));
        mstest::setIdleHook(nullptr);
        return 0;
    }

private:
    std::string runFile(const sCase& c) {
        cFileChooseDialog::sFileChooseInfo info;
        info.folder.set((mHome + c.start).c_str());
        auto* d = new cFileChooseDialog(cFileChooseDialog::fmOpen, &info);
        cScript s;
        s.dialog = d;
        s.step = [&](int n) -> bool {
            MSWindow* w = windowOf(d);
            cListViewChild* list = d->list();
            if (n == 0) {
                if (d->navigationBar()->naviMode() != cNavigationChild::nmNormal || d->lister()->busy()) return false;
                return list->getRowCount() > 0;
            }
            if (c.way == wTyped) {
                switch (n) {
                    case 1: click(w, inside(d, d->nameEdit(), 10, 10)); return true;
                    case 2: typeText(w, c.typed); return true;
                    case 3: pressReturn(w); return true;
                    default: return false;
                }
            }
            if (n == 1 || (n == 2 && c.way == wDoubleClick)) {
                int row = -1;
                for (int r = list->data().firstBySort(); r >= 0 && row < 0; r = list->data().nextBySort(r)) {
                    _guardchar<char> t;
                    list->data().text(r, 1, t);
                    if (t.get() && c.row == t.get()) row = r;
                }
                int top = 0, bottom = 0;
                if (row < 0 || !list->itemRange(row, top, bottom)) return false;
                qortest::cManualClock::now += n == 1 ? 1000 : 100;
                click(w, inside(d, list, 60, (top + bottom) / 2));
                return true;
            }
            if (c.way == wClickOpen && n == 2) {
                const char* field = d->nameEdit()->text();
                notes.push_back(std::string(c.what) + ": field " + (field ? field : ""));
                click(w, inside(d, d->bottomBar()->findButton(1), 10, 8));
                return true;
            }
            return false;
        };
        mstest::setIdleHook([&s] { s.tick(); });
        char title[] = "Open";
        const int r = windowMaker()->modal(title, 500, 350, d, nullptr, true);
        mstest::setIdleHook(nullptr);
        if (s.gaveUp) return "<gave up at step " + std::to_string(s.current) + ">";
        return r > 0 && info.path.get() ? info.path.get() : "<none>";
    }

    std::string runFolder(const sCase& c) {
        _guardchar<char> path((mHome + c.start).c_str());
        auto* d = new cFolderChooseDialog(&path);
        const std::string target = mHome + c.want;
        cScript s;
        s.dialog = d;
        cTreeViewChild::cTreeViewItem* line = nullptr;
        s.step = [&](int n) -> bool {
            MSWindow* w = windowOf(d);
            if (c.way == wTyped) {
                switch (n) {
                    case 0: d->pathEdit()->setText("", -1); click(w, inside(d, d->pathEdit(), 10, 8)); return true;
                    case 1: typeText(w, c.typed); return true;
                    case 2: pressReturn(w); return true;   // goes there
                    case 3: pressReturn(w); return true;   // chooses it
                    default: return false;
                }
            }
            switch (n) {
                case 0:
                    line = nullptr;
                    for (cTreeViewChild::cTreeViewItem* i = d->tree()->root(); i;) {
                        if (i->text.get() && c.row == i->text.get()) line = i;
                        // depth first
                        if (i->first) i = static_cast<cTreeViewChild::cTreeViewItem*>(i->first);
                        else {
                            while (i && !i->next) i = static_cast<cTreeViewChild::cTreeViewItem*>(i->parent);
                            if (i) i = static_cast<cTreeViewChild::cTreeViewItem*>(i->next);
                        }
                    }
                    if (!line || !line->element) return false;
                    d->tree()->scrollToChild(line->element);
                    return true;
                case 1:
                    qortest::cManualClock::now += 1000;
                    click(w, inside(d, line->element, 4, 4));
                    return true;
                case 2:
                    if (c.way == wDoubleClick) {
                        qortest::cManualClock::now += 100;
                        click(w, inside(d, line->element, 4, 4));
                    }
                    return true;
                case 3:
                    click(w, inside(d, d->bottomBar()->findButton(1), 10, 8));
                    return true;
                default: return false;
            }
        };
        mstest::setIdleHook([&s] { s.tick(); });
        char title[] = "Choose";
        const int r = windowMaker()->modal(title, 350, 450, d, nullptr, true);
        mstest::setIdleHook(nullptr);
        if (s.gaveUp) return "<gave up at step " + std::to_string(s.current) + ">";
        return r > 0 && path.get() ? path.get() : "<none>";
    }

    cCIOMLang mToolkitTexts;
    std::string mHome;
    const std::vector<sCase>& mCases;
};

TEST(ChoosersDriven, NamesOfAnyBytesAndRelativePathsComeBackWhole) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    qortest::TempDir dir;
    const std::string home = dir.file("home");
    qortest::ScopedEnv homeVar("HOME", home.c_str());
    const std::string longName = std::string(251, 'n') + ".txt";
    for (const std::string& d : {std::string(), std::string("/odd"), std::string("/odd/caf\xE9"),
                                 std::string("/odd/two\nlines"), std::string("/odd/sub")})
        ASSERT_EQ(::mkdir((home + d).c_str(), 0755), 0) << d;
    for (const std::string& f : {std::string("caf\xE9.txt"), std::string("two\nlines.txt"), longName,
                                 std::string("sub/x.txt")})
        ASSERT_TRUE(qortest::writeFile(home + "/odd/" + f, f)) << f;
    const std::vector<sCase> cases = {
        {"not UTF-8, click and Open", false, "/odd", "caf\xC3\xA9.txt", "", wClickOpen, "/odd/caf\xE9.txt"},
        {"a line feed, double click", false, "/odd", "two\xE2\x90\x8Alines.txt", "", wDoubleClick,
         "/odd/two\nlines.txt"},
        {"255 bytes, typed", false, "/odd", "", longName, wTyped, "/odd/" + longName},
        {"not UTF-8, typed as it shows", false, "/odd", "", "caf\xC3\xA9.txt", wTyped, "/odd/caf\xE9.txt"},
        {"a relative path, typed", false, "/odd", "", "../odd/./sub/x.txt", wTyped, "/odd/sub/x.txt"},
        {"a folder not UTF-8, click and Select", true, "/odd", "caf\xC3\xA9", "", wClickOpen, "/odd/caf\xE9"},
        {"a folder with a line feed, double click and Select", true, "/odd", "two\xE2\x90\x8Alines", "",
         wDoubleClick, "/odd/two\nlines"},
        {"a folder, typed relative as it shows", true, "/odd", "", "../odd/caf\xC3\xA9", wTyped, "/odd/caf\xE9"},
    };
    alarm(120);
    std::vector<std::string> chosen, notes;
    char arg0[] = "/opt/driven/bin/driven";
    char* argv[] = {arg0, nullptr};
    const int rc = cCIApplication::runApp(new cDrivenApp(home, cases, &chosen, &notes), nullptr, nullptr, 0, 1, argv,
                                          nullptr, "qor");
    alarm(0);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(chosen.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(chosen[i], home + cases[i].want) << cases[i].what;
    // After the click the name field showed the name readably.
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0], "not UTF-8, click and Open: field caf\xC3\xA9.txt");
}

}  // namespace
