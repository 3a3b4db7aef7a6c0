// Thumbnails as the folder list's loader makes them: DecodeThumbnail of a
// benchmark photo from its file (read into the buffers, decoded to the
// eighth-size picture, stretched to its place in the 80 x 72 cell), beside
// libjpeg-turbo reading the same file and decoding it at scale 1/8 (what it
// would show a thumbnail from). Then a folder of 30 photos, the benchmark
// photos in turn as bench/thumbnail_fill.sh makes it: on one decoder (CPU
// time, beside libjpeg-turbo 1/8 on the same files), and on one decoder per
// core, each with buffers of its own as in the program (wall time):
//   build/native/pixmora_bench --benchmark_filter=Thumbnail
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_photos.h"
#include "browser/thumbnail.h"
#include "codecs/decode_failure.h"
#include "codecs/jpeg_decoder.h"

#ifdef PIXMORA_HAVE_TURBOJPEG
#include <turbojpeg.h>
#endif

namespace {

using bench::kNoPhoto;
using bench::kPhotoCount;
using bench::kPhotos;

constexpr int kFolderPhotos = 30;

std::string PhotoPath(int i) {
    return std::string(PIXMORA_SOURCE_DIR) + "/build/bench-photos/" + kPhotos[i % kPhotoCount];
}

bool HavePhotos() {
    FILE* f = std::fopen(PhotoPath(kPhotoCount - 1).c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

// One decoder of the loader: buffers and work records of its own.
struct ThumbnailDecoder {
    OwnedLoadBuffers owned;
    std::unique_ptr<JpegDecoder, void (*)(void*)> jpeg{
        static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes)), std::free};
    FrameImage picture;
    bool Decode(const std::string& path) {
        DecoderSet set;
        set.buffers = &owned.buffers;
        set.jpeg = jpeg.get();
        ThumbnailRect place;
        return DecodeThumbnail(set, path.c_str(), true, picture, place) == 1;
    }
};

void BM_ThumbnailPixmora(benchmark::State& state) {
    if (!HavePhotos()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    std::unique_ptr<ThumbnailDecoder> d(new ThumbnailDecoder);
    const std::string path = PhotoPath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (!d->Decode(path)) {
            state.SkipWithError(LastDecodeFailure());
            break;
        }
        benchmark::DoNotOptimize(d->picture.bytes);
    }
    state.SetLabel(kPhotos[state.range(0)]);
}
BENCHMARK(BM_ThumbnailPixmora)
    ->DenseRange(0, kPhotoCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The folder on `threads` decoders taking the photos in turn.
void Folder(benchmark::State& state, int threads) {
    if (!HavePhotos()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    std::vector<std::unique_ptr<ThumbnailDecoder>> decoders;
    for (int t = 0; t < threads; ++t)
        decoders.emplace_back(new ThumbnailDecoder);
    std::atomic<int> failed{0};
    for (auto _ : state) {
        std::atomic<int> next{0};
        auto work = [&](ThumbnailDecoder& d) {
            for (int i = next++; i < kFolderPhotos; i = next++)
                if (!d.Decode(PhotoPath(i))) ++failed;
        };
        std::vector<std::thread> others;
        for (int t = 1; t < threads; ++t)
            others.emplace_back(work, std::ref(*decoders[t]));
        work(*decoders[0]);
        for (std::thread& t : others)
            t.join();
    }
    if (failed) state.SkipWithError("a thumbnail failed");
    state.SetLabel(std::to_string(kFolderPhotos) + " photos, " + std::to_string(threads) +
                   " decoder(s)");
}
void BM_ThumbnailFolderOneDecoder(benchmark::State& state) {
    Folder(state, 1);
}
void BM_ThumbnailFolderEveryCore(benchmark::State& state) {
    const unsigned cores = std::thread::hardware_concurrency();
    Folder(state, cores < 1 ? 1 : cores > 4 ? 4 : static_cast<int>(cores));
}
// CPU time of the one decoder; wall time of the cores together.
BENCHMARK(BM_ThumbnailFolderOneDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbnailFolderEveryCore)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef PIXMORA_HAVE_TURBOJPEG
// libjpeg-turbo: the file read and decoded at 1/8.
struct TurboEighth {
    tjhandle handle = tjInitDecompress();
    std::vector<uint8_t> file, out;
    ~TurboEighth() { tjDestroy(handle); }
    bool Decode(const std::string& path) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return false;
        std::fseek(f, 0, SEEK_END);
        const long n = std::ftell(f);
        std::fseek(f, 0, SEEK_SET);
        file.resize(n > 0 ? static_cast<size_t>(n) : 0);
        const bool read = std::fread(file.data(), 1, file.size(), f) == file.size();
        std::fclose(f);
        int w = 0, h = 0, sub = 0, cs = 0;
        if (!read || tjDecompressHeader3(handle, file.data(), static_cast<unsigned long>(file.size()),
                                         &w, &h, &sub, &cs) != 0)
            return false;
        const int sw = (w + 7) / 8, sh = (h + 7) / 8;
        out.resize(static_cast<size_t>(sw) * sh * 3);
        return tjDecompress2(handle, file.data(), static_cast<unsigned long>(file.size()),
                             out.data(), sw, 0, sh, TJPF_BGR, 0) == 0;
    }
};

void BM_ThumbnailTurboEighth(benchmark::State& state) {
    if (!HavePhotos()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    TurboEighth t;
    const std::string path = PhotoPath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (!t.Decode(path)) {
            state.SkipWithError("libjpeg-turbo failed");
            break;
        }
        benchmark::DoNotOptimize(t.out.data());
    }
    state.SetLabel(std::string(kPhotos[state.range(0)]) + " 1/8");
}
BENCHMARK(BM_ThumbnailTurboEighth)
    ->DenseRange(0, kPhotoCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ThumbnailFolderTurboEighth(benchmark::State& state) {
    if (!HavePhotos()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    TurboEighth t;
    for (auto _ : state)
        for (int i = 0; i < kFolderPhotos; ++i)
            if (!t.Decode(PhotoPath(i))) state.SkipWithError("libjpeg-turbo failed");
    state.SetLabel(std::to_string(kFolderPhotos) + " photos, 1/8");
}
BENCHMARK(BM_ThumbnailFolderTurboEighth)->Unit(benchmark::kMillisecond);
#endif

} // namespace
