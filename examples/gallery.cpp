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
//   gallery --drive DIR [--hold]  runs a script of injected clicks, keys and
//                                 typing through every dialog and saves each
//                                 one's window as a PNG in DIR (gallery-*.png);
//                                 with --hold it then prints "shown" and keeps
//                                 the window up until stdin closes
//   --sample DIR                  the sample scenario's folder (the source
//                                 tree's examples/sample by default)
//
// Headless it runs on SDL's offscreen driver (SDL_VIDEODRIVER=offscreen);
// under Xvfb it shows real windows.
#include <SDL2/SDL.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pngwrite.h"
#include "base/memio.h"
#include "cihlpdoc/hdlparser.h"
#include "cihlpdoc/sidocloader.h"
#include "cihlpdoc/sidocviewer.h"
#include "macshim/appkit.h"
#include "uitoolkit/application.h"
#include "uitoolkit/checkbox.h"
#include "uitoolkit/combobox.h"
#include "uitoolkit/editfield.h"
#include "uitoolkit/filechoose.h"
#include "uitoolkit/folderchoose.h"
#include "uitoolkit/form.h"
#include "uitoolkit/lang.h"
#include "uitoolkit/listview.h"
#include "uitoolkit/messageform.h"
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

class cGalleryForm : public cCustomForm {
public:
    cGalleryForm(std::string sample, cSiDocContainer* welcome, std::atomic<int>* progressGate)
        : mSample(std::move(sample)), mWelcome(welcome), mGate(progressGate) {}
    ~cGalleryForm() override { mTree.clear(); }

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
        // A list of packages.
        c->attach(&mList, 8, 122, 302, 150);
        mList.setColumn(1, "Package", 140, cCanvas::taLeft);
        mList.setColumn(2, "Version", 70, cCanvas::taLeft);
        mList.setColumn(3, "Size", 70, cCanvas::taRight);
        const char* rows[][3] = {{"Qor Sample Tool", "1.4.2", "12 KB"}, {"Text editor", "2.0", "3 MB"},
                                 {"Photo viewer", "0.9.1", "812 KB"}, {"Mail client", "5.3", "24 MB"},
                                 {"\xC3\x89" "diteur de notes", "1.0", "90 KB"}};
        for (int r = 0; r < 5; ++r)
            for (int col = 0; col < 3; ++col) mList.setItem(r, col + 1, rows[r][col], -1, nullptr);
        mList.select(0);
        // A tree of folders.
        c->attach(&mTree, 8, 280, 302, 170);
        auto add = [&](cTreeViewChild::cTreeViewItem* parent, const char* text) {
            auto* item = new cTreeViewChild::cTreeViewItem();
            item->text.set(text);
            mTree.storeUnder(parent, item, nullptr);
            return item;
        };
        cTreeViewChild::cTreeViewItem* computer = add(nullptr, "Computer");
        cTreeViewChild::cTreeViewItem* apps = add(computer, "Applications");
        add(apps, "Qor Sample Tool");
        add(apps, "Text editor");
        cTreeViewChild::cTreeViewItem* docs = add(computer, "Documents");
        add(docs, "Letters");
        add(docs, "Photos 2024");
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
        // Bottom: the dialogs and the last answer.
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
        mName.focus();
    }

    bool onAction(cChildElement* src, cChildAction* a) override {
        if (src == &mButtons && a && a->code() == 6) {
            run(static_cast<cToolBarChild::cTbButtonAction*>(a)->id);
            return true;
        }
        return cCustomForm::onAction(src, a);
    }
    bool onFormCancel() override { return end_modal(0); }

    // The dialog a scripted run waits for (UI thread).
    cFileChooseDialog* fileDialog() const { return mFileDialog; }
    cButtonChild* button(int id) { return mButtons.findButton(id); }
    cEditChild* nameEdit() { return &mName; }
    cListViewChild* list() { return &mList; }
    cTreeViewChild* tree() { return &mTree; }

private:
    void status(const std::string& s) { mStatus.setText(s.c_str(), -1, true); }

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
    cStaticElement mNameLabel, mPassLabel, mColourLabel, mStatus;
    cEditChild mName, mPass;
    cComboBoxChild mColour;
    cCheckBoxChild mRemember;
    cListViewChild mList;
    cTreeViewChild mTree;
    cSiDocViewer mDoc;
    cPropSheetExChild mProps;
    cToolBarChild mButtons;
    cFileChooseDialog* mFileDialog = nullptr;
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

void click(MSWindow* w, sPoint p) {
    mstest::injectMouseMove(w, p.x, p.y);
    mstest::injectMouseButton(w, 1, true, p.x, p.y);
    mstest::injectMouseButton(w, 1, false, p.x, p.y);
}

void key(MSWindow* w, int scancode, const char* text = nullptr) {
    mstest::injectKey(w, scancode, true, 0, text);
    mstest::injectKey(w, scancode, false);
}

// The script of a driven run: each step waits for its condition, then acts.
// It runs whenever the event loop would wait, in whichever loop (the
// gallery's or a dialog's) is running.
class cScript {
public:
    cScript(cGalleryForm* form, std::string dir, bool hold, std::atomic<int>* gate, bool onlyPicture)
        : mForm(form), mDir(std::move(dir)), mHold(hold), mGate(gate), mOnlyPicture(onlyPicture) {}

    void tick() {
        MSWindow* main = windowOf(mForm);
        if (!main) return;
        MSWindow* key = MSApplication::shared() ? MSApplication::shared()->keyWindow() : nullptr;
        const bool dialog = key && key != main;
        if (++mWaited > kPatience) {
            std::fprintf(stderr, "gallery: step %d did not come about\n", mStep);
            std::_Exit(1);
        }
        usleep(2000);
        // Steps are numbered from 0; the pointer first leaves the controls,
        // so that no hover look depends on where the display put it.
        switch (mStep) {
            case 0:
                mstest::injectMouseMove(main, 1, 1);
                next(true);
                break;
            case 1:
                if (mOnlyPicture) {
                    done(saveWindow(main, mDir));
                    mForm->end_modal(0);
                    return;
                }
                next(save(main, "gallery-main.png"));
                click(main, inside(mForm, mForm->button(btMessage), 10, 8));
                break;
            case 2: saveAndEscape(key, dialog, "gallery-message.png"); break;
            case 3: openBy(main, dialog, btOpen); break;
            case 4: saveAndEscape(key, fileDialogSettled(dialog), "gallery-open.png"); break;
            case 5: openBy(main, dialog, btSave); break;
            case 6: {
                if (!fileDialogSettled(dialog)) return;
                cFileChooseDialog* d = mForm->fileDialog();
                // A name typed into the field, shown, then given up.
                click(key, inside(d, d->nameEdit(), 10, 10));
                for (const char* ch : {"m", "y", " ", "n", "o", "t", "e", "s"}) {
                    const int code = *ch == ' ' ? SDL_SCANCODE_SPACE : SDL_GetScancodeFromKey(SDL_Keycode(*ch));
                    ::key(key, code, ch);
                }
                next(true);
                break;
            }
            case 7: saveAndEscape(key, dialog, "gallery-save.png"); break;
            case 8: openBy(main, dialog, btFolder); break;
            case 9: saveAndEscape(key, dialog, "gallery-folder.png"); break;
            case 10: openBy(main, dialog, btProgress); break;
            case 11:
                if (!dialog || mGate->load() != 1) return;
                next(save(key, "gallery-progress.png"));
                mGate->store(2);
                break;
            case 12:
                if (dialog) return;
                next(true);
                // Typing into the name field, a row of the list and an item
                // of the tree.
                click(main, inside(mForm, mForm->nameEdit(), 20, 10));
                for (const char* ch : {"A", "d", "a"}) ::key(main, SDL_GetScancodeFromKey(SDL_Keycode(*ch | 0x20)), ch);
                click(main, inside(mForm, mForm->list(), 40, 22 + 18 * 2 + 9));
                break;
            case 13:
                next(save(main, "gallery-final.png"));
                if (mHold) {
                    std::printf("shown\n");
                    std::fflush(stdout);
                    while (std::getchar() != EOF) {
                    }
                }
                mstest::injectCloseRequest(main);
                break;
            default:
                break;
        }
    }
    bool ok() const { return mOk; }

private:
    static constexpr int kPatience = 15000;  // ticks of about 2 ms
    // Once the main window is in front again: the next dialog is opened by
    // its button.
    void openBy(MSWindow* main, bool dialog, int button) {
        if (dialog) return;
        next(true);
        click(main, inside(mForm, mForm->button(button), 10, 8));
    }
    // Once the dialog is up (and ready): its picture is kept and it is
    // given up with Escape.
    void saveAndEscape(MSWindow* key, bool ready, const char* name) {
        if (!ready) return;
        next(save(key, name));
        ::key(key, SDL_SCANCODE_ESCAPE);
    }
    // A file chooser up, with its folder listed.
    bool fileDialogSettled(bool dialog) {
        cFileChooseDialog* d = mForm->fileDialog();
        return dialog && d && d->navigationBar()->naviMode() == cNavigationChild::nmNormal && !d->lister()->busy();
    }
    bool save(MSWindow* w, const char* name) {
        const bool saved = saveWindow(w, mDir + "/" + name);
        if (!saved) std::fprintf(stderr, "gallery: cannot save %s\n", name);
        return saved;
    }
    void next(bool ok) {
        mOk = mOk && ok;
        ++mStep;
        mWaited = 0;
    }
    void done(bool ok) {
        mOk = ok;
        mStep = 100;
    }
    cGalleryForm* mForm;
    std::string mDir;
    bool mHold;
    std::atomic<int>* mGate;
    bool mOnlyPicture;
    int mStep = 0;
    int mWaited = 0;
    bool mOk = true;
};

class cGalleryApp : public cCIApplication {
public:
    bool onInit(int argc, char** argv, int& exitCode) override {
        mSample = QOR_GALLERY_SAMPLE;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--png" && i + 1 < argc) mPng = argv[++i];
            else if (a == "--drive" && i + 1 < argc) mDrive = argv[++i];
            else if (a == "--hold") mHold = true;
            else if (a == "--sample" && i + 1 < argc) mSample = argv[++i];
            else {
                std::fprintf(stderr, "usage: gallery [--png out.png | --drive DIR [--hold]] [--sample DIR]\n");
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
        auto* form = new cGalleryForm(mSample, mDoc, mDrive.empty() ? nullptr : &mGate);
        cScript script(form, mPng.empty() ? mDrive : mPng, mHold, &mGate, !mPng.empty());
        const bool scripted = !mPng.empty() || !mDrive.empty();
        if (scripted) mstest::setIdleHook([&script] { script.tick(); });
        char title[] = "Qor toolkit gallery";
        windowMaker()->modal(title, kFormW, kFormH, form, nullptr, true);
        mstest::setIdleHook(nullptr);
        return scripted && !script.ok() ? 1 : 0;
    }

private:
    cCIOMLang mToolkitTexts;
    std::string mSample, mPng, mDrive;
    bool mHold = false;
    cSiDocLoader mWelcome;
    cSiDocContainer* mDoc = nullptr;
    std::atomic<int> mGate{0};
};

}  // namespace

int main(int argc, char** argv) {
    return cCIApplication::runApp(new cGalleryApp, nullptr, nullptr, 0, argc, argv, nullptr, "qor-gallery");
}
