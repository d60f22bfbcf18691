// The byte-stream interface every reader and writer takes, and the file
// stream over POSIX descriptors.
//
// cFileIOTarget  the interface: size, read, write, readf, writef, set_fp,
//                set_fp_end, set_eof, close, set_time, valid, typeOf,
//                readInPlace
// cFileIO        a file (typeOf 1)
// file_*         the flat file functions under cFileIO, on a void* handle
//                that carries the descriptor
// cSafeFD        owns one descriptor
//
// The memory, read-cache, caller-buffer and window streams are in memio.h.
#pragma once

#include "base/buffers.h"

#include <unistd.h>

#include <string>
#include <vector>

// Rules shared by every stream:
// - A stream has one current position; read and write start at it and move
//   it by the count they return.
// - One call moves at most n bytes.  A smaller count is a short transfer (end
//   of the stream, end of a window, a socket that delivered less), not an
//   error; 0 from read means nothing more can be read at this position.
// - A failed transfer returns kIOFailed (-1 as an unsigned count) and leaves
//   the position where it was.  No stream ever reports 0xFFFFFFFF as a real
//   count, so a caller that adds counts to positions must test for kIOFailed
//   first (or use readf/writef).
// - readf/writef are all-or-nothing: true only when the whole n moved.  The
//   bytes that did arrive stay in the buffer and the position stays advanced
//   by them.  readf(buf, 0) is true.
// - set_fp moves to an absolute position, set_fp_end relative to the end,
//   set_eof makes its argument the stream's size.
// - Nothing throws; every failure is in the result.
// - A stream carries no lock (cMemBufferedIO is the one exception).
class cFileIOTarget {
public:
    // The count a failed read or write returns.
    static constexpr unsigned int kIOFailed = 0xFFFFFFFFu;

    // Length of the stream in bytes.
    virtual long long size() = 0;
    // Count of bytes placed in buf, 0 at the end, kIOFailed on failure.
    virtual unsigned int read(void* buf, unsigned int n) = 0;
    // Count of bytes taken from buf; a stream that cannot be written takes none.
    virtual unsigned int write(void* buf, unsigned int n);
    virtual bool readf(void* buf, unsigned int n);
    virtual bool writef(void* buf, unsigned int n);
    virtual bool set_fp(unsigned long long pos) = 0;
    // The current position; -1 for a stream that cannot tell it.  A writer
    // that must come back to patch what it wrote first asks for it.
    virtual long long get_fp() { return -1; }
    virtual bool set_fp_end(unsigned long long n) = 0;
    virtual bool set_eof(unsigned long long length) = 0;
    virtual void close() = 0;
    // Local date and time, month 1 to 12; false for streams without times.
    virtual bool set_time(int year, int month, int day, int hour, int minute, int second);
    virtual bool valid() = 0;
    virtual ~cFileIOTarget();
    // 1 for cFileIO, 2 for cMemIOTarget, 0 for every other stream.
    virtual int typeOf();
    // A read without a copy, for streams over one block of memory: points
    // `out` at up to `most` of the next bytes where they lie and moves the
    // position past them as read() would; the count.  0 when the stream
    // holds no such block (every stream but cBufWrapperIO and a window on
    // one) or is at its end: read() is then the way.  The bytes stay valid
    // as long as the memory under the stream.
    virtual std::size_t readInPlace(const unsigned char*& out, std::size_t most);
    // Reads up to n bytes at pos without moving the position, as pread does:
    // the count as read() gives it, 0 at or beyond the end.  Readers that
    // share a stream (windows on one parent, a cache over its source) read
    // with it, so none moves the position under another, and the memory and
    // file streams serve it without storing a position at all.  This one
    // seeks, reads and seeks back; a position the stream cannot move to gives
    // 0 at or beyond its size and kIOFailed before it.  A stream that cannot
    // tell its position (get_fp -1) is left where set_fp and read leave it.
    virtual unsigned int readAt(unsigned long long pos, void* buf, unsigned int n);

    // True when a count returned by read or write is a real count.
    static bool transferred(unsigned int count) { return count != kIOFailed; }
    // The same, and the count keeps to the `asked` bytes of the request: a
    // caller that moves its buffer pointer or a decoder's input by the count
    // must not trust a stream that claims more than it was given room for.
    static bool transferred(unsigned int count, unsigned int asked) { return count != kIOFailed && count <= asked; }
};

// Hands feed(const unsigned char* bytes, unsigned int count) everything src
// yields from its current position to its end (it is not rewound first),
// read in pieces of 64 KB.  False for a null stream or a failed read; feed
// has then seen the pieces before it.
template <typename Feed>
bool readToEnd(cFileIOTarget* src, Feed&& feed) {
    if (!src) return false;
    constexpr unsigned int kPiece = 64 * 1024;
    _typebuf<unsigned char> buf(kPiece);
    for (;;) {
        const unsigned int got = src->read(buf.data(), kPiece);
        if (!cFileIOTarget::transferred(got, kPiece)) return false;
        if (got == 0) return true;
        feed(static_cast<const unsigned char*>(buf.data()), got);
    }
}

// The mode of cFileIO::open/create: a bit set.  Only the two low bits count:
// 0 or 1 read-only, 2 write-only, 3 read-write; other bits are ignored (the
// installer passes 6 when it moves files, which opens for writing).
enum eFileMode : int {
    fmRead = 1,
    fmWrite = 2,
    fmReadWrite = 3,
};

class cFileIO : public cFileIOTarget {
public:
    cFileIO() = default;
    ~cFileIO() override;
    cFileIO(const cFileIO&) = delete;
    cFileIO& operator=(const cFileIO&) = delete;

    // Opens an existing file; never creates or truncates.  Closes the file
    // held before.  On failure the object stays closed and keeps the path of
    // the file opened before.
    bool open(const char* path, eFileMode mode);
    // Opens with create-if-missing and truncate-to-zero.  A new file gets mode
    // 0664 whatever the file-creation mask; an existing file keeps its mode.
    bool create(const char* path, eFileMode mode);

    // An exclusive advisory record lock on [start, start + length), counted
    // from the start of the file; fails at once when another process holds a
    // conflicting lock.  A length of 0 reaches to any end of the file, as it
    // does for fcntl.  False when no file is open.
    bool lock(unsigned long long start, unsigned long long length);
    // The same lock, waiting until it is granted.
    bool lock_w(unsigned long long start, unsigned long long length);
    bool unlock(unsigned long long start, unsigned long long length);

    // The file's size from its status, 0 when that cannot be read.
    long long size() override;
    // A pending position implies an open regular file: one pread there,
    // which leaves the descriptor's own offset alone; else one read.  In the
    // header, so that a caller returns straight from the system call.
    unsigned int read(void* buf, unsigned int n) override {
        const int fd = static_cast<int>(fd_);
        if (lazyPos_ >= 0) {
            const ssize_t r = ::pread(fd, buf, n, static_cast<off_t>(lazyPos_));
            if (r >= 0) {
                notePositionRead(r);
                return static_cast<unsigned int>(r);
            }
        } else if (cFileIO::valid()) {
            const ssize_t r = ::read(fd, buf, n);
            if (r >= 0) return static_cast<unsigned int>(r);
        }
        return readAgain(buf, n);
    }
    // One pread on a regular file, whatever position is pending; pipes and
    // terminals, which cannot be read at a position, fail.
    unsigned int readAt(unsigned long long pos, void* buf, unsigned int n) override {
        if (seekableUpTo_ >= 0 && pos <= kMaxOffset) {
            const ssize_t r = ::pread(static_cast<int>(fd_), buf, n, static_cast<off_t>(pos));
            if (r >= 0) return static_cast<unsigned int>(r);
        }
        return readAtAgain(pos, buf, n);
    }
    unsigned int write(void* buf, unsigned int n) override;
    // True when the resulting offset equals pos; beyond the end is allowed.
    // Within a size the file has had the position is only noted (see
    // lazyPos_), which is what the random reads of every parser do.
    bool set_fp(unsigned long long pos) override {
        if (seekableUpTo_ >= 0 && pos <= static_cast<unsigned long long>(seekableUpTo_)) {
            lazyPos_ = static_cast<long long>(pos);
            return true;
        }
        return seekBeyond(pos);
    }
    long long get_fp() override;
    // Seeks to the end moved by n, n read as a signed offset (0 is the end).
    // False only when the system refuses the offset (before the start).
    bool set_fp_end(unsigned long long n) override;
    // Truncates or extends; the position does not move.
    bool set_eof(unsigned long long length) override;
    void close() override;
    // Sets access and modification time to a local date and time.
    bool set_time(int year, int month, int day, int hour, int minute, int second) override;
    // Sets access and modification time to localTime (local seconds since
    // 1970, turned into UTC); 0xFFFFFFFF means no time given (false).  The
    // other two are accepted and not used.
    virtual bool set_time(unsigned long long localTime, unsigned long long unused1, unsigned long long unused2);
    // The descriptor is an int kept in 64 bits; -1 when no file is open.
    bool valid() override { return static_cast<unsigned int>(fd_) != 0xFFFFFFFFu; }
    int typeOf() override;

    // The path of the file last opened or created successfully (empty at first).
    const char* path() const { return path_.c_str() ? path_.c_str() : ""; }
    // The descriptor, -1 while no file is open.  Its own offset is brought to
    // the stream's position first (see lazyPos_).
    long long descriptor() const {
        settle();
        return fd_;
    }

    static bool remove(const char* path);
    static bool move(const char* from, const char* to);
    static bool usesPosix() { return true; }
    static bool setPosix(bool posix) { return posix; }

protected:
    // Takes over an open descriptor (closing the file held before).
    void adopt(int fd, const char* path);

private:
    bool setLock(int command, short type, unsigned long long start, unsigned long long length);
    // Reads what kind of file was opened (see seekableUpTo_).
    void noteOpened();
    // Moves the descriptor's offset to a position set_fp left pending.
    void settle() const;
    // set_fp for a position the file is not known to reach, or a file that
    // is not regular.
    bool seekBeyond(unsigned long long pos);
    // read when the first call failed (retries an interrupted one) or no
    // file is open.
    unsigned int readAgain(void* buf, unsigned int n);
    // The pending position moved past what was read; the file has reached it.
    void notePositionRead(ssize_t r) {
        lazyPos_ += r;
        if (lazyPos_ > seekableUpTo_) seekableUpTo_ = lazyPos_;
    }
    // readAt when the first pread failed or could not be tried: retries an
    // interrupted one.
    unsigned int readAtAgain(unsigned long long pos, void* buf, unsigned int n);

    static constexpr unsigned long long kMaxOffset = 0x7FFFFFFFFFFFFFFFull;

    long long fd_ = -1;
    _guardchar<char> path_;
    // A regular file's offset can be set to any position up to a size the
    // file has had, so set_fp to such a position cannot fail: it is kept
    // here instead of being sought, and reads take it as their offset
    // (pread), which spares a random read one of its two system calls.
    // Anything that needs the descriptor's own offset settles it first.
    // seekableUpTo_ is -1 for files that are not regular (pipes, terminals),
    // whose seeks always go to the system, and while no file is open;
    // lazyPos_ -1 means nothing pending.  So either being 0 or more implies
    // an open descriptor, and the paths that test them need no other test.
    mutable long long lazyPos_ = -1;
    long long seekableUpTo_ = -1;
};

// A new version of a file, written in full before it takes the file's
// place.  begin() opens an unnamed temporary file in the folder the target
// lies in (a hidden named one, ".<name>.<pid>.<n>.tmp", where the file system
// cannot make unnamed files: the name shortened so that the whole fits the
// folder's limit, made with O_CREAT|O_EXCL|O_NOFOLLOW, so that nothing
// already at that name is ever opened through, and locked while it is
// written); commit() flushes it to disk and renames it over the target in
// one step.  Until then the target stays as it was: a failure, an
// abandon(), the destructor or the end of the process (even by SIGKILL, for
// an unnamed file) leaves no trace of the new version.
//
// A replaced file keeps its permission bits, its owner and group where the
// system lets us give them, and its extended attributes (its access control
// list among them) that the process may set.  A new file gets what
// open(O_CREAT, 0666) gives in its folder: the creation mask's bits, or the
// folder's default access control list.
//
// A target that is a symbolic link (a chain of them) is not replaced: the
// file it leads to is, in that file's folder, and the links stay as they
// are.  A link that leads nowhere gets the file it names made.  Links are
// followed only as resolveLinks follows them, and in a folder that is
// sticky and writable by everyone a file of another user (not the folder's
// owner) is not replaced; a target that is not a regular file (a folder, a
// named pipe, a socket, a device) is never opened and not replaced.  Such a
// target is refused by begin(), and again by flush() when it has become one
// meanwhile, with errno EACCES (EISDIR for a folder, EINVAL for the other
// kinds) and the reason in refusal().
//
// A named temporary file exists only for the moment of the rename (or, in
// the fallback, the whole time); pendingPath() names it then, for a signal
// handler that wants to remove it (unlink is safe there).
class cReplacementFile : public cFileIO {
public:
    cReplacementFile() = default;
    ~cReplacementFile() override;

    // Opens the temporary file for reading and writing.  False when the
    // target is refused (see above) or its folder cannot hold one, with the
    // system's reason in errno.
    bool begin(const char* target);
    // Gives the file the target's permission bits, owner, group and extended
    // attributes, or for a new target what a new file gets there (the bits
    // of setNewFileMode when set), and flushes it to disk.  commit() does
    // this itself when it was not done; a caller calls it first to tell the
    // steps apart.  False, with the system's reason in errno, abandons the
    // file.
    bool flush();
    // Flushes (unless flush() did) and puts the file in the target's place.
    // False leaves the target as it was and removes the temporary file;
    // errno then holds the system's reason.
    bool commit();
    // The permission bits a target that does not exist yet gets, whatever
    // the creation mask and the folder's default access control list.
    void setNewFileMode(unsigned int mode) {
        newMode_ = mode & 07777;
        newModeSet_ = true;
    }
    // Drops what was written.
    void abandon();
    // Why the last begin() or flush() refused its target, in one sentence
    // that names it (and, for a link or file another user planted, that
    // user); empty when nothing was refused, or the failure was the
    // system's alone (errno).
    const char* refusal() const { return refusal_.c_str(); }

    // The temporary files of earlier replacements of target that their
    // writers left (killed before they could remove them), each with why it
    // was kept when it was.
    struct sLeftover {
        std::string path;
        bool removed;
        bool inUse;        // a writer that is still running holds it: no leftover
        std::string kept;  // why it stays; empty when it was removed
    };
    // Looks at every name in target's folder that a temporary file of
    // target may have, and removes each that removeOwnLeftover finds
    // provably a leftover of a writer of this user, holding nothing or the
    // start of the format that begins with the formatBytes bytes at
    // formatStart.  Another writer's live file is never touched, nor
    // anything that is not a regular file of the caller's.  Appends what it
    // found to `found`; false (errno set) when the folder cannot be listed.
    static bool removeStaleTemporaries(const char* target, const void* formatStart, std::size_t formatBytes,
                                       std::vector<sLeftover>& found);
    // The file that commit() replaces: the target given to begin(), or the
    // file its links lead to.  Empty while nothing has begun.
    const char* finalTarget() const { return target_.c_str() ? target_.c_str() : ""; }

    // The named temporary file in the target's folder, or null while there
    // is none.  Safe to read from a signal handler.
    const char* pendingPath() const { return pendingSet_ ? pending_ : nullptr; }

    // Test hook: begin() makes a named temporary file even where the file
    // system could make an unnamed one.
    static bool gNamedOnly;

private:
    void setPending(const char* path);
    void clearPending();
    // abandon(), keeping errno as it was.
    bool fail();

    _guardchar<char> target_;
    std::string refusal_;
    bool unnamed_ = false;
    bool flushed_ = false;
    // The temporary file was made as a new file of the folder (the target
    // did not exist at begin()), so that the system gave it a new file's
    // bits and access control list.
    bool madeAsNew_ = false;
    char pending_[4096] = {};
    volatile int pendingSet_ = 0;
    unsigned int newMode_ = 0666;
    bool newModeSet_ = false;
};

// The permission bits a file created with `requested` gets: those less the
// process's file-creation mask (read without changing it where the system
// tells it).
unsigned int maskedFileMode(unsigned int requested);

// Names another user made in a shared folder.  In a folder that is sticky
// and writable by everyone (/tmp), anyone may make a name, and only its
// owner or the folder's may remove it; what such a name leads to is not the
// caller's to write.  The kernel refuses to follow such a link, or to open
// such a file with O_CREAT, when fs.protected_symlinks and
// fs.protected_regular are 1; this library applies the same rules whatever
// the machine's settings.
//
// Whether the symbolic link at `link` may be followed by that rule: it lies
// in a folder that is not sticky and writable by everyone, or belongs to
// the caller or to the folder's owner.  True as well when `link` is no link
// or names nothing.  False with errno EACCES and, in `refusal` (when
// given), a sentence that names the link and its owner; false with the
// system's reason when the status of the link or its folder cannot be
// taken.
bool linkMayBeFollowed(const char* link, std::string* refusal = nullptr);

// The file a path leads to through symbolic links: `path` itself when it is
// no link (or names nothing), else the last name of the chain (a relative
// link read from its link's folder), named from the real path of its
// folder.  Every link of the chain must pass linkMayBeFollowed; the first
// that does not ends it with false, errno EACCES and the reason in
// `refusal` (when given).  False, with errno ELOOP, for a chain of more
// than 40 links, or with the system's reason when a link cannot be read.
bool resolveLinks(const char* path, _guardchar<char>& out, std::string* refusal = nullptr);

// Removes the file `name` of the folder open as the descriptor `folder`
// when it is provably a leftover temporary file of this user's: a regular
// file (not a link) owned by the caller, with no other link, whose writer's
// lock (flock) is free, and that holds nothing or the start of the format
// that begins with the formatBytes bytes at formatStart (as many of them as
// it holds).  The lock is held while the name goes, so that a writer that
// makes the file anew under that name finds it gone.  True when it was
// removed; otherwise false, errno EBUSY when a live writer holds the file
// (EEXIST for every other reason it stays, or the system's when it cannot
// be looked at), and `kept` (when given) says why it stays.
bool removeOwnLeftover(int folder, const char* name, const void* formatStart, std::size_t formatBytes,
                       std::string* kept = nullptr);

// Flat file functions.  The handle is a void* that carries the descriptor;
// file_invalid_handle() (all bits set) means none.
void* file_open(const char* path, eFileMode mode);
void* file_create(const char* path, eFileMode mode);
long long file_size(void* h);
unsigned int file_read(void* h, void* buf, unsigned int n);
unsigned int file_write(void* h, void* buf, unsigned int n);
bool file_set_fp(void* h, unsigned long long pos);
bool file_set_fp_end(void* h, unsigned long long n);
bool file_set_eof(void* h, unsigned long long length);
// Waits for the write lock on [start, start + length), as cFileIO::lock_w.
bool file_lock_w(void* h, unsigned long long start, unsigned long long length);
int file_close(void* h);
bool file_valid(void* h);
void* file_invalid_handle();
bool file_set_time(void* h, unsigned long long localTime, unsigned long long unused1, unsigned long long unused2);
bool file_set_time(void* h, int year, int month, int day, int hour, int minute, int second);

// Owns one descriptor, kept in a pointer-sized field; 0 means none, and
// descriptor 0 is never closed by it.
class cSafeFD {
public:
    explicit cSafeFD(void* fd) : fd_(fd) {}
    virtual ~cSafeFD() { close(); }
    cSafeFD(const cSafeFD&) = delete;
    cSafeFD& operator=(const cSafeFD&) = delete;

    bool valid() const;
    void close();
    void set(void* fd);
    void* get() const { return fd_; }

private:
    void* fd_ = nullptr;
};
