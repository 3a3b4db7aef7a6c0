// Quarter turns, mirror and flip: where each pixel goes, and that the
// operations undo one another.
#include <gtest/gtest.h>

#include "tests/unit/tools_test_pictures.h"
#include "tools/rotate.h"

using namespace tooltest;

namespace {

// A black picture with one coloured pixel at (x, y).
std::unique_ptr<FrameImage> OnePixel(int x, int y) {
    auto f = NewPicture();
    SetPixel(*f, x, y, Bgr{10, 20, 30});
    return f;
}

// Where the single non-black pixel of f is.
std::pair<int, int> LitPixel(const FrameImage& f) {
    std::pair<int, int> at{-1, -1};
    int count = 0;
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            if (PixelAt(f, x, y) != Bgr{0, 0, 0}) {
                at = {x, y};
                ++count;
            }
    EXPECT_EQ(count, 1);
    return at;
}

TEST(RotateTool, RotateLeftTurnsCounterClockwise) {
    // Near the top-left corner, a quarter turn to the left carries a pixel to
    // near the bottom-left one.
    auto f = OnePixel(10, 20);
    ASSERT_TRUE(RotateLeft(*f));
    EXPECT_EQ(LitPixel(*f), std::make_pair(20, 117));
    EXPECT_EQ(PixelAt(*f, 20, 117), (Bgr{10, 20, 30})); // all three bytes move together

    auto corner = OnePixel(127, 0); // top-right comes to top-left
    RotateLeft(*corner);
    EXPECT_EQ(LitPixel(*corner), std::make_pair(0, 0));
}

TEST(RotateTool, RotateRightTurnsClockwise) {
    auto f = OnePixel(10, 20);
    ASSERT_TRUE(RotateRight(*f));
    EXPECT_EQ(LitPixel(*f), std::make_pair(107, 10));

    auto corner = OnePixel(0, 0); // top-left comes to top-right
    RotateRight(*corner);
    EXPECT_EQ(LitPixel(*corner), std::make_pair(127, 0));
}

TEST(RotateTool, MirrorSwapsLeftAndRightFlipSwapsTopAndBottom) {
    auto m = OnePixel(3, 40);
    ASSERT_TRUE(MirrorImage(*m));
    EXPECT_EQ(LitPixel(*m), std::make_pair(124, 40));

    auto f = OnePixel(3, 40);
    ASSERT_TRUE(FlipImage(*f));
    EXPECT_EQ(LitPixel(*f), std::make_pair(3, 87));
}

TEST(RotateTool, EveryPixelOfATurnComesFromItsRotatedPlace) {
    // The pixels straddle all four 64 x 64 tiles; a tile walked with a wrong
    // origin shows up here.
    auto f = NewPicture();
    FillWithPositions(*f);
    RotateLeft(*f);
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            ASSERT_EQ(PixelAt(*f, x, y), PositionColour(127 - y, x)) << x << "," << y;
    FillWithPositions(*f);
    RotateRight(*f);
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            ASSERT_EQ(PixelAt(*f, x, y), PositionColour(y, 127 - x)) << x << "," << y;
}

TEST(RotateTool, OperationsUndoEachOther) {
    auto original = NewPicture();
    FillNoise(*original, 7);
    auto f = NewPicture();

    CopyFrameImage(*f, *original);
    for (int i = 0; i < 4; ++i)
        RotateLeft(*f);
    EXPECT_TRUE(SamePixels(*f, *original)) << "4 x left";

    for (int i = 0; i < 4; ++i)
        RotateRight(*f);
    EXPECT_TRUE(SamePixels(*f, *original)) << "4 x right";

    RotateLeft(*f);
    RotateRight(*f);
    EXPECT_TRUE(SamePixels(*f, *original)) << "left then right";

    MirrorImage(*f);
    EXPECT_FALSE(SamePixels(*f, *original));
    MirrorImage(*f);
    EXPECT_TRUE(SamePixels(*f, *original)) << "mirror twice";

    FlipImage(*f);
    EXPECT_FALSE(SamePixels(*f, *original));
    FlipImage(*f);
    EXPECT_TRUE(SamePixels(*f, *original)) << "flip twice";
}

TEST(RotateTool, MirrorThenFlipIsAHalfTurn) {
    auto a = NewPicture();
    FillNoise(*a, 99);
    auto b = NewPicture();
    CopyFrameImage(*b, *a);
    MirrorImage(*a);
    FlipImage(*a);
    RotateLeft(*b);
    RotateLeft(*b);
    EXPECT_TRUE(SamePixels(*a, *b));
}

TEST(RotateTool, ResultCarriesTheStandardHeaderAndAnEmptyTail) {
    // The scratch picture is copied back whole, so whatever the header and the
    // unused tail held is replaced.
    auto expected = NewPicture();
    for (bool (*op)(FrameImage&) : {RotateLeft, RotateRight, MirrorImage, FlipImage}) {
        auto f = NewPicture();
        std::memset(f->bytes, 0x5A, kFrameHeaderBytes);
        std::memset(f->bytes + kFrameHeaderBytes + kFramePixelBytes, 0x77,
                    kFrameImageSize - kFrameHeaderBytes - kFramePixelBytes);
        ASSERT_TRUE(op(*f));
        EXPECT_EQ(std::memcmp(f->bytes, expected->bytes, kFrameHeaderBytes), 0);
        EXPECT_EQ(std::memcmp(f->bytes + kFrameHeaderBytes + kFramePixelBytes,
                              expected->bytes + kFrameHeaderBytes + kFramePixelBytes,
                              kFrameImageSize - kFrameHeaderBytes - kFramePixelBytes),
                  0);
    }
}

} // namespace
