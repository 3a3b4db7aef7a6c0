// The orientation tag (0x0112) of a JPEG file's Exif block: how the stored
// picture must be turned or mirrored to stand upright.
//   1 as stored            5 mirrored along the main diagonal (transposed)
//   2 mirrored left-right  6 turned 90 degrees clockwise
//   3 turned 180 degrees   7 mirrored along the other diagonal
//   4 mirrored top-bottom  8 turned 90 degrees anticlockwise
#pragma once

#include <cstddef>
#include <cstdint>

// The orientation (1..8) of the JPEG file held in `data`, 0 when there is no
// Exif block with the tag, or the block is damaged in any way. Reads only
// inside [data, data + size); never loops more than the data allows.
int ExifOrientation(const uint8_t* data, size_t size);
