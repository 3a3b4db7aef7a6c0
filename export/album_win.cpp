// The album list (control 1003) and the save commands.
// Not part of this build yet: these buttons do nothing.
#include "app/app_win.h"
#include "app/gui_routes_win.h"

void UploadPicture(const FrameImage&) {}
void DownloadRoute() {}
void DeletePicture() {}
void DeleteAllPictures() {}
void SaveBmpRoute(HWND) {}
void SaveAllPictures(HWND) {}
