// qor-test-labels: tsan
// The file chooser on real temporary folders (hidden entries, names with
// spaces and non-ASCII letters, a folder that cannot be read), run through
// the scripted modal window with its listings read on the path bar's job:
// what the list shows for each set of filters, the events of a session in
// open and in save mode against what they leave in the caller's record, and
// the listing that stays whole while the next one is read.
#include "recordingcanvas.h"
#include "testsupport.h"
#include "testwindow.h"
#include "uitoolkit/filechoose.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/messageform.h"
#include "uitoolkit/theme.h"
#include "uitoolkit/themevalues.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using qortest::cTestWindowTarget;
using qortest::messageText;
using tInfo = cFileChooseDialog::sFileChooseInfo;

namespace {

const std::string kEte = "\xC3\xA9t\xC3\xA9";      // été
const std::string kEtxt = "\xC3\xA9.txt";           // é.txt

// A home folder: two folders, a hidden one, files of known sizes (one with
// a space, one with a non-ASCII name, one hidden) and one known date; HOME
// and the working folder point elsewhere only while it lives.
struct sHome {
    sHome() {
        chmod(dir.path().c_str(), 0755);
        for (const std::string& d : std::vector<std::string>{"", "/Mes documents", "/Mes documents/sub", "/" + kEte,
                                                             "/.cache"})
            EXPECT_EQ(::mkdir((home + d).c_str(), 0755), 0) << d;
        file("a.txt", 1023);
        file("b.pdf", 2048);
        file("report.pdf", 10);
        file("Z notes.txt", 5000);
        file(kEtxt, 1);
        file(".hidden.txt", 3);
        file("Mes documents/inside.txt", 1);
        EXPECT_TRUE(cFolderContents::setTime((home + "/a.txt").c_str(), 2021, 3, 4, 5, 6, 7));
        EXPECT_TRUE(cFolderContents::setTime((home + "/b.pdf").c_str(), 2019, 12, 31, 23, 59, 58));
        char buf[4096];
        if (getcwd(buf, sizeof buf)) oldCwd = buf;
    }
    ~sHome() {
        if (!oldCwd.empty() && chdir(oldCwd.c_str()) != 0) ADD_FAILURE() << "cannot return to " << oldCwd;
    }
    void file(const std::string& name, size_t size) {
        EXPECT_TRUE(qortest::writeFile(home + "/" + name, std::string(size, 'x'))) << name;
    }
    qortest::TempDir dir;
    std::string home = dir.file("home");
    qortest::ScopedEnv homeVar{"HOME", home.c_str()};
    std::string oldCwd;
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        EXPECT_TRUE(cLibLang::applyLang(lngENG));
        win.bind(&root, 1200, 900);
    }
    bool run(bool save, tInfo& info, const std::function<void(cFileChooseDialog&, cTestWindowTarget&)>& script) {
        win.onModal = [&](cChildElement* r, cTestWindowTarget& w) {
            auto* d = dynamic_cast<cFileChooseDialog*>(r);
            ASSERT_NE(d, nullptr);
            script(*d, w);
        };
        return save ? cFileChooseDialog::save(&root, "Save", info) : cFileChooseDialog::open(&root, "Open", info);
    }
    cCIOMLang toolkit;
    cTestWindowTarget win;
    cChildElement root;
};

// Drains the dialog's window until the path bar is back in its normal mode
// with a listing shown; a generous limit only against hangs.
bool settle(cFileChooseDialog& d, cTestWindowTarget& w) {
    for (int i = 0; i < 20000; ++i) {
        w.drain();
        if (d.navigationBar()->naviMode() == cNavigationChild::nmNormal && !d.lister()->busy()) {
            w.drain();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// The rows in display order: "name|type|size|date" each.
std::vector<std::string> rows(cFileChooseDialog& d) {
    std::vector<std::string> out;
    cListViewChild* l = d.list();
    for (int row = l->data().firstBySort(); row >= 0; row = l->data().nextBySort(row)) {
        // Name, type, size and date, as the columns are ordered on screen
        // (1, 3, 4, 2 by id).
        std::string line;
        for (int col : {1, 3, 4, 2}) {
            _guardchar<char> t;
            l->data().text(row, col, t);
            line += (col != 1 ? "|" : "") + std::string(t.get() ? t.get() : "");
        }
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> names(cFileChooseDialog& d) {
    std::vector<std::string> out;
    for (auto& r : rows(d)) out.push_back(r.substr(0, r.find('|')));
    return out;
}

int rowOf(cFileChooseDialog& d, const std::string& name) {
    cListViewChild* l = d.list();
    for (int row = l->data().firstBySort(); row >= 0; row = l->data().nextBySort(row)) {
        _guardchar<char> t;
        l->data().text(row, 1, t);
        if (t.get() && name == t.get()) return row;
    }
    return -1;
}

// Presses on a row's name (twice, 100 ms apart on the manual clock, for a
// double click), with the add modifier when asked.
void clickRow(cTestWindowTarget& w, cFileChooseDialog& d, const std::string& name, bool add = false,
              int clicks = 1) {
    const int row = rowOf(d, name);
    ASSERT_GE(row, 0) << name;
    d.list()->adjustScrollToItem(row);
    w.drain();
    int top = 0, bottom = 0;
    ASSERT_TRUE(d.list()->itemRange(row, top, bottom));
    sPoint p{0, 0};
    d.list()->absPos(p);
    const int x = p.x - w.winX + 60, y = p.y - w.winY + (top + bottom) / 2 - d.list()->shiftY();
    qortest::cManualClock::now += 1000;
    for (int i = 0; i < clicks; ++i) {
        qortest::cManualClock::now += 100;
        w.root->processMouseBtn(x, y, 1, true, add, false);
        w.root->processFocus(x, y, 1, add, false);
        w.root->processMouseBtn(x, y, 1, false, add, false);
        w.drain();
    }
}

void type(cTestWindowTarget& w, cFileChooseDialog& d, const std::string& text) {
    d.nameEdit()->setText(text.c_str(), -1);
    qortest::pressKey(w, 0x18D);  // keypad Enter: accept
}

void addFilter(tInfo& info, std::vector<std::vector<const char*>> filters) {
    info.filters.set(static_cast<long long>(filters.size()));
    for (size_t i = 0; i < filters.size(); ++i) {
        info.filters[i].name.set(filters[i][0]);
        info.filters[i].mask.set(filters[i][1]);
        info.filters[i].ext.set(filters[i][2]);
    }
}

}  // namespace

TEST(FileChooser, WithoutAnOwnerNothingRuns) {
    sFixture f;
    tInfo info;
    EXPECT_FALSE(cFileChooseDialog::open(nullptr, "x", info));
    EXPECT_FALSE(cFileChooseDialog::save(nullptr, "x", info));
    EXPECT_TRUE(f.win.modals.empty());
    // A modal run that fails (-1) is no choice either.
    f.win.modalAnswer = -1;
    f.win.onModal = [](cChildElement*, cTestWindowTarget&) {};
    EXPECT_FALSE(cFileChooseDialog::open(&f.root, "x", info));
    EXPECT_FALSE(cFileChooseDialog::save(&f.root, "x", info));
    ASSERT_EQ(f.win.modals.size(), 2u);
    EXPECT_EQ(f.win.modals[0].w, 500);
    EXPECT_EQ(f.win.modals[0].h, 350);
}

// What the home folder lists for each set of filters: folders, then files,
// each group by name; sizes in whole KB; the date of the known files.
TEST(FileChooser, ListingsByFilter) {
    sHome h;
    const std::string A = "a.txt|File|0 KB|04.03.2021 05:06:07", B = "b.pdf|File|2 KB|31.12.2019 23:59:58";
    struct sCase {
        const char* what;
        std::vector<std::vector<const char*>> filters;
        long long filterIndex;
        bool hidden;
        std::vector<std::string> names;
        std::vector<std::string> boxItems;
        long long indexAfter;
        const char* mask;
    };
    const sCase cases[] = {
        {"no filters", {}, 0, false,
         {"Mes documents", kEte, "Z notes.txt", "a.txt", "b.pdf", "report.pdf", kEtxt}, {"All files"}, 0, "*"},
        {"the second filter", {{"Text", "*.txt", "txt"}, {"PDF", "*.pdf;*.PDF", "pdf"}}, 1, false,
         {"Mes documents", kEte, "b.pdf", "report.pdf"}, {"Text", "PDF"}, 1, "*.pdf;*.PDF"},
        {"an index out of range", {{"Text", "*.txt", "txt"}, {"PDF", "*.pdf", "pdf"}}, 7, false,
         {"Mes documents", kEte, "Z notes.txt", "a.txt", kEtxt}, {"Text", "PDF"}, 0, "*.txt"},
        {"a filter without a mask", {{"Broken", nullptr, nullptr}, {"PDF", "*.pdf", "pdf"}}, 1, false,
         {"Mes documents", kEte, "b.pdf", "report.pdf"}, {"PDF"}, 1, "*.pdf"},
        {"hidden entries shown", {}, 0, true,
         {".cache", "Mes documents", kEte, ".hidden.txt", "Z notes.txt", "a.txt", "b.pdf", "report.pdf", kEtxt},
         {"All files"}, 0, "*"},
    };
    for (const sCase& c : cases) {
        sFixture f;
        tInfo info;
        addFilter(info, c.filters);
        info.filterIndex = c.filterIndex;
        info.showHidden = c.hidden;
        f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
            ASSERT_TRUE(settle(d, w)) << c.what;
            EXPECT_EQ(names(d), c.names) << c.what;
            std::vector<std::string> box;
            for (int i = 0; i < 10; ++i)
                if (d.filterBox()->text(i)) box.push_back(d.filterBox()->text(i));
            EXPECT_EQ(box, c.boxItems) << c.what;
            EXPECT_STREQ(d.mask(), c.mask) << c.what;
            EXPECT_STREQ(d.navigationBar()->path(), h.home.c_str()) << c.what;
            const std::vector<std::string> all = rows(d);
            for (const std::string& want : {A, B})
                if (std::find(c.names.begin(), c.names.end(), want.substr(0, 5)) != c.names.end()) {
                    EXPECT_NE(std::find(all.begin(), all.end(), want), all.end()) << c.what << ": " << want;
                }
            qortest::pressKey(w, 0x11B);
        });
        EXPECT_EQ(info.filterIndex, c.indexAfter) << c.what;
    }
}

// One open session: each step's event and what the dialog shows after it.
TEST(FileChooser, OpenSessionEvents) {
    sHome h;
    sFixture f;
    qortest::cManualClock clock;
    tInfo info;
    addFilter(info, {{"Text", "*.txt", "txt"}, {"All", "*", ""}});
    info.filterIndex = 1;
    info.namedCustomFilter = true;
    const bool chosen = f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
        ASSERT_TRUE(settle(d, w));
        struct sStep {
            const char* what;
            std::function<void()> act;
            std::string folder;  // the folder listed afterwards ("" for the places)
            const char* edit;
            std::vector<std::string> names;  // empty: not checked
            const char* message = "";        // the box shown, if any
        };
        const char* kNoFile = "File not found.\nPlease check the file name.";
        const sStep steps[] = {
            {"a file row gives its name", [&] { clickRow(w, d, "b.pdf"); }, h.home, "b.pdf", {}},
            {"a typed pattern filters", [&] { type(w, d, "*.pdf"); }, h.home, "*.pdf",
             {"Mes documents", kEte, "b.pdf", "report.pdf"}},
            {"a sub-folder by name", [&] { type(w, d, "Mes documents"); settle(d, w); },
             h.home + "/Mes documents", "", {"sub"}},
            // Not in this folder: a bare name is never taken from the
            // process's working folder, which holds one.
            {"a name from elsewhere", [&] { (void)!chdir(h.home.c_str()); type(w, d, "a.txt"); },
             h.home + "/Mes documents", "a.txt", {}, kNoFile},
            {"home", [&] { qortest::clickAt(w, d.topBar()->findButton(1)); settle(d, w); }, h.home, "a.txt",
             {}},
            {"the places", [&] { qortest::clickAt(w, d.topBar()->findButton(2)); }, "", "a.txt",
             {"Home folder", "File system"}},
            {"a relative name at the places", [&] { type(w, d, "a.txt"); }, "", "a.txt", {}, kNoFile},
            {"a place activated", [&] {
                 clickRow(w, d, "Home folder", false, 2);
                 settle(d, w);
             }, h.home, "a.txt", {}},
            {"F5 reads the folder again", [&] {
                 h.file("c.pdf", 1);
                 qortest::pressKey(w, 0x1C2);
                 settle(d, w);
             }, h.home, "a.txt", {"Mes documents", kEte, "b.pdf", "c.pdf", "report.pdf"}},
        };
        std::string message;
        w.onModal = [&](cChildElement* r, cTestWindowTarget& inner) {
            message = messageText(r);
            inner.root->end_modal(1);
        };
        for (const sStep& s : steps) {
            message.clear();
            s.act();
            EXPECT_TRUE(w.modalResults.empty()) << s.what;
            EXPECT_EQ(message, s.message) << s.what;
            const char* folder = d.lister()->listedFolder();
            EXPECT_EQ(std::string(folder ? folder : ""), s.folder) << s.what;
            EXPECT_STREQ(d.nameEdit()->text(), s.edit) << s.what;
            if (!s.names.empty()) {
                EXPECT_EQ(names(d), s.names) << s.what;
            }
        }
        EXPECT_STREQ(d.filterBox()->text(), "All (filter: *.pdf)");
        // The context menu on a selected file: its one entry opens it.
        clickRow(w, d, "b.pdf");
        std::string entry;
        w.onModalPopup = [&](cChildElement* r, cTestWindowTarget& pw) {
            auto* p = dynamic_cast<cPopupMaster*>(r);
            ASSERT_TRUE(p && p->buttonCount() == 1);
            entry = p->button(0)->text();
            qortest::clickAt(pw, p->button(0));
        };
        const int row = rowOf(d, "b.pdf");
        int top = 0, bottom = 0;
        ASSERT_TRUE(d.list()->itemRange(row, top, bottom));
        qortest::clickAt(w, d.list(), 60, (top + bottom) / 2 - d.list()->shiftY(), 2);
        EXPECT_EQ(entry, "Open");
        EXPECT_EQ(w.modalResults, std::vector<int>{1});
    });
    EXPECT_TRUE(chosen);
    EXPECT_STREQ(info.path.get(), (h.home + "/b.pdf").c_str());
    EXPECT_TRUE(info.files.empty());
}

TEST(FileChooser, MultiselectGivesTheFirstFileAndTheRest) {
    sHome h;
    sFixture f;
    qortest::cManualClock clock;
    tInfo info;
    info.multiselect = true;
    info.files.emplace_back("stale");
    const bool chosen = f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
        ASSERT_TRUE(settle(d, w));
        EXPECT_TRUE(info.files.empty());
        clickRow(w, d, "a.txt");
        clickRow(w, d, "Mes documents", true);  // a folder among them counts for nothing
        clickRow(w, d, "report.pdf", true);
        clickRow(w, d, kEtxt, true);
        qortest::clickAt(w, d.bottomBar()->findButton(1));
    });
    EXPECT_TRUE(chosen);
    EXPECT_STREQ(info.path.get(), (h.home + "/a.txt").c_str());
    ASSERT_EQ(info.files.size(), 2u);
    EXPECT_STREQ(info.files[0].get(), (h.home + "/report.pdf").c_str());
    EXPECT_STREQ(info.files[1].get(), (h.home + "/" + kEtxt).c_str());
}

// Save mode: a typed name against the path chosen, the question asked
// before an existing file is replaced, and the answer given.
TEST(FileChooser, SaveNamesExtensionsAndReplacing) {
    sHome h;
    struct sCase {
        const char* typed;
        int answer;           // to the question, when one is asked
        const char* message;  // the box shown: the question, or why nothing was chosen
        const char* chosen;   // relative to home; null: the dialog stays open
    };
    const char* kReplace = "File already exists.\nDo you want to replace it?";
    const sCase cases[] = {
        {"new", 1, "", "new.pdf"},
        {"report", 1, kReplace, "report.pdf"},
        {"report", 0, kReplace, nullptr},
        {"report.pdf", 1, kReplace, "report.pdf"},
        {"report.PDF", 1, "", "report.PDF.pdf"},  // the comparison is case-sensitive here
        {"no/such/folder/x", 1, "Folder not found.\nPlease check the path.", nullptr},
        {"Mes documents/new", 1, "", "Mes documents/new.pdf"},
        {"Mes documents/../Mes documents/./new", 1, "", "Mes documents/new.pdf"},
    };
    for (const sCase& c : cases) {
        sFixture f;
        tInfo info;
        addFilter(info, {{"PDF", "*.pdf", "pdf"}});
        std::string question;
        const bool chosen = f.run(true, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
            ASSERT_TRUE(settle(d, w));
            EXPECT_TRUE(d.topBar()->isEnabled(3));
            w.onModal = [&](cChildElement* r, cTestWindowTarget& inner) {
                question = messageText(r);
                inner.root->end_modal(c.answer);
            };
            type(w, d, c.typed);
            if (c.chosen) {
                EXPECT_EQ(w.modalResults, std::vector<int>{1}) << c.typed;
            } else {
                EXPECT_TRUE(w.modalResults.empty()) << c.typed;
            }
            if (w.modalResults.empty()) qortest::pressKey(w, 0x11B);
        });
        EXPECT_EQ(chosen, c.chosen != nullptr) << c.typed;
        EXPECT_EQ(question, c.message) << c.typed;
        if (c.chosen) {
            EXPECT_STREQ(info.path.get(), (h.home + "/" + c.chosen).c_str()) << c.typed;
        }
    }
}

// A folder that changes or goes while the dialog shows it, in two
// sessions: each step's event, the folders read for it, the folder listed
// after it, what that lists and the box shown.  Coming back to the front
// reads a changed folder again (quietly), leaves an unchanged one alone and
// leaves a folder that went for its nearest parent that still exists,
// saying so; a double click on a file that went, alone or with its folder,
// reads the list again and says so, and never hands back a path that is
// not there.
namespace {
std::atomic<int> gReads{0};
void countRead(cFileChooseListFolder*, const char*) { gReads.fetch_add(1); }
}  // namespace

TEST(FileChooser, FoldersThatChangeOrGoAreReadAgain) {
    sHome h;
    const std::string gone = h.home + "/gone", sub = gone + "/sub", kept = h.home + "/kept";
    for (const std::string& d : {gone, sub, kept}) ASSERT_EQ(::mkdir(d.c_str(), 0755), 0) << d;
    h.file("gone/sub/a.txt", 1);
    h.file("kept/f.txt", 1);
    h.file("kept/g.txt", 1);
    const char* kFolderGone =
        "The folder shown no longer exists.\nIts nearest parent folder that still exists is shown instead.";
    const char* kEntryGone = "This file or folder no longer exists.\nThe list has been read again.";
    using tAct = std::function<void(cFileChooseDialog&, cTestWindowTarget&)>;
    struct sStep {
        const char* what;
        tAct act;
        int reads;
        std::string folder;
        std::vector<std::string> names;  // empty: not checked
        const char* message;
    };
    const tAct activated = [](cFileChooseDialog&, cTestWindowTarget& w) {
        w.root->processOSFocus();
        w.drain();
    };
    auto removeAll = [](const std::string& folder, std::initializer_list<const char*> files) {
        for (const char* f : files) ASSERT_EQ(::unlink((folder + "/" + f).c_str()), 0) << f;
        ASSERT_EQ(::rmdir(folder.c_str()), 0) << folder;
    };
    const std::vector<sStep> atTheFront = {
        {"nothing changed", activated, 0, sub, {"a.txt"}, ""},
        // The clock need not have ticked since the listing: the folder's
        // time is set, as any later change would move it.
        {"a file came", [&](cFileChooseDialog& d, cTestWindowTarget& w) {
             h.file("gone/sub/b.txt", 1);
             ASSERT_TRUE(cFolderContents::setTime(sub.c_str(), 2001, 2, 3, 4, 5, 6));
             activated(d, w);
         }, 1, sub, {"a.txt", "b.txt"}, ""},
        {"the folder and its parent went", [&](cFileChooseDialog& d, cTestWindowTarget& w) {
             removeAll(sub, {"a.txt", "b.txt"});
             removeAll(gone, {});
             activated(d, w);
         }, 1, h.home, {}, kFolderGone},
    };
    const std::vector<sStep> doubleClicks = {
        {"a file that went", [&](cFileChooseDialog& d, cTestWindowTarget& w) {
             ASSERT_EQ(::unlink((kept + "/f.txt").c_str()), 0);
             clickRow(w, d, "f.txt", false, 2);
         }, 1, kept, {"g.txt"}, kEntryGone},
        {"a file whose folder went", [&](cFileChooseDialog& d, cTestWindowTarget& w) {
             removeAll(kept, {"g.txt"});
             clickRow(w, d, "g.txt", false, 2);
         }, 1, h.home, {}, kFolderGone},
    };
    tFileChooseListHook old = __setFileChooseListHook(countRead);
    for (const auto& session : {std::make_pair(sub, &atTheFront), std::make_pair(kept, &doubleClicks)}) {
        sFixture f;
        qortest::cManualClock clock;
        tInfo info;
        info.folder.set(session.first.c_str());
        const bool chosen = f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
            ASSERT_TRUE(settle(d, w));
            std::string message;
            w.onModal = [&](cChildElement* r, cTestWindowTarget& inner) {
                message = messageText(r);
                inner.root->end_modal(1);
            };
            for (const sStep& s : *session.second) {
                message.clear();
                const int before = gReads.load();
                s.act(d, w);
                ASSERT_TRUE(settle(d, w)) << s.what;
                EXPECT_EQ(gReads.load() - before, s.reads) << s.what;
                EXPECT_TRUE(w.modalResults.empty()) << s.what;
                EXPECT_EQ(message, s.message) << s.what;
                const char* folder = d.lister()->listedFolder();
                EXPECT_EQ(std::string(folder ? folder : ""), s.folder) << s.what;
                if (!s.names.empty()) {
                    EXPECT_EQ(names(d), s.names) << s.what;
                }
            }
            qortest::clickAt(w, d.bottomBar()->findButton(2));
        });
        EXPECT_FALSE(chosen) << session.first;
        EXPECT_EQ(info.path.get(), nullptr) << session.first;
    }
    __setFileChooseListHook(old);
}

TEST(FileChooser, NewFolderInSaveMode) {
    sHome h;
    sFixture f;
    tInfo info;
    struct sRow {
        const char* name;
        const char* message;  // "" none
        int answer;
        const char* folderAfter;
    };
    const sRow rows[] = {
        {"Nouveau dossier", "", 0, ""},
        {"a.txt", "File already exists.\nCurrent folder already contains file with this name.", 1, ""},
        {"Mes documents", "Folder already exists.\nDo you want to go to this folder?", 1, "/Mes documents"},
    };
    f.run(true, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
        ASSERT_TRUE(settle(d, w));
        for (const sRow& r : rows) {
            std::string message;
            w.onModal = [&](cChildElement* root, cTestWindowTarget& inner) {
                if (dynamic_cast<cNewFolderNameReqForm*>(root)) {
                    qortest::typeText(inner, r.name);
                    qortest::pressKey(inner, 0x18D);
                    return;
                }
                message = messageText(root);
                inner.root->end_modal(r.answer);
            };
            qortest::clickAt(w, d.topBar()->findButton(3));
            settle(d, w);
            EXPECT_EQ(message, r.message) << r.name;
            EXPECT_STREQ(d.lister()->listedFolder(), (h.home + r.folderAfter).c_str()) << r.name;
        }
        EXPECT_EQ(cFolderContents::objtype((h.home + "/Nouveau dossier").c_str()), fsoFolder);
        w.onModal = nullptr;
        qortest::pressKey(w, 0x11B);
    });
}

// While the next folder is read, the list keeps showing the last one whole:
// rows, sorting by a column and the current row's name all still come from
// it, and the new one replaces it only once it is complete.
namespace {
std::atomic<int> gHeld{0};
std::atomic<bool> gRelease{false};
std::string gHoldPath;
void holdListing(cFileChooseListFolder* lister, const char* path) {
    if (!path || gHoldPath != path) return;
    gHeld = 1;
    while (!gRelease.load() && !lister->haveToStop()) cJob::sleep(1);
    gHeld = 2;
}
}  // namespace

TEST(FileChooser, TheShownListingStaysWholeWhileTheNextIsRead) {
    sHome h;
    sFixture f;
    qortest::cManualClock clock;
    tInfo info;
    gHoldPath = h.home + "/Mes documents";
    gHeld = 0;
    gRelease = false;
    tFileChooseListHook old = __setFileChooseListHook(holdListing);
    f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
        ASSERT_TRUE(settle(d, w));
        const std::vector<std::string> before = rows(d);
        ASSERT_TRUE(d.navigationBar()->navigate(gHoldPath.c_str()));
        for (int i = 0; i < 20000 && gHeld.load() != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(gHeld.load(), 1);
        // The worker has read the new folder and holds it: the list still
        // shows home, whole, and what it reads of the listing is home's.
        EXPECT_EQ(rows(d), before);
        // Sorted by a column's key, which reads the listing's sizes and dates.
        qortest::clickAt(w, d.list()->header(), 190 + 120 + 70 + 40, 5);  // Size
        EXPECT_EQ(names(d).back(), "Z notes.txt");
        qortest::clickAt(w, d.list()->header(), 190 + 40, 5);  // Date
        EXPECT_EQ(names(d).front(), "b.pdf");
        EXPECT_EQ(names(d)[1], "a.txt");
        clickRow(w, d, "a.txt");
        EXPECT_STREQ(d.nameEdit()->text(), "a.txt");
        qortest::cRecordingCanvas canvas(600, 400, 13);
        w.root->processPaint(&canvas);
        gRelease = true;
        ASSERT_TRUE(settle(d, w));
        EXPECT_EQ(names(d), std::vector<std::string>({"sub", "inside.txt"}));
        qortest::pressKey(w, 0x11B);
    });
    __setFileChooseListHook(old);
}

// Cancelling while a folder is being read: the read is stopped and waited
// for before the dialog and its lister go.
TEST(FileChooser, CancelWhileReadingStopsTheReadFirst) {
    sHome h;
    sFixture f;
    tInfo info;
    gHoldPath = h.home;
    gHeld = 0;
    gRelease = false;
    tFileChooseListHook old = __setFileChooseListHook(holdListing);
    const bool chosen = f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
        for (int i = 0; i < 20000 && gHeld.load() != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(gHeld.load(), 1);
        EXPECT_EQ(d.navigationBar()->naviMode(), cNavigationChild::nmProgress);
        qortest::clickAt(w, d.bottomBar()->findButton(2));
        EXPECT_EQ(gHeld.load(), 2);  // stopped and returned before the click's handling ended
        EXPECT_EQ(w.modalResults, std::vector<int>{0});
    });
    __setFileChooseListHook(old);
    EXPECT_FALSE(chosen);
    EXPECT_EQ(info.path.get(), nullptr);
}

// A folder that cannot be read says so in the list: the text centred in the
// empty list, compared pixel by pixel.
TEST(FileChooser, UnreadableFolderShowsWhy) {
    sHome h;
    const std::string locked = h.home + "/locked";
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    h.file("locked/secret.txt", 1);
    ASSERT_EQ(chmod(locked.c_str(), 0311), 0);
    EXPECT_TRUE(qortest::asUnprivileged([&] {
        sFixture f;
        tInfo info;
        info.folder.set(locked.c_str());
        f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
            ASSERT_TRUE(settle(d, w));
            EXPECT_STREQ(d.lister()->listedFolder(), locked.c_str());
            EXPECT_EQ(d.list()->getRowCount(), 0);
            cListViewChild* l = d.list();
            sPoint at{0, 0};
            l->absPos(at);
            qortest::cRecordingCanvas canvas(600, 400, 13);
            canvas.paintPixels(0x123456);
            w.root->processPaint(&canvas);
            // The band the text goes in: 20 high, 10 below the header, the
            // text centred over the width less 11, in theme colour 5.
            const std::string text = "Unable to read this folder.";
            const int W = l->width(), hh = l->header()->height(), tw = 6 * static_cast<int>(text.size());
            qortest::cPixelImage want(W - 11, 20, l->bgColor());
            want.text((W - 11 - tw) / 2, (20 - 13) / 2, text, 13, currentThemeValues()->color(5));
            EXPECT_EQ(want.compare(canvas, at.x - w.winX + 5, at.y - w.winY + 10 + hh), "");
            // A readable folder shows no such text.
            qortest::clickAt(w, d.topBar()->findButton(1));
            ASSERT_TRUE(settle(d, w));
            EXPECT_EQ(l->text(), nullptr);
            qortest::pressKey(w, 0x11B);
        });
    }));
    chmod(locked.c_str(), 0755);
}

// Names of any bytes: each is picked by a click and Open, by a double click
// and by typing what the row shows, and the chosen path holds the name's own
// bytes.  The row shows the name readably (a byte that starts no UTF-8
// character as its Latin-1 letter, a control character as its picture, a
// C1 control as U+FFFD), written out here by hand.
namespace {
struct sOddName {
    const char* what;
    std::string bytes, shown;
};
std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}
const std::vector<sOddName>& oddNames() {
    static const std::vector<sOddName> all = {
        {"not UTF-8", "caf\xE9.txt", "caf\xC3\xA9.txt"},
        {"a line feed", "two\nlines.txt", "two\xE2\x90\x8Alines.txt"},
        {"a tab, DEL and a stray continuation byte", "t\tx\x7F\x80.txt",
         "t\xE2\x90\x89x\xE2\x90\xA1\xEF\xBF\xBD.txt"},
        {"255 bytes", std::string(251, 'n') + ".txt", std::string(251, 'n') + ".txt"},
        {"255 bytes, none of them UTF-8", "\xFF" + std::string(250, '\xE9') + ".bin",
         "\xC3\xBF" + repeat("\xC3\xA9", 250) + ".bin"},
        {"a wildcard", "what?.txt", "what?.txt"},
        {"255 bytes cut inside a character", repeat("\xC3\xA9", 127) + "\xC3", repeat("\xC3\xA9", 127) + "\xC3\x83"},
        {"an encoded half of a surrogate pair", "\xED\xA0\x80.txt", "\xEF\xBF\xBD.txt"},
    };
    return all;
}
}  // namespace

TEST(FileChooser, NamesOfAnyBytesArePickedByTheirOwnBytes) {
    sHome h;
    const std::string odd = h.home + "/odd";
    ASSERT_EQ(::mkdir(odd.c_str(), 0755), 0);
    for (const sOddName& n : oddNames()) ASSERT_TRUE(qortest::writeFile(odd + "/" + n.bytes, n.what)) << n.what;
    enum { kClickOpen, kDoubleClick, kTyping };
    for (const sOddName& n : oddNames()) {
        for (int way : {kClickOpen, kDoubleClick, kTyping}) {
            SCOPED_TRACE(std::string(n.what) + ", way " + std::to_string(way));
            sFixture f;
            qortest::cManualClock clock;
            tInfo info;
            info.folder.set(odd.c_str());
            const bool chosen = f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
                ASSERT_TRUE(settle(d, w));
                ASSERT_GE(rowOf(d, n.shown), 0);
                if (way == kTyping) {
                    qortest::clickAt(w, d.nameEdit());
                    qortest::typeText(w, n.shown);
                    EXPECT_STREQ(d.nameEdit()->text(), n.shown.c_str());
                    qortest::pressKey(w, 0x18D);
                } else {
                    clickRow(w, d, n.shown, false, way == kDoubleClick ? 2 : 1);
                    EXPECT_STREQ(d.nameEdit()->text(), n.shown.c_str());
                    if (way == kClickOpen) qortest::clickAt(w, d.bottomBar()->findButton(1));
                }
                EXPECT_EQ(w.modalResults, std::vector<int>{1});
            });
            EXPECT_TRUE(chosen);
            ASSERT_NE(info.path.get(), nullptr);
            EXPECT_EQ(std::string(info.path.get()), odd + "/" + n.bytes);
        }
    }
}

// Names that show alike keep apart: a click picks each by its bytes, typed
// text that is some name's bytes is that name, and typed text that shows
// like two names is neither: the user is told it is not found.
TEST(FileChooser, NamesThatShowAlikeStayApart) {
    sHome h;
    const std::string odd = h.home + "/alike";
    ASSERT_EQ(::mkdir(odd.c_str(), 0755), 0);
    // "café" in UTF-8 and in Latin-1; "éÿ" as UTF-8 then a stray byte, and
    // as two stray bytes.
    const std::string utf8 = "caf\xC3\xA9", latin1 = "caf\xE9", mixed = "\xC3\xA9\xFF", stray = "\xE9\xFF";
    for (const std::string& n : {utf8, latin1, mixed, stray}) ASSERT_TRUE(qortest::writeFile(odd + "/" + n, n));
    struct sRow {
        const char* what;
        std::string row;    // clicked (by order among the rows showing alike), or "" for typing
        int nth;
        std::string typed;  // typed when not clicking
        std::string chosen; // "" when nothing is
    };
    const sRow rows[] = {
        {"the first café row", "caf\xC3\xA9", 0, "", ""},
        {"the second café row", "caf\xC3\xA9", 1, "", ""},
        {"café typed", "", 0, "caf\xC3\xA9", utf8},
        {"the first éÿ row", "\xC3\xA9\xC3\xBF", 0, "", ""},
        {"the second éÿ row", "\xC3\xA9\xC3\xBF", 1, "", ""},
        {"éÿ typed", "", 0, "\xC3\xA9\xC3\xBF", ""},
    };
    std::vector<std::string> clicked;
    for (const sRow& r : rows) {
        SCOPED_TRACE(r.what);
        sFixture f;
        qortest::cManualClock clock;
        tInfo info;
        info.folder.set(odd.c_str());
        std::string message;
        std::string bytesOfRow;
        const bool chosen = f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
            ASSERT_TRUE(settle(d, w));
            w.onModal = [&](cChildElement* root, cTestWindowTarget& inner) {
                message = messageText(root);
                inner.root->end_modal(1);
            };
            if (!r.row.empty()) {
                // The rows showing alike, in display order; the one clicked
                // is identified by its listing entry's bytes.
                std::vector<int> alike;
                cListViewChild* l = d.list();
                for (int row = l->data().firstBySort(); row >= 0; row = l->data().nextBySort(row)) {
                    _guardchar<char> t;
                    l->data().text(row, 1, t);
                    if (t.get() && r.row == t.get()) alike.push_back(row);
                }
                ASSERT_EQ(alike.size(), 2u);
                const int row = alike[static_cast<std::size_t>(r.nth)];
                const intptr_t entry = reinterpret_cast<intptr_t>(l->association(row, 1));
                bytesOfRow = d.lister()->contents().info(static_cast<int>(entry))->name.get();
                d.list()->select(row);
                w.drain();
                qortest::clickAt(w, d.bottomBar()->findButton(1));
            } else {
                d.nameEdit()->setText(r.typed.c_str(), -1);
                qortest::pressKey(w, 0x18D);
            }
            if (w.modalResults.empty()) qortest::pressKey(w, 0x11B);
        });
        const std::string want = r.row.empty() ? r.chosen : bytesOfRow;
        EXPECT_EQ(chosen, !want.empty());
        EXPECT_EQ(std::string(info.path.get() ? info.path.get() : ""), want.empty() ? "" : odd + "/" + want);
        EXPECT_EQ(message, want.empty() ? "File not found.\nPlease check the file name." : "");
        if (!r.row.empty()) clicked.push_back(bytesOfRow);
    }
    // The two rows of each pair stood for the two different names.
    ASSERT_EQ(clicked.size(), 4u);
    EXPECT_EQ(std::set<std::string>(clicked.begin(), clicked.begin() + 2), (std::set<std::string>{utf8, latin1}));
    EXPECT_EQ(std::set<std::string>(clicked.begin() + 2, clicked.end()), (std::set<std::string>{mixed, stray}));
}

// Relative paths, typed into the name field or the path bar, are taken from
// the folder shown, never from the working folder (which holds a decoy of
// the same name), and the path chosen is a full one.
TEST(FileChooser, RelativePathsAreTakenFromTheFolderShown) {
    sHome h;
    const std::string big = h.home + "/Mes documents/big";
    ASSERT_EQ(::mkdir(big.c_str(), 0755), 0);
    h.file("Mes documents/big/file00007.txt", 7);
    h.file("odd\xE9.txt", 1);
    const std::string decoy = h.dir.file("work");
    for (const char* d : {"", "/big", "/Mes documents", "/Mes documents/big"})
        ASSERT_EQ(::mkdir((decoy + d).c_str(), 0755), 0);
    ASSERT_EQ(chdir(decoy.c_str()), 0);
    struct sRow {
        const char* what;
        bool bar;            // typed into the path bar (then the file's row clicked), else the name field
        std::string typed;
        std::string listed;  // the folder listed before accepting
        std::string chosen;  // the full path chosen
    };
    const std::string docs = h.home + "/Mes documents";
    const sRow rows[] = {
        {"a file below", false, "big/file00007.txt", docs, big + "/file00007.txt"},
        {"up and down again, as the name shows", false, "../Mes documents/./big/file00007.txt", docs,
         big + "/file00007.txt"},
        {"up to a name that is not UTF-8, typed as it shows", false, "../odd\xC3\xA9.txt", docs,
         h.home + "/odd\xE9.txt"},
        {"a folder in the bar", true, "big", big, big + "/file00007.txt"},
        {"a folder in the bar, with dots and doubled slashes", true, "..//Mes documents/./big/", big,
         big + "/file00007.txt"},
    };
    for (const sRow& r : rows) {
        SCOPED_TRACE(r.what);
        sFixture f;
        qortest::cManualClock clock;
        tInfo info;
        info.folder.set(docs.c_str());
        const bool chosen = f.run(false, info, [&](cFileChooseDialog& d, cTestWindowTarget& w) {
            ASSERT_TRUE(settle(d, w));
            if (r.bar) {
                qortest::clickAt(w, d.navigationBar()->pathBar()->findButton(0));  // the folder icon
                ASSERT_EQ(d.navigationBar()->naviMode(), cNavigationChild::nmEdit);
                d.navigationBar()->dropDown()->setText(r.typed.c_str(), -1);
                qortest::pressKey(w, 0x18D);
                ASSERT_TRUE(settle(d, w));
                EXPECT_STREQ(d.navigationBar()->path(), r.listed.c_str());
            }
            EXPECT_STREQ(d.lister()->listedFolder(), r.listed.c_str());
            if (r.bar) {
                clickRow(w, d, "file00007.txt");
                qortest::clickAt(w, d.bottomBar()->findButton(1));
            } else {
                type(w, d, r.typed);
            }
            EXPECT_EQ(w.modalResults, std::vector<int>{1});
        });
        EXPECT_TRUE(chosen);
        EXPECT_STREQ(info.path.get(), r.chosen.c_str());
    }
}
