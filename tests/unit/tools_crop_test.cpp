// Crop to move: marking, cutting, dragging with clamping, the pointer shapes
// and the Idle / Marking / Cut / Dragging transitions.
#include <gtest/gtest.h>

#include "tests/unit/tools_test_pictures.h"
#include "tools/crop.h"

using namespace tooltest;

namespace {

// The preview (and pick area) sits at client (10, 20) and is 130 x 130.
constexpr ToolRect kPickArea{10, 20, 140, 150};

struct Crop {
    std::unique_ptr<FrameImage> work = NewPicture();
    std::unique_ptr<FrameImage> block{new FrameImage};
    CropSession s;
    Crop() {
        FillWithPositions(*work);
        std::memset(block->bytes, 0xEE, sizeof block->bytes);
        StartCrop(s, kPickArea, *work, *block);
    }
    // Client point over picture pixel (px, py).
    static ToolPoint At(int px, int py) {
        return ToolPoint{kPickArea.left + px, kPickArea.top + py};
    }
    // Drags out a mark from picture (px, py), w x h pixels.
    void Mark(int px, int py, int w, int h) {
        CropPress(s, At(px, py));
        CropMove(s, At(px + w, py + h));
        CropRelease(s, At(px + w, py + h));
    }
    // True when exactly the w x h block cut at (fromX, fromY) shows at
    // (toX, toY) and everything else is black.
    bool BlockShownAt(int fromX, int fromY, int w, int h, int toX, int toY) const {
        for (int y = 0; y < kFrameSide; ++y)
            for (int x = 0; x < kFrameSide; ++x) {
                const bool in = x >= toX && x < toX + w && y >= toY && y < toY + h;
                const Bgr want =
                    in ? PositionColour(fromX + x - toX, fromY + y - toY) : Bgr{0, 0, 0};
                if (PixelAt(*work, x, y) != want) return false;
            }
        return true;
    }
};

TEST(CropTool, StartsIdleWithAClearedBlockBuffer) {
    Crop c;
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Idle);
    EXPECT_FALSE(MarkUsable(c.s.mark.SelectionRect));
    auto expected = NewPicture();
    EXPECT_TRUE(SameBlock(*c.block, *expected));
}

TEST(CropTool, CropToMoveWithoutAUsableMarkDoesNothing) {
    auto original = NewPicture();
    FillWithPositions(*original);

    Crop none;
    EXPECT_FALSE(CutBlock(none.s));
    EXPECT_EQ(CropPhaseOf(none.s), CropPhase::Idle);

    Crop flat; // zero height
    flat.Mark(30, 40, 12, 0);
    EXPECT_EQ(MarkHeight(flat.s.mark.SelectionRect), 0);
    EXPECT_FALSE(CutBlock(flat.s));

    Crop lastColumn; // a press in the last column leaves a width of -1
    CropPress(lastColumn.s, ToolPoint{kPickArea.right - 1, 60});
    CropRelease(lastColumn.s, ToolPoint{kPickArea.right + 20, 90});
    EXPECT_EQ(MarkWidth(lastColumn.s.mark.SelectionRect), -1);
    EXPECT_FALSE(CutBlock(lastColumn.s));

    for (Crop* c : {&none, &flat, &lastColumn}) {
        EXPECT_FALSE(c->s.blockCut);
        EXPECT_TRUE(SameBlock(*c->work, *original));
    }
}

TEST(CropTool, CuttingBlacksOutEverythingButTheBlock) {
    Crop c;
    c.Mark(20, 30, 10, 6);
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Idle);
    ASSERT_TRUE(CutBlock(c.s));
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Cut);
    EXPECT_EQ(c.s.blockWidth, 10);
    EXPECT_EQ(c.s.blockHeight, 6);
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 20, 30));
    auto header = NewPicture();
    EXPECT_EQ(std::memcmp(c.work->bytes, header->bytes, kFrameHeaderBytes), 0);
    // The buffer's header stays the 128 x 128 one.
    EXPECT_EQ(HeaderOf(*c.block).biWidth, 128);
}

TEST(CropTool, DraggingMovesTheBlockWithTheGrabPoint) {
    Crop c;
    c.Mark(20, 30, 10, 6);
    CutBlock(c.s);
    CropResponse r = CropPress(c.s, Crop::At(25, 33));
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Dragging);
    EXPECT_EQ(r.pointer, CropPointer::ClosedHand);
    EXPECT_FALSE(r.repaint);

    r = CropMove(c.s, Crop::At(20, 37)); // 5 left, 4 down
    EXPECT_TRUE(r.repaint);
    EXPECT_EQ(r.pointer, CropPointer::ClosedHand);
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 15, 34));
    const ToolRect& sel = c.s.mark.SelectionRect;
    EXPECT_EQ(sel.left, kPickArea.left + 15);
    EXPECT_EQ(sel.top, kPickArea.top + 34);
    EXPECT_EQ(MarkWidth(sel), 10);
    EXPECT_EQ(MarkHeight(sel), 6);

    r = CropRelease(c.s, Crop::At(30, 47)); // released 10 further right and down
    EXPECT_TRUE(r.repaint);
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Cut);
    EXPECT_EQ(r.pointer, CropPointer::OpenHand); // still over the block
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 25, 44));
}

TEST(CropTool, DraggingBeyondThePictureStopsAtItsEdges) {
    Crop c;
    c.Mark(20, 30, 10, 6);
    CutBlock(c.s);
    CropPress(c.s, Crop::At(25, 33));
    // Over the dialog but left of and above the preview.
    CropMove(c.s, ToolPoint{0, 0});
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 0, 0));
    // Far to the right and below: 128 - size.
    CropMove(c.s, ToolPoint{400, 400});
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 118, 122));
    EXPECT_EQ(c.s.mark.SelectionRect.right, kPickArea.right - 2);
    EXPECT_EQ(c.s.mark.SelectionRect.bottom, kPickArea.bottom - 2);
    CropRelease(c.s, ToolPoint{400, 400});
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 118, 122));
}

TEST(CropTool, LargestBlockStillMovesToTheCorners) {
    Crop c;
    // Smallest start (1, 1): a press on the pick area's edge does not count.
    EXPECT_FALSE(CropPress(c.s, ToolPoint{kPickArea.left, 60}).repaint);
    EXPECT_FALSE(CropPress(c.s, ToolPoint{60, kPickArea.top}).repaint);
    // The mark ends 2 pixels before the 130-pixel preview's far edges, which
    // is the picture's far edge: 127 pixels from column and row 1.
    c.Mark(1, 1, 500, 500);
    ASSERT_TRUE(CutBlock(c.s));
    EXPECT_EQ(c.s.blockWidth, 127);
    EXPECT_EQ(c.s.blockHeight, 127);
    CropPress(c.s, Crop::At(50, 50));
    CropMove(c.s, ToolPoint{0, 0});
    EXPECT_TRUE(c.BlockShownAt(1, 1, 127, 127, 0, 0));
    CropRelease(c.s, ToolPoint{1000, 1000});
    EXPECT_TRUE(c.BlockShownAt(1, 1, 127, 127, 1, 1));
}

TEST(CropTool, PointerIsTheOpenHandOnlyStrictlyInsideTheBlock) {
    Crop c;
    c.Mark(20, 30, 10, 6);
    EXPECT_EQ(CropMove(c.s, Crop::At(25, 33)).pointer, CropPointer::Arrow); // not cut yet
    CutBlock(c.s);
    CropResponse r = CropMove(c.s, Crop::At(25, 33));
    EXPECT_EQ(r.pointer, CropPointer::OpenHand);
    EXPECT_FALSE(r.repaint);
    EXPECT_EQ(CropMove(c.s, Crop::At(20, 33)).pointer, CropPointer::Arrow); // left edge
    EXPECT_EQ(CropMove(c.s, Crop::At(25, 36)).pointer, CropPointer::Arrow); // bottom edge
    EXPECT_EQ(CropMove(c.s, Crop::At(90, 90)).pointer, CropPointer::Arrow);
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Cut);
}

TEST(CropTool, APressBesideTheBlockFreezesIt) {
    Crop c;
    c.Mark(20, 30, 10, 6);
    CutBlock(c.s);
    CropPress(c.s, Crop::At(25, 33));
    CropRelease(c.s, Crop::At(45, 53)); // block now at (40, 50)
    ASSERT_TRUE(c.BlockShownAt(20, 30, 10, 6, 40, 50));

    // Outside the pick area: nothing starts, but the block is let go.
    CropResponse r = CropPress(c.s, ToolPoint{kPickArea.right + 30, 40});
    EXPECT_FALSE(r.repaint);
    EXPECT_EQ(r.pointer, CropPointer::Arrow);
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Idle);
    // Pressing where the block is no longer grabs it: a new mark starts.
    r = CropPress(c.s, Crop::At(45, 53));
    EXPECT_TRUE(r.repaint);
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Marking);
    CropMove(c.s, Crop::At(0, 0));
    CropRelease(c.s, Crop::At(70, 70));
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Idle);
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 40, 50)); // the picture kept it
}

TEST(CropTool, PressInsideThePickAreaBesideTheBlockStartsAMarkAtOnce) {
    Crop c;
    c.Mark(20, 30, 10, 6);
    CutBlock(c.s);
    CropResponse r = CropPress(c.s, Crop::At(80, 80));
    EXPECT_TRUE(r.repaint);
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Marking);
    EXPECT_EQ(c.s.mark.SelectionRect.left, Crop::At(80, 80).x);
    // Moves extend the mark, they do not move the block.
    CropMove(c.s, Crop::At(90, 95));
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 20, 30));
}

TEST(CropTool, AMissedReleaseKeepsTheBlockFollowingThePointer) {
    Crop c;
    c.Mark(20, 30, 10, 6);
    CutBlock(c.s);
    CropPress(c.s, Crop::At(25, 33));
    CropMove(c.s, Crop::At(35, 33));
    // The button came up outside the dialog: no release arrives.
    CropMove(c.s, Crop::At(55, 63));
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Dragging);
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 50, 60));
    CropRelease(c.s, Crop::At(56, 63));
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Cut);
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 51, 60));
}

TEST(CropTool, CuttingAgainTakesTheBlockWhereItIsNow) {
    Crop c;
    c.Mark(20, 30, 10, 6);
    CutBlock(c.s);
    CropPress(c.s, Crop::At(25, 33));
    CropRelease(c.s, Crop::At(75, 93));
    ASSERT_TRUE(CutBlock(c.s));
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Cut);
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 70, 90));
    CropPress(c.s, Crop::At(71, 91));
    CropRelease(c.s, Crop::At(1, 1));
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 0, 0));
}

TEST(CropTool, CuttingDuringAMarkWhoseReleaseWasMissedEndsTheMark) {
    Crop c;
    CropPress(c.s, Crop::At(20, 30));
    CropMove(c.s, Crop::At(30, 36)); // released outside the dialog
    ASSERT_EQ(CropPhaseOf(c.s), CropPhase::Marking);
    ASSERT_TRUE(CutBlock(c.s));
    EXPECT_EQ(CropPhaseOf(c.s), CropPhase::Cut);
    // The frame keeps framing the block.
    CropMove(c.s, Crop::At(60, 70));
    CropRelease(c.s, Crop::At(60, 70));
    EXPECT_EQ(MarkWidth(c.s.mark.SelectionRect), 10);
    EXPECT_EQ(MarkHeight(c.s.mark.SelectionRect), 6);
    EXPECT_TRUE(c.BlockShownAt(20, 30, 10, 6, 20, 30));
}

TEST(CropTool, BlocksOutsideThePictureAreNeverRead) {
    // A pick area larger than the picture would let a mark reach past it.
    std::unique_ptr<FrameImage> work = NewPicture(), block{new FrameImage};
    CropSession s;
    StartCrop(s, ToolRect{0, 0, 300, 300}, *work, *block);
    CropPress(s, ToolPoint{100, 100});
    CropRelease(s, ToolPoint{250, 250});
    EXPECT_FALSE(CutBlock(s));
    EXPECT_EQ(CropPhaseOf(s), CropPhase::Idle);
}

} // namespace
