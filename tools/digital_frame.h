// Digital frame: shrink the current picture into the window the user marked
// on a frame picture, and paste it into a copy of that frame picture.
#pragma once

#include <cstdint>

#include "picture/frame_image.h"
#include "tools/tool_frame.h"

struct DigitalFrameSession {
    // PickArea is the 128 x 128 frame picture preview (control 1027).
    MarkState mark;
    // Size of the picture in ScaledPhoto, 0 until the first "Select OK".
    int32_t scaledWidth = 0;
    int32_t scaledHeight = 0;
};

// A dialog opening: no mark, nothing scaled yet; ScaledPhoto cleared and given
// the 128 x 128 header.
void StartDigitalFrame(DigitalFrameSession& s, const ToolRect& pickArea, FrameImage& ScaledPhoto);

// A window side as used: above 4 it goes down to a multiple of 4 (7 -> 4,
// 8 -> 8), 1 to 4 stay.
int32_t FrameWindowSide(int32_t side);

// "Select OK". Does nothing and returns false for a mark without a positive
// width and height. Otherwise shrinks the mark to the sizes actually used
// (FrameWindowSide, moving its right and bottom edges so the red mark shows
// them), resamples current into ScaledPhoto and composes work afresh from
// frameArt; returns true (repaint).
bool FitPhotoIntoFrame(DigitalFrameSession& s, const FrameImage& current,
                       const FrameImage& frameArt, FrameImage& ScaledPhoto, FrameImage& work);

// work = frameArt, then the top scaledHeight - 1 rows of ScaledPhoto (all
// scaledWidth columns) with their top-left at picture (dx, dy). The bottom row
// of the window keeps the frame picture's pixels; a height below 2 pastes
// nothing. Pixels that would land outside the picture are left out.
void ComposeFrame(int32_t dx, int32_t dy, int32_t scaledWidth, int32_t scaledHeight,
                  const FrameImage& frameArt, const FrameImage& ScaledPhoto, FrameImage& work);
