// Bitmap decoding from memory against a plain copy of the same pixel bytes
// and against stb_image on the same file; and the fit into the frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG // for bench/png_bench.cpp
#include <stb/stb_image.h>

#include "fit/stretch.h"
#include "codecs/bmp_reader.h"
#include "codecs/load_picture.h"

namespace {

constexpr int32_t kWidth = 4000, kHeight = 3000; // 12 megapixels

// A bottom-up BI_RGB file of the given depth with pseudo-random pixels.
std::vector<uint8_t> MakeBmp(int bits) {
    const int32_t stride = (kWidth * bits + 31) / 32 * 4;
    const uint32_t palette = bits == 8 ? 1024 : 0;
    const uint32_t off = 14 + 40 + palette;
    const uint32_t image = static_cast<uint32_t>(stride) * kHeight;
    std::vector<uint8_t> f(off + image);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&f[at], &v, 4); };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, static_cast<uint32_t>(f.size()));
    put32(10, off);
    put32(14, 40);
    put32(18, kWidth);
    put32(22, kHeight);
    f[26] = 1;
    f[28] = static_cast<uint8_t>(bits);
    put32(34, image);
    for (uint32_t i = 0; i < palette; ++i)
        f[54 + i] = static_cast<uint8_t>(i * 13);
    uint32_t seed = 12345;
    for (size_t i = off; i < f.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        f[i] = static_cast<uint8_t>(seed >> 24);
    }
    return f;
}

struct Fixture {
    OwnedLoadBuffers owned;
    std::vector<uint8_t> file;
    explicit Fixture(int bits) : file(MakeBmp(bits)) {
        LoadMemory(owned.buffers, file.data(), file.size());
    }
    size_t PixelBytes() const { return file.size() - (file[10] | file[11] << 8); }
};

Fixture& Bmp24() {
    static Fixture f(24);
    return f;
}
Fixture& Bmp8() {
    static Fixture f(8);
    return f;
}

void DecodeFromMemory(benchmark::State& state, Fixture& f) {
    LoadBuffers& lb = f.owned.buffers;
    for (auto _ : state) {
        int ok = DecodeBmpMemory(lb);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(lb.decodeBuffer[2000]);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.PixelBytes());
}

// The floor: the same pixel bytes copied from the FileBuffer into the
// DecodeBuffer's pixel area.
void CopyPixels(benchmark::State& state, Fixture& f) {
    LoadBuffers& lb = f.owned.buffers;
    const size_t off = f.file.size() - f.PixelBytes();
    uint8_t* to = lb.decodeBuffer + off - 14;
    for (auto _ : state) {
        std::memcpy(to, lb.fileBuffer + off, f.PixelBytes());
        benchmark::DoNotOptimize(to[1000]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.PixelBytes());
}

void StbImage(benchmark::State& state, Fixture& f) {
    for (auto _ : state) {
        int w, h, n;
        stbi_uc* p =
            stbi_load_from_memory(f.file.data(), static_cast<int>(f.file.size()), &w, &h, &n, 0);
        benchmark::DoNotOptimize(p);
        stbi_image_free(p);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.PixelBytes());
}

void BM_Decode24(benchmark::State& s) {
    DecodeFromMemory(s, Bmp24());
}
void BM_Memcpy24(benchmark::State& s) {
    CopyPixels(s, Bmp24());
}
void BM_Stb24(benchmark::State& s) {
    StbImage(s, Bmp24());
}
void BM_Decode8(benchmark::State& s) {
    DecodeFromMemory(s, Bmp8());
}
void BM_Memcpy8(benchmark::State& s) {
    CopyPixels(s, Bmp8());
}
void BM_Stb8(benchmark::State& s) {
    StbImage(s, Bmp8());
}

void BM_FitToFrame24(benchmark::State& state) {
    Fixture& f = Bmp24();
    LoadBuffers& lb = f.owned.buffers;
    DecodeBmpMemory(lb);
    lb.raster.cursor.address = RasterRow(lb, 0);
    static FrameImage block;
    for (auto _ : state) {
        FitToFrame(lb, kFrameSide, kFrameSide, block);
        benchmark::DoNotOptimize(block.bytes[5000]);
    }
}

BENCHMARK(BM_Memcpy24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stb24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stb8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FitToFrame24)->Unit(benchmark::kMicrosecond);

} // namespace
