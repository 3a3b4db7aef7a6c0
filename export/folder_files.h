// The folder and file operations Save All and the recovery album need, on
// narrow (UTF-8 on Windows, through the program's active code page) paths,
// without any window code: the C runtime's calls, <dirent.h> for listings
// (mingw-w64 provides one).
//
// Every operation that changes the disk passes one counted failure point, so
// that a test can make the export fail after each operation in turn (see
// FailFileOperation); listings and look-ups are not counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The names in `folder` ("." and ".." left out), in no particular order.
// False (and `names` empty) when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<std::string>& names);
// True when `path` names an existing regular file, or anything at all.
bool IsRegularFile(const std::string& path);
bool IsFolder(const std::string& path);
bool PathExists(const std::string& path);
// Creates the folder when missing (its parent must exist); true when it exists
// afterwards, else false with errno telling why.
bool MakeFolder(const std::string& path);
// `folder` + `separator` + `name`, without doubling a separator the folder already ends with.
std::string JoinPath(const std::string& folder, const std::string& name, char separator);
// ASCII lower-case copy, for comparing names the way Windows' file systems do.
std::string LowerAscii(std::string text);

// ---- Counted operations ----

// Creates the folder; false when it could not be made or was there already.
bool MakeNewFolder(const std::string& path);
// Removes an empty folder; false when it is not there, not empty or cannot go.
bool RemoveEmptyFolder(const std::string& path);

enum class NewFileOutcome { kWritten, kCannotCreate, kWriteFailed };
// Creates `path`, which must not exist yet, with exactly `bytes`; with
// `durable` it is made durable (fsync; FlushFileBuffers on Windows) before it
// is closed. A file that could not be written whole is removed again.
NewFileOutcome WriteNewFile(const std::string& path, const uint8_t* bytes, size_t length,
                            bool durable = true);
// Makes the files and the folders durable (one counted operation): several at
// once, so that the system writes them out together; a disk flush costs
// about as much for one file as for many.
bool FlushPaths(const std::vector<std::string>& files, const std::vector<std::string>& folders);
// flush(0) .. flush(count - 1) on up to eight threads at once; false when any
// returned false.
bool FlushAtOnce(size_t count, const std::function<bool(size_t)>& flush);
// Creates `path`, or empties an existing one, and writes exactly `bytes`,
// durable before it is closed; a file that could not be written whole is
// removed.
bool WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t length);
// Appends `text` to the existing file `path` and makes the file durable.
bool AppendToFile(const std::string& path, const std::string& text);
// Renames `from` to `to`. Without `replace` an existing `to` is never
// replaced: the rename fails (on every system). With `replace` it is replaced
// in the same step where the system can (not through the C runtime of
// Windows, which then fails).
bool RenameFile(const std::string& from, const std::string& to, bool replace);
// Gives the file `path` the second name `link`; false where the file system
// has no hard links (FAT) or the C runtime offers none (Windows).
bool LinkFile(const std::string& path, const std::string& link);
bool RemoveFile(const std::string& path);
// Makes the folder's entries (names made, moved or removed) durable: fsync of
// the folder on POSIX; Windows offers it to no program of ours (true).
bool FlushFolder(const std::string& path);

// For tests: the `n`th counted operation from now (1: the next one) fails
// without touching the disk; with `everyOneAfter` every later one fails too,
// as when the process is killed or the card pulled at that point. 0 turns
// the failure point off. Returns the operations counted since the last call.
long FailFileOperation(long n, bool everyOneAfter = false);

// ---- Identity ----

// What tells one file from another by what it is, not by its name: the
// device and file number where the system has them (POSIX; the C runtime of
// Windows gives none), the size and the time of the last change. A rename
// keeps all four.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modified = 0; // nanoseconds where the system keeps them
    bool operator==(const FileStamp& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified == o.modified;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
// False when `path` is not a regular file.
bool StampFile(const std::string& path, FileStamp& stamp);
// FNV-1a 64 of `bytes`: what Save All knows a file it wrote by.
uint64_t ContentHash(const uint8_t* bytes, size_t length);
// True when `path` is a regular file of exactly `size` bytes whose content
// hashes to `hash`.
bool HoldsContent(const std::string& path, uint64_t size, uint64_t hash);
