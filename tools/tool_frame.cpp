#include "tools/tool_frame.h"

#include <algorithm>
#include <cstring>

ToolPoint PointerFromLParam(uint32_t lParam) {
    ToolPoint p;
    p.x = static_cast<int32_t>(lParam & 0xFFFFu);
    p.y = static_cast<int32_t>((lParam >> 16) & 0xFFFFu);
    return p;
}

ToolPoint ToolPreviewPlacement(const ToolRect& dialogWindow, const ToolRect& previewWindow) {
    ToolPoint p;
    p.x = previewWindow.left - dialogWindow.left;
    p.y = previewWindow.top - dialogWindow.top - kCaptionAllowance;
    return p;
}

namespace {

PreviewBox BoxAt(ToolPoint placement, int32_t dx, int32_t dy, int32_t side) {
    PreviewBox b;
    b.x = placement.x + dx;
    b.y = placement.y + dy;
    b.width = side;
    b.height = side;
    return b;
}

} // namespace

PreviewBox SinglePreviewBox(ToolPoint placement) {
    return BoxAt(placement, 0, 0, kToolPreviewSide);
}

BlendPreviewLayout LayOutBlendPreviews(ToolPoint placement) {
    BlendPreviewLayout l;
    l.current = BoxAt(placement, 0, 0, kToolPreviewSide);
    l.background = BoxAt(placement, 138, 0, kToolPreviewSide);
    l.result = BoxAt(placement, 64, 160, kToolPreviewSide);
    return l;
}

FramePreviewLayout LayOutFramePreviews(ToolPoint placement) {
    FramePreviewLayout l;
    l.photo = BoxAt(placement, 0, 0, kFramePreviewSide);
    l.frameArt = BoxAt(placement, 138, 0, kFramePreviewSide);
    l.result = BoxAt(placement, 64, 158, kFramePreviewSide);
    return l;
}

ToolRect PickAreaOf(const PreviewBox& box) {
    ToolRect r;
    r.left = box.x;
    r.top = box.y;
    r.right = box.x + box.width;
    r.bottom = box.y + box.height;
    return r;
}

void StartMarking(MarkState& mark, const ToolRect& pickArea) {
    mark.PickArea = pickArea;
    mark.SelectionRect = ToolRect{};
    mark.selecting = false;
}

bool MarkPress(MarkState& mark, ToolPoint p) {
    if (!StrictlyInside(mark.PickArea, p)) return false;
    mark.selecting = true;
    mark.SelectionRect = ToolRect{p.x, p.y, p.x, p.y};
    return true;
}

bool MarkMove(MarkState& mark, ToolPoint p) {
    if (!mark.selecting) return false;
    ToolRect& s = mark.SelectionRect;
    if (p.x > s.left) s.right = std::min(p.x, mark.PickArea.right - 2);
    if (p.y > s.top) s.bottom = std::min(p.y, mark.PickArea.bottom - 2);
    return true;
}

bool MarkRelease(MarkState& mark, ToolPoint p) {
    if (!mark.selecting) return false;
    mark.selecting = false;
    ToolRect& s = mark.SelectionRect;
    s.right = std::min(std::max(p.x, s.left), mark.PickArea.right - 2);
    s.bottom = std::min(std::max(p.y, s.top), mark.PickArea.bottom - 2);
    return true;
}

void ClearToolPicture(FrameImage& picture) {
    std::memset(picture.bytes, 0, sizeof picture.bytes);
    InitFrameHeader(kFrameSide, kFrameSide, picture.bytes);
}
