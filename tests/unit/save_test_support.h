// Folders and pictures for the Save All tests (save_names_test.cpp,
// save_safety_test.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "export/folder_files.h"
#include "export/save_all.h"
#include "picture/frame_image.h"

// A 128 x 128 picture of noise over a ramp, different for each seed.
std::unique_ptr<FrameImage> Picture(uint32_t seed);
// The JPEG stream Save All writes for `picture`.
std::vector<uint8_t> Encoded(const FrameImage& picture);
// The stream of Picture(seed) as text, to write as an older picture of an
// earlier export.
std::string OlderPicture(uint32_t seed);

bool Exists(const std::string& path);
// Empties `dir`, whatever depth a failed export left behind.
void EmptyFolder(const std::string& dir);
// An empty scratch folder: under Wine process ids repeat, so ScratchDir() can
// hand out a folder used before.
std::string FreshDir();
// Every name in a folder with its bytes ("<folder>" for a folder).
std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& dir);
void WriteBytes(const std::string& path, const std::string& text);
void MakeDir(const std::string& path);

// Older files kept by hard links where the system has them, as the Windows
// program keeps them on NTFS; the first replacing rename is refused, as a
// file held open elsewhere makes it fail there.
struct HardLinks : SaveAllFiles {
    int refusals = 1;
    bool Link(const std::string& path, const std::string& link) override {
        return LinkFile(path, link);
    }
    bool Move(const std::string& from, const std::string& to, bool replace) override {
        if (replace && refusals > 0) return --refusals, false;
        return SaveAllFiles::Move(from, to, replace);
    }
};
