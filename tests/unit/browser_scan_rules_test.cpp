// Thumbnail placement in the 80 x 72 cells, and the folder scan's rules for
// names: which entries are listed, the 256-name limit, the path lengths.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "browser/scan_rules.h"

namespace {

struct Fit {
    int32_t W, H;
    ThumbnailRect want;
};

void ExpectFit(const Fit& f) {
    const ThumbnailRect got = FitThumbnailRect(f.W, f.H);
    EXPECT_EQ(got.x0, f.want.x0) << f.W << " x " << f.H;
    EXPECT_EQ(got.y0, f.want.y0) << f.W << " x " << f.H;
    EXPECT_EQ(got.w, f.want.w) << f.W << " x " << f.H;
    EXPECT_EQ(got.h, f.want.h) << f.W << " x " << f.H;
}

TEST(BrowserFitThumbnail, TallPicturesFillTheHeightAndAreCentredAcross) {
    ExpectFit({100, 200, {22, 0, 36, 72}});
    ExpectFit({128, 128, {4, 0, 72, 72}});
    ExpectFit({1, 1000, {40, 0, 0, 72}}); // thinner than a pixel: nothing drawn across
}

TEST(BrowserFitThumbnail, WidePicturesFillTheWidthAndAreCentredDown) {
    ExpectFit({200, 100, {0, 16, 80, 40}});
    ExpectFit({640, 480, {0, 6, 80, 60}});
    ExpectFit({1000, 1, {0, 36, 80, 0}});
}

TEST(BrowserFitThumbnail, TheCellsOwnRatioCountsAsTallAgainstASinglePrecisionPointNine) {
    // 72/80 is 0.9 exactly, above the float 0.89999998.
    ExpectFit({80, 72, {0, 0, 80, 72}});
    // Between the float and the double 0.9: still tall, so all 72 rows are
    // used; a double threshold would give 80 x 71.
    ExpectFit({100000000, 89999999, {0, 0, 80, 72}});
    // Just below the float: wide.
    ExpectFit({100000000, 89999997, {0, 0, 80, 71}});
}

TEST(BrowserFitThumbnail, TheRatioIsHeldInExtendedPrecision) {
    // 72 / (6/5) is 60 in exact arithmetic, but 6/5 rounds up in 80-bit
    // precision and the quotient truncates to 59 (a double ratio gives 60).
    ExpectFit({5, 6, {10, 0, 59, 72}});
    // 72 / (9/7): 56 in extended precision, 55 with doubles.
    ExpectFit({7, 9, {12, 0, 56, 72}});
    // 72 / (72/35): 35 in extended precision, 34 with floats.
    ExpectFit({35, 72, {22, 0, 35, 72}});
}

// The rule as it was first written, in x87 extended precision: the oracle
// for the integer version, where long double is that format and the
// processor computes in it (a precision setting of 53 bits would not).
ThumbnailRect ExtendedPrecisionRect(int32_t W, int32_t H) {
    ThumbnailRect t;
    const long double r = static_cast<long double>(H) / static_cast<long double>(W);
    if (r > static_cast<long double>(0.9f)) {
        t.w = static_cast<int32_t>(static_cast<long double>(kThumbHeight) / r);
        t.h = kThumbHeight;
        t.x0 = (kThumbWidth - t.w) / 2;
    } else {
        t.w = kThumbWidth;
        t.h = static_cast<int32_t>(r * static_cast<long double>(kThumbWidth));
        t.y0 = (kThumbHeight - t.h) / 2;
    }
    return t;
}

bool Same(const ThumbnailRect& a, const ThumbnailRect& b) {
    return a.x0 == b.x0 && a.y0 == b.y0 && a.w == b.w && a.h == b.h;
}

TEST(BrowserFitThumbnail, IntegerRuleEqualsTheExtendedPrecisionOneForEverySize) {
    if (std::numeric_limits<long double>::digits != 64 || ExtendedPrecisionRect(5, 6).w != 59)
        GTEST_SKIP() << "no 64-bit-mantissa arithmetic here to compare with";
    int64_t compared = 0, wrong = 0;
    auto check = [&](int32_t W, int32_t H) {
        ++compared;
        if (Same(FitThumbnailRect(W, H), ExtendedPrecisionRect(W, H))) return;
        if (++wrong <= 10) ADD_FAILURE() << W << " x " << H;
    };
    // Every picture a JPEG can be, and beyond (a 32-bit build, often run
    // emulated, checks fewer).
    const bool narrow = sizeof(void*) == 4;
    const int32_t side = narrow ? 2048 : 9000;
    for (int32_t W = 1; W <= side; ++W)
        for (int32_t H = 1; H <= side; ++H)
            check(W, H);
    // Up to the largest sizes a header can state: random sizes, and the sizes
    // where 72 W / H or 80 H / W is a whole number (where the roundings count).
    std::mt19937 rng(24);
    std::uniform_int_distribution<int32_t> any(1, INT32_MAX);
    for (int i = 0; i < (narrow ? 200000 : 2000000); ++i) {
        const int32_t a = any(rng) >> (rng() % 31), b = any(rng) >> (rng() % 31);
        check(std::max(a, 1), std::max(b, 1));
        const int32_t n = 1 + static_cast<int32_t>(rng() % 80);
        const int64_t k = std::max<int64_t>(1, a / 80);
        if (80 * k <= INT32_MAX) check(static_cast<int32_t>(80 * k), static_cast<int32_t>(n * k));
        if (72 * k <= INT32_MAX) check(static_cast<int32_t>(n * k), static_cast<int32_t>(72 * k));
    }
    EXPECT_EQ(wrong, 0) << "of " << compared;
}

TEST(BrowserFitThumbnail, APictureWithoutAreaGetsAnEmptyRectangle) {
    for (auto size : {std::pair<int32_t, int32_t>{0, 10}, {10, 0}, {0, 0}, {-5, 10}, {10, -5}}) {
        const ThumbnailRect t = FitThumbnailRect(size.first, size.second);
        EXPECT_EQ(t.w, 0);
        EXPECT_EQ(t.h, 0);
    }
}

TEST(BrowserScanNames, ThePicturesExtensionsInAnyCaseAreListed) {
    for (const char* name : {"a.jpg", "B.BMP", "c.Gif", "GIF", "x.y.jpg", "..jpg", "photo.JpG",
                             "a.jpeg", "a.JPE", "a.jfif", "shot.Png"})
        EXPECT_TRUE(IsScannedPictureName(name)) << name;
    for (const char* name : {"a.bmp.txt", "a.jp", "a.", ".", "..", "readme", "a.jpg ", "a.pngs", ""})
        EXPECT_FALSE(IsScannedPictureName(name)) << name;
    EXPECT_FALSE(IsScannedPictureName(nullptr));
}

struct Table {
    std::vector<char> bytes = std::vector<char>(kNameSlots * kPathBytes, 0);
    int32_t count = 0;
    std::string At(int i) const { return &bytes[static_cast<size_t>(i) * kPathBytes]; }
    ScanStep Add(const char* folder, const std::string& name) {
        return AddScannedName(folder, name.c_str(), bytes.data(), count);
    }
};

TEST(BrowserScanNames, NamesKeepTheSearchOrderAndFoldersAreNotTold) {
    Table t;
    // The search returns folders too; a folder named x.jpg is listed.
    for (const char* name : {".", "..", "z.bmp", "x.jpg", "notes.txt", "a.gif", "b.jpeg"})
        EXPECT_EQ(t.Add("C:\\pics\\", name), ScanStep::kGoOn);
    ASSERT_EQ(t.count, 4);
    EXPECT_EQ(t.At(0), "z.bmp");
    EXPECT_EQ(t.At(1), "x.jpg");
    EXPECT_EQ(t.At(2), "a.gif");
    EXPECT_EQ(t.At(3), "b.jpeg");
}

TEST(BrowserScanNames, TheTableEndsTheSearchAt256Names) {
    Table t;
    int added = 0;
    ScanStep step = ScanStep::kGoOn;
    for (int i = 0; i < 1000 && step == ScanStep::kGoOn; ++i) {
        step = t.Add("C:\\many\\", "p" + std::to_string(i) + (i % 2 ? ".bmp" : ".txt"));
        ++added;
    }
    EXPECT_EQ(step, ScanStep::kTableFull);
    EXPECT_EQ(t.count, 256);
    EXPECT_EQ(added, 512); // the 256th picture was entry 511
    EXPECT_EQ(t.At(0), "p1.bmp");
    EXPECT_EQ(t.At(255), "p511.bmp");
    // A full table takes nothing more.
    EXPECT_EQ(t.Add("C:\\many\\", "late.bmp"), ScanStep::kTableFull);
    EXPECT_EQ(t.count, 256);
}

TEST(BrowserScanNames, AFileWhoseFullPathWouldPass259CharactersIsSkipped) {
    const std::string folder = "C:\\" + std::string(200, 'f') + "\\"; // 204 characters
    Table t;
    const std::string fits = std::string(51, 'n') + ".bmp"; // 204 + 55 = 259
    const std::string over = std::string(52, 'n') + ".bmp"; // 260
    t.Add(folder.c_str(), over);
    t.Add(folder.c_str(), fits);
    ASSERT_EQ(t.count, 1);
    EXPECT_EQ(t.At(0), fits);
}

TEST(BrowserScanNames, TheFolderPathEndsInOneBackslashAndMustLeaveRoom) {
    char out[kPathBytes];
    ASSERT_TRUE(MakeFolderPath("C:\\pics", out));
    EXPECT_STREQ(out, "C:\\pics\\");
    ASSERT_TRUE(MakeFolderPath("C:\\", out));
    EXPECT_STREQ(out, "C:\\");
    const std::string longest(258, 'd'); // plus the backslash: 259
    ASSERT_TRUE(MakeFolderPath(longest.c_str(), out));
    EXPECT_EQ(std::string(out), longest + "\\");
    std::strcpy(out, "untouched");
    EXPECT_FALSE(MakeFolderPath(std::string(259, 'd').c_str(), out));
    EXPECT_FALSE(MakeFolderPath(std::string(600, 'd').c_str(), out));
    EXPECT_FALSE(MakeFolderPath("", out));
    EXPECT_STREQ(out, "untouched");
}

TEST(BrowserScanNames, FullPathsAreAssembledOnlyWhenTheyFit) {
    char out[kPathBytes];
    ASSERT_TRUE(JoinFolderAndName("C:\\pics\\", "a.bmp", out));
    EXPECT_STREQ(out, "C:\\pics\\a.bmp");
    const std::string folder(200, 'f');
    EXPECT_TRUE(JoinFolderAndName(folder.c_str(), std::string(59, 'n').c_str(), out));
    EXPECT_EQ(std::strlen(out), 259u);
    EXPECT_FALSE(JoinFolderAndName(folder.c_str(), std::string(60, 'n').c_str(), out));
    EXPECT_STREQ(out, "");
}

} // namespace
