// The integer inverse DCT: plain, SSE2 and two blocks at once with AVX2,
// and one MCU row's blocks through it into the sample buffer.
#include "codecs/jpeg_reconstruct_internal.h"

#include <cstring>

namespace {

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

// The low 16 bits of each 32-bit lane shifted right by 11, sign-extended
// so the pack cannot saturate: those are bits 11..26 of the lane, which
// one shift left by 5 and one arithmetic shift right by 16 give.
inline __m128i Shift11Low16Pack(__m128i lo, __m128i hi) {
    lo = _mm_srai_epi32(_mm_slli_epi32(lo, 5), 16);
    hi = _mm_srai_epi32(_mm_slli_epi32(hi, 5), 16);
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
        r[j] = Shift11Low16Pack(_mm_add_epi32(lo.v[j], round1), _mm_add_epi32(hi.v[j], round1));
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

PIXMORA_AVX2 inline __m256i Shift11Low16Pack2(__m256i lo, __m256i hi) {
    lo = _mm256_srai_epi32(_mm256_slli_epi32(lo, 5), 16);
    hi = _mm256_srai_epi32(_mm256_slli_epi32(hi, 5), 16);
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
        r[j] =
            Shift11Low16Pack2(_mm256_add_epi32(lo.v[j], round1), _mm256_add_epi32(hi.v[j], round1));
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
    std::memset(samples, FlatSample(dc), 64);
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
