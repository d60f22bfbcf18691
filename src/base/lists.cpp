#include "base/lists.h"

// ---------------------------------------------------------------------------
// cListItem, cList, cStackList

namespace {

// Walks the chain from head to item: false when it is not there, else true
// with its predecessor in `before` (null for the head).
bool locate(cListItem* head, const cListItem* item, cListItem*& before) {
    before = nullptr;
    for (cListItem* it = head; it; before = it, it = it->next)
        if (it == item) return true;
    return false;
}

}  // namespace

bool cListItem::eq(void*) { return false; }

void cList::destroy() {
    cListItem* first = head;
    // Forget the chain before deleting it, so that an item's destructor that
    // looks at this list sees it empty rather than half freed.
    head = tail = nullptr;
    destroyList(first);
}

void cList::destroyList(cListItem* first) {
    while (first) {
        cListItem* next = first->next;
        delete first;
        first = next;
    }
}

cListItem* cList::add(cListItem* item) {
    if (!item) return nullptr;
    item->next = nullptr;
    if (tail)
        tail->next = item;
    else
        head = item;
    tail = item;
    return item;
}

bool cList::insert(cListItem* item, cListItem* after) {
    if (!item) return false;
    if (!after) {
        item->next = head;
        head = item;
        if (!tail) tail = item;
        return true;
    }
    item->next = after->next;
    after->next = item;
    if (tail == after || !tail) tail = item;
    return true;
}

bool cList::dettach(cListItem* item) {
    cListItem* before;
    if (!item || !locate(head, item, before)) return false;
    if (before)
        before->next = item->next;
    else
        head = item->next;
    if (tail == item) tail = before;
    return true;
}

void cList::remove(cListItem* item) {
    if (dettach(item)) delete item;
}

void cList::dettachAll() { head = tail = nullptr; }

void cList::forward(cListItem* item) {
    cListItem* before;
    if (!item || !locate(head, item, before)) return;
    cListItem* succ = item->next;
    if (!succ) return;
    // before -> item -> succ -> after  becomes  before -> succ -> item -> after
    if (before)
        before->next = succ;
    else
        head = succ;
    item->next = succ->next;
    succ->next = item;
    if (tail == succ) tail = item;
}

void cList::backward(cListItem* item) {
    if (!item || head == item) return;
    cListItem* beforePred = nullptr;
    cListItem* pred = head;
    while (pred && pred->next != item) {
        beforePred = pred;
        pred = pred->next;
    }
    if (!pred) return;
    // beforePred -> pred -> item -> after  becomes  beforePred -> item -> pred -> after
    if (beforePred)
        beforePred->next = item;
    else
        head = item;
    pred->next = item->next;
    item->next = pred;
    if (tail == item) tail = pred;
}

void cList::moveTo(cList& dst) {
    if (&dst == this) return;
    dst.destroy();
    dst.head = head;
    dst.tail = tail;
    head = tail = nullptr;
}

cListItem* cList::find(void* key) {
    for (cListItem* it = head; it; it = it->next)
        if (it->eq(key)) return it;
    return nullptr;
}

cListItem* cStackList::push(cListItem* item) {
    if (!item) return nullptr;
    item->next = head;
    head = item;
    if (!tail) tail = item;
    return item;
}

cListItem* cStackList::pop() {
    cListItem* top = head;
    if (!top) return nullptr;
    head = top->next;
    if (!head) tail = nullptr;
    top->next = nullptr;
    return top;
}

// ---------------------------------------------------------------------------
// cBiListItem, cBiList

bool cBiListItem::eq(void*) { return false; }

void cBiList::destroy() {
    cBiListItem* it = head;
    head = tail = nullptr;
    count = 0;
    while (it) {
        cBiListItem* next = it->next;
        delete it;
        it = next;
    }
}

cBiListItem* cBiList::add(cBiListItem* item) {
    if (!item) return nullptr;
    item->next = nullptr;
    item->prev = tail;
    if (tail)
        tail->next = item;
    else
        head = item;
    tail = item;
    ++count;
    return item;
}

bool cBiList::insert(cBiListItem* item, cBiListItem* after) {
    if (!item) return false;
    if (!after) {
        item->prev = nullptr;
        item->next = head;
        if (head) head->prev = item;
        head = item;
        if (!tail) tail = item;
    } else {
        item->prev = after;
        item->next = after->next;
        if (after->next) after->next->prev = item;
        after->next = item;
        if (tail == after || !tail) tail = item;
    }
    ++count;
    return true;
}

// The links of an item say nothing about which list holds it, so membership
// is always established by walking this list.
bool cBiList::contains(const cBiListItem* item) const {
    if (!item) return false;
    for (const cBiListItem* it = head; it; it = it->next)
        if (it == item) return true;
    return false;
}

void cBiList::unlink(cBiListItem* item) {
    if (item->prev)
        item->prev->next = item->next;
    else
        head = item->next;
    if (item->next)
        item->next->prev = item->prev;
    else
        tail = item->prev;
    --count;
}

void cBiList::remove(cBiListItem* item) {
    if (!contains(item)) return;
    unlink(item);
    delete item;
}

bool cBiList::dettach(cBiListItem* item) {
    if (!contains(item)) return false;
    unlink(item);
    return true;
}

void cBiList::dettachAll() {
    head = tail = nullptr;
    count = 0;
}

cBiListItem* cBiList::find(void* key) {
    for (cBiListItem* it = head; it; it = it->next)
        if (it->eq(key)) return it;
    return nullptr;
}

// ---------------------------------------------------------------------------
// cTree
//
// Subtree walks follow the parent links back up instead of recursing, so a
// tree as deep as a long chain costs no stack.

namespace {

// Calls f on every descendant of `item` (not on the item), parents before
// their children.
template <typename F>
void forEachDescendant(cTreeItem* item, F f) {
    cTreeItem* it = item->first;
    while (it) {
        f(it);
        if (it->first) {
            it = it->first;
            continue;
        }
        while (it != item && !it->next) it = it->parent;
        if (it == item) break;
        it = it->next;
    }
}

}  // namespace

cTreeItem* cTree::addFirst(cTreeItem* parent, cTreeItem* item) {
    if (!item) return nullptr;
    item->next = item->prev = item->first = item->last = nullptr;
    item->owner = this;
    item->parent = parent;
    if (parent) {
        item->next = parent->first;
        if (parent->first) parent->first->prev = item;
        parent->first = item;
        if (!parent->last) parent->last = item;
    } else {
        item->next = root;
        if (root) root->prev = item;
        root = item;
    }
    return item;
}

cTreeItem* cTree::add(cTreeItem* parent, cTreeItem* item, cTreeItem* after) {
    if (!item) return nullptr;
    item->next = item->prev = item->first = item->last = nullptr;
    item->owner = this;
    item->parent = parent;

    cTreeItem* level = parent ? parent->first : root;
    if (!level) {
        if (parent)
            parent->first = parent->last = item;
        else
            root = item;
        return item;
    }
    cTreeItem* behind;
    if (parent && !after) {
        behind = parent->last;
    } else {
        // An `after` that is not among the siblings means the end.
        behind = level;
        while (behind != after && behind->next) behind = behind->next;
    }
    item->prev = behind;
    item->next = behind->next;
    if (behind->next) behind->next->prev = item;
    behind->next = item;
    if (!item->next && parent) parent->last = item;
    return item;
}

void cTree::detach(cTreeItem* item) {
    // Only an item of this tree has links to mend; a detached item keeps
    // stale sibling links that must not be followed again.
    if (!item || item->owner != this) return;
    if (root == item) root = item->next;
    if (cTreeItem* parent = item->parent) {
        if (parent->first == item) parent->first = item->next;
        if (parent->last == item) parent->last = item->prev;
    }
    if (item->prev) item->prev->next = item->next;
    if (item->next) item->next->prev = item->prev;
    item->parent = nullptr;
    item->owner = nullptr;
    forEachDescendant(item, [](cTreeItem* d) { d->owner = nullptr; });
}

void cTree::remove(cTreeItem* item) {
    if (!item || item->owner != this) return;
    detach(item);
    destroyLevel(item->first);
    item->first = item->last = nullptr;
    delete item;
}

void cTree::destroy() {
    cTreeItem* first = root;
    root = nullptr;
    destroyLevel(first);
}

void cTree::destroy_sub(cTreeItem* item) {
    if (!item) return;
    cTreeItem* first = item->first;
    item->first = item->last = nullptr;
    destroyLevel(first);
}

void cTree::destroyLevel(cTreeItem* first) {
    if (!first) return;
    // Post-order: go down to a leaf, delete it, then its next sibling's
    // subtree; when a sibling chain ends, its parent has become a leaf.
    cTreeItem* const top = first->parent;
    cTreeItem* it = first;
    for (;;) {
        while (it->first) it = it->first;
        cTreeItem* next = it->next;
        cTreeItem* up = it->parent;
        delete it;
        if (next) {
            it = next;
            continue;
        }
        if (up == top) return;
        up->first = up->last = nullptr;
        it = up;
    }
}

cTreeItem* cTree::subLast(cTreeItem* item) {
    if (!item) return nullptr;
    cTreeItem* it = item->first;
    if (!it) return nullptr;
    while (it->next) it = it->next;
    return it;
}

bool cTree::move_forward(cTreeItem* item) {
    if (!item || !item->next) return false;
    cTreeItem* n = item->next;
    if (root == item) root = n;
    if (cTreeItem* parent = item->parent) {
        if (parent->first == item) parent->first = n;
        if (parent->last == n) parent->last = item;
    }
    // prev -> item -> n -> after  becomes  prev -> n -> item -> after
    cTreeItem* prev = item->prev;
    cTreeItem* after = n->next;
    if (prev) prev->next = n;
    n->prev = prev;
    n->next = item;
    item->prev = n;
    item->next = after;
    if (after) after->prev = item;
    return true;
}

bool cTree::reattachToTree(cTree* dst, cTreeItem* item, cTreeItem* parent) {
    if (!dst || !item || item->owner != this) return false;
    // A parent inside the moved subtree would link the subtree into itself.
    for (cTreeItem* p = parent; p; p = p->parent)
        if (p == item) return false;
    detach(item);
    cTreeItem* first = item->first;
    cTreeItem* last = item->last;
    dst->add(parent, item, nullptr);
    item->first = first;
    item->last = last;
    setOwnerToSub(item, dst);
    return true;
}

void cTree::setOwnerToSub(cTreeItem* item, cTree* owner) {
    if (!item) return;
    forEachDescendant(item, [owner](cTreeItem* d) { d->owner = owner; });
}
