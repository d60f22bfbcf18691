// A decoder that decodes into a picture holding one of the same pixel count
// writes over those pixels instead of asking for new memory (counted here
// at the allocator), and the pixels are the new picture's as Pillow reads
// it; 24-bit rows of every width, whose conversion runs four pixels at a
// time with a plain tail, come out as Pillow reads them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "picts/pictdib.h"
#include "picts/pictpng.h"
#include "picts/picttga.h"
#include "picttest.h"

// Arrays of two megabytes or more (only pixel buffers are that large here).
static std::atomic<long> gBigArrays{0};

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    if (n >= (2u << 20)) ++gBigArrays;
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n) {
    if (void* p = operator new[](n, std::nothrow)) return p;
    throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using picttest::Bytes;

// Pillow writes every input and its reference: pictures a and b of 1100 x
// 700, c of 700 x 1100 (the same count), small of 30 x 20, in each format;
// and 24-bit TGA (plain and run-length) and BMP rows of widths 1 to 40.
const char* kScript = R"(
import os, random, struct, sys
from PIL import Image
out = sys.argv[1]
rng = random.Random(11)
index = []
def ref(im, name):
    rgba = im.convert('RGBA')
    data = rgba.tobytes()
    with open(os.path.join(out, name + '.ref'), 'wb') as f:
        f.write(struct.pack('<II', *rgba.size))
        f.write(struct.pack('>%dH' % len(data), *[v * 257 for v in data]))
def picture(w, h, mode):
    # Smooth bands broken by noise in places, so that run-length packets of
    # both kinds occur.
    band = Image.linear_gradient('L').resize((w, h))
    noise = Image.effect_noise((w, h), 60 + rng.randrange(40))
    mask = Image.effect_noise((w, h), 90).point(lambda v: 255 if v > 160 else 0)
    channels = [Image.composite(noise.rotate(90 * i, expand=False), band, mask) for i in range(len(mode))]
    return Image.merge(mode, channels)
def save(im, name, **kw):
    path = os.path.join(out, name)
    im.save(path, **kw)
    back = Image.open(path)
    back.load()
    ref(back, name.rsplit('.', 1)[0])
    index.append(name)
for tag, (w, h) in (('a', (1100, 700)), ('b', (1100, 700)), ('c', (700, 1100)), ('small', (30, 20))):
    rgb = picture(w, h, 'RGB')
    save(rgb, 'png_%s.png' % tag)
    save(rgb, 'tga_%s.tga' % tag)
    save(picture(w, h, 'RGBA'), 'tgarle_%s.tga' % tag, rle=True)
    save(rgb, 'bmp_%s.bmp' % tag)
for w in range(1, 41):
    rgb = picture(w, 3, 'RGB')
    save(rgb, 'row24_%d.tga' % w)
    save(rgb, 'row24rle_%d.tga' % w, rle=True)
    save(rgb, 'row24_%d.bmp' % w)
with open(os.path.join(out, 'index.txt'), 'w') as f:
    f.write('\n'.join(index) + '\n')
)";

class Reuse : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new qortest::TempDir;
        const std::string script = dir_->file("make.py");
        if (std::FILE* f = std::fopen(script.c_str(), "w")) {
            std::fputs(kScript, f);
            std::fclose(f);
        }
        int status = -1;
        const std::string out = qortest::runCommand(qortest::python3() + " " + script + " " + dir_->path() + " 2>&1", &status);
        ASSERT_EQ(status, 0) << out;
    }
    static void TearDownTestSuite() { delete dir_; }
    static Bytes file(const std::string& name) { return picttest::readBytes(dir_->file(name)); }
    static picttest::Reference ref(const std::string& name) {
        return picttest::readReference(dir_->file(name.substr(0, name.rfind('.')) + ".ref"));
    }

    // a, b, c, small and a again into one decoder: b and c are written over
    // a's pixels, small takes a buffer too small to count, and a after it
    // needs its buffer again.
    template <typename D>
    static void expectWrittenOver(const std::string& prefix, const std::string& ext) {
        SCOPED_TRACE(prefix);
        D d;
        const char* order[] = {"a", "b", "c", "small", "a"};
        const long wanted[] = {1, 0, 0, 0, 1};
        for (int i = 0; i < 5; ++i) {
            const std::string name = prefix + "_" + order[i] + ext;
            SCOPED_TRACE(name);
            const Bytes b = file(name);
            ASSERT_FALSE(b.empty());
            gBigArrays = 0;
            ASSERT_TRUE(picttest::decodeBytes(b, d));
            EXPECT_EQ(gBigArrays.load(), wanted[i]);
            EXPECT_TRUE(picttest::samePixels(d, ref(name)));
        }
        // A picture decoded afresh after a failed decode is whole as well.
        Bytes cut = file(prefix + "_b" + ext);
        cut.resize(cut.size() / 2);
        EXPECT_FALSE(picttest::decodeBytes(cut, d));
        ASSERT_TRUE(picttest::decodeBytes(file(prefix + "_b" + ext), d));
        EXPECT_TRUE(picttest::samePixels(d, ref(prefix + "_b" + ext)));
    }

    static inline qortest::TempDir* dir_ = nullptr;
};

}  // namespace

TEST_F(Reuse, PicturesOfTheSameCountAreWrittenOverThePixelsBefore) {
    expectWrittenOver<cPictPNG>("png", ".png");
    expectWrittenOver<cPictTGA>("tga", ".tga");
    expectWrittenOver<cPictTGA>("tgarle", ".tga");
    expectWrittenOver<cPictBMP>("bmp", ".bmp");
}

TEST_F(Reuse, TwentyFourBitRowsOfEveryWidthDecodeLikePillow) {
    for (int w = 1; w <= 40; ++w) {
        for (const std::string name : {"row24_", "row24rle_"}) {
            const std::string f = name + std::to_string(w) + ".tga";
            SCOPED_TRACE(f);
            cPictTGA tga;
            ASSERT_TRUE(picttest::decodeBytes(file(f), tga));
            EXPECT_TRUE(picttest::samePixels(tga, ref(f)));
        }
        const std::string f = "row24_" + std::to_string(w) + ".bmp";
        SCOPED_TRACE(f);
        cPictBMP bmp;
        ASSERT_TRUE(picttest::decodeBytes(file(f), bmp));
        EXPECT_TRUE(picttest::samePixels(bmp, ref(f)));
    }
}
