// Item-identifier lists as byte blocks: sizes, joins (the tree's absolute
// lists) and the last identifier (what the sort compares).
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <algorithm>
#include <vector>

#include "browser/item_lists.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One identifier: its 16-bit count (including itself) then `payload`.
Bytes Id(const Bytes& payload) {
    const size_t cb = payload.size() + 2;
    Bytes id(cb);
    id[0] = static_cast<uint8_t>(cb & 0xFF);
    id[1] = static_cast<uint8_t>(cb >> 8);
    std::copy(payload.begin(), payload.end(), id.begin() + 2);
    return id;
}

// A whole list: the identifiers and the 16-bit terminator.
Bytes List(const std::vector<Bytes>& ids) {
    Bytes list;
    for (const Bytes& id : ids)
        list.insert(list.end(), id.begin(), id.end());
    list.push_back(0);
    list.push_back(0);
    return list;
}

// Counts what is outstanding and can be told to refuse.
class HeapAllocator : public ItemListAllocator {
  public:
    void* Allocate(size_t bytes) override {
        ++allocations;
        lastSize = bytes;
        if (refuse) return nullptr;
        void* block = std::malloc(bytes);
        live.insert(block);
        return block;
    }
    void Free(void* block) override {
        EXPECT_EQ(live.erase(block), 1u) << "freed a block it never gave out";
        std::free(block);
    }
    ~HeapAllocator() {
        for (void* block : live)
            std::free(block);
    }
    bool refuse = false;
    int allocations = 0;
    size_t lastSize = 0;
    std::set<void*> live;
};

Bytes Copy(const uint8_t* list) {
    const uint32_t n = ListSize(list);
    return Bytes(list, list + n + 2);
}

const Bytes kDrive = Id({'C', ':', '\\'});
const Bytes kUsers = Id({'u', 's', 'e', 'r', 's', 0});
const Bytes kPhotos = Id(Bytes(300, 0x5A)); // a count above 255 uses both bytes

TEST(BrowserItemLists, SizeIsTheSumOfTheCountsWithoutTheTerminator) {
    EXPECT_EQ(ListSize(nullptr), 0u);
    Bytes empty = List({});
    EXPECT_EQ(ListSize(empty.data()), 0u);
    Bytes one = List({kDrive});
    EXPECT_EQ(ListSize(one.data()), 5u);
    Bytes three = List({kDrive, kUsers, kPhotos});
    EXPECT_EQ(ListSize(three.data()), 5u + 8u + 302u);
}

TEST(BrowserItemLists, JoiningPutsTheChildAfterTheParentsIdentifiers) {
    HeapAllocator heap;
    Bytes parent = List({kDrive, kUsers});
    Bytes child = List({kPhotos});
    uint8_t* joined = JoinLists(heap, parent.data(), child.data());
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(heap.lastSize, 5u + 8u + 302u + 2u);
    EXPECT_EQ(Copy(joined), List({kDrive, kUsers, kPhotos}));
    heap.Free(joined);
    EXPECT_TRUE(heap.live.empty());
}

TEST(BrowserItemLists, JoiningWithAnEmptySideCopiesTheOther) {
    HeapAllocator heap;
    Bytes list = List({kDrive, kUsers});
    Bytes empty = List({});
    for (const uint8_t* none : std::vector<const uint8_t*>{nullptr, empty.data()}) {
        uint8_t* copy = JoinLists(heap, list.data(), none);
        ASSERT_NE(copy, nullptr);
        EXPECT_NE(copy, list.data());
        EXPECT_EQ(Copy(copy), list);
        heap.Free(copy);
        copy = JoinLists(heap, none, list.data());
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(Copy(copy), list);
        heap.Free(copy);
    }
    EXPECT_TRUE(heap.live.empty());
}

TEST(BrowserItemLists, TheDesktopsEmptyListCopiesAsNoneAndLeavesNothingBehind) {
    HeapAllocator heap;
    Bytes empty = List({});
    EXPECT_EQ(JoinLists(heap, nullptr, nullptr), nullptr);
    EXPECT_EQ(JoinLists(heap, empty.data(), empty.data()), nullptr);
    EXPECT_TRUE(heap.live.empty());
}

TEST(BrowserItemLists, ARefusedBlockGivesNone) {
    HeapAllocator heap;
    heap.refuse = true;
    Bytes list = List({kDrive});
    EXPECT_EQ(JoinLists(heap, list.data(), list.data()), nullptr);
    EXPECT_EQ(heap.allocations, 1);
    EXPECT_TRUE(heap.live.empty());
}

TEST(BrowserItemLists, LastItemIsTheFinalIdentifierItself) {
    Bytes three = List({kDrive, kUsers, kPhotos});
    const uint8_t* last = LastItem(three.data());
    EXPECT_EQ(last, three.data() + 5 + 8);
    // It is a one-item list of its own: the terminator follows it.
    EXPECT_EQ(Copy(last), List({kPhotos}));

    Bytes one = List({kUsers});
    EXPECT_EQ(LastItem(one.data()), one.data());
    Bytes empty = List({});
    EXPECT_EQ(LastItem(empty.data()), empty.data());
    EXPECT_EQ(LastItem(nullptr), nullptr);
}

TEST(BrowserItemLists, IdentifiersAtOddOffsetsAreReadByteByByte) {
    // Shell identifiers are not aligned: the second one here starts at byte 3.
    Bytes list = List({Id({7}), Id({1, 2, 3, 4})});
    ASSERT_EQ(list[3], 6);
    EXPECT_EQ(ListSize(list.data()), 9u);
    EXPECT_EQ(LastItem(list.data()), list.data() + 3);
}

} // namespace
