// What keeps files safe across processes and power cuts, without any window
// code: a lock that belongs to one living owner, and writes that reach the
// disk before anything counts on them.
#pragma once

#include <cstdio>
#include <string>

// A lock held by one owner at a time that ends with its owner, however the
// owner ends: a file the owner keeps open. On Windows it is opened without
// sharing and deleted when it is closed, which the system also does when the
// process ends or is killed; on POSIX the owner holds an advisory lock on it
// (flock), which the system releases with the process. Another holder in
// the same process is another owner (each Take opens the file anew).
class OwnerLock {
  public:
    OwnerLock() = default;
    ~OwnerLock() { Release(); }
    OwnerLock(OwnerLock&& other) noexcept;
    OwnerLock& operator=(OwnerLock&& other) noexcept;
    OwnerLock(const OwnerLock&) = delete;
    OwnerLock& operator=(const OwnerLock&) = delete;

    // Takes the lock of `path`, creating its file when missing; with `fresh`,
    // only a file this call creates. False when another owner holds it, when
    // (fresh) the file was there already, or when it cannot be made.
    bool Take(const std::string& path, bool fresh = false);
    // Gives the lock up and deletes its file.
    void Release();
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
    std::string path_;
};

// Everything written to `f` so far, on the disk (fflush, then FlushFileBuffers
// through the C runtime's _commit on Windows, fsync on POSIX). False when it
// could not be.
bool FlushToDisk(FILE* f);
// The names in `folder` (new, renamed or deleted files), on the disk: fsync
// of the folder on POSIX; Windows keeps them with the files.
void FlushFolderToDisk(const std::string& folder);
