// The shared load buffers: byte readers, whole-file loading, raster set-up
// and the row cursor.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "codecs/decode_failure.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/test_support.h"

namespace {

LoadBuffers& WithInput(const Bytes& b) {
    LoadBuffers& lb = TestBuffers();
    EXPECT_TRUE(PutInput(lb, b));
    return lb;
}

Bytes Counting(int n) {
    Bytes b;
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<uint8_t>(i + 1));
    return b;
}

// A file of `size` bytes (mostly a hole, so large ones cost no disk time).
std::string FileOfSize(const std::string& dir, const char* name, long size, uint8_t last) {
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "";
    if (size > 1) std::fseek(f, size - 1, SEEK_SET);
    std::fputc(last, f);
    std::fclose(f);
    return path;
}

// --- Readers ------------------------------------------------------------

TEST(ByteReaders, ReadBytesAtTheEndCopiesNothingAndKeepsThePosition) {
    LoadBuffers& lb = WithInput(Counting(8));
    ASSERT_EQ(SeekInput(lb, 8, 0), 8);
    uint8_t d[4] = {9, 9, 9, 9};
    EXPECT_EQ(ReadBytes(lb, d, 4), 0);
    EXPECT_EQ(lb.readPosition, 8);
    EXPECT_EQ(d[0], 9);
}

TEST(ByteReaders, ShortReadCopiesWhatIsLeftAndLeavesTheRestOfTheDestination) {
    LoadBuffers& lb = WithInput(Counting(10));
    SeekInput(lb, 6, 0);
    uint8_t d[10];
    std::memset(d, 0xEE, sizeof d);
    EXPECT_EQ(ReadBytes(lb, d, 10), 4);
    EXPECT_EQ(lb.readPosition, lb.dataLength);
    EXPECT_EQ(d[0], 7);
    EXPECT_EQ(d[3], 10);
    EXPECT_EQ(d[4], 0xEE);
}

TEST(ByteReaders, NegativeCountNeitherCopiesNorMovesBackwards) {
    LoadBuffers& lb = WithInput(Counting(10));
    SeekInput(lb, 2, 0);
    uint8_t d[4] = {};
    EXPECT_EQ(ReadBytes(lb, d, -5), 0);
    EXPECT_EQ(lb.readPosition, 2);
    EXPECT_EQ(ReadByte(lb), 3);
}

TEST(ByteReaders, ReadByteAtTheEndReturnsZeroWithoutMoving) {
    LoadBuffers& lb = WithInput(Bytes{0xAB});
    EXPECT_EQ(ReadByte(lb), 0xAB);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadByte(lb), 0);
        EXPECT_EQ(lb.readPosition, 1);
    }
}

TEST(ByteReaders, SeekAcceptsTheDataLengthAndRefusesBeyondOrBelow) {
    LoadBuffers& lb = WithInput(Counting(10));
    EXPECT_EQ(SeekInput(lb, 4, 0), 4);
    EXPECT_EQ(SeekInput(lb, 3, 1), 7);
    EXPECT_EQ(SeekInput(lb, 11, 0), 0);
    EXPECT_EQ(lb.readPosition, 7);
    EXPECT_EQ(SeekInput(lb, 4, 1), 0);
    EXPECT_EQ(SeekInput(lb, -8, 1), 0);
    EXPECT_EQ(lb.readPosition, 7);
    EXPECT_EQ(SeekInput(lb, 10, 0), 10);
    EXPECT_EQ(SeekInput(lb, -3, 1), 7);
}

// --- Whole files ----------------------------------------------------------

TEST(LoadWholeFile, ReadsTheFileAndRewinds) {
    std::string path = FileOfSize(ScratchDir(), "small.bin", 5, 0x42);
    LoadBuffers& lb = WithInput(Counting(50));
    lb.readPosition = 30;
    ASSERT_TRUE(LoadWholeFile(lb, NativePath(path).c_str()));
    EXPECT_EQ(lb.dataLength, 5);
    EXPECT_EQ(lb.readPosition, 0);
    EXPECT_EQ(lb.fileBuffer[4], 0x42);
    EXPECT_EQ(lb.fileBuffer[5], 6) << "bytes past the new data keep older contents";
}

TEST(LoadWholeFile, MissingFileOrNoPathFailsAndChangesNothing) {
    LoadBuffers& lb = WithInput(Counting(20));
    lb.readPosition = 7;
    EXPECT_FALSE(LoadWholeFile(lb, NativePath(ScratchDir() + "/absent.bmp").c_str()));
    EXPECT_STREQ(LastDecodeFailure(), "cannot open the file");
    EXPECT_FALSE(LoadWholeFile(lb, nullptr));
    EXPECT_EQ(lb.dataLength, 20);
    EXPECT_EQ(lb.readPosition, 7);
    EXPECT_EQ(lb.fileBuffer[0], 1);
}

TEST(LoadWholeFile, LargestFileThatLeavesRoomForThePaddingIsAccepted) {
    const long largest = kFileBufferSize - kFilePadding; // 59,999,872
    std::string path = FileOfSize(ScratchDir(), "largest.bin", largest, 0x5A);
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(LoadWholeFile(lb, NativePath(path).c_str()));
    EXPECT_EQ(lb.dataLength, largest);
    EXPECT_EQ(lb.fileBuffer[largest - 1], 0x5A);
    std::remove(path.c_str());
}

TEST(LoadWholeFile, OneByteMoreIsRefusedAndChangesNothing) {
    std::string path =
        FileOfSize(ScratchDir(), "toolarge.bin", kFileBufferSize - kFilePadding + 1, 0x5A);
    LoadBuffers& lb = WithInput(Counting(30));
    lb.readPosition = 12;
    EXPECT_FALSE(LoadWholeFile(lb, NativePath(path).c_str()));
    EXPECT_STREQ(LastDecodeFailure(), "file too large");
    EXPECT_EQ(lb.dataLength, 30);
    EXPECT_EQ(lb.readPosition, 12);
    EXPECT_EQ(lb.fileBuffer[0], 1);
    EXPECT_EQ(lb.fileBuffer[29], 30);
    std::remove(path.c_str());
}

#ifdef __linux__
// --- Files mapped instead of read (LoadBuffers::mapFiles) --------------------

// The file's bytes, then the padding a decoder writes behind them, whether
// that lands in the file's last page or in the page after it.
TEST(MappedFile, GivesTheBytesAndWritableRoomForThePaddingAtEverySize) {
    OwnedLoadBuffers owned;
    LoadBuffers& lb = owned.buffers;
    lb.mapFiles = true;
    uint8_t* const block = lb.fileBuffer;
    for (long size : {1L, 4096L - kFilePadding, 4096L - kFilePadding + 1, 4095L, 4096L, 12289L}) {
        SCOPED_TRACE(size);
        const std::string path = ScratchDir() + "/mapped.bin";
        Bytes b = Counting(static_cast<int>(size));
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(f && std::fwrite(b.data(), 1, b.size(), f) == b.size());
        std::fclose(f);
        ASSERT_TRUE(LoadWholeFile(lb, NativePath(path).c_str()));
        EXPECT_NE(lb.fileBuffer, block);
        EXPECT_EQ(lb.dataLength, size);
        EXPECT_EQ(lb.readPosition, 0);
        EXPECT_EQ(std::memcmp(lb.fileBuffer, b.data(), b.size()), 0);
        std::memset(lb.fileBuffer + size, 0xD9, kFilePadding);
        EXPECT_EQ(lb.fileBuffer[size + kFilePadding - 1], 0xD9);
        std::remove(path.c_str());
        EXPECT_EQ(lb.fileBuffer[size - 1], b.back()) << "the mapping outlives the file's name";
    }
    // A failed load keeps the mapping; a load from memory puts the block back.
    const uint8_t* mapped = lb.fileBuffer;
    EXPECT_FALSE(LoadWholeFile(lb, NativePath(ScratchDir() + "/absent.bin").c_str()));
    EXPECT_EQ(lb.fileBuffer, mapped);
    ASSERT_TRUE(LoadMemory(lb, Counting(3).data(), 3));
    EXPECT_EQ(lb.fileBuffer, block);
    EXPECT_EQ(lb.mapped.base, nullptr);
}

TEST(MappedFile, SameSizeLimitAndReasonsAsReading) {
    OwnedLoadBuffers owned;
    LoadBuffers& lb = owned.buffers;
    lb.mapFiles = true;
    const long largest = kFileBufferSize - kFilePadding;
    std::string path = FileOfSize(ScratchDir(), "largest.bin", largest + 1, 0x5A);
    EXPECT_FALSE(LoadWholeFile(lb, NativePath(path).c_str()));
    EXPECT_STREQ(LastDecodeFailure(), "file too large");
    path = FileOfSize(ScratchDir(), "largest.bin", largest, 0x5A);
    ASSERT_TRUE(LoadWholeFile(lb, NativePath(path).c_str()));
    EXPECT_EQ(lb.fileBuffer[largest - 1], 0x5A);
    std::remove(path.c_str());
    EXPECT_FALSE(LoadWholeFile(lb, NativePath(ScratchDir() + "/absent.bin").c_str()));
    EXPECT_STREQ(LastDecodeFailure(), "cannot open the file");
    // An empty file has no pages to map: it is read, into the block.
    path = ScratchDir() + "/empty.bin";
    std::fclose(std::fopen(path.c_str(), "wb"));
    ASSERT_TRUE(LoadWholeFile(lb, NativePath(path).c_str()));
    EXPECT_EQ(lb.dataLength, 0);
    EXPECT_EQ(lb.mapped.base, nullptr);
}
#endif

TEST(LoadMemory, SameSizeLimitAsFiles) {
    LoadBuffers& lb = WithInput(Counting(3));
    static const uint8_t dummy = 0;
    EXPECT_FALSE(LoadMemory(lb, &dummy, kFileBufferSize - kFilePadding + 1));
    EXPECT_EQ(lb.dataLength, 3);
}

// --- Raster set-up --------------------------------------------------------

TEST(SetUpRaster, ZeroOrNegativeSizesFail) {
    LoadBuffers& lb = TestBuffers();
    EXPECT_EQ(SetUpRaster(lb, 0, 10, 24), nullptr);
    EXPECT_EQ(SetUpRaster(lb, 10, 0, 24), nullptr);
    EXPECT_EQ(SetUpRaster(lb, -10, 10, 8), nullptr);
    EXPECT_EQ(RasterHeight(lb), 0);
}

TEST(SetUpRaster, DepthIsNormalisedAndThePaletteZeroed) {
    struct Case {
        int bits, depth;
        uint32_t count;
    } cases[] = {{0, 1, 2},   {1, 1, 2},  {2, 4, 16},  {3, 4, 16},  {4, 4, 16},  {5, 8, 256},
                 {8, 8, 256}, {9, 24, 0}, {16, 24, 0}, {24, 24, 0}, {32, 24, 0}, {64, 24, 0}};
    for (const Case& c : cases) {
        LoadBuffers& lb = TestBuffers();
        std::memset(lb.decodeBuffer, 0xAA, 2000);
        ASSERT_EQ(SetUpRaster(lb, 7, 3, c.bits), lb.decodeBuffer) << c.bits;
        EXPECT_EQ(RasterBits(lb), c.depth) << c.bits;
        EXPECT_EQ(RasterPaletteCount(lb), c.count) << c.bits;
        EXPECT_EQ(RasterPalette(lb) != nullptr, c.count != 0) << c.bits;
        for (uint32_t i = 0; i < 4 * c.count; ++i)
            ASSERT_EQ(lb.decodeBuffer[40 + i], 0) << c.bits;
        EXPECT_EQ(lb.decodeBuffer[40 + 4 * c.count], 0xAA) << "pixels are not cleared";
    }
}

TEST(SetUpRaster, StridesArePaddedToFourBytes) {
    struct Case {
        int width, bits, stride;
    } cases[] = {{1, 24, 4}, {5, 1, 4},  {9, 4, 8},     {128, 24, 384},
                 {3, 8, 4},  {33, 1, 8}, {127, 24, 384}};
    for (const Case& c : cases) {
        LoadBuffers& lb = TestBuffers();
        ASSERT_TRUE(SetUpRaster(lb, c.width, 2, c.bits));
        EXPECT_EQ(lb.raster.stride, c.stride) << c.width << "x" << c.bits;
        EXPECT_EQ(lb.raster.header.biSizeImage, static_cast<uint32_t>(2 * c.stride));
    }
}

TEST(SetUpRaster, HeaderLandsAtTheStartOfTheDecodeBuffer) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 300, 200, 8));
    BitmapInfoHeader h;
    std::memcpy(&h, lb.decodeBuffer, sizeof h);
    EXPECT_EQ(std::memcmp(&h, &lb.raster.header, sizeof h), 0);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 300);
    EXPECT_EQ(h.biHeight, 200);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biClrUsed, 256u);
    EXPECT_EQ(h.biClrImportant, 0u);
    EXPECT_EQ(RasterRow(lb, 0), lb.decodeBuffer + 1064);
    EXPECT_EQ(lb.raster.pixelArea, lb.decodeBuffer + 1064);
    EXPECT_EQ(RasterRow(lb, 199), lb.decodeBuffer + 1064 + 199 * 300);
    EXPECT_EQ(RasterRow(lb, 200), nullptr);
    EXPECT_EQ(RasterRow(lb, -1), nullptr);
}

TEST(SetUpRaster, FiveThousandByFourThousandTrueColourIsTheLimit) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 5000, 4000, 24));
    EXPECT_EQ(lb.raster.header.biSizeImage, 60000000u);
    ASSERT_TRUE(SetUpRaster(lb, 10, 10, 8));
    const RasterDescriptor before = lb.raster;
    uint8_t headerBefore[40];
    std::memcpy(headerBefore, lb.decodeBuffer, 40);
    EXPECT_EQ(SetUpRaster(lb, 5001, 4000, 24), nullptr);
    EXPECT_EQ(SetUpRaster(lb, 5000, 4001, 32), nullptr);
    EXPECT_EQ(std::memcmp(&before.header, &lb.raster.header, 40), 0) << "a refusal changes nothing";
    EXPECT_EQ(lb.raster.stride, before.stride);
    EXPECT_EQ(std::memcmp(headerBefore, lb.decodeBuffer, 40), 0);
}

TEST(SetUpRaster, SizesWhoseProductOverflowsAreRefused) {
    LoadBuffers& lb = TestBuffers();
    EXPECT_EQ(SetUpRaster(lb, INT32_MAX, INT32_MAX, 24), nullptr);
    EXPECT_EQ(SetUpRaster(lb, INT32_MAX, 6, 8), nullptr);
    EXPECT_EQ(SetUpRaster(lb, 3000000, 2000000, 24), nullptr);
}

// Row padding comes on top of the pixel bytes; no raster that set-up accepts
// may reach past the DecodeBuffer with its header and palette.
TEST(SetUpRaster, EveryAcceptedRasterFitsWithHeaderPaletteAndPadding) {
    LoadBuffers& lb = TestBuffers();
    for (int bits : {1, 4, 8, 24}) {
        for (int32_t width : {1, 2, 3, 5, 7, 9, 31, 33, 127, 1001, 4999, 5000, 60000}) {
            // The tallest picture the pixel-byte test alone would let through.
            int64_t height = kMaxRasterPixelBytes * 8 / (static_cast<int64_t>(width) * bits);
            for (int64_t h : {height - 1, height, height + 1}) {
                if (h <= 0 || h > INT32_MAX) continue;
                if (!SetUpRaster(lb, width, static_cast<int32_t>(h), bits)) continue;
                size_t total = 40 + 4 * static_cast<size_t>(RasterPaletteCount(lb)) +
                               static_cast<size_t>(lb.raster.stride) * RasterHeight(lb);
                EXPECT_LE(total, kDecodeBufferSize) << width << "x" << h << "x" << bits;
            }
        }
    }
}

// --- Row cursor -----------------------------------------------------------

TEST(RowCursor, ToTopAndToRowAddressRasterRows) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 10, 5, 24));
    CursorToTop(lb);
    EXPECT_EQ(lb.raster.cursor.row, 4);
    EXPECT_EQ(lb.raster.cursor.column, 0);
    EXPECT_EQ(lb.raster.cursor.address, RasterRow(lb, 4));
    CursorToRow(lb, 2);
    EXPECT_EQ(lb.raster.cursor.address, RasterRow(lb, 2));
    CursorToRow(lb, 5);
    CursorToRow(lb, -1);
    EXPECT_EQ(lb.raster.cursor.row, 2) << "rows outside the raster leave the cursor";
    EXPECT_EQ(lb.raster.cursor.address, RasterRow(lb, 2));
}

TEST(RowCursor, StepDownOffTheBottomKeepsTheAddressAndLeavesTheRaster) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 10, 2, 8));
    CursorToTop(lb);
    EXPECT_EQ(CursorStepDown(lb), 1);
    EXPECT_EQ(lb.raster.cursor.address, RasterRow(lb, 0));
    EXPECT_TRUE(CursorInside(lb));
    EXPECT_EQ(CursorStepDown(lb), 0);
    EXPECT_EQ(lb.raster.cursor.row, -1);
    EXPECT_EQ(lb.raster.cursor.address, RasterRow(lb, 0));
    EXPECT_FALSE(CursorInside(lb));
}

TEST(RowCursor, WriteRowTakesTheStrideForOversizedOrNegativeCounts) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 5, 3, 8)); // stride 8
    std::memset(RasterRow(lb, 0), 0, 24);
    const Bytes row = Counting(16);
    CursorToRow(lb, 1);
    CursorWriteRow(lb, row.data(), 100);
    EXPECT_EQ(RasterRowBytes(lb, 1), Bytes(row.begin(), row.begin() + 8));
    EXPECT_EQ(RasterRowBytes(lb, 2), Bytes(8, 0)) << "nothing beyond one stride";
    CursorToRow(lb, 0);
    CursorWriteRow(lb, row.data() + 8, -1);
    EXPECT_EQ(RasterRowBytes(lb, 0), Bytes(row.begin() + 8, row.end()));
    CursorWriteRow(lb, nullptr, 4); // no bytes: nothing happens
    CursorToRow(lb, 2);
    CursorWriteRow(lb, row.data(), 3);
    EXPECT_EQ(RasterRowBytes(lb, 2), (Bytes{1, 2, 3, 0, 0, 0, 0, 0}));
}

TEST(RowCursor, WriteRowOffTheRasterOrFromAnOlderRasterWritesNothing) {
    LoadBuffers& lb = TestBuffers();
    ASSERT_TRUE(SetUpRaster(lb, 8, 2, 8));
    std::memset(RasterRow(lb, 0), 0, 16);
    CursorToRow(lb, 0);
    CursorStepDown(lb); // row -1, address still that of row 0
    const Bytes row(8, 0x55);
    CursorWriteRow(lb, row.data(), 8);
    EXPECT_EQ(RasterRowBytes(lb, 0), Bytes(8, 0));

    // A cursor left at row 1 of a wide 24-bit raster; the new, narrower
    // palette raster starts later in the buffer and ends before that address.
    ASSERT_TRUE(SetUpRaster(lb, 4000, 3, 24));
    CursorToRow(lb, 2);
    uint8_t* stale = lb.raster.cursor.address;
    ASSERT_TRUE(SetUpRaster(lb, 4, 3, 8));
    std::memset(stale, 0x11, 16);
    CursorWriteRow(lb, row.data(), 8);
    EXPECT_EQ(stale[0], 0x11) << "address outside the current pixel area";
}

TEST(LoaderFlags, StartLoweredAndAreSeenByTheDecoders) {
    LoadBuffers& lb = TestBuffers();
    EXPECT_EQ(lb.LoaderBusyFlag.load(), 0);
    EXPECT_FALSE(StopRequested(lb));
    lb.LoaderStopFlag = 1;
    EXPECT_TRUE(StopRequested(lb));
    lb.LoaderStopFlag = 0;
}

} // namespace
