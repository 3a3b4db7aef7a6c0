// The PNG reader on small files built here, every colour type and depth,
// against the colour rules applied to the samples (which libpng, where the
// build has it, must read back from the same files); damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "browser/thumbnail.h"
#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"
#include "codecs/png_reader.h"
#include "fit/fit_options.h"
#include "tests/unit/png_builder.h"
#include "tests/unit/test_support.h"

#ifdef PIXMORA_HAVE_LIBPNG
#include <png.h>
#endif

namespace {

using pngtest::Bytes;
using pngtest::PngFields;

LoadBuffers& Buffers() {
    static OwnedLoadBuffers owned;
    return owned.buffers;
}

int Decode(const Bytes& file, const SampleMasks* masks = nullptr) {
    LoadBuffers& lb = Buffers();
    lb.LoaderStopFlag = 0;
    LoadMemory(lb, file.data(), file.size());
    return DecodePngLoaded(lb, masks);
}

// The raster pixel (x, y from the top) as blue | green << 8 | red << 16.
uint32_t Pixel(int32_t x, int32_t y) {
    LoadBuffers& lb = Buffers();
    const uint8_t* p = RasterRow(lb, RasterHeight(lb) - 1 - y) + 3 * x;
    return p[0] | p[1] << 8 | p[2] << 16;
}

// The colour rules on one pixel's samples.
uint32_t Expected(const PngFields& s, int32_t x, int32_t y) {
    const int n = pngtest::Channels(s.colour);
    const uint16_t* v = &s.samples[(static_cast<size_t>(y) * s.width + x) * n];
    const uint32_t top = (1u << s.depth) - 1;
    auto to8 = [&](uint32_t c) { return s.depth == 16 ? (c * 255 + 32767) / 65535 : c * 255 / top; };
    auto over = [](uint32_t c, uint32_t a) { return (c * a + 127) / 255; };
    auto bgr = [](uint32_t r, uint32_t g, uint32_t b) { return b | g << 8 | r << 16; };
    auto key = [&](int k) { return s.trns[2 * k] << 8 | s.trns[2 * k + 1]; };
    switch (s.colour) {
    case 0:
        if (s.trns.size() == 2 && v[0] == key(0)) return 0;
        return bgr(to8(v[0]), to8(v[0]), to8(v[0]));
    case 2:
        if (s.trns.size() == 6 && v[0] == key(0) && v[1] == key(1) && v[2] == key(2)) return 0;
        return bgr(to8(v[0]), to8(v[1]), to8(v[2]));
    case 3: {
        if (v[0] * 3u >= s.plte.size()) return 0;
        // a tRNS longer than the palette is passed over, as libpng does
        const bool alpha = v[0] < s.trns.size() && s.trns.size() * 3 <= s.plte.size();
        const uint32_t a = alpha ? s.trns[v[0]] : 255;
        const uint8_t* e = &s.plte[v[0] * 3u];
        return bgr(over(e[0], a), over(e[1], a), over(e[2], a));
    }
    case 4: return over(to8(v[0]), to8(v[1])) * 0x010101u;
    default: return bgr(over(to8(v[0]), to8(v[3])), over(to8(v[1]), to8(v[3])), over(to8(v[2]), to8(v[3])));
    }
}

#ifdef PIXMORA_HAVE_LIBPNG
// libpng's samples of the file: below 8 bits one per byte, 16 bits big-endian.
std::vector<uint16_t> LibpngSamples(const Bytes& file) {
    // (a tRNS longer than the palette draws a warning)
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                             [](png_structp, png_const_charp) {});
    png_infop info = png_create_info_struct(png);
    std::vector<uint16_t> out;
    struct Reader {
        const Bytes* f;
        size_t at;
    } in{&file, 0};
    png_set_read_fn(png, &in, [](png_structp p, png_bytep to, size_t n) {
        Reader* r = static_cast<Reader*>(png_get_io_ptr(p));
        if (r->at + n > r->f->size()) png_error(p, "cut short");
        std::memcpy(to, r->f->data() + r->at, n);
        r->at += n;
    });
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_read_info(png, info);
        png_set_packing(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const size_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        const size_t rowBytes = png_get_rowbytes(png, info), depth = png_get_bit_depth(png, info);
        Bytes image(rowBytes * h);
        std::vector<png_bytep> rows(h);
        for (size_t y = 0; y < h; ++y)
            rows[y] = &image[y * rowBytes];
        png_read_image(png, rows.data());
        const size_t count = w * h * png_get_channels(png, info);
        for (size_t i = 0; i < count; ++i) {
            const size_t y = i / (count / h), j = i % (count / h);
            out.push_back(depth == 16 ? rows[y][2 * j] << 8 | rows[y][2 * j + 1] : rows[y][j]);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return out;
}
#endif

PngFields RandomSpec(int colour, int depth, bool interlaced, uint32_t seed) {
    std::mt19937 rng(seed);
    PngFields s;
    s.width = 1 + rng() % 19;
    s.height = 1 + rng() % 17;
    s.colour = colour;
    s.depth = depth;
    s.interlaced = interlaced;
    s.firstFilter = static_cast<int>(rng() % 5);
    const uint32_t top = (1u << depth) - 1;
    // Few distinct values, so that a tRNS key or the last palette entries recur.
    for (size_t i = 0; i < static_cast<size_t>(s.width) * s.height * pngtest::Channels(colour); ++i)
        s.samples.push_back(static_cast<uint16_t>(rng() % 3 == 0 ? top : rng() % 4 == 0 ? 0 : rng() & top));
    if (colour == 3) {
        s.plte.resize(3 * std::min<uint32_t>(top, 1 + rng() % 6)); // short: indices past its end
        for (uint8_t& b : s.plte)
            b = static_cast<uint8_t>(rng());
        s.trns = {0, 128, 255}; // three entries: the rest opaque
    } else if (colour == 0 || colour == 2) {
        for (int k = 0; k < pngtest::Channels(colour); ++k)
            s.trns.insert(s.trns.end(), {static_cast<uint8_t>(s.samples[k] >> 8),
                                         static_cast<uint8_t>(s.samples[k])});
    }
    return s;
}

TEST(PngReader, EveryColourTypeAndDepthInterlacedOrNotFollowsTheColourRules) {
    Bytes animation = pngtest::Chunk("acTL", Bytes(8, 0));
    const Bytes priv = pngtest::Chunk("prVt", {1, 2});
    animation.insert(animation.end(), priv.begin(), priv.end());
    const int kinds[][2] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                            {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    int cases = 0;
    for (const auto& k : kinds)
        for (bool interlaced : {false, true})
            for (uint32_t seed = 1; seed <= 6; ++seed) {
                PngFields s = RandomSpec(k[0], k[1], interlaced, seed * 31 + k[0] * 7 + k[1]);
                if (seed % 2 && s.colour != 3) s.trns.clear(); // half of them without a key
                // Some with the data in chunks of 7 bytes, an animation's chunks and a
                // private one around it (an animated PNG gives its default image).
                const Bytes file = seed != 3 ? pngtest::Build(s)
                                             : pngtest::Build(s, 7, animation, pngtest::Chunk("fdAT", Bytes(40, 0xFF)));
                const std::string what = "colour " + std::to_string(k[0]) + " depth " +
                                         std::to_string(k[1]) + (interlaced ? " Adam7" : "") +
                                         " seed " + std::to_string(seed);
#ifdef PIXMORA_HAVE_LIBPNG
                ASSERT_EQ(LibpngSamples(file), s.samples) << what;
#endif
                ASSERT_EQ(Decode(file), 1) << what << ": " << LastDecodeFailure();
                ASSERT_EQ(RasterWidth(Buffers()), s.width);
                ASSERT_EQ(RasterHeight(Buffers()), s.height);
                ASSERT_EQ(RasterBits(Buffers()), 24);
                for (int32_t y = 0; y < s.height; ++y)
                    for (int32_t x = 0; x < s.width; ++x)
                        ASSERT_EQ(Pixel(x, y), Expected(s, x, y)) << what << " at " << x << "," << y;
                ++cases;
            }
    EXPECT_EQ(cases, 180);
}

TEST(PngReader, ImageDataCutOrDamagedGivesTheRowsDecodedAndBlackBelow) {
    PngFields s = RandomSpec(2, 8, false, 9);
    s.width = 64;
    s.height = 40;
    s.trns.clear();
    std::mt19937 rng(3);
    for (uint16_t& v : s.samples = std::vector<uint16_t>(64 * 40 * 3))
        v = static_cast<uint16_t>(1 + rng() % 250); // never black
    const Bytes whole = pngtest::Build(s);
    const size_t end = whole.size() - 12 - 4; // the end of the image data
    PngFields badRow = s;
    badRow.badFilterRow = 23;
    const struct {
        Bytes file;
        int32_t rows;
        const char* reason;
    } cases[] = {{Bytes(whole.begin(), whole.begin() + end - 2000), -1, "the picture data ends early"},
                 {pngtest::Build(badRow), 23, "the picture data is damaged"}};
    for (const auto& c : cases) {
        ASSERT_EQ(Decode(c.file), 0);
        EXPECT_STREQ(LastDecodeFailure(), c.reason);
        int32_t decoded = 0;
        while (decoded < 40 && Pixel(0, decoded) == Expected(s, 0, decoded))
            ++decoded;
        if (c.rows >= 0) {
            EXPECT_EQ(decoded, c.rows);
        }
        EXPECT_GT(decoded, 5);
        for (int32_t y = decoded; y < 40; ++y)
            ASSERT_EQ(Pixel(63, y), 0u) << y;
    }
    // Loading stopped: the same, at once.
    Buffers().LoaderStopFlag = 1;
    LoadMemory(Buffers(), whole.data(), whole.size());
    EXPECT_EQ(DecodePngLoaded(Buffers()), 0);
    EXPECT_STREQ(LastDecodeFailure(), "loading stopped");
    Buffers().LoaderStopFlag = 0;
}

TEST(PngReader, ABrokenSignatureOrHeaderIsRefusedWithItsReason) {
    const PngFields good = RandomSpec(3, 4, false, 2);
    const Bytes file = pngtest::Build(good);
    // The file with bytes from `at` on replaced (16: the header's width).
    auto with = [&](size_t at, Bytes bytes) {
        Bytes f = file;
        std::copy(bytes.begin(), bytes.end(), f.begin() + at);
        return f;
    };
    const struct {
        Bytes file;
        const char* reason;
    } cases[] = {
        {with(1, {'p'}), "not a PNG file"},
        {Bytes(file.begin(), file.begin() + 7), "not a PNG file"},
        {with(11, {12}), "PNG header missing or damaged"},
        {Bytes(file.begin(), file.begin() + 28), "PNG header missing or damaged"},
        {with(24, {16}), "PNG colour type and bit depth do not go together"},
        {with(24, {8, 5}), "PNG colour type and bit depth do not go together"},
        {with(26, {1}), "unknown PNG compression or filter method"},
        {with(28, {2}), "unknown PNG interlace method"},
        {with(16, {0, 0, 0, 0}), "picture has no pixels"},
        {with(16, {0x80, 0, 0, 0}), "picture too large"},
        {with(16, {0, 0, 0x13, 0x88, 0, 0, 0x0F, 0xA1}), "picture too large"}, // 5000 x 4001
        {with(16, {0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}), "picture too large"},
        // 2,000,000 x 1 RGBA at 16 bits: 16 MB a row
        {with(16, {0, 0x1E, 0x84, 0x80, 0, 0, 0, 1, 16, 6}), "PNG rows too long"},
        {pngtest::Build(good, 0, pngtest::Chunk("CRIT", {1})), "unknown critical PNG chunk"},
        {Bytes(file.begin(), file.begin() + 33), "no image data in the PNG file"},
    };
    PngFields noPalette = good;
    noPalette.plte.clear();
    for (const auto& c : cases) {
        const uint32_t serial = Buffers().rasterSerial;
        EXPECT_EQ(Decode(c.file), 0) << c.reason;
        EXPECT_STREQ(LastDecodeFailure(), c.reason);
        EXPECT_EQ(Buffers().rasterSerial, serial) << c.reason << ": no raster of its own";
    }
    EXPECT_EQ(Decode(pngtest::Build(noPalette)), 0);
    EXPECT_STREQ(LastDecodeFailure(), "PNG palette missing");
}

// Files the fuzzer once tripped over end safely.
TEST(PngReader, FuzzerFindingsEndSafely) {
    for (const std::string& path : RegressionFiles("png")) {
        const int result = Decode(ReadFile(path));
        EXPECT_TRUE(result == 0 || result == 1) << path;
    }
}

// The load for the frame converts only a sharp fit's rows and feeds a
// smooth fit row by row; both give the fit of the whole decode, for whole,
// interlaced and cut-off files.
TEST(PngReader, EachWayOfLoadingGivesTheFitOfTheFullDecode) {
    PngFields s = RandomSpec(6, 8, false, 8);
    s.width = 300;
    s.height = 170;
    std::mt19937 rng(5);
    for (uint16_t& v : s.samples = std::vector<uint16_t>(300 * 170 * 4))
        v = static_cast<uint16_t>(rng() & 255);
    PngFields interlaced = s;
    interlaced.interlaced = true;
    Bytes cut = pngtest::Build(s);
    cut.resize(cut.size() / 2);
    DecoderSet set;
    set.buffers = &Buffers();
    LoadBuffers& lb = Buffers();
    const std::vector<Bytes> files = {pngtest::Build(s), pngtest::Build(interlaced), cut};
    for (const Bytes& file : files) {
        const std::string path = WriteScratchFile("fit.png", file);
        // A thumbnail too, of a cut-off file as far as it goes.
        std::unique_ptr<FrameImage> thumb(new FrameImage);
        ThumbnailRect place;
        EXPECT_EQ(DecodeThumbnail(set, path.c_str(), true, *thumb, place), 1);
        EXPECT_EQ(place.w, 80);
        for (FitMode mode : {FitMode::kStretch, FitMode::kFill, FitMode::kInside})
            for (bool smooth : {false, true}) {
                const FitOptions o{mode, smooth, true};
                std::unique_ptr<FrameImage> loaded(new FrameImage), reference(new FrameImage);
                const DecodeOutcome outcome = LoadForFrame(set, path.c_str(), o, *loaded);
                ASSERT_EQ(outcome, &file == &files[2] ? DecodeOutcome::kPartial : DecodeOutcome::kComplete);
                Decode(file);
                lb.raster.cursor.address = RasterRow(lb, 0);
                FitWithOptions(lb, o, 1, *reference);
                EXPECT_EQ(std::memcmp(loaded->bytes, reference->bytes, kFrameHeaderBytes + kFramePixelBytes), 0)
                    << int(mode) << smooth;
            }
    }
}

} // namespace
