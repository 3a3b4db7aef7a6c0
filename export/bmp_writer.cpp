#include "export/bmp_writer.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kFileHeaderBytes = 14;

void PutFileHeader(uint8_t* to, uint32_t fileSize, uint32_t offBits) {
    BitmapFileHeader fh{};
    fh.bfType = 0x4D42; // "BM"
    fh.bfSize = fileSize;
    fh.bfOffBits = offBits;
    std::memcpy(to, &fh, sizeof fh);
}

// One write of the whole file; a failed write or close removes what was
// written, so a file that exists was written completely.
int WriteWhole(const char* path, const std::vector<uint8_t>& bytes) {
    if (!path) return 0;
    FILE* f = std::fopen(path, "wb");
    if (!f) return 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (written && closed) return 1;
    // Only a regular file is ours to clean up; a device or pipe is left be.
    struct stat st;
    if (stat(path, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG) std::remove(path);
    return 0;
}

} // namespace

bool BmpFileBytes(const FrameImage& block, std::vector<uint8_t>& file) {
    file.clear();
    BitmapInfoHeader src;
    std::memcpy(&src, block.bytes, sizeof src);
    const int64_t width = src.biWidth, height = src.biHeight;
    if (width <= 0 || height <= 0) return false;
    const int64_t stride = (width * 24 + 31) / 32 * 4;
    const int64_t imageSize = stride * height;
    // The rows come from the block; a header that claims more than it holds
    // is not followed beyond the block's end.
    if (imageSize > kFrameImageSize - kFrameHeaderBytes) return false;

    file.resize(kFileHeaderBytes + 40 + static_cast<size_t>(imageSize));
    PutFileHeader(file.data(), static_cast<uint32_t>(file.size()), kFileHeaderBytes + 40);
    BitmapInfoHeader h{};
    h.biSize = 40;
    h.biWidth = src.biWidth;
    h.biHeight = src.biHeight;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = 0;
    h.biSizeImage = static_cast<uint32_t>(imageSize);
    std::memcpy(file.data() + kFileHeaderBytes, &h, sizeof h);
    std::memcpy(file.data() + kFileHeaderBytes + 40, block.Pixels(),
                static_cast<size_t>(imageSize));
    return true;
}

bool RasterBmpBytes(const LoadBuffers& lb, std::vector<uint8_t>& file) {
    file.clear();
    const BitmapInfoHeader& h = lb.raster.header;
    if (!lb.decodeBuffer || h.biWidth <= 0 || h.biHeight <= 0 || lb.raster.stride <= 0)
        return false;
    const size_t packed = 40 + 4 * static_cast<size_t>(h.biClrUsed) +
                          static_cast<size_t>(lb.raster.stride) * static_cast<size_t>(h.biHeight);
    if (packed > kDecodeBufferSize) return false;
    file.resize(kFileHeaderBytes + packed);
    PutFileHeader(file.data(), static_cast<uint32_t>(file.size()),
                  kFileHeaderBytes + 40 + 4 * h.biClrUsed);
    // The descriptor's header is the authoritative one.
    std::memcpy(file.data() + kFileHeaderBytes, &h, sizeof h);
    std::memcpy(file.data() + kFileHeaderBytes + 40, lb.decodeBuffer + 40, packed - 40);
    return true;
}

int WriteBmpFile(const char* path, const FrameImage& block) {
    std::vector<uint8_t> file;
    return BmpFileBytes(block, file) ? WriteWhole(path, file) : 0;
}

int WriteRasterBmp(const char* path, const LoadBuffers& lb) {
    std::vector<uint8_t> file;
    return RasterBmpBytes(lb, file) ? WriteWhole(path, file) : 0;
}
