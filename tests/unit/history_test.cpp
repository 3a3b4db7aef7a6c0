// The edit history: ring arithmetic and which of Undo/Redo are offered.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "picture/history.h"

namespace {

struct Ring {
    std::vector<std::unique_ptr<FrameImage>> blocks;
    HistoryRing ring;
    Ring() {
        FrameImage* ptrs[kHistorySlots];
        for (int i = 0; i < kHistorySlots; ++i) {
            blocks.emplace_back(new FrameImage{});
            ptrs[i] = blocks.back().get();
        }
        InitHistoryRing(ring, ptrs);
    }
    // A new state whose picture is marked with `tag` in its first pixel.
    void Load(uint8_t tag) {
        DropRedo(ring);
        PushState(ring);
        CurrentPicture(ring).Pixels()[0] = tag;
    }
    uint8_t Shown() { return CursorPicture(ring).Pixels()[0]; }
};

TEST(History, StartsWithBlackPicturesAndEveryHeaderWritten) {
    Ring r;
    EXPECT_EQ(r.ring.head, 0);
    EXPECT_EQ(r.ring.cursor, 0);
    for (int i = 0; i < kHistorySlots; ++i) {
        EXPECT_EQ(r.ring.valid[i], -1) << "slot " << i;
        BitmapInfoHeader h;
        std::memcpy(&h, r.ring.slot[i]->bytes, sizeof h);
        EXPECT_EQ(h.biWidth, 128);
        EXPECT_EQ(h.biHeight, 128);
        EXPECT_EQ(h.biSizeImage, 49152u);
        EXPECT_EQ(r.ring.slot[i]->Pixels()[1234], 0);
    }
}

TEST(History, FirstLoadUndoShowsBlackStartAndDisablesUndo) {
    Ring r;
    r.Load(7);
    UndoRedoState s = UndoStep(r.ring);
    EXPECT_EQ(r.Shown(), 0); // the black start picture
    EXPECT_FALSE(s.undo);    // the start slot behind it is still marked empty
    EXPECT_TRUE(s.redo);
    s = RedoStep(r.ring);
    EXPECT_EQ(r.Shown(), 7);
    EXPECT_TRUE(s.undo);
    EXPECT_FALSE(s.redo);
}

TEST(History, AfterTwoLoadsOneUndoAlreadyDisablesUndo) {
    Ring r;
    r.Load(1);
    r.Load(2);
    UndoRedoState s = UndoStep(r.ring);
    EXPECT_EQ(r.Shown(), 1);
    EXPECT_FALSE(s.undo);
    EXPECT_TRUE(s.redo);
}

TEST(History, ThreeLoadsOfferTwoUndoSteps) {
    Ring r;
    r.Load(1);
    r.Load(2);
    r.Load(3);
    EXPECT_TRUE(UndoStep(r.ring).undo);
    EXPECT_EQ(r.Shown(), 2);
    EXPECT_FALSE(UndoStep(r.ring).undo);
    EXPECT_EQ(r.Shown(), 1);
}

TEST(History, AfterManyStatesTheCursorStepsBackNineteenTimesAtMost) {
    Ring r;
    for (int i = 1; i <= 25; ++i)
        r.Load(static_cast<uint8_t>(i));
    int steps = 0;
    UndoRedoState s{true, false};
    while (s.undo) {
        s = UndoStep(r.ring);
        ++steps;
        ASSERT_LE(steps, 19);
    }
    EXPECT_EQ(steps, 19);
    EXPECT_EQ(r.Shown(), 25 - 19);
    // The cursor now sits one slot ahead of head in ring order.
    EXPECT_EQ(r.ring.cursor, (r.ring.head + 1) % kHistorySlots);
    EXPECT_TRUE(s.redo);
    // Every state walks back forward again.
    for (int i = 0; i < 19; ++i)
        s = RedoStep(r.ring);
    EXPECT_EQ(r.Shown(), 25);
    EXPECT_FALSE(s.redo);
}

TEST(History, NewStateAfterTwoUndoStepsDiscardsTheRedoStates) {
    Ring r;
    r.Load(1);
    r.Load(2);
    r.Load(3);
    r.Load(4);
    UndoStep(r.ring);
    UndoStep(r.ring);
    int dropped1 = r.ring.head, dropped2 = (r.ring.head + kHistorySlots - 1) % kHistorySlots;
    r.Load(9); // drops 3 and 4, reuses the slot of 3
    EXPECT_EQ(r.ring.valid[dropped1], -1);
    EXPECT_EQ(r.ring.valid[dropped2], 1); // the new state took its place
    EXPECT_EQ(r.ring.head, dropped2);
    EXPECT_EQ(CurrentPicture(r.ring).Pixels()[0], 9);
    // The way back runs 9 -> 2 -> 1.
    UndoStep(r.ring);
    EXPECT_EQ(r.Shown(), 2);
}

TEST(History, DropRedoMakesTheShownPictureCurrent) {
    Ring r;
    r.Load(1);
    r.Load(2);
    UndoStep(r.ring);
    EXPECT_EQ(CurrentPicture(r.ring).Pixels()[0], 2);
    DropRedo(r.ring);
    EXPECT_EQ(r.ring.head, r.ring.cursor);
    EXPECT_EQ(CurrentPicture(r.ring).Pixels()[0], 1);
}

TEST(History, FullRingOverwritesTheOldestState) {
    Ring r;
    for (int i = 1; i <= 21; ++i)
        r.Load(static_cast<uint8_t>(i));
    // 20 slots hold 2..21 now; slot of state 1 was reused.
    for (int i = 0; i < kHistorySlots; ++i)
        EXPECT_EQ(r.ring.valid[i], 1);
    EXPECT_EQ(r.ring.head, 21 % kHistorySlots);
}

TEST(FrameHeader, ZeroSizesWriteNothing) {
    uint8_t block[64];
    std::memset(block, 0xAB, sizeof block);
    EXPECT_EQ(InitFrameHeader(0, 5, block), 0);
    EXPECT_EQ(InitFrameHeader(5, 0, block), 0);
    for (uint8_t b : block)
        ASSERT_EQ(b, 0xAB);
}

TEST(FrameHeader, ImageSizeRoundsRowsUpToFourBytes) {
    FrameImage f{};
    ASSERT_EQ(InitFrameHeader(127, 1, f.bytes), 1);
    BitmapInfoHeader h;
    std::memcpy(&h, f.bytes, sizeof h);
    EXPECT_EQ(h.biSizeImage, 384u); // 381 bytes padded
    ASSERT_EQ(InitFrameHeader(128, 128, f.bytes), 1);
    std::memcpy(&h, f.bytes, sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 49152u);
    EXPECT_EQ(h.biClrUsed, 0u);
    ASSERT_EQ(InitFrameHeader(1, 3, f.bytes), 1);
    std::memcpy(&h, f.bytes, sizeof h);
    EXPECT_EQ(h.biSizeImage, 12u);
}

} // namespace
