#include "tests/unit/save_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#endif

#include <cstdio>
#include <random>

#include "export/folder_files.h"
#include "export/jpeg_encoder.h"
#include "export/path_separator.h"
#include "tests/unit/test_support.h"

std::unique_ptr<FrameImage> Picture(uint32_t seed) {
    std::unique_ptr<FrameImage> p(new FrameImage{});
    InitFrameHeader(128, 128, p->bytes);
    std::mt19937 rng(seed);
    for (int i = 0; i < kFramePixelBytes; ++i)
        p->Pixels()[i] = static_cast<uint8_t>((i / 3 % 128) + (rng() % 32));
    return p;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void EmptyFolder(const std::string& dir) {
    std::vector<std::string> names;
    ListFolder(dir, names);
    for (const std::string& name : names) {
        std::string path = dir + kPathSeparator + name;
        if (std::remove(path.c_str()) == 0) continue;
        EmptyFolder(path);
        RemoveEmptyFolder(path);
    }
}

std::string FreshDir() {
    std::string dir = ScratchDir();
    EmptyFolder(dir);
    return dir;
}

std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& dir) {
    std::map<std::string, std::vector<uint8_t>> all;
    std::vector<std::string> names;
    EXPECT_TRUE(ListFolder(dir, names));
    for (const std::string& name : names) {
        std::string path = dir + kPathSeparator + name;
        std::string folder = "<folder>";
        all[name] = IsRegularFile(path) ? ReadFile(path)
                                        : std::vector<uint8_t>(folder.begin(), folder.end());
    }
    return all;
}

void WriteBytes(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

void MakeDir(const std::string& path) {
#ifdef _WIN32
    ASSERT_EQ(_mkdir(path.c_str()), 0) << path;
#else
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
#endif
}

std::vector<uint8_t> Encoded(const FrameImage& picture) {
    std::vector<uint8_t> out(kJpegOutputBlockSize);
    size_t length = 0;
    EXPECT_EQ(EncodeJpeg(picture, out.data(), out.size(), length), 1);
    out.resize(length);
    return out;
}

std::string OlderPicture(uint32_t seed) {
    const std::vector<uint8_t> bytes = Encoded(*Picture(seed));
    return std::string(bytes.begin(), bytes.end());
}
