#include "base/fileio.h"

#include "base/sync.h"
#include "base/timeutil.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <cerrno>
#include <cstring>
#include <string>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>


// ---------------------------------------------------------------------------
// cFileIOTarget

cFileIOTarget::~cFileIOTarget() = default;

unsigned int cFileIOTarget::write(void*, unsigned int) { return 0; }

bool cFileIOTarget::readf(void* buf, unsigned int n) {
    if (n == 0) return true;
    unsigned int got = read(buf, n);
    return transferred(got) && got == n;
}

bool cFileIOTarget::writef(void* buf, unsigned int n) {
    if (n == 0) return true;
    unsigned int put = write(buf, n);
    return transferred(put) && put == n;
}

bool cFileIOTarget::set_time(int, int, int, int, int, int) { return false; }

int cFileIOTarget::typeOf() { return 0; }

std::size_t cFileIOTarget::readInPlace(const unsigned char*&, std::size_t) { return 0; }

unsigned int cFileIOTarget::readAt(unsigned long long pos, void* buf, unsigned int n) {
    const long long kept = get_fp();
    unsigned int got;
    if (set_fp(pos)) {
        got = read(buf, n);
    } else {
        const long long end = size();
        got = end >= 0 && pos >= static_cast<unsigned long long>(end) ? 0 : kIOFailed;
    }
    if (kept >= 0) set_fp(static_cast<unsigned long long>(kept));
    return got;
}

// ---------------------------------------------------------------------------
// Flat file functions

namespace {

// The handle carries the descriptor in its low 32 bits.
int fdOf(void* h) { return static_cast<int>(reinterpret_cast<std::intptr_t>(h)); }
void* handleOf(long long fd) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)); }

int accessFlags(eFileMode mode) {
    switch (static_cast<int>(mode) & 3) {
        case 2: return O_WRONLY;
        case 3: return O_RDWR;
        default: return O_RDONLY;
    }
}

int openRetrying(const char* path, int flags, mode_t perms = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, perms);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

constexpr mode_t kNewFileMode = 0664;

int createFile(const char* path, eFileMode mode) {
    const int flags = accessFlags(mode);
    // Only a file this call made gets 0664: an existing file is emptied and
    // keeps its mode (a script that was executable stays executable).  The
    // exclusive open tells the two apart; when the file vanishes between the
    // two opens, try again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        int fd = openRetrying(path, flags | O_CREAT | O_EXCL, kNewFileMode);
        if (fd >= 0) {
            // The creation mask may have narrowed the mode.
            ::fchmod(fd, kNewFileMode);
            return fd;
        }
        if (errno != EEXIST) return -1;
        fd = openRetrying(path, flags | O_TRUNC);
        if (fd >= 0) return fd;
        if (errno != ENOENT) return -1;
    }
    // A name that exists but cannot be opened without creating it: a
    // dangling symbolic link.  Creating through it makes the target.
    int fd = openRetrying(path, flags | O_CREAT | O_TRUNC, kNewFileMode);
    if (fd >= 0) ::fchmod(fd, kNewFileMode);
    return fd;
}

long long statSize(int fd) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return 0;
    return static_cast<long long>(st.st_size);
}

unsigned int readOnce(int fd, void* buf, unsigned int n) {
    if (fd < 0) return cFileIOTarget::kIOFailed;
    ssize_t r;
    do {
        r = ::read(fd, buf, n);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? cFileIOTarget::kIOFailed : static_cast<unsigned int>(r);
}

// One pread, retried while a signal interrupts it.
ssize_t preadOnce(int fd, void* buf, unsigned int n, unsigned long long pos) {
    ssize_t r;
    do {
        r = ::pread(fd, buf, n, static_cast<off_t>(pos));
    } while (r < 0 && errno == EINTR);
    return r;
}

unsigned int writeOnce(int fd, void* buf, unsigned int n) {
    if (fd < 0) return cFileIOTarget::kIOFailed;
    ssize_t r;
    do {
        r = ::write(fd, buf, n);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? cFileIOTarget::kIOFailed : static_cast<unsigned int>(r);
}

// A record lock on [start, start + length), F_SETLKW going on after a signal.
bool setRangeLock(int fd, int command, short type, unsigned long long start, unsigned long long length) {
    if (start > static_cast<unsigned long long>(LLONG_MAX) || length > static_cast<unsigned long long>(LLONG_MAX))
        return false;
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    int r;
    do {
        r = ::fcntl(fd, command, &fl);
    } while (r != 0 && errno == EINTR && command == F_SETLKW);
    return r == 0;
}

bool seekAbsolute(int fd, unsigned long long pos) {
    if (fd < 0 || pos > static_cast<unsigned long long>(LLONG_MAX)) return false;
    off_t r = ::lseek(fd, static_cast<off_t>(pos), SEEK_SET);
    return r >= 0 && static_cast<unsigned long long>(r) == pos;
}

bool seekFromEnd(int fd, unsigned long long n) {
    if (fd < 0) return false;
    return ::lseek(fd, static_cast<off_t>(static_cast<long long>(n)), SEEK_END) >= 0;
}

bool truncateTo(int fd, unsigned long long length) {
    if (fd < 0 || length > static_cast<unsigned long long>(LLONG_MAX)) return false;
    int r;
    do {
        r = ::ftruncate(fd, static_cast<off_t>(length));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool setBothTimes(int fd, long long utcSeconds) {
    if (fd < 0) return false;
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(utcSeconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return ::futimens(fd, times) == 0;
}

}  // namespace

void* file_open(const char* path, eFileMode mode) {
    if (!path) return file_invalid_handle();
    int fd = openRetrying(path, accessFlags(mode));
    return fd < 0 ? file_invalid_handle() : handleOf(fd);
}

void* file_create(const char* path, eFileMode mode) {
    if (!path) return file_invalid_handle();
    int fd = createFile(path, mode);
    return fd < 0 ? file_invalid_handle() : handleOf(fd);
}

long long file_size(void* h) { return file_valid(h) ? statSize(fdOf(h)) : 0; }

unsigned int file_read(void* h, void* buf, unsigned int n) {
    return file_valid(h) ? readOnce(fdOf(h), buf, n) : cFileIOTarget::kIOFailed;
}

unsigned int file_write(void* h, void* buf, unsigned int n) {
    return file_valid(h) ? writeOnce(fdOf(h), buf, n) : cFileIOTarget::kIOFailed;
}

bool file_set_fp(void* h, unsigned long long pos) { return file_valid(h) && seekAbsolute(fdOf(h), pos); }

bool file_set_fp_end(void* h, unsigned long long n) { return file_valid(h) && seekFromEnd(fdOf(h), n); }

bool file_set_eof(void* h, unsigned long long length) { return file_valid(h) && truncateTo(fdOf(h), length); }

bool file_lock_w(void* h, unsigned long long start, unsigned long long length) {
    return file_valid(h) && setRangeLock(fdOf(h), F_SETLKW, F_WRLCK, start, length);
}

int file_close(void* h) {
    if (!file_valid(h)) return -1;
    // After EINTR the descriptor is gone on this platform: never retry.
    cCancellationHold hold;
    return ::close(fdOf(h));
}

bool file_valid(void* h) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h)) != 0xFFFFFFFFu; }

void* file_invalid_handle() { return reinterpret_cast<void*>(~std::uintptr_t{0}); }

bool file_set_time(void* h, unsigned long long localTime, unsigned long long, unsigned long long) {
    if (!file_valid(h) || localTime == 0xFFFFFFFFull) return false;
    return setBothTimes(fdOf(h), static_cast<long long>(localToUTC(localTime)));
}

bool file_set_time(void* h, int year, int month, int day, int hour, int minute, int second) {
    long long secs = 0;
    return file_valid(h) && localFieldsToUnix(year, month, day, hour, minute, second, secs) &&
           setBothTimes(fdOf(h), secs);
}

// ---------------------------------------------------------------------------
// cFileIO

cFileIO::~cFileIO() { cFileIO::close(); }

bool cFileIO::open(const char* path, eFileMode mode) {
    close();
    void* h = file_open(path, mode);
    if (!file_valid(h)) return false;
    fd_ = fdOf(h);
    path_.set(path);
    noteOpened();
    return true;
}

bool cFileIO::create(const char* path, eFileMode mode) {
    close();
    void* h = file_create(path, mode);
    if (!file_valid(h)) return false;
    fd_ = fdOf(h);
    path_.set(path);
    noteOpened();
    return true;
}

void cFileIO::noteOpened() {
    lazyPos_ = -1;
    struct stat st;
    seekableUpTo_ = ::fstat(static_cast<int>(fd_), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : -1;
}

void cFileIO::settle() const {
    if (lazyPos_ < 0) return;
    ::lseek(static_cast<int>(fd_), static_cast<off_t>(lazyPos_), SEEK_SET);
    lazyPos_ = -1;
}

void cFileIO::adopt(int fd, const char* path) {
    close();
    fd_ = fd;
    path_.set(path);
    noteOpened();
}

namespace {

// The folder of a path ("." for a bare name) and its last component.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// The longest name the folder takes (255 where it cannot say).
std::size_t nameLimit(const std::string& folder) {
    const long n = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return n > 16 ? static_cast<std::size_t>(n) : 255;
}

// The part of the target's name that a temporary name with this tail
// holds: all of it when the whole fits the folder's limit, else as much as
// fits, cut before a UTF-8 sequence that would not fit whole.
std::string tempStem(const std::string& name, std::size_t tail, std::size_t limit) {
    const std::size_t room = limit > tail + 1 ? limit - tail - 1 : 0;
    if (name.size() <= room) return name;
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

// A hidden name beside the target that does not exist yet:
// ".<name>.<pid>.<n>.tmp", the name shortened so that the whole fits.
std::string freshTempName(const std::string& folder, const std::string& name) {
    static std::atomic<unsigned> counter{0};
    char tail[64];
    std::snprintf(tail, sizeof tail, ".%ld.%u.tmp", static_cast<long>(::getpid()), counter++);
    return folder + "/." + tempStem(name, std::strlen(tail), nameLimit(folder)) + tail;
}

// Takes the lock that tells a live writer's temporary file from one left
// by a writer that is gone (see removeStaleTemporaries), and makes sure the
// file still has its name: a cleaner that found it unlocked in the moment
// before may have removed it.  False (errno set) when it has lost its name.
bool holdTempLock(int fd, const char* path) {
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return true;  // no locks here: nothing can be told, nothing is removed
    struct stat mine, named;
    if (::fstat(fd, &mine) == 0 && mine.st_nlink > 0 && ::lstat(path, &named) == 0 && named.st_dev == mine.st_dev &&
        named.st_ino == mine.st_ino)
        return true;
    errno = EEXIST;
    return false;
}

// The process's file-creation mask as the system reports it, or -1.
int reportedCreationMask() {
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return -1;
    buf[n] = 0;
    const char* line = std::strstr(buf, "\nUmask:");
    if (!line) return -1;
    char* end = nullptr;
    const long mask = std::strtol(line + 7, &end, 8);
    return end != line + 7 && mask >= 0 && mask <= 0777 ? static_cast<int>(mask) : -1;
}

}  // namespace

unsigned int maskedFileMode(unsigned int requested) {
    int mask = reportedCreationMask();
    if (mask < 0) {
        // Only umask() tells it here, and it must set one to read it: the
        // mask is put back at once, under a lock against this library's
        // other readers.
        static std::mutex lock;
        std::lock_guard<std::mutex> hold(lock);
        const mode_t was = ::umask(077);
        ::umask(was);
        mask = static_cast<int>(was);
    }
    return requested & 07777 & ~static_cast<unsigned int>(mask);
}

bool resolveLinks(const char* path, _guardchar<char>& out) {
    if (!path) {
        errno = ENOENT;
        return false;
    }
    std::string at = path;
    // The system's own limit on links in one lookup.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out.set(at.c_str());
            return true;
        }
        char link[4096];
        const ssize_t n = ::readlink(at.c_str(), link, sizeof link - 1);
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOENT;
            return false;
        }
        link[n] = 0;
        if (link[0] == '/') {
            at = link;
        } else {
            std::string folder, name;
            splitPath(at, folder, name);
            at = folder + "/" + link;
        }
    }
    errno = ELOOP;
    return false;
}

bool cReplacementFile::gNamedOnly = false;

cReplacementFile::~cReplacementFile() { abandon(); }

void cReplacementFile::setPending(const char* path) {
    pendingSet_ = 0;
    std::snprintf(pending_, sizeof pending_, "%s", path);
    pendingSet_ = 1;
}

void cReplacementFile::clearPending() {
    pendingSet_ = 0;
    pending_[0] = 0;
}

bool cReplacementFile::begin(const char* given) {
    abandon();
    if (!given || !*given) {
        errno = ENOENT;
        return false;
    }
    // The file the links lead to is replaced, in its own folder: renaming
    // over the link would cut it.
    _guardchar<char> resolved;
    if (!resolveLinks(given, resolved)) return false;
    const char* target = resolved.c_str();
    if (std::strlen(target) >= sizeof pending_ - 64) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::string folder, name;
    splitPath(target, folder, name);
    if (name.empty()) {
        errno = EISDIR;
        return false;
    }
    // Private while it is written: the target's own bits come at flush().
    int fd = gNamedOnly ? -1 : ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    unnamed_ = fd >= 0;
    // Locked from the start: it is named for a moment before the rename.
    if (unnamed_) ::flock(fd, LOCK_EX);
    if (fd < 0) {
        // No unnamed files here: a named one, removed if not committed.
        // Made new or not at all: a link planted at the name is neither
        // followed nor opened.
        for (int tries = 0; fd < 0 && tries < 100; ++tries) {
            const std::string temp = freshTempName(folder, name);
            setPending(temp.c_str());
            fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
            if (fd >= 0 && !holdTempLock(fd, temp.c_str())) {
                ::close(fd);
                fd = -1;
            }
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) {
            const int error = errno;
            clearPending();
            errno = error;
            return false;
        }
    }
    adopt(fd, target);
    target_.set(target);
    flushed_ = false;
    return true;
}

bool cReplacementFile::flush() {
    if (!valid() || !target_.get()) {
        errno = EBADF;
        return false;
    }
    if (flushed_) return true;
    const int fd = static_cast<int>(descriptor());
    struct stat st;
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    const mode_t mode = exists ? (st.st_mode & 07777)
                               : static_cast<mode_t>(newModeSet_ ? newMode_ : maskedFileMode(0666));
    // The owner first (only a privileged process may give a file away, and
    // a change of owner clears the set-id bits), then the bits.  A group or
    // owner the system does not let us keep stays ours.
    if (exists) {
        struct stat mine;
        if (::fstat(fd, &mine) == 0 && (mine.st_uid != st.st_uid || mine.st_gid != st.st_gid) &&
            ::fchown(fd, st.st_uid, st.st_gid) != 0)
            (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    }
    // A failure keeps the system's reason in errno for the caller.
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
        const int error = errno;
        abandon();
        errno = error;
        return false;
    }
    flushed_ = true;
    return true;
}

bool cReplacementFile::commit() {
    if (!valid() || !target_.get()) return false;
    if (!flush()) return false;
    const int fd = static_cast<int>(descriptor());
    const std::string target = target_.get();
    std::string folder, name;
    splitPath(target, folder, name);
    if (unnamed_) {
        // Give the unnamed file a name beside the target, then rename that.
        // linkat never follows or replaces what is at the new name.
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        bool linked = false;
        for (int tries = 0; !linked && tries < 100; ++tries) {
            const std::string temp = freshTempName(folder, name);
            setPending(temp.c_str());
            linked = ::linkat(AT_FDCWD, self, AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
            if (!linked && errno != EEXIST) break;
        }
        if (!linked) {
            const int error = errno;
            clearPending();
            abandon();
            errno = error;
            return false;
        }
    }
    const bool moved = ::rename(pending_, target.c_str()) == 0;
    const int error = errno;
    if (!moved) ::unlink(pending_);
    clearPending();
    close();
    target_.clear();
    flushed_ = false;
    if (!moved) {
        errno = error;
        return false;
    }
    // The rename itself reaches the disk with the folder; a folder that
    // cannot be flushed fails the commit (the target is then the new
    // version, which a crash may yet undo).
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        const bool flushed = ::fsync(dir) == 0 || errno == EINVAL;
        const int flushError = errno;
        ::close(dir);
        if (!flushed) {
            errno = flushError;
            return false;
        }
    }
    return true;
}

void cReplacementFile::abandon() {
    if (pendingSet_) ::unlink(pending_);
    clearPending();
    close();
    target_.clear();
    flushed_ = false;
}

namespace {

// Whether entry is a temporary name freshTempName gives for name in a
// folder whose names hold at most limit bytes: ".<stem>.<pid>.<n>.tmp".
bool isTempNameOf(const std::string& entry, const std::string& name, std::size_t limit) {
    static const char kEnd[] = ".tmp";
    if (entry.size() < 2 + 4 || entry[0] != '.' || entry.compare(entry.size() - 4, 4, kEnd) != 0) return false;
    std::size_t at = entry.size() - 4;
    for (int number = 0; number < 2; ++number) {
        const std::size_t digitsEnd = at;
        while (at > 0 && entry[at - 1] >= '0' && entry[at - 1] <= '9') --at;
        if (at == digitsEnd || at == 0 || entry[at - 1] != '.') return false;
        --at;
    }
    const std::size_t tail = entry.size() - at;
    return at >= 1 && entry.compare(1, at - 1, tempStem(name, tail, limit)) == 0;
}

}  // namespace

bool cReplacementFile::removeStaleTemporaries(const char* target, std::vector<std::string>* removed) {
    if (!target || !*target) {
        errno = ENOENT;
        return false;
    }
    std::string folder, name;
    splitPath(target, folder, name);
    if (name.empty()) return true;
    const int dirfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0) return false;
    DIR* dir = ::fdopendir(dirfd);
    if (!dir) {
        const int error = errno;
        ::close(dirfd);
        errno = error;
        return false;
    }
    const std::size_t limit = nameLimit(folder);
    std::vector<std::string> candidates;
    while (struct dirent* e = ::readdir(dir))
        if (isTempNameOf(e->d_name, name, limit)) candidates.push_back(e->d_name);
    for (const std::string& c : candidates) {
        const int fd = ::openat(dirfd, c.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat mine, named;
        // Its writer's lock free, and the name still the file locked: the
        // writer is gone.  Removed while the lock is held, so that a writer
        // that makes the file afresh under this name sees it gone.
        if (::fstat(fd, &mine) == 0 && S_ISREG(mine.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirfd, c.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == mine.st_dev &&
            named.st_ino == mine.st_ino && ::unlinkat(dirfd, c.c_str(), 0) == 0 && removed)
            removed->push_back(folder + "/" + c);
        ::close(fd);
    }
    ::closedir(dir);
    return true;
}

bool cFileIO::setLock(int command, short type, unsigned long long start, unsigned long long length) {
    return valid() && setRangeLock(static_cast<int>(fd_), command, type, start, length);
}

bool cFileIO::lock(unsigned long long start, unsigned long long length) {
    return setLock(F_SETLK, F_WRLCK, start, length);
}

bool cFileIO::lock_w(unsigned long long start, unsigned long long length) {
    return setLock(F_SETLKW, F_WRLCK, start, length);
}

bool cFileIO::unlock(unsigned long long start, unsigned long long length) {
    return setLock(F_SETLKW, F_UNLCK, start, length);
}

// The members ask cFileIO::valid() by name: it is the descriptor's own test,
// and the call then costs nothing, where a virtual one would cost a load and
// a jump on every read and seek.
long long cFileIO::size() { return cFileIO::valid() ? statSize(static_cast<int>(fd_)) : 0; }

unsigned int cFileIO::readAgain(void* buf, unsigned int n) {
    if (lazyPos_ >= 0) {
        const ssize_t r = preadOnce(static_cast<int>(fd_), buf, n, static_cast<unsigned long long>(lazyPos_));
        if (r < 0) return kIOFailed;
        notePositionRead(r);
        return static_cast<unsigned int>(r);
    }
    if (!cFileIO::valid()) return kIOFailed;
    return readOnce(static_cast<int>(fd_), buf, n);
}

unsigned int cFileIO::readAtAgain(unsigned long long pos, void* buf, unsigned int n) {
    if (seekableUpTo_ < 0) return kIOFailed;
    const ssize_t r = pos <= kMaxOffset ? preadOnce(static_cast<int>(fd_), buf, n, pos) : -1;
    if (r >= 0) return static_cast<unsigned int>(r);
    // The system refuses offsets past its limit, and ones that the count
    // would carry past it, where there is nothing to read anyway.
    struct stat st {};
    if (::fstat(static_cast<int>(fd_), &st) == 0 && pos >= static_cast<unsigned long long>(st.st_size)) return 0;
    return kIOFailed;
}

unsigned int cFileIO::write(void* buf, unsigned int n) {
    if (!cFileIO::valid()) return kIOFailed;
    settle();
    return writeOnce(static_cast<int>(fd_), buf, n);
}

bool cFileIO::seekBeyond(unsigned long long pos) {
    if (!cFileIO::valid()) return false;
    lazyPos_ = -1;
    const bool ok = seekAbsolute(static_cast<int>(fd_), pos);
    if (ok && seekableUpTo_ >= 0) seekableUpTo_ = static_cast<long long>(pos);
    return ok;
}

long long cFileIO::get_fp() {
    if (!cFileIO::valid()) return -1;
    if (lazyPos_ >= 0) return lazyPos_;
    const off_t at = ::lseek(static_cast<int>(fd_), 0, SEEK_CUR);
    return at < 0 ? -1 : static_cast<long long>(at);
}

bool cFileIO::set_fp_end(unsigned long long n) {
    if (!cFileIO::valid()) return false;
    lazyPos_ = -1;
    return seekFromEnd(static_cast<int>(fd_), n);
}

bool cFileIO::set_eof(unsigned long long length) {
    return cFileIO::valid() && truncateTo(static_cast<int>(fd_), length);
}

void cFileIO::close() {
    if (!cFileIO::valid()) return;
    // Closing must finish even in a job being cancelled (see cCancellationHold).
    cCancellationHold hold;
    ::close(static_cast<int>(fd_));
    fd_ = -1;
    lazyPos_ = -1;
    seekableUpTo_ = -1;
}

bool cFileIO::set_time(int year, int month, int day, int hour, int minute, int second) {
    return cFileIO::valid() && file_set_time(handleOf(fd_), year, month, day, hour, minute, second);
}

bool cFileIO::set_time(unsigned long long localTime, unsigned long long unused1, unsigned long long unused2) {
    return cFileIO::valid() && file_set_time(handleOf(fd_), localTime, unused1, unused2);
}

int cFileIO::typeOf() { return 1; }

bool cFileIO::remove(const char* path) { return path && ::unlink(path) == 0; }

bool cFileIO::move(const char* from, const char* to) { return from && to && ::rename(from, to) == 0; }

// ---------------------------------------------------------------------------
// cSafeFD

bool cSafeFD::valid() const { return static_cast<int>(reinterpret_cast<std::intptr_t>(fd_)) > 0; }

void cSafeFD::close() {
    if (!fd_) return;
    int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(fd_));
    cCancellationHold hold;
    if (fd > 0) ::close(fd);
    fd_ = nullptr;
}

void cSafeFD::set(void* fd) {
    close();
    fd_ = fd;
}
