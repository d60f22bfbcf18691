// Folder listings and path operations, checked against what Python's os,
// time and fnmatch modules see of the same folders and names.
#include "base/folders.h"

#include <gtest/gtest.h>
#include "testsupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

// The heap runs out on demand: while gAllocationsLeft is 0 or more, each
// allocation takes one from it, and once none is left it throws.
static std::atomic<long> gAllocationsLeft{-1};

void* operator new(std::size_t n) {
    long left = gAllocationsLeft.load();
    while (left >= 0 && !gAllocationsLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0) {
        gAllocationsLeft.store(0);
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using qortest::TempDir;
using qortest::writeFile;
using FC = cFolderContents;

// Every local time here is Berlin's, for this program and the Python it starts.
struct BerlinTime {
    BerlinTime() {
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
    }
} const gBerlin;

std::string str(const _guardchar<char>& s) { return s.c_str() ? s.c_str() : "<null>"; }

std::string octal(unsigned int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%o", v);
    return buf;
}

std::string stamp(const sTimestamp& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

const char* kPyStamp = R"(
import os, sys, stat, time
def s(t):
    t = time.localtime(t)
    return '%04d-%02d-%02d %02d:%02d:%02d' % (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec)
)";

// Every kind of entry, listed in reading order with and without the flag
// that keeps only files and folders; links are followed and dangling ones
// left out, exactly as os.stat sees them (the device and inode too).
TEST(FolderListing, EveryKindOfEntryAgreesWithPythonsListdirAndStat) {
    TempDir dir;
    const std::string d = dir.path();
    ASSERT_EQ(::mkdir((d + "/inner").c_str(), 0755), 0);
    ASSERT_TRUE(writeFile(d + "/empty", ""));
    ASSERT_TRUE(writeFile(d + "/notes.txt", std::string(1234, 'x')));
    ASSERT_TRUE(writeFile(d + "/.profile", "export A=1\n"));
    ASSERT_TRUE(writeFile(d + "/...", "x"));
    ASSERT_TRUE(writeFile(d + "/caf\xc3\xa9", "abc"));
    ASSERT_EQ(::symlink("inner", (d + "/to-inner").c_str()), 0);
    ASSERT_EQ(::symlink("notes.txt", (d + "/to-notes").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (d + "/dangling").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (d + "/chardev").c_str()), 0);
    ASSERT_EQ(::mkfifo((d + "/pipe").c_str(), 0644), 0);
    ::mknod((d + "/blockdev").c_str(), S_IFBLK | 0600, makedev(7, 200));  // needs the right to; optional
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, (d + "/sock").c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    struct timeval summer[2] = {{1625133600, 0}, {1625133600, 654321}}, winter[2] = {{1610695800, 0}, {1610695800, 0}};
    ASSERT_EQ(::chmod((d + "/notes.txt").c_str(), 04751), 0);
    ASSERT_EQ(::utimes((d + "/notes.txt").c_str(), summer), 0);
    ASSERT_EQ(::utimes((d + "/empty").c_str(), winter), 0);

    for (bool only : {false, true}) {
        cFolderContents fc;
        ASSERT_TRUE(fc.init(d.c_str(), only));
        std::string ours;
        for (int i = 0; i < fc.count(); ++i) {
            const sFolderItemInfo* e = fc.info(i);
            ours += str(e->name) + " " + std::to_string(e->size) + " " + std::to_string(e->type) + " " +
                    std::to_string(e->hidden) + " " + stamp(e->modified) + " " + std::to_string(e->device) + ":" +
                    std::to_string(e->inode) + " " + octal(e->mode) + " " +
                    std::to_string(e->modifiedSec * 1000000000 + e->modifiedNsec) + " " +
                    std::to_string(e->changedSec * 1000000000 + e->changedNsec) + "\n";
            EXPECT_TRUE(e->displayName.empty());
        }
        const std::string theirs = qortest::runPython(std::string(kPyStamp) + R"(
d = os.fsencode(sys.argv[1])
for n in os.listdir(d):
    try:
        st = os.stat(os.path.join(d, n))
    except OSError:
        continue
    m = st.st_mode
    k = 1 if stat.S_ISREG(m) else 2 if stat.S_ISDIR(m) else 4 if stat.S_ISBLK(m) else 5 if stat.S_ISCHR(m) else 6 if stat.S_ISSOCK(m) else 7
    if sys.argv[2] == '1' and k > 2:
        continue
    sys.stdout.buffer.write(n + (' %d %d %d %s %d:%d %o %d %d\n' % (st.st_size, k, n.startswith(b'.'), s(st.st_mtime),
                                                          st.st_dev, st.st_ino, st.st_mode & 0o7777,
                                                          st.st_mtime_ns, st.st_ctime_ns)).encode())
)", "'" + d + "' " + (only ? "1" : "0"));
        EXPECT_EQ(ours, theirs) << "only files and folders: " << only;
    }
    ::close(sock);
    EXPECT_EQ(FC::objtype((d + "/dangling").c_str()), fsoNone);
}

// What a listing leaves out is handed back with the reason os.stat and
// os.lstat give for it, and the entries sort by the bytes of their names
// as Python sorts bytes.
TEST(FolderListing, LeftOutEntriesCarryTheirReasonAndNamesSortByTheirBytes) {
    TempDir dir;
    const std::string d = dir.path();
    for (const char* name : {"zeta", "Alpha", "alpha", "caf\xc3\xa9", "cafe", "\xff\xfe", "a b", "a-b", "a.b", "10", "9"})
        ASSERT_TRUE(writeFile(d + "/" + name, name));
    ASSERT_EQ(::mkdir((d + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("nowhere", (d + "/dangling").c_str()), 0);
    ASSERT_EQ(::symlink("loop2", (d + "/loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (d + "/loop2").c_str()), 0);
    ASSERT_EQ(::mkfifo((d + "/pipe").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("pipe", (d + "/to-pipe").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (d + "/chardev").c_str()), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, (d + "/sock").c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    for (bool only : {false, true}) {
        cFolderContents fc;
        std::vector<sFolderLeftOut> left(1);  // what was there stays
        left[0].name = "kept";
        ASSERT_TRUE(fc.init(d.c_str(), only, &left));
        fc.sortByName();
        std::string ours;
        for (int i = 0; i < fc.count(); ++i) ours += str(fc.info(i)->name) + "\n";
        ASSERT_FALSE(left.empty());
        EXPECT_EQ(left[0].name, "kept");
        std::sort(left.begin() + 1, left.end(),
                  [](const sFolderLeftOut& a, const sFolderLeftOut& b) { return a.name < b.name; });
        ours += "--\n";
        for (std::size_t i = 1; i < left.size(); ++i)
            ours += left[i].name + " " + std::to_string(left[i].error) + " " + std::to_string(left[i].mode & S_IFMT) + "\n";
        const std::string theirs = qortest::runPython(R"(
import errno, os, stat, sys
d = os.fsencode(sys.argv[1])
only = sys.argv[2] == '1'
listed, left = [], []
for n in os.listdir(d):
    p = os.path.join(d, n)
    try:
        m = os.stat(p).st_mode
    except OSError as e:
        try:
            lm = stat.S_IFMT(os.lstat(p).st_mode)
        except OSError:
            lm = 0
        left.append((n, e.errno, lm))
        continue
    if only and not (stat.S_ISREG(m) or stat.S_ISDIR(m)):
        left.append((n, 0, stat.S_IFMT(m)))
    else:
        listed.append(n)
out = b''.join(n + b'\n' for n in sorted(listed)) + b'--\n'
out += b''.join(b'%s %d %d\n' % e for e in sorted(left))
sys.stdout.buffer.write(out)
)", "'" + d + "' " + (only ? "1" : "0"));
        EXPECT_EQ(ours, theirs) << "only files and folders: " << only;
    }
    ::close(sock);
    // A folder that cannot be listed adds nothing to the list.
    cFolderContents fc;
    std::vector<sFolderLeftOut> left;
    EXPECT_FALSE(fc.init((d + "/zeta").c_str(), true, &left));
    EXPECT_TRUE(left.empty());
}

TEST(FolderListing, PathsJoinWithOneSlashAndAFailedListingKeepsTheFolder) {
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("x"), ""));
    cFolderContents fc;
    EXPECT_EQ(fc.folder(), nullptr);
    ASSERT_TRUE(fc.init((dir.path() + "/").c_str(), false));
    _guardchar<char> p("keep");
    EXPECT_FALSE(fc.path(1, p));
    EXPECT_EQ(str(p), "keep");
    ASSERT_TRUE(fc.path(0, p));
    EXPECT_EQ(str(p), dir.path() + "/x");
    sFsObjExtInfo ext;
    ASSERT_TRUE(fc.getExtInfo(0, ext));
    EXPECT_FALSE(fc.getExtInfo(1, ext));
    EXPECT_EQ(fc.info(-1), nullptr);
    EXPECT_FALSE(fc.init(dir.file("x").c_str(), false));  // not a folder: emptied, folder kept
    EXPECT_EQ(fc.count(), 0);
    EXPECT_STREQ(fc.folder(), (dir.path() + "/").c_str());
    ASSERT_TRUE(fc.init(dir.path().c_str(), false));
    EXPECT_TRUE(fc.destroy());
    EXPECT_EQ(fc.count(), 0);
}

// Running out of memory part-way through a listing throws and must not leave
// the folder open behind it.
TEST(FolderListing, RunningOutOfMemoryWhileListingLeavesNoDescriptorOpen) {
    TempDir dir;
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(writeFile(dir.file("f" + std::to_string(i)), ""));
    auto openDescriptors = [] {
        int n = 0;
        if (DIR* d = ::opendir("/proc/self/fd")) {
            while (::readdir(d)) ++n;
            ::closedir(d);
        }
        return n;
    };
    struct HeapLimit {
        explicit HeapLimit(long n) { gAllocationsLeft.store(n); }
        ~HeapLimit() { gAllocationsLeft.store(-1); }
    };
    const int before = openDescriptors();
    bool threw = false, listed = false;
    for (long allowed = 0; allowed < 1000 && !listed; ++allowed) {
        cFolderContents fc;
        try {
            const HeapLimit limit(allowed);
            listed = fc.init(dir.path().c_str(), false);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        ASSERT_EQ(openDescriptors(), before) << "after " << allowed << " allocations";
    }
    EXPECT_TRUE(threw);
    EXPECT_TRUE(listed);
}

// Entries of a folder near the path limit used to be formed in a 4096-byte
// buffer: cut, their status failed and they vanished.
TEST(FolderListing, EntriesOfADeepFolderAreListedWithTheirWholePath) {
    TempDir dir;
    std::string folder = dir.path();
    while (folder.size() + 201 < 3900) {
        folder += "/" + std::string(200, 'd');
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    }
    folder += "/" + std::string(4000 - folder.size() - 1, 'e');
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string name(250, 'n');
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    int fd = ::openat(dfd, name.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "hello", 5), 5);
    ::close(fd);
    ::close(dfd);

    cFolderContents fc;
    ASSERT_TRUE(fc.init(folder.c_str(), false));
    ASSERT_EQ(fc.count(), 1);
    EXPECT_EQ(fc.info(0)->size, 5u);
    _guardchar<char> p;
    ASSERT_TRUE(fc.path(0, p));
    EXPECT_EQ(str(p), folder + "/" + name);
    sFsObjExtInfo ext;
    EXPECT_FALSE(fc.getExtInfo(0, ext));  // the system cannot reach it in one piece
    EXPECT_FALSE(FC::isDirEmpty(folder.c_str()));
}

class HomeVariable : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("HOME");
        if ((hadHome_ = old != nullptr)) oldHome_ = old;
    }
    void TearDown() override {
        if (hadHome_) ::setenv("HOME", oldHome_.c_str(), 1);
        else ::unsetenv("HOME");
    }
    bool hadHome_ = false;
    std::string oldHome_;
};

// Home and root first; each mounted file system once (two names of /proc
// give one place, the volumes folder's own file system none); volume paths
// longer than the 300 bytes they once were cut to stay whole.
TEST_F(HomeVariable, SpecialPlacesOfferHomeRootAndEachMountedFileSystemOnce) {
    TempDir dir;
    ::setenv("HOME", dir.path().c_str(), 1);
    std::string vols = dir.path() + "/" + std::string(150, 'k') + "/" + std::string(150, 'l');
    ASSERT_EQ(std::system(("mkdir -p '" + vols + "/Volumes/Startup'").c_str()), 0);
    vols += "/Volumes";
    const std::string longName(100, 'v');
    ASSERT_EQ(::symlink("/proc", (vols + "/" + longName).c_str()), 0);
    ASSERT_EQ(::symlink("/proc", (vols + "/ProcB").c_str()), 0);
    ASSERT_EQ(::symlink("/dev", (vols + "/Devices").c_str()), 0);
    ASSERT_TRUE(writeFile(vols + "/not-a-volume", ""));

    cFolderContents fc;
    ASSERT_TRUE(fc.enumSpecialLocations(vols.c_str()));
    EXPECT_EQ(fc.folder(), nullptr);
    ASSERT_EQ(fc.count(), 4);
    std::set<std::string> shown;
    for (int i = 0; i < fc.count(); ++i) {
        const sFolderItemInfo* e = fc.info(i);
        EXPECT_EQ(e->type, fsoSpecialPlace);
        EXPECT_EQ(e->modified.year, 0);
        _guardchar<char> p;
        ASSERT_TRUE(fc.path(i, p));
        EXPECT_EQ(str(p), str(e->name));
        shown.insert(str(e->displayName) + "=" + str(e->name));
    }
    EXPECT_EQ(str(fc.info(0)->displayName), "Home folder");
    EXPECT_EQ(str(fc.info(0)->name), dir.path());
    EXPECT_EQ(str(fc.info(1)->displayName), "File system");
    EXPECT_EQ(str(fc.info(1)->name), "/");
    EXPECT_TRUE(shown.count("Devices=" + vols + "/Devices/"));
    EXPECT_EQ(shown.count(longName + "=" + vols + "/" + longName + "/") + shown.count("ProcB=" + vols + "/ProcB/"), 1u);

    ::unsetenv("HOME");
    ASSERT_TRUE(fc.enumSpecialLocations(dir.file("missing").c_str()));
    ASSERT_EQ(fc.count(), 1);
    EXPECT_EQ(str(fc.info(0)->displayName), "File system");
    ASSERT_TRUE(fc.enumSpecialLocations());
}

TEST(WildcardMask, AgreesWithPythonFnmatchcaseOnGeneratedBytes) {
    // fnmatch gives '[' a meaning, so neither alphabet holds it.
    static const char nameBytes[] = {'a', 'b', 'c', '.', '\xc3', '\xa9', '\n'};
    static const char maskBytes[] = {'a', 'b', '.', '*', '?', '*', '\xc3', '\n'};
    unsigned long long seed = 0x9E3779B97F4A7C15ULL;
    auto next = [&seed](unsigned mod) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>((seed >> 33) % mod);
    };
    auto hex = [](const std::string& s) { return "-" + qortest::hex(s.data(), s.size()); };  // "-" keeps "" a field
    std::vector<std::pair<std::string, std::string>> cases;
    std::string input;
    for (int i = 0; i < 6000; ++i) {
        std::string name, mask;
        for (unsigned n = next(9); n > 0; --n) name.push_back(nameBytes[next(sizeof nameBytes)]);
        for (unsigned n = next(7) + 1; n > 0; --n) mask.push_back(maskBytes[next(sizeof maskBytes)]);
        if (i % 2 && !name.empty()) {  // masks made from the name, so that matches are common
            mask = name;
            for (unsigned k = next(4); k > 0; --k) mask[next(static_cast<unsigned>(mask.size()))] = next(2) ? '*' : '?';
        }
        cases.emplace_back(name, mask);
        input += hex(name) + " " + hex(mask) + "\n";
    }
    TempDir dir;
    ASSERT_TRUE(writeFile(dir.file("cases"), input));
    const std::string theirs = qortest::runPython(R"(
import sys, fnmatch
out = []
for line in open(sys.argv[1]):
    n, m = line.split()
    out.append('1' if fnmatch.fnmatchcase(bytes.fromhex(n[1:]), bytes.fromhex(m[1:])) else '0')
print(''.join(out))
)", "'" + dir.file("cases") + "'");
    ASSERT_EQ(theirs.size(), cases.size() + 1) << theirs.substr(0, 400);
    int matches = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const bool ours = FC::wcmatch(cases[i].first.c_str(), cases[i].second.c_str());
        matches += ours;
        EXPECT_EQ(ours, theirs[i] == '1') << "name " << hex(cases[i].first) << " mask " << hex(cases[i].second);
    }
    EXPECT_GT(matches, 500);

    // What fnmatch cannot say: nulls, empty masks, '[' taken literally, and
    // many stars against a long name (exponential for a retrying matcher).
    EXPECT_FALSE(FC::wcmatch(nullptr, "*"));
    EXPECT_TRUE(FC::wcmatch("x", nullptr));
    EXPECT_TRUE(FC::wcmatch("x", ""));
    EXPECT_TRUE(FC::wcmatch("a[b]", "a[b]"));
    const std::string a(20000, 'a');
    std::string stars;
    for (int i = 0; i < 200; ++i) stars += "*a";
    EXPECT_FALSE(FC::wcmatch(a.c_str(), (stars + "*b").c_str()));
    EXPECT_TRUE(FC::wcmatch((a + "b").c_str(), (stars + "*b").c_str()));
}

TEST(WildcardMaskList, PiecesAreTriedInTurnAndNotTrimmed) {
    const struct {
        const char *name, *mask;
        bool match;
    } cases[] = {{"a.doc", "*.txt;*.doc", true}, {"a.doc", "*.txt; *.doc", false}, {" a.doc", "*.txt; *.doc", true},
                 {"a.pdf", "*.txt;;*.doc", true}, {"a.pdf", "*.txt;", false},      {"anything", nullptr, true},
                 {nullptr, "", true},             {nullptr, "*", false},           {"x", "a;b;?", true}};
    for (const auto& c : cases) EXPECT_EQ(FC::wcmmatch(c.name, c.mask), c.match) << (c.name ? c.name : "-") << " " << (c.mask ? c.mask : "-");
}

TEST(FolderOps, CreateRemoveTypeAndEmptiness) {
    TempDir dir;
    const std::string fresh = dir.file("fresh"), file = dir.file("file");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_TRUE(FC::mkdir(fresh.c_str()));
    struct stat st;
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0775u & ~mask);
    EXPECT_TRUE(FC::mkdir(fresh.c_str()));
    EXPECT_TRUE(FC::isDirEmpty(fresh.c_str()));
    ASSERT_EQ(::symlink("nowhere", (fresh + "/dangling").c_str()), 0);
    EXPECT_TRUE(FC::isDirEmpty(fresh.c_str()));  // an entry without a status is not counted
    EXPECT_FALSE(FC::removeDir(fresh.c_str()));
    ASSERT_TRUE(writeFile(file, ""));
    EXPECT_FALSE(FC::mkdir(file.c_str()));
    EXPECT_FALSE(FC::mkdir(dir.file("no/parent").c_str()));
    EXPECT_FALSE(FC::mkdir(nullptr));
    EXPECT_FALSE(FC::isDirEmpty(file.c_str()));
    EXPECT_FALSE(FC::isDirEmpty(dir.file("missing").c_str()));
    EXPECT_FALSE(FC::removeDir(file.c_str()));
    EXPECT_FALSE(FC::removeDir((fresh + "/dangling").c_str()));  // a dangling link holds its name
    EXPECT_TRUE(FC::removeDir(dir.file("missing/deeper").c_str()));
    ASSERT_EQ(::unlink((fresh + "/dangling").c_str()), 0);
    EXPECT_TRUE(FC::removeDir(fresh.c_str()));
    EXPECT_EQ(FC::objtype(fresh.c_str()), fsoNone);
    EXPECT_EQ(FC::objtype(nullptr), fsoNone);
    EXPECT_TRUE(FC::pathCaseSensetive(dir.path().c_str()));
}

TEST(FolderOps, PermissionsAgreeWithPythonsAccessCheck) {
    TempDir dir;
    const std::string f = dir.file("f");
    ASSERT_TRUE(writeFile(f, ""));
    struct stat st;
    ASSERT_TRUE(FC::setPermissions(f.c_str(), 7, 5, 4));
    // A digit above 7 would reach the set-id and sticky bits: refused.
    EXPECT_FALSE(FC::setPermissions(f.c_str(), 8, 0, 0));
    EXPECT_FALSE(FC::setPermissions(f.c_str(), 6, 0, 9));
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0754u);
    EXPECT_FALSE(FC::setPermissions(dir.file("missing").c_str(), 6, 4, 4));

    std::string ours;
    for (int mode : {0000, 0400, 0200, 0100, 0644, 0755, 0311}) {
        ASSERT_EQ(::chmod(f.c_str(), static_cast<mode_t>(mode)), 0);
        ours += std::to_string(FC::getEffectivePermissions(f.c_str())) + (FC::canRead(f.c_str()) ? "r" : "-") +
                (FC::canWrite(f.c_str()) ? "w" : "-") + (FC::canExecute(f.c_str()) ? "x" : "-") + " ";
    }
    EXPECT_EQ(ours, qortest::runPython(R"(
import os, sys
f = sys.argv[1]
out = ''
for mode in (0o000, 0o400, 0o200, 0o100, 0o644, 0o755, 0o311):
    os.chmod(f, mode)
    r, w, x = os.access(f, os.R_OK), os.access(f, os.W_OK) or os.geteuid() == 0, os.access(f, os.X_OK)
    p = 4 * os.access(f, os.R_OK) + 2 * os.access(f, os.W_OK) + x
    out += '%d%s%s%s ' % (p, 'r' if r else '-', 'w' if w else '-', 'x' if x else '-')
print(out, end='')
)", "'" + f + "'"));
    EXPECT_EQ(FC::getEffectivePermissions(dir.file("missing").c_str()), 8);
    EXPECT_FALSE(FC::canWrite(dir.file("missing").c_str()));
}

// Attributes against os.stat, volume sizes against os.statvfs; times set
// from local seconds and from a local date (Berlin 2021-07-01 12:00 is
// 1625133600 UTC, 2021-01-15 08:30 is 1610695800).
TEST(FolderOps, AttributesTimesAndVolumeSizesAgreeWithPython) {
    TempDir dir;
    const std::string f = dir.file("f");
    ASSERT_TRUE(writeFile(f, std::string(4321, 'q')));
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    auto times = [&f] {
        struct stat st;
        return ::stat(f.c_str(), &st) ? std::string("<no stat>") : std::to_string(st.st_atime) + " " + std::to_string(st.st_mtime);
    };
    ASSERT_TRUE(FC::setTime(f.c_str(), 1610699400u, 5u, 6u));
    EXPECT_EQ(times(), "1610695800 1610695800");
    ASSERT_TRUE(FC::setTime(f.c_str(), 2021, 7, 1, 12, 0, 0));
    EXPECT_EQ(times(), "1625133600 1625133600");
    ASSERT_TRUE(FC::setTime(f.c_str(), 2021, 1, 15, 8, 30, 0));
    EXPECT_EQ(times(), "1610695800 1610695800");
    ASSERT_TRUE(FC::setTime(f.c_str(), 1625140800u, 0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_EQ(times(), "1625133600 1625133600");
    EXPECT_FALSE(FC::setTime(f.c_str(), 0xFFFFFFFFu, 1u, 1u));
    EXPECT_FALSE(FC::setTime(nullptr, 1625140800u, 0u, 0u));
    EXPECT_FALSE(FC::setTime(dir.file("missing").c_str(), 2021, 7, 1, 12, 0, 0));
    // Fields out of range are refused, not rolled into another date.
    const int bad[][6] = {{2021, 13, 1, 12, 0, 0}, {2021, 0, 1, 12, 0, 0}, {2021, 7, 1, 24, 0, 0}};
    for (const auto& t : bad) EXPECT_FALSE(FC::setTime(f.c_str(), t[0], t[1], t[2], t[3], t[4], t[5]));
    EXPECT_EQ(times(), "1625133600 1625133600");

    sFsObjExtInfo info;
    ASSERT_TRUE(FC::getExtInfo(f.c_str(), info));
    unsigned long long total = 0, avail = 0;
    ASSERT_TRUE(FC::getVolInfo(dir.path().c_str(), total, avail));
    const std::string theirs = qortest::runPython(std::string(kPyStamp) + R"(
st = os.stat(sys.argv[1])
v = os.statvfs(sys.argv[2])
print('%d %d %s %s %s' % (st.st_mode, st.st_size, s(st.st_atime), s(st.st_mtime), s(st.st_ctime)))
print(v.f_frsize * v.f_blocks, v.f_frsize * v.f_bavail, end='')
)", "'" + f + "' '" + dir.path() + "'");
    const std::size_t nl = theirs.find('\n');
    EXPECT_EQ(std::to_string(info.mode) + " " + std::to_string(info.size) + " " + stamp(info.accessed) + " " +
                  stamp(info.modified) + " " + stamp(info.changed),
              theirs.substr(0, nl));
    unsigned long long pyTotal = 0, pyAvail = 0;
    ASSERT_EQ(std::sscanf(theirs.c_str() + nl, "%llu %llu", &pyTotal, &pyAvail), 2) << theirs;
    EXPECT_EQ(total, pyTotal);
    EXPECT_LT(avail > pyAvail ? avail - pyAvail : pyAvail - avail, 1ULL << 30);  // others write meanwhile

    sFsObjExtInfo untouched;
    untouched.size = 77;
    EXPECT_FALSE(FC::getExtInfo(dir.file("missing").c_str(), untouched));
    EXPECT_EQ(untouched.size, 77u);
    unsigned long long a = 1, b = 2;
    EXPECT_FALSE(FC::getVolInfo(dir.file("missing").c_str(), a, b));
    EXPECT_EQ(a + b, 3u);
}

TEST_F(HomeVariable, HomeTemporaryAndConfigurationFolders) {
    TempDir dir;
    _guardchar<char> out("keep");
    ::setenv("HOME", "", 1);
    EXPECT_FALSE(FC::getHome(out));
    EXPECT_FALSE(FC::getShortcutsFolder(out, "qor", true));
    EXPECT_EQ(str(out), "keep");
    ASSERT_TRUE(FC::getTempFolder(out));
    EXPECT_EQ(str(out), "/tmp");

    ::setenv("HOME", dir.path().c_str(), 1);
    ASSERT_TRUE(FC::getHome(out));
    EXPECT_EQ(str(out), dir.path());
    for (int i = 0; i < 2; ++i) {  // made, then already there
        ASSERT_TRUE(FC::getConfigFolder(out, "qor"));
        EXPECT_EQ(str(out), dir.path() + "/.qor");
        EXPECT_EQ(FC::objtype(out.c_str()), fsoFolder);
    }
    ASSERT_TRUE(writeFile(dir.file(".blocked"), ""));  // a file in the way: out holds home
    EXPECT_FALSE(FC::getConfigFolder(out, "blocked"));
    EXPECT_EQ(str(out), dir.path());
    EXPECT_FALSE(FC::getConfigFolder(out, nullptr));
    ::unsetenv("HOME");
    out.set("keep");
    EXPECT_FALSE(FC::getConfigFolder(out, "qor"));
    EXPECT_EQ(str(out), "keep");

    const bool hadBase = FC::objtype("/etc/qorcfg") == fsoFolder;
    const std::string name = "qortest-" + std::to_string(::getpid());
    const bool ok = FC::getSysConfigFolder(out, name.c_str());
    if (::access("/etc", W_OK) != 0 && !hadBase) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(str(out), "keep");
        return;
    }
    ASSERT_TRUE(ok);
    EXPECT_EQ(str(out), "/etc/qorcfg/" + name);
    EXPECT_EQ(FC::objtype(out.c_str()), fsoFolder);
    ::rmdir(out.c_str());
    if (!hadBase) ::rmdir("/etc/qorcfg");
    EXPECT_FALSE(FC::getSysConfigFolder(out, nullptr));
}

// The name safeName makes of text in a buffer of size bytes; the count
// returned must be the name's length and the name must fit.
std::string safe(const char* text, long long size) {
    std::vector<char> buf(static_cast<std::size_t>(size > 0 ? size : 1) + 8, 'Z');
    const long long n = FC::safeName(text, buf.data(), size);
    if (size < 1) return buf[0] == 'Z' && n == 0 ? "<untouched>" : "<written>";
    EXPECT_EQ(std::strlen(buf.data()), static_cast<std::size_t>(n));
    EXPECT_LT(n, size);
    return buf.data();
}

TEST(SafeName, ReplacesWhatCannotStandInANameAndCutsOnlyBetweenUtf8Characters) {
    const struct {
        const char* text;
        long long size;
        const char* name;
    } cases[] = {
        {"  a:b?*\"c/d  ", 100, "a_b~@'c=d"}, {"\x01\t x|y\x02z\x03 \t", 100, "x_y z"}, {"abcdef", 4, "abc"},
        {"ab    cd", 5, "ab"}, {" \t\r\n", 100, ""}, {nullptr, 100, ""}, {"abc", 0, "<untouched>"},
        {".", 100, ""}, {" .. ", 100, ""}, {"..x", 3, ""}, {"...", 100, "..."}, {"./..", 100, ".=.."},
        {"ab\xe2\x82\xac" "x", 5, "ab"}, {"ab\xe2\x82\xac" "x", 6, "ab\xe2\x82\xac"}, {"a \xf0\x9f\x98\x80", 5, "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(safe(c.text, c.size), c.name) << (c.text ? c.text : "<null>") << " " << c.size;
    EXPECT_EQ(FC::safeName("abc", nullptr, 10), 0);

    // Every cut of a mixed text is a prefix that Python's strict decoder takes.
    const std::string text = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x98\x80 \xd0\xbf\xd1\x80\xd0\xb8 end";
    std::string all;
    for (long long size = 1; size <= static_cast<long long>(text.size()) + 1; ++size) {
        const std::string s = safe(text.c_str(), size);
        EXPECT_EQ(text.compare(0, s.size(), s), 0) << size;
        all += " x" + qortest::hex(s.data(), s.size());
    }
    EXPECT_EQ(qortest::runPython(R"(
import sys
bad = 0
for h in sys.argv[1:]:
    try:
        bytes.fromhex(h[1:]).decode('utf-8', 'strict')
    except UnicodeDecodeError:
        bad += 1
print(len(sys.argv) - 1, bad, end='')
)", all), std::to_string(text.size() + 1) + " 0");
}

}  // namespace
