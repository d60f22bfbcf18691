#include "cihlpdoc/sidoc.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const char* defaultStdFace() { return "Tahoma"; }
const char* defaultFixedFace() { return "Courier New"; }

tSiDocFaceName gStdFace = defaultStdFace;
tSiDocFaceName gFixedFace = defaultFixedFace;

const char* const kNamedFaces[] = {"Malgun Gothic", "Verdana", "Lucida Sans", "Microsoft YaHei", "PMingLiU"};

int roundHalfUp(double v) { return static_cast<int>(std::floor(v + 0.5)); }

constexpr int kNoLimit = 0x7FFFFFFF;

void fill(cCanvas* canvas, int x, int y, int w, int h, unsigned int colour) {
    if (w <= 0 || h <= 0) return;
    sRect r{x, y, w, h};
    canvas->drawRect(&r, colour, colour);
}

// The edge a box may reach from `from` with its own extent (-1: natural) and
// its parent's limit (-1: none).
int edgeOf(int from, int extent, int limit) {
    long long edge = extent > 0 ? static_cast<long long>(from) + extent : kNoLimit;
    if (limit >= 0 && limit < edge) edge = limit;
    return static_cast<int>(std::min<long long>(edge, kNoLimit));
}

// A container measures a child that does not fit on a line twice (where it
// overflowed and again at the start of the next line), and measures each
// child again before drawing it; over nested containers that compounds, so
// a hostile tree could take 2^depth steps.  One layout from the outermost
// container therefore gets a budget of steps: a million (a chain of some
// eighteen such boxes, far more than any real document nests, and a fraction
// of a second of work) plus a share for every box of its tree, and it fails
// once the budget is spent.
struct sLayoutBudget {
    int depth = 0;
    long long left = 0;
};
thread_local sLayoutBudget gBudget;

constexpr long long kLayoutStepsPerBox = 256;
constexpr long long kLayoutStepsBase = 1 << 20;

long long countBoxes(const cSiDocContainer& c) {
    long long n = 1;
    for (std::size_t i = 0; i < c.count(); ++i) {
        const cSiDocBox* b = c.child(i);
        const cSiDocContainer* inner = dynamic_cast<const cSiDocContainer*>(b);
        n += inner ? countBoxes(*inner) : 1;
    }
    return n;
}

struct sLayoutScope {
    explicit sLayoutScope(const cSiDocContainer& c) {
        if (gBudget.depth++ == 0) gBudget.left = kLayoutStepsBase + kLayoutStepsPerBox * countBoxes(c);
    }
    ~sLayoutScope() { --gBudget.depth; }
    sLayoutScope(const sLayoutScope&) = delete;
    sLayoutScope& operator=(const sLayoutScope&) = delete;
    // False once the layout has used up its steps.
    static bool step() { return --gBudget.left >= 0; }
};

}  // namespace

void __setSiDocFaceHooks(tSiDocFaceName stdFace, tSiDocFaceName fixedFace) {
    gStdFace = stdFace ? stdFace : defaultStdFace;
    gFixedFace = fixedFace ? fixedFace : defaultFixedFace;
}

const char* siDocFaceName(int face) {
    if (face == 0) return gStdFace();
    if (face == 1) return gFixedFace();
    if (face >= 2 && face <= 6) return kNamedFaces[face - 2];
    return nullptr;
}

// ---------------------------------------------------------------------------
// cSiDocBox

void cSiDocBox::setMargins(int left, int top, int right, int bottom) {
    if (left >= 0) mLeft = left;
    if (top >= 0) mTop = top;
    if (right >= 0) mRight = right;
    if (bottom >= 0) mBottom = bottom;
}

void cSiDocBox::setWidth(int w) {
    if (w == -1 || w > 0) mWidth = w;
}

void cSiDocBox::setHeight(int h) {
    if (h == -1 || h > 0) mHeight = h;
}

// ---------------------------------------------------------------------------
// cSiDocText

int cSiDocText::selectFont(cCanvas* canvas, sSiDocDrawProps const& props) {
    cFontObject* f = mProvider ? mProvider->font(mFontId) : nullptr;
    if (!f) f = props.font;
    if (f) canvas->setTextMode(f);
    sSize space;
    if (!canvas->textSize(" ", 1, space)) space = sSize{};
    return roundHalfUp(space.h * __canvasTextWrapYFactor());
}

bool cSiDocText::wantsSize(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) {
    if (fixedSize()) {
        size = sSize{mWidth, mHeight};
        return true;
    }
    size = sSize{};
    if (!canvas) return false;
    size.h = selectFont(canvas, props);
    if (!mText.empty()) {
        sSize t;
        if (!canvas->textSize(mText.get(), -1, t)) t = sSize{};
        size = sSize{t.w, roundHalfUp(t.h * __canvasTextWrapYFactor())};
        if (mWidth > 0) size.w = mWidth;
        if (mHeight > 0) size.h = mHeight;
    }
    return true;
}

bool cSiDocText::draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) {
    size = sSize{};
    if (!canvas) return false;
    size.h = selectFont(canvas, props);
    if (mText.empty() || props.widthLimit == 0 || props.heightLimit == 0) return false;
    sSize t;
    if (!canvas->textSize(mText.get(), -1, t)) return false;
    size = sSize{t.w, roundHalfUp(t.h * __canvasTextWrapYFactor())};
    if (mWidth > 0) size.w = mWidth;
    if (mHeight > 0) size.h = mHeight;
    if (props.widthLimit >= 0 && static_cast<long long>(props.x) + size.w > props.widthLimit)
        size.w = std::max(0, props.widthLimit - props.x);
    if (props.heightLimit >= 0 && static_cast<long long>(props.y) + size.h > props.heightLimit)
        size.h = std::max(0, props.heightLimit - props.y);
    if (size.w <= 0 || size.h <= 0) return false;

    const unsigned int fg = mColor != 0xFFFFFFFFu ? mColor : props.fgColor;
    const unsigned int bg = bgFor(props);
    canvas->setTextColors(fg, bg);
    // The box beyond the measured text takes the background; the text paints
    // its own.
    if (size.w > t.w) fill(canvas, props.x + t.w, props.y, size.w - t.w, size.h, bg);
    if (size.h > t.h) fill(canvas, props.x, props.y + t.h, std::min(t.w, size.w), size.h - t.h, bg);
    canvas->drawTextLimited(props.x, props.y, size.w, size.h, cCanvas::taLeft, false, 0, 0, mText.get(), -1, nullptr,
                            false);
    return true;
}

bool cSiDocLink::draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) {
    if (!cSiDocText::draw(canvas, props, size)) return false;
    if (props.sink && mRef) props.sink->setActive(mRef, props.x, props.y, size.w, size.h);
    return true;
}

// ---------------------------------------------------------------------------
// Pictures

bool cSiDocImage::wantsSize(cCanvas*, sSiDocDrawProps const&, sSize& size) {
    if (fixedSize()) {
        size = sSize{mWidth, mHeight};
        return true;
    }
    if (!mPicture) {
        size = sSize{};
        return false;
    }
    size = sSize{mNaturalW > 0 ? mNaturalW : mPicture->width(), mNaturalH > 0 ? mNaturalH : mPicture->height()};
    return true;
}

bool cSiDocImage::draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) {
    size = sSize{};
    if (!canvas || !mPicture || mPicture->empty() || props.widthLimit == 0 || props.heightLimit == 0) return false;
    const int pw = mPicture->width(), ph = mPicture->height();
    int w = mWidth > 0 ? mWidth : pw;
    int h = mHeight > 0 ? mHeight : ph;
    if (props.widthLimit >= 0 && static_cast<long long>(props.x) + w > props.widthLimit)
        w = std::max(0, props.widthLimit - props.x);
    if (props.heightLimit >= 0 && static_cast<long long>(props.y) + h > props.heightLimit)
        h = std::max(0, props.heightLimit - props.y);
    size = sSize{w, h};
    if (w <= 0 || h <= 0) return true;

    if (mPlacement == ipStretch) {
        canvas->drawBitmapResized(mPicture, w, h, props.x, props.y, cPicture::rmStretch);
        return true;
    }
    if (mPlacement != ipNatural) return false;
    if (w < pw || h < ph) {
        // Only the part inside the box is shown.
        sRect r{0, 0, std::min(w, pw), std::min(h, ph)};
        cPicture part;
        if (mPicture->subPictTo(r, &part)) canvas->drawBitmap(props.x, props.y, &part, r.w, r.h);
    } else {
        canvas->drawBitmap(props.x, props.y, mPicture, pw, ph);
    }
    const unsigned int bg = bgFor(props);
    if (w > pw) fill(canvas, props.x + pw, props.y, w - pw, h, bg);
    if (h > ph) fill(canvas, props.x, props.y + ph, w, h - ph, bg);
    return true;
}

bool cSiDocImageLink::draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) {
    if (!cSiDocImage::draw(canvas, props, size)) return false;
    if (props.sink && mRef) props.sink->setActive(mRef, props.x, props.y, size.w, size.h);
    return true;
}

// ---------------------------------------------------------------------------
// Containers

bool cSiDocContainer::addChild(cSiDocBox* box) {
    if (!box) return false;
    mChildren.emplace_back(box);
    return true;
}

bool cSiDocContainer::wantsSize(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) {
    if (fixedSize()) {
        size = sSize{mWidth, mHeight};
        return true;
    }
    return layout(canvas, props, size, false);
}

bool cSiDocContainer::draw(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size) {
    return layout(canvas, props, size, true);
}

bool cSiDocContainer::layout(cCanvas* canvas, sSiDocDrawProps const& props, sSize& size, bool drawing) {
    size = sSize{};
    if (!canvas) return false;
    sLayoutScope scope(*this);
    if (!sLayoutScope::step()) return false;
    const int x = props.x, y = props.y;
    int R = edgeOf(x, mWidth, props.widthLimit);
    int B = edgeOf(y, mHeight, props.heightLimit);

    if (mChildren.empty()) {
        size = sSize{mWidth > 0 ? mWidth : 0, mHeight > 0 ? mHeight : 0};
        if (drawing && mWidth > 0 && mHeight > 0 && mBg != 0xFFFFFFFFu) fill(canvas, x, y, mWidth, mHeight, mBg);
        return false;
    }
    if (mAlign > alJustify) return false;
    // Without a width of its own or a limit from outside, the right edge is
    // no place to align to: centred and right-aligned lines are laid out (and
    // drawn) as left-aligned ones.
    const bool unbounded = mWidth <= 0 && props.widthLimit < 0;
    const unsigned int align = unbounded && (mAlign == alRight || mAlign == alCenter) ? alLeft : mAlign;
    R -= mRight;
    B -= mBottom;

    sSiDocDrawProps cp(props);
    if (cFontObject* f = mProvider ? mProvider->font(mFontId) : nullptr) cp.font = f;
    if (mColor != 0xFFFFFFFFu) cp.fgColor = mColor;
    if (mBg != 0xFFFFFFFFu) cp.bgColor = mBg;
    if (cp.font) canvas->setTextMode(cp.font);
    sSize space;
    if (!canvas->textSize(" ", 1, space)) space = sSize{};
    const int S = space.w;

    long long contentW = 0;
    long long Y = y;
    const std::size_t n = mChildren.size();
    std::size_t first = 0;
    while (first < n) {
        // Measure pass: which children share this line.
        long long pen = x;
        std::size_t end = first;
        int gaps = 0;
        bool overflow = false;
        bool prevWord = false;
        for (std::size_t j = first; j < n; ++j) {
            cSiDocBox* c = mChildren[j].get();
            if (j != first && c->breaks()) break;
            cp.x = static_cast<int>(std::min<long long>(pen + c->marginLeft(), kNoLimit));
            cp.y = static_cast<int>(std::min<long long>(Y, kNoLimit));
            cp.widthLimit = R - c->marginRight();
            cp.heightLimit = B;
            if (!sLayoutScope::step()) return false;
            // A box that cannot measure itself keeps what it reported.
            c->wantsSize(canvas, cp, c->measured());
            const bool gap = c->isWord() && prevWord;
            long long outer = static_cast<long long>(c->marginLeft()) + c->measured().w + c->marginRight() + (gap ? S : 0);
            if (pen + outer <= R || j == first) {
                pen += outer;
                if (gap) ++gaps;
                prevWord = c->isWord();
                end = j + 1;
            } else {
                overflow = true;
                break;
            }
        }

        double start = x;
        double gapW = S;
        switch (align) {
        case alLeft: break;
        case alRight: start = static_cast<double>(R) - (pen - x); break;
        case alCenter: start = x + static_cast<double>((R - pen) / 2); break;
        case alJustify:
            if (overflow && gaps > 0) gapW = S + static_cast<double>(R - pen) / gaps;
            break;
        }

        cp.widthLimit = R;
        cp.heightLimit = B;
        if (end - first == 1) {
            cSiDocBox* c = mChildren[first].get();
            cp.x = static_cast<int>(std::max<double>(std::min<double>(start + c->marginLeft(), kNoLimit), -kNoLimit));
            cp.y = static_cast<int>(std::min<long long>(Y + c->marginTop(), kNoLimit));
            sSize s = c->measured();
            if (drawing) {
                if (!sLayoutScope::step()) return false;
                c->draw(canvas, cp, s);
            }
            Y += c->marginTop() + s.h;
            contentW = std::max<long long>(contentW, s.w);
        } else {
            double p = start;
            long long lineH = 0;
            bool prev = false;
            for (std::size_t j = first; j < end; ++j) {
                cSiDocBox* c = mChildren[j].get();
                if (c->isWord() && prev) p += gapW;
                prev = c->isWord();
                const double bx = std::max<double>(std::min<double>(p + c->marginLeft(), kNoLimit), -kNoLimit);
                cp.x = static_cast<int>(bx);
                cp.y = static_cast<int>(std::min<long long>(Y + c->marginTop(), kNoLimit));
                sSize s = c->measured();
                if (drawing) {
                    if (!sLayoutScope::step()) return false;
                    c->draw(canvas, cp, s);
                    const int lh = c->marginTop() + s.h + c->marginBottom();
                    const int top = static_cast<int>(Y);
                    fill(canvas, cp.x - c->marginLeft(), top, c->marginLeft(), lh, cp.bgColor);
                    fill(canvas, cp.x + s.w, top, c->marginRight(), lh, cp.bgColor);
                    fill(canvas, cp.x, top, s.w, c->marginTop(), cp.bgColor);
                    fill(canvas, cp.x, cp.y + s.h, s.w, c->marginBottom(), cp.bgColor);
                }
                p = static_cast<double>(cp.x) + s.w + c->marginRight();
                lineH = std::max<long long>(lineH, static_cast<long long>(c->marginTop()) + s.h + c->marginBottom());
            }
            Y += lineH;
            contentW = std::max<long long>(contentW, static_cast<long long>(p) - x);
        }
        first = end;
    }
    // A layout whose budget ran out inside a child is no layout.
    if (gBudget.left < 0) {
        size = sSize{};
        return false;
    }
    size.w = mWidth > 0 ? mWidth : static_cast<int>(std::min<long long>(contentW, kNoLimit));
    size.h = mHeight > 0 ? mHeight : static_cast<int>(std::min<long long>(Y - y, kNoLimit));
    return true;
}
