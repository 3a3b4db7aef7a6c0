// Save BMP (button 1029) and Save All (button 4): the file and folder
// dialogs around the writers of the core.
#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "export/bmp_writer.h"
#include "app/recovery_win.h"
#include "app/save_files_win.h"
#include "export/export_lock.h"
#include "export/folder_files.h"
#include "export/older_pictures.h"
#include "export/path_separator.h"
#include "export/save_all.h"
#include "export/save_bmp_names.h"
#include "export/save_journal.h"
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

// "Waiting for another export into FOLDER" on the progress bar's line while
// another export holds the folder: a text in the bar's place, the bar hidden.
struct WaitLine {
    HWND owner;
    HWND bar;
    std::string folder;
    HWND text = nullptr;
};

void ShowWaitLine(void* context) {
    WaitLine& w = *static_cast<WaitLine*>(context);
    RECT r;
    GetWindowRect(w.bar, &r);
    MapWindowPoints(nullptr, w.owner, reinterpret_cast<POINT*>(&r), 2);
    w.text = CreateWindowExA(0, "STATIC", WaitingForExportText(w.folder).c_str(),
                             WS_CHILD | WS_VISIBLE | SS_LEFT | SS_PATHELLIPSIS | SS_CENTERIMAGE,
                             r.left, r.top, r.right - r.left, r.bottom - r.top, w.owner, nullptr,
                             g_app.instance, nullptr);
    SendMessageA(w.text, WM_SETFONT, SendMessageA(w.owner, WM_GETFONT, 0, 0), TRUE);
    ShowWindow(w.bar, SW_HIDE);
    UpdateWindow(w.owner);
}

void HideWaitLine(WaitLine& w) {
    if (!w.text) return;
    DestroyWindow(w.text);
    w.text = nullptr;
    ShowWindow(w.bar, SW_SHOW);
}

// Takes the folder's export lock, waiting (up to a minute) with the wait line
// up; the user is told when it stayed busy.
bool TakeExportLock(HWND owner, const std::string& folder, ExportLock& lock) {
    WaitLine wait{owner, GetDlgItem(owner, IDC_PROGRESS), folder};
    const ExportLockOutcome taken =
        lock.Take(folder, kPathSeparator, kExportLockWaitMs, ShowWaitLine, &wait);
    HideWaitLine(wait);
    if (taken != ExportLockOutcome::kBusy) return true;
    Tell(owner, ExportBusyText(folder));
    return false;
}

// After a successful Save All of `setSize` pictures: numbered pictures of an
// earlier, larger export are offered for deletion, the user's own files among
// them named. Only the files the question counted are deleted, under the
// folder's lock. The folder is in the ANSI code page; the question's text is
// UTF-8 (it holds an ellipsis).
void OfferStalePictures(HWND owner, const std::string& folder, int setSize) {
    // An empty album writes nothing; it does not offer to empty the folder.
    if (setSize <= 0) return;
    const StalePictures stale = FindStalePictures(folder, setSize);
    if (stale.count == 0) return;
    const std::string question = StalePicturesQuestion(Utf8(Wide(folder, CP_ACP)), stale);
    if (MessageBoxW(owner, Wide(question, CP_UTF8).c_str(), L"Pixmora",
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    ExportLock lock;
    if (!TakeExportLock(owner, folder, lock)) return;
    const StalePictures left = DeleteStalePictures(folder, stale);
    if (left.count > 0)
        Tell(owner, "Could not delete " + std::to_string(left.count) + " of the older pictures.");
}

// Writes the album into `folder` with the wait cursor and pictures written of
// N on the progress bar; the full bar stays while the result is shown. The
// folder is locked from before it is read until the older files the new set
// replaced are deleted, which happens while the user reads the result. The
// user's own files under the set's names are replaced only when the user
// says so.
void ExportAlbum(HWND owner, const std::string& folder) {
    const int n = AlbumCount(g_app.album);
    HWND bar = GetDlgItem(owner, IDC_PROGRESS);
    ExportLock lock;
    if (n > 0) {
        if (!TakeExportLock(owner, folder, lock)) return;
        const std::string repaired =
            SaveAllRepairMessage(folder, RepairInterruptedSaveAll(folder, kPathSeparator));
        if (!repaired.empty())
            MessageBoxA(owner, repaired.c_str(), "Pixmora", MB_OK | MB_ICONINFORMATION);
    }
    std::unique_ptr<SaveAllFiles> files = MakeWindowsSaveAllFiles();
    SaveAllWay way;
    way.files = files.get();
    way.keepLeftovers = true;
    way.lock = &lock;
    auto save = [&] {
        SendMessageA(bar, PBM_SETRANGE32, 0, n);
        SendMessageA(bar, PBM_SETPOS, 0, 0);
        HCURSOR before = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514))); // IDC_WAIT
        SaveAllResult r =
            SaveAllPicturesTo(folder, g_app.album, kPathSeparator, StepProgress, bar, way);
        SetCursor(before);
        return r;
    };
    SaveAllResult result = save();
    if (result.failure == SaveAllFailure::kOwnFiles) {
        const std::string ask = OwnFilesQuestion(folder, result.ownFiles);
        if (MessageBoxA(owner, ask.c_str(), "Pixmora", MB_YESNO | MB_ICONWARNING) != IDYES) {
            SendMessageA(bar, PBM_SETPOS, 0, 0);
            return;
        }
        way.replaceable = result.ownFiles;
        result = save();
    }
    const std::string message = SaveAllMessage(result);
    if (result.ok()) {
        MarkAlbumSaved(g_app.album);
        ForgetRecoveryAlbum();
        // Only the message box runs beside the cleanup, so nothing can throw
        // past the thread before it is joined. Done long before the user
        // answers; nothing outlives the export. The folder is free for the
        // next export as soon as its older files are gone.
        auto cleanup = [&] {
            RemoveSaveAllLeftovers(result, files.get());
            lock.Release();
        };
        std::thread cleaning;
        try {
            cleaning = std::thread(cleanup);
        } catch (const std::system_error&) {
            cleanup();
        }
        MessageBoxA(owner, message.c_str(), "Pixmora", MB_OK | MB_ICONINFORMATION);
        if (cleaning.joinable()) cleaning.join();
    } else {
        Tell(owner, message);
    }
    lock.Release();
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

void RepairLastSaveAllFolder(HWND owner) {
    const std::string& folder = CurrentSettings().saveAllFolder;
    if (folder.empty() || !IsFolder(folder)) return;
    // An export into it under way now (another window) puts it right itself.
    ExportLock lock;
    if (lock.TryTake(folder, kPathSeparator) != ExportLockOutcome::kTaken) return;
    const std::string repaired =
        SaveAllRepairMessage(folder, RepairInterruptedSaveAll(folder, kPathSeparator));
    lock.Release();
    if (!repaired.empty())
        MessageBoxA(owner, repaired.c_str(), "Pixmora", MB_OK | MB_ICONINFORMATION);
}
