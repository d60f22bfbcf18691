// The two action queues of an element and their drains.  Appending and
// moving out hold cWindowMaker::gActionSync; no handler ever runs under it.
#include "uitoolkit/element.h"
#include "uitoolkit/window.h"

void cChildElement::notifyAction(cChildAction* a) {
    if (!a) a = new cChildAction(0);
    cWindowMaker::gaSyncAdd(mNotifyQueue, a);
    if (cWindowRequestTarget* t = queueTarget()) t->_rt_send_action(this);
}

void cChildElement::notifyAction(int code) { notifyAction(new cChildAction(code)); }

void cChildElement::postAction(cChildAction* a) {
    if (!a) return;
    cWindowMaker::gaSyncAdd(mPostQueue, a);
    if (cWindowRequestTarget* t = queueTarget()) t->_rt_receive_action(this);
}

bool cChildElement::sendAction(cSentChildAction* a) {
    if (!a) return false;
    cEvent done;
    if (!done.create(nullptr, false, false)) {
        delete a;
        return false;
    }
    bool delivered = false;
    a->mEvent = &done;
    a->mDelivered = &delivered;
    cWindowMaker::gaSyncAdd(mPostQueue, a);
    cWindowRequestTarget* t = queueTarget();
    if (!t || !t->_rt_receive_action(this)) {
        // Nobody will drain it: take it back so that it can never signal an
        // event that is gone.  When a drain has already taken it, that drain
        // releases us.
        bool mine;
        {
            cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
            mine = mPostQueue.dettach(a);
        }
        if (mine) {
            delete a;
            return false;
        }
    }
    done.wait();
    return delivered;
}

bool cChildElement::processActionNotify(cChildElement* e) {
    if (mParent) return mParent->processActionNotify(e);
    return mTarget ? mTarget->_rt_send_action(e) : false;
}

bool cChildElement::processPostNotify(cChildElement* e) {
    if (mParent) return mParent->processPostNotify(e);
    return mTarget ? mTarget->_rt_receive_action(e) : false;
}

// Workers queue actions while the UI thread attaches, detaches and destroys
// elements: the walk to the root reads only the parent links, which change
// under the same lock, and calls nothing virtual on elements that may be
// in the middle of their destructors.
cWindowRequestTarget* cChildElement::queueTarget() const {
    cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
    const cChildElement* e = this;
    while (e->mParent) e = e->mParent;
    return e->mTarget;
}

bool cChildElement::processAction(cChildElement* src, cChildAction* a) {
    if (onAction(src, a)) return true;
    return mParent ? mParent->processAction(src, a) : false;
}

bool cChildElement::onAction(cChildElement* src, cChildAction* a) {
    if (!a) return false;
    if (a->code() == 5 && src == this) {
        delete mShownHint;
        mShownHint = nullptr;
        return true;
    }
    if (a->code() == 4 && src) {
        root()->processFocusDirect(src);
        return true;
    }
    return false;
}

namespace {
// Runs the actions of a list taken out of element e's queue; stops handling
// (and abandons the rest) when a handler destroys e.
template <class Handle>
bool drain(cChildElement* e, cList& taken, Handle handle) {
    bool all = true;
    bool alive = true;
    for (cListItem* i = taken.head; i; i = i->next) {
        auto* a = static_cast<cChildElement::cChildAction*>(i);
        if (alive) alive = cChildElement::valid(e);
        if (!alive) {
            a->actionAbandoned();
            all = false;
            continue;
        }
        if (!handle(a)) all = false;
        a->actionDone();
    }
    taken.destroy();
    return all;
}
}  // namespace

bool cChildElement::processActionFirst(cChildElement* e) {
    cList taken;
    {
        cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
        if (!e || !valid(e)) return false;
        e->mNotifyQueue.moveTo(taken);
    }
    return drain(e, taken, [e](cChildAction* a) { return e->processAction(e, a); });
}

bool cChildElement::processPostFirst(cChildElement* e) {
    cList taken;
    {
        cSafeCriticalSectionAccess lock(&cWindowMaker::gActionSync);
        if (!e || !valid(e)) return false;
        e->mPostQueue.moveTo(taken);
    }
    return drain(e, taken, [e](cChildAction* a) { return e->onAction(e, a); });
}
