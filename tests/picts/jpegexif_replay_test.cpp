// The EXIF reader through the fuzz entry's checks (any EXIF block leaves the
// JPEG around it decodable; a thumbnail only where the probe announced one):
// its seeds, and every input that once failed it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"
#include "picttest.h"

#define LLVMFuzzerTestOneInput fuzzJpegExif
#include "../../fuzz/FuzzJpegExif.cpp"
#undef LLVMFuzzerTestOneInput

TEST(JpegExifReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    // The entry decodes the JPEG it builds around each input twice, the
    // picture with its thumbnail and the thumbnail alone, each on a budget
    // of that JPEG's bytes (the input and some 200 more).
    auto metered = [](const uint8_t* data, size_t size) {
        picttest::ScansOfInput scans(size + 256, 2);
        fuzzJpegExif(data, size);
        EXPECT_FALSE(scans.meter.refusedWork) << size << " bytes";
    };
    qortest::replaySeeds("JpegExif", metered, 6);
    qortest::replayFolder("jpeg/exif/malformed", metered, 2);
}
