// Requests: address parsing, headers, form parts and the exact bytes sent.
#include "nethttp/httpclient.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string wire(cHttpRequest& r) {
    _typebuf<unsigned char> out;
    if (!r.toTransport(out)) return "<failed>";
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.count()));
}

// The boundary a serialised POST announces in its Content-Type line.
std::string boundaryOf(const std::string& request) {
    const std::string mark = "multipart/form-data; boundary=";
    std::size_t at = request.find(mark);
    if (at == std::string::npos) return "";
    std::size_t end = request.find("\r\n", at);
    return request.substr(at + mark.size(), end - at - mark.size());
}

const std::string kAgent = "User-Agent: QORNetHTTP (compatible; cross-platform)\r\n";

TEST(HttpRequestUrl, HostPortPathAndQueryAreTakenAsWrittenWithoutTheFragment) {
    const struct {
        const char *url, *host;
        int port;
        const char *path, *hostHeader;
    } rows[] = {
        {"http://example.org", "example.org", 80, "/", "example.org"},
        {"http://example.org:8080/a/b%20c?x=1&y=%2F", "example.org", 8080, "/a/b%20c?x=1&y=%2F", "example.org:8080"},
        {"HTTP://Example.org:65535", "Example.org", 65535, "/", "Example.org:65535"},
        {"http://h.example?q=1", "h.example", 80, "/?q=1", "h.example"},
        {"http://h.example/page?q=1#part", "h.example", 80, "/page?q=1", "h.example"},
        {"http://h.example:81#top", "h.example", 81, "/", "h.example:81"},
    };
    for (const auto& row : rows) {
        cHttpRequest r;
        ASSERT_TRUE(r.parseURL(row.url)) << row.url;
        EXPECT_STREQ(r.host(), row.host) << row.url;
        EXPECT_EQ(r.port(), row.port) << row.url;
        EXPECT_STREQ(r.path(), row.path) << row.url;
        EXPECT_STREQ(r.hostHeader(), row.hostHeader) << row.url;
    }
}

TEST(HttpRequestUrl, BadAddressesFailAndKeepTheEarlierOne) {
    cHttpRequest r(cHttpRequest::GET, "http://kept.example:81/kept", 1);
    const char* bad[] = {"https://example.org/",  "ftp://example.org/",    "http:/example.org",
                         "example.org",           "http://example.org:0/", "http://example.org:65536/",
                         "http://example.org:/",  "http://example.org:8a/", "http://exa mple.org/",
                         "http://example.org/a b", "http://example.org/\"q\"", "http://example.org/<x>",
                         "http://example.org/a\\b", "http://example.org/{x}", "http://example.org/\x01",
                         "http://example.org/\xc3\xa9", "http://", "http://:80/", "http:///path"};
    for (const char* url : bad) {
        EXPECT_FALSE(r.parseURL(url)) << url;
        EXPECT_STREQ(r.host(), "kept.example") << url;
        EXPECT_EQ(r.port(), 81) << url;
        EXPECT_STREQ(r.path(), "/kept") << url;
    }
    EXPECT_FALSE(r.parseURL(nullptr));
    EXPECT_FALSE(r.create(cHttpRequest::GET, nullptr, 1));
}

TEST(HttpRequest, RequestsWithoutPartsAreTheRequestLineHostAndAgent) {
    cHttpRequest get11(cHttpRequest::GET, "http://example.org:8080/p?q=1", 1);
    EXPECT_EQ(wire(get11), "GET /p?q=1 HTTP/1.1\r\nHost: example.org:8080\r\n" + kAgent + "\r\n");
    cHttpRequest get10(cHttpRequest::GET, "http://example.org", 0);
    EXPECT_EQ(wire(get10), "GET / HTTP/1.0\r\nHost: example.org\r\n" + kAgent + "\r\n");
    // A POST without parts has no body nor length; a GET with parts sends none.
    cHttpRequest post(cHttpRequest::POST, "http://h/form", 0);
    EXPECT_EQ(wire(post), "POST /form HTTP/1.0\r\nHost: h\r\n" + kAgent + "\r\n");
    ASSERT_TRUE(get10.addPost("f", "abc", 3, nullptr, nullptr));
    EXPECT_EQ(wire(get10), "GET / HTTP/1.0\r\nHost: example.org\r\n" + kAgent + "\r\n");
    // Without an address or with an unknown type there is nothing to send.
    cHttpRequest none;
    EXPECT_EQ(wire(none), "<failed>");
    cHttpRequest odd(static_cast<cHttpRequest::eRequestTypes>(2), "http://example.org/", 1);
    EXPECT_EQ(wire(odd), "<failed>");
}

TEST(HttpRequest, HeadersGoOutInKeyOrderOnceEachWithTheLastValue) {
    cHttpRequest r(cHttpRequest::GET, "http://h/", 1);
    EXPECT_TRUE(r.setHeader("B", "2"));
    EXPECT_TRUE(r.setHeader("A", "1"));
    EXPECT_TRUE(r.setHeader("Accept", "x"));
    EXPECT_TRUE(r.setHeader("A", "one"));
    EXPECT_TRUE(r.setHeader("a", "lower"));
    EXPECT_TRUE(r.setHeader("Gone", "x"));
    EXPECT_TRUE(r.setHeader("Gone", nullptr));
    EXPECT_TRUE(r.setHeader("Never-Set", nullptr));
    // Bytes compare unsigned: "A" < "Accept" (a prefix first) < "B" < "a".
    EXPECT_EQ(wire(r), "GET / HTTP/1.1\r\nHost: h\r\n" + kAgent + "A: one\r\nAccept: x\r\nB: 2\r\na: lower\r\n\r\n");
}

TEST(HttpRequest, HeadersTheClientWritesItselfOrThatWouldBreakTheRequestAreRefused) {
    cHttpRequest r(cHttpRequest::GET, "http://h/", 1);
    const std::string before = wire(r);
    const std::pair<const char*, const char*> refused[] = {
        {"Host", "x"},           {"hOST", "x"},     {"Content-Type", "x"},   {"content-type", "x"},
        {"Content-Length", "x"}, {"CONTENT-LENGTH", "x"},                    {"Transfer-Encoding", "x"},
        {"", "x"},               {nullptr, "x"},    {"Bad Name", "x"},       {"Bad:Name", "x"},
        {"X-Inject", "v\r\nEvil: 1"},               {"X-Inject", "v\nEvil: 1"}, {"User-Agent", "a\r\nEvil: 1"},
    };
    for (auto [name, value] : refused) EXPECT_FALSE(r.setHeader(name, value)) << (name ? name : "(null)") << ": " << value;
    EXPECT_EQ(wire(r), before);
}

TEST(HttpRequest, PostPartsHaveTheMultipartLayoutInOrderWithTheirTypesAndParameters) {
    cHttpRequest r(cHttpRequest::POST, "http://h/up", 1);
    ASSERT_TRUE(r.setHeader("X-Z", "z"));
    const unsigned char bin[] = {0, 1, 2, 0xFF, '\r', '\n'};
    ASSERT_TRUE(r.addPost("file", bin, sizeof bin, "application/octet-stream", "filename=\"a.bin\""));
    ASSERT_TRUE(r.addPost("note", "hi", 2, nullptr, nullptr));
    const std::string w = wire(r);
    const std::string b = boundaryOf(w);
    ASSERT_EQ(b.rfind("----qornethttp", 0), 0u) << w;
    ASSERT_EQ(b.substr(b.size() - 4), "----");
    EXPECT_EQ(b.substr(14, b.size() - 18).find_first_not_of("0123456789abcdef"), std::string::npos) << b;
    const std::string body = "--" + b + "\r\n"
                             "Content-Disposition: form-data; name=\"file\"; filename=\"a.bin\"\r\n"
                             "Content-Type: application/octet-stream\r\n"
                             "\r\n" + std::string(reinterpret_cast<const char*>(bin), sizeof bin) + "\r\n"
                             "--" + b + "\r\n"
                             "Content-Disposition: form-data; name=\"note\"\r\n"
                             "\r\nhi\r\n"
                             "--" + b + "--\r\n\r\n";
    EXPECT_EQ(w, "POST /up HTTP/1.1\r\nHost: h\r\n" + kAgent + "X-Z: z\r\nContent-Type: multipart/form-data; boundary=" + b +
                     "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

// A request whose clock is fixed, so the boundary it would pick is known.
class FixedClockRequest : public cHttpRequest {
public:
    using cHttpRequest::cHttpRequest;

protected:
    unsigned long long boundaryStamp() const override { return 0xabc123ULL; }
};

TEST(HttpRequest, BoundaryNeverOccursInsideAPart) {
    FixedClockRequest plain(cHttpRequest::POST, "http://h/", 1);
    ASSERT_TRUE(plain.addPost("x", "x", 1, nullptr, nullptr));
    EXPECT_EQ(boundaryOf(wire(plain)), "----qornethttpabc123----");

    const std::string trap = "data --" + std::string("----qornethttpabc123----") + " more";
    FixedClockRequest r(cHttpRequest::POST, "http://h/", 1);
    ASSERT_TRUE(r.addPost("trap", trap.data(), static_cast<int>(trap.size()), nullptr, nullptr));
    const std::string w = wire(r);
    const std::string b = boundaryOf(w);
    ASSERT_EQ(b.rfind("----qornethttp", 0), 0u);
    EXPECT_NE(b, "----qornethttpabc123----");
    EXPECT_EQ(trap.find(b), std::string::npos);
    const std::string body = "--" + b + "\r\nContent-Disposition: form-data; name=\"trap\"\r\n\r\n" + trap + "\r\n--" + b +
                             "--\r\n\r\n";
    EXPECT_EQ(w.substr(w.size() - body.size()), body);
    EXPECT_NE(w.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
}

TEST(HttpRequest, AddPostRefusesEmptyPartsAndTextThatBreaksThePartHeader) {
    cHttpRequest r(cHttpRequest::POST, "http://h/", 1);
    const struct {
        const char *name, *data;
        int size;
        const char *type, *params;
    } refused[] = {
        {nullptr, "a", 1, nullptr, nullptr}, {"", "a", 1, nullptr, nullptr},     {"n", nullptr, 1, nullptr, nullptr},
        {"n", "a", 0, nullptr, nullptr},     {"n", "a", -1, nullptr, nullptr},    {"n\"x", "a", 1, nullptr, nullptr},
        {"n\r\n", "a", 1, nullptr, nullptr}, {"n", "a", 1, "text/plain\r\nX: 1", nullptr},
        {"n", "a", 1, nullptr, "filename=\"x\"\r\n"},
    };
    for (const auto& p : refused)
        EXPECT_FALSE(r.addPost(p.name, p.data, p.size, p.type, p.params)) << (p.name ? p.name : "(null)") << " " << p.size;
    EXPECT_EQ(boundaryOf(wire(r)), "");  // still no parts
}

TEST(HttpRequestUrlEncode, StopsAtTheCountOrTheTerminatorAndGivesNothingForNoText) {
    const struct {
        const char* text;
        long long len;
        const char* expected;  // null: nothing
    } rows[] = {
        {"abcdef", 3, "abc"}, {"ab", 10, "ab"}, {"", -1, nullptr},
        {"x", 0, nullptr},           {nullptr, -1, nullptr},
    };
    for (const auto& row : rows) {
        _guardchar<char> out;
        cHttpRequest::urlEncode("stale", -1, out);
        cHttpRequest::urlEncode(row.text, row.len, out);
        if (row.expected) {
            EXPECT_STREQ(out.c_str(), row.expected) << row.text;
        } else {
            EXPECT_EQ(out.c_str(), nullptr) << (row.text ? row.text : "(null)");
        }
    }
}

TEST(HttpRequestUrlEncode, AgreesWithPythonsQuote) {
    std::string all;
    for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
    _guardchar<char> out;
    cHttpRequest::urlEncode(all.c_str(), -1, out);
    int status = -1;
    const std::string expected = qortest::runCommand(
        qortest::python3() + " -c \"import sys, urllib.parse; sys.stdout.write(urllib.parse.quote(bytes(range(1, 256)), safe=''))\"",
        &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(std::string(out.c_str()), expected);
}

}  // namespace
