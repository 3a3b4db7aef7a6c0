#include "export/bmp_writer.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace {

void PutFileHeader(uint8_t* to, uint32_t fileSize, uint32_t offBits) {
    BitmapFileHeader fh{};
    fh.bfType = 0x4D42; // "BM"
    fh.bfSize = fileSize;
    fh.bfOffBits = offBits;
    std::memcpy(to, &fh, sizeof fh);
}

// The whole file in one go; a failed write or close removes what was
// written, so a file that exists was written completely.
int WriteWhole(const char* path, const BmpParts& parts) {
    if (!path) return 0;
    FILE* f = std::fopen(path, "wb");
    if (!f) return 0;
    const bool written =
        std::fwrite(parts.headers, 1, sizeof parts.headers, f) == sizeof parts.headers &&
        std::fwrite(parts.rest, 1, parts.restSize, f) == parts.restSize;
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return 1;
    // Only a regular file is ours to clean up; a device or pipe is left be.
    struct stat st;
    if (stat(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG) std::remove(path);
    return 0;
}

} // namespace

bool BmpFileParts(const FrameImage& block, BmpParts& parts) {
    parts = BmpParts{};
    BitmapInfoHeader src;
    std::memcpy(&src, block.bytes, sizeof src);
    const int64_t width = src.biWidth, height = src.biHeight;
    if (width <= 0 || height <= 0) return false;
    const int64_t stride = (width * 24 + 31) / 32 * 4;
    const int64_t imageSize = stride * height;
    // The rows come from the block; a header that claims more than it holds
    // is not followed beyond the block's end.
    if (imageSize > kFrameImageSize - kFrameHeaderBytes) return false;

    PutFileHeader(parts.headers, static_cast<uint32_t>(sizeof parts.headers + imageSize),
                  sizeof parts.headers);
    BitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = src.biWidth;
    h.biHeight = src.biHeight;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = 0;
    h.biSizeImage = static_cast<uint32_t>(imageSize);
    std::memcpy(parts.headers + kBmpFileHeaderBytes, &h, sizeof h);
    parts.rest = block.Pixels();
    parts.restSize = static_cast<size_t>(imageSize);
    return true;
}

bool RasterBmpParts(const LoadBuffers& lb, BmpParts& parts) {
    parts = BmpParts{};
    const BitmapInfoHeader& h = lb.raster.header;
    if (!lb.decodeBuffer || h.biWidth <= 0 || h.biHeight <= 0 || lb.raster.stride <= 0)
        return false;
    const size_t packed = 40 + 4 * static_cast<size_t>(h.biClrUsed) +
                          static_cast<size_t>(lb.raster.stride) * static_cast<size_t>(h.biHeight);
    if (packed > kDecodeBufferSize) return false;
    PutFileHeader(parts.headers, static_cast<uint32_t>(kBmpFileHeaderBytes + packed),
                  kBmpFileHeaderBytes + 40 + 4 * h.biClrUsed);
    // The descriptor's header is the authoritative one.
    std::memcpy(parts.headers + kBmpFileHeaderBytes, &h, sizeof h);
    // The palette and rows where they are: a copy of a big raster would be
    // as many new pages to write.
    parts.rest = lb.decodeBuffer + 40;
    parts.restSize = packed - 40;
    return true;
}

int WriteBmpFile(const char* path, const FrameImage& block) {
    BmpParts parts;
    return BmpFileParts(block, parts) ? WriteWhole(path, parts) : 0;
}

int WriteRasterBmp(const char* path, const LoadBuffers& lb) {
    BmpParts parts;
    return RasterBmpParts(lb, parts) ? WriteWhole(path, parts) : 0;
}
