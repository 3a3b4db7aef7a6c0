// The folder scan (dialog thread), the thumbnail loader and the stop
// handshake between them.
//
// ScanFolder collects the picture names of the selected folder and starts
// ThumbnailLoader, which fills the folder list (control 1002) with one item
// per name and then draws an 80 x 72 thumbnail for each (browser/thumbnail.h)
// with one decoder per core: the loader thread itself in the shared load
// buffers, and a worker thread for each other core in buffers of its own
// (App::loaderWorkers). They take the names in list order, one at a time,
// and hand each finished cell to the dialog thread in list order: a cell
// waits for the cells before it. The loader thread and the dialog thread
// share the decoders and their buffers without a lock; LoaderStopFlag and
// LoaderBusyFlag keep them apart. FolderPath, NameTable and NameCount are
// written only while no loader runs.
//
// The stop: the dialog thread raises LoaderStopFlag in every decoder's
// buffers and looks at the shared LoaderBusyFlag every 200 ms, which the
// loader lowers once its workers have ended. The loader or a worker may be
// inside a SendMessage to the folder list or the dialog (windows of this
// thread) at that moment, so the wait keeps serving sent messages instead of
// sleeping blindly: a plain Sleep loop would deadlock. None of them makes a
// blocking call into the windows once it has seen the stop flag, so a stop
// costs at most one decoder poll, one 200 ms look and the 100 ms pause.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/browser_win.h"
#include "app/settings_win.h"
#include "browser/scan_rules.h"
#include "browser/thumbnail.h"

#include <atomic>
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

// Phase 2: the thumbnails. Each decoder takes the next name in list order,
// decodes it fitted by the core to its place in the cell and paints the
// cell; finished cells go to the dialog thread in list order.
struct Fill {
    HWND list = nullptr;
    int32_t count = 0;
    std::atomic<int32_t> next{0}; // the next name to decode
    CRITICAL_SECTION lock;        // guards the rest
    HBITMAP cell[kNameSlots] = {};
    bool finished[kNameSlots] = {};
    int32_t handedOver = 0; // cells before this one have gone to the dialog thread
};

// A decoder of the loader: the shared one (worker null) or a worker's.
struct Decoder {
    Fill* fill;
    DecoderSet set;
};

// Item i is finished (bitmap null: it stays blank). The cells now ready in
// list order go to the dialog thread, unless a stop was seen.
void Finish(Fill& f, const LoadBuffers& lb, int32_t i, HBITMAP bitmap) {
    EnterCriticalSection(&f.lock);
    f.cell[i] = bitmap;
    f.finished[i] = true;
    for (; f.handedOver < f.count && f.finished[f.handedOver]; ++f.handedOver) {
        HBITMAP b = f.cell[f.handedOver];
        if (b && !StopRequested(lb))
            SendMessageA(g_app.mainDialog, kPlaceThumbnailMessage,
                         static_cast<WPARAM>(f.handedOver), reinterpret_cast<LPARAM>(b));
        if (b) DeleteObject(b);
        f.cell[f.handedOver] = nullptr;
    }
    LeaveCriticalSection(&f.lock);
}

void DrawThumbnails(Decoder& decoder) {
    Fill& f = *decoder.fill;
    const LoadBuffers& lb = *decoder.set.buffers;
    std::unique_ptr<FrameImage> picture(new (std::nothrow) FrameImage);
    if (!picture) return;
    while (!StopRequested(lb)) {
        const int32_t i = f.next.fetch_add(1);
        if (i >= f.count) break;
        char path[kPathBytes];
        HBITMAP bitmap = nullptr;
        ThumbnailRect place;
        if (JoinFolderAndName(g_app.FolderPath, NameAt(i), path) &&
            DecodeThumbnail(decoder.set, path, g_uprightThumbnails, *picture, place) == 1 &&
            !StopRequested(lb)) {
            const CellPicture cell = {picture->bytes, picture->Pixels(), place.w, place.h};
            bitmap = PaintCell(f.list, kThumbWidth, kThumbHeight, place, cell, true);
        }
        Finish(f, lb, i, bitmap); // a failed decode leaves the item blank
    }
}

DWORD WINAPI ThumbnailWorker(LPVOID decoder) {
    DrawThumbnails(*static_cast<Decoder*>(decoder));
    return 0;
}

// The cores of this machine, as many as the loader uses.
int32_t LoaderCores() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const int32_t cores = static_cast<int32_t>(system.dwNumberOfProcessors);
    return cores < 1 ? 1 : cores > kMaxLoaderDecoders ? kMaxLoaderDecoders : cores;
}

// The decoders beyond the shared one that ScanFolder could make.
int32_t OtherDecoders() {
    int32_t workers = 0;
    while (workers < LoaderCores() - 1 && g_app.loaderWorkers[workers])
        ++workers;
    return workers;
}

void DrawAllThumbnails(HWND list) {
    Fill fill;
    fill.list = list;
    fill.count = g_app.NameCount;
    InitializeCriticalSection(&fill.lock);
    Decoder decoders[kMaxLoaderDecoders];
    HANDLE threads[kMaxLoaderDecoders] = {};
    int32_t started = 0;
    decoders[0] = {&fill, AppDecoders()};
    const int32_t others = fill.count > 1 ? OtherDecoders() : 0;
    for (int32_t k = 0; k < others; ++k) {
        LoaderWorker& w = *g_app.loaderWorkers[k];
        decoders[1 + k] = {&fill, DecoderSet{&w.buffers, w.gifState, w.jpegDecoder}};
        threads[started] = CreateThread(nullptr, 0, ThumbnailWorker, &decoders[1 + k], 0, nullptr);
        if (!threads[started]) break;
        // Below the dialog thread: the program answers the user while they work.
        SetThreadPriority(threads[started], THREAD_PRIORITY_BELOW_NORMAL);
        ++started;
    }
    DrawThumbnails(decoders[0]);
    // The workers end at the last name or at the stop; one of them may be
    // handing a cell over meanwhile, which the dialog thread serves.
    if (started) WaitForMultipleObjects(static_cast<DWORD>(started), threads, TRUE, INFINITE);
    for (int32_t k = 0; k < started; ++k)
        CloseHandle(threads[k]);
    // Cells finished after the stop were never handed over.
    for (int32_t i = 0; i < fill.count; ++i)
        if (fill.cell[i]) DeleteObject(fill.cell[i]);
    DeleteCriticalSection(&fill.lock);
    if (!StopSeen()) {
        InvalidateRect(list, nullptr, TRUE);
        UpdateWindow(list);
    }
}

// Every decoder's stop flag, raised or lowered together.
void SetStopFlags(int value) {
    g_app.loadBuffers.LoaderStopFlag = value;
    for (LoaderWorker* w : g_app.loaderWorkers)
        if (w) w->buffers.LoaderStopFlag = value;
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
    SetStopFlags(1);
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
    DrawAllThumbnails(list);
    // In this order: the dialog thread takes busy = 0 as "the stop flags are
    // down and nobody decodes", and may raise them again right after.
    SetStopFlags(0);
    g_app.loadBuffers.LoaderBusyFlag = 0;
    return 0;
}

} // namespace

void StopLoader(bool lowerAfterwards) {
    RaiseStopAndWait();
    // A loader that ran has lowered the stop flags itself as its last but one
    // step; closing keeps them raised so nothing starts decoding again.
    SetStopFlags(lowerAfterwards ? 0 : 1);
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

    // The loader's other decoders, one per core beyond the first (made once).
    MakeLoaderWorkers(LoaderCores() - 1);
    LoadBuffers& lb = a.loadBuffers;
    lb.LoaderBusyFlag = 1;
    SetStopFlags(0);
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
