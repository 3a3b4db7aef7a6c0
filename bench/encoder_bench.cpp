// The JPEG encoder beside libjpeg-turbo (SIMD on) coding the same 128 x 128
// picture with the same tables (quality 75 = the standard tables at 50 %,
// 4:4:4), and Save All's encode-and-write of a full 384-picture album.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "export/jpeg_encoder.h"
#include "export/save_all.h"
#include "bench/photo_like_picture.h"

#ifdef PIXMORA_HAVE_LIBJPEG
#include <jpeglib.h>
#endif

namespace {

void BM_EncodeJpeg_Pixmora(benchmark::State& state) {
    auto picture = PhotoLikePicture(1);
    std::vector<uint8_t> out(kJpegOutputBlockSize);
    size_t length = 0;
    for (auto _ : state) {
        if (!EncodeJpeg(*picture, out.data(), out.size(), length))
            state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["bytes"] = static_cast<double>(length);
}
BENCHMARK(BM_EncodeJpeg_Pixmora)->Unit(benchmark::kMicrosecond);

#ifdef PIXMORA_HAVE_LIBJPEG

// libjpeg-turbo at its fastest use: one compressor reused, blue-green-red
// input taken straight from the bottom-up rows, output into a fixed buffer.
void EncodeWithTurbo(benchmark::State& state, J_DCT_METHOD method) {
    auto picture = PhotoLikePicture(1);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    JSAMPROW rows[128];
    for (int y = 0; y < 128; ++y)
        rows[y] = picture->Row(y);
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(kJpegOutputBlockSize));
    unsigned long size = 0;
    for (auto _ : state) {
        size = kJpegOutputBlockSize;
        jpeg_mem_dest(&cinfo, &buffer, &size);
        cinfo.image_width = 128;
        cinfo.image_height = 128;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 75, TRUE);
        for (int ci = 0; ci < 3; ++ci)
            cinfo.comp_info[ci].h_samp_factor = cinfo.comp_info[ci].v_samp_factor = 1;
        cinfo.dct_method = method;
        jpeg_start_compress(&cinfo, TRUE);
        jpeg_write_scanlines(&cinfo, rows, 128);
        jpeg_finish_compress(&cinfo);
        benchmark::DoNotOptimize(buffer);
        benchmark::ClobberMemory();
    }
    state.counters["bytes"] = static_cast<double>(size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
}

void BM_EncodeJpeg_LibjpegTurboFloat(benchmark::State& state) {
    EncodeWithTurbo(state, JDCT_FLOAT);
}
BENCHMARK(BM_EncodeJpeg_LibjpegTurboFloat)->Unit(benchmark::kMicrosecond);

// Its default and fastest integer DCT, for scale.
void BM_EncodeJpeg_LibjpegTurboIslow(benchmark::State& state) {
    EncodeWithTurbo(state, JDCT_ISLOW);
}
BENCHMARK(BM_EncodeJpeg_LibjpegTurboIslow)->Unit(benchmark::kMicrosecond);

#endif

// A full album saved again and again into one folder, so from the second
// run on an older set of 384 is replaced. Two albums take turns (the same
// eight pictures in shifted order), so every file changes every time: 384
// encodes, 384 files, and for Save All the temporary names, the renames and
// the older files moved aside and deleted. The peer is the first Save All of
// the program: encode, open "wb" over the old file, write, close, 384 times.
struct Album384 {
    std::vector<std::unique_ptr<FrameImage>> pictures;
    std::vector<const FrameImage*> list[2];
    std::string dir;
    Album384() {
        for (int i = 0; i < 8; ++i)
            pictures.push_back(PhotoLikePicture(static_cast<uint32_t>(i + 1)));
        for (int i = 0; i < 384; ++i) {
            list[0].push_back(pictures[i % 8].get());
            list[1].push_back(pictures[(i + 1) % 8].get());
        }
        char pattern[] = "/tmp/pixmora_bench_XXXXXX";
        if (mkdtemp(pattern)) dir = pattern;
    }
    ~Album384() {
        for (int i = 0; i < 384; ++i)
            std::remove(SaveAllFileName(dir, i).c_str());
        rmdir(dir.c_str());
    }
};

void SaveAll384(benchmark::State& state, bool alternate) {
    Album384 album;
    if (album.dir.empty()) return state.SkipWithError("no temporary folder");
    int turn = 0;
    for (auto _ : state) {
        SaveAllResult r = SaveAllPicturesTo(album.dir, album.list[turn].data(), 384);
        if (!r.ok()) state.SkipWithError(SaveAllMessage(r).c_str());
        if (alternate) turn ^= 1;
    }
}

void BM_SaveAll384(benchmark::State& state) {
    SaveAll384(state, true);
}
BENCHMARK(BM_SaveAll384)->Unit(benchmark::kMillisecond);

// The same album again: files that already hold their picture are kept.
void BM_SaveAll384_Unchanged(benchmark::State& state) {
    SaveAll384(state, false);
}
BENCHMARK(BM_SaveAll384_Unchanged)->Unit(benchmark::kMillisecond);

void BM_SaveAll384_OverwriteInPlace(benchmark::State& state) {
    Album384 album;
    if (album.dir.empty()) return state.SkipWithError("no temporary folder");
    std::vector<uint8_t> block(kJpegOutputBlockSize);
    int turn = 0;
    for (auto _ : state) {
        for (int i = 0; i < 384; ++i) {
            std::fill(block.begin(), block.end(), 0);
            size_t length = 0;
            EncodeJpeg(*album.list[turn][i], block.data(), block.size(), length);
            FILE* f = std::fopen(SaveAllFileName(album.dir, i).c_str(), "wb");
            if (!f) return state.SkipWithError("cannot create a file");
            std::fwrite(block.data(), 1, length, f);
            std::fclose(f);
        }
        turn ^= 1;
    }
}
BENCHMARK(BM_SaveAll384_OverwriteInPlace)->Unit(benchmark::kMillisecond);

} // namespace
