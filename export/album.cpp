#include "export/album.h"

#include <cstdio>

namespace {

bool IsItem(const AlbumStore& album, int index) {
    return index >= 0 && index < album.count;
}

AlbumEdit Edit(int result, AlbumListUpdate update, int item, int count) {
    AlbumEdit e;
    e.result = result;
    e.update = update;
    e.item = item;
    e.count = count;
    return e;
}

} // namespace

void InitAlbumStore(AlbumStore& album, FrameImage* const blocks[kAlbumCapacity]) {
    for (int i = 0; i < kAlbumCapacity; ++i)
        album.block[i] = blocks[i];
    album.count = 0;
    album.changed = false;
}

int AlbumCount(const AlbumStore& album) {
    return album.count;
}

const FrameImage& AlbumPicture(const AlbumStore& album, int index) {
    return *album.block[index];
}

AlbumEdit AlbumUpload(AlbumStore& album, const FrameImage& picture, int focused) {
    const int n = album.count;
    if (n >= kAlbumCapacity) {
        // There is no spare block left to take the picture.
        AlbumEdit e = Edit(0, AlbumListUpdate::kNothing, -1, n);
        e.full = true;
        return e;
    }
    FrameImage* spare = album.block[n];
    CopyFrameImage(*spare, picture);
    if (!IsItem(album, focused)) {
        album.count = n + 1;
        album.changed = true;
        return Edit(1, AlbumListUpdate::kAppendItem, n, n + 1);
    }
    // Make room after the focused item by moving the later references up.
    for (int i = n - 1; i > focused; --i)
        album.block[i + 1] = album.block[i];
    album.block[focused + 1] = spare;
    album.count = n + 1;
    album.changed = true;
    return Edit(1, AlbumListUpdate::kRebuild, focused + 1, n + 1);
}

int AlbumDownload(const AlbumStore& album, int focused, FrameImage& target) {
    if (!IsItem(album, focused)) return 0;
    CopyFrameImage(target, *album.block[focused]);
    return 1;
}

AlbumEdit AlbumDelete(AlbumStore& album, int focused) {
    const int n = album.count;
    if (!IsItem(album, focused)) return Edit(0, AlbumListUpdate::kNothing, -1, n);
    FrameImage* freed = album.block[focused];
    for (int i = focused; i < n - 1; ++i)
        album.block[i] = album.block[i + 1];
    album.block[n - 1] = freed;
    album.count = n - 1;
    album.changed = true;
    // The list scrolls to the item after the deleted one's old place, when there is one.
    int show = focused + 1 < n - 1 ? focused + 1 : -1;
    return Edit(1, AlbumListUpdate::kRebuild, show, n - 1);
}

AlbumEdit AlbumDeleteAll(AlbumStore& album) {
    if (album.count > 0) album.changed = true;
    album.count = 0;
    return Edit(1, AlbumListUpdate::kClear, -1, 0);
}

AlbumEdit AlbumMove(AlbumStore& album, int from, int to) {
    const int n = album.count;
    if (!IsItem(album, from) || n == 0) return Edit(0, AlbumListUpdate::kNothing, -1, n);
    to = to < 0 ? 0 : (to >= n ? n - 1 : to);
    if (to == from) return Edit(0, AlbumListUpdate::kNothing, -1, n);
    FrameImage* moving = album.block[from];
    for (int i = from; i < to; ++i)
        album.block[i] = album.block[i + 1];
    for (int i = from; i > to; --i)
        album.block[i] = album.block[i - 1];
    album.block[to] = moving;
    album.changed = true;
    return Edit(1, AlbumListUpdate::kRebuild, to, n);
}

int AlbumUnsavedPictures(const AlbumStore& album) {
    return album.changed ? album.count : 0;
}

void MarkAlbumSaved(AlbumStore& album) {
    album.changed = false;
}

std::string CloseWithUnsavedQuestion(int count) {
    return "The album holds " + std::to_string(count) +
           " pictures that have not been saved with Save All. Close Pixmora anyway?";
}

std::string DeleteAllQuestion(int count) {
    return "Delete all " + std::to_string(count) + " pictures from the album?";
}

void AlbumItemLabel(int index, char text[12]) {
    std::snprintf(text, 12, "%d", index + 1);
}
