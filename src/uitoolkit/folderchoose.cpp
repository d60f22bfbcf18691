#include "uitoolkit/folderchoose.h"

#include "uitoolkit/filechoose.h"
#include "uitoolkit/messageform.h"
#include "uitoolkit/popupmenu.h"
#include "uitoolkit/themevalues.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

cPicturesList cFolderChooseDialog::myTopPicts;
cPicturesList cFolderChooseDialog::myBottomPicts;
cPicturesList cFolderChooseDialog::myTreePicts;

namespace {

enum {
    kTextComputer = 0, kTextFileExists = 1, kTextFolderExists = 2, kTextCannotCreate = 3, kTextSpecialExists = 4,
    kTextNewFolder = 5, kTextSelect = 6, kTextCancel = 7, kTextNoFolder = 8
};

// The entry kinds that become folder nodes, and their image.
int folderImage(int kind) {
    if (kind == fsoFolder || kind == fsoSpecialPlace) return cFolderChooseDialog::cTreeFoldersContentItem::imFolder;
    if (kind == fsoVolume || kind == fsoVolumeOff) return cFolderChooseDialog::cTreeFoldersContentItem::imDisk;
    return -1;
}

bool isUnder(cTreeItem* item, cTreeItem* top) {
    for (cTreeItem* i = item ? item->parent : nullptr; i; i = i->parent)
        if (i == top) return true;
    return false;
}

}  // namespace

cFolderChooseDialog::cFolderChooseDialog(_guardchar<char>* target) : mTarget(target) {}

cFolderChooseDialog::~cFolderChooseDialog() {
    // The tree view's items point at the nodes: let them go first.
    mCurrent = nullptr;
    mTree.clear();
    mNodes.destroy();
}

bool cFolderChooseDialog::choose(cChildElement* owner, const char* title, _guardchar<char>& path) {
    if (!owner) return false;
    auto* dialog = new cFolderChooseDialog(&path);
    return owner->modal(title, 350, 450, dialog, true) > 0;
}

void cFolderChooseDialog::onInitData() {
    cCustomForm::onInitData();
    cThemeValues* t = currentThemeValues();
    if (!myTopPicts.image(0)) myTopPicts.refImage(0, t->picture(84));
    if (!myBottomPicts.image(0)) {
        myBottomPicts.refImage(0, t->picture(80));
        myBottomPicts.refImage(1, t->picture(78));
        myBottomPicts.refImage(2, t->picture(81));
    }
    if (!myTreePicts.image(0)) {
        myTreePicts.refImage(0, t->picture(43));
        myTreePicts.refImage(1, t->picture(48));
        myTreePicts.refImage(2, t->picture(42));
    }
}

void cFolderChooseDialog::onConstruct() {
    cCustomForm::onConstruct();
    onInitData();
    setMinSize(300, 350);
    cPanelChild* client = clientArea();

    anchor(&mTop, themeDimension(4), themeDimension(3), -2 * themeDimension(4) - 1, themeDimension(5));
    mTop.setTransparent(true);
    mTop.setImageList(0, &myTopPicts);
    mTop.setButtonAcceptFocus(false);
    mTop.setButton(1, string(kTextNewFolder), 0);

    client->anchor(&mTree, 0, 0, -1, -29);
    mTree.setImageLists(&myTreePicts, nullptr, nullptr);
    client->anchor(&mPathEdit, 0, -26, -1, 18);
    mPathEdit.setMaxLen(32768);

    initBasicView();

    placeButtonBar(mBottom, &myBottomPicts, {{1, string(kTextSelect), 0}, {2, string(kTextCancel), 1}});

    _guardchar<char> start;
    if (mTarget && mTarget->get()) {
        const char* text = mTarget->get();
        const int kind = cFolderContents::objtype(text);
        if (kind == fsoFolder) {
            start.set(text);
        } else if (kind == fsoFile) {
            const std::string up = chooserParentOf(text);
            if (!up.empty() && cFolderContents::objtype(up.c_str()) == fsoFolder) start.set(up.c_str());
        }
    }
    if (mTarget) mTarget->clear();
    if (start.get()) navigate(start.get());
    else mTop.setEnabled(1, false);
    mPathEdit.focus();
}

cFolderChooseDialog::cTreeFoldersContentItem* cFolderChooseDialog::addNode(cTreeFoldersContentItem* parent,
                                                                           const char* text, const char* path,
                                                                           int image) {
    auto* node = new cTreeFoldersContentItem();
    node->image = image;
    node->path.set(path ? path : "");
    mNodes.add(parent, node, nullptr);
    auto* item = new cTreeViewChild::cTreeViewItem();
    item->text.set(chooserShownName(text).c_str());
    item->imageIndex = image;
    item->association = node;
    node->item = item;
    mTree.storeUnder(parent ? parent->item : nullptr, item, nullptr);
    return node;
}

void cFolderChooseDialog::initBasicView() {
    mCurrent = nullptr;
    mTree.clear();
    mNodes.destroy();
    cTreeFoldersContentItem* root = addNode(nullptr, string(kTextComputer), "", cTreeFoldersContentItem::imComputer);
    root->contents.enumSpecialLocations();
    root->listed = true;
    for (int i = 0; i < root->contents.count(); ++i) {
        sFolderItemInfo* e = root->contents.info(i);
        const int image = e ? folderImage(e->type) : -1;
        if (image < 0) continue;
        addNode(root, chooserEntryText(*e), e->name.get(), image);
    }
}

bool cFolderChooseDialog::lsUnder(cTreeFoldersContentItem* node) {
    if (!node || !node->item) return false;
    // The children go away with their tree view items: a current item among
    // them would be left dangling, so the node itself becomes current first.
    if (mCurrent && isUnder(mCurrent, node->item)) {
        mCurrent = node->item;
        mTree.select(node->item, false);
    }
    mTree.startChanges();
    mTree.remove_under(node->item);
    mNodes.destroy_sub(node);
    node->listed = node->contents.init(node->path.get(), true);
    if (node->listed) {
        // Folders come sorted by name, byte by byte, whatever order the disk
        // keeps them in.
        std::vector<int> shown;
        for (int i = 0; i < node->contents.count(); ++i) {
            sFolderItemInfo* e = node->contents.info(i);
            if (e && !e->hidden && e->name.get() && folderImage(e->type) >= 0) shown.push_back(i);
        }
        std::sort(shown.begin(), shown.end(), [&](int a, int b) {
            return std::strcmp(node->contents.info(a)->name.get(), node->contents.info(b)->name.get()) < 0;
        });
        for (int i : shown) {
            sFolderItemInfo* e = node->contents.info(i);
            _guardchar<char> full;
            if (!node->contents.path(i, full)) continue;
            addNode(node, chooserEntryText(*e), full.get(), folderImage(e->type));
        }
    }
    mTree.endChanges();
    // Selected without the tree view's own notification: the caller applies
    // the selection, and a folder that cannot be read is not read again and
    // again by the handler of that notification.
    mTree.select(node->item, false);
    if (node->listed) mCurrent = node->item;
    return node->listed;
}

void cFolderChooseDialog::showPath(const char* bytes) {
    mPathEdit.setText(chooserShownName(bytes).c_str(), -1);
    const char* shown = mPathEdit.text();
    mShownPath = shown ? shown : "";
}

void cFolderChooseDialog::selected(cTreeFoldersContentItem* node) {
    if (!node) return;
    if (mTarget) mTarget->set(node->path.get());
    showPath(node->path.get());
    mTop.setEnabled(1, node->path.get() && *node->path.get());
    mCurrent = node->item;
}

const char* cFolderChooseDialog::nextTag(const char* str, _guardchar<char>& out) {
    if (!str) return nullptr;
    const char* slash = std::strchr(str, '/');
    if (!slash) {
        out.set(str);
        return nullptr;
    }
    if (slash == str) out.set("/");
    else out.set(str, slash - str);
    while (*slash == '/') ++slash;
    return slash;
}

bool cFolderChooseDialog::samePath(const char* a, const char* b) const {
    if (!a || !b) return false;
    return cFolderContents::pathCaseSensetive(a) ? std::strcmp(a, b) == 0 : strcasecmp(a, b) == 0;
}

bool cFolderChooseDialog::navigate(const char* path) {
    if (!path || !*path) return false;
    // A typed relative path belongs to the folder shown, never to the
    // process's working folder.
    std::string full;
    if (!chooserResolvePath(mTarget ? mTarget->get() : nullptr, path, full)) return false;
    if (cFolderContents::objtype(full.c_str()) != fsoFolder) return false;
    cTreeFoldersContentItem* node = rootNode();
    if (!node) return false;
    cTreeFoldersContentItem* made = nullptr;
    std::string prefix;
    _guardchar<char> part;
    const char* rest = full.c_str();
    while (rest) {
        rest = nextTag(rest, part);
        const char* c = part.get();
        if (!c || !*c) continue;
        if (prefix.empty()) prefix = c;
        else {
            if (prefix.back() != '/') prefix += '/';
            prefix += c;
        }
        cTreeFoldersContentItem* found = nullptr;
        for (cTreeItem* k = node->first; k; k = k->next) {
            auto* child = static_cast<cTreeFoldersContentItem*>(k);
            if (samePath(child->path.get(), prefix.c_str())) {
                found = child;
                break;
            }
        }
        if (!found) {
            // A folder the listing does not show (a hidden one, or one under
            // a place): one node per navigation stands for the rest.
            if (!made) {
                made = addNode(node, prefix.c_str(), prefix.c_str(), cTreeFoldersContentItem::imFolder);
            } else {
                made->path.set(prefix.c_str());
                made->item->text.set(chooserShownName(prefix.c_str()).c_str());
            }
            found = made;
        }
        lsUnder(found);
        node = found;
    }
    if (mTarget) mTarget->set(prefix.c_str());
    showPath(prefix.c_str());
    mTree.select(node->item, false);
    selected(node);
    return true;
}

void cFolderChooseDialog::mkdir() {
    if (!mTarget || !mTarget->get() || !*mTarget->get() || !mCurrent) return;
    std::string at;
    int message = -1;
    switch (chooserNewFolder(this, mTarget->get(), at)) {
        case nfCancelled: return;
        case nfMade: lsUnder(nodeOf(mCurrent)); return;
        case nfCannotCreate: message = kTextCannotCreate; break;
        case nfFileThere: message = kTextFileExists; break;
        case nfFolderThere: message = kTextFolderExists; break;
        case nfOtherThere: message = kTextSpecialExists; break;
    }
    _guardchar<char> text(string(message));
    if (!text.get()) return;
    if (message == kTextFolderExists) cMessageForm::warningbox(this, text.get(), nullptr);
    else cMessageForm::errorbox(this, text.get(), nullptr);
}

bool cFolderChooseDialog::onAction(cChildElement* src, cChildAction* a) {
    if (!a) return false;
    if (src == &mTop && a->code() == 6) {
        if (static_cast<cToolBarChild::cTbButtonAction*>(a)->id == 1) mkdir();
        return true;
    }
    if (src == &mBottom && a->code() == 6) {
        const int id = static_cast<cToolBarChild::cTbButtonAction*>(a)->id;
        if (id == 1) return onFormAccept();
        if (id == 2) return onFormCancel();
        return true;
    }
    if (src == &mTree) {
        auto* t = dynamic_cast<cTreeViewChild::cTreeItemAction*>(a);
        cTreeFoldersContentItem* node = t ? nodeOf(t->item) : nullptr;
        if (a->code() == 7) {
            if (node) {
                if (!node->listed) lsUnder(node);
                selected(node);
            }
            return true;
        }
        if (a->code() == 8 && node && node->path.get() && *node->path.get()) {
            auto* c = static_cast<cTreeViewChild::cTreeItemCtxAction*>(a);
            sPoint at{0, 0};
            mTree.absPos(at);
            tActiveElementItems entries;
            entries.insert(1)->text = string(kTextNewFolder);
            if (chooserMenu(this, entries, at.x + c->x, at.y + c->y) == 1) {
                selected(node);
                mkdir();
            }
        }
    }
    return cCustomForm::onAction(src, a);
}

bool cFolderChooseDialog::onFormAccept() {
    const char* typed = mPathEdit.text();
    if (!typed || !*typed) {
        mPathEdit.focus();
        return true;
    }
    // The field as the last selection or navigation left it stands for the
    // target's bytes, whatever its text could hold.
    if (mTarget && mTarget->get() && *mTarget->get() && mShownPath == typed) {
        end_modal(1);
        return true;
    }
    const std::string copy(typed);  // navigating rewrites the field
    if (!navigate(copy.c_str())) {
        _guardchar<char> message(string(kTextNoFolder));
        if (message.get()) cMessageForm::errorbox(this, message.get(), nullptr);
        mPathEdit.focus();
    }
    return true;
}

bool cFolderChooseDialog::onFormCancel() {
    end_modal(0);
    return true;
}
