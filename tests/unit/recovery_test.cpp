// The recovery album: what is written after album changes, what comes back
// on the next start, and what happens to damaged, truncated or foreign stores.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "export/folder_files.h"
#include "export/path_separator.h"
#include "export/recovery.h"
#include "tests/unit/test_support.h"

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
};

// A picture with noise in every byte after the header, the unused tail included.
std::unique_ptr<FrameImage> Picture(uint32_t seed) {
    std::unique_ptr<FrameImage> p(new FrameImage{});
    std::mt19937 rng(seed);
    for (uint8_t& b : p->bytes)
        b = static_cast<uint8_t>(rng());
    InitFrameHeader(kFrameSide, kFrameSide, p->bytes);
    return p;
}

void Upload(Album& a, uint32_t seed) {
    auto p = Picture(seed);
    ASSERT_EQ(AlbumUpload(a.store, *p, -1).result, 1);
}

// The album's blocks in order equal the pictures of `seeds`, byte for byte.
void ExpectAlbum(const Album& a, const std::vector<uint32_t>& seeds) {
    ASSERT_EQ(AlbumCount(a.store), static_cast<int>(seeds.size()));
    for (size_t i = 0; i < seeds.size(); ++i)
        EXPECT_EQ(std::memcmp(AlbumPicture(a.store, static_cast<int>(i)).bytes,
                              Picture(seeds[i])->bytes, kFrameImageSize),
                  0)
            << "picture " << i;
}

std::string Sep() {
    return std::string(1, kPathSeparator);
}

// An application-data folder that does not exist yet (under Wine a scratch
// folder of an earlier run can come back).
std::string AppFolder() {
    std::string base = ScratchDir() + Sep() + "appdata";
    for (int n = 0;; ++n)
        if (!PathExists(base + std::to_string(n))) return base + std::to_string(n);
}

std::vector<std::string> PictureFiles(const std::string& app) {
    std::vector<std::string> names, pics;
    ListFolder(app + Sep() + "Recovery", names);
    for (const std::string& n : names)
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pic") == 0) pics.push_back(n);
    return pics;
}

RecoveryReadResult ReadBack(const std::string& app, Album& into) {
    RecoveryStore store;
    OpenRecoveryStore(store, app);
    return ReadRecoveryAlbum(store, into.store);
}

TEST(Recovery, EveryChangeIsReadBackInOrderByteForByte) {
    std::string app = AppFolder();
    Album a;
    RecoveryStore store;
    OpenRecoveryStore(store, app);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    EXPECT_FALSE(PathExists(app)) << "an empty album creates nothing";

    Upload(a, 1);
    Upload(a, 2);
    Upload(a, 1); // the same picture twice
    Upload(a, 3);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    {
        Album b;
        RecoveryReadResult r = ReadBack(app, b);
        EXPECT_EQ(r.restored, 4);
        EXPECT_EQ(r.dropped + r.leftOut, 0);
        EXPECT_EQ(RecoveryReadMessage(r), "");
        ExpectAlbum(b, {1, 2, 1, 3});
        // Restored pictures were never saved: closing asks about them.
        EXPECT_EQ(AlbumUnsavedPictures(b.store), 4);
    }
    // Delete the second; the next upload lands in its spare block.
    AlbumDelete(a.store, 1);
    Upload(a, 4);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    AlbumDelete(a.store, 0);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    Album b;
    ReadBack(app, b);
    ExpectAlbum(b, {1, 3, 4});
    // Pictures only an older order needed are gone: 1, 3, 4 now, and the
    // order before it (1, 1, 3, 4) needs nothing else.
    EXPECT_EQ(PictureFiles(app).size(), 3u);

    // A start that reads the store back and writes on continues it.
    RecoveryStore next;
    OpenRecoveryStore(next, app);
    Album c;
    ReadRecoveryAlbum(next, c.store);
    Upload(c, 5);
    ASSERT_TRUE(UpdateRecoveryStore(next, c.store));
    Album d;
    ReadBack(app, d);
    ExpectAlbum(d, {1, 3, 4, 5});

    // Delete All is stored as an empty album: nothing is offered any more.
    AlbumDeleteAll(c.store);
    ASSERT_TRUE(UpdateRecoveryStore(next, c.store));
    Album e;
    EXPECT_EQ(ReadBack(app, e).restored, 0);
}

// Bytes of a file, changed by `edit`.
void EditFile(const std::string& path, void (*edit)(std::vector<uint8_t>&)) {
    std::vector<uint8_t> bytes(1 << 17);
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    edit(bytes);
    f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string PicturePath(const std::string& app, uint32_t seed) {
    // The file is found by content: read each until one holds the picture.
    auto want = Picture(seed);
    for (const std::string& n : PictureFiles(app)) {
        std::string path = app + Sep() + "Recovery" + Sep() + n;
        std::vector<uint8_t> bytes(kFrameImageSize + 1);
        FILE* f = std::fopen(path.c_str(), "rb");
        size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        if (got == kFrameImageSize && std::memcmp(bytes.data(), want->bytes, got) == 0) return path;
    }
    return "";
}

TEST(Recovery, DamagedPicturesAreLeftOutAndCounted) {
    std::string app = AppFolder();
    Album a;
    for (uint32_t seed : {11, 12, 13, 14, 15})
        Upload(a, seed);
    RecoveryStore store;
    OpenRecoveryStore(store, app);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    EditFile(PicturePath(app, 12), [](std::vector<uint8_t>& b) { b.resize(b.size() / 2); });
    EditFile(PicturePath(app, 13), [](std::vector<uint8_t>& b) { b[30000] ^= 1; });
    EditFile(PicturePath(app, 14), [](std::vector<uint8_t>& b) { b.push_back(0); });
    std::remove(PicturePath(app, 15).c_str());

    Album b;
    RecoveryReadResult r = ReadBack(app, b);
    EXPECT_EQ(r.restored, 1);
    EXPECT_EQ(r.dropped, 4);
    ExpectAlbum(b, {11});
    EXPECT_EQ(RecoveryReadMessage(r),
              "4 pictures of the recovery album were damaged and were left out.");
}

TEST(Recovery, DamagedOrTruncatedIndexes) {
    std::string app = AppFolder();
    std::string index0 = app + Sep() + "Recovery" + Sep() + "index-0";
    std::string index1 = app + Sep() + "Recovery" + Sep() + "index-1";
    Album a;
    RecoveryStore store;
    OpenRecoveryStore(store, app);
    Upload(a, 21);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store)); // first order
    Upload(a, 22);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store)); // second order
    // The newest order cut short, as a crash while writing it would leave it:
    // the order before it is still there, with its pictures.
    EditFile(index0, [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); });
    {
        Album b;
        EXPECT_EQ(ReadBack(app, b).restored, 1);
        ExpectAlbum(b, {21});
    }
    // Neither order readable: nothing is restored, and the user is told.
    EditFile(index1, [](std::vector<uint8_t>& b) { b[20] ^= 0x80; });
    Album b;
    RecoveryReadResult r = ReadBack(app, b);
    EXPECT_EQ(r.restored, 0);
    EXPECT_TRUE(r.damagedIndex);
    EXPECT_EQ(RecoveryReadMessage(r), "The recovery album was damaged and could not be read.");
    // Garbage and an absurd count are refused the same way.
    EditFile(index1, [](std::vector<uint8_t>& b) { b.assign(64, 0xFF); });
    EXPECT_TRUE(ReadBack(app, b).damagedIndex);
    EXPECT_EQ(AlbumCount(b.store), 0);
}

TEST(Recovery, StoreOfABiggerAlbumFillsTheRoomLeft) {
    std::string app = AppFolder();
    Album full;
    for (int i = 0; i < kAlbumCapacity; ++i)
        Upload(full, 100 + i);
    RecoveryStore store;
    OpenRecoveryStore(store, app);
    ASSERT_TRUE(UpdateRecoveryStore(store, full.store));
    // Read into an album that already holds ten pictures: the first 374 come back.
    Album b;
    for (int i = 0; i < 10; ++i)
        Upload(b, 1000 + i);
    RecoveryReadResult r = ReadBack(app, b);
    EXPECT_EQ(r.restored, kAlbumCapacity - 10);
    EXPECT_EQ(r.leftOut, 10);
    EXPECT_EQ(AlbumCount(b.store), kAlbumCapacity);
    EXPECT_EQ(std::memcmp(AlbumPicture(b.store, 10).bytes, Picture(100)->bytes, kFrameImageSize),
              0);
    EXPECT_EQ(RecoveryReadMessage(r),
              "10 pictures did not fit into the album (384 pictures) and were left out.");
}

TEST(Recovery, ClearForgetsTheAlbumAndTouchesNothingElse) {
    std::string app = AppFolder();
    Album a;
    Upload(a, 31);
    RecoveryStore store;
    OpenRecoveryStore(store, app);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    std::string other = app + Sep() + "Recovery" + Sep() + "notes.txt";
    FILE* f = std::fopen(other.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ClearRecoveryStore(store);
    Album b;
    RecoveryReadResult r = ReadBack(app, b);
    EXPECT_EQ(r.restored, 0);
    EXPECT_FALSE(r.damagedIndex);
    EXPECT_TRUE(PictureFiles(app).empty());
    EXPECT_TRUE(IsRegularFile(other));
    // The same session goes on storing after a clear.
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    EXPECT_EQ(ReadBack(app, b).restored, 1);
    std::remove(other.c_str());
}

TEST(Recovery, Questions) {
    EXPECT_EQ(RecoveryRestoreQuestion(3),
              "Pixmora was closed with 3 album pictures that were not saved. Restore them?");
    EXPECT_EQ(RecoveryRestoreQuestion(1),
              "Pixmora was closed with 1 album picture that was not saved. Restore it?");
}

// A picture whose bytes or name could not be made durable is never named by
// an index: the store keeps the previous album.
TEST(Recovery, NoIndexNamesAPictureThatIsNotOnTheDisk) {
    std::string app = AppFolder();
    Album a;
    RecoveryStore store;
    OpenRecoveryStore(store, app);
    Upload(a, 11);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    Upload(a, 12);
    // The new picture, the flush of its folder, the index: each may fail.
    for (long n = 1; n <= 2; ++n) {
        FailFileOperation(n);
        EXPECT_FALSE(UpdateRecoveryStore(store, a.store)) << n;
        FailFileOperation(0);
        Album b;
        ReadBack(app, b);
        ExpectAlbum(b, {11});
    }
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    Album b;
    ReadBack(app, b);
    ExpectAlbum(b, {11, 12});
}

} // namespace
