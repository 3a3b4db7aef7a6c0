// Shell item-identifier lists as plain byte blocks.
//
// A list is a run of identifiers, each starting with a 16-bit little-endian
// byte count `cb` that includes the count itself, ended by a 16-bit zero.
// "None" is a null pointer; the desktop's own list is empty and is kept as
// none. Nothing here needs the shell: blocks come from a caller-supplied
// allocator (the shell's task allocator in the program, the heap in tests).
#pragma once

#include <cstddef>
#include <cstdint>

class ItemListAllocator {
  public:
    // nullptr when no block can be had.
    virtual void* Allocate(size_t bytes) = 0;
    virtual void Free(void* block) = 0;

  protected:
    ~ItemListAllocator() = default;
};

// Bytes of all identifiers up to, not including, the terminator; 0 for none.
uint32_t ListSize(const uint8_t* list);

// A new list holding the identifiers of `a` followed by those of `b`, or none
// when both are empty or the block cannot be had. JoinLists(list, nullptr)
// copies a list.
uint8_t* JoinLists(ItemListAllocator& allocator, const uint8_t* a, const uint8_t* b);

// The last single identifier inside the list (it is followed by the list's
// terminator, so it is itself a one-item list). An empty list gives its
// terminator; none gives none.
const uint8_t* LastItem(const uint8_t* list);
