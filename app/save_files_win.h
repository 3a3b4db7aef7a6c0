// Save All's file operations on the system's own calls (see SaveAllFiles in
// export/save_all.h), for the Windows program.
#pragma once

#include <memory>

#include "export/save_all.h"

// Each new file stays open after it is written and takes its name by a
// rename through that handle: under Wine this saves opening it again, which
// costs about as much as the rename itself. An older file keeps its backup
// name as a hard link where the file system has them (NTFS; not FAT). Flush
// writes every held file out (FlushFileBuffers) before anything is renamed. Paths
// are in the ANSI code page. Close() (or the end of the object) lets go of
// the files; one object serves one Save All, on one thread at a time.
std::unique_ptr<SaveAllFiles> MakeWindowsSaveAllFiles();
