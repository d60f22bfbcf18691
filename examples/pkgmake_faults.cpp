// A library the pkgmake tests preload (LD_PRELOAD) to give the program the
// failures of file systems and disks this machine does not have, through
// the calls the program really makes.  PKGMAKE_FAULTS holds a list,
// separated by commas, of:
//   no-tmpfile  opening an unnamed temporary file (O_TMPFILE) fails with
//               EOPNOTSUPP, as on a file system that cannot make one;
//   dir-fsync   flushing a folder (fsync on a descriptor of a folder) fails
//               with EIO, as on a disk that failed.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fault(const char* name) {
    const char* list = getenv("PKGMAKE_FAULTS");
    const size_t n = strlen(name);
    for (const char* p = list; p && *p;) {
        const char* end = strchr(p, ',');
        const size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
        if (len == n && strncmp(p, name, n) == 0) return true;
        p = end ? end + 1 : nullptr;
    }
    return false;
}

bool refusedTmpfile(int flags) {
    if ((flags & O_TMPFILE) != O_TMPFILE || !fault("no-tmpfile")) return false;
    errno = EOPNOTSUPP;
    return true;
}

mode_t modeOf(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    if (refusedTmpfile(flags)) return -1;
    static auto real = next<int (*)(const char*, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    if (refusedTmpfile(flags)) return -1;
    static auto real = next<int (*)(const char*, int, ...)>("open64");
    return real(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    if (refusedTmpfile(flags)) return -1;
    static auto real = next<int (*)(int, const char*, int, ...)>("openat");
    return real(dir, path, flags, mode);
}

int __open_2(const char* path, int flags) {
    if (refusedTmpfile(flags)) return -1;
    static auto real = next<int (*)(const char*, int)>("__open_2");
    return real(path, flags);
}

int __open64_2(const char* path, int flags) {
    if (refusedTmpfile(flags)) return -1;
    static auto real = next<int (*)(const char*, int)>("__open64_2");
    return real(path, flags);
}

int fsync(int fd) {
    struct stat st;
    if (fault("dir-fsync") && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    static auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

}  // extern "C"
