// cZStream: a zlib item read and sought as a stream, decoded on demand, over
// data compressed by Python's zlib.
#include "compression/zstream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/fileio.h"
#include "oracle.h"
#include "zlibpy.h"

using namespace ztest;

namespace {

// A source over bytes in memory that counts rewinds and bytes read, can fail
// its reads from a given offset on, and reports its own deletion.
class ProbeSource : public cFileIOTarget {
public:
    explicit ProbeSource(Bytes data, bool* deleted = nullptr) : data_(std::move(data)), deleted_(deleted) {}
    ~ProbeSource() override {
        if (deleted_) *deleted_ = true;
    }
    long long size() override { return static_cast<long long>(data_.size()); }
    unsigned int read(void* buf, unsigned int n) override {
        if (failFrom >= 0 && static_cast<long long>(pos_) >= failFrom) return kIOFailed;
        const std::size_t got =
            std::min<std::size_t>({n, maxRead, data_.size() - std::min(pos_, data_.size())});
        std::memcpy(buf, data_.data() + pos_, got);
        pos_ += got;
        bytesRead += got;
        // A broken stream may claim bytes it never placed in buf.
        return static_cast<unsigned int>(got ? got + overclaim : 0);
    }
    bool set_fp(unsigned long long pos) override {
        if (pos == 0) ++rewinds;
        pos_ = static_cast<std::size_t>(std::min<unsigned long long>(pos, data_.size()));
        return pos <= data_.size();
    }
    bool set_fp_end(unsigned long long) override { return false; }
    bool set_eof(unsigned long long) override { return false; }
    void close() override {}
    bool valid() override { return true; }

    int rewinds = 0;
    unsigned long long bytesRead = 0;
    long long failFrom = -1;
    unsigned int overclaim = 0;
    std::size_t maxRead = static_cast<std::size_t>(-1);  // the most one read gives

private:
    Bytes data_;
    std::size_t pos_ = 0;
    bool* deleted_;
};

Bytes slice(const Bytes& b, std::size_t at, std::size_t n) {
    at = std::min(at, b.size());
    n = std::min(n, b.size() - at);
    return Bytes(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

// Reads n bytes at the stream's position; the result is the bytes read, and
// count receives read's own result.
Bytes readSome(cFileIOTarget& s, unsigned int n, unsigned int* count = nullptr) {
    Bytes b(n);
    const unsigned int got = s.read(b.data(), n);
    if (count) *count = got;
    b.resize(cFileIOTarget::transferred(got) ? got : 0);
    return b;
}

// Reads pieces of n bytes until a read gives 0 or fails; last receives that
// read's result.
Bytes readToEnd(cFileIOTarget& s, unsigned int n, unsigned int& last) {
    Bytes all;
    for (;;) {
        const Bytes piece = readSome(s, n, &last);
        if (!cFileIOTarget::transferred(last) || last == 0) return all;
        all.insert(all.end(), piece.begin(), piece.end());
    }
}

class ZStream : public ::testing::Test {
protected:
    ZlibOracle py;
};

}  // namespace

TEST_F(ZStream, ReadingForwardInPiecesNeverRestartsAndMovingBackDoes) {
    const Bytes plain = mixedData(10000);
    const Bytes z = py.compress(plain);
    auto* src = new ProbeSource(z);
    cZStream s;
    ASSERT_TRUE(s.create(src, plain.size(), 4096, true));
    EXPECT_EQ(s.size(), 10000);
    unsigned int count = 1;
    EXPECT_TRUE(readToEnd(s, 1000, count) == plain);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(src->rewinds, 1);
    EXPECT_EQ(src->bytesRead, z.size());

    ASSERT_TRUE(s.set_fp(100));
    EXPECT_EQ(src->rewinds, 2);
    EXPECT_TRUE(readSome(s, 1000) == slice(plain, 100, 1000));
    ASSERT_TRUE(s.set_fp(9990));
    EXPECT_TRUE(readSome(s, 50) == slice(plain, 9990, 10));
    EXPECT_TRUE(s.set_fp(20000));  // clamped to the end
    readSome(s, 10, &count);
    EXPECT_EQ(count, 0u);
}

TEST_F(ZStream, TheEndCanAlwaysBeSoughtAndReadsNothing) {
    const Bytes plain = mixedData(50000);
    cZStream s;
    ASSERT_TRUE(s.create(new ProbeSource(py.compress(plain)), plain.size(), 4096, true));
    // The first window holds the first 4096 bytes only: the end needs no
    // decoding, and is no failure.
    EXPECT_TRUE(s.set_fp(plain.size()));
    EXPECT_EQ(s.read(Bytes(8).data(), 8), 0u);
    EXPECT_TRUE(s.set_fp_end(0));
    EXPECT_TRUE(s.set_fp_end(10));
    EXPECT_TRUE(readSome(s, 50) == slice(plain, plain.size() - 10, 10));
    EXPECT_TRUE(s.set_fp_end(1u << 30));
    EXPECT_TRUE(readSome(s, 20) == slice(plain, 0, 20));

    cZStream empty;
    ASSERT_TRUE(empty.create(new ProbeSource(py.compress(Bytes())), 0, 4096, true));
    EXPECT_TRUE(empty.valid());
    EXPECT_EQ(empty.read(Bytes(4).data(), 4), 0u);
    EXPECT_TRUE(empty.set_fp(0));
    EXPECT_TRUE(empty.set_fp_end(0));
}

TEST_F(ZStream, TheDeclaredPlainSizeBoundsEverythingAndDataShorterThanItFailsPastItsEnd) {
    const Bytes plain = mixedData(5000);
    const Bytes z = py.compress(plain);
    unsigned int count = 0;
    {
        cZStream s;
        ASSERT_TRUE(s.create(new ProbeSource(z), 3000, 1024, true));
        EXPECT_EQ(s.size(), 3000);
        EXPECT_TRUE(readSome(s, 10000, &count) == slice(plain, 0, 3000));
        readSome(s, 1, &count);
        EXPECT_EQ(count, 0u);
    }
    // One long read, then small reads: what exists arrives, then reads fail.
    for (unsigned int n : {8000u, 1000u}) {
        cZStream s;
        ASSERT_TRUE(s.create(new ProbeSource(z), 8000, 1024, true));
        EXPECT_TRUE(readToEnd(s, n, count) == plain) << n;
        EXPECT_EQ(count, cFileIOTarget::kIOFailed) << n;
        EXPECT_FALSE(s.set_fp(7000)) << n;
    }
}

TEST_F(ZStream, DamagedDataFailsTheReadThatReachesIt) {
    const Bytes plain = mixedData(200000);
    Bytes z = py.compress(plain);
    for (std::size_t i = z.size() / 2; i < z.size() / 2 + 8; ++i) z[i] ^= 0x5A;
    const Bytes oracle = py.bytewise(z);
    cZStream s;
    ASSERT_TRUE(s.create(new ProbeSource(z), plain.size(), 4096, true));
    unsigned int count = 0;
    const Bytes all = readToEnd(s, 3000, count);
    EXPECT_EQ(count, cFileIOTarget::kIOFailed);
    EXPECT_LT(all.size(), plain.size());
    // Both saw the same bytes until one of them stopped.
    const std::size_t common = std::min(all.size(), oracle.size());
    EXPECT_TRUE(slice(all, 0, common) == slice(oracle, 0, common));
    EXPECT_GT(common, plain.size() / 4);
}

TEST_F(ZStream, ADamagedChecksumFailsTheReadsThatReachTheEnd) {
    const Bytes plain = mixedData(10000);
    Bytes z = py.compress(plain);
    z.back() ^= 0x01;
    {
        cZStream s;
        ASSERT_TRUE(s.create(new ProbeSource(z), plain.size(), 1024, true));
        unsigned int count = 0;
        const Bytes all = readToEnd(s, 1000, count);
        EXPECT_EQ(count, cFileIOTarget::kIOFailed) << "the end was reached without a failure";
        EXPECT_LT(all.size(), plain.size());
        EXPECT_TRUE(slice(plain, 0, all.size()) == all);
        EXPECT_FALSE(s.set_fp(plain.size() - 1));
    }
    // One read of everything at once stops short of the end, and the read
    // after it fails.
    cZStream s;
    ASSERT_TRUE(s.create(new ProbeSource(z), plain.size(), 1024, true));
    ASSERT_TRUE(s.set_fp(1500));
    unsigned int count = 0;
    const Bytes got = readSome(s, 20000, &count);
    ASSERT_TRUE(cFileIOTarget::transferred(count));
    EXPECT_LT(count, plain.size() - 1500);
    EXPECT_TRUE(got == slice(plain, 1500, got.size()));
    readSome(s, 20000, &count);
    EXPECT_EQ(count, cFileIOTarget::kIOFailed);
}

TEST_F(ZStream, AFailedSourceReadIsPassedOnWithoutMovingThePosition) {
    const Bytes plain = mixedData(400000);
    const Bytes z = py.compress(plain);
    auto* src = new ProbeSource(z);
    cZStream s;
    ASSERT_TRUE(s.create(src, plain.size(), 4096, true));
    src->failFrom = static_cast<long long>(z.size() / 2);
    unsigned int count = 0;
    Bytes all = readToEnd(s, 1000, count);
    EXPECT_EQ(count, cFileIOTarget::kIOFailed);
    EXPECT_LT(all.size(), plain.size());
    // Once the source recovers, reading goes on from the same place.
    src->failFrom = -1;
    const Bytes rest = readToEnd(s, 1000, count);
    EXPECT_EQ(count, 0u);
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_TRUE(all == plain);
}

TEST_F(ZStream, ASourceClaimingMoreThanItWasAskedForIsAFailedRead) {
    const Bytes plain = mixedData(400000);
    const Bytes z = py.compress(plain);
    // Past the first input buffer, so that a later source read claims too much.
    ASSERT_GT(z.size(), 65536u);
    {
        auto* src = new ProbeSource(z);
        src->overclaim = 1;
        cZStream s;
        EXPECT_FALSE(s.create(src, plain.size(), 4096, true));
    }
    auto* src = new ProbeSource(z);
    cZStream s;
    ASSERT_TRUE(s.create(src, plain.size(), 4096, true));
    src->overclaim = 100000;
    unsigned int count = 0;
    const Bytes all = readToEnd(s, 1000, count);
    EXPECT_EQ(count, cFileIOTarget::kIOFailed);
    // Only bytes that really came from the source were decoded.
    EXPECT_TRUE(slice(plain, 0, all.size()) == all);
    EXPECT_LT(all.size(), plain.size());
}

TEST_F(ZStream, RandomSeeksAndReadsOfAnyLengthMatchThePlainData) {
    const Bytes plain = mixedData(300000);
    const Bytes z = py.compress(plain, 9);
    for (long long n : {512LL, 4096LL}) {
        cZStream s;
        ASSERT_TRUE(s.create(new ProbeSource(z), plain.size(), n, true));
        std::uint32_t x = 12345;
        auto next = [&x] { return x = x * 1664525u + 1013904223u; };
        for (int i = 0; i < 300; ++i) {
            const std::size_t at = next() % plain.size();
            const unsigned int len = (next() >> 8) % 9000;
            ASSERT_TRUE(s.set_fp(at));
            // Several reads in a row from there: window and long-read paths mix.
            for (std::size_t pos = at, k = 0; k < 3; ++k, pos = std::min(plain.size(), pos + len))
                ASSERT_TRUE(readSome(s, len) == slice(plain, pos, len)) << "n " << n << " at " << pos << " len " << len;
        }
    }
}

TEST_F(ZStream, TinyBuffersAndLongReadsOverAFileGiveThePlainData) {
    const Bytes plain = mixedData(20000);
    const Bytes z = py.compress(plain);
    for (long long n : {1LL, 3LL}) {
        cZStream s;
        ASSERT_TRUE(s.create(new ProbeSource(z), plain.size(), n, true));
        unsigned int count = 1;
        EXPECT_TRUE(readToEnd(s, 7, count) == plain) << "n " << n;
        EXPECT_EQ(count, 0u) << "n " << n;
    }

    const Bytes big = mixedData(3 << 20);
    qortest::TempDir dir;
    writeFile(dir.file("item.z"), py.compress(big, 6));
    auto* file = new cFileIO;
    ASSERT_TRUE(file->open(dir.file("item.z").c_str(), fmRead));
    cZStream s;
    ASSERT_TRUE(s.create(file, big.size(), 65536, true));
    unsigned int count = 1;
    EXPECT_TRUE(readToEnd(s, 1 << 20, count) == big);
    EXPECT_EQ(count, 0u);
    ASSERT_TRUE(s.set_fp(12345));
    EXPECT_TRUE(readSome(s, 100000) == slice(big, 12345, 100000));
}

TEST_F(ZStream, AnOwnedSourceIsDeletedOnceAndABorrowedOneNever) {
    const Bytes z = py.compress(mixedData(1000));
    bool deletedA = false, deletedB = false, deletedC = false, deletedD = false, deletedE = false;
    {
        auto* a = new ProbeSource(z, &deletedA);
        auto* b = new ProbeSource(z, &deletedB);
        ProbeSource c(z, &deletedC);
        cZStream s;
        ASSERT_TRUE(s.create(a, 1000, 256, true));
        // Creating again with the same owned source keeps it alive.
        ASSERT_TRUE(s.create(a, 1000, 256, true));
        EXPECT_FALSE(deletedA);
        ASSERT_TRUE(s.create(b, 1000, 256, true));
        EXPECT_TRUE(deletedA);
        ASSERT_TRUE(s.create(&c, 1000, 256, false));
        EXPECT_FALSE(deletedB);  // still owned until the stream goes
        EXPECT_EQ(readSome(s, 1000).size(), 1000u);
    }
    EXPECT_TRUE(deletedB);
    EXPECT_TRUE(deletedC);  // only because c left its scope
    // Ownership passes even when creation fails: the next source replaces it.
    cZStream s;
    EXPECT_FALSE(s.create(new ProbeSource(z, &deletedD), 1000, 0, true));
    EXPECT_FALSE(s.valid());
    ASSERT_TRUE(s.create(new ProbeSource(z, &deletedE), 1000, 256, true));
    EXPECT_TRUE(deletedD);
    // Close detaches and deletes the owned source; the stream can be created
    // again after it.
    s.close();
    EXPECT_TRUE(deletedE);
    EXPECT_FALSE(s.valid());
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.read(Bytes(4).data(), 4), 0u);
    EXPECT_FALSE(s.set_fp(0));
    ASSERT_TRUE(s.create(new ProbeSource(z), 1000, 256, true));
    EXPECT_EQ(s.write(Bytes(4).data(), 4), 0u);  // read-only
    Bytes buf(1000);
    EXPECT_TRUE(s.readf(buf.data(), 1000));
    EXPECT_FALSE(s.readf(buf.data(), 1));
}

TEST_F(ZStream, BadArgumentsAndDataFailCreation) {
    const Bytes z = py.compress(mixedData(1000));
    cZStream s;
    EXPECT_FALSE(s.valid());
    EXPECT_EQ(s.read(Bytes(4).data(), 4), 0u);
    EXPECT_FALSE(s.create(nullptr, 1000, 4096, true));
    ProbeSource src(z);
    EXPECT_FALSE(s.create(&src, 1000, 0, false));
    EXPECT_FALSE(s.create(&src, 1000, -5, false));
    EXPECT_FALSE(s.create(&src, 1ULL << 63, 4096, false));
    ProbeSource junk(Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_FALSE(s.create(&junk, 1000, 4096, false));
    EXPECT_FALSE(s.valid());
}

TEST_F(ZStream, TheHeaderIsTakenAsZlibTakesItAndTheWrapperMaySpanAnyReads) {
    const Bytes plain = mixedData(3000);
    const Bytes z = py.compress(plain);
    // Headers zlib takes or refuses: the compressor's own, check bits that do
    // not add up, a 64 KiB window, a preset dictionary, another method, and
    // the smallest window (check bits made right for each but the second).
    auto withCheckBits = [](unsigned cmf, unsigned flg) {
        flg &= 0xE0;
        flg += (31 - (cmf * 256 + flg) % 31) % 31;
        return Bytes{static_cast<unsigned char>(cmf), static_cast<unsigned char>(flg)};
    };
    const std::vector<Bytes> headers = {Bytes{z[0], z[1]},       Bytes{z[0], static_cast<unsigned char>(z[1] ^ 1)},
                                        withCheckBits(0x88, 0x80), withCheckBits(0x78, 0xA0),
                                        withCheckBits(0x77, 0x80), withCheckBits(0x08, 0x00)};
    int taken = 0;
    for (const Bytes& h : headers) {
        Bytes variant(z);
        variant[0] = h[0];
        variant[1] = h[1];
        const bool zlibTakesIt = py.bytewise(variant) == plain;
        taken += zlibTakesIt;
        for (std::size_t maxRead : {std::size_t(1), std::size_t(3), std::size_t(-1)}) {
            auto* src = new ProbeSource(variant);
            src->maxRead = maxRead;
            cZStream s;
            const bool made = s.create(src, plain.size(), 1024, true);
            ASSERT_EQ(made, zlibTakesIt) << std::hex << int(h[0]) << " " << int(h[1]) << std::dec << ", reads of "
                                         << maxRead;
            if (!made) continue;
            unsigned int count = 1;
            EXPECT_TRUE(readToEnd(s, 700, count) == plain) << maxRead;
            EXPECT_EQ(count, 0u) << maxRead;
        }
    }
    EXPECT_EQ(taken, 2);
    // A wrong trailer still fails when it arrives a byte at a time.
    Bytes bad(z);
    bad[bad.size() - 2] ^= 0x40;
    auto* src = new ProbeSource(bad);
    src->maxRead = 1;
    cZStream s;
    ASSERT_TRUE(s.create(src, plain.size(), 1024, true));
    unsigned int count = 0;
    const Bytes all = readToEnd(s, 700, count);
    EXPECT_EQ(count, cFileIOTarget::kIOFailed);
    EXPECT_TRUE(slice(plain, 0, all.size()) == all);
}
