// libFuzzer target for the PNG reader: any bytes as a PNG file, decoded
// whole and, for every other input, with only some rows asked for (the
// sampled fit's way). The reader must end with 1 or 0 and never touch memory
// outside its buffers; reading back the raster it describes makes a wrong
// description show up too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codecs/png_reader.h"

namespace {

// Rasters up to this size are read back whole; larger ones row by row at
// both ends, which keeps a run of big headers from slowing the fuzzer down.
constexpr int64_t kReadBackWhole = 1 << 20;

volatile uint32_t g_sink;

void ReadBackRaster(LoadBuffers& lb) {
    uint32_t sum = 0;
    for (int i = 0; i < 40; ++i)
        sum += lb.decodeBuffer[i];
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

// Every third row, and the last column.
void FillMasks(const void*, int32_t width, int32_t height, uint8_t* columns, uint8_t* rows) {
    columns[width - 1] = 1;
    for (int32_t y = 0; y < height; y += 3)
        rows[y] = 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers();
    static bool sampled = false;
    LoadBuffers& lb = owned->buffers;
    if (!LoadMemory(lb, data, size)) return 0;
    const SampleMasks masks{FillMasks, nullptr};
    sampled = !sampled;
    const int result = DecodePngLoaded(lb, sampled ? &masks : nullptr);
    if (result != 0 && result != 1) std::abort();
    if (RasterHeight(lb) > 0) ReadBackRaster(lb);
    return 0;
}
