// A folder list thumbnail as the loader draws it: the whole picture, turned
// upright when asked, stretched by the frame's sampling rule to the size its
// cell gives it (FitThumbnailRect) and then drawn 1:1. A JPEG reconstructs
// only the pixels that stretch reads, or, when its eighth-size picture (each
// 8 x 8 block the colour of its DC coefficient) still has more pixels than
// the place, that smaller picture is stretched instead: a thumbnail is for
// showing, and the working picture of a click stays exact.
#pragma once

#include "browser/scan_rules.h"
#include "codecs/picture_decoders.h"
#include "picture/frame_image.h"

// Where a picture of width x height lies in its cell once turned by its Exif
// `orientation` (5..8 swap width and height): FitThumbnailRect of the upright size.
ThumbnailRect ThumbnailPlace(int32_t width, int32_t height, int orientation);

// Decodes `path` by its content (with `upright`, a JPEG is turned by its
// Exif orientation) and stretches it into `picture`: place.w x place.h
// pixels with their header, rows padded to 4 bytes, where `place` is the
// cell's FitThumbnailRect for the upright size. Returns -1 for a file that is
// no picture of a known kind, 0 for a decode that gave no raster of its own
// (nothing drawn), 1 with `picture` and `place` set (also for a picture
// whose data ends early: the rows it has). A picture too thin to get a whole
// pixel across its cell (an empty place) has no pixels.
int DecodeThumbnail(DecoderSet& set, const char* path, bool upright, FrameImage& picture,
                    ThumbnailRect& place);
