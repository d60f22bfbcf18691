// The toolkit gallery: one window with the standard controls (a form with
// buttons, edit fields, a combo box, a check box, a list view, a tree view,
// a property sheet and the document viewer showing the sample scenario's
// welcome document) whose buttons open the standard dialogs: a message box,
// the file chooser for opening and for saving, the folder chooser and a
// progress form.  It starts through the application frame, so the platform
// layer it links provides the windows, fonts and hints.
//
//   gallery                       opens the window and runs until it is closed
//   gallery --png out.png         paints the window once and saves its pixels
//   gallery --drive DIR [--hold]  runs a script of injected pointer moves,
//                                 clicks, wheel turns, keys and typing through
//                                 every control, drop-down list, menu and
//                                 dialog, checks what each did, writes the
//                                 checks to DIR/gallery-checks.txt and saves
//                                 each window as a PNG in DIR (gallery-*.png);
//                                 with --hold it then prints "shown" and keeps
//                                 the window up until stdin closes
//   gallery --serve               runs as the plain gallery and answers each
//                                 line "state" on stdin with a line of JSON on
//                                 stdout: the windows open, which has the
//                                 keyboard, where their controls are in them
//                                 and the texts they hold (for a test that
//                                 drives it through the window system)
//   --sample DIR                  the sample scenario's folder (the source
//                                 tree's examples/sample by default); a
//                                 driven run makes a folder in it
//
// Headless it runs on SDL's offscreen driver (SDL_VIDEODRIVER=offscreen);
// under Xvfb it shows real windows.
#include <SDL2/SDL.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pngwrite.h"
#include "base/memio.h"
#include "cihlpdoc/hdlparser.h"
#include "cihlpdoc/sidocloader.h"
#include "cihlpdoc/sidocviewer.h"
#include "ciplatform/translator.h"
#include "macshim/appkit.h"
#include "macshim/x11desktop.h"
#include "nslib/nscocoa.h"
#include "uitoolkit/application.h"
#include "uitoolkit/ciappconfig.h"
#include "uitoolkit/checkbox.h"
#include "uitoolkit/combobox.h"
#include "uitoolkit/editfield.h"
#include "uitoolkit/filechoose.h"
#include "uitoolkit/folderchoose.h"
#include "uitoolkit/form.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/listview.h"
#include "uitoolkit/messageform.h"
#include "uitoolkit/popupmenu.h"
#include "uitoolkit/progressform.h"
#include "uitoolkit/propsheetex.h"
#include "uitoolkit/static.h"
#include "uitoolkit/theme.h"
#include "uitoolkit/themevalues.h"
#include "uitoolkit/toolbar.h"
#include "uitoolkit/treeview.h"
#include "uitoolkit/window.h"

#ifndef QOR_GALLERY_SAMPLE
#define QOR_GALLERY_SAMPLE "examples/sample"
#endif

namespace {

enum eButtons { btMessage = 1, btOpen = 2, btSave = 3, btFolder = 4, btProgress = 5 };
const int kFormW = 800, kFormH = 560;

// A job that counts to 100 in steps; in a scripted run it waits at 50 until
// the script has taken its picture.
class cCountingJob : public cStdBasicProgressForm {
public:
    explicit cCountingJob(std::atomic<int>* gate) : mGate(gate) { setStageName(0, "Counting"); }
    ~cCountingJob() override { terminate(4000); }
    int job() override {
        notifyStage(0);
        for (int i = 0; i <= 100; ++i) {
            if (haveToStop() || !notifyProgress(i)) return 0;
            if (i == 50 && mGate) {
                mGate->store(1);
                while (mGate->load() == 1 && !haveToStop()) sleep(5);
            }
            sleep(10);
        }
        return 1;
    }

private:
    std::atomic<int>* mGate;
};

// The packages the list shows (and the bottom combo box jumps to).
const char* const kPackages[][3] = {
    {"Qor Sample Tool", "1.4.2", "12 KB"},      {"Text editor", "2.0", "3 MB"},
    {"Photo viewer", "0.9.1", "812 KB"},        {"Mail client", "5.3", "24 MB"},
    {"\xC3\x89" "diteur de notes", "1.0", "90 KB"}, {"Spreadsheet", "3.2", "18 MB"},
    {"Music player", "4.0.1", "7 MB"},           {"Archive tool", "2.5", "1 MB"},
    {"Terminal", "1.9", "2 MB"},                 {"Calendar", "6.1", "5 MB"},
    {"Map viewer", "0.4", "40 MB"},              {"Backup agent", "2.2.7", "9 MB"},
};
const int kPackageCount = 12;
// The list's context menu.
const char* const kListVerbs[] = {"Install", "Remove", "Details"};

class cGalleryForm : public cCustomForm {
public:
    cGalleryForm(std::string sample, cSiDocContainer* welcome, std::atomic<int>* progressGate)
        : mSample(std::move(sample)), mWelcome(welcome), mGate(progressGate) {}
    ~cGalleryForm() override {
        if (mLink) {
            std::lock_guard<std::mutex> g(mLink->lock);
            mLink->form = nullptr;
        }
        mTree.clear();
    }

    void onConstruct() override {
        cCustomForm::onConstruct();
        cPanelChild* c = clientArea();
        const unsigned int bg = currentThemeValues()->color(0);
        auto label = [&](cStaticElement& l, const char* text, int x, int y, int w) {
            c->attach(&l, x, y, w, 22);
            l.setText(text, -1, false);
            l.setColorSchema(l.textColor(), bg, bg);
        };
        // Left: a small form.
        label(mNameLabel, "Name:", 8, 8, 80);
        c->attach(&mName, 90, 8, 220, 22);
        mName.setBanner("Your name");
        label(mPassLabel, "Password:", 8, 36, 80);
        c->attach(&mPass, 90, 36, 220, 22);
        mPass.setPwdMode(true);
        mPass.setText("secret", -1);
        label(mColourLabel, "Colour:", 8, 64, 80);
        c->attach(&mColour, 90, 64, 220, 22);
        mColour.allowEdit(false);
        const char* colours[] = {"Red", "Green", "Blue"};
        for (int i = 0; i < 3; ++i) mColour.setItem(i, colours[i], nullptr, -1);
        mColour.select(1, false);
        c->attach(&mRemember, 90, 92, 220, 22);
        mRemember.setText("Remember me", -1, false);
        mRemember.setChecked(true, false);
        // A list of packages, with a context menu.
        c->attach(&mList, 8, 122, 302, 150);
        mList.setColumn(1, "Package", 140, cCanvas::taLeft);
        mList.setColumn(2, "Version", 70, cCanvas::taLeft);
        mList.setColumn(3, "Size", 70, cCanvas::taRight);
        for (int r = 0; r < kPackageCount; ++r)
            for (int col = 0; col < 3; ++col) mList.setItem(r, col + 1, kPackages[r][col], -1, nullptr);
        mList.select(0);
        for (int i = 0; i < 3; ++i) mListMenu.insert(i + 1)->text = kListVerbs[i];
        // A tree of folders.
        c->attach(&mTree, 8, 280, 302, 170);
        auto add = [&](cTreeViewChild::cTreeViewItem* parent, const char* text) {
            auto* item = new cTreeViewChild::cTreeViewItem();
            item->text.set(text);
            mTree.storeUnder(parent, item, nullptr);
            return item;
        };
        mTree.startChanges();
        cTreeViewChild::cTreeViewItem* computer = add(nullptr, "Computer");
        cTreeViewChild::cTreeViewItem* apps = add(computer, "Applications");
        for (int r = 0; r < 4; ++r) add(apps, kPackages[r][0]);
        cTreeViewChild::cTreeViewItem* docs = add(computer, "Documents");
        for (const char* d : {"Letters", "Photos 2024", "Invoices", "Recipes"}) add(docs, d);
        cTreeViewChild::cTreeViewItem* music = add(computer, "Music");
        add(music, "Albums");
        add(music, "Playlists");
        add(computer, "Downloads");
        mTree.endChanges();
        // Right: the welcome document and a property sheet.
        c->attach(&mDoc, 320, 8, 458, 200);
        if (mWelcome) mDoc.refSiDoc(mWelcome, 0xFFFFFF);
        c->attach(&mProps, 320, 216, 458, 234);
        cPropSheetChild* sheet = mProps.sheet();
        sheet->startChanges();
        sheet->setSection(1, "Package");
        sheet->setProperty(1, 1, "Name", "The package's name as the manager shows it", "Qor Sample Tool",
                           cPropSheetChild::ptText);
        sheet->setProperty(1, 2, "Version", "Major, minor and patch level", "1.4.2", cPropSheetChild::ptEdit);
        sheet->setProperty(1, 3, "Channel", "Where updates come from", "", cPropSheetChild::ptDropDown);
        sheet->setPropertyVal(1, 3, 0, nullptr, "Stable", true);
        sheet->setPropertyVal(1, 3, 1, nullptr, "Beta", false);
        sheet->setProperty(1, 4, "Support", "The publisher's support page", "https://example.org/support",
                           cPropSheetChild::ptLink);
        sheet->setSection(2, "Install");
        sheet->setProperty(2, 1, "Target", "The folder the package goes to", "/Applications/Sample",
                           cPropSheetChild::ptEditAction);
        sheet->endChanges();
        mProps.area()->setText(sheet->propName(1, 1), sheet->propDescr(1, 1));
        // Bottom: a combo box that jumps to a package (near the screen's
        // lower edge its list opens upwards), the dialogs and the last answer.
        attach(&mJumpLabel, 0, 0, 1, 22);
        mJumpLabel.setText("Jump to:", -1, false);
        // It sits on the form's band, not on the client area: it shows the
        // band under it.
        mJumpLabel.setTransparent(true);
        anchor(&mJumpLabel, 12, -32, 60, 22);
        attach(&mJump, 0, 0, 1, 22);
        anchor(&mJump, 74, -32, 170, 22);
        mJump.allowEdit(false);
        mJump.setDropDownHeightLimit(200);
        for (int r = 0; r < kPackageCount; ++r) mJump.setItem(r, kPackages[r][0], nullptr, -1);
        attach(&mButtons, 0, 0, 1, 24);
        mButtons.setTransparent(true);
        mButtons.setButton(btMessage, "Message box", -1);
        mButtons.setButton(btOpen, "Open file...", -1);
        mButtons.setButton(btSave, "Save file...", -1);
        mButtons.setButton(btFolder, "Choose folder...", -1);
        mButtons.setButton(btProgress, "Progress...", -1);
        const int bw = mButtons.wantsWidth();
        anchor(&mButtons, -(10 + bw), -34, bw, 26);
        label(mStatus, "Pick a dialog below.", 8, 456, 770);
        keepControlsWhole();
        mName.focus();
        if (mServe) mServe();
    }

    bool onAction(cChildElement* src, cChildAction* a) override {
        if (a && src == this && a->code() == kReportAction) {
            if (mReport) mReport(this);
            return true;
        }
        if (a && undoesEdit(src, a->code())) return true;
        if (src == &mButtons && a && a->code() == 6) {
            run(static_cast<cToolBarChild::cTbButtonAction*>(a)->id);
            return true;
        }
        if (src == &mJump && a && a->code() == cComboBoxChild::kActionSelected) {
            const int row = mJump.selected();
            if (row >= 0 && row < kPackageCount) {
                mList.select(row);
                status(std::string("Jumped to ") + kPackages[row][0] + ".");
            }
            return true;
        }
        if (src == &mList && a && a->code() == 2) {
            // The row under the pointer was selected by the press.
            auto* ctx = static_cast<cCtxRequestAction*>(a);
            const int row = mList.selected();
            if (row < 0 || row >= kPackageCount) return true;
            sPoint at{0, 0};
            mList.absPos(at);
            const int verb = cPopupMaster::simplePopup(this, mListMenu, at.x + ctx->x, at.y + ctx->y, nullptr);
            if (verb >= 1 && verb <= 3) status(std::string(kListVerbs[verb - 1]) + ": " + kPackages[row][0] + ".");
            return true;
        }
        return cCustomForm::onAction(src, a);
    }
    // Escape never ends the gallery: its window stays until it is closed.
    // The key goes on to the focused control, which cancels what it has in
    // progress (an edit clears its selection; a property value being edited
    // goes back to what it was, below).
    bool onFormCancel() override { return false; }

    // The action a test's request for a report arrives as, from another
    // thread, and what answers it.
    static constexpr int kReportAction = 1000;
    // What another thread that posts those requests shares with the form:
    // the form clears it under the lock when it goes.
    struct sLink {
        std::mutex lock;
        cGalleryForm* form = nullptr;
    };
    // `serve` starts the thread that posts the requests: once the form has
    // its window, since a request posted before would wait for a wake-up
    // that no window was there to give.
    void setReporter(std::shared_ptr<sLink> link, std::function<void(cGalleryForm*)> report,
                     std::function<void()> serve) {
        mLink = std::move(link);
        mReport = std::move(report);
        mServe = std::move(serve);
    }

    // What a scripted run drives and checks (UI thread).
    cFileChooseDialog* fileDialog() const { return mFileDialog; }
    cButtonChild* button(int id) { return mButtons.findButton(id); }
    cEditChild* nameEdit() { return &mName; }
    cEditChild* passEdit() { return &mPass; }
    cComboBoxChild* colour() { return &mColour; }
    cCheckBoxChild* remember() { return &mRemember; }
    cListViewChild* list() { return &mList; }
    cTreeViewChild* tree() { return &mTree; }
    cPropSheetChild* sheet() { return mProps.sheet(); }
    cComboBoxChild* jump() { return &mJump; }
    cStaticElement* jumpLabel() { return &mJumpLabel; }
    cCheckBoxChild* rememberBox() { return &mRemember; }
    cSiDocViewer* document() { return &mDoc; }
    cStaticElement* statusLine() { return &mStatus; }
    std::string statusText() { return mStatus.textCopy(); }
    const std::string& sample() const { return mSample; }

private:
    void status(const std::string& s) { mStatus.setText(s.c_str(), -1, true); }

    // The window's smallest size: every control whole, with the margin the
    // client area's controls keep on the left kept on the right too, and the
    // bottom band's jump box and buttons side by side with the same gap as
    // between the jump box and its label.  Smaller, the buttons would cover
    // the jump box's arrow and the right-hand controls would be cut.
    void keepControlsWhole() {
        cPanelChild* c = clientArea();
        sRect client{0, 0, 0, 0};
        childRect(c, &client);
        int left = client.w, right = 0, bottom = 0;
        for (cChildElement* e = c->getFirstChild(); e; e = c->getNextChild(e)) {
            sRect r{0, 0, 0, 0};
            c->childRect(e, &r);
            left = std::min(left, r.x);
            right = std::max(right, r.x + r.w);
            bottom = std::max(bottom, r.y + r.h);
        }
        sRect label{0, 0, 0, 0}, jump{0, 0, 0, 0}, bar{0, 0, 0, 0};
        childRect(&mJumpLabel, &label);
        childRect(&mJump, &jump);
        childRect(&mButtons, &bar);
        const int gap = jump.x - (label.x + label.w);
        const int rightBand = width() - (client.x + client.w), lowBand = height() - (client.y + client.h);
        const int w = std::max(client.x + right + left + rightBand,
                               jump.x + jump.w + gap + bar.w + (width() - (bar.x + bar.w)));
        const int h = client.y + bottom + lowBand;
        setMinSize(w, h);
    }

    // Escape in the property value being edited (the Version) takes back
    // what was typed since the value took the focus: the edit reports its
    // focus as code 1, and Escape without a selection as its code 7.
    bool undoesEdit(cChildElement* src, int code) {
        cPropSheetChild* sheet = mProps.sheet();
        cEditChild* version = sheet->editControl(1, 2);
        if (!version || src != version) return false;
        if (code == 1) {
            mBeforeEdit = version->text() ? version->text() : "";
            return false;
        }
        if (code != cEditChild::kActionEscape) return false;
        sheet->setPropertyVal(1, 2, mBeforeEdit.c_str());
        version->repaint();
        return true;
    }

    void run(int id) {
        switch (id) {
            case btMessage: {
                char text[] = "The toolkit's message box.\nIt runs modally over the gallery's window.";
                char title[] = "Gallery";
                cMessageForm::infobox(this, text, title);
                status("The message box was closed.");
                break;
            }
            case btOpen:
            case btSave: {
                cFileChooseDialog::sFileChooseInfo info;
                info.folder.set(mSample.c_str());
                info.filters.set(3);
                const char* f[3][3] = {{"Scenarios", "*.txt", "txt"}, {"Documents", "*.idx;*.hdl", "idx"},
                                       {"All files", "*", ""}};
                for (int i = 0; i < 3; ++i) {
                    info.filters[i].name.set(f[i][0]);
                    info.filters[i].mask.set(f[i][1]);
                    info.filters[i].ext.set(f[i][2]);
                }
                info.filterIndex = 2;
                // Made here rather than through open() and save(), which do
                // the same, so that a script can watch the listing arrive.
                mFileDialog = new cFileChooseDialog(id == btOpen ? cFileChooseDialog::fmOpen
                                                                 : cFileChooseDialog::fmSave, &info);
                const bool chosen =
                    modal(id == btOpen ? "Open a file" : "Save a file", 500, 350, mFileDialog, true) > 0;
                mFileDialog = nullptr;
                status(chosen ? std::string("Chosen: ") + info.path.get() : "No file was chosen.");
                break;
            }
            case btFolder: {
                _guardchar<char> path(mSample.c_str());
                const bool chosen = cFolderChooseDialog::choose(this, "Choose a folder", path);
                status(chosen ? std::string("Folder: ") + path.get() : "No folder was chosen.");
                break;
            }
            case btProgress: {
                const int r = cStdBasicProgressForm::runUIJob(this, new cCountingJob(mGate), "Counting to 100");
                status(r == 1 ? "The job counted to 100." : "The job was stopped.");
                break;
            }
            default: break;
        }
    }

    std::string mSample;
    cSiDocContainer* mWelcome;
    std::atomic<int>* mGate;
    cStaticElement mNameLabel, mPassLabel, mColourLabel, mStatus, mJumpLabel;
    cEditChild mName, mPass;
    cComboBoxChild mColour, mJump;
    cCheckBoxChild mRemember;
    cListViewChild mList;
    tActiveElementItems mListMenu;
    cTreeViewChild mTree;
    cSiDocViewer mDoc;
    cPropSheetExChild mProps;
    cToolBarChild mButtons;
    cFileChooseDialog* mFileDialog = nullptr;
    std::string mBeforeEdit;
    std::function<void(cGalleryForm*)> mReport;
    std::shared_ptr<sLink> mLink;
    std::function<void()> mServe;
};

MSWindow* windowOf(cChildElement* root) {
    cWindowRequestTarget* t = root ? root->winTarget() : nullptr;
    return t ? static_cast<MSWindow*>(t->_rt_rawhandle()) : nullptr;
}

bool saveWindow(MSWindow* w, const std::string& path) {
    if (!w) return false;
    w->display();
    MSBitmapContext* b = w->backingStore();
    return b && b->pixels && examples::savePng(path.c_str(), b->pixels, b->width, b->height, b->stride);
}

// A point inside an element, in its window's content coordinates.
sPoint inside(cChildElement* root, cChildElement* e, int dx, int dy) {
    sPoint r{0, 0}, p{0, 0};
    root->absPos(r);
    e->absPos(p);
    return {p.x - r.x + dx, p.y - r.y + dy};
}

cChildElement* topOf(cChildElement* e) {
    while (e && e->parent()) e = e->parent();
    return e;
}

// The element tree a window shows, when its root is a T.
template <class T>
T* rootOf(MSWindow* w) {
    auto* n = dynamic_cast<cNSWndWrapper*>(w);
    auto* t = n ? dynamic_cast<cNSWTranslator*>(static_cast<cNSWindow*>(n->eventParam())) : nullptr;
    return t ? dynamic_cast<T*>(t->root()) : nullptr;
}

MSWindow* keyWindow() {
    MSApplication* app = MSApplication::shared();
    return app ? app->keyWindow() : nullptr;
}

// The popup (a drop-down list or a menu) open now, or null.
cPopupMaster* openPopup() {
    auto* n = dynamic_cast<cNSWndWrapper*>(keyWindow());
    return n && n->fixedPos() && n->isVisible() ? rootOf<cPopupMaster>(n) : nullptr;
}

// Places on the screen, top-left origin.
sRect screenRect(cChildElement* e) {
    sPoint p{0, 0};
    e->absPos(p);
    return {p.x, p.y, e->width(), e->height()};
}
sRect screenRect(MSWindow* w) {
    MSRect screen;
    MSScreenMainFrame(screen);
    const MSRect c = w->contentRect();
    return {int(c.origin.x), int(screen.size.height - c.origin.y - c.size.height), int(c.size.width),
            int(c.size.height)};
}

// Pointer and keyboard, as SDL events into the queue: the pointer at a
// point of an element (dx, dy from its top-left) of whichever window shows
// it; keys to the key window.
void moveTo(cChildElement* e, int dx, int dy) {
    cChildElement* r = topOf(e);
    const sPoint p = inside(r, e, dx, dy);
    mstest::injectMouseMove(windowOf(r), p.x, p.y);
}
void clickOn(cChildElement* e, int dx, int dy, int button = 1) {
    cChildElement* r = topOf(e);
    MSWindow* w = windowOf(r);
    const sPoint p = inside(r, e, dx, dy);
    mstest::injectMouseMove(w, p.x, p.y);
    mstest::injectMouseButton(w, button, true, p.x, p.y);
    mstest::injectMouseButton(w, button, false, p.x, p.y);
}
void wheelOver(cChildElement* e, int dx, int dy, int notches) {
    moveTo(e, dx, dy);
    mstest::injectWheel(windowOf(topOf(e)), 0, notches);
}
void pressKey(int scancode, unsigned mods = 0, const char* text = nullptr) {
    MSWindow* w = keyWindow();
    mstest::injectKey(w, scancode, true, mods, text);
    mstest::injectKey(w, scancode, false, mods);
}
void typeText(const std::string& text) {
    for (char c : text) {
        const char one[2] = {c, 0};
        const char lower = c >= 'A' && c <= 'Z' ? char(c | 0x20) : c;
        const SDL_Scancode code = SDL_GetScancodeFromKey(SDL_Keycode(lower));
        pressKey(code, c != lower ? KMOD_LSHIFT : 0, one);
    }
}

std::string textOrEmpty(const char* s) { return s ? s : ""; }
std::string textOf(cChildElement* e) { return textOrEmpty(e ? e->text() : nullptr); }

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The script of a driven run: a list of steps, each waiting for its
// condition before it acts.  It runs whenever the event loop would wait,
// in whichever loop (the gallery's, a dialog's or a popup's) is running.
// What it checks goes to DIR/gallery-checks.txt, a line "ok NAME" or
// "FAILED NAME: what was seen" each.
class cScript {
public:
    cScript(cGalleryForm* form, std::string dir, bool hold, std::atomic<int>* gate, bool onlyPicture)
        : mForm(form), mDir(std::move(dir)), mHold(hold), mGate(gate), mOnlyPicture(onlyPicture) {
        if (!mOnlyPicture) build();
    }
    ~cScript() {
        if (mChecks) std::fclose(mChecks);
    }

    void tick() {
        MSWindow* main = windowOf(mForm);
        if (!main) return;
        usleep(2000);
        if (mOnlyPicture) {
            // The untouched window, once it is up, and nothing more.
            if (mStep++ == 0) {
                mstest::injectMouseMove(main, 1, 1);
            } else if (mStep == 2) {
                mOk = saveWindow(main, mDir);
                mForm->end_modal(0);
            }
            return;
        }
        if (mStep >= mSteps.size()) return;
        if (++mWaited > kPatience) {
            std::fprintf(stderr, "gallery: \"%s\" did not come about\n", mSteps[mStep].what.c_str());
            if (mChecks) std::fflush(mChecks);
            std::_Exit(1);
        }
        if (mSteps[mStep].run()) {
            ++mStep;
            mWaited = 0;
        }
    }
    bool ok() const { return mOk; }

private:
    static constexpr int kPatience = 15000;  // ticks of about 2 ms
    struct sStep {
        std::string what;
        std::function<bool()> run;  // true once it acted
    };
    enum eEnd { endPick, endEscape, endClickOutside };

    void step(const std::string& what, std::function<bool()> run) { mSteps.push_back({what, std::move(run)}); }
    // A step that acts at once.
    void act(const std::string& what, std::function<void()> run) {
        step(what, [run] {
            run();
            return true;
        });
    }
    // A step that clicks one of the main window's buttons once that window
    // is in front.
    void pressButton(const std::string& what, int id) {
        step(what, [this, id] {
            if (!mainInFront()) return false;
            clickOn(mForm->button(id), 10, 8);
            return true;
        });
    }
    // A step that waits for the main window to be in front again (a dialog
    // closed) and checks what its status line says.
    void statusShows(const std::string& what, const std::string& name, const std::string& want) {
        step(what, [this, name, want] {
            if (!mainInFront()) return false;
            checkText(name, mForm->statusText(), want);
            return true;
        });
    }
    void check(const std::string& name, bool ok, const std::string& seen = "") {
        if (!mChecks) mChecks = std::fopen((mDir + "/gallery-checks.txt").c_str(), "w");
        if (mChecks) {
            std::fprintf(mChecks, ok ? "ok %s\n" : "FAILED %s: %s\n", name.c_str(), seen.c_str());
            std::fflush(mChecks);
        }
        if (!ok) std::fprintf(stderr, "gallery: check failed: %s: %s\n", name.c_str(), seen.c_str());
        mOk = mOk && ok;
    }
    void checkText(const std::string& name, const std::string& have, const std::string& want) {
        check(name, have == want, "\"" + have + "\", not \"" + want + "\"");
    }
    bool save(MSWindow* w, const char* name) {
        const bool saved = saveWindow(w, mDir + "/" + name);
        check(std::string("picture ") + name, saved, "cannot save");
        return saved;
    }

    MSWindow* main() const { return windowOf(mForm); }
    // No dialog and no popup over the main window.
    bool mainInFront() const { return keyWindow() == main() && !openPopup(); }
    template <class T>
    T* dialog() const {
        return openPopup() ? nullptr : rootOf<T>(keyWindow());
    }
    // A file chooser up with its folder listed.
    bool fileDialogSettled() const {
        cFileChooseDialog* d = mForm->fileDialog();
        return d && keyWindow() == windowOf(d) && !openPopup() &&
               d->navigationBar()->naviMode() == cNavigationChild::nmNormal && !d->lister()->busy();
    }
    std::string shownPath() const {
        cFileChooseDialog* d = mForm->fileDialog();
        return d && d->navigationBar()->path() ? d->navigationBar()->path() : "";
    }
    // The names the file chooser's list shows.
    std::vector<std::string> listed() const {
        std::vector<std::string> names;
        cFileChooseDialog* d = mForm->fileDialog();
        if (!d) return names;
        cListViewChild* l = d->list();
        cSafeCriticalSectionAccess lock(&l->lock());
        for (int row = l->firstBySort(); row >= 0; row = l->nextBySort(row))
            names.push_back(l->text(row, 1) ? l->text(row, 1) : "");
        return names;
    }
    int listedRow(const std::string& name) const {
        cFileChooseDialog* d = mForm->fileDialog();
        if (!d) return -1;
        cListViewChild* l = d->list();
        cSafeCriticalSectionAccess lock(&l->lock());
        for (int row = l->firstBySort(); row >= 0; row = l->nextBySort(row))
            if (l->text(row, 1) && name == l->text(row, 1)) return row;
        return -1;
    }

    // A popup opened by `open` (true once it acted): it has to come up
    // where it belongs (next to the control `opener` it drops from, or at
    // the pointer), stay open, follow the pointer onto the entry `entry`
    // picks (its place in the list) and end as `how` says; `after` checks
    // what that did once the popup has closed.
    void popup(const std::string& kind, std::function<bool()> open, cChildElement* const* opener,
               std::function<int(cPopupMaster*)> entry, eEnd how, std::function<void()> after, int gap = 0) {
        struct sState {
            sRect at{0, 0, 0, 0};
            int entry = -1;
            bool lost = false;
        };
        auto st = std::make_shared<sState>();
        step(kind + ": opened", [open] { return open(); });
        step(kind + ": up", [=] {
            cPopupMaster* p = openPopup();
            if (!p) return false;
            const sRect w = screenRect(keyWindow());
            if (opener && *opener) {
                const sRect o = screenRect(*opener);
                const bool below = w.y == o.y + o.h + gap, above = w.y + w.h == o.y;
                check(kind + " opens " + (below ? "below" : above ? "above" : "over") + " its box",
                      below || above, "list at y " + std::to_string(w.y) + " h " + std::to_string(w.h) +
                                          ", box at y " + std::to_string(o.y) + " h " + std::to_string(o.h));
            } else {
                check(kind + " opens at the pointer", w.x == mPointer.x && w.y == mPointer.y,
                      std::to_string(w.x) + "," + std::to_string(w.y) + ", pointer at " +
                          std::to_string(mPointer.x) + "," + std::to_string(mPointer.y));
            }
            st->entry = entry(p);
            if (st->entry < 0 || size_t(st->entry) >= p->buttonCount()) st->entry = 0;
            moveTo(p->button(size_t(st->entry)), 10, 5);
            return true;
        });
        step(kind + ": follows the pointer", [=] {
            cPopupMaster* p = openPopup();
            if (!p) {
                st->lost = true;
                check(kind + " stays open", false, "it closed by itself");
                return true;
            }
            cButtonChild* b = p->button(size_t(st->entry));
            if (b->state() != cButtonChild::bsHover) return false;
            check(kind + " stays open and follows the pointer", true);
            switch (how) {
                case endPick: clickOn(b, 10, 5); break;
                case endEscape: pressKey(SDL_SCANCODE_ESCAPE); break;
                case endClickOutside: clickOn(mForm->list(), 20, 60); break;
            }
            return true;
        });
        step(kind + ": closed", [=] {
            if (openPopup()) return false;
            if (!st->lost) {
                const char* end = how == endPick     ? "picked with a click"
                                  : how == endEscape ? "closed by Escape"
                                                     : "closed by a click outside";
                check(kind + " " + end, true);
                after();
            }
            return true;
        });
    }
    // A combo box's list.
    void comboPick(const std::string& kind, cComboBoxChild* const* combo, int entry, eEnd how,
                   std::function<void()> after) {
        popup(kind, [combo] {
                  clickOn((*combo)->dropButton(), 9, 11);
                  return true;
              },
              reinterpret_cast<cChildElement* const*>(combo), [entry](cPopupMaster*) { return entry; }, how,
              std::move(after));
    }

    void build() {
        // Main window.  The pointer first leaves the controls, so that no
        // hover look depends on where the display put it.
        step("the window is up", [this] {
            if (!mainInFront()) return false;
            mstest::injectMouseMove(main(), 1, 1);
            if (isFolder(mForm->sample() + "/Gallery folder")) {
                std::fprintf(stderr, "gallery: %s/Gallery folder is there already: drive a fresh copy\n",
                             mForm->sample().c_str());
                std::_Exit(1);
            }
            return true;
        });
        act("the untouched window", [this] { save(main(), "gallery-main.png"); });
        act("typing a name", [this] {
            clickOn(mForm->nameEdit(), 20, 10);
            typeText("Ada");
        });
        act("typing a password", [this] {
            checkText("the name field takes typing", textOf(mForm->nameEdit()), "Ada");
            clickOn(mForm->passEdit(), 20, 10);
            pressKey(SDL_SCANCODE_END);
            typeText("42");
        });
        act("the check box", [this] {
            checkText("the password field takes typing", textOf(mForm->passEdit()), "secret42");
            clickOn(mForm->remember(), 8, 10);
        });
        act("checking the check box",
            [this] { check("the check box toggles with a click", !mForm->remember()->checked()); });
        mColour = mForm->colour();
        comboPick("colour list", &mColour, 2, endPick, [this] {
            checkText("colour list: the pick shows", textOf(mColour), "Blue");
            check("colour list: the pick is selected", mColour->selected() == 2);
        });
        comboPick("colour list (again)", &mColour, 0, endClickOutside, [this] {
            checkText("colour list: a click outside picks nothing", textOf(mColour), "Blue");
            check("colour list: the click outside goes no further", mForm->list()->selected() == 0);
        });
        act("scrolling the list", [this] { wheelOver(mForm->list(), 100, 80, -3); });
        act("checking the list's scrolling",
            [this] { check("the list scrolls with the wheel", mForm->list()->shiftY() > 0); });
        popup("list menu",
              [this] {
                  clickOn(mForm->list(), 40, 60, 2);
                  mPointer = screenRect(mForm->list());
                  mPointer.x += 40;
                  mPointer.y += 60;
                  return true;
              },
              nullptr, [](cPopupMaster*) { return 1; }, endPick,
              [this] {
                  const int row = mForm->list()->selected();
                  mMenuStatus = row >= 0 && row < kPackageCount ? std::string("Remove: ") + kPackages[row][0] + "."
                                                                : "(no row)";
                  checkText("list menu: the pick acts on the row under the pointer", mForm->statusText(),
                            mMenuStatus);
              });
        popup("list menu (again)",
              [this] {
                  clickOn(mForm->list(), 40, 30, 2);
                  mPointer = screenRect(mForm->list());
                  mPointer.x += 40;
                  mPointer.y += 30;
                  return true;
              },
              nullptr, [](cPopupMaster*) { return 2; }, endEscape,
              [this] { checkText("list menu: Escape picks nothing", mForm->statusText(), mMenuStatus); });
        act("scrolling the tree", [this] { wheelOver(mForm->tree(), 100, 80, -3); });
        act("clicking into the tree", [this] {
            cTreeViewChild* t = mForm->tree();
            check("the tree scrolls with the wheel", t->shiftY() > 0);
            // The first item shown whole, and the first expander shown.
            const sRect view = screenRect(t);
            mTreeItem = nullptr;
            mTreeParent = nullptr;
            std::function<void(cTreeViewChild::cTreeViewItem*)> walk = [&](cTreeViewChild::cTreeViewItem* i) {
                for (; i; i = cTreeViewChild::getNextUnderItm(i)) {
                    if (i->element && i->element->visible_child()) {
                        const sRect r = screenRect(i->element);
                        const bool shown = r.y >= view.y + 1 && r.y + r.h <= view.y + view.h - 1;
                        if (shown && !mTreeItem && !cTreeViewChild::getUnderItm(i)) mTreeItem = i;
                        if (shown && !mTreeParent && cTreeViewChild::getUnderItm(i) && i->control &&
                            i->control->isActive())
                            mTreeParent = i;
                    }
                    walk(cTreeViewChild::getUnderItm(i));
                }
            };
            walk(t->rootItem());
            if (mTreeItem) clickOn(mTreeItem->element, 5, 5);
        });
        act("collapsing a tree branch", [this] {
            check("a tree item is selected with a click", mTreeItem && mForm->tree()->selected() == mTreeItem,
                  mTreeItem ? textOf(mTreeItem->element) : "no item shown");
            if (mTreeParent) clickOn(mTreeParent->control, 8, 8);
        });
        act("checking the tree branch", [this] {
            check("a tree branch collapses with a click", mTreeParent && mTreeParent->collapsed,
                  mTreeParent ? mTreeParent->text.get() : "no branch shown");
        });
        act("finding the property sheet's choices",
            [this] { mChannel = dynamic_cast<cComboBoxChild*>(mForm->sheet()->valueControl(1, 3)); });
        comboPick("property sheet choices", &mChannel, 1, endPick, [this] {
            checkText("property sheet choices: the pick shows", textOrEmpty(mForm->sheet()->value(1, 3)), "Beta");
            check("property sheet choices: the pick is the property's", mForm->sheet()->value_id(1, 3) == 1);
        });
        act("typing into the property sheet", [this] {
            clickOn(mForm->sheet()->editControl(1, 2), 20, 8);
            pressKey(SDL_SCANCODE_END);
            typeText(".1");
        });
        act("checking the property sheet's edit", [this] {
            checkText("the property sheet's edit takes typing", textOrEmpty(mForm->sheet()->value(1, 2)), "1.4.2.1");
        });
        mJump = mForm->jump();
        comboPick("jump list", &mJump, 6, endPick, [this] {
            checkText("jump list: the pick shows", textOf(mJump), kPackages[6][0]);
            check("jump list: the list jumps to the pick", mForm->list()->selected() == 6);
        });

        // The message box, closed with its button.
        pressButton("message box: opened", btMessage);
        step("message box: up", [this] {
            cMessageForm* m = dialog<cMessageForm>();
            if (!m) return false;
            save(keyWindow(), "gallery-message.png");
            clickOn(m->buttons()->findButton(1), 10, 8);
            return true;
        });
        statusShows("message box: closed", "message box: its button closes it",
                    "The message box was closed.");

        // The file chooser for opening: its filter box, the file-name field
        // (a folder's name goes there), the path bar's lists and its typed
        // path, and its list's menu, which opens a file.
        pressButton("open dialog: opened", btOpen);
        step("open dialog: listed", [this] {
            if (!fileDialogSettled()) return false;
            save(keyWindow(), "gallery-open.png");
            mFilter = mForm->fileDialog()->filterBox();
            return true;
        });
        comboPick("filter box", &mFilter, 0, endPick, [this] {
            checkText("filter box: the pick shows", textOf(mFilter), "Scenarios");
            const std::vector<std::string> want = {"docs", "files", "scenario.txt"};
            std::string have;
            for (const std::string& n : listed()) have += (have.empty() ? "" : ", ") + n;
            check("filter box: the list shows what the filter lets through", listed() == want, have);
        });
        act("typing a folder's name", [this] {
            clickOn(mForm->fileDialog()->nameEdit(), 20, 10);
            typeText("docs");
            pressKey(SDL_SCANCODE_RETURN);
        });
        step("the typed folder listed", [this] {
            if (!fileDialogSettled()) return false;
            checkText("the file-name field takes typing: a folder's name goes there", shownPath(),
                      mForm->sample() + "/docs");
            return true;
        });
        // The path is long enough for the bar to put its first folders in
        // a list of their own.
        mMore = nullptr;
        popup("path bar folders",
              [this] {
                  if (!fileDialogSettled()) return false;
                  mMore = mForm->fileDialog()->navigationBar()->pathBar()->moreButton();
                  if (!mMore->visible_child()) {
                      check("path bar folders: the bar lists the folders that do not fit", false,
                            "the path fits the bar: " + shownPath());
                      mMore = nullptr;
                      return true;
                  }
                  clickOn(mMore, 6, 8);
                  return true;
              },
              &mMore,
              [this](cPopupMaster* p) {
                  // The last folder in the list: the nearest one above those shown.
                  const int i = int(p->buttonCount()) - 1;
                  const cNavigationChild::sStrToken* t =
                      mForm->fileDialog()->navigationBar()->token(p->buttonId(size_t(i)));
                  mExpected = t && t->path.get() ? t->path.get() : "";
                  return i;
              },
              endPick, [] {}, 1);  // a tool bar's list leaves a pixel below its button
        step("the folder picked listed", [this] {
            if (!fileDialogSettled()) return false;
            checkText("path bar folders: the pick goes there", shownPath(), mExpected);
            return true;
        });
        step("the path bar's drop-down shown", [this] {
            if (!fileDialogSettled()) return false;
            cNavigationChild* nav = mForm->fileDialog()->navigationBar();
            clickOn(nav->pathBar()->findButton(0), 8, 10);
            mDrop = nav->dropDown();
            return true;
        });
        step("the path bar in edit mode", [this] {
            cNavigationChild* nav = mForm->fileDialog()->navigationBar();
            return nav->naviMode() == cNavigationChild::nmEdit && mDrop->visible_child();
        });
        popup("path bar history",
              [this] {
                  clickOn(mDrop->dropButton(), 9, 11);
                  return true;
              },
              reinterpret_cast<cChildElement* const*>(&mDrop),
              [this](cPopupMaster* p) {
                  for (size_t i = 0; i < p->buttonCount(); ++i)
                      if (textOf(p->button(i)) == mForm->sample()) return int(i);
                  return -1;
              },
              endPick, [] {});
        step("the history's pick listed", [this] {
            if (!fileDialogSettled()) return false;
            checkText("path bar history: the pick goes there", shownPath(), mForm->sample());
            return true;
        });
        // A path typed into the path bar's field shows there; the history
        // list then takes the bar to a folder visited before.
        step("typing a path into the path bar", [this] {
            if (!fileDialogSettled()) return false;
            clickOn(mForm->fileDialog()->navigationBar()->pathBar()->findButton(0), 8, 10);
            return true;
        });
        step("the path bar in edit mode again", [this] {
            cNavigationChild* nav = mForm->fileDialog()->navigationBar();
            if (nav->naviMode() != cNavigationChild::nmEdit || !mDrop->visible_child()) return false;
            clickOn(mDrop->edit(), 20, 10);
            pressKey(SDL_SCANCODE_A, KMOD_LCTRL);
            typeText(mForm->sample() + "/files");
            return true;
        });
        act("checking the typed path", [this] {
            checkText("the path bar's field takes typing", textOf(mDrop->edit()), mForm->sample() + "/files");
        });
        popup("path bar history (again)",
              [this] {
                  clickOn(mDrop->dropButton(), 9, 11);
                  return true;
              },
              reinterpret_cast<cChildElement* const*>(&mDrop),
              [this](cPopupMaster* p) {
                  for (size_t i = 0; i < p->buttonCount(); ++i)
                      if (textOf(p->button(i)) == mForm->sample() + "/docs") return int(i);
                  return -1;
              },
              endPick, [] {});
        step("the second pick listed", [this] {
            if (!fileDialogSettled() || shownPath() == mForm->sample()) return false;
            checkText("path bar history: a folder visited before", shownPath(), mForm->sample() + "/docs");
            // Back up by the path bar's button of the sample's folder.
            cNavigationChild* nav = mForm->fileDialog()->navigationBar();
            for (int id = 1; nav->token(id); ++id)
                if (nav->token(id)->path.get() == mForm->sample()) clickOn(nav->pathBar()->findButton(id), 6, 8);
            return true;
        });
        popup("file list menu",
              [this] {
                  if (!fileDialogSettled() || shownPath() != mForm->sample()) return false;
                  cListViewChild* l = mForm->fileDialog()->list();
                  int top = 0, bottom = 0;
                  if (!l->itemRange(listedRow("scenario.txt"), top, bottom)) return false;
                  clickOn(l, 30, top + 4, 2);
                  mPointer = screenRect(l);
                  mPointer.x += 30;
                  mPointer.y += top + 4;
                  return true;
              },
              nullptr, [](cPopupMaster*) { return 0; }, endPick, [] {});
        statusShows("open dialog: closed", "file list menu: Open returns the file's path",
                    "Chosen: " + mForm->sample() + "/scenario.txt");

        // The file chooser for saving: a typed name.
        pressButton("save dialog: opened", btSave);
        step("save dialog: listed", [this] {
            if (!fileDialogSettled()) return false;
            clickOn(mForm->fileDialog()->nameEdit(), 10, 10);
            typeText("my notes.txt");
            return true;
        });
        act("saving the save dialog's picture", [this] {
            save(keyWindow(), "gallery-save.png");
            pressKey(SDL_SCANCODE_RETURN);
        });
        statusShows("save dialog: closed", "save dialog: the typed name is returned in the folder shown",
                    "Chosen: " + mForm->sample() + "/my notes.txt");

        // The folder chooser: its tree's menu makes a folder (named in a
        // form of its own), and a typed path chooses it.
        pressButton("folder dialog: opened", btFolder);
        step("folder dialog: up", [this] {
            cFolderChooseDialog* d = dialog<cFolderChooseDialog>();
            if (!d || !d->currentItem() || !d->currentItem()->element) return false;
            save(keyWindow(), "gallery-folder.png");
            return true;
        });
        popup("folder tree menu",
              [this] {
                  cFolderChooseDialog* d = dialog<cFolderChooseDialog>();
                  if (!d) return false;
                  cChildElement* e = d->currentItem()->element;
                  clickOn(e, 5, 5, 2);
                  mPointer = screenRect(e);
                  mPointer.x += 5;
                  mPointer.y += 5;
                  return true;
              },
              nullptr, [](cPopupMaster*) { return 0; }, endPick, [] {});
        step("naming a new folder", [this] {
            cNewFolderNameReqForm* f = dialog<cNewFolderNameReqForm>();
            if (!f) return false;
            clickOn(f->edit(), 10, 8);
            typeText("Gallery folder");
            pressKey(SDL_SCANCODE_RETURN);
            return true;
        });
        step("typing the new folder's path", [this] {
            cFolderChooseDialog* d = dialog<cFolderChooseDialog>();
            if (!d) return false;
            check("folder tree menu: the new folder is made under the folder shown",
                  isFolder(mForm->sample() + "/Gallery folder"));
            clickOn(d->pathEdit(), 10, 8);
            pressKey(SDL_SCANCODE_A, KMOD_LCTRL);
            typeText(mForm->sample() + "/Gallery folder");
            pressKey(SDL_SCANCODE_RETURN);
            return true;
        });
        act("choosing it", [] { pressKey(SDL_SCANCODE_RETURN); });
        statusShows("folder dialog: closed", "folder dialog: the typed path is chosen",
                    "Folder: " + mForm->sample() + "/Gallery folder");

        // The progress form, counted to its end.
        pressButton("progress: opened", btProgress);
        step("progress: halfway", [this] {
            if (keyWindow() == main() || mGate->load() != 1) return false;
            save(keyWindow(), "gallery-progress.png");
            mGate->store(2);
            return true;
        });
        statusShows("progress: done", "progress form: the job counts to its end",
                    "The job counted to 100.");
        step("the final window", [this] {
            save(main(), "gallery-final.png");
            if (mHold) {
                std::printf("shown\n");
                std::fflush(stdout);
                while (std::getchar() != EOF) {
                }
            }
            mstest::injectCloseRequest(main());
            return true;
        });
    }

    cGalleryForm* mForm;
    std::string mDir;
    bool mHold;
    std::atomic<int>* mGate;
    bool mOnlyPicture;
    std::vector<sStep> mSteps;
    size_t mStep = 0;
    int mWaited = 0;
    bool mOk = true;
    std::FILE* mChecks = nullptr;
    // What the steps hand on to later ones.
    sRect mPointer{0, 0, 0, 0};
    cComboBoxChild *mColour = nullptr, *mChannel = nullptr, *mJump = nullptr, *mFilter = nullptr,
                   *mDrop = nullptr;
    cChildElement* mMore = nullptr;
    std::string mMenuStatus, mExpected;
    cTreeViewChild::cTreeViewItem *mTreeItem = nullptr, *mTreeParent = nullptr;
};

// The report a test that drives the gallery through the window system asks
// for (gallery --serve): one line of JSON per "state" line read on stdin,
// naming the windows open (the main window and the modal windows stacked on
// it, each with its X window when there is one), which of them has the
// keyboard, the places of the controls a user reaches for (in their
// window's content) and the texts they hold.  Written on the UI thread.
class cReport {
public:
    explicit cReport(cGalleryForm* form) : mForm(form) {}

    std::string line() {
        mOut = "{\"windows\":[";
        bool first = true;
        for (MSWindow* w = windowOf(mForm); w; w = w->attachedSheet()) {
            if (!w->isVisible()) continue;
            if (!first) mOut += ',';
            first = false;
            window(w);
        }
        MSWindow* main = windowOf(mForm);
        const sRect m = main ? screenRect(main) : sRect{0, 0, 0, 0};
        mOut += "],\"size\":[" + std::to_string(m.w) + "," + std::to_string(m.h) + "]}";
        return mOut;
    }

private:
    void window(MSWindow* w) {
        mRects.clear();
        mTexts.clear();
        std::string kind = "other";
        cChildElement* root = rootOf<cChildElement>(w);
        if (auto* g = dynamic_cast<cGalleryForm*>(root)) {
            kind = "main";
            mainControls(g);
        } else if (auto* m = dynamic_cast<cMessageForm*>(root)) {
            kind = "message";
            bar("button", m->buttons());
        } else if (auto* f = dynamic_cast<cFileChooseDialog*>(root)) {
            kind = "file";
            field("name", f->nameEdit());
            rect("filter", f->filterBox());
            rect("filter.arrow", f->filterBox()->dropButton());
            rect("list", f->list());
            bar("top", f->topBar());
            bar("button", f->bottomBar());
            const char* path = f->navigationBar()->path();
            mTexts.push_back({"path", path ? path : ""});
            mTexts.push_back({"busy", f->lister()->busy() ? "1" : "0"});
        } else if (auto* d = dynamic_cast<cFolderChooseDialog*>(root)) {
            kind = "folder";
            field("path", d->pathEdit());
            rect("tree", d->tree());
            bar("top", d->topBar());
            bar("button", d->bottomBar());
        } else if (auto* n = dynamic_cast<cNewFolderNameReqForm*>(root)) {
            kind = "newfolder";
            field("edit", n->edit());
            bar("button", n->buttons());
        } else if (auto* p = dynamic_cast<cPopupMaster*>(root)) {
            kind = "popup";
            for (size_t i = 0; i < p->buttonCount(); ++i) {
                field("entry." + std::to_string(i), p->button(i));
            }
        } else if (dynamic_cast<cStdBasicProgressForm*>(root)) {
            kind = "progress";
        }
        // The focused control, by the name it is reported under, and the
        // element itself (a number that differs between any two).
        std::string focus;
        cChildElement* f = root ? root->getFocused() : nullptr;
        for (const auto& r : mRects)
            if (f && (r.element == f || r.element->isChild(f))) focus = r.name;
        mOut += "{\"kind\":" + quoted(kind) + ",\"title\":" + quoted(w->title()) +
                ",\"x11\":" + std::to_string(msx11::xWindow(w->sdlWindow())) +
                ",\"key\":" + (w->isKeyWindow() ? "true" : "false") + ",\"focus\":" + quoted(focus) +
                ",\"focusid\":" + std::to_string(reinterpret_cast<std::uintptr_t>(f)) + ",\"rects\":{";
        for (size_t i = 0; i < mRects.size(); ++i) {
            const sRect& r = mRects[i].rect;
            mOut += (i ? "," : "") + quoted(mRects[i].name) + ":[" + std::to_string(r.x) + "," + std::to_string(r.y) +
                    "," + std::to_string(r.w) + "," + std::to_string(r.h) + "]";
        }
        mOut += "},\"texts\":{";
        for (size_t i = 0; i < mTexts.size(); ++i)
            mOut += (i ? "," : "") + quoted(mTexts[i].first) + ":" + quoted(mTexts[i].second);
        mOut += "}}";
    }

    void mainControls(cGalleryForm* g) {
        field("name", g->nameEdit());
        rect("password", g->passEdit());
        rect("colour", g->colour());
        rect("colour.arrow", g->colour()->dropButton());
        text("colour", g->colour());
        rect("remember", g->rememberBox());
        rect("list", g->list());
        rect("tree", g->tree());
        rect("document", g->document());
        cPropSheetChild* sheet = g->sheet();
        rect("sheet", sheet);
        field("version", sheet->editControl(1, 2));
        rect("target.action", sheet->actionButton(2, 1));
        for (int id : {1, 2})
            if (cPropSheetChild::cSectionChild* s = sheet->section(id))
                rect("section" + std::to_string(id) + ".arrow", s->header.button());
        field("status", g->statusLine());
        rect("jump.label", g->jumpLabel());
        rect("jump", g->jump());
        rect("jump.arrow", g->jump()->dropButton());
        for (int id = btMessage; id <= btProgress; ++id) rect("button." + std::to_string(id), g->button(id));
    }

    void bar(const std::string& name, cToolBarChild* b) {
        for (int id = 1; id <= 3; ++id)
            if (cButtonChild* e = b ? b->findButton(id) : nullptr)
                if (e->visible()) rect(name + "." + std::to_string(id), e);
    }
    // In the coordinates of the window's content: the test places them on
    // the screen through the server, which knows where the window is even
    // while a window manager is still moving it.
    void rect(const std::string& name, cChildElement* e) {
        if (!e) return;
        const sPoint p = inside(topOf(e), e, 0, 0);
        mRects.push_back({name, e, {p.x, p.y, e->width(), e->height()}});
    }
    void text(const std::string& name, cChildElement* e) { mTexts.push_back({name, textOf(e)}); }
    void field(const std::string& name, cChildElement* e) {
        rect(name, e);
        text(name, e);
    }

    static std::string quoted(const std::string& s) {
        std::string q = "\"";
        for (unsigned char c : s) {
            if (c == '"' || c == '\\') {
                q += '\\';
                q += char(c);
            } else if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                q += esc;
            } else {
                q += char(c);
            }
        }
        return q + "\"";
    }

    struct sNamedRect {
        std::string name;
        cChildElement* element;
        sRect rect;
    };
    cGalleryForm* mForm;
    std::string mOut;
    std::vector<sNamedRect> mRects;
    std::vector<std::pair<std::string, std::string>> mTexts;
};

// Reads the report requests of --serve from stdin and hands each to the UI
// thread as an action on the form, until the end of stdin or of the form.
// The reader may still wait on stdin when the program ends: it owns its
// share of the link to the form.
void serveReports(cGalleryForm* form) {
    auto link = std::make_shared<cGalleryForm::sLink>();
    link->form = form;
    auto report = [](cGalleryForm* f) {
        const std::string line = cReport(f).line();
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    auto serve = [link] {
        std::thread([link] {
            char line[64];
            while (std::fgets(line, sizeof line, stdin)) {
                if (std::strncmp(line, "state", 5) != 0) continue;
                std::lock_guard<std::mutex> g(link->lock);
                if (!link->form) return;
                link->form->postAction(new cChildElement::cChildAction(cGalleryForm::kReportAction));
            }
        }).detach();
    };
    form->setReporter(link, report, serve);
}

class cGalleryApp : public cCIApplication {
public:
    bool onInit(int argc, char** argv, int& exitCode) override {
        mSample = QOR_GALLERY_SAMPLE;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--png" && i + 1 < argc) mPng = argv[++i];
            else if (a == "--drive" && i + 1 < argc) mDrive = argv[++i];
            else if (a == "--hold") mHold = true;
            else if (a == "--serve") mServe = true;
            else if (a == "--sample" && i + 1 < argc) mSample = argv[++i];
            else {
                std::fprintf(stderr, "usage: gallery [--png out.png | --drive DIR [--hold] | --serve] [--sample DIR]\n");
                exitCode = 2;
                return false;
            }
        }
        cCITheme::setTheme(gCI_Flat_Theme);
        cLibLang::applyLang(lngENG);
        // The welcome document of the sample scenario, compiled and loaded.
        cMemIOTarget out(65536);
        cHDLParser compiler;
        cHDLParser::sErrInfo err;
        const std::string index = mSample + "/docs/welcome.idx";
        _typebuf<unsigned char> bytes;
        if (compiler.parse(index.c_str(), &out, err) && out.toBuffer(bytes) &&
            mWelcome.load(bytes.data(), static_cast<long long>(bytes.count()))) {
            mDoc = mWelcome.forLang(lngENG);
        } else {
            std::fprintf(stderr, "gallery: the welcome document %s does not compile: %s\n", index.c_str(),
                         err.message.get() ? err.message.get() : "");
        }
        return true;
    }

    int run() override {
        // The driven run makes a folder in the sample's folder through the
        // folder chooser; it takes it away again, so that a run on the
        // source tree leaves it as it was.
        const std::string made = mSample + "/Gallery folder";
        const bool madeByUs = !mDrive.empty() && !isFolder(made);
        auto* form = new cGalleryForm(mSample, mDoc, mDrive.empty() ? nullptr : &mGate);
        cScript script(form, mPng.empty() ? mDrive : mPng, mHold, &mGate, !mPng.empty());
        const bool scripted = !mPng.empty() || !mDrive.empty();
        if (scripted) mstest::setIdleHook([&script] { script.tick(); });
        else if (mServe) serveReports(form);
        char title[] = "Qor toolkit gallery";
        windowMaker()->modal(title, kFormW, kFormH, form, nullptr, true);
        mstest::setIdleHook(nullptr);
        // Only while empty: anything put in it meanwhile is not ours.
        if (madeByUs) ::rmdir(made.c_str());
        return scripted && !script.ok() ? 1 : 0;
    }

private:
    cCIOMLang mToolkitTexts;
    std::string mSample, mPng, mDrive;
    bool mHold = false, mServe = false;
    cSiDocLoader mWelcome;
    cSiDocContainer* mDoc = nullptr;
    std::atomic<int> mGate{0};
};

}  // namespace

namespace {

// The picture and driven modes keep nothing between runs: their store
// opens no folder, so that they make nothing in $HOME (reads find nothing,
// writes are refused).
class cNoFolderConfig : public cCIAppFullConfig {
public:
    bool newConfig(const char*) override { return true; }
    bool openConfig(const char*) override { return true; }
    bool saveConfig() override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
    bool keepsNothing = false;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--png") || !std::strcmp(argv[i], "--drive")) keepsNothing = true;
    cApplicationConfig* config = keepsNothing ? new cNoFolderConfig : nullptr;
    return cCIApplication::runApp(new cGalleryApp, nullptr, nullptr, 0, argc, argv, config, "qor-gallery");
}
