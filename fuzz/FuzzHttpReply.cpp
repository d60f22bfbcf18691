// The HTTP reply reader on whole replies: status line, header blocks (interim
// replies, folding, repeated framing headers), bodies framed by length, by
// chunked coding or by the close.  The reply is read once in pieces chosen by
// the first input byte and once whole: both readings must agree on the
// outcome, status, framing and body, and the body hooks must see their
// offsets in order and never more than a known length; the header scan
// stays linear in the bytes received.  A failed reading names its reason,
// the same however the reply was split, and a successful one none.  Read
// into memory with a cap just below the body, the reply fails for the cap
// alone; with the cap at the body's size it comes through unchanged.
// qor-fuzz-link: nethttp netio base
// qor-fuzz-data: nethttp
// qor-fuzz-args: -max_len=20000
// qor-fuzz-ci-runs: 180000
#include "fuzzsupport.h"
#include "nethttp/httpclient.h"
#include "chunkedstream.h"

#include <cctype>

namespace {

class cRecordingResponse : public cHttpResponse {
public:
    bool onHeaderDone() override {
        FUZZ_CHECK(!headerDone_);
        headerDone_ = true;
        lengthAtHeader_ = contentLen();
        return true;
    }
    bool onData(const unsigned char* buf, long long len, unsigned long long offset) override {
        FUZZ_CHECK(headerDone_);
        FUZZ_CHECK(len >= 1 && len <= 65536);
        FUZZ_CHECK(offset == body_.size());
        body_.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(len));
        if (lengthAtHeader_ >= 0) FUZZ_CHECK(body_.size() <= static_cast<unsigned long long>(lengthAtHeader_));
        return true;
    }
    const std::string& body() const { return body_; }
    bool headerDone() const { return headerDone_; }

private:
    bool headerDone_ = false;
    long long lengthAtHeader_ = -1;
    std::string body_;
};

struct sOutcome {
    bool ok;
    cHttpResponse::eFailure failure;
    int status;
    long long length;
    bool chunked;
    bool headerDone;
    std::string body;
    std::string server;
};

sOutcome readReply(const std::string& reply, unsigned char pieces) {
    cPieceStream stream(reply, piecesFrom(pieces));
    cRecordingResponse resp;
    sOutcome o;
    o.ok = resp.processResponse(&stream);
    o.failure = resp.failure();
    const std::string text = resp.failureText();
    if (o.ok) {
        FUZZ_CHECK(o.failure == cHttpResponse::eFailure::none && text.empty());
    } else {
        FUZZ_CHECK(o.failure != cHttpResponse::eFailure::none);
        FUZZ_CHECK(text.rfind(cHttpResponse::failureName(o.failure), 0) == 0);
    }
    // Each header byte is looked at once, a CR that ends a read once more.
    FUZZ_CHECK(resp.scannedBytes() <= reply.size() + stream.reads());
    o.status = resp.RC();
    o.length = resp.contentLen();
    o.chunked = resp.isChunked();
    o.headerDone = resp.headerDone();
    o.body = resp.body();
    const char* server = resp.getHeaderVal("Server");
    o.server = server ? server : "<none>";
    if (o.ok) FUZZ_CHECK(o.headerDone);
    if (o.ok && o.length >= 0 && !o.chunked && o.status >= 200 && o.status != 204 && o.status != 304)
        FUZZ_CHECK(o.body.size() == static_cast<unsigned long long>(o.length));
    return o;
}

// Chunked transfer coding read plainly: hex size (at most 15 digits),
// blanks, optional extension, CR LF, data, CR LF; after the last chunk
// trailer lines up to an empty one.  False for anything else.
bool dechunk(const std::string& b, std::string& out) {
    size_t i = 0;
    auto line = [&](std::string& l) {
        const size_t e = b.find("\r\n", i);
        if (e == std::string::npos) return false;
        l = b.substr(i, e - i);
        i = e + 2;
        return l.find_first_of("\r\n") == std::string::npos && l.size() < 8192;
    };
    std::string l;
    for (;;) {
        if (!line(l)) return false;
        size_t k = 0;
        unsigned long long size = 0;
        while (k < l.size() && std::isxdigit(static_cast<unsigned char>(l[k])) && k < 16) {
            size = size * 16 + static_cast<unsigned>(std::stoi(l.substr(k, 1), nullptr, 16));
            ++k;
        }
        if (k == 0 || k > 15) return false;
        while (k < l.size() && (l[k] == ' ' || l[k] == '\t')) ++k;
        if (k < l.size() && l[k] != ';') return false;
        if (size == 0) break;
        if (b.size() - i < size + 2 || b.compare(i + size, 2, "\r\n") != 0) return false;
        out.append(b, i, size);
        i += size + 2;
    }
    for (int trailers = 0;; ++trailers) {
        if (!line(l)) return false;
        if (l.empty()) return true;
        if (trailers >= 100) return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const unsigned char pieces = in.byte();
    const std::string reply = in.rest();

    const sOutcome split = readReply(reply, pieces);
    const sOutcome whole = readReply(reply, 0);
    FUZZ_CHECK(split.ok == whole.ok);
    FUZZ_CHECK(split.failure == whole.failure);
    FUZZ_CHECK(split.headerDone == whole.headerDone);
    if (whole.headerDone) {
        FUZZ_CHECK(split.status == whole.status && split.length == whole.length && split.chunked == whole.chunked);
        FUZZ_CHECK(split.server == whole.server);
    }
    if (whole.ok) FUZZ_CHECK(split.body == whole.body);

    // Kept in memory under a cap: at the body's size the same body, one byte
    // below it the cap's failure and nothing beyond it kept.
    const unsigned long long bodySize = whole.body.size();
    for (unsigned long long cap : {bodySize, bodySize - 1}) {
        if (cap > bodySize) continue;  // no byte below an empty body
        cPieceStream stream(reply, piecesFrom(pieces));
        cSiHttpResponse capped;
        capped.setMaxBody(cap);
        const bool ok = capped.processResponse(&stream);
        _typebuf<unsigned char> kept;
        FUZZ_CHECK(capped.toBuffer(kept));
        FUZZ_CHECK(static_cast<unsigned long long>(kept.count()) <= cap);
        if (!whole.ok) {
            FUZZ_CHECK(!ok);
        } else if (cap == bodySize) {
            FUZZ_CHECK(ok);
            FUZZ_CHECK(std::string(reinterpret_cast<const char*>(kept.data()), static_cast<size_t>(kept.count())) ==
                       whole.body);
        } else {
            FUZZ_CHECK(!ok && capped.failure() == cHttpResponse::eFailure::bodyOverCap);
        }
    }

    // The header parser on its own, over the whole reply at once.
    cHttpResponse direct;
    direct.reset();
    bool inHeaders = true;
    unsigned int len = static_cast<unsigned int>(std::min<size_t>(reply.size(), cHttpResponse::kBufferSize));
    const bool parsed = direct.parseHeaders(reinterpret_cast<const unsigned char*>(reply.data()), len, inHeaders);
    if (parsed && !inHeaders) {
        FUZZ_CHECK(whole.headerDone && direct.RC() == whole.status);
        // The body after the header block, framed three ways.
        const std::string rest = reply.substr(len);
        const bool hasBody = whole.status >= 200 && whole.status != 204 && whole.status != 304;
        if (!hasBody) {
            FUZZ_CHECK(whole.body.empty());
        } else if (whole.ok && whole.chunked) {
            std::string plain;
            FUZZ_CHECK(dechunk(rest, plain) && plain == whole.body);
        } else if (whole.ok && whole.length >= 0) {
            FUZZ_CHECK(whole.body == rest.substr(0, static_cast<size_t>(whole.length)));
        } else if (whole.ok) {
            FUZZ_CHECK(whole.body == rest);
        }
        if (hasBody && whole.chunked && !whole.ok) {
            std::string plain;
            FUZZ_CHECK(!dechunk(rest, plain));
        }
    }
    return 0;
}
