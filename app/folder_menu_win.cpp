// The folder list's context menu: how pictures fit the frame (for every
// later load, and kept in the settings file), and "Choose the part..." and
// "Load" for the item under the pointer.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "app/browser_win.h"

namespace {

// The fit modes take the commands 1.. in the order of kFitModeNames.
constexpr UINT kFirstFitMode = 1;
constexpr UINT kFitModeCount = sizeof kFitModeNames / sizeof kFitModeNames[0];

enum MenuCommand : UINT {
    kFillAroundSubject = kFirstFitMode + kFitModeCount,
    kSmooth,
    kUpright,
    kChoosePart,
    kLoad,
};

// The item at a point of the list's client area, -1 for none.
int ItemAt(HWND list, POINT client) {
    LVHITTESTINFO hit = {};
    hit.pt = client;
    const int item =
        static_cast<int>(SendMessageA(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return (hit.flags & LVHT_ONITEM) ? item : -1;
}

void AddItem(HMENU menu, UINT command, const char* text, bool radio, bool checked,
             bool greyed = false) {
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
    item.fType = MFT_STRING | (radio ? MFT_RADIOCHECK : 0);
    item.fState = (checked ? MFS_CHECKED : 0) | (greyed ? MFS_GRAYED : 0);
    item.wID = command;
    item.dwTypeData = const_cast<char*>(text);
    InsertMenuItemA(menu, GetMenuItemCount(menu), TRUE, &item);
}

} // namespace

HMENU BuildFolderListMenu(const FitOptions& fit, bool haveItem) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    // A fill around the subject is the fill's neighbour among the modes.
    const bool aroundSubject = fit.mode == FitMode::kFill && fit.focus == FitFocus::kSubject;
    for (UINT i = 0; i < kFitModeCount; ++i) {
        AddItem(menu, kFirstFitMode + i, kFitModeNames[i].menuText, true,
                fit.mode == kFitModeNames[i].mode && !aroundSubject);
        if (kFitModeNames[i].mode == FitMode::kFill)
            AddItem(menu, kFillAroundSubject, kFillAroundSubjectText, true, aroundSubject);
    }
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AddItem(menu, kSmooth, "Smooth scaling", false, fit.smooth);
    AddItem(menu, kUpright, "Turn photos upright", false, fit.upright);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AddItem(menu, kChoosePart, "Choose the part...\tF2", false, false, !haveItem);
    AddItem(menu, kLoad, "Load", false, false, !haveItem);
    return menu;
}

void ApplyFolderListChoice(UINT command, int item) {
    FitOptions fit = CurrentSettings().fit;
    if (command >= kFirstFitMode && command < kFirstFitMode + kFitModeCount) {
        fit.mode = kFitModeNames[command - kFirstFitMode].mode;
        fit.focus = FitFocus::kCentre;
    } else if (command == kFillAroundSubject) {
        fit.mode = FitMode::kFill;
        fit.focus = FitFocus::kSubject;
    } else if (command == kSmooth) {
        fit.smooth = !fit.smooth;
    } else if (command == kUpright) {
        fit.upright = !fit.upright;
    } else {
        if (command == kLoad && item >= 0) LoadFolderItem(item);
        if (command == kChoosePart && item >= 0) ChoosePartOfFolderItem(item);
        return;
    }
    const bool turned = fit.upright != CurrentSettings().fit.upright;
    ChangeFitOptions(fit);
    // The thumbnails follow: the folder is listed again and drawn the new way.
    if (turned && g_app.FolderPath && g_app.FolderPath[0]) ScanFolder(g_app.FolderPath);
}

void ShowFolderListMenu(HWND owner, LPARAM screenPoint) {
    HWND list = g_app.FolderList;
    POINT at = {static_cast<int16_t>(LOWORD(screenPoint)),
                static_cast<int16_t>(HIWORD(screenPoint))};
    int item = -1;
    if (at.x == -1 && at.y == -1) {
        // From the keyboard: the focused item, with the menu at its corner.
        item = static_cast<int>(
            SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
        RECT r = {};
        r.left = LVIR_ICON;
        if (item >= 0 && SendMessageA(list, LVM_GETITEMRECT, item, reinterpret_cast<LPARAM>(&r))) {
            at = {r.left + (r.right - r.left) / 2, r.top + (r.bottom - r.top) / 2};
        } else {
            item = -1;
            at = {0, 0};
        }
        ClientToScreen(list, &at);
    } else {
        POINT client = at;
        ScreenToClient(list, &client);
        item = ItemAt(list, client);
    }
    if (item >= g_app.NameCount) item = -1;
    HMENU menu = BuildFolderListMenu(CurrentSettings().fit, item >= 0);
    if (!menu) return;
    const UINT command = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, at.x,
                       at.y, 0, owner, nullptr));
    DestroyMenu(menu);
    ApplyFolderListChoice(command, item);
}
