// The JPEG 2000 and icon-family decoders through their fuzz entries' own
// runs (the probe, the plain decode, a small render target; every page and
// preview of a family): their seeds and every input kept for them, the
// codestreams whose work once had no bytes behind it included.  Each
// folder is replayed in a child held to ten seconds of processor time, a
// hundred times what the replay takes in the sanitizers' build: such a cost,
// come back (a minute and more), fails the test instead of hanging it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzJp2
#include "../../fuzz/FuzzJp2.cpp"
#undef LLVMFuzzerTestOneInput

#define LLVMFuzzerTestOneInput fuzzIcns
#include "../../fuzz/FuzzIcns.cpp"
#undef LLVMFuzzerTestOneInput

TEST(Jp2Replay, SeedsAndSavedInputsRunThroughTheEntries) {
    EXPECT_TRUE(qortest::withinCpuSeconds(10, [] {
        qortest::replaySeeds("Jp2", fuzzJp2, 23);
        qortest::replayFolder("jp2/malformed", fuzzJp2, 8);
    }));
    EXPECT_TRUE(qortest::withinCpuSeconds(10, [] {
        qortest::replaySeeds("Icns", fuzzIcns, 4);
        qortest::replayFolder("icns/malformed", fuzzIcns, 2);
    }));
}
