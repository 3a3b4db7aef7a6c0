// Loading a ~12-megapixel photo filled, smoothed and turned upright, beside
// the load as the program first did it: full decode, then the plain stretch.
// Both read the same file (bench/make_bench_photos.sh writes the photos to
// build/bench-photos/; an Exif block with orientation 6 is added, so the
// turn is really made). Compare CPU times in one run:
//   build/native/pixmora_bench --benchmark_filter=Load/ --benchmark_repetitions=9
//     --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fit/stretch.h"
#include "bench/bench_photos.h"
#include "codecs/decode_failure.h"
#include "codecs/exif_orientation.h"
#include "fit/fit_options.h"
#include "codecs/jpeg_decoder.h"
#include "codecs/load_picture.h"
#include "fit/subject_region.h"
#include "tests/unit/subject_photos.h"

namespace {

using bench::Buffers;
using bench::kNoPhoto;
using bench::kPhotos;
using bench::ReadPhoto;

// The photo with an Exif APP1 (orientation 6, little-endian) after its SOI.
std::vector<uint8_t> WithOrientationSix(std::vector<uint8_t> file) {
    const uint8_t app1[] = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0,    0,    'I', 'I',
                            42,   0,    8, 0,  0,   0,   1,   0,   0x12, 0x01, 3,   0,
                            1,    0,    0, 0,  6,   0,   0,   0,   0,    0,    0,   0};
    if (file.size() > 2) file.insert(file.begin() + 2, app1, app1 + sizeof app1);
    return file;
}

struct FreeDecoder {
    void operator()(JpegDecoder* d) const { std::free(d); }
};

// The photo with orientation 6 written to a scratch file, so both loads
// read it from disk (the page cache) as the program does.
std::string ScratchPhoto(const char* name) {
    std::vector<uint8_t> file = ReadPhoto(name);
    if (file.empty()) return "";
    file = WithOrientationSix(file);
    const std::string path = std::string(PIXMORA_SOURCE_DIR) + "/build/bench-photos/exif6-" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "";
    const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    std::fclose(f);
    return ok ? path : "";
}

void Load(benchmark::State& state, bool withOptions) {
    const char* name = kPhotos[state.range(0)];
    const std::string path = ScratchPhoto(name);
    if (path.empty()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    std::unique_ptr<JpegDecoder, FreeDecoder> d(
        static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes)));
    DecoderSet set;
    set.buffers = &Buffers().buffers;
    set.jpeg = d.get();
    LoadBuffers& lb = *set.buffers;
    static FrameImage block;
    FitOptions options;
    options.mode = FitMode::kFill;
    options.smooth = true;
    options.upright = true;
    for (auto _ : state) {
        if (withOptions) {
            LoadForFrame(set, path.c_str(), options, block);
        } else {
            // The full decode and the plain stretch.
            if (!DecodeJpegFile(lb, *d, path.c_str())) {
                state.SkipWithError(LastDecodeFailure());
                break;
            }
            lb.raster.cursor.address = RasterRow(lb, 0);
            FitToFrame(lb, kFrameSide, kFrameSide, block);
        }
        benchmark::DoNotOptimize(block.bytes);
    }
    state.SetLabel(name);
}

void BM_LoadPlainStretch(benchmark::State& state) {
    Load(state, false);
}
void BM_LoadFillSmoothUpright(benchmark::State& state) {
    Load(state, true);
}
BENCHMARK(BM_LoadPlainStretch)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFillSmoothUpright)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Decodes the photo `file` whole into `lb`, its raster from row 0; false
// (the benchmark skipped with the reason) when it cannot be.
bool DecodeWhole(std::vector<uint8_t>& file, LoadBuffers& lb, benchmark::State& state) {
    LoadMemory(lb, file.data(), file.size());
    std::unique_ptr<JpegDecoder, FreeDecoder> d(
        static_cast<JpegDecoder*>(std::calloc(1, kJpegDecoderBytes)));
    if (!DecodeJpegLoaded(lb, *d)) {
        state.SkipWithError(LastDecodeFailure());
        return false;
    }
    lb.raster.cursor.address = RasterRow(lb, 0);
    return true;
}

// The fit alone on the decoded photo (the part the options add).
void BM_FitAlone(benchmark::State& state) {
    std::vector<uint8_t> file = ReadPhoto(kPhotos[0]);
    if (file.empty()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    LoadBuffers& lb = Buffers().buffers;
    if (!DecodeWhole(file, lb, state)) return;
    static FrameImage block;
    FitOptions options;
    options.mode = static_cast<FitMode>(state.range(0));
    options.smooth = state.range(1) != 0;
    const int orientation = static_cast<int>(state.range(2));
    for (auto _ : state) {
        FitWithOptions(lb, options, orientation, block);
        benchmark::DoNotOptimize(block.bytes);
    }
}
BENCHMARK(BM_FitAlone)
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {1, 6}})
    ->ArgNames({"mode", "smooth", "orientation"})
    ->Unit(benchmark::kMillisecond);

// The subject suggestion on a decoded ~12-megapixel photo (what a fill
// around the subject adds to the load; compare with BM_LoadPlainStretch).
void BM_SubjectSuggestionOnPhoto(benchmark::State& state) {
    std::vector<uint8_t> file = ReadPhoto(kPhotos[state.range(0)]);
    if (file.empty()) {
        state.SkipWithError(kNoPhoto);
        return;
    }
    LoadBuffers& lb = Buffers().buffers;
    if (!DecodeWhole(file, lb, state)) return;
    for (auto _ : state)
        benchmark::DoNotOptimize(SuggestSubjectRegion(lb, 1, 1, 1));
    state.SetLabel(kPhotos[state.range(0)]);
}
BENCHMARK(BM_SubjectSuggestionOnPhoto)->Arg(0)->Arg(8)->Unit(benchmark::kMillisecond);

// The judgement of the suggestion: each built photo with a known subject at
// about 12 megapixels, the share of its subject the suggested square keeps
// and the share the centre square keeps, and how far the subject's centre
// sits from the square's centre (a share of the side), beside the time.
void BM_SubjectSuggestionJudged(benchmark::State& state) {
    const SubjectPhoto p = MakeSubjectPhoto(kSubjectScenes[state.range(0)], 4243);
    LoadBuffers& lb = Buffers().buffers;
    if (!SetUpRaster(lb, p.width, p.height, 24)) {
        state.SkipWithError("no raster");
        return;
    }
    for (int32_t y = 0; y < p.height; ++y) {
        uint8_t* row = RasterRow(lb, p.height - 1 - y);
        for (int32_t x = 0; x < p.width; ++x) {
            const uint32_t c = p.pixels[static_cast<size_t>(y) * p.width + x];
            row[3 * x] = static_cast<uint8_t>(c);
            row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(c >> 16);
        }
    }
    lb.raster.cursor.address = RasterRow(lb, 0);
    PictureRect s;
    for (auto _ : state) {
        s = SuggestSubjectRegion(lb, 1, 1, 1);
        benchmark::DoNotOptimize(s);
    }
    const PictureRect c =
        ShownPart(ComputeFitGeometry(p.width, p.height, FitMode::kFill), p.height);
    const bool any = std::find(p.subject.begin(), p.subject.end(), 1) != p.subject.end();
    state.counters["kept_suggested"] = any ? SubjectShareIn(p, s.x, s.y, s.w, s.h) : -1;
    state.counters["kept_centre"] = any ? SubjectShareIn(p, c.x, c.y, c.w, c.h) : -1;
    state.counters["off_suggested"] = SubjectOffsetIn(p, s.x, s.y, s.w, s.h);
    state.counters["off_centre"] = SubjectOffsetIn(p, c.x, c.y, c.w, c.h);
    state.counters["is_centre"] = s.x == c.x && s.y == c.y;
    state.SetLabel(p.name + " " + std::to_string(p.width) + "x" + std::to_string(p.height));
}
BENCHMARK(BM_SubjectSuggestionJudged)
    ->DenseRange(0, static_cast<int>(sizeof kSubjectScenes / sizeof kSubjectScenes[0]) - 1)
    ->Unit(benchmark::kMillisecond);

} // namespace
