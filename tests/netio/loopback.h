// Loopback helpers for the socket suites: a listener on 127.0.0.1 with an
// ephemeral port, a client connected to one, and small wrappers of the
// peer's side of a connection.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "netio/tcpsocket.h"

namespace qortest {

inline unsigned char kLoopback[4] = {127, 0, 0, 1};

class Listener {
public:
    explicit Listener(int backlog = 8) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, backlog) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        port_ = ntohs(sa.sin_port);
    }
    ~Listener() {
        if (fd_ >= 0) ::close(fd_);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int port() const { return port_; }

    // The next connection, or -1 when none comes within timeoutMs.
    int accept(int timeoutMs = 2000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return -1;
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
inline int closedPort() { return Listener().port(); }

// A client connected to a fresh listener, with the peer's end accepted.
struct Connected {
    Listener listener;
    cTCPClient client;
    int peer = -1;
    Connected() {
        if (client.connect(kLoopback, listener.port(), 2000)) peer = listener.accept();
    }
    ~Connected() {
        if (peer >= 0) ::close(peer);
    }
    void closePeer() {
        ::close(peer);
        peer = -1;
    }
};

inline bool sendAll(int fd, const std::string& s) {
    std::size_t off = 0;
    while (off < s.size()) {
        ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

// Everything the peer receives until the other side closes or is quiet for
// quietMs.
inline std::string recvAll(int fd, int quietMs = 500) {
    std::string out;
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, quietMs) != 1) break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    long long ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

}  // namespace qortest
