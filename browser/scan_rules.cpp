#include "browser/scan_rules.h"

#include <cstring>

#include "codecs/load_picture.h"
#include "fit/extended_rounding.h"

static_assert(kThumbHeight * 10 == kThumbWidth * 9, "the cell's height-to-width ratio is 0.9");

namespace {

// The cell's rule was first written in x87 extended precision: the ratio
// r = H / W rounded to a 64-bit mantissa, then 72 / r or r * 80 rounded
// again and truncated. Those roundings move a result that is exactly a whole
// number (5 x 6: 72 W / H = 60) to the one below (59). The rule is kept
// byte for byte here in integers (fit/extended_rounding.h), independent of
// the processor's precision setting.
Extended Ratio(int32_t W, int32_t H) {
    return ExtendedRatio(static_cast<uint32_t>(H), static_cast<uint32_t>(W));
}

// Taller than the cell: H / W above the single-precision 0.9 (15099494 / 2^24).
// H / W is never within 2^-55 of it without being equal, far beyond the
// rounding of the ratio (2^-65), so the exact comparison decides.
bool TallerThanTheCell(int32_t W, int32_t H) {
    return (static_cast<uint64_t>(H) << 24) > 15099494u * static_cast<uint64_t>(W);
}

// 72 / (H / W) and (H / W) * 80 as the extended roundings give them. Where
// 72 W / H (80 H / W) is not a whole number, its distance to one (at least
// 1 / H, 1 / W: 2^-31) is far beyond what the roundings move (2^-56), so
// the integer quotient is the result; a whole number needs the roundings.
int32_t TallWidth(int32_t W, int32_t H) {
    const uint64_t scaled = static_cast<uint64_t>(kThumbHeight) * static_cast<uint64_t>(W);
    if (scaled % static_cast<uint64_t>(H) != 0) return static_cast<int32_t>(scaled / H);
    return TruncatedExtended(ExtendedQuotient(ExactExtended(kThumbHeight), Ratio(W, H)));
}

int32_t WideHeight(int32_t W, int32_t H) {
    const uint64_t scaled = static_cast<uint64_t>(kThumbWidth) * static_cast<uint64_t>(H);
    if (scaled % static_cast<uint64_t>(W) != 0) return static_cast<int32_t>(scaled / W);
    return TruncatedExtended(ExtendedProduct(Ratio(W, H), ExactExtended(kThumbWidth)));
}

} // namespace

ThumbnailRect FitThumbnailRect(int32_t W, int32_t H) {
    ThumbnailRect t;
    if (W <= 0 || H <= 0) return t;
    if (TallerThanTheCell(W, H)) {
        t.w = TallWidth(W, H);
        t.h = kThumbHeight;
        t.x0 = (kThumbWidth - t.w) / 2;
        t.y0 = 0;
    } else {
        t.w = kThumbWidth;
        t.h = WideHeight(W, H);
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
