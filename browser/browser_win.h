// The folder browser's Win32 pieces that the rest of the program and the
// GUI tests reach beyond the main dialog's routes (app/gui_routes_win.h).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

// The shell folder tree (browser/folder_tree_win.cpp).
void FillRoot();
// Absolute item lists held by tree items right now: one per item that has
// one, and none once the tree is gone.
int32_t TreeItemListsAlive();

// The thumbnail loader and its stop handshake (browser/folder_scan_win.cpp).
//
// Stops a running loader before the dialog thread decodes or closes: raises
// LoaderStopFlag and waits until LoaderBusyFlag is 0. With `lowerAfterwards`
// (a selection) the stop flag is lowered again; without (the close) it stays
// raised, so nothing starts decoding again.
void StopLoader(bool lowerAfterwards);
