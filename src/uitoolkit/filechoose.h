// The file chooser: cFileChooseDialog opens or saves a file.  It shows one
// folder at a time in a list (Name, Date, Type, Size) under a path bar, with
// a file-name field, a filter box and a button bar below.  The folder is
// read on the path bar's worker job by cFileChooseListFolder, which hands a
// finished listing over to the UI thread: the list only ever shows a listing
// that no worker writes.  cNewFolderNameReqForm asks for a new folder's name
// (the folder chooser uses it too).
#pragma once

#include "base/buffers.h"
#include "base/folders.h"
#include "base/sync.h"
#include "uitoolkit/combobox.h"
#include "uitoolkit/editfield.h"
#include "uitoolkit/form.h"
#include "uitoolkit/listview.h"
#include "uitoolkit/navigationbar.h"
#include "uitoolkit/static.h"
#include "uitoolkit/toolbar.h"

#include <memory>
#include <string>
#include <vector>

// ---- Shared by the file and the folder chooser ---------------------------

// Entry kinds beyond the folder lister's own: volumes, as a platform with
// mounted disks reports them.
enum { fsoVolume = 8, fsoVolumeOff = 10 };

// The text an entry shows: its display name, else its name.
const char* chooserEntryText(const sFolderItemInfo& e);
// The part of path before its last '/' ("/" for a path in the root), or "".
std::string chooserParentOf(const std::string& path);
// folder and name with one '/' between them.
std::string chooserJoinPath(const char* folder, const char* name);

// How a file name shows in a list, a tree or a field: its bytes read as
// UTF-8, a byte that starts no character read as the Latin-1 letter of the
// same number, a control character as its picture (U+2400 + code, U+2421
// for DEL), and what no font shows (C1 controls, halves of surrogate pairs)
// as U+FFFD.  The result is UTF-8 that a field gives back unchanged; several
// names may show alike, so the choosers keep the bytes behind what they
// show.
std::string chooserShownName(const char* bytes);
// Turns a path the user typed into the exact bytes of the path it means.  A
// relative path is taken from base, the folder shown (never from the
// process's working folder): false when there is no base to take it from.
// Empty parts and "." are dropped and ".." goes up one folder, never above
// the root.  A part that names nothing as typed stands for the one entry of
// its folder that shows as it does (a name that is not UTF-8, or holds a
// line feed, typed as it shows); with no such entry, or more than one, it
// stays as typed.
bool chooserResolvePath(const char* base, const char* typed, std::string& out);

// What asking for a new folder came to.
enum eChooserNewFolder { nfCancelled, nfMade, nfCannotCreate, nfFileThere, nfFolderThere, nfOtherThere };
// Asks over owner for a new folder's name and makes that folder in folder
// unless something stands there already; at is the path asked for.
eChooserNewFolder chooserNewFolder(cChildElement* owner, const char* folder, std::string& at);
// The one-entry context menu of the choosers at x, y of the owner's window
// (a white list with black text, at least 100 wide): the id chosen, or -1.
int chooserMenu(cChildElement* owner, tActiveElementItems& entries, int x, int y);

class cNewFolderNameReqForm : public cCustomForm {
public:
    static cPicturesList myImages;

    cNewFolderNameReqForm();
    ~cNewFolderNameReqForm() override;
    // Asks (250 by 100) over the owner's window, with the given form or a new
    // one; true, and name holds the text, when a name was accepted.
    static bool reqNewFolderName(cChildElement* owner, _guardchar<char>& name, cNewFolderNameReqForm* form);

    cEditChild* edit() { return &mEdit; }
    cToolBarChild* buttons() { return &mBar; }
    void onConstruct() override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    const char* wantLangResource() override { return "ciom::filechoose"; }
    void onInitData() override;
    bool onFormCancel() override;
    bool onFormAccept() override;

private:
    cEditChild mEdit;
    cToolBarChild mBar;
    _guardchar<char>* mTarget = nullptr;
};

// Lists a folder (or the places, for the empty path) on the navigation job.
// The run fills a listing of its own; the UI thread takes it over with
// publish() once the path bar reports the finished navigation.
class cFileChooseListFolder : public cNavigationProvider {
public:
    cFileChooseListFolder();
    ~cFileChooseListFolder() override;

    bool canAcceptPath(const char* path) override;
    // A path typed into the bar is taken from the folder shown.
    void resolveTypedPath(_guardchar<char>& path) override;
    int navigationProc(const char* path) override;

    // ---- the UI thread's side ---------------------------------------------
    // Takes over the listing of the last finished navigation; false when
    // none is waiting (the shown listing stays).
    bool publish();
    // The listing shown; valid until the next publish or listPlaces.
    cFolderContents& contents() { return *mShown; }
    // The folder shown, null while the places (or nothing) are shown.
    const char* listedFolder() const { return mShownPath.get(); }
    // Whether the folder shown could be read.
    bool listedReadable() const { return mShownOk; }
    void listPlaces();
    // How the folder shown stands now against the moment it was read: the
    // same, changed since (an entry came, went or was renamed), or no longer
    // a folder.  The places always count as the same.
    enum eShownState { ssSame, ssChanged, ssGone };
    eShownState shownState() const;

private:
    // What tells that a listing is out of date: which folder object it was
    // and the times of its last change.
    struct sFolderStamp {
        bool valid = false;
        unsigned long long device = 0, inode = 0;
        long long modified = 0, modifiedNs = 0, changed = 0, changedNs = 0;
        bool operator==(const sFolderStamp& o) const;
    };
    static sFolderStamp stampOf(const char* path);

    std::unique_ptr<cFolderContents> mShown;
    _guardchar<char> mShownPath;
    bool mShownOk = true;
    sFolderStamp mShownStamp;
    // Written by the run, taken by publish, under the lock.
    cCriticalSection mLock;
    std::unique_ptr<cFolderContents> mFinished;
    _guardchar<char> mFinishedPath;
    bool mFinishedOk = true;
    sFolderStamp mFinishedStamp;
};

// For tests: called on the navigation job once a listing has been read and
// before it is handed over (null: nothing); returns the hook set before.
typedef void (*tFileChooseListHook)(cFileChooseListFolder* lister, const char* path);
tFileChooseListHook __setFileChooseListHook(tFileChooseListHook hook);

// The caller's element between the list and the name row.
class cFileChooseExtra : public cChildElement {
public:
    // False keeps the dialog open.
    virtual bool acceptCheck() { return true; }
    virtual int wantedWidth() { return 0; }
    virtual int wantedHeight() { return 0; }
};

// Sort keys of the Date, Type and Size columns (null cell: 0).
unsigned long long filechooseDateU64Transform(sListViewDataItem* item);
unsigned long long filechooseTypeU64Transform(sListViewDataItem* item);
unsigned long long filechooseSizeU64Transform(sListViewDataItem* item);

class cFileChooseDialog : public cCustomForm {
public:
    struct sFilterInfo {
        _guardchar<char> name;
        _guardchar<char> mask;
        _guardchar<char> ext;
    };
    struct sFileChooseInfo {
        _guardchar<char> path;
        _guardchar<char> folder;
        long long filterIndex = 0;
        bool namedCustomFilter = false;
        bool multiselect = false;
        _classbuf<sFilterInfo> filters;
        bool showHidden = false;
        std::vector<_guardchar<char> > files;
        cFileChooseExtra* extra = nullptr;
    };
    enum eMode { fmOpen = 0, fmSave = 1 };
    enum eListImage { liDisk = 0, liFolder = 1, liFile = 2, liOther = 3, liDiskOff = 4 };

    static cPicturesList myTopPicts, myBottomPicts, myListPicts;

    cFileChooseDialog(int mode, sFileChooseInfo* info);
    ~cFileChooseDialog() override;

    // Run the dialog modally over the owner's window; true when a file was
    // chosen (a failed modal run is no choice).
    static bool open(cChildElement* owner, const char* title, sFileChooseInfo& info);
    static bool save(cChildElement* owner, const char* title, sFileChooseInfo& info);

    void ls(const char* path, bool);
    // Refills the list from the shown listing.
    void ls_data(bool sort);
    void mkdir();

    // Parts, for owners and tests.
    cNavigationChild* navigationBar() { return &mNav; }
    cListViewChild* list() { return &mList; }
    cEditChild* nameEdit() { return &mName; }
    cComboBoxChild* filterBox() { return &mFilter; }
    cToolBarChild* topBar() { return &mTop; }
    cToolBarChild* bottomBar() { return &mBottom; }
    cFileChooseListFolder* lister() { return &mLister; }
    const char* mask() const { return mMask.get(); }

    void onConstruct() override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    const char* wantLangResource() override { return "ciom::filechoose"; }
    void onInitData() override;
    bool onFormCancel() override;
    bool onFormAccept() override;
    // The window came back to the front: the folder shown is checked anew.
    void processOSFocus() override;

private:
    bool folderListed() const { return mLister.listedFolder() != nullptr; }
    sFolderItemInfo* entry(int row);
    bool entryPath(int row, _guardchar<char>& out);
    void goTo(const char* path);
    void goHome();
    void showPlaces();
    void contextMenu(int x, int y);
    void activate(int row);
    void filterChosen();
    void setTypedFilter(const char* pattern);
    bool chooseSelectedFiles();
    // Puts the chosen path in place and ends the dialog, unless an extension
    // check, an overwrite question or the extra element keeps it open.
    bool endSODialog(const char* path);
    void stopListing();
    // Puts a file name in the name field as it shows, and remembers the
    // bytes it stands for while the field still holds that text.
    void showName(const char* bytes);
    // Tells the user that what was asked for is not there.
    void notFound(int text);
    // Reads the folder shown again when it changed since it was read, or
    // goes to its nearest parent that still exists when it is gone, and
    // says so; entryGone (an entry just opened was not there) reads it
    // again in any case and says that.  Nothing while a navigation runs:
    // it brings a fresh listing itself.
    void recheckFolder(bool entryGone);
    // Whether a row's entry e, at path, still stands for what it shows: a
    // file that is a file, a folder that is a folder.
    bool entryStillThere(const sFolderItemInfo& e, const char* path);
    // A message box over the dialog with one of its texts.
    void tell(int text, bool error);

    cToolBarChild mTop;
    cNavigationChild mNav;
    cListViewChild mList;
    cEditChild mName;
    cComboBoxChild mFilter;
    cToolBarChild mBottom;
    cStaticElement mLabel;
    cFileChooseListFolder mLister;
    _guardchar<char> mMask;
    // The name last put in the field: the text it showed as, and its bytes.
    std::string mShownName, mNameBytes;
    unsigned char mMode;
    sFileChooseInfo* mInfo;
};
