// The recovery album's place in the program: where the stores live, the
// questions on start, and the updates after album edits.
#include "app/recovery_win.h"

#include <utility>
#include <vector>

#include "app/app_win.h"
#include "app/gui_routes_win.h"
#include "app/settings_win.h"
#include "export/folder_files.h"
#include "export/recovery.h"

namespace {

RecoveryStore g_store; // this window's own (locked while the window lives)
// Stores of ended windows read back into the album: deleted once g_store
// holds their pictures.
std::vector<RecoveryStore> g_restoredFrom;
// False until the stores were dealt with, and when there is no
// application-data folder.
bool g_keeping = false;
std::string g_appData;
bool g_failureShown = false; // since the last write that succeeded

void Tell(HWND owner, const std::string& text, UINT icon) {
    MessageBoxA(owner, text.c_str(), "Pixmora", MB_OK | icon);
}

} // namespace

std::string PixmoraAppDataFolder() {
    const std::string root = ApplicationDataRoot();
    return root.empty() ? "" : JoinPath(root, "Pixmora", '\\');
}

void OfferRecoveryAlbum(HWND dialog) {
    g_keeping = false;
    g_failureShown = false;
    g_appData = PixmoraAppDataFolder();
    if (g_appData.empty()) return;
    std::string reason; // a store that cannot be made now is tried again on the first change
    CreateRecoveryStore(g_store, g_appData, reason, '\\');
    bool restored = false;
    for (RecoveryStore& left : TakeLeftRecoveryStores(g_appData, '\\')) {
        if (left.current.empty()) {
            // An emptied album, or one of which nothing can be read.
            if (left.damaged) {
                const RecoveryReadResult nothing = ReadRecoveryAlbum(left, g_app.album);
                Tell(dialog, RecoveryReadMessage(nothing), MB_ICONWARNING);
            }
            RemoveRecoveryStore(left);
            continue;
        }
        const std::string question =
            RecoveryRestoreQuestion(static_cast<int>(left.current.size()));
        if (MessageBoxA(dialog, question.c_str(), "Pixmora", MB_YESNO | MB_ICONQUESTION) != IDYES) {
            RemoveRecoveryStore(left);
            continue;
        }
        const RecoveryReadResult read = ReadRecoveryAlbum(left, g_app.album);
        g_restoredFrom.push_back(std::move(left));
        restored = true;
        const std::string lost = RecoveryReadMessage(read);
        if (!lost.empty()) Tell(dialog, lost, MB_ICONWARNING);
    }
    g_keeping = true;
    if (restored) ShowWholeAlbum(); // an album edit: written into this window's store
}

void KeepRecoveryAlbum() {
    if (!g_keeping) return;
    std::string reason;
    const bool kept = (g_store.lock.held() || CreateRecoveryStore(g_store, g_appData, reason, '\\')) &&
                      UpdateRecoveryStore(g_store, g_app.album, &reason);
    if (kept) {
        g_failureShown = false;
        for (RecoveryStore& from : g_restoredFrom)
            RemoveRecoveryStore(from);
        g_restoredFrom.clear();
        return;
    }
    if (g_failureShown) return;
    g_failureShown = true;
    Tell(g_app.mainDialog, RecoveryWriteFailedMessage(reason), MB_ICONWARNING);
}

void ForgetRecoveryAlbum() {
    if (!g_keeping || !g_store.lock.held()) return;
    const AlbumStore none;
    if (UpdateRecoveryStore(g_store, none)) {
        for (RecoveryStore& from : g_restoredFrom)
            RemoveRecoveryStore(from);
        g_restoredFrom.clear();
    }
}

void EndRecoveryAlbum() {
    RemoveRecoveryStore(g_store);
    for (RecoveryStore& from : g_restoredFrom)
        RemoveRecoveryStore(from);
    g_restoredFrom.clear();
    g_keeping = false;
}

void LeaveRecoveryAlbum() {
    ReleaseRecoveryStore(g_store);
    for (RecoveryStore& from : g_restoredFrom)
        ReleaseRecoveryStore(from);
    g_restoredFrom.clear();
    g_keeping = false;
}
