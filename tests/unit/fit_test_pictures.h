// Pictures the fit tests build: rasters from a pixel rule or from top-down
// pixels, random pictures, and a picture turned upright by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codecs/load_buffers.h"
#include "tests/unit/bmp_builder.h"

// A true-colour raster; pixel(x, y) gives the colour of column x, memory row y.
template <class F> LoadBuffers& Raster(int32_t w, int32_t h, F pixel) {
    LoadBuffers& lb = TestBuffers();
    EXPECT_TRUE(SetUpRaster(lb, w, h, 24));
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = RasterRow(lb, y);
        for (int32_t x = 0; x < w; ++x, p += 3) {
            const uint32_t c = pixel(x, y);
            p[0] = static_cast<uint8_t>(c);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c >> 16);
        }
    }
    lb.raster.cursor.address = RasterRow(lb, 0);
    return lb;
}

// w x h random colours, top-down, the same for the same seed.
inline std::vector<uint32_t> RandomPixels(int32_t w, int32_t h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    for (uint32_t& p : px)
        p = rng() & 0xFFFFFF;
    return px;
}

// A raster from top-down pixels.
inline LoadBuffers& TopDownRaster(const std::vector<uint32_t>& px, int32_t w, int32_t h) {
    return Raster(w, h,
                  [&](int32_t x, int32_t y) { return px[static_cast<size_t>(h - 1 - y) * w + x]; });
}

// The stored picture turned upright by the Exif rules, written out pixel by
// pixel in top-down terms: where stored row 0 and column 0 end up.
inline std::vector<uint32_t> Upright(const std::vector<uint32_t>& stored, int32_t w, int32_t h,
                                     int o, int32_t& uw, int32_t& uh) {
    const bool turned = o >= 5 && o <= 8;
    uw = turned ? h : w;
    uh = turned ? w : h;
    std::vector<uint32_t> out(static_cast<size_t>(w) * h);
    for (int32_t r = 0; r < h; ++r)       // stored row, top-down
        for (int32_t c = 0; c < w; ++c) { // stored column
            int32_t ur = r, uc = c;
            switch (o) {
            case 2: uc = w - 1 - c; break;                 // row 0 top, column 0 right
            case 3: ur = h - 1 - r, uc = w - 1 - c; break; // row 0 bottom, column 0 right
            case 4: ur = h - 1 - r; break;                 // row 0 bottom, column 0 left
            case 5: ur = c, uc = r; break;                 // row 0 left, column 0 top
            case 6: ur = c, uc = h - 1 - r; break;         // row 0 right, column 0 top
            case 7: ur = w - 1 - c, uc = h - 1 - r; break; // row 0 right, column 0 bottom
            case 8: ur = w - 1 - c, uc = r; break;         // row 0 left, column 0 bottom
            default: break;
            }
            out[static_cast<size_t>(ur) * uw + uc] = stored[static_cast<size_t>(r) * w + c];
        }
    return out;
}
