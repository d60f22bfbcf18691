#include "uitoolkit/application.h"

#include "base/folders.h"
#include "uitoolkit/ciappconfig.h"
#include "uitoolkit/window.h"

#include <cstring>

namespace {
cCIApplication* gCurrent = nullptr;
}  // namespace

cCIApplication::~cCIApplication() {
    delete mConfig;
    mConfig = nullptr;
    delete mMaker;
    mMaker = nullptr;
}

bool cCIApplication::onInit(int, char**, int&) { return true; }

cCIApplication* cCIApplication::appRef() { return gCurrent; }

int cCIApplication::runApp(cCIApplication* app, void* instance, void*, int, int argc, char** argv,
                           cApplicationConfig* config, const char* configName) {
    if (!app) {
        delete config;
        return 1;
    }
    gCurrent = app;
    app->mInstance = instance;
    if (argc > 0) {
        const char* first = argv ? argv[0] : nullptr;
        if (first) {
            _guardchar<char> path(first);
            cFolderContents::adjustPath(path.get());
            app->mPath.set(path.get());
            const char* slash = std::strrchr(path.get(), '/');
            if (slash) app->mFolder.set(path.get(), slash - path.get());
            else app->mFolder.set("./");
        } else {
            app->mFolder.set("./");
        }
    }
    if (config) {
        if (config != app->mConfig) delete app->mConfig;
        app->mConfig = config;
    } else if (!app->mConfig) {
        app->mConfig = new cCIAppFullConfig();
    }
    int exitCode = 1;
    bool opened = app->mConfig->openConfig(configName);
    if (!opened) {
        // A first start: make the configuration, then it must open.
        app->mConfig->newConfig(configName);
        opened = app->mConfig->openConfig(configName);
    }
    if (!opened) {
        exitCode = kExitNoConfig;
    } else if (app->onInit(argc, argv, exitCode)) {
        void* icon = app->appIconData();
        unsigned int dim = app->appIconDim();
        cWindowMaker* maker = cWindowMaker::newWindowMaker(instance, icon, dim, app->mMaker);
        if (maker) {
            app->mMaker = maker;
            exitCode = app->run();
            app->onDestroy();
        } else {
            exitCode = 1;
        }
    }
    gCurrent = nullptr;
    delete app;
    return exitCode;
}
