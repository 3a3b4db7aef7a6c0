#include "picture/history.h"

namespace {
int Forward(int i) {
    return (i + 1) % kHistorySlots;
}
int Back(int i) {
    return (i + kHistorySlots - 1) % kHistorySlots;
}
} // namespace

void InitHistoryRing(HistoryRing& ring, FrameImage* const blocks[kHistorySlots]) {
    for (int i = 0; i < kHistorySlots; ++i) {
        ring.slot[i] = blocks[i];
        InitFrameHeader(kFrameSide, kFrameSide, ring.slot[i]->bytes);
        ring.valid[i] = -1;
    }
    ring.head = 0;
    ring.cursor = 0;
}

FrameImage& CurrentPicture(HistoryRing& ring) {
    return *ring.slot[ring.head];
}
FrameImage& CursorPicture(HistoryRing& ring) {
    return *ring.slot[ring.cursor];
}

void PushState(HistoryRing& ring) {
    ring.head = Forward(ring.head);
    ring.valid[ring.head] = 1;
    ring.cursor = ring.head;
}

void DropRedo(HistoryRing& ring) {
    while (ring.cursor != ring.head) {
        ring.valid[ring.head] = -1;
        ring.head = Back(ring.head);
    }
}

UndoRedoState UndoStep(HistoryRing& ring) {
    ring.cursor = Back(ring.cursor);
    // Only the slot behind the new cursor decides whether a further Undo is offered.
    int p = Back(ring.cursor);
    return {ring.valid[p] != -1 && p != ring.head, true};
}

UndoRedoState RedoStep(HistoryRing& ring) {
    ring.cursor = Forward(ring.cursor);
    return {true, ring.cursor != ring.head};
}
