#include "pakvane/client.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/folders.h"
#include "base/process.h"
#include "uitoolkit/application.h"
#include "uitoolkit/lang.h"

namespace {

// The loaded names table and its section, filled on the first successful
// look-up.
std::mutex gNamesLock;
cCiomLang gNames;
cCiomLangData* gNamesSection = nullptr;

bool isSafeCodenameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

}  // namespace

char* pakvaneName(int i) {
    std::lock_guard<std::mutex> hold(gNamesLock);
    if (!gNamesSection) {
        if (!loadCiomLangData(pakvaneNamesData, pakvaneNamesDataSize, gNames)) return nullptr;
        gNamesSection = gNames.section("names");
        if (!gNamesSection) return nullptr;
    }
    return const_cast<char*>(gNamesSection->string(i));
}

bool getAppManagerPath(_guardchar<char>& out) {
    int index = 0;
    if (cLibLang::appliedLang() == lngJPN) index = 1;
    else if (cLibLang::appliedLang() == lngKOR) index = 2;
    const char* name = pakvaneName(index);
    if (!name) name = kPakvaneFallbackName;
    std::string path = std::string("/Applications/") + name + ".app/Contents/MacOS/Pakvane";
    out.set(path.c_str());
    return true;
}

bool isSafeUpdateCodename(const char* codename) {
    if (!codename || !*codename || codename[0] == '-' || codename[0] == '.') return false;
    std::size_t n = 0;
    for (; codename[n]; ++n)
        if (n >= kMaxUpdateCodenameBytes || !isSafeCodenameByte(codename[n])) return false;
    return true;
}

int updateDayStamp(const sTimestamp& date) {
    return static_cast<int>(date.day) + (static_cast<int>(date.month) + static_cast<int>(date.year) * 12) * 31;
}

bool autoCheckUpdatesWith(const char* managerPath, cApplicationConfig* config, const sTimestamp& today,
                          const char* codename, bool quiet) {
    cStartCheckUpdatesJob& job = cStartCheckUpdatesJob::instance();
    if (job.runs() || !codename || !*codename) return false;
    // The code name becomes an argument of the manager and a configuration
    // key: anything outside the safe set is refused before it goes anywhere.
    if (!isSafeUpdateCodename(codename)) return false;
    if (!managerPath || cFolderContents::objtype(managerPath) != fsoFile) return false;
    const std::string key = std::string("updates/") + codename;
    const int stamp = updateDayStamp(today);
    if (config && config->getParamInt32(key.c_str()) == stamp) return true;
    job.setCommand(managerPath, {managerPath, "update", codename, quiet ? "quite" : "normal"});
    if (!job.start()) return false;
    if (config) {
        config->setParamInt32(key.c_str(), stamp);
        config->saveConfig();
    }
    return true;
}

bool autoCheckUpdates(char* codename, bool quiet) {
    if (cStartCheckUpdatesJob::instance().runs() || !codename || !*codename) return false;
    _guardchar<char> path;
    getAppManagerPath(path);
    cApplicationConfig* config = nullptr;
    if (cCIApplication* app = cCIApplication::appRef()) config = app->config();
    sTimestamp today;
    if (config && !getCurrTimestamp(today)) return false;
    return autoCheckUpdatesWith(path.get(), config, today, codename, quiet);
}

void cStartCheckUpdatesJob::setCommand(const char* program, const std::vector<std::string>& args) {
    mProgram = program ? program : "";
    mArgs = args;
}

int cStartCheckUpdatesJob::job() {
    std::vector<const char*> argv;
    for (const std::string& a : mArgs) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    // What the manager does with the check is its own business.
    runProgram(mProgram.c_str(), argv.data());
    return 0;
}

cStartCheckUpdatesJob& cStartCheckUpdatesJob::instance() {
    static cStartCheckUpdatesJob job;
    return job;
}
