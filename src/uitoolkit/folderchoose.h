// cFolderChooseDialog: the modal folder chooser.  The file system shows as a
// folder tree read one level at a time, when a folder is selected; a path
// field under the tree shows the selected folder and takes a typed one; "New
// folder" makes a folder under the selected one.  The caller's string holds
// the start path and receives the chosen folder.
#pragma once

#include "base/folders.h"
#include "base/lists.h"
#include "uitoolkit/editfield.h"
#include "uitoolkit/form.h"
#include "uitoolkit/toolbar.h"
#include "uitoolkit/treeview.h"

#include <string>

class cFolderChooseDialog : public cCustomForm {
public:
    // One node of the folder tree, shown by a tree view item whose
    // association points back here.
    class cTreeFoldersContentItem : public cTreeItem {
    public:
        enum { imDisk = 0, imFolder = 1, imComputer = 2 };
        cFolderContents contents;
        cTreeViewChild::cTreeViewItem* item = nullptr;  // owned by the tree view
        int image = imFolder;
        _guardchar<char> path;  // empty for the root
        bool listed = false;
    };

    static cPicturesList myTopPicts, myBottomPicts, myTreePicts;

    explicit cFolderChooseDialog(_guardchar<char>* target);
    ~cFolderChooseDialog() override;

    // Runs the chooser (350 by 450) over the owner's window; true when a
    // folder was chosen (a failed modal run is no choice).
    static bool choose(cChildElement* owner, const char* title, _guardchar<char>& path);

    // Opens the tree down to an existing folder and selects it; a relative
    // path is taken from the selected folder, and a path typed as a folder
    // name shows is taken for that folder (see chooserResolvePath).  False
    // when there is no such folder.
    bool navigate(const char* path);
    // (Re)reads the children of a node; false when it cannot be listed.
    bool lsUnder(cTreeFoldersContentItem* node);
    // The first component of str into out ("/" for the empty first part of
    // an absolute path); returns the rest after the slashes that follow it,
    // null when str had no '/' (or is null, which leaves out alone).
    static const char* nextTag(const char* str, _guardchar<char>& out);
    void initBasicView();
    void mkdir();

    cTreeViewChild* tree() { return &mTree; }
    cEditChild* pathEdit() { return &mPathEdit; }
    cToolBarChild* topBar() { return &mTop; }
    cToolBarChild* bottomBar() { return &mBottom; }
    cTreeFoldersContentItem* rootNode() { return static_cast<cTreeFoldersContentItem*>(mNodes.root); }
    cTreeViewChild::cTreeViewItem* currentItem() const { return mCurrent; }
    static cTreeFoldersContentItem* nodeOf(cTreeViewChild::cTreeViewItem* item) {
        return item ? static_cast<cTreeFoldersContentItem*>(item->association) : nullptr;
    }

    void onConstruct() override;
    bool onAction(cChildElement* src, cChildAction* a) override;
    const char* wantLangResource() override { return "ciom::folderchoose"; }
    void onInitData() override;
    bool onFormCancel() override;
    bool onFormAccept() override;

private:
    cTreeFoldersContentItem* addNode(cTreeFoldersContentItem* parent, const char* text, const char* path, int image);
    // What a selection does: the target and the field take the node's path.
    void selected(cTreeFoldersContentItem* node);
    bool samePath(const char* a, const char* b) const;
    // The path field shows a path as its names show; the text it was given
    // stands for the path's bytes while the field still holds it.
    void showPath(const char* bytes);

    cToolBarChild mTop;
    cTreeViewChild mTree;
    cTree mNodes;
    cToolBarChild mBottom;
    cEditChild mPathEdit;
    _guardchar<char>* mTarget;
    std::string mShownPath;
    cTreeViewChild::cTreeViewItem* mCurrent = nullptr;
};
