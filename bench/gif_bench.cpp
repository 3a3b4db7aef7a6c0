// GIF decoding speed, ours against giflib on the same bytes in memory.
//
// Pictures: two made here with the test encoder (a 1024 x 768 photo-like
// 256-colour picture with dithering noise, where strings are short, and a
// 1024 x 768 16-colour graphic with flat areas, where they are long), plus
// the corpus' larger files when ../shared/corpus is present. Both decoders
// decode the first image only, from memory, into one byte (giflib) or a
// packed raster (ours) per pixel row; the ratio of the two times is the
// figure to quote.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/gif_decoder.h"
#include "tests/unit/gif_builder.h"
#include "tests/unit/test_support.h"

#ifdef PIXMORA_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace {

using giftest::Bytes;

Bytes PhotoLike(int width, int height) {
    Bytes p(static_cast<size_t>(width) * height);
    uint32_t x = 12345;
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width; ++i) {
            x = x * 1103515245u + 12345;
            int v = (i * 3 + y * 2) / 12 + ((i / 97 + y / 61) % 3) * 40;
            v += static_cast<int>((x >> 16) % 7) - 3; // ordered-dither-like noise
            p[static_cast<size_t>(y) * width + i] = static_cast<uint8_t>(v & 255);
        }
    return p;
}

Bytes Graphic(int width, int height) {
    Bytes p(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width; ++i) {
            int cell = (i / 64 + (y / 48) * 3) % 16;
            bool ring = ((i - 512) * (i - 512) + (y - 384) * (y - 384)) / 4096 % 7 == 0;
            p[static_cast<size_t>(y) * width + i] = static_cast<uint8_t>(ring ? 15 - cell : cell);
        }
    return p;
}

struct Picture {
    std::string name;
    Bytes file;
};

std::vector<Picture>& Pictures() {
    static std::vector<Picture> pictures;
    return pictures;
}

void AddPictures() {
    Pictures().push_back(
        {"photo1024x768",
         giftest::GifFile(1024, 768, 256).Image(1024, 768, PhotoLike(1024, 768)).Trailer().bytes});
    Pictures().push_back(
        {"graphic1024x768",
         giftest::GifFile(1024, 768, 16).Image(1024, 768, Graphic(1024, 768)).Trailer().bytes});
    const std::string dir = CorpusDir() + "/gif/";
    for (const char* name : {"giflib/porsche.gif", "giflib/solid2.gif", "image-gif/interlaced.gif",
                             "pillow/hopper.gif", "giflib/welcome2.gif"}) {
        Bytes file = ReadFile(dir + name);
        if (!file.empty()) Pictures().push_back({name, file});
    }
}

void BM_Pixmora(benchmark::State& state, const Picture* picture) {
    static OwnedLoadBuffers owned;
    static GifState* gif = static_cast<GifState*>(std::calloc(1, kGifStateBytes));
    LoadBuffers& lb = owned.buffers;
    int64_t pixels = 0;
    for (auto _ : state) {
        LoadMemory(lb, picture->file.data(), picture->file.size());
        if (DecodeGifLoaded(lb, *gif) != 1) {
            state.SkipWithError("decode failed");
            return;
        }
        pixels += static_cast<int64_t>(RasterWidth(lb)) * RasterHeight(lb);
        benchmark::DoNotOptimize(lb.decodeBuffer);
    }
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(pixels), benchmark::Counter::kIsRate);
}

#ifdef PIXMORA_HAVE_GIFLIB
struct MemoryInput {
    const Bytes* file;
    size_t position;
};

int ReadMemory(GifFileType* gif, GifByteType* to, int n) {
    auto* in = static_cast<MemoryInput*>(gif->UserData);
    size_t left = in->file->size() - in->position;
    size_t k = static_cast<size_t>(n) < left ? static_cast<size_t>(n) : left;
    std::memcpy(to, in->file->data() + in->position, k);
    in->position += k;
    return static_cast<int>(k);
}

// The first image's rows in picture order, as giflib's own tools do it.
bool GiflibFirstImage(const Bytes& file, std::vector<GifByteType>& pixels, int& width,
                      int& height) {
    MemoryInput in{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&in, ReadMemory, &error);
    if (!gif) return false;
    bool ok = false;
    GifRecordType type;
    while (DGifGetRecordType(gif, &type) == GIF_OK && type != TERMINATE_RECORD_TYPE) {
        if (type == EXTENSION_RECORD_TYPE) {
            int code;
            GifByteType* ext;
            if (DGifGetExtension(gif, &code, &ext) != GIF_OK) break;
            while (ext && DGifGetExtensionNext(gif, &ext) == GIF_OK) {
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK) break;
        width = gif->Image.Width;
        height = gif->Image.Height;
        pixels.resize(static_cast<size_t>(width) * height);
        ok = true;
        if (gif->Image.Interlace) {
            const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
            for (int p = 0; p < 4 && ok; ++p)
                for (int y = starts[p]; y < height && ok; y += steps[p])
                    ok = DGifGetLine(gif, &pixels[static_cast<size_t>(y) * width], width) == GIF_OK;
        } else {
            for (int y = 0; y < height && ok; ++y)
                ok = DGifGetLine(gif, &pixels[static_cast<size_t>(y) * width], width) == GIF_OK;
        }
        break;
    }
    DGifCloseFile(gif, &error);
    return ok;
}

void BM_Giflib(benchmark::State& state, const Picture* picture) {
    std::vector<GifByteType> pixels;
    int64_t count = 0;
    for (auto _ : state) {
        int width = 0, height = 0;
        if (!GiflibFirstImage(picture->file, pixels, width, height)) {
            state.SkipWithError("giflib failed");
            return;
        }
        count += static_cast<int64_t>(width) * height;
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
}
#endif

int RegisterAll() {
    AddPictures();
    for (const Picture& p : Pictures()) {
        benchmark::RegisterBenchmark(("GifDecode/pixmora/" + p.name).c_str(), BM_Pixmora, &p)
            ->Unit(benchmark::kMicrosecond);
#ifdef PIXMORA_HAVE_GIFLIB
        benchmark::RegisterBenchmark(("GifDecode/giflib/" + p.name).c_str(), BM_Giflib, &p)
            ->Unit(benchmark::kMicrosecond);
#endif
    }
    return 0;
}

[[maybe_unused]] const int registered = RegisterAll();

} // namespace
