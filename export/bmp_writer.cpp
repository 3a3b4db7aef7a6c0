#include "export/bmp_writer.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr uint32_t kFileHeaderBytes = 14;

void PutFileHeader(uint8_t* to, uint32_t fileSize, uint32_t offBits) {
    BitmapFileHeader fh{};
    fh.bfType = 0x4D42; // "BM"
    fh.bfSize = fileSize;
    fh.bfOffBits = offBits;
    std::memcpy(to, &fh, sizeof fh);
}

// The whole file from its parts in order; a failed write or close removes
// what was written, so a file that exists was written completely.
struct Part {
    const uint8_t* bytes;
    size_t size;
};
int WriteWhole(const char* path, std::initializer_list<Part> parts) {
    if (!path) return 0;
    FILE* f = std::fopen(path, "wb");
    if (!f) return 0;
    bool written = true;
    for (const Part& p : parts)
        written = written && std::fwrite(p.bytes, 1, p.size, f) == p.size;
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return 1;
    // Only a regular file is ours to clean up; a device or pipe is left be.
    struct stat st;
    if (stat(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG) std::remove(path);
    return 0;
}

} // namespace

int WriteBmpFile(const char* path, const FrameImage& block) {
    BitmapInfoHeader src;
    std::memcpy(&src, block.bytes, sizeof src);
    const int64_t width = src.biWidth, height = src.biHeight;
    if (width <= 0 || height <= 0) return 0;
    const int64_t stride = (width * 24 + 31) / 32 * 4;
    const int64_t imageSize = stride * height;
    // The rows come from the block; a header that claims more than it holds
    // is not followed beyond the block's end.
    if (imageSize > kFrameImageSize - kFrameHeaderBytes) return 0;

    uint8_t headers[kFileHeaderBytes + 40];
    PutFileHeader(headers, static_cast<uint32_t>(kFileHeaderBytes + 40 + imageSize),
                  kFileHeaderBytes + 40);
    BitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = src.biWidth;
    h.biHeight = src.biHeight;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = 0;
    h.biSizeImage = static_cast<uint32_t>(imageSize);
    std::memcpy(headers + kFileHeaderBytes, &h, sizeof h);
    return WriteWhole(
        path, {{headers, sizeof headers}, {block.Pixels(), static_cast<size_t>(imageSize)}});
}

int WriteRasterBmp(const char* path, const LoadBuffers& lb) {
    const BitmapInfoHeader& h = lb.raster.header;
    if (!lb.decodeBuffer || h.biWidth <= 0 || h.biHeight <= 0 || lb.raster.stride <= 0) return 0;
    const size_t packed = 40 + 4 * static_cast<size_t>(h.biClrUsed) +
                          static_cast<size_t>(lb.raster.stride) * static_cast<size_t>(h.biHeight);
    if (packed > kDecodeBufferSize) return 0;
    // The headers in front of the palette and rows, written from where they
    // are: a copy of a big raster would be as many new pages to write.
    uint8_t headers[kFileHeaderBytes + 40];
    PutFileHeader(headers, static_cast<uint32_t>(kFileHeaderBytes + packed),
                  kFileHeaderBytes + 40 + 4 * h.biClrUsed);
    // The descriptor's header is the authoritative one.
    std::memcpy(headers + kFileHeaderBytes, &h, sizeof h);
    return WriteWhole(path, {{headers, sizeof headers}, {lb.decodeBuffer + 40, packed - 40}});
}
