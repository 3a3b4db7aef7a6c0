// The plain stretch: the whole raster into a w x h picture, one source pixel
// per picture pixel, and the sampling rule every stretch (sharp fits, the
// thumbnails, the JPEG decoder's sample masks) shares.
#pragma once

#include <algorithm>
#include <cstdint>

#include "codecs/load_buffers.h"
#include "picture/frame_image.h"

// The stretch's sampling rule along one axis: target position j of `target`
// reads source position StretchStep(source, target)(j). The scale factor is
// rounded to single precision once; the products are taken in extended
// precision and truncated. Below 2^24 this is floor(j * source / target).
class StretchStep {
  public:
    StretchStep(int32_t source, int32_t target)
        : last_(source - 1), scale_(static_cast<float>(static_cast<long double>(source) / target)) {
    }
    int32_t operator()(int32_t j) const {
        return std::min<int32_t>(last_, static_cast<int32_t>(static_cast<long double>(j) * scale_));
    }

  private:
    int32_t last_;
    float scale_;
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
