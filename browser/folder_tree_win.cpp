// The shell folder tree (control 1007) and the folder scan.
// Folder browsing is not part of this build yet: the tree stays empty.
#include "app/app_win.h"
#include "app/gui_routes_win.h"

void FillTreeRoot(HWND) {}
void ExpandItem(HTREEITEM) {}
void ForgetTreeItem(LPARAM) {}
void ScanFolder(const char*) {}
