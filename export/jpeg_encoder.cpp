#include "export/jpeg_encoder.h"

#include <cstring>
#include <memory>
#include <new>

// SSE2 paths for x86 (every target the program ships for); the portable
// code computes the same numbers and can be forced for comparison.
#if defined(__SSE2__) && !defined(PIXMORA_JPEG_PORTABLE)
#define PIXMORA_JPEG_SSE2 1
#include <emmintrin.h>
#endif

namespace {

// ---- Fixed tables ----

// The standard example quantisation tables (ITU-T T.81 K.1 and K.2), natural order.
constexpr uint8_t kLumaBase[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                   58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                   22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                   77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                   103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
constexpr uint8_t kChromaBase[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// kNaturalOrder[k] is the natural (row-major) index of zig-zag position k.
constexpr uint8_t kNaturalOrder[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The typical Huffman tables (T.81 K.3 to K.6): code counts per length 1..16, then symbols.
constexpr uint8_t kDcLumaCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChromaCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcSymbols[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t kAcLumaCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kAcLumaSymbols[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t kAcChromaCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChromaSymbols[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// AAN scale factors: s[0] = 1, s[k] = cos(k pi / 16) * sqrt(2).
constexpr double kAanScale[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                                 1.0, 0.785694958, 0.5411961,   0.275899379};

// Per symbol: the canonical code and its length (0 = symbol not in the table).
struct HuffmanCodes {
    uint16_t code[256];
    uint8_t length[256];
};

// Coefficient and DC-difference values stay well inside +-2047 for 8-bit
// samples, but the tables cover every 16-bit value so no index can escape.
constexpr int kValueRange = 32767;

struct EncoderTables {
    uint8_t quant[2][64]; // zig-zag order, as written to DQT
    float divisor[2][64]; // natural order, AAN scaling folded in
    HuffmanCodes dc[2];   // [0] luminance, [1] chrominance
    HuffmanCodes ac[2];
    // Colour products, 16 fractional bits: Y, Cb, Cr from R, G, B.
    int32_t yR[256], yG[256], yB[256];
    int32_t cbR[256], cbG[256], cbB[256];
    int32_t crR[256], crG[256], crB[256];
    // Indexed by value + kValueRange: magnitude category and the additional bits.
    uint8_t category[2 * kValueRange + 1];
    uint16_t extraBits[2 * kValueRange + 1];
    // zigzagBits[row][m]: the zig-zag positions of the columns set in m of that row.
    uint64_t zigzagBits[8][256];
};

void BuildQuantTables(EncoderTables& t) {
    const uint8_t* base[2] = {kLumaBase, kChromaBase};
    for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < 64; ++k) {
            int n = kNaturalOrder[k];
            int q = (base[c][n] * 50 + 50) / 100;
            if (q < 1) q = 1;
            if (q > 255) q = 255;
            t.quant[c][k] = static_cast<uint8_t>(q);
        }
        for (int k = 0; k < 64; ++k) {
            int n = kNaturalOrder[k];
            // The product is formed in double and only the divisor kept as
            // float, so the scale factors' error stays far below one float ulp.
            double scale =
                static_cast<double>(t.quant[c][k]) * kAanScale[n / 8] * kAanScale[n % 8] * 8.0;
            t.divisor[c][n] = static_cast<float>(1.0 / scale);
        }
    }
}

// Canonical codes: the first symbol of the shortest length gets code 0,
// consecutive symbols consecutive codes, and the code doubles per length step.
void BuildHuffmanCodes(const uint8_t counts[16], const uint8_t* symbols, HuffmanCodes& h) {
    std::memset(&h, 0, sizeof h);
    uint32_t code = 0;
    int s = 0;
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < counts[len - 1]; ++i, ++s) {
            h.code[symbols[s]] = static_cast<uint16_t>(code++);
            h.length[symbols[s]] = static_cast<uint8_t>(len);
        }
        code <<= 1;
    }
}

void BuildColourTables(EncoderTables& t) {
    for (int32_t i = 0; i < 256; ++i) {
        t.yR[i] = 19595 * i;
        t.yG[i] = 38470 * i;
        t.yB[i] = 7471 * i;
        t.cbR[i] = -11058 * i;
        t.cbG[i] = -21708 * i;
        t.cbB[i] = 32768 * i;
        t.crR[i] = 32768 * i;
        t.crG[i] = -27438 * i;
        t.crB[i] = -5328 * i;
    }
}

void BuildCategoryTables(EncoderTables& t) {
    t.category[kValueRange] = 0;
    t.extraBits[kValueRange] = 0;
    for (int c = 1; c <= 15; ++c) {
        for (int32_t v = 1 << (c - 1); v < (1 << c); ++v) {
            t.category[kValueRange + v] = static_cast<uint8_t>(c);
            t.category[kValueRange - v] = static_cast<uint8_t>(c);
            t.extraBits[kValueRange + v] = static_cast<uint16_t>(v);
            t.extraBits[kValueRange - v] = static_cast<uint16_t>(-v + (1 << c) - 1);
        }
    }
}

void BuildZigzagBits(EncoderTables& t) {
    uint8_t zigzagOf[64];
    for (int k = 0; k < 64; ++k)
        zigzagOf[kNaturalOrder[k]] = static_cast<uint8_t>(k);
    for (int row = 0; row < 8; ++row)
        for (int m = 0; m < 256; ++m) {
            uint64_t bits = 0;
            for (int col = 0; col < 8; ++col)
                if (m & (1 << col)) bits |= uint64_t{1} << zigzagOf[row * 8 + col];
            t.zigzagBits[row][m] = bits;
        }
}

EncoderTables* MakeTables() {
    static EncoderTables t;
    BuildQuantTables(t);
    BuildHuffmanCodes(kDcLumaCounts, kDcSymbols, t.dc[0]);
    BuildHuffmanCodes(kDcChromaCounts, kDcSymbols, t.dc[1]);
    BuildHuffmanCodes(kAcLumaCounts, kAcLumaSymbols, t.ac[0]);
    BuildHuffmanCodes(kAcChromaCounts, kAcChromaSymbols, t.ac[1]);
    BuildColourTables(t);
    BuildCategoryTables(t);
    BuildZigzagBits(t);
    return &t;
}

// Every table is the same for every picture, so they are built once, on
// first use (thread-safe static initialisation).
const EncoderTables& Tables() {
    static const EncoderTables* t = MakeTables();
    return *t;
}

// ---- Output ----

// Writes bytes and entropy-coded bits into the caller's buffer, never past
// its end: once a byte does not fit, `full` is set and everything after is
// dropped. Bits collect in a 64-bit accumulator and leave 32 at a time; the
// bytes come out exactly as a one-byte-at-a-time writer would emit them.
struct ByteSink {
    uint8_t* out;
    uint8_t* end;
    bool full = false;
    uint64_t acc = 0; // the low `bits` bits are pending, most significant first
    int bits = 0;

    void Byte(uint8_t b) {
        if (out == end) {
            full = true;
            return;
        }
        *out++ = b;
    }
    void Bytes(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i)
            Byte(p[i]);
    }
    void Word(uint16_t w) {
        Byte(static_cast<uint8_t>(w >> 8));
        Byte(static_cast<uint8_t>(w));
    }

    // A scan byte; 0xFF would read as a marker, so a 00 follows it.
    void ScanByte(uint8_t b) {
        Byte(b);
        if (b == 0xFF) Byte(0);
    }
    void FlushWord() {
        bits -= 32;
        uint32_t w = static_cast<uint32_t>(acc >> bits);
        // Most words hold no 0xFF byte (no zero byte in ~w): four plain bytes.
        uint32_t inverted = ~w;
        bool noFF = ((inverted - 0x01010101u) & w & 0x80808080u) == 0;
        if (noFF && end - out >= 4) {
            const uint8_t bytes[4] = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                                      static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
            std::memcpy(out, bytes, 4);
            out += 4;
        } else if (end - out >= 8) { // room for the worst case: four bytes, each stuffed
            for (int shift = 24; shift >= 0; shift -= 8) {
                uint8_t b = static_cast<uint8_t>(w >> shift);
                *out++ = b;
                if (b == 0xFF) *out++ = 0;
            }
        } else {
            for (int shift = 24; shift >= 0; shift -= 8)
                ScanByte(static_cast<uint8_t>(w >> shift));
        }
    }
    // `code` holds exactly `length` (0..31) significant bits.
    void Bits(uint32_t code, int length) {
        acc = (acc << length) | code;
        bits += length;
        if (bits >= 32) FlushWord();
    }
    // Pads the last byte with one-bits; a scan that ended on a byte boundary
    // still gets a whole byte of them (written as FF 00).
    void FinishScan() {
        Bits((1u << (8 - bits % 8)) - 1, 8 - bits % 8);
        while (bits >= 8) {
            bits -= 8;
            ScanByte(static_cast<uint8_t>(acc >> bits));
        }
    }
};

void WriteHeaders(ByteSink& s, const EncoderTables& t, uint16_t width, uint16_t height) {
    static const uint8_t kApp0[] = {0xFF, 0xD8, // SOI
                                    0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                    0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    s.Bytes(kApp0, sizeof kApp0);

    s.Word(0xFFDB);
    s.Word(0x0084);
    for (int c = 0; c < 2; ++c) {
        s.Byte(static_cast<uint8_t>(c));
        s.Bytes(t.quant[c], 64);
    }

    s.Word(0xFFC0);
    s.Word(0x0011);
    s.Byte(8);
    s.Word(height);
    s.Word(width);
    s.Byte(3);
    static const uint8_t kComponents[] = {1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1};
    s.Bytes(kComponents, sizeof kComponents);

    s.Word(0xFFC4);
    s.Word(0x01A2);
    s.Byte(0x00);
    s.Bytes(kDcLumaCounts, 16);
    s.Bytes(kDcSymbols, 12);
    s.Byte(0x10);
    s.Bytes(kAcLumaCounts, 16);
    s.Bytes(kAcLumaSymbols, 162);
    s.Byte(0x01);
    s.Bytes(kDcChromaCounts, 16);
    s.Bytes(kDcSymbols, 12);
    s.Byte(0x11);
    s.Bytes(kAcChromaCounts, 16);
    s.Bytes(kAcChromaSymbols, 162);

    static const uint8_t kSos[] = {0xFF, 0xDA, 0x00, 0x0C, 3,    1,    0x00,
                                   2,    0x11, 3,    0x11, 0x00, 0x3F, 0x00};
    s.Bytes(kSos, sizeof kSos);
}

// ---- Pixels ----

// The picture turned top-down and padded to whole 8 x 8 blocks by repeating
// the last column and the last row, blue-green-red per pixel.
// Example: a 13 x 5 picture becomes a 16 x 8 block; columns 13..15 copy
// column 12 of their row, rows 5..7 copy row 4 (the picture's bottom row).
struct PixelBlock {
    std::unique_ptr<uint8_t[]> bytes;
    int width = 0, height = 0; // padded
    int stride = 0;
    std::unique_ptr<float[]> strip; // colour samples of one row of MCUs
};

bool ReadPictureSize(const FrameImage& picture, uint16_t& width, uint16_t& height) {
    BitmapInfoHeader h;
    std::memcpy(&h, picture.bytes, sizeof h);
    width = static_cast<uint16_t>(h.biWidth);
    height = static_cast<uint16_t>(h.biHeight);
    if (width == 0 || height == 0) return false;
    // Rows are stored with the bitmap stride; they must all lie inside the block.
    size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    return stride * height <= static_cast<size_t>(kFrameImageSize - kFrameHeaderBytes);
}

bool PreparePixelBlock(const FrameImage& picture, uint16_t width, uint16_t height,
                       PixelBlock& block) {
    block.width = (width + 7) / 8 * 8;
    block.height = (height + 7) / 8 * 8;
    block.stride = block.width * 3;
    // 16 bytes of slack: the colour conversion reads whole 16-byte groups.
    block.bytes.reset(new (std::nothrow)
                          uint8_t[static_cast<size_t>(block.stride) * block.height + 16]);
    block.strip.reset(new (std::nothrow) float[static_cast<size_t>(block.width) * 24]);
    if (!block.bytes || !block.strip) return false;
    std::memset(block.bytes.get() + static_cast<size_t>(block.stride) * block.height, 0, 16);
    const size_t sourceStride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = picture.Pixels() + (height - 1 - y) * sourceStride;
        uint8_t* dst = block.bytes.get() + static_cast<size_t>(y) * block.stride;
        std::memcpy(dst, src, static_cast<size_t>(width) * 3);
        for (int x = width; x < block.width; ++x)
            std::memcpy(dst + x * 3, src + (width - 1) * 3, 3);
    }
    for (int y = height; y < block.height; ++y)
        std::memcpy(block.bytes.get() + static_cast<size_t>(y) * block.stride,
                    block.bytes.get() + static_cast<size_t>(height - 1) * block.stride,
                    block.stride);
    return true;
}

// ---- Colour ----

inline JpegSamples Samples(const EncoderTables& t, uint8_t r, uint8_t g, uint8_t b) {
    JpegSamples s;
    s.y = static_cast<int8_t>(((t.yR[r] + t.yG[g] + t.yB[b]) >> 16) - 128);
    s.cb = static_cast<int8_t>((t.cbR[r] + t.cbG[g] + t.cbB[b]) >> 16);
    s.cr = static_cast<int8_t>((t.crR[r] + t.crG[g] + t.crB[b]) >> 16);
    return s;
}

#ifdef PIXMORA_JPEG_SSE2
// floor(sum / 65536) of three products, four pixels at a time. Every
// product is a whole number below 2^24 and so is every partial sum, so
// single-precision floats hold them exactly: the result equals the sum of
// the three table entries, shifted.
inline __m128i ColourSum(__m128 r, __m128 g, __m128 b, float kr, float kg, float kb) {
    __m128 sum =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(r, _mm_set1_ps(kr)), _mm_mul_ps(g, _mm_set1_ps(kg))),
                   _mm_mul_ps(b, _mm_set1_ps(kb)));
    return _mm_srai_epi32(_mm_cvtps_epi32(sum), 16);
}

// Pixels 0..3 at p (12 bytes; 16 are read), one per 32-bit lane with blue
// in the low byte: lanes start at byte offsets 0, 3, 6 and 9.
inline __m128i LoadFourPixels(const uint8_t* p) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i ab = _mm_unpacklo_epi32(v, _mm_srli_si128(v, 3));
    __m128i cd = _mm_unpacklo_epi32(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9));
    return _mm_unpacklo_epi64(ab, cd);
}

// Y (level-shifted), Cb and Cr of four pixels as 32-bit integers.
inline void ColourFour(const uint8_t* p, __m128i& y, __m128i& cb, __m128i& cr) {
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    __m128i px = LoadFourPixels(p);
    __m128 b = _mm_cvtepi32_ps(_mm_and_si128(px, lowByte));
    __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 8), lowByte));
    __m128 r = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(px, 16), lowByte));
    y = _mm_sub_epi32(ColourSum(r, g, b, 19595, 38470, 7471), _mm_set1_epi32(128));
    cb = ColourSum(r, g, b, -11058, -21708, 32768);
    cr = ColourSum(r, g, b, 32768, -27438, -5328);
}
#endif

// The samples of n pixels as floats, ready for the transform. Reading goes
// up to 4 bytes past the last pixel: the pixel block has that slack.
void ColourRowToFloats(const EncoderTables& t, const uint8_t* bgr, int n, float* y, float* cb,
                       float* cr) {
    int i = 0;
#ifdef PIXMORA_JPEG_SSE2
    for (; i + 4 <= n; i += 4) {
        __m128i vy, vcb, vcr;
        ColourFour(bgr + i * 3, vy, vcb, vcr);
        _mm_storeu_ps(y + i, _mm_cvtepi32_ps(vy));
        _mm_storeu_ps(cb + i, _mm_cvtepi32_ps(vcb));
        _mm_storeu_ps(cr + i, _mm_cvtepi32_ps(vcr));
    }
#endif
    for (; i < n; ++i) {
        JpegSamples v = Samples(t, bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]);
        y[i] = v.y;
        cb[i] = v.cb;
        cr[i] = v.cr;
    }
}

// The same as signed 8-bit samples, reading nothing past the n pixels.
void ColourRowToSamples(const EncoderTables& t, const uint8_t* bgr, int n, int8_t* y, int8_t* cb,
                        int8_t* cr) {
    int i = 0;
#ifdef PIXMORA_JPEG_SSE2
    auto store4 = [](int8_t* to, __m128i v) {
        // Every value lies in -128..127, so the saturating packs change nothing.
        v = _mm_packs_epi32(v, v);
        int32_t four = _mm_cvtsi128_si32(_mm_packs_epi16(v, v));
        std::memcpy(to, &four, 4);
    };
    for (; (i + 4) * 3 + 4 <= n * 3; i += 4) {
        __m128i vy, vcb, vcr;
        ColourFour(bgr + i * 3, vy, vcb, vcr);
        store4(y + i, vy);
        store4(cb + i, vcb);
        store4(cr + i, vcr);
    }
#endif
    for (; i < n; ++i) {
        JpegSamples v = Samples(t, bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]);
        y[i] = v.y;
        cb[i] = v.cb;
        cr[i] = v.cr;
    }
}

// ---- Transform ----

// The AAN scaled forward DCT runs over the 8 rows of a block and then over
// its 8 columns, every intermediate a float, with the multipliers
// 0.707106781, 0.382683433, 0.541196100 and 1.306562965; the AAN output
// scaling lives in the quantisation divisors. Both versions below run the
// same operations in the same order on each line, so they give the same
// bits, on every target.
//
// Rounding is defined as: the product plus 16384.5, formed in double, cut to
// an integer, minus 16384. The offset keeps the sum positive, so the cut
// rounds to the nearest integer with halves going up (for products above
// -16384; coefficients of 8-bit samples stay within +-2048).

#ifdef PIXMORA_JPEG_SSE2

// One AAN pass over four lanes at once: v[k] holds element k of four
// independent lines.
inline void AanForward4(__m128 v[8]) {
    const __m128 c707 = _mm_set1_ps(0.707106781f), c382 = _mm_set1_ps(0.382683433f),
                 c541 = _mm_set1_ps(0.541196100f), c1306 = _mm_set1_ps(1.306562965f);
    __m128 tmp0 = _mm_add_ps(v[0], v[7]);
    __m128 tmp7 = _mm_sub_ps(v[0], v[7]);
    __m128 tmp1 = _mm_add_ps(v[1], v[6]);
    __m128 tmp6 = _mm_sub_ps(v[1], v[6]);
    __m128 tmp2 = _mm_add_ps(v[2], v[5]);
    __m128 tmp5 = _mm_sub_ps(v[2], v[5]);
    __m128 tmp3 = _mm_add_ps(v[3], v[4]);
    __m128 tmp4 = _mm_sub_ps(v[3], v[4]);

    __m128 tmp10 = _mm_add_ps(tmp0, tmp3);
    __m128 tmp13 = _mm_sub_ps(tmp0, tmp3);
    __m128 tmp11 = _mm_add_ps(tmp1, tmp2);
    __m128 tmp12 = _mm_sub_ps(tmp1, tmp2);
    v[0] = _mm_add_ps(tmp10, tmp11);
    v[4] = _mm_sub_ps(tmp10, tmp11);
    __m128 z1 = _mm_mul_ps(_mm_add_ps(tmp12, tmp13), c707);
    v[2] = _mm_add_ps(tmp13, z1);
    v[6] = _mm_sub_ps(tmp13, z1);

    tmp10 = _mm_add_ps(tmp4, tmp5);
    tmp11 = _mm_add_ps(tmp5, tmp6);
    tmp12 = _mm_add_ps(tmp6, tmp7);
    __m128 z5 = _mm_mul_ps(_mm_sub_ps(tmp10, tmp12), c382);
    __m128 z2 = _mm_add_ps(_mm_mul_ps(c541, tmp10), z5);
    __m128 z4 = _mm_add_ps(_mm_mul_ps(c1306, tmp12), z5);
    __m128 z3 = _mm_mul_ps(tmp11, c707);
    __m128 z11 = _mm_add_ps(tmp7, z3);
    __m128 z13 = _mm_sub_ps(tmp7, z3);
    v[5] = _mm_add_ps(z13, z2);
    v[3] = _mm_sub_ps(z13, z2);
    v[1] = _mm_add_ps(z11, z4);
    v[7] = _mm_sub_ps(z11, z4);
}

// out[0..3] = the transpose of the 4 x 4 block a[0..3], out[4..7] that of b[0..3].
inline void TransposeTwo(const __m128* a, const __m128* b, __m128 out[8]) {
    __m128 t0 = a[0], t1 = a[1], t2 = a[2], t3 = a[3];
    _MM_TRANSPOSE4_PS(t0, t1, t2, t3);
    out[0] = t0, out[1] = t1, out[2] = t2, out[3] = t3;
    t0 = b[0], t1 = b[1], t2 = b[2], t3 = b[3];
    _MM_TRANSPOSE4_PS(t0, t1, t2, t3);
    out[4] = t0, out[5] = t1, out[6] = t2, out[7] = t3;
}

// Four coefficients quantised and rounded without leaving single
// precision: round to nearest (ties to even), then move exact ties up. The
// difference product - rounded is exact (the two lie within 0.5 of each
// other), so a tie is seen exactly; and the double sum of the definition is
// exact enough that it, too, rounds every float exactly, halves up.
inline __m128i QuantiseFour(__m128 v, const float* divisor) {
    __m128 p = _mm_mul_ps(v, _mm_loadu_ps(divisor));
    __m128i r = _mm_cvtps_epi32(p);
    __m128 tie = _mm_cmpeq_ps(_mm_sub_ps(p, _mm_cvtepi32_ps(r)), _mm_set1_ps(0.5f));
    return _mm_sub_epi32(r, _mm_castps_si128(tie)); // a true mask is -1
}

// DCT, quantisation and rounding of one 8 x 8 block of samples, rows
// `stride` floats apart, with the block in registers. Transposed four rows
// at a time, each row lies down a lane, so one pass transforms four rows;
// transposed back, the columns are transformed four at a time likewise.
void TransformBlock(const float* samples, int stride, const float divisor[64],
                    int16_t natural[64]) {
    __m128 left[8], right[8]; // columns 0-3 and 4-7 of row y
    for (int y = 0; y < 8; ++y) {
        left[y] = _mm_loadu_ps(samples + y * stride);
        right[y] = _mm_loadu_ps(samples + y * stride + 4);
    }
    __m128 top[8], bottom[8]; // element k of rows 0-3, of rows 4-7
    TransposeTwo(left, right, top);
    TransposeTwo(left + 4, right + 4, bottom);
    AanForward4(top); // rows
    AanForward4(bottom);
    __m128 low[8], high[8]; // element y of columns 0-3, of columns 4-7
    TransposeTwo(top, bottom, low);
    TransposeTwo(top + 4, bottom + 4, high);
    AanForward4(low); // columns
    AanForward4(high);
    for (int v = 0; v < 8; ++v) {
        __m128i packed = _mm_packs_epi32(QuantiseFour(low[v], divisor + v * 8),
                                         QuantiseFour(high[v], divisor + v * 8 + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(natural + v * 8), packed);
    }
}

#else

// One AAN pass over 8 values `step` apart.
inline void AanForward(float* d, int step) {
    const float c707 = 0.707106781f, c382 = 0.382683433f, c541 = 0.541196100f, c1306 = 1.306562965f;
    float tmp0 = d[0 * step] + d[7 * step];
    float tmp7 = d[0 * step] - d[7 * step];
    float tmp1 = d[1 * step] + d[6 * step];
    float tmp6 = d[1 * step] - d[6 * step];
    float tmp2 = d[2 * step] + d[5 * step];
    float tmp5 = d[2 * step] - d[5 * step];
    float tmp3 = d[3 * step] + d[4 * step];
    float tmp4 = d[3 * step] - d[4 * step];

    float tmp10 = tmp0 + tmp3;
    float tmp13 = tmp0 - tmp3;
    float tmp11 = tmp1 + tmp2;
    float tmp12 = tmp1 - tmp2;
    d[0 * step] = tmp10 + tmp11;
    d[4 * step] = tmp10 - tmp11;
    float z1 = (tmp12 + tmp13) * c707;
    d[2 * step] = tmp13 + z1;
    d[6 * step] = tmp13 - z1;

    tmp10 = tmp4 + tmp5;
    tmp11 = tmp5 + tmp6;
    tmp12 = tmp6 + tmp7;
    float z5 = (tmp10 - tmp12) * c382;
    float z2 = c541 * tmp10 + z5;
    float z4 = c1306 * tmp12 + z5;
    float z3 = tmp11 * c707;
    float z11 = tmp7 + z3;
    float z13 = tmp7 - z3;
    d[5 * step] = z13 + z2;
    d[3 * step] = z13 - z2;
    d[1 * step] = z11 + z4;
    d[7 * step] = z11 - z4;
}

inline int16_t RoundCoefficient(float product) {
    double sum = static_cast<double>(product) + 16384.5;
    return static_cast<int16_t>(static_cast<int32_t>(sum) - 16384);
}

// DCT, quantisation and rounding of one 8 x 8 block of samples, rows
// `stride` floats apart.
void TransformBlock(const float* samples, int stride, const float divisor[64],
                    int16_t natural[64]) {
    float work[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            work[y * 8 + x] = samples[y * stride + x];
    for (int row = 0; row < 8; ++row)
        AanForward(work + row * 8, 1);
    for (int col = 0; col < 8; ++col)
        AanForward(work + col, 8);
    for (int i = 0; i < 64; ++i)
        natural[i] = RoundCoefficient(work[i] * divisor[i]);
}

#endif

// ---- Entropy coding ----

// The Huffman code of a value's category followed by the value's
// additional bits, as one bit string (at most 16 + 15 bits).
inline void PutValue(ByteSink& s, const EncoderTables& t, const HuffmanCodes& h, int symbolBase,
                     int value) {
    int cat = t.category[kValueRange + value];
    int symbol = symbolBase + cat;
    s.Bits(static_cast<uint32_t>(h.code[symbol]) << cat | t.extraBits[kValueRange + value],
           h.length[symbol] + cat);
}

// Bit i set when coefficient i (natural order) is not 0.
inline uint64_t NonZeroMask(const int16_t natural[64]) {
#ifdef PIXMORA_JPEG_SSE2
    const __m128i zero = _mm_setzero_si128();
    uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(natural + i * 16));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(natural + i * 16 + 8));
        __m128i isZero = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        uint32_t zeroBits = static_cast<uint32_t>(_mm_movemask_epi8(isZero));
        mask |= static_cast<uint64_t>(~zeroBits & 0xFFFFu) << (i * 16);
    }
    return mask;
#else
    uint64_t mask = 0;
    for (int i = 0; i < 64; ++i)
        mask |= static_cast<uint64_t>(natural[i] != 0) << i;
    return mask;
#endif
}

// The same mask in zig-zag order (bit k for zig-zag position k), moved one
// row of the block (8 bits) at a time through a table.
inline uint64_t ZigzagMask(const EncoderTables& t, uint64_t natural) {
    uint64_t mask = 0;
    for (int row = 0; row < 8; ++row)
        mask |= t.zigzagBits[row][(natural >> (row * 8)) & 0xFF];
    return mask;
}

// Codes one block given in natural order: the DC difference, then runs of
// zeros and values in zig-zag order up to the last non-zero coefficient,
// and end-of-block unless that is the last position. The zig-zag mask of
// the non-zero coefficients lets the run-length loop jump from one
// coefficient to the next.
void EncodeCoefficients(ByteSink& s, const EncoderTables& t, const int16_t natural[64],
                        int16_t& predictor, int table) {
    const HuffmanCodes& dc = t.dc[table];
    const HuffmanCodes& ac = t.ac[table];
    int diff = natural[0] - predictor;
    predictor = natural[0];
    if (diff == 0)
        s.Bits(dc.code[0], dc.length[0]);
    else
        PutValue(s, t, dc, 0, diff);

    uint64_t pending = ZigzagMask(t, NonZeroMask(natural)) & ~uint64_t{1};
    int last = 0;
    while (pending) {
        int k = __builtin_ctzll(pending);
        pending &= pending - 1;
        int run = k - last - 1;
        for (; run >= 16; run -= 16)
            s.Bits(ac.code[0xF0], ac.length[0xF0]);
        PutValue(s, t, ac, run << 4, natural[kNaturalOrder[k]]);
        last = k;
    }
    if (last != 63) s.Bits(ac.code[0x00], ac.length[0x00]);
}

void EncodeBlock(ByteSink& s, const EncoderTables& t, const int16_t natural[64], int16_t& predictor,
                 int table) {
    // Bits go through a local copy of the writer: the compiler cannot keep
    // the writer's fields in registers while bytes are stored through `out`.
    ByteSink local = s;
    EncodeCoefficients(local, t, natural, predictor, table);
    s = local;
}

// Codes the blocks top to bottom, left to right; each position is one MCU
// of a Y, a Cb and a Cr block, each with its own DC predictor.
// Example: a 128 x 128 picture has 16 rows of 16 MCUs, 768 blocks in all.
// The colour samples of one row of MCUs (8 pixel rows) are converted in one
// go into `strip`: 8 rows of Y, then 8 of Cb, then 8 of Cr.
void EncodeScan(ByteSink& s, const EncoderTables& t, const PixelBlock& block, float* strip) {
    const int w = block.width;
    float* planes[3] = {strip, strip + 8 * w, strip + 16 * w};
    int16_t predictor[3] = {0, 0, 0};
    int16_t natural[64];
    for (int by = 0; by < block.height && !s.full; by += 8) {
        for (int y = 0; y < 8; ++y)
            ColourRowToFloats(t, block.bytes.get() + static_cast<size_t>(by + y) * block.stride, w,
                              planes[0] + y * w, planes[1] + y * w, planes[2] + y * w);
        for (int bx = 0; bx < w; bx += 8) {
            for (int c = 0; c < 3; ++c) {
                int table = c == 0 ? 0 : 1;
                TransformBlock(planes[c] + bx, w, t.divisor[table], natural);
                EncodeBlock(s, t, natural, predictor[c], table);
            }
        }
    }
}

int Fail(JpegEncodeError reason, JpegEncodeError* error, size_t& length) {
    length = 0;
    if (error) *error = reason;
    return 0;
}

} // namespace

int EncodeJpeg(const FrameImage& picture, uint8_t* output, size_t capacity, size_t& length,
               JpegEncodeError* error) {
    uint16_t width, height;
    if (!ReadPictureSize(picture, width, height))
        return Fail(JpegEncodeError::kBadPicture, error, length);
    // Even an empty scan needs the headers, a padding byte and EOI.
    if (output == nullptr || capacity < kJpegHeaderBytes + 4)
        return Fail(JpegEncodeError::kOutputFull, error, length);
    PixelBlock block;
    if (!PreparePixelBlock(picture, width, height, block))
        return Fail(JpegEncodeError::kOutOfMemory, error, length);
    const EncoderTables& t = Tables();

    ByteSink s{output, output + capacity};
    WriteHeaders(s, t, width, height);
    EncodeScan(s, t, block, block.strip.get());
    s.FinishScan();
    s.Word(0xFFD9);
    if (s.full) return Fail(JpegEncodeError::kOutputFull, error, length);
    length = static_cast<size_t>(s.out - output);
    if (error) *error = JpegEncodeError::kNone;
    return 1;
}

const char* JpegEncodeErrorText(JpegEncodeError error) {
    switch (error) {
    case JpegEncodeError::kNone: return "no error";
    case JpegEncodeError::kBadPicture:
        return "the picture's header does not describe a picture its block can hold";
    case JpegEncodeError::kOutputFull: return "the encoded picture does not fit the output buffer";
    case JpegEncodeError::kOutOfMemory: return "not enough memory to encode the picture";
    }
    return "unknown error";
}

const uint8_t* JpegQuantTable(int table) {
    return Tables().quant[table == 0 ? 0 : 1];
}

JpegSamples JpegColourSamples(uint8_t red, uint8_t green, uint8_t blue) {
    return Samples(Tables(), red, green, blue);
}

void JpegColourRow(const uint8_t* bgr, int count, int8_t* y, int8_t* cb, int8_t* cr) {
    ColourRowToSamples(Tables(), bgr, count, y, cb, cr);
}

void JpegQuantisedBlock(const int8_t samples[64], int table, int16_t zigzag[64]) {
    float work[64];
    for (int i = 0; i < 64; ++i)
        work[i] = samples[i];
    int16_t natural[64];
    TransformBlock(work, 8, Tables().divisor[table == 0 ? 0 : 1], natural);
    for (int k = 0; k < 64; ++k)
        zigzag[k] = natural[kNaturalOrder[k]];
}
