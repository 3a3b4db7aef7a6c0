// File names of the two save commands, and Save All's writing loop, free of
// any window code so they run (and are tested) on every platform.
#pragma once

#include <cstddef>
#include <string>

#include "picture/frame_image.h"
#include "export/album.h"
#include "export/jpeg_encoder.h"

// The save dialogs' path buffers (MAX_PATH).
constexpr size_t kPathBufferBytes = 260;

// ---- Save BMP ----

// True when the text after the last "." of `path` (folders included) reads
// "BMP" in any mix of case.
bool HasBmpExtension(const std::string& path);
// The chosen name as it is when it ends in ".bmp" in any case; otherwise with
// ".BMP" appended ("photo" -> "photo.BMP", "a.jpg" -> "a.jpg.BMP", "a." -> "a..BMP").
std::string WithBmpExtension(const std::string& path);
// The same rule in place on a dialog's buffer of `capacity` bytes. Returns 1
// when `name` now carries the rule, 0 (name unchanged) when the longer name
// would not fit: a silently cut name would save under a different name.
int ApplyBmpExtension(char* name, size_t capacity);

// ---- Save All ----

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Album picture `index` (from 0, in list order) is saved as folder + separator
// + "<index>.jpg". The separator is added even when the folder already ends
// with one (a drive root gives "C:\\0.jpg", which the file system accepts).
std::string SaveAllFileName(const std::string& folder, int index, char separator = kPathSeparator);

enum class SaveAllFailure {
    kNone,
    kCannotCreate, // the file could not be opened for writing
    kWriteFailed,  // writing or closing the file failed (the partial file is removed)
    kDoesNotFit,   // the encoded picture is larger than the output block
    kBadPicture,   // the picture block's header is unusable
    kOutOfMemory,  // the output block or the encoder's work block could not be had
};

struct SaveAllResult {
    int written = 0;        // files written completely: 0.jpg .. (written - 1).jpg
    std::string failedFile; // the file the export stopped at; "" when none
    SaveAllFailure failure = SaveAllFailure::kNone;
    bool ok() const { return failure == SaveAllFailure::kNone; }
};

// Encodes pictures[0 .. count) one after the other into a 51,200-byte output
// block and writes each as SaveAllFileName(folder, i) ("wb": created, or
// truncated without asking). Stops at the first failure; the files written
// before it stay. A file is only created once its picture has been encoded.
SaveAllResult SaveAllPicturesTo(const std::string& folder, const FrameImage* const* pictures,
                                int count, char separator = kPathSeparator);
SaveAllResult SaveAllPicturesTo(const std::string& folder, const AlbumStore& album,
                                char separator = kPathSeparator);

// A one-line English reason ("cannot create the file", ...).
const char* SaveAllFailureText(SaveAllFailure failure);
// The whole message for the user, e.g. "Could not save C:\pics\3.jpg: cannot
// create the file. 3 pictures were saved before it."
std::string SaveAllMessage(const SaveAllResult& result);
