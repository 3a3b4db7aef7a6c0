#include "export/save_all.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "export/encode_ahead.h"
#include "export/folder_files.h"
#include "export/jpeg_encoder.h"
#include "export/older_pictures.h"

std::string SaveAllFileName(const std::string& folder, int index, char separator) {
    return folder + separator + std::to_string(index) + ".jpg";
}

// Unbuffered: the stream is handed to the system in one write. A short
// write or a failed close counts as a failure and the incomplete file goes.
SaveAllFailure SaveAllFiles::Write(const std::string& path, const uint8_t* bytes, size_t length) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return SaveAllFailure::kCannotCreate;
    std::setvbuf(f, nullptr, _IONBF, 0);
    bool ok = std::fwrite(bytes, 1, length, f) == length;
    int error = errno;
    ok = std::fclose(f) == 0 && ok;
    if (ok) return SaveAllFailure::kNone;
    if (error == 0) error = errno;
    std::remove(path.c_str());
    errno = error; // the reason of the write, not of the clean-up
    return SaveAllFailure::kWriteFailed;
}

// Natively the older file steps aside: ext4 writes out a file renamed over
// another at once (to keep a crash from leaving it empty), which costs more
// than the second rename.
bool SaveAllFiles::Link(const std::string&, const std::string&) {
    return false;
}

bool SaveAllFiles::Move(const std::string& from, const std::string& to, bool replace) {
#ifdef _WIN32
    // Windows' rename never replaces, and removing first would leave a moment without either.
    if (replace) return false;
#else
    (void)replace; // rename(2) replaces an existing name in one step
#endif
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool SaveAllFiles::Remove(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

namespace {

// What a picture's own name holds before the set is written.
enum class Target {
    kFree,     // nothing: the new file takes the name directly
    kFile,     // an older file, moved aside before the new one takes its name
    kSame,     // a file that already holds exactly the new picture: kept as it is
    kNotAFile, // a folder or the like, which stops the export
};

// One look-up: the size decides unless it equals the new stream's.
Target InspectTarget(const std::string& path, const uint8_t* bytes, size_t length) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return Target::kFree;
    if (!S_ISREG(st.st_mode)) return Target::kNotAFile;
    if (static_cast<uint64_t>(st.st_size) != length) return Target::kFile;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return Target::kFile;
    std::vector<uint8_t> held(length + 1);
    bool same = std::fread(held.data(), 1, held.size(), f) == length &&
                std::memcmp(held.data(), bytes, length) == 0;
    std::fclose(f);
    return same ? Target::kSame : Target::kFile;
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

// For each picture 0 .. count - 1 the folder's file of that number as the
// listing spells it: exactly "3.jpg" when there is one, else the first name
// equal to it in another case ("3.JPG"), else "".
std::vector<std::string> NumberedNames(const std::vector<std::string>& names, int count) {
    std::vector<std::string> found(count);
    for (const std::string& name : names) {
        int number = 0;
        if (!IsNumberedPictureName(name, &number) || number >= count) continue;
        if (found[number].empty() || name == std::to_string(number) + ".jpg") found[number] = name;
    }
    return found;
}

constexpr int kWorkGroup = 32;

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
        result.failedFile = SaveAllFileName(folder, i, separator);
        result.written = 0;
        return result;
    };
    std::vector<std::string> names;
    errno = 0;
    if (!ListFolder(folder, names)) {
        result.reason = SystemReason();
        return fail(0, SaveAllFailure::kCannotCreate);
    }
    const std::vector<std::string> numbered = NumberedNames(names, count);
    // New pictures and the older files they replace wait in a work folder of
    // their own: under Wine every new name costs a case-insensitive search of
    // its folder, which stays small there.
    // Made here and now, or the export stops: a folder of that name that
    // appeared since the listing may be another export's.
    const std::string work = folder + separator + FreshStem(names);
    errno = 0;
    if (!MakeNewFolder(work)) {
        result.reason = SystemReason();
        return fail(0, SaveAllFailure::kCannotCreate);
    }
    // One subfolder for every kWorkGroup pictures keeps each folder's search
    // short; they are made in order, as their first picture is written.
    std::vector<std::string> folders; // the subfolders made
    auto group = [&](int i) { return work + separator + std::to_string(i / kWorkGroup); };
    auto temp = [&](int i) { return group(i) + separator + std::to_string(i); };
    auto backup = [&](int i) { return group(i) + separator + std::to_string(i) + ".old"; };
    int lastGroup = -1;
    auto made = [&](int g) {
        if (g == lastGroup) return true;
        if (!MakeNewFolder(work + separator + std::to_string(g))) return false;
        lastGroup = g;
        folders.push_back(work + separator + std::to_string(g));
        return true;
    };
    auto removeFolders = [&] {
        bool all = true;
        for (const std::string& f : folders)
            all = RemoveEmptyFolder(f) && all;
        return RemoveEmptyFolder(work) && all;
    };

    // 1. Every picture under its temporary name, unless the folder already
    // holds it under its own name (saving an album again after a few changes).
    // A name the listing does not hold in any case is free: no look-up.
    std::vector<Target> target(count, Target::kFree);
    auto written = [&](int i) { return target[i] != Target::kSame; };
    for (int i = 0; i < count; ++i) {
        const uint8_t* bytes = nullptr;
        size_t length = 0;
        SaveAllFailure failure = source.Stream(i, bytes, length);
        errno = 0;
        if (failure == SaveAllFailure::kNone) {
            if (!numbered[i].empty())
                target[i] = InspectTarget(SaveAllFileName(folder, i, separator), bytes, length);
            if (written(i) && !made(i / kWorkGroup)) failure = SaveAllFailure::kCannotCreate;
            if (failure == SaveAllFailure::kNone && written(i))
                failure = files.Write(temp(i), bytes, length);
        }
        if (failure != SaveAllFailure::kNone) {
            result.reason = SystemReason();
            files.Close();
            for (int j = 0; j < i; ++j)
                if (written(j)) files.Remove(temp(j));
            fail(i, failure);
            result.folderRestored = removeFolders();
            return result;
        }
        if (progress) progress(context, i + 1, count);
    }

    // 2. Each takes its name. An older file of that name keeps a second name
    // in the work folder and the new file replaces it in one step; without
    // hard links the older file steps aside first.
    // An older file that was replaced waits in the work folder (linked or
    // moved) until the set is in, under the name the listing spells it.
    auto kept = [&](int i) { return target[i] == Target::kFile; };
    auto older = [&](int i) { return folder + separator + numbered[i]; };
    bool links = true;       // false after the first refused link
    bool movedAside = false; // picture `done`'s older file stepped aside
    int done = 0;
    SaveAllFailure failure = SaveAllFailure::kNone;
    for (; done < count; ++done) {
        if (!written(done)) continue;
        movedAside = false;
        errno = 0;
        // Only a plain file is replaced: a folder called "3.jpg" stops the export.
        if (target[done] == Target::kNotAFile) {
            failure = SaveAllFailure::kCannotReplace;
            break;
        }
        const std::string name = SaveAllFileName(folder, done, separator);
        // A case-sensitive file system keeps "3.JPG" beside a new "3.jpg": only a
        // name the system takes for the target (found by the look-up) is replaced.
        if (kept(done)) {
            // The new file takes the name "3.jpg" as Save All spells it; an
            // older "3.JPG" steps aside rather than lend it its spelling.
            const bool spelled = numbered[done] == std::to_string(done) + ".jpg";
            if (links && spelled && files.Link(older(done), backup(done))) {
                if (files.Move(temp(done), name, true)) continue;
                // Nothing changed: the older file still has its name, and the
                // way without links is tried.
                if (!files.Remove(backup(done))) {
                    failure = SaveAllFailure::kCannotReplace;
                    break;
                }
            } else if (spelled) {
                links = false;
            }
            if (!files.Move(older(done), backup(done), false)) {
                failure = SaveAllFailure::kCannotReplace;
                break;
            }
            movedAside = true;
        }
        // Windows refuses to rename onto an existing name, so a file that
        // appeared since the listing stops the export rather than being lost.
        if (!files.Move(temp(done), name, false)) {
            failure = SaveAllFailure::kCannotReplace;
            break;
        }
    }
    if (failure == SaveAllFailure::kNone) {
        result.written = count;
        for (int i = 0; i < count; ++i)
            if (kept(i)) result.leftovers.push_back(backup(i));
        result.workFolders = folders;
        result.workFolders.push_back(work);
        // 3. The older files go, now or when the caller chooses.
        if (!way.keepLeftovers) {
            RemoveSaveAllLeftovers(result, &files);
            result.leftovers.clear();
            result.workFolders.clear();
        }
        return result;
    }

    // Roll back: picture `done` failed half-way, those before it are in.
    result.reason = SystemReason();
    files.Close();
    bool restored = true;
    // The failed picture: its older file may stand in the work folder, its
    // new file was not moved in.
    if (movedAside && !files.Move(backup(done), older(done), false)) restored = false;
    for (int i = done - 1; i >= 0; --i) {
        if (!written(i)) continue;
        // Either way of keeping it, the older file goes back under its own spelling.
        if (!files.Remove(SaveAllFileName(folder, i, separator)) ||
            (kept(i) && !files.Move(backup(i), older(i), false)))
            restored = false;
    }
    for (int i = done; i < count; ++i)
        if (written(i) && !files.Remove(temp(i))) restored = false;
    if (!removeFolders()) restored = false;
    fail(done, failure);
    result.folderRestored = restored;
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
    SaveAllFiles libraryFiles;
    SaveAllFiles& use = files ? *files : libraryFiles;
    use.Close();
    bool all = true;
    for (const std::string& path : result.leftovers)
        all = use.Remove(path) && all;
    for (const std::string& folder : result.workFolders)
        all = RemoveEmptyFolder(folder) && all;
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
    }
    return "unknown error";
}

std::string SaveAllMessage(const SaveAllResult& result) {
    if (result.ok())
        return "Saved " + std::to_string(result.written) +
               (result.written == 1 ? " picture to " : " pictures to ") + result.folder + ".";
    return "Could not save " + result.failedFile + ": " + SaveAllFailureText(result.failure) +
           (result.folderRestored
                ? ". The folder was left as it was."
                : ". Not every older file could be put back; look for files named ~pixmora-*.");
}
