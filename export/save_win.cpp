// Save BMP (button 1029) and Save All (button 4): the file and folder
// dialogs around the writers of the core.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "export/bmp_writer.h"
#include "export/save_names.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <string>

namespace {

// Asks for the name of the BMP file; 1 with the full path (ending in .BMP in
// any case) in `name`, 0 when cancelled.
int AskBmpName(HWND owner, char* name) {
    name[0] = 0;
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.hInstance = g_app.instance;
    ofn.lpstrFilter = "Image Files(*.bmp)\0*.bmp\0";
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = name;
    ofn.nMaxFile = static_cast<DWORD>(kPathBufferBytes);
    ofn.lpstrTitle = "Save BMP";
    ofn.Flags = OFN_EXPLORER;
    if (!GetSaveFileNameA(&ofn)) return 0;
    // A name that has no room for ".BMP" is refused rather than cut short.
    return ApplyBmpExtension(name, kPathBufferBytes);
}

void Tell(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), "Pixmora", MB_OK | MB_ICONWARNING);
}

} // namespace

void SaveBmpRoute(HWND owner) {
    char name[kPathBufferBytes];
    if (!AskBmpName(owner, name)) return;
    if (!WriteBmpFile(name, CurrentPicture(g_app.history)))
        Tell(owner, std::string("Could not save ") + name + ".");
}

void SaveAllPictures(HWND owner) {
    BROWSEINFOA bi;
    std::memset(&bi, 0, sizeof bi);
    bi.hwndOwner = owner;
    bi.lpszTitle = "Select save folder";
    LPITEMIDLIST chosen = SHBrowseForFolderA(&bi);
    if (!chosen) return;
    char folder[MAX_PATH] = "";
    BOOL hasPath = SHGetPathFromIDListA(chosen, folder);
    IMalloc* shellMalloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&shellMalloc)) && shellMalloc) {
        shellMalloc->Free(chosen);
        shellMalloc->Release();
    }
    if (!hasPath || !folder[0]) {
        Tell(owner, "This folder is not a folder on disk; choose another folder to save into.");
        return;
    }
    SaveAllResult result = SaveAllPicturesTo(folder, g_app.album);
    if (!result.ok()) Tell(owner, SaveAllMessage(result));
}
