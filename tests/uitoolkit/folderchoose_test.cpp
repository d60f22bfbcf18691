// The folder chooser on real temporary folders (names with spaces and
// non-ASCII letters, hidden folders, a folder that cannot be read or that
// vanishes), run through the scripted modal window: typed paths against the
// node that ends up selected, the new-folder command against the boxes it
// shows, and what selecting and accepting leave in the caller's string.
#include "recordingcanvas.h"
#include "testsupport.h"
#include "testwindow.h"
#include "uitoolkit/filechoose.h"
#include "uitoolkit/folderchoose.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/messageform.h"
#include "uitoolkit/theme.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>
#include <string>
#include <sys/stat.h>

using qortest::cTestWindowTarget;
using qortest::messageText;
using tNode = cFolderChooseDialog::cTreeFoldersContentItem;

namespace {

// A home folder with folders named with a space, a non-ASCII name, a hidden
// folder, a file, and HOME pointing at it while the tree lives.
struct sTree {
    sTree() {
        chmod(dir.path().c_str(), 0755);
        for (const char* d : {"", "/Mes documents", "/Mes documents/a", "/\xC3\xA9t\xC3\xA9", "/.hidden", "/.hidden/inner"})
            EXPECT_EQ(::mkdir((home + d).c_str(), 0755), 0) << d;
        EXPECT_TRUE(qortest::writeFile(home + "/report.txt", "x"));
    }
    qortest::TempDir dir;
    std::string home = dir.file("home");
    qortest::ScopedEnv homeVar{"HOME", home.c_str()};
};

struct sFixture {
    sFixture() {
        qortest::cFixedFont::install();
        cCITheme::setTheme(gCI_Flat_Theme);
        EXPECT_TRUE(cLibLang::applyLang(lngENG));
        win.bind(&root, 1000, 800);
    }
    // Runs the chooser with the script standing for the user; the result
    // of choose.
    bool run(_guardchar<char>& path, const std::function<void(cFolderChooseDialog&, cTestWindowTarget&)>& script) {
        win.onModal = [&](cChildElement* r, cTestWindowTarget& w) {
            auto* d = dynamic_cast<cFolderChooseDialog*>(r);
            ASSERT_NE(d, nullptr);
            script(*d, w);
        };
        return cFolderChooseDialog::choose(&root, "Choose", path);
    }
    cCIOMLang toolkit;
    cTestWindowTarget win;
    cChildElement root;
};

std::string pathOf(cTreeViewChild::cTreeViewItem* item) {
    tNode* n = cFolderChooseDialog::nodeOf(item);
    return n && n->path.get() ? n->path.get() : "<none>";
}

std::string textOf(cTreeViewChild::cTreeViewItem* item) { return item && item->text.get() ? item->text.get() : "<none>"; }

// The children of a node as "text|text|...".
std::string children(tNode* n) {
    std::string out;
    for (cTreeItem* c = n ? n->first : nullptr; c; c = c->next)
        out += (out.empty() ? "" : "|") + std::string(static_cast<tNode*>(c)->item->text.get());
    return out;
}

// The node of a path below the file-system root (a place such as the home
// folder has the same path, but is another node).
tNode* findNode(cFolderChooseDialog& d, const std::string& path) {
    tNode* found = nullptr;
    std::function<void(cTreeItem*)> walk = [&](cTreeItem* i) {
        for (; i; i = i->next) {
            auto* n = static_cast<tNode*>(i);
            if (n->path.get() && path == n->path.get()) found = n;
            walk(i->first);
        }
    };
    walk(d.rootNode());
    return found;
}

// The children's texts in sorted order (a listing comes in the system's).
std::string sortedChildren(tNode* n) {
    std::vector<std::string> parts;
    for (cTreeItem* c = n ? n->first : nullptr; c; c = c->next)
        parts.push_back(static_cast<tNode*>(c)->item->text.get());
    std::sort(parts.begin(), parts.end());
    std::string out;
    for (auto& p : parts) out += (out.empty() ? "" : "|") + p;
    return out;
}

}  // namespace

TEST(FolderChooser, WithoutAnOwnerNothingRuns) {
    sFixture f;
    _guardchar<char> path("/");
    EXPECT_FALSE(cFolderChooseDialog::choose(nullptr, "x", path));
    EXPECT_TRUE(f.win.modals.empty());
}

// Typed paths, each from the home folder: the field and the selected node
// afterwards, and the text of that node.
TEST(FolderChooser, TypedPathsOpenTheTreeDownToThem) {
    sTree t;
    sFixture f;
    const std::string H = t.home;
    struct sRow {
        std::string typed;
        std::string selected;  // the path of the selected node
        std::string text;      // the selected node's text
        bool ignored;          // the field keeps what was typed, and a box says why
    };
    const sRow rows[] = {
        {H + "//Mes documents/", H + "/Mes documents", "Mes documents", false},
        {H + "/Mes documents/a", H + "/Mes documents/a", "a", false},
        {"Mes documents/a", H + "/Mes documents/a", "a", false},  // relative to the folder shown
        {H + "/\xC3\xA9t\xC3\xA9", H + "/\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9", false},
        {H + "/.hidden", H + "/.hidden", H + "/.hidden", false},  // not listed: one node, the whole path
        {H + "/.hidden/inner", H + "/.hidden/inner", "inner", false},
        {H + "/nothing", H, "home", true},     // not a folder
        {H + "/report.txt", H, "home", true},  // a file
        {"", H, "home", false},  // an empty field is not looked for
        {"../home/./Mes documents/../\xC3\xA9t\xC3\xA9", H + "/\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9", false},
    };
    _guardchar<char> path((H + "/report.txt").c_str());  // a file: the chooser opens at its folder
    const bool chosen = f.run(path, [&](cFolderChooseDialog& d, cTestWindowTarget& w) {
        EXPECT_STREQ(d.pathEdit()->text(), H.c_str());
        EXPECT_EQ(pathOf(d.currentItem()), H);
        EXPECT_TRUE(d.topBar()->isEnabled(1));
        EXPECT_EQ(children(findNode(d, H)).find(".hidden"), std::string::npos);
        std::string message;
        w.onModal = [&](cChildElement* root, cTestWindowTarget& inner) {
            message = messageText(root);
            inner.root->end_modal(1);
        };
        for (const sRow& r : rows) {
            d.navigate(H.c_str());
            d.pathEdit()->setText(r.typed.c_str(), -1);
            message.clear();
            qortest::pressKey(w, 0x18D);  // keypad Enter: accept, which navigates
            EXPECT_TRUE(w.modalResults.empty()) << r.typed;
            EXPECT_EQ(message, r.ignored ? "Folder not found.\nPlease check the path." : "") << r.typed;
            EXPECT_STREQ(d.pathEdit()->text(), (r.ignored || r.typed.empty() ? r.typed : r.selected).c_str()) << r.typed;
            EXPECT_EQ(pathOf(d.currentItem()), r.selected) << r.typed;
            EXPECT_EQ(d.tree()->selected(), d.currentItem()) << r.typed;
            EXPECT_EQ(textOf(d.currentItem()), r.text) << r.typed;
            // The hidden folder's node hangs under home, next to the listed ones.
            if (r.text == H + "/.hidden") {
                EXPECT_EQ(sortedChildren(findNode(d, H)), H + "/.hidden|Mes documents|\xC3\xA9t\xC3\xA9");
            }
        }
        // Accepting what the field shows ends the dialog.
        w.onModal = nullptr;
        d.navigate((H + "/Mes documents").c_str());
        qortest::clickAt(w, d.bottomBar()->findButton(1));
        EXPECT_EQ(w.modalResults, std::vector<int>{1});
    });
    EXPECT_TRUE(chosen);
    EXPECT_STREQ(path.get(), (H + "/Mes documents").c_str());
    ASSERT_EQ(f.win.modals.size(), 1u);
    EXPECT_EQ(f.win.modals[0].w, 350);
    EXPECT_EQ(f.win.modals[0].h, 450);
}

TEST(FolderChooser, ComputerAndStartPathsThatNameNothing) {
    sTree t;
    sFixture f;
    _guardchar<char> path(t.dir.file("missing").c_str());
    const bool chosen = f.run(path, [&](cFolderChooseDialog& d, cTestWindowTarget& w) {
        EXPECT_STREQ(d.pathEdit()->text(), "");
        EXPECT_FALSE(d.topBar()->isEnabled(1));
        EXPECT_EQ(d.currentItem(), nullptr);
        // The places: the home folder and the file system.
        EXPECT_EQ(children(d.rootNode()), "Home folder|File system");
        // A click on a place selects it and lists it.
        cTreeViewChild::cTreeViewItem* homePlace = static_cast<tNode*>(d.rootNode()->first)->item;
        qortest::clickAt(w, homePlace->element);
        EXPECT_STREQ(d.pathEdit()->text(), t.home.c_str());
        EXPECT_TRUE(d.topBar()->isEnabled(1));
        EXPECT_EQ(sortedChildren(static_cast<tNode*>(d.rootNode()->first)), "Mes documents|\xC3\xA9t\xC3\xA9");
        // "Computer" empties the field and disables New folder.
        qortest::clickAt(w, d.rootNode()->item->element);
        EXPECT_STREQ(d.pathEdit()->text(), "");
        EXPECT_FALSE(d.topBar()->isEnabled(1));
        qortest::pressKey(w, 0x11B);  // Escape: cancel
    });
    EXPECT_FALSE(chosen);
    EXPECT_STREQ(path.get(), "");
}

// The new-folder command: the name the form is given and the box that
// answers, or the folder that appears.
TEST(FolderChooser, NewFolderCreatesOrExplains) {
    sTree t;
    sFixture f;
    struct sRow {
        const char* name;  // null: the form is cancelled
        const char* message;
        const char* shownAfter;
    };
    const sRow rows[] = {
        {"Nouveau dossier", "", "Mes documents|Nouveau dossier|\xC3\xA9t\xC3\xA9"},
        {".hidden", "Folder already exists.\nIf you can not see this folder, this means it is hidden.",
         "Mes documents|Nouveau dossier|\xC3\xA9t\xC3\xA9"},
        {"report.txt", "File already exists.\nCurrent folder already contains file with this name.", nullptr},
        {"no/such/parent", "Unable to create directory.\nPlease check new directory name and current directory permissions.",
         nullptr},
        {nullptr, "", nullptr},
    };
    _guardchar<char> path(t.home.c_str());
    f.run(path, [&](cFolderChooseDialog& d, cTestWindowTarget& w) {
        for (const sRow& r : rows) {
            std::string message;
            int forms = 0;
            w.onModal = [&](cChildElement* root, cTestWindowTarget& inner) {
                if (auto* form = dynamic_cast<cNewFolderNameReqForm*>(root)) {
                    ++forms;
                    EXPECT_EQ(inner.root->getFocused(), form->edit());
                    if (!r.name) {
                        qortest::clickAt(inner, form->buttons()->findButton(2));
                        return;
                    }
                    qortest::typeText(inner, r.name);
                    qortest::clickAt(inner, form->buttons()->findButton(1));
                    return;
                }
                message = messageText(root);
                inner.root->end_modal(1);
            };
            qortest::clickAt(w, d.topBar()->findButton(1));
            EXPECT_EQ(forms, 1) << (r.name ? r.name : "cancel");
            EXPECT_EQ(message, r.message) << (r.name ? r.name : "cancel");
            if (r.shownAfter) {
                EXPECT_EQ(sortedChildren(findNode(d, t.home)), r.shownAfter) << r.name;
            }
        }
        EXPECT_EQ(cFolderContents::objtype((t.home + "/Nouveau dossier").c_str()), fsoFolder);
        w.onModal = nullptr;
        qortest::pressKey(w, 0x11B);
    });
}

// A folder that goes away while a folder below it is selected: reading it
// again fails, and the selection moves up to it rather than staying with a
// node that is gone.
TEST(FolderChooser, ReadingAFolderAgainKeepsTheSelectionOnANodeThatExists) {
    sTree t;
    sFixture f;
    const std::string v = t.home + "/v", w2 = v + "/w";
    ASSERT_EQ(::mkdir(v.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(w2.c_str(), 0755), 0);
    _guardchar<char> path(w2.c_str());
    f.run(path, [&](cFolderChooseDialog& d, cTestWindowTarget& w) {
        ASSERT_EQ(pathOf(d.currentItem()), w2);
        tNode* vn = findNode(d, v);
        ASSERT_NE(vn, nullptr);
        ASSERT_EQ(::rmdir(w2.c_str()), 0);
        ASSERT_EQ(::rmdir(v.c_str()), 0);
        EXPECT_FALSE(d.lsUnder(vn));
        EXPECT_FALSE(vn->listed);
        EXPECT_EQ(children(vn), "");
        ASSERT_NE(d.currentItem(), nullptr);
        EXPECT_EQ(textOf(d.currentItem()), "v");
        EXPECT_EQ(d.tree()->selected(), vn->item);
        qortest::pressKey(w, 0x11B);
    });
}

// A folder that cannot be read stays without children and is tried again
// each time it is selected; nothing loops meanwhile.
TEST(FolderChooser, UnreadableFolderStaysEmptyAndIsRetried) {
    sTree t;
    const std::string locked = t.home + "/locked";
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((locked + "/inside").c_str(), 0755), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0311), 0);  // may be entered, not read
    EXPECT_TRUE(qortest::asUnprivileged([&] {
        sFixture f;
        _guardchar<char> path(locked.c_str());
        f.run(path, [&](cFolderChooseDialog& d, cTestWindowTarget& w) {
            tNode* n = findNode(d, locked);
            ASSERT_NE(n, nullptr);
            EXPECT_FALSE(n->listed);
            EXPECT_EQ(children(n), "");
            EXPECT_STREQ(d.pathEdit()->text(), locked.c_str());
            qortest::clickAt(w, findNode(d, t.home)->item->element);
            EXPECT_STREQ(d.pathEdit()->text(), t.home.c_str());
            qortest::clickAt(w, n->item->element);
            EXPECT_EQ(w.drain(), 0);
            EXPECT_FALSE(n->listed);
            EXPECT_STREQ(d.pathEdit()->text(), locked.c_str());
            // It may still be chosen.
            qortest::clickAt(w, d.bottomBar()->findButton(1));
        });
        EXPECT_STREQ(path.get(), locked.c_str());
    }));
    chmod(locked.c_str(), 0755);
}

// Sub-folders come sorted by their names' bytes (upper case before lower,
// digits one by one, UTF-8 and stray bytes after ASCII), whatever order the
// disk lists them in; files and hidden folders stay out.  The names are
// made in an order of their own, so neither creation order nor its reverse
// is the sorted one.
TEST(FolderChooser, SubFoldersComeSortedByTheirBytes) {
    sTree t;
    sFixture f;
    const std::string base = t.home + "/sorted";
    ASSERT_EQ(::mkdir(base.c_str(), 0755), 0);
    const std::vector<std::string> made = {"m", "B", "a b", "\xC3\xA9t\xC3\xA9", "10", "a-b", "z", "9", "A",
                                           "b", "caf\xE9", "Zed", "a", "\xFF", "0", "ab", "AA", "_x", "~t", "y"};
    for (const std::string& n : made) ASSERT_EQ(::mkdir((base + "/" + n).c_str(), 0755), 0) << n;
    ASSERT_TRUE(qortest::writeFile(base + "/file", "x"));
    ASSERT_EQ(::mkdir((base + "/.hidden").c_str(), 0755), 0);
    std::vector<std::string> want;
    for (const std::string& n : made) want.push_back(base + "/" + n);
    std::sort(want.begin(), want.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        });
    });
    _guardchar<char> path(base.c_str());
    f.run(path, [&](cFolderChooseDialog& d, cTestWindowTarget& w) {
        tNode* n = findNode(d, base);
        ASSERT_NE(n, nullptr);
        std::vector<std::string> got;
        for (cTreeItem* c = n->first; c; c = c->next) got.push_back(static_cast<tNode*>(c)->path.get());
        EXPECT_EQ(got, want);
        // Reading it again keeps the order.
        ASSERT_TRUE(d.lsUnder(n));
        got.clear();
        for (cTreeItem* c = n->first; c; c = c->next) got.push_back(static_cast<tNode*>(c)->path.get());
        EXPECT_EQ(got, want);
        qortest::pressKey(w, 0x11B);
    });
}

// Folders whose names are any bytes: each is chosen by a click and Select,
// by a double click and Select, and by typing its path as the field shows
// it (whole, or relative to the folder shown) and Select twice; what comes
// back is the folder's own bytes.  The shown forms are written out by hand:
// a byte that starts no UTF-8 character reads as its Latin-1 letter, a
// control character as its picture.
TEST(FolderChooser, FoldersOfAnyBytesAreChosenByTheirOwnBytes) {
    sTree t;
    const std::string odd = t.home + "/odd";
    ASSERT_EQ(::mkdir(odd.c_str(), 0755), 0);
    std::string longShown;
    for (int i = 0; i < 254; ++i) longShown += "\xC3\xA9";
    struct sName {
        const char* what;
        std::string bytes, shown;
    };
    const sName names[] = {
        {"not UTF-8", "caf\xE9", "caf\xC3\xA9"},
        {"a line feed", "two\nlines", "two\xE2\x90\x8Alines"},
        {"255 bytes", std::string(255, 'n'), std::string(255, 'n')},
        {"255 bytes, none of them UTF-8", "\xFF" + std::string(254, '\xE9'), "\xC3\xBF" + longShown},
    };
    for (const sName& n : names) ASSERT_EQ(::mkdir((odd + "/" + n.bytes).c_str(), 0755), 0) << n.what;
    enum { kClick, kDoubleClick, kTypedWhole, kTypedRelative };
    for (const sName& n : names) {
        for (int way : {kClick, kDoubleClick, kTypedWhole, kTypedRelative}) {
            SCOPED_TRACE(std::string(n.what) + ", way " + std::to_string(way));
            sFixture f;
            qortest::cManualClock clock;
            _guardchar<char> path(odd.c_str());
            const std::string full = odd + "/" + n.bytes;
            const bool chosen = f.run(path, [&](cFolderChooseDialog& d, cTestWindowTarget& w) {
                tNode* node = findNode(d, full);
                ASSERT_NE(node, nullptr);
                EXPECT_EQ(textOf(node->item), n.shown);
                if (way == kClick || way == kDoubleClick) {
                    d.tree()->scrollToChild(node->item->element);
                    w.drain();
                    if (way == kClick) qortest::clickAt(w, node->item->element);
                    else qortest::doubleClickAt(w, node->item->element);
                    EXPECT_EQ(d.currentItem(), node->item);
                } else {
                    d.pathEdit()->setText("", -1);
                    qortest::clickAt(w, d.pathEdit());
                    qortest::typeText(w, way == kTypedWhole ? odd + "/" + n.shown : n.shown);
                    qortest::clickAt(w, d.bottomBar()->findButton(1));  // goes there
                    EXPECT_TRUE(w.modalResults.empty());
                    EXPECT_EQ(pathOf(d.currentItem()), full);
                }
                EXPECT_STREQ(d.pathEdit()->text(), (odd + "/" + n.shown).c_str());
                qortest::clickAt(w, d.bottomBar()->findButton(1));
                EXPECT_EQ(w.modalResults, std::vector<int>{1});
            });
            EXPECT_TRUE(chosen);
            EXPECT_EQ(std::string(path.get() ? path.get() : ""), full);
        }
    }
}

// The folder the chooser opens at is scrolled wholly into view: among many
// siblings with one long name (both bars shown), the selection frame of the
// first, a middle and the last one is painted on all four edges, inside
// the tree's border and clear of the bars.
TEST(FolderChooser, TheFolderOpenedAtShowsWholeWithItsFrame) {
    sTree t;
    const std::string base = t.home + "/many";
    ASSERT_EQ(::mkdir(base.c_str(), 0755), 0);
    std::vector<std::string> names = {"a " + std::string(90, 'w')};
    for (int i = 0; i < 40; ++i) names.push_back("f" + std::to_string(100 + i));
    for (const std::string& n : names) ASSERT_EQ(::mkdir((base + "/" + n).c_str(), 0755), 0) << n;
    constexpr unsigned int kFrame = 0xC000C0;  // no theme colour; the same either way round
    for (const std::string& target : {names[1], names[20], names.back()}) {
        SCOPED_TRACE(target);
        sFixture f;
        _guardchar<char> path((base + "/" + target).c_str());
        f.run(path, [&](cFolderChooseDialog& d, cTestWindowTarget& w) {
            cTreeViewChild* tree = d.tree();
            tree->setUnfocusedColors(0x000000, 0xFFFFFF, kFrame);
            ASSERT_TRUE(d.navigate((base + "/" + target).c_str()));
            w.drain();
            ASSERT_TRUE(tree->vbar()->visible_child());
            ASSERT_TRUE(tree->hbar()->visible_child());
            tNode* n = findNode(d, base + "/" + target);
            ASSERT_NE(n, nullptr);
            ASSERT_EQ(tree->selected(), n->item);
            const int W = w.root->width(), H = w.root->height();
            qortest::cRecordingCanvas canvas(W, H, 13);
            canvas.paintPixels(0x123456);
            w.root->processPaint(&canvas);
            sPoint at{0, 0};
            tree->absPos(at);
            const int tx = at.x - w.winX, ty = at.y - w.winY;
            int x0 = W, y0 = H, x1 = -1, y1 = -1;
            for (int y = ty; y < ty + tree->height(); ++y)
                for (int x = tx; x < tx + tree->width(); ++x)
                    if (canvas.pixel(x, y) == kFrame) {
                        x0 = std::min(x0, x), y0 = std::min(y0, y);
                        x1 = std::max(x1, x), y1 = std::max(y1, y);
                    }
            ASSERT_GE(x1, 0) << "no frame painted";
            sRect r;
            n->item->element->childRect(&r);
            EXPECT_EQ(x1 - x0 + 1, r.w);
            EXPECT_EQ(y1 - y0 + 1, r.h);
            for (int x = x0; x <= x1; ++x) {
                EXPECT_EQ(canvas.pixel(x, y0), kFrame) << x;
                EXPECT_EQ(canvas.pixel(x, y1), kFrame) << x;
            }
            for (int y = y0; y <= y1; ++y) {
                EXPECT_EQ(canvas.pixel(x0, y), kFrame) << y;
                EXPECT_EQ(canvas.pixel(x1, y), kFrame) << y;
            }
            // Inside the border, left of the vertical bar, above the other.
            EXPECT_GE(x0, tx + 1);
            EXPECT_GE(y0, ty + 1);
            EXPECT_LT(x1, tx + tree->width() - 1 - tree->vbar()->width());
            EXPECT_LT(y1, ty + tree->height() - 1 - tree->hbar()->height());
            qortest::pressKey(w, 0x11B);
        });
    }
}
