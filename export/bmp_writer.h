// Writing pictures as uncompressed Windows bitmap files.
#pragma once

#include <cstddef>
#include <cstdint>

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

constexpr size_t kBmpFileHeaderBytes = 14;

// Those two files as their headers and, where it already is, the rest (the
// palette and rows of the raster, the rows of the block): a writer sends
// the one behind the other without copying a big picture first. `rest`
// points into the picture, so it lasts as long as the picture is unchanged.
struct BmpParts {
    uint8_t headers[kBmpFileHeaderBytes + 40];
    const uint8_t* rest;
    size_t restSize;
};
// False, `parts` empty, where the writers refuse.
bool BmpFileParts(const FrameImage& block, BmpParts& parts);
bool RasterBmpParts(const LoadBuffers& lb, BmpParts& parts);
