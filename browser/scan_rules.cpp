#include "browser/scan_rules.h"

#include <cstring>

#include "codecs/load_picture.h"

static_assert(kThumbHeight * 10 == kThumbWidth * 9, "the cell's height-to-width ratio is 0.9");

ThumbnailRect FitThumbnailRect(int32_t W, int32_t H) {
    ThumbnailRect t;
    if (W <= 0 || H <= 0) return t;
    // Extended precision for the ratio, but the cell's 0.9 as a float:
    // 0.89999998, so an 80 x 72 picture counts as taller than the cell.
    const long double r = static_cast<long double>(H) / static_cast<long double>(W);
    if (r > static_cast<long double>(0.9f)) {
        t.w = static_cast<int32_t>(static_cast<long double>(kThumbHeight) / r);
        t.h = kThumbHeight;
        t.x0 = (kThumbWidth - t.w) / 2;
        t.y0 = 0;
    } else {
        t.w = kThumbWidth;
        t.h = static_cast<int32_t>(r * static_cast<long double>(kThumbWidth));
        t.x0 = 0;
        t.y0 = (kThumbHeight - t.h) / 2;
    }
    return t;
}

bool IsScannedPictureName(const char* name) {
    return name && PictureKindOf(name) != PictureKind::kNone;
}

bool MakeFolderPath(const char* path, char* folderPath) {
    if (!path || !path[0]) return false;
    const size_t n = strnlen(path, kPathBytes);
    const bool hasSlash = path[n - 1] == '\\';
    const size_t total = n + (hasSlash ? 0 : 1);
    if (total > static_cast<size_t>(kLongestPath)) return false;
    std::memcpy(folderPath, path, n);
    if (!hasSlash) folderPath[n] = '\\';
    folderPath[total] = 0;
    return true;
}

bool JoinFolderAndName(const char* folderPath, const char* name, char* out) {
    out[0] = 0;
    const size_t folder = strnlen(folderPath, kPathBytes);
    const size_t file = strnlen(name, kPathBytes);
    if (folder + file > static_cast<size_t>(kLongestPath)) return false;
    std::memcpy(out, folderPath, folder);
    std::memcpy(out + folder, name, file);
    out[folder + file] = 0;
    return true;
}

ScanStep AddScannedName(const char* folderPath, const char* name, char* table, int32_t& count) {
    if (count >= kNameSlots) return ScanStep::kTableFull;
    if (IsScannedPictureName(name)) {
        const size_t folder = strnlen(folderPath, kPathBytes);
        const size_t file = strnlen(name, kPathBytes);
        // Skipped rather than cut: a shortened name would open another file.
        if (folder + file <= static_cast<size_t>(kLongestPath)) {
            char* entry = table + static_cast<size_t>(count) * kPathBytes;
            std::memcpy(entry, name, file);
            entry[file] = 0;
            ++count;
        }
    }
    return count >= kNameSlots ? ScanStep::kTableFull : ScanStep::kGoOn;
}
