#include "browser/item_lists.h"

#include <cstring>

namespace {

// `cb` is read byte by byte: identifiers follow each other at any offset.
uint32_t CountAt(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | p[1] << 8;
}

} // namespace

uint32_t ListSize(const uint8_t* list) {
    if (!list) return 0;
    uint32_t total = 0;
    for (uint32_t cb = CountAt(list); cb != 0; cb = CountAt(list + total))
        total += cb;
    return total;
}

uint8_t* JoinLists(ItemListAllocator& allocator, const uint8_t* a, const uint8_t* b) {
    const uint32_t sizeA = ListSize(a);
    const uint32_t sizeB = ListSize(b);
    auto* joined = static_cast<uint8_t*>(allocator.Allocate(size_t{sizeA} + sizeB + 2));
    if (!joined) return nullptr;
    if (sizeA == 0 && sizeB == 0) {
        allocator.Free(joined);
        return nullptr;
    }
    if (sizeA) std::memcpy(joined, a, size_t{sizeA} + 2);
    if (sizeB) std::memcpy(joined + sizeA, b, size_t{sizeB} + 2);
    return joined;
}

const uint8_t* LastItem(const uint8_t* list) {
    if (!list) return nullptr;
    const uint8_t* item = list;
    for (;;) {
        const uint32_t cb = CountAt(item);
        if (cb == 0 || CountAt(item + cb) == 0) return item;
        item += cb;
    }
}
