// A picture for the export benchmarks: about what a downscaled photo gives.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>

#include "picture/frame_image.h"

// Smooth colour areas, edges and a little sensor-like grain: about what a
// downscaled photo gives (2.5 to 3 KB per picture).
inline std::unique_ptr<FrameImage> PhotoLikePicture(uint32_t seed) {
    std::unique_ptr<FrameImage> p(new FrameImage{});
    InitFrameHeader(128, 128, p->bytes);
    std::mt19937 rng(seed);
    double phase = seed * 0.7;
    for (int y = 0; y < 128; ++y) {
        uint8_t* row = p->Row(y);
        for (int x = 0; x < 128; ++x) {
            double r = 128 + 90 * std::sin(x * 0.05 + phase) * std::cos(y * 0.031);
            double g = 100 + 60 * std::cos((x + y) * 0.04 + phase);
            double b = 160 - 0.6 * y + 20 * std::sin(x * 0.21);
            int dx = x - 80, dy = y - 50;
            if (dx * dx + dy * dy < 400) r = 230, g = 200, b = 40;
            if (x > 20 && x < 40 && y > 70 && y < 120) r = g = b = 20;
            double grain = static_cast<int>(rng() % 9) - 4;
            auto c = [&](double v) {
                v += grain;
                return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            };
            row[x * 3 + 0] = c(b);
            row[x * 3 + 1] = c(g);
            row[x * 3 + 2] = c(r);
        }
    }
    return p;
}
