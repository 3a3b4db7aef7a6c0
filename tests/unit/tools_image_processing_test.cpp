// The image processing tool: the three effects, the tone table behind
// brightness and contrast, and the zoom preview.
#include <gtest/gtest.h>

#include "tests/unit/tools_test_pictures.h"
#include "tools/image_processing.h"

using namespace tooltest;

namespace {

// ---- Effects ----

TEST(ImageEffects, NegativeInvertsAndTwiceGivesThePictureBack) {
    auto f = NewPicture();
    FillNoise(*f, 5);
    auto original = NewPicture();
    CopyFrameImage(*original, *f);
    ApplyNegative(*f);
    for (int i = 0; i < kFramePixelBytes; ++i)
        ASSERT_EQ(f->Pixels()[i], 255 - original->Pixels()[i]) << i;
    ApplyNegative(*f);
    EXPECT_TRUE(SameBlock(*f, *original));
}

TEST(ImageEffects, GrayscaleWeighsTheChannelsAndKeepsGreys) {
    auto f = NewPicture();
    SetPixel(*f, 0, 0, Bgr{0, 0, 255}); // red:   306 x 255 >> 10
    SetPixel(*f, 1, 0, Bgr{0, 255, 0}); // green: 601 x 255 >> 10
    SetPixel(*f, 2, 0, Bgr{255, 0, 0}); // blue:  117 x 255 >> 10
    SetPixel(*f, 3, 0, Bgr{255, 255, 255});
    ApplyGrayscale(*f);
    EXPECT_EQ(PixelAt(*f, 0, 0), (Bgr{76, 76, 76}));
    EXPECT_EQ(PixelAt(*f, 1, 0), (Bgr{149, 149, 149}));
    EXPECT_EQ(PixelAt(*f, 2, 0), (Bgr{29, 29, 29}));
    EXPECT_EQ(PixelAt(*f, 3, 0), (Bgr{255, 255, 255}));

    auto grey = NewPicture();
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x) {
            const uint8_t v = static_cast<uint8_t>(x + y);
            SetPixel(*grey, x, y, Bgr{v, v, v});
        }
    auto before = NewPicture();
    CopyFrameImage(*before, *grey);
    ApplyGrayscale(*grey);
    EXPECT_TRUE(SameBlock(*grey, *before));
}

TEST(ImageEffects, SepiaOnWhiteBlackAndGrey) {
    auto f = NewPicture();
    SetPixel(*f, 0, 0, Bgr{255, 255, 255});
    SetPixel(*f, 1, 0, Bgr{100, 100, 100});
    SetPixel(*f, 2, 0, Bgr{0, 0, 0});
    ApplySepia(*f);
    EXPECT_EQ(PixelAt(*f, 0, 0), (Bgr{238, 255, 255})); // red and green limited to 255
    // 1.351, 1.203 and 0.937 times 100, truncated.
    EXPECT_EQ(PixelAt(*f, 1, 0), (Bgr{93, 120, 135}));
    EXPECT_EQ(PixelAt(*f, 2, 0), (Bgr{0, 0, 0}));
}

TEST(ImageEffects, EffectsLeaveHeaderAndTailAlone) {
    for (void (*effect)(FrameImage&) : {ApplyNegative, ApplyGrayscale, ApplySepia}) {
        auto f = NewPicture();
        std::memset(f->bytes + kFrameHeaderBytes + kFramePixelBytes, 0x3C,
                    kFrameImageSize - kFrameHeaderBytes - kFramePixelBytes);
        auto before = NewPicture();
        CopyFrameImage(*before, *f);
        effect(*f);
        EXPECT_EQ(std::memcmp(f->bytes, before->bytes, kFrameHeaderBytes), 0);
        EXPECT_EQ(f->bytes[kFrameImageSize - 1], 0x3C);
    }
}

TEST(ImageEffects, AnEffectButtonShowsTheWorkingPictureWithTheEffect) {
    auto work = NewPicture();
    FillNoise(*work, 8);
    auto preview = NewPicture(), scratch = NewPicture();
    // An untaken brightness preview is dropped.
    AdjustPreviewFromTrackBar(ImageTrackBar::Brightness, 90, *work, *scratch, *preview);
    ApplyImageEffect(ImageEffect::Sepia, *work, *preview);
    EXPECT_TRUE(SameBlock(*preview, *work));
    auto expected = NewPicture();
    FillNoise(*expected, 8);
    ApplySepia(*expected);
    EXPECT_TRUE(SamePixels(*work, *expected));
}

// ---- Tone table ----

TEST(ToneTable, NeutralPositionsLowerTheUpperHalfByOne) {
    const ToneTable t = BuildToneTable(0, 0);
    for (int j = 0; j <= 128; ++j)
        EXPECT_EQ(t[j], j) << j;
    for (int j = 129; j <= 255; ++j)
        EXPECT_EQ(t[j], j - 1) << j;
}

TEST(ToneTable, FullContrastDoublesAroundTheMiddle) {
    const ToneTable t = BuildToneTable(0, 100);
    for (int j = 0; j <= 64; ++j)
        EXPECT_EQ(t[j], 0) << j;
    EXPECT_EQ(t[65], 2);
    EXPECT_EQ(t[129], 129);
    for (int j = 192; j <= 255; ++j)
        EXPECT_EQ(t[j], 255) << j;
    for (int j = 1; j <= 255; ++j)
        EXPECT_GE(t[j], t[j - 1]) << j;
}

TEST(ToneTable, NoContrastIsOneLevel) {
    const ToneTable t = BuildToneTable(0, -100);
    for (int j = 0; j <= 255; ++j)
        EXPECT_EQ(t[j], 128) << j;
    const ToneTable dark = BuildToneTable(-200, -100); // br + 128 limited to 0
    const ToneTable light = BuildToneTable(200, -100); // ... and to 255
    for (int j = 0; j <= 255; ++j) {
        EXPECT_EQ(dark[j], 0);
        EXPECT_EQ(light[j], 255);
    }
}

TEST(ToneTable, FullBrightnessBothWays) {
    const ToneTable up = BuildToneTable(200, 0);
    EXPECT_EQ(up[0], 200);
    EXPECT_EQ(up[54], 254);
    for (int j = 55; j <= 255; ++j)
        EXPECT_EQ(up[j], 255) << j;

    const ToneTable down = BuildToneTable(-200, 0);
    for (int j = 0; j <= 201; ++j)
        EXPECT_EQ(down[j], 0) << j;
    EXPECT_EQ(down[202], 1);
    EXPECT_EQ(down[255], 54);
}

TEST(ToneTable, AppliesToPixelBytesOnlyAndReadsTheWorkingPicture) {
    auto work = NewPicture();
    FillNoise(*work, 11);
    auto preview = NewPicture();
    std::memset(preview->bytes, 0x42, kFrameHeaderBytes);
    const ToneTable t = BuildToneTable(-200, 0);
    ApplyToneTable(t, *work, *preview);
    for (int i = 0; i < kFrameHeaderBytes; ++i)
        ASSERT_EQ(preview->bytes[i], 0x42);
    for (int i = 0; i < kFramePixelBytes; ++i)
        ASSERT_EQ(preview->Pixels()[i], t[work->Pixels()[i]]) << i;
}

TEST(ToneTable, ByteCountFollowsTheHeaderButStaysInsideTheBlock) {
    auto work = NewPicture(), preview = NewPicture();
    Fill(*work, Bgr{200, 200, 200});
    BitmapInfoHeader h = HeaderOf(*work);
    h.biSizeImage = 0xFFFFFF00u; // ASan watches the end of the block
    std::memcpy(work->bytes, &h, sizeof h);
    ApplyToneTable(BuildToneTable(-200, 0), *work, *preview);
    EXPECT_EQ(preview->Pixels()[kFramePixelBytes - 1], 0);
    InitFrameHeader(128, 1, work->bytes); // 384 bytes
    ApplyToneTable(BuildToneTable(0, -100), *work, *preview);
    EXPECT_EQ(preview->Pixels()[383], 128);
    EXPECT_EQ(preview->Pixels()[384], 0);
}

TEST(ToneTable, ATakenPreviewIsAdjustedAgainWithTheAbsolutePosition) {
    // Brightness 50 taken with the small OK, then the track bar at 60: the
    // picture gets a further 60, not 10.
    auto work = NewPicture(), scratch = NewPicture(), preview = NewPicture();
    Fill(*work, Bgr{10, 20, 30});
    AdjustPreviewFromTrackBar(ImageTrackBar::Brightness, 50, *work, *scratch, *preview);
    CopyFrameImage(*work, *preview);
    AdjustPreviewFromTrackBar(ImageTrackBar::Brightness, 60, *work, *scratch, *preview);
    EXPECT_EQ(PixelAt(*preview, 5, 5), (Bgr{120, 130, 140}));
}

TEST(ToneTable, TrackBarsAreNeverCombined) {
    // Brightness after contrast starts again from the working picture with
    // contrast at neutral.
    auto work = NewPicture();
    FillNoise(*work, 12);
    auto a = NewPicture(), scratch = NewPicture(), b = NewPicture();
    AdjustPreviewFromTrackBar(ImageTrackBar::Contrast, 80, *work, *scratch, *a);
    AdjustPreviewFromTrackBar(ImageTrackBar::Brightness, 30, *work, *scratch, *a);
    ApplyToneTable(BuildToneTable(30, 0), *work, *b);
    EXPECT_TRUE(SamePixels(*a, *b));
    AdjustPreviewFromTrackBar(ImageTrackBar::Contrast, -40, *work, *scratch, *a);
    ApplyToneTable(BuildToneTable(0, -40), *work, *b);
    EXPECT_TRUE(SamePixels(*a, *b));
}

// ---- Zoom ----

TEST(ZoomBlock, SizesAndOffsetsForEveryPosition) {
    // |p| ranges and the block side s they give.
    const struct {
        int from, to, side;
    } table[] = {{10, 10, 124}, {11, 11, 116}, {12, 12, 104}, {13, 13, 96}, {14, 14, 88},
                 {15, 15, 84},  {16, 16, 76},  {17, 17, 72},  {18, 18, 68}, {19, 19, 64},
                 {20, 21, 60},  {22, 22, 56},  {23, 24, 52},  {25, 26, 48}, {27, 29, 44},
                 {30, 31, 40},  {32, 35, 36},  {36, 39, 32},  {40, 45, 28}, {46, 53, 24},
                 {54, 60, 20}};
    int covered = 0;
    for (const auto& row : table)
        for (int p = row.from; p <= row.to; ++p, ++covered) {
            for (int sign : {1, -1}) {
                const ZoomBlock b = ZoomBlockFor(sign * p);
                EXPECT_EQ(b.side, row.side) << sign * p;
                EXPECT_EQ(b.offset, (128 - row.side) / 2) << sign * p;
            }
        }
    EXPECT_EQ(covered, 51);
    for (int p = -9; p <= 9; ++p)
        EXPECT_EQ(ZoomBlockFor(p).side, 0) << p;
}

TEST(ZoomPreview, SmallPositionsLeaveThePreviewAsItWas) {
    auto work = NewPicture();
    FillNoise(*work, 13);
    auto scratch = NewPicture();
    auto preview = NewPicture();
    ASSERT_TRUE(ZoomPreview(30, *work, *scratch, *preview));
    auto zoomed = NewPicture();
    CopyFrameImage(*zoomed, *preview);
    for (int p = -9; p <= 9; ++p) {
        EXPECT_FALSE(ZoomPreview(p, *work, *scratch, *preview)) << p;
        ASSERT_TRUE(SameBlock(*preview, *zoomed)) << p; // back to 0 does not unzoom
    }
}

TEST(ZoomPreview, ZoomOutShrinksIntoACentredSquareWithBlackBorders) {
    auto work = NewPicture();
    Fill(*work, Bgr{255, 255, 255});
    auto scratch = NewPicture();
    auto preview = NewPicture();
    FillNoise(*preview, 14); // whatever was shown before is cleared
    ASSERT_TRUE(ZoomPreview(-10, *work, *scratch, *preview));
    const BitmapInfoHeader sh = HeaderOf(*scratch);
    EXPECT_EQ(sh.biWidth, 124);
    EXPECT_EQ(sh.biHeight, 124);
    EXPECT_EQ(HeaderOf(*preview).biWidth, 128);
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x) {
            // Columns 2..125 and rows 2..124: the top 123 rows of the square;
            // its bottom row 125 is not pasted.
            const bool inside = x >= 2 && x <= 125 && y >= 2 && y <= 124;
            const Bgr c = PixelAt(*preview, x, y);
            if (inside)
                ASSERT_GE(c.g, 254) << x << "," << y;
            else
                ASSERT_EQ(c, (Bgr{0, 0, 0})) << x << "," << y;
        }
}

TEST(ZoomPreview, ZoomOutPastesTheTopOfTheShrunkPicture) {
    // Top half red, bottom half blue: the pasted square keeps that order.
    auto work = NewPicture();
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            SetPixel(*work, x, y, y < 64 ? Bgr{0, 0, 255} : Bgr{255, 0, 0});
    auto scratch = NewPicture(), preview = NewPicture();
    ASSERT_TRUE(ZoomPreview(-60, *work, *scratch, *preview)); // 20 x 20 at (54, 54)
    EXPECT_GE(PixelAt(*preview, 60, 55).r, 254);
    EXPECT_EQ(PixelAt(*preview, 60, 55).b, 0);
    EXPECT_GE(PixelAt(*preview, 60, 72).b, 254);          // the last pasted row
    EXPECT_EQ(PixelAt(*preview, 60, 73), (Bgr{0, 0, 0})); // the square's bottom row
}

TEST(ZoomPreview, ZoomInEnlargesTheCentreBlockRightWayUp) {
    // Only the centre 20 x 20 block (54..73) is lit, red above blue.
    auto work = NewPicture();
    for (int y = 54; y < 74; ++y)
        for (int x = 54; x < 74; ++x)
            SetPixel(*work, x, y, y < 64 ? Bgr{0, 0, 255} : Bgr{255, 0, 0});
    auto scratch = NewPicture(), preview = NewPicture();
    ASSERT_TRUE(ZoomPreview(60, *work, *scratch, *preview));
    const BitmapInfoHeader sh = HeaderOf(*scratch);
    EXPECT_EQ(sh.biWidth, 20);
    EXPECT_EQ(sh.biHeight, 20);
    EXPECT_EQ(sh.biSizeImage, 20u * 60u);
    // Nothing of the black surround is sampled; the top is red, the bottom blue.
    for (int x = 0; x < kFrameSide; ++x) {
        EXPECT_GE(PixelAt(*preview, x, 5).r, 254) << x;
        EXPECT_EQ(PixelAt(*preview, x, 5).b, 0) << x;
        EXPECT_GE(PixelAt(*preview, x, 122).b, 254) << x;
        EXPECT_EQ(PixelAt(*preview, x, 122).r, 0) << x;
    }
}

TEST(ZoomPreview, BlocksOutsideThePictureAreRefused) {
    auto work = NewPicture(), scratch = NewPicture(), preview = NewPicture();
    FillNoise(*preview, 15);
    auto before = NewPicture();
    CopyFrameImage(*before, *preview);
    EXPECT_FALSE(ZoomIn(100, 100, 40, 40, *work, *scratch, *preview));
    EXPECT_FALSE(ZoomIn(-1, 0, 20, 20, *work, *scratch, *preview));
    EXPECT_FALSE(ZoomOut(0, 0, 0, 20, *work, *scratch, *preview));
    EXPECT_FALSE(ZoomOut(120, 0, 20, 20, *work, *scratch, *preview));
    EXPECT_TRUE(SameBlock(*preview, *before));
    // Positions far beyond the track bar give no block at all.
    EXPECT_FALSE(ZoomPreview(100000, *work, *scratch, *preview));
    EXPECT_FALSE(ZoomPreview(INT32_MIN, *work, *scratch, *preview));
    EXPECT_TRUE(SameBlock(*preview, *before));
}

// Golden digests of sepia, a tone table and both zooms over busy content:
// they must come out the same on the 32-bit Windows build.
TEST(ImageProcessingDigests, ExactBytesMatchTheGoldenDigests) {
    auto work = NewPicture();
    FillNoise(*work, 4242);
    auto scratch = NewPicture(), preview = NewPicture();
    ApplyToneTable(BuildToneTable(37, -63), *work, *preview);
    EXPECT_EQ(Fnv1a(preview->bytes, kFrameImageSize), 2853208249u) << "tone";
    ASSERT_TRUE(ZoomPreview(23, *work, *scratch, *preview));
    EXPECT_EQ(Fnv1a(preview->bytes, kFrameImageSize), 2570763319u) << "zoom in";
    ASSERT_TRUE(ZoomPreview(-47, *work, *scratch, *preview));
    EXPECT_EQ(Fnv1a(preview->bytes, kFrameImageSize), 1412812504u) << "zoom out";
    ApplySepia(*work);
    EXPECT_EQ(Fnv1a(work->bytes, kFrameImageSize), 2077898132u) << "sepia";
}

} // namespace
