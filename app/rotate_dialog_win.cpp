// The Rotate dialog (template 110). Controls: preview 1029, Rotate Left 3,
// Rotate Right 4, Mirror 6, Flip 7, OK 1, Cancel 2. Every button changes the
// working copy at once; OK commits all presses as one history state.

#include "app/app_win.h"
#include "tools/rotate.h"
#include "resources/resource.h"
#include "app/tool_dialog_win.h"

namespace {

void OnCommand(HWND dialog, int id) {
    FrameImage& work = *g_app.WorkImage;
    bool done = true;
    switch (id) {
    case IDC_TOOL_LEFT: done = RotateLeft(work); break;
    case IDC_TOOL_RIGHT: done = RotateRight(work); break;
    case IDC_TOOL_MIRROR: done = MirrorImage(work); break;
    case IDC_TOOL_FLIP: done = FlipImage(work); break;
    case IDOK:
        CommitWorkImage();
        EndDialog(dialog, 0);
        return;
    case IDCANCEL: EndDialog(dialog, 0); return;
    default: return;
    }
    if (!done) TellNotEnoughMemory(dialog);
    InvalidateRect(dialog, nullptr, TRUE);
}

void OnPaint(HWND dialog) {
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    PaintPreview(dialog, IDC_TOOL_PREVIEW, *g_app.WorkImage);
    EndPaint(dialog, &ps);
}

} // namespace

INT_PTR CALLBACK RotateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: PlaceFirstPreview(dialog, IDC_TOOL_PREVIEW, kToolPreviewSide); return TRUE;
    case WM_PAINT: OnPaint(dialog); return TRUE;
    case WM_COMMAND: OnCommand(dialog, LOWORD(wParam)); return TRUE;
    default: return FALSE;
    }
}
