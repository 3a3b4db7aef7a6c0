// The recovery album in the program: each window copies its album to a store
// of its own under %APPDATA%\Pixmora\Recovery after every change
// (export/recovery.h), locked while the window lives; a start offers back the
// stores of windows that have ended without saving (a crash, a kill, a
// closed session). When the folder cannot be had, the user is told once and
// the album works as before: nothing here ever stops the program.
#pragma once

#include <windows.h>

#include <string>

// The program's application-data folder, "<ApplicationDataRoot>\Pixmora";
// "" when there is none.
std::string PixmoraAppDataFolder();

// Once the main dialog's controls exist: makes this window's own store, then
// offers each store whose window has ended (one question each: Yes appends
// its pictures to the album, No deletes them) and tells the user what could
// not be read. A store read back is deleted once this window's store holds
// its pictures. From then on the album is kept in the store.
void OfferRecoveryAlbum(HWND dialog);
// Brings the store up to the album (writes only what changed). Called after
// every edit of the album. A write that fails is shown once ("Album pictures
// can no longer be kept safe: REASON.") and tried again on the next change;
// after a write that succeeds, a new failure is shown again.
void KeepRecoveryAlbum();
// The album as it is needs no recovery: it was saved with Save All. The
// pictures on disk stay for the next change to reuse.
void ForgetRecoveryAlbum();
// The user ends the program (and confirmed any unsaved pictures): the
// window's store, and any it read back, are deleted.
void EndRecoveryAlbum();
// The program ends without its close route (the end of the process does the
// same): the stores' locks go, their files stay for the next start.
void LeaveRecoveryAlbum();
