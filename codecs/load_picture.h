// Picking a decoder by the file's first bytes (by the name's extension when
// they are no known signature), and reading the decoded SourceRaster's
// pixels (what the fits in fit/ build on).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "picture/frame_image.h"
#include "codecs/load_buffers.h"
#include "codecs/picture_decoders.h"

// The text after the last '.', upper-cased (ASCII letters only), or "" when
// fewer than 2 characters follow the dot. A name without any dot is its own
// extension, so a file named exactly "GIF" counts as a GIF.
std::string ExtensionOf(const char* name);

enum class PictureKind { kNone, kJpeg, kBmp, kGif, kPng };
// By ExtensionOf: BMP; GIF; JPG, JPEG, JPE, JFIF; PNG. Everything else is
// kNone. The folder list shows the names that have a kind.
PictureKind PictureKindOf(const char* name);
// By the signature the data starts with: "BM"; "GIF87a" or "GIF89a";
// FF D8 FF; the eight bytes of PNG. kNone for anything else.
PictureKind PictureKindOfData(const uint8_t* data, size_t size);
// The open-file dialog's filter for pictures: "Image Files(*.bmp;...)", a
// zero, the patterns of every extension above, and two zeros.
const char* PictureFileFilter();

// Decodes `path` whole, as DecodeForReading with nothing turned or spared.
int DecodePicture(DecoderSet& set, const char* path);

// The most memory one DecoderSet holds while it decodes any picture: its
// two load buffers, both work records and the JPEG decoder's largest work
// (a progressive photo's coefficients): about 255 MB.
uint64_t DecoderSetMostBytes();
// How many DecoderSets may decode at once in an address space of `space`
// bytes, each with `besides` bytes of its worker's own (stack, tool
// pictures, fit tables): together they take at most three quarters of the
// space, the rest being the program's. At least 1, at most `wanted`.
// Example: 2 GiB, 16 MiB besides: 5 (6 would take 1.6 GB of the 1.5 GiB).
int DecoderSetsThatFit(int wanted, uint64_t space, uint64_t besides);

// A caller that will read only part of the raster: told a JPEG's
// orientation before it is decoded, it answers the samples it will read
// (nullptr: every sample). It may also set lb.rowWatcher for the decode;
// DecodeForReading clears it afterwards.
class SampleNeeds {
  public:
    virtual const SampleMasks* MasksFor(LoadBuffers& lb, int orientation) = 0;

  protected:
    ~SampleNeeds() = default;
};

// Decodes `path` for a reader of the raster. The whole file is read, and
// its signature picks the decoder (its extension when it has none of them).
// A JPEG's Exif orientation is taken when `upright`; `needs` (optional) then
// picks the samples decoded, of a JPEG or a PNG. Returns the decoder's 1 or
// 0, or -1 when the file is no picture of a known kind (the reason names
// it: "NAME is not a BMP, GIF, JPEG or PNG picture"); `orientation` gets the
// one to apply to the raster: the Exif value after a complete decode, 1
// otherwise.
int DecodeForReading(DecoderSet& set, const char* path, bool upright, SampleNeeds* needs,
                     int& orientation);

// What decoding a file for the frame gave.
enum class DecodeOutcome {
    kUnknownType, // not a picture of a known kind: no decoder ran
    kRefused,     // the decoder failed before it set up a raster of its own
    kPartial,     // it failed after: the raster holds what was decoded (a cut-off PNG)
    kComplete,
};
inline bool HasOwnRaster(DecodeOutcome o) {
    return o == DecodeOutcome::kPartial || o == DecodeOutcome::kComplete;
}

// "Could not read NAME: REASON." for a file whose load was refused; NAME is
// the part of `path` after its last folder separator. A reason that starts
// with NAME speaks of the file itself and is the message alone: "NAME is a
// folder."
std::string CouldNotReadMessage(const char* path, const char* reason);

// True when the descriptor describes a raster and PixelBase (the row
// cursor's address) addresses all of its rows inside the DecodeBuffer (what
// the fits may read).
bool RasterReadable(const LoadBuffers& lb);

// Colour of raster pixel (x, y) (memory row y, 0 = bottom, from PixelBase): blue in the low
// byte, then green, then red; in a packed raster where the decode packed it
// (RasterDescriptor::packedColumn). Callers keep x and y inside the raster.
uint32_t SampleSource(const LoadBuffers& lb, int32_t x, int32_t y);
uint32_t PaletteIndexAt(const LoadBuffers& lb, int32_t x, int32_t y);
// Palette entry `index` (low 8 bits) as blue | green << 8 | red << 16 |
// reserved << 24; 0 (black) when there is no such entry.
uint32_t PaletteColour(const LoadBuffers& lb, uint32_t index);
