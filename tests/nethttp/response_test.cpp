// The reply reader over scripted streams: framing, header parsing and the
// hooks' guarantees, without a network.
#include "nethttp/httpclient.h"

#include "allocmeter.h"

#include <gtest/gtest.h>

#include <cstring>
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

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
constexpr long long kAnyLength = -2;

// ---------------------------------------------------------------------------

TEST(HttpResponse, FramingDecidesWhereTheBodyEndsAndWhetherTheReplyIsWhole) {
    const struct {
        const char* what;
        std::vector<std::string> pieces;
        bool stall, ok;
        int status;
        std::string body;
        long long length;
    } rows[] = {
        {"length, then a stall", {kOk + "Content-Length: 10\r\n\r\n0123456789"}, true, true, 200, "0123456789", 10},
        {"status without a reason", {"HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n"}, true, true, 200, "", 0},
        {"length without a blank", {kOk + "Content-Length:5\r\n\r\nhello"}, true, true, 200, "hello", 5},
        {"bytes beyond the length", {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nabcdEXTRA"}, false, true, 200, "abcd", 4},
        {"short body, closed", {kOk + "Content-Length: 10\r\n\r\n0123456"}, false, false, 200, "0123456", 10},
        {"no length: to the close", {"HTTP/1.0 200 OK\r\n\r\nfirst ", "second ", "third"}, false, true, 200,
         "first second third", -1},
        {"no length: a stall", {"HTTP/1.0 200 OK\r\n\r\nfirst ", "second"}, true, false, 200, "first second", -1},
        {"204 ignores its length", {"HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n"}, true, true, 204, "", 0},
        {"chunks with extensions and trailers",
         {kChunked + "5\r\nhello\r\n7;ext=\"x\"\r\n, world\r\nA \r\n0123456789\r\n0\r\nX-Trailer: t\r\n\r\n"}, true, true,
         200, "hello, world0123456789", -1},
        {"chunked wins over a length",
         {kOk + "Content-Length: 3\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n4\r\nabcd\r\n0\r\n\r\n"}, false, true, 200,
         "abcd", -1},
        {"unknown coding: to the close", {kOk + "Transfer-Encoding: gzip\r\nContent-Length: 2\r\n\r\n", "xyz"}, false,
         true, 200, "xyz", kAnyLength},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Recorder r;
        EXPECT_EQ(run(r, row.pieces, row.stall), row.ok);
        EXPECT_EQ(r.RC(), row.status);
        EXPECT_EQ(r.body, row.body);
        if (row.length != kAnyLength) {
            EXPECT_EQ(r.contentLen(), row.length);
        }
        EXPECT_EQ(r.headerDone, 1);
        EXPECT_FALSE(r.dataBeforeHeader || r.offsetsWrong || r.lengthsWrong);
    }
}

TEST(HttpResponse, MalformedOrCutHeadBlocksFailBeforeTheHeaderHook) {
    using namespace std::string_literals;
    const std::vector<std::string> bad = {
        // status lines
        "HTTP/2 200 OK\r\n\r\n", "HTTP/1.1 2000 OK\r\n\r\n", "HTTP/1.1 0x1 X\r\n\r\n", "HTTP/1.\r\n\r\n",
        "HTTP/1.1  200 OK\r\n\r\n", "HTTP/1.1 101 Switching\r\n\r\n", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok",
        // header lines
        kOk + "NoColonHere\r\n\r\n", kOk + ": empty name\r\n\r\n", kOk + "Bad Name: x\r\n\r\n",
        kOk + "Content-Length : 3\r\n\r\nabc", kOk + "Content-Length: -1\r\n\r\n", kOk + "Content-Length: 0x10\r\n\r\n",
        kOk + "Content-Length: 99999999999999999999\r\n\r\n",
        kOk + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", kOk + "X-Null: a\0b\r\n\r\n"s,
        "HTTP/1.1 200 OK\rX-Bare-CR: 1\r\n\r\n", kOk + " folded without a line before\r\n\r\n",
        // cut inside the block
        kOk + "Server: t\r\n", kOk + "Serv", "",
    };
    for (const std::string& reply : bad) {
        Recorder r;
        EXPECT_FALSE(run(r, {reply})) << reply;
        EXPECT_EQ(r.headerDone, 0) << reply;
    }
    Recorder stalled;
    EXPECT_FALSE(run(stalled, {kOk}, true));
    // The same length twice is no conflict.
    Recorder twice;
    ASSERT_TRUE(run(twice, {kOk + "Content-Length: 2\r\ncontent-length: 2\r\n\r\nok"}));
    EXPECT_EQ(twice.body, "ok");
}

TEST(HttpResponse, HeaderHookRunsOnceWithTheFinalStatusLengthAndHeaders) {
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 100 Continue\r\n\r\n"
                        "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n"
                        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nServer: t\r\n\r\nok"}));
    EXPECT_EQ(r.headerDone, 1);
    EXPECT_EQ(r.statusAtHeaderDone, 200);
    EXPECT_EQ(r.lengthAtHeaderDone, 2);
    EXPECT_EQ(r.resets, 1);
    EXPECT_EQ(r.getHeaderVal("Link"), nullptr);  // the interim reply's
    EXPECT_STREQ(r.getHeaderVal("Server"), "t");
    EXPECT_EQ(r.getHeaderVal("server"), nullptr);  // names are looked up exactly
    EXPECT_EQ(r.body, "ok");
}

TEST(HttpResponse, HeaderValuesAreTrimmedOfBlanksFoldedAndReplacedByALaterLine) {
    Recorder r;
    ASSERT_TRUE(run(r, {kOk + "Content-Length:0\r\nX-Time: 12:30:45\r\nX-Addr:\t10.0.0.1:8080 \t\r\nX-Empty:\r\n"
                              "X-Spaced:   a b  \r\nX-Long: first\r\n  second\r\n\tthird\r\n"
                              "X-A: one\r\nx-a: lower\r\nX-A: two\r\n\r\n"}));
    const std::pair<const char*, const char*> expected[] = {
        {"Content-Length", "0"}, {"X-Time", "12:30:45"},          {"X-Addr", "10.0.0.1:8080"},
        {"X-Empty", ""},         {"X-Spaced", "a b"},             {"X-Long", "first second third"},
        {"X-A", "two"},          {"x-a", "lower"},
    };
    for (auto [name, value] : expected) EXPECT_STREQ(r.getHeaderVal(name), value) << name;
}

TEST(HttpResponse, RepliesSplitAcrossReadsAnywhereDecodeTheSame) {
    const std::string head = kOk + "X-Split: value\r\n";
    for (const std::string& reply : {head + "Content-Length: 20\r\n\r\nhello, chunked world",
                                     head + "Transfer-Encoding: chunked\r\n\r\n6\r\nhello,\r\n0E\r\n chunked world\r\n0\r\n\r\n"}) {
        std::vector<std::vector<std::string> > splits(1);
        for (char c : reply) splits[0].emplace_back(1, c);  // one byte per read
        for (std::size_t cut = 1; cut < reply.size(); ++cut) splits.push_back({reply.substr(0, cut), reply.substr(cut)});
        for (const auto& pieces : splits) {
            Recorder r;
            ASSERT_TRUE(run(r, pieces, true)) << pieces[0].size() << ": " << reply;
            EXPECT_EQ(r.body, "hello, chunked world") << pieces[0].size() << ": " << reply;
            EXPECT_STREQ(r.getHeaderVal("X-Split"), "value") << pieces[0].size() << ": " << reply;
        }
    }
}

TEST(HttpResponse, HeaderLineLongerThanTheBufferOrBlockBeyondItsLimitFails) {
    Recorder big;
    EXPECT_FALSE(run(big, {kOk + "X-Big: " + std::string(70000, 'b') + "\r\n\r\n"}));
    Recorder fits;
    ASSERT_TRUE(run(fits, {kOk + "X-Big: " + std::string(60000, 'b') + "\r\nContent-Length: 0\r\n\r\n"}));
    EXPECT_EQ(std::strlen(fits.getHeaderVal("X-Big")), 60000u);

    std::string reply = kOk;
    for (int i = 0; reply.size() < cHttpResponse::kMaxHeaderBlock + 100; ++i)
        reply += "X-" + std::to_string(i) + ": " + std::string(1000, 'v') + "\r\n";
    Recorder block;
    EXPECT_FALSE(run(block, {reply + "Content-Length: 0\r\n\r\n"}));
}

TEST(HttpResponse, BrokenOrTruncatedChunksFail) {
    const char* bad[] = {
        "3\r\nabc\r\n",                 // no last chunk
        "3\r\nabcX\r\n0\r\n\r\n",       // data longer than its size
        "zz\r\nab\r\n0\r\n\r\n",        // size not hex
        "3\nabc\r\n0\r\n\r\n",          // bare LF after the size
        "\r\nabc\r\n0\r\n\r\n",         // no size
        "10000000000000000\r\n",        // size beyond 64 bits
        "3\r\nabc\r\n0\r\nX-T: 1\r\n",  // trailers never end
    };
    for (const char* chunks : bad) {
        Recorder r;
        EXPECT_FALSE(run(r, {kChunked + chunks})) << chunks;
    }
}

TEST(HttpResponse, LargeBodyArrivesInOrderInPiecesOfAtMost64K) {
    std::string payload;
    for (int i = 0; i < 300000; ++i) payload.push_back(static_cast<char>((i * 7) ^ (i >> 8)));
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", payload.size());
    for (const std::string& reply : {kOk + "Content-Length: 300000\r\n\r\n" + payload, kChunked + size + payload + "\r\n0\r\n\r\n"}) {
        std::vector<std::string> pieces;
        for (std::size_t i = 0; i < reply.size(); i += 100000) pieces.push_back(reply.substr(i, 100000));
        Recorder r;
        ASSERT_TRUE(run(r, pieces));
        EXPECT_TRUE(r.body == payload);
        EXPECT_FALSE(r.offsetsWrong || r.lengthsWrong);
    }
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

TEST(HttpResponse, OneObjectReadsSeveralRepliesInTurnAndNothingBeyondTheLength) {
    ScriptedIO io({"HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nabc", "defGHI", "JKL"});
    Recorder first;
    ASSERT_TRUE(first.processResponse(&io));
    EXPECT_EQ(io.unread(), 6u);  // "GHI" and "JKL" are not even read
    EXPECT_FALSE(first.processResponse(nullptr));
    Recorder r;
    ASSERT_TRUE(run(r, {"HTTP/1.1 200 OK\r\nX-First: 1\r\nContent-Length: 1\r\n\r\na"}));
    ASSERT_TRUE(run(r, {"HTTP/1.0 500 Oops\r\n\r\nbb"}));
    EXPECT_EQ(r.RC(), 500);
    EXPECT_EQ(r.getHeaderVal("X-First"), nullptr);
    EXPECT_EQ(r.contentLen(), -1);
    EXPECT_EQ(r.body, "bb");
    EXPECT_EQ(r.resets, 2);
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

TEST(HttpResponse, EveryFailureSaysWhatWasWrong) {
    using F = cHttpResponse::eFailure;
    const struct {
        std::vector<std::string> pieces;
        bool stall;
        bool refuseHeader;
        F why;
        const char* detail;  // a part of the text that names the particulars
    } rows[] = {
        {{kOk + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"}, false, false, F::lengthConflict, "4 after 3"},
        {{kOk + "Content-Length: 3x\r\n\r\nabc"}, false, false, F::badLength, "\"3x\""},
        {{"HTTP/2 200 OK\r\n\r\n"}, false, false, F::badStatus, "HTTP/1.x"},
        {{"HTTP/1.1 101 Switching\r\n\r\n"}, false, false, F::badStatus, "101"},
        {{kOk + "NoColonHere\r\n\r\n"}, false, false, F::badHeader, "colon"},
        {{kOk + "Content-Length: 3\r\n 4\r\n\r\nabc"}, false, false, F::badHeader, "Content-Length folded"},
        {{kOk + "X: 1\n\r\n"}, false, false, F::badHeader, "bare line feed"},
        {{kOk + "X-Big: " + std::string(70000, 'b') + "\r\n\r\n"}, false, false, F::headerTooLarge, "65536"},
        {{kOk + "Content-Length: 10\r\n\r\n0123456"}, false, false, F::truncated, "after 7 of 10 body bytes"},
        {{kOk + "Server: t\r\n"}, false, false, F::truncated, "header block"},
        {{kChunked + "5\r\nhel"}, false, false, F::truncated, "chunked body"},
        {{kOk + "Server: t\r\n"}, true, false, F::streamFailed, "header block"},
        {{kChunked + "zz\r\nab\r\n0\r\n\r\n"}, false, false, F::badChunk, "without a size"},
        {{kChunked + "2x\r\nab\r\n0\r\n\r\n"}, false, false, F::badChunk, "not hexadecimal"},
        {{kChunked + "3\r\nabcX\r\n0\r\n\r\n"}, false, false, F::badChunk, "longer than its size"},
        {{"HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx"}, false, true, F::refused, "status 404"},
        {{kOk + "Content-Length: 2\r\n\r\nok"}, false, false, F::none, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pieces[0].substr(0, 60));
        Recorder r;
        r.acceptHeader = !row.refuseHeader;
        EXPECT_EQ(run(r, row.pieces, row.stall), row.why == F::none);
        EXPECT_EQ(r.failure(), row.why);
        const std::string text = r.failureText();
        if (row.why == F::none) {
            EXPECT_EQ(text, "");
            continue;
        }
        EXPECT_EQ(text.rfind(cHttpResponse::failureName(row.why), 0), 0u) << text;
        EXPECT_NE(text.find(row.detail), std::string::npos) << text;
    }
    // A reply read after a failure starts without its reason.
    Recorder again;
    EXPECT_FALSE(run(again, {kOk + "Content-Length: 3x\r\n\r\n"}));
    ASSERT_TRUE(run(again, {kOk + "Content-Length: 0\r\n\r\n"}));
    EXPECT_EQ(again.failure(), cHttpResponse::eFailure::none);
    EXPECT_FALSE(again.processResponse(nullptr));
    EXPECT_EQ(again.failure(), cHttpResponse::eFailure::streamFailed);
}

// A reply of `bodyBytes` body bytes behind `head` that costs no memory to
// hand out: the body's bytes are whatever the reader's buffer held.
class SyntheticBody : public cFileIOTarget {
public:
    SyntheticBody(std::string head, unsigned long long bodyBytes) : head_(std::move(head)), left_(bodyBytes) {}
    long long size() override { return -1; }
    unsigned int read(void* buf, unsigned int n) override {
        auto* out = static_cast<unsigned char*>(buf);
        if (sentHead_ < head_.size()) {
            const std::size_t take = std::min<std::size_t>(n, head_.size() - sentHead_);
            std::memcpy(out, head_.data() + sentHead_, take);
            sentHead_ += take;
            return static_cast<unsigned int>(take);
        }
        const unsigned int take = static_cast<unsigned int>(std::min<unsigned long long>(n, left_));
        left_ -= take;
        return take;
    }
    bool set_fp(unsigned long long) override { return false; }
    bool set_fp_end(unsigned long long) override { return false; }
    bool set_eof(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return true; }

private:
    std::string head_;
    std::size_t sentHead_ = 0;
    unsigned long long left_;
};

TEST(HttpResponse, ConsumerThatPassesTheBodyOnTakesBodiesOfAnySize) {
    // Past 4 GiB, so that no 32-bit count can pass for the whole.
    const unsigned long long size = 5000000000ull;
    struct Counter : cHttpResponse {
        bool onData(const unsigned char*, long long len, unsigned long long offset) override {
            if (offset != bytes) wrong = true;
            bytes += static_cast<unsigned long long>(len);
            return true;
        }
        unsigned long long bytes = 0;
        bool wrong = false;
    };
    for (const std::string& head : {kOk + "Content-Length: " + std::to_string(size) + "\r\n\r\n",
                                    std::string("HTTP/1.0 200 OK\r\n\r\n")}) {
        SyntheticBody stream(head, size);
        Counter c;
        ASSERT_TRUE(c.processResponse(&stream)) << c.failureText();
        EXPECT_EQ(c.bytes, size);
        EXPECT_FALSE(c.wrong);
    }
}

TEST(SiHttpResponse, BodyOverTheCapFailsWithoutKeepingMoreThanTheCap) {
    EXPECT_EQ(cSiHttpResponse().maxBody(), cSiHttpResponse::kDefaultMaxBody);
    const std::string big = std::to_string(10000000000ull);
    const unsigned long long cap = 100000;
    char size[32];
    std::snprintf(size, sizeof size, "%llx", cap + 1);
    const struct {
        const char* what;
        std::string head;
        unsigned long long body;
        unsigned long long maxBody;  // 0: the default
        bool ok;
    } rows[] = {
        {"announced beyond the default", kOk + "Content-Length: " + big + "\r\n\r\n", 10000000000ull, 0, false},
        {"announced beyond a cap set", kOk + "Content-Length: 100001\r\n\r\n", cap + 1, cap, false},
        {"announced at the cap", kOk + "Content-Length: 100000\r\n\r\n", cap, cap, true},
        {"until the close, beyond the default", "HTTP/1.0 200 OK\r\n\r\n", 10000000000ull, 0, false},
        {"until the close, one byte beyond", "HTTP/1.0 200 OK\r\n\r\n", cap + 1, cap, false},
        {"until the close, at the cap", "HTTP/1.0 200 OK\r\n\r\n", cap, cap, true},
        {"one chunk beyond", kChunked + size + "\r\n", cap + 1, cap, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const unsigned long long keeps = row.maxBody ? row.maxBody : cSiHttpResponse::kDefaultMaxBody;
        SyntheticBody stream(row.head, row.body);
        cSiHttpResponse r;
        if (row.maxBody) r.setMaxBody(row.maxBody);
        qortest::AllocMeter meter;
        EXPECT_EQ(r.processResponse(&stream), row.ok);
        // What is kept, the memory stream's page list, a page and the read
        // buffer besides.
        EXPECT_LE(meter.peak(), static_cast<long long>(keeps + keeps / 256) + 4 * 65536);
        _typebuf<unsigned char> out;
        ASSERT_TRUE(r.toBuffer(out));
        EXPECT_LE(static_cast<unsigned long long>(out.count()), keeps);
        if (row.ok) {
            EXPECT_EQ(static_cast<unsigned long long>(out.count()), row.body);
            continue;
        }
        EXPECT_EQ(r.failure(), cHttpResponse::eFailure::bodyOverCap);
        EXPECT_NE(std::string(r.failureText()).find(std::to_string(keeps)), std::string::npos) << r.failureText();
    }
}

}  // namespace
