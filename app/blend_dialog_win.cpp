// The Alpha Blending dialog (template 109). Controls: current picture 1028,
// background 1027, result 1029, track bar 1025 (background share 0-100),
// "Open Background Image" 1026, OK 1, Cancel 2. The background and the last
// committed share stay for the next opening.

#include "app/app_win.h"
#include "tools/blend.h"
#include "resources/resource.h"
#include "app/tool_dialog_win.h"

namespace {

void Blend(int percent) {
    BlendWithBackground(percent, CurrentPicture(g_app.history), *g_app.BackgroundImage,
                        *g_app.WorkImage);
}

void OnInitDialog(HWND dialog) {
    ToolPoint at = PlaceFirstPreview(dialog, IDC_BLEND_CURRENT, kToolPreviewSide);
    BlendPreviewLayout layout = LayOutBlendPreviews(at);
    PlacePreview(dialog, IDC_BLEND_BACKGROUND, layout.background);
    PlacePreview(dialog, IDC_TOOL_PREVIEW, layout.result);
    SetUpTrackBar(dialog, IDC_BLEND_TRACK, kBlendTrackBar, g_app.BlendPercent);
    Blend(g_app.BlendPercent);
}

void PaintAll(HWND dialog) {
    PaintPreview(dialog, IDC_BLEND_CURRENT, CurrentPicture(g_app.history));
    PaintPreview(dialog, IDC_TOOL_PREVIEW, *g_app.WorkImage);
    PaintPreview(dialog, IDC_BLEND_BACKGROUND, *g_app.BackgroundImage);
}

void OnPaint(HWND dialog) {
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    PaintAll(dialog);
    EndPaint(dialog, &ps);
}

void OnTrackBar(HWND dialog, WPARAM wParam, HWND bar) {
    if (!IsTrackBarMove(LOWORD(wParam)) || !bar || GetDlgCtrlID(bar) != IDC_BLEND_TRACK) return;
    Blend(TrackBarPosition(bar));
    PaintPreview(dialog, IDC_TOOL_PREVIEW, *g_app.WorkImage);
    PaintAll(dialog);
}

void OnOpenBackground(HWND dialog) {
    if (!ChooseImageFile(g_app.mainDialog, g_app.BackgroundPath)) return;
    LoadToolPicture(g_app.BackgroundPath, GetDlgItem(dialog, IDC_BLEND_BACKGROUND),
                    *g_app.BackgroundImage);
    // The share committed last, not the track bar's: the next move catches up.
    Blend(g_app.BlendPercent);
    InvalidateRect(dialog, nullptr, TRUE);
}

void OnCommand(HWND dialog, int id) {
    switch (id) {
    case IDC_BLEND_OPEN: OnOpenBackground(dialog); break;
    case IDOK:
        CommitWorkImage();
        g_app.BlendPercent = TrackBarPosition(GetDlgItem(dialog, IDC_BLEND_TRACK));
        EndDialog(dialog, 0);
        break;
    case IDCANCEL: EndDialog(dialog, 0); break;
    default: break;
    }
}

} // namespace

INT_PTR CALLBACK AlphaBlendingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return TRUE;
    case WM_PAINT: OnPaint(dialog); return TRUE;
    case WM_HSCROLL: OnTrackBar(dialog, wParam, reinterpret_cast<HWND>(lParam)); return TRUE;
    case WM_COMMAND: OnCommand(dialog, LOWORD(wParam)); return TRUE;
    default: return FALSE;
    }
}
