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
        };
        const sStep steps[] = {
            {"a file row gives its name", [&] { clickRow(w, d, "b.pdf"); }, h.home, "b.pdf", {}},
            {"a typed pattern filters", [&] { type(w, d, "*.pdf"); }, h.home, "*.pdf",
             {"Mes documents", kEte, "b.pdf", "report.pdf"}},
            {"a sub-folder by name", [&] { type(w, d, "Mes documents"); settle(d, w); },
             h.home + "/Mes documents", "", {"sub"}},
            // Not in this folder: a bare name is never taken from the
            // process's working folder, which holds one.
            {"a name from elsewhere", [&] { (void)!chdir(h.home.c_str()); type(w, d, "a.txt"); },
             h.home + "/Mes documents", "a.txt", {}},
            {"home", [&] { qortest::clickAt(w, d.topBar()->findButton(1)); settle(d, w); }, h.home, "a.txt",
             {}},
            {"the places", [&] { qortest::clickAt(w, d.topBar()->findButton(2)); }, "", "a.txt",
             {"Home folder", "File system"}},
            {"a relative name at the places", [&] { type(w, d, "a.txt"); }, "", "a.txt", {}},
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
        for (const sStep& s : steps) {
            s.act();
            EXPECT_TRUE(w.modalResults.empty()) << s.what;
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
        int answer;          // to the question, when one is asked
        bool asked;
        const char* chosen;  // relative to home; null: the dialog stays open
    };
    const sCase cases[] = {
        {"new", 1, false, "new.pdf"},
        {"report", 1, true, "report.pdf"},
        {"report", 0, true, nullptr},
        {"report.pdf", 1, true, "report.pdf"},
        {"report.PDF", 1, false, "report.PDF.pdf"},  // the comparison is case-sensitive here
        {"no/such/folder/x", 1, false, nullptr},
        {"Mes documents/new", 1, false, "Mes documents/new.pdf"},
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
        EXPECT_EQ(question, c.asked ? "File already exists.\nDo you want to replace it?" : "") << c.typed;
        if (c.chosen) {
            EXPECT_STREQ(info.path.get(), (h.home + "/" + c.chosen).c_str()) << c.typed;
        }
    }
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
