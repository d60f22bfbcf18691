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
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

void chunk(FILE* f, const char* type, const std::vector<unsigned char>& data) {
    unsigned char len[4] = {static_cast<unsigned char>(data.size() >> 24), static_cast<unsigned char>(data.size() >> 16),
                            static_cast<unsigned char>(data.size() >> 8), static_cast<unsigned char>(data.size())};
    fwrite(len, 1, 4, f);
    fwrite(type, 1, 4, f);
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    unsigned char c[4] = {static_cast<unsigned char>(crc >> 24), static_cast<unsigned char>(crc >> 16),
                          static_cast<unsigned char>(crc >> 8), static_cast<unsigned char>(crc)};
    fwrite(c, 1, 4, f);
}

// 8-bit RGB PNG of 0xAARRGGBB rows (alpha dropped: the window is opaque).
bool savePng(const char* path, const uint32_t* px, int w, int h, int stride) {
    std::vector<unsigned char> raw;
    raw.reserve(size_t(h) * (size_t(w) * 3 + 1));
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);  // filter: none
        for (int x = 0; x < w; ++x) {
            uint32_t p = px[size_t(y) * stride + x];
            raw.push_back(static_cast<unsigned char>(p >> 16));
            raw.push_back(static_cast<unsigned char>(p >> 8));
            raw.push_back(static_cast<unsigned char>(p));
        }
    }
    uLongf zn = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> z(zn);
    if (compress2(z.data(), &zn, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) return false;
    z.resize(zn);
    FILE* f = fopen(path, "wb");
    if (!f) return false;
    static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    fwrite(sig, 1, 8, f);
    std::vector<unsigned char> ihdr = {static_cast<unsigned char>(w >> 24), static_cast<unsigned char>(w >> 16),
                                       static_cast<unsigned char>(w >> 8),  static_cast<unsigned char>(w),
                                       static_cast<unsigned char>(h >> 24), static_cast<unsigned char>(h >> 16),
                                       static_cast<unsigned char>(h >> 8),  static_cast<unsigned char>(h),
                                       8, 2, 0, 0, 0};
    chunk(f, "IHDR", ihdr);
    chunk(f, "IDAT", z);
    chunk(f, "IEND", {});
    return fclose(f) == 0;
}

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
        if (!b || !b->pixels || !savePng(png, b->pixels, b->width, b->height, b->stride)) {
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
        maker.msgloop();
    }
    holder->dispose(false);
    return rc;
}
