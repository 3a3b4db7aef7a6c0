// The image processing tool: three one-press effects on the working picture,
// and the brightness, contrast and zoom previews computed from it.
//
// The effects change WorkImage in place. The track bars never touch it: each
// move computes AdjustPreview afresh from WorkImage with that one track bar's
// position (the other two count as neutral), and a small OK copies the preview
// back into WorkImage.
#pragma once

#include <array>
#include <cstdint>

#include "picture/frame_image.h"
#include "tools/tool_frame.h"

constexpr TrackBarRange kBrightnessTrackBar{-200, 200};
constexpr TrackBarRange kContrastTrackBar{-100, 100};
constexpr TrackBarRange kZoomTrackBar{-60, 60};

// ---- Effects (on the 128 x 128 pixels, header and tail untouched) ----

void ApplyNegative(FrameImage& work);
// Y = (306 R + 601 G + 117 B) >> 10 into all three bytes.
void ApplyGrayscale(FrameImage& work);
// The usual sepia matrix with float constants, double sums, truncated and
// limited to 255.
void ApplySepia(FrameImage& work);

enum class ImageEffect { Negative, Grayscale, Sepia };
// One effect button: the effect on work, then the preview shows work (any
// untaken track bar adjustment is dropped).
void ApplyImageEffect(ImageEffect effect, FrameImage& work, FrameImage& adjustPreview);

// ---- Brightness and contrast ----

using ToneTable = std::array<uint8_t, 256>;

// Contrast factor k = (ct + 100) x 0.01, 0.01 as a float, k kept in double:
// 0 at -100, just under 1 at 0, just under 2 at 100.
double ContrastFactor(int32_t contrast);
// table[j] = (br + 128) + (j - 128) x k, truncated, limited to 0..255.
ToneTable BuildToneTable(int32_t brightness, int32_t contrast);
// preview byte i = table[work byte i] for the biSizeImage pixel bytes of
// work's header (never past the block); the preview's header is not touched.
void ApplyToneTable(const ToneTable& table, const FrameImage& work, FrameImage& adjustPreview);

// ---- Zoom ----

// The block side for a zoom position and where the block sits in the picture.
struct ZoomBlock {
    int32_t side;   // s, a multiple of 4
    int32_t offset; // o = (128 - s) / 2, for both x and y
};
// s = 128 / (|p| x 0.1), 0.1 as a float, quotient in double, truncated, then
// down to a multiple of 4. Positions -9..9 have no block: side 0.
ZoomBlock ZoomBlockFor(int32_t position);

// Enlarges the width x height block of work at picture (left, top) to the
// full 128 x 128 preview. Returns false (nothing written) for an empty block
// or one that leaves the picture.
bool ZoomIn(int32_t left, int32_t top, int32_t width, int32_t height, const FrameImage& work,
            FrameImage& zoomScratch, FrameImage& adjustPreview);
// Shrinks all of work to width x height and pastes it at picture (left, top)
// into an otherwise black preview; only the top height - 1 rows are pasted,
// so the bottom row of the square stays black. Returns false (nothing
// written) for an empty square or one that leaves the picture.
bool ZoomOut(int32_t left, int32_t top, int32_t width, int32_t height, const FrameImage& work,
             FrameImage& zoomScratch, FrameImage& adjustPreview);
// The zoom track bar. Positions -9..9 leave the preview as it was (whatever
// the last track bar or effect put there); returns whether it changed.
bool ZoomPreview(int32_t position, const FrameImage& work, FrameImage& zoomScratch,
                 FrameImage& adjustPreview);

// ---- The track bar handler, without the track bars ----

enum class ImageTrackBar { Brightness, Contrast, Zoom };
// Recomputes the preview for one track bar moved to `position`; returns
// whether the preview changed (always, except for zoom positions -9..9).
bool AdjustPreviewFromTrackBar(ImageTrackBar bar, int32_t position, const FrameImage& work,
                               FrameImage& zoomScratch, FrameImage& adjustPreview);
