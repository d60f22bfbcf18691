// Compiles a scenario and its documents the way a packaging tool would: it
// links qor::pakvane and the platform layer's fonts alone (qor::cifonts),
// calls nothing to set them up, and loads no windowing or sound library.
// It reports the scenario's result and which face the standard name found.
#include <pakvane/scenario.h>
#include <cifonts/ctfont.h>
#include <uitoolkit/element.h>

#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: qor-documents-consumer <scenario.txt>\n", stderr);
        return 2;
    }
    // A scenario's paths are taken from its folder.
    const std::string path = argv[1];
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && chdir(path.substr(0, slash + 1).c_str()) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    cSoftPkgScenario scenario;
    int line = 0;
    const int rc = scenario.loadTextConfig(path.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), line);
    auto* font = dynamic_cast<cMacCTFont*>(cFontObject::get(5, 13, stdFontFace(), false, false, false));
    const char* file = font && font->ctFont() ? CTFontGetFilePath(font->ctFont(), nullptr) : nullptr;
    std::string face = file ? file : "none";
    face = face.substr(face.rfind('/') + 1);
    sSize size{};
    const bool measured = font && font->getTextDim(nullptr, "Compiled and measured", -1, size) && size.w > 0;
    std::printf("scenario: %d (line %d)\nstandard face: %s\nmeasured: %d x %d\n", rc, line, face.c_str(), size.w,
                size.h);
    return rc == 0 && face == "tahoma.ttf" && measured ? 0 : 1;
}
