#include "cli/cli_edits.h"

#include <cstring>

#include "tools/blend.h"
#include "tools/digital_frame.h"
#include "tools/image_processing.h"
#include "tools/rotate.h"
#include "tools/tool_frame.h"

namespace {

bool IsImageProcessing(EditKind k) {
    switch (k) {
    case EditKind::kNegative:
    case EditKind::kGrey:
    case EditKind::kSepia:
    case EditKind::kBrightness:
    case EditKind::kContrast:
    case EditKind::kZoom: return true;
    default: return false;
    }
}

// One press in the Image Processing dialog: an effect button, or a track bar
// set to its position followed by that track bar's small OK.
void PressImageProcessing(const EditStep& step, EditScratch& s) {
    switch (step.kind) {
    case EditKind::kNegative:
        ApplyImageEffect(ImageEffect::Negative, s.work, s.adjustPreview);
        return;
    case EditKind::kGrey: ApplyImageEffect(ImageEffect::Grayscale, s.work, s.adjustPreview); return;
    case EditKind::kSepia: ApplyImageEffect(ImageEffect::Sepia, s.work, s.adjustPreview); return;
    default: break;
    }
    const ImageTrackBar bar = step.kind == EditKind::kBrightness ? ImageTrackBar::Brightness
                              : step.kind == EditKind::kContrast ? ImageTrackBar::Contrast
                                                                 : ImageTrackBar::Zoom;
    AdjustPreviewFromTrackBar(bar, step.value, s.work, s.zoomScratch, s.adjustPreview);
    CopyFrameImage(s.work, s.adjustPreview);
}

// The Digital Frame dialog with the frame picture loaded: the mark pressed at
// the window's top-left and released at its bottom-right on the frame
// picture's preview, then "Select OK".
void FrameInWindow(const EditStep& step, const FrameImage& frameArt, const FrameImage& current,
                   EditScratch& s) {
    DigitalFrameSession session;
    StartDigitalFrame(session, ToolRect{0, 0, kFrameSide, kFrameSide}, s.scaledPhoto);
    MarkPress(session.mark, ToolPoint{step.window.left, step.window.top});
    MarkRelease(session.mark, ToolPoint{step.window.right, step.window.bottom});
    FitPhotoIntoFrame(session, current, frameArt, s.scaledPhoto, s.work);
}

} // namespace

bool ApplyEdits(const std::vector<EditStep>& edits, const EditPictures& pictures, EditScratch& s,
                FrameImage& picture) {
    // `picture` plays CurrentPicture; a tool opens on WorkImage = a copy of it
    // and its OK copies WorkImage back.
    bool processingOpen = false;
    for (size_t i = 0; i < edits.size(); ++i) {
        const EditStep& step = edits[i];
        if (IsImageProcessing(step.kind)) {
            if (!processingOpen) {
                CopyFrameImage(s.work, picture);
                std::memset(s.zoomScratch.bytes, 0, sizeof s.zoomScratch.bytes);
                CopyFrameImage(s.adjustPreview, s.work);
                processingOpen = true;
            }
            PressImageProcessing(step, s);
            const bool closes = i + 1 == edits.size() || !IsImageProcessing(edits[i + 1].kind);
            if (closes) {
                CopyFrameImage(picture, s.work);
                processingOpen = false;
            }
            continue;
        }
        CopyFrameImage(s.work, picture);
        bool done = true;
        switch (step.kind) {
        case EditKind::kRotateLeft: done = RotateLeft(s.work); break;
        case EditKind::kRotateRight: done = RotateRight(s.work); break;
        case EditKind::kMirror: done = MirrorImage(s.work); break;
        case EditKind::kFlip: done = FlipImage(s.work); break;
        case EditKind::kBlend:
            BlendWithBackground(step.value, picture, *pictures.byStep[i], s.work);
            break;
        case EditKind::kFrame: FrameInWindow(step, *pictures.byStep[i], picture, s); break;
        default: break;
        }
        if (!done) return false;
        CopyFrameImage(picture, s.work);
    }
    return true;
}
