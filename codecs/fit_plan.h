// Internal to the fits (fit_modes.cpp, smooth_scale.cpp): how the upright
// picture's axes sit in the stored raster, and which source pixels, with
// which weights, make each output pixel along one axis.
#pragma once

#include <cstdint>
#include <vector>

#include "codecs/fit_options.h"

// Upright pixel (ux, uy), both counted from the bottom-left as in memory,
// is stored raster pixel (column mx, memory row my) with
//   (a, b) = transposed ? (uy, ux) : (ux, uy)
//   mx = reverseX ? W - 1 - a : a,  my = reverseY ? H - 1 - b : b.
struct Orientation {
    bool transposed, reverseX, reverseY;
};
// Exif values 1..8; anything else is 1 (as stored).
Orientation OrientationOf(int exif);

// One output pixel along an axis: source pixels [start, start + count) in
// stored order, weighted wFirst, then wMiddle each, then wLast (one pixel:
// wFirst alone). The weights of every output pixel of an axis add up to the
// axis' total. `output` is the output pixel's place in the upright band.
struct AxisTap {
    int32_t start, count;
    uint32_t wFirst, wMiddle, wLast;
    int32_t output;
};

struct AxisPlan {
    std::vector<AxisTap> taps; // ascending start (and end)
    uint64_t total = 1;
};

// The smooth plan for `n` output pixels from `length` source pixels that
// begin at upright coordinate `offset`, on a stored axis of `stored` pixels
// (reversed: stored = stored - 1 - upright). Shrinking (length >= n): each
// output pixel averages the source span it covers, edge pixels weighted by
// their share; enlarging: bilinear between the two nearest pixel centres.
void PlanSmoothAxis(int32_t offset, int32_t length, int32_t n, int32_t stored, bool reversed,
                    AxisPlan& plan);

// Smoothly resamples the raster (24-bit or palette, readable) into the
// band of the frame given by the geometry, in linear light. Where the
// processor has AVX-512 and the fit shrinks a 24-bit picture vertically, a
// vectorised order of the same integer sums is used (same bytes); tests
// turn it off with allowVector = false to compare.
void SmoothFit(const LoadBuffers& lb, const FitGeometry& g, Orientation o, FrameImage& block,
               bool allowVector = true);
bool SmoothVectorPathAvailable();
