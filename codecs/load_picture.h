// Picking a decoder by the file name's extension, and stretching the decoded
// SourceRaster into a 128 x 128 FrameImage.
#pragma once

#include <cstdint>
#include <string>

#include "picture/frame_image.h"
#include "codecs/load_buffers.h"
#include "codecs/picture_decoders.h"

// The text after the last '.', upper-cased (ASCII letters only), or "" when
// fewer than 2 characters follow the dot. A name without any dot is its own
// extension, so a file named exactly "GIF" counts as a GIF.
std::string ExtensionOf(const char* name);

enum class PictureKind { kNone, kJpeg, kBmp, kGif };
// JPG, BMP or GIF by ExtensionOf; everything else (".jpeg" too) is kNone.
PictureKind PictureKindOf(const char* name);

// What the decoded raster is for: all of it, or only the pixels
// FitToFrame(kFrameSide x kFrameSide) reads (a JPEG then reconstructs only
// those; the fitted picture is the same).
enum class DecodeFor { kRaster, kFrame };

// Runs the decoder of the extension: -1 when the extension is none of
// JPG/BMP/GIF (nothing is read), otherwise the decoder's 1 or 0.
int DecodeByExtension(DecoderSet& set, const char* path, DecodeFor use = DecodeFor::kRaster);

// What decoding a file for the frame gave.
enum class DecodeOutcome {
    kUnknownType, // no JPG/BMP/GIF extension: nothing was read
    kRefused,     // the decoder failed before it set up a raster of its own
    kPartial,     // it failed after: the raster holds what was decoded (a cut-off JPEG)
    kComplete,
};
// Runs the decoder of the extension and tells whether the raster is now this
// file's. The reason of a failure is in LastDecodeFailure() ("unknown picture
// type" for kUnknownType).
DecodeOutcome DecodeForFrame(DecoderSet& set, const char* path);
inline bool HasOwnRaster(DecodeOutcome o) {
    return o == DecodeOutcome::kPartial || o == DecodeOutcome::kComplete;
}
// Points PixelBase at raster row 0 and fits the raster into `block`.
void FitDecoded(LoadBuffers& lb, FrameImage& block);

// The portable half of loading a picture: DecodeForFrame, then FitDecoded
// when the raster is the file's own (1). Otherwise 0 and `block` is left as
// it was: a refused file never shows the previous file's raster.
int LoadPictureIntoFrame(DecoderSet& set, const char* path, FrameImage& block);

// "Could not read NAME: REASON." for a file whose load was refused; NAME is
// the part of `path` after its last folder separator.
std::string CouldNotReadMessage(const char* path, const char* reason);

// Nearest-neighbour stretch of the whole raster into a w x h picture
// (1..128 each; the program always asks for 128 x 128) written into
// `block` with its header. Pixels are addressed from PixelBase (the row
// cursor's address). A raster that is absent, or that PixelBase does not
// address inside the DecodeBuffer, gives a black picture. False only for a
// target size outside 1..128.
bool FitToFrame(LoadBuffers& lb, int w, int h, FrameImage& block);

// True when the descriptor describes a raster and PixelBase addresses all
// of its rows inside the DecodeBuffer (what the fits may read).
bool RasterReadable(const LoadBuffers& lb);

// FitToFrame's sampling rule as sample masks: the columns and rows (counted
// from the top) a w x h stretch reads. `fitSize` points to the two ints w, h.
void FillStretchMasks(const void* fitSize, int32_t width, int32_t height, uint8_t* columns,
                      uint8_t* rows);

// Colour of raster pixel (x, y) (memory row y, 0 = bottom): blue in the low
// byte, then green, then red. Callers keep x and y inside the raster.
uint32_t SampleSource(const LoadBuffers& lb, int32_t x, int32_t y);
uint32_t PaletteIndexAt(const LoadBuffers& lb, int32_t x, int32_t y);
// Palette entry `index` (low 8 bits) as blue | green << 8 | red << 16 |
// reserved << 24; 0 (black) when there is no such entry.
uint32_t PaletteColour(const LoadBuffers& lb, uint32_t index);
