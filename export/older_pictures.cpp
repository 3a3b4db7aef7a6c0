#include "export/older_pictures.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <utility>
#include <vector>

#include "export/jpeg_encoder.h"

bool IsNumberedPictureName(const std::string& name, int* number) {
    size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9')
        ++digits;
    if (digits == 0 || digits > 9 || (digits > 1 && name[0] == '0')) return false;
    if (LowerAscii(name.substr(digits)) != ".jpg") return false;
    if (number) *number = std::stoi(name.substr(0, digits));
    return true;
}

namespace {

// The frame size of a JPEG stream: walks the markers up to the first frame
// header (SOF0 .. SOF15; C4, C8 and CC are other segments).
bool JpegFrameSize(const std::vector<uint8_t>& b, int& width, int& height) {
    if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF) return false;
        const uint8_t marker = b[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // no length
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return false; // no frame before the scan
        const size_t length = static_cast<size_t>(b[at + 2]) << 8 | b[at + 3];
        if (length < 2) return false;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            if (length < 8 || at + 9 > b.size()) return false;
            height = b[at + 5] << 8 | b[at + 6];
            width = b[at + 7] << 8 | b[at + 8];
            return true;
        }
        at += 2 + length;
    }
    return false;
}

} // namespace

bool IsFramePictureFile(const std::string& path) {
    FileStamp stamp;
    if (!StampFile(path, stamp) || stamp.size > kJpegOutputBlockSize) return false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    // The frame header of a picture Save All wrote follows its tables (about
    // 160 bytes in); a larger start is read only when the first part ends before it.
    std::vector<uint8_t> bytes(2048);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    int width = 0, height = 0;
    bool found = JpegFrameSize(bytes, width, height);
    if (!found && bytes.size() == 2048) {
        bytes.resize(kJpegOutputBlockSize);
        bytes.resize(2048 + std::fread(bytes.data() + 2048, 1, bytes.size() - 2048, f));
        found = JpegFrameSize(bytes, width, height);
    }
    std::fclose(f);
    return found && width == 128 && height == 128;
}

std::string FileNameList(const std::vector<std::string>& names) {
    const size_t shown = names.size() > 8 ? 8 : names.size();
    std::string text;
    for (size_t i = 0; i < shown; ++i) {
        if (i > 0) text += (i + 1 == shown && shown == names.size()) ? " and " : ", ";
        text += names[i];
    }
    if (shown < names.size()) text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

std::string OwnFilesText(const std::string& folder, const std::vector<std::string>& names) {
    if (names.size() == 1)
        return folder + " holds a file that is not a 128 x 128 picture: " + names[0];
    return folder + " holds " + std::to_string(names.size()) +
           " files that are not 128 x 128 pictures: " + FileNameList(names);
}

std::string OwnFilesQuestion(const std::string& folder, const std::vector<std::string>& names) {
    return OwnFilesText(folder, names) +
           (names.size() == 1 ? ". Save All would replace it with an album picture. Replace it?"
                              : ". Save All would replace them with the album's pictures. "
                                "Replace them?");
}

namespace {

StalePictures Summary(std::vector<StaleFile> files) {
    std::sort(files.begin(), files.end(), [](const StaleFile& a, const StaleFile& b) {
        return a.number != b.number ? a.number < b.number : a.name < b.name;
    });
    StalePictures s;
    for (const StaleFile& f : files) {
        if (s.count == 0) {
            s.lowest = f.number;
            s.lowestName = f.name;
        }
        s.highest = f.number;
        s.highestName = f.name;
        ++s.count;
        if (!f.picture) s.notPictures.push_back(f.name);
    }
    s.files = std::move(files);
    return s;
}

} // namespace

StalePictures FindStalePictures(const std::string& folder, int setSize, char separator) {
    std::vector<StaleFile> found;
    std::vector<std::string> names;
    if (!ListFolder(folder, names)) return Summary(found);
    for (const std::string& name : names) {
        StaleFile f;
        const std::string path = folder + separator + name;
        if (!IsNumberedPictureName(name, &f.number) || f.number < setSize ||
            !StampFile(path, f.stamp))
            continue;
        f.name = name;
        f.picture = IsFramePictureFile(path);
        found.push_back(f);
    }
    return Summary(found);
}

std::string StalePicturesText(const std::string& folder, const StalePictures& stale) {
    std::string range =
        stale.count == 1 ? stale.lowestName : stale.lowestName + " \u2026 " + stale.highestName;
    return folder + " also holds " + std::to_string(stale.count) +
           (stale.count == 1 ? " older picture (" : " older pictures (") + range + ")";
}

std::string StalePicturesQuestion(const std::string& folder, const StalePictures& stale) {
    std::string own;
    if (stale.notPictures.size() == 1)
        own = " Of these, " + stale.notPictures[0] + " is not a 128 x 128 picture.";
    else if (!stale.notPictures.empty())
        own = " Of these, " + FileNameList(stale.notPictures) + " are not 128 x 128 pictures.";
    return StalePicturesText(folder, stale) + " that the frame would show after the new ones." +
           own + " Delete them?";
}

StalePictures DeleteStalePictures(const std::string& folder, const StalePictures& stale,
                                  char separator) {
    std::vector<StaleFile> left;
    for (const StaleFile& f : stale.files) {
        const std::string path = folder + separator + f.name;
        FileStamp now;
        // A file of that name that is not the one found is someone else's.
        if (!StampFile(path, now) || now != f.stamp) continue;
        if (!RemoveFile(path)) left.push_back(f);
    }
    return Summary(left);
}
