// The reply reader looks at each header byte once, however the server
// splits its writes: a long header line sent a byte at a time costs work in
// proportion to its length, not to its square.
#include "nethttp/httpclient.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Hands out its bytes at most `piece` at a time, as a slow peer does.
class cTrickleStream : public cFileIOTarget {
public:
    cTrickleStream(std::string bytes, unsigned int piece) : bytes_(std::move(bytes)), piece_(piece) {}
    long long size() override { return static_cast<long long>(bytes_.size()); }
    unsigned int read(void* buf, unsigned int n) override {
        ++reads_;
        size_t take = std::min<size_t>({n, piece_, bytes_.size() - pos_});
        std::memcpy(buf, bytes_.data() + pos_, take);
        pos_ += take;
        return static_cast<unsigned int>(take);
    }
    bool set_fp(unsigned long long) override { return false; }
    bool set_fp_end(unsigned long long) override { return false; }
    bool set_eof(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return true; }
    unsigned long long reads() const { return reads_; }

private:
    std::string bytes_;
    size_t pos_ = 0;
    unsigned int piece_;
    unsigned long long reads_ = 0;
};

}  // namespace

TEST(HttpHeaderScan, LongLineInSmallReadsIsScannedOnce) {
    const std::string value(60000, 'v');
    const std::string head = "HTTP/1.1 200 OK\r\nX-Long: " + value + "\r\nContent-Length: 2\r\n\r\n";
    const unsigned long long lines = 4;
    for (unsigned int piece : {1u, 7u, 64u, 65536u}) {
        cTrickleStream stream(head + "ok", piece);
        cSiHttpResponse resp;
        ASSERT_TRUE(resp.processResponse(&stream)) << piece;
        ASSERT_NE(resp.getHeaderVal("X-Long"), nullptr);
        EXPECT_EQ(resp.getHeaderVal("X-Long"), value);
        _typebuf<unsigned char> body;
        ASSERT_TRUE(resp.toBuffer(body));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data()), static_cast<size_t>(body.count())), "ok");
        // Every header byte once (the LF after a CR is only compared); a CR
        // that ends a read once more.
        EXPECT_LE(resp.scannedBytes(), head.size() + lines) << piece;
        EXPECT_GE(resp.scannedBytes(), head.size() - lines) << piece;
        if (piece == 1) {
            EXPECT_GE(stream.reads(), head.size());
        }
    }
}

TEST(HttpHeaderScan, SplitCrLfAcrossReadsStillEndsTheLine) {
    // Reads of two bytes put every CR at the end of a read in this reply.
    const std::string reply = "HTTP/1.1 204 No\r\nA: b\r\n\r\n";
    cTrickleStream stream(reply, 2);
    cHttpResponse resp;
    ASSERT_TRUE(resp.processResponse(&stream));
    EXPECT_EQ(resp.RC(), 204);
    EXPECT_STREQ(resp.getHeaderVal("A"), "b");
    EXPECT_LE(resp.scannedBytes(), reply.size() + 3);
}
