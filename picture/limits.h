// The program's fixed limits, each defined once with the reason it has.
// Everything that sizes a buffer or a table by one of them uses these names.
#pragma once

#include <cstdint>

// The frame shows 128 x 128 pixels; every working picture is that size.
constexpr int kFrameSide = 128;

// Every path, folder and file name buffer holds 260 bytes (Windows' MAX_PATH),
// so a path has at most 259 characters before its terminating zero.
constexpr int32_t kPathBytes = 260;
constexpr int32_t kLongestPath = kPathBytes - 1;

// The folder scan lists at most this many names per folder: one name table
// entry of kPathBytes each, allocated once.
constexpr int32_t kNameSlots = 256;

// The album holds at most this many finished pictures, one block each,
// allocated at start.
constexpr int32_t kAlbumCapacity = 384;

// Undo reaches back this many states; older ones are overwritten.
constexpr int kHistorySlots = 20;

// Both lists show their pictures in cells of this size, the picture fitted
// inside with its proportions kept.
constexpr int32_t kThumbWidth = 80;
constexpr int32_t kThumbHeight = 72;

// The largest file that loads: the whole file is read into one block of this
// size, room for the pixels of a 5000 x 4000 picture at 24 bits.
constexpr int32_t kFileBufferSize = 60000000;
// The largest decoded pixel area (the bitmap's pixel bytes alone) a decoder
// may set up; a bigger picture is refused before anything is written.
constexpr int64_t kMaxRasterPixelBytes = 60000000;
