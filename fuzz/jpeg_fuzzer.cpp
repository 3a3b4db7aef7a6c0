// libFuzzer target: any bytes as a JPEG file, decoded from the FileBuffer.
// Every raster byte the decoder describes is read afterwards, so a raster
// that claims more than the buffer holds shows up under AddressSanitizer.
// The same bytes then go through the sampled decode for the frame, over a
// raster whose sampled pixels were changed first: its fitted picture must be
// the full decode's, byte for byte (for some inputs the stretch of a
// thumbnail, turned by the orientation, instead of the frame's; for half of
// them into a packed raster).
// Where the CPU has AVX2 the full decode is made again without those paths
// and must give the same raster.
// The same bytes also go through the Exif orientation reader (straight
// from the input, unpadded), and the full decode through a fit turned by it.
// First of all they are decoded to the eighth-size picture of a thumbnail
// (every raster byte read; the same at every vector level).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fit/stretch.h"
#include "browser/scan_rules.h"
#include "browser/thumbnail.h"
#include "codecs/exif_orientation.h"
#include "fit/fit_options.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/load_picture.h"

volatile uint32_t g_sink; // keeps the reads of the output from being optimised away

namespace {

OwnedLoadBuffers& Buffers() {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers; // 120 MB, kept for the run
    return *owned;
}

JpegDecoder& Decoder() {
    // zero-filled like the program's GlobalAlloc block
    static JpegDecoder* d = static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes));
    return *d;
}

struct ThumbnailStretch {
    int orientation, w, h;
};
void FillThumbnailMasks(const void* context, int32_t width, int32_t height, uint8_t* columns,
                        uint8_t* rows) {
    const auto& s = *static_cast<const ThumbnailStretch*>(context);
    MarkLinesTheStretchReads(width, height, s.orientation, s.w, s.h, columns, rows);
}

uint32_t Fold(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum = sum * 31 + p[i];
    return sum;
}

bool TakeEighth(const void*, int32_t, int32_t) {
    return true;
}

// The eighth-size picture's raster (header and pixels), or 0 when the decode failed.
uint32_t EighthSum(LoadBuffers& lb, JpegDecoder& d, const uint8_t* data, size_t size) {
    static const int kFrameFit[2] = {kFrameSide, kFrameSide};
    static const SampleMasks eighth{FillStretchMasks, kFrameFit, TakeEighth};
    lb.raster.header = BitmapInfoHeader{};
    if (!LoadMemory(lb, data, size) || DecodeJpegLoaded(lb, d, &eighth) != 1) return 0;
    for (int i = 0; i < kJpegWorkSlots; ++i)
        if (d.workSlots[i]) std::abort();
    const BitmapInfoHeader& h = lb.raster.header;
    if (h.biWidth != (d.width + 7) / 8 || h.biHeight != (d.height + 7) / 8 || h.biBitCount != 24)
        std::abort();
    return Fold(lb.decodeBuffer, 40 + static_cast<size_t>(lb.raster.stride) * h.biHeight) | 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int orientation = ExifOrientation(data, size);
    if (orientation < 0 || orientation > 8) std::abort();
    LoadBuffers& lb = Buffers().buffers;
    // A raster left from an earlier input is no output of this one.
    lb.raster.header = BitmapInfoHeader{};
    JpegDecoder& d = Decoder();
    const uint32_t eighthSum = EighthSum(lb, d, data, size);
    if (JpegSimdLevelInUse() > kJpegSimdSse2) {
        SetJpegSimdLimit(kJpegSimdSse2);
        const uint32_t plainSum = EighthSum(lb, d, data, size);
        SetJpegSimdLimit(kJpegSimdAvx2);
        if (plainSum != eighthSum) std::abort();
    }
    lb.raster.header = BitmapInfoHeader{};
    if (!LoadMemory(lb, data, size)) return 0;
    const int ok = DecodeJpegLoaded(lb, d);
    for (int i = 0; i < kJpegWorkSlots; ++i)
        if (d.workSlots[i]) std::abort(); // a work block outlived the decode
    if (!ok) return 0;
    const BitmapInfoHeader& h = lb.raster.header;
    if (h.biWidth != d.width || h.biHeight != d.height || h.biBitCount != 24) std::abort();
    const size_t packed = 40 + static_cast<size_t>(lb.raster.stride) * h.biHeight;
    if (packed > kDecodeBufferSize) std::abort();
    const uint32_t rasterSum = Fold(lb.decodeBuffer, packed);
    g_sink = rasterSum;
    // Without the AVX2 paths the decode must give the same raster.
    if (JpegSimdLevelInUse() > kJpegSimdSse2) {
        SetJpegSimdLimit(kJpegSimdSse2);
        lb.raster.header = BitmapInfoHeader{};
        const bool same = LoadMemory(lb, data, size) && DecodeJpegLoaded(lb, d) == 1 &&
                          Fold(lb.decodeBuffer, packed) == rasterSum;
        SetJpegSimdLimit(kJpegSimdAvx2);
        if (!same) std::abort();
    }
    // Fill and smooth read the most varied parts of the raster; the input
    // size picks the rest.
    static FrameImage block;
    FitOptions options;
    options.mode = static_cast<FitMode>(size % 3);
    options.smooth = (size & 4) != 0;
    lb.raster.cursor.address = RasterRow(lb, 0);
    FitWithOptions(lb, options, orientation, block);
    g_sink += Fold(block.bytes, kFrameHeaderBytes + kFramePixelBytes);

    // Half of the inputs (by size) take a thumbnail's stretch instead: the
    // upright picture to its place in the cell, with the masks of that stretch.
    static FrameImage full, sampled;
    const bool thumbnail = (size & 8) != 0;
    const ThumbnailRect place = ThumbnailPlace(h.biWidth, h.biHeight, orientation);
    if (thumbnail && (place.w < 1 || place.h < 1)) return 0;
    static ThumbnailStretch stretch;
    stretch = {orientation, place.w, place.h};
    auto fit = [&](FrameImage& out) {
        lb.raster.cursor.address = RasterRow(lb, 0);
        if (thumbnail)
            StretchUpright(lb, orientation, place.w, place.h, out);
        else
            FitToFrame(lb, kFrameSide, kFrameSide, out);
    };
    fit(full);
    static const int kFrameFit[2] = {kFrameSide, kFrameSide};
    SampleMasks masks = thumbnail ? SampleMasks{FillThumbnailMasks, &stretch}
                                  : SampleMasks{FillStretchMasks, kFrameFit};
    masks.packed = (size & 16) != 0; // half of them packed: read only through SampleSource
    static uint8_t columns[kJpegMaxDimension], rows[kJpegMaxDimension];
    masks.fill(masks.context, h.biWidth, h.biHeight, columns, rows);
    for (int32_t y = 0; y < h.biHeight; ++y)
        for (int32_t x = 0; rows[h.biHeight - 1 - y] && x < h.biWidth; ++x)
            if (columns[x]) RasterRow(lb, y)[3 * x] ^= 0x5A;
    lb.raster.header = BitmapInfoHeader{};
    if (!LoadMemory(lb, data, size) || DecodeJpegLoaded(lb, d, &masks) != 1) std::abort();
    fit(sampled);
    if (std::memcmp(full.bytes, sampled.bytes, sizeof full.bytes) != 0) std::abort();
    return 0;
}
