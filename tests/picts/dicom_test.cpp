// DICOM decoding compared with the source pictures that gdcmimg wrapped
// (8-, 12- and 16-bit grey, RGB, implicit VR, and the same data sets
// without their preamble) and with Pillow's decode of the JPEG data that
// gdcmconv put in baseline JPEG files; lossless JPEG is refused; each probe
// takes only its own form; damaged and hostile files fail quietly.
#include <gtest/gtest.h>

#include "adaptertest.h"
#include "picts/pictdicom.h"

using adaptertest::Bytes;

namespace {

struct DicomKind {
    static const char* kind() { return "dicom"; }
};
// The files with a preamble and the legacy (.acr) ones apart.
class DicomFiles : public picttest::GeneratedFiles<DicomKind, picttest::AdapterScript> {
protected:
    static void SetUpTestSuite() {
        GeneratedFiles::SetUpTestSuite();
        for (const auto& e : *index_) (e.first.find(".acr") != std::string::npos ? legacy_ : preamble_).push_back(e);
    }
    static inline std::vector<std::pair<std::string, int> > preamble_, legacy_;
};

// The value offset of the first (0028,xxxx) element `element` written with
// an explicit US VR, or of an implicit one (4-byte length 2).
std::size_t usValueOffset(const Bytes& b, unsigned element) {
    for (std::size_t i = 0; i + 10 < b.size(); ++i) {
        if (b[i] == 0x28 && b[i + 1] == 0x00 && b[i + 2] == (element & 0xFF) && b[i + 3] == (element >> 8)) {
            if (b[i + 4] == 'U' && b[i + 5] == 'S') return i + 8;
            if (b[i + 4] == 2 && b[i + 5] == 0 && b[i + 6] == 0 && b[i + 7] == 0) return i + 8;
        }
    }
    return 0;
}

}  // namespace

TEST_F(DicomFiles, FilesWithPreambleDecodeLikeTheirSources) {
    adaptertest::decodeAllLikeReferences<cPictDICOM>(dir_->path(), preamble_);
}

TEST_F(DicomFiles, DataSetsWithoutPreambleDecodeLikeTheirSources) {
    adaptertest::decodeAllLikeReferences<cPictDICOMLegacy>(dir_->path(), legacy_);
}

TEST_F(DicomFiles, EachProbeTakesOnlyItsOwnForm) {
    const Bytes withPreamble = file("dicom_grey8.dcm"), without = file("dicom_grey8.acr");
    EXPECT_TRUE(adaptertest::probes<cPictDICOM>(withPreamble));
    EXPECT_FALSE(adaptertest::probes<cPictDICOMLegacy>(withPreamble));
    EXPECT_TRUE(adaptertest::probes<cPictDICOMLegacy>(without));
    EXPECT_FALSE(adaptertest::probes<cPictDICOM>(without));
    // 132 zero bytes: neither.
    const Bytes zeros(300, 0);
    EXPECT_FALSE(adaptertest::probes<cPictDICOM>(zeros));
    EXPECT_FALSE(adaptertest::probes<cPictDICOMLegacy>(zeros));
}

TEST_F(DicomFiles, DamagedFilesFailQuietly) {
    for (const char* name : {"dicom_grey16.dcm", "dicom_rgb8_jpeg.dcm", "dicom_grey8_implicit.dcm"}) {
        SCOPED_TRACE(name);
        adaptertest::damagedFormsFail<cPictDICOM>(file(name));
    }
    adaptertest::damagedFormsFail<cPictDICOMLegacy>(file("dicom_grey8.acr"), 37, 23);
}

// Lossless JPEG (8, 12 and 16 bits) has no decoder here that survives
// damaged data: it is recognised and refused.
TEST_F(DicomFiles, LosslessJpegIsRecognisedAndRefused) {
    for (const char* name :
         {"dicom_refused_grey8_jpegll.dcm", "dicom_refused_grey12_jpegll.dcm", "dicom_refused_grey16_jpegll.dcm"}) {
        SCOPED_TRACE(name);
        const Bytes b = file(name);
        EXPECT_TRUE(adaptertest::probes<cPictDICOM>(b));
        cPictDICOM pict;
        EXPECT_FALSE(adaptertest::decodes<cPictDICOM>(b, &pict));
        EXPECT_EQ(pict.width(), 0);
    }
}

TEST_F(DicomFiles, SizesPastTheDataOrTheCapFail) {
    // Rows and Columns rewritten: larger than the pixel data, and 65535 x
    // 65535 (past the library's pixel cap).
    for (unsigned value : {40u, 65535u}) {
        for (const char* name : {"dicom_grey8.dcm", "dicom_grey8_jpeg.dcm"}) {
            SCOPED_TRACE(std::string(name) + " with rows and columns " + std::to_string(value));
            Bytes b = file(name);
            const std::size_t rows = usValueOffset(b, 0x0010), cols = usValueOffset(b, 0x0011);
            ASSERT_NE(rows, 0u);
            ASSERT_NE(cols, 0u);
            for (std::size_t at : {rows, cols}) {
                b[at] = static_cast<unsigned char>(value);
                b[at + 1] = static_cast<unsigned char>(value >> 8);
            }
            const std::string said = adaptertest::stderrDuring([&] { EXPECT_FALSE(adaptertest::decodes<cPictDICOM>(b)); });
            EXPECT_EQ(said, "");
        }
    }
}

// Each data set declares its size (columns x rows); all five are DICOM
// files with a preamble, which the reader of headerless files does not take.
// The JPEG frame whose thumbnails nest 300 deep decodes (costs_test.cpp).
TEST(DicomMalformed, SavedInputsReplay) {
    const char* const names[] = {"gdcm-jpeg16-assert.dcm", "huge-j2k-frame-16384x16384-in-382-bytes.dcm",
                                 "slow-j2k-frame-of-29127-tiles.dcm", "slow-sequential-1000-scans-3816x3816.dcm",
                                 "huge-jpeg-frame-of-nested-thumbnails-300-deep-2048x2048.dcm"};
    adaptertest::replayMalformed<cPictDICOM>("dicom", {adaptertest::refusedAfterProbe(names[0], 25, 11),
                                                       adaptertest::refusedAfterProbe(names[1], 16384, 16384),
                                                       adaptertest::refusedAfterProbe(names[2], 29, 18),
                                                       adaptertest::refusedAfterProbe(names[3], 3816, 3816),
                                                       adaptertest::decodedAt(names[4], 2048, 2048)});
    std::vector<adaptertest::KeptInput> legacy;
    for (const char* name : names) legacy.push_back(adaptertest::refusedByProbe(name));
    adaptertest::replayMalformed<cPictDICOMLegacy>("dicom", legacy);
}
