#include "netio/socketio.h"

#include <cerrno>
#include <climits>

namespace {
int clampCount(unsigned int n) { return n > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

long long wholeMs(const timeval& tv) {
    if (tv.tv_sec < 0 || tv.tv_usec < 0) return 0;
    return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}
}  // namespace

cSocketIO::~cSocketIO() { delete owned_; }

bool cSocketIO::create(cTCPSocket* s, bool own) {
    if (own && owned_ != s) {
        // The socket in use may be the one owned so far: forget it with it.
        if (socket_ == owned_) socket_ = nullptr;
        delete owned_;
        owned_ = s;
    }
    socket_ = s;
    failure_ = eFailure::none;
    return valid();
}

bool cSocketIO::waitFor(const timeval& timeout, timeval& wait, bool& byDeadline) const {
    wait = timeout;
    long long left = 0;
    if (!cTCPSocket::waitWithin(deadline_, wholeMs(timeout), left, byDeadline)) return false;
    if (byDeadline) {
        wait.tv_sec = static_cast<time_t>(left / 1000);
        wait.tv_usec = static_cast<suseconds_t>((left % 1000) * 1000);
    }
    return true;
}

void cSocketIO::noteFailure(bool byDeadline) {
    switch (socket_->lastError()) {
        case cTCPSocket::errClosed:
            failure_ = socket_->valid() ? eFailure::closed : eFailure::noSocket;
            return;
        case cTCPSocket::errRefusedOrIdle:
            failure_ = byDeadline ? eFailure::deadline : eFailure::timedOut;
            return;
        default: {
            const int e = socket_->lastSystemError();
            failure_ = e == ECONNRESET || e == EPIPE || e == ECONNABORTED ? eFailure::reset : eFailure::failed;
            return;
        }
    }
}

unsigned int cSocketIO::transfer(void* buf, unsigned int n, bool reading) {
    if (!socket_) {
        failure_ = eFailure::noSocket;
        return 0;
    }
    failure_ = eFailure::none;
    if (n == 0) return 0;
    timeval wait;
    bool byDeadline = false;
    if (!waitFor(reading ? socket_->readTO() : socket_->writeTO(), wait, byDeadline)) {
        failure_ = eFailure::deadline;
        return kIOFailed;
    }
    const int moved =
        reading ? socket_->receive(buf, clampCount(n), &wait) : socket_->send(buf, clampCount(n), &wait);
    if (moved > 0) return static_cast<unsigned int>(moved);
    // The peer's orderly close is the end of what can be read; anything else
    // (a time-out, a reset, no socket) is a failed transfer.
    noteFailure(byDeadline);
    return reading && failure_ == eFailure::closed ? 0 : kIOFailed;
}

unsigned int cSocketIO::read(void* buf, unsigned int n) { return transfer(buf, n, true); }

unsigned int cSocketIO::write(void* buf, unsigned int n) { return transfer(buf, n, false); }

void cSocketIO::close() {
    if (socket_) socket_->close();
    socket_ = nullptr;
    delete owned_;
    owned_ = nullptr;
}
