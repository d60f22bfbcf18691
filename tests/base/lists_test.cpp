#include "base/lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Ids = std::vector<int>;

// Every item records its destruction in a journal, so the tests see how many
// items died, which ones, in what order, and that each died exactly once.
struct Journal {
    int alive = 0;
    Ids deleted;
};

template <typename Base>
class Journaled : public Base {
public:
    Journaled(Journal& j, int id) : journal(j), id(id) { ++journal.alive; }
    ~Journaled() override {
        --journal.alive;
        journal.deleted.push_back(id);
    }
    Journal& journal;
    int id;
};

struct Item : Journaled<cListItem> {
    using Journaled::Journaled;
    bool eq(void* key) override { return *static_cast<int*>(key) == id % 100; }
};
struct PlainItem : Journaled<cListItem> {  // keeps the default eq
    using Journaled::Journaled;
};
struct BiItem : Journaled<cBiListItem> {
    using Journaled::Journaled;
    bool eq(void* key) override { return *static_cast<int*>(key) == id; }
};
using Node = Journaled<cTreeItem>;

// The ids from head to tail, after checking that the tail is the last item
// reached from the head.
Ids ids(const cList& l) {
    Ids out;
    const cListItem* last = nullptr;
    for (const cListItem* it = l.head; it && out.size() < 1000; it = it->next) {
        out.push_back(static_cast<const Item*>(it)->id);
        last = it;
    }
    EXPECT_EQ(l.tail, last) << "tail is not the last item";
    return out;
}

// The ids from head to tail, after checking the backward links, the tail and
// the count.
Ids ids(const cBiList& l) {
    Ids out;
    const cBiListItem* before = nullptr;
    for (const cBiListItem* it = l.head; it && out.size() < 1000; it = it->next) {
        EXPECT_EQ(it->prev, before) << "prev link of item " << static_cast<const BiItem*>(it)->id;
        out.push_back(static_cast<const BiItem*>(it)->id);
        before = it;
    }
    EXPECT_EQ(l.tail, before);
    EXPECT_EQ(l.getCount(), static_cast<int>(out.size()));
    return out;
}

// Items 0..n-1 added to l.
template <typename L, typename I>
std::vector<I*> fill(L& l, Journal& j, int n) {
    std::vector<I*> items;
    for (int i = 0; i < n; ++i) items.push_back(static_cast<I*>(l.add(new I(j, i))));
    return items;
}

// ---------------------------------------------------------------------------
// cList

TEST(List, AddAppendsAtTheTailClearsAStaleNextAndIgnoresNull) {
    Journal j;
    {
        Item stray(j, 99);
        cList l;
        EXPECT_EQ(l.add(nullptr), nullptr);
        EXPECT_EQ(ids(l), Ids{});
        Item* a = new Item(j, 1);
        a->next = &stray;
        EXPECT_EQ(l.add(a), a);
        EXPECT_EQ(a->next, nullptr);
        l.add(new Item(j, 2));
        EXPECT_EQ(l.add(nullptr), nullptr);
        l.add(new Item(j, 3));
        EXPECT_EQ(ids(l), (Ids{1, 2, 3}));
    }
    EXPECT_EQ(j.alive, 0);
    EXPECT_EQ(j.deleted, (Ids{1, 2, 3, 99}));
}

TEST(List, InsertPlacesAtHeadBehindAnItemAndBehindTheTail) {
    Journal j;
    cList l;
    EXPECT_FALSE(l.insert(nullptr, nullptr));
    Item* two = new Item(j, 2);
    EXPECT_TRUE(l.insert(two, nullptr));  // empty list: head and tail
    EXPECT_TRUE(l.insert(new Item(j, 1), nullptr));
    EXPECT_TRUE(l.insert(new Item(j, 4), two));  // behind the tail: becomes the tail
    EXPECT_EQ(ids(l), (Ids{1, 2, 4}));
    EXPECT_TRUE(l.insert(new Item(j, 3), two));
    EXPECT_FALSE(l.insert(nullptr, two));
    EXPECT_EQ(ids(l), (Ids{1, 2, 3, 4}));
}

TEST(List, RemoveDeletesOnlyItsOwnItemAndMendsHeadAndTail) {
    Journal j;
    cList l, other;
    auto it = fill<cList, Item>(l, j, 4);
    Item* foreign = static_cast<Item*>(other.add(new Item(j, 7)));
    l.remove(foreign);
    l.remove(nullptr);
    EXPECT_FALSE(l.dettach(foreign));
    EXPECT_FALSE(l.dettach(nullptr));
    EXPECT_EQ(ids(other), Ids{7});
    EXPECT_TRUE(j.deleted.empty());
    l.remove(it[3]);  // the tail: its predecessor becomes the tail
    EXPECT_EQ(ids(l), (Ids{0, 1, 2}));
    l.remove(it[0]);  // the head
    EXPECT_EQ(ids(l), (Ids{1, 2}));
    l.remove(it[1]);
    l.remove(it[2]);  // the only one
    EXPECT_EQ(ids(l), Ids{});
    EXPECT_EQ(j.deleted, (Ids{3, 0, 1, 2}));
    EXPECT_EQ(j.alive, 1);
}

TEST(List, DettachHandsTheItemBackUndeletedWithItsNextLinkAsItWas) {
    Journal j;
    cList l;
    auto it = fill<cList, Item>(l, j, 3);
    EXPECT_TRUE(l.dettach(it[1]));
    EXPECT_EQ(it[1]->next, it[2]);
    EXPECT_EQ(ids(l), (Ids{0, 2}));
    EXPECT_TRUE(l.dettach(it[2]));  // the tail
    EXPECT_EQ(ids(l), Ids{0});
    EXPECT_TRUE(j.deleted.empty());
    l.dettachAll();
    EXPECT_EQ(ids(l), Ids{});
    EXPECT_EQ(j.alive, 3);  // dettachAll deleted nothing
    for (Item* i : it) delete i;
}

TEST(List, ForwardAndBackwardSwapWithANeighbourAndMoveTheEnds) {
    Journal j;
    cList l;
    auto it = fill<cList, Item>(l, j, 4);
    const struct {
        bool forward;
        int item;
        Ids after;
    } steps[] = {
        {true, 0, {1, 0, 2, 3}},   // the head moves
        {true, 2, {1, 0, 3, 2}},   // the item before the tail becomes the tail
        {true, 2, {1, 0, 3, 2}},   // the tail: nothing
        {false, 1, {1, 0, 3, 2}},  // the head: nothing
        {false, 2, {1, 0, 2, 3}},  // the tail: its predecessor becomes the tail
        {false, 0, {0, 1, 2, 3}},  // the predecessor was the head
        {false, 2, {0, 2, 1, 3}},  // in the middle
    };
    for (const auto& s : steps) {
        s.forward ? l.forward(it[s.item]) : l.backward(it[s.item]);
        EXPECT_EQ(ids(l), s.after) << (s.forward ? "forward " : "backward ") << s.item;
    }
    Item absent(j, 9);
    for (cListItem* x : {static_cast<cListItem*>(&absent), static_cast<cListItem*>(nullptr)}) {
        l.forward(x);
        l.backward(x);
    }
    EXPECT_EQ(ids(l), (Ids{0, 2, 1, 3}));
    EXPECT_TRUE(j.deleted.empty());
}

TEST(List, MoveToDeletesTheDestinationsItemsFirstAndEmptiesTheSource) {
    Journal j;
    cList src, dst;
    src.add(new Item(j, 1));
    src.add(new Item(j, 2));
    src.moveTo(src);  // to itself: every item kept
    EXPECT_EQ(ids(src), (Ids{1, 2}));
    dst.add(new Item(j, 8));
    dst.add(new Item(j, 9));
    src.moveTo(dst);
    EXPECT_EQ(j.deleted, (Ids{8, 9}));
    EXPECT_EQ(ids(src), Ids{});
    EXPECT_EQ(ids(dst), (Ids{1, 2}));
    src.moveTo(dst);  // an empty source empties the destination
    EXPECT_EQ(ids(dst), Ids{});
    EXPECT_EQ(j.alive, 0);
}

TEST(List, FindReturnsTheFirstItemWhoseEqMatches) {
    Journal j;
    cList l;
    int key = 5;
    EXPECT_EQ(l.find(&key), nullptr);  // empty
    l.add(new PlainItem(j, 0));
    l.add(new PlainItem(j, 0));
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
    fill<cList, Item>(l, j, 5);
    l.destroy();
    EXPECT_EQ(ids(l), Ids{});
    EXPECT_EQ(j.deleted, (Ids{0, 1, 2, 3, 4}));
    l.destroy();  // again: nothing
    EXPECT_EQ(j.deleted.size(), 5u);

    Item* a = new Item(j, 10);
    a->next = new Item(j, 11);
    a->next->next = new Item(j, 12);
    l.add(new Item(j, 20));
    cList::destroyList(a);
    EXPECT_EQ(ids(l), Ids{20});  // the list's own chain is untouched
    EXPECT_EQ(j.alive, 1);
}

// ---------------------------------------------------------------------------
// cStackList

Ids popAll(cStackList& s) {
    Ids order;
    while (cListItem* it = s.pop()) {
        order.push_back(static_cast<Item*>(it)->id);
        delete it;
    }
    EXPECT_EQ(ids(s), Ids{});
    return order;
}

TEST(StackList, PushIsLastInFirstOutAndAddFirstInFirstOut) {
    Journal j;
    cStackList s;
    EXPECT_EQ(s.pop(), nullptr);
    EXPECT_EQ(s.peek(), nullptr);
    EXPECT_EQ(s.push(nullptr), nullptr);
    for (int i = 1; i <= 3; ++i) s.push(new Item(j, i));
    EXPECT_EQ(ids(s), (Ids{3, 2, 1}));  // the first pushed stays the tail
    EXPECT_EQ(static_cast<Item*>(s.peek())->id, 3);
    EXPECT_EQ(popAll(s), (Ids{3, 2, 1}));
    for (int i = 1; i <= 3; ++i) s.add(new Item(j, i));
    EXPECT_EQ(popAll(s), (Ids{1, 2, 3}));
    // Popping the last item lets a following add start a new chain.
    s.add(new Item(j, 4));
    s.add(new Item(j, 5));
    EXPECT_EQ(ids(s), (Ids{4, 5}));
    EXPECT_EQ(j.alive, 2);  // the stack's destructor deletes what is left
}

// ---------------------------------------------------------------------------
// cBiList

TEST(BiList, LinksAndCountFollowEveryAddInsertRemoveAndDettach) {
    Journal j;
    cBiList l;
    EXPECT_EQ(l.add(nullptr), nullptr);
    EXPECT_EQ(ids(l), Ids{});
    BiItem* a = static_cast<BiItem*>(l.add(new BiItem(j, 1)));
    BiItem* c = static_cast<BiItem*>(l.add(new BiItem(j, 3)));
    EXPECT_TRUE(l.insert(new BiItem(j, 2), a));
    EXPECT_TRUE(l.insert(new BiItem(j, 0), nullptr));
    BiItem* e = new BiItem(j, 4);
    EXPECT_TRUE(l.insert(e, c));  // behind the tail
    EXPECT_FALSE(l.insert(nullptr, a));
    EXPECT_EQ(ids(l), (Ids{0, 1, 2, 3, 4}));
    EXPECT_EQ(l.getlast(), e);

    l.remove(a);  // the middle
    EXPECT_EQ(ids(l), (Ids{0, 2, 3, 4}));
    EXPECT_TRUE(l.dettach(e));  // the tail
    EXPECT_EQ(ids(l), (Ids{0, 2, 3}));
    delete e;
    l.remove(l.start());  // the head
    EXPECT_EQ(ids(l), (Ids{2, 3}));
    EXPECT_EQ(j.deleted, (Ids{1, 4, 0}));

    cBiListItem* chain = l.start();
    l.dettachAll();
    EXPECT_EQ(ids(l), Ids{});
    EXPECT_EQ(j.alive, 2);  // handed back, not deleted
    delete chain->next;
    delete chain;
    l.add(new BiItem(j, 5));
    l.remove(l.start());  // the only one
    EXPECT_EQ(ids(l), Ids{});
    EXPECT_EQ(j.alive, 0);
}

TEST(BiList, WalksBothWaysFindsAndLeavesForeignItemsAlone) {
    Journal j;
    cBiList l, other;
    auto it = fill<cBiList, BiItem>(l, j, 3);
    Ids back;
    for (cBiListItem* x = l.getlast(); x; x = l.prev(x)) back.push_back(static_cast<BiItem*>(x)->id);
    EXPECT_EQ(back, (Ids{2, 1, 0}));
    EXPECT_EQ(l.next(nullptr), nullptr);
    EXPECT_EQ(l.prev(nullptr), nullptr);
    EXPECT_EQ(l.next(l.start()), it[1]);
    int key = 1;
    EXPECT_EQ(l.find(&key), it[1]);
    key = 5;
    EXPECT_EQ(l.find(&key), nullptr);
    BiItem* foreign = static_cast<BiItem*>(other.add(new BiItem(j, 7)));
    other.add(new BiItem(j, 8));
    l.remove(foreign);
    EXPECT_FALSE(l.dettach(foreign));
    l.remove(nullptr);
    EXPECT_EQ(ids(l), (Ids{0, 1, 2}));
    EXPECT_EQ(ids(other), (Ids{7, 8}));
    EXPECT_TRUE(j.deleted.empty());
}

TEST(BiList, DestroyAndDestructorDeleteEachItemOnce) {
    Journal j;
    {
        cBiList l;
        fill<cBiList, BiItem>(l, j, 3);
        l.destroy();
        EXPECT_EQ(ids(l), Ids{});
        EXPECT_EQ(j.deleted, (Ids{0, 1, 2}));
        l.add(new BiItem(j, 5));
    }
    EXPECT_EQ(j.deleted, (Ids{0, 1, 2, 5}));
    EXPECT_EQ(j.alive, 0);
}

// ---------------------------------------------------------------------------
// cTree

int idOf(const cTreeItem* n) { return n ? static_cast<const Node*>(n)->id : -1; }

// The ids of one sibling chain, checking the sibling links and the parent.
Ids level(const cTreeItem* first, const cTreeItem* parent) {
    Ids out;
    const cTreeItem* before = nullptr;
    for (const cTreeItem* it = first; it && out.size() < 1000; it = it->next) {
        EXPECT_EQ(it->prev, before) << "prev link of " << idOf(it);
        EXPECT_EQ(it->parent, parent) << "parent of " << idOf(it);
        out.push_back(idOf(it));
        before = it;
    }
    if (parent) {
        EXPECT_EQ(parent->last, before) << "last child of " << idOf(parent);
    }
    return out;
}

Ids children(const cTreeItem* parent) { return level(parent->first, parent); }

// Checks every item reachable from the first: links, parents and owner.
void expectSound(const cTree& t, const cTreeItem* first) {
    for (const cTreeItem* it = first; it; it = it->next) {
        EXPECT_EQ(it->owner, &t) << "owner of " << idOf(it);
        EXPECT_EQ(it->first == nullptr, it->last == nullptr) << "first/last of " << idOf(it);
        level(it->first, it);
        expectSound(t, it->first);
    }
}
void expectSound(const cTree& t) {
    if (t.root) {
        EXPECT_EQ(t.root->prev, nullptr);
    }
    level(t.root, nullptr);
    expectSound(t, t.root);
}

struct TreeFixture : ::testing::Test {
    Journal j;
    cTree t;
    Node* add(cTreeItem* parent, int id, cTreeItem* after = nullptr, cTree* in = nullptr) {
        return static_cast<Node*>((in ? in : &t)->add(parent, new Node(j, id), after));
    }
    Node* addFirst(cTreeItem* parent, int id) { return static_cast<Node*>(t.addFirst(parent, new Node(j, id))); }
};

TEST_F(TreeFixture, AddAppendsOrLinksRightBehindAChildOfTheSameParent) {
    EXPECT_EQ(t.add(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(t.addFirst(nullptr, nullptr), nullptr);
    Node* p = add(nullptr, 0);
    EXPECT_EQ(t.root, p);
    Node* other = add(nullptr, 100);
    Node* stranger = add(other, 101);
    add(nullptr, 4, p);  // on the root level as well
    EXPECT_EQ(level(t.root, nullptr), (Ids{0, 4, 100}));

    Node* c1 = add(p, 1);
    Node* c3 = add(p, 3);
    add(p, 2, c1);
    add(p, 5, c3);                             // behind the last child: becomes the last
    add(p, 6, stranger);                       // not under p: appended
    add(p, 7);                                 // a following add goes behind it
    EXPECT_EQ(children(p), (Ids{1, 2, 3, 5, 6, 7}));
    EXPECT_EQ(children(other), Ids{101});
    // Under a childless parent any sibling gives the only child.
    Node* only = add(c1, 10, other);
    EXPECT_EQ(children(c1), Ids{10});
    EXPECT_EQ(only->owner, &t);
    expectSound(t);
}

TEST_F(TreeFixture, AddResetsTheItemsOldLinks) {
    Journal other;
    Node stale(other, 50);
    Node* n = new Node(j, 1);
    n->next = n->prev = n->first = n->last = n->parent = &stale;
    t.add(nullptr, n, nullptr);
    for (cTreeItem* link : {n->next, n->prev, n->first, n->last, n->parent}) EXPECT_EQ(link, nullptr);
}

TEST_F(TreeFixture, AddFirstGoesBeforeTheFirstChildOrTheRootAndSubLastFindsTheLast) {
    Node* p = addFirst(nullptr, 2);
    addFirst(nullptr, 1);
    EXPECT_EQ(level(t.root, nullptr), (Ids{1, 2}));
    EXPECT_EQ(cTree::subLast(nullptr), nullptr);
    EXPECT_EQ(cTree::subLast(p), nullptr);
    Node* only = addFirst(p, 21);
    EXPECT_EQ(children(p), Ids{21});
    addFirst(p, 20);
    EXPECT_EQ(children(p), (Ids{20, 21}));
    EXPECT_EQ(cTree::subLast(p), only);
    expectSound(t);
}

TEST_F(TreeFixture, DetachMendsFirstLastAndRootAndClearsOwnersBelow) {
    Node* r1 = add(nullptr, 1);
    Node* r2 = add(nullptr, 2);
    Node* c[4];
    for (int i = 0; i < 4; ++i) c[i] = add(r2, 20 + i);
    Node* g = add(c[1], 210);
    Node* gg = add(g, 2100);

    t.detach(c[0]);  // first child
    EXPECT_EQ(children(r2), (Ids{21, 22, 23}));
    t.detach(c[3]);  // last child
    EXPECT_EQ(children(r2), (Ids{21, 22}));
    t.detach(c[1]);  // the first again, with a subtree
    EXPECT_EQ(children(r2), Ids{22});
    EXPECT_EQ(c[1]->parent, nullptr);
    EXPECT_EQ(c[1]->first, g);  // keeps its children
    for (Node* n : {c[1], g, gg}) EXPECT_EQ(n->owner, nullptr) << n->id;
    EXPECT_EQ(gg->parent, g);

    t.detach(r1);  // the root item: its next sibling becomes the root
    EXPECT_EQ(t.root, r2);
    expectSound(t);

    // Detached items are the caller's to delete.
    cTree::destroyLevel(c[1]->first);
    EXPECT_EQ(j.deleted, (Ids{2100, 210}));
    for (Node* n : {c[0], c[1], c[3], r1}) delete n;
    EXPECT_EQ(j.alive, 2);
}

TEST_F(TreeFixture, DetachingTwiceLeavesTheTreeIntact) {
    Node* r = add(nullptr, 0);
    Node* a = add(r, 1);
    Node* b = add(r, 2);
    add(r, 3);
    t.detach(b);
    // b still points at its old neighbours; a second detach must not use them.
    add(r, 4, a);
    t.detach(b);
    EXPECT_EQ(children(r), (Ids{1, 4, 3}));
    expectSound(t);
    delete b;
}

TEST_F(TreeFixture, RemoveDeletesDescendantsBeforeTheItemAndOnlyInItsOwnTree) {
    Node* r = add(nullptr, 0);
    Node* a = add(r, 1);
    add(r, 2);
    Node* a1 = add(a, 11);
    add(a, 12);
    add(a1, 111);
    cTree other;
    Node* theirs = add(nullptr, 9, nullptr, &other);
    t.remove(theirs);
    t.remove(nullptr);
    EXPECT_TRUE(j.deleted.empty());
    EXPECT_EQ(other.root, theirs);
    t.remove(a);
    EXPECT_EQ(j.deleted, (Ids{111, 11, 12, 1}));
    EXPECT_EQ(children(r), Ids{2});
    expectSound(t);
}

TEST_F(TreeFixture, DestroyAndTheDestructorDeleteEveryLevelOnce) {
    t.destroy();  // empty: nothing
    EXPECT_EQ(t.root, nullptr);
    Node* r = add(nullptr, 1);
    add(nullptr, 2);
    Node* c = add(r, 10);
    add(c, 100);
    add(r, 11);
    t.destroy();
    EXPECT_EQ(t.root, nullptr);
    EXPECT_EQ(j.deleted, (Ids{100, 10, 11, 1, 2}));
    {
        cTree local;
        add(add(nullptr, 3, nullptr, &local), 4, nullptr, &local);
    }
    EXPECT_EQ(j.deleted, (Ids{100, 10, 11, 1, 2, 4, 3}));
    EXPECT_EQ(j.alive, 0);
}

TEST_F(TreeFixture, DestroySubEmptiesTheItemAndDestroyLevelStartsMidChain) {
    Node* r = add(nullptr, 0);
    Node* c[3];
    for (int i = 0; i < 3; ++i) c[i] = add(r, i + 1);
    add(c[1], 20);
    add(c[2], 30);
    add(c[0], 10);

    // destroyLevel from the middle child deletes it and every following
    // sibling with their subtrees; the owner mends the links itself.
    c[0]->next = nullptr;
    r->last = c[0];
    cTree::destroyLevel(c[1]);
    EXPECT_EQ(j.deleted, (Ids{20, 2, 30, 3}));
    EXPECT_EQ(children(r), Ids{1});

    t.destroy_sub(r);
    EXPECT_EQ(r->first, nullptr);
    EXPECT_EQ(r->last, nullptr);
    EXPECT_EQ(j.deleted, (Ids{20, 2, 30, 3, 10, 1}));
    t.destroy_sub(r);  // no children: nothing
    cTree::destroyLevel(nullptr);
    EXPECT_EQ(j.alive, 1);
    expectSound(t);
}

TEST_F(TreeFixture, MoveForwardSwapsWithTheNextSibling) {
    EXPECT_FALSE(t.move_forward(nullptr));
    Node* r1 = add(nullptr, 1);
    Node* r2 = add(nullptr, 2);
    EXPECT_TRUE(t.move_forward(r1));  // the root moves
    EXPECT_EQ(level(t.root, nullptr), (Ids{2, 1}));
    EXPECT_FALSE(t.move_forward(r1));  // now last

    Node* c[4];
    for (int i = 0; i < 4; ++i) c[i] = add(r2, 10 + i);
    const struct {
        int child;
        bool moved;
        Ids after;
    } steps[] = {
        {0, true, {11, 10, 12, 13}},   // the first child
        {2, true, {11, 10, 13, 12}},   // the one before the last
        {0, true, {11, 13, 10, 12}},   // in the middle
        {2, false, {11, 13, 10, 12}},  // the last
    };
    for (const auto& s : steps) {
        EXPECT_EQ(t.move_forward(c[s.child]), s.moved) << s.child;
        EXPECT_EQ(children(r2), s.after) << s.child;
    }
    expectSound(t);
}

TEST_F(TreeFixture, ReattachMovesTheWholeSubtreeAndItsOwnership) {
    cTree dst;
    Node* src = add(nullptr, 1);
    Node* moved = add(src, 2);
    add(src, 3);
    for (int i = 0; i < 3; ++i) add(add(moved, 20 + i), 200 + i);
    Node* dparent = add(nullptr, 9, nullptr, &dst);
    add(dparent, 90, nullptr, &dst);

    EXPECT_TRUE(t.reattachToTree(&dst, moved, dparent));
    EXPECT_EQ(children(src), Ids{3});
    EXPECT_EQ(children(dparent), (Ids{90, 2}));
    EXPECT_EQ(children(moved), (Ids{20, 21, 22}));
    expectSound(t);
    expectSound(dst);  // every descendant reports dst as its owner

    // To the root level of the destination.
    EXPECT_TRUE(dst.reattachToTree(&dst, moved, nullptr));
    EXPECT_EQ(level(dst.root, nullptr), (Ids{9, 2}));
    expectSound(dst);
    EXPECT_TRUE(j.deleted.empty());
    dst.destroy();
    EXPECT_EQ(j.deleted.size(), 9u);
}

TEST_F(TreeFixture, ReattachRefusesToMoveASubtreeIntoItself) {
    cTree dst;
    Node* a = add(nullptr, 1);
    Node* b = add(a, 2);
    Node* c = add(b, 3);
    EXPECT_FALSE(t.reattachToTree(&t, a, c));
    EXPECT_FALSE(t.reattachToTree(&t, a, a));
    EXPECT_FALSE(t.reattachToTree(nullptr, a, nullptr));
    EXPECT_FALSE(t.reattachToTree(&dst, nullptr, nullptr));
    EXPECT_FALSE(dst.reattachToTree(&t, b, nullptr));  // not dst's item
    EXPECT_EQ(level(t.root, nullptr), Ids{1});
    EXPECT_EQ(children(a), Ids{2});
    EXPECT_EQ(children(b), Ids{3});
    expectSound(t);
}

TEST_F(TreeFixture, SetOwnerToSubMarksDescendantsButNotTheItem) {
    cTree other;
    Node* a = add(nullptr, 1);
    Node* b = add(a, 2);
    Node* c = add(b, 3);
    Node* d = add(a, 4);
    cTree::setOwnerToSub(a, &other);
    EXPECT_EQ(a->owner, &t);
    for (Node* n : {b, c, d}) EXPECT_EQ(n->owner, &other) << n->id;
    cTree::setOwnerToSub(a, &t);
    cTree::setOwnerToSub(nullptr, &t);
    expectSound(t);
}

TEST_F(TreeFixture, AVeryDeepChainIsWalkedAndDeletedWithoutRecursion) {
    // Deep enough to overflow the stack of a recursive walk under the sanitizers.
    constexpr int kDepth = 200000;
    Node* top = add(nullptr, 0);
    Node* p = top;
    for (int i = 1; i < kDepth; ++i) p = add(p, i);
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

TEST_F(TreeFixture, ADetachedItemsDestructorLeavesTheTreeAlone) {
    Node* a = add(nullptr, 1);
    Node* b = add(nullptr, 2);
    t.detach(a);
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
    Counted() { ++alive, ++made; }
    Counted(const Counted& o) : text(o.text), n(o.n) { ++alive, ++made; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --alive; }
};
int Counted::alive = 0;
int Counted::made = 0;

template <typename T>
Ids values(const _List<T>& l) {
    Ids out;
    const typename _List<T>::sItem* last = nullptr;
    for (auto* n = l.head; n; n = n->next) {
        out.push_back(n->value);
        last = n;
    }
    EXPECT_EQ(l.tail, last);
    return out;
}

TEST(ValueList, AddAppendsADefaultValueAndRemoveUnlinksAndMendsTheTail) {
    _List<int> l, other;
    auto* foreign = other.add();
    _List<int>::sItem* n[4];
    for (int i = 0; i < 4; ++i) {
        n[i] = l.add();
        EXPECT_EQ(n[i]->value, 0);
        n[i]->value = i;
    }
    EXPECT_EQ(values(l), (Ids{0, 1, 2, 3}));
    EXPECT_EQ(static_cast<void*>(n[0]), static_cast<void*>(&n[0]->value));  // the node's address is its value's
    int sum = 0;
    for (int v : l) sum += v;
    EXPECT_EQ(sum, 6);
    l.remove(foreign);
    l.remove(nullptr);
    EXPECT_EQ(values(l), (Ids{0, 1, 2, 3}));
    EXPECT_EQ(values(other), Ids{0});
    l.remove(n[3]);  // the last: its predecessor becomes the tail
    EXPECT_EQ(values(l), (Ids{0, 1, 2}));
    l.remove(n[0]);
    l.remove(n[1]);
    EXPECT_EQ(values(l), Ids{2});
    l.remove(n[2]);  // the only one
    EXPECT_EQ(values(l), Ids{});
    l.add()->value = 9;  // starts a new chain
    EXPECT_EQ(values(l), Ids{9});
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
