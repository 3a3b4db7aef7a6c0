// Numbers as the x87 rounds them in extended precision, in integers: a
// positive number m * 2^e with 2^63 <= m < 2^64, every result rounded to
// nearest, ties to even. Rules first written in long double (the stretch's
// scale, the thumbnail's place) keep their bytes through these on every
// target, whatever the processor's precision setting.
#pragma once

#include <cstdint>

struct Extended {
    uint64_t m;
    int e;
};

// v exactly (v > 0).
Extended ExactExtended(uint64_t v);
// a / b (both above 0), rounded.
Extended ExtendedRatio(uint32_t a, uint32_t b);
// a / b and a * b, rounded.
Extended ExtendedQuotient(Extended a, Extended b);
Extended ExtendedProduct(Extended a, Extended b);
// x truncated to a whole number (x < 2^31).
int32_t TruncatedExtended(Extended x);
// x rounded to single precision: mantissa * 2^exponent, 2^23 <= mantissa < 2^24.
void RoundedToFloat(Extended x, uint32_t& mantissa, int& exponent);
