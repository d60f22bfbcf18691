// The hive store against what other users and other programs do to it:
// hives whose status cannot be taken, hives that became FIFOs, sockets or
// devices, folders another user made or may write taken for a store by
// name, locks another user holds, names like the store's temporary files,
// and removals one program makes while another saves.  Tests that need a
// second user run as root with "nobody" and are skipped otherwise.
#include "uitoolkit/ciappconfig.h"

#include "plantedfolders.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using qortest::kNobody;

std::string valueAt(cApplicationConfig& c, const std::string& path) {
    _typebuf<unsigned char> raw;
    if (!c.getParam(path.c_str(), raw)) return "<none>";
    return std::string(reinterpret_cast<char*>(raw.data()), static_cast<std::size_t>(raw.count()));
}

// A hive holding one child "k" with the value v, as a save writes it.
std::string hiveWith(const std::string& v) {
    return std::string("QORC\0\0\x01\x04k\0\0\0", 12) + static_cast<char>(v.size()) + '\0' + v + std::string(2, '\0');
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

std::string faultOf(cCIAppConfig& c, const char* hive) { return cCIAppConfig::describeHiveFault(c.hiveFault(hive)); }

std::string linkOf(const std::string& path) {
    char buf[4096];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    return n < 0 ? std::string("<no link>") : std::string(buf, static_cast<std::size_t>(n));
}

mode_t typeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

bool becomeNobody() { return setgroups(0, nullptr) == 0 && setresgid(kNobody, kNobody, kNobody) == 0 && setresuid(kNobody, kNobody, kNobody) == 0; }

// Runs body in a child process (as "nobody" when asked), which the system
// ends after `seconds`: a body that hangs fails instead of holding the test
// up.  True when the child ran body to its end with no failed assertion (its
// failures are printed by the child).
bool inChild(bool asNobody, int seconds, const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        alarm(static_cast<unsigned int>(seconds));
        if (asNobody && !becomeNobody()) _exit(3);
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    if (WIFSIGNALED(status)) ADD_FAILURE() << "the child was ended by signal " << WTERMSIG(status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A process of "nobody" that holds a lock on bytes 0..3 of a file until it
// is let go: a read lock, which anyone who may read the file can take, or a
// write lock, for which nobody must be let write it.
class ForeignLock {
public:
    ForeignLock(const std::string& file, short type) {
        int ready[2], go[2];
        if (pipe(ready) != 0 || pipe(go) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(go[1]);
            const int fd = becomeNobody() ? open(file.c_str(), type == F_RDLCK ? O_RDONLY : O_RDWR) : -1;
            struct flock fl = {};
            fl.l_type = type;
            fl.l_whence = SEEK_SET;
            fl.l_len = 4;
            if (fd < 0 || fcntl(fd, F_SETLK, &fl) != 0 || write(ready[1], "x", 1) != 1) _exit(2);
            char c;
            while (read(go[0], &c, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(go[0]);
        go_ = go[1];
        char c = 0;
        held_ = pid_ > 0 && read(ready[0], &c, 1) == 1;
        close(ready[0]);
    }
    ~ForeignLock() { letGo(); }
    bool held() const { return held_; }
    void letGo() {
        if (go_ >= 0) close(go_);
        go_ = -1;
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    bool held_ = false;
};

class HiveOthers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(chmod(home_.path().c_str(), 0755), 0);
        char cwd[4096];
        oldCwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    }
    void TearDown() override {
        if (chdir(oldCwd_.c_str()) != 0) ADD_FAILURE() << "cannot go back to " << oldCwd_;
        cCIAppConfig::gForeignLockWaitMs = cCIAppConfig::kForeignLockWaitMs;
    }
    std::string hive(const std::string& name) const { return dir_ + "/" + name; }
    // A fresh store folder with its lock file, owned by `owner`.
    void makeStore(uid_t owner, mode_t mode = 0700) {
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
        ASSERT_EQ(mkdir(dir_.c_str(), mode), 0);
        ASSERT_EQ(chmod(dir_.c_str(), mode), 0);
        ASSERT_TRUE(qortest::writeFile(hive(".hives.lock"), ""));
        ASSERT_EQ(chown(dir_.c_str(), owner, owner == 0 ? 0 : owner), 0);
        ASSERT_EQ(chown(hive(".hives.lock").c_str(), owner, owner == 0 ? 0 : owner), 0);
    }

    qortest::TempDir home_;
    qortest::ScopedEnv homeVar_{"HOME", home_.path().c_str()};
    std::string dir_ = home_.path() + "/.qor";
    std::string oldCwd_;
};

// ---- hives whose status cannot be taken -------------------------------------

// A hive whose status cannot be taken (a loop of links, a link through a
// file, a link to a name too long, a link into a folder the user may not
// search) is a fault, never a missing hive: the opening says so, a save is
// refused, and nothing is made or changed anywhere: not the link, not what
// it leads to, not the folder.  Once as found by the opening, once as
// planted after it (the first access then gets nothing, later ones the
// empty hive, and the save is refused all the same).
TEST_F(HiveOthers, AHiveWhoseStatusCannotBeTakenIsAFaultAndNothingIsWritten) {
    qortest::TempDir outside;
    ASSERT_EQ(chmod(outside.path().c_str(), 0755), 0);
    ASSERT_TRUE(qortest::writeFile(outside.file("file"), "a file"));
    // Closed to the user running the store: made here, and searched by
    // "nobody" below when this is the superuser (whom no mode stops).
    ASSERT_EQ(mkdir(outside.file("closed").c_str(), 0700), 0);
    ASSERT_TRUE(qortest::writeFile(outside.file("closed/important"), hiveWith("mine")));
    const bool root = !qortest::permissionsBind();
    if (!root) {
        ASSERT_EQ(chmod(outside.file("closed").c_str(), 0), 0);
    }
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> links;  // name in the folder -> what it holds
        int error;
    };
    const std::vector<Case> cases = {
        {"a loop of links", {{"lang", "other"}, {"other", "lang"}}, ELOOP},
        {"a link through a file", {{"lang", outside.file("file") + "/lang"}}, ENOTDIR},
        {"a link to a name too long", {{"lang", outside.path() + "/" + std::string(300, 'n')}}, ENAMETOOLONG},
        {"a link into a folder the user may not search", {{"lang", outside.file("closed/important")}}, EACCES},
        {"a link into it to a file not made yet", {{"lang", outside.file("closed/made")}}, EACCES},
    };
    for (bool late : {false, true}) {
        for (const Case& c : cases) {
            makeStore(root ? kNobody : getuid());
            const std::string dir = dir_;
            EXPECT_TRUE(qortest::asUnprivileged([&] {
                cCIAppConfig store;
                if (!late) {
                    for (const auto& l : c.links) ASSERT_EQ(symlink(l.second.c_str(), (dir + "/" + l.first).c_str()), 0);
                }
                ASSERT_TRUE(store.openConfig(dir.c_str())) << c.what;
                if (late) {
                    for (const auto& l : c.links) ASSERT_EQ(symlink(l.second.c_str(), (dir + "/" + l.first).c_str()), 0);
                    EXPECT_FALSE(store.setParamStr("lang/k", "first", -1)) << c.what;
                }
                EXPECT_TRUE(contains(faultOf(store, "lang"), "status cannot be taken")) << c.what << " " << late;
                EXPECT_TRUE(contains(store.hiveFaultText("lang"), std::strerror(c.error))) << store.hiveFaultText("lang");
                store.setParamStr("lang/k", "v", -1);
                ASSERT_TRUE(store.setParamStr("kept/k", "v", -1)) << c.what;
                EXPECT_FALSE(store.saveConfig()) << c.what << " " << late;
                EXPECT_FALSE(store.saveConfig()) << c.what << " " << late;
                std::vector<std::string> names = {".hives.lock", "kept"};
                for (const auto& l : c.links) {
                    EXPECT_EQ(linkOf(dir + "/" + l.first), l.second) << c.what;
                    names.push_back(l.first);
                }
                std::sort(names.begin(), names.end());
                EXPECT_EQ(qortest::namesIn(dir), names) << c.what << " " << late;
            })) << c.what << " " << late;
            if (!root) {
                ASSERT_EQ(chmod(outside.file("closed").c_str(), 0700), 0);
            }
            EXPECT_EQ(qortest::namesIn(outside.file("closed")), std::vector<std::string>{"important"}) << c.what;
            EXPECT_EQ(qortest::readFile(outside.file("closed/important")), hiveWith("mine")) << c.what;
            EXPECT_EQ(qortest::readFile(outside.file("file")), "a file") << c.what;
            if (!root) {
                ASSERT_EQ(chmod(outside.file("closed").c_str(), 0), 0);
            }
        }
    }
    chmod(outside.file("closed").c_str(), 0700);
}

// ---- links and files another user planted ------------------------------------

// The store in folders another user shares (its folder reached through
// "$HOME/.qor", a link of the user's), with names that user planted where a
// hive goes.  A link of theirs in a sticky folder anyone may write (also one
// hop of a chain, also one that leads nowhere) is neither followed nor read,
// whatever the machine's own protection of links, and a hive file of theirs
// there is not replaced: the hive says why, naming the link or file and its
// owner, no save goes through, and nothing changes anywhere but the store's
// lock file.  What the system's rule lets through (the user's own link, a
// link in a folder that is not sticky, a file in the sticky folder its owner
// owns) is saved, a replaced hive keeping its owner.
TEST_F(HiveOthers, LinksAndFilesAnotherUserPlantedAreNeitherFollowedNorReplaced) {
    if (qortest::permissionsBind()) GTEST_SKIP() << "needs a second user: run as root";
    using F = qortest::PlantedFolders;
    struct Case {
        const char* what;
        const char* folder;  // the store's folder
        std::function<bool(F&)> plant;
        const char* names;    // refused: the link or file the reason names
        const char* written;  // saved: the file that holds the hive after
        uid_t owner;
    };
    const Case cases[] = {
        {"a link of nobody's to root's hive", "shared",
         [](F& f) { return f.link("shared/lang", f.path("private/important"), kNobody); }, "shared/lang", nullptr, 0},
        {"a dangling link of nobody's", "shared",
         [](F& f) { return f.link("shared/lang", f.path("private/made"), kNobody); }, "shared/lang", nullptr, 0},
        {"a chain with one link of nobody's", "shared",
         [](F& f) {
             return f.link("shared/lang", "hop", 0) && f.link("shared/hop", f.path("private/important"), kNobody);
         },
         "shared/hop", nullptr, 0},
        {"nobody's hive in a sticky folder", "shared",
         [](F& f) { return f.file("shared/lang", hiveWith("nobody's"), kNobody); }, "shared/lang", nullptr, 0},
        {"root's own link in a sticky folder", "shared",
         [](F& f) { return f.link("shared/lang", f.path("private/important"), 0); }, nullptr, "private/important", 0},
        {"nobody's link in a folder that is not sticky", "open",
         [](F& f) { return f.link("open/lang", f.path("private/important"), kNobody); }, nullptr, "private/important",
         0},
        {"nobody's hive in the sticky folder nobody owns", "nobodys",
         [](F& f) { return f.file("nobodys/lang", hiveWith("nobody's"), kNobody); }, nullptr, "nobodys/lang",
         kNobody},
        {"a new hive in a sticky folder", "shared", [](F&) { return true; }, nullptr, "shared/lang", 0},
    };
    for (const Case& c : cases) {
        F f;
        ASSERT_TRUE(f.ready());
        ASSERT_TRUE(f.file("private/important", hiveWith("root's"), 0));
        ASSERT_TRUE(c.plant(f)) << c.what;
        ASSERT_EQ(system(("rm -f '" + dir_ + "'").c_str()), 0);
        ASSERT_EQ(symlink(f.path(c.folder).c_str(), dir_.c_str()), 0);
        const std::string lock = std::string(c.folder) + "/.hives.lock";
        const std::string before = f.snapshot(lock);
        cCIAppConfig store;
        ASSERT_TRUE(store.openConfig("qor")) << c.what;
        ASSERT_TRUE(store.setParamStr("lang/k", "v", -1) || store.setParamStr("lang/k", "v", -1)) << c.what;
        if (c.names) {
            EXPECT_FALSE(store.saveConfig()) << c.what;
            EXPECT_EQ(store.hiveFault("lang"), cCIAppConfig::hfRefused) << c.what;
            const std::string why = store.hiveFaultText("lang");
            // Named where the store met it: in its folder, or by its real path.
            const std::string leaf = std::strrchr(c.names, '/');
            EXPECT_TRUE((contains(why, (dir_ + leaf).c_str()) || contains(why, f.path(c.names).c_str())) &&
                        contains(why, "nobody"))
                << c.what << ": " << why;
            EXPECT_EQ(f.snapshot(lock), before) << c.what;
        } else {
            EXPECT_TRUE(store.saveConfig()) << c.what << ": " << store.hiveFaultText("lang");
            EXPECT_EQ(qortest::readFile(f.path(c.written)), hiveWith("v")) << c.what;
            struct stat st;
            ASSERT_EQ(stat(f.path(c.written).c_str(), &st), 0) << c.what;
            EXPECT_EQ(st.st_uid, c.owner) << c.what;
        }
        ASSERT_EQ(unlink(dir_.c_str()), 0);
    }
}

// Access control lists: a hive of mode 0640 with an entry for "nobody"
// keeps its whole list through a save, and a new hive in a folder with a
// default list, made under the creation mask 077, gets what the shell's
// ">" gives a new file there (getfacl reads both).
TEST_F(HiveOthers, ASaveKeepsTheHivesAccessListAndANewHiveGetsTheFoldersDefault) {
    makeStore(getuid());
    ASSERT_TRUE(qortest::writeFile(hive("lang"), hiveWith("1")));
    ASSERT_EQ(chmod(hive("lang").c_str(), 0640), 0);
    int status = -1;
    const std::string set = qortest::runCommand("setfacl -m u:nobody:rw- '" + hive("lang") + "' 2>&1", &status);
    if (status != 0) GTEST_SKIP() << "this file system takes no access control lists: " << set;
    auto acl = [](const std::string& path) { return qortest::runCommand("getfacl -p --omit-header '" + path + "'"); };
    const std::string before = acl(hive("lang"));
    ASSERT_TRUE(contains(before, "user:nobody:rw-")) << before;
    {
        cCIAppConfig store;
        ASSERT_TRUE(store.openConfig(dir_.c_str()));
        ASSERT_TRUE(store.setParamStr("lang/k", "2", -1));
        ASSERT_TRUE(store.saveConfig());
    }
    EXPECT_EQ(qortest::readFile(hive("lang")), hiveWith("2"));
    EXPECT_EQ(acl(hive("lang")), before);

    qortest::runCommand("setfacl -d -m u::rw-,g::r--,o::---,u:nobody:rw- '" + dir_ + "'", &status);
    ASSERT_EQ(status, 0);
    const mode_t was = umask(077);
    bool saved = false;
    {
        cCIAppConfig store;
        saved = store.openConfig(dir_.c_str()) && store.setParamStr("fresh/k", "3", -1) && store.saveConfig();
    }
    umask(was);
    ASSERT_TRUE(saved);
    qortest::runCommand("sh -c \"umask 077; : > '" + hive("shell") + "'\"", &status);
    ASSERT_EQ(status, 0);
    const std::string shell = acl(hive("shell"));
    ASSERT_TRUE(contains(shell, "user:nobody:rw-")) << shell;
    EXPECT_EQ(acl(hive("fresh")), shell);
}

// ---- hives that are no regular file -----------------------------------------

// A hive replaced between its load and its save by a FIFO, a live socket or
// a device (directly or behind the link that is the hive): the save is
// refused with the reason, nothing is renamed over it, and the FIFO is never
// opened for writing (a reader of it would see a writer come and go).  A
// second store that read the hive before gets nothing from it either.
TEST_F(HiveOthers, AHiveThatBecameAFifoASocketOrADeviceIsRefusedAndLeftAlone) {
    const bool root = !qortest::permissionsBind();
    qortest::TempDir outside;
    enum Kind { kFifo, kSocket, kDevice };
    struct Case {
        const char* what;
        Kind kind;
        bool behindLink;
    };
    const Case cases[] = {
        {"a FIFO", kFifo, false},      {"a live socket", kSocket, false}, {"a device", kDevice, false},
        {"a FIFO behind the link", kFifo, true}, {"a socket behind the link", kSocket, true},
    };
    for (const Case& c : cases) {
        if (c.kind == kDevice && !root) continue;  // only the superuser makes devices
        makeStore(getuid());
        const std::string real = c.behindLink ? outside.file("lang") : hive("lang");
        ASSERT_EQ(system(("rm -f '" + real + "'").c_str()), 0);
        ASSERT_TRUE(qortest::writeFile(real, hiveWith("1")));
        if (c.behindLink) {
            ASSERT_EQ(symlink(real.c_str(), hive("lang").c_str()), 0);
        }
        cCIAppConfig a, b;
        ASSERT_TRUE(a.openConfig(dir_.c_str()));
        ASSERT_TRUE(b.openConfig(dir_.c_str()));
        ASSERT_EQ(valueAt(b, "lang/k"), "1");
        ASSERT_TRUE(a.setParamStr("lang/k", "2", -1));

        ASSERT_EQ(unlink(real.c_str()), 0);
        int reader = -1, server = -1;
        mode_t type = 0;
        if (c.kind == kFifo) {
            ASSERT_EQ(mkfifo(real.c_str(), 0600), 0);
            reader = open(real.c_str(), O_RDONLY | O_NONBLOCK);
            ASSERT_GE(reader, 0);
            type = S_IFIFO;
        } else if (c.kind == kSocket) {
            server = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr = {};
            addr.sun_family = AF_UNIX;
            ASSERT_LT(real.size(), sizeof addr.sun_path);
            std::strcpy(addr.sun_path, real.c_str());
            ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
            ASSERT_EQ(listen(server, 4), 0);
            type = S_IFSOCK;
        } else {
            // As /dev/null; a container may not let even the superuser make one.
            if (mknod(real.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
                std::printf("skipped %s: mknod: %s\n", c.what, std::strerror(errno));
                continue;
            }
            type = S_IFCHR;
        }
        EXPECT_TRUE(inChild(false, 60, [&] {
            EXPECT_FALSE(a.saveConfig()) << c.what;
            EXPECT_TRUE(contains(faultOf(a, "lang"), "no regular file")) << c.what;
            EXPECT_EQ(valueAt(b, "lang/k"), "<none>") << c.what;
            EXPECT_FALSE(a.saveConfig()) << c.what;
        })) << c.what;
        EXPECT_EQ(typeOf(real), type) << c.what;
        if (c.behindLink) {
            EXPECT_EQ(linkOf(hive("lang")), real) << c.what;
        }
        EXPECT_EQ(qortest::namesIn(dir_), (std::vector<std::string>{".hives.lock", "lang"})) << c.what;
        if (reader >= 0) {
            pollfd p = {reader, POLLIN, 0};
            ASSERT_GE(poll(&p, 1, 0), 0);
            EXPECT_EQ(p.revents & (POLLHUP | POLLIN), 0) << c.what << ": a writer opened the FIFO";
            close(reader);
        }
        if (server >= 0) close(server);
        unlink(real.c_str());
    }
}

// ---- folders taken for a store by name --------------------------------------

// A bare configuration name is a folder of the current folder only when
// that folder is the user's own: owned by the user, not writable by group or
// others, not reached through another user's link.  Otherwise the name
// means "$HOME/.<name>", and the folder it named is left exactly as it was,
// whatever it holds (a lock file, a link where a hive would go).
TEST_F(HiveOthers, AFolderAnotherUserMadeOrMayWriteIsNotTakenForTheStore) {
    const bool root = !qortest::permissionsBind();
    qortest::TempDir shared;  // a folder anyone may write, as /tmp
    ASSERT_EQ(chmod(shared.path().c_str(), 01777), 0);
    qortest::TempDir outside;
    ASSERT_EQ(chmod(outside.path().c_str(), 0755), 0);
    struct Case {
        const char* what;
        bool nobodys;      // made by "nobody" (the superuser only)
        mode_t mode;
        bool linkOfNobody; // "qorapp" is nobody's link to a private folder of the user's
        bool taken;
    };
    const Case cases[] = {
        {"the user's own, private", false, 0700, false, true},
        {"the user's own, others may read", false, 0755, false, true},
        {"the user's own, the group may write", false, 0770, false, false},
        {"the user's own, anyone may write", false, 0777, false, false},
        {"the user's own, sticky and anyone may write", false, 01777, false, false},
        {"another user's", true, 0755, false, false},
        {"another user's private one", true, 0700, false, false},
        {"the user's private one through another user's link", false, 0700, true, false},
    };
    ASSERT_EQ(chdir(shared.path().c_str()), 0);
    for (const Case& c : cases) {
        if ((c.nobodys || c.linkOfNobody) && !root) continue;
        ASSERT_EQ(system(("rm -rf qorapp '" + home_.file(".qorapp") + "' '" + outside.file("mine") + "' '" +
                          outside.file("created") + "'").c_str()),
                  0);
        const std::string folder = c.linkOfNobody ? outside.file("mine") : shared.file("qorapp");
        auto fill = [&] {
            ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
            ASSERT_TRUE(qortest::writeFile(folder + "/.hives.lock", ""));
            ASSERT_EQ(symlink(outside.file("created").c_str(), (folder + "/settings").c_str()), 0);
            ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
        };
        if (c.nobodys) {
            ASSERT_TRUE(inChild(true, 60, fill)) << c.what;
        } else {
            fill();
        }
        if (c.linkOfNobody) {
            const std::string target = folder;
            ASSERT_TRUE(inChild(true, 60, [&] { ASSERT_EQ(symlink(target.c_str(), "qorapp"), 0); })) << c.what;
        }
        const std::vector<std::string> before = qortest::namesIn(folder);
        cCIAppConfig store;
        ASSERT_TRUE(store.openConfig("qorapp")) << c.what;
        EXPECT_EQ(std::string(store.rootPath()), c.taken ? "qorapp" : home_.file(".qorapp")) << c.what;
        ASSERT_TRUE(store.setParamStr("secrets/token", "root's", -1)) << c.what;
        ASSERT_TRUE(store.setParamStr("settings/k", "root's", -1)) << c.what;
        EXPECT_TRUE(store.saveConfig()) << c.what;
        if (!c.taken) {
            EXPECT_EQ(qortest::namesIn(folder), before) << c.what;
            EXPECT_EQ(linkOf(folder + "/settings"), outside.file("created")) << c.what;
            EXPECT_EQ(qortest::namesIn(outside.path()).size(), c.linkOfNobody ? 1u : 0u) << c.what;
            cCIAppConfig again;
            ASSERT_TRUE(again.openConfig("qorapp"));
            EXPECT_EQ(std::string(again.rootPath()), home_.file(".qorapp")) << c.what;
            EXPECT_EQ(valueAt(again, "secrets/token"), "root's") << c.what;
        }
        ASSERT_EQ(chdir(shared.path().c_str()), 0);
    }
}

// Record locks of another user's process are waited for a bounded time
// only: a read lock on the store's lock file (readable by all) makes the
// opening go on without it (reading as in a folder it may not write), say
// why and save nothing; a write lock on a hive's own file (a hive others may
// write) keeps that hive from being read or saved over.  Once the lock is
// let go, saves land again.  Each opening runs in a child the system ends
// after a minute, so that a store that waits without end fails here.
TEST_F(HiveOthers, AnotherUsersLockIsWaitedForABoundedTimeOnly) {
    if (qortest::permissionsBind()) GTEST_SKIP() << "needs a second user: run as root";
    for (const char* locked : {".hives.lock", "lang"}) {
        makeStore(0, 0755);
        ASSERT_EQ(chmod(hive(".hives.lock").c_str(), 0644), 0);
        const bool onFolder = std::string(locked) == ".hives.lock";
        ASSERT_TRUE(qortest::writeFile(hive("lang"), hiveWith("v")));
        ASSERT_EQ(chmod(hive("lang").c_str(), onFolder ? 0644 : 0666), 0);
        ForeignLock holder(hive(locked), onFolder ? F_RDLCK : F_WRLCK);
        ASSERT_TRUE(holder.held()) << locked;
        EXPECT_TRUE(inChild(false, 60, [&] {
            cCIAppConfig::gForeignLockWaitMs = 200;
            cCIAppConfig store;
            ASSERT_TRUE(store.openConfig("qor")) << locked;
            if (onFolder) {
                EXPECT_EQ(store.storeFault(), cCIAppConfig::hfLockHeld);
                EXPECT_TRUE(contains(cCIAppConfig::describeHiveFault(store.storeFault()), "another user's process"));
                EXPECT_EQ(valueAt(store, "lang/k"), "v");
            } else {
                EXPECT_TRUE(contains(faultOf(store, "lang"), "another user's process holds the lock")) << locked;
                EXPECT_EQ(valueAt(store, "lang/k"), "<none>");
            }
            ASSERT_TRUE(store.setParamStr("lang/k", "w", -1));
            EXPECT_FALSE(store.saveConfig()) << locked;
        })) << locked;
        EXPECT_EQ(qortest::readFile(hive("lang")), hiveWith("v")) << locked;
        holder.letGo();
        cCIAppConfig store;
        ASSERT_TRUE(store.openConfig("qor"));
        EXPECT_EQ(store.storeFault(), cCIAppConfig::hfNone);
        ASSERT_TRUE(store.setParamStr("lang/k", "w", -1));
        EXPECT_TRUE(store.saveConfig()) << locked;
        EXPECT_EQ(qortest::readFile(hive("lang")), hiveWith("w")) << locked;
    }
}

// ---- leftovers ---------------------------------------------------------------

// A pid that names no process: a child that has exited and been reaped.
pid_t deadPid() {
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    return gone;
}

// A folder that holds only names like the store's temporary files is not a
// store: the name then means "$HOME/.<name>", and the files stay.
TEST_F(HiveOthers, AFolderOfTemporaryLookingNamesAloneIsNotAStore) {
    const std::string g = std::to_string(deadPid());
    ASSERT_EQ(chdir(home_.path().c_str()), 0);
    ASSERT_EQ(mkdir("data", 0700), 0);
    const std::map<std::string, std::string> files = {
        {".data." + g + ".2.tmp", "QORC-my-notes"},
        {".notes." + g + ".1.tmp", std::string("QORC\0\0\0", 7)},
        {".hive-" + g + "-1.tmp", ""},
        {"old.bad", "kept aside"},
    };
    for (const auto& f : files) ASSERT_TRUE(qortest::writeFile("data/" + f.first, f.second));
    cCIAppConfig store;
    ASSERT_TRUE(store.openConfig("data"));
    EXPECT_EQ(std::string(store.rootPath()), home_.file(".data"));
    ASSERT_TRUE(store.setParamStr("lang/k", "1", -1));
    ASSERT_TRUE(store.saveConfig());
    for (const auto& f : files) EXPECT_EQ(qortest::readFile("data/" + f.first), f.second) << f.first;
    EXPECT_EQ(qortest::namesIn("data").size(), files.size());
}

// In the store's folder a leftover temporary file goes only when it is
// provably the store's: named as a save names it, its writer gone, a
// regular file of the user's with one link, its lock free, holding nothing
// or a hive as a save writes it, whole or cut short.  A file of the same name
// holding anything else (a kind of child no save writes, a name field laid
// out as no save lays it, bytes after its end), locked by a live process,
// with a second link or of another user, stays.
TEST_F(HiveOthers, OnlyLeftoversProvablyTheStoresAreRemoved) {
    const bool root = !qortest::permissionsBind();
    makeStore(getuid());
    const std::string whole = hiveWith("a value long enough to be cut");
    ASSERT_TRUE(qortest::writeFile(hive("lang"), whole));
    const std::string g = std::to_string(deadPid());
    auto name = [&](int n) { return ".lang." + g + "." + std::to_string(n) + ".tmp"; };
    struct Case {
        std::string bytes;
        bool removed;
    };
    const std::vector<Case> cases = {
        {whole, true},
        {whole.substr(0, 9), true},
        {whole.substr(0, 20), true},
        {"", true},
        {std::string("QORC\0\0\x07", 7), false},                                    // a tag no save writes
        {std::string("QORC\0\0\x01\x08k\0\0\0\0\0\0\0\0\0\0\0", 20), false},  // a field longer than "k" needs
        {std::string("QORC\0\0\x01\x04k\0x\0\0\0\0\0", 16), false},          // padding that is not zeros
        {whole + "tail", false},
        {"my report", false},
        {whole, false},  // locked by a live process
        {whole, false},  // a second link
        {whole, false},  // another user's
    };
    for (std::size_t i = 0; i < cases.size(); ++i) ASSERT_TRUE(qortest::writeFile(hive(name(static_cast<int>(i))), cases[i].bytes));
    const std::size_t locked = cases.size() - 3, linked = cases.size() - 2, others = cases.size() - 1;
    const int lockFd = open(hive(name(static_cast<int>(locked))).c_str(), O_RDONLY);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(flock(lockFd, LOCK_EX), 0);
    qortest::TempDir elsewhere;
    ASSERT_EQ(link(hive(name(static_cast<int>(linked))).c_str(), elsewhere.file("second").c_str()), 0);
    if (root) {
        ASSERT_EQ(chown(hive(name(static_cast<int>(others))).c_str(), kNobody, kNobody), 0);
    }
    {
        cCIAppConfig store;
        ASSERT_TRUE(store.openConfig(dir_.c_str()));
        EXPECT_EQ(valueAt(store, "lang/k"), "a value long enough to be cut");
    }
    close(lockFd);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const bool kept = !cases[i].removed && (i != others || root);
        if (i == others && !root) continue;
        EXPECT_EQ(typeOf(hive(name(static_cast<int>(i)))) != 0, kept) << i;
        if (kept) {
            EXPECT_EQ(qortest::readFile(hive(name(static_cast<int>(i)))), cases[i].bytes) << i;
        }
    }
}

// ---- removals and saves of two programs ---------------------------------------

// Every node of a hive below its root with its value, as a fresh walk of
// the store finds them.
using Flat = std::map<std::string, std::string>;

struct sWalk {
    cCIAppConfig* store;
    std::string path;
    std::vector<std::string>* found;
};

bool listed(const char* name, void* arg) {
    sWalk* w = static_cast<sWalk*>(arg);
    w->found->push_back(w->path + "/" + name);
    return true;
}

Flat flatOf(cCIAppConfig& store, const std::string& hiveName) {
    Flat out;
    std::vector<std::string> paths;
    sWalk top{&store, hiveName, &paths};
    store.enumSubsections(hiveName.c_str(), listed, &top);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        out[paths[i].substr(hiveName.size() + 1)] = valueAt(store, paths[i]) == "<none>" ? "" : valueAt(store, paths[i]);
        sWalk w{&store, paths[i], &paths};
        store.enumSubsections(paths[i].c_str(), listed, &w);
    }
    return out;
}

// What the two programs should see, kept as flat maps of one hive: each
// program's tree, the file as it last read or wrote it (its base), and
// whether it changed the tree since; and the file.  A save of a changed
// tree writes it as it is when the file is still the base, else merges:
// every path keeps the file's value unless the program changed it (its
// value differs from the base's, or it made the path), a path the program
// removed goes unless the file changed its value or holds a path below it
// that stays, and a path the file removed stays only where the program
// changed its value or something below it.  A program that changed nothing
// reads the file again when another saved.
struct Model {
    struct Program {
        Flat tree, base;
        bool modified = false;
    };
    Flat file;
    Program p[2];

    static bool below(const std::string& q, const std::string& p) {
        return q.size() > p.size() && q.compare(0, p.size(), p) == 0 && q[p.size()] == '/';
    }
    void access(int who) {
        Program& x = p[who];
        if (!x.modified && x.base != file) x.tree = x.base = file;
    }
    void set(int who, const std::string& path, const std::string& v) {
        access(who);
        Program& x = p[who];
        for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1))
            x.tree.emplace(path.substr(0, at), "");
        x.tree[path] = v;
        x.modified = true;
    }
    bool remove(int who, const std::string& path) {
        access(who);
        Program& x = p[who];
        const std::size_t slash = path.rfind('/');
        if (slash != std::string::npos) set(who, path.substr(0, slash), x.tree.count(path.substr(0, slash)) ? x.tree[path.substr(0, slash)] : "");
        x.modified = true;
        const bool was = x.tree.erase(path) > 0;
        for (auto it = x.tree.begin(); it != x.tree.end();) it = below(it->first, path) ? x.tree.erase(it) : std::next(it);
        return was;
    }
    void save(int who) {
        Program& x = p[who];
        if (!x.modified) return;
        if (x.base != file) {
            std::set<std::string> paths;
            for (const Flat* m : {&x.base, &x.tree, &file})
                for (const auto& kv : *m) paths.insert(kv.first);
            std::vector<std::string> order(paths.begin(), paths.end());
            std::sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
                return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
            });
            Flat out;
            for (const std::string& q : order) {
                const bool inB = x.base.count(q), inO = x.tree.count(q), inT = file.count(q);
                const std::string vB = inB ? x.base.at(q) : "", vO = inO ? x.tree.at(q) : "", vT = inT ? file.at(q) : "";
                auto stays = [&](const std::string& v) {
                    if (!v.empty()) return true;
                    auto it = out.upper_bound(q);
                    return it != out.end() && below(it->first, q);
                };
                if (inO && inT)
                    out[q] = vO != vB ? vO : vT;
                else if (inO || inT) {
                    const std::string& mine = inO ? vO : vT;
                    if (!inB)
                        out[q] = mine;
                    else if (stays(mine != vB ? mine : ""))
                        out[q] = mine != vB ? mine : "";
                }
            }
            x.tree = out;
        }
        file = x.base = x.tree;
        x.modified = false;
    }
};

class HiveMerge : public HiveOthers {
protected:
    // The file of hive "s" at the start of every run.
    const Flat kSeed = {{"p", "P"}, {"p/a", "1"}, {"q", "Q"}};

    void seed() {
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
        cCIAppConfig c;
        ASSERT_TRUE(c.openConfig("qor"));
        for (const auto& kv : kSeed) ASSERT_TRUE(c.setParamStr(("s/" + kv.first).c_str(), kv.second.c_str(), -1));
        ASSERT_TRUE(c.saveConfig());
    }
    // Runs a list of steps, "A+p/b=2" (set), "B-p" (remove), "As" (save),
    // on two stores of one folder and on the model, checking each store
    // against the model after every step.  Returns the file at the end.
    Flat run(const std::vector<std::string>& steps) {
        seed();
        Model m;
        m.file = kSeed;
        for (auto& x : m.p) x.tree = x.base = kSeed;
        cCIAppConfig stores[2];
        for (auto& s : stores) EXPECT_TRUE(s.openConfig("qor"));
        std::string done;
        for (const std::string& step : steps) {
            const int who = step[0] - 'A';
            done += step + " ";
            if (step[1] == '+') {
                const std::size_t eq = step.find('=');
                const std::string path = step.substr(2, eq - 2), value = step.substr(eq + 1);
                m.set(who, path, value);
                EXPECT_TRUE(stores[who].setParamStr(("s/" + path).c_str(), value.c_str(), -1)) << done;
            } else if (step[1] == '-') {
                EXPECT_EQ(stores[who].removeSection(("s/" + step.substr(2)).c_str()), m.remove(who, step.substr(2)))
                    << done;
            } else {
                m.save(who);
                EXPECT_TRUE(stores[who].saveConfig()) << done;
            }
            for (int k = 0; k < 2; ++k) {
                m.access(k);
                EXPECT_EQ(flatOf(stores[k], "s"), m.p[k].tree) << done << "in program " << char('A' + k);
            }
            cCIAppConfig fresh;
            EXPECT_TRUE(fresh.openConfig("qor"));
            EXPECT_EQ(flatOf(fresh, "s"), m.file) << done << "on disk";
        }
        return m.file;
    }
};

// The sequence of the report: A removes s/p and has not saved, B sets
// s/p/b and saves, A saves: what B saved stays; what A saw of s/p (its
// value, s/p/a) goes.  And the other orders of one removal and one change
// between two programs, each with the file it must leave.
TEST_F(HiveMerge, ARemovalTakesOnlyWhatThisProgramSaw) {
    struct Row {
        std::vector<std::string> steps;
        Flat file;
    };
    const Row rows[] = {
        {{"A-p", "B+p/b=2", "Bs", "As"}, {{"p", ""}, {"p/b", "2"}, {"q", "Q"}}},
        {{"A-p", "B+p/a=9", "Bs", "As"}, {{"p", ""}, {"p/a", "9"}, {"q", "Q"}}},
        {{"A-p", "B+p=X", "Bs", "As"}, {{"p", "X"}, {"q", "Q"}}},
        {{"A-p", "B+p/a=1", "Bs", "As"}, {{"q", "Q"}}},
        {{"A-p/a", "B+p/a/c=3", "Bs", "As"}, {{"p", "P"}, {"p/a", ""}, {"p/a/c", "3"}, {"q", "Q"}}},
        {{"A+p/a=x", "A-p", "B+p/b=2", "Bs", "As"}, {{"p", ""}, {"p/b", "2"}, {"q", "Q"}}},
        {{"B-p", "Bs", "A+p/a=x", "As"}, {{"p", ""}, {"p/a", "x"}, {"q", "Q"}}},
        {{"B-p", "A+p/a=x", "Bs", "As"}, {{"p", ""}, {"p/a", "x"}, {"q", "Q"}}},
        {{"A+p/a=x", "B+p/a=y", "Bs", "As"}, {{"p", "P"}, {"p/a", "x"}, {"q", "Q"}}},
        {{"A-p", "A+p/c=3", "B+p/b=2", "Bs", "As"}, {{"p", ""}, {"p/b", "2"}, {"p/c", "3"}, {"q", "Q"}}},
        {{"A-q", "B-q", "Bs", "As"}, {{"p", "P"}, {"p/a", "1"}}},
    };
    for (const Row& r : rows) {
        std::string what;
        for (const auto& s : r.steps) what += s + " ";
        EXPECT_EQ(run(r.steps), r.file) << what;
    }
}

// Orders of sets, removals and saves between two programs, drawn from a
// fixed seed: both stores and the file agree with the model after every
// step.
TEST_F(HiveMerge, SetsRemovalsAndSavesOfTwoProgramsFollowTheModel) {
    const std::vector<std::string> kinds = {"+p/a=", "+p/b=", "+p=", "+q/r=", "-p", "-p/a", "-q", "s", "s"};
    std::mt19937 rng(71);
    for (int round = 0; round < 80; ++round) {
        std::vector<std::string> steps;
        for (int i = 0; i < 7; ++i) {
            const char who = "AB"[rng() % 2];
            std::string k = kinds[rng() % kinds.size()];
            if (k.back() == '=') k += std::string(1, who) + std::to_string(i);
            steps.push_back(std::string(1, who) + k);
        }
        steps.push_back("As");
        steps.push_back("Bs");
        run(steps);
        if (::testing::Test::HasFailure()) break;
    }
}

}  // namespace
