// The entropy decoders' bit reader (jpeg_entropy.cpp: sequential rows and
// restarts; jpeg_progressive.cpp: the progressive procedures), kept in
// locals while an MCU row or a progressive scan is decoded. Everything here
// is inline so each decoding loop keeps it in registers.
#pragma once

#include <cstring>

#include "codecs/jpeg_decoder.h"

namespace jpeg_entropy {

inline int16_t Low16(uint32_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(v));
}

// Threshold 2^(s-1) and offset 1 - 2^s of a magnitude category.
constexpr int32_t kExtendThreshold[16] = {0,   1,   2,   4,    8,    16,   32,   64,
                                          128, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr int32_t kExtendOffset[16] = {0,    -1,   -3,    -7,    -15,   -31,   -63,    -127,
                                       -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

// The bit reader. Bytes are fetched one at a time (FF 00 counts as one
// byte FF) into a 64-bit buffer, topped up to more than 56 bits whenever
// fewer than 32 are left, so a code and its extra bits never need a refill
// in between. The bits delivered are those of the byte stream in order,
// whatever the buffer size; past the readable data every byte is 0.
struct BitReader {
    uint64_t buffer;
    int32_t count;
    int32_t pos;
    int32_t length;
    const uint8_t* data;
    uint32_t fetchCount;
    int32_t fetchStart[16];
    int32_t virtualPending;
    // The last `plain` fetches were whole plain bytes just before pos, one
    // file byte each; their slots of fetchStart are written only when they
    // may be read (WritePlain), not on every refill.
    int32_t plain = 0;

    explicit BitReader(const JpegDecoder& d)
        : buffer(d.bitBuffer), count(d.bitCount), pos(d.buffers->readPosition),
          length(d.buffers->dataLength), data(d.buffers->fileBuffer), fetchCount(d.fetchCount),
          virtualPending(d.virtualPending) {
        for (int i = 0; i < 16; ++i)
            fetchStart[i] = d.fetchStart[i];
    }
    void WritePlain() {
        const int32_t n = plain < 16 ? plain : 16;
        for (int32_t i = 1; i <= n; ++i)
            fetchStart[(fetchCount - i) & 15] = pos - i;
        plain = 0;
    }
    void Store(JpegDecoder& d) {
        WritePlain();
        d.bitBuffer = buffer;
        d.bitCount = count;
        d.buffers->readPosition = pos;
        d.fetchCount = fetchCount;
        d.virtualPending = virtualPending;
        for (int i = 0; i < 16; ++i)
            d.fetchStart[i] = fetchStart[i];
    }
    // Places the zero bytes a rewind left just before the current position.
    void AnchorVirtual() {
        for (int i = 1; i <= virtualPending; ++i)
            fetchStart[(fetchCount - i) & 15] = pos - i;
        virtualPending = 0;
    }
    inline uint32_t Fetch() {
        fetchStart[fetchCount++ & 15] = pos;
        if (pos < 0 || pos >= length) return 0;
        uint32_t b = data[pos++];
        // A stuffed zero after FF is not data. The padding keeps this peek
        // inside written bytes.
        if (b == 0xFF && pos < length && data[pos] == 0) ++pos;
        return b;
    }
    // Every user takes at most 31 bits (a code of up to 16 and up to 15
    // extra bits) before calling Fill again.
    inline void Fill() {
        if (count >= 32) return;
        if (virtualPending) AnchorVirtual();
        // Common case: eight plain bytes ahead, none of them FF: take as
        // many whole bytes as fit in one step.
        if (pos >= 0 && pos + 8 <= length) {
            uint64_t w;
            std::memcpy(&w, data + pos, 8);
            const uint64_t x = ~w; // a zero byte here is an FF byte there
            if (((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) == 0) {
                const int n = (64 - count) >> 3;
                uint64_t be = __builtin_bswap64(w); // the file's bytes, first on top
                be &= ~0ull << (64 - 8 * n);
                buffer |= be >> count;
                fetchCount += n;
                pos += n;
                plain += n;
                count += 8 * n;
                return;
            }
        }
        if (plain) WritePlain();
        while (count <= 56) {
            buffer |= static_cast<uint64_t>(Fetch()) << (56 - count);
            count += 8;
        }
    }
    // Fill for a loop that takes a few short codes between calls: tops the
    // buffer up to more than 55 bits every time, so the loop calls it on a
    // fixed beat instead of testing the count before each code (a test
    // whose outcome follows the data, and so is often mispredicted).
    inline void TopUp() {
        if (count > 55) return;
        if (virtualPending) AnchorVirtual();
        if (pos >= 0 && pos + 8 <= length) {
            uint64_t w;
            std::memcpy(&w, data + pos, 8);
            const uint64_t x = ~w;
            if (((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) == 0) {
                const int n = (63 - count) >> 3; // 1..7 whole bytes
                uint64_t be = __builtin_bswap64(w);
                be &= ~0ull << (64 - 8 * n);
                buffer |= be >> count;
                fetchCount += n;
                pos += n;
                plain += n;
                count += 8 * n;
                return;
            }
        }
        if (plain) WritePlain();
        while (count <= 56) {
            buffer |= static_cast<uint64_t>(Fetch()) << (56 - count);
            count += 8;
        }
    }
    inline void Consume(int n) {
        buffer <<= n;
        count -= n;
    }
    inline uint32_t Bits(int n) { // n = 1..16, count >= n
        uint32_t v = static_cast<uint32_t>(buffer >> (64 - n));
        Consume(n);
        return v;
    }
    inline int32_t Extend(int s) {
        if (s == 0) return 0;
        int32_t v = static_cast<int32_t>(Bits(s));
        return v < kExtendThreshold[s] ? v + kExtendOffset[s] : v;
    }
    // Codes of up to kHuffFastBits bits in one step; longer ones (and bit
    // patterns that are no code) walk the lookup: 8 bits into the first
    // level, then one bit per tree step. Needs count >= 32.
    inline int Symbol(const HuffLookupBlock& t, const JpegDecoder& d) {
        const HuffFast f = t.fast[buffer >> (64 - kHuffFastBits)];
        if (f.len) {
            Consume(f.len);
            return f.symbol;
        }
        const uint8_t* codeLength = reinterpret_cast<const uint8_t*>(t.lookup + 256);
        int32_t v = t.lookup[buffer >> 56];
        if (v >= 0) {
            Consume(codeLength[v]); // a pattern that is no code takes symbol 0's length
            return v;
        }
        Consume(8);
        while (v < 0) {
            if (JpegStop(d)) return 0;
            int b = static_cast<int>(Bits(1));
            v = t.lookup[kHuffTreeBase - v - b];
        }
        return v;
    }
};

// A DC difference category comes from the file and may exceed 15 in a
// malformed table; such a symbol counts as category 0.
inline int DcCategory(int s) {
    return s > 15 ? 0 : s;
}

} // namespace jpeg_entropy
