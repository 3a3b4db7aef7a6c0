// libFuzzer target: any bytes as a bitmap file, then the fit into the frame.
// Every byte the decoder describes as output is read, so a raster that
// claims more than the buffer holds shows up under AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fit/stretch.h"
#include "picture/frame_image.h"
#include "codecs/bmp_reader.h"
#include "codecs/load_picture.h"

volatile uint32_t g_sink; // keeps the reads of the output from being optimised away

namespace {

OwnedLoadBuffers& Buffers() {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers; // 120 MB, kept for the run
    return *owned;
}

// Touches every byte, eight at a time (a byte-serial hash made big
// pictures the bottleneck of the whole run).
uint32_t Fold(const uint8_t* p, size_t n) {
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        sum += w;
    }
    for (; i < n; ++i)
        sum += p[i];
    return static_cast<uint32_t>(sum ^ (sum >> 32));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LoadBuffers& lb = Buffers().buffers;
    if (!LoadMemory(lb, data, size)) return 0;
    const int ok = DecodeBmpMemory(lb);

    uint32_t sink = 0;
    const BitmapInfoHeader& h = lb.raster.header;
    if (h.biWidth > 0 && h.biHeight > 0) {
        const size_t packed = 40 + 4 * static_cast<size_t>(h.biClrUsed) +
                              static_cast<size_t>(lb.raster.stride) * h.biHeight;
        if (packed > kDecodeBufferSize)
            std::abort(); // set-up let through a raster that does not fit
        sink += Fold(lb.decodeBuffer, packed);
    } else if (ok) {
        std::abort(); // success without a raster
    }

    lb.raster.cursor.address = RasterRow(lb, 0);
    static FrameImage block;
    if (!FitToFrame(lb, kFrameSide, kFrameSide, block)) std::abort();
    sink += Fold(block.bytes, kFrameHeaderBytes + kFramePixelBytes);
    g_sink = sink;
    return 0;
}
