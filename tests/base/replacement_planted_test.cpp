// The replacement file against names another user planted in a folder that
// everyone may write to: links are followed and files replaced only where
// the kernel's protected_symlinks and protected_regular rules (at 1) would
// let them be, whatever the machine's settings; a target that is no regular
// file is never opened and stays; what is refused leaves every folder as it
// was, and says why.  Run as root, with the user "nobody" as the planter.
#include "base/fileio.h"

#include "plantedfolders.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

bool replaceWith(const std::string& target, const std::string& bytes, std::string& refusal) {
    cReplacementFile f;
    const bool ok =
        f.begin(target.c_str()) && f.writef(const_cast<char*>(bytes.data()), static_cast<unsigned>(bytes.size())) &&
        f.commit();
    const int error = errno;
    refusal = f.refusal();
    errno = error;
    return ok;
}

TEST(ReplacementPlanted, FollowsAndReplacesOnlyWhatTheKernelsRulesLetThrough) {
    if (geteuid() != 0) GTEST_SKIP() << "planting files as another user needs root";
    for (const bool named : {false, true}) {
        for (const qortest::PlantedCase& c : qortest::plantedCases()) {
            const std::string what = std::string(c.name) + (named ? " (named temporary file)" : "");
            qortest::PlantedFolders f;
            ASSERT_TRUE(f.ready());
            ASSERT_TRUE(c.plant(f)) << what;
            const std::string before = f.snapshot(c.written ? c.written : "");
            const std::string given = f.path(c.given);
            const qortest::GuardedWrite w = qortest::runGuarded([&](std::string& refusal) {
                cReplacementFile::gNamedOnly = named;
                return replaceWith(given, "new bytes", refusal);
            });
            ASSERT_TRUE(w.ended) << what << ": the write blocked or died";
            EXPECT_EQ(f.snapshot(c.written ? c.written : ""), before) << what;
            if (!c.written) {
                EXPECT_FALSE(w.ok) << what;
                EXPECT_TRUE(w.error == EACCES || w.error == EINVAL || w.error == EISDIR) << what << ": " << w.error;
                EXPECT_NE(w.refusal.find(f.path(c.names)), std::string::npos) << what << ": " << w.refusal;
                EXPECT_NE(w.refusal.find(c.says), std::string::npos) << what << ": " << w.refusal;
                continue;
            }
            EXPECT_TRUE(w.ok) << what << ": " << std::strerror(w.error) << " " << w.refusal;
            EXPECT_EQ(qortest::readFile(f.path(c.written)), "new bytes") << what;
            struct stat st;
            ASSERT_EQ(lstat(f.path(c.written).c_str(), &st), 0) << what;
            EXPECT_TRUE(S_ISREG(st.st_mode)) << what;
            EXPECT_EQ(st.st_uid, c.owner) << what;
        }
    }
}

// The rule alone, as the settings store asks it of one name.
TEST(ReplacementPlanted, LinkRuleNamesTheLinkAndItsOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "planting files as another user needs root";
    qortest::PlantedFolders f;
    ASSERT_TRUE(f.ready());
    ASSERT_TRUE(f.link("shared/theirs", "x", qortest::kNobody));
    ASSERT_TRUE(f.link("shared/mine", "x", 0));
    ASSERT_TRUE(f.link("nobodys/theirs", "x", qortest::kNobody));
    ASSERT_TRUE(f.file("shared/file", "nobody data", qortest::kNobody));
    std::string why;
    errno = 0;
    EXPECT_FALSE(linkMayBeFollowed(f.path("shared/theirs").c_str(), &why));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(why, f.path("shared/theirs") + " is a link of user nobody (uid 65534) in " + f.path("shared") +
                       ", a sticky folder that everyone may write to; such a link is followed only when it is yours or "
                       "the folder owner's");
    for (const char* allowed : {"shared/mine", "nobodys/theirs", "shared/file", "shared/absent"}) {
        why.clear();
        EXPECT_TRUE(linkMayBeFollowed(f.path(allowed).c_str(), &why)) << allowed;
        EXPECT_EQ(why, "") << allowed;
    }
}

}  // namespace
