// Save BMP's file name: the ".BMP" extension rule, free of any window code
// so it runs (and is tested) on every platform.
#pragma once

#include <cstddef>
#include <string>

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
