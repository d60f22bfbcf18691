#include "recordingcanvas.h"

#include <algorithm>
#include <cstdlib>
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
    if (!sink()->pixels.empty()) {
        if (!transparent) fill(x, y, s.w, s.h, mBackground);
        for (const sRect& g : glyphBoxes(utf16(c.text), x, y, mFont ? mFont->size() : 10)) fill(g.x, g.y, g.w, g.h, mText);
    }
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
    if (!sink()->pixels.empty()) {
        this->fill(r->x, r->y, r->w, r->h, fill);
        if (border != fill && r->w > 0 && r->h > 0) {
            this->fill(r->x, r->y, r->w, 1, border);
            this->fill(r->x, r->y + r->h - 1, r->w, 1, border);
            this->fill(r->x, r->y, 1, r->h, border);
            this->fill(r->x + r->w - 1, r->y, 1, r->h, border);
        }
    }
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
    if (!sink()->pixels.empty() && picture->raw())
        for (int py = 0; py < c.h; ++py)
            for (int px = 0; px < c.w; ++px) {
                unsigned int p = picture->raw()[static_cast<long long>(py) * picture->height() / c.h * picture->width() +
                                                static_cast<long long>(px) * picture->width() / c.w];
                plot(x + px, y + py, ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF));
            }
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
    cRecordingCanvas* root = sink();
    if (!root->pixels.empty() && picture->raw())
        for (int py = 0; py < c.h; ++py)
            for (int px = 0; px < c.w; ++px) {
                unsigned int p = picture->raw()[static_cast<long long>(py) * picture->height() / c.h * picture->width() +
                                                static_cast<long long>(px) * picture->width() / c.w];
                unsigned int a = p >> 24, under = root->pixel(at->x + px + mOriginX, at->y + py + mOriginY);
                if (a == 0 || under == 0xFFFFFFFF) continue;
                unsigned int out = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    unsigned int src = (p >> (8 * (2 - ch))) & 0xFF, dst = (under >> (8 * ch)) & 0xFF;
                    out |= ((src * a + dst * (255 - a) + 127) / 255) << (8 * ch);
                }
                plot(at->x + px, at->y + py, out);
            }
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
    if (!sink()->pixels.empty()) {
        int x0 = a->x, y0 = a->y;
        const int dx = std::abs(b->x - x0), dy = -std::abs(b->y - y0), sx = x0 < b->x ? 1 : -1, sy = y0 < b->y ? 1 : -1;
        for (int err = dx + dy;;) {
            plot(x0, y0, mLine);
            if (x0 == b->x && y0 == b->y) break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }
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
    (mSink ? mSink : this)->calls.push_back(c);
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
    regionSet(r, 0);
    return true;
}

bool cRecordingCanvas::unclip(sRect* r) {
    if (!r) return false;
    recordRegion("unclip", r);
    regionSet(r, 1);
    return true;
}

bool cRecordingCanvas::select() {
    recordRegion("select", nullptr);
    cRecordingCanvas* root = sink();
    root->mActive = root->mPending;
    return true;
}

void cRecordingCanvas::enablePixels(unsigned int background) {
    pixels.assign(static_cast<std::size_t>(mW) * mH, background & 0xFFFFFF);
    mPending.assign(pixels.size(), 1);
    mActive = mPending;
}

unsigned int cRecordingCanvas::pixel(int x, int y) const {
    if (pixels.empty() || x < 0 || y < 0 || x >= mW || y >= mH) return 0xFFFFFFFF;
    return pixels[static_cast<std::size_t>(y) * mW + x];
}

void cRecordingCanvas::plot(int x, int y, unsigned int colour) {
    if (x < 0 || y < 0 || x >= mW || y >= mH) return;
    cRecordingCanvas* root = sink();
    const int rx = x + mOriginX, ry = y + mOriginY;
    if (rx < 0 || ry < 0 || rx >= root->mW || ry >= root->mH) return;
    const std::size_t at = static_cast<std::size_t>(ry) * root->mW + rx;
    if (root->mActive[at]) root->pixels[at] = colour & 0xFFFFFF;
}

void cRecordingCanvas::fill(int x, int y, int w, int h, unsigned int colour) {
    for (int py = std::max(y, 0); py < std::min(y + h, mH); ++py)
        for (int px = std::max(x, 0); px < std::min(x + w, mW); ++px) plot(px, py, colour);
}

void cRecordingCanvas::regionSet(const sRect* r, unsigned char on) {
    cRecordingCanvas* root = sink();
    if (root->pixels.empty()) return;
    for (int py = std::max(r->y + mOriginY, 0); py < std::min(r->y + mOriginY + r->h, root->mH); ++py)
        for (int px = std::max(r->x + mOriginX, 0); px < std::min(r->x + mOriginX + r->w, root->mW); ++px)
            root->mPending[static_cast<std::size_t>(py) * root->mW + px] = on;
}

std::vector<sRect> glyphBoxes(const std::u16string& text, int x, int y, int size) {
    std::vector<sRect> out;
    int at = x;
    for (char16_t u : text) {
        const int a = cFixedFont::advance(static_cast<unsigned short>(u), size);
        if (u != u' ' && a >= 3 && size > 4) out.push_back(sRect{at + 1, y + 2, a - 2, size - 4});
        at += a;
    }
    return out;
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
