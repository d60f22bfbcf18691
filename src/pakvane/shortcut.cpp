#include "pakvane/shortcut.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/fileio.h"

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
            gPrivilege.prefix = "gksudo \"";
        } else if (onPath("kdesudo")) {
            gPrivilege.prefix = "kdesudo \"";
        } else {
            gPrivilege.prefix = "bash -c \"xhost +local: && sudo \\\"";
            gPrivilege.shellFallback = true;
        }
    }
    return gPrivilege;
}

bool hasLineBreak(const char* text) { return text && std::strpbrk(text, "\r\n") != nullptr; }

bool put(cFileIO& f, const std::string& text) {
    return f.writef(const_cast<char*>(text.data()), static_cast<unsigned int>(text.size()));
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
        if (hasLineBreak(t)) return false;
    const sPrivilege priv = privilege();
    cFileIO f;
    if (!f.create(file, fmWrite)) return false;
    if (!put(f, std::string("[Desktop Entry]\nVersion=1.0\nEncoding=UTF-8\nName=") + name)) return false;
    if (comment && !put(f, std::string("\nComment=") + comment)) return false;
    std::string line = "\nExec=";
    if (elevated) line += priv.prefix;
    line += exec;
    if (arguments) line += std::string(" ") + arguments;
    if (elevated) line += priv.shellFallback ? "\\\"\"" : "\"";
    if (!put(f, line)) return false;
    if (icon && !put(f, std::string("\nIcon=") + icon)) return false;
    if (!put(f, std::string("\nTerminal=") + (priv.shellFallback ? "true" : "false"))) return false;
    if (!put(f, std::string("\nX-MultipleArgs=false\nType=Application\nCategories=") + categories)) return false;
    const char* slash = std::strrchr(exec, '/');
    return put(f, std::string("\nStartupNotify=false\nMimeType=application/x-") + (slash ? slash + 1 : exec) + "\n");
}
