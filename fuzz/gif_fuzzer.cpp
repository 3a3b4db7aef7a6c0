// libFuzzer target for the GIF decoder: any bytes as a GIF file. The decoder
// must end with 1 or 0 and never touch memory outside its buffers; reading
// back the raster it describes makes a wrong description show up too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codecs/gif_decoder.h"

namespace {

// Rasters up to this size are read back whole; larger ones row by row at
// both ends, which keeps a run of big headers from slowing the fuzzer down.
constexpr int64_t kReadBackWhole = 1 << 20;

volatile uint32_t g_sink;

void ReadBackRaster(LoadBuffers& lb) {
    uint32_t sum = 0;
    const uint8_t* header = lb.decodeBuffer;
    for (int i = 0; i < 40; ++i)
        sum += header[i];
    if (const uint8_t* palette = RasterPalette(lb))
        for (uint32_t i = 0; i < 4 * RasterPaletteCount(lb); ++i)
            sum += palette[i];
    const int32_t height = RasterHeight(lb);
    const int32_t stride = lb.raster.stride;
    const bool whole = static_cast<int64_t>(stride) * height <= kReadBackWhole;
    for (int32_t r = 0; r < height; ++r) {
        if (!whole && r != 0 && r != height - 1) continue;
        const uint8_t* row = RasterRow(lb, r);
        for (int32_t i = 0; i < stride; ++i)
            sum += row[i];
    }
    g_sink = sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers();
    static GifState* gif = static_cast<GifState*>(std::calloc(1, kGifStateBytes));
    LoadBuffers& lb = owned->buffers;
    if (!LoadMemory(lb, data, size)) return 0;
    int result = DecodeGifLoaded(lb, *gif);
    if (result != 0 && result != 1) std::abort();
    if (RasterHeight(lb) > 0) ReadBackRaster(lb);
    return 0;
}
