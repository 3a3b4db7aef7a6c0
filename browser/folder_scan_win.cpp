// The folder scan (dialog thread) and the thumbnail loader thread.
//
// ScanFolder collects the picture names of the selected folder and starts
// ThumbnailLoader, which fills the folder list (control 1002) with one item
// per name and then draws an 80 x 72 thumbnail for each. The two threads share
// the decoders and their buffers without a lock; LoaderStopFlag and
// LoaderBusyFlag (browser/loader_win.cpp) keep them apart. FolderPath,
// NameTable and NameCount are written only while no loader runs.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "browser/browser_win.h"
#include "browser/thumbnail.h"
#include "codecs/load_picture.h"

static_assert(kPathBytes == kPathBufferBytes, "the browser's paths are 260-byte buffers");
static_assert(kNameTableEntries == kNameSlots, "the name table has one entry per listed name");

namespace {

const COLORREF kGrey = RGB(0xC0, 0xC0, 0xC0);
const COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

bool StopSeen() {
    return g_app.loadBuffers.LoaderStopFlag == 1;
}

void CollectNames() {
    App& a = g_app;
    a.NameCount = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*.*", &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (AddScannedName(a.FolderPath, found.cFileName, a.NameTable, a.NameCount) ==
            ScanStep::kTableFull)
            break;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

const char* NameAt(int i) {
    return g_app.NameTable + static_cast<size_t>(i) * kPathBytes;
}

// Phase 1: one item per name, each with a blank image to start with.
void InsertItems(HWND list, HIMAGELIST images) {
    // Always done, even when a stop is already asked for: the list must not
    // keep the previous folder's items under this folder's names.
    ImageList_Remove(images, -1);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    ImageList_SetImageCount(images, static_cast<UINT>(g_app.NameCount));
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < g_app.NameCount && !StopSeen(); ++i) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = i;
        item.pszText = const_cast<char*>(NameAt(i));
        item.iImage = i;
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (StopSeen()) {
        // The dialog thread may be waiting for us: hand it the switch
        // without waiting for it to be taken.
        PostMessageA(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
        return;
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    UpdateWindow(list);
    InvalidateRect(list, nullptr, TRUE);
}

// The decoded SourceRaster, fitted into a white 80 x 72 cell with a grey
// frame, as a new bitmap compatible with the list's screen.
HBITMAP DrawThumbnail(HWND list, HBRUSH grey, HBRUSH white) {
    LoadBuffers& lb = g_app.loadBuffers;
    const RECT cell = {0, 0, kThumbWidth, kThumbHeight};
    const int32_t W = RasterWidth(lb), H = RasterHeight(lb);
    const ThumbnailRect t = FitThumbnailRect(W, H);
    HDC screen = GetDC(list);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kThumbWidth, kThumbHeight);
    HGDIOBJ old = SelectObject(memory, bitmap);
    FillRect(memory, &cell, white);
    SetStretchBltMode(memory, COLORONCOLOR);
    StretchDIBits(memory, t.x0, t.y0, t.w, t.h, 0, 0, W, H, lb.raster.pixelArea,
                  reinterpret_cast<const BITMAPINFO*>(lb.decodeBuffer), DIB_RGB_COLORS, SRCCOPY);
    FrameRect(memory, &cell, grey);
    // The image list copies from the bitmap; it must not be held by our DC.
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(list, screen);
    return bitmap;
}

// Phase 2: the thumbnails, one decode after the other.
void DrawThumbnails(HWND list, HIMAGELIST images) {
    HBRUSH grey = CreateSolidBrush(kGrey);
    HBRUSH white = CreateSolidBrush(kWhite);
    DecoderSet decoders = AppDecoders();
    for (int i = 0; i < g_app.NameCount; ++i) {
        if (StopSeen()) break;
        char path[kPathBytes];
        if (!JoinFolderAndName(g_app.FolderPath, NameAt(i), path)) continue;
        if (DecodeByExtension(decoders, path) != 1) continue; // the item stays blank
        if (StopSeen()) break;
        HBITMAP bitmap = DrawThumbnail(list, grey, white);
        ImageList_Replace(images, i, bitmap, nullptr);
        DeleteObject(bitmap);
        if (StopSeen()) break;
        SendMessageA(list, LVM_REDRAWITEMS, i, i);
    }
    DeleteObject(grey);
    DeleteObject(white);
    if (!StopSeen()) {
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
    }
}

} // namespace

DWORD WINAPI ThumbnailLoader(LPVOID) {
    HWND list = g_app.FolderList;
    HIMAGELIST images = g_app.folderImages;
    InsertItems(list, images);
    DrawThumbnails(list, images);
    // In this order: the dialog thread takes busy = 0 as "the stop flag is
    // down and nobody decodes", and may raise the flag again right after.
    LoadBuffers& lb = g_app.loadBuffers;
    lb.LoaderStopFlag = 0;
    lb.LoaderBusyFlag = 0;
    return 0;
}

int ScanFolder(const char* path) {
    App& a = g_app;
    char folder[kPathBytes];
    // A folder whose path leaves no room for a name is not entered.
    if (!MakeFolderPath(path, folder)) return 0;
    if (!SetCurrentDirectoryA(path)) return 0;
    RaiseStopAndWait();
    lstrcpyA(a.FolderPath, folder);
    CollectNames();

    LoadBuffers& lb = a.loadBuffers;
    lb.LoaderBusyFlag = 1;
    lb.LoaderStopFlag = 0;
    Sleep(100);
    HANDLE thread = CreateThread(nullptr, 0, ThumbnailLoader, nullptr, 0, nullptr);
    if (!thread) {
        // Nobody would ever lower the busy flag, and every later stop would
        // wait for ever.
        lb.LoaderBusyFlag = 0;
        return 1;
    }
    CloseHandle(thread);
    return 1;
}
