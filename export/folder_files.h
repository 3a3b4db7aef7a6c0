// The few folder operations Save All and the recovery album need, on narrow
// (UTF-8 on Windows, through the program's active code page) paths, without
// any window code: C stdio for files, <dirent.h> for listings (mingw-w64
// provides one).
#pragma once

#include <string>
#include <vector>

// The names in `folder` ("." and ".." left out), in no particular order.
// False (and `names` empty) when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<std::string>& names);
// True when `path` names an existing regular file, or anything at all.
bool IsRegularFile(const std::string& path);
bool PathExists(const std::string& path);
// Creates the folder when missing (its parent must exist); true when it exists
// afterwards, else false with errno telling why.
bool MakeFolder(const std::string& path);
// Creates the folder; false when it could not be made or was there already.
bool MakeNewFolder(const std::string& path);
// Removes an empty folder; false when it is not there, not empty or cannot go.
bool RemoveEmptyFolder(const std::string& path);
// `folder` + `separator` + `name`, without doubling a separator the folder already ends with.
std::string JoinPath(const std::string& folder, const std::string& name, char separator);
// ASCII lower-case copy, for comparing names the way Windows' file systems do.
std::string LowerAscii(std::string text);
