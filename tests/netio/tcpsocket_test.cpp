// qor-test-labels: tsan
#include "netio/tcpsocket.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

using qortest::Connected;
using qortest::kLoopback;
using qortest::Listener;
using qortest::Stopwatch;

namespace {

std::string ipText(const unsigned char (&ip)[4]) {
    return std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
           std::to_string(ip[3]);
}

// ---------------------------------------------------------------------------


TEST(StrToIPv4, DottedQuadsGiveTheirBytesAndMalformedNumbersAreRefusedNotReinterpreted) {
    // Each of these would become some address through "%d.%d.%d.%d" or
    // through the resolver's loose numeric forms.
    const char* bad[] = {"-1.2.3.4", "1.2.3.4junk", "1.2.3.4 ", " 1.2.3.4", "10.0.0.300", "1.2.3",
                         "127.1",    "0x7f.0.0.1",  "010.0.0.1", "1.2.3.4.5",  "1..2.3",    "+1.2.3.4",
                         "",         "a b",         "1.2.3.-4", "256.0.0.1", "1.2.3.0004"};
    for (const char* text : bad) {
        unsigned char ip[4] = {9, 9, 9, 9};
        EXPECT_FALSE(strToIPv4(text, ip)) << '"' << text << '"';
        EXPECT_EQ(ipText(ip), "9.9.9.9") << '"' << text << '"';
    }
    unsigned char ip[4];
    EXPECT_FALSE(strToIPv4(nullptr, ip));
    for (const char* text : {"10.0.0.1", "255.255.255.255", "0.0.0.0", "1.20.199.0"}) {
        EXPECT_TRUE(strToIPv4(text, ip)) << text;
        EXPECT_EQ(ipText(ip), text);
    }
}

TEST(StrToIPv4, NamesAreResolved) {
    unsigned char ip[4] = {};
    ASSERT_TRUE(strToIPv4("localhost", ip));
    EXPECT_EQ(ipText(ip), "127.0.0.1");
    // The reserved top-level domain never resolves.
    EXPECT_FALSE(strToIPv4("no-such-host.invalid", ip));
    EXPECT_FALSE(strToIPv4("-leading-dash.example", ip));
}

TEST(StrToIPv4, ResolvesFromManyThreadsAtOnce) {
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&good] {
            for (int i = 0; i < 20; ++i) {
                unsigned char ip[4] = {};
                if (strToIPv4("localhost", ip) && ipText(ip) == "127.0.0.1") ++good;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), 120);
}

// ---------------------------------------------------------------------------

TEST(TCPSocket, TransfersOnAClosedSocketFailWithNoSocket) {
    cTCPSocket s;
    EXPECT_FALSE(s.valid());
    char buf[8] = {};
    EXPECT_EQ(s.send(buf, 8), 0);
    EXPECT_EQ(s.lastError(), cTCPSocket::errClosed);
    s.setReadTO(0);
    EXPECT_EQ(s.receive(buf, 8, nullptr), 0);
    EXPECT_EQ(s.lastError(), cTCPSocket::errClosed);
    unsigned char ip[4];
    EXPECT_FALSE(s.ipv4fromsock(ip));
    EXPECT_EQ(s.lastError(), cTCPSocket::errClosed);
    EXPECT_FALSE(s.create(-1));
}

TEST(TCPClient, ConnectsByAddressAndByNameAndKnowsItsPeer) {
    Listener l;
    cTCPClient c;
    ASSERT_TRUE(c.connect(kLoopback, l.port(), 2000));
    EXPECT_TRUE(c.valid());
    unsigned char ip[4] = {};
    ASSERT_TRUE(c.ipv4fromsock(ip));
    EXPECT_EQ(ipText(ip), "127.0.0.1");
    int a = l.accept();
    ASSERT_GE(a, 0);
    ::close(a);

    ASSERT_TRUE(c.connect("localhost", l.port(), 2000));
    int b = l.accept();
    ASSERT_GE(b, 0);
    EXPECT_TRUE(qortest::sendAll(b, "hi"));
    char buf[4] = {};
    EXPECT_EQ(c.receive(buf, sizeof buf, nullptr), 2);
    EXPECT_EQ(std::string(buf, 2), "hi");
    ::close(b);
}

TEST(TCPClient, RefusedConnectionFailsWithCode5AndStaysClosed) {
    Listener l;
    cTCPClient c;
    c.setReadTO(2123);
    c.setWriteTO(999);
    EXPECT_FALSE(c.connect(kLoopback, qortest::closedPort(), 2000));
    EXPECT_EQ(c.lastError(), cTCPSocket::errRefusedOrIdle);
    EXPECT_FALSE(c.valid());
    // A later connect keeps the time-outs (milliseconds split into seconds
    // and microseconds) and the last error of before.
    ASSERT_TRUE(c.connect(kLoopback, l.port(), 2000));
    EXPECT_EQ(c.lastError(), cTCPSocket::errRefusedOrIdle);
    EXPECT_EQ(c.readTO().tv_sec, 2);
    EXPECT_EQ(c.readTO().tv_usec, 123000);
    EXPECT_EQ(c.writeTO().tv_sec, 0);
    EXPECT_EQ(c.writeTO().tv_usec, 999000);
    // A name that does not resolve fails with code 4 and closes.
    EXPECT_FALSE(c.connect("no-such-host.invalid", l.port(), 2000));
    EXPECT_EQ(c.lastError(), cTCPSocket::errClosed);
    EXPECT_FALSE(c.valid());
}

TEST(TCPClient, PortsOutsideTheRangeAreRefusedNotCutToSixteenBits) {
    Listener l;
    cTCPClient c;
    // l.port() + 65536 would reach the listener if it were cut to 16 bits.
    for (int port : {l.port() + 65536, 0, -1, -65536 + l.port()}) {
        SCOPED_TRACE(port);
        EXPECT_FALSE(c.connect(kLoopback, port, 2000));
        EXPECT_FALSE(c.valid());
    }
    EXPECT_TRUE(c.connect(kLoopback, l.port(), 2000));
}


TEST(TCPClient, ConnectThatGetsNoAnswerEndsAtItsTimeOut) {
    // A listener whose accept queue is full leaves further handshakes
    // unanswered.
    Listener l(0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<unsigned short>(l.port()));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fillers.push_back(fd);
    }
    ::usleep(100000);
    cTCPClient c;
    Stopwatch w;
    bool ok = c.connect(kLoopback, l.port(), 300);
    long long ms = w.ms();
    for (int fd : fillers) ::close(fd);
    if (ok) GTEST_SKIP() << "this network stack answers handshakes beyond a full backlog";
    EXPECT_EQ(c.lastError(), cTCPSocket::errTimedOut);
    EXPECT_FALSE(c.valid());
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 3000);
}

// ---------------------------------------------------------------------------

TEST(TCPSocket, ReceiveOnAQuietSocketWaitsThenFailsWithCode5) {
    Connected k;
    ASSERT_GE(k.peer, 0);
    char buf[16];
    timeval wait{0, 150000};
    Stopwatch w;
    EXPECT_EQ(k.client.receive(buf, sizeof buf, &wait), 0);
    EXPECT_EQ(k.client.lastError(), cTCPSocket::errRefusedOrIdle);
    EXPECT_GE(w.ms(), 140);
    EXPECT_LT(w.ms(), 2000);
    // The socket stays usable after a time-out.
    EXPECT_TRUE(qortest::sendAll(k.peer, "x"));
    EXPECT_EQ(k.client.receive(buf, sizeof buf, &wait), 1);
    EXPECT_EQ(k.client.lastError(), 0);
    k.closePeer();  // then the end of the connection: code 4, and still open
    EXPECT_EQ(k.client.receive(buf, sizeof buf, nullptr), 0);
    EXPECT_EQ(k.client.lastError(), cTCPSocket::errClosed);
    EXPECT_TRUE(k.client.valid());
}


TEST(TCPSocket, ReadGathersPiecesUntilTheCountOrTheEnd) {
    Connected k;
    ASSERT_GE(k.peer, 0);
    char buf[4000];
    EXPECT_EQ(k.client.read(buf, 0), 0);

    std::string payload;
    for (int i = 0; i < 3000; ++i) payload.push_back(static_cast<char>('a' + i % 26));
    ASSERT_TRUE(qortest::sendAll(k.peer, payload));
    k.client.setReadTO(2000);
    ASSERT_EQ(k.client.read(buf, 3000), 3000);
    EXPECT_EQ(std::string(buf, 3000), payload);

    ASSERT_TRUE(qortest::sendAll(k.peer, payload.substr(0, 1500)));
    k.closePeer();
    EXPECT_FALSE(k.client.readf(buf, 3000));
    EXPECT_EQ(std::string(buf, 1500), payload.substr(0, 1500));
}

TEST(TCPSocket, SendToAPeerThatHasGoneFailsWithCode1InsteadOfEndingTheProcess) {
    // With SIGPIPE at its default a send without MSG_NOSIGNAL would kill us.
    auto old = std::signal(SIGPIPE, SIG_DFL);
    Connected k;
    ASSERT_GE(k.peer, 0);
    linger lg{1, 0};  // close with a reset
    ::setsockopt(k.peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    k.closePeer();
    ::usleep(50000);
    char buf[1024] = {};
    int result = 1;
    for (int i = 0; i < 50 && result != 0; ++i) result = k.client.send(buf, sizeof buf);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(k.client.lastError(), cTCPSocket::errSystem);
    std::signal(SIGPIPE, old);
}

TEST(TCPSocket, SendGivesUpAfterTheWriteTimeOutWhenThePeerReadsNothing) {
    Connected k;
    ASSERT_GE(k.peer, 0);
    k.client.setWriteTO(200);
    std::vector<char> big(64 << 20, 'z');
    Stopwatch w;
    int sent = k.client.send(big.data(), static_cast<int>(big.size()));
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int>(big.size()));
    EXPECT_EQ(k.client.lastError(), 0);
    EXPECT_GE(w.ms(), 150);
    // Once the peer's window and our buffer are full, a send moves nothing
    // and reports the time-out.
    int again = 1;
    for (int i = 0; i < 8 && again != 0; ++i) again = k.client.send(big.data(), 1 << 20);
    EXPECT_EQ(again, 0);
    EXPECT_EQ(k.client.lastError(), cTCPSocket::errRefusedOrIdle);
    EXPECT_LT(w.ms(), 5000);
}

class ChunkSource : public cXCSourceStream {
public:
    explicit ChunkSource(std::vector<std::string> chunks) : chunks_(std::move(chunks)) {}
    const void* nextChunk(int& len) override {
        firstLens.push_back(len);
        if (next_ >= chunks_.size()) {
            len = 0;
            return nullptr;
        }
        const std::string& c = chunks_[next_++];
        len = static_cast<int>(c.size());
        return c.data();
    }
    std::vector<int> firstLens;

private:
    std::vector<std::string> chunks_;
    std::size_t next_ = 0;
};

TEST(TCPSocket, SourceStreamIsSentChunkByChunkUntilItRunsOut) {
    Connected k;
    ASSERT_GE(k.peer, 0);
    ChunkSource src({"alpha-", "beta-", "gamma"});
    EXPECT_EQ(k.client.write(&src), 16);
    ASSERT_FALSE(src.firstLens.empty());
    EXPECT_EQ(src.firstLens[0], 0);  // the length starts at 0
    EXPECT_EQ(src.firstLens.size(), 4u);
    ChunkSource again({"!"});
    EXPECT_TRUE(k.client.writef(&again));
    k.client.close();
    EXPECT_EQ(qortest::recvAll(k.peer), "alpha-beta-gamma!");
    EXPECT_EQ(k.client.write(static_cast<cXCSourceStream*>(nullptr)), 0);
    EXPECT_FALSE(k.client.writef(static_cast<cXCSourceStream*>(nullptr)));
}

// ---------------------------------------------------------------------------

TEST(TCPSocket, CloseHalfClosesAndTheDrainEndsWhenThePeerCloses) {
    Connected k;
    ASSERT_GE(k.peer, 0);
    std::thread peer([fd = k.peer] {
        // The peer sees our FIN, answers with a last word and closes.
        std::string got = qortest::recvAll(fd, 2000);
        qortest::sendAll(fd, "bye");
        ::shutdown(fd, SHUT_WR);
    });
    Stopwatch w;
    k.client.close();
    peer.join();
    EXPECT_FALSE(k.client.valid());
    EXPECT_LT(w.ms(), 2000);
}

TEST(TCPSocket, CloseDoesNotHangOnAPeerThatKeepsSending) {
    Connected k;
    ASSERT_GE(k.peer, 0);
    std::atomic<bool> stop{false};
    std::thread flood([fd = k.peer, &stop] {
        std::string chunk(16384, 'f');
        while (!stop.load()) {
            if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) break;
        }
    });
    ::usleep(50000);
    Stopwatch w;
    k.client.close();
    long long ms = w.ms();
    stop = true;
    ::shutdown(k.peer, SHUT_RDWR);
    flood.join();
    EXPECT_FALSE(k.client.valid());
    EXPECT_LT(ms, 1500);
}

TEST(TCPSocket, DescriptorAbove1024IsWatchedSafely) {
    rlimit rl{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &rl), 0);
    const rlim_t want = 2048;
    if (rl.rlim_cur < want) {
        if (rl.rlim_max != RLIM_INFINITY && rl.rlim_max < want) GTEST_SKIP() << "hard limit below 2048";
        rlimit raised = rl;
        raised.rlim_cur = want;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
    }
    Connected k;
    ASSERT_GE(k.peer, 0);
    const int high = 1900;
    ASSERT_EQ(::dup2(k.client.descriptor(), high), high);
    cTCPSocket s;
    ASSERT_TRUE(s.create(high));
    s.setReadTO(100);

    char buf[64];
    EXPECT_EQ(s.receive(buf, sizeof buf, nullptr), 0);  // quiet: times out
    EXPECT_EQ(s.lastError(), cTCPSocket::errRefusedOrIdle);
    ASSERT_TRUE(qortest::sendAll(k.peer, "over 1024"));
    EXPECT_EQ(s.read(buf, 9), 9);
    EXPECT_EQ(std::string(buf, 9), "over 1024");
    EXPECT_TRUE(s.writef("back", 4));
    s.close();
    k.client.close();
    EXPECT_EQ(qortest::recvAll(k.peer), "back");
    EXPECT_EQ(::fcntl(high, F_GETFD), -1);  // closed by the socket
}

}  // namespace
