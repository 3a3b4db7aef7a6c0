// The three fits, smooth scaling in linear light, and photos turned upright.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fit/stretch.h"
#include "fit/extended_rounding.h"
#include "browser/thumbnail.h"
#include "codecs/exif_orientation.h"
#include "fit/fit_options.h"
#include "fit/fit_plan.h"
#include "codecs/jpeg_decoder.h"
#include "fit/linear_light.h"
#include "codecs/load_picture.h"
#include "export/jpeg_encoder.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/fit_test_pictures.h"
#include "tests/unit/jpeg_builder.h"
#include "tests/unit/test_support.h"

namespace {

using Frame = std::unique_ptr<FrameImage>;

// Colour of each pixel names its column and memory row (both below 2048).
LoadBuffers& CoordinateRaster(int32_t w, int32_t h) {
    return Raster(w, h, [](int32_t x, int32_t y) { return static_cast<uint32_t>(x | y << 11); });
}
uint32_t At(int32_t x, int32_t y) {
    return static_cast<uint32_t>(x | y << 11);
}

uint32_t Pixel(const FrameImage& f, int column, int memRow) {
    const uint8_t* p = f.Pixels() + memRow * kFrameStride + 3 * column;
    return p[0] | p[1] << 8 | p[2] << 16;
}

Frame Fit(LoadBuffers& lb, FitMode mode, bool smooth, int orientation = 1) {
    Frame f(new FrameImage);
    std::memset(f->bytes, 0x5A, sizeof f->bytes);
    FitOptions o;
    o.mode = mode;
    o.smooth = smooth;
    EXPECT_TRUE(FitWithOptions(lb, o, orientation, *f));
    return f;
}

bool SamePixels(const FrameImage& a, const FrameImage& b) {
    return std::memcmp(a.bytes, b.bytes, kFrameHeaderBytes + kFramePixelBytes) == 0;
}

// Black outside frame columns [x0, x1) and memory rows [y0, y1).
bool BlackOutside(const FrameImage& f, int x0, int x1, int y0, int y1) {
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            if ((x < x0 || x >= x1 || y < y0 || y >= y1) && Pixel(f, x, y) != 0) return false;
    return true;
}

// --- Where the picture goes ---------------------------------------------------

// The stretch's rule as it was first written, in x87 extended precision:
// the oracle for the integer StretchStep, where long double is that format
// and the processor computes in it (a precision setting of 53 bits would
// round the products).
float ExtendedPrecisionScale(int32_t source, int32_t target) {
    return static_cast<float>(static_cast<long double>(source) / target);
}
int32_t ExtendedPrecisionStep(int32_t source, int32_t target, int32_t j) {
    return std::min<int32_t>(
        source - 1,
        static_cast<int32_t>(static_cast<long double>(j) * ExtendedPrecisionScale(source, target)));
}

bool ComputesInExtendedPrecision() {
    volatile long double tiny = std::ldexp(1.0L, -63);
    return std::numeric_limits<long double>::digits == 64 && 1.0L + tiny != 1.0L;
}

TEST(StretchStep, IntegerRuleEqualsTheExtendedPrecisionOneForEverySize) {
    if (!ComputesInExtendedPrecision())
        GTEST_SKIP() << "no 64-bit-mantissa arithmetic here to compare with";
    // Every target a stretch has (1..128). A 32-bit build, often run
    // emulated, checks fewer sources.
    const bool narrow = sizeof(void*) == 4;
    int64_t wrong = 0;
    // The scale, for every source to 2^16 (every GIF and JPEG size).
    for (int32_t source = 1; source <= (narrow ? 1 << 13 : 1 << 16); ++source)
        for (int32_t target = 1; target <= kFrameSide; ++target) {
            uint32_t mantissa;
            int exponent;
            RoundedToFloat(ExtendedRatio(source, target), mantissa, exponent);
            if (std::ldexp(static_cast<float>(mantissa), exponent) !=
                    ExtendedPrecisionScale(source, target) &&
                ++wrong <= 10)
                ADD_FAILURE() << "scale " << source << " / " << target;
        }
    // Every position, for every source to 1024, and random ones to 2^31.
    auto check = [&](int32_t source, int32_t target, int32_t j) {
        if (StretchStep(source, target)(j) != ExtendedPrecisionStep(source, target, j) &&
            ++wrong <= 10)
            ADD_FAILURE() << source << " / " << target << " at " << j;
    };
    for (int32_t source = 1; source <= (narrow ? 256 : 1024); ++source)
        for (int32_t target = 1; target <= kFrameSide; ++target) {
            const StretchStep step(source, target);
            for (int32_t j = 0; j < target; ++j)
                if (step(j) != ExtendedPrecisionStep(source, target, j) && ++wrong <= 10)
                    ADD_FAILURE() << source << " / " << target << " at " << j;
        }
    std::mt19937 rng(7);
    for (int i = 0; i < (narrow ? 50000 : 500000); ++i) {
        const int32_t source =
            std::max<int32_t>(1, static_cast<int32_t>(rng() >> 1) >> (rng() % 31));
        const int32_t target = 1 + static_cast<int32_t>(rng() % kFrameSide);
        check(source, target, static_cast<int32_t>(rng() % static_cast<uint32_t>(target)));
        check(source, target, target - 1);
    }
    EXPECT_EQ(wrong, 0);
}

TEST(FitGeometry, WideTallSquareThinAndSmallPictures) {
    struct Case {
        int32_t w, h;
        FitMode mode;
        FitGeometry g;
    } cases[] = {
        {256, 128, FitMode::kFill, {64, 0, 128, 128, 0, 0, 128, 128}},
        {256, 128, FitMode::kInside, {0, 0, 256, 128, 0, 32, 128, 64}},
        {128, 256, FitMode::kFill, {0, 64, 128, 128, 0, 0, 128, 128}},
        {128, 256, FitMode::kInside, {0, 0, 128, 256, 32, 0, 64, 128}},
        {300, 300, FitMode::kInside, {0, 0, 300, 300, 0, 0, 128, 128}},
        {300, 300, FitMode::kFill, {0, 0, 300, 300, 0, 0, 128, 128}},
        {640, 480, FitMode::kInside, {0, 0, 640, 480, 0, 16, 128, 96}},
        {640, 480, FitMode::kFill, {80, 0, 480, 480, 0, 0, 128, 128}},
        {1, 1000, FitMode::kFill, {0, 499, 1, 1, 0, 0, 128, 128}},
        {1, 1000, FitMode::kInside, {0, 0, 1, 1000, 63, 0, 1, 128}},
        {1000, 1, FitMode::kInside, {0, 0, 1000, 1, 0, 63, 128, 1}},
        {100, 51, FitMode::kInside, {0, 0, 100, 51, 0, 31, 128, 65}}, // 65.28 rounds to 65
        {101, 50, FitMode::kFill, {25, 0, 50, 50, 0, 0, 128, 128}},
        {5, 3, FitMode::kStretch, {0, 0, 5, 3, 0, 0, 128, 128}},
    };
    for (const Case& c : cases) {
        const FitGeometry g = ComputeFitGeometry(c.w, c.h, c.mode);
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " mode " << int(c.mode));
        EXPECT_EQ(
            std::vector<int32_t>({g.srcX, g.srcY, g.srcW, g.srcH, g.dstX, g.dstY, g.dstW, g.dstH}),
            std::vector<int32_t>(
                {c.g.srcX, c.g.srcY, c.g.srcW, c.g.srcH, c.g.dstX, c.g.dstY, c.g.dstW, c.g.dstH}));
    }
}

TEST(FitModes, TwoToOnePictureFillsFromItsCentreAndFitsInABand) {
    LoadBuffers& lb = CoordinateRaster(256, 128);
    Frame fill = Fit(lb, FitMode::kFill, false);
    Frame inside = Fit(lb, FitMode::kInside, false);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            ASSERT_EQ(Pixel(*fill, x, y), At(64 + x, y)) << x << "," << y;
            if (y >= 32 && y < 96) {
                ASSERT_EQ(Pixel(*inside, x, y), At(2 * x, 2 * (y - 32)));
            }
        }
    EXPECT_TRUE(BlackOutside(*inside, 0, 128, 32, 96));
}

TEST(FitModes, TallThinAndSmallPictures) {
    {
        LoadBuffers& lb = CoordinateRaster(128, 256);
        Frame fill = Fit(lb, FitMode::kFill, false);
        Frame inside = Fit(lb, FitMode::kInside, false);
        EXPECT_EQ(Pixel(*fill, 5, 7), At(5, 64 + 7));
        EXPECT_EQ(Pixel(*inside, 32 + 10, 100), At(20, 200));
        EXPECT_TRUE(BlackOutside(*inside, 32, 96, 0, 128));
    }
    {
        // 1 x 1000: filled, the one middle pixel covers the frame; fitted, a
        // one-pixel column in the middle shows every 1000/128th row.
        LoadBuffers& lb = CoordinateRaster(1, 1000);
        Frame fill = Fit(lb, FitMode::kFill, false);
        Frame inside = Fit(lb, FitMode::kInside, false);
        EXPECT_TRUE(BlackOutside(*inside, 63, 64, 0, 128));
        for (int y = 0; y < 128; ++y) {
            EXPECT_EQ(Pixel(*inside, 63, y), At(0, y * 1000 / 128));
            for (int x = 0; x < 128; ++x)
                ASSERT_EQ(Pixel(*fill, x, y), At(0, 499));
        }
    }
    {
        LoadBuffers& lb = CoordinateRaster(1000, 1);
        Frame inside = Fit(lb, FitMode::kInside, true);
        EXPECT_TRUE(BlackOutside(*inside, 0, 128, 63, 64));
    }
    {
        // Smaller than the frame: enlarged, proportions kept.
        LoadBuffers& lb = CoordinateRaster(100, 50);
        Frame inside = Fit(lb, FitMode::kInside, false);
        Frame fill = Fit(lb, FitMode::kFill, false);
        EXPECT_TRUE(BlackOutside(*inside, 0, 128, 32, 96));
        EXPECT_EQ(Pixel(*inside, 127, 95), At(99, 49));
        EXPECT_EQ(Pixel(*inside, 64, 32 + 20), At(50, 15));
        EXPECT_EQ(Pixel(*fill, 0, 0), At(25, 0));
        EXPECT_EQ(Pixel(*fill, 127, 127), At(74, 49));
    }
}

TEST(FitModes, PlainStretchIsFitToFrameAndASquareFitsTheSameEveryWay) {
    LoadBuffers& lb = CoordinateRaster(100, 70);
    Frame plain(new FrameImage);
    FitToFrame(lb, 128, 128, *plain);
    EXPECT_TRUE(SamePixels(*Fit(lb, FitMode::kStretch, false), *plain));
    for (int orientation : {0, 9, -3})
        EXPECT_TRUE(SamePixels(*Fit(lb, FitMode::kStretch, false, orientation), *plain));

    LoadBuffers& sq = CoordinateRaster(300, 300);
    FitToFrame(sq, 128, 128, *plain);
    EXPECT_TRUE(SamePixels(*Fit(sq, FitMode::kFill, false), *plain));
    EXPECT_TRUE(SamePixels(*Fit(sq, FitMode::kInside, false), *plain));
}

TEST(FitModes, NoReadableRasterGivesBlack) {
    LoadBuffers& lb = TestBuffers();
    for (bool smooth : {false, true}) {
        Frame f = Fit(lb, FitMode::kFill, smooth, 6);
        EXPECT_TRUE(BlackOutside(*f, 0, 0, 0, 0));
        EXPECT_EQ(std::memcmp(f->bytes + 4, "\x80\0\0\0\x80\0\0\0", 8), 0) << "a 128 x 128 header";
    }
}

// --- Smooth scaling -------------------------------------------------------------

TEST(LinearLight, TablesFollowTheSrgbCurveAndRoundTrip) {
    for (int v = 0; v < 256; ++v) {
        const double s = v / 255.0;
        const double lin = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        EXPECT_EQ(LinearFromSrgb(static_cast<uint8_t>(v)), std::lround(lin * 65535)) << v;
        EXPECT_EQ(SrgbFromLinear(LinearFromSrgb(static_cast<uint8_t>(v))), v);
    }
    EXPECT_EQ(SrgbFromLinear(0), 0);
    EXPECT_EQ(SrgbFromLinear(kLinearMax), 255);
    EXPECT_EQ(SrgbFromLinear(kLinearMax + 1000), 255);
    EXPECT_EQ(SrgbFromLinear(32768), 188) << "half the light is code 187.5, rounded up";
    for (uint32_t l = 1; l <= kLinearMax; ++l)
        ASSERT_LE(SrgbFromLinear(l - 1), SrgbFromLinear(l));
}

TEST(SmoothScaling, FlatColoursStayExactlyAsTheyAre) {
    const uint32_t colours[] = {0x000000, 0xFFFFFF, 0x123456, 0x01FE80};
    const int32_t sizes[][2] = {{1, 1}, {3, 5}, {128, 128}, {300, 200}, {1, 777}, {1000, 3}};
    for (uint32_t c : colours)
        for (auto& s : sizes) {
            LoadBuffers& lb = Raster(s[0], s[1], [c](int32_t, int32_t) { return c; });
            for (FitMode mode : {FitMode::kStretch, FitMode::kFill, FitMode::kInside}) {
                const FitGeometry g = ComputeFitGeometry(s[0], s[1], mode);
                Frame f = Fit(lb, mode, true);
                for (int y = g.dstY; y < g.dstY + g.dstH; ++y)
                    for (int x = g.dstX; x < g.dstX + g.dstW; ++x)
                        ASSERT_EQ(Pixel(*f, x, y), c) << s[0] << "x" << s[1] << " " << int(mode);
                EXPECT_TRUE(BlackOutside(*f, g.dstX, g.dstX + g.dstW, g.dstY, g.dstY + g.dstH));
            }
        }
}

TEST(SmoothScaling, BlackAndWhiteCheckerBecomesItsLinearLightMean) {
    LoadBuffers& lb =
        Raster(256, 256, [](int32_t x, int32_t y) { return (x + y) % 2 ? 0xFFFFFFu : 0u; });
    Frame f = Fit(lb, FitMode::kStretch, true);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            ASSERT_EQ(Pixel(*f, x, y), 0xBCBCBCu) << "188: not 128, the mean of the codes";
    // The sharp fit keeps one pixel of each 2 x 2: all black.
    EXPECT_EQ(Pixel(*Fit(lb, FitMode::kStretch, false), 9, 9), 0u);
}

// Box average of n x n source pixels in linear light, rounded as the fit rounds.
uint32_t BoxAverage(const LoadBuffers& lb, int32_t x0, int32_t y0, int n) {
    uint32_t out = 0;
    for (int k = 0; k < 3; ++k) {
        uint64_t sum = 0;
        for (int32_t y = y0; y < y0 + n; ++y)
            for (int32_t x = x0; x < x0 + n; ++x)
                sum += LinearFromSrgb(static_cast<uint8_t>(SampleSource(lb, x, y) >> (8 * k)));
        const uint64_t cells = static_cast<uint64_t>(n) * n;
        out |=
            static_cast<uint32_t>(SrgbFromLinear(static_cast<uint32_t>((sum + cells / 2) / cells)))
            << (8 * k);
    }
    return out;
}

TEST(SmoothScaling, PowerOfTwoShrinkIsAPlainBoxAverageInLinearLight) {
    std::mt19937 rng(7);
    LoadBuffers& lb = Raster(1024, 512, [&](int32_t, int32_t) { return rng() & 0xFFFFFF; });
    Frame stretch = Fit(lb, FitMode::kStretch, true); // 8 x 4 boxes: checked through fill
    Frame fill = Fit(lb, FitMode::kFill, true);       // 4 x 4 boxes from column 256
    Frame inside = Fit(lb, FitMode::kInside, true);   // 8 x 8 boxes into rows 32..95
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            ASSERT_EQ(Pixel(*fill, x, y), BoxAverage(lb, 256 + 4 * x, 4 * y, 4)) << x << "," << y;
            if (y >= 32 && y < 96) {
                ASSERT_EQ(Pixel(*inside, x, y), BoxAverage(lb, 8 * x, 8 * (y - 32), 8));
            }
        }
    EXPECT_TRUE(BlackOutside(*inside, 0, 128, 32, 96));
    // A 2 : 1 stretch reduces to the same boxes once the columns are paired.
    LoadBuffers& sq = Raster(512, 512, [&](int32_t, int32_t) { return rng() & 0xFFFFFF; });
    Frame f = Fit(sq, FitMode::kStretch, true);
    for (int y = 0; y < 128; y += 9)
        for (int x = 0; x < 128; x += 5)
            ASSERT_EQ(Pixel(*f, x, y), BoxAverage(sq, 4 * x, 4 * y, 4));
    (void)stretch;
}

TEST(SmoothScaling, FractionalShrinkWeighsEdgePixelsByTheirShare) {
    // 160 columns into 128: output 0 covers source [0, 1.25): pixel 0 in
    // full and a quarter of pixel 1. White then black gives 4/5 of the light.
    LoadBuffers& lb = Raster(160, 128, [](int32_t x, int32_t) { return x == 0 ? 0xFFFFFFu : 0u; });
    Frame f = Fit(lb, FitMode::kStretch, true);
    EXPECT_EQ(Pixel(*f, 0, 5), 0x010101u * SrgbFromLinear((4 * 65535 + 2) / 5));
    EXPECT_EQ(Pixel(*f, 1, 5), 0u);
}

TEST(SmoothScaling, DoublingInterpolatesBilinearlyInLinearLight) {
    std::mt19937 rng(11);
    LoadBuffers& lb = Raster(64, 64, [&](int32_t, int32_t) { return rng() & 0xFFFFFF; });
    Frame f = Fit(lb, FitMode::kStretch, true);
    // Output 2i + 1 lies a quarter of the way from source i to i + 1.
    for (int y = 0; y < 63; y += 3)
        for (int x = 0; x < 63; x += 2)
            for (int k = 0; k < 3; ++k) {
                auto lin = [&](int32_t sx, int32_t sy) {
                    return LinearFromSrgb(
                        static_cast<uint8_t>(SampleSource(lb, sx, sy) >> (8 * k)));
                };
                const uint32_t sum =
                    9 * lin(x, y) + 3 * lin(x + 1, y) + 3 * lin(x, y + 1) + lin(x + 1, y + 1);
                ASSERT_EQ((Pixel(*f, 2 * x + 1, 2 * y + 1) >> (8 * k)) & 0xFF,
                          SrgbFromLinear((sum + 8) / 16))
                    << x << "," << y;
            }
    // The outermost output pixels repeat the edge pixels.
    EXPECT_EQ(Pixel(*f, 0, 0), SampleSource(lb, 0, 0));
    EXPECT_EQ(Pixel(*f, 127, 127), SampleSource(lb, 63, 63));
}

TEST(SmoothScaling, PalettePicturesGoThroughTheirPalette) {
    std::mt19937 rng(3);
    for (int bits : {1, 4, 8}) {
        LoadBuffers& lb = TestBuffers();
        const int32_t w = 301, h = 173;
        ASSERT_TRUE(SetUpRaster(lb, w, h, bits));
        uint8_t* pal = RasterPalette(lb);
        for (uint32_t i = 0; i < (1u << bits); ++i)
            for (int k = 0; k < 4; ++k)
                pal[4 * i + k] = static_cast<uint8_t>(rng());
        for (int32_t y = 0; y < h; ++y)
            for (int32_t i = 0; i < lb.raster.stride; ++i)
                RasterRow(lb, y)[i] = static_cast<uint8_t>(rng());
        lb.raster.cursor.address = RasterRow(lb, 0);
        std::vector<uint32_t> colours;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                colours.push_back(SampleSource(lb, x, y));
        Frame fromPalette = Fit(lb, FitMode::kInside, true, 6);
        LoadBuffers& rgb = Raster(
            w, h, [&](int32_t x, int32_t y) { return colours[static_cast<size_t>(y * w + x)]; });
        EXPECT_TRUE(SamePixels(*fromPalette, *Fit(rgb, FitMode::kInside, true, 6))) << bits;
    }
}

TEST(SmoothScaling, VectorisedSumsGiveTheSameBytesAsRowByRowSums) {
    if (!SmoothVectorPathAvailable()) GTEST_SKIP() << "no AVX-512 here; the row-by-row sums run";
    std::mt19937 rng(13);
    const int32_t sizes[][2] = {{1000, 700}, {301, 187}, {50, 1000}, {129, 130}, {4, 4000}};
    for (auto& s : sizes) {
        LoadBuffers& lb = Raster(s[0], s[1], [&](int32_t, int32_t) { return rng() & 0xFFFFFF; });
        for (int o : {1, 2, 6, 7})
            for (FitMode mode : {FitMode::kStretch, FitMode::kFill, FitMode::kInside}) {
                const Orientation turn = OrientationOf(o);
                const FitGeometry g = turn.transposed ? ComputeFitGeometry(s[1], s[0], mode)
                                                      : ComputeFitGeometry(s[0], s[1], mode);
                Frame a(new FrameImage), b(new FrameImage);
                std::memset(a->bytes, 0, sizeof a->bytes);
                std::memset(b->bytes, 0, sizeof b->bytes);
                SmoothFit(lb, g, turn, *a, true);
                SmoothFit(lb, g, turn, *b, false);
                EXPECT_TRUE(SamePixels(*a, *b))
                    << s[0] << "x" << s[1] << " " << o << " " << int(mode);
            }
    }
}

// --- Orientation ----------------------------------------------------------------

TEST(Orientation, EachOfTheEightPutsTheCornersWhereExifSays) {
    // Stored 4 x 2, corners red, green, blue, white (top-left, top-right,
    // bottom-left, bottom-right), the rest grey.
    const uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, Wt = 0xFFFFFF, g = 0x808080;
    const std::vector<uint32_t> stored = {R, g, g, G, B, g, g, Wt};
    // Upright corners (top-left, top-right, bottom-left, bottom-right) per orientation.
    const uint32_t expect[9][4] = {{},
                                   {R, G, B, Wt},
                                   {G, R, Wt, B},
                                   {Wt, B, G, R},
                                   {B, Wt, R, G},
                                   {R, B, G, Wt},
                                   {B, R, Wt, G},
                                   {Wt, G, B, R},
                                   {G, Wt, R, B}};
    for (int o = 1; o <= 8; ++o) {
        LoadBuffers& lb = TopDownRaster(stored, 4, 2);
        Frame f = Fit(lb, FitMode::kStretch, false, o);
        const uint32_t got[4] = {Pixel(*f, 0, 127), Pixel(*f, 127, 127), Pixel(*f, 0, 0),
                                 Pixel(*f, 127, 0)};
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(got[k], expect[o][k]) << "orientation " << o << " corner " << k;
        // Turned pictures stand: 2 wide, 4 high, a band of 64 columns.
        Frame inside = Fit(lb, FitMode::kInside, false, o);
        if (o >= 5)
            EXPECT_TRUE(BlackOutside(*inside, 32, 96, 0, 128)) << o;
        else
            EXPECT_TRUE(BlackOutside(*inside, 0, 128, 32, 96)) << o;
    }
}

TEST(Orientation, EveryFitOfATurnedPhotoEqualsTheFitOfThePictureTurnedBeforehand) {
    const int32_t w = 301, h = 187; // odd sizes: the fill cut and the bands are uneven
    const std::vector<uint32_t> stored = RandomPixels(w, h, 5);
    for (int o = 1; o <= 8; ++o) {
        int32_t uw = 0, uh = 0;
        const std::vector<uint32_t> up = Upright(stored, w, h, o, uw, uh);
        for (FitMode mode : {FitMode::kStretch, FitMode::kFill, FitMode::kInside})
            for (bool smooth : {false, true}) {
                Frame turned = Fit(TopDownRaster(stored, w, h), mode, smooth, o);
                Frame reference = Fit(TopDownRaster(up, uw, uh), mode, smooth, 1);
                EXPECT_TRUE(SamePixels(*turned, *reference))
                    << "orientation " << o << " mode " << int(mode) << " smooth " << smooth;
            }
    }
}

// --- The lines a fit reads --------------------------------------------------------

TEST(LinesTheFitReads, SharpFitsOneLinePerPixelSmoothFitsTheShownPart) {
    std::vector<uint8_t> cols, rows;
    FitOptions o;
    LinesTheFitReads(256, 1000, o, 1, cols, rows);
    ASSERT_EQ(cols.size(), 256u);
    ASSERT_EQ(rows.size(), 1000u);
    for (int x = 0; x < 256; ++x)
        EXPECT_EQ(cols[x], x % 2 == 0) << x;
    int marked = 0;
    for (int y = 0; y < 1000; ++y)
        marked += rows[y];
    EXPECT_EQ(marked, 128);
    EXPECT_EQ(rows[999], 1) << "memory row 0 is the last row of the file";

    // Smooth fill of a 300 x 200 picture turned by 6: upright 200 x 300, the
    // cut falls on the stored columns; every row is read.
    o.mode = FitMode::kFill;
    o.smooth = true;
    LinesTheFitReads(300, 200, o, 6, cols, rows);
    for (int x = 0; x < 300; ++x)
        EXPECT_EQ(cols[x], x >= 50 && x < 250) << x;
    for (int y = 0; y < 200; ++y)
        EXPECT_EQ(rows[y], 1);

    LinesTheFitReads(0, 5, o, 1, cols, rows);
    EXPECT_TRUE(cols.empty() && rows.empty());
}

// --- A stretch of the upright picture to any size (the thumbnails) ---------------

TEST(StretchUpright, IsFitToFrameAsStoredAndTheTurnedPictureStretchedOtherwise) {
    const int32_t w = 173, h = 97;
    const std::vector<uint32_t> px = RandomPixels(w, h, 11);
    for (int o = 1; o <= 8; ++o) {
        int32_t uw = 0, uh = 0;
        const std::vector<uint32_t> up = Upright(px, w, h, o, uw, uh);
        for (const std::pair<int, int>& size : {std::pair<int, int>{80, 45}, {37, 72}, {1, 128}}) {
            const int tw = size.first, th = size.second;
            Frame turned(new FrameImage), reference(new FrameImage);
            std::memset(turned->bytes, 0x5A, sizeof turned->bytes);
            ASSERT_TRUE(StretchUpright(TopDownRaster(px, w, h), o, tw, th, *turned));
            ASSERT_TRUE(FitToFrame(TopDownRaster(up, uw, uh), tw, th, *reference));
            const size_t bytes = kFrameHeaderBytes + static_cast<size_t>((tw * 3 + 3) / 4 * 4) * th;
            EXPECT_EQ(std::memcmp(turned->bytes, reference->bytes, bytes), 0)
                << "orientation " << o << " " << tw << " x " << th;

            // It reads only the lines it marks.
            std::vector<uint8_t> cols(static_cast<size_t>(w)), rows(static_cast<size_t>(h));
            MarkLinesTheStretchReads(w, h, o, tw, th, cols.data(), rows.data());
            std::vector<uint32_t> poisoned = px;
            for (int32_t r = 0; r < h; ++r)
                for (int32_t c = 0; c < w; ++c)
                    if (!cols[c] || !rows[r]) poisoned[static_cast<size_t>(r) * w + c] ^= 0x5A5A5A;
            ASSERT_TRUE(StretchUpright(TopDownRaster(poisoned, w, h), o, tw, th, *reference));
            EXPECT_EQ(std::memcmp(turned->bytes, reference->bytes, bytes), 0) << o;
        }
    }
    Frame untouched(new FrameImage);
    untouched->bytes[0] = 0x33;
    EXPECT_FALSE(StretchUpright(CoordinateRaster(10, 10), 6, 0, 5, *untouched));
    EXPECT_FALSE(StretchUpright(CoordinateRaster(10, 10), 6, 129, 5, *untouched));
    EXPECT_EQ(untouched->bytes[0], 0x33);
}

// --- Loading a photo ------------------------------------------------------------

// A 128 x 128 JPEG file of quadrants red (top-left), green (top-right),
// blue (bottom-left) and white, with an Exif orientation when `orientation`
// is not 0.
std::string WriteQuadrantJpeg(const char* name, int orientation) {
    Frame picture(new FrameImage);
    InitFrameHeader(128, 128, picture->bytes);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
            const uint32_t c =
                y < 64 ? (x < 64 ? 0xFF0000 : 0x00FF00) : (x < 64 ? 0x0000FF : 0xFFFFFF);
            uint8_t* p = picture->Row(y) + 3 * x;
            p[0] = static_cast<uint8_t>(c), p[1] = static_cast<uint8_t>(c >> 8),
            p[2] = static_cast<uint8_t>(c >> 16);
        }
    std::vector<uint8_t> jpeg(200000);
    size_t length = 0;
    EXPECT_EQ(EncodeJpeg(*picture, jpeg.data(), jpeg.size(), length), 1);
    jpeg.resize(length);
    if (orientation) {
        const std::vector<uint8_t> app1 = ExifApp1(orientation);
        jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    }
    const std::string path = NativePath(ScratchDir() + "/" + name);
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(f);
    if (f) {
        std::fwrite(jpeg.data(), 1, jpeg.size(), f);
        std::fclose(f);
    }
    return path;
}

struct FreeJpeg {
    void operator()(JpegDecoder* p) const { std::free(p); }
};
using OwnedJpeg = std::unique_ptr<JpegDecoder, FreeJpeg>;
OwnedJpeg NewJpegDecoder() {
    return OwnedJpeg(static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes)));
}

TEST(LoadPictureWith, APortraitPhotoTaggedSixLoadsUpright) {
    const std::string path = WriteQuadrantJpeg("portrait.jpg", 6);
    OwnedJpeg d = NewJpegDecoder();
    DecoderSet set;
    set.buffers = &TestBuffers();
    set.jpeg = d.get();
    auto near = [](uint32_t a, uint32_t b) {
        for (int k = 0; k < 24; k += 8)
            if (std::abs(int((a >> k) & 255) - int((b >> k) & 255)) > 8) return false;
        return true;
    };
    Frame out(new FrameImage);
    FitOptions o;
    o.mode = FitMode::kInside;
    FitReport report;
    ASSERT_EQ(LoadForFrame(set, path.c_str(), o, *out, &report), DecodeOutcome::kComplete);
    EXPECT_EQ(report.orientation, 6);
    EXPECT_EQ(report.width * 1000 + report.height, 128 * 1000 + 128);
    EXPECT_EQ(report.geometry.dstW * 1000 + report.geometry.dstH, 128 * 1000 + 128);
    o.mode = FitMode::kStretch;
    ASSERT_EQ(LoadForFrame(set, path.c_str(), o, *out), DecodeOutcome::kComplete);
    // Turned clockwise: blue top-left, red top-right, white bottom-left, green bottom-right.
    EXPECT_TRUE(near(Pixel(*out, 10, 117), 0x0000FF)) << std::hex << Pixel(*out, 10, 117);
    EXPECT_TRUE(near(Pixel(*out, 117, 117), 0xFF0000));
    EXPECT_TRUE(near(Pixel(*out, 10, 10), 0xFFFFFF));
    EXPECT_TRUE(near(Pixel(*out, 117, 10), 0x00FF00));
    o.upright = false;
    ASSERT_EQ(LoadForFrame(set, path.c_str(), o, *out, &report), DecodeOutcome::kComplete);
    EXPECT_TRUE(near(Pixel(*out, 10, 117), 0xFF0000)) << "as stored";
    EXPECT_EQ(report.orientation, 1);
}

TEST(LoadPictureWith, OnlyAPictureOfTheFilesOwnReachesTheBlock) {
    OwnedJpeg d = NewJpegDecoder();
    DecoderSet set;
    set.buffers = &TestBuffers();
    set.jpeg = d.get();
    const FitOptions defaults;

    // The defaults on a photo without an orientation: the plain load's bytes.
    const std::string plain = WriteQuadrantJpeg("plain.jpg", 0);
    Frame with(new FrameImage), without(new FrameImage);
    EXPECT_EQ(LoadForFrame(set, plain.c_str(), defaults, *with), DecodeOutcome::kComplete);
    ASSERT_EQ(DecodeJpegFile(*set.buffers, *d, plain.c_str()), 1);
    set.buffers->raster.cursor.address = RasterRow(*set.buffers, 0);
    ASSERT_TRUE(FitToFrame(*set.buffers, kFrameSide, kFrameSide, *without));
    EXPECT_TRUE(SamePixels(*with, *without));

    // Nothing of the file's own: the block stays as it was.
    Frame untouched(new FrameImage);
    std::memset(untouched->bytes, 0x33, sizeof untouched->bytes);
    const std::string missing = NativePath(ScratchDir() + "/missing.jpg");
    EXPECT_EQ(LoadForFrame(set, missing.c_str(), defaults, *untouched), DecodeOutcome::kRefused);
    const std::string text = WriteScratchFile("notes.jpeg", {'h', 'i', '\n'});
    EXPECT_EQ(LoadForFrame(set, text.c_str(), defaults, *untouched), DecodeOutcome::kUnknownType);
    for (size_t i = 0; i < kFrameHeaderBytes + kFramePixelBytes; ++i)
        ASSERT_EQ(untouched->bytes[i], 0x33) << i;
}

TEST(Thumbnail, APhotoIsTurnedUprightAndStretchedToItsPlaceInTheCell) {
    OwnedJpeg d = NewJpegDecoder();
    DecoderSet set;
    set.buffers = &TestBuffers();
    set.jpeg = d.get();
    LoadBuffers& lb = *set.buffers;
    const std::string path = WriteQuadrantJpeg("thumb.jpg", 6);
    Frame thumb(new FrameImage), reference(new FrameImage);
    ThumbnailRect place;
    // Only the stretch's samples are decoded: the rest of the raster stays poisoned.
    std::memset(lb.decodeBuffer, 0x77, 1 << 20);
    ASSERT_EQ(DecodeThumbnail(set, path.c_str(), true, *thumb, place), 1);
    EXPECT_EQ(place.x0, 4); // square: 72 x 72, centred across the 80 x 72 cell
    EXPECT_EQ(place.w, 72);
    EXPECT_EQ(place.h, 72);
    auto pixel = [&](int x, int y) { // y from the top
        const uint8_t* p = thumb->Pixels() + (71 - y) * 216 + 3 * x;
        return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
    };
    EXPECT_EQ(pixel(5, 5) & 0xC0C0C0, 0x0000C0u) << "blue top-left, turned clockwise";
    ASSERT_EQ(DecodeJpegFile(lb, *d, path.c_str()), 1);
    lb.raster.cursor.address = RasterRow(lb, 0);
    ASSERT_TRUE(StretchUpright(lb, 6, 72, 72, *reference));
    EXPECT_EQ(std::memcmp(thumb->bytes, reference->bytes, 40 + 216 * 72), 0);

    ASSERT_EQ(DecodeThumbnail(set, path.c_str(), false, *thumb, place), 1);
    EXPECT_EQ(pixel(5, 5) & 0xC0C0C0, 0xC00000u) << "red top-left, as stored";
    const std::string text = WriteScratchFile("notes.jpg", {'h', 'i', '\n'});
    EXPECT_EQ(DecodeThumbnail(set, text.c_str(), true, *thumb, place), -1);
    EXPECT_EQ(
        DecodeThumbnail(set, NativePath(ScratchDir() + "/none.jpg").c_str(), true, *thumb, place),
        0);
    EXPECT_EQ(place.w, 0);
}

// A 4:2:0 JPEG of 8 x 8 blocks, each its own DC; `flat`: nothing else,
// otherwise with an AC coefficient too.
std::string WriteBlocksJpeg(const char* name, int width, int height, int orientation, bool flat) {
    JpegBuilder b;
    b.Soi().Dqt(0, 4).Sof(0xC0, width, height, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}});
    b.EasyTables().Sos({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
    const int mcus = ((width + 15) / 16) * ((height + 15) / 16);
    for (int i = 0; i < 6 * mcus; ++i) {
        b.Dc((i * 29) % 23 - 11);
        if (!flat) b.Ac(i % 3, ((i * 7) % 13 - 6) | 1);
        b.Eob();
    }
    std::vector<uint8_t> jpeg = b.Flush().Eoi().bytes;
    const std::vector<uint8_t> app1 = ExifApp1(orientation);
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    const std::string path = NativePath(ScratchDir() + "/" + name);
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(f && std::fwrite(jpeg.data(), 1, jpeg.size(), f) == jpeg.size());
    if (f) std::fclose(f);
    return path;
}

TEST(Thumbnail, ABigJpegIsStretchedFromItsEighthSizePicture) {
    // 1000 x 600 has an eighth-size picture of 125 x 75, more than the place
    // in the cell: the thumbnail is that picture turned and stretched to the
    // place of the whole picture. Each of its pixels is the colour of a
    // block's DC: the corner pixel of the same block in the full decode of
    // the file without AC coefficients. At 600 x 400 (75 x 50 against a place
    // 80 wide) the picture itself is stretched.
    OwnedJpeg d = NewJpegDecoder();
    DecoderSet set;
    set.buffers = &TestBuffers();
    set.jpeg = d.get();
    LoadBuffers& lb = *set.buffers;
    struct Case {
        int width, height, orientation;
        bool upright, eighth;
    };
    const Case cases[] = {{1000, 600, 6, true, true},
                          {1000, 600, 6, false, true},
                          {600, 1000, 1, true, true},
                          {600, 400, 1, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const std::string path =
            WriteBlocksJpeg("blocks.jpg", c.width, c.height, c.orientation, false);
        const int orientation = c.upright ? c.orientation : 1;
        Frame thumb(new FrameImage), reference(new FrameImage);
        ThumbnailRect place;
        ASSERT_EQ(DecodeThumbnail(set, path.c_str(), c.upright, *thumb, place), 1);
        const ThumbnailRect expected = ThumbnailPlace(c.width, c.height, orientation);
        EXPECT_EQ(place.w, expected.w);
        EXPECT_EQ(place.h, expected.h);
        EXPECT_EQ(place.x0, expected.x0);
        const std::string flat = WriteBlocksJpeg("flat.jpg", c.width, c.height, 1, true);
        ASSERT_EQ(DecodeJpegFile(lb, *d, (c.eighth ? flat : path).c_str()), 1);
        if (c.eighth) { // the corners of the blocks into a raster of their own
            std::vector<uint8_t> corners;
            for (int y = 0; y < c.height; y += 8)
                for (int x = 0; x < c.width; x += 8) {
                    const uint8_t* p = RasterRow(lb, c.height - 1 - y) + 3 * x;
                    corners.insert(corners.end(), p, p + 3);
                }
            const int w = (c.width + 7) / 8, h = (c.height + 7) / 8;
            ASSERT_TRUE(SetUpRaster(lb, w, h, 24));
            for (int y = 0; y < h; ++y)
                std::memcpy(RasterRow(lb, h - 1 - y), &corners[3 * static_cast<size_t>(y) * w],
                            3 * static_cast<size_t>(w));
        }
        lb.raster.cursor.address = RasterRow(lb, 0);
        ASSERT_TRUE(StretchUpright(lb, orientation, place.w, place.h, *reference));
        const size_t stride = (3 * static_cast<size_t>(place.w) + 3) / 4 * 4;
        EXPECT_EQ(std::memcmp(thumb->bytes, reference->bytes, 40 + stride * place.h), 0);
    }
}

TEST(LoadPictureWith, EachWayOfLoadingGivesTheFitOfTheFullDecode) {
    // The loader decodes a sharp fit's pixels only, and takes a smooth fit's
    // rows as the decoder finishes them; both must equal the fit of the
    // whole decoded picture. Over the corpus' JPEGs, when it is present.
    const std::string dir = CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "no corpus";
    struct Free {
        void operator()(JpegDecoder* p) const { std::free(p); }
    };
    std::unique_ptr<JpegDecoder, Free> d(
        static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes)));
    DecoderSet set;
    set.buffers = &TestBuffers();
    set.jpeg = d.get();
    LoadBuffers& lb = *set.buffers;
    int compared = 0;
    for (const char* name : {"seq-444.jpg", "seq-422.jpg", "prog-420-rst.jpg", "odd-17x9-440.jpg",
                             "rst-422-5mcu.jpg", "seq-gray.jpg", "trunc-prog-420.jpg"}) {
        const std::string path = NativePath(dir + "/jpeg/derived/" + name);
        for (FitMode mode : {FitMode::kFill, FitMode::kInside})
            for (bool smooth : {false, true}) {
                FitOptions o;
                o.mode = mode;
                o.smooth = smooth;
                Frame loaded(new FrameImage), reference(new FrameImage);
                // Whatever the loader does not decode stays poisoned.
                std::memset(lb.decodeBuffer, 0x77, 1 << 22);
                ASSERT_TRUE(HasOwnRaster(LoadForFrame(set, path.c_str(), o, *loaded)));
                if (!DecodeJpegFile(lb, *d, path.c_str())) continue;
                lb.raster.cursor.address = RasterRow(lb, 0);
                FitWithOptions(lb, o, ExifOrientation(lb.fileBuffer, lb.dataLength), *reference);
                EXPECT_TRUE(SamePixels(*loaded, *reference)) << name << " " << int(mode) << smooth;
                ++compared;
            }
    }
    EXPECT_GT(compared, 20);
}

} // namespace
