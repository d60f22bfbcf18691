#include "pakvane/shortcut.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "base/folders.h"
#include "base/textenc.h"
#include "base/timeutil.h"

namespace {

// The privilege helper of desktop entries, chosen on the first entry.
struct sPrivilege {
    bool chosen = false;
    std::string prefix;
    bool shellFallback = false;  // bash -c with sudo: needs a terminal
};
std::mutex gPrivilegeLock;
sPrivilege gPrivilege;

// Whether PATH holds an executable regular file called name, as "which"
// answers it; looked up here so that no shell is started for it.
bool onPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string all(path);
    std::size_t at = 0;
    for (;;) {
        std::size_t end = all.find(':', at);
        std::string dir = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (dir.empty()) dir = ".";
        std::string file = dir + "/" + name;
        struct stat st;
        if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) return false;
        at = end + 1;
    }
}

sPrivilege privilege() {
    std::lock_guard<std::mutex> hold(gPrivilegeLock);
    if (!gPrivilege.chosen) {
        gPrivilege.chosen = true;
        gPrivilege.shellFallback = false;
        if (onPath("gksudo")) {
            gPrivilege.prefix = "gksudo";
        } else if (onPath("kdesudo")) {
            gPrivilege.prefix = "kdesudo";
        } else {
            // The program sudo starts is root's: the display is opened to
            // root alone, not to every local account.
            gPrivilege.prefix = "xhost +SI:localuser:root && sudo";
            gPrivilege.shellFallback = true;
        }
    }
    return gPrivilege;
}

// A control character would end a key's line or is no part of a string
// value; a tab is written as its escape.
bool hasControl(const char* text) {
    if (!text) return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if ((*p < 0x20 && *p != '\t') || *p == 0x7F) return true;
    return false;
}

// A value of type string as a desktop entry holds it: the backslash and the
// tab written as escapes (the Desktop Entry Specification's first level of
// escaping, undone before anything else reads the value).
std::string stringValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

// One argument of an Exec key, as the Desktop Entry Specification quotes
// it: an argument holding a reserved character goes in double quotes,
// inside which '"', '`', '$' and '\\' take a backslash; a '%' is written
// "%%" wherever it stands, so that no field code is read into it.
std::string execArgument(const std::string& word) {
    static const char kReserved[] = " \t\n\"'\\><~|&;$*?#()`";
    const bool quote = word.empty() || word.find_first_of(kReserved) != std::string::npos;
    std::string out = quote ? "\"" : "";
    for (char c : word) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
        if (c == '%') out += '%';
    }
    return quote ? out + "\"" : out;
}

// One word of a shell command line (the privilege helpers and bash split
// their command as a POSIX shell does): in double quotes, inside which '"',
// '`', '$' and '\\' take a backslash, unless it holds only characters no
// shell gives a meaning.
std::string shellWord(const std::string& word) {
    static const char kPlain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._+,:@%-";
    if (!word.empty() && word.find_first_not_of(kPlain) == std::string::npos) return word;
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// The Exec key's command line, before its string escapes: the program as
// one argument and the arguments text after it, as the caller wrote it.
// Elevated, the helper is given the same as one command, a shell's words;
// the shell fallback runs that command under sudo from "bash -c".
std::string execLine(const sPrivilege& priv, bool elevated, const std::string& exec, const char* arguments) {
    const std::string tail = arguments ? std::string(" ") + arguments : std::string();
    if (!elevated) return execArgument(exec) + tail;
    const std::string command = shellWord(exec) + tail;
    if (priv.shellFallback) return "bash -c " + execArgument(priv.prefix + " " + command);
    return priv.prefix + " " + execArgument(command);
}

// Puts `bytes` in the place of `file` whole, through a replacement file:
// the old entry stays until the new one is complete on disk, so a full
// disk or a crash leaves the one or the other, never a mix.  False with
// the system's reason in errno.
bool replaceWhole(const char* file, const std::string& bytes) {
    cReplacementFile f;
    if (!f.begin(file)) return false;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left) {
        const unsigned int piece = static_cast<unsigned int>(left < (1u << 30) ? left : (1u << 30));
        const unsigned int put = f.write(const_cast<char*>(p), piece);
        if (put == cFileIOTarget::kIOFailed || put == 0) {
            // A file that takes nothing more without an error is full.
            const int error = put == 0 ? ENOSPC : errno;
            f.abandon();
            errno = error;
            return false;
        }
        p += put;
        left -= put;
    }
    return f.commit();
}

}  // namespace

char* shortcutExtension() { return nullptr; }

bool createSysShortcut(_guardchar<char>&, char*, char*, char*, char*, char*, bool, char*) { return false; }

void resetLinShortcutPrivilegeChoice() {
    std::lock_guard<std::mutex> hold(gPrivilegeLock);
    gPrivilege = sPrivilege();
}

bool createLinShortcut(char* file, char* exec, char* categories, char* name, char* icon, char* comment,
                       bool elevated, char* arguments) {
    if (!file || !exec || !categories || !name) return false;
    // Each key is one line: a line break inside a text would add keys of its
    // own choosing (another Exec, say).
    for (const char* t : {exec, categories, name, icon, comment, arguments})
        if (hasControl(t)) return false;
    const sPrivilege priv = privilege();
    std::string out = "[Desktop Entry]\nVersion=1.0\nEncoding=UTF-8\nName=" + stringValue(name);
    if (comment) out += "\nComment=" + stringValue(comment);
    out += "\nExec=" + stringValue(execLine(priv, elevated, exec, arguments));
    if (icon) out += "\nIcon=" + stringValue(icon);
    out += std::string("\nTerminal=") + (priv.shellFallback ? "true" : "false");
    out += "\nX-MultipleArgs=false\nType=Application\nCategories=" + stringValue(categories);
    const char* slash = std::strrchr(exec, '/');
    out += "\nStartupNotify=false\nMimeType=application/x-" + stringValue(slash ? slash + 1 : exec) + "\n";
    return replaceWhole(file, out);
}

namespace {

// Shell link constants of the MS-SHLLINK format.
const unsigned char kShellLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// {20D04FE0-3AEA-1069-A2D8-08002B30309D}: My Computer.
const unsigned char kMyComputerClsid[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                            0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
constexpr std::uint32_t kLinkTargetIdList = 0x01, kLinkInfo = 0x02, kLinkName = 0x04, kLinkWorkingDir = 0x10,
                        kLinkArguments = 0x20, kLinkIconLocation = 0x40, kLinkUnicode = 0x80,
                        kLinkRunAsUser = 0x2000, kLinkTargetMetadata = 0x80000;
// The item-id list's size field is a u16.
constexpr std::size_t kMaxIdListBytes = 0xFFFF;
// String data counts are u16.
constexpr std::size_t kMaxLinkStringUnits = 0xFFFF;

void u16le(std::string& o, unsigned v) {
    o += static_cast<char>(v & 0xFF);
    o += static_cast<char>((v >> 8) & 0xFF);
}
void u32le(std::string& o, std::uint32_t v) {
    u16le(o, v & 0xFFFF);
    u16le(o, v >> 16);
}
void u64le(std::string& o, std::uint64_t v) {
    u32le(o, static_cast<std::uint32_t>(v));
    u32le(o, static_cast<std::uint32_t>(v >> 32));
}

// UTF-8 text as UTF-16 units; false when it does not convert.
bool utf16(const std::string& text, std::vector<unsigned short>& out) {
    out.clear();
    if (text.empty()) return true;
    _guardchar<unsigned short> w;
    long long n = __a2w(text.c_str(), static_cast<long long>(text.size()), w, 65001);
    if (n <= 0 || !w.get()) return false;
    out.assign(w.get(), w.get() + n);
    return true;
}

// One file-entry item: type 0x31 (folder) or 0x32 (file) with the 8-bit name
// and a 0xBEEF0004 extension block carrying the UTF-16 name.
bool fileEntryItem(std::string& list, const std::string& name, bool isFile, std::uint32_t size) {
    std::vector<unsigned short> wide;
    if (!utf16(name, wide)) return false;
    std::string item;
    item += static_cast<char>(isFile ? 0x32 : 0x31);
    item += '\0';
    u32le(item, isFile ? size : 0);
    u32le(item, 0);  // DOS date and time of the last write: not recorded
    u16le(item, isFile ? 0x20 : 0x10);
    item += name;
    item += '\0';
    if ((item.size() + 2) % 2) item += '\0';  // the extension block starts on an even offset
    const std::size_t extAt = item.size() + 2;
    std::string ext;
    u16le(ext, 0);  // size, set below
    u16le(ext, 3);  // extension version
    u32le(ext, 0xBEEF0004u);
    u32le(ext, 0);    // creation date and time
    u32le(ext, 0);    // access date and time
    u16le(ext, 0x14);  // the version of the writer's shell
    for (unsigned short u : wide) u16le(ext, u);
    u16le(ext, 0);
    u16le(ext, static_cast<unsigned>(extAt));  // offset of this block from the item's start
    ext[0] = static_cast<char>(ext.size() & 0xFF);
    ext[1] = static_cast<char>(ext.size() >> 8);
    item += ext;
    if (item.size() + 2 > kMaxIdListBytes) return false;
    u16le(list, static_cast<unsigned>(item.size() + 2));
    list += item;
    return true;
}

bool linkString(std::string& o, const std::string& text, bool path) {
    std::string t = text;
    if (path)
        for (char& c : t)
            if (c == '/') c = '\\';
    std::vector<unsigned short> wide;
    if (!utf16(t, wide) || wide.size() > kMaxLinkStringUnits) return false;
    u16le(o, static_cast<unsigned>(wide.size()));
    for (unsigned short u : wide) u16le(o, u);
    return true;
}

}  // namespace

bool createWinShortcut(char* file, char* target, char* workFolder, char* icon, int iconIndex, char* description,
                       bool elevated, char* arguments) {
    if (!file || !target) return false;
    const char drive = target[0];
    if (!((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) || target[1] != ':') return false;
    const int kind = cFolderContents::objtype(target);
    if (kind != fsoFile && kind != fsoFolder) return false;
    const bool isFile = kind == fsoFile;
    if (workFolder && cFolderContents::objtype(workFolder) != fsoFolder) return false;
    if (icon && cFolderContents::objtype(icon) != fsoFile) return false;
    std::uint32_t size = 0;
    if (isFile) {
        struct stat st;
        if (stat(target, &st) != 0) return false;
        size = static_cast<std::uint32_t>(st.st_size);  // the format keeps the low 32 bits
    }

    std::uint32_t flags = kLinkTargetIdList | kLinkInfo | kLinkUnicode | kLinkTargetMetadata;
    if (elevated) flags |= kLinkRunAsUser;
    if (description) flags |= kLinkName;
    if (workFolder) flags |= kLinkWorkingDir;
    if (arguments) flags |= kLinkArguments;
    if (icon) flags |= kLinkIconLocation;
    const std::uint64_t now =
        static_cast<std::uint64_t>(getCurrUnixTime()) * kWinTimePerSecond + kWinTimeUnixEpoch;

    std::string out;
    u32le(out, 0x4C);
    out.append(reinterpret_cast<const char*>(kShellLinkClsid), 16);
    u32le(out, flags);
    u32le(out, isFile ? 0x20 : 0x10);
    u64le(out, now);
    u64le(out, now);
    u64le(out, now);
    u32le(out, size);
    u32le(out, static_cast<std::uint32_t>(iconIndex));
    u32le(out, 1);  // show normally
    u16le(out, 0);  // no hot key
    out.append(10, '\0');

    // The item-id list: My Computer, the drive, then each component.
    std::string list;
    u16le(list, 20);
    list += static_cast<char>(0x1F);
    list += static_cast<char>(0x50);
    list.append(reinterpret_cast<const char*>(kMyComputerClsid), 16);
    u16le(list, 25);
    list += static_cast<char>(0x2F);
    list += drive;
    list += ":\\";
    list.append(19, '\0');
    std::vector<std::string> parts;
    std::string part;
    for (const char* p = target + 2;; ++p) {
        if (*p == '/' || *p == '\\' || *p == '\0') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
            if (!*p) break;
        } else {
            part += *p;
        }
    }
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!fileEntryItem(list, parts[i], isFile && i + 1 == parts.size(), size)) return false;
    if (list.size() + 2 > kMaxIdListBytes) return false;
    u16le(out, static_cast<unsigned>(list.size() + 2));
    out += list;
    u16le(out, 0);

    // Location: a local path on a fixed drive.
    std::string path = target;
    for (char& c : path)
        if (c == '/') c = '\\';
    const std::uint32_t len = static_cast<std::uint32_t>(path.size());
    u32le(out, len + 47);
    u32le(out, 28);
    u32le(out, 1);
    u32le(out, 28);
    u32le(out, 45);
    u32le(out, 0);
    u32le(out, len + 46);
    u32le(out, 17);
    u32le(out, 3);
    u32le(out, 0);
    u32le(out, 16);
    out += '\0';
    out += path;
    out += '\0';
    out += '\0';

    if (description && !linkString(out, description, false)) return false;
    if (workFolder && !linkString(out, workFolder, true)) return false;
    if (arguments && !linkString(out, arguments, false)) return false;
    if (icon && !linkString(out, icon, true)) return false;
    u32le(out, 0);  // the extra-data list ends with its terminal block

    return replaceWhole(file, out);
}
