// Leftover temporary files of replacements: only one provably a dead
// writer's of this user goes (a regular file of ours, one link, its lock
// free, holding nothing or the start of the format); everything else named
// alike stays, byte for byte, with the reason.
#include "base/fileio.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

namespace {

// What lies at path without following it: "file:<bytes>", "link:<where>",
// "other" or "none".
std::string whatIsAt(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "none";
    if (S_ISLNK(st.st_mode)) {
        char buf[4096];
        const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
        return "link:" + std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return S_ISREG(st.st_mode) ? "file:" + qortest::readFile(path) : "other";
}

TEST(ReplacementLeftovers, OnlyProvablyOwnDeadFilesGo) {
    qortest::TempDir dir;
    const std::string target = dir.file("out.data");
    ASSERT_TRUE(qortest::writeFile(target, "the output"));
    static const char kFormat[] = "QORSOPKG";
    const bool root = geteuid() == 0;
    struct Case {
        std::string name;
        bool removed;
        const char* why;  // what the reason holds when kept
    };
    // The second number makes each name one that a temporary of out.data
    // may have; its writer (3999999) is no process.
    auto temp = [](int n) { return ".out.data.3999999." + std::to_string(n) + ".tmp"; };
    std::vector<Case> cases = {
        {temp(1), true, nullptr},                                       // empty
        {temp(2), true, nullptr},                                       // the format's start and more
        {temp(3), true, nullptr},                                       // as much of the magic as was written
        {temp(4), false, "does not hold what such a file holds"},       // a report of the user's
        {temp(5), false, "does not hold what such a file holds"},       // a magic that differs at its end
        {temp(6), false, "other names"},                                // a second name elsewhere
        {temp(7), false, "still running"},                              // its lock held
        {temp(8), false, "not a regular file"},                         // a link
        {temp(9), false, "not a regular file"},                         // a named pipe
        {temp(10), false, "not a regular file"},                        // a folder
        {temp(11), false, "user nobody (uid 65534)"},                   // nobody's, holding the format
        {".out.data.tmp", false, nullptr},                              // not such a name: not looked at
        {".out.data.1.tmp", false, nullptr},
    };
    if (!root) cases.erase(cases.begin() + 10);
    ASSERT_TRUE(qortest::writeFile(dir.file(temp(1)), ""));
    ASSERT_TRUE(qortest::writeFile(dir.file(temp(2)), std::string(kFormat) + "\x01payload"));
    ASSERT_TRUE(qortest::writeFile(dir.file(temp(3)), "QORS"));
    ASSERT_TRUE(qortest::writeFile(dir.file(temp(4)), "my report"));
    ASSERT_TRUE(qortest::writeFile(dir.file(temp(5)), "QORSOPKX and more"));
    ASSERT_TRUE(qortest::writeFile(dir.file(temp(6)), kFormat));
    ASSERT_EQ(link(dir.file(temp(6)).c_str(), dir.file("elsewhere").c_str()), 0);
    ASSERT_TRUE(qortest::writeFile(dir.file(temp(7)), kFormat));
    const int held = open(dir.file(temp(7)).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    ASSERT_EQ(symlink(target.c_str(), dir.file(temp(8)).c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file(temp(9)).c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.file(temp(10)).c_str(), 0700), 0);
    if (root) {
        ASSERT_TRUE(qortest::writeFile(dir.file(temp(11)), kFormat));
        ASSERT_EQ(chown(dir.file(temp(11)).c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(qortest::writeFile(dir.file(".out.data.tmp"), ""));
    ASSERT_TRUE(qortest::writeFile(dir.file(".out.data.1.tmp"), ""));
    std::map<std::string, std::string> before;
    for (const Case& c : cases) before[c.name] = whatIsAt(dir.file(c.name));

    std::vector<cReplacementFile::sLeftover> found;
    ASSERT_TRUE(cReplacementFile::removeStaleTemporaries(target.c_str(), kFormat, 8, found));
    close(held);
    std::map<std::string, const cReplacementFile::sLeftover*> byName;
    for (const auto& l : found) byName[l.path] = &l;
    for (const Case& c : cases) {
        const auto it = byName.find(dir.file(c.name));
        if (!c.removed && !c.why) {
            EXPECT_EQ(it, byName.end()) << c.name;
        } else {
            ASSERT_NE(it, byName.end()) << c.name;
            EXPECT_EQ(it->second->removed, c.removed) << c.name;
            EXPECT_EQ(it->second->inUse, c.name == temp(7)) << c.name;
            if (c.why) {
                EXPECT_NE(it->second->kept.find(c.why), std::string::npos) << c.name << ": " << it->second->kept;
            }
        }
        EXPECT_EQ(whatIsAt(dir.file(c.name)), c.removed ? "none" : before[c.name]) << c.name;
    }
    EXPECT_EQ(found.size(), cases.size() - 2);
    EXPECT_EQ(qortest::readFile(target), "the output");
    EXPECT_EQ(qortest::readFile(dir.file("elsewhere")), kFormat);
}

// Nothing about the bytes given: only an empty file can be told ours.
TEST(ReplacementLeftovers, WithoutAFormatOnlyAnEmptyFileGoes) {
    qortest::TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("empty"), ""));
    ASSERT_TRUE(qortest::writeFile(dir.file("full"), "x"));
    const int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    std::string why = "unset";
    EXPECT_TRUE(removeOwnLeftover(folder, "empty", nullptr, 0, &why));
    EXPECT_EQ(why, "");
    EXPECT_FALSE(removeOwnLeftover(folder, "full", nullptr, 0, &why));
    EXPECT_NE(why.find("does not hold"), std::string::npos) << why;
    EXPECT_FALSE(removeOwnLeftover(folder, "absent", nullptr, 0, &why));
    close(folder);
    EXPECT_EQ(qortest::namesIn(dir.path()), (std::vector<std::string>{"full"}));
}

}  // namespace
