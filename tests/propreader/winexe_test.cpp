// The executable reader over files the mingw-w64 cross tools built
// (tests/data/winexe/make.sh): version strings compared with exiftool, the
// link time with objdump, icon pixels with the pattern the icons were drawn
// from; then damaged files made from them.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "base/memio.h"
#include "fuzzreplay.h"
#include "propreader/fileprops.h"
#include "testsupport.h"

#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#define LLVMFuzzerTestOneInput fuzzWinExe
#include "../../fuzz/FuzzWinExe.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

std::string bytesOf(const std::string& name) { return qortest::readFile(qortest::dataPath("winexe/" + name)); }

// exiftool.json: one object per file, flat "Key": "value" pairs.
std::map<std::string, std::map<std::string, std::string>> exiftoolRecords() {
    std::map<std::string, std::map<std::string, std::string>> out;
    const std::string json = bytesOf("exiftool.json");
    std::string file;
    std::size_t at = 0;
    while ((at = json.find('"', at)) != std::string::npos) {
        const std::size_t keyEnd = json.find('"', at + 1);
        const std::string key = json.substr(at + 1, keyEnd - at - 1);
        const std::size_t valAt = json.find('"', json.find(':', keyEnd));
        const std::size_t valEnd = json.find('"', valAt + 1);
        const std::string value = json.substr(valAt + 1, valEnd - valAt - 1);
        if (key == "SourceFile") file = value;
        else out[file][key] = value;
        at = valEnd + 1;
    }
    return out;
}

// Reads a file's properties from memory with the given preview limits.
std::unique_ptr<cFileObjectProps> loadProps(std::string& bytes, int lw, int lh) {
    cBufWrapperIO io(&bytes[0], static_cast<long long>(bytes.size()), false);
    std::unique_ptr<cFileObjectProps> props(cFileObjectProps::guessObj(&io));
    if (!props) return props;
    props->setPreviewPreferrences(lw, lh);
    io.set_fp(0);
    if (!props->load(&io, 0, true)) props.reset();
    return props;
}

std::string str(cFileObjectProps& p, int id) {
    const char* s = p.prop_string(id);
    return s ? s : "<unset>";
}

// The icons' pixels as make.sh drew them, x and y from the top-left corner.
unsigned int iconPixel(int x, int y, int n) {
    const unsigned r = x * 255 / (n - 1), g = y * 255 / (n - 1), b = (n * 5) & 255;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// Every pixel of a preview against the pattern; rows count from the bottom.
int pixelMismatches(cPictDummy& p, int n) {
    int bad = 0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (p.raw8Bpp()[static_cast<std::size_t>(n - 1 - y) * n + x] != iconPixel(x, y, n)) ++bad;
    return bad;
}

const char* const kFiles[] = {"full64.exe", "full32.dll", "descr32.exe", "descr64.dll"};

}  // namespace

TEST(WinExeProps, VersionStringsAgreeWithExiftoolAndLastTableWins) {
    auto oracle = exiftoolRecords();
    for (const char* name : kFiles) {
        SCOPED_TRACE(name);
        std::string bytes = bytesOf(name);
        auto props = loadProps(bytes, 0, 0);
        ASSERT_TRUE(props);
        EXPECT_EQ(props->typeOf(), 0);
        EXPECT_STREQ(props->content_type(), "application/x-msdownload");
        auto& e = oracle[name];
        ASSERT_FALSE(e.empty());
        const bool full = std::string(name).find("full") == 0;
        if (full) {
            EXPECT_EQ(str(*props, 6), e["ProductName"]);
            // exiftool reads the first (German) table; of two tables the last
            // one read gives the value, as make.sh wrote it in English.
            EXPECT_EQ(str(*props, 7), "Test tool \u00fc\u00e9");
            EXPECT_EQ(str(*props, 11), "5.6.7.8 beta");
        } else {
            EXPECT_EQ(e.count("ProductName"), 0u);
            EXPECT_EQ(str(*props, 6), e["FileDescription"]);
            EXPECT_FALSE(props->has_prop(7));
            EXPECT_EQ(str(*props, 11), e["FileVersion"]);
        }
        // Trailing spaces go, but never the value's first unit.
        std::string company = e["CompanyName"];
        while (company.size() > 1 && company.back() == ' ') company.pop_back();
        EXPECT_EQ(str(*props, 8), company);
        EXPECT_EQ(str(*props, 9), e.count("LegalCopyright") ? e["LegalCopyright"] : "<unset>");
        EXPECT_FALSE(props->has_prop(10));
        EXPECT_FALSE(props->has_prop(3)) << "a preview limit of 0 makes no preview";
    }
}

TEST(WinExeProps, LinkTimeAgreesWithObjdump) {
    for (const char* name : kFiles) {
        SCOPED_TRACE(name);
        std::string bytes = bytesOf(name);
        auto props = loadProps(bytes, 0, 0);
        ASSERT_TRUE(props);
        std::string text = bytesOf(std::string(name).substr(0, std::strlen(name) - 4) + ".objdump-time.txt");
        std::tm tm{};
        ASSERT_TRUE(strptime(text.c_str(), "%a %b %d %H:%M:%S %Y", &tm)) << text;
        sTimestamp* t = props->prop_time(13);
        if (tm.tm_year == 70 && tm.tm_yday == 0 && tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0) {
            EXPECT_EQ(t, nullptr) << "a zero time stamp stores nothing";
            continue;
        }
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->year, tm.tm_year + 1900);
        EXPECT_EQ(t->month, tm.tm_mon + 1);
        EXPECT_EQ(t->day, tm.tm_mday);
        EXPECT_EQ(t->hour, tm.tm_hour);
        EXPECT_EQ(t->minute, tm.tm_min);
        EXPECT_EQ(t->second, tm.tm_sec);
    }
}

TEST(WinExeProps, IconChoiceFollowsPreviewLimitsAndKeepsThePixelsDrawn) {
    // app.ico holds 16, 32 and 48 as bitmaps and 256 as PNG; small.ico 16, 32.
    struct Case {
        const char* file;
        int lw, lh;
        int w, h;      // preview size
        int exactOf;   // the icon size the preview equals pixel for pixel, 0: scaled
    } cases[] = {
        {"full64.exe", 16, 16, 16, 16, 16},   // only 16 fits (half 8 < 16)
        {"full32.dll", 16, 16, 16, 16, 16},
        {"full64.exe", 24, 24, 24, 24, 0},    // 32 fits and is rendered into 24
        {"full64.exe", 30, 100, 30, 30, 0},   // 48 fits: 48 * 30/48
        {"full64.exe", -1, -1, 256, 256, 256},// unbounded: the largest, the PNG
        {"full32.dll", 100, -1, 48, 48, 48},  // 256 is not below 200 wide: 48
        {"descr64.dll", 64, 64, 32, 32, 32},  // never enlarged
        {"descr32.exe", 8, 8, 8, 8, 0},       // none fits: the largest, scaled
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.lw) + "x" + std::to_string(c.lh));
        std::string bytes = bytesOf(c.file);
        auto props = loadProps(bytes, c.lw, c.lh);
        ASSERT_TRUE(props);
        cPictDummy* p = props->prop_pict(3);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->width(), c.w);
        ASSERT_EQ(p->height(), c.h);
        ASSERT_NE(p->raw8Bpp(), nullptr);
        if (c.exactOf) {
            EXPECT_EQ(pixelMismatches(*p, c.exactOf), 0);
        } else {
            // Scaled: the top-left corner stays near black-red-green 0 and the
            // bottom-right near full red and green; every pixel stays (nearly) opaque.
            const unsigned tl = p->raw8Bpp()[static_cast<std::size_t>(c.h - 1) * c.w];
            const unsigned br = p->raw8Bpp()[c.w - 1];
            EXPECT_LT((tl >> 16) & 255, 40u);
            EXPECT_LT((tl >> 8) & 255, 40u);
            EXPECT_GT((br >> 16) & 255, 215u);
            EXPECT_GT((br >> 8) & 255, 215u);
            for (int i = 0; i < c.w * c.h; ++i) ASSERT_GE(p->raw8Bpp()[i] >> 24, 250u) << i;
        }
    }
}

// ---------------------------------------------------------------------------
// Damaged files.

namespace {

unsigned rd32(const std::string& b, std::size_t at) {
    return static_cast<unsigned char>(b.at(at)) | static_cast<unsigned char>(b.at(at + 1)) << 8 |
           static_cast<unsigned char>(b.at(at + 2)) << 16 | static_cast<unsigned>(static_cast<unsigned char>(b.at(at + 3))) << 24;
}
void wr32(std::string& b, std::size_t at, unsigned v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<char>(v >> (8 * i));
}
unsigned rd16(const std::string& b, std::size_t at) {
    return static_cast<unsigned char>(b.at(at)) | static_cast<unsigned char>(b.at(at + 1)) << 8;
}
void wr16(std::string& b, std::size_t at, unsigned v) {
    b.at(at) = static_cast<char>(v);
    b.at(at + 1) = static_cast<char>(v >> 8);
}

struct Layout {
    std::size_t pe, table, rsrc;  // the .rsrc header in the section table
    unsigned raw, va;             // its pointer to raw data and virtual address
};

Layout layoutOf(const std::string& b) {
    Layout l{};
    l.pe = rd32(b, 60);
    l.table = l.pe + 24 + rd16(b, l.pe + 20);
    for (unsigned i = 0; i < rd16(b, l.pe + 6); ++i)
        if (b.compare(l.table + 40 * i, 6, std::string(".rsrc\0", 6)) == 0) l.rsrc = l.table + 40 * i;
    l.raw = rd32(b, l.rsrc + 20);
    l.va = rd32(b, l.rsrc + 12);
    return l;
}

bool loads(std::string& bytes) {
    cBufWrapperIO io(&bytes[0], static_cast<long long>(bytes.size()), false);
    cWinExeProps props;
    props.setPreviewPreferrences(16, 16);
    return props.load(&io, 0, true);
}

// A resource section: root at 0 with `n` type entries, all pointing at one
// name directory at 0x400, whose n entries point at one language directory
// at 0x800, whose n entries point at one data entry at 0xC00.
std::vector<unsigned char> sharedTree(unsigned n, unsigned backTo = 0xFFFFFFFF) {
    std::vector<unsigned char> s(0xC10, 0);
    auto put32 = [&](std::size_t at, unsigned v) { for (int i = 0; i < 4; ++i) s[at + i] = static_cast<unsigned char>(v >> (8 * i)); };
    for (unsigned dir = 0; dir < 3; ++dir) {
        const std::size_t at = dir * 0x400;
        s[at + 14] = static_cast<unsigned char>(n);
        for (unsigned i = 0; i < n; ++i) {
            put32(at + 16 + 8 * i, i + 1);
            put32(at + 20 + 8 * i, dir < 2 ? (0x80000000u | (at + 0x400)) : 0xC00u);
        }
    }
    if (backTo != 0xFFFFFFFF) put32(0x400 + 20, 0x80000000u | backTo);
    put32(0xC00, 0x1000);
    put32(0xC04, 4);
    return s;
}

}  // namespace

TEST(WinExeProps, HeadersThatDoNotHoldAreRefusedWithoutReadingOn) {
    const std::string good = bytesOf("full64.exe");
    const Layout l = layoutOf(good);
    ASSERT_NE(l.rsrc, 0u);
    struct Edit {
        const char* what;
        void (*apply)(std::string&, const Layout&);
        bool validFor;  // the probe looks at headers only
    } edits[] = {
        {"PE offset below 64", [](std::string& b, const Layout&) { wr32(b, 60, 63); }, false},
        {"PE offset past the end", [](std::string& b, const Layout&) { wr32(b, 60, 0x7FFFFFF0); }, false},
        {"section table past the end", [](std::string& b, const Layout& lay) { wr16(b, lay.pe + 6, 0xFFFF); }, false},
        {"no optional header", [](std::string& b, const Layout& lay) { wr16(b, lay.pe + 20, 0); }, false},
        {"no resource section", [](std::string& b, const Layout& lay) { b.at(lay.rsrc + 1) = 'R'; }, false},
        {"resource section without raw data", [](std::string& b, const Layout& lay) { wr32(b, lay.rsrc + 16, 0); }, false},
        {"resource raw size past the end", [](std::string& b, const Layout& lay) { wr32(b, lay.rsrc + 16, 0xFFFFFF00u); }, true},
        {"resource offset past the end", [](std::string& b, const Layout& lay) { wr32(b, lay.rsrc + 20, 0xFFFFFF00u); }, true},
        {"root directory with entries past the section", [](std::string& b, const Layout& lay) { wr16(b, lay.raw + 14, 0xFFFF); }, true},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.what);
        std::string b = good;
        e.apply(b, l);
        cBufWrapperIO io(&b[0], static_cast<long long>(b.size()), false);
        EXPECT_EQ(cWinExeProps::validFor(&io), e.validFor);
        EXPECT_FALSE(loads(b));
    }
    // Every truncation of the headers and the resource tree fails cleanly.
    for (std::size_t n = 0; n < l.raw + 64; n += 7) {
        std::string b = good.substr(0, n);
        EXPECT_FALSE(loads(b)) << n;
    }
}

TEST(WinExeProps, SharedOrLoopingResourceDirectoriesFailTheWalk) {
    cWinExeProps::tTypeMap tree;
    std::vector<unsigned char> one = sharedTree(1);
    ASSERT_TRUE(cWinExeProps::parseResources(one.data(), static_cast<long long>(one.size()), tree));
    ASSERT_NE(tree.find(1), nullptr);
    ASSERT_NE(tree.find(1)->find(1), nullptr);
    EXPECT_EQ(tree.find(1)->find(1)->head->value.address, 0x1000u);
    EXPECT_EQ(tree.find(1)->find(1)->head->value.size, 4u);

    // 100 entries on each level sharing their subdirectory would be a
    // million records; two already share; a name level pointing back at the
    // root; a directory that holds itself.
    for (auto [n, backTo] : {std::pair<unsigned, unsigned>{100, 0xFFFFFFFF}, {2, 0xFFFFFFFF}, {1, 0}, {1, 0x400}}) {
        SCOPED_TRACE(std::to_string(n) + " entries, back to " + std::to_string(backTo));
        cWinExeProps::tTypeMap t;
        std::vector<unsigned char> s = sharedTree(n, backTo);
        EXPECT_FALSE(cWinExeProps::parseResources(s.data(), static_cast<long long>(s.size()), t));
    }
}

namespace {

// A section whose 60 language directories lie 8 bytes apart, each header's
// count read from the entry before it: 64 entries each, 3840 records from
// 1.6 KB, and by the square of the size as it grows.
std::vector<unsigned char> overlappingTree() {
    constexpr unsigned kDirs = 60, kCount = 64, kNames = 24, kLangs = kNames + 16 + 8 * kDirs;
    std::vector<unsigned char> s(kLangs + 16 + 8 * (kDirs + kCount), 0);
    auto put32 = [&](std::size_t at, unsigned v) { for (int i = 0; i < 4; ++i) s[at + i] = static_cast<unsigned char>(v >> (8 * i)); };
    s[14] = 1;  // the type level: one entry
    put32(16, 3);
    put32(20, 0x80000000u | kNames);
    s[kNames + 14] = kDirs;  // the name level: one entry per language directory
    for (unsigned i = 0; i < kDirs; ++i) {
        put32(kNames + 16 + 8 * i, i + 1);
        put32(kNames + 20 + 8 * i, 0x80000000u | (kLangs + 8 * i));
    }
    s[kLangs + 12] = kCount;
    for (unsigned i = 0; i < kDirs + kCount; ++i) put32(kLangs + 20 + 8 * i, kCount);  // each a data entry at 64
    return s;
}

}  // namespace

TEST(WinExeProps, OverlappingResourceDirectoriesYieldNoMoreEntriesThanTheDataHolds) {
    std::vector<unsigned char> s = overlappingTree();
    cWinExeProps::tTypeMap tree;
    EXPECT_FALSE(cWinExeProps::parseResources(s.data(), static_cast<long long>(s.size()), tree));
    cWinExeProps::tNameMap names;
    EXPECT_FALSE(cWinExeProps::parseResNames(s.data(), static_cast<long long>(s.size()), 24, names));
    // One language directory alone is a well-formed one.
    cWinExeProps::tLangList langs;
    EXPECT_TRUE(cWinExeProps::parseResLangs(s.data(), static_cast<long long>(s.size()), 24 + 16 + 8 * 60, langs));
    int n = 0;
    for (auto* it = langs.head; it; it = it->next) ++n;
    EXPECT_EQ(n, 64);
}

namespace {

// One version block: header, key, padding to 4, then value or children.
std::string block(const std::string& key, const std::string& children, int type = 1, const std::string& text = "") {
    std::string b(6, '\0');
    for (char c : key) b += std::string{c, '\0'};
    b += std::string(2, '\0');
    while (b.size() % 4) b += '\0';
    unsigned valueLength = 0;
    if (!text.empty()) {
        for (char c : text) b += std::string{c, '\0'};
        b += std::string(2, '\0');
        valueLength = static_cast<unsigned>(text.size() + 1);
    } else {
        b += children;
    }
    wr16(b, 0, static_cast<unsigned>(b.size()));
    wr16(b, 2, valueLength);
    wr16(b, 4, static_cast<unsigned>(type));
    while (b.size() % 4) b += '\0';
    return b;
}

bool walk(std::string blocks, cWinExeProps::tStringMap& out) {
    cBufWrapperIO io(&blocks[0], static_cast<long long>(blocks.size()), false);
    return cWinExeProps::loadStrProps(&io, out);
}

}  // namespace

TEST(WinExeProps, VersionBlocksNestOnlyAsDeepAsRealOnes) {
    std::string leaf = block("ProductName", "", 1, "Deep");
    std::string nested = leaf;
    for (int depth = 1; depth <= 8; ++depth) nested = block("L" + std::to_string(depth), nested);
    cWinExeProps::tStringMap ok(2048);
    ASSERT_TRUE(walk(nested, ok));
    ASSERT_NE(ok.find(cStringKey("ProductName", -1)), nullptr);
    EXPECT_STREQ(ok.find(cStringKey("ProductName", -1))->get(), "Deep");

    std::string tooDeep = block("L9", nested);
    cWinExeProps::tStringMap refused(2048);
    EXPECT_FALSE(walk(tooDeep, refused));

    // Thousands of levels of header-only nesting: 8 bytes each, no crash.
    std::string hostile;
    for (int i = 0; i < 8000; ++i) hostile += std::string("\0\0\0\0\x01\0L\0", 8);
    for (int i = 0; i < 8000; ++i) wr16(hostile, 8 * i, static_cast<unsigned>(hostile.size() - 8 * i));
    cWinExeProps::tStringMap none(2048);
    EXPECT_FALSE(walk(hostile, none));
}

TEST(WinExeProps, BlockLengthsThatWouldWrapAreRefused) {
    cWinExeProps::tStringMap m(2048);
    // Length 5: past the header, but less than its own key.
    EXPECT_FALSE(walk(std::string("\x05\0\0\0\x01\0A\0\0\0\0\0", 12), m));
    // Length beyond what the run holds.
    EXPECT_FALSE(walk(std::string("\x40\0\0\0\x01\0A\0\0\0\0\0", 12), m));
    // A version root whose length is below 40 + its value length: the file
    // still loads (the strings are just absent).
    std::string b = bytesOf("full64.exe");
    const std::size_t root = b.find(std::string("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30)) - 6;
    ASSERT_LT(root, b.size());
    wr16(b, root, 60);  // value length stays 52: 60 - 40 - 52 < 0
    cBufWrapperIO io(&b[0], static_cast<long long>(b.size()), false);
    cWinExeProps props;
    props.setPreviewPreferrences(0, 0);
    ASSERT_TRUE(props.load(&io, 0, false));
    EXPECT_FALSE(props.has_prop(6));
    EXPECT_TRUE(props.has_prop(13));
}

TEST(WinExeProps, TextValuesKeepTheirFirstUnitAndLastBlockPaddingIsOptional) {
    cWinExeProps::tStringMap m(2048);
    std::string run = block("A", "", 1, "   ") + block("B", "", 1, "x  ") + block("C", "", 0, "bin");
    // The run's last block may stop without its padding.
    std::string last = block("D", "", 1, "tail");
    last.resize(static_cast<unsigned char>(last[0]));
    ASSERT_TRUE(walk(run + last, m));
    EXPECT_STREQ(m.find(cStringKey("A", -1))->get(), " ");
    EXPECT_STREQ(m.find(cStringKey("B", -1))->get(), "x");
    EXPECT_EQ(m.find(cStringKey("C", -1)), nullptr);
    EXPECT_STREQ(m.find(cStringKey("D", -1))->get(), "tail");
}

TEST(WinExeProps, SavedCrashInputsReplayCleanly) {
    qortest::replayFolder("winexe/malformed", fuzzWinExe, 4);
}

