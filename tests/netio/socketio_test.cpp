#include "netio/socketio.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <string>

using qortest::Listener;
using qortest::Stopwatch;

namespace {

unsigned char kLoopback[4] = {127, 0, 0, 1};

// A socket that tells when it is deleted.
class CountedSocket : public cTCPClient {
public:
    explicit CountedSocket(int* deleted) : deleted_(deleted) {}
    ~CountedSocket() override { ++*deleted_; }

private:
    int* deleted_;
};

TEST(SocketIO, WithoutASocketItIsNotValidAndMovesNothing) {
    cSocketIO io;
    EXPECT_FALSE(io.valid());
    char buf[4];
    EXPECT_EQ(io.read(buf, 4), 0u);
    EXPECT_EQ(io.write(buf, 4), 0u);
    EXPECT_EQ(io.size(), -1);
    EXPECT_EQ(io.typeOf(), 0);
    EXPECT_FALSE(io.set_time(2020, 1, 1, 0, 0, 0));
}

TEST(SocketIO, ReadsAndWritesTheConnectionAndCannotSeek) {
    Listener l;
    cTCPClient c;
    ASSERT_TRUE(c.connect(kLoopback, l.port(), 2000));
    int peer = l.accept();
    ASSERT_GE(peer, 0);
    cSocketIO io;
    ASSERT_TRUE(io.create(&c, false));
    EXPECT_EQ(io.size(), -1);
    EXPECT_FALSE(io.set_fp(0));
    EXPECT_FALSE(io.set_fp_end(0));
    EXPECT_FALSE(io.set_eof(0));

    char hello[] = "hello";
    EXPECT_TRUE(io.writef(hello, 5));
    EXPECT_EQ(qortest::recvAll(peer, 200), "hello");
    ASSERT_TRUE(qortest::sendAll(peer, "world"));
    char buf[16] = {};
    EXPECT_TRUE(io.readf(buf, 5));
    EXPECT_EQ(std::string(buf, 5), "world");
    ::close(peer);
}

TEST(SocketIO, ReadTellsTheEndOfTheConnectionFromAStall) {
    Listener l;
    cTCPClient c;
    ASSERT_TRUE(c.connect(kLoopback, l.port(), 2000));
    int peer = l.accept();
    ASSERT_GE(peer, 0);
    c.setReadTO(150);
    cSocketIO io;
    ASSERT_TRUE(io.create(&c, false));
    char buf[16];
    Stopwatch w;
    EXPECT_EQ(io.read(buf, sizeof buf), cFileIOTarget::kIOFailed);  // nothing came in time
    EXPECT_GE(w.ms(), 140);
    EXPECT_LT(w.ms(), 2000);  // one wait of the read time-out, no more
    EXPECT_EQ(c.lastError(), cTCPSocket::errRefusedOrIdle);
    ::close(peer);
    EXPECT_EQ(io.read(buf, sizeof buf), 0u);  // the orderly end
    EXPECT_TRUE(io.valid());
}

TEST(SocketIO, DestroyingItLeavesASocketItDoesNotOwnOpen) {
    Listener l;
    int deleted = 0;
    CountedSocket s(&deleted);
    ASSERT_TRUE(s.connect(kLoopback, l.port(), 2000));
    {
        cSocketIO io;
        ASSERT_TRUE(io.create(&s, false));
    }
    EXPECT_EQ(deleted, 0);
    EXPECT_TRUE(s.valid());
}

TEST(SocketIO, DestroyingItDeletesTheSocketItOwns) {
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
}

TEST(SocketIO, CloseClosesASocketInUseThatItDoesNotOwn) {
    Listener l;
    cTCPClient c;
    ASSERT_TRUE(c.connect(kLoopback, l.port(), 2000));
    cSocketIO io;
    ASSERT_TRUE(io.create(&c, false));
    io.close();
    EXPECT_FALSE(c.valid());
    EXPECT_FALSE(io.valid());
}

}  // namespace
