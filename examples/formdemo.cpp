// A small form in a real window: a line of text, a picture and two
// button-like panels that change colour when pressed.
//
//   formdemo                 opens the window and runs until it is closed
//                            (or SIGINT or SIGTERM asks it to quit)
//   formdemo --png out.png   paints the form once and saves the window's
//                            pixels as a PNG (works headless with
//                            SDL_VIDEODRIVER=offscreen)
//   formdemo --png out.png --hold
//                            as above, then prints "shown" and keeps the
//                            window on screen until stdin closes (so a
//                            screenshot of the display can be taken)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pngwrite.h"
#include "ciplatform/translator.h"
#include "macshim/appkit.h"
#include "uitoolkit/element.h"
#include "uitoolkit/picture.h"

namespace {

class TextLine : public cChildElement {
public:
    explicit TextLine(const char* t) : mText(t) {}
    void onPaint(cCanvas* c) override {
        sRect r{0, 0, c->width(), c->height()};
        c->drawRect(&r, 0xFFFFFF, 0xFFFFFF);
        c->setTextMode(5, 15, "Tahoma", true, false, false);
        c->setTextColors(0x202020, 0xFFFFFF);
        c->drawText(4, 4, true, mText.c_str(), static_cast<long long>(mText.size()));
    }

private:
    std::string mText;
};

class PictureView : public cChildElement {
public:
    PictureView() {
        // A colour ramp: red across, blue down.
        const int w = 96, h = 64;
        std::vector<unsigned int> px(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px[size_t(y) * w + x] = 0xFF000000u | (unsigned(x * 255 / (w - 1)) << 16) | unsigned(y * 255 / (h - 1));
        mPic.create(px.data(), w, h, false);
    }
    void onPaint(cCanvas* c) override { c->drawBitmap(0, 0, &mPic, c->width(), c->height()); }

private:
    cPicture mPic;
};

class ButtonPanel : public cChildElement {
public:
    ButtonPanel(const char* caption, unsigned colour) : mCaption(caption), mColour(colour) {}
    void processMouseBtn(int x, int y, int button, bool down, bool m1, bool m2) override {
        if (button == 1 && down) {
            mPressed = !mPressed;
            repaint();
        }
        cChildElement::processMouseBtn(x, y, button, down, m1, m2);
    }
    void onPaint(cCanvas* c) override {
        sRect r{0, 0, c->width(), c->height()};
        unsigned fill = mPressed ? 0x404040 : mColour;
        c->drawRect(&r, fill, 0x000000);
        c->setTextMode(5, 13, "Tahoma", false, false, false);
        c->setTextColors(0xFFFFFF, fill);
        c->drawText(10, 8, true, mCaption, static_cast<long long>(std::strlen(mCaption)));
    }

private:
    const char* mCaption;
    unsigned mColour;
    bool mPressed = false;
};

class DemoForm : public cChildElement {
public:
    void onPaint(cCanvas* c) override {
        sRect r{0, 0, c->width(), c->height()};
        c->drawRect(&r, 0xE8E8E8, 0xE8E8E8);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const char* png = (argc >= 3 && std::strcmp(argv[1], "--png") == 0) ? argv[2] : nullptr;
    const bool hold = png && argc == 4 && std::strcmp(argv[3], "--hold") == 0;
    if ((png && argc > 3 && !hold) || (!png && argc > 1)) {
        fprintf(stderr, "usage: formdemo [--png out.png [--hold]]\n");
        return 2;
    }
    // Linking the platform layer installed its fonts, standard face and
    // hints; the window maker is used directly here.
    cNSWMaker maker;
    if (!maker.create(nullptr, nullptr, 0)) return 1;

    const int W = 320, H = 200;
    TextLine text("Hello from a native window");
    PictureView picture;
    // Canvas colours are 0x00BBGGRR: a green and a blue.
    ButtonPanel ok("OK", 0x327D2E), cancel("Cancel", 0xC03015);
    auto* form = new DemoForm;
    char title[] = "Form demo";
    cWindowHolder* holder = maker.asyncwnd(title, W, H, form, nullptr, false, -1, -1);
    if (!holder) {
        fprintf(stderr, "formdemo: no window could be made\n");
        return 1;
    }
    // A parent does not own its children: they live here, beyond the form.
    form->attach(&text, 16, 12, 288, 26);
    form->attach(&picture, 16, 48, 96, 64);
    form->attach(&ok, 130, 150, 80, 30);
    form->attach(&cancel, 224, 150, 80, 30);
    auto& t = static_cast<cNSWHolder*>(holder)->translator();
    t.show();

    int rc = 0;
    if (png) {
        auto* win = static_cast<MSWindow*>(t.handle());
        t._rt_repaint(nullptr);
        win->display();
        MSBitmapContext* b = win->backingStore();
        if (!b || !b->pixels || !examples::savePng(png, b->pixels, b->width, b->height, b->stride)) {
            fprintf(stderr, "formdemo: cannot save %s\n", png);
            rc = 1;
        } else if (hold) {
            // The picture is on the display now: let the caller look at it.
            printf("shown\n");
            fflush(stdout);
            while (getchar() != EOF) {
            }
        }
    } else {
        // The window's own loop: it ends when the window is closed (its close
        // box ends it with 0) or a signal asks the program to quit.  The
        // main loop would run on with the window gone.
        t.modal(nullptr);
    }
    holder->dispose(false);
    return rc;
}
