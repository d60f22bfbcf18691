// The property store and the picture reader: images that Pillow writes,
// their sizes and frame counts compared with exiftool's reading of the same
// files; the reader chooser over pictures, executables and text.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "base/fileio.h"
#include "base/memio.h"
#include "fuzzreplay.h"
#include "propreader/fileprops.h"
#include "testsupport.h"

#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#define LLVMFuzzerTestOneInput fuzzImageProps
#include "../../fuzz/FuzzImageProps.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

// Pulls "Key": value (number or text) out of exiftool's -j output.
std::string jsonField(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return "";
    std::size_t v = json.find_first_not_of(" ", at + key.size() + 3);
    const std::size_t end = json[v] == '"' ? json.find('"', ++v) : json.find_first_of(",\n}", v);
    return json.substr(v, end - v);
}

std::unique_ptr<cFileObjectProps> guess(std::string& bytes) {
    cBufWrapperIO io(&bytes[0], static_cast<long long>(bytes.size()), false);
    return std::unique_ptr<cFileObjectProps>(cFileObjectProps::guessObj(&io));
}

}  // namespace

TEST(SimpleImageProps, SizesPagesAndTypesAgreeWithExiftool) {
    qortest::TempDir dir;
    const std::string made = qortest::runPython(R"(
import sys
from PIL import Image
d = sys.argv[1]
im = Image.new('RGB', (640, 480), (10, 20, 30))
for x in range(640): im.putpixel((x, x * 3 // 4), (250, 250, 250))
im.save(d + '/a.png'); im.save(d + '/a.bmp'); im.save(d + '/a.pcx'); im.save(d + '/a.ppm')
im.resize((123, 45)).save(d + '/a.tga')
Image.new('RGBA', (48, 48), (1, 2, 3, 255)).save(d + '/a.ico', sizes=[(16, 16), (32, 32), (48, 48)])
frames = [Image.new('P', (33, 17), i) for i in range(3)]
frames[0].save(d + '/a.gif', save_all=True, append_images=frames[1:])
print('ok')
)", dir.path());
    ASSERT_EQ(made, "ok\n");
    struct Case {
        const char* file;
        int type;
        const char* mime;
        int w, h;   // as written, for files exiftool does not size
        int pages;  // as written; 0: the format has no pages
    } cases[] = {
        {"a.png", 10, "image/png", 640, 480, 0},  {"a.bmp", 1, "image/bmp", 640, 480, 0},
        {"a.pcx", 9, "image/x-pcx", 640, 480, 0}, {"a.ppm", 11, "image/x-portable-pixmap", 640, 480, 0},
        {"a.tga", 12, "image/x-tga", 123, 45, 0}, {"a.gif", 3, "image/gif", 33, 17, 3},
        {"a.ico", 5, "image/ico", 48, 48, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string json = qortest::runCommand("exiftool -j -n -ImageWidth -ImageHeight -FrameCount " + dir.file(c.file));
        std::string bytes = qortest::readFile(dir.file(c.file));
        auto props = guess(bytes);
        ASSERT_TRUE(props);
        EXPECT_EQ(props->typeOf(), c.type);
        EXPECT_STREQ(props->content_type(), c.mime);
        EXPECT_EQ(props->media_type(), 1);
        props->setPreviewPreferrences(0, 16);
        cBufWrapperIO io(&bytes[0], static_cast<long long>(bytes.size()), false);
        ASSERT_TRUE(props->load(&io, 0, true));
        // exiftool gives an icon's first entry; the reader the largest.
        const std::string w = jsonField(json, "ImageWidth"), h = jsonField(json, "ImageHeight");
        EXPECT_EQ(std::to_string(*props->prop_int(0)), w.empty() || c.type == 5 ? std::to_string(c.w) : w);
        EXPECT_EQ(std::to_string(*props->prop_int(1)), h.empty() || c.type == 5 ? std::to_string(c.h) : h);
        const std::string frames = jsonField(json, "FrameCount");
        if (c.pages) {
            ASSERT_NE(props->prop_int(2), nullptr);
            EXPECT_EQ(std::to_string(*props->prop_int(2)), frames.empty() ? std::to_string(c.pages) : frames);
        }
        EXPECT_FALSE(props->has_prop(3)) << "a preview limit of 0 makes none";
    }
}

TEST(SimpleImageProps, PreviewFitsTheLimitsAndFollowsThePicture) {
    qortest::TempDir dir;
    ASSERT_EQ(qortest::runPython(R"(
import sys
from PIL import Image
im = Image.new('RGB', (640, 480), (200, 0, 0))
im.paste((0, 0, 200), (0, 240, 640, 480))
im.save(sys.argv[1] + '/a.png')
print('ok')
)", dir.path()), "ok\n");
    std::string bytes = qortest::readFile(dir.file("a.png"));
    auto props = guess(bytes);
    ASSERT_TRUE(props);
    props->setPreviewPreferrences(16, 16);
    cBufWrapperIO io(&bytes[0], static_cast<long long>(bytes.size()), false);
    ASSERT_TRUE(props->load(&io, 0, true));
    cPictDummy* p = props->prop_pict(3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->width(), 16);
    EXPECT_EQ(p->height(), 12);
    // Red on top, blue below; row 0 is the bottom row.
    EXPECT_EQ(p->raw8Bpp()[0] & 0xFFFFFF, 0x0000C8u);
    EXPECT_EQ(p->raw8Bpp()[16 * 12 - 1] & 0xFFFFFF, 0xC80000u);
    // Without asking and without an embedded preview, none is made.
    props->close();
    props->setPreviewPreferrences(16, 16);
    io.set_fp(0);
    ASSERT_TRUE(props->load(&io, 0, false));
    EXPECT_FALSE(props->has_prop(3));
    EXPECT_EQ(*props->prop_int(0), 640);
}

TEST(FileObjectProps, ChooserTellsPicturesExecutablesAndTextApart) {
    std::string text = "just some words\n";
    EXPECT_FALSE(guess(text));
    EXPECT_EQ(cFileObjectProps::guessObj(nullptr), nullptr);
    std::string exe = qortest::readFile(qortest::dataPath("winexe/full64.exe"));
    auto e = guess(exe);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->typeOf(), 0);
    EXPECT_STREQ(e->default_extension(), "exe");
    // A bare device-independent bitmap has no file header: a generic image.
    std::string dib(40 + 4 * 4, '\0');
    const unsigned char head[] = {40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 32, 0};
    std::copy(head, head + sizeof head, dib.begin());
    auto d = guess(dib);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->typeOf(), 14);
    EXPECT_STREQ(d->type_name(), "Generic Image");
    EXPECT_STREQ(d->default_extension(), "pict");
    cSimpleImageProps none(nullptr);
    EXPECT_EQ(none.typeOf(), 14);
    cBufWrapperIO io(&text[0], static_cast<long long>(text.size()), false);
    EXPECT_FALSE(none.load(&io, 0, true));
}

TEST(FileObjectProps, EachIdHoldsOnlyItsOwnKind) {
    cWinExeProps p;
    // The kind of every id, and what each setter accepts.
    for (int id = -2; id <= 21; ++id) {
        SCOPED_TRACE(id);
        const int kind = cFileObjectProps::prop_type(id);
        sTimestamp t;
        t.year = 2001;
        char text[] = "t";
        cPictDummy pict;
        pict.create(2, 2, 0xFF00FF00u);
        EXPECT_EQ(p.setProp(id, 7), kind == 1);
        EXPECT_EQ(p.setProp(id, text), kind == 2);
        EXPECT_EQ(p.setProp(id, 2.5), kind == 3);
        EXPECT_EQ(p.setProp(id, &pict), kind == 4);
        EXPECT_EQ(p.setProp(id, t), kind == 5);
        EXPECT_EQ(p.has_prop(id), kind != 0);
    }
    EXPECT_EQ(cFileObjectProps::prop_type(3), 4);
    EXPECT_EQ(cFileObjectProps::prop_type(12), 5);
    EXPECT_EQ(cFileObjectProps::prop_type(16), 1);
    EXPECT_EQ(cFileObjectProps::prop_type(17), 3);
    ASSERT_TRUE(p.setProp(17, 3.0));
    EXPECT_EQ(*p.prop_float(17), 3.0);
    p.setPreviewPreferrences(3, 4);
    p.close();
    EXPECT_FALSE(p.has_prop(13) || p.has_prop(17) || p.has_prop(3));
    EXPECT_EQ(p.previewMaxWidth(), -1);
    EXPECT_EQ(p.previewMaxHeight(), -1);
}

TEST(FileObjectProps, TextsWithCountsAndNullTextsAreSafe) {
    cWinExeProps p;
    EXPECT_TRUE(p.setProp(6, nullptr, -1));
    EXPECT_TRUE(p.has_prop(6));
    EXPECT_EQ(p.prop_string(6), nullptr) << "an empty entry reads as none";
    EXPECT_TRUE(p.setProp(7, nullptr, -2));
    EXPECT_TRUE(p.setProp(8, static_cast<char*>(nullptr)));
    char text[] = "abc\0def";
    for (long long n : {2LL, 7LL, -1LL}) {
        EXPECT_TRUE(p.setProp(9, text, n));
        EXPECT_STREQ(p.prop_string(9), n == 2 ? "ab" : "abc");
    }
    EXPECT_FALSE(p.setProp(9, text, -3));
}

TEST(FileObjectProps, APictureMovesInAndReplacesTheStoredOne) {
    cWinExeProps p;
    cPictDummy a, b;
    ASSERT_TRUE(a.create(3, 2, 0xFF112233u));
    ASSERT_TRUE(b.create(5, 4, 0xFF445566u));
    ASSERT_TRUE(p.setProp(3, &a));
    EXPECT_EQ(a.raw8Bpp(), nullptr);
    ASSERT_TRUE(p.setProp(3, &b));
    EXPECT_EQ(b.raw8Bpp(), nullptr);
    ASSERT_NE(p.prop_pict(3), nullptr);
    EXPECT_EQ(p.prop_pict(3)->width(), 5);
    EXPECT_EQ(p.prop_pict(3)->raw8Bpp()[19], 0xFF445566u);
    EXPECT_FALSE(p.setProp(3, static_cast<cPictBase*>(nullptr)));
}

TEST(FileObjectProps, ObjectTypeTablesEndWhereTheyShould) {
    EXPECT_EQ(cFileObjectProps::default_extension(31), nullptr);
    EXPECT_STREQ(cFileObjectProps::content_type(31), "video/mp4");
    EXPECT_EQ(cFileObjectProps::media_type(32), 3);
    EXPECT_EQ(cFileObjectProps::type_name(33), nullptr);
    EXPECT_EQ(cFileObjectProps::media_type(33), 0);
    EXPECT_EQ(cFileObjectProps::content_type(-1), nullptr);
    EXPECT_STREQ(cFileObjectProps::default_extension(29), "tiff");
    // Every picture type maps to an image object type.
    for (int t = 0; t <= 41; ++t) EXPECT_EQ(cFileObjectProps::media_type(cSimpleImageProps::objectTypeOf(t)), 1) << t;
}

TEST(SimpleImageProps, SavedCrashInputsReplayCleanly) {
    qortest::replayFolder("propreader/malformed", fuzzImageProps, 2);
}
