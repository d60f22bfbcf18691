// Where the installed package manager lives and how a package starts its
// update check.
//
// The manager's bundle name depends on the user's language (a built-in
// table, section "names": 0 for most languages, 1 Japanese, 2 Korean); its
// executable is "/Applications/<name>.app/Contents/MacOS/Pakvane".  A package
// asks for an update check at most once a day: the day is stored under
// "updates/<codename>" in the application's configuration.
#pragma once

#include <string>
#include <vector>

#include "base/appconfig.h"
#include "base/buffers.h"
#include "base/jobs.h"
#include "base/timeutil.h"

// The built-in names blob (generated, see tools/gen/pakvanenames.py).
extern const unsigned char pakvaneNamesData[];
extern const long long pakvaneNamesDataSize;

// The name used when the built-in table yields none.
constexpr const char* kPakvaneFallbackName = "QOR Software Manager";

// Text i of the section "names" of the built-in table; null when the table
// cannot be loaded (the next call tries again), has no such section, or has
// no text i.  The text belongs to the table.
char* pakvaneName(int i);

// The path of the manager's executable for the applied UI language.  Always
// true.
bool getAppManagerPath(_guardchar<char>& out);

// The longest code name an update check accepts.
constexpr std::size_t kMaxUpdateCodenameBytes = 128;

// Whether codename may be handed to the manager and used as a configuration
// key: 1 to kMaxUpdateCodenameBytes of ASCII letters, digits, '.', '_' and
// '-', not starting with '-' or '.' (it must never read as an option or a
// relative folder).
bool isSafeUpdateCodename(const char* codename);

// The day stamp of a local date: day + (month + year * 12) * 31.
int updateDayStamp(const sTimestamp& date);

// Starts the manager's update check for codename in the background, unless
// it was started today already (then true without starting anything).  The
// manager is run directly, never through a shell: its arguments are
// "update", the codename and "quite" (quiet) or "normal".  False when a check
// is still running, the codename is null, empty or not safe, the manager's
// executable is not there, or the check cannot be started.
bool autoCheckUpdates(char* codename, bool quiet);

// autoCheckUpdates with its surroundings given: the manager executable, the
// configuration (null: no day is read or stored) and today's date.
bool autoCheckUpdatesWith(const char* managerPath, cApplicationConfig* config, const sTimestamp& today,
                          const char* codename, bool quiet);

// The process-wide worker that runs the manager and waits for it.
class cStartCheckUpdatesJob : public cJob {
public:
    int job() override;

    // The program to run and its argument vector (argv[0] first).
    void setCommand(const char* program, const std::vector<std::string>& args);
    const std::string& program() const { return mProgram; }
    const std::vector<std::string>& args() const { return mArgs; }

    static cStartCheckUpdatesJob& instance();

private:
    std::string mProgram;
    std::vector<std::string> mArgs;
};
