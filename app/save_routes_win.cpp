// Save BMP (button 1029) and Save All (button 4): the file and folder
// dialogs around the writers of the core.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "export/bmp_writer.h"
#include "app/recovery_win.h"
#include "app/save_files_win.h"
#include "export/older_pictures.h"
#include "export/path_separator.h"
#include "export/save_all.h"
#include "export/save_bmp_names.h"
#include "resources/resource.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

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

// Save All's progress: pictures written of N on the progress bar 1034.
void StepProgress(void* bar, int done, int) {
    SendMessageA(static_cast<HWND>(bar), PBM_SETPOS, done, 0);
    UpdateWindow(static_cast<HWND>(bar));
}

std::wstring Wide(const std::string& text, UINT codePage) {
    int n = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) return L"";
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return "";
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], n, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(n - 1));
    return utf8;
}

// After a successful Save All of `setSize` pictures: numbered pictures of an
// earlier, larger export are offered for deletion. The folder is in the
// ANSI code page; the question's text is UTF-8 (it holds an ellipsis).
void OfferStalePictures(HWND owner, const std::string& folder, int setSize) {
    // An empty album writes nothing; it does not offer to empty the folder.
    if (setSize <= 0) return;
    const StalePictures stale = FindStalePictures(folder, setSize);
    if (stale.count == 0) return;
    const std::string question = StalePicturesQuestion(Utf8(Wide(folder, CP_ACP)), stale);
    if (MessageBoxW(owner, Wide(question, CP_UTF8).c_str(), L"Pixmora",
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    const StalePictures left = DeleteStalePictures(folder, stale);
    if (left.count > 0)
        Tell(owner, "Could not delete " + std::to_string(left.count) + " of the older pictures.");
}

// Writes the album into `folder` with the wait cursor and pictures written of
// N on the progress bar; the full bar stays while the result is shown. The
// older files the new set replaced are deleted while the user reads it.
void ExportAlbum(HWND owner, const std::string& folder) {
    const int n = AlbumCount(g_app.album);
    HWND bar = GetDlgItem(owner, IDC_PROGRESS);
    SendMessageA(bar, PBM_SETRANGE32, 0, n);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    HCURSOR before = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))); // IDC_WAIT
    std::unique_ptr<SaveAllFiles> files = MakeWindowsSaveAllFiles();
    SaveAllWay way;
    way.files = files.get();
    way.keepLeftovers = true;
    const SaveAllResult result =
        SaveAllPicturesTo(folder, g_app.album, kPathSeparator, StepProgress, bar, way);
    SetCursor(before);
    const std::string message = SaveAllMessage(result);
    if (result.ok()) {
        MarkAlbumSaved(g_app.album);
        ForgetRecoveryAlbum();
        // Only the message box runs beside the cleanup, so nothing can throw
        // past the thread before it is joined. Done long before the user
        // answers; nothing outlives the export.
        std::thread cleanup;
        try {
            cleanup = std::thread([&] { RemoveSaveAllLeftovers(result, files.get()); });
        } catch (const std::system_error&) {
            RemoveSaveAllLeftovers(result, files.get());
        }
        MessageBoxA(owner, message.c_str(), "Pixmora", MB_OK | MB_ICONINFORMATION);
        if (cleanup.joinable()) cleanup.join();
    } else {
        Tell(owner, message);
    }
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    if (result.ok()) OfferStalePictures(owner, folder, n);
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
    bi.lpfn = SaveAllBrowseCallback; // opens at the last Save All's folder
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
    RememberSaveAllFolder(folder);
    ExportAlbum(owner, folder);
}
