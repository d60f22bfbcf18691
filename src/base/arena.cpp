#include "base/arena.h"

#include <cstdlib>
#include <new>
#include <utility>

cIntegralMemory::Node* cIntegralMemory::newNode() {
    auto* node = static_cast<Node*>(std::malloc(static_cast<std::size_t>(blockSize_)));
    if (node) node[0] = nullptr;
    return node;
}

bool cIntegralMemory::create(long long blockSize) {
    destroy();
    if (blockSize < 0x10000) return false;
    blockSize_ = blockSize;
    slotsPerNode_ = blockSize / 8;
    return true;
}

void* cIntegralMemory::alloc(long long n) {
    if (n < 0) return nullptr;
    if (n >= blockSize_) {
        if (!largeFirst_) {
            largeFirst_ = largeCurrent_ = newNode();
            if (!largeFirst_) return nullptr;
            largeNext_ = 1;
        } else if (largeNext_ >= slotsPerNode_) {
            Node* node = newNode();
            if (!node) return nullptr;
            largeCurrent_[0] = node;
            largeCurrent_ = node;
            largeNext_ = 1;
        }
        void* piece = std::malloc(static_cast<std::size_t>(n));
        if (!piece) throw std::bad_alloc();
        largeCurrent_[largeNext_++] = piece;
        return piece;
    }
    if (!smallFirst_) {
        Node* node = newNode();
        if (!node) return nullptr;
        void* block = std::malloc(static_cast<std::size_t>(blockSize_));
        if (!block) {
            std::free(node);
            return nullptr;
        }
        smallFirst_ = smallCurrent_ = node;
        smallCurrent_[1] = block;
        smallSlot_ = 1;
        smallUsed_ = 0;
    }
    if (smallUsed_ + n <= blockSize_) {
        char* p = static_cast<char*>(smallCurrent_[smallSlot_]) + smallUsed_;
        smallUsed_ += n;
        return p;
    }
    // Start a new block; the rest of the old one is not used again.
    Node* node = smallCurrent_;
    long long slot = smallSlot_ + 1;
    if (slot >= slotsPerNode_) {
        node = newNode();
        if (!node) return nullptr;
        slot = 1;
    }
    void* block = std::malloc(static_cast<std::size_t>(blockSize_));
    if (!block) {
        if (node != smallCurrent_) std::free(node);
        return nullptr;
    }
    if (node != smallCurrent_) {
        smallCurrent_[0] = node;
        smallCurrent_ = node;
    }
    smallCurrent_[slot] = block;
    smallSlot_ = slot;
    smallUsed_ = n;
    return block;
}

void cIntegralMemory::destroy() {
    // Free the blocks and large requests held in each node, then the nodes.
    auto release = [this](Node* first, Node* current, long long usedInCurrent) {
        for (Node* node = first; node;) {
            Node* next = static_cast<Node*>(node[0]);
            long long used = node == current ? usedInCurrent : slotsPerNode_;
            for (long long i = 1; i < used; ++i) std::free(node[i]);
            std::free(node);
            node = next;
        }
    };
    release(smallFirst_, smallCurrent_, smallSlot_ + 1);
    release(largeFirst_, largeCurrent_, largeNext_);
    smallFirst_ = smallCurrent_ = nullptr;
    largeFirst_ = largeCurrent_ = nullptr;
    smallSlot_ = smallUsed_ = largeNext_ = 0;
}

void cIntegralMemory::swap(cIntegralMemory& o) noexcept {
    std::swap(slotsPerNode_, o.slotsPerNode_);
    std::swap(blockSize_, o.blockSize_);
    std::swap(smallFirst_, o.smallFirst_);
    std::swap(smallCurrent_, o.smallCurrent_);
    std::swap(smallSlot_, o.smallSlot_);
    std::swap(smallUsed_, o.smallUsed_);
    std::swap(largeFirst_, o.largeFirst_);
    std::swap(largeCurrent_, o.largeCurrent_);
    std::swap(largeNext_, o.largeNext_);
}
