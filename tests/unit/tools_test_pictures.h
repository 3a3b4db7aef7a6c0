// Picture builders shared by the tool tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "picture/frame_image.h"
#include "tools/tool_frame.h"
#include "tests/unit/test_support.h"

namespace tooltest {

struct Bgr {
    uint8_t b, g, r;
    bool operator==(const Bgr& o) const { return b == o.b && g == o.g && r == o.r; }
    bool operator!=(const Bgr& o) const { return !(*this == o); }
};

// A black 128 x 128 picture with the standard header, on the heap (51 KB).
inline std::unique_ptr<FrameImage> NewPicture() {
    std::unique_ptr<FrameImage> p(new FrameImage);
    ClearToolPicture(*p);
    return p;
}

inline Bgr PixelAt(const FrameImage& f, int x, int y) {
    const uint8_t* p = f.Row(y) + 3 * x;
    return Bgr{p[0], p[1], p[2]};
}

inline void SetPixel(FrameImage& f, int x, int y, Bgr c) {
    uint8_t* p = f.Row(y) + 3 * x;
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
}

inline void Fill(FrameImage& f, Bgr c) {
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            SetPixel(f, x, y, c);
}

// Every pixel names its own picture position: blue = x, green = y.
inline Bgr PositionColour(int x, int y) {
    return Bgr{static_cast<uint8_t>(x), static_cast<uint8_t>(y),
               static_cast<uint8_t>((x * 7 + y * 13) & 0xFF)};
}
inline void FillWithPositions(FrameImage& f) {
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x)
            SetPixel(f, x, y, PositionColour(x, y));
}

// Deterministic busy content (every byte value occurs).
inline void FillNoise(FrameImage& f, uint32_t seed) {
    uint32_t v = seed;
    uint8_t* p = f.Pixels();
    for (int i = 0; i < kFramePixelBytes; ++i) {
        v = v * 1664525u + 1013904223u;
        p[i] = static_cast<uint8_t>(v >> 24);
    }
}

inline bool SamePixels(const FrameImage& a, const FrameImage& b) {
    return std::memcmp(a.Pixels(), b.Pixels(), kFramePixelBytes) == 0;
}
inline bool SameBlock(const FrameImage& a, const FrameImage& b) {
    return std::memcmp(a.bytes, b.bytes, kFrameImageSize) == 0;
}

inline BitmapInfoHeader HeaderOf(const FrameImage& f) {
    BitmapInfoHeader h;
    std::memcpy(&h, f.bytes, sizeof h);
    return h;
}

} // namespace tooltest
