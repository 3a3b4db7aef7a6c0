// Alpha blending with the background: the weight at the track bar's ends and
// in between, truncation, and what the blend leaves alone.
#include <gtest/gtest.h>

#include "tests/unit/tools_test_pictures.h"
#include "tools/blend.h"

using namespace tooltest;

namespace {

struct Blend {
    std::unique_ptr<FrameImage> current = NewPicture();
    std::unique_ptr<FrameImage> background = NewPicture();
    std::unique_ptr<FrameImage> work = NewPicture();
    uint8_t At(int percent) {
        BlendWithBackground(percent, *current, *background, *work);
        return PixelAt(*work, 64, 64).g;
    }
};

TEST(BlendWithBackground, PositionZeroGivesTheCurrentPictureExactly) {
    Blend b;
    FillNoise(*b.current, 1);
    FillNoise(*b.background, 2);
    BlendWithBackground(0, *b.current, *b.background, *b.work);
    EXPECT_TRUE(SamePixels(*b.work, *b.current));
}

TEST(BlendWithBackground, PositionHundredFallsJustShortOfTheBackground) {
    Blend b;
    Fill(*b.background, Bgr{255, 255, 255});
    EXPECT_EQ(b.At(100), 254); // black on white
    Fill(*b.current, Bgr{255, 255, 255});
    Fill(*b.background, Bgr{0, 0, 0});
    EXPECT_EQ(b.At(100), 0); // white on black
}

TEST(BlendWithBackground, IntermediatePositionsTruncate) {
    Blend b;
    Fill(*b.background, Bgr{100, 100, 100});
    EXPECT_EQ(b.At(50), 49);
    EXPECT_EQ(b.At(40), 39);
    EXPECT_EQ(b.At(1), 0);
    Fill(*b.current, Bgr{200, 200, 200});
    Fill(*b.background, Bgr{0, 0, 0});
    EXPECT_EQ(b.At(25), 150); // 200 x 0.75000000...: the float 0.01 errs low
}

TEST(BlendWithBackground, EqualBytesComeBackAtEveryPosition) {
    Blend b;
    // One row per byte value in both pictures.
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x) {
            const uint8_t v = static_cast<uint8_t>(y * 2 + (x & 1));
            SetPixel(*b.current, x, y, Bgr{v, v, v});
            SetPixel(*b.background, x, y, Bgr{v, v, v});
        }
    for (int p = 0; p <= 100; ++p) {
        BlendWithBackground(p, *b.current, *b.background, *b.work);
        ASSERT_TRUE(SamePixels(*b.work, *b.current)) << "position " << p;
    }
}

TEST(BlendWithBackground, AllThreeBytesShareOneWeight) {
    Blend b;
    Fill(*b.current, Bgr{0, 100, 200});
    Fill(*b.background, Bgr{200, 100, 0});
    BlendWithBackground(50, *b.current, *b.background, *b.work);
    // 0.4999999... of each: 99.99, 100, 100.000002
    EXPECT_EQ(PixelAt(*b.work, 0, 127), (Bgr{99, 100, 100}));
}

TEST(BlendWithBackground, LeavesTheHeaderOfTheResultAlone) {
    Blend b;
    std::memset(b.work->bytes, 0x42, kFrameHeaderBytes);
    BlendWithBackground(30, *b.current, *b.background, *b.work);
    for (int i = 0; i < kFrameHeaderBytes; ++i)
        ASSERT_EQ(b.work->bytes[i], 0x42);
}

TEST(BlendWithBackground, ByteCountFollowsTheHeaderButStaysInsideTheBlock) {
    Blend b;
    Fill(*b.current, Bgr{90, 90, 90});
    InitFrameHeader(128, 2, b.current->bytes); // 768 pixel bytes
    std::memset(b.work->bytes, 0x11, sizeof b.work->bytes);
    BlendWithBackground(0, *b.current, *b.background, *b.work);
    EXPECT_EQ(b.work->Pixels()[767], 90);
    EXPECT_EQ(b.work->Pixels()[768], 0x11);

    // A wild size field must not make it write past the block (ASan watches).
    BitmapInfoHeader h = HeaderOf(*b.current);
    h.biSizeImage = 0xFFFFFFF0u;
    std::memcpy(b.current->bytes, &h, sizeof h);
    BlendWithBackground(0, *b.current, *b.background, *b.work);
    EXPECT_EQ(b.work->Pixels()[kFramePixelBytes - 1], 90);
}

TEST(BlendWithBackground, PositionsOutsideTheTrackBarAreHeldToItsEnds) {
    Blend b;
    Fill(*b.background, Bgr{255, 255, 255});
    Fill(*b.current, Bgr{10, 10, 10});
    EXPECT_EQ(b.At(-50), b.At(0));
    EXPECT_EQ(b.At(250), b.At(100));
}

TEST(BlendWeight, FloatHundredthInDoubleProduct) {
    EXPECT_EQ(BlendWeight(0), 0.0);
    EXPECT_LT(BlendWeight(100), 1.0);
    EXPECT_GT(BlendWeight(100), 0.99999997);
    EXPECT_LT(BlendWeight(50), 0.5); // never rounded up to a float 0.5
}

} // namespace
