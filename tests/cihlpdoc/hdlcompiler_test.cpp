// The HDL compiler and its driver: a compiled document walked by an
// independent Python reader, the error of each faulty snippet with its line
// and column, the index file's errors, and sources in every encoding.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>

#include "base/memio.h"
#include "cihlpdoc/hdlparser.h"
#include "cihlpdoc/sidoc.h"
#include "cihlpdoc/sidocloader.h"
#include "recordingcanvas.h"
#include "testsupport.h"

namespace {

std::string script(const char* name) { return std::string(QOR_SOURCE_DIR) + "/tests/cihlpdoc/" + name; }

struct Compiled {
    bool ok = false;
    std::string bytes;
    cHDLParser::sErrInfo err;
};

Compiled compileIndex(const std::string& indexPath) {
    Compiled c;
    cMemIOTarget out;
    cHDLParser parser;
    c.ok = parser.parse(indexPath.c_str(), &out, c.err);
    _typebuf<unsigned char> b;
    out.toBuffer(b);
    c.bytes.assign(reinterpret_cast<const char*>(b.data()), b.bytes());
    return c;
}

// Compiles one English source given as text.
Compiled compileSource(const qortest::TempDir& dir, const std::string& source) {
    qortest::writeFile(dir.file("src.hdl"), source);
    qortest::writeFile(dir.file("index.txt"), "ENG = \"./src.hdl\"\n");
    return compileIndex(dir.file("index.txt"));
}

class HdlCompiler : public ::testing::Test {
protected:
    void SetUp() override { qortest::cFixedFont::install(); }
};

TEST_F(HdlCompiler, DocumentMatchesAnIndependentReaderByteForByte) {
    qortest::TempDir dir;
    int st = -1;
    qortest::runPython(qortest::readFile(script("make_bmp.py")), dir.file("pic.bmp") + " 3 2", &st);
    ASSERT_EQ(st, 0);
    qortest::writeFile(dir.file("eng.hdl"),
                       "Hello <b>big</b> world<br>\n"
                       "<text ml=1 mr=2 mt=3 mb=4 w=100 h=0x20 br=0 fg=0x123456 bg=255 a=j f=verd,20>"
                       "in <i>side</i></text>\n"
                       "<link ref=\"http://a/b\">go <img src=\"./pic.bmp\"></link> "
                       "<link ref='http://a/b'>again<br></link><lt>\n");
    qortest::writeFile(dir.file("deu.hdl"), "<img src=\"./pic.bmp\" w=7 h=8 bg=0xABCDEF><link ref=x>y</link>");
    // Languages listed out of order: blocks come in ascending id order.
    qortest::writeFile(dir.file("index.txt"), "deu = \"./deu.hdl\"\n\n  eng=\"./eng.hdl\"\nRUS=\"\"\n");
    Compiled c = compileIndex(dir.file("index.txt"));
    ASSERT_TRUE(c.ok) << c.err.message.get() << " at " << c.err.line;
    qortest::writeFile(dir.file("doc.bin"), c.bytes);

    // Worked out from the markup rules: b makes a font of width 5 x 1.1 = 6,
    // "verd,20" one of width 20 x 5 / 13 = 8, italic inside it a third; one
    // string per distinct ref, one image for the picture both languages use.
    const char* expected = R"({
      "langs": {
        "0": ["T|Hello|c=ffffffff|f=65535", "T|big|c=ffffffff|f=0", "T|world|c=ffffffff|f=65535",
              "T||c=ffffffff|f=65535|br=1",
              ["C|c=00123456|f=1|a=3|bg=000000ff|m=1,2,3,4|w=100|h=32",
                ["T|in|c=00123456|f=65535", "T|side|c=00123456|f=2"]],
              "L|go|c=00ff0000|f=65535|s=0", "PL|i=0|s=0|br=1", "L|again|c=00ff0000|f=65535|s=0",
              "T||c=ffffffff|f=65535|br=1", "T|<|c=ffffffff|f=65535"],
        "2": ["P|i=0|bg=00abcdef|br=1|w=7|h=8", "L|y|c=00ff0000|f=65535|s=1"]
      },
      "fonts": [[0, 6, 13, 1], [3, 8, 20, 0], [3, 8, 20, 2]],
      "strings": ["http://a/b", "x"],
      "images": ["pic.bmp"]
    })";
    qortest::writeFile(dir.file("expected.json"), expected);
    std::string out = qortest::runPython(qortest::readFile(script("hdoc_reader.py")),
                                         dir.file("doc.bin") + " " + dir.file("expected.json") + " " + dir.path(), &st);
    EXPECT_EQ(st, 0) << out;

    // And the loader takes it back.
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                            static_cast<long long>(c.bytes.size())));
    ASSERT_NE(loader.forLang(0), nullptr);
    ASSERT_NE(loader.forLang(2), nullptr);
    EXPECT_EQ(loader.forLang(1), nullptr);
    EXPECT_EQ(loader.forLang(0)->count(), 10u);
    EXPECT_STREQ(loader.linkTarget(1), "x");
    ASSERT_NE(loader.picture(0), nullptr);
    EXPECT_EQ(loader.picture(0)->width(), 3);
}

TEST_F(HdlCompiler, EmptyIndexGivesTheEndByteAndThreeEmptyTablesWhichDoNotLoad) {
    qortest::TempDir dir;
    qortest::writeFile(dir.file("index.txt"), "\n \n");
    Compiled c = compileIndex(dir.file("index.txt"));
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.bytes, std::string("QORHDOCF\xFF", 9) + std::string(12, '\0'));
    cSiDocLoader loader;
    EXPECT_FALSE(loader.load(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                             static_cast<long long>(c.bytes.size())));
}

// Each faulty source fails with its message at the reading position just
// after the fault (line and column from 0), worked out by hand.
TEST_F(HdlCompiler, FaultySnippetsFailWithTheirMessageLineAndColumn) {
    struct Case {
        std::string source;
        const char* message;
        int line, column;
    } cases[] = {
        {"<text>abc", "termination on opened tag", 0, 9},
        {"ab\n  <b", "unexpected termination", 1, 2},
        {"<text></link>", "close tag mismatch", 0, 13},
        {"<text></img>", "close tag mismatch", 0, 12},
        {"<b >x</b>", "invalid tag opened", 0, 4},
        {"<BR>", "invalid tag opened", 0, 4},
        {"a\tb\r\n<x>", "invalid tag opened", 1, 3},
        {"</foo>", "invalid tag closed", 0, 6},
        {"<text></text >", "tag is not properly closed", 0, 14},
        {"<text f=Verdana>", "bad font face definition", 0, 16},
        {"<text f=verd,5000>", "bad font height", 0, 18},
        {"<text f=foo>", "bad font face name", 0, 12},
        {"<text f=std,>", "bad font height def", 0, 13},
        {"<text f=std,12x>", "bad font definition", 0, 16},
        {"<text f=std,12,>", "bad font width def", 0, 16},
        {"<text f=std,12,5000>", "bad font width", 0, 20},
        {"<text f=std,12,5x>", "bad font width definition", 0, 18},
        {"<text a=x>", "bad align", 0, 10},
        {"x\n<text ml=70000>", "bad left margin", 1, 15},
        {"<text mr=1e3>", "bad right margin", 0, 13},
        {"<text mt=-1>", "bad top margin", 0, 12},
        {"<text mb=65536>", "bad bottom margin", 0, 15},
        {"<text w=0x10000>", "bad width", 0, 16},
        {"<text h=zz>", "bad height", 0, 11},
        {"<text br=2>", "bad break", 0, 11},
        {"<text fg=0x100000000>", "bad FG color", 0, 21},
        {"<text bg=x>", "bad BG color", 0, 11},
        {"<text ml=1 ml>", "bad tag props", 0, 14},
        {"<text mr='5>", "bad tag props", 0, 12},
        {"<link ref=>", "bad tag props", 0, 11},
        {"<img>", "no src prop", 0, 5},
        {"<img src=/nonexistent/x.bmp>", "unable to open IMG", 0, 28},
        {"<img src=/dev/zero>", "unable to open IMG", 0, 19},
        {std::string(65536, 'w'), "word too long", 0, 65536},
    };
    qortest::TempDir dir;
    for (const Case& k : cases) {
        Compiled c = compileSource(dir, k.source);
        EXPECT_FALSE(c.ok) << k.source;
        EXPECT_STREQ(c.err.message.get(), k.message) << k.source;
        EXPECT_EQ(c.err.line, k.line) << k.source;
        EXPECT_EQ(c.err.column, k.column) << k.source;
        EXPECT_EQ(std::string(c.err.file.get() ? c.err.file.get() : ""), dir.file("src.hdl")) << k.source;
    }
}

// Pictures are taken in any format the picture factory recognises and kept
// as the file's bytes; a file no decoder accepts is refused, and so is one
// that is recognised but does not decode, which would leave a document the
// loader refuses whole.
TEST_F(HdlCompiler, PictureOfAnyFactoryFormatIsEmbeddedWhole) {
    qortest::TempDir dir;
    std::string ppm = "P6\n2 1\n255\n";
    ppm += std::string("\x10\x20\x30\x40\x50\x60", 6);
    qortest::writeFile(dir.file("pic.ppm"), ppm);
    qortest::writeFile(dir.file("junk.bin"), "not a picture at all");
    Compiled c = compileSource(dir, "<img src=./pic.ppm>");
    ASSERT_TRUE(c.ok) << c.err.message.get();
    // 17 bytes of file after their u32 length.
    std::string entry = std::string("\x11\0\0\0", 4) + ppm;
    EXPECT_EQ(c.bytes.substr(c.bytes.size() - entry.size()), entry);
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                            static_cast<long long>(c.bytes.size())));
    ASSERT_EQ(loader.pictureCount(), 1u);
    EXPECT_EQ(loader.picture(0)->raw()[1] & 0xFFFFFFu, 0x405060u);

    c = compileSource(dir, "<img src=./junk.bin>");
    EXPECT_FALSE(c.ok);
    EXPECT_STREQ(c.err.message.get(), "unable to recognize IMG");

    // A camera's raw header over text, and the picture above cut inside its
    // last pixel: recognised by their first bytes, neither decodes.
    qortest::writeFile(dir.file("raw.raf"), "FUJIFILMt f=ext f=std,13 a=cb>y2 @=c>Hi <b>you</b>");
    qortest::writeFile(dir.file("cut.ppm"), ppm.substr(0, ppm.size() - 2));
    for (const char* src : {"<img src=./raw.raf>", "<img src=./cut.ppm>", "<img src=./pic.ppm><img src=./raw.raf>"}) {
        c = compileSource(dir, src);
        EXPECT_FALSE(c.ok) << src;
        EXPECT_STREQ(c.err.message.get(), "unable to load IMG") << src;
    }
}

TEST_F(HdlCompiler, NestingIsBoundedAtSixtyFourOpenSections) {
    qortest::TempDir dir;
    std::string open64, open65;
    for (int i = 0; i < 64; ++i) open64 += "<b>";
    open65 = open64 + "<i>";
    Compiled c = compileSource(dir, open64);
    EXPECT_STREQ(c.err.message.get(), "termination on opened tag");
    c = compileSource(dir, open65);
    EXPECT_STREQ(c.err.message.get(), "tags nested too deeply");
    EXPECT_EQ(c.err.column, 195);

    // Sixty-four nested boxes compile and load; the loader's own bound is the
    // same.
    std::string boxes;
    for (int i = 0; i < 64; ++i) boxes += "<text>";
    boxes += "deep";
    for (int i = 0; i < 64; ++i) boxes += "</text>";
    c = compileSource(dir, boxes);
    ASSERT_TRUE(c.ok) << c.err.message.get();
    cSiDocLoader loader;
    EXPECT_TRUE(loader.load(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                            static_cast<long long>(c.bytes.size())));
}

// The loader holds the boxes of every language and the records of one
// within its budget: a number of one-letter words (27 record bytes each)
// whose boxes fit once but not twice compiles in one language and not in
// two.
TEST_F(HdlCompiler, DocumentPastTheLoadersBudgetFailsToCompile) {
    qortest::TempDir dir;
    const std::size_t box = cSiDocLoader::boxCost(0, 1);
    const std::size_t count = kMaxHdocHeldBytes / (box * 3 / 2 + 27);
    std::string words;
    for (std::size_t i = 0; i < count; ++i) words += "a ";
    qortest::writeFile(dir.file("a.hdl"), words);
    qortest::writeFile(dir.file("index.txt"), "ENG=\"./a.hdl\"\nRUS=\"./a.hdl\"\n");
    Compiled c = compileIndex(dir.file("index.txt"));
    EXPECT_FALSE(c.ok);
    EXPECT_STREQ(c.err.message.get(), "document too large");
    qortest::writeFile(dir.file("index.txt"), "ENG=\"./a.hdl\"\n");
    c = compileIndex(dir.file("index.txt"));
    EXPECT_TRUE(c.ok);
}

TEST_F(HdlCompiler, FontStoreThatCannotMakeTheFaceFailsTheBox) {
    qortest::TempDir dir;
    __setSiDocFaceHooks([]() -> const char* { return "missing"; }, nullptr);
    Compiled c = compileSource(dir, "<text f=std,12>x</text>");
    __setSiDocFaceHooks(nullptr, nullptr);
    EXPECT_STREQ(c.err.message.get(), "bad font");
    c = compileSource(dir, "<text f=FIXED,12,4,BiU>x</text>");
    ASSERT_TRUE(c.ok) << c.err.message.get();
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(reinterpret_cast<const unsigned char*>(c.bytes.data()),
                            static_cast<long long>(c.bytes.size())));
    const cSiDocLoader::sIntFontDef* f = loader.fontDef(0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->face, 1);
    EXPECT_EQ(f->width, 4);
    EXPECT_EQ(f->height, 12);
    EXPECT_TRUE(f->bold && f->italic && f->underline);
}

TEST_F(HdlCompiler, EmptySourceIsTheRootEndByteAlone) {
    sHDLConfig config;
    config.lang = 3;
    ASSERT_TRUE(processHDL(config, ""));
    EXPECT_EQ(config.langs[3].stream, std::string("\xFF", 1));
    // Compiling the language again replaces its stream.
    ASSERT_TRUE(processHDL(config, "  \n "));
    EXPECT_EQ(config.langs[3].stream, std::string("\xFF", 1));
}

TEST_F(HdlCompiler, IndexErrorsCarryTheirLine) {
    struct Case {
        const char* text;
        const char* message;
        int line;
    } cases[] = {
        {"eng = \"./a.hdl\" x", "not expected anything after file path", 0},
        {"DEU=\"a\"\n\nDEU=\"b\"", "lang already defined", 2},
        {"\nXYZ=\"a\"", "invalid lang code", 1},
        {"ENG \"a\"", "expected EQ sign after lang code", 0},
        {"ENG = a", "expected openning QUOTE sign after EQ", 0},
        {"ENG = \"a\n\"", "expected openning QUOTE sign after end of path", 0},
    };
    for (const Case& k : cases) {
        cHDLParser parser;
        parser.langSearchInit();
        std::map<int, std::string> paths;
        cHDLParser::sErrInfo err;
        EXPECT_FALSE(parser.parseIndexFile(k.text, paths, err)) << k.text;
        EXPECT_STREQ(err.message.get(), k.message) << k.text;
        EXPECT_EQ(err.line, k.line) << k.text;
    }
    cHDLParser parser;
    parser.langSearchInit();
    std::map<int, std::string> paths;
    cHDLParser::sErrInfo err;
    ASSERT_TRUE(parser.parseIndexFile("  tur = \"/x/t.hdl\"  \r\n\nkor=\"\"", paths, err));
    EXPECT_EQ(paths, (std::map<int, std::string>{{4, ""}, {10, "/x/t.hdl"}}));
}

TEST_F(HdlCompiler, DriverFailuresNameTheFileAtFault) {
    qortest::TempDir dir;
    Compiled c = compileIndex(dir.file("none.txt"));
    EXPECT_STREQ(c.err.message.get(), "Unable to open index");
    qortest::writeFile(dir.file("index.txt"), "ENG=\"./missing.hdl\"");
    c = compileIndex(dir.file("index.txt"));
    EXPECT_STREQ(c.err.message.get(), "Unable to open source file");
    EXPECT_STREQ(c.err.file.get(), dir.file("missing.hdl").c_str());
    // A named pipe is refused rather than waited on.
    ASSERT_EQ(mkfifo(dir.file("pipe.hdl").c_str(), 0600), 0);
    qortest::writeFile(dir.file("index.txt"), "ENG=\"./pipe.hdl\"");
    c = compileIndex(dir.file("index.txt"));
    EXPECT_STREQ(c.err.message.get(), "Unable to open source file");
    qortest::writeFile(dir.file("index.txt"), "ENG=\"./src.hdl\"");
    qortest::writeFile(dir.file("src.hdl"), "ab");
    c = compileIndex(dir.file("index.txt"));
    EXPECT_STREQ(c.err.message.get(), "Unable to read source as text file");
}

// UTF-8 with and without its mark, UTF-16LE and UTF-16BE with theirs, each
// written by Python's codecs, compile to one and the same document.
TEST_F(HdlCompiler, SourcesInEveryEncodingCompileAlike) {
    qortest::TempDir dir;
    const char* maker = R"(
import sys
d = sys.argv[1]
text = 'Grüße <b>мир</b> 日本 \U0001F600 <link ref="ü">x</link>\n'
open(d + '/u8.hdl', 'wb').write(text.encode('utf-8'))
open(d + '/u8bom.hdl', 'wb').write(text.encode('utf-8-sig'))
open(d + '/le.hdl', 'wb').write(b'\xff\xfe' + text.encode('utf-16-le'))
open(d + '/be.hdl', 'wb').write(b'\xfe\xff' + text.encode('utf-16-be'))
)";
    int st = -1;
    qortest::runPython(maker, dir.path(), &st);
    ASSERT_EQ(st, 0);
    std::string reference;
    for (const char* name : {"u8.hdl", "u8bom.hdl", "le.hdl", "be.hdl"}) {
        qortest::writeFile(dir.file("index.txt"), std::string("ENG=\"./") + name + "\"");
        Compiled c = compileIndex(dir.file("index.txt"));
        ASSERT_TRUE(c.ok) << name << ": " << c.err.message.get();
        if (reference.empty())
            reference = c.bytes;
        else
            EXPECT_EQ(c.bytes, reference) << name;
    }
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(reinterpret_cast<const unsigned char*>(reference.data()),
                            static_cast<long long>(reference.size())));
    cSiDocContainer* root = loader.forLang(0);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->count(), 5u);
    EXPECT_STREQ(static_cast<cSiDocText*>(root->child(0))->text(), "Grüße");
    EXPECT_STREQ(static_cast<cSiDocText*>(root->child(1))->text(), "мир");
    EXPECT_STREQ(static_cast<cSiDocText*>(root->child(3))->text(), "\xF0\x9F\x98\x80");
    EXPECT_STREQ(loader.linkTarget(0), "ü");
}

}  // namespace

namespace {

// Sources that once crashed, hung or ran away with memory: each compiles or
// fails with a message, and what compiles loads.
TEST(HdlCompilerMalformed, SavedSourcesCompileOrFailCleanly) {
    qortest::cFixedFont::install();
    // 100000 opened tags: refused for their depth.
    const std::string folder = qortest::dataPath("hdl/malformed");
    const std::pair<std::string, const char*> kept[] = {{"deep-nesting-100000", "tags nested too deeply"}};
    std::vector<std::string> names;
    for (const auto& k : kept) names.push_back(k.first);
    EXPECT_TRUE(qortest::holdsInputs(folder, names));
    for (const auto& [name, why] : kept) {
        std::string text = qortest::readFile(folder + "/" + name);
        sHDLConfig config;
        config.lang = 0;
        EXPECT_FALSE(processHDL(config, text.c_str())) << name;
        ASSERT_NE(config.errMessage.get(), nullptr) << name;
        EXPECT_NE(std::string(config.errMessage.get()).find(why), std::string::npos) << config.errMessage.get();
    }
}

}  // namespace
