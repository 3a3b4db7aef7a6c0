#include "codecs/load_picture.h"

#include <algorithm>
#include <cstring>

#include "codecs/decode_failure.h"
#include "codecs/exif_orientation.h"
#include "codecs/jpeg_decoder.h"

std::string ExtensionOf(const char* name) {
    if (!name) return "";
    const int64_t a = static_cast<int64_t>(std::strlen(name));
    const char* dot = std::strrchr(name, '.');
    const int64_t i = dot ? dot - name : -1;
    if (i > a - 3) return ""; // fewer than two characters after the dot
    std::string ext(name + i + 1, static_cast<size_t>(a - i - 1));
    // ASCII only: no extension we look for has any other letter.
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

PictureKind PictureKindOf(const char* name) {
    const std::string e = ExtensionOf(name);
    if (e == "JPG") return PictureKind::kJpeg;
    if (e == "BMP") return PictureKind::kBmp;
    if (e == "GIF") return PictureKind::kGif;
    return PictureKind::kNone;
}

uint64_t DecoderSetMostBytes() {
    return static_cast<uint64_t>(kFileBufferSize) + kDecodeBufferSize + kGifStateBytes +
           kJpegDecoderBytes + static_cast<uint64_t>(kJpegMostWorkBytes);
}

int DecoderSetsThatFit(int wanted, uint64_t space, uint64_t besides) {
    const uint64_t fit = (space - space / 4) / (DecoderSetMostBytes() + besides);
    const uint64_t most = wanted > 1 ? static_cast<uint64_t>(wanted) : 1;
    return static_cast<int>(std::max<uint64_t>(1, std::min(fit, most)));
}

int DecodeByExtension(DecoderSet& set, const char* path) {
    const PictureKind kind = PictureKindOf(path);
    if (kind == PictureKind::kNone) return -1;
    if (!set.buffers) return DecodeFail("no load buffers");
    LoadBuffers& lb = *set.buffers;
    switch (kind) {
    case PictureKind::kJpeg:
        return set.jpeg ? DecodeJpegFile(lb, *set.jpeg, path) : DecodeFail("no JPEG work record");
    case PictureKind::kBmp: return DecodeBmpFile(lb, path);
    case PictureKind::kGif:
        return set.gif ? DecodeGifFile(lb, *set.gif, path) : DecodeFail("no GIF work record");
    default: return -1;
    }
}

int DecodeForReading(DecoderSet& set, const char* path, bool upright, SampleNeeds* needs,
                     int& orientation) {
    orientation = 1;
    const PictureKind kind = PictureKindOf(path);
    if (kind == PictureKind::kNone || !set.buffers) return -1;
    if (kind != PictureKind::kJpeg || !set.jpeg) return DecodeByExtension(set, path);
    LoadBuffers& lb = *set.buffers;
    if (!LoadWholeFile(lb, path)) return 0;
    const int exif =
        upright ? ExifOrientation(lb.fileBuffer, static_cast<size_t>(lb.dataLength)) : 1;
    const SampleMasks* masks = needs ? needs->MasksFor(lb, exif) : nullptr;
    const int decoded = DecodeJpegLoaded(lb, *set.jpeg, masks);
    lb.rowWatcher = nullptr;
    if (decoded == 1) orientation = exif;
    return decoded;
}

std::string CouldNotReadMessage(const char* path, const char* reason) {
    const char* name = path ? path : "";
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return std::string("Could not read ") + name + ": " +
           (reason && *reason ? reason : "decoding failed") + ".";
}

namespace {

const uint8_t* PixelBase(const LoadBuffers& lb) {
    return lb.raster.cursor.address;
}

} // namespace

// True when the descriptor describes a raster and PixelBase addresses all of
// its rows inside the DecodeBuffer. Fresh buffers (never a raster) and a
// PixelBase left over from something else fail this, and fit as black.
bool RasterReadable(const LoadBuffers& lb) {
    const BitmapInfoHeader& h = lb.raster.header;
    const uint8_t* base = PixelBase(lb);
    if (!lb.decodeBuffer || !base || h.biWidth <= 0 || h.biHeight <= 0 || lb.raster.stride <= 0)
        return false;
    const int64_t needed = static_cast<int64_t>(lb.raster.stride) * h.biHeight;
    const int64_t start = base - lb.decodeBuffer;
    return start >= 40 && start + needed <= static_cast<int64_t>(kDecodeBufferSize);
}

uint32_t PaletteColour(const LoadBuffers& lb, uint32_t index) {
    index &= 0xFF;
    const uint32_t count = lb.raster.header.biClrUsed;
    if (count == 0 || index >= count || !lb.decodeBuffer) return 0;
    const uint8_t* e = lb.decodeBuffer + 40 + 4 * index;
    return static_cast<uint32_t>(e[0]) | static_cast<uint32_t>(e[1]) << 8 |
           static_cast<uint32_t>(e[2]) << 16 | static_cast<uint32_t>(e[3]) << 24;
}

uint32_t PaletteIndexAt(const LoadBuffers& lb, int32_t x, int32_t y) {
    if (lb.raster.header.biClrUsed == 0) return 0;
    const uint8_t* p = PixelBase(lb) + static_cast<int64_t>(y) * lb.raster.stride;
    switch (lb.raster.header.biBitCount) {
    case 8: return p[x];
    case 4: {
        const uint8_t b = p[x / 2];
        return (x & 1) ? (b & 0x0F) : (b >> 4);
    }
    case 1: return (p[x / 8] >> (7 - x % 8)) & 1;
    default: return 0;
    }
}

uint32_t SampleSource(const LoadBuffers& lb, int32_t x, int32_t y) {
    if (lb.raster.header.biClrUsed != 0)
        return PaletteColour(lb, PaletteIndexAt(lb, x, y)) & 0x00FFFFFF;
    const uint8_t* p = PixelBase(lb) + static_cast<int64_t>(y) * lb.raster.stride + 3 * x;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16;
}
