// The hive store against what other users and other programs do to it:
// links and files planted where a hive goes, names like its temporary
// files, folders taken for a store by name, another user's lock, and
// removals one program makes while another saves.
#include "uitoolkit/ciappconfig.h"

#include "plantedfolders.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

std::string valueAt(cApplicationConfig& c, const std::string& path) {
    _typebuf<unsigned char> raw;
    if (!c.getParam(path.c_str(), raw)) return "<none>";
    return std::string(reinterpret_cast<char*>(raw.data()), static_cast<std::size_t>(raw.count()));
}

// A hive holding one child "k" with the value v, as a save writes it.
std::string hiveWith(const std::string& v) {
    return std::string("QORC\0\0\x01\x04k\0\0\0", 12) + static_cast<char>(v.size()) + '\0' + v + std::string(2, '\0');
}

class HiveOthers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(chmod(home_.path().c_str(), 0755) == 0 && getcwd(oldCwd_, sizeof oldCwd_)); }
    void TearDown() override { ASSERT_EQ(chdir(oldCwd_), 0); }

    qortest::TempDir home_;
    qortest::ScopedEnv homeVar_{"HOME", home_.path().c_str()};
    std::string dir_ = home_.path() + "/.qor";
    char oldCwd_[4096];
};

// The scenes of plantedfolders.h, "$HOME/.qor" a link to the folder of the
// name given: planted before the store opens (a name that is then no
// regular file is refused as no hive, without a reason), and planted over
// the hive between its load and its save.
TEST_F(HiveOthers, LinksAndFilesAnotherUserPlantedAreNeitherFollowedNorReplaced) {
    if (qortest::permissionsBind()) GTEST_SKIP() << "planting files as another user needs root";
    for (const bool late : {false, true}) {
        SCOPED_TRACE(late ? "planted between the load and the save" : "planted before the opening");
        qortest::checkPlantedScenes([&](const auto& given, const auto& plant, auto& said) {
            const std::string folder = given.substr(0, given.rfind('/')), name = given.substr(folder.size() + 1);
            const bool replaced = late && access(given.c_str(), F_OK) != 0 && qortest::writeFile(given, hiveWith("o"));
            cCIAppConfig store;
            bool ok = symlink(folder.c_str(), dir_.c_str()) == 0 && (late || plant()) && store.openConfig("qor") &&
                      store.setParamStr((name + "/k").c_str(), "v", -1);
            ok = ok && (!late || ((!replaced || unlink(given.c_str()) == 0) && plant())) && store.saveConfig();
            // The store names what it met by its own path.
            said = store.hiveFaultText(name.c_str());
            for (std::size_t at; (at = said.find(dir_)) != std::string::npos;) said.replace(at, dir_.size(), folder);
            return unlink(dir_.c_str()) == 0 && ok;
        }, "QORC", late ? nullptr : "regular file");
    }
}

TEST_F(HiveOthers, OnlyLeftoversProvablyTheStoresAreRemoved) {
    const std::string whole = hiveWith("a value long enough to be cut");
    ASSERT_TRUE(mkdir(dir_.c_str(), 0755) == 0 && qortest::writeFile(dir_ + "/.hives.lock", "") &&
                qortest::writeFile(dir_ + "/lang", whole));
    auto name = [](int n) { return ".lang.3999999." + std::to_string(n) + ".tmp"; };
    qortest::checkLeftovers(dir_, name, whole, [] {
        cCIAppConfig store;
        EXPECT_TRUE(store.openConfig("qor"));
        return std::map<std::string, std::string>();
    });
}

// A bare configuration name is a folder of the current folder only when
// that folder is the user's own (owned by the user, not writable by group
// or others, not reached through another user's link) and holds a store.
// Otherwise it means "$HOME/.<name>", and the folder, with its lock file
// and a link where a hive goes, is left as it was.  A read lock another
// user's process holds on the lock file is waited for a bounded time only:
// the opening goes on and saves nothing.  Each opening runs in a child
// whose alarm ends a wait without end.
TEST_F(HiveOthers, OnlyTheUsersOwnStoreIsTakenByNameAndAnotherUsersLockIsNotWaitedFor) {
    if (qortest::permissionsBind()) GTEST_SKIP() << "needs a second user: run as root";
    qortest::TempDir shared, outside;
    ASSERT_TRUE(chmod(shared.path().c_str(), 01777) == 0 && chdir(shared.path().c_str()) == 0);
    const struct {
        const char* what;
        uid_t owner;
        mode_t mode;
        char kind;  // 'l': "qorapp" is nobody's link to it; 'h': nobody holds its lock; 't': it holds only a
                    // name like a temporary file of the store's
        bool taken;
    } cases[] = {{"root's, private", 0, 0700, ' ', true},
                 {"root's, the group may write", 0, 0770, ' ', false},
                 {"root's, anyone may write", 0, 01777, ' ', false},
                 {"nobody's", qortest::kNobody, 0755, ' ', false},
                 {"root's through nobody's link", 0, 0700, 'l', false},
                 {"root's, of temporary names alone", 0, 0700, 't', false},
                 {"root's, its lock held by nobody", 0, 0755, 'h', true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(system(("rm -rf qorapp " + home_.file(".qorapp") + " " + outside.path() + "/*").c_str()), 0);
        const std::string folder = c.kind == 'l' ? outside.file("mine") : shared.file("qorapp");
        // Its lock file, or its one name like a temporary file.
        const std::string lock = folder + (c.kind == 't' ? "/.data.3999999.2.tmp" : "/.hives.lock");
        ASSERT_TRUE(mkdir(folder.c_str(), c.mode) == 0 && chmod(folder.c_str(), c.mode) == 0 &&
                    qortest::writeFile(lock, "QORC-my-notes") &&
                    (c.kind == 't' || symlink(outside.file("made").c_str(), (folder + "/settings").c_str()) == 0));
        ASSERT_EQ(system(("chown -Rh " + std::to_string(c.owner) + " " + folder +
                          (c.kind == 'l' ? "; ln -s " + folder + " qorapp; chown -h nobody qorapp" : ""))
                             .c_str()),
                  0);
        int ready[2], go[2];
        char byte = 0;
        ASSERT_TRUE(pipe(ready) == 0 && pipe(go) == 0);
        const pid_t holder = c.kind == 'h' ? fork() : -1;
        if (holder == 0) {
            struct flock range = {};
            range.l_type = F_RDLCK;
            range.l_len = 4;
            close(go[1]);
            const int fd = setgid(qortest::kNobody) || setuid(qortest::kNobody) ? -1 : open(lock.c_str(), 0);
            _exit(fd < 0 || fcntl(fd, F_SETLK, &range) || write(ready[1], "x", 1) != 1 || read(go[0], &byte, 1));
        }
        close(ready[1]);
        close(go[0]);
        ASSERT_TRUE(holder < 0 || read(ready[0], &byte, 1) == 1);
        const std::vector<std::string> before = qortest::namesIn(folder);
        EXPECT_TRUE(qortest::withinCpuSeconds(5, [&] {
            cCIAppConfig::gForeignLockWaitMs = 100;
            cCIAppConfig store;
            ASSERT_TRUE(store.openConfig("qorapp"));
            EXPECT_EQ(std::string(store.rootPath()), c.taken ? "qorapp" : home_.file(".qorapp"));
            EXPECT_EQ(store.setParamStr("secrets/token", "root's", -1) && store.setParamStr("settings/k", "root's", -1) &&
                          store.saveConfig(),
                      c.kind != 'h');
        }));
        close(ready[0]);
        close(go[1]);
        ASSERT_TRUE(holder < 0 || waitpid(holder, nullptr, 0) == holder);
        EXPECT_TRUE(c.taken || (qortest::namesIn(folder) == before && qortest::readFile(lock) == "QORC-my-notes" &&
                                access(outside.file("made").c_str(), F_OK) != 0));
    }
}

// ---- removals and saves of two programs ------------------------------------

// The hive "s" as the paths its programs make here, with their values.
using Flat = std::map<std::string, std::string>;
const char* const kPaths[] = {"p", "p/a", "p/a/c", "p/b", "p/c", "q", "q/r"};

Flat flatOf(cCIAppConfig& store) {
    Flat out;
    for (const std::string p : kPaths)
        if (store.getPathContextHandle(("s/" + p).c_str(), false)) out[p] = valueAt(store, "s/" + p);
    for (auto& kv : out) kv.second = kv.second == "<none>" ? "" : kv.second;
    return out;
}

// What the two programs and the file should hold: each program's tree, the
// file as it last read or wrote it (its base), and whether it changed the
// tree since.  A save of a changed tree over a file that is still its base
// writes the tree, else merges: a path keeps the file's value unless the
// program changed it (a value other than the base's, or a path it made); a
// path one side removed stays only where the other changed it or something
// below it.  A program that changed nothing reads the file again when
// another saved.
struct Model {
    Flat file, tree[2], base[2];
    bool changed[2] = {false, false};

    Flat& at(int who) {
        if (!changed[who] && base[who] != file) tree[who] = base[who] = file;
        return tree[who];
    }
    // A set or a removal at path makes the nodes above it.
    Flat& change(int who, const std::string& path) {
        Flat& t = at(who);
        for (std::size_t s = path.find('/'); s != std::string::npos; s = path.find('/', s + 1))
            t.emplace(path.substr(0, s), "");
        changed[who] = true;
        return t;
    }
    bool remove(int who, const std::string& path) {
        Flat& t = change(who, path);
        const bool was = t.count(path);
        for (const std::string q : kPaths)
            if ((q + "/").rfind(path + "/", 0) == 0) t.erase(q);
        return was;
    }
    void save(int who) {
        Flat &b = base[who], &o = tree[who];
        if (changed[who] && b != file) {
            Flat out;
            // The deepest paths first: a path knows whether something below it stays.
            for (auto q = std::rbegin(kPaths); q != std::rend(kPaths); ++q) {
                const bool inB = b.count(*q), inO = o.count(*q), inT = file.count(*q);
                const std::string vB = inB ? b[*q] : "", vO = inO ? o[*q] : "", vT = inT ? file[*q] : "";
                const std::string kept = inB && (inO ? vO : vT) == vB ? "" : inO ? vO : vT;
                const auto next = out.upper_bound(*q);
                const bool below = next != out.end() && next->first.rfind(std::string(*q) + "/", 0) == 0;
                if (inO && inT)
                    out[*q] = vO != vB ? vO : vT;
                else if ((inO || inT) && (!inB || !kept.empty() || below))
                    out[*q] = kept;
            }
            o = out;
        }
        if (changed[who]) file = b = o;
        changed[who] = false;
    }
};

// Runs steps, "A+p/b=2" (set), "B-p" (remove), "As" (save), on two stores
// of one folder and on the model, from a file of p=P, p/a=1, q=Q; both
// stores and the file must agree with the model after every step.
Flat runSteps(const std::vector<std::string>& steps) {
    Model m;
    m.file = m.tree[0] = m.base[0] = m.tree[1] = m.base[1] = {{"p", "P"}, {"p/a", "1"}, {"q", "Q"}};
    qortest::runCommand("rm -rf \"$HOME/.qor\"");
    cCIAppConfig stores[2];
    EXPECT_TRUE(stores[0].openConfig("qor") && stores[0].setParamStr("s/p", "P", -1) &&
                stores[0].setParamStr("s/p/a", "1", -1) && stores[0].setParamStr("s/q", "Q", -1) &&
                stores[0].saveConfig() && stores[1].openConfig("qor"));
    std::string done;
    for (const std::string& step : steps) {
        const int who = step[0] - 'A';
        const std::size_t eq = step.find('=');
        const std::string path = step.substr(2, eq - 2), value = eq == std::string::npos ? "" : step.substr(eq + 1);
        done += step + " ";
        if (step[1] == '+') {
            m.change(who, path)[path] = value;
            EXPECT_TRUE(stores[who].setParamStr(("s/" + path).c_str(), value.c_str(), -1)) << done;
        } else if (step[1] == '-') {
            EXPECT_EQ(stores[who].removeSection(("s/" + path).c_str()), m.remove(who, path)) << done;
        } else {
            m.save(who);
            EXPECT_TRUE(stores[who].saveConfig()) << done;
        }
        for (int k = 0; k < 2; ++k) EXPECT_EQ(flatOf(stores[k]), m.at(k)) << done << "in program " << "AB"[k];
        cCIAppConfig fresh;
        EXPECT_TRUE(fresh.openConfig("qor"));
        EXPECT_EQ(flatOf(fresh), m.file) << done << "on disk";
    }
    return m.file;
}

// The sequence of the report: A removes s/p and has not saved, B sets s/p/b
// and saves, A saves: what B saved stays, what A saw of s/p goes.  Then
// orders of sets, removals and saves, by hand and from a fixed seed.
TEST_F(HiveOthers, ARemovalTakesOnlyWhatThisProgramSaw) {
    EXPECT_EQ(runSteps({"A-p", "B+p/b=2", "Bs", "As"}), (Flat{{"p", ""}, {"p/b", "2"}, {"q", "Q"}}));
    std::vector<std::vector<std::string>> orders = {
        {"A-p", "B+p=X", "Bs", "As"}, {"A-p/a", "B+p/a/c=3", "Bs", "As"}, {"B-p", "A+p/a=x", "Bs", "As"},
        {"A+p/a=x", "B+p/a=y", "Bs", "As"}, {"A-p", "A+p/c=3", "B+p/b=2", "Bs", "As"}, {"A-q", "B-q", "Bs", "As"}};
    const char* const kinds[] = {"+p/a=", "+p/b=", "+p=", "+q/r=", "-p", "-p/a", "-q", "s", "s"};
    std::mt19937 rng(71);
    for (int round = 0; round < 60; ++round) {
        orders.emplace_back();
        for (int i = 0; i < 7; ++i) {
            const std::string who(1, "AB"[rng() % 2]), kind = kinds[rng() % std::size(kinds)];
            orders.back().push_back(who + kind + (kind.back() == '=' ? who + std::to_string(i) : ""));
        }
        orders.back().insert(orders.back().end(), {"As", "Bs"});
    }
    for (const auto& steps : orders)
        if (!HasFailure()) runSteps(steps);
}

}  // namespace
