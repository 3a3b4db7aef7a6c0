// Colour: the tables of BuildColourTables, and each line of an MCU row
// converted straight into its raster row (plain, SSE2, AVX2 packed).
#include "codecs/jpeg_reconstruct_internal.h"

#include <cstring>

void BuildColourTables(JpegDecoder& d) {
    // Chroma is centred at 127.5: k is twice the distance from it.
    for (int i = 0; i < 256; ++i) {
        int32_t k = 2 * i - 255;
        d.crToRed[i] = (45941 * k + 32768) >> 16;
        d.cbToBlue[i] = (58065 * k + 32768) >> 16;
        d.crToGreen[i] = -23401 * k;
        d.cbToGreen[i] = -11277 * k + 32768;
    }
}

// ---- rows straight into the SourceRaster ----
//
// Each line of an MCU row is converted directly into its raster row as blue,
// green, red. The colour terms are those of BuildColourTables, looked up in
// the plain code and computed eight at a time in SSE2; both give the same
// bytes.

namespace {

// Pixels of one MCU segment of a row as 4-byte groups blue, green, red, 0.
using PixelGroup = uint32_t[16];

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
// (f k + 32768) >> 16 for a factor f = 65536 + g above 32767 (g below 0)
// and 16-bit k: f k = g k + 65536 k, so the result is the high half of
// g k, plus k, plus the carry of 32768 into it (bit 15 of the low half).
inline __m128i RedOrBlue(__m128i k, short g) {
    const __m128i gg = _mm_set1_epi16(g);
    return _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epi16(k, gg), k),
                         _mm_srli_epi16(_mm_mullo_epi16(k, gg), 15));
}

// Red, green and blue terms of 8 chroma pairs, as 16-bit values: exactly
// the table entries crToRed[cr] (45941 = 65536 - 19595), cbToBlue[cb]
// (58065 = 65536 - 7471) and (cbToGreen[cb] + crToGreen[cr]) >> 16 (one
// pmaddwd of the pairs).
inline void ChromaTerms(__m128i cb8, __m128i cr8, __m128i& red, __m128i& green, __m128i& blue) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c255 = _mm_set1_epi16(255);
    const __m128i kb = _mm_sub_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(cb8, zero), 1), c255);
    const __m128i kr = _mm_sub_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(cr8, zero), 1), c255);
    const __m128i half = _mm_set1_epi32(32768);
    auto term = [&](__m128i a, __m128i b, __m128i factors) {
        __m128i lo = _mm_srai_epi32(
            _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), factors), half), 16);
        __m128i hi = _mm_srai_epi32(
            _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), factors), half), 16);
        return _mm_packs_epi32(lo, hi);
    };
    red = RedOrBlue(kr, -19595);
    blue = RedOrBlue(kb, -7471);
    green = term(kb, kr, Pair(-11277, -23401));
}

// The red, green and blue bytes of 16 pixels from 16 Y samples and the
// terms of each pixel (two halves).
struct Planes {
    __m128i r, g, b;
};

inline Planes Planar16(__m128i y, __m128i r0, __m128i r1, __m128i g0, __m128i g1, __m128i b0,
                       __m128i b1) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i ylo = _mm_unpacklo_epi8(y, zero), yhi = _mm_unpackhi_epi8(y, zero);
    return {_mm_packus_epi16(_mm_add_epi16(ylo, r0), _mm_add_epi16(yhi, r1)),
            _mm_packus_epi16(_mm_add_epi16(ylo, g0), _mm_add_epi16(yhi, g1)),
            _mm_packus_epi16(_mm_add_epi16(ylo, b0), _mm_add_epi16(yhi, b1))};
}

// 16 pixels as 4-byte groups.
inline void Bgr16(__m128i y, __m128i r0, __m128i r1, __m128i g0, __m128i g1, __m128i b0, __m128i b1,
                  uint32_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const Planes p = Planar16(y, r0, r1, g0, g1, b0, b1);
    const __m128i R = p.r, G = p.g, B = p.b;
    const __m128i bgLo = _mm_unpacklo_epi8(B, G), bgHi = _mm_unpackhi_epi8(B, G);
    const __m128i rLo = _mm_unpacklo_epi8(R, zero), rHi = _mm_unpackhi_epi8(R, zero);
    __m128i* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o + 0, _mm_unpacklo_epi16(bgLo, rLo));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bgLo, rLo));
    _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(bgHi, rHi));
    _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(bgHi, rHi));
}

inline __m128i Load8(const uint8_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// Y from two 8-sample block rows (left, right), chroma 8 samples shared by pixel pairs.
inline void PixelsH2(const uint8_t* yl, const uint8_t* yr, const uint8_t* cb, const uint8_t* cr,
                     uint32_t* out) {
    __m128i red, green, blue;
    ChromaTerms(Load8(cb), Load8(cr), red, green, blue);
    const __m128i y = _mm_unpacklo_epi64(Load8(yl), Load8(yr));
    Bgr16(y, _mm_unpacklo_epi16(red, red), _mm_unpackhi_epi16(red, red),
          _mm_unpacklo_epi16(green, green), _mm_unpackhi_epi16(green, green),
          _mm_unpacklo_epi16(blue, blue), _mm_unpackhi_epi16(blue, blue), out);
}

// 8 pixels, one chroma sample each (the upper 8 results are not used).
inline void PixelsH1(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint32_t* out) {
    __m128i red, green, blue;
    ChromaTerms(Load8(cb), Load8(cr), red, green, blue);
    Bgr16(Load8(y), red, red, green, green, blue, blue, out);
}

// The planes of one line of an MCU (8 or 16 pixels, per McuLine below).
inline Planes PlanesH2(const uint8_t* yl, const uint8_t* yr, const uint8_t* cb, const uint8_t* cr) {
    __m128i red, green, blue;
    ChromaTerms(Load8(cb), Load8(cr), red, green, blue);
    const __m128i y = _mm_unpacklo_epi64(Load8(yl), Load8(yr));
    return Planar16(y, _mm_unpacklo_epi16(red, red), _mm_unpackhi_epi16(red, red),
                    _mm_unpacklo_epi16(green, green), _mm_unpackhi_epi16(green, green),
                    _mm_unpacklo_epi16(blue, blue), _mm_unpackhi_epi16(blue, blue));
}

inline Planes PlanesH1(const uint8_t* y, const uint8_t* cb, const uint8_t* cr) {
    __m128i red, green, blue;
    ChromaTerms(Load8(cb), Load8(cr), red, green, blue);
    return Planar16(Load8(y), red, red, green, green, blue, blue);
}

inline void PixelsGray(const uint8_t* y, uint32_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = Load8(y);
    const __m128i yy = _mm_unpacklo_epi8(v, v), y0 = _mm_unpacklo_epi8(v, zero);
    __m128i* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o + 0, _mm_unpacklo_epi16(yy, y0));
    _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(yy, y0));
}
#endif

// Every pixel of a line; returns their number (the MCU's width).
inline int LinePixels(const JpegDecoder& d, const McuLine& l, uint32_t* out) {
    const int n = l.yRight ? 16 : 8;
#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
    if (!l.cb)
        PixelsGray(l.yLeft, out);
    else if (l.yRight)
        PixelsH2(l.yLeft, l.yRight, l.cb, l.cr, out);
    else
        PixelsH1(l.yLeft, l.cb, l.cr, out);
    (void)d;
#else
    for (int x = 0; x < n; ++x)
        out[x] = PixelOf(d, l, x);
#endif
    return n;
}

// One line of one MCU into its raster row `out` from picture column x on,
// cut at the row's end; returns the number of pixels written.
inline int WriteSegment(const JpegDecoder& d, const McuLine& l, uint8_t* out, int32_t x) {
    alignas(16) PixelGroup px;
    int n = LinePixels(d, l, px);
    if (n > d.width - x) n = d.width - x;
    // Four bytes per pixel at a step of three; the row's last pixel
    // gets exactly three, so nothing beyond the row is touched.
    int full = x + n == d.width ? n - 1 : n;
    uint8_t* o = out + 3 * x;
    if (full == 16) {
        for (int i = 0; i < 16; ++i)
            std::memcpy(o + 3 * i, &px[i], 4);
    } else if (full == 8) {
        for (int i = 0; i < 8; ++i)
            std::memcpy(o + 3 * i, &px[i], 4);
    } else {
        for (int i = 0; i < full; ++i)
            std::memcpy(o + 3 * i, &px[i], 4);
    }
    if (full < n) {
        uint8_t* p = out + 3 * (x + full);
        p[0] = static_cast<uint8_t>(px[full]);
        p[1] = static_cast<uint8_t>(px[full] >> 8);
        p[2] = static_cast<uint8_t>(px[full] >> 16);
    }
    return n;
}

#if defined(PIXMORA_JPEG_AVX2)
// Byte j of 16 packed pixels (blue, green, red) is channel j % 3 of pixel
// j / 3: kPackMask[k][c] picks, for bytes 16 k .. 16 k + 15, the ones of
// channel c (0 blue, 1 green, 2 red) from that channel's plane.
struct PackMasks {
    int8_t m[3][3][16];
    constexpr PackMasks() : m() {
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c)
                for (int i = 0; i < 16; ++i) {
                    const int j = 16 * k + i;
                    m[k][c][i] = static_cast<int8_t>(j % 3 == c ? j / 3 : -128);
                }
    }
};
alignas(16) constexpr PackMasks kPackMask;

PIXMORA_AVX2 inline __m128i PackedPart(const Planes& p, int k) {
    const __m128i* m = reinterpret_cast<const __m128i*>(kPackMask.m[k]);
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(p.b, _mm_load_si128(m)),
                                     _mm_shuffle_epi8(p.g, _mm_load_si128(m + 1))),
                        _mm_shuffle_epi8(p.r, _mm_load_si128(m + 2)));
}

// The whole MCU line, 8 or 16 pixels, as 3 bytes each: nothing past them
// is written.
PIXMORA_AVX2 inline int WritePacked(const McuLine& l, uint8_t* o) {
    Planes p;
    if (!l.cb) {
        const __m128i y = Load8(l.yLeft);
        p = {y, y, y};
    } else {
        p = l.yRight ? PlanesH2(l.yLeft, l.yRight, l.cb, l.cr) : PlanesH1(l.yLeft, l.cb, l.cr);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), PackedPart(p, 0));
    if (!l.yRight) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), PackedPart(p, 1));
        return 8;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), PackedPart(p, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32), PackedPart(p, 2));
    return 16;
}

// Two lines of an MCU at once, line a in the low 128-bit lane of each
// vector and line b in the high one; every step works lane by lane as
// WritePacked does for one line.
PIXMORA_AVX2 inline __m256i Load8x2(const uint8_t* a, const uint8_t* b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(Load8(a)), Load8(b), 1);
}

struct Planes2 {
    __m256i r, g, b;
};

PIXMORA_AVX2 inline Planes2 Planar32(__m256i y, __m256i r0, __m256i r1, __m256i g0, __m256i g1,
                                     __m256i b0, __m256i b1) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ylo = _mm256_unpacklo_epi8(y, zero), yhi = _mm256_unpackhi_epi8(y, zero);
    return {_mm256_packus_epi16(_mm256_add_epi16(ylo, r0), _mm256_add_epi16(yhi, r1)),
            _mm256_packus_epi16(_mm256_add_epi16(ylo, g0), _mm256_add_epi16(yhi, g1)),
            _mm256_packus_epi16(_mm256_add_epi16(ylo, b0), _mm256_add_epi16(yhi, b1))};
}

// One colour term of ChromaTerms for 2 x 8 chroma pairs.
PIXMORA_AVX2 inline __m256i Term2(__m256i a, __m256i b, int fa, int fb) {
    const __m256i factors = _mm256_set1_epi32(static_cast<int32_t>(
        (static_cast<uint32_t>(fb) << 16) | (static_cast<uint32_t>(fa) & 0xFFFFu)));
    const __m256i half = _mm256_set1_epi32(32768);
    const __m256i lo = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), factors), half), 16);
    const __m256i hi = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), factors), half), 16);
    return _mm256_packs_epi32(lo, hi);
}

// RedOrBlue on 16 chroma samples.
PIXMORA_AVX2 inline __m256i RedOrBlue2(__m256i k, short g) {
    const __m256i gg = _mm256_set1_epi16(g);
    return _mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(k, gg), k),
                            _mm256_srli_epi16(_mm256_mullo_epi16(k, gg), 15));
}

// ChromaTerms on two lines' chroma samples.
PIXMORA_AVX2 inline void ChromaTerms2(__m256i cb8, __m256i cr8, __m256i& red, __m256i& green,
                                      __m256i& blue) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i c255 = _mm256_set1_epi16(255);
    const __m256i kb =
        _mm256_sub_epi16(_mm256_slli_epi16(_mm256_unpacklo_epi8(cb8, zero), 1), c255);
    const __m256i kr =
        _mm256_sub_epi16(_mm256_slli_epi16(_mm256_unpacklo_epi8(cr8, zero), 1), c255);
    red = RedOrBlue2(kr, -19595);
    blue = RedOrBlue2(kb, -7471);
    green = Term2(kb, kr, -11277, -23401);
}

PIXMORA_AVX2 inline __m256i PackedPart2(const Planes2& p, int k) {
    const __m128i* m = reinterpret_cast<const __m128i*>(kPackMask.m[k]);
    return _mm256_or_si256(
        _mm256_or_si256(
            _mm256_shuffle_epi8(p.b, _mm256_broadcastsi128_si256(_mm_load_si128(m))),
            _mm256_shuffle_epi8(p.g, _mm256_broadcastsi128_si256(_mm_load_si128(m + 1)))),
        _mm256_shuffle_epi8(p.r, _mm256_broadcastsi128_si256(_mm_load_si128(m + 2))));
}

PIXMORA_AVX2 inline void StoreLanes(__m256i v, uint8_t* a, uint8_t* b) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(a), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b), _mm256_extracti128_si256(v, 1));
}

PIXMORA_AVX2 inline void WritePacked2(const McuLine& la, const McuLine& lb, uint8_t* oa,
                                      uint8_t* ob) {
    Planes2 p;
    if (!la.cb) {
        const __m256i y = Load8x2(la.yLeft, lb.yLeft);
        p = {y, y, y};
    } else {
        __m256i red, green, blue;
        ChromaTerms2(Load8x2(la.cb, lb.cb), Load8x2(la.cr, lb.cr), red, green, blue);
        if (la.yRight) {
            const __m256i y =
                _mm256_unpacklo_epi64(Load8x2(la.yLeft, lb.yLeft), Load8x2(la.yRight, lb.yRight));
            p = Planar32(y, _mm256_unpacklo_epi16(red, red), _mm256_unpackhi_epi16(red, red),
                         _mm256_unpacklo_epi16(green, green), _mm256_unpackhi_epi16(green, green),
                         _mm256_unpacklo_epi16(blue, blue), _mm256_unpackhi_epi16(blue, blue));
        } else {
            p = Planar32(Load8x2(la.yLeft, lb.yLeft), red, red, green, green, blue, blue);
        }
    }
    StoreLanes(PackedPart2(p, 0), oa, ob);
    const __m256i second = PackedPart2(p, 1);
    if (!la.yRight) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(oa + 16), _mm256_castsi256_si128(second));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(ob + 16), _mm256_extracti128_si256(second, 1));
        return;
    }
    StoreLanes(second, oa + 16, ob + 16);
    StoreLanes(PackedPart2(p, 2), oa + 32, ob + 32);
}

// WritePacked2 on two neighbouring MCUs 8 pixels wide (a1 beside a2 on
// line a, b1 beside b2 on line b): 16 pixels of each line.
PIXMORA_AVX2 inline void WritePacked2Wide(const McuLine& a1, const McuLine& b1, const McuLine& a2,
                                          const McuLine& b2, uint8_t* oa, uint8_t* ob) {
    const __m256i y =
        _mm256_unpacklo_epi64(Load8x2(a1.yLeft, b1.yLeft), Load8x2(a2.yLeft, b2.yLeft));
    Planes2 p;
    if (!a1.cb) {
        p = {y, y, y};
    } else {
        __m256i red1, green1, blue1, red2, green2, blue2;
        ChromaTerms2(Load8x2(a1.cb, b1.cb), Load8x2(a1.cr, b1.cr), red1, green1, blue1);
        ChromaTerms2(Load8x2(a2.cb, b2.cb), Load8x2(a2.cr, b2.cr), red2, green2, blue2);
        p = Planar32(y, red1, red2, green1, green2, blue1, blue2);
    }
    StoreLanes(PackedPart2(p, 0), oa, ob);
    StoreLanes(PackedPart2(p, 1), oa + 16, ob + 16);
    StoreLanes(PackedPart2(p, 2), oa + 32, ob + 32);
}

// Two lines (top, bottom) of two neighbouring 4:2:0 MCUs (1 beside 2): 32
// pixels of each line. Both lines take the same chroma row, so its terms
// are computed once; MCU 1 goes in the low lane, MCU 2 in the high one.
PIXMORA_AVX2 inline void WriteLineOfPair(const McuLine& l1, const McuLine& l2, __m256i r0,
                                         __m256i r1, __m256i g0, __m256i g1, __m256i b0, __m256i b1,
                                         uint8_t* o) {
    const __m256i y =
        _mm256_unpacklo_epi64(Load8x2(l1.yLeft, l2.yLeft), Load8x2(l1.yRight, l2.yRight));
    const Planes2 p = Planar32(y, r0, r1, g0, g1, b0, b1);
    StoreLanes(PackedPart2(p, 0), o, o + 48);
    StoreLanes(PackedPart2(p, 1), o + 16, o + 64);
    StoreLanes(PackedPart2(p, 2), o + 32, o + 80);
}

PIXMORA_AVX2 inline void WritePacked420(const McuLine& top1, const McuLine& bottom1,
                                        const McuLine& top2, const McuLine& bottom2, uint8_t* oa,
                                        uint8_t* ob) {
    __m256i red, green, blue;
    ChromaTerms2(Load8x2(top1.cb, top2.cb), Load8x2(top1.cr, top2.cr), red, green, blue);
    const __m256i r0 = _mm256_unpacklo_epi16(red, red), r1 = _mm256_unpackhi_epi16(red, red);
    const __m256i g0 = _mm256_unpacklo_epi16(green, green),
                  g1 = _mm256_unpackhi_epi16(green, green);
    const __m256i b0 = _mm256_unpacklo_epi16(blue, blue), b1 = _mm256_unpackhi_epi16(blue, blue);
    WriteLineOfPair(top1, top2, r0, r1, g0, g1, b0, b1, oa);
    WriteLineOfPair(bottom1, bottom2, r0, r1, g0, g1, b0, b1, ob);
}

// One raster row of the MCU row, packed; only the row's last, cut MCU
// takes the 4-byte-group path.
PIXMORA_AVX2 inline void WriteLinePacked(const JpegDecoder& d, int32_t line, uint8_t* out) {
    const int32_t mcuBytes = 64 * d.frameBlocksPerMcu;
    const uint8_t* mcu = d.sampleBuffer;
    int32_t x = 0;
    for (int32_t m = 0; m < d.frameMcusPerRow && x < d.width; ++m, mcu += mcuBytes) {
        const McuLine l = LineOf(d, mcu, line);
        x += x + d.mcuWidth <= d.width ? WritePacked(l, out + 3 * x) : WriteSegment(d, l, out, x);
    }
}

// WriteMcuRowToRaster with the MCU lines packed in vector registers, two
// raster rows at a time.
PIXMORA_AVX2 bool WriteMcuRowPacked(JpegDecoder& d, int32_t firstRow, int32_t rows) {
    LoadBuffers& lb = *d.buffers;
    const int32_t mcuBytes = 64 * d.frameBlocksPerMcu;
    for (int32_t line = 0; line < rows; line += 2) {
        if (JpegStop(d)) return false;
        uint8_t* outA = RasterRow(lb, d.height - 1 - (firstRow + line));
        if (!outA) return false;
        // The stop flag is polled for every raster row, as in the plain writer.
        if (line + 1 >= rows || JpegStop(d)) {
            WriteLinePacked(d, line, outA);
            if (line + 1 < rows) return false;
            continue;
        }
        uint8_t* outB = RasterRow(lb, d.height - 1 - (firstRow + line + 1));
        if (!outB) return false;
        const uint8_t* mcu = d.sampleBuffer;
        int32_t x = 0;
        int32_t m = 0;
        // MCUs 8 pixels wide go two at a time, filling the vectors; so do
        // 4:2:0 MCUs, whose two lines here share their chroma row.
        if (d.layoutKind == kLayoutH2V2)
            for (; m + 1 < d.frameMcusPerRow && x + 32 <= d.width; m += 2, mcu += 2 * mcuBytes) {
                WritePacked420(LineOf(d, mcu, line), LineOf(d, mcu, line + 1),
                               LineOf(d, mcu + mcuBytes, line), LineOf(d, mcu + mcuBytes, line + 1),
                               outA + 3 * x, outB + 3 * x);
                x += 32;
            }
        if (d.mcuWidth == 8)
            for (; m + 1 < d.frameMcusPerRow && x + 16 <= d.width; m += 2, mcu += 2 * mcuBytes) {
                WritePacked2Wide(LineOf(d, mcu, line), LineOf(d, mcu, line + 1),
                                 LineOf(d, mcu + mcuBytes, line),
                                 LineOf(d, mcu + mcuBytes, line + 1), outA + 3 * x, outB + 3 * x);
                x += 16;
            }
        for (; m < d.frameMcusPerRow && x < d.width; ++m, mcu += mcuBytes) {
            const McuLine la = LineOf(d, mcu, line), lb2 = LineOf(d, mcu, line + 1);
            if (x + d.mcuWidth <= d.width) {
                WritePacked2(la, lb2, outA + 3 * x, outB + 3 * x);
                x += d.mcuWidth;
            } else {
                WriteSegment(d, la, outA, x);
                x += WriteSegment(d, lb2, outB, x);
            }
        }
    }
    return true;
}
#endif

} // namespace

bool WriteMcuRowToRaster(JpegDecoder& d, int32_t firstRow, int32_t rows) {
#if defined(PIXMORA_JPEG_AVX2)
    if (d.simd >= kJpegSimdAvx2) return WriteMcuRowPacked(d, firstRow, rows);
#endif
    LoadBuffers& lb = *d.buffers;
    const int32_t mcuBytes = 64 * d.frameBlocksPerMcu;
    for (int32_t line = 0; line < rows; ++line) {
        if (JpegStop(d)) return false;
        uint8_t* out = RasterRow(lb, d.height - 1 - (firstRow + line));
        if (!out) return false;
        const uint8_t* mcu = d.sampleBuffer;
        int32_t x = 0;
        for (int32_t m = 0; m < d.frameMcusPerRow && x < d.width; ++m, mcu += mcuBytes)
            x += WriteSegment(d, LineOf(d, mcu, line), out, x);
    }
    return true;
}
