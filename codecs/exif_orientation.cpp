#include "codecs/exif_orientation.h"

#include <cstring>

namespace {

// A TIFF structure inside an APP1 payload: every read is checked against
// its length.
struct Tiff {
    const uint8_t* p;
    size_t size;
    bool bigEndian;

    bool U16(size_t at, uint32_t& out) const {
        if (at > size || size - at < 2) return false;
        out = bigEndian ? (p[at] << 8 | p[at + 1]) : (p[at] | p[at + 1] << 8);
        return true;
    }
    bool U32(size_t at, uint32_t& out) const {
        uint32_t a = 0, b = 0;
        if (!U16(at, a) || !U16(at + 2, b)) return false;
        out = bigEndian ? (a << 16 | b) : (b << 16 | a);
        return true;
    }
};

constexpr uint32_t kOrientationTag = 0x0112;
constexpr uint32_t kTypeShort = 3;
constexpr size_t kEntryBytes = 12;

// The orientation in IFD0 of the TIFF block, 0 when absent or damaged. Only
// IFD0 is read; the link to the next IFD is never followed.
int OrientationInTiff(const uint8_t* p, size_t size) {
    if (size < 8) return 0;
    Tiff t{p, size, false};
    if (p[0] == 'M' && p[1] == 'M')
        t.bigEndian = true;
    else if (!(p[0] == 'I' && p[1] == 'I'))
        return 0;
    uint32_t magic = 0, ifd = 0, count = 0;
    if (!t.U16(2, magic) || magic != 42 || !t.U32(4, ifd) || !t.U16(ifd, count)) return 0;
    // All entries must lie inside the block (ifd + 2 <= size is known here).
    if (static_cast<size_t>(count) * kEntryBytes > size - ifd - 2) return 0;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = ifd + 2 + kEntryBytes * i;
        uint32_t tag = 0, type = 0, n = 0, value = 0;
        t.U16(at, tag);
        if (tag != kOrientationTag) continue;
        t.U16(at + 2, type);
        t.U32(at + 4, n);
        t.U16(at + 8, value); // a single SHORT sits in the first half of the value field
        if (type != kTypeShort || n != 1 || value < 1 || value > 8) return 0;
        return static_cast<int>(value);
    }
    return 0;
}

bool IsStandalone(uint8_t marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);
}

} // namespace

int ExifOrientation(const uint8_t* data, size_t size) {
    if (!data) return 0;
    // The JPEG decoder accepts up to 512 bytes before the SOI marker.
    size_t pos = 0;
    while (pos < 513 && pos + 1 < size && !(data[pos] == 0xFF && data[pos + 1] == 0xD8))
        ++pos;
    if (pos >= 513 || pos + 1 >= size) return 0;
    pos += 2;
    // Marker segments up to the first scan or the end; every step moves on.
    while (pos + 1 < size) {
        if (data[pos] != 0xFF) return 0;
        const uint8_t marker = data[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (IsStandalone(marker)) {
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9 || pos + 3 >= size) return 0;
        const size_t length = static_cast<size_t>(data[pos + 2]) << 8 | data[pos + 3];
        if (length < 2 || length > size - pos - 2) return 0;
        const uint8_t* payload = data + pos + 4;
        const size_t payloadSize = length - 2;
        static const uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (marker == 0xE1 && payloadSize >= 6 && std::memcmp(payload, kExif, 6) == 0)
            return OrientationInTiff(payload + 6, payloadSize - 6);
        pos += 2 + length;
    }
    return 0;
}
