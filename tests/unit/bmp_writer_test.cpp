// Writing the frame picture and the decoded raster as bitmap files.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "fit/stretch.h"
#include "codecs/bmp_reader.h"
#include "codecs/load_picture.h"
#include "export/bmp_writer.h"
#include "tests/unit/bmp_builder.h"
#include "tests/unit/test_support.h"

namespace {

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

uint32_t At32(const Bytes& b, size_t i) {
    return b[i] | b[i + 1] << 8 | b[i + 2] << 16 | static_cast<uint32_t>(b[i + 3]) << 24;
}
uint16_t At16(const Bytes& b, size_t i) {
    return static_cast<uint16_t>(b[i] | b[i + 1] << 8);
}

std::unique_ptr<FrameImage> PatternedFrame() {
    std::unique_ptr<FrameImage> f(new FrameImage);
    std::memset(f->bytes, 0xEE, sizeof f->bytes);
    InitFrameHeader(128, 128, f->bytes);
    for (int i = 0; i < kFramePixelBytes; ++i)
        f->Pixels()[i] = static_cast<uint8_t>(i * 7 + i / 384);
    return f;
}

TEST(WriteBmpFile, FramePictureGivesTheFixedLayout) {
    auto frame = PatternedFrame();
    const std::string path = NativePath(ScratchDir() + "/frame.bmp");
    ASSERT_EQ(WriteBmpFile(path.c_str(), *frame), 1);
    const Bytes b = ReadAll(path);
    ASSERT_EQ(b.size(), 49206u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(At32(b, 2), 49206u);
    EXPECT_EQ(At32(b, 6), 0u) << "both reserved words";
    EXPECT_EQ(At32(b, 10), 54u);
    EXPECT_EQ(At32(b, 14), 40u);
    EXPECT_EQ(At32(b, 18), 128u);
    EXPECT_EQ(At32(b, 22), 128u);
    EXPECT_EQ(At16(b, 26), 1);
    EXPECT_EQ(At16(b, 28), 24);
    EXPECT_EQ(At32(b, 30), 0u);
    EXPECT_EQ(At32(b, 34), 49152u);
    for (size_t i : {38, 42, 46, 50})
        EXPECT_EQ(At32(b, i), 0u) << i;
    EXPECT_EQ(std::memcmp(b.data() + 54, frame->Pixels(), kFramePixelBytes), 0);
}

TEST(WriteBmpFile, ReadingTheFileBackReproducesThePicture) {
    auto frame = PatternedFrame();
    const std::string path = NativePath(ScratchDir() + "/again.bmp");
    ASSERT_EQ(WriteBmpFile(path.c_str(), *frame), 1);
    LoadBuffers& lb = TestBuffers();
    ASSERT_EQ(DecodeBmpFile(lb, path.c_str()), 1);
    lb.raster.cursor.address = RasterRow(lb, 0);
    std::unique_ptr<FrameImage> back(new FrameImage{});
    ASSERT_TRUE(FitToFrame(lb, 128, 128, *back));
    EXPECT_EQ(std::memcmp(back->bytes, frame->bytes, kFrameHeaderBytes + kFramePixelBytes), 0);
}

TEST(WriteBmpFile, SizeComesFromThePicturesOwnHeader) {
    auto frame = PatternedFrame();
    InitFrameHeader(10, 3, frame->bytes); // stride 32
    const std::string path = NativePath(ScratchDir() + "/small.bmp");
    ASSERT_EQ(WriteBmpFile(path.c_str(), *frame), 1);
    const Bytes b = ReadAll(path);
    ASSERT_EQ(b.size(), 54u + 96u);
    EXPECT_EQ(At32(b, 34), 96u);
    EXPECT_EQ(std::memcmp(b.data() + 54, frame->Pixels(), 96), 0);
}

TEST(WriteBmpFile, HeaderClaimingMoreThanTheBlockHoldsWritesNothing) {
    auto frame = PatternedFrame();
    InitFrameHeader(200, 200, frame->bytes);
    const std::string path = NativePath(ScratchDir() + "/big.bmp");
    EXPECT_EQ(WriteBmpFile(path.c_str(), *frame), 0);
    EXPECT_FALSE(Exists(path));
}

TEST(WriteBmpFile, UnopenablePathFails) {
    auto frame = PatternedFrame();
    const std::string path = NativePath(ScratchDir() + "/no/such/folder/x.bmp");
    EXPECT_EQ(WriteBmpFile(path.c_str(), *frame), 0);
    EXPECT_EQ(WriteBmpFile(nullptr, *frame), 0);
}

#ifndef _WIN32
// /dev/full accepts the open and fails the write: the failure must be
// reported, and the clean-up must not remove what is not a regular file.
TEST(WriteBmpFile, FailedWriteIsReportedAndLeavesDevicesAlone) {
    if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    auto frame = PatternedFrame();
    EXPECT_EQ(WriteBmpFile("/dev/full", *frame), 0);
    EXPECT_TRUE(Exists("/dev/full"));
}
#endif

TEST(WriteRasterBmp, PaletteRasterRoundTripsThroughTheReader) {
    LoadBuffers& lb = TestBuffers();
    BmpFields s;
    s.width = 5;
    s.height = 3;
    s.bits = 4;
    s.palette = Palette(16);
    for (int i = 0; i < 12; ++i)
        s.pixels.push_back(static_cast<uint8_t>(i * 37)); // stride 4
    Bytes file = BuildBmp(s);
    ASSERT_TRUE(PutInput(lb, file));
    ASSERT_EQ(DecodeBmpMemory(lb), 1);
    const Bytes raster(lb.decodeBuffer, lb.decodeBuffer + 40 + 64 + 12);

    const std::string path = NativePath(ScratchDir() + "/raster.bmp");
    ASSERT_EQ(WriteRasterBmp(path.c_str(), lb), 1);
    const Bytes b = ReadAll(path);
    ASSERT_EQ(b.size(), 14u + 40 + 64 + 12);
    EXPECT_EQ(At32(b, 2), b.size());
    EXPECT_EQ(At32(b, 10), 14u + 40 + 64);
    EXPECT_EQ(Bytes(b.begin() + 14, b.end()), raster);

    TestBuffers();
    ASSERT_EQ(DecodeBmpFile(lb, path.c_str()), 1);
    EXPECT_EQ(Bytes(lb.decodeBuffer, lb.decodeBuffer + raster.size()), raster);
}

TEST(WriteRasterBmp, NoRasterNoFile) {
    LoadBuffers& lb = TestBuffers();
    const std::string path = NativePath(ScratchDir() + "/none.bmp");
    EXPECT_EQ(WriteRasterBmp(path.c_str(), lb), 0);
    EXPECT_FALSE(Exists(path));
}

} // namespace
