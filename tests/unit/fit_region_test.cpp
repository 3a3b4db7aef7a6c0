// A part of the picture fitted as if it were the whole picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codecs/decode_failure.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/load_picture.h"
#include "fit/fit_options.h"
#include "tests/unit/fit_test_pictures.h"
#include "tests/unit/jpeg_builder.h"
#include "tests/unit/test_support.h"

namespace {

using Frame = std::unique_ptr<FrameImage>;

Frame FitOf(LoadBuffers& lb, const FitOptions& options, int orientation) {
    Frame f(new FrameImage);
    std::memset(f->bytes, 0x5A, sizeof f->bytes);
    FitWithOptions(lb, options, orientation, *f);
    return f;
}

bool Same(const FrameImage& a, const FrameImage& b) {
    return std::memcmp(a.bytes, b.bytes, kFrameHeaderBytes + kFramePixelBytes) == 0;
}

// The top-down pixels of `r` cut out of a w-wide top-down picture.
std::vector<uint32_t> Cut(const std::vector<uint32_t>& px, int32_t w, const PictureRect& r) {
    std::vector<uint32_t> out;
    for (int32_t y = r.y; y < r.y + r.h; ++y)
        for (int32_t x = r.x; x < r.x + r.w; ++x)
            out.push_back(px[static_cast<size_t>(y) * w + x]);
    return out;
}

TEST(ResolveRegion, PixelsAndSharesOfTheSidesInsideThePictureOnly) {
    struct Case {
        int64_t v[4];
        bool percent[4];
        bool inside;
        PictureRect expect;
    };
    const Case cases[] = {
        {{10, 20, 30, 40}, {}, true, {10, 20, 30, 40}},
        {{0, 0, 300, 200}, {}, true, {0, 0, 300, 200}},
        {{299, 199, 1, 1}, {}, true, {299, 199, 1, 1}},
        {{1000, 0, 8000, 10000}, {true, true, true, true}, true, {30, 0, 240, 200}},
        {{0, 0, 10000, 10000}, {true, true, true, true}, true, {0, 0, 300, 200}},
        // 12.5 % of 300 is 37.5: the edges round half up, the size follows them
        {{1250, 1250, 1250, 1250}, {true, true, true, true}, true, {38, 25, 37, 25}},
        {{50, 0, 5000, 100}, {false, false, true, false}, true, {50, 0, 150, 100}},
        {{0, 0, 301, 10}, {}, false, {}}, // one column too wide
        {{-1, 0, 10, 10}, {}, false, {}}, // left of the picture
        {{0, 0, 0, 10}, {}, false, {}},   // empty
        {{200, 0, 10000, 5}, {false, false, true, false}, false, {}},
        {{5000, 0, 6000, 10000}, {true, true, true, true}, false, {}}, // 50 % + 60 %
        {{0, 0, 10, 10}, {true, true, true, true}, false, {}},         // 0.1 % of 200 rows: none
        {{0, 0, int64_t(1) << 62, 1}, {}, false, {}},
    };
    for (const Case& c : cases) {
        RegionRequest q;
        q.asked = true;
        for (int k = 0; k < 4; ++k)
            q.value[k] = c.v[k], q.percent[k] = c.percent[k];
        PictureRect r{7, 7, 7, 7};
        ASSERT_EQ(ResolveRegion(q, 300, 200, r), c.inside) << c.v[0] << "," << c.v[2];
        if (c.inside) {
            EXPECT_EQ(r.x, c.expect.x) << c.v[0];
            EXPECT_EQ(r.y, c.expect.y) << c.v[1];
            EXPECT_EQ(r.w, c.expect.w) << c.v[2];
            EXPECT_EQ(r.h, c.expect.h) << c.v[3];
        }
    }
    PictureRect whole;
    ASSERT_TRUE(ResolveRegion(RegionRequest{}, 300, 200, whole));
    EXPECT_EQ(whole.w * whole.h, 300 * 200);
}

TEST(FitRegion, EveryFitOfARegionIsTheFitOfThePictureCutToIt) {
    const int32_t w = 233, h = 171; // odd sizes: uneven cuts and bands
    const std::vector<uint32_t> stored = RandomPixels(w, h, 17);
    const PictureRect regions[] = {{0, 0, 0, 0},     {13, 7, 150, 61}, {40, 3, 77, 140},
                                   {5, 9, 100, 100}, {60, 50, 1, 90},  {0, 0, 40, 30}};
    for (int o : {1, 3, 6, 7})
        for (const PictureRect& given : regions) {
            int32_t uw = 0, uh = 0;
            const std::vector<uint32_t> up = Upright(stored, w, h, o, uw, uh);
            const PictureRect r = given.w ? given : PictureRect{0, 0, uw, uh};
            const std::vector<uint32_t> cut = Cut(up, uw, r);
            for (FitMode mode : {FitMode::kStretch, FitMode::kFill, FitMode::kInside})
                for (bool smooth : {false, true}) {
                    FitOptions options;
                    options.mode = mode;
                    options.smooth = smooth;
                    Frame reference = FitOf(TopDownRaster(cut, r.w, r.h), options, 1);
                    options.region = RegionInPixels(r);
                    Frame part = FitOf(TopDownRaster(stored, w, h), options, o);
                    EXPECT_TRUE(Same(*part, *reference))
                        << "orientation " << o << " region " << r.x << "," << r.y << " mode "
                        << int(mode) << " smooth " << smooth;
                }
        }
}

// Lines not marked are poisoned; the fit, of the whole picture or of a part,
// must come out as from the clean raster.
TEST(FitRegion, TheFitReadsOnlyTheLinesItMarksAndARegionOutsideReadsNothing) {
    const int32_t w = 190, h = 143;
    const std::vector<uint32_t> px = RandomPixels(w, h, 23);
    for (const RegionRequest& region : {RegionRequest{}, RegionInPixels({21, 11, 97, 60})})
        for (int o : {1, 2, 3, 5, 6, 7, 8})
            for (FitMode mode : {FitMode::kStretch, FitMode::kFill, FitMode::kInside})
                for (bool smooth : {false, true}) {
                    FitOptions opt;
                    opt.mode = mode;
                    opt.smooth = smooth;
                    opt.region = region;
                    std::vector<uint8_t> cols, rows;
                    LinesTheFitReads(w, h, opt, o, cols, rows);
                    Frame clean = FitOf(TopDownRaster(px, w, h), opt, o);
                    std::vector<uint32_t> poisoned = px;
                    for (int32_t r = 0; r < h; ++r)
                        for (int32_t c = 0; c < w; ++c)
                            if (!cols[c] || !rows[r])
                                poisoned[static_cast<size_t>(r) * w + c] ^= 0x5A5A5A;
                    EXPECT_TRUE(Same(*clean, *FitOf(TopDownRaster(poisoned, w, h), opt, o)))
                        << region.asked << " " << o << " " << int(mode) << " " << smooth;
                }
    FitOptions outside;
    outside.region = RegionInPixels({100, 0, 100, 10});
    std::vector<uint8_t> cols, rows;
    LinesTheFitReads(w, h, outside, 1, cols, rows);
    EXPECT_EQ(std::count(cols.begin(), cols.end(), 1) + std::count(rows.begin(), rows.end(), 1), 0);
    // The fit of it is black, and says it could not be made; a part given
    // to FitPart outside the picture (turned: 143 wide) is never read.
    Frame f(new FrameImage);
    EXPECT_FALSE(FitWithOptions(TopDownRaster(px, w, h), outside, 1, *f));
    for (size_t i = 0; i < kFramePixelBytes; ++i)
        ASSERT_EQ(f->Pixels()[i], 0) << i;
    for (const PictureRect& r : {PictureRect{100, 0, 91, 10}, PictureRect{-1, 0, 5, 5},
                                 PictureRect{0, 0, 0, 5}, PictureRect{0, 150, 143, 41}}) {
        std::memset(f->bytes, 0x5A, sizeof f->bytes);
        FitPart(TopDownRaster(px, w, h), outside, 6, r, *f);
        for (size_t i = 0; i < kFramePixelBytes; ++i)
            ASSERT_EQ(f->Pixels()[i], 0) << r.x << "," << r.y << " " << i;
    }
}

// The file with an Exif APP1 holding only `orientation` after its SOI.
std::string WithOrientation(const std::string& from, const char* name, int orientation) {
    return WriteScratchFile(name, WithExifOrientation(ReadFile(from), orientation));
}

TEST(FitRegion, ASampledJpegLoadOfARegionIsTheFitOfTheFullDecode) {
    struct Free {
        void operator()(JpegDecoder* p) const { std::free(p); }
    };
    std::unique_ptr<JpegDecoder, Free> d(
        static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes)));
    DecoderSet set;
    set.buffers = &TestBuffers();
    set.jpeg = d.get();
    LoadBuffers& lb = *set.buffers;
    const std::string data = std::string(PIXMORA_SOURCE_DIR) + "/tests/data/jpeg/";
    struct Input {
        const char* file;
        int orientation;
    };
    const Input inputs[] = {{"synth-420.jpg", 0},
                            {"synth-422-prog.jpg", 6},
                            {"synth-444.jpg", 3},
                            {"synth-gray.jpg", 8}};
    for (const Input& in : inputs) {
        const std::string path = in.orientation
                                     ? WithOrientation(data + in.file, "turned.jpg", in.orientation)
                                     : NativePath(data + in.file);
        for (FitMode mode : {FitMode::kStretch, FitMode::kFill, FitMode::kInside})
            for (bool smooth : {false, true})
                for (bool subject : {false, true}) {
                    FitOptions o;
                    o.mode = mode;
                    o.smooth = smooth;
                    if (subject)
                        o.focus = FitFocus::kSubject;
                    else
                        o.region = RegionInPixels({9, 4, 41, 57});
                    Frame loaded(new FrameImage), reference(new FrameImage);
                    std::memset(lb.decodeBuffer, 0x77, 1 << 20); // what is not decoded stays so
                    FitReport report;
                    ASSERT_EQ(LoadForFrame(set, path.c_str(), o, *loaded, &report),
                              DecodeOutcome::kComplete);
                    ASSERT_EQ(DecodeJpegFile(lb, *d, path.c_str()), 1);
                    lb.raster.cursor.address = RasterRow(lb, 0);
                    ASSERT_TRUE(
                        FitWithOptions(lb, o, in.orientation ? in.orientation : 1, *reference));
                    EXPECT_TRUE(Same(*loaded, *reference))
                        << in.file << " " << int(mode) << smooth << subject;
                    if (subject) continue;
                    EXPECT_EQ(report.part.x, 9);
                    EXPECT_EQ(report.part.h, 57);
                    // Decoded whole once and fitted from the raster, as "Choose the
                    // part" does: the same picture.
                    int orientation = 0;
                    ASSERT_EQ(DecodeWholePicture(set, path.c_str(), true, orientation),
                              DecodeOutcome::kComplete);
                    FitPart(lb, o, orientation, report.part, *reference);
                    EXPECT_TRUE(Same(*loaded, *reference)) << in.file << " " << int(mode) << smooth;
                }
    }
}

TEST(FitRegion, ALoadReportsThePartsAndRefusesARegionOutside) {
    DecoderSet set;
    set.buffers = &TestBuffers();
    const std::string path = NativePath(ScratchDir() + "/wide.bmp");
    {
        BmpFields fields;
        fields.width = 200;
        fields.height = 80;
        fields.pixels.assign(static_cast<size_t>(StrideOf(200, 24)) * 80, 0x40);
        const Bytes bmp = BuildBmp(fields);
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(bmp.data(), 1, bmp.size(), f);
        std::fclose(f);
    }
    FitOptions o;
    o.mode = FitMode::kFill;
    FitReport report;
    Frame block(new FrameImage);
    ASSERT_EQ(LoadForFrame(set, path.c_str(), o, *block, &report), DecodeOutcome::kComplete);
    EXPECT_EQ(report.width, 200);
    EXPECT_EQ(report.part.w, 200);
    EXPECT_EQ(report.shown.x, 60);
    EXPECT_EQ(report.shown.w, 80);

    o.region = RegionInPixels({150, 0, 51, 80});
    std::memset(block->bytes, 0x33, sizeof block->bytes);
    ClearDecodeFailure();
    EXPECT_EQ(LoadForFrame(set, path.c_str(), o, *block, &report), DecodeOutcome::kRefused);
    EXPECT_TRUE(report.regionOutside);
    EXPECT_EQ(report.height, 80);
    EXPECT_STRNE(LastDecodeFailure(), "");
    EXPECT_EQ(block->bytes[500], 0x33) << "the block is left as it was";
}

} // namespace
