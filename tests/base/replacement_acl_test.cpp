// What a replaced or new file carries besides its bytes, read back with
// getfacl and getxattr: a replaced file keeps its access control list and
// its other extended attributes; a new one gets what the shell's `>` (an
// open with O_CREAT and 0666) gives in the same folder under the same
// creation mask, the folder's default access control list included.
#include "base/fileio.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

bool replaceWith(const std::string& target, const std::string& bytes) {
    cReplacementFile f;
    return f.begin(target.c_str()) && f.writef(const_cast<char*>(bytes.data()), static_cast<unsigned>(bytes.size())) &&
           f.commit();
}

// The access control list of path as getfacl writes it, without the
// header that names the file and its owner.
std::string aclOf(const std::string& path) {
    int status = -1;
    const std::string out = qortest::runCommand("getfacl --omit-header --absolute-names '" + path + "' 2>&1", &status);
    return status == 0 ? out : "<getfacl failed: " + out + ">";
}

bool setAcl(const std::string& args, const std::string& path) {
    int status = -1;
    qortest::runCommand("setfacl " + args + " '" + path + "' 2>/dev/null", &status);
    return status == 0;
}

std::string attribute(const std::string& path, const char* name) {
    char buf[256];
    const ssize_t n = getxattr(path.c_str(), name, buf, sizeof buf);
    return n < 0 ? "<none>" : std::string(buf, static_cast<std::size_t>(n));
}

TEST(ReplacementAttributes, AReplacedFileKeepsItsAccessListAndAttributes) {
    qortest::TempDir dir;
    const std::string probe = dir.file("probe");
    ASSERT_TRUE(qortest::writeFile(probe, "x"));
    if (!setAcl("-m u:nobody:rw-", probe)) GTEST_SKIP() << "the file system under " << dir.path() << " keeps no ACLs";
    // A list with a named user and a mask wider than the owning group's
    // bits, and one that is only the bits, under each way of writing.
    const char* const lists[] = {"-m u::rw-,g::r--,o::---,u:nobody:rw-", "-m u::rw-,g::r--,o::r--"};
    for (const bool named : {false, true}) {
        cReplacementFile::gNamedOnly = named;
        for (const char* list : lists) {
            const std::string target = dir.file("kept");
            ASSERT_TRUE(qortest::writeFile(target, "old"));
            ASSERT_EQ(chmod(target.c_str(), 0640), 0);
            ASSERT_TRUE(setAcl(list, target));
            ASSERT_EQ(setxattr(target.c_str(), "user.origin", "kept", 4, 0), 0);
            const std::string before = aclOf(target);
            ASSERT_TRUE(replaceWith(target, "new")) << list;
            EXPECT_EQ(qortest::readFile(target), "new");
            EXPECT_EQ(aclOf(target), before) << list << " named " << named;
            EXPECT_EQ(attribute(target, "user.origin"), "kept") << list << " named " << named;
            ASSERT_EQ(unlink(target.c_str()), 0);
        }
        // A file without a list in a folder with a default one stays
        // without: the list the folder gives a new file is not carried over.
        const std::string plain = dir.file("plain");
        ASSERT_TRUE(qortest::writeFile(plain, "old"));
        ASSERT_EQ(chmod(plain.c_str(), 0640), 0);
        const std::string before = aclOf(plain);
        ASSERT_TRUE(setAcl("-d -m u:nobody:rwx", dir.path()));
        ASSERT_TRUE(replaceWith(plain, "new"));
        EXPECT_EQ(aclOf(plain), before) << "named " << named;
        ASSERT_TRUE(setAcl("-k", dir.path()));
        ASSERT_EQ(unlink(plain.c_str()), 0);
    }
    cReplacementFile::gNamedOnly = false;
}

// New files against the shell's: the same folder (with and without a
// default list), the same creation mask.
TEST(ReplacementAttributes, ANewFileGetsWhatTheShellsRedirectionGives) {
    qortest::TempDir dir;
    if (!setAcl("-m u:nobody:rw-", dir.path())) GTEST_SKIP() << "the file system under " << dir.path() << " keeps no ACLs";
    ASSERT_TRUE(setAcl("-b", dir.path()));
    const char* const defaults[] = {"", "-d -m u::rwx,g::r-x,o::---,u:nobody:rw-", "-d -m u::rw-,g::rw-,o::r--"};
    int n = 0;
    for (const char* list : defaults) {
        ASSERT_TRUE(setAcl("-k", dir.path()));
        if (*list) {
            ASSERT_TRUE(setAcl(list, dir.path()));
        }
        for (const bool named : {false, true}) {
            for (const mode_t mask : {077, 022, 002, 000}) {
                const std::string shells = dir.file("shells" + std::to_string(++n));
                const std::string ours = dir.file("ours" + std::to_string(n));
                char cmd[64];
                std::snprintf(cmd, sizeof cmd, "umask %03o; : > ", static_cast<unsigned>(mask));
                int status = -1;
                qortest::runCommand("sh -c '" + std::string(cmd) + shells + "'", &status);
                ASSERT_EQ(status, 0);
                cReplacementFile::gNamedOnly = named;
                const mode_t was = umask(mask);
                const bool ok = replaceWith(ours, "new");
                umask(was);
                ASSERT_TRUE(ok);
                EXPECT_EQ(aclOf(ours), aclOf(shells)) << "default '" << list << "' mask " << mask << " named " << named;
                struct stat a, b;
                ASSERT_EQ(stat(ours.c_str(), &a), 0);
                ASSERT_EQ(stat(shells.c_str(), &b), 0);
                EXPECT_EQ(a.st_mode, b.st_mode) << "default '" << list << "' mask " << mask << " named " << named;
            }
        }
    }
    cReplacementFile::gNamedOnly = false;
}

}  // namespace
