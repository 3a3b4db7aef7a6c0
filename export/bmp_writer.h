// Writing pictures as uncompressed Windows bitmap files.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/frame_image.h"
#include "codecs/load_buffers.h"

// Writes `block` as a 24-bit bitmap file: file header, 40-byte info header
// (size from the block's own header), the rows bottom row first. A
// 128 x 128 picture gives a 49,206-byte file. Returns 1 when the whole file
// was written and closed; otherwise 0, and no partial file is left behind.
// A header whose rows would not fit in the block is refused.
int WriteBmpFile(const char* path, const FrameImage& block);

// Writes the SourceRaster as it stands (header, palette, rows, at its own
// depth) behind a 14-byte file header. 0 when there is no raster.
int WriteRasterBmp(const char* path, const LoadBuffers& lb);

// The bytes of those two files, for a caller that writes them itself
// (standard output); false, `file` empty, where the writers refuse.
bool BmpFileBytes(const FrameImage& block, std::vector<uint8_t>& file);
bool RasterBmpBytes(const LoadBuffers& lb, std::vector<uint8_t>& file);
