// pkgmake: compiles a text scenario and the files it names into a binary
// scenario (the installer payload), reads the payload back, verifies its
// digest and every item's digest, and prints what the package holds.
//
//   pkgmake <scenario.txt> <output.data>
//
// Paths inside a scenario are taken from the folder the scenario lies in.
// The exit code is 0 on success, 1 for a faulty scenario, 2 for a payload
// that cannot be written or does not verify, 3 for bad arguments.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "pakvane/scenario.h"
#include "uitoolkit/langids.h"

namespace {

const char* errorMeaning(int code) {
    switch (code) {
    case 1: return "the scenario file cannot be opened";
    case 2: return "unknown section name";
    case 3: return "characters after a section header";
    case 4: return "a content line before the first section header";
    case 5: return "unknown key";
    case 6: return "'=' or a separator missing, or unexpected characters";
    case 7: return "a malformed quoted string or string reference, or characters after a value";
    case 8: return "a number that cannot be read or is out of range";
    case 9: return "no language declared";
    case 10: return "no \"codename\" in the Software section";
    case 11: return "no licence agreement (\"eula\") document";
    case 12: return "the licence agreement lacks a declared language";
    case 13: return "the welcome document lacks a declared language";
    case 14: return "the readme document lacks a declared language";
    case 15: return "a language's own string is missing in another declared language";
    case 16: return "an unknown or undeclared language code";
    case 17: return "an empty string id";
    case 18: return "a version with fewer than two numbers";
    case 19: return "the welcome document does not compile";
    case 20: return "the readme document does not compile";
    case 21: return "the licence agreement does not compile";
    case 23: return "a bad path definition (a sub path may not be absolute or contain \"..\")";
    case 24: return "an Install line beginning with \"x\" but not \"x64.\" or \"x32.\"";
    case 25: return "an Install line that does not begin with a quoted source";
    case 26: return "an Install source that does not exist or cannot be read";
    case 27: return "bad permission digits, or no ',' before the language list";
    case cSoftPkgScenario::errReservedID: return "\"pgm\" is the installation folder and cannot be defined";
    case cSoftPkgScenario::errVersionRange: return "a version part outside 0 to 65535";
    case cSoftPkgScenario::errLineRead: return "a line longer than 4096 characters, or a read error";
    case cSoftPkgScenario::errFolderCycle: return "an Install folder links back into itself";
    default: return "unknown error";
    }
}

void progress(const char* what, unsigned done, unsigned total, unsigned long long bytes, unsigned long long all) {
    const unsigned percent = all ? static_cast<unsigned>(bytes * 100 / all) : 100;
    std::printf("\r%s: items %u/%u, bytes %llu/%llu, %u%%", what, done, total, bytes, all, percent);
    if (done == total) std::printf("\n");
    std::fflush(stdout);
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

std::string hexOf(const unsigned char* d, int n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < n; ++i) s += std::string{digits[d[i] >> 4], digits[d[i] & 15]};
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <scenario.txt> <output.data>\n", argv[0]);
        return 3;
    }
    const std::string scenarioPath = absolute(argv[1]);
    const std::string outPath = absolute(argv[2]);
    const std::size_t slash = scenarioPath.rfind('/');
    const std::string folder = scenarioPath.substr(0, slash == 0 ? 1 : slash);
    if (chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "error: cannot enter the scenario's folder %s\n", folder.c_str());
        return 1;
    }

    cSoftPkgScenario s;
    int line = 0;
    const int rc = s.loadTextConfig(scenarioPath.c_str(), line);
    if (rc != 0) {
        if (line >= 0)
            std::fprintf(stderr, "error: %s: line %d: %s (code %d)\n", scenarioPath.c_str(), line + 1, errorMeaning(rc), rc);
        else
            std::fprintf(stderr, "error: %s: %s (code %d)\n", scenarioPath.c_str(), errorMeaning(rc), rc);
        return 1;
    }

    cSoftPkg& pkg = s.package();
    const unsigned count = pkg.count();
    unsigned long long total = 0;
    for (unsigned i = 0; i < count; ++i) total += pkg.sizeOf(static_cast<int>(i));
    unsigned long long done = 0;
    for (unsigned i = 0; i < count; ++i) {
        done += pkg.sizeOf(static_cast<int>(i));
        progress("packing", i + 1, count, done, total);
    }
    if (count == 0) progress("packing", 0, 0, 0, 0);
    {
        cFileIO out;
        if (!out.create(outPath.c_str(), fmReadWrite) || !s.saveBinConfig(&out)) {
            std::fprintf(stderr, "error: saving the scenario failed: %s\n", outPath.c_str());
            return 2;
        }
        std::printf("payload: %s, %lld bytes\n", outPath.c_str(), static_cast<long long>(out.size()));
    }

    // Read back what was written, as an installer would.
    cSoftPkgScenario back;
    {
        cFileIO in;
        if (!in.open(outPath.c_str(), fmRead) || !back.loadBinConfig(&in)) {
            std::fprintf(stderr, "error: the payload does not load back or its digest is wrong: %s\n", outPath.c_str());
            return 2;
        }
    }
    cSoftPkg& items = back.package();
    done = 0;
    for (unsigned i = 0; i < items.count(); ++i) {
        if (!items.verify(static_cast<int>(i))) {
            std::fprintf(stderr, "\nerror: item %u does not match its digest\n", i);
            return 2;
        }
        done += items.sizeOf(static_cast<int>(i));
        progress("verifying", i + 1, items.count(), done, total);
    }
    if (items.count() == 0) progress("verifying", 0, 0, 0, 0);

    std::vector<int> langs;
    back.getSupportedLangs(langs);
    if (!langs.empty()) back.setCurrLangID(langs[0]);
    std::string version;
    back.getStrVer(version, true);
    const char* name = back.getStr("name");
    const char* codename = back.getStr("codename");
    std::printf("package: %s (%s)\n", name ? name : "", codename ? codename : "");
    std::printf("version: %s\n", version.c_str());
    std::printf("languages:");
    for (int l : langs) std::printf(" %s", ciLangID(l));
    std::printf("\n");
    const struct {
        const char* title;
        const cSoftPkgScenario::sDocument& doc;
    } docs[] = {{"welcome", back.welcomeDoc()}, {"readme", back.readmeDoc()}, {"eula", back.eulaDoc()}};
    for (const auto& d : docs) {
        if (d.doc.bytes.empty()) continue;
        std::printf("document %s: %zu bytes, languages:", d.title, d.doc.bytes.size());
        for (int l : langs)
            if (const_cast<cSiDocLoader&>(d.doc.loader).forLang(l)) std::printf(" %s", ciLangID(l));
        std::printf("\n");
    }
    if (back.readme_needs_accept()) std::printf("the readme must be accepted\n");
    back.setStr(-1, "pgm", "<folder>");
    std::printf("items: %u\n", items.count());
    for (const auto& f : back.fileEntries()) {
        std::string dest;
        back.defToPath(f.dest, dest);
        unsigned char d[32];
        items.digest(static_cast<int>(f.item), d);
        std::printf("  #%u %llu bytes sha256 %s -> %s\n", f.item, items.sizeOf(static_cast<int>(f.item)),
                    hexOf(d, 32).c_str(), dest.c_str());
    }
    std::printf("ok\n");
    return 0;
}
