#include "codecs/load_buffers.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/decode_failure.h"

#include <sys/stat.h>

#ifdef __linux__
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

OwnedLoadBuffers::OwnedLoadBuffers() {
    buffers.fileBuffer = static_cast<uint8_t*>(std::calloc(kFileBufferSize, 1));
    buffers.decodeBuffer = static_cast<uint8_t*>(std::calloc(kDecodeBufferSize, 1));
}

OwnedLoadBuffers::~OwnedLoadBuffers() {
    ReleaseMappedFile(buffers);
    std::free(buffers.fileBuffer);
    std::free(buffers.decodeBuffer);
}

void PrefaultForWriting(void* p, size_t n) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    constexpr uintptr_t kPage = 4096;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t first = (start + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (start + n) & ~(kPage - 1);
    if (p && end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)n;
#endif
}

void ReleaseMappedFile(LoadBuffers& lb) {
    if (!lb.mapped.base) return;
#ifdef __linux__
    munmap(lb.mapped.base, lb.mapped.length);
#endif
    lb.fileBuffer = lb.mapped.block;
    lb.mapped = MappedFile{};
}

namespace {

#ifdef __linux__
// LoadWholeFile by mapping (LoadBuffers::mapFiles): 1 mapped, 0 failed with
// the reason given, -1 not mapped (not a regular file, empty, or refused by
// the system): then the file is read as usual.
int MapWholeFile(LoadBuffers& lb, const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return DecodeFail("cannot open the file");
    struct stat st;
    int result = -1;
    if (fstat(fd, &st) != 0) {
        result = DecodeFail("cannot read the file");
    } else if (S_ISREG(st.st_mode) && st.st_size > kFileBufferSize - kFilePadding) {
        result = DecodeFail("file too large");
    } else if (S_ISREG(st.st_mode) && st.st_size > 0) {
        // Anonymous pages behind the file's for the padding; the file's last
        // page is zero past its end, and writes only ever change this copy.
        const size_t size = static_cast<size_t>(st.st_size);
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t length = (size + kFilePadding + page - 1) / page * page;
        void* base =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base != MAP_FAILED &&
            mmap(base, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd,
                 0) == MAP_FAILED) {
            munmap(base, length);
            base = MAP_FAILED;
        }
        if (base != MAP_FAILED) {
            ReleaseMappedFile(lb);
            lb.mapped = MappedFile{base, length, lb.fileBuffer};
            lb.fileBuffer = static_cast<uint8_t*>(base);
            lb.dataLength = static_cast<int32_t>(size);
            lb.readPosition = 0;
            result = 1;
        }
    }
    close(fd);
    return result;
}
#endif

} // namespace

bool LoadWholeFile(LoadBuffers& lb, const char* path) {
    if (!path || !lb.fileBuffer) return DecodeFail("no file name");
    // Asked before opening: a folder opens on some systems and then seems
    // endless, and opening a pipe waits for a writer.
    struct stat st;
    if (stat(path, &st) == 0) {
        if (S_ISDIR(st.st_mode)) return DecodeFailAbout(path, "is a folder");
        if (!S_ISREG(st.st_mode)) return DecodeFailAbout(path, "is a device or pipe, not a file");
    }
#ifdef __linux__
    if (lb.mapFiles) {
        const int mapped = MapWholeFile(lb, path);
        if (mapped >= 0) return mapped == 1;
    }
#endif
    FILE* f = std::fopen(path, "rb");
    if (!f) return DecodeFail("cannot open the file");
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return DecodeFail("cannot read the file");
    }
    if (size > kFileBufferSize - kFilePadding) {
        std::fclose(f);
        return DecodeFail("file too large");
    }
    ReleaseMappedFile(lb);
    PrefaultForWriting(lb.fileBuffer, static_cast<size_t>(size) + kFilePadding);
    size_t got = std::fread(lb.fileBuffer, 1, static_cast<size_t>(size), f);
    std::fclose(f);
    lb.dataLength = static_cast<int32_t>(got);
    lb.readPosition = 0;
    return true;
}

bool LoadMemory(LoadBuffers& lb, const uint8_t* data, size_t size) {
    if (!lb.fileBuffer || (size && !data)) return DecodeFail("no file buffer");
    if (size > static_cast<size_t>(kFileBufferSize - kFilePadding))
        return DecodeFail("file too large");
    ReleaseMappedFile(lb);
    if (size) std::memcpy(lb.fileBuffer, data, size);
    lb.dataLength = static_cast<int32_t>(size);
    lb.readPosition = 0;
    return true;
}

int32_t ReadBytes(LoadBuffers& lb, void* destination, int32_t n) {
    // A negative request would walk the position backwards, below 0, and the
    // next read would copy from in front of the buffer.
    if (n < 0) n = 0;
    int32_t k = n;
    int32_t left = lb.dataLength - lb.readPosition;
    if (left < n) k = left;
    if (k > 0) std::memcpy(destination, lb.fileBuffer + lb.readPosition, static_cast<size_t>(k));
    lb.readPosition += k;
    return k;
}

int32_t SeekInput(LoadBuffers& lb, int32_t offset, int origin) {
    int64_t target = offset;
    if (origin == 1) target += lb.readPosition;
    if (target > lb.dataLength || target < 0) return 0;
    lb.readPosition = static_cast<int32_t>(target);
    return lb.readPosition;
}

int ReadByte(LoadBuffers& lb) {
    if (lb.readPosition < 0 || lb.readPosition >= lb.dataLength) return 0;
    return lb.fileBuffer[lb.readPosition++];
}

namespace {
int NormaliseDepth(int bits) {
    if (bits <= 1) return 1;
    if (bits <= 4) return 4;
    if (bits <= 8) return 8;
    return 24;
}
} // namespace

uint8_t* SetUpRaster(LoadBuffers& lb, int32_t width, int32_t height, int bits) {
    if (width <= 0 || height <= 0) return nullptr; // negative sizes are as unusable as 0
    if (!lb.decodeBuffer) return nullptr;
    int depth = NormaliseDepth(bits);
    // width * height reaches 2^62 for the largest sizes a header can state;
    // times 24 that would overflow 64 bits, so rule those out first (every
    // depth needs at least one bit per pixel).
    int64_t pixels = static_cast<int64_t>(width) * height;
    if (pixels > kMaxRasterPixelBytes * 8) return nullptr;
    int64_t pixelBytes = pixels * depth / 8;
    if (pixelBytes > kMaxRasterPixelBytes) return nullptr;
    uint32_t count = depth == 24 ? 0u : (1u << depth);
    int64_t stride = (static_cast<int64_t>(width) * depth + 31) / 32 * 4;
    // Header, palette and row padding come on top of the pixel bytes.
    int64_t total = 40 + 4 * static_cast<int64_t>(count) + stride * height;
    if (total > static_cast<int64_t>(kDecodeBufferSize)) return nullptr;

    BitmapInfoHeader& h = lb.raster.header;
    h = BitmapInfoHeader{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<uint16_t>(depth);
    h.biCompression = 0;
    h.biClrUsed = count;
    h.biClrImportant = 0;
    lb.raster.stride = static_cast<int32_t>(stride);
    h.biSizeImage = static_cast<uint32_t>(stride * height);
    if (count) std::memset(lb.decodeBuffer + 40, 0, 4 * count);
    std::memcpy(lb.decodeBuffer, &h, sizeof h);
    lb.raster.pixelArea = RasterRow(lb, 0);
    lb.raster.packedColumn = nullptr;
    lb.raster.packedRow = nullptr;
    ++lb.rasterSerial;
    return lb.decodeBuffer;
}

uint8_t* RasterRow(LoadBuffers& lb, int32_t i) {
    const BitmapInfoHeader& h = lb.raster.header;
    if (i < 0 || i >= h.biHeight || !lb.decodeBuffer) return nullptr;
    uint8_t* start = lb.decodeBuffer + h.biSize + 4 * h.biClrUsed;
    return start + static_cast<size_t>(i) * static_cast<size_t>(lb.raster.stride);
}

uint8_t* RasterPalette(LoadBuffers& lb) {
    return lb.raster.header.biClrUsed ? lb.decodeBuffer + 40 : nullptr;
}

int32_t RasterWidth(const LoadBuffers& lb) {
    return lb.raster.header.biWidth;
}
int32_t RasterHeight(const LoadBuffers& lb) {
    return lb.raster.header.biHeight;
}
int RasterBits(const LoadBuffers& lb) {
    return lb.raster.header.biBitCount;
}
uint32_t RasterPaletteCount(const LoadBuffers& lb) {
    return lb.raster.header.biClrUsed;
}

void CursorToTop(LoadBuffers& lb) {
    RowCursor& c = lb.raster.cursor;
    int32_t h = lb.raster.header.biHeight;
    c.column = 0;
    c.row = h - 1;
    uint8_t* base = RasterRow(lb, 0);
    c.address = base ? base + static_cast<size_t>(h - 1) * lb.raster.stride : nullptr;
}

void CursorToRow(LoadBuffers& lb, int32_t r) {
    if (r < 0 || r >= lb.raster.header.biHeight) return;
    RowCursor& c = lb.raster.cursor;
    c.row = r;
    c.address = RasterRow(lb, r);
}

bool CursorInside(const LoadBuffers& lb) {
    const RowCursor& c = lb.raster.cursor;
    return c.column >= 0 && c.column < lb.raster.header.biWidth && c.row >= 0 &&
           c.row < lb.raster.header.biHeight;
}

void CursorWriteRow(LoadBuffers& lb, const uint8_t* bytes, int32_t n) {
    if (n < 0 || n > lb.raster.stride) n = lb.raster.stride;
    RowCursor& c = lb.raster.cursor;
    // Only a cursor on a real row writes: the address of a row that has
    // stepped off the raster is stale, and so is one left over from an
    // earlier raster of another layout (set-up does not move the cursor).
    if (!c.address || !bytes || n <= 0 || !CursorInside(lb)) return;
    uint8_t* base = RasterRow(lb, 0);
    size_t area = static_cast<size_t>(lb.raster.stride) * lb.raster.header.biHeight;
    if (!base || c.address < base || c.address + n > base + area) return;
    std::memcpy(c.address, bytes, n);
}

int CursorStepDown(LoadBuffers& lb) {
    RowCursor& c = lb.raster.cursor;
    if (c.row > INT32_MIN) c.row -= 1;
    if (c.row >= 0) {
        if (c.address) c.address -= lb.raster.stride;
        return 1;
    }
    return 0;
}
