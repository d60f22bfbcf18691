// Intrusive lists and trees, and the value list.
//
// cList / cStackList  singly linked chain of cListItem (head, tail)
// cBiList             doubly linked, counted chain of cBiListItem
// cTree               ordered tree of cTreeItem (siblings, children, parent, owner)
// _List<T>            value list: allocates its own nodes, each holding one T
//
// The intrusive containers own the items linked into them and delete them
// through their virtual destructors; `dettach`, `dettachAll`, `detach` and
// `pop` hand an item back to the caller instead.  Nothing here locks: an
// owner that shares a container between threads guards every call.
#pragma once

#include <cstddef>
#include <iterator>
#include <type_traits>
#include <utility>

// ---------------------------------------------------------------------------
// Singly linked lists

class cListItem {
public:
    cListItem* next = nullptr;

    cListItem() = default;
    // A copy is a new, unlinked item: the link belongs to the list, not to the value.
    cListItem(const cListItem&) : next(nullptr) {}
    cListItem& operator=(const cListItem&) { return *this; }
    virtual ~cListItem() = default;

    // Lets `find` locate an item by a key of the subclass's choosing.
    virtual bool eq(void* key);
};

class cList {
public:
    cListItem* head = nullptr;
    cListItem* tail = nullptr;

    cList() = default;
    ~cList() { destroy(); }
    cList(const cList&) = delete;
    cList& operator=(const cList&) = delete;

    // Deletes every item, head to tail; the list is empty afterwards.
    void destroy();
    // Deletes the chain that starts at `first`, following `next`; the list's
    // own pointers are left alone.
    static void destroyList(cListItem* first);

    // Appends at the tail; returns the item, or null (nothing done) for null.
    cListItem* add(cListItem* item);
    // Links `item` behind `after` (which must be in this list), or makes it
    // the head when `after` is null.  False for a null item.
    bool insert(cListItem* item, cListItem* after);
    // Unlinks and deletes the item when it is in the list; otherwise nothing.
    void remove(cListItem* item);
    // Unlinks the item without deleting it; true when it was in the list.
    bool dettach(cListItem* item);
    // Forgets every item without deleting any.
    void dettachAll();
    // Swaps the item with its successor (nothing for the last item or an
    // absent one).
    void forward(cListItem* item);
    // Swaps the item with its predecessor (nothing for the head or an absent
    // one).
    void backward(cListItem* item);
    // Deletes dst's items, hands this list's chain to dst and leaves this
    // list empty.  Moving a list onto itself changes nothing.
    void moveTo(cList& dst);
    // The first item, from the head, whose eq(key) is true; null when none.
    cListItem* find(void* key);

    bool empty() const { return head == nullptr; }
};

// Stack operations over the cList layout: `head` is the top.  A chain filled
// with cList::add and emptied with pop is first in, first out; filled with
// push it is last in, first out.
class cStackList : public cList {
public:
    // Links the item before the head; returns it (null: nothing done).
    cListItem* push(cListItem* item);
    // Unlinks and returns the head, which the caller now owns; null when empty.
    cListItem* pop();
    cListItem* peek() const { return head; }
};

// ---------------------------------------------------------------------------
// Doubly linked, counted list

class cBiListItem {
public:
    cBiListItem* next = nullptr;
    cBiListItem* prev = nullptr;

    cBiListItem() = default;
    cBiListItem(const cBiListItem&) : next(nullptr), prev(nullptr) {}
    cBiListItem& operator=(const cBiListItem&) { return *this; }
    virtual ~cBiListItem() = default;

    virtual bool eq(void* key);
};

class cBiList {
public:
    cBiListItem* head = nullptr;
    cBiListItem* tail = nullptr;
    int count = 0;

    cBiList() = default;
    ~cBiList() { destroy(); }
    cBiList(const cBiList&) = delete;
    cBiList& operator=(const cBiList&) = delete;

    void destroy();
    cBiListItem* add(cBiListItem* item);
    bool insert(cBiListItem* item, cBiListItem* after);
    void remove(cBiListItem* item);
    bool dettach(cBiListItem* item);
    void dettachAll();

    cBiListItem* start() const { return head; }
    cBiListItem* next(cBiListItem* item) const { return item ? item->next : nullptr; }
    cBiListItem* prev(cBiListItem* item) const { return item ? item->prev : nullptr; }
    cBiListItem* getlast() const { return tail; }
    cBiListItem* find(void* key);
    int getCount() const { return count; }

private:
    bool contains(const cBiListItem* item) const;
    void unlink(cBiListItem* item);
};

// ---------------------------------------------------------------------------
// Ordered tree

class cTree;

class cTreeItem {
public:
    cTreeItem* next = nullptr;    // next sibling
    cTreeItem* prev = nullptr;    // previous sibling
    cTreeItem* first = nullptr;   // first child
    cTreeItem* last = nullptr;    // last child
    cTreeItem* parent = nullptr;  // null on the root level
    cTree* owner = nullptr;       // null while detached

    cTreeItem() = default;
    cTreeItem(const cTreeItem&) {}
    cTreeItem& operator=(const cTreeItem&) { return *this; }
    // Unlinks nothing: an item is deleted only through its tree or after
    // `detach`.
    virtual ~cTreeItem() { owner = nullptr; }
};

class cTree {
public:
    cTreeItem* root = nullptr;  // first item of the root level

    cTree() = default;
    // Whatever is still linked is deleted with the tree.
    ~cTree() { destroy(); }
    cTree(const cTree&) = delete;
    cTree& operator=(const cTree&) = delete;

    // Links the item as the first child of `parent` (first root item when
    // null).  Returns the item; null for a null item.
    cTreeItem* addFirst(cTreeItem* parent, cTreeItem* item);
    // Links the item behind the sibling `after` under `parent` (root level
    // when null).  A null `after`, or one that is not among those siblings,
    // appends.  Returns the item; null for a null item.
    cTreeItem* add(cTreeItem* parent, cTreeItem* item, cTreeItem* after);
    // Unlinks the item with its subtree.  The item keeps its children; it and
    // they lose their owner.  An item that is not in this tree is left alone.
    void detach(cTreeItem* item);
    // Detaches the item and deletes its subtree, then the item.  Only items of
    // this tree are deleted.
    void remove(cTreeItem* item);
    // Deletes every item, all levels.
    void destroy();
    // Deletes every child of the item with its subtree.
    void destroy_sub(cTreeItem* item);
    // Deletes `first`, its following siblings and all their subtrees,
    // children before their parent.
    static void destroyLevel(cTreeItem* first);
    // The last child of the item, found by walking its children.
    static cTreeItem* subLast(cTreeItem* item);
    // Swaps the item with its next sibling; false when there is none.
    bool move_forward(cTreeItem* item);
    // Moves the item with its subtree to the end of `parent`'s children (root
    // level when null) in `dst`.  False, with nothing moved, for a null item
    // or tree, an item not in this tree, or a parent inside the item's own
    // subtree.
    bool reattachToTree(cTree* dst, cTreeItem* item, cTreeItem* parent);
    // Sets `owner` on every descendant of the item (not on the item).
    static void setOwnerToSub(cTreeItem* item, cTree* owner);
};

// ---------------------------------------------------------------------------
// Value list

template <typename T>
class _List {
public:
    // The value comes first, so a pointer to the node is a pointer to its value.
    struct sItem {
        T value{};
        sItem* next = nullptr;
    };

    sItem* head = nullptr;
    sItem* tail = nullptr;

    _List() = default;
    ~_List() { destroy(); }
    _List(const _List& o) { append(o); }
    _List& operator=(const _List& o) {
        if (this != &o) {
            _List copy(o);
            swap(copy);
        }
        return *this;
    }
    _List(_List&& o) noexcept : head(o.head), tail(o.tail) { o.head = o.tail = nullptr; }
    _List& operator=(_List&& o) noexcept {
        if (this != &o) {
            destroy();
            head = o.head;
            tail = o.tail;
            o.head = o.tail = nullptr;
        }
        return *this;
    }
    void swap(_List& o) noexcept {
        std::swap(head, o.head);
        std::swap(tail, o.tail);
    }

    // Appends a node with a default-constructed value for the caller to fill.
    sItem* add() {
        sItem* n = new sItem();
        if (tail)
            tail->next = n;
        else
            head = n;
        tail = n;
        return n;
    }

    // Destroys every value and frees every node.
    void destroy() {
        sItem* n = head;
        head = tail = nullptr;
        while (n) {
            sItem* next = n->next;
            delete n;
            n = next;
        }
    }

    // Unlinks and frees the node when it is in the list; otherwise nothing.
    void remove(sItem* item) {
        if (!item) return;
        sItem* before = nullptr;
        sItem* n = head;
        while (n && n != item) {
            before = n;
            n = n->next;
        }
        if (!n) return;
        if (before)
            before->next = n->next;
        else
            head = n->next;
        if (tail == n) tail = before;
        delete n;
    }

    bool empty() const { return head == nullptr; }

    // Walks the values in order: for (auto& v : list) ...
    template <typename Node, typename Value>
    class basic_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;

        explicit basic_iterator(Node* n = nullptr) : n_(n) {}
        reference operator*() const { return n_->value; }
        pointer operator->() const { return &n_->value; }
        basic_iterator& operator++() {
            n_ = n_->next;
            return *this;
        }
        basic_iterator operator++(int) {
            basic_iterator old = *this;
            n_ = n_->next;
            return old;
        }
        bool operator==(const basic_iterator& o) const { return n_ == o.n_; }
        bool operator!=(const basic_iterator& o) const { return n_ != o.n_; }

    private:
        Node* n_;
    };
    using iterator = basic_iterator<sItem, T>;
    using const_iterator = basic_iterator<const sItem, const T>;

    iterator begin() { return iterator(head); }
    iterator end() { return iterator(); }
    const_iterator begin() const { return const_iterator(head); }
    const_iterator end() const { return const_iterator(); }

private:
    void append(const _List& o) {
        try {
            for (const sItem* n = o.head; n; n = n->next) add()->value = n->value;
        } catch (...) {
            destroy();
            throw;
        }
    }
};
