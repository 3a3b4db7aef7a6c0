// Save BMP's extension rule and Save All: file names, the files written, and
// how an export stops when a file cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "export/save_names.h"
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
    char name[kPathBufferBytes];
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
    std::vector<char> guarded(kPathBufferBytes + 8, 'G');
    std::string tooLong(256, 'n');
    std::memcpy(guarded.data(), tooLong.c_str(), tooLong.size() + 1);
    EXPECT_EQ(ApplyBmpExtension(guarded.data(), kPathBufferBytes), 0);
    EXPECT_EQ(std::string(guarded.data()), tooLong);
    for (size_t i = kPathBufferBytes; i < guarded.size(); ++i)
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

std::unique_ptr<FrameImage> Picture(uint32_t seed) {
    std::unique_ptr<FrameImage> p(new FrameImage{});
    InitFrameHeader(128, 128, p->bytes);
    std::mt19937 rng(seed);
    for (int i = 0; i < kFramePixelBytes; ++i)
        p->Pixels()[i] = static_cast<uint8_t>((i / 3 % 128) + (rng() % 32));
    return p;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    return bytes;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A scratch folder without the numbered files of an earlier run: under Wine
// process ids repeat, so ScratchDir() can hand out a folder used before.
std::string FreshDir() {
    std::string dir = ScratchDir();
    for (int i = 0; i < 4; ++i) {
        std::string path = SaveAllFileName(dir, i);
        std::remove(path.c_str());
#ifdef _WIN32
        _rmdir(path.c_str());
#else
        rmdir(path.c_str());
#endif
    }
    return dir;
}

std::vector<uint8_t> Encoded(const FrameImage& picture) {
    std::vector<uint8_t> out(kJpegOutputBlockSize);
    size_t length = 0;
    EXPECT_EQ(EncodeJpeg(picture, out.data(), out.size(), length), 1);
    out.resize(length);
    return out;
}

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
    EXPECT_EQ(SaveAllMessage(r), "3 pictures were saved.");
}

TEST(SaveAll, SavingAgainOverwritesWithIdenticalBytesAndLeavesHigherNumbers) {
    std::string dir = FreshDir();
    auto a = Picture(4), b = Picture(5), c = Picture(6);
    const FrameImage* three[] = {a.get(), b.get(), c.get()};
    ASSERT_TRUE(SaveAllPicturesTo(dir, three, 3).ok());
    std::vector<uint8_t> first = ReadFile(dir + kPathSeparator + "0.jpg");
    const FrameImage* one[] = {c.get()};
    ASSERT_TRUE(SaveAllPicturesTo(dir, one, 1).ok());
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "0.jpg"), Encoded(*c));
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "2.jpg"), Encoded(*c)) << "older file stays";
    ASSERT_TRUE(SaveAllPicturesTo(dir, three, 3).ok());
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "0.jpg"), first);
}

TEST(SaveAll, AlbumIsSavedInListOrder) {
    std::vector<std::unique_ptr<FrameImage>> blocks;
    FrameImage* ptrs[kAlbumBlocks];
    for (int i = 0; i < kAlbumBlocks; ++i) {
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
}

TEST(SaveAll, UncreatableFileStopsTheExportAndKeepsTheFilesBefore) {
    std::string dir = FreshDir();
    // A folder where 1.jpg should go: that file cannot be opened for writing.
    std::string blocker = dir + kPathSeparator + "1.jpg";
#ifdef _WIN32
    ASSERT_EQ(_mkdir(blocker.c_str()), 0);
#else
    ASSERT_EQ(mkdir(blocker.c_str(), 0755), 0);
#endif
    auto a = Picture(10), b = Picture(11), c = Picture(12);
    const FrameImage* pictures[] = {a.get(), b.get(), c.get()};
    SaveAllResult r = SaveAllPicturesTo(dir, pictures, 3);
    EXPECT_EQ(r.failure, SaveAllFailure::kCannotCreate);
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(r.failedFile, blocker);
    EXPECT_EQ(ReadFile(dir + kPathSeparator + "0.jpg"), Encoded(*a));
    EXPECT_FALSE(Exists(dir + kPathSeparator + "2.jpg")) << "the export stops at the failure";
    EXPECT_EQ(SaveAllMessage(r), "Could not save " + blocker +
                                     ": cannot create the file. 1 picture was saved before it.");
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

TEST(SaveAll, DamagedPictureStopsBeforeItsFileIsCreated) {
    std::string dir = FreshDir();
    auto good = Picture(13);
    std::unique_ptr<FrameImage> damaged(new FrameImage{});
    InitFrameHeader(4000, 4000, damaged->bytes); // far more rows than the block holds
    const FrameImage* pictures[] = {good.get(), damaged.get(), good.get()};
    SaveAllResult r = SaveAllPicturesTo(dir, pictures, 3);
    EXPECT_EQ(r.failure, SaveAllFailure::kBadPicture);
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(r.failedFile, dir + kPathSeparator + "1.jpg");
    EXPECT_FALSE(Exists(dir + kPathSeparator + "1.jpg"));
    EXPECT_FALSE(Exists(dir + kPathSeparator + "2.jpg"));
}

} // namespace
