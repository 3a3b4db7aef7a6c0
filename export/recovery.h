// The recovery album: a copy of the album's pictures on disk, kept up to date
// after every change of the album, so that a crash or a closed window does not
// lose the user's work. The program passes its application-data folder; the
// store lives in its subfolder "Recovery":
//
//   <16 hex digits>.pic  one picture: its whole 51,200-byte block, named by a
//                        64-bit hash of those bytes, so a picture that is
//                        already on disk is never written again, whatever
//                        moves the album makes;
//   index-0, index-1     the album's order as a list of hashes, with a
//                        sequence number and a checksum; written in turn, and
//                        the newer valid one wins, so a write cut short leaves
//                        the previous order readable. No file is ever renamed
//                        onto another.
//
// Reading back trusts nothing: every picture must have the right size, hash
// and header (128 x 128, 24 bits), and what fails is left out and counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/album.h"
#include "export/path_separator.h"

struct RecoveryStore {
    std::string folder; // <application-data folder>/Recovery
    char separator = kPathSeparator;
    uint32_t sequence = 0;          // of the newest index on disk (0: none)
    std::vector<uint64_t> current;  // the order in the newest index
    std::vector<uint64_t> previous; // the order in the index before it
    std::vector<uint64_t> checked;  // pictures on disk known to hold their bytes
    std::vector<uint64_t> present;  // every picture file seen or written
};

// Points the store at `appDataFolder` (e.g. "C:\\Users\\Ann\\AppData\\Roaming\\Pixmora\\")
// and reads which indexes and pictures are there. Creates nothing yet.
void OpenRecoveryStore(RecoveryStore& store, const std::string& appDataFolder,
                       char separator = kPathSeparator);

struct RecoveryReadResult {
    int restored = 0;          // pictures appended to the album
    int dropped = 0;           // listed pictures that were missing or damaged
    int leftOut = 0;           // readable pictures that found no room in the album
    bool damagedIndex = false; // an index exists, but none could be read
};

// Appends the newest index's pictures, in its order and byte for byte, to the
// album (which is empty at start). The album's spare blocks are read into
// directly; a picture that fails its checks leaves the count as it was.
// Restored pictures count as changed since the last Save All.
RecoveryReadResult ReadRecoveryAlbum(RecoveryStore& store, AlbumStore& album);

// Brings the store up to the album: writes the pictures not yet on disk, then
// a new index, then deletes pictures that neither of the two newest indexes
// lists. Nothing is written when the album is as stored. Hashes the pictures
// in use (384 pictures: about 20 MB read from memory). Creates the folders
// when needed. False when something could not be written (the previous index
// stays valid).
bool UpdateRecoveryStore(RecoveryStore& store, const AlbumStore& album);

// Forgets the recovery album (after a successful Save All, or a close the
// user confirmed): deletes both indexes, then the picture files of the store.
void ClearRecoveryStore(RecoveryStore& store);

// "Pixmora was closed with N album pictures that were not saved. Restore them?"
std::string RecoveryRestoreQuestion(int count);
// What was lost in reading back, for the user; "" when nothing was.
std::string RecoveryReadMessage(const RecoveryReadResult& result);
