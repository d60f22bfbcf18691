// The configuration interface over two in-memory stores of this file: a
// binary one that keeps bytes and a text one that keeps strings.
#include "base/appconfig.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// The node tree both stores share.  Every name asked of subContextHandle is
// recorded, so tests can see how a path was walked.
class MemoryTree : public cApplicationConfig {
public:
    struct Node {
        std::map<std::string, std::unique_ptr<Node>> children;
        bool hasValue = false;
        std::string value;
    };

    void* rootContextHandle() override { return &root_; }
    void* subContextHandle(char const* name, void* parent, bool create) override {
        asked.push_back(name ? name : "<null>");
        if (!parent || !name) return nullptr;
        Node* p = static_cast<Node*>(parent);
        auto it = p->children.find(name);
        if (it != p->children.end()) return it->second.get();
        if (!create || refuseCreation) return nullptr;
        return (p->children[name] = std::make_unique<Node>()).get();
    }
    bool getParamValueSize(void* handle, long long& size) override {
        Node* n = static_cast<Node*>(handle);
        if (!n->hasValue) return false;
        size = static_cast<long long>(n->value.size());
        return true;
    }
    bool openConfig(const char*) override { return true; }

    // The node at a path, found (or built) without the interface; null when missing.
    Node* find(const std::string& path, bool build = false) {
        Node* n = &root_;
        for (std::size_t start = 0, slash = 0; slash != std::string::npos && n; start = slash + 1) {
            slash = path.find('/', start);
            const std::string name = path.substr(start, slash == std::string::npos ? slash : slash - start);
            if (build && !n->children[name]) n->children[name] = std::make_unique<Node>();
            auto it = n->children.find(name);
            n = it == n->children.end() ? nullptr : it->second.get();
        }
        return n;
    }
    // Stores a raw value under path, building the nodes.
    void put(const std::string& path, const std::string& value) {
        Node* n = find(path, true);
        n->hasValue = true;
        n->value = value;
    }
    std::string raw(const std::string& path) {
        Node* n = find(path);
        return n && n->hasValue ? n->value : "<none>";
    }
    int nodeCount() const { return count(root_); }

    std::vector<std::string> asked;
    bool refuseCreation = false;

private:
    static int count(const Node& n) {
        int c = 1;
        for (const auto& kv : n.children) c += count(*kv.second);
        return c;
    }
    Node root_;
};

class BinaryStore : public MemoryTree {
public:
    bool isTextConfig() override { return false; }
    bool getParamValue(void* buf, long long size, void* handle) override {
        Node* n = static_cast<Node*>(handle);
        if (!n->hasValue || size != static_cast<long long>(n->value.size())) return false;
        std::memcpy(buf, n->value.data(), n->value.size());
        return true;
    }
    bool setParamValue(void const* data, long long size, void* handle) override {
        Node* n = static_cast<Node*>(handle);
        n->value.assign(static_cast<const char*>(data), static_cast<std::size_t>(size));
        n->hasValue = true;
        return true;
    }
    using cApplicationConfig::getParamValue;
    using cApplicationConfig::setParamValue;
};

class TextStore : public MemoryTree {
public:
    bool isTextConfig() override { return true; }
    bool getParamValue(_guardchar<char>& text, void* handle) override {
        Node* n = static_cast<Node*>(handle);
        if (!n->hasValue) return false;
        text.set(n->value.c_str());
        return true;
    }
    bool setParamValue(const char* text, long long length, void* handle) override {
        Node* n = static_cast<Node*>(handle);
        n->value = length < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(length));
        n->hasValue = true;
        return true;
    }
    using cApplicationConfig::getParamValue;
    using cApplicationConfig::setParamValue;
};

std::string str(const _guardchar<char>& s) { return s.c_str() ? s.c_str() : "<null>"; }

// The typed integer operations of one width (16, 32 or 64 bits).
bool setInt(cApplicationConfig& c, int width, const char* path, long long v) {
    return width == 16 ? c.setParamInt16(path, static_cast<int>(v))
         : width == 32 ? c.setParamInt32(path, static_cast<int>(v))
                       : c.setParamInt64(path, v);
}
long long getInt(cApplicationConfig& c, int width, const char* path) {
    return width == 16 ? c.getParamInt16(path) : width == 32 ? c.getParamInt32(path) : c.getParamInt64(path);
}
struct IntCase {
    int width;
    long long value;
    std::string stored;
};

// ---------------------------------------------------------------------------
// Paths


TEST(ConfigPaths, ComponentsAreWalkedAsTheyStand) {
    BinaryStore store;
    EXPECT_EQ(store.getPathContextHandle(nullptr, true), store.rootContextHandle());  // no path: the root
    EXPECT_EQ(store.getPathContextHandle("", false), store.rootContextHandle());
    EXPECT_TRUE(store.asked.empty());
    void* node = store.getPathContextHandle("a//b", true);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(store.asked, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(node, store.find("a//b"));
    EXPECT_EQ(store.nodeCount(), 4);

    store.asked.clear();
    EXPECT_NE(store.getPathContextHandle("/x/", true), nullptr);
    EXPECT_EQ(store.asked, (std::vector<std::string>{"", "x", ""}));

    // A read stops at the first missing component.
    store.asked.clear();
    EXPECT_EQ(store.getPathContextHandle("q/r/s", false), nullptr);
    EXPECT_EQ(store.asked, (std::vector<std::string>{"q"}));
    EXPECT_EQ(store.getPathContextHandle("a//b", false), node);
}

TEST(ConfigPaths, ReadsNeverCreateNodes) {
    BinaryStore store;
    unsigned long long v = 99;
    _guardchar<char> s("keep");
    _typebuf<unsigned char> bytes;
    EXPECT_EQ(store.getParamInt32("a/b"), 0);
    EXPECT_EQ(store.getParamInt16("a/b"), 0);
    EXPECT_EQ(store.getParamInt64("a/b"), 0);
    EXPECT_FALSE(store.getParamInt("a/b", v));
    EXPECT_EQ(v, 99u);
    EXPECT_FALSE(store.getParamStr("a/b", s));
    EXPECT_EQ(str(s), "keep");
    EXPECT_FALSE(store.getParam("a/b", bytes));
    EXPECT_EQ(store.nodeCount(), 1);

    // A section without a value is no parameter.
    store.put("a/b/c", "x");
    EXPECT_FALSE(store.getParamInt("a/b", v));
    EXPECT_FALSE(store.getParam("a", bytes));
    EXPECT_EQ(store.nodeCount(), 4);
}

TEST(ConfigPaths, WritesCreateTheWholePathOrFail) {
    BinaryStore store;
    ASSERT_TRUE(store.setParamInt32("x/y/z", 5));
    ASSERT_NE(store.find("x"), nullptr);
    ASSERT_NE(store.find("x/y"), nullptr);
    EXPECT_EQ(store.raw("x/y/z"), std::string("\x05\0\0\0", 4));

    store.refuseCreation = true;
    EXPECT_FALSE(store.setParamInt32("p/q", 1));
    EXPECT_FALSE(store.setParamStr("p/q", "s", -1));
    EXPECT_FALSE(store.setParam("p/q", "s", 1));
    EXPECT_FALSE(store.setParamInt64("p/q", 1));
    EXPECT_EQ(store.nodeCount(), 4);
}

// ---------------------------------------------------------------------------
// Binary store

TEST(BinaryConfig, IntegersAreLittleEndianBytesOfTheirWidth) {
    BinaryStore store;
    const IntCase cases[] = {
        {16, -1, "\xff\xff"},
        {16, 70000, "\x70\x11"},  // 0x11170: the two low bytes, read back as 0x1170
        {32, 0x12345678, "\x78\x56\x34\x12"},
        {32, INT_MIN, std::string("\0\0\0\x80", 4)},
        {64, INT64_MIN, std::string("\0\0\0\0\0\0\0\x80", 8)},
        {64, INT64_MAX, "\xff\xff\xff\xff\xff\xff\xff\x7f"},
        {64, 0x0102030405060708LL, "\x08\x07\x06\x05\x04\x03\x02\x01"},
    };
    for (const IntCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " bits " + std::to_string(c.value));
        ASSERT_TRUE(setInt(store, c.width, "v", c.value));
        EXPECT_EQ(store.raw("v"), c.stored);
        EXPECT_EQ(getInt(store, c.width, "v"), c.width == 16 ? static_cast<short>(c.value) : c.value);
    }
    EXPECT_EQ(store.getParamInt32("v"), 0x05060708);  // the low bytes of the last value
    ASSERT_TRUE(store.setParamInt16("v16", -1));
    unsigned long long v = 0;
    ASSERT_TRUE(store.getParamInt("v16", v));
    EXPECT_EQ(v, 65535u);  // zero-extended
}


TEST(BinaryConfig, StringsAreTheirBytesWithoutTerminator) {
    BinaryStore store;
    char abc[] = "abc";
    ASSERT_TRUE(store.setParamStr("s", abc, -1));
    EXPECT_EQ(store.raw("s"), "abc");
    _guardchar<char> s;
    ASSERT_TRUE(store.getParamStr("s", s));
    EXPECT_EQ(str(s), "abc");
    ASSERT_TRUE(store.setParamStr("s2", "abcdef", 2));
    EXPECT_EQ(store.raw("s2"), "ab");
    ASSERT_TRUE(store.setParamStr("empty", "", -1));
    EXPECT_EQ(store.raw("empty"), "");
    s.set("keep");
    ASSERT_TRUE(store.getParamStr("empty", s));
    EXPECT_EQ(str(s), "");
    EXPECT_FALSE(store.setParamStr("n", nullptr, -1));
    EXPECT_FALSE(store.setParamStr("n", "x", -2));
    EXPECT_FALSE(store.setParam("blob", nullptr, 3));
    EXPECT_FALSE(store.setParam("blob", "x", -1));
    EXPECT_EQ(store.find("blob"), nullptr);
    // Integers are one to eight stored bytes.
    unsigned long long v = 7;
    store.put("three", "\x01\x02\x03");
    ASSERT_TRUE(store.getParamInt("three", v));
    EXPECT_EQ(v, 0x030201u);
    store.put("nine", std::string(9, '\x01'));
    EXPECT_FALSE(store.getParamInt("nine", v));
    EXPECT_EQ(v, 0x030201u);
    EXPECT_FALSE(store.getParamInt("empty", v));

    _typebuf<unsigned char> bytes;
    ASSERT_TRUE(store.getParam("empty", bytes));
    EXPECT_EQ(bytes.count(), 0);
    ASSERT_TRUE(store.getParam("s", bytes));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.data()), bytes.bytes()), "abc");
}


// ---------------------------------------------------------------------------
// Text store

TEST(TextConfig, SignedValuesRoundTripThroughTheirDecimalText) {
    TextStore store;
    const IntCase cases[] = {
        {64, INT64_MIN, "-9223372036854775808"}, {64, INT64_MAX, "9223372036854775807"}, {64, -1, "-1"},
        {64, 0, "0"}, {64, 1234567890123LL, "1234567890123"}, {64, -4294967296LL, "-4294967296"},
        {32, INT32_MIN, "-2147483648"}, {32, INT32_MAX, "2147483647"}, {32, -5, "-5"},
        {16, INT16_MIN, "-32768"}, {16, INT16_MAX, "32767"}, {16, -1, "-1"},
    };
    for (const IntCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " bits " + c.stored);
        ASSERT_TRUE(setInt(store, c.width, "n/v", c.value));
        EXPECT_EQ(store.raw("n/v"), c.stored);
        EXPECT_EQ(getInt(store, c.width, "n/v"), c.value);
        unsigned long long bits = 0;
        ASSERT_TRUE(store.getParamInt("n/v", bits));
        EXPECT_EQ(bits, static_cast<unsigned long long>(c.value));
    }
}

TEST(TextConfig, TextThatIsNotANumberReadsAsFailure) {
    TextStore store;
    for (const char* bad : {"", "12abc", "1 2", "--1", "0x", "1.5", "18446744073709551616", "-9223372036854775809",
                            "-0x10", "0x10000000000000000", "\xc2\xb9"}) {
        store.put("bad", bad);
        unsigned long long v = 42;
        EXPECT_FALSE(store.getParamInt("bad", v)) << '"' << bad << '"';
        EXPECT_EQ(v, 42u);
        EXPECT_EQ(store.getParamInt32("bad"), 0) << bad;
    }
    struct Good {
        const char* text;
        unsigned long long value;
    };
    for (const Good& g : {Good{"\t-7\r\n", static_cast<unsigned long long>(-7)}, Good{"+7", 7}, Good{"0XfF", 255},
                          Good{"18446744073709551615", ~0ULL}, Good{"0xFFFFFFFFFFFFFFFF", ~0ULL}}) {
        store.put("good", g.text);
        unsigned long long v = 0;
        EXPECT_TRUE(store.getParamInt("good", v)) << g.text;
        EXPECT_EQ(v, g.value) << g.text;
    }
}

TEST(TextConfig, StringsAreStoredAsTextAndRawBytesRefused) {
    TextStore store;
    ASSERT_TRUE(store.setParamStr("lang/name", "Deutsch", -1));
    ASSERT_TRUE(store.setParamStr("lang/short", "Deutsch", 2));
    EXPECT_EQ(store.raw("lang/name"), "Deutsch");
    EXPECT_EQ(store.raw("lang/short"), "De");
    _guardchar<char> s;
    ASSERT_TRUE(store.getParamStr("lang/name", s));
    EXPECT_EQ(str(s), "Deutsch");

    const unsigned char data[] = {1, 2};
    EXPECT_FALSE(store.setParam("raw/x", data, 2));
    EXPECT_EQ(store.find("raw"), nullptr);
    // A text store keeps no bytes to hand out.
    _typebuf<unsigned char> bytes;
    EXPECT_FALSE(store.getParam("lang/name", bytes));
    EXPECT_EQ(bytes.count(), 0);
}

// ---------------------------------------------------------------------------
// What a store leaves to the interface's defaults

TEST(ConfigDefaults, OptionalOperationsAnswerFalse) {
    BinaryStore store;
    store.put("a/b", "x");
    EXPECT_FALSE(store.newConfig("n"));
    EXPECT_FALSE(store.saveConfig());
    EXPECT_FALSE(store.saveConfigAs("n"));
    EXPECT_FALSE(store.discardChanges());
    EXPECT_FALSE(store.removeSection("a"));
    EXPECT_FALSE(store.hasSection("a"));
    EXPECT_FALSE(store.enumSubsections("a", [](char const*, void*) { return true; }, nullptr));
    _guardchar<char> text;
    EXPECT_FALSE(store.getParamValue(text, store.find("a/b")));
    EXPECT_FALSE(store.setParamValue("text", -1, store.find("a/b")));
    EXPECT_EQ(store.raw("a/b"), "x");

    TextStore text_store;
    char buf[4];
    text_store.put("a", "x");
    EXPECT_FALSE(text_store.getParamValue(buf, 1, text_store.find("a")));
    EXPECT_FALSE(text_store.setParamValue(static_cast<const void*>(buf), 1, text_store.find("a")));
}

}  // namespace
