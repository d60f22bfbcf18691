// pkgmake: compiles a text scenario and the files it names into a binary
// scenario (the installer payload), reads the payload back beside the
// packing, each piece as soon as it is written, verifies its digest and
// every item's digest, and prints what the package holds.
//
//   pkgmake [--threads N] <scenario.txt> <output.data>             compile, read back, verify
//   pkgmake [--threads N] --no-check <scenario.txt> <output.data>  compile only
//   pkgmake [--threads N] --check <payload.data>                   read back, verify, show
//
// Paths inside a scenario are taken from the folder the scenario lies in.
// The output is looked at before any work: one that is not a regular file
// is refused, a symbolic link has its target replaced, and its folder must
// be able to take a new file.  In a sticky folder that everyone may write
// to (/tmp), a link or a file that another user put there (not the folder's
// owner) is refused, as the kernel's protected_symlinks and
// protected_regular refuse them.  The payload is written to a temporary file
// beside the output, read back through the descriptor it was written by as
// it is written, and takes the output's place only once it is complete,
// flushed and (unless --no-check) verified: an interrupted or failed run leaves the
// previous output as it was, and no other run's bytes are ever checked in
// its stead.  Documents are compiled with the platform's fonts.  Progress
// goes to standard output: one line redrawn on a terminal, as wide as the
// terminal, a plain line at most once a second otherwise.
//
// The exit code is 0 on success, 1 for a faulty scenario (or an output that
// would overwrite one of its inputs, or is not a regular file), 2 for a
// payload that cannot be written or does not verify (or a limit of the
// process that the run met, file size, memory, descriptors or threads: it
// is named), 3 for bad arguments, 4 when the work succeeded but standard
// output was closed before everything was shown (`| head -1`, or closed
// from the start): the payload is then complete, and verified unless
// --no-check was given.  An interrupting signal ends it as that signal
// would.
//
// For tests that must change the world at a given point of a run, without
// depending on its speed, PKGMAKE_TEST_HOOKS holds a list, separated by
// commas, of: "lines" (a progress line at every step, not a few a second),
// "stop-before-check" (the check waits, and the process stops itself with
// SIGSTOP once the payload is written, before it is read back and put in
// place) and, last,
// "stop-in:<path>" (it stops itself once the first piece of the file to
// pack at <path>, as the scenario names it, is read).
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <condition_variable>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

#include "base/fileio.h"
#include "base/strutil.h"
#include "base/timeleft.h"
#include "cihlpdoc/sidoc.h"
#include "ciplatform/ctfont.h"
#include "ciplatform/platform.h"
#include "pakvane/payloadcheck.h"
#include "pakvane/payloadheader.h"
#include "pakvane/scenario.h"
#include "uitoolkit/langids.h"

namespace {

// What a resource limit of the process has to do with a failure: the limit
// named with its value, when the error is the one it gives and it is set.
std::string limitNote(int error) {
    struct rlimit r;
    char buf[160];
    auto limited = [&](int which) { return ::getrlimit(which, &r) == 0 && r.rlim_cur != RLIM_INFINITY; };
    auto value = [&] { return static_cast<unsigned long long>(r.rlim_cur); };
    if (error == EFBIG && limited(RLIMIT_FSIZE))
        std::snprintf(buf, sizeof buf, " (the file size limit, ulimit -f, is %llu bytes)", value());
    else if (error == EMFILE && limited(RLIMIT_NOFILE))
        std::snprintf(buf, sizeof buf, " (the limit of open files, ulimit -n, is %llu)", value());
    else if (error == ENFILE)
        std::snprintf(buf, sizeof buf, " (the system's limit of open files)");
    else if (error == ENOMEM && limited(RLIMIT_AS))
        std::snprintf(buf, sizeof buf, " (the address space limit, ulimit -v, is %llu KiB)", value() / 1024);
    else if (error == ENOMEM && limited(RLIMIT_DATA))
        std::snprintf(buf, sizeof buf, " (the data size limit, ulimit -d, is %llu KiB)", value() / 1024);
    else
        return "";
    return buf;
}

// The system's reason for an error, with the limit behind it.
std::string reason(int error) { return std::strerror(error) + limitNote(error); }

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
    case 23: return "a bad path definition";
    case 24: return "an Install line beginning with \"x\" but not \"x64.\" or \"x32.\"";
    case 25: return "an Install line that does not begin with a quoted source";
    case 26: return "an Install source that does not exist or cannot be read";
    case 27: return "bad permission digits, or no ',' before the language list";
    case cSoftPkgScenario::errReservedID: return "\"pgm\" is the installation folder and cannot be defined";
    case cSoftPkgScenario::errVersionRange: return "a version part outside 0 to 65535";
    case cSoftPkgScenario::errLineRead: return "a line longer than 4096 characters, or a read error";
    case cSoftPkgScenario::errFolderCycle: return "an Install folder links back into itself";
    case cSoftPkgScenario::errNulByte: return "a NUL byte in the line";
    case cSoftPkgScenario::errBadCodename: return "a code name with characters outside the safe set";
    default: return "unknown error";
    }
}

const char* langName(int lang) {
    const char* code = lang >= 0 ? ciLangID(lang) : nullptr;
    return code ? code : "?";
}

// The second line of an error: what exactly is wrong, when known.
std::string errorDetail(int code, const cSoftPkgScenario::sTextError& e) {
    using E = cSoftPkgScenario::sTextError;
    char buf[512];
    switch (code) {
    case 1:
        return e.error ? reason(e.error) : "";
    case 12:
    case 13:
    case 14: {
        const char* doc = code == 12 ? "licence agreement (eula)" : code == 13 ? "welcome document" : "readme document";
        std::snprintf(buf, sizeof buf, "the %s has no %s text: add a %s line to its index", doc, langName(e.lang),
                      langName(e.lang));
        return buf;
    }
    case 15:
        std::snprintf(buf, sizeof buf, "string id \"%s\" is not defined for %s: define %s.%s, or \"%s\" for every language",
                      e.id.c_str(), langName(e.lang), langName(e.lang), e.id.c_str(), e.id.c_str());
        return buf;
    case 19:
    case 20:
    case 21: {
        const std::string why = e.error ? ": " + reason(e.error) : "";
        if (e.docLine >= 0 && !e.message.empty()) {
            std::snprintf(buf, sizeof buf, "%s: line %d, column %d: %s", escapeForDisplay(e.file).c_str(),
                          e.docLine + 1, e.docColumn + 1, e.message.c_str());
            return buf + why;
        }
        if (!e.message.empty()) return escapeForDisplay(e.file) + ": " + e.message + why;
        return "";
    }
    case 7:
    case 23:
        if (e.part == E::partId && !e.id.empty()) {
            if (e.lang >= 0)
                std::snprintf(buf, sizeof buf, "the reference $%s is not defined for %s (define it before this line)",
                              e.id.c_str(), langName(e.lang));
            else
                std::snprintf(buf, sizeof buf, "the reference $%s is not a usable string id", e.id.c_str());
            return buf;
        }
        if (code == 7) return "";
        if (e.part == E::partId) return "the base folder (a $reference or a quoted text) is missing or malformed";
        if (e.part == E::partSubPath && !e.subPath.empty())
            return "the sub path \"" + escapeForDisplay(e.subPath) + "\" is absolute or climbs out of its folder with \"..\"";
        if (e.part == E::partSubPath) return "the quoted sub path after the base folder is missing or malformed";
        if (e.part == E::partNoName)
            return "the sub path \"" + escapeForDisplay(e.subPath) +
                   "\" names no file below its base folder: give the file a name inside it";
        return "";
    case 26:
        if (e.file.empty()) return "";
        if (e.error == 0) return "\"" + escapeForDisplay(e.file) + "\" is neither a regular file nor a folder";
        return "cannot read \"" + escapeForDisplay(e.file) + "\": " + reason(e.error);
    case cSoftPkgScenario::errBadCodename:
        return "\"" + escapeForDisplay(e.id) + "\": use 1 to 64 letters, digits, '.', '_', '-' or '+', beginning with a letter or digit";
    default: return "";
    }
}

// ---------------------------------------------------------------------------
// Progress: on a terminal one line redrawn up to ten times a second, never
// wider than the terminal; to a pipe or a file a plain line at most once a
// second, and the last one.

std::string mib(unsigned long long bytes) {
    char buf[32];
    if (bytes < 1024)
        std::snprintf(buf, sizeof buf, "%llu B", bytes);
    else if (bytes < 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return buf;
}

std::string timeLeft(double seconds) {
    char buf[48];
    if (seconds < 0) return "time left unknown";
    const long s = static_cast<long>(seconds + 0.5);
    if (s >= 60)
        std::snprintf(buf, sizeof buf, "%ld min %ld s left", s / 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld s left", s);
    return buf;
}

// The columns of the terminal on standard output: its own word, else
// $COLUMNS, else the classic 80.
std::size_t terminalColumns() {
    struct winsize ws;
    if (::ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    const char* env = std::getenv("COLUMNS");
    char* end = nullptr;
    const long n = env ? std::strtol(env, &end, 10) : 0;
    if (env && *env && end && *end == 0 && n > 0 && n < 100000) return static_cast<std::size_t>(n);
    return 80;
}

// A progress line from its parts, none wider than `width` columns (0: any
// width): the head (what and its items) and the tail (share and time left)
// always, then as many of the middle parts, most telling first, as fit; a
// width too narrow for head and tail cuts the line.  The parts are ASCII,
// one column a byte.
std::string fitLine(const std::string& head, const std::vector<std::string>& middle, const std::string& tail,
                    std::size_t width) {
    std::size_t keep = middle.size();
    auto build = [&] {
        std::string line = head;
        for (std::size_t i = 0; i < keep; ++i) line += ", " + middle[i];
        return line + tail;
    };
    std::string line = build();
    while (width && line.size() > width && keep > 0) {
        --keep;
        line = build();
    }
    if (width && line.size() > width) line.resize(width);
    return line;
}

// The hooks a test sets (see the top of this file).
struct sTestHooks {
    bool everyStep = false;
    bool stopBeforeCheck = false;
    std::string stopIn;

    static sTestHooks fromEnvironment() {
        sTestHooks h;
        const char* env = std::getenv("PKGMAKE_TEST_HOOKS");
        std::string rest = env ? env : "";
        while (!rest.empty()) {
            if (rest.compare(0, 8, "stop-in:") == 0) {
                h.stopIn = rest.substr(8);
                break;
            }
            const std::size_t comma = rest.find(',');
            const std::string item = rest.substr(0, comma);
            h.everyStep |= item == "lines";
            h.stopBeforeCheck |= item == "stop-before-check";
            rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
        }
        return h;
    }
};
sTestHooks gHooks;

// Standard output closed under us (a reader that went away), or closed
// before we began: nothing more is written there, and the exit code says
// so.
bool gStdoutGone = false;
// A progress line drawn on the terminal and not yet ended by a newline; an
// interrupt ends it, so the shell's prompt starts on a line of its own.
volatile sig_atomic_t gLineOpen = 0;

// Writes standard output's buffer out; false once it can no longer be
// written.
bool flushStdout() {
    if (gStdoutGone) return false;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) gStdoutGone = true;
    return !gStdoutGone;
}

class cProgressLine : public cPayloadObserver {
public:
    // itemsExpected: the items a payload being verified is known to hold (0:
    // not known until its table has passed).
    cProgressLine(const char* what, bool verifying, unsigned itemsExpected = 0)
        : what_(what), verifying_(verifying), itemsExpected_(itemsExpected), tty_(isatty(1) == 1) {
        start_ = std::chrono::steady_clock::now();
    }
    ~cProgressLine() override { endLine(); }

    void onPayloadProgress(const sPayloadProgress& p) override {
        std::lock_guard<std::mutex> l(m_);
        last_ = p;
        // The payload's pages go to the disk as they are written, not all
        // at once when it is flushed at the end: that wait would be a silent
        // gap before the last line.
        if (writeBehindFd_ >= 0 && p.packedDone >= writtenBehind_ + kWriteBehindStep) {
            ::sync_file_range(writeBehindFd_, 0, 0, SYNC_FILE_RANGE_WRITE);
            writtenBehind_ = p.packedDone;
        }
        step();
    }
    // Packing: a piece of a file to pack was read, on any thread.  The
    // reading is part of the work: a large file is hashed whole before its
    // bytes go into the payload, which would otherwise be a stall.
    void onFileRead(unsigned long long bytes) {
        std::lock_guard<std::mutex> l(m_);
        read_ += bytes;
        step();
    }
    // Packing: the bytes of files that will be read in all (see onFileRead).
    void expectReading(unsigned long long bytes) { readTotal_ = bytes; }
    // The final line, always shown.
    void done() {
        std::lock_guard<std::mutex> l(m_);
        show(elapsed(), true);
    }
    // Packing: start writing the payload's pages out as it grows.
    void writeBehind(int fd) { writeBehindFd_ = fd; }
    // Ends a line left open on the terminal (the run failed midway).
    void endLine() {
        if (!gLineOpen) return;
        gLineOpen = 0;
        std::printf("\n");
        flushStdout();
    }

    // No estimate until the work has moved for this long: the first second
    // of a run (threads starting, a large file hashed before its bytes are
    // packed) says little of its rate.
    static constexpr double kFirstEstimate = 3.0;

private:
    // Under m_.
    void step() {
        const double now = elapsed();
        estimate_.add(now, shareOf(last_));
        // The first line too waits for the gap: a short run shows its last
        // line alone.
        const double gap = gHooks.everyStep ? 0.0 : tty_ ? 0.1 : 1.0;
        if (now - shownAt_ < gap) return;
        show(now, false);
    }
    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    double shareOf(const sPayloadProgress& p) const {
        if (!verifying_) {
            // Packing: the body deflated and the files read.
            const double all = static_cast<double>(p.plainTotal) + static_cast<double>(readTotal_);
            const double done = static_cast<double>(p.plainDone) + static_cast<double>(std::min(read_, readTotal_));
            return all > 0 ? std::min(1.0, done / all) : 1.0;
        }
        // Reading back, the items' check follows the inflating: its size is
        // taken as the body's until the table is read, and its bytes count a
        // quarter (hashing is that much faster than inflating), so that the
        // share only grows and the time left holds.
        const double check = static_cast<double>(p.checkedTotal ? p.checkedTotal : p.plainTotal);
        const double all = static_cast<double>(p.plainTotal) + check / 4;
        const double done = static_cast<double>(p.plainDone) + static_cast<double>(p.checkedDone) / 4;
        return all > 0 ? std::min(1.0, done / all) : 1.0;
    }
    void show(double now, bool last) {
        if (gStdoutGone) return;
        const sPayloadProgress& p = last_;
        // 100% only with the last line: when packing, that comes once the
        // file is flushed, which the bytes do not tell.
        const unsigned percent = last ? 100u : std::min(99u, static_cast<unsigned>(shareOf(p) * 100.0));
        const double left =
            last ? 0.0 : estimate_.secondsMoving() >= kFirstEstimate ? estimate_.secondsLeft() : -1.0;
        // A payload checked as a stream tells its item total at the end.
        const unsigned itemsTotal = p.itemsTotal ? p.itemsTotal : itemsExpected_;
        std::string head = std::string(what_) + ": items " + std::to_string(p.items);
        if (itemsTotal || !verifying_ || last) head += "/" + std::to_string(itemsTotal);
        std::vector<std::string> middle;
        if (verifying_) {
            middle = {"read " + mib(p.packedDone) + " of " + mib(p.packedTotal),
                      "inflated " + mib(p.plainDone) + " of " + mib(p.plainTotal),
                      "checked " + mib(p.checkedDone) + " of " + mib(p.checkedTotal)};
        } else {
            middle = {"read " + mib(p.plainDone) + " of " + mib(p.plainTotal), "written " + mib(p.packedDone)};
        }
        char tail[64];
        std::snprintf(tail, sizeof tail, ", %u%%, ", percent);
        if (tty_) {
            // One column short of the width: a line that fills the last
            // column leaves some terminals on the next line.
            const std::size_t columns = terminalColumns();
            const std::string line = fitLine(head, middle, tail + timeLeft(left), columns > 1 ? columns - 1 : 1);
            std::printf("\r%s\x1b[K%s", line.c_str(), last ? "\n" : "");
            gLineOpen = !last;
        } else {
            std::printf("%s\n", fitLine(head, middle, tail + timeLeft(left), 0).c_str());
        }
        flushStdout();
        shownAt_ = now;
    }

    const char* what_;
    bool verifying_;
    unsigned itemsExpected_;
    bool tty_;
    std::chrono::steady_clock::time_point start_;
    // Progress comes from the saving thread and, for the files read, from
    // the workers.
    std::mutex m_;
    sPayloadProgress last_;
    unsigned long long read_ = 0, readTotal_ = 0;
    double shownAt_ = 0;
    cTimeLeftEstimator estimate_;
    static constexpr unsigned long long kWriteBehindStep = 32ull << 20;
    int writeBehindFd_ = -1;
    unsigned long long writtenBehind_ = 0;
};

// ---------------------------------------------------------------------------
// Interruption: the output being written is dropped, the old one stays.

cReplacementFile* gOutput = nullptr;
int gThreads = 0;

extern "C" void onInterrupt(int sig) {
    if (gOutput) {
        const char* pending = gOutput->pendingPath();
        if (pending) ::unlink(pending);
    }
    if (gLineOpen) {
        gLineOpen = 0;
        const ssize_t ignored = ::write(1, "\n", 1);
        (void)ignored;
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
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

const char* faceName(int face) {
    const char* name = siDocFaceName(face);
    return name ? name : "?";
}

// The fonts a document uses, as its table lists them: "Verdana 8x20 bold".
// (The compiler had the platform make each font of a box; the fonts are
// not made again here.)
std::string fontsOf(const cSiDocLoader& loader) {
    std::string out;
    for (int id = 0;; ++id) {
        const cSiDocLoader::sIntFontDef* f = loader.fontDef(id);
        if (!f) break;
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s%s %dx%d%s%s%s", out.empty() ? "" : ", ", faceName(f->face), f->width,
                      f->height, f->bold ? " bold" : "", f->italic ? " italic" : "", f->underline ? " underline" : "");
        out += buf;
    }
    return out;
}

// A payload's fault in one line, its paths escaped as the listing shows
// names.
std::string faultText(sPayloadFault fault, const std::string& file) {
    fault.path = escapeForDisplay(fault.path);
    std::string text = describePayloadFault(fault, escapeForDisplay(file));
    // A limit of the process behind the system's reason is named after it.
    const bool noMemory = fault.cause == sPayloadFault::noMemory;
    const std::string why = fault.error ? std::strerror(fault.error) : "";
    if (noMemory)
        text += limitNote(ENOMEM);
    else if (!why.empty() && text.size() >= why.size() && text.compare(text.size() - why.size(), why.size(), why) == 0)
        text += limitNote(fault.error);
    return text;
}

// A destination as the path the system makes of it ("dir//z.txt" and
// "x/../dir/z.txt" are "dir/z.txt"): what an installer writes.
cSoftPkgScenario::sPathDef normalDef(const cSoftPkgScenario::sPathDef& d) {
    return {d.id, cSoftPkgScenario::normalSubPath(d.sub)};
}

// Where the file entries of item i go, for a message: "<folder>/..." for
// each, or nothing when no entry installs it.
std::string destinationsOf(cSoftPkgScenario& s, long long i) {
    s.setStr(-1, "pgm", "<folder>");
    std::string out;
    for (const auto& f : s.fileEntries()) {
        std::string dest;
        if (f.item != i || !s.defToPath(normalDef(f.dest), dest)) continue;
        out += (out.empty() ? " -> " : ", ") + escapeForDisplay(dest);
    }
    return out;
}

// The end of a check: 0, or 2 when the payload does not verify, said with
// `shown` naming it and, for an item that does not match or that damage
// lies in, where that item goes.
int checkOutcome(bool ok, sPayloadOptions& options, const std::string& shown, cSoftPkgScenario& back,
                 cProgressLine& progress) {
    if (!ok) {
        std::string text = faultText(options.fault, shown);
        if (options.fault.item >= 0) text += destinationsOf(back, options.fault.item);
        progress.endLine();
        std::fprintf(stderr, "error: %s\n", text.c_str());
        return 2;
    }
    progress.done();
    return 0;
}

// Reads a payload back from src as an installer would, checking every item
// on the way, into `back`.  0, or 2 when it does not verify (`shown` names
// it).  The payload streams through: no more of it is held than its
// scenario's texts and documents and a record of each item.
int verifyPayload(cFileIOTarget* src, const std::string& shown, unsigned itemsExpected, cSoftPkgScenario& back) {
    cProgressLine progress("verifying", true, itemsExpected);
    sPayloadOptions options;
    options.observer = &progress;
    options.threads = gThreads;
    const bool ok = verifyPayloadStream(src, true, back, options);
    return checkOutcome(ok, options, shown, back, progress);
}

// What a verified payload holds, as an installer will show it, and "ok".
void showPackage(cSoftPkgScenario& back) {
    cSoftPkg& items = back.package();
    std::vector<int> langs;
    back.getSupportedLangs(langs);
    if (!langs.empty()) back.setCurrLangID(langs[0]);
    std::string version;
    back.getStrVer(version, true);
    const char* name = back.getStr("name");
    const char* codename = back.getStr("codename");
    std::printf("package: %s (%s)\n", escapeForDisplay(name ? name : "").c_str(),
                escapeForDisplay(codename ? codename : "").c_str());
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
        const std::string fonts = fontsOf(d.doc.loader);
        std::printf("%s%s\n", fonts.empty() ? "" : ", fonts: ", fonts.c_str());
    }
    if (back.readme_needs_accept()) std::printf("the readme must be accepted\n");
    back.setStr(-1, "pgm", "<folder>");
    std::printf("items: %u\n", items.count());
    for (const auto& f : back.fileEntries()) {
        std::string dest;
        back.defToPath(normalDef(f.dest), dest);
        unsigned char d[32];
        items.digest(static_cast<int>(f.item), d);
        std::printf("  #%u %llu bytes sha256 %s -> %s\n", f.item, items.sizeOf(static_cast<int>(f.item)),
                    hexOf(d, 32).c_str(), escapeForDisplay(dest).c_str());
    }
    std::printf("ok\n");
}

// --check: the payload at path read back and shown.
int checkPayload(const std::string& path) {
    cFileIO in;
    errno = 0;
    if (!in.open(path.c_str(), fmRead)) {
        std::fprintf(stderr, "error: cannot open %s: %s\n", escapeForDisplay(path).c_str(),
                     std::strerror(errno ? errno : EIO));
        return 2;
    }
    cSoftPkgScenario back;
    const int rc = verifyPayload(&in, path, 0, back);
    if (rc == 0) showPackage(back);
    return rc;
}

// ---------------------------------------------------------------------------
// What the compiler left out or found lacking, said before packing.

const char* leftOutWhy(const cSoftPkgScenario::sLeftOut& e) {
    switch (e.why) {
    case cSoftPkgScenario::loDanglingLink: return "dangling symbolic link";
    case cSoftPkgScenario::loLinkLoop: return "symbolic link loop";
    case cSoftPkgScenario::loFifo: return "FIFO";
    case cSoftPkgScenario::loSocket: return "socket";
    case cSoftPkgScenario::loDevice: return "device";
    case cSoftPkgScenario::loEmptyFolder: return "empty folder";
    case cSoftPkgScenario::loVanished: return "vanished while read";
    case cSoftPkgScenario::loUnreadable: return "status unreadable";
    case cSoftPkgScenario::loLinkBack: return "symbolic link back into a folder being packed";
    case cSoftPkgScenario::loLinkAbove: return "symbolic link to a folder above the one being packed";
    default: return "not a file or folder";
    }
}

// Every entry the Install folders' walk left out, and how many.
void warnLeftOut(const cSoftPkgScenario& s) {
    const auto& left = s.leftOut();
    for (const auto& e : left) {
        if (e.why == cSoftPkgScenario::loUnreadable)
            std::fprintf(stderr, "warning: %s: skipped (%s: %s)\n", escapeForDisplay(e.path).c_str(), leftOutWhy(e),
                         std::strerror(e.error));
        else
            std::fprintf(stderr, "warning: %s: skipped (%s)\n", escapeForDisplay(e.path).c_str(), leftOutWhy(e));
    }
    if (!left.empty())
        std::fprintf(stderr, "warning: %zu %s of the Install folders skipped: only regular files are packed\n",
                     left.size(), left.size() == 1 ? "entry" : "entries");
}

// Menu entries, the icon and Run entries that point into the installation
// folder at something no item installs.
void warnMissingTargets(const cSoftPkgScenario& s, const std::string& shownPath) {
    using M = cSoftPkgScenario::sMissingTarget;
    for (const M& m : s.missingTargets()) {
        std::string what;
        const char* title = nullptr;
        switch (m.what) {
        case M::icon: what = "the icon"; break;
        case M::menuTarget:
        case M::menuIcon:
            title = s.getStr(s.menuEntries()[static_cast<std::size_t>(m.entry)].title.c_str());
            what = std::string("the menu entry \"") + escapeForDisplay(title ? title : "") + "\" " +
                   (m.what == M::menuTarget ? "points at" : "has its icon at");
            break;
        case M::runProgram:
            title = s.getStr(s.runEntries()[static_cast<std::size_t>(m.entry)].label.c_str());
            what = std::string("the Run entry \"") + escapeForDisplay(title ? title : "") + "\" starts";
            break;
        }
        std::string langs;
        for (int l : m.langs) langs += std::string(langs.empty() ? " (in " : " ") + langName(l);
        if (!langs.empty()) langs += ")";
        std::fprintf(stderr, "warning: %s: %s <folder>/%s, which no item installs%s\n",
                     escapeForDisplay(shownPath).c_str(), what.c_str(), escapeForDisplay(m.subPath).c_str(),
                     langs.c_str());
    }
}

// Where a destination installs, as the listing shows it: "<folder>/..."
// inside the installation folder.
std::string shownDestination(const cSoftPkgScenario& s, const cSoftPkgScenario::sPathDef& d) {
    std::string base;
    if (d.id == "pgm") {
        base = "<folder>";
    } else if (!d.id.empty()) {
        const char* text = s.getStr(d.id.c_str());
        base = text ? text : "";
    }
    const std::string sub = cSoftPkgScenario::normalSubPath(d.sub);
    if (base.empty() || sub.empty()) return escapeForDisplay(base + sub);
    return escapeForDisplay(base + (base.back() == '/' ? "" : "/") + sub);
}

// What the compile took as written though it loses something, with the
// scenario's lines.
void warnTextWarnings(const cSoftPkgScenario& s, const std::string& shownPath) {
    using W = cSoftPkgScenario::sTextWarning;
    const std::string file = escapeForDisplay(shownPath);
    for (const W& w : s.textWarnings()) {
        const std::string source = escapeForDisplay(w.source), other = escapeForDisplay(w.otherSource);
        std::string text;
        switch (w.what) {
        case W::sameDestination:
            if (w.count == 1) {
                text = source + " and " + other + " (line " + std::to_string(w.otherLine + 1) +
                       ") are both installed as " + shownDestination(s, w.dest) + ": one of them is lost";
            } else {
                text = std::to_string(w.count) + " files are installed where line " + std::to_string(w.otherLine + 1) +
                       " installs files too (the first: " + source + " and " + other + " as " +
                       shownDestination(s, w.dest) + "): one of each pair is lost";
            }
            break;
        case W::sameFile:
            if (w.count == 1) {
                text = source + " and " + other + " (line " + std::to_string(w.otherLine + 1) +
                       ") are both installed as " + shownDestination(s, w.dest) +
                       " with the same bytes and mode: it is packed twice";
            } else {
                text = std::to_string(w.count) + " files are installed where line " + std::to_string(w.otherLine + 1) +
                       " installs the same bytes with the same mode (the first: " + source + " and " + other +
                       " as " + shownDestination(s, w.dest) + "): each is packed twice";
            }
            break;
        case W::modeNotRecorded:
            if (w.count == 1)
                text = source + " is executable";
            else
                text = std::to_string(w.count) + " files are executable (the first: " + source + ")";
            text += ", but the line gives no permission digits: " +
                    std::string(w.count == 1 ? "it is" : "they are") +
                    " recorded without a mode (give digits such as 755)";
            break;
        case W::versionCut:
            text = "the version \"" + escapeForDisplay(w.text) + "\" is read as " + w.kept + ": \"" +
                   escapeForDisplay(w.dropped) + "\" is dropped";
            if (std::count(w.kept.begin(), w.kept.end(), '.') == 3) text += " (a version has at most four parts)";
            break;
        case W::repeatedKey:
            text = "\"" + escapeForDisplay(w.text) + "\" is given again (first on line " +
                   std::to_string(w.otherLine + 1) + "): the earlier value is dropped";
            break;
        case W::outsideFolder: {
            const std::string as = source + " as " + shownDestination(s, w.dest);
            text = w.count == 1 ? source + " is installed outside the installation folder, as " +
                                      shownDestination(s, w.dest)
                                : std::to_string(w.count) +
                                      " files are installed outside the installation folder (the first: " + as + ")";
            // The base: a string id by its name and text, a quoted one by
            // its text.
            const std::string quoted = "\"" + escapeForDisplay(w.text) + "\"";
            const std::string base = w.dest.id.empty() || w.dest.id[0] == '.' ? quoted : "$" + w.dest.id + " (" + quoted + ")";
            const bool climbs = ("/" + w.text + "/").find("/../") != std::string::npos;
            text += ": its base " + base +
                    (w.text.empty() ? " is empty: the path is taken from the installer's current folder"
                     : climbs      ? " climbs with \"..\""
                     : w.text[0] == '/' ? " is an absolute folder"
                                        : " is relative: the path is taken from the installer's current folder");
            break;
        }
        case W::caseOnly: {
            const std::string ours = shownDestination(s, w.dest), theirs = shownDestination(s, w.otherDest);
            text = w.count == 1 ? source + " and " + other + " (line " + std::to_string(w.otherLine + 1) +
                                      ") are installed as " + ours + " and " + theirs
                                : std::to_string(w.count) + " files are installed where line " +
                                      std::to_string(w.otherLine + 1) +
                                      " installs files whose paths differ only in letter case (the first: " + source +
                                      " as " + ours + " and " + other + " as " + theirs + ")";
            text += ", which differ only in letter case: on a volume that ignores case (as macOS's do) one of " +
                    std::string(w.count == 1 ? "them" : "each pair") + " is lost";
            break;
        }
        }
        std::fprintf(stderr, "warning: %s: line %d: %s\n", file.c_str(), w.line + 1, text.c_str());
    }
}

// The output must be none of the files the compile read or will pack, and
// lie in none of the folders it packs: the payload would take the place of
// the user's own file.  Told apart by device and inode, so that another
// name, a hard link or a symbolic link to an input counts as the input.
// outPath is the file the output's path (given) leads to.
bool overwritesInput(const cSoftPkgScenario& s, const std::string& given, const std::string& outPath) {
    static const char* const kinds[] = {"the scenario", "a document source", "a file to pack", "a folder to pack"};
    auto refuse = [&](const cSoftPkgScenario::sInput& in, const char* how) {
        std::fprintf(stderr, "error: the output %s %s %s %s: choose another output\n",
                     escapeForDisplay(given).c_str(), how, kinds[in.kind], escapeForDisplay(absolute(in.path)).c_str());
        return true;
    };
    struct stat st;
    cSoftPkgScenario::sInput in;
    if (::stat(outPath.c_str(), &st) == 0 &&
        s.findInput(static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), in))
        return refuse(in, "is");
    // Its folder and every folder above it, as they really are.
    const std::size_t slash = outPath.rfind('/');
    char* real = ::realpath(outPath.substr(0, slash == 0 ? 1 : slash).c_str(), nullptr);
    if (!real) return false;  // no such folder: writing fails with its own message
    std::string folder = real;
    std::free(real);
    for (;;) {
        if (::stat(folder.c_str(), &st) == 0 &&
            s.findInput(static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), in, true))
            return refuse(in, "lies inside");
        if (folder == "/") return false;
        const std::size_t up = folder.rfind('/');
        folder = up == 0 ? "/" : folder.substr(0, up);
    }
}

// The usage, to standard error for a misuse (exit 3), to standard output
// when asked for (exit 0).
int usage(const char* self, bool asked = false) {
    std::fprintf(asked ? stdout : stderr,
                 "usage: %s [--threads N] <scenario.txt> <output.data>\n"
                 "       %s [--threads N] --no-check <scenario.txt> <output.data>\n"
                 "       %s [--threads N] --check <payload.data>\n",
                 self, self, self);
    return asked ? 0 : 3;
}

// Standard output closed before the end turns a success into 4.
int finish(int rc) {
    flushStdout();
    return rc == 0 && gStdoutGone ? 4 : rc;
}

// Descriptors 0, 1 and 2 open before anything else is: a file of ours that
// took one of them would get what is meant for that stream (progress lines
// written into the payload).  A closed one is opened on /dev/null.  True
// when standard output was closed; false when /dev/null cannot be opened.
bool openStandardStreams(bool& stdoutClosed) {
    stdoutClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one.
        const int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (got != fd) {
            if (got >= 0) ::close(got);
            return false;
        }
        if (fd == 1) stdoutClosed = true;
    }
    return true;
}

// The command line: [--threads N] [--no-check | --check] and the paths, the
// options before or among the paths ("--" ends them).
struct sArguments {
    int threads = 0;
    bool noCheck = false, checkOnly = false, help = false;
    std::vector<std::string> paths;

    bool parse(int argc, char** argv) {
        bool options = true;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (options && a == "--") {
                options = false;
            } else if (options && a == "--threads") {
                if (++i == argc || !threadCount(argv[i])) return false;
            } else if (options && a == "--no-check" && !noCheck) {
                noCheck = true;
            } else if (options && a == "--check" && !checkOnly) {
                checkOnly = true;
            } else if (options && (a == "--help" || a == "-h")) {
                help = true;
            } else if (options && a.size() > 1 && a[0] == '-') {
                return false;  // an unknown or repeated option
            } else if (a.empty()) {
                return false;
            } else {
                paths.push_back(a);
            }
        }
        // Asked for alone: words after it are a misuse, not a question.
        if (help) return argc == 2;
        if (noCheck && checkOnly) return false;
        return paths.size() == (checkOnly ? 1u : 2u);
    }

private:
    // 1 to 1024 worker threads, in digits.
    bool threadCount(const char* text) {
        if (threads) return false;
        long n = 0;
        for (const char* p = text; *p; ++p) {
            if (*p < '0' || *p > '9' || n > 1024) return false;
            n = n * 10 + (*p - '0');
        }
        if (!*text || n < 1 || n > 1024) return false;
        threads = static_cast<int>(n);
        return true;
    }
};

const char* kindOf(const struct stat& st) {
    const mode_t mode = st.st_mode;
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    // The terminal a standard stream is on, however it is named.
    if (S_ISCHR(mode))
        for (int fd = 0; fd <= 2; ++fd) {
            struct stat stream;
            if (::isatty(fd) && ::fstat(fd, &stream) == 0 && stream.st_rdev == st.st_rdev) return "a terminal";
        }
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "a file of another kind";
}

// What a refused output or a failed write says: the rule that refused it,
// or the system's reason.
std::string refusalOr(const cReplacementFile& out, int error) {
    return *out.refusal() ? std::string(out.refusal()) : reason(error ? error : EIO);
}

// The output looked at before any work: the file to replace (an output
// that is a symbolic link has its target replaced, and the link kept, when
// the link is one to follow), a regular file or none yet, in a folder that
// can take a new file.  0, or the exit code once the cause is said.
int prepareOutput(const std::string& given, std::string& target) {
    const std::string shown = escapeForDisplay(given);
    _guardchar<char> resolved;
    std::string refusal;
    if (!resolveLinks(given.c_str(), resolved, &refusal)) {
        std::fprintf(stderr, "error: cannot write %s: %s\n", shown.c_str(),
                     refusal.empty() ? std::strerror(errno) : refusal.c_str());
        return 2;
    }
    target = resolved.c_str();
    struct stat st;
    const bool exists = ::lstat(target.c_str(), &st) == 0;
    const int lookError = errno;
    if (exists && !S_ISREG(st.st_mode)) {
        const std::string as = target == given ? "" : " (through its links, " + escapeForDisplay(target) + ")";
        std::fprintf(stderr, "error: the output %s%s is %s, not a regular file: choose another output\n",
                     shown.c_str(), as.c_str(), kindOf(st));
        return 1;
    }
    // Links of the system's own that lead to no path (/dev/stdout on a
    // pipe, /proc/self/fd/1): what the system reaches through them tells.
    if (!exists && ::stat(given.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        const char* kind = S_ISFIFO(st.st_mode) ? "a pipe" : S_ISSOCK(st.st_mode) ? "a socket" : kindOf(st);
        std::fprintf(stderr, "error: the output %s is %s, not a regular file: choose another output\n", shown.c_str(),
                     kind);
        return 1;
    }
    // A name the folder cannot hold (too long) fails now, not after all
    // the packing.
    if (!exists && lookError != ENOENT) {
        std::fprintf(stderr, "error: cannot write %s: %s\n", shown.c_str(), reason(lookError).c_str());
        return 2;
    }
    // The folder must take a new file now, not only after all the packing,
    // and the file there must be one to replace: a temporary one is made
    // and dropped.
    cReplacementFile probe;
    errno = 0;
    if (!probe.begin(target.c_str())) {
        std::fprintf(stderr, "error: cannot write %s: %s\n", escapeForDisplay(target).c_str(),
                     refusalOr(probe, errno).c_str());
        return 2;
    }
    probe.abandon();
    // Temporary files that runs killed before their end left beside it: a
    // payload's start, or nothing, in a file of ours no run holds.  Anything
    // else so named is another's, or no leftover of a run: it stays, and is
    // named (a running run's own is neither).
    std::vector<cReplacementFile::sLeftover> found;
    cReplacementFile::removeStaleTemporaries(target.c_str(), sPayloadHeader::kMagic, sPayloadHeader::kMagicSize, found);
    for (const auto& l : found) {
        if (l.inUse) continue;
        if (l.removed)
            std::fprintf(stderr, "warning: removed %s, left by a run on %s that did not end\n",
                         escapeForDisplay(l.path).c_str(), shown.c_str());
        else
            std::fprintf(stderr, "warning: kept %s, named like a temporary file of a run on %s: %s\n",
                         escapeForDisplay(l.path).c_str(), shown.c_str(), l.kept.c_str());
    }
    return 0;
}

// A file to pack over the format's limit: named, with its size.
int tooLargeFile(const std::string& shownPath, int line, const std::string& file) {
    struct stat st;
    const unsigned long long size = ::stat(file.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
    std::fprintf(stderr,
                 "error: %s: line %d: %s holds %llu bytes (%.1f GiB); a payload holds files of at most "
                 "4294967295 bytes (4 GiB)\n",
                 escapeForDisplay(shownPath).c_str(), line + 1, escapeForDisplay(file).c_str(), size,
                 static_cast<double>(size) / (1024.0 * 1024.0 * 1024.0));
    return 2;
}

// Stops the process where a test asked (see the top of this file).
void stopForTest() { ::raise(SIGSTOP); }

// Puts the payload in its place; false once the reason is said.
bool putInPlace(cReplacementFile& out, const std::string& outPath) {
    struct stat written;
    const bool known = ::fstat(static_cast<int>(out.descriptor()), &written) == 0;
    errno = 0;
    if (out.commit()) return true;
    const int error = errno ? errno : EIO;
    // In place, but its folder could not be flushed: a crash may undo it.
    struct stat now;
    if (known && ::stat(outPath.c_str(), &now) == 0 && now.st_dev == written.st_dev && now.st_ino == written.st_ino) {
        std::fprintf(stderr, "error: the payload is in place as %s, but its folder could not be flushed to disk: %s\n",
                     escapeForDisplay(outPath).c_str(), reason(error).c_str());
        return false;
    }
    std::fprintf(stderr, "error: cannot put the payload in place as %s: %s\n", escapeForDisplay(outPath).c_str(),
                 refusalOr(out, error).c_str());
    return false;
}

// The payload's file shared by its writer and the check beside it: the
// writes go through to the file and say how far its bytes stand; the check
// reads them back through the same descriptor (pread), each once it has been
// written, and waits for the rest.  Past the header the body is written in
// order and never again, so what is read is what stays written; the header
// is read once the writer has ended, when its sizes and digest are in.
class cCheckedOutput : public cFileIOTarget {
public:
    explicit cCheckedOutput(cReplacementFile& out) : out_(out), fd_(static_cast<int>(out.descriptor())) {}

    // Writing, on the saving thread.
    long long size() override { return out_.size(); }
    unsigned int read(void* buf, unsigned int n) override { return out_.read(buf, n); }
    unsigned int write(void* buf, unsigned int n) override {
        const long long at = out_.get_fp();
        const unsigned int put = out_.write(buf, n);
        if (at >= 0 && transferred(put, n)) {
            {
                std::lock_guard<std::mutex> l(m_);
                written_ = std::max(written_, static_cast<unsigned long long>(at) + put);
            }
            moved_.notify_all();
        }
        return put;
    }
    bool set_fp(unsigned long long pos) override { return out_.set_fp(pos); }
    long long get_fp() override { return out_.get_fp(); }
    bool set_fp_end(unsigned long long n) override { return out_.set_fp_end(n); }
    bool set_eof(unsigned long long length) override { return out_.set_eof(length); }
    void close() override {}
    bool valid() override { return out_.valid(); }

    // The writer has ended (ok: with the whole payload); wakes the check.
    void end(bool ok) {
        {
            std::lock_guard<std::mutex> l(m_);
            ended_ = true;
            ok_ = ok;
        }
        moved_.notify_all();
    }
    // The body's size, announced as the writing starts (0 when the writer
    // ended first); on the check's thread.
    unsigned long long bodySize() {
        std::unique_lock<std::mutex> l(m_);
        moved_.wait(l, [&] { return ended_ || body_ != 0; });
        return body_;
    }
    void announce(unsigned long long body) {
        {
            std::lock_guard<std::mutex> l(m_);
            if (body_ == 0) body_ = body;
        }
        moved_.notify_all();
    }
    // Holds the check back until release() (a test's hook: the check then
    // reads the payload only once it is written).
    void holdCheck() { hold_ = true; }
    void release() {
        {
            std::lock_guard<std::mutex> l(m_);
            hold_ = false;
        }
        moved_.notify_all();
    }

    // The check's side: the bytes from `from` on, as they are written.
    class cReader : public cFileIOTarget {
    public:
        cReader(cCheckedOutput& o, unsigned long long from) : o_(o), at_(from) {}
        long long size() override { return -1; }
        unsigned int read(void* buf, unsigned int n) override {
            unsigned long long have;
            {
                std::unique_lock<std::mutex> l(o_.m_);
                o_.moved_.wait(l, [&] { return !o_.hold_ && (o_.ended_ || o_.written_ > at_); });
                have = o_.written_ > at_ ? o_.written_ - at_ : 0;
            }
            if (have == 0) return 0;
            const size_t want = static_cast<size_t>(std::min<unsigned long long>(n, have));
            ssize_t got;
            do {
                got = ::pread(o_.fd_, buf, want, static_cast<off_t>(at_));
            } while (got < 0 && errno == EINTR);
            if (got < 0) return kIOFailed;
            at_ += static_cast<unsigned long long>(got);
            return static_cast<unsigned int>(got);
        }
        bool set_fp(unsigned long long pos) override {
            at_ = pos;
            return true;
        }
        long long get_fp() override { return static_cast<long long>(at_); }
        bool set_fp_end(unsigned long long) override { return false; }
        bool set_eof(unsigned long long) override { return false; }
        void close() override {}
        bool valid() override { return true; }

    private:
        cCheckedOutput& o_;
        unsigned long long at_;
    };

    // The header as written, once the writer has ended with the whole
    // payload; `have` is what follows it.  False when the writer failed.
    bool header(unsigned char (&head)[sPayloadHeader::kSize], long long& have) {
        unsigned long long end;
        {
            std::unique_lock<std::mutex> l(m_);
            moved_.wait(l, [&] { return ended_ && !hold_; });
            if (!ok_) return false;
            end = written_;
        }
        ssize_t got;
        do {
            got = ::pread(fd_, head, sizeof head, 0);
        } while (got < 0 && errno == EINTR);
        if (got != static_cast<ssize_t>(sizeof head)) std::memset(head, 0, sizeof head);
        have = static_cast<long long>(end) - static_cast<long long>(sizeof head);
        return true;
    }

private:
    cReplacementFile& out_;
    const int fd_;
    std::mutex m_;
    std::condition_variable moved_;
    unsigned long long written_ = 0, body_ = 0;
    bool ended_ = false, ok_ = false, hold_ = false;
};

// The packing's progress, which also hands the body's size, once the
// writer knows it (as it starts, its workers running), to whoever starts
// the check beside it.
class cPackingObserver : public cPayloadObserver {
public:
    cPackingObserver(cProgressLine& line, std::function<void(unsigned long long)> onBody)
        : line_(line), onBody_(std::move(onBody)) {}
    void onPayloadProgress(const sPayloadProgress& p) override {
        if (onBody_ && p.plainTotal) {
            auto once = std::move(onBody_);
            onBody_ = nullptr;
            once(p.plainTotal);
        }
        line_.onPayloadProgress(p);
    }

private:
    cProgressLine& line_;
    std::function<void(unsigned long long)> onBody_;
};

// The check's progress, shown once the packing's line has gone: until then
// the packing's is the one line.  The packed bytes' total, which the check
// learns only from the header at the end, is the packing's by then.
class cLateObserver : public cPayloadObserver {
public:
    void onPayloadProgress(const sPayloadProgress& p) override {
        std::lock_guard<std::mutex> l(m_);
        last_ = p;
        if (line_) line_->onPayloadProgress(withTotal(p));
    }
    void show(cProgressLine* line, unsigned long long packedTotal = 0) {
        std::lock_guard<std::mutex> l(m_);
        line_ = line;
        packedTotal_ = packedTotal;
        if (line_) line_->onPayloadProgress(withTotal(last_));
    }

private:
    sPayloadProgress withTotal(sPayloadProgress p) const {
        if (p.packedTotal == 0) p.packedTotal = packedTotal_;
        return p;
    }
    std::mutex m_;
    sPayloadProgress last_;
    cProgressLine* line_ = nullptr;
    unsigned long long packedTotal_ = 0;
};

// Packs s into the output at outPath (its target), checks it beside the
// packing through the same descriptor unless !check, and puts it in place.
// A payload that fails is dropped as `out` goes (the old output stays).
int pack(cSoftPkgScenario& s, const std::string& outPath, bool check) {
    cReplacementFile out;
    errno = 0;
    if (!out.begin(outPath.c_str())) {
        std::fprintf(stderr, "error: cannot write %s: %s\n", escapeForDisplay(outPath).c_str(),
                     refusalOr(out, errno).c_str());
        return 2;
    }
    // The interrupt handler drops the file while it is ours.
    gOutput = &out;
    struct sReleased {
        ~sReleased() { gOutput = nullptr; }
    } released;
    long long payloadBytes = 0;

    // The check reads back, inflates and hashes each piece of the payload as
    // soon as it is written, on threads of its own beside the packing's; at
    // the end it takes the header and holds every size and digest against
    // what it read.  A test's hook holds it until the payload is written.
    cCheckedOutput checked(out);
    if (gHooks.stopBeforeCheck) checked.holdCheck();
    cSoftPkgScenario back;
    cLateObserver checkProgress;
    sPayloadOptions checkOptions;
    checkOptions.observer = &checkProgress;
    checkOptions.threads = gThreads;
    bool verified = false;
    const unsigned items = s.package().count();
    std::thread checker;
    // Every way out ends the check: a writer that failed ends its reading.
    struct sJoined {
        std::thread& t;
        cCheckedOutput& c;
        ~sJoined() {
            if (!t.joinable()) return;
            c.end(false);
            c.release();
            t.join();
        }
    } joined{checker, checked};
    auto runCheck = [&] {
        try {
            cCheckedOutput::cReader reader(checked, sPayloadHeader::kSize);
            verified = verifyPayloadAsWritten(
                &reader, checked.bodySize(),
                [&](unsigned char(&head)[sPayloadHeader::kSize], long long& have) { return checked.header(head, have); },
                back, checkOptions);
        } catch (const std::bad_alloc&) {
            checkOptions.fault.cause = sPayloadFault::noMemory;
            verified = false;
        }
    };
    // Started once the packing's workers run, so that a limit of processes
    // leaves the packing its threads: a check that finds none left runs
    // after the packing instead, on this thread.
    bool checkAfter = false;
    auto startCheck = [&](unsigned long long body) {
        checked.announce(body);
        try {
            checker = std::thread(runCheck);
        } catch (const std::system_error&) {
            checkAfter = true;
        }
    };
    {
        cProgressLine progress("packing", false);
        progress.writeBehind(static_cast<int>(out.descriptor()));
        cPackingObserver observer(progress, check ? std::function<void(unsigned long long)>(startCheck) : nullptr);
        sPayloadOptions options;
        options.observer = &observer;
        options.threads = gThreads;
        // Every file is read once, a larger one twice: first for its digest.
        unsigned long long reading = 0;
        cSoftPkg& pkg = s.package();
        for (std::uint32_t i = 0; i < pkg.count(); ++i) {
            const cSoftPkg::sPkgItem* it = pkg.itemInfo(static_cast<int>(i));
            if (it && it->isFile()) reading += it->sourceSize * (it->sourceSize > options.heldFileBytes ? 2 : 1);
        }
        progress.expectReading(reading);
        std::atomic<bool> stopped{false};
        options.onFilePiece = [&](const std::string& path, unsigned long long from, unsigned long long to) {
            progress.onFileRead(to - from);
            if (from == 0 && !gHooks.stopIn.empty() && path == gHooks.stopIn && !stopped.exchange(true))
                stopForTest();
        };
        errno = 0;
        bool ok = s.saveBinConfig(check ? static_cast<cFileIOTarget*>(&checked) : &out, options);
        // The writer names what failed; the header's own writes leave only
        // the system's reason.
        if (!ok && !options.fault && errno) {
            options.fault.cause = sPayloadFault::writeFailed;
            options.fault.error = errno;
        }
        // Flushed before it is put in place.
        if (ok && check && ::fdatasync(static_cast<int>(out.descriptor())) != 0) {
            options.fault.cause = sPayloadFault::writeFailed;
            options.fault.error = errno;
            ok = false;
        }
        if (ok && check) {
            // The scenario packed is done with, and let go before the check
            // (told below that the writer has ended) builds its own from the
            // payload: otherwise its record of every file would be held
            // twice over.  Its memory goes back to the system at once, as
            // the check's thread allocates from a heap of its own.
            s.close();
            ::malloc_trim(0);
        }
        checked.end(ok);
        if (!ok) {
            progress.endLine();
            std::fprintf(stderr, "error: %s\n", faultText(options.fault, outPath).c_str());
            return 2;
        }
        payloadBytes = out.size();
        // Without the check, the last line comes once the payload is on
        // disk and in its place.
        if (!check && !putInPlace(out, outPath)) {
            progress.endLine();
            return 2;
        }
        progress.done();
    }
    if (check) {
        if (gHooks.stopBeforeCheck) {
            stopForTest();
            checked.release();
        }
        cProgressLine verifying("verifying", true, items);
        checkProgress.show(&verifying, static_cast<unsigned long long>(payloadBytes) - sPayloadHeader::kSize);
        if (checkAfter) runCheck();
        if (checker.joinable()) checker.join();
        checkProgress.show(nullptr);
        // A fault is the new payload's, not the old output's (left as it was).
        const char* pending = out.pendingPath();
        const std::string shown = pending ? std::string(pending) : "the new payload for " + outPath;
        if (const int rc = checkOutcome(verified, checkOptions, shown, back, verifying)) return rc;
        // One that does not verify never takes the old one's place.
        if (!putInPlace(out, outPath)) return 2;
    }
    std::printf("payload: %s, %lld bytes\n", escapeForDisplay(outPath).c_str(), payloadBytes);
    if (check) showPackage(back);
    return 0;
}

}  // namespace

int run(int argc, char** argv);

int main(int argc, char** argv) {
    // Memory or threads the system refuses end the run with the reason and
    // exit 2; the payload being written is dropped as the stack unwinds, and
    // the old one stays.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "error: out of memory%s\n", limitNote(ENOMEM).c_str());
    } catch (const std::system_error& e) {
        // Threads are what the run starts: the limits that refuse them.
        std::string limits;
        struct rlimit r;
        if (e.code() == std::errc::resource_unavailable_try_again) {
            char buf[160];
            const bool spaceLimited = ::getrlimit(RLIMIT_AS, &r) == 0 && r.rlim_cur != RLIM_INFINITY;
            if (!spaceLimited && ::getrlimit(RLIMIT_NPROC, &r) == 0 && r.rlim_cur != RLIM_INFINITY) {
                std::snprintf(buf, sizeof buf, "the limit of processes, ulimit -u, is %llu",
                              static_cast<unsigned long long>(r.rlim_cur));
                limits = buf;
            }
            if (::getrlimit(RLIMIT_AS, &r) == 0 && r.rlim_cur != RLIM_INFINITY) {
                std::snprintf(buf, sizeof buf, "the address space limit, ulimit -v, is %llu KiB",
                              static_cast<unsigned long long>(r.rlim_cur / 1024));
                limits += (limits.empty() ? "" : "; ") + std::string(buf);
            }
        }
        std::fprintf(stderr, "error: cannot start a thread: %s%s\n", e.code().message().c_str(),
                     limits.empty() ? "" : (" (" + limits + ")").c_str());
    }
    return 2;
}

int run(int argc, char** argv) {
    // Before anything is opened, so that no file of ours takes the place of
    // a standard stream.
    bool stdoutClosed = false;
    if (!openStandardStreams(stdoutClosed)) return 2;
    gStdoutGone = stdoutClosed;
    gHooks = sTestHooks::fromEnvironment();
    // A reader that goes away (`| head -1`) must not kill a run midway: the
    // writes fail instead, and the work goes on to its end.
    ::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) fails the write (EFBIG) instead of
    // killing the run without a word.
    ::signal(SIGXFSZ, SIG_IGN);
    // An interrupt ends the progress line and drops a payload half written;
    // a signal ignored from the start (a background job) stays ignored.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) ::signal(sig, onInterrupt);
    }
    sArguments args;
    if (!args.parse(argc, argv)) return usage(argv[0]);
    if (args.help) return finish(usage(argv[0], true));
    gThreads = args.threads;
    if (args.checkOnly) return finish(checkPayload(absolute(args.paths[0])));
    const bool check = !args.noCheck;
    const std::string shownPath = args.paths[0];
    const std::string shown = escapeForDisplay(shownPath);
    const std::string scenarioPath = absolute(args.paths[0]);
    const std::string given = absolute(args.paths[1]);
    std::string outPath;
    // The output before any work: a run that cannot write it says so now.
    if (const int rc = prepareOutput(given, outPath)) return rc;
    const std::size_t slash = scenarioPath.rfind('/');
    const std::string folder = scenarioPath.substr(0, slash == 0 ? 1 : slash);
    // A named pipe would keep the compiler waiting for a writer, a folder
    // or a device is no scenario.
    struct stat scenarioStat;
    if (::stat(scenarioPath.c_str(), &scenarioStat) == 0 && !S_ISREG(scenarioStat.st_mode)) {
        std::fprintf(stderr, "error: %s: not a regular file\n", shown.c_str());
        return 1;
    }
    if (chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "error: cannot enter the scenario's folder %s: %s\n", escapeForDisplay(folder).c_str(),
                     std::strerror(errno));
        return 1;
    }

    cSoftPkgScenario s;
    int line = 0;
    const int rc = s.loadTextConfig(scenarioPath.c_str(), line);
    if (rc == 26 && s.textError().error == EFBIG && line >= 0) return tooLargeFile(shownPath, line, s.textError().file);
    if (rc != 0) {
        // Where: the scenario's line; for the checks after the last line,
        // the line of what they found lacking; none for the file itself.
        if (line < 0 && s.textError().defLine >= 0) line = s.textError().defLine;
        if (line >= 0 && rc != 1)
            std::fprintf(stderr, "error: %s: line %d: %s (code %d)\n", shown.c_str(), line + 1, errorMeaning(rc), rc);
        else
            std::fprintf(stderr, "error: %s: %s (code %d)\n", shown.c_str(), errorMeaning(rc), rc);
        const std::string detail = errorDetail(rc, s.textError());
        if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
        // A limit of the process, not the scenario, is at fault.
        const int why = s.textError().error;
        return why == EMFILE || why == ENFILE || why == ENOMEM ? 2 : 1;
    }
    warnLeftOut(s);
    warnMissingTargets(s, shownPath);
    warnTextWarnings(s, shownPath);
    if (overwritesInput(s, given, outPath)) return 1;
    return finish(pack(s, outPath, check));
}
