// qor-test-labels: tsan
// Checking a loaded table's items: stored items are hashed two at a time
// and deflated ones decoded whole, yet a damaged item fails alone whatever
// the order of the checks, the reader it came through or the threads
// checking at once.  The digests are Python's hashlib over the same bytes.
#include "pakvane/pkg.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../base/steppedstream.h"
#include "base/memio.h"
#include "testsupport.h"

namespace {

// Item sizes about the pairing limits: neighbours pair when both are at
// least 16 KiB and the second at most four times the first.
const std::vector<std::size_t> kSizes = {20000, 70000, 16384, 300000, 50000, 16383, 40000, 40001, 200000};

struct sTable {
    std::vector<std::string> plain;
    std::string bytes;
    // Where each item's data starts in bytes, and its stored length.
    std::vector<std::size_t> at, length;
};

// Items stored (odd ones deflated when mixed), saved, and the layout checked
// by Python: each record's digest is hashlib's of the plain bytes.
sTable makeTable(bool mixed) {
    sTable t;
    cSoftPkg pkg;
    for (std::size_t i = 0; i < kSizes.size(); ++i) {
        const auto p = qortest::pattern(kSizes[i], i + 1);
        t.plain.emplace_back(p.begin(), p.end());
        cBufWrapperIO src(const_cast<char*>(t.plain.back().data()), static_cast<long long>(p.size()), false);
        EXPECT_EQ(pkg.addPkgItem(&src, mixed && i % 2 == 1), static_cast<int>(i));
    }
    cMemIOTarget m;
    _typebuf<unsigned char> b;
    EXPECT_TRUE(pkg.savePackage(&m) && m.toBuffer(b));
    t.bytes.assign(reinterpret_cast<const char*>(b.data()), b.bytes());
    qortest::TempDir dir;
    std::string plains;
    for (std::size_t i = 0; i < t.plain.size(); ++i) {
        EXPECT_TRUE(qortest::writeFile(dir.file("p" + std::to_string(i)), t.plain[i]));
        plains += " " + dir.file("p" + std::to_string(i));
    }
    EXPECT_TRUE(qortest::writeFile(dir.file("table"), t.bytes));
    const std::string out = qortest::runPython(R"PY(
import hashlib, struct, sys, zlib
table, at = open(sys.argv[1], 'rb').read(), 0
for path in sys.argv[2:]:
    unpacked, stored = struct.unpack_from('<II', table, at)
    data = table[at + 40:at + 40 + stored]
    plain = zlib.decompress(data) if unpacked else data
    ok = plain == open(path, 'rb').read() and table[at + 8:at + 40] == hashlib.sha256(plain).digest()
    print(at + 40, stored, int(ok))
    at += 40 + stored
)PY", dir.file("table") + plains);
    std::istringstream in(out);
    for (std::size_t pos = 0, len = 0, ok = 0; in >> pos >> len >> ok;) {
        EXPECT_EQ(ok, 1u) << t.at.size();
        t.at.push_back(pos);
        t.length.push_back(len);
    }
    EXPECT_EQ(t.at.size(), kSizes.size()) << out;
    return t;
}

// The verify results of every item, one 0/1 each, checked in the given order
// (each item twice: once more after all).
std::string checkAll(cSoftPkg& pkg, const std::vector<int>& order) {
    std::string got(pkg.count(), '?');
    for (int i : order) got[static_cast<std::size_t>(i)] = pkg.verify(i) ? '1' : '0';
    for (int i : order)
        if ((got[static_cast<std::size_t>(i)] == '1') != pkg.verify(i)) got[static_cast<std::size_t>(i)] = '!';
    return got;
}

}  // namespace

TEST(SoftPkgCheck, ADamagedItemFailsAloneInAnyOrderAndThroughAnyReader) {
    for (bool mixed : {false, true}) {
        const sTable t = makeTable(mixed);
        ASSERT_EQ(t.at.size(), kSizes.size());
        const int n = static_cast<int>(kSizes.size());
        std::vector<std::vector<int>> orders(3);
        for (int i = 0; i < n; ++i) {
            orders[0].push_back(i);
            orders[1].push_back(n - 1 - i);
            orders[2].push_back((i ^ 1) < n ? (i ^ 1) : i);  // each item's partner first
        }
        qortest::TempDir dir;
        for (int damaged = -1; damaged < n; ++damaged) {
            std::string bytes = t.bytes;
            std::string want(static_cast<std::size_t>(n), '1');
            if (damaged >= 0) {
                // The last data byte: for a deflated item the checksum's.
                const std::size_t d = static_cast<std::size_t>(damaged);
                bytes[t.at[d] + t.length[d] - 1] ^= 0x20;
                want[static_cast<std::size_t>(damaged)] = '0';
            }
            ASSERT_TRUE(qortest::writeFile(dir.file("table"), bytes));
            for (std::size_t o = 0; o < orders.size(); ++o) {
                // Whole from a file, and record by record from a stream that
                // cannot tell its size.
                cSoftPkg fromFile, fromStream;
                cFileIO f;
                ASSERT_TRUE(f.open(dir.file("table").c_str(), fmRead) && fromFile.loadPackage(&f));
                struct sHidden : SteppedStream {
                    using SteppedStream::SteppedStream;
                    long long size() override { return -1; }
                } unknown(bytes, 1000);
                ASSERT_TRUE(fromStream.loadPackage(&unknown));
                EXPECT_EQ(checkAll(fromFile, orders[o]), want) << "file, damaged " << damaged << ", order " << o;
                EXPECT_EQ(checkAll(fromStream, orders[o]), want) << "stream, damaged " << damaged << ", order " << o;
            }
        }
    }
}

TEST(SoftPkgCheck, ItemsCheckedOnSeveralThreadsAtOnceGetTheirOwnResults) {
    const sTable t = makeTable(false);
    ASSERT_EQ(t.at.size(), kSizes.size());
    std::string bytes = t.bytes;
    bytes[t.at[3] + 5] ^= 1;  // item 3 damaged; 2 and 4 are its neighbours
    const int n = static_cast<int>(kSizes.size());
    for (int round = 0; round < 4; ++round) {
        cSoftPkg pkg;
        SteppedStream src(bytes);
        ASSERT_TRUE(pkg.loadPackage(&src));
        std::vector<std::string> got(4, std::string(static_cast<std::size_t>(n), '?'));
        std::vector<std::thread> threads;
        for (int k = 0; k < 4; ++k)
            threads.emplace_back([&, k] {
                for (int j = 0; j < n; ++j) {
                    const int i = (j + k * (round + 1)) % n;
                    got[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)] = pkg.verify(i) ? '1' : '0';
                }
            });
        for (std::thread& th : threads) th.join();
        for (const std::string& g : got) EXPECT_EQ(g, "111011111") << "round " << round;
    }
}

TEST(SoftPkgCheck, ATableReadWholeEndsAtItsEndMarkWhateverFollows) {
    const sTable t = makeTable(true);
    ASSERT_EQ(t.at.size(), kSizes.size());
    const std::size_t end = t.bytes.size();
    // Bytes after the table; a read that fails after it; a source that
    // claims more than it holds; a failure inside the table.
    struct sClaiming : SteppedStream {
        using SteppedStream::SteppedStream;
        long long size() override { return static_cast<long long>(data().size()) + 5000; }
    };
    SteppedStream after(t.bytes + std::string(3000, 'x'), 4096), failing(t.bytes + "more", 4096, end);
    // Far more after it than the table holds: the table moves its records
    // into a block of their own size and frees the large one, so its items
    // are checked in the copy (AddressSanitizer sees any read of the old).
    SteppedStream lots(t.bytes + std::string(2 * end + (1u << 20), 'y'), 1u << 20);
    sClaiming claiming(t.bytes, 4096);
    SteppedStream broken(t.bytes, 4096, static_cast<long long>(end) - 5000);
    for (SteppedStream* src : {&after, &failing, static_cast<SteppedStream*>(&claiming), &broken, &lots})
        src->tellsPosition = true;
    for (SteppedStream* src : {&after, &failing, static_cast<SteppedStream*>(&claiming), &lots}) {
        cSoftPkg pkg;
        ASSERT_TRUE(pkg.loadPackage(src));
        EXPECT_EQ(src->get_fp(), static_cast<long long>(end));
        EXPECT_EQ(checkAll(pkg, {0, 1, 2, 3, 4, 5, 6, 7, 8}), "111111111");
    }
    cSoftPkg pkg;
    EXPECT_TRUE(!pkg.loadPackage(&broken) && pkg.count() == 0);
    // Read in one piece each time, not record by record.
    EXPECT_LE(after.reads, static_cast<int>(end / 4096) + 2);
}

TEST(SoftPkgCheck, DeflatedItemsTooLargeToDecodeWholeAreCheckedAsTheyInflate) {
    // Past the 16 MiB decoded whole; runs of bytes deflate to little.
    std::string big(17u << 20, '\0');
    for (std::size_t i = 0; i < big.size(); i += 4093) big[i] = static_cast<char>(i >> 12);
    cSoftPkg pkg;
    cBufWrapperIO src(&big[0], static_cast<long long>(big.size()), false);
    ASSERT_EQ(pkg.addPkgItem(&src, true), 0);
    cBufWrapperIO next(&big[0], 100000, false);
    ASSERT_EQ(pkg.addPkgItem(&next, false), 1);
    EXPECT_TRUE(pkg.verify(0) && pkg.verify(1));
    cMemIOTarget m;
    _typebuf<unsigned char> b;
    ASSERT_TRUE(pkg.savePackage(&m) && m.toBuffer(b));
    const std::string saved(reinterpret_cast<const char*>(b.data()), b.bytes());
    const std::size_t stored = static_cast<unsigned char>(saved[4]) | static_cast<unsigned char>(saved[5]) << 8 |
                               static_cast<std::size_t>(static_cast<unsigned char>(saved[6])) << 16;
    // The Adler-32's last byte, and a digest byte.
    for (std::size_t at : {40 + stored - 1, std::size_t{20}}) {
        std::string bytes = saved;
        bytes[at] ^= 1;
        cSoftPkg back;
        SteppedStream in(bytes);
        ASSERT_TRUE(back.loadPackage(&in));
        EXPECT_EQ(checkAll(back, {0, 1}), "01") << at;
    }
}

TEST(SoftPkgCheck, AClaimBeyondWhatDeflateCanExpandFailsAndTheDensestRealItemPasses) {
    // Zeros deflate about as densely as deflate goes (near 1000 to 1): the
    // check that keeps an over-claiming record from a buffer of its claimed
    // size must still take them.
    std::string zeros(8u << 20, '\0');
    cSoftPkg pkg;
    cBufWrapperIO src(&zeros[0], static_cast<long long>(zeros.size()), false);
    ASSERT_EQ(pkg.addPkgItem(&src, true), 0);
    cMemIOTarget m;
    _typebuf<unsigned char> b;
    ASSERT_TRUE(pkg.savePackage(&m) && m.toBuffer(b));
    std::string saved(reinterpret_cast<const char*>(b.data()), b.bytes());
    auto u32 = [&](std::size_t at) {
        return static_cast<unsigned long long>(static_cast<unsigned char>(saved[at])) |
               static_cast<unsigned long long>(static_cast<unsigned char>(saved[at + 1])) << 8 |
               static_cast<unsigned long long>(static_cast<unsigned char>(saved[at + 2])) << 16 |
               static_cast<unsigned long long>(static_cast<unsigned char>(saved[at + 3])) << 24;
    };
    ASSERT_EQ(u32(0), zeros.size());
    const unsigned long long stored = u32(4);
    EXPECT_GT(zeros.size(), stored * 900) << "zlib made " << stored << " bytes";
    {
        cSoftPkg back;
        SteppedStream in(saved);
        ASSERT_TRUE(back.loadPackage(&in));
        EXPECT_TRUE(back.verify(0));
    }
    // One byte more than 1032 per stored byte.
    const unsigned long long claim = stored * 1032 + 1;
    for (int k = 0; k < 4; ++k) saved[static_cast<std::size_t>(k)] = static_cast<char>(claim >> (8 * k));
    cSoftPkg back;
    SteppedStream in(saved);
    ASSERT_TRUE(back.loadPackage(&in));
    EXPECT_FALSE(back.verify(0));
}
