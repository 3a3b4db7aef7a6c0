// Forward DCT and quantisation of one 8 x 8 block (SSE2 and portable).
// Static inline: the scan loop in jpeg_encoder.cpp inlines the transform.
#pragma once

#include "export/jpeg_encoder_internal.h"

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
static inline void AanForward4(__m128 v[8]) {
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
static inline void TransposeTwo(const __m128* a, const __m128* b, __m128 out[8]) {
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
static inline __m128i QuantiseFour(__m128 v, const float* divisor) {
    __m128 p = _mm_mul_ps(v, _mm_loadu_ps(divisor));
    __m128i r = _mm_cvtps_epi32(p);
    __m128 tie = _mm_cmpeq_ps(_mm_sub_ps(p, _mm_cvtepi32_ps(r)), _mm_set1_ps(0.5f));
    return _mm_sub_epi32(r, _mm_castps_si128(tie)); // a true mask is -1
}

// DCT, quantisation and rounding of one 8 x 8 block of samples, rows
// `stride` floats apart, with the block in registers. Transposed four rows
// at a time, each row lies down a lane, so one pass transforms four rows;
// transposed back, the columns are transformed four at a time likewise.
static inline void TransformBlock(const float* samples, int stride, const float divisor[64],
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
static inline void AanForward(float* d, int step) {
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

static inline int16_t RoundCoefficient(float product) {
    double sum = static_cast<double>(product) + 16384.5;
    return static_cast<int16_t>(static_cast<int32_t>(sum) - 16384);
}

// DCT, quantisation and rounding of one 8 x 8 block of samples, rows
// `stride` floats apart.
static inline void TransformBlock(const float* samples, int stride, const float divisor[64],
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
