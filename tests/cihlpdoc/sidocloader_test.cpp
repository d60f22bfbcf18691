// The document loader: documents laid out by hand in Python (struct and
// zlib) load or fail as their bytes say; the tree of a full document carries
// every field of its records; damaged inputs kept from fuzzing fail cleanly.
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "cihlpdoc/sidocloader.h"
#include "recordingcanvas.h"
#include "testsupport.h"

namespace {

std::string script(const char* name) { return std::string(QOR_SOURCE_DIR) + "/tests/cihlpdoc/" + name; }

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> out;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') out.push_back(e->d_name);
        closedir(d);
    }
    return out;
}

bool loadFile(cSiDocLoader& loader, const std::string& path) {
    std::string bytes = qortest::readFile(path);
    return loader.load(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<long long>(bytes.size()));
}

class DocLoader : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new qortest::TempDir;
        int st = -1;
        qortest::runPython(qortest::readFile(script("make_bmp.py")), dir->file("pic.bmp") + " 3 2", &st);
        ASSERT_EQ(st, 0);
        std::string out = qortest::runPython(qortest::readFile(script("make_docs.py")),
                                             dir->path() + " " + dir->file("pic.bmp"), &st);
        ASSERT_EQ(st, 0) << out;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    static qortest::TempDir* dir;
};
qortest::TempDir* DocLoader::dir = nullptr;

// Each case's name ends in .ok or .bad: whether its bytes make a loadable
// document.
TEST_F(DocLoader, EachHandMadeDocumentLoadsOrFailsAsItsBytesSay) {
    int cases = 0;
    for (const std::string& name : filesIn(dir->path())) {
        const bool ok = name.size() > 3 && name.compare(name.size() - 3, 3, ".ok") == 0;
        const bool bad = name.size() > 4 && name.compare(name.size() - 4, 4, ".bad") == 0;
        if (!ok && !bad) continue;
        ++cases;
        cSiDocLoader loader;
        EXPECT_EQ(loadFile(loader, dir->file(name)), ok) << name;
    }
    EXPECT_EQ(cases, 25);
}

TEST_F(DocLoader, EmptyRootAndCutFontStreamLoadWhatTheyHold) {
    cSiDocLoader loader;
    ASSERT_TRUE(loader.load(dir->file("empty_root.ok").c_str()));
    ASSERT_NE(loader.forLang(0), nullptr);
    EXPECT_EQ(loader.forLang(0)->count(), 0u);
    EXPECT_EQ(loader.forLang(1), nullptr);

    ASSERT_TRUE(loadFile(loader, dir->file("cut_font_stream.ok")));
    ASSERT_NE(loader.fontDef(1), nullptr);
    EXPECT_EQ(loader.fontDef(1)->face, 1);
    EXPECT_EQ(loader.fontDef(1)->height, 12);
    EXPECT_TRUE(loader.fontDef(1)->italic);
    EXPECT_EQ(loader.fontDef(2), nullptr);
}

TEST_F(DocLoader, FullDocumentCarriesEveryFieldOfItsRecords) {
    qortest::cFixedFont::install();
    cSiDocLoader loader;
    ASSERT_TRUE(loadFile(loader, dir->file("full.ok")));
    EXPECT_EQ(loader.forLang(0), nullptr);
    ASSERT_NE(loader.forLang(7), nullptr);
    cSiDocContainer* root = loader.forLang(1);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->count(), 4u);

    auto* one = dynamic_cast<cSiDocText*>(root->child(0));
    ASSERT_NE(one, nullptr);
    EXPECT_STREQ(one->text(), "one");
    EXPECT_EQ(one->color(), 0x0000FFu);
    EXPECT_EQ(one->bgColor(), 0x00FF00u);
    EXPECT_TRUE(one->breaks());
    EXPECT_EQ(one->marginLeft(), 1);
    EXPECT_EQ(one->marginRight(), 2);
    EXPECT_EQ(one->marginTop(), 3);
    EXPECT_EQ(one->marginBottom(), 4);
    EXPECT_EQ(one->boxWidth(), 50);
    EXPECT_EQ(one->boxHeight(), 20);
    EXPECT_EQ(one->fontId(), 1u);

    auto* two = dynamic_cast<cSiDocLink*>(root->child(1));
    ASSERT_NE(two, nullptr);
    EXPECT_STREQ(two->ref(), "second");
    EXPECT_EQ(two->boxWidth(), -1);
    EXPECT_EQ(two->bgColor(), 0xFFFFFFFFu);

    auto* box = dynamic_cast<cSiDocContainer*>(root->child(2));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->align(), 3u);
    EXPECT_EQ(box->color(), 0x123456u);
    EXPECT_EQ(box->boxWidth(), 70);
    ASSERT_EQ(box->count(), 2u);
    auto* linked = dynamic_cast<cSiDocImageLink*>(box->child(1));
    ASSERT_NE(linked, nullptr);
    EXPECT_STREQ(linked->ref(), "first");
    EXPECT_EQ(linked->boxWidth(), 9);
    // The zero-length first image entry takes no id: id 0 and 1 are the two
    // copies of the picture.
    EXPECT_EQ(linked->picture(), loader.picture(1));
    EXPECT_EQ(dynamic_cast<cSiDocImage*>(root->child(3))->picture(), loader.picture(0));
    EXPECT_EQ(loader.pictureCount(), 2u);

    // Pixels top row first as make_bmp.py paints them: (x * 40, y * 50, 200).
    cPicture* p = loader.picture(0);
    ASSERT_EQ(p->width(), 3);
    ASSERT_EQ(p->height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(p->raw()[y * 3 + x] & 0xFFFFFFu, (unsigned)(x * 40) << 16 | (unsigned)(y * 50) << 8 | 200u)
                << x << "," << y;

    // Fonts are made from the table through the font store: face 3 is
    // Verdana, style bits 1 and 4 bold and underline.
    cFontObject* f = loader.font(0);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->face(), "Verdana");
    EXPECT_EQ(f->charWidth(), 8);
    EXPECT_EQ(f->size(), 20);
    EXPECT_TRUE(f->bold() && f->underline() && !f->italic());
    EXPECT_EQ(loader.font(2), nullptr);
}

// Pictures are recognised by the picture factory, not only as PNG, BMP or
// GIF: a PPM comes out with its pixels top row first.
TEST_F(DocLoader, PictureOfAnyFactoryFormatLoads) {
    cSiDocLoader loader;
    ASSERT_TRUE(loadFile(loader, dir->file("ppm_picture.ok")));
    ASSERT_EQ(loader.pictureCount(), 1u);
    cPicture* p = loader.picture(0);
    ASSERT_EQ(p->width(), 2);
    ASSERT_EQ(p->height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(p->raw()[y * 2 + x] & 0xFFFFFFu, (unsigned)(x * 100) << 16 | (unsigned)(y * 60) << 8 | 7u)
                << x << "," << y;
}

// Inputs that once crashed, hung or ran away with memory: each must fail or
// load, and nothing else.
TEST(DocLoaderMalformed, SavedInputsLoadOrFailCleanly) {
    // Boxes nested past the reader's depth and a block that inflates past
    // what a document may hold are refused; so is the fuzzer's document
    // with the alignment byte 255, whose block of language 1 is a deflate
    // stream cut short; and so is the picture of 1,000 scans drawn cropped,
    // whose decoder would hold more than the documents may, and the picture
    // of 65,535 layers, whose packets its decoder would walk for seconds.
    const std::string folder = qortest::dataPath("hdoc/malformed");
    const std::pair<std::string, bool> kept[] = {{"alignment-byte-255", false},
                                                 {"deep-nesting-200000", false},
                                                 {"inflates-to-100MiB", false},
                                                 {"slow-picture-of-1000-scans-3816x3816-cropped.doc", false},
                                                 {"slow-picture-of-65535-layers.doc", false}};
    std::vector<std::string> names;
    for (const auto& k : kept) names.push_back(k.first);
    EXPECT_TRUE(qortest::holdsInputs(folder, names));
    for (const auto& [name, loads] : kept) {
        cSiDocLoader loader;
        const bool loaded = loadFile(loader, folder + "/" + name);
        EXPECT_EQ(loaded, loads) << name;
        if (loaded) {
            // A loadable one must also lay out.
            qortest::cRecordingCanvas canvas;
            for (int lang = 0; lang < 256; ++lang) {
                if (cSiDocContainer* root = loader.forLang(lang)) {
                    sSiDocDrawProps props;
                    props.widthLimit = 400;
                    sSize size;
                    root->draw(&canvas, props, size);
                }
            }
        }
    }
}

}  // namespace
