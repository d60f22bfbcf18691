// The per-user configuration store: one hive file per top-level section in a
// folder (".qor" in the home folder for the configuration name "qor").
//
// Hive file, all integers little-endian:
//   "QORC", then the root node;
//   node  = u16 value length, the value bytes, children, end byte 0x00;
//   child = tag 0x01, u8 name field length (1..255), the name's UTF-8 bytes
//           NUL-padded to a multiple of 4 (cut to 255), the child's node.
// Children are written in cStringKey order (bytes, shorter first).  A new
// hive is the seven bytes "QORC" 00 00 00.
//
// Saving never writes over a hive: the new bytes go to a file made new in
// the folder of the hive (cReplacementFile), which is flushed to disk and
// renamed over the hive, and then the folder is flushed.  A crash at any
// moment leaves the old or the new hive whole.  A save keeps the hive's
// mode and access control list (a new hive gets what a new file gets in
// its folder), and a hive that is a symbolic link has the file it leads to
// replaced, the link kept.  Links are followed, to read as to write, only
// as the system's protection of shared folders would follow them whatever
// the machine's setting (see resolveLinks): a link another user planted in
// a folder anyone may write, and a file of another user there, are
// refused, and the hive says why (hfRefused, hiveFaultText).  Running
// copies serialise their loads and saves through a record lock on bytes
// 0..3 of a lock file in the folder, which no save ever replaces.
//
// A save never loses what another program saved meanwhile.  Each hive
// keeps the bytes of its file as it last read or wrote it (its base), and a
// save that finds, under the folder lock, another file than that one reads
// the file and merges three ways: what this program changed since the base
// (values set, nodes made, nodes removed: the tree in memory against the
// base, so that a value set to what the base holds is no change) is made
// over what the file holds now, and everything else is the file's.  A removal takes only the nodes and values this program saw: a
// node another program made since, or a value it set since, stays (with
// the nodes above it).  Where both changed one value, this program's wins.
// The tree in memory is then brought to the result (nodes both have keep
// their addresses, so handles stay valid unless the other program removed
// their node) and written.  So the changes cost nothing besides the tree
// itself.  When the file found cannot be read, the save is refused and
// hiveFault() tells why.
//
// The store renames, deletes or rewrites no file it did not write.  A file
// of the folder that is not a hive (no magic), a hive it cannot read
// (damaged, from a newer writer, bytes after its end, too long, unreadable,
// whose status cannot be taken, that is no regular file) stays as it is,
// byte for byte and by name; its hive is empty, hiveFault() tells why, and
// a save over it is refused until the file reads whole again.  Nothing is
// ever opened at a hive's name before its status shows a regular file: a
// FIFO there would block an open, and a device may act on one.  Leftover
// temporary files are removed only when they are provably the store's own:
// named as its saves name them, regular files of this user with one link,
// holding nothing or the start of a hive as a save writes it, whose
// writing process is gone and whose lock is free, found under the folder
// lock.
//
// An existing folder given as the configuration name is taken as the
// store's folder only when it is the caller's own (owned by this user, not
// writable by group or others, and not reached through another user's
// link) and the store's already: it holds the lock file, or hives and
// nothing but the store's own files, or nothing at all.  Any other folder
// (a project's sources, a folder another user made, one holding only
// names like the store's temporary files) is not the store's, and the name
// then means "$HOME/.<name>" as it does when there is no such folder.
//
// Record locks held by processes of another user are waited for a bounded
// time only (kForeignLockWaitMs): after it the store opens without the
// folder lock, reading as it would in a folder it may not write, and
// refuses every save (storeFault() tells why); a hive whose own lock such
// a process holds is not read (hiveFault()).  Locks of this user's
// processes are waited for as long as they are held.
//
// A loaded hive takes at most 8 times its file's size: the bytes as read
// (its base, which the next save copies from) and a node of 32 bytes for each
// name, with a name and a value of up to 6 bytes together in the node and
// lists of children from one arena per hive, so that the largest hive a
// load takes (kMaxHiveFileBytes, 120 MiB) fits in 1 GiB.
//
// A section is a file of the folder: its name is 1 to 255 bytes without '/',
// not "." or "..", and not one of the store's own names.  A child is made
// only under a name a path can reach: 1 to 255 bytes without '/', not "." or
// "..".  Children of other names that a hive file holds are still read,
// kept and written back.
//
// Handles are the addresses of the nodes (the root handle is the hive map's
// address).  A value set or a child made through any handle, also one found
// without creating, marks its hive for saving.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/strkey.h"
#include "base/sync.h"
#include "base/treelist.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

struct stat;

class cCIAppConfig : public cApplicationConfig {
public:
    struct sDataContainer;
    // The store's own (ciappconfig.cpp): where a tree's nodes and lists of
    // children come from (its root owns one for the whole tree), and the
    // reader and writer of hive files.
    class cNodeArena;
    class cHiveReader;
    class cHiveWriter;

    // What a node keeps besides its links, in 16 bytes: where its bytes lie
    // in its hive's image (at, bytes, touched: see sDataContainer), the
    // length of its name, and its name and value: a u16 value length, the
    // name's bytes and the value's, in `holder` when they fit (6 bytes), else
    // on the heap with `holder` pointing at them.  A node sees these through
    // three names (its image, its value and its name) that share them: each
    // is one of the structs below, which declare the same members and
    // nothing else.  The store's files are shorter than 2^27 bytes
    // (kMaxHiveFileBytes).
    struct sNodeBits {
        std::uint64_t at : 27;
        std::uint64_t bytes : 27;
        std::uint64_t touched : 1;
        std::uint64_t nameSize : 8;
        std::uint64_t onHeap : 1;
        unsigned char holder[8];

        unsigned char* base() const;
        std::size_t valueSize() const;
        // The name and the value made anew from these bytes (either may lie
        // in the old ones; a null value source leaves the value unset).
        void rebuild(const unsigned char* name, std::size_t nameBytes, const unsigned char* value,
                     std::size_t valueBytes);
        void release();
    };

    // A node's value, at most 65535 bytes.  (The operations of a
    // _typebuf<unsigned char>.)
    class cHiveValue : private sNodeBits {
    public:
        long long count() const { return static_cast<long long>(valueSize()); }
        bool empty() const { return valueSize() == 0; }
        const unsigned char* data() const { return valueSize() ? base() + 2 + nameSize : nullptr; }
        unsigned char* data() { return valueSize() ? base() + 2 + nameSize : nullptr; }
        // n bytes, unset (0 or less: empty); false, leaving it as it was,
        // for more than 65535.
        bool set(long long n);
        // A copy of n bytes at src (which may lie in this value).
        bool copyFrom(const unsigned char* src, long long n);
        // Takes over another value's bytes, leaving it empty.
        void take(cHiveValue& other);
    };

    // A child's name, 1 to 255 bytes.
    class cHiveName : private sNodeBits {
    public:
        std::size_t size() const { return nameSize; }
        const unsigned char* data() const { return base() + 2; }
        // Names longer than 255 bytes are cut there (no such name is ever
        // made: see validNodeName and the reader).
        void assign(const unsigned char* src, std::size_t n);
    };

    // A node's children in ascending name order (byte by byte, a shorter
    // name before a longer one that starts with it), the order cStringKey
    // gives.  A name longer than 255 bytes stands for its first 255.  A single child is held in place; more in an array of node
    // pointers from the tree's arena.  Nodes never move while they are in
    // the tree: a handle stays valid until its node is removed.
    class cHiveChildren {
    public:
        cHiveChildren() = default;
        ~cHiveChildren() { destroy(); }
        cHiveChildren(const cHiveChildren&) = delete;
        cHiveChildren& operator=(const cHiveChildren&) = delete;

        std::size_t count() const;
        bool empty() const { return mBits == 0; }
        // The i-th child in name order (i below count()).
        sDataContainer* at(std::size_t i) const;
        // The child of that name, or null.
        sDataContainer* find(const unsigned char* name, std::size_t n) const;
        sDataContainer* find(const cStringKey& key) const;
        // Where a child of that name is or would go; found tells which.
        std::size_t lowerBound(const unsigned char* name, std::size_t n, bool& found) const;
        // The child of that name, made (with an empty value and no
        // children) when there is none.  std::bad_alloc when the heap is
        // full; nothing changes then.
        sDataContainer* insert(const unsigned char* name, std::size_t n);
        sDataContainer* insert(const cStringKey& key);
        // Removes and frees the child of that name with its subtree.
        bool remove(const unsigned char* name, std::size_t n);
        bool remove(const cStringKey& key);
        // Frees every child with its subtree.
        void destroy();

    private:
        friend class cCIAppConfig;
        friend class cNodeArena;
        friend class cHiveReader;
        friend class cHiveWriter;
        struct sArray;
        sDataContainer* owner() const;
        sArray* array() const;
        // The bits: 0 no child, a node's address one child, an sArray's
        // address with bit 0 set more.
        std::uintptr_t mBits = 0;
    };

    struct sDataContainer {
        sDataContainer();
        ~sDataContainer();
        sDataContainer(const sDataContainer&) = delete;
        sDataContainer& operator=(const sDataContainer&) = delete;

        cHiveChildren children;
        // Where this node's bytes lie in its hive's image (the bytes last
        // read or written), so that a save copies a subtree nothing has
        // touched instead of walking it again: `at` counts from the start of
        // the parent's node (for a root, from the start of the file), and
        // `bytes` is 0 while the node has no place there.  An image a save
        // copies from is laid out strictly, so the name field before a node
        // is the one its name needs.  The store marks `touched` every node
        // it hands out for writing together with every node above it; a
        // change it cannot follow so drops the images.
        struct sImageSpan : sNodeBits {};
        // The three views of the node's bits (sNodeBits).
        union {
            mutable sImageSpan image;
            cHiveValue value;
            // The node's name in its parent's list; empty for a root.
            cHiveName name;
        };

        // The node this one is a child of; null for a root.
        sDataContainer* parent() const { return (up & 1) ? nullptr : reinterpret_cast<sDataContainer*>(up); }

        // The store's own: the parent node, or for a root the address of
        // its tree's arena with bit 0 set (0: a root that has none yet).
        std::uintptr_t up = 0;
    };

    // Why the last load of a hive's file (or the last save, which reads a
    // file another program wrote) took nothing from it.  The file is kept as
    // it is, and never saved over while it reads so.
    enum eHiveFault {
        hfNone = 0,
        hfUnreadable = 1,     // it could not be opened or read
        hfTooLarge = 2,       // longer than kMaxHiveFileBytes
        hfDamaged = 3,        // it does not parse: cut short or broken
        hfNewerFormat = 4,    // it holds a tag this version does not know
        hfNotAHive = 5,       // it does not begin with the magic: not a hive
        hfTrailingBytes = 6,  // bytes follow the end of its root node
        hfNoStatus = 7,       // its status cannot be taken (permission denied, a link loop, ...)
        hfNotAFile = 8,       // it is a FIFO, a socket, a device or a folder: no regular file
        hfLockHeld = 9,       // another user's process holds its lock (or the folder's)
        hfRefused = 10,       // a link or a file another user planted in a folder anyone may write
    };

    struct sPropFileData {
        bool modified = false;
        // Modification time (seconds) of the file when the hive was loaded.
        unsigned int fileTime = 0;
        _guardchar<char> name;
        sDataContainer root;
        // The identity of the file last loaded or saved (device, inode,
        // size, nanosecond time): a clean hive is read again when the file
        // on disk is another one, even within the same second.
        dev_t fileDev = 0;
        ino_t fileIno = 0;
        long long fileSize = -1;
        long long fileNanos = 0;
        // The last load failed and the file is still there: never saved over
        // while it reads so.
        bool loadFailed = false;
        eHiveFault fault = hfNone;
        // The system's reason (errno) behind hfUnreadable and hfNoStatus,
        // and the sentence behind hfRefused (naming the link or file and
        // its owner).
        int faultError = 0;
        std::string faultReason;
        // The hive's base: its file's bytes as last read or written (the
        // first imageSize of `image`; none for a hive made new, or one whose
        // file could not be read), which the spans of its nodes point into
        // while imageValid, and the buffer of the image before, kept for
        // the next save to fill.
        _typebuf<unsigned char> image;
        std::size_t imageSize = 0;
        bool imageValid = false;
        _typebuf<unsigned char> spare;
    };

    cCIAppConfig();
    ~cCIAppConfig() override;
    cCIAppConfig(const cCIAppConfig&) = delete;
    cCIAppConfig& operator=(const cCIAppConfig&) = delete;

    void* rootContextHandle() override;
    void* subContextHandle(char const* name, void* parent, bool create) override;
    bool getParamValueSize(void* handle, long long& size) override;
    bool getParamValue(void* buf, long long size, void* handle) override;
    // Refuses (false, value unchanged) more than 65535 bytes.
    bool setParamValue(void const* data, long long size, void* handle) override;
    using cApplicationConfig::getParamValue;
    using cApplicationConfig::setParamValue;
    bool isTextConfig() override { return false; }
    bool newConfig(const char* name) override;
    bool openConfig(const char* name) override;
    bool saveConfig() override;
    bool discardChanges() override;
    // Refuse values that cannot be stored before walking the path, so that a
    // refused value creates nothing.
    bool setParam(char const* path, void const* data, long long size) override;
    bool setParamStr(char const* path, const char* text, long long length) override;
    bool removeSection(char const* path) override;
    // Refuses to create a node deeper than a hive file may nest, so that
    // every tree in memory can be saved and read back, and a path with any
    // name a section or a child cannot be made under; either way before
    // anything is made.
    void* getPathContextHandle(char const* path, bool create) override;
    bool hasSection(char const* path) override;
    // The callback may change the store in any way (remove the node being
    // listed, discard changes, open the store again): when it freed nodes,
    // the node is found again by its path, and the listing goes on after
    // the last name there, or ends (true) when the path is gone.
    bool enumSubsections(char const* path, bool (*callback)(char const* name, void* arg), void* arg) override;

    // Finds or creates the root folder for `name` (an existing folder, else
    // "$HOME/.<name>").
    bool getInitConfigPath(const char* name);
    const char* rootPath() const { return mPath.c_str(); }

    // Why the last load of the hive took nothing from its file, or its
    // last save was refused (hfNone for a hive that is not loaded), and
    // that in words; hiveFaultText adds the system's reason, or the
    // sentence that names what another user planted, where there is one.
    eHiveFault hiveFault(const char* name);
    static const char* describeHiveFault(eHiveFault fault);
    std::string hiveFaultText(const char* name);
    // Why the store as a whole saves nothing: hfLockHeld while another
    // user's process held the folder's lock past the bounded wait at the
    // last opening or save; hfNone otherwise.
    eHiveFault storeFault() const { return mStoreFault; }
    // How long a lock held by another user's process is waited for.
    static constexpr int kForeignLockWaitMs = 2000;
    // Test hook: that wait in milliseconds (kForeignLockWaitMs unless set).
    static int gForeignLockWaitMs;
    // Whether a hive of this name exists in memory (loaded or created).
    bool hiveLoaded(const char* name);

    // Names in the folder that belong to the store and never to a section:
    // the lock file, temporary files of a save (".<hive>.<pid>.<n>.tmp", and
    // ".hive-<pid>-<n>.tmp" of earlier versions), damaged files earlier
    // versions set aside ("*.bad").
    static bool isStoreFileName(const char* name);
    // Whether an existing folder may serve as a store's: it holds the lock
    // file, or hives (regular files, through links, that begin with the
    // magic) and nothing but the store's own names besides, or nothing.  (A
    // folder of the store's own names alone is not a store.)  Who owns the
    // folder is getInitConfigPath's test.
    static bool isStoreFolder(const char* path);
    static const char* lockFileName() { return ".hives.lock"; }

    // The hive format itself, for the store and for tools: parse a whole
    // file's bytes into `node` (emptied first; false on any damage, the node
    // then empty), and write `node` as a whole file (false when a name or a
    // value cannot be stored, the tree is too deep or the file would be
    // longer than kMaxHiveFileBytes).
    static bool parseHive(const unsigned char* data, std::size_t size, sDataContainer& node);
    static bool serializeHive(const sDataContainer& node, _typebuf<unsigned char>& out);

    // Test hook: called at every step of writing a file (after the
    // temporary file is made, after each piece written, after the flush,
    // after the rename), with the step number from 0.  While it is set,
    // files are written in 64 KiB pieces instead of one write.
    static void (*gSaveStepHook)(int step);

private:
    bool isRoot(void* handle) const { return handle == static_cast<const void*>(&mHives); }
    bool hivePath(const char* name, _guardchar<char>& out) const;
    sPropFileData* newEntry(const char* name);
    // Loads the file into the hive (the store's lock held, the lock file
    // locked); sets the flags and the file identity.
    bool loadHive(sPropFileData& hive);
    // The same with the store's lock and the lock file already held.
    bool loadHiveLocked(sPropFileData& hive);
    bool saveHive(sPropFileData& hive);
    // `refusal` (when given) gets the replacement file's reason when it
    // refused the hive's name (a link or file another user planted).
    bool mkNewHive(const char* name, std::string* refusal = nullptr);
    // Writes bytes as the whole file `path` through a temporary file; when
    // `written` is given, it gets the new file's status (st_mode 0 when it
    // could not be read), and `refusal` the replacement file's reason when
    // it refused the target.
    bool writeWholeFile(const char* path, const unsigned char* data, std::size_t size, struct stat* written = nullptr,
                        std::string* refusal = nullptr);
    // Whether the file at the hive's path is another than the one last
    // read or written: true also when its status cannot be taken or it is
    // no regular file (a save then reads it and meets the fault).
    bool fileChanged(const sPropFileData& hive, const char* path) const;
    // The save's half of another program's changes: reads the file as it is
    // now and merges three ways (the hive's base, the tree in memory, the
    // file), bringing the tree to the result (the folder lock held).  False,
    // with the hive's fault set, when the file cannot be read.
    bool mergeWithFile(sPropFileData& hive, const char* path);
    // A node is about to change: it and every node above it up to the
    // first one already touched are marked touched, and the hive reached at
    // the top is marked modified.  A touched node lies in a modified hive
    // below touched nodes only, so the walk stops at the first one.
    void noteWrite(sDataContainer* node);
    // A hive that cannot be seen (its status cannot be taken, or another
    // user planted its name): an entry, made when there is none, with the
    // fault and its reason, never saved over until it reads whole.
    void noteUnseen(const char* name, eHiveFault fault, int error, const std::string& reason);
    // A node of no hive changed: no span can be trusted.
    void dropImages();
    void removeStaleTemporaries();

    // The lock file's record lock, held by this scope.
    class cFolderLock;

    _guardchar<char> mPath;
    long long mPathLength = 0;
    cCriticalSection mLock;
    cFasterTreeList<cStringKey, sPropFileData> mHives{2048};
    eHiveFault mStoreFault = hfNone;
    // Counts the operations that may have freed nodes (removals, loads,
    // opening), so that an enumeration knows when its node must be found
    // again.
    unsigned long long mFrees = 0;
};

// The configuration object of the application: forwards to one embedded
// store.
class cCIAppFullConfig : public cApplicationConfig {
public:
    cCIAppFullConfig();
    ~cCIAppFullConfig() override;

    void* rootContextHandle() override { return nullptr; }
    void* subContextHandle(char const*, void*, bool) override { return nullptr; }
    bool getParamValueSize(void*, long long&) override { return false; }
    bool isTextConfig() override { return false; }
    bool newConfig(const char* name) override { return mStore->newConfig(name); }
    bool openConfig(const char* name) override { return mStore->openConfig(name); }
    bool saveConfig() override { return mStore->saveConfig(); }
    bool discardChanges() override { return mStore->discardChanges(); }
    bool getParam(char const* path, _typebuf<unsigned char>& value) override { return mStore->getParam(path, value); }
    bool getParamInt(char const* path, unsigned long long& value) override { return mStore->getParamInt(path, value); }
    bool getParamStr(char const* path, _guardchar<char>& value) override { return mStore->getParamStr(path, value); }
    bool setParam(char const* path, void const* data, long long size) override {
        return mStore->setParam(path, data, size);
    }
    bool setParamInt16(char const* path, int value) override { return mStore->setParamInt16(path, value); }
    bool setParamInt32(char const* path, int value) override { return mStore->setParamInt32(path, value); }
    bool setParamInt64(char const* path, long long value) override { return mStore->setParamInt64(path, value); }
    bool setParamStr(char const* path, const char* text, long long length) override {
        return mStore->setParamStr(path, text, length);
    }
    bool removeSection(char const* path) override { return mStore->removeSection(path); }
    bool hasSection(char const* path) override { return mStore->getPathContextHandle(path, false) != nullptr; }
    bool enumSubsections(char const* path, bool (*callback)(char const* name, void* arg), void* arg) override {
        return mStore->enumSubsections(path, callback, arg);
    }

    bool setParamG(char const* path, void const* data, long long size) { return mStore->setParam(path, data, size); }
    bool removeSectionG(char const* path) { return mStore->removeSection(path); }
    bool saveConfigG() { return mStore->saveConfig(); }

    cCIAppConfig* global() { return mStore; }

private:
    cCIAppConfig* mStore;
};
