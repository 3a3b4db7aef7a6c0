// Quarter turns, mirror and flip of a working picture, in place.
//
// Each operation writes a fresh picture (zero-filled, 128 x 128 header) and
// then copies all of it back, so afterwards the picture carries the standard
// header and an empty tail whatever it held before. Each returns false, and
// leaves the picture untouched, only when that scratch picture cannot be
// allocated.
#pragma once

#include "picture/frame_image.h"

// Quarter turn counter-clockwise: T(x, y) = W(127 - y, x).
bool RotateLeft(FrameImage& work);
// Quarter turn clockwise: T(x, y) = W(y, 127 - x).
bool RotateRight(FrameImage& work);
// Left and right change places: T(x, y) = W(127 - x, y).
bool MirrorImage(FrameImage& work);
// Top and bottom change places: T(x, y) = W(x, 127 - y).
bool FlipImage(FrameImage& work);
