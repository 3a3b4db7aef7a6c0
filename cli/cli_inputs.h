// The inputs of a batch: files as named, folders as their picture files.
#pragma once

#include <string>
#include <vector>

// Appends the inputs that `operands` name: a file as it is (a missing one
// fails later, when it is decoded); a folder as its BMP, GIF and JPG files
// (the extension rule of the program's folder scan), without sub-folders,
// in name order (letters compared without case, ties broken by the bytes).
// False, after saying which, when a folder cannot be read.
bool ExpandInputs(const std::vector<std::string>& operands, std::vector<std::string>& inputs);

// The name order of folder listings.
bool NameOrder(const std::string& a, const std::string& b);
