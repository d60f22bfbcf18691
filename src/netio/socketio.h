// cSocketIO: a connected TCP socket read and written through the byte-stream
// interface.  No seeking; the size is unknown (-1).
//
// A read is one receive of at most the read time-out's wait.  Following the
// interface's rules it returns 0 only when the peer has closed the connection
// (nothing more can be read) and kIOFailed when nothing arrived in time or the
// socket failed, so a reader can tell a complete reply from a stalled one.
#pragma once

#include "base/fileio.h"
#include "netio/tcpsocket.h"

class cSocketIO : public cFileIOTarget {
public:
    cSocketIO() = default;
    ~cSocketIO() override;
    cSocketIO(const cSocketIO&) = delete;
    cSocketIO& operator=(const cSocketIO&) = delete;

    // s becomes the socket in use; with own, the socket owned before is
    // deleted and s is owned (deleted with this object).  Returns valid().
    bool create(cTCPSocket* s, bool own);

    long long size() override { return -1; }
    unsigned int read(void* buf, unsigned int n) override;
    unsigned int write(void* buf, unsigned int n) override;
    bool set_fp(unsigned long long) override { return false; }
    bool set_fp_end(unsigned long long) override { return false; }
    bool set_eof(unsigned long long) override { return false; }
    // Closes the socket in use and forgets it; deletes the owned socket.
    void close() override;
    bool valid() override { return socket_ && socket_->valid(); }

    // The socket in use (null when none); its lastError() tells why a
    // transfer failed.
    cTCPSocket* socket() const { return socket_; }

private:
    cTCPSocket* owned_ = nullptr;
    cTCPSocket* socket_ = nullptr;
};
