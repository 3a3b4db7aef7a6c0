// The recovery album: a copy of the album's pictures on disk, kept up to date
// after every change of the album, so that a crash or a closed window does not
// lose the user's work. The program passes its application-data folder; the
// stores live in its subfolder "Recovery", one per window:
//
//   window-N.lock        the owner lock of store N (export/file_guards.h):
//                        held by its window while the window lives, so no
//                        other window ever reads, offers or deletes the store;
//   window-N\            the store itself:
//     <16 hex digits>.pic  one picture: its whole 51,200-byte block, named by
//                        a 64-bit hash of those bytes, so a picture that is
//                        already on disk is never written again, whatever
//                        moves the album makes; on the disk before an index
//                        names it;
//     index-0, index-1   the album's order as a list of hashes, with a
//                        sequence number and a checksum; written in turn, and
//                        the newer valid one wins (the sequence counts on
//                        through 2^32 without losing its order), so a write
//                        cut short leaves the previous order readable. No
//                        file is ever renamed onto another.
//
// Earlier versions kept one store in "Recovery" itself; it is offered like a
// store whose window has ended. Reading back trusts nothing: every picture
// must have the right size, hash and header (128 x 128, 24 bits), and what
// fails is left out and counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/album.h"
#include "export/file_guards.h"
#include "export/path_separator.h"

struct RecoveryStore {
    std::string folder; // <application-data folder>/Recovery/window-N
    char separator = kPathSeparator;
    OwnerLock lock;                 // held while this store is the caller's
    bool indexed = false;           // an index was read or written
    bool damaged = false;           // indexes on disk, none readable
    uint32_t sequence = 0;          // of the newest index (when indexed)
    std::vector<uint64_t> current;  // the order in the newest index (damaged: the intact pictures)
    std::vector<uint64_t> previous; // the order in the index before it
    std::vector<uint64_t> checked;  // pictures on disk known to hold their bytes
    std::vector<uint64_t> present;  // every picture file seen or written
};

// This window's own store: a new, empty store under `appDataFolder` (e.g.
// "C:\\Users\\Ann\\AppData\\Roaming\\Pixmora\\"), locked for as long as the
// store is held (until RemoveRecoveryStore or ReleaseRecoveryStore, or the
// process's end). Creates the folders. False, with the reason, when it
// cannot be made.
bool CreateRecoveryStore(RecoveryStore& store, const std::string& appDataFolder,
                         std::string& reason, char separator = kPathSeparator);

// Every store under `appDataFolder` whose window has ended (closed, crashed
// or killed), oldest first, each now locked for the caller and read: its
// newest order in `current`. Stores that a living window holds are left
// alone. A store whose indexes are both damaged lists its intact pictures in
// the order they were stored (`damaged`).
std::vector<RecoveryStore> TakeLeftRecoveryStores(const std::string& appDataFolder,
                                                  char separator = kPathSeparator);

struct RecoveryReadResult {
    int restored = 0;          // pictures appended to the album
    int dropped = 0;           // listed pictures that were missing or damaged
    int leftOut = 0;           // readable pictures that found no room in the album
    bool damagedIndex = false; // indexes exist, but none could be read
};

// Appends the store's pictures (`current`), in its order and byte for byte,
// to the album. The album's spare blocks are read into directly; a picture
// that fails its checks leaves the count as it was. Restored pictures count
// as changed since the last Save All.
RecoveryReadResult ReadRecoveryAlbum(RecoveryStore& store, AlbumStore& album);

// Brings the store up to the album: writes the pictures not yet on disk and
// flushes them, then a new index, then deletes pictures that neither of the
// two newest indexes lists. Nothing is written when the album is as stored.
// Hashes the pictures in use (384 pictures: about 20 MB read from memory).
// False, with the reason ("cannot write PATH: No space left on device"),
// when something could not be written: the previous index stays valid, and
// the next call writes everything still missing.
bool UpdateRecoveryStore(RecoveryStore& store, const AlbumStore& album,
                         std::string* reason = nullptr);

// Deletes the store (indexes first, then pictures, then its folder) and
// gives up its lock: after a close the user confirmed, or once its pictures
// are in another store.
void RemoveRecoveryStore(RecoveryStore& store);
// Gives up the store's lock and leaves its files, as the end of the process
// does: the next start finds it as a store whose window has ended.
void ReleaseRecoveryStore(RecoveryStore& store);

// "Pixmora was closed with N album pictures that were not saved. Restore them?"
std::string RecoveryRestoreQuestion(int count);
// What was lost in reading back, for the user; "" when nothing was.
std::string RecoveryReadMessage(const RecoveryReadResult& result);
// "Album pictures can no longer be kept safe: REASON."
std::string RecoveryWriteFailedMessage(const std::string& reason);
