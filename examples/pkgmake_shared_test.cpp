// pkgmake run by root on outputs in folders another user can write to:
// through the scenes of plantedfolders.h, what the kernel's rules would not
// let it take is refused before anything is packed; of the files named like
// a killed run's temporary files only its own go, every other is named.
#include "plantedfolders.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

namespace {

// Packs a package of one file into `output`: true when it was made; `said`
// gets all pkgmake printed.
bool pack(const qortest::TempDir& dir, const std::string& output, std::string& said) {
    int status = -1;
    mkdir(dir.file("docs").c_str(), 0700);
    if (!qortest::writeFile(dir.file("a"), "data") || !qortest::writeFile(dir.file("docs/e.hdl"), "Licence.") ||
        !qortest::writeFile(dir.file("docs/e.idx"), "ENG = \"./e.hdl\"\n") ||
        !qortest::writeFile(dir.file("s.txt"), "[General]\nlangs = ENG\n[Software]\ncodename = \"x\"\n"
                                               "eula = \"docs/e.idx\"\n[Install]\n\"a\" = $pgm \"a\"\n"))
        return false;
    said = qortest::runCommand("'" PKGMAKE "' '" + dir.file("s.txt") + "' '" + output + "' 2>&1", &status);
    return status == 0;
}

TEST(PkgmakeShared, RefusesWhatAnotherUserPlantedBeforePacking) {
    if (geteuid() != 0) GTEST_SKIP() << "planting files as another user needs root";
    qortest::TempDir dir;
    qortest::checkPlantedScenes([&](const auto& given, const auto& plant, auto& said) {
        const bool ok = plant() && pack(dir, given, said);
        EXPECT_TRUE(ok || said.find("packing") == std::string::npos) << said;
        return ok;
    }, "QORSOPKG");
}

TEST(PkgmakeShared, RemovesOnlyItsOwnLeftoversAndNamesTheRest) {
    qortest::TempDir dir;
    auto name = [](int n) { return ".out.data.3999999." + std::to_string(n) + ".tmp"; };
    qortest::checkLeftovers(dir.path(), name, std::string("QORSOPKG\x01payload"), [&] {
        std::string said;
        EXPECT_TRUE(pack(dir, dir.file("out.data"), said)) << said;
        std::map<std::string, std::string> warned;
        std::istringstream lines(said);
        for (std::string l; std::getline(lines, l);) {
            const std::size_t at = l.find(", ");
            if (l.rfind("warning: removed ", 0) == 0) warned[l.substr(17, at - 17)] = "removed";
            if (l.rfind("warning: kept ", 0) == 0) warned[l.substr(14, at - 14)] = l.substr(l.find(": ", at) + 2);
        }
        return warned;
    });
}

}  // namespace
