// The album list (control 1003): UpLoad, DownLoad, Delete and Delete All,
// and the order of its pictures (context menu and dragging).
// The album's order lives in the core (export/album.h); this file mirrors
// each edit in the list view and draws the 80 x 72 thumbnails.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/recovery_win.h"

#include <cstring>

namespace {

// The list's current item: the item the user sees selected (the list holds
// at most one), or -1. The focus alone is invisible and never counts.
int FocusedAlbumItem() {
    return static_cast<int>(
        SendMessageA(g_app.AlbumList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The thumbnail of an album picture: fitted into the cell on white, with a
// grey frame around the whole cell.
HBITMAP AlbumThumbnail(const FrameImage& picture) {
    BitmapInfoHeader h;
    std::memcpy(&h, picture.bytes, sizeof h);
    // Every album picture is a 128 x 128 true-colour block; a header that says
    // otherwise is not trusted to describe the pixels that follow it.
    if (h.biWidth != kFrameSide || h.biHeight != kFrameSide || h.biBitCount != 24 ||
        h.biSize != 40) {
        InitFrameHeader(kFrameSide, kFrameSide, &h);
    }
    const CellPicture cell = {&h, picture.Pixels(), h.biWidth, h.biHeight};
    return PaintThumbnailCell(g_app.AlbumList, cell);
}

void InsertItem(int index, bool selected) {
    char text[12];
    AlbumItemLabel(index, text);
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | (selected ? LVIF_STATE : 0);
    item.iItem = index;
    item.pszText = text;
    item.iImage = index;
    // A new item is the current one: selected and focused, so keys and the
    // buttons act on the item the user sees.
    item.state = item.stateMask = selected ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    SendMessageA(g_app.AlbumList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void Refresh(HWND list) {
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    UpdateWindow(list);
    InvalidateRect(list, nullptr, TRUE);
}

void AppendAlbumItem(int n) {
    HWND list = g_app.AlbumList;
    InsertItem(n, true);
    Refresh(list);
    HBITMAP thumb = AlbumThumbnail(AlbumPicture(g_app.album, n));
    if (thumb) {
        ImageList_Add(g_app.albumImages, thumb, nullptr);
        DeleteObject(thumb);
    }
    SendMessageA(list, LVM_REDRAWITEMS, n, n);
    SendMessageA(list, LVM_ENSUREVISIBLE, n, TRUE);
    UpdateWindow(list);
}

void RebuildAlbumList(int m) {
    HWND list = g_app.AlbumList;
    ImageList_Remove(g_app.albumImages, -1);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    ImageList_SetImageCount(g_app.albumImages, static_cast<UINT>(m));
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < m; ++i)
        InsertItem(i, false);
    Refresh(list);
    for (int i = 0; i < m; ++i) {
        HBITMAP thumb = AlbumThumbnail(AlbumPicture(g_app.album, i));
        if (thumb) {
            ImageList_Replace(g_app.albumImages, i, thumb, nullptr);
            DeleteObject(thumb);
        }
        SendMessageA(list, LVM_REDRAWITEMS, i, i);
    }
}

void ApplyEdit(const AlbumEdit& edit) {
    HWND list = g_app.AlbumList;
    switch (edit.update) {
    case AlbumListUpdate::kNothing:
        static_assert(kAlbumCapacity == 384, "the message names the album's capacity");
        if (edit.full)
            MessageBoxA(g_app.mainDialog,
                        "The album is full: it holds 384 pictures. Delete one to make room.",
                        "Pixmora", MB_OK | MB_ICONINFORMATION);
        break;
    case AlbumListUpdate::kAppendItem: AppendAlbumItem(edit.item); break;
    case AlbumListUpdate::kRebuild:
        RebuildAlbumList(edit.count);
        if (edit.item >= 0 && edit.item < edit.count)
            SendMessageA(list, LVM_ENSUREVISIBLE, edit.item, TRUE);
        break;
    case AlbumListUpdate::kClear:
        ImageList_Remove(g_app.albumImages, -1);
        SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
        InvalidateRect(list, nullptr, TRUE);
        break;
    }
    if (edit.update != AlbumListUpdate::kNothing) KeepRecoveryAlbum();
}

// The current item after a move: selected and focused, so the next move or
// key acts on the picture just moved.
void SelectAlbumItem(int index) {
    LVITEMA state = {};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(g_app.AlbumList, LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&state));
    SendMessageA(g_app.AlbumList, LVM_ENSUREVISIBLE, index, FALSE);
}

void MovePicture(int from, int to) {
    const AlbumEdit edit = AlbumMove(g_app.album, from, to);
    if (!edit.result) return;
    ApplyEdit(edit);
    SelectAlbumItem(edit.item);
}

// ---- The context menu ----

enum AlbumMenuItem : UINT {
    kMoveUp = 1,
    kMoveDown,
    kMoveToFirst,
    kMoveToLast,
    kMenuDownload,
    kMenuDelete,
};

// The menu for album item `item` of `count`: moves that would change nothing are greyed.
HMENU MakeAlbumMenu(int item, int count) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    const UINT up = item > 0 ? MF_ENABLED : MF_GRAYED;
    const UINT down = item + 1 < count ? MF_ENABLED : MF_GRAYED;
    AppendMenuA(menu, MF_STRING | up, kMoveUp, "Move up");
    AppendMenuA(menu, MF_STRING | down, kMoveDown, "Move down");
    AppendMenuA(menu, MF_STRING | up, kMoveToFirst, "Move to first");
    AppendMenuA(menu, MF_STRING | down, kMoveToLast, "Move to last");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kMenuDownload, "DownLoad");
    AppendMenuA(menu, MF_STRING, kMenuDelete, "Delete");
    return menu;
}

void RunAlbumMenuItem(UINT command, int item) {
    const int last = AlbumCount(g_app.album) - 1;
    switch (command) {
    case kMoveUp: MovePicture(item, item - 1); break;
    case kMoveDown: MovePicture(item, item + 1); break;
    case kMoveToFirst: MovePicture(item, 0); break;
    case kMoveToLast: MovePicture(item, last); break;
    case kMenuDownload: DownloadRoute(); break;
    case kMenuDelete: DeletePicture(); break;
    default: break; // dismissed
    }
}

// The album item under a screen point, or -1.
int AlbumItemAt(POINT screen) {
    LVHITTESTINFO hit = {};
    hit.pt = screen;
    ScreenToClient(g_app.AlbumList, &hit.pt);
    const int item = static_cast<int>(
        SendMessageA(g_app.AlbumList, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return (hit.flags & LVHT_ONITEM) ? item : -1;
}

// ---- Dragging an item to a new place ----

int g_dragFrom = -1; // the item being dragged, -1 when none
int g_dropHilite = -1;

void HiliteDropTarget(int item) {
    if (item == g_dropHilite) return;
    LVITEMA state = {};
    state.stateMask = LVIS_DROPHILITED;
    if (g_dropHilite >= 0)
        SendMessageA(g_app.AlbumList, LVM_SETITEMSTATE, g_dropHilite,
                     reinterpret_cast<LPARAM>(&state));
    state.state = LVIS_DROPHILITED;
    if (item >= 0)
        SendMessageA(g_app.AlbumList, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
    g_dropHilite = item;
}

// Where a drop at a screen point puts the dragged item: the place of the
// item under it; past the items but inside the list, the end; -1 outside.
int DropPlace(POINT screen) {
    RECT list;
    GetWindowRect(g_app.AlbumList, &list);
    if (!PtInRect(&list, screen)) return -1;
    const int item = AlbumItemAt(screen);
    return item >= 0 ? item : AlbumCount(g_app.album) - 1;
}

} // namespace

void ShowAlbumMenu(POINT screen) {
    int item = -1;
    if (screen.x == -1 && screen.y == -1) {
        // From the keyboard: the current item, the menu at its picture.
        item = FocusedAlbumItem();
        if (item < 0) return;
        RECT r = {};
        r.left = LVIR_ICON;
        SendMessageA(g_app.AlbumList, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&r));
        screen = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ClientToScreen(g_app.AlbumList, &screen);
    } else {
        // A right click acts on the item under the pointer, which becomes current.
        item = AlbumItemAt(screen);
        if (item < 0) return;
        SelectAlbumItem(item);
    }
    HMENU menu = MakeAlbumMenu(item, AlbumCount(g_app.album));
    if (!menu) return;
    const UINT command =
        static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                         screen.x, screen.y, 0, g_app.mainDialog, nullptr));
    DestroyMenu(menu);
    RunAlbumMenuItem(command, item);
}

void BeginAlbumDrag(int item) {
    if (item < 0 || item >= AlbumCount(g_app.album)) return;
    g_dragFrom = item;
    SetCapture(g_app.mainDialog);
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512))); // IDC_ARROW
}

bool AlbumDragging() {
    return g_dragFrom >= 0;
}

void AlbumDragMove(POINT screen) {
    if (g_dragFrom < 0) return;
    HiliteDropTarget(DropPlace(screen) >= 0 ? AlbumItemAt(screen) : -1);
}

void EndAlbumDrag(POINT screen, bool drop) {
    if (g_dragFrom < 0) return;
    const int from = g_dragFrom;
    g_dragFrom = -1; // first: releasing the capture comes back here
    HiliteDropTarget(-1);
    if (GetCapture() == g_app.mainDialog) ReleaseCapture();
    const int to = drop ? DropPlace(screen) : -1;
    if (to >= 0) MovePicture(from, to);
}

void UploadPicture(const FrameImage& picture) {
    ApplyEdit(AlbumUpload(g_app.album, picture, FocusedAlbumItem()));
}

void DownloadRoute() {
    int f = FocusedAlbumItem();
    if (f < 0) return;
    DropRedo(g_app.history);
    PushState(g_app.history);
    AlbumDownload(g_app.album, f, CurrentPicture(g_app.history));
    AfterEdit();
}

void DeletePicture() {
    ApplyEdit(AlbumDelete(g_app.album, FocusedAlbumItem()));
}

void DeleteAllPictures() {
    const int n = AlbumCount(g_app.album);
    if (n > 0 && MessageBoxA(g_app.mainDialog, DeleteAllQuestion(n).c_str(), "Pixmora",
                             MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    ApplyEdit(AlbumDeleteAll(g_app.album));
}

void ShowWholeAlbum() {
    AlbumEdit edit;
    edit.update = AlbumListUpdate::kRebuild;
    edit.count = AlbumCount(g_app.album);
    ApplyEdit(edit);
}
