// The hive store against what the user owns: files in its folder it did not
// write, hives from newer writers or with bytes after their end, saves of
// several programs at once, modes under the user's creation mask, hives
// that are links, names planted where a save puts its temporary file, and
// configuration names that would lead out of the home folder.
#include "base/fileio.h"
#include "base/folders.h"
#include "uitoolkit/ciappconfig.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string valueAt(cApplicationConfig& c, const std::string& path) {
    _typebuf<unsigned char> raw;
    if (!c.getParam(path.c_str(), raw)) return "<none>";
    return std::string(reinterpret_cast<char*>(raw.data()), static_cast<std::size_t>(raw.count()));
}

mode_t modeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A hive holding one child "k" with the value v, as a save writes it.
std::string hiveWith(const std::string& v) {
    return std::string("QORC\0\0\x01\x04k\0\0\0", 12) + static_cast<char>(v.size()) + '\0' + v + std::string(2, '\0');
}

class HiveOwner : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("HOME");
        oldHome_ = old ? old : "";
        setenv("HOME", home_.path().c_str(), 1);
        dir_ = home_.path() + "/.qor";
        char cwd[4096];
        oldCwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
    }
    void TearDown() override {
        setenv("HOME", oldHome_.c_str(), 1);
        if (chdir(oldCwd_.c_str()) != 0) ADD_FAILURE() << "cannot go back to " << oldCwd_;
        cReplacementFile::gNamedOnly = false;
    }
    std::string hive(const std::string& name) const { return dir_ + "/" + name; }

    qortest::TempDir home_;
    std::string oldHome_, oldCwd_, dir_;
};

// Files the store cannot read stay as they are, by name and byte for byte;
// each hive tells why it is empty, and no save goes over its file.
TEST_F(HiveOwner, FilesItCannotReadAreKeptAndTheirHivesSayWhy) {
    struct Case {
        const char* name;
        std::string bytes;
        cCIAppConfig::eHiveFault fault;
    };
    const Case cases[] = {
        {"CMakeLists.txt", "project(myapp)\n", cCIAppConfig::hfNotAHive},
        {"empty", "", cCIAppConfig::hfNotAHive},
        {"cut", std::string("QORC\0\0\x01\x04k\0\0\0\x05\0ab", 16), cCIAppConfig::hfDamaged},
        // A newer writer's kind of child (tag 2) after one this version
        // knows.
        {"newer", std::string("QORC\0\0\x01\x04k\0\0\0\x01\0v\0\x02\x01x\0", 20), cCIAppConfig::hfNewerFormat},
        {"trailing", hiveWith("v") + "stale", cCIAppConfig::hfTrailingBytes},
        {"trailing-zero", hiveWith("v") + std::string(1, '\0'), cCIAppConfig::hfTrailingBytes},
        {".hive-1-1.tmp.not", "QORC", cCIAppConfig::hfDamaged},
        {"whole", hiveWith("v"), cCIAppConfig::hfNone},
    };
    ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
    for (const Case& c : cases) ASSERT_TRUE(qortest::writeFile(hive(c.name), c.bytes));
    std::vector<std::string> names = {".hives.lock"};
    for (const Case& c : cases) names.push_back(c.name);
    std::sort(names.begin(), names.end());

    cCIAppConfig store;
    ASSERT_TRUE(store.openConfig("qor"));
    for (const Case& c : cases) {
        EXPECT_EQ(store.hiveFault(c.name), c.fault) << c.name;
        EXPECT_EQ(valueAt(store, std::string(c.name) + "/k"), c.fault == cCIAppConfig::hfNone ? "v" : "<none>") << c.name;
        if (c.fault != cCIAppConfig::hfNone) {
            EXPECT_NE(std::string(cCIAppConfig::describeHiveFault(c.fault)).find("kept as it is"), std::string::npos);
        }
        ASSERT_TRUE(store.setParamStr((std::string(c.name) + "/new").c_str(), "x", -1)) << c.name;
    }
    // Every save but the readable hive's is refused with its fault.
    EXPECT_FALSE(store.saveConfig());
    EXPECT_FALSE(store.discardChanges());
    EXPECT_FALSE(store.saveConfig());
    for (const Case& c : cases) {
        EXPECT_EQ(store.hiveFault(c.name), c.fault) << c.name;
        if (c.fault != cCIAppConfig::hfNone) {
            EXPECT_EQ(qortest::readFile(hive(c.name)), c.bytes) << c.name;
        }
    }
    EXPECT_EQ(qortest::namesIn(dir_), names);
    cCIAppConfig again;
    ASSERT_TRUE(again.openConfig("qor"));
    EXPECT_EQ(valueAt(again, "whole/new"), "x");
    EXPECT_EQ(qortest::namesIn(dir_), names);
}

// Which folder a configuration name that names an existing folder opens:
// the folder itself only when it is the store's, else "$HOME/.<name>".  A
// folder not taken is left exactly as it was.
TEST_F(HiveOwner, AFolderHoldingOtherFilesIsNotTakenForTheStore) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // name -> bytes; "/" ends a folder's name
        bool taken;
    };
    const Case cases[] = {
        {"a project", {{"CMakeLists.txt", "project(myapp)\n"}, {"main.cpp", "int main() {}\n"}}, false},
        {"a folder of folders", {{"src/", ""}}, false},
        {"an empty folder", {}, true},
        {"hives only", {{"lang", hiveWith("1")}}, true},
        {"a store with a file of the user's", {{".hives.lock", ""}, {"lang", hiveWith("1")}, {"notes", "mine"}}, true},
    };
    ASSERT_EQ(chdir(home_.path().c_str()), 0);
    for (const Case& c : cases) {
        ASSERT_EQ(system("rm -rf myapp .myapp"), 0);
        ASSERT_EQ(mkdir("myapp", 0755), 0);
        for (const auto& f : c.files) {
            if (f.first.back() == '/')
                ASSERT_EQ(mkdir(("myapp/" + f.first).c_str(), 0755), 0);
            else
                ASSERT_TRUE(qortest::writeFile("myapp/" + f.first, f.second));
        }
        const std::vector<std::string> before = qortest::namesIn("myapp");
        cCIAppConfig store;
        ASSERT_TRUE(store.openConfig("myapp")) << c.what;
        EXPECT_EQ(std::string(store.rootPath()), c.taken ? "myapp" : home_.path() + "/.myapp") << c.what;
        ASSERT_TRUE(store.setParamStr("lang/k", "2", -1));
        ASSERT_TRUE(store.saveConfig()) << c.what;
        if (!c.taken) {
            EXPECT_EQ(qortest::namesIn("myapp"), before) << c.what;
            for (const auto& f : c.files)
                if (f.first.back() != '/') {
                    EXPECT_EQ(qortest::readFile("myapp/" + f.first), f.second) << c.what;
                }
        } else {
            for (const auto& f : c.files)
                if (f.first != "lang") {
                    EXPECT_EQ(qortest::readFile("myapp/" + f.first), f.second) << c.what;
                }
        }
    }
}

// Configuration names that are not one folder's name are refused: nothing
// is made outside the home folder, nor the home folder taken for a store.
TEST_F(HiveOwner, ConfigurationNamesThatLeaveTheHomeFolderAreRefused) {
    ASSERT_EQ(mkdir(home_.file("home").c_str(), 0755), 0);
    setenv("HOME", home_.file("home").c_str(), 1);
    // The current folder holds a file of the user's and its parent two
    // folders: neither is a store's.
    ASSERT_EQ(mkdir(home_.file("cwd").c_str(), 0755), 0);
    ASSERT_TRUE(qortest::writeFile(home_.file("cwd/notes"), "mine"));
    ASSERT_EQ(chdir(home_.file("cwd").c_str()), 0);
    for (const char* name : {"./escaped", "../escaped", "a/b", "/abs", ".", "..", ""}) {
        _guardchar<char> out;
        EXPECT_FALSE(cFolderContents::getConfigFolder(out, name)) << name;
        EXPECT_FALSE(cFolderContents::getSysConfigFolder(out, name)) << name;
        cCIAppConfig store;
        EXPECT_FALSE(store.openConfig(name)) << name;
    }
    EXPECT_EQ(qortest::namesIn(home_.path()), (std::vector<std::string>{"cwd", "home"}));
    EXPECT_EQ(qortest::namesIn(home_.file("cwd")), std::vector<std::string>{"notes"});
    EXPECT_TRUE(qortest::namesIn(home_.file("home")).empty());
    _guardchar<char> out;
    ASSERT_TRUE(cFolderContents::getConfigFolder(out, "qor"));
    EXPECT_EQ(std::string(out.c_str()), home_.file("home") + "/.qor");
}

// A folder of the user's that the user may only read: each hive is read or
// says what is wrong with it (a damaged one is damaged, not unreadable), and
// saves change nothing.  (The superuser runs it as "nobody", who owns it.)
TEST_F(HiveOwner, InAReadOnlyFolderEachHiveSaysWhatItIs) {
    const std::string cut("QORC\0\0\x01\x04k\0\0\0\x05\0ab", 16);
    ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
    ASSERT_TRUE(qortest::writeFile(hive(".hives.lock"), ""));
    ASSERT_TRUE(qortest::writeFile(hive("whole"), hiveWith("v")));
    ASSERT_TRUE(qortest::writeFile(hive("cut"), cut));
    for (const char* f : {".hives.lock", "whole", "cut"}) {
        ASSERT_EQ(chmod(hive(f).c_str(), 0444), 0);
        if (!qortest::permissionsBind()) {
            ASSERT_EQ(chown(hive(f).c_str(), 65534, 65534), 0);
        }
    }
    if (!qortest::permissionsBind()) {
        ASSERT_EQ(chown(dir_.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    ASSERT_EQ(chmod(home_.path().c_str(), 0755), 0);
    const std::string dir = dir_;
    EXPECT_TRUE(qortest::asUnprivileged([&] {
        cCIAppConfig store;
        ASSERT_TRUE(store.openConfig(dir.c_str()));
        EXPECT_EQ(store.hiveFault("whole"), cCIAppConfig::hfNone);
        EXPECT_EQ(valueAt(store, "whole/k"), "v");
        EXPECT_EQ(store.hiveFault("cut"), cCIAppConfig::hfDamaged);
        ASSERT_TRUE(store.setParamStr("whole/k", "w", -1));
        EXPECT_FALSE(store.saveConfig());
    }));
    EXPECT_EQ(qortest::readFile(hive("whole")), hiveWith("v"));
    EXPECT_EQ(qortest::readFile(hive("cut")), cut);
    EXPECT_EQ(qortest::namesIn(dir_), (std::vector<std::string>{".hives.lock", "cut", "whole"}));
    chmod(dir_.c_str(), 0755);
}

// Saves of one hive by many programs at once: every key a program set and
// saw saved is there after, with its value.
TEST_F(HiveOwner, ManyProgramsSavingOneHiveAtOnceKeepEveryKey) {
    constexpr int kPrograms = 40;
    {
        cCIAppConfig first;
        ASSERT_TRUE(first.openConfig("qor"));
        ASSERT_TRUE(first.setParamStr("shared/before", "kept", -1));
        ASSERT_TRUE(first.saveConfig());
    }
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> kids;
    for (int i = 0; i < kPrograms; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(go[1]);
            cCIAppConfig c;
            if (!c.openConfig("qor")) _exit(2);
            const std::string k = "shared/k" + std::to_string(i);
            if (!c.setParamStr(k.c_str(), std::to_string(i * 7).c_str(), -1)) _exit(3);
            // Half of them also change a key of their own twice and remove
            // one they made.
            if (i % 2 && (!c.setParamStr((k + "/x").c_str(), "a", -1) || !c.setParamStr((k + "/x").c_str(), "b", -1) ||
                          !c.setParamStr((k + "/gone").c_str(), "c", -1) || !c.removeSection((k + "/gone").c_str())))
                _exit(4);
            char start;
            if (read(go[0], &start, 1) != 0) _exit(5);
            _exit(c.saveConfig() ? 0 : 6);
        }
        kids.push_back(pid);
    }
    close(go[0]);
    close(go[1]);  // every child starts its save now
    int saved = 0;
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        saved += WEXITSTATUS(status) == 0;
    }
    EXPECT_EQ(saved, kPrograms);
    cCIAppConfig after;
    ASSERT_TRUE(after.openConfig("qor"));
    EXPECT_EQ(valueAt(after, "shared/before"), "kept");
    for (int i = 0; i < kPrograms; ++i) {
        const std::string k = "shared/k" + std::to_string(i);
        EXPECT_EQ(valueAt(after, k), std::to_string(i * 7)) << k;
        EXPECT_EQ(valueAt(after, k + "/x"), i % 2 ? "b" : "<none>") << k;
        EXPECT_FALSE(after.hasSection((k + "/gone").c_str())) << k;
    }
    EXPECT_EQ(qortest::namesIn(dir_), (std::vector<std::string>{".hives.lock", "shared"}));
}

// Two stores of one hive, changed in turn: each save keeps what the other
// saved since, and its own changes win where both changed the same key.
TEST_F(HiveOwner, ASaveAppliesItsChangesToTheHiveAsAnotherProgramLeftIt) {
    struct Step {
        char who;          // 'a' or 'b'
        const char* op;    // "set", "remove", "save", "garbage" (the file made unreadable)
        const char* path;
        const char* value;
        bool result;
    };
    const Step steps[] = {
        {'a', "set", "h/a", "1", true},       {'b', "set", "h/b", "2", true},
        {'b', "set", "h/both", "b", true},    {'a', "set", "h/both", "a", true},
        {'b', "save", "", "", true},          {'a', "remove", "h/old", "", true},
        {'a', "save", "", "", true},          {'b', "set", "h/c", "3", true},
        {'b', "remove", "h/a", "", true},     {'b', "save", "", "", true},
        {'a', "set", "h/a/under", "4", true}, {'x', "garbage", "", "", true},
        {'a', "save", "", "", false},
    };
    {
        cCIAppConfig seed;
        ASSERT_TRUE(seed.openConfig("qor"));
        ASSERT_TRUE(seed.setParamStr("h/old", "0", -1));
        ASSERT_TRUE(seed.setParamStr("h/kept", "k", -1));
        ASSERT_TRUE(seed.saveConfig());
    }
    cCIAppConfig a, b;
    ASSERT_TRUE(a.openConfig("qor"));
    ASSERT_TRUE(b.openConfig("qor"));
    std::string garbage;
    for (const Step& s : steps) {
        cCIAppConfig& c = s.who == 'a' ? a : b;
        const std::string op = s.op;
        bool r = true;
        if (op == "set") r = c.setParamStr(s.path, s.value, -1);
        if (op == "remove") r = c.removeSection(s.path);
        if (op == "save") r = c.saveConfig();
        if (op == "garbage") {
            garbage = qortest::readFile(hive("h")) + "after the end";
            r = qortest::writeFile(hive("h"), garbage);
        }
        ASSERT_EQ(r, s.result) << s.who << " " << s.op << " " << s.path;
        if (op == "save" && s.who == 'b') {
            // After b's first save the file holds both programs' keys.
            if (std::string(s.path).empty() && &s == &steps[4]) {
                cCIAppConfig look;
                ASSERT_TRUE(look.openConfig("qor"));
                EXPECT_EQ(valueAt(look, "h/b"), "2");
                EXPECT_EQ(valueAt(look, "h/a"), "<none>");
            }
        }
    }
    // The last save met a file it cannot read and left it as it was.
    EXPECT_EQ(a.hiveFault("h"), cCIAppConfig::hfTrailingBytes);
    EXPECT_EQ(qortest::readFile(hive("h")), garbage);
    // Made readable again (the tail cut off), a's change goes over b's.
    ASSERT_TRUE(qortest::writeFile(hive("h"), garbage.substr(0, garbage.size() - 13)));
    ASSERT_TRUE(a.saveConfig());
    cCIAppConfig after;
    ASSERT_TRUE(after.openConfig("qor"));
    EXPECT_EQ(valueAt(after, "h/kept"), "k");
    EXPECT_EQ(valueAt(after, "h/both"), "a");
    EXPECT_EQ(valueAt(after, "h/b"), "2");
    EXPECT_EQ(valueAt(after, "h/c"), "3");
    EXPECT_FALSE(after.hasSection("h/old"));
    // b removed a's "a"; a then made "a/under" again: the node is back
    // with only what a set after b's removal reached it.
    EXPECT_EQ(valueAt(after, "h/a/under"), "4");
    // Both stores see the merged hive in memory too.
    EXPECT_EQ(valueAt(a, "h/c"), "3");
}

// Modes under the user's creation mask: a new hive and the lock file get
// 0666 less the mask, a saved hive keeps the mode it had.
TEST_F(HiveOwner, SavesKeepTheHivesModeAndNewFilesFollowTheMask) {
    struct Case {
        mode_t mask;
        int existing;  // the hive's mode before, -1: a new hive
        mode_t hive;
        mode_t lock;
    };
    const Case cases[] = {
        {077, -1, 0600, 0600}, {077, 0640, 0640, 0600}, {022, -1, 0644, 0644},
        {022, 0600, 0600, 0644}, {002, 0400, 0400, 0664}, {027, 0664, 0664, 0640},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
        const mode_t was = umask(c.mask);
        bool ok = mkdir(dir_.c_str(), 0700) == 0;
        if (c.existing >= 0) {
            ok = ok && qortest::writeFile(hive("lang"), hiveWith("1")) && chmod(hive("lang").c_str(), c.existing) == 0;
        }
        cCIAppConfig store;
        ok = ok && store.openConfig("qor") && store.setParamStr("lang/k", "2", -1) && store.saveConfig();
        umask(was);
        ASSERT_TRUE(ok) << c.mask << " " << c.existing;
        EXPECT_EQ(modeOf(hive("lang")), c.hive) << c.mask << " " << c.existing;
        EXPECT_EQ(modeOf(hive(".hives.lock")), c.lock) << c.mask << " " << c.existing;
    }
}

// A hive that is a link (a set of dotfiles kept elsewhere): the save
// replaces the file the link leads to, and the link stays.
TEST_F(HiveOwner, AHiveThatIsALinkKeepsItsLinkAndItsTargetTakesTheSave) {
    struct Case {
        const char* link;      // what the link "lang" holds
        const char* real;      // the file it leads to, from home
        bool realExists;
    };
    const Case cases[] = {
        {"../dotfiles/lang", "dotfiles/lang", true},
        {"link2", "dotfiles/lang", true},  // a chain: .qor/link2 -> ../dotfiles/lang
        {"../dotfiles/later", "dotfiles/later", false},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(system(("rm -rf '" + dir_ + "' '" + home_.file("dotfiles") + "'").c_str()), 0);
        ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(home_.file("dotfiles").c_str(), 0700), 0);
        if (c.realExists) {
            ASSERT_TRUE(qortest::writeFile(home_.file(c.real), hiveWith("1")));
            ASSERT_EQ(chmod(home_.file(c.real).c_str(), 0600), 0);
        }
        ASSERT_EQ(symlink(c.link, hive("lang").c_str()), 0);
        if (std::string(c.link) == "link2") {
            ASSERT_EQ(symlink("../dotfiles/lang", hive("link2").c_str()), 0);
        }
        cCIAppConfig store;
        ASSERT_TRUE(store.openConfig("qor"));
        EXPECT_EQ(valueAt(store, "lang/k"), c.realExists ? "1" : "<none>") << c.link;
        ASSERT_TRUE(store.setParamStr("lang/k", "2", -1));
        ASSERT_TRUE(store.saveConfig()) << c.link;
        char buf[256] = {};
        ASSERT_GT(readlink(hive("lang").c_str(), buf, sizeof buf - 1), 0) << c.link;
        EXPECT_STREQ(buf, c.link);
        EXPECT_EQ(qortest::readFile(home_.file(c.real)), hiveWith("2")) << c.link;
        if (c.realExists) {
            EXPECT_EQ(modeOf(home_.file(c.real)), 0600u) << c.link;
        }
        EXPECT_EQ(qortest::namesIn(home_.file("dotfiles")).size(), 1u) << c.link;
        // The saved value reads back through the link, also after another
        // program's save.
        cCIAppConfig other;
        ASSERT_TRUE(other.openConfig("qor"));
        ASSERT_TRUE(other.setParamStr("lang/j", "3", -1));
        ASSERT_TRUE(other.saveConfig());
        ASSERT_TRUE(store.setParamStr("lang/k", "4", -1));
        ASSERT_TRUE(store.saveConfig());
        cCIAppConfig again;
        ASSERT_TRUE(again.openConfig("qor"));
        EXPECT_EQ(valueAt(again, "lang/k"), "4") << c.link;
        EXPECT_EQ(valueAt(again, "lang/j"), "3") << c.link;
    }
}

// Links and files planted at the names a save's temporary file may take
// (this version's and the ones earlier versions used): none is written
// through, followed or removed, and the saves land.
TEST_F(HiveOwner, NamesPlantedWhereASaveWritesAreNeverWrittenThrough) {
    for (bool named : {false, true}) {
        cReplacementFile::gNamedOnly = named;
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
        ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
        qortest::TempDir outside;
        const std::string secret = outside.file("secret");
        ASSERT_TRUE(qortest::writeFile(secret, "secret"));
        const std::string pid = std::to_string(getpid());
        std::vector<std::string> planted;
        for (int n = 0; n < 60; ++n) {
            const std::string number = std::to_string(n);
            for (const std::string& name : {".lang." + pid + "." + number + ".tmp", ".hive-" + pid + "-" + number + ".tmp"}) {
                const int made = n % 3 == 0 ? symlink(secret.c_str(), hive(name).c_str())
                                 : n % 3 == 1
                                     ? symlink(outside.file("made" + number).c_str(), hive(name).c_str())
                                     : (qortest::writeFile(hive(name), "planted") ? 0 : -1);
                ASSERT_EQ(made, 0) << name;
                planted.push_back(name);
            }
        }
        for (int round = 0; round < 3; ++round) {
            cCIAppConfig store;
            ASSERT_TRUE(store.openConfig("qor"));
            ASSERT_TRUE(store.setParamStr("lang/k", std::to_string(round).c_str(), -1));
            ASSERT_TRUE(store.saveConfig()) << round;
        }
        EXPECT_EQ(qortest::readFile(secret), "secret");
        EXPECT_EQ(qortest::namesIn(outside.path()), std::vector<std::string>{"secret"});
        struct stat st;
        ASSERT_EQ(lstat(hive("lang").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(qortest::readFile(hive("lang")), hiveWith("2"));
        EXPECT_EQ(qortest::namesIn(dir_).size(), planted.size() + 2) << "named " << named;
    }
}

}  // namespace
