// Requests sent to real peers on 127.0.0.1: Python's http.server, a form
// server that parses what it receives with Python's email package, and
// scripted raw peers for the replies a server should not send.
#include "nethttp/httpclient.h"

#include "../netio/loopback.h"
#include "peer.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using qortest::PeerProcess;
using qortest::Stopwatch;

namespace {

std::string bodyOf(cSiHttpResponse& r) {
    _typebuf<unsigned char> out;
    if (!r.toBuffer(out)) return "<no buffer>";
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.count()));
}

// A transport with short time-outs, so that every failure shows quickly.
struct QuickTransport : cHttpTransport {
    QuickTransport() { setTimeouts(2000, 600); }
};

// A raw peer answering with `reply`, run from its own temporary folder.
class RawPeer {
public:
    explicit RawPeer(const std::string& reply, std::vector<std::string> extra = {}) {
        EXPECT_TRUE(qortest::writeFile(dir_.file("reply"), reply));
        std::vector<std::string> args = {PeerProcess::script("rawpeer.py"), "--reply", dir_.file("reply"),
                                         "--capture", dir_.file("request"), "--lifetime", "20"};
        args.insert(args.end(), extra.begin(), extra.end());
        started = peer_.start(args);
    }
    std::string url(const std::string& path = "/") const { return peer_.url(path); }
    std::string request() const { return qortest::readFile(dir_.file("request")); }
    void stop() { peer_.stop(); }
    bool started = false;

private:
    qortest::TempDir dir_;
    PeerProcess peer_;
};

bool get(const std::string& url, cSiHttpResponse& resp, int http11 = 1) {
    cHttpRequest req(cHttpRequest::GET, url.c_str(), http11);
    QuickTransport t;
    return t.processRequest(req, resp);
}

// ---------------------------------------------------------------------------
// Python's http.server

class StaticServer : public ::testing::Test {
protected:
    void SetUp() override {
        unsigned int x = 12345;
        for (int i = 0; i < (3 << 20); ++i) big_.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
        EXPECT_TRUE(qortest::writeFile(dir_.file("big.bin"), big_));
        EXPECT_TRUE(qortest::writeFile(dir_.file("hello.txt"), "hello, world\n"));
        ASSERT_TRUE(server_.start({"-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", dir_.path()}));
    }
    qortest::TempDir dir_;
    PeerProcess server_;
    std::string big_;
};

TEST_F(StaticServer, FilesArriveWholeWithTheirStatusAndHeaders) {
    cSiHttpResponse r;
    ASSERT_TRUE(get(server_.url("/hello.txt"), r, 0));
    EXPECT_EQ(r.RC(), 200);
    EXPECT_EQ(r.contentLen(), 13);
    EXPECT_EQ(bodyOf(r), "hello, world\n");
    ASSERT_NE(r.getHeaderVal("Server"), nullptr);
    EXPECT_EQ(std::string(r.getHeaderVal("Server")).rfind("SimpleHTTP/", 0), 0u);

    ASSERT_TRUE(get(server_.url("/big.bin"), r));
    EXPECT_EQ(r.contentLen(), static_cast<long long>(big_.size()));
    EXPECT_TRUE(bodyOf(r) == big_);
}

TEST_F(StaticServer, MissingFileIsA404WhoseBodyArrivesUnlessTheConsumerRefusesIt) {
    cSiHttpResponse r;
    ASSERT_TRUE(get(server_.url("/missing.txt"), r));
    EXPECT_EQ(r.RC(), 404);
    EXPECT_NE(bodyOf(r).find("404"), std::string::npos);

    struct OnlyOk : cHttpResponse {
        bool onHeaderDone() override { return RC() == 200; }
        bool onData(const unsigned char*, long long, unsigned long long) override {
            ++calls;
            return true;
        }
        int calls = 0;
    } refusing;
    cHttpRequest req(cHttpRequest::GET, server_.url("/missing").c_str(), 1);
    QuickTransport t;
    EXPECT_FALSE(t.processRequest(req, refusing));
    EXPECT_EQ(refusing.RC(), 404);
    EXPECT_EQ(refusing.calls, 0);
}

// ---------------------------------------------------------------------------
// A server that reports what it parsed

class FormServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.start({PeerProcess::script("formserver.py")})); }
    PeerProcess server_;
};

TEST_F(FormServer, ServerSeesThePathTheHostTheAgentAndTheHeaders) {
    cHttpRequest req(cHttpRequest::GET, server_.url("/where?a=1&b=%20").c_str(), 1);
    ASSERT_TRUE(req.setHeader("X-Probe", "value: with colon"));
    cSiHttpResponse r;
    QuickTransport t;
    ASSERT_TRUE(t.processRequest(req, r));
    EXPECT_EQ(r.RC(), 200);
    const std::string seen = bodyOf(r);
    EXPECT_NE(seen.find("path=/where?a=1&b=%20\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("Host: 127.0.0.1:" + std::to_string(server_.port()) + "\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("User-Agent: QORNetHTTP (compatible; cross-platform)\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("X-Probe: value: with colon\n"), std::string::npos) << seen;
}

TEST_F(FormServer, MultipartPartsAreParsedBackAsSent) {
    cHttpRequest req(cHttpRequest::POST, server_.url("/upload").c_str(), 1);
    const unsigned char bin[] = {0x00, 0x01, 0x0D, 0x0A, 0x2D, 0x2D, 0xFF};
    ASSERT_TRUE(req.addPost("file", bin, sizeof bin, "application/octet-stream", "filename=\"a.bin\""));
    ASSERT_TRUE(req.addPost("note", "plain text", 10, nullptr, nullptr));
    cSiHttpResponse r;
    QuickTransport t;
    ASSERT_TRUE(t.processRequest(req, r));
    EXPECT_EQ(r.RC(), 200);
    EXPECT_EQ(bodyOf(r), "file|application/octet-stream|a.bin|00010d0a2d2dff\n"
                         "note|||706c61696e2074657874\n");
}

// ---------------------------------------------------------------------------
// Scripted peers

TEST(RawPeerReplies, RequestBytesAreExactlyWhatTheServerReceives) {
    RawPeer peer("HTTP/1.1 204 No Content\r\n\r\n");
    ASSERT_TRUE(peer.started);
    cSiHttpResponse r;
    ASSERT_TRUE(get(peer.url("/x?y=1"), r));
    EXPECT_EQ(r.RC(), 204);
    peer.stop();
    const std::string host = peer.url("").substr(7);
    EXPECT_EQ(peer.request(), "GET /x?y=1 HTTP/1.1\r\nHost: " + host +
                                  "\r\nUser-Agent: QORNetHTTP (compatible; cross-platform)\r\n\r\n");
}

TEST(RawPeerReplies, OnlyTheFramingEndsAReplyAndAStallResetOrCutFailsIt) {
    // The transport reads with a time-out of 600 ms: a peer that holds the
    // connection open after a framed reply must not delay it.
    std::string lines;
    for (int i = 0; i < 40; ++i) lines += "line " + std::to_string(i) + "\n";
    const struct {
        const char* what;
        std::string reply;
        std::vector<std::string> args;
        int http11;
        bool ok;
        const char* body;  // null: a reset may or may not lose what came before it
        long long minMs, maxMs;
        cHttpResponse::eFailure why = cHttpResponse::eFailure::none;
    } rows[] = {
        {"chunks in pieces, then held",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nWiki\r\n6\r\npedia \r\nE\r\nin \r\n\r\nchunks.\r\n0\r\n\r\n",
         {"--pieces", "7", "--pause-ms", "20", "--after", "hold"}, 1, true, "Wikipedia in \r\n\r\nchunks.", 0, 600},
        {"length, then held", "HTTP/1.1 200 OK\r\nContent-Length:12\r\n\r\n0123456789ab", {"--after", "hold"}, 1, true,
         "0123456789ab", 0, 600},
        {"length in many slow pieces, then held",
         "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(lines.size()) + "\r\n\r\n" + lines,
         {"--pieces", "25", "--pause-ms", "15", "--after", "hold"}, 1, true, lines.c_str(), 0, 2000},
        {"closed short of the length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456", {}, 1, false, "0123456", 0,
         5000, cHttpResponse::eFailure::truncated},
        {"no length: pieces, then the close", "HTTP/1.0 200 OK\r\n\r\nall of it until the close",
         {"--pieces", "4", "--pause-ms", "30"}, 0, true, "all of it until the close", 0, 5000},
        {"no length: held", "HTTP/1.0 200 OK\r\n\r\npart of it", {"--after", "hold"}, 0, false, "part of it", 500, 5000,
         cHttpResponse::eFailure::timedOut},
        {"no length: reset", "HTTP/1.0 200 OK\r\n\r\nsome", {"--after", "reset"}, 0, false, nullptr, 0, 5000,
         cHttpResponse::eFailure::reset},
        {"never answers", "", {"--silent"}, 1, false, "", 500, 5000, cHttpResponse::eFailure::timedOut},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        RawPeer peer(row.reply, row.args);
        ASSERT_TRUE(peer.started);
        cSiHttpResponse r;
        Stopwatch w;
        EXPECT_EQ(get(peer.url(), r, row.http11), row.ok);
        const long long ms = w.ms();
        EXPECT_GE(ms, row.minMs);
        EXPECT_LT(ms, row.maxMs);
        if (row.body) {
            EXPECT_EQ(bodyOf(r), row.body);
        }
        EXPECT_EQ(r.failure(), row.why) << r.failureText();
    }
}

TEST(RawPeerReplies, PeerThatKeepsSendingAfterTheReplyDoesNotHoldTheClose) {
    RawPeer peer("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nend", {"--after", "flood"});
    ASSERT_TRUE(peer.started);
    cSiHttpResponse r;
    Stopwatch w;
    {
        cHttpRequest req(cHttpRequest::GET, peer.url().c_str(), 1);
        QuickTransport t;
        ASSERT_TRUE(t.processRequest(req, r));
        EXPECT_EQ(bodyOf(r), "end");
    }  // the transport's destructor closes while the peer floods
    EXPECT_LT(w.ms(), 3000);
}

TEST(Transport, ClosedPortFailsAtOnce) {
    cSiHttpResponse r;
    Stopwatch w;
    EXPECT_FALSE(get("http://127.0.0.1:" + std::to_string(qortest::closedPort()) + "/", r));
    EXPECT_LT(w.ms(), 2000);
}

TEST(Transport, RequestThatCannotBeSerialisedIsNotSent) {
    cHttpRequest req;
    cSiHttpResponse r;
    QuickTransport t;
    EXPECT_FALSE(t.processRequest(req, r));
    EXPECT_FALSE(t.valid());
}

TEST(Transport, OneTransportSendsSeveralRequestsInTurn) {
    RawPeer peer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", {"--connections", "2"});
    ASSERT_TRUE(peer.started);
    QuickTransport t;
    for (int i = 0; i < 2; ++i) {
        cHttpRequest req(cHttpRequest::GET, peer.url("/n" + std::to_string(i)).c_str(), 1);
        cSiHttpResponse r;
        ASSERT_TRUE(t.processRequest(req, r)) << i;
        EXPECT_EQ(bodyOf(r), "ok");
    }
}

TEST(RawPeerReplies, DeadlineEndsARequestThatAByteNowAndThenWouldKeepAlive) {
    // Two bytes every 100 ms, well within the read time-out, so only the
    // deadline can end these: the whole reply would take the peer 8 s.
    std::string body(120, 'b');
    const struct {
        const char* what;
        std::string reply;
    } rows[] = {
        {"in the header block", "HTTP/1.1 200 OK\r\nX-Slow: " + body + "\r\nContent-Length: 0\r\n\r\n"},
        {"in the body", "HTTP/1.1 200 OK\r\nContent-Length: 120\r\n\r\n" + body},
    };
    struct Counting : cHttpResponse {
        bool onData(const unsigned char*, long long len, unsigned long long) override {
            bytes += len;
            return true;
        }
        long long bytes = 0;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        RawPeer peer(row.reply, {"--pieces", std::to_string(row.reply.size() / 2), "--pause-ms", "100"});
        ASSERT_TRUE(peer.started);
        cHttpRequest req(cHttpRequest::GET, peer.url().c_str(), 1);
        cHttpTransport t;
        t.setTimeouts(5000, 5000);
        t.setDeadline(1000);
        Counting r;
        EXPECT_FALSE(t.processRequest(req, r));
        EXPECT_EQ(r.failure(), cHttpResponse::eFailure::deadline) << r.failureText();
        EXPECT_LT(r.bytes, 120);
    }
}

TEST(Transport, FailuresBeforeTheReplyAreNamedToo) {
    using F = cHttpResponse::eFailure;
    const struct {
        std::string url;
        F why;
    } rows[] = {
        {"http://127.0.0.1:" + std::to_string(qortest::closedPort()) + "/", F::connectFailed},
        {"http://no..such..host/", F::unresolved},
    };
    for (const auto& row : rows) {
        cSiHttpResponse r;
        EXPECT_FALSE(get(row.url, r)) << row.url;
        EXPECT_EQ(r.failure(), row.why) << row.url << ": " << r.failureText();
    }
    cHttpRequest none;
    cSiHttpResponse r;
    QuickTransport t;
    EXPECT_FALSE(t.processRequest(none, r));
    EXPECT_EQ(r.failure(), F::badRequest);
}

}  // namespace
