#include "plantedfolders.h"

#include "testsupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <vector>

namespace qortest {
namespace {

// What is at a name, not followed: owner, mode, extended attributes (access
// lists among them), where it leads and (with `bytes`) what it holds.
std::string describe(const std::string& p, bool bytes) {
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) return "none";
    std::string d = std::to_string(st.st_uid) + " " + std::to_string(st.st_mode);
    char names[1024], value[1024];
    for (ssize_t at = 0, n = llistxattr(p.c_str(), names, sizeof names); at < n; at += std::strlen(names + at) + 1) {
        const ssize_t v = lgetxattr(p.c_str(), names + at, value, sizeof value);
        d += std::string(" ") + (names + at) + "=" + hex(value, v > 0 ? static_cast<std::size_t>(v) : 0);
    }
    if (S_ISLNK(st.st_mode)) d += " -> " + std::filesystem::read_symlink(p).string();
    return S_ISREG(st.st_mode) && bytes ? d + " holds " + readFile(p) : d;
}

// The name in a token of a scene (see Folders::plant): what comes before
// the sign of what it is.
std::string nameOf(const std::string& t) {
    return t.substr(t[0] == '@', t.find_first_of("-=|#%^+*") - (t[0] == '@'));
}

// A fresh folder holding "shared" (root's, 1777), "nobodys" (the same,
// nobody's), "open" (root's, 0777) and "private" (root's, 0700, holding
// root's "important"), in which a scene is laid out.
struct Folders {
    Folders() {
        int status = -1;
        ready = mkdtemp(&top[0]) && chmod(top.c_str(), 0755) == 0;
        runCommand("cd " + top + " && mkdir -m 1777 shared nobodys && mkdir -m 777 open && mkdir -m 700 private && "
                   "chown nobody: nobodys", &status);
        ready = ready && status == 0 && plant("private/important=");
    }
    ~Folders() { runCommand("rm -rf '" + top + "'"); }
    std::string path(const std::string& rel) const { return top + "/" + rel; }
    // Lays a scene out: names from the top folder, separated by spaces,
    // each followed by what it is.  "->target": a link (a target from a '/'
    // is a name under the top); "=": a hive of one value as a save writes it
    // (the store takes it for one); "|": a named pipe, with a reader that
    // sees any writer come and go; "#", "%", "^": a socket, the null device,
    // a folder; "+": a file made 0640 with an access list naming nobody and
    // an attribute; "*": a folder given a default list naming him; nothing:
    // a name only.  An '@' in front makes it nobody's.
    bool plant(const std::string& scene) {
        std::istringstream in(scene);
        for (std::string t; in >> t;) {
            const std::size_t end = t.find_first_of("-=|#%^+*");
            const std::string p = path(nameOf(t)), to = t.substr(std::min(end + 2, t.size()));
            bool ok = true;
            switch (end == std::string::npos ? ' ' : t[end]) {
            case '-': ok = symlink((to[0] == '/' ? top + to : to).c_str(), p.c_str()) == 0; break;
            case '=':
                ok = writeFile(p, std::string("QORC\0\0\x01\x04k\0\0\0\x03\0old\0\0", 19)) &&
                     chmod(p.c_str(), t[0] == '@' ? 0666 : 0644) == 0;
                break;
            case '|': ok = mkfifo(p.c_str(), 0) == 0 && (reader = open(p.c_str(), O_RDONLY | O_NONBLOCK)) >= 0; break;
            case '#': ok = mknod(p.c_str(), S_IFSOCK | 0666, 0) == 0; break;
            case '%': ok = mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; break;
            case '^': ok = mkdir(p.c_str(), 0755) == 0; break;
            case '*': ok = acl("-d -m u::rwx,g::r-x,o::---,u:nobody:rw-", p); break;
            case '+':
                ok = chmod(p.c_str(), 0640) == 0 && acl("-m u:nobody:rw-", p) &&
                     setxattr(p.c_str(), "user.origin", "kept", 4, 0) == 0;
            }
            if (!ok || (t[0] == '@' && lchown(p.c_str(), kNobody, kNobody) != 0)) return false;
        }
        return true;
    }
    bool acl(const std::string& args, const std::string& p) {
        int status = -1;
        runCommand("setfacl " + args + " '" + p + "' 2>&1", &status);
        return !(noAcl = status != 0);
    }
    // Every name but the store's lock file; `written` without its bytes.
    std::map<std::string, std::string> snapshot(const std::string& written) const {
        std::map<std::string, std::string> out;
        for (const auto& e : std::filesystem::recursive_directory_iterator(top)) {
            const std::string rel = e.path().string().substr(top.size() + 1);
            if (e.path().filename() != ".hives.lock") out[rel] = describe(e.path(), rel != written);
        }
        return out;
    }

    std::string top = "/tmp/qorplanted.XXXXXX";
    bool ready = false, noAcl = false;
    int reader = -1;
};

const char *const kLink = "is a link of user nobody", *const kFile = "is a file of user nobody";
const char* const kNot = "regular file";
const struct Scene {
    const char* name;
    const char* scene;
    const char* written;  // null when refused
    const char* says;
} kScenes[] = {
    {"a link of nobody's to root's file", "@shared/out->/private/important", nullptr, kLink},
    {"a dangling link of nobody's", "@shared/out->/private/made", nullptr, kLink},
    {"a chain with one link of nobody's", "shared/out->hop @shared/hop->/private/important", nullptr, kLink},
    {"nobody's file in a sticky folder", "@shared/out=", nullptr, kFile},
    {"root's link to nobody's file in a sticky folder", "private/l->/shared/theirs @shared/theirs=", nullptr, kFile},
    {"a named pipe", "private/p|", nullptr, kNot},
    {"a link to a named pipe", "private/l->p private/p|", nullptr, kNot},
    {"a socket", "private/s#", nullptr, kNot},
    {"a device", "private/d%", nullptr, kNot},
    {"a folder", "private/d^", nullptr, kNot},
    {"a loop of links", "private/a->b private/b->a", nullptr, "Too many levels of symbolic links"},
    // What the kernel's rules let through.
    {"root's own link in a sticky folder", "shared/out->/private/important", "private/important", nullptr},
    {"root's own dangling link in a sticky folder", "shared/out->/private/made", "private/made", nullptr},
    {"nobody's link in the sticky folder he owns", "@nobodys/out->/private/important", "private/important", nullptr},
    {"nobody's link in a folder that is not sticky", "@open/out->/private/important", "private/important", nullptr},
    {"nobody's file in the sticky folder he owns", "@nobodys/out=", "nobodys/out", nullptr},
    {"a new file in a sticky folder", "shared/new", "shared/new", nullptr},
    {"a file with an access list and an attribute", "private/important+", "private/important", nullptr},
    {"a new file in a folder with a default access list", "open/new open*", "open/new", nullptr},
};

void checkScene(const Scene& c, const PlantedWriter& write, const std::string& starts, const char* quiet) {
    SCOPED_TRACE(c.name);
    umask(077);
    Folders f;
    ASSERT_TRUE(f.ready);
    const std::string written = c.written ? c.written : "";
    bool planted = false;
    std::map<std::string, std::string> before, after;
    std::string said;
    // The first name is the one given; a refusal names the one nobody planted.
    std::string given, names;
    std::istringstream in(c.scene);
    for (std::string t; in >> t;) {
        given = given.empty() ? nameOf(t) : given;
        names = t[0] == '@' ? f.path(nameOf(t)) : names;
    }
    const bool ok = write(f.path(given), [&] {
        before = (planted = f.plant(c.scene)) ? f.snapshot(written) : before;
        return planted;
    }, said);
    if (!planted && f.noAcl) return (void)std::printf("skipped %s: the file system keeps no access lists\n", c.name);
    ASSERT_TRUE(planted);
    after = f.snapshot(written);
    pollfd pipe = {f.reader, POLLIN, 0};
    EXPECT_EQ(poll(&pipe, 1, 0), 0) << "a writer opened the pipe";
    EXPECT_EQ(ok, c.written != nullptr) << said;
    if (!c.written && (!quiet || !std::strstr(c.says, quiet))) {
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_NE(said.find(names), std::string::npos) << said;
    }
    EXPECT_TRUE(!c.written || readFile(f.path(written)).compare(0, starts.size(), starts) == 0);
    if (c.written && !before.count(written)) {
        // A new file is what the shell's `>` makes beside it.
        const std::string ours = f.path(written), shells = ours + ".sh", getfacl = "getfacl -p --omit-header ";
        runCommand(": > '" + shells + "'");
        EXPECT_EQ(after[written], describe(shells, false));
        EXPECT_EQ(runCommand(getfacl + ours), runCommand(getfacl + shells));
        after.erase(written);
    }
    EXPECT_EQ(after, before);
}

}  // namespace

void checkPlantedScenes(const PlantedWriter& write, const std::string& starts, const char* quiet) {
    for (const Scene& c : kScenes)
        EXPECT_TRUE(withinCpuSeconds(5, [&] { checkScene(c, write, starts, quiet); })) << c.name;
}

void checkLeftovers(const std::string& folder, const std::function<std::string(int)>& name, const std::string& format,
                    const std::function<std::map<std::string, std::string>()>& cleanup) {
    std::string changed = format;
    changed[7] ^= 1;
    int held = -1;
    auto holding = [](const std::string& b) { return [b](const std::string& p) { return writeFile(p, b); }; };
    const struct {
        const char* what;
        const char* kept;  // why it stays ("": said or not); null when removed
        std::function<bool(const std::string&)> make;
    } rows[] = {
        {"empty", nullptr, holding("")},
        {"the format", nullptr, holding(format)},
        {"the format cut short", nullptr, holding(format.substr(0, 6))},
        {"a note of the user's", "does not hold what such a file holds", holding("my notes")},
        {"the format with its eighth byte changed", "does not hold what such a file holds", holding(changed)},
        {"a file with a second name", "other names", [&](const std::string& p) {
             return writeFile(p, format) && link(p.c_str(), (folder + "/second").c_str()) == 0;
         }},
        {"a file whose lock is held", "", [&](const std::string& p) {
             return writeFile(p, format) && (held = open(p.c_str(), O_RDONLY)) >= 0 && flock(held, LOCK_EX) == 0;
         }},
        {"a symbolic link", "not a regular file", [](const std::string& p) { return symlink("x", p.c_str()) == 0; }},
        // Last: giving a file away needs root.
        {"nobody's file", "user nobody (uid 65534)",
         [&](const std::string& p) { return writeFile(p, format) && chown(p.c_str(), kNobody, kNobody) == 0; }},
    };
    const int count = static_cast<int>(std::size(rows)) - (geteuid() == 0 ? 0 : 1);
    std::vector<std::string> before;
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(rows[i].make(folder + "/" + name(i))) << rows[i].what;
        before.push_back(describe(folder + "/" + name(i), true));
    }
    const std::map<std::string, std::string> said = cleanup();
    close(held);
    for (int i = 0; i < count; ++i) {
        const char* kept = rows[i].kept;
        const auto s = said.find(folder + "/" + name(i));
        EXPECT_EQ(describe(folder + "/" + name(i), true), kept ? before[i] : "none") << rows[i].what;
        if (said.empty()) continue;
        const std::string told = s == said.end() ? "" : s->second;
        EXPECT_TRUE(kept ? told != "removed" && told.find(kept) != std::string::npos : told == "removed")
            << rows[i].what << ": " << told;
    }
}

}  // namespace qortest
