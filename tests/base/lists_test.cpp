#include "base/lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every item records its destruction in a journal, so the tests see how many
// items died, which ones, in what order, and that each died exactly once.
struct Journal {
    int alive = 0;
    std::vector<int> deleted;
};

class Item : public cListItem {
public:
    Item(Journal& j, int id) : journal(j), id(id) { ++journal.alive; }
    ~Item() override {
        --journal.alive;
        journal.deleted.push_back(id);
    }
    bool eq(void* key) override { return *static_cast<int*>(key) == id % 100; }
    Journal& journal;
    int id;
};

// Keeps the default eq.
class PlainItem : public cListItem {
public:
    explicit PlainItem(Journal& j) : journal(j) { ++journal.alive; }
    ~PlainItem() override { --journal.alive; }
    Journal& journal;
};

class BiItem : public cBiListItem {
public:
    BiItem(Journal& j, int id) : journal(j), id(id) { ++journal.alive; }
    ~BiItem() override {
        --journal.alive;
        journal.deleted.push_back(id);
    }
    bool eq(void* key) override { return *static_cast<int*>(key) == id; }
    Journal& journal;
    int id;
};

class Node : public cTreeItem {
public:
    Node(Journal& j, int id) : journal(j), id(id) { ++journal.alive; }
    ~Node() override {
        --journal.alive;
        journal.deleted.push_back(id);
    }
    Journal& journal;
    int id;
};

// The ids from head to tail, after checking that the tail is the last item
// reached from the head.
std::vector<int> ids(const cList& l) {
    std::vector<int> out;
    const cListItem* last = nullptr;
    for (const cListItem* it = l.head; it; it = it->next) {
        out.push_back(static_cast<const Item*>(it)->id);
        last = it;
        if (out.size() > 1000) break;  // a cycle
    }
    EXPECT_EQ(l.tail, last) << "tail is not the last item";
    return out;
}

// The ids from head to tail, after checking the backward links, the tail and
// the count.
std::vector<int> ids(const cBiList& l) {
    std::vector<int> out;
    const cBiListItem* before = nullptr;
    for (const cBiListItem* it = l.head; it; it = it->next) {
        EXPECT_EQ(it->prev, before) << "prev link of item " << static_cast<const BiItem*>(it)->id;
        out.push_back(static_cast<const BiItem*>(it)->id);
        before = it;
        if (out.size() > 1000) break;
    }
    EXPECT_EQ(l.tail, before);
    EXPECT_EQ(l.getCount(), static_cast<int>(out.size()));
    return out;
}

int idOf(const cTreeItem* n) { return n ? static_cast<const Node*>(n)->id : -1; }

// The ids of one sibling chain, checking the sibling links and the parent.
std::vector<int> level(const cTreeItem* first, const cTreeItem* parent) {
    std::vector<int> out;
    const cTreeItem* before = nullptr;
    for (const cTreeItem* it = first; it; it = it->next) {
        EXPECT_EQ(it->prev, before) << "prev link of " << idOf(it);
        EXPECT_EQ(it->parent, parent) << "parent of " << idOf(it);
        out.push_back(idOf(it));
        before = it;
        if (out.size() > 1000) break;
    }
    if (parent) {
        EXPECT_EQ(parent->last, before) << "last child of " << idOf(parent);
    }
    return out;
}

std::vector<int> children(const cTreeItem* parent) { return level(parent->first, parent); }

// Checks every item reachable from the root: links, parents and owner.
void expectSound(const cTree& t, const cTreeItem* first, const cTreeItem* parent) {
    for (const cTreeItem* it = first; it; it = it->next) {
        EXPECT_EQ(it->owner, &t) << "owner of " << idOf(it);
        EXPECT_EQ(it->first == nullptr, it->last == nullptr) << "first/last of " << idOf(it);
        level(it->first, it);
        expectSound(t, it->first, it);
    }
    (void)parent;
}
void expectSound(const cTree& t) {
    if (t.root) {
        EXPECT_EQ(t.root->prev, nullptr);
    }
    level(t.root, nullptr);
    expectSound(t, t.root, nullptr);
}

// ---------------------------------------------------------------------------
// cList

TEST(List, AddAppendsAtTheTailAndIgnoresNull) {
    Journal j;
    {
        cList l;
        EXPECT_EQ(l.add(nullptr), nullptr);
        EXPECT_EQ(l.head, nullptr);
        EXPECT_EQ(l.tail, nullptr);
        Item* a = new Item(j, 1);
        EXPECT_EQ(l.add(a), a);
        EXPECT_EQ(l.head, a);
        EXPECT_EQ(l.tail, a);
        l.add(new Item(j, 2));
        EXPECT_EQ(l.add(nullptr), nullptr);
        l.add(new Item(j, 3));
        EXPECT_EQ(ids(l), (std::vector<int>{1, 2, 3}));
    }
    EXPECT_EQ(j.alive, 0);
    EXPECT_EQ(j.deleted, (std::vector<int>{1, 2, 3}));
}

TEST(List, AddClearsAStaleNextLink) {
    Journal j;
    Item stray(j, 99);
    cList l;
    Item* a = new Item(j, 1);
    a->next = &stray;
    l.add(a);
    EXPECT_EQ(a->next, nullptr);
    EXPECT_EQ(ids(l), std::vector<int>{1});
}

TEST(List, InsertPlacesAtHeadBehindAnItemAndBehindTheTail) {
    Journal j;
    cList l;
    EXPECT_FALSE(l.insert(nullptr, nullptr));
    Item* two = new Item(j, 2);
    EXPECT_TRUE(l.insert(two, nullptr));  // empty list: head and tail
    EXPECT_EQ(l.tail, two);
    EXPECT_TRUE(l.insert(new Item(j, 1), nullptr));
    Item* four = new Item(j, 4);
    EXPECT_TRUE(l.insert(four, two));  // behind the tail: becomes the tail
    EXPECT_EQ(l.tail, four);
    EXPECT_TRUE(l.insert(new Item(j, 3), two));
    EXPECT_FALSE(l.insert(nullptr, two));
    EXPECT_EQ(ids(l), (std::vector<int>{1, 2, 3, 4}));
}

TEST(List, RemoveDeletesOnlyThatItemAndMendsHeadAndTail) {
    Journal j;
    cList l;
    Item* items[4];
    for (int i = 0; i < 4; ++i) items[i] = static_cast<Item*>(l.add(new Item(j, i)));

    l.remove(items[3]);  // the tail: its predecessor becomes the tail
    EXPECT_EQ(ids(l), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(j.deleted, std::vector<int>{3});
    l.remove(items[0]);  // the head
    EXPECT_EQ(ids(l), (std::vector<int>{1, 2}));
    l.remove(items[1]);
    l.remove(items[2]);  // the only one
    EXPECT_EQ(l.head, nullptr);
    EXPECT_EQ(l.tail, nullptr);
    EXPECT_EQ(j.deleted, (std::vector<int>{3, 0, 1, 2}));
    EXPECT_EQ(j.alive, 0);
}

TEST(List, RemoveOrDettachOfAForeignItemChangesNothing) {
    Journal j;
    cList l, other;
    l.add(new Item(j, 1));
    l.add(new Item(j, 2));
    Item* foreign = static_cast<Item*>(other.add(new Item(j, 7)));
    l.remove(foreign);
    l.remove(nullptr);
    EXPECT_FALSE(l.dettach(foreign));
    EXPECT_FALSE(l.dettach(nullptr));
    EXPECT_EQ(ids(l), (std::vector<int>{1, 2}));
    EXPECT_EQ(ids(other), std::vector<int>{7});
    EXPECT_TRUE(j.deleted.empty());
    EXPECT_EQ(j.alive, 3);
}

TEST(List, DettachHandsTheItemBackUndeletedWithItsNextLinkAsItWas) {
    Journal j;
    cList l;
    Item* a = static_cast<Item*>(l.add(new Item(j, 1)));
    Item* b = static_cast<Item*>(l.add(new Item(j, 2)));
    Item* c = static_cast<Item*>(l.add(new Item(j, 3)));
    EXPECT_TRUE(l.dettach(b));
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 3}));
    EXPECT_TRUE(l.dettach(c));  // the tail
    EXPECT_EQ(l.tail, a);
    EXPECT_TRUE(j.deleted.empty());
    delete b;
    delete c;
    l.dettachAll();
    EXPECT_EQ(l.head, nullptr);
    EXPECT_EQ(l.tail, nullptr);
    EXPECT_EQ(j.alive, 1);  // dettachAll deleted nothing
    delete a;
}

TEST(List, ForwardSwapsWithTheSuccessorAndMovesTheTail) {
    Journal j;
    cList l;
    Item* it[4];
    for (int i = 0; i < 4; ++i) it[i] = static_cast<Item*>(l.add(new Item(j, i)));
    l.forward(it[0]);  // the head moves
    EXPECT_EQ(ids(l), (std::vector<int>{1, 0, 2, 3}));
    l.forward(it[2]);  // the item before the tail becomes the tail
    EXPECT_EQ(ids(l), (std::vector<int>{1, 0, 3, 2}));
    EXPECT_EQ(l.tail, it[2]);
    l.forward(it[2]);  // the last: nothing
    EXPECT_EQ(ids(l), (std::vector<int>{1, 0, 3, 2}));
    Item absent(j, 9);
    l.forward(&absent);
    l.forward(nullptr);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 0, 3, 2}));
    EXPECT_EQ(j.alive, 5);
}

TEST(List, BackwardSwapsWithThePredecessorAndMovesTheTail) {
    Journal j;
    cList l;
    Item* it[4];
    for (int i = 0; i < 4; ++i) it[i] = static_cast<Item*>(l.add(new Item(j, i)));
    l.backward(it[0]);  // the head: nothing
    EXPECT_EQ(ids(l), (std::vector<int>{0, 1, 2, 3}));
    l.backward(it[3]);  // the tail: its predecessor becomes the tail
    EXPECT_EQ(ids(l), (std::vector<int>{0, 1, 3, 2}));
    EXPECT_EQ(l.tail, it[2]);
    l.backward(it[1]);  // the predecessor was the head
    EXPECT_EQ(ids(l), (std::vector<int>{1, 0, 3, 2}));
    EXPECT_EQ(l.head, it[1]);
    l.backward(it[3]);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 3, 0, 2}));
    Item absent(j, 9);
    l.backward(&absent);
    l.backward(nullptr);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 3, 0, 2}));
}

TEST(List, MoveToDeletesTheDestinationsItemsFirstAndEmptiesTheSource) {
    Journal j;
    cList src, dst;
    src.add(new Item(j, 1));
    src.add(new Item(j, 2));
    dst.add(new Item(j, 8));
    dst.add(new Item(j, 9));
    src.moveTo(dst);
    EXPECT_EQ(j.deleted, (std::vector<int>{8, 9}));
    EXPECT_EQ(src.head, nullptr);
    EXPECT_EQ(src.tail, nullptr);
    EXPECT_EQ(ids(dst), (std::vector<int>{1, 2}));
    src.moveTo(dst);  // an empty source empties the destination
    EXPECT_EQ(ids(dst), std::vector<int>{});
    EXPECT_EQ(j.alive, 0);
}

TEST(List, MoveToItselfKeepsEveryItem) {
    Journal j;
    cList l;
    l.add(new Item(j, 1));
    l.add(new Item(j, 2));
    l.moveTo(l);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 2}));
    EXPECT_TRUE(j.deleted.empty());
}

TEST(List, FindReturnsTheFirstItemWhoseEqMatches) {
    Journal j;
    cList l;
    int key = 5;
    EXPECT_EQ(l.find(&key), nullptr);  // empty
    l.add(new PlainItem(j));
    l.add(new PlainItem(j));
    EXPECT_EQ(l.find(&key), nullptr);  // default eq is false
    l.add(new Item(j, 3));
    Item* first = static_cast<Item*>(l.add(new Item(j, 105)));  // eq compares id % 100
    l.add(new Item(j, 205));
    EXPECT_EQ(l.find(&key), first);
    key = 4;
    EXPECT_EQ(l.find(&key), nullptr);
}

TEST(List, DestroyAndDestroyListDeleteEachItemOnce) {
    Journal j;
    cList l;
    for (int i = 0; i < 5; ++i) l.add(new Item(j, i));
    l.destroy();
    EXPECT_EQ(l.head, nullptr);
    EXPECT_EQ(l.tail, nullptr);
    EXPECT_EQ(j.deleted, (std::vector<int>{0, 1, 2, 3, 4}));
    l.destroy();  // again: nothing
    EXPECT_EQ(j.deleted.size(), 5u);

    Item* a = new Item(j, 10);
    a->next = new Item(j, 11);
    a->next->next = new Item(j, 12);
    l.add(new Item(j, 20));
    cList::destroyList(a);
    EXPECT_EQ(ids(l), std::vector<int>{20});  // the list's own chain is untouched
    EXPECT_EQ(j.alive, 1);
}

// ---------------------------------------------------------------------------
// cStackList

TEST(StackList, PushThenPopIsLastInFirstOut) {
    Journal j;
    cStackList s;
    EXPECT_EQ(s.pop(), nullptr);
    EXPECT_EQ(s.peek(), nullptr);
    EXPECT_EQ(s.push(nullptr), nullptr);
    Item* bottom = new Item(j, 1);
    s.push(bottom);
    EXPECT_EQ(s.tail, bottom);
    s.push(new Item(j, 2));
    s.push(new Item(j, 3));
    EXPECT_EQ(s.tail, bottom);
    EXPECT_EQ(static_cast<Item*>(s.peek())->id, 3);
    std::vector<int> order;
    while (cListItem* it = s.pop()) {
        order.push_back(static_cast<Item*>(it)->id);
        delete it;
    }
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(s.tail, nullptr);
    EXPECT_EQ(j.alive, 0);
}

TEST(StackList, AddThenPopIsFirstInFirstOut) {
    Journal j;
    cStackList q;
    for (int i = 1; i <= 3; ++i) q.add(new Item(j, i));
    std::vector<int> order;
    for (cListItem* it; (it = q.pop());) {
        order.push_back(static_cast<Item*>(it)->id);
        delete it;
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(StackList, PoppingTheLastItemLetsAFollowingAddStartANewChain) {
    Journal j;
    cStackList q;
    q.add(new Item(j, 1));
    cListItem* only = q.pop();
    EXPECT_EQ(q.head, nullptr);
    EXPECT_EQ(q.tail, nullptr);
    delete only;
    q.add(new Item(j, 2));
    q.add(new Item(j, 3));
    EXPECT_EQ(ids(q), (std::vector<int>{2, 3}));
    EXPECT_EQ(j.alive, 2);  // the stack's destructor deletes what is left
}

// ---------------------------------------------------------------------------
// cBiList

TEST(BiList, CountFollowsEveryAddInsertRemoveAndDettach) {
    Journal j;
    cBiList l;
    EXPECT_EQ(l.add(nullptr), nullptr);
    EXPECT_EQ(l.getCount(), 0);
    BiItem* a = static_cast<BiItem*>(l.add(new BiItem(j, 1)));
    BiItem* c = static_cast<BiItem*>(l.add(new BiItem(j, 3)));
    EXPECT_TRUE(l.insert(new BiItem(j, 2), a));
    EXPECT_TRUE(l.insert(new BiItem(j, 0), nullptr));
    BiItem* d = new BiItem(j, 4);
    EXPECT_TRUE(l.insert(d, c));  // behind the tail
    EXPECT_FALSE(l.insert(nullptr, a));
    EXPECT_EQ(ids(l), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(l.getlast(), d);

    l.remove(a);
    EXPECT_EQ(ids(l), (std::vector<int>{0, 2, 3, 4}));
    EXPECT_TRUE(l.dettach(d));
    EXPECT_EQ(ids(l), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(l.getlast(), c);
    delete d;
    EXPECT_EQ(j.deleted, (std::vector<int>{1, 4}));

    cBiListItem* chain = l.start();
    l.dettachAll();
    EXPECT_EQ(l.getCount(), 0);
    EXPECT_EQ(l.start(), nullptr);
    EXPECT_EQ(j.alive, 3);  // handed back, not deleted
    while (chain) {
        cBiListItem* next = chain->next;
        delete chain;
        chain = next;
    }
}

TEST(BiList, RemovingAForeignItemChangesNeitherList) {
    Journal j;
    cBiList l, other;
    l.add(new BiItem(j, 1));
    l.add(new BiItem(j, 2));
    BiItem* foreign = static_cast<BiItem*>(other.add(new BiItem(j, 7)));
    other.add(new BiItem(j, 8));
    l.remove(foreign);
    EXPECT_FALSE(l.dettach(foreign));
    l.remove(nullptr);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 2}));
    EXPECT_EQ(ids(other), (std::vector<int>{7, 8}));
    EXPECT_TRUE(j.deleted.empty());
}

TEST(BiList, RemovingHeadMiddleTailAndOnlyItemMendsTheLinks) {
    Journal j;
    cBiList l;
    BiItem* it[5];
    for (int i = 0; i < 5; ++i) it[i] = static_cast<BiItem*>(l.add(new BiItem(j, i)));
    l.remove(it[0]);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 2, 3, 4}));
    l.remove(it[2]);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 3, 4}));
    l.remove(it[4]);
    EXPECT_EQ(ids(l), (std::vector<int>{1, 3}));
    l.remove(it[1]);
    l.remove(it[3]);
    EXPECT_EQ(l.start(), nullptr);
    EXPECT_EQ(l.getlast(), nullptr);
    EXPECT_EQ(l.getCount(), 0);
    EXPECT_EQ(j.deleted, (std::vector<int>{0, 2, 4, 1, 3}));
}

TEST(BiList, WalksBothWaysAndFinds) {
    Journal j;
    cBiList l;
    for (int i = 0; i < 3; ++i) l.add(new BiItem(j, i));
    std::vector<int> back;
    for (cBiListItem* it = l.getlast(); it; it = l.prev(it)) back.push_back(static_cast<BiItem*>(it)->id);
    EXPECT_EQ(back, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(l.next(nullptr), nullptr);
    EXPECT_EQ(l.prev(nullptr), nullptr);
    EXPECT_EQ(l.next(l.start()), l.head->next);
    int key = 1;
    EXPECT_EQ(l.find(&key), l.head->next);
    key = 5;
    EXPECT_EQ(l.find(&key), nullptr);
}

TEST(BiList, DestroyAndDestructorDeleteEachItemOnce) {
    Journal j;
    {
        cBiList l;
        for (int i = 0; i < 3; ++i) l.add(new BiItem(j, i));
        l.destroy();
        EXPECT_EQ(l.getCount(), 0);
        EXPECT_EQ(l.start(), nullptr);
        EXPECT_EQ(l.getlast(), nullptr);
        EXPECT_EQ(j.deleted, (std::vector<int>{0, 1, 2}));
        l.add(new BiItem(j, 5));
    }
    EXPECT_EQ(j.deleted, (std::vector<int>{0, 1, 2, 5}));
    EXPECT_EQ(j.alive, 0);
}

// ---------------------------------------------------------------------------
// cTree

struct TreeFixture : ::testing::Test {
    Journal j;
    cTree t;
    Node* node(int id) { return new Node(j, id); }
};

TEST_F(TreeFixture, AddAppendsAtTheRootLevelAndUnderAParent) {
    EXPECT_EQ(t.add(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(t.addFirst(nullptr, nullptr), nullptr);
    Node* a = node(1);
    EXPECT_EQ(t.add(nullptr, a, nullptr), a);
    EXPECT_EQ(t.root, a);
    t.add(nullptr, node(2), nullptr);
    t.add(nullptr, node(3), nullptr);
    EXPECT_EQ(level(t.root, nullptr), (std::vector<int>{1, 2, 3}));

    t.add(a, node(10), nullptr);
    t.add(a, node(11), nullptr);
    EXPECT_EQ(children(a), (std::vector<int>{10, 11}));
    expectSound(t);
}

TEST_F(TreeFixture, AddBehindASiblingLinksRightBehindIt) {
    Node* p = static_cast<Node*>(t.add(nullptr, node(0), nullptr));
    Node* c1 = static_cast<Node*>(t.add(p, node(1), nullptr));
    t.add(p, node(3), nullptr);
    t.add(p, node(2), c1);
    EXPECT_EQ(children(p), (std::vector<int>{1, 2, 3}));
    // On the root level as well.
    t.add(nullptr, node(5), nullptr);
    t.add(nullptr, node(4), p);
    EXPECT_EQ(level(t.root, nullptr), (std::vector<int>{0, 4, 5}));
    expectSound(t);
}

TEST_F(TreeFixture, AddBehindTheLastChildOrAStrangerAppendsAndBecomesLast) {
    Node* p = static_cast<Node*>(t.add(nullptr, node(0), nullptr));
    Node* other = static_cast<Node*>(t.add(nullptr, node(100), nullptr));
    Node* stranger = static_cast<Node*>(t.add(other, node(101), nullptr));
    t.add(p, node(1), nullptr);
    Node* c2 = static_cast<Node*>(t.add(p, node(2), nullptr));
    Node* c3 = static_cast<Node*>(t.add(p, node(3), c2));  // behind the last child
    EXPECT_EQ(p->last, c3);
    Node* c4 = static_cast<Node*>(t.add(p, node(4), stranger));  // not under p
    EXPECT_EQ(p->last, c4);
    t.add(p, node(5), nullptr);  // a following add goes behind it
    EXPECT_EQ(children(p), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(children(other), std::vector<int>{101});
    expectSound(t);
}

TEST_F(TreeFixture, AddUnderAChildlessParentWithAnySiblingMakesTheOnlyChild) {
    Node* p = static_cast<Node*>(t.add(nullptr, node(0), nullptr));
    Node* q = static_cast<Node*>(t.add(nullptr, node(1), nullptr));
    Node* c = static_cast<Node*>(t.add(p, node(5), q));
    EXPECT_EQ(p->first, c);
    EXPECT_EQ(p->last, c);
    EXPECT_EQ(c->parent, p);
    EXPECT_EQ(c->owner, &t);
    expectSound(t);
}

TEST_F(TreeFixture, AddResetsTheItemsOldLinks) {
    Journal other;
    Node stale(other, 50);
    Node* n = node(1);
    n->next = n->prev = n->first = n->last = &stale;
    t.add(nullptr, n, nullptr);
    EXPECT_EQ(n->next, nullptr);
    EXPECT_EQ(n->prev, nullptr);
    EXPECT_EQ(n->first, nullptr);
    EXPECT_EQ(n->last, nullptr);
    EXPECT_EQ(n->parent, nullptr);
}

TEST_F(TreeFixture, AddFirstGoesBeforeTheFirstChildOrTheRoot) {
    Node* p = static_cast<Node*>(t.addFirst(nullptr, node(2)));
    t.addFirst(nullptr, node(1));
    EXPECT_EQ(level(t.root, nullptr), (std::vector<int>{1, 2}));
    Node* only = static_cast<Node*>(t.addFirst(p, node(21)));
    EXPECT_EQ(p->first, only);
    EXPECT_EQ(p->last, only);
    t.addFirst(p, node(20));
    EXPECT_EQ(children(p), (std::vector<int>{20, 21}));
    EXPECT_EQ(p->last, only);
    expectSound(t);
}

TEST_F(TreeFixture, DetachMendsFirstLastAndRootAndClearsOwnersBelow) {
    Node* r1 = static_cast<Node*>(t.add(nullptr, node(1), nullptr));
    Node* r2 = static_cast<Node*>(t.add(nullptr, node(2), nullptr));
    Node* c[4];
    for (int i = 0; i < 4; ++i) c[i] = static_cast<Node*>(t.add(r2, node(20 + i), nullptr));
    Node* g = static_cast<Node*>(t.add(c[1], node(210), nullptr));
    Node* gg = static_cast<Node*>(t.add(g, node(2100), nullptr));

    t.detach(c[0]);  // first child
    EXPECT_EQ(r2->first, c[1]);
    t.detach(c[3]);  // last child
    EXPECT_EQ(r2->last, c[2]);
    t.detach(c[1]);  // the first again, with a subtree
    EXPECT_EQ(children(r2), std::vector<int>{22});
    EXPECT_EQ(c[1]->parent, nullptr);
    EXPECT_EQ(c[1]->owner, nullptr);
    EXPECT_EQ(c[1]->first, g);  // keeps its children
    EXPECT_EQ(g->owner, nullptr);
    EXPECT_EQ(gg->owner, nullptr);
    EXPECT_EQ(gg->parent, g);

    t.detach(r1);  // the root item: its next sibling becomes the root
    EXPECT_EQ(t.root, r2);
    expectSound(t);

    // Detached items are the caller's to delete.
    cTree::destroyLevel(c[1]->first);
    EXPECT_EQ(j.deleted, (std::vector<int>{2100, 210}));
    for (Node* n : {c[0], c[1], c[3], r1}) delete n;
    EXPECT_EQ(j.alive, 2);
}

TEST_F(TreeFixture, DetachingTwiceLeavesTheTreeIntact) {
    Node* r = static_cast<Node*>(t.add(nullptr, node(0), nullptr));
    Node* a = static_cast<Node*>(t.add(r, node(1), nullptr));
    Node* b = static_cast<Node*>(t.add(r, node(2), nullptr));
    t.add(r, node(3), nullptr);
    t.detach(b);
    // b still points at its old neighbours; a second detach must not use them.
    t.add(r, node(4), a);
    t.detach(b);
    EXPECT_EQ(children(r), (std::vector<int>{1, 4, 3}));
    expectSound(t);
    delete b;
}

TEST_F(TreeFixture, RemoveDeletesDescendantsBeforeTheItem) {
    Node* r = static_cast<Node*>(t.add(nullptr, node(0), nullptr));
    Node* a = static_cast<Node*>(t.add(r, node(1), nullptr));
    Node* keep = static_cast<Node*>(t.add(r, node(2), nullptr));
    Node* a1 = static_cast<Node*>(t.add(a, node(11), nullptr));
    t.add(a, node(12), nullptr);
    t.add(a1, node(111), nullptr);
    t.remove(a);
    EXPECT_EQ(j.deleted, (std::vector<int>{111, 11, 12, 1}));
    EXPECT_EQ(children(r), std::vector<int>{2});
    EXPECT_EQ(r->first, keep);
    expectSound(t);
}

TEST_F(TreeFixture, RemoveOfAnItemOfAnotherTreeDeletesNothing) {
    cTree other;
    Node* mine = static_cast<Node*>(t.add(nullptr, node(1), nullptr));
    Node* theirs = static_cast<Node*>(other.add(nullptr, node(2), nullptr));
    t.remove(theirs);
    t.remove(nullptr);
    EXPECT_TRUE(j.deleted.empty());
    EXPECT_EQ(other.root, theirs);
    EXPECT_EQ(t.root, mine);
}

TEST_F(TreeFixture, DestroyDeletesEveryLevelOnce) {
    t.destroy();  // empty: nothing
    EXPECT_EQ(t.root, nullptr);
    Node* r = static_cast<Node*>(t.add(nullptr, node(1), nullptr));
    t.add(nullptr, node(2), nullptr);
    Node* c = static_cast<Node*>(t.add(r, node(10), nullptr));
    t.add(c, node(100), nullptr);
    t.add(r, node(11), nullptr);
    t.destroy();
    EXPECT_EQ(t.root, nullptr);
    EXPECT_EQ(j.deleted, (std::vector<int>{100, 10, 11, 1, 2}));
    EXPECT_EQ(j.alive, 0);
}

TEST_F(TreeFixture, TheTreesDestructorDeletesWhatIsLeft) {
    {
        cTree local;
        Node* r = static_cast<Node*>(local.add(nullptr, node(1), nullptr));
        local.add(r, node(2), nullptr);
    }
    EXPECT_EQ(j.deleted, (std::vector<int>{2, 1}));
}

TEST_F(TreeFixture, DestroySubEmptiesTheItemAndDestroyLevelStartsMidChain) {
    Node* r = static_cast<Node*>(t.add(nullptr, node(0), nullptr));
    Node* c[3];
    for (int i = 0; i < 3; ++i) c[i] = static_cast<Node*>(t.add(r, node(i + 1), nullptr));
    t.add(c[1], node(20), nullptr);
    t.add(c[2], node(30), nullptr);
    t.add(c[0], node(10), nullptr);

    // destroyLevel from the middle child deletes it and every following
    // sibling with their subtrees; the owner mends the links itself.
    c[0]->next = nullptr;
    r->last = c[0];
    cTree::destroyLevel(c[1]);
    EXPECT_EQ(j.deleted, (std::vector<int>{20, 2, 30, 3}));
    EXPECT_EQ(children(r), std::vector<int>{1});

    t.destroy_sub(r);
    EXPECT_EQ(r->first, nullptr);
    EXPECT_EQ(r->last, nullptr);
    EXPECT_EQ(j.deleted, (std::vector<int>{20, 2, 30, 3, 10, 1}));
    t.destroy_sub(r);  // no children: nothing
    cTree::destroyLevel(nullptr);
    EXPECT_EQ(j.alive, 1);
    expectSound(t);
}

TEST_F(TreeFixture, SubLastWalksToTheLastChild) {
    EXPECT_EQ(cTree::subLast(nullptr), nullptr);
    Node* r = static_cast<Node*>(t.add(nullptr, node(0), nullptr));
    EXPECT_EQ(cTree::subLast(r), nullptr);
    t.add(r, node(1), nullptr);
    Node* last = static_cast<Node*>(t.add(r, node(2), nullptr));
    EXPECT_EQ(cTree::subLast(r), last);
}

TEST_F(TreeFixture, MoveForwardSwapsWithTheNextSibling) {
    EXPECT_FALSE(t.move_forward(nullptr));
    Node* r1 = static_cast<Node*>(t.add(nullptr, node(1), nullptr));
    Node* r2 = static_cast<Node*>(t.add(nullptr, node(2), nullptr));
    EXPECT_TRUE(t.move_forward(r1));  // the root moves
    EXPECT_EQ(t.root, r2);
    EXPECT_EQ(level(t.root, nullptr), (std::vector<int>{2, 1}));
    EXPECT_FALSE(t.move_forward(r1));  // now last

    Node* c[4];
    for (int i = 0; i < 4; ++i) c[i] = static_cast<Node*>(t.add(r2, node(10 + i), nullptr));
    EXPECT_TRUE(t.move_forward(c[0]));  // the first child
    EXPECT_EQ(r2->first, c[1]);
    EXPECT_EQ(children(r2), (std::vector<int>{11, 10, 12, 13}));
    EXPECT_TRUE(t.move_forward(c[2]));  // the one before the last
    EXPECT_EQ(r2->last, c[2]);
    EXPECT_EQ(children(r2), (std::vector<int>{11, 10, 13, 12}));
    EXPECT_TRUE(t.move_forward(c[0]));  // in the middle
    EXPECT_EQ(children(r2), (std::vector<int>{11, 13, 10, 12}));
    EXPECT_FALSE(t.move_forward(c[2]));
    expectSound(t);
}

TEST_F(TreeFixture, ReattachMovesTheWholeSubtreeAndItsOwnership) {
    cTree dst;
    Node* src = static_cast<Node*>(t.add(nullptr, node(1), nullptr));
    Node* moved = static_cast<Node*>(t.add(src, node(2), nullptr));
    t.add(src, node(3), nullptr);
    for (int i = 0; i < 3; ++i) {
        Node* c = static_cast<Node*>(t.add(moved, node(20 + i), nullptr));
        t.add(c, node(200 + i), nullptr);
    }
    Node* dparent = static_cast<Node*>(dst.add(nullptr, node(9), nullptr));
    dst.add(dparent, node(90), nullptr);

    EXPECT_TRUE(t.reattachToTree(&dst, moved, dparent));
    EXPECT_EQ(children(src), std::vector<int>{3});
    EXPECT_EQ(children(dparent), (std::vector<int>{90, 2}));
    EXPECT_EQ(children(moved), (std::vector<int>{20, 21, 22}));
    EXPECT_EQ(moved->parent, dparent);
    expectSound(t);
    expectSound(dst);  // every descendant reports dst as its owner

    // To the root level of the destination.
    EXPECT_TRUE(dst.reattachToTree(&dst, moved, nullptr));
    EXPECT_EQ(level(dst.root, nullptr), (std::vector<int>{9, 2}));
    expectSound(dst);
    EXPECT_TRUE(j.deleted.empty());
    dst.destroy();
    EXPECT_EQ(j.deleted.size(), 9u);
}

TEST_F(TreeFixture, ReattachRefusesToMoveASubtreeIntoItself) {
    cTree dst;
    Node* a = static_cast<Node*>(t.add(nullptr, node(1), nullptr));
    Node* b = static_cast<Node*>(t.add(a, node(2), nullptr));
    Node* c = static_cast<Node*>(t.add(b, node(3), nullptr));
    EXPECT_FALSE(t.reattachToTree(&t, a, c));
    EXPECT_FALSE(t.reattachToTree(&t, a, a));
    EXPECT_FALSE(t.reattachToTree(nullptr, a, nullptr));
    EXPECT_FALSE(t.reattachToTree(&dst, nullptr, nullptr));
    EXPECT_FALSE(dst.reattachToTree(&t, b, nullptr));  // not dst's item
    EXPECT_EQ(t.root, a);
    EXPECT_EQ(children(a), std::vector<int>{2});
    EXPECT_EQ(children(b), std::vector<int>{3});
    expectSound(t);
}

TEST_F(TreeFixture, SetOwnerToSubMarksDescendantsButNotTheItem) {
    cTree other;
    Node* a = static_cast<Node*>(t.add(nullptr, node(1), nullptr));
    Node* b = static_cast<Node*>(t.add(a, node(2), nullptr));
    Node* c = static_cast<Node*>(t.add(b, node(3), nullptr));
    Node* d = static_cast<Node*>(t.add(a, node(4), nullptr));
    cTree::setOwnerToSub(a, &other);
    EXPECT_EQ(a->owner, &t);
    EXPECT_EQ(b->owner, &other);
    EXPECT_EQ(c->owner, &other);
    EXPECT_EQ(d->owner, &other);
    cTree::setOwnerToSub(a, &t);
    cTree::setOwnerToSub(nullptr, &t);
    expectSound(t);
}

TEST_F(TreeFixture, AVeryDeepChainIsWalkedAndDeletedWithoutRecursion) {
    // Deep enough to overflow the stack of a recursive walk under the sanitizers.
    constexpr int kDepth = 200000;
    Node* top = static_cast<Node*>(t.add(nullptr, node(0), nullptr));
    Node* p = top;
    for (int i = 1; i < kDepth; ++i) p = static_cast<Node*>(t.add(p, node(i), nullptr));
    cTree dst;
    EXPECT_TRUE(t.reattachToTree(&dst, top, nullptr));
    EXPECT_EQ(p->owner, &dst);
    EXPECT_TRUE(dst.reattachToTree(&t, top, nullptr));
    EXPECT_EQ(p->owner, &t);
    t.detach(top);
    EXPECT_EQ(p->owner, nullptr);
    EXPECT_EQ(t.root, nullptr);
    cTree::destroyLevel(top);
    EXPECT_EQ(j.alive, 0);
    ASSERT_EQ(j.deleted.size(), static_cast<size_t>(kDepth));
    EXPECT_EQ(j.deleted.front(), kDepth - 1);
    EXPECT_EQ(j.deleted.back(), 0);
}

TEST(TreeItem, DestructorClearsOnlyItsOwnOwnerField) {
    // A detached item's destructor must not touch the tree.
    Journal j;
    cTree t;
    Node* a = static_cast<Node*>(t.add(nullptr, new Node(j, 1), nullptr));
    Node* b = static_cast<Node*>(t.add(nullptr, new Node(j, 2), nullptr));
    t.detach(a);
    EXPECT_EQ(t.root, b);
    delete a;
    EXPECT_EQ(t.root, b);
    EXPECT_EQ(b->prev, nullptr);  // detach mended it; the destructor left it alone
}

// ---------------------------------------------------------------------------
// _List<T>

struct Counted {
    static int alive;
    static int made;
    std::string text = "default";
    int n = 7;
    Counted() {
        ++alive;
        ++made;
    }
    Counted(const Counted& o) : text(o.text), n(o.n) {
        ++alive;
        ++made;
    }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --alive; }
};
int Counted::alive = 0;
int Counted::made = 0;

template <typename T>
std::vector<int> values(const _List<T>& l) {
    std::vector<int> out;
    const typename _List<T>::sItem* last = nullptr;
    for (auto* n = l.head; n; n = n->next) {
        out.push_back(n->value);
        last = n;
    }
    EXPECT_EQ(l.tail, last);
    return out;
}

TEST(ValueList, AddAppendsADefaultValueForTheCallerToFill) {
    _List<int> l;
    auto* a = l.add();
    EXPECT_EQ(a->value, 0);
    EXPECT_EQ(a->next, nullptr);
    a->value = 1;
    l.add()->value = 2;
    l.add()->value = 3;
    EXPECT_EQ(values(l), (std::vector<int>{1, 2, 3}));
    // The node's address is its value's address.
    EXPECT_EQ(static_cast<void*>(a), static_cast<void*>(&a->value));

    int sum = 0;
    for (int v : l) sum += v;
    EXPECT_EQ(sum, 6);
}

TEST(ValueList, RemoveUnlinksFreesAndMendsTheTail) {
    _List<int> l;
    _List<int> other;
    auto* foreign = other.add();
    _List<int>::sItem* n[4];
    for (int i = 0; i < 4; ++i) (n[i] = l.add())->value = i;
    l.remove(foreign);
    l.remove(nullptr);
    EXPECT_EQ(values(l), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(values(other), std::vector<int>{0});
    l.remove(n[3]);  // the last: its predecessor becomes the tail
    EXPECT_EQ(values(l), (std::vector<int>{0, 1, 2}));
    l.remove(n[0]);
    l.remove(n[1]);
    EXPECT_EQ(values(l), std::vector<int>{2});
    l.remove(n[2]);  // the only one
    EXPECT_EQ(l.head, nullptr);
    EXPECT_EQ(l.tail, nullptr);
    l.add()->value = 9;  // starts a new chain
    EXPECT_EQ(values(l), std::vector<int>{9});
}

TEST(ValueList, EveryValueIsDestroyedExactlyOnce) {
    Counted::alive = Counted::made = 0;
    {
        _List<Counted> l;
        for (int i = 0; i < 5; ++i) l.add()->value.n = i;
        EXPECT_EQ(l.head->value.text, "default");
        EXPECT_EQ(Counted::alive, 5);
        l.remove(l.head->next);
        EXPECT_EQ(Counted::alive, 4);
        l.destroy();
        EXPECT_EQ(Counted::alive, 0);
        EXPECT_EQ(l.head, nullptr);
        EXPECT_EQ(l.tail, nullptr);
        l.destroy();
        l.add();
        l.add();
    }
    EXPECT_EQ(Counted::alive, 0);  // the destructor freed the last two
    EXPECT_EQ(Counted::made, 7);
}

TEST(ValueList, CopiesAreDeepAndMovesTransferTheNodes) {
    Counted::alive = Counted::made = 0;
    {
        _List<Counted> a;
        a.add()->value.text = "one";
        a.add()->value.text = "two";
        _List<Counted> b(a);
        EXPECT_NE(a.head, b.head);
        b.head->value.text = "changed";
        EXPECT_EQ(a.head->value.text, "one");
        EXPECT_EQ(b.tail->value.text, "two");
        b = a;
        EXPECT_EQ(b.head->value.text, "one");
        b = b;
        EXPECT_EQ(b.head->value.text, "one");

        _List<Counted> c(std::move(a));
        EXPECT_EQ(a.head, nullptr);
        EXPECT_EQ(c.tail->value.text, "two");
        c = std::move(b);
        EXPECT_EQ(b.head, nullptr);
        EXPECT_EQ(Counted::alive, 2);
    }
    EXPECT_EQ(Counted::alive, 0);
}

}  // namespace
