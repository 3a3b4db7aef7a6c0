// The recovery album's place in the program: where the store lives, the
// question on start, and the updates after album edits.
#include "app/recovery_win.h"

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "export/folder_files.h"
#include "export/recovery.h"

namespace {

RecoveryStore g_store;
// False until the store has been opened and any stored album was dealt with,
// and when there is no application-data folder.
bool g_keeping = false;

} // namespace

std::string PixmoraAppDataFolder() {
    const std::string root = ApplicationDataRoot();
    return root.empty() ? "" : JoinPath(root, "Pixmora", '\\');
}

void OfferRecoveryAlbum(HWND dialog) {
    g_keeping = false;
    std::string folder = PixmoraAppDataFolder();
    if (folder.empty()) return;
    OpenRecoveryStore(g_store, folder, '\\');
    if (!g_store.current.empty()) {
        std::string question = RecoveryRestoreQuestion(static_cast<int>(g_store.current.size()));
        if (MessageBoxA(dialog, question.c_str(), "Pixmora", MB_YESNO | MB_ICONQUESTION) == IDYES) {
            RecoveryReadResult read = ReadRecoveryAlbum(g_store, g_app.album);
            g_keeping = true;
            ShowWholeAlbum(); // an album edit: the store drops what could not be read
            std::string lost = RecoveryReadMessage(read);
            if (!lost.empty()) MessageBoxA(dialog, lost.c_str(), "Pixmora", MB_OK | MB_ICONWARNING);
            return;
        }
    } else {
        // Both indexes unreadable: say so once; the store is emptied below.
        std::string lost = RecoveryReadMessage(ReadRecoveryAlbum(g_store, g_app.album));
        if (!lost.empty()) MessageBoxA(dialog, lost.c_str(), "Pixmora", MB_OK | MB_ICONWARNING);
    }
    // Declined, or nothing to offer: what is on disk goes.
    ClearRecoveryStore(g_store);
    g_keeping = true;
}

void KeepRecoveryAlbum() {
    // A failure leaves the previous index valid; the next edit tries again.
    if (g_keeping) UpdateRecoveryStore(g_store, g_app.album);
}

void ForgetRecoveryAlbum() {
    if (!g_keeping) return;
    const AlbumStore none;
    UpdateRecoveryStore(g_store, none);
}
