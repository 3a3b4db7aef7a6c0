// The plain stretch: the whole raster into a w x h picture, one source pixel
// per picture pixel, and the sampling rule every stretch (sharp fits, the
// thumbnails, the JPEG decoder's sample masks) shares.
#pragma once

#include <algorithm>
#include <cstdint>

#include "codecs/load_buffers.h"
#include "picture/frame_image.h"

// The stretch's sampling rule along one axis: target position j (from 0) of
// `target` reads source position StretchStep(source, target)(j). The scale
// source / target is rounded to single precision (from the 64 bits the x87
// divided it to), and j times it truncated; the product is exact. Below 2^24
// this is floor(j * source / target). Kept in integers, so the processor's
// precision setting changes nothing. A target below 1 reads position 0, a
// source below 1 position source - 1 (there is nothing to read).
class StretchStep {
  public:
    StretchStep(int32_t source, int32_t target);
    int32_t operator()(int32_t j) const {
        const uint64_t at = (static_cast<uint64_t>(j) * mantissa_ >> right_) << left_;
        return static_cast<int32_t>(std::min<int64_t>(last_, static_cast<int64_t>(at)));
    }

  private:
    int32_t last_;
    uint32_t mantissa_ = 0; // the scale is mantissa_ * 2^(left_ - right_)
    int right_ = 0, left_ = 0;
};

// Nearest-neighbour stretch of the whole raster into a w x h picture
// (1..128 each; the program always asks for 128 x 128) written into
// `block` with its header. Pixels are addressed from PixelBase (the row
// cursor's address). A raster that is absent, or that PixelBase does not
// address inside the DecodeBuffer, gives a black picture. False only for a
// target size outside 1..128.
bool FitToFrame(LoadBuffers& lb, int w, int h, FrameImage& block);

// FitToFrame's sampling rule as sample masks: the columns and rows (counted
// from the top) a w x h stretch reads. `fitSize` points to the two ints w, h.
void FillStretchMasks(const void* fitSize, int32_t width, int32_t height, uint8_t* columns,
                      uint8_t* rows);
