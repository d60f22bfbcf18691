// JPEG decoding compared with Pillow's decode of the same files (Pillow and
// the decoder both sit on Debian's libjpeg-turbo with its default islow DCT
// and fancy upsampling, so the pixels must match exactly), from every kind
// of stream; damaged files fail quietly; the entry for containers reads
// from the middle of a stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <jpeglib.h>

#include "adaptertest.h"
#include "base/memio.h"
#include "picts/pictjpeg.h"

using adaptertest::Bytes;

namespace {

struct JpegKind {
    static const char* kind() { return "jpeg"; }
};
class JpegFiles : public picttest::GeneratedFiles<JpegKind, picttest::AdapterScript> {};

// The offset of the frame header's height field (SOFn: marker, length,
// precision, then height and width as big-endian u16).
std::size_t sofSizeOffset(const Bytes& b) {
    for (std::size_t i = 2; i + 9 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] >= 0xC0 && b[i + 1] <= 0xCF && b[i + 1] != 0xC4 && b[i + 1] != 0xC8 &&
            b[i + 1] != 0xCC)
            return i + 5;
    }
    return 0;
}

// A form Pillow cannot write, made with the library's own encoder: restart
// markers every `interval` MCUs or every `rows` rows of MCUs.
struct MadeForm {
    const char* name;
    int width, height, components;
    int hSampling, vSampling;  // of the first component; the others 1 x 1
    bool progressive;
    int interval, rows;
    int noise;  // 0..255: how much of each sample is random (larger files)
};

Bytes makeJpeg(const MadeForm& f) {
    std::vector<unsigned char> px(static_cast<std::size_t>(f.width) * f.height * f.components);
    unsigned seed = 99;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x)
            for (int c = 0; c < f.components; ++c) {
                seed = seed * 1103515245u + 12345u;
                const int smooth = (x * 255 / f.width * (c + 1) + y * 255 / f.height * (3 - c)) / 4;
                const int v = smooth + static_cast<int>((seed >> 16) % static_cast<unsigned>(f.noise + 1)) - f.noise / 2;
                px[(static_cast<std::size_t>(y) * f.width + x) * f.components + c] =
                    static_cast<unsigned char>(std::min(255, std::max(0, v)));
            }
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&c, &out, &outSize);
    c.image_width = static_cast<JDIMENSION>(f.width);
    c.image_height = static_cast<JDIMENSION>(f.height);
    c.input_components = f.components;
    c.in_color_space = f.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    c.comp_info[0].h_samp_factor = f.hSampling;
    c.comp_info[0].v_samp_factor = f.vSampling;
    for (int k = 1; k < c.num_components; ++k) c.comp_info[k].h_samp_factor = c.comp_info[k].v_samp_factor = 1;
    c.restart_interval = static_cast<unsigned>(f.interval);
    c.restart_in_rows = f.rows;
    if (f.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &px[static_cast<std::size_t>(c.next_scanline) * f.width * f.components];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes b(out, out + outSize);
    std::free(out);
    return b;
}

// The streams a JPEG reaches the decoder through: a block of memory read in
// place (whole, through a window on a larger block, or a few hundred bytes
// at a time), and streams whose bytes are copied (paged memory; a pipe-like
// stream of unknown size, read 64 KB at a time).
enum StreamKind { kWhole, kWindow, kDribble, kPaged, kUnsized, kStreamKinds };
const char* const kStreamNames[] = {"memory", "window", "dribble", "paged", "unsized"};

class cDribbleIO : public cBufWrapperIO {
public:
    cDribbleIO(unsigned char* p, long long n) : cBufWrapperIO(p, n, false) {}
    std::size_t readInPlace(const unsigned char*& out, std::size_t most) override {
        return cBufWrapperIO::readInPlace(out, std::min<std::size_t>(most, 333));
    }
    // Bytes that could be had in place are never copied (a read at the end
    // is how the end is found).
    unsigned int read(void* buf, unsigned int n) override {
        const unsigned int got = cBufWrapperIO::read(buf, n);
        if (got != 0) ADD_FAILURE() << "copied from a block of memory";
        return got;
    }
};

class cCopyOnlyIO : public cBufWrapperIO {
public:
    cCopyOnlyIO(unsigned char* p, long long n) : cBufWrapperIO(p, n, false) {}
    long long size() override { return -1; }
    std::size_t readInPlace(const unsigned char*&, std::size_t) override { return 0; }
};

// Decodes b through a stream of that kind: whether it decoded, into pict,
// with the bytes the decoder says it used.
bool decodeThrough(StreamKind kind, const Bytes& b, cPictJPEG& pict, unsigned long long& used) {
    unsigned char* p = const_cast<unsigned char*>(b.data());
    const long long n = static_cast<long long>(b.size());
    bool ok = false;
    switch (kind) {
        case kWhole: {
            cBufWrapperIO io(p, n, false);
            ok = pict.decode(&io);
            break;
        }
        case kWindow: {
            Bytes all(77 + b.size() + 40, 0xD9);
            std::fill(all.begin(), all.begin() + 77, 0x42);
            std::copy(b.begin(), b.end(), all.begin() + 77);
            cBufWrapperIO parent(all.data(), static_cast<long long>(all.size()), false);
            cFileIOSubRange window(&parent, 77, b.size());
            ok = pict.decode(&window);
            break;
        }
        case kDribble: {
            cDribbleIO io(p, n);
            ok = pict.decode(&io);
            break;
        }
        case kPaged: {
            cMemIOTarget io(4096);
            if (!io.fromBuffer(b.data(), n)) return false;
            ok = pict.decode(&io);
            break;
        }
        default: {
            cCopyOnlyIO io(p, n);
            ok = pict.decode(&io);
            break;
        }
    }
    used = pict.parser().bytesConsumed();
    return ok;
}

}  // namespace

// Every generated file and the forms made here (restart markers at every
// subsampling, in a progressive file, in grey, and a file larger than a
// piece of input) through every kind of stream: Pillow's pixels, the bytes
// used up to the end marker; cut short inside the data, a failure that
// used no byte past the cut.
TEST_F(JpegFiles, EveryStreamGivesPillowsPixelsWithAndWithoutRestartMarkers) {
    const MadeForm made[] = {
        {"made_restart420", 203, 97, 3, 2, 2, false, 1, 0, 40},
        {"made_restart422", 150, 70, 3, 2, 1, false, 0, 1, 40},
        {"made_restart444", 61, 45, 3, 1, 1, false, 7, 0, 40},
        {"made_restartgrey", 77, 131, 1, 1, 1, false, 5, 0, 40},
        {"made_restartprog", 180, 140, 3, 2, 2, true, 2, 0, 40},
        {"made_large420", 640, 400, 3, 2, 2, false, 0, 2, 255},
        {"made_largeprog", 480, 360, 3, 1, 1, true, 0, 0, 255},
    };
    std::vector<std::string> names;
    std::string args;
    for (const MadeForm& f : made) {
        const Bytes b = makeJpeg(f);
        const Bytes dri = {0xFF, 0xDD};
        EXPECT_EQ(std::search(b.begin(), b.end(), dri.begin(), dri.end()) != b.end(), f.interval || f.rows) << f.name;
        const std::string name = std::string(f.name) + ".jpg";
        std::FILE* out = std::fopen(dir_->file(name).c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(b.data(), 1, b.size(), out), b.size());
        std::fclose(out);
        names.push_back(name);
        args += " " + name;
    }
    int status = -1;
    const std::string said = qortest::runCommand(qortest::python3() + " " QOR_SOURCE_DIR
                                                 "/tests/picts/make_adapter_images.py pillow-refs " +
                                                     dir_->path() + args + " 2>&1",
                                                 &status);
    ASSERT_EQ(status, 0) << said;
    for (const auto& entry : *index_) names.push_back(entry.first);
    bool large = false;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const Bytes b = file(name);
        const picttest::Reference ref = this->ref(stem(name));
        large = large || b.size() > 64 * 1024;
        for (int k = 0; k < kStreamKinds; ++k) {
            SCOPED_TRACE(kStreamNames[k]);
            cPictJPEG pict;
            unsigned long long used = 0;
            ASSERT_TRUE(decodeThrough(static_cast<StreamKind>(k), b, pict, used));
            EXPECT_TRUE(picttest::samePixels(pict, ref));
            EXPECT_EQ(used, b.size());
            for (const std::size_t keep : {b.size() / 2, b.size() * 3 / 4}) {
                SCOPED_TRACE(keep);
                const Bytes cut(b.begin(), b.begin() + static_cast<long>(keep));
                cPictJPEG broken;
                EXPECT_FALSE(decodeThrough(static_cast<StreamKind>(k), cut, broken, used));
                EXPECT_LE(used, keep);
                EXPECT_EQ(broken.raw8Bpp(), nullptr);
            }
        }
    }
    // The input came in more than one piece somewhere.
    EXPECT_TRUE(large);
}

TEST_F(JpegFiles, BaselineProgressiveAndGreyDecodeLikePillow) {
    adaptertest::decodeAllLikeReferences<cPictJPEG>(dir_->path(), *index_);
}

TEST_F(JpegFiles, OnePictureDecodingFileAfterFileGivesEachItsOwnPixels) {
    // Each file twice in a row (the second decode writes over the pixels of
    // the first, in the same buffer), then the next file of another size; a
    // cut file in between fails and leaves no picture behind.
    cPictJPEG pict;
    const Bytes good = file("jpeg_progressive420.jpg");
    const Bytes cut(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    for (const auto& entry : *index_) {
        SCOPED_TRACE(entry.first);
        const picttest::Reference ref = this->ref(entry.first.substr(0, entry.first.size() - 4));
        const unsigned int* first = nullptr;
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(adaptertest::decodes<cPictJPEG>(file(entry.first), &pict));
            EXPECT_TRUE(picttest::samePixels(pict, ref));
            if (round == 0) first = pict.raw8Bpp();
        }
        EXPECT_EQ(pict.raw8Bpp(), first);
        EXPECT_FALSE(adaptertest::decodes<cPictJPEG>(cut, &pict));
        EXPECT_EQ(pict.width(), 0);
        EXPECT_EQ(pict.raw8Bpp(), nullptr);
    }
}

TEST_F(JpegFiles, DamagedFilesFailQuietly) {
    for (const char* name : {"jpeg_base420.jpg", "jpeg_progressive.jpg"}) {
        SCOPED_TRACE(name);
        adaptertest::damagedFormsFail<cPictJPEG>(file(name));
    }
}

TEST_F(JpegFiles, OversizedFrameIsRefusedBeforeAllocating) {
    Bytes b = file("jpeg_base444.jpg");
    const std::size_t at = sofSizeOffset(b);
    ASSERT_NE(at, 0u);
    // 65535 x 65535 pixels: past the library's pixel cap, and the data could
    // never fill it.
    b[at] = b[at + 1] = b[at + 2] = b[at + 3] = 0xFF;
    EXPECT_FALSE(adaptertest::probes<cPictJPEG>(b));
    EXPECT_FALSE(adaptertest::decodes<cPictJPEG>(b));
}

// A progressive file whose last scan is repeated: a few repeats decode (the
// library only warns about the bogus progression), past the scan bound the
// decode fails instead of reworking the coefficients for ever.
TEST_F(JpegFiles, EndlessProgressiveScansAreCut) {
    const Bytes good = file("jpeg_greyprog.jpg");
    std::size_t lastScan = 0;
    for (std::size_t i = 0; i + 1 < good.size(); ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xDA) lastScan = i;
    ASSERT_GT(lastScan, 0u);
    ASSERT_EQ(good[good.size() - 2], 0xFF);
    ASSERT_EQ(good[good.size() - 1], 0xD9);
    const Bytes scan(good.begin() + static_cast<long>(lastScan), good.end() - 2);
    for (const int repeats : {5, 1200}) {
        SCOPED_TRACE(repeats);
        Bytes b(good.begin(), good.end() - 2);
        for (int r = 0; r < repeats; ++r) b.insert(b.end(), scan.begin(), scan.end());
        b.push_back(0xFF);
        b.push_back(0xD9);
        EXPECT_EQ(adaptertest::decodes<cPictJPEG>(b), repeats < 1000);
    }
}

TEST_F(JpegFiles, ContainerEntryReadsFromTheStreamPositionAndCountsBytes) {
    const Bytes jpeg = file("jpeg_base422.jpg");
    const picttest::Reference ref = picttest::readReference(dir_->file("jpeg_base422.ref"));
    // The JPEG data sits after 77 bytes of a container and before its tail.
    Bytes all(77 + jpeg.size() + 40, 0x17);
    std::fill(all.begin(), all.begin() + 77, 0x42);
    std::copy(jpeg.begin(), jpeg.end(), all.begin() + 77);
    cBufWrapperIO io(all.data(), static_cast<long long>(all.size()), false);
    ASSERT_TRUE(io.set_fp(77));
    cPictDummy into;
    unsigned long long consumed = 0;
    ASSERT_TRUE(cPictJPEG::decodeFrom(&io, into, &consumed));
    EXPECT_TRUE(picttest::samePixels(into, ref));
    // Everything up to and including the end-of-image marker, nothing after.
    EXPECT_EQ(consumed, jpeg.size());

    // Cut short inside the scan data: failure, and the count stays within
    // the bytes that were there.
    Bytes cut(all.begin(), all.begin() + 77 + static_cast<long>(jpeg.size() / 2));
    cBufWrapperIO io2(cut.data(), static_cast<long long>(cut.size()), false);
    ASSERT_TRUE(io2.set_fp(77));
    cPictJPEG dec;
    EXPECT_FALSE(dec.decode(&io2));
    EXPECT_GT(dec.parser().bytesConsumed(), 0u);
    EXPECT_LE(dec.parser().bytesConsumed(), jpeg.size() / 2);
    EXPECT_EQ(dec.width(), 0);
}

// Decoding into a render target draws what the core's own fitting of the
// decoded picture draws: the same pixels at scale 1, the same margins when
// the picture is shrunk.
TEST_F(JpegFiles, RenderTargetGetsWhatTheBufferPathFits) {
    struct Case {
        const char* name;
        long long tw, th;
    };
    for (const Case& c : {Case{"jpeg_progressive420.jpg", 140, 100}, Case{"jpeg_tall.jpg", 9, 75},
                          Case{"jpeg_progressive420.jpg", 31, 19}, Case{"jpeg_tall.jpg", 5, 20}}) {
        SCOPED_TRACE(std::string(c.name) + " into " + std::to_string(c.tw) + "x" + std::to_string(c.th));
        const Bytes b = file(c.name);
        cPictJPEG full;
        ASSERT_TRUE(adaptertest::decodes<cPictJPEG>(b, &full));
        const bool fits = full.width() <= c.tw && full.height() <= c.th;
        const unsigned int bg = 0xFF00FF00u;  // no JPEG pixel here has alpha below 0xFF and pure green
        std::vector<unsigned int> want(static_cast<std::size_t>(c.tw * c.th)), got(want.size(), 0x12345678u);
        cPictBase::sExtPictDef t1;
        t1.pixels = want.data();
        t1.width = c.tw;
        t1.height = c.th;
        t1.background = bg;
        ASSERT_TRUE(full.toExtTarget(&t1));
        cPictBase::sExtPictDef t2 = t1;
        t2.pixels = got.data();
        cPictJPEG streamed;
        ASSERT_TRUE(streamed.setExtTarget(&t2));
        ASSERT_TRUE(adaptertest::decodes<cPictJPEG>(b, &streamed));
        EXPECT_EQ(streamed.raw8Bpp(), nullptr);
        if (fits) {
            EXPECT_EQ(got, want);
        } else {
            for (std::size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i] == bg, want[i] == bg) << "at " << i;
        }
    }
}

// The EXIF block's values against Pillow's reading of them, the thumbnail
// against Pillow's decode of it.
TEST_F(JpegFiles, ExifValuesAndThumbnailMatchPillow) {
    const Bytes b = file("jpeg_exif.jpg");
    cPictBase::sPictInfo info;
    ASSERT_TRUE(adaptertest::probes<cPictJPEG>(b, &info));
    EXPECT_TRUE(info.hasPreview);
    cPictJPEG pict;
    ASSERT_TRUE(adaptertest::decodes<cPictJPEG>(b, &pict));
    std::ifstream props(dir_->file("jpeg_exif.props"));
    std::string key, value;
    int seen = 0;
    while (props >> key && std::getline(props >> std::ws, value)) {
        SCOPED_TRACE(key + " = " + value);
        ++seen;
        if (key == "orientation") {
            // 6: the stored picture is shown turned a quarter clockwise.
            ASSERT_EQ(value, "6");
            ASSERT_NE(pict.getPropInt(cPictBase::epRotation), nullptr);
            EXPECT_EQ(pict.getPropInt(cPictBase::epRotation)->value, 90);
            EXPECT_EQ(pict.getPropInt(cPictBase::epMirror)->value, 0);
            continue;
        }
        const auto id = static_cast<cPictBase::eExProps>(std::stoi(key));
        cPictProp* p = pict.getProp(id, false);
        ASSERT_NE(p, nullptr);
        switch (cPictBase::kindOf(id)) {
            case cPictProp::pkString: EXPECT_STREQ(pict.getPropString(id)->value.c_str(), value.c_str()); break;
            case cPictProp::pkInt: EXPECT_EQ(pict.getPropInt(id)->value, std::stoi(value)); break;
            case cPictProp::pkDouble: EXPECT_NEAR(pict.getPropDouble(id)->value, std::stod(value), 1e-9); break;
            case cPictProp::pkTimestamp: {
                const sTimestamp& t = pict.getPropTimestamp(id)->value;
                char text[32];
                std::snprintf(text, sizeof text, "%04u:%02u:%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour,
                              t.minute, t.second);
                EXPECT_EQ(value, text);
                break;
            }
            default: ADD_FAILURE() << "unexpected kind";
        }
    }
    EXPECT_EQ(seen, 16);
    const picttest::Reference thumb = picttest::readReference(dir_->file("jpeg_exif_thumb.ref"));
    cPictBase* stored = pict.getPropImage(cPictBase::epPreview) ? pict.getPropImage(cPictBase::epPreview)->value : nullptr;
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(picttest::samePixels(*stored, thumb));
    cBufWrapperIO io(const_cast<unsigned char*>(b.data()), static_cast<long long>(b.size()), false);
    cPictDummy preview;
    ASSERT_TRUE(pict.getPreview(&io, preview, nullptr, nullptr));
    EXPECT_TRUE(picttest::samePixels(preview, thumb));
    // Files without EXIF have no preview.
    EXPECT_TRUE(adaptertest::probes<cPictJPEG>(file("jpeg_base444.jpg"), &info));
    EXPECT_FALSE(info.hasPreview);
}

TEST(JpegProbe, RefusesOtherFormatsAndBareMarkers) {
    const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13};
    const Bytes soiOnly = {0xFF, 0xD8};
    const Bytes soiEoi = {0xFF, 0xD8, 0xFF, 0xD9};
    for (const Bytes* b : {&png, &soiOnly, &soiEoi}) {
        EXPECT_FALSE(adaptertest::probes<cPictJPEG>(*b));
        EXPECT_FALSE(adaptertest::decodes<cPictJPEG>(*b));
    }
}

// The EXIF one is a sound 40 x 30 picture around a damaged EXIF block; the
// progressive one's frame claims 65299 rows.  The sequential ones of many
// scans (make_multiscan_inputs.py) are refused past their budget; the one
// whose thumbnail is such a file is an 8 x 8 picture without a preview.
// Those of thumbnails nested in thumbnails (make_thumbnail_inputs.py) are
// pictures of 2048 x 2048, with a thumbnail or without (costs_test.cpp).
TEST(JpegMalformed, SavedInputsReplay) {
    adaptertest::replayMalformed<cPictJPEG>(
        "jpeg", {adaptertest::decodedAt("exif-iso-past-int.jpg", 40, 30),
                 adaptertest::refusedAfterProbe("slow-progressive-231x65299-in-491-bytes.jpg", 231, 65299),
                 adaptertest::refusedAfterProbe("slow-sequential-1000-scans-3816x3816.jpg", 3816, 3816),
                 adaptertest::refusedAfterProbe("huge-sequential-2-scans-5300x5300.jpg", 5300, 5300),
                 adaptertest::decodedAt("slow-sequential-thumbnail-1000-scans-3816x3816.jpg", 8, 8),
                 adaptertest::decodedAt("huge-thumbnails-nested-50-deep-2048x2048.jpg", 2048, 2048),
                 adaptertest::decodedAt("huge-thumbnails-nested-300-deep-2048x2048.jpg", 2048, 2048),
                 adaptertest::decodedAt("huge-thumbnail-2048x2048-of-a-2048x2048-picture.jpg", 2048, 2048)});
}

// The fuzzer's EXIF block (big-endian) stores the pixel width 0xA002 as the
// LONG 0xFFD8FFE0, past int: it comes out as the largest int, where a plain
// conversion is undefined (and gives INT_MIN on x86).  Its ISO is the SHORT
// 400, its orientation the SHORT 0xF805, which is none of 1 to 8.
TEST(JpegMalformed, ExifNumbersPastIntAreClamped) {
    const Bytes b = picttest::readBytes(qortest::dataPath("jpeg/malformed/exif-iso-past-int.jpg"));
    cPictJPEG pict;
    ASSERT_TRUE(adaptertest::decodes<cPictJPEG>(b, &pict));
    ASSERT_NE(pict.getPropInt(cPictBase::epMetaWidth), nullptr);
    EXPECT_EQ(pict.getPropInt(cPictBase::epMetaWidth)->value, 2147483647);
    ASSERT_NE(pict.getPropInt(cPictBase::epISOSpeed), nullptr);
    EXPECT_EQ(pict.getPropInt(cPictBase::epISOSpeed)->value, 400);
    EXPECT_EQ(pict.getPropInt(cPictBase::epRotation), nullptr);
}
