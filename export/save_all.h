// Save All: the file names of a set, the all-or-nothing writer and its
// messages, free of any window code so they run (and are tested) on every
// platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/frame_image.h"
#include "export/album.h"
#include "export/export_lock.h"
#include "export/path_separator.h"
#include "export/save_journal.h"

// Album picture `index` (from 0, in list order) is saved as folder + separator
// + "<index>.jpg". The separator is added even when the folder already ends
// with one (a drive root gives "C:\\0.jpg", which the file system accepts).
std::string SaveAllFileName(const std::string& folder, int index, char separator = kPathSeparator);

enum class SaveAllFailure {
    kNone,
    kCannotCreate,  // a file could not be opened for writing (or the folder not read)
    kWriteFailed,   // writing or closing a file failed
    kDoesNotFit,    // the encoded picture is larger than the output block
    kBadPicture,    // the picture block's header is unusable
    kOutOfMemory,   // the output block or the encoder's work block could not be had
    kCannotReplace, // the existing file of that name could not be moved aside, or the
                    // new file could not take the name (e.g. a folder is called "3.jpg")
    kFolderBusy,    // another export into the folder did not finish within the wait
    kOwnFiles,      // numbered files that are not 128 x 128 pictures would be replaced
    kPathTooLong,   // the work files' paths would be longer than the system takes
    kNotDurable,    // the new files could not be made durable (flushed to the disk)
};

// A set whose older files still wait in the work folder: the plan that names
// them and the folder's lock, held until they are gone.
struct SaveAllPending {
    SavePlan plan;
    std::unique_ptr<ExportLock> lock; // the export's own; none when the caller holds one
};

struct SaveAllResult {
    // Pictures in the folder as 0.jpg .. (written - 1).jpg: all of them on
    // success, 0 after a failure (nothing of the new set is kept).
    int written = 0;
    std::string folder;     // the folder as the caller named it
    std::string failedFile; // the file of the set the export stopped at; "" when none
    SaveAllFailure failure = SaveAllFailure::kNone;
    // The system's words for the file operation that failed ("No space left
    // on device"); "" when it gave none (an encoder failure, or file
    // operations that do not set errno).
    std::string reason;
    // After a failure: true when the folder holds exactly what it held before
    // (the normal case); false when putting an older file back failed too.
    bool folderRestored = true;
    // kOwnFiles: the numbered files in the set's range that are not 128 x 128
    // pictures (the user's own), in number order; nothing was written.
    std::vector<std::string> ownFiles;
    // kPathTooLong: by how many characters the folder's path is too long.
    int pathTooLongBy = 0;
    // Interrupted exports into the folder that were put right first.
    SaveAllRepair repair;
    // With SaveAllWay::keepLeftovers, after success: the older files in the
    // work folder, still to be deleted (by RemoveSaveAllLeftovers); empty otherwise.
    std::vector<std::string> leftovers;
    std::shared_ptr<SaveAllPending> pending;
    bool ok() const { return failure == SaveAllFailure::kNone; }
};

// Called after each picture has been written under its temporary name:
// `done` of `total` (1 .. total). The renames that follow are quicker.
using SaveAllProgress = void (*)(void* context, int done, int total);

// The file operations Save All is built on. The base class uses the C
// library, without hard links, and runs everywhere; the Windows program
// passes one built on the system's own calls. Paths are narrow, as the rest
// of the program names files.
class SaveAllFiles {
  public:
    virtual ~SaveAllFiles() = default;
    // Creates the new file `path` (which must not exist) holding `bytes`:
    // kNone, or kCannotCreate / kWriteFailed with nothing left under that
    // name.
    virtual SaveAllFailure Write(const std::string& path, const uint8_t* bytes, size_t length);
    // Makes every file written so far durable (on the disk, not only in the
    // system's cache); false when that failed.
    virtual bool Flush();
    // Gives the file `path` the second name `link` (a new name). False when
    // the file system has no hard links (FAT), the call failed, or (the base
    // class) links are not used.
    virtual bool Link(const std::string& path, const std::string& link);
    // Renames `from` to `to`. With `replace`, an existing file `to` is
    // replaced in the same step; without it, the rename fails on an existing
    // name (on every system).
    virtual bool Move(const std::string& from, const std::string& to, bool replace);
    virtual bool Remove(const std::string& path);
    // Lets go of whatever the writes still hold (open files): called before
    // anything is put back, and when the set is in place.
    virtual void Close() {}

  private:
    std::vector<std::string> unflushed_; // written by the base class, not yet flushed
};

// How a set is saved; the defaults are the C library's file operations and
// nothing left to do afterwards.
struct SaveAllWay {
    SaveAllFiles* files = nullptr;
    // True: after success the older files stay in the work folder, listed in
    // the result, for RemoveSaveAllLeftovers (which may run on another
    // thread while the user reads the message). The new set is complete
    // either way.
    bool keepLeftovers = false;
    // The folder's export lock: null, and the export takes it itself, waiting
    // up to `lockWaitMs` for another export into the folder (`waiting` is told
    // once when the wait begins) and first puts right an export into it that
    // was cut short; or the caller's, who took it (or found none can be had
    // there), put the folder right under it, and keeps it.
    ExportLock* lock = nullptr;
    int lockWaitMs = kExportLockWaitMs;
    void (*waiting)(void* context) = nullptr;
    void* waitingContext = nullptr;
    // Numbered files in the set's range that are not 128 x 128 pictures are
    // replaced only with `replaceOwnFiles`, or when named in `replaceable`
    // (the names the user was asked about); otherwise the export stops with
    // kOwnFiles before it writes anything.
    bool replaceOwnFiles = false;
    std::vector<std::string> replaceable;
};

// Saving a set is all or nothing. The export first takes the folder's lock
// (export/export_lock.h) and puts right any export into it that was cut
// short (export/save_journal.h). Numbered files it would replace that are not
// 128 x 128 pictures stop it unless allowed (see SaveAllWay). Every picture
// is then written into a work folder made inside the folder ("~pixmora-K", K
// chosen so that no name of the folder starts with it), as "~pixmora-K/G/i"
// with one subfolder G for every 32 pictures, and made durable. The journal
// in the work folder then names every new file and every older file it
// replaces. Only then does each take its name i.jpg: an existing i.jpg keeps
// a second name "~pixmora-K/G/i.jpg" (a hard link) and the new file replaces
// it in one rename; where the file system has no hard links, every older file
// of that number ("3.jpg", and "3.JPG" beside it on a case-sensitive file
// system: one picture, one slot) is first moved to "~pixmora-K/G/<its name>"
// and the new one then takes the free name. Once all are in and durable, the
// journal says so and the set is saved; the older files and the work folder
// are deleted then (or later, see SaveAllWay). A failure at any point before
// deletes the new files and puts the older ones back, so the folder holds
// exactly what it held (names and bytes); files are recognised by their
// bytes or stamps, never by name alone. Higher-numbered older files stay (see
// export/older_pictures.h).

// Encodes `picture` as Save All writes it: `jpeg` receives the whole stream
// (kNone), or is emptied and the reason returned. Touches no shared state, so
// several threads may encode different pictures at once.
SaveAllFailure EncodeSaveAllPicture(const FrameImage& picture, std::vector<uint8_t>& jpeg);

// Writes already-encoded streams jpegs[0 .. count) as the set 0.jpg ..
// (count - 1).jpg of `folder`, all or nothing as described above.
SaveAllResult CommitSaveAllSet(const std::string& folder, const std::vector<uint8_t>* jpegs,
                               int count, char separator = kPathSeparator,
                               SaveAllProgress progress = nullptr, void* context = nullptr,
                               const SaveAllWay& way = {});

// Encodes pictures[0 .. count) in list order (one 51,200-byte output block,
// zeroed before each picture; on a second thread when one can be had, so the
// encoding of the next pictures overlaps the writing of the first) and saves
// them as the set, all or nothing. An encoder failure stops the export like a
// write failure; no file is created for a picture that could not be encoded.
SaveAllResult SaveAllPicturesTo(const std::string& folder, const FrameImage* const* pictures,
                                int count, char separator = kPathSeparator,
                                SaveAllProgress progress = nullptr, void* context = nullptr,
                                const SaveAllWay& way = {});
SaveAllResult SaveAllPicturesTo(const std::string& folder, const AlbumStore& album,
                                char separator = kPathSeparator, SaveAllProgress progress = nullptr,
                                void* context = nullptr, const SaveAllWay& way = {});

// Deletes what a successful Save All with `keepLeftovers` left: the older
// files it listed (those still what they were) and its work folder, nothing
// else (first letting `files` close what it held), then lets go of the
// folder's lock. A file that cannot go leaves the work folder with its
// journal, and the next export into the folder finishes the job. Returns true
// when all went.
bool RemoveSaveAllLeftovers(const SaveAllResult& result, SaveAllFiles* files = nullptr);

// A one-line English reason ("cannot create the file", ...).
const char* SaveAllFailureText(SaveAllFailure failure);
// The whole message for the user: "Saved 3 pictures to C:\pics." after
// success; after a failure e.g. "Could not save C:\pics\3.jpg: cannot create
// the file. The folder was left as it was." A failure of the whole folder
// (busy, too long a path, the user's own files) reads "Could not save into
// C:\pics: ...".
std::string SaveAllMessage(const SaveAllResult& result);
