// The Image Processing dialog (template 117). Controls: preview 1029;
// Negative 1027, Grayscale 1028, Sepia 1031; track bars brightness 1032,
// contrast 1026, zoom 1030 with their small OK buttons 1036-1038; OK 1,
// Cancel 2. Effects change the working copy at once; track bars only compute
// the preview (AdjustPreview), which a small OK takes into the working copy.

#include <cstring>

#include "app/app_win.h"
#include "tools/image_processing.h"
#include "resources/resource.h"
#include "app/tool_dialog_win.h"

namespace {

FrameImage& AdjustPreview() {
    return *g_toolScratch.first;
}
FrameImage& ZoomScratch() {
    return *g_toolScratch.second;
}

void OnInitDialog(HWND dialog) {
    PlaceFirstPreview(dialog, IDC_TOOL_PREVIEW, kToolPreviewSide);
    SetUpTrackBar(dialog, IDC_PROC_BRIGHTNESS, kBrightnessTrackBar, 0);
    SetUpTrackBar(dialog, IDC_PROC_CONTRAST, kContrastTrackBar, 0);
    SetUpTrackBar(dialog, IDC_PROC_ZOOM, kZoomTrackBar, 0);
    // The zoom writes its own header into ZoomScratch; it starts without one.
    std::memset(ZoomScratch().bytes, 0, sizeof(FrameImage));
    CopyFrameImage(AdjustPreview(), *g_app.WorkImage);
}

void OnTrackBar(HWND dialog, WPARAM wParam, HWND bar) {
    if (!IsTrackBarMove(LOWORD(wParam)) || !bar) return;
    ImageTrackBar which;
    switch (GetDlgCtrlID(bar)) {
    case IDC_PROC_BRIGHTNESS: which = ImageTrackBar::Brightness; break;
    case IDC_PROC_CONTRAST: which = ImageTrackBar::Contrast; break;
    case IDC_PROC_ZOOM: which = ImageTrackBar::Zoom; break;
    default: return;
    }
    if (AdjustPreviewFromTrackBar(which, TrackBarPosition(bar), *g_app.WorkImage, ZoomScratch(),
                                  AdjustPreview()))
        PaintPreview(dialog, IDC_TOOL_PREVIEW, AdjustPreview());
}

void OnEffect(HWND dialog, ImageEffect effect) {
    ApplyImageEffect(effect, *g_app.WorkImage, AdjustPreview());
    InvalidateRect(dialog, nullptr, TRUE);
}

void OnCommand(HWND dialog, int id) {
    switch (id) {
    case IDC_PROC_NEGATIVE: OnEffect(dialog, ImageEffect::Negative); break;
    case IDC_PROC_GRAYSCALE: OnEffect(dialog, ImageEffect::Grayscale); break;
    case IDC_PROC_SEPIA: OnEffect(dialog, ImageEffect::Sepia); break;
    case IDC_PROC_TAKE_BRIGHTNESS:
    case IDC_PROC_TAKE_CONTRAST:
    case IDC_PROC_TAKE_ZOOM: CopyFrameImage(*g_app.WorkImage, AdjustPreview()); break;
    case IDOK:
        CommitWorkImage();
        EndDialog(dialog, 0);
        break;
    case IDCANCEL: EndDialog(dialog, 0); break;
    default: break;
    }
}

void OnPaint(HWND dialog) {
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    PaintPreview(dialog, IDC_TOOL_PREVIEW, AdjustPreview());
    EndPaint(dialog, &ps);
}

} // namespace

INT_PTR CALLBACK ImageProcessingDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return TRUE;
    case WM_PAINT: OnPaint(dialog); return TRUE;
    case WM_HSCROLL: OnTrackBar(dialog, wParam, reinterpret_cast<HWND>(lParam)); return TRUE;
    case WM_COMMAND: OnCommand(dialog, LOWORD(wParam)); return TRUE;
    default: return FALSE;
    }
}
