// The folder scan (dialog thread), the thumbnail loader thread and the stop
// handshake between the two.
//
// ScanFolder collects the picture names of the selected folder and starts
// ThumbnailLoader, which fills the folder list (control 1002) with one item
// per name and then draws an 80 x 72 thumbnail for each (browser/thumbnail.h).
// The two threads share the decoders and their buffers without a lock; LoaderStopFlag and
// LoaderBusyFlag keep them apart. FolderPath, NameTable and NameCount are
// written only while no loader runs.
//
// The stop: the dialog thread raises LoaderStopFlag and looks at
// LoaderBusyFlag every 200 ms. The loader may be inside a SendMessage to the
// folder list (a window of this thread) at that moment, so the wait keeps
// serving sent messages instead of sleeping blindly: a plain Sleep loop would
// deadlock. The loader for its part makes no blocking call into the list once
// it has seen the stop flag, so a stop costs at most one decoder poll, one
// 200 ms look and the 100 ms pause.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/browser_win.h"
#include "app/settings_win.h"
#include "browser/scan_rules.h"
#include "browser/thumbnail.h"

#include <memory>
#include <new>

namespace {

// Whether the loader turns photos upright: taken from the settings when the
// scan starts, so the loader never reads them while the dialog changes them.
bool g_uprightThumbnails = true;

bool StopSeen() {
    return g_app.loadBuffers.LoaderStopFlag != 0;
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

// Phase 1: one item per name, each with the blank image ScanFolder gave it.
void InsertItems(HWND list) {
    // Always done, even when a stop is already asked for: the list must not
    // keep the previous folder's items under this folder's names.
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < g_app.NameCount && !StopSeen(); ++i) {
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = i;
        item.pszText = const_cast<char*>(NameAt(i));
        item.iImage = i;
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    // Stopped: redraw stays off here. The dialog thread may be waiting for us,
    // and switches it on itself once we are gone (RaiseStopAndWait); a posted
    // switch could arrive in the middle of the next loader's insertion.
    if (StopSeen()) return;
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    UpdateWindow(list);
    InvalidateRect(list, nullptr, TRUE);
}

// Phase 2: the thumbnails, one decode after the other, each picture fitted
// by the core to its place in the cell and drawn there 1:1.
void DrawThumbnails(HWND list) {
    DecoderSet decoders = AppDecoders();
    std::unique_ptr<FrameImage> picture(new (std::nothrow) FrameImage);
    if (!picture) return;
    for (int i = 0; i < g_app.NameCount; ++i) {
        if (StopSeen()) break;
        char path[kPathBytes];
        if (!JoinFolderAndName(g_app.FolderPath, NameAt(i), path)) continue;
        ThumbnailRect place;
        if (DecodeThumbnail(decoders, path, g_uprightThumbnails, *picture, place) != 1)
            continue; // the item stays blank
        if (StopSeen()) break;
        const CellPicture cell = {picture->bytes, picture->Pixels(), place.w, place.h};
        HBITMAP bitmap = PaintCell(list, kThumbWidth, kThumbHeight, place, cell, true);
        if (!StopSeen())
            SendMessageA(g_app.mainDialog, kPlaceThumbnailMessage, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(bitmap));
        if (bitmap) DeleteObject(bitmap);
        if (StopSeen()) break;
    }
    if (!StopSeen()) {
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
    }
}

void WaitServingSentMessages(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_SENDMESSAGE);
        MSG msg;
        // With only PM_QS_SENDMESSAGE nothing posted is taken: the user's
        // clicks and timers wait until the stop is over.
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void RaiseStopAndWait() {
    LoadBuffers& lb = g_app.loadBuffers;
    lb.LoaderStopFlag = 1;
    if (lb.LoaderBusyFlag == 0) return;
    while (lb.LoaderBusyFlag != 0)
        WaitServingSentMessages(200);
    // A loader stopped while inserting items left redraw off.
    SendMessageA(g_app.FolderList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(g_app.FolderList, nullptr, TRUE);
}

DWORD WINAPI ThumbnailLoader(LPVOID) {
    HWND list = g_app.FolderList;
    InsertItems(list);
    DrawThumbnails(list);
    // In this order: the dialog thread takes busy = 0 as "the stop flag is
    // down and nobody decodes", and may raise the flag again right after.
    LoadBuffers& lb = g_app.loadBuffers;
    lb.LoaderStopFlag = 0;
    lb.LoaderBusyFlag = 0;
    return 0;
}

} // namespace

void StopLoader(bool lowerAfterwards) {
    RaiseStopAndWait();
    // A loader that ran has lowered the stop flag itself as its last but one
    // step; closing keeps it raised so nothing starts decoding again.
    g_app.loadBuffers.LoaderStopFlag = lowerAfterwards ? 0 : 1;
    Sleep(100);
}

void PlaceThumbnail(int item, HBITMAP bitmap) {
    if (!bitmap || item < 0 || item >= ImageList_GetImageCount(g_app.folderImages)) return;
    ImageList_Replace(g_app.folderImages, item, bitmap, nullptr);
    SendMessageA(g_app.FolderList, LVM_REDRAWITEMS, item, item);
}

int ScanFolder(const char* path) {
    App& a = g_app;
    char folder[kPathBytes];
    // A folder whose path leaves no room for a name is not entered.
    if (!MakeFolderPath(path, folder)) return 0;
    if (!SetCurrentDirectoryA(path)) return 0;
    RaiseStopAndWait();
    // The old folder's items go before its names do: a click still queued
    // for one of them must not be looked up in the new folder's table.
    SendMessageA(a.FolderList, LVM_DELETEALLITEMS, 0, 0);
    ImageList_Remove(a.folderImages, -1);
    lstrcpyA(a.FolderPath, folder);
    CollectNames();
    // One blank image per name, made here: the image list changes only on
    // this thread (the loader's thumbnails arrive as kPlaceThumbnailMessage).
    ImageList_SetImageCount(a.folderImages, static_cast<UINT>(a.NameCount));
    RememberTreeFolder(path);
    g_uprightThumbnails = CurrentSettings().fit.upright;

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
