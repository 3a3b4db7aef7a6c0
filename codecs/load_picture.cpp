#include "codecs/load_picture.h"

#include <algorithm>
#include <cstring>

#include "codecs/decode_failure.h"

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

int DecodeByExtension(DecoderSet& set, const char* path, DecodeFor use) {
    const PictureKind kind = PictureKindOf(path);
    if (kind == PictureKind::kNone) return -1;
    if (!set.buffers) return DecodeFail("no load buffers");
    LoadBuffers& lb = *set.buffers;
    switch (kind) {
    case PictureKind::kJpeg: {
        if (!set.jpeg) return DecodeFail("no JPEG work record");
        if (use == DecodeFor::kRaster) return DecodeJpegFile(lb, *set.jpeg, path);
        static const int kFrameFit[2] = {kFrameSide, kFrameSide};
        return DecodeJpegSampled(lb, *set.jpeg, path, SampleMasks{FillStretchMasks, kFrameFit});
    }
    case PictureKind::kBmp: return DecodeBmpFile(lb, path);
    case PictureKind::kGif:
        return set.gif ? DecodeGifFile(lb, *set.gif, path) : DecodeFail("no GIF work record");
    default: return -1;
    }
}

DecodeOutcome DecodeForFrame(DecoderSet& set, const char* path) {
    if (PictureKindOf(path) == PictureKind::kNone || !set.buffers) {
        DecodeFail("unknown picture type");
        return DecodeOutcome::kUnknownType;
    }
    const uint32_t before = set.buffers->rasterSerial;
    if (DecodeByExtension(set, path, DecodeFor::kFrame) == 1) return DecodeOutcome::kComplete;
    // A decoder that stops half-way leaves the rows it decoded in a raster
    // of its own; one that stops earlier leaves the previous file's raster,
    // which must never be shown under this file's name.
    return set.buffers->rasterSerial != before ? DecodeOutcome::kPartial : DecodeOutcome::kRefused;
}

void FitDecoded(LoadBuffers& lb, FrameImage& block) {
    lb.raster.cursor.address = RasterRow(lb, 0);
    FitToFrame(lb, kFrameSide, kFrameSide, block);
}

int LoadPictureIntoFrame(DecoderSet& set, const char* path, FrameImage& block) {
    if (!HasOwnRaster(DecodeForFrame(set, path))) return 0;
    FitDecoded(*set.buffers, block);
    return 1;
}

std::string CouldNotReadMessage(const char* path, const char* reason) {
    const char* name = path ? path : "";
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/') name = p + 1;
    return std::string("Could not read ") + name + ": " +
           (reason && *reason ? reason : "decoding failed") + ".";
}

namespace {

// The stretch's sampling rule along one axis: target position j of `target`
// reads source position StretchStep(source, target)(j). The scale factor is
// rounded to single precision once; the products are taken in extended
// precision and truncated. Below 2^24 this is floor(j * source / target).
class StretchStep {
  public:
    StretchStep(int32_t source, int target)
        : last_(source - 1), scale_(static_cast<float>(static_cast<long double>(source) / target)) {
    }
    int32_t operator()(int j) const {
        return std::min<int32_t>(last_, static_cast<int32_t>(static_cast<long double>(j) * scale_));
    }

  private:
    int32_t last_;
    float scale_;
};

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

bool FitToFrame(LoadBuffers& lb, int w, int h, FrameImage& block) {
    if (w < 1 || h < 1 || w > kFrameSide || h > kFrameSide) return false;
    const BitmapInfoHeader& src = lb.raster.header;
    const int32_t W = src.biWidth, H = src.biHeight;

    // A 128 x 128 true-colour raster already has the block's layout.
    if (w == kFrameSide && h == kFrameSide && W == kFrameSide && H == kFrameSide &&
        src.biClrUsed == 0 && src.biBitCount == 24 && lb.decodeBuffer) {
        std::memcpy(block.bytes, lb.decodeBuffer, kFrameHeaderBytes + kFramePixelBytes);
        return true;
    }

    InitFrameHeader(w, h, block.bytes);
    const int32_t outStride = (w * 24 + 31) / 32 * 4;
    uint8_t* out = block.Pixels();
    if (!RasterReadable(lb)) {
        std::memset(out, 0, static_cast<size_t>(outStride) * h);
        return true;
    }

    const StretchStep columnOf(W, w), rowOf(H, h);
    int32_t column[kFrameSide];
    for (int j = 0; j < w; ++j)
        column[j] = columnOf(j);
    for (int i = 0; i < h; ++i) {
        const int32_t y = rowOf(i);
        uint8_t* row = out + static_cast<size_t>(outStride) * i;
        std::memset(row + 3 * w, 0, static_cast<size_t>(outStride - 3 * w));
        for (int j = 0; j < w; ++j) {
            const uint32_t c = SampleSource(lb, column[j], y);
            row[3 * j] = static_cast<uint8_t>(c);
            row[3 * j + 1] = static_cast<uint8_t>(c >> 8);
            row[3 * j + 2] = static_cast<uint8_t>(c >> 16);
        }
    }
    return true;
}

void FillStretchMasks(const void* fitSize, int32_t width, int32_t height, uint8_t* columns,
                      uint8_t* rows) {
    const int* size = static_cast<const int*>(fitSize);
    const int w = size[0], h = size[1];
    std::memset(columns, 0, static_cast<size_t>(width));
    std::memset(rows, 0, static_cast<size_t>(height));
    if (w < 1 || h < 1 || w > kFrameSide || h > kFrameSide) return; // FitToFrame reads nothing
    const StretchStep columnOf(width, w), rowOf(height, h);
    for (int j = 0; j < w; ++j)
        columns[columnOf(j)] = 1;
    for (int i = 0; i < h; ++i)
        rows[height - 1 - rowOf(i)] = 1; // rowOf gives memory rows, 0 = bottom
}
