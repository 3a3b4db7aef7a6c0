#include "tools/image_processing.h"

#include <cstring>

#include "tools/resampler.h"

namespace {

constexpr int kPixelCount = kFrameSide * kFrameSide;
constexpr float kPercent = 0.01f;
constexpr float kTenth = 0.1f;

uint8_t Limit255(double v) {
    const int32_t i = static_cast<int32_t>(v); // toward zero; sepia sums are never negative
    return static_cast<uint8_t>(i > 255 ? 255 : i);
}

uint32_t PixelByteCount(const FrameImage& picture) {
    BitmapInfoHeader h;
    std::memcpy(&h, picture.bytes, sizeof h);
    const uint32_t room = kFrameImageSize - kFrameHeaderBytes;
    return h.biSizeImage < room ? h.biSizeImage : room;
}

bool BlockInsidePicture(int32_t left, int32_t top, int32_t width, int32_t height) {
    return width > 0 && height > 0 && left >= 0 && top >= 0 && width <= kFrameSide - left &&
           height <= kFrameSide - top;
}

} // namespace

void ApplyNegative(FrameImage& work) {
    uint8_t* p = work.Pixels();
    for (int i = 0; i < kFramePixelBytes; ++i)
        p[i] = static_cast<uint8_t>(255 - p[i]);
}

void ApplyGrayscale(FrameImage& work) {
    uint8_t* p = work.Pixels();
    for (int i = 0; i < kPixelCount; ++i, p += 3) {
        const uint32_t b = p[0], g = p[1], r = p[2];
        const uint8_t y = static_cast<uint8_t>((306 * r + 601 * g + 117 * b) >> 10);
        p[0] = p[1] = p[2] = y;
    }
}

void ApplySepia(FrameImage& work) {
    uint8_t* p = work.Pixels();
    for (int i = 0; i < kPixelCount; ++i, p += 3) {
        const double b = p[0], g = p[1], r = p[2];
        const double red = 0.393f * r + 0.769f * g + 0.189f * b;
        const double green = 0.349f * r + 0.686f * g + 0.168f * b;
        const double blue = 0.272f * r + 0.534f * g + 0.131f * b;
        p[0] = Limit255(blue);
        p[1] = Limit255(green);
        p[2] = Limit255(red);
    }
}

void ApplyImageEffect(ImageEffect effect, FrameImage& work, FrameImage& adjustPreview) {
    switch (effect) {
    case ImageEffect::Negative: ApplyNegative(work); break;
    case ImageEffect::Grayscale: ApplyGrayscale(work); break;
    case ImageEffect::Sepia: ApplySepia(work); break;
    }
    CopyFrameImage(adjustPreview, work);
}

double ContrastFactor(int32_t contrast) {
    return static_cast<double>(contrast + 100) * static_cast<double>(kPercent);
}

ToneTable BuildToneTable(int32_t brightness, int32_t contrast) {
    const double k = ContrastFactor(contrast);
    ToneTable table{};
    for (int32_t j = 0; j < 256; ++j) {
        const double v = static_cast<double>(brightness + 128) + static_cast<double>(j - 128) * k;
        // Limit before converting, so that no position can overflow the int.
        table[j] = v >= 255.0 ? 255 : v <= 0.0 ? 0 : static_cast<uint8_t>(static_cast<int32_t>(v));
    }
    return table;
}

void ApplyToneTable(const ToneTable& table, const FrameImage& work, FrameImage& adjustPreview) {
    const uint8_t* in = work.Pixels();
    uint8_t* out = adjustPreview.Pixels();
    const uint32_t count = PixelByteCount(work);
    for (uint32_t i = 0; i < count; ++i)
        out[i] = table[in[i]];
}

ZoomBlock ZoomBlockFor(int32_t position) {
    const int64_t steps = position < 0 ? -static_cast<int64_t>(position) : position;
    if (steps < 10) return ZoomBlock{0, 0};
    const double quotient = static_cast<double>(kFrameSide) /
                            (static_cast<double>(steps) * static_cast<double>(kTenth));
    int32_t s = static_cast<int32_t>(quotient);
    s -= s % 4;
    return ZoomBlock{s, (kFrameSide - s) / 2};
}

bool ZoomIn(int32_t left, int32_t top, int32_t width, int32_t height, const FrameImage& work,
            FrameImage& zoomScratch, FrameImage& adjustPreview) {
    if (!BlockInsidePicture(left, top, width, height)) return false;
    InitFrameHeader(width, height, zoomScratch.bytes);
    // Scratch memory row r holds block row height - 1 - r (bottom-up, as in work).
    const int32_t stride = width * 3;
    uint8_t* out = zoomScratch.bytes + kFrameHeaderBytes;
    for (int32_t r = 0; r < height; ++r)
        std::memcpy(out + r * stride, work.Row(top + height - 1 - r) + left * 3, stride);
    return ResampleImage(kFrameSide, kFrameSide, zoomScratch, adjustPreview);
}

bool ZoomOut(int32_t left, int32_t top, int32_t width, int32_t height, const FrameImage& work,
             FrameImage& zoomScratch, FrameImage& adjustPreview) {
    if (!BlockInsidePicture(left, top, width, height)) return false;
    if (!ResampleImage(width, height, work, zoomScratch)) return false;
    ClearToolPicture(adjustPreview);
    // Picture row r of the shrunk square is scratch memory row height - 1 - r;
    // its bottom row (r = height - 1) is left out and stays black.
    const int32_t stride = width * 3;
    const uint8_t* in = zoomScratch.bytes + kFrameHeaderBytes;
    for (int32_t r = 0; r + 1 < height; ++r)
        std::memcpy(adjustPreview.Row(top + r) + left * 3, in + (height - 1 - r) * stride, stride);
    return true;
}

bool ZoomPreview(int32_t position, const FrameImage& work, FrameImage& zoomScratch,
                 FrameImage& adjustPreview) {
    const ZoomBlock b = ZoomBlockFor(position);
    if (b.side <= 0) return false;
    if (position > 0)
        return ZoomIn(b.offset, b.offset, b.side, b.side, work, zoomScratch, adjustPreview);
    return ZoomOut(b.offset, b.offset, b.side, b.side, work, zoomScratch, adjustPreview);
}

bool AdjustPreviewFromTrackBar(ImageTrackBar bar, int32_t position, const FrameImage& work,
                               FrameImage& zoomScratch, FrameImage& adjustPreview) {
    switch (bar) {
    case ImageTrackBar::Brightness:
        ApplyToneTable(BuildToneTable(position, 0), work, adjustPreview);
        return true;
    case ImageTrackBar::Contrast:
        ApplyToneTable(BuildToneTable(0, position), work, adjustPreview);
        return true;
    case ImageTrackBar::Zoom: return ZoomPreview(position, work, zoomScratch, adjustPreview);
    }
    return false;
}
