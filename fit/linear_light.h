// 8-bit sRGB values and linear light (0..65535) in both directions, for
// scaling that averages what the eye sees as brightness, not the stored codes.
#pragma once

#include <cstdint>

constexpr uint32_t kLinearMax = 65535;

// round(65535 x the linear light of sRGB code v / 255).
uint32_t LinearFromSrgb(uint8_t v);
// The sRGB code nearest to linear light `linear` (0..65535; larger values
// count as 65535), rounding half up on the sRGB scale:
// round(255 x sRGB(linear / 65535)).
uint8_t SrgbFromLinear(uint32_t linear);
// The 256-entry table behind LinearFromSrgb, for loops that look up every pixel.
const uint16_t* LinearTable();
