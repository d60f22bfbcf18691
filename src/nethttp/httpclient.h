// A small HTTP/1.0 and HTTP/1.1 client for plain "http://" addresses: one
// request per connection, GET or POST with multipart form data.
//
// cHttpRequest     the request and its serialisation
// cHttpTransport   a TCP client that sends a request and feeds the reply to
//                  a response
// cHttpResponse    the reply reader: status line, header block, then the
//                  body handed on chunk by chunk through virtual hooks
// cSiHttpResponse  a response that collects the body in memory
//
// Replies are framed as HTTP/1.1 says: by Content-Length, by chunked
// transfer coding (decoded before the body reaches onData), or by the server
// closing the connection.  A reply that ends early, stalls past the read
// time-out, or breaks the framing is a failure.  No TLS, redirects, content
// decoding, proxies or connection reuse.
#pragma once

#include "base/buffers.h"
#include "base/fileio.h"
#include "base/lists.h"
#include "base/memio.h"
#include "base/strkey.h"
#include "base/treelist.h"
#include "netio/tcpsocket.h"

#include <string>

class cHttpRequest {
public:
    enum eRequestTypes : int { GET = 0, POST = 1 };

    struct sPostDataElement {
        _guardchar<char> name;
        _guardchar<char> contentType;        // may be null
        _guardchar<char> dispositionParams;  // written verbatim; may be null
        _typebuf<unsigned char> data;
    };

    // The default User-Agent value.
    static constexpr const char* kDefaultAgent = "QORNetHTTP (compatible; cross-platform)";

    // A null url leaves the request without an address; a bad one is dropped.
    cHttpRequest(eRequestTypes type = GET, const char* url = nullptr, int http11 = 1);
    virtual ~cHttpRequest();
    cHttpRequest(const cHttpRequest&) = delete;
    cHttpRequest& operator=(const cHttpRequest&) = delete;

    // Clears the request and parses url; the parse result.
    bool create(eRequestTypes type, const char* url, int http11);
    // Frees the agent, address, headers and parts; type, version and port stay.
    void destroy();

    // "http://host[:port][/path][?query]", the scheme in any letter case.  A
    // fragment ("#...") is not sent.  False for anything else, leaving the
    // earlier address as it was.
    bool parseURL(const char* url);
    // Sets, replaces (same name, same letter case) or, with a null value,
    // removes a header.  "User-Agent" in any case sets the agent (null: the
    // default).  Content-Length, Content-Type, Host and Transfer-Encoding are
    // the client's own and refused, as are names that are not tokens and
    // values holding CR or LF.
    bool setHeader(const char* name, const char* value);
    // Appends a form-data part with copies of its arguments.  False for an
    // empty name or no data, and for a name holding '"', CR or LF or a type or
    // parameters holding CR or LF (they would break the part's header).
    bool addPost(const char* name, const void* data, int size, const char* contentType,
                 const char* dispositionParams);

    // Percent-encodes every byte but ASCII letters, digits and "-._~" (len -1:
    // up to the terminating zero; otherwise at most len bytes, stopping at a
    // zero).
    static void urlEncode(const char* text, long long len, _guardchar<char>& out);

    // The request's bytes: request line, Host, User-Agent, the headers in key
    // order, and for a POST with parts the multipart body.
    bool toTransport(_typebuf<unsigned char>& out);

    const char* host() const { return host_.c_str(); }
    int port() const { return port_; }
    const char* path() const { return path_.c_str(); }
    const char* hostHeader() const { return hostHeader_.c_str(); }
    eRequestTypes type() const { return type_; }
    bool http11() const { return http11_ != 0; }

protected:
    // The number in the multipart boundary: the time in microseconds.
    virtual unsigned long long boundaryStamp() const;

private:
    using tHeaderMap = cFasterTreeList<cStringKey, _guardchar<char> >;

    // The multipart body for a boundary; false when a part holds the boundary.
    bool buildMultipart(const std::string& boundary, std::string& body) const;

    eRequestTypes type_ = GET;
    _guardchar<char> userAgent_;
    _guardchar<char> host_;
    _guardchar<char> hostHeader_;
    _guardchar<char> path_;
    int port_ = 0;
    int http11_ = 1;
    tHeaderMap headers_;
    _List<sPostDataElement> posts_;
};

class cHttpResponse {
public:
    // The longest header block (all lines, interim replies included) and so
    // the most memory a server can make the header map take.
    static constexpr unsigned int kMaxHeaderBlock = 256 * 1024;
    // The reply is read through one buffer of this size; a header line must fit.
    static constexpr unsigned int kBufferSize = 65536;

    // What went wrong when processResponse or cHttpTransport::processRequest
    // returned false; failureText() says it in words, with the particulars.
    enum class eFailure : int {
        none = 0,
        badRequest,      // the request had no address or could not be serialised
        unresolved,      // the host name did not resolve
        connectFailed,   // the connection was refused or could not be made
        timedOut,        // nothing arrived (or went out) within the time-out
        deadline,        // the request's overall deadline passed
        reset,           // the server reset the connection
        sendFailed,      // the request could not be sent
        truncated,       // the connection closed before the reply was whole
        streamFailed,    // the stream the reply was read from failed
        badStatus,       // a status line that is not HTTP/1.x's
        badHeader,       // a header line that breaks the syntax
        badLength,       // a Content-Length that is not a number
        lengthConflict,  // Content-Length headers that disagree
        headerTooLarge,  // a header line or block beyond its limit
        badChunk,        // broken chunked transfer coding
        bodyOverCap,     // a body longer than the response keeps
        refused          // onHeaderDone or onData returned false
    };

    cHttpResponse();
    virtual ~cHttpResponse();
    cHttpResponse(const cHttpResponse&) = delete;
    cHttpResponse& operator=(const cHttpResponse&) = delete;

    // Empties the headers; status 0; content length -1.
    virtual void reset();
    // The body in order: len 1 to 65536 bytes, offset the count passed before.
    // With chunked transfer coding these are the decoded bytes.  Never
    // called with bytes beyond a known content length.  False ends the reply.
    virtual bool onData(const unsigned char* buf, long long len, unsigned long long offset);
    // Once, after the header block of the final reply and before any onData;
    // status, headers and content length are final.  False ends the reply.
    virtual bool onHeaderDone();

    // Reads one reply from io.  True when the whole reply arrived and every
    // hook agreed, whatever the status code; otherwise failure() says why.
    // The body's size is not limited here: a consumer that keeps it limits it
    // itself (cSiHttpResponse does).  Read from a cSocketIO, a read that
    // fails is told apart as a time-out, the deadline or a reset.
    bool processResponse(cFileIOTarget* io);

    // Parses the complete lines among the len bytes at buf; len becomes the
    // count consumed (0 when no line is complete yet) and inHeaders is cleared
    // once the blank line that ends the final header block was consumed.
    // Interim 1xx replies are consumed and forgotten.  False for a malformed
    // line or a header block past kMaxHeaderBlock.
    bool parseHeaders(const unsigned char* buf, unsigned int& len, bool& inHeaders);

    // Bytes the reader looked at in search of header line ends during the
    // last processResponse: each byte of the header block once, plus one
    // for a CR that arrived as the last byte of a read.
    unsigned long long scannedBytes() const { return scannedBytes_; }

    int RC() const { return status_; }
    long long contentLen() const { return contentLength; }
    // True when the reply's body came with chunked transfer coding.
    bool isChunked() const { return chunked_; }
    // The value of the header with exactly this name, or null.
    const char* getHeaderVal(const char* name) const;

    // Why the last reply (or request) failed: none while it has not, and
    // after one that went through.  The first reason found is kept.
    eFailure failure() const { return failure_; }
    // The reason in words ("timed out: nothing arrived within 600 ms"); empty
    // when there is none.
    const char* failureText() const { return failureText_.c_str(); }
    // A short name of each reason ("deadline passed").
    static const char* failureName(eFailure f);

protected:
    // -1 while unknown (no Content-Length, or a chunked body); 0 before the
    // first reply.
    long long contentLength = 0;

    // Records why the reply fails, unless a reason was recorded already, and
    // returns false.  A consumer calls it before refusing from a hook so
    // that its own reason is the one reported.  detail is a printf format.
    bool fail(eFailure why, const char* detail, ...) __attribute__((format(printf, 3, 4)));

private:
    friend class cHttpTransport;
    using tHeaderMap = cFasterTreeList<cStringKey, _guardchar<char> >;
    enum class eBody { none, length, chunked, untilClose };
    class cChunkDecoder;

    void beginReply();
    void clearFailure();
    bool parseStatusLine(const unsigned char* line, unsigned int n);
    bool parseHeaderLine(const unsigned char* line, unsigned int n);
    bool finishHeaderBlock(bool& inHeaders);
    // parseHeaders for a reader that keeps its unfinished line at the start
    // of its buffer: the first `known` bytes of buf are known to hold no line
    // end, and on return `known` counts those of the unfinished line left.
    bool parseHeaderLines(const unsigned char* buf, unsigned int& len, bool& inHeaders, unsigned int& known);
    void setHeader(const std::string& name, const std::string& value);
    // Stores the header line last read, with its folded continuations.
    void storePending();
    eBody bodyKind() const;
    bool deliver(const unsigned char* buf, unsigned long long len, unsigned long long& delivered);
    // Records why a read of io returned n (0 or kIOFailed); false.
    bool readFailed(cFileIOTarget* io, unsigned int n, const char* where);

    int status_ = 0;
    tHeaderMap headers_;
    // Parsing state of the header block under way.
    unsigned int headerBytes_ = 0;
    unsigned long long scannedBytes_ = 0;
    bool sawContentLength_ = false;
    bool chunked_ = false;
    std::string transferEncoding_;
    // The header line last read: folded continuation lines extend it, and it
    // goes into the map once the next line (or the end of the block) shows
    // it is complete, so that folding costs one copy of the value, not one
    // per continuation line.
    std::string lastName_;
    std::string lastValue_;
    bool pending_ = false;
    eFailure failure_ = eFailure::none;
    std::string failureText_;
};

// A response that collects the body in memory, up to a cap: a longer body
// (announced by its Content-Length, or found so as it arrives) fails the
// reply with eFailure::bodyOverCap before more than the cap is kept.  A
// consumer that passes the body on (to a file, a digest, a counter) derives
// from cHttpResponse instead and has no such limit.
class cSiHttpResponse : public cHttpResponse {
public:
    // The cap of a new response: 64 MiB.
    static constexpr unsigned long long kDefaultMaxBody = 64ull << 20;

    void reset() override;
    bool onHeaderDone() override;
    bool onData(const unsigned char* buf, long long len, unsigned long long offset) override;
    // The collected body.
    bool toBuffer(_typebuf<unsigned char>& out) { return body_.toBuffer(out); }

    // The most body bytes kept; a reply with a longer body fails.
    void setMaxBody(unsigned long long bytes) { maxBody_ = bytes; }
    unsigned long long maxBody() const { return maxBody_; }

private:
    cMemIOTarget body_{65536};
    unsigned long long maxBody_ = kDefaultMaxBody;
};

class cHttpTransport : public cTCPClient {
public:
    // Sends req and reads its reply into resp; true when both went through.
    // Otherwise resp.failure() says why, whatever step failed.  The
    // connection stays open until the next connect or destruction.
    bool processRequest(cHttpRequest& req, cHttpResponse& resp);

    // The connect and read/write time-outs of processRequest (20 s and 30 s
    // unless set).  Each bounds one wait, so a server that keeps sending a
    // little at a time is not stopped by them; see setDeadline.
    void setTimeouts(int connectMs, int ioMs) {
        connectTimeoutMs_ = connectMs;
        ioTimeoutMs_ = ioMs;
    }
    // The most time one processRequest takes from its start, connecting,
    // sending and the whole reply included (the name lookup excepted); past
    // it the request fails with eFailure::deadline however the bytes keep
    // coming.  0 (the default) for none.
    void setDeadline(int ms) { deadlineMs_ = ms < 0 ? 0 : ms; }
    int deadline() const { return deadlineMs_; }

private:
    int connectTimeoutMs_ = 20000;
    int ioTimeoutMs_ = 30000;
    int deadlineMs_ = 0;
};
