#include "netio/tcpsocket.h"

#include "base/sync.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// close() drains what the peer still sends so that the connection ends with
// FIN rather than RST, but a peer that keeps sending must not hold it: the
// drain stops after this much time or these many bytes, whichever comes first.
constexpr long long kDrainMaxMs = 250;
constexpr long long kDrainMaxBytes = 256 * 1024;
// One draining receive waits this long for more.
constexpr long kDrainQuietUs = 10000;
// read() receives in pieces of at most this size.
constexpr int kReadPiece = 1024;

long long monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A time-out as a count of milliseconds, partial milliseconds rounded up so
// that a wait of 1 us still waits; negative values do not wait.
long long toMs(const timeval& tv) {
    if (tv.tv_sec < 0 || tv.tv_usec < 0) return 0;
    long long ms = 0;
    if (tv.tv_sec > LLONG_MAX / 1000 - 1) return LLONG_MAX / 2;
    ms = static_cast<long long>(tv.tv_sec) * 1000 + (tv.tv_usec + 999) / 1000;
    return ms;
}

timeval fromMs(int ms) {
    if (ms < 0) ms = 0;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

// poll() on one descriptor, resumed after signals until the deadline; the
// result of the last poll (-1 failure, 0 time-out, 1 ready).
int pollFor(int fd, short events, long long timeoutMs, short& revents) {
    const long long deadline = monotonicMs() + timeoutMs;
    for (;;) {
        long long left = deadline - monotonicMs();
        if (left < 0) left = 0;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (r > 0) {
            revents = p.revents;
            return 1;
        }
        if (r == 0) {
            if (left >= INT_MAX) continue;  // a wait longer than one poll can take
            return 0;
        }
        if (errno != EINTR) return -1;
    }
}

bool setBlocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return wanted == flags || fcntl(fd, F_SETFL, wanted) == 0;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly four decimal numbers 0..255 joined by dots and nothing else.  A
// leading zero is refused: "010" reads as octal 8 elsewhere.
bool parseDottedQuad(const char* p, unsigned char (&ip)[4]) {
    unsigned char out[4];
    for (int i = 0; i < 4; ++i) {
        if (!isDigit(*p)) return false;
        if (*p == '0' && isDigit(p[1])) return false;
        int v = 0, digits = 0;
        while (isDigit(*p)) {
            if (++digits > 3) return false;
            v = v * 10 + (*p++ - '0');
        }
        if (v > 255) return false;
        out[i] = static_cast<unsigned char>(v);
        if (i < 3 && *p++ != '.') return false;
    }
    if (*p != '\0') return false;
    std::memcpy(ip, out, 4);
    return true;
}

// A name the resolver may be asked about: labels of letters, digits, '-' and
// '_', 1 to 63 bytes each, not beginning or ending with '-', 253 bytes in all
// (one trailing dot allowed); the last label is not all digits, since such a
// name could only be a malformed address.
bool plausibleHostName(const char* text) {
    std::size_t n = std::strlen(text);
    if (n > 0 && text[n - 1] == '.') --n;
    if (n == 0 || n > 253) return false;
    std::size_t labelStart = 0;
    bool allDigits = true;
    for (std::size_t i = 0; i <= n; ++i) {
        char c = i < n ? text[i] : '.';
        if (c == '.') {
            std::size_t len = i - labelStart;
            if (len == 0 || len > 63) return false;
            if (text[labelStart] == '-' || text[i - 1] == '-') return false;
            if (i == n && allDigits) return false;
            labelStart = i + 1;
            allDigits = true;
            continue;
        }
        bool ok = isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
        if (!ok) return false;
        if (!isDigit(c)) allDigits = false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------

cTCPSocket::cTCPSocket() = default;

cTCPSocket::~cTCPSocket() { close(); }

bool cTCPSocket::create(int fd) {
    close();
    fd_ = fd < 0 ? -1 : fd;
    return fd_ != -1;
}

void cTCPSocket::close() {
    if (fd_ == -1) return;
    // The drain and the close run to their end even in a job being cancelled:
    // this runs from the destructor (see cCancellationHold).
    cCancellationHold hold;
    ::shutdown(fd_, SHUT_WR);
    char scratch[kReadPiece];
    const timeval quiet{0, kDrainQuietUs};
    const long long deadline = monotonicMs() + kDrainMaxMs;
    long long drained = 0;
    for (;;) {
        int n = receive(scratch, sizeof scratch, &quiet);
        if (n <= 0) break;
        drained += n;
        if (drained >= kDrainMaxBytes || monotonicMs() >= deadline) break;
    }
    ::close(fd_);
    fd_ = -1;
}

void cTCPSocket::setReadTO(int ms) { readTO_ = fromMs(ms); }

void cTCPSocket::setWriteTO(int ms) { writeTO_ = fromMs(ms); }

long long cTCPSocket::nowMs() { return monotonicMs(); }

bool cTCPSocket::waitWithin(long long deadline, long long mostMs, long long& waitMs, bool& byDeadline) {
    waitMs = mostMs;
    byDeadline = false;
    if (deadline < 0) return true;
    const long long left = deadline - nowMs();
    if (left <= 0) return false;
    if (left < mostMs) {
        waitMs = left;
        byDeadline = true;
    }
    return true;
}

int cTCPSocket::receive(void* buf, int len, const timeval* wait) {
    lastErrno_ = 0;
    if (fd_ == -1) {
        lastError_ = errClosed;
        return 0;
    }
    if (!buf || len <= 0) {
        lastError_ = errNone;
        return 0;
    }
    // Data already queued is taken without a wait; only an empty queue polls.
    bool waited = false;
    for (;;) {
        ssize_t n = ::recv(fd_, buf, static_cast<std::size_t>(len), MSG_DONTWAIT);
        if (n > 0) {
            lastError_ = errNone;
            return static_cast<int>(n);
        }
        if (n == 0) {
            lastError_ = errClosed;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            lastError_ = errSystem;
            lastErrno_ = errno;
            return 0;
        }
        if (waited) {  // readable, yet nothing there: counts as a quiet wait
            lastError_ = errRefusedOrIdle;
            return 0;
        }
        short revents = 0;
        int r = pollFor(fd_, POLLIN, toMs(wait ? *wait : readTO_), revents);
        if (r < 0) {
            lastError_ = errSystem;
            lastErrno_ = errno;
            return 0;
        }
        if (r == 0) {
            lastError_ = errRefusedOrIdle;
            return 0;
        }
        if (!(revents & (POLLIN | POLLHUP)) && (revents & (POLLERR | POLLNVAL))) {
            // The pending error says what happened (a reset, an unreachable
            // peer); reading it also clears it.
            int soError = 0;
            socklen_t soLen = sizeof soError;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &soLen) == 0) lastErrno_ = soError;
            lastError_ = errException;
            return 0;
        }
        waited = true;
    }
}

int cTCPSocket::read(void* buf, int len) {
    if (len <= 0 || !buf) return 0;
    auto* out = static_cast<unsigned char*>(buf);
    int got = 0;
    while (got < len) {
        int piece = len - got < kReadPiece ? len - got : kReadPiece;
        int n = receive(out + got, piece, nullptr);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

bool cTCPSocket::readf(void* buf, int len) { return read(buf, len) == len; }

int cTCPSocket::send(const void* buf, int len, const timeval* wait) {
    lastErrno_ = 0;
    if (fd_ == -1) {
        lastError_ = errClosed;
        return 0;
    }
    if (!buf || len <= 0) {
        lastError_ = errNone;
        return 0;
    }
    // Blocking-send semantics with a bound: keep sending while the peer takes
    // bytes, and stop when the write time-out passes without the rest going
    // out.  MSG_NOSIGNAL turns a send to a closed peer into EPIPE.
    const auto* p = static_cast<const unsigned char*>(buf);
    const long long deadline = monotonicMs() + toMs(wait ? *wait : writeTO_);
    int sent = 0;
    while (sent < len) {
        ssize_t n = ::send(fd_, p + sent, static_cast<std::size_t>(len - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (sent > 0) break;  // report what went out; the next send sees the error
            lastError_ = errSystem;
            lastErrno_ = errno;
            return 0;
        }
        long long left = deadline - monotonicMs();
        short revents = 0;
        int r = left > 0 ? pollFor(fd_, POLLOUT, left, revents) : 0;
        if (r < 0) {
            if (sent > 0) break;
            lastError_ = errSystem;
            lastErrno_ = errno;
            return 0;
        }
        if (r == 0) {
            if (sent > 0) break;
            lastError_ = errRefusedOrIdle;
            return 0;
        }
        if (!(revents & POLLOUT) && (revents & (POLLERR | POLLHUP | POLLNVAL))) {
            // Let the next send report the socket's error.
            continue;
        }
    }
    lastError_ = errNone;
    return sent;
}

bool cTCPSocket::writef(const void* buf, int len) { return send(buf, len) == len; }

long long cTCPSocket::sendSource(cXCSourceStream* src, bool* sentAll) {
    *sentAll = false;
    if (!src) return 0;
    long long total = 0;
    int len = 0;
    for (;;) {
        const void* chunk = src->nextChunk(len);
        if (!chunk || len <= 0) {
            *sentAll = true;
            return total;
        }
        int n = send(chunk, len);
        total += n;
        if (n < len) return total;
    }
}

long long cTCPSocket::write(cXCSourceStream* src) {
    bool all = false;
    return sendSource(src, &all);
}

bool cTCPSocket::writef(cXCSourceStream* src) {
    bool all = false;
    sendSource(src, &all);
    return all;
}

bool cTCPSocket::ipv4fromsock(unsigned char (&ip)[4]) {
    if (fd_ == -1) {
        lastError_ = errClosed;
        return false;
    }
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0 || sa.sin_family != AF_INET) {
        lastError_ = errSystem;
        return false;
    }
    std::memcpy(ip, &sa.sin_addr.s_addr, 4);
    return true;
}

// ---------------------------------------------------------------------------

bool cTCPClient::connect(const char* host, int port, int timeoutMs) {
    close();
    unsigned char ip[4];
    if (!strToIPv4(host, ip)) {
        lastError_ = errClosed;
        return false;
    }
    return connect(ip, port, timeoutMs);
}

bool cTCPClient::connect(unsigned char (&ip)[4], int port, int timeoutMs) {
    close();
    // A port outside 1..65535 is refused, not cut to 16 bits into another one.
    if (port < 1 || port > 0xFFFF) {
        lastError_ = errClosed;
        return false;
    }
    peer_ = sockaddr_in{};
    peer_.sin_family = AF_INET;
    peer_.sin_port = htons(static_cast<unsigned short>(port));
    std::memcpy(&peer_.sin_addr.s_addr, ip, 4);

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        lastError_ = errSystem;
        lastErrno_ = errno;
        return false;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    // The attempt runs non-blocking so that the time-out bounds it; the
    // connected socket goes back to blocking mode.
    auto fail = [&](int code, int sysErrno) {
        ::close(fd);
        lastError_ = code;
        lastErrno_ = sysErrno;
        return false;
    };
    if (!setBlocking(fd, false)) return fail(errSystem, errno);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) return fail(errRefusedOrIdle, errno);
        short revents = 0;
        int r = pollFor(fd, POLLOUT, timeoutMs < 0 ? 0 : timeoutMs, revents);
        if (r == 0) return fail(errTimedOut, 0);
        if (r < 0) return fail(errSystem, errno);
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) return fail(errSystem, errno);
        if (soError == ECONNREFUSED) return fail(errRefusedOrIdle, soError);
        if (soError != 0 || !(revents & POLLOUT)) return fail(errException, soError);
    }
    if (!setBlocking(fd, true)) return fail(errSystem, errno);
    fd_ = fd;
    return true;
}

// ---------------------------------------------------------------------------

bool strToIPv4(const char* text, unsigned char (&ip)[4]) {
    if (!text) return false;
    if (parseDottedQuad(text, ip)) return true;
    // The resolver reads looser numeric forms of its own ("127.1", "0x7f.1",
    // "010.0.0.1" as octal); text that it would take as an address, but that
    // is not a plain dotted quad, is refused rather than reinterpreted.
    in_addr loose{};
    if (inet_aton(text, &loose) != 0) return false;
    if (!plausibleHostName(text)) return false;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text, nullptr, &hints, &found) != 0 || !found) return false;
    bool ok = false;
    for (addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr && a->ai_addrlen >= sizeof(sockaddr_in)) {
            const auto* sa = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            std::memcpy(ip, &sa->sin_addr.s_addr, 4);
            ok = true;
            break;
        }
    }
    ::freeaddrinfo(found);
    return ok;
}

bool initSockLib() { return true; }
