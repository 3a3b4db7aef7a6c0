#include "export/export_lock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <thread>
#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include "export/folder_files.h"

ExportLockOutcome ExportLock::TryTake(const std::string& folder, char separator) {
    Release();
    const std::string path = JoinPath(folder, kExportLockName, separator);
#ifdef _WIN32
    // No sharing: a second open fails until this one is closed, and the
    // system deletes the file then, whatever ended the owner.
    // A file refused and gone at once was being let go (deleted on its
    // close): a few more tries before the folder counts as one without locks.
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 5; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        fd = _sopen(path.c_str(), _O_RDWR | _O_CREAT | _O_TEMPORARY | _O_BINARY | _O_NOINHERIT,
                    _SH_DENYRW, _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EACCES) break;
        // Refused while the file is there: someone holds it.
        if (PathExists(path)) return ExportLockOutcome::kBusy;
    }
    if (fd < 0) return ExportLockOutcome::kNoLock;
#else
    int fd = -1;
    // A holder that lets go removes the file: a lock won on the removed file
    // is no lock, so the file is opened again until the two agree.
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        // Another user's lock file locks as well when it can only be read.
        if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return ExportLockOutcome::kNoLock;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            close(fd);
            if (error == EWOULDBLOCK) return ExportLockOutcome::kBusy;
            return ExportLockOutcome::kNoLock; // a file system without locks
        }
        struct stat held, named;
        if (fstat(fd, &held) != 0 || stat(path.c_str(), &named) != 0 ||
            held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
            close(fd);
            fd = -1;
        }
    }
    if (fd < 0) return ExportLockOutcome::kBusy;
#endif
    fd_ = fd;
    path_ = path;
    return ExportLockOutcome::kTaken;
}

ExportLockOutcome ExportLock::Take(const std::string& folder, char separator, int waitMs,
                                   void (*waiting)(void*), void* context) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    bool told = false;
    for (;;) {
        const ExportLockOutcome outcome = TryTake(folder, separator);
        if (outcome != ExportLockOutcome::kBusy || std::chrono::steady_clock::now() >= end)
            return outcome;
        if (!told && waiting) waiting(context);
        told = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void ExportLock::Release() {
    if (fd_ < 0) return;
#ifdef _WIN32
    _close(fd_);
#else
    unlink(path_.c_str()); // while still held: a waiter then opens a new file
    close(fd_);
#endif
    fd_ = -1;
    path_.clear();
}

std::string WaitingForExportText(const std::string& folder) {
    return "Waiting for another export into " + folder;
}

std::string ExportBusyText(const std::string& folder) {
    return "Could not save into " + folder +
           ": another export into that folder has not finished after a minute. Nothing was "
           "written; try again when it is done.";
}
