// The shared frame of the tool dialogs (templates 109, 110, 111, 117, 119).
#include "app/tool_dialog_win.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstring>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/browser_win.h"
#include "codecs/load_picture.h"
#include "resources/resource.h"

ToolScratch g_toolScratch;

namespace {

FrameImage* NewToolPicture() {
    auto* f = static_cast<FrameImage*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, sizeof(FrameImage)));
    if (f) ClearToolPicture(*f);
    return f;
}

ToolRect WindowRectOf(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return {r.left, r.top, r.right, r.bottom};
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwned(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<OwnedSearch*>(data);
    if (GetWindow(window, GW_OWNER) != s->owner || !IsWindowVisible(window)) return TRUE;
    s->found = window;
    return FALSE;
}

// The tool dialog open over `owner`, or nullptr.
HWND OpenToolWindow(HWND owner) {
    if (!ToolDialogOpen()) return nullptr;
    OwnedSearch s = {owner, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), FindOwned, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

} // namespace

bool AcquireToolScratch() {
    g_toolScratch.first = NewToolPicture();
    g_toolScratch.second = NewToolPicture();
    g_toolScratch.redBrush = CreateSolidBrush(RGB(255, 0, 0));
    if (g_toolScratch.first && g_toolScratch.second && g_toolScratch.redBrush) return true;
    ReleaseToolScratch();
    return false;
}

void ReleaseToolScratch() {
    if (g_toolScratch.first) GlobalFree(g_toolScratch.first);
    if (g_toolScratch.second) GlobalFree(g_toolScratch.second);
    if (g_toolScratch.redBrush) DeleteObject(g_toolScratch.redBrush);
    g_toolScratch = ToolScratch{};
}

ToolPoint PlaceFirstPreview(HWND dialog, int previewId, int side) {
    HWND preview = GetDlgItem(dialog, previewId);
    ToolPoint at = ToolPreviewPlacement(WindowRectOf(dialog), WindowRectOf(preview));
    MoveWindow(preview, at.x, at.y, side, side, TRUE);
    return at;
}

void PlacePreview(HWND dialog, int previewId, const PreviewBox& box) {
    MoveWindow(GetDlgItem(dialog, previewId), box.x, box.y, box.width, box.height, TRUE);
}

void PaintPreview(HWND dialog, int previewId, const FrameImage& picture) {
    PaintFrameImage(GetDlgItem(dialog, previewId), picture);
}

void PaintMark(HDC paintDc, const ToolRect& mark) {
    RECT r = {mark.left, mark.top, mark.right, mark.bottom};
    if (g_toolScratch.redBrush) FrameRect(paintDc, &r, g_toolScratch.redBrush);
}

void SetUpTrackBar(HWND dialog, int id, TrackBarRange range, int position) {
    HWND bar = GetDlgItem(dialog, id);
    SendMessageA(bar, TBM_SETRANGE, TRUE, MAKELPARAM(range.minimum, range.maximum));
    SendMessageA(bar, TBM_SETPOS, TRUE, position);
}

int TrackBarPosition(HWND trackBar) {
    return static_cast<int>(SendMessageA(trackBar, TBM_GETPOS, 0, 0));
}

void CommitWorkImage() {
    PushState(g_app.history);
    CopyFrameImage(CurrentPicture(g_app.history), *g_app.WorkImage);
}

void PrepareOpenFileName(OPENFILENAMEA& ofn, HWND owner) {
    std::memset(&ofn, 0, sizeof ofn);
    // The record as Windows 2000 defined it (76 bytes in the 32-bit
    // program): the later reserved fields stay outside the size.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = owner;
    ofn.hInstance = g_app.instance;
}

int ChooseImageFile(HWND owner, char* path) {
    path[0] = 0;
    OPENFILENAMEA ofn;
    PrepareOpenFileName(ofn, owner);
    ofn.lpstrFilter = PictureFileFilter(); // every extension the readers know
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = path;
    ofn.nMaxFile = kPathBytes;
    ofn.lpstrTitle = "Find baground image (bmp, jpg, gif)";
    ofn.Flags = OFN_EXPLORER;
    // The file dialog belongs to the main dialog, and enables it again when
    // it closes. The tool that asked is still open: the main dialog stays
    // disabled, and the tool takes no input while the file dialog is up.
    HWND tool = OpenToolWindow(owner);
    if (tool) EnableWindow(tool, FALSE);
    int chosen = GetOpenFileNameA(&ofn) ? 1 : 0;
    if (tool) {
        EnableWindow(owner, FALSE);
        EnableWindow(tool, TRUE);
        SetActiveWindow(tool);
    }
    return chosen;
}

void LoadToolPicture(const char* path, HWND preview, FrameImage& picture) {
    StopLoader(true);
    LoadPicture(path, preview, picture);
}

void TellNotEnoughMemory(HWND owner) {
    MessageBoxA(owner, "There is not enough memory to open this tool.", "Pixmora",
                MB_OK | MB_ICONWARNING);
}

DLGPROC ToolDialogProcFor(int templateId) {
    switch (templateId) {
    case IDD_BLEND: return AlphaBlendingDialogProc;
    case IDD_ROTATE: return RotateDialogProc;
    case IDD_CROP: return CropDialogProc;
    case IDD_PROCESS: return ImageProcessingDialogProc;
    case IDD_FRAME: return DigitalFrameDialogProc;
    default: return nullptr;
    }
}
