// A payload whose document holds a camera raw picture that crashed LibRaw
// when the probe handed it over: the payload is made here the way an
// attacker would (compiled around a good DNG of the same length, the bytes
// swapped in the body, the body digested again).  Loading it decodes the
// document's pictures; LibRaw, which develops the good DNG, must not read a
// byte of the bad one.  The kept copy of it is made by this test with
// QOR_WRITE_RAW_PAYLOAD set to its path.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "../../fuzz/payloadref.h"
#include "base/memio.h"
#include "pakvane/scenario.h"
#include "picts/pictraw.h"
#include "testsupport.h"

namespace {

// The crash input wrapped, and the name of its payload.
const char* const kRawInput = "raw/malformed/crash-cfa-pattern-in-fuji-table.dng";
const char* const kPayload = "scenario/malformed/document-picture-crashing-libraw.data";

// The body of a payload as saved: the bytes after the 49-byte header,
// inflated.
std::string bodyOf(const std::string& payload) {
    bool ended = false;
    return payload.size() > 49 ? zlibReference(payload.substr(49), 1u << 24, ended) : std::string();
}

// Loads the payload: whether it loaded, and the most work LibRaw did on a
// stream meanwhile (0: it read nothing).
bool loads(const std::string& payload, long long& libRawWork) {
    cBufWrapperIO in(const_cast<char*>(payload.data()), static_cast<long long>(payload.size()), false);
    cSoftPkgScenario s;
    cPictRawBase::largestStreamWork(true);
    const bool ok = s.loadBinConfig(&in);
    libRawWork = cPictRawBase::largestStreamWork(true);
    return ok;
}

}  // namespace

TEST(PayloadRawPicture, ADocumentPictureThatCrashedLibRawFailsTheLoadQuietly) {
    qortest::TempDir d;
    int status = -1;
    const std::string made = qortest::runCommand(qortest::python3() + " " QOR_SOURCE_DIR
                                                 "/tests/picts/make_raw_images.py walk " + d.file("raw") + " 2>&1",
                                                 &status);
    ASSERT_EQ(status, 0) << made;
    std::string good = qortest::readFile(d.file("raw/walk_plain.dng"));
    std::string bad = qortest::readFile(qortest::dataPath(kRawInput));
    ASSERT_FALSE(good.empty());
    ASSERT_FALSE(bad.empty());
    // Trailing bytes change neither TIFF.
    const std::size_t n = std::max(good.size(), bad.size());
    good.resize(n, '\0');
    bad.resize(n, '\0');
    ASSERT_EQ(mkdir(d.file("docs").c_str(), 0755), 0);
    ASSERT_TRUE(qortest::writeFile(d.file("docs/pic.dng"), good));
    ASSERT_TRUE(qortest::writeFile(d.file("docs/pic_en.hdl"), "<img src=./pic.dng>"));
    ASSERT_TRUE(qortest::writeFile(d.file("docs/pic.idx"), "ENG=\"./pic_en.hdl\"\n"));
    ASSERT_TRUE(qortest::writeFile(d.file("s.txt"), "[General]\nlangs = ENG\n[Software]\ncodename=\"c\"\neula=\"" +
                                                         d.file("docs/pic.idx") + "\"\n"));
    cSoftPkgScenario s;
    int line = 0;
    ASSERT_EQ(s.loadTextConfig(d.file("s.txt").c_str(), line), 0) << line;
    cMemIOTarget out;
    ASSERT_TRUE(s.saveBinConfig(&out));
    std::string saved(static_cast<std::size_t>(out.size()), '\0');
    ASSERT_TRUE(out.set_fp(0) && out.readf(&saved[0], static_cast<unsigned int>(saved.size())));
    long long work = 0;
    EXPECT_TRUE(loads(saved, work));
    EXPECT_GT(work, 0);  // the good DNG is LibRaw's
    std::string body = bodyOf(saved);
    const std::size_t at = body.find(good);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(body.find(good, at + 1), std::string::npos);
    body.replace(at, n, bad);
    const std::string payload =
        payloadOfBody(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
    EXPECT_LT(payload.size(), 4096u);
    // No decoder takes the picture, so its document and the payload do not
    // load; LibRaw never reads it.
    const bool loaded = loads(payload, work);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(work, 0);
    if (const char* keep = std::getenv("QOR_WRITE_RAW_PAYLOAD")) {
        ASSERT_TRUE(qortest::writeFile(keep, payload));
    }
    // The kept payload holds the same picture and loads the same way.
    const std::string kept = qortest::readFile(qortest::dataPath(kPayload));
    ASSERT_FALSE(kept.empty());
    EXPECT_NE(bodyOf(kept).find(bad), std::string::npos);
    EXPECT_EQ(loads(kept, work), loaded);
    EXPECT_EQ(work, 0);
}
