// The bitmap reader, on files built byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "codecs/bmp_reader.h"
#include "codecs/decode_failure.h"
#include "codecs/picture_decoders.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/test_support.h"

namespace {

int Decode(LoadBuffers& lb, const Bytes& file) {
    EXPECT_TRUE(PutInput(lb, file));
    ClearDecodeFailure();
    return DecodeBmpMemory(lb);
}

// Rows given top row first, as one reads a picture; stored bottom-up.
Bytes BottomUp(const std::vector<Bytes>& topFirst) {
    Bytes out;
    for (size_t i = topFirst.size(); i-- > 0;)
        Append(out, topFirst[i]);
    return out;
}

Bytes Pixel32(uint8_t b, uint8_t g, uint8_t r) {
    return Bytes{b, g, r, 0xA5};
}

// Fills the pixel area (and a bit more) of a big earlier picture with 0xEE,
// so that anything a later decode fails to clear shows.
void LeaveStalePicture(LoadBuffers& lb) {
    ASSERT_TRUE(SetUpRaster(lb, 2000, 1000, 24));
    std::memset(lb.decodeBuffer, 0xEE, 40 + 1024 + 6000000);
}

// --- Headers and file layout -----------------------------------------------

TEST(BmpHeaders, FileShorterThanTheFileHeaderFails) {
    LoadBuffers& lb = TestBuffers();
    EXPECT_EQ(Decode(lb, Bytes{'B', 'M', 0, 0}), 0);
    EXPECT_STREQ(LastDecodeFailure(), "file too short");
}

TEST(BmpHeaders, FewerThanFortyHeaderBytesFail) {
    BmpFields s;
    s.headerSize = 12; // core header, 1-bit: 12 + 6 palette + 4 pixel bytes < 40
    s.bits = 1;
    s.palette = Palette(2, 3);
    s.pixels = Bytes(4, 0);
    LoadBuffers& lb = TestBuffers();
    EXPECT_EQ(Decode(lb, BuildBmp(s)), 0);
    EXPECT_STREQ(LastDecodeFailure(), "bitmap header cut short");
}

TEST(BmpHeaders, BareBitmapWithoutSignatureDecodes) {
    BmpFields s;
    s.fileHeader = false;
    s.width = 2;
    s.height = 2;
    s.bits = 8;
    s.palette = Palette(256);
    s.pixels = BottomUp({{7, 8, 0, 0}, {9, 10, 0, 0}});
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{7, 8, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{9, 10, 0, 0}));
}

TEST(BmpHeaders, CoreHeaderPaletteIsWidenedToFourByteEntries) {
    BmpFields s;
    s.headerSize = 12;
    s.width = 3;
    s.height = 1;
    s.bits = 8;
    s.palette = Palette(256, 3);
    s.pixels = Bytes{255, 1, 128, 0};
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    ASSERT_EQ(RasterPaletteCount(lb), 256u);
    const uint8_t* pal = RasterPalette(lb);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(pal[4 * i], i);
        ASSERT_EQ(pal[4 * i + 1], static_cast<uint8_t>(2 * i));
        ASSERT_EQ(pal[4 * i + 2], 255 - i);
        ASSERT_EQ(pal[4 * i + 3], 0);
    }
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{255, 1, 128, 0}));
}

TEST(BmpHeaders, CorePaletteHasTwoToTheBitsEntriesAndTheRestStayZero) {
    BmpFields s;
    s.headerSize = 12;
    s.bits = 2;
    s.height = 4; // a header that is read as 40 bytes needs a file this long
    s.palette = Palette(4, 3);
    s.pixels = Bytes(16, 0xA5); // the bytes an entry past the fourth would take
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1) << LastDecodeFailure();
    ASSERT_EQ(RasterPaletteCount(lb), 16u);
    const uint8_t* pal = RasterPalette(lb);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(pal[4 * i], i);
    for (int i = 16; i < 64; ++i)
        EXPECT_EQ(pal[i], 0) << "entry " << i / 4;
}

TEST(BmpHeaders, SixtyFourByteHeaderIsFollowedByItsPalette) {
    BmpFields s;
    s.headerSize = 64;
    s.offBits = 0; // everything read in sequence: the 24 extra bytes must be skipped
    s.width = 4;
    s.height = 1;
    s.bits = 8;
    s.clrUsed = 252; // not looked at for this header
    s.sizeImage = 0;
    s.palette = Palette(256);
    s.pixels = Bytes{3, 2, 1, 0};
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    EXPECT_EQ(RasterPalette(lb)[4 * 3 + 2], 252);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{3, 2, 1, 0}));
}

TEST(BmpHeaders, LongHeadersAreTakenOnlyInTheirPlainestForm) {
    struct Case {
        const char* what;
        uint32_t size, compression, clrUsed, sizeImage;
        int32_t height;
        uint16_t planes;
        int expected;
    } cases[] = {
        {"108, plain", 108, 0, 0, kAuto, 2, 1, 1},
        {"124, plain", 124, 0, 0, kAuto, 2, 1, 1},
        {"52, plain", 52, 0, 0, kAuto, 2, 1, 1},
        {"124, bit fields", 124, 3, 0, kAuto, 2, 1, 0},
        {"108, colours used", 108, 0, 2, kAuto, 2, 1, 0},
        {"124, image size 0", 124, 0, 0, 0, 2, 1, 0},
        {"124, top-down", 124, 0, 0, 16, -2, 1, 0},
        {"108, two planes", 108, 0, 0, kAuto, 2, 2, 0},
    };
    for (const Case& c : cases) {
        BmpFields s;
        s.headerSize = c.size;
        s.width = 2;
        s.height = c.height;
        s.compression = c.compression;
        s.clrUsed = c.clrUsed;
        s.sizeImage = c.sizeImage;
        s.planes = c.planes;
        s.pixels = Bytes(16, 0x40);
        LoadBuffers& lb = TestBuffers();
        EXPECT_EQ(Decode(lb, BuildBmp(s)), c.expected) << c.what;
        if (!c.expected) {
            EXPECT_STREQ(LastDecodeFailure(), "unsupported bitmap header") << c.what;
        }
    }
}

TEST(BmpHeaders, OtherHeaderSizesAreRejected) {
    for (uint32_t size : {0u, 16u, 39u, 41u}) {
        BmpFields s;
        s.headerSize = size < 40 ? 40 : size;
        s.pixels = Bytes(4, 0);
        Bytes file = BuildBmp(s);
        file[14] = static_cast<uint8_t>(size); // biSize alone changed
        if (size == 41) { // a plain-looking 41-byte header still passes the size test
            LoadBuffers& lb = TestBuffers();
            EXPECT_EQ(Decode(lb, file), 1);
            continue;
        }
        LoadBuffers& lb = TestBuffers();
        EXPECT_EQ(Decode(lb, file), 0) << size;
    }
}

TEST(BmpHeaders, PixelOffsetZeroMeansRightAfterThePalette) {
    BmpFields s;
    s.offBits = 0;
    s.width = 8;
    s.height = 1;
    s.bits = 1;
    s.palette = Palette(2);
    s.pixels = Bytes{0xA5, 0, 0, 0};
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0xA5, 0, 0, 0}));
}

TEST(BmpHeaders, ShortColourCountStillReadsAWholePalette) {
    // 16 real entries, pixels right after them: entries 16..255 come from the
    // pixel bytes and whatever follows, yet the pixels are read at bfOffBits.
    BmpFields s;
    s.width = 4;
    s.height = 1;
    s.bits = 8;
    s.clrUsed = 16;
    s.palette = Palette(16);
    s.pixels = Bytes{1, 2, 3, 4};
    Bytes file = BuildBmp(s);
    Append(file, Bytes(40, 0x99));
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, file), 1);
    const uint8_t* pal = RasterPalette(lb);
    EXPECT_EQ(pal[4 * 15 + 2], 240);
    EXPECT_EQ((Bytes{pal[64], pal[65], pal[66], pal[67]}), (Bytes{1, 2, 3, 0}));
    EXPECT_EQ(pal[4 * 17], 0x99);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{1, 2, 3, 4}));
}

TEST(BmpHeaders, ReservedPaletteBytesAreCleared) {
    BmpFields s;
    s.bits = 4;
    s.width = 2;
    s.palette = Palette(16);
    s.pixels = Bytes{0x12, 0, 0, 0};
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(RasterPalette(lb)[4 * i + 3], 0);
}

TEST(BmpHeaders, RefusedSizeLeavesThePreviousPictureIntact) {
    LoadBuffers& lb = TestBuffers();
    BmpFields small;
    small.width = 1;
    small.pixels = Bytes{1, 2, 3, 0};
    ASSERT_EQ(Decode(lb, BuildBmp(small)), 1);
    BmpFields big;
    big.width = 5001;
    big.height = 4000;
    ASSERT_EQ(Decode(lb, BuildBmp(big)), 0);
    EXPECT_STREQ(LastDecodeFailure(), "picture too large");
    EXPECT_EQ(RasterWidth(lb), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{1, 2, 3, 0}));
    BitmapInfoHeader h;
    std::memcpy(&h, lb.decodeBuffer, 40);
    EXPECT_EQ(h.biWidth, 1) << "the buffer's own header is untouched too";
}

TEST(BmpHeaders, NegativeWidthOrZeroHeightHasNoPixels) {
    for (int32_t w : {-127, 0}) {
        BmpFields s;
        s.width = w;
        s.pixels = Bytes(8, 0);
        LoadBuffers& lb = TestBuffers();
        EXPECT_EQ(Decode(lb, BuildBmp(s)), 0);
        EXPECT_STREQ(LastDecodeFailure(), "picture has no pixels");
    }
}

TEST(BmpHeaders, FileOnDiskDecodesAndMissingFileFails) {
    BmpFields s;
    s.width = 2;
    s.pixels = Bytes{1, 2, 3, 4, 5, 6, 0, 0};
    Bytes file = BuildBmp(s);
    std::string path = ScratchDir() + "/two.bmp";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(DecodeBmpFile(lb, NativePath(path).c_str()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{1, 2, 3, 4, 5, 6, 0, 0}));
    EXPECT_EQ(DecodeBmpFile(lb, NativePath(path + ".absent").c_str()), 0);
    EXPECT_STREQ(LastDecodeFailure(), "cannot open the file");
}

// --- Depths and conversions ------------------------------------------------

TEST(BmpDepths, PaletteRowsAreTakenAsStored) {
    struct Case {
        uint16_t bits;
        int32_t width;
        Bytes top, bottom;
    } cases[] = {
        {1, 10, {0x80, 0x40, 0, 0}, {0xFF, 0xC0, 0, 0}},
        {4, 5, {0x01, 0x23, 0x40, 0}, {0xFE, 0xDC, 0xB0, 0}},
        {8, 3, {1, 2, 3, 0}, {4, 5, 6, 0}},
    };
    for (const Case& c : cases) {
        BmpFields s;
        s.bits = c.bits;
        s.width = c.width;
        s.height = 2;
        s.palette = Palette(1 << c.bits);
        s.pixels = BottomUp({c.top, c.bottom});
        LoadBuffers& lb = TestBuffers();
        ASSERT_EQ(Decode(lb, BuildBmp(s)), 1) << c.bits;
        EXPECT_EQ(RasterBits(lb), c.bits);
        EXPECT_EQ(RasterRowBytes(lb, 1), c.top) << c.bits;
        EXPECT_EQ(RasterRowBytes(lb, 0), c.bottom) << c.bits;
    }
}

TEST(BmpDepths, TopDownPictureEndsUpLikeTheBottomUpOne) {
    std::vector<Bytes> rows = {
        {1, 2, 3, 4, 5, 6, 0, 0}, {7, 8, 9, 10, 11, 12, 0, 0}, {13, 14, 15, 16, 17, 18, 0, 0}};
    BmpFields up;
    up.width = 2;
    up.height = 3;
    up.pixels = BottomUp(rows);
    BmpFields down = up;
    down.height = -3;
    down.pixels.clear();
    for (const Bytes& r : rows)
        Append(down.pixels, r);
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, BuildBmp(up)), 1);
    Bytes expected(RasterRow(lb, 0), RasterRow(lb, 0) + 24);
    ASSERT_EQ(Decode(lb, BuildBmp(down)), 1);
    EXPECT_EQ(RasterHeight(lb), 3);
    EXPECT_EQ(Bytes(RasterRow(lb, 0), RasterRow(lb, 0) + 24), expected);
}

TEST(BmpDepths, SixteenBitFiveSixFiveAndFiveFiveFive) {
    // Odd width: 8-byte file rows widen into 12-byte raster rows in place.
    BmpFields s;
    s.width = 3;
    s.height = 2;
    s.bits = 16;
    s.compression = 3;
    Put32(s.masks, 0xF800);
    Put32(s.masks, 0x07E0);
    Put32(s.masks, 0x001F);
    auto rows16 = [](std::vector<uint16_t> top, std::vector<uint16_t> bottom) {
        Bytes out;
        for (auto* row : {&bottom, &top}) {
            for (uint16_t p : *row)
                Put16(out, p);
            Put16(out, 0);
        }
        return out;
    };
    s.pixels = rows16({0xFFFF, 0xF800, 0x07E0}, {0x001F, 0x1234, 0x0000});
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    EXPECT_EQ(RasterBits(lb), 24);
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{0xF8, 0xFC, 0xF8, 0, 0, 0xF8, 0, 0xFC, 0, 0, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0xF8, 0, 0, 0xA0, 0x44, 0x10, 0, 0, 0, 0, 0, 0}));

    // Without bit fields the masks are 5-5-5, and any masks in the file are ignored.
    s.compression = 0;
    s.pixels = rows16({0x7FFF, 0x1234, 0}, {0, 0, 0});
    s.offBits = 14 + 40 + 12;
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{0xF8, 0xF8, 0xF8, 0xA0, 0x88, 0x20, 0, 0, 0, 0, 0, 0}));
}

TEST(BmpDepths, SixteenBitMasksNarrowerThanTheirChannelShiftLeft) {
    // Masks red 0x30, green 0x0E, blue 0x01 (2, 3 and 1 bits): the right
    // shifts of 2 + 3 - 8 and 2 + 3 + 1 - 8 are negative and move left.
    BmpFields s;
    s.width = 1;
    s.bits = 16;
    s.compression = 3;
    Put32(s.masks, 0x30);
    Put32(s.masks, 0x0E);
    Put32(s.masks, 0x01);
    s.pixels = Bytes{0x3F, 0, 0, 0};
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0x80, 0x70, 0xC0, 0}));
}

TEST(BmpDepths, ThirtyTwoBitDropsTheFourthByteAndIgnoresMasks) {
    for (uint32_t compression : {0u, 3u}) {
        BmpFields s;
        s.width = 2;
        s.height = 2;
        s.bits = 32;
        s.compression = compression;
        if (compression == 3) {
            Put32(s.masks, 0xFF); // nonsense masks, never used
            Put32(s.masks, 0xFF00);
            Put32(s.masks, 0xFF0000);
        }
        for (int i = 0; i < 4; ++i)
            Append(s.pixels, Pixel32(i, 10 + i, 20 + i));
        LoadBuffers& lb = TestBuffers();
        ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
        EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0, 10, 20, 1, 11, 21, 0, 0}));
        EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{2, 12, 22, 3, 13, 23, 0, 0}));
    }
}

TEST(BmpDepths, ThirtyTwoBitDataEndingEarlyReadsNothingBeyondIt) {
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    std::memset(lb.fileBuffer, 0xCC, 4096); // what lies beyond the data
    BmpFields s;
    s.width = 3;
    s.height = 2;
    s.bits = 32;
    for (int i = 0; i < 4; ++i)
        Append(s.pixels, Pixel32(1, 2, 3));
    Bytes file = BuildBmp(s);
    file.resize(file.size() - 1); // the fourth pixel loses its last byte
    ASSERT_EQ(Decode(lb, file), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{1, 2, 3, 1, 2, 3, 1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 1), Bytes(12, 0));
    EXPECT_EQ(lb.readPosition, lb.dataLength);
}

TEST(BmpDepths, DepthsWithoutAPixelPathGiveAClearedPicture) {
    for (uint16_t bits : {2, 64, 30000}) {
        LoadBuffers& lb = TestBuffers();
        LeaveStalePicture(lb);
        BmpFields s;
        s.width = 5;
        s.height = 3;
        s.bits = bits;
        s.palette = bits == 2 ? Palette(4) : Bytes{};
        s.pixels = Bytes(64, 0xFF);
        ASSERT_EQ(Decode(lb, BuildBmp(s)), 1) << bits;
        EXPECT_EQ(RasterBits(lb), bits == 2 ? 4 : 24);
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(RasterRowBytes(lb, r), Bytes(lb.raster.stride, 0));
        if (bits == 2) {
            // 16 entries read: the 4 real ones, then pixel bytes.
            EXPECT_EQ(RasterPalette(lb)[4 * 3 + 2], 252);
            EXPECT_EQ(RasterPalette(lb)[4 * 4], 0xFF);
        }
    }
}

TEST(BmpDepths, CompressionsThatDoNotFitTheDepthFailWithAClearedRaster) {
    struct Case {
        uint16_t bits;
        uint32_t compression;
    } cases[] = {{24, 1}, {24, 3}, {8, 3}, {4, 4}, {1, 3}, {32, 6}, {32, 1}};
    for (const Case& c : cases) {
        LoadBuffers& lb = TestBuffers();
        LeaveStalePicture(lb);
        BmpFields s;
        s.width = 4;
        s.height = 2;
        s.bits = c.bits;
        s.compression = c.compression;
        s.palette = c.bits <= 8 ? Palette(1 << c.bits) : Bytes{};
        s.pixels = Bytes(64, 0x33);
        EXPECT_EQ(Decode(lb, BuildBmp(s)), 0) << c.bits << "/" << c.compression;
        EXPECT_STREQ(LastDecodeFailure(), "unsupported compression");
        EXPECT_EQ(RasterWidth(lb), 4) << "the new raster is described";
        EXPECT_EQ(RasterRowBytes(lb, 0), Bytes(lb.raster.stride, 0));
        EXPECT_EQ(RasterRowBytes(lb, 1), Bytes(lb.raster.stride, 0));
    }
}

TEST(BmpDepths, RowsTheFileDoesNotReachAreZeroAfterABiggerPicture) {
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    BmpFields s;
    s.width = 2;
    s.height = 3;
    s.pixels = Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}; // one row and a bit
    ASSERT_EQ(Decode(lb, BuildBmp(s)), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{9, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 2), Bytes(8, 0));
}

// --- Run-length encoding ----------------------------------------------------

struct Rle {
    Rle(int32_t w, int32_t h) : width(w), height(h) {}
    int32_t width, height;
    uint16_t bits = 8;
    uint32_t compression = 1;
    Bytes stream;
    Bytes File() const {
        BmpFields s;
        s.width = width;
        s.height = height;
        s.bits = bits;
        s.compression = compression;
        s.palette = Palette(1 << bits);
        s.pixels = stream;
        return BuildBmp(s);
    }
};

// The pixel area followed by 64 guard bytes, which no record may touch.
struct Guarded {
    LoadBuffers& lb;
    explicit Guarded(LoadBuffers& l) : lb(l) {}
    uint8_t* End() {
        return RasterRow(lb, 0) + static_cast<size_t>(lb.raster.stride) * RasterHeight(lb);
    }
};

TEST(BmpRle8, RunsLinesAndEndOfBitmap) {
    Rle r{6, 3};
    r.stream = Bytes{3, 7, 2, 9, 0, 0,       // row 0: 7 7 7 9 9
                     0, 4, 1, 2, 3, 4, 0, 0, // row 1: absolute 1 2 3 4
                     0, 3, 5, 6, 7, 0, 1, 8, // row 2: absolute 5 6 7 (+pad), run 8
                     0, 1,                   // end of bitmap
                     4, 4};                  // never read
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{7, 7, 7, 9, 9, 0, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{1, 2, 3, 4, 0, 0, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 2), (Bytes{5, 6, 7, 8, 0, 0, 0, 0}));
    EXPECT_EQ(lb.readPosition, lb.dataLength - 2);
}

TEST(BmpRle8, StreamWithoutEndOfBitmapEndsAtTheEndOfTheData) {
    Rle r{4, 2};
    r.stream = Bytes{2, 5, 0, 0, 1, 6, 0}; // the last record is cut in half
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{5, 5, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{6, 0, 0, 0}));
}

TEST(BmpRle8, RunPassingTheStrideEndsTheDecoding) {
    Rle r{3, 2}; // stride 4
    r.stream = Bytes{6, 9, 0, 0, 2, 1};
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{9, 9, 9, 9}));
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(lb.readPosition, lb.dataLength - 4);
}

TEST(BmpRle8, DeltaSkipsPixelsWhichStayIndexZero) {
    Rle r{5, 3};
    r.stream = Bytes{1, 1, 0, 2, 2, 1, 1, 2, 0, 2, 1, 1, 1, 3, 0, 1};
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{0, 0, 0, 2, 0, 0, 0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 2), (Bytes{0, 0, 0, 0, 0, 3, 0, 0}))
        << "x past the width but inside the stride is still written";
}

TEST(BmpRle8, DeltaOrEndOfLinePastTheLastRowEndsTheDecoding) {
    const Bytes tails[] = {{0, 2, 0, 2}, {0, 0}};
    for (const Bytes& tail : tails) {
        Rle r{4, 2};
        r.stream = Bytes{0, 0}; // to the top row
        Append(r.stream, tail);
        const size_t stop = 14 + 40 + 1024 + r.stream.size();
        Append(r.stream, Bytes{0, 4, 1, 2, 3, 4, 2, 7});
        LoadBuffers& lb = TestBuffers();
        ASSERT_EQ(Decode(lb, r.File()), 1);
        EXPECT_EQ(lb.readPosition, static_cast<int32_t>(stop));
        EXPECT_EQ(RasterRowBytes(lb, 1), Bytes(4, 0));
    }
}

TEST(BmpRle8, AbsoluteRunsRunOnIntoTheNextRowButNeverPastThePixelArea) {
    Rle r{4, 2}; // stride 4, area 8 bytes
    r.stream = Bytes{0, 2, 2, 0, 0, 7, 1, 2, 3, 4, 5, 6, 7, 0};
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    Guarded g(lb);
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{3, 4, 5, 6}));
    EXPECT_EQ(g.End()[0], 0xEE) << "byte 7 of the run lies outside the picture";
    EXPECT_EQ(lb.readPosition, lb.dataLength) << "odd run: its pad byte was skipped";
}

TEST(BmpRle8, LongStreamOfDeltasAlongTheRowStaysInside) {
    Rle r{4, 1};
    for (int i = 0; i < 20000; ++i)
        Append(r.stream, Bytes{0, 2, 255, 0});
    Append(r.stream, Bytes{0, 3, 1, 2, 3, 0, 5, 5});
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    Guarded g(lb);
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), Bytes(4, 0));
    EXPECT_EQ(g.End()[0], 0xEE);
}

TEST(BmpRle8, EightBitRunsInAFourBitFileAreStillBytes) {
    Rle r{4, 1};
    r.bits = 4;
    r.stream = Bytes{2, 0x35, 0, 1};
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterBits(lb), 4);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0x35, 0x35, 0, 0}));
}

TEST(BmpRle8, RaisedStopFlagEndsAtOnceWithSuccess) {
    Rle r{4, 1};
    r.stream = Bytes{4, 9, 0, 1};
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(PutInput(lb, r.File()));
    lb.LoaderStopFlag = 1;
    EXPECT_EQ(DecodeBmpMemory(lb), 1);
    lb.LoaderStopFlag = 0;
    EXPECT_EQ(RasterRowBytes(lb, 0), Bytes(4, 0));
}

TEST(BmpRle8, TopDownStreamIsReversedAfterDecoding) {
    Rle r{4, -2};
    r.stream = Bytes{4, 1, 0, 0, 4, 2, 0, 1};
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), Bytes(4, 2));
    EXPECT_EQ(RasterRowBytes(lb, 1), Bytes(4, 1));
}

// The clearing reaches the pixel area of the new picture, wherever it lies:
// a tiny picture's pixels start 1,064 bytes into the buffer, beyond its
// width * height * 4 first bytes.
TEST(BmpRle8, SkippedPixelsOfATinyPictureAfterABigOneAreBlack) {
    LoadBuffers& lb = TestBuffers();
    BmpFields big;
    big.width = 500;
    big.height = 400;
    big.bits = 8;
    big.palette = Palette(256);
    big.pixels = Bytes(500 * 400, 0xFF);
    ASSERT_EQ(Decode(lb, BuildBmp(big)), 1);
    Rle tiny{1, 1};
    tiny.stream = Bytes{0, 1};
    ASSERT_EQ(Decode(lb, tiny.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), Bytes(4, 0));
    Rle rle4{16, 16};
    rle4.bits = 4;
    rle4.compression = 2;
    rle4.stream = Bytes{0, 2, 2, 15, 2, 0x12, 0, 1};
    ASSERT_EQ(Decode(lb, rle4.File()), 1);
    for (int y = 0; y < 15; ++y)
        EXPECT_EQ(RasterRowBytes(lb, y), Bytes(8, 0)) << y;
    EXPECT_EQ(RasterRowBytes(lb, 15), (Bytes{0, 0x12, 0, 0, 0, 0, 0, 0}));
}

TEST(BmpRle4, RunsAlternateNibblesAndKeepTheOtherHalfOfAByte) {
    Rle r{8, 2};
    r.bits = 4;
    r.compression = 2;
    r.stream = Bytes{5, 0xAB, 0,    0,           // row 0: A B A B A
                     0, 2,    1,    0,           // delta to x 1
                     0, 3,    0xCD, 0xE0, 0, 1}; // absolute C D E, no pad
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0xAB, 0xAB, 0xA0, 0}));
    EXPECT_EQ(RasterRowBytes(lb, 1), (Bytes{0x0C, 0xDE, 0, 0}));
}

TEST(BmpRle4, AbsoluteRunPadsToAWholeWord) {
    Rle r{8, 1};
    r.bits = 4;
    r.compression = 2;
    r.stream = Bytes{0, 3, 0x12, 0x30, 2, 0x44, 0, 1}; // 3 nibbles in 2 bytes: no pad
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0x12, 0x34, 0x40, 0}));
    r.stream = Bytes{0, 5, 0x12, 0x34, 0x50, 0xEE, 1, 0x66, 0, 1}; // 3 bytes + pad
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), (Bytes{0x12, 0x34, 0x56, 0}));
}

TEST(BmpRle4, RunPastTheRowEndRunsOnButNotOutOfThePicture) {
    Rle r{2, 2}; // stride 4 bytes = 8 nibbles per row
    r.bits = 4;
    r.compression = 2;
    r.stream = Bytes{20, 0x9A, 0, 1};
    LoadBuffers& lb = TestBuffers();
    LeaveStalePicture(lb);
    Guarded g(lb);
    ASSERT_EQ(Decode(lb, r.File()), 1);
    EXPECT_EQ(RasterRowBytes(lb, 0), Bytes(4, 0x9A));
    EXPECT_EQ(RasterRowBytes(lb, 1), Bytes(4, 0x9A));
    EXPECT_EQ(g.End()[0], 0xEE);
}

} // namespace
