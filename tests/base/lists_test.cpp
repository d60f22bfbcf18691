// The intrusive lists and the tree, driven by random operations and compared
// after every step with std::vector models; what a model cannot see (foreign
// items, deletion order, deep chains, repeated detaches) is checked apart.
#include "base/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Ids = std::vector<int>;

// Every item records its destruction, so the tests see which items died, in
// what order, and that each died exactly once.
struct Journal {
    int alive = 0;
    Ids deleted;
};

template <typename Base>
struct Journaled : Base {
    Journaled(Journal& j, int key) : journal(j), id(key) { ++journal.alive; }
    ~Journaled() override {
        --journal.alive;
        journal.deleted.push_back(id);
    }
    bool eq(void* key) { return *static_cast<int*>(key) == id % 100; }
    Journal& journal;
    int id;
};
struct Item : Journaled<cListItem> {
    using Journaled::Journaled;
    bool eq(void* key) override { return Journaled::eq(key); }
};
struct BiItem : Journaled<cBiListItem> {
    using Journaled::Journaled;
    bool eq(void* key) override { return Journaled::eq(key); }
};
using Node = Journaled<cTreeItem>;
struct PlainItem : cListItem {};  // keeps the default eq

// The ids from head to tail, checking the tail (and for the doubly linked
// list the backward links and the count) on the way.
Ids ids(const cList& l) {
    Ids out;
    const cListItem* last = nullptr;
    for (const cListItem* it = l.head; it && out.size() < 1000; it = it->next) out.push_back(static_cast<const Item*>((last = it))->id);
    EXPECT_EQ(l.tail, last);
    return out;
}
Ids ids(const cBiList& l) {
    Ids out;
    const cBiListItem* before = nullptr;
    for (const cBiListItem* it = l.head; it && out.size() < 1000; before = it, it = it->next) {
        EXPECT_EQ(it->prev, before);
        out.push_back(static_cast<const BiItem*>(it)->id);
    }
    EXPECT_EQ(l.tail, before);
    EXPECT_EQ(l.getCount(), static_cast<int>(out.size()));
    return out;
}

template <typename L, typename I>
void runListModel(unsigned seed) {
    Journal j;
    std::mt19937 rng(seed);
    Ids model, deleted;
    std::map<int, I*> live;
    int nextId = 1;
    {
        L l;
        auto pick = [&]() -> I* { return model.empty() ? nullptr : live[model[rng() % model.size()]]; };
        for (int step = 0; step < 3000; ++step) {
            const int op = static_cast<int>(rng() % 6);
            I* at = pick();
            const auto pos = at ? std::find(model.begin(), model.end(), at->id) : model.end();
            if (op == 0 || model.size() < 3) {
                live[nextId] = static_cast<I*>(l.add(new I(j, nextId)));
                model.push_back(nextId++);
            } else if (op == 1) {  // behind an item, or at the head when none
                const bool atHead = rng() % 4 == 0;
                ASSERT_TRUE(l.insert(live[nextId] = new I(j, nextId), atHead ? nullptr : at));
                model.insert(atHead ? model.begin() : pos + 1, nextId++);
            } else if (op == 2) {
                const int id = at->id;
                l.remove(at);
                deleted.push_back(id);
                live.erase(id);
                model.erase(pos);
            } else if (op == 3) {
                const int id = at->id;
                ASSERT_TRUE(l.dettach(at));
                ASSERT_FALSE(l.dettach(at));
                model.erase(pos);
                live.erase(id);
                delete at;  // handed back undeleted: the caller's to delete
                deleted.push_back(id);
            } else if (op == 4) {
                int key = at->id % 100;
                const auto first = std::find_if(model.begin(), model.end(), [key](int id) { return id % 100 == key; });
                ASSERT_EQ(l.find(&key), live[*first]);
            } else if constexpr (std::is_same_v<L, cList>) {
                if (rng() % 2) {
                    l.forward(at);
                    if (pos + 1 != model.end()) std::iter_swap(pos, pos + 1);
                } else {
                    l.backward(at);
                    if (pos != model.begin()) std::iter_swap(pos, pos - 1);
                }
            }
            ASSERT_EQ(ids(l), model) << "step " << step << " op " << op;
            ASSERT_EQ(j.deleted, deleted);
        }
        deleted.insert(deleted.end(), model.begin(), model.end());
    }
    EXPECT_EQ(j.deleted, deleted);  // the destructor deletes head to tail, each once
    EXPECT_EQ(j.alive, 0);
}

TEST(List, RandomOperationsMatchAVectorModel) { runListModel<cList, Item>(11); }
TEST(BiList, RandomOperationsMatchAVectorModel) { runListModel<cBiList, BiItem>(12); }

TEST(List, ForeignItemsNullsMovesStacksAndChainsOfTheirOwn) {
    Journal j;
    cList l, other;
    Item stray(j, 99);
    Item* a = new Item(j, 1);
    a->next = &stray;
    EXPECT_EQ(l.add(a), a);
    EXPECT_EQ(a->next, nullptr);  // a stale link is cleared
    EXPECT_EQ(l.add(nullptr), nullptr);
    EXPECT_FALSE(l.insert(nullptr, a));
    Item* foreign = static_cast<Item*>(other.add(new Item(j, 7)));
    l.remove(foreign);
    EXPECT_FALSE(l.dettach(foreign));
    l.forward(foreign);
    l.backward(nullptr);
    EXPECT_EQ(ids(other), Ids{7});
    PlainItem plain;
    int key = 0;
    EXPECT_FALSE(plain.eq(&key));

    l.moveTo(l);  // to itself: kept
    EXPECT_EQ(ids(l), Ids{1});
    l.moveTo(other);  // the destination's items go first
    EXPECT_EQ(j.deleted, Ids{7});
    EXPECT_EQ(ids(l), Ids{});
    EXPECT_EQ(ids(other), Ids{1});
    l.moveTo(other);
    EXPECT_EQ(ids(other), Ids{});

    Item* chain = new Item(j, 10);
    chain->next = new Item(j, 11);
    Item* kept = static_cast<Item*>(l.add(new Item(j, 20)));
    cList::destroyList(chain);  // the list's own chain is untouched
    EXPECT_EQ(ids(l), Ids{20});
    l.dettachAll();
    EXPECT_EQ(j.alive, 2);  // 20 and the stray: dettachAll deleted nothing
    delete kept;
    cBiList bl;
    BiItem* b = static_cast<BiItem*>(bl.add(new BiItem(j, 30)));
    bl.dettachAll();
    EXPECT_EQ(bl.getCount(), 0);
    delete b;

    cStackList s;
    EXPECT_EQ(s.pop(), nullptr);
    EXPECT_EQ(s.push(nullptr), nullptr);
    for (int i = 1; i <= 3; ++i) s.push(new Item(j, i));
    s.add(new Item(j, 4));
    EXPECT_EQ(ids(s), (Ids{3, 2, 1, 4}));  // push: last in first out; add: first in first out
    Ids popped;
    while (cListItem* it = s.pop()) {
        popped.push_back(static_cast<Item*>(it)->id);
        delete it;
    }
    EXPECT_EQ(popped, (Ids{3, 2, 1, 4}));
    s.add(new Item(j, 5));  // a new chain after the last pop
    EXPECT_EQ(ids(s), Ids{5});
}

// ---------------------------------------------------------------------------
// cTree, against a model of parent -> children ids.

struct TreeModel {
    std::map<int, Ids> kids;  // 0 is the root level
    std::map<int, int> parent;
};

int idOf(const cTreeItem* n) { return n ? static_cast<const Node*>(n)->id : 0; }

// Walks one level checking sibling links, parent, last child and owner.
void walk(const cTree& t, const cTreeItem* first, const cTreeItem* parent, std::map<int, Ids>& out) {
    Ids& level = out[idOf(parent)];
    const cTreeItem* before = nullptr;
    for (const cTreeItem* it = first; it; before = it, it = it->next) {
        EXPECT_EQ(it->prev, before);
        EXPECT_EQ(it->parent, parent);
        EXPECT_EQ(it->owner, &t);
        level.push_back(idOf(it));
        walk(t, it->first, it, out);
    }
    if (parent) {
        EXPECT_EQ(parent->last, before);
    }
}
std::map<int, Ids> shape(const cTree& t) {
    std::map<int, Ids> out;
    walk(t, t.root, nullptr, out);
    for (auto it = out.begin(); it != out.end();) it = it->second.empty() ? out.erase(it) : std::next(it);
    return out;
}

TEST(Tree, RandomOperationsMatchAModel) {
    Journal j;
    std::mt19937 rng(7);
    cTree t;
    std::map<int, Node*> nodes;
    TreeModel m;
    int nextId = 1;
    auto subtree = [&](int id) {
        Ids out{id};
        for (std::size_t i = 0; i < out.size(); ++i) for (int c : m.kids[out[i]]) out.push_back(c);
        return out;
    };
    auto any = [&]() { auto it = nodes.begin(); std::advance(it, rng() % nodes.size()); return it->second; };
    for (int step = 0; step < 2000; ++step) {
        const int op = static_cast<int>(rng() % 6);
        if (op <= 1 || nodes.size() < 4) {
            Node* parent = !nodes.empty() && rng() % 4 ? any() : nullptr;
            const int pid = idOf(parent);
            Ids& level = m.kids[pid];
            Node* n = new Node(j, nextId);
            if (op == 0) {
                // After a sibling (or an item elsewhere, which appends).
                Node* after = nodes.empty() ? nullptr : any();
                ASSERT_EQ(t.add(parent, n, after), n);
                const auto pos = std::find(level.begin(), level.end(), idOf(after));
                level.insert(pos == level.end() ? level.end() : pos + 1, nextId);
            } else {
                ASSERT_EQ(t.addFirst(parent, n), n);
                level.insert(level.begin(), nextId);
            }
            m.parent[nextId] = pid;
            nodes[nextId++] = n;
        } else {
            Node* n = any();
            Ids& level = m.kids[m.parent[n->id]];
            const auto pos = std::find(level.begin(), level.end(), n->id);
            if (op == 2) {
                ASSERT_EQ(t.move_forward(n), pos + 1 != level.end());
                if (pos + 1 != level.end()) std::iter_swap(pos, pos + 1);
            } else if (op == 3 && rng() % 3 == 0) {
                Ids gone = subtree(n->id);
                level.erase(pos);
                t.remove(n);
                for (int id : gone) nodes.erase(id), m.kids.erase(id);
                ASSERT_EQ(j.deleted.back(), gone.front());  // the item after its descendants
            } else {
                Node* dest = rng() % 3 ? any() : nullptr;
                const Ids sub = subtree(n->id);
                const bool inside = dest && std::find(sub.begin(), sub.end(), dest->id) != sub.end();
                ASSERT_EQ(t.reattachToTree(&t, n, dest), !inside);
                if (!inside) {
                    level.erase(pos);
                    m.kids[idOf(dest)].push_back(n->id);
                    m.parent[n->id] = idOf(dest);
                }
            }
        }
        for (auto it = m.kids.begin(); it != m.kids.end();) it = it->second.empty() ? m.kids.erase(it) : std::next(it);
        ASSERT_EQ(shape(t), m.kids) << "step " << step << " op " << op;
    }
    t.destroy();
    EXPECT_EQ(t.root, nullptr);
    EXPECT_EQ(j.alive, 0);
}

struct TreeFixture : ::testing::Test {
    Journal j;
    cTree t;
    Node* add(cTreeItem* parent, int id, cTree* in = nullptr) { return static_cast<Node*>((in ? in : &t)->add(parent, new Node(j, id), nullptr)); }
};

TEST_F(TreeFixture, DetachHandsBackTheSubtreeOwnerlessAndTwiceChangesNothing) {
    Node* r = add(nullptr, 1);
    Node* a = add(r, 2);
    Node* b = add(r, 3);
    add(r, 4);
    Node* g = add(b, 30);
    Node* gg = add(g, 300);
    t.detach(b);
    t.add(r, new Node(j, 5), a);  // b still points at its old neighbours
    t.detach(b);                   // a second detach must not use them
    EXPECT_EQ(shape(t), (std::map<int, Ids>{{0, {1}}, {1, {2, 5, 4}}}));
    EXPECT_EQ(b->first, g);  // keeps its children, which lose their owner
    for (Node* n : {b, g, gg}) EXPECT_EQ(n->owner, nullptr) << n->id;
    cTree::setOwnerToSub(b, &t);  // descendants only
    EXPECT_EQ(gg->owner, &t);
    EXPECT_EQ(b->owner, nullptr);
    EXPECT_EQ(cTree::subLast(r), r->last);
    EXPECT_EQ(cTree::subLast(nullptr), nullptr);
    cTree::destroyLevel(b->first);
    delete b;
    EXPECT_EQ(j.deleted, (Ids{300, 30, 3}));

    // Foreign items, nulls and a subtree into itself are refused.
    cTree other;
    Node* theirs = add(nullptr, 9, &other);
    t.remove(theirs);
    t.remove(nullptr);
    EXPECT_EQ(other.root, theirs);
    EXPECT_FALSE(t.reattachToTree(&t, r, a));
    EXPECT_FALSE(t.reattachToTree(nullptr, a, nullptr));
    EXPECT_FALSE(other.reattachToTree(&t, a, nullptr));
    EXPECT_FALSE(t.move_forward(nullptr));
    EXPECT_EQ(t.add(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(t.addFirst(nullptr, nullptr), nullptr);
    // Moved into another tree: ownership follows every descendant.
    EXPECT_TRUE(t.reattachToTree(&other, a, theirs));
    EXPECT_EQ(a->owner, &other);
    EXPECT_EQ(shape(other), (std::map<int, Ids>{{0, {9}}, {9, {2}}}));
    t.destroy_sub(r);
    EXPECT_EQ(r->first, nullptr);
    EXPECT_EQ(r->last, nullptr);

    // Stale links of a reused item are reset; a detached item's destructor
    // leaves the tree alone.
    Journal stale;
    Node old(stale, 50);
    Node* n = new Node(j, 60);
    n->next = n->prev = n->first = n->last = n->parent = &old;
    t.add(nullptr, n, nullptr);
    for (cTreeItem* link : {n->next, n->first, n->last, n->parent}) EXPECT_EQ(link, nullptr);
    t.detach(r);
    delete r;
    EXPECT_EQ(t.root, n);
    EXPECT_EQ(n->prev, nullptr);
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
    t.detach(top);
    EXPECT_EQ(p->owner, nullptr);
    cTree::destroyLevel(top);
    EXPECT_EQ(j.alive, 0);
    ASSERT_EQ(j.deleted.size(), static_cast<size_t>(kDepth));
    EXPECT_EQ(j.deleted.front(), kDepth - 1);
}

// ---------------------------------------------------------------------------
// _List<T>

struct Counted {
    static int alive, made;
    std::string text = "default";
    Counted() { ++alive, ++made; }
    Counted(const Counted& o) : text(o.text) { ++alive, ++made; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --alive; }
};
int Counted::alive = 0, Counted::made = 0;

std::string texts(const _List<Counted>& l) {
    std::string out;
    const _List<Counted>::sItem* last = nullptr;
    for (const Counted& c : l) out += c.text + ",";
    for (auto* n = l.head; n; n = n->next) last = n;
    EXPECT_EQ(l.tail, last);
    return out;
}

TEST(ValueList, RemovesMendTheTailAndCopiesMovesAndDestroyKeepEveryValueOnce) {
    {
        _List<Counted> a, other;
        auto* foreign = other.add();
        _List<Counted>::sItem* n[4];
        for (int i = 0; i < 4; ++i) (n[i] = a.add())->value.text = std::to_string(i);
        EXPECT_EQ(static_cast<void*>(n[0]), static_cast<void*>(&n[0]->value));  // the node's address is its value's
        a.remove(foreign);
        a.remove(nullptr);
        a.remove(n[3]);
        a.remove(n[1]);
        EXPECT_EQ(texts(a), "0,2,");
        a.remove(n[2]);
        EXPECT_EQ(texts(other), "default,");

        _List<Counted> b(a);
        b.head->value.text = "changed";
        EXPECT_EQ(texts(a), "0,");  // deep copy
        b = a;
        b = b;
        EXPECT_EQ(texts(b), "0,");
        _List<Counted> c(std::move(a));
        EXPECT_EQ(a.head, nullptr);
        c = std::move(b);
        EXPECT_EQ(texts(c), "0,");
        c.remove(c.head);
        c.add()->value.text = "new";  // a new chain after the last removal
        EXPECT_EQ(texts(c), "new,");
        c.destroy();
        EXPECT_EQ(c.tail, nullptr);
        EXPECT_EQ(Counted::alive, 1);
    }
    EXPECT_EQ(Counted::alive, 0);
}

}  // namespace
