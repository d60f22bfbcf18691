#include "netio/socketio.h"

#include <climits>

namespace {
int clampCount(unsigned int n) { return n > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(n); }
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
    return valid();
}

unsigned int cSocketIO::read(void* buf, unsigned int n) {
    if (!socket_) return 0;
    if (n == 0) return 0;
    int got = socket_->receive(buf, clampCount(n), nullptr);
    if (got > 0) return static_cast<unsigned int>(got);
    // The peer's orderly close is the end of the stream; anything else (a
    // time-out, a reset, no socket) is a failed transfer.
    return socket_->lastError() == cTCPSocket::errClosed && socket_->valid() ? 0 : kIOFailed;
}

unsigned int cSocketIO::write(void* buf, unsigned int n) {
    if (!socket_) return 0;
    if (n == 0) return 0;
    int sent = socket_->send(buf, clampCount(n));
    return sent > 0 ? static_cast<unsigned int>(sent) : kIOFailed;
}

void cSocketIO::close() {
    if (socket_) socket_->close();
    socket_ = nullptr;
    delete owned_;
    owned_ = nullptr;
}
