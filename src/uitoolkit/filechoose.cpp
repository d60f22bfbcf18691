#include "uitoolkit/filechoose.h"

#include "base/textenc.h"
#include "uitoolkit/messageform.h"
#include "uitoolkit/popupmenu.h"
#include "uitoolkit/themevalues.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/stat.h>

cPicturesList cNewFolderNameReqForm::myImages;
cPicturesList cFileChooseDialog::myTopPicts;
cPicturesList cFileChooseDialog::myBottomPicts;
cPicturesList cFileChooseDialog::myListPicts;

namespace {

enum {
    kTextBanner = 0, kTextAccept = 1, kTextCancel = 2, kTextAskName = 3, kTextHome = 4, kTextPlaces = 5,
    kTextNewFolder = 6, kTextName = 7, kTextDate = 8, kTextType = 9, kTextSize = 10, kTextFileName = 11,
    kTextAllFiles = 12, kTextSave = 13, kTextOpen = 14, kTextSaveHere = 15, kTextFileFolder = 16, kTextFile = 17,
    kTextFileSystem = 18, kTextFileExists = 19, kTextGoToFolder = 20, kTextCannotCreate = 21,
    kTextSpecialExists = 22, kTextFilter = 23, kTextCustom = 24, kTextUnreadable = 25, kTextReplace = 26,
    kTextNoFile = 27, kTextNoFolder = 28, kTextFolderGone = 29, kTextEntryGone = 30
};

// Posted by the dialog to itself when its window comes to the front, so
// that the check (and the message box it may show) runs outside the focus
// change.
class cRecheckAction : public cChildElement::cChildAction {
public:
    cRecheckAction() : cChildAction(20) {}
};

// A path of the longest length the system takes.
constexpr long long kNameFieldUnits = 4096;

bool isGoable(int kind) {
    return kind == fsoFolder || kind == fsoVolume || kind == fsoSpecialPlace || kind == fsoVolumeOff;
}

std::atomic<tFileChooseListHook> gListHook{nullptr};

}  // namespace

// ---------------------------------------------------------------------------
// Shared with the folder chooser

const char* chooserEntryText(const sFolderItemInfo& e) {
    return e.displayName.get() && *e.displayName.get() ? e.displayName.get() : e.name.get();
}

std::string chooserParentOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string chooserJoinPath(const char* folder, const char* name) {
    std::string out(folder ? folder : "");
    if (out.empty() || out.back() != '/') out += '/';
    return out + (name ? name : "");
}

std::string chooserShownName(const char* bytes) {
    if (!bytes || !*bytes) return std::string();
    _guardchar<unsigned short> wide;
    _pc2w(bytes, -1, wide);
    std::vector<unsigned short> units;
    for (const unsigned short* u = wide.get(); u && *u; ++u) {
        const unsigned short c = *u;
        if (c < 0x20) {
            units.push_back(static_cast<unsigned short>(0x2400 + c));
        } else if (c == 0x7F) {
            units.push_back(0x2421);
        } else if (c >= 0x80 && c <= 0x9F) {
            units.push_back(0xFFFD);
        } else if (c >= 0xD800 && c <= 0xDBFF && u[1] >= 0xDC00 && u[1] <= 0xDFFF) {
            units.push_back(c);
            units.push_back(*++u);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            units.push_back(0xFFFD);
        } else {
            units.push_back(c);
        }
    }
    _guardchar<char> out;
    _w2pc(units.data(), static_cast<long long>(units.size()), out);
    return out.get() ? std::string(out.get()) : std::string();
}

namespace {

std::string joinParts(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += "/" + p;
    return out.empty() ? std::string("/") : out;
}

// The one entry of folder that shows as part does, or "" (none, or several).
std::string entryShownAs(const std::string& folder, const std::string& part) {
    cFolderContents listing;
    if (!listing.init(folder.c_str(), false)) return std::string();
    const std::string want = chooserShownName(part.c_str());
    std::string found;
    int matches = 0;
    for (int i = 0; i < listing.count(); ++i) {
        sFolderItemInfo* e = listing.info(i);
        if (!e || !e->name.get() || chooserShownName(e->name.get()) != want) continue;
        if (++matches > 1) return std::string();
        found = e->name.get();
    }
    return found;
}

}  // namespace

bool chooserResolvePath(const char* base, const char* typed, std::string& out) {
    if (!typed) return false;
    std::vector<std::string> parts;
    auto split = [&parts](const char* text, bool matchShown) {
        const char* p = text;
        while (*p) {
            while (*p == '/') ++p;
            const char* end = std::strchr(p, '/');
            if (!end) end = p + std::strlen(p);
            const std::string part(p, static_cast<std::size_t>(end - p));
            p = end;
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                if (!parts.empty()) parts.pop_back();
                continue;
            }
            if (matchShown) {
                const std::string folder = joinParts(parts);
                if (cFolderContents::objtype(chooserJoinPath(folder.c_str(), part.c_str()).c_str()) == fsoNone) {
                    const std::string bytes = entryShownAs(folder, part);
                    parts.push_back(bytes.empty() ? part : bytes);
                    continue;
                }
            }
            parts.push_back(part);
        }
    };
    if (typed[0] != '/') {
        if (!base || base[0] != '/') return false;
        split(base, false);
    }
    split(typed, true);
    out = joinParts(parts);
    return true;
}

eChooserNewFolder chooserNewFolder(cChildElement* owner, const char* folder, std::string& at) {
    _guardchar<char> name;
    if (!cNewFolderNameReqForm::reqNewFolderName(owner, name, nullptr)) return nfCancelled;
    at = chooserJoinPath(folder, name.get());
    switch (cFolderContents::objtype(at.c_str())) {
        case fsoNone: return cFolderContents::mkdir(at.c_str()) ? nfMade : nfCannotCreate;
        case fsoFile: return nfFileThere;
        case fsoFolder: return nfFolderThere;
        default: return nfOtherThere;
    }
}

int chooserMenu(cChildElement* owner, tActiveElementItems& entries, int x, int y) {
    return cPopupMaster::simplePopup(owner, entries, x, y, 100, nullptr, -1, 0xFFFFFF, 0, cPopupMaster::kUnset,
                                     nullptr);
}

// ---------------------------------------------------------------------------
// Sort keys

unsigned long long filechooseTypeU64Transform(sListViewDataItem* item) {
    return item ? static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(item->association)) : 0;
}

unsigned long long filechooseSizeU64Transform(sListViewDataItem* item) {
    if (!item || !item->association) return 0;
    return *static_cast<const unsigned long long*>(item->association);
}

unsigned long long filechooseDateU64Transform(sListViewDataItem* item) {
    if (!item || !item->association) return 0;
    const sTimestamp& t = *static_cast<const sTimestamp*>(item->association);
    return static_cast<unsigned long long>(t.year) << 48 | static_cast<unsigned long long>(t.month) << 40 |
           static_cast<unsigned long long>(t.day) << 32 | static_cast<unsigned long long>(t.hour) << 24 |
           static_cast<unsigned long long>(t.minute) << 16 | static_cast<unsigned long long>(t.second) << 8;
}

// ---------------------------------------------------------------------------
// The new-folder form

cNewFolderNameReqForm::cNewFolderNameReqForm() = default;
cNewFolderNameReqForm::~cNewFolderNameReqForm() = default;

bool cNewFolderNameReqForm::reqNewFolderName(cChildElement* owner, _guardchar<char>& name, cNewFolderNameReqForm* form) {
    if (!owner) return false;
    if (!form) form = new cNewFolderNameReqForm();
    form->mTarget = &name;
    _guardchar<char> title(form->string(owner, kTextAskName));
    return owner->modal(title.get() ? title.get() : "", 250, 100, form, false) > 0;
}

void cNewFolderNameReqForm::onInitData() {
    cCustomForm::onInitData();
    if (!myImages.image(0)) {
        myImages.refImage(0, currentThemeValues()->picture(77));
        myImages.refImage(1, currentThemeValues()->picture(78));
    }
}

void cNewFolderNameReqForm::onConstruct() {
    cCustomForm::onConstruct();
    onInitData();
    clientArea()->anchor(&mEdit, 5, 0, -11, 20);
    mEdit.setBanner(string(kTextBanner));
    if (mTarget && mTarget->get() && *mTarget->get()) mEdit.setText(mTarget->get(), -1);
    placeButtonBar(mBar, &myImages, {{1, string(kTextAccept), 0}, {2, string(kTextCancel), 1}});
    mEdit.focus();
}

bool cNewFolderNameReqForm::onAction(cChildElement* src, cChildAction* a) {
    if (src == &mBar && a && a->code() == 6) {
        const int id = static_cast<cToolBarChild::cTbButtonAction*>(a)->id;
        if (id == 2) return onFormCancel();
        if (id == 1) return onFormAccept();
        return true;
    }
    return cCustomForm::onAction(src, a);
}

bool cNewFolderNameReqForm::onFormAccept() {
    const char* t = mEdit.text();
    if (!t || !*t) {
        mEdit.focus();
        return true;
    }
    if (mTarget) mTarget->set(t);
    end_modal(1);
    return true;
}

bool cNewFolderNameReqForm::onFormCancel() {
    end_modal(0);
    return true;
}

// ---------------------------------------------------------------------------
// The folder lister

cFileChooseListFolder::cFileChooseListFolder() : mShown(new cFolderContents()) {}

cFileChooseListFolder::~cFileChooseListFolder() { terminate(4000); }

bool cFileChooseListFolder::canAcceptPath(const char* path) {
    if (!path || !*path) return true;
    if (std::strlen(path) == 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') return true;
    // A relative path left here has nothing it could be taken from but the
    // process's working folder, which the user never sees.
    return path[0] == '/' && cFolderContents::objtype(path) == fsoFolder;
}

void cFileChooseListFolder::resolveTypedPath(_guardchar<char>& path) {
    std::string full;
    if (path.get() && *path.get() && chooserResolvePath(mShownPath.get(), path.get(), full)) path.set(full.c_str());
}

tFileChooseListHook __setFileChooseListHook(tFileChooseListHook hook) { return gListHook.exchange(hook); }

bool cFileChooseListFolder::sFolderStamp::operator==(const sFolderStamp& o) const {
    return valid == o.valid && device == o.device && inode == o.inode && modified == o.modified &&
           modifiedNs == o.modifiedNs && changed == o.changed && changedNs == o.changedNs;
}

cFileChooseListFolder::sFolderStamp cFileChooseListFolder::stampOf(const char* path) {
    sFolderStamp s;
    struct stat st;
    if (!path || ::stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return s;
    s.valid = true;
    s.device = static_cast<unsigned long long>(st.st_dev);
    s.inode = static_cast<unsigned long long>(st.st_ino);
    s.modified = static_cast<long long>(st.st_mtim.tv_sec);
    s.modifiedNs = static_cast<long long>(st.st_mtim.tv_nsec);
    s.changed = static_cast<long long>(st.st_ctim.tv_sec);
    s.changedNs = static_cast<long long>(st.st_ctim.tv_nsec);
    return s;
}

int cFileChooseListFolder::navigationProc(const char* path) {
    std::unique_ptr<cFolderContents> fresh(new cFolderContents());
    const bool places = !path || !*path;
    // Taken before the read: a change made while it runs shows as a change.
    const sFolderStamp stamp = places ? sFolderStamp() : stampOf(path);
    const bool ok = places ? fresh->enumSpecialLocations() : fresh->init(path, true);
    if (tFileChooseListHook hook = gListHook.load()) hook(this, path);
    cSafeCriticalSectionAccess lock(&mLock);
    mFinished = std::move(fresh);
    mFinishedPath.set(places ? nullptr : path);
    mFinishedOk = ok;
    mFinishedStamp = stamp;
    return ok ? 0 : 1;
}

bool cFileChooseListFolder::publish() {
    cSafeCriticalSectionAccess lock(&mLock);
    if (!mFinished) return false;
    mShown = std::move(mFinished);
    mShownPath.set(mFinishedPath.get());
    mShownOk = mFinishedOk;
    mShownStamp = mFinishedStamp;
    return true;
}

void cFileChooseListFolder::listPlaces() {
    mShown->enumSpecialLocations();
    mShownPath.clear();
    mShownOk = true;
    mShownStamp = sFolderStamp();
}

cFileChooseListFolder::eShownState cFileChooseListFolder::shownState() const {
    const char* folder = mShownPath.get();
    if (!folder) return ssSame;
    const sFolderStamp now = stampOf(folder);
    if (!now.valid) return ssGone;
    return now == mShownStamp ? ssSame : ssChanged;
}

// ---------------------------------------------------------------------------
// The dialog

cFileChooseDialog::cFileChooseDialog(int mode, sFileChooseInfo* info)
    : mMode(mode == fmSave ? fmSave : fmOpen), mInfo(info) {}

cFileChooseDialog::~cFileChooseDialog() {
    stopListing();
    if (mInfo && mInfo->extra && mInfo->extra->parent()) mInfo->extra->parent()->dettach(mInfo->extra);
}

void cFileChooseDialog::stopListing() {
    // The run writes the lister's data and posts to the path bar: it ends
    // before either may go.
    mLister.forget(&mNav);
    mLister.terminate(4000);
}

bool cFileChooseDialog::open(cChildElement* owner, const char* title, sFileChooseInfo& info) {
    if (!owner) return false;
    int w = 500, h = 350;
    if (info.extra) {
        w = std::max(500, info.extra->wantedWidth());
        h = info.extra->wantedHeight() + 350;
    }
    return owner->modal(title, w, h, new cFileChooseDialog(fmOpen, &info), true) > 0;
}

bool cFileChooseDialog::save(cChildElement* owner, const char* title, sFileChooseInfo& info) {
    if (!owner) return false;
    int w = 500, h = 350;
    if (info.extra) {
        w = std::max(500, info.extra->wantedWidth());
        h = info.extra->wantedHeight() + 350;
    }
    return owner->modal(title, w, h, new cFileChooseDialog(fmSave, &info), true) > 0;
}

void cFileChooseDialog::onInitData() {
    cCustomForm::onInitData();
    cThemeValues* t = currentThemeValues();
    if (!myTopPicts.image(0)) {
        myTopPicts.refImage(0, t->picture(82));
        myTopPicts.refImage(1, t->picture(83));
        myTopPicts.refImage(2, t->picture(84));
    }
    if (!myBottomPicts.image(0)) {
        myBottomPicts.refImage(0, t->picture(80));
        myBottomPicts.refImage(1, t->picture(78));
        myBottomPicts.refImage(2, t->picture(81));
    }
    if (!myListPicts.image(0)) {
        myListPicts.refImage(liDisk, t->picture(43));
        myListPicts.refImage(liFolder, t->picture(48));
        myListPicts.refImage(liFile, t->picture(60));
        myListPicts.refImage(liOther, t->picture(63));
        myListPicts.refImage(liDiskOff, t->picture(44));
    }
}

void cFileChooseDialog::onConstruct() {
    cCustomForm::onConstruct();
    onInitData();
    cFileChooseExtra* extra = mInfo ? mInfo->extra : nullptr;
    const int H = extra ? extra->wantedHeight() : 0;
    setMinSize(350, H + 300);
    cPanelChild* client = clientArea();

    anchor(&mTop, themeDimension(4), themeDimension(3), -2 * themeDimension(4) - 1, themeDimension(5));
    mTop.setTransparent(true);
    mTop.setImageList(0, &myTopPicts);
    mTop.setButtonAcceptFocus(false);
    mTop.setButton(1, string(kTextHome), 0);
    mTop.setButton(2, string(kTextPlaces), 1);
    if (mMode == fmSave) mTop.setButton(3, string(kTextNewFolder), 2);

    client->anchor(&mNav, 0, 0, -1, 22);
    mNav.setNavigationProvider(&mLister);
    mNav.setPassiveColor(currentThemeValues()->color(27), true);

    client->anchor(&mList, 0, 24, -1, -(79 + H) - 1);
    mList.setColumn(1, string(kTextName), 190, cCanvas::taLeft);
    mList.setColumn(2, string(kTextDate), 120, cCanvas::taLeft);
    mList.setColumn(3, string(kTextType), 70, cCanvas::taLeft);
    mList.setColumn(4, string(kTextSize), 80, cCanvas::taRight);
    mList.setImageLists(&myListPicts, nullptr, nullptr);
    mList.setMultiselect(mInfo && mInfo->multiselect && mMode == fmOpen);
    mList.setSortType(1, new cListViewChild::cListViewNameSortProvider(3072));
    cListViewChild::cListViewU64PramSortProvider::tTransform transforms[3] = {filechooseDateU64Transform, filechooseTypeU64Transform,
                                                        filechooseSizeU64Transform};
    for (int col = 2; col <= 4; ++col) {
        auto* p = new cListViewChild::cListViewU64PramSortProvider();
        p->setTransformProc(transforms[col - 2]);
        mList.setSortType(col, p);
    }

    const int rowY = -(49 + H) - 1;
    client->anchor(&mLabel, 0, rowY, 80, 22);
    mLabel.setText(string(kTextFileName), -1, false);
    const unsigned int c0 = currentThemeValues()->color(0);
    mLabel.setColorSchema(mLabel.textColor(), c0, c0);
    client->anchor(&mName, 80, rowY, -280, 22);
    // Room for a whole path typed or proposed, not only a name.
    mName.setMaxLen(kNameFieldUnits);
    if (mInfo && mInfo->path.get()) showName(mInfo->path.get());
    client->anchor(&mFilter, -191, rowY, 190, 22);
    if (extra) client->anchor(extra, 0, -(17 + H) - 1, -1, H);

    mFilter.allowEdit(false);
    bool any = false;
    const long long n = mInfo ? mInfo->filters.count() : 0;
    for (long long i = 0; i < n && i < INT_MAX; ++i) {
        const sFilterInfo& f = mInfo->filters[i];
        if (!f.name.get() || !f.mask.get()) continue;
        mFilter.setItem(static_cast<int>(i), f.name.get(), reinterpret_cast<void*>(static_cast<std::intptr_t>(i)), -1);
        if (!any) {
            mMask.set(f.mask.get());
            mFilter.select(static_cast<int>(i), false);
            any = true;
        }
    }
    if (any) {
        const long long want = mInfo->filterIndex;
        if (want >= 0 && want < n && want <= INT_MAX && mFilter.text(static_cast<int>(want))) {
            mFilter.select(static_cast<int>(want), true);
        } else {
            mInfo->filterIndex = 0;
            mFilter.select(0, true);
        }
    } else {
        mFilter.setItem(0, string(kTextAllFiles), reinterpret_cast<void*>(static_cast<std::intptr_t>(-1)), -1);
        mMask.set("*");
        mFilter.select(0, false);
    }

    const bool saving = mMode == fmSave;
    placeButtonBar(mBottom, &myBottomPicts,
                   {{1, string(saving ? kTextSave : kTextOpen), saving ? 2 : 0}, {2, string(kTextCancel), 1}});

    if (!mInfo) return;
    mInfo->files.clear();
    const char* folder = mInfo->folder.get();
    const char* path = mInfo->path.get();
    if (folder && cFolderContents::objtype(folder) == fsoFolder) {
        goTo(folder);
    } else if (path && std::strchr(path, '/') &&
               cFolderContents::objtype(chooserParentOf(path).c_str()) == fsoFolder) {
        const std::string up = chooserParentOf(path);
        showName(std::strrchr(path, '/') + 1);
        goTo(up.c_str());
    } else {
        goHome();
    }
}

void cFileChooseDialog::ls(const char* path, bool) { goTo(path); }

void cFileChooseDialog::goTo(const char* path) { mNav.navigate(path); }

void cFileChooseDialog::goHome() {
    _guardchar<char> home;
    if (cFolderContents::getHome(home)) goTo(home.get());
}

void cFileChooseDialog::showPlaces() {
    mLister.listPlaces();
    ls_data(false);
    mNav.setPath("");
}

sFolderItemInfo* cFileChooseDialog::entry(int row) { return row < 0 ? nullptr : mLister.contents().info(row); }

bool cFileChooseDialog::entryPath(int row, _guardchar<char>& out) {
    return row >= 0 && mLister.contents().path(row, out);
}

void cFileChooseDialog::ls_data(bool sort) {
    mList.clear();
    mList.startChanges();
    cFolderContents& c = mLister.contents();
    const bool showHidden = mInfo && mInfo->showHidden;
    for (int i = 0; i < c.count(); ++i) {
        sFolderItemInfo* e = c.info(i);
        if (!e || (e->hidden && !showHidden)) continue;
        const char* type = "";
        int key = liOther;
        switch (e->type) {
            case fsoFile: type = string(kTextFile); key = liFile; break;
            case fsoFolder:
            case fsoSpecialPlace: type = string(kTextFileFolder); key = liFolder; break;
            case fsoVolume: type = string(kTextFileSystem); key = liDisk; break;
            case fsoVolumeOff: type = string(kTextFileSystem); key = liDiskOff; break;
            default: break;
        }
        if (e->type == fsoFile && !cFolderContents::wcmmatch(e->name.get(), mMask.get())) continue;
        char size[32] = "";
        if (e->type == fsoFile) std::snprintf(size, sizeof size, "%lld KB", static_cast<long long>(e->size >> 10));
        char date[32] = "";
        const sTimestamp& t = e->modified;
        if (t.year)
            std::snprintf(date, sizeof date, "%02d.%02d.%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute,
                          t.second);
        // The row shows the name readably; its bytes stay in the listing
        // entry that the row's association points at.
        mList.setItem(i, 1, chooserShownName(chooserEntryText(*e)).c_str(), key,
                      reinterpret_cast<void*>(static_cast<std::intptr_t>(i)));
        mList.setItem(i, 3, type ? type : "", -1, reinterpret_cast<void*>(static_cast<std::intptr_t>(key)));
        mList.setItem(i, 4, size, -1, &e->size);
        mList.setItem(i, 2, date, -1, &e->modified);
    }
    if (sort) {
        // Grouped by kind, each group by name: both ascending, whatever
        // order a click on a header asked for last.
        mList.setSortDirection(1, true);
        mList.setSortDirection(3, true);
        mList.sort(1);
        mList.sort(3);
    }
    // A folder that could not be read says so instead of looking empty.
    mList.setText(mLister.listedReadable() ? nullptr : string(kTextUnreadable), -1, false);
    mList.endChanges(true);
    mTop.setEnabled(3, folderListed());
    mList.focus();
}

void cFileChooseDialog::filterChosen() {
    const int sel = mFilter.selected();
    if (sel < 0) return;
    const long long index = static_cast<long long>(reinterpret_cast<std::intptr_t>(mFilter.association(sel)));
    if (mInfo && index >= 0 && index < mInfo->filters.count() && mInfo->filters[index].mask.get()) {
        mMask.set(mInfo->filters[index].mask.get());
        mInfo->filterIndex = index;
    } else {
        mMask.set("*");
    }
    if (folderListed()) ls_data(true);
}

void cFileChooseDialog::setTypedFilter(const char* pattern) {
    mMask.set(pattern);
    std::string shown;
    const long long fi = mInfo ? mInfo->filterIndex : -1;
    const bool valid = mInfo && fi >= 0 && fi < mInfo->filters.count() && mInfo->filters[fi].name.get();
    const char* custom = string(kTextCustom);
    const char* filter = string(kTextFilter);
    if (mInfo && mInfo->namedCustomFilter && valid)
        shown = std::string(mInfo->filters[fi].name.get()) + " (" + (filter ? filter : "") + ": " + pattern + ")";
    else
        shown = std::string(custom ? custom : "") + " (" + pattern + ")";
    mFilter.setText(shown.c_str(), -1);
    if (folderListed()) ls_data(true);
}

bool cFileChooseDialog::endSODialog(const char* chosen) {
    if (!mInfo || !chosen) return false;
    std::string path(chosen);
    const long long fi = mInfo->filterIndex;
    if (mMode == fmSave && fi >= 0 && fi < mInfo->filters.count() && mInfo->filters[fi].ext.get() &&
        *mInfo->filters[fi].ext.get()) {
        const char* ext = mInfo->filters[fi].ext.get();
        const std::string::size_type dot = path.rfind('.');
        const std::string::size_type slash = path.rfind('/');
        bool keep = false;
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
            const char* have = path.c_str() + dot + 1;
            keep = cFolderContents::pathCaseSensetive(path.c_str()) ? std::strcmp(have, ext) == 0
                                                                    : strcasecmp(have, ext) == 0;
        }
        if (!keep) path += std::string(".") + ext;
    }
    // Saving over a file replaces it: only when the user says so.
    if (mMode == fmSave && cFolderContents::objtype(path.c_str()) == fsoFile) {
        _guardchar<char> question(string(kTextReplace));
        if (question.get() && !cMessageForm::warnconfirmbox(this, question.get(), nullptr)) return false;
    }
    mInfo->path.set(path.c_str());
    if (mInfo->extra && !mInfo->extra->acceptCheck()) return false;
    stopListing();
    end_modal(1);
    return true;
}

bool cFileChooseDialog::chooseSelectedFiles() {
    bool first = true;
    std::vector<_guardchar<char> > more;
    _guardchar<char> firstPath;
    // In the order the rows are shown.
    cListViewData& data = mList.data();
    for (int row = data.firstBySort(); row >= 0; row = data.nextBySort(row)) {
        if (!(data.flags(row) & sListViewDataItem::fSelected)) continue;
        sFolderItemInfo* e = entry(row);
        _guardchar<char> p;
        if (!e || e->type != fsoFile || !entryPath(row, p)) continue;
        if (!entryStillThere(*e, p.get())) {
            // A chosen file went: nothing is handed back, the list is read
            // again and the user chooses anew.
            recheckFolder(true);
            return true;
        }
        if (first) firstPath.set(p.get());
        else more.push_back(p);
        first = false;
    }
    if (first) return false;
    if (!endSODialog(firstPath.get())) return true;
    for (auto& p : more) mInfo->files.push_back(p);
    return true;
}

bool cFileChooseDialog::entryStillThere(const sFolderItemInfo& e, const char* path) {
    // Places and volumes are not entries of a folder that could go.
    if (!folderListed()) return true;
    const int now = cFolderContents::objtype(path);
    if (e.type == fsoFile || e.type == fsoFolder) return now == e.type;
    return now != fsoNone;
}

void cFileChooseDialog::activate(int row) {
    sFolderItemInfo* e = entry(row);
    if (!e) return;
    _guardchar<char> p;
    if (!entryPath(row, p)) return;
    if (e->type != fsoFile && !isGoable(e->type)) return;
    if (!entryStillThere(*e, p.get())) {
        recheckFolder(true);
        return;
    }
    if (e->type == fsoFile) endSODialog(p.get());
    else goTo(p.get());
}

void cFileChooseDialog::contextMenu(int x, int y) {
    const int row = mList.selected();
    sFolderItemInfo* e = entry(row);
    tActiveElementItems entries;
    int action = 0;  // 1 choose the file, 2 go there, 3 new folder
    if (mMode == fmOpen) {
        if (!e) return;
        entries.insert(1)->text = string(kTextOpen);
        action = e->type == fsoFile ? 1 : 2;
    } else if (!e) {
        entries.insert(1)->text = string(kTextNewFolder);
        action = 3;
    } else if (e->type == fsoFile) {
        entries.insert(1)->text = string(kTextSaveHere);
        action = 1;
    } else if (isGoable(e->type)) {
        entries.insert(1)->text = string(kTextOpen);
        action = 2;
    } else {
        return;
    }
    sPoint at{0, 0};
    mList.absPos(at);
    if (chooserMenu(this, entries, at.x + x, at.y + y) != 1) return;
    if (action == 3) {
        mkdir();
        return;
    }
    _guardchar<char> p;
    if (!entryPath(row, p)) return;
    // Looked up again: the listing may have been replaced while the menu
    // was up.
    e = entry(row);
    if (!e || !entryStillThere(*e, p.get())) {
        recheckFolder(true);
        return;
    }
    if (action == 2) {
        goTo(p.get());
    } else if (mMode == fmOpen && mInfo && mInfo->multiselect) {
        chooseSelectedFiles();
    } else {
        endSODialog(p.get());
    }
}

void cFileChooseDialog::processOSFocus() {
    cCustomForm::processOSFocus();
    postAction(new cRecheckAction());
}

void cFileChooseDialog::recheckFolder(bool entryGone) {
    if (mNav.naviMode() != cNavigationChild::nmNormal || !folderListed()) return;
    const std::string shown(mLister.listedFolder());
    const cFileChooseListFolder::eShownState state = mLister.shownState();
    if (state == cFileChooseListFolder::ssGone) {
        std::string up = shown;
        for (;;) {
            const std::string next = chooserParentOf(up);
            if (next.empty() || next == up) {
                up.clear();
                break;
            }
            up = next;
            if (cFolderContents::objtype(up.c_str()) == fsoFolder) break;
        }
        if (up.empty()) goHome();
        else goTo(up.c_str());
        tell(kTextFolderGone, false);
        return;
    }
    if (state == cFileChooseListFolder::ssChanged || entryGone) goTo(shown.c_str());
    if (entryGone) tell(kTextEntryGone, false);
}

void cFileChooseDialog::tell(int text, bool error) {
    _guardchar<char> message(string(text));
    if (!message.get()) return;
    if (error) cMessageForm::errorbox(this, message.get(), nullptr);
    else cMessageForm::infobox(this, message.get(), nullptr);
}

bool cFileChooseDialog::onAction(cChildElement* src, cChildAction* a) {
    if (!a) return false;
    if (src == this && dynamic_cast<cRecheckAction*>(a)) {
        recheckFolder(false);
        return true;
    }
    if (src == &mNav && a->code() == 6) {
        // The path bar reports a finished navigation: take the listing over.
        mLister.publish();
        ls_data(true);
        mNav.postAction(new cChildAction(9));
        return true;
    }
    if (src == &mFilter && a->code() == 6) {
        filterChosen();
        return true;
    }
    if (src == &mList) {
        switch (a->code()) {
            case 2:
                if (auto* c = dynamic_cast<cCtxRequestAction*>(a)) contextMenu(c->x, c->y);
                return true;
            case 6:
                if (auto* i = dynamic_cast<cListViewChild::cListViewItemAction*>(a)) activate(i->row);
                return true;
            case 7:
                if (auto* i = dynamic_cast<cListViewChild::cListViewItemAction*>(a)) {
                    sFolderItemInfo* e = entry(i->row);
                    if (e && e->type == fsoFile) showName(e->name.get());
                }
                return true;
            case 8:
                // A navigation still running owns the next listing: the
                // refresh waits until it has ended.
                if (mNav.naviMode() == cNavigationChild::nmProgress) return true;
                if (folderListed()) {
                    _guardchar<char> again(mLister.listedFolder());
                    goTo(again.get());
                } else {
                    mLister.listPlaces();
                    ls_data(false);
                }
                return true;
            case 9: return true;
            default: break;
        }
    }
    if (src == &mTop && a->code() == 6) {
        switch (static_cast<cToolBarChild::cTbButtonAction*>(a)->id) {
            case 1: goHome(); break;
            case 2:
                if (mNav.naviMode() != cNavigationChild::nmProgress) showPlaces();
                break;
            case 3: mkdir(); break;
            default: break;
        }
        return true;
    }
    if (src == &mBottom && a->code() == 6) {
        const int id = static_cast<cToolBarChild::cTbButtonAction*>(a)->id;
        if (id == 1) return onFormAccept();
        if (id == 2) return onFormCancel();
        return true;
    }
    return cCustomForm::onAction(src, a);
}

void cFileChooseDialog::showName(const char* bytes) {
    mName.setText(chooserShownName(bytes).c_str(), -1);
    const char* shown = mName.text();
    mShownName = shown ? shown : "";
    mNameBytes = bytes ? bytes : "";
}

void cFileChooseDialog::notFound(int text) {
    tell(text, true);
    mName.focus();
}

bool cFileChooseDialog::onFormAccept() {
    // Enter in the path bar's field is the bar's: it goes to the path typed.
    if (mNav.naviMode() == cNavigationChild::nmEdit) return false;
    if (mNav.naviMode() != cNavigationChild::nmNormal || !mInfo) return true;
    const char* typedText = mName.text();
    if (!typedText || !*typedText) {
        mName.focus();
        return true;
    }
    const std::string typed(typedText);
    // While the field shows the name put there last (a row's, or the one
    // proposed), it stands for that name's bytes, which its text may not
    // hold.  Anything else is taken as typed, from the folder shown; at the
    // places only a full path means something.
    const std::string& name = typed == mShownName ? mNameBytes : typed;
    std::string F;
    const int kind = chooserResolvePath(mLister.listedFolder(), name.c_str(), F) ? cFolderContents::objtype(F.c_str())
                                                                                 : static_cast<int>(fsoNone);
    if (kind == fsoNone && typed != mShownName && typed.find_first_of("*?") != std::string::npos) {
        setTypedFilter(typed.c_str());
        return true;
    }
    if (mMode == fmOpen && mInfo->multiselect && folderListed() && chooseSelectedFiles()) return true;
    if (kind == fsoFile) {
        endSODialog(F.c_str());
    } else if (kind == fsoFolder) {
        mName.setText("", -1);
        goTo(F.c_str());
    } else if (kind != fsoNone) {
        // another kind of object: nothing to open or save
    } else if (mMode == fmSave && !F.empty() && cFolderContents::objtype(chooserParentOf(F).c_str()) == fsoFolder) {
        endSODialog(F.c_str());
    } else {
        notFound(mMode == fmSave ? kTextNoFolder : kTextNoFile);
    }
    return true;
}

bool cFileChooseDialog::onFormCancel() {
    stopListing();
    end_modal(0);
    return true;
}

void cFileChooseDialog::mkdir() {
    if (!folderListed()) return;
    std::string P;
    int message = -1;
    switch (chooserNewFolder(this, mLister.listedFolder(), P)) {
        case nfCancelled: return;
        case nfMade: {
            _guardchar<char> again(mLister.listedFolder());
            goTo(again.get());
            return;
        }
        case nfFolderThere: {
            _guardchar<char> question(string(kTextGoToFolder));
            if (question.get() && cMessageForm::confirmbox(this, question.get(), nullptr)) goTo(P.c_str());
            return;
        }
        case nfCannotCreate: message = kTextCannotCreate; break;
        case nfFileThere: message = kTextFileExists; break;
        case nfOtherThere: message = kTextSpecialExists; break;
    }
    _guardchar<char> text(string(message));
    if (text.get()) cMessageForm::errorbox(this, text.get(), nullptr);
}
