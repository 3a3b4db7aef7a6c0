// Reconstruction: progressive assembly, the integer inverse DCT, the colour
// tables, and MCU rows converted into the raster.
#include "codecs/jpeg_decoder.h"

#include <atomic>
#include <cstring>

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
#include <emmintrin.h>
#endif
#if defined(PIXMORA_JPEG_AVX2) // defined by the header
#include <immintrin.h>
#endif

namespace {

inline int16_t Low16(uint32_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(v));
}

// 13-bit fixed-point constants of the Loeffler-Ligtenberg-Moschytz IDCT.
constexpr uint32_t k0_298631336 = 2446;
constexpr uint32_t k0_390180644 = 3196;
constexpr uint32_t k0_541196100 = 4433;
constexpr uint32_t k0_765366865 = 6270;
constexpr uint32_t k0_899976223 = 7373;
constexpr uint32_t k1_175875602 = 9633;
constexpr uint32_t k1_501321110 = 12299;
constexpr uint32_t k1_847759065 = 15137;
constexpr uint32_t k1_961570560 = 16069;
constexpr uint32_t k2_053119869 = 16819;
constexpr uint32_t k2_562915447 = 20995;
constexpr uint32_t k3_072711026 = 25172;

// One 8-point transform. Sums and products wrap like 32-bit machine
// arithmetic (a corrupt block may overflow); the caller shifts the results
// as signed values.
inline void IdctCore(const int32_t* in, int stride, int32_t* out) {
    uint32_t d0 = static_cast<uint32_t>(in[0 * stride]);
    uint32_t d1 = static_cast<uint32_t>(in[1 * stride]);
    uint32_t d2 = static_cast<uint32_t>(in[2 * stride]);
    uint32_t d3 = static_cast<uint32_t>(in[3 * stride]);
    uint32_t d4 = static_cast<uint32_t>(in[4 * stride]);
    uint32_t d5 = static_cast<uint32_t>(in[5 * stride]);
    uint32_t d6 = static_cast<uint32_t>(in[6 * stride]);
    uint32_t d7 = static_cast<uint32_t>(in[7 * stride]);

    uint32_t z1 = (d2 + d6) * k0_541196100;
    uint32_t e2 = z1 - d6 * k1_847759065;
    uint32_t e3 = z1 + d2 * k0_765366865;
    uint32_t e0 = (d0 + d4) << 13;
    uint32_t e1 = (d0 - d4) << 13;
    uint32_t a0 = e0 + e3, a3 = e0 - e3, a1 = e1 + e2, a2 = e1 - e2;

    z1 = d7 + d1;
    uint32_t z2 = d5 + d3;
    uint32_t z3 = d7 + d3;
    uint32_t z4 = d5 + d1;
    uint32_t z5 = (z3 + z4) * k1_175875602;
    uint32_t o0 = d7 * k0_298631336;
    uint32_t o1 = d5 * k2_053119869;
    uint32_t o2 = d3 * k3_072711026;
    uint32_t o3 = d1 * k1_501321110;
    z1 = z1 * (0u - k0_899976223);
    z2 = z2 * (0u - k2_562915447);
    z3 = z5 - z3 * k1_961570560;
    z4 = z5 - z4 * k0_390180644;
    o0 += z1 + z3;
    o1 += z2 + z4;
    o2 += z2 + z3;
    o3 += z1 + z4;

    out[0] = static_cast<int32_t>(a0 + o3);
    out[1] = static_cast<int32_t>(a1 + o2);
    out[2] = static_cast<int32_t>(a2 + o1);
    out[3] = static_cast<int32_t>(a3 + o0);
    out[4] = static_cast<int32_t>(a3 - o0);
    out[5] = static_cast<int32_t>(a2 - o1);
    out[6] = static_cast<int32_t>(a1 - o2);
    out[7] = static_cast<int32_t>(a0 - o3);
}

} // namespace

void InverseDctScalar(int16_t* work, uint8_t* samples) {
    int32_t in[8], out[8];
    // Rows first, keeping two extra bits of precision in the 16-bit work block.
    for (int r = 0; r < 8; ++r) {
        int16_t* row = work + 8 * r;
        if ((row[1] | row[2] | row[3] | row[4] | row[5] | row[6] | row[7]) == 0) {
            int16_t dc = Low16(static_cast<uint32_t>(static_cast<int32_t>(row[0])) << 2);
            for (int i = 0; i < 8; ++i)
                row[i] = dc;
            continue;
        }
        for (int i = 0; i < 8; ++i)
            in[i] = row[i];
        IdctCore(in, 1, out);
        for (int i = 0; i < 8; ++i)
            row[i] = Low16(static_cast<uint32_t>(
                (static_cast<int32_t>(static_cast<uint32_t>(out[i]) + 1024u)) >> 11));
    }
    // Then columns, down to samples centred on 128.
    for (int c = 0; c < 8; ++c) {
        const int16_t* col = work + c;
        if ((col[8] | col[16] | col[24] | col[32] | col[40] | col[48] | col[56]) == 0) {
            uint8_t v = static_cast<uint8_t>(Clamp255(((col[0] + 16) >> 5) + 128));
            for (int r = 0; r < 8; ++r)
                samples[8 * r + c] = v;
            continue;
        }
        for (int i = 0; i < 8; ++i)
            in[i] = col[8 * i];
        IdctCore(in, 1, out);
        for (int r = 0; r < 8; ++r)
            samples[8 * r + c] = static_cast<uint8_t>(Clamp255(
                (static_cast<int32_t>(static_cast<uint32_t>(out[r]) + 131072u) >> 18) + 128));
    }
}

#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
namespace {

// The same transform eight rows (then eight columns) at a time. Every
// product and sum of the scalar code is a linear combination of the inputs
// taken modulo 2^32, so it is regrouped into pairs for pmaddwd with 16-bit
// constants (for example the odd output o0 = -11363 d7 + 2260 d1 - 6436 d3
// + 9633 d5); shifts, 16-bit truncation and clamping happen at the same
// points as in InverseDctScalar, so the samples are identical.
inline __m128i Pair(int a, int b) {
    return _mm_set_epi16(static_cast<short>(b), static_cast<short>(a), static_cast<short>(b),
                         static_cast<short>(a), static_cast<short>(b), static_cast<short>(a),
                         static_cast<short>(b), static_cast<short>(a));
}

inline void Transpose8(__m128i* r) {
    __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// One 8-point pass over four lanes (32-bit results), inputs interleaved in pairs.
struct Half {
    __m128i v[8];
};

inline void PassHalf(__m128i p04, __m128i p26, __m128i p13, __m128i p57, Half& out) {
    const __m128i e0 = _mm_madd_epi16(p04, Pair(8192, 8192));
    const __m128i e1 = _mm_madd_epi16(p04, Pair(8192, -8192));
    const __m128i e2 = _mm_madd_epi16(p26, Pair(4433, 4433 - 15137));
    const __m128i e3 = _mm_madd_epi16(p26, Pair(4433 + 6270, 4433));
    const __m128i a0 = _mm_add_epi32(e0, e3), a3 = _mm_sub_epi32(e0, e3);
    const __m128i a1 = _mm_add_epi32(e1, e2), a2 = _mm_sub_epi32(e1, e2);
    // p13 = (d1, d3), p57 = (d5, d7)
    const __m128i o0 = _mm_add_epi32(_mm_madd_epi16(p13, Pair(9633 - 7373, 9633 - 16069)),
                                     _mm_madd_epi16(p57, Pair(9633, 2446 - 7373 + 9633 - 16069)));
    const __m128i o1 = _mm_add_epi32(_mm_madd_epi16(p13, Pair(9633 - 3196, 9633 - 20995)),
                                     _mm_madd_epi16(p57, Pair(16819 - 20995 + 9633 - 3196, 9633)));
    const __m128i o2 = _mm_add_epi32(_mm_madd_epi16(p13, Pair(9633, 25172 - 20995 + 9633 - 16069)),
                                     _mm_madd_epi16(p57, Pair(9633 - 20995, 9633 - 16069)));
    const __m128i o3 = _mm_add_epi32(_mm_madd_epi16(p13, Pair(12299 - 7373 + 9633 - 3196, 9633)),
                                     _mm_madd_epi16(p57, Pair(9633 - 3196, 9633 - 7373)));
    out.v[0] = _mm_add_epi32(a0, o3);
    out.v[1] = _mm_add_epi32(a1, o2);
    out.v[2] = _mm_add_epi32(a2, o1);
    out.v[3] = _mm_add_epi32(a3, o0);
    out.v[4] = _mm_sub_epi32(a3, o0);
    out.v[5] = _mm_sub_epi32(a2, o1);
    out.v[6] = _mm_sub_epi32(a1, o2);
    out.v[7] = _mm_sub_epi32(a0, o3);
}

inline void Pass(const __m128i* d, Half& lo, Half& hi) {
    PassHalf(_mm_unpacklo_epi16(d[0], d[4]), _mm_unpacklo_epi16(d[2], d[6]),
             _mm_unpacklo_epi16(d[1], d[3]), _mm_unpacklo_epi16(d[5], d[7]), lo);
    PassHalf(_mm_unpackhi_epi16(d[0], d[4]), _mm_unpackhi_epi16(d[2], d[6]),
             _mm_unpackhi_epi16(d[1], d[3]), _mm_unpackhi_epi16(d[5], d[7]), hi);
}

// Low 16 bits of each 32-bit lane, sign-extended, so the pack cannot saturate.
inline __m128i Low16Pack(__m128i lo, __m128i hi) {
    lo = _mm_srai_epi32(_mm_slli_epi32(lo, 16), 16);
    hi = _mm_srai_epi32(_mm_slli_epi32(hi, 16), 16);
    return _mm_packs_epi32(lo, hi);
}

} // namespace

void InverseDctSimd(const int16_t* coefficients, uint8_t* samples) {
    __m128i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * i));
    // Rows first: after the transpose vector k holds d_k of every row.
    Transpose8(r);
    Half lo, hi;
    Pass(r, lo, hi);
    const __m128i round1 = _mm_set1_epi32(1024);
    for (int j = 0; j < 8; ++j)
        r[j] = Low16Pack(_mm_srai_epi32(_mm_add_epi32(lo.v[j], round1), 11),
                         _mm_srai_epi32(_mm_add_epi32(hi.v[j], round1), 11));
    // r[j] lane i is row i's output j; the columns need vector i = row i.
    Transpose8(r);
    Pass(r, lo, hi);
    const __m128i round2 = _mm_set1_epi32(131072);
    const __m128i centre = _mm_set1_epi16(128);
    for (int i = 0; i < 8; i += 2) {
        __m128i a = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo.v[i], round2), 18),
                                    _mm_srai_epi32(_mm_add_epi32(hi.v[i], round2), 18));
        __m128i b = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo.v[i + 1], round2), 18),
                                    _mm_srai_epi32(_mm_add_epi32(hi.v[i + 1], round2), 18));
        a = _mm_add_epi16(a, centre);
        b = _mm_add_epi16(b, centre);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + 8 * i), _mm_packus_epi16(a, b));
    }
}
#endif

void InverseDct(int16_t* work, uint8_t* samples) {
#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
    InverseDctSimd(work, samples);
#else
    InverseDctScalar(work, samples);
#endif
}

namespace {
std::atomic<int32_t> simdLimit{kJpegSimdAvx2};
} // namespace

void SetJpegSimdLimit(int32_t level) {
    simdLimit.store(level, std::memory_order_relaxed);
}

int32_t JpegSimdLevelInUse() {
#if defined(PIXMORA_JPEG_AVX2)
    static const int32_t supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") ? kJpegSimdAvx2
                                                                                : kJpegSimdSse2;
    }();
#elif defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
    constexpr int32_t supported = kJpegSimdSse2;
#else
    constexpr int32_t supported = kJpegSimdPlain;
#endif
    const int32_t limit = simdLimit.load(std::memory_order_relaxed);
    return supported < limit ? supported : limit;
}

#if defined(PIXMORA_JPEG_AVX2)
namespace {

// InverseDctSimd on two blocks at once: block one in the low 128-bit lane
// of every vector, block two in the high one. Every AVX2 step used here
// works lane by lane, so each lane computes exactly what the SSE2 code does.
PIXMORA_AVX2 inline __m256i Pair256(int a, int b) {
    return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(b) << 16) |
                                                  (static_cast<uint32_t>(a) & 0xFFFFu)));
}

PIXMORA_AVX2 inline void Transpose8x2(__m256i* r) {
    __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
    __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
    __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
    __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
    __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    r[0] = _mm256_unpacklo_epi64(b0, b4);
    r[1] = _mm256_unpackhi_epi64(b0, b4);
    r[2] = _mm256_unpacklo_epi64(b1, b5);
    r[3] = _mm256_unpackhi_epi64(b1, b5);
    r[4] = _mm256_unpacklo_epi64(b2, b6);
    r[5] = _mm256_unpackhi_epi64(b2, b6);
    r[6] = _mm256_unpacklo_epi64(b3, b7);
    r[7] = _mm256_unpackhi_epi64(b3, b7);
}

struct Half2 {
    __m256i v[8];
};

PIXMORA_AVX2 inline void PassHalf2(__m256i p04, __m256i p26, __m256i p13, __m256i p57, Half2& out) {
    const __m256i e0 = _mm256_madd_epi16(p04, Pair256(8192, 8192));
    const __m256i e1 = _mm256_madd_epi16(p04, Pair256(8192, -8192));
    const __m256i e2 = _mm256_madd_epi16(p26, Pair256(4433, 4433 - 15137));
    const __m256i e3 = _mm256_madd_epi16(p26, Pair256(4433 + 6270, 4433));
    const __m256i a0 = _mm256_add_epi32(e0, e3), a3 = _mm256_sub_epi32(e0, e3);
    const __m256i a1 = _mm256_add_epi32(e1, e2), a2 = _mm256_sub_epi32(e1, e2);
    const __m256i o0 =
        _mm256_add_epi32(_mm256_madd_epi16(p13, Pair256(9633 - 7373, 9633 - 16069)),
                         _mm256_madd_epi16(p57, Pair256(9633, 2446 - 7373 + 9633 - 16069)));
    const __m256i o1 =
        _mm256_add_epi32(_mm256_madd_epi16(p13, Pair256(9633 - 3196, 9633 - 20995)),
                         _mm256_madd_epi16(p57, Pair256(16819 - 20995 + 9633 - 3196, 9633)));
    const __m256i o2 =
        _mm256_add_epi32(_mm256_madd_epi16(p13, Pair256(9633, 25172 - 20995 + 9633 - 16069)),
                         _mm256_madd_epi16(p57, Pair256(9633 - 20995, 9633 - 16069)));
    const __m256i o3 =
        _mm256_add_epi32(_mm256_madd_epi16(p13, Pair256(12299 - 7373 + 9633 - 3196, 9633)),
                         _mm256_madd_epi16(p57, Pair256(9633 - 3196, 9633 - 7373)));
    out.v[0] = _mm256_add_epi32(a0, o3);
    out.v[1] = _mm256_add_epi32(a1, o2);
    out.v[2] = _mm256_add_epi32(a2, o1);
    out.v[3] = _mm256_add_epi32(a3, o0);
    out.v[4] = _mm256_sub_epi32(a3, o0);
    out.v[5] = _mm256_sub_epi32(a2, o1);
    out.v[6] = _mm256_sub_epi32(a1, o2);
    out.v[7] = _mm256_sub_epi32(a0, o3);
}

PIXMORA_AVX2 inline void Pass2(const __m256i* d, Half2& lo, Half2& hi) {
    PassHalf2(_mm256_unpacklo_epi16(d[0], d[4]), _mm256_unpacklo_epi16(d[2], d[6]),
              _mm256_unpacklo_epi16(d[1], d[3]), _mm256_unpacklo_epi16(d[5], d[7]), lo);
    PassHalf2(_mm256_unpackhi_epi16(d[0], d[4]), _mm256_unpackhi_epi16(d[2], d[6]),
              _mm256_unpackhi_epi16(d[1], d[3]), _mm256_unpackhi_epi16(d[5], d[7]), hi);
}

PIXMORA_AVX2 inline __m256i Low16Pack2(__m256i lo, __m256i hi) {
    lo = _mm256_srai_epi32(_mm256_slli_epi32(lo, 16), 16);
    hi = _mm256_srai_epi32(_mm256_slli_epi32(hi, 16), 16);
    return _mm256_packs_epi32(lo, hi);
}

PIXMORA_AVX2 inline void IdctPair(const int16_t* first, uint8_t* firstSamples,
                                  const int16_t* second, uint8_t* secondSamples) {
    __m256i r[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 8 * i))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 8 * i)), 1);
    Transpose8x2(r);
    Half2 lo, hi;
    Pass2(r, lo, hi);
    const __m256i round1 = _mm256_set1_epi32(1024);
    for (int j = 0; j < 8; ++j)
        r[j] = Low16Pack2(_mm256_srai_epi32(_mm256_add_epi32(lo.v[j], round1), 11),
                          _mm256_srai_epi32(_mm256_add_epi32(hi.v[j], round1), 11));
    Transpose8x2(r);
    Pass2(r, lo, hi);
    const __m256i round2 = _mm256_set1_epi32(131072);
    const __m256i centre = _mm256_set1_epi16(128);
    for (int i = 0; i < 8; i += 2) {
        __m256i a = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(lo.v[i], round2), 18),
                                       _mm256_srai_epi32(_mm256_add_epi32(hi.v[i], round2), 18));
        __m256i b =
            _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(lo.v[i + 1], round2), 18),
                               _mm256_srai_epi32(_mm256_add_epi32(hi.v[i + 1], round2), 18));
        const __m256i rows =
            _mm256_packus_epi16(_mm256_add_epi16(a, centre), _mm256_add_epi16(b, centre));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(firstSamples + 8 * i),
                         _mm256_castsi256_si128(rows));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(secondSamples + 8 * i),
                         _mm256_extracti128_si256(rows, 1));
    }
}

} // namespace

void InverseDctPairAvx2(const int16_t* first, uint8_t* firstSamples, const int16_t* second,
                        uint8_t* secondSamples) {
    IdctPair(first, firstSamples, second, secondSamples);
}
#else
void InverseDctPairAvx2(const int16_t* first, uint8_t* firstSamples, const int16_t* second,
                        uint8_t* secondSamples) {
    int16_t work[64];
    std::memcpy(work, first, sizeof work);
    InverseDct(work, firstSamples);
    std::memcpy(work, second, sizeof work);
    InverseDct(work, secondSamples);
}
#endif

namespace {

// A block whose only coefficient is its DC: the transform gives one value.
inline void FlatBlock(int16_t dc, uint8_t* samples) {
    int16_t rowValue = Low16(static_cast<uint32_t>(static_cast<int32_t>(dc)) << 2);
    std::memset(samples, Clamp255(((rowValue + 16) >> 5) + 128), 64);
}

} // namespace

#if defined(PIXMORA_JPEG_AVX2)
namespace {

// InverseDctMcuRow with AVX2: the blocks that need the transform go through
// it two at a time.
PIXMORA_AVX2 void InverseDctMcuRowAvx2(JpegDecoder& d) {
    int32_t waiting = -1;
    for (int32_t i = 0; i < d.blocksPerMcuRow; ++i) {
        if (d.needBlock && !d.needBlock[i]) continue;
        const int16_t* block = d.blockStore + 64 * i;
        if (d.blockEnd[i] <= 1) {
            FlatBlock(block[0], d.sampleBuffer + 64 * i);
        } else if (waiting < 0) {
            waiting = i;
        } else {
            IdctPair(d.blockStore + 64 * waiting, d.sampleBuffer + 64 * waiting, block,
                     d.sampleBuffer + 64 * i);
            waiting = -1;
        }
    }
    if (waiting >= 0) InverseDctSimd(d.blockStore + 64 * waiting, d.sampleBuffer + 64 * waiting);
}

} // namespace
#endif

void InverseDctMcuRow(JpegDecoder& d) {
#if defined(PIXMORA_JPEG_AVX2)
    if (d.simd >= kJpegSimdAvx2) {
        InverseDctMcuRowAvx2(d);
        return;
    }
#endif
    // Positions at or beyond a block's end position are zero, so a block
    // ending at 1 holds its DC alone.
    for (int32_t i = 0; i < d.blocksPerMcuRow; ++i) {
        if (d.needBlock && !d.needBlock[i]) continue;
        const int16_t* block = d.blockStore + 64 * i;
        if (d.blockEnd[i] <= 1) {
            FlatBlock(block[0], d.sampleBuffer + 64 * i);
            continue;
        }
#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
        InverseDctSimd(block, d.sampleBuffer + 64 * i);
#else
        std::memcpy(d.idctWork, block, sizeof d.idctWork);
        InverseDctScalar(d.idctWork, d.sampleBuffer + 64 * i);
#endif
    }
}

void AssembleMcuRowProgressive(JpegDecoder& d) {
    // Each coefficient times its table entry, low 16 bits kept. Zero stays
    // zero, so every position is multiplied (in natural order, eight at a
    // time where SSE2 is there); a component that no scan named has no
    // table to check, and its coefficients are all 0 and need none.
    alignas(16) int16_t natural[4][64];
    for (int t = 0; t < 4; ++t)
        if (d.quant[t])
            for (int k = 0; k < 64; ++k)
                natural[t][kZag[k]] = static_cast<int16_t>(d.quant[t][k]);
    int32_t i = 0;
    McuBlockWalk walk;
    for (int32_t m = 0; m < d.mcusPerRow; ++m) {
        if (JpegStop(d)) return;
        for (int j = 0; j < d.blocksPerMcu; ++j) {
            int c = d.mcuBlockList[j];
            const int tq = d.comp[c].tq;
            const int16_t* q = tq <= 3 && d.quant[tq] ? natural[tq] : nullptr;
            if (d.needBlock && !d.needBlock[i]) { // not reconstructed in a sampled decode
                ++i;
                walk.Step(d, c);
                continue;
            }
            int16_t* B = d.blockStore + 64 * i;
            int32_t bx = walk.Column(c), by = walk.Row(d.blockRowCounter, c);
            const int16_t* dc = CoefAt(d.dcCoef[c], bx, by);
            const int16_t* ac = CoefAt(d.acCoef[c], bx, by);
            if (dc && ac) {
                std::memcpy(B, ac, 128);
                B[0] = *dc;
            } else {
                std::memset(B, 0, 128);
            }
            bool anyAc = false;
#if defined(__SSE2__) && !defined(PIXMORA_JPEG_NO_SIMD)
            __m128i* v = reinterpret_cast<__m128i*>(B);
            __m128i any =
                _mm_and_si128(_mm_loadu_si128(v), _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));
            for (int r = 1; r < 8; ++r)
                any = _mm_or_si128(any, _mm_loadu_si128(v + r));
            anyAc = _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF;
            if (q)
                for (int r = 0; r < 8; ++r)
                    _mm_storeu_si128(
                        v + r,
                        _mm_mullo_epi16(_mm_loadu_si128(v + r),
                                        _mm_load_si128(reinterpret_cast<const __m128i*>(q) + r)));
#else
            for (int k = 1; k < 64; ++k)
                anyAc = anyAc || B[k] != 0;
            if (q)
                for (int k = 0; k < 64; ++k)
                    B[k] = Low16(static_cast<uint32_t>(static_cast<int32_t>(B[k])) *
                                 static_cast<uint16_t>(q[k]));
#endif
            // Only "DC alone or not" matters to the inverse DCT.
            d.blockEnd[i] = anyAc ? 64 : 1;
            ++i;
            walk.Step(d, c);
        }
    }
    NextBlockRow(d, d.blockRowCounter);
}

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
// Red, green and blue terms of 8 chroma pairs, as 16-bit values: exactly
// the table entries crToRed[cr], (cbToGreen[cb] + crToGreen[cr]) >> 16 and
// cbToBlue[cb] (45941 = 22970 + 22971 and 58065 = 29032 + 29033 keep the
// factors inside pmaddwd's 16-bit range).
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
    red = term(kr, kr, Pair(22970, 22971));
    blue = term(kb, kb, Pair(29032, 29033));
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

inline uint32_t Bgr(const JpegDecoder& d, int y, int cb, int cr) {
    uint32_t r = static_cast<uint32_t>(Clamp255(y + d.crToRed[cr]));
    uint32_t g = static_cast<uint32_t>(Clamp255(y + ((d.cbToGreen[cb] + d.crToGreen[cr]) >> 16)));
    uint32_t b = static_cast<uint32_t>(Clamp255(y + d.cbToBlue[cb]));
    return b | (g << 8) | (r << 16);
}

// The samples of one line of one MCU: the Y row of its left block and, in a
// 16-wide MCU, of its right block; the chroma rows (none for grey), one
// chroma sample per Y sample, or per two in a 16-wide MCU.
struct McuLine {
    const uint8_t* yLeft;
    const uint8_t* yRight; // nullptr: the MCU is 8 wide
    const uint8_t* cb;     // nullptr: grey
    const uint8_t* cr;
};

// The one place that knows where a line's samples lie in each layout (block
// order as in LayoutKind; blocks 64 bytes, rows 8 bytes).
inline McuLine LineOf(const JpegDecoder& d, const uint8_t* mcu, int row) {
    switch (d.layoutKind) {
    case kLayoutGray: return {mcu + 8 * row, nullptr, nullptr, nullptr};
    case kLayoutH1V1: return {mcu + 8 * row, nullptr, mcu + 64 + 8 * row, mcu + 128 + 8 * row};
    case kLayoutH2V1:
        return {mcu + 8 * row, mcu + 64 + 8 * row, mcu + 128 + 8 * row, mcu + 192 + 8 * row};
    case kLayoutH1V2: // rows 8..15 run on into the bottom Y block
        return {mcu + 8 * row, nullptr, mcu + 128 + 8 * (row >> 1), mcu + 192 + 8 * (row >> 1)};
    default: {
        const uint8_t* y = mcu + (row < 8 ? 0 : 128) + 8 * (row & 7);
        return {y, y + 64, mcu + 256 + 8 * (row >> 1), mcu + 320 + 8 * (row >> 1)};
    }
    }
}

// Pixel x of a line (x below the MCU's width).
inline uint32_t PixelOf(const JpegDecoder& d, const McuLine& l, int x) {
    const int y = x < 8 ? l.yLeft[x] : l.yRight[x - 8];
    if (!l.cb) return static_cast<uint32_t>(y) * 0x010101u;
    const int c = l.yRight ? x >> 1 : x;
    return Bgr(d, y, l.cb[c], l.cr[c]);
}

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

// ChromaTerms on two lines' chroma samples.
PIXMORA_AVX2 inline void ChromaTerms2(__m256i cb8, __m256i cr8, __m256i& red, __m256i& green,
                                      __m256i& blue) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i c255 = _mm256_set1_epi16(255);
    const __m256i kb =
        _mm256_sub_epi16(_mm256_slli_epi16(_mm256_unpacklo_epi8(cb8, zero), 1), c255);
    const __m256i kr =
        _mm256_sub_epi16(_mm256_slli_epi16(_mm256_unpacklo_epi8(cr8, zero), 1), c255);
    red = Term2(kr, kr, 22970, 22971);
    blue = Term2(kb, kb, 29032, 29033);
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
        // MCUs 8 pixels wide go two at a time, filling the vectors.
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

// ---- sampled decodes ----

bool PrepareSampling(JpegDecoder& d, const SampleMasks& masks) {
    const int32_t groups = d.frameMcusPerRow * (d.mcuWidth / 8);
    uint8_t* columns = static_cast<uint8_t*>(WorkAlloc(d, d.width));
    uint8_t* rows = static_cast<uint8_t*>(WorkAlloc(d, d.height));
    int32_t* list = static_cast<int32_t*>(WorkAlloc(d, 4 * static_cast<int64_t>(d.width)));
    uint8_t* group = static_cast<uint8_t*>(WorkAlloc(d, groups));
    uint8_t* blocks = static_cast<uint8_t*>(WorkAlloc(d, d.blocksPerMcuRow));
    if (!columns || !rows || !list || !group || !blocks || !masks.fill) return false;
    masks.fill(masks.context, d.width, d.height, columns, rows);
    int32_t n = 0;
    for (int32_t x = 0; x < d.width; ++x) {
        if (!columns[x]) continue;
        list[n++] = x;
        group[x / 8] = 1;
    }
    d.needColumn = columns;
    d.needRow = rows;
    d.neededColumns = list;
    d.neededColumnCount = n;
    d.needColumnGroup = group;
    d.needBlock = blocks;
    return true;
}

bool MarkNeededBlocks(JpegDecoder& d, int32_t firstRow, int32_t rows) {
    if (!d.needBlock) return true;
    // The two 8-line halves of a 16-line MCU row (one half when it is 8 high).
    bool half[2] = {false, false};
    for (int32_t line = 0; line < rows; ++line)
        if (d.needRow[firstRow + line]) half[line >> 3] = true;
    std::memset(d.needBlock, 0, static_cast<size_t>(d.blocksPerMcuRow));
    if (!half[0] && !half[1]) return false;
    // The Y blocks of an MCU lie h across and v down (LayoutKind); each
    // chroma block covers the whole MCU.
    const int h = d.mcuWidth / 8, v = d.mcuHeight / 8;
    const int yBlocks = h * v;
    bool any = false;
    for (int32_t m = 0; m < d.frameMcusPerRow; ++m) {
        const uint8_t* columns = d.needColumnGroup + h * m;
        const bool mcuColumns = columns[0] || (h == 2 && columns[1]);
        if (!mcuColumns) continue;
        uint8_t* need = d.needBlock + static_cast<size_t>(m) * d.frameBlocksPerMcu;
        for (int j = 0; j < d.frameBlocksPerMcu; ++j) {
            need[j] = j < yBlocks ? columns[j % h] && half[j / h] : 1;
            any = any || need[j];
        }
    }
    return any;
}

bool WriteSampledRows(JpegDecoder& d, int32_t firstRow, int32_t rows) {
    LoadBuffers& lb = *d.buffers;
    const int32_t mcuBytes = 64 * d.frameBlocksPerMcu;
    const int shift = d.mcuWidth == 16 ? 4 : 3;
    for (int32_t line = 0; line < rows; ++line) {
        if (JpegStop(d)) return false;
        if (!d.needRow[firstRow + line]) continue;
        uint8_t* out = RasterRow(lb, d.height - 1 - (firstRow + line));
        if (!out) return false;
        for (int32_t k = 0; k < d.neededColumnCount; ++k) {
            const int32_t x = d.neededColumns[k];
            const int32_t m = x >> shift;
            const McuLine l = LineOf(d, d.sampleBuffer + static_cast<size_t>(m) * mcuBytes, line);
            const uint32_t px = PixelOf(d, l, x - (m << shift));
            uint8_t* p = out + 3 * static_cast<size_t>(x);
            p[0] = static_cast<uint8_t>(px);
            p[1] = static_cast<uint8_t>(px >> 8);
            p[2] = static_cast<uint8_t>(px >> 16);
        }
    }
    return true;
}
