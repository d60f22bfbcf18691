// What another user ("nobody") plants for a program run by root: links and
// files at the name it writes in folders everyone may write to, as /tmp,
// and files named like its leftover temporary files.  Each table of scenes
// is run against every writer that replaces or cleans up files.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>

namespace qortest {

constexpr uid_t kNobody = 65534;

// Every scene, each in a child process under the creation mask 077, given
// to write(given, plant, said), which calls plant() once (before it starts,
// or between reading and writing), returns whether it wrote, and puts in
// `said` what it told.  A link or file is taken only where the kernel's
// protected_symlinks and protected_regular rules would let it be, and only
// a regular file; the file written then begins with `starts` and keeps its
// owner, mode, access list and attributes, or is made as the shell's `>`
// makes one beside it.  A refusal changes nothing and says why, naming what
// nobody planted, unless the reason holds `quiet` ("": it says nothing).
// Needs root.
using PlantedWriter =
    std::function<bool(const std::string& given, const std::function<bool()>& plant, std::string& said)>;
void checkPlantedScenes(const PlantedWriter& write, const std::string& starts, const char* quiet = nullptr);

// Files at name(0), name(1)... in `folder` like a killed writer's
// temporaries; cleanup() may remove only those provably its own (a regular
// file of the caller's, one link, its lock free, holding nothing or the
// start of `format`), and returns what it said of each path ("removed" or
// why it kept it), or nothing.
void checkLeftovers(const std::string& folder, const std::function<std::string(int)>& name, const std::string& format,
                    const std::function<std::map<std::string, std::string>()>& cleanup);

}  // namespace qortest
