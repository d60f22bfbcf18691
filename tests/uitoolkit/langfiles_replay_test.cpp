// The language-file search and reader over folders made by their fuzz entry
// (exactly the files with the asked tag found, each as it loads): its
// seeds, and every input that once failed it.
#define FUZZ_FAIL(message) throw qortest::FuzzFailure(message)
#include "fuzzreplay.h"

#define LLVMFuzzerTestOneInput fuzzLangFiles
#include "../../fuzz/FuzzLangFiles.cpp"
#undef LLVMFuzzerTestOneInput

TEST(LangFilesReplay, SeedsAndSavedInputsHoldTheEntrysChecks) {
    qortest::replaySeeds("LangFiles", fuzzLangFiles, 5);
    qortest::replayFolder("langblob/files/malformed", fuzzLangFiles, 0);
}
