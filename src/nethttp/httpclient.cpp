#include "nethttp/httpclient.h"

#include "base/checked.h"
#include "base/strutil.h"
#include "base/timeutil.h"
#include "netio/socketio.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

bool isAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Header names and transfer codings compare ignoring ASCII letter case only,
// which is how the library's __stricmp compares.
bool equalsNoCase(const char* a, std::size_t n, const char* b) {
    return std::strlen(b) == n && __stricmp(a, b, static_cast<long long>(n)) == 0;
}
bool equalsNoCase(const char* a, const char* b) { return equalsNoCase(a, std::strlen(a), b); }

// RFC 7230 tchar: what a header name may be made of.
bool isTokenChar(unsigned char c) {
    return isAlpha(c) || isDigit(c) || (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}
bool isToken(const char* s, std::size_t n) {
    if (n == 0) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!isTokenChar(static_cast<unsigned char>(s[i]))) return false;
    return true;
}
bool hasLineBreak(const char* s) { return s && std::strpbrk(s, "\r\n") != nullptr; }

// What parseURL lets through after "http://": the unreserved and reserved
// characters of a URI, and '%'.
bool isUrlChar(unsigned char c) {
    return isAlpha(c) || isDigit(c) || (c != 0 && std::strchr("!#$%&'()*+,-./:;=?@[]_~", c) != nullptr);
}

// The name of a cStringKey: its bytes without the zero padding.
std::string keyText(const cStringKey& k) {
    _typebuf<char> raw;
    k.utf8(raw);
    std::size_t n = static_cast<std::size_t>(raw.count());
    while (n > 0 && raw.data()[n - 1] == 0) --n;
    return std::string(raw.data() ? raw.data() : "", n);
}

// Strips spaces and tabs at both ends of [b, e).
void trimBlanks(const unsigned char*& b, const unsigned char*& e) {
    while (b < e && (*b == ' ' || *b == '\t')) ++b;
    while (e > b && (e[-1] == ' ' || e[-1] == '\t')) --e;
}

// 1*DIGIT that fits a signed 64-bit length; nothing else.
bool parseDecimalLength(const unsigned char* b, const unsigned char* e, long long& out) {
    if (b == e) return false;
    long long v = 0;
    for (; b < e; ++b) {
        if (!isDigit(*b)) return false;
        if (!checked_mul(v, 10, v) || !checked_add(v, *b - '0', v)) return false;
    }
    out = v;
    return true;
}

}  // namespace

// ===========================================================================
// cHttpRequest

cHttpRequest::cHttpRequest(eRequestTypes type, const char* url, int http11)
    : type_(type), http11_(http11 != 0 ? 1 : 0) {
    if (url) parseURL(url);
}

cHttpRequest::~cHttpRequest() { destroy(); }

bool cHttpRequest::create(eRequestTypes type, const char* url, int http11) {
    destroy();
    type_ = type;
    http11_ = http11 != 0 ? 1 : 0;
    return url ? parseURL(url) : false;
}

void cHttpRequest::destroy() {
    userAgent_.clear();
    host_.clear();
    hostHeader_.clear();
    path_.clear();
    headers_.destroy();
    posts_.destroy();
}

bool cHttpRequest::parseURL(const char* url) {
    static const char kScheme[] = "http://";
    const std::size_t schemeLen = sizeof kScheme - 1;
    if (!url || std::strlen(url) < schemeLen || !equalsNoCase(url, schemeLen, kScheme)) return false;
    const char* rest = url + schemeLen;
    for (const char* p = rest; *p; ++p)
        if (!isUrlChar(static_cast<unsigned char>(*p))) return false;

    // The authority ends at the first '/', '?' or '#'.
    std::size_t addrLen = std::strcspn(rest, "/?#");
    std::string address(rest, addrLen);
    std::string host = address;
    int port = 80;
    std::size_t colon = address.find(':');
    if (colon != std::string::npos) {
        host = address.substr(0, colon);
        const std::string digits = address.substr(colon + 1);
        if (digits.empty()) return false;
        long v = 0;
        for (char c : digits) {
            if (!isDigit(static_cast<unsigned char>(c))) return false;
            v = v * 10 + (c - '0');
            if (v > 65535) return false;
        }
        if (v == 0) return false;
        port = static_cast<int>(v);
    }
    if (host.empty()) return false;

    // The path is sent as written, query included; the fragment is only for
    // the client and never sent.
    std::string path(rest + addrLen);
    std::size_t hash = path.find('#');
    if (hash != std::string::npos) path.erase(hash);
    if (path.empty() || path[0] != '/') path.insert(0, "/");

    host_.set(host.c_str());
    port_ = port;
    hostHeader_.set(address.c_str());
    path_.set(path.c_str());
    return true;
}

bool cHttpRequest::setHeader(const char* name, const char* value) {
    if (!name || !*name) return false;
    const std::size_t n = std::strlen(name);
    if (!isToken(name, n)) return false;
    if (hasLineBreak(value)) return false;
    if (equalsNoCase(name, "User-Agent")) {
        userAgent_.set(value);
        return true;
    }
    if (equalsNoCase(name, "Content-Length") || equalsNoCase(name, "Content-Type") || equalsNoCase(name, "Host") ||
        equalsNoCase(name, "Transfer-Encoding"))
        return false;
    cStringKey key(name, static_cast<long long>(n));
    if (!value) {
        headers_.dettach(key);
        return true;
    }
    _guardchar<char>* slot = headers_.insert(key);
    if (!slot) return false;
    slot->set(value);
    return true;
}

bool cHttpRequest::addPost(const char* name, const void* data, int size, const char* contentType,
                           const char* dispositionParams) {
    if (!name || !*name || !data || size <= 0) return false;
    if (std::strpbrk(name, "\"\r\n") || hasLineBreak(contentType) || hasLineBreak(dispositionParams)) return false;
    auto* item = posts_.add();
    sPostDataElement& e = item->value;
    e.name.set(name);
    e.contentType.set(contentType);
    e.dispositionParams.set(dispositionParams);
    e.data.copyFrom(static_cast<const unsigned char*>(data), size);
    return true;
}

void cHttpRequest::urlEncode(const char* text, long long len, _guardchar<char>& out) {
    out.clear();
    if (!text || !*text || len == 0) return;
    std::size_t n = 0;
    if (len < 0) {
        n = std::strlen(text);
    } else {
        while (static_cast<long long>(n) < len && text[n]) ++n;
    }
    static const char kHex[] = "0123456789ABCDEF";
    std::string enc;
    enc.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            enc.push_back(static_cast<char>(c));
        } else {
            enc.push_back('%');
            enc.push_back(kHex[c >> 4]);
            enc.push_back(kHex[c & 15]);
        }
    }
    out.set(enc.c_str(), static_cast<long long>(enc.size()));
}

unsigned long long cHttpRequest::boundaryStamp() const { return ticks_us(); }

bool cHttpRequest::buildMultipart(const std::string& boundary, std::string& body) const {
    body.clear();
    const std::string delimiter = "--" + boundary;
    for (auto* it = posts_.head; it; it = it->next) {
        const sPostDataElement& e = it->value;
        const char* bytes = reinterpret_cast<const char*>(e.data.data());
        const std::size_t count = static_cast<std::size_t>(e.data.count());
        // A part that holds the delimiter would end early on the server.
        if (std::string_view(bytes, count).find(delimiter) != std::string_view::npos) return false;
        body += delimiter;
        body += "\r\nContent-Disposition: form-data; name=\"";
        body += e.name.c_str();
        body += '"';
        if (!e.dispositionParams.empty()) {
            body += "; ";
            body += e.dispositionParams.c_str();
        }
        body += "\r\n";
        if (!e.contentType.empty()) {
            body += "Content-Type: ";
            body += e.contentType.c_str();
            body += "\r\n";
        }
        body += "\r\n";
        body.append(bytes, count);
        body += "\r\n";
    }
    body += delimiter;
    body += "--\r\n\r\n";
    return true;
}

bool cHttpRequest::toTransport(_typebuf<unsigned char>& out) {
    if (host_.empty() || path_.empty()) return false;
    if (type_ != GET && type_ != POST) return false;

    std::string head;
    head += type_ == GET ? "GET " : "POST ";
    head += path_.c_str();
    head += http11_ ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n";
    head += "Host: ";
    head += hostHeader_.c_str();
    head += "\r\nUser-Agent: ";
    head += userAgent_.c_str() ? userAgent_.c_str() : kDefaultAgent;
    head += "\r\n";
    for (auto* h = headers_.first(); h; h = headers_.next(h)) {
        head += keyText(h->key);
        head += ": ";
        head += h->value.c_str() ? h->value.c_str() : "";
        head += "\r\n";
    }

    std::string body;
    if (type_ == POST && posts_.head) {
        // The boundary carries the time in microseconds.  Should a part hold
        // it, another number is drawn from it (a step of a 64-bit LCG, so a
        // part cannot hold the whole sequence as it could a run of times).
        unsigned long long stamp = boundaryStamp();
        std::string boundary;
        for (;; stamp = stamp * 6364136223846793005ULL + 1442695040888963407ULL) {
            char b[64];
            std::snprintf(b, sizeof b, "----qornethttp%llx----", stamp);
            boundary = b;
            if (buildMultipart(boundary, body)) break;
        }
        head += "Content-Type: multipart/form-data; boundary=";
        head += boundary;
        head += "\r\n";
        char length[48];
        std::snprintf(length, sizeof length, "Content-Length: %llu\r\n",
                      static_cast<unsigned long long>(body.size()));
        head += length;
    }
    head += "\r\n";

    out.set(static_cast<long long>(head.size() + body.size()));
    std::memcpy(out.data(), head.data(), head.size());
    if (!body.empty()) std::memcpy(out.data() + head.size(), body.data(), body.size());
    return true;
}

// ===========================================================================
// cHttpResponse

// Chunked transfer coding (RFC 7230 4.1):
//   chunk-size [ ";" ext ] CRLF  chunk-data CRLF ... "0" [ext] CRLF
//   *( trailer-field CRLF ) CRLF
// Data bytes are passed on as they arrive; size lines, extensions and
// trailers are read and dropped.
class cHttpResponse::cChunkDecoder {
public:
    enum eResult { needMore, done, failed };

    // Feeds n bytes; data runs go to sink(ptr, len) (false stops with failed,
    // why() null then: the sink has its own reason).
    template <typename Sink>
    eResult feed(const unsigned char* p, std::size_t n, Sink&& sink) {
        std::size_t i = 0;
        while (i < n) {
            switch (state_) {
                case kData: {
                    std::size_t take = static_cast<std::size_t>(
                        std::min<unsigned long long>(left_, static_cast<unsigned long long>(n - i)));
                    if (!sink(p + i, take)) return failWith(nullptr);
                    i += take;
                    left_ -= take;
                    if (left_ == 0) state_ = kDataCR;
                    break;
                }
                case kDataCR:
                    if (p[i++] != '\r') return failWith("chunk data longer than its size");
                    state_ = kDataLF;
                    break;
                case kDataLF:
                    if (p[i++] != '\n') return failWith("no line feed after a chunk's data");
                    state_ = kSize;
                    break;
                case kSize:
                case kTrailer: {
                    unsigned char c = p[i++];
                    if (c == '\n') {
                        if (line_.empty() || line_.back() != '\r')
                            return failWith("a line that ends in a bare line feed");
                        line_.pop_back();
                        eResult r = state_ == kSize ? sizeLine() : trailerLine();
                        line_.clear();
                        if (r != needMore) return r;
                        break;
                    }
                    if (!line_.empty() && line_.back() == '\r') return failWith("a bare carriage return");
                    if (line_.size() >= kMaxLine) return failWith("a size or trailer line over 8 KB");
                    line_.push_back(static_cast<char>(c));
                    break;
                }
                case kDone:
                    return done;
            }
        }
        return state_ == kDone ? done : needMore;
    }

    // What broke the coding, or null.
    const char* why() const { return why_; }

private:
    static constexpr std::size_t kMaxLine = 8192;
    enum eState { kSize, kData, kDataCR, kDataLF, kTrailer, kDone };

    eResult failWith(const char* why) {
        why_ = why;
        return failed;
    }

    eResult sizeLine() {
        unsigned long long v = 0;
        std::size_t i = 0, digits = 0;
        for (; i < line_.size(); ++i) {
            char c = line_[i];
            int d = isDigit(static_cast<unsigned char>(c)) ? c - '0'
                    : (c >= 'a' && c <= 'f')              ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F')              ? c - 'A' + 10
                                                          : -1;
            if (d < 0) break;
            if (++digits > 15) return failWith("a chunk size beyond 15 hex digits");
            v = v * 16 + static_cast<unsigned>(d);
        }
        if (digits == 0) return failWith("a chunk size line without a size");
        while (i < line_.size() && (line_[i] == ' ' || line_[i] == '\t')) ++i;
        if (i < line_.size() && line_[i] != ';') return failWith("a chunk size that is not hexadecimal");
        left_ = v;
        state_ = v == 0 ? kTrailer : kData;
        return needMore;
    }
    eResult trailerLine() {
        if (line_.empty()) {
            state_ = kDone;
            return done;
        }
        if (++trailers_ > 100) return failWith("more than 100 trailer lines");
        return needMore;
    }

    eState state_ = kSize;
    unsigned long long left_ = 0;
    std::string line_;
    int trailers_ = 0;
    const char* why_ = nullptr;
};

cHttpResponse::cHttpResponse() = default;

cHttpResponse::~cHttpResponse() = default;

void cHttpResponse::reset() {
    headers_.destroy();
    status_ = 0;
    contentLength = -1;
}

bool cHttpResponse::onData(const unsigned char*, long long, unsigned long long) { return true; }

bool cHttpResponse::onHeaderDone() { return true; }

const char* cHttpResponse::getHeaderVal(const char* name) const {
    if (!name) return nullptr;
    // The line last read is not in the map until the block goes on past it.
    if (pending_ && lastName_ == name) return lastValue_.c_str();
    const _guardchar<char>* value = headers_.find(cStringKey(name, -1));
    return !value ? nullptr : (value->c_str() ? value->c_str() : "");
}

const char* cHttpResponse::failureName(eFailure f) {
    switch (f) {
        case eFailure::none: return "no failure";
        case eFailure::badRequest: return "bad request";
        case eFailure::unresolved: return "host not found";
        case eFailure::connectFailed: return "connection failed";
        case eFailure::timedOut: return "timed out";
        case eFailure::deadline: return "deadline passed";
        case eFailure::reset: return "connection reset";
        case eFailure::sendFailed: return "request not sent";
        case eFailure::truncated: return "reply cut short";
        case eFailure::streamFailed: return "stream failed";
        case eFailure::badStatus: return "bad status line";
        case eFailure::badHeader: return "bad header line";
        case eFailure::badLength: return "bad Content-Length";
        case eFailure::lengthConflict: return "Content-Length conflict";
        case eFailure::headerTooLarge: return "header too large";
        case eFailure::badChunk: return "bad chunked coding";
        case eFailure::bodyOverCap: return "body over the cap";
        case eFailure::refused: return "refused by the consumer";
    }
    return "unknown failure";
}

bool cHttpResponse::fail(eFailure why, const char* detail, ...) {
    if (failure_ != eFailure::none || why == eFailure::none) return false;
    failure_ = why;
    failureText_ = failureName(why);
    if (detail && *detail) {
        char text[512];
        va_list args;
        va_start(args, detail);
        std::vsnprintf(text, sizeof text, detail, args);
        va_end(args);
        failureText_ += ": ";
        failureText_ += text;
    }
    return false;
}

void cHttpResponse::clearFailure() {
    failure_ = eFailure::none;
    failureText_.clear();
}

void cHttpResponse::beginReply() {
    headerBytes_ = 0;
    scannedBytes_ = 0;
    sawContentLength_ = false;
    chunked_ = false;
    transferEncoding_.clear();
    lastName_.clear();
    lastValue_.clear();
    pending_ = false;
    clearFailure();
}

void cHttpResponse::setHeader(const std::string& name, const std::string& value) {
    _guardchar<char>* slot = headers_.insert(cStringKey(name.data(), static_cast<long long>(name.size())));
    if (slot) slot->set(value.c_str(), static_cast<long long>(value.size()));
}

void cHttpResponse::storePending() {
    if (!pending_) return;
    setHeader(lastName_, lastValue_);
    pending_ = false;
}

// "HTTP/1.x NNN[ reason]": the version, a blank, three digits, and a blank or
// the end of the line.
bool cHttpResponse::parseStatusLine(const unsigned char* line, unsigned int n) {
    if (n < 12 || std::memcmp(line, "HTTP/1.", 7) != 0 || !isDigit(line[7]) || line[8] != ' ')
        return fail(eFailure::badStatus, "the reply does not begin with \"HTTP/1.x \"");
    if (!isDigit(line[9]) || !isDigit(line[10]) || !isDigit(line[11]) || line[9] == '0' || (n > 12 && line[12] != ' '))
        return fail(eFailure::badStatus, "no three-digit status code");
    status_ = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
    // A protocol switch is never asked for and cannot be read as HTTP.
    if (status_ == 101) return fail(eFailure::badStatus, "101 switches to another protocol");
    return true;
}

bool cHttpResponse::parseHeaderLine(const unsigned char* line, unsigned int n) {
    const unsigned char* end = line + n;
    if (std::memchr(line, 0, n)) return fail(eFailure::badHeader, "a NUL byte in a header line");
    if (line[0] == ' ' || line[0] == '\t') {
        // An obsolete folded continuation: one blank joins it to the value
        // before.  The framing headers are never taken folded.
        if (!pending_) return fail(eFailure::badHeader, "a folded line with no header before it");
        if (equalsNoCase(lastName_.c_str(), "Content-Length") || equalsNoCase(lastName_.c_str(), "Transfer-Encoding"))
            return fail(eFailure::badHeader, "%s folded over several lines", lastName_.c_str());
        const unsigned char* b = line;
        const unsigned char* e = end;
        trimBlanks(b, e);
        if (b < e) {
            if (!lastValue_.empty()) lastValue_ += ' ';
            lastValue_.append(reinterpret_cast<const char*>(b), static_cast<std::size_t>(e - b));
        }
        return true;
    }
    const unsigned char* colon = static_cast<const unsigned char*>(std::memchr(line, ':', n));
    if (!colon) return fail(eFailure::badHeader, "a header line without a colon");
    if (!isToken(reinterpret_cast<const char*>(line), static_cast<std::size_t>(colon - line)))
        return fail(eFailure::badHeader, "a header name that is not a token");
    storePending();
    std::string name(reinterpret_cast<const char*>(line), static_cast<std::size_t>(colon - line));
    // The value starts after any spaces and tabs behind the colon and ends
    // before those at the end of the line.
    const unsigned char* b = colon + 1;
    const unsigned char* e = end;
    trimBlanks(b, e);
    std::string value(reinterpret_cast<const char*>(b), static_cast<std::size_t>(e - b));

    if (equalsNoCase(name.c_str(), "Content-Length")) {
        long long length = 0;
        if (!parseDecimalLength(b, e, length))
            return fail(eFailure::badLength, "\"%.40s\" is not a length", value.c_str());
        // Two different lengths leave the framing in doubt.
        if (sawContentLength_ && length != contentLength)
            return fail(eFailure::lengthConflict, "%lld after %lld", length, contentLength);
        sawContentLength_ = true;
        contentLength = length;
    } else if (equalsNoCase(name.c_str(), "Transfer-Encoding")) {
        if (!transferEncoding_.empty()) transferEncoding_ += ',';
        transferEncoding_ += value;
    }
    lastName_ = std::move(name);
    lastValue_ = std::move(value);
    pending_ = true;
    return true;
}

cHttpResponse::eBody cHttpResponse::bodyKind() const {
    if ((status_ >= 100 && status_ < 200) || status_ == 204 || status_ == 304) return eBody::none;
    if (chunked_) return eBody::chunked;
    if (!transferEncoding_.empty()) return eBody::untilClose;
    if (contentLength == 0) return eBody::none;
    return contentLength > 0 ? eBody::length : eBody::untilClose;
}

bool cHttpResponse::finishHeaderBlock(bool& inHeaders) {
    if (status_ >= 100 && status_ < 200) {
        // An interim reply (100 Continue, 103 Early Hints): its headers are
        // forgotten and the final reply's status line follows.
        headers_.destroy();
        status_ = 0;
        contentLength = -1;
        sawContentLength_ = false;
        transferEncoding_.clear();
        lastName_.clear();
        lastValue_.clear();
        pending_ = false;
        return true;
    }
    storePending();
    if (!transferEncoding_.empty()) {
        // The framing is the last coding: chunked, or else the body runs to
        // the end of the connection.  Content-Length does not count then.
        std::size_t comma = transferEncoding_.rfind(',');
        const unsigned char* b =
            reinterpret_cast<const unsigned char*>(transferEncoding_.c_str()) + (comma == std::string::npos ? 0 : comma + 1);
        const unsigned char* e = reinterpret_cast<const unsigned char*>(transferEncoding_.c_str()) + transferEncoding_.size();
        trimBlanks(b, e);
        chunked_ = equalsNoCase(reinterpret_cast<const char*>(b), static_cast<std::size_t>(e - b), "chunked");
        contentLength = -1;
    }
    if (status_ == 204 || status_ == 304) contentLength = 0;
    inHeaders = false;
    return true;
}

bool cHttpResponse::parseHeaders(const unsigned char* buf, unsigned int& len, bool& inHeaders) {
    unsigned int known = 0;
    return parseHeaderLines(buf, len, inHeaders, known);
}

bool cHttpResponse::parseHeaderLines(const unsigned char* buf, unsigned int& len, bool& inHeaders,
                                     unsigned int& known) {
    const unsigned int avail = buf ? len : 0;
    unsigned int pos = 0;
    len = 0;
    if (known > avail) known = 0;
    while (inHeaders && pos < avail) {
        // A line ends in CR LF; a bare LF or a CR followed by anything else is
        // malformed.  A line not complete yet waits for the next read, and
        // the bytes of it already looked at are not looked at again.
        const unsigned char* start = buf + pos;
        unsigned int left = avail - pos;
        unsigned int n = pos == 0 ? known : 0;
        known = 0;
        const unsigned int from = n;
        while (n < left && start[n] != '\r' && start[n] != '\n') ++n;
        scannedBytes_ += n - from + (n < left ? 1 : 0);
        if (n == left) {
            known = n;
            break;
        }
        if (start[n] == '\n') return fail(eFailure::badHeader, "a line that ends in a bare line feed");
        if (n + 1 == left) {
            known = n;  // the CR is looked at again with the byte after it
            break;
        }
        if (start[n + 1] != '\n') return fail(eFailure::badHeader, "a carriage return without a line feed");
        unsigned int lineBytes = n + 2;
        if (lineBytes > kMaxHeaderBlock - headerBytes_)
            return fail(eFailure::headerTooLarge, "the header block passes %u bytes", kMaxHeaderBlock);
        headerBytes_ += lineBytes;

        bool ok;
        if (status_ == 0)
            ok = parseStatusLine(start, n);
        else if (n == 0)
            ok = finishHeaderBlock(inHeaders);
        else
            ok = parseHeaderLine(start, n);
        if (!ok) return false;
        pos += lineBytes;
        len = pos;
    }
    return true;
}

bool cHttpResponse::deliver(const unsigned char* buf, unsigned long long len, unsigned long long& delivered) {
    while (len > 0) {
        unsigned long long piece = len < kBufferSize ? len : kBufferSize;
        if (!onData(buf, static_cast<long long>(piece), delivered))
            return fail(eFailure::refused, "onData refused the body at byte %llu", delivered);
        delivered += piece;
        buf += piece;
        len -= piece;
    }
    return true;
}

bool cHttpResponse::readFailed(cFileIOTarget* io, unsigned int n, const char* where) {
    if (n == 0) return fail(eFailure::truncated, "the connection closed %s", where);
    if (n != cFileIOTarget::kIOFailed) return fail(eFailure::streamFailed, "a read returned more than was asked");
    auto* sock = dynamic_cast<cSocketIO*>(io);
    if (!sock) return fail(eFailure::streamFailed, "a read failed %s", where);
    switch (sock->lastFailure()) {
        case cSocketIO::eFailure::timedOut: {
            const timeval& to = sock->socket()->readTO();
            return fail(eFailure::timedOut, "nothing arrived for %lld ms %s",
                        static_cast<long long>(to.tv_sec) * 1000 + to.tv_usec / 1000, where);
        }
        case cSocketIO::eFailure::deadline:
            return fail(eFailure::deadline, "the request's time ran out %s", where);
        case cSocketIO::eFailure::reset:
            return fail(eFailure::reset, "the server reset the connection %s", where);
        case cSocketIO::eFailure::noSocket:
            return fail(eFailure::streamFailed, "the connection is gone %s", where);
        default: {
            const int e = sock->socket() ? sock->socket()->lastSystemError() : 0;
            return fail(eFailure::streamFailed, "%s %s", e ? std::strerror(e) : "the socket failed", where);
        }
    }
}

bool cHttpResponse::processResponse(cFileIOTarget* io) {
    if (!io || !io->valid()) {
        clearFailure();
        return fail(eFailure::streamFailed, "no open stream to read the reply from");
    }
    reset();
    beginReply();

    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBufferSize]);
    unsigned char* buf = buffer.get();
    unsigned int held = 0;

    // The header block.  The stream ending or failing inside it is a
    // truncated reply.
    // The unfinished line stays at the start of the buffer; `known` of its
    // bytes hold no line end, so every byte is looked at once however the
    // server splits its writes.
    bool inHeaders = true;
    unsigned int known = 0;
    while (inHeaders) {
        if (held == kBufferSize)
            return fail(eFailure::headerTooLarge, "a header line longer than %u bytes", kBufferSize);
        unsigned int n = io->read(buf + held, kBufferSize - held);
        if (n == 0 || !cFileIOTarget::transferred(n, kBufferSize - held))
            return readFailed(io, n, "inside the header block");
        held += n;
        unsigned int used = held;
        if (!parseHeaderLines(buf, used, inHeaders, known)) return false;
        if (used == 0) continue;
        std::memmove(buf, buf + used, held - used);
        held -= used;
    }
    if (!onHeaderDone()) return fail(eFailure::refused, "onHeaderDone refused the reply (status %d)", status_);

    unsigned long long delivered = 0;
    switch (bodyKind()) {
        case eBody::none:
            return true;

        case eBody::length: {
            // Never more than the length reaches the consumer, and nothing is
            // read beyond it.
            const unsigned long long total = static_cast<unsigned long long>(contentLength);
            unsigned long long first = held < total ? held : total;
            if (!deliver(buf, first, delivered)) return false;
            while (delivered < total) {
                unsigned long long want = total - delivered;
                unsigned int n = io->read(buf, want < kBufferSize ? static_cast<unsigned int>(want) : kBufferSize);
                if (n == 0 || !cFileIOTarget::transferred(n, kBufferSize)) {
                    char where[64];
                    std::snprintf(where, sizeof where, "after %llu of %llu body bytes", delivered, total);
                    return readFailed(io, n, where);
                }
                if (!deliver(buf, n < want ? n : want, delivered)) return false;
            }
            return true;
        }

        case eBody::untilClose: {
            // Only the server's orderly close ends such a body; a stall or a
            // reset is a truncated reply.
            if (!deliver(buf, held, delivered)) return false;
            for (;;) {
                unsigned int n = io->read(buf, kBufferSize);
                if (n == 0) return true;
                if (!cFileIOTarget::transferred(n, kBufferSize)) return readFailed(io, n, "inside the body");
                if (!deliver(buf, n, delivered)) return false;
            }
        }

        case eBody::chunked: {
            cChunkDecoder decoder;
            auto sink = [&](const unsigned char* p, std::size_t len) { return deliver(p, len, delivered); };
            cChunkDecoder::eResult r = decoder.feed(buf, held, sink);
            while (r == cChunkDecoder::needMore) {
                unsigned int n = io->read(buf, kBufferSize);
                if (n == 0 || !cFileIOTarget::transferred(n, kBufferSize))
                    return readFailed(io, n, "inside the chunked body");
                r = decoder.feed(buf, n, sink);
            }
            if (r == cChunkDecoder::done) return true;
            return fail(eFailure::badChunk, "%s", decoder.why() ? decoder.why() : "the coding broke off");
        }
    }
    return false;
}

// ===========================================================================
// cSiHttpResponse

void cSiHttpResponse::reset() {
    cHttpResponse::reset();
    body_.reset();
}

bool cSiHttpResponse::onHeaderDone() {
    // An announced length over the cap fails before any of it is read.
    if (contentLength > 0 && static_cast<unsigned long long>(contentLength) > maxBody_)
        return fail(eFailure::bodyOverCap, "the reply announces %lld bytes, more than the %llu kept in memory",
                    contentLength, maxBody_);
    return cHttpResponse::onHeaderDone();
}

bool cSiHttpResponse::onData(const unsigned char* buf, long long len, unsigned long long offset) {
    if (len <= 0) return true;
    if (static_cast<unsigned long long>(len) > maxBody_ || offset > maxBody_ - static_cast<unsigned long long>(len))
        return fail(eFailure::bodyOverCap, "the body passes the %llu bytes kept in memory", maxBody_);
    return body_.write(const_cast<unsigned char*>(buf), static_cast<unsigned int>(len)) ==
           static_cast<unsigned int>(len);
}

// ===========================================================================
// cHttpTransport

bool cHttpTransport::processRequest(cHttpRequest& req, cHttpResponse& resp) {
    using eFailure = cHttpResponse::eFailure;
    resp.clearFailure();
    const long long deadline = deadlineMs_ > 0 ? nowMs() + deadlineMs_ : -1;

    _typebuf<unsigned char> request;
    if (!req.toTransport(request) || request.count() == 0)
        return resp.fail(eFailure::badRequest, "no address, or a request that cannot be written");
    unsigned char ip[4];
    if (!strToIPv4(req.host(), ip)) {
        close();
        return resp.fail(eFailure::unresolved, "\"%.200s\" has no IPv4 address", req.host());
    }
    long long waitMs = 0;
    bool byDeadline = false;
    if (!waitWithin(deadline, connectTimeoutMs_, waitMs, byDeadline)) {
        close();
        return resp.fail(eFailure::deadline, "the time ran out before connecting");
    }
    const int connectMs = static_cast<int>(waitMs);  // at most connectTimeoutMs_
    if (!connect(ip, req.port(), connectMs)) {
        switch (lastError()) {
            case errTimedOut:
                if (byDeadline) return resp.fail(eFailure::deadline, "the time ran out while connecting");
                return resp.fail(eFailure::timedOut, "no connection to %s:%d within %d ms", req.host(), req.port(),
                                 connectMs);
            case errRefusedOrIdle:
                return resp.fail(eFailure::connectFailed, "%s:%d refused the connection", req.host(), req.port());
            default:
                return resp.fail(eFailure::connectFailed, "%s:%d: %s", req.host(), req.port(),
                                 lastSystemError() ? std::strerror(lastSystemError()) : "no connection");
        }
    }
    setReadTO(ioTimeoutMs_);
    setWriteTO(ioTimeoutMs_);

    cSocketIO io;
    if (!io.create(this, false)) return resp.fail(eFailure::connectFailed, "the connection closed at once");
    io.setDeadline(deadline);

    const unsigned char* p = request.data();
    long long left = request.count();
    while (left > 0) {
        unsigned int piece = left > (1 << 30) ? (1u << 30) : static_cast<unsigned int>(left);
        unsigned int sent = io.write(const_cast<unsigned char*>(p), piece);
        if (sent == 0 || !cFileIOTarget::transferred(sent, piece)) {
            switch (io.lastFailure()) {
                case cSocketIO::eFailure::deadline:
                    return resp.fail(eFailure::deadline, "the time ran out while sending the request");
                case cSocketIO::eFailure::timedOut:
                    return resp.fail(eFailure::timedOut, "the server took none of the request for %d ms",
                                     ioTimeoutMs_);
                case cSocketIO::eFailure::reset:
                    return resp.fail(eFailure::reset, "the server reset the connection while the request was sent");
                default:
                    return resp.fail(eFailure::sendFailed, "%s",
                                     lastSystemError() ? std::strerror(lastSystemError()) : "the socket failed");
            }
        }
        p += sent;
        left -= sent;
    }
    return resp.processResponse(&io);
}
