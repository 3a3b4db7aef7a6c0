#include "export/jpeg_encoder.h"

#include <cstring>
#include <memory>
#include <new>

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

EncoderTables* MakeTables() {
    static EncoderTables t;
    BuildQuantTables(t);
    BuildHuffmanCodes(kDcLumaCounts, kDcSymbols, t.dc[0]);
    BuildHuffmanCodes(kDcChromaCounts, kDcSymbols, t.dc[1]);
    BuildHuffmanCodes(kAcLumaCounts, kAcLumaSymbols, t.ac[0]);
    BuildHuffmanCodes(kAcChromaCounts, kAcChromaSymbols, t.ac[1]);
    BuildColourTables(t);
    BuildCategoryTables(t);
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
        if (end - out >= 8) { // room for the worst case: four bytes, each stuffed
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
    // `code` holds exactly `length` (0..16) significant bits.
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
    block.bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(block.stride) * block.height]);
    if (!block.bytes) return false;
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

// ---- Transform ----

// One pass of the AAN scaled forward DCT over 8 values `step` apart. Every
// intermediate is a float, so the result is the same on every target.
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

// DCT of 64 level-shifted samples, quantisation, rounding and zig-zag.
void TransformBlock(float work[64], const float divisor[64], int16_t zigzag[64]) {
    for (int row = 0; row < 8; ++row)
        AanForward(work + row * 8, 1);
    for (int col = 0; col < 8; ++col)
        AanForward(work + col, 8);
    int16_t natural[64];
    for (int i = 0; i < 64; ++i) {
        // The offset keeps the sum positive, so truncation rounds halves up.
        double sum = static_cast<double>(work[i] * divisor[i]) + 16384.5;
        natural[i] = static_cast<int16_t>(static_cast<int32_t>(sum) - 16384);
    }
    for (int k = 0; k < 64; ++k)
        zigzag[k] = natural[kNaturalOrder[k]];
}

// ---- Entropy coding ----

inline void PutValue(ByteSink& s, const EncoderTables& t, const HuffmanCodes& h, int symbolBase,
                     int value) {
    int cat = t.category[kValueRange + value];
    int symbol = symbolBase + cat;
    s.Bits(h.code[symbol], h.length[symbol]);
    s.Bits(t.extraBits[kValueRange + value], cat);
}

void EncodeBlock(ByteSink& s, const EncoderTables& t, const int16_t zz[64], int16_t& predictor,
                 int table) {
    const HuffmanCodes& dc = t.dc[table];
    const HuffmanCodes& ac = t.ac[table];
    int diff = zz[0] - predictor;
    predictor = zz[0];
    if (diff == 0)
        s.Bits(dc.code[0], dc.length[0]);
    else
        PutValue(s, t, dc, 0, diff);

    int last = 63;
    while (last > 0 && zz[last] == 0)
        --last;
    int run = 0;
    for (int k = 1; k <= last; ++k) {
        if (zz[k] == 0) {
            ++run;
            continue;
        }
        while (run >= 16) {
            s.Bits(ac.code[0xF0], ac.length[0xF0]);
            run -= 16;
        }
        PutValue(s, t, ac, run << 4, zz[k]);
        run = 0;
    }
    if (last != 63) s.Bits(ac.code[0x00], ac.length[0x00]);
}

inline JpegSamples Samples(const EncoderTables& t, uint8_t r, uint8_t g, uint8_t b) {
    JpegSamples s;
    s.y = static_cast<int8_t>(((t.yR[r] + t.yG[g] + t.yB[b]) >> 16) - 128);
    s.cb = static_cast<int8_t>((t.cbR[r] + t.cbG[g] + t.cbB[b]) >> 16);
    s.cr = static_cast<int8_t>((t.crR[r] + t.crG[g] + t.crB[b]) >> 16);
    return s;
}

// Codes the blocks top to bottom, left to right; each position is one MCU
// of a Y, a Cb and a Cr block, each with its own DC predictor.
void EncodeScan(ByteSink& s, const EncoderTables& t, const PixelBlock& block) {
    int16_t predictor[3] = {0, 0, 0};
    float work[3][64];
    int16_t zz[64];
    for (int by = 0; by < block.height && !s.full; by += 8) {
        for (int bx = 0; bx < block.width; bx += 8) {
            for (int y = 0; y < 8; ++y) {
                const uint8_t* p =
                    block.bytes.get() + static_cast<size_t>(by + y) * block.stride + bx * 3;
                for (int x = 0; x < 8; ++x, p += 3) {
                    JpegSamples v = Samples(t, p[2], p[1], p[0]);
                    work[0][y * 8 + x] = v.y;
                    work[1][y * 8 + x] = v.cb;
                    work[2][y * 8 + x] = v.cr;
                }
            }
            for (int c = 0; c < 3; ++c) {
                int table = c == 0 ? 0 : 1;
                TransformBlock(work[c], t.divisor[table], zz);
                EncodeBlock(s, t, zz, predictor[c], table);
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
    EncodeScan(s, t, block);
    s.FinishScan();
    s.Word(0xFFD9);
    if (s.full) return Fail(JpegEncodeError::kOutputFull, error, length);
    length = static_cast<size_t>(s.out - output);
    if (error) *error = JpegEncodeError::kNone;
    return 1;
}

const char* JpegEncodeErrorText(JpegEncodeError error) {
    switch (error) {
    case JpegEncodeError::kNone:
        return "no error";
    case JpegEncodeError::kBadPicture:
        return "the picture's header does not describe a picture its block can hold";
    case JpegEncodeError::kOutputFull:
        return "the encoded picture does not fit the output buffer";
    case JpegEncodeError::kOutOfMemory:
        return "not enough memory to encode the picture";
    }
    return "unknown error";
}

const uint8_t* JpegQuantTable(int table) {
    return Tables().quant[table == 0 ? 0 : 1];
}

JpegSamples JpegColourSamples(uint8_t red, uint8_t green, uint8_t blue) {
    return Samples(Tables(), red, green, blue);
}

void JpegQuantisedBlock(const int8_t samples[64], int table, int16_t zigzag[64]) {
    float work[64];
    for (int i = 0; i < 64; ++i)
        work[i] = samples[i];
    TransformBlock(work, Tables().divisor[table == 0 ? 0 : 1], zigzag);
}
