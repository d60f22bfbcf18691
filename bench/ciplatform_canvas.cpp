// The platform canvas drawing into an offscreen bitmap: a window of 1,000
// text runs and 1,000 rectangles, and a form-like repaint of 770 x 480;
// beside them, the same rectangles and text drawn straight with cairo, the
// engine under the canvas.
#include "ciplatform/crbcanvas.h"
#include "ciplatform/ctfont.h"

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> runTexts() {
    std::vector<std::string> t;
    for (int i = 0; i < 1000; ++i) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "package-%03d 1.%d.%d", i, i % 7, i % 13);
        t.push_back(buf);
    }
    return t;
}

std::unique_ptr<cCrbOffscreenCanvas> canvasOf(int w, int h) {
    installPlatformFonts();
    std::unique_ptr<cCrbOffscreenCanvas> c(new cCrbOffscreenCanvas);
    if (!c->create(w, h)) return nullptr;
    return c;
}

void BM_Window1000TextRunsAnd1000Rects(benchmark::State& state) {
    auto canvas = canvasOf(1280, 800);
    const auto texts = runTexts();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            sRect r{(i * 37) % 1200, (i * 53) % 760, 20 + i % 60, 10 + i % 30};
            canvas->drawRect(&r, 0xF0F0F0 ^ (i * 0x010203), i % 3 ? 0x808080 : 0xF0F0F0 ^ (i * 0x010203));
        }
        for (int i = 0; i < 1000; ++i)
            canvas->drawText((i * 71) % 1150, (i * 29) % 780, i % 2 == 0, texts[i].c_str(), -1);
        CGContextFlush(canvas->context());
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Window1000TextRunsAnd1000Rects)->Unit(benchmark::kMillisecond);

// The two halves of the window on their own.
void BM_Window1000Rects(benchmark::State& state) {
    auto canvas = canvasOf(1280, 800);
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            sRect r{(i * 37) % 1200, (i * 53) % 760, 20 + i % 60, 10 + i % 30};
            canvas->drawRect(&r, 0xF0F0F0 ^ (i * 0x010203), i % 3 ? 0x808080 : 0xF0F0F0 ^ (i * 0x010203));
        }
        CGContextFlush(canvas->context());
    }
}
BENCHMARK(BM_Window1000Rects)->Unit(benchmark::kMillisecond);

void BM_Window1000TextRuns(benchmark::State& state) {
    auto canvas = canvasOf(1280, 800);
    const auto texts = runTexts();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            canvas->drawText((i * 71) % 1150, (i * 29) % 780, i % 2 == 0, texts[i].c_str(), -1);
        CGContextFlush(canvas->context());
    }
}
BENCHMARK(BM_Window1000TextRuns)->Unit(benchmark::kMillisecond);

// A dialog: background, a title, 12 labelled fields with framed edit
// boxes, a 16-row list with icons and separators, 3 buttons.
void BM_FormRepaint770x480(benchmark::State& state) {
    auto canvas = canvasOf(770, 480);
    cPicture icon;
    icon.create(0xFF3366CCu, 16, 16);
    for (auto _ : state) {
        sRect all{0, 0, 770, 480};
        canvas->drawRect(&all, 0xECECEC, 0xECECEC);
        canvas->setTextColors(0, 0xECECEC);
        canvas->drawText(12, 8, true, "Package properties", -1);
        for (int i = 0; i < 12; ++i) {
            canvas->drawText(12, 40 + i * 28, true, "Field label:", -1);
            sRect box{120, 36 + i * 28, 220, 22};
            canvas->drawRect(&box, 0xFFFFFF, 0x999999);
            canvas->drawText(124, 40 + i * 28, false, "value of the field", -1);
        }
        sRect list{360, 36, 396, 372};
        canvas->drawRect(&list, 0xFFFFFF, 0x999999);
        canvas->setLineMode(0xDDDDDD, 1);
        for (int i = 0; i < 16; ++i) {
            canvas->drawBitmap(364, 40 + i * 23, &icon, -1, -1);
            canvas->drawText(384, 40 + i * 23, true, "libexample-component 2.14.1", -1);
            sPoint a{362, 61 + i * 23}, b{754, 61 + i * 23};
            canvas->drawLine(&a, &b);
        }
        for (int i = 0; i < 3; ++i) {
            sRect button{480 + i * 95, 430, 85, 28};
            canvas->drawRect(&button, 0xF8F8F8, 0x777777);
            canvas->drawText(500 + i * 95, 436, true, i == 0 ? "OK" : i == 1 ? "Cancel" : "Help", -1);
        }
        CGContextFlush(canvas->context());
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FormRepaint770x480)->Unit(benchmark::kMillisecond);

// What a program drawing with cairo alone would do for the same window
// (its simple text interface, no fallback or shaping).
void BM_CairoAlone1000TextRunsAnd1000Rects(benchmark::State& state) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1280, 800);
    cairo_t* cr = cairo_create(s);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11);
    const auto texts = runTexts();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            cairo_rectangle(cr, (i * 37) % 1200, (i * 53) % 760, 20 + i % 60, 10 + i % 30);
            cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
            cairo_fill(cr);
        }
        cairo_set_source_rgb(cr, 0, 0, 0);
        for (int i = 0; i < 1000; ++i) {
            cairo_move_to(cr, (i * 71) % 1150, (i * 29) % 780 + 11);
            cairo_show_text(cr, texts[i].c_str());
        }
        cairo_surface_flush(s);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
}
BENCHMARK(BM_CairoAlone1000TextRunsAnd1000Rects)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
