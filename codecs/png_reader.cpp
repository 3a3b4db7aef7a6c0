// PNG reader: chunks, the header, inflate, unfiltering and the colour rules.
//
// Worked through for a 5 x 3 RGB picture at 8 bits, not interlaced: a
// filtered row is 1 filter byte + 5 * 3 sample bytes = 16 bytes, and the
// inflated image data is 3 * 16 = 48 bytes. The raster's stride is
// (5 * 24 + 31) / 32 * 4 = 16. The rows are inflated a batch at a time into a
// work block behind one slot that holds the row before the batch, already
// unfiltered (zeros before a pass's first row):
//   [slot: row before][row y][row y + 1]...   each slot 16 bytes
// so every row is unfiltered in place against the slot before it, then
// converted: file row y becomes raster memory row 2 - y, red-green-blue turned
// blue-green-red. The batch's last row moves to the first slot for the next
// batch. An interlaced picture is seven such passes over its sub-images, each
// converted row put at its pass's columns; its raster starts black.
#include "codecs/png_reader.h"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "codecs/decode_failure.h"

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Two filtered rows are held at once; a picture whose rows pass this is
// refused (a row of 15 MB is 5 million RGB pixels, far beyond any photo), so
// the work block never grows past about twice the raster limit's quarter.
constexpr int64_t kMaxRowBytes = kMaxRasterPixelBytes / 4;
// Rows are inflated about this many bytes at a time: zlib copies the last
// 32 KB of every call's output into its window, a small share of 256 KB, and
// the batch is still in the cache when it is unfiltered and converted.
constexpr int64_t kBatchBytes = 256 * 1024;

constexpr int kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6;

constexpr uint32_t ChunkType(const char (&t)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(t[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(t[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(t[2])) << 8 | static_cast<uint8_t>(t[3]);
}
constexpr uint32_t kIhdr = ChunkType("IHDR"), kPlte = ChunkType("PLTE"),
                   kTrns = ChunkType("tRNS"), kIdat = ChunkType("IDAT"), kIend = ChunkType("IEND");

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
uint32_t Be16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}

// --- Chunks -------------------------------------------------------------------

struct Chunk {
    uint32_t type = 0;
    uint32_t length = 0;          // as stored
    uint32_t have = 0;            // the bytes of it the data holds (fewer when cut off)
    const uint8_t* data = nullptr;
};

// The chunks in file order from just after the signature. CRCs are not
// checked: damaged data shows as damaged pixels or ends the image data.
class ChunkReader {
  public:
    explicit ChunkReader(const LoadBuffers& lb) : data_(lb.fileBuffer), size_(lb.dataLength) {}
    // False when fewer than a chunk's 8 header bytes are left.
    bool Next(Chunk& c) {
        if (size_ - at_ < 8) return false;
        c.length = Be32(data_ + at_);
        c.type = Be32(data_ + at_ + 4);
        at_ += 8;
        c.data = data_ + at_;
        c.have = static_cast<uint32_t>(std::min<int64_t>(c.length, size_ - at_));
        at_ += static_cast<int64_t>(c.length) + 4; // past the end: the next call says so
        return true;
    }

  private:
    const uint8_t* data_;
    int64_t size_;
    int64_t at_ = 8;
};

// --- Header and colours ---------------------------------------------------------

struct Header {
    int32_t width = 0, height = 0;
    int depth = 0, colour = 0;
    bool interlaced = false;
    int channels = 0; // samples per pixel
};

bool DepthAllowed(int colour, int depth) {
    switch (colour) {
    case kGrey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case kPalette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case kRgb:
    case kGreyAlpha:
    case kRgba: return depth == 8 || depth == 16;
    default: return false;
    }
}

// nullptr, or the reason the header is refused.
const char* ReadHeader(const Chunk& c, Header& h) {
    if (c.type != kIhdr || c.length != 13 || c.have < 13) return "PNG header missing or damaged";
    const uint8_t* p = c.data;
    const uint32_t w = Be32(p), hgt = Be32(p + 4);
    if (w == 0 || hgt == 0) return "picture has no pixels";
    if (w > INT32_MAX || hgt > INT32_MAX) return "picture too large";
    h.width = static_cast<int32_t>(w);
    h.height = static_cast<int32_t>(hgt);
    h.depth = p[8];
    h.colour = p[9];
    if (!DepthAllowed(h.colour, h.depth)) return "PNG colour type and bit depth do not go together";
    if (p[10] != 0 || p[11] != 0) return "unknown PNG compression or filter method";
    if (p[12] > 1) return "unknown PNG interlace method";
    h.interlaced = p[12] == 1;
    static const int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    h.channels = kChannels[h.colour];
    return nullptr;
}

int64_t RowBytes(const Header& h, int64_t width) {
    return (width * h.channels * h.depth + 7) / 8;
}

// SetUpRaster's test for 24 bits, made before anything is allocated. Width
// times height reaches 2^62: the pixel count is bounded before it is tripled.
bool RasterWouldFit(const Header& h) {
    const int64_t pixels = static_cast<int64_t>(h.width) * h.height;
    const int64_t stride = (static_cast<int64_t>(h.width) * 24 + 31) / 32 * 4;
    return pixels <= kMaxRasterPixelBytes / 3 &&
           40 + stride * h.height <= static_cast<int64_t>(kDecodeBufferSize);
}

struct Colours {
    uint8_t palette[256][3] = {};
    int paletteCount = 0;
    uint8_t alpha[256];
    bool hasKey = false;
    uint32_t key[3] = {}; // grey, or red, green, blue, at the samples' depth
    Colours() { std::memset(alpha, 255, sizeof alpha); }
};

void ReadPalette(const Chunk& c, Colours& col) {
    col.paletteCount = static_cast<int>(std::min<uint32_t>(c.have / 3, 256));
    std::memcpy(col.palette, c.data, 3 * static_cast<size_t>(col.paletteCount));
}

// A tRNS of the wrong size for its colour type is passed over, and so is
// one with more entries than the palette before it (as libpng does).
void ReadTransparency(const Chunk& c, const Header& h, Colours& col) {
    if (c.have != c.length) return;
    if (h.colour == kPalette && c.length <= static_cast<uint32_t>(col.paletteCount)) {
        std::memcpy(col.alpha, c.data, c.length);
    } else if (h.colour == kGrey && c.length == 2) {
        col.hasKey = true;
        col.key[0] = Be16(c.data);
    } else if (h.colour == kRgb && c.length == 6) {
        col.hasKey = true;
        for (int i = 0; i < 3; ++i)
            col.key[i] = Be16(c.data + 2 * i);
    }
}

inline uint32_t Over(uint32_t c, uint32_t a) {
    return (c * a + 127) / 255;
}
inline uint32_t From16(uint32_t v) {
    return (v * 255 + 32767) / 65535;
}
inline uint32_t Bgr(uint32_t r, uint32_t g, uint32_t b) {
    return b | g << 8 | r << 16;
}

// Palette pictures and grey below 16 bits: the colour of every sample value.
void MakeTable(const Header& h, const Colours& col, uint32_t* table) {
    std::memset(table, 0, 256 * sizeof *table);
    if (h.colour == kPalette) {
        for (int i = 0; i < col.paletteCount; ++i) {
            const uint8_t* e = col.palette[i];
            const uint32_t a = col.alpha[i];
            table[i] = Bgr(Over(e[0], a), Over(e[1], a), Over(e[2], a));
        }
    } else if (h.colour == kGrey && h.depth <= 8) {
        const uint32_t top = (1u << h.depth) - 1;
        for (uint32_t v = 0; v <= top; ++v) {
            const uint32_t g = v * 255 / top;
            table[v] = col.hasKey && col.key[0] == v ? 0 : Bgr(g, g, g);
        }
    }
}

// --- Unfiltering ----------------------------------------------------------------

inline uint8_t Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// One pixel of B bytes at a time, the left and upper-left pixels kept in
// registers.
template <int B>
void PaethRow(uint8_t* row, const uint8_t* prior, size_t n) {
    int a[B], c[B];
    for (int k = 0; k < B; ++k) {
        row[k] = static_cast<uint8_t>(row[k] + prior[k]);
        a[k] = row[k];
        c[k] = prior[k];
    }
    for (size_t i = B; i + B <= n; i += B)
        for (int k = 0; k < B; ++k) {
            const int b = prior[i + k];
            a[k] = static_cast<uint8_t>(row[i + k] + Paeth(a[k], b, c[k]));
            row[i + k] = static_cast<uint8_t>(a[k]);
            c[k] = b;
        }
}

#if defined(__SSE2__)
// Sub, Average and Paeth on 3- and 4-byte pixels, one pixel per step with its
// channels side by side (the left pixel, just unfiltered, is the next step's
// input, so pixels cannot go in parallel). Each step reads 4 bytes of both
// rows: for 3-byte pixels one byte past the row, which the work block has.
__m128i Load4(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}
template <int B>
void Store(uint8_t* p, __m128i bytes) {
    const int32_t v = _mm_cvtsi128_si32(bytes);
    std::memcpy(p, &v, B);
}
__m128i Select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}
__m128i Abs16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

template <int B>
void SubRowSse2(uint8_t* row, size_t n) {
    __m128i a = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += B) {
        a = _mm_add_epi8(Load4(row + i), a);
        Store<B>(row + i, a);
    }
}

template <int B>
void AverageRowSse2(uint8_t* row, const uint8_t* prior, size_t n) {
    const __m128i one = _mm_set1_epi8(1);
    __m128i a = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += B) {
        const __m128i b = Load4(prior + i);
        // (a + b) >> 1: the rounded-up mean less the carry it rounded up by
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        a = _mm_add_epi8(Load4(row + i), mean);
        Store<B>(row + i, a);
    }
}

template <int B>
void PaethRowSse2(uint8_t* row, const uint8_t* prior, size_t n) {
    const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
    __m128i a = zero, c = zero; // 16-bit lanes
    for (size_t i = 0; i < n; i += B) {
        const __m128i b = _mm_unpacklo_epi8(Load4(prior + i), zero);
        const __m128i x = _mm_unpacklo_epi8(Load4(row + i), zero);
        __m128i pa = _mm_sub_epi16(b, c), pb = _mm_sub_epi16(a, c);
        __m128i pc = Abs16(_mm_add_epi16(pa, pb));
        pa = Abs16(pa);
        pb = Abs16(pb);
        const __m128i least = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
        const __m128i near =
            Select(_mm_cmpeq_epi16(least, pa), a, Select(_mm_cmpeq_epi16(least, pb), b, c));
        a = _mm_and_si128(_mm_add_epi16(x, near), low);
        c = b;
        Store<B>(row + i, _mm_packus_epi16(a, a));
    }
}
#endif

// Undoes the row's filter in place; row[-1] is its filter type. `prior` is
// the row above, unfiltered. False for an unknown filter type.
bool Unfilter(uint8_t* row, const uint8_t* prior, size_t n, size_t bpp) {
#if defined(__SSE2__)
    if (bpp == 3 || bpp == 4) {
        switch (row[-1]) {
        case 1: bpp == 3 ? SubRowSse2<3>(row, n) : SubRowSse2<4>(row, n); return true;
        case 3:
            bpp == 3 ? AverageRowSse2<3>(row, prior, n) : AverageRowSse2<4>(row, prior, n);
            return true;
        case 4:
            bpp == 3 ? PaethRowSse2<3>(row, prior, n) : PaethRowSse2<4>(row, prior, n);
            return true;
        default: break;
        }
    }
#endif
    switch (row[-1]) {
    case 0: return true;
    case 1:
        for (size_t i = bpp; i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
        return true;
    case 2:
        for (size_t i = 0; i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + prior[i]);
        return true;
    case 3:
        for (size_t i = 0; i < bpp && i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + (prior[i] >> 1));
        for (size_t i = bpp; i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + ((row[i - bpp] + prior[i]) >> 1));
        return true;
    case 4:
        // n is a whole number of bpp-byte pixels (bpp is 1 below 8 bits)
        switch (bpp) {
        case 1: PaethRow<1>(row, prior, n); break;
        case 2: PaethRow<2>(row, prior, n); break;
        case 3: PaethRow<3>(row, prior, n); break;
        case 4: PaethRow<4>(row, prior, n); break;
        case 6: PaethRow<6>(row, prior, n); break;
        default: PaethRow<8>(row, prior, n); break;
        }
        return true;
    default: return false;
    }
}

// --- Colour conversion ------------------------------------------------------------

inline void Put(uint8_t* d, uint32_t bgr) {
    d[0] = static_cast<uint8_t>(bgr);
    d[1] = static_cast<uint8_t>(bgr >> 8);
    d[2] = static_cast<uint8_t>(bgr >> 16);
}

// `n` pixels of an unfiltered row into blue-green-red.
void ConvertRow(const Header& h, const Colours& col, const uint32_t* table, const uint8_t* s,
                int32_t n, uint8_t* d) {
    const bool key = col.hasKey;
    if (h.colour == kPalette || (h.colour == kGrey && h.depth <= 8)) {
        if (h.depth == 8) {
            for (int32_t x = 0; x < n; ++x)
                Put(d + 3 * x, table[s[x]]);
            return;
        }
        const int perByte = 8 / h.depth, mask = (1 << h.depth) - 1;
        for (int32_t x = 0; x < n; ++x) {
            const int shift = 8 - h.depth * (x % perByte + 1);
            Put(d + 3 * x, table[(s[x / perByte] >> shift) & mask]);
        }
        return;
    }
    if (h.depth == 8) {
        switch (h.colour) {
        case kRgb:
            for (int32_t x = 0; x < n; ++x, s += 3, d += 3) {
                const bool clear = key && s[0] == col.key[0] && s[1] == col.key[1] && s[2] == col.key[2];
                d[0] = clear ? 0 : s[2];
                d[1] = clear ? 0 : s[1];
                d[2] = clear ? 0 : s[0];
            }
            return;
        case kGreyAlpha:
            for (int32_t x = 0; x < n; ++x, s += 2, d += 3)
                d[0] = d[1] = d[2] = static_cast<uint8_t>(Over(s[0], s[1]));
            return;
        case kRgba:
            for (int32_t x = 0; x < n; ++x, s += 4, d += 3)
                Put(d, Bgr(Over(s[0], s[3]), Over(s[1], s[3]), Over(s[2], s[3])));
            return;
        }
        return;
    }
    // 16 bits: to 8 bits first, then alpha over black
    switch (h.colour) {
    case kGrey:
        for (int32_t x = 0; x < n; ++x, s += 2, d += 3) {
            const uint32_t v = Be16(s);
            d[0] = d[1] = d[2] = key && v == col.key[0] ? 0 : static_cast<uint8_t>(From16(v));
        }
        return;
    case kRgb:
        for (int32_t x = 0; x < n; ++x, s += 6, d += 3) {
            const uint32_t r = Be16(s), g = Be16(s + 2), b = Be16(s + 4);
            const bool clear = key && r == col.key[0] && g == col.key[1] && b == col.key[2];
            Put(d, clear ? 0 : Bgr(From16(r), From16(g), From16(b)));
        }
        return;
    case kGreyAlpha:
        for (int32_t x = 0; x < n; ++x, s += 4, d += 3)
            d[0] = d[1] = d[2] = static_cast<uint8_t>(Over(From16(Be16(s)), From16(Be16(s + 2))));
        return;
    case kRgba:
        for (int32_t x = 0; x < n; ++x, s += 8, d += 3) {
            const uint32_t a = From16(Be16(s + 6));
            Put(d, Bgr(Over(From16(Be16(s)), a), Over(From16(Be16(s + 2)), a),
                       Over(From16(Be16(s + 4)), a)));
        }
        return;
    }
}

// --- Image data -------------------------------------------------------------------

enum class Flow { kGoing, kEnded, kDamaged };

// The zlib stream that the IDAT chunks carry between them, read straight
// from the FileBuffer.
class ImageData {
  public:
    ImageData(ChunkReader& chunks, const Chunk& first) : chunks_(chunks) {
        z_.next_in = const_cast<Bytef*>(first.data);
        z_.avail_in = first.have;
    }
    ~ImageData() {
        if (open_) inflateEnd(&z_);
    }
    bool Open() {
        open_ = inflateInit(&z_) == Z_OK;
#if ZLIB_VERNUM >= 0x1290
        // The Adler-32 check would come after the last row: nothing is
        // decided by it, so it is not computed.
        if (open_) inflateValidate(&z_, 0);
#endif
        return open_;
    }
    // Fills out[0..n) as far as the stream goes; the count of bytes given.
    size_t Inflate(uint8_t* out, size_t n) {
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(n);
        while (z_.avail_out > 0 && flow_ == Flow::kGoing) {
            if (z_.avail_in == 0 && !NextChunk()) {
                flow_ = Flow::kEnded;
                break;
            }
            const uInt before = z_.avail_out + z_.avail_in;
            const int r = inflate(&z_, Z_NO_FLUSH);
            if (r == Z_STREAM_END)
                flow_ = Flow::kEnded;
            else if (r != Z_OK && !(r == Z_BUF_ERROR && z_.avail_in == 0))
                flow_ = Flow::kDamaged;
            else if (z_.avail_out + z_.avail_in == before && z_.avail_in > 0)
                flow_ = Flow::kDamaged; // no progress with input and room: never loop
        }
        return n - z_.avail_out;
    }
    Flow flow() const { return flow_; }
    void MarkDamaged() { flow_ = Flow::kDamaged; }

  private:
    // The next IDAT chunk's data; false once another chunk or the end comes.
    bool NextChunk() {
        Chunk c;
        while (chunks_.Next(c) && c.type == kIdat) {
            if (c.have == 0) continue;
            z_.next_in = const_cast<Bytef*>(c.data);
            z_.avail_in = c.have;
            return true;
        }
        return false;
    }

    ChunkReader& chunks_;
    z_stream z_{};
    bool open_ = false;
    Flow flow_ = Flow::kGoing;
};

struct Pass {
    int32_t x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr Pass kWhole = {0, 0, 1, 1};

int32_t PassSize(int32_t size, int32_t start, int32_t step) {
    return size > start ? (size - start + step - 1) / step : 0;
}

// Everything one decode holds between the header and the last row.
class RowDecoder {
  public:
    RowDecoder(LoadBuffers& lb, const Header& h, const Colours& col, const uint8_t* neededRows)
        : lb_(lb), h_(h), col_(col), needed_(neededRows) {
        MakeTable(h, col, table_);
    }

    bool Allocate() {
        const int64_t slot = RowBytes(h_, h_.width) + 1;
        batchRows_ = std::max<int64_t>(1, kBatchBytes / slot);
        // (+ 16: the unfiltering reads a little past the last row)
        work_.reset(new (std::nothrow) uint8_t[static_cast<size_t>((batchRows_ + 1) * slot + 16)]);
        if (h_.interlaced)
            line_.reset(new (std::nothrow) uint8_t[3 * static_cast<size_t>(h_.width)]);
        return work_ && (line_ || !h_.interlaced);
    }

    // 1, or 0 with the reason; the rows not reached are black.
    int Run(ImageData& data) {
        const int32_t stride = lb_.raster.stride;
        if (h_.interlaced)
            std::memset(RasterRow(lb_, 0), 0, static_cast<size_t>(stride) * h_.height);
        int32_t done = 0; // image rows finished, not interlaced
        bool whole = true;
        if (h_.interlaced) {
            for (const Pass& p : kAdam7)
                if (!(whole = RunPass(data, p, done))) break;
        } else {
            whole = RunPass(data, kWhole, done);
        }
        if (whole) return 1;
        if (!h_.interlaced && done < h_.height)
            std::memset(RasterRow(lb_, 0), 0, static_cast<size_t>(stride) * (h_.height - done));
        if (StopRequested(lb_)) return DecodeFail("loading stopped");
        const bool damaged = data.flow() == Flow::kDamaged;
        NoteDecodeDamage(damaged          ? kDamageDataDamaged
                         : h_.interlaced ? kDamageRowsEmpty
                                         : kDamageLowerPartEmpty);
        return DecodeFail(damaged ? "the picture data is damaged" : "the picture data ends early");
    }

  private:
    // One pass (the whole picture when not interlaced); false when it ended early.
    bool RunPass(ImageData& data, const Pass& p, int32_t& done) {
        const int32_t width = PassSize(h_.width, p.x0, p.dx);
        const int32_t height = PassSize(h_.height, p.y0, p.dy);
        if (width == 0 || height == 0) return true;
        const size_t bytes = static_cast<size_t>(RowBytes(h_, width));
        const size_t slot = bytes + 1;
        const size_t bpp = static_cast<size_t>(std::max(1, h_.channels * h_.depth / 8));
        uint8_t* first = work_.get() + slot;
        std::memset(work_.get(), 0, slot); // the row above the first is zeros
        for (int32_t y = 0; y < height;) {
            if (StopRequested(lb_)) return false;
            const int32_t want = static_cast<int32_t>(std::min<int64_t>(batchRows_, height - y));
            const size_t got = data.Inflate(first, want * slot) / slot;
            int32_t rows = 0;
            for (; rows < static_cast<int32_t>(got); ++rows) {
                uint8_t* row = first + rows * slot + 1;
                if (!Unfilter(row, row - slot, bytes, bpp)) {
                    data.MarkDamaged();
                    break;
                }
                Convert(row, p, width, y + rows);
            }
            if (rows > 0) std::memcpy(work_.get(), first + (rows - 1) * slot, slot);
            if (!h_.interlaced) {
                done = y + rows;
                if (!needed_ && lb_.rowWatcher && rows > 0)
                    lb_.rowWatcher->RowsReady(lb_, h_.height - y - rows, rows);
            }
            y += rows;
            if (rows < want) return false;
        }
        return true;
    }

    void Convert(const uint8_t* row, const Pass& p, int32_t width, int32_t passRow) {
        const int32_t y = p.y0 + passRow * p.dy; // from the top
        if (needed_ && !needed_[y]) return;
        uint8_t* out = RasterRow(lb_, h_.height - 1 - y);
        if (!h_.interlaced) {
            ConvertRow(h_, col_, table_, row, width, out);
            return;
        }
        ConvertRow(h_, col_, table_, row, width, line_.get());
        for (int32_t i = 0; i < width; ++i)
            std::memcpy(out + 3 * (p.x0 + static_cast<int64_t>(i) * p.dx), line_.get() + 3 * i, 3);
    }

    LoadBuffers& lb_;
    const Header& h_;
    const Colours& col_;
    const uint8_t* needed_;
    uint32_t table_[256];
    int64_t batchRows_ = 1;
    std::unique_ptr<uint8_t[]> work_, line_;
};

} // namespace

int DecodePngLoaded(LoadBuffers& lb, const SampleMasks* masks) {
    ClearDecodeFailure();
    if (!lb.fileBuffer || lb.dataLength < 8 || std::memcmp(lb.fileBuffer, kSignature, 8) != 0)
        return DecodeFail("not a PNG file");
    ChunkReader chunks(lb);
    Chunk c;
    Header h;
    if (!chunks.Next(c)) return DecodeFail("PNG header missing or damaged");
    if (const char* reason = ReadHeader(c, h)) return DecodeFail(reason);
    if (!RasterWouldFit(h)) return DecodeFail("picture too large");
    if (RowBytes(h, h.width) > kMaxRowBytes) return DecodeFail("PNG rows too long");

    Colours col;
    for (;;) {
        if (!chunks.Next(c) || c.type == kIend) return DecodeFail("no image data in the PNG file");
        if (c.type == kIdat) break;
        if (c.type == kPlte) {
            ReadPalette(c, col);
        } else if (c.type == kTrns) {
            ReadTransparency(c, h, col);
        } else if (!(c.type & 0x20000000u)) {
            // a critical chunk (upper-case first letter) that changes what the data means
            return DecodeFail("unknown critical PNG chunk");
        }
    }
    if (h.colour == kPalette && col.paletteCount == 0) return DecodeFail("PNG palette missing");

    std::unique_ptr<uint8_t[]> lines;
    if (masks) {
        lines.reset(new (std::nothrow) uint8_t[static_cast<size_t>(h.width) + h.height]());
        if (!lines) return DecodeFail("not enough memory");
        masks->fill(masks->context, h.width, h.height, lines.get(), lines.get() + h.width);
    }
    RowDecoder rows(lb, h, col, masks ? lines.get() + h.width : nullptr);
    ImageData data(chunks, c);
    if (!rows.Allocate() || !data.Open()) return DecodeFail("not enough memory");
    if (!SetUpRaster(lb, h.width, h.height, 24)) return DecodeFail("picture too large");
    return rows.Run(data);
}
