// Save BMP's extension rule and Save All: file names, the files written, and
// how an export stops when a file cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "export/album.h"
#include "export/folder_files.h"
#include "export/jpeg_encoder.h"
#include "export/older_pictures.h"
#include "export/path_separator.h"
#include "export/save_all.h"
#include "export/save_bmp_names.h"
#include "tests/unit/save_test_support.h"
#include "tests/unit/test_support.h"

namespace {

TEST(SaveBmpName, NamesWithoutBmpExtensionGetDotBmpAppended) {
    EXPECT_EQ(WithBmpExtension("C:\\pics\\holiday"), "C:\\pics\\holiday.BMP");
    EXPECT_EQ(WithBmpExtension("photo.jpg"), "photo.jpg.BMP");
    EXPECT_EQ(WithBmpExtension("photo."), "photo..BMP");
    EXPECT_EQ(WithBmpExtension("photo.bm"), "photo.bm.BMP");
    EXPECT_EQ(WithBmpExtension("photo.bmpx"), "photo.bmpx.BMP");
    EXPECT_EQ(WithBmpExtension("photo.bmp.txt"), "photo.bmp.txt.BMP");
    // The last dot is searched through the whole path, folders included.
    EXPECT_EQ(WithBmpExtension("C:\\my.pictures\\holiday"), "C:\\my.pictures\\holiday.BMP");
    EXPECT_EQ(WithBmpExtension("C:\\old.bmp\\holiday"), "C:\\old.bmp\\holiday.BMP");
}

TEST(SaveBmpName, BmpInAnyCaseIsKeptAsTyped) {
    for (const char* name : {"a.bmp", "a.BMP", "a.Bmp", "a.bMp", "C:\\x\\y.bmP"}) {
        EXPECT_EQ(WithBmpExtension(name), name);
        EXPECT_TRUE(HasBmpExtension(name)) << name;
    }
    EXPECT_FALSE(HasBmpExtension("bmp"));
    EXPECT_FALSE(HasBmpExtension("a.bnp"));
}

TEST(SaveBmpName, DialogBufferGetsTheRuleOnlyWhenItFits) {
    char name[kPathBytes];
    std::strcpy(name, "C:\\pics\\cat");
    EXPECT_EQ(ApplyBmpExtension(name, sizeof name), 1);
    EXPECT_STREQ(name, "C:\\pics\\cat.BMP");
    std::strcpy(name, "C:\\pics\\cat.Bmp");
    EXPECT_EQ(ApplyBmpExtension(name, sizeof name), 1);
    EXPECT_STREQ(name, "C:\\pics\\cat.Bmp");

    // 255 characters plus ".BMP" and the terminator need 260 bytes: fits exactly.
    std::string longest(255, 'n');
    std::strcpy(name, longest.c_str());
    EXPECT_EQ(ApplyBmpExtension(name, sizeof name), 1);
    EXPECT_EQ(std::string(name), longest + ".BMP");
    // One more character and the name would be cut; it is left alone instead.
    std::vector<char> guarded(kPathBytes + 8, 'G');
    std::string tooLong(256, 'n');
    std::memcpy(guarded.data(), tooLong.c_str(), tooLong.size() + 1);
    EXPECT_EQ(ApplyBmpExtension(guarded.data(), kPathBytes), 0);
    EXPECT_EQ(std::string(guarded.data()), tooLong);
    for (size_t i = kPathBytes; i < guarded.size(); ++i)
        EXPECT_EQ(guarded[i], 'G');
    // An unterminated buffer is not read past its end.
    std::vector<char> unterminated(16, 'x');
    EXPECT_EQ(ApplyBmpExtension(unterminated.data(), unterminated.size()), 0);
}

TEST(SaveAllName, NumbersFromZeroBehindOneSeparator) {
    EXPECT_EQ(SaveAllFileName("C:\\frame", 0, '\\'), "C:\\frame\\0.jpg");
    EXPECT_EQ(SaveAllFileName("C:\\frame", 383, '\\'), "C:\\frame\\383.jpg");
    // A drive root already ends in a backslash and still gets one more.
    EXPECT_EQ(SaveAllFileName("C:\\", 1, '\\'), "C:\\\\1.jpg");
    EXPECT_EQ(SaveAllFileName("/tmp/out", 2, '/'), "/tmp/out/2.jpg");
}

// ---- Writing ----

TEST(SaveAll, ThreePicturesBecomeZeroOneTwoInListOrder) {
    std::string dir = FreshDir();
    auto a = Picture(1), b = Picture(2), c = Picture(3);
    const FrameImage* pictures[] = {a.get(), b.get(), c.get()};
    SaveAllResult r = SaveAllPicturesTo(dir, pictures, 3);
    EXPECT_TRUE(r.ok()) << SaveAllMessage(r);
    EXPECT_EQ(r.written, 3);
    EXPECT_EQ(r.failedFile, "");
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "0.jpg"), Encoded(*a));
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "1.jpg"), Encoded(*b));
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "2.jpg"), Encoded(*c));
    EXPECT_FALSE(Exists(dir + kPathSeparator + "3.jpg"));
    EXPECT_EQ(Snapshot(dir).size(), 3u) << "no temporary file is left";
    EXPECT_EQ(SaveAllMessage(r), "Saved 3 pictures to " + dir + ".");
}

TEST(SaveAll, SavingAgainReplacesTheSetReportsProgressAndLeavesHigherNumbers) {
    std::string dir = FreshDir();
    auto a = Picture(4), b = Picture(5), c = Picture(6);
    const FrameImage* three[] = {a.get(), b.get(), c.get()};
    ASSERT_TRUE(SaveAllPicturesTo(dir, three, 3).ok());
    std::vector<uint8_t> first = ReadFile(dir + kPathSeparator + "0.jpg");
    WriteBytes(dir + kPathSeparator + "notes.txt", "mine");
    // A file of the user's that happens to look like a temporary name stays as it is.
    WriteBytes(dir + kPathSeparator + "~pixmora-0-0.new", "also mine");
    std::vector<std::pair<int, int>> steps;
    auto record = [](void* context, int done, int total) {
        static_cast<std::vector<std::pair<int, int>>*>(context)->emplace_back(done, total);
    };
    const FrameImage* two[] = {c.get(), b.get()};
    SaveAllResult r = SaveAllPicturesTo(dir, two, 2, kPathSeparator, record, &steps);
    ASSERT_TRUE(r.ok()) << SaveAllMessage(r);
    EXPECT_EQ(steps, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "0.jpg"), Encoded(*c));
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "1.jpg"), Encoded(*b));
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "2.jpg"), Encoded(*c)) << "older file stays";
    auto files = Snapshot(dir);
    EXPECT_EQ(files.size(), 5u) << "three pictures and the user's two files, nothing else";
    EXPECT_EQ(files["~pixmora-0-0.new"],
              std::vector<uint8_t>({'a', 'l', 's', 'o', ' ', 'm', 'i', 'n', 'e'}));
    ASSERT_TRUE(SaveAllPicturesTo(dir, three, 3).ok());
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "0.jpg"), first);
}

TEST(SaveAll, EncodedStreamsAreCommittedAsTheSetByteForByte) {
    std::string dir = FreshDir();
    auto a = Picture(15), b = Picture(16);
    std::vector<std::vector<uint8_t>> jpegs(2);
    ASSERT_EQ(EncodeSaveAllPicture(*a, jpegs[0]), SaveAllFailure::kNone);
    ASSERT_EQ(EncodeSaveAllPicture(*b, jpegs[1]), SaveAllFailure::kNone);
    EXPECT_EQ(jpegs[0], Encoded(*a));
    for (const std::vector<uint8_t>& jpeg : jpegs)
        EXPECT_EQ(jpeg.capacity(), jpeg.size()) << "a stream keeps only its own length";
    SaveAllResult r = CommitSaveAllSet(dir, jpegs.data(), 2);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.written, 2);
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "1.jpg"), jpegs[1]);
    std::unique_ptr<FrameImage> damaged(new FrameImage{});
    InitFrameHeader(4000, 4000, damaged->bytes);
    EXPECT_EQ(EncodeSaveAllPicture(*damaged, jpegs[0]), SaveAllFailure::kBadPicture);
    EXPECT_TRUE(jpegs[0].empty());
}

TEST(SaveAll, AlbumIsSavedInListOrder) {
    std::vector<std::unique_ptr<FrameImage>> blocks;
    FrameImage* ptrs[kAlbumCapacity];
    for (int i = 0; i < kAlbumCapacity; ++i) {
        blocks.emplace_back(new FrameImage{});
        ptrs[i] = blocks.back().get();
    }
    AlbumStore album;
    InitAlbumStore(album, ptrs);
    auto a = Picture(7), b = Picture(8);
    AlbumUpload(album, *a, -1);
    AlbumUpload(album, *b, -1);
    AlbumUpload(album, *a, 0); // album: a, a, b
    std::string dir = FreshDir();
    SaveAllResult r = SaveAllPicturesTo(dir, album);
    EXPECT_EQ(r.written, 3);
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "1.jpg"), Encoded(*a));
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "2.jpg"), Encoded(*b));
}

TEST(SaveAll, EmptyAlbumWritesNothing) {
    std::string dir = FreshDir();
    SaveAllResult r = SaveAllPicturesTo(dir, nullptr, 0);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.written, 0);
    EXPECT_FALSE(Exists(dir + kPathSeparator + "0.jpg"));
}

TEST(SaveAll, MissingFolderStopsAtTheFirstFileAndNamesIt) {
    std::string dir = FreshDir() + kPathSeparator + "no such folder";
    auto a = Picture(9);
    const FrameImage* pictures[] = {a.get(), a.get()};
    SaveAllResult r = SaveAllPicturesTo(dir, pictures, 2);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.failure, SaveAllFailure::kCannotCreate);
    EXPECT_EQ(r.written, 0);
    EXPECT_EQ(r.failedFile, dir + kPathSeparator + "0.jpg");
    EXPECT_NE(SaveAllMessage(r).find("0.jpg"), std::string::npos);
    EXPECT_EQ(r.reason, std::strerror(ENOENT)) << "the system's words";
}

// A folder holding an older set of five, a file of the user's and a folder
// called "2.jpg" (with something in it, so nothing can rename onto it).
std::string FolderWithAnOlderSet() {
    std::string dir = FreshDir();
    for (int i : {0, 1, 3, 4})
        WriteBytes(dir + kPathSeparator + std::to_string(i) + ".jpg", OlderPicture(100 + i));
    WriteBytes(dir + kPathSeparator + "notes.txt", "mine");
    std::string blocker = dir + kPathSeparator + "2.jpg";
    MakeDir(blocker);
    WriteBytes(blocker + kPathSeparator + "inside", "x");
    return dir;
}

TEST(SaveAll, FailureOnTheThirdPictureLeavesTheFolderByteForByte) {
    auto a = Picture(10), b = Picture(11), c = Picture(12);
    std::unique_ptr<FrameImage> damaged(new FrameImage{});
    InitFrameHeader(4000, 4000, damaged->bytes); // far more rows than the block holds
    {
        // The third file cannot take its name after 0.jpg was replaced (1.jpg
        // already holds the new bytes and stays as it is).
        std::string dir = FolderWithAnOlderSet();
        std::vector<uint8_t> same = Encoded(*b);
        WriteBytes(dir + kPathSeparator + "1.jpg", std::string(same.begin(), same.end()));
        auto before = Snapshot(dir);
        const FrameImage* pictures[] = {a.get(), b.get(), c.get(), a.get()};
        SaveAllResult r = SaveAllPicturesTo(dir, pictures, 4);
        EXPECT_EQ(r.failure, SaveAllFailure::kCannotReplace);
        EXPECT_EQ(r.written, 0);
        EXPECT_TRUE(r.folderRestored);
        EXPECT_EQ(r.failedFile, dir + kPathSeparator + "2.jpg");
        EXPECT_EQ(Snapshot(dir), before);
        EXPECT_EQ(SaveAllMessage(r), "Could not save " + dir + kPathSeparator +
                                         "2.jpg: the file of that name cannot be replaced. The "
                                         "folder was left as it was.");
    }
    {
        // The third picture cannot be encoded: two new files were already written.
        std::string dir = FolderWithAnOlderSet();
        auto before = Snapshot(dir);
        const FrameImage* pictures[] = {a.get(), b.get(), damaged.get(), c.get()};
        SaveAllResult r = SaveAllPicturesTo(dir, pictures, 4);
        EXPECT_EQ(r.failure, SaveAllFailure::kBadPicture);
        EXPECT_EQ(r.reason, "") << "no file operation failed";
        EXPECT_EQ(r.written, 0);
        EXPECT_EQ(r.failedFile, dir + kPathSeparator + "2.jpg");
        EXPECT_EQ(Snapshot(dir), before);
    }
    {
        // The third file cannot be written: once the second is done, a folder
        // (not empty, so nothing can remove it) takes its temporary name.
        std::string dir = FolderWithAnOlderSet();
        auto before = Snapshot(dir);
        static std::string blocker;
        blocker = dir + kPathSeparator + "~pixmora-0" + kPathSeparator + "0" + kPathSeparator + "2";
        auto block = [](void*, int done, int) {
            if (done != 2) return;
            MakeDir(blocker);
            WriteBytes(blocker + kPathSeparator + "inside", "x");
        };
        const FrameImage* pictures[] = {a.get(), b.get(), c.get(), a.get()};
        SaveAllResult r = SaveAllPicturesTo(dir, pictures, 4, kPathSeparator, block, nullptr);
        EXPECT_EQ(r.failure, SaveAllFailure::kCannotCreate);
        EXPECT_EQ(r.failedFile, dir + kPathSeparator + "2.jpg");
        EXPECT_NE(r.reason, "") << "a folder holds the name";
        auto after = Snapshot(dir);
        // The work folder stays only because of what it holds, and says so.
        EXPECT_FALSE(r.folderRestored);
        EXPECT_EQ(after.erase("~pixmora-0"), 1u);
        EXPECT_EQ(after, before);
    }
}

#ifndef _WIN32
#endif

TEST(SaveAll, OlderFilesKeptByHardLinksAreDeletedLaterOrPutBack) {
#ifdef _WIN32
    GTEST_SKIP() << "hard links come from the Windows program's own file operations";
#else
    auto a = Picture(17), b = Picture(18), c = Picture(19);
    HardLinks files;
    SaveAllWay way;
    way.files = &files;
    way.keepLeftovers = true;
    {
        // The set is complete at once (0.jpg stepped aside when its rename was
        // refused); the older files wait for the caller.
        std::string dir = FreshDir();
        for (int i : {0, 1, 3})
            WriteBytes(dir + kPathSeparator + std::to_string(i) + ".jpg", OlderPicture(110 + i));
        const FrameImage* pictures[] = {a.get(), b.get(), c.get()};
        SaveAllResult r =
            SaveAllPicturesTo(dir, pictures, 3, kPathSeparator, nullptr, nullptr, way);
        ASSERT_TRUE(r.ok()) << SaveAllMessage(r);
        EXPECT_EQ(ReadFile(dir + kPathSeparator + "0.jpg"), Encoded(*a));
        EXPECT_EQ(ReadFile(dir + kPathSeparator + "1.jpg"), Encoded(*b));
        EXPECT_EQ(ReadFile(dir + kPathSeparator + "2.jpg"), Encoded(*c));
        EXPECT_EQ(r.leftovers.size(), 2u);
        // The folder stays locked until the older files are gone.
        EXPECT_EQ(Snapshot(dir).size(), 6u) << "the set, 3.jpg, the work folder and the lock";
        ExportLock other;
        EXPECT_EQ(other.TryTake(dir), ExportLockOutcome::kBusy);
        EXPECT_TRUE(RemoveSaveAllLeftovers(r, &files));
        auto after = Snapshot(dir);
        EXPECT_EQ(after.size(), 4u);
        EXPECT_EQ(after.count("~pixmora-0"), 0u);
        EXPECT_EQ(other.TryTake(dir), ExportLockOutcome::kTaken);
    }
    {
        // 2.jpg is a folder: the older files replaced before it come back.
        std::string dir = FolderWithAnOlderSet();
        auto before = Snapshot(dir);
        const FrameImage* pictures[] = {a.get(), b.get(), c.get()};
        SaveAllResult r =
            SaveAllPicturesTo(dir, pictures, 3, kPathSeparator, nullptr, nullptr, way);
        EXPECT_EQ(r.failure, SaveAllFailure::kCannotReplace);
        EXPECT_TRUE(r.folderRestored);
        EXPECT_TRUE(r.leftovers.empty());
        EXPECT_EQ(Snapshot(dir), before);
    }
#endif
}

TEST(SaveAll, ReadOnlyFolderIsReportedNotWritten) {
#ifdef _WIN32
    GTEST_SKIP() << "folder permissions are POSIX-only here";
#else
    if (geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder";
    std::string dir = FreshDir();
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    auto a = Picture(14);
    const FrameImage* pictures[] = {a.get()};
    SaveAllResult r = SaveAllPicturesTo(dir, pictures, 1);
    chmod(dir.c_str(), 0755);
    EXPECT_EQ(r.failure, SaveAllFailure::kCannotCreate);
    EXPECT_EQ(r.written, 0);
#endif
}

TEST(StalePictures, OnlyPlainNumbersWithJpgInAnyCaseCount) {
    int n = -1;
    EXPECT_TRUE(IsNumberedPictureName("0.jpg", &n));
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(IsNumberedPictureName("12.JPG", &n));
    EXPECT_EQ(n, 12);
    EXPECT_TRUE(IsNumberedPictureName("383.Jpg"));
    EXPECT_TRUE(IsNumberedPictureName("999999999.jpg"));
    // Names Save All never writes are someone else's.
    for (const char* other : {"012.jpg", "a.jpg", "3.jpeg", "3.jpg.bak", "3a.jpg", "-3.jpg",
                              " 3.jpg", ".jpg", "3", "1000000000.jpg", "~pixmora-0-3.old"})
        EXPECT_FALSE(IsNumberedPictureName(other)) << other;
}

TEST(StalePictures, HigherNumbersAreFoundNamedAndOnlyThoseFoundAreDeleted) {
    std::string dir = FreshDir();
    // Pictures of earlier exports, and the user's own files under such names.
    for (const char* name : {"0.jpg", "1.jpg", "2.jpg", "3.jpg", "7.JPG"})
        WriteBytes(dir + kPathSeparator + name, OlderPicture(name[0]));
    for (const char* name : {"5.jpg", "12.jpg", "012.jpg", "a.jpg", "3.jpeg"})
        WriteBytes(dir + kPathSeparator + name, name);
    MakeDir(dir + kPathSeparator + "9.jpg");
    StalePictures s = FindStalePictures(dir, 3);
    EXPECT_EQ(s.count, 4);
    EXPECT_EQ(s.lowest, 3);
    EXPECT_EQ(s.highest, 12);
    EXPECT_EQ(s.notPictures, (std::vector<std::string>{"5.jpg", "12.jpg"}));
    EXPECT_EQ(StalePicturesQuestion(dir, s),
              dir + " also holds 4 older pictures (3.jpg \xE2\x80\xA6 12.jpg) that the frame would "
                    "show after the new ones. Of these, 5.jpg and 12.jpg are not 128 x 128 "
                    "pictures. Delete them?");
    EXPECT_EQ(FindStalePictures(dir, 13).count, 0);
    EXPECT_EQ(StalePicturesQuestion(dir, FindStalePictures(dir, 6)),
              dir + " also holds 2 older pictures (7.JPG \xE2\x80\xA6 12.jpg) that the frame would "
                    "show after the new ones. Of these, 12.jpg is not a 128 x 128 picture. Delete "
                    "them?");

    // 3.jpg became another file since the question was asked: it stays.
    std::remove((dir + kPathSeparator + "3.jpg").c_str());
    WriteBytes(dir + kPathSeparator + "3.jpg", OlderPicture(42));
    EXPECT_EQ(DeleteStalePictures(dir, s).count, 0);
    auto left = Snapshot(dir);
    std::vector<std::string> names;
    for (const auto& f : left)
        names.push_back(f.first);
    EXPECT_EQ(names, (std::vector<std::string>{"0.jpg", "012.jpg", "1.jpg", "2.jpg", "3.jpeg",
                                               "3.jpg", "9.jpg", "a.jpg"}));
    EXPECT_EQ(left["3.jpg"], Encoded(*Picture(42)));
    EXPECT_EQ(FindStalePictures(dir + kPathSeparator + "missing", 0).count, 0);
}

} // namespace
