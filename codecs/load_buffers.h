// The shared load buffers: the whole input file (FileBuffer), the decoded
// picture as a packed bottom-up bitmap (DecodeBuffer, the SourceRaster), the
// raster descriptor with its row cursor, and the two loader flags.
//
// One LoadBuffers instance serves every decoder. Its big blocks come from the
// owner (GlobalAlloc in the program, the heap in the CLI and tests).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "picture/frame_image.h"
#include "picture/limits.h"

// The JPEG decoder pads the data it reads with this many bytes after the
// file, so a file may use at most kFileBufferSize - kFilePadding bytes.
constexpr int32_t kFilePadding = 128;
// The DecodeBuffer also holds the 40-byte header and up to 1,024 bytes of
// palette in front of the pixels; SetUpRaster tests the whole total against
// the buffer's capacity, so row padding can never overrun it either.
constexpr size_t kDecodeBufferSize = kMaxRasterPixelBytes + 40 + 1024 + 4096;

struct RowCursor {
    int32_t row = 0;
    int32_t column = 0;         // always 0
    uint8_t* address = nullptr; // PixelBase for the fitter
};

struct RasterDescriptor {
    BitmapInfoHeader header{};
    int32_t stride = 0;
    uint8_t* pixelArea = nullptr; // RasterRow(0)
    RowCursor cursor;
    // A sampled decode asked to pack (SampleMasks::packed) keeps only the
    // samples its masks named, side by side from pixelArea on: then pixel
    // (x, y) lies packedRow[y] + packedColumn[x] bytes after RasterRow(0)
    // (memory row y), and only SampleSource finds it. A sample not named
    // reads as some named one. Both null: the raster is whole, as its
    // header and stride say. SetUpRaster makes every new raster whole.
    const int32_t* packedColumn = nullptr;
    const int32_t* packedRow = nullptr;
};

struct LoadBuffers;

// Told by a decoder that raster memory rows [first, first + count) are
// final, so a reader can take them while they are still in the cache.
// Optional: a decoder that never calls it leaves the reader to read the
// raster afterwards.
class RasterRowWatcher {
  public:
    virtual void RowsReady(const LoadBuffers& lb, int32_t first, int32_t count) = 0;

  protected:
    ~RasterRowWatcher() = default;
};

// A file LoadWholeFile mapped instead of reading it (LoadBuffers::mapFiles).
struct MappedFile {
    void* base = nullptr; // null: no file is mapped
    size_t length = 0;
    uint8_t* block = nullptr; // the owner's FileBuffer, put back when the mapping goes
};

struct LoadBuffers {
    uint8_t* fileBuffer = nullptr; // kFileBufferSize bytes (see mapFiles)
    int32_t readPosition = 0;
    int32_t dataLength = 0;
    uint8_t* decodeBuffer = nullptr; // kDecodeBufferSize bytes
    RasterDescriptor raster;
    // Counts the rasters SetUpRaster has described: a decode that leaves it
    // unchanged produced no raster of its own.
    uint32_t rasterSerial = 0;
    std::atomic<int> LoaderStopFlag{0};
    std::atomic<int> LoaderBusyFlag{0};
    RasterRowWatcher* rowWatcher = nullptr; // see RasterRowWatcher
    // Set by an owner that loads a file or two per process (the CLI): on
    // Linux LoadWholeFile then maps a regular file privately instead of
    // copying it into the FileBuffer, and fileBuffer points at the mapping
    // (the file's bytes, then room for kFilePadding bytes, all writable)
    // until the next load or ReleaseMappedFile. A fresh process pays for
    // every new page it writes; the file's pages are already there. A file
    // cut short by someone else while it is mapped raises SIGBUS when the
    // lost part is read: an owner that sets this handles that signal.
    bool mapFiles = false;
    MappedFile mapped;
};

// Heap-owned buffers for the CLI, tests, fuzzers and benchmarks
// (zero-filled, released by the destructor).
class OwnedLoadBuffers {
  public:
    OwnedLoadBuffers();
    ~OwnedLoadBuffers();
    OwnedLoadBuffers(const OwnedLoadBuffers&) = delete;
    OwnedLoadBuffers& operator=(const OwnedLoadBuffers&) = delete;
    bool ok() const { return buffers.fileBuffer && buffers.decodeBuffer; }
    LoadBuffers buffers;
};

// Reads the whole file into the FileBuffer and sets the read position to 0.
// Fails, changing nothing, for a null path, a folder or anything else that is
// not a plain file, a file that will not open, or a file too large for the
// buffer (less the padding). A short read is noticed:
// the data length is what was actually read.
bool LoadWholeFile(LoadBuffers& lb, const char* path);
// Unmaps a file LoadWholeFile mapped and puts the owner's FileBuffer back
// (nothing when no file is mapped). Loads and ~OwnedLoadBuffers call it.
void ReleaseMappedFile(LoadBuffers& lb);
// Puts `size` bytes of memory in the FileBuffer as if read from a file
// (fuzzers and benchmarks). Same size limit as LoadWholeFile.
bool LoadMemory(LoadBuffers& lb, const uint8_t* data, size_t size);

// Makes the pages of [p, p + n) present and writable in one step where the
// system can (Linux), instead of a page fault per 4 KB on first use; in a
// virtual machine each fault costs microseconds, and a 12-megapixel photo's
// buffers have thousands of pages. Only for memory about to be written all
// through; elsewhere, and when refused, it does nothing.
void PrefaultForWriting(void* p, size_t n);

int32_t ReadBytes(LoadBuffers& lb, void* destination, int32_t n);
int32_t SeekInput(LoadBuffers& lb, int32_t offset, int origin);
int ReadByte(LoadBuffers& lb);

// Describes a new, empty SourceRaster; returns the DecodeBuffer or nullptr.
uint8_t* SetUpRaster(LoadBuffers& lb, int32_t width, int32_t height, int bits);
uint8_t* RasterRow(LoadBuffers& lb, int32_t i);
uint8_t* RasterPalette(LoadBuffers& lb);

int32_t RasterWidth(const LoadBuffers& lb);
int32_t RasterHeight(const LoadBuffers& lb);
int RasterBits(const LoadBuffers& lb);
uint32_t RasterPaletteCount(const LoadBuffers& lb);

void CursorToTop(LoadBuffers& lb);
void CursorToRow(LoadBuffers& lb, int32_t r);
bool CursorInside(const LoadBuffers& lb);
void CursorWriteRow(LoadBuffers& lb, const uint8_t* bytes, int32_t n);
int CursorStepDown(LoadBuffers& lb);

inline bool StopRequested(const LoadBuffers& lb) {
    return lb.LoaderStopFlag.load(std::memory_order_relaxed) != 0;
}
