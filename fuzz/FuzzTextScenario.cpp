// qor-fuzz-link: pakvane cihlpdoc uitoolkit picts compression base
// qor-fuzz-data: scenario
// Compiles the input as a text scenario inside a small sandbox folder that
// holds a file, a folder and a document index.  Inputs naming paths outside
// it (a quoted path beginning with "/", or "..") are skipped: they would only make the run read the disk.
// A scenario that compiles must save, and the payload must load back.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/memio.h"
#include "fuzzsupport.h"
#include "pakvane/scenario.h"

namespace {

std::string sandbox() {
    char tmpl[] = "/tmp/qorfuzz-scenario.XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir) std::abort();
    const std::string d = dir;
    auto put = [&](const char* name, const char* text) {
        FILE* f = std::fopen((d + "/" + name).c_str(), "wb");
        if (!f) std::abort();
        std::fputs(text, f);
        std::fclose(f);
    };
    mkdir((d + "/tree").c_str(), 0755);
    put("a.txt", "alpha");
    put("tree/b.txt", "beta beta");
    put("doc.hdl", "Hello <b>there</b>.");
    put("doc.idx", "ENG=\"./doc.hdl\"\nDEU=\"./doc.hdl\"\n");
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = sandbox();
    // Seen without NULs (UTF-16) and backslashes (escapes), a quoted path
    // may not start at the root nor climb.
    std::string text;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0 && data[i] != '\\') text += static_cast<char>(data[i]);
    if (text.find("\"/") != std::string::npos || text.find("..") != std::string::npos) return 0;
    if (chdir(dir.c_str()) != 0) std::abort();
    const std::string path = dir + "/input.txt";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
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
