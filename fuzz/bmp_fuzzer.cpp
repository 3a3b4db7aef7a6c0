// libFuzzer target: any bytes as a bitmap file, then the fit into the frame.
// Every byte the decoder describes as output is read, so a raster that
// claims more than the buffer holds shows up under AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/frame_image.h"
#include "codecs/bmp_reader.h"
#include "codecs/load_picture.h"

volatile uint32_t g_sink;  // keeps the reads of the output from being optimised away

namespace {

OwnedLoadBuffers& Buffers() {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers;  // 120 MB, kept for the run
    return *owned;
}

uint32_t Fold(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = sum * 31 + p[i];
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LoadBuffers& lb = Buffers().buffers;
    if (!LoadMemory(lb, data, size)) return 0;
    const int ok = DecodeBmpMemory(lb);

    uint32_t sink = 0;
    const BitmapInfoHeader& h = lb.raster.header;
    if (h.biWidth > 0 && h.biHeight > 0) {
        const size_t packed = 40 + 4 * static_cast<size_t>(h.biClrUsed) +
                              static_cast<size_t>(lb.raster.stride) * h.biHeight;
        if (packed > kDecodeBufferSize) std::abort();  // set-up let through a raster that does not fit
        sink += Fold(lb.decodeBuffer, packed);
    } else if (ok) {
        std::abort();  // success without a raster
    }

    lb.raster.cursor.address = RasterRow(lb, 0);
    static FrameImage block;
    if (!FitToFrame(lb, kFrameSide, kFrameSide, block)) std::abort();
    sink += Fold(block.bytes, kFrameHeaderBytes + kFramePixelBytes);
    g_sink = sink;
    return 0;
}
