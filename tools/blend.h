// Alpha blending of the current picture with a background picture.
#pragma once

#include <cstdint>

#include "picture/frame_image.h"
#include "tools/tool_frame.h"

// The blending track bar: the background's share in per cent.
constexpr TrackBarRange kBlendTrackBar{0, 100};

// Background weight for a track bar position: p x 0.01 with 0.01 as a float
// (0.0099999998), the product in double. So 100 gives just under 1.
double BlendWeight(int32_t percent);

// work = current x (1 - w) + background x w for every pixel byte, truncated.
// As many bytes as the biSizeImage field of current's header says (49,152),
// but never past the end of the block. The header of work is not written.
void BlendWithBackground(int32_t percent, const FrameImage& current, const FrameImage& background,
                         FrameImage& work);
