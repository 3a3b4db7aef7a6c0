#include "export/older_pictures.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "export/folder_files.h"

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

// The stale files themselves, with their numbers.
std::vector<std::pair<int, std::string>> StaleFiles(const std::string& folder, int setSize,
                                                    char separator) {
    std::vector<std::pair<int, std::string>> found;
    std::vector<std::string> names;
    if (!ListFolder(folder, names)) return found;
    for (const std::string& name : names) {
        int number = 0;
        if (IsNumberedPictureName(name, &number) && number >= setSize &&
            IsRegularFile(folder + separator + name))
            found.emplace_back(number, name);
    }
    return found;
}

StalePictures Summary(const std::vector<std::pair<int, std::string>>& files) {
    StalePictures s;
    for (const auto& f : files) {
        if (s.count == 0 || f.first < s.lowest) {
            s.lowest = f.first;
            s.lowestName = f.second;
        }
        if (s.count == 0 || f.first > s.highest) {
            s.highest = f.first;
            s.highestName = f.second;
        }
        ++s.count;
    }
    return s;
}

} // namespace

StalePictures FindStalePictures(const std::string& folder, int setSize, char separator) {
    return Summary(StaleFiles(folder, setSize, separator));
}

std::string StalePicturesText(const std::string& folder, const StalePictures& stale) {
    std::string range =
        stale.count == 1 ? stale.lowestName : stale.lowestName + " \u2026 " + stale.highestName;
    return folder + " also holds " + std::to_string(stale.count) +
           (stale.count == 1 ? " older picture (" : " older pictures (") + range + ")";
}

std::string StalePicturesQuestion(const std::string& folder, const StalePictures& stale) {
    return StalePicturesText(folder, stale) +
           " that the frame would show after the new ones. Delete them?";
}

StalePictures DeleteStalePictures(const std::string& folder, int setSize, char separator) {
    std::vector<std::pair<int, std::string>> left;
    for (const auto& f : StaleFiles(folder, setSize, separator))
        if (std::remove((folder + separator + f.second).c_str()) != 0) left.push_back(f);
    return Summary(left);
}
