// What the tool dialogs share: the mouse position in lParam, preview
// placement, the marking rules and the track bar notifications.
#include <gtest/gtest.h>

#include "tests/unit/tools_test_pictures.h"
#include "tools/tool_frame.h"

using namespace tooltest;

namespace {

constexpr ToolRect kArea{10, 20, 140, 150};

MarkState Fresh() {
    MarkState m;
    StartMarking(m, kArea);
    return m;
}

TEST(ToolFrame, PointerWordsAreUnsigned) {
    const ToolPoint p = PointerFromLParam(0x00420017u);
    EXPECT_EQ(p.x, 0x17);
    EXPECT_EQ(p.y, 0x42);
    // Left of and above the client area: the words read as large numbers,
    // which no pick area contains.
    const ToolPoint q = PointerFromLParam(0xFFFEFFFFu);
    EXPECT_EQ(q.x, 65535);
    EXPECT_EQ(q.y, 65534);
    MarkState m = Fresh();
    EXPECT_FALSE(MarkPress(m, q));
}

TEST(ToolFrame, PlacementSubtractsTheCaptionAllowance) {
    const ToolRect dialog{200, 100, 800, 600};
    const ToolRect preview{211, 143, 320, 273};
    const ToolPoint p = ToolPreviewPlacement(dialog, preview);
    EXPECT_EQ(p.x, 11);
    EXPECT_EQ(p.y, 13); // 43 - 30
}

TEST(ToolFrame, PreviewLayoutsOfTheThreePictureTools) {
    const ToolPoint at{11, 13};
    const PreviewBox one = SinglePreviewBox(at);
    EXPECT_EQ(one.x, 11);
    EXPECT_EQ(one.y, 13);
    EXPECT_EQ(one.width, 130);
    EXPECT_EQ(one.height, 130);

    const BlendPreviewLayout b = LayOutBlendPreviews(at);
    EXPECT_EQ(b.current.x, 11);
    EXPECT_EQ(b.background.x, 11 + 138);
    EXPECT_EQ(b.background.y, 13);
    EXPECT_EQ(b.result.x, 11 + 64);
    EXPECT_EQ(b.result.y, 13 + 160);
    EXPECT_EQ(b.result.width, 130);

    const FramePreviewLayout f = LayOutFramePreviews(at);
    EXPECT_EQ(f.photo.width, 128);
    EXPECT_EQ(f.frameArt.x, 11 + 138);
    EXPECT_EQ(f.result.x, 11 + 64);
    EXPECT_EQ(f.result.y, 13 + 158);
    const ToolRect pick = PickAreaOf(f.frameArt);
    EXPECT_EQ(pick.left, 149);
    EXPECT_EQ(pick.top, 13);
    EXPECT_EQ(pick.right, 149 + 128);
    EXPECT_EQ(pick.bottom, 13 + 128);
}

TEST(MarkRectangle, PressesOnOrOutsideTheEdgesStartNothing) {
    MarkState m = Fresh();
    const ToolPoint misses[] = {{kArea.left, 60},   {60, kArea.top},      {kArea.right, 60},
                                {60, kArea.bottom}, {kArea.left - 1, 60}, {500, 500}};
    for (const ToolPoint& p : misses) {
        EXPECT_FALSE(MarkPress(m, p)) << p.x << "," << p.y;
        EXPECT_FALSE(m.selecting);
    }
    EXPECT_TRUE(MarkPress(m, ToolPoint{kArea.left + 1, kArea.top + 1}));
    EXPECT_TRUE(m.selecting);
    EXPECT_EQ(m.SelectionRect.left, kArea.left + 1);
    EXPECT_EQ(m.SelectionRect.right, kArea.left + 1);
}

TEST(MarkRectangle, GrowsRightAndDownOnlyAndStopsTwoPixelsShort) {
    MarkState m = Fresh();
    ASSERT_TRUE(MarkPress(m, ToolPoint{50, 60}));
    EXPECT_TRUE(MarkMove(m, ToolPoint{70, 90}));
    EXPECT_EQ(m.SelectionRect.right, 70);
    EXPECT_EQ(m.SelectionRect.bottom, 90);
    // Left of and above the start: those edges stay where they were.
    EXPECT_TRUE(MarkMove(m, ToolPoint{30, 40}));
    EXPECT_EQ(m.SelectionRect.left, 50);
    EXPECT_EQ(m.SelectionRect.top, 60);
    EXPECT_EQ(m.SelectionRect.right, 70);
    EXPECT_EQ(m.SelectionRect.bottom, 90);
    // Beyond the area.
    MarkMove(m, ToolPoint{1000, 1000});
    EXPECT_EQ(m.SelectionRect.right, kArea.right - 2);
    EXPECT_EQ(m.SelectionRect.bottom, kArea.bottom - 2);
    // Release above-left of the start: a mark of no size.
    EXPECT_TRUE(MarkRelease(m, ToolPoint{12, 22}));
    EXPECT_FALSE(m.selecting);
    EXPECT_EQ(MarkWidth(m.SelectionRect), 0);
    EXPECT_EQ(MarkHeight(m.SelectionRect), 0);
    EXPECT_FALSE(MarkUsable(m.SelectionRect));
}

TEST(MarkRectangle, MovesAndReleasesWithoutAPressChangeNothing) {
    MarkState m = Fresh();
    EXPECT_FALSE(MarkMove(m, ToolPoint{70, 90}));
    EXPECT_FALSE(MarkRelease(m, ToolPoint{70, 90}));
    EXPECT_EQ(m.SelectionRect.right, 0);
}

TEST(MarkRectangle, PressesNearTheFarEdgesGiveWidthsOfMinusOneAndZero) {
    MarkState m = Fresh();
    ASSERT_TRUE(MarkPress(m, ToolPoint{kArea.right - 1, 60}));
    MarkMove(m, ToolPoint{kArea.right + 5, 80});
    EXPECT_EQ(MarkWidth(m.SelectionRect), -1);
    MarkRelease(m, ToolPoint{kArea.right + 5, 80});
    EXPECT_EQ(MarkWidth(m.SelectionRect), -1);
    EXPECT_EQ(MarkHeight(m.SelectionRect), 20);
    EXPECT_FALSE(MarkUsable(m.SelectionRect));

    ASSERT_TRUE(MarkPress(m, ToolPoint{40, kArea.bottom - 1}));
    MarkRelease(m, ToolPoint{60, kArea.bottom + 40});
    EXPECT_EQ(MarkHeight(m.SelectionRect), -1);
    EXPECT_EQ(MarkWidth(m.SelectionRect), 20);

    ASSERT_TRUE(MarkPress(m, ToolPoint{kArea.right - 2, 60}));
    MarkRelease(m, ToolPoint{kArea.right + 5, 80});
    EXPECT_EQ(MarkWidth(m.SelectionRect), 0);
    EXPECT_FALSE(MarkUsable(m.SelectionRect));
}

TEST(MarkRectangle, AReleaseOutsideTheDialogLeavesTheMarkGrowing) {
    MarkState m = Fresh();
    ASSERT_TRUE(MarkPress(m, ToolPoint{50, 60}));
    MarkMove(m, ToolPoint{60, 70});
    // No release was seen; the pointer comes back over the dialog.
    EXPECT_TRUE(MarkMove(m, ToolPoint{90, 100}));
    EXPECT_TRUE(m.selecting);
    EXPECT_EQ(m.SelectionRect.right, 90);
    EXPECT_EQ(m.SelectionRect.bottom, 100);
    // A new press restarts the mark where it is.
    ASSERT_TRUE(MarkPress(m, ToolPoint{30, 40}));
    EXPECT_EQ(m.SelectionRect.left, 30);
    EXPECT_EQ(m.SelectionRect.right, 30);
    // A press outside the area does not end the unfinished mark.
    EXPECT_FALSE(MarkPress(m, ToolPoint{500, 40}));
    EXPECT_TRUE(m.selecting);
    EXPECT_TRUE(MarkRelease(m, ToolPoint{45, 52}));
    EXPECT_EQ(MarkWidth(m.SelectionRect), 15);
    EXPECT_EQ(MarkHeight(m.SelectionRect), 12);
}

TEST(ToolFrame, OnlyThumbTrackAndEndTrackMoveAPicture) {
    int moving = 0;
    for (int code = 0; code <= 8; ++code)
        moving += IsTrackBarMove(code) ? 1 : 0;
    EXPECT_EQ(moving, 2);
    EXPECT_TRUE(IsTrackBarMove(5)); // TB_THUMBTRACK
    EXPECT_TRUE(IsTrackBarMove(8)); // TB_ENDTRACK
}

TEST(ToolFrame, ClearedScratchPictureIsBlackWithTheStandardHeader) {
    std::unique_ptr<FrameImage> f(new FrameImage);
    std::memset(f->bytes, 0x99, sizeof f->bytes);
    ClearToolPicture(*f);
    const BitmapInfoHeader h = HeaderOf(*f);
    EXPECT_EQ(h.biWidth, 128);
    EXPECT_EQ(h.biHeight, 128);
    EXPECT_EQ(h.biSizeImage, 49152u);
    for (int i = kFrameHeaderBytes; i < kFrameImageSize; ++i)
        ASSERT_EQ(f->bytes[i], 0) << i;
}

} // namespace
