#include "netio/socketio.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <string>

using qortest::Connected;
using qortest::kLoopback;
using qortest::Listener;
using qortest::Stopwatch;

namespace {

// A socket that tells when it is deleted.
class CountedSocket : public cTCPClient {
public:
    explicit CountedSocket(int* deleted) : deleted_(deleted) {}
    ~CountedSocket() override { ++*deleted_; }

private:
    int* deleted_;
};


TEST(SocketIO, ReadsAndWritesTheConnectionAndCannotSeek) {
    Connected k;
    ASSERT_GE(k.peer, 0);
    cSocketIO io;
    char none[4];
    EXPECT_FALSE(io.valid());  // without a socket nothing moves
    EXPECT_EQ(io.read(none, 4), 0u);
    EXPECT_EQ(io.write(none, 4), 0u);
    ASSERT_TRUE(io.create(&k.client, false));
    EXPECT_EQ(io.size(), -1);
    EXPECT_FALSE(io.set_fp(0));

    char hello[] = "hello";
    EXPECT_TRUE(io.writef(hello, 5));
    EXPECT_EQ(qortest::recvAll(k.peer, 200), "hello");
    ASSERT_TRUE(qortest::sendAll(k.peer, "world"));
    char buf[16] = {};
    EXPECT_TRUE(io.readf(buf, 5));
    EXPECT_EQ(std::string(buf, 5), "world");
}

TEST(SocketIO, ReadTellsTheEndOfTheConnectionFromAStall) {
    Connected k;
    ASSERT_GE(k.peer, 0);
    k.client.setReadTO(150);
    cSocketIO io;
    ASSERT_TRUE(io.create(&k.client, false));
    char buf[16];
    Stopwatch w;
    EXPECT_EQ(io.read(buf, sizeof buf), cFileIOTarget::kIOFailed);  // nothing came in time
    EXPECT_GE(w.ms(), 140);
    EXPECT_LT(w.ms(), 2000);  // one wait of the read time-out, no more
    EXPECT_EQ(k.client.lastError(), cTCPSocket::errRefusedOrIdle);
    k.closePeer();
    EXPECT_EQ(io.read(buf, sizeof buf), 0u);  // the orderly end
    EXPECT_TRUE(io.valid());
}


TEST(SocketIO, DestroyingItDeletesTheSocketItOwnsAndOnlyThat) {
    Listener l;
    int deleted = 0;
    auto* s = new CountedSocket(&deleted);
    ASSERT_TRUE(s->connect(kLoopback, l.port(), 2000));
    int peer = l.accept();
    ASSERT_GE(peer, 0);
    {
        cSocketIO io;
        ASSERT_TRUE(io.create(s, true));
        // Taking a new owned socket deletes the one owned before.
        int deleted2 = 0;
        auto* other = new CountedSocket(&deleted2);
        EXPECT_FALSE(io.create(other, true));  // not connected, so not valid
        EXPECT_EQ(deleted, 1);
        EXPECT_EQ(deleted2, 0);
        s = nullptr;
        io.close();
        EXPECT_EQ(deleted2, 1);
        EXPECT_FALSE(io.valid());
    }
    // The first socket's close reached the peer as an orderly end.
    char b;
    EXPECT_EQ(::recv(peer, &b, 1, 0), 0);
    ::close(peer);
    // A socket it does not own is left open.
    CountedSocket kept(&deleted);
    ASSERT_TRUE(kept.connect(kLoopback, l.port(), 2000));
    {
        cSocketIO io;
        ASSERT_TRUE(io.create(&kept, false));
    }
    EXPECT_EQ(deleted, 1);
    EXPECT_TRUE(kept.valid());
}

TEST(SocketIO, CloseClosesASocketInUseThatItDoesNotOwn) {
    Connected k;
    cSocketIO io;
    ASSERT_TRUE(io.create(&k.client, false));
    io.close();
    EXPECT_FALSE(k.client.valid());
    EXPECT_FALSE(io.valid());
}

TEST(SocketIO, FailedTransfersSayWhyAndADeadlineBoundsEveryWait) {
    using F = cSocketIO::eFailure;
    char buf[16];
    {
        // A quiet peer: the read time-out, or the deadline when it is nearer.
        // (A reset is named by the HTTP transport's tests.)
        Connected k;
        ASSERT_GE(k.peer, 0);
        k.client.setReadTO(100);
        cSocketIO io;
        ASSERT_TRUE(io.create(&k.client, false));
        EXPECT_EQ(io.read(buf, sizeof buf), cFileIOTarget::kIOFailed);
        EXPECT_EQ(io.lastFailure(), F::timedOut);
        k.client.setReadTO(5000);
        io.setDeadline(cTCPSocket::nowMs() + 100);
        EXPECT_EQ(io.read(buf, sizeof buf), cFileIOTarget::kIOFailed);
        EXPECT_EQ(io.lastFailure(), F::deadline);
        // Once past, even bytes at hand are not taken.
        ASSERT_TRUE(qortest::sendAll(k.peer, "late"));
        EXPECT_EQ(io.read(buf, sizeof buf), cFileIOTarget::kIOFailed);
        EXPECT_EQ(io.lastFailure(), F::deadline);
        char late[] = "x";
        EXPECT_EQ(io.write(late, 1), cFileIOTarget::kIOFailed);
        EXPECT_EQ(io.lastFailure(), F::deadline);
        io.setDeadline(-1);
        EXPECT_EQ(io.read(buf, sizeof buf), 4u);
        EXPECT_EQ(io.lastFailure(), F::none);
        k.closePeer();
        EXPECT_EQ(io.read(buf, sizeof buf), 0u);
        EXPECT_EQ(io.lastFailure(), F::closed);
    }
}

}  // namespace
