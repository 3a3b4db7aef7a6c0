// PNG decoding speed from memory: ours against libpng (the same zlib) and
// stb_image, on two 12-megapixel pictures:
//   photo    the benchmark mosaic (bench/make_bench_photos.sh) as an RGB PNG
//            written by ImageMagick: its zlib level and adaptive filters;
//   graphic  a 4000 x 3000 palette picture of flat areas, rings and fine
//            stripes, written here by libpng with its default settings.
// Every decoder gives 8-bit pixels with three channels: ours the bottom-up
// blue-green-red raster, libpng the same (its expand and BGR transforms),
// stb_image red-green-blue rows. "libpng unchecked" skips the CRC and
// Adler-32 checks, which ours does not make either.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <stb/stb_image.h>

#include "bench/bench_photos.h"
#include "codecs/png_reader.h"

#ifdef PIXMORA_HAVE_LIBPNG
#include <png.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

#ifdef PIXMORA_HAVE_LIBPNG
// The palette graphic, encoded once.
Bytes MakeGraphic() {
    constexpr int kW = 4000, kH = 3000;
    Bytes pixels(static_cast<size_t>(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            int v = (x / 250 + (y / 200) * 5) % 24;
            const int dx = x - 2000, dy = y - 1500;
            if ((dx * dx + dy * dy) / 20000 % 9 == 0) v = 200 + (x / 8 + y / 8) % 40;
            if (y % 400 < 40 && x % 6 < 2) v = 255; // fine stripes
            pixels[static_cast<size_t>(y) * kW + x] = static_cast<uint8_t>(v);
        }
    png_color palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = {static_cast<png_byte>(i * 37), static_cast<png_byte>(i * 11 + 60),
                      static_cast<png_byte>(255 - i)};
    Bytes file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &file,
        [](png_structp p, png_bytep data, size_t n) {
            Bytes* f = static_cast<Bytes*>(png_get_io_ptr(p));
            f->insert(f->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette, 256);
    png_write_info(png, info);
    for (int y = 0; y < kH; ++y)
        png_write_row(png, &pixels[static_cast<size_t>(y) * kW]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}
#endif

const Bytes& Picture(int which) {
    static const Bytes photo = bench::ReadPhoto("photo.png");
#ifdef PIXMORA_HAVE_LIBPNG
    static const Bytes graphic = MakeGraphic();
#else
    static const Bytes graphic;
#endif
    return which == 0 ? photo : graphic;
}

void BM_PngDecodePixmora(benchmark::State& state) {
    const Bytes& file = Picture(static_cast<int>(state.range(0)));
    if (file.empty()) return state.SkipWithError(bench::kNoPhoto);
    LoadBuffers& lb = bench::Buffers().buffers;
    for (auto _ : state) {
        LoadMemory(lb, file.data(), file.size());
        if (DecodePngLoaded(lb) != 1) return state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(lb.decodeBuffer);
    }
}

#ifdef PIXMORA_HAVE_LIBPNG
// The whole picture as 8-bit blue-green-red, bottom row first.
bool LibpngDecode(const Bytes& file, Bytes& out, bool checks) {
    struct Reader {
        const Bytes* f;
        size_t at;
    } in{&file, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    bool ok = false;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_read_fn(png, &in, [](png_structp p, png_bytep to, size_t n) {
            Reader* r = static_cast<Reader*>(png_get_io_ptr(p));
            if (n > r->f->size() - r->at) png_error(p, "cut short");
            std::memcpy(to, r->f->data() + r->at, n);
            r->at += n;
        });
        if (!checks) {
            png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
            png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
        }
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_bgr(png);
        png_read_update_info(png, info);
        const size_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        const size_t stride = (w * 3 + 3) / 4 * 4;
        out.resize(stride * h);
        rows.resize(h);
        for (size_t y = 0; y < h; ++y)
            rows[y] = &out[(h - 1 - y) * stride];
        png_read_image(png, rows.data());
        ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

void BM_PngDecodeLibpng(benchmark::State& state, bool checks) {
    const Bytes& file = Picture(static_cast<int>(state.range(0)));
    if (file.empty()) return state.SkipWithError(bench::kNoPhoto);
    static Bytes out;
    for (auto _ : state) {
        if (!LibpngDecode(file, out, checks)) return state.SkipWithError("libpng failed");
        benchmark::DoNotOptimize(out.data());
    }
}
#endif

void BM_PngDecodeStb(benchmark::State& state) {
    const Bytes& file = Picture(static_cast<int>(state.range(0)));
    if (file.empty()) return state.SkipWithError(bench::kNoPhoto);
    for (auto _ : state) {
        int w, h, n;
        stbi_uc* p = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 3);
        if (!p) return state.SkipWithError("stb_image failed");
        benchmark::DoNotOptimize(p);
        stbi_image_free(p);
    }
}

// Argument 0: the photo, 1: the palette graphic.
BENCHMARK(BM_PngDecodePixmora)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#ifdef PIXMORA_HAVE_LIBPNG
BENCHMARK_CAPTURE(BM_PngDecodeLibpng, checked, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PngDecodeLibpng, unchecked, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_PngDecodeStb)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
