// Reconstruction: progressive assembly, the integer inverse DCT, the colour
// tables, the five row converters and row production.
#include <cstring>

#include "codecs/jpeg_decoder.h"

namespace {

inline int16_t Low16(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

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

}  // namespace

void InverseDct(int16_t* work, uint8_t* samples) {
    int32_t in[8], out[8];
    // Rows first, keeping two extra bits of precision in the 16-bit work block.
    for (int r = 0; r < 8; ++r) {
        int16_t* row = work + 8 * r;
        if ((row[1] | row[2] | row[3] | row[4] | row[5] | row[6] | row[7]) == 0) {
            int16_t dc = Low16(static_cast<uint32_t>(static_cast<int32_t>(row[0])) << 2);
            for (int i = 0; i < 8; ++i) row[i] = dc;
            continue;
        }
        for (int i = 0; i < 8; ++i) in[i] = row[i];
        IdctCore(in, 1, out);
        for (int i = 0; i < 8; ++i)
            row[i] = Low16(static_cast<uint32_t>((static_cast<int32_t>(static_cast<uint32_t>(out[i]) + 1024u)) >> 11));
    }
    // Then columns, down to samples centred on 128.
    for (int c = 0; c < 8; ++c) {
        const int16_t* col = work + c;
        if ((col[8] | col[16] | col[24] | col[32] | col[40] | col[48] | col[56]) == 0) {
            uint8_t v = static_cast<uint8_t>(Clamp255(((col[0] + 16) >> 5) + 128));
            for (int r = 0; r < 8; ++r) samples[8 * r + c] = v;
            continue;
        }
        for (int i = 0; i < 8; ++i) in[i] = col[8 * i];
        IdctCore(in, 1, out);
        for (int r = 0; r < 8; ++r)
            samples[8 * r + c] = static_cast<uint8_t>(Clamp255(
                (static_cast<int32_t>(static_cast<uint32_t>(out[r]) + 131072u) >> 18) + 128));
    }
}

void InverseDctMcuRow(JpegDecoder& d) {
    for (int32_t i = 0; i < d.blocksPerMcuRow; ++i) {
        if (JpegStop(d)) return;
        std::memcpy(d.idctWork, d.blockStore + 64 * i, sizeof d.idctWork);
        InverseDct(d.idctWork, d.sampleBuffer + 64 * i);
    }
}

void AssembleMcuRowProgressive(JpegDecoder& d) {
    int32_t i = 0;
    int32_t x[4] = {0, 0, 0, 0};
    for (int32_t m = 0; m < d.mcusPerRow; ++m) {
        if (JpegStop(d)) return;
        int dx = 0, dy = 0;
        for (int j = 0; j < d.blocksPerMcu; ++j) {
            int c = d.mcuBlockList[j];
            // A component that no scan named has no table to check; its
            // coefficients are all 0 and need none.
            const int tq = d.comp[c].tq;
            const uint16_t* q = tq <= 3 ? d.quant[tq] : nullptr;
            int16_t* B = d.blockStore + 64 * i;
            int32_t bx = x[c] + dx, by = d.blockRowCounter[c] + dy;
            const int16_t* dc = CoefAt(d.dcCoef[c], bx, by);
            const int16_t* ac = CoefAt(d.acCoef[c], bx, by);
            if (dc && ac) {
                std::memcpy(B, ac, 128);
                B[0] = *dc;
            } else {
                std::memset(B, 0, 128);
            }
            int n = 0;
            for (int k = 63; k >= 1; --k) {
                if (B[kZag[k]] != 0) {
                    n = k;
                    break;
                }
            }
            for (int k = n; k >= 0 && q; --k) {
                int16_t& v = B[kZag[k]];
                if (v != 0) v = Low16(static_cast<uint32_t>(static_cast<int32_t>(v)) * q[k]);
            }
            ++i;
            if (d.scanCount == 1) {
                x[c] += 1;
            } else if (++dx >= d.comp[c].h) {
                dx = 0;
                if (++dy >= d.comp[c].v) {
                    dy = 0;
                    x[c] += d.comp[c].h;
                }
            }
        }
    }
    if (d.scanCount == 1) {
        d.blockRowCounter[d.scanComp[0]] += 1;
    } else {
        for (int k = 0; k < d.scanCount; ++k) d.blockRowCounter[d.scanComp[k]] += d.comp[d.scanComp[k]].v;
    }
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

namespace {

inline void PutRgb(const JpegDecoder& d, uint8_t* out, int y, int cb, int cr) {
    out[0] = static_cast<uint8_t>(Clamp255(y + d.crToRed[cr]));
    out[1] = static_cast<uint8_t>(Clamp255(y + ((d.cbToGreen[cb] + d.crToGreen[cr]) >> 16)));
    out[2] = static_cast<uint8_t>(Clamp255(y + d.cbToBlue[cb]));
}

}  // namespace

void ConvertRowGray(JpegDecoder& d, int row) {
    uint8_t* out = d.rowBuffer[0];
    const uint8_t* s = d.sampleBuffer + 8 * row;
    for (int32_t m = 0; m < d.frameMcusPerRow; ++m, s += 64, out += 8) std::memcpy(out, s, 8);
}

void ConvertRowH1V1(JpegDecoder& d, int row) {
    uint8_t* out = d.rowBuffer[0];
    const uint8_t* mcu = d.sampleBuffer;
    for (int32_t m = 0; m < d.frameMcusPerRow; ++m, mcu += 192) {
        const uint8_t* y = mcu + 8 * row;
        const uint8_t* cb = mcu + 64 + 8 * row;
        const uint8_t* cr = mcu + 128 + 8 * row;
        for (int x = 0; x < 8; ++x, out += 4) PutRgb(d, out, y[x], cb[x], cr[x]);
    }
}

void ConvertRowH2V1(JpegDecoder& d, int row) {
    uint8_t* out = d.rowBuffer[0];
    const uint8_t* mcu = d.sampleBuffer;
    for (int32_t m = 0; m < d.frameMcusPerRow; ++m, mcu += 256) {
        const uint8_t* cb = mcu + 128 + 8 * row;
        const uint8_t* cr = mcu + 192 + 8 * row;
        for (int x = 0; x < 16; ++x, out += 4) {
            const uint8_t* y = mcu + (x < 8 ? 0 : 64) + 8 * row;
            PutRgb(d, out, y[x & 7], cb[x >> 1], cr[x >> 1]);
        }
    }
}

void ConvertRowH1V2(JpegDecoder& d, int row) {
    uint8_t* out0 = d.rowBuffer[0];
    uint8_t* out1 = d.rowBuffer[1];
    const uint8_t* mcu = d.sampleBuffer;
    for (int32_t m = 0; m < d.frameMcusPerRow; ++m, mcu += 256) {
        // Rows 0..7 come from the top Y block, 8..15 from the bottom one.
        const uint8_t* y0 = mcu + 8 * row;  // row < 8: top block; else bottom block row - 8
        const uint8_t* y1 = y0 + 8;
        const uint8_t* cb = mcu + 128 + 8 * (row >> 1);
        const uint8_t* cr = mcu + 192 + 8 * (row >> 1);
        for (int x = 0; x < 8; ++x, out0 += 4, out1 += 4) {
            PutRgb(d, out0, y0[x], cb[x], cr[x]);
            PutRgb(d, out1, y1[x], cb[x], cr[x]);
        }
    }
}

void ConvertRowH2V2(JpegDecoder& d, int row) {
    uint8_t* out0 = d.rowBuffer[0];
    uint8_t* out1 = d.rowBuffer[1];
    const uint8_t* mcu = d.sampleBuffer;
    // The top blocks' rows are 0..7, the bottom blocks' 8..15: the bottom
    // pair starts 128 bytes after the top pair.
    const int blockBase = row < 8 ? 0 : 128;
    const int r = row & 7;
    for (int32_t m = 0; m < d.frameMcusPerRow; ++m, mcu += 384) {
        const uint8_t* cb = mcu + 256 + 8 * (row >> 1);
        const uint8_t* cr = mcu + 320 + 8 * (row >> 1);
        for (int x = 0; x < 16; ++x, out0 += 4, out1 += 4) {
            const uint8_t* y = mcu + blockBase + (x < 8 ? 0 : 64) + 8 * r;
            PutRgb(d, out0, y[x & 7], cb[x >> 1], cr[x >> 1]);
            PutRgb(d, out1, y[8 + (x & 7)], cb[x >> 1], cr[x >> 1]);
        }
    }
}

const uint8_t* ProduceRow(JpegDecoder& d, int32_t* length) {
    if (d.rowsLeft <= 0) return nullptr;
    if (d.rowsLeftInMcuRow == 0) {
        if (d.progressive) AssembleMcuRowProgressive(d);
        else DecodeMcuRowSequential(d);
        InverseDctMcuRow(d);
        d.rowsLeftInMcuRow = d.mcuHeight;
    }
    int row = d.mcuHeight - d.rowsLeftInMcuRow;
    const uint8_t* delivered = d.rowBuffer[0];
    switch (d.layoutKind) {
        case kLayoutGray: ConvertRowGray(d, row); break;
        case kLayoutH1V1: ConvertRowH1V1(d, row); break;
        case kLayoutH2V1: ConvertRowH2V1(d, row); break;
        case kLayoutH1V2:
        case kLayoutH2V2:
            if (d.rowsLeftInMcuRow & 1) {
                delivered = d.rowBuffer[1];
            } else if (d.layoutKind == kLayoutH1V2) {
                ConvertRowH1V2(d, row);
            } else {
                ConvertRowH2V2(d, row);
            }
            break;
        default: return nullptr;
    }
    d.rowsLeftInMcuRow -= 1;
    d.rowsLeft -= 1;
    *length = d.rowLength;
    return delivered;
}
