// What the five tool dialogs share, minus the Win32 calls: where the previews
// go, the red mark the user drags out with the mouse, and reading track bars.
//
// All positions here are dialog client pixels unless a name says otherwise.
#pragma once

#include <cstdint>

#include "picture/frame_image.h"

struct ToolRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct ToolPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// A preview control's place and size after placement.
struct PreviewBox {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The previews are 128 x 128 pictures in 130 x 130 controls (a 2-pixel strip
// stays free on the right and at the bottom); the digital frame uses 128.
constexpr int32_t kToolPreviewSide = 130;
constexpr int32_t kFramePreviewSide = kFrameSide;
// Window rectangles include the caption; this many pixels stand for it.
constexpr int32_t kCaptionAllowance = 30;

// The mouse messages pack x in the low word and y in the high word of lParam;
// both are taken unsigned (a position left of or above the client area comes
// out as a large number, which lies outside every pick area).
ToolPoint PointerFromLParam(uint32_t lParam);

// Client position of a dialog's first preview, from the window rectangles of
// the dialog and of that preview control.
ToolPoint ToolPreviewPlacement(const ToolRect& dialogWindow, const ToolRect& previewWindow);

// The single 130 x 130 preview of the rotate, crop and image processing tools.
PreviewBox SinglePreviewBox(ToolPoint placement);

// Alpha blending: current picture (1028) at the placement point, background
// (1027) beside it, result (1029) below between them; 130 x 130 each.
struct BlendPreviewLayout {
    PreviewBox current;
    PreviewBox background;
    PreviewBox result;
};
BlendPreviewLayout LayOutBlendPreviews(ToolPoint placement);

// Digital frame: photo (1028), frame picture (1027, where the user marks) and
// result (1029); 128 x 128 each.
struct FramePreviewLayout {
    PreviewBox photo;
    PreviewBox frameArt;
    PreviewBox result;
};
FramePreviewLayout LayOutFramePreviews(ToolPoint placement);

// The rectangle a preview covers, as a pick area for marking.
ToolRect PickAreaOf(const PreviewBox& box);

// ---- Marking a rectangle (crop and digital frame) ----
//
// The press point is always the top-left corner: the mark grows only to the
// right and downwards, and stops 2 pixels before the pick area's right and
// bottom edges. A press in the last column or row of the pick area therefore
// leaves a width or height of -1, which the tools treat as "no mark".
struct MarkState {
    ToolRect PickArea;
    ToolRect SelectionRect;
    bool selecting = false;
};

// Fresh state for a dialog opening: no mark, not selecting.
void StartMarking(MarkState& mark, const ToolRect& pickArea);

// Each returns true when the dialog must repaint (the mark changed).
// A press counts only strictly inside the pick area.
bool MarkPress(MarkState& mark, ToolPoint p);
// Extends the mark while selecting; moves left of or above the start leave
// that edge where it was.
bool MarkMove(MarkState& mark, ToolPoint p);
// Finishes the mark. Without mouse capture a release outside the dialog is
// never seen, so `selecting` stays on and later moves keep extending it.
bool MarkRelease(MarkState& mark, ToolPoint p);

inline int32_t MarkWidth(const ToolRect& r) {
    return r.right - r.left;
}
inline int32_t MarkHeight(const ToolRect& r) {
    return r.bottom - r.top;
}
// Whether the tools may act on the mark (both sizes positive).
inline bool MarkUsable(const ToolRect& r) {
    return MarkWidth(r) > 0 && MarkHeight(r) > 0;
}
inline bool StrictlyInside(const ToolRect& r, ToolPoint p) {
    return r.left < p.x && p.x < r.right && r.top < p.y && p.y < r.bottom;
}

// ---- Track bars ----

// Only these two notification codes (low word of wParam) move a tool's
// picture; a real drag ends with TB_ENDTRACK more than once, which is
// harmless because every handler recomputes from its inputs.
constexpr int kTrackBarThumbTrack = 5; // TB_THUMBTRACK
constexpr int kTrackBarEndTrack = 8;   // TB_ENDTRACK
inline bool IsTrackBarMove(int notificationCode) {
    return notificationCode == kTrackBarThumbTrack || notificationCode == kTrackBarEndTrack;
}

struct TrackBarRange {
    int32_t minimum;
    int32_t maximum;
};

// ---- Scratch pictures ----

// A tool's scratch picture at dialog start: zero-filled (black) with the
// 128 x 128 header.
void ClearToolPicture(FrameImage& picture);
