#include "fit/stretch.h"

#include <cstring>

#include "codecs/load_picture.h"
#include "fit/extended_rounding.h"

StretchStep::StretchStep(int32_t source, int32_t target) : last_(source - 1) {
    if (source < 1 || target < 1) return;
    int exponent;
    RoundedToFloat(ExtendedRatio(static_cast<uint32_t>(source), static_cast<uint32_t>(target)),
                   mantissa_, exponent);
    // j < 2^31 and the mantissa < 2^24: the product stays below 2^55, and a
    // scale below 2^31 never shifts it left by more than 8.
    right_ = exponent < 0 ? (exponent < -63 ? 63 : -exponent) : 0;
    left_ = exponent > 0 ? exponent : 0;
}

bool FitToFrame(LoadBuffers& lb, int w, int h, FrameImage& block) {
    if (w < 1 || h < 1 || w > kFrameSide || h > kFrameSide) return false;
    const BitmapInfoHeader& src = lb.raster.header;
    const int32_t W = src.biWidth, H = src.biHeight;

    // A 128 x 128 true-colour raster already has the block's layout (unless
    // a decode packed it).
    if (w == kFrameSide && h == kFrameSide && W == kFrameSide && H == kFrameSide &&
        src.biClrUsed == 0 && src.biBitCount == 24 && lb.decodeBuffer && !lb.raster.packedColumn) {
        std::memcpy(block.bytes, lb.decodeBuffer, kFrameHeaderBytes + kFramePixelBytes);
        return true;
    }

    InitFrameHeader(w, h, block.bytes);
    const int32_t outStride = (w * 24 + 31) / 32 * 4;
    uint8_t* out = block.Pixels();
    if (!RasterReadable(lb)) {
        std::memset(out, 0, static_cast<size_t>(outStride) * h);
        return true;
    }

    const StretchStep columnOf(W, w), rowOf(H, h);
    int32_t column[kFrameSide];
    for (int j = 0; j < w; ++j)
        column[j] = columnOf(j);
    for (int i = 0; i < h; ++i) {
        const int32_t y = rowOf(i);
        uint8_t* row = out + static_cast<size_t>(outStride) * i;
        std::memset(row + 3 * w, 0, static_cast<size_t>(outStride - 3 * w));
        for (int j = 0; j < w; ++j) {
            const uint32_t c = SampleSource(lb, column[j], y);
            row[3 * j] = static_cast<uint8_t>(c);
            row[3 * j + 1] = static_cast<uint8_t>(c >> 8);
            row[3 * j + 2] = static_cast<uint8_t>(c >> 16);
        }
    }
    return true;
}

void FillStretchMasks(const void* fitSize, int32_t width, int32_t height, uint8_t* columns,
                      uint8_t* rows) {
    const int* size = static_cast<const int*>(fitSize);
    const int w = size[0], h = size[1];
    std::memset(columns, 0, static_cast<size_t>(width));
    std::memset(rows, 0, static_cast<size_t>(height));
    if (w < 1 || h < 1 || w > kFrameSide || h > kFrameSide) return; // FitToFrame reads nothing
    const StretchStep columnOf(width, w), rowOf(height, h);
    for (int j = 0; j < w; ++j)
        columns[columnOf(j)] = 1;
    for (int i = 0; i < h; ++i)
        rows[height - 1 - rowOf(i)] = 1; // rowOf gives memory rows, 0 = bottom
}
