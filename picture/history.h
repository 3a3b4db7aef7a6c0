// The 20-state edit history behind Undo and Redo.
//
// States sit in a ring of 20 picture blocks. `head` is the newest state (the
// current picture), `cursor` the state last shown by Undo/Redo. Walking from
// `cursor` forward to `head` gives the redo states; walking backwards from
// `cursor` over slots marked valid gives the undo states.
#pragma once

#include <cstdint>

#include "picture/frame_image.h"
#include "picture/limits.h"

struct HistoryRing {
    FrameImage* slot[kHistorySlots] = {}; // blocks owned by the caller
    int32_t head = 0;
    int32_t cursor = 0;
    int32_t valid[kHistorySlots] = {}; // -1: no state, 1: holds a state
};

// Which of the two buttons are enabled.
struct UndoRedoState {
    bool undo;
    bool redo;
};

// Takes 20 zero-filled blocks, gives each the 128 x 128 header (black
// pictures) and marks every slot empty, the start slot included.
void InitHistoryRing(HistoryRing& ring, FrameImage* const blocks[kHistorySlots]);

FrameImage& CurrentPicture(HistoryRing& ring);
// The picture Undo/Redo last showed (equal to CurrentPicture outside an undo walk).
FrameImage& CursorPicture(HistoryRing& ring);

// Opens a new state at head; the caller writes the picture into
// CurrentPicture right after. Overwrites the oldest state when the ring is full.
void PushState(HistoryRing& ring);
// Discards the states after the cursor, so the picture last shown by
// Undo/Redo becomes the current one.
void DropRedo(HistoryRing& ring);
// Move the cursor one state back/forward and tell which buttons stay enabled.
// The caller repaints CursorPicture.
UndoRedoState UndoStep(HistoryRing& ring);
UndoRedoState RedoStep(HistoryRing& ring);
