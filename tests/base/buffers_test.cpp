// qor-test-narrow-cpu: CopyLong.*
#include "base/buffers.h"
#include "base/exception.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

template <typename F>
std::string boundsMessage(F&& f, unsigned int* line = nullptr) {
    try {
        f();
    } catch (const cException& e) {
        if (line) *line = e.line;
        EXPECT_STREQ(e.file.c_str(), "src/base/buffers");
        EXPECT_EQ(e.code, 0u);
        return e.what();
    }
    return "no exception";
}

TEST(GuardChar, SettingFromOwnContentsCopiesBeforeFreeing) {
    _guardchar<char> s("hello world");
    s.set(s.get() + 6);  // the source lies inside the old buffer
    EXPECT_STREQ(s.c_str(), "world");
    s.set(s.get(), 3);
    EXPECT_STREQ(s.c_str(), "wor");
    _guardchar<char> t("self");
    t = t;
    EXPECT_STREQ(t.c_str(), "self");
}

TEST(TypeBuf, ResizeKeepsTheCommonPrefixAndNothingGivesNoArray) {
    _typebuf<int> b(3);
    for (int i = 0; i < 3; ++i) b[i] = i + 10;
    b.reset(5);
    EXPECT_EQ(b.count(), 5);
    EXPECT_EQ(b[2], 12);
    b.reset(2);
    EXPECT_EQ(b[1], 11);
    b.reset(0);
    EXPECT_EQ(b.data(), nullptr);
    b.set(-3);
    EXPECT_EQ(b.count(), 0);
    _guardchar<char> s("text");
    s.set("a", 5);  // stops at the terminator, zero-filled to the count
    EXPECT_EQ(s.get()[5], 0);
    s.set(nullptr, 5);
    EXPECT_EQ(s.get(), nullptr);
}

TEST(TypeBuf, CopyFromOwnContents) {
    _typebuf<unsigned char> b;
    const unsigned char src[] = {1, 2, 3, 4, 5};
    b.copyFrom(src, 5);
    b.copyFrom(b.data() + 2, 3);
    ASSERT_EQ(b.count(), 3);
    EXPECT_EQ(b[0], 3);
    EXPECT_EQ(b[2], 5);
}

TEST(TypeBuf, TruncateKeepsTheArrayAndCountsLess) {
    _typebuf<int> b(6);
    for (int i = 0; i < 6; ++i) b[i] = i * 3;
    int* const array = b.data();
    b.truncate(4);
    EXPECT_EQ(b.data(), array);  // not moved
    ASSERT_EQ(b.count(), 4);
    EXPECT_EQ(b[3], 9);
    EXPECT_EQ(boundsMessage([&] { (void)b[4]; }), "_typebuf::Out of bounds");
    b.truncate(9);  // never grows
    EXPECT_EQ(b.count(), 4);
    _typebuf<int> moved(std::move(b));  // the whole array goes along and is freed once
    EXPECT_EQ(moved.data(), array);
    EXPECT_EQ(moved.count(), 4);
    moved.truncate(0);
    EXPECT_EQ(moved.data(), nullptr);
    EXPECT_EQ(moved.count(), 0);
}

TEST(TypeBuf, OutOfBoundsThrowsWithItsLine) {
    _typebuf<int> b(3);
    unsigned int line = 0;
    EXPECT_EQ(boundsMessage([&] { b[-1] = 0; }, &line), "_typebuf::Out of bounds");
    EXPECT_EQ(line, 17u);
    EXPECT_EQ(boundsMessage([&] { b[3] = 0; }), "_typebuf::Out of bounds");
    EXPECT_NO_THROW(b[2] = 7);
    _typebuf<int> empty;
    EXPECT_EQ(boundsMessage([&] { (void)empty[0]; }), "_typebuf::Out of bounds");
}

TEST(TypeBuf, HugeRequestsFailWithBadAlloc) {
    _typebuf<unsigned long long> b(2);
    EXPECT_THROW(b.set(0x7FFFFFFFFFFFFFFFLL), std::bad_alloc);
    EXPECT_EQ(b.count(), 0);
    _typebuf<int> r(2);
    r[0] = 5;
    EXPECT_THROW(r.reset(0x7FFFFFFFFFFFFFFFLL), std::bad_alloc);
    EXPECT_EQ(r.count(), 2);  // reset keeps the old array on failure
    EXPECT_EQ(r[0], 5);
    _guardchar<char> s("kept?");
    EXPECT_THROW(s.set("x", 0x7FFFFFFFFFFFFFFFLL), std::bad_alloc);
    EXPECT_EQ(s.get(), nullptr);
}

struct Tracker {
    static std::vector<int>* log;
    static int next;
    int id;
    Tracker() : id(next++) {}
    ~Tracker() { log->push_back(id); }
};
std::vector<int>* Tracker::log = nullptr;
int Tracker::next = 0;

TEST(ClassBuf, ReplacingDestroysOldObjectsLastFirst) {
    std::vector<int> log;
    Tracker::log = &log;
    Tracker::next = 0;
    {
        _classbuf<Tracker> b;
        b.set(2);
        EXPECT_EQ(b[0].id, 0);
        EXPECT_EQ(b[1].id, 1);
        b.set(3);
        EXPECT_EQ(log, (std::vector<int>{1, 0}));
        EXPECT_EQ(b.count(), 3);
        EXPECT_EQ(b[2].id, 4);
        unsigned int line = 0;
        EXPECT_EQ(boundsMessage([&] { (void)b[3]; }, &line), "_classbuf::Out of bounds");
        EXPECT_EQ(line, 157u);
        EXPECT_EQ(boundsMessage([&] { (void)b[-1]; }), "_classbuf::Out of bounds");
    }
    EXPECT_EQ(log, (std::vector<int>{1, 0, 4, 3, 2}));
}

struct Counted {
    static int alive;
    Counted() { ++alive; }
    virtual ~Counted() { --alive; }
};
int Counted::alive = 0;
struct Derived : Counted {
    ~Derived() override { --alive; ++alive; }
};

TEST(Ptr, OwnsAndReplaces) {
    Counted::alive = 0;
    {
        cPtr<Counted> p;
        p = new Counted;
        EXPECT_EQ(Counted::alive, 1);
        p = new Derived;
        EXPECT_EQ(Counted::alive, 1);
        Counted* held = p.get();
        p = held;  // assigning the held object keeps it alive
        EXPECT_EQ(Counted::alive, 1);
        EXPECT_EQ(p.get(), held);
        p = nullptr;
        EXPECT_EQ(Counted::alive, 0);
        EXPECT_EQ(p.get(), nullptr);
        p = new Counted;
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST(CopyLong, EveryLengthAndAlignmentCopiesExactlyTheBytes) {
    // Lengths around the vector step (128) and the threshold below which it
    // is not used (256), page-sized and odd ones, from and to every offset
    // within a cache line's first bytes and its last; the bytes around the
    // destination stay as they were.
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (std::size_t n : {383u, 384u, 385u, 511u, 512u, 4095u, 4096u, 4097u, 65536u + 5})
        lengths.push_back(n);
    std::mt19937 rng(17);
    std::vector<unsigned char> src(65536 + 200), dst(65536 + 400);
    for (auto& b : src) b = static_cast<unsigned char>(rng());
    for (std::size_t n : lengths)
        for (std::size_t from : {0u, 1u, 31u, 63u})
            for (std::size_t to : {0u, 3u, 32u, 48u}) {
                std::fill(dst.begin(), dst.end(), static_cast<unsigned char>(0xA5));
                qor_detail::copyLong(dst.data() + 64 + to, src.data() + from, n);
                ASSERT_TRUE(std::equal(src.begin() + static_cast<long>(from), src.begin() + static_cast<long>(from + n),
                                       dst.begin() + static_cast<long>(64 + to)))
                    << n << " bytes from " << from << " to " << to;
                for (std::size_t i = 0; i < 64 + to; ++i) ASSERT_EQ(dst[i], 0xA5) << n << " bytes, byte " << i;
                for (std::size_t i = 64 + to + n; i < dst.size() && i < 64 + to + n + 128; ++i)
                    ASSERT_EQ(dst[i], 0xA5) << n << " bytes, byte " << i;
            }
}

}  // namespace
