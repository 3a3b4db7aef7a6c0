// Choosing the decoder by extension, and the stretch into the frame picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "fit/fit_options.h"
#include "fit/stretch.h"
#include "codecs/bmp_reader.h"
#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/test_support.h"

namespace {

// Raster pixel (x, y) of a 24-bit raster, y a memory row.
void SetPixel(LoadBuffers& lb, int32_t x, int32_t y, uint32_t bgr) {
    uint8_t* p = RasterRow(lb, y) + 3 * static_cast<size_t>(x);
    p[0] = static_cast<uint8_t>(bgr);
    p[1] = static_cast<uint8_t>(bgr >> 8);
    p[2] = static_cast<uint8_t>(bgr >> 16);
}

uint32_t FramePixel(const FrameImage& f, int memRow, int column) {
    const uint8_t* p = f.Pixels() + memRow * kFrameStride + 3 * column;
    return p[0] | p[1] << 8 | p[2] << 16;
}

// A 24-bit raster whose pixel (x, y) encodes its own coordinates.
LoadBuffers& CoordinateRaster(int32_t w, int32_t h) {
    LoadBuffers& lb = TestBuffers();
    EXPECT_TRUE(SetUpRaster(lb, w, h, 24));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            SetPixel(lb, x, y, static_cast<uint32_t>(x) | y << 12);
    lb.raster.cursor.address = RasterRow(lb, 0);
    return lb;
}

std::unique_ptr<FrameImage> Filled(uint8_t v) {
    std::unique_ptr<FrameImage> f(new FrameImage);
    std::memset(f->bytes, v, sizeof f->bytes);
    return f;
}

std::string WriteFile(const std::string& name, const Bytes& b) {
    std::string path = ScratchDir() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
    return NativePath(path);
}

// --- The extension rule -------------------------------------------------------

TEST(ExtensionRule, TextAfterTheLastDotUpperCased) {
    EXPECT_EQ(ExtensionOf("holiday.jpeg"), "JPEG");
    EXPECT_EQ(ExtensionOf("x.Jpg"), "JPG");
    EXPECT_EQ(ExtensionOf("c:\\pics\\a.b.bmp"), "BMP");
    EXPECT_EQ(ExtensionOf(".gif"), "GIF");
    EXPECT_EQ(ExtensionOf("a.b"), "") << "one character is too short";
    EXPECT_EQ(ExtensionOf("name."), "");
    EXPECT_EQ(ExtensionOf("noextension"), "NOEXTENSION") << "no dot: the whole name";
    EXPECT_EQ(ExtensionOf("a"), "");
    EXPECT_EQ(ExtensionOf(nullptr), "");
}

TEST(ExtensionRule, OnlyJpgBmpAndGifChooseADecoder) {
    EXPECT_EQ(PictureKindOf("photo.jpg"), PictureKind::kJpeg);
    EXPECT_EQ(PictureKindOf("photo.JPG"), PictureKind::kJpeg);
    EXPECT_EQ(PictureKindOf("x.Jpg"), PictureKind::kJpeg);
    EXPECT_EQ(PictureKindOf("scan.bmp"), PictureKind::kBmp);
    EXPECT_EQ(PictureKindOf("anim.gIf"), PictureKind::kGif);
    EXPECT_EQ(PictureKindOf("GIF"), PictureKind::kGif);
    EXPECT_EQ(PictureKindOf("holiday.jpeg"), PictureKind::kNone);
    EXPECT_EQ(PictureKindOf("a.b"), PictureKind::kNone);
    EXPECT_EQ(PictureKindOf("noextension"), PictureKind::kNone);
    EXPECT_EQ(PictureKindOf("folder.bmp/readme"), PictureKind::kNone);
    EXPECT_EQ(PictureKindOf("x.j"), PictureKind::kNone);
}

// --- Loading a picture into a block --------------------------------------------

struct Set {
    std::unique_ptr<uint8_t[]> gif{new uint8_t[kGifStateBytes]()};
    std::unique_ptr<uint8_t[]> jpeg{new uint8_t[kJpegDecoderBytes]()};
    DecoderSet set;
    Set() {
        set.buffers = &TestBuffers();
        set.gif = reinterpret_cast<GifState*>(gif.get());
        set.jpeg = reinterpret_cast<JpegDecoder*>(jpeg.get());
    }
};

TEST(LoadPicture, DecoderSetsThatFitTheirShareOfTheAddressSpace) {
    const uint64_t each = DecoderSetMostBytes() + (16 << 20);
    struct Case {
        int wanted;
        uint64_t space;
        int expected;
    } cases[] = {
        {64, uint64_t{2} << 30, 5}, // 32-bit Windows: 64 would be 16 GB, beyond 32 bits
        {64, uint64_t{4} << 30, 11}, {8, uint64_t{1} << 30, 2}, {4, 100 << 20, 1},
        {64, uint64_t{1} << 47, 64}, {3, uint64_t{1} << 47, 3}, {0, uint64_t{1} << 47, 1},
    };
    for (const Case& c : cases) {
        const int n = DecoderSetsThatFit(c.wanted, c.space, 16 << 20);
        EXPECT_EQ(n, c.expected) << c.space;
        const uint64_t share = c.space / 4 * 3;
        if (n > 1) {
            EXPECT_LE(static_cast<uint64_t>(n) * each, share) << c.space;
        }
        if (n < c.wanted) {
            EXPECT_GT(static_cast<uint64_t>(n + 1) * each, share) << c.space;
        }
    }
}

TEST(LoadPicture, UnknownExtensionIsRefusedAndTouchesNothing) {
    Set s;
    auto block = Filled(0x5A);
    for (const char* name : {"holiday.jpeg", "a.b", "noextension"}) {
        EXPECT_EQ(LoadForFrame(s.set, name, FitOptions{}, *block), DecodeOutcome::kUnknownType) << name;
        EXPECT_EQ(DecodeByExtension(s.set, name), -1) << name;
    }
    for (uint8_t b : block->bytes)
        ASSERT_EQ(b, 0x5A);
}

TEST(LoadPicture, ANameThatIsJustGifGoesToTheGifDecoder) {
    Set s;
    auto block = Filled(0x5A);
    ClearDecodeFailure();
    // Relative: with a folder in front, the whole path would be the "extension".
    EXPECT_EQ(LoadForFrame(s.set, "GIF", FitOptions{}, *block), DecodeOutcome::kRefused);
    EXPECT_STREQ(LastDecodeFailure(), "cannot open the file") << "the GIF decoder ran";
}

TEST(LoadPicture, DecodesFitsAndPointsPixelBaseAtRowZero) {
    BmpSpec layout;
    layout.width = 2;
    layout.height = 1;
    layout.pixels = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0};
    const std::string path = WriteFile("pair.Bmp", BuildBmp(layout));
    Set s;
    LoadBuffers& lb = *s.set.buffers;
    lb.raster.cursor.row = 77;
    auto block = Filled(0);
    ASSERT_EQ(LoadForFrame(s.set, path.c_str(), FitOptions{}, *block), DecodeOutcome::kComplete);
    EXPECT_EQ(lb.raster.cursor.address, RasterRow(lb, 0));
    EXPECT_EQ(lb.raster.cursor.row, 77) << "only the address moves";
    EXPECT_EQ(FramePixel(*block, 0, 0), 0x302010u);
    EXPECT_EQ(FramePixel(*block, 127, 63), 0x302010u);
    EXPECT_EQ(FramePixel(*block, 5, 64), 0x605040u);
}

// The previous file's raster is still in the buffers; only a decode that set
// up a raster of its own may be shown under the new file's name.
TEST(LoadPicture, AFileRefusedBeforeItsRasterLeavesTheBlockAlone) {
    BmpSpec layout;
    layout.width = 2;
    layout.height = 1;
    layout.pixels = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0};
    const std::string good = WriteFile("good.bmp", BuildBmp(layout));
    const std::string empty = WriteFile("empty.bmp", Bytes{});
    layout.compression = 7; // refused after the raster was described
    const std::string late = WriteFile("late.bmp", BuildBmp(layout));
    Set s;
    auto block = Filled(0);
    ASSERT_EQ(LoadForFrame(s.set, good.c_str(), FitOptions{}, *block), DecodeOutcome::kComplete);
    auto kept = Filled(0x5A);
    EXPECT_EQ(LoadForFrame(s.set, empty.c_str(), FitOptions{}, *kept), DecodeOutcome::kRefused);
    EXPECT_EQ(CouldNotReadMessage(empty.c_str(), LastDecodeFailure()),
              "Could not read empty.bmp: file too short.");
    for (const std::string& refused : {empty, good + ".missing.bmp"}) {
        EXPECT_EQ(LoadForFrame(s.set, refused.c_str(), FitOptions{}, *kept), DecodeOutcome::kRefused)
            << refused;
        for (uint8_t b : kept->bytes)
            ASSERT_EQ(b, 0x5A) << refused;
    }
    EXPECT_EQ(LoadForFrame(s.set, "notes.txt", FitOptions{}, *kept), DecodeOutcome::kUnknownType);
    EXPECT_STREQ(LastDecodeFailure(), "unknown picture type");

    // Failing after its raster was set up still shows what the file gave.
    EXPECT_EQ(LoadForFrame(s.set, late.c_str(), FitOptions{}, *kept), DecodeOutcome::kPartial);
    EXPECT_EQ(FramePixel(*kept, 0, 0), 0u) << "the raster this file cleared, not the last one";
}

// --- Fitting -----------------------------------------------------------------

TEST(FitToFrame, TrueColour128IsCopiedWithItsHeader) {
    LoadBuffers& lb = CoordinateRaster(128, 128);
    auto block = Filled(0x77);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    EXPECT_EQ(std::memcmp(block->bytes, lb.decodeBuffer, 49192), 0);
    EXPECT_EQ(block->bytes[49192], 0x77) << "the unused tail is not written";
}

TEST(FitToFrame, WidePictureIsSqueezedAndShortOneStretched) {
    LoadBuffers& lb = CoordinateRaster(256, 64);
    auto block = Filled(0);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    BitmapInfoHeader h;
    std::memcpy(&h, block->bytes, 40);
    EXPECT_EQ(h.biWidth, 128);
    EXPECT_EQ(h.biHeight, 128);
    EXPECT_EQ(h.biSizeImage, 49152u);
    for (int i = 0; i < 128; ++i)
        for (int j = 0; j < 128; ++j)
            ASSERT_EQ(FramePixel(*block, i, j), static_cast<uint32_t>(2 * j) | (i / 2) << 12)
                << i << "," << j;
}

TEST(FitToFrame, OnePixelFillsTheFrame) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 1, 1, 24));
    SetPixel(lb, 0, 0, 0xABCDEF);
    lb.raster.cursor.address = RasterRow(lb, 0);
    auto block = Filled(0);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    for (int i = 0; i < 128; ++i)
        for (int j = 0; j < 128; ++j)
            ASSERT_EQ(FramePixel(*block, i, j), 0xABCDEFu);
}

TEST(FitToFrame, HundredPixelsRepeatSomeColumnsAndSkipNone) {
    LoadBuffers& lb = CoordinateRaster(100, 100);
    auto block = Filled(0);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    std::vector<int> seen(100, 0);
    for (int j = 0; j < 128; ++j) {
        const uint32_t c = FramePixel(*block, 0, j);
        ASSERT_EQ(c & 0xFFF, static_cast<uint32_t>(100 * j / 128)) << j;
        ++seen[c & 0xFFF];
    }
    for (int x = 0; x < 100; ++x)
        EXPECT_GE(seen[x], 1) << x;
    EXPECT_EQ(FramePixel(*block, 127, 0) >> 12, 99u);
}

// Beyond 2^24 the single-precision scale shows: 16,777,219 / 128 rounds up
// to 131072.03125, so output column 127 lands on source column 16,646,147
// where the exact quotient would give 16,646,146.
TEST(FitToFrame, ScaleIsRoundedToSinglePrecisionOnce) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 16777219, 1, 24));
    SetPixel(lb, 16646146, 0, 0x111111);
    SetPixel(lb, 16646147, 0, 0x222222);
    lb.raster.cursor.address = RasterRow(lb, 0);
    auto block = Filled(0);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    EXPECT_EQ(FramePixel(*block, 0, 127), 0x222222u);
}

TEST(FitToFrame, FourBitEvenColumnsTakeTheHighNibbleAndOneBitTheTopBit) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 128, 128, 4));
    Bytes pal = Palette(16);
    std::memcpy(RasterPalette(lb), pal.data(), pal.size());
    std::memset(RasterRow(lb, 0), 0x3C, 64 * 128);
    lb.raster.cursor.address = RasterRow(lb, 0);
    auto block = Filled(0);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    // Entry i is blue i, green 2i, red 255 - i; the 0x77 reserved byte is dropped.
    EXPECT_EQ(FramePixel(*block, 9, 0), 0xFC0603u);
    EXPECT_EQ(FramePixel(*block, 9, 1), 0xF3180Cu);

    ASSERT_TRUE(SetUpRaster(lb, 16, 1, 1));
    RasterPalette(lb)[0] = 0x11; // entry 0: blue 0x11
    RasterPalette(lb)[4] = 0x22; // entry 1: blue 0x22
    RasterRow(lb, 0)[0] = 0x80;
    RasterRow(lb, 0)[1] = 0x01;
    lb.raster.cursor.address = RasterRow(lb, 0);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    EXPECT_EQ(FramePixel(*block, 0, 0), 0x22u) << "column 0 is the most significant bit";
    EXPECT_EQ(FramePixel(*block, 0, 8), 0x11u);
    EXPECT_EQ(FramePixel(*block, 0, 127), 0x22u) << "source column 15: the last bit of byte 1";
}

TEST(FitToFrame, PaletteLookupsOutsideThePaletteAreBlack) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 4, 1, 4));
    Bytes pal = Palette(16);
    std::memcpy(RasterPalette(lb), pal.data(), pal.size());
    EXPECT_EQ(PaletteColour(lb, 3), 0x77FC0603u) << "the whole entry, reserved byte included";
    EXPECT_EQ(PaletteColour(lb, 16), 0u);
    EXPECT_EQ(PaletteColour(lb, 255), 0u);
    EXPECT_EQ(PaletteColour(lb, 256 + 3), 0x77FC0603u) << "only the low 8 bits count";
    ASSERT_TRUE(SetUpRaster(lb, 4, 1, 24));
    EXPECT_EQ(PaletteColour(lb, 0), 0u) << "no palette at all";
    EXPECT_EQ(PaletteIndexAt(lb, 0, 0), 0u);
}

TEST(FitToFrame, NoRasterOrAStrayPixelBaseGivesBlack) {
    LoadBuffers& lb = TestBuffers(); // never set up: height 0
    auto block = Filled(0x5A);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    BitmapInfoHeader h;
    std::memcpy(&h, block->bytes, 40);
    EXPECT_EQ(h.biWidth, 128);
    for (int i = 0; i < kFramePixelBytes; ++i)
        ASSERT_EQ(block->Pixels()[i], 0);

    CoordinateRaster(300, 200);
    lb.raster.cursor.address =
        lb.decodeBuffer + kDecodeBufferSize - 100; // rows would run off the end
    block = Filled(0x5A);
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    EXPECT_EQ(FramePixel(*block, 64, 64), 0u);
    lb.raster.cursor.address = nullptr;
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *block));
    EXPECT_EQ(FramePixel(*block, 64, 64), 0u);
}

TEST(FitToFrame, ZeroTargetSizeFillsNothing) {
    LoadBuffers& lb = CoordinateRaster(10, 10);
    auto block = Filled(0x5A);
    EXPECT_FALSE(FitToFrame(lb, 0, 128, *block));
    EXPECT_FALSE(FitToFrame(lb, 128, 0, *block));
    for (uint8_t b : block->bytes)
        ASSERT_EQ(b, 0x5A);
}

} // namespace
