// The arena packs small pieces into shared blocks, gives large requests their
// own allocation, and frees everything at once.
#include "base/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

std::uintptr_t addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

TEST(IntegralMemory, SmallPiecesArePackedBackToBackAndLargeOnesStandAlone) {
    cIntegralMemory m;
    char* a = static_cast<char*>(m.alloc(3));
    char* b = static_cast<char*>(m.alloc(5));
    char* big = static_cast<char*>(m.alloc(65536));  // a block or more: an allocation of its own
    char* c = static_cast<char*>(m.alloc(1));
    ASSERT_TRUE(a && b && big && c);
    EXPECT_EQ(b, a + 3);  // no alignment
    EXPECT_EQ(c, b + 5);  // the small block keeps filling
    std::memset(big, 0xAB, 65536);
    // Two halves of 40000 cannot share a 65,536-byte block, and the unused
    // tail of the first block is not used again.
    char* h1 = static_cast<char*>(m.alloc(40000));
    char* h2 = static_cast<char*>(m.alloc(40000));
    EXPECT_TRUE(addr(h2) + 40000 <= addr(h1) || addr(h1) + 40000 <= addr(h2));
    EXPECT_EQ(static_cast<char*>(m.alloc(100)), h2 + 40000);
}

TEST(IntegralMemory, CreateRefusesSmallBlocksAndKeepsTheOldSize) {
    cIntegralMemory m;
    ASSERT_TRUE(m.create(0x20000));
    ASSERT_NE(m.alloc(10), nullptr);
    EXPECT_FALSE(m.create(0xFFFF));
    EXPECT_EQ(m.blockSize(), 0x20000);
    // 100,000 bytes now fit a block of 128 KiB, so they are packed.
    char* a = static_cast<char*>(m.alloc(100000));
    char* b = static_cast<char*>(m.alloc(10));
    EXPECT_EQ(b, a + 100000);
}

TEST(IntegralMemory, ManyBlocksAndNodesAreAllUsableAndFreed) {
    cIntegralMemory m;
    // More blocks than one bookkeeping node holds (8191 with the default size),
    // and more large requests than one large node holds.
    std::vector<unsigned char*> pieces;
    for (int i = 0; i < 9000; ++i) {
        auto* p = static_cast<unsigned char*>(m.alloc(60000));
        ASSERT_NE(p, nullptr);
        p[0] = static_cast<unsigned char>(i);
        p[59999] = static_cast<unsigned char>(i >> 8);
        if (i % 97 == 0) pieces.push_back(p);
    }
    for (size_t k = 0; k < pieces.size(); ++k) {
        int i = static_cast<int>(k * 97);
        EXPECT_EQ(pieces[k][0], static_cast<unsigned char>(i));
        EXPECT_EQ(pieces[k][59999], static_cast<unsigned char>(i >> 8));
    }
    for (int i = 0; i < 8300; ++i) ASSERT_NE(m.alloc(70000 + i % 3), nullptr);
    m.destroy();  // LeakSanitizer checks that every block and node went
    char* again = static_cast<char*>(m.alloc(8));
    char* next = static_cast<char*>(m.alloc(8));
    EXPECT_EQ(next, again + 8);
}

TEST(IntegralMemory, SwapExchangesEverything) {
    cIntegralMemory a, b;
    ASSERT_TRUE(b.create(0x40000));
    char* pa = static_cast<char*>(a.alloc(10));
    a.swap(b);
    EXPECT_EQ(a.blockSize(), 0x40000);
    EXPECT_EQ(b.blockSize(), 0x10000);
    EXPECT_EQ(static_cast<char*>(b.alloc(1)), pa + 10);
}

}  // namespace
