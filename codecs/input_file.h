// Whether a path names a picture file that can be read, asked before the
// file is opened.
#pragma once

#include <string>

// "" when `path` names a regular file that opens for reading; otherwise why
// not, in the system's words ("No such file or directory", "Permission
// denied", "Is a directory", "Not a directory", ...), or "not a regular
// file" for a FIFO, device or socket. Those are never opened: opening a FIFO
// for reading waits for a writer, and a device may never end.
std::string InputFileProblem(const char* path);
