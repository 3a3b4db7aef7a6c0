// Numbered files in a Save All folder that are not part of the new set:
// pictures of an earlier, larger export that the frame would show after the
// new ones, and the user's own files that only look like them (a camera's
// 12-megapixel "5.jpg"), which are never replaced or deleted unasked.
#pragma once

#include <string>
#include <vector>

#include "export/folder_files.h"
#include "export/path_separator.h"

// True when `name` is a picture name Save All writes: a number in plain
// decimal (no sign, no leading zero except "0" itself, at most 9 digits)
// followed by ".jpg" in any case: "12.jpg", "12.JPG" yes; "012.jpg", "a.jpg",
// "3.jpeg", "3.jpg.bak" no. Sets *number when given. "1.JPG" and "1.jpg" are
// the same picture on every file system.
bool IsNumberedPictureName(const std::string& name, int* number = nullptr);

// True when the file at `path` can be a picture Save All wrote: a JPEG
// stream of at most 51,200 bytes whose frame is 128 x 128. Anything else
// under a numbered name is the user's own file.
bool IsFramePictureFile(const std::string& path);

// "1.jpg", "1.jpg and 5.JPG", "0.jpg, 1.jpg and 2.jpg"; past eight names
// "0.jpg, 1.jpg, ... 7.jpg and 12 more" (in the order given).
std::string FileNameList(const std::vector<std::string>& names);
// "FOLDER holds 2 files that are not 128 x 128 pictures: 1.jpg and 5.JPG"
// ("holds a file that is not a 128 x 128 picture: 1.jpg" for one).
std::string OwnFilesText(const std::string& folder, const std::vector<std::string>& names);
// OwnFilesText + ". Save All would replace them with the album's pictures. Replace them?"
std::string OwnFilesQuestion(const std::string& folder, const std::vector<std::string>& names);

struct StaleFile {
    int number = 0;
    std::string name; // as the folder spells it
    FileStamp stamp;  // what it was when found: only that file is deleted
    bool picture = true; // a 128 x 128 picture (IsFramePictureFile)
};

struct StalePictures {
    int count = 0;   // numbered pictures with a number >= the set's size
    int lowest = -1; // their lowest and highest number; -1 when count is 0
    int highest = -1;
    std::string lowestName; // those two files' names as the folder spells them ("7.JPG")
    std::string highestName;
    std::vector<StaleFile> files;
    std::vector<std::string> notPictures; // the names of those that are the user's own files
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
// StalePicturesText + " that the frame would show after the new ones." + for
// files that are no 128 x 128 pictures " Of these, 5.jpg is not a 128 x 128
// picture." + " Delete them?"
std::string StalePicturesQuestion(const std::string& folder, const StalePictures& stale);
// Deletes the files `stale` found that are still what they were then (by
// their stamps) and nothing else; returns what is still there afterwards of
// those (count 0 when every one of them was deleted).
StalePictures DeleteStalePictures(const std::string& folder, const StalePictures& stale,
                                  char separator = kPathSeparator);
