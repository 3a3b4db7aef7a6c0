// Internal to the fits (fit_modes.cpp, smooth_scale.cpp): how the upright
// picture's axes sit in the stored raster, and which source pixels, with
// which weights, make each output pixel along one axis.
#pragma once

#include <cstdint>
#include <vector>

#include "fit/fit_options.h"

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

// A smooth fit taken row by row, in any order, while a decoder finishes the
// rows (RowsReady) or afterwards (Finish adds every row not yet taken).
// Each shown row is added once; the sums are exact integers, so the order
// never changes a byte. Begin plans for the raster as described then, its
// rows read from `pixelBase` (what PixelBase is, or will be, for the fit).
class SmoothFitter : public RasterRowWatcher {
  public:
    void Begin(const LoadBuffers& lb, const uint8_t* pixelBase, const FitGeometry& g, Orientation o,
               bool allowVector);
    void RowsReady(const LoadBuffers& lb, int32_t first, int32_t count) override;
    void Finish(const LoadBuffers& lb, FrameImage& block);

  private:
    struct Slot {
        std::vector<uint32_t> middle, edge; // per shown sample, padded to 32
    };
    void AddRow(const LoadBuffers& lb, int32_t y);
    void Flush(size_t tap);

    const uint8_t* base_ = nullptr;
    FitGeometry geometry_{};
    AxisPlan xPlan_, yPlan_;
    std::vector<size_t> xAt_, yAt_; // where each output lands in sums_
    std::vector<uint64_t> sums_;    // band pixels x 3, bottom row first
    int32_t rowLo_ = 0, x0_ = 0;
    std::vector<int32_t> firstTap_; // first output row taking each shown row
    std::vector<uint8_t> added_;
    std::vector<int32_t> left_; // rows each output row still waits for
    bool palette_ = false, columnsFirst_ = false;
    int bits_ = 24;
    uint32_t linPal_[256 * 3] = {};
    size_t samples_ = 0;
    std::vector<int32_t> slotOf_, freeSlots_;
    std::vector<Slot> slots_;
    std::vector<uint64_t> rowSums_, column_;
};

// Smoothly resamples the raster (24-bit or palette, readable) into the
// band of the frame given by the geometry, in linear light. Where the
// processor has AVX-512 and the fit shrinks a 24-bit picture vertically, a
// vectorised order of the same integer sums is used (same bytes); tests
// turn it off with allowVector = false to compare.
void SmoothFit(const LoadBuffers& lb, const FitGeometry& g, Orientation o, FrameImage& block,
               bool allowVector = true);
bool SmoothVectorPathAvailable();
