// The user's choices for putting a picture into the 128 x 128 frame: how it
// fits (stretched as FitToFrame does, filling with the edges cut, or whole
// inside black bars), whether it is scaled smoothly, and whether a photo's
// Exif orientation turns it upright first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/load_buffers.h"
#include "codecs/load_picture.h"
#include "codecs/picture_decoders.h"
#include "picture/frame_image.h"

enum class FitMode { kStretch, kFill, kInside };

// Each fit mode with its words: the word of the settings file and of the
// CLI's --fit, and the folder list menu's text. The one place they are named.
struct FitModeName {
    FitMode mode;
    const char* word;
    const char* menuText;
};
constexpr FitModeName kFitModeNames[] = {
    {FitMode::kStretch, "stretch", "Stretch to the frame"},
    {FitMode::kFill, "fill", "Fill the frame (cut the edges)"},
    {FitMode::kInside, "inside", "Fit inside the frame (black bars)"},
};
const char* FitModeWord(FitMode mode);
// The mode of a word of kFitModeNames (exact, lower case); false for any other.
bool FitModeOfWord(const std::string& word, FitMode& mode);
// "stretch, fill or inside", for messages.
std::string FitModeWordList();

// A rectangle of the upright picture in its pixels, counted as a person
// counts them: x to the right and y down from the top-left corner.
struct PictureRect {
    int32_t x = 0, y = 0, w = 0, h = 0;
};

// A part of the picture asked for before its size is known: x, y, w, h each
// in pixels, or (percent) in hundredths of a per cent of the picture's width
// (x, w) or height (y, h).
struct RegionRequest {
    bool asked = false;
    int64_t value[4] = {0, 0, 0, 0};
    bool percent[4] = {false, false, false, false};
};
// A request in pixels.
RegionRequest RegionInPixels(const PictureRect& r);
// The pixels of `request` on a width x height upright picture. A share
// reaches from round(start) to round(start + length) of its side (so 0%, 100%
// is the whole side); a length in pixels counts from the start. False when
// the part is empty or reaches outside the picture.
bool ResolveRegion(const RegionRequest& request, int32_t width, int32_t height, PictureRect& out);

// Where a fill takes its square when no region is asked for.
enum class FitFocus { kCentre, kSubject };
// The focus words of the settings file and the CLI's --focus, and the
// folder list menu's text of a fill around the subject.
constexpr const char* kFitFocusWords[] = {"centre", "subject"}; // in the order of FitFocus
constexpr const char* kFillAroundSubjectText = "Fill the frame around the subject";
const char* FitFocusWord(FitFocus focus);
// The focus of a word of kFitFocusWords (exact, lower case); false for any other.
bool FitFocusOfWord(const std::string& word, FitFocus& focus);

struct FitOptions {
    FitMode mode = FitMode::kStretch;
    bool smooth = false; // false: one source pixel per frame pixel, as FitToFrame
    bool upright = true; // turn/mirror JPEG photos by their Exif orientation
    // kSubject: a fill shows the square SuggestSubjectRegion finds instead of
    // the centre one (the whole picture is then decoded, to look at it).
    FitFocus focus = FitFocus::kCentre;
    // The part of the upright picture the fit treats as the whole picture
    // (every mode, sharp and smooth); it takes the place of the focus.
    RegionRequest region;
};

// The part of the picture a fit shows and where it lands in the frame, in
// the picture's upright coordinates (after the orientation is applied) and,
// like the raster and the frame block, counting rows from the bottom:
// source columns [srcX, srcX + srcW) and rows [srcY, srcY + srcH) go to
// frame columns [dstX, dstX + dstW) and memory rows [dstY, dstY + dstH);
// frame pixels outside that rectangle are black.
//   stretch: the whole picture into the whole frame;
//   fill:    the centred square of side min(W, H) into the whole frame (of
//            an odd surplus, the extra pixel is cut on the right / top);
//   inside:  the whole picture into a centred band 128 pixels long and
//            round(128 x short / long) (at least 1) across, the rest black
//            (of an odd rest, the extra black line is at the right / top).
// A 256 x 128 picture fills from its columns 64..191 and fits inside frame
// rows 32..95.
struct FitGeometry {
    int32_t srcX, srcY, srcW, srcH;
    int32_t dstX, dstY, dstW, dstH;
};
// `width` x `height` is the upright picture (both at least 1).
FitGeometry ComputeFitGeometry(int32_t width, int32_t height, FitMode mode);
// The geometry of the `region` of an upright picture `height` rows high,
// fitted as if it were the whole picture (its source rectangle lies within
// the region).
FitGeometry ComputeRegionGeometry(const PictureRect& region, int32_t height, FitMode mode);
// The source rectangle of a geometry on a picture `height` rows high, in
// PictureRect's top-down counting.
PictureRect ShownPart(const FitGeometry& g, int32_t height);

// The part of the upright picture (turned by the Exif `orientation`) that a
// fit with `options` treats as the whole picture: the region asked for, the
// square around the subject (a fill with FitFocus::kSubject), or the whole
// picture. False when the raster is not readable or the region asked for is
// not inside the picture.
bool PartToFit(const LoadBuffers& lb, const FitOptions& options, int orientation,
               PictureRect& part);

// Fits the decoded raster (from its row 0: the row cursor is put there)
// into the 128 x 128 `block`. `orientation` is the Exif value 1..8 (0 or
// anything else: as stored); it is applied whatever options.upright says
// (callers pass 1 to leave the picture as stored). Stretch, not smooth,
// orientation 1 is exactly FitToFrame(lb, 128, 128, block). An unreadable
// raster gives a black picture, as in FitToFrame, and so does a region
// that is not inside the picture (then false; else true).
bool FitWithOptions(LoadBuffers& lb, const FitOptions& options, int orientation, FrameImage& block);
// The fit of the `part` of the upright picture (as PartToFit gives it) with
// the mode and smoothing of `options`; a part not inside the picture gives
// a black picture.
void FitPart(LoadBuffers& lb, const FitOptions& options, int orientation, const PictureRect& part,
             FrameImage& block);

// What a load made of the picture: its upright size, the part the fit took
// as the whole picture, and the part the frame shows (a fill's square of it).
// The Exif orientation applied (1: the picture as stored) and the fit's
// geometry on the part, for a caller that tells the user.
struct FitReport {
    int orientation = 1;
    int32_t width = 0, height = 0;
    PictureRect part, shown;
    FitGeometry geometry{};
    bool regionOutside = false; // the region asked for is not inside the picture
};

// The load of a picture the user asked for (a click, a tool's picture, each
// CLI input): decodes `path` by its type and fits it with `options` into
// `block`; when options.upright a JPEG is turned by its Exif orientation.
// `block` gets the fit only when the raster is the file's own (kPartial,
// kComplete; a partial one as stored); for kRefused and kUnknownType it is
// left as it was, the reason in LastDecodeFailure(). A JPEG is decoded only
// where a sharp fit reads (MarkLinesTheFitReads); for a smooth fit each row
// goes into the fit as the decoder finishes it. Either way the block is the
// fit of the full decode; stretch, not smooth, on a file without an
// orientation is exactly FitToFrame's picture. A region asked for that is
// not inside the picture gives kRefused (report->regionOutside, the reason
// in LastDecodeFailure()). `report`, when given, gets what was made.
DecodeOutcome LoadForFrame(DecoderSet& set, const char* path, const FitOptions& options,
                           FrameImage& block, FitReport* report = nullptr);

// Decodes `path` whole by its type for a caller that looks at the picture
// before it fits parts of it (FitPart): the raster in set.buffers with the
// row cursor at its row 0, `orientation` the one to apply (the Exif value
// when `upright` and the decode is complete, else 1). The outcomes are
// LoadForFrame's.
DecodeOutcome DecodeWholePicture(DecoderSet& set, const char* path, bool upright, int& orientation);

// The whole upright picture stretched to w x h (any size from 1), one
// source pixel per pixel by the stretch's sampling rule, into `pixels`:
// 24-bit rows of `stride` bytes, the bottom row first. Black for a raster
// that cannot be read; false, writing nothing, for a size below 1.
bool StretchUprightInto(LoadBuffers& lb, int orientation, int32_t w, int32_t h, uint8_t* pixels,
                        int32_t stride);

// The whole upright picture (turned by the Exif `orientation`, as in
// FitWithOptions) stretched to w x h by FitToFrame's sampling rule, written
// into `block` as FitToFrame writes a w x h picture: its header, rows padded
// to 4 bytes. Orientation 1 is exactly FitToFrame(lb, w, h, block). False,
// writing nothing, for a size outside 1..kFrameSide.
bool StretchUpright(LoadBuffers& lb, int orientation, int w, int h, FrameImage& block);
// The stored columns and rows StretchUpright reads, in the shape of
// SampleMasks (none for a size it refuses).
void MarkLinesTheStretchReads(int32_t width, int32_t height, int orientation, int w, int h,
                              uint8_t* columns, uint8_t* rows);

// The raster lines a fit reads, for a decoder that can skip the others:
// `columns` gets `width` entries, `rows` gets `height` entries, 1 for each
// stored column / row (rows top-down: entry 0 is the first row of the file,
// memory row height - 1) that FitWithOptions with these options and
// orientation reads, 0 for the others. Without smoothing that is one column
// and row per frame pixel; smoothing reads every line of the shown part
// (fill leaves the cut edges out). A fill around the subject reads every
// line; a region not inside the picture, none. Empty vectors for a size
// below 1.
void LinesTheFitReads(int32_t width, int32_t height, const FitOptions& options, int orientation,
                      std::vector<uint8_t>& columns, std::vector<uint8_t>& rows);
// The same into `width` and `height` bytes, in the shape of SampleMasks.
void MarkLinesTheFitReads(int32_t width, int32_t height, const FitOptions& options, int orientation,
                          uint8_t* columns, uint8_t* rows);
