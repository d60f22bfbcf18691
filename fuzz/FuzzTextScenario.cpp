// qor-fuzz-link: pakvane cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: scenario
// qor-fuzz-ci-runs: 51000
// qor-fuzz-ci-args: -use_counters=0 -use_cmp=0
// Compiles the input as a text scenario inside a private folder, which is
// the current folder and holds files and folders to install ("a.txt",
// "tree/b.txt", "tree/sub/c.bin") and the documents of fuzzdocs.h: its
// seeds name "./docs.idx" or "doc.idx" for welcome, readme and eula, so
// that document compiling and the item table are reached.  Inputs naming
// paths outside the folder (a quoted path beginning with "/", or "..") are
// skipped: they would only make the run read the disk.  A scenario that
// compiles must save, and the payload must load back.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/memio.h"
#include "fuzzdocs.h"
#include "fuzzsupport.h"
#include "pakvane/scenario.h"

namespace {

const std::string& folder() {
    static const std::string dir = [] {
        const std::string d = fuzzSandbox();
        fuzzWriteDocumentSources(d);
        mkdir((d + "/tree").c_str(), 0755);
        mkdir((d + "/tree/sub").c_str(), 0755);
        if (!fuzzWriteFile(d + "/a.txt", "alpha", 5) || !fuzzWriteFile(d + "/tree/b.txt", "beta beta", 9) ||
            !fuzzWriteFile(d + "/tree/sub/c.bin", "\0\1\2\3", 4))
            FUZZ_FAIL("cannot write the files to install");
        if (chdir(d.c_str()) != 0) FUZZ_FAIL("cannot enter the sandbox");
        return d;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = folder();
    // Seen without NULs (UTF-16) and backslashes (escapes), a quoted path
    // may not start at the root nor climb.
    std::string text;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0 && data[i] != '\\') text += static_cast<char>(data[i]);
    if (text.find("\"/") != std::string::npos || text.find("..") != std::string::npos) return 0;
    const std::string path = dir + "/input.txt";
    if (!fuzzWriteFile(path, data, size)) FUZZ_FAIL("cannot write the input");
    cSoftPkgScenario s;
    int line = 0;
    if (s.loadTextConfig(path.c_str(), line) != 0) return 0;
    cMemIOTarget out;
    FUZZ_CHECK(s.saveBinConfig(&out));
    out.set_fp(0);
    cSoftPkgScenario back;
    FUZZ_CHECK(back.loadBinConfig(&out));
    FUZZ_CHECK(back.menuEntries().size() == s.menuEntries().size());
    return 0;
}
