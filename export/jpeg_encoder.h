// Baseline JPEG encoder for the frame's picture set: one FrameImage in, one
// complete JFIF stream in memory out. Three components at full resolution,
// fixed tables (quality 50 % of the standard example tables), so every export
// of the same picture gives the same bytes on every target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/frame_image.h"

// What Save All hands the encoder for one picture. Fine noise at 128 x 128
// comes close to this; ordinary photos need a few kilobytes.
constexpr size_t kJpegOutputBlockSize = 51200;

// Bytes in front of the entropy-coded data (SOI, APP0, DQT, SOF0, DHT, SOS).
constexpr size_t kJpegHeaderBytes = 607;

enum class JpegEncodeError {
    kNone,
    kBadPicture,  // the block's header describes rows the block cannot hold
    kOutputFull,  // the stream would not fit into the caller's buffer
    kOutOfMemory, // the pixel work block could not be obtained
};

// Encodes `picture` (24 bits, bottom-up, blue-green-red, size from its own
// header) into output[0 .. capacity). On success returns 1 and sets `length`
// to the stream's size. On failure returns 0, sets `length` to 0 and, when
// `error` is given, the reason; nothing is ever written at or beyond
// output + capacity, but the bytes before it may hold a partial stream.
// Re-entrant: all work state is local to the call.
int EncodeJpeg(const FrameImage& picture, uint8_t* output, size_t capacity, size_t& length,
               JpegEncodeError* error = nullptr);

// A short English text for messages ("stream does not fit the output buffer", ...).
const char* JpegEncodeErrorText(JpegEncodeError error);

// ---- The encoder's stages, exposed for their own tests ----

// The DQT bytes of table 0 (luminance) or 1 (chrominance), in zig-zag order.
const uint8_t* JpegQuantTable(int table);

// One pixel's samples as the encoder codes them: Y level-shifted by -128,
// Cb and Cr centred on 0.
struct JpegSamples {
    int8_t y, cb, cr;
};
JpegSamples JpegColourSamples(uint8_t red, uint8_t green, uint8_t blue);
// The same for `count` blue-green-red pixels, the way the encoder converts
// whole rows (eight pixels at a time where the processor allows).
void JpegColourRow(const uint8_t* bgr, int count, int8_t* y, int8_t* cb, int8_t* cr);

// Forward DCT and quantisation of one 8 x 8 block of level-shifted samples
// (natural order) with table 0 or 1; the result is in zig-zag order.
void JpegQuantisedBlock(const int8_t samples[64], int table, int16_t zigzag[64]);
