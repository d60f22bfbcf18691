// cCIApplication: the base of a toolkit program's application object.
// runApp is the program's whole life: it records where the executable lives,
// opens the per-user configuration, lets the application initialise, makes
// the window maker, runs the application and tears everything down.
#pragma once

#include "base/appconfig.h"
#include "base/buffers.h"

class cWindowMaker;

class cCIApplication {
public:
    // The exit code of a start-up whose configuration can neither be opened
    // nor created and opened (EX_CONFIG of sysexits).
    static constexpr int kExitNoConfig = 78;

    cCIApplication() = default;
    virtual ~cCIApplication();
    cCIApplication(const cCIApplication&) = delete;
    cCIApplication& operator=(const cCIApplication&) = delete;

    virtual bool onInit(int argc, char** argv, int& exitCode);
    virtual int run() { return 0; }
    virtual void onDestroy() {}
    virtual void* appIconData() { return nullptr; }
    virtual unsigned int appIconDim() { return 0; }

    // Takes ownership of app (deleted before returning, unless null) and of
    // config (null: a new per-user configuration).  Returns the exit code.
    static int runApp(cCIApplication* app, void* instance, void*, int, int argc, char** argv,
                      cApplicationConfig* config, const char* configName);
    // The application inside runApp; null outside.
    static cCIApplication* appRef();

    const char* appPath() const { return mPath.get(); }
    const char* appFolder() const { return mFolder.get(); }
    cWindowMaker* windowMaker() const { return mMaker; }
    void* instance() const { return mInstance; }
    cApplicationConfig* config() const { return mConfig; }

protected:
    // A maker the application brings itself (it stays the application's).
    void setWindowMaker(cWindowMaker* maker) { mMaker = maker; }

private:
    cWindowMaker* mMaker = nullptr;
    _guardchar<char> mPath;
    _guardchar<char> mFolder;
    void* mInstance = nullptr;
    cApplicationConfig* mConfig = nullptr;
};
