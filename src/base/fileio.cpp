#include "base/fileio.h"

#include "base/sync.h"
#include "base/timeutil.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
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
