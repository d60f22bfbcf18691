// JPEG decoding compared with Pillow's decode of the same files (Pillow and
// the decoder both sit on Debian's libjpeg-turbo with its default islow DCT
// and fancy upsampling, so the pixels must match exactly); damaged files
// fail quietly; the entry for containers reads from the middle of a stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

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

}  // namespace

TEST_F(JpegFiles, BaselineProgressiveAndGreyDecodeLikePillow) {
    adaptertest::decodeAllLikeReferences<cPictJPEG>(dir_->path(), *index_);
}

TEST_F(JpegFiles, OnePictureDecodingFileAfterFileGivesEachItsOwnPixels) {
    // Each file twice in a row (the second decode writes over pixels of the
    // same size), then the next file of another size; a cut file in between
    // fails and leaves no picture behind.
    cPictJPEG pict;
    const Bytes good = file("jpeg_progressive420.jpg");
    const Bytes cut(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    for (const auto& entry : *index_) {
        SCOPED_TRACE(entry.first);
        const picttest::Reference ref = this->ref(entry.first.substr(0, entry.first.size() - 4));
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(adaptertest::decodes<cPictJPEG>(file(entry.first), &pict));
            EXPECT_TRUE(picttest::samePixels(pict, ref));
        }
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

TEST(JpegMalformed, SavedInputsReplay) { adaptertest::replayMalformed<cPictJPEG>("jpeg"); }

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
