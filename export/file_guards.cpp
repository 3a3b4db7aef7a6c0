#include "export/file_guards.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <utility>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

OwnerLock::OwnerLock(OwnerLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

OwnerLock& OwnerLock::operator=(OwnerLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

#ifdef _WIN32

bool OwnerLock::Take(const std::string& path, bool fresh) {
    Release();
    // No sharing: every other open fails while this one lasts. Deleted on
    // close, by this program or by the system at the process's end.
    const int flags =
        _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT | _O_TEMPORARY | (fresh ? _O_EXCL : 0);
    const int fd = _sopen(path.c_str(), flags, _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (fd < 0) return false;
    fd_ = fd;
    path_ = path;
    return true;
}

void OwnerLock::Release() {
    if (fd_ < 0) return;
    _close(fd_); // the file goes with the last handle
    fd_ = -1;
    path_.clear();
}

bool FlushToDisk(FILE* f) {
    return std::fflush(f) == 0 && _commit(_fileno(f)) == 0;
}

void FlushFolderToDisk(const std::string&) {}

#else

bool OwnerLock::Take(const std::string& path, bool fresh) {
    Release();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (fresh ? O_EXCL : 0), 0644);
    if (fd < 0) return false;
    // The owner before may have deleted the file and let go between the open
    // and the lock: the name then no longer leads to the file locked here.
    struct stat held, named;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &held) != 0 ||
        stat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
        close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    return true;
}

void OwnerLock::Release() {
    if (fd_ < 0) return;
    unlink(path_.c_str()); // while still locked: a later owner makes a new file
    close(fd_);
    fd_ = -1;
    path_.clear();
}

bool FlushToDisk(FILE* f) {
    return std::fflush(f) == 0 && fsync(fileno(f)) == 0;
}

void FlushFolderToDisk(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

#endif
