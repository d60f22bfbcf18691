#include "uitoolkit/progressbar.h"

#include "uitoolkit/themevalues.h"

#include <algorithm>

const unsigned int cProgressChild::clrDataProg[20] = {
    0xA9EF9E, 0x9AE587, 0x97E383, 0x8FE078, 0x87DE6D, 0x84DD69, 0x84DD69, 0x84DD69, 0x84DD69, 0x84DD69,
    0x84DD69, 0x84DD69, 0x84DD69, 0x84DD69, 0xC6EBB7, 0xC8EBBA, 0xCCEDBF, 0xD5EFCC, 0xD6F2CF, 0xE2FCE0};
const unsigned int cProgressChild::clrDataBack[20] = {
    0xF3F1F0, 0xE6E1DD, 0xE4DFDB, 0xE2DDD9, 0xE1DDD9, 0xE0DCD8, 0xE0DCD8, 0xE0DCD8, 0xE0DCD8, 0xE0DCD9,
    0xE0DCD9, 0xE0DCD9, 0xE0DDD9, 0xE1DDDA, 0xE9E6E3, 0xEBE8E4, 0xF0ECE9, 0xF4F0ED, 0xFAF7F3, 0xF8F8F7};

namespace {

// The frame's pixel: red 241, green 213, blue 198.
constexpr unsigned int kFramePixel = 0xF1D5C6;

// Canvas colours keep red in the low byte, pixels keep blue there.
unsigned int canvasToPixel(unsigned int c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

}  // namespace

// ---------------------------------------------------------------------------
// The animation job

cProgressViewUpdateJob::~cProgressViewUpdateJob() { terminate(4000); }

int cProgressViewUpdateJob::cmd() {
    cSafeCriticalSectionAccess lock(&mLock);
    return mCmd;
}

void cProgressViewUpdateJob::setCmd(int c) {
    cSafeCriticalSectionAccess lock(&mLock);
    mCmd = c;
}

void cProgressViewUpdateJob::setPosInt(int p) {
    cSafeCriticalSectionAccess lock(&mLock);
    mShown = p;
}

void cProgressViewUpdateJob::setRangeInt(int r) {
    cSafeCriticalSectionAccess lock(&mLock);
    mRange = r;
    if (mShown > r) mShown = r;
}

int cProgressViewUpdateJob::shownPos() {
    cSafeCriticalSectionAccess lock(&mLock);
    return mShown;
}

bool cProgressViewUpdateJob::running() {
    cSafeCriticalSectionAccess lock(&mLock);
    return mRunning;
}

void cProgressViewUpdateJob::startProgress() {
    {
        cSafeCriticalSectionAccess lock(&mLock);
        if (mRunning) return;
        // Claimed under the lock, so that two callers start the bar once.
        mRunning = true;
        mFinishing = false;
    }
    postPos(0);
    cSafeCriticalSectionAccess lock(&mLock);
    mShown = 0;
    mCmd = cmdStart;
}

void cProgressViewUpdateJob::setPos(int pos, bool noWait) {
    startProgress();
    if (!noWait) {
        // A start or stop still pending would be replaced by the move; wait
        // for the job to take it (only while the job runs at all).
        for (int waited = 0; waited < kPendingWaitMs && runs(); waited += 10) {
            int c = cmd();
            if (c == cmdNone || c == cmdMove) break;
            cJob::sleep(10);
        }
    }
    cSafeCriticalSectionAccess lock(&mLock);
    mFinishing = false;
    mCmd = cmdMove;
    mTarget = pos;
}

void cProgressViewUpdateJob::stopProgress(bool immediately) {
    cSafeCriticalSectionAccess lock(&mLock);
    if (!mRunning) return;
    if (immediately) {
        mCmd = cmdStop;
        mRunning = false;
        mFinishing = false;
        return;
    }
    if (mFinishing) return;
    // The run to full, the hold and the fade-out happen on the job, so that
    // the caller (often the UI thread) never sleeps here.
    mFinishing = true;
    mTarget = mRange;
    mCmd = cmdFinish;
}

bool cProgressViewUpdateJob::tick() {
    for (int i = 0; i < kTickMs / 5; ++i) {
        if (haveToStop()) return false;
        cJob::sleep(5);
    }
    return !haveToStop();
}

bool cProgressViewUpdateJob::newCommand() { return cmd() != cmdNone; }

void cProgressViewUpdateJob::postPos(int p) {
    if (mElement) mElement->notifyAction(new cProgressChild::cSetProgressRequestAction(p));
}

void cProgressViewUpdateJob::postOpacity(double o) {
    if (mElement) mElement->notifyAction(new cProgressChild::cSetOpacityRequestAction(o));
}

bool cProgressViewUpdateJob::runMove(int& fade, bool& interrupted) {
    int t, s;
    {
        cSafeCriticalSectionAccess lock(&mLock);
        t = mTarget;
        mAnimEnd = t;
        // A move backwards restarts from the empty bar.
        s = mShown > t ? 0 : mShown;
    }
    if (fade > 0) postOpacity(0.0);
    fade = 0;
    interrupted = false;
    if (s != t) {
        double p = s, step = double(t - s) / kSteps;
        for (int i = 0; i < kSteps; ++i) {
            postPos(int(p));
            if (!tick()) return false;
            if (newCommand()) {
                interrupted = true;
                break;
            }
            p += step;
        }
    }
    postPos(t);
    setPosInt(t);
    return true;
}

bool cProgressViewUpdateJob::fadeOut(int& fade) {
    for (; fade <= 9; ++fade) {
        postOpacity(fade * 0.1);
        if (!tick()) return false;
        if (newCommand()) break;
    }
    postOpacity(1.0);
    fade = 10;
    return true;
}

int cProgressViewUpdateJob::job() {
    if (haveToStop()) return 0;
    int fade = 10;
    for (;;) {
        if (!tick()) return 0;
        int c;
        {
            cSafeCriticalSectionAccess lock(&mLock);
            c = mCmd;
            mCmd = cmdNone;
        }
        switch (c) {
            case cmdStart:
                for (; fade > 0; --fade) {
                    postOpacity(fade * 0.1);
                    if (!tick()) return 0;
                    if (newCommand()) break;
                }
                postOpacity(0.0);
                fade = 0;
                break;
            case cmdStop:
                if (!fadeOut(fade)) return 0;
                break;
            case cmdMove: {
                bool interrupted;
                if (!runMove(fade, interrupted)) return 0;
                break;
            }
            case cmdFinish: {
                bool interrupted;
                if (!runMove(fade, interrupted)) return 0;
                if (interrupted) break;
                bool replaced = false;
                for (int i = 0; i < kHoldMs / 5; ++i) {
                    if (haveToStop()) return 0;
                    if (newCommand()) {
                        replaced = true;
                        break;
                    }
                    cJob::sleep(5);
                }
                if (replaced) break;
                {
                    cSafeCriticalSectionAccess lock(&mLock);
                    // A start, move or stop that came meanwhile wins.
                    if (!mFinishing || mCmd != cmdNone) break;
                    mFinishing = false;
                    mRunning = false;
                }
                if (!fadeOut(fade)) return 0;
                break;
            }
            default:
                break;
        }
    }
}

// ---------------------------------------------------------------------------
// The bar

cProgressChild::cProgressChild() {}

cProgressChild::~cProgressChild() {
    // The job posts to this bar: it ends before any of the bar goes.
    shutdown();
}

void cProgressChild::shutdown() {
    mJob.terminate(4000);
    mJob.mElement = nullptr;
}

void cProgressChild::onInitData() {
    cChildElement::onInitData();
    mJob.mElement = this;
    mJob.start();
    mRange = 0;
    mPos = 0;
    mOpacity = 1.0;
    mPassiveBg = currentThemeValues()->color(14);
    mPassiveBorder = currentThemeValues()->color(21);
    buildProgressMap();
}

void cProgressChild::setRange(int range) {
    if (range <= 0) return;
    mRange = range;
    // The shown position is lowered by the job's copy; the bar's own
    // position is clamped when the picture is built (UI thread only).
    mJob.setRangeInt(range);
}

void cProgressChild::setPos(int pos, bool noWait) {
    int r = mRange.load();
    pos = std::max(0, std::min(pos, r));
    mJob.setPos(pos, noWait);
}

void cProgressChild::setPassiveBgColor(unsigned int c, bool repaintNow) {
    mPassiveBg = c;
    if (repaintNow) repaint();
}

void cProgressChild::setPassiveBorderColor(unsigned int c, bool repaintNow) {
    mPassiveBorder = c;
    if (repaintNow) repaint();
}

void cProgressChild::xIntSetPos(int pos) {
    mPos = pos;
    buildProgressMap();
    repaint();
}

void cProgressChild::xIntSetOpacity(double opacity) {
    mOpacity = opacity;
    buildProgressMap();
    repaint();
}

bool cProgressChild::onAction(cChildElement* src, cChildAction* a) {
    if (src == this && a) {
        if (auto* p = dynamic_cast<cSetProgressRequestAction*>(a)) {
            mPos = p->pos;
        } else if (auto* o = dynamic_cast<cSetOpacityRequestAction*>(a)) {
            mOpacity = o->opacity;
        } else {
            return cChildElement::onAction(src, a);
        }
        buildProgressMap();
        repaint();
        return true;
    }
    return cChildElement::onAction(src, a);
}

void cProgressChild::onSizeChanged() { buildProgressMap(); }

void cProgressChild::buildProgressMap() {
    int w = width(), h = height();
    if (w < 3 || h < 3) return;
    int range = mRange.load();
    int pos = std::max(0, std::min(mPos, range));
    // 64-bit: a wide bar times a large position overflows 32 bits.
    int d = range > 0 ? int((long long)w * pos / range) : 0;
    int inner = h - 2;
    if (mDone.height() != inner || mRest.height() != inner) {
        _typebuf<unsigned int> col;
        if (!cPicture::hStretch(clrDataProg, 20, 1, inner, col) || col.count() < inner) return;
        mDone.create(col.data(), 1, inner, true);
        if (!cPicture::hStretch(clrDataBack, 20, 1, inner, col) || col.count() < inner) return;
        mRest.create(col.data(), 1, inner, true);
    }
    if (mBar.width() != w || mBar.height() != h) {
        if (!mBar.create(w, h)) return;
    }
    if (mDone.empty() || mRest.empty() || mBar.empty()) return;
    double o = std::max(0.0, std::min(1.0, mOpacity));
    unsigned int passive = canvasToPixel(mPassiveBg);
    unsigned int* px = mBar.raw();
    const unsigned int* done = mDone.raw();
    const unsigned int* rest = mRest.raw();
    for (int r = 0; r < h; ++r) {
        unsigned int* row = px + (long long)r * w;
        if (r == 0 || r == h - 1) {
            std::fill(row, row + w, kFramePixel);
            continue;
        }
        row[0] = row[w - 1] = kFramePixel;
        unsigned int dg = done[r - 1], rg = rest[r - 1];
        for (int c = 1; c <= w - 2; ++c) {
            unsigned int g = c < d ? dg : rg;
            unsigned int out = 0;
            for (int k = 0; k < 3; ++k) {
                unsigned int pb = (passive >> (8 * k)) & 0xFF, gb = (g >> (8 * k)) & 0xFF;
                out |= (unsigned int)(pb * o + gb * (1.0 - o)) << (8 * k);
            }
            row[c] = out;
        }
    }
}

void cProgressChild::paintAt(cCanvas* canvas, int dx, int dy, unsigned int border) {
    int w = width(), h = height();
    if (mJob.runs() && w >= 3 && h >= 3 && mJob.running() && !mBar.empty()) {
        canvas->drawBitmap(dx, dy, &mBar, -1, -1);
    } else {
        sRect r{dx, dy, w, h};
        canvas->drawRect(&r, mPassiveBg, border);
    }
}

void cProgressChild::onPaint(cCanvas* canvas) {
    if (canvas) paintAt(canvas, 0, 0, mPassiveBorder);
}

bool cProgressChild::onBackgroundRequest(cCanvas* canvas, sRect* rect) {
    if (!canvas || !rect) return false;
    paintAt(canvas, -rect->x, -rect->y, currentThemeValues()->color(21));
    return true;
}
