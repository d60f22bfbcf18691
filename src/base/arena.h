// cIntegralMemory: an arena that hands out many small pieces and frees them
// all at once.  Pieces are packed back to back without alignment.
#pragma once

class cIntegralMemory {
public:
    cIntegralMemory() = default;
    ~cIntegralMemory() { destroy(); }
    cIntegralMemory(const cIntegralMemory&) = delete;
    cIntegralMemory& operator=(const cIntegralMemory&) = delete;

    // Frees everything, then sets the block size (at least 0x10000).
    bool create(long long blockSize);
    // n bytes that stay valid until destroy(); null when the heap refuses.
    void* alloc(long long n);
    void destroy();
    void swap(cIntegralMemory& o) noexcept;

    long long blockSize() const { return blockSize_; }

private:
    // A bookkeeping node is an array of slotsPerNode_ words: word 0 links the
    // next node, words 1.. hold blocks (small chain) or large requests.
    using Node = void*;
    Node* newNode();

    long long slotsPerNode_ = 8192;
    long long blockSize_ = 0x10000;
    Node* smallFirst_ = nullptr;
    Node* smallCurrent_ = nullptr;
    long long smallSlot_ = 0;
    long long smallUsed_ = 0;
    Node* largeFirst_ = nullptr;
    Node* largeCurrent_ = nullptr;
    long long largeNext_ = 0;
};
