// The tools' one scaling routine: a separable 4 x 4 cubic B-spline filter.
//
// Source and destination are laid out like a FrameImage but for any size:
// a 40-byte header (of the source only biWidth and biHeight are read), then
// packed rows of width x 3 bytes (no filler up to 4 bytes), bottom row first,
// blue-green-red. For width 128 that is exactly the FrameImage layout; callers
// that later treat a result as an aligned picture pick widths that are
// multiples of 4.
#pragma once

#include <cstdint>

#include "picture/frame_image.h"

// Filter weight of a tap at signed distance t: 2/3 at 0, 1/6 at +-1, 0 from
// |t| = 2 on; the four weights of one sample position add up to 1.
float CubicBSplineWeight(float t);

// Scales `source` to newWidth x newHeight into `destination` (header written
// for the new size). Returns false and writes nothing when a new size is 0 or
// negative, or when either picture would not fit in its 51,200-byte block
// (all real callers ask for at most 128 x 128 from at most 128 x 128).
// A new size equal to the source size copies the block's used bytes, source
// header included. The two blocks must not be the same.
bool ResampleImage(int32_t newWidth, int32_t newHeight, const FrameImage& source,
                   FrameImage& destination);

// Size of a width x height picture with packed rows, header included.
int64_t PackedPictureBytes(int32_t width, int32_t height);
