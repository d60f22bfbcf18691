#include "plantedfolders.h"

#include "testsupport.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qortest {

PlantedFolders::PlantedFolders() {
    if (::geteuid() != 0) return;
    std::string templ = "/tmp/qorplanted.XXXXXX";
    if (!::mkdtemp(&templ[0]) || ::chmod(templ.c_str(), 0755) != 0) return;
    top_ = templ;
    struct Folder {
        const char* name;
        mode_t mode;
        uid_t owner;
    };
    for (const Folder& f : {Folder{"shared", 01777, 0}, Folder{"nobodys", 01777, kNobody}, Folder{"open", 0777, 0},
                            Folder{"private", 0700, 0}}) {
        const std::string at = path(f.name);
        if (::mkdir(at.c_str(), 0700) != 0 || ::chmod(at.c_str(), f.mode) != 0 ||
            ::chown(at.c_str(), f.owner, f.owner) != 0) {
            top_.clear();
            return;
        }
    }
    if (!file("private/important", "root data", 0) || ::chmod(path("private/important").c_str(), 0644) != 0)
        top_.clear();
}

PlantedFolders::~PlantedFolders() {
    if (!top_.empty()) runCommand("rm -rf '" + top_ + "'");
}

bool PlantedFolders::link(const std::string& at, const std::string& to, uid_t owner) {
    const std::string p = path(at);
    return ::symlink(to.c_str(), p.c_str()) == 0 && ::lchown(p.c_str(), owner, owner) == 0;
}

bool PlantedFolders::file(const std::string& at, const std::string& bytes, uid_t owner) {
    const std::string p = path(at);
    return writeFile(p, bytes) && ::chown(p.c_str(), owner, owner) == 0 && ::chmod(p.c_str(), 0666) == 0;
}

bool PlantedFolders::fifo(const std::string& at) { return ::mkfifo(path(at).c_str(), 0666) == 0; }

bool PlantedFolders::socket(const std::string& at) {
    // The socket's name stays after the socket is closed.
    const std::string p = path(at);
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (p.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (s < 0) return false;
    const bool bound = ::bind(s, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return bound;
}

bool PlantedFolders::device(const std::string& at) {
    // The null device's numbers: reading and writing it harms nothing.
    return ::mknod(path(at).c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

bool PlantedFolders::folder(const std::string& at) { return ::mkdir(path(at).c_str(), 0755) == 0; }

namespace {

std::vector<std::string>* gLines;
std::size_t gTopLength;
std::string gExcept;

int noteEntry(const char* p, const struct stat* st, int, struct FTW*) {
    const std::string rel = std::strlen(p) > gTopLength ? std::string(p + gTopLength + 1) : ".";
    if (rel == gExcept) return 0;
    std::string line = rel + " uid " + std::to_string(st->st_uid) + " mode " + std::to_string(st->st_mode);
    if (S_ISLNK(st->st_mode)) {
        char buf[4096];
        const ssize_t n = ::readlink(p, buf, sizeof buf);
        line += " -> " + std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    } else if (S_ISREG(st->st_mode)) {
        line += " holds " + readFile(p);
    }
    gLines->push_back(line);
    return 0;
}

}  // namespace

std::string PlantedFolders::snapshot(const std::string& except) const {
    std::vector<std::string> lines;
    gLines = &lines;
    gTopLength = top_.size();
    gExcept = except;
    ::nftw(top_.c_str(), noteEntry, 16, FTW_PHYS);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

const std::vector<PlantedCase>& plantedCases() {
    using F = PlantedFolders;
    static const char* const kPlanted = "user nobody (uid 65534)";
    static const std::vector<PlantedCase> cases = {
        {"a link of nobody's to root's file",
         [](F& f) { return f.link("shared/out", f.path("private/important"), kNobody); }, "shared/out", nullptr, 0,
         kPlanted, "shared/out"},
        {"a dangling link of nobody's", [](F& f) { return f.link("shared/out", f.path("private/made"), kNobody); },
         "shared/out", nullptr, 0, kPlanted, "shared/out"},
        {"a chain with one link of nobody's",
         [](F& f) {
             return f.link("shared/out", "hop", 0) && f.link("shared/hop", f.path("private/important"), kNobody);
         },
         "shared/out", nullptr, 0, kPlanted, "shared/hop"},
        {"a chain that ends in a dangling link of nobody's",
         [](F& f) {
             return f.link("shared/out", f.path("private/hop"), 0) && f.link("private/hop", f.path("shared/last"), 0) &&
                    f.link("shared/last", f.path("private/made"), kNobody);
         },
         "shared/out", nullptr, 0, kPlanted, "shared/last"},
        {"nobody's file in a sticky folder", [](F& f) { return f.file("shared/out", "nobody data", kNobody); },
         "shared/out", nullptr, 0, kPlanted, "shared/out"},
        {"root's link to nobody's file in a sticky folder",
         [](F& f) {
             return f.file("shared/theirs", "nobody data", kNobody) && f.link("private/link", f.path("shared/theirs"), 0);
         },
         "private/link", nullptr, 0, kPlanted, "shared/theirs"},
        {"a named pipe", [](F& f) { return f.fifo("private/fifo"); }, "private/fifo", nullptr, 0,
         "is a named pipe, not a regular file", "private/fifo"},
        {"a link to a named pipe", [](F& f) { return f.fifo("private/fifo") && f.link("private/l", "fifo", 0); },
         "private/l", nullptr, 0, "is a named pipe, not a regular file", "private/fifo"},
        {"a socket", [](F& f) { return f.socket("private/sock"); }, "private/sock", nullptr, 0,
         "is a socket, not a regular file", "private/sock"},
        {"a device", [](F& f) { return f.device("private/null"); }, "private/null", nullptr, 0,
         "is a device, not a regular file", "private/null"},
        {"a folder", [](F& f) { return f.folder("private/dir"); }, "private/dir", nullptr, 0,
         "is a folder, not a regular file", "private/dir"},
        // What the kernel's rules let through.
        {"root's own link in a sticky folder", [](F& f) { return f.link("shared/out", f.path("private/important"), 0); },
         "shared/out", "private/important", 0, nullptr, nullptr},
        {"root's own dangling link in a sticky folder",
         [](F& f) { return f.link("shared/out", f.path("private/made"), 0); }, "shared/out", "private/made", 0, nullptr,
         nullptr},
        {"nobody's link in the sticky folder nobody owns",
         [](F& f) { return f.link("nobodys/out", f.path("private/important"), kNobody); }, "nobodys/out",
         "private/important", 0, nullptr, nullptr},
        {"nobody's link in a folder that is not sticky",
         [](F& f) { return f.link("open/out", f.path("private/important"), kNobody); }, "open/out", "private/important",
         0, nullptr, nullptr},
        {"nobody's file in the sticky folder nobody owns",
         [](F& f) { return f.file("nobodys/out", "nobody data", kNobody); }, "nobodys/out", "nobodys/out", kNobody,
         nullptr, nullptr},
        {"nobody's file in a folder that is not sticky", [](F& f) { return f.file("open/out", "nobody data", kNobody); },
         "open/out", "open/out", kNobody, nullptr, nullptr},
        {"a new file in a sticky folder", [](F&) { return true; }, "shared/new", "shared/new", 0, nullptr, nullptr},
    };
    return cases;
}

GuardedWrite runGuarded(const std::function<bool(std::string& refusal)>& write) {
    GuardedWrite out;
    int fds[2];
    if (::pipe(fds) != 0) return out;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return out;
    }
    if (child == 0) {
        ::close(fds[0]);
        // Far above what any write here takes; only a blocked one meets it.
        ::alarm(60);
        std::string refusal;
        errno = 0;
        const bool ok = write(refusal);
        const int error = errno;
        std::string msg = std::string(ok ? "1" : "0") + std::to_string(error) + "\n" + refusal;
        const ssize_t put = ::write(fds[1], msg.data(), msg.size());
        _exit(put == static_cast<ssize_t>(msg.size()) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string msg;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) msg.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const std::size_t line = msg.find('\n');
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || line == std::string::npos || msg.empty()) return out;
    out.ended = true;
    out.ok = msg[0] == '1';
    out.error = std::atoi(msg.substr(1, line - 1).c_str());
    out.refusal = msg.substr(line + 1);
    return out;
}

}  // namespace qortest
