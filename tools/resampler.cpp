#include "tools/resampler.h"

#include <cmath>
#include <cstring>

namespace {

// 1/6 as the single-precision constant 0.16666667.
constexpr float kOneSixth = 1.0f / 6.0f;

double PositiveCube(double u) {
    return u > 0.0 ? u * u * u : 0.0;
}

// The weight before it is stored anywhere: the column weight multiplies
// straight into the (double) tap product, while the row weight is kept as a
// float first. The two roundings differ in the last bits, and those bits
// decide which pixels of a flat area truncate one level lower, so keep both.
double UnroundedWeight(float t) {
    if (t > 2.0f) return 0.0;
    const double u = t;
    const double sum = PositiveCube(u + 2.0) - 4.0 * PositiveCube(u + 1.0) + 6.0 * PositiveCube(u) -
                       4.0 * PositiveCube(u - 1.0);
    return sum * static_cast<double>(kOneSixth);
}

// index x scale - 0.5: the product is held in double and only the position
// is rounded to a float, once (rounding the product first lands on a
// neighbouring float for about 3 % of the positions).
float SamplePosition(int32_t index, float scale) {
    return static_cast<float>(static_cast<double>(index) * static_cast<double>(scale) - 0.5);
}

int32_t ClampIndex(int32_t i, int32_t size) {
    if (i < 0) i = 0;
    if (i >= size) i = size - 1;
    return i;
}

struct PictureSize {
    int32_t width;
    int32_t height;
};

PictureSize HeaderSize(const FrameImage& picture) {
    BitmapInfoHeader h;
    std::memcpy(&h, picture.bytes, sizeof h);
    return PictureSize{h.biWidth, h.biHeight};
}

bool FitsInBlock(int32_t width, int32_t height) {
    return width > 0 && height > 0 && PackedPictureBytes(width, height) <= kFrameImageSize;
}

// One destination pixel from the 4 x 4 source taps around (fx, fy).
void FilterPixel(const uint8_t* src, PictureSize s, float fx, float fy, uint8_t* out) {
    const int32_t ix = static_cast<int32_t>(std::floor(fx));
    const int32_t iy = static_cast<int32_t>(std::floor(fy));
    const float dx = fx - static_cast<float>(ix);
    const float dy = fy - static_cast<float>(iy);
    const int32_t stride = s.width * 3;

    float blue = 0.0f, green = 0.0f, red = 0.0f;
    for (int32_t m = -1; m <= 2; ++m) {
        const float wy = static_cast<float>(UnroundedWeight(static_cast<float>(m) - dy));
        const uint8_t* row = src + ClampIndex(iy + m, s.height) * stride;
        for (int32_t n = -1; n <= 2; ++n) {
            const double wx = UnroundedWeight(dx - static_cast<float>(n));
            const double w = wx * static_cast<double>(wy);
            const uint8_t* px = row + ClampIndex(ix + n, s.width) * 3;
            blue = static_cast<float>(static_cast<double>(blue) + w * px[0]);
            green = static_cast<float>(static_cast<double>(green) + w * px[1]);
            red = static_cast<float>(static_cast<double>(red) + w * px[2]);
        }
    }
    // Truncation, never rounding; the weights are non-negative and add up to
    // 1, so no sum reaches 256.
    out[0] = static_cast<uint8_t>(static_cast<int32_t>(blue));
    out[1] = static_cast<uint8_t>(static_cast<int32_t>(green));
    out[2] = static_cast<uint8_t>(static_cast<int32_t>(red));
}

} // namespace

int64_t PackedPictureBytes(int32_t width, int32_t height) {
    return kFrameHeaderBytes + static_cast<int64_t>(width) * height * 3;
}

float CubicBSplineWeight(float t) {
    return static_cast<float>(UnroundedWeight(t));
}

bool ResampleImage(int32_t newWidth, int32_t newHeight, const FrameImage& source,
                   FrameImage& destination) {
    if (newWidth <= 0 || newHeight <= 0) return false;
    const PictureSize s = HeaderSize(source);
    if (!FitsInBlock(s.width, s.height) || !FitsInBlock(newWidth, newHeight)) return false;

    if (newWidth == s.width && newHeight == s.height) {
        std::memmove(destination.bytes, source.bytes,
                     static_cast<size_t>(PackedPictureBytes(newWidth, newHeight)));
        return true;
    }

    const float scaleX = static_cast<float>(s.width) / static_cast<float>(newWidth);
    const float scaleY = static_cast<float>(s.height) / static_cast<float>(newHeight);
    InitFrameHeader(newWidth, newHeight, destination.bytes);

    // Rows are walked in memory order, so the half-pixel offset shifts the
    // picture towards its bottom-left (memory row 0, column 0).
    const uint8_t* src = source.bytes + kFrameHeaderBytes;
    uint8_t* dst = destination.bytes + kFrameHeaderBytes;
    for (int32_t y = 0; y < newHeight; ++y) {
        const float fy = SamplePosition(y, scaleY);
        uint8_t* out = dst + static_cast<int64_t>(y) * newWidth * 3;
        for (int32_t x = 0; x < newWidth; ++x) {
            const float fx = SamplePosition(x, scaleX);
            FilterPixel(src, s, fx, fy, out + x * 3);
        }
    }
    return true;
}
