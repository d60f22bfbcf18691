// The EXIF reader through the fuzz entry's checks (any EXIF block leaves the
// JPEG around it decodable; a thumbnail only where the probe announced one):
// its seeds, and every input that once failed it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzJpegExif
#include "../../fuzz/FuzzJpegExif.cpp"
#undef LLVMFuzzerTestOneInput

TEST(JpegExifReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("JpegExif", fuzzJpegExif, 5);
    qortest::replayFolder("jpeg/exif/malformed", fuzzJpegExif, 1);
}
