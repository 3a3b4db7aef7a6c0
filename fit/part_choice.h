// The square the user moves and sizes over a photo to choose the part the
// frame shows ("Choose the part"): always of the frame's square shape and
// inside the upright picture, in its pixels.
#pragma once

#include <cstdint>

#include "fit/fit_options.h"

struct PartChoice {
    int32_t width = 0, height = 0; // the upright picture
    PictureRect square;
};

// The smallest side a chosen square may have: 16 pixels, or the picture's
// shorter side when that is less.
int32_t SmallestPartSide(int32_t width, int32_t height);

// A choice on a width x height picture (both at least 1) that starts from
// `start`: its centre kept, its side the shorter of its two sides (within
// the smallest side and the picture's shorter side), moved inside.
PartChoice StartPartChoice(int32_t width, int32_t height, const PictureRect& start);
// The square with its top-left corner at (x, y), kept inside the picture.
void PlacePart(PartChoice& c, int64_t x, int64_t y);
// Moved by `percentX` and `percentY` per cent of the picture's width and
// height (a pixel at least for each per cent), kept inside.
void NudgePart(PartChoice& c, int percentX, int percentY);
// The side grown (`steps` > 0) or shrunk by a twentieth of the picture's
// shorter side per step (a pixel at least), about the square's centre,
// within the smallest side and the shorter side, kept inside.
void ResizePart(PartChoice& c, int steps);
// Which corner a drag holds.
enum class PartCorner { kTopLeft, kTopRight, kBottomLeft, kBottomRight };
// The `corner` dragged to the point (x, y) of the picture: the opposite
// corner stays, the side is the larger of the two distances to the point,
// within the smallest side and what the picture leaves beyond the opposite
// corner.
void DragPartCorner(PartChoice& c, PartCorner corner, int64_t x, int64_t y);
