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

void Tell(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), "Pixmora", MB_OK | MB_ICONWARNING);
}

// Asks for the name of the BMP file; 1 with the full path (ending in .BMP in
// any case) in `name`, 0 when cancelled or refused (the user was told why).
int AskBmpName(HWND owner, char* name) {
    name[0] = 0;
    OPENFILENAMEA ofn;
    PrepareOpenFileName(ofn, owner);
    ofn.lpstrFilter = "Image Files(*.bmp)\0*.bmp\0";
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = name;
    ofn.nMaxFile = static_cast<DWORD>(kPathBytes);
    ofn.lpstrTitle = "Save BMP";
    ofn.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&ofn)) return 0;
    const std::string typed = name;
    // A name that has no room for ".BMP" is refused rather than cut short.
    if (!ApplyBmpExtension(name, kPathBytes)) {
        Tell(owner, "Could not save " + typed + ": the name is too long to add \".BMP\".");
        return 0;
    }
    // The dialog asked about the name as typed; the extension makes another.
    if (typed != name && GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) {
        std::string ask = std::string(name) + " already exists.\nDo you want to replace it?";
        if (MessageBoxA(owner, ask.c_str(), "Save BMP", MB_YESNO | MB_ICONWARNING) != IDYES)
            return 0;
    }
    return 1;
}

} // namespace

void SaveBmpRoute(HWND owner) {
    char name[kPathBytes];
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
