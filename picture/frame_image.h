// The 128 x 128 working picture block and the bitmap header layouts shared by
// the codecs, the tools and the painting code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/limits.h"

// Same layout as Windows' BITMAPINFOHEADER; declared here so the core never
// needs <windows.h>.
#pragma pack(push, 2)
struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

// Same layout as BITMAPFILEHEADER (packed to 2, as Windows declares it).
struct BitmapFileHeader {
    uint16_t bfType;
    uint32_t bfSize;
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits;
};
#pragma pack(pop)

struct RgbQuad {
    uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(BitmapFileHeader) == 14, "BITMAPFILEHEADER is 14 bytes");
static_assert(sizeof(RgbQuad) == 4, "RGBQUAD is 4 bytes");

constexpr int kFrameStride = kFrameSide * 3;                // 384: already a multiple of 4
constexpr int kFramePixelBytes = kFrameStride * kFrameSide; // 49,152
constexpr int kFrameHeaderBytes = 40;
// Header + pixels need 49,192 bytes; the block is rounded up to 50 KiB and the
// tail travels along unused with every copy.
constexpr int kFrameImageSize = 51200;

// One working picture: header at offset 0, 128 rows of 384 bytes bottom row
// first, pixels blue-green-red.
struct FrameImage {
    uint8_t bytes[kFrameImageSize];

    uint8_t* Pixels() { return bytes + kFrameHeaderBytes; }
    const uint8_t* Pixels() const { return bytes + kFrameHeaderBytes; }
    // Picture row y (0 = top) lives in memory row 127 - y.
    uint8_t* Row(int y) { return Pixels() + (kFrameSide - 1 - y) * kFrameStride; }
    const uint8_t* Row(int y) const { return Pixels() + (kFrameSide - 1 - y) * kFrameStride; }
};
static_assert(sizeof(FrameImage) == kFrameImageSize, "FrameImage is one 51,200-byte block");

// Writes a 40-byte header for a 24-bit bottom-up picture of the given size.
// Returns 0 (writing nothing) when width or height is 0.
int InitFrameHeader(int32_t width, int32_t height, void* block);

// Copies a whole block, header included.
void CopyFrameImage(FrameImage& to, const FrameImage& from);
