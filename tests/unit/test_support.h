// Helpers shared by the core tests.
#pragma once

#include <string>

// The public decoder corpus beside the project (../shared/corpus), or "" when
// it is absent (a fresh clone): tests that need it skip.
std::string CorpusDir();
// A path usable by fopen on this platform (Unix paths get the Z: drive under Wine).
std::string NativePath(const std::string& unixPath);
// A fresh scratch directory for files written by a test.
std::string ScratchDir();
