// The Crop dialog (template 111). Controls: preview 1029 (the marking area),
// "Crop to Move" 1026, OK 1, Cancel 2. Pointers: open hand (icon 114) over a
// cut-out block, closed hand (cursor 116) while dragging it, else the arrow.

#include "app/app_win.h"
#include "tools/crop.h"
#include "resources/resource.h"
#include "app/tool_dialog_win.h"

namespace {

CropSession g_crop;

void SetPointer(CropPointer pointer) {
    HCURSOR c = nullptr;
    switch (pointer) {
    case CropPointer::OpenHand:
        c = reinterpret_cast<HCURSOR>(LoadIconA(g_app.instance, MAKEINTRESOURCEA(IDI_HAND_OPEN)));
        break;
    case CropPointer::ClosedHand:
        c = LoadCursorA(g_app.instance, MAKEINTRESOURCEA(IDC_HAND_GRAB));
        break;
    case CropPointer::Arrow: break;
    }
    SetCursor(c ? c : LoadCursorA(nullptr, MAKEINTRESOURCEA(32512))); // IDC_ARROW
}

void OnInitDialog(HWND dialog) {
    ToolPoint at = PlaceFirstPreview(dialog, IDC_TOOL_PREVIEW, kToolPreviewSide);
    g_crop = CropSession{};
    StartCrop(g_crop, PickAreaOf(SinglePreviewBox(at)), *g_app.WorkImage, *g_toolScratch.first);
}

void OnPaint(HWND dialog) {
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    PaintPreview(dialog, IDC_TOOL_PREVIEW, *g_app.WorkImage);
    PaintMark(ps.hdc, g_crop.mark.SelectionRect);
    EndPaint(dialog, &ps);
}

void OnMouse(HWND dialog, UINT message, LPARAM lParam) {
    ToolPoint p = PointerFromLParam(static_cast<uint32_t>(lParam));
    CropResponse r;
    // A quick second press arrives as a double click: it is a press all the same.
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK)
        r = CropPress(g_crop, p);
    else if (message == WM_MOUSEMOVE)
        r = CropMove(g_crop, p);
    else
        r = CropRelease(g_crop, p);
    SetPointer(r.pointer);
    if (r.repaint) InvalidateRect(dialog, nullptr, TRUE);
}

void OnCommand(HWND dialog, int id) {
    switch (id) {
    case IDC_CROP_CUT:
        if (CutBlock(g_crop)) InvalidateRect(dialog, nullptr, TRUE);
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

INT_PTR CALLBACK CropDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
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
