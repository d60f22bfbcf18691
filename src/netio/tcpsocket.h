// A thin IPv4 TCP client layer over BSD sockets.
//
// cTCPSocket   a connected stream socket: receives wait with poll for at most
//              the read time-out, sends give up after the write time-out, and
//              every failure leaves its reason in lastError()
// cTCPClient   adds connecting by host name or dotted address, bounded by a
//              time-out
// strToIPv4    a strict dotted quad, or a name resolved with getaddrinfo
//
// Everything blocks and belongs to one thread at a time; there is no
// listening side.
#pragma once

#include <netinet/in.h>
#include <sys/time.h>

// A caller-supplied source of bytes for cTCPSocket::write(src).
class cXCSourceStream {
public:
    virtual ~cXCSourceStream() = default;
    // The next chunk to send, its length stored in len; null or a length of 0
    // ends the stream.  The socket sets len to 0 before the first call only.
    virtual const void* nextChunk(int& len) = 0;
};

class cTCPSocket {
public:
    // lastError() codes.
    enum {
        errNone = 0,
        errSystem = 1,      // socket creation, poll or the system call failed
        errTimedOut = 2,    // connect: no connection within the time-out
        errException = 3,   // the socket reported an error condition
        errClosed = 4,      // no socket, the peer closed, or the name did not resolve
        errRefusedOrIdle = 5  // connect: refused; receive/send: nothing moved within the time-out
    };

    cTCPSocket();
    virtual ~cTCPSocket();
    cTCPSocket(const cTCPSocket&) = delete;
    cTCPSocket& operator=(const cTCPSocket&) = delete;

    // Closes what is held and adopts fd; true when fd is not -1.
    bool create(int fd);
    // Half-closes, drains what the peer still sends (bounded by time and
    // bytes), then closes the descriptor.
    void close();
    bool valid() const { return fd_ != -1; }
    int descriptor() const { return fd_; }

    void setReadTO(int ms);
    void setWriteTO(int ms);
    const timeval& readTO() const { return readTO_; }
    const timeval& writeTO() const { return writeTO_; }

    // At most one wait (wait, or the read time-out when null) and one receive
    // of at most len bytes; the count received, 0 on any failure.
    int receive(void* buf, int len, const timeval* wait);
    // Receives of at most 1024 bytes until len bytes came or one came back
    // empty; the count received.
    int read(void* buf, int len);
    bool readf(void* buf, int len);

    // One send of at most len bytes that gives up after the write time-out;
    // the count sent (possibly short), 0 on failure.  A peer that has gone
    // fails with errSystem instead of raising SIGPIPE.
    int send(const void* buf, int len) { return send(buf, len, nullptr); }
    // The same, giving up after wait instead (null: the write time-out).
    int send(const void* buf, int len, const timeval* wait);
    int write(const void* buf, int len) { return send(buf, len); }
    bool writef(const void* buf, int len);
    // Sends a source stream chunk by chunk; the total count sent.
    long long write(cXCSourceStream* src);
    bool writef(cXCSourceStream* src);

    int lastError() const { return lastError_; }
    // The system's error number behind the last errSystem or errException
    // (ECONNRESET for a connection the peer reset, ...); 0 after a transfer
    // that succeeded or failed for another reason.
    int lastSystemError() const { return lastErrno_; }
    // Milliseconds of the monotonic clock that the socket's waits are
    // measured on: the clock to set a deadline by.
    static long long nowMs();
    // The wait left before `deadline` (a time of nowMs(); -1 for none), at
    // most `mostMs`: waitMs receives it, and byDeadline whether the
    // deadline is what cut it.  False once the deadline has passed.
    static bool waitWithin(long long deadline, long long mostMs, long long& waitMs, bool& byDeadline);
    // The connected peer's address, four bytes in network order.
    bool ipv4fromsock(unsigned char (&ip)[4]);

protected:
    // One pass over src; *sentAll tells whether the source ran out.
    long long sendSource(cXCSourceStream* src, bool* sentAll);

    int fd_ = -1;
    timeval readTO_{20, 0};
    timeval writeTO_{20, 0};
    int lastError_ = errNone;
    int lastErrno_ = 0;
    sockaddr_in peer_{};
};

class cTCPClient : public cTCPSocket {
public:
    // Resolves host (a dotted quad or a name) and connects to it.
    bool connect(const char* host, int port, int timeoutMs);
    // Connects to the address, waiting at most timeoutMs for the handshake.
    bool connect(unsigned char (&ip)[4], int port, int timeoutMs);
};

// A dotted quad of four decimal numbers 0 to 255 (no signs, blanks, leading
// zeros or trailing text), else a host name looked up for an IPv4 address.
// Text that is neither (a malformed number, a name with bad characters) is
// refused without a lookup.
bool strToIPv4(const char* text, unsigned char (&ip)[4]);

// Nothing to set up on this platform; true.
bool initSockLib();
