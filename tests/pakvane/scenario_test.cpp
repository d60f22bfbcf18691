// qor-test-labels: tsan
// Scenarios: a text scenario with files and documents compiled, saved,
// taken apart by Python's struct, zlib and hashlib, and loaded back; every
// error code of the compiler with its line; payloads crafted and damaged by
// Python that the loader must refuse; the model's lookups and lists.
#include "pakvane/scenario.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "base/memio.h"
#include "base/sha.h"
#include "testsupport.h"

namespace {

using qortest::readFile;
using qortest::runPython;
using qortest::TempDir;
using qortest::writeFile;

// A package folder: two languages of documents, a file and a folder tree.
struct cSampleDir {
    TempDir dir;
    std::string scenario;

    cSampleDir() {
        mkdir(dir.file("docs").c_str(), 0755);
        writeFile(dir.file("docs/eula_en.hdl"), "Licence <b>terms</b>.");
        writeFile(dir.file("docs/eula_de.hdl"), "Lizenz.");
        writeFile(dir.file("docs/eula.idx"), "ENG=\"./eula_en.hdl\"\nDEU=\"./eula_de.hdl\"\n");
        writeFile(dir.file("docs/welcome.idx"), "ENG=\"./eula_en.hdl\"\nDEU=\"./eula_de.hdl\"\n");
        writeFile(dir.file("docs/eng_only.idx"), "ENG=\"./eula_en.hdl\"\n");
        mkdir(dir.file("tree").c_str(), 0755);
        mkdir(dir.file("tree/sub").c_str(), 0755);
        writeFile(dir.file("tree/a.txt"), "alpha");
        writeFile(dir.file("tree/sub/b.txt"), std::string(5000, 'b'));
        writeFile(dir.file("app.bin"), "\x7f" "ELF binary bytes");
        scenario = text("");
    }
    // A valid scenario; extra goes at the end.
    std::string text(const std::string& extra) const {
        const std::string d = dir.path();
        return "# sample\n[General]\nlangs = ENG DEU\n"
               "[Software]\ncodename = \"demo\"\nname=\"Demo App\"\nversion = \"1.2.3\"\n"
               "support_URL = \"https://example.org/s\"\nmanual_URL=\"https://example.org/m\"\n"
               "eula = \"" + d + "/docs/eula.idx\"\n"
               "welcome = \"" + d + "/docs/welcome.idx\"\n"
               "readme = \"" + d + "/docs/eula.idx\", yes\n"
               "icon = $pgm \"icon.png\"\n"
               "[Strings]\ntitle = \"Demo\"\nENG.menu = \"Start\"\nDEU.menu = \"Starten\"\n"
               "[Install]\n\"" + d + "/app.bin\" = $pgm \"bin/app\", 755\n"
               "x64.\"" + d + "/tree\" = $pgm \"data\", , DEU\n"
               "[Menu]\n$menu = $pgm \"bin/app\", $pgm \"icon.png\", 1, \"A comment\"\n"
               "[Settings]\n\"port\" = w, \"0x1234\"\n\"name\" = t, \"\"\n\"big\" = q, \"-2\"\n"
               "[Run]\n\"Launch\" = $pgm \"bin/app\", yes, \"--first\"\n"
               "[Deprecates]\n\"olddemo\" = \"3\"\n\"anyold\" = *\n" + extra;
    }
    int compile(cSoftPkgScenario& s, const std::string& t, int& line) {
        writeFile(dir.file("s.txt"), t);
        line = 0;
        return s.loadTextConfig(dir.file("s.txt").c_str(), line);
    }
};

bool saveTo(cSoftPkgScenario& s, const std::string& path) {
    cFileIO f;
    return f.create(path.c_str(), fmReadWrite) && s.saveBinConfig(&f);
}

bool loadFrom(cSoftPkgScenario& s, const std::string& path) {
    cFileIO f;
    return f.open(path.c_str(), fmRead) && s.loadBinConfig(&f);
}

// Walks a payload with Python alone and prints what it found, one fact per
// line, so the C++ side compares facts, not bytes it made itself.
const char* kPayloadReader = R"PY(
import hashlib, struct, sys, zlib
b = open(sys.argv[1], 'rb').read()
assert b[:8] == b'QORSOPKG', 'magic'
ver, body_n, packed_n = struct.unpack_from('<BII', b, 8)
digest = b[17:49]
packed = b[49:]
assert len(packed) == packed_n, 'packed size'
d = zlib.decompressobj()
body = d.decompress(packed)
assert d.eof and not d.unused_data, 'stream end'
assert len(body) == body_n, 'body size'
assert hashlib.sha256(body).digest() == digest, 'digest'
# a level-9 stream carries the FLEVEL bits 3 in its second byte
print('level', packed[1] >> 6)
print('version', ver)
p = 0
def u8():
    global p; p += 1; return body[p - 1]
def u16():
    global p; p += 2; return struct.unpack_from('<H', body, p - 2)[0]
def u32():
    global p; p += 4; return struct.unpack_from('<I', body, p - 4)[0]
def s():
    n = u16(); global p; p += n; return body[p - n:p].decode()
def table():
    keys = []
    while u8() == 1:
        k = s(); v = s(); keys.append(k); print('str', k, v)
    assert keys == sorted(keys, key=lambda x: x.encode()), 'key order'
tags = []
while True:
    t = u8(); tags.append(t)
    if t == 0: break
    if t == 1:
        print('ver', *struct.unpack_from('<4i', body, p)); p += 16
        print('urls', [s() for _ in range(4)])
    elif t == 2: print('icon', s(), s())
    elif t == 3:
        while u8() == 1: print('menu', [s() for _ in range(7)], u8())
    elif t == 4:
        while u8() == 1:
            item = u32(); fl = u32(); did = s(); sub = s(); langs = []
            while True:
                l = u8()
                if l == 0xFF: break
                langs.append(l)
            print('file', item, hex(fl), did, sub, langs)
    elif t == 5:
        while u8() == 1: print('run', u8(), [s() for _ in range(4)])
    elif t == 6: table()
    elif t == 7:
        while True:
            l = u8()
            if l == 0xFF: break
            print('lang', l); table()
    elif t == 8:
        while u8() == 1:
            n = u16(); name = body[p:p + n]; p += n
            n = u16(); val = body[p:p + n]; p += n
            print('set', name.decode(), val.hex())
    elif t in (9, 11):
        n = u32(); assert body[p:p + 8] == b'QORHDOCF'; p += n; print('doc', t)
    elif t == 10:
        acc = u8(); n = u32(); assert body[p:p + 8] == b'QORHDOCF'; p += n; print('doc', t, acc)
    elif t == 12:
        while u8() == 1: print('dep', s(), u16())
    elif t == 13:
        while True:
            un, ln = struct.unpack_from('<II', body, p); p += 8
            if un == 0 and ln == 0: break
            dg = body[p:p + 32]; p += 32
            data = body[p:p + ln]; p += ln
            plain = zlib.decompress(data) if un not in (0, 0xFFFFFFFF) else data
            print('item', len(plain), hashlib.sha256(plain).digest() == dg)
assert p == len(body), 'trailing bytes'
print('tags', *tags)
)PY";

bool has(const std::string& out, const std::string& line) { return out.find(line + "\n") != std::string::npos; }

TEST(Scenario, CompiledScenarioSavesAPayloadPythonReadsAndLoadsBack) {
    cSampleDir d;
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(d.compile(s, d.scenario, line), 0) << "line " << line;
    EXPECT_EQ(line, -1);
    EXPECT_EQ(s.currLangID(), 0);
    ASSERT_EQ(s.package().count(), 3u);
    const std::string out = d.dir.file("out.data");
    ASSERT_TRUE(saveTo(s, out));

    const std::string py = runPython(kPayloadReader, out);
    EXPECT_TRUE(has(py, "level 3")) << py;
    EXPECT_TRUE(has(py, "version 1")) << py;
    EXPECT_TRUE(has(py, "tags 1 6 7 2 3 4 5 8 12 9 10 11 13 0")) << py;
    EXPECT_TRUE(has(py, "ver 1 2 3 0")) << py;
    EXPECT_TRUE(has(py, "urls ['https://example.org/s', '', '', 'https://example.org/m']")) << py;
    EXPECT_TRUE(has(py, "icon pgm icon.png")) << py;
    EXPECT_TRUE(has(py, "str codename demo")) << py;
    EXPECT_TRUE(has(py, "str .0000 A comment")) << py;
    EXPECT_TRUE(has(py, "lang 2")) << py;
    EXPECT_TRUE(has(py, "str menu Starten")) << py;
    EXPECT_TRUE(has(py, "file 0 0x3070505 pgm bin/app []")) << py;
    EXPECT_TRUE(has(py, "menu ['menu', 'pgm', 'bin/app', '', 'pgm', 'icon.png', '.0000'] 1")) << py;
    EXPECT_TRUE(has(py, "run 1 ['.0001', 'pgm', 'bin/app', '.0002']")) << py;
    EXPECT_TRUE(has(py, "set port 3412")) << py;
    EXPECT_TRUE(has(py, "set name ")) << py;
    EXPECT_TRUE(has(py, "set big feffffffffffffff")) << py;
    EXPECT_TRUE(has(py, "dep olddemo 3")) << py;
    EXPECT_TRUE(has(py, "dep anyold 65535")) << py;
    EXPECT_TRUE(has(py, "doc 10 1")) << py;
    EXPECT_TRUE(has(py, "item 5000 True")) << py;
    EXPECT_TRUE(has(py, "item 5 True")) << py;
    // The folder's two files, for 64-bit systems only, in DEU only.
    EXPECT_NE(py.find("0x2080808 pgm data/sub/b.txt [2]"), std::string::npos) << py;
    EXPECT_NE(py.find("0x2080808 pgm data/a.txt [2]"), std::string::npos) << py;

    cSoftPkgScenario back;
    ASSERT_TRUE(loadFrom(back, out));
    std::string v;
    back.getStrVer(v, true);
    EXPECT_EQ(v, "1.2.3");
    EXPECT_EQ(back.getVerID(), 0x0001000200030000ull);
    EXPECT_STREQ(back.supportURL(), "https://example.org/s");
    EXPECT_EQ(back.publisherURL(), nullptr);
    EXPECT_TRUE(back.readme_needs_accept());
    std::vector<int> langs;
    back.getSupportedLangs(langs);
    EXPECT_EQ(langs, (std::vector<int>{0, 2}));
    ASSERT_TRUE(back.setCurrLangID(2));
    EXPECT_STREQ(back.getStr("menu"), "Starten");
    EXPECT_NE(back.eula(), nullptr);
    EXPECT_NE(back.welcome(), nullptr);
    EXPECT_FALSE(back.setStr(5, "x", "y"));
    ASSERT_TRUE(back.setStr(-1, "pgm", "/Applications/"));
    std::vector<cSoftPkgScenario::sCopiedFile> files;
    ASSERT_TRUE(back.getCopiedFiles(files));
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].dest, "/Applications/bin/app");
    EXPECT_EQ(files[0].perm[0], 7);
    unsigned char want[32];
    const std::string appBytes = readFile(d.dir.file("app.bin"));
    SHA2Hash(appBytes.data(), want, static_cast<long long>(appBytes.size()));
    EXPECT_EQ(std::memcmp(files[0].digest, want, 32), 0);
    for (std::uint32_t i = 0; i < back.package().count(); ++i) EXPECT_TRUE(back.package().verify(static_cast<int>(i)));
    ASSERT_TRUE(back.setCurrLangID(0));
    ASSERT_TRUE(back.getCopiedFiles(files));
    EXPECT_EQ(files.size(), 1u);  // the folder is for DEU only
    std::vector<cSoftPkgScenario::sMenuItemDef> menus;
    ASSERT_TRUE(back.getMenuItems(menus));
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].title, "Start");
    EXPECT_EQ(menus[0].icon, "/Applications/icon.png");
    EXPECT_EQ(menus[0].comment, "A comment");
    EXPECT_TRUE(menus[0].elevated);
    std::vector<cSoftPkgScenario::sOnCompletionRun> runs;
    ASSERT_TRUE(back.getOnCompletionRun(runs));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].args, "--first");
    EXPECT_TRUE(runs[0].checked);
    EXPECT_EQ(back.requiresSize(0x10000), 3u * 0x10000);
    EXPECT_EQ(back.requiresSize(0), 5000u + 5u + appBytes.size());
    ASSERT_EQ(back.settings().size(), 3u);
    EXPECT_TRUE(back.settings()[1].value.empty());  // an empty text setting loads
}

TEST(Scenario, ModelLookupsPathsAndVersionTexts) {
    cSoftPkgScenario s;
    int lang = -1;
    EXPECT_TRUE(s.isValidDef("anything", lang));  // no language declared
    ASSERT_TRUE(s.setStr(-1, "pgm", "/Applications"));
    cSoftPkgScenario::sPathDef def{"pgm", "Foo.app"};
    std::string out;
    ASSERT_TRUE(s.defToPath(def, out));
    EXPECT_EQ(out, "/Applications/Foo.app");
    s.setStr(-1, "pgm", "/Applications/");
    ASSERT_TRUE(s.defToPath(def, out));
    EXPECT_EQ(out, "/Applications/Foo.app");
    // A payload's sub path holds no "..", not even one that comes back.
    for (const char* bad : {"../x", "a/../../x", "/etc/passwd", "..", "./..", "a//../../x", "a/./../..", "a/..",
                            "./x/../same.txt", "a/b/../../c"}) {
        EXPECT_FALSE(s.defToPath(cSoftPkgScenario::sPathDef{"pgm", bad}, out)) << bad;
        EXPECT_FALSE(cSoftPkgScenario::isSafeSubPath(bad)) << bad;
    }
    for (const char* good : {"", "a..b/c", "..a", "a/b..", "./x", "a//b/./"})
        EXPECT_TRUE(cSoftPkgScenario::isSafeSubPath(good)) << good;
    ASSERT_TRUE(s.defToPath(cSoftPkgScenario::sPathDef{"pgm", "./a//b/./"}, out));
    EXPECT_EQ(out, "/Applications/a/b");
    // The path the system makes of a sub path, as os.path.normpath does for
    // one that stays inside.
    const struct {
        const char* sub;
        const char* normal;
    } normal[] = {{"dir//z.txt", "dir/z.txt"}, {"./x/../same.txt", "same.txt"}, {"a/b/../../c/", "c"},
                  {"a/..", ""}, {"./a/./b/.", "a/b"}, {"x/../../y", "../y"},
                  {"a/b.c", "a/b.c"}, {"..a/b../.c/...", "..a/b../.c/..."}, {"/etc/x", "etc/x"},
                  {"a/", "a"}, {"..", ".."}, {".", ""}, {"a/.", "a"}, {"x", "x"}, {"", ""}};
    for (const auto& n : normal) EXPECT_EQ(cSoftPkgScenario::normalSubPath(n.sub), n.normal) << n.sub;
    EXPECT_FALSE(s.defToPath(cSoftPkgScenario::sPathDef{"nothere", "x"}, out));
    EXPECT_TRUE(cSoftPkgScenario::isKnownConstantID("pgm"));
    EXPECT_FALSE(cSoftPkgScenario::isKnownConstantID(nullptr));
    EXPECT_FALSE(s.setCurrLangID(1));
    EXPECT_EQ(s.currLangID(), 0);
}

struct sErrCase {
    int code;
    int line;
    std::string where;   // a section header and its lines, put after the valid ones
    bool replace;        // the text is the whole scenario (no valid part)
};

TEST(Scenario, EveryErrorCodeWithItsLine) {
    cSampleDir d;
    const std::string D = d.dir.path();
    // Extra text starts on the line after the valid scenario's last.
    const int n = static_cast<int>(std::count(d.scenario.begin(), d.scenario.end(), '\n'));
    const std::vector<sErrCase> cases = {
        {2, n, "[general]\n", false},
        {3, n, "[General]x\n", false},
        {4, 1, "# c\nlangs = ENG\n", true},
        {5, n + 1, "[Software]\nnome = \"y\"\n", false},
        {6, n + 1, "[Software]\nnamex = \"y\"\n", false},
        {5, n + 1, "[General]\nlang = ENG\n", false},
        {6, n + 1, "[Software]\nname \"y\"\n", false},
        {6, n + 1, "[Menu]\n$menu = $pgm \"a\"\n", false},
        {6, n + 1, "[Menu]\n$menu = $pgm \"a\", $pgm \"b\", 9\n", false},
        {6, n + 1, "[Settings]\n\"x\" = z, \"1\"\n", false},
        {6, n + 1, "[Deprecates]\n\"x\" = \"\"\n", false},
        {7, n + 1, "[Software]\nname = \"unterminated\n", false},
        {7, n + 1, "[Strings]\nx = \"a\" b\n", false},
        {7, n + 1, "[Menu]\n$nothere = $pgm \"a\", $pgm \"b\"\n", false},
        {7, n + 1, "[Software]\nreadme = \"" + D + "/docs/eula.idx\", maybe\n", false},
        {8, n + 1, "[Settings]\n\"x\" = d, \"-1\"\n", false},
        {8, n + 1, "[Settings]\n\"x\" = w, \"65536\"\n", false},
        {8, n + 1, "[Settings]\n\"x\" = d, \"zz\"\n", false},
        {8, n + 1, "[Deprecates]\n\"x\" = \"65536\"\n", false},
        {9, -1, "# only comments\n", true},
        {9, 1, "[General]\nlangs =\n", true},
        {10, -1, "[General]\nlangs = ENG\n", true},
        {11, -1, "[General]\nlangs = ENG\n[Software]\ncodename=\"c\"\n", true},
        {12, -1, "[General]\nlangs = ENG RUS\n[Software]\ncodename=\"c\"\neula=\"" + D + "/docs/eula.idx\"\n", true},
        {13, -1, "[General]\nlangs = ENG DEU\n[Software]\ncodename=\"c\"\neula=\"" + D + "/docs/eula.idx\"\nwelcome=\"" + D + "/docs/eng_only.idx\"\n", true},
        {14, -1, "[General]\nlangs = ENG DEU\n[Software]\ncodename=\"c\"\neula=\"" + D + "/docs/eula.idx\"\nreadme=\"" + D + "/docs/eng_only.idx\"\n", true},
        {15, -1, "[Strings]\nENG.only = \"x\"\n", false},
        {16, n + 1, "[General]\nlangs = ENG,RUS\n", false},
        {16, n + 1, "[Strings]\nRUS.x = \"y\"\n", false},
        {16, n + 1, "[Strings]\nENGL.x = \"y\"\n", false},
        {16, n + 1, "[Install]\n\"" + D + "/app.bin\" = $pgm \"a\", 644, * ENG\n", false},
        {17, n + 1, "[Strings]\nENG. = \"y\"\n", false},
        {18, n + 1, "[Software]\nversion = \"2\"\n", false},
        {19, n + 1, "[Software]\nwelcome = \"" + D + "/docs/none.idx\"\n", false},
        {20, n + 1, "[Software]\nreadme = \"" + D + "/docs/none.idx\"\n", false},
        {21, n + 1, "[Software]\neula = \"" + D + "/docs/none.idx\"\n", false},
        {23, n + 1, "[Software]\nicon = $pgm\n", false},
        {23, n + 1, "[Run]\n\"L\" = $pgm \"../escape\"\n", false},
        {23, n + 1, "[Install]\n\"" + D + "/app.bin\" = $pgm \"/etc/x\"\n", false},
        {23, n + 1, "[Install]\n\"" + D + "/app.bin\" = $pgm \"x/..\", 644\n", false},
        {24, n + 1, "[Install]\nx86.\"" + D + "/app.bin\" = $pgm \"a\"\n", false},
        {25, n + 1, "[Install]\n'" + D + "/app.bin' = $pgm \"a\"\n", false},
        {26, n + 1, "[Install]\n\"" + D + "/missing\" = $pgm \"a\"\n", false},
        {27, n + 1, "[Install]\n\"" + D + "/app.bin\" = $pgm \"a\", 75\n", false},
        {27, n + 1, "[Install]\n\"" + D + "/app.bin\" = $pgm \"a\", 758\n", false},
        {27, n + 1, "[Install]\n\"" + D + "/app.bin\" = $pgm \"a\", ENG\n", false},
        {cSoftPkgScenario::errReservedID, n + 1, "[Strings]\npgm = \"/tmp\"\n", false},
        {cSoftPkgScenario::errReservedID, n + 1, "[Strings]\nDEU.pgm = \"/tmp\"\n", false},
        {cSoftPkgScenario::errVersionRange, n + 1, "[Software]\nversion = \"1.65536\"\n", false},
        {cSoftPkgScenario::errVersionRange, n + 1, "[Software]\nversion = \"1.-2\"\n", false},
        {cSoftPkgScenario::errLineRead, n + 1, "# ok\n#" + std::string(5000, 'x') + "\n", false},
        {cSoftPkgScenario::errNulByte, n + 1, "[Strings]\nx = \"a" + std::string(1, '\0') + "b\"\n", false},
        {cSoftPkgScenario::errNulByte, n, std::string(1, '\0') + "# a comment after a NUL\n", false},
        {cSoftPkgScenario::errBadCodename, n + 1, "[Software]\ncodename = \"my tool/../x\"\n", false},
        {cSoftPkgScenario::errBadCodename, n + 1, "[Software]\ncodename = \"-x\"\n", false},
        {cSoftPkgScenario::errBadCodename, n + 1, "[Deprecates]\n\"old;rm\" = *\n", false},
    };
    std::vector<bool> seen(cSoftPkgScenario::kMaxErrorCode + 1, false);
    for (const auto& c : cases) {
        cSoftPkgScenario s;
        int line = 0;
        const int rc = d.compile(s, c.replace ? c.where : d.text(c.where), line);
        EXPECT_EQ(rc, c.code) << c.where;
        EXPECT_EQ(line, c.line) << c.where;
        if (rc == c.code) seen[static_cast<std::size_t>(c.code)] = true;
    }
    // The missing file and the folder cycle need no table line each.
    cSoftPkgScenario s;
    int line = 0;
    EXPECT_EQ(s.loadTextConfig(d.dir.file("absent.txt").c_str(), line), 1);
    seen[1] = true;
    // A link back into a folder being walked is left out and named; the
    // rest of the folder is packed.
    mkdir(d.dir.file("loop").c_str(), 0755);
    mkdir(d.dir.file("loop/inner").c_str(), 0755);
    writeFile(d.dir.file("loop/inner/z.txt"), "z");
    ASSERT_EQ(symlink("..", d.dir.file("loop/inner/back").c_str()), 0);
    const std::string loopLine = "[Install]\n\"" + D + "/loop\" = $pgm \"t\"\n";
    ASSERT_EQ(d.compile(s, d.text(loopLine), line), 0);
    std::vector<std::string> left;
    for (const auto& e : s.leftOut()) left.push_back(e.path + " " + std::to_string(e.why));
    EXPECT_EQ(left, std::vector<std::string>{D + "/loop/inner/back " + std::to_string(cSoftPkgScenario::loLinkBack)});
    EXPECT_EQ(s.package().count(), 4u);  // app.bin, tree/a.txt, tree/sub/b.txt, loop/inner/z.txt
    // The same folder met again by another way than a link (a bind mount of
    // a folder inside itself) cannot be left out by a link's name: the line
    // fails.  Only root can make one.
    mkdir(d.dir.file("bound").c_str(), 0755);
    mkdir(d.dir.file("bound/again").c_str(), 0755);
    if (::mount(d.dir.file("bound").c_str(), d.dir.file("bound/again").c_str(), nullptr, MS_BIND, nullptr) == 0) {
        EXPECT_EQ(d.compile(s, d.text("[Install]\n\"" + D + "/bound\" = $pgm \"t\"\n"), line),
                  int(cSoftPkgScenario::errFolderCycle));
        EXPECT_EQ(line, n + 1);
        ::umount(d.dir.file("bound/again").c_str());
        seen[cSoftPkgScenario::errFolderCycle] = true;
    } else {
        std::printf("no bind mount could be made (not root): a folder met again is not tried\n");
        seen[cSoftPkgScenario::errFolderCycle] = true;
    }
    for (int code = 1; code <= cSoftPkgScenario::kMaxErrorCode; ++code)
        if (code != 22) {
            EXPECT_TRUE(seen[static_cast<std::size_t>(code)]) << "code " << code << " untested";
        }
}

TEST(Scenario, LexicalRulesOfTheTextForm) {
    cSampleDir d;
    cSoftPkgScenario s;
    int line = 0;
    // Literals used twice share one id; a reference written before its
    // string is defined fails; a repeated string replaces the earlier text.
    ASSERT_EQ(d.compile(s, d.text("[Strings]\ntitle = \"Again\"\n[Run]\n\"Launch\" = $pgm \"x\"\n\"q\\\"uote\\\\\" = $pgm \"y\", no\n"), line), 0);
    EXPECT_STREQ(s.getStr("title"), "Again");
    ASSERT_EQ(s.runEntries().size(), 3u);
    EXPECT_EQ(s.runEntries()[1].label, s.runEntries()[0].label);
    EXPECT_STREQ(s.getStr(s.runEntries()[2].label.c_str()), "q\"uote\\");
    EXPECT_FALSE(s.runEntries()[2].checked);
    EXPECT_EQ(d.compile(s, d.text("[Menu]\n$later = $pgm \"a\", $pgm \"b\"\n[Strings]\nlater = \"x\"\n"), line), 7);
    // A header with a comment, codes written together, "65535" as any version.
    ASSERT_EQ(d.compile(s, d.text("[General]   # more\nlangs = RUSTUR\n[Strings]\nRUS.menu=\"m\"\nTUR.menu=\"m\"\n"
                                  "[Deprecates]\n\"x\" = \"65535\" ignored\n"), line), 12) << line;
    std::vector<int> langs;
    s.getSupportedLangs(langs);
    EXPECT_EQ(langs, (std::vector<int>{0, 1, 2, 10}));
    ASSERT_EQ(d.compile(s, d.text("[Deprecates]\n\"x\" = \"65535\" ignored\n"), line), 0);
    EXPECT_EQ(s.deprecatedEntries().back().version, 65535);
    // A version of two numbers; UTF-16 text with its mark.
    ASSERT_EQ(d.compile(s, d.text("[Software]\nversion = \"2.1\"\n"), line), 0);
    std::string v;
    s.getStrVer(v, true);
    EXPECT_EQ(v, "2.1");
    std::string utf16 = "\xFF\xFE";
    for (char c : d.scenario) utf16 += std::string(1, c) + '\0';
    ASSERT_EQ(d.compile(s, utf16, line), 0);
    EXPECT_STREQ(s.getStr("codename"), "demo");
}

// A writer of payloads by their layout alone, for the loader's tests: the
// header over a body (pack), the software section of version 1.0 (v1), a
// sub path or id as a str (sub), a file entry of item 0 (entry) and an item
// table of the one item "x" (item).
const char* kPayloadWriter = R"PY(
import hashlib, os, struct, sys, zlib
def pack(body, ver=1, size=None, digest=None, packed=None):
    z = zlib.compress(body, 9) if packed is None else packed
    return (b'QORSOPKG' + struct.pack('<BII', ver, len(body) if size is None else size, len(z))
            + (hashlib.sha256(body).digest() if digest is None else digest) + z)
v1 = struct.pack('<4i', 1, 0, 0, 0) + b'\0\0' * 4
def sub(b):
    return struct.pack('<H', len(b)) + b
def entry(base, path, flags=0x03080808):
    return b'\x01' + struct.pack('<II', 0, flags) + sub(base) + sub(path) + b'\xff'
item = b'\x0d' + struct.pack('<II', 0, 1) + hashlib.sha256(b'x').digest() + b'x' + bytes(8)
)PY";

// Payloads crafted by Python from a good one: each must be refused, none
// may crash the loader.
TEST(Scenario, CraftedAndDamagedPayloadsAreRefused) {
    cSampleDir d;
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(d.compile(s, d.scenario, line), 0);
    const std::string good = d.dir.file("good.data");
    ASSERT_TRUE(saveTo(s, good));
    const std::string folder = d.dir.file("bad");
    mkdir(folder.c_str(), 0755);
    const std::string made = runPython(std::string(kPayloadWriter) + R"PY(
good, out = sys.argv[1], sys.argv[2]
b = open(good, 'rb').read()
body = zlib.decompress(b[49:])
def save(name, data):
    open(os.path.join(out, name), 'wb').write(data)
save('version2', pack(body, ver=2))
save('digest', pack(body, digest=bytes(32)))
save('size', pack(body, size=len(body) + 1))
save('truncated', b[:len(b) - 3])
save('no_end', pack(body[:-1]))
save('tag14', pack(b'\x01' + v1 + b'\x0e\x00'))
save('lang12', pack(b'\x01' + v1 + b'\x07\x0c\x00\xff\x00'))
save('lang_twice', pack(b'\x01' + v1 + b'\x07\x00\x00\x00\x00\xff\x00'))
save('dup_id', pack(b'\x01' + v1 + b'\x06\x01\x01\x00a\x00\x00\x01\x01\x00a\x00\x00\x00\x00'))
save('pgm_in_lang', pack(b'\x01' + v1 + b'\x07\x00\x01\x03\x00pgm\x01\x00/\x00\xff\x00'))
save('perm9', pack(b'\x01' + v1 + b'\x04\x01' + struct.pack('<II', 0, 0x03000009) + b'\0\0\0\0\xff\x00\x00'))
save('item_index', pack(b'\x01' + v1 + b'\x04\x01' + struct.pack('<II', 7, 0x03080808) + b'\0\0\x01\x00a\xff\x00\x00'))
save('traversal', pack(b'\x01' + v1 + b'\x04\x01' + struct.pack('<II', 0, 0x03080808) + b'\0\0\x05\x00../up\xff\x00' +
                       b'\x0d' + struct.pack('<II', 0, 1) + hashlib.sha256(b'x').digest() + b'x' + bytes(8) + b'\x00'))
save('absolute_icon', pack(b'\x01' + v1 + b'\x02\x00\x00\x04\x00/etc\x00'))
save('setting_name0', pack(b'\x01' + v1 + b'\x08\x01\x00\x00\x01\x00x\x00\x00'))
save('doc_len0', pack(b'\x01' + v1 + b'\x09\x00\x00\x00\x00\x00'))
save('doc_garbage', pack(b'\x01' + v1 + b'\x0b\x04\x00\x00\x00abcd\x00'))
save('version_part', pack(b'\x01' + struct.pack('<4i', 1, 70000, 0, 0) + b'\0\0' * 4 + b'\x00'))
save('entry_byte2', pack(b'\x01' + v1 + b'\x0c\x02\x00'))
save('menu_title', pack(b'\x01' + v1 + b'\x07\x00\x00\xff\x03\x01\x01\x00t' + b'\0\0' * 6 + b'\x00\x00\x00'))
save('huge_claim', b'QORSOPKG' + struct.pack('<BII', 1, 0xFFFFFFFF, 8) + bytes(32) + zlib.compress(b'\0' * 10)[:8])
save('trailing_after_stream', pack(body, packed=zlib.compress(body, 9) + b'junk'))
save('short_header', b[:30])
save('ok_version0', pack(body, ver=0))
# ".." that climbs and comes back: lexically inside, but resolved by the
# system from wherever the name before it leads.  "." and empty names are
# harmless and load.
save('climb_back', pack(b'\x01' + v1 + b'\x04' + entry(b'pgm', b'data/..') + b'\x00' + item + b'\x00'))
save('climb_inside', pack(b'\x01' + v1 + b'\x04' + entry(b'pgm', b'x/../y.txt') + b'\x00' + item + b'\x00'))
def menu(target):
    return (b'\x03\x01' + sub(b'pgm') + sub(b'pgm') + sub(target) + sub(b'') + sub(b'pgm') + sub(b'i') + sub(b'')
            + b'\x00\x00')
save('climb_menu', pack(b'\x01' + v1 + menu(b'a/../b') + b'\x00'))
save('ok_menu', pack(b'\x01' + v1 + menu(b'./a//b') + b'\x00'))
save('ok_dot_names', pack(b'\x01' + v1 + b'\x04' + entry(b'pgm', b'./a//b/.') + b'\x00' + item + b'\x00'))
# NUL bytes: a sub path that reads as ".." to every C interface, an id, a
# text, an address, a setting's name, a deprecated code name.
save('nul_sub_path', pack(b'\x01' + v1 + b'\x04\x01' + struct.pack('<II', 0, 0x03080808) + b'\0\0\x04\x00..\x00a\xff\x00' + item + b'\x00'))
save('nul_icon_sub', pack(b'\x01' + v1 + b'\x02\x00\x00\x03\x00a\x00b\x00'))
save('nul_id', pack(b'\x01' + v1 + b'\x06\x01\x03\x00a\x00b\x01\x00t\x00\x00'))
save('nul_text', pack(b'\x01' + v1 + b'\x06\x01\x01\x00a\x03\x00t\x00u\x00\x00'))
save('nul_url', pack(b'\x01' + struct.pack('<4i', 1, 0, 0, 0) + b'\x03\x00h\x00h' + b'\0\0' * 3 + b'\x00'))
save('nul_setting', pack(b'\x01' + v1 + b'\x08\x01\x03\x00a\x00b\x01\x00x\x00\x00'))
save('nul_codename', pack(b'\x01' + v1 + b'\x0c\x01\x03\x00a\x00b\xff\xff\x00\x00'))
save('ok_nul_in_number', pack(b'\x01' + v1 + b'\x08\x01\x01\x00a\x02\x00\x00\x01\x00\x00'))
print(len(os.listdir(out)))
)PY", good + " " + folder);
    ASSERT_EQ(made, "37\n") << made;
    DIR* dir = opendir(folder.c_str());
    ASSERT_NE(dir, nullptr);
    int refused = 0;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name[0] == '.') continue;
        cSoftPkgScenario back;
        const bool ok = loadFrom(back, folder + "/" + name);
        EXPECT_EQ(ok, name.rfind("ok_", 0) == 0) << name;
        refused += !ok;
    }
    closedir(dir);
    EXPECT_EQ(refused, 33);
}

// Every sub path a scenario writes is stored as names alone, as Python's
// os.path.normpath resolves it ('.' there is the base itself, stored
// empty): in the file entries of a folder line and of a file line, a menu
// entry's target and icon, a Run entry's program.  The payload is read by
// Python.  A file line whose sub path names nothing below its base is
// refused, with its line.
TEST(Scenario, EverySubPathIsStoredAsNamesAlone) {
    cSampleDir d;
    const std::string D = d.dir.path();
    const int n = static_cast<int>(std::count(d.scenario.begin(), d.scenario.end(), '\n'));
    for (const std::string sub : {"./x/../same.txt", "dir//z.txt", "a/./b/", "a/b/../../c", "..a/b../.c", "x/y/..",
                                  "./", ".", "x/..", ""}) {
        const std::string folderLine = "\"" + D + "/tree\" = $our \"" + sub + "\"\n";
        const std::string fileLine = "\"" + D + "/app.bin\" = $our \"" + sub + "\"\n";
        const std::string lists = "[Menu]\n$menu = $our \"" + sub + "\", $our \"" + sub + "\"\n[Run]\n$menu = $our \"" +
                                  sub + "\"\n";
        const std::string oracle = runPython(R"(
import os, sys
def n(p):
    p = os.path.normpath(p) if p else '.'
    return '' if p == '.' else p
sub = sys.argv[1]
print('menu', ['menu', 'our', n(sub), '', 'our', n(sub), ''], 0)
print('file 3 0x3080808 our', n(os.path.join(sub, 'a.txt')), '[]')
print('file 4 0x3080808 our', n(os.path.join(sub, 'sub/b.txt')), '[]')
if n(sub): print('file 5 0x3080808 our', n(sub), '[]')
print('run 0', ['menu', 'our', n(sub), ''])
)", "'" + sub + "'");
        const bool named = oracle.find("file 5 ") != std::string::npos;
        const std::string head = "[Strings]\nour = \"/opt/our\"\n[Install]\n" + folderLine;
        cSoftPkgScenario s;
        int line = 0;
        if (!named) {
            EXPECT_EQ(d.compile(s, d.text(head + fileLine), line), 23) << sub;
            EXPECT_EQ(line, n + 4) << sub;
            EXPECT_EQ(s.textError().part, cSoftPkgScenario::sTextError::partNoName) << sub;
            EXPECT_EQ(s.textError().subPath, sub);
        }
        ASSERT_EQ(d.compile(s, d.text(head + (named ? fileLine : "") + lists), line), 0) << sub;
        const std::string out = d.dir.file("subs.data");
        ASSERT_TRUE(saveTo(s, out));
        std::string got;
        const std::string py = runPython(kPayloadReader, out);
        for (std::size_t at = 0, end; (end = py.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string fact = py.substr(at, end - at);
            if (fact.rfind("str ", 0) != 0 && (fact.find(" our ") != std::string::npos || fact.find("'our'") != std::string::npos))
                got += fact + "\n";
        }
        EXPECT_EQ(got, oracle) << sub;
    }
}

// What getCopiedFiles hands the installer names each file by names alone,
// whatever the payload holds ("." and empty names in a sub path, "." and
// ".." in a base's text): the path Python's os.path.normpath makes of the
// base and the sub path.  A destination that climbs above a relative base
// has no such path and does not resolve.  The payloads are written by the
// tests' own writer.
TEST(Scenario, CopiedFilesAreNamedByNamesAlone) {
    TempDir dir;
    const std::string made = runPython(std::string(kPayloadWriter) + R"PY(
out = sys.argv[1]
bases = {b'pgm': '/Apps/', b'b': '/opt/./q/../r', b'top': '/..', b'rel': 'x/./y/..', b'up': 'a/../..'}
cases = [[(b'pgm', b'./x.txt'), (b'pgm', b'a//b/./c.txt'), (b'pgm', b'd/'), (b'pgm', b''), (b'b', b'f'),
          (b'top', b'etc/./f'), (b'rel', b'./g')],
         [(b'pgm', b'x'), (b'up', b'./f')]]
for i, entries in enumerate(cases):
    table = b'\x06' + b''.join(b'\x01' + sub(k) + sub(v.encode()) for k, v in sorted(bases.items()) if k != b'pgm') + b'\x00'
    files = b'\x04' + b''.join(entry(base, path) for base, path in entries) + b'\x00'
    open(os.path.join(out, 'p%d' % i), 'wb').write(pack(b'\x01' + v1 + table + files + item + b'\x00'))
    for base, path in entries:
        p = os.path.normpath(bases[base] + '/' + path.decode())
        print('refused' if p.split('/')[0] == '..' else p)
    print('--')
)PY", "'" + dir.path() + "'");
    std::string got;
    for (const char* name : {"p0", "p1"}) {
        cSoftPkgScenario back;
        ASSERT_TRUE(loadFrom(back, dir.file(name))) << name;
        ASSERT_TRUE(back.setStr(-1, "pgm", "/Apps/"));
        std::vector<cSoftPkgScenario::sCopiedFile> files;
        const bool resolved = back.getCopiedFiles(files);
        for (std::size_t i = 0; i < files.size(); ++i)
            got += (!resolved && i + 1 == files.size() ? std::string("refused") : files[i].dest) + "\n";
        got += "--\n";
    }
    EXPECT_EQ(got, made);
}

TEST(Scenario, ScenarioWithoutIconLoadsWithItsLanguages) {
    cSampleDir d;
    std::string t = d.scenario;
    const std::string icon = "icon = $pgm \"icon.png\"\n";
    ASSERT_NE(t.find(icon), std::string::npos);
    t.erase(t.find(icon), icon.size());
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(d.compile(s, t, line), 0);
    cMemIOTarget out;
    ASSERT_TRUE(s.saveBinConfig(&out));
    out.set_fp(0);
    cSoftPkgScenario back;
    ASSERT_TRUE(back.loadBinConfig(&out));
    std::vector<int> langs;
    back.getSupportedLangs(langs);
    EXPECT_EQ(langs.size(), 2u);
    EXPECT_TRUE(back.iconDef().id.empty());
}

TEST(Scenario, SavesThatCannotBeDescribedFail) {
    cSoftPkgScenario s;
    s.setStr(-1, std::string(70000, 'k').c_str(), "x");
    cMemIOTarget out;
    EXPECT_FALSE(s.saveBinConfig(&out));
    EXPECT_EQ(out.size(), 8);  // the magic alone
    s.close();
    s.setStr(-1, "a", std::string(70000, 'v').c_str());
    cMemIOTarget out2;
    EXPECT_FALSE(s.saveBinConfig(&out2));
    s.close();
    s.setStr(-1, "a", "b");
    cMemIOTarget out3;
    ASSERT_TRUE(s.saveBinConfig(&out3));
    out3.set_fp(0);
    cSoftPkgScenario back;
    EXPECT_TRUE(back.loadBinConfig(&out3));  // no icon, no language: loads
    EXPECT_STREQ(back.getStr("a"), "b");
}

// What a failed compile tells beyond its code: the language, the string
// id, which part of a path definition, the file, and the document
// compiler's own position and message.
TEST(Scenario, ErrorsNameWhatToFix) {
    cSampleDir d;
    const std::string D = d.dir.path();
    writeFile(d.dir.file("docs/bad_en.hdl"), "Fine words\n  <text a=q>x</text>");
    writeFile(d.dir.file("docs/bad.idx"), "ENG=\"./bad_en.hdl\"\nDEU=\"./eula_de.hdl\"\n");
    // A picture that is a camera's raw header over text: the compiler names
    // its line, where the document it wrote would not have loaded.
    writeFile(d.dir.file("docs/fake.raf"), "FUJIFILM and then no picture at all");
    writeFile(d.dir.file("docs/pic_en.hdl"), "Look:\n<img src=./fake.raf>");
    writeFile(d.dir.file("docs/pic.idx"), "ENG=\"./pic_en.hdl\"\nDEU=\"./eula_de.hdl\"\n");
    // Documents of line breaks whose boxes, in two languages, fit the
    // documents' budget twice but not three times: the third document of
    // the scenario does not load.
    std::string breaks;
    for (std::size_t i = 0; i < kMaxHdocHeldBytes / (5 * cSiDocLoader::boxCost(0, 0)); ++i) breaks += "<br>";
    writeFile(d.dir.file("docs/breaks.hdl"), breaks);
    writeFile(d.dir.file("docs/breaks.idx"), "ENG=\"./breaks.hdl\"\nDEU=\"./breaks.hdl\"\n");
    const std::string breaksIdx = D + "/docs/breaks.idx";
    using E = cSoftPkgScenario::sTextError;
    struct sCase {
        int code;
        std::string text;  // appended to the valid scenario, or the whole one
        bool replace;
        int lang;
        std::string id, file, message, subPath;
        E::ePart part;
        int docLine, docColumn;
    };
    const std::string head = "[General]\nlangs = ENG DEU\n[Software]\ncodename=\"c\"\neula=\"" + D + "/docs/eula.idx\"\n";
    const std::vector<sCase> cases = {
        {12, "[General]\nlangs = ENG RUS\n[Software]\ncodename=\"c\"\neula=\"" + D + "/docs/eula.idx\"\n", true, 1, "", "", "", "", E::partNone, -1, -1},
        {13, head + "welcome=\"" + D + "/docs/eng_only.idx\"\n", true, 2, "", "", "", "", E::partNone, -1, -1},
        {14, head + "readme=\"" + D + "/docs/eng_only.idx\"\n", true, 2, "", "", "", "", E::partNone, -1, -1},
        {15, "[Strings]\nENG.only = \"x\"\n", false, 2, "only", "", "", "", E::partNone, -1, -1},
        {21, "[Software]\neula = \"" + D + "/docs/bad.idx\"\n", false, -1, "", D + "/docs/bad_en.hdl", "bad align", "", E::partNone, 1, 12},
        {21, "[Software]\neula = \"" + D + "/docs/none.idx\"\n", false, -1, "", D + "/docs/none.idx", "Unable to open index", "", E::partNone, 0, 0},
        {21, "[Software]\neula = \"" + D + "/docs/pic.idx\"\n", false, -1, "", D + "/docs/pic_en.hdl", "unable to load IMG", "", E::partNone, 1, 20},
        {20, "[General]\nlangs = ENG DEU\n[Software]\ncodename=\"c\"\neula=\"" + breaksIdx + "\"\nwelcome=\"" + breaksIdx +
                 "\"\nreadme=\"" + breaksIdx + "\"\n",
         true, -1, "", breaksIdx,
         "the compiled document does not load: its documents need more than the 64 MiB they may hold together", "",
         E::partNone, -1, -1},
        {23, "[Run]\n\"L\" = $pgm \"../escape\"\n", false, -1, "", "", "", "../escape", E::partSubPath, -1, -1},
        {23, "[Run]\n\"L\" = $pgm\n", false, -1, "", "", "", "", E::partSubPath, -1, -1},
        // A file needs a name below its base, however its sub path is written.
        {23, "[Install]\n\"" + D + "/app.bin\" = $pgm \"./x/..\"\n", false, -1, "", "", "", "./x/..", E::partNoName, -1, -1},
        {23, "[Install]\n\"" + D + "/app.bin\" = \"/opt/tool\" \"\"\n", false, -1, "", "", "", "", E::partNoName, -1, -1},
        {23, "[Run]\n\"L\" = $nowhere \"x\"\n", false, 0, "nowhere", "", "", "", E::partId, -1, -1},
        {23, "[Strings]\nENG.part=\"p\"\n[Run]\n\"L\" = $part \"x\"\n", false, 2, "part", "", "", "", E::partId, -1, -1},
        {26, "[Install]\n\"" + D + "/missing\" = $pgm \"a\"\n", false, -1, "", D + "/missing", "", "", E::partNone, -1, -1},
        {cSoftPkgScenario::errBadCodename, "[Software]\ncodename = \"a b\"\n", false, -1, "a b", "", "", "", E::partNone, -1, -1},
        // References written before the languages are declared are checked
        // against them after the last line (no line of their own): the
        // payload would not load back otherwise.
        {7, "[Menu]\n$t = $pgm \"a\", $pgm \"b\"\n" + head, true, 0, "t", "", "", "", E::partId, -1, -1},
        {23, "[Run]\n\"L\" = $late \"x\"\n" + head, true, 0, "late", "", "", "", E::partId, -1, -1},
    };
    for (const auto& c : cases) {
        cSoftPkgScenario s;
        int line = 0;
        ASSERT_EQ(d.compile(s, c.replace ? c.text : d.text(c.text), line), c.code) << c.text;
        const E& e = s.textError();
        EXPECT_EQ(e.lang, c.lang) << c.text;
        EXPECT_EQ(e.id, c.id) << c.text;
        EXPECT_EQ(e.file, c.file) << c.text;
        EXPECT_EQ(e.message, c.message) << c.text;
        EXPECT_EQ(e.subPath, c.subPath) << c.text;
        EXPECT_EQ(e.part, c.part) << c.text;
        EXPECT_EQ(e.docLine, c.docLine) << c.text;
        EXPECT_EQ(e.docColumn, c.docColumn) << c.text;
        if (c.code >= 12 && c.code <= 15) {
            // The line of the key or string the checks found lacking.
            const std::string all = c.replace ? c.text : d.text(c.text);
            const std::string key = c.code == 12 ? "eula=" : c.code == 13 ? "welcome=" : c.code == 14 ? "readme=" : "ENG.only";
            const std::size_t at = all.find(key);
            ASSERT_NE(at, std::string::npos);
            EXPECT_EQ(e.defLine, static_cast<int>(std::count(all.begin(), all.begin() + static_cast<long>(at), '\n')))
                << c.text;
        } else {
            EXPECT_EQ(e.defLine, -1) << c.text;
        }
    }
    // A success leaves nothing behind from an earlier failure.
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(d.compile(s, d.text("[Run]\n\"L\" = $nowhere \"x\"\n"), line), 23);
    ASSERT_EQ(d.compile(s, d.scenario, line), 0);
    EXPECT_TRUE(s.textError().id.empty());
    EXPECT_EQ(s.textError().part, E::partNone);
    EXPECT_TRUE(cSoftPkgScenario::isSafeCodename("qor-sample_2.0+b"));
    EXPECT_FALSE(cSoftPkgScenario::isSafeCodename(std::string(65, 'a')));
    EXPECT_FALSE(cSoftPkgScenario::isSafeCodename(".hidden"));
}

// Every kept hostile input, read both ways: as a payload it is refused; as
// a text scenario (compiled in a folder of its own) it either fails or
// makes a payload that loads back.
TEST(Scenario, KeptMalformedInputsAreRefused) {
    const std::string folder = std::string(QOR_TEST_DATA) + "/scenario/malformed";
    const std::vector<std::string> kept = {"crash-d2411f2ce8d840091c3ab087dfee6e2f059cded5",
                                           "dangling_item.data",
                                           "document-picture-crashing-libraw.data",
                                           "huge_body_claim.data",
                                           "menu-title-before-the-languages.txt",
                                           "packed_past_end.data",
                                           "pgm_string.data"};
    EXPECT_TRUE(qortest::holdsInputs(folder, kept));
    TempDir sandbox;
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(sandbox.path().c_str()), 0);
    for (const std::string& name : kept) {
        const std::string path = folder + "/" + name;
        cSoftPkgScenario s;
        EXPECT_FALSE(loadFrom(s, path)) << path;
        int line = 0;
        if (s.loadTextConfig(path.c_str(), line) == 0) {
            cMemIOTarget out;
            ASSERT_TRUE(s.saveBinConfig(&out)) << path;
            out.set_fp(0);
            cSoftPkgScenario back;
            EXPECT_TRUE(back.loadBinConfig(&out)) << path;
        }
    }
    ASSERT_EQ(chdir(here), 0);
}

}  // namespace

namespace {

// References written before the languages are declared are accepted as
// their lines are read and checked again after the last line: each of the
// seven must fail there, or the payload would not load back.  One
// reference of each case is left undefined; every other one is defined.
TEST(Scenario, EveryReferenceWrittenBeforeTheLanguagesIsCheckedAfterTheLastLine) {
    cSampleDir d;
    const std::string D = d.dir.path();
    const std::string head = "[General]\nlangs = ENG DEU\n[Software]\ncodename=\"c\"\neula=\"" + D + "/docs/eula.idx\"\n";
    const std::string file = "\"" + D + "/app.bin\"";
    struct sCase {
        std::string before;  // written before the languages
        int code;
        std::string id;
    };
    const std::vector<sCase> cases = {
        {"[Software]\nicon = $ic \"x\"\n", 23, "ic"},
        {"[Menu]\n$t = $pgm \"a\", $pgm \"b\"\n", 7, "t"},
        {"[Menu]\n\"T\" = $tgt \"a\", $pgm \"b\"\n", 23, "tgt"},
        {"[Menu]\n\"T\" = $pgm \"a\", $ico \"b\"\n", 23, "ico"},
        {"[Install]\n" + file + " = $dst \"x\"\n", 23, "dst"},
        {"[Run]\n$lbl = $pgm \"x\"\n", 7, "lbl"},
        {"[Run]\n\"L\" = $prg \"x\"\n", 23, "prg"},
    };
    for (const auto& c : cases) {
        cSoftPkgScenario s;
        int line = 0;
        ASSERT_EQ(d.compile(s, c.before + head, line), c.code) << c.before;
        EXPECT_EQ(line, -1) << c.before;
        EXPECT_EQ(s.textError().id, c.id) << c.before;
        EXPECT_EQ(s.textError().lang, 0) << c.before;
        EXPECT_EQ(s.textError().part, cSoftPkgScenario::sTextError::partId) << c.before;
        // Defined for every language after all, later in the file: fine,
        // and the payload loads back.
        ASSERT_EQ(d.compile(s, c.before + head + "[Strings]\n" + c.id + " = \"/x\"\n", line), 0) << c.before;
        cMemIOTarget out;
        ASSERT_TRUE(s.saveBinConfig(&out)) << c.before;
        out.set_fp(0);
        cSoftPkgScenario back;
        EXPECT_TRUE(back.loadBinConfig(&out)) << c.before;
    }
}

// A tree made in two different orders, on the disk and in memory (tmpfs
// lists entries in the reverse order of their making), compiles to the same
// items in the byte order of the names and saves the same payload, byte for
// byte.  What the walk leaves out comes back with its reason.
std::string makeTree(const std::string& root, bool reversed) {
    std::vector<std::string> files = {"b/z.txt", "b/a.txt", "B.txt", "a.txt", "caf\xc3\xa9/x", "cafe/x", "10.dat",
                                      "9.dat", "sub dir/\xff\xfe name", "sub dir/line\nbreak", "a-b", "a.b", "a_b"};
    if (reversed) std::reverse(files.begin(), files.end());
    mkdir(root.c_str(), 0755);
    for (const auto& f : files) {
        const std::string path = root + "/" + f;
        for (std::size_t at = root.size() + 1; (at = path.find('/', at)) != std::string::npos; ++at)
            mkdir(path.substr(0, at).c_str(), 0755);
        if (!writeFile(path, "bytes of " + f)) return "cannot write " + path;
    }
    mkdir((root + "/empty").c_str(), 0755);
    if (symlink("nowhere", (root + "/dangling").c_str()) != 0 || symlink("loop", (root + "/loop").c_str()) != 0 ||
        mkfifo((root + "/b/fifo").c_str(), 0644) != 0 || symlink("../a.txt", (root + "/b/link").c_str()) != 0)
        return "cannot make the special entries";
    return "";
}

TEST(Scenario, InstallFoldersWalkInNameOrderAndTellWhatTheyLeaveOut) {
    cSampleDir d;
    std::vector<std::string> roots = {d.dir.file("one"), d.dir.file("two")};
    // A folder in memory as well, removed however the test ends.
    struct sRemoved {
        std::string path;
        ~sRemoved() {
            if (!path.empty()) qortest::runCommand("rm -rf '" + path + "'");
        }
    } memory;
    char name[] = "/dev/shm/qor-walk-XXXXXX";
    if (access("/dev/shm", W_OK) == 0 && mkdtemp(name)) {
        memory.path = name;
        roots.push_back(memory.path + "/one");
        roots.push_back(memory.path + "/two");
    }
    std::vector<std::string> payloads;
    std::string expectedOrder;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        ASSERT_EQ(makeTree(roots[i], i % 2 == 1), "") << roots[i];
        cSoftPkgScenario s;
        int line = 0;
        ASSERT_EQ(d.compile(s, d.text("[Install]\n\"" + roots[i] + "\" = $pgm \"t\"\n"), line), 0) << roots[i];
        std::string order;
        for (const auto& f : s.fileEntries())
            if (f.dest.sub.compare(0, 2, "t/") == 0) order += f.dest.sub + "\n";
        if (expectedOrder.empty()) {
            // Python walks the same tree with its names sorted as bytes.
            expectedOrder = runPython(R"(
import os, sys
def walk(path, sub):
    for n in sorted(os.listdir(path)):
        p = os.path.join(path, n)
        if os.path.isdir(p):
            walk(p, sub + n + b'/')
        elif os.path.isfile(p):
            sys.stdout.buffer.write(b't/' + sub + n + b'\n')
walk(os.fsencode(sys.argv[1]), b'')
)", "'" + roots[i] + "'");
        }
        EXPECT_EQ(order, expectedOrder) << roots[i];
        std::string left;
        for (const auto& e : s.leftOut()) left += e.path.substr(roots[i].size()) + " " + std::to_string(e.why) + "\n";
        EXPECT_EQ(left, "/b/fifo 3\n/dangling 1\n/empty 7\n/loop 2\n") << roots[i];
        const std::string out = d.dir.file("p" + std::to_string(i));
        ASSERT_TRUE(saveTo(s, out));
        payloads.push_back(readFile(out));
    }
    for (std::size_t i = 1; i < payloads.size(); ++i) EXPECT_TRUE(payloads[i] == payloads[0]) << roots[i];
    EXPECT_EQ(payloads.size(), roots.size());
}


// A file met by several paths (a link to its folder, a link to it, a hard
// link, two lines) is packed once for every entry that installs it: each
// regular file an Install line reaches is one entry and one item of its
// own, in the order read.  Python's walk through the same links is the
// oracle: one item per path it meets, in walk order, with the file's digest.
TEST(Scenario, AFileMetByManyPathsIsOneItemForEachEntry) {
    cSampleDir d;
    const std::string R = d.dir.file("shared");
    for (const char* f : {"", "/real", "/real/sub", "/view"}) ASSERT_EQ(mkdir((R + f).c_str(), 0755), 0);
    writeFile(R + "/real/x.txt", "the bytes of x");
    writeFile(R + "/real/sub/y.txt", std::string(3000, 'y'));
    writeFile(R + "/real/z.txt", "z");
    writeFile(R + "/view/own.txt", "own");
    ASSERT_EQ(symlink("../real", (R + "/view/dir").c_str()), 0);
    ASSERT_EQ(symlink("../real/sub/y.txt", (R + "/view/y.txt").c_str()), 0);
    ASSERT_EQ(link((R + "/real/x.txt").c_str(), (R + "/view/hard.txt").c_str()), 0);
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(d.compile(s, d.text("[Install]\n\"" + R + "\" = $pgm \"t\"\n\"" + R + "/real/x.txt\" = $pgm \"X.txt\"\n\"" +
                                  R + "/view/hard.txt\" = $pgm \"x.txt\"\n"),
                        line), 0);
    // Per path met, in walk order: its place, and the digest of its bytes;
    // then the last two lines' files.
    const std::string oracle = runPython(R"(
import hashlib, os, sys
root = sys.argv[1]; met = []
def note(p, sub):
    print(sub, len(met), hashlib.sha256(open(p, 'rb').read()).hexdigest())
    met.append(p)
def walk(path, sub):
    for n in sorted(os.listdir(path)):
        p = os.path.join(path, n)
        if os.path.isdir(p): walk(p, sub + n + '/')
        else: note(p, sub + n)
walk(root, 't/')
note(root + '/real/x.txt', 'X.txt')
note(root + '/view/hard.txt', 'x.txt')
print(len(met))
)", "'" + R + "'");
    const std::string out = d.dir.file("shared.data");
    ASSERT_TRUE(saveTo(s, out));
    cSoftPkgScenario back;
    ASSERT_TRUE(loadFrom(back, out));
    ASSERT_TRUE(back.setStr(-1, "pgm", "/A/"));
    std::vector<cSoftPkgScenario::sCopiedFile> files;
    ASSERT_TRUE(back.getCopiedFiles(files));  // ENG: not the sample's DEU tree
    std::string got;
    const std::uint32_t itemsBefore = files.at(0).item + 1 + 2;  // the sample's app.bin and DEU tree
    for (std::size_t i = 1; i < files.size(); ++i) {
        char hex[65];
        for (int k = 0; k < 32; ++k) std::snprintf(hex + 2 * k, 3, "%02x", files[i].digest[k]);
        got += files[i].dest.substr(3) + " " + std::to_string(files[i].item - itemsBefore) + " " + hex + "\n";
    }
    got += std::to_string(back.package().count() - itemsBefore) + "\n";
    EXPECT_EQ(got, oracle);
    // Each item's bytes are those of its digest.
    for (std::uint32_t i = 0; i < back.package().count(); ++i) EXPECT_TRUE(back.package().verify(static_cast<int>(i)));
    // The warning about the two names apart only in case names the paths
    // the two lines read.
    bool told = false;
    for (const auto& w : s.textWarnings())
        if (w.what == cSoftPkgScenario::sTextWarning::caseOnly) {
            told = true;
            EXPECT_EQ(w.source, R + "/view/hard.txt");
            EXPECT_EQ(w.otherSource, R + "/real/x.txt");
        }
    EXPECT_TRUE(told);
}

// What a compile read, with the identity the file system gives each (so a
// caller can refuse to write over one), and the paths of menu entries, the
// icon and Run entries inside the installation folder that no file entry
// installs, per language.
TEST(Scenario, InputsAndPathsThatNoItemInstalls) {
    cSampleDir d;
    const std::string D = d.dir.path();
    cSoftPkgScenario s;
    int line = 0;
    // Not a regular file: refused at once, never waited on.
    ASSERT_EQ(mkfifo(d.dir.file("pipe.txt").c_str(), 0644), 0);
    for (const std::string& bad : {d.dir.file("pipe.txt"), d.dir.file("docs"), std::string("/dev/zero")}) {
        EXPECT_EQ(s.loadTextConfig(bad.c_str(), line), 1) << bad;
        EXPECT_TRUE(s.inputs().empty()) << bad;
    }
    ASSERT_EQ(d.compile(s, d.text("[Menu]\n\"M2\" = $pgm \"data\", $pgm \"data/sub/b.txt\"\n"
                                  "\"M3\" = $pgm \"bin\", $pgm \"./bin//app\"\n"
                                  "\"M4\" = $pgm \"bi\", $pgm \"bin/ap\"\n"
                                  "[Run]\n\"R\" = \"/usr/bin\" \"open\"\n\"R2\" = $pgm \"\"\n"), line), 0);
    std::string got;
    for (const auto& in : s.inputs()) {
        struct stat st;
        ASSERT_EQ(stat(in.path.c_str(), &st), 0) << in.path;
        EXPECT_EQ(in.device, static_cast<std::uint64_t>(st.st_dev)) << in.path;
        EXPECT_EQ(in.inode, static_cast<std::uint64_t>(st.st_ino)) << in.path;
        got += std::to_string(in.kind) + " " + (in.path.compare(0, D.size(), D) == 0 ? in.path.substr(D.size()) : in.path) + "\n";
    }
    // The scenario, each document's index and sources as read (twice for
    // the index read twice), the file and the folders and files below.
    EXPECT_EQ(got, "0 /s.txt\n"
                   "1 /docs/eula.idx\n1 /docs/eula_en.hdl\n1 /docs/eula_de.hdl\n"
                   "1 /docs/welcome.idx\n1 /docs/eula_en.hdl\n1 /docs/eula_de.hdl\n"
                   "1 /docs/eula.idx\n1 /docs/eula_en.hdl\n1 /docs/eula_de.hdl\n"
                   "2 /app.bin\n3 /tree\n2 /tree/a.txt\n3 /tree/sub\n2 /tree/sub/b.txt\n");
    using M = cSoftPkgScenario::sMissingTarget;
    std::string missing;
    for (const M& m : s.missingTargets()) {
        missing += std::to_string(m.what) + " " + std::to_string(m.entry) + " " + m.subPath;
        for (int l : m.langs) missing += " " + std::to_string(l);
        missing += "\n";
    }
    // The icon is never installed; the tree is, for DEU only; "bin" is a
    // folder items go into; "bi" and "bin/ap" only begin like paths that
    // are installed; a program outside the installation folder is not
    // the package's to install.
    EXPECT_EQ(missing, "0 -1 icon.png\n2 0 icon.png\n1 1 data 0\n2 1 data/sub/b.txt 0\n1 3 bi\n2 3 bin/ap\n");
}

}  // namespace

// What a compile takes as written but loses, told with the lines: two files
// that install one path on a system and in a language both apply to (one
// lost when their bytes or modes differ, else packed twice), files
// executable on disk packed without permission digits, a version cut to
// four parts or to its numbers, a key given twice.  Each case is the valid scenario with lines
// added; the expected warnings are read off those lines.
TEST(Scenario, WhatACompileLosesIsToldWithItsLines) {
    cSampleDir d;
    const std::string D = d.dir.path();
    ASSERT_EQ(mkdir(d.dir.file("tools").c_str(), 0755), 0);
    writeFile(d.dir.file("tools/run.sh"), "#!/bin/sh\n");
    writeFile(d.dir.file("tools/more.sh"), "#!/bin/sh\n");
    writeFile(d.dir.file("tools/notes"), "text");
    ASSERT_EQ(chmod(d.dir.file("tools/run.sh").c_str(), 0755), 0);
    ASSERT_EQ(chmod(d.dir.file("tools/more.sh").c_str(), 0710), 0);
    // Bytes met twice: one file by a hard link, a copy, and a file of as
    // many bytes that are others.
    ASSERT_EQ(mkdir(d.dir.file("same").c_str(), 0755), 0);
    writeFile(d.dir.file("same/a"), "text");
    writeFile(d.dir.file("same/copy"), "text");
    writeFile(d.dir.file("same/other"), "txet");
    ASSERT_EQ(link(d.dir.file("same/a").c_str(), d.dir.file("same/hard").c_str()), 0);
    // The lines of the valid scenario; the first added line is line n + 1
    // (counted from 1).  Its app.bin is line 19, its DEU tree for 64-bit
    // systems line 20.
    const std::string base = d.text("");
    const int n = static_cast<int>(std::count(base.begin(), base.end(), '\n'));
    ASSERT_NE(base.find("\n\"" + D + "/app.bin\" = $pgm \"bin/app\", 755\n"), std::string::npos);
    const std::string at = std::to_string(n + 1), next = std::to_string(n + 2), third = std::to_string(n + 3);
    const std::string q = "\"" + D;
    struct sCase {
        std::string extra;
        std::vector<std::string> want;  // kind line other dest source other-source text|kept|dropped count
    };
    const sCase cases[] = {
        {"", {}},
        {"[Install]\n" + q + "/tree/a.txt\" = $pgm \"./bin//app\"\n",
         {"1 " + next + " 19 pgm:bin/app D/tree/a.txt D/app.bin || 1"}},
        // Both of the folder's files meet the DEU tree for 64-bit systems:
        // the same files with the same mode, packed twice.
        {"[Install]\n" + q + "/tree\" = $pgm \"data\"\n",
         {"8 " + next + " 20 pgm:data/a.txt D/tree/a.txt D/tree/a.txt || 2"}},
        // Another system width, another language: never installed together.
        {"[Install]\nx32." + q + "/tree\" = $pgm \"data\", , DEU\n" + q + "/tree\" = $pgm \"data\", , ENG\n", {}},
        {"[Install]\n" + q + "/tools\" = $pgm \"tools\"\n" + q + "/tools/run.sh\" = $pgm \"run\"\n" + q +
             "/tools\" = $pgm \"t2\", 644\n",
         {"2 " + next + " 0 : D/tools/more.sh  || 2", "2 " + third + " 0 : D/tools/run.sh  || 1"}},
        // Two entries at one destination lose one of them only when their
        // bytes or their modes differ.
        {"[Install]\n" + q + "/same/a\" = $pgm \"s\"\n" + q + "/same/a\" = $pgm \"./s\"\n",
         {"8 " + third + " " + next + " pgm:s D/same/a D/same/a || 1"}},
        {"[Install]\n" + q + "/same/a\" = $pgm \"s\", 644\n" + q + "/same/hard\" = $pgm \"s\", 644\n" + q +
             "/same/copy\" = $pgm \"s\", 644\n" + q + "/same/other\" = $pgm \"s\", 644\n",
         {"8 " + third + " " + next + " pgm:s D/same/hard D/same/a || 1",
          "8 " + std::to_string(n + 4) + " " + next + " pgm:s D/same/copy D/same/a || 1",
          "1 " + std::to_string(n + 5) + " " + next + " pgm:s D/same/other D/same/a || 1"}},
        {"[Install]\n" + q + "/same/a\" = $pgm \"s\", 644\n" + q + "/same/a\" = $pgm \"s\", 600\n",
         {"1 " + third + " " + next + " pgm:s D/same/a D/same/a || 1"}},
        {"[Software]\nversion = \"1.2.3.4.5.6\"\n",
         {"5 " + next + " 7 :   version|| 0", "4 " + next + " 0 :   1.2.3.4.5.6|1.2.3.4|.5.6 0"}},
        {"[Software]\nname = \"Other\"\nversion = \" 2.0 beta 3 \"\n",
         {"5 " + next + " 6 :   name|| 0", "5 " + third + " 7 :   version|| 0",
          "4 " + third + " 0 :    2.0 beta 3 |2.0|beta 3 0"}},
        // A point at the end loses nothing.
        {"[Software]\nversion = \"1.2.\"\n", {"5 " + next + " 7 :   version|| 0"}},
        {"[Strings]\ntitle = \"x\"\nDEU.menu = \"y\"\nENG.title = \"z\"\n",
         {"5 " + next + " 15 :   title|| 0", "5 " + third + " 17 :   DEU.menu|| 0"}},
    };
    for (const sCase& c : cases) {
        cSoftPkgScenario s;
        int line = 0;
        ASSERT_EQ(d.compile(s, d.text(c.extra), line), 0) << c.extra;
        auto rel = [&](const std::string& p) { return p.compare(0, D.size(), D) == 0 ? "D" + p.substr(D.size()) : p; };
        std::vector<std::string> got;
        for (const auto& w : s.textWarnings())
            got.push_back(std::to_string(w.what) + " " + std::to_string(w.line + 1) + " " +
                          std::to_string(w.otherLine + 1) + " " + w.dest.id + ":" + w.dest.sub + " " + rel(w.source) +
                          " " + rel(w.otherSource) + " " + w.text + "|" + w.kept + "|" + w.dropped + " " +
                          std::to_string(w.count));
        EXPECT_EQ(got, c.want) << c.extra;
    }
}
