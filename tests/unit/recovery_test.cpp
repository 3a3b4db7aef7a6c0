// The recovery album: what is written after album changes, what comes back
// on the next start, one store per window, and what happens to damaged,
// truncated or foreign stores.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "export/file_guards.h"
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

// The store as the next start finds it: its window ends (the lock goes with
// it, the files stay), and a new start takes the store over.
RecoveryStore Restart(RecoveryStore& store, const std::string& app) {
    ReleaseRecoveryStore(store);
    std::vector<RecoveryStore> left = TakeLeftRecoveryStores(app);
    EXPECT_EQ(left.size(), 1u);
    return left.empty() ? RecoveryStore{} : std::move(left[0]);
}

RecoveryStore NewStore(const std::string& app) {
    RecoveryStore store;
    std::string reason;
    EXPECT_TRUE(CreateRecoveryStore(store, app, reason)) << reason;
    return store;
}

// What the next start reads back from `store` (the store goes on, held).
RecoveryReadResult ReadBack(RecoveryStore& store, const std::string& app, Album& into) {
    store = Restart(store, app);
    return ReadRecoveryAlbum(store, into.store);
}

std::vector<std::string> PictureFiles(const RecoveryStore& store) {
    std::vector<std::string> names, pics;
    ListFolder(store.folder, names);
    for (const std::string& n : names)
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pic") == 0) pics.push_back(n);
    return pics;
}

TEST(Recovery, EveryChangeIsReadBackInOrderByteForByte) {
    std::string app = AppFolder();
    Album a;
    RecoveryStore store = NewStore(app);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    EXPECT_FALSE(PathExists(store.folder + Sep() + "index-1")) << "an empty album writes nothing";

    Upload(a, 1);
    Upload(a, 2);
    Upload(a, 1); // the same picture twice
    Upload(a, 3);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    {
        Album b;
        RecoveryReadResult r = ReadBack(store, app, b);
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
    ReadBack(store, app, b);
    ExpectAlbum(b, {1, 3, 4});
    // Pictures only an older order needed are gone: 1, 3, 4 now, and the
    // order before it (1, 1, 3, 4) needs nothing else.
    EXPECT_EQ(PictureFiles(store).size(), 3u);

    // The store taken over goes on with the album read back.
    Upload(b, 5);
    ASSERT_TRUE(UpdateRecoveryStore(store, b.store));
    Album d;
    ReadBack(store, app, d);
    ExpectAlbum(d, {1, 3, 4, 5});

    // Delete All is stored as an empty album: nothing is offered any more.
    AlbumDeleteAll(d.store);
    ASSERT_TRUE(UpdateRecoveryStore(store, d.store));
    Album e;
    EXPECT_EQ(ReadBack(store, app, e).restored, 0);
    RemoveRecoveryStore(store);
    EXPECT_TRUE(TakeLeftRecoveryStores(app).empty());
}

// Two windows at once: each its own store, neither ever reads, offers or
// deletes the other's; once their windows have ended, both are offered, to
// one start only.
TEST(Recovery, EachWindowKeepsItsOwnStore) {
    std::string app = AppFolder();
    Album a, b;
    Upload(a, 41);
    Upload(a, 42);
    Upload(b, 43);
    RecoveryStore first = NewStore(app), second = NewStore(app);
    EXPECT_NE(first.folder, second.folder);
    ASSERT_TRUE(UpdateRecoveryStore(first, a.store));
    ASSERT_TRUE(UpdateRecoveryStore(second, b.store));
    EXPECT_TRUE(TakeLeftRecoveryStores(app).empty()) << "both windows live";

    // The second window ends without saving; the first lives on.
    ReleaseRecoveryStore(second);
    std::vector<RecoveryStore> left = TakeLeftRecoveryStores(app);
    ASSERT_EQ(left.size(), 1u);
    Album c;
    ReadRecoveryAlbum(left[0], c.store);
    ExpectAlbum(c, {43});
    EXPECT_TRUE(TakeLeftRecoveryStores(app).empty())
        << "a store being offered is not offered twice";
    RemoveRecoveryStore(left[0]); // the user said No
    EXPECT_EQ(PictureFiles(first).size(), 2u) << "the living window's pictures";

    // The first changes on, then ends too; a third window came meanwhile.
    Upload(a, 44);
    ASSERT_TRUE(UpdateRecoveryStore(first, a.store));
    RecoveryStore third = NewStore(app);
    Upload(c, 45);
    ASSERT_TRUE(UpdateRecoveryStore(third, c.store));
    ReleaseRecoveryStore(first);
    ReleaseRecoveryStore(third);
    left = TakeLeftRecoveryStores(app);
    ASSERT_EQ(left.size(), 2u);
    Album all; // in the order of the stores' numbers
    for (RecoveryStore& store : left)
        ReadRecoveryAlbum(store, all.store);
    ExpectAlbum(all, {41, 42, 44, 43, 45});
    for (RecoveryStore& store : left)
        RemoveRecoveryStore(store);
    std::vector<std::string> names;
    ListFolder(app + Sep() + "Recovery", names);
    EXPECT_TRUE(names.empty()) << names.size() << " names left, the first " << names[0];
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

std::string PicturePath(const RecoveryStore& store, uint32_t seed) {
    // The file is found by content: read each until one holds the picture.
    auto want = Picture(seed);
    for (const std::string& n : PictureFiles(store)) {
        std::string path = store.folder + Sep() + n;
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
    RecoveryStore store = NewStore(app);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    EditFile(PicturePath(store, 12), [](std::vector<uint8_t>& b) { b.resize(b.size() / 2); });
    EditFile(PicturePath(store, 13), [](std::vector<uint8_t>& b) { b[30000] ^= 1; });
    EditFile(PicturePath(store, 14), [](std::vector<uint8_t>& b) { b.push_back(0); });
    std::remove(PicturePath(store, 15).c_str());

    Album b;
    RecoveryReadResult r = ReadBack(store, app, b);
    EXPECT_EQ(r.restored, 1);
    EXPECT_EQ(r.dropped, 4);
    ExpectAlbum(b, {11});
    EXPECT_EQ(RecoveryReadMessage(r),
              "4 pictures of the recovery album were damaged and were left out.");
    RemoveRecoveryStore(store);
}

// The album's pictures as a set, whatever their order.
std::vector<std::vector<uint8_t>> PictureSet(const Album& a) {
    std::vector<std::vector<uint8_t>> set;
    for (int i = 0; i < AlbumCount(a.store); ++i)
        set.emplace_back(AlbumPicture(a.store, i).bytes,
                         AlbumPicture(a.store, i).bytes + kFrameImageSize);
    std::sort(set.begin(), set.end());
    return set;
}

TEST(Recovery, DamagedOrTruncatedIndexesKeepThePictures) {
    std::string app = AppFolder();
    Album a;
    RecoveryStore store = NewStore(app);
    const std::string index0 = store.folder + Sep() + "index-0";
    const std::string index1 = store.folder + Sep() + "index-1";
    Upload(a, 21);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store)); // first order
    Upload(a, 22);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store)); // second order
    // The newest order cut short, as a crash while writing it would leave it:
    // the order before it is still there, with its pictures.
    EditFile(index0, [](std::vector<uint8_t>& b) { b.resize(b.size() - 3); });
    {
        Album b;
        EXPECT_EQ(ReadBack(store, app, b).restored, 1);
        ExpectAlbum(b, {21});
    }
    // Neither order readable (flipped bits, garbage with an absurd count, an
    // order missing besides a damaged one): the pictures that read back whole
    // are offered, and the user is told.
    Album both;
    Upload(both, 21);
    Upload(both, 22);
    const std::vector<std::function<void()>> damage = {
        [&] { EditFile(index1, [](std::vector<uint8_t>& b) { b[20] ^= 0x80; }); },
        [&] { EditFile(index1, [](std::vector<uint8_t>& b) { b.assign(64, 0xFF); }); },
        [&] { std::remove(index0.c_str()); },
    };
    for (size_t i = 0; i < damage.size(); ++i) {
        damage[i]();
        Album b;
        RecoveryReadResult r = ReadBack(store, app, b);
        EXPECT_TRUE(r.damagedIndex) << i;
        EXPECT_EQ(r.restored, 2) << i;
        EXPECT_TRUE(PictureSet(b) == PictureSet(both)) << i;
        EXPECT_EQ(RecoveryReadMessage(r), "The order of the recovery album was damaged: its "
                                          "pictures were restored in the order they were stored.")
            << i;
    }
    // A damaged picture besides: what is left is still offered.
    std::remove(PicturePath(store, 22).c_str());
    Album b;
    EXPECT_EQ(ReadBack(store, app, b).restored, 1);
    ExpectAlbum(b, {21});
    // Nothing readable at all: said so, nothing restored.
    std::remove(PicturePath(store, 21).c_str());
    Album none;
    RecoveryReadResult r = ReadBack(store, app, none);
    EXPECT_EQ(r.restored, 0);
    EXPECT_TRUE(r.damagedIndex);
    EXPECT_EQ(RecoveryReadMessage(r), "The recovery album was damaged and could not be read.");
    RemoveRecoveryStore(store);
}

// The sequence number counts on past 2^32 - 1 (about four billion changes)
// without its newest order losing to the one before, or to none.
TEST(Recovery, TheSequenceNumberCountsOnPastItsLastValue) {
    std::string app = AppFolder();
    RecoveryStore store = NewStore(app);
    store.sequence = 0xFFFFFFFDu; // as if written that often
    Album a;
    for (uint32_t seed = 51; seed < 55; ++seed) {
        Upload(a, seed); // sequence FFFFFFFE, FFFFFFFF, 0, 1
        ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
        Album b;
        ReadBack(store, app, b);
        std::vector<uint32_t> seeds;
        for (uint32_t s = 51; s <= seed; ++s)
            seeds.push_back(s);
        ExpectAlbum(b, seeds);
    }
    RemoveRecoveryStore(store);
}

// A write that fails says why; the next change writes everything missing.
TEST(Recovery, AFailedWriteSaysWhyAndTheNextChangeWritesItAll) {
    std::string app = AppFolder();
    RecoveryStore store = NewStore(app);
    Album a;
    Upload(a, 61);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    // The store's folder replaced by a file: nothing can be written into it.
    const std::string folder = store.folder;
    for (const std::string& name : PictureFiles(store))
        std::remove((folder + Sep() + name).c_str());
    std::remove((folder + Sep() + "index-0").c_str());
    std::remove((folder + Sep() + "index-1").c_str());
    ASSERT_TRUE(RemoveEmptyFolder(folder));
    FILE* f = std::fopen(folder.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    Upload(a, 62);
    std::string reason;
    EXPECT_FALSE(UpdateRecoveryStore(store, a.store, &reason));
    EXPECT_EQ(reason.rfind("cannot create the folder " + folder, 0), 0u) << reason;
    EXPECT_EQ(RecoveryWriteFailedMessage("cannot write X: No space left on device"),
              "Album pictures can no longer be kept safe: cannot write X: No space left on "
              "device.");
    // The folder can be had again: both pictures and the order are written.
    std::remove(folder.c_str());
    EXPECT_TRUE(UpdateRecoveryStore(store, a.store, &reason)) << reason;
    Album b;
    ReadBack(store, app, b);
    ExpectAlbum(b, {61, 62});
    RemoveRecoveryStore(store);
}

TEST(Recovery, StoreOfABiggerAlbumFillsTheRoomLeft) {
    std::string app = AppFolder();
    Album full;
    for (int i = 0; i < kAlbumCapacity; ++i)
        Upload(full, 100 + i);
    RecoveryStore store = NewStore(app);
    ASSERT_TRUE(UpdateRecoveryStore(store, full.store));
    // Read into an album that already holds ten pictures: the first 374 come back.
    Album b;
    for (int i = 0; i < 10; ++i)
        Upload(b, 1000 + i);
    RecoveryReadResult r = ReadBack(store, app, b);
    EXPECT_EQ(r.restored, kAlbumCapacity - 10);
    EXPECT_EQ(r.leftOut, 10);
    EXPECT_EQ(AlbumCount(b.store), kAlbumCapacity);
    EXPECT_EQ(std::memcmp(AlbumPicture(b.store, 10).bytes, Picture(100)->bytes, kFrameImageSize),
              0);
    EXPECT_EQ(RecoveryReadMessage(r),
              "10 pictures did not fit into the album (384 pictures) and were left out.");
    RemoveRecoveryStore(store);
}

TEST(Recovery, RemoveDeletesTheStoresOwnFilesAndNothingElse) {
    std::string app = AppFolder();
    Album a;
    Upload(a, 31);
    RecoveryStore store = NewStore(app), other = NewStore(app);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    ASSERT_TRUE(UpdateRecoveryStore(other, a.store));
    const std::string folder = store.folder, notes = folder + Sep() + "notes.txt";
    FILE* f = std::fopen(notes.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    RemoveRecoveryStore(store);
    EXPECT_TRUE(IsRegularFile(notes));
    std::vector<std::string> names;
    ListFolder(folder, names);
    EXPECT_EQ(names, std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(PictureFiles(other).size(), 1u) << "another window's store";
    // Emptied, the folder goes too.
    std::remove(notes.c_str());
    ReleaseRecoveryStore(other);
    std::vector<RecoveryStore> left = TakeLeftRecoveryStores(app);
    ASSERT_EQ(left.size(), 2u) << "the emptied folder, and the other store";
    for (RecoveryStore& s : left)
        RemoveRecoveryStore(s);
    EXPECT_FALSE(PathExists(folder));
}

// The single store of earlier versions, in "Recovery" itself, is offered as
// a store whose window has ended; removing it leaves the folder to the others.
TEST(Recovery, TheStoreOfAnEarlierVersionIsOffered) {
    std::string app = AppFolder();
    Album a;
    Upload(a, 71);
    Upload(a, 72);
    RecoveryStore store = NewStore(app);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    const std::string root = app + Sep() + "Recovery", folder = store.folder;
    std::vector<std::string> names;
    ListFolder(folder, names);
    for (const std::string& name : names)
        ASSERT_EQ(std::rename((folder + Sep() + name).c_str(), (root + Sep() + name).c_str()), 0);
    RemoveRecoveryStore(store);
    RecoveryStore mine = NewStore(app);
    std::vector<RecoveryStore> left = TakeLeftRecoveryStores(app);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].folder, root);
    Album b;
    EXPECT_EQ(ReadRecoveryAlbum(left[0], b.store).restored, 2);
    ExpectAlbum(b, {71, 72});
    RemoveRecoveryStore(left[0]);
    EXPECT_TRUE(TakeLeftRecoveryStores(app).empty());
    EXPECT_TRUE(PathExists(mine.folder));
    RemoveRecoveryStore(mine);
}

#ifndef _WIN32
// The lock ends with its owner's process, however that ends.
TEST(OwnerLock, EndsWithItsOwnersProcess) {
    const std::string path = AppFolder() + ".lock";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        OwnerLock held;
        char c = held.Take(path, true) ? 1 : 0;
        (void)!write(ready[1], &c, 1);
        for (;;)
            pause();
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 1);
    OwnerLock mine;
    EXPECT_FALSE(mine.Take(path));
    EXPECT_FALSE(mine.Take(path, true));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(mine.Take(path)) << "the killed owner's lock is free";
    OwnerLock second;
    EXPECT_FALSE(second.Take(path)) << "one owner at a time, in one process too";
    mine.Release();
    EXPECT_FALSE(PathExists(path));
    EXPECT_TRUE(second.Take(path, true));
    close(ready[0]);
    close(ready[1]);
}
#endif

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
    RecoveryStore store = NewStore(app);
    Upload(a, 11);
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    Upload(a, 12);
    // The new picture and the index: each may fail.
    for (long n = 1; n <= 2; ++n) {
        FailFileOperation(n);
        EXPECT_FALSE(UpdateRecoveryStore(store, a.store)) << n;
        FailFileOperation(0);
        Album b;
        ReadBack(store, app, b);
        ExpectAlbum(b, {11});
    }
    ASSERT_TRUE(UpdateRecoveryStore(store, a.store));
    Album b;
    ReadBack(store, app, b);
    ExpectAlbum(b, {11, 12});
}

} // namespace
