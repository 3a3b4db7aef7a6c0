#include "tools/digital_frame.h"

#include <cstring>

#include "tools/resampler.h"

void StartDigitalFrame(DigitalFrameSession& s, const ToolRect& pickArea, FrameImage& ScaledPhoto) {
    s = DigitalFrameSession{};
    StartMarking(s.mark, pickArea);
    ClearToolPicture(ScaledPhoto);
}

int32_t FrameWindowSide(int32_t side) {
    return side > 4 ? side - side % 4 : side;
}

bool FitPhotoIntoFrame(DigitalFrameSession& s, const FrameImage& current,
                       const FrameImage& frameArt, FrameImage& ScaledPhoto, FrameImage& work) {
    ToolRect& sel = s.mark.SelectionRect;
    if (!MarkUsable(sel)) return false;
    const int32_t w = FrameWindowSide(MarkWidth(sel));
    const int32_t h = FrameWindowSide(MarkHeight(sel));
    sel.right = sel.left + w;
    sel.bottom = sel.top + h;
    if (!ResampleImage(w, h, current, ScaledPhoto)) return false;
    s.scaledWidth = w;
    s.scaledHeight = h;
    ComposeFrame(sel.left - s.mark.PickArea.left, sel.top - s.mark.PickArea.top, w, h, frameArt,
                 ScaledPhoto, work);
    return true;
}

void ComposeFrame(int32_t dx, int32_t dy, int32_t scaledWidth, int32_t scaledHeight,
                  const FrameImage& frameArt, const FrameImage& ScaledPhoto, FrameImage& work) {
    CopyFrameImage(work, frameArt);
    if (scaledHeight < 2 || scaledWidth < 1) return;
    // Never read past ScaledPhoto's block, whatever sizes come in.
    if (static_cast<int64_t>(scaledWidth) * scaledHeight * 3 > kFrameImageSize - kFrameHeaderBytes)
        return;
    const uint8_t* photo = ScaledPhoto.bytes + kFrameHeaderBytes;
    const int32_t stride = scaledWidth * 3;
    // Window row r (from the top) is photo memory row scaledHeight - 1 - r;
    // r = scaledHeight - 1, the bottom one, is not pasted.
    for (int32_t r = 0; r + 1 < scaledHeight; ++r) {
        const int32_t y = dy + r;
        if (y < 0 || y >= kFrameSide) continue;
        const uint8_t* from = photo + (scaledHeight - 1 - r) * stride;
        for (int32_t c = 0; c < scaledWidth; ++c) {
            const int32_t x = dx + c;
            if (x < 0 || x >= kFrameSide) continue;
            std::memcpy(work.Row(y) + x * 3, from + c * 3, 3);
        }
    }
}
