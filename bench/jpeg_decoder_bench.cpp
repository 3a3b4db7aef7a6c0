// The JPEG decoder beside libjpeg-turbo's TurboJPEG API on ~12-megapixel
// photos (bench/bench_photos.h; bench/make_bench_photos.sh makes them).
// The file is already in memory for both; both write the same bottom-up BGR
// raster. Run twice to see libjpeg-turbo with and without its SIMD:
//   build/native/pixmora_bench --benchmark_filter=JpegDecode
//   JSIMD_FORCENONE=1 build/native/pixmora_bench --benchmark_filter=JpegDecode
// (libjpeg-turbo reads that variable once per process). Our decoder always
// upsamples by replication, so the peers run with TJFLAG_FASTUPSAMPLE too.
//
// Load to frame (a click): the full decode and FitToFrame, the sampled decode
// and FitToFrame, and libjpeg-turbo scaling by 1/8 in its inverse DCT (what
// `djpeg -scale 1/8` does, without the process and the output file):
//   build/native/pixmora_bench --benchmark_filter=JpegFrame
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fit/stretch.h"
#include "bench/bench_photos.h"
#include "codecs/decode_failure.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/load_picture.h"

#ifdef PIXMORA_HAVE_TURBOJPEG
#include <turbojpeg.h>
#endif

namespace {

using bench::Buffers;
using bench::kNoPhoto;
using bench::kPhotoCount;
using bench::kPhotos;
using bench::ReadPhoto;

void BM_JpegDecodePixmora(benchmark::State& state) {
    const char* name = kPhotos[state.range(0)];
    std::vector<uint8_t> file = ReadPhoto(name);
    if (file.empty()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    LoadBuffers& lb = Buffers().buffers;
    LoadMemory(lb, file.data(), file.size());
    JpegDecoder* d = static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes));
    for (auto _ : state) {
        // The file stays in the FileBuffer; only the reader is set back.
        lb.dataLength = static_cast<int32_t>(file.size());
        lb.readPosition = 0;
        if (!DecodeJpegLoaded(lb, *d)) {
            state.SkipWithError(LastDecodeFailure());
            break;
        }
        benchmark::DoNotOptimize(lb.decodeBuffer);
    }
    state.SetLabel(name);
    state.counters["MP/s"] =
        benchmark::Counter(static_cast<double>(d->width) * d->height * state.iterations() / 1e6,
                           benchmark::Counter::kIsRate);
    std::free(d);
}
BENCHMARK(BM_JpegDecodePixmora)
    ->DenseRange(0, kPhotoCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void JpegFrame(benchmark::State& state, const SampleMasks* masks) {
    const char* name = kPhotos[state.range(0)];
    std::vector<uint8_t> file = ReadPhoto(name);
    if (file.empty()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    LoadBuffers& lb = Buffers().buffers;
    LoadMemory(lb, file.data(), file.size());
    JpegDecoder* d = static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes));
    static FrameImage block;
    for (auto _ : state) {
        lb.dataLength = static_cast<int32_t>(file.size());
        lb.readPosition = 0;
        if (!DecodeJpegLoaded(lb, *d, masks)) {
            state.SkipWithError(LastDecodeFailure());
            break;
        }
        lb.raster.cursor.address = RasterRow(lb, 0);
        FitToFrame(lb, kFrameSide, kFrameSide, block);
        benchmark::DoNotOptimize(block.bytes);
    }
    state.SetLabel(name);
    std::free(d);
}
void BM_JpegFrameFullDecodeAndFit(benchmark::State& state) {
    JpegFrame(state, nullptr);
}
void BM_JpegFrameSampledDecodeAndFit(benchmark::State& state) {
    static const int kFrameFit[2] = {kFrameSide, kFrameSide};
    static const SampleMasks frame{FillStretchMasks, kFrameFit};
    JpegFrame(state, &frame);
}
BENCHMARK(BM_JpegFrameFullDecodeAndFit)
    ->DenseRange(0, kPhotoCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_JpegFrameSampledDecodeAndFit)
    ->DenseRange(0, kPhotoCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

#ifdef PIXMORA_HAVE_TURBOJPEG
void BM_JpegFrameTurboScaleEighth(benchmark::State& state) {
    const char* name = kPhotos[state.range(0)];
    std::vector<uint8_t> file = ReadPhoto(name);
    if (file.empty()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, sub = 0, cs = 0;
    tjDecompressHeader3(h, file.data(), static_cast<unsigned long>(file.size()), &w, &ht, &sub,
                        &cs);
    const int sw = (w + 7) / 8, sh = (ht + 7) / 8;
    std::vector<uint8_t> out(static_cast<size_t>(sw) * sh * 3);
    for (auto _ : state) {
        if (tjDecompress2(h, file.data(), static_cast<unsigned long>(file.size()), out.data(), sw,
                          0, sh, TJPF_BGR, 0) != 0) {
            state.SkipWithError(tjGetErrorStr2(h));
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    tjDestroy(h);
    state.SetLabel(std::string(name) + " 1/8");
}
BENCHMARK(BM_JpegFrameTurboScaleEighth)
    ->DenseRange(0, kPhotoCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void TurboDecode(benchmark::State& state, int flags) {
    const char* name = kPhotos[state.range(0)];
    std::vector<uint8_t> file = ReadPhoto(name);
    if (file.empty()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, sub = 0, cs = 0;
    tjDecompressHeader3(h, file.data(), static_cast<unsigned long>(file.size()), &w, &ht, &sub,
                        &cs);
    const int pitch = (w * 3 + 3) & ~3; // the SourceRaster's stride
    std::vector<uint8_t> raster(static_cast<size_t>(pitch) * ht);
    for (auto _ : state) {
        if (tjDecompress2(h, file.data(), static_cast<unsigned long>(file.size()), raster.data(), w,
                          pitch, ht, TJPF_BGR, TJFLAG_BOTTOMUP | flags) != 0) {
            state.SkipWithError(tjGetErrorStr2(h));
            break;
        }
        benchmark::DoNotOptimize(raster.data());
    }
    tjDestroy(h);
    const char* simd = std::getenv("JSIMD_FORCENONE") ? "no SIMD" : "SIMD";
    state.SetLabel(std::string(name) + " (" + simd + ")");
    state.counters["MP/s"] = benchmark::Counter(
        static_cast<double>(w) * ht * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
void BM_JpegDecodeTurboFastUpsample(benchmark::State& state) {
    TurboDecode(state, TJFLAG_FASTUPSAMPLE);
}
void BM_JpegDecodeTurboDefault(benchmark::State& state) {
    TurboDecode(state, 0);
}
BENCHMARK(BM_JpegDecodeTurboFastUpsample)
    ->DenseRange(0, kPhotoCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_JpegDecodeTurboDefault)
    ->DenseRange(0, kPhotoCount - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

} // namespace
