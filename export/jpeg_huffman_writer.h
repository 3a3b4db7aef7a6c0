// The encoder's output: the byte and bit writer, and the Huffman coding of
// one block. Static inline: the scan loop in jpeg_encoder.cpp inlines it.
#pragma once

#include "export/jpeg_encoder_internal.h"

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

// ---- Entropy coding ----

// The Huffman code of a value's category followed by the value's
// additional bits, as one bit string (at most 16 + 15 bits).
static inline void PutValue(ByteSink& s, const EncoderTables& t, const HuffmanCodes& h,
                            int symbolBase, int value) {
    int cat = t.category[kValueRange + value];
    int symbol = symbolBase + cat;
    s.Bits(static_cast<uint32_t>(h.code[symbol]) << cat | t.extraBits[kValueRange + value],
           h.length[symbol] + cat);
}

// Bit i set when coefficient i (natural order) is not 0.
static inline uint64_t NonZeroMask(const int16_t natural[64]) {
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
static inline uint64_t ZigzagMask(const EncoderTables& t, uint64_t natural) {
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
static inline void EncodeCoefficients(ByteSink& s, const EncoderTables& t,
                                      const int16_t natural[64], int16_t& predictor, int table) {
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

static inline void EncodeBlock(ByteSink& s, const EncoderTables& t, const int16_t natural[64],
                               int16_t& predictor, int table) {
    // Bits go through a local copy of the writer: the compiler cannot keep
    // the writer's fields in registers while bytes are stored through `out`.
    ByteSink local = s;
    EncodeCoefficients(local, t, natural, predictor, table);
    s = local;
}
