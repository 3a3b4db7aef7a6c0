// What the reconstruction files share: jpeg_idct.cpp (inverse DCT),
// jpeg_colour.cpp (colour tables, MCU rows into the raster) and
// jpeg_reconstruct.cpp (progressive assembly, vector level, sampled decodes).
// The helpers are static inline so each file keeps inlining them where they
// are used.
#pragma once

#include "codecs/jpeg_decoder.h"

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
#include <emmintrin.h>
#endif
#if defined(PIXMORA_JPEG_AVX2) // defined by jpeg_decoder.h
#include <immintrin.h>
#endif

static inline int16_t Low16(uint32_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(v));
}

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
// The factor pair (a, b) in every 32-bit lane, for pmaddwd.
static inline __m128i Pair(int a, int b) {
    return _mm_set_epi16(static_cast<short>(b), static_cast<short>(a), static_cast<short>(b),
                         static_cast<short>(a), static_cast<short>(b), static_cast<short>(a),
                         static_cast<short>(b), static_cast<short>(a));
}
#endif

static inline uint32_t Bgr(const JpegDecoder& d, int y, int cb, int cr) {
    uint32_t r = static_cast<uint32_t>(Clamp255(y + d.crToRed[cr]));
    uint32_t g = static_cast<uint32_t>(Clamp255(y + ((d.cbToGreen[cb] + d.crToGreen[cr]) >> 16)));
    uint32_t b = static_cast<uint32_t>(Clamp255(y + d.cbToBlue[cb]));
    return b | (g << 8) | (r << 16);
}

// The samples of one line of one MCU: the Y row of its left block and, in a
// 16-wide MCU, of its right block; the chroma rows (none for grey), one
// chroma sample per Y sample, or per two in a 16-wide MCU.
struct McuLine {
    const uint8_t* yLeft;
    const uint8_t* yRight; // nullptr: the MCU is 8 wide
    const uint8_t* cb;     // nullptr: grey
    const uint8_t* cr;
};

// The one place that knows where a line's samples lie in each layout (block
// order as in LayoutKind; blocks 64 bytes, rows 8 bytes).
static inline McuLine LineOf(const JpegDecoder& d, const uint8_t* mcu, int row) {
    switch (d.layoutKind) {
    case kLayoutGray: return {mcu + 8 * row, nullptr, nullptr, nullptr};
    case kLayoutH1V1: return {mcu + 8 * row, nullptr, mcu + 64 + 8 * row, mcu + 128 + 8 * row};
    case kLayoutH2V1:
        return {mcu + 8 * row, mcu + 64 + 8 * row, mcu + 128 + 8 * row, mcu + 192 + 8 * row};
    case kLayoutH1V2: // rows 8..15 run on into the bottom Y block
        return {mcu + 8 * row, nullptr, mcu + 128 + 8 * (row >> 1), mcu + 192 + 8 * (row >> 1)};
    default: {
        const uint8_t* y = mcu + (row < 8 ? 0 : 128) + 8 * (row & 7);
        return {y, y + 64, mcu + 256 + 8 * (row >> 1), mcu + 320 + 8 * (row >> 1)};
    }
    }
}

// Pixel x of a line (x below the MCU's width).
static inline uint32_t PixelOf(const JpegDecoder& d, const McuLine& l, int x) {
    const int y = x < 8 ? l.yLeft[x] : l.yRight[x - 8];
    if (!l.cb) return static_cast<uint32_t>(y) * 0x010101u;
    const int c = l.yRight ? x >> 1 : x;
    return Bgr(d, y, l.cb[c], l.cr[c]);
}
