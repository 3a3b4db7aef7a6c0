// Choosing the decoder by content and extension, and the stretch into the frame picture.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "fit/fit_options.h"
#include "fit/stretch.h"
#include "codecs/bmp_reader.h"
#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/gif_builder.h"
#include "tests/unit/png_builder.h"
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

TEST(ExtensionRule, TheReadersExtensionsInAnyCase) {
    const struct {
        const char* name;
        PictureKind kind;
    } cases[] = {
        {"photo.jpg", PictureKind::kJpeg},  {"x.Jpg", PictureKind::kJpeg},
        {"holiday.jpeg", PictureKind::kJpeg}, {"a.JPE", PictureKind::kJpeg},
        {"b.jFif", PictureKind::kJpeg},     {"scan.bmp", PictureKind::kBmp},
        {"anim.gIf", PictureKind::kGif},    {"GIF", PictureKind::kGif},
        {"shot.PNG", PictureKind::kPng},    {"PNG", PictureKind::kPng},
        {"a.b", PictureKind::kNone},        {"noextension", PictureKind::kNone},
        {"folder.bmp/readme", PictureKind::kNone}, {"x.j", PictureKind::kNone},
        {"x.jp", PictureKind::kNone},       {"x.pngx", PictureKind::kNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PictureKindOf(c.name), c.kind) << c.name;
    const char patterns[] = "*.bmp;*.gif;*.jpg;*.jpeg;*.jpe;*.jfif;*.png";
    const std::string filter = std::string("Image Files(") + patterns + ")" + '\0' + patterns + '\0' + '\0';
    EXPECT_EQ(std::string(PictureFileFilter(), filter.size()), filter);
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

// --- The content decides the reader ----------------------------------------------

bool SameBlocks(const FrameImage& a, const FrameImage& b) {
    return std::memcmp(a.bytes, b.bytes, kFrameHeaderBytes + kFramePixelBytes) == 0;
}

// A file loads by its signature whatever its name says, into the picture it
// gives under its own name; one without a signature goes by its name.
TEST(LoadPicture, TheFirstBytesPickTheReader) {
    const Bytes jpeg = ReadFile(NativePath(std::string(PIXMORA_SOURCE_DIR) + "/tests/data/jpeg/synth-420.jpg"));
    ASSERT_FALSE(jpeg.empty());
    Bytes late(100, 'x'); // the JPEG reader looks for its start in the first 513 bytes
    late.insert(late.end(), jpeg.begin(), jpeg.end());
    const Bytes gif = giftest::GifFile(3, 2, 4).Image(3, 2, {0, 1, 2, 3, 2, 1}).Trailer().bytes;
    pngtest::PngFields png;
    png.width = 3;
    png.samples = {200, 10, 20, 30, 40, 50, 60, 70, 80};
    BmpFields bmp;
    bmp.pixels = {9, 99, 199, 0};
    const struct {
        const char* own;
        const char* other;
        Bytes file;
    } cases[] = {
        {"a.jpg", "a.png", jpeg},      {"b.jpg", "b.bmp", jpeg}, {"c.png", "c.jpg", pngtest::Build(png)},
        {"d.gif", "d.bmp", gif},       {"e.bmp", "e.gif", BuildBmp(bmp)}, {"f.jpg", "f.jfif", late},
    };
    Set s;
    for (const auto& c : cases) {
        auto own = Filled(1), other = Filled(2);
        ASSERT_EQ(LoadForFrame(s.set, WriteScratchFile(c.own, c.file).c_str(), FitOptions{}, *own),
                  DecodeOutcome::kComplete) << c.own;
        ASSERT_EQ(LoadForFrame(s.set, WriteScratchFile(c.other, c.file).c_str(), FitOptions{}, *other),
                  DecodeOutcome::kComplete) << c.other;
        EXPECT_TRUE(SameBlocks(*own, *other)) << c.other;
    }
}

TEST(LoadPicture, AFileThatIsNoPictureSaysSoAndTouchesNothing) {
    Set s;
    auto block = Filled(0x5A);
    const Bytes text = {'B', 'y', 'e', '\n'};
    for (const char* name : {"notes.jpg", "notes.png", "notes.gif", "notes.bmp", "notes.txt", "PNG"}) {
        const std::string path = WriteScratchFile(name, text);
        EXPECT_EQ(LoadForFrame(s.set, path.c_str(), FitOptions{}, *block), DecodeOutcome::kUnknownType);
        EXPECT_EQ(CouldNotReadMessage(path.c_str(), LastDecodeFailure()),
                  std::string(name) + " is not a BMP, GIF, JPEG or PNG picture.");
    }
    const std::string folder = NativePath(ScratchDir()) + "/x.jpg";
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    EXPECT_EQ(LoadForFrame(s.set, folder.c_str(), FitOptions{}, *block), DecodeOutcome::kRefused);
    EXPECT_EQ(CouldNotReadMessage(folder.c_str(), LastDecodeFailure()), "x.jpg is a folder.");
#ifndef _WIN32
    const std::string pipe = ScratchDir() + "/p.png";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(LoadForFrame(s.set, pipe.c_str(), FitOptions{}, *block), DecodeOutcome::kRefused);
    EXPECT_STREQ(LastDecodeFailure(), "p.png is a device or pipe, not a file");
#endif
    for (uint8_t b : block->bytes)
        ASSERT_EQ(b, 0x5A);
}

TEST(LoadPicture, DecodesFitsAndPointsPixelBaseAtRowZero) {
    BmpFields layout;
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
    BmpFields layout;
    layout.width = 2;
    layout.height = 1;
    layout.pixels = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0, 0};
    const std::string good = WriteFile("good.bmp", BuildBmp(layout));
    Bytes cut = BuildBmp(layout);
    cut.resize(20);
    const std::string cutShort = WriteFile("cut.bmp", cut);
    layout.compression = 7; // refused after the raster was described
    const std::string late = WriteFile("late.bmp", BuildBmp(layout));
    Set s;
    auto block = Filled(0);
    ASSERT_EQ(LoadForFrame(s.set, good.c_str(), FitOptions{}, *block), DecodeOutcome::kComplete);
    auto kept = Filled(0x5A);
    EXPECT_EQ(LoadForFrame(s.set, cutShort.c_str(), FitOptions{}, *kept), DecodeOutcome::kRefused);
    EXPECT_EQ(CouldNotReadMessage(cutShort.c_str(), LastDecodeFailure()),
              "Could not read cut.bmp: bitmap header cut short.");
    for (const std::string& refused : {cutShort, good + ".missing.bmp"}) {
        EXPECT_EQ(LoadForFrame(s.set, refused.c_str(), FitOptions{}, *kept), DecodeOutcome::kRefused)
            << refused;
        for (uint8_t b : kept->bytes)
            ASSERT_EQ(b, 0x5A) << refused;
    }

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
