// The ~12-megapixel JPEG photos of the decoder and load benchmarks, which
// bench/make_bench_photos.sh writes to build/bench-photos/, and the load
// buffers the benchmarks decode into.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/load_buffers.h"

namespace bench {

// The first four are the photos every JPEG benchmark has always used; the
// others are the same mosaic at other qualities, a smooth, low-detail
// picture, and the first with a restart interval of one MCU row. Indexes
// are the benchmarks' arguments.
inline const char* const kPhotos[] = {
    "photo-420.jpg",     "photo-444.jpg",     "photo-gray.jpg",    "photo-420-prog.jpg",
    "photo-420-q75.jpg", "photo-444-q75.jpg", "photo-420-q95.jpg", "photo-444-q95.jpg",
    "smooth-420.jpg",    "smooth-444.jpg",    "photo-420-rst.jpg"};
constexpr int kPhotoCount = static_cast<int>(sizeof kPhotos / sizeof kPhotos[0]);

// The photo's bytes, empty when it has not been made.
inline std::vector<uint8_t> ReadPhoto(const char* name) {
    std::string path = std::string(PIXMORA_SOURCE_DIR) + "/build/bench-photos/" + name;
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (std::fread(out.data(), 1, out.size(), f) != out.size()) out.clear();
    std::fclose(f);
    return out;
}

// One set of load buffers for every benchmark of the process.
inline OwnedLoadBuffers& Buffers() {
    static OwnedLoadBuffers* owned = new OwnedLoadBuffers;
    return *owned;
}

constexpr const char* kNoPhoto = "no photo: run bench/make_bench_photos.sh";

} // namespace bench
