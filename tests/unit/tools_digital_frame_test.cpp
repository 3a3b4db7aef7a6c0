// Digital frame: window sizes, shrinking the photo into the marked window and
// pasting it into the frame picture (all rows of the window but the last).
#include <gtest/gtest.h>

#include "tests/unit/tools_test_pictures.h"
#include "tools/digital_frame.h"

using namespace tooltest;

namespace {

// The frame picture preview: 128 x 128 at client (149, 13).
constexpr ToolRect kPickArea{149, 13, 277, 141};

struct Frame {
    std::unique_ptr<FrameImage> current = NewPicture();
    std::unique_ptr<FrameImage> frameArt = NewPicture();
    std::unique_ptr<FrameImage> scaled{new FrameImage};
    std::unique_ptr<FrameImage> work = NewPicture();
    DigitalFrameSession s;
    Frame() {
        FillWithPositions(*frameArt);
        FillNoise(*work, 21); // stands for the copy of the current picture
        StartDigitalFrame(s, kPickArea, *scaled);
    }
    static ToolPoint At(int px, int py) {
        return ToolPoint{kPickArea.left + px, kPickArea.top + py};
    }
    void Mark(int px, int py, int w, int h) {
        MarkPress(s.mark, At(px, py));
        MarkMove(s.mark, At(px + w, py + h));
        MarkRelease(s.mark, At(px + w, py + h));
    }
    bool Fit() { return FitPhotoIntoFrame(s, *current, *frameArt, *scaled, *work); }
};

TEST(FrameWindowSide, AboveFourDownToAMultipleOfFour) {
    const int cases[][2] = {{1, 1}, {3, 3},  {4, 4},   {5, 4},     {7, 4},
                            {8, 8}, {11, 8}, {12, 12}, {125, 124}, {127, 124}};
    for (const auto& c : cases)
        EXPECT_EQ(FrameWindowSide(c[0]), c[1]) << c[0];
}

TEST(FitPhotoIntoFrame, NoUsableMarkDoesNothing) {
    Frame none;
    auto before = NewPicture();
    CopyFrameImage(*before, *none.work);
    EXPECT_FALSE(none.Fit());
    EXPECT_TRUE(SameBlock(*none.work, *before));

    Frame flat;
    flat.Mark(20, 20, 10, 0);
    EXPECT_FALSE(flat.Fit());

    Frame lastRow; // a press in the last row leaves a height of -1
    MarkPress(lastRow.s.mark, ToolPoint{kPickArea.left + 20, kPickArea.bottom - 1});
    MarkRelease(lastRow.s.mark, ToolPoint{kPickArea.left + 40, kPickArea.bottom + 9});
    ASSERT_EQ(MarkHeight(lastRow.s.mark.SelectionRect), -1);
    EXPECT_FALSE(lastRow.Fit());
    EXPECT_EQ(lastRow.s.scaledWidth, 0);

    for (Frame* f : {&flat, &lastRow}) {
        auto expected = NewPicture();
        FillNoise(*expected, 21);
        EXPECT_TRUE(SameBlock(*f->work, *expected));
    }
}

TEST(FitPhotoIntoFrame, SevenByFiveIsUsedAsFourByFourAndTheMarkShowsIt) {
    Frame f;
    f.Mark(10, 20, 7, 5);
    ASSERT_TRUE(f.Fit());
    EXPECT_EQ(f.s.scaledWidth, 4);
    EXPECT_EQ(f.s.scaledHeight, 4);
    const ToolRect& sel = f.s.mark.SelectionRect;
    EXPECT_EQ(sel.left, kPickArea.left + 10);
    EXPECT_EQ(sel.right, kPickArea.left + 14);
    EXPECT_EQ(sel.top, kPickArea.top + 20);
    EXPECT_EQ(sel.bottom, kPickArea.top + 24);
    const BitmapInfoHeader h = HeaderOf(*f.scaled);
    EXPECT_EQ(h.biWidth, 4);
    EXPECT_EQ(h.biHeight, 4);
}

TEST(FitPhotoIntoFrame, ThreeByThreeStays) {
    Frame f;
    f.Mark(10, 20, 3, 3);
    ASSERT_TRUE(f.Fit());
    EXPECT_EQ(f.s.scaledWidth, 3);
    EXPECT_EQ(f.s.scaledHeight, 3);
    EXPECT_EQ(MarkWidth(f.s.mark.SelectionRect), 3);
}

TEST(FitPhotoIntoFrame, HeightOneLeavesTheFramePictureAsItIs) {
    Frame f;
    Fill(*f.current, Bgr{255, 255, 255});
    f.Mark(10, 20, 40, 1);
    ASSERT_TRUE(f.Fit());
    EXPECT_EQ(f.s.scaledHeight, 1);
    EXPECT_TRUE(SameBlock(*f.work, *f.frameArt));
}

TEST(FitPhotoIntoFrame, PhotoFillsTheWindowExceptItsLastRow) {
    Frame f;
    Fill(*f.current, Bgr{200, 100, 50});
    f.Mark(30, 40, 42, 21); // used as 40 x 20
    ASSERT_TRUE(f.Fit());
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x) {
            const Bgr got = PixelAt(*f.work, x, y);
            const bool photo = x >= 30 && x < 70 && y >= 40 && y < 59; // rows 0..h-2
            if (photo) {
                ASSERT_TRUE((got.b == 200 || got.b == 199) && (got.g == 100 || got.g == 99) &&
                            (got.r == 50 || got.r == 49))
                    << x << "," << y;
            } else {
                // Frame picture everywhere else, the window's row 59 included.
                ASSERT_EQ(got, PositionColour(x, y)) << x << "," << y;
            }
        }
    EXPECT_EQ(HeaderOf(*f.work).biWidth, 128);
}

TEST(FitPhotoIntoFrame, PhotoKeepsItsTopAtTheTop) {
    Frame f;
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            SetPixel(*f.current, x, y, y < 64 ? Bgr{0, 0, 255} : Bgr{255, 0, 0});
    f.Mark(1, 1, 500, 500); // the largest window: 125 -> 124 from (1, 1)
    ASSERT_TRUE(f.Fit());
    EXPECT_EQ(f.s.scaledWidth, 124);
    EXPECT_EQ(f.s.scaledHeight, 124);
    EXPECT_GE(PixelAt(*f.work, 60, 3).r, 254);
    EXPECT_EQ(PixelAt(*f.work, 60, 3).b, 0);
    EXPECT_GE(PixelAt(*f.work, 60, 120).b, 254);
    EXPECT_EQ(PixelAt(*f.work, 60, 124), PositionColour(60, 124)); // the window's last row
    EXPECT_EQ(PixelAt(*f.work, 0, 60), PositionColour(0, 60));
    EXPECT_EQ(PixelAt(*f.work, 125, 60), PositionColour(125, 60));
}

TEST(FitPhotoIntoFrame, EachSelectOkComposesAfreshFromTheFramePicture) {
    Frame f;
    Fill(*f.current, Bgr{255, 255, 255});
    f.Mark(10, 10, 20, 20);
    ASSERT_TRUE(f.Fit());
    ASSERT_NE(PixelAt(*f.work, 15, 15), PositionColour(15, 15));
    f.Mark(80, 80, 12, 12);
    ASSERT_TRUE(f.Fit());
    EXPECT_EQ(PixelAt(*f.work, 15, 15), PositionColour(15, 15)); // the old paste is gone
    EXPECT_NE(PixelAt(*f.work, 85, 85), PositionColour(85, 85));
}

TEST(ComposeFrame, PastesOnlyInsideThePicture) {
    std::unique_ptr<FrameImage> art = NewPicture(), photo{new FrameImage{}}, work = NewPicture();
    FillWithPositions(*art);
    InitFrameHeader(20, 20, photo->bytes);
    std::memset(photo->bytes + kFrameHeaderBytes, 0xFF, 20 * 20 * 3);
    ComposeFrame(120, 120, 20, 20, *art, *photo, *work);
    EXPECT_EQ(PixelAt(*work, 127, 127), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelAt(*work, 119, 127), PositionColour(119, 127));
    ComposeFrame(-10, -10, 20, 20, *art, *photo, *work);
    EXPECT_EQ(PixelAt(*work, 0, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelAt(*work, 9, 8), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelAt(*work, 10, 8), PositionColour(10, 8));
    EXPECT_EQ(PixelAt(*work, 9, 9), PositionColour(9, 9)); // the photo's unpasted last row
    // Sizes whose rows would run past the photo's block are refused.
    ComposeFrame(0, 0, 200, 200, *art, *photo, *work);
    EXPECT_TRUE(SameBlock(*work, *art));
}

} // namespace
