// What a document's pictures and boxes cost, counted: every allocation of
// this program goes through the meter of allocmeter.h.  A picture is decoded
// as no more than the part its boxes draw (compared with Pillow's decode of
// the same file), documents that share a budget hold no more than it allows
// and give back what they held, and the budget's own count bounds what the
// heap really handed out.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "allocmeter.h"
#include "cihlpdoc/sidocloader.h"
#include "recordingcanvas.h"
#include "testsupport.h"

namespace {

std::string script(const char* name) { return std::string(QOR_SOURCE_DIR) + "/tests/cihlpdoc/" + name; }

void le(std::string& s, unsigned long long v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// A picture record of image 0 in a box of w x h (0xFFFF: natural).
std::string pictureRecord(unsigned w, unsigned h) {
    std::string r(1, '\x01');
    le(r, 0xFFFFFFFFu, 4);
    r.push_back('\0');
    le(r, 0, 8);
    le(r, w, 2);
    le(r, h, 2);
    le(r, 0, 2);
    return r;
}

// A document of language 0 holding these records and one picture file.
std::string documentOf(const std::string& records, const std::string& picture) {
    const std::string plain = records + '\xFF';
    uLongf n = compressBound(static_cast<uLong>(plain.size()));
    std::string z(n, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &n, reinterpret_cast<const Bytef*>(plain.data()),
              static_cast<uLong>(plain.size()), 9);
    z.resize(n);
    std::string d = "QORHDOCF";
    d.push_back('\0');
    le(d, z.size(), 4);
    d += z + '\xFF';
    le(d, 0, 8);
    le(d, picture.size() + 4, 4);
    le(d, picture.size(), 4);
    return d + picture;
}

bool load(cSiDocLoader& l, const std::string& doc, const std::shared_ptr<cSiDocBudget>& budget = nullptr) {
    return l.load(reinterpret_cast<const unsigned char*>(doc.data()), static_cast<long long>(doc.size()), budget);
}

class DocBudget : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new qortest::TempDir;
        int st = -1;
        std::string out = qortest::runPython(qortest::readFile(script("make_doc_pictures.py")), dir->path(), &st);
        ASSERT_EQ(st, 0) << out;
        out = qortest::runPython(qortest::readFile(script("make_doc_budget.py")), dir->path(), &st);
        ASSERT_EQ(st, 0) << out;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    static std::string file(const char* name) { return qortest::readFile(dir->file(name)); }
    static qortest::TempDir* dir;
};
qortest::TempDir* DocBudget::dir = nullptr;

// Each format, drawn whole, cut by one side or both, or in a box larger than
// itself: the picture kept is the top-left part the box shows, pixel for
// pixel what Pillow decodes there, and the box still measures by the whole.
TEST_F(DocBudget, PictureIsKeptAsThePartItsBoxDraws) {
    const int W = 37, H = 23;
    const struct {
        unsigned w, h;
    } boxes[] = {{0xFFFF, 0xFFFF}, {10, 5}, {10, 0xFFFF}, {0xFFFF, 7}, {50, 50}, {36, 23}};
    qortest::cRecordingCanvas canvas;
    for (const char* ext : {"png", "bmp", "gif", "tif", "ppm", "tga", "pcx"}) {
        const std::string pic = file((std::string("pic.") + ext).c_str());
        const std::string rgb = file((std::string("pic.") + ext + ".rgb").c_str());
        ASSERT_EQ(rgb.size(), static_cast<std::size_t>(W * H * 3)) << ext;
        for (const auto& b : boxes) {
            const int cw = b.w == 0xFFFF ? W : std::min<int>(W, static_cast<int>(b.w));
            const int ch = b.h == 0xFFFF ? H : std::min<int>(H, static_cast<int>(b.h));
            cSiDocLoader loader;
            ASSERT_TRUE(load(loader, documentOf(pictureRecord(b.w, b.h), pic))) << ext << " " << b.w << "x" << b.h;
            cPicture* p = loader.picture(0);
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(p->width(), cw) << ext << " " << b.w << "x" << b.h;
            ASSERT_EQ(p->height(), ch) << ext << " " << b.w << "x" << b.h;
            int wrong = 0;
            for (int y = 0; y < ch; ++y)
                for (int x = 0; x < cw; ++x) {
                    const unsigned char* o = reinterpret_cast<const unsigned char*>(&rgb[(y * W + x) * 3]);
                    const unsigned want = static_cast<unsigned>(o[0]) << 16 | o[1] << 8 | o[2];
                    if ((p->raw()[y * cw + x] & 0xFFFFFFu) != want) ++wrong;
                }
            EXPECT_EQ(wrong, 0) << ext << " " << b.w << "x" << b.h;
            auto* box = dynamic_cast<cSiDocImage*>(loader.forLang(0)->child(0));
            ASSERT_NE(box, nullptr);
            sSiDocDrawProps props;
            sSize size;
            ASSERT_TRUE(box->wantsSize(&canvas, props, size));
            const bool fixed = b.w != 0xFFFF && b.h != 0xFFFF;
            EXPECT_EQ(size.w, fixed ? static_cast<int>(b.w) : W) << ext;
            EXPECT_EQ(size.h, fixed ? static_cast<int>(b.h) : H) << ext;
        }
    }
}

// One picture in two boxes is kept as the larger part either draws; a
// picture no box draws is recognised but not decoded, and a file that is
// no picture fails the load all the same.
TEST_F(DocBudget, PictureIsDecodedOnceForAllItsBoxesAndNotAtAllForNone) {
    const std::string pic = file("pic.png");
    cSiDocLoader loader;
    ASSERT_TRUE(load(loader, documentOf(pictureRecord(10, 0xFFFF) + pictureRecord(4, 15), pic)));
    ASSERT_NE(loader.picture(0), nullptr);
    EXPECT_EQ(loader.picture(0)->width(), 10);
    EXPECT_EQ(loader.picture(0)->height(), 23);
    ASSERT_TRUE(load(loader, documentOf("", pic)));
    EXPECT_EQ(loader.pictureCount(), 0u);
    EXPECT_FALSE(load(loader, documentOf("", "not a picture at all")));
    EXPECT_EQ(loader.fault(), cSiDocLoader::lfPicture);
}

// A 4096 x 4096 picture (64 MiB as 32-bit pixels) in a 64 x 32 box costs a
// small part of that; drawn whole it is more than a document may hold and is
// refused before it is decoded.  The 16384 x 16384 TIFF of strips that share
// one deflate stream asks more work than any payload's documents may have,
// and is refused without a pixel decoded, in whatever box.
TEST_F(DocBudget, LargePicturesCostTheirDrawnPartOrAreRefusedUndecoded) {
    const long long whole = 4096LL * 4096 * 4;
    {
        const std::string doc = file("png4k_box.doc");
        cSiDocLoader loader;
        qortest::AllocMeter meter;
        ASSERT_TRUE(load(loader, doc));
        EXPECT_LT(meter.peak(), whole / 16);
        ASSERT_NE(loader.picture(0), nullptr);
        EXPECT_EQ(loader.picture(0)->width(), 64);
        EXPECT_EQ(loader.picture(0)->height(), 32);
    }
    for (const char* name : {"png4k_whole.doc", "tiff16k_box.doc"}) {
        const std::string doc = file(name);
        auto budget = std::make_shared<cSiDocBudget>();
        cSiDocLoader loader;
        qortest::AllocMeter meter;
        EXPECT_FALSE(load(loader, doc, budget)) << name;
        EXPECT_LT(meter.peak(), 4 << 20) << name;
        EXPECT_EQ(loader.fault(), cSiDocLoader::lfOverBudget) << name;
        EXPECT_EQ(budget->overrun(), name[0] == 'p' ? cSiDocBudget::ovMemory : cSiDocBudget::ovWork) << name;
        EXPECT_FALSE(loader.describeFault().empty());
    }
}

// A picture drawn cropped costs the work of decoding it: the 1,000-scan
// sequential JPEG of 3816 x 3816 in a 64 x 64 box (make_multiscan_inputs.py)
// would have libjpeg hold 87 MB of coefficients, more than a document may
// hold, and is refused before they are laid out or a scan is read.
TEST_F(DocBudget, CroppedPictureIsChargedItsDecodersScansAndCoefficients) {
    const std::string doc =
        qortest::readFile(qortest::dataPath("hdoc/malformed/slow-picture-of-1000-scans-3816x3816-cropped.doc"));
    ASSERT_FALSE(doc.empty());
    auto budget = std::make_shared<cSiDocBudget>();
    cSiDocLoader loader;
    qortest::AllocMeter meter;
    EXPECT_FALSE(load(loader, doc, budget));
    EXPECT_EQ(loader.fault(), cSiDocLoader::lfOverBudget);
    EXPECT_EQ(budget->overrun(), cSiDocBudget::ovMemory);
    EXPECT_LT(meter.peak(), 4 << 20);
    // The decoded picture's pixels were charged as work before.
    EXPECT_GE(budget->spent(), 3816ull * 3816 * 4);
}

// A codestream's decoder charges the documents' budget the work its
// headers and packet headers declare (make_jp2_cost_inputs.py writes them):
// a document drawing one spends the bytes it inflates (twice: counted, then
// made) and probes, four a pixel the decoder reads, and exactly what the
// decoder charges a meter alone; a budget short of a unit refuses the load
// as work.  The picture of
// 65,535 layers of 4,096 precincts (8 s and 532 MB in the library) is
// refused before the library starts, in a child held to a minute of
// processor time.
TEST_F(DocBudget, CodestreamPicturesChargeTheirDecodersWork) {
    int status = -1;
    const std::string j2k = qortest::runCommand(
        qortest::python3() + " -c \"import sys; sys.path.insert(0, '" QOR_SOURCE_DIR "/tests/picts'); "
                             "import make_jp2_cost_inputs as m; "
                             "sys.stdout.buffer.write(m.shape(seed=5, **m.SHAPES['precincts'])[0])\"",
        &status);
    ASSERT_EQ(status, 0);
    cPictBase::sDecodeMeter meter;
    cPictBase::sDecodeMeter* before = cPictBase::setDecodeMeter(&meter);
    ASSERT_NE(cSiDocLoader::decodePicture(reinterpret_cast<const unsigned char*>(j2k.data()), j2k.size()), nullptr);
    cPictBase::setDecodeMeter(before);
    ASSERT_GT(meter.work, 70u * 50 * 2);
    const std::string records = pictureRecord(0xFFFF, 0xFFFF);
    const std::string doc = documentOf(records, j2k);
    auto budget = std::make_shared<cSiDocBudget>();
    cSiDocLoader loader;
    ASSERT_TRUE(load(loader, doc, budget));
    const unsigned long long spent = budget->spent();
    EXPECT_EQ(spent, 2 * (records.size() + 1) + j2k.size() + 70 * 50 * 4 + meter.work);
    auto short_ = std::make_shared<cSiDocBudget>(kMaxHdocHeldBytes, spent - 1);
    cSiDocLoader refused;
    EXPECT_FALSE(load(refused, doc, short_));
    EXPECT_EQ(refused.fault(), cSiDocLoader::lfOverBudget);
    EXPECT_EQ(short_->overrun(), cSiDocBudget::ovWork);
    EXPECT_TRUE(qortest::withinCpuSeconds(60, [] {
        const std::string layers =
            qortest::readFile(qortest::dataPath("hdoc/malformed/slow-picture-of-65535-layers.doc"));
        ASSERT_EQ(layers.size(), 139u);
        auto b = std::make_shared<cSiDocBudget>();
        cSiDocLoader many;
        qortest::AllocMeter m;
        EXPECT_FALSE(load(many, layers, b));
        EXPECT_EQ(many.fault(), cSiDocLoader::lfPicture);
        EXPECT_LT(m.peak(), 1 << 20);
    }));
}

// Documents that share a budget hold it together: two documents of 200,000
// line breaks fit, a third does not; destroying one gives its bytes back,
// while the work done stays spent.  The budget's count is what the heap
// handed out, at most.
TEST_F(DocBudget, DocumentsSharingABudgetHoldItTogetherAndGiveItBack) {
    std::string records;
    for (int i = 0; i < 200000; ++i) {
        std::string br(1, '\0');
        le(br, 0xFFFFFFFFu, 4);
        br.push_back('\x01');
        le(br, 0, 8);
        le(br, 0xFFFFFFFFu, 4);  // natural width and height
        le(br, 0xFFFFFFFFu, 4);  // inherited colour
        le(br, 0xFFFF, 2);       // inherited font
        le(br, 0, 2);            // no text
        records += br;
    }
    const std::string doc = documentOf(records, file("pic.png"));
    auto budget = std::make_shared<cSiDocBudget>();
    cSiDocLoader one, two, three;
    qortest::AllocMeter meter;
    ASSERT_TRUE(load(one, doc, budget));
    const std::size_t single = budget->held();
    EXPECT_LE(meter.held(), static_cast<long long>(single));
    EXPECT_LE(meter.peak(), static_cast<long long>(budget->peak()) + (64 << 10));
    EXPECT_GT(single * 3, kMaxHdocHeldBytes);
    EXPECT_LT(single * 2 + records.size(), kMaxHdocHeldBytes);
    ASSERT_TRUE(load(two, doc, budget));
    EXPECT_EQ(budget->held(), 2 * single);
    EXPECT_FALSE(load(three, doc, budget));
    EXPECT_EQ(three.fault(), cSiDocLoader::lfOverBudget);
    EXPECT_EQ(budget->overrun(), cSiDocBudget::ovMemory);
    three.destroy();
    EXPECT_EQ(budget->held(), 2 * single);
    const unsigned long long spent = budget->spent();
    one.destroy();
    EXPECT_EQ(budget->held(), single);
    EXPECT_EQ(budget->spent(), spent);
    EXPECT_TRUE(load(three, doc, budget));
    EXPECT_EQ(budget->held(), 2 * single);
    EXPECT_GT(budget->spent(), spent);
}

}  // namespace
