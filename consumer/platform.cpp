// Uses the installed platform layer the way an outside program would: it
// links qor::ciplatform, starts through runApp and calls nothing to set the
// platform up.  It draws a line of text offscreen and reports where the font
// configuration came from and which faces the toolkit's names found.
#include <ciplatform/crbcanvas.h>
#include <ciplatform/ctfont.h>
#include <macshim/ctshim.h>
#include <uitoolkit/application.h>
#include <uitoolkit/element.h>
#include <uitoolkit/window.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A configuration with nothing in it: this program keeps no settings.
class cNoSettings : public cApplicationConfig {
public:
    void* rootContextHandle() override { return nullptr; }
    void* subContextHandle(char const*, void*, bool) override { return nullptr; }
    bool getParamValueSize(void*, long long&) override { return false; }
    bool isTextConfig() override { return false; }
    bool openConfig(const char*) override { return true; }
};

std::string fileOf(cFontObject* f) {
    auto* mac = dynamic_cast<cMacCTFont*>(f);
    const char* path = mac && mac->ctFont() ? CTFontGetFilePath(mac->ctFont(), nullptr) : nullptr;
    if (!path) return "none";
    const std::string p(path);
    return p.substr(p.rfind('/') + 1);
}

class cShowText : public cCIApplication {
public:
    int run() override {
        cCanvas* canvas = windowMaker() ? windowMaker()->offscreen(240, 24) : nullptr;
        if (!canvas) {
            std::puts("qor-platform-consumer: no window maker");
            return 1;
        }
        sRect all{0, 0, 240, 24};
        canvas->drawRect(&all, 0xFFFFFF, 0xFFFFFF);
        canvas->setTextColors(0x000000, 0xFFFFFF);
        canvas->setTextMode(5, 13, "Courier New", false, false, false);
        canvas->drawText(4, 4, true, "Installed, moved, drawn", -1);
        cPicture shot;
        int ink = 0;
        if (canvas->snapshot(&shot, nullptr))
            for (int i = 0; i < shot.width() * shot.height(); ++i) ink += (shot.raw()[i] & 0xFF) < 128;
        const std::string standard = fileOf(cFontObject::get(5, 13, stdFontFace(), false, false, false));
        const std::string fixed = fileOf(cFontObject::get(5, 13, "Courier New", false, false, false));
        const char* source = CTFontConfigurationSource();
        std::printf("configuration: %s\nstandard face: %s\nfixed face: %s\ndark pixels: %d\n",
                    source ? source : "none", standard.c_str(), fixed.c_str(), ink);
        delete canvas;
        return standard == "tahoma.ttf" && fixed == "LiberationMono-Regular.ttf" && ink > 60 ? 0 : 1;
    }
};

}  // namespace

int main(int argc, char** argv) {
    return cCIApplication::runApp(new cShowText, nullptr, nullptr, 0, argc, argv, new cNoSettings, "consumer");
}
