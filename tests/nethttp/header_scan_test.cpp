// The reply reader looks at each header byte once, however the server
// splits its writes: a long header line sent a byte at a time costs work in
// proportion to its length, not to its square.  The same holds for a value
// folded over many continuation lines: what the heap hands out while such a
// block is read grows with the block, not with its square.
#include "nethttp/httpclient.h"

#include "allocmeter.h"

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

namespace {

// A reply whose header block, status line included, is `blockBytes` long:
// one header "X-Fold: start" and then continuation lines of `word` behind
// one blank, cut so that the blank line ends the block exactly.  The
// value a reader must make of it is returned in `value`.
std::string foldedReply(std::size_t blockBytes, const std::string& word, std::string& value) {
    std::string head = "HTTP/1.1 200 OK\r\nX-Fold: start\r\n";
    value = "start";
    const std::string line = " " + word + "\r\n";
    while (head.size() + line.size() + 4 + 2 <= blockBytes) {
        head += line;
        value += " " + word;
    }
    // One last continuation of at least " z" CR LF fills it to the size.
    const std::string last(blockBytes - 2 - head.size() - 3, 'z');
    head += " " + last + "\r\n";
    value += " " + last;
    return head + "\r\n";
}

}  // namespace

TEST(HttpHeaderScan, FoldedValueCostsHeapInProportionToTheBlock) {
    // The largest block the reader takes, folded two ways; read whole and a
    // few bytes at a time.
    for (const char* word : {"a", "folded-text"}) {
        std::string value;
        const std::string reply = foldedReply(cHttpResponse::kMaxHeaderBlock, word, value);
        ASSERT_EQ(reply.size(), cHttpResponse::kMaxHeaderBlock);
        for (unsigned int piece : {65536u, 5u}) {
            cTrickleStream stream(reply, piece);
            cHttpResponse resp;
            qortest::AllocMeter meter;
            const bool ok = resp.processResponse(&stream);
            const long long heap = meter.total();
            ASSERT_TRUE(ok) << resp.failureText();
            ASSERT_NE(resp.getHeaderVal("X-Fold"), nullptr);
            EXPECT_TRUE(resp.getHeaderVal("X-Fold") == value) << word << " " << piece;
            // The read buffer, the value as it grows (doubling) and its copy
            // into the header map: a few times the block.  Storing the value
            // again at each of its tens of thousands of lines takes
            // gigabytes.
            EXPECT_LT(heap, 8 * static_cast<long long>(reply.size())) << word << " " << piece;
        }
    }
}
