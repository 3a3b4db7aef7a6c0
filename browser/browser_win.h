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

// The loader handshake (browser/loader_win.cpp). StopLoader(bool) in
// app/app_win.h covers a selection (true: the stop flag is lowered again)
// and the close (false: it stays raised).
//
// The part every caller shares: raise LoaderStopFlag and wait until
// LoaderBusyFlag is 0, looking every 200 ms and serving the loader's calls
// into the folder list meanwhile.
void RaiseStopAndWait();
// Waits `ms` milliseconds while serving messages other threads send to this
// one (never posted input, so nothing of the user's runs in between).
void WaitServingSentMessages(DWORD ms);

// The thread body (browser/folder_scan_win.cpp).
DWORD WINAPI ThumbnailLoader(LPVOID);
