// cReplacementFile, the link resolution under it, the rules for names
// another user made in a shared folder, and the removal of leftover
// temporary files.
#include "base/fileio.h"

#include "base/strutil.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

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

// ---------------------------------------------------------------------------
// Names another user made in a shared folder

// A folder where anyone may make a name and only its owner (or the
// folder's) may remove it: the folders the kernel's protected_symlinks and
// protected_regular rules (at 1) guard.
bool sharedByEveryone(const struct stat& folder) {
    return (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
}

// Whether a name owned by `owner` in `folder` is the caller's to go
// through: the test both rules make.
bool ownNameThere(uid_t owner, const struct stat& folder) {
    return !sharedByEveryone(folder) || owner == ::geteuid() || owner == folder.st_uid;
}

// "user nobody (uid 65534)", or "uid 1234" for an id without a name.
std::string describeUser(uid_t uid) {
    struct passwd entry, *found = nullptr;
    char buf[1024];
    const std::string id = "uid " + std::to_string(static_cast<unsigned long>(uid));
    if (::getpwuid_r(uid, &entry, buf, sizeof buf, &found) == 0 && found && found->pw_name && *found->pw_name)
        return "user " + escapeForDisplay(std::string(found->pw_name)) + " (" + id + ")";
    return id;
}

// The sentence that refuses a name of another user's in a shared folder;
// `what` is "link" or "file", `done` what is not done to it.
std::string plantedRefusal(const std::string& path, const char* what, uid_t owner, const std::string& folder,
                           const char* done) {
    return escapeForDisplay(path) + " is a " + what + " of " + describeUser(owner) + " in " +
           escapeForDisplay(folder) + ", a sticky folder that everyone may write to; such a " + what + " is " + done +
           " only when it is yours or the folder owner's";
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "a file of another kind";
}

// Whether the link whose status is `st` may be followed (see
// linkMayBeFollowed).
bool mayFollow(const std::string& link, const struct stat& st, std::string* refusal) {
    std::string folder, name;
    splitPath(link, folder, name);
    struct stat there;
    if (::stat(folder.c_str(), &there) != 0) return false;
    if (ownNameThere(st.st_uid, there)) return true;
    if (refusal) *refusal = plantedRefusal(link, "link", st.st_uid, folder, "followed");
    errno = EACCES;
    return false;
}

// `path` named from the real path of its folder, when that can be had.
std::string inRealFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return path;
    char* real = ::realpath(slash == 0 ? "/" : path.substr(0, slash).c_str(), nullptr);
    if (!real) return path;
    std::string out = std::string(real) + (std::strcmp(real, "/") == 0 ? "" : "/") + path.substr(slash + 1);
    std::free(real);
    return out;
}

// ---------------------------------------------------------------------------
// The file a replacement takes the place of

// What lies at the target's name, looked at without following it or
// opening it.  For a regular file, `fd` is an O_PATH descriptor of that
// very file, from which its owner, bits and attributes are taken.
struct sTarget {
    bool exists = false;
    struct stat st {};
    int fd = -1;
    ~sTarget() {
        if (fd >= 0) ::close(fd);
    }
};

// Looks at the target: nothing there, or a regular file that the rules let
// us replace.  False with errno set, and `refusal` set when a rule refused
// it.
bool lookAtTarget(const std::string& path, sTarget& t, std::string& refusal) {
    // A file swapped in between the look and the open is looked at again.
    for (int tries = 0; tries < 8; ++tries) {
        if (::lstat(path.c_str(), &t.st) != 0) {
            if (errno != ENOENT) return false;
            t.exists = false;
            return true;
        }
        t.exists = true;
        if (!S_ISREG(t.st.st_mode)) {
            refusal = escapeForDisplay(path) + " is " + kindOf(t.st.st_mode) + ", not a regular file";
            errno = S_ISDIR(t.st.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        std::string folder, name;
        splitPath(path, folder, name);
        struct stat there;
        if (::stat(folder.c_str(), &there) != 0) return false;
        if (!ownNameThere(t.st.st_uid, there)) {
            refusal = plantedRefusal(path, "file", t.st.st_uid, folder, "replaced");
            errno = EACCES;
            return false;
        }
        // A descriptor of the inode itself: it opens nothing (a pipe swapped
        // in would not block), needs no right to read, and the attributes
        // come from the file looked at, whatever its name holds by then.
        const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat opened;
        if (fd >= 0 && ::fstat(fd, &opened) == 0 && opened.st_dev == t.st.st_dev && opened.st_ino == t.st.st_ino) {
            if (t.fd >= 0) ::close(t.fd);
            t.fd = fd;
            return true;
        }
        if (fd >= 0) ::close(fd);
        else if (errno != ENOENT)
            return false;
    }
    errno = EAGAIN;
    return false;
}

// A name list of listxattr, or false with errno.
template <typename List>
bool attributeNames(List list, std::string& names) {
    for (int tries = 0; tries < 8; ++tries) {
        const ssize_t need = list(nullptr, 0);
        if (need < 0) return false;
        names.resize(static_cast<std::size_t>(need));
        const ssize_t got = need ? list(&names[0], names.size()) : 0;
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            return true;
        }
        if (errno != ERANGE) return false;  // ERANGE: it grew meanwhile
    }
    return false;
}

// Errors that mean an attribute is not ours to read or set, or the file
// system keeps none: the attribute is left out.
bool notOurs(int error) { return error == EPERM || error == EACCES || error == ENOTSUP || error == ENODATA; }

constexpr char kAccessAcl[] = "system.posix_acl_access";

// Gives `to` the extended attributes of the file held as `from` (an O_PATH
// descriptor of the file at `path`) that the process may set: its access
// control list, user attributes and, for a privileged process, the rest.
// An access control list `to` was given at its making and `from` lacks is
// dropped.  False with errno for a failure other than a refusal.
bool copyAttributes(int from, const std::string& path, int to) {
    // An O_PATH descriptor reads no attributes itself: its entry in /proc
    // leads to the very file; without /proc, the name (looked at just
    // before) stands in.
    const std::string self = "/proc/self/fd/" + std::to_string(from);
    const bool viaProc = ::access("/proc/self/fd", X_OK) == 0;
    std::string names;
    const bool listed = viaProc ? attributeNames([&](char* b, std::size_t n) { return ::listxattr(self.c_str(), b, n); },
                                                 names)
                                : attributeNames([&](char* b, std::size_t n) { return ::llistxattr(path.c_str(), b, n); },
                                                 names);
    if (!listed) {
        if (!notOurs(errno)) return false;
        names.clear();
    }
    bool hadAcl = false;
    std::string value;
    for (std::size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        if (name.empty()) continue;
        if (name == kAccessAcl) hadAcl = true;
        auto get = [&](void* b, std::size_t n) {
            return viaProc ? ::getxattr(self.c_str(), name.c_str(), b, n) : ::lgetxattr(path.c_str(), name.c_str(), b, n);
        };
        ssize_t size = -1;
        for (int tries = 0; tries < 8; ++tries) {
            size = get(nullptr, 0);
            if (size < 0) break;
            value.resize(static_cast<std::size_t>(size));
            size = get(size ? &value[0] : nullptr, value.size());
            if (size >= 0 || errno != ERANGE) break;
        }
        if (size < 0) {
            if (notOurs(errno)) continue;
            return false;
        }
        if (::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(size), 0) != 0 && !notOurs(errno))
            return false;
    }
    if (!hadAcl && ::fremovexattr(to, kAccessAcl) != 0 && !notOurs(errno)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Temporary names

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

// Takes the lock that tells a live writer's temporary file from one left
// by a writer that is gone (see removeOwnLeftover), and makes sure the
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

bool linkMayBeFollowed(const char* link, std::string* refusal) {
    if (!link) {
        errno = ENOENT;
        return false;
    }
    struct stat st;
    if (::lstat(link, &st) != 0) return errno == ENOENT;
    return !S_ISLNK(st.st_mode) || mayFollow(link, st, refusal);
}

bool resolveLinks(const char* path, _guardchar<char>& out, std::string* refusal) {
    if (!path) {
        errno = ENOENT;
        return false;
    }
    std::string at = path;
    // The system's own limit on links in one lookup.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out.set((hops ? inRealFolder(at) : at).c_str());
            return true;
        }
        // Each link of the chain as the kernel follows the last name of a
        // path: its own folder and owner decide.
        if (!mayFollow(at, st, refusal)) return false;
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

bool removeOwnLeftover(int folder, const char* name, const void* formatStart, std::size_t formatBytes,
                       std::string* kept) {
    auto keep = [&](const std::string& why, int error) {
        if (kept) *kept = why;
        errno = error;
        return false;
    };
    struct stat named;
    if (!name) return keep("it has no name", ENOENT);
    if (::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        return keep(std::string("it cannot be looked at: ") + std::strerror(error), error);
    }
    // Only a regular file is opened: a device's opening may do something.
    if (!S_ISREG(named.st_mode))
        return keep(std::string("it is ") + kindOf(named.st_mode) + ", not a regular file", EEXIST);
    if (named.st_uid != ::geteuid()) return keep("it belongs to " + describeUser(named.st_uid), EEXIST);
    const int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return keep(std::string("it cannot be opened: ") + std::strerror(error), error);
    }
    struct stat mine;
    std::string why;
    bool inUse = false;
    if (::fstat(fd, &mine) != 0 || mine.st_dev != named.st_dev || mine.st_ino != named.st_ino ||
        !S_ISREG(mine.st_mode) || mine.st_uid != ::geteuid()) {
        why = "it changed while it was looked at";
    } else if (mine.st_nlink != 1) {
        why = "it has other names (hard links)";
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = "a writer that is still running holds it";
        inUse = true;
    } else {
        // Held locked from here: the writer it was is gone.
        const std::size_t want =
            mine.st_size < static_cast<off_t>(formatBytes) ? static_cast<std::size_t>(mine.st_size) : formatBytes;
        std::string head(want, '\0');
        ssize_t got = 0;
        while (static_cast<std::size_t>(got) < want) {
            const ssize_t r = ::pread(fd, &head[got], want - got, got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += r;
        }
        struct stat again;
        // Bytes the format cannot be told from (none given) are not ours.
        const bool ours = mine.st_size == 0 || (formatBytes && formatStart && static_cast<std::size_t>(got) == want &&
                                                std::memcmp(head.data(), formatStart, want) == 0);
        if (!ours)
            why = "it does not hold what such a file holds";
        else if (::fstatat(folder, name, &again, AT_SYMLINK_NOFOLLOW) != 0 || again.st_dev != mine.st_dev ||
                 again.st_ino != mine.st_ino)
            why = "it changed while it was looked at";
        else if (::unlinkat(folder, name, 0) != 0)
            why = std::string("it cannot be removed: ") + std::strerror(errno);
    }
    ::close(fd);
    if (!why.empty()) return keep(why, inUse ? EBUSY : EEXIST);
    if (kept) kept->clear();
    return true;
}

// ---------------------------------------------------------------------------
// cReplacementFile

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

bool cReplacementFile::fail() {
    const int error = errno;
    abandon();
    errno = error;
    return false;
}

bool cReplacementFile::begin(const char* given) {
    abandon();
    refusal_.clear();
    if (!given || !*given) {
        errno = ENOENT;
        return false;
    }
    // The file the links lead to is replaced, in its own folder: renaming
    // over the link would cut it.
    _guardchar<char> resolved;
    if (!resolveLinks(given, resolved, &refusal_)) return false;
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
    // Refused now, before anything is made or written.
    sTarget old;
    if (!lookAtTarget(target, old, refusal_)) return false;
    // Private while it is written when it replaces a file (that file's bits
    // and attributes come at flush()); a new file is made as the folder
    // makes any, so that the system gives it its bits and the folder's
    // default access control list as it would to open(O_CREAT, 0666).
    madeAsNew_ = !old.exists;
    const mode_t making = madeAsNew_ ? 0666 : 0600;
    int fd = gNamedOnly ? -1 : ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, making);
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
            fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, making);
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
    refusal_.clear();
    const int fd = static_cast<int>(descriptor());
    // What is at the name now: that is what the rename replaces.
    sTarget old;
    if (!lookAtTarget(target_.c_str(), old, refusal_)) return fail();
    if (old.exists) {
        // The owner first (only a privileged process may give a file away,
        // and a change of owner clears the set-id bits and a file's
        // capabilities), then the attributes, then the bits, which an access
        // control list's mask must agree with.  A group or owner the system
        // does not let us keep stays ours.
        struct stat mine;
        if (::fstat(fd, &mine) == 0 && (mine.st_uid != old.st.st_uid || mine.st_gid != old.st.st_gid) &&
            ::fchown(fd, old.st.st_uid, old.st.st_gid) != 0)
            (void)::fchown(fd, static_cast<uid_t>(-1), old.st.st_gid);
        if (!copyAttributes(old.fd, target_.c_str(), fd) || ::fchmod(fd, old.st.st_mode & 07777) != 0) return fail();
    } else if (newModeSet_ || !madeAsNew_) {
        // A mode asked for; or the target went away since begin(), and the
        // private file made to replace it gets a new file's bits.
        if (::fchmod(fd, newModeSet_ ? newMode_ : maskedFileMode(0666)) != 0) return fail();
    }
    if (::fsync(fd) != 0) return fail();
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

bool cReplacementFile::removeStaleTemporaries(const char* target, const void* formatStart, std::size_t formatBytes,
                                              std::vector<sLeftover>& found) {
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
        sLeftover l{folder + "/" + c, false, false, std::string()};
        l.removed = removeOwnLeftover(dirfd, c.c_str(), formatStart, formatBytes, &l.kept);
        l.inUse = !l.removed && errno == EBUSY;
        found.push_back(std::move(l));
    }
    ::closedir(dir);
    return true;
}
