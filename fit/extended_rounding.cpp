#include "fit/extended_rounding.h"

namespace {

Extended Rounded(uint64_t m, int e, bool half, bool rest) {
    if (half && (rest || (m & 1))) {
        if (++m == 0) {
            m = uint64_t{1} << 63;
            ++e;
        }
    }
    return {m, e};
}

int LeadingZeros(uint64_t v) { // v > 0
    return __builtin_clzll(v);
}

} // namespace

Extended ExactExtended(uint64_t v) {
    const int shift = LeadingZeros(v);
    return {v << shift, -shift};
}

Extended ExtendedRatio(uint32_t a, uint32_t b) {
    // The mantissa of a times 2^64, divided by b in 32-bit digits: each step
    // divides less than 2^64 by b, and what remains is below b.
    const Extended x = ExactExtended(a);
    const uint64_t high = x.m / b;
    uint64_t rest = x.m % b;
    const uint64_t q1 = (rest << 32) / b;
    rest = (rest << 32) % b;
    const uint64_t q0 = (rest << 32) / b;
    rest = (rest << 32) % b;
    // The quotient high * 2^64 + q1 * 2^32 + q0 (high >= 2^31), cut to 64 bits.
    const uint64_t low = q1 << 32 | q0;
    const int shift = LeadingZeros(high);
    const uint64_t m = shift ? high << shift | low >> (64 - shift) : high;
    const uint64_t below = low << shift;
    return Rounded(m, x.e - shift, (below >> 63) != 0, (below << 1) != 0 || rest != 0);
}

Extended ExtendedQuotient(Extended a, Extended b) {
    // The quotient of the mantissas lies in (1/2, 2): its bits are taken from
    // the units' place down, one per step, until 64 bits and the rounding
    // bit are known; what remains decides ties.
    uint64_t rest = a.m, m = 0;
    bool carry = false, half = false; // the remainder is carry * 2^64 + rest, below 2 b
    int bits = 0, first = 0;
    for (int place = 0; bits < 65; ++place) {
        const bool bit = carry || rest >= b.m;
        if (bit) rest -= b.m; // the true remainder minus b is below 2^64
        if (bits == 0 && bit) first = place;
        if (bits > 0 || bit) {
            if (bits < 64)
                m = m << 1 | static_cast<uint64_t>(bit);
            else
                half = bit;
            ++bits;
        }
        carry = (rest >> 63) != 0;
        rest <<= 1;
    }
    return Rounded(m, a.e - b.e - first - 63, half, carry || rest != 0);
}

Extended ExtendedProduct(Extended a, Extended b) {
    // The 128-bit product of the mantissas from 32-bit halves.
    const uint64_t a1 = a.m >> 32, a0 = a.m & 0xFFFFFFFFu, b1 = b.m >> 32, b0 = b.m & 0xFFFFFFFFu;
    const uint64_t low = a0 * b0, mid1 = a1 * b0, mid2 = a0 * b1;
    const uint64_t middle = (low >> 32) + (mid1 & 0xFFFFFFFFu) + (mid2 & 0xFFFFFFFFu);
    uint64_t hi = a1 * b1 + (mid1 >> 32) + (mid2 >> 32) + (middle >> 32);
    uint64_t lo = (middle << 32) | (low & 0xFFFFFFFFu);
    int e = a.e + b.e + 64;
    if (!(hi >> 63)) { // the product is below 2^127
        hi = hi << 1 | lo >> 63;
        lo <<= 1;
        --e;
    }
    return Rounded(hi, e, (lo >> 63) != 0, (lo << 1) != 0);
}

int32_t TruncatedExtended(Extended x) {
    return x.e <= -64 ? 0 : static_cast<int32_t>(x.m >> -x.e);
}

void RoundedToFloat(Extended x, uint32_t& mantissa, int& exponent) {
    uint64_t keep = x.m >> 40; // 24 of the 64 bits
    const uint64_t dropped = x.m & ((uint64_t{1} << 40) - 1), half = uint64_t{1} << 39;
    exponent = x.e + 40;
    if (dropped > half || (dropped == half && (keep & 1))) {
        if (++keep == (uint64_t{1} << 24)) {
            keep = uint64_t{1} << 23;
            ++exponent;
        }
    }
    mantissa = static_cast<uint32_t>(keep);
}
