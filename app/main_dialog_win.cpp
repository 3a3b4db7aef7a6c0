// The main dialog (template 105) and the About dialog (template 122).
//
// Controls: tree 1007, folder list 1002, album list 1003, preview 1013,
// buttons 1-8 and 1022-1031, progress bar 1034 (Save All's progress).
// The procedure only routes: every rule lives in the core or in the
// subsystem that owns it.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "app/browser_win.h"
#include "browser/scan_rules.h"
#include "codecs/decode_failure.h"
#include "codecs/load_picture.h"
#include "app/recovery_win.h"
#include "resources/resource.h"
#include "app/tool_dialog_win.h"

namespace {

void StartKeys();
void StopKeys();

// The dialog owns the two image lists and releases them in TearDown; the
// lists only borrow them, or each would release its list a second time when
// it is destroyed with the dialog.
HIMAGELIST MakeThumbnailList(HWND list) {
    SetWindowLongPtrA(list, GWL_STYLE, GetWindowLongPtrA(list, GWL_STYLE) | LVS_SHAREIMAGELISTS);
    HIMAGELIST images = ImageList_Create(kThumbWidth, kThumbHeight, ILC_COLOR24, 0, 10);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
    return images;
}

void OnInitDialog(HWND dialog) {
    App& a = g_app;
    a.mainDialog = dialog;
    InitCommonControls();
    a.FolderTree = GetDlgItem(dialog, IDC_FOLDER_TREE);
    LoadSettings();
    FillTreeRoot(a.FolderTree);
    // No label editing: a folder renamed in the tree would be undone silently.
    SetWindowLongPtrA(a.FolderTree, GWL_STYLE,
                      GetWindowLongPtrA(a.FolderTree, GWL_STYLE) & ~TVS_EDITLABELS);
    a.FolderList = GetDlgItem(dialog, IDC_FOLDER_LIST);
    a.folderImages = MakeThumbnailList(a.FolderList);
    a.AlbumList = GetDlgItem(dialog, IDC_ALBUM_LIST);
    a.albumImages = MakeThumbnailList(a.AlbumList);
    a.PreviewPane = GetDlgItem(dialog, IDC_PREVIEW);
    // Placed as the tools place theirs: sized for a 128 x 128 picture with a frame.
    PlaceFirstPreview(dialog, IDC_PREVIEW, kToolPreviewSide);
    SetUndoRedoButtons(0, 0);
    StartKeys();
    SelectTreeFolder(CurrentSettings().treeFolder.c_str());
    RepairLastSaveAllFolder(dialog);
    OfferRecoveryAlbum(dialog);
}

void OnPaint(HWND dialog) {
    PAINTSTRUCT ps;
    BeginPaint(dialog, &ps);
    // Between an Undo/Redo and the next edit the cursor's state is the one on
    // screen; a repaint keeps showing it rather than jumping to the newest.
    PaintFrameImage(g_app.PreviewPane, CursorPicture(g_app.history));
    EndPaint(dialog, &ps);
}

void CloseMainDialog(HWND dialog) {
    // OK, Cancel, Esc and the close box: album pictures not yet saved with
    // Save All are only given up when the user says so.
    const int unsaved = AlbumUnsavedPictures(g_app.album);
    if (unsaved > 0 && MessageBoxA(dialog, CloseWithUnsavedQuestion(unsaved).c_str(), "Pixmora",
                                   MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    StopKeys();
    StopLoader(false);
    // The user ends the program: the album as it is needs no recovery.
    EndRecoveryAlbum();
    EndDialog(dialog, 0);
}

void OnUndo() {
    UndoRedoState s = UndoStep(g_app.history);
    PaintFrameImage(g_app.PreviewPane, CursorPicture(g_app.history));
    InvalidateRect(g_app.PreviewPane, nullptr, TRUE);
    SetUndoRedoButtons(s.undo, s.redo);
}

void OnRedo() {
    UndoRedoState s = RedoStep(g_app.history);
    PaintFrameImage(g_app.PreviewPane, CursorPicture(g_app.history));
    InvalidateRect(g_app.PreviewPane, nullptr, TRUE);
    SetUndoRedoButtons(s.undo, s.redo);
}

void OnSaveBmp(HWND dialog) {
    DropRedo(g_app.history);
    EnableWindow(GetDlgItem(dialog, IDC_REDO), FALSE);
    SaveBmpRoute(dialog);
}

void RouteCommand(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDOK: SendMessageA(dialog, WM_CLOSE, 0, 0); break;
    case IDCANCEL: CloseMainDialog(dialog); break;
    case IDC_DELETE: DeletePicture(); break;
    case IDC_SAVE_ALL: SaveAllPictures(dialog); break;
    case IDC_ABOUT:
        DialogBoxParamA(g_app.instance, MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDialogProc, 0);
        break;
    case IDC_DELETE_ALL: DeleteAllPictures(); break;
    case IDC_UNDO: OnUndo(); break;
    case IDC_REDO: OnRedo(); break;
    case IDC_BLEND: OpenToolDialog(IDD_BLEND); break;
    case IDC_ROTATE: OpenToolDialog(IDD_ROTATE); break;
    case IDC_CROP: OpenToolDialog(IDD_CROP); break;
    case IDC_PROCESS: OpenToolDialog(IDD_PROCESS); break;
    case IDC_FRAME: OpenToolDialog(IDD_FRAME); break;
    case IDC_SAVE_BMP: OnSaveBmp(dialog); break;
    case IDC_UPLOAD: UploadPicture(CursorPicture(g_app.history)); break;
    case IDC_DOWNLOAD: DownloadRoute(); break;
    default: break; // Upload Flash, Download Flash, progress bar: nothing
    }
}

// ---- Keys ----
// The dialog's own loop turns Enter into OK and Esc into Cancel. Before it
// does, the keys below are taken from the message filter of that loop:
// Enter acts on the control that has the focus, and the editing keys press
// their buttons. Esc is left to the loop (the close, with its question).

HHOOK g_keyFilter = nullptr;

// A button's command as a click gives it, only while the button is enabled.
void PressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (button && IsWindowEnabled(button))
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
}

// Enter in the tree: the selected folder opens or closes, as with + and -
// (the tree's own keys, so its expansion notices and filling run as usual).
void ToggleTreeItem(HWND tree) {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return;
    const auto state =
        SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED);
    SendMessageA(tree, WM_KEYDOWN, (state & TVIS_EXPANDED) ? VK_SUBTRACT : VK_ADD, 0);
}

// The menu key and Shift+F10 in the album list and the folder list open
// their context menus; their key-up is taken too, so the system does not
// open one a second time.
bool RouteMenuKey(const MSG& m) {
    if (m.hwnd != g_app.AlbumList && m.hwnd != g_app.FolderList) return false;
    const bool apps = m.wParam == VK_APPS;
    const bool shiftF10 = m.wParam == VK_F10 && GetKeyState(VK_SHIFT) < 0;
    if (!apps && !shiftF10) return false;
    if (m.message != WM_KEYDOWN && m.message != WM_SYSKEYDOWN) return true;
    if (m.hwnd == g_app.AlbumList)
        ShowAlbumMenu({-1, -1});
    else
        ShowFolderListMenu(g_app.mainDialog, MAKELPARAM(-1, -1));
    return true;
}

// True when the key message was taken.
bool RouteKey(const MSG& m) {
    App& a = g_app;
    HWND dialog = a.mainDialog;
    if (m.message < WM_KEYFIRST || m.message > WM_KEYLAST) return false;
    if (!dialog || !IsWindowEnabled(dialog)) return false;
    if (m.hwnd != dialog && !IsChild(dialog, m.hwnd)) return false;
    if (RouteMenuKey(m)) return true;
    if (m.message != WM_KEYDOWN) return false;
    if (m.wParam == VK_ESCAPE && AlbumDragging()) {
        EndAlbumDrag({0, 0}, false); // Esc ends a drag, not the program
        return true;
    }
    const bool ctrl = GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0;
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    switch (m.wParam) {
    case VK_RETURN:
        if (m.hwnd == a.FolderTree) {
            ToggleTreeItem(a.FolderTree);
        } else if (m.hwnd == a.FolderList) {
            LoadFolderItem(static_cast<int>(SendMessageA(a.FolderList, LVM_GETNEXTITEM,
                                                         static_cast<WPARAM>(-1), LVNI_SELECTED)));
        } else if (m.hwnd == a.AlbumList) {
            PressButton(dialog, IDC_DOWNLOAD);
        } else {
            return false; // on a button: that button
        }
        return true;
    case VK_F2: // "Choose the part" of the selected (else the focused) picture
        if (m.hwnd != a.FolderList) return false;
        {
            int item = static_cast<int>(SendMessageA(a.FolderList, LVM_GETNEXTITEM,
                                                     static_cast<WPARAM>(-1), LVNI_SELECTED));
            if (item < 0)
                item = static_cast<int>(SendMessageA(a.FolderList, LVM_GETNEXTITEM,
                                                     static_cast<WPARAM>(-1), LVNI_FOCUSED));
            ChoosePartOfFolderItem(item);
        }
        return true;
    case VK_DELETE:
        if (m.hwnd != a.AlbumList) return false;
        PressButton(dialog, IDC_DELETE);
        return true;
    case 'Z':
        if (!ctrl) return false;
        PressButton(dialog, shift ? IDC_REDO : IDC_UNDO);
        return true;
    case 'Y':
        if (!ctrl) return false;
        PressButton(dialog, IDC_REDO);
        return true;
    case 'S':
        if (!ctrl) return false;
        PressButton(dialog, IDC_SAVE_BMP);
        return true;
    default: return false;
    }
}

LRESULT CALLBACK KeyFilter(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && RouteKey(*reinterpret_cast<const MSG*>(lParam))) return TRUE;
    return CallNextHookEx(g_keyFilter, code, wParam, lParam);
}

void StartKeys() {
    if (!g_keyFilter)
        g_keyFilter = SetWindowsHookExA(WH_MSGFILTER, KeyFilter, nullptr, GetCurrentThreadId());
}

void StopKeys() {
    if (g_keyFilter) UnhookWindowsHookEx(g_keyFilter);
    g_keyFilter = nullptr;
}

LRESULT RouteNotify(HWND dialog, int controlId, NMHDR* header) {
    if (controlId == IDC_FOLDER_LIST && header->code == LVN_ITEMCHANGED) {
        auto* change = reinterpret_cast<NMLISTVIEW*>(header);
        // Only a newly selected item loads: a change of focus alone (Ctrl+arrow)
        // on the item already selected would push the same file again.
        if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
            !(change->uOldState & LVIS_SELECTED))
            LoadFolderItem(change->iItem); // a click: the typical event path
    } else if (controlId == IDC_FOLDER_TREE && header->code == TVN_ITEMEXPANDINGA) {
        auto* tree = reinterpret_cast<NMTREEVIEWA*>(header);
        if (tree->action & TVE_EXPAND) ExpandItem(tree->itemNew.hItem);
    } else if (controlId == IDC_FOLDER_TREE && header->code == TVN_SELCHANGEDA) {
        auto* tree = reinterpret_cast<NMTREEVIEWA*>(header);
        char path[MAX_PATH] = "";
        auto* list = reinterpret_cast<LPCITEMIDLIST>(tree->itemNew.lParam);
        if (list && SHGetPathFromIDListA(list, path) && path[0]) ScanFolder(path);
    } else if (controlId == IDC_FOLDER_TREE && header->code == TVN_DELETEITEMA) {
        auto* tree = reinterpret_cast<NMTREEVIEWA*>(header);
        ForgetTreeItem(tree->itemOld.lParam);
    } else if (controlId == IDC_ALBUM_LIST && header->code == LVN_BEGINDRAG) {
        BeginAlbumDrag(reinterpret_cast<NMLISTVIEW*>(header)->iItem);
    } else if (controlId == IDC_FOLDER_TREE &&
               (header->code == TVN_BEGINLABELEDITA || header->code == TVN_BEGINLABELEDITW)) {
        // No renaming in the tree, however it is asked for (see OnInitDialog).
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    return 0;
}

// While an album item is dragged the dialog has the capture: the pointer's
// moves show the drop place, the button's release drops, a lost capture cancels.
INT_PTR RouteAlbumDrag(HWND dialog, UINT message, LPARAM lParam) {
    if (!AlbumDragging()) return 0;
    POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(dialog, &at);
    if (message == WM_MOUSEMOVE)
        AlbumDragMove(at);
    else
        EndAlbumDrag(at, message == WM_LBUTTONUP);
    return TRUE;
}

} // namespace

void SetUndoRedoButtons(int undo, int redo) {
    EnableWindow(GetDlgItem(g_app.mainDialog, IDC_UNDO), undo ? TRUE : FALSE);
    EnableWindow(GetDlgItem(g_app.mainDialog, IDC_REDO), redo ? TRUE : FALSE);
}

void AfterEdit() {
    SetUndoRedoButtons(1, 0);
    InvalidateRect(g_app.mainDialog, nullptr, TRUE);
}

namespace {
// One tool at a time: they share the scratch pictures and the working copy.
bool g_toolOpen = false;
} // namespace

bool ToolDialogOpen() {
    return g_toolOpen;
}

void OpenToolDialog(int templateId) {
    DLGPROC proc = ToolDialogProcFor(templateId);
    if (!proc || g_toolOpen) return;
    // Without its scratch pictures a tool does not open, and nothing changes.
    if (!AcquireToolScratch()) {
        TellNotEnoughMemory(g_app.mainDialog);
        return;
    }
    DropRedo(g_app.history);
    CopyFrameImage(*g_app.WorkImage, CurrentPicture(g_app.history));
    g_toolOpen = true;
    DialogBoxParamA(g_app.instance, MAKEINTRESOURCEA(templateId), g_app.mainDialog, proc, 0);
    g_toolOpen = false;
    ReleaseToolScratch();
    AfterEdit();
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(window); return 0;
    case WM_PAINT: OnPaint(window); return 0;
    case WM_CLOSE:
        // Handled here: the default procedure would also post Cancel, which
        // would ask the close question a second time.
        CloseMainDialog(window);
        return TRUE;
    case WM_DESTROY: StopKeys(); return 0;
    case kPlaceThumbnailMessage:
        PlaceThumbnail(static_cast<int>(wParam), reinterpret_cast<HBITMAP>(lParam));
        return TRUE;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == g_app.AlbumList) {
            ShowAlbumMenu({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        } else if (reinterpret_cast<HWND>(wParam) == g_app.FolderList) {
            ShowFolderListMenu(window, lParam);
        } else {
            return 0;
        }
        return TRUE;
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED: return RouteAlbumDrag(window, message, lParam);
    case WM_NOTIFY:
        return RouteNotify(window, static_cast<int>(wParam), reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND: RouteCommand(window, wParam); return 0;
    default: return 0;
    }
}

INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(window, 0);
        } else if (LOWORD(wParam) == IDC_MAIL_LINK) {
            HINSTANCE r = ShellExecuteA(nullptr, "open", "Mailto:" PIXMORA_CONTACT, nullptr,
                                        nullptr, SW_HIDE);
            if (reinterpret_cast<INT_PTR>(r) < 32)
                MessageBoxA(g_app.mainDialog, "Can't find mail tool", "about", MB_OK);
        } else {
            return 0;
        }
        return TRUE;
    default: return 0;
    }
}
