// Repaint requests, painting of a subtree and the child under a point.
#include "uitoolkit/element.h"
#include "uitoolkit/window.h"

#include <algorithm>

void cChildElement::repaint(sRect* r) {
    if (!visible()) return;
    sArea a;
    if (!r) {
        a = {0, 0, mRect.w, mRect.h};
    } else {
        // Right and bottom are exclusive: an area reaching the far edge is
        // cut at the edge itself, so the last column and row are kept.
        a = {r->x, r->y, r->x + r->w, r->y + r->h};
        a.left = std::min(a.left, mRect.w);
        a.right = std::min(a.right, mRect.w);
        a.top = std::min(a.top, mRect.h);
        a.bottom = std::min(a.bottom, mRect.h);
    }
    repaintReq(&a);
}

bool cChildElement::repaintReq(sArea* area) {
    if (!mAttached || !mVisible) return false;
    if (!mParent) {
        return mTarget ? (mTarget->_rt_repaint(area), true) : false;
    }
    sArea a;
    if (area) {
        a = {area->left + mRect.x, area->top + mRect.y, area->right + mRect.x, area->bottom + mRect.y};
    } else {
        a = {mRect.x, mRect.y, mRect.x + mRect.w, mRect.y + mRect.h};
    }
    sPoint off;
    mParent->virtualOffset(&off);
    if (!fixedH()) {
        a.left += off.x;
        a.right += off.x;
        if (a.left < 0) a.left = 0;
        if (a.right < 1) return false;
    }
    if (!fixedV()) {
        a.top += off.y;
        a.bottom += off.y;
        if (a.top < 0) a.top = 0;
        if (a.bottom < 1) return false;
    }
    return mParent->repaintReq(&a);
}

void cChildElement::childVisibleRect(cChildElement* c, const sRect& client, const sPoint& off, sRect& out,
                                     sRect* full) {
    sRect r = c->mRect;
    sRect f = r;
    auto cut = [](int& pos, int& len, int lo, int hi) {
        int a = std::max(pos, lo), b = std::min(pos + len, hi);
        pos = a;
        len = b - a;
    };
    if (c->fixedH()) {
        cut(r.x, r.w, 0, mRect.w);
    } else {
        r.x += off.x;
        f.x += off.x;
        cut(r.x, r.w, client.x, client.x + client.w);
    }
    if (c->fixedV()) {
        cut(r.y, r.h, 0, mRect.h);
    } else {
        r.y += off.y;
        f.y += off.y;
        cut(r.y, r.h, client.y, client.y + client.h);
    }
    out = r;
    if (full) *full = f;
}

void cChildElement::processPaint(cCanvas* canvas) {
    if (!canvas) return;
    sRect client;
    sPoint off;
    clientRect(&client);
    virtualOffset(&off);
    client.x += mBorderWidth;
    client.y += mBorderWidth;
    client.w -= 2 * mBorderWidth;
    client.h -= 2 * mBorderWidth;
    // Children keep their own areas: exclude them from this element's paint.
    for (auto& kv : mOrder) {
        cChildElement* c = kv.second;
        if (!c->visible()) continue;
        sRect r;
        childVisibleRect(c, client, off, r, nullptr);
        if (r.w >= 1 && r.h >= 1) canvas->clip(&r);
    }
    canvas->select();
    bool painted = false;
    if (mDoubleBuffer) {
        if (cCanvas* back = canvas->offscreen(mRect.w, mRect.h, -1, -1)) {
            if (mTransparent && mParent) {
                sRect own = mRect;
                mParent->requestCustomBackground(back, &own);
            }
            onPaint(back);
            canvas->draw(0, 0, back, 0, 0, -1, -1);
            delete back;
            painted = true;
        }
    }
    if (!painted) {
        if (mTransparent && mParent) {
            sRect own = mRect;
            mParent->requestCustomBackground(canvas, &own);
        }
        onPaint(canvas);
    }
    // The frame around the client area is this element's alone.
    if (client.x > 0) {
        sRect r{0, 0, client.x, mRect.h};
        canvas->clip(&r);
    }
    if (client.y > 0) {
        sRect r{0, 0, mRect.w, client.y};
        canvas->clip(&r);
    }
    if (client.x + client.w < mRect.w) {
        sRect r{client.x + client.w, 0, mRect.w - (client.x + client.w), mRect.h};
        canvas->clip(&r);
    }
    if (client.y + client.h < mRect.h) {
        sRect r{0, client.y + client.h, mRect.w, mRect.h - (client.y + client.h)};
        canvas->clip(&r);
    }
    canvas->select();
    // A copy of the order: a child's paint must not invalidate the walk.
    std::vector<cChildElement*> kids;
    kids.reserve(mOrder.size());
    for (auto& kv : mOrder) kids.push_back(kv.second);
    for (cChildElement* c : kids) {
        if (!c->visible()) continue;
        sRect r, full;
        childVisibleRect(c, client, off, r, &full);
        if (r.w < 1 || r.h < 1) continue;
        canvas->unclip(&r);
        canvas->select();
        if (canvas->canDrawAt(&full)) {
            if (cCanvas* sub = canvas->subCanvas(&full)) {
                c->processPaint(sub);
                delete sub;
            }
        }
        canvas->clip(&r);
    }
}

bool cChildElement::requestCustomBackground(cCanvas* c, sRect* r) {
    if (!c || !r) return false;
    if (requestCustomBackgroundInt(c, r)) return true;
    sRect all{0, 0, c->width(), c->height()};
    c->drawRect(&all, mDefaultBg, mDefaultBg);
    return true;
}

bool cChildElement::requestCustomBackgroundInt(cCanvas* c, sRect* r) {
    if (!c || !r) return false;
    if (mTransparent) {
        if (!mParent) return false;
        sRect moved{r->x + mRect.x, r->y + mRect.y, r->w, r->h};
        return mParent->requestCustomBackgroundInt(c, &moved);
    }
    return onBackgroundRequest(c, r);
}

cChildElement* cChildElement::hitChild(int& px, int& py, bool needEnabled, cChildElement* after) {
    if (mExclusiveCapture) return nullptr;
    if (px < 0 || py < 0 || px > mRect.w || py > mRect.h) return nullptr;
    sRect client;
    sPoint off;
    clientRect(&client);
    virtualOffset(&off);
    auto it = mOrder.begin();
    if (after) {
        auto i = mIndexOf.find(after);
        if (i == mIndexOf.end()) return nullptr;
        it = mOrder.upper_bound(i->second);
    }
    for (; it != mOrder.end(); ++it) {
        cChildElement* c = it->second;
        if (!c->visible()) continue;
        if (needEnabled && !c->enabled()) continue;
        int x = px, y = py;
        if (!c->fixedH()) {
            if (x < client.x || x > client.x + client.w) continue;
            x -= off.x;
        }
        if (!c->fixedV()) {
            if (y < client.y || y > client.y + client.h) continue;
            y -= off.y;
        }
        if (x >= c->mRect.x && x < c->mRect.x + c->mRect.w && y >= c->mRect.y && y < c->mRect.y + c->mRect.h) {
            px = x - c->mRect.x;
            py = y - c->mRect.y;
            return c;
        }
    }
    return nullptr;
}

void cChildElement::toChild(cChildElement* c, int& x, int& y) {
    sPoint off;
    virtualOffset(&off);
    if (!c->fixedH()) x -= off.x;
    if (!c->fixedV()) y -= off.y;
    x -= c->mRect.x;
    y -= c->mRect.y;
}
