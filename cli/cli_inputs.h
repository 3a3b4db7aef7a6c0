// The inputs of a command: files as named, folders as their picture files,
// and "-" as standard input, kept in a file of its own while the command runs.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// One picture to read.
struct Input {
    std::string path;    // the file to read
    std::string name;    // as messages name it: the operand, or "standard input"
    std::string problem; // why it cannot be read at all (a folder that cannot be listed)
};

// What a folder input did not take.
struct FolderSkips {
    std::string folder;
    std::vector<std::string> notPictures; // regular files of no picture type
    std::vector<std::string> folders;     // folders inside it (not read)
    std::vector<std::string> notFiles;    // FIFOs, devices, sockets, broken links
    size_t Count() const { return notPictures.size() + folders.size() + notFiles.size(); }
};

// Standard input read whole into a file of its own (in the system's folder
// for temporary files, named after the picture type its first bytes show),
// deleted again when this goes.
class StandardInput {
  public:
    StandardInput() = default;
    ~StandardInput();
    StandardInput(const StandardInput&) = delete;
    StandardInput& operator=(const StandardInput&) = delete;
    // Reads standard input (once); "" when done, else what went wrong.
    std::string Take();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// The name messages use for standard input.
extern const char kStandardInputName[];

// Appends the inputs that `operands` name: a file as it is (checked when it
// is read); "-" as `standardInput`'s file; a folder as its BMP, GIF, JPEG and PNG
// files (the extension rule of the program's folder scan), without
// sub-folders, in name order (letters compared without case, ties broken by
// the bytes). What a folder leaves out is added to `skips`; a folder that
// cannot be listed becomes an input with its problem.
void ExpandInputs(const std::vector<std::string>& operands, const StandardInput& standardInput,
                  std::vector<Input>& inputs, std::vector<FolderSkips>& skips);

// The lines that say what a folder left out and why, e.g. "album: skipped 2
// files that are not pictures: notes.txt, clip.mp4" (at most 10 names a line).
std::vector<std::string> FolderSkipLines(const FolderSkips& skips);

// Whether `f` is a terminal: no picture is read from or written to one.
bool IsTerminal(FILE* f);

// The name order of folder listings.
bool NameOrder(const std::string& a, const std::string& b);
