#include "codecs/load_picture.h"

#include <algorithm>
#include <cstring>

#include "codecs/decode_failure.h"
#include "codecs/exif_orientation.h"
#include "codecs/bmp_reader.h"
#include "codecs/gif_decoder.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/png_reader.h"

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

namespace {

// The kinds the program reads, with the words of their extensions and the
// signatures their files start with.
struct Extension {
    PictureKind kind;
    const char* text; // upper case, as ExtensionOf gives it
};
constexpr Extension kExtensions[] = {
    {PictureKind::kBmp, "BMP"},   {PictureKind::kGif, "GIF"},  {PictureKind::kJpeg, "JPG"},
    {PictureKind::kJpeg, "JPEG"}, {PictureKind::kJpeg, "JPE"}, {PictureKind::kJpeg, "JFIF"},
    {PictureKind::kPng, "PNG"},
};

struct Signature {
    PictureKind kind;
    const char* bytes;
    size_t length;
};
constexpr Signature kSignatures[] = {
    {PictureKind::kBmp, "BM", 2},
    {PictureKind::kGif, "GIF87a", 6},
    {PictureKind::kGif, "GIF89a", 6},
    {PictureKind::kJpeg, "\xFF\xD8\xFF", 3},
    {PictureKind::kPng, "\x89PNG\r\n\x1A\n", 8},
};

// What a reader says of a file in which it finds no start of its format:
// for a file without a signature, that it is no picture at all.
struct NoStart {
    PictureKind kind;
    const char* reason;
};
constexpr NoStart kNoStart[] = {
    {PictureKind::kBmp, "file too short"},
    {PictureKind::kBmp, "unsupported bitmap header"},
    {PictureKind::kGif, "not a GIF file"},
    {PictureKind::kJpeg, "no SOI marker in the first 513 bytes"},
    {PictureKind::kPng, "not a PNG file"},
};

bool FoundNoStart(PictureKind kind, const char* reason) {
    for (const NoStart& n : kNoStart)
        if (n.kind == kind && std::strcmp(n.reason, reason) == 0) return true;
    return false;
}

int NotAPicture(const char* path) {
    DecodeFailAbout(path, "is not a BMP, GIF, JPEG or PNG picture");
    return -1;
}

// The loaded file through the reader of `kind`.
int DecodeLoaded(DecoderSet& set, PictureKind kind, bool upright, SampleNeeds* needs,
                 int& orientation) {
    LoadBuffers& lb = *set.buffers;
    switch (kind) {
    case PictureKind::kBmp: return DecodeBmpMemory(lb);
    case PictureKind::kGif:
        return set.gif ? DecodeGifLoaded(lb, *set.gif) : DecodeFail("no GIF work record");
    case PictureKind::kPng: return DecodePngLoaded(lb, needs ? needs->MasksFor(lb, 1) : nullptr);
    case PictureKind::kJpeg: {
        if (!set.jpeg) return DecodeFail("no JPEG work record");
        const int exif =
            upright ? ExifOrientation(lb.fileBuffer, static_cast<size_t>(lb.dataLength)) : 1;
        const SampleMasks* masks = needs ? needs->MasksFor(lb, exif) : nullptr;
        const int decoded = DecodeJpegLoaded(lb, *set.jpeg, masks);
        if (decoded == 1) orientation = exif;
        return decoded;
    }
    default: return -1;
    }
}

} // namespace

PictureKind PictureKindOf(const char* name) {
    const std::string e = ExtensionOf(name);
    for (const Extension& x : kExtensions)
        if (e == x.text) return x.kind;
    return PictureKind::kNone;
}

PictureKind PictureKindOfData(const uint8_t* data, size_t size) {
    for (const Signature& s : kSignatures)
        if (data && size >= s.length && std::memcmp(data, s.bytes, s.length) == 0) return s.kind;
    return PictureKind::kNone;
}

const char* PictureFileFilter() {
    static const std::string filter = [] {
        std::string patterns;
        for (const Extension& x : kExtensions) {
            if (!patterns.empty()) patterns += ';';
            patterns += "*.";
            for (const char* c = x.text; *c; ++c)
                patterns += static_cast<char>(*c - 'A' + 'a');
        }
        return "Image Files(" + patterns + ")" + '\0' + patterns + '\0';
    }();
    return filter.c_str(); // the string's own terminator is the second zero
}

int DecodePicture(DecoderSet& set, const char* path) {
    int orientation = 1;
    return DecodeForReading(set, path, false, nullptr, orientation);
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

int DecodeForReading(DecoderSet& set, const char* path, bool upright, SampleNeeds* needs,
                     int& orientation) {
    orientation = 1;
    ClearDecodeDamage();
    if (!set.buffers) return DecodeFail("no load buffers");
    LoadBuffers& lb = *set.buffers;
    if (!LoadWholeFile(lb, path)) return 0;
    PictureKind kind = PictureKindOfData(lb.fileBuffer, static_cast<size_t>(lb.dataLength));
    const bool signed_ = kind != PictureKind::kNone;
    if (!signed_) kind = PictureKindOf(path);
    if (kind == PictureKind::kNone) return NotAPicture(path);
    const uint32_t serial = lb.rasterSerial;
    const int decoded = DecodeLoaded(set, kind, upright, needs, orientation);
    lb.rowWatcher = nullptr;
    if (decoded == 0 && !signed_ && lb.rasterSerial == serial &&
        FoundNoStart(kind, LastDecodeFailure()))
        return NotAPicture(path);
    return decoded;
}

std::string CouldNotReadMessage(const char* path, const char* reason) {
    const char* name = FileNameOf(path);
    const size_t n = std::strlen(name);
    if (!reason || !*reason) reason = "decoding failed";
    // A reason about the file itself already names it.
    if (n && std::strncmp(reason, name, n) == 0 && reason[n] == ' ') return std::string(reason) + ".";
    return std::string("Could not read ") + name + ": " + reason + ".";
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
    const uint8_t* p = lb.raster.packedColumn
                           ? PixelBase(lb) + lb.raster.packedRow[y] + lb.raster.packedColumn[x]
                           : PixelBase(lb) + static_cast<int64_t>(y) * lb.raster.stride + 3 * x;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16;
}
