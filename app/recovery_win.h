// The recovery album in the program: the album is copied to
// %APPDATA%\Pixmora\Recovery after every change (export/recovery.h), and
// offered back when the program starts after a crash or a closed window.
// When the folder cannot be had, recovery is simply off: nothing here ever
// stops the program.
#pragma once

#include <windows.h>

#include <string>

// The program's application-data folder, "<ApplicationDataRoot>\Pixmora";
// "" when there is none.
std::string PixmoraAppDataFolder();

// Once the main dialog's controls exist: opens the store; when it holds
// album pictures, asks whether to restore them (Yes fills the album and its
// list as they were, No discards them). Tells the user what could not be
// read. From then on the album is kept in the store.
void OfferRecoveryAlbum(HWND dialog);
// Brings the store up to the album (writes only what changed). Called after
// every edit of the album.
void KeepRecoveryAlbum();
// The album as it is needs no recovery: it was saved with Save All, or the
// user chose to close without saving. The pictures on disk stay for the
// next change to reuse; the next start deletes them when nothing lists them.
void ForgetRecoveryAlbum();
