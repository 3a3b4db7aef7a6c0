// The album: up to 384 finished pictures in list order, kept as an ordered
// table of references to picture blocks that are allocated once. Inserting
// and deleting move references, never the 51,200-byte pictures.
//
// The list view is a mirror of this table: every operation returns an
// AlbumEdit telling the list code what to redraw, so the window layer only
// reads the focused item, calls in here and applies the edit.
#pragma once

#include <cstdint>
#include <string>

#include "picture/frame_image.h"
#include "picture/limits.h"

struct AlbumStore {
    // The first `count` references are the album's pictures in list order;
    // the others are spare blocks. Blocks are owned by the caller.
    FrameImage* block[kAlbumCapacity] = {};
    int32_t count = 0;
    // Pictures were added, deleted or moved since the last MarkAlbumSaved.
    bool changed = false;
};

// What the album list has to do after an operation.
enum class AlbumListUpdate {
    kNothing,    // the album did not change
    kAppendItem, // add item `item` with its thumbnail, select it, scroll it into view
    kRebuild,    // rebuild all `count` items (nothing selected), then scroll `item` into view
    kClear,      // remove every item and image
};

struct AlbumEdit {
    int result = 0; // the operation's 1/0 result
    AlbumListUpdate update = AlbumListUpdate::kNothing;
    int item = -1;     // the item to add or scroll to; -1: none
    int count = 0;     // items after the operation
    bool full = false; // Upload refused: all 384 blocks hold pictures (tell the user)
};

// `blocks`: 384 zero-filled blocks owned by the caller. The album starts empty.
void InitAlbumStore(AlbumStore& album, FrameImage* const blocks[kAlbumCapacity]);

int AlbumCount(const AlbumStore& album);
// Picture `index` (0 .. AlbumCount - 1) in list order.
const FrameImage& AlbumPicture(const AlbumStore& album, int index);

// `focused` is the list's current item (the first item with the focus state
// while something is selected), or -1 when there is none.

// "UpLoad": copies `picture` into the album right after the focused item, or
// at the end when there is none. A full album adds nothing (result 0, `full`).
AlbumEdit AlbumUpload(AlbumStore& album, const FrameImage& picture, int focused);
// "DownLoad": copies the focused picture into `target`; 0 (nothing copied)
// without a focused item. The album is unchanged.
int AlbumDownload(const AlbumStore& album, int focused, FrameImage& target);
// "Delete": removes the focused picture; its block becomes the first spare.
AlbumEdit AlbumDelete(AlbumStore& album, int focused);
// "Delete All": empties the album. The blocks keep their bytes until reused.
AlbumEdit AlbumDeleteAll(AlbumStore& album);

// Moves picture `from` to position `to` (limited to the album); the pictures
// between close up. The list is rebuilt with `to` selected (item = to).
// Nothing happens (result 0) for `from` outside the album or `to` == `from`.
AlbumEdit AlbumMove(AlbumStore& album, int from, int to);

// The pictures a close would lose: the count when the album changed since
// the last successful Save All, else 0 (an empty album loses nothing).
int AlbumUnsavedPictures(const AlbumStore& album);
void MarkAlbumSaved(AlbumStore& album);
// "The album holds N pictures that have not been saved with Save All. Close
// Pixmora anyway?"
std::string CloseWithUnsavedQuestion(int count);
// "Delete all N pictures from the album?"
std::string DeleteAllQuestion(int count);

// The label of item `index`: its position counting from 1 ("1", "2", ...).
void AlbumItemLabel(int index, char text[12]);
