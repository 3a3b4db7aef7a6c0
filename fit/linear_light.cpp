#include "fit/linear_light.h"

#include <cstddef>

namespace {

// The tables are computed by the compiler with plain IEEE double arithmetic
// (no library pow, whose last bit differs between C libraries), so every
// target gets the same bytes.

// x^(1/5) for x in (0, 1] by Newton's method from 1: the steps fall
// monotonically onto the root; stop when they no longer fall.
constexpr double FifthRoot(double x) {
    double y = 1.0;
    for (int i = 0; i < 200; ++i) {
        const double y2 = y * y;
        const double next = (4.0 * y + x / (y2 * y2)) / 5.0;
        if (!(next < y)) break;
        y = next;
    }
    return y;
}

// Linear light of an sRGB value s in [0, 1] (IEC 61966-2-1):
// s / 12.92 up to 0.04045, ((s + 0.055) / 1.055)^2.4 above, and
// x^2.4 = x^2 * (x^(1/5))^2.
constexpr double LinearOf(double s) {
    if (s <= 0.04045) return s / 12.92;
    const double x = (s + 0.055) / 1.055;
    const double r = FifthRoot(x);
    return x * x * r * r;
}

struct Tables {
    uint16_t toLinear[256] = {};
    // threshold[k]: the least linear value that is nearer to code k + 1
    // than to code k (the linear light of (k + 0.5) / 255, rounded up).
    uint16_t threshold[255] = {};
    // coarse[b]: the code of linear value 16 b; a value's code is at most
    // two steps above its bucket's (the steepest stretch, near black, moves
    // 0.8 codes per 16 linear steps).
    uint8_t coarse[4096] = {};

    constexpr Tables() {
        for (int v = 0; v < 256; ++v) {
            const double l = LinearOf(v / 255.0) * kLinearMax;
            toLinear[v] = static_cast<uint16_t>(static_cast<uint32_t>(l + 0.5));
        }
        for (int k = 0; k < 255; ++k) {
            const double l = LinearOf((k + 0.5) / 255.0) * kLinearMax;
            uint32_t t = static_cast<uint32_t>(l);
            if (static_cast<double>(t) < l) ++t;
            threshold[k] = static_cast<uint16_t>(t);
        }
        int v = 0;
        for (uint32_t b = 0; b < 4096; ++b) {
            while (v < 255 && 16 * b >= threshold[v])
                ++v;
            coarse[b] = static_cast<uint8_t>(v);
        }
    }
};

constexpr Tables kTables;

} // namespace

uint32_t LinearFromSrgb(uint8_t v) {
    return kTables.toLinear[v];
}

const uint16_t* LinearTable() {
    return kTables.toLinear;
}

uint8_t SrgbFromLinear(uint32_t linear) {
    if (linear > kLinearMax) linear = kLinearMax;
    uint32_t v = kTables.coarse[linear >> 4];
    while (v < 255 && linear >= kTables.threshold[v])
        ++v;
    return static_cast<uint8_t>(v);
}
