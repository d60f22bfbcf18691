// Folder listings and path operations, checked against what Python's os,
// time and fnmatch modules see of the same folders and names.
#include "base/folders.h"

#include <gtest/gtest.h>
#include "testsupport.h"

#include <atomic>
#include <chrono>
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
// The pair is malloc and free, which the compiler cannot see once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using qortest::TempDir;

// Every local time here is Berlin's, for this program and for the Python it
// starts (which inherits the environment).
struct BerlinTime {
    BerlinTime() {
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
    }
} const gBerlin;

void setMtime(const std::string& path, time_t t) {
    struct timeval tv[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(::utimes(path.c_str(), tv), 0);
}

std::string str(const _guardchar<char>& s) { return s.c_str() ? s.c_str() : "<null>"; }

std::string stamp(const sTimestamp& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

// name -> entry, for tests that do not care about reading order.
std::set<std::string> names(cFolderContents& fc) {
    std::set<std::string> out;
    for (int i = 0; i < fc.count(); ++i) out.insert(str(fc.info(i)->name));
    return out;
}

const sFolderItemInfo* byName(cFolderContents& fc, const std::string& name) {
    for (int i = 0; i < fc.count(); ++i)
        if (str(fc.info(i)->name) == name) return fc.info(i);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Listing

TEST(FolderListing, EntriesComeInReadingOrderWithSizesTypesHiddenFlagsAndLocalTimes) {
    TempDir dir;
    const std::string sub = dir.file("sub");
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    ASSERT_TRUE(qortest::writeFile(sub + "/empty", ""));
    ASSERT_TRUE(qortest::writeFile(sub + "/notes.txt", std::string(1234, 'x')));
    ASSERT_TRUE(qortest::writeFile(sub + "/.profile", "export A=1\n"));
    ASSERT_TRUE(qortest::writeFile(sub + "/...", "x"));  // hidden, unlike "." and "..", never listed
    ASSERT_EQ(::mkdir((sub + "/inner").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("inner", (sub + "/to-inner").c_str()), 0);
    ASSERT_TRUE(qortest::writeFile(sub + "/caf\xc3\xa9", "abc"));
    setMtime(sub + "/notes.txt", 1625133600);   // summer: CEST
    setMtime(sub + "/empty", 1610695800);       // winter: CET

    cFolderContents fc;
    ASSERT_TRUE(fc.init(sub.c_str(), false));
    std::string ours;
    for (int i = 0; i < fc.count(); ++i) {
        const sFolderItemInfo* e = fc.info(i);
        ours += str(e->name) + " " + std::to_string(e->size) + " " + (e->type == fsoFolder ? "dir" : e->type == fsoFile ? "file" : "other") + " " +
                std::to_string(e->hidden) + " " + stamp(e->modified) + "\n";
        EXPECT_TRUE(e->displayName.empty());
    }
    // os.listdir reads the folder in the same order readdir delivers it.
    const std::string theirs = qortest::runPython(R"(
import os, sys, stat, time
d = os.fsencode(sys.argv[1])
for n in os.listdir(d):  # bytes in, bytes out: no locale involved
    st = os.stat(os.path.join(d, n))
    t = time.localtime(st.st_mtime)
    kind = 'dir' if stat.S_ISDIR(st.st_mode) else 'file'
    rest = ' %d %s %d %04d-%02d-%02d %02d:%02d:%02d\n' % (st.st_size, kind, n.startswith(b'.'),
           t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec)
    sys.stdout.buffer.write(n + rest.encode())
)", "'" + sub + "'");
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(fc.count(), 7);
}

TEST(FolderListing, LinksAreFollowedAndDanglingLinksLeftOut) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("target").c_str(), 0755), 0);
    ASSERT_TRUE(qortest::writeFile(dir.file("file"), "12345"));
    ASSERT_EQ(::symlink(dir.file("target").c_str(), dir.file("folder-link").c_str()), 0);
    ASSERT_EQ(::symlink("file", dir.file("file-link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", dir.file("dangling").c_str()), 0);

    cFolderContents fc;
    ASSERT_TRUE(fc.init(dir.path().c_str(), false));
    EXPECT_EQ(names(fc), (std::set<std::string>{"target", "file", "folder-link", "file-link"}));
    EXPECT_EQ(byName(fc, "folder-link")->type, fsoFolder);
    EXPECT_EQ(byName(fc, "file-link")->type, fsoFile);
    EXPECT_EQ(byName(fc, "file-link")->size, 5u);
    EXPECT_EQ(cFolderContents::objtype(dir.file("dangling").c_str()), fsoNone);
}

TEST(FolderListing, FlagLeavesOutDevicesSocketsAndPipes) {
    TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("plain"), "x"));
    ASSERT_EQ(::mkdir(dir.file("folder").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/null", dir.file("chardev").c_str()), 0);

    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir.file("sock");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sockPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    // A block device node needs the right to make one; without it the rest
    // of the case still stands.
    const bool haveBlock = ::mknod(dir.file("blockdev").c_str(), S_IFBLK | 0600, makedev(7, 200)) == 0;

    cFolderContents fc;
    ASSERT_TRUE(fc.init(dir.path().c_str(), false));
    EXPECT_EQ(byName(fc, "plain")->type, fsoFile);
    EXPECT_EQ(byName(fc, "folder")->type, fsoFolder);
    EXPECT_EQ(byName(fc, "pipe")->type, fsoOther);
    EXPECT_EQ(byName(fc, "chardev")->type, fsoCharDevice);
    EXPECT_EQ(byName(fc, "sock")->type, fsoSocket);
    if (haveBlock) {
        EXPECT_EQ(byName(fc, "blockdev")->type, fsoBlockDevice);
    }
    EXPECT_EQ(fc.count(), haveBlock ? 6 : 5);

    ASSERT_TRUE(fc.init(dir.path().c_str(), true));
    EXPECT_EQ(names(fc), (std::set<std::string>{"plain", "folder"}));
    ::close(sock);
}

TEST(FolderListing, PathJoinsFolderAndNameWithOneSlash) {
    TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("x"), ""));
    for (const std::string& folder : {dir.path(), dir.path() + "/"}) {
        cFolderContents fc;
        ASSERT_TRUE(fc.init(folder.c_str(), false));
        ASSERT_EQ(fc.count(), 1);
        _guardchar<char> p;
        ASSERT_TRUE(fc.path(0, p));
        EXPECT_EQ(str(p), dir.path() + "/x");

        _guardchar<char> untouched("keep");
        EXPECT_FALSE(fc.path(1, untouched));
        EXPECT_EQ(str(untouched), "keep");

        sFsObjExtInfo ext;
        ASSERT_TRUE(fc.getExtInfo(0, ext));
        EXPECT_TRUE(S_ISREG(ext.mode));
        EXPECT_FALSE(fc.getExtInfo(1, ext));
    }
}

TEST(FolderListing, FailedInitAndDestroyEmptyTheListingAndKeepTheFolder) {
    TempDir dir;
    cFolderContents fc;
    EXPECT_EQ(fc.folder(), nullptr);
    EXPECT_TRUE(fc.destroy());
    ASSERT_TRUE(fc.init(dir.path().c_str(), false));
    EXPECT_EQ(fc.count(), 0);
    EXPECT_EQ(fc.info(0), nullptr);
    EXPECT_EQ(fc.info(-1), nullptr);
    ASSERT_TRUE(qortest::writeFile(dir.file("file"), ""));
    ASSERT_TRUE(fc.init(dir.path().c_str(), false));
    ASSERT_EQ(fc.count(), 1);
    EXPECT_FALSE(fc.init(dir.file("file").c_str(), false));  // not a folder
    EXPECT_EQ(fc.count(), 0);
    EXPECT_FALSE(fc.init(dir.file("missing").c_str(), false));
    EXPECT_FALSE(fc.init(nullptr, false));
    EXPECT_STREQ(fc.folder(), dir.path().c_str());
    ASSERT_TRUE(fc.init(dir.path().c_str(), false));
    EXPECT_TRUE(fc.destroy());
    EXPECT_EQ(fc.count(), 0);
    EXPECT_STREQ(fc.folder(), dir.path().c_str());
}

// Running out of memory part-way through a listing throws (the allocator's
// exception is the one this library lets through) and must not leave the
// folder open behind it.
TEST(FolderListing, RunningOutOfMemoryWhileListingLeavesNoDescriptorOpen) {
    TempDir dir;
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(qortest::writeFile(dir.file("f" + std::to_string(i)), ""));
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

// Entries of a folder whose path is near the system's path limit used to be
// formed in a 4096-byte buffer: cut, their status failed and they vanished,
// and path() handed out a different, shorter path.
TEST(FolderListing, EntriesOfADeepFolderAreListedWithTheirWholePath) {
    TempDir dir;
    std::string folder = dir.path();
    const std::string component(200, 'd');
    while (folder.size() + 1 + component.size() < 3900) {
        folder += "/" + component;
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    }
    const std::string last(4000 - folder.size() - 1, 'e');
    folder += "/" + last;
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(folder.size(), 4000u);

    const std::string name(250, 'n');
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dfd, 0);
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
    EXPECT_EQ(p.length(), 4251u);
    // The system cannot reach that path in one piece: an honest failure.
    sFsObjExtInfo ext;
    EXPECT_FALSE(fc.getExtInfo(0, ext));
    EXPECT_FALSE(cFolderContents::isDirEmpty(folder.c_str()));
}

// ---------------------------------------------------------------------------
// Special places

class HomeVariable : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("HOME");
        hadHome_ = old != nullptr;
        if (old) oldHome_ = old;
    }
    void TearDown() override {
        if (hadHome_)
            ::setenv("HOME", oldHome_.c_str(), 1);
        else
            ::unsetenv("HOME");
    }

private:
    bool hadHome_ = false;
    std::string oldHome_;
};

using SpecialPlaces = HomeVariable;

TEST_F(SpecialPlaces, HomeAndRootComeFirstAndPathGivesTheirOwnPaths) {
    TempDir dir;
    ::setenv("HOME", dir.path().c_str(), 1);
    cFolderContents fc;
    ASSERT_TRUE(fc.init(dir.path().c_str(), false));
    ASSERT_TRUE(fc.enumSpecialLocations());
    EXPECT_EQ(fc.folder(), nullptr);
    ASSERT_GE(fc.count(), 2);
    EXPECT_EQ(str(fc.info(0)->displayName), "Home folder");
    EXPECT_EQ(str(fc.info(0)->name), dir.path());
    EXPECT_EQ(str(fc.info(1)->displayName), "File system");
    EXPECT_EQ(str(fc.info(1)->name), "/");
    for (int i = 0; i < fc.count(); ++i) {
        const sFolderItemInfo* e = fc.info(i);
        EXPECT_EQ(e->type, fsoSpecialPlace);
        EXPECT_EQ(e->size, 0u);
        EXPECT_EQ(e->hidden, 0);
        EXPECT_EQ(e->modified.year, 0);
        _guardchar<char> p;
        ASSERT_TRUE(fc.path(i, p));
        EXPECT_EQ(str(p), str(e->name));
    }
    if (cFolderContents::objtype("/Volumes") == fsoNone) {
        EXPECT_EQ(fc.count(), 2);
    }

    ::unsetenv("HOME");
    ASSERT_TRUE(fc.enumSpecialLocations());
    EXPECT_EQ(str(fc.info(0)->displayName), "File system");
}

TEST_F(SpecialPlaces, EachMountedFileSystemIsOfferedOnce) {
    TempDir dir;
    ::unsetenv("HOME");
    const std::string vols = dir.file("Volumes");
    ASSERT_EQ(::mkdir(vols.c_str(), 0755), 0);
    // Same file system as the volumes folder: the start-up volume, left out.
    ASSERT_EQ(::mkdir((vols + "/Startup").c_str(), 0755), 0);
    // Two names of one other file system, and a third file system.
    ASSERT_EQ(::symlink("/proc", (vols + "/ProcA").c_str()), 0);
    ASSERT_EQ(::symlink("/proc", (vols + "/ProcB").c_str()), 0);
    ASSERT_EQ(::symlink("/dev", (vols + "/Devices").c_str()), 0);
    ASSERT_TRUE(qortest::writeFile(vols + "/not-a-volume", ""));

    cFolderContents fc;
    ASSERT_TRUE(fc.enumSpecialLocations(vols.c_str()));
    std::set<std::string> shown, paths;
    for (int i = 1; i < fc.count(); ++i) {
        shown.insert(str(fc.info(i)->displayName));
        paths.insert(str(fc.info(i)->name));
    }
    ASSERT_EQ(fc.count(), 3);
    EXPECT_EQ(str(fc.info(0)->name), "/");
    EXPECT_TRUE(shown.count("Devices"));
    EXPECT_TRUE(shown.count("ProcA") + shown.count("ProcB") == 1);
    EXPECT_TRUE(paths.count(vols + "/Devices/"));

    // A missing volumes folder is simply no extra places.
    ASSERT_TRUE(fc.enumSpecialLocations(dir.file("missing").c_str()));
    EXPECT_EQ(fc.count(), 1);
}

// Volume paths used to be formed in a 300-byte buffer: a longer one was cut
// and its volume silently dropped.
TEST_F(SpecialPlaces, VolumesUnderALongPathKeepTheirWholePath) {
    TempDir dir;
    ::unsetenv("HOME");
    std::string vols = dir.path();
    for (int i = 0; i < 2; ++i) {
        vols += "/" + std::string(150, static_cast<char>('k' + i));
        ASSERT_EQ(::mkdir(vols.c_str(), 0755), 0);
    }
    vols += "/Volumes";
    ASSERT_EQ(::mkdir(vols.c_str(), 0755), 0);
    const std::string name(100, 'v');
    ASSERT_EQ(::symlink("/proc", (vols + "/" + name).c_str()), 0);
    ASSERT_GT(vols.size() + name.size(), 300u);

    cFolderContents fc;
    ASSERT_TRUE(fc.enumSpecialLocations(vols.c_str()));
    ASSERT_EQ(fc.count(), 2);
    EXPECT_EQ(str(fc.info(1)->displayName), name);
    EXPECT_EQ(str(fc.info(1)->name), vols + "/" + name + "/");
}

// ---------------------------------------------------------------------------
// Wildcard masks

struct MaskCase {
    const char *name, *mask;
    bool match;
};
std::string shown(const char* s) { return s ? "'" + std::string(s) + "'" : "<null>"; }

TEST(WildcardMask, MatchesWholeNamesCaseSensitively) {
    // No classes, no escapes; '?' is one byte, so a two-byte character needs two.
    const MaskCase cases[] = {
        {"report.txt", "*.txt", true}, {"report.TXT", "*.txt", false}, {"report.txt.bak", "*.txt", false},
        {"", "*", true},               {"", "?", false},               {"", "***", true},
        {nullptr, "*", false},         {"anything", nullptr, true},    {"anything", "", true},
        {"a[b]", "a[b]", true},        {"ab", "a[b]", false},          {"a\\b", "a\\?", true},
        {"caf\xc3\xa9", "caf?", false}, {"caf\xc3\xa9", "caf??", true}};
    for (const MaskCase& c : cases)
        EXPECT_EQ(cFolderContents::wcmatch(c.name, c.mask), c.match) << shown(c.name) << " " << shown(c.mask);
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
    auto hex = [](const std::string& s) {
        static const char digits[] = "0123456789abcdef";
        std::string out = "-";  // keeps an empty text a field
        for (unsigned char c : s) {
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
        return out;
    };
    std::vector<std::pair<std::string, std::string>> cases;
    for (int i = 0; i < 6000; ++i) {
        std::string name, mask;
        for (unsigned n = next(9); n > 0; --n) name.push_back(nameBytes[next(sizeof nameBytes)]);
        for (unsigned n = next(7) + 1; n > 0; --n) mask.push_back(maskBytes[next(sizeof maskBytes)]);
        // Half the masks are made from the name, so that matches are common.
        if (i % 2 && !name.empty()) {
            mask = name;
            for (unsigned k = next(4); k > 0; --k) {
                const unsigned at = next(static_cast<unsigned>(mask.size()));
                mask[at] = next(2) ? '*' : '?';
            }
        }
        cases.emplace_back(name, mask);
    }
    TempDir dir;
    std::string input;
    for (const auto& c : cases) input += hex(c.first) + " " + hex(c.second) + "\n";
    ASSERT_TRUE(qortest::writeFile(dir.file("cases"), input));
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
        const bool ours = cFolderContents::wcmatch(cases[i].first.c_str(), cases[i].second.c_str());
        matches += ours;
        EXPECT_EQ(ours, theirs[i] == '1') << "name " << hex(cases[i].first) << " mask " << hex(cases[i].second);
    }
    EXPECT_GT(matches, 500);  // the generator reaches both answers
}

TEST(WildcardMask, ManyStarsAgainstALongNameFinishAtOnce) {
    // A matcher that retries every split of the name among the stars takes
    // time exponential in their number on exactly this kind of input.
    const std::string name(20000, 'a');
    std::string mask;
    for (int i = 0; i < 200; ++i) mask += "*a";
    mask += "*b";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(cFolderContents::wcmatch(name.c_str(), mask.c_str()));
    EXPECT_TRUE(cFolderContents::wcmatch((name + "b").c_str(), mask.c_str()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 5000);
}

TEST(WildcardMaskList, PiecesAreTriedInTurnAndNotTrimmed) {
    const MaskCase cases[] = {
        {"a.doc", "*.txt;*.doc", true}, {"a.doc", "*.txt; *.doc", false}, {" a.doc", "*.txt; *.doc", true},
        {"a.pdf", "*.txt;;*.doc", true}, {"a.pdf", ";*.doc", true},       {"a.pdf", "*.txt;", false},
        {"a.txt", "*.txt;", true},       {"anything", "", true},          {"anything", nullptr, true},
        {nullptr, "", true},             {nullptr, "*", false},           {"x", "a;b;?", true}};
    for (const MaskCase& c : cases)
        EXPECT_EQ(cFolderContents::wcmmatch(c.name, c.mask), c.match) << shown(c.name) << " " << shown(c.mask);
}

// ---------------------------------------------------------------------------
// Creating and removing folders, types, permissions

TEST(FolderOps, MkdirCreatesOneFolderAndAcceptsAnExistingOne) {
    TempDir dir;
    const std::string fresh = dir.file("fresh");
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_TRUE(cFolderContents::mkdir(fresh.c_str()));
    struct stat st;
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0775u & ~mask);
    EXPECT_TRUE(cFolderContents::mkdir(fresh.c_str()));

    ASSERT_TRUE(qortest::writeFile(dir.file("file"), ""));
    EXPECT_FALSE(cFolderContents::mkdir(dir.file("file").c_str()));
    EXPECT_FALSE(cFolderContents::mkdir(dir.file("no/parent").c_str()));
    EXPECT_EQ(cFolderContents::objtype(dir.file("no").c_str()), fsoNone);
    EXPECT_FALSE(cFolderContents::mkdir(nullptr));
}

TEST(FolderOps, RemoveDirAcceptsMissingAndRefusesNonEmpty) {
    TempDir dir;
    EXPECT_TRUE(cFolderContents::removeDir(dir.file("missing").c_str()));
    EXPECT_TRUE(cFolderContents::removeDir(dir.file("missing/deeper").c_str()));
    const std::string full = dir.file("full");
    ASSERT_EQ(::mkdir(full.c_str(), 0755), 0);
    ASSERT_TRUE(qortest::writeFile(full + "/f", ""));
    EXPECT_FALSE(cFolderContents::removeDir(full.c_str()));
    EXPECT_EQ(cFolderContents::objtype(full.c_str()), fsoFolder);
    ASSERT_EQ(::unlink((full + "/f").c_str()), 0);
    EXPECT_TRUE(cFolderContents::removeDir(full.c_str()));
    EXPECT_EQ(cFolderContents::objtype(full.c_str()), fsoNone);
    ASSERT_TRUE(qortest::writeFile(dir.file("file"), ""));
    EXPECT_FALSE(cFolderContents::removeDir(dir.file("file").c_str()));
    // A dangling link holds its name: something is there.
    ASSERT_EQ(::symlink("nowhere", dir.file("dangling").c_str()), 0);
    EXPECT_FALSE(cFolderContents::removeDir(dir.file("dangling").c_str()));
}

TEST(FolderOps, IsDirEmptyCountsOnlyEntriesWithAStatus) {
    TempDir dir;
    EXPECT_TRUE(cFolderContents::isDirEmpty(dir.path().c_str()));
    ASSERT_EQ(::symlink("nowhere", dir.file("dangling").c_str()), 0);
    EXPECT_TRUE(cFolderContents::isDirEmpty(dir.path().c_str()));
    ASSERT_TRUE(qortest::writeFile(dir.file(".hidden"), ""));
    EXPECT_FALSE(cFolderContents::isDirEmpty(dir.path().c_str()));
    EXPECT_FALSE(cFolderContents::isDirEmpty(dir.file("missing").c_str()));
    EXPECT_FALSE(cFolderContents::isDirEmpty(dir.file(".hidden").c_str()));
}

TEST(FolderOps, ObjtypeFollowsLinks) {
    TempDir dir;
    ASSERT_TRUE(qortest::writeFile(dir.file("f"), ""));
    EXPECT_EQ(cFolderContents::objtype(dir.file("f").c_str()), fsoFile);
    EXPECT_EQ(cFolderContents::objtype(dir.path().c_str()), fsoFolder);
    EXPECT_EQ(cFolderContents::objtype("/dev/null"), fsoCharDevice);
    EXPECT_EQ(cFolderContents::objtype(dir.file("missing").c_str()), fsoNone);
    EXPECT_EQ(cFolderContents::objtype(nullptr), fsoNone);
    ASSERT_EQ(::symlink(dir.path().c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(cFolderContents::objtype(dir.file("link").c_str()), fsoFolder);
    EXPECT_TRUE(cFolderContents::pathCaseSensetive(dir.path().c_str()));
}

TEST(FolderOps, PermissionsAreSetAndReadAsTheAccessCheckGrantsThem) {
    TempDir dir;
    const std::string f = dir.file("f");
    ASSERT_TRUE(qortest::writeFile(f, ""));
    struct stat st;
    ASSERT_TRUE(cFolderContents::setPermissions(f.c_str(), 7, 5, 4));
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0754u);
    // A digit above 7 would reach the set-id and sticky bits: refused.
    EXPECT_FALSE(cFolderContents::setPermissions(f.c_str(), 8, 0, 0));
    EXPECT_FALSE(cFolderContents::setPermissions(f.c_str(), 6, 0, 9));
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0754u);
    EXPECT_FALSE(cFolderContents::setPermissions(dir.file("missing").c_str(), 6, 4, 4));

    // Python's os.access asks the same access check (and knows whether we
    // run as the superuser, who may read and write anything).
    std::string ours;
    for (int mode : {0000, 0400, 0200, 0100, 0644, 0755, 0311}) {
        ASSERT_EQ(::chmod(f.c_str(), static_cast<mode_t>(mode)), 0);
        const int p = cFolderContents::getEffectivePermissions(f.c_str());
        ours += std::to_string(p) + (cFolderContents::canRead(f.c_str()) ? "r" : "-") +
                (cFolderContents::canWrite(f.c_str()) ? "w" : "-") +
                (cFolderContents::canExecute(f.c_str()) ? "x" : "-") + " ";
    }
    const std::string theirs = qortest::runPython(R"(
import os, sys
f = sys.argv[1]
out = ''
for mode in (0o000, 0o400, 0o200, 0o100, 0o644, 0o755, 0o311):
    os.chmod(f, mode)
    r, w, x = os.access(f, os.R_OK), os.access(f, os.W_OK) or os.geteuid() == 0, os.access(f, os.X_OK)
    p = 4 * os.access(f, os.R_OK) + 2 * os.access(f, os.W_OK) + x
    out += '%d%s%s%s ' % (p, 'r' if r else '-', 'w' if w else '-', 'x' if x else '-')
print(out, end='')
)", "'" + f + "'");
    EXPECT_EQ(ours, theirs);

    EXPECT_EQ(cFolderContents::getEffectivePermissions(dir.file("missing").c_str()), 8);
    EXPECT_FALSE(cFolderContents::canWrite(dir.file("missing").c_str()));
    EXPECT_FALSE(cFolderContents::canRead(dir.file("missing").c_str()));
}

// ---------------------------------------------------------------------------
// Attributes and times

TEST(FolderOps, ExtInfoAgreesWithPythonsStat) {
    TempDir dir;
    const std::string f = dir.file("f");
    ASSERT_TRUE(qortest::writeFile(f, std::string(4321, 'q')));
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    // Accessed 2021-01-15 08:30 CET, modified 2021-07-01 12:00 CEST.
    struct timeval tv[2] = {{1610695800, 0}, {1625133600, 0}};
    ASSERT_EQ(::utimes(f.c_str(), tv), 0);

    sFsObjExtInfo info;
    ASSERT_TRUE(cFolderContents::getExtInfo(f.c_str(), info));
    const std::string ours = std::to_string(info.mode) + " " + std::to_string(info.size) + " " +
                             stamp(info.accessed) + " " + stamp(info.modified) + " " + stamp(info.changed);
    const std::string theirs = qortest::runPython(R"(
import os, sys, time
st = os.stat(sys.argv[1])
def s(t):
    t = time.localtime(t)
    return '%04d-%02d-%02d %02d:%02d:%02d' % (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec)
print('%d %d %s %s %s' % (st.st_mode, st.st_size, s(st.st_atime), s(st.st_mtime), s(st.st_ctime)), end='')
)", "'" + f + "'");
    EXPECT_EQ(ours, theirs);

    sFsObjExtInfo untouched;
    untouched.size = 77;
    EXPECT_FALSE(cFolderContents::getExtInfo(dir.file("missing").c_str(), untouched));
    EXPECT_EQ(untouched.size, 77u);
}

// "access modification", in seconds since the epoch.
std::string times(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "<no stat>";
    return std::to_string(st.st_atime) + " " + std::to_string(st.st_mtime);
}

TEST(FolderOps, SetTimeTakesLocalSecondsOrALocalDate) {
    TempDir dir;
    const std::string f = dir.file("f");
    ASSERT_TRUE(qortest::writeFile(f, ""));
    // Expected instants from Python's zoneinfo: Berlin 2021-07-01 12:00 is
    // 10:00 UTC (1625133600), 2021-01-15 08:30 is 07:30 UTC (1610695800).
    ASSERT_TRUE(cFolderContents::setTime(f.c_str(), 1625140800u, 0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_EQ(times(f), "1625133600 1625133600");
    ASSERT_TRUE(cFolderContents::setTime(f.c_str(), 1610699400u, 5u, 6u));
    EXPECT_EQ(times(f), "1610695800 1610695800");
    ASSERT_TRUE(cFolderContents::setTime(f.c_str(), 2021, 7, 1, 12, 0, 0));
    EXPECT_EQ(times(f), "1625133600 1625133600");
    ASSERT_TRUE(cFolderContents::setTime(f.c_str(), 2021, 1, 15, 8, 30, 0));
    EXPECT_EQ(times(f), "1610695800 1610695800");

    EXPECT_FALSE(cFolderContents::setTime(f.c_str(), 0xFFFFFFFFu, 1u, 1u));
    EXPECT_FALSE(cFolderContents::setTime(nullptr, 1625140800u, 0u, 0u));
    EXPECT_FALSE(cFolderContents::setTime(nullptr, 2021, 7, 1, 12, 0, 0));
    EXPECT_FALSE(cFolderContents::setTime(dir.file("missing").c_str(), 2021, 7, 1, 12, 0, 0));
    // Fields out of range are refused, not rolled into another date.
    const int bad[][6] = {{2021, 13, 1, 12, 0, 0}, {2021, 0, 1, 12, 0, 0}, {2021, 7, 1, 24, 0, 0}};
    for (const auto& t : bad) EXPECT_FALSE(cFolderContents::setTime(f.c_str(), t[0], t[1], t[2], t[3], t[4], t[5]));
    EXPECT_EQ(times(f), "1610695800 1610695800");
}

TEST(FolderOps, VolumeSizesAgreeWithPythonsStatvfs) {
    TempDir dir;
    unsigned long long total = 0, avail = 0;
    ASSERT_TRUE(cFolderContents::getVolInfo(dir.path().c_str(), total, avail));
    const std::string theirs = qortest::runPython(R"(
import os, sys
v = os.statvfs(sys.argv[1])
print(v.f_frsize * v.f_blocks, v.f_frsize * v.f_bavail)
)", "'" + dir.path() + "'");
    unsigned long long pyTotal = 0, pyAvail = 0;
    ASSERT_EQ(std::sscanf(theirs.c_str(), "%llu %llu", &pyTotal, &pyAvail), 2) << theirs;
    EXPECT_EQ(total, pyTotal);
    // Other programs write meanwhile: the free space may move a little.
    const unsigned long long diff = avail > pyAvail ? avail - pyAvail : pyAvail - avail;
    EXPECT_LT(diff, 1ULL << 30);
    EXPECT_LE(avail, total);

    unsigned long long a = 1, b = 2;
    EXPECT_FALSE(cFolderContents::getVolInfo(dir.file("missing").c_str(), a, b));
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
}

// ---------------------------------------------------------------------------
// Home, temporary and configuration folders

using KnownFolders = HomeVariable;

TEST_F(KnownFolders, HomeComesFromTheEnvironment) {
    _guardchar<char> out("keep");
    ::setenv("HOME", "/home/someone", 1);
    ASSERT_TRUE(cFolderContents::getHome(out));
    EXPECT_EQ(str(out), "/home/someone");
    out.set("keep");
    ::unsetenv("HOME");
    EXPECT_FALSE(cFolderContents::getHome(out));
    EXPECT_EQ(str(out), "keep");
    ::setenv("HOME", "", 1);
    EXPECT_FALSE(cFolderContents::getHome(out));
    EXPECT_EQ(str(out), "keep");

    ASSERT_TRUE(cFolderContents::getTempFolder(out));
    EXPECT_EQ(str(out), "/tmp");
    out.set("keep");
    EXPECT_FALSE(cFolderContents::getShortcutsFolder(out, "qor", true));
    EXPECT_EQ(str(out), "keep");
}

TEST_F(KnownFolders, ConfigFolderIsADotFolderInHome) {
    TempDir dir;
    ::setenv("HOME", dir.path().c_str(), 1);
    _guardchar<char> out;
    ASSERT_TRUE(cFolderContents::getConfigFolder(out, "qor"));
    EXPECT_EQ(str(out), dir.path() + "/.qor");
    EXPECT_EQ(cFolderContents::objtype(out.c_str()), fsoFolder);
    ASSERT_TRUE(cFolderContents::getConfigFolder(out, "qor"));  // already there
    EXPECT_EQ(str(out), dir.path() + "/.qor");

    // A file in the way: false, and out holds the home folder.
    ASSERT_TRUE(qortest::writeFile(dir.file(".blocked"), ""));
    EXPECT_FALSE(cFolderContents::getConfigFolder(out, "blocked"));
    EXPECT_EQ(str(out), dir.path());

    ::setenv("HOME", dir.file("missing").c_str(), 1);
    EXPECT_FALSE(cFolderContents::getConfigFolder(out, "qor"));
    ::unsetenv("HOME");
    out.set("keep");
    EXPECT_FALSE(cFolderContents::getConfigFolder(out, "qor"));
    EXPECT_EQ(str(out), "keep");
    EXPECT_FALSE(cFolderContents::getConfigFolder(out, nullptr));
}

TEST(KnownFolder, SystemConfigFolderIsUnderEtc) {
    const bool hadBase = cFolderContents::objtype("/etc/qorcfg") == fsoFolder;
    const std::string name = "qortest-" + std::to_string(::getpid());
    _guardchar<char> out("keep");
    const bool ok = cFolderContents::getSysConfigFolder(out, name.c_str());
    if (::access("/etc", W_OK) != 0 && !hadBase) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(str(out), "keep");
        return;
    }
    ASSERT_TRUE(ok);
    EXPECT_EQ(str(out), "/etc/qorcfg/" + name);
    EXPECT_EQ(cFolderContents::objtype(out.c_str()), fsoFolder);
    ::rmdir(out.c_str());
    if (!hadBase) ::rmdir("/etc/qorcfg");
    EXPECT_FALSE(cFolderContents::getSysConfigFolder(out, nullptr));
}

// ---------------------------------------------------------------------------
// File names from arbitrary text

// The name safeName makes of text in a buffer of size bytes; it checks that
// the count returned is the name's length and that the name fits.
std::string safe(const char* text, long long size) {
    std::vector<char> buf(static_cast<std::size_t>(size > 0 ? size : 1) + 8, 'Z');
    const long long n = cFolderContents::safeName(text, buf.data(), size);
    if (size < 1) return buf[0] == 'Z' && n == 0 ? "<untouched>" : "<written>";
    EXPECT_EQ(std::strlen(buf.data()), static_cast<std::size_t>(n));
    EXPECT_LT(n, size);
    return buf.data();
}

TEST(SafeName, ReplacesCharactersThatCannotStandInANameAndNeverNamesTheFolderOrItsParent) {
    const struct {
        const char* text;
        long long size;
        const char* name;
    } cases[] = {
        {"  a:b?*\"c/d  ", 100, "a_b~@'c=d"}, {"\x01\t x|y\x02z\x03 \t", 100, "x_y z"}, {"<a>\\b", 100, "<a>\\b"},
        {"caf\xc3\xa9", 100, "caf\xc3\xa9"},  {"abc", 1, ""},   {"abcdef", 4, "abc"},
        {"ab    cd", 5, "ab"},  // cut, then trailing blanks stripped
        {" \t\r\n", 100, ""},   {nullptr, 100, ""}, {"abc", 0, "<untouched>"},
        {".", 100, ""},         {" .. ", 100, ""},
        {".hidden", 2, ""},     {"..x", 3, ""},  // cut down to "." and ".."
        {"...", 100, "..."},    {"./..", 100, ".=.."},
    };
    for (const auto& c : cases) EXPECT_EQ(safe(c.text, c.size), c.name) << (c.text ? c.text : "<null>") << " " << c.size;
    EXPECT_EQ(cFolderContents::safeName("abc", nullptr, 10), 0);
}

TEST(SafeName, CutsOnlyBetweenUtf8Characters) {
    // "ab€x": € is E2 82 AC.
    EXPECT_EQ(safe("ab\xe2\x82\xac" "x", 3), "ab");
    EXPECT_EQ(safe("ab\xe2\x82\xac" "x", 4), "ab");
    EXPECT_EQ(safe("ab\xe2\x82\xac" "x", 5), "ab");
    EXPECT_EQ(safe("ab\xe2\x82\xac" "x", 6), "ab\xe2\x82\xac");
    EXPECT_EQ(safe("a \xf0\x9f\x98\x80", 5), "a");  // a four-byte character that does not fit, then the blank goes
    EXPECT_EQ(safe("\xc3\xa9\xc3\xa9", 4), "\xc3\xa9");

    // Every cut of a mixed text, checked by Python's strict UTF-8 decoder.
    const std::string text = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x98\x80 \xd0\xbf\xd1\x80\xd0\xb8 end";
    TempDir dir;
    std::string all = "x";
    for (long long size = 1; size <= static_cast<long long>(text.size()) + 1; ++size) {
        const std::string s = safe(text.c_str(), size);
        EXPECT_EQ(text.compare(0, s.size(), s), 0) << size;  // nothing replaced: a prefix
        for (unsigned char c : s) {
            char h[3];
            std::snprintf(h, sizeof h, "%02x", c);
            all += h;
        }
        all += " x";  // keeps an empty result an argument
    }
    const std::string theirs = qortest::runPython(R"(
import sys
bad = 0
for h in sys.argv[1:]:
    try:
        bytes.fromhex(h[1:]).decode('utf-8', 'strict')
    except UnicodeDecodeError:
        bad += 1
print(len(sys.argv) - 1, bad, end='')
)", all);
    EXPECT_EQ(theirs, std::to_string(text.size() + 2) + " 0");
}

}  // namespace
