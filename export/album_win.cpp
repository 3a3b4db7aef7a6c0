// The album list (control 1003): UpLoad, DownLoad, Delete and Delete All.
// The album's order lives in the core (export/album.h); this file mirrors
// each edit in the list view and draws the 80 x 72 thumbnails.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "export/recovery_win.h"

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

} // namespace

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
