#include "recordingcanvas.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qortest {

namespace {
cFontObject* makeFixedFont() { return new cFixedFont(); }

long long unitCount(const unsigned short* s, long long len) {
    long long n = 0;
    while ((len < 0 || n < len) && s[n]) ++n;
    return n;
}
}  // namespace

std::u16string utf16(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        unsigned int cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if (c >= 0xF0) { cp = c & 0x07; extra = 3; }
        else if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
        else { cp = c & 0x1F; extra = 1; }
        ++i;
        for (int k = 0; k < extra && i < s.size(); ++k, ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        unsigned int cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size()) cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
        else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

bool cFixedFont::define(int, int size, const char* face, bool, bool, bool) {
    return size > 0 && face && std::strcmp(face, "missing") != 0;
}

bool cFixedFont::apply(cCanvas* canvas) { return canvas && canvas->setTextMode(this); }

int cFixedFont::advance(unsigned short u, int size) {
    if (u >= 0xD800 && u <= 0xDBFF) return 0;
    if (u >= 0xDC00 && u <= 0xDFFF) return size;
    if (u >= 0x2E80 && u <= 0xFFEF) return size;
    return size / 2;
}

bool cFixedFont::getTextDim(cCanvas* c, const char* text, long long len, sSize& out) {
    if (!text) return false;
    std::string s = len < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(len));
    std::u16string w = utf16(s.c_str());
    return getTextDim(c, reinterpret_cast<const unsigned short*>(w.c_str()), -1, out);
}

bool cFixedFont::getTextDim(cCanvas*, const unsigned short* text, long long len, sSize& out) {
    if (!text) return false;
    const long long n = unitCount(text, len);
    int w = 0;
    for (long long i = 0; i < n; ++i) w += advance(text[i], size());
    out.w = w;
    out.h = size();
    return true;
}

void cFixedFont::install() { __setNewPlatformCPFont(makeFixedFont); }

cRecordingCanvas::cRecordingCanvas(int w, int h, int fontSize) : mW(w), mH(h) {
    mBounds = {0, 0, w, h};
    cFixedFont::install();
    mFont = cFontObject::get(5, fontSize, "Fixed", false, false, false);
}

bool cRecordingCanvas::drawText(int x, int y, bool transparent, const char* text, long long len) {
    if (!text || failText) return false;
    sDrawCall c;
    c.op = "text";
    c.x = x;
    c.y = y;
    c.transparent = transparent;
    c.color = mText;
    c.text = len < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(len));
    sSize s;
    textSize(text, len, s);
    c.w = s.w;
    c.h = s.h;
    record(c);
    return true;
}

bool cRecordingCanvas::drawText(int x, int y, bool transparent, const unsigned short* text, long long len) {
    if (!text) return false;
    const long long n = unitCount(text, len);
    std::u16string w(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(n));
    return drawText(x, y, transparent, utf8(w).c_str(), -1);
}

bool cRecordingCanvas::drawRect(sRect* r, unsigned int fill, unsigned int border) {
    if (!r) return false;
    sDrawCall c;
    c.op = "rect";
    c.x = r->x;
    c.y = r->y;
    c.w = r->w;
    c.h = r->h;
    c.fill = fill;
    c.border = border;
    record(c);
    return true;
}

bool cRecordingCanvas::drawBitmap(int x, int y, cPicture* picture, int w, int h) {
    if (!picture) return false;
    sDrawCall c;
    c.op = "bitmap";
    c.x = x;
    c.y = y;
    c.w = w < 0 ? picture->width() : w;
    c.h = h < 0 ? picture->height() : h;
    c.pixels.assign(picture->raw(), picture->raw() + picture->count());
    c.pw = picture->width();
    c.ph = picture->height();
    record(c);
    return true;
}

bool cRecordingCanvas::drawTransparent(sPoint* at, cPicture* picture, sSize* size) {
    if (!at || !picture) return false;
    sDrawCall c;
    c.op = "alpha";
    c.x = at->x;
    c.y = at->y;
    c.w = size ? size->w : picture->width();
    c.h = size ? size->h : picture->height();
    c.pixels.assign(picture->raw(), picture->raw() + picture->count());
    c.pw = picture->width();
    c.ph = picture->height();
    record(c);
    return true;
}

bool cRecordingCanvas::drawLine(sPoint* a, sPoint* b) {
    if (!a || !b) return false;
    sDrawCall c;
    c.op = "line";
    c.color = mLine;
    c.x = a->x;
    c.y = a->y;
    c.w = b->x;
    c.h = b->y;
    record(c);
    return true;
}

bool cRecordingCanvas::setTextMode(int width, int size, const char* face, bool bold, bool underline, bool italic) {
    return setTextMode(cFontObject::get(width, size, face, bold, underline, italic));
}

bool cRecordingCanvas::setTextMode(cFontObject* font) {
    if (!font) return false;
    mFont = font;
    return true;
}

cFontObject* cRecordingCanvas::createFont(int width, int size, const char* face, bool bold, bool underline,
                                          bool italic) {
    return cFontObject::get(width, size, face, bold, underline, italic);
}

void cRecordingCanvas::setTextColors(unsigned int text, unsigned int background) {
    mText = text;
    mBackground = background;
}

bool cRecordingCanvas::textSize(const char* text, long long len, sSize& out) {
    return mFont && mFont->getTextDim(this, text, len, out);
}

bool cRecordingCanvas::textSize(const unsigned short* text, long long len, sSize& out) {
    return mFont && mFont->getTextDim(this, text, len, out);
}

bool cRecordingCanvas::textRuler(const char* text, long long len, int* advances) {
    if (!text || !advances) return false;
    std::string s = len < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(len));
    std::u16string w = utf16(s);
    return textRuler(reinterpret_cast<const unsigned short*>(w.c_str()), static_cast<long long>(w.size()), advances);
}

bool cRecordingCanvas::textRuler(const unsigned short* text, long long len, int* advances) {
    if (!text || !advances || !mFont) return false;
    const long long n = unitCount(text, len);
    int at = 0;
    for (long long i = 0; i < n; ++i) {
        at += cFixedFont::advance(text[i], mFont->size());
        advances[i] = at;
    }
    return true;
}

}  // namespace qortest

namespace qortest {

void cRecordingCanvas::record(sDrawCall c) {
    c.x += mOriginX;
    c.y += mOriginY;
    if (c.op == "line") {
        c.w += mOriginX;
        c.h += mOriginY;
    }
    cRecordingCanvas* sink = mSink ? mSink : this;
    sink->calls.push_back(c);
    if (sink->mPaint) paint(sink->calls.back());
}

void cRecordingCanvas::recordRegion(const char* op, const sRect* r) {
    cRecordingCanvas* sink = mSink ? mSink : this;
    if (!sink->recordRegions) return;
    sDrawCall c;
    c.op = op;
    if (r) {
        c.x = r->x + mOriginX;
        c.y = r->y + mOriginY;
        c.w = r->w;
        c.h = r->h;
    }
    sink->calls.push_back(c);
}

bool cRecordingCanvas::clip(sRect* r) {
    if (!r) return false;
    recordRegion("clip", r);
    region(r, 0);
    return true;
}

bool cRecordingCanvas::unclip(sRect* r) {
    if (!r) return false;
    recordRegion("unclip", r);
    region(r, 1);
    return true;
}

bool cRecordingCanvas::select() {
    recordRegion("select", nullptr);
    mSelected = mPending;
    return true;
}

bool cRecordingCanvas::canDrawAt(sRect* r) {
    return r && r->x < mW && r->y < mH && r->x + r->w > 0 && r->y + r->h > 0;
}

cCanvas* cRecordingCanvas::subCanvas(sRect* r) {
    if (!r) return nullptr;
    auto* sub = new cRecordingCanvas(r->w, r->h, mFont ? mFont->size() : 10);
    sub->mSink = mSink ? mSink : this;
    sub->mOriginX = mOriginX + r->x;
    sub->mOriginY = mOriginY + r->y;
    sub->mParentCanvas = this;
    sub->mBounds = {std::max(mBounds.left, sub->mOriginX), std::max(mBounds.top, sub->mOriginY),
                    std::min(mBounds.right, sub->mOriginX + r->w), std::min(mBounds.bottom, sub->mOriginY + r->h)};
    return sub;
}

cCanvas* cRecordingCanvas::offscreen(int w, int h, int, int) {
    cRecordingCanvas* sink = mSink ? mSink : this;
    if (!sink->allowOffscreen) return nullptr;
    sDrawCall c;
    c.op = "offscreen";
    c.x = mOriginX;
    c.y = mOriginY;
    c.w = w;
    c.h = h;
    sink->calls.push_back(c);
    auto* off = new cRecordingCanvas(w, h, mFont ? mFont->size() : 10);
    off->mSink = sink;
    off->mOriginX = mOriginX;
    off->mOriginY = mOriginY;
    off->mParentCanvas = this;
    off->mBounds = {std::max(mBounds.left, mOriginX), std::max(mBounds.top, mOriginY),
                    std::min(mBounds.right, mOriginX + w), std::min(mBounds.bottom, mOriginY + h)};
    return off;
}

bool cRecordingCanvas::draw(int x, int y, cCanvas* from, int, int, int, int) {
    if (!from) return false;
    sDrawCall c;
    c.op = "blit";
    c.x = x;
    c.y = y;
    c.w = from->width();
    c.h = from->height();
    record(c);
    return true;
}

}  // namespace qortest

namespace qortest {

std::string dumpCalls(const std::vector<sDrawCall>& calls) {
    std::string out;
    for (auto& c : calls) {
        out += c.op;
        if (c.op != "select")
            out += " " + std::to_string(c.x) + "," + std::to_string(c.y) + "," + std::to_string(c.w) + "," +
                   std::to_string(c.h);
        if (c.op == "rect") out += " #" + std::to_string(c.fill) + (c.fill == c.border ? "" : "!");
        if (c.op == "text") out += " " + c.text;
        out += "\n";
    }
    return out;
}

}  // namespace qortest

namespace qortest {

// ---- the pixel model -------------------------------------------------------

void cRecordingCanvas::paintPixels(unsigned int background) {
    mPaint = true;
    pixels.assign(static_cast<size_t>(mW) * mH, background & 0xFFFFFF);
}

unsigned int cRecordingCanvas::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= mW || y >= mH || pixels.empty()) return 0xFFFFFFFFu;
    return pixels[static_cast<size_t>(y) * mW + x];
}

void cRecordingCanvas::region(const sRect* r, unsigned char on) {
    cRecordingCanvas* root = mSink ? mSink : this;
    if (!root->mPaint) return;
    const int W = root->mW, H = root->mH;
    if (mPending.empty()) {
        mPending.assign(static_cast<size_t>(W) * H, 0);
        for (int y = std::max(mBounds.top, 0); y < std::min(mBounds.bottom, H); ++y)
            for (int x = std::max(mBounds.left, 0); x < std::min(mBounds.right, W); ++x)
                mPending[static_cast<size_t>(y) * W + x] = 1;
    }
    const int l = std::max({r->x + mOriginX, mBounds.left, 0}), t = std::max({r->y + mOriginY, mBounds.top, 0});
    const int rr = std::min({r->x + mOriginX + r->w, mBounds.right, W});
    const int b = std::min({r->y + mOriginY + r->h, mBounds.bottom, H});
    for (int y = t; y < b; ++y)
        for (int x = l; x < rr; ++x) mPending[static_cast<size_t>(y) * W + x] = on;
}

bool cRecordingCanvas::drawable(int x, int y) const {
    if (x < mBounds.left || y < mBounds.top || x >= mBounds.right || y >= mBounds.bottom) return false;
    if (!mSelected.empty()) {
        const cRecordingCanvas* root = mSink ? mSink : this;
        if (!mSelected[static_cast<size_t>(y) * root->mW + x]) return false;
    }
    return mParentCanvas ? mParentCanvas->drawable(x, y) : true;
}

void cRecordingCanvas::put(int x, int y, unsigned int colour) {
    cRecordingCanvas* root = mSink ? mSink : this;
    if (x < 0 || y < 0 || x >= root->mW || y >= root->mH || !drawable(x, y)) return;
    root->pixels[static_cast<size_t>(y) * root->mW + x] = colour & 0xFFFFFF;
}

namespace {
// 0xAARRGGBB picture pixel -> 0x00BBGGRR canvas colour.
unsigned int canvasColour(unsigned int p) { return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF); }
}  // namespace

void cRecordingCanvas::paint(const sDrawCall& c) {
    cRecordingCanvas* root = mSink ? mSink : this;
    if (c.op == "rect") {
        for (int j = 0; j < c.h; ++j)
            for (int i = 0; i < c.w; ++i)
                put(c.x + i, c.y + j, i == 0 || j == 0 || i == c.w - 1 || j == c.h - 1 ? c.border : c.fill);
    } else if (c.op == "line" && root->platformLineEnds && (c.x == c.w || c.y == c.h)) {
        // As the platform strokes them: a vertical line covers the rows from
        // its upper end up to, not including, its lower end; a horizontal
        // one the columns from its left end up to its right end, whose pixel
        // it covers half, blended with what lies under it.
        if (c.y == c.h) {
            const int left = std::min(c.x, c.w), right = std::max(c.x, c.w);
            for (int x = left; x < right; ++x) put(x, c.y, c.color);
            const unsigned int under = root->pixel(right, c.y);
            if (under != 0xFFFFFFFFu) {
                unsigned int half = 0;
                for (int s = 0; s < 24; s += 8)
                    half |= ((((c.color >> s) & 0xFF) + ((under >> s) & 0xFF)) / 2) << s;
                put(right, c.y, half);
            }
        } else {
            for (int y = std::min(c.y, c.h); y < std::max(c.y, c.h); ++y) put(c.x, y, c.color);
        }
    } else if (c.op == "line") {
        int x0 = c.x, y0 = c.y;
        const int x1 = c.w, y1 = c.h;
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0), sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            put(x0, y0, c.color);
            if (x0 == x1 && y0 == y1) break;
            const int e2 = 2 * err;
            if (e2 >= dy) { err += dy; x0 += sx; }
            if (e2 <= dx) { err += dx; y0 += sy; }
        }
    } else if (c.op == "text") {
        paintGlyphs(c.x, c.y, c.text, mFont ? mFont->size() : 10, c.color, !c.transparent, mBackground,
                    [this](int x, int y, unsigned int colour) { put(x, y, colour); });
    } else if ((c.op == "bitmap" || c.op == "alpha") && c.pw > 0 && c.ph > 0) {
        for (int j = 0; j < c.h; ++j) {
            for (int i = 0; i < c.w; ++i) {
                const int sx = static_cast<int>(static_cast<long long>(i) * c.pw / c.w);
                const int sy = static_cast<int>(static_cast<long long>(j) * c.ph / c.h);
                const unsigned int p = c.pixels[static_cast<size_t>(sy) * c.pw + sx];
                unsigned int out = canvasColour(p);
                if (c.op == "alpha") {
                    const unsigned int a = p >> 24, under = root->pixel(c.x + i, c.y + j);
                    if (under == 0xFFFFFFFFu) continue;
                    const unsigned int src = out;
                    out = 0;
                    for (int s = 0; s < 24; s += 8) {
                        const unsigned int v = (((src >> s) & 0xFF) * a + ((under >> s) & 0xFF) * (255 - a) + 127) / 255;
                        out |= v << s;
                    }
                }
                put(c.x + i, c.y + j, out);
            }
        }
    }
}

// ---- expected images -------------------------------------------------------

cPixelImage::cPixelImage(int w, int h, unsigned int background)
    : mW(w), mH(h), mPixels(static_cast<size_t>(w) * h, background & 0xFFFFFF), mIgnored(mPixels.size(), 0) {}

void cPixelImage::put(int x, int y, unsigned int c) {
    if (x >= 0 && y >= 0 && x < mW && y < mH) mPixels[static_cast<size_t>(y) * mW + x] = c & 0xFFFFFF;
}

void cPixelImage::fill(int x, int y, int w, int h, unsigned int colour) {
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) put(x + i, y + j, colour);
}

void cPixelImage::rect(int x, int y, int w, int h, unsigned int inside, unsigned int border) {
    fill(x, y, w, h, border);
    fill(x + 1, y + 1, w - 2, h - 2, inside);
}

void cPixelImage::text(int x, int y, const std::string& t, int size, unsigned int colour) {
    paintGlyphs(x, y, t, size, colour, false, 0, [this](int px, int py, unsigned int c) { put(px, py, c); });
}

void cPixelImage::ignore(int x, int y, int w, int h) {
    for (int j = std::max(y, 0); j < std::min(y + h, mH); ++j)
        for (int i = std::max(x, 0); i < std::min(x + w, mW); ++i) mIgnored[static_cast<size_t>(j) * mW + i] = 1;
}

std::string cPixelImage::compare(const cRecordingCanvas& canvas, int atX, int atY) const {
    int count = 0, l = mW, t = mH, r = -1, b = -1;
    std::string first;
    for (int y = 0; y < mH; ++y) {
        for (int x = 0; x < mW; ++x) {
            if (mIgnored[static_cast<size_t>(y) * mW + x]) continue;
            const unsigned int want = at(x, y), got = canvas.pixel(x + atX, y + atY);
            if (want == got) continue;
            if (++count <= 4) {
                char buf[96];
                std::snprintf(buf, sizeof buf, " (%d,%d) got %06X want %06X;", x, y, got, want);
                first += buf;
            }
            l = std::min(l, x);
            t = std::min(t, y);
            r = std::max(r, x);
            b = std::max(b, y);
        }
    }
    if (!count) return "";
    char buf[128];
    std::snprintf(buf, sizeof buf, "%d pixels differ in x %d..%d, y %d..%d:", count, l, r, t, b);
    return buf + first;
}

bool cPixelImage::savePPM(const std::string& path, const cRecordingCanvas* canvas) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const int W = canvas ? 2 * mW + 4 : mW;
    std::fprintf(f, "P6\n%d %d\n255\n", W, mH);
    for (int y = 0; y < mH; ++y) {
        for (int x = 0; x < W; ++x) {
            unsigned int c = 0x808080;
            if (x < mW) c = at(x, y);
            else if (canvas && x >= mW + 4) c = canvas->pixel(x - mW - 4, y);
            const unsigned char px[3] = {static_cast<unsigned char>(c), static_cast<unsigned char>(c >> 8),
                                         static_cast<unsigned char>(c >> 16)};
            std::fwrite(px, 1, 3, f);
        }
    }
    return std::fclose(f) == 0;
}

}  // namespace qortest
