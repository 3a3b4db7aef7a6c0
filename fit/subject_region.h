// A first guess at the part of a photo worth keeping when it is cut to the
// frame's shape: where its subject is, judged from a small version of it.
#pragma once

#include <cstdint>
#include <vector>

#include "codecs/load_buffers.h"
#include "fit/fit_options.h"

// The stored raster box-averaged to cells of `cell` x `cell` pixels (the
// last row and column of cells may be smaller), at most kSmallSide cells
// along the longer side. Each cell holds its mean colour and the spread of
// the brightness inside it, from a regular subset of its pixels (at most
// about 16 x 16 of them).
struct SmallPicture {
    static constexpr int32_t kSmallSide = 128;
    int32_t width = 0, height = 0;               // cells; rows from the bottom, as the raster
    int32_t cell = 1;                            // pixels per cell side
    std::vector<float> red, green, blue, spread; // width x height each
};
// False, leaving `small` empty, for a raster that cannot be read.
bool MakeSmallPicture(const LoadBuffers& lb, SmallPicture& small);

// What catches the eye in each cell (0 upwards): skin tones, strong colour
// and detail (the spread inside the cell and the edges between cells), the
// cells near the picture's edges weighing less.
std::vector<float> AttentionOf(const SmallPicture& small);

// The largest aspectW : aspectH rectangle of the upright picture (turned by
// the Exif `orientation`) placed where it keeps most of what AttentionOf
// sees, centred on it as far as the picture allows. A picture whose
// attention is not clearly stronger anywhere than in the centre gives the
// centred rectangle: for a square, exactly the part a centred fill shows. A
// raster that cannot be read gives the centred rectangle too.
PictureRect SuggestSubjectRegion(const LoadBuffers& lb, int orientation, int aspectW, int aspectH);
