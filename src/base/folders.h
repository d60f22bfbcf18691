// Folders: listing one folder (or the places a folder chooser starts from),
// and static questions and changes about single paths: object type,
// permissions, wildcard masks, folder creation and removal, times, and the
// home, temporary and configuration folders.
//
// Paths are UTF-8.  Every status read follows symbolic links, so a link
// reports its target's type and a dangling link counts as missing.  Nothing
// here throws (but for the allocator's std::bad_alloc) and nothing copies or
// moves files.
#pragma once

#include "base/buffers.h"
#include "base/timeutil.h"

#include <cstdint>
#include <string>
#include <vector>

// Object types, as objtype and sFolderItemInfo::type give them.
enum eFsObjType : int {
    fsoNone = 0,         // the status of the path cannot be read
    fsoFile = 1,         // regular file
    fsoFolder = 2,
    fsoLink = 3,         // never produced: links are followed
    fsoBlockDevice = 4,
    fsoCharDevice = 5,
    fsoSocket = 6,
    fsoOther = 7,        // a named pipe, for instance
    fsoSpecialPlace = 9  // only from enumSpecialLocations
};

// One listed entry.
struct sFolderItemInfo {
    _guardchar<char> name;         // the name inside the folder; a special place's path
    _guardchar<char> displayName;  // empty in folder listings; a special place's text
    unsigned long long size = 0;   // bytes; 0 for special places
    int type = fsoNone;
    unsigned char hidden = 0;      // 1 when the name begins with '.'
    sTimestamp modified;           // local time; year 0 for special places
    // What the name leads to, through its links (0 for special places): so
    // that a walk can tell files and folders apart without a status of its own.
    std::uint64_t device = 0, inode = 0;
    // The rest of that status (0 for special places), for a walk that must
    // notice a file changed since it was listed: its permission bits
    // (07777) and when its bytes and its status last changed.
    unsigned int mode = 0;
    long long modifiedSec = 0, modifiedNsec = 0, changedSec = 0, changedNsec = 0;
    // For a file of a listing asked whether its files may be read: 0 when
    // this process may read it, else the system's reason; -1 not asked.
    int readError = -1;
};

// An entry that a listing left out, and why.  Either its status could not
// be read through its links (error is the errno: ENOENT for a dangling link
// or a name that vanished, ELOOP for links that lead round in a circle; mode
// is then the type of the name itself, S_IFLNK for a link, or 0), or it is
// of a kind the listing was asked to leave out (error 0, mode its type bits:
// a named pipe, a socket, a device).
struct sFolderLeftOut {
    std::string name;
    int error = 0;
    unsigned int mode = 0;
};

// The attributes of one path.
struct sFsObjExtInfo {
    unsigned int mode = 0;  // the file mode word: type bits and permission bits
    sTimestamp changed;     // local time of the last status change
    sTimestamp accessed;    // local time of the last access
    sTimestamp modified;    // local time of the last modification
    unsigned long long size = 0;
};

class cFolderContents {
public:
    cFolderContents() = default;
    cFolderContents(const cFolderContents&) = delete;
    cFolderContents& operator=(const cFolderContents&) = delete;

    // ---- Static operations on paths -------------------------------------

    // The object type of path; fsoNone when its status cannot be read.
    static int objtype(const char* path);
    // Permission bits := owner * 64 + group * 8 + other.  Each must be 0 to 7:
    // a larger digit would spill into the set-id and sticky bits, so it is
    // refused (false) and nothing changes.
    static bool setPermissions(const char* path, unsigned char owner, unsigned char group, unsigned char other);
    // 8 when path does not exist; else the sum of 4 (may read), 2 (may
    // write) and 1 (may execute) as the access check grants them.
    static int getEffectivePermissions(const char* path);
    static bool canRead(const char* path);
    // False for a missing path; true for the superuser without asking further.
    static bool canWrite(const char* path);
    static bool canExecute(const char* path);
    // Paths compare case-sensitively here: always true.
    static bool pathCaseSensetive(const char* path);

    // Whole name against whole mask, byte by byte and case-sensitively:
    // '*' any run of bytes (none included), '?' exactly one byte, every other
    // byte itself; no classes, no escapes.  A null name never matches, a null
    // or empty mask matches every name.  Time O(len(name) x len(mask)).
    static bool wcmatch(const char* name, const char* mask);
    // Masks separated by ';', tried left to right and not trimmed.  A null
    // or empty list, and an empty piece, match every name; a ';' at the very
    // end adds no piece.  Otherwise a null name never matches.
    static bool wcmmatch(const char* name, const char* masks);

    // Creates one folder (mode 0775 less the creation mask), not its missing
    // parents; true also when path already is a folder.
    static bool mkdir(const char* path);
    // Removes an empty folder; true also when nothing by that name exists.
    static bool removeDir(const char* path);
    // False, info untouched, when the status of path cannot be read.
    static bool getExtInfo(const char* path, sFsObjExtInfo& info);
    // Sets access and modification time to the local Unix time `local`
    // (turned into UTC, cut to 32 bits).  0xFFFFFFFF means "not given": false
    // when `local` is not given.  The other two are accepted and not used.
    static bool setTime(const char* path, unsigned int local, unsigned int unused1, unsigned int unused2);
    // Sets access and modification time to a local date and time, month 1 to
    // 12, daylight saving as the zone has it then.  A field out of its range
    // (month 13, hour 24, ...) is refused rather than rolled into the next.
    static bool setTime(const char* path, int year, int month, int day, int hour, int minute, int second);
    // Paths need no normalising here: leaves path as it is.
    static void adjustPath(char* path);

    // out := $HOME.  False, out untouched, when HOME is unset or empty.
    static bool getHome(_guardchar<char>& out);
    // out := "/tmp"; always true.
    static bool getTempFolder(_guardchar<char>& out);
    // Creates "$HOME/.<name>" (its parent must exist) and gives its path.
    // False without HOME or name, and for a name that is not one folder's
    // (empty, ".", "..", or holding '/'), out untouched then; when the
    // folder cannot be created the result is false and out holds the home
    // folder's path.
    static bool getConfigFolder(_guardchar<char>& out, const char* name);
    // "/etc/qorcfg/<name>", created with its parent "/etc/qorcfg" when
    // missing; false, out untouched, on any failure and for a name that is
    // not one folder's (as getConfigFolder).
    static bool getSysConfigFolder(_guardchar<char>& out, const char* name);
    // There is no shortcuts folder here: always false, out untouched.
    static bool getShortcutsFolder(_guardchar<char>& out, const char* name, bool common);

    // Makes a file name out of arbitrary text in dest (at most size - 1
    // bytes and a terminator); returns its length.  Leading blanks and
    // control bytes and trailing blanks are dropped; " * / : | ? become
    // ' @ = _ _ ~ and control bytes spaces.  A UTF-8 character that does not
    // fit whole is left out, never cut.  A result of "." or ".." (which name
    // the folder itself and its parent) is refused like an empty one: dest
    // "" and 0.  A null source, a null dest or a size below 1 give 0 (dest,
    // when there is room, "").
    static long long safeName(const char* source, char* dest, long long size);
    // Total and free (for unprivileged users) bytes of the file system that
    // holds path; false, both untouched, when its status cannot be read or a
    // product does not fit 64 bits.
    static bool getVolInfo(const char* path, unsigned long long& total, unsigned long long& available);
    // True when the folder holds nothing but "." and ".." (entries whose
    // status cannot be read are not counted); false when it cannot be opened.
    static bool isDirEmpty(const char* path);

    // ---- Listing ---------------------------------------------------------

    // Lists a folder in the order the system delivers its entries; with
    // onlyFilesAndFolders set, devices, sockets and pipes are left out.  The
    // listing is emptied first; false when path is not a readable folder
    // (the folder field then keeps its former value).
    bool init(const char* path, bool onlyFilesAndFolders);
    // The same, and every entry that is not listed (but "." and "..") is
    // added to leftOut (when not null) in the order it was read.  With
    // askReading, each file's readError says whether it may be read (asked
    // of the name inside the folder, not of its whole path again).
    bool init(const char* path, bool onlyFilesAndFolders, std::vector<sFolderLeftOut>* leftOut,
              bool askReading = false);
    // Puts the entries in the byte order of their names.  The system's
    // order depends on the file system and on the order in which the
    // entries were made; this one does not.
    void sortByName();
    // Lists the places a chooser starts from: "Home folder" (when HOME is
    // set), "File system" ("/"), and each volume mounted under "/Volumes"
    // on a file system of its own.  A missing "/Volumes" adds nothing.
    // Always true.
    bool enumSpecialLocations();
    // The same with the volumes looked for under another folder instead of
    // "/Volumes" (a folder of mount points, or a test's own).
    bool enumSpecialLocations(const char* volumesRoot);
    // Removes every entry; the folder field stays.  True.
    bool destroy();

    // The listed folder's path; null when there is none.
    const char* folder() const;
    // Highest index + 1; 0 for an empty listing.
    int count() const;
    // Entry i, or null.  Valid until the next listing or destroy.
    sFolderItemInfo* info(int i);
    // The full path of entry i: its name after enumSpecialLocations, else
    // folder + '/' + name (no second '/' after a folder ending in '/' or
    // '\').  False, out untouched, when there is no entry i.
    bool path(int i, _guardchar<char>& out) const;
    bool getExtInfo(int i, sFsObjExtInfo& info) const;

private:
    _guardchar<char> folder_;
    // Keyed by running index 0, 1, 2 ... in reading order.
    std::vector<sFolderItemInfo> entries_;
};
