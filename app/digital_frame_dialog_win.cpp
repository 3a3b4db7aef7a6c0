// The Digital Frame dialog (template 119). Controls: photo 1028, frame
// picture 1027 (the marking area), result 1029, "Open Frame Image" 1033,
// "Select OK" 1031, OK 1, Cancel 2. The frame picture stays for the next
// opening.

#include "app/app_win.h"
#include "tools/digital_frame.h"
#include "resources/resource.h"
#include "app/tool_dialog_win.h"

namespace {

DigitalFrameSession g_frame;

FrameImage& ScaledPhoto() {
    return *g_toolScratch.first;
}

void OnInitDialog(HWND dialog) {
    ToolPoint at = PlaceFirstPreview(dialog, IDC_FRAME_PHOTO, kFramePreviewSide);
    FramePreviewLayout layout = LayOutFramePreviews(at);
    PlacePreview(dialog, IDC_FRAME_ART, layout.frameArt);
    PlacePreview(dialog, IDC_TOOL_PREVIEW, layout.result);
    g_frame = DigitalFrameSession{};
    StartDigitalFrame(g_frame, PickAreaOf(layout.frameArt), ScaledPhoto());
}

void OnPaint(HWND dialog) {
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    PaintPreview(dialog, IDC_FRAME_PHOTO, CurrentPicture(g_app.history));
    PaintPreview(dialog, IDC_TOOL_PREVIEW, *g_app.WorkImage);
    PaintPreview(dialog, IDC_FRAME_ART, *g_app.FrameArtImage);
    PaintMark(ps.hdc, g_frame.mark.SelectionRect);
    EndPaint(dialog, &ps);
}

void OnMouse(HWND dialog, UINT message, LPARAM lParam) {
    ToolPoint p = PointerFromLParam(static_cast<uint32_t>(lParam));
    bool repaint;
    // A quick second press arrives as a double click: it is a press all the same.
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK)
        repaint = MarkPress(g_frame.mark, p);
    else if (message == WM_MOUSEMOVE)
        repaint = MarkMove(g_frame.mark, p);
    else
        repaint = MarkRelease(g_frame.mark, p);
    if (repaint) InvalidateRect(dialog, nullptr, TRUE);
}

void OnCommand(HWND dialog, int id) {
    switch (id) {
    case IDC_FRAME_OPEN:
        if (ChooseImageFile(g_app.mainDialog, g_app.FrameArtPath)) {
            LoadToolPicture(g_app.FrameArtPath, GetDlgItem(dialog, IDC_FRAME_ART),
                            *g_app.FrameArtImage);
            InvalidateRect(dialog, nullptr, TRUE);
        }
        break;
    case IDC_FRAME_SELECT:
        if (FitPhotoIntoFrame(g_frame, CurrentPicture(g_app.history), *g_app.FrameArtImage,
                              ScaledPhoto(), *g_app.WorkImage))
            InvalidateRect(dialog, nullptr, TRUE);
        break;
    case IDOK:
        CommitWorkImage();
        EndDialog(dialog, 0);
        break;
    case IDCANCEL: EndDialog(dialog, 0); break;
    default: break;
    }
}

} // namespace

INT_PTR CALLBACK DigitalFrameDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return TRUE;
    case WM_PAINT: OnPaint(dialog); return TRUE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: OnMouse(dialog, message, lParam); return TRUE;
    case WM_COMMAND: OnCommand(dialog, LOWORD(wParam)); return TRUE;
    default: return FALSE;
    }
}
