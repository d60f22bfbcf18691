// Folders shared by everyone, as /tmp is, with names that another user
// ("nobody") planted in them: the scenes in which a program run by root
// must not follow, take or hand back what that user put there.  The same
// table of scenes serves every writer that replaces files (the replacement
// file, the shortcut writers), each in its own test program.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace qortest {

constexpr uid_t kNobody = 65534;

// Under one fresh folder of root's: "shared" (root's, sticky and writable
// by everyone: 1777), "nobodys" (the same, owned by nobody), "open" (root's,
// 0777 without the sticky bit) and "private" (root's, 0700, holding
// "important", root's 0644 file "root data").  Names are given relative to
// the top folder ("shared/out").  Giving files away needs root: ready() is
// false for anyone else, and the folders are not made.
class PlantedFolders {
public:
    PlantedFolders();
    ~PlantedFolders();
    PlantedFolders(const PlantedFolders&) = delete;
    PlantedFolders& operator=(const PlantedFolders&) = delete;

    bool ready() const { return !top_.empty(); }
    std::string path(const std::string& rel) const { return top_ + "/" + rel; }
    // A symbolic link at `at` holding `to` as it is, owned by `owner`
    // (lchown: the owner the kernel's rule reads).
    bool link(const std::string& at, const std::string& to, uid_t owner);
    bool file(const std::string& at, const std::string& bytes, uid_t owner);
    bool fifo(const std::string& at);
    bool socket(const std::string& at);
    bool device(const std::string& at);
    bool folder(const std::string& at);
    // Every name below the top folder but `except`, one line each: the
    // name, its kind, owner and mode, and its bytes or where it leads.
    std::string snapshot(const std::string& except = "") const;

private:
    std::string top_;
};

// One scene: what is planted, the name a writer is given, and what must
// come of it.
struct PlantedCase {
    const char* name;
    std::function<bool(PlantedFolders&)> plant;
    const char* given;
    // The file written (replaced or made); null when the write is refused.
    const char* written;
    // The owner the written file has.
    uid_t owner;
    // Refused: what the refusal says, besides the name it names (`names`).
    const char* says;
    const char* names;
};
const std::vector<PlantedCase>& plantedCases();

// What a writer run in a child process gave: its result, errno, and the
// reason it told (when it tells one).  A child that did not end on its own
// within a generous limit (a write that blocks on a pipe) is killed:
// `ended` is then false.
struct GuardedWrite {
    bool ended = false;
    bool ok = false;
    int error = 0;
    std::string refusal;
};
GuardedWrite runGuarded(const std::function<bool(std::string& refusal)>& write);

}  // namespace qortest
