#include "browser/scan_rules.h"

#include <cstring>

#include "codecs/load_picture.h"

static_assert(kThumbHeight * 10 == kThumbWidth * 9, "the cell's height-to-width ratio is 0.9");

namespace {

// The cell's rule was first written in x87 extended precision: the ratio
// r = H / W rounded to a 64-bit mantissa, then 72 / r or r * 80 rounded
// again and truncated. Those roundings move a result that is exactly a whole
// number (5 x 6: 72 W / H = 60) to the one below (59). The rule is kept
// byte for byte here in integers, independent of the processor's precision
// setting: a positive number m * 2^e with 2^63 <= m < 2^64, rounded to
// nearest, ties to even, as the x87 rounds.
struct Extended {
    uint64_t m;
    int e;
};

Extended Exact(uint64_t v) { // v > 0
    int e = 0;
    while (!(v >> 63)) {
        v <<= 1;
        --e;
    }
    return {v, e};
}

Extended Rounded(uint64_t m, int e, bool half, bool rest) {
    if (half && (rest || (m & 1))) {
        if (++m == 0) {
            m = uint64_t{1} << 63;
            ++e;
        }
    }
    return {m, e};
}

// a / b, rounded. The quotient of the mantissas lies in (1/2, 2): its bits
// are taken from the units' place down, one per step, until 64 bits and the
// rounding bit are known; what remains decides ties.
Extended Quotient(Extended a, Extended b) {
    uint64_t rest = a.m, m = 0;
    bool carry = false, half = false; // the remainder is carry * 2^64 + rest, below 2 b
    int bits = 0, first = 0;
    for (int place = 0; bits < 65; ++place) {
        const bool bit = carry || rest >= b.m;
        if (bit) rest -= b.m; // the true remainder minus b is below 2^64
        if (bits == 0 && bit) first = place;
        if (bits > 0 || bit) {
            if (bits < 64)
                m = m << 1 | static_cast<uint64_t>(bit);
            else
                half = bit;
            ++bits;
        }
        carry = (rest >> 63) != 0;
        rest <<= 1;
    }
    return Rounded(m, a.e - b.e - first - 63, half, carry || rest != 0);
}

// a * b, rounded: the 128-bit product of the mantissas from 32-bit halves.
Extended Product(Extended a, Extended b) {
    const uint64_t a1 = a.m >> 32, a0 = a.m & 0xFFFFFFFFu, b1 = b.m >> 32, b0 = b.m & 0xFFFFFFFFu;
    const uint64_t low = a0 * b0, mid1 = a1 * b0, mid2 = a0 * b1;
    const uint64_t middle = (low >> 32) + (mid1 & 0xFFFFFFFFu) + (mid2 & 0xFFFFFFFFu);
    uint64_t hi = a1 * b1 + (mid1 >> 32) + (mid2 >> 32) + (middle >> 32);
    uint64_t lo = (middle << 32) | (low & 0xFFFFFFFFu);
    int e = a.e + b.e + 64;
    if (!(hi >> 63)) { // the product is below 2^127
        hi = hi << 1 | lo >> 63;
        lo <<= 1;
        --e;
    }
    return Rounded(hi, e, (lo >> 63) != 0, (lo << 1) != 0);
}

int32_t Truncated(Extended x) { // x < 2^31
    return x.e <= -64 ? 0 : static_cast<int32_t>(x.m >> -x.e);
}

Extended Ratio(int32_t W, int32_t H) {
    return Quotient(Exact(static_cast<uint64_t>(H)), Exact(static_cast<uint64_t>(W)));
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
    return Truncated(Quotient(Exact(kThumbHeight), Ratio(W, H)));
}

int32_t WideHeight(int32_t W, int32_t H) {
    const uint64_t scaled = static_cast<uint64_t>(kThumbWidth) * static_cast<uint64_t>(H);
    if (scaled % static_cast<uint64_t>(W) != 0) return static_cast<int32_t>(scaled / W);
    return Truncated(Product(Ratio(W, H), Exact(kThumbWidth)));
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
