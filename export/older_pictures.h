// Older numbered pictures beyond a new Save All set: pictures of an earlier,
// larger export that the frame would show after the new ones.
#pragma once

#include <string>

#include "export/path_separator.h"

// True when `name` is a picture name Save All writes: a number in plain
// decimal (no sign, no leading zero except "0" itself, at most 9 digits)
// followed by ".jpg" in any case: "12.jpg", "12.JPG" yes; "012.jpg", "a.jpg",
// "3.jpeg", "3.jpg.bak" no. Sets *number when given.
bool IsNumberedPictureName(const std::string& name, int* number = nullptr);

struct StalePictures {
    int count = 0;   // numbered pictures with a number >= the set's size
    int lowest = -1; // their lowest and highest number; -1 when count is 0
    int highest = -1;
    std::string lowestName; // those two files' names as the folder spells them ("7.JPG")
    std::string highestName;
};

// The regular files of `folder` named by the rule above with a number >=
// `setSize`: pictures of an earlier, larger export that the frame would show
// after the new set. Count 0 when there are none or the folder cannot be read.
StalePictures FindStalePictures(const std::string& folder, int setSize,
                                char separator = kPathSeparator);
// "FOLDER also holds K older pictures (N.jpg … M.jpg)" (UTF-8 ellipsis; one
// picture reads "also holds 1 older picture (N.jpg)"): the start of the
// question below and of pixmora-cli's warning.
std::string StalePicturesText(const std::string& folder, const StalePictures& stale);
// StalePicturesText + " that the frame would show after the new ones. Delete them?"
std::string StalePicturesQuestion(const std::string& folder, const StalePictures& stale);
// Deletes those files and nothing else; returns what is still there afterwards
// (count 0 when every one of them was deleted).
StalePictures DeleteStalePictures(const std::string& folder, int setSize,
                                  char separator = kPathSeparator);
