// Inputs are looked at before they are opened; data is known by its start.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/input_file.h"
#include "codecs/load_picture.h"
#include "tests/unit/test_support.h"

namespace {

TEST(InputFile, NamesTheSystemsReasonAndNeverOpensWhatIsNoFile) {
    const std::string dir = ScratchDir();
    const std::string file = dir + "/picture.bmp";
    FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("BM", f);
    std::fclose(f);
    struct Case {
        std::string path;
        std::string problem;
    };
    std::vector<Case> cases = {
        {file, ""},
        {dir + "/missing.bmp", std::strerror(ENOENT)},
        {dir, std::strerror(EISDIR)},
        {"", std::strerror(ENOENT)},
    };
#ifndef _WIN32
    cases.push_back({file + "/inside.bmp", std::strerror(ENOTDIR)});
    // A FIFO without a writer would hang a reader that opened it.
    const std::string fifo = dir + "/pipe.jpg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    cases.push_back({fifo, "not a regular file"});
    cases.push_back({"/dev/zero", "not a regular file"});
#endif
    for (const Case& c : cases)
        EXPECT_EQ(InputFileProblem(NativePath(c.path).c_str()), c.problem) << c.path;
}

TEST(PictureKindOfData, TheSignatureDecides) {
    struct Case {
        const char* bytes;
        size_t size;
        PictureKind kind;
    };
    const Case cases[] = {
        {"BM\x36\x00", 4, PictureKind::kBmp},     {"GIF89a", 6, PictureKind::kGif},
        {"GIF87a..", 8, PictureKind::kGif},       {"GIF8", 4, PictureKind::kNone},
        {"\xFF\xD8\xFF\xE0", 4, PictureKind::kJpeg}, {"\xFF\xD8", 2, PictureKind::kNone},
        {"hello", 5, PictureKind::kNone},         {"", 0, PictureKind::kNone},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PictureKindOfData(reinterpret_cast<const uint8_t*>(c.bytes), c.size), c.kind)
            << c.bytes;
}

} // namespace
