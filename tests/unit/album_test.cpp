// The album's reference table: where Upload puts a picture, what Delete
// leaves, that pictures are never copied around, and the full album.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "export/album.h"

namespace {

struct Album {
    std::vector<std::unique_ptr<FrameImage>> blocks;
    AlbumStore store;
    Album() {
        FrameImage* ptrs[kAlbumCapacity];
        for (int i = 0; i < kAlbumCapacity; ++i) {
            blocks.emplace_back(new FrameImage{});
            ptrs[i] = blocks.back().get();
        }
        InitAlbumStore(store, ptrs);
    }
    // A picture recognisable by `tag` in its first and last pixel bytes.
    static FrameImage Picture(uint8_t tag) {
        FrameImage p{};
        InitFrameHeader(128, 128, p.bytes);
        p.Pixels()[0] = tag;
        p.Pixels()[kFramePixelBytes - 1] = tag;
        return p;
    }
    AlbumEdit Upload(uint8_t tag, int focused = -1) {
        FrameImage p = Picture(tag);
        return AlbumUpload(store, p, focused);
    }
    // The tags in list order.
    std::vector<int> Tags() const {
        std::vector<int> t;
        for (int i = 0; i < AlbumCount(store); ++i)
            t.push_back(AlbumPicture(store, i).Pixels()[0]);
        return t;
    }
    // The blocks in use and spare together are always the 384 blocks handed in.
    bool EveryBlockOnce() const {
        std::vector<const FrameImage*> seen(store.block, store.block + kAlbumCapacity);
        for (const auto& b : blocks) {
            int n = 0;
            for (const FrameImage* s : seen)
                n += s == b.get();
            if (n != 1) return false;
        }
        return true;
    }
};

TEST(Album, UploadWithNothingSelectedAppendsAsTheLastItem) {
    Album a;
    AlbumEdit e = a.Upload(1);
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.update, AlbumListUpdate::kAppendItem);
    EXPECT_EQ(e.item, 0);
    EXPECT_EQ(e.count, 1);
    e = a.Upload(2);
    EXPECT_EQ(e.update, AlbumListUpdate::kAppendItem);
    EXPECT_EQ(e.item, 1);
    EXPECT_EQ(e.count, 2);
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 2}));
    // The whole block travels, header and last row included.
    EXPECT_EQ(
        0, std::memcmp(AlbumPicture(a.store, 1).bytes, Album::Picture(2).bytes, kFrameImageSize));
}

TEST(Album, UploadAfterFocusedItemInsertsBehindItAndRebuilds) {
    Album a;
    a.Upload(1);
    a.Upload(2);
    a.Upload(3);
    const FrameImage* third = a.store.block[2];
    AlbumEdit e = a.Upload(9, /*focused item "2"*/ 1);
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.update, AlbumListUpdate::kRebuild);
    EXPECT_EQ(e.item, 2); // the new picture is scrolled into view
    EXPECT_EQ(e.count, 4);
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 2, 9, 3}));
    EXPECT_EQ(a.store.block[3], third) << "the old third picture moved by reference";
    EXPECT_TRUE(a.EveryBlockOnce());
    // After a rebuild nothing is focused, so the next upload appends.
    e = a.Upload(4);
    EXPECT_EQ(e.update, AlbumListUpdate::kAppendItem);
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 2, 9, 3, 4}));
}

TEST(Album, UploadAfterTheLastItemStillRebuilds) {
    Album a;
    a.Upload(1);
    a.Upload(2);
    AlbumEdit e = a.Upload(3, 1);
    EXPECT_EQ(e.update, AlbumListUpdate::kRebuild);
    EXPECT_EQ(e.item, 2);
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 2, 3}));
}

TEST(Album, FocusOutsideTheAlbumCountsAsNone) {
    Album a;
    a.Upload(1);
    EXPECT_EQ(a.Upload(2, 5).update, AlbumListUpdate::kAppendItem);
    EXPECT_EQ(a.Upload(3, -7).update, AlbumListUpdate::kAppendItem);
    FrameImage target = Album::Picture(77);
    EXPECT_EQ(AlbumDownload(a.store, 3, target), 0);
    EXPECT_EQ(AlbumDownload(a.store, -1, target), 0);
    EXPECT_EQ(target.Pixels()[0], 77) << "nothing copied";
    EXPECT_EQ(AlbumDelete(a.store, 3).result, 0);
    EXPECT_EQ(AlbumDelete(a.store, -1).update, AlbumListUpdate::kNothing);
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 2, 3}));
}

TEST(Album, DeleteMovesTheBlockToTheSparesAndRenumbers) {
    Album a;
    a.Upload(1);
    a.Upload(2);
    a.Upload(3);
    const FrameImage* first = a.store.block[0];
    AlbumEdit e = AlbumDelete(a.store, 0);
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.update, AlbumListUpdate::kRebuild);
    EXPECT_EQ(e.count, 2);
    EXPECT_EQ(e.item, 1); // the item after the deleted one's place
    EXPECT_EQ(a.Tags(), (std::vector<int>{2, 3}));
    EXPECT_EQ(a.store.block[2], first) << "the freed block is the first spare";
    EXPECT_TRUE(a.EveryBlockOnce());
    // The next upload reuses that block.
    a.Upload(4);
    EXPECT_EQ(a.store.block[2], first);
    EXPECT_EQ(a.Tags(), (std::vector<int>{2, 3, 4}));
}

TEST(Album, DeletingTheLastItemsScrollsNowhere) {
    Album a;
    a.Upload(1);
    a.Upload(2);
    EXPECT_EQ(AlbumDelete(a.store, 1).item, -1);
    AlbumEdit e = AlbumDelete(a.store, 0);
    EXPECT_EQ(e.count, 0);
    EXPECT_EQ(e.item, -1);
    EXPECT_EQ(AlbumCount(a.store), 0);
}

TEST(Album, DownloadCopiesTheFocusedPictureAndKeepsIt) {
    Album a;
    a.Upload(1);
    a.Upload(2);
    FrameImage target{};
    EXPECT_EQ(AlbumDownload(a.store, 1, target), 1);
    EXPECT_EQ(0, std::memcmp(target.bytes, Album::Picture(2).bytes, kFrameImageSize));
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 2}));
}

TEST(Album, DeleteAllEmptiesAndTheNextUploadIsItemOne) {
    Album a;
    for (int i = 0; i < 5; ++i)
        a.Upload(static_cast<uint8_t>(i + 1));
    AlbumEdit e = AlbumDeleteAll(a.store);
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.update, AlbumListUpdate::kClear);
    EXPECT_EQ(AlbumCount(a.store), 0);
    e = a.Upload(8);
    EXPECT_EQ(e.item, 0);
    EXPECT_EQ(a.Tags(), (std::vector<int>{8}));
    char label[12];
    AlbumItemLabel(e.item, label);
    EXPECT_STREQ(label, "1");
}

TEST(Album, FullAlbumAddsNothingAndSaysSo) {
    Album a;
    for (int i = 0; i < kAlbumCapacity; ++i)
        ASSERT_EQ(a.Upload(static_cast<uint8_t>(i)).result, 1);
    std::vector<int> before = a.Tags();
    for (int focused : {-1, 0, 200, kAlbumCapacity - 1}) {
        AlbumEdit e = a.Upload(250, focused);
        EXPECT_EQ(e.result, 0);
        EXPECT_TRUE(e.full);
        EXPECT_EQ(e.update, AlbumListUpdate::kNothing);
        EXPECT_EQ(e.count, kAlbumCapacity);
    }
    EXPECT_EQ(a.Tags(), before);
    EXPECT_TRUE(a.EveryBlockOnce());
    // One deletion makes room again, right behind the focused item.
    AlbumDelete(a.store, 10);
    AlbumEdit e = a.Upload(251, 10);
    EXPECT_EQ(e.result, 1);
    EXPECT_FALSE(e.full);
    EXPECT_EQ(AlbumPicture(a.store, 11).Pixels()[0], 251);
}

TEST(Album, MoveTakesAPictureToAnyPlaceAndTheOthersCloseUp) {
    Album a;
    for (uint8_t t : {1, 2, 3, 4, 5})
        a.Upload(t);
    AlbumEdit e = AlbumMove(a.store, 1, 3); // down
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 3, 4, 2, 5}));
    EXPECT_EQ(e.result, 1);
    EXPECT_EQ(e.update, AlbumListUpdate::kRebuild);
    EXPECT_EQ(e.item, 3);
    AlbumMove(a.store, 4, 0); // to first
    EXPECT_EQ(a.Tags(), (std::vector<int>{5, 1, 3, 4, 2}));
    AlbumMove(a.store, 0, 99); // past the end: to last
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 3, 4, 2, 5}));
    EXPECT_EQ(AlbumMove(a.store, 2, 2).update, AlbumListUpdate::kNothing);
    EXPECT_EQ(AlbumMove(a.store, 5, 0).result, 0);
    EXPECT_EQ(AlbumMove(a.store, -1, 0).result, 0);
    EXPECT_EQ(a.Tags(), (std::vector<int>{1, 3, 4, 2, 5}));
    EXPECT_TRUE(a.EveryBlockOnce());
}

TEST(Album, ChangesCountAsUnsavedUntilSaved) {
    Album a;
    EXPECT_EQ(AlbumUnsavedPictures(a.store), 0);
    a.Upload(1);
    a.Upload(2);
    EXPECT_EQ(AlbumUnsavedPictures(a.store), 2);
    MarkAlbumSaved(a.store);
    EXPECT_EQ(AlbumUnsavedPictures(a.store), 0);
    AlbumMove(a.store, 0, 1);
    EXPECT_EQ(AlbumUnsavedPictures(a.store), 2);
    MarkAlbumSaved(a.store);
    AlbumDelete(a.store, 0);
    EXPECT_EQ(AlbumUnsavedPictures(a.store), 1);
    AlbumDeleteAll(a.store);
    EXPECT_EQ(AlbumUnsavedPictures(a.store), 0) << "an empty album loses nothing";
    EXPECT_EQ(CloseWithUnsavedQuestion(3), "The album holds 3 pictures that have not been saved "
                                           "with Save All. Close Pixmora anyway?");
    EXPECT_EQ(DeleteAllQuestion(12), "Delete all 12 pictures from the album?");
}

TEST(Album, LabelsArePositionsFromOne) {
    char label[12];
    AlbumItemLabel(0, label);
    EXPECT_STREQ(label, "1");
    AlbumItemLabel(383, label);
    EXPECT_STREQ(label, "384");
}

} // namespace
