#include "picture/frame_image.h"

#include <cstring>

int InitFrameHeader(int32_t width, int32_t height, void* block) {
    if (width == 0 || height == 0) return 0;
    BitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = 0;
    // Row stride rounded up to 4 bytes, times the height (wraps like the
    // 32-bit field it lands in for absurd sizes).
    uint32_t stride = (static_cast<uint32_t>(width) * 24u + 31u) / 32u * 4u;
    h.biSizeImage = stride * static_cast<uint32_t>(height);
    std::memcpy(block, &h, sizeof h);
    return 1;
}

void CopyFrameImage(FrameImage& to, const FrameImage& from) {
    if (&to != &from) std::memcpy(to.bytes, from.bytes, kFrameImageSize);
}
