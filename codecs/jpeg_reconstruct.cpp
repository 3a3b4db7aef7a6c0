// Reconstruction: progressive assembly, the vector code level, and the
// sampled decode's set-up and writer. The inverse DCT is in jpeg_idct.cpp,
// the colour conversion and the full raster writer in jpeg_colour.cpp.
#include "codecs/jpeg_reconstruct_internal.h"

#include <atomic>
#include <cstring>

namespace {
std::atomic<int32_t> simdLimit{kJpegSimdAvx2};
} // namespace

void SetJpegSimdLimit(int32_t level) {
    simdLimit.store(level, std::memory_order_relaxed);
}

int32_t JpegSimdLevelInUse() {
#if defined(PIXMORA_JPEG_AVX2)
    static const int32_t supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") ? kJpegSimdAvx2
                                                                                : kJpegSimdSse2;
    }();
#elif defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
    constexpr int32_t supported = kJpegSimdSse2;
#else
    constexpr int32_t supported = kJpegSimdPlain;
#endif
    const int32_t limit = simdLimit.load(std::memory_order_relaxed);
    return supported < limit ? supported : limit;
}

void AssembleMcuRowProgressive(JpegDecoder& d) {
    // Each coefficient times its table entry, low 16 bits kept. Zero stays
    // zero, so every position is multiplied (in natural order, eight at a
    // time where SSE2 is there); a component that no scan named has no
    // table to check, and its coefficients are all 0 and need none.
    alignas(16) int16_t natural[4][64];
    for (int t = 0; t < 4; ++t)
        if (d.quant[t])
            for (int k = 0; k < 64; ++k)
                natural[t][kZag[k]] = static_cast<int16_t>(d.quant[t][k]);
    int32_t i = 0;
    McuBlockWalk walk;
    for (int32_t m = 0; m < d.mcusPerRow; ++m) {
        if (JpegStop(d)) return;
        for (int j = 0; j < d.blocksPerMcu; ++j) {
            int c = d.mcuBlockList[j];
            const int tq = d.comp[c].tq;
            const int16_t* q = tq <= 3 && d.quant[tq] ? natural[tq] : nullptr;
            if (d.needBlock && !d.needBlock[i]) { // not reconstructed in a sampled decode
                ++i;
                walk.Step(d, c);
                continue;
            }
            int16_t* B = d.blockStore + 64 * i;
            int32_t bx = walk.Column(c), by = walk.Row(d.blockRowCounter, c);
            const int16_t* dc = CoefAt(d.dcCoef[c], bx, by);
            if (d.dcOnly) { // the eighth-size picture: the dequantised DC alone
                const uint32_t v = dc ? static_cast<uint32_t>(static_cast<int32_t>(*dc)) : 0;
                B[0] = q ? Low16(v * static_cast<uint16_t>(q[0])) : Low16(v);
                ++i;
                walk.Step(d, c);
                continue;
            }
            const int16_t* ac = CoefAt(d.acCoef[c], bx, by);
            if (dc && ac) {
                std::memcpy(B, ac, 128);
                B[0] = *dc;
            } else {
                std::memset(B, 0, 128);
            }
            bool anyAc = false;
#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
            __m128i* v = reinterpret_cast<__m128i*>(B);
            __m128i any =
                _mm_and_si128(_mm_loadu_si128(v), _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));
            for (int r = 1; r < 8; ++r)
                any = _mm_or_si128(any, _mm_loadu_si128(v + r));
            anyAc = _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF;
            if (q)
                for (int r = 0; r < 8; ++r)
                    _mm_storeu_si128(
                        v + r,
                        _mm_mullo_epi16(_mm_loadu_si128(v + r),
                                        _mm_load_si128(reinterpret_cast<const __m128i*>(q) + r)));
#else
            for (int k = 1; k < 64; ++k)
                anyAc = anyAc || B[k] != 0;
            if (q)
                for (int k = 0; k < 64; ++k)
                    B[k] = Low16(static_cast<uint32_t>(static_cast<int32_t>(B[k])) *
                                 static_cast<uint16_t>(q[k]));
#endif
            // Only "DC alone or not" matters to the inverse DCT.
            d.blockEnd[i] = anyAc ? 64 : 1;
            ++i;
            walk.Step(d, c);
        }
    }
    NextBlockRow(d, d.blockRowCounter);
}

// ---- sampled decodes ----

namespace {

// The packed raster of a sampled decode (RasterDescriptor::packedColumn):
// from RasterRow(0) on, the offset of each memory row's packed row, the
// offset of each column in a packed row, then the packed rows of the
// needed samples. The column offsets in the needed columns' order go to
// d.packedOffset for the writer. Left whole when packing would not spare
// much of the raster (or would not fit).
void PackRaster(JpegDecoder& d) {
    LoadBuffers& lb = *d.buffers;
    uint8_t* const base = RasterRow(lb, 0);
    int32_t rows = 0;
    for (int32_t y = 0; y < d.height; ++y)
        rows += d.needRow[y] ? 1 : 0;
    const int64_t tables = 4 * (static_cast<int64_t>(d.width) + d.height);
    const int64_t bytes = tables + 3 * static_cast<int64_t>(rows) * d.neededColumnCount;
    int32_t* offsets = static_cast<int32_t*>(WorkAlloc(d, 4 * static_cast<int64_t>(d.width)));
    const int64_t whole = static_cast<int64_t>(lb.raster.stride) * d.height;
    if (!base || !offsets || 2 * bytes > whole ||
        (base - lb.decodeBuffer) + bytes > static_cast<int64_t>(kDecodeBufferSize))
        return;
    int32_t* rowAt = reinterpret_cast<int32_t*>(base); // by memory row
    int32_t* columnAt = rowAt + d.height;
    std::memset(columnAt, 0, 4 * static_cast<size_t>(d.width));
    for (int32_t k = 0; k < d.neededColumnCount; ++k) {
        offsets[k] = 3 * k;
        columnAt[d.neededColumns[k]] = 3 * k;
    }
    const int32_t stride = 3 * d.neededColumnCount;
    int32_t packed = 0;
    for (int32_t y = 0; y < d.height; ++y) { // picture row y is memory row height - 1 - y
        const bool needed = d.needRow[y];
        rowAt[d.height - 1 - y] = static_cast<int32_t>(tables) + (needed ? packed : 0) * stride;
        packed += needed ? 1 : 0;
    }
    lb.raster.packedColumn = columnAt;
    lb.raster.packedRow = rowAt;
    d.packedOffset = offsets;
}

} // namespace

bool PrepareSampling(JpegDecoder& d, const SampleMasks& masks) {
    const int32_t groups = d.frameMcusPerRow * (d.mcuWidth / 8);
    uint8_t* columns = static_cast<uint8_t*>(WorkAlloc(d, d.width));
    uint8_t* rows = static_cast<uint8_t*>(WorkAlloc(d, d.height));
    int32_t* list = static_cast<int32_t*>(WorkAlloc(d, 4 * static_cast<int64_t>(d.width)));
    uint8_t* group = static_cast<uint8_t*>(WorkAlloc(d, groups));
    uint8_t* blocks = static_cast<uint8_t*>(WorkAlloc(d, d.blocksPerMcuRow));
    if (!columns || !rows || !list || !group || !blocks || !masks.fill) return false;
    masks.fill(masks.context, d.width, d.height, columns, rows);
    int32_t n = 0;
    for (int32_t x = 0; x < d.width; ++x) {
        if (!columns[x]) continue;
        list[n++] = x;
        group[x / 8] = 1;
    }
    d.needColumn = columns;
    d.needRow = rows;
    d.neededColumns = list;
    d.neededColumnCount = n;
    d.needColumnGroup = group;
    d.needBlock = blocks;
    d.packedOffset = nullptr;
    if (masks.packed) PackRaster(d);
    return true;
}

bool MarkNeededBlocks(JpegDecoder& d, int32_t firstRow, int32_t rows) {
    if (!d.needBlock) return true;
    // The two 8-line halves of a 16-line MCU row (one half when it is 8 high).
    bool half[2] = {false, false};
    for (int32_t line = 0; line < rows; ++line)
        if (d.needRow[firstRow + line]) half[line >> 3] = true;
    std::memset(d.needBlock, 0, static_cast<size_t>(d.blocksPerMcuRow));
    if (!half[0] && !half[1]) return false;
    // The Y blocks of an MCU lie h across and v down (LayoutKind); each
    // chroma block covers the whole MCU.
    const int h = d.mcuWidth / 8, v = d.mcuHeight / 8;
    const int yBlocks = h * v;
    bool any = false;
    for (int32_t m = 0; m < d.frameMcusPerRow; ++m) {
        const uint8_t* columns = d.needColumnGroup + h * m;
        const bool mcuColumns = columns[0] || (h == 2 && columns[1]);
        if (!mcuColumns) continue;
        uint8_t* need = d.needBlock + static_cast<size_t>(m) * d.frameBlocksPerMcu;
        for (int j = 0; j < d.frameBlocksPerMcu; ++j) {
            need[j] = j < yBlocks ? columns[j % h] && half[j / h] : 1;
            any = any || need[j];
        }
    }
    return any;
}

bool WriteSampledRows(JpegDecoder& d, int32_t firstRow, int32_t rows) {
    LoadBuffers& lb = *d.buffers;
    const int32_t mcuBytes = 64 * d.frameBlocksPerMcu;
    const int shift = d.mcuWidth == 16 ? 4 : 3;
    for (int32_t line = 0; line < rows; ++line) {
        if (JpegStop(d)) return false;
        if (!d.needRow[firstRow + line]) continue;
        const int32_t memoryRow = d.height - 1 - (firstRow + line);
        uint8_t* out = d.packedOffset ? RasterRow(lb, 0) + lb.raster.packedRow[memoryRow]
                                      : RasterRow(lb, memoryRow);
        if (!out) return false;
        for (int32_t k = 0; k < d.neededColumnCount; ++k) {
            const int32_t x = d.neededColumns[k];
            const int32_t m = x >> shift;
            const McuLine l = LineOf(d, d.sampleBuffer + static_cast<size_t>(m) * mcuBytes, line);
            const uint32_t px = PixelOf(d, l, x - (m << shift));
            uint8_t* p = out + (d.packedOffset ? d.packedOffset[k] : 3 * static_cast<size_t>(x));
            p[0] = static_cast<uint8_t>(px);
            p[1] = static_cast<uint8_t>(px >> 8);
            p[2] = static_cast<uint8_t>(px >> 16);
        }
    }
    return true;
}

bool WriteEighthRow(JpegDecoder& d, int32_t mcuRow) {
    LoadBuffers& lb = *d.buffers;
    const int32_t width = RasterWidth(lb), height = RasterHeight(lb);
    // Blocks across and down an MCU, and where its chroma blocks begin
    // (LayoutKind's order: the Y blocks left to right, then down).
    const int h = d.mcuWidth / 8, v = d.mcuHeight / 8;
    const int chroma = d.layoutKind == kLayoutGray ? 0 : h * v;
    for (int by = 0; by < v; ++by) {
        if (JpegStop(d)) return false;
        const int32_t row = mcuRow * v + by;
        if (row >= height) break;
        uint8_t* out = RasterRow(lb, height - 1 - row);
        if (!out) return false;
        for (int32_t m = 0; m < d.frameMcusPerRow; ++m) {
            const int16_t* mcu = d.blockStore + 64 * static_cast<size_t>(m) * d.frameBlocksPerMcu;
            const int cb = chroma ? FlatSample(mcu[64 * chroma]) : 0;
            const int cr = chroma ? FlatSample(mcu[64 * (chroma + 1)]) : 0;
            for (int bx = 0; bx < h; ++bx) {
                const int32_t x = m * h + bx;
                if (x >= width) break;
                const int y = FlatSample(mcu[64 * (by * h + bx)]);
                const uint32_t px =
                    chroma ? Bgr(d, y, cb, cr) : static_cast<uint32_t>(y) * 0x010101u;
                uint8_t* p = out + 3 * static_cast<size_t>(x);
                p[0] = static_cast<uint8_t>(px);
                p[1] = static_cast<uint8_t>(px >> 8);
                p[2] = static_cast<uint8_t>(px >> 16);
            }
        }
    }
    return true;
}
