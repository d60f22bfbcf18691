// cSocketIO: a connected TCP socket read and written through the byte-stream
// interface.  No seeking; the size is unknown (-1).
//
// A read is one receive of at most the read time-out's wait.  Following the
// interface's rules it returns 0 only when the peer has closed the connection
// (nothing more can be read) and kIOFailed when nothing arrived in time or the
// socket failed, so a reader can tell a complete reply from a stalled one;
// lastFailure() then says which it was.
//
// A deadline bounds the whole exchange, not each wait: every read and write
// waits at most until it, and once it has passed they fail at once, so a
// peer that trickles a byte now and then cannot hold the stream open past it.
#pragma once

#include "base/fileio.h"
#include "netio/tcpsocket.h"

class cSocketIO : public cFileIOTarget {
public:
    // Why the last read or write moved nothing.
    enum class eFailure {
        none,      // it moved bytes, or nothing was asked
        closed,    // the peer closed the connection (a read's orderly end)
        timedOut,  // nothing moved within the read or write time-out
        deadline,  // the deadline passed before or while waiting
        reset,     // the peer reset the connection (or closed it under a write)
        noSocket,  // no socket in use, or it is closed
        failed     // any other failure; the socket's lastSystemError() tells
    };

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

    // Reads and writes end at this time of cTCPSocket::nowMs(); -1 (the
    // default) for none.
    void setDeadline(long long atMs) { deadline_ = atMs; }
    long long deadline() const { return deadline_; }

    eFailure lastFailure() const { return failure_; }

private:
    // The wait for the next transfer: the time-out, or what is left until
    // the deadline when that is shorter.  False once the deadline passed.
    bool waitFor(const timeval& timeout, timeval& wait, bool& byDeadline) const;
    void noteFailure(bool byDeadline);
    // One receive or send within the time-out and the deadline.
    unsigned int transfer(void* buf, unsigned int n, bool reading);

    cTCPSocket* owned_ = nullptr;
    cTCPSocket* socket_ = nullptr;
    long long deadline_ = -1;
    eFailure failure_ = eFailure::none;
};
