// PNG reader: grey, RGB, palette, grey + alpha and RGBA at every depth the
// format allows, Adam7 interlace, PLTE and tRNS, any number of IDAT chunks;
// other ancillary chunks (an animated PNG's frames among them) are passed
// over, so an animated PNG gives its default image. Inflate is zlib's.
//
// The picture lands in a 24-bit SourceRaster at its own size:
//   grey of d < 8 bits          v * 255 / (2^d - 1)
//   16-bit samples              (v * 255 + 32767) / 65535
//   alpha (own or from tRNS)    laid over black: (c * a + 127) / 255 on the
//                               8-bit values; a tRNS key is compared with the
//                               samples at their own depth
//   palette index past the end  black
// gAMA, cHRM, sRGB and iCCP are not applied: the pixels as stored.
#pragma once

#include "codecs/picture_decoders.h"

// Decodes what the FileBuffer holds (from offset 0). With `masks`, only the
// rows they mark are converted into the raster (every row is inflated and
// unfiltered all the same); the others keep what they held. 1 when every
// row was decoded. 0 with the reason otherwise: before any raster for a file
// refused by its signature or header; after the raster was set up when the
// image data is damaged or ends early (or loading was stopped): the rows
// decoded so far are then in the raster, the rows not reached black.
int DecodePngLoaded(LoadBuffers& lb, const SampleMasks* masks = nullptr);
