// The HTTP request builder on arbitrary addresses, headers and form parts:
// the input's first bytes choose GET or POST, the version and the
// multipart boundary's stamp; the rest is fields separated by zero bytes,
// taken as an address and then as calls (set a header, add a part,
// percent-encode a text, parse another address).  The request's bytes must
// be what a server reads back unchanged: one request line with the parsed
// path, header lines that each hold one "name: value" with a token as name,
// every header set and not removed, no line break but the CR LF ends, and
// for a POST with parts a body of the announced length whose delimiter
// begins a line only where it delimits a part.  A percent-encoded text holds only
// unreserved characters and escapes, and decodes to the text.
// qor-fuzz-link: nethttp netio base
// qor-fuzz-data: nethttp/request
// qor-fuzz-ci-runs: 250000
#include "fuzzsupport.h"
#include "nethttp/httpclient.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

class cStampedRequest : public cHttpRequest {
public:
    cStampedRequest(eRequestTypes type, int http11, unsigned long long stamp) : cHttpRequest(type, nullptr, http11), stamp_(stamp) {}

protected:
    unsigned long long boundaryStamp() const override { return stamp_; }

private:
    unsigned long long stamp_;
};

bool unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
bool lower(std::string& s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return true;
}
bool sameNoCase(std::string a, std::string b) { return lower(a) && lower(b) && a == b; }

void checkEncoding(const std::string& text) {
    _guardchar<char> out;
    cHttpRequest::urlEncode(text.c_str(), -1, out);
    const std::string enc = out.c_str() ? out.c_str() : "";
    std::string back;
    for (size_t i = 0; i < enc.size(); ++i) {
        if (enc[i] != '%') {
            FUZZ_CHECK(unreserved(static_cast<unsigned char>(enc[i])));
            back.push_back(enc[i]);
            continue;
        }
        FUZZ_CHECK(i + 2 < enc.size() && hexDigit(enc[i + 1]) >= 0 && hexDigit(enc[i + 2]) >= 0);
        const char c = static_cast<char>(hexDigit(enc[i + 1]) * 16 + hexDigit(enc[i + 2]));
        FUZZ_CHECK(!unreserved(static_cast<unsigned char>(c)));
        back.push_back(c);
        i += 2;
    }
    FUZZ_CHECK(back == text.substr(0, std::strlen(text.c_str())));
    // A length stops the text early, never past its end.
    const long long cut = static_cast<long long>(text.size() / 2);
    cHttpRequest::urlEncode(text.c_str(), cut, out);
    FUZZ_CHECK(!out.c_str() || std::strlen(out.c_str()) <= 3 * static_cast<size_t>(cut));
}

void checkAddress(const cHttpRequest& r) {
    const std::string host = r.host(), path = r.path(), hostHeader = r.hostHeader();
    FUZZ_CHECK(!host.empty() && r.port() >= 1 && r.port() <= 65535);
    FUZZ_CHECK(!path.empty() && path[0] == '/' && path.find('#') == std::string::npos);
    FUZZ_CHECK(hostHeader.compare(0, host.size(), host) == 0);
    for (const std::string* s : {&host, &path, &hostHeader})
        for (unsigned char c : *s) FUZZ_CHECK(c > 0x20 && c < 0x7F);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cFuzzInput in(data, size);
    const uint8_t mode = in.byte();
    const unsigned long long stamp = static_cast<unsigned long long>(in.u32()) << 32 | in.u32();
    const bool post = mode & 1;
    cStampedRequest req(post ? cHttpRequest::POST : cHttpRequest::GET, (mode >> 1) & 1, stamp);

    std::vector<std::string> fields;
    {
        const std::string rest = in.rest();
        size_t at = 0;
        for (;;) {
            const size_t end = rest.find('\0', at);
            fields.push_back(rest.substr(at, end == std::string::npos ? std::string::npos : end - at));
            if (end == std::string::npos) break;
            at = end + 1;
        }
    }
    size_t next = 0;
    auto field = [&]() -> const std::string& {
        static const std::string none;
        return next < fields.size() ? fields[next++] : none;
    };

    bool addressed = req.parseURL(field().c_str());
    if (addressed) checkAddress(req);
    std::map<std::string, std::string> headers;  // what must be sent, by exact name
    std::string agent = cHttpRequest::kDefaultAgent;
    int parts = 0;
    while (next < fields.size()) {
        const std::string op = field();
        const int kind = op.empty() ? 0 : static_cast<unsigned char>(op[0]) % 4;
        if (kind == 0) {
            const std::string name = field();
            const bool remove = op.size() > 1 && (op[1] & 1);
            const std::string value = remove ? std::string() : field();
            if (!req.setHeader(name.c_str(), remove ? nullptr : value.c_str())) continue;
            if (sameNoCase(name, "User-Agent"))
                agent = remove ? cHttpRequest::kDefaultAgent : value;
            else if (remove)
                headers.erase(name);
            else
                headers[name] = value;
        } else if (kind == 1) {
            const std::string name = field(), bytes = field(), type = field(), params = field();
            if (req.addPost(name.c_str(), bytes.data(), static_cast<int>(bytes.size()), type.empty() ? nullptr : type.c_str(),
                            params.empty() ? nullptr : params.c_str()))
                ++parts;
        } else if (kind == 2) {
            checkEncoding(field());
        } else {
            if (req.parseURL(field().c_str())) {
                addressed = true;
                checkAddress(req);
            }
        }
    }

    _typebuf<unsigned char> out;
    if (!req.toTransport(out)) {
        FUZZ_CHECK(!addressed);
        return 0;
    }
    FUZZ_CHECK(addressed);
    const std::string bytes(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.count()));
    const size_t headEnd = bytes.find("\r\n\r\n");
    FUZZ_CHECK(headEnd != std::string::npos);
    const std::string head = bytes.substr(0, headEnd + 2);
    const std::string body = bytes.substr(headEnd + 4);

    // The lines of the head: each ends in CR LF and holds no other CR or LF.
    std::vector<std::string> lines;
    for (size_t at = 0; at < head.size();) {
        const size_t end = head.find("\r\n", at);
        FUZZ_CHECK(end != std::string::npos);
        const std::string line = head.substr(at, end - at);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        lines.push_back(line);
        at = end + 2;
    }
    FUZZ_CHECK(lines.size() >= 3);
    const std::string requestLine = std::string(post ? "POST " : "GET ") + req.path() +
                                    ((mode >> 1) & 1 ? " HTTP/1.1" : " HTTP/1.0");
    FUZZ_CHECK(lines[0] == requestLine);
    FUZZ_CHECK(lines[1] == std::string("Host: ") + req.hostHeader());
    FUZZ_CHECK(lines[2] == "User-Agent: " + agent);
    std::map<std::string, std::string> sent;
    std::string boundary;
    long long length = -1;
    for (size_t i = 3; i < lines.size(); ++i) {
        const size_t colon = lines[i].find(": ");
        FUZZ_CHECK(colon != std::string::npos && colon > 0);
        const std::string name = lines[i].substr(0, colon), value = lines[i].substr(colon + 2);
        for (char c : name) FUZZ_CHECK(c > 0x20 && c < 0x7F && c != ':');
        if (name == "Content-Type" && value.compare(0, 30, "multipart/form-data; boundary=") == 0) {
            boundary = value.substr(30);
        } else if (name == "Content-Length") {
            length = std::stoll(value);
        } else {
            FUZZ_CHECK(sent.emplace(name, value).second);
        }
    }
    FUZZ_CHECK(sent == headers);
    if (!post || parts == 0) {
        FUZZ_CHECK(body.empty() && boundary.empty() && length == -1);
        return 0;
    }
    FUZZ_CHECK(!boundary.empty() && length == static_cast<long long>(body.size()));
    // The delimiter opens the body and follows a line end before each
    // further part and at the close, and nowhere else.
    const std::string delimiter = "--" + boundary;
    int found = 0;
    for (size_t at = body.find("\r\n" + delimiter); at != std::string::npos; at = body.find("\r\n" + delimiter, at + 1))
        ++found;
    FUZZ_CHECK(found == parts);
    FUZZ_CHECK(body.compare(0, delimiter.size(), delimiter) == 0);
    FUZZ_CHECK(body.size() >= delimiter.size() + 6 &&
               body.compare(body.size() - delimiter.size() - 6, std::string::npos, delimiter + "--\r\n\r\n") == 0);
    return 0;
}
