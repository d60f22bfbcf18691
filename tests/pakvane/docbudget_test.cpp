// Payloads whose documents ask for far more than their size, checked as
// pkgmake --check reads them (one thread), with every allocation of the
// program counted (allocmeter.h): a 16384 x 16384 TIFF of strips that share
// one deflate stream, four of them, three documents of a million line
// breaks.  Each is refused with the reason in its message, holding no more
// than the documents' budget; the documents of a payload share that budget
// however many there are.
#include <gtest/gtest.h>

#include <string>

#include "allocmeter.h"
#include "base/memio.h"
#include "pakvane/payloadcheck.h"
#include "pakvane/scenario.h"
#include "testsupport.h"

namespace {

class PayloadDocuments : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new qortest::TempDir;
        int st = -1;
        const std::string gen = std::string(QOR_SOURCE_DIR) + "/tests/cihlpdoc/make_doc_budget.py";
        const std::string out = qortest::runPython(qortest::readFile(gen), dir->path(), &st);
        ASSERT_EQ(st, 0) << out;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }

    struct sChecked {
        bool ok = false;
        sPayloadFault fault;
        long long peak = 0;
        std::string message;
    };
    static sChecked check(const char* name, cSoftPkgScenario& s) {
        const std::string bytes = qortest::readFile(dir->file(name));
        cBufWrapperIO in(reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                         static_cast<long long>(bytes.size()), false);
        sPayloadOptions options;
        options.threads = 1;
        sChecked c;
        qortest::AllocMeter meter;
        c.ok = verifyPayloadStream(&in, true, s, options);
        c.peak = meter.peak();
        c.fault = options.fault;
        c.message = describePayloadFault(options.fault, name);
        return c;
    }
    static qortest::TempDir* dir;
};
qortest::TempDir* PayloadDocuments::dir = nullptr;

constexpr long long kMiB = 1 << 20;

TEST_F(PayloadDocuments, HostilePayloadsAreRefusedWithinTheDocumentsBudget) {
    const struct {
        const char* file;
        const char* reason;
        long long most;
    } cases[] = {
        // No pixel is decoded: the work is refused by the probe's size.
        {"tiff16k.data", "more work than the 256 MiB", 4 * kMiB},
        {"tiff16k_x4.data", "more work than the 256 MiB", 4 * kMiB},
        // Boxes up to the budget, with the body the payload inflates to.
        {"br1m_x3.data", "more than the 64 MiB", static_cast<long long>(kMaxHdocHeldBytes) + 8 * kMiB},
    };
    for (const auto& c : cases) {
        cSoftPkgScenario s;
        const sChecked got = check(c.file, s);
        EXPECT_FALSE(got.ok) << c.file;
        EXPECT_EQ(got.fault.cause, sPayloadFault::badScenario) << c.file;
        EXPECT_NE(got.message.find(c.reason), std::string::npos) << got.message;
        EXPECT_LE(got.peak, c.most) << c.file;
    }
}

// A payload of 204 bytes whose document draws a sequential JPEG of 1,000
// scans (3816 x 3816) cropped in a 64 x 64 box (tests/data/hdoc/payload,
// make_multiscan_inputs.py): the picture is charged its decoder's
// coefficients, more than the documents may hold, before one is laid out.
TEST_F(PayloadDocuments, CroppedPictureOfManyScansIsRefusedBeforeItIsDecoded) {
    const std::string path = qortest::dataPath("hdoc/payload/slow-picture-of-1000-scans-3816x3816-cropped.data");
    const std::string bytes = qortest::readFile(path);
    ASSERT_LT(bytes.size(), 1024u);
    cBufWrapperIO in(reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                     static_cast<long long>(bytes.size()), false);
    sPayloadOptions options;
    options.threads = 1;
    cSoftPkgScenario s;
    qortest::AllocMeter meter;
    EXPECT_FALSE(verifyPayloadStream(&in, true, s, options));
    EXPECT_LT(meter.peak(), 4 * kMiB);
    EXPECT_EQ(options.fault.cause, sPayloadFault::badScenario);
    EXPECT_NE(describePayloadFault(options.fault, "p").find("more than the 64 MiB"), std::string::npos);
}

// A payload of 156 bytes whose welcome document draws a codestream of
// 65,535 layers of 4,096 precincts (tests/data/hdoc/payload,
// make_jp2_cost_inputs.py): pkgmake --check took 10.5 s and 535 MB on it.
// The picture is refused before the library starts; checked in a child
// held to a minute of processor time.
TEST_F(PayloadDocuments, CheckOfAPictureOfManyLayersIsRefusedAtOnce) {
    EXPECT_TRUE(qortest::withinCpuSeconds(60, [] {
        const std::string bytes = qortest::readFile(qortest::dataPath("hdoc/payload/slow-picture-of-65535-layers.data"));
        ASSERT_EQ(bytes.size(), 156u);
        cBufWrapperIO in(reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                         static_cast<long long>(bytes.size()), false);
        sPayloadOptions options;
        options.threads = 1;
        cSoftPkgScenario s;
        qortest::AllocMeter meter;
        EXPECT_FALSE(verifyPayloadStream(&in, true, s, options));
        EXPECT_LT(meter.peak(), 2 * kMiB);
        EXPECT_EQ(options.fault.cause, sPayloadFault::badScenario);
        EXPECT_NE(describePayloadFault(options.fault, "p").find("a picture in a document is not one"),
                  std::string::npos);
    }));
}

// Packing a scenario whose welcome document draws that codestream (pkgmake
// took 42 s and 537 MB) fails at once with the document's error; the same
// scenario drawing a codestream of that size with its packets paid for
// compiles.  In a child held to a minute of processor time.
TEST_F(PayloadDocuments, PackingAPictureOfManyLayersFailsAtOnce) {
    int status = -1;
    const std::string paid = qortest::runCommand(
        qortest::python3() + " -c \"import sys; sys.path.insert(0, '" QOR_SOURCE_DIR "/tests/picts'); "
                             "import make_jp2_cost_inputs as m; sys.stdout.buffer.write(m.many_layers(32))\"",
        &status);
    ASSERT_EQ(status, 0);
    qortest::writeFile(dir->file("layers.j2k"),
                       qortest::readFile(qortest::dataPath("jp2/malformed/slow-65535-layers-of-4096-precincts-in-90-bytes.j2k")));
    qortest::writeFile(dir->file("paid.j2k"), paid);
    qortest::writeFile(dir->file("eula.hdl"), "Licence.");
    qortest::writeFile(dir->file("eula.idx"), "ENG=\"./eula.hdl\"\n");
    for (const char* picture : {"paid.j2k", "layers.j2k"}) {
        const std::string stem = std::string(picture).substr(0, std::string(picture).find('.'));
        qortest::writeFile(dir->file(stem + ".hdl"), std::string("<img src=./") + picture + " w=64 h=64>");
        qortest::writeFile(dir->file(stem + ".idx"), "ENG=\"./" + stem + ".hdl\"\n");
        qortest::writeFile(dir->file(stem + ".txt"), "[General]\nlangs = ENG\n[Software]\ncodename = \"demo\"\n"
                                                     "eula = \"" + dir->file("eula.idx") + "\"\n"
                                                     "welcome = \"" + dir->file(stem + ".idx") + "\"\n");
    }
    EXPECT_TRUE(qortest::withinCpuSeconds(60, [] {
        cSoftPkgScenario good;
        int line = 0;
        EXPECT_EQ(good.loadTextConfig(dir->file("paid.txt").c_str(), line), 0);
        ASSERT_NE(good.welcome(), nullptr);
        cSoftPkgScenario bad;
        qortest::AllocMeter meter;
        EXPECT_EQ(bad.loadTextConfig(dir->file("layers.txt").c_str(), line), 19);
        EXPECT_LT(meter.peak(), 2 * kMiB);
    }));
}

// One document of 200,000 line breaks loads; three of them do not, though
// each would alone: the budget is the payload's, not each document's.
TEST_F(PayloadDocuments, DocumentsOfAPayloadShareOneBudget) {
    cSoftPkgScenario one;
    const sChecked single = check("br200k_x1.data", one);
    ASSERT_TRUE(single.ok) << single.message;
    ASSERT_NE(one.welcome(), nullptr);
    EXPECT_EQ(one.welcome()->count(), 200000u);
    const std::size_t held = one.documentBudget().held();
    EXPECT_GT(held * 3, kMaxHdocHeldBytes);
    EXPECT_LE(single.peak, static_cast<long long>(one.documentBudget().peak()) + 8 * kMiB);

    cSoftPkgScenario three;
    const sChecked all = check("br200k_x3.data", three);
    EXPECT_FALSE(all.ok);
    EXPECT_NE(all.message.find("its documents need more than the 64 MiB"), std::string::npos) << all.message;
}

}  // namespace
