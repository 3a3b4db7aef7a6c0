#include "export/save_all.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "export/encode_ahead.h"
#include "export/folder_files.h"
#include "export/jpeg_encoder.h"
#include "export/older_pictures.h"
#include "picture/limits.h"

std::string SaveAllFileName(const std::string& folder, int index, char separator) {
    return folder + separator + std::to_string(index) + ".jpg";
}

// Written and closed; flushed all together once the set is written.
SaveAllFailure SaveAllFiles::Write(const std::string& path, const uint8_t* bytes, size_t length) {
    switch (WriteNewFile(path, bytes, length, false)) {
    case NewFileOutcome::kWritten: unflushed_.push_back(path); return SaveAllFailure::kNone;
    case NewFileOutcome::kCannotCreate: return SaveAllFailure::kCannotCreate;
    case NewFileOutcome::kWriteFailed: break;
    }
    return SaveAllFailure::kWriteFailed;
}

bool SaveAllFiles::Flush() {
    const bool ok = FlushPaths(unflushed_, {});
    unflushed_.clear();
    return ok;
}

// Natively the older file steps aside: ext4 writes out a file renamed over
// another at once (to keep a crash from leaving it empty), which costs more
// than the second rename.
bool SaveAllFiles::Link(const std::string&, const std::string&) {
    return false;
}

bool SaveAllFiles::Move(const std::string& from, const std::string& to, bool replace) {
    return RenameFile(from, to, replace);
}

bool SaveAllFiles::Remove(const std::string& path) {
    return RemoveFile(path);
}

namespace {

// What a picture's own number holds before the set is written.
enum class Target {
    kFree,     // nothing: the new file takes the name directly
    kFile,     // older files, moved aside before the new one takes the name
    kSame,     // "i.jpg" alone, already holding exactly the new picture: kept as it is
    kNotAFile, // a folder or the like, which stops the export
};

// One look-up per name: the size decides unless it equals the new stream's.
Target InspectTarget(const std::string& folder, char separator, int i,
                     const std::vector<std::string>& names, const uint8_t* bytes, size_t length) {
    if (names.empty()) return Target::kFree;
    for (const std::string& name : names)
        if (!IsRegularFile(folder + separator + name)) return Target::kNotAFile;
    if (names.size() != 1 || names[0] != std::to_string(i) + ".jpg") return Target::kFile;
    const std::string path = folder + separator + names[0];
    FileStamp stamp;
    if (!StampFile(path, stamp) || stamp.size != length) return Target::kFile;
    return HoldsContent(path, length, ContentHash(bytes, length)) ? Target::kSame : Target::kFile;
}

// The first "~pixmora-K" that no name of the folder starts with (in any case):
// the work folder of one Save All.
std::string FreshStem(const std::vector<std::string>& names) {
    for (int k = 0;; ++k) {
        std::string stem = "~pixmora-" + std::to_string(k);
        bool used = false;
        for (const std::string& name : names)
            if (LowerAscii(name.substr(0, stem.size())) == stem) {
                used = true;
                break;
            }
        if (!used) return stem;
    }
}

// For each picture 0 .. count - 1 every name of the folder that is that
// picture's name in some case ("3.jpg", "3.JPG"), in name order.
std::vector<std::vector<std::string>> NumberedNames(const std::vector<std::string>& names,
                                                    int count) {
    std::vector<std::vector<std::string>> found(count);
    for (const std::string& name : names) {
        int number = 0;
        if (IsNumberedPictureName(name, &number) && number < count) found[number].push_back(name);
    }
    for (auto& spellings : found)
        std::sort(spellings.begin(), spellings.end());
    return found;
}

// The longest path the system takes: MAX_PATH on Windows.
#ifdef _WIN32
constexpr size_t kLongestWorkPath = kLongestPath;
#else
constexpr size_t kLongestWorkPath = 4095;
#endif

size_t Digits(int n) {
    return std::to_string(n).size();
}

// The system's words for the failure of the file operation just made, which
// was preceded by errno = 0; "" when it set none.
std::string SystemReason() {
    return errno ? std::strerror(errno) : "";
}

SaveAllResult SaveSet(const std::string& folder, int count, char separator, PictureSource& source,
                      SaveAllProgress progress, void* context, const SaveAllWay& way) {
    SaveAllResult result;
    result.folder = folder;
    if (count <= 0) return result;
    SaveAllFiles libraryFiles;
    SaveAllFiles& files = way.files ? *way.files : libraryFiles;
    auto fail = [&](int i, SaveAllFailure failure) {
        result.failure = failure;
        result.failedFile = i < 0 ? "" : SaveAllFileName(folder, i, separator);
        result.written = 0;
        return result;
    };
    // One export into the folder at a time, from before the folder is listed.
    std::unique_ptr<ExportLock> ownLock;
    if (!way.lock) {
        ownLock.reset(new ExportLock);
        if (ownLock->Take(folder, separator, way.lockWaitMs, way.waiting, way.waitingContext) ==
            ExportLockOutcome::kBusy)
            return fail(-1, SaveAllFailure::kFolderBusy);
    }
    // A caller that holds the lock has put the folder right under it already.
    if (ownLock) result.repair = RepairInterruptedSaveAll(folder, separator);
    std::vector<std::string> names;
    errno = 0;
    if (!ListFolder(folder, names)) {
        result.reason = SystemReason();
        return fail(0, SaveAllFailure::kCannotCreate);
    }
    const std::vector<std::vector<std::string>> numbered = NumberedNames(names, count);

    // New pictures and the older files they replace wait in a work folder of
    // their own: under Wine every new name costs a case-insensitive search of
    // its folder, which stays small there.
    SavePlan plan;
    plan.folder = folder;
    plan.separator = separator;
    plan.work = folder + separator + FreshStem(names);
    // Every work name must fit where the set's names do; checked before
    // anything is written. The longest is a backup "<work>/G/<n>.jpg".
    const size_t longest =
        plan.work.size() + 1 + Digits((count - 1) / kWorkGroup) + 1 + Digits(count - 1) + 4;
    if (longest > kLongestWorkPath) {
        result.pathTooLongBy = static_cast<int>(longest - kLongestWorkPath);
        return fail(-1, SaveAllFailure::kPathTooLong);
    }
    // The user's own files under the set's names are replaced only when allowed.
    for (int i = 0; i < count; ++i)
        for (const std::string& name : numbered[i]) {
            const std::string path = folder + separator + name;
            if (IsRegularFile(path) && !IsFramePictureFile(path) && !way.replaceOwnFiles &&
                std::find(way.replaceable.begin(), way.replaceable.end(), name) ==
                    way.replaceable.end())
                result.ownFiles.push_back(name);
        }
    if (!result.ownFiles.empty()) return fail(-1, SaveAllFailure::kOwnFiles);

    // The work folder is made with the first picture written (an album saved
    // again unchanged writes nothing), here and now, or the export stops: a
    // folder of that name that appeared since the listing may be another's.
    // The journal, made first, marks the folder as an export's. One subfolder
    // for every kWorkGroup pictures keeps each folder's search short; they are
    // made in order, as their first picture is written.
    bool workMade = false;
    std::vector<std::string> groups;
    auto made = [&](int i) {
        if (!workMade) {
            if (!MakeNewFolder(plan.work)) return false;
            workMade = true;
            const std::string header = JournalHeader();
            if (WriteNewFile(plan.Journal(), reinterpret_cast<const uint8_t*>(header.data()),
                             header.size()) != NewFileOutcome::kWritten)
                return false;
        }
        const std::string group = plan.Group(i);
        if (!groups.empty() && groups.back() == group) return true;
        if (!MakeNewFolder(group)) return false;
        groups.push_back(group);
        return true;
    };
    // From here a failure undoes what the plan says was done.
    auto undo = [&](int i, SaveAllFailure failure) {
        result.reason = SystemReason(); // the failure's, not the undoing's
        files.Close();
        fail(i, failure);
        result.folderRestored = !workMade || UndoSavePlan(plan);
        return result;
    };

    // 1. Every picture under its temporary name, unless the folder already
    // holds it under its own name (saving an album again after a few changes).
    // A name the listing does not hold in any case is free: no look-up.
    std::vector<Target> target(count, Target::kFree);
    for (int i = 0; i < count; ++i) {
        const uint8_t* bytes = nullptr;
        size_t length = 0;
        SaveAllFailure failure = source.Stream(i, bytes, length);
        errno = 0;
        if (failure == SaveAllFailure::kNone) {
            target[i] = InspectTarget(folder, separator, i, numbered[i], bytes, length);
            if (target[i] != Target::kSame) {
                PlannedSlot slot;
                slot.index = i;
                slot.size = length;
                slot.hash = ContentHash(bytes, length);
                if (target[i] == Target::kFile)
                    for (const std::string& name : numbered[i]) {
                        OlderFile o;
                        o.name = name;
                        if (StampFile(folder + separator + name, o.stamp)) slot.older.push_back(o);
                    }
                if (!made(i))
                    failure = SaveAllFailure::kCannotCreate;
                else
                    failure = files.Write(plan.Temp(i), bytes, length);
                if (failure == SaveAllFailure::kNone) plan.slots.push_back(slot);
            }
        }
        if (failure != SaveAllFailure::kNone) return undo(i, failure);
        if (progress) progress(context, i + 1, count);
    }
    // Every picture already in place: nothing to change.
    if (plan.slots.empty()) {
        result.written = count;
        return result;
    }
    // The new files, their names and the journal's plan are on the disk
    // before anything in the folder changes.
    std::vector<std::string> folders = groups;
    folders.push_back(plan.work);
    folders.push_back(folder);
    errno = 0;
    bool durable = files.Flush() && FlushPaths({}, folders) &&
                   AppendToFile(plan.Journal(), JournalPlanText(plan));
    if (!durable) return undo(-1, SaveAllFailure::kNotDurable);
    plan.planned = true;

    // 2. Each takes its name. An older file "i.jpg" keeps a second name in
    // the work folder and the new file replaces it in one step; without hard
    // links (or for another spelling) the older files step aside first.
    bool links = true; // false after the first refused link
    for (const PlannedSlot& slot : plan.slots) {
        const int i = slot.index;
        errno = 0;
        // Only plain files are replaced: a folder called "3.jpg" stops the export.
        if (target[i] == Target::kNotAFile) return undo(i, SaveAllFailure::kCannotReplace);
        const std::string name = plan.Final(i);
        const bool spelled =
            slot.older.size() == 1 && slot.older[0].name == std::to_string(i) + ".jpg";
        if (links && spelled) {
            const std::string backup = plan.Backup(i, slot.older[0]);
            if (files.Link(plan.Older(slot.older[0]), backup)) {
                if (files.Move(plan.Temp(i), name, true)) continue;
                // Nothing changed: the older file still has its name, and the
                // way without links is tried.
                if (!files.Remove(backup)) return undo(i, SaveAllFailure::kCannotReplace);
            } else {
                links = false;
            }
        }
        for (const OlderFile& o : slot.older)
            if (!files.Move(plan.Older(o), plan.Backup(i, o), false))
                return undo(i, SaveAllFailure::kCannotReplace);
        // Never onto an existing name: a file that appeared since the listing
        // stops the export rather than being lost.
        if (!files.Move(plan.Temp(i), name, false)) return undo(i, SaveAllFailure::kCannotReplace);
    }
    // 3. The names are on the disk, and the journal says the set is in.
    errno = 0;
    if (!FlushPaths({}, folders) || !AppendToFile(plan.Journal(), JournalCommittedText()))
        return undo(-1, SaveAllFailure::kNotDurable);
    plan.committed = true;

    result.written = count;
    for (const PlannedSlot& slot : plan.slots)
        for (const OlderFile& o : slot.older)
            result.leftovers.push_back(plan.Backup(slot.index, o));
    result.pending = std::make_shared<SaveAllPending>();
    result.pending->plan = plan;
    result.pending->lock = std::move(ownLock);
    // 4. The older files go, now or when the caller chooses.
    if (!way.keepLeftovers) {
        RemoveSaveAllLeftovers(result, &files);
        result.leftovers.clear();
        result.pending.reset();
    }
    return result;
}

struct EncodedSource : PictureSource {
    const std::vector<uint8_t>* jpegs;
    explicit EncodedSource(const std::vector<uint8_t>* j) : jpegs(j) {}
    SaveAllFailure Stream(int i, const uint8_t*& bytes, size_t& length) override {
        bytes = jpegs[i].data();
        length = jpegs[i].size();
        return SaveAllFailure::kNone;
    }
};

// Encodes each picture into one output block when it is asked for.
struct EncodingSource : PictureSource {
    const FrameImage* const* pictures;
    uint8_t* block;
    EncodingSource(const FrameImage* const* p, uint8_t* b) : pictures(p), block(b) {}
    SaveAllFailure Stream(int i, const uint8_t*& bytes, size_t& length) override {
        std::memset(block, 0, kJpegOutputBlockSize);
        JpegEncodeError error = JpegEncodeError::kNone;
        if (!EncodeJpeg(*pictures[i], block, kJpegOutputBlockSize, length, &error))
            return SaveAllFailureOf(error);
        bytes = block;
        return SaveAllFailure::kNone;
    }
};

} // namespace

SaveAllFailure EncodeSaveAllPicture(const FrameImage& picture, std::vector<uint8_t>& jpeg) {
    std::vector<uint8_t>().swap(jpeg);
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kJpegOutputBlockSize]);
    if (!block) return SaveAllFailure::kOutOfMemory;
    size_t length = 0;
    JpegEncodeError error = JpegEncodeError::kNone;
    if (!EncodeJpeg(picture, block.get(), kJpegOutputBlockSize, length, &error))
        return SaveAllFailureOf(error);
    // A copy of the stream's own length: a set of hundreds of pictures keeps
    // a few kilobytes each, not the whole output block.
    try {
        std::vector<uint8_t>(block.get(), block.get() + length).swap(jpeg);
    } catch (const std::bad_alloc&) {
        return SaveAllFailure::kOutOfMemory;
    }
    return SaveAllFailure::kNone;
}

SaveAllResult CommitSaveAllSet(const std::string& folder, const std::vector<uint8_t>* jpegs,
                               int count, char separator, SaveAllProgress progress, void* context,
                               const SaveAllWay& way) {
    EncodedSource source(jpegs);
    return SaveSet(folder, count, separator, source, progress, context, way);
}

SaveAllResult SaveAllPicturesTo(const std::string& folder, const FrameImage* const* pictures,
                                int count, char separator, SaveAllProgress progress, void* context,
                                const SaveAllWay& way) {
    std::unique_ptr<uint8_t[]> output;
    if (count > 0) {
        output.reset(new (std::nothrow) uint8_t[kJpegOutputBlockSize]);
        if (!output) {
            SaveAllResult result;
            result.folder = folder;
            result.failure = SaveAllFailure::kOutOfMemory;
            result.failedFile = SaveAllFileName(folder, 0, separator);
            return result;
        }
    }
    // The encoding of the next pictures overlaps the writing of the first;
    // without a thread, each picture is encoded when it is written.
    if (count > 1) {
        EncodingAhead ahead(pictures, count, output.get());
        if (ahead.Start()) return SaveSet(folder, count, separator, ahead, progress, context, way);
    }
    EncodingSource source(pictures, output.get());
    return SaveSet(folder, count, separator, source, progress, context, way);
}

SaveAllResult SaveAllPicturesTo(const std::string& folder, const AlbumStore& album, char separator,
                                SaveAllProgress progress, void* context, const SaveAllWay& way) {
    return SaveAllPicturesTo(folder, album.block, AlbumCount(album), separator, progress, context,
                             way);
}

bool RemoveSaveAllLeftovers(const SaveAllResult& result, SaveAllFiles* files) {
    if (files) files->Close();
    if (!result.pending) return true;
    const bool all = FinishSavePlan(result.pending->plan, false);
    if (result.pending->lock) result.pending->lock->Release();
    return all;
}

const char* SaveAllFailureText(SaveAllFailure failure) {
    switch (failure) {
    case SaveAllFailure::kNone: return "no error";
    case SaveAllFailure::kCannotCreate: return "cannot create the file";
    case SaveAllFailure::kWriteFailed: return "writing the file failed";
    case SaveAllFailure::kDoesNotFit: return "the encoded picture is too large";
    case SaveAllFailure::kBadPicture: return "the picture is damaged";
    case SaveAllFailure::kOutOfMemory: return "not enough memory";
    case SaveAllFailure::kCannotReplace: return "the file of that name cannot be replaced";
    case SaveAllFailure::kFolderBusy: return "another export into the folder has not finished";
    case SaveAllFailure::kOwnFiles:
        return "files that are not 128 x 128 pictures would be replaced";
    case SaveAllFailure::kPathTooLong: return "the folder's path is too long";
    case SaveAllFailure::kNotDurable: return "the files could not be written to the disk";
    }
    return "unknown error";
}

std::string SaveAllMessage(const SaveAllResult& result) {
    if (result.ok())
        return "Saved " + std::to_string(result.written) +
               (result.written == 1 ? " picture to " : " pictures to ") + result.folder + ".";
    if (result.failure == SaveAllFailure::kFolderBusy) return ExportBusyText(result.folder);
    if (result.failure == SaveAllFailure::kOwnFiles)
        return OwnFilesText(result.folder, result.ownFiles) +
               "; Save All replaces such files only when asked. Nothing was written.";
    if (result.failure == SaveAllFailure::kPathTooLong)
        return "Could not save into " + result.folder + ": its path is " +
               std::to_string(result.pathTooLongBy) +
               (result.pathTooLongBy == 1 ? " character" : " characters") +
               " too long for Save All's work files. Nothing was written.";
    const std::string what =
        result.failedFile.empty() ? "into " + result.folder : result.failedFile;
    return "Could not save " + what + ": " + SaveAllFailureText(result.failure) +
           (result.folderRestored
                ? ". The folder was left as it was."
                : ". Not every older file could be put back; look for files named ~pixmora-*.");
}
