// The three picture decoders. Each reads the whole file into the FileBuffer
// and leaves the picture in the SourceRaster of the same LoadBuffers.
// Results: 1 on success, 0 on failure (reason in LastDecodeFailure()).
#pragma once

#include <cstddef>

#include "codecs/load_buffers.h"

struct GifState;    // GIF decoder work record (codecs/gif_decoder.h)
struct JpegDecoder; // JPEG decoder work record (codecs/jpeg_decoder.h)

int DecodeBmpFile(LoadBuffers& lb, const char* path);
int DecodeGifFile(LoadBuffers& lb, GifState& gif, const char* path);
int DecodeJpegFile(LoadBuffers& lb, JpegDecoder& jpeg, const char* path);

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
