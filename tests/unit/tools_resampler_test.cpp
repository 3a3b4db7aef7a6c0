// The cubic B-spline resampler: its weights, its special sizes, flat and white
// pictures, the half-pixel offset and edge clamping, and exact bytes.
#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/tools_test_pictures.h"
#include "tools/resampler.h"

using namespace tooltest;

namespace {

// A width x height picture with packed rows; `value(x, memoryRow)` gives each
// pixel (memory row 0 is the bottom row).
template <typename Value> std::unique_ptr<FrameImage> Packed(int w, int h, Value value) {
    std::unique_ptr<FrameImage> f(new FrameImage{});
    InitFrameHeader(w, h, f->bytes);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            const Bgr c = value(x, row);
            uint8_t* p = f->bytes + kFrameHeaderBytes + (row * w + x) * 3;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    return f;
}

Bgr PackedAt(const FrameImage& f, int w, int x, int row) {
    const uint8_t* p = f.bytes + kFrameHeaderBytes + (row * w + x) * 3;
    return Bgr{p[0], p[1], p[2]};
}

std::unique_ptr<FrameImage> Filled(uint8_t byte) {
    std::unique_ptr<FrameImage> f(new FrameImage);
    std::memset(f->bytes, byte, sizeof f->bytes);
    return f;
}

TEST(CubicBSplineWeight, KnownValuesAndSupport) {
    EXPECT_FLOAT_EQ(CubicBSplineWeight(0.0f), 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(CubicBSplineWeight(1.0f), 1.0f / 6.0f);
    EXPECT_FLOAT_EQ(CubicBSplineWeight(-1.0f), 1.0f / 6.0f);
    EXPECT_FLOAT_EQ(CubicBSplineWeight(0.5f), 23.0f / 48.0f);
    EXPECT_FLOAT_EQ(CubicBSplineWeight(1.5f), 1.0f / 48.0f);
    EXPECT_EQ(CubicBSplineWeight(2.0f), 0.0f);
    EXPECT_EQ(CubicBSplineWeight(2.5f), 0.0f);
    EXPECT_EQ(CubicBSplineWeight(37.0f), 0.0f);
    EXPECT_EQ(CubicBSplineWeight(-2.0f), 0.0f);
    EXPECT_EQ(CubicBSplineWeight(-3.25f), 0.0f);
}

TEST(CubicBSplineWeight, FourTapsOfAnyFractionAddUpToOneAndNoneIsNegative) {
    for (int i = 0; i < 64; ++i) {
        const float d = static_cast<float>(i) / 64.0f;
        double sum = 0;
        for (int n = -1; n <= 2; ++n) {
            const float w = CubicBSplineWeight(d - static_cast<float>(n));
            EXPECT_GE(w, 0.0f) << d << " " << n;
            sum += w;
        }
        EXPECT_NEAR(sum, 1.0, 1e-6) << d;
    }
}

TEST(ResampleImage, ZeroOrNegativeSizeWritesNothing) {
    auto src = Packed(4, 4, [](int, int) { return Bgr{1, 2, 3}; });
    auto dst = Filled(0xCD);
    auto before = Filled(0xCD);
    EXPECT_FALSE(ResampleImage(0, 10, *src, *dst));
    EXPECT_FALSE(ResampleImage(10, 0, *src, *dst));
    EXPECT_FALSE(ResampleImage(-3, 10, *src, *dst));
    EXPECT_TRUE(SameBlock(*dst, *before));
}

TEST(ResampleImage, SizesBeyondTheBlockAreRefused) {
    // 131 x 131 x 3 + 40 bytes would run past a 51,200-byte block.
    auto src = Packed(4, 4, [](int, int) { return Bgr{1, 2, 3}; });
    auto dst = Filled(0xCD);
    auto before = Filled(0xCD);
    EXPECT_FALSE(ResampleImage(131, 131, *src, *dst));
    EXPECT_FALSE(ResampleImage(1, 17054, *src, *dst));
    // A source header claiming more than its block holds is not read.
    auto liar = NewPicture();
    InitFrameHeader(4000, 4000, liar->bytes);
    EXPECT_FALSE(ResampleImage(64, 64, *liar, *dst));
    EXPECT_TRUE(SameBlock(*dst, *before));
}

TEST(ResampleImage, SameSizeIsAByteCopyWithTheSourceHeader) {
    auto src = Packed(5, 3, [](int x, int row) {
        return Bgr{static_cast<uint8_t>(x), static_cast<uint8_t>(row), 77};
    });
    BitmapInfoHeader h = HeaderOf(*src);
    h.biXPelsPerMeter = 2835; // not what InitFrameHeader writes
    std::memcpy(src->bytes, &h, sizeof h);
    auto dst = Filled(0xCD);
    ASSERT_TRUE(ResampleImage(5, 3, *src, *dst));
    const int used = 40 + 5 * 3 * 3;
    EXPECT_EQ(std::memcmp(dst->bytes, src->bytes, used), 0);
    EXPECT_EQ(dst->bytes[used], 0xCD); // nothing past the packed rows
}

TEST(ResampleImage, WritesAFreshHeaderAndPackedRowsOnly) {
    auto src = NewPicture();
    Fill(*src, Bgr{10, 10, 10});
    auto dst = Filled(0xCD);
    ASSERT_TRUE(ResampleImage(7, 5, *src, *dst));
    const BitmapInfoHeader h = HeaderOf(*dst);
    EXPECT_EQ(h.biWidth, 7);
    EXPECT_EQ(h.biHeight, 5);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biSizeImage, 5u * 24u); // the header counts aligned rows...
    const int packed = 7 * 5 * 3;       // ...but the rows are packed
    for (int i = 0; i < packed; ++i)
        ASSERT_NE(dst->bytes[40 + i], 0xCD) << i;
    for (int i = packed; i < packed + 64; ++i)
        ASSERT_EQ(dst->bytes[40 + i], 0xCD) << i;
}

TEST(ResampleImage, FlatPictureComesBackAtItsLevelOrOneBelow) {
    const int sizes[][2] = {{124, 124}, {60, 60}, {20, 20}, {4, 4},   {7, 5},
                            {125, 3},   {1, 1},   {2, 64},  {128, 96}};
    for (uint8_t v : {uint8_t{1}, uint8_t{100}, uint8_t{200}, uint8_t{255}}) {
        auto src = NewPicture();
        Fill(*src, Bgr{v, v, v});
        for (const auto& s : sizes) {
            auto dst = Filled(0);
            ASSERT_TRUE(ResampleImage(s[0], s[1], *src, *dst));
            for (int i = 0; i < s[0] * s[1] * 3; ++i) {
                const uint8_t got = dst->bytes[40 + i];
                // White must not wrap to 0 either.
                ASSERT_TRUE(got == v || got == v - 1)
                    << int{v} << " at " << s[0] << "x" << s[1] << " byte " << i << ": " << int{got};
            }
        }
    }
    // Enlarging a small flat block, as the zoom does.
    auto small = Packed(20, 20, [](int, int) { return Bgr{255, 255, 255}; });
    auto big = Filled(0);
    ASSERT_TRUE(ResampleImage(128, 128, *small, *big));
    for (int i = 0; i < kFramePixelBytes; ++i)
        ASSERT_GE(big->Pixels()[i], 254) << i;
}

// Hand-worked values. With a scale of 1 every sample sits at x - 0.5, so its
// four taps x - 2 .. x + 1 weigh 1/48, 23/48, 23/48, 1/48 (taps left of 0 and
// right of the last column reuse the edge pixel).
TEST(ResampleImage, HalfPixelShiftTruncationAndEdgeRepetitionAlongARow) {
    const uint8_t row[8] = {97, 0, 0, 0, 75, 75, 75, 30};
    auto src = Packed(8, 1, [&](int x, int) { return Bgr{row[x], 0, row[x]}; });
    auto dst = Filled(0xCD);
    ASSERT_TRUE(ResampleImage(8, 2, *src, *dst)); // scaleX 1; one source row fills both
    // 97*47/48, 97*24/48, 97/48, 75/48, 75*24/48, 75*47/48, 75*47/48 + 30/48, 75*24/48 + 30*24/48
    const uint8_t expected[8] = {94, 48, 2, 1, 37, 73, 74, 52};
    for (int outRow = 0; outRow < 2; ++outRow)
        for (int x = 0; x < 8; ++x) {
            const Bgr got = PackedAt(*dst, 8, x, outRow);
            EXPECT_EQ(got.b, expected[x]) << "x " << x << " row " << outRow;
            EXPECT_EQ(got.r, expected[x]) << "x " << x << " row " << outRow;
            EXPECT_EQ(got.g, 0) << "channels stay apart";
        }
}

TEST(ResampleImage, RowsAreFilteredInMemoryOrder) {
    // The same values down a column, memory row 0 (the bottom row) first: the
    // shift goes towards memory row 0, i.e. towards the bottom of the picture.
    const uint8_t col[8] = {97, 0, 0, 0, 75, 75, 75, 30};
    auto src = Packed(1, 8, [&](int, int r) { return Bgr{0, col[r], 0}; });
    auto dst = Filled(0xCD);
    ASSERT_TRUE(ResampleImage(2, 8, *src, *dst));
    const uint8_t expected[8] = {94, 48, 2, 1, 37, 73, 74, 52};
    for (int r = 0; r < 8; ++r)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(PackedAt(*dst, 2, x, r).g, expected[r]) << r;
}

TEST(ResampleImage, EnlargingClampsTheFarTapsToTheLastColumn) {
    // 2 x 2 -> 8 x 8: scale 0.25, positions -0.5, -0.25, 0, ... 1.25.
    auto src = Packed(2, 2, [](int x, int) {
        return Bgr{static_cast<uint8_t>(x ? 201 : 0), 0, 0};
    });
    auto dst = Filled(0xCD);
    ASSERT_TRUE(ResampleImage(8, 8, *src, *dst));
    // Share of column 1 at each position, times 201, truncated:
    // 1/48, 0.0703, 1/6, 0.3177, 1/2, 0.6823, 5/6, 0.9297.
    const uint8_t expected[8] = {4, 14, 33, 63, 100, 137, 167, 186};
    for (int r = 0; r < 8; ++r)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(PackedAt(*dst, 8, x, r).b, expected[x]) << x << "," << r;
}

TEST(ResampleImage, ShrinkingSamplesOnlyTheFourByFourFootprint) {
    // 128 -> 4: scale 32, positions -0.5, 31.5, 63.5, 95.5. A bright column
    // far from every footprint does not show.
    auto src = NewPicture();
    for (int y = 0; y < kFrameSide; ++y)
        SetPixel(*src, 16, y, Bgr{255, 255, 255});
    auto dst = Filled(0xCD);
    ASSERT_TRUE(ResampleImage(4, 4, *src, *dst));
    for (int i = 0; i < 4 * 4 * 3; ++i)
        EXPECT_EQ(dst->bytes[40 + i], 0) << i;
}

// Golden digests of whole results. A flat picture is where the float/double
// choices show: its sums land next to whole numbers, and the last bits of a
// sample position or a column weight decide which of them truncate one level
// lower. The 32-bit Windows build must produce exactly these bytes too.
TEST(ResampleImage, ExactBytesMatchTheGoldenDigests) {
    struct Case {
        uint8_t level; // 0: busy content
        int w, h;
        uint32_t digest;
    };
    const Case cases[] = {
        {0, 124, 124, 3474046869u},   {0, 7, 5, 2019757065u},      {100, 124, 124, 89067118u},
        {100, 96, 96, 390003427u},    {200, 125, 61, 1703689140u}, {255, 36, 36, 1288171954u},
        {255, 116, 116, 2977664879u}, {255, 7, 5, 3057246006u},    {100, 104, 104, 4022623093u},
        {100, 52, 52, 3201359216u},
    };
    for (const Case& c : cases) {
        auto src = NewPicture();
        if (c.level)
            Fill(*src, Bgr{c.level, c.level, c.level});
        else
            FillNoise(*src, 12345);
        auto dst = Filled(0);
        ASSERT_TRUE(ResampleImage(c.w, c.h, *src, *dst));
        EXPECT_EQ(Fnv1a(dst->bytes, 40 + c.w * c.h * 3), c.digest)
            << int{c.level} << " " << c.w << "x" << c.h;
    }
    // Enlarging a flat block, as the zoom does.
    auto flat = Packed(44, 44, [](int, int) { return Bgr{200, 100, 255}; });
    auto big = Filled(0);
    ASSERT_TRUE(ResampleImage(128, 128, *flat, *big));
    EXPECT_EQ(Fnv1a(big->bytes, 40 + kFramePixelBytes), 1972563556u);
}

} // namespace
