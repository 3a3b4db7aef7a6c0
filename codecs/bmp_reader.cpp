// Windows bitmap reader: core (12-byte), info (40-byte), OS/2 (64-byte) and
// plain longer headers; 1/4/8-bit palette pictures raw or run-length
// encoded, 16-bit (5-5-5 or bit fields), 24-bit, 32-bit; both row orders.
//
// The picture lands in the SourceRaster at its own size. Palette pictures
// keep their depth and palette, 16- and 32-bit pictures become 24-bit.
//
// Strides, worked through for a 127 x 64 picture:
//   file and raster at 8 bits:  (127 * 8 + 31) / 32 * 4 = 128 bytes a row
//   raster at 24 bits:          (127 * 24 + 31) / 32 * 4 = 384 bytes a row
//   16-bit file rows:           (127 + 1) / 2 * 4 = 256 bytes a row
// The 16-bit rows are read into the front of the 24-bit pixel area and
// widened in place from the last pixel backwards, so a wider destination
// pixel never lands on a source pixel that is still to be converted.
#include "codecs/bmp_reader.h"

#include <algorithm>
#include <cstring>

#include "codecs/decode_failure.h"
#include "codecs/picture_decoders.h"

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;

constexpr int32_t kFileHeaderBytes = 14;
constexpr int32_t kInfoHeaderBytes = 40;
constexpr uint32_t kCoreHeaderBytes = 12;
constexpr uint32_t kOs2HeaderBytes = 64;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// What the headers say, after the layout rules have been applied.
struct BmpLayout {
    uint32_t offBits = 0; // 0: pixels follow whatever was read before them
    bool core = false;
    int32_t width = 0;
    int64_t storedHeight = 0; // as stored: negative for a top-down picture
    uint16_t bitCount = 0;
    uint32_t compression = kBiRgb;
};

// Positions the input at `target` when it lies inside the data. A target
// beyond the data is refused and the position stays where it was.
void SeekTo(LoadBuffers& lb, int64_t target) {
    if (target >= 0 && target <= lb.dataLength) SeekInput(lb, static_cast<int32_t>(target), 0);
}

void ReadFileHeader(LoadBuffers& lb, BmpLayout& layout) {
    uint8_t fh[kFileHeaderBytes];
    ReadBytes(lb, fh, kFileHeaderBytes);
    if (fh[0] == 'B' && fh[1] == 'M') {
        layout.offBits = Le32(fh + 10);
    } else {
        // A bare bitmap: the info header starts the data.
        SeekInput(lb, 0, 0);
        layout.offBits = 0;
    }
}

// Longer headers (v4, v5, ...) are only trusted in their plainest form; the
// stored image size must match the one computed from the stored height, so
// a top-down picture never qualifies.
bool PlainLongHeader(const BitmapInfoHeader& h) {
    if (h.biPlanes != 1 || h.biCompression != kBiRgb || h.biClrUsed != 0) return false;
    const int64_t rowUnits = (static_cast<int64_t>(h.biBitCount) * h.biWidth + 31) / 32;
    const int64_t height = h.biHeight;
    const uint64_t stored = h.biSizeImage;
    // rowUnits * height * 4 reaches 2^75 for the sizes a header can state, so
    // compare without forming products that cannot match a 32-bit field: a
    // negative product never matches, and neither does one above 2^32.
    if (rowUnits == 0 || height == 0) return stored == 0;
    if ((rowUnits < 0) != (height < 0)) return false;
    const uint64_t a = static_cast<uint64_t>(rowUnits < 0 ? -rowUnits : rowUnits);
    const uint64_t b = static_cast<uint64_t>(height < 0 ? -height : height);
    if (a > (uint64_t{1} << 32) / b) return false;
    return a * b * 4 == stored;
}

int ReadInfoHeader(LoadBuffers& lb, BmpLayout& layout) {
    const int32_t start = lb.readPosition;
    uint8_t raw[kInfoHeaderBytes];
    if (ReadBytes(lb, raw, kInfoHeaderBytes) < kInfoHeaderBytes)
        return DecodeFail("bitmap header cut short");
    BitmapInfoHeader h;
    std::memcpy(&h, raw, sizeof h);

    if (h.biSize == kCoreHeaderBytes) {
        layout.core = true;
        layout.width = Le16(raw + 4);
        layout.storedHeight = Le16(raw + 6);
        layout.bitCount = Le16(raw + 10);
        layout.compression = kBiRgb;
        SeekInput(lb, start + static_cast<int32_t>(kCoreHeaderBytes), 0);
        return 1;
    }
    if (h.biSize == kOs2HeaderBytes) {
        SeekTo(lb, static_cast<int64_t>(start) + kOs2HeaderBytes);
    } else if (h.biSize > static_cast<uint32_t>(kInfoHeaderBytes)) {
        if (!PlainLongHeader(h)) return DecodeFail("unsupported bitmap header");
        SeekTo(lb, static_cast<int64_t>(start) + h.biSize);
    } else if (h.biSize != static_cast<uint32_t>(kInfoHeaderBytes)) {
        return DecodeFail("unsupported bitmap header");
    }
    layout.width = h.biWidth;
    layout.storedHeight = h.biHeight;
    layout.bitCount = h.biBitCount;
    layout.compression = h.biCompression;
    return 1;
}

// Palettes are read at the raster's size, whatever the header's colour count
// says; the fourth byte of every entry is cleared.
void ReadPalette(LoadBuffers& lb, bool core, int bitCount) {
    uint32_t count = RasterPaletteCount(lb);
    uint8_t* pal = RasterPalette(lb);
    if (!count || !pal) return;
    if (core) {
        // A core file holds 2^bits three-byte entries (4 for a 2-bit file,
        // whose raster has 16): the entries it does not have stay zero.
        std::memset(pal, 0, 4 * static_cast<size_t>(count));
        if (bitCount >= 1 && bitCount < 8 && (1u << bitCount) < count) count = 1u << bitCount;
        // Three-byte entries, widened in place from the last one down, so no
        // entry is overwritten before it has been moved.
        ReadBytes(lb, pal, static_cast<int32_t>(3 * count));
        for (uint32_t i = count; i-- > 0;) {
            uint8_t b = pal[3 * i], g = pal[3 * i + 1], r = pal[3 * i + 2];
            pal[4 * i] = b;
            pal[4 * i + 1] = g;
            pal[4 * i + 2] = r;
            pal[4 * i + 3] = 0;
        }
        return;
    }
    ReadBytes(lb, pal, static_cast<int32_t>(4 * count));
    for (uint32_t i = 0; i < count; ++i)
        pal[4 * i + 3] = 0;
}

// Rows as stored. Only the part the file does not reach needs clearing: the
// rest is overwritten by the copy anyway (for big files this saves a pass
// over tens of megabytes).
// Returns the bytes the data held (the rest is cleared).
int64_t ReadRawPixels(LoadBuffers& lb, uint8_t* pixels, int64_t area) {
    int32_t got = ReadBytes(lb, pixels, static_cast<int32_t>(area));
    if (got < 0) got = 0;
    if (got < area) std::memset(pixels + got, 0, static_cast<size_t>(area - got));
    return got;
}

// Whether `got` bytes of rows `stride` apart hold all `height` rows of
// `rowBytes` pixel bytes (the last row's padding may be missing).
bool RowsWhole(int64_t got, int64_t stride, int64_t height, int64_t rowBytes) {
    return got >= stride * (height - 1) + rowBytes;
}

// --- Run-length decoding -------------------------------------------------

class RleWriter {
  public:
    RleWriter(uint8_t* pixels, int32_t stride, int32_t height)
        : pixels_(pixels), stride_(stride), height_(height),
          area_(static_cast<int64_t>(stride) * height) {}

    // Byte x of row y; the byte may lie in a following row when x is past
    // the stride (rows are contiguous), but never outside the pixel area.
    void PutByte(int64_t x, int64_t y, uint8_t v) {
        if (y >= height_) return;
        int64_t at = y * stride_ + x;
        if (at < area_) pixels_[at] = v;
    }
    // Pixel x of row y at four bits: the high nibble for even x.
    void PutNibble(int64_t x, int64_t y, uint8_t v) {
        if (y >= height_) return;
        int64_t at = y * stride_ + x / 2;
        if (at >= area_) return;
        uint8_t& b = pixels_[at];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (v & 0x0F))
                    : static_cast<uint8_t>((b & 0x0F) | (v << 4));
    }
    int32_t stride() const { return stride_; }
    int32_t height() const { return height_; }

  private:
    uint8_t* pixels_;
    int32_t stride_;
    int32_t height_;
    int64_t area_;
};

// An encoded run. At one byte per pixel a run that would pass the row's
// stride ends the whole decoding; at four bits it runs on into the next row.
// Returns false when decoding ends.
bool EncodedRun(RleWriter& out, bool nibbles, int n, uint8_t v, int64_t& x, int64_t y) {
    for (int i = 0; i < n; ++i) {
        if (nibbles) {
            out.PutNibble(x, y, (i & 1) ? (v & 0x0F) : (v >> 4));
        } else {
            if (x >= out.stride()) return false;
            out.PutByte(x, y, v);
        }
        ++x;
    }
    return true;
}

// An absolute run of m pixels, padded in the file to a whole 16-bit word.
void AbsoluteRun(LoadBuffers& lb, RleWriter& out, bool nibbles, int m, int64_t& x, int64_t y) {
    uint8_t data[256];
    int bytes = nibbles ? (m + 1) / 2 : m;
    int got = ReadBytes(lb, data, bytes);
    for (int i = 0; i < m; ++i) {
        if (nibbles) {
            if (i / 2 >= got) break;
            uint8_t b = data[i / 2];
            out.PutNibble(x + i, y, (i & 1) ? (b & 0x0F) : (b >> 4));
        } else {
            if (i >= got) break;
            out.PutByte(x + i, y, data[i]);
        }
    }
    if (bytes & 1) {
        uint8_t pad;
        ReadBytes(lb, &pad, 1);
    }
    x += m;
}

// Records until end of bitmap, end of data, a raised stop flag, or a move
// past the last row. The pixel area has been cleared, so whatever the
// stream skips stays palette index 0. False when the data ended before the
// last of the `width` pixels of the last row (a missing end of bitmap alone
// loses nothing).
bool DecodeRle(LoadBuffers& lb, RleWriter& out, bool nibbles, int32_t width) {
    // 64 bits: a long stream of deltas can push x far beyond 2^31.
    int64_t x = 0, y = 0;
    auto reached = [&] { return y > out.height() - 1 || (y == out.height() - 1 && x >= width); };
    for (;;) {
        if (StopRequested(lb)) return true;
        uint8_t rec[2];
        if (ReadBytes(lb, rec, 2) < 2) return reached();
        if (rec[0] > 0) {
            if (!EncodedRun(out, nibbles, rec[0], rec[1], x, y)) return true;
            continue;
        }
        switch (rec[1]) {
        case 0: // end of line
            x = 0;
            if (++y >= out.height()) return true;
            break;
        case 1: // end of bitmap
            return true;
        case 2: { // delta
            uint8_t d[2];
            if (ReadBytes(lb, d, 2) < 2) return reached();
            x += d[0];
            y += d[1];
            if (y >= out.height()) return true;
            break;
        }
        default: AbsoluteRun(lb, out, nibbles, rec[1], x, y); break;
        }
    }
}

// --- 16- and 32-bit conversions -----------------------------------------

int SetBits16(uint32_t mask) {
    int n = 0;
    for (uint32_t m = mask & 0xFFFF; m; m &= m - 1)
        ++n;
    return n;
}

// Shifts that the mask sizes can make negative or wider than the value:
// a negative right shift moves left, anything from 32 on leaves nothing.
uint32_t ShiftRight(uint32_t v, int s) {
    if (s >= 32) return 0;
    return s >= 0 ? v >> s : v << -s;
}

struct Masks16 {
    uint32_t red = 0x7C00, green = 0x03E0, blue = 0x001F;
};

// False when the data ended before the last pixel.
bool Convert16(LoadBuffers& lb, const Masks16& m, uint8_t* pixels, int32_t width, int32_t height,
               int32_t stride) {
    const int64_t srcStride = (static_cast<int64_t>(width) + 1) / 2 * 4;
    const int64_t got = ReadRawPixels(lb, pixels, srcStride * height);

    const int r = SetBits16(m.red), g = SetBits16(m.green), b = SetBits16(m.blue);
    const int greenShift = r + g - 8, redShift = r + g + b - 8, blueShift = 8 - b;
    for (int64_t y = height - 1; y >= 0; --y) {
        const uint8_t* src = pixels + y * srcStride;
        uint8_t* dst = pixels + y * stride;
        // The padding lies past every source byte of this row and the rows below.
        std::memset(dst + 3 * static_cast<int64_t>(width), 0,
                    static_cast<size_t>(stride - 3 * static_cast<int64_t>(width)));
        for (int64_t x = width - 1; x >= 0; --x) {
            uint32_t p = Le16(src + 2 * x);
            uint8_t* d = dst + 3 * x;
            d[0] = static_cast<uint8_t>(ShiftRight((p & m.blue) & 0xFF, -blueShift));
            d[1] = static_cast<uint8_t>(ShiftRight(p & m.green, greenShift));
            d[2] = static_cast<uint8_t>(ShiftRight(p & m.red, redShift));
        }
    }
    return RowsWhole(got, srcStride, height, 2 * static_cast<int64_t>(width));
}

// Straight from the FileBuffer: blue, green, red of every four bytes. Pixels
// whose four bytes are not all in the data stay 0 (and give false).
bool Convert32(LoadBuffers& lb, uint8_t* pixels, int32_t width, int32_t height, int32_t stride) {
    const int64_t avail =
        std::max<int64_t>(0, static_cast<int64_t>(lb.dataLength) - lb.readPosition);
    const uint8_t* src = lb.fileBuffer + lb.readPosition;
    const int64_t total = static_cast<int64_t>(width) * height;
    const int64_t have = std::min(total, avail / 4);
    for (int64_t y = 0; y < height; ++y) {
        uint8_t* dst = pixels + y * stride;
        const int64_t first = y * width;
        const int64_t n = std::max<int64_t>(0, std::min<int64_t>(width, have - first));
        // Formed only for rows that have data: later rows would point past it.
        const uint8_t* s = n > 0 ? src + first * 4 : src;
        for (int64_t x = 0; x < n; ++x) {
            dst[3 * x] = s[4 * x];
            dst[3 * x + 1] = s[4 * x + 1];
            dst[3 * x + 2] = s[4 * x + 2];
        }
        std::memset(dst + 3 * n, 0, static_cast<size_t>(stride - 3 * n));
    }
    lb.readPosition += static_cast<int32_t>(std::min(total * 4, avail));
    return have == total;
}

// Swaps rows pairwise through a small stack block: the same result as
// copying them out in reverse order and back, without a big allocation that
// could fail.
void ReverseRows(uint8_t* pixels, int32_t height, int32_t stride) {
    uint8_t chunk[4096];
    for (int64_t top = height - 1, bottom = 0; bottom < top; ++bottom, --top) {
        uint8_t* a = pixels + bottom * stride;
        uint8_t* b = pixels + top * stride;
        for (int32_t done = 0; done < stride;) {
            size_t n = std::min<size_t>(sizeof chunk, static_cast<size_t>(stride - done));
            std::memcpy(chunk, a + done, n);
            std::memcpy(a + done, b + done, n);
            std::memcpy(b + done, chunk, n);
            done += static_cast<int32_t>(n);
        }
    }
}

// Chooses and runs the pixel path of the depth and compression. Every path
// leaves the whole pixel area defined: read, converted or cleared. `whole`
// turns false when the data ended before the last pixel.
int ReadPixels(LoadBuffers& lb, const BmpLayout& layout, uint8_t* pixels, bool& whole) {
    const int32_t width = RasterWidth(lb), height = RasterHeight(lb);
    const int32_t stride = lb.raster.stride;
    const int64_t area = static_cast<int64_t>(stride) * height;
    const int64_t rowBytes = (static_cast<int64_t>(width) * layout.bitCount + 7) / 8;
    auto seekPixels = [&] {
        if (layout.offBits) SeekTo(lb, layout.offBits);
    };
    auto clearAll = [&] { std::memset(pixels, 0, static_cast<size_t>(area)); };

    switch (layout.bitCount) {
    case 1:
    case 4:
    case 8:
        if (layout.compression == kBiRgb) {
            seekPixels();
            whole = RowsWhole(ReadRawPixels(lb, pixels, area), stride, height, rowBytes);
        } else if (layout.compression == kBiRle8 || layout.compression == kBiRle4) {
            seekPixels();
            clearAll();
            RleWriter out(pixels, stride, height);
            whole = DecodeRle(lb, out, layout.compression == kBiRle4, width);
        } else {
            clearAll();
            return DecodeFail("unsupported compression");
        }
        return 1;
    case 16: {
        Masks16 masks;
        if (layout.compression == kBiBitfields) {
            uint8_t raw[12] = {};
            ReadBytes(lb, raw, 12);
            masks.red = Le32(raw);
            masks.green = Le32(raw + 4);
            masks.blue = Le32(raw + 8);
        }
        seekPixels();
        whole = Convert16(lb, masks, pixels, width, height, stride);
        return 1;
    }
    case 24:
        if (layout.compression != kBiRgb) {
            clearAll();
            return DecodeFail("unsupported compression");
        }
        seekPixels();
        whole = RowsWhole(ReadRawPixels(lb, pixels, area), stride, height, rowBytes);
        return 1;
    case 32:
        // Bit-field masks of 32-bit pictures are neither read nor used.
        if (layout.compression != kBiRgb && layout.compression != kBiBitfields) {
            clearAll();
            return DecodeFail("unsupported compression");
        }
        seekPixels();
        whole = Convert32(lb, pixels, width, height, stride);
        return 1;
    default:
        // Depths without a pixel path (2, 64, nonsense): a cleared picture.
        clearAll();
        return 1;
    }
}

} // namespace

int DecodeBmpMemory(LoadBuffers& lb) {
    ClearDecodeDamage();
    lb.readPosition = 0;
    if (lb.dataLength < kFileHeaderBytes) return DecodeFail("file too short");

    BmpLayout layout;
    ReadFileHeader(lb, layout);
    if (!ReadInfoHeader(lb, layout)) return 0;

    const bool topDown = layout.storedHeight < 0;
    const int64_t height = topDown ? -layout.storedHeight : layout.storedHeight;
    if (layout.width <= 0 || height <= 0) return DecodeFail("picture has no pixels");
    if (height > INT32_MAX ||
        !SetUpRaster(lb, layout.width, static_cast<int32_t>(height), layout.bitCount))
        return DecodeFail("picture too large");

    ReadPalette(lb, layout.core, layout.bitCount);
    uint8_t* pixels = RasterRow(lb, 0);
    bool whole = true;
    if (!ReadPixels(lb, layout, pixels, whole)) return 0;
    if (topDown) ReverseRows(pixels, RasterHeight(lb), lb.raster.stride);
    // The file's rows run from the bottom of the picture unless it is stored top-down.
    if (!whole) NoteDecodeDamage(topDown ? kDamageLowerPartEmpty : kDamageUpperPartEmpty);
    return 1;
}

int DecodeBmpFile(LoadBuffers& lb, const char* path) {
    if (!LoadWholeFile(lb, path)) return 0;
    return DecodeBmpMemory(lb);
}
