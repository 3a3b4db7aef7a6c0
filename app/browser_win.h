// The folder browser's Win32 pieces that the rest of the program and the
// GUI tests reach beyond the main dialog's routes (app/gui_routes_win.h).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "fit/fit_options.h"

// The shell folder tree (browser/folder_tree_win.cpp).
void FillRoot();
// Absolute item lists held by tree items right now: one per item that has
// one, and none once the tree is gone.
int32_t TreeItemListsAlive();

// The thumbnail loader and its stop handshake (app/thumbnail_loader_win.cpp).
//
// Stops a running loader before the dialog thread decodes or closes: raises
// LoaderStopFlag in every decoder's buffers and waits until LoaderBusyFlag is
// 0. With `lowerAfterwards` (a selection) the stop flags are lowered again;
// without (the close) they stay raised, so nothing starts decoding again.
void StopLoader(bool lowerAfterwards);

// Selects the tree item of `path` (a folder on disk), opening the items on
// the way down; the selection scans the folder. False, changing nothing,
// when the folder does not exist or the tree does not lead to it.
bool SelectTreeFolder(const char* path);

// The folder list's context menu (browser/folder_menu_win.cpp).
//
// Shows it for a WM_CONTEXTMENU from the folder list, at `screenPoint`, or,
// for (-1, -1) (the menu key, Shift+F10), at the focused item, and carries
// out the choice.
void ShowFolderListMenu(HWND owner, LPARAM screenPoint);
// The menu for these options: three radio items for the fit, check items for
// smooth scaling and upright photos, and "Load", greyed without `haveItem`.
HMENU BuildFolderListMenu(const FitOptions& fit, bool haveItem);
// Carries out a command of that menu (0: none) for folder list item `item`
// (-1: none): a fit choice is kept for the later loads and in the settings
// file; switching upright photos draws the folder's thumbnails again.
void ApplyFolderListChoice(UINT command, int item);
