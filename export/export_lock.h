// One export per folder at a time: an export holds the lock file
// "~pixmora.lock" in its target folder from before it lists the folder until
// its older files are gone. The lock ends with its owner, also when the owner
// crashes or is killed: on Windows the file is held open without sharing and
// deleted when it is closed; on POSIX it carries an advisory lock (flock) and
// is removed by the owner that releases it (a crashed owner leaves the file,
// unlocked, for the next export to take).
#pragma once

#include <string>

#include "export/path_separator.h"

constexpr const char* kExportLockName = "~pixmora.lock";
// How long an export waits for another one into the same folder.
constexpr int kExportLockWaitMs = 60000;

enum class ExportLockOutcome {
    kTaken,
    kBusy,   // another export holds it (after waiting, when Take waited)
    kNoLock, // the lock file cannot be made here (no such folder, no room in the
             // path, read-only): whatever the export does there fails on its own
};

class ExportLock {
  public:
    ExportLock() = default;
    ~ExportLock() { Release(); }
    ExportLock(const ExportLock&) = delete;
    ExportLock& operator=(const ExportLock&) = delete;

    // One try.
    ExportLockOutcome TryTake(const std::string& folder, char separator = kPathSeparator);
    // Waits while another export holds the lock: `waiting` (when given) is
    // called once as the wait begins; kBusy after `waitMs`.
    ExportLockOutcome Take(const std::string& folder, char separator = kPathSeparator,
                           int waitMs = kExportLockWaitMs, void (*waiting)(void*) = nullptr,
                           void* context = nullptr);
    void Release();
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
    std::string path_;
};

// "Waiting for another export into FOLDER": shown while Take waits.
std::string WaitingForExportText(const std::string& folder);
// The message when the wait ended without the lock.
std::string ExportBusyText(const std::string& folder);
