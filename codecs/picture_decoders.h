// The three picture decoders. Each reads the whole file into the FileBuffer
// and leaves the picture in the SourceRaster of the same LoadBuffers.
// Results: 1 on success, 0 on failure (reason in LastDecodeFailure()).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/load_buffers.h"

struct GifState;    // GIF decoder work record (codecs/gif_decoder.h)
struct JpegDecoder; // JPEG decoder work record (codecs/jpeg_decoder.h)

int DecodeBmpFile(LoadBuffers& lb, const char* path);
int DecodeGifFile(LoadBuffers& lb, GifState& gif, const char* path);
int DecodeJpegFile(LoadBuffers& lb, JpegDecoder& jpeg, const char* path);

// The pixels a reader of the raster will look at, for decoders that can
// skip the others: `fill` receives the picture's size and sets
// columns[0..width-1] and rows[0..height-1] to 1 or 0; pixel (x, y) is needed
// when both of its flags are set. Rows count from the top: entry 0 is the
// file's first row (raster memory row height - 1).
struct SampleMasks {
    void (*fill)(const void* context, int32_t width, int32_t height, uint8_t* columns,
                 uint8_t* rows);
    const void* context;
    // Optional, for a reader that shows the picture small (a thumbnail):
    // asked with the picture's size before anything is decoded; true takes
    // the eighth-size picture instead, ceil(width / 8) x ceil(height / 8)
    // pixels, each 8 x 8 block the colour of its DC coefficient alone (as
    // the full decode draws a block without AC coefficients). Then `fill`
    // is not called.
    bool (*eighth)(const void* context, int32_t width, int32_t height) = nullptr;
    // For a reader that reads the raster through SampleSource alone (the
    // sharp fits, a thumbnail's stretch): the needed samples are packed
    // together (RasterDescriptor::packedColumn), so a 12-megapixel raster
    // of which a frame reads 128 x 128 pixels takes 20 pages instead of 400.
    bool packed = false;
};
// DecodeJpegFile writing only the needed pixels: those get exactly the bytes
// the full decode gives them, at the same places (or, packed, where
// SampleSource finds them), whatever the file (damaged ones too); every
// other raster byte keeps what it held. Everything is still
// entropy-decoded; only the inverse transform and the colour conversion are
// spared.
int DecodeJpegSampled(LoadBuffers& lb, JpegDecoder& jpeg, const char* path,
                      const SampleMasks& masks);

// Sizes of the work records, for owners that allocate them as raw blocks
// (the program uses GlobalAlloc with zero fill). A zero-filled block of this
// size is a valid, idle record.
extern const size_t kGifStateBytes;
extern const size_t kJpegDecoderBytes;

// Everything a decode needs, owned by the caller.
struct DecoderSet {
    LoadBuffers* buffers = nullptr;
    GifState* gif = nullptr;
    JpegDecoder* jpeg = nullptr;
};
