#include "base/folders.h"

#include "base/checked.h"
#include "base/strutil.h"
#include "base/sync.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr unsigned int kNoTime = 0xFFFFFFFFu;

int typeOfMode(mode_t mode) {
    if (S_ISREG(mode)) return fsoFile;
    if (S_ISDIR(mode)) return fsoFolder;
    if (S_ISLNK(mode)) return fsoLink;
    if (S_ISBLK(mode)) return fsoBlockDevice;
    if (S_ISCHR(mode)) return fsoCharDevice;
    if (S_ISSOCK(mode)) return fsoSocket;
    return fsoOther;
}

bool isFolder(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool setBothTimes(const char* path, time_t t) {
    struct timeval tv[2];
    tv[0].tv_sec = t;
    tv[0].tv_usec = 0;
    tv[1] = tv[0];
    return ::utimes(path, tv) == 0;
}

// folder + name with one '/' between them (none added after a trailing '/'
// or '\').  Built at whatever length it takes: a path is never cut short.
std::string joinPath(const char* folder, const char* name) {
    std::string out(folder);
    if (!out.empty() && out.back() != '/' && out.back() != '\\') out.push_back('/');
    out.append(name);
    return out;
}

// The matcher behind wcmatch, on a mask of known length.  A '*' remembers
// where it stood; on a mismatch the name position after the star advances by
// one and the mask resumes after the star.  Only the latest star needs
// remembering (an earlier star can absorb nothing a later one cannot), so
// each name byte is tried against at most the whole mask: O(n x m), never
// the exponential retrying of a recursive matcher.
bool matchMask(const unsigned char* name, const unsigned char* mask, std::size_t maskLen) {
    std::size_t m = 0;
    const unsigned char* starName = nullptr;
    std::size_t starMask = 0;
    bool haveStar = false;
    while (*name) {
        if (m < maskLen && mask[m] == '*') {
            while (m < maskLen && mask[m] == '*') ++m;
            if (m == maskLen) return true;
            haveStar = true;
            starMask = m;
            starName = name;
            continue;
        }
        if (m < maskLen && (mask[m] == '?' || mask[m] == *name)) {
            ++m;
            ++name;
            continue;
        }
        if (!haveStar) return false;
        m = starMask;
        name = ++starName;
    }
    while (m < maskLen && mask[m] == '*') ++m;
    return m == maskLen;
}

bool isUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// A folder open for reading, closed however the reading ends: an allocation
// that fails part-way through a listing throws past the loop.
struct sDirCloser {
    void operator()(DIR* d) const {
        cCancellationHold hold;  // runs from destructors
        ::closedir(d);
    }
};
using tOpenDir = std::unique_ptr<DIR, sDirCloser>;

}  // namespace

// ---------------------------------------------------------------------------
// Static operations

int cFolderContents::objtype(const char* path) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return fsoNone;
    return typeOfMode(st.st_mode);
}

bool cFolderContents::setPermissions(const char* path, unsigned char owner, unsigned char group,
                                     unsigned char other) {
    if (!path || owner > 7 || group > 7 || other > 7) return false;
    const mode_t mode = static_cast<mode_t>(owner * 64 + group * 8 + other);
    return ::chmod(path, mode) == 0;
}

int cFolderContents::getEffectivePermissions(const char* path) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return 8;
    int perms = 0;
    if (::access(path, R_OK) == 0) perms |= 4;
    if (::access(path, W_OK) == 0) perms |= 2;
    if (::access(path, X_OK) == 0) perms |= 1;
    return perms;
}

bool cFolderContents::canRead(const char* path) { return path && ::access(path, R_OK) == 0; }

bool cFolderContents::canWrite(const char* path) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return false;
    if (::geteuid() == 0) return true;
    return ::access(path, W_OK) == 0;
}

bool cFolderContents::canExecute(const char* path) { return path && ::access(path, X_OK) == 0; }

bool cFolderContents::pathCaseSensetive(const char*) { return true; }

bool cFolderContents::wcmatch(const char* name, const char* mask) {
    if (!name) return false;
    if (!mask || !*mask) return true;
    return matchMask(reinterpret_cast<const unsigned char*>(name), reinterpret_cast<const unsigned char*>(mask),
                     std::strlen(mask));
}

bool cFolderContents::wcmmatch(const char* name, const char* masks) {
    if (!masks || !*masks) return true;
    if (!name) return false;
    const char* piece = masks;
    for (;;) {
        const char* end = std::strchr(piece, ';');
        const std::size_t len = end ? static_cast<std::size_t>(end - piece) : std::strlen(piece);
        // The piece after a final ';' is no piece at all.
        if (!end && len == 0) return false;
        if (len == 0) return true;
        if (matchMask(reinterpret_cast<const unsigned char*>(name), reinterpret_cast<const unsigned char*>(piece), len))
            return true;
        if (!end) return false;
        piece = end + 1;
    }
}

bool cFolderContents::mkdir(const char* path) {
    if (!path || !*path) return false;
    if (::mkdir(path, 0775) == 0) return true;
    return errno == EEXIST && isFolder(path);
}

bool cFolderContents::removeDir(const char* path) {
    if (!path || !*path) return false;
    if (::rmdir(path) == 0) return true;
    if (errno != ENOENT) return false;
    // ENOENT also comes from a missing parent; either way nothing by that
    // name is there, unless a dangling link holds the name.
    struct stat st;
    return ::lstat(path, &st) != 0;
}

bool cFolderContents::getExtInfo(const char* path, sFsObjExtInfo& info) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0) return false;
    info.mode = static_cast<unsigned int>(st.st_mode);
    unixToLocalTimestamp(st.st_ctime, info.changed);
    unixToLocalTimestamp(st.st_atime, info.accessed);
    unixToLocalTimestamp(st.st_mtime, info.modified);
    info.size = static_cast<unsigned long long>(st.st_size);
    return true;
}

bool cFolderContents::setTime(const char* path, unsigned int local, unsigned int, unsigned int) {
    if (!path || local == kNoTime) return false;
    const unsigned int utc = static_cast<unsigned int>(localToUTC(local));
    return setBothTimes(path, static_cast<time_t>(utc));
}

bool cFolderContents::setTime(const char* path, int year, int month, int day, int hour, int minute, int second) {
    long long t = 0;
    return path && localFieldsToUnix(year, month, day, hour, minute, second, t) &&
           setBothTimes(path, static_cast<time_t>(t));
}

void cFolderContents::adjustPath(char*) {}

bool cFolderContents::getHome(_guardchar<char>& out) {
    const char* home = std::getenv("HOME");
    // An empty HOME would put the configuration folder at the root.
    if (!home || !*home) return false;
    out.set(home);
    return true;
}

bool cFolderContents::getTempFolder(_guardchar<char>& out) {
    out.set("/tmp");
    return true;
}

namespace {

// A configuration name names one folder: a '/' would reach elsewhere, and
// "", "." and ".." name the folder it is made in or its parent.
bool oneFolderName(const char* name) {
    if (name && *name && !std::strchr(name, '/') && std::strcmp(name, ".") && std::strcmp(name, "..")) return true;
    errno = EINVAL;
    return false;
}

}  // namespace

bool cFolderContents::getConfigFolder(_guardchar<char>& out, const char* name) {
    if (!oneFolderName(name)) return false;
    if (!getHome(out)) return false;
    std::string path = std::string(out.c_str()) + "/." + name;
    if (!mkdir(path.c_str())) return false;
    out.set(path.c_str());
    return true;
}

bool cFolderContents::getSysConfigFolder(_guardchar<char>& out, const char* name) {
    if (!oneFolderName(name)) return false;
    if (!isFolder("/etc") || !mkdir("/etc/qorcfg")) return false;
    const std::string path = std::string("/etc/qorcfg/") + name;
    if (!mkdir(path.c_str())) return false;
    out.set(path.c_str());
    return true;
}

bool cFolderContents::getShortcutsFolder(_guardchar<char>&, const char*, bool) { return false; }

long long cFolderContents::safeName(const char* source, char* dest, long long size) {
    if (!dest || size < 1) return 0;
    dest[0] = 0;
    if (!source) return 0;

    const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
    while (*s && (*s < 32 || __acp_isspace(static_cast<char>(*s)))) ++s;
    if (!*s) return 0;

    long long n = 0;
    while (s[n] && n < size - 1) {
        unsigned char c = s[n];
        switch (c) {
            case '"': c = '\''; break;
            case '*': c = '@'; break;
            case '/': c = '='; break;
            case ':':
            case '|': c = '_'; break;
            case '?': c = '~'; break;
            default:
                if (c < 32) c = ' ';
                break;
        }
        dest[n++] = static_cast<char>(c);
    }

    // Cut inside a UTF-8 character: leave the whole character out.
    if (s[n] && isUtf8Continuation(s[n])) {
        long long j = n;
        while (j > 0 && n - j < 3 && isUtf8Continuation(s[j - 1])) --j;
        if (j > 0 && s[j - 1] >= 0xC0) n = j - 1;
    }
    while (n > 0 && __acp_isspace(dest[n - 1])) --n;
    dest[n] = 0;

    if ((n == 1 && dest[0] == '.') || (n == 2 && dest[0] == '.' && dest[1] == '.')) {
        dest[0] = 0;
        return 0;
    }
    return n;
}

bool cFolderContents::getVolInfo(const char* path, unsigned long long& total, unsigned long long& available) {
    struct statvfs vs;
    if (!path || ::statvfs(path, &vs) != 0) return false;
    // f_frsize is the unit of the block counts; f_bsize is only the
    // preferred transfer size.
    const unsigned long long unit = vs.f_frsize ? vs.f_frsize : vs.f_bsize;
    unsigned long long t = 0, a = 0;
    if (!checked_mul(unit, static_cast<unsigned long long>(vs.f_blocks), t) ||
        !checked_mul(unit, static_cast<unsigned long long>(vs.f_bavail), a))
        return false;
    total = t;
    available = a;
    return true;
}

bool cFolderContents::isDirEmpty(const char* path) {
    if (!path) return false;
    const tOpenDir dir(::opendir(path));
    if (!dir) return false;
    const int fd = ::dirfd(dir.get());
    bool empty = true;
    errno = 0;
    while (struct dirent* e = ::readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat st;
        // Relative to the open folder: no path to build, none too long.
        if (::fstatat(fd, e->d_name, &st, 0) == 0) {
            empty = false;
            break;
        }
        errno = 0;
    }
    // A read error part-way says nothing about what is left unread.
    if (empty && errno != 0) empty = false;
    return empty;
}

// ---------------------------------------------------------------------------
// Listing

bool cFolderContents::init(const char* path, bool onlyFilesAndFolders) { return init(path, onlyFilesAndFolders, nullptr); }

bool cFolderContents::init(const char* path, bool onlyFilesAndFolders, std::vector<sFolderLeftOut>* leftOut,
                           bool askReading) {
    entries_.clear();
    if (!isFolder(path)) return false;
    folder_.set(path);
    const tOpenDir dir(::opendir(path));
    if (!dir) return false;
    const int fd = ::dirfd(dir.get());
    bool ok = true;
    const std::size_t leftBefore = leftOut ? leftOut->size() : 0;
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(dir.get());
        if (!e) {
            // A listing that stopped on a read error is not the folder's
            // contents; report it rather than hand out part of it.
            ok = errno == 0;
            break;
        }
        const char* name = e->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        struct stat st;
        if (::fstatat(fd, name, &st, 0) != 0) {
            // A dangling link, a circle of links, or gone meanwhile.
            if (leftOut) {
                sFolderLeftOut& out = leftOut->emplace_back();
                out.name = name;
                out.error = errno;
                struct stat self;
                if (::fstatat(fd, name, &self, AT_SYMLINK_NOFOLLOW) == 0) out.mode = self.st_mode;
            }
            continue;
        }
        const int type = typeOfMode(st.st_mode);
        if (onlyFilesAndFolders && type != fsoFile && type != fsoFolder) {
            if (leftOut) {
                sFolderLeftOut& out = leftOut->emplace_back();
                out.name = name;
                out.mode = st.st_mode;
            }
            continue;
        }
        sFolderItemInfo& item = entries_.emplace_back();
        item.name.set(name);
        item.size = static_cast<unsigned long long>(st.st_size);
        item.type = type;
        item.hidden = name[0] == '.' ? 1 : 0;
        unixToLocalTimestamp(st.st_mtime, item.modified);
        item.device = static_cast<std::uint64_t>(st.st_dev);
        item.inode = static_cast<std::uint64_t>(st.st_ino);
        item.mode = static_cast<unsigned int>(st.st_mode & 07777);
        item.modifiedSec = st.st_mtim.tv_sec;
        item.modifiedNsec = st.st_mtim.tv_nsec;
        item.changedSec = st.st_ctim.tv_sec;
        item.changedNsec = st.st_ctim.tv_nsec;
        if (askReading && type == fsoFile) item.readError = ::faccessat(fd, name, R_OK, AT_EACCESS) == 0 ? 0 : errno;
    }
    if (!ok) {
        entries_.clear();
        if (leftOut) leftOut->resize(leftBefore);
    }
    return ok;
}

void cFolderContents::sortByName() {
    // strcmp compares bytes as unsigned char: UTF-8 text sorts by code point.
    std::sort(entries_.begin(), entries_.end(), [](const sFolderItemInfo& a, const sFolderItemInfo& b) {
        return std::strcmp(a.name.get() ? a.name.get() : "", b.name.get() ? b.name.get() : "") < 0;
    });
}

bool cFolderContents::enumSpecialLocations() { return enumSpecialLocations("/Volumes"); }

bool cFolderContents::enumSpecialLocations(const char* volumesRoot) {
    entries_.clear();
    folder_.clear();
    auto add = [this](const char* display, const char* path) {
        sFolderItemInfo& item = entries_.emplace_back();
        item.displayName.set(display);
        item.name.set(path);
        item.type = fsoSpecialPlace;
    };

    _guardchar<char> home;
    if (getHome(home)) add("Home folder", home.c_str());
    add("File system", "/");

    struct stat rootSt;
    struct statvfs rootVfs;
    if (!volumesRoot || ::stat(volumesRoot, &rootSt) != 0 || !S_ISDIR(rootSt.st_mode) ||
        ::statvfs(volumesRoot, &rootVfs) != 0)
        return true;

    // A volume is told apart by the device of its file system: a volume
    // reached by several names, and the one holding the volumes folder
    // itself (the start-up volume), are offered only once or not at all.
    std::vector<dev_t> seen{rootSt.st_dev};
    cFolderContents volumes;
    if (!volumes.init(volumesRoot, true)) return true;
    for (int i = 0; i < volumes.count(); ++i) {
        const sFolderItemInfo* v = volumes.info(i);
        if (!v || v->type != fsoFolder) continue;
        const std::string path = joinPath(volumesRoot, v->name.c_str()) + "/";
        struct stat st;
        struct statvfs vs;
        if (::stat(path.c_str(), &st) != 0 || ::statvfs(path.c_str(), &vs) != 0) continue;
        bool known = false;
        for (dev_t d : seen) known = known || d == st.st_dev;
        if (known) continue;
        seen.push_back(st.st_dev);
        add(v->name.c_str(), path.c_str());
    }
    return true;
}

bool cFolderContents::destroy() {
    entries_.clear();
    return true;
}

const char* cFolderContents::folder() const { return folder_.empty() ? nullptr : folder_.c_str(); }

int cFolderContents::count() const { return static_cast<int>(entries_.size()); }

sFolderItemInfo* cFolderContents::info(int i) {
    if (i < 0 || static_cast<std::size_t>(i) >= entries_.size()) return nullptr;
    return &entries_[static_cast<std::size_t>(i)];
}

bool cFolderContents::path(int i, _guardchar<char>& out) const {
    if (i < 0 || static_cast<std::size_t>(i) >= entries_.size()) return false;
    const sFolderItemInfo& item = entries_[static_cast<std::size_t>(i)];
    const char* name = item.name.c_str() ? item.name.c_str() : "";
    if (folder_.empty()) {
        out.set(name);
        return true;
    }
    out.set(joinPath(folder_.c_str(), name).c_str());
    return true;
}

bool cFolderContents::getExtInfo(int i, sFsObjExtInfo& info) const {
    _guardchar<char> full;
    if (!path(i, full)) return false;
    return getExtInfo(full.c_str(), info);
}
