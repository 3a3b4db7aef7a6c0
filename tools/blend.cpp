#include "tools/blend.h"

#include <cstring>

namespace {

constexpr float kPercent = 0.01f;

uint32_t PixelByteCount(const FrameImage& picture) {
    BitmapInfoHeader h;
    std::memcpy(&h, picture.bytes, sizeof h);
    const uint32_t room = kFrameImageSize - kFrameHeaderBytes;
    return h.biSizeImage < room ? h.biSizeImage : room;
}

} // namespace

double BlendWeight(int32_t percent) {
    return static_cast<double>(percent) * static_cast<double>(kPercent);
}

void BlendWithBackground(int32_t percent, const FrameImage& current, const FrameImage& background,
                         FrameImage& work) {
    // The track bar cannot leave 0..100; outside it the mix would leave 0..255.
    if (percent < kBlendTrackBar.minimum) percent = kBlendTrackBar.minimum;
    if (percent > kBlendTrackBar.maximum) percent = kBlendTrackBar.maximum;
    const double w = BlendWeight(percent);
    const double keep = 1.0 - w;
    const uint8_t* a = current.Pixels();
    const uint8_t* b = background.Pixels();
    uint8_t* out = work.Pixels();
    const uint32_t count = PixelByteCount(current);
    for (uint32_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(static_cast<int32_t>(a[i] * keep + b[i] * w));
}
