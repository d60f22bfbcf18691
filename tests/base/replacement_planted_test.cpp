// The replacement file, with an unnamed temporary file and a named one,
// where another user plants links and files (the scenes of
// plantedfolders.h), and its cleanup among files named like its leftovers.
#include "base/fileio.h"

#include "plantedfolders.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

TEST(ReplacementPlanted, FollowsAndReplacesOnlyWhatTheKernelsRulesLetThrough) {
    if (geteuid() != 0) GTEST_SKIP() << "planting files as another user needs root";
    for (const bool named : {false, true}) {
        cReplacementFile::gNamedOnly = named;
        qortest::checkPlantedScenes([](const auto& given, const auto& plant, auto& said) {
            cReplacementFile f;
            const bool ok = plant() && f.begin(given.c_str()) && f.writef(const_cast<char*>("new"), 3) && f.commit();
            said = *f.refusal() ? f.refusal() : std::strerror(errno);
            return ok;
        }, "new");
    }
    cReplacementFile::gNamedOnly = false;
}

TEST(ReplacementPlanted, LeftoversGoOnlyWhenProvablyOurs) {
    qortest::TempDir dir;
    auto name = [](int n) { return ".out.data.3999999." + std::to_string(n) + ".tmp"; };
    qortest::checkLeftovers(dir.path(), name, std::string("QORSOPKG\x01payload"), [&] {
        std::vector<cReplacementFile::sLeftover> found;
        EXPECT_TRUE(cReplacementFile::removeStaleTemporaries(dir.file("out.data").c_str(), "QORSOPKG", 8, found));
        std::map<std::string, std::string> said;
        for (const auto& l : found) said[l.path] = l.removed ? "removed" : l.kept;
        return said;
    });
}

}  // namespace
