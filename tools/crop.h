// Crop to move: cut the marked block out of the working picture (the rest goes
// black) and drag it elsewhere with the mouse.
//
// The dialog keeps one CropSession per opening and feeds it the three mouse
// messages; each call says whether to repaint and which pointer to set
// (SetCursor on every one of those messages, since the dialog does not handle
// WM_SETCURSOR).
//
// States: Idle (no block), Marking (selecting), Cut (blockCut, block at rest),
// Dragging (blockCut and draggingBlock).
#pragma once

#include <cstdint>

#include "picture/frame_image.h"
#include "tools/tool_frame.h"

enum class CropPointer {
    Arrow,      // IDC_ARROW
    OpenHand,   // icon group 114, over the cut-out block
    ClosedHand, // cursor group 116, while the block is held
};

struct CropResponse {
    bool repaint = false;
    CropPointer pointer = CropPointer::Arrow;
};

enum class CropPhase { Idle, Marking, Cut, Dragging };

struct CropSession {
    // PickArea, SelectionRect and selecting; after a cut SelectionRect always
    // frames the block, in dialog client pixels.
    MarkState mark;
    bool blockCut = false;
    bool draggingBlock = false;
    int32_t blockWidth = 0;
    int32_t blockHeight = 0;
    // Block's left minus pointer x and top minus pointer y at the grab.
    int32_t grabDx = 0;
    int32_t grabDy = 0;
    // Both owned by the caller. CropBlock holds the cut-out block from byte 40
    // on as packed rows (blockWidth x 3 bytes), bottom row first; its header is
    // the 128 x 128 one from the start and is not updated.
    FrameImage* WorkImage = nullptr;
    FrameImage* CropBlock = nullptr;
};

// A dialog opening: the pick area is the 130 x 130 preview; no mark, no block;
// CropBlock is cleared and given the 128 x 128 header.
void StartCrop(CropSession& s, const ToolRect& pickArea, FrameImage& work, FrameImage& cropBlock);

CropPhase CropPhaseOf(const CropSession& s);

// "Crop to Move": cuts the marked block (or, after a cut, the block at its
// present place again). Does nothing and returns false for a mark without a
// positive width and height, or one that does not lie inside the picture;
// returns true (repaint) after a cut.
bool CutBlock(CropSession& s);
// Clears the working picture to black with the 128 x 128 header and puts the
// block there with its top-left pixel at picture (px, py). Pixels that would
// land outside the picture are left out.
void PlaceBlock(CropSession& s, int32_t px, int32_t py);
// Moves the held block so that the grab point follows the pointer, keeping
// the block wholly inside the picture; updates SelectionRect to frame it.
void MoveBlockTo(CropSession& s, ToolPoint p);

CropResponse CropPress(CropSession& s, ToolPoint p);
CropResponse CropMove(CropSession& s, ToolPoint p);
CropResponse CropRelease(CropSession& s, ToolPoint p);
