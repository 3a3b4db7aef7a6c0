// The tool dialogs by template. None is part of this build yet.
#include "app/app_win.h"
#include "app/gui_routes_win.h"

DLGPROC ToolDialogProcFor(int) { return nullptr; }
