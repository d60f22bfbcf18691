// The reply reader over scripted streams: framing, header parsing and the
// hooks' guarantees, without a network.
#include "nethttp/httpclient.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// A stream that hands out the given pieces one read at a time, then ends
// with 0 (an orderly close) or with a failed transfer (a stall).
class ScriptedIO : public cFileIOTarget {
public:
    ScriptedIO(std::vector<std::string> pieces, bool endsWithStall = false)
        : pieces_(std::move(pieces)), stall_(endsWithStall) {}
    long long size() override { return -1; }
    unsigned int read(void* buf, unsigned int n) override {
        ++reads;
        lastAsked = n;
        if (next_ >= pieces_.size()) return stall_ ? kIOFailed : 0;
        std::string& p = pieces_[next_];
        std::size_t take = std::min<std::size_t>(n, p.size() - offset_);
        std::memcpy(buf, p.data() + offset_, take);
        offset_ += take;
        if (offset_ == p.size()) {
            ++next_;
            offset_ = 0;
        }
        return static_cast<unsigned int>(take);
    }
    bool set_fp(unsigned long long) override { return false; }
    bool set_fp_end(unsigned long long) override { return false; }
    bool set_eof(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return true; }

    int reads = 0;
    unsigned int lastAsked = 0;
    std::size_t unread() const {
        std::size_t n = 0;
        for (std::size_t i = next_; i < pieces_.size(); ++i) n += pieces_[i].size();
        return n - offset_;
    }

private:
    std::vector<std::string> pieces_;
    std::size_t next_ = 0, offset_ = 0;
    bool stall_;
};

class Recorder : public cHttpResponse {
public:
    bool onHeaderDone() override {
        ++headerDone;
        statusAtHeaderDone = RC();
        lengthAtHeaderDone = contentLength;
        return acceptHeader;
    }
    bool onData(const unsigned char* buf, long long len, unsigned long long offset) override {
        if (headerDone != 1) dataBeforeHeader = true;
        if (offset != body.size()) offsetsWrong = true;
        if (len < 1 || len > 65536) lengthsWrong = true;
        body.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(len));
        ++chunks;
        return stopAfter == 0 || chunks < stopAfter;
    }
    void reset() override {
        cHttpResponse::reset();
        ++resets;
        body.clear();
        headerDone = 0;
    }

    bool acceptHeader = true;
    int stopAfter = 0;
    int headerDone = 0, resets = 0, chunks = 0, statusAtHeaderDone = -1;
    long long lengthAtHeaderDone = -2;
    bool dataBeforeHeader = false, offsetsWrong = false, lengthsWrong = false;
    std::string body;
};

bool run(Recorder& r, std::vector<std::string> pieces, bool stall = false) {
    ScriptedIO io(std::move(pieces), stall);
    return r.processResponse(&io);
}

// ---------------------------------------------------------------------------

TEST(HttpResponse, NewResponseHasNoStatusAndLengthZero) {
    Recorder r;
    EXPECT_EQ(r.RC(), 0);
    EXPECT_EQ(r.contentLen(), 0);
    EXPECT_EQ(r.getHeaderVal("Server"), nullptr);
    EXPECT_FALSE(r.processResponse(nullptr));
    EXPECT_EQ(r.resets, 0);
}

TEST(HttpResponse, ContentLengthEndsTheReplyWithoutWaitingForTheClose) {
    Recorder r;
    ScriptedIO io({"HTTP/1.1 200 OK\r\nContent-Length: 10\r\nServer: t\r\n\r\n0123456789"}, /*stall*/ true);
    ASSERT_TRUE(r.processResponse(&io));
    EXPECT_EQ(r.RC(), 200);
    EXPECT_EQ(r.contentLen(), 10);
    EXPECT_EQ(r.body, "0123456789");
    EXPECT_STREQ(r.getHeaderVal("Server"), "t");
    EXPECT_EQ(r.getHeaderVal("server"), nullptr);  // names are looked up exactly
    EXPECT_EQ(r.resets, 1);
    EXPECT_EQ(r.headerDone, 1);
    EXPECT_EQ(r.statusAtHeaderDone, 200);
    EXPECT_EQ(r.lengthAtHeaderDone, 10);
    EXPECT_FALSE(r.dataBeforeHeader);
}

TEST(HttpResponse, ConsumerNeverGetsBytesBeyondContentLength) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nabcdEXTRA"}));
    EXPECT_EQ(r.body, "abcd");
    // Later pieces are not even read once the length is reached.
    ScriptedIO io({"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nabc", "defGHI", "JKL"});
    Recorder r2;
    ASSERT_TRUE(r2.processResponse(&io));
    EXPECT_EQ(r2.body, "abcdef");
    EXPECT_EQ(io.lastAsked, 3u);
    EXPECT_EQ(io.unread(), 6u);  // "GHI" and "JKL"
}

TEST(HttpResponse, ShortBodyWithContentLengthIsAFailure) {
    Recorder closed;
    EXPECT_FALSE(run(closed, {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456"}));
    EXPECT_EQ(closed.body, "0123456");
    Recorder stalled;
    EXPECT_FALSE(run(stalled, {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456"}, true));
}

TEST(HttpResponse, BodyWithoutLengthRunsToTheCloseButAStallFails) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.0 200 OK\r\n\r\nfirst ", "second ", "third"}));
    EXPECT_EQ(r.body, "first second third");
    EXPECT_EQ(r.contentLen(), -1);
    Recorder stalled;
    EXPECT_FALSE(run(stalled, {"HTTP/1.0 200 OK\r\n\r\nfirst ", "second"}, true));
}

TEST(HttpResponse, ReplyCutInsideTheHeaderBlockFails) {
    Recorder afterLine;
    EXPECT_FALSE(run(afterLine, {"HTTP/1.1 200 OK\r\nServer: t\r\n"}));
    EXPECT_EQ(afterLine.headerDone, 0);
    Recorder midLine;
    EXPECT_FALSE(run(midLine, {"HTTP/1.1 200 OK\r\nServ"}));
    Recorder nothing;
    EXPECT_FALSE(run(nothing, {}));
    Recorder stalled;
    EXPECT_FALSE(run(stalled, {"HTTP/1.1 200 OK\r\n"}, true));
}

TEST(HttpResponse, StatusLineGivesTheCodeAndMustBeWellFormed) {
    Recorder r404;
    ASSERT_TRUE(run(r404, {"HTTP/1.0 404 Not Found\r\nContent-Length: 3\r\n\r\nnop"}));
    EXPECT_EQ(r404.RC(), 404);
    EXPECT_EQ(r404.body, "nop");
    Recorder noReason;
    ASSERT_TRUE(run(noReason, {"HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n"}));
    EXPECT_EQ(noReason.RC(), 200);

    const char* bad[] = {"HTTP/2 200 OK\r\n\r\n",   "ICY 200 OK\r\n\r\n",      "HTTP/1.1 20\r\n\r\n",
                         "HTTP/1.1 2000 OK\r\n\r\n", "HTTP/1.1 000 X\r\n\r\n",  "HTTP/1.1 0x1 X\r\n\r\n",
                         "HTTP/1.1\r\n\r\n",         "HTTP/1.\r\n\r\n",         "HTTP/1.1  200 OK\r\n\r\n",
                         "HTTP/1.x 200 OK\r\n\r\n",  "HTTP/1.1 101 Switching\r\n\r\n"};
    for (const char* reply : bad) {
        Recorder r;
        EXPECT_FALSE(run(r, {reply})) << reply;
        EXPECT_EQ(r.headerDone, 0) << reply;
    }
}

TEST(HttpResponse, HeaderValuesSkipOnlyBlanksAroundThem) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 200 OK\r\nContent-Length:5\r\nX-Time: 12:30:45\r\n"
                        "X-Addr:\t10.0.0.1:8080 \t\r\nX-Empty:\r\nX-Spaced:   a b  \r\n\r\nhello"}));
    EXPECT_EQ(r.contentLen(), 5);
    EXPECT_EQ(r.body, "hello");
    EXPECT_STREQ(r.getHeaderVal("Content-Length"), "5");
    EXPECT_STREQ(r.getHeaderVal("X-Time"), "12:30:45");
    EXPECT_STREQ(r.getHeaderVal("X-Addr"), "10.0.0.1:8080");
    EXPECT_STREQ(r.getHeaderVal("X-Empty"), "");
    EXPECT_STREQ(r.getHeaderVal("X-Spaced"), "a b");
}

TEST(HttpResponse, LaterHeaderOfTheSameNameReplacesTheEarlierAndCaseDiffers) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 200 OK\r\nX-A: one\r\nx-a: lower\r\nX-A: two\r\nContent-Length: 0\r\n\r\n"}));
    EXPECT_STREQ(r.getHeaderVal("X-A"), "two");
    EXPECT_STREQ(r.getHeaderVal("x-a"), "lower");
}

TEST(HttpResponse, FoldedHeaderLineJoinsTheValueBefore) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 200 OK\r\nX-Long: first\r\n  second\r\n\tthird\r\nContent-Length: 0\r\n\r\n"}));
    EXPECT_STREQ(r.getHeaderVal("X-Long"), "first second third");
    Recorder noneBefore;
    EXPECT_FALSE(run(noneBefore, {"HTTP/1.1 200 OK\r\n folded\r\n\r\n"}));
}

TEST(HttpResponse, MalformedHeaderLinesFailTheReply) {
    const char* bad[] = {
        "HTTP/1.1 200 OK\r\nNoColonHere\r\n\r\n",
        "HTTP/1.1 200 OK\r\n: empty name\r\n\r\n",
        "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length : 3\r\n\r\nabc",
        "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 0x10\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
        "HTTP/1.1 200 OK\r\nX-Null: a\0b\r\n\r\n",
        "HTTP/1.1 200 OK\rX-Bare-CR: 1\r\n\r\n",
    };
    for (const char* text : bad) {
        std::string reply(text, std::strlen(text));
        if (reply.find("X-Null") != std::string::npos) reply = std::string("HTTP/1.1 200 OK\r\nX-Null: a\0b\r\n\r\n", 32);
        Recorder r;
        EXPECT_FALSE(run(r, {reply})) << reply;
        EXPECT_EQ(r.headerDone, 0) << reply;
    }
    // The same length twice is no conflict.
    Recorder twice;
    ASSERT_TRUE(run(twice, {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\nok"}));
    EXPECT_EQ(twice.body, "ok");
}

TEST(HttpResponse, HeaderLinesEndingInLineFeedAloneFailAtOnce) {
    ScriptedIO io({"HTTP/1.1 200 OK\nContent-Length: 2\n\nok"}, true);
    Recorder r;
    EXPECT_FALSE(r.processResponse(&io));
    EXPECT_EQ(io.reads, 1);
}

TEST(HttpResponse, LinesSplitAcrossReadsAnywhereAreJoined) {
    const std::string reply = "HTTP/1.1 200 OK\r\nX-Split: value\r\nContent-Length: 5\r\n\r\nhello";
    for (std::size_t cut = 1; cut < reply.size(); ++cut) {
        Recorder r;
        ASSERT_TRUE(run(r, {reply.substr(0, cut), reply.substr(cut)})) << cut;
        EXPECT_EQ(r.body, "hello") << cut;
        EXPECT_STREQ(r.getHeaderVal("X-Split"), "value") << cut;
    }
    // One byte per read.
    std::vector<std::string> bytes;
    for (char c : reply) bytes.emplace_back(1, c);
    Recorder r;
    ASSERT_TRUE(run(r, bytes));
    EXPECT_EQ(r.body, "hello");
}

TEST(HttpResponse, HeaderLineLongerThanTheBufferFails) {
    std::string big = "HTTP/1.1 200 OK\r\nX-Big: " + std::string(70000, 'b') + "\r\n\r\n";
    Recorder r;
    EXPECT_FALSE(run(r, {big}));
    // A long line that fits is fine.
    std::string fits = "HTTP/1.1 200 OK\r\nX-Big: " + std::string(60000, 'b') + "\r\nContent-Length: 0\r\n\r\n";
    Recorder ok;
    ASSERT_TRUE(run(ok, {fits}));
    EXPECT_EQ(std::strlen(ok.getHeaderVal("X-Big")), 60000u);
}

TEST(HttpResponse, HeaderBlockBeyondItsLimitFails) {
    std::string reply = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; reply.size() < cHttpResponse::kMaxHeaderBlock + 100; ++i)
        reply += "X-" + std::to_string(i) + ": " + std::string(1000, 'v') + "\r\n";
    reply += "Content-Length: 0\r\n\r\n";
    Recorder r;
    EXPECT_FALSE(run(r, {reply}));
}

TEST(HttpResponse, InterimRepliesAreSkippedBeforeTheFinalOne) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 100 Continue\r\n\r\n"
                        "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n"
                        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}));
    EXPECT_EQ(r.RC(), 200);
    EXPECT_EQ(r.statusAtHeaderDone, 200);
    EXPECT_EQ(r.headerDone, 1);
    EXPECT_EQ(r.getHeaderVal("Link"), nullptr);
    EXPECT_EQ(r.body, "ok");
}

TEST(HttpResponse, NoContentAndNotModifiedHaveNoBody) {
    for (const char* status : {"204 No Content", "304 Not Modified"}) {
        // The stream would stall after the header block: nothing more is read.
        Recorder r;
        ASSERT_TRUE(run(r, {std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 7\r\n\r\n"}, true)) << status;
        EXPECT_TRUE(r.body.empty());
        EXPECT_EQ(r.contentLen(), 0);
    }
    Recorder zero;
    ASSERT_TRUE(run(zero, {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, true));
    EXPECT_EQ(zero.chunks, 0);
}

TEST(HttpResponse, ChunkedBodyIsDecodedWithExtensionsAndTrailersDropped) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                        "5\r\nhello\r\n"
                        "7;ext=\"x\"\r\n, world\r\n"
                        "A \r\n0123456789\r\n"
                        "0\r\nX-Trailer: t\r\n\r\n"},
                    true));
    EXPECT_TRUE(r.isChunked());
    EXPECT_EQ(r.contentLen(), -1);
    EXPECT_EQ(r.body, "hello, world0123456789");
    EXPECT_FALSE(r.offsetsWrong);
}

TEST(HttpResponse, ChunkedFramingWinsOverContentLength) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n"
                        "4\r\nabcd\r\n0\r\n\r\n"}));
    EXPECT_EQ(r.body, "abcd");
    EXPECT_EQ(r.contentLen(), -1);
}

TEST(HttpResponse, ChunkedBodySplitAnywhereDecodesTheSame) {
    const std::string reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                              "3\r\nabc\r\n10\r\n0123456789abcdef\r\n0\r\n\r\n";
    for (std::size_t cut = 1; cut < reply.size(); ++cut) {
        Recorder r;
        ASSERT_TRUE(run(r, {reply.substr(0, cut), reply.substr(cut)}, true)) << cut;
        EXPECT_EQ(r.body, "abc0123456789abcdef") << cut;
    }
}

TEST(HttpResponse, BrokenOrTruncatedChunksFail) {
    const char* bad[] = {
        "3\r\nabc\r\n",                       // no last chunk
        "3\r\nabcX\r\n0\r\n\r\n",             // data longer than its size
        "zz\r\nab\r\n0\r\n\r\n",              // size not hex
        "3\nabc\r\n0\r\n\r\n",                // bare LF after the size
        "\r\nabc\r\n0\r\n\r\n",               // no size
        "10000000000000000\r\n",              // size beyond 64 bits
        "3\r\nabc\r\n0\r\nX-T: 1\r\n",        // trailers never end
    };
    for (const char* chunks : bad) {
        Recorder r;
        EXPECT_FALSE(run(r, {std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") + chunks}))
            << chunks;
    }
}

TEST(HttpResponse, UnknownTransferCodingRunsToTheClose) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nContent-Length: 2\r\n\r\n", "xyz"}));
    EXPECT_EQ(r.body, "xyz");
    EXPECT_FALSE(r.isChunked());
}

TEST(HttpResponse, LargeBodyArrivesInOrderInPiecesOfAtMost64K) {
    std::string payload;
    for (int i = 0; i < 300000; ++i) payload.push_back(static_cast<char>((i * 7) ^ (i >> 8)));
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + payload;
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < reply.size(); i += 100000) pieces.push_back(reply.substr(i, 100000));
    Recorder r;
    ASSERT_TRUE(run(r, pieces));
    EXPECT_EQ(r.body, payload);
    EXPECT_FALSE(r.offsetsWrong);
    EXPECT_FALSE(r.lengthsWrong);

    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", payload.size());
    chunked += size + payload + "\r\n0\r\n\r\n";
    Recorder c;
    ASSERT_TRUE(run(c, {chunked}));
    EXPECT_EQ(c.body, payload);
    EXPECT_FALSE(c.lengthsWrong);
}

TEST(HttpResponse, HooksThatRefuseEndTheReply) {
    Recorder header;
    header.acceptHeader = false;
    EXPECT_FALSE(run(header, {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nabc"}));
    EXPECT_EQ(header.chunks, 0);
    EXPECT_EQ(header.RC(), 404);

    Recorder data;
    data.stopAfter = 1;
    EXPECT_FALSE(run(data, {"HTTP/1.1 200 OK\r\n\r\nabc", "def"}));
    EXPECT_EQ(data.body, "abc");
}

TEST(HttpResponse, OneObjectReadsSeveralRepliesInTurn) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 200 OK\r\nX-First: 1\r\nContent-Length: 1\r\n\r\na"}));
    ASSERT_TRUE(run(r, {"HTTP/1.0 500 Oops\r\n\r\nbb"}));
    EXPECT_EQ(r.RC(), 500);
    EXPECT_EQ(r.getHeaderVal("X-First"), nullptr);
    EXPECT_EQ(r.contentLen(), -1);
    EXPECT_EQ(r.body, "bb");
    EXPECT_EQ(r.resets, 2);
}

TEST(HttpResponse, ParseHeadersConsumesOnlyCompleteLines) {
    Recorder r;
    r.reset();
    const std::string text = "HTTP/1.1 200 OK\r\nA: 1\r\nB: 2";
    unsigned int len = static_cast<unsigned int>(text.size());
    bool inHeaders = true;
    ASSERT_TRUE(r.parseHeaders(reinterpret_cast<const unsigned char*>(text.data()), len, inHeaders));
    EXPECT_EQ(len, 23u);  // the status line and "A: 1", each with CR LF
    EXPECT_TRUE(inHeaders);
    EXPECT_EQ(r.RC(), 200);

    const std::string rest = "B: 2\r\n\r\nbody";
    len = static_cast<unsigned int>(rest.size());
    ASSERT_TRUE(r.parseHeaders(reinterpret_cast<const unsigned char*>(rest.data()), len, inHeaders));
    EXPECT_EQ(len, 8u);  // the body stays
    EXPECT_FALSE(inHeaders);
    EXPECT_STREQ(r.getHeaderVal("B"), "2");

    // A CR at the very end waits for its LF.
    Recorder w;
    w.reset();
    const std::string cr = "HTTP/1.1 200 OK\r";
    len = static_cast<unsigned int>(cr.size());
    inHeaders = true;
    ASSERT_TRUE(w.parseHeaders(reinterpret_cast<const unsigned char*>(cr.data()), len, inHeaders));
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(w.RC(), 0);
}

TEST(HttpResponse, MutatedRepliesNeverBreakTheConsumersGuarantees) {
    // Seeded byte flips, insertions and cuts of a few well-formed replies,
    // split at random points.  Whatever the verdict, the hooks' promises hold:
    // header before data, offsets in order, pieces of 1 to 65536 bytes, and
    // never more than a declared length.
    const std::vector<std::string> seeds = {
        "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nX-A: b\r\n\r\nhello world!",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1;e=1\r\n!\r\n0\r\nT: 1\r\n\r\n",
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 404 Not Found\r\nX-F: a\r\n  b\r\n\r\nmissing",
    };
    unsigned int rng = 20240607u;
    auto next = [&rng](unsigned int n) {
        rng = rng * 1664525u + 1013904223u;
        return (rng >> 8) % n;
    };
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string m = seeds[static_cast<std::size_t>(round) % seeds.size()];
        for (unsigned int edits = 1 + next(3); edits > 0 && !m.empty(); --edits) {
            std::size_t at = next(static_cast<unsigned int>(m.size()));
            switch (next(3)) {
                case 0: m[at] = static_cast<char>(next(256)); break;
                case 1: m.insert(at, 1, "\r\n:0 ;9aF"[next(10)]); break;
                default: m.erase(at, 1 + next(4)); break;
            }
        }
        std::vector<std::string> pieces;
        for (std::size_t i = 0; i < m.size();) {
            std::size_t n = 1 + next(16);
            pieces.push_back(m.substr(i, n));
            i += n;
        }
        Recorder r;
        bool ok = run(r, pieces, next(2) == 0);
        accepted += ok;
        EXPECT_FALSE(r.dataBeforeHeader) << m;
        EXPECT_FALSE(r.offsetsWrong) << m;
        EXPECT_FALSE(r.lengthsWrong) << m;
        if (r.headerDone && r.lengthAtHeaderDone >= 0) {
            EXPECT_LE(static_cast<long long>(r.body.size()), r.lengthAtHeaderDone) << m;
        }
        if (ok) {
            EXPECT_EQ(r.headerDone, 1) << m;
        }
    }
    EXPECT_GT(accepted, 0);
}

TEST(SiHttpResponse, CollectsTheBodyAndStartsAfreshForEachReply) {
    cSiHttpResponse r;
    ScriptedIO one({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst"});
    ASSERT_TRUE(r.processResponse(&one));
    _typebuf<unsigned char> out;
    ASSERT_TRUE(r.toBuffer(out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), static_cast<std::size_t>(out.count())), "first");

    ScriptedIO two({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nsec\r\n3\r\nond\r\n0\r\n\r\n"});
    ASSERT_TRUE(r.processResponse(&two));
    ASSERT_TRUE(r.toBuffer(out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), static_cast<std::size_t>(out.count())), "second");
}

}  // namespace
