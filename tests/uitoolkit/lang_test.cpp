// Language blobs against Python's struct and zlib, the registry and
// applying languages, ".laci" files, and the built-in tables.
#include "uitoolkit/lang.h"

#include "fuzzreplay.h"

#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#define LLVMFuzzerTestOneInput fuzzLangBlob
#include "../../fuzz/FuzzLangBlob.cpp"
#undef LLVMFuzzerTestOneInput
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::optional<std::string>>;
using Content = std::map<std::string, Texts>;

// Builds the blob of the content with Python's struct and zlib; reads the
// content from the file named on its command line: "S <hex name>" opens a
// section, "T <hex text>" adds a text, "N" a null entry.
const char* kBlobOracle = R"PY(
import struct, sys, zlib
sections, cur = [], None
tag, code, name = sys.argv[2].encode(), sys.argv[3].encode(), bytes.fromhex(sys.argv[4])
for line in open(sys.argv[1]):
    kind, _, arg = line.rstrip("\n").partition(" ")
    if kind == "S":
        cur = (bytes.fromhex(arg), [])
        sections.append(cur)
    elif kind == "T":
        cur[1].append(bytes.fromhex(arg))
    else:
        cur[1].append(None)
body = b"CIOMLANG"
for sname, texts in sorted(sections):
    field = sname + b"\0" * (-len(sname) % 4)
    data = struct.pack("<H", len(texts)) + b"".join(struct.pack("<H", 0xFFFF if t is None else len(t)) for t in texts)
    data += b"".join(t for t in texts if t is not None)
    body += struct.pack("<I", len(field)) + field + struct.pack("<I", len(data)) + data
name = name[:255]
sys.stdout.write((b"CIOMLAFI" + tag.ljust(8, b" ")[:8] + code + bytes([len(name)]) + name +
                  struct.pack("<I", len(body)) + zlib.compress(body, 5)).hex())
)PY";

std::string hex(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

std::string unhex(const std::string& h) {
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::string pythonBlob(const Content& c, const std::string& tag, const std::string& code, const std::string& name) {
    qortest::TempDir dir;
    std::string listing;
    for (const auto& s : c) {
        listing += "S " + hex(s.first) + "\n";
        for (const auto& t : s.second) listing += t ? "T " + hex(*t) + "\n" : "N\n";
    }
    qortest::writeFile(dir.file("content"), listing);
    int status = 0;
    const std::string out =
        qortest::runPython(kBlobOracle, "'" + dir.file("content") + "' '" + tag + "' '" + code + "' '" + hex(name) + "'", &status);
    EXPECT_EQ(status, 0) << out;
    return unhex(out);
}

void fill(cCiomLang& lang, const Content& c) {
    for (const auto& s : c) {
        cFasterTreeList<unsigned short, _guardchar<char>> map;
        for (std::size_t i = 0; i < s.second.size(); ++i)
            if (s.second[i]) map.insert(static_cast<unsigned short>(i))->set(s.second[i]->c_str());
        cCiomLangData* d = lang.sections().insert(cStringKey(s.first.c_str(), -1));
        ASSERT_TRUE(d->create(map));
    }
}

Content contentOf(cCiomLang& lang) {
    Content c;
    for (auto* it = lang.sections().first(); it; it = lang.sections().next(it)) {
        _typebuf<char> field;
        it->key.utf8(field);
        std::string name(field.data(), static_cast<std::size_t>(field.count()));
        name = name.substr(0, name.find('\0'));
        Texts& t = c[name];
        for (long long i = 0; i < it->value.count(); ++i) {
            const char* s = it->value.string(i);
            t.push_back(s ? std::optional<std::string>(s) : std::nullopt);
        }
    }
    return c;
}

// Sections whose last entry is a text (an index map cannot end in a gap).
Content randomContent(std::mt19937& rng) {
    Content c;
    const int sections = 1 + static_cast<int>(rng() % 6);
    for (int s = 0; s < sections; ++s) {
        std::string name = "sec";
        const int extra = static_cast<int>(rng() % 19);
        for (int k = 0; k < extra; ++k) name += static_cast<char>("abcdefgh:é"[rng() % 10]);
        Texts t;
        const int n = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            if (i + 1 < n && rng() % 5 == 0) {
                t.push_back(std::nullopt);
                continue;
            }
            std::string text;
            const int len = static_cast<int>(rng() % 30);
            for (int k = 0; k < len; ++k) text += static_cast<char>(1 + rng() % 255);
            t.push_back(text);
        }
        c[name] = t;
    }
    return c;
}

std::vector<unsigned char> bytesOf(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

}  // namespace

TEST(LangBlob, WriterBytesAndReaderTextsMatchPython) {
    std::mt19937 rng(11);
    std::vector<Content> contents;
    // Names of exactly 16 bytes (no NUL in their field) and of 18 (padded
    // to 20); a null entry between texts; an empty text; UTF-8.
    contents.push_back({{"ciom::filechoose", {"Home", "", std::nullopt, "Ошибка", "日本語"}},
                        {"ciom::folderchoose", {"Computer"}},
                        {"abc", {std::nullopt, std::nullopt, "z"}}});
    for (int k = 0; k < 12; ++k) contents.push_back(randomContent(rng));
    for (const Content& c : contents) {
        const std::string name = c.size() % 2 ? "English" : std::string(300, 'n');
        const std::string expected = pythonBlob(c, "CIOMBASE", "ENG", name);
        ASSERT_GT(expected.size(), 24u);

        cCiomLang lang;
        lang.create("ENG", name.c_str());
        fill(lang, c);
        _typebuf<unsigned char> ours;
        ASSERT_TRUE(saveCiomLangData("CIOMBASE", lang, ours));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(ours.data()), static_cast<std::size_t>(ours.count())), expected);

        std::vector<unsigned char> exact = bytesOf(expected);
        cCiomLang back;
        ASSERT_TRUE(loadCiomLangData(exact.data(), static_cast<long long>(exact.size()), back));
        EXPECT_EQ(contentOf(back), c);
        EXPECT_STREQ(back.code(), "ENG");
        EXPECT_EQ(std::string(back.name()), name.substr(0, 255));
    }
    // A short tag is padded with spaces.
    const Content one{{"lnames", {"English"}}};
    cCiomLang lang;
    lang.create("ENG", "Langnames");
    fill(lang, one);
    _typebuf<unsigned char> ours;
    ASSERT_TRUE(saveCiomLangData("CIOMLN", lang, ours));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ours.data()), static_cast<std::size_t>(ours.count())),
              pythonBlob(one, "CIOMLN", "ENG", "Langnames"));
    EXPECT_FALSE(saveCiomLangData(nullptr, lang, ours));
}

TEST(LangBlob, DamagedBlobsAreRefusedWithinTheirBytes) {
    // Each input sits in a heap block of exactly its size, so a read past
    // it is caught.
    qortest::replayFolder("langblob/malformed", [](const uint8_t* in, size_t n) {
        std::vector<unsigned char> exact(in, in + n);
        cCiomLang lang;
        if (loadCiomLangData(exact.data(), static_cast<long long>(n), lang)) throw qortest::FuzzFailure("damaged blob accepted");
        fuzzLangBlob(exact.data(), n);
        return 0;
    }, 15);

    // Every prefix of a good blob is refused.
    const std::string good = pythonBlob({{"ciom::messages", {"Ok", "Yes", std::nullopt, "No"}}}, "CIOMBASE", "ENG", "English");
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::vector<unsigned char> cut(good.begin(), good.begin() + static_cast<long>(n));
        cCiomLang lang;
        EXPECT_FALSE(loadCiomLangData(cut.data(), static_cast<long long>(n), lang)) << n;
    }
    cCiomLang lang;
    EXPECT_FALSE(loadCiomLangData(nullptr, 100, lang));
    EXPECT_FALSE(loadCiomLang(nullptr, 100, lang.sections()));
}

TEST(LangBlob, SectionsBeforeAFaultStayAndReloadsKeepSectionObjects) {
    cCiomLang lang;
    const std::string first = pythonBlob({{"a", {"one", "two"}}, {"b", {"x"}}}, "CIOMBASE", "ENG", "English");
    ASSERT_TRUE(loadCiomLangData(first.data(), static_cast<long long>(first.size()), lang));
    cCiomLangData* a = lang.section("a");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->string(1), "two");
    EXPECT_EQ(a->string(2), nullptr);
    EXPECT_EQ(a->string(-1), nullptr);

    // Same language again with new texts: the same section object.
    const std::string second = pythonBlob({{"a", {"eins", "zwei", "drei"}}}, "CIOMBASE", "DEU", "Deutsch");
    ASSERT_TRUE(loadCiomLangData(second.data(), static_cast<long long>(second.size()), lang));
    EXPECT_EQ(lang.section("a"), a);
    EXPECT_STREQ(a->string(2), "drei");
    EXPECT_STREQ(lang.section("b")->string(0), "x");  // other sections stay
    EXPECT_STREQ(lang.code(), "DEU");

    // A blob whose second section is damaged: the first is loaded, the load
    // fails and the header is kept.
    std::string damaged = "CIOMLANG";
    auto u32 = [](unsigned v) { return std::string(reinterpret_cast<char*>(&v), 4); };
    damaged += u32(4) + std::string("b\0\0\0", 4) + u32(6) + std::string("\1\0\2\0hi", 6);
    damaged += u32(4) + std::string("c\0\0\0", 4) + u32(4) + std::string("\0\0\0\0", 4);
    const std::string packed = unhex(qortest::runPython(
        "import sys, zlib; sys.stdout.write(zlib.compress(bytes.fromhex(sys.argv[1]), 5).hex())", hex(damaged)));
    std::string blob = std::string("CIOMLAFICIOMBASEFRA\6French") + u32(static_cast<unsigned>(damaged.size())) + packed;
    EXPECT_FALSE(loadCiomLangData(blob.data(), static_cast<long long>(blob.size()), lang));
    EXPECT_STREQ(lang.section("b")->string(0), "hi");
    EXPECT_EQ(lang.section("c"), nullptr);
    EXPECT_STREQ(lang.code(), "DEU");

    cCiomLangData empty;
    _typebuf<unsigned char> raw;
    EXPECT_FALSE(empty.raw(raw));
    cFasterTreeList<unsigned short, _guardchar<char>> none;
    EXPECT_FALSE(empty.create(none));
    // A text of 65535 bytes cannot be given a length.
    cFasterTreeList<unsigned short, _guardchar<char>> big;
    big.insert(0)->set(std::string(65535, 'a').c_str());
    cCiomLangData d;
    ASSERT_TRUE(d.create(big));
    EXPECT_FALSE(d.raw(raw));
    big.insert(0)->set(std::string(65534, 'a').c_str());
    ASSERT_TRUE(d.create(big));
    EXPECT_TRUE(d.raw(raw));
}

namespace {

class cTestTable : public cLibLang {
public:
    explicit cTestTable(std::vector<sLangDef> rows) : rows_(std::move(rows)) {}
    bool defines(eCIOMStdLangs l) override { return cLibLang::defines(l, rows_.data(), static_cast<long long>(rows_.size())); }
    long long sizeOf(eCIOMStdLangs l) override { return cLibLang::sizeOf(l, rows_.data(), static_cast<long long>(rows_.size())); }
    const unsigned char* langData(eCIOMStdLangs l) override {
        return cLibLang::langData(l, rows_.data(), static_cast<long long>(rows_.size()));
    }
    eCIOMStdLangs defaltLang() override { return rows_.empty() ? lngTUR : static_cast<eCIOMStdLangs>(rows_[0].lang); }

private:
    std::vector<sLangDef> rows_;
};

}  // namespace

TEST(LangRegistry, ApplyingLoadsEveryTableFallingBackToItsDefault) {
    EXPECT_EQ(cLibLang::appliedLang(), static_cast<unsigned>(lngCount));
    const std::string appEng = pythonBlob({{"app", {"Hello"}}}, "CIOMBASE", "ENG", "English");
    const std::string appEsp = pythonBlob({{"app", {"Hola"}}}, "CIOMBASE", "ESP", "Español");
    auto row = [](unsigned lang, const std::string& b) {
        return cLibLang::sLangDef{lang, reinterpret_cast<const unsigned char*>(b.data()),
                                  static_cast<long long>(b.size())};
    };
    cTestTable app({row(lngENG, appEng), row(lngESP, appEsp)});
    cCIOMLang toolkit;

    ASSERT_TRUE(cLibLang::applyLang(lngESP));
    EXPECT_EQ(cLibLang::appliedLang(), 7u);
    EXPECT_STREQ(cLibLang::gCiomLang.section("app")->string(0), "Hola");
    EXPECT_STREQ(cLibLang::gCiomLang.section("ciom::messages")->string(1), "Yes");

    ASSERT_TRUE(cLibLang::applyLang(lngDEU));
    EXPECT_STREQ(cLibLang::gCiomLang.section("app")->string(0), "Hello");
    EXPECT_STREQ(cLibLang::gCiomLang.section("ciom::messages")->string(1), "Ja");
    EXPECT_STREQ(cLibLang::gCiomLang.section("ciom::filechoose")->string(10), "Größe");

    {
        // A table with neither the language nor its default, and one whose
        // blob is damaged: false, the others still applied, language kept.
        cTestTable nothing({});
        const std::string junk = "CIOMLAFI";
        cTestTable broken({row(lngJPN, junk)});
        EXPECT_FALSE(cLibLang::applyLang(lngJPN));
        EXPECT_EQ(cLibLang::appliedLang(), 3u);
        EXPECT_STREQ(cLibLang::gCiomLang.section("ciom::messages")->string(1), "はい");
        EXPECT_STREQ(cLibLang::gCiomLang.section("app")->string(0), "Hello");
    }
    // The first registered table's default is English.
    ASSERT_NE(cLibLang::gLangLoadersPtr, nullptr);
    int tables = 0;
    for (cLibLang* l : *cLibLang::gLangLoadersPtr) {
        (void)l;
        ++tables;
    }
    EXPECT_EQ(tables, 2);
    cLibLang::ref(&app);  // already listed
    EXPECT_TRUE(cLibLang::applyDefaultLang());
    EXPECT_EQ(cLibLang::appliedLang(), 0u);
    EXPECT_STREQ(cLibLang::gCiomLang.section("ciom::messages")->string(1), "Yes");

    EXPECT_FALSE(cLibLang::defines(0, nullptr, 3));
    EXPECT_EQ(cLibLang::sizeOf(0, nullptr, 1), 0);
    EXPECT_EQ(cCIOMLang().langData(lngESP), nullptr);
    EXPECT_EQ(toolkit.defaltLang(), lngENG);
}

// The built-in tables: the same sections with the same counts in every
// language, the same printf conversions in the same order, and the English
// texts and header fields as the toolkit's texts are known.
TEST(LangBuiltin, EveryLanguageHasTheSameSectionsCountsAndConversions) {
    // The printf conversions of a text: flags, width, precision, letter.
    auto conversions = [](const std::string& s) {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] != '%') continue;
            std::size_t j = i + 1;
            while (j < s.size() && std::strchr("-+ #0123456789.", s[j])) ++j;
            if (j < s.size()) out.push_back(s.substr(i, j + 1 - i));
            i = j;
        }
        return out;
    };
    const unsigned order[10] = {0, 1, 6, 2, 5, 3, 4, 8, 9, 10};
    const char* codes[10] = {"ENG", "RUS", "UKR", "DEU", "FRA", "JPN", "KOR", "CHI", "TWN", "TRK"};
    const char* names[10] = {"English", "Русский", "Українська", "Deutsch", "French", "日本語", "한국어", "中国语", "中國語", "Türkçe"};
    Content english;
    for (int r = 0; r < 10; ++r) {
        const cLibLang::sLangDef& row = cCIOMLang::gLangs[r];
        EXPECT_EQ(row.lang, order[r]);
        cCiomLang lang;
        ASSERT_TRUE(loadCiomLangData(row.data, row.size, lang)) << r;
        EXPECT_STREQ(lang.code(), codes[r]);
        EXPECT_STREQ(lang.name(), names[r]);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(row.data) + 8, 8), "CIOMBASE");
        Content c = contentOf(lang);
        if (r == 0) {
            english = c;
            std::map<std::string, std::size_t> counts;
            for (auto& s : c) counts[s.first] = s.second.size();
            EXPECT_EQ(counts, (std::map<std::string, std::size_t>{{"ciom::filechoose", 31}, {"ciom::folderchoose", 9},
                                                                  {"ciom::messages", 7}, {"ciom::progress", 5},
                                                                  {"ciom::propsheet", 3}}));
            EXPECT_EQ(c["ciom::messages"], (Texts{"Ok", "Yes", "No", "Information", "Warning", "Error", "Confirm"}));
            EXPECT_EQ(*c["ciom::progress"][2], "%s progress: %.01f%%. Time consumed: %02d:%02d:%02d. Estimated time left: %02d:%02d:%02d.");
            EXPECT_EQ(*c["ciom::filechoose"][20], "Folder already exists.\nDo you want to go to this folder?");
            EXPECT_EQ(*c["ciom::filechoose"][26], "File already exists.\nDo you want to replace it?");
            EXPECT_EQ(*c["ciom::filechoose"][27], "File not found.\nPlease check the file name.");
            EXPECT_EQ(*c["ciom::folderchoose"][8], "Folder not found.\nPlease check the path.");
            EXPECT_EQ(*c["ciom::propsheet"][2], "Change value");
            continue;
        }
        ASSERT_EQ(c.size(), english.size());
        for (auto& s : english) {
            ASSERT_TRUE(c.count(s.first)) << codes[r] << " " << s.first;
            const Texts& t = c[s.first];
            ASSERT_EQ(t.size(), s.second.size()) << codes[r] << " " << s.first;
            for (std::size_t i = 0; i < t.size(); ++i) {
                ASSERT_TRUE(t[i].has_value());
                EXPECT_FALSE(t[i]->empty());
                EXPECT_EQ(conversions(*t[i]), conversions(*s.second[i])) << codes[r] << " " << s.first << " " << i;
                // Two-line messages stay two lines.
                EXPECT_EQ(std::count(t[i]->begin(), t[i]->end(), '\n'), std::count(s.second[i]->begin(), s.second[i]->end(), '\n'))
                    << codes[r] << " " << s.first << " " << i;
            }
        }
    }
}

TEST(LangFiles, SavedFilesAreFoundByTagAndLoadBack) {
    qortest::TempDir dir;
    cCiomLang de;
    de.create("DEU", "Deutsch");
    fill(de, {{"app", {"Hallo", std::nullopt, "Welt"}}});
    ASSERT_TRUE(saveCiomLangFile("MYAPP", dir.file("de.laci").c_str(), de));
    cCiomLang ru;
    ru.create("RUS", "Русский");
    fill(ru, {{"app", {"Привет"}}});
    ASSERT_TRUE(saveCiomLangFile("MYAPP", dir.file("ru.laci").c_str(), ru));
    ASSERT_TRUE(saveCiomLangFile("OTHER", dir.file("other.laci").c_str(), ru));
    ASSERT_TRUE(saveCiomLangFile("MYAPP", dir.file("not-a-lang.txt").c_str(), ru));
    qortest::writeFile(dir.file("short.laci"), "CIOMLAFIMYAPP");
    qortest::writeFile(dir.file("cut-name.laci"), std::string("CIOMLAFIMYAPP   ENG\x09" "Eng", 23));

    cFasterTreeList<int, sCiomLangDescrInfo> found;
    ASSERT_TRUE(findCiomLangFiles(dir.path().c_str(), "MYAPP", found));
    std::map<std::string, std::pair<std::string, std::string>> byPath;
    for (auto* it = found.first(); it; it = found.next(it)) byPath[it->value.path.get()] = {it->value.code, it->value.name.get()};
    EXPECT_EQ(byPath, (std::map<std::string, std::pair<std::string, std::string>>{
                          {dir.file("de.laci"), {"DEU", "Deutsch"}}, {dir.file("ru.laci"), {"RUS", "Русский"}}}));
    EXPECT_EQ(found.first()->key, 0);
    EXPECT_FALSE(findCiomLangFiles(dir.file("de.laci").c_str(), "MYAPP", found));
    EXPECT_TRUE(found.empty());
    EXPECT_FALSE(findCiomLangFiles(dir.path().c_str(), nullptr, found));

    cCiomLang back;
    ASSERT_TRUE(loadCiomLangFile(dir.file("de.laci").c_str(), back));
    EXPECT_EQ(contentOf(back), (Content{{"app", {"Hallo", std::nullopt, "Welt"}}}));
    EXPECT_FALSE(loadCiomLangFile(dir.file("short.laci").c_str(), back));
    EXPECT_FALSE(loadCiomLangFile(dir.file("missing.laci").c_str(), back));
    qortest::writeFile(dir.file("huge.laci"), qortest::readFile(dir.file("de.laci")) + std::string(0x400000, '\0'));
    EXPECT_FALSE(loadCiomLangFile(dir.file("huge.laci").c_str(), back));
}

TEST(LangDefinitions, RowsAndContainersByLanguage) {
    const std::string en = pythonBlob({{"s", {"en"}}}, "CIOMBASE", "ENG", "English");
    const std::string fr = pythonBlob({{"s", {"fr"}}}, "CIOMBASE", "FRA", "French");
    const sStdLangDefinition rows[2] = {{lngENG, reinterpret_cast<const unsigned char*>(en.data()), static_cast<unsigned>(en.size())},
                                        {lngFRA, reinterpret_cast<const unsigned char*>(fr.data()), static_cast<unsigned>(fr.size())}};
    cCiomLang lang;
    ASSERT_TRUE(ciLoadLangDef(rows, 2, lngFRA, &lang));
    EXPECT_STREQ(lang.section("s")->string(0), "fr");
    ASSERT_TRUE(ciLoadLangDef(rows, 2, lngKOR, &lang));
    EXPECT_STREQ(lang.section("s")->string(0), "en");
    EXPECT_FALSE(ciLoadLangDef(rows, 0, lngENG, &lang));

    cLangContainer c;
    const unsigned char* d = nullptr;
    long long n = 0;
    EXPECT_EQ(c.defaultLang(), 12u);
    EXPECT_FALSE(c.addDef(lngENG, nullptr, 5, false));
    EXPECT_FALSE(c.addDef(lngENG, rows[0].data, 0, false));
    EXPECT_FALSE(c.addDef(12, rows[0].data, 5, false));
    ASSERT_TRUE(c.addDef(lngFRA, rows[1].data, rows[1].size, false));
    EXPECT_EQ(c.defaultLang(), static_cast<unsigned>(lngFRA));
    ASSERT_TRUE(c.addDef(lngENG, rows[0].data, rows[0].size, false));
    EXPECT_EQ(c.defaultLang(), static_cast<unsigned>(lngFRA));
    ASSERT_TRUE(c.addDef(lngENG, rows[0].data, 7, true));
    EXPECT_EQ(c.defaultLang(), static_cast<unsigned>(lngENG));
    ASSERT_TRUE(c.getLang(lngENG, d, n));
    EXPECT_EQ(d, rows[0].data);
    EXPECT_EQ(n, 7);
    EXPECT_FALSE(c.getLang(lngKOR, d, n));
    EXPECT_TRUE(c.defines(lngFRA));
    std::vector<unsigned> order;
    for (unsigned l : c.languages()) order.push_back(l);
    EXPECT_EQ(order, (std::vector<unsigned>{lngFRA, lngENG}));
}
