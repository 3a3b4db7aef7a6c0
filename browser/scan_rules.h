// The rules of the folder scan and of the thumbnail cells that need no
// window: where a picture goes in its 80 x 72 cell, which directory entries
// are listed, and how long a path may grow.
#pragma once

#include <cstdint>

#include "picture/limits.h"

struct ThumbnailRect {
    int32_t x0 = 0;
    int32_t y0 = 0;
    int32_t w = 0;
    int32_t h = 0;
};

// Where a W x H picture is drawn inside an 80 x 72 cell: as high as the cell
// and centred across when it is taller than the cell's 0.9 height-to-width
// ratio, otherwise as wide as the cell and centred down. A picture without
// area gets an empty rectangle.
ThumbnailRect FitThumbnailRect(int32_t W, int32_t H);

// True for the directory entries the scan lists: names whose extension is
// JPG, BMP or GIF in any case, folders included (".jpeg" is not listed).
bool IsScannedPictureName(const char* name);

// The folder path the scan keeps: `path` ending in one backslash (a root such
// as "C:\" already has it). False, writing nothing, when that would not fit
// in kPathBytes: such a folder is not entered.
bool MakeFolderPath(const char* path, char* folderPath);

// folderPath followed by name into `out` (kPathBytes). False, with
// `out` left empty, when the result would be longer than kLongestPath.
bool JoinFolderAndName(const char* folderPath, const char* name, char* out);

enum class ScanStep { kGoOn, kTableFull };

// One directory entry of the scan: a picture name whose full path fits is
// copied into table[count] (kPathBytes per entry) and counted. Returns
// kTableFull once the table holds kNameSlots names, and the search ends.
ScanStep AddScannedName(const char* folderPath, const char* name, char* table, int32_t& count);
