#include "tools/crop.h"

#include <cstring>

namespace {

bool InsidePicture(int32_t x, int32_t y, int32_t width, int32_t height) {
    return width > 0 && height > 0 && x >= 0 && y >= 0 && width <= kFrameSide - x &&
           height <= kFrameSide - y;
}

uint8_t* BlockRow(CropSession& s, int32_t memoryRow) {
    return s.CropBlock->bytes + kFrameHeaderBytes + memoryRow * s.blockWidth * 3;
}

CropPointer CutPointer(const CropSession& s, ToolPoint p) {
    return StrictlyInside(s.mark.SelectionRect, p) ? CropPointer::OpenHand : CropPointer::Arrow;
}

} // namespace

void StartCrop(CropSession& s, const ToolRect& pickArea, FrameImage& work, FrameImage& cropBlock) {
    s = CropSession{};
    StartMarking(s.mark, pickArea);
    s.WorkImage = &work;
    s.CropBlock = &cropBlock;
    ClearToolPicture(cropBlock);
}

CropPhase CropPhaseOf(const CropSession& s) {
    if (s.blockCut) return s.draggingBlock ? CropPhase::Dragging : CropPhase::Cut;
    return s.mark.selecting ? CropPhase::Marking : CropPhase::Idle;
}

bool CutBlock(CropSession& s) {
    const ToolRect& sel = s.mark.SelectionRect;
    if (!MarkUsable(sel)) return false;
    const int32_t bx = sel.left - s.mark.PickArea.left;
    const int32_t by = sel.top - s.mark.PickArea.top;
    const int32_t w = MarkWidth(sel), h = MarkHeight(sel);
    // A mark made in the pick area always lies inside the picture; anything
    // else would read outside the working picture.
    if (!InsidePicture(bx, by, w, h)) return false;

    s.blockCut = true;
    // The mark now frames the block; a release missed earlier must not let it
    // keep growing away from the block.
    s.mark.selecting = false;
    s.blockWidth = w;
    s.blockHeight = h;
    for (int32_t r = 0; r < h; ++r)
        std::memcpy(BlockRow(s, r), s.WorkImage->Row(by + h - 1 - r) + bx * 3, w * 3);
    PlaceBlock(s, bx, by);
    return true;
}

void PlaceBlock(CropSession& s, int32_t px, int32_t py) {
    ClearToolPicture(*s.WorkImage);
    for (int32_t r = 0; r < s.blockHeight; ++r) {
        const int32_t y = py + s.blockHeight - 1 - r;
        if (y < 0 || y >= kFrameSide) continue;
        const uint8_t* from = BlockRow(s, r);
        for (int32_t c = 0; c < s.blockWidth; ++c) {
            const int32_t x = px + c;
            if (x < 0 || x >= kFrameSide) continue;
            std::memcpy(s.WorkImage->Row(y) + x * 3, from + c * 3, 3);
        }
    }
}

void MoveBlockTo(CropSession& s, ToolPoint p) {
    const ToolRect& area = s.mark.PickArea;
    int32_t nx = p.x + s.grabDx;
    int32_t ny = p.y + s.grabDy;
    if (nx < area.left) nx = area.left;
    if (nx >= area.right - s.blockWidth - 2) nx = area.right - s.blockWidth - 2;
    if (ny < area.top) ny = area.top;
    if (ny >= area.bottom - s.blockHeight - 2) ny = area.bottom - s.blockHeight - 2;
    s.mark.SelectionRect = ToolRect{nx, ny, nx + s.blockWidth, ny + s.blockHeight};
    PlaceBlock(s, nx - area.left, ny - area.top);
}

CropResponse CropPress(CropSession& s, ToolPoint p) {
    CropResponse r;
    if (s.blockCut) {
        const ToolRect& sel = s.mark.SelectionRect;
        if (StrictlyInside(sel, p)) {
            s.grabDx = sel.left - p.x;
            s.grabDy = sel.top - p.y;
            s.draggingBlock = true;
            r.pointer = CropPointer::ClosedHand;
            return r;
        }
        // A press beside the block lets go of it for good: the picture keeps
        // the block where it is.
        s.blockCut = false;
        s.draggingBlock = false;
    }
    r.repaint = MarkPress(s.mark, p);
    return r;
}

CropResponse CropMove(CropSession& s, ToolPoint p) {
    CropResponse r;
    if (s.blockCut && s.draggingBlock) {
        MoveBlockTo(s, p);
        r.repaint = true;
        r.pointer = CropPointer::ClosedHand;
    } else if (s.blockCut) {
        r.pointer = CutPointer(s, p);
    } else {
        r.repaint = MarkMove(s.mark, p);
    }
    return r;
}

CropResponse CropRelease(CropSession& s, ToolPoint p) {
    CropResponse r;
    if (s.blockCut && s.draggingBlock) {
        MoveBlockTo(s, p);
        s.draggingBlock = false;
        r.repaint = true;
        r.pointer = CutPointer(s, p);
    } else if (s.blockCut) {
        r.pointer = CutPointer(s, p);
    } else {
        r.repaint = MarkRelease(s.mark, p);
    }
    return r;
}
